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
  if (page) pageAwaited_ = true;
  sendCommand("AT+FRM=" + (page ? t30::pageCode(c1_.rateCode) : c1_.rateCode),
              -faxtime::kCommandDelay);
}

void TKvReceiveFax::c1Training(FaxEvent ev) {
  // The training stopped short (1.5 s of it, then DLE ETX): by now the caller waits out its T4
  // for our answer and repeats DCS and training, so listen for those.
  if (ev == FaxEvent::Timeout) return c1StopHighSpeed();
  for (int c; (c = port_->getChar()) >= 0;) {
    if (dle_) {
      dle_ = false;
      if (c == t30::ETX) {
        if (trainCheck_.passed()) {
          armTimeout(faxtime::kT4Ticks);
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
  armTimeout(faxtime::kT4Ticks);
}

void TKvReceiveFax::c1MissedFrame() {
  // After the last page the fax is whole: a caller that hangs up without DCN ends the call.
  if (state_ == R::C1WaitDCN) return c1EndAfterFax();
  if (c1_.missedFrames > faxtime::kMaxMissedFrames)
    return fail(contains(line_, "NO CARRIER") ? ecFaxNoCarrier : ecFaxBadModemResult);
  // The caller repeats a command that gets no answer: listen for the repeat.
  sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  armTimeout(c1CommandTicks());
}

std::int32_t TKvReceiveFax::c1CommandTicks() const {
  // Before the fax, the caller's DCS answers our DIS: T4. Once pages come, what follows our
  // CFR or MCF is the caller's next command: T2.
  return file_.isOpen() ? faxtime::kT2Ticks : faxtime::kT4Ticks;
}

void TKvReceiveFax::c1ListenForCommand() {
  c1_.finalFrame = false;
  c1_.stopping = false;
  sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  armTimeout(c1CommandTicks());
  gotoState(R::C1WaitDCS, false);
}

void TKvReceiveFax::c1StopHighSpeed() {
  // Training or page data that does not come (or stops): stop the reception and hear the
  // caller's repeated command instead.
  softwareFlow(false);
  stopReception(c1_);
  gotoState(R::C1StopListening, false);
}

void TKvReceiveFax::c1EndAfterFax() {
  // The fax is stored and logged; only the caller's DCN is missing. Hang up rather than leave
  // the line held until the next call.
  modemHangup();
  gotoState(R::EndOfCall);
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
  if (ev == FaxEvent::Timeout) {
    // Mid-fax the caller has stopped repeating its command: it is gone.
    if (file_.isOpen()) return fail(ecTimeout);
    return gotoState(R::C1Retry);
  }
  // T4 bounds the wait for the caller's frames to start; a frame that has started (the modem
  // says CONNECT) is read to its end.
  if (contains(l, "CONNECT")) return armTimeout(faxtime::kFrameTicks);
  if (!contains(l, "OK")) return;
  const bool final = c1_.finalFrame;
  c1_.finalFrame = false;
  const t30::Kind k = t30::classify(c1_.lastFcf);
  if (final && k == t30::Kind::Dcs) {
    c1ListenHighSpeed(false);
    // The training follows DCS at once; T2 bounds the wait for its carrier.
    armTimeout(faxtime::kT2Ticks);
    return gotoState(R::C1TrainConnect, false);
  }
  const bool postPage = k == t30::Kind::Mps || k == t30::Kind::Eop;
  if (final && postPage && pageAwaited_) {
    // The page this message ends never came: its carrier was missed. MCF would report a page
    // as received that is not in the file; RTN has the caller train again and resend it.
    // (A caller that missed our MCF and repeats its message gets the page twice: nothing is
    // lost that way.) The message heard again gets RTN again.
    sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
    return gotoState(R::C1SendRTN, false);
  }
  if (final && pages_ > 0 && postPage) {
    // A post-page message heard here was sent again: our MCF was lost (or the message was
    // missed after the page). Close the page if still open and answer it.
    morePages_ = k == t30::Kind::Mps;
    setProgress(fpGetPageResult);
    return gotoState(R::C1ClosePage);
  }
  sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  armTimeout(c1CommandTicks());
}

void TKvReceiveFax::c1TrainConnect(FaxEvent ev) {
  if (!takeLine(ev, true)) return;
  const std::string &l = line_;
  // The modem heard no carrier and said nothing: stop the reception and listen for the
  // caller's repeated DCS, as after NO CARRIER.
  if (ev == FaxEvent::Timeout) return c1StopHighSpeed();
  if (contains(l, "CONNECT")) {
    trainCheck_.reset();
    dle_ = false;
    armTimeout(faxtime::kT4Ticks);
    gotoState(R::C1Training);
    return;
  }
  // The training was missed (no carrier, or the caller's frames instead). The caller
  // repeats its DCS and training when no answer comes, so listen for that rather than
  // waiting out the time-out and losing the call. OK without CONNECT is the same: the modem
  // took our command as the end of a reception it still held, and is listening no more.
  if (contains(l, "NO CARRIER") || contains(l, "+FCERROR") || contains(l, "OK")) {
    softwareFlow(false);
    c1ListenForCommand();
  }
}

void TKvReceiveFax::c1StopListening(FaxEvent ev) {
  if (!takeLine(ev, true)) return;
  // The modem's answer to the abort (OK, or NO CARRIER from the stopped reception), or none
  // from a modem that had already given up the reception: listen for the caller's command.
  if (ev != FaxEvent::Timeout && line_.empty()) return;
  c1ListenForCommand();
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
  if (contains(l, "OK")) c1ListenForCommand();
}

void TKvReceiveFax::c1SendRTN(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) return c1SendFrame(t30::fcf::RTN, true);
  if (contains(l, "OK")) c1ListenForCommand();
}

void TKvReceiveFax::c1TrainEnd(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  // The training passed. The modem reports the carrier's end (NO CARRIER; some say OK); a
  // report that does not come within T4 is not waited for longer, since the caller's own T4
  // for our answer runs meanwhile.
  if (ev == FaxEvent::Timeout || contains(l, "RRIER") || contains(l, "OK")) {
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
    // The page follows CFR at once; T2 bounds the wait for its carrier.
    armTimeout(faxtime::kT2Ticks);
    gotoState(R::C1PageConnect, false);
    // CFR sent again, to a caller that missed the first: the fax is already accepted.
    if (file_.isOpen()) return;
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
  if (!takeLine(ev, true)) return;
  const std::string &l = line_;
  // No page within T2: the caller is repeating a command whose answer it missed, or gone.
  if (ev == FaxEvent::Timeout) return c1StopHighSpeed();
  if (contains(l, "CONNECT")) {
    setProgress(fpSessionParams);
    return gotoState(R::PageStart);
  }
  // Frames instead of the page (+FCERROR), or a carrier that came and went: the caller
  // missed our CFR or MCF and sends its DCS or post-page message again. Hear it and answer.
  if (contains(l, "NO CARRIER") || contains(l, "+FCERROR")) {
    softwareFlow(false);
    c1ListenForCommand();
  }
}

void TKvReceiveFax::c1PageEnd(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  // As after the training: the carrier's end report (NO CARRIER, or OK), or T4 without it.
  if (ev == FaxEvent::Timeout || contains(l, "RRIER") || contains(l, "OK")) {
    c1_.finalFrame = false;
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    armTimeout(faxtime::kT2Ticks);
    gotoState(R::C1WaitPPM, false);
  }
}

void TKvReceiveFax::c1WaitPPM(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  // T2 without the post-page message: stop listening and hear it when the caller repeats it.
  if (ev == FaxEvent::Timeout) return c1StopHighSpeed();
  if (contains(l, "CONNECT")) return armTimeout(faxtime::kFrameTicks);
  if (contains(l, "OK")) {
    if (c1_.finalFrame) {
      c1_.finalFrame = false;
      morePages_ = t30::classify(c1_.lastFcf) == t30::Kind::Mps;
      setProgress(fpGetPageResult);
      return gotoState(R::C1ClosePage);
    }
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    armTimeout(faxtime::kT2Ticks);
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
      armTimeout(faxtime::kT2Ticks);
      pageStatus_ = 2;
      return gotoState(R::C1PageConnect, false);
    }
    delayMs(faxtime::kTurnaround);
    c1_.finalFrame = false;
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    armTimeout(faxtime::kT2Ticks);
    // MCF sent again to a repeated EOP: the fax is closed and logged already.
    if (file_.isOpen()) finishFile();  // the component clears FaxFile after its handlers
    setProgress(fpGetHangup);
    gotoState(R::C1WaitDCN, false);
  }
}

void TKvReceiveFax::c1WaitDCN(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return c1EndAfterFax();
  if (!contains(l, "OK")) return;
  if (!c1_.finalFrame) {
    sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    return armTimeout(faxtime::kT2Ticks);
  }
  c1_.finalFrame = false;
  // EOP again: the caller missed our MCF. Answer it once more.
  if (t30::classify(c1_.lastFcf) == t30::Kind::Eop) {
    morePages_ = false;
    return gotoState(R::C1ClosePage);
  }
  sendCommand("ATH");
  gotoState(R::C1Hangup, false);
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
