#include "faximage/dither.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/file_error.h"
#include "faximage/bmp_reader.h"

namespace kv {

namespace {

std::array<std::uint8_t, 256> buildThresholds() {
  std::array<std::uint8_t, 256> t{};
  for (int i0 = 0; i0 < 16; ++i0) {
    for (int j0 = 0; j0 < 16; ++j0) {
      int i = i0, j = j0, r = 0;
      for (int step = 0; step < 4; ++step) {
        const int a = i & 1, b = j & 1;
        r = (2 * (a ^ b)) | (2 * r) | b;
        i >>= 1;
        j >>= 1;
      }
      t[static_cast<size_t>(i0 * 16 + j0)] = static_cast<std::uint8_t>(r * 4);
    }
  }
  return t;
}

const std::array<std::uint8_t, 256> kThresholds = buildThresholds();

// One field of a bit-fields pixel scaled to 0..255.
int maskedChannel(std::uint32_t px, std::uint32_t mask) {
  const int shift = std::countr_zero(mask);
  const std::uint32_t max = mask >> shift;
  return static_cast<int>(((px & mask) >> shift) * 255 / max);
}

// Run-length coded rows (RLE8, RLE4) in stored order, one row of palette indices per call.
class RleRows {
 public:
  RleRows(ByteInput &in, int width, bool rle4) : in_(in), width_(width), rle4_(rle4) {}

  Result next(std::vector<std::uint8_t> &idx) {
    std::fill(idx.begin(), idx.end(), 0);
    if (ended_) return ecOK;
    if (blankRows_ > 0) {
      --blankRows_;
      return ecOK;
    }
    int x = carryX_;
    carryX_ = 0;
    auto put = [&](int v) {
      if (x >= 0 && x < width_) idx[static_cast<size_t>(x)] = static_cast<std::uint8_t>(v);
      ++x;
    };
    for (;;) {
      std::uint8_t pair[2];
      Result r = in_.read(pair, 2);
      if (r < 0) return r;
      if (r < 2) {  // data cut short: the rest of the picture stays background
        ended_ = true;
        return ecOK;
      }
      if (pair[0] > 0) {
        for (int k = 0; k < pair[0] && x < width_; ++k)
          put(rle4_ ? (k % 2 ? pair[1] & 0x0F : pair[1] >> 4) : pair[1]);
        continue;
      }
      switch (pair[1]) {
        case 0:  // end of row
          return ecOK;
        case 1:  // end of picture
          ended_ = true;
          return ecOK;
        case 2: {  // move right and down
          std::uint8_t d[2];
          if ((r = in_.readExact(d, 2)) < 0) return r == ecBadGraphicsFormat ? ecOK : r;
          x += d[0];
          if (d[1] > 0) {
            blankRows_ = d[1] - 1;
            carryX_ = x;
            return ecOK;
          }
          break;
        }
        default: {  // a literal run, padded to a 16-bit boundary
          const int n = pair[1];
          const int bytes = rle4_ ? (n + 1) / 2 : n;
          std::uint8_t lit[256];
          if ((r = in_.readExact(lit, static_cast<size_t>(bytes + (bytes & 1)))) < 0) {
            if (r != ecBadGraphicsFormat) return r;
            ended_ = true;
            return ecOK;
          }
          for (int k = 0; k < n; ++k)
            put(rle4_ ? (k % 2 ? lit[k / 2] & 0x0F : lit[k / 2] >> 4) : lit[k]);
        }
      }
    }
  }

 private:
  ByteInput &in_;
  int width_;
  bool rle4_;
  bool ended_ = false;
  int blankRows_ = 0;
  int carryX_ = 0;
};

}  // namespace

int ditherThreshold(int x, int y) {
  return kThresholds[static_cast<size_t>((x & 15) * 16 + (y & 15))];
}

bool bmpNeedsDither(ByteInput &in) {
  BmpInfo info;
  const bool yes = readBmpInfo(in, info) >= 0 && info.bitsPerPixel != 1;
  in.seek(0);
  return yes;
}

Result ditherBmpToMono(ByteInput &in, const std::string &outPath, int maxWidth) {
  BmpInfo info;
  Result r = readBmpInfo(in, info);
  if (r < 0) return r;
  if (info.width > maxWidth) return ecBadGraphicsFormat;
  const int w = info.width, h = info.height, bpp = info.bitsPerPixel;
  const bool rle = info.compression == kBmpRle8 || info.compression == kBmpRle4;
  if (!rle && std::uint64_t{info.dataOffset} + std::uint64_t{info.stride} * h > in.size())
    return ecBadGraphicsFormat;

  std::FILE *f = std::fopen(outPath.c_str(), "wb");
  if (!f) return fileErrorCode(errno);
  const std::uint32_t outStride = static_cast<std::uint32_t>((w + 31) / 32 * 4);
  std::uint8_t hdr[62] = {'B', 'M'};
  putLe32(hdr + 2, 62 + outStride * static_cast<std::uint32_t>(h));
  putLe32(hdr + 10, 62);
  putLe32(hdr + 14, 40);
  putLe32(hdr + 18, static_cast<std::uint32_t>(w));
  putLe32(hdr + 22, static_cast<std::uint32_t>(info.topDown ? -h : h));
  hdr[26] = 1;  // planes
  hdr[28] = 1;  // bits per pixel
  putLe32(hdr + 34, outStride * static_cast<std::uint32_t>(h));
  hdr[58] = hdr[59] = hdr[60] = 0xFF;  // palette: 0 black, 1 white
  bool ok = std::fwrite(hdr, sizeof hdr, 1, f) == 1;

  std::vector<std::uint8_t> src(info.stride), idx(static_cast<size_t>(w)), out(outStride);
  std::vector<std::uint32_t> pal = info.palette;
  pal.resize(256, 0);
  RleRows rleRows(in, w, info.compression == kBmpRle4);
  if (rle) in.seek(info.dataOffset);
  for (int s = 0; ok && s < h; ++s) {
    const int y = info.topDown ? s : h - 1 - s;  // row from the top, for the pattern
    if (rle) {
      if ((r = rleRows.next(idx)) < 0) break;
    } else {
      if ((r = in.seek(info.dataOffset + std::uint64_t{info.stride} * s)) < 0 ||
          (r = in.readExact(src.data(), src.size())) < 0)
        break;
    }
    std::fill(out.begin(), out.end(), 0);
    // Run-length pictures are mostly runs of one colour, and a short file can claim a huge
    // picture: a row of one colour takes the pattern's two bytes at once.
    if (rle && std::memcmp(idx.data(), idx.data() + 1, idx.size() - 1) == 0) {
      const std::uint32_t rgb = pal[idx[0]];
      const int mean =
          static_cast<int>(((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF)) / 3;
      std::uint8_t pattern[2] = {0, 0};
      for (int x = 0; x < 16; ++x)
        if (ditherThreshold(x, y) < mean)
          pattern[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      for (std::size_t i = 0; i < static_cast<std::size_t>((w + 7) / 8); ++i)
        out[i] = pattern[i & 1];
      ok = std::fwrite(out.data(), out.size(), 1, f) == 1;
      continue;
    }
    for (int x = 0; x < w; ++x) {
      std::uint32_t rgb;
      if (rle) {
        rgb = pal[idx[static_cast<size_t>(x)]];
      } else if (bpp <= 8) {
        const int bit = x * bpp;
        const int v = (src[static_cast<size_t>(bit / 8)] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1);
        rgb = pal[static_cast<size_t>(v)];
      } else if (bpp == 24) {
        const std::uint8_t *p = &src[static_cast<size_t>(x) * 3];
        rgb = std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
      } else {
        std::uint32_t px;
        if (bpp == 16) {
          px = getLe16(&src[static_cast<size_t>(x) * 2]);
        } else {
          px = getLe32(&src[static_cast<size_t>(x) * 4]);
        }
        std::uint32_t m[3] = {info.masks[0], info.masks[1], info.masks[2]};
        if (info.compression != kBmpBitFields) {
          if (bpp == 16) {
            m[0] = 0x7C00, m[1] = 0x03E0, m[2] = 0x001F;
          } else {
            m[0] = 0xFF0000, m[1] = 0xFF00, m[2] = 0xFF;
          }
        }
        rgb = static_cast<std::uint32_t>(maskedChannel(px, m[0]) << 16 |
                                         maskedChannel(px, m[1]) << 8 | maskedChannel(px, m[2]));
      }
      const int mean =
          static_cast<int>(((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF)) / 3;
      if (ditherThreshold(x, y) < mean)
        out[static_cast<size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    ok = std::fwrite(out.data(), out.size(), 1, f) == 1;
  }
  const int writeErr = ok ? 0 : errno;
  if (std::fclose(f) != 0 && ok) r = fileErrorCode(errno ? errno : EIO);
  if (!ok && r >= 0) r = fileErrorCode(writeErr ? writeErr : EIO);
  if (r < 0) std::remove(outPath.c_str());
  return r < 0 ? r : ecOK;
}

}  // namespace kv
