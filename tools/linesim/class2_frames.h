#pragma once
// T.30 frame contents as the emulated Class 2 modem builds and reads them (DIS, DCS, station
// ids, rates), shared by its command layer and its T.30.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::linesim::c2 {

inline constexpr std::uint8_t kDle = 0x10, kEtx = 0x03, kDc2 = 0x12, kXon = 0x11;

// Control fields as the Class 1 modem carries them (first bit on the line in bit 0); the low
// bit (T.30's X bit) is ignored when reading.
namespace fcf {
constexpr std::uint8_t NSF = 0x20, CSI = 0x40, DIS = 0x80;
constexpr std::uint8_t TSI = 0x43, DCS = 0x83;
constexpr std::uint8_t CFR = 0x84, FTT = 0x44;
constexpr std::uint8_t MPS = 0x4F, EOM = 0x8F, EOP = 0x2F;
constexpr std::uint8_t MCF = 0x8C, RTN = 0x4C, RTP = 0xCC, PIP = 0xAC, PIN = 0x2C;
constexpr std::uint8_t DCN = 0xFB, CRP = 0x1B;
}  // namespace fcf

inline std::uint8_t kind(std::uint8_t f) {
  return f & 0xFE;
}

// Station ids: 20 characters, right-aligned, last character first on the line.
inline std::vector<std::uint8_t> idInfo(const std::string &id) {
  std::string s = id.substr(0, 20);
  s.insert(0, 20 - s.size(), ' ');
  return {s.rbegin(), s.rend()};
}

inline std::string idFromInfo(const std::uint8_t *p, std::size_t n) {
  std::string s;
  for (std::size_t i = std::min<std::size_t>(n, 20); i > 0; --i) {
    char c = static_cast<char>(p[i - 1]);
    s += c >= 32 && c < 127 && c != '"' ? c : ' ';
  }
  std::size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Minimum scan time in ms for the st code and resolution (the Class 2 table).
inline int scanMs(int st, bool fine) {
  static constexpr int kNormal[8] = {0, 5, 10, 10, 20, 20, 40, 40};
  static constexpr int kFine[8] = {0, 5, 5, 10, 10, 20, 20, 40};
  return (fine ? kFine : kNormal)[st & 7];
}
inline int stForMs(int ms) {
  switch (ms) {
    case 0:
      return 0;
    case 5:
      return 1;
    case 10:
      return 3;
    case 40:
      return 7;
    default:
      return 5;
  }
}
// DIS bits 21..23 (in the third byte as 0x10, 0x20, 0x40) for each st code, and back.
inline constexpr std::uint8_t kDisScan[8] = {0x70, 0x10, 0x30, 0x20, 0x60, 0x00, 0x50, 0x40};
inline int stFromDis(std::uint8_t b) {
  for (int st = 0; st < 8; ++st)
    if (kDisScan[st] == (b & 0x70)) return st;
  return 5;
}
inline std::uint8_t dcsScan(int ms) {
  switch (ms) {
    case 0:
      return 0x70;
    case 5:
      return 0x10;
    case 10:
      return 0x20;
    case 40:
      return 0x40;
    default:
      return 0x00;
  }
}
inline int msFromDcs(std::uint8_t b) {
  switch (b & 0x70) {
    case 0x70:
      return 0;
    case 0x10:
      return 5;
    case 0x20:
      return 10;
    case 0x40:
      return 40;
    default:
      return 20;
  }
}

// Rates: bps, Class 1 code for the training check, code for page data, DCS rate bits.
struct Rate {
  int bps;
  bool v17;
  const char *tcf;
  const char *page;
  std::uint8_t dcsBits;
};
inline constexpr Rate kRates[] = {
    {14400, true, "145", "146", 0x20}, {12000, true, "121", "122", 0x28},
    {9600, false, "96", "96", 0x04},   {9600, true, "97", "98", 0x24},
    {7200, false, "72", "72", 0x0C},   {7200, true, "73", "74", 0x2C},
    {4800, false, "48", "48", 0x08},   {2400, false, "24", "24", 0x00},
};
inline const Rate *rateFromDcs(std::uint8_t bits) {
  for (const Rate &r : kRates)
    if (r.dcsBits == (bits & 0x3C)) return &r;
  return &kRates[7];
}
// The modulation for a rate, as both sides can do it: V.29 before V.17 at 9600 and 7200.
inline const Rate *rateFor(int bps, bool v17, bool v29) {
  for (const Rate &x : kRates)
    if (x.bps == bps && (x.v17 ? v17 : (x.bps < 7200 || v29))) return &x;
  return &kRates[7];
}

inline int brFor(int bps) {
  switch (bps) {
    case 2400:
      return 0;
    case 4800:
      return 1;
    case 7200:
      return 2;
    case 12000:
      return 4;
    case 14400:
      return 5;
    default:
      return 3;
  }
}
inline int bpsFor(int br) {
  static constexpr int kBps[6] = {2400, 4800, 7200, 9600, 12000, 14400};
  return br >= 0 && br <= 5 ? kBps[br] : 9600;
}

inline std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

inline std::uint8_t reversed(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace kv::linesim::c2
