// TIFF faxes as libtiff writes them (Group 3 and 4, both photometric senses, narrow, normal and
// wide pages) come out of the import as APF pages with the same pixels, read back by the unpacker.
#include "faximage/tiff_fax_import.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>

#include "faximage/fax_unpacker.h"
#include "raster_helpers.h"
#include "support/temp_files.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct TiffPage {
  test::Raster raster{};  // 1 = black
  float yres = 196;
  uint16_t compression = COMPRESSION_CCITTFAX3;
  uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  uint16_t bits = 1;
};

// The independent writer: libtiff's own coders.
void writeTiff(const std::string &path, const std::vector<TiffPage> &pages) {
  TIFF *t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (const TiffPage &p : pages) {
    const int w = p.raster.width, h = p.raster.height;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, p.bits == 1 ? p.compression : COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.photometric);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, p.yres);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    Bytes row(TIFFScanlineSize(t));
    for (int y = 0; y < h; ++y) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        const std::uint8_t v = i < std::size_t(w + 7) / 8 ? p.raster.row(y)[i] : 0;
        row[i] = p.photometric == PHOTOMETRIC_MINISBLACK ? ~v : v;
      }
      ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
    }
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
}

// An APF page's resolution, width and raster lines as the unpacker delivers them.
std::vector<Bytes> apfRows(const std::string &apf, int page, bool &fine, int &width) {
  ApfReader r;
  EXPECT_EQ(r.open(apf), ecOK);
  ApfPageLocation loc;
  EXPECT_EQ(r.locatePage(page, loc), ecOK);
  fine = loc.header.highResolution();
  width = loc.header.widthPixels();
  TKvFaxUnpacker u;
  u.setAutoScaleMode(asNone);
  u.setInFileName(apf);
  std::vector<Bytes> rows;
  u.OnOutputLine = [&](TKvCustomFaxUnpacker &, bool starting, bool ending, const std::uint8_t *d,
                       int len, int) {
    if (!starting && !ending) rows.emplace_back(d, d + len);
  };
  EXPECT_EQ(u.unpackPage(page), ecOK);
  return rows;
}

TEST(TiffFaxImport, PagesKeepTheirPixelsWidthAndResolution) {
  test::TempDir dir("kvtiffimp");
  struct Case {
    const char *what;
    int width;
    TiffPage page;
    int apfWidth;
  } cases[] = {
      {"G3 fine", 1728, {.yres = 196}, 1728},
      {"G3 normal", 1728, {.yres = 98}, 1728},
      {"G4", 1728, {.compression = COMPRESSION_CCITTFAX4}, 1728},
      {"min-is-black",
       1728,
       {.compression = COMPRESSION_NONE, .photometric = PHOTOMETRIC_MINISBLACK},
       1728},
      {"wide", 2048, {}, 2048},
      {"narrow, padded white", 1000, {}, 1728},
  };
  for (Case &c : cases) {
    SCOPED_TRACE(c.what);
    c.page.raster = test::randomRaster(c.width, 120, 0.2, static_cast<unsigned>(c.width));
    const std::string tif = dir.file("in.tif"), apf = dir.file("out.apf");
    // Two pages, the second the first upside down, so that page order shows.
    TiffPage second = c.page;
    for (int y = 0; y < 120; ++y)
      std::copy_n(c.page.raster.row(119 - y), (c.width + 7) / 8, second.raster.row(y));
    writeTiff(tif, {c.page, second});
    std::string error;
    ASSERT_EQ(ImportTiffFax(tif, apf, error), ecOK) << error;
    for (int n = 1; n <= 2; ++n) {
      const test::Raster &src = n == 1 ? c.page.raster : second.raster;
      bool fine = false;
      int width = 0;
      const std::vector<Bytes> rows = apfRows(apf, n, fine, width);
      EXPECT_EQ(width, c.apfWidth);
      EXPECT_EQ(fine, c.page.yres >= 150);
      ASSERT_EQ(rows.size(), 120u);
      for (int y = 0; y < 120; ++y) {
        Bytes want(c.apfWidth / 8, 0);
        std::copy_n(src.row(y), (c.width + 7) / 8, want.begin());
        if (c.width % 8) want[c.width / 8] &= std::uint8_t(0xFF << (8 - c.width % 8));
        ASSERT_EQ(rows[y], want) << "page " << n << " row " << y;
      }
    }
  }
}

TEST(TiffFaxImport, WhatIsNoFaxIsRefusedAndLeavesNothing) {
  test::TempDir dir("kvtiffimp");
  const std::string apf = dir.file("out.apf");
  writeTiff(dir.file("grey.tif"), {{.raster = test::randomRaster(64, 8, 0.5, 1), .bits = 8}});
  test::writeFile(dir.file("text.tif"), "not a tiff at all");
  struct Case {
    std::string in, message;
  } cases[] = {{dir.file("grey.tif"), "not a black-and-white fax page"},
               {dir.file("text.tif"), "text.tif"},
               {dir.file("missing.tif"), "missing.tif"}};
  for (const Case &c : cases) {
    std::string error;
    EXPECT_LT(ImportTiffFax(c.in, apf, error), 0) << c.in;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(apf)) << c.in;
  }
}

}  // namespace
}  // namespace kv
