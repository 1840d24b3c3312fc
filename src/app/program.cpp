#include "app/program.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>
#include <memory>

#include "app/demo_line.h"
#include "app/dialogs.h"
#include "app/help_window.h"
#include "app/hints.h"
#include "app/main_screen.h"
#include "app/open_fax_file.h"
#include "app/program_dir.h"
#include "app/quit_on_signal.h"
#include "app/single_instance.h"
#include "app/view_work_dir.h"
#include "app/window_placement.h"
#include "comm/device_layer.h"
#include "comm/main_thread_qt.h"
#include "compose/shipped_covers.h"
#include "settings/settings.h"

namespace kv {

namespace {
// Fax files named on the command line, with full paths: the running instance may have another
// working directory.
QStringList filesToOpen() {
  QStringList files;
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i)
    if (!args[i].startsWith('-')) files << QFileInfo(args[i]).absoluteFilePath();
  return files;
}

// Once the event loop runs, so that the main window is up beneath the viewer.
void openLater(TMainScreen &main, const QString &path) {
  QTimer::singleShot(0, &main, [&main, path] { OpenFaxInViewer(&main, path); });
}

// To the right of `main` where the screen has room, else at the screen's right edge over the
// main window's right part, on top either way.
void placeBeside(QWidget *w, const QWidget &main) {
  const QRect screen = main.screen()->availableGeometry();
  const QRect m = main.frameGeometry();
  const int width = w->frameGeometry().width();
  const int x = std::min(m.right() + 1, screen.right() + 1 - width);
  w->move(std::max(x, screen.left()), m.top());
  w->raise();
}
}  // namespace

int RunKorvane(QApplication &app) {
  const bool demo = QCoreApplication::arguments().contains("--demo");
  // The demo is an instance of its own: it runs beside the user's, on its own files.
  const QString exeName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  TPreviousInstance previous(demo ? exeName + "-demo" : exeName);
  TJustOne justOne(previous);
  const QStringList files = filesToOpen();
  if (previous.existed()) {
    // A second start only brings the running instance forward (with the files it was given to
    // open), without a message.
    return justOne.raisePrevious(files) ? 0 : 1;
  }
  // Work copies of runs that were killed go now; this run's go with it.
  TViewWorkDir::RemoveStale(QDir::tempPath());
  QApplication::setApplicationName("Korvane");
  // No display name: it would be added to every caption, and the main window's caption is
  // already the program's name ("Korvane - Korvane").
  // Desktops find the program's icon and menu entry through its desktop file's name.
  QGuiApplication::setDesktopFileName("korvane");
  Hints::install(app);
  // Serial events reach the windows through the event loop.
  QtMainThread mainThread;
  MainThread::install(&mainThread);
  // Port numbers name devices through the settings file in the program directory (the demo's
  // own when it runs).
  SetPortDeviceResolver(
      [](int n) { return portDeviceName(settingsFilePath(ProgramDir().toStdString()), n); });
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
  std::unique_ptr<TDemoLine> demoLine;
  if (demo) {
    demoLine = std::make_unique<TDemoLine>(ProgramDir());
    QString error;
    if (!demoLine->Start(error)) {
      Dialogs::error(nullptr, error);
      return 1;
    }
    SetProgramDir(demoLine->dir());
  }
  TMainScreen main;
  // The user has been told; without its tables the program has nothing to show.
  if (main.StartFailed()) return 1;
  // A desktop logging out (SIGHUP) or a kill (SIGTERM) closes the tables as Exit does.
  TQuitOnSignal quitOnSignal([&main] { main.QuitWithoutQuestions(); });
  justOne.serve(&main);
  QObject::connect(&justOne, &TJustOne::openRequested, &main,
                   [&main](const QString &path) { openLater(main, path); });
  if (demoLine) {
    // The demo's settings come ready-made, so its start is no first start: it gets the shipped
    // cover templates here, for the user to try one.
    if (QString why; !AddShippedCovers(main.Records, why) || !why.isEmpty())
      Dialogs::information(&main, why + ".");
    main.setWindowTitle(main.windowTitle() + "- demo on a simulated line");
    demoLine->AddMenuEntry(main);
    // What the far end received is shown as it would be printed there.
    QObject::connect(demoLine.get(), &TDemoLine::farReceived, &main,
                     [&main](const QString &tiff) { openLater(main, tiff); });
  }
  main.show();
  // The demo's walk-through beside the window it is about, once that is up.
  if (demoLine)
    QTimer::singleShot(
        0, &main, [&main] { placeBeside(THelpWindow::showTopic(TDemoLine::kHelpTopic), main); });
  for (const QString &f : files) openLater(main, f);
  return app.exec();
}

}  // namespace kv
