#include "faximage/tiff_fax_import.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "faximage/apf_file.h"

namespace kv {

namespace {
constexpr int kNormalWidth = 1728, kWideWidth = 2048;

struct TiffCloser {
  void operator()(TIFF *t) const { TIFFClose(t); }
};

// libtiff's own messages name the file and the fault; keep the last for the error text.
std::string &lastTiffError() {
  thread_local std::string text;
  return text;
}
void recordError(const char *module, const char *fmt, va_list ap) {
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  lastTiffError() = std::string(module ? module : "") + (module ? ": " : "") + buf;
}

Result fail(ApfWriter &w, std::string &error, std::string why) {
  w.discard();
  error = std::move(why);
  return ecBadGraphicsFormat;
}
}  // namespace

Result ImportTiffFax(const std::string &in, const std::string &out, std::string &error) {
  lastTiffError().clear();
  TIFFErrorHandler previous = TIFFSetErrorHandler(recordError);
  TIFFErrorHandler previousWarning = TIFFSetWarningHandler(nullptr);
  struct Restore {
    TIFFErrorHandler e, w;
    ~Restore() {
      TIFFSetErrorHandler(e);
      TIFFSetWarningHandler(w);
    }
  } restore{previous, previousWarning};

  std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(in.c_str(), "r"));
  ApfWriter w;
  if (!tif) {
    error = lastTiffError().empty() ? in + ": not a TIFF file" : lastTiffError();
    return ecBadGraphicsFormat;
  }
  if (Result r = w.create(out); r < 0) {
    error = out + ": cannot be written";
    return r;
  }
  do {
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE, unit = RESUNIT_INCH;
    float yres = 196;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yres) && unit == RESUNIT_CENTIMETER)
      yres *= 2.54f;
    if (bits != 1 || samples != 1 || width == 0 || height == 0)
      return fail(w, error,
                  in + ": page " + std::to_string(w.pageCount() + 1) +
                      " is not a black-and-white fax page");
    const bool wide = width > kNormalWidth;
    const int apfWidth = wide ? kWideWidth : kNormalWidth;
    if (Result r = w.beginPage(yres >= 150, wide); r < 0)
      return fail(w, error, out + ": cannot be written");
    std::vector<uint8_t> scan(TIFFScanlineSize(tif.get()));
    std::vector<uint8_t> line(apfWidth / 8);
    const std::size_t copy = std::min<std::size_t>(line.size(), (width + 7) / 8);
    for (uint32_t y = 0; y < height; ++y) {
      if (TIFFReadScanline(tif.get(), scan.data(), y) < 0)
        return fail(w, error,
                    lastTiffError().empty() ? in + ": damaged page data" : lastTiffError());
      std::fill(line.begin(), line.end(), 0);
      std::copy_n(scan.begin(), copy, line.begin());
      // Fax pages store 1 = black; a min-is-black image is the other way round.
      if (photometric == PHOTOMETRIC_MINISBLACK)
        for (std::size_t i = 0; i < copy; ++i) line[i] = ~line[i];
      // Bits past the image's width are white whatever the image said.
      if (width % 8 && copy == (width + 7) / 8) line[copy - 1] &= uint8_t(0xFF << (8 - width % 8));
      if (Result r = w.writeLine(line.data()); r < 0)
        return fail(w, error, out + ": cannot be written");
    }
    if (Result r = w.endPage(); r < 0) return fail(w, error, out + ": cannot be written");
  } while (TIFFReadDirectory(tif.get()));
  if (Result r = w.finish(""); r < 0) return fail(w, error, out + ": cannot be written");
  return ecOK;
}

}  // namespace kv
