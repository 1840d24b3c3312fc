// Cover sheet templates from the main window's menu: new with merge fields from the menu,
// edit, clone, delete, cancel, and a template table that cannot be opened.
#include <QAction>
#include <QFile>
#include <QTest>
#include <QToolButton>

#include "app/main_screen.h"
#include "app/test_support.h"
#include "compose/cover_browse.h"
#include "compose/fax_row.h"
#include "compose/shipped_covers.h"
#include "compose_support.h"
#include "richtext/merge_field.h"
#include "richtext/rich_document.h"
#include "richtext/rich_edit.h"
#include "support/modal.h"

namespace kv {
namespace {

class CoverBrowseTest : public test::ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    main = std::make_unique<TMainScreen>();
  }
  void TearDown() override {
    main.reset();
    ProgramDirTest::TearDown();
  }
  // Runs the Cover Sheets command with `act` done in the browser.
  void inBrowser(std::function<void(TCoverBrowse &)> act) {
    test::OnModal<TCoverBrowse>([act](TCoverBrowse &b) {
      act(b);
      b.CloseButton->click();
    });
    main->mnuCover->trigger();
    EXPECT_FALSE(main->Records.CoverTable.Active());  // closed again afterwards
  }
  TTable &covers() { return main->Records.CoverTable; }
  std::unique_ptr<TMainScreen> main;
};

TEST_F(CoverBrowseTest, NewCloneEditAndDelete) {
  inBrowser([this](TCoverBrowse &b) {
    EXPECT_EQ(b.windowTitle(), "Cover Sheet Template Browser");
    EXPECT_FALSE(b.Acceptbutton->isVisible());
    EXPECT_FALSE(b.ModifyButton->isEnabled());
    // New: an empty description; fields come from the Insert menu and stay fields.
    test::OnModal<TCoverEditor>([](TCoverEditor &e) {
      EXPECT_EQ(e.windowTitle(), "Cover Sheet Template Editor");
      EXPECT_TRUE(e.CoverDescription->text().isEmpty());
      e.CoverDescription->setText("Standard");
      e.WPCover->insertPlainText("Dear ");
      e.mnuRecipient1->trigger();
      e.WPCover->insertPlainText(", see ");
      e.mnuSubject->trigger();
      e.mnuDate->trigger();
      e.WPCover->insertPlainText(" from ");
      e.mnuSender->trigger();
      e.mnuSenderFax->trigger();
      e.mnuPageCount->trigger();
      test::Snapshot(e, "cover_editor");
      e.OKbutton->click();
    });
    b.NewButton->click();
    ASSERT_EQ(b.CoverModel->rowCount(), 1);
    EXPECT_TRUE(b.ModifyButton->isEnabled());
    const QByteArray rtf = covers().FieldByName("COVER")->AsBytes();
    EXPECT_TRUE(rtf.contains("MERGEFIELD F1")) << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("MERGEFIELD F3"));
    for (const char *field : {"MERGEFIELD F4", "MERGEFIELD F6", "MERGEFIELD F7", "MERGEFIELD F8"})
      EXPECT_TRUE(rtf.contains(field)) << field;

    // Clone: "[clone]Standard" with the same text; the next New starts afresh.
    test::OnModal<TCoverEditor>([](TCoverEditor &e) {
      EXPECT_EQ(e.CoverDescription->text(), "[clone]Standard");
      EXPECT_TRUE(e.WPCover->toPlainText().startsWith("Dear "));
      e.OKbutton->click();
    });
    b.CloneButton->click();
    test::OnModal<TCoverEditor>([](TCoverEditor &e) {
      EXPECT_TRUE(e.CoverDescription->text().isEmpty());
      QTest::keyClick(&e, Qt::Key_Escape);  // cancelled: nothing stored
    });
    b.NewButton->click();
    EXPECT_EQ(b.CoverModel->rowCount(), 2);
    test::Snapshot(b, "cover_browse_managing");

    // Edit the current one; Delete asks, No keeps it.
    b.CoverModel->setCurrentRow(0);
    test::OnModal<TCoverEditor>([](TCoverEditor &e) {
      EXPECT_EQ(e.CoverDescription->text(), "Standard");
      e.CoverDescription->setText("Formal");
      e.OKbutton->click();
    });
    b.ModifyButton->click();
    EXPECT_EQ(covers().FieldByName("DESCRIPT")->AsString().trimmed(), "Formal");
    answer = false;
    b.DeleteButton->click();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().text, "Delete the current cover template?:\rFormal");
    EXPECT_EQ(b.CoverModel->rowCount(), 2);
    answer = true;
    b.DeleteButton->click();
    b.DeleteButton->click();
    EXPECT_EQ(b.CoverModel->rowCount(), 0);
    EXPECT_FALSE(b.DeleteButton->isEnabled());
    const int beeps = Dialogs::beepCount();
    b.ModifyButtonClick();
    b.CloneButtonClick();
    b.DeleteButtonClick();
    EXPECT_EQ(Dialogs::beepCount(), beeps + 3);
  });
}

TEST_F(CoverBrowseTest, ADamagedTemplateTableIsNamed) {
  {
    QFile f(path("KRVCOV.DBF"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("garbage");
  }
  main->mnuCover->trigger();  // no browser comes up
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains(path("KRVCOV.DBF"))) << shown[0].text.toStdString();
}

// A program directory at its first start gets the two shipped templates, each with every merge
// field, as other readers of the table see them; a directory that has its table keeps it.
TEST_F(CoverBrowseTest, AFirstStartBringsTheShippedTemplates) {
  const QStringList shippedNames{"Plain cover sheet", "Formal cover sheet"};
  EXPECT_EQ(ShippedCoverDescriptions(), shippedNames);
  main.reset();
  ASSERT_TRUE(QFile::remove(path("KRV.INI")));  // no port chosen yet: a first start
  main = std::make_unique<TMainScreen>();
  EXPECT_TRUE(shown.empty()) << shown[0].text.toStdString();
  EXPECT_EQ(test::ReadColumn(dir_.path(), "KRVCOV.DBF", "descript"), shippedNames);

  ASSERT_TRUE(main->Records.OpenCoverDBF());
  int templates = 0;
  for (covers().First(); !covers().Eof(); covers().Next(), ++templates) {
    TRichDocument doc;
    TRichTextIO io(doc);
    ASSERT_TRUE(LoadRichText(io, "COVER", main->Records.CoverApollo));
    EXPECT_EQ(doc.MergeFieldCount(), kMergeFieldCount)
        << covers().FieldByName("DESCRIPT")->AsString().toStdString();
  }
  EXPECT_EQ(templates, 2);
  covers().Close();

  // Later starts leave the table as it is: nothing is added twice.
  QString why;
  EXPECT_TRUE(AddShippedCovers(main->Records, why));
  EXPECT_TRUE(why.isEmpty()) << why.toStdString();
  EXPECT_EQ(test::ReadColumn(dir_.path(), "KRVCOV.DBF", "descript"), shippedNames);
}

}  // namespace
}  // namespace kv
