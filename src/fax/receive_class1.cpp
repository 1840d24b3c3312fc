// The Class 1 states of the receive machine: the host runs T.30 itself, with the modem
// switching between HDLC frames (+FTH/+FRH) and training or page data (+FRM).
#include <memory>

#include "fax/receive_fax.h"

namespace kv {

namespace {
bool contains(const std::string &s, const char *what) {
  return s.find(what) != std::string::npos;
}
}  // namespace

using R = ReceiveState;

void TKvReceiveFax::c1SendFrame(std::uint8_t fcf, bool final,
                                const std::vector<std::uint8_t> &info) {
  delayMs(faxtime::kFrameLead);
  auto f = t30::frameBytes(fcf, final, info);
  putBytes(f.data(), f.size());
}

void TKvReceiveFax::c1ListenHighSpeed(bool page) {
  // The caller starts its training or page 75 ms after our OK (T.30 5.3.2.2); a modem told
  // to listen later misses the training sequence at the carrier's start. So no delay here.
  // Training and every page (not only the first) are data we pace with XOFF.
  softwareFlow(true);
  sendCommand("AT+FRM=" + (page ? t30::pageCode(c1_.rateCode) : c1_.rateCode),
              -faxtime::kCommandDelay);
}

void TKvReceiveFax::c1Training(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  for (int c; (c = port_->getChar()) >= 0;) {
    if (dle_) {
      dle_ = false;
      if (c == t30::ETX) {
        if (trainCheck_.passed()) {
          gotoState(R::C1TrainEnd);
        } else {
          sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
          gotoState(R::C1SendFTT, false);
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

void TKvReceiveFax::c1DamagedFrame() {
  if (c1_.damagedFrames > faxtime::kMaxDamagedFrames) return fail(ecFaxBadModemResult);
  // The caller repeats a command that gets no answer: listen for the repeat.
  sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  if (state_ == R::C1WaitDCS) armTimeout(faxtime::kT4Ticks);
}

void TKvReceiveFax::c1Retry(FaxEvent) {
  // DIS goes out again until the caller answers, for T1 at least after the line connected,
  // and at least three more times.
  if (++attempts_ > 3 && clock_.now() >= t1End_) return fail(ecTimeout);
  delayMs(faxtime::kCommandDelay);
  sendRaw("AT\r");
  gotoState(R::C1RetryFTH);
}

void TKvReceiveFax::c1RetryFTH(FaxEvent) {
  sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
  gotoState(R::C1SendCSI, false);
}

void TKvReceiveFax::c1ClosePage(FaxEvent) {
  Result r = file_.closePage(storedId());
  if (r < 0) return fail(r);
  sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
  setProgress(fpCheckMorePages);
  gotoState(R::C1SendMCF, false);
}

void TKvReceiveFax::c1SelectClass(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecFaxInitError);
  if (contains(l, "OK")) {
    switchBaud(normalBaud_);
    port_->disarmTimeout();
    setProgress(fpWaiting);
    return gotoState(R::WaitRing, false);
  }
  return fail(ecFaxInitError);
}

void TKvReceiveFax::c1SendCSI(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) {
    if (attempts_ > 0) return gotoState(R::C1Retry);
    return fail(ecTimeout);
  }
  // The caller hung up while we answered: the call is over now, not when the 60 s answer
  // time runs out, during which further calls would go unanswered.
  if (contains(l, "NO CARRIER")) return fail(ecFaxNoCarrier);
  if (contains(l, "CONNECT")) {
    if (attempts_ == 0) t1End_ = clock_.now() + clock_.timeoutDuration(faxtime::kT1AnswerTicks);
    c1SendFrame(t30::fcf::CSI, false, t30::stationIdInfo(StationID));
    gotoState(R::C1SendDIS, false);
  }
}

void TKvReceiveFax::c1SendDIS(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) {
    c1SendFrame(t30::fcf::DIS, true, t30::disInfo(c1_.rateIndex, Allow2D));
    return;
  }
  if (contains(l, "OK")) {
    delayMs(faxtime::kTurnaround);
    delayMs(faxtime::kTurnaround);
    c1_.finalFrame = false;
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    armTimeout(faxtime::kT4Ticks);
    gotoState(R::C1WaitDCS, false);
  }
}

void TKvReceiveFax::c1WaitDCS(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return gotoState(R::C1Retry);
  // T4 bounds the wait for the caller's frames to start; a frame that has started (the modem
  // says CONNECT) is read to its end.
  if (contains(l, "CONNECT")) return armTimeout(faxtime::kFrameTicks);
  if (contains(l, "OK")) {
    if (c1_.finalFrame && t30::classify(c1_.lastFcf) == t30::Kind::Dcs) {
      c1_.finalFrame = false;
      c1ListenHighSpeed(false);
      // The training follows DCS at once; T2 bounds the wait for its carrier.
      armTimeout(faxtime::kT2Ticks);
      return gotoState(R::C1TrainConnect, false);
    }
    c1_.finalFrame = false;
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  }
}

void TKvReceiveFax::c1TrainConnect(FaxEvent ev) {
  if (!takeLine(ev, true)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) {
    // The modem heard no carrier and said nothing: stop the reception and listen for the
    // caller's repeated DCS, as after NO CARRIER.
    softwareFlow(false);
    const std::uint8_t stop = ' ';
    putBytes(&stop, 1);
    armTimeout(faxtime::kResponseTicks);
    return gotoState(R::C1StopListening, false);
  }
  if (contains(l, "CONNECT")) {
    trainCheck_.reset();
    dle_ = false;
    armTimeout(faxtime::kLineTicks);
    gotoState(R::C1Training);
    return;
  }
  // The training was missed (no carrier, or the caller's frames instead). The caller
  // repeats its DCS and training when no answer comes, so listen for that rather than
  // waiting out the time-out and losing the call.
  if (contains(l, "NO CARRIER") || contains(l, "+FCERROR")) {
    softwareFlow(false);
    c1_.finalFrame = false;
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    armTimeout(faxtime::kT4Ticks);
    gotoState(R::C1WaitDCS, false);
  }
}

void TKvReceiveFax::c1StopListening(FaxEvent ev) {
  if (!takeLine(ev, true)) return;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  // The modem's answer to the abort (OK, or NO CARRIER from the stopped reception).
  if (line_.empty()) return;
  c1_.finalFrame = false;
  sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  armTimeout(faxtime::kT4Ticks);
  gotoState(R::C1WaitDCS, false);
}

void TKvReceiveFax::c1SendFTT(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) {
    c1SendFrame(t30::fcf::FTT, true);
    if (c1_.rateCode == "24") return fail(ecFaxTrainError);
    return;
  }
  if (contains(l, "OK")) {
    c1_.finalFrame = false;
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    gotoState(R::C1WaitDCS, false);
  }
}

void TKvReceiveFax::c1TrainEnd(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "RRIER")) {
    softwareFlow(false);
    delayMs(faxtime::kPostTrainTurn);
    sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
    gotoState(R::C1SendCFR, false);
  }
}

void TKvReceiveFax::c1SendCFR(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) {
    c1SendFrame(t30::fcf::CFR, true);
    return;
  }
  if (contains(l, "OK")) {
    c1ListenHighSpeed(true);
    gotoState(R::C1PageConnect, false);
    auto box = std::make_shared<bool>(false);
    bool accepted = sendToMain([this, box] { *box = FaxAccept(); }) && *box;
    if (!accepted) {
      reportError(ecFileRejected);
      modemHangup();
      reportLog(lcReceiveSkip);
      return gotoState(R::Error);
    }
    Result r = createFile();
    if (r < 0) return fail(r);
    reportLog(lcReceiveStart);
    pageStatus_ = 2;
    pages_ = 0;
  }
}

void TKvReceiveFax::c1PageConnect(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) {
    setProgress(fpSessionParams);
    gotoState(R::PageStart);
  }
}

void TKvReceiveFax::c1PageEnd(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "RRIER")) {
    c1_.finalFrame = false;
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    gotoState(R::C1WaitPPM, false);
  }
}

void TKvReceiveFax::c1WaitPPM(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "OK")) {
    if (c1_.finalFrame) {
      c1_.finalFrame = false;
      morePages_ = t30::classify(c1_.lastFcf) == t30::Kind::Mps;
      setProgress(fpGetPageResult);
      return gotoState(R::C1ClosePage);
    }
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  }
}

void TKvReceiveFax::c1SendMCF(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) {
    c1SendFrame(t30::fcf::MCF, true);
    return;
  }
  if (contains(l, "OK")) {
    if (morePages_) {
      // Wait for the page carrier's CONNECT before taking bytes as page data.
      c1ListenHighSpeed(true);
      pageStatus_ = 2;
      return gotoState(R::C1PageConnect, false);
    }
    delayMs(faxtime::kTurnaround);
    c1_.finalFrame = false;
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    file_.close();
    reportLog(lcReceiveOk);  // the component clears FaxFile after its handlers
    setProgress(fpGetHangup);
    gotoState(R::C1WaitDCN, false);
  }
}

void TKvReceiveFax::c1WaitDCN(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return gotoState(R::EndOfCall);
  if (contains(l, "OK")) {
    if (c1_.finalFrame) {
      sendCommand("ATH");
      return gotoState(R::C1Hangup, false);
    }
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  }
}

void TKvReceiveFax::c1Hangup(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  // (A Class 1 modem sends no hang-up report: the progress stays at the hang-up wait.)
  if (ev == FaxEvent::Timeout || contains(l, "OK")) {
    gotoState(R::EndOfCall);
  }
}

}  // namespace kv
