// The line-side T.4 stream: MH and MR pages coded bit-tight with the fill the minimum scan-line
// time asks, read back by our decoder and by libtiff's, libtiff's MR read by ours, and damaged
// MR rows recovered at the next one-dimensional row.
#include "faximage/t4_stream.h"

#include "faximage/t4_coder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster_helpers.h"
#include "support/temp_files.h"
#include "tiff_g3.h"

namespace kv {
namespace {

using test::Bytes;
using test::Raster;

struct Coded {
  Bytes bytes;
  std::vector<std::uint64_t> rowStart;  // bit offset of each row's EOL
};

Coded encode(const Raster &r, T4Coding coding, int k, int minBits = 0) {
  T4StreamEncoder e;
  e.begin({coding, k, r.width, minBits});
  Coded c;
  for (int y = 0; y < r.height; ++y) {
    c.rowStart.push_back(e.bitCount());
    e.putRow(r.row(y));
  }
  e.end();
  c.bytes = e.bytes();
  return c;
}

Raster decode(const Bytes &b, int width, T4Coding coding, T4DecodeResult &res) {
  Raster out = test::blankRaster(width, 0);
  T4StreamDecoder d(width, coding);
  res = d.decode(b.data(), b.size(), [&](const std::uint8_t *row) {
    out.bits.insert(out.bits.end(), row, row + width / 8);
    ++out.height;
  });
  return out;
}

Raster itu(int n) {
  Raster r;
  EXPECT_TRUE(
      test::readPbm(std::string(KORVANE_TESTDATA) + "/itu/itu" + std::to_string(n) + ".pbm", r));
  return r;
}

struct Page {
  const char *name;
  Raster raster;
};

std::vector<Page> pages() {
  Raster black = test::blankRaster(kFaxLineNormal, 6);
  std::fill(black.bits.begin(), black.bits.end(), 0xFF);
  return {{"itu1", itu(1)},
          {"itu4", itu(4)},
          {"text wide", test::textRaster(kFaxLineWide, 400, 3)},
          {"noise", test::randomRaster(kFaxLineNormal, 120, 0.3, 5)},
          {"sparse noise", test::randomRaster(kFaxLineNormal, 120, 0.01, 6)},
          {"white", test::blankRaster(kFaxLineNormal, 5)},
          {"black", black}};
}

// Every coding both decoders read back pixel for pixel, with the page end found.
TEST(T4Stream, RoundTripsThroughOursAndLibtiff) {
  test::TempDir t;
  for (const auto &p : pages()) {
    for (auto [coding, k] : {std::pair{T4Coding::Mh, 1}, {T4Coding::Mr, 2}, {T4Coding::Mr, 4}}) {
      SCOPED_TRACE(std::string(p.name) + (coding == T4Coding::Mr ? " MR k=" : " MH k=") +
                   std::to_string(k));
      const Coded c = encode(p.raster, coding, k, 77);
      T4DecodeResult res;
      const Raster back = decode(c.bytes, p.raster.width, coding, res);
      EXPECT_TRUE(res.pageEnded);
      EXPECT_EQ(res.badRows, 0u);
      ASSERT_EQ(back.height, p.raster.height);
      EXPECT_TRUE(back.bits == p.raster.bits);

      Raster lib;
      ASSERT_TRUE(test::tiffDecodeG3(t.file("x.tif"), c.bytes, p.raster.width, p.raster.height,
                                     coding == T4Coding::Mr, lib));
      EXPECT_TRUE(lib.bits == p.raster.bits);
    }
  }
}

TEST(T4Stream, ReadsLibtiffCoding) {
  test::TempDir t;
  for (const auto &p : pages()) {
    for (bool twoD : {false, true}) {
      SCOPED_TRACE(std::string(p.name) + (twoD ? " 2D" : " 1D"));
      const Bytes raw = test::tiffEncodeG3(t.file("y.tif"), p.raster, twoD);
      ASSERT_FALSE(raw.empty());
      T4DecodeResult res;
      const Raster back = decode(raw, p.raster.width, twoD ? T4Coding::Mr : T4Coding::Mh, res);
      EXPECT_EQ(res.badRows, 0u);
      ASSERT_EQ(back.height, p.raster.height);
      EXPECT_TRUE(back.bits == p.raster.bits);
    }
  }
}

// Rows take exactly their codes, or the minimum when that is more: fill, never padding to
// bytes; the page ends on a byte boundary.
TEST(T4Stream, FillsOnlyToTheMinimumScanLineTime) {
  const Raster page = itu(1);
  for (auto coding : {T4Coding::Mh, T4Coding::Mr}) {
    const Coded tight = encode(page, coding, 4, 0);
    for (int minBits : {0, 96, 400}) {
      const Coded c = encode(page, coding, 4, minBits);
      for (int y = 0; y + 1 < page.height; ++y) {
        const auto natural = tight.rowStart[std::size_t(y) + 1] - tight.rowStart[std::size_t(y)];
        const auto got = c.rowStart[std::size_t(y) + 1] - c.rowStart[std::size_t(y)];
        ASSERT_EQ(got, std::max<std::uint64_t>(natural, std::uint64_t(minBits))) << "row " << y;
      }
    }
  }
  // The measure of the whole thing: chart 1 at fine resolution, against the coded size of
  // one-dimensional coders with EOLs and RTC (37,414 bytes), and MR well below that.
  EXPECT_LE(encode(page, T4Coding::Mh, 1).bytes.size(), 37414u + 16);
  EXPECT_LT(encode(page, T4Coding::Mr, 4).bytes.size(), 37414u * 7 / 10);
}

// A damaged row spoils the two-dimensional rows coded against it, up to the next
// one-dimensional row; the page keeps its height, the spoilt rows repeat the last good one.
TEST(T4Stream, DamagedRowRecoversAtTheNextOneDimensionalRow) {
  const Raster page = test::randomRaster(kFaxLineNormal, 40, 0.2, 9);
  struct Case {
    T4Coding coding;
    int k;
    int row;  // the damaged row
    std::size_t bad;
  } cases[] = {
      {T4Coding::Mr, 4, 9, 3},   // a 2D row: it and the 2D rows after it up to row 12
      {T4Coding::Mr, 4, 8, 4},   // a 1D row: the whole group of four
      {T4Coding::Mr, 2, 11, 1},  // a 2D row before a 1D row
      {T4Coding::Mh, 1, 9, 1},   // one-dimensional rows stand alone
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("row " + std::to_string(c.row) + " k=" + std::to_string(c.k));
    Coded coded = encode(page, c.coding, c.k);
    // The row's first code becomes eight 0 bits and four 1 bits: no code word of either
    // dimension starts so, and with the EOL before it the zeros are too few for an EOL.
    std::uint64_t at = coded.rowStart[std::size_t(c.row)] + 12 + (c.coding == T4Coding::Mr);
    for (int i = 0; i < 12; ++i, ++at) {
      const auto bit = std::uint8_t(1u << (at % 8));
      coded.bytes[at / 8] = i < 8 ? coded.bytes[at / 8] & ~bit : coded.bytes[at / 8] | bit;
    }
    T4DecodeResult res;
    const Raster back = decode(coded.bytes, page.width, c.coding, res);
    EXPECT_TRUE(res.pageEnded);
    EXPECT_EQ(res.badRows, c.bad);
    ASSERT_EQ(back.height, page.height);
    for (int y = 0; y < page.height; ++y) {
      const bool spoilt = y >= c.row && y < c.row + int(c.bad);
      const Raster &want = page;
      const int wantRow = spoilt ? c.row - 1 : y;
      EXPECT_TRUE(std::equal(back.row(y), back.row(y) + back.stride(), want.row(wantRow)))
          << "row " << y;
    }
  }
}

// Garbage before the first EOL is ignored; data that ends inside a row counts it bad;
// an empty stream gives nothing.
TEST(T4Stream, EdgesOfThePage) {
  const Raster page = test::textRaster(kFaxLineNormal, 30, 2);
  Coded c = encode(page, T4Coding::Mr, 2);
  Bytes noisy = {0xFF, 0x3C, 0x5A};
  noisy.insert(noisy.end(), c.bytes.begin(), c.bytes.end());
  T4DecodeResult res;
  Raster back = decode(noisy, page.width, T4Coding::Mr, res);
  EXPECT_TRUE(back.bits == page.bits);

  const Bytes cut(c.bytes.begin(), c.bytes.begin() + long(c.rowStart[20] / 8 + 3));
  back = decode(cut, page.width, T4Coding::Mr, res);
  EXPECT_FALSE(res.pageEnded);
  EXPECT_EQ(res.rows, 21u);
  EXPECT_EQ(res.badRows, 1u);

  back = decode({}, page.width, T4Coding::Mr, res);
  EXPECT_EQ(res.rows, 0u);
}

}  // namespace
}  // namespace kv
