// The control as its windows use it: the spell checker's word pass, merge fields, paragraph
// attributes at the caret, and pagination.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <QPixmap>
#include <QTextBlock>

#include "richtext/merge_field.h"
#include "richtext/rich_edit.h"
#include "richtext_support.h"
#include "support/modal.h"

namespace kv {
namespace {

class RichEdit : public ::testing::Test {
 protected:
  bool appReady_ = (test::GuiApp(), true);
  TRichEdit edit;
};

TEST_F(RichEdit, WordPassWalksMarksAndReplaces) {
  ASSERT_TRUE(edit.LoadRtf(R"({\rtf1 Teh {\b quick} brwn fox's 42nd den's\par x-ray})"));
  edit.StartWordPass();
  QStringList words;
  for (QString w = edit.NextWord(); !w.isEmpty(); w = edit.NextWord()) {
    words << w;
    if (w == "Teh") {
      edit.MarkWord();
      EXPECT_EQ(edit.textCursor().selectedText(), "Teh");
      edit.ReplaceWord("The");
    }
    if (w == "brwn") edit.ReplaceWord("brown");
  }
  EXPECT_EQ(words, (QStringList{"Teh", "quick", "brwn", "fox's", "den's", "x", "ray"}));
  EXPECT_TRUE(edit.NextWord().isEmpty());
  edit.EndWordPass();
  EXPECT_FALSE(edit.textCursor().hasSelection());
  EXPECT_TRUE(edit.extraSelections().isEmpty());
  EXPECT_EQ(test::documentText(*edit.Document()), "The quick brown fox's 42nd den's\nx-ray");
  // The replacement keeps the word's format: "brown" is not bold like its neighbour.
  TRichDocument back;
  ASSERT_TRUE(back.LoadRtf(edit.SaveRtf()));
  EXPECT_EQ(test::formatRuns(back).value(1).section('|', 2, 2), "b");
  EXPECT_EQ(test::formatRuns(back).value(1).section('|', 3), "quick");
}

TEST_F(RichEdit, MergeAsksForEachFieldByNumber) {
  for (int n = 1; n <= kMergeFieldCount; ++n) {
    edit.InsertMergeField(n, MergeFieldLabel(n));
    edit.insertPlainText(" ");
  }
  edit.InsertMergeField(kMergeFieldCount + 1, "[OTHER]");
  EXPECT_EQ(edit.Document()->MergeFieldCount(), kMergeFieldCount + 1);
  QList<int> asked;
  edit.OnGetTextToInsert = [&](int n) {
    asked << n;
    return n <= 3 ? QString() : QStringLiteral("v%1").arg(n);
  };
  edit.Merge();
  EXPECT_EQ(asked, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(test::documentText(*edit.Document()), "   v4 v5 v6 v7 v8 v9");
}

TEST_F(RichEdit, ParagraphIndentsAndSpacingInTwips) {
  edit.SetParagraphIndents(1440, 720, 360);
  edit.SetParagraphSpacing(240, 0, 120);
  TRichEdit::IndentsAndSpacing v = edit.GetIndentsAndSpacing();
  EXPECT_EQ(v.firstIndent, 1440);
  EXPECT_EQ(v.leftIndent, 720);
  EXPECT_EQ(v.rightIndent, 360);
  EXPECT_EQ(v.spaceBefore, 240);
  EXPECT_EQ(v.spaceAfter, 120);
  EXPECT_EQ(v.lineHeight, 0);
  EXPECT_EQ(edit.ParagraphAttributes().firstIndent, 720);  // RTF's \fi is relative
  // A proportional spacing reads as 0 and survives a dialog that leaves the height alone.
  ASSERT_TRUE(edit.LoadRtf(R"({\rtf1\pard\sl360\slmult1 x})"));
  edit.SetParagraphSpacing(0, edit.GetIndentsAndSpacing().lineHeight, 0);
  EXPECT_EQ(edit.ParagraphAttributes().lineMode, LineSpacing::Multiple);
  edit.SetParagraphSpacing(0, 300, 0);
  EXPECT_EQ(edit.ParagraphAttributes().lineMode, LineSpacing::AtLeast);
  EXPECT_EQ(edit.GetIndentsAndSpacing().lineHeight, 300);
}

TEST_F(RichEdit, CaretAttributesGoToWhatIsTypedNext) {
  QTextCharFormat f;
  f.setFontFamilies({"Times New Roman"});
  f.setFontPointSize(14);
  f.setFontWeight(QFont::Bold);
  edit.SetCaretAttributes(f);
  edit.insertPlainText("Hello");
  const QTextCharFormat got = edit.Document()->begin().begin().fragment().charFormat();
  EXPECT_EQ(got.fontFamilies().toStringList().value(0), "Times New Roman");
  EXPECT_EQ(got.fontPointSize(), 14);
  EXPECT_GE(got.fontWeight(), QFont::Bold);
}

TEST_F(RichEdit, PagesBreakWhereTheDocumentAsks) {
  QByteArray longDoc = "{\\rtf1\\fs24 ";
  for (int i = 0; i < 200; ++i) longDoc += "Line " + QByteArray::number(i) + "\\par ";
  longDoc += "}";
  struct Case {
    QByteArray rtf;
    int pages;
  } cases[] = {
      {"{\\rtf1 one}", 1},
      {"{\\rtf1 one\\page two\\par three\\par\\pard\\pagebb four}", 3},
      {"{\\rtf1 \\pard\\pagebb first}", 1},
      {longDoc, 4},  // 200 lines of 12 pt at about 55 lines per 10-inch page
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rtf.left(60).toStdString());
    ASSERT_TRUE(edit.LoadRtf(c.rtf));
    EXPECT_EQ(edit.Document()->PageCount(200), c.pages);
  }
}

// Page Break ends the page at the caret: the words after it go to the next page and the words
// before it stay; at the start of a paragraph that paragraph moves. The editor shows a dashed
// line where the break is.
TEST_F(RichEdit, PageBreakSplitsAtTheCaretAndShowsALine) {
  struct Case {
    int caret;  // in "First half second half"
    QStringList paragraphs;
  } cases[] = {
      {11, {"First half ", "second half"}},
      {0, {"First half second half"}},
      {22, {"First half second half", ""}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.caret);
    ASSERT_TRUE(edit.LoadRtf("{\\rtf1\\fs24 First half second half\\par\\pard Next paragraph}"));
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(c.caret);
    edit.setTextCursor(cursor);
    edit.InsertPageBreak();
    QStringList blocks;
    for (QTextBlock b = edit.document()->begin(); b.isValid(); b = b.next()) blocks << b.text();
    EXPECT_EQ(blocks.mid(0, c.paragraphs.size()), c.paragraphs);
    EXPECT_EQ(blocks.last(), "Next paragraph");  // the next paragraph is untouched
    EXPECT_EQ(edit.Document()->PageCount(200), c.caret == 0 ? 1 : 2);
  }

  // Drawn: some line of the view between the two halves is mostly ink, none is before.
  ASSERT_TRUE(edit.LoadRtf("{\\rtf1\\fs24 First half second half}"));
  edit.resize(500, 300);
  edit.show();
  auto dashedRowBetweenHalves = [&] {
    const QImage view = edit.viewport()->grab().toImage();
    const int top = edit.cursorRect(QTextCursor(edit.document()->firstBlock())).bottom();
    const int bottom = edit.cursorRect(QTextCursor(edit.document()->lastBlock())).top();
    for (int y = top; y <= bottom && y < view.height(); ++y) {
      int ink = 0;
      for (int x = 0; x < view.width(); ++x) ink += qGray(view.pixel(x, y)) < 160;
      if (ink > view.width() / 3) return true;
    }
    return false;
  };
  QTextCursor cursor = edit.textCursor();
  cursor.setPosition(11);
  edit.setTextCursor(cursor);
  edit.InsertPageBreak();
  EXPECT_TRUE(dashedRowBetweenHalves());
  test::Snapshot(edit, "rich_edit_page_break");
  QTextCursor plain(edit.document()->lastBlock());
  QTextBlockFormat f = plain.blockFormat();
  f.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
  plain.setBlockFormat(f);
  EXPECT_FALSE(dashedRowBetweenHalves());
}

TEST_F(RichEdit, CopyAndPasteKeepFormattingThroughRtf) {
  ASSERT_TRUE(edit.LoadRtf(R"({\rtf1\pard\li720 plain {\b bold} {\i italic}\par})"));
  edit.selectAll();
  edit.copy();
  TRichEdit other;
  other.paste();
  EXPECT_EQ(test::formatRuns(*other.Document()), test::formatRuns(*edit.Document()));
  EXPECT_EQ(other.ParagraphAttributes().leftIndent, 720);
  // Plain text from elsewhere takes the format at the caret.
  QTextCharFormat big;
  big.setFontPointSize(20);
  other.SetCaretAttributes(big);
  auto *plain = new QMimeData;
  plain->setText("typed\r\nin");
  QApplication::clipboard()->setMimeData(plain);
  other.Clear();
  other.SetCaretAttributes(big);
  other.paste();
  EXPECT_EQ(other.Document()->toPlainText(), "typed\nin");
  EXPECT_EQ(other.Document()->begin().begin().fragment().charFormat().fontPointSize(), 20);
}

TEST_F(RichEdit, EmptyMeansNoCharacters) {
  EXPECT_TRUE(edit.IsEmpty());
  edit.InsertMergeField(1, MergeFieldLabel(1));
  EXPECT_FALSE(edit.IsEmpty());
  edit.Clear();
  EXPECT_TRUE(edit.IsEmpty());
  QString error;
  EXPECT_FALSE(edit.LoadRtf("junk", &error));
  EXPECT_TRUE(edit.IsEmpty());
}

}  // namespace
}  // namespace kv
