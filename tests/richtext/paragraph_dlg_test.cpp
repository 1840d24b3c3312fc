// "Paragraph Properties" driven as a user would: values shown in inches, centimetres and
// points, typed values stored in twips, the first indent following the left one, OK and Cancel.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <QVBoxLayout>

#include "richtext/format_bar.h"
#include "richtext/merge_field.h"
#include "richtext/paragraph_prop_dlg.h"
#include "richtext/rich_edit.h"
#include "richtext_support.h"

namespace kv {
namespace {

class ParagraphDlg : public ::testing::Test {
 protected:
  bool appReady_ = (test::GuiApp(), true);
  void open(const QByteArray &rtf) {
    ASSERT_TRUE(edit.LoadRtf(rtf));
    dlg.Editor = &edit;
    dlg.show();
  }
  void type(QLineEdit *field, const QString &text) {
    field->selectAll();
    QTest::keyClicks(field, text);
  }
  TRichEdit edit;
  TParagraphPropDlg dlg;
};

TEST_F(ParagraphDlg, ShowsTheCaretParagraphInEachUnit) {
  open(R"({\rtf1\pard\li720\fi360\ri1440\sb240\sa120\sl-360 text})");
  EXPECT_EQ(dlg.windowTitle(), "Paragraph Properties");
  EXPECT_EQ(dlg.LeftIndent->text(), "0.50");
  EXPECT_EQ(dlg.FirstIndent->text(), "0.75");
  EXPECT_EQ(dlg.RightIndent->text(), "1.00");
  EXPECT_EQ(dlg.FirstIndentCombo->currentText(), "Indented by");
  EXPECT_TRUE(dlg.FirstIndent->isEnabled());
  EXPECT_EQ(dlg.SpaceBeforePts->text(), "12");
  EXPECT_EQ(dlg.SpaceAfterPts->text(), "6");
  EXPECT_EQ(dlg.LineHeightPts->text(), "18");
  EXPECT_EQ(dlg.LeftIndent->toolTip(), "Specify left indent for the paragraph in inches");
  dlg.ComboBox1->setCurrentText("Cm");
  EXPECT_EQ(dlg.LeftIndent->text(), "1.27");
  EXPECT_EQ(dlg.SpaceBeforePts->text(), "12");
  EXPECT_EQ(dlg.LeftIndent->toolTip(), "Specify left indent for the paragraph in centimeters");
  // For looking at the windows: KORVANE_RICHTEXT_SHOT=prefix saves the dialog and an editor
  // with its formatting bar as the user sees them.
  if (const char *shot = getenv("KORVANE_RICHTEXT_SHOT")) {
    dlg.grab().save(QString(shot) + "-dialog.png");
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    TRichEdit *editor = new TRichEdit(&window);
    auto *bar = new TFormatBar(editor, &window);
    auto *extra = new QToolButton;
    extra->setText("Page Break");
    bar->AddButton(extra);
    layout->addWidget(bar);
    layout->addWidget(editor);
    editor->LoadFromFile(test::corpusDir() + "fax_cover.lo.rtf");
    editor->InsertMergeField(1, MergeFieldLabel(1));
    editor->SetZoom(getenv("KORVANE_RICHTEXT_ZOOM") ? atoi(getenv("KORVANE_RICHTEXT_ZOOM")) : 100);
    window.resize(860, 600);
    window.show();
    QTest::qWait(100);
    window.grab().save(QString(shot) + "-editor.png");
  }
}

TEST_F(ParagraphDlg, TypedValuesAreWrittenBackOnOk) {
  open(R"({\rtf1 text})");
  EXPECT_EQ(dlg.FirstIndentCombo->currentText(), "Same as Left Indent");
  EXPECT_FALSE(dlg.FirstIndent->isEnabled());
  type(dlg.LeftIndent, "1");
  EXPECT_EQ(dlg.FirstIndent->text(), "1");
  type(dlg.SpaceBeforePts, "12");
  EXPECT_EQ(dlg.Twips(TParagraphPropDlg::vBefore), 240);
  type(dlg.LineHeightPts, "");
  dlg.ComboBox1->setCurrentText("Cm");
  type(dlg.RightIndent, "2,54");
  EXPECT_EQ(dlg.Twips(TParagraphPropDlg::vRight), 1440);
  QTest::mouseClick(dlg.Okbutton, Qt::LeftButton);
  EXPECT_EQ(dlg.result(), 1);
  const TRichEdit::IndentsAndSpacing v = edit.GetIndentsAndSpacing();
  EXPECT_EQ(v.leftIndent, 1440);
  EXPECT_EQ(v.firstIndent, 1440);
  EXPECT_EQ(v.rightIndent, 1440);
  EXPECT_EQ(v.spaceBefore, 240);
  EXPECT_EQ(v.lineHeight, 0);
}

TEST_F(ParagraphDlg, CancelAndEscapeLeaveTheParagraph) {
  open(R"({\rtf1\pard\li720 text})");
  type(dlg.LeftIndent, "2");
  QTest::keyClick(&dlg, Qt::Key_Escape);
  EXPECT_EQ(edit.GetIndentsAndSpacing().leftIndent, 720);
  // Choosing "Same as Left Indent" again copies the left indent into the first.
  dlg.show();
  dlg.FirstIndentCombo->setCurrentText("Indented by");
  type(dlg.FirstIndent, "0.25");
  dlg.FirstIndentCombo->setCurrentText("Same as Left Indent");
  EXPECT_EQ(dlg.FirstIndent->text(), dlg.LeftIndent->text());
  EXPECT_EQ(dlg.Twips(TParagraphPropDlg::vFirst), 720);
}

}  // namespace
}  // namespace kv
