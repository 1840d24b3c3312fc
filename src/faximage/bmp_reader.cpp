#include "faximage/bmp_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/byte_order.h"

namespace kv {

namespace {

int luminance(std::uint32_t rgb) {
  return static_cast<int>(((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF));
}

// Monochrome page images: one page, the top row first.
class BmpReader final : public LineSource {
 public:
  BmpReader(ByteInput &in, int maxWidth) : in_(in), maxWidth_(maxWidth) {}

  Result open() override {
    Result r = readBmpInfo(in_, info_);
    if (r < 0) return r;
    if (info_.width > maxWidth_)
      return refuse("the image is " + std::to_string(info_.width) + " pixels wide; a page line " +
                    "holds " + std::to_string(maxWidth_));
    if (info_.bitsPerPixel != 1 || info_.compression != kBmpRgb)
      return refuse("a " + std::to_string(info_.bitsPerPixel) +
                    "-bit picture that could not be made black and white");
    const std::uint64_t need =
        std::uint64_t{info_.dataOffset} + std::uint64_t{info_.stride} * info_.height;
    if (need > in_.size())
      return refuse("the file is cut off: its rows need " + std::to_string(need) +
                    " bytes, it has " + std::to_string(in_.size()));
    // Bit 1 is white and bit 0 black in the files this program draws; a file whose palette
    // says the opposite is read the way it looks rather than as a negative.
    zeroIsWhite_ =
        info_.palette.size() >= 2 && luminance(info_.palette[0]) > luminance(info_.palette[1]);
    rowBytes_ = static_cast<std::size_t>(info_.width + 7) / 8;
    row_.assign(rowBytes_, 0);
    line_ = 0;
    return ecOK;
  }

  Result readLine(std::uint8_t *line, std::size_t lineBytes, bool &endOfPage,
                  bool &morePages) override {
    morePages = false;
    endOfPage = line_ >= info_.height;
    if (endOfPage) return ecOK;
    const std::int32_t stored = info_.topDown ? line_ : info_.height - 1 - line_;
    Result r = in_.seek(info_.dataOffset + std::uint64_t{info_.stride} * stored);
    if (r >= 0) r = in_.readExact(row_.data(), rowBytes_);
    if (r < 0) return r;
    ++line_;
    const int spare = static_cast<int>(rowBytes_ * 8) - info_.width;
    const std::uint8_t pad = static_cast<std::uint8_t>((1u << spare) - 1);
    if (zeroIsWhite_) {
      row_.back() &= static_cast<std::uint8_t>(~pad);
    } else {
      row_.back() |= pad;
      for (auto &b : row_) b = static_cast<std::uint8_t>(~b);
    }
    std::memcpy(line, row_.data(), std::min(lineBytes, rowBytes_));
    return ecOK;
  }

  int imageWidth() const override { return info_.width; }
  std::uint64_t bytesRead() const override { return std::uint64_t{info_.stride} * line_; }
  std::uint64_t bytesTotal() const override {
    return std::uint64_t{info_.stride} * static_cast<std::uint32_t>(info_.height);
  }

 private:
  ByteInput &in_;
  int maxWidth_;
  BmpInfo info_;
  bool zeroIsWhite_ = false;
  std::size_t rowBytes_ = 0;
  std::vector<std::uint8_t> row_;
  std::int32_t line_ = 0;
};

}  // namespace

Result readBmpInfo(ByteInput &in, BmpInfo &info) {
  info = BmpInfo{};
  std::uint8_t h[14 + 124];
  Result r = in.seek(0);
  if (r >= 0) r = in.readExact(h, 18);
  if (r == ecBadGraphicsFormat || (r >= 0 && (h[0] != 'B' || h[1] != 'M')))
    return ecBadGraphicsFormat;
  if (r < 0) return r;
  info.dataOffset = getLe32(h + 10);
  const std::uint32_t headerSize = getLe32(h + 14);
  std::uint32_t paletteEntryBytes = 4;
  std::uint32_t colorsUsed = 0;
  if (headerSize == 12) {  // the old OS/2 form: 16-bit sizes, 3-byte palette entries
    if ((r = in.readExact(h + 18, 8)) < 0) return r;
    info.width = getLe16(h + 18);
    info.height = getLe16(h + 20);
    info.bitsPerPixel = getLe16(h + 24);
    paletteEntryBytes = 3;
  } else if (headerSize >= 40 && headerSize <= 124) {
    if ((r = in.readExact(h + 18, headerSize - 4)) < 0) return r;
    info.width = static_cast<std::int32_t>(getLe32(h + 18));
    const auto height = static_cast<std::int32_t>(getLe32(h + 22));
    if (height == INT32_MIN) return ecBadGraphicsFormat;
    info.topDown = height < 0;
    info.height = info.topDown ? -height : height;
    info.bitsPerPixel = getLe16(h + 28);
    info.compression = getLe32(h + 30);
    colorsUsed = getLe32(h + 46);
    if (info.compression == kBmpBitFields) {
      if (headerSize == 40 && (r = in.readExact(h + 54, 12)) < 0) return r;
      for (int i = 0; i < 3; ++i) info.masks[i] = getLe32(h + 54 + 4 * i);
    }
  } else {
    return ecBadGraphicsFormat;
  }
  if (info.width <= 0 || info.height <= 0 || info.height > kBmpMaxHeight ||
      info.width > kBmpMaxHeight)
    return ecBadGraphicsFormat;
  const int bpp = info.bitsPerPixel;
  switch (info.compression) {
    case kBmpRgb:
      if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return ecBadGraphicsFormat;
      break;
    case kBmpRle8:
      if (bpp != 8 || info.topDown) return ecBadGraphicsFormat;
      break;
    case kBmpRle4:
      if (bpp != 4 || info.topDown) return ecBadGraphicsFormat;
      break;
    case kBmpBitFields:
      if ((bpp != 16 && bpp != 32) || !info.masks[0] || !info.masks[1] || !info.masks[2])
        return ecBadGraphicsFormat;
      break;
    default:
      return ecBadGraphicsFormat;
  }
  info.stride =
      static_cast<std::uint32_t>((static_cast<std::uint64_t>(info.width) * bpp + 31) / 32 * 4);
  if (bpp <= 8) {
    std::uint32_t count = colorsUsed ? std::min<std::uint32_t>(colorsUsed, 1u << bpp) : 1u << bpp;
    std::uint8_t entry[4];
    for (std::uint32_t i = 0; i < count; ++i) {
      // A palette that runs into the pixel rows is cut there.
      if (in.position() + paletteEntryBytes > info.dataOffset) break;
      if ((r = in.readExact(entry, paletteEntryBytes)) < 0) return r;
      info.palette.push_back(std::uint32_t{entry[2]} << 16 | std::uint32_t{entry[1]} << 8 |
                             entry[0]);
    }
  }
  return ecOK;
}

std::unique_ptr<LineSource> makeBmpReader(ByteInput &in, int maxWidth) {
  return std::make_unique<BmpReader>(in, maxWidth);
}

}  // namespace kv
