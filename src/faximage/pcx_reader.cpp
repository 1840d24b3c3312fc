#include "faximage/pcx_reader.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace kv {

namespace {

class PcxReader final : public LineSource {
 public:
  PcxReader(ByteInput &in, int maxWidth) : in_(in), page_(in, maxWidth) {}
  Result open() override { return page_.open(0, in_.size()); }
  Result readLine(std::uint8_t *line, std::size_t lineBytes, bool &endOfPage,
                  bool &morePages) override {
    morePages = false;
    const Result r = page_.readLine(line, lineBytes, endOfPage);
    return r == ecBadGraphicsFormat ? refuse(page_.problem()) : r;
  }
  int imageWidth() const override { return page_.width(); }
  std::uint64_t bytesRead() const override { return page_.bytesRead(); }
  std::uint64_t bytesTotal() const override { return page_.bytesTotal(); }

 private:
  ByteInput &in_;
  PcxPage page_;
};

}  // namespace

Result PcxPage::open(std::uint64_t start, std::uint64_t end) {
  std::uint8_t h[128];
  Result r = in_.seek(start);
  if (r >= 0) r = in_.readExact(h, sizeof h);
  if (r < 0) return r;
  // Manufacturer 10, run-length coding, one bit per pixel in one plane.
  if (h[0] != 10 || h[2] != 1 || h[3] != 1 || (h[65] != 1 && h[65] != 0))
    return ecBadGraphicsFormat;
  const int xMin = getLe16(h + 4), yMin = getLe16(h + 6), xMax = getLe16(h + 8),
            yMax = getLe16(h + 10);
  width_ = xMax - xMin + 1;
  height_ = yMax - yMin + 1;
  bytesPerLine_ = getLe16(h + 66);
  if (width_ <= 0 || width_ > maxWidth_ || height_ <= 0 || bytesPerLine_ < (width_ + 7) / 8)
    return ecBadGraphicsFormat;
  // Bit 1 is white in PCX, but a writer may order the header palette the other way round (as
  // for a picture that is all white); a palette that says so is believed.
  auto luminance = [&](int i) { return h[16 + 3 * i] + h[17 + 3 * i] + h[18 + 3 * i]; };
  zeroIsWhite_ = luminance(0) > luminance(1);
  dataStart_ = start + 128;
  dataEnd_ = std::max(dataStart_, std::min(end, in_.size()));
  consumed_ = 0;
  lines_ = 0;
  runLeft_ = 0;
  buf_.assign(static_cast<std::size_t>(bytesPerLine_), 0);
  return ecOK;
}

int PcxPage::nextByte() {
  if (dataStart_ + consumed_ >= dataEnd_) return -1;
  const int b = in_.getByte();
  if (b >= 0) ++consumed_;
  return b;
}

Result PcxPage::readLine(std::uint8_t *line, std::size_t lineBytes, bool &done) {
  done = false;
  // The header's height ends the page too, so that a DCX page never runs on into the next.
  if (lines_ >= height_) {
    done = true;
    return ecOK;
  }
  int filled = 0;
  while (filled < bytesPerLine_) {
    if (runLeft_ > 0) {
      const int take = std::min(runLeft_, bytesPerLine_ - filled);
      std::memset(buf_.data() + filled, runByte_, static_cast<std::size_t>(take));
      filled += take;
      runLeft_ -= take;
      continue;
    }
    const int b = nextByte();
    if (b < -1) return b;
    if (b < 0) break;
    if (b >= 192) {
      const int v = nextByte();
      if (v < -1) return v;
      if (v < 0) break;
      runLeft_ = b & 0x3F;
      runByte_ = static_cast<std::uint8_t>(v);
    } else {
      buf_[static_cast<std::size_t>(filled++)] = static_cast<std::uint8_t>(b);
    }
  }
  if (filled < bytesPerLine_) {
    // The header promised more lines than the data holds: a cut-off file, not a short page.
    problem_ = "the image data ends after " + std::to_string(lines_) + " of " +
               std::to_string(height_) + " lines; the file is cut off";
    return ecBadGraphicsFormat;
  }
  ++lines_;
  // PCX 1 = white; fax 1 = black. Bits past the image width stay white.
  const std::size_t used = static_cast<std::size_t>(width_ + 7) / 8;
  const std::size_t n = std::min(lineBytes, used);
  const std::uint8_t flip = zeroIsWhite_ ? 0x00 : 0xFF;
  for (std::size_t i = 0; i < n; ++i) line[i] = static_cast<std::uint8_t>(buf_[i] ^ flip);
  if (n == used && width_ % 8) line[n - 1] &= static_cast<std::uint8_t>(0xFF << (8 - width_ % 8));
  return ecOK;
}

std::unique_ptr<LineSource> makePcxReader(ByteInput &in, int maxWidth) {
  return std::make_unique<PcxReader>(in, maxWidth);
}

}  // namespace kv
