#pragma once
// Shared by the application tests: one QApplication per test program and a private program
// directory per test.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>

#include "app/dialogs.h"
#include "app/program_dir.h"
#include "support/event_wait.h"

namespace kv::test {

inline QApplication &App() {
  static int argc = 1;
  static char name[] = "korvane-test";
  static char *argv[] = {name, nullptr};
  static QApplication *app = [] {
    QApplication::setApplicationName("Korvane");
    return new QApplication(argc, argv);
  }();
  return *app;
}

#ifdef KORVANE_BIN_DIR
// The real program under a name of its own in `dir`, with the files it ships beside it (a first
// start there finds its cover templates as in the build folder instead of asking about them).
inline bool CopyProgram(const QString &dir, const QString &name) {
  if (!QFile::copy(KORVANE_BIN_DIR "/korvane", dir + "/" + name)) return false;
  const QDir shipped(KORVANE_BIN_DIR "/covers");
  QDir(dir).mkdir("covers");
  for (const QString &f : shipped.entryList(QDir::Files))
    if (!QFile::copy(shipped.filePath(f), dir + "/covers/" + f)) return false;
  return true;
}
#endif

// Whether a started program listens for later starts under `server` within `ms`: it is up.
inline bool ListensWithin(const QString &server, int ms) {
  return eventually(
      [&] {
        QLocalSocket s;
        s.connectToServer(server);
        return s.waitForConnected(100);
      },
      ms);
}

// Each test gets a program directory holding only a KRV.INI with a port (so that a main window
// shown there is not on its first run, which opens the preferences window); message boxes are
// recorded, and answered with `answer` where a question is asked.
class ProgramDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir_.isValid());
    SetProgramDir(dir_.path());
    QFile ini(path("KRV.INI"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Modem]\r\nComPort=0\r\n");
    ini.close();
    Dialogs::setHandler([this](const DialogRequest &r) {
      shown.push_back(r);
      return answer;
    });
  }
  void TearDown() override {
    Dialogs::setHandler({});
    SetProgramDir({});
  }
  QString path(const QString &name) const { return ProgramDir() + name; }

  QTemporaryDir dir_;
  std::vector<DialogRequest> shown;
  bool answer = true;
};

}  // namespace kv::test
