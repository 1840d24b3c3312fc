// The paper of a document: the locale's by default, Letter, Legal or A4 chosen in the paragraph
// dialog, kept in the RTF and read back, and a fax page long enough for a whole page of it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QPushButton>

#include "richtext/fax_render.h"
#include "richtext/paper_size.h"
#include "richtext/paragraph_prop_dlg.h"
#include "richtext/rich_document.h"
#include "richtext/rich_edit.h"
#include "richtext_support.h"
#include "support/modal.h"

namespace kv {
namespace {

class PaperSizeTest : public ::testing::Test {
 protected:
  bool appReady_ = (test::GuiApp(), true);
};

PageLayoutTw paper(int index) {
  PageLayoutTw page;
  page.width = kPaperSizes[index].width;
  page.height = kPaperSizes[index].height;
  return page;
}

constexpr int kLetter = 0, kLegal = 1, kA4 = 2;

TEST_F(PaperSizeTest, TheLocaleChoosesLetterOrA4) {
  const struct {
    const char *locale;
    int paper;
  } cases[] = {{"en_US", kLetter}, {"en_CA", kLetter}, {"fr_CA", kLetter}, {"es_MX", kLetter},
               {"de_DE", kA4},     {"en_GB", kA4},     {"ja_JP", kA4},     {"en_AU", kA4}};
  for (const auto &c : cases) {
    const PageLayoutTw page = LocalePageLayout(QLocale(c.locale));
    EXPECT_EQ(PaperSizeIndex(page), c.paper) << c.locale;
    EXPECT_EQ(page.left, 720) << c.locale;
  }
}

TEST_F(PaperSizeTest, ThePaperGoesThroughTheRtf) {
  for (int i : {kLetter, kLegal, kA4}) {
    SCOPED_TRACE(kPaperSizes[i].name);
    TRichDocument doc, back;
    PageLayoutTw page = paper(i);
    page.left = 1000;
    doc.SetPageLayout(page);
    QTextCursor(&doc).insertText("text");
    const QByteArray rtf = doc.SaveRtf();
    EXPECT_TRUE(rtf.contains("\\paperw" + QByteArray::number(page.width) + "\\paperh" +
                             QByteArray::number(page.height)));
    ASSERT_TRUE(back.LoadRtf(rtf));
    EXPECT_TRUE(back.HasOwnPageSize());
    EXPECT_EQ(back.PageLayout(), page);
  }
  const struct {
    QByteArray rtf;
    bool own;
    PageLayoutTw page;
  } cases[] = {
      {"{\\rtf1 no paper named}", false, PageLayoutTw{}},
      // Junk is held to what can be a page: 3 to 22 inches, margins leaving room for text.
      {"{\\rtf1\\paperw5\\paperh999999\\margl9000 x}", true, PageLayoutTw{4320, 31680}},
  };
  for (const auto &c : cases) {
    TRichDocument doc;
    ASSERT_TRUE(doc.LoadRtf(c.rtf));
    EXPECT_EQ(doc.HasOwnPageSize(), c.own) << c.rtf.toStdString();
    EXPECT_EQ(doc.PageLayout(), c.page) << c.rtf.toStdString();
  }
}

TEST_F(PaperSizeTest, TheParagraphDialogChangesThePaper) {
  TRichEdit edit;
  ASSERT_TRUE(edit.LoadRtf("{\\rtf1\\paperw12240\\paperh15840\\margl1000 text}"));
  TParagraphPropDlg dlg;
  dlg.Editor = &edit;
  dlg.show();
  ASSERT_EQ(dlg.PaperCombo->count(), 3);
  EXPECT_EQ(dlg.PaperCombo->currentText(), "Letter");
  test::Snapshot(dlg, "paragraph_dialog_paper");
  dlg.PaperCombo->setCurrentIndex(dlg.PaperCombo->findText("A4"));
  dlg.Okbutton->click();
  PageLayoutTw a4 = paper(kA4);
  a4.left = 1000;  // the margins stay
  EXPECT_EQ(edit.PageLayout(), a4);

  // A paper of its own is shown and kept when nothing else is chosen.
  ASSERT_TRUE(edit.LoadRtf("{\\rtf1\\paperw10000\\paperh14000 text}"));
  dlg.show();
  EXPECT_EQ(dlg.PaperCombo->count(), 4);
  EXPECT_TRUE(dlg.PaperCombo->currentText().startsWith("Other"))
      << dlg.PaperCombo->currentText().toStdString();
  dlg.Okbutton->click();
  EXPECT_EQ(edit.PageLayout().width, 10000);
}

// A full page of A4 or Legal text is drawn whole: the fax page is as long as the paper needs,
// and the last line of the page has ink below where a Letter page ends.
TEST_F(PaperSizeTest, AFullLongPageIsDrawnWhole) {
  const struct {
    int paper, height;
  } cases[] = {{kLetter, kFaxPageHeight}, {kA4, 2295}, {kLegal, 2756}};
  for (const auto &c : cases) {
    SCOPED_TRACE(kPaperSizes[c.paper].name);
    TRichDocument doc;
    QByteArray rtf = "{\\rtf1\\paperw" + QByteArray::number(kPaperSizes[c.paper].width) +
                     "\\paperh" + QByteArray::number(kPaperSizes[c.paper].height) + "\\fs24 ";
    for (int i = 0; i < 120; ++i) rtf += "Line of text number " + QByteArray::number(i) + "\\par ";
    ASSERT_TRUE(doc.LoadRtf(rtf + "}"));
    QImage image;
    EXPECT_GT(DrawFaxPage(doc, image, 0), 0);  // more pages follow
    ASSERT_EQ(image.height(), c.height);
    EXPECT_EQ(FaxPageHeight(doc.PageLayout()), c.height);
    int lowestInk = 0;
    for (int y = 0; y < image.height() - 1; ++y)
      for (int x = 0; x < kFaxPageWidth / 2; ++x)
        if (qGray(image.pixel(x, y)) < 128) lowestInk = y;
    // The text reaches to within an inch of the paper's text bottom.
    const int textBottom =
        kFaxPageOffset + (kPaperSizes[c.paper].height - 1440) * kFaxPageDpi / 1440;
    EXPECT_GT(lowestInk, textBottom - kFaxPageDpi);
    EXPECT_LE(lowestInk, textBottom);
  }
}

}  // namespace
}  // namespace kv
