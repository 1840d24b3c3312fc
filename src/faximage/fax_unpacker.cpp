#include "faximage/fax_unpacker.h"

#include <strings.h>
#include <sys/stat.h>
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "base/exceptions.h"

namespace kv {

namespace {

// Halving a line: each output nibble from one input byte, pairs of pixels merged. Raster lines
// keep a pixel black when either is black; bitmaps (white-first in the original display form)
// only when both are.
struct HalveTables {
  std::array<std::uint8_t, 256> eitherBlack{}, bothBlack{};
  HalveTables() {
    for (int b = 0; b < 256; ++b) {
      int any = 0, all = 0;
      for (int pair = 0; pair < 4; ++pair) {
        const int bits = (b >> (6 - 2 * pair)) & 3;
        any |= (bits != 0) << (3 - pair);
        all |= (bits == 3) << (3 - pair);
      }
      eitherBlack[b] = static_cast<std::uint8_t>(any);
      bothBlack[b] = static_cast<std::uint8_t>(all);
    }
  }
};

const HalveTables &halveTables() {
  static const HalveTables t;
  return t;
}

bool allZero(const std::uint8_t *p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// Largest bitmap we agree to make: far beyond any fax page, small enough to allocate. A fine A4
// page has about 2300 rows; a damaged or hostile file could otherwise ask for gigabytes.
constexpr std::int64_t kMaxBitmapBytes = std::int64_t{1} << 30;
constexpr std::size_t kMaxBitmapRows = 65536;

}  // namespace

void TKvCustomFaxUnpacker::setInFileName(const std::string &name) {
  if (strcasecmp(name.c_str(), inFileName_.c_str()) == 0) {
    inFileName_ = name;
    return;
  }
  inFileName_ = name;
  const auto slash = name.find_last_of('/');
  const auto dot = name.find_last_of('.');
  outFileName_ = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                     ? name.substr(0, dot)
                     : name;
}

Result TKvCustomFaxUnpacker::openReader(ApfReader *&reader) {
  reader = nullptr;
  struct stat st;
  std::uint64_t stamp[4] = {};
  if (::stat(inFileName_.c_str(), &st) == 0) {
    stamp[0] = st.st_dev;
    stamp[1] = st.st_ino;
    stamp[2] = static_cast<std::uint64_t>(st.st_size);
    stamp[3] = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
  }
  if (!reader_ || !reader_->isOpen() || readerName_ != inFileName_ ||
      !std::equal(stamp, stamp + 4, readerStamp_)) {
    if (!reader_) reader_ = std::make_unique<ApfReader>();
    readerName_ = inFileName_;
    std::copy(stamp, stamp + 4, readerStamp_);
    if (Result r = reader_->open(inFileName_); r < 0) return r;
  }
  reader = reader_.get();
  return ecOK;
}

Result TKvCustomFaxUnpacker::numPages(int &count) {
  count = 0;
  ApfReader *reader;
  if (Result r = openReader(reader); r < 0) return r;
  count = reader->header().pageCount;
  return ecOK;
}

Result TKvCustomFaxUnpacker::firstPageFlags(std::uint16_t &imageFlags) {
  imageFlags = 0;
  ApfReader *reader;
  if (Result r = openReader(reader); r < 0) return r;
  ApfPageLocation loc;
  if (Result r = reader->locatePage(1, loc); r < 0) return r;
  imageFlags = loc.header.imageFlags;
  return ecOK;
}

Result TKvCustomFaxUnpacker::decodePage(int page, bool bitmapOutput, ApfPageHeader &header,
                                        const LineOut &out) {
  if (wsCompression_ && (wsFrom_ < wsTo_ || (wsFrom_ == 0 && wsTo_ != 0))) return ecBadArgument;
  ApfReader *readerPtr;
  if (Result r = openReader(readerPtr); r < 0) return r;
  ApfReader &reader = *readerPtr;
  ApfPageLocation loc;
  if (Result r = reader.locatePage(page, loc); r < 0) return r;
  header = loc.header;

  const bool doubleHeight = !header.highResolution() && autoScale_ == asDoubleHeight;
  const bool halfWidth = !header.highResolution() && autoScale_ == asHalfWidth;
  const bool filter = wsCompression_ && wsFrom_ > 0 && wsTo_ > 0;
  const auto &halve = bitmapOutput ? halveTables().bothBlack : halveTables().eitherBlack;
  std::array<std::uint8_t, kFaxMaxLinePixels / 8> blank{}, half{};

  auto emit = [&](const std::uint8_t *d, int len) {
    if (halfWidth) {
      const int n = len / 2;
      for (int i = 0; i < n; ++i)
        half[i] = static_cast<std::uint8_t>(halve[d[2 * i]] << 4 | halve[d[2 * i + 1]]);
      out(half.data(), n);
    } else {
      out(d, len);
      if (doubleHeight) out(d, len);
    }
  };
  int blanks = 0, blankLen = header.bytesPerLine();
  auto emitBlanks = [&](int n) {
    for (int i = 0; i < n; ++i) emit(blank.data(), blankLen);
  };

  bool aborted = false;
  std::size_t lines = 0;
  T4Decoder decoder;
  decoder.setSink([&](const std::uint8_t *p, std::size_t bytes) {
    const int len = static_cast<int>(bytes);
    if (filter && allZero(p, len)) {
      ++blanks;
      blankLen = len;
    } else {
      if (blanks > 0) emitBlanks(blanks >= wsFrom_ ? wsTo_ : blanks);
      blanks = 0;
      emit(p, len);
    }
    if (++lines % 16 == 0 && yield_ && MessagePump) MessagePump();
    if (abort_) {
      aborted = true;
      decoder.stop();
    }
  });

  const std::int64_t total = header.imageLength;
  Result r =
      reader.readPageData(loc, [&](std::span<const std::uint8_t> coded, std::uint32_t consumed) {
        const bool more = decoder.feed(coded.data(), coded.size());
        if (OnStatus)
          OnStatus(*this, inFileName_, page, std::min<std::int64_t>(consumed, total), total);
        if (abort_) aborted = true;
        return more && !aborted;
      });
  if (r < 0) return r;
  if (aborted) {
    abort_ = false;
    return ecUnpackAbort;
  }
  decoder.finish();
  // Blank lines still held back at the end of the page.
  if (filter && blanks > 0 && wsFrom_ != wsTo_) emitBlanks(blanks >= wsFrom_ ? wsTo_ : blanks);
  return ecOK;
}

Result TKvCustomFaxUnpacker::unpackPage(int page) {
  ApfPageHeader header;
  bool started = false;
  Result r;
  try {
    r = decodePage(page, false, header, [&](const std::uint8_t *d, int len) {
      if (!started && OnOutputLine) OnOutputLine(*this, true, false, nullptr, 0, page);
      started = true;
      if (OnOutputLine) OnOutputLine(*this, false, false, d, len, page);
    });
  } catch (const std::bad_alloc &) {
    return ecOutOfMemory;
  }
  if (r < 0) return r;
  if (!started && OnOutputLine) OnOutputLine(*this, true, false, nullptr, 0, page);
  if (OnOutputLine) OnOutputLine(*this, false, true, nullptr, 0, page);
  return ecOK;
}

Result TKvCustomFaxUnpacker::unpackPageToBitmap(int page, MonoBitmap &result) {
  result = MonoBitmap{};
  try {
    constexpr std::size_t kGrowLines = 1024;
    std::vector<std::uint8_t> rows;
    std::size_t rowBytes = 0, count = 0;
    int used = 0;  // bytes up to the last non-white byte of any row
    ApfPageHeader header;
    bool tooTall = false;
    Result r = decodePage(page, true, header, [&](const std::uint8_t *d, int len) {
      if (count >= kMaxBitmapRows) {
        tooTall = true;
        return;
      }
      if (rowBytes == 0) {
        rowBytes = static_cast<std::size_t>(header.bytesPerLine());
        rows.assign(kGrowLines * rowBytes, 0);
      }
      if (count * rowBytes >= rows.size()) rows.resize(rows.size() + kGrowLines * rowBytes, 0);
      const int n = std::min(len, static_cast<int>(rowBytes));
      std::memcpy(rows.data() + count * rowBytes, d, static_cast<std::size_t>(n));
      for (int i = n - 1; i >= used; --i)
        if (d[i]) {
          used = i + 1;
          break;
        }
      ++count;
    });
    if (r < 0) return r;
    if (tooTall) return ecCantMakeBitmap;
    if (count == 0) return ecOK;

    // Cut to the used width, rounded up to an even number of bytes.
    const int bytes = (std::max(used, 1) + 1) & ~1;
    MonoBitmap bm;
    bm.width = bytes * 8;
    bm.height = static_cast<int>(count);
    bm.stride = bytes;
    bm.bits.assign(static_cast<std::size_t>(bytes) * count, 0);
    const std::size_t copy = std::min<std::size_t>(static_cast<std::size_t>(bytes), rowBytes);
    for (std::size_t y = 0; y < count; ++y)
      std::memcpy(bm.bits.data() + y * bytes, rows.data() + y * rowBytes, copy);

    if (scaling_ && (hMult_ != hDiv_ || vMult_ != vDiv_)) {
      const std::int64_t w = std::int64_t{bm.width} * hMult_ / hDiv_;
      const std::int64_t h = std::int64_t{bm.height} * vMult_ / vDiv_;
      if (w <= 0 || h <= 0 || w > 1 << 20 || h > 1 << 24 || (w + 7) / 8 * h > kMaxBitmapBytes)
        return ecCantMakeBitmap;
      bm = stretchBitmap(bm, static_cast<int>(w), static_cast<int>(h));
    }
    result = std::move(bm);
    return ecOK;
  } catch (const std::bad_alloc &) {
    return ecOutOfMemory;
  }
}

int TKvCustomFaxUnpacker::NumPages() {
  int n = 0;
  RaiseOnError(numPages(n));
  return n;
}

bool TKvCustomFaxUnpacker::FirstPageHighResolution() {
  std::uint16_t flags = 0;
  RaiseOnError(firstPageFlags(flags));
  return flags & apfHighResolution;
}

bool TKvCustomFaxUnpacker::FirstPageWide() {
  std::uint16_t flags = 0;
  RaiseOnError(firstPageFlags(flags));
  return flags & apfWide;
}

MonoBitmap TKvCustomFaxUnpacker::UnpackPageToBitmap(int page) {
  MonoBitmap bm;
  RaiseOnError(unpackPageToBitmap(page, bm));
  return bm;
}

void TKvCustomFaxUnpacker::UnpackPage(int page) {
  RaiseOnError(unpackPage(page));
}

}  // namespace kv
