// The Class 1 states of the send machine: the host runs T.30 itself, with the modem
// switching between HDLC frames (+FTH/+FRH) and page data (+FTM).
#include <algorithm>

#include "fax/send_fax.h"

namespace kv {

namespace {
bool contains(const std::string &s, const char *what) {
  return s.find(what) != std::string::npos;
}
}  // namespace

using S = SendState;

void TKvSendFax::c1Retrain() {
  c1_.retrainRequested = false;
  int idx = t30::stepDown(c1_.ownRates, c1_.remoteRates, c1_.rateIndex);
  if (idx == 0) {
    fail(ecFaxTrainError);
    return;
  }
  c1_.rateIndex = idx;
  c1_.rateCode = t30::modulationCode(idx);
  lineRate_ = t30::modulationBps(idx);
  c1_.minBytes = t30::minBytesPerLine(c1_.scanCode, fine_, lineRate_);
  c1_.minBits = t30::minBitsPerLine(c1_.scanCode, fine_, lineRate_);
  c1SendDcsAgain();
}

void TKvSendFax::c1MissedFrame() {
  if (c1_.missedFrames > faxtime::kMaxMissedFrames)
    return fail(contains(line_, "NO CARRIER") ? ecFaxNoCarrier : ecFaxBadModemResult);
  // The answer to our DCS and training was lost: send them again, as after no answer.
  if (state_ == S::C1WaitCFR) return c1SendDcsAgain();
  // The far end repeats its frames (DIS) until we answer: listen again.
  sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
}

void TKvSendFax::c1SendDcsAgain() {
  c1_.finalFrame = false;
  c1_.stopping = false;
  delayMs(faxtime::kTurnaround);
  sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
  gotoState(S::C1SendDCS, false);
}

void TKvSendFax::c1EndAfterLastPage() {
  // Every page has been confirmed, so the fax is delivered: a modem that does not get the DCN
  // out only costs the far end its wait for it. Hang up and count the fax as sent.
  modemHangup();
  gotoState(S::FaxDone);
}

bool TKvSendFax::c1FrameMayGo(FaxEvent ev) {
  if (!takeLine(ev)) return false;
  if (ev == FaxEvent::Timeout) {
    fail(ecTimeout);
    return false;
  }
  if (contains(line_, "OK")) {
    c1RepeatTransmitCommand();
    return false;
  }
  return contains(line_, "CONNECT");
}

void TKvSendFax::c1PutFrame(std::uint8_t fcf, bool final, const std::vector<std::uint8_t> &info,
                            SendState next) {
  delayMs(faxtime::kFrameLead);
  auto f = t30::frameBytes(fcf, final, info);
  putBytes(f.data(), f.size());
  gotoState(next, false);
}

bool TKvSendFax::c1ModemDone(FaxEvent ev) {
  if (!takeLine(ev)) return false;
  if (ev == FaxEvent::Timeout) {
    fail(ecTimeout);
    return false;
  }
  return contains(line_, "OK");
}

void TKvSendFax::c1ListenForAnswer(SendState next) {
  delayMs(faxtime::kTurnaround);
  c1_.finalFrame = false;
  sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  // T4 bounds the wait for the far end's answer to start.
  armTimeout(faxtime::kT4Ticks);
  gotoState(next, false);
}

void TKvSendFax::c1ListenAgain() {
  // More frames of the answer follow at once, or the far end repeats it.
  sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
  armTimeout(faxtime::kT4Ticks);
}

void TKvSendFax::c1RepeatTransmitCommand() {
  // A modem still receiving takes the first byte of a command as the end of that reception
  // and answers OK; the rest of the command is lost. Say it again, a few times at most.
  if (++repeats_ > 3) return fail(ecFaxBadModemResult);
  sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
}

void TKvSendFax::c1PostPage(FaxEvent) {
  if (++attempts_ >= 4) return fail(ecTimeout);
  delayMs(faxtime::kPostPageFth);
  sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
  gotoState(S::C1SendPPM, false);
}

void TKvSendFax::c1SelectClass(FaxEvent ev) {
  // A caller ringing in is noted for the dial; the modem's answer follows.
  if (!gotFrame_ && t30::isRingReport(line_)) return;
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "OK")) return gotoState(S::Dial);
  return fail(ecFaxInitError);
}

void TKvSendFax::c1DialResult(FaxEvent ev) {
  if (!gotFrame_ && t30::isRingReport(line_)) return;
  if (incomingCallAtDial() && dialFailed(ev)) return incomingCallHandling(ev);
  if (awaitRingAfterRefusedDial(
          ev, contains(line_, "NO CARRIER") ? ecFaxNoCarrier : ecFaxBadModemResult))
    return;
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) {
    dialConnected_ = true;
    return;
  }
  if (contains(l, "OK")) {
    if (c1_.finalFrame) {
      c1_.finalFrame = false;
      delayMs(faxtime::kTurnaround);
      sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
      gotoState(S::C1SendTSI, false);
    } else {
      sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
    }
    return;
  }
  if (contains(l, "BUSY") || contains(l, "ANSWER")) {
    // "NO ANSWER" means nobody picked up, not a busy line.
    if (contains(l, "NO ANSWER")) return fail(ecFaxNoCarrier);
    return busyHandling();
  }
  if (contains(l, "VOICE")) return fail(ecFaxVoiceCall);
  if (contains(l, "NO DIAL")) return fail(ecFaxNoDialTone);
  if (contains(l, "RRIER")) return fail(ecFaxNoCarrier);
}

void TKvSendFax::c1SendTSI(FaxEvent ev) {
  if (c1FrameMayGo(ev))
    c1PutFrame(t30::fcf::TSI, false, t30::stationIdInfo(StationID), S::C1SendDCS);
}

void TKvSendFax::c1SendDCS(FaxEvent ev) {
  if (!c1FrameMayGo(ev)) return;
  t30::Params p;
  p.rateIndex = c1_.rateIndex;
  p.fine = fine_;
  p.wide = wide_;
  p.scanCode = c1_.scanCode;
  p.twoD = useMr();
  c1PutFrame(t30::fcf::DCS, true, t30::dcsInfo(p), S::C1DcsSent);
}

void TKvSendFax::c1DcsSent(FaxEvent ev) {
  if (!c1ModemDone(ev)) return;
  sendCommand("AT+FTM=" + c1_.rateCode, faxtime::kClass1CmdDelay);
  gotoState(S::C1SendTCF, false);
}

void TKvSendFax::c1SendTCF(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) {
    softwareFlow(true);
    std::size_t n = std::min<std::size_t>(std::size_t(lineRate_ / 100) * 18, 8192);
    std::vector<std::uint8_t> tcf(n, 0);
    tcf.push_back(t30::DLE);
    tcf.push_back(t30::ETX);
    putBytes(tcf.data(), tcf.size());
    armTimeout(faxtime::kResponseTicks);
    gotoState(S::C1TcfSent, false);
  }
}

void TKvSendFax::c1TcfSent(FaxEvent ev) {
  if (!c1ModemDone(ev)) return;
  softwareFlow(false);
  c1_.cfrReceived = false;
  c1ListenForAnswer(S::C1WaitCFR);
}

void TKvSendFax::c1WaitCFR(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (c1_.stopping) {
    // The modem's answer to the stopped reception, or none (a modem already back in command
    // mode has nothing to stop): DCS and training go out again.
    if (ev != FaxEvent::Timeout && l.empty()) return;
    return c1SendDcsAgain();
  }
  if (ev == FaxEvent::Timeout) {
    // No answer to DCS and training within T4: T.30 has the sender repeat them, as when the
    // answer came damaged. Stop listening first.
    if (++c1_.unanswered > faxtime::kMaxUnanswered) return fail(ecTimeout);
    return stopReception(c1_);
  }
  // T4 bounds the wait for the answer to start; an answer that has started is read to its end.
  if (contains(l, "CONNECT")) return armTimeout(faxtime::kFrameTicks);
  if (contains(l, "OK")) {
    if (!c1_.finalFrame) return c1ListenAgain();
    c1_.finalFrame = false;
    if (c1_.cfrReceived) {
      c1_.unanswered = 0;
      delayMs(faxtime::kTurnaround);
      sendCommand("AT+FTM=" + t30::pageCode(c1_.rateCode), faxtime::kClass1CmdDelay);
      gotoState(S::C1PageConnect, false);
    } else if (c1_.retrainRequested) {
      c1Retrain();
    } else {
      c1SendDcsAgain();
    }
  }
}

void TKvSendFax::c1PageConnect(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (contains(l, "CONNECT")) {
    modemText_.clear();
    port_->armTimeout(clock_.lineTicks(faxtime::kFirstByteTicks));
    // Look at once: a modem's XON often comes in the same read as its CONNECT.
    gotoState(S::WaitXon);
  }
}

void TKvSendFax::c1PageSent(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  // The line dropped while the page went out.
  if (contains(l, "NO CARRIER")) return fail(ecFaxNoCarrier);
  if (contains(l, "OK")) {
    attempts_ = 0;
    setProgress(fpSendEop);
    gotoState(S::C1PostPage);
  }
}

void TKvSendFax::c1SendPPM(FaxEvent ev) {
  if (c1FrameMayGo(ev))
    c1PutFrame(morePages() ? t30::fcf::MPS : t30::fcf::EOP, true, {}, S::C1PpmSent);
}

void TKvSendFax::c1PpmSent(FaxEvent ev) {
  if (c1ModemDone(ev)) c1ListenForAnswer(S::C1WaitPPR);
}

void TKvSendFax::c1WaitPPR(FaxEvent ev) {
  if (!takeLine(ev, false)) return;
  const std::string &l = line_;
  if (c1_.stopping) {
    // The modem's answer to the stopped reception, or none: the message goes out again. That
    // answer must not be left to be read as the reply to the next AT+FTH=3.
    if (ev != FaxEvent::Timeout && l.empty()) return;
    c1_.stopping = false;
    return gotoState(S::C1PostPage);
  }
  if (ev == FaxEvent::Timeout) {
    // No answer to the post-page message within T4: stop listening, then send it again.
    return stopReception(c1_);
  }
  // T4 bounds the wait for the reply to start; a reply that has started is read to its end.
  if (contains(l, "CONNECT")) return armTimeout(faxtime::kFrameTicks);
  // A reply damaged (ERROR), cut off (NO CARRIER) or drowned by another carrier (+FCERROR):
  // T.30 has the command repeated, and the far end answers it again.
  if (contains(l, "ERROR") || contains(l, "NO CARRIER")) return gotoState(S::C1PostPage);
  if (!contains(l, "OK")) return;
  if (!c1_.finalFrame) return c1ListenAgain();
  c1_.finalFrame = false;
  t30::Kind k = t30::classify(c1_.lastFcf);
  // The far end got the post-page message damaged and asks for it again.
  if (k == t30::Kind::Crp) return gotoState(S::C1PostPage);
  if (k == t30::Kind::Mcf || k == t30::Kind::Rtp) {
    setProgress(fpPageOk);
    if (morePages()) {
      Result r = nextPage();
      if (r < 0) return fail(r);
      if (k == t30::Kind::Mcf) {
        sendCommand("AT+FTM=" + t30::pageCode(c1_.rateCode), faxtime::kClass1CmdDelay);
        return gotoState(S::C1PageConnect, false);
      }
      sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
      return gotoState(S::C1SendDCS, false);
    }
    sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
    return gotoState(S::C1SendDCN, false);
  }
  if (k == t30::Kind::Rtn || c1_.retrainRequested) {
    // The page was not good enough: train again lower and send it again, in MH when it went
    // in MR: a peer that offers MR and decodes it badly is not asked to again in this fax.
    setProgress(fpPageError);
    if (pageMr_) mrRefused_ = true;
    bytesSent_ = 0;
    if (sendingCover_ && !coverIsApf_) pages_.rewindCover();
    return c1Retrain();
  }
  c1ListenAgain();
}

void TKvSendFax::c1SendDCN(FaxEvent ev) {
  if (!takeLine(ev, false)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return c1EndAfterLastPage();
  if (contains(l, "ERROR")) return retryRefusedTransmit(c1_) ? void() : c1EndAfterLastPage();
  if (contains(l, "OK")) return repeats_ >= 3 ? c1EndAfterLastPage() : c1RepeatTransmitCommand();
  if (contains(l, "CONNECT")) c1PutFrame(t30::fcf::DCN, true, {}, S::C1DcnSent);
}

void TKvSendFax::c1DcnSent(FaxEvent ev) {
  if (!takeLine(ev, false)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) return c1EndAfterLastPage();
  if (contains(l, "OK")) {
    sendCommand("ATH");
    armTimeout(faxtime::kHangupTicks);
    gotoState(S::C1Hangup, false);
  }
}

void TKvSendFax::c1Hangup(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  if (ev == FaxEvent::Timeout) {
    modemHangup();
    return gotoState(S::FaxDone);
  }
  if (contains(l, "OK")) gotoState(S::FaxDone);
}

}  // namespace kv
