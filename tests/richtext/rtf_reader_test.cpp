// The RTF reader on hand-made input: what each construct gives as text, and hostile input
// that must load as far as it makes sense without crashing, hanging or eating memory.
#include <gtest/gtest.h>

#include <QTextBlock>

#include "richtext/merge_field.h"
#include "richtext/rich_document.h"
#include "richtext/rtf_reader.h"
#include "richtext_support.h"

namespace kv {
namespace {

using test::documentText;

class RtfReader : public ::testing::Test {
 protected:
  QString load(const QByteArray &rtf) {
    EXPECT_TRUE(doc.LoadRtf(rtf));
    return documentText(doc);
  }
  bool appReady_ = (test::GuiApp(), true);  // before any document
  TRichDocument doc;
};

TEST_F(RtfReader, TextOfEachConstruct) {
  struct Case {
    const char *rtf;
    const char *text;  // UTF-8
  } cases[] = {
      {R"({\rtf1 plain})", "plain"},
      {R"({\rtf1\ansi caf\'e9 \'80 \'93q\'94})", "café € “q”"},
      {R"({\rtf1 a\u8364?b})", "a€b"},
      {R"({\rtf1\uc2 a\u322\'6c\'6cb})", "ałb"},
      {R"({\rtf1\uc0 a\u321 b})", "aŁb"},
      {R"({\rtf1 {\uc3 x\u955 abc}y\u955 zz})", "xλyλz"},
      {R"({\rtf1 a\u-4064?b})",
       "a\xEF\x80\xA0"
       "b"},
      {R"({\rtf1 one\par two\line three\tab four})", "one\ntwo\nthree\tfour"},
      {R"({\rtf1 x{\*\unknown hidden}y{\*\generator Z;}z})", "xyz"},
      {R"({\rtf1{\stylesheet{\s0 Normal;}}{\info{\title T}}body})", "body"},
      {R"({\rtf1 a{\pict\pngblip 89504e47}b{\object{\*\objdata 0102}{\result c}}d})", "abd"},
      {R"({\rtf1 a\bin4 {}\}b})", "ab"},
      {R"({\rtf1 \{brace\} back\\slash \~nb})", "{brace} back\\slash \xC2\xA0nb"},
      {R"({\rtf1 {\listtext 1.\tab}item})", "1.\titem"},
      {R"({\rtf1 see {\field{\*\fldinst HYPERLINK "x"}{\fldrslt here}} now})", "see here now"},
      {R"({\rtf1 {\v hidden}shown})", "shown"},
      {R"({\rtf1 \trowd\cellx1000\cellx2000\intbl A\cell B\cell\row after\par})", "A\tB\nafter"},
      {R"({\rtf1 \trowd\cellx1000\cellx2000\intbl \cell B\cell\row})", "\tB"},
      {R"({\rtf1 first\par\par})", "first\n"},
      {R"({\rtf1 a\emdash b\endash c\bullet})", "a—b–c•"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rtf);
    EXPECT_EQ(load(c.rtf).toStdString(), std::string(c.text));
  }
}

TEST_F(RtfReader, CharacterAndParagraphFormatting) {
  load(R"({\rtf1{\fonttbl{\f0\froman Times New Roman;}{\f1\fswiss Arial;}})"
       R"({\colortbl;\red255\green0\blue0;})"
       R"(\pard\qc\li720\ri360\fi-360\sb120\sa240\sl-300\slmult0\tqr\tx5000\f1\fs28\b\i\ul\cf1 A)"
       R"(\plain\strike B\par\pard\sl360\slmult1\pagebb C\par})");
  const QTextBlock b = doc.begin();
  const ParagraphProps p = readParagraphProps(b.blockFormat());
  EXPECT_EQ(p.align, Qt::AlignHCenter);
  EXPECT_EQ(p.leftIndent, 720);
  EXPECT_EQ(p.rightIndent, 360);
  EXPECT_EQ(p.firstIndent, -360);
  EXPECT_EQ(p.spaceBefore, 120);
  EXPECT_EQ(p.spaceAfter, 240);
  EXPECT_EQ(p.lineMode, LineSpacing::Exactly);
  EXPECT_EQ(p.lineValue, 300);
  ASSERT_EQ(p.tabs.size(), 1);
  EXPECT_EQ(p.tabs[0], (TabStopTw{5000, TabStopTw::Right}));
  auto it = b.begin();
  QTextCharFormat a = it.fragment().charFormat();
  EXPECT_EQ(a.fontFamilies().toStringList().value(0), "Arial");
  EXPECT_EQ(a.fontPointSize(), 14);
  EXPECT_TRUE(a.fontWeight() >= QFont::Bold && a.fontItalic() && a.fontUnderline());
  EXPECT_EQ(a.foreground().color(), QColor(255, 0, 0));
  ++it;
  QTextCharFormat bf = it.fragment().charFormat();
  EXPECT_TRUE(bf.fontStrikeOut());
  EXPECT_EQ(bf.fontFamilies().toStringList().value(0), "Times New Roman");  // \deff0
  EXPECT_EQ(bf.fontPointSize(), 12);
  const ParagraphProps q = readParagraphProps(b.next().blockFormat());
  EXPECT_EQ(q.lineMode, LineSpacing::Multiple);
  EXPECT_EQ(q.lineValue, 360);
  EXPECT_TRUE(q.pageBreakBefore);
  EXPECT_EQ(q.align, Qt::AlignLeft);
}

TEST_F(RtfReader, PageBreakStartsTheNextParagraphOnANewPage) {
  EXPECT_EQ(load(R"({\rtf1 one\page two\par three})"), "one\ntwo\nthree");
  EXPECT_TRUE(readParagraphProps(doc.begin().next().blockFormat()).pageBreakBefore);
  EXPECT_FALSE(readParagraphProps(doc.begin().next().next().blockFormat()).pageBreakBefore);
}

TEST_F(RtfReader, MergeFieldsSurviveSaveAndLoad) {
  QTextCursor c(&doc);
  c.insertText("To: ");
  doc.InsertMergeField(c, 1, MergeFieldLabel(1));
  c.insertText(" at ");
  doc.InsertMergeField(c, 2, MergeFieldLabel(2));
  const QByteArray rtf = doc.SaveRtf();
  EXPECT_TRUE(rtf.contains("{\\field{\\*\\fldinst  MERGEFIELD F1 }{\\fldrslt {"));
  TRichDocument back;
  ASSERT_TRUE(back.LoadRtf(rtf));
  EXPECT_EQ(back.MergeFieldCount(), 2);
  EXPECT_EQ(back.SaveRtf(), rtf);
  // Filled through the callback: plain text with CR as line break, LF dropped; rich text.
  back.RunMerge([](int n) -> QString {
    return n == 1 ? QStringLiteral("Ann\r\nLee") : QStringLiteral("{\\rtf1 {\\b 555}}");
  });
  EXPECT_EQ(back.MergeFieldCount(), 0);
  EXPECT_EQ(documentText(back), "To: Ann\nLee at 555");
}

TEST_F(RtfReader, NotRtfIsRefused) {
  QString error;
  EXPECT_FALSE(doc.LoadRtf("plain text, not rtf", &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(doc.IsEmpty());
}

TEST_F(RtfReader, HostileInputLoadsAsFarAsItMakesSense) {
  QByteArray deep = "{\\rtf1 start ";
  for (int i = 0; i < 100000; ++i) deep += "{\\b";
  deep += " deep";
  QByteArray fonts = "{\\rtf1{\\fonttbl";
  for (int i = 0; i < 100000; ++i) fonts += "{\\f" + QByteArray::number(i) + " F;}";
  fonts += "}ok}";
  QByteArray junk(70000, '\0');
  for (int i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 7919) % 251);
  struct Case {
    const char *name;
    QByteArray rtf;
    const char *text;
  } cases[] = {
      {"truncated", "{\\rtf1 abc{\\b def", "abcdef"},
      {"unbalanced close", "{\\rtf1 abc}}}} def", "abc"},
      {"bin past end", "{\\rtf1 abc\\bin999999 xyz", "abc"},
      {"deep nesting", deep, "start deep"},
      {"huge font table", fonts, "ok"},
      {"junk after header", QByteArray("{\\rtf1 ") + junk, nullptr},
      {"huge parameter", "{\\rtf1\\fs99999999999999 a\\li-999999999999 b\\u99999999 c}", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(doc.LoadRtf(c.rtf));
    if (c.text) {
      EXPECT_EQ(documentText(doc).toStdString(), std::string(c.text));
    }
    // What was read can be written and read again.
    TRichDocument again;
    EXPECT_TRUE(again.LoadRtf(doc.SaveRtf()));
    EXPECT_EQ(documentText(again), documentText(doc));
  }
}

}  // namespace
}  // namespace kv
