// The main window's row commands: enabled commands in every state, deleting on both pages
// (with the received image), and the notes of a received fax.
#include <QAction>
#include <QFile>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "app/main_screen.h"
#include "app/rec_notes_form.h"
#include "app/test_support.h"
#include "main_screen_fixture.h"
#include "support/modal.h"

namespace kv {
namespace {

class MainRowsTest : public test::ShownMainScreenTest {
 protected:
  void addSent(const QString &subject) {
    TTable &t = w->Records.FaxTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("SUBJECT")->SetAsString(subject));
    ASSERT_TRUE(t.Post());
    w->SetButtons();
  }
  void addReceived(const QString &from, const QString &file, const QString &notes = {}) {
    TTable &t = w->Records.RecTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("FROM")->SetAsString(from));
    ASSERT_TRUE(t.FieldByName("FAXFILE")->SetAsString(file));
    ASSERT_TRUE(t.FieldByName("NOTES")->SetAsString(notes));
    ASSERT_TRUE(t.Post());
    w->SetButtons();
  }
  QString enabled() {
    QString s;
    for (QToolButton *b : {w->Newbutton, w->EditButton, w->CloneButton, w->DeleteButton,
                           w->SendButton, w->ReceiveButton, w->ViewFaxButton})
      s += b->isEnabled() ? '1' : '0';
    return s;
  }
  int rows(TTable &t) { return t.RowCount(); }
};

TEST_F(MainRowsTest, EnabledCommandsInEveryState) {
  // Bar order: New Edit Clone Delete Send Receive View.
  struct Case {
    int page;
    bool receiving, sent, received;
    const char *buttons;
  } cases[] = {
      {0, false, false, false, "1000010"}, {0, false, true, false, "1111111"},
      {0, true, false, false, "1000010"},  {0, true, true, false, "1111011"},
      {0, false, false, true, "1000010"},  {1, false, false, false, "0000010"},
      {1, false, false, true, "0101011"},  {1, true, false, true, "0000011"},
      {1, true, true, false, "0000010"},   {1, false, true, true, "0101011"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "page " << c.page << " receiving " << c.receiving << " sent "
                                    << c.sent << " received " << c.received);
    TTable &sent = w->Records.FaxTable;
    TTable &rec = w->Records.RecTable;
    while (rows(sent) > 0 && !c.sent) sent.Delete();
    while (rows(rec) > 0 && !c.received) rec.Delete();
    if (c.sent && rows(sent) == 0) addSent("a");
    if (c.received && rows(rec) == 0) addReceived("b", "FAX0001.APF");
    w->ReceiveMode = c.receiving;
    w->TabSet1->setCurrentIndex(c.page);
    w->SetButtons();
    EXPECT_EQ(enabled(), c.buttons);
    EXPECT_EQ(w->FaxGrid->isEnabled(), c.sent);
    EXPECT_EQ(w->RecFaxGrid->isEnabled(), c.received);
    // Menu items follow their buttons; the modem and housekeeping wait for receive mode.
    EXPECT_EQ(w->mnuEdit->isEnabled(), w->EditButton->isEnabled());
    EXPECT_EQ(w->mnuDelete->isEnabled(), w->DeleteButton->isEnabled());
    EXPECT_EQ(w->mnuViewPrint->isEnabled(), w->ViewFaxButton->isEnabled());
    EXPECT_EQ(w->mnuSend->isEnabled(), w->SendButton->isEnabled());
    EXPECT_EQ(w->mnuRebuildIndexes->isEnabled(), !c.receiving);
    EXPECT_EQ(w->mnuModemReset->isEnabled(), !c.receiving);
    EXPECT_TRUE(w->mnuCover->isEnabled());
    EXPECT_TRUE(w->mnuPhoneBook->isEnabled());
  }
}

TEST_F(MainRowsTest, DeleteAsksOnEachPageAndRemovesTheReceivedImage) {
  addSent("Quarterly report");
  answer = false;
  w->DeleteButton->click();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Delete");
  EXPECT_EQ(shown[0].text, "Delete the current fax?\r\n(subject: \"Quarterly report\")");
  EXPECT_FALSE(shown[0].yesIsDefault);
  EXPECT_EQ(rows(w->Records.FaxTable), 1);
  answer = true;
  w->mnuDelete->trigger();
  EXPECT_EQ(rows(w->Records.FaxTable), 0);
  EXPECT_FALSE(w->DeleteButton->isEnabled());
  const int beeps = Dialogs::beepCount();
  w->DeleteButtonClick();
  EXPECT_EQ(Dialogs::beepCount(), beeps + 1);

  // Received: the image goes with its row; one already gone is no error, and a name that
  // leads out of the receive directory is never followed.
  QFile(path("receive/FAX0001.APF")).open(QIODevice::WriteOnly);
  QFile(path("keep.apf")).open(QIODevice::WriteOnly);
  addReceived("+1 555 0100", "../keep.apf");
  addReceived("+1 555 0101", "FAX0009.APF");
  addReceived("+1 555 0102", "FAX0001.APF");
  w->TabSet1->setCurrentIndex(1);
  shown.clear();
  w->DeleteButton->click();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Delete the current fax?\r\n(from: \"+1 555 0102\")");
  EXPECT_FALSE(QFile::exists(path("receive/FAX0001.APF")));
  w->DeleteButton->click();
  w->DeleteButton->click();
  EXPECT_EQ(shown.size(), 3u);  // no message beyond the questions
  EXPECT_EQ(rows(w->Records.RecTable), 0);
  EXPECT_TRUE(QFile::exists(path("keep.apf")));
  EXPECT_EQ(enabled(), "0000010");
}

TEST_F(MainRowsTest, NotesOfAReceivedFax) {
  addReceived("+44 20 7946 0000", "FAX0001.APF", "old note");
  w->TabSet1->setCurrentIndex(1);
  const QString sixty = QString(59, 'x') + "y";
  test::OnModal<TRecNotesForm>([&](TRecNotesForm &f) {
    EXPECT_EQ(f.windowTitle(), "Received Fax Notes");
    EXPECT_EQ(f.Descript->text(), "From: +44 20 7946 0000");
    EXPECT_EQ(f.Notes->text(), "old note");
    f.Notes->selectAll();
    QTest::keyClicks(f.Notes, sixty + "zz");  // the edit takes no more than the field
    test::Snapshot(f, "received_notes");
    QTest::keyClick(&f, Qt::Key_Return);
  });
  w->EditButton->click();
  EXPECT_EQ(w->Records.RecTable.FieldByName("NOTES")->AsString(), sixty);

  // Escape cancels; nothing is written.
  test::OnModal<TRecNotesForm>([](TRecNotesForm &f) {
    f.Notes->setText("not kept");
    QTest::keyClick(&f, Qt::Key_Escape);
  });
  w->mnuEdit->trigger();
  EXPECT_EQ(w->Records.RecTable.FieldByName("NOTES")->AsString(), sixty);

  // A character the table cannot keep is named before it is stored as its nearest neighbour.
  answer = true;
  test::OnModal<TRecNotesForm>([](TRecNotesForm &f) {
    f.Notes->setText("Łódź office");
    f.OKButton->click();
  });
  w->EditButton->click();
  ASSERT_FALSE(shown.empty());
  EXPECT_TRUE(shown.back().text.contains("\"Łódź office\" is stored as \"Lódz office\""));
  EXPECT_EQ(w->Records.RecTable.FieldByName("NOTES")->AsString().trimmed(), "Lódz office");
}

}  // namespace
}  // namespace kv
