#include "viewer/page_image.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kv {

namespace {

MonoBitmap blankBitmap(int width, int height) {
  MonoBitmap b;
  b.width = width;
  b.height = height;
  b.stride = (width + 7) / 8;
  b.bits.assign(static_cast<std::size_t>(b.stride) * height, 0);
  return b;
}

inline void setPixel(MonoBitmap &b, int x, int y) {
  b.row(y)[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
}

// Reverses the bit order of a byte.
std::uint8_t reversed(std::uint8_t v) {
  v = static_cast<std::uint8_t>((v & 0xF0) >> 4 | (v & 0x0F) << 4);
  v = static_cast<std::uint8_t>((v & 0xCC) >> 2 | (v & 0x33) << 2);
  return static_cast<std::uint8_t>((v & 0xAA) >> 1 | (v & 0x55) << 1);
}

}  // namespace

MonoBitmap RotateBitmap(const MonoBitmap &page, int quarterTurns) {
  const int turns = ((quarterTurns % 4) + 4) % 4;
  if (turns == 0 || page.empty()) return page;
  const int W = page.width, H = page.height;
  if (turns == 2) {
    // Rows in reverse order, pixels of each row reversed.
    MonoBitmap out = blankBitmap(W, H);
    for (int y = 0; y < H; ++y) {
      const std::uint8_t *src = page.row(y);
      std::uint8_t *dst = out.row(H - 1 - y);
      if (W % 8 == 0) {
        for (int i = 0; i < page.stride; ++i) dst[page.stride - 1 - i] = reversed(src[i]);
      } else {
        for (int x = 0; x < W; ++x)
          if (src[x >> 3] & (0x80 >> (x & 7))) setPixel(out, W - 1 - x, H - 1 - y);
      }
    }
    return out;
  }
  MonoBitmap out = blankBitmap(H, W);
  for (int y = 0; y < H; ++y) {
    const std::uint8_t *src = page.row(y);
    const int nx = turns == 1 ? H - 1 - y : y;
    for (int xb = 0; xb < page.stride; ++xb) {
      std::uint8_t v = src[xb];
      if (!v) continue;  // white bytes are most of a fax page
      for (int bit = 0; bit < 8 && v; ++bit, v = static_cast<std::uint8_t>(v << 1)) {
        if (!(v & 0x80)) continue;
        const int x = xb * 8 + bit;
        if (x >= W) break;
        // A quarter turn clockwise: (x, y) -> (H-1-y, x); three: (x, y) -> (y, W-1-x).
        setPixel(out, nx, turns == 1 ? x : W - 1 - x);
      }
    }
  }
  return out;
}

QImage MonoImage(const MonoBitmap &page, QColor fg, QColor bg) {
  if (page.empty()) return {};
  QImage img(page.width, page.height, QImage::Format_Mono);
  if (img.isNull()) return {};
  img.setColorCount(2);
  img.setColor(0, bg.rgb());
  img.setColor(1, fg.rgb());
  const std::size_t n = static_cast<std::size_t>(page.stride);
  for (int y = 0; y < page.height; ++y) {
    uchar *dst = img.scanLine(y);
    std::memcpy(dst, page.row(y), n);
    std::memset(dst + n, 0, static_cast<std::size_t>(img.bytesPerLine()) - n);
  }
  return img;
}

QImage PrintImage(const MonoBitmap &page) {
  if (page.empty()) return {};
  QImage img(page.width, page.height, QImage::Format_Mono);
  if (img.isNull()) return {};
  img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  const std::size_t n = static_cast<std::size_t>(page.stride);
  for (int y = 0; y < page.height; ++y) {
    uchar *dst = img.scanLine(y);
    const std::uint8_t *src = page.row(y);
    for (std::size_t i = 0; i < n; ++i) dst[i] = static_cast<uchar>(~src[i]);
    std::memset(dst + n, 0xFF, static_cast<std::size_t>(img.bytesPerLine()) - n);
  }
  return img;
}

QImage DisplayImage(const MonoBitmap &page, int width, int height, QColor fg, QColor bg) {
  if (page.empty() || width <= 0 || height <= 0) return {};
  if (width == page.width && height == page.height) return MonoImage(page, fg, bg);
  if (width >= page.width && height >= page.height)
    return MonoImage(page, fg, bg)
        .scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation);

  // Area average: each source pixel counts towards the screen pixel it falls in. Where one
  // direction is enlarged, a source pixel spreads over several screen pixels instead.
  QImage img(width, height, QImage::Format_Indexed8);
  if (img.isNull()) return {};
  img.setColorCount(256);
  for (int i = 0; i < 256; ++i) {
    auto mix = [i](int b, int f) { return b + (f - b) * i / 255; };
    img.setColor(
        i, qRgb(mix(bg.red(), fg.red()), mix(bg.green(), fg.green()), mix(bg.blue(), fg.blue())));
  }
  const bool shrinkX = width < page.width;
  std::vector<int> colOf(static_cast<std::size_t>(page.width));
  std::vector<int> colSpan(static_cast<std::size_t>(width), 0);
  for (int x = 0; x < page.width; ++x) {
    colOf[x] = static_cast<int>(std::int64_t{x} * width / page.width);
    ++colSpan[colOf[x]];
  }
  std::vector<int> sums(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    int y0 = static_cast<int>(std::int64_t{y} * page.height / height);
    int y1 = static_cast<int>(std::int64_t{y + 1} * page.height / height);
    y1 = std::max(y1, y0 + 1);
    std::fill(sums.begin(), sums.end(), 0);
    for (int sy = y0; sy < y1; ++sy) {
      const std::uint8_t *src = page.row(sy);
      if (shrinkX) {
        for (int xb = 0; xb < page.stride; ++xb) {
          std::uint8_t v = src[xb];
          if (!v) continue;
          for (int bit = 0; bit < 8; ++bit)
            if (v & (0x80 >> bit)) {
              const int x = xb * 8 + bit;
              if (x < page.width) ++sums[colOf[x]];
            }
        }
      } else {
        for (int x = 0; x < width; ++x) {
          const int sx = static_cast<int>(std::int64_t{x} * page.width / width);
          if (src[sx >> 3] & (0x80 >> (sx & 7))) ++sums[x];
        }
      }
    }
    uchar *dst = img.scanLine(y);
    const int rows = y1 - y0;
    for (int x = 0; x < width; ++x) {
      const int area = rows * (shrinkX ? colSpan[x] : 1);
      // A little darker than the plain mean: thin strokes on white are what a reader needs.
      const int shade = area ? std::min(255, sums[x] * 255 * 3 / (2 * area)) : 0;
      dst[x] = static_cast<uchar>(shade);
    }
  }
  return img;
}

QImage CopyRect(const MonoBitmap &page, const QRect &rect) {
  const QRect r = rect.intersected(QRect(0, 0, page.width, page.height));
  if (r.isEmpty()) return {};
  MonoBitmap part = blankBitmap(r.width(), r.height());
  for (int y = 0; y < r.height(); ++y)
    for (int x = 0; x < r.width(); ++x)
      if (page.pixel(r.x() + x, r.y() + y)) setPixel(part, x, y);
  return MonoImage(part);
}

}  // namespace kv
