#pragma once
// Lookup tables of the T.4 run codes, shared by the record coder (t4_coder) and the stream
// coder (t4_stream). Codes are held with their bits reversed: the first transmitted bit is
// bit 0, the order in which codes are packed into bytes and read back.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include "faximage/t4_coder.h"

namespace kv::t4lookup {

struct RevCode {
  std::uint16_t code;
  std::uint8_t bits;
};

struct EncodeTables {
  RevCode term[2][64];    // [colour][run], colour 1 = black
  RevCode makeup[2][41];  // [colour][k] codes 64 * k, k = 1 .. 40
};
const EncodeTables &encodeTables();

std::uint16_t reverseBits(std::uint16_t code, int bits);

// Decoding tables: indexed by the next 12 (white) or 13 (black) bits of the stream, first bit
// lowest. Every index whose low bits equal a code word maps to that code word. Run codes
// first, so that a fast path tests for them with one comparison.
enum : std::uint8_t { kTerm = 0, kMakeup, kEol, kZeros, kInvalid };

struct DecodeEntry {
  std::uint16_t run;
  std::uint8_t bits;
  std::uint8_t kind;
};

constexpr int kWhiteIndexBits = 12;
constexpr int kBlackIndexBits = 13;

struct DecodeTables {
  DecodeEntry white[1 << kWhiteIndexBits];
  DecodeEntry black[1 << kBlackIndexBits];
};
const DecodeTables &decodeTables();

// Sets pixels [from, from + count) of a line (most significant bit first) to black.
inline void setBlack(std::uint8_t *line, unsigned from, unsigned count) {
  if (count == 0) return;
  unsigned end = from + count;
  unsigned first = from >> 3, last = (end - 1) >> 3;
  std::uint8_t headMask = static_cast<std::uint8_t>(0xFFu >> (from & 7));
  std::uint8_t tailMask = static_cast<std::uint8_t>(0xFFu << (7 - ((end - 1) & 7)));
  if (first == last) {
    line[first] |= headMask & tailMask;
    return;
  }
  line[first] |= headMask;
  if (last > first + 1) std::memset(line + first + 1, 0xFF, last - first - 1);
  line[last] |= tailMask;
}

// Finds the colour changes of one row of packed pixels (most significant bit first, 1 = black),
// 57 or more pixels at a time. The row is copied with zero padding so the scan reads whole
// 64-bit words without bounds checks.
class RowScan {
 public:
  RowScan(const std::uint8_t *row, int width) : width_(std::clamp(width, 0, kFaxMaxLinePixels)) {
    const int nbytes = (width_ + 7) / 8;
    std::memcpy(padded_, row, static_cast<std::size_t>(nbytes));
    std::memset(padded_ + nbytes, 0, 16);
  }
  int width() const { return width_; }

  // The first pixel at or after x that is not of colour `black`; at least width() when none is.
  int nextChange(int x, bool black) const {
    for (;;) {
      std::uint64_t v;
      std::memcpy(&v, padded_ + (x >> 3), 8);
      if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
      if (black) v = ~v;
      v <<= (x & 7);
      const int trusted = 64 - (x & 7);
      if (v != 0) {
        const int n = std::countl_zero(v);
        if (n < trusted) return x + n;
      }
      x += trusted;
      if (x >= width_) return x;
    }
  }

 private:
  int width_;
  std::uint8_t padded_[kFaxMaxLinePixels / 8 + 16];
};

}  // namespace kv::t4lookup
