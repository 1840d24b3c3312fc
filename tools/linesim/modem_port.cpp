#include "modem_port.h"

#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "class2_modem.h"
#include "scriptmodem/modem_script.h"
#include "sim_log.h"
#include "spandsp_include.h"

namespace kv::linesim {

namespace {
constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;
// spandsp's transmit buffer is 4 KB and anything beyond it is dropped without notice, so the
// DTE's bytes go in small portions; its CTS callback stops us well before the buffer fills.
constexpr std::size_t kMaxFeed = 256;
}  // namespace

ModemPort::ModemPort(char name, const std::string &linkPath, ControlHandler handler)
    : name_(name), pty_(linkPath), handler_(std::move(handler)) {
  // The pty keeps our own slave descriptor, so a DTE closing the port is only visible as
  // inotify events on the slave node.
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) throw std::system_error(errno, std::generic_category(), "inotify_init1");
  if (inotify_add_watch(inotify_, pty_.slaveName().c_str(),
                        IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
    throw std::system_error(errno, std::generic_category(),
                            "inotify_add_watch " + pty_.slaveName());
  create();
}

ModemPort::~ModemPort() {
  class2_.reset();
  destroy();
  if (inotify_ >= 0) ::close(inotify_);
}

void ModemPort::create() {
  t31_ = t31_init(nullptr, atTx, this, control, this, nullptr, nullptr);
  if (!t31_) throw std::runtime_error("t31_init failed");
  // Without this t31_tx returns no samples while idle and the line would go out of step.
  t31_set_transmit_on_idle(t31_, 1);
  halted_ = false;
  dle_ = false;
  commands_ = 0;
  muted_ = false;
  partialCommand_.clear();
}

void ModemPort::destroy() {
  if (!t31_) return;
  if (run_.on) endDataRun(" (cut short)");
  run_ = DataRun{};
  // t31_free leaves the receive queue that t31_init allocated; free it here, or every port
  // close (a fresh modem) leaks 4 KB.
  if (t31_->rx_queue) queue_free(t31_->rx_queue);
  t31_->rx_queue = nullptr;
  t31_free(t31_);
  t31_ = nullptr;
}

void ModemPort::reset() {
  destroy();
  create();
  events_.clear();
  hangupDue_ = -1;
  dataBytes_ = 0;
  garbled_ = false;
  in_.clear();
  out_.clear();
  if (class2_) class2_->reset();
  // Stale bytes either way would confuse the next program on the port.
  tcflush(pty_.slaveFd(), TCIOFLUSH);
  logAt(1, "%c: modem reset", name_);
}

int ModemPort::atTx(at_state_s *, void *user, const uint8_t *buf, size_t len) {
  auto *self = static_cast<ModemPort *>(user);
  // In Class 2 the modem's own T.30 reads this, not the program.
  if (self->class2_ && self->class2_->fromModem(buf, len)) return 0;
  // Output while no program has the port open would greet the next one with stale RINGs.
  if (!self->dteOpen() || self->muted()) return 0;
  self->out_.append(reinterpret_cast<const char *>(buf), len);
  std::string_view bytes(reinterpret_cast<const char *>(buf), len);
  if (self->xonOnConnect_ && self->atMode() == AT_MODE_STUFFED) {
    // After the whole result line: the interpreter sends CR LF, CONNECT and CR LF apart.
    if (bytes.find("CONNECT") != std::string_view::npos) self->xonDue_ = true;
    if (self->xonDue_ && bytes.find('\n') != std::string_view::npos &&
        bytes.find("CONNECT") == std::string_view::npos) {
      self->out_ += '\x11';
      self->xonDue_ = false;
    }
  }
  // Result codes come as short text pieces, also in data mode (NO CARRIER ending a page).
  bool text = len <= 32 && std::all_of(bytes.begin(), bytes.end(), [](char c) {
                return c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7f);
              });
  if (SimLog::verbosity >= 2 && (text || !self->inDataMode()))
    logAt(2, "%c: modem< %s", self->name_, ModemScript::printable(bytes).c_str());
  else if (SimLog::verbosity >= 3)
    logAt(3, "%c: modem< %zu bytes of data ending %s", self->name_, len,
          ModemScript::printable(bytes.substr(len > 8 ? len - 8 : 0)).c_str());
  self->writeOutput();
  return 0;
}

int ModemPort::control(t31_state_s *, void *user, int op, const char *num) {
  auto *self = static_cast<ModemPort *>(user);
  if (op == AT_MODEM_CONTROL_CTS) {
    // num carries the new CTS state: 0 stop sending, 1 go on. A pty has no CTS line, so we
    // stop reading the master and the kernel holds the DTE's writes back.
    self->halted_ = num == nullptr;
    logAt(3, "%c: modem %s", self->name_, self->halted_ ? "halts the DTE" : "resumes the DTE");
    return 0;
  }
  return self->handler_ ? self->handler_(*self, op, num) : 0;
}

void ModemPort::readInput() {
  char buf[4096];
  ssize_t n = ::read(pty_.masterFd(), buf, sizeof buf);
  if (n <= 0) return;
  gotInput_ = true;
  if (class2_)
    class2_->fromHost(buf, static_cast<std::size_t>(n));
  else
    in_.append(buf, static_cast<std::size_t>(n));
}

void ModemPort::writeOutput() {
  while (!out_.empty()) {
    ssize_t n = ::write(pty_.masterFd(), out_.data(), out_.size());
    if (n <= 0) break;
    out_.erase(0, static_cast<std::size_t>(n));
  }
  // A program that stopped reading must not make us hoard its modem's chatter forever.
  if (out_.size() > (1u << 20)) out_.erase(0, out_.size() - (1u << 20));
}

bool ModemPort::checkWatch() {
  alignas(inotify_event) char buf[4096];
  ssize_t n;
  bool wasOpen = opens_ > 0;
  while ((n = ::read(inotify_, buf, sizeof buf)) > 0) {
    for (char *p = buf; p < buf + n;) {
      auto *ev = reinterpret_cast<inotify_event *>(p);
      if (ev->mask & IN_OPEN) ++opens_;
      if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) opens_ = opens_ > 0 ? opens_ - 1 : 0;
      p += sizeof(inotify_event) + ev->len;
    }
  }
  if (!wasOpen && opens_ > 0) logAt(1, "%c: port opened", name_);
  if (wasOpen && opens_ == 0) {
    logAt(1, "%c: port closed", name_);
    return false;
  }
  return true;
}

void ModemPort::trackQuiet(int64_t block) {
  if (!dteOpen())
    quietSince_ = -1;
  else if (gotInput_ || quietSince_ < 0)
    quietSince_ = block;
  gotInput_ = false;
}

bool ModemPort::checkDtr() {
  bool down = dteOpen() && pty_.dtrDropped();
  bool edge = down && !dtrWasDown_;
  dtrWasDown_ = down;
  if (edge) logAt(1, "%c: DTR dropped", name_);
  return !edge;
}

bool ModemPort::inDataMode() const {
  int mode = t31_->at_state.at_rx_mode;
  return mode == AT_MODE_HDLC || mode == AT_MODE_STUFFED;
}

int ModemPort::s7Seconds() const {
  int s7 = t31_->at_state.p.s_regs[7];
  return s7 > 0 ? s7 : 60;
}

void ModemPort::prepareForRinging() {
  at_reset_call_info(&t31_->at_state);
}

void ModemPort::countCommands(const char *buf, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) {
    if (buf[i] == '\r') {
      ++commands_;
      if (SimLog::verbosity >= 2) logAt(2, "%c: DTE> %s", name_, partialCommand_.c_str());
      partialCommand_.clear();
    } else if (partialCommand_.size() < 200 && buf[i] != '\n') {
      partialCommand_.push_back(buf[i]);
    }
  }
}

void ModemPort::setClasses(const std::string &classes) {
  class2_ = std::make_unique<Class2Modem>(*this, classes);
}

bool ModemPort::takeCommand() {
  if (!muted_ && muteAfter_ >= 0 && commands_ >= muteAfter_) {
    muted_ = true;
    logAt(1, "%c: modem stops answering after %d commands", name_, commands_);
  }
  ++commands_;
  return !muted_;
}

void ModemPort::feed(int64_t block) {
  if (class2_) in_ += class2_->takeForModem();
  while (!in_.empty() && !halted_) {
    int mode = t31_->at_state.at_rx_mode;
    bool commandMode = mode == AT_MODE_ONHOOK_COMMAND || mode == AT_MODE_OFFHOOK_COMMAND;
    // A Class 2 modem counts the program's commands itself; these are its own.
    const bool own = class2_ && !class2_->transparent();
    if (!own && !muted_ && commandMode && muteAfter_ >= 0 && commands_ >= muteAfter_) {
      muted_ = true;
      logAt(1, "%c: modem stops answering after %d commands", name_, commands_);
    }
    if (muted_ && !own) {
      // A modem that stopped answering: it swallows everything.
      in_.clear();
      return;
    }
    std::size_t take = 0;
    if (commandMode) {
      // One command line at a time: a command that changes mode must take effect before the
      // next bytes are interpreted.
      dle_ = false;
      std::size_t cr = in_.find('\r');
      take = cr == std::string::npos ? in_.size() : cr + 1;
      take = std::min(take, kMaxFeed);
      if (!own) countCommands(in_.data(), take);
    } else if (mode == AT_MODE_HDLC || mode == AT_MODE_STUFFED) {
      // spandsp drops whatever follows DLE ETX in the same call; end the portion there.
      take = std::min(in_.size(), kMaxFeed);
      const double bytesPerSecond = t31_->bit_rate / 8.0;
      const bool garble =
          garbleFrom_ > 0 && !garbled_ && mode == AT_MODE_STUFFED && bytesPerSecond > 0;
      for (std::size_t i = 0; i < take; ++i) {
        if (dle_) {
          dle_ = false;
          if (in_[i] == kEtx) {
            take = i + 1;
            dataBytes_ = 0;
            break;
          }
          ++dataBytes_;  // DLE DLE: one data byte
        } else if (in_[i] == kDle) {
          dle_ = true;
        } else {
          const double at = double(dataBytes_++) / bytesPerSecond;
          if (garble && at >= garbleFrom_ && at < garbleFrom_ + garbleLength_ &&
              dataBytes_ % 16 == 0)
            in_[i] = char(0xFF);
          if (garble && !garbled_ && at >= garbleFrom_ + garbleLength_) {
            garbled_ = true;  // one page only: the page sent again goes through
            logAt(1, "%c: page data spoilt from %.1f s for %.1f s", name_, garbleFrom_,
                  garbleLength_);
          }
        }
      }
    } else {
      // Receiving (+FRM/+FRH): any byte aborts; pass one so a command behind it is still read.
      take = 1;
    }
    if (mode == AT_MODE_STUFFED && take > 0) {
      run_.fed = true;
      // Image data has bytes other than zeros and the DLE pair; a training check has none.
      for (std::size_t i = 0; i < take && !run_.image; ++i)
        run_.image = in_[i] != 0 && in_[i] != kDle && in_[i] != kEtx;
    }
    if (SimLog::verbosity >= 3 && (mode == AT_MODE_HDLC || mode == AT_MODE_STUFFED))
      logAt(3, "%c: DTE> %zu bytes of data ending %s", name_, take,
            ModemScript::printable(std::string_view(in_).substr(take > 8 ? take - 8 : 0,
                                                                std::min<std::size_t>(take, 8)))
                .c_str());
    inInterpreter_ = true;
    t31_at_rx(t31_, in_.data(), static_cast<int>(take));
    inInterpreter_ = false;
    in_.erase(0, take);
    deliverDue(block);
    if (class2_) in_ += class2_->takeForModem();
  }
}

void ModemPort::post(int event, int64_t due) {
  // Keep the queue in time order; most events are posted for "now".
  auto it = events_.end();
  while (it != events_.begin() && std::prev(it)->due > due) --it;
  events_.insert(it, Event{event, due});
}

int ModemPort::atMode() const {
  return t31_->at_state.at_rx_mode;
}

void ModemPort::postHangup(int64_t block) {
  // On a real line a receiving modem learns of the far end leaving only by losing the carrier.
  // While it receives, let it find that out by itself (DLE ETX, NO CARRIER), as a real one
  // would, and only then go on hook.
  int mode = atMode();
  if (mode == AT_MODE_CONNECTED || mode == AT_MODE_DELIVERY) {
    hangupDue_ = block + kBlocksPerSecond * 3;
    logAt(1, "%c: far end gone while receiving; waiting for the carrier to drop", name_);
    return;
  }
  post(AT_CALL_EVENT_HANGUP, block);
}

void ModemPort::deliverDue(int64_t block) {
  if (hangupDue_ >= 0) {
    int mode = atMode();
    if ((mode != AT_MODE_CONNECTED && mode != AT_MODE_DELIVERY) || block >= hangupDue_) {
      logAt(1, "%c: far end gone (AT mode %d)", name_, mode);
      hangupDue_ = -1;
      t31_call_event(t31_, AT_CALL_EVENT_HANGUP);
    }
  }
  while (!events_.empty() && events_.front().due <= block) {
    int event = events_.front().event;
    events_.pop_front();
    t31_call_event(t31_, event);
  }
  if (class2_) class2_->tick(block);
}

void ModemPort::audio(const int16_t *rx, int16_t *tx) {
  // The modem's timers run on the samples it is given, so it hears silence even when idle.
  t31_rx(t31_, const_cast<int16_t *>(rx), kBlock);
  // The DTE's bytes only arrive between blocks, so the buffer can only drain inside t31_tx.
  const int outBefore = t31_->tx.out_bytes;
  const bool finalBefore = t31_->tx.final;
  int n = t31_tx(t31_, tx, kBlock);
  if (n < kBlock) std::memset(tx + n, 0, (kBlock - n) * sizeof(int16_t));
  meterBlock(outBefore, finalBefore);
}

void ModemPort::meterBlock(int outBefore, bool finalBefore) {
  const auto &buf = t31_->tx;
  const int taken = buf.out_bytes - outBefore;
  if (!run_.on) {
    // Fill before the first byte is the modem's own preamble, not the DTE being late.
    if (!run_.fed || taken <= 0) return;
    run_.on = true;
    run_.blocks = 1;
    run_.emptyBits = 0;
  } else {
    ++run_.blocks;
    // Ran dry inside this block while the DTE had not yet ended the data: the rest of the
    // block went out as fill. After DLE ETX the modem drains and stops by itself.
    if (!finalBefore && buf.out_bytes == buf.in_bytes) {
      const double blockBits = double(t31_->bit_rate) * kBlock / kSampleRate;
      run_.emptyBits += std::max(0.0, blockBits - 8.0 * taken);
    }
  }
  // spandsp clears `final` when it hands the end of data to the modulator.
  if (finalBefore && !buf.final)
    endDataRun("");
  else if (atMode() == AT_MODE_ONHOOK_COMMAND)
    endDataRun(" (cut short)");
}

void ModemPort::endDataRun(const char *how) {
  const double seconds = double(run_.blocks) / kBlocksPerSecond;
  const double empty = t31_->bit_rate > 0 ? run_.emptyBits / t31_->bit_rate : 0;
  logAt(1, "%c: %s %.2f s, modem buffer empty %.2f s%s", name_,
        run_.image ? "page data" : "training data", seconds, empty, how);
  run_ = DataRun{};
}

}  // namespace kv::linesim
