#pragma once
// Shared by the converter tests: other programs as independent writers of the input images, and
// reading a converted APF file back into raster lines.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "faximage/apf_file.h"
#include "faximage/converter.h"
#include "raster_helpers.h"
#include "support/temp_files.h"

namespace kv::cvt {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using ScratchDir = test::TempDir;
using test::readBytes;
using test::writeBytes;
using test::writeFile;

inline void writePbm(const std::string &path, const test::Raster &r) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << r.width << " " << r.height << "\n";
  out.write(reinterpret_cast<const char *>(r.bits.data()),
            static_cast<std::streamsize>(r.bits.size()));
}

// Runs a shell command of the independent tools; false when it failed.
inline bool sh(const std::string &cmd) {
  return std::system((cmd + " 2>/dev/null").c_str()) == 0;
}

// A part of an ITU test chart as a raster.
inline test::Raster ituChart(int n, int width, int height, int left = 0, int top = 0) {
  test::Raster full;
  EXPECT_TRUE(
      test::readPbm(std::string(KORVANE_TESTDATA) + "/itu/itu" + std::to_string(n) + ".pbm", full));
  test::Raster r = test::blankRaster(width, height);
  for (int y = 0; y < height && y + top < full.height; ++y)
    for (int x = 0; x < width && x + left < full.width; ++x)
      if (full.pixel(x + left, y + top)) r.set(x, y);
  return r;
}

struct DecodedPage {
  ApfPageHeader header;
  std::vector<Bytes> lines;
  bool pixel(int x, int y) const {
    return lines[static_cast<std::size_t>(y)][static_cast<std::size_t>(x >> 3)] & (0x80 >> (x & 7));
  }
};

struct DecodedFile {
  ApfMainHeader header;
  std::vector<DecodedPage> pages;
};

// Reads every page through the APF reader and the T.4 decoder.
inline Result decodeApf(const std::string &path, DecodedFile &out) {
  ApfReader reader;
  Result r = reader.open(path);
  if (r < 0) return r;
  out.header = reader.header();
  out.pages.clear();
  for (int p = 1; p <= reader.header().pageCount; ++p) {
    ApfPageLocation loc;
    if ((r = reader.locatePage(p, loc)) < 0) return r;
    DecodedPage page;
    page.header = loc.header;
    r = decodeApfPage(reader, loc, [&](const std::uint8_t *line, std::size_t bytes) {
      page.lines.emplace_back(line, line + bytes);
    });
    if (r < 0) return r;
    out.pages.push_back(std::move(page));
  }
  return ecOK;
}

// The source raster placed at `left` pixels in each decoded line, white everywhere else.
inline ::testing::AssertionResult pageShows(const DecodedPage &page, const test::Raster &src,
                                            int left, int width = kFaxLineNormal) {
  if (page.lines.size() != static_cast<std::size_t>(src.height))
    return ::testing::AssertionFailure() << page.lines.size() << " lines, expected " << src.height;
  for (int y = 0; y < src.height; ++y) {
    if (page.lines[static_cast<std::size_t>(y)].size() != static_cast<std::size_t>(width / 8))
      return ::testing::AssertionFailure() << "line " << y << " has the wrong length";
    for (int x = 0; x < width; ++x) {
      const bool want = x >= left && x - left < src.width && src.pixel(x - left, y);
      if (page.pixel(x, y) != want)
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace kv::cvt
