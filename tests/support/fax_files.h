#pragma once
// APF files made from rasters for the tests of the windows and tools that read them, and the
// independent tools' views of what was written.
#include <cstdlib>
#include <string>
#include <vector>

#include "faximage/apf_file.h"
#include "faximage/raster_helpers.h"

namespace kv::test {

struct FaxPage {
  Raster raster;  // 1728 or 2048 pixels wide
  bool fine = true;
};

// Writes the pages as an APF file; false when it could not be written.
inline bool writeApf(const std::string &path, const std::vector<FaxPage> &pages) {
  ApfWriter w;
  if (w.create(path) < 0) return false;
  for (const FaxPage &p : pages) {
    if (w.beginPage(p.fine, p.raster.width == 2048) < 0) return false;
    for (int y = 0; y < p.raster.height; ++y)
      if (w.writeLine(p.raster.row(y)) < 0) return false;
    if (w.endPage() < 0) return false;
  }
  return w.finish("TEST STATION") >= 0;
}

// An APF file of `pages` fine pages of `lines` white lines each: many pages, quickly made.
inline bool writeBlankPages(const std::string &path, int pages, int lines = 8) {
  ApfWriter w;
  if (w.create(path) < 0) return false;
  const std::vector<std::uint8_t> white(kFaxLineNormal / 8, 0);
  for (int p = 0; p < pages; ++p) {
    if (w.beginPage(true, false) < 0) return false;
    for (int y = 0; y < lines; ++y)
      if (w.writeLine(white.data()) < 0) return false;
    if (w.endPage() < 0) return false;
  }
  return w.finish("TEST STATION") >= 0;
}

// A page with a solid block at (x, y) of w x h and a one-pixel mark in each corner of the
// block's row band, so that turns, scales and placements are visible in pixels.
inline Raster markedPage(int width, int height, int x, int y, int w, int h) {
  Raster r = blankRaster(width, height);
  for (int yy = y; yy < y + h; ++yy)
    for (int xx = x; xx < x + w; ++xx) r.set(xx, yy);
  return r;
}

// Runs a shell command of the independent tools; false when it failed.
inline bool run(const std::string &cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace kv::test
