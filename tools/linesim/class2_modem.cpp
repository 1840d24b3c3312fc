#include "class2_modem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "class2_frames.h"
#include "modem_port.h"
#include "scriptmodem/modem_script.h"
#include "sim_log.h"
#include "spandsp_include.h"

namespace kv::linesim {

using namespace c2;

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
    if (pages_.empty() && lastPost_ == 2 && st_ != St::Idle) {
      // After the last page, while the caller still says goodbye: the end comes with it.
      hostWaiting_ = true;
      return true;
    }
    if (pages_.empty() && st_ == St::Idle && callOver_) {
      report(hangupReport(hangup_));
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

}  // namespace kv::linesim
