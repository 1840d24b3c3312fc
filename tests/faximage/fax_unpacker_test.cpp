// The unpacker: raster lines and bitmaps, auto-scaling, whitespace compression, scaling, abort
// and its failure codes.
#include "faximage/fax_unpacker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/exceptions.h"
#include "raster_helpers.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct FaxUnpacker : testing::Test {
  std::string file(const std::string &n) const { return dir.file(n); }

  // One page per raster.
  std::string write(const std::string &name, const std::vector<test::Raster> &pages, bool fine) {
    const std::string f = file(name);
    ApfWriter w;
    EXPECT_EQ(w.create(f), ecOK);
    for (const auto &p : pages) {
      EXPECT_EQ(w.beginPage(fine, p.width == kFaxLineWide), ecOK);
      for (int y = 0; y < p.height; ++y) EXPECT_EQ(w.writeLine(p.row(y)), ecOK);
      EXPECT_EQ(w.endPage(), ecOK);
    }
    EXPECT_EQ(w.finish("unpack"), ecOK);
    return f;
  }

  // Lines delivered by the raster output.
  std::vector<Bytes> lines(TKvFaxUnpacker &u, int page, Result *rc = nullptr) {
    std::vector<Bytes> got;
    u.OnOutputLine = [&](TKvCustomFaxUnpacker &, bool starting, bool ending, const std::uint8_t *d,
                         int len, int) {
      if (!starting && !ending) got.emplace_back(d, d + len);
    };
    const Result r = u.unpackPage(page);
    if (rc) *rc = r;
    return got;
  }

  test::TempDir dir{"kvunp"};
};

TEST_F(FaxUnpacker, AutoScaleModesOnNormalAndFinePages) {
  const auto page = test::textRaster(kFaxLineNormal, 1000, 41);
  const std::string normal = write("n.apf", {page}, false), fine = write("f.apf", {page}, true);
  TKvFaxUnpacker u;
  u.setInFileName(normal);
  EXPECT_EQ(u.AutoScaleMode(), asDoubleHeight);
  EXPECT_EQ(u.UnpackPageToBitmap(1).height, 2000);  // normal resolution doubled
  auto doubled = lines(u, 1);
  ASSERT_EQ(doubled.size(), 2000u);
  EXPECT_EQ(doubled[100], doubled[101]);
  EXPECT_EQ(doubled[100], Bytes(page.row(50), page.row(50) + 216));

  u.setAutoScaleMode(asNone);
  EXPECT_EQ(lines(u, 1).size(), 1000u);
  u.setAutoScaleMode(asHalfWidth);
  auto halved = lines(u, 1);
  ASSERT_EQ(halved.size(), 1000u);
  EXPECT_EQ(halved[0].size(), 108u);

  u.setInFileName(fine);  // fine pages are never scaled
  for (auto mode : {asNone, asDoubleHeight, asHalfWidth}) {
    u.setAutoScaleMode(mode);
    auto got = lines(u, 1);
    ASSERT_EQ(got.size(), 1000u);
    EXPECT_EQ(got[999], Bytes(page.row(999), page.row(999) + 216));
  }
}

TEST_F(FaxUnpacker, BitmapsEqualTheSourceRasterAtBothWidthsAndResolutions) {
  for (int width : {kFaxLineNormal, kFaxLineWide}) {
    for (bool fine : {false, true}) {
      SCOPED_TRACE(testing::Message() << width << (fine ? " fine" : " normal"));
      test::Raster page = test::randomRaster(width, 150, 0.3, static_cast<unsigned>(width + fine));
      page.set(width - 1, 0);  // the whole width is used, so the bitmap is not cut
      TKvFaxUnpacker u;
      u.setAutoScaleMode(asNone);
      u.setInFileName(write("rt.apf", {page}, fine));
      const MonoBitmap bm = u.UnpackPageToBitmap(1);
      ASSERT_EQ(bm.width, width);
      ASSERT_EQ(bm.height, 150);
      for (int y = 0; y < 150; ++y)
        ASSERT_EQ(Bytes(bm.row(y), bm.row(y) + width / 8),
                  Bytes(page.row(y), page.row(y) + width / 8))
            << "row " << y;
    }
  }
}

TEST_F(FaxUnpacker, HalvingKeepsBlackInLinesButNotInBitmaps) {
  // Pixel pairs: (black, white) everywhere in the first bytes, a solid block further on.
  test::Raster page = test::blankRaster(kFaxLineNormal, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 64; x += 2) page.set(x, y);
    for (int x = 64; x < 96; ++x) page.set(x, y);
  }
  TKvFaxUnpacker u;
  u.setInFileName(write("h.apf", {page}, false));
  u.setAutoScaleMode(asHalfWidth);
  auto got = lines(u, 1);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0][0], 0xFF);  // either pixel black: black
  EXPECT_EQ(got[0][4], 0xFF);  // pixels 64..79 from the block
  const MonoBitmap bm = u.UnpackPageToBitmap(1);
  EXPECT_EQ(bm.height, 4);
  EXPECT_EQ(bm.row(0)[0], 0x00);  // only one of each pair black: white
  EXPECT_EQ(bm.row(0)[4], 0xFF);
  EXPECT_EQ(bm.width, 48);  // 6 used bytes
}

TEST_F(FaxUnpacker, BitmapIsCutToTheUsedWidth) {
  test::Raster page = test::blankRaster(kFaxLineNormal, 30);
  for (int x = 100; x < 700; ++x) page.set(x, 10);  // last black pixel 699: byte 87
  TKvFaxUnpacker u;
  u.setInFileName(write(
      "w.apf", {page, test::blankRaster(kFaxLineWide, 5), test::blankRaster(kFaxLineNormal, 0)},
      true));
  MonoBitmap bm = u.UnpackPageToBitmap(1);
  EXPECT_EQ(bm.width, 88 * 8);  // 88 bytes used, already even
  EXPECT_EQ(bm.height, 30);
  EXPECT_TRUE(bm.pixel(699, 10));
  EXPECT_FALSE(bm.pixel(700, 10));
  EXPECT_FALSE(bm.pixel(150, 11));
  bm = u.UnpackPageToBitmap(2);  // all white: one byte, rounded up to two
  EXPECT_EQ(bm.width, 16);
  EXPECT_EQ(bm.height, 5);
  EXPECT_TRUE(u.UnpackPageToBitmap(3).empty());  // no rows
}

TEST_F(FaxUnpacker, WhitespaceCompression) {
  // Text line, 25 blank, text, 5 blank, text, 12 blank (at the end).
  auto build = [](std::vector<int> blanks) {
    int h = 0;
    for (int b : blanks) h += b + 1;
    test::Raster page = test::blankRaster(kFaxLineNormal, h);
    int y = 0;
    for (int b : blanks) {
      page.set(5 + y, y);
      y += 1 + b;
    }
    return page;
  };
  TKvFaxUnpacker u;
  u.setAutoScaleMode(asNone);
  u.setInFileName(write("ws.apf", {build({25, 5, 12})}, true));
  u.setWhitespaceCompression(true);
  u.setWhitespaceFrom(10);
  u.setWhitespaceTo(2);
  auto got = lines(u, 1);
  // 1 + 2 + 1 + 5 + 1 + 2
  ASSERT_EQ(got.size(), 12u);
  EXPECT_NE(got[3][3], 0);  // the second text line (its pixel is at x = 31)
  EXPECT_EQ(u.UnpackPageToBitmap(1).height, 12);

  // Equal limits: blank lines pending at the end are not delivered.
  u.setWhitespaceTo(10);
  EXPECT_EQ(lines(u, 1).size(), 1u + 10 + 1 + 5 + 1);

  // Off, or a limit of 0 for both: nothing is compressed.
  u.setWhitespaceFrom(0);
  u.setWhitespaceTo(0);
  EXPECT_EQ(lines(u, 1).size(), 45u);

  // Refused limits.
  Result rc;
  u.setWhitespaceFrom(2);
  u.setWhitespaceTo(10);
  lines(u, 1, &rc);
  EXPECT_EQ(rc, ecBadArgument);
  u.setWhitespaceFrom(0);
  u.setWhitespaceTo(3);
  lines(u, 1, &rc);
  EXPECT_EQ(rc, ecBadArgument);
  EXPECT_THROW(u.UnpackPageToBitmap(1), EBadArgument);
}

TEST_F(FaxUnpacker, ScalingStretchesTheBitmap) {
  test::Raster page = test::blankRaster(kFaxLineNormal, 100);
  for (int y = 0; y < 100; ++y) page.set(1727, y);  // full width used
  page.set(10, 51);                                 // one pixel survives shrinking
  TKvFaxUnpacker u;
  u.setInFileName(write("s.apf", {page}, true));
  u.setScaling(true);
  u.setHorizMult(0);  // ignored
  EXPECT_EQ(u.HorizMult(), 1);
  u.setHorizDiv(2);
  u.setVertDiv(4);
  MonoBitmap bm = u.UnpackPageToBitmap(1);
  EXPECT_EQ(bm.width, 864);
  EXPECT_EQ(bm.height, 25);
  EXPECT_TRUE(bm.pixel(5, 12));
  EXPECT_TRUE(bm.pixel(863, 0));
  u.setHorizMult(3);
  u.setHorizDiv(1);
  u.setVertMult(2);
  u.setVertDiv(1);
  bm = u.UnpackPageToBitmap(1);
  EXPECT_EQ(bm.width, 1728 * 3);
  EXPECT_EQ(bm.height, 200);
  EXPECT_TRUE(bm.pixel(31, 103));
  u.setHorizMult(1 << 30);
  EXPECT_EQ(u.unpackPageToBitmap(1, bm), ecCantMakeBitmap);

  // A page far taller than any paper (here 40000 lines doubled) is refused, not allocated.
  u.setScaling(false);
  const std::string tall = file("tall.apf");
  ApfWriter w;
  ASSERT_EQ(w.create(tall), ecOK);
  ASSERT_EQ(w.beginPage(false, false), ecOK);
  const std::vector<std::uint8_t> white(216, 0);
  for (int y = 0; y < 40000; ++y) ASSERT_EQ(w.writeLine(white.data()), ecOK);
  ASSERT_EQ(w.finish("tall"), ecOK);
  u.setInFileName(tall);
  EXPECT_EQ(u.unpackPageToBitmap(1, bm), ecCantMakeBitmap);
  u.setAutoScaleMode(asNone);
  EXPECT_EQ(u.unpackPageToBitmap(1, bm), ecOK);
  EXPECT_EQ(bm.height, 40000);
}

TEST_F(FaxUnpacker, AbortStopsTheUnpackingAndIsThenCleared) {
  TKvFaxUnpacker u;
  u.setInFileName(write("a.apf", {test::textRaster(kFaxLineNormal, 500, 5)}, true));
  int pumped = 0;
  u.MessagePump = [&] {
    if (++pumped == 3) u.setOptions(u.Options() | uoAbort);
  };
  Result rc;
  auto got = lines(u, 1, &rc);
  EXPECT_EQ(rc, ecUnpackAbort);
  EXPECT_EQ(got.size(), 48u);  // stopped at the 48th line, where the third pump ran
  EXPECT_EQ(u.Options(), static_cast<unsigned>(uoYield));
  u.MessagePump = nullptr;
  EXPECT_EQ(lines(u, 1).size(), 500u);
  // Without uoYield the pump is not called.
  u.setOptions(0);
  u.MessagePump = [&] { ADD_FAILURE() << "pumped without uoYield"; };
  EXPECT_EQ(lines(u, 1).size(), 500u);
}

TEST_F(FaxUnpacker, ReportsStatusAndBracketsTheLines) {
  TKvFaxUnpacker u;
  const std::string f = write("st.apf", {test::textRaster(kFaxLineWide, 64, 5)}, true);
  u.setInFileName(f);
  EXPECT_EQ(u.OutFileName(), file("st"));
  u.setOutFileName("elsewhere");
  u.setInFileName(file("ST.APF").substr(0, file("ST.APF").size()) == f ? f : f);
  EXPECT_EQ(u.OutFileName(), "elsewhere");  // the same name again leaves it alone
  std::int64_t last = 0, total = 0;
  int calls = 0;
  u.OnStatus = [&](TKvCustomFaxUnpacker &, const std::string &name, int page, std::int64_t done,
                   std::int64_t all) {
    EXPECT_EQ(name, f);
    EXPECT_EQ(page, 1);
    EXPECT_GE(done, last);
    last = done, total = all, ++calls;
  };
  std::vector<std::string> events;
  u.OnOutputLine = [&](TKvCustomFaxUnpacker &, bool s, bool e, const std::uint8_t *, int len,
                       int page) {
    EXPECT_EQ(page, 1);
    events.push_back(s ? "start" : e ? "end" : std::to_string(len));
  };
  ASSERT_EQ(u.unpackPage(1), ecOK);
  ASSERT_EQ(events.size(), 66u);
  EXPECT_EQ(events.front(), "start");
  EXPECT_EQ(events[1], "256");
  EXPECT_EQ(events.back(), "end");
  EXPECT_EQ(last, total);
  EXPECT_GE(calls, 64);
  EXPECT_EQ(u.NumPages(), 1);
  EXPECT_TRUE(u.FirstPageHighResolution());
  EXPECT_TRUE(u.FirstPageWide());
}

TEST_F(FaxUnpacker, FailuresGiveTheirCodesAndExceptions) {
  TKvFaxUnpacker u;
  MonoBitmap bm;
  EXPECT_EQ(u.unpackPageToBitmap(1, bm), ecFileNotFound);  // no name
  int n = -1;
  EXPECT_EQ(u.numPages(n), ecFileNotFound);
  u.setInFileName(file("absent.apf"));
  EXPECT_EQ(u.unpackPage(1), ecFileNotFound);
  EXPECT_THROW(u.NumPages(), EInOutError);

  const std::string f = write(
      "two.apf", {test::textRaster(kFaxLineNormal, 50, 1), test::textRaster(kFaxLineNormal, 50, 2)},
      true);
  u.setInFileName(f);
  EXPECT_EQ(u.unpackPageToBitmap(3, bm), ecFaxBadFormat);
  EXPECT_EQ(u.unpackPageToBitmap(0, bm), ecFaxBadFormat);
  EXPECT_THROW(u.UnpackPageToBitmap(3), EFaxBadFormat);
  fs::resize_file(f, fs::file_size(f) - 200);
  EXPECT_EQ(u.unpackPageToBitmap(1, bm), ecOK);
  EXPECT_EQ(u.unpackPageToBitmap(2, bm), ecFaxBadFormat);  // data ends early
  EXPECT_TRUE(bm.empty());
  std::FILE *fp = std::fopen(f.c_str(), "r+b");
  std::fputs("GIF89", fp);
  std::fclose(fp);
  EXPECT_EQ(u.numPages(n), ecFaxBadFormat);
}

}  // namespace
}  // namespace kv
