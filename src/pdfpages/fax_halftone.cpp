#include "pdfpages/fax_halftone.h"

#include <algorithm>
#include <array>

namespace kv {

namespace {

constexpr int kNearBlack = 24;
constexpr int kNearWhite = 232;

// A 16 x 16 Bayer matrix (each doubling: 4M, 4M+2 / 4M+3, 4M+1): every level 0..255 once, spread
// as evenly as a grid allows, so a grey level g darkens about g/256 of the dots and the dots
// cluster no more than they must.
std::array<std::uint8_t, 256> bayerPattern() {
  std::array<std::uint8_t, 256> m{};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      int v = 0;
      for (int bit = 0; bit < 4; ++bit) {
        const int xb = (x >> bit) & 1, yb = (y >> bit) & 1;
        v = v * 4 + ((xb ^ yb) << 1 | yb);
      }
      m[static_cast<std::size_t>(y * 16 + x)] = static_cast<std::uint8_t>(v);
    }
  return m;
}

const std::array<std::uint8_t, 256> kRank = bayerPattern();

}  // namespace

bool IsPictureBlock(const std::uint8_t *grey, std::size_t stride, int width, int height) {
  int mid = 0;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t *p = grey + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < width; ++x) mid += p[x] > kNearBlack && p[x] < kNearWhite;
  }
  return 2 * mid > width * height;
}

void HalftonePage(const std::uint8_t *grey, std::size_t stride, int width, int height,
                  std::uint8_t *bits, std::size_t lineBytes) {
  width = std::min<int>(width, static_cast<int>(lineBytes * 8));
  for (int by = 0; by < height; by += kHalftoneBlock) {
    const int bh = std::min(kHalftoneBlock, height - by);
    for (int bx = 0; bx < width; bx += kHalftoneBlock) {
      const int bw = std::min(kHalftoneBlock, width - bx);
      const std::uint8_t *block = grey + static_cast<std::size_t>(by) * stride + bx;
      const bool picture = IsPictureBlock(block, stride, bw, bh);
      for (int y = by; y < by + bh; ++y) {
        const std::uint8_t *g = grey + static_cast<std::size_t>(y) * stride;
        std::uint8_t *out = bits + static_cast<std::size_t>(y) * lineBytes;
        for (int x = bx; x < bx + bw; ++x) {
          // A level g is black below its pattern step (rank + 1/2) * 255/256: 0 is all black,
          // 255 all white.
          const bool black =
              picture
                  ? g[x] * 512 <
                        (2 * kRank[static_cast<std::size_t>((y & 15) * 16 + (x & 15))] + 1) * 255
                  : g[x] < 128;
          if (black) out[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
        }
      }
    }
  }
}

}  // namespace kv
