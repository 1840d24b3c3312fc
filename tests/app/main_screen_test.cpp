// The main window driven as a user would: first start, enabled commands, hints, help, the
// close query, and a table that cannot be opened.
#include <QAction>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include "app/help_window.h"
#include "app/hints.h"
#include "app/main_screen.h"
#include "app/preferences.h"
#include "modemui/port_choice.h"
#include "support/event_wait.h"
#include "support/modal.h"
#include "test_support.h"

namespace kv {
namespace {

class MainScreenTest : public test::ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    static bool hints = [] {
      Hints::install(test::App());
      return true;
    }();
    (void)hints;
  }
  // Shows the window and lets its first activation run.
  void start(TMainScreen &w) {
    w.show();
    ASSERT_TRUE(kv::test::eventually([&] { return !w.FirstActivate || w.Closed(); }, 5000));
  }
  void writeIni(const QByteArray &text) {
    QFile f(path("KRV.INI"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  static void addSentRow(TMainScreen &w, const QString &subject) {
    TTable &t = w.Records.FaxTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("SUBJECT")->SetAsString(subject));
    ASSERT_TRUE(t.Post());
  }
  static void addReceivedRow(TMainScreen &w, const QString &from) {
    TTable &t = w.Records.RecTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("FROM")->SetAsString(from));
    ASSERT_TRUE(t.Post());
  }
  // Enabled state of the row commands, in bar order.
  static QString enabled(TMainScreen &w) {
    QString s;
    for (QToolButton *b : {w.Newbutton, w.EditButton, w.CloneButton, w.DeleteButton, w.SendButton,
                           w.ReceiveButton, w.ViewFaxButton})
      s += b->isEnabled() ? '1' : '0';
    return s;
  }
};

TEST_F(MainScreenTest, FirstStartInAnEmptyDirectory) {
  QFile::remove(path("KRV.INI"));
  TMainScreen w;
  EXPECT_TRUE(shown.empty());
  for (const char *f : {"KRV.DBF", "KRV.CDX", "KRV.FPT", "KRVREC.DBF", "KRVREC.CDX"})
    EXPECT_TRUE(QFile::exists(path(f))) << f;
  // The first start makes the cover table with the shipped templates; the phone book is
  // opened by its window, not at start.
  EXPECT_TRUE(QFile::exists(path("KRVCOV.DBF")));
  EXPECT_FALSE(QFile::exists(path("KRVPB.DBF")));
  EXPECT_TRUE(QDir(path("receive")).exists());
  EXPECT_TRUE(w.FirstRun);
  EXPECT_EQ(w.Settings.ComPort(), 0);
  EXPECT_EQ(w.windowTitle(), "Korvane ");
  EXPECT_EQ(CurrentStatusLine(), w.status);
  // Receive mode's port is prepared but stays closed.
  EXPECT_FALSE(w.KvComPort1.Open());
  EXPECT_EQ(w.KvComPort1.ComNumber(), 1);
  EXPECT_EQ(w.KvComPort1.InSize(), 8192);
  EXPECT_EQ(w.KvComPort1.BufferFull(), 7372);
  EXPECT_EQ(w.KvComPort1.HWFlowOptions(), hwfSet({hwfUseRTS, hwfRequireCTS}));
  EXPECT_EQ(w.KvComPort1.TraceName(), (ProgramDir() + "KRVRECV.TRC").toStdString());
  EXPECT_EQ(w.KvComPort1.LogName(), (ProgramDir() + "KRVRECV.LOG").toStdString());
  EXPECT_EQ(w.KvComPort1.Tracing(), tlOn);

  // A first run opens the preferences window, which tells the user what to do.
  bool preferences = false;
  test::OnModal<TPreferences>([&](TPreferences &p) {
    preferences = true;
    ASSERT_TRUE(kv::test::eventually([&] { return shown.size() == std::size_t(1); }, 5000));
    EXPECT_TRUE(shown[0].text.startsWith("Please enter information about yourself"));
    EXPECT_EQ(p.ComPort->ItemIndex(), 0);
    p.reject();
  });
  start(w);
  EXPECT_TRUE(preferences);
  EXPECT_FALSE(w.FirstRun);
  EXPECT_FALSE(w.FirstActivate);
  // Only New and Receive; the grids too are off while they are empty.
  EXPECT_EQ(enabled(w), "1000010");
  EXPECT_FALSE(w.FaxGrid->isEnabled());
  EXPECT_FALSE(w.RecFaxGrid->isEnabled());
  EXPECT_TRUE(w.mnuNew->isEnabled());
  EXPECT_FALSE(w.mnuSend->isEnabled());
  EXPECT_FALSE(w.mnuViewPrint->isEnabled());
  EXPECT_TRUE(w.mnuRebuildIndexes->isEnabled());
  EXPECT_TRUE(w.mnuReceive->isEnabled());
  // The placement went into the settings file at the first activation.
  QFile ini(path("KRV.INI"));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_TRUE(ini.readAll().contains("[TMainScreen_Placement]"));
}

TEST_F(MainScreenTest, AStoredPortIsNoFirstRun) {
  writeIni("[Modem]\r\nComPort=2\r\n");
  TMainScreen w;
  EXPECT_FALSE(w.FirstRun);
  EXPECT_EQ(w.Settings.ComPort(), 2);
}

TEST_F(MainScreenTest, EnabledCommandsFollowRowsPageAndReceiveMode) {
  TMainScreen w;
  start(w);
  addSentRow(w, "to the bank");
  w.SetButtons();
  EXPECT_EQ(enabled(w), "1111111");
  EXPECT_TRUE(w.FaxGrid->isEnabled());
  EXPECT_EQ(w.FaxModel->rowCount(), 1);

  w.ReceiveMode = true;
  w.SetButtons();
  EXPECT_EQ(enabled(w), "1111011");  // no Send while receiving
  EXPECT_FALSE(w.mnuRebuildIndexes->isEnabled());
  EXPECT_FALSE(w.mnuPreferences->isEnabled());
  EXPECT_FALSE(w.mnuModemReset->isEnabled());

  // The received page: nothing received yet.
  w.TabSet1->setCurrentIndex(1);
  EXPECT_EQ(w.NoteBook->currentIndex(), 1);
  EXPECT_EQ(enabled(w), "0000010");
  addReceivedRow(w, "+1 555 0100");
  w.SetButtons();
  EXPECT_EQ(enabled(w), "0000011");  // Edit and Delete wait for receive mode to end
  w.ReceiveMode = false;
  w.SetButtons();
  EXPECT_EQ(enabled(w), "0101011");
  EXPECT_TRUE(w.mnuEdit->isEnabled());
  EXPECT_FALSE(w.mnuClone->isEnabled());
}

TEST_F(MainScreenTest, HintsReachTheStatusLineAndCanBeSwitchedOff) {
  TMainScreen w;
  start(w);
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(w.SendButton, &enter);
  EXPECT_EQ(w.status->text(), "Send the currently selected fax");
  EXPECT_TRUE(w.mnuShowHint->isChecked());
  EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 1200);

  w.mnuShowHint->trigger();
  EXPECT_FALSE(w.mnuShowHint->isChecked());
  EXPECT_FALSE(Hints::enabled());
  EXPECT_EQ(w.status->text(), "");
  QApplication::sendEvent(w.Newbutton, &enter);
  EXPECT_EQ(w.status->text(), "");
  // Stored at once, and read back on the next start.
  EXPECT_FALSE(LoadSettings(settingsFilePath(ProgramDir().toStdString())).hintsOn);
  w.mnuShowHint->trigger();
  EXPECT_TRUE(Hints::enabled());
}

TEST_F(MainScreenTest, HelpOpensTheNumberedTopics) {
  TMainScreen w;
  w.Contents1->trigger();
  THelpWindow *help = THelpWindow::showTopic(1009);
  EXPECT_EQ(help->currentTopic(), 1009);
  EXPECT_TRUE(help->browser()->toPlainText().contains("Rebuild Indexes"));
  w.TroubleshootingTips1->trigger();
  EXPECT_EQ(help->currentTopic(), 1026);
  EXPECT_TRUE(help->browser()->toPlainText().contains("dialout"));
  EXPECT_TRUE(THelpWindow::topicHtml(4242).contains("no help page"));
  help->close();
}

TEST_F(MainScreenTest, ClosingWhileAFaxIsBeingReceivedAsksFirst) {
  TMainScreen w;
  start(w);
  w.ReceiveMode = true;
  w.FaxInProgress = true;
  answer = false;
  EXPECT_FALSE(w.close());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, DialogRequest::YesNo);
  EXPECT_EQ(shown[0].caption, "Exit");
  EXPECT_EQ(shown[0].text, "You are receiving a fax. Exit the program?");
  EXPECT_TRUE(shown[0].yesIsDefault);
  // Nothing closed: receive mode and the tables carry on.
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.ReceiveMode);
  EXPECT_TRUE(w.Records.FaxTable.Active());
  EXPECT_TRUE(w.Records.RecTable.Active());

  answer = true;
  w.move(40, 30);
  const QRect normal = w.normalGeometry();
  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.ReceiveMode);
  EXPECT_FALSE(w.Records.FaxTable.Active());
  EXPECT_FALSE(w.Records.RecTable.Active());
  const WindowPlacement p =
      LoadWindowPlacement(settingsFilePath(ProgramDir().toStdString()), "TMainScreen", 96, false);
  EXPECT_EQ(p.left, normal.left());
  EXPECT_EQ(p.top, normal.top());
  EXPECT_EQ(p.right - p.left, normal.width());
}

TEST_F(MainScreenTest, ClosingWhenNotReceivingAsksNothing) {
  TMainScreen w;
  start(w);
  EXPECT_TRUE(w.close());
  EXPECT_TRUE(shown.empty());
}

TEST_F(MainScreenTest, ATableThatCannotBeOpenedEndsTheProgramWithAMessage) {
  QFile f(path("KRVREC.DBF"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("broken");
  f.close();
  TMainScreen w;
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.startsWith(
      "Unable to open/create the FAX RECEIVE datafile - closing program\r\r" + path("KRVREC.DBF")))
      << shown[0].text.toStdString();
  w.show();
  ASSERT_TRUE(kv::test::eventually([&] { return w.Closed(); }, 5000));
  EXPECT_FALSE(w.isVisible());
  // The damaged file is left for the user to rescue.
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "broken");
}

TEST_F(MainScreenTest, ADamagedIndexIsReportedAndRebuildIndexesMendsIt) {
  {
    TMainScreen first;
    for (const char *s : {"one", "two"}) addSentRow(first, s);
    first.close();
  }
  QFile cdx(path("KRV.CDX"));
  ASSERT_TRUE(cdx.open(QIODevice::ReadWrite));
  cdx.write(QByteArray(cdx.size(), '\xAB'));
  cdx.close();

  TMainScreen w;
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.startsWith("The index file KRV.CDX does not match its table"))
      << shown[0].text.toStdString();
  EXPECT_TRUE(w.Records.FaxTable.Active());
  start(w);
  w.mnuRebuildIndexes->trigger();
  EXPECT_TRUE(w.Records.FaxApollo.IndexOk());
  EXPECT_EQ(w.FaxModel->rowCount(), 2);
}

TEST_F(MainScreenTest, RebuildIndexesFromTheMenuKeepsTheListsRight) {
  TMainScreen w;
  start(w);
  for (const char *s : {"one", "two", "three"}) addSentRow(w, s);
  w.Records.FaxTable.First();
  ASSERT_TRUE(w.Records.FaxTable.Delete());
  w.SetButtons();
  EXPECT_EQ(w.FaxModel->rowCount(), 2);
  w.mnuRebuildIndexes->trigger();
  EXPECT_EQ(w.Records.FaxTable.RecCount(), 2);
  EXPECT_EQ(w.FaxModel->rowCount(), 2);
  EXPECT_TRUE(QFile::exists(path("KRVCOV.CDX")));
  EXPECT_TRUE(QFile::exists(path("KRVPB.CDX")));
  EXPECT_FALSE(w.Records.CoverTable.Active());
}

}  // namespace
}  // namespace kv
