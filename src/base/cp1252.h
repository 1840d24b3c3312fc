#pragma once
// Windows-1252, the code page of the tables and of the fax font. Only the bytes 0x80..0x9F have
// code points that differ from Latin-1.
#include <cstdint>

namespace kv {

// Code points of the bytes 0x80..0x9F; 0 marks the five unassigned bytes.
inline constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The code point of a byte; 0 for an unassigned one.
constexpr char32_t cp1252ToUnicode(std::uint8_t b) {
  return b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char32_t{b};
}

// The byte of a code point, or -1 when the code page has none.
constexpr int unicodeToCp1252(char32_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<int>(u);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == u) return 0x80 + i;
  return -1;
}

}  // namespace kv
