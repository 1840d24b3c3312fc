#include "fax_images.h"

#include <tiffio.h>

#include <chrono>
#include <fstream>

#include "e2e/process.h"

namespace kv::test {

std::vector<Bitmap> readTiffPages(const std::string &path) {
  std::vector<Bitmap> pages;
  TIFFSetWarningHandler(nullptr);
  TIFF *tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return pages;
  do {
    Bitmap b;
    uint32_t w = 0, h = 0;
    uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    b.width = static_cast<int>(w);
    b.height = static_cast<int>(h);
    std::string row(static_cast<std::size_t>(TIFFScanlineSize(tif)), '\0');
    for (uint32_t y = 0; y < h; ++y) {
      if (TIFFReadScanline(tif, row.data(), y, 0) < 0) break;
      std::string r = row.substr(0, (w + 7) / 8);
      if (photometric == PHOTOMETRIC_MINISBLACK)
        for (char &c : r) c = static_cast<char>(~c);
      b.rows.push_back(r);
    }
    pages.push_back(std::move(b));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

std::vector<std::string> makeFaxPages(const std::string &dir, const std::vector<std::string> &texts,
                                      bool fine) {
  std::vector<std::string> files;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::string txt = dir + "/page" + std::to_string(i + 1) + ".txt";
    char name[32];
    std::snprintf(name, sizeof name, "/page.%03zu", i + 1);
    std::string out = dir + name;
    std::ofstream(txt) << texts[i];
    Process efix({"efix", "-r", fine ? "204x196" : "204x98", "-o", "tiffg3", "-n", out, txt},
                 dir + "/efix.log");
    if (!efix.wait(std::chrono::seconds(20)) || efix.exitCode() != 0) return {};
    files.push_back(out);
  }
  return files;
}

int differingRows(const Bitmap &want, const Bitmap &got, int offset, int fromRow) {
  int diff = 0;
  for (int y = fromRow; y < want.height; ++y) {
    int gy = y + offset;
    if (gy < 0 || gy >= static_cast<int>(got.rows.size()) || got.rows[gy] != want.rows[y]) ++diff;
  }
  return diff;
}

}  // namespace kv::test
