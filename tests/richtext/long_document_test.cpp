// Long documents take work in proportion to their length: a change of resolution (zoom, or
// 200 dots per inch for fax pages) and the preparation of the pages change every paragraph's
// format in one edit, so the layout is redone once and not once per paragraph. Drawing the
// pages of a long fax says how far it got.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTextCursor>

#include "richtext/fax_render.h"
#include "richtext/rich_document.h"
#include "richtext_support.h"

namespace kv {
namespace {

constexpr int kParagraphs = 2000;

// How often `doc` tells its layout that its content changed while `step` runs.
template <typename Step>
int layoutNotices(QTextDocument &doc, Step step) {
  int notices = 0;
  const auto c = QObject::connect(&doc, &QTextDocument::contentsChange,
                                  [&notices](int, int, int) { ++notices; });
  step();
  QObject::disconnect(c);
  return notices;
}

class LongDocument : public ::testing::Test {
 protected:
  bool appReady_ = (test::GuiApp(), true);
};

TEST_F(LongDocument, FormatChangesOfAllParagraphsAreOneEdit) {
  TRichDocument doc;
  ASSERT_TRUE(doc.LoadRtf(test::manyParagraphsRtf(kParagraphs)));
  ASSERT_EQ(doc.blockCount(), kParagraphs);
  struct Case {
    const char *what;
    std::function<void(QTextDocument &)> step;
  } cases[] = {
      {"new resolution", [&](QTextDocument &) { doc.SetLayoutDpi(200); }},
      {"relayout", [&](QTextDocument &) { doc.Relayout(); }},
      {"fax page copy", [](QTextDocument &d) { PrepareFaxPageCopy(d, 200); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<QTextDocument> copy(doc.clone());
    QTextDocument &target = std::string(c.what) == "fax page copy" ? *copy : doc;
    EXPECT_LE(layoutNotices(target, [&] { c.step(target); }), 1);
  }
}

// Forty thousand paragraphs (834 pages): minutes of layout when each paragraph's change was
// laid out on its own, seconds now.
TEST_F(LongDocument, PagesOfFortyThousandParagraphs) {
  TRichDocument doc;
  ASSERT_TRUE(doc.LoadRtf(test::manyParagraphsRtf(40000)));
  EXPECT_EQ(doc.PageCount(kFaxPageDpi), 834);
}

TEST_F(LongDocument, EachPageDrawnIsAnnounced) {
  QTemporaryDir dir;
  QStringList said;
  RenderContext ctx{dir.path() + "/", {}, [&said](const QString &text) { said << text; }, {}};
  TRichDocument cover, document;
  ASSERT_TRUE(cover.LoadRtf("{\\rtf1 Cover sheet}"));
  ASSERT_TRUE(document.LoadRtf(test::manyParagraphsRtf(60)));
  int pages = 0;
  ASSERT_FALSE(RenderFax(cover, document, ctx, pages).isEmpty());
  ASSERT_EQ(pages, 3);
  const QStringList drawing = said.filter(QStringLiteral("Drawing page"));
  EXPECT_EQ(drawing, (QStringList{"Drawing page 1...", "Drawing page 2...", "Drawing page 3..."}))
      << test::joined(said);
}

}  // namespace
}  // namespace kv
