#pragma once
// Lookup tables of the T.4 run codes, shared by the record coder (t4_coder) and the stream
// coder (t4_stream). Codes are held with their bits reversed: the first transmitted bit is
// bit 0, the order in which codes are packed into bytes and read back.
#include <cstdint>
#include <cstring>

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

}  // namespace kv::t4lookup
