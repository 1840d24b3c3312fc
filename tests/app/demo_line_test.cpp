// The demo as the program runs it: its own directory with settings that name the simulated line,
// a fax queued and sent there with the program's own send path (korvane-fax send-row uses the
// settings and tables of the directory), the far end's fax reported for the viewer, and the far
// end's sample fax received once the program waits for calls.
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "app/demo_line.h"
#include "app/open_fax_file.h"
#include "settings/settings.h"
#include "support/event_wait.h"
#include "test_support.h"

namespace kv {
namespace {

constexpr char kTool[] = KORVANE_BIN_DIR "/korvane-fax";

// Runs korvane-fax while the event loop keeps serving the line's log; its exit code.
int runTool(const QStringList &args, QString &output) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(kTool, args);
  if (!p.waitForStarted()) return -1;
  for (int i = 0; i < 1200 && p.state() != QProcess::NotRunning; ++i) QTest::qWait(100);
  output = QString::fromLocal8Bit(p.readAll());
  return p.state() == QProcess::NotRunning ? p.exitCode() : -1;
}

TEST(DemoLine, AFaxSentWithTheDemosSettingsReachesTheFarEndAndIsReported) {
  test::App();
  QTemporaryDir home;
  TDemoLine demo(home.path());
  QString error;
  ASSERT_TRUE(demo.Start(error)) << error.toStdString();
  const QString dir = demo.dir();
  EXPECT_TRUE(dir.startsWith(home.path()));
  // The settings name the line's port, so the program needs no set-up.
  const Settings s = LoadSettings(settingsFilePath(dir.toStdString()));
  EXPECT_FALSE(s.isFirstRun());
  EXPECT_EQ(s.comPort + 1, TDemoLine::kPort);
  EXPECT_EQ(portDeviceName(settingsFilePath(dir.toStdString()), TDemoLine::kPort),
            (dir + "modem").toStdString());
  // What the far end will send is a fax the program can show.
  EXPECT_EQ(FaxFileKindOf(dir + "sample.tif"), FaxFileKind::Tiff);

  QSignalSpy received(&demo, &TDemoLine::farReceived);
  QString out;
  QFile doc(home.filePath("letter.txt"));
  ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
  doc.write("A short letter over the demo line.\n");
  doc.close();
  ASSERT_EQ(runTool({"compose", "--program-dir", dir, "--recipient", "Far End", "--fax", "555",
                     "--subject", "Demo", "--doc", doc.fileName()},
                    out),
            0)
      << out.toStdString();
  ASSERT_EQ(runTool({"send-row", "1", "--program-dir", dir}, out), 0)
      << out.toStdString() << demo.log().toStdString();
  ASSERT_TRUE(kv::test::eventually([&] { return received.size() == 1; }, 10000));
  const QString tiff = received[0][0].toString();
  EXPECT_TRUE(tiff.startsWith(dir + "far-")) << tiff.toStdString();
  EXPECT_EQ(FaxFileKindOf(tiff), FaxFileKind::Tiff);
  // The far end did not call into the user's own call, and has not called yet: nobody waits.
  EXPECT_FALSE(demo.log().contains("busy")) << demo.log().toStdString();
  EXPECT_FALSE(demo.log().contains("far end: dials")) << demo.log().toStdString();

  // Once a receiver waits on the port, the far end calls with its sample fax.
  const QString in = home.filePath("in");
  ASSERT_EQ(runTool({"receive", "--device", dir + "modem", "--dir", in, "--once"}, out), 0)
      << out.toStdString() << demo.log().toStdString();
  const QStringList got = QDir(in).entryList({"*.APF", "*.apf"}, QDir::Files);
  ASSERT_EQ(got.size(), 1) << out.toStdString();
  EXPECT_EQ(FaxFileKindOf(QDir(in).filePath(got[0])), FaxFileKind::Apf);
}

// The far end never rings in on its own: with the program's port open and quiet (as in receive
// mode) it stays silent until the user asks through the Help menu, and then calls.
TEST(DemoLine, TheFarEndCallsOnlyWhenAskedThroughTheHelpMenu) {
  test::App();
  QTemporaryDir home;
  TDemoLine demo(home.path());
  QString error;
  ASSERT_TRUE(demo.Start(error)) << error.toStdString();
  QMainWindow window;
  QMenu *help = window.menuBar()->addMenu("&Help");
  help->addAction("Try with a simulated line")->setObjectName("mnuDemo");
  help->addAction("Show Hints");
  demo.AddMenuEntry(window);
  auto *ask = window.findChild<QAction *>("mnuDemoAskFax");
  ASSERT_NE(ask, nullptr);
  ASSERT_EQ(help->actions().indexOf(ask), 1);  // right after the demo's own entry

  QFile port(demo.dir() + "modem");
  ASSERT_TRUE(port.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
  // Twice the quiet time after which an asked far end calls.
  QTest::qWait(2 * TDemoLine::kFarDialIdle * 1000);
  EXPECT_FALSE(demo.log().contains("far end: dials")) << demo.log().toStdString();
  ask->trigger();
  EXPECT_TRUE(test::eventually([&] { return demo.log().contains("far end: dials"); }, 15000))
      << demo.log().toStdString();
}

// The far end's fax is shown when the user is free: while a message box (the send's result) is
// up, a viewer would open over it and take the keyboard from it.
TEST(DemoLine, TheFarEndsFaxWaitsUntilTheResultBoxIsClosed) {
  test::App();
  QTemporaryDir home;
  TDemoLine demo(home.path());
  QSignalSpy received(&demo, &TDemoLine::farReceived);
  QMessageBox box(QMessageBox::Information, "Korvane", "Finished: OK");
  box.open();
  ASSERT_TRUE(test::eventually([] { return QApplication::activeModalWidget() != nullptr; }, 2000));
  demo.FarFaxArrived("far-1.tif");
  demo.FarFaxArrived("far-2.tif");
  QTest::qWait(700);
  EXPECT_EQ(received.size(), 0);
  box.accept();
  ASSERT_TRUE(test::eventually([&] { return received.size() == 2; }, 5000));
  EXPECT_EQ(received[0][0].toString(), "far-1.tif");
  EXPECT_EQ(received[1][0].toString(), "far-2.tif");
}

}  // namespace
}  // namespace kv
