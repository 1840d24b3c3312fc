// Bilevel TIFF pages, uncompressed or PackBits, from the first image directory only.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "faximage/converter_source.h"

namespace kv {

namespace {

constexpr std::uint16_t kTagSubfileType = 255, kTagWidth = 256, kTagLength = 257,
                        kTagBitsPerSample = 258, kTagCompression = 259, kTagPhotometric = 262,
                        kTagFillOrder = 266, kTagStripOffsets = 273, kTagSamplesPerPixel = 277,
                        kTagRowsPerStrip = 278, kTagStripByteCounts = 279;
constexpr std::uint32_t kCompressionNone = 1, kCompressionPackBits = 32773;
// A directory of more entries than this is not a page image (libtiff's own limit is similar).
constexpr std::uint16_t kMaxEntries = 4096;
constexpr std::uint32_t kMaxRows = 1 << 20;

class TiffReader final : public LineSource {
 public:
  TiffReader(ByteInput &in, int maxWidth) : in_(in), maxWidth_(maxWidth) {}

  Result open() override {
    std::uint8_t h[8];
    Result r = in_.seek(0);
    if (r >= 0) r = in_.readExact(h, 8);
    if (r < 0) return r;
    if (h[0] == 'I' && h[1] == 'I') {
      bigEndian_ = false;
    } else if (h[0] == 'M' && h[1] == 'M') {
      bigEndian_ = true;
    } else {
      return ecBadGraphicsFormat;
    }
    if (u16(h + 2) != 42) return ecBadGraphicsFormat;
    if ((r = readDirectory(u32(h + 4))) < 0) return r;

    if (!haveWidth_ || !haveLength_ || offsets_.empty())
      return refuse("the image's width, length or strip offsets are missing");
    if (bitsPerSample_ != 1 || samplesPerPixel_ != 1)
      return refuse("not a black and white image (" + std::to_string(bitsPerSample_) +
                    " bits per sample, " + std::to_string(samplesPerPixel_) + " samples)");
    if (compression_ != kCompressionNone && compression_ != kCompressionPackBits)
      return refuse("compression " + std::to_string(compression_) +
                    " is not read; only none and PackBits are");
    if (width_ > static_cast<std::uint32_t>(maxWidth_))
      return refuse("the image is " + std::to_string(width_) + " pixels wide; a page line " +
                    "holds " + std::to_string(maxWidth_));
    if (width_ == 0 || length_ == 0 || length_ > kMaxRows) return ecBadGraphicsFormat;
    if (rowsPerStrip_ == 0) rowsPerStrip_ = length_;
    const std::uint64_t stripsNeeded = (std::uint64_t{length_} + rowsPerStrip_ - 1) / rowsPerStrip_;
    if (offsets_.size() < stripsNeeded) return ecBadGraphicsFormat;
    rowBytes_ = (width_ + 7) / 8;
    row_.assign(rowBytes_, 0);
    for (std::uint32_t c : counts_) total_ += c;
    if (counts_.size() != offsets_.size()) total_ = std::uint64_t{rowBytes_} * length_;
    return ecOK;
  }

  Result readLine(std::uint8_t *line, std::size_t lineBytes, bool &endOfPage,
                  bool &morePages) override {
    morePages = false;
    endOfPage = row_index_ >= length_;
    if (endOfPage) return ecOK;
    const std::uint32_t strip = row_index_ / rowsPerStrip_;
    if (row_index_ % rowsPerStrip_ == 0) {
      if (offsets_[strip] >= in_.size())
        return refuse("strip " + std::to_string(strip + 1) + " lies beyond the end of the file");
      Result r = in_.seek(offsets_[strip]);
      if (r < 0) return r;
      stripLeft_ = strip < counts_.size() ? counts_[strip] : UINT64_MAX;
    }
    Result r = compression_ == kCompressionNone ? readRaw() : readPackBits();
    if (r < 0) return r;
    ++row_index_;
    if (fillOrderReversed_)
      for (auto &b : row_) b = reverseBits(b);
    if (photometric_ != 0) {
      static const std::uint8_t kMask[8] = {0xFF, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
      for (auto &b : row_) b = static_cast<std::uint8_t>(~b);
      row_.back() &= kMask[width_ % 8];
    } else if (width_ % 8) {
      row_.back() &= static_cast<std::uint8_t>(0xFF << (8 - width_ % 8));
    }
    std::memcpy(line, row_.data(), std::min<std::size_t>(lineBytes, rowBytes_));
    return ecOK;
  }

  int imageWidth() const override { return static_cast<int>(width_); }
  std::uint64_t bytesRead() const override { return std::min(consumed_, total_); }
  std::uint64_t bytesTotal() const override { return total_; }

 private:
  std::uint16_t u16(const std::uint8_t *p) const {
    return bigEndian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                      : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
  }
  std::uint32_t u32(const std::uint8_t *p) const {
    return bigEndian_ ? std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]
                      : std::uint32_t{p[3]} << 24 | p[2] << 16 | p[1] << 8 | p[0];
  }
  static std::uint8_t reverseBits(std::uint8_t b) {
    b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  }

  // Values of an entry of type BYTE, SHORT or LONG, inline or at the offset it gives.
  Result values(const std::uint8_t *e, std::vector<std::uint32_t> &out, std::uint32_t maxCount) {
    const std::uint16_t type = u16(e + 2);
    const std::uint32_t count = u32(e + 4);
    const int size = type == 1 ? 1 : type == 3 ? 2 : type == 4 ? 4 : 0;
    if (size == 0 || count == 0 || count > maxCount) return ecBadGraphicsFormat;
    const std::uint64_t bytes = std::uint64_t{count} * size;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
    if (bytes <= 4) {
      std::memcpy(raw.data(), e + 8, static_cast<std::size_t>(bytes));
    } else {
      const std::uint64_t at = u32(e + 8);
      if (at + bytes > in_.size()) return refuse("a tag's values lie beyond the end of the file");
      const std::uint64_t back = in_.position();
      Result r = in_.seek(at);
      if (r >= 0) r = in_.readExact(raw.data(), raw.size());
      if (r >= 0) r = in_.seek(back);
      if (r < 0) return r;
    }
    out.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t *p = raw.data() + std::size_t{i} * size;
      out[i] = size == 1 ? *p : size == 2 ? u16(p) : u32(p);
    }
    return ecOK;
  }

  Result readDirectory(std::uint32_t at) {
    std::uint8_t n[2];
    Result r = in_.seek(at);
    if (r >= 0) r = in_.readExact(n, 2);
    if (r < 0) return r;
    const std::uint16_t entries = u16(n);
    if (entries == 0 || entries > kMaxEntries) return ecBadGraphicsFormat;
    std::vector<std::uint32_t> v;
    for (std::uint16_t i = 0; i < entries; ++i) {
      std::uint8_t e[12];
      if ((r = in_.readExact(e, 12)) < 0) return r;
      const std::uint16_t tag = u16(e);
      // Strip tables may be long; everything else used here is a single value.
      const bool table = tag == kTagStripOffsets || tag == kTagStripByteCounts;
      switch (tag) {
        case kTagSubfileType:
        case kTagWidth:
        case kTagLength:
        case kTagBitsPerSample:
        case kTagCompression:
        case kTagPhotometric:
        case kTagFillOrder:
        case kTagSamplesPerPixel:
        case kTagRowsPerStrip:
        case kTagStripOffsets:
        case kTagStripByteCounts:
          if ((r = values(e, v, table ? kMaxRows : 16)) < 0) return r;
          break;
        default:
          continue;
      }
      switch (tag) {
        case kTagWidth:
          width_ = v[0];
          haveWidth_ = true;
          break;
        case kTagLength:
          length_ = v[0];
          haveLength_ = true;
          break;
        case kTagBitsPerSample:
          bitsPerSample_ = v[0];
          break;
        case kTagCompression:
          compression_ = v[0];
          break;
        case kTagPhotometric:
          photometric_ = v[0];
          break;
        case kTagFillOrder:
          fillOrderReversed_ = v[0] == 2;
          break;
        case kTagSamplesPerPixel:
          samplesPerPixel_ = v[0];
          break;
        case kTagRowsPerStrip:
          rowsPerStrip_ = v[0];
          break;
        case kTagStripOffsets:
          offsets_ = v;
          break;
        case kTagStripByteCounts:
          counts_ = v;
          break;
        default:  // the subfile type says nothing the converter needs
          break;
      }
    }
    return ecOK;
  }

  Result readRaw() {
    Result r = in_.readExact(row_.data(), rowBytes_);
    if (r < 0) return r;
    consumed_ += rowBytes_;
    return ecOK;
  }

  int nextStripByte() {
    if (stripLeft_ == 0) return -1;
    const int b = in_.getByte();
    if (b >= 0) {
      --stripLeft_;
      ++consumed_;
    }
    return b;
  }

  Result endsEarly() {
    return refuse("the data of row " + std::to_string(row_index_ + 1) + " of " +
                  std::to_string(length_) + " ends early; the file is cut off");
  }

  // A row is coded on its own (TIFF 6.0, section 9): a count byte n below 128 copies n + 1
  // bytes, 129..255 repeat the next byte 257 - n times, and 128 is a no-op.
  Result readPackBits() {
    std::size_t filled = 0;
    while (filled < rowBytes_) {
      const int n = nextStripByte();
      if (n < -1) return n;
      if (n < 0) return endsEarly();
      if (n < 128) {
        for (int k = 0; k <= n; ++k) {
          const int b = nextStripByte();
          if (b < -1) return b;
          if (b < 0) return endsEarly();
          if (filled < rowBytes_) row_[filled++] = static_cast<std::uint8_t>(b);
        }
      } else if (n > 128) {
        const int b = nextStripByte();
        if (b < -1) return b;
        if (b < 0) return endsEarly();
        for (int k = 0; k < 257 - n && filled < rowBytes_; ++k)
          row_[filled++] = static_cast<std::uint8_t>(b);
      }
    }
    return ecOK;
  }

  ByteInput &in_;
  int maxWidth_;
  bool bigEndian_ = false;
  bool haveWidth_ = false, haveLength_ = false;
  std::uint32_t width_ = 0, length_ = 0, bitsPerSample_ = 1, samplesPerPixel_ = 1;
  std::uint32_t compression_ = kCompressionNone, photometric_ = 0, rowsPerStrip_ = 0;
  bool fillOrderReversed_ = false;
  std::vector<std::uint32_t> offsets_, counts_;
  std::uint32_t rowBytes_ = 0;
  std::vector<std::uint8_t> row_;
  std::uint32_t row_index_ = 0;
  std::uint64_t stripLeft_ = 0;
  std::uint64_t consumed_ = 0, total_ = 0;
};

}  // namespace

std::unique_ptr<LineSource> makeTiffReader(ByteInput &in, int maxWidth) {
  return std::make_unique<TiffReader>(in, maxWidth);
}

}  // namespace kv
