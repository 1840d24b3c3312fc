#include "fax/receive_fax.h"

#include <memory>

#include "base/exceptions.h"

namespace kv {

namespace {
constexpr std::size_t kWriteBuffer = 4096;
constexpr int kMaxPerEvent = 10000;
bool contains(const std::string &s, const char *what) {
  return s.find(what) != std::string::npos;
}
}  // namespace

const char *receiveStateName(int s) {
  switch (s) {
    case 1:
      return "NewCall";
    case 2:
      return "C1SelectClass";
    case 8:
      return "WaitRing";
    case 9:
      return "Answer";
    case 10:
      return "C1SendCSI";
    case 11:
      return "C1SendDIS";
    case 12:
      return "C1WaitDCS";
    case 13:
      return "C1Retry";
    case 14:
      return "C1RetryFTH";
    case 15:
      return "C1TrainConnect";
    case 16:
      return "C1Training";
    case 18:
      return "C1SendFTT";
    case 19:
      return "C1TrainEnd";
    case 20:
      return "C1SendCFR";
    case 21:
      return "C1PageConnect";
    case 25:
      return "PageStart";
    case 26:
      return "PageData";
    case 27:
      return "C1PageEnd";
    case 28:
      return "C1WaitPPM";
    case 29:
      return "C1ClosePage";
    case 30:
      return "C1SendMCF";
    case 31:
      return "C1WaitDCN";
    case 32:
      return "C1Hangup";
    case 35:
      return "EndOfCall";
    case 36:
      return "Error";
    case 37:
      return "Final";
    default:
      return "?";
  }
}

TKvReceiveFax::TKvReceiveFax() : TKvAbstractFax(false) {
  buf_.reserve(kWriteBuffer);
}

TKvReceiveFax::~TKvReceiveFax() {
  file_.close();
}

bool TKvReceiveFax::FaxAccept() {
  bool accept = true;
  if (OnFaxAccept) OnFaxAccept(*this, accept);
  return accept;
}

std::string TKvReceiveFax::FaxName() {
  std::string name;
  if (OnFaxName)
    OnFaxName(*this, name);
  else
    name = receiveFileName(FaxNaming, DestinationDir, FaxFileExt, localNow());
  return cut(name, kPassStringMax);
}

void TKvReceiveFax::BeginReceive() {
  startSession();
}

Result TKvReceiveFax::prepare() {
  sessionError_ = 0;
  progress_ = 0;
  state_ = 1;
  statusShown_ = false;
  // The modem is initialised at InitBaud when that is in use.
  switchBaud(initBaud_);
  if (FaxClass == fcUnknown || FaxClass == fcDetect) {
    if (!prepareModem(false)) return ecFaxBadModemResult;
  }
  if (FaxClass == fcClass2 || FaxClass == fcClass2_0) {
    // Class 2 and 2.0 sessions are not carried yet; their states are 3..7, 22..24, 33, 34.
    return ecNotSupported;
  }
  // The modulation query selects Class 1 itself, so the class is selected once here.
  if (modemInitialize() && queryModulations(true)) switchBaud(normalBaud_);
  running_ = true;
  port_->flushIn();
  return ecOK;
}

bool TKvReceiveFax::stateReadsLines() const {
  switch (state_) {
    case 2:
    case 8:
    case 10:
    case 11:
    case 12:
    case 15:
    case 18:
    case 19:
    case 20:
    case 21:
    case 27:
    case 28:
    case 30:
    case 31:
    case 32:
      return true;
    default:
      return false;
  }
}

void TKvReceiveFax::fail(Result code) {
  reportError(code);
  gotoState(36);
}

void TKvReceiveFax::sendFrame(std::uint8_t fcf, bool final, const std::vector<std::uint8_t> &info) {
  delayMs(faxtime::kFrameLead);
  auto f = t30::frameBytes(fcf, final, info);
  putBytes(f.data(), f.size());
}

Result TKvReceiveFax::createFile() {
  file_.close();
  pageNumber_ = 1;
  std::string name;
  // The answer lives in a shared box: a handler still running after the time-out must not
  // write into this thread's stack.
  auto box = std::make_shared<std::string>();
  if (sendToMain([this, box] { *box = FaxName(); })) name = *box;
  if (name.empty()) return ecNoFilename;
  FaxFile = name;
  return file_.create(name, PartnerID());
}

Result TKvReceiveFax::flushBuffer() {
  if (buf_.empty()) return ecOK;
  Result r = file_.write(buf_.data(), buf_.size());
  buf_.clear();
  return r;
}

void TKvReceiveFax::listenHighSpeed(bool page) {
  // The caller starts its training or page 75 ms after our OK (T.30 5.3.2.2); a modem told
  // to listen later misses the training sequence at the carrier's start. So no delay here.
  // Training and every page (not only the first) are data we pace with XOFF.
  softwareFlow(true);
  sendCommand("AT+FRM=" + (page ? t30::pageCode(rateCode_) : rateCode_), -faxtime::kCommandDelay);
}

void TKvReceiveFax::newCall() {
  pageStatus_ = 3;
  rings_ = 0;
  pages_ = 0;
  attempts_ = 0;
  setPartnerId("");
  FaxFile.clear();
  finalFrame_ = false;
  if (ConstantStatus && !statusShown_) {
    statusShown_ = true;
    reportStatus(1);
  }
  softwareFlow(false);
  port_->setDtr(true);
  port_->setRts(true);
  sendCommand("AT+FCLASS=1");
  gotoState(2, false);
}

void TKvReceiveFax::answer() {
  sendCommand("ATA");
  armTimeout(faxtime::kAnswerTicks);
  setProgress(fpAnswering);
  finalFrame_ = false;
  gotoState(10, false);
}

void TKvReceiveFax::training(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  for (int c; (c = port_->getChar()) >= 0;) {
    if (dle_) {
      dle_ = false;
      if (c == t30::ETX) {
        if (trainCheck_.passed()) {
          gotoState(19);
        } else {
          sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
          gotoState(18, false);
        }
        return;
      }
      trainCheck_.add(std::uint8_t(c));
      continue;
    }
    if (c == t30::DLE) {
      dle_ = true;
      continue;
    }
    trainCheck_.add(std::uint8_t(c));
  }
  armTimeout(faxtime::kLineTicks);
}

void TKvReceiveFax::pageStart() {
  ++pages_;
  Result r = ecOK;
  if (pageStatus_ == 3) {
    r = createFile();
    if (r < 0) return fail(r);
    reportLog(lcReceiveStart);
  }
  r = file_.beginPage(fine_, wide_);
  if (r < 0) return fail(r);
  pageNumber_ = pages_;
  bytesDone_ = 0;
  dle_ = false;
  buf_.clear();
  armTimeout(faxtime::kLineTicks);
  setProgress(fpGetPage);
  // The page's first bytes may already be waiting behind the CONNECT line.
  gotoState(26);
}

void TKvReceiveFax::pageData(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  auto store = [&](std::uint8_t b) -> Result {
    buf_.push_back(b);
    ++bytesDone_;
    if (buf_.size() >= kWriteBuffer) return flushBuffer();
    return ecOK;
  };
  for (int n = 0; n < kMaxPerEvent; ++n) {
    int c = port_->getChar();
    if (c < 0) break;
    Result r = ecOK;
    if (dle_) {
      dle_ = false;
      if (c == t30::ETX) {
        r = flushBuffer();
        if (r < 0) return fail(r);
        softwareFlow(false);
        setProgress(fpGetPage);
        armTimeout(faxtime::kResponseTicks);
        return gotoState(27);
      }
      r = store(std::uint8_t(c));  // DLE DLE is one DLE; other pairs keep the second byte
    } else if (c == t30::DLE) {
      dle_ = true;
    } else {
      r = store(std::uint8_t(c));
    }
    if (r < 0) return fail(r);
  }
  armTimeout(faxtime::kLineTicks);
  if (port_->inUsed() > 0) loopNow_ = true;
}

void TKvReceiveFax::endOfCall() {
  switchBaud(initBaud_);
  if (OneFax) {
    state_ = 37;
    reportStatus(2);
    finishSession();
    return;
  }
  if (!ConstantStatus) {
    reportStatus(2);
    statusShown_ = false;
  }
  gotoState(1);
}

void TKvReceiveFax::stateError() {
  if (file_.isOpen()) {
    flushBuffer();
    file_.closePage(PartnerID());
    file_.close();
    reportLog(lcReceiveFail);
  }
  buf_.clear();
  if (port_->alive()) modemHangup();
  // Back to the idle rate, as at the end of a good call.
  switchBaud(initBaud_);
  if ((statusShown_ && !ConstantStatus) || aborted_) {
    reportStatus(2);
    statusShown_ = false;
  }
  // A port whose device has gone can take no further call.
  if (ExitOnError || aborted_ || !port_->alive()) {
    state_ = 37;
    if (statusShown_) reportStatus(2);
    finishSession();
    return;
  }
  gotoState(1);
}

void TKvReceiveFax::classOneLine(FaxEvent ev) {
  const bool timeout = ev == FaxEvent::Timeout;
  if (gotFrame_) {
    Result r = handleFrame(frame_, state_ == 31);
    if (r < 0) fail(r);
    return;
  }
  const std::string &l = line_;
  // +FCERROR while listening for training is a missed carrier, handled by state 15.
  if (!timeout && contains(l, "ERROR") && !(state_ == 15 && contains(l, "+FCERROR")))
    return fail(ecFaxBadModemResult);
  switch (state_) {
    case 2:
      if (timeout) return fail(ecFaxInitError);
      if (contains(l, "OK")) {
        switchBaud(normalBaud_);
        port_->disarmTimeout();
        setProgress(fpWaiting);
        return gotoState(8, false);
      }
      return fail(ecFaxInitError);
    case 8:
      // Waiting for a call has no time limit, but a device that has gone takes no calls.
      if (timeout) return port_->alive() ? void() : fail(ecTimeout);
      if (contains(l, "RING")) {
        if (++rings_ >= AnswerOnRing) {
          pageStatus_ = 3;
          if (!statusShown_) {
            statusShown_ = true;
            reportStatus(1);
          }
          armTimeout(faxtime::kResponseTicks);
          return gotoState(9);
        }
        return;
      }
      if (contains(l, "NO C")) return setProgress(fpNoConnect);
      if (contains(l, "CONNECT")) return fail(ecFaxDataCall);
      if (contains(l, "VOICE")) return fail(ecFaxVoiceCall);
      return;
    case 10:
      if (timeout) {
        if (attempts_ > 0) return gotoState(13);
        return fail(ecTimeout);
      }
      // The caller hung up while we answered: the call is over now, not when the 60 s answer
      // time runs out, during which further calls would go unanswered.
      if (contains(l, "NO CARRIER")) return fail(ecFaxNoCarrier);
      if (contains(l, "CONNECT")) {
        sendFrame(t30::fcf::CSI, false, t30::stationIdInfo(StationID));
        gotoState(11, false);
      }
      return;
    case 11:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) {
        sendFrame(t30::fcf::DIS, true, t30::disInfo(rateIndex_));
        return;
      }
      if (contains(l, "OK")) {
        delayMs(faxtime::kTurnaround);
        delayMs(faxtime::kTurnaround);
        finalFrame_ = false;
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
        armTimeout(faxtime::kPostPageTicks);
        gotoState(12, false);
      }
      return;
    case 12:
      if (timeout) return gotoState(13);
      if (contains(l, "CONNECT")) return;
      if (contains(l, "OK")) {
        if (finalFrame_ && t30::classify(lastFcf_) == t30::Kind::Dcs) {
          finalFrame_ = false;
          listenHighSpeed(false);
          return gotoState(15, false);
        }
        finalFrame_ = false;
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
      }
      return;
    case 15:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) {
        trainCheck_.reset();
        dle_ = false;
        armTimeout(faxtime::kLineTicks);
        gotoState(16);
        return;
      }
      // The training was missed (no carrier, or the caller's frames instead). The caller
      // repeats its DCS and training when no answer comes, so listen for that rather than
      // waiting out the time-out and losing the call.
      if (contains(l, "NO CARRIER") || contains(l, "+FCERROR")) {
        softwareFlow(false);
        finalFrame_ = false;
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
        armTimeout(faxtime::kPostPageTicks);
        gotoState(12, false);
      }
      return;
    case 18:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) {
        sendFrame(t30::fcf::FTT, true);
        if (rateCode_ == "24") return fail(ecFaxTrainError);
        return;
      }
      if (contains(l, "OK")) {
        finalFrame_ = false;
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
        gotoState(12, false);
      }
      return;
    case 19:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "RRIER")) {
        softwareFlow(false);
        delayMs(faxtime::kPostTrainTurn);
        sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
        gotoState(20, false);
      }
      return;
    case 20:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) {
        sendFrame(t30::fcf::CFR, true);
        return;
      }
      if (contains(l, "OK")) {
        listenHighSpeed(true);
        gotoState(21, false);
        auto box = std::make_shared<bool>(false);
        bool accepted = sendToMain([this, box] { *box = FaxAccept(); }) && *box;
        if (!accepted) {
          reportError(ecFileRejected);
          modemHangup();
          reportLog(lcReceiveSkip);
          return gotoState(36);
        }
        Result r = createFile();
        if (r < 0) return fail(r);
        reportLog(lcReceiveStart);
        pageStatus_ = 2;
        pages_ = 0;
      }
      return;
    case 21:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) {
        setProgress(fpSessionParams);
        gotoState(25);
      }
      return;
    case 27:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "RRIER")) {
        finalFrame_ = false;
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
        gotoState(28, false);
      }
      return;
    case 28:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) {
        if (finalFrame_) {
          finalFrame_ = false;
          morePages_ = t30::classify(lastFcf_) == t30::Kind::Mps;
          setProgress(fpGetPageResult);
          return gotoState(29);
        }
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
      }
      return;
    case 30:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) {
        sendFrame(t30::fcf::MCF, true);
        return;
      }
      if (contains(l, "OK")) {
        if (morePages_) {
          // Wait for the page carrier's CONNECT before taking bytes as page data.
          listenHighSpeed(true);
          pageStatus_ = 2;
          return gotoState(21, false);
        }
        delayMs(faxtime::kTurnaround);
        finalFrame_ = false;
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
        file_.close();
        reportLog(lcReceiveOk);  // the component clears FaxFile after its handlers
        setProgress(fpGetHangup);
        gotoState(31, false);
      }
      return;
    case 31:
      if (timeout) return gotoState(35);
      if (contains(l, "OK")) {
        if (finalFrame_) {
          sendCommand("ATH");
          return gotoState(32, false);
        }
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
      }
      return;
    case 32:
      if (timeout || contains(l, "OK")) {
        setProgress(fpGotHangup);
        gotoState(35);
      }
      return;
    default:
      return;
  }
}

void TKvReceiveFax::runState(FaxEvent ev) {
  if (stateReadsLines()) return classOneLine(ev);
  switch (state_) {
    case 1:
      return newCall();
    case 9:
      return answer();
    case 13:
      if (++attempts_ > 3) return fail(ecTimeout);
      delayMs(faxtime::kCommandDelay);
      sendRaw("AT\r");
      return gotoState(14);
    case 14:
      sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
      return gotoState(10, false);
    case 16:
      return training(ev);
    case 25:
      return pageStart();
    case 26:
      return pageData(ev);
    case 29: {
      Result r = file_.closePage(PartnerID());
      if (r < 0) return fail(r);
      sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
      setProgress(fpCheckMorePages);
      return gotoState(30, false);
    }
    case 35:
      return endOfCall();
    case 36:
      return stateError();
    // Class 2 and 2.0 states (set-up, answer result, negotiation and acceptance, page end
    // and post-page message). Sessions of those classes are refused before the first state,
    // so reaching one is a fault of this machine.
    case 3:
    case 4:
    case 5:
    case 7:
    case 22:
    case 23:
    case 24:
    case 33:
    case 34:
      return fail(ecNotSupported);
    default:
      return;
  }
}

}  // namespace kv
