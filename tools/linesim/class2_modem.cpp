#include "class2_modem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "modem_port.h"
#include "scriptmodem/modem_script.h"
#include "sim_log.h"
#include "spandsp_include.h"

namespace kv::linesim {

namespace {

constexpr std::uint8_t kDle = 0x10, kEtx = 0x03, kDc2 = 0x12, kXon = 0x11;

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

std::uint8_t kind(std::uint8_t f) {
  return f & 0xFE;
}

// Station ids: 20 characters, right-aligned, last character first on the line.
std::vector<std::uint8_t> idInfo(const std::string &id) {
  std::string s = id.substr(0, 20);
  s.insert(0, 20 - s.size(), ' ');
  return {s.rbegin(), s.rend()};
}

std::string idFromInfo(const std::uint8_t *p, std::size_t n) {
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
int scanMs(int st, bool fine) {
  static constexpr int kNormal[8] = {0, 5, 10, 10, 20, 20, 40, 40};
  static constexpr int kFine[8] = {0, 5, 5, 10, 10, 20, 20, 40};
  return (fine ? kFine : kNormal)[st & 7];
}
int stForMs(int ms) {
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
constexpr std::uint8_t kDisScan[8] = {0x70, 0x10, 0x30, 0x20, 0x60, 0x00, 0x50, 0x40};
int stFromDis(std::uint8_t b) {
  for (int st = 0; st < 8; ++st)
    if (kDisScan[st] == (b & 0x70)) return st;
  return 5;
}
std::uint8_t dcsScan(int ms) {
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
int msFromDcs(std::uint8_t b) {
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
constexpr Rate kRates[] = {
    {14400, true, "145", "146", 0x20}, {12000, true, "121", "122", 0x28},
    {9600, false, "96", "96", 0x04},   {9600, true, "97", "98", 0x24},
    {7200, false, "72", "72", 0x0C},   {7200, true, "73", "74", 0x2C},
    {4800, false, "48", "48", 0x08},   {2400, false, "24", "24", 0x00},
};
const Rate *rateFromDcs(std::uint8_t bits) {
  for (const Rate &r : kRates)
    if (r.dcsBits == (bits & 0x3C)) return &r;
  return &kRates[7];
}
// The modulation for a rate, as both sides can do it: V.29 before V.17 at 9600 and 7200.
const Rate *rateFor(int bps, bool v17, bool v29) {
  for (const Rate &x : kRates)
    if (x.bps == bps && (x.v17 ? v17 : (x.bps < 7200 || v29))) return &x;
  return &kRates[7];
}

int brFor(int bps) {
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
int bpsFor(int br) {
  static constexpr int kBps[6] = {2400, 4800, 7200, 9600, 12000, 14400};
  return br >= 0 && br <= 5 ? kBps[br] : 9600;
}

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::uint8_t reversed(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

Class2Modem::Class2Modem(ModemPort &port, std::string classes)
    : port_(port), classes_(std::move(classes)) {}

void Class2Modem::reset() {
  mode_ = Mode::Transparent;
  echo_ = true;
  hostLine_.clear();
  forModem_.clear();
  st_ = St::Idle;
  deadline_ = -1;
  hostWaiting_ = false;
  rx_ = Rx::Lines;
  rxLine_.clear();
  rxFrame_.clear();
  rxInFrame_ = rxDle_ = false;
  localId_.clear();
  sendCaps_ = recvCaps_ = Caps{};
  pages_.clear();
  delivering_ = waitDc2_ = false;
  callOver_ = false;
}

std::string Class2Modem::takeForModem() {
  std::string s;
  s.swap(forModem_);
  return s;
}

// --- program side -------------------------------------------------------------------------

void Class2Modem::toHost(const std::string &s) {
  if (port_.muted()) return;
  port_.out_ += s;
  bool text = s.size() < 80 && std::all_of(s.begin(), s.end(), [](char c) {
                return c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7f);
              });
  if (SimLog::verbosity >= 2 && text)
    logAt(2, "%c: modem< %s", port_.name(), ModemScript::printable(s).c_str());
  port_.writeOutput();
}

void Class2Modem::report(const std::string &r) {
  toHost("\r\n" + r + "\r\n");
}

void Class2Modem::result(const char *r) {
  hostWaiting_ = false;
  report(r);
}

void Class2Modem::fromHost(const char *p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (mode_ == Mode::Transparent) {
      int m = port_.atMode();
      if (m != AT_MODE_ONHOOK_COMMAND && m != AT_MODE_OFFHOOK_COMMAND) {
        // Class 1 data or frames: the modem's own business.
        port_.in_ += c;
        continue;
      }
    } else if (st_ == St::PageOut) {
      hostData(p + i, n - i);
      return;
    } else if (delivering_) {
      // DC2 (or XON) releases the received page; anything else the program sends while a
      // page flows is ignored, as the standards allow.
      if (waitDc2_ && (c == kDc2 || c == kXon)) {
        waitDc2_ = false;
        deliver();
      }
      continue;
    }
    if (c == '\r') {
      std::string line;
      line.swap(hostLine_);
      if (mode_ == Mode::Transparent && upper(line).find("+FCLASS") == std::string::npos) {
        port_.in_ += line + '\r';
      } else {
        if (SimLog::verbosity >= 2) logAt(2, "%c: DTE> %s", port_.name(), line.c_str());
        if (!port_.takeCommand()) continue;
        if (mode_ == Mode::Transparent) echo_ = port_.t31_->at_state.p.echo;
        if (echo_) toHost(line + "\r");
        hostCommandLine(line);
      }
    } else if (c == '\n' && hostLine_.empty()) {
      // a stray LF between commands
    } else if (c == 0x08 || c == 0x7F) {
      if (!hostLine_.empty()) hostLine_.pop_back();
    } else if (hostLine_.size() < 256) {
      hostLine_ += c;
    }
  }
}

void Class2Modem::hostCommandLine(const std::string &raw) {
  std::size_t b = raw.find_first_not_of(" \t\n");
  std::string line = b == std::string::npos ? std::string() : raw.substr(b);
  std::string u = upper(line);
  if (u.empty()) return;
  if (u.size() < 2 || u[0] != 'A' || u[1] != 'T') return result("ERROR");
  if (hostWaiting_) return;  // a command still runs; a real modem would ignore this one too
  std::string info;
  bool ok = true;
  auto digits = [&](std::size_t &i) {
    int v = 0;
    while (i < u.size() && std::isdigit(static_cast<unsigned char>(u[i])))
      v = v * 10 + (u[i++] - '0');
    return v;
  };
  for (std::size_t i = 2; i < u.size() && ok;) {
    char c = u[i];
    if (c == ' ' || c == ';') {
      ++i;
    } else if (c == '+') {
      std::size_t j = i + 1;
      while (j < u.size() && std::isalnum(static_cast<unsigned char>(u[j]))) ++j;
      std::size_t k = j;
      for (bool q = false; k < u.size() && (q || u[k] != ';'); ++k)
        if (u[k] == '"') q = !q;
      std::string name = u.substr(i + 1, j - i - 1);
      std::string arg = line.substr(j, k - j);
      i = k;
      std::string one;
      int r = extended(name, arg, one) ? 0 : 1;
      if (!one.empty()) info += (info.empty() ? "" : "\r\n") + one;
      if (hostWaiting_) return;  // an action: its result comes later
      ok = r == 0;
    } else if (c == 'D') {
      if (mode_ == Mode::Transparent || st_ != St::Idle) {
        ok = false;
        break;
      }
      std::string dial = line.substr(i);
      hostWaiting_ = true;
      callOver_ = false;
      pages_.clear();
      hangup_ = 0;
      remoteId_.clear();
      needDcs_ = true;
      bps_ = 0;
      command("AT" + dial);
      go(St::Dialling, 90);
      return;
    } else if (c == 'A') {
      if (mode_ == Mode::Transparent || st_ != St::Idle) {
        ok = false;
        break;
      }
      hostWaiting_ = true;
      callOver_ = false;
      pages_.clear();
      hangup_ = 0;
      remoteId_.clear();
      answeredReported_ = false;
      fconSent_ = false;
      lastPost_ = -1;
      command("ATA");
      go(St::Answering, 30);
      return;
    } else if (c == 'H') {
      ++i;
      digits(i);
      if (mode_ == Mode::Transparent) continue;
      hostWaiting_ = true;
      delivering_ = false;
      abortModem();
      command("ATH0");
      go(St::Hanging, 5);
      return;
    } else if (c == 'Z' || (c == '&' && i + 1 < u.size() && u[i + 1] == 'F')) {
      // Back to power-on: Class 0, the Class 1 modem answers from here on.
      mode_ = Mode::Transparent;
      st_ = St::Idle;
      deadline_ = -1;
      port_.t31_->at_state.p.echo = echo_;
      port_.in_ += "ATZ\r";
      return;
    } else if (c == 'E') {
      ++i;
      echo_ = digits(i) != 0;
      if (mode_ == Mode::Transparent) port_.t31_->at_state.p.echo = echo_;
    } else if (c == 'S') {
      ++i;
      int n = digits(i);
      if (i < u.size() && u[i] == '=') {
        ++i;
        int v = digits(i);
        if (n < 100) port_.t31_->at_state.p.s_regs[n] = static_cast<std::uint8_t>(v);
      } else if (i < u.size() && u[i] == '?') {
        ++i;
        char buf[8];
        std::snprintf(buf, sizeof buf, "%03d", n < 100 ? port_.t31_->at_state.p.s_regs[n] : 0);
        info += buf;
      }
    } else if (c == 'I') {
      ++i;
      digits(i);
      info += "linesim";
    } else if (c == '&' || c == '\\' || c == '%') {
      i += 2;
      digits(i);
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      ++i;
      digits(i);
    } else {
      ok = false;
    }
  }
  if (!info.empty()) report(info);
  result(ok ? "OK" : "ERROR");
}

bool Class2Modem::setClass(const std::string &v) {
  std::string want = v;
  if (want == "2.0" || want == "20") want = "2.0";
  // Only what the modem offers.
  std::string list = "," + classes_ + ",";
  if (list.find("," + want + ",") == std::string::npos) return false;
  Mode before = mode_;
  if (want == "2") {
    mode_ = Mode::Class2;
  } else if (want == "2.0") {
    mode_ = Mode::Class20;
  } else {
    mode_ = Mode::Transparent;
    port_.t31_->at_state.fclass_mode = want == "1" ? 1 : 0;
    port_.t31_->at_state.p.echo = echo_;
    return true;
  }
  // The Class 1 modem underneath works silently for us.
  if (before == Mode::Transparent) {
    echo_ = port_.t31_->at_state.p.echo;
    port_.t31_->at_state.p.echo = 0;
    port_.t31_->at_state.p.verbose = 1;
  }
  port_.t31_->at_state.fclass_mode = 1;
  return true;
}

bool Class2Modem::extended(const std::string &name, const std::string &arg, std::string &info) {
  const bool query = arg == "?";
  const bool range = arg == "=?";
  std::string value = !arg.empty() && arg[0] == '=' ? arg.substr(1) : std::string();
  auto capsArg = [&](Caps &c, bool alsoSend) {
    if (range) {
      info = "(0,1),(0-5),(0-2),(0-2),(0,1),(0),(0),(0-7)";
      return true;
    }
    if (query) {
      info = paramsText(c);
      return true;
    }
    Caps n = c;
    std::size_t p = 0;
    for (int f = 0; f < 8 && p <= value.size(); ++f) {
      std::size_t q = value.find(',', p);
      if (q == std::string::npos) q = value.size();
      std::string field = value.substr(p, q - p);
      field.erase(0, field.find_first_not_of(' '));
      if (!field.empty()) {
        if (!std::isxdigit(static_cast<unsigned char>(field[0]))) return false;
        n.v[f] = static_cast<int>(std::strtol(field.c_str(), nullptr, 16));
      }
      p = q + 1;
    }
    if (n.v[1] > 5 || n.v[7] > 7) return false;
    c = n;
    if (alsoSend) sendCaps_ = n;
    return true;
  };

  if (name == "FCLASS") {
    if (range) {
      info = classes_;
      return true;
    }
    if (query) {
      info = mode_ == Mode::Class2    ? "2"
             : mode_ == Mode::Class20 ? "2.0"
                                      : std::to_string(port_.t31_->at_state.fclass_mode);
      return true;
    }
    return setClass(value);
  }
  if (mode_ == Mode::Transparent) return false;

  if (name == "FDCC" || name == "FCC") return capsArg(recvCaps_, true);
  if (name == "FDIS" || name == "FIS") return capsArg(sendCaps_, false);
  if (name == "FLID" || name == "FLI") {
    if (range) {
      info = "(20)(32-127)";
      return true;
    }
    if (query) {
      info = "\"" + localId_ + "\"";
      return true;
    }
    std::string id = value;
    id.erase(std::remove(id.begin(), id.end(), '"'), id.end());
    localId_ = id.substr(0, 20);
    return true;
  }
  if (name == "FDT") {
    if (st_ != St::CallerReady) return false;
    hostWaiting_ = true;
    if (needDcs_)
      startDcs();
    else
      startPage();
    return true;
  }
  if (name == "FDR") {
    if (pages_.empty() && (lastPost_ == 2 || (st_ == St::Idle && callOver_))) {
      // After the last page: the call's end (the goodbye may still be on the line).
      report(hangupReport(lastPost_ == 2 && st_ != St::Idle ? 0 : hangup_));
      callOver_ = false;
      lastPost_ = -1;
      return true;
    }
    if (pages_.empty() && st_ < St::Answering) return false;
    hostWaiting_ = true;
    receivePage();
    return true;
  }
  if (name == "FET") {
    if (st_ != St::WaitFet || value.empty() || value[0] < '0' || value[0] > '2') return false;
    post_ = value[0] - '0';
    hostWaiting_ = true;
    startPost();
    return true;
  }
  if (name == "FK" || name == "FKS" || name == "FKSS") {
    if (st_ == St::Idle) return true;
    hostWaiting_ = true;
    fkRequested_ = true;
    hangup_ = 2;
    // Whatever the modem is doing, any byte ends it; then hang up.
    abortModem();
    command("ATH0");
    go(St::Hanging, 5);
    return true;
  }
  if (name == "FPTS" || name == "FPS") {
    if (query) {
      info = (v20() ? "+FPS:" : "+FPTS:") + std::to_string(pageStatus_);
      return true;
    }
    if (!value.empty() && std::isdigit(static_cast<unsigned char>(value[0])))
      pageStatus_ = value[0] - '0';
    return true;
  }
  if (name == "FMFR" || name == "FMI") {
    info = "linesim";
    return true;
  }
  if (name == "FMDL" || name == "FMM") {
    info = v20() ? "Class 2.0" : "Class 2";
    return true;
  }
  if (name == "FREV" || name == "FMR") {
    info = "1";
    return true;
  }
  // Settings this modem accepts and does not need: flow control, bit order, reports, quality
  // checks, answer modes, time-outs, passwords and the like.
  static const char *const kAccepted[] = {
      "FCR",   "FBOR",  "FBO",    "FLO",   "FNR",  "FAA",     "FAP",     "FBUG", "FCQ",
      "FIE",   "FLPL",  "FPHCTO", "FCT",   "FTBC", "FMINSP",  "FMS",     "FRBC", "FREL",
      "FCIG",  "FSPL",  "FNS",    "FPW",   "FSA",  "FPI",     "FPA",     "FPP",  "FECM",
      "FAR",   "FCL",   "FIT",    "FPR",   "FRY",  "FBADLIN", "FBADMUL", "FCHK", "FBU",
      "FDFFC", "FVRFC", "FWDFC",  "FLNFC", "FTBC", "FEA",     "FFC",     "FDCS", "FCS"};
  for (const char *a : kAccepted)
    if (name == a) {
      if (query || range) info = "0";
      return true;
    }
  return false;
}

std::string Class2Modem::paramsText(const Caps &c) const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%X,%d,%d,%d,%d,%d,%d,%d", c.v[0], c.v[1], c.v[2], c.v[3], c.v[4],
                c.v[5], c.v[6], c.v[7]);
  return buf;
}

// --- the Class 1 modem underneath ---------------------------------------------------------

void Class2Modem::command(const std::string &cmd) {
  if (SimLog::verbosity >= 2) logAt(2, "%c: t30> %s", port_.name(), cmd.c_str());
  forModem_ += cmd + '\r';
}

void Class2Modem::sendFrame(std::uint8_t f, bool final, const std::vector<std::uint8_t> &info) {
  std::string s;
  auto put = [&](std::uint8_t b) {
    s += static_cast<char>(b);
    if (b == kDle) s += static_cast<char>(kDle);
  };
  put(0xFF);
  put(final ? 0x13 : 0x03);
  put(f);
  for (auto b : info) put(b);
  s += static_cast<char>(kDle);
  s += static_cast<char>(kEtx);
  forModem_ += s;
}

void Class2Modem::go(St s, double seconds) {
  st_ = s;
  deadline_ = seconds > 0 ? block_ + static_cast<std::int64_t>(seconds * kBlocksPerSecond) : -1;
}

void Class2Modem::tick(std::int64_t block) {
  block_ = block;
  if (mode_ == Mode::Transparent) return;
  if (deadline_ >= 0 && block >= deadline_) {
    deadline_ = -1;
    timeout();
  }
}

bool Class2Modem::fromModem(const std::uint8_t *p, std::size_t n) {
  if (mode_ == Mode::Transparent) return false;
  for (std::size_t i = 0; i < n; ++i) modemByte(p[i]);
  return true;
}

void Class2Modem::modemByte(std::uint8_t b) {
  if (rx_ == Rx::Frame && !rxInFrame_ && b == 0xFF) {
    rxInFrame_ = true;
    rxDle_ = false;
    rxFrame_.assign(1, 0xFF);
    return;
  }
  if ((rx_ == Rx::Frame && rxInFrame_) || rx_ == Rx::Data) {
    if (rxDle_) {
      rxDle_ = false;
      if (b == kEtx) {
        if (rx_ == Rx::Frame) {
          rxInFrame_ = false;
          rx_ = Rx::Lines;
          frameOk_ = true;  // the result line that follows says whether the FCS was good
        } else {
          rx_ = Rx::Lines;
          dataEnd();
        }
        return;
      }
      if (b != kDle) return;  // other DLE pairs carry nothing for us
    } else if (b == kDle) {
      rxDle_ = true;
      return;
    }
    if (rx_ == Rx::Frame) {
      if (rxFrame_.size() < 300) rxFrame_.push_back(b);
    } else {
      dataByte(b);
    }
    return;
  }
  if (b == '\r' || b == '\n') {
    if (!rxLine_.empty()) {
      std::string line;
      line.swap(rxLine_);
      modemLine(line);
    }
    return;
  }
  if (rxLine_.size() < 256) rxLine_ += static_cast<char>(b);
}

void Class2Modem::abortModem() {
  // Sending data: end it. Receiving: any byte stops it (the modem answers OK).
  int m = port_.atMode();
  if (m == AT_MODE_STUFFED || m == AT_MODE_HDLC) {
    forModem_ += static_cast<char>(kDle);
    forModem_ += static_cast<char>(kEtx);
  } else if (m == AT_MODE_CONNECTED || m == AT_MODE_DELIVERY) {
    forModem_ += '\x18';
  }
}

void Class2Modem::listenFrames() {
  rx_ = Rx::Frame;
  rxInFrame_ = false;
  rxFrame_.clear();
}

void Class2Modem::modemLine(const std::string &line) {
  if (SimLog::verbosity >= 2) logAt(2, "%c: t30< %s", port_.name(), line.c_str());
  const bool ok = line == "OK", connect = line.rfind("CONNECT", 0) == 0;
  const bool error = line == "ERROR", noCarrier = line == "NO CARRIER";
  if (line == "RING") {
    if (st_ == St::Idle) report("RING");
    return;
  }
  switch (st_) {
    case St::Idle:
      // The modem answered by itself (S0): the call is ours now.
      if (connect) {
        callOver_ = false;
        pages_.clear();
        hangup_ = 0;
        remoteId_.clear();
        answeredReported_ = false;
        fconSent_ = false;
        lastPost_ = -1;
        startDis();
      }
      return;
    case St::Dialling:
      if (connect) {
        report(v20() ? "+FCO" : "+FCON");
        listenFrames();
        go(St::CallerFrames, 10);
      } else if (!ok) {
        // BUSY, NO ANSWER, NO CARRIER, NO DIALTONE, ERROR: the call never started.
        st_ = St::Idle;
        deadline_ = -1;
        result(line.c_str());
      }
      return;
    case St::CallerFrames:
    case St::CfrFrame:
    case St::McfFrame:
    case St::DcsFrame:
    case St::PostFrame:
    case St::DcnFrame:
      if (connect) {
        listenFrames();
        return;
      }
      if (ok && frameOk_) {
        frameOk_ = false;
        rxRetries_ = 0;
        std::vector<std::uint8_t> f;
        f.swap(rxFrame_);
        // Drop the two FCS bytes the modem leaves at the end.
        if (f.size() >= 5) f.resize(f.size() - 2);
        if (f.size() < 3) return listenFrames();
        if (st_ == St::CallerFrames || st_ == St::CfrFrame || st_ == St::McfFrame)
          callerFrame(f);
        else
          answerFrame(f);
        return;
      }
      if (error || noCarrier || ok) {
        // A spoilt frame or none at all: listen again until the state's time runs out.
        frameOk_ = false;
        if (st_ == St::DcnFrame) return endCall(0);
        if (++rxRetries_ > 8) return fail(st_ >= St::Answering ? 72 : 22);
        command("AT+FRH=3");
        return;
      }
      return;
    case St::DcsFth:
      if (connect) {
        sendFrame(fcf::TSI, false, idInfo(localId_));
        go(St::DcsTsiSent, 5);
      } else if (error) {
        fail(20);
      }
      return;
    case St::DcsTsiSent:
      if (connect) {
        std::vector<std::uint8_t> dcs(3, 0);
        const Rate *r = rateFor(bps_, remoteV17_, remoteV29_);
        dcs[1] = static_cast<std::uint8_t>(0x02 | r->dcsBits | (session_.v[0] ? 0x40 : 0));
        dcs[2] =
            static_cast<std::uint8_t>((session_.v[2] ? 0x01 : 0) | (session_.v[3] == 2 ? 0x04 : 0) |
                                      dcsScan(scanMs(session_.v[7], session_.v[0])));
        sendFrame(fcf::DCS, true, dcs);
        go(St::DcsSent, 5);
      } else if (error) {
        fail(20);
      }
      return;
    case St::DcsSent:
      if (ok) {
        command("AT+FTS=8");
        go(St::TcfPause, 5);
      } else if (error) {
        fail(20);
      }
      return;
    case St::TcfPause:
      if (ok || error) {
        const Rate *r = rateFor(bps_, remoteV17_, remoteV29_);
        command(std::string("AT+FTM=") + r->tcf);
        go(St::TcfFtm, 5);
      }
      return;
    case St::TcfFtm:
      if (connect) {
        forModem_.append(static_cast<std::size_t>(bps_ * 3 / 16), '\0');
        forModem_ += static_cast<char>(kDle);
        forModem_ += static_cast<char>(kEtx);
        go(St::TcfSent, 10);
      } else if (error) {
        fail(27);
      }
      return;
    case St::TcfSent:
      if (ok) {
        command("AT+FRH=3");
        go(St::CfrWait, 3);
      } else if (error) {
        fail(27);
      }
      return;
    case St::CfrWait:
      if (connect) {
        listenFrames();
        st_ = St::CfrFrame;
      } else if (error) {
        fail(24);
      } else if (noCarrier || ok) {
        command("AT+FRH=3");
      }
      return;
    case St::PageFtm:
      if (connect) {
        report("CONNECT");
        // The program may send now; Class 2 modems say so with XON.
        toHost(std::string(1, static_cast<char>(kXon)));
        hostDle_ = false;
        lastHostData_ = block_;
        go(St::PageOut, 0);
        deadline_ = block_ + 30 * kBlocksPerSecond;
      } else if (error) {
        fail(40);
      }
      return;
    case St::PageDrain:
      if (ok) {
        if (post_ >= 0) return startPost();
        // Class 2: the page is out; the program says what follows with +FET.
        result("OK");
        go(St::WaitFet, 60);
      } else if (error || noCarrier) {
        fail(40);
      }
      return;
    case St::PostPause:
      if (ok || error) {
        command("AT+FTH=3");
        go(St::PostFth, 5);
      }
      return;
    case St::PostFth:
      if (connect) {
        sendFrame(post_ == 2 ? fcf::EOP : post_ == 1 ? fcf::EOM : fcf::MPS, true);
        go(St::PostSent, 5);
      } else if (error) {
        fail(50);
      }
      return;
    case St::PostSent:
      if (ok) {
        command("AT+FRH=3");
        go(St::McfWait, 3);
      } else if (error) {
        fail(50);
      }
      return;
    case St::McfWait:
      if (connect) {
        listenFrames();
        st_ = St::McfFrame;
      } else if (error) {
        fail(51);
      } else if (noCarrier || ok) {
        command("AT+FRH=3");
      }
      return;
    case St::DcnFth:
      if (connect) {
        sendFrame(fcf::DCN, true);
        go(St::DcnSent, 5);
      } else if (error) {
        endCall(hangup_);
      }
      return;
    case St::DcnSent:
      if (ok || error || noCarrier) endCall(hangup_);
      return;
    case St::Hanging:
      if (ok || error) {
        const bool fk = fkRequested_;
        fkRequested_ = false;
        st_ = St::Idle;
        deadline_ = -1;
        rx_ = Rx::Lines;
        if (fk) report(hangupReport(2));
        result("OK");
      }
      return;
    case St::Answering:
      if (connect) {
        startDis();
      } else if (!ok) {
        st_ = St::Idle;
        deadline_ = -1;
        result(line.c_str());
      }
      return;
    case St::DisCsiSent:
      if (connect) {
        std::vector<std::uint8_t> dis(3, 0);
        int br = recvCaps_.v[1];
        std::uint8_t rates = br >= 4 ? 0x2C : br >= 2 ? 0x0C : br == 1 ? 0x08 : 0x00;
        dis[1] = static_cast<std::uint8_t>(0x02 | rates | (recvCaps_.v[0] ? 0x40 : 0));
        dis[2] = static_cast<std::uint8_t>((recvCaps_.v[2] ? 0x01 : 0) |
                                           (recvCaps_.v[3] == 2   ? 0x04
                                            : recvCaps_.v[3] == 1 ? 0x08
                                                                  : 0) |
                                           kDisScan[recvCaps_.v[7] & 7]);
        sendFrame(fcf::DIS, true, dis);
        go(St::DisSent, 5);
      } else if (error || noCarrier) {
        fail(70);
      }
      return;
    case St::DisSent:
      if (ok) {
        command("AT+FRH=3");
        go(St::DcsWait, 4);
      } else if (error || noCarrier) {
        fail(70);
      }
      return;
    case St::DcsWait:
    case St::PostWait:
    case St::DcnWait:
      if (connect) {
        listenFrames();
        st_ = st_ == St::DcsWait    ? St::DcsFrame
              : st_ == St::PostWait ? St::PostFrame
                                    : St::DcnFrame;
      } else if (st_ == St::DcnWait && (noCarrier || error)) {
        endCall(0);
      } else if (error) {
        fail(st_ == St::DcsWait ? 71 : 100);
      } else if (noCarrier || ok) {
        command("AT+FRH=3");
      }
      return;
    case St::TcfIn:
      if (connect) {
        rx_ = Rx::Data;
        rxDle_ = false;
        tcfBytes_ = tcfNonZero_ = 0;
      } else if (line == "+FCERROR" || noCarrier || error) {
        // The caller's frames instead of its training: listen for them.
        command("AT+FRH=3");
        go(St::DcsWait, 4);
      }
      return;
    case St::TcfDone:
      if (noCarrier || ok || error) {
        // A good check has almost only zeros and enough of them.
        long want = session_.v[1] >= 0 ? bpsFor(session_.v[1]) * 3 / 16 : 0;
        bool good = tcfBytes_ >= want / 3 && tcfNonZero_ * 10 < tcfBytes_;
        logAt(1, "%c: training check %ld bytes, %ld not zero: %s", port_.name(), tcfBytes_,
              tcfNonZero_, good ? "good" : "bad");
        command("AT+FTH=3");
        go(St::CfrFth, 5);
        tcfGood_ = good;
      }
      return;
    case St::CfrFth:
      if (connect) {
        if (tcfGood_) {
          sendFrame(fcf::CFR, true);
          go(St::CfrSent, 5);
        } else {
          sendFrame(fcf::FTT, true);
          go(St::DisSent, 5);  // then listen for the next DCS
        }
      } else if (error) {
        fail(70);
      }
      return;
    case St::CfrSent:
      if (ok) {
        if (!answeredReported_) {
          answeredReported_ = true;
          report((v20() ? "+FTI:\"" : "+FTSI:") + remoteId_ + (v20() ? "\"" : ""));
          report((v20() ? "+FCS:" : "+FDCS:") + paramsText(session_));
          result("OK");
        }
        pages_.emplace_back();
        const Rate *r = rateFromDcs(rxRateBits_);
        command(std::string("AT+FRM=") + r->page);
        go(St::PageFrm, 10);
      } else if (error) {
        fail(70);
      }
      return;
    case St::PageFrm:
      if (connect) {
        rx_ = Rx::Data;
        rxDle_ = false;
        go(St::PageIn, 0);
      } else if (line == "+FCERROR" || noCarrier || error) {
        // The caller repeats its DCS (our CFR was lost) or is gone: listen for frames.
        pages_.pop_back();
        command("AT+FRH=3");
        go(St::DcsWait, 4);
      }
      return;
    case St::PageInEnd:
      if (noCarrier || ok || error) {
        command("AT+FRH=3");
        go(St::PostWait, 5);
      }
      return;
    case St::McfFth:
      if (connect) {
        sendFrame(fcf::MCF, true);
        go(St::McfSent, 5);
      } else if (error) {
        fail(100);
      }
      return;
    case St::McfSent:
      if (ok) {
        Page &pg = pages_.back();
        if (pg.post == 2) {
          command("AT+FRH=3");
          go(St::DcnWait, 5);
        } else {
          pages_.emplace_back();
          const Rate *r = rateFromDcs(rxRateBits_);
          command(std::string("AT+FRM=") + r->page);
          go(St::PageFrm, 10);
        }
      } else if (error) {
        fail(100);
      }
      return;
    default:
      return;
  }
}

void Class2Modem::timeout() {
  switch (st_) {
    case St::CallerFrames:
      return fail(11);
    case St::CfrWait:
    case St::CfrFrame:
      // No answer to the training: abort the listening and send DCS again, three times.
      abortModem();
      if (++tries_ >= 3) return fail(25);
      rx_ = Rx::Lines;
      command("AT+FTH=3");
      st_ = St::DcsFth;
      deadline_ = block_ + 5 * kBlocksPerSecond;
      return;
    case St::McfWait:
    case St::McfFrame:
      abortModem();
      if (++tries_ >= 3) return fail(post_ == 2 ? 54 : 52);
      rx_ = Rx::Lines;
      command("AT+FTH=3");
      st_ = St::PostFth;
      deadline_ = block_ + 5 * kBlocksPerSecond;
      return;
    case St::DcsWait:
    case St::DcsFrame:
      // Nothing after our DIS: say it again, three times.
      abortModem();
      if (++dcsRepeats_ >= 3) return fail(70);
      rx_ = Rx::Lines;
      command("AT+FTH=3");
      st_ = St::Answering;
      deadline_ = block_ + 5 * kBlocksPerSecond;
      return;
    case St::DcnWait:
    case St::DcnFrame:
      abortModem();
      return endCall(0);
    case St::PageOut:
      if (block_ - lastHostData_ >= 30 * kBlocksPerSecond) return fail(43);
      deadline_ = block_ + kBlocksPerSecond;
      return;
    case St::PageIn:
      return;
    case St::Hanging:
      st_ = St::Idle;
      return result("OK");
    default:
      return fail(st_ >= St::Answering ? 90 : 50);
  }
}

void Class2Modem::fail(int code) {
  logAt(1, "%c: fax call fails, hang-up code %d", port_.name(), code);
  hangup_ = code;
  rx_ = Rx::Lines;
  abortModem();
  command("ATH0");
  st_ = St::Idle;
  deadline_ = -1;
  callOver_ = true;
  if (!pages_.empty() && !pages_.back().done) {
    pages_.back().done = true;
    pages_.back().post = -2;  // broken off
  }
  if (delivering_) return deliver();
  report(hangupReport(code));
  callOver_ = false;
  if (hostWaiting_) result("ERROR");
}

void Class2Modem::endCall(int code) {
  hangup_ = code;
  rx_ = Rx::Lines;
  command("ATH0");
  st_ = St::Idle;
  deadline_ = -1;
  if (hostWaiting_ && !delivering_) {
    // The sender's last page is through: the end is the answer to its page command.
    report(hangupReport(code));
    result("OK");
    callOver_ = false;
  } else {
    callOver_ = true;  // the receiving program hears it at its next +FDR
  }
}

std::string Class2Modem::hangupReport(int code) const {
  char buf[32];
  // Class 2.0 writes the codes of the Class 2 table in hexadecimal digits (101 is A1).
  std::snprintf(buf, sizeof buf, v20() ? "+FHS:%02X" : "+FHNG:%d",
                v20() ? (code / 10) * 16 + code % 10 : code);
  return buf;
}

// --- calling: T.30 of the sender ----------------------------------------------------------

void Class2Modem::callerFrame(const std::vector<std::uint8_t> &f) {
  const std::uint8_t k = kind(f[2]);
  const bool final = f[1] == 0x13;
  const std::uint8_t *info = f.data() + 3;
  const std::size_t n = f.size() - 3;
  if (st_ == St::CallerFrames) {
    if (k == kind(fcf::CSI)) remoteId_ = idFromInfo(info, n);
    if (k == kind(fcf::DIS) && n >= 2) {
      const std::uint8_t b1 = info[1], b2 = n >= 3 ? info[2] : 0;
      remoteV29_ = b1 & 0x04;
      remoteV27_ = b1 & 0x08;
      remoteV17_ = (b1 & 0x2C) == 0x2C;
      remote_.v[0] = b1 & 0x40 ? 1 : 0;
      remote_.v[1] = remoteV17_ ? 5 : remoteV29_ ? 3 : remoteV27_ ? 1 : 0;
      remote_.v[2] = b2 & 0x03 ? 1 : 0;
      remote_.v[3] = b2 & 0x04 ? 2 : b2 & 0x08 ? 1 : 0;
      remote_.v[7] = stFromDis(b2);
    }
    if (!final || k != kind(fcf::DIS)) {
      command("AT+FRH=3");
      return;
    }
    report((v20() ? "+FCI:\"" : "+FCSI:") + remoteId_ + (v20() ? "\"" : ""));
    report((v20() ? "+FIS:" : "+FDIS:") + paramsText(remote_));
    result("OK");
    rx_ = Rx::Lines;
    go(St::CallerReady, 60);
    return;
  }
  if (st_ == St::CfrFrame) {
    if (k == kind(fcf::CFR)) {
      needDcs_ = false;
      return startPage();
    }
    if (k == kind(fcf::FTT)) {
      // Train lower and try again.
      int next = 0;
      for (int bps : {12000, 9600, 7200, 4800, 2400})
        if (bps < bps_ && (bps >= 12000 ? remoteV17_ : true)) {
          next = bps;
          break;
        }
      if (!next) return fail(27);
      bps_ = next;
      session_.v[1] = brFor(bps_);
      logAt(1, "%c: training failed, trying %d bit/s", port_.name(), bps_);
      command("AT+FTH=3");
      go(St::DcsFth, 5);
      return;
    }
    if (k == kind(fcf::DCN)) return fail(21);
    command("AT+FRH=3");
    st_ = St::CfrWait;
    return;
  }
  if (st_ == St::McfFrame) {
    int status = 0;
    if (k == kind(fcf::MCF)) status = 1;
    if (k == kind(fcf::RTN)) status = 2;
    if (k == kind(fcf::RTP)) status = 3;
    if (k == kind(fcf::PIN)) status = 4;
    if (k == kind(fcf::PIP)) status = 5;
    if (k == kind(fcf::DCN)) return fail(53);
    if (!status) {
      command("AT+FRH=3");
      st_ = St::McfWait;
      return;
    }
    pageResult(status);
  }
}

void Class2Modem::startDcs() {
  // Session: what the program asked for, within what the remote can do.
  session_ = sendCaps_;
  session_.v[0] = sendCaps_.v[0] && remote_.v[0] ? 1 : 0;
  session_.v[2] = sendCaps_.v[2] && remote_.v[2] ? 1 : 0;
  session_.v[3] = remote_.v[3] == 2 ? 2 : 0;
  session_.v[4] = session_.v[5] = session_.v[6] = 0;
  session_.v[7] = stForMs(scanMs(remote_.v[7], session_.v[0]));
  tries_ = 0;
  if (bps_ == 0) {
    bps_ = std::min(bpsFor(sendCaps_.v[1]), bpsFor(remote_.v[1]));
    if (bps_ == 4800 && !remoteV27_) bps_ = 2400;
  }
  session_.v[1] = brFor(bps_);
  command("AT+FTH=3");
  go(St::DcsFth, 5);
}

void Class2Modem::startPage() {
  report((v20() ? "+FCS:" : "+FDCS:") + paramsText(session_));
  const Rate *r = rateFor(bps_, remoteV17_, remoteV29_);
  post_ = -1;
  command(std::string("AT+FTM=") + r->page);
  go(St::PageFtm, 5);
}

void Class2Modem::hostData(const char *p, std::size_t n) {
  lastHostData_ = block_;
  for (std::size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (hostDle_) {
      hostDle_ = false;
      if (c == kEtx || (v20() && (c == ',' || c == '.' || c == ';'))) {
        // End of the page: Class 2.0 says in the stream what follows.
        if (c == ',') post_ = 0;
        if (c == ';') post_ = 1;
        if (c == '.') post_ = 2;
        forModem_ += static_cast<char>(kDle);
        forModem_ += static_cast<char>(kEtx);
        go(St::PageDrain, 120);
        // Whatever follows is a command.
        if (i + 1 < n) fromHost(p + i + 1, n - i - 1);
        return;
      }
      if (c == kDle) {
        forModem_ += static_cast<char>(kDle);
        forModem_ += static_cast<char>(kDle);
      }
      continue;
    }
    if (c == kDle) {
      hostDle_ = true;
      continue;
    }
    forModem_ += c;
  }
}

void Class2Modem::startPost() {
  tries_ = 0;
  command("AT+FTS=8");
  go(St::PostPause, 5);
}

void Class2Modem::pageResult(int status) {
  pageStatus_ = status;
  if (status == 2 || status == 3) needDcs_ = true;
  const bool good = status == 1 || status == 3;
  if (post_ == 2 && good) {
    // Last page delivered: say goodbye.
    if (!v20()) report("+FPTS:" + std::to_string(status));
    command("AT+FTH=3");
    go(St::DcnFth, 5);
    hangup_ = 0;
    return;
  }
  if (v20()) {
    if (!good) {
      result("ERROR");
    } else {
      result("OK");
    }
  } else {
    report("+FPTS:" + std::to_string(status));
    result("OK");
  }
  if (status >= 4) return fail(50);
  go(St::CallerReady, 60);
}

// --- answering: T.30 of the receiver ------------------------------------------------------

void Class2Modem::startDis() {
  if (!fconSent_) {
    fconSent_ = true;
    dcsRepeats_ = 0;
    report(v20() ? "+FCO" : "+FCON");
  }
  sendFrame(fcf::CSI, false, idInfo(localId_));
  go(St::DisCsiSent, 5);
}

void Class2Modem::answerFrame(const std::vector<std::uint8_t> &f) {
  const std::uint8_t k = kind(f[2]);
  const std::uint8_t *info = f.data() + 3;
  const std::size_t n = f.size() - 3;
  if (st_ == St::DcsFrame) {
    if (k == kind(fcf::TSI)) remoteId_ = idFromInfo(info, n);
    if (k == kind(fcf::DCN)) return fail(70);
    if (k == kind(fcf::DCS) && n >= 2) {
      const std::uint8_t b1 = info[1], b2 = n >= 3 ? info[2] : 0;
      const Rate *r = rateFromDcs(b1);
      session_.v[0] = b1 & 0x40 ? 1 : 0;
      session_.v[1] = brFor(r->bps);
      session_.v[2] = b2 & 0x01 ? 1 : 0;
      session_.v[3] = b2 & 0x04 ? 2 : b2 & 0x08 ? 1 : 0;
      session_.v[4] = session_.v[5] = 0;
      session_.v[6] = 0;
      rxRateBits_ = b1 & 0x3C;
      session_.v[7] = stForMs(msFromDcs(b2));
      command(std::string("AT+FRM=") + r->tcf);
      go(St::TcfIn, 5);
      return;
    }
    command("AT+FRH=3");
    st_ = St::DcsWait;
    return;
  }
  if (st_ == St::PostFrame) {
    int post = k == kind(fcf::MPS) ? 0 : k == kind(fcf::EOM) ? 1 : k == kind(fcf::EOP) ? 2 : -1;
    if (k == kind(fcf::DCN)) return fail(100);
    if (k == kind(fcf::DCS)) {
      // The caller retrains (after our RTN or a lost MCF): handle as at the start.
      st_ = St::DcsFrame;
      return answerFrame(f);
    }
    if (post < 0) {
      command("AT+FRH=3");
      st_ = St::PostWait;
      return;
    }
    Page &pg = pages_.back();
    pg.post = post;
    pg.done = true;
    command("AT+FTH=3");
    go(St::McfFth, 5);
    deliver();
    return;
  }
  if (st_ == St::DcnFrame) {
    if (k == kind(fcf::DCN)) return endCall(0);
    command("AT+FRH=3");
    st_ = St::DcnWait;
  }
}

void Class2Modem::dataByte(std::uint8_t b) {
  if (st_ == St::TcfIn) {
    ++tcfBytes_;
    if (b) ++tcfNonZero_;
    return;
  }
  if (st_ == St::PageIn && !pages_.empty()) {
    pages_.back().data += static_cast<char>(b);
    if (delivering_) deliver();
  }
}

void Class2Modem::dataEnd() {
  if (st_ == St::TcfIn) {
    go(St::TcfDone, 5);
    return;
  }
  if (st_ == St::PageIn) go(St::PageInEnd, 5);
}

void Class2Modem::receivePage() {
  // +FDR: the next page goes to the program once it says DC2 (Class 2.0 does not wait).
  report((v20() ? "+FCS:" : "+FDCS:") + paramsText(session_));
  report("CONNECT");
  delivering_ = true;
  delivered_ = 0;
  waitDc2_ = !v20();
  deliver();
}

void Class2Modem::deliver() {
  if (!delivering_ || waitDc2_ || pages_.empty()) {
    if (delivering_ && pages_.empty() && callOver_) {
      // The call ended before another page came.
      delivering_ = false;
      toHost(std::string{static_cast<char>(kDle), static_cast<char>(kEtx)});
      report(hangupReport(hangup_));
      callOver_ = false;
      result(hangup_ ? "ERROR" : "OK");
    }
    return;
  }
  Page &pg = pages_.front();
  std::string out;
  for (; delivered_ < pg.data.size(); ++delivered_) {
    auto b = static_cast<std::uint8_t>(pg.data[delivered_]);
    // Class 2 hands received data over with the bit order reversed; Class 2.0 does not.
    if (!v20()) b = reversed(b);
    out += static_cast<char>(b);
    if (b == kDle) out += static_cast<char>(kDle);
  }
  if (!out.empty()) toHost(out);
  if (!pg.done) return;
  toHost(std::string{static_cast<char>(kDle), static_cast<char>(kEtx)});
  delivering_ = false;
  const int post = pg.post;
  pages_.pop_front();
  delivered_ = 0;
  lastPost_ = post;
  if (post == -2) {
    report(v20() ? "+FPS:2,0,0,0,0" : "+FPTS:2");
    report(hangupReport(hangup_));
    callOver_ = false;
    return result("ERROR");
  }
  report(v20() ? "+FPS:1,0,0,0,0" : "+FPTS:1");
  report("+FET:" + std::to_string(post));
  result("OK");
}

}  // namespace kv::linesim
