#include "fax/t30.h"

#include <algorithm>
#include <cstring>

namespace kv::t30 {

const std::array<Modulation, kModCount + 1> kModulations = {{
    {0, ""},
    {2400, "24"},
    {4800, "48"},
    {7200, "72"},
    {9600, "96"},
    {12000, "121"},
    {14400, "145"},
}};

int modulationBps(int index) {
  return index >= 1 && index <= kModCount ? kModulations[index].bps : 0;
}
const char *modulationCode(int index) {
  return index >= 1 && index <= kModCount ? kModulations[index].code : "";
}
std::string pageCode(const std::string &code) {
  if (code == "145") return "146";
  if (code == "121") return "122";
  if (code == "97") return "98";
  if (code == "73") return "74";
  return code;
}

int modulationIndex(int bps) {
  for (int i = 1; i <= kModCount; ++i)
    if (kModulations[i].bps == bps) return i;
  return 0;
}

Kind classify(std::uint8_t f) {
  switch (f) {
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43:
      return Kind::StationId;
    case 0x80:
    case 0x81:
      return Kind::Dis;
    case 0x82:
    case 0x83:
      return Kind::Dcs;
    case 0x84:
    case 0x85:
      return Kind::Cfr;
    case 0x44:
    case 0x45:
      return Kind::Ftt;
    case 0x4C:
    case 0x4D:
      return Kind::Rtn;
    case 0x8C:
    case 0x8D:
      return Kind::Mcf;
    case 0xCC:
    case 0xCD:
      return Kind::Rtp;
    case 0x4E:
    case 0x4F:
      return Kind::Mps;
    case 0x2E:
    case 0x2F:
      return Kind::Eop;
    case 0xFA:
    case 0xFB:
      return Kind::Dcn;
    case 0x1A:  // command repeat: the far end got our command damaged
    case 0x1B:
      return Kind::Crp;
    default:
      return Kind::Unknown;
  }
}

const char *kindName(Kind k) {
  switch (k) {
    case Kind::StationId:
      return "CSI/TSI";
    case Kind::Dis:
      return "DIS";
    case Kind::Dcs:
      return "DCS";
    case Kind::Cfr:
      return "CFR";
    case Kind::Ftt:
      return "FTT";
    case Kind::Rtn:
      return "RTN";
    case Kind::Mcf:
      return "MCF";
    case Kind::Rtp:
      return "RTP";
    case Kind::Mps:
      return "MPS";
    case Kind::Eop:
      return "EOP";
    case Kind::Dcn:
      return "DCN";
    case Kind::Crp:
      return "CRP";
    default:
      return "?";
  }
}

std::vector<std::uint8_t> frameBytes(std::uint8_t f, bool final,
                                     const std::vector<std::uint8_t> &info) {
  std::vector<std::uint8_t> out;
  out.reserve(info.size() + 8);
  auto put = [&](std::uint8_t b) {
    out.push_back(b);
    if (b == DLE) out.push_back(DLE);
  };
  put(kAddress);
  put(final ? kControlFinal : kControlMore);
  put(f);
  for (auto b : info) put(b);
  out.push_back(DLE);
  out.push_back(ETX);
  return out;
}

std::vector<std::uint8_t> stationIdInfo(std::string_view id) {
  // The last character goes first and the blanks last: read back to front, as the far end
  // does, the id stands at the right of its 20 places.
  id = id.substr(0, 20);
  std::vector<std::uint8_t> out(id.rbegin(), id.rend());
  out.resize(20, ' ');
  return out;
}

std::string stationIdFromInfo(const std::uint8_t *info, std::size_t n) {
  n = std::min<std::size_t>(n, 20);
  std::string s;
  for (std::size_t i = n; i > 0; --i) {
    char c = char(info[i - 1]);
    // The id comes from the line: keep it printable so it can never steer a file name or a
    // terminal.
    s.push_back(c >= 32 && c < 127 ? c : ' ');
  }
  return s;
}

// Rate bits of the second information byte (T.30 bits 11..14), in modem-interface order.
namespace {
constexpr std::uint8_t kV27 = 0x08;      // bit 12
constexpr std::uint8_t kV29 = 0x04;      // bit 11
constexpr std::uint8_t kV17 = 0x20;      // bit 14 (with 11 and 12: V.17 capable)
constexpr std::uint8_t kFineBit = 0x40;  // bit 15
constexpr std::uint8_t k2DBit = 0x80;    // bit 16: two-dimensional coding
constexpr std::uint8_t kRxFax = 0x02;    // bit 10
}  // namespace

std::vector<std::uint8_t> disInfo(int maxIndex, bool twoD) {
  std::uint8_t rate = 0x40 | kRxFax;
  if (twoD) rate |= k2DBit;
  if (maxIndex >= 5)
    rate |= kV17 | kV29 | kV27;  // V.17, V.29 and V.27ter
  else if (maxIndex >= 3)
    rate |= kV29 | kV27;
  else if (maxIndex == 2)
    rate |= kV27;
  // Byte 3: 255 mm width, unlimited length, 0 ms scan time, extension bit.
  return {0x00, rate, 0xF9, 0x00};
}

std::vector<std::uint8_t> dcsInfo(const Params &p) {
  std::uint8_t rate = p.fine ? std::uint8_t(0x40 | kRxFax) : kRxFax;
  switch (p.rateIndex) {
    case 2:
      rate |= 0x08;
      break;  // V.27ter 4800
    case 3:
      rate |= 0x0C;
      break;  // V.29 7200
    case 4:
      rate |= 0x04;
      break;  // V.29 9600
    case 5:
      rate |= 0x28;
      break;  // V.17 12000
    case 6:
      rate |= 0x20;
      break;  // V.17 14400
    default:
      break;  // V.27ter 2400
  }
  if (p.twoD) rate |= k2DBit;
  std::uint8_t fmt = scanByte(p.scanCode, p.fine) | 0x88;
  if (p.wide) fmt |= 0x01;
  return {0x00, rate, fmt, 0x00};
}

int scanCodeFromFormat(std::uint8_t format) {
  static const int codes[8] = {5, 1, 3, 4, 7, 6, 2, 0};
  return codes[(format & 0x70) >> 4];
}

std::uint8_t scanByte(int scanCode, bool fine) {
  static const std::uint8_t normal[8] = {0x70, 0x10, 0x20, 0x20, 0x00, 0x00, 0x40, 0x40};
  static const std::uint8_t fineTab[8] = {0x70, 0x10, 0x10, 0x20, 0x20, 0x00, 0x00, 0x40};
  scanCode &= 7;
  return fine ? fineTab[scanCode] : normal[scanCode];
}

namespace {
int scanMs(int scanCode, bool fine) {
  static const int normal[8] = {0, 5, 10, 10, 20, 20, 40, 40};
  static const int fineTab[8] = {0, 5, 5, 10, 10, 20, 20, 40};
  scanCode &= 7;
  return fine ? fineTab[scanCode] : normal[scanCode];
}
}  // namespace

int minBytesPerLine(int scanCode, bool fine, int bps) {
  return scanMs(scanCode, fine) * bps / 8000;
}

int minBitsPerLine(int scanCode, bool fine, int bps) {
  return (scanMs(scanCode, fine) * bps + 999) / 1000;
}

RemoteCaps readDis(const std::uint8_t *info, std::size_t n) {
  RemoteCaps c;
  c.rates[1] = c.rates[2] = true;
  std::uint8_t rate = n > 1 ? info[1] : 0;
  std::uint8_t fmt = n > 2 ? info[2] : 0;
  if ((rate & 0x0C) == 0x04) c.rates[4] = true;
  if ((rate & 0x0C) == 0x0C) c.rates[3] = c.rates[4] = true;
  // V.17 (bit 14) covers 12000 and 14400 alike; bit 13 alone was used for 12000 by older
  // peers of ours and is still honoured.
  if (rate & 0x20) c.rates[5] = c.rates[6] = true;
  if (rate & 0x10) c.rates[5] = true;
  c.fine = rate & kFineBit;
  c.twoD = rate & k2DBit;
  c.wide = (fmt & 0x03) == 0x01;
  c.scanCode = scanCodeFromFormat(fmt);
  return c;
}

DcsResult readDcs(const std::uint8_t *info, std::size_t n) {
  DcsResult r;
  std::uint8_t rate = n > 1 ? info[1] : 0;
  std::uint8_t fmt = n > 2 ? info[2] : 0;
  switch (rate & 0x3C) {
    case 0x20:
      r.bps = 14400;
      r.code = "145";
      break;
    case 0x28:
      r.bps = 12000;
      r.code = "121";
      break;
    case 0x24:
      r.bps = 9600;
      r.code = "97";
      break;  // V.17 at 9600
    case 0x2C:
      r.bps = 7200;
      r.code = "73";
      break;  // V.17 at 7200
    case 0x10:
    case 0x18:
    case 0x14:
    case 0x1C:
    case 0x30:
    case 0x38:
    case 0x34:
    case 0x3C:
      r.bps = 12000;
      r.code = "121";
      break;
    case 0x04:
      r.bps = 9600;
      r.code = "96";
      break;
    case 0x08:
      r.bps = 4800;
      r.code = "48";
      break;
    case 0x0C:
      r.bps = 7200;
      r.code = "72";
      break;
    default:
      r.bps = 2400;
      r.code = "24";
      break;
  }
  r.fine = rate & kFineBit;
  r.twoD = rate & k2DBit;
  r.wide = (fmt & 0x03) == 0x01;
  r.scanCode = scanCodeFromFormat(fmt);
  return r;
}

int chooseIndex(const std::array<bool, kModCount + 1> &own,
                const std::array<bool, kModCount + 1> &remote, int desiredBps) {
  for (int i = kModCount; i >= 1; --i)
    if (own[i] && remote[i] && kModulations[i].bps <= desiredBps) return i;
  return 0;
}

int stepDown(const std::array<bool, kModCount + 1> &own,
             const std::array<bool, kModCount + 1> &remote, int current) {
  for (int i = current - 1; i >= 1; --i)
    if (own[i] && remote[i]) return i;
  return 0;
}

std::array<bool, kModCount + 1> parseModulationList(std::string_view line) {
  std::array<bool, kModCount + 1> r{};
  r[1] = r[2] = true;
  if (line.find(',') == std::string_view::npos) return r;
  r[3] = line.find("72") != std::string_view::npos;
  r[4] = line.find("96") != std::string_view::npos;
  r[5] = line.find("121") != std::string_view::npos;
  r[6] = line.find("145") != std::string_view::npos;
  return r;
}

int parseClassList(std::string_view line) {
  auto p = line.find_first_of(":=");
  if (p != std::string_view::npos) line = line.substr(p + 1);
  std::string s = trimLine(line);
  int bits = 0;
  if (s.find('1') != std::string::npos) bits |= 4;
  if (s.find("2.0") != std::string::npos) {
    bits |= 16;
    if (s.find("2,") != std::string::npos) bits |= 8;
  } else if (s.find('2') != std::string::npos) {
    bits |= 8;
  }
  return bits;
}

bool isRingReport(std::string_view line) {
  if (line.rfind("+CRING", 0) == 0) return true;
  return line.rfind("RING", 0) == 0 && (line.size() == 4 || line[4] == ' ');
}

int hangupNumber(std::string_view line) {
  auto p = line.find(':');
  if (p == std::string_view::npos) return 0;
  std::string num = trimLine(line.substr(p + 1, 3));
  int v = 0;
  for (char c : num) {
    if (c < '0' || c > '9') break;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::string trimLine(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) < 33) --e;
  return std::string(s.substr(b, e - b));
}

ResponseReader::Item ResponseReader::feed(std::uint8_t b) {
  Item item;
  if (inFrame_) {
    if (dle_) {
      dle_ = false;
      if (b == ETX) {
        item.type = Item::Frame;
        item.frame = std::move(frame_);
        clear();
        return item;
      }
      // DLE DLE is one data DLE; anything else after DLE is kept as sent.
      if (b != DLE && frame_.size() < kMaxFrame) frame_.push_back(DLE);
      if (frame_.size() < kMaxFrame) frame_.push_back(b);
      return item;
    }
    if (b == DLE) {
      dle_ = true;
      return item;
    }
    if (frame_.size() < kMaxFrame) frame_.push_back(b);
    return item;
  }
  if (b == kAddress && trimLine(buf_).empty()) {
    // A frame begins; modem text never holds 0xFF.
    buf_.clear();
    inFrame_ = true;
    frame_.assign(1, b);
    return item;
  }
  if (b == '\n') {
    std::string line = trimLine(buf_);
    buf_.clear();
    if (!line.empty()) {
      item.type = Item::Line;
      item.line = std::move(line);
    }
    return item;
  }
  if (buf_.size() < kMaxLine) buf_.push_back(char(b));
  return item;
}

void ResponseReader::clear() {
  buf_.clear();
  frame_.clear();
  inFrame_ = false;
  dle_ = false;
}

std::optional<Frame> decodeFrame(const std::vector<std::uint8_t> &bytes) {
  // Bytes before the first address byte are line noise.
  auto it = std::find(bytes.begin(), bytes.end(), kAddress);
  if (it == bytes.end()) return std::nullopt;
  std::size_t start = std::size_t(it - bytes.begin());
  if (bytes.size() - start < 3) return std::nullopt;
  Frame f;
  f.control = bytes[start + 1];
  f.final = f.control & 0x10;
  f.fcf = bytes[start + 2];
  f.kind = classify(f.fcf);
  f.info = bytes.data() + start + 3;
  f.infoLen = bytes.size() - start - 3;
  return f;
}

}  // namespace kv::t30
