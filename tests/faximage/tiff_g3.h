#pragma once
// libtiff's own CCITT Group 3 codec as the independent reader and writer of T.4 streams:
// a raw coded strip is wrapped in a TIFF and read back row by row, or rows are coded by
// libtiff and the raw strip taken out again.
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "raster_helpers.h"

namespace kv::test {

using Bytes = std::vector<std::uint8_t>;

inline void setG3Fields(TIFF *t, int width, int height, bool twoD) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, twoD ? GROUP3OPT_2DENCODING : 0);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, height);
}

// Decodes a raw G3 stream of `height` rows with libtiff; false when libtiff refuses a row.
inline bool tiffDecodeG3(const std::string &tif, const Bytes &raw, int width, int height, bool twoD,
                         Raster &out) {
  TIFF *w = TIFFOpen(tif.c_str(), "w");
  if (!w) return false;
  setG3Fields(w, width, height, twoD);
  const bool wrote = TIFFWriteRawStrip(w, 0, const_cast<std::uint8_t *>(raw.data()),
                                       static_cast<tmsize_t>(raw.size())) > 0;
  TIFFClose(w);
  if (!wrote) return false;
  TIFF *r = TIFFOpen(tif.c_str(), "r");
  if (!r) return false;
  out = blankRaster(width, height);
  bool ok = true;
  for (int y = 0; y < height && ok; ++y)
    ok = TIFFReadScanline(r, out.row(y), static_cast<std::uint32_t>(y)) == 1;
  TIFFClose(r);
  return ok;
}

// Codes a raster with libtiff's G3 coder (2D with its default K) and returns the raw strip.
inline Bytes tiffEncodeG3(const std::string &tif, const Raster &in, bool twoD) {
  TIFF *w = TIFFOpen(tif.c_str(), "w");
  if (!w) return {};
  setG3Fields(w, in.width, in.height, twoD);
  for (int y = 0; y < in.height; ++y)
    TIFFWriteScanline(w, const_cast<std::uint8_t *>(in.row(y)), static_cast<std::uint32_t>(y));
  TIFFClose(w);
  TIFF *r = TIFFOpen(tif.c_str(), "r");
  if (!r) return {};
  Bytes raw(static_cast<std::size_t>(TIFFRawStripSize(r, 0)));
  const tmsize_t n = TIFFReadRawStrip(r, 0, raw.data(), static_cast<tmsize_t>(raw.size()));
  TIFFClose(r);
  raw.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return raw;
}

}  // namespace kv::test
