// Receive mode on the real main window against scripted modems: the Receive button and the
// commands it turns off, rows and files of received faxes with the sound, a modal window held
// open through a whole fax, a port that cannot be opened, and the start at activation.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

#include "app/main_screen.h"
#include "app/splash_form.h"
#include "app/wave_sound.h"
#include "base/error_text.h"
#include "fax/fax_defs.h"
#include "receive_support.h"
#include "support/modal.h"
#include "support/session_bus.h"
#include "viewer/fax_viewer_window.h"

namespace kv {
namespace {

class MainReceive : public test::ReceiveTest {
 protected:
  void SetUp() override {
    ReceiveTest::SetUp();
    WavePlayer() = [this](const QString &f) { played.push_back(f); };
  }
  void TearDown() override {
    w.reset();
    WavePlayer() = nullptr;
    ReceiveTest::TearDown();
  }
  TMainScreen &show() {
    w = std::make_unique<TMainScreen>();
    w->show();
    activated();
    return *w;
  }
  void activated() {
    ASSERT_TRUE(test::eventually([&] { return !w->FirstActivate; }, 5000));
  }
  // Receive, STOP and the commands receive mode turns off, as one string.
  static std::string commands(TMainScreen &m) {
    return QString("%1 %2%3%4%5 %6")
        .arg(m.ReceiveButton->text())
        .arg(m.mnuPreferences->isEnabled())
        .arg(m.mnuModemReset->isEnabled())
        .arg(m.mnuRebuildIndexes->isEnabled())
        .arg(m.SendButton->isEnabled())
        .arg(m.ReceiveButton->toolTip())
        .toStdString();
  }
  std::unique_ptr<TMainScreen> w;
  std::vector<QString> played;
};

TEST_F(MainReceive, TwoFaxesBecomeRowsWithTheSoundAndStopGivesThePortBack) {
  QFile(path("ring.wav")).open(QIODevice::WriteOnly);
  settingsFile(1, [&](Settings &s) { s.receiveWav = path("ring.wav").toStdString(); });
  modemOn(1, test::callWithPages({"00 80 B2 59 01 00", "00 80 80 CC 0A 00"}) +
                 test::callWithPages({"00 80 B2 59 01 00"}));
  TMainScreen &m = show();
  EXPECT_EQ(commands(m), "&Receive 1110 Start receiving faxes");
  m.ReceiveButton->click();
  EXPECT_TRUE(m.ReceiveMode);
  EXPECT_TRUE(m.KvComPort1.Open());
  EXPECT_EQ(commands(m), "&STOP 0000 Stop receiving faxes");

  ASSERT_TRUE(test::eventually([&] { return m.Records.RecTable.RecCount() == 2; }, 20000));
  m.TabSet1->setCurrentIndex(1);
  test::Snapshot(m, "main_receive_mode");
  auto r = rows(m.Records.RecTable);
  EXPECT_EQ(r[0]["FAXFILE"], "FAX0001.APF");
  EXPECT_EQ(r[0]["FROM"], "CALLER 7");
  EXPECT_EQ(r[0]["PAGES"], "2");
  EXPECT_EQ(r[1]["FAXFILE"], "FAX0002.APF");
  EXPECT_EQ(r[1]["PAGES"], "1");
  EXPECT_EQ(r[0]["TIMEREC"].size(), 5);
  EXPECT_EQ(m.RecFaxModel->rowCount(), 2);
  EXPECT_TRUE(QFileInfo(receiveDir() + "FAX0002.APF").isFile());
  ASSERT_TRUE(test::eventually([&] { return played.size() == std::size_t(2); }, 2000));
  EXPECT_EQ(played[0], path("ring.wav"));
  // Waiting for the next call, the status line says so.
  ASSERT_TRUE(test::eventually(
      [&] { return m.status->text() == QString::fromStdString(progressText(fpWaiting)); }, 5000));

  m.ReceiveButton->click();
  EXPECT_FALSE(m.ReceiveMode);
  EXPECT_FALSE(m.KvComPort1.Open());
  EXPECT_EQ(commands(m), "&Receive 1110 Start receiving faxes");
  EXPECT_TRUE(shown.empty());
}

// A received fax is announced on the desktop's notification service (a session bus of the
// test's own) with its sender and pages, counted on the Received tab and marked on its row
// until it is viewed; the mark outlives the program.
TEST_F(MainReceive, AReceivedFaxIsAnnouncedAndStaysUnreadUntilViewed) {
  test::SessionBus bus;
  ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
  test::NotificationListener desktop(bus.connect("desktop"));
  ASSERT_TRUE(desktop.ok());
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
  settingsFile(1);
  modemOn(1, test::callWithPages({"00 80 B2 59 01 00", "00 80 80 CC 0A 00"}));
  auto unread = [&](TMainScreen &m) {
    const QModelIndex cell = m.RecFaxModel->index(0, 2);
    return QString("%1 %2 %3")
        .arg(m.TabSet1->tabText(1))
        .arg(cell.data(Qt::FontRole).value<QFont>().bold())
        .arg(cell.data(Qt::ToolTipRole).toString())
        .trimmed()
        .toStdString();
  };
  {
    TMainScreen &m = show();
    EXPECT_EQ(m.TabSet1->tabText(1), "Received");
    m.ReceiveButton->click();
    ASSERT_TRUE(test::eventually([&] { return m.Records.RecTable.RecCount() == 1; }, 20000));
    ASSERT_TRUE(test::eventually([&] { return !desktop.received.empty(); }, 5000));
    EXPECT_EQ(desktop.received[0].summary, "Fax received");
    EXPECT_EQ(desktop.received[0].body, "2 pages from CALLER 7");
    EXPECT_EQ(unread(m), "Received (1) 1 Unread");
    m.ReceiveButton->click();
  }
  w.reset();
  TMainScreen &m = show();
  EXPECT_EQ(unread(m), "Received (1) 1 Unread");
  m.TabSet1->setCurrentIndex(1);
  test::Snapshot(m, "main_unread");
  test::OnModal<TFaxViewer>([](TFaxViewer &v) { v.reject(); });
  m.TabSet1->setCurrentIndex(1);
  m.mnuViewPrintClick();
  EXPECT_EQ(unread(m), "Received 0");
  EXPECT_EQ(desktop.received.size(), 1u);
}

// The whole call happens while the user has the About window open: the session runs on the
// dispatcher and its events are served by the modal window's loop, so nothing is lost.
TEST_F(MainReceive, AModalWindowOpenThroughAWholeFaxLosesNothing) {
  settingsFile(1);
  modemOn(1, "wait 800\n" + test::callWithPages({"00 80 B2 59 01 00", "00 80 80 CC 0A 00"}));
  TMainScreen &m = show();
  m.mnuReceive->trigger();
  ASSERT_TRUE(m.ReceiveMode);
  bool sawCall = false;
  int rowsWhileOpen = 0;
  test::OnModal<TSplashform>([&](TSplashform &about) {
    EXPECT_EQ(m.Records.RecTable.RecCount(), 0);  // the call had not begun
    ASSERT_TRUE(test::eventually(
        [&] { return (sawCall |= m.FaxInProgress) && m.Records.RecTable.RecCount() == 1; }, 20000));
    rowsWhileOpen = m.Records.RecTable.RecCount();
    about.accept();
  });
  m.About1Click();
  EXPECT_TRUE(sawCall);
  EXPECT_EQ(rowsWhileOpen, 1);
  auto r = rows(m.Records.RecTable);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0]["PAGES"], "2");
  EXPECT_EQ(r[0]["NOTES"], "");
}

TEST_F(MainReceive, APortThatCannotBeOpenedLeavesReceiveModeOff) {
  settingsFile(3);  // no device behind Com3
  TMainScreen &m = show();
  m.ReceiveButton->click();
  EXPECT_FALSE(m.ReceiveMode);
  EXPECT_EQ(commands(m), "&Receive 1110 Start receiving faxes");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, DialogRequest::Information);
  EXPECT_TRUE(shown[0].text.contains("Com3")) << shown[0].text.toStdString();
}

// A file where the receive folder should be: the window does not start receive mode and names
// the folder. With the folder back, a fax a stopped receiver left there is in the list.
TEST_F(MainReceive, AnUnusableFolderIsNamedAndALeftFaxIsListedOnTheNextStart) {
  settingsFile(1);
  QDir(receiveDir()).removeRecursively();
  QFile(path("receive")).open(QIODevice::WriteOnly);
  modemOn(1, "");
  TMainScreen &m = show();
  m.ReceiveButton->click();
  EXPECT_FALSE(m.ReceiveMode);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text,
            "The receive folder " + path("receive") + " cannot be used: it is not a folder");

  QFile::remove(path("receive"));
  QDir().mkdir(receiveDir());
  test::writeFax(receiveDir() + "FAX0003.APF", 2);
  m.ReceiveButton->click();
  EXPECT_TRUE(m.ReceiveMode);
  ASSERT_EQ(m.RecFaxModel->rowCount(), 1);
  auto r = rows(m.Records.RecTable);
  EXPECT_EQ(r[0]["FAXFILE"], "FAX0003.APF");
  EXPECT_EQ(r[0]["PAGES"], "2");
  EXPECT_EQ(r[0]["FROM"], "LEFT 1");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_TRUE(
      shown[1].text.startsWith("FAX0003.APF (2 page(s)) was found after the program stopped"))
      << shown[1].text.toStdString();
  m.ReceiveButton->click();
  EXPECT_FALSE(m.ReceiveMode);
}

TEST_F(MainReceive, AtStartupReceivesFromTheFirstActivationUntilTheDeviceGoes) {
  settingsFile(1, [](Settings &s) { s.receiveAtStartup = true; });
  modemOn(1, "wait 300\nhangup\n");
  TMainScreen &m = show();
  EXPECT_TRUE(m.ReceiveMode);
  EXPECT_EQ(m.ReceiveButton->text(), "&STOP");
  // The modem went away: receive mode ends by itself and says why.
  ASSERT_TRUE(test::eventually([&] { return !m.ReceiveMode; }, 15000));
  EXPECT_EQ(m.ReceiveButton->text(), "&Receive");
  EXPECT_TRUE(m.status->text().startsWith("Receive mode ended: "))
      << m.status->text().toStdString();
  EXPECT_FALSE(m.KvComPort1.Open());
}

}  // namespace
}  // namespace kv
