// The keys of the editor windows: Return in a combo box, spin box or text editor finishes that
// entry and never accepts the window (Accept stays on its button and Alt+A), and Cancel or
// Escape asks before throwing away what was changed, but only then.
#include <QComboBox>
#include <QFontComboBox>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <memory>

#include "app/fax_tables.h"
#include "app/test_support.h"
#include "compose/cover_browse.h"
#include "compose/fax_editor.h"
#include "compose/phone_book.h"
#include "richtext/format_bar.h"
#include "richtext/paper_size.h"
#include "richtext/paragraph_prop_dlg.h"
#include "richtext/rich_edit.h"
#include "support/event_wait.h"

namespace kv {
namespace {

class EditorKeysTest : public test::ProgramDirTest {
 protected:
  // Shows the window and waits until it has the keyboard.
  void showActive(QWidget &w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
  }
  void pressReturnIn(QWidget *control) {
    control->setFocus();
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : control;
    QTest::keyClick(target, Qt::Key_Return);
  }
  TFaxRecords records;
  Settings settings;
};

// One editor window: how it is made, its Accept button, the controls that own Return, one
// change a user may make, and the question Cancel asks after it.
struct EditorCase {
  const char *name;
  std::function<std::unique_ptr<TBarDialog>(TFaxRecords &, Settings &)> make;
  std::function<QToolButton *(TBarDialog &)> accept, cancel;
  std::function<std::vector<QWidget *>(TBarDialog &)> returnOwners;
  std::function<void(TBarDialog &)> change;
  const char *question;
};

const EditorCase kEditors[] = {
    {"fax editor", [](TFaxRecords &r, Settings &s) { return std::make_unique<TFaxEditor>(r, s); },
     [](TBarDialog &d) { return static_cast<TFaxEditor &>(d).OKButton; },
     [](TBarDialog &d) { return static_cast<TFaxEditor &>(d).CancelButton; },
     [](TBarDialog &d) -> std::vector<QWidget *> {
       auto &e = static_cast<TFaxEditor &>(d);
       e.DocumentButton->click();
       return {e.WPToolDoc->FontName, e.WPToolDoc->FontSize, e.WPDoc};
     },
     [](TBarDialog &d) { static_cast<TFaxEditor &>(d).Subject->setText("Typed subject"); },
     "Discard the changes to this fax?"},
    {"template editor", [](TFaxRecords &, Settings &) { return std::make_unique<TCoverEditor>(); },
     [](TBarDialog &d) { return static_cast<TCoverEditor &>(d).OKbutton; },
     [](TBarDialog &d) { return static_cast<TCoverEditor &>(d).CancelButton; },
     [](TBarDialog &d) -> std::vector<QWidget *> {
       auto &e = static_cast<TCoverEditor &>(d);
       return {e.WPToolBar1->FontName, e.WPToolBar1->FontSize, e.WPCover};
     },
     [](TBarDialog &d) { static_cast<TCoverEditor &>(d).WPCover->insertPlainText("Dear"); },
     "Discard the changes to this template?"},
    {"phone book editor",
     [](TFaxRecords &, Settings &) { return std::make_unique<TPhoneBookEditor>(); },
     [](TBarDialog &d) { return static_cast<TPhoneBookEditor &>(d).OKButton; },
     [](TBarDialog &d) { return static_cast<TPhoneBookEditor &>(d).Cancelbutton; },
     [](TBarDialog &) { return std::vector<QWidget *>{}; },
     [](TBarDialog &d) { static_cast<TPhoneBookEditor &>(d).Number->setText("555 0100"); },
     "Discard the changes to this entry?"},
};

TEST_F(EditorKeysTest, ReturnInAComboSpinOrTextNeverAcceptsTheWindow) {
  for (const EditorCase &c : kEditors) {
    SCOPED_TRACE(c.name);
    auto w = c.make(records, settings);
    showActive(*w);
    for (QWidget *owner : c.returnOwners(*w)) {
      pressReturnIn(owner);
      EXPECT_TRUE(w->isVisible()) << owner->metaObject()->className();
      EXPECT_EQ(w->result(), QDialog::Rejected);
    }
    // Accept is on Alt+A.
    EXPECT_EQ(c.accept(*w)->shortcut(), QKeySequence("Alt+A"));
    QTest::keyClick(w->windowHandle(), Qt::Key_A, Qt::AltModifier);
    // A mnemonic clicks the button the way a mouse does, a moment later.
    EXPECT_TRUE(test::eventually([&] { return !w->isVisible(); }, 5000));
    EXPECT_EQ(w->result(), QDialog::Accepted);
  }
}

TEST_F(EditorKeysTest, ReturnInTheParagraphDialogsCombosKeepsItOpen) {
  TParagraphPropDlg dialog;
  TRichEdit editor;
  dialog.Editor = &editor;
  showActive(dialog);
  for (QComboBox *combo : {dialog.FirstIndentCombo, dialog.ComboBox1}) {
    pressReturnIn(combo);
    EXPECT_TRUE(dialog.isVisible()) << combo->objectName().toStdString();
  }
  pressReturnIn(dialog.LeftIndent);  // a line edit: Return is the dialog's OK
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(EditorKeysTest, CancelAsksOnlyWhenSomethingChanged) {
  for (const EditorCase &c : kEditors) {
    SCOPED_TRACE(c.name);
    // Nothing changed: Escape closes without a word.
    {
      shown.clear();
      auto w = c.make(records, settings);
      showActive(*w);
      QTest::keyClick(w.get(), Qt::Key_Escape);
      EXPECT_FALSE(w->isVisible());
      EXPECT_TRUE(shown.empty());
    }
    // Changed: No keeps the window and its text; Yes closes it.
    for (bool escape : {true, false}) {
      shown.clear();
      auto w = c.make(records, settings);
      showActive(*w);
      c.change(*w);
      answer = false;
      if (escape)
        QTest::keyClick(w.get(), Qt::Key_Escape);
      else
        c.cancel(*w)->click();
      EXPECT_TRUE(w->isVisible());
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].kind, DialogRequest::YesNo);
      EXPECT_EQ(shown[0].text, c.question);
      EXPECT_FALSE(shown[0].yesIsDefault);
      answer = true;
      c.cancel(*w)->click();
      EXPECT_FALSE(w->isVisible());
      EXPECT_EQ(w->result(), QDialog::Rejected);
    }
  }
}

// A new fax or template is laid out on the locale's paper; a fax whose RTF names its paper
// keeps it.
TEST_F(EditorKeysTest, EditorsStartOnTheLocalesPaper) {
  const QLocale before;
  const struct {
    const char *locale;
    const char *paper;
  } cases[] = {{"en_US", "Letter"}, {"de_DE", "A4"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.locale);
    QLocale::setDefault(QLocale(c.locale));
    TFaxEditor fax(records, settings);
    TCoverEditor cover;
    ASSERT_TRUE(fax.WPCover->LoadRtf("{\\rtf1\\paperw12240\\paperh20160 legal cover}"));
    showActive(fax);
    showActive(cover);
    auto paperOf = [](TRichEdit *e) {
      const int i = PaperSizeIndex(e->PageLayout());
      return i < 0 ? "?" : kPaperSizes[i].name;
    };
    EXPECT_STREQ(paperOf(fax.WPDoc), c.paper);
    EXPECT_STREQ(paperOf(cover.WPCover), c.paper);
    EXPECT_STREQ(paperOf(fax.WPCover), "Legal");
    fax.close();
    cover.close();
  }
  QLocale::setDefault(before);
}

}  // namespace
}  // namespace kv
