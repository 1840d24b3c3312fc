// The Korvane program: one instance per user, one main window.
#include <QApplication>
#include <QFileInfo>

#include "app/hints.h"
#include "app/main_screen.h"
#include "app/single_instance.h"

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  kv::TPreviousInstance previous(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  kv::TJustOne justOne(previous);
  if (previous.existed()) {
    // A second start only brings the running instance forward, without a message.
    return justOne.raisePrevious() ? 0 : 1;
  }
  QApplication::setApplicationName("Korvane");
  QApplication::setApplicationDisplayName("Korvane");
  kv::Hints::install(app);
  kv::TMainScreen main;
  justOne.serve(&main);
  main.show();
  return app.exec();
}
