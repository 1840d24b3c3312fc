// The Korvane program: one instance per user, one main window.
#include <QApplication>
#include <QFileInfo>

#include "app/dialogs.h"
#include "app/hints.h"
#include "app/main_screen.h"
#include "app/single_instance.h"
#include "app/window_placement.h"
#include "comm/main_thread_qt.h"

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
  // Serial events reach the windows through the event loop.
  kv::QtMainThread mainThread;
  kv::MainThread::install(&mainThread);
  struct Uninstall {
    ~Uninstall() { kv::MainThread::install(nullptr); }
  } uninstall;
  // An error escaping an event handler is shown to the user, not lost on a terminal.
  kv::MainThread::setExceptionReporter([](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception &x) {
      kv::Dialogs::error(kv::MainWindow(), QString::fromLocal8Bit(x.what()));
    } catch (...) {
      kv::Dialogs::error(kv::MainWindow(), "Unknown error");
    }
  });
  kv::TMainScreen main;
  justOne.serve(&main);
  main.show();
  return app.exec();
}
