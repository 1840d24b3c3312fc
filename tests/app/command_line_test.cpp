// `korvane` from a terminal or a script: help and version need no display, and a start without
// one (or with one that cannot be opened) says so and ends with status 1 instead of aborting.
#include <QProcess>
#include <QProcessEnvironment>

#include "test_support.h"

namespace kv {
namespace {

TEST(CommandLineTest, HelpVersionAndAMissingDisplay) {
  test::App();
  struct Case {
    QStringList args;
    const char *display;  // nullptr: none set
    int status;
    QString out, err;
  } cases[] = {
      {{"--help"}, nullptr, 0, "Usage: korvane [--demo] [FAX-FILE...]", ""},
      {{"--version"}, nullptr, 0, QString("korvane %1\n").arg(KORVANE_PROJECT_VERSION), ""},
      // Help wins wherever it stands, also with a display that is not there.
      {{"--demo", "--help"}, ":4711", 0, "--version  print the version", ""},
      {{}, nullptr, 1, "", "korvane: needs a graphical display"},
      {{"some.apf"}, nullptr, 1, "", "korvane: needs a graphical display"},
      {{}, ":4711", 1, "", "korvane: the display \":4711\" could not be opened."},
  };
  for (const Case &c : cases) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
    if (c.display) env.insert("DISPLAY", c.display);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(KORVANE_BIN_DIR "/korvane", c.args);
    ASSERT_TRUE(p.waitForFinished(30000)) << c.args.join(' ').toStdString();
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    const std::string what = c.args.join(' ').toStdString();
    // An abort is a crash exit, not status 1.
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << what;
    EXPECT_EQ(p.exitCode(), c.status) << what << "\n" << err.toStdString();
    EXPECT_TRUE(out.contains(c.out)) << what << ": " << out.toStdString();
    EXPECT_TRUE(err.contains(c.err)) << what << ": " << err.toStdString();
    if (c.status == 0) {
      EXPECT_TRUE(err.isEmpty()) << what << ": " << err.toStdString();
    }
  }
}

}  // namespace
}  // namespace kv
