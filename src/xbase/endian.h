// Byte-order helpers for on-disk structures: DBF and CDX headers are little-endian, FPT
// headers and CDX interior entries big-endian. Never cast packed structs onto file bytes.
#pragma once

#include <cstdint>

namespace kv::xbase {

inline uint16_t GetU16LE(const uint8_t *p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t GetU32LE(const uint8_t *p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t GetU32BE(const uint8_t *p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t GetU16BE(const uint8_t *p) {
  return uint16_t((p[0] << 8) | p[1]);
}
inline void PutU16LE(uint8_t *p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutU32LE(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutU32BE(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void PutU16BE(uint8_t *p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

}  // namespace kv::xbase
