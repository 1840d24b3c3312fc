#pragma once
// Rasters for the coder and file tests: random noise, text-like pages and the ITU charts.
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace kv::test {

struct Raster {
  int width = 0, height = 0;
  std::vector<std::uint8_t> bits;  // 1 = black, most significant bit first
  int stride() const { return (width + 7) / 8; }
  std::uint8_t *row(int y) { return bits.data() + static_cast<std::size_t>(y) * stride(); }
  const std::uint8_t *row(int y) const {
    return bits.data() + static_cast<std::size_t>(y) * stride();
  }
  bool pixel(int x, int y) const { return row(y)[x >> 3] & (0x80 >> (x & 7)); }
  void set(int x, int y) { row(y)[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7)); }
};

inline Raster blankRaster(int width, int height) {
  Raster r;
  r.width = width;
  r.height = height;
  r.bits.assign(static_cast<std::size_t>(r.stride()) * height, 0);
  return r;
}

// Independent pixels, black with the given probability.
inline Raster randomRaster(int width, int height, double black, unsigned seed) {
  Raster r = blankRaster(width, height);
  std::mt19937 gen(seed);
  std::bernoulli_distribution d(black);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (d(gen)) r.set(x, y);
  return r;
}

// Lines of "glyphs": short black strokes and blocks on white, with margins and blank lines
// between text lines, as a rendered letter looks to the coder.
inline Raster textRaster(int width, int height, unsigned seed) {
  Raster r = blankRaster(width, height);
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> glyph(0, 255);
  const int lineHeight = 24, glyphWidth = 12;
  for (int top = 40; top + lineHeight < height - 40; top += lineHeight + 10) {
    const int words = (glyph(gen) % 2) ? 140 : 70;
    for (int c = 0; c < words && 100 + (c + 1) * glyphWidth < width - 100; ++c) {
      const int g = glyph(gen);
      if (g % 7 == 0) continue;  // a space
      for (int y = 0; y < lineHeight; ++y) {
        const int pattern = (g * (y + 3)) ^ (g >> 2);
        for (int x = 0; x < glyphWidth - 2; ++x)
          if ((pattern >> (x % 8)) & 1 && (y % 6 != 5)) r.set(100 + c * glyphWidth + x, top + y);
      }
    }
  }
  return r;
}

// Raw P4 PBM (1 = black).
inline bool readPbm(const std::string &path, Raster &out) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  in >> magic >> out.width >> out.height;
  if (!in || magic != "P4") return false;
  in.get();
  out.bits.assign(static_cast<std::size_t>(out.stride()) * out.height, 0);
  in.read(reinterpret_cast<char *>(out.bits.data()), static_cast<std::streamsize>(out.bits.size()));
  return static_cast<bool>(in);
}

}  // namespace kv::test
