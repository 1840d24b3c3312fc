// The Spell Check window on a real letter in a QTextEdit, with the built main dictionary:
// replace, pick from the list, skip, add, the end of the pass, cancel, and the failures.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include "../app/test_support.h"
#include "richtext/rich_edit.h"
#include "spell/rich_edit_word_pass.h"
#include "spell/spell_check_dialog.h"
#include "spell/text_edit_word_pass.h"
#include "spell_support.h"

namespace kv {
namespace {

const QString kLetter = QStringLiteral(
    "Dear Mr. Achterberg,\n"
    "Thank you for your letter of May 28. Please recieve the atached price sheet and our "
    "<b>invoise</b> for the three fax units.\n"
    "Korvane will deliver them on Tuesday. Mr. Achterberg\u2019s team need not be there.\n"
    "Sincerely,\nEvelyn Marsh");

class SpellWindow : public test::ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    ASSERT_TRUE(QFile::copy(QString::fromStdString(test::builtDictionary()), path("krv.dct")));
    edit.setHtml(QString(kLetter).replace("\n", "<br>"));
  }
  // Shows the window and waits for it to stop at its first word (or to close).
  void open() {
    dialog = std::make_unique<TSpellCheckDialog>(pass, nullptr);
    dialog->show();
    (void)QTest::qWaitFor([&] { return !dialog->Word->text().isEmpty() || !dialog->isVisible(); });
  }
  QString word() const { return dialog->Word->text(); }

  const bool appMade_ = (test::App(), true);  // before any widget
  QTextEdit edit;
  spell::TextEditWordPass pass{&edit};
  std::unique_ptr<TSpellCheckDialog> dialog;
};

TEST_F(SpellWindow, ReplaceSkipAddToTheEnd) {
  open();
  ASSERT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->windowTitle(), "Spell Check");
  EXPECT_EQ(dialog->size(), QSize(366, 284));
  EXPECT_TRUE(dialog->Addbutton->isEnabled());
  EXPECT_EQ(word(), "Achterberg");
  EXPECT_EQ(edit.textCursor().selectedText(), "Achterberg") << "the word is marked";
  dialog->GetNextWordButton->click();

  EXPECT_EQ(word(), "recieve");
  // For looking at the window: KORVANE_SPELL_SHOT=file.png saves it as the user sees it here.
  if (const char *shot = getenv("KORVANE_SPELL_SHOT")) {
    edit.resize(500, 220);
    edit.show();
    edit.grab().save(QString(shot) + ".editor.png");
    dialog->grab().save(shot);
  }
  EXPECT_EQ(dialog->ReplaceAs->text(), "receive");
  EXPECT_EQ(dialog->WordList->item(0)->text(), "receive");
  QTest::keyClick(dialog.get(), Qt::Key_Return);  // Replace is the default button

  EXPECT_EQ(word(), "atached");
  auto found = dialog->WordList->findItems("attached", Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  QTest::mouseClick(dialog->WordList->viewport(), Qt::LeftButton, {},
                    dialog->WordList->visualItemRect(found[0]).center());
  EXPECT_EQ(dialog->ReplaceAs->text(), "attached");
  dialog->Replace->click();

  EXPECT_EQ(word(), "invoise");
  dialog->ReplaceAs->setText("invoice");
  dialog->Replace->click();

  EXPECT_EQ(word(), "Korvane");
  dialog->Addbutton->click();
  // The possessive of a skipped name is still unknown; the rest of the letter is fine.
  EXPECT_EQ(word(), "Achterberg\u2019s");
  ASSERT_TRUE(shown.empty());
  dialog->GetNextWordButton->click();

  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Spell check complete");
  EXPECT_FALSE(edit.textCursor().hasSelection()) << "the mark is gone";
  QString expected = kLetter;
  expected.replace("recieve", "receive")
      .replace("atached", "attached")
      .replace("<b>invoise</b>", "invoice");
  EXPECT_EQ(edit.toPlainText(), expected);
  QTextCursor at(edit.document()->find("invoice"));
  EXPECT_TRUE(at.charFormat().fontWeight() >= QFont::Bold) << "the replacement keeps the bold";

  // Korvane went into the user dictionary beside the program; the next pass knows it.
  spell::TVizuvSpell check;
  ASSERT_GE(check.OpenUser(path("krvu.dct").toStdString()), 0);
  EXPECT_TRUE(check.IsCorrect("korvane"));
  open();
  EXPECT_EQ(word(), "Achterberg");
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(edit.toPlainText(), expected);
  EXPECT_EQ(shown.size(), 1u);
}

TEST_F(SpellWindow, MissingMainDictionaryLeavesTheTextAlone) {
  QFile::remove(path("krv.dct"));
  QFile(path("krv.dct")).open(QIODevice::WriteOnly);  // empty: damaged
  const QString before = edit.toHtml();
  open();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, DialogRequest::Error);
  EXPECT_TRUE(shown[0].text.contains("krv.dct is missing or damaged"));
  EXPECT_EQ(edit.toHtml(), before);
}

TEST_F(SpellWindow, UserDictionaryFailures) {
  // One that cannot be written: the word is not added, the user is told, the file is whole.
  spell::TVizuvSpell make;
  ASSERT_GE(make.CreateUser(path("krvu.dct").toStdString(), {"Achterberg"}), 0);
  const std::string before = test::readFile(path("krvu.dct").toStdString());
  open();
  EXPECT_EQ(word(), "recieve");
  // A directory takes the file's place while the window is open.
  QDir(dir_.path()).rename("krvu.dct", "krvu.dct.kept");
  QDir(dir_.path()).mkdir("krvu.dct");
  dialog->Addbutton->click();
  QDir(dir_.path()).rmdir("krvu.dct");
  QDir(dir_.path()).rename("krvu.dct.kept", "krvu.dct");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, DialogRequest::Error);
  EXPECT_TRUE(shown[0].text.contains("cannot be written"));
  EXPECT_EQ(word(), "atached");
  EXPECT_EQ(test::readFile(path("krvu.dct").toStdString()), before);
  dialog->Cancelbutton->click();

  // One that can be neither opened nor created: Add Word is off, checking still works.
  QFile::remove(path("krvu.dct"));
  QDir(dir_.path()).mkdir("krvu.dct");
  open();
  EXPECT_FALSE(dialog->Addbutton->isEnabled());
  EXPECT_EQ(word(), "Achterberg");
}

// The rich-text control of the editors, on a letter written by a word processor.
TEST_F(SpellWindow, OnTheRichTextControl) {
  TRichEdit rich;
  ASSERT_TRUE(rich.LoadFromFile(KORVANE_TESTDATA "/rtf/letter.lo.rtf"));
  spell::RichEditWordPass richPass(&rich);
  TSpellCheckDialog dialog(richPass, nullptr);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.Word->text().isEmpty(); }));
  EXPECT_EQ(dialog.Word->text(), "Marlow");
  EXPECT_EQ(rich.textCursor().selectedText(), "Marlow");
  dialog.GetNextWordButton->click();
  EXPECT_EQ(dialog.Word->text(), "Ellery");
  dialog.Addbutton->click();
  EXPECT_EQ(dialog.Word->text(), "Achterberg");
  dialog.GetNextWordButton->click();
  EXPECT_EQ(dialog.Word->text(), "Lanternfield");
  EXPECT_EQ(dialog.ReplaceAs->text(), "Lantern field");
  dialog.Replace->click();
  EXPECT_EQ(dialog.Word->text(), "Springwater");
  dialog.Cancelbutton->click();
  EXPECT_FALSE(rich.InWordPass());
  EXPECT_FALSE(rich.textCursor().hasSelection());

  TRichEdit reread;
  ASSERT_TRUE(reread.LoadRtf(rich.SaveRtf()));
  const QString text = reread.toPlainText();
  EXPECT_TRUE(text.contains("\nLantern field Dental Group\n"));
  EXPECT_TRUE(text.contains("cc: Lanternfield Dental Group")) << "the pass stopped before it";
  EXPECT_EQ(text.count("Marlow"), 1);
}

}  // namespace
}  // namespace kv
