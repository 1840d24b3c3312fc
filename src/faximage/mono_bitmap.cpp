#include "faximage/mono_bitmap.h"

#include <algorithm>

namespace kv {

MonoBitmap stretchBitmap(const MonoBitmap &src, int width, int height) {
  MonoBitmap out;
  if (width <= 0 || height <= 0) return out;
  out.width = width;
  out.height = height;
  out.stride = (width + 7) / 8;
  out.bits.assign(static_cast<std::size_t>(out.stride) * height, 0);
  if (src.empty()) return out;

  // Source span of each destination column, computed once.
  std::vector<int> x0(static_cast<std::size_t>(width)), x1(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x) {
    x0[x] = static_cast<int>(static_cast<std::int64_t>(x) * src.width / width);
    x1[x] =
        std::max(x0[x] + 1, static_cast<int>(static_cast<std::int64_t>(x + 1) * src.width / width));
  }
  std::vector<std::uint8_t> merged(static_cast<std::size_t>(src.stride));
  for (int y = 0; y < height; ++y) {
    const int y0 = static_cast<int>(static_cast<std::int64_t>(y) * src.height / height);
    const int y1 =
        std::max(y0 + 1, static_cast<int>(static_cast<std::int64_t>(y + 1) * src.height / height));
    // OR the source rows this destination row stands for.
    std::copy(src.row(y0), src.row(y0) + src.stride, merged.begin());
    for (int sy = y0 + 1; sy < y1; ++sy)
      for (int i = 0; i < src.stride; ++i) merged[i] |= src.row(sy)[i];
    std::uint8_t *dst = out.row(y);
    for (int x = 0; x < width; ++x) {
      bool black = false;
      for (int sx = x0[x]; sx < x1[x] && !black; ++sx) black = merged[sx >> 3] & (0x80 >> (sx & 7));
      if (black) dst[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    }
  }
  return out;
}

}  // namespace kv
