// The phone book browser and editor: adding, editing, deleting and choosing entries, the
// enabled buttons, the field limits, and a phone book that cannot be opened.
#include <QAction>
#include <QFile>
#include <QTest>
#include <QToolButton>

#include "app/main_screen.h"
#include "app/test_support.h"
#include "compose/phone_book.h"
#include "support/modal.h"

namespace kv {
namespace {

class PhoneBookTest : public test::ProgramDirTest {
 protected:
  // Adds an entry through the editor, as the user types it.
  static void add(TPhoneBook &book, const QString &name, const QString &number) {
    test::OnModal<TPhoneBookEditor>([&](TPhoneBookEditor &e) {
      EXPECT_EQ(e.windowTitle(), "Phone Book Editor");
      EXPECT_TRUE(e.Name->text().isEmpty());
      QTest::keyClicks(e.Name, name);
      QTest::keyClick(e.Name, Qt::Key_Tab);
      QTest::keyClicks(e.Number, number);
      test::Snapshot(e, "phone_book_editor");
      QTest::keyClick(e.Number, Qt::Key_Return);
    });
    book.Addbutton->click();
  }
  static QString field(TPhoneBook &book, const char *name) {
    return book.PhoneTable.FieldByName(name)->AsString().trimmed();
  }
  TFaxRecords records;
};

TEST_F(PhoneBookTest, ManageEntriesInNameOrder) {
  TPhoneBook book;
  ASSERT_TRUE(OpenPhoneBook(records, book));
  EXPECT_TRUE(QFile::exists(path("KRVPB.DBF")));
  EXPECT_TRUE(book.Closebutton->isVisibleTo(&book));
  EXPECT_FALSE(book.OKButton->isVisibleTo(&book));
  book.UpdateButtons();
  EXPECT_FALSE(book.Modifybutton->isEnabled());
  EXPECT_FALSE(book.Deletebutton->isEnabled());

  // 35 and 25 characters are taken whole; the edits take no more.
  const QString name35 = "Abernathy-Featherstonehaugh & Sons.";
  ASSERT_EQ(name35.size(), 35);
  add(book, name35 + "xx",
      "+1 (555) 010-0199 ,,, 123"
      "45");
  add(book, "Baker Street Surgery", "020 7946 0001");
  EXPECT_EQ(book.PhoneModel->rowCount(), 2);
  EXPECT_TRUE(book.Modifybutton->isEnabled());
  book.PhoneModel->setCurrentRow(0);
  EXPECT_EQ(field(book, "NAME"), name35);
  EXPECT_EQ(field(book, "PHONE"), "+1 (555) 010-0199 ,,, 123");

  // Edit the second entry; a cancelled edit changes nothing.
  book.PhoneModel->setCurrentRow(1);
  test::OnModal<TPhoneBookEditor>([](TPhoneBookEditor &e) {
    EXPECT_EQ(e.Name->text(), "Baker Street Surgery");
    e.Number->setText("020 7946 0002");
    e.OKButton->click();
  });
  book.Modifybutton->click();
  EXPECT_EQ(field(book, "PHONE"), "020 7946 0002");
  test::OnModal<TPhoneBookEditor>([](TPhoneBookEditor &e) {
    e.Number->setText("999");
    QTest::keyClick(&e, Qt::Key_Escape);  // asks first; Yes throws the change away
  });
  book.Modifybutton->click();
  EXPECT_EQ(field(book, "PHONE"), "020 7946 0002");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Discard the changes to this entry?");
  shown.clear();

  // Delete asks; No keeps the entry; deleting the last one disables the row buttons.
  answer = false;
  book.Deletebutton->click();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Delete");
  EXPECT_EQ(shown[0].text, "Delete the current phone book entry?:\rBaker Street Surgery");
  EXPECT_FALSE(shown[0].yesIsDefault);
  EXPECT_EQ(book.PhoneModel->rowCount(), 2);
  answer = true;
  book.Deletebutton->click();
  book.Deletebutton->click();
  EXPECT_EQ(book.PhoneModel->rowCount(), 0);
  EXPECT_FALSE(book.Modifybutton->isEnabled());
  EXPECT_FALSE(book.Deletebutton->isEnabled());
  const int beeps = Dialogs::beepCount();
  book.ModifybuttonClick();
  book.DeletebuttonClick();
  EXPECT_EQ(Dialogs::beepCount(), beeps + 2);
}

// An entry's number is dialled as it stands: one the modem could not dial is not stored.
TEST_F(PhoneBookTest, ANumberThatCannotBeDialledIsNotStored) {
  TPhoneBook book;
  ASSERT_TRUE(OpenPhoneBook(records, book));
  test::OnModal<TPhoneBookEditor>([&](TPhoneBookEditor &e) {
    e.Name->setText("Mallory");
    e.Number->setText("555;ATZ");
    e.OKButton->click();
    EXPECT_TRUE(e.isVisible());
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().kind, DialogRequest::Error);
    EXPECT_TRUE(shown.back().text.contains("it holds ';' (character 4)"))
        << shown.back().text.toStdString();
    e.Number->setText("555 0100");
    e.OKButton->click();
  });
  book.Addbutton->click();
  EXPECT_EQ(book.PhoneModel->rowCount(), 1);
  EXPECT_EQ(field(book, "PHONE"), "555 0100");
}

TEST_F(PhoneBookTest, ChoosingAnEntry) {
  TPhoneBook book;
  ASSERT_TRUE(OpenPhoneBook(records, book));
  book.SetChoosing(true);
  EXPECT_FALSE(book.Closebutton->isVisibleTo(&book));
  EXPECT_FALSE(book.OKButton->isEnabled());
  add(book, "Zed Printing", "555 0300");
  add(book, "Acme Legal", "555 0100");
  EXPECT_TRUE(book.OKButton->isEnabled());
  book.PhoneModel->setCurrentRow(0);  // name order: Acme first
  test::OnModal<TPhoneBook>([](TPhoneBook &b) {
    test::Snapshot(b, "phone_book_choosing");
    QTest::keyClick(b.PhoneGrid, Qt::Key_Return);
  });
  EXPECT_EQ(book.exec(), QDialog::Accepted);
  EXPECT_EQ(book.ChosenName, "Acme Legal");
  EXPECT_EQ(book.ChosenNumber, "555 0100");

  // Deleting the last entry in choosing mode disables Accept too.
  answer = true;
  book.Deletebutton->click();
  book.Deletebutton->click();
  EXPECT_FALSE(book.OKButton->isEnabled());
  test::OnModal<TPhoneBook>([](TPhoneBook &b) { QTest::keyClick(&b, Qt::Key_Escape); });
  EXPECT_EQ(book.exec(), QDialog::Rejected);
}

TEST_F(PhoneBookTest, ADamagedPhoneBookIsNamedAndNotShown) {
  {
    QFile f(path("KRVPB.DBF"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is no table");
  }
  TMainScreen w;
  w.mnuPhoneBook->trigger();  // no window comes up: the message is all
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, DialogRequest::Error);
  EXPECT_TRUE(shown[0].text.contains(path("KRVPB.DBF"))) << shown[0].text.toStdString();
  QFile f(path("KRVPB.DBF"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "this is no table");
}

}  // namespace
}  // namespace kv
