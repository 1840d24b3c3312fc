#pragma once
// A plain in-memory monochrome bitmap: rows of whole bytes, 1 = black, the leftmost pixel in the
// most significant bit. Windows convert it for display (the viewer) or printing.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv {

struct MonoBitmap {
  int width = 0;   // pixels
  int height = 0;  // rows
  int stride = 0;  // bytes per row, at least (width + 7) / 8
  std::vector<std::uint8_t> bits;

  bool empty() const { return width == 0 || height == 0; }
  const std::uint8_t *row(int y) const {
    return bits.data() + static_cast<std::size_t>(y) * stride;
  }
  std::uint8_t *row(int y) { return bits.data() + static_cast<std::size_t>(y) * stride; }
  bool pixel(int x, int y) const { return row(y)[x >> 3] & (0x80 >> (x & 7)); }
};

// Stretches a bitmap to the given size. Shrinking keeps a pixel black when any pixel it stands
// for is black, so thin strokes of a fax page survive; enlarging repeats pixels.
MonoBitmap stretchBitmap(const MonoBitmap &src, int width, int height);

}  // namespace kv
