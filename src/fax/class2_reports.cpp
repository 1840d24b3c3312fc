#include "fax/class2_reports.h"

#include "base/hex_digit.h"
#include "fax/t30.h"

#include <cctype>
#include <string>

namespace kv::class2 {

namespace {

std::string trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) < 33) --e;
  return std::string(s.substr(b, e - b));
}

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The text after the report's name: after the first ":", or the first "=" when there is no
// colon (some modems answer a query with "+FDIS=...").
std::string_view afterName(std::string_view line) {
  auto p = line.find(':');
  if (p == std::string_view::npos) p = line.find('=');
  return p == std::string_view::npos ? std::string_view{} : line.substr(p + 1);
}

struct Name {
  const char *text;
  Report report;
};
// Both spellings: the class set on the modem decides what it sends, not what we expect.
constexpr Name kNames[] = {
    {"FCON", Report::FaxConnect}, {"FCO", Report::FaxConnect},  {"FDIS", Report::RemoteCaps},
    {"FIS", Report::RemoteCaps},  {"FDCS", Report::Session},    {"FCS", Report::Session},
    {"FTSI", Report::Tsi},        {"FTI", Report::Tsi},         {"FCSI", Report::Csi},
    {"FCI", Report::Csi},         {"FPTS", Report::PageStatus}, {"FPS", Report::PageStatus},
    {"FET", Report::PostPage},    {"FHNG", Report::Hangup},     {"FHS", Report::Hangup},
};

}  // namespace

Report classify(std::string_view raw) {
  std::string line = upper(trim(raw));
  if (line.empty()) return Report::None;
  if (line[0] == '+') {
    std::string name = line.substr(1, line.find_first_of(":= ") - 1);
    for (const auto &n : kNames)
      if (name == n.text) return n.report;
    return Report::Other;
  }
  if (line == "OK") return Report::Ok;
  if (line.rfind("CONNECT", 0) == 0) return Report::Connect;
  if (line == "ERROR") return Report::Error;
  if (line == "NO CARRIER") return Report::NoCarrier;
  if (line == "BUSY") return Report::Busy;
  if (line == "NO ANSWER") return Report::Answer;
  if (line == "VOICE") return Report::Voice;
  if (line.rfind("NO DIAL", 0) == 0) return Report::NoDialTone;
  if (line == "RING") return Report::Ring;
  // A hang-up report some modems send without the "+".
  if (line.rfind("FHNG", 0) == 0 || line.rfind("FHS:", 0) == 0) return Report::Hangup;
  return Report::Other;
}

SessionParams parseParams(std::string_view line) {
  SessionParams p;
  std::string_view rest = afterName(line);
  // Fields by commas, each trimmed: "1,3,0,2,0,0,0,0" and "1, 3, 0, 2, 0, 0, 0, 0" alike.
  std::string field[8];
  int n = 0;
  for (std::size_t i = 0; i <= rest.size() && n < 8;) {
    std::size_t c = rest.find(',', i);
    if (c == std::string_view::npos) c = rest.size();
    field[n++] = trim(rest.substr(i, c - i));
    i = c + 1;
  }
  auto value = [&](int i) {
    // Class 2.0 modems may give hexadecimal bit masks; a plain digit reads the same.
    int v = 0;
    bool any = false;
    for (char c : field[i]) {
      int h = HexDigitValue(c);
      if (h < 0 || v > 0xFFFF) break;
      v = v * 16 + h;
      any = true;
    }
    return any ? v : -1;
  };
  int vr = value(0), br = value(1), wd = value(2), df = value(4), ec = value(5), st = value(7);
  p.twoD = df == 1;
  p.fine = vr > 0 && (vr & 1);
  p.wide = wd == 1;
  p.ecm = ec == 1 || ec == 2;
  switch (br) {
    case 0:
      p.lineRate = 2400;
      break;
    case 1:
      p.lineRate = 4800;
      break;
    case 2:
      p.lineRate = 7200;
      break;
    case 4:
      p.lineRate = 12000;
      break;
    case 5:
      p.lineRate = 14400;
      break;
    default:
      p.lineRate = 9600;
  }
  p.scanCode = st >= 0 && st <= 7 ? st : 0;
  return p;
}

int minBytesPerLine(const SessionParams &p) {
  return t30::minBytesPerLine(p.scanCode, p.fine, p.lineRate);
}

int minBitsPerLine(const SessionParams &p) {
  return t30::minBitsPerLine(p.scanCode, p.fine, p.lineRate);
}

std::string stationId(std::string_view line) {
  std::string s = trim(afterName(line));
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == '"' || s[b] == ' ')) ++b;
  while (e > b && (s[e - 1] == '"' || s[e - 1] == ' ')) --e;
  s = s.substr(b, e - b);
  for (char &c : s)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = ' ';
  return cut(s, kStationIdMax);
}

int firstDigit(std::string_view line) {
  for (char c : afterName(line)) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c != ' ' && c != '\t') return -1;
  }
  return -1;
}

int hangupCode(std::string_view line, bool v20) {
  std::string num = trim(afterName(line).substr(0, 3));
  int v = 0;
  for (char c : num) {
    int d = HexDigitValue(c);
    if (d < 0 || (!v20 && d > 9)) break;
    v = v * (v20 ? 16 : 10) + d;
  }
  if (!v20) return v;
  // Class 2.0 writes the codes of the Class 2 table in hexadecimal digits: each nibble is one
  // decimal place (52 stays 52, A1 becomes 101). Beyond two digits there is no such code.
  return v <= 0xFF ? (v >> 4) * 10 + (v & 15) : 999;
}

std::uint8_t reversedBits(std::uint8_t b) {
  b = std::uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = std::uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return std::uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

const char *hangupText(int code) {
  switch (code) {
    case 0:
      return "normal end of call";
    case 1:
      return "ring detected without successful handshake";
    case 2:
      return "call aborted from +FKS or CAN";
    case 3:
      return "no loop current";
    case 4:
      return "ringback detected, no answer";
    case 5:
      return "ringback detected, answer without CED";
    case 10:
      return "unspecified phase A error";
    case 11:
      return "no answer";
    case 20:
      return "unspecified transmit phase B error";
    case 21:
      return "remote cannot receive or send";
    case 22:
      return "COMREC error in transmit phase B";
    case 23:
      return "COMREC invalid command received";
    case 24:
      return "RSPREC error";
    case 25:
      return "DCS sent three times without response";
    case 26:
      return "DIS/DTC received three times; DCS not recognised";
    case 27:
      return "failure to train";
    case 28:
      return "RSPREC invalid response received";
    case 40:
      return "unspecified transmit phase C error";
    case 41:
      return "unspecified image format error";
    case 42:
      return "image conversion error";
    case 43:
      return "send fax data underflow";
    case 44:
      return "unrecognised transparent data command";
    case 45:
      return "image error, line length wrong";
    case 46:
      return "image error, page length wrong";
    case 47:
      return "image error, wrong compression code";
    case 50:
      return "unspecified transmit phase D error";
    case 51:
      return "RSPREC error in transmit phase D";
    case 52:
      return "no response to MPS repeated three times";
    case 53:
      return "invalid response to MPS";
    case 54:
      return "no response to EOP repeated three times";
    case 55:
      return "invalid response to EOP";
    case 56:
      return "no response to EOM repeated three times";
    case 57:
      return "invalid response to EOM";
    case 58:
      return "unable to continue after PIN or PIP";
    case 70:
      return "unspecified receive phase B error";
    case 71:
      return "RSPREC error in receive phase B";
    case 72:
      return "COMREC error in receive phase B";
    case 73:
      return "T2 time-out, expected page not received";
    case 74:
      return "T1 time-out after EOM received";
    case 90:
      return "unspecified receive phase C error";
    case 91:
      return "missing EOL after 5 seconds";
    case 92:
      return "bad CRC or frame (ECM)";
    case 93:
      return "DTE to DCE data underflow";
    case 94:
      return "DTE to DCE data overflow";
    case 100:
      return "unspecified receive phase D error";
    case 101:
      return "RSPREC invalid response received";
    case 102:
      return "COMREC invalid response received";
    case 103:
      return "unable to continue after PIN or PIP";
    default:
      return "";
  }
}

}  // namespace kv::class2
