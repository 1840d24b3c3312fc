// Image inputs of the converter, written by other programs (netpbm, libtiff, ImageMagick) from
// the ITU charts, converted and decoded back: every pixel must land where it belongs.
#include <tiffio.h>

#include <cstring>

#include "converter_test_util.h"
#include "faximage/bmp_reader.h"
#include "faximage/converter_source.h"
#include "faximage/dither.h"

namespace kv::cvt {
namespace {

class ImageConvert : public ::testing::Test {
 protected:
  // Converts `file` as `type` with the program's own settings unless a test changes them.
  Result convert(const std::string &file, TFaxInputDocumentType type) {
    conv.setInputDocumentType(type);
    conv.setDocumentFile(file);
    conv.setOutFileName(dir.file("out.APF"));
    return conv.convert();
  }
  DecodedFile decoded() {
    DecodedFile f;
    EXPECT_EQ(decodeApf(dir.file("out.APF"), f), ecOK);
    return f;
  }
  void SetUp() override {
    conv.setOptions(coYield);
    conv.setResolution(frHigh);
  }

  ScratchDir dir;
  TKvFaxConverter conv;
};

TEST_F(ImageConvert, PageBitmapLandsBesideTheLeftMargin) {
  // The page bitmap of the rendering step: 1664 pixels wide, placed at 50 in a 1728 line.
  const test::Raster src = ituChart(1, 1664, 300, 30, 200);
  writePbm(dir.file("p.pbm"), src);
  ASSERT_TRUE(sh("ppmtobmp " + dir.file("p.pbm") + " > " + dir.file("p.bmp")));
  ASSERT_EQ(convert(dir.file("p.bmp"), idBmp), ecOK);
  const DecodedFile f = decoded();
  ASSERT_EQ(f.pages.size(), 1u);
  EXPECT_TRUE(f.pages[0].header.highResolution());
  EXPECT_FALSE(f.pages[0].header.wide());
  EXPECT_TRUE(pageShows(f.pages[0], src, 50));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out.APF", "p.bmp", "p.pbm"}));
}

TEST_F(ImageConvert, BmpOrientationAndPaletteAreHonoured) {
  // Written by hand: a top-down BMP whose palette has white at index 0.
  const int w = 20, h = 3;
  Bytes b(62 + 4 * h, 0);
  b[0] = 'B', b[1] = 'M', b[10] = 62, b[14] = 40, b[18] = w;
  const std::int32_t negH = -h;
  std::memcpy(&b[22], &negH, 4);
  b[26] = 1, b[28] = 1;
  b[54] = b[55] = b[56] = 0xFF;  // index 0 white, index 1 black
  b[62] = 0x80;                  // row 0 (top): pixel 0 black
  b[62 + 4 * 2 + 2] = 0x10;      // row 2: pixel 19 black
  writeBytes(dir.file("t.bmp"), b);
  conv.setOptions(0);
  ASSERT_EQ(convert(dir.file("t.bmp"), idBmp), ecOK);
  const DecodedFile f = decoded();
  ASSERT_EQ(f.pages.size(), 1u);
  test::Raster want = test::blankRaster(w, h);
  want.set(0, 0);
  want.set(19, 2);
  EXPECT_TRUE(pageShows(f.pages[0], want, 50));
}

TEST_F(ImageConvert, RefusedBmpsLeaveNoOutputAndKeepAnEarlierFile) {
  writeBytes(dir.file("out.APF"), Bytes{'o', 'l', 'd'});
  // Wider than the page.
  writePbm(dir.file("wide.pbm"), test::blankRaster(1800, 10));
  ASSERT_TRUE(sh("ppmtobmp " + dir.file("wide.pbm") + " > " + dir.file("wide.bmp")));
  EXPECT_EQ(convert(dir.file("wide.bmp"), idBmp), ecBadGraphicsFormat);
  // Cut off in its pixel rows.
  writePbm(dir.file("p.pbm"), ituChart(2, 1664, 100));
  ASSERT_TRUE(sh("ppmtobmp " + dir.file("p.pbm") + " > " + dir.file("p.bmp")));
  Bytes cut = readBytes(dir.file("p.bmp"));
  cut.resize(cut.size() / 2);
  writeBytes(dir.file("cut.bmp"), cut);
  EXPECT_EQ(convert(dir.file("cut.bmp"), idBmp), ecBadGraphicsFormat);
  // Not a picture at all, and a header claiming absurd dimensions.
  writeFile(dir.file("text.bmp"), "hello");
  EXPECT_EQ(convert(dir.file("text.bmp"), idBmp), ecBadGraphicsFormat);
  Bytes huge = readBytes(dir.file("p.bmp"));
  huge[22] = huge[23] = huge[24] = 0xFF, huge[25] = 0x7F;
  writeBytes(dir.file("huge.bmp"), huge);
  EXPECT_EQ(convert(dir.file("huge.bmp"), idBmp), ecBadGraphicsFormat);
  EXPECT_EQ(convert(dir.file("missing.bmp"), idBmp), ecFileNotFound);

  EXPECT_EQ(readBytes(dir.file("out.APF")), (Bytes{'o', 'l', 'd'}));
  for (const auto &name : dir.entries()) EXPECT_EQ(name.find("~part"), std::string::npos) << name;
}

TEST_F(ImageConvert, ColourBmpIsDitheredThroughATemporaryFile) {
  // A 4-bit picture: black, white and mid-grey bands. The grey band must come out as a
  // mixture, the others solid, and the temporary file must be gone afterwards.
  const int w = 96, h = 48;
  std::ofstream ppm(dir.file("c.ppm"), std::ios::binary);
  ppm << "P6\n" << w << " " << h << "\n255\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const char v = x < 32 ? 0 : x < 64 ? 60 : static_cast<char>(255);
      const char px[3] = {v, v, v};
      ppm.write(px, 3);
    }
  ppm.close();
  ASSERT_TRUE(
      sh("convert " + dir.file("c.ppm") + " -colors 16 -type Palette bmp3:" + dir.file("c.bmp")));
  FileInput in;
  ASSERT_EQ(in.open(dir.file("c.bmp")), ecOK);
  ASSERT_TRUE(bmpNeedsDither(in));
  in.close();

  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  conv.setOptions(0);
  const Result r = convert(dir.file("c.bmp"), idBmp);
  fs::current_path(cwd);
  ASSERT_EQ(r, ecOK);
  for (const auto &name : dir.entries()) EXPECT_NE(name.rfind(kDitherTempPrefix, 0), 0u) << name;

  const DecodedFile f = decoded();
  ASSERT_EQ(f.pages.size(), 1u);
  ASSERT_EQ(f.pages[0].lines.size(), static_cast<std::size_t>(h));
  int greyBlack = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool black = f.pages[0].pixel(50 + x, y);
      if (x < 32) {
        EXPECT_TRUE(black) << x << "," << y;
      } else if (x >= 64) {
        EXPECT_FALSE(black) << x << "," << y;
      }
      if (x >= 32 && x < 64) greyBlack += black;
    }
  // Grey 60 of 255: the pattern's thresholds of 60 and more stay black, the rest turn white.
  int expected = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 32; x < 64; ++x) expected += ditherThreshold(x, y) >= 60;
  EXPECT_NEAR(greyBlack, expected, 32 * h / 10);
  EXPECT_LT(greyBlack, 32 * h);
}

TEST_F(ImageConvert, DitherPatternMatchesTheKnownThresholds) {
  const int firstRow[16] = {0, 96, 48, 112, 24, 120, 56, 120, 12, 108, 60, 124, 28, 124, 60, 124};
  for (int j = 0; j < 16; ++j) EXPECT_EQ(ditherThreshold(0, j), firstRow[j]) << j;
  EXPECT_EQ(ditherThreshold(16, 17), ditherThreshold(0, 1));
}

// TIFF files written by libtiff itself, in both byte orders, raw and PackBits, with several
// strips and both photometric interpretations.
void writeTiff(const std::string &path, const test::Raster &r, const char *mode, int compression,
               int photometric, int rowsPerStrip) {
  TIFF *t = TIFFOpen(path.c_str(), mode);
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, r.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, r.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(r.stride()));
  for (int y = 0; y < r.height; ++y) {
    for (int i = 0; i < r.stride(); ++i)
      row[static_cast<std::size_t>(i)] = photometric == PHOTOMETRIC_MINISWHITE
                                             ? r.row(y)[i]
                                             : static_cast<std::uint8_t>(~r.row(y)[i]);
    ASSERT_EQ(TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0), 1);
  }
  TIFFClose(t);
}

TEST_F(ImageConvert, TiffKindsConvertToTheSamePixels) {
  const test::Raster src = ituChart(4, 1001, 120, 300, 600);  // odd width: padding bits
  struct Kind {
    const char *mode;
    int compression, photometric, rowsPerStrip;
  } kinds[] = {{"wl", COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 7},
               {"wb", COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 1000},
               {"wl", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, 16},
               {"wb", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 1}};
  conv.setOptions(0);
  for (const Kind &k : kinds) {
    SCOPED_TRACE(std::string(k.mode) + " " + std::to_string(k.compression));
    writeTiff(dir.file("t.tif"), src, k.mode, k.compression, k.photometric, k.rowsPerStrip);
    ASSERT_EQ(convert(dir.file("t.tif"), idTiff), ecOK);
    const DecodedFile f = decoded();
    ASSERT_EQ(f.pages.size(), 1u);
    EXPECT_TRUE(pageShows(f.pages[0], src, 50));
  }
  // netpbm's writer, as another independent one.
  writePbm(dir.file("s.pbm"), src);
  ASSERT_TRUE(sh("pnmtotiff -packbits " + dir.file("s.pbm") + " > " + dir.file("n.tif")));
  ASSERT_EQ(convert(dir.file("n.tif"), idTiff), ecOK);
  EXPECT_TRUE(pageShows(decoded().pages.at(0), src, 50));
}

TEST_F(ImageConvert, UnsupportedTiffsAreRefused) {
  const test::Raster src = ituChart(1, 200, 20);
  writeTiff(dir.file("wide.tif"), ituChart(1, 1800, 4), "wl", COMPRESSION_NONE,
            PHOTOMETRIC_MINISWHITE, 4);
  EXPECT_EQ(convert(dir.file("wide.tif"), idTiff), ecBadGraphicsFormat);  // wider than a line
  writeTiff(dir.file("huge.tif"), test::blankRaster(40000, 2), "wl", COMPRESSION_PACKBITS,
            PHOTOMETRIC_MINISWHITE, 1);  // rows past the 4096 pixels any fax line can hold
  EXPECT_EQ(convert(dir.file("huge.tif"), idTiff), ecBadGraphicsFormat);
  ASSERT_TRUE(sh("tiffcp -c g3 " + dir.file("wide.tif") + " " + dir.file("g3.tif")));
  EXPECT_EQ(convert(dir.file("g3.tif"), idTiff), ecBadGraphicsFormat);
  writeTiff(dir.file("ok.tif"), src, "wl", COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 4);
  Bytes cut = readBytes(dir.file("ok.tif"));
  Bytes foreign = cut;
  foreign[0] = foreign[1] = 'X';
  writeBytes(dir.file("foreign.tif"), foreign);
  EXPECT_EQ(convert(dir.file("foreign.tif"), idTiff), ecBadGraphicsFormat);
  // Strip data removed: the rows are not there.
  TIFF *t = TIFFOpen(dir.file("ok.tif").c_str(), "r");
  ASSERT_NE(t, nullptr);
  toff_t *offsets = nullptr;
  ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets));
  const std::size_t firstStrip = offsets[0];
  TIFFClose(t);
  for (std::size_t i = firstStrip; i < firstStrip + 400 && i < cut.size(); ++i) cut[i] = 0;
  Bytes truncated(cut.begin(), cut.begin() + static_cast<std::ptrdiff_t>(firstStrip + 10));
  writeBytes(dir.file("cut.tif"), truncated);
  EXPECT_NE(convert(dir.file("cut.tif"), idTiff), ecOK);
  EXPECT_FALSE(fs::exists(dir.file("out.APF")));
}

TEST_F(ImageConvert, PcxAndDcxPagesConvertToTheSamePixels) {
  const test::Raster a = ituChart(5, 1500, 90, 100, 400);
  const test::Raster b = ituChart(7, 999, 60, 200, 900);
  writePbm(dir.file("a.pbm"), a);
  writePbm(dir.file("b.pbm"), b);
  ASSERT_TRUE(sh("ppmtopcx " + dir.file("a.pbm") + " > " + dir.file("a.pcx")));
  conv.setOptions(0);
  ASSERT_EQ(convert(dir.file("a.pcx"), idPcx), ecOK);
  EXPECT_TRUE(pageShows(decoded().pages.at(0), a, 50));

  // The DCX container around the two PCX files of netpbm.
  ASSERT_TRUE(sh("ppmtopcx " + dir.file("b.pbm") + " > " + dir.file("b.pcx")));
  const Bytes pa = readBytes(dir.file("a.pcx")), pb = readBytes(dir.file("b.pcx"));
  Bytes dcx = {0xB1, 0x68, 0xDE, 0x3A};
  const std::uint32_t offA = 4 + 3 * 4, offB = offA + static_cast<std::uint32_t>(pa.size());
  for (std::uint32_t v : {offA, offB, 0u})
    for (int i = 0; i < 4; ++i) dcx.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  dcx.insert(dcx.end(), pa.begin(), pa.end());
  dcx.insert(dcx.end(), pb.begin(), pb.end());
  writeBytes(dir.file("ab.dcx"), dcx);
  ASSERT_EQ(convert(dir.file("ab.dcx"), idDcx), ecOK);
  const DecodedFile f = decoded();
  ASSERT_EQ(f.pages.size(), 2u);
  EXPECT_TRUE(pageShows(f.pages[0], a, 50));
  EXPECT_TRUE(pageShows(f.pages[1], b, 50));
}

TEST_F(ImageConvert, PcxPaletteDecidesWhichBitIsWhite) {
  // netpbm orders the palette by the colours it finds: an all-white picture gets white first.
  writePbm(dir.file("w.pbm"), test::blankRaster(300, 8));
  ASSERT_TRUE(sh("ppmtopcx " + dir.file("w.pbm") + " > " + dir.file("w.pcx")));
  conv.setOptions(0);
  ASSERT_EQ(convert(dir.file("w.pcx"), idPcx), ecOK);
  EXPECT_TRUE(pageShows(decoded().pages.at(0), test::blankRaster(300, 8), 50));
  // ImageMagick writes colour PCX even for black and white: refused, not garbled.
  ASSERT_TRUE(
      sh("convert " + dir.file("w.pbm") + " " + dir.file("w.pbm") + " dcx:" + dir.file("im.dcx")));
  EXPECT_EQ(convert(dir.file("im.dcx"), idDcx), ecBadGraphicsFormat);
}

TEST_F(ImageConvert, DamagedPcxAndDcxAreRefused) {
  writePbm(dir.file("a.pbm"), ituChart(5, 400, 30));
  ASSERT_TRUE(sh("ppmtopcx " + dir.file("a.pbm") + " > " + dir.file("a.pcx")));
  const Bytes good = readBytes(dir.file("a.pcx"));
  auto refused = [&](Bytes b, TFaxInputDocumentType type) {
    writeBytes(dir.file("bad"), b);
    return convert(dir.file("bad"), type) == ecBadGraphicsFormat;
  };
  Bytes b = good;
  b[0] = 11;
  EXPECT_TRUE(refused(b, idPcx));
  b = good;
  b[3] = 8;  // 8 bits per pixel
  EXPECT_TRUE(refused(b, idPcx));
  b = good;
  b[65] = 4;  // four planes: a colour picture
  EXPECT_TRUE(refused(b, idPcx));
  b = good;
  b[8] = 0xFF, b[9] = 0x7F;  // Xmax far past the page
  EXPECT_TRUE(refused(b, idPcx));
  EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + 100), idPcx));
  // DCX: wrong magic, and an empty page table.
  Bytes d = {0xB1, 0x68, 0xDE, 0x3A, 0, 0, 0, 0};
  EXPECT_TRUE(refused(d, idDcx));
  d[0] = 0xB2;
  EXPECT_TRUE(refused(d, idDcx));
  // A page offset pointing past the end of the file.
  d = {0xB1, 0x68, 0xDE, 0x3A, 0x00, 0x10, 0x00, 0x00, 0, 0, 0, 0};
  EXPECT_TRUE(refused(d, idDcx));
  EXPECT_FALSE(fs::exists(dir.file("out.APF")));
}

TEST_F(ImageConvert, NormalResolutionOptionsDoubleHalveAndCentre) {
  const test::Raster src = ituChart(1, 600, 40, 500, 700);
  writePbm(dir.file("s.pbm"), src);
  ASSERT_TRUE(sh("ppmtopcx " + dir.file("s.pbm") + " > " + dir.file("s.pcx")));
  conv.setResolution(frNormal);

  // Double width (600 * 2 fits in 1728 - 50) and centring by (1728 - 1200) / 32 bytes.
  conv.setOptions(coDoubleWidth | coCenterImage);
  conv.setLeftMargin(50);
  ASSERT_EQ(convert(dir.file("s.pcx"), idPcx), ecOK);
  DecodedFile f = decoded();
  ASSERT_EQ(f.pages.at(0).lines.size(), 40u);
  EXPECT_FALSE(f.pages[0].header.highResolution());
  const int shift = (1728 - 1200) / 32 * 8;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 1728; ++x) {
      const int sx = (x - 50 - 2 * shift) / 2;
      const bool want = x >= 50 + 2 * shift && sx < 600 && src.pixel(sx, y);
      ASSERT_EQ(f.pages[0].pixel(x, y), want) << x << "," << y;
    }

  // Half height keeps the odd lines (1st, 3rd, ...); no doubling, no shift.
  conv.setOptions(coHalfHeight);
  ASSERT_EQ(convert(dir.file("s.pcx"), idPcx), ecOK);
  f = decoded();
  test::Raster half = test::blankRaster(600, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 600; ++x)
      if (src.pixel(x, 2 * y)) half.set(x, y);
  EXPECT_TRUE(pageShows(f.pages.at(0), half, 50));

  // At fine resolution neither applies.
  conv.setResolution(frHigh);
  conv.setOptions(coDoubleWidth | coHalfHeight);
  ASSERT_EQ(convert(dir.file("s.pcx"), idPcx), ecOK);
  EXPECT_TRUE(pageShows(decoded().pages.at(0), src, 50));
}

TEST_F(ImageConvert, WidePagesAndTopMargin) {
  const test::Raster src = ituChart(3, 1900, 30, 0, 1000);
  writePbm(dir.file("s.pbm"), src);
  ASSERT_TRUE(sh("ppmtopcx " + dir.file("s.pbm") + " > " + dir.file("s.pcx")));
  conv.setWidth(fwWide);
  conv.setOptions(0);
  conv.setLeftMargin(20);
  conv.setTopMargin(5);
  ASSERT_EQ(convert(dir.file("s.pcx"), idPcx), ecOK);
  const DecodedFile f = decoded();
  ASSERT_EQ(f.pages.size(), 1u);
  EXPECT_TRUE(f.pages[0].header.wide());
  test::Raster want = test::blankRaster(1900, 35);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 1900; ++x)
      if (src.pixel(x, y)) want.set(x, y + 5);
  EXPECT_TRUE(pageShows(f.pages[0], want, 20, kFaxLineWide));
}

}  // namespace
}  // namespace kv::cvt
