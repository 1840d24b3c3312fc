#include "fax/fax_session.h"

#include "fax/class2_reports.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "base/error_text.h"
#include "base/exceptions.h"
#include "comm/main_thread.h"
#include "comm/ticks.h"
#include "fax/comm_fax_port.h"
#include "fax/fax_text.h"

namespace kv {

namespace {
constexpr auto kSendLimit = std::chrono::milliseconds(1000);
}  // namespace

// --- History log -------------------------------------------------------------------------------

void TKvFaxLog::UpdateLog(TFaxLogCode code, TKvAbstractFax &fax) {
  if (FaxHistoryName.empty()) return;
  std::FILE *f = std::fopen(FaxHistoryName.c_str(), "ab");
  if (!f) return;
  std::tm now = localNow();
  std::string when = shortDate(now) + " " + longTime(now);
  std::string rec;
  bool blank = true;
  const bool sender = fax.IsSender();
  switch (code) {
    case lcTransmitStart:
      if (sender) {
        rec = "Transmit " + fax.FaxFile + " to " + fax.HistoryPhone() + " started at " + when;
        blank = false;
      }
      break;
    case lcTransmitOk:
      if (sender)
        rec = "Transmit to " + fax.PartnerID() + " finished OK at " + when + " " +
              std::to_string(fax.HangupResult());
      break;
    case lcTransmitFail:
      if (sender)
        rec = "Transmit failed at " + when + "\r\n  (" + errorText(fax.SessionError()) + ") " +
              std::to_string(fax.HangupResult()) + fax.HangupText(": ");
      break;
    case lcReceiveStart:
      if (!sender) {
        rec = "Receive " + fax.FaxFile + " from " + fax.PartnerID() + " started at " + when;
        blank = false;
      }
      break;
    case lcReceiveOk:
      if (!sender) rec = "Receive finished OK at " + when;
      break;
    case lcReceiveSkip:
      if (!sender) rec = "Receive skipped at " + when;
      break;
    case lcReceiveFail:
      if (!sender)
        rec = "Receive failed at " + when + "\r\n  (" + errorText(fax.SessionError()) + ")" +
              fax.HangupText(" hang-up " + std::to_string(fax.HangupResult()) + ": ");
      break;
    default:
      break;
  }
  if (!rec.empty()) {
    rec += "\r\n";
    if (blank) rec += "\r\n";
    std::fwrite(rec.data(), 1, rec.size(), f);
  }
  std::fclose(f);
}

// --- Component ---------------------------------------------------------------------------------

TKvAbstractFax::TKvAbstractFax(bool sender)
    : FaxClass(sender ? fcUnknown : fcDetect),
      sender_(sender),
      self_(std::make_shared<std::atomic<TKvAbstractFax *>>(this)) {}

TKvAbstractFax::~TKvAbstractFax() {
  // Late messages (the posted finish) find the component gone and do nothing.
  self_->store(nullptr);
  // Take the triggers away first: that waits for a step still running on the dispatch thread
  // (the one that posted the finish may not have returned yet).
  if (port_) port_->detach();
  std::lock_guard lk(stepMu_);
  stepping_ = false;
}

void TKvAbstractFax::SetComPort(TKvCustomComPort *cp) {
  if (stepping_) raiseForCode(ecModemBusy);
  if (port_) port_->detach();
  comPort_ = cp;
  ownedPort_.reset();
  port_ = nullptr;
  if (cp) {
    CommFaxPort::configure(*cp);
    ownedPort_ = std::make_unique<CommFaxPort>(*cp);
    port_ = ownedPort_.get();
  }
}

void TKvAbstractFax::SetFaxPort(FaxPort *port) {
  if (stepping_) raiseForCode(ecModemBusy);
  comPort_ = nullptr;
  ownedPort_.reset();
  port_ = port;
}

void TKvAbstractFax::SetInitBaud(std::int32_t v) {
  initBaud_ = v;
  if (v != 0 && normalBaud_ == 0 && port_) normalBaud_ = port_->baud();
}

void TKvAbstractFax::SetModemInit(const std::string &v) {
  if (v.empty()) return;
  modemInit_ = normalizeModemInit(v);
}

std::string TKvAbstractFax::PartnerID() const {
  std::lock_guard lk(idMu_);
  return partnerId_;
}

void TKvAbstractFax::setPartnerId(const std::string &id) {
  std::lock_guard lk(idMu_);
  partnerId_ = cut(id, kStationIdMax);
}

void TKvAbstractFax::FaxStatus(bool first, bool last) {
  if (StatusDisplay) StatusDisplay->UpdateDisplay(*this, first, last);
  if (OnFaxStatus) OnFaxStatus(*this, first, last);
}

void TKvAbstractFax::FaxLogEvent(TFaxLogCode code) {
  if (FaxLog) FaxLog->UpdateLog(code, *this);
  if (OnFaxLog) OnFaxLog(*this, code);
  if (code == lcReceiveOk || code == lcReceiveSkip || code == lcReceiveFail) FaxFile.clear();
}

std::string TKvAbstractFax::HangupText(const std::string &prefix) const {
  const char *text = hangupResult_ ? class2::hangupText(hangupResult_) : "";
  return *text ? prefix + text : std::string();
}

void TKvAbstractFax::FaxError(Result code) {
  if (OnFaxError) OnFaxError(*this, code);
}

void TKvAbstractFax::FaxFinish(Result code) {
  if (OnFaxFinish) OnFaxFinish(*this, code);
}

// --- Messages ----------------------------------------------------------------------------------

bool TKvAbstractFax::sendToMain(std::function<void()> fn) {
  auto self = self_;
  return MainThread::instance().send(
      [self, fn = std::move(fn)] {
        if (auto *fax = self->load()) {
          fax->inHandler_ = true;
          try {
            fn();
          } catch (...) {
            MainThread::reportException(std::current_exception());
          }
          fax->inHandler_ = false;
        }
      },
      kSendLimit);
}

void TKvAbstractFax::reportStatus(int kind) {
  sendToMain([this, kind] { FaxStatus(kind == 1, kind == 2); });
}

void TKvAbstractFax::reportLog(TFaxLogCode code) {
  sendToMain([this, code] { FaxLogEvent(code); });
}

void TKvAbstractFax::reportError(Result code) {
  sessionError_ = code;
  sendToMain([this, code] { FaxError(code); });
}

void TKvAbstractFax::setProgress(int code) {
  if (progress_ != code) reportFlag_ = true;
  progress_ = code;
}

// --- Modem I/O ---------------------------------------------------------------------------------

void TKvAbstractFax::putBytes(const std::uint8_t *p, std::size_t n) {
  if (port_ && n) port_->put(p, n);
}

void TKvAbstractFax::sendRaw(const std::string &s) {
  putBytes(reinterpret_cast<const std::uint8_t *>(s.data()), s.size());
}

void TKvAbstractFax::sendCommand(const std::string &cmd, int extraDelay) {
  delayMs(faxtime::kCommandDelay + extraDelay);
  std::string c = cmd + "\r";
  if (faxtime::kCharDelay == 0) {
    sendRaw(c);
  } else {
    for (char ch : c) {
      delayMs(faxtime::kCharDelay);
      sendRaw(std::string(1, ch));
    }
  }
  reader_.clear();
  lastCommand_ = cmd;
  if (stepping_) armTimeout(faxtime::kResponseTicks);
}

void TKvAbstractFax::softwareFlow(bool on) {
  if (SoftwareFlow && port_) port_->setSoftwareFlow(on, !sender_);
}

void TKvAbstractFax::armTimeout(std::int32_t ticks) {
  if (port_) port_->armTimeout(clock_.timeoutTicks(ticks));
}

bool TKvAbstractFax::readReply(const std::function<bool(const std::string &)> &onLine,
                               std::int32_t nextTicks, std::string *heard) {
  if (!port_) return false;
  std::string line;
  auto deadline = clock_.now() + clock_.timeoutDuration(faxtime::kResponseTicks);
  auto &mt = MainThread::instance();
  const bool onMain = mt.isMainThread();
  for (;;) {
    // A modem that never stops talking is cut off at the deadline too.
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_.now());
    if (left.count() <= 0) return false;
    int c = port_->getChar();
    if (c < 0) {
      if (!port_->alive()) return false;
      // The main thread keeps its queue moving while it waits.
      if (onMain) mt.processPending();
      port_->waitForInput(int(std::min<std::int64_t>(left.count() + 1, onMain ? 10 : 50)));
      continue;
    }
    if (heard && heard->size() < 40 && c != '\r' && c != '\n') heard->push_back(char(c));
    if (c != '\r' && c != '\n') {
      if (c >= 32) {
        if (line.size() >= t30::ResponseReader::kMaxLine) line.erase(0, 1);
        line.push_back(char(c));
      }
      continue;
    }
    std::string l = t30::trimLine(line);
    line.clear();
    if (l.empty()) continue;
    if (onLine(l)) return true;
    if (nextTicks > 0) deadline = clock_.now() + clock_.timeoutDuration(nextTicks);
  }
}

bool TKvAbstractFax::waitForResponse(const std::string &cmd, std::string *info) {
  if (!port_) return false;
  bool wasPolling = port_->polling();
  port_->setPolling(true);
  delayMs(faxtime::kCommandDelay);
  sendRaw(cmd + "\r");
  bool haveInfo = false;
  lastReply_.clear();
  lastAsked_ = cmd;
  bool ok = false;
  std::string heard;  // the first bytes that came, to show when no line was understood
  readReply(
      [&](const std::string &l) {
        if (l == cmd) return false;  // the modem's echo
        // A caller ringing in is no part of the reply (and no class list).
        if (t30::isRingReport(l)) {
          ringHeardAt_ = clock_.now();
          return false;
        }
        lastReply_ = l;
        if (l.find("ERROR") != std::string::npos) return true;
        if (l.find("OK") != std::string::npos) return ok = true;
        if (!haveInfo) {
          haveInfo = true;
          if (info) *info = l;
        }
        return false;
      },
      0, &heard);
  // A modem that sent only noise, or a line without end, answered something all the same.
  if (!ok && lastReply_.empty()) lastReply_ = heard;
  // Let trailing bytes of the reply arrive, then drop them.
  port_->flushIn();
  port_->setPolling(wasPolling);
  return ok;
}

void TKvAbstractFax::toggleDtr() {
  port_->flushIn();
  port_->flushOut();
  port_->setDtr(false);
  port_->setRts(false);
  delayMs(faxtime::kDtrDrop);
  port_->setDtr(true);
  port_->setRts(true);
  delayMs(faxtime::kDtrSettle);
}

void TKvAbstractFax::modemHangup() {
  if (!port_) return;
  // Let a last frame (FTT, DCN) leave before the buffers are flushed; never wait long.
  for (int i = 0; i < 100 && port_->alive() && port_->outUsed() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // The device's own queue is flushed by the DTR toggle too: give it a moment to empty.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (sender_) {
    if (port_->dcd()) {
      delayMs(faxtime::kHangupGuard);
      sendRaw("+++");
      delayMs(faxtime::kHangupGuard);
      sendCommand("ATH0");
      delayMs(faxtime::kHangupGuard);
      port_->flushIn();
      if (port_->dcd()) toggleDtr();
    } else {
      sendCommand("ATH0");
      delayMs(faxtime::kHangupGuard);
      port_->flushIn();
    }
  } else {
    toggleDtr();
    delayMs(faxtime::kHangupGuard);
    sendRaw("+++");
    delayMs(faxtime::kHangupGuard);
    sendCommand("ATH");
    delayMs(faxtime::kHangupGuard);
    port_->flushIn();
  }
  reader_.clear();
}

void TKvAbstractFax::switchBaud(std::int32_t bps) {
  // Without InitBaud the port keeps one rate throughout, whatever NormalBaud says.
  if (!initBaud_ || !bps || !port_ || port_->baud() == bps) return;
  delayMs(faxtime::kBaudSwitchTicks * kTickMs);
  port_->setBaud(bps);
}

int TKvAbstractFax::classQuery(bool withInit) {
  if (withInit) {
    bool gotOk = false;
    for (int round = 0; round < 2 && !gotOk; ++round) {
      toggleDtr();
      if (!waitForResponse(DefaultInit())) return 0;
      gotOk = true;
    }
    if (!gotOk) return 0;
  }
  std::string info;
  if (!waitForResponse("AT+FCLASS=?", &info)) return 0;
  return t30::parseClassList(info);
}

int TKvAbstractFax::DetectFaxClasses() {
  if (running_) return lastClasses_;
  if (!port_) raiseForCode(ecPortNotAssigned);
  if (port_->outSize() < 8192) raiseForCode(ecOutputBufferTooSmall);
  lastClasses_ = classQuery(false);
  classQueried_ = true;
  return lastClasses_;
}

bool TKvAbstractFax::modemInitialize() {
  if (modemInitialized_) return true;
  if (!modemInit_.empty() && !waitForResponse(modemInit_)) return false;
  if (!waitForResponse(DefaultInit())) return false;
  modemInitialized_ = true;
  return true;
}

bool TKvAbstractFax::prepareModem(bool failOnInitError) {
  if (FaxClass == fcUnknown) FaxClass = fcDetect;
  if (FaxClass == fcDetect) {
    int bits = classQuery(true);
    lastClasses_ = bits;
    classQueried_ = true;
    // Best class first: 2.0, 2, 1.
    if (bits & kClass2_0Bit)
      FaxClass = fcClass2_0;
    else if (bits & kClass2Bit)
      FaxClass = fcClass2;
    else if (bits & kClass1Bit)
      FaxClass = fcClass1;
    else {
      FaxClass = fcUnknown;
      sessionError_ = ecFaxBadModemResult;
      explainModemReply(bits == 0 && lastReply_.find("OK") != std::string::npos
                            ? "the modem names no fax class it can use"
                            : "");
      return false;
    }
  }
  if (!modemInitialize() && failOnInitError) {
    sessionError_ = ecFaxBadModemResult;
    explainModemReply("");
    return false;
  }
  return true;
}

void TKvAbstractFax::explainModemReply(const std::string &what) {
  std::string cmd = lastAsked_;
  std::string text = what;
  if (text.empty() && lastReply_.empty())
    text = "the modem did not answer " + cmd + " (is it switched on and connected?)";
  if (text.empty() && lastReply_.find("ERROR") != std::string::npos)
    text = "the modem answered " + cmd + " with ERROR";
  if (text.empty()) {
    std::string seen;
    for (char c : lastReply_.substr(0, 40)) seen.push_back(c >= 32 && c < 127 ? c : '?');
    text = "the modem's answer to " + cmd + " was not understood (\"" + seen + "\")";
  }
  std::lock_guard lk(idMu_);
  errorDetail_ = text;
}

std::string TKvAbstractFax::SessionErrorDetail() const {
  std::lock_guard lk(idMu_);
  return errorDetail_;
}

// --- Session frame -----------------------------------------------------------------------------

void TKvAbstractFax::startSession() {
  if (!port_) raiseForCode(ecPortNotAssigned);
  if (port_->outSize() < 8192) raiseForCode(ecOutputBufferTooSmall);
  if (stepping_) raiseForCode(ecModemBusy);
  aborted_ = false;
  ringHeardAt_.reset();
  {
    std::lock_guard lk(idMu_);
    errorDetail_.clear();
  }
  abortPending_ = false;
  reader_.clear();
  Result r = port_->startTriggers([this](FaxTrigger t) {
    FaxEvent ev = FaxEvent::Avail;
    switch (t) {
      case FaxTrigger::Avail:
        ev = FaxEvent::Avail;
        break;
      case FaxTrigger::Timeout:
        ev = FaxEvent::Timeout;
        break;
      case FaxTrigger::StatusTimer:
        ev = FaxEvent::StatusTimer;
        break;
      case FaxTrigger::OutFree:
        ev = FaxEvent::OutFree;
        break;
      case FaxTrigger::OutUsed:
        ev = FaxEvent::OutUsed;
        break;
    }
    step(ev);
  });
  if (r < 0) {
    reportError(r);
    running_ = false;
    auto self = self_;
    Result code = sessionError_;
    MainThread::instance().post([self, code] {
      if (auto *f = self->load()) f->FaxFinish(code);
    });
    return;
  }
  port_->setSessionMark(true);
  Result prep = prepare();
  if (prep < 0) {
    sessionError_ = prep;
    reportStatus(2);
    stepping_ = true;
    finishSession();
    return;
  }
  // Register before the first state runs: its command's reply may come back before this
  // function returns, and an avail missed now would not be repeated.
  std::lock_guard lk(stepMu_);
  stepping_ = true;
  port_->enableDelivery();
  port_->armStatusTimer(SecsToTicks(StatusInterval));
  step(FaxEvent::Internal);
}

void TKvAbstractFax::finishSession() {
  if (!stepping_) return;
  stepping_ = false;
  if (port_) {
    // A session ended in the middle of page data must not leave XON/XOFF on the port.
    softwareFlow(false);
    port_->setSessionMark(false);
    port_->stopTriggers();
  }
  running_ = false;
  modemInitialized_ = false;
  auto self = self_;
  Result code = sessionError_;
  MainThread::instance().post([self, code] {
    if (auto *f = self->load()) f->FaxFinish(code);
  });
}

void TKvAbstractFax::AbortFax() {
  if (!stepping_) return;
  abortPending_ = true;
  // From an event handler the dispatch thread is waiting for us: it takes the abort as soon
  // as the handler returns.
  if (inHandler_) return;
  // The dispatch thread may be inside a step, possibly waiting for this thread to run one of
  // its messages: keep serving messages until one of us has taken the abort.
  auto &mt = MainThread::instance();
  for (int i = 0; i < 4000 && abortPending_ && stepping_; ++i) {
    std::unique_lock lk(stepMu_, std::try_to_lock);
    if (lk.owns_lock()) {
      step(FaxEvent::Internal);
      break;
    }
    if (mt.isMainThread()) mt.processPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool TKvAbstractFax::readItem() {
  line_.clear();
  gotFrame_ = false;
  for (;;) {
    int c = port_->getChar();
    if (c < 0) return false;
    auto it = reader_.feed(std::uint8_t(c));
    if (it.type == t30::ResponseReader::Item::Line) {
      line_ = std::move(it.line);
      if (t30::isRingReport(line_)) ringHeardAt_ = clock_.now();
      return true;
    }
    if (it.type == t30::ResponseReader::Item::Frame) {
      frameBytes_ = std::move(it.frame);
      auto f = t30::decodeFrame(frameBytes_);
      if (!f) continue;  // too short to mean anything
      frame_ = *f;
      gotFrame_ = true;
      return true;
    }
  }
}

void TKvAbstractFax::step(FaxEvent ev) {
  std::unique_lock lk(stepMu_);
  for (int rounds = 0; stepping_ && !stateIsFinal(); ++rounds) {
    if (abortPending_.exchange(false)) ev = FaxEvent::Abort;
    if (ev == FaxEvent::Abort) {
      setProgress(fpUserAbort);
      sessionError_ = ecCancelRequested;
      aborted_ = true;
      enterErrorState();
      if (port_) port_->logState(stateNumber(), stateName());
      ev = FaxEvent::Internal;
    } else if (ev == FaxEvent::StatusTimer || reportFlag_) {
      bool timer = ev == FaxEvent::StatusTimer;
      reportFlag_ = false;
      reportStatus(0);
      if (port_) port_->armStatusTimer(SecsToTicks(StatusInterval));
      // A device that has gone away sends no more events: end the state as if it timed out.
      if (timer && port_ && !port_->alive()) {
        ev = FaxEvent::Timeout;
      } else if (timer) {
        return;
      }
    }
    bool lineState = stateReadsLines();
    if (ev == FaxEvent::Timeout) {
      line_.clear();
      gotFrame_ = false;
    }
    if (lineState && ev != FaxEvent::Timeout) {
      if (!readItem()) {
        // A device that has gone away never sends another byte: treat it as the time-out
        // now instead of waiting for the timer.
        if (port_ && !port_->alive()) {
          ev = FaxEvent::Timeout;
        } else if (abortPending_) {
          continue;
        } else {
          return;
        }
      } else {
        ev = FaxEvent::Avail;
      }
    }
    const std::uint8_t before = stateNumber();
    runState(ev);
    if (stateNumber() != before && port_) port_->logState(stateNumber(), stateName());
    if (!stepping_ || stateIsFinal()) return;
    if (stateReadsLines() && port_ && port_->inUsed() > 0) {
      ev = FaxEvent::Avail;
      continue;
    }
    if (loopNow_) {
      loopNow_ = false;
      ev = FaxEvent::Internal;
      continue;
    }
    if (!abortPending_) return;
  }
}

}  // namespace kv
