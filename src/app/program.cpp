#include "app/program.h"

#include <QApplication>
#include <QFileInfo>

#include "app/dialogs.h"
#include "app/hints.h"
#include "app/main_screen.h"
#include "app/single_instance.h"
#include "app/window_placement.h"
#include "comm/device_layer.h"
#include "comm/main_thread_qt.h"
#include "settings/settings.h"

namespace kv {

int RunKorvane(QApplication &app) {
  TPreviousInstance previous(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  TJustOne justOne(previous);
  if (previous.existed()) {
    // A second start only brings the running instance forward, without a message.
    return justOne.raisePrevious() ? 0 : 1;
  }
  QApplication::setApplicationName("Korvane");
  QApplication::setApplicationDisplayName("Korvane");
  Hints::install(app);
  // Serial events reach the windows through the event loop.
  QtMainThread mainThread;
  MainThread::install(&mainThread);
  // Port numbers name devices through the settings file beside the program.
  SetPortDeviceResolver(portDeviceBesideProgram);
  struct Uninstall {
    ~Uninstall() { MainThread::install(nullptr); }
  } uninstall;
  // An error escaping an event handler is shown to the user, not lost on a terminal.
  MainThread::setExceptionReporter([](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception &x) {
      Dialogs::error(MainWindow(), QString::fromLocal8Bit(x.what()));
    } catch (...) {
      Dialogs::error(MainWindow(), "Unknown error");
    }
  });
  TMainScreen main;
  // The user has been told; without its tables the program has nothing to show.
  if (main.StartFailed()) return 1;
  justOne.serve(&main);
  main.show();
  return app.exec();
}

}  // namespace kv
