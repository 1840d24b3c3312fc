#pragma once
// Pieces of scripted-modem dialogues for Class 1 calls: the preparation of both sides, a call
// up to trained, pages and their replies, and frames as the modem hands them over.
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "fax/t30.h"

namespace kv::test {

inline std::string hex(const std::vector<std::uint8_t> &b) {
  std::string s;
  char buf[4];
  for (auto x : b) {
    std::snprintf(buf, sizeof buf, "%02X ", x);
    s += buf;
  }
  return s;
}

// A frame as the modem hands it over: address, control, FCF, info, two FCS bytes.
// An HDLC frame as the modem passes it on, with a check sequence the host ignores.
inline std::vector<std::uint8_t> frameBytes(std::uint8_t fcf, bool final,
                                            std::vector<std::uint8_t> info = {}) {
  std::vector<std::uint8_t> b{0xFF, std::uint8_t(final ? 0x13 : 0x03), fcf};
  for (auto x : info) b.push_back(x);
  b.push_back(0x5A);
  b.push_back(0xA5);
  return b;
}
inline std::string frameHex(std::uint8_t fcf, bool final, std::vector<std::uint8_t> info = {}) {
  return hex(frameBytes(fcf, final, std::move(info)));
}

// Initialisation and the Class 1 modulation query (AT+FTM=? sending, AT+FRM=? receiving).
inline std::string preparation(const char *query) {
  return std::string("\ntimeout 5000\n> ATE0Q0V1X4S0=0S2=43\n< OK\n> AT+FCLASS=1\n< OK\n> ") +
         query + "\n< 24,48,72,96\n< OK\n";
}

inline const std::string kSendPrep = preparation("AT+FTM=?");
inline const std::string kSendInit = kSendPrep + "> AT+FCLASS=1\n< OK\n";

// Dialling 5551234 up to the far end's confirmation of training; the far end is "FAR END".
// Its DIS offers MH only unless twoD.
inline std::string negotiation(bool twoD = false) {
  std::string s = "> ATDT5551234\n< CONNECT\n";
  s += "<data " + frameHex(0x40, false, t30::stationIdInfo("FAR END")) + "\n< OK\n";
  s += "> AT+FRH=3\n< CONNECT\n";
  s += "<data " + frameHex(0x80, true, {0x00, std::uint8_t(twoD ? 0xCE : 0x4E), 0xF9, 0x00}) +
       "\n< OK\n";
  s += "> AT+FTH=3\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n";  // TSI, DCS
  s += "> AT+FTM=96\n< CONNECT\n>data\n< OK\n";                   // training
  s += "> AT+FRH=3\n< CONNECT\n<data " + frameHex(0x84, true) + "\n< OK\n";
  return s;
}

// One page, its post-page message and the far end's reply (MCF by default); the last page
// also has the DCN and the hang-up.
inline std::string pageAndEnd(bool last, const std::string &reply = "8C") {
  std::string s = "> AT+FTM=96\n< CONNECT\n>data\n< OK\n";
  s += "> AT+FTH=3\n< CONNECT\n>data\n< OK\n";  // MPS or EOP
  s += "> AT+FRH=3\n< CONNECT\n<data FF 13 " + reply + " 00 00\n< OK\n";
  if (last) s += "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> ATH\n< OK\n";
  return s;
}

// The receiver's preparation and its first call cycle's class selection.
inline const std::string kReceiveInit = preparation("AT+FRM=?") + "> AT+FCLASS=1\n< OK\n";

// Two rings, the answer, "CALLER 7"'s identification and DCS at 9600, then its training.
inline std::string answerToTraining(const std::string &tcfHex) {
  std::string s = "< RING\n< RING\n> ATA\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n";
  s += "> AT+FRH=3\n< CONNECT\n<data " + frameHex(0x43, false, t30::stationIdInfo("CALLER 7")) +
       "\n< OK\n";
  s +=
      "> AT+FRH=3\n< CONNECT\n<data " + frameHex(0x83, true, {0x00, 0x06, 0xF8, 0x00}) + "\n< OK\n";
  s += "> AT+FRM=96\n< CONNECT\n<data " + tcfHex + "\n< NO CARRIER\n";
  return s;
}

inline std::string zerosHex(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "00 ";
  return s;
}

inline std::string ones(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "01 ";
  return s;
}

// After good training: CFR, the pages (MPS between them, EOP after the last, each answered
// MCF), DCN and the hang-up.
inline std::string pagesToTheEnd(const std::vector<std::string> &pagesHex) {
  std::string s;
  for (std::size_t i = 0; i < pagesHex.size(); ++i)
    s += "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> AT+FRM=96\n< CONNECT\n<data " + pagesHex[i] +
         "\n< NO CARRIER\n> AT+FRH=3\n< CONNECT\n<data FF 13 " +
         (i + 1 < pagesHex.size() ? "4F" : "2F") + " 00 00\n< OK\n";
  return s +
         "> AT+FTH=3\n< CONNECT\n>data\n< OK\n"
         "> AT+FRH=3\n< CONNECT\n<data FF 13 FB 00 00\n< OK\n> ATH\n< OK\n";
}
inline std::string onePageToTheEnd(const std::string &pageHex) {
  return pagesToTheEnd({pageHex});
}

// After `rings`: the answer, DCS at 9600 without the caller's id, training, one page to the
// hang-up, and the next call cycle's class selection.
inline std::string wholeCall(const std::string &rings) {
  return rings + "> ATA\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n> AT+FRH=3\n< CONNECT\n<data " +
         frameHex(0x83, true, {0x00, 0x06, 0xF8, 0x00}) + "\n< OK\n> AT+FRM=96\n< CONNECT\n<data " +
         zerosHex(100) + "\n< NO CARRIER\n" + onePageToTheEnd("00 80 B2 59 01 00") +
         "> AT+FCLASS=1\n< OK\n";
}
}  // namespace kv::test
