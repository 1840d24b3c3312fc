// APF files: header layout, writing and page walking, failures on damaged or foreign files,
// joining files, and an independent reading of the coded data by libtiff.
#include "faximage/apf_file.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "raster_helpers.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using test::readBytes;
using test::TempDir;
using test::writeBytes;

// Writes each raster as one page.
void writeApf(const std::string &path, const std::vector<test::Raster> &pages, bool fine,
              const std::string &sender = "+1 555 0100") {
  ApfWriter w;
  ASSERT_EQ(w.create(path), ecOK);
  for (const auto &p : pages) {
    ASSERT_EQ(w.beginPage(fine, p.width == kFaxLineWide), ecOK);
    for (int y = 0; y < p.height; ++y) ASSERT_EQ(w.writeLine(p.row(y)), ecOK);
    ASSERT_EQ(w.endPage(), ecOK);
  }
  ASSERT_EQ(w.finish(sender), ecOK);
}

std::vector<Bytes> readLines(ApfReader &r, int page, Result *result = nullptr) {
  std::vector<Bytes> lines;
  ApfPageLocation loc;
  Result rc = r.locatePage(page, loc);
  if (rc == ecOK)
    rc = decodeApfPage(r, loc,
                       [&](const std::uint8_t *p, std::size_t n) { lines.emplace_back(p, p + n); });
  if (result) *result = rc;
  return lines;
}

void expectSame(const std::vector<Bytes> &lines, const test::Raster &src) {
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(src.height));
  for (int y = 0; y < src.height; ++y)
    ASSERT_EQ(lines[y], Bytes(src.row(y), src.row(y) + src.stride())) << "line " << y;
}

TEST(ApfFile, HeaderLayoutIsByteExact) {
  TempDir t;
  const std::string f = t.file("one.apf");
  test::Raster page = test::blankRaster(kFaxLineNormal, 2);
  ApfWriter w;
  ASSERT_EQ(w.create(f), ecOK);
  ASSERT_EQ(w.beginPage(true, false), ecOK);
  for (int y = 0; y < 2; ++y) ASSERT_EQ(w.writeLine(page.row(y)), ecOK);
  ASSERT_EQ(w.endPage(), ecOK);
  std::tm when{};
  when.tm_year = 2026 - 1900, when.tm_mon = 11, when.tm_mday = 7, when.tm_hour = 9,
  when.tm_min = 41, when.tm_sec = 33, when.tm_isdst = -1;
  ASSERT_EQ(w.finish("a sender id longer than twenty", std::mktime(&when)), ecOK);

  const Bytes b = readBytes(f);
  ASSERT_EQ(b.size(), 64u + 16 + 2 * 8 + 14);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), (Bytes{'A', 'P', 'F', '1', '0', 0x1A}));
  // 2026-12-07 09:41:33 -> date (46 << 9 | 12 << 5 | 7), time (9 << 11 | 41 << 5 | 16)
  const std::uint32_t dos =
      (((46u << 9) | (12u << 5) | 7u) << 16) | ((9u << 11) | (41u << 5) | 16u);
  EXPECT_EQ(b[6] | b[7] << 8 | b[8] << 16 | static_cast<std::uint32_t>(b[9]) << 24, dos);
  EXPECT_EQ(b[10], 20);
  EXPECT_EQ(std::string(b.begin() + 11, b.begin() + 31), "a sender id longer t");
  EXPECT_EQ(b[31], 0);
  EXPECT_EQ(b[32] | b[33] << 8, 1);
  EXPECT_EQ(b[34] | b[35] << 8 | b[36] << 16 | b[37] << 24, 64);
  for (int i = 38; i < 64; ++i) EXPECT_EQ(b[i], 0) << i;
  // Page header: length (two line records and the page-end record), flags fine + records.
  EXPECT_EQ(b[64] | b[65] << 8 | b[66] << 16 | b[67] << 24, 2 * 8 + 14);
  EXPECT_EQ(b[68] | b[69] << 8, 5);
  for (int i = 70; i < 80; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(Bytes(b.begin() + 80, b.begin() + 88),
            (Bytes{6, 0, 0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}));
  EXPECT_EQ(Bytes(b.end() - 14, b.end()),
            (Bytes{12, 0, 0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00}));

  // Short ids are space-padded; dates outside 1980-2099 are 0.
  ApfMainHeader h;
  h.senderId = "ID";
  auto hb = h.toBytes();
  EXPECT_EQ(hb[10], 2);
  EXPECT_EQ(hb[12 + 1], ' ');
  std::tm old{};
  old.tm_year = 79, old.tm_mday = 1;
  EXPECT_EQ(packDosDateTime(old), 0u);
  std::tm back{};
  ASSERT_TRUE(unpackDosDateTime(dos, back));
  EXPECT_EQ(back.tm_year, 126);
  EXPECT_EQ(back.tm_min, 41);
}

TEST(ApfFile, PagesRoundTripAtBothWidthsAndResolutions) {
  TempDir t;
  const std::vector<test::Raster> pages = {
      test::textRaster(kFaxLineNormal, 1100, 1), test::randomRaster(kFaxLineWide, 300, 0.4, 2),
      test::textRaster(kFaxLineWide, 800, 3), test::randomRaster(kFaxLineNormal, 200, 0.05, 4)};
  for (bool fine : {false, true}) {
    const std::string f = t.file(fine ? "fine.apf" : "normal.apf");
    writeApf(f, pages, fine);
    ApfReader r;
    ASSERT_EQ(r.open(f), ecOK);
    EXPECT_EQ(r.header().pageCount, 4);
    EXPECT_EQ(r.header().senderId, "+1 555 0100");
    // Out of order on purpose: walking must not depend on the previous page read.
    for (int n : {3, 1, 4, 2}) {
      SCOPED_TRACE(n);
      ApfPageLocation loc;
      ASSERT_EQ(r.locatePage(n, loc), ecOK);
      EXPECT_EQ(loc.header.highResolution(), fine);
      EXPECT_EQ(loc.header.widthPixels(), pages[n - 1].width);
      expectSame(readLines(r, n), pages[n - 1]);
    }
  }
}

TEST(ApfFile, ItuChartsRoundTripAtTheExpectedCodedSize) {
  TempDir t;
  // MH sizes from two independent coders (README beside the charts): ours may differ only by
  // the record length words, the 16-bit EOLs and the padding bytes of each record.
  const std::map<int, long> reference = {{1, 37414}, {4, 108066}};
  for (int chart = 1; chart <= 8; ++chart) {
    SCOPED_TRACE(chart);
    test::Raster src;
    ASSERT_TRUE(test::readPbm(
        std::string(KORVANE_TESTDATA) + "/itu/itu" + std::to_string(chart) + ".pbm", src));
    ASSERT_EQ(src.width, kFaxLineNormal);
    const std::string f = t.file("chart.apf");
    writeApf(f, {src}, true);
    ApfReader r;
    ASSERT_EQ(r.open(f), ecOK);
    expectSame(readLines(r, 1), src);
    if (auto it = reference.find(chart); it != reference.end()) {
      ApfPageLocation loc;
      ASSERT_EQ(r.locatePage(1, loc), ecOK);
      const long coded = static_cast<long>(loc.header.imageLength) - 2L * (src.height + 1);
      EXPECT_GT(coded, it->second);
      EXPECT_LT(coded, it->second + 3 * src.height);
    }
  }
}

// The coded data of an APF page without its length words, as libtiff reads a Group 3 1-D strip.
TEST(ApfFile, LibtiffDecodesTheCodedDataToTheSameRaster) {
  TempDir t;
  test::Raster itu;
  ASSERT_TRUE(test::readPbm(std::string(KORVANE_TESTDATA) + "/itu/itu2.pbm", itu));
  const std::vector<test::Raster> pages = {itu, test::textRaster(kFaxLineWide, 500, 11),
                                           test::randomRaster(kFaxLineNormal, 150, 0.3, 12)};
  const std::string f = t.file("x.apf");
  writeApf(f, pages, true);
  const Bytes file = readBytes(f);
  std::size_t at = 64;
  for (const auto &page : pages) {
    const std::uint32_t len =
        file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24;
    Bytes raw;
    for (std::size_t p = at + 16; p < at + 16 + len;) {
      const std::size_t n = file[p] | file[p + 1] << 8;
      raw.insert(raw.end(), file.begin() + static_cast<long>(p) + 2,
                 file.begin() + static_cast<long>(p + 2 + n));
      p += 2 + n;
    }
    at += 16 + len;

    const std::string tif = t.file("page.tif");
    TIFF *out = TIFFOpen(tif.c_str(), "w");
    ASSERT_NE(out, nullptr);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(out, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, page.height);
    ASSERT_GT(TIFFWriteRawStrip(out, 0, raw.data(), static_cast<tmsize_t>(raw.size())), 0);
    TIFFClose(out);

    TIFF *in = TIFFOpen(tif.c_str(), "r");
    ASSERT_NE(in, nullptr);
    Bytes row(static_cast<std::size_t>(page.stride()));
    for (int y = 0; y < page.height; ++y) {
      ASSERT_EQ(TIFFReadScanline(in, row.data(), static_cast<std::uint32_t>(y)), 1) << y;
      ASSERT_EQ(row, Bytes(page.row(y), page.row(y) + page.stride())) << "row " << y;
    }
    TIFFClose(in);
  }
}

TEST(ApfFile, EmptyFilesAndZeroLinePages) {
  TempDir t;
  const std::string f = t.file("empty.apf");
  {
    ApfWriter w;
    ASSERT_EQ(w.create(f), ecOK);
    ASSERT_EQ(w.finish(""), ecOK);
  }
  ApfReader r;
  ASSERT_EQ(r.open(f), ecOK);  // PageCount 0 opens...
  EXPECT_EQ(r.header().pageCount, 0);
  ApfPageLocation loc;
  EXPECT_EQ(r.locatePage(1, loc), ecFaxBadFormat);  // ...but has no page to read

  writeApf(f, {test::blankRaster(kFaxLineNormal, 0)}, false);
  ASSERT_EQ(r.open(f), ecOK);
  Result rc;
  EXPECT_TRUE(readLines(r, 1, &rc).empty());
  EXPECT_EQ(rc, ecOK);
  EXPECT_EQ(r.locatePage(0, loc), ecFaxBadFormat);
  EXPECT_EQ(r.locatePage(2, loc), ecFaxBadFormat);

  // A page with no image data at all, followed by a normal page.
  ApfMainHeader h;
  h.pageCount = 2;
  auto hb = h.toBytes();
  Bytes file(hb.begin(), hb.end());
  auto empty = ApfPageHeader{}.toBytes();
  file.insert(file.end(), empty.begin(), empty.end());
  const Bytes page2 = readBytes(f);
  file.insert(file.end(), page2.begin() + 64, page2.end());
  writeBytes(f, file);
  ASSERT_EQ(r.open(f), ecOK);
  EXPECT_TRUE(readLines(r, 1, &rc).empty());
  EXPECT_EQ(rc, ecOK);
  readLines(r, 2, &rc);
  EXPECT_EQ(rc, ecOK);
}

TEST(ApfFile, DamagedAndForeignFilesFailWithTheFormatCode) {
  TempDir t;
  const std::string good = t.file("good.apf");
  writeApf(good,
           {test::textRaster(kFaxLineNormal, 300, 5), test::textRaster(kFaxLineNormal, 300, 6)},
           true);
  const Bytes b = readBytes(good);
  const std::string f = t.file("bad.apf");
  ApfReader r;
  ApfPageLocation loc;

  EXPECT_EQ(r.open(""), ecFileNotFound);
  EXPECT_EQ(r.open(t.file("missing.apf")), ecFileNotFound);
  writeBytes(f, Bytes(b.begin(), b.begin() + 40));  // shorter than a header
  EXPECT_EQ(r.open(f), ecFaxBadFormat);
  Bytes sig = b;
  sig[4] = '1';  // "APF11"
  writeBytes(f, sig);
  EXPECT_EQ(r.open(f), ecFaxBadFormat);
  writeBytes(f, Bytes{'P', '4', '\n', '1', '7', '2', '8'});
  EXPECT_EQ(r.open(f), ecFaxBadFormat);

  // A page count larger than the file holds: the walk runs off the end.
  Bytes many = b;
  many[32] = 0xFF, many[33] = 0x7F;
  writeBytes(f, many);
  ASSERT_EQ(r.open(f), ecOK);
  EXPECT_EQ(r.locatePage(2, loc), ecOK);
  EXPECT_EQ(r.locatePage(3, loc), ecFaxBadFormat);
  EXPECT_EQ(r.locatePage(30000, loc), ecFaxBadFormat);

  // Absurd lengths and offsets.
  Bytes len = b;
  len[64 + 3] = 0x7F;  // ImageLength of page 1 about 2 GB
  writeBytes(f, len);
  ASSERT_EQ(r.open(f), ecOK);
  Result rc;
  EXPECT_EQ(readLines(r, 1, &rc).size(), 300u);  // the page ends at its return-to-control
  EXPECT_EQ(rc, ecOK);
  EXPECT_EQ(r.locatePage(2, loc), ecFaxBadFormat);
  Bytes off = b;
  off[37] = 0x40;  // FirstPageOffset beyond the file
  writeBytes(f, off);
  ASSERT_EQ(r.open(f), ecOK);
  EXPECT_EQ(r.locatePage(1, loc), ecFaxBadFormat);

  // Truncated inside page 2: page 1 still reads, page 2 reports the early end.
  writeBytes(f, Bytes(b.begin(), b.end() - 100));
  ASSERT_EQ(r.open(f), ecOK);
  EXPECT_EQ(readLines(r, 1, &rc).size(), 300u);
  EXPECT_EQ(rc, ecOK);
  readLines(r, 2, &rc);
  EXPECT_EQ(rc, ecFaxBadFormat);
}

TEST(ApfFile, PagesWithoutRecordsAreReadAsOneStream) {
  TempDir t;
  const test::Raster page = test::textRaster(kFaxLineNormal, 600, 21);
  // The records' data back to back, under a header without flag 4.
  T4Encoder enc;
  Bytes data;
  for (int y = 0; y < page.height; ++y) {
    auto rec = enc.encodeLine(page.row(y), kFaxLineNormal);
    data.insert(data.end(), rec.begin(), rec.end());
  }
  data.insert(data.end(), kApfPageEndRecord.begin(), kApfPageEndRecord.end());
  ApfMainHeader h;
  h.pageCount = 1;
  auto hb = h.toBytes();
  Bytes file(hb.begin(), hb.end());
  ApfPageHeader ph;
  ph.imageFlags = apfHighResolution;
  ph.imageLength = static_cast<std::uint32_t>(data.size());
  auto pb = ph.toBytes();
  file.insert(file.end(), pb.begin(), pb.end());
  file.insert(file.end(), data.begin(), data.end());
  const std::string f = t.file("stream.apf");
  writeBytes(f, file);
  ApfReader r;
  ASSERT_EQ(r.open(f), ecOK);
  expectSame(readLines(r, 1), page);

  // A read that returns nothing before ImageLength bytes: the format code.
  file.resize(file.size() - 5000);
  writeBytes(f, file);
  ASSERT_EQ(r.open(f), ecOK);
  Result rc;
  readLines(r, 1, &rc);
  EXPECT_EQ(rc, ecFaxBadFormat);
}

TEST(ApfFile, LongRecordsAreCutAt4096Bytes) {
  TempDir t;
  const std::string f = t.file("long.apf");
  T4Encoder enc;
  const test::Raster page = test::textRaster(kFaxLineNormal, 50, 2);
  ApfWriter w;
  ASSERT_EQ(w.create(f), ecOK);
  ASSERT_EQ(w.beginPage(false, false), ecOK);
  // One line followed by 5000 bytes of fill in the same record; the next record must still
  // be found at its place.
  auto rec = enc.encodeLine(page.row(45), kFaxLineNormal);
  Bytes big(rec.begin(), rec.end());
  big.resize(5000, 0);
  ASSERT_EQ(w.writeRecord(big), ecOK);
  for (int y = 0; y < 3; ++y) ASSERT_EQ(w.writeLine(page.row(y)), ecOK);
  ASSERT_EQ(w.finish("x"), ecOK);
  ApfReader r;
  ASSERT_EQ(r.open(f), ecOK);
  auto lines = readLines(r, 1);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], Bytes(page.row(2), page.row(2) + 216));
}

TEST(AppendApfPages, JoinsPagesAndKeepsTheDestinationHeader) {
  TempDir t;
  const std::string a = t.file("KRV_1.APF"), b = t.file("KRVAX2.APF"), c = t.file("KRVAX3.APF");
  const auto p1 = test::textRaster(kFaxLineNormal, 400, 31),
             p2 = test::textRaster(kFaxLineNormal, 500, 32),
             p3 = test::randomRaster(kFaxLineWide, 100, 0.2, 33);
  writeApf(a, {p1}, true, "first");
  writeApf(b, {p2}, true, "second");
  writeApf(c, {p3}, false, "third");
  const Bytes before = readBytes(a);
  ASSERT_EQ(AppendApfPages(a, b), ecOK);
  ASSERT_EQ(AppendApfPages(a, c), ecOK);

  ApfReader r;
  ASSERT_EQ(r.open(a), ecOK);
  EXPECT_EQ(r.header().pageCount, 3);
  EXPECT_EQ(r.header().senderId, "first");
  EXPECT_EQ(readBytes(a).size(), readBytes(b).size() + readBytes(c).size() + before.size() - 128);
  expectSame(readLines(r, 3), p3);
  expectSame(readLines(r, 1), p1);
  expectSame(readLines(r, 2), p2);
  ApfPageLocation loc;
  ASSERT_EQ(r.locatePage(3, loc), ecOK);
  EXPECT_FALSE(loc.header.highResolution());

  // Missing files: file not found; a foreign file is never written into.
  EXPECT_EQ(AppendApfPages(a, t.file("none.apf")), ecFileNotFound);
  EXPECT_EQ(AppendApfPages(t.file("none.apf"), a), ecFileNotFound);
  const std::string foreign = t.file("notes.txt");
  writeBytes(foreign, Bytes(100, 'x'));
  EXPECT_EQ(AppendApfPages(foreign, b), ecFaxBadFormat);
  EXPECT_EQ(readBytes(foreign), Bytes(100, 'x'));
  EXPECT_EQ(AppendApfPages(a, foreign), ecFaxBadFormat);
  ASSERT_EQ(r.open(a), ecOK);
  EXPECT_EQ(r.header().pageCount, 3);
}

}  // namespace
}  // namespace kv
