// Text input with the built-in font, the converter's status, abort, yielding and failure
// behaviour, and the caller-supplied line source.
#include <bit>
#include <cstring>
#include "base/exceptions.h"

#include "converter_test_util.h"
#include "faximage/converter_text.h"
#include "faximage/fax_font.h"

namespace kv::cvt {
namespace {

class TextConvert : public ::testing::Test {
 protected:
  Result convertText(const std::string &text) {
    writeFile(dir.file("doc.txt"), text);
    conv.setInputDocumentType(idText);
    conv.setDocumentFile(dir.file("doc.txt"));
    return conv.convert();
  }
  DecodedFile decoded() {
    DecodedFile f;
    EXPECT_EQ(decodeApf(dir.file("doc.APF"), f), ecOK);
    return f;
  }
  // Number of decoded lines that have any black pixel.
  static int inkedLines(const DecodedPage &p) {
    int n = 0;
    for (const auto &l : p.lines)
      n += std::any_of(l.begin(), l.end(), [](std::uint8_t b) { return b != 0; });
    return n;
  }

  ScratchDir dir;
  TKvFaxConverter conv;
};

TEST(FaxFont, BuiltInFontHasBothFontsAndLegibleGlyphs) {
  ASSERT_EQ(faxFontResource().size(), kFaxFontBytes);
  FaxFont small, standard, fine;
  ASSERT_EQ(small.load(ffSmall, false), ecOK);
  ASSERT_EQ(standard.load(ffStandard, false), ecOK);
  ASSERT_EQ(fine.load(ffStandard, true), ecOK);
  EXPECT_EQ(small.charWidth(), 12);
  EXPECT_EQ(small.rows(), 8);
  EXPECT_EQ(standard.charWidth(), 20);
  EXPECT_EQ(standard.rows(), 16);
  EXPECT_EQ(fine.rows(), 32);
  for (const FaxFont *f : {&small, &standard}) {
    auto ink = [&](std::uint8_t c) {
      int n = 0;
      for (int r = 0; r < f->rows(); ++r)
        for (int b = 0; b < f->rowBytes(); ++b) n += std::popcount(f->glyphRow(c, r)[b]);
      return n;
    };
    EXPECT_EQ(ink(' '), 0);
    EXPECT_EQ(ink(0x81), 0);  // unassigned in Windows-1252
    // Every printable character has ink, and distinct letters differ.
    for (int c = 0x21; c < 0x7F; ++c) EXPECT_GT(ink(static_cast<std::uint8_t>(c)), 0) << c;
    EXPECT_GT(ink(0xE9), 0);  // é
    EXPECT_GT(ink(0x80), 0);  // €
    // No pixel beyond the character width.
    for (int c = 0; c < 256; ++c)
      for (int r = 0; r < f->rows(); ++r) {
        const std::uint8_t *row = f->glyphRow(static_cast<std::uint8_t>(c), r);
        const int last = f->rowBytes() - 1;
        const int used = f->charWidth() - 8 * last;
        EXPECT_EQ(row[last] & (0xFF >> used), 0) << c;
      }
  }
  // Fine resolution repeats each row.
  for (int r = 0; r < 32; ++r)
    EXPECT_EQ(std::memcmp(fine.glyphRow('A', r), standard.glyphRow('A', r / 2), 3), 0);
}

TEST_F(TextConvert, LinesAreDrawnWithTheFontBesideTheMargin) {
  conv.setResolution(frNormal);
  ASSERT_EQ(convertText("AB\tC\r\nx\n"), ecOK);
  const DecodedFile f = decoded();
  ASSERT_EQ(f.pages.size(), 1u);
  const DecodedPage &p = f.pages[0];
  ASSERT_EQ(p.lines.size(), 32u);  // two text lines of 16 rows
  FaxFont font;
  ASSERT_EQ(font.load(ffStandard, false), ecOK);
  // "AB" then a tab to column 4: "C" starts at 4 * 20 pixels, all after the 50-pixel margin.
  const struct {
    char ch;
    int column, line;
  } placed[] = {{'A', 0, 0}, {'B', 1, 0}, {'C', 4, 0}, {'x', 0, 1}};
  for (const auto &pl : placed) {
    for (int r = 0; r < 16; ++r) {
      const std::uint8_t *g = font.glyphRow(static_cast<std::uint8_t>(pl.ch), r);
      for (int x = 0; x < 20; ++x) {
        const bool want = g[x / 8] & (0x80 >> (x % 8));
        EXPECT_EQ(p.pixel(50 + pl.column * 20 + x, pl.line * 16 + r), want)
            << pl.ch << " row " << r << " x " << x;
      }
    }
  }
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 50; ++x) ASSERT_FALSE(p.pixel(x, y));
  EXPECT_EQ(f.header.pageCount, 1);
}

TEST_F(TextConvert, PagesEndAtFormFeedsAndAtTheLineLimit) {
  conv.setResolution(frNormal);
  // A form feed in the middle of a line: the text after it starts the next page.
  ASSERT_EQ(convertText("first\fsecond\n"), ecOK);
  DecodedFile f = decoded();
  ASSERT_EQ(f.pages.size(), 2u);
  EXPECT_EQ(f.pages[0].lines.size(), 16u);
  EXPECT_EQ(f.pages[1].lines.size(), 16u);

  // Five lines at two a page: three pages; a form feed right at a page break and one at the
  // very end make no blank pages.
  conv.setLinesPerPage(2);
  ASSERT_EQ(convertText("1\n2\n\f3\n4\n5\n\f"), ecOK);
  f = decoded();
  ASSERT_EQ(f.pages.size(), 3u);
  EXPECT_EQ(f.pages[0].lines.size(), 32u);
  EXPECT_EQ(f.pages[2].lines.size(), 16u);

  // No limit: everything on one page.
  conv.setLinesPerPage(0);
  std::string many;
  for (int i = 0; i < 100; ++i) many += "line " + std::to_string(i) + "\n";
  ASSERT_EQ(convertText(many), ecOK);
  f = decoded();
  ASSERT_EQ(f.pages.size(), 1u);
  EXPECT_EQ(f.pages[0].lines.size(), 1600u);
}

TEST_F(TextConvert, EmptyFileGivesOneBlankLine) {
  conv.setResolution(frHigh);
  conv.setFontType(ffSmall);
  ASSERT_EQ(convertText(""), ecOK);
  const DecodedFile f = decoded();
  ASSERT_EQ(f.pages.size(), 1u);
  EXPECT_EQ(f.pages[0].lines.size(), 16u);  // 8 rows doubled at fine resolution
  EXPECT_EQ(inkedLines(f.pages[0]), 0);
  EXPECT_TRUE(f.pages[0].header.highResolution());
}

TEST_F(TextConvert, LongLinesAreCutToThePage) {
  conv.setResolution(frNormal);
  ASSERT_EQ(convertText(std::string(300, 'W') + "\n"), ecOK);
  const DecodedFile f = decoded();
  const DecodedPage &p = f.pages.at(0);
  // 1728 / 20 - 50 / 20 = 84 characters: the last ends at 50 + 84 * 20 = 1730, cut at 1728.
  int rightmost = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 1728; ++x)
      if (p.pixel(x, y)) rightmost = std::max(rightmost, x);
  EXPECT_GT(rightmost, 50 + 83 * 20);
  EXPECT_LT(rightmost, 1728);
}

TEST_F(TextConvert, Utf8TextIsShownInTheFontsCodePage) {
  EXPECT_EQ(toFaxCodePage("caf\xC3\xA9 \xE2\x82\xAC 5"), "caf\xE9 \x80 5");
  EXPECT_EQ(toFaxCodePage("\xE2\x98\x83"), "?");   // a snowman has no place in the code page
  EXPECT_EQ(toFaxCodePage("caf\xE9"), "caf\xE9");  // already Windows-1252: kept
  EXPECT_EQ(toFaxCodePage("\xC3\x28"), "\xC3\x28");
  EXPECT_EQ(toFaxCodePage("\xC0\x80"), "\xC0\x80");  // overlong: not UTF-8
}

TEST_F(TextConvert, StatusReportsProgressAndAbortRemovesTheOutput) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "0123456789\n";
  int starting = 0, ending = 0, calls = 0;
  std::int64_t lastDone = -1, total = 0;
  conv.OnStatus = [&](TKvCustomFaxConverter &, bool st, bool en, int page, int line,
                      std::int64_t done, std::int64_t of, bool &) {
    starting += st;
    ending += en;
    ++calls;
    EXPECT_GE(done, lastDone);
    lastDone = done;
    total = of;
    if (!st && !en) {
      EXPECT_EQ(page, 1);
      EXPECT_GE(line, 1);
    }
  };
  ASSERT_EQ(convertText(text), ecOK);
  EXPECT_EQ(starting, 1);
  EXPECT_EQ(ending, 1);
  EXPECT_EQ(calls, 2 + 10 * 16 + 1);  // every line, and the call that ends the page
  EXPECT_EQ(total, 110);
  EXPECT_EQ(lastDone, 110);

  fs::remove(dir.file("doc.APF"));
  conv.OnStatus = [&](TKvCustomFaxConverter &, bool, bool, int, int line, std::int64_t,
                      std::int64_t, bool &abort) { abort = line == 40; };
  EXPECT_EQ(convertText(text), ecConvertAbort);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"doc.txt"});
  try {
    conv.ConvertToFile();
    FAIL() << "no exception";
  } catch (const EKvException &e) {
    EXPECT_EQ(e.ErrorCode, ecConvertAbort);
    EXPECT_STREQ(e.className(), "EConvertAbort");
  }
}

TEST_F(TextConvert, YieldingServicesTheQueueAndQuitEndsTheConversion) {
  std::string text;
  for (int i = 0; i < 5; ++i) text += "x\f";
  int pumps = 0;
  conv.MessagePump = [&] { return ++pumps < 100; };
  conv.setOptions(coYield);
  ASSERT_EQ(convertText(text), ecOK);
  EXPECT_EQ(pumps, 5);  // once a page
  pumps = 0;
  conv.setOptions(coYieldOften);
  EXPECT_EQ(conv.Options(), static_cast<TFaxCvtOptions>(coYield | coYieldOften));
  ASSERT_EQ(convertText(text), ecOK);
  EXPECT_EQ(pumps, 5 + 5);  // and after the 16th line of each page
  fs::remove(dir.file("doc.APF"));
  conv.MessagePump = [] { return false; };
  EXPECT_EQ(convertText(text), ecGotQuitMsg);
  EXPECT_FALSE(fs::exists(dir.file("doc.APF")));
}

TEST_F(TextConvert, NamesAndArgumentsFollowTheRules) {
  TKvFaxConverter c;
  EXPECT_EQ(c.Options(), static_cast<TFaxCvtOptions>(coDoubleWidth | coCenterImage | coYield));
  EXPECT_EQ(c.LeftMargin(), 50);
  EXPECT_EQ(c.LinesPerPage(), 60);
  EXPECT_EQ(c.FontFile(), "KVFAX.FNT");
  c.setDocumentFile("/x/letter.txt");
  EXPECT_EQ(c.OutFileName(), "/x/letter.APF");
  c.setOutFileName("/x/out");
  EXPECT_EQ(c.resolvedOutputName(), "/x/out.APF");
  c.setStationID("123456789012345678901234");
  EXPECT_EQ(c.StationID(), "12345678901234567890");

  // No input kind, or a kind this component cannot read from a file.
  for (TFaxInputDocumentType t : {idNone, idBitmap}) {
    conv.setInputDocumentType(t);
    conv.setDocumentFile(dir.file("doc.txt"));
    EXPECT_EQ(conv.convert(), ecBadArgument);
    EXPECT_THROW(conv.ConvertToFile(), EBadArgument);
  }
  // The default extension is added when the name as given does not exist.
  writeFile(dir.file("memo.TXT"), "hello\n");
  conv.setInputDocumentType(idText);
  conv.setDocumentFile(dir.file("memo"));
  EXPECT_EQ(conv.resolvedInputName(), dir.file("memo.TXT"));
  ASSERT_EQ(conv.convert(), ecOK);
  EXPECT_TRUE(fs::exists(dir.file("memo.APF")));
  conv.setDocumentFile(dir.file("absent.txt"));
  EXPECT_EQ(conv.convert(), ecFileNotFound);
  EXPECT_THROW(conv.ConvertToFile(), EInOutError);
  EXPECT_FALSE(fs::exists(dir.file("absent.APF")));
}

TEST_F(TextConvert, StationIdAndDateAreWrittenToTheHeader) {
  conv.setStationID("+1 555 0100");
  ASSERT_EQ(convertText("hi\n"), ecOK);
  const DecodedFile f = decoded();
  EXPECT_EQ(f.header.senderId, "+1 555 0100");
  EXPECT_NE(f.header.faxDateTime, 0u);
}

TEST_F(TextConvert, CallerSuppliedLines) {
  // Three pages of 4 lines each; line n of a page has its n-th byte black.
  int page = 0, line = 0;
  std::vector<std::string> events;
  conv.setInputDocumentType(idUser);
  conv.setDocumentFile(dir.file("user"));
  conv.setOutFileName(dir.file("user.APF"));
  conv.setResolution(frHigh);
  conv.OnOpenUserFile = [&](TKvCustomFaxConverter &, const std::string &) {
    events.push_back("open");
  };
  conv.OnCloseUserFile = [&](TKvCustomFaxConverter &) { events.push_back("close"); };
  conv.OnReadUserLine = [&](TKvCustomFaxConverter &, std::uint8_t *data, int &len, bool &eop,
                            bool &more) {
    EXPECT_EQ(len, 216);
    if (line == 4) {
      eop = true;
      more = ++page < 3;
      line = 0;
      return;
    }
    data[line] = 0xFF;
    data[100] = 0xFF;  // beyond the length the handler reports: stays white
    len = 50;
    ++line;
  };
  ASSERT_EQ(conv.convert(), ecOK);
  EXPECT_EQ(events, (std::vector<std::string>{"open", "close"}));
  DecodedFile f;
  ASSERT_EQ(decodeApf(dir.file("user.APF"), f), ecOK);
  ASSERT_EQ(f.pages.size(), 3u);
  for (const auto &p : f.pages) {
    test::Raster want = test::blankRaster(1728, 4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) want.set(y * 8 + x, y);
    EXPECT_TRUE(pageShows(p, want, 50));
  }

  // A handler that throws: the exception reaches the caller and no output remains.
  conv.OnReadUserLine = [&](TKvCustomFaxConverter &, std::uint8_t *, int &, bool &, bool &) {
    throw std::runtime_error("device gone");
  };
  fs::remove(dir.file("user.APF"));
  EXPECT_THROW(conv.convert(), std::runtime_error);
  EXPECT_FALSE(fs::exists(dir.file("user.APF")));
  events.clear();
  conv.OnReadUserLine = nullptr;
  EXPECT_EQ(conv.convert(), ecBadArgument);
}

}  // namespace
}  // namespace kv::cvt
