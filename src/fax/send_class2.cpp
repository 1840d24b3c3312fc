// The Class 2 and Class 2.0 states of the send machine: the modem runs T.30 itself; we set it
// up with AT+F commands, read its +F reports, hand it each page and say what follows it.
#include <cctype>

#include "fax/class2_reports.h"
#include "fax/send_fax.h"

namespace kv {

using S = SendState;
using class2::Report;

namespace {
// Time for the modem to negotiate and train after AT+FDT: 30 s.
constexpr std::int32_t kFdtTicks = 546;
}  // namespace

void TKvSendFax::c2Begin() {
  c2_ = &class2::commandTable(FaxClass);
  c2Retries_ = 0;
  c2Mr_ = false;
  sendCommand(c2_->selectClass);
  gotoState(S::C2SelectClass, false);
}

bool TKvSendFax::c2Take(FaxEvent ev, Report &r, bool errorIsMine) {
  if (ev == FaxEvent::Timeout) {
    fail(ecTimeout);
    return false;
  }
  if (gotFrame_) return false;
  if (c2Echo()) return false;  // Class 2 modems send no frames; bytes that looked like one
  r = class2::classify(line_);
  if (r == Report::Hangup) {
    // The call is over where we did not expect it; keep why.
    c2StoreHangup();
    fail(ecFaxBadModemResult);
    return false;
  }
  if (r == Report::Error && !errorIsMine) {
    fail(ecFaxBadModemResult);
    return false;
  }
  return true;
}

// A modem left with echo on repeats our command before it answers.
bool TKvSendFax::c2Echo() const {
  return line_.size() >= 2 && std::toupper(static_cast<unsigned char>(line_[0])) == 'A' &&
         std::toupper(static_cast<unsigned char>(line_[1])) == 'T';
}

void TKvSendFax::c2StoreHangup() {
  hangupResult_ = class2::hangupCode(line_, c2_ && c2_->v20);
}

void TKvSendFax::c2ApplyParams(const class2::SessionParams &p) {
  lineRate_ = p.lineRate;
  fine_ = p.fine;
  wide_ = p.wide;
  c1_.minBytes = class2::minBytesPerLine(p);
  c1_.minBits = class2::minBitsPerLine(p);
}

// A set-up command answered: the next one, or -8073. A modem that offered Class 2.0 in the
// class query but refuses to select it is tried in Class 2 when it offered that too.
bool TKvSendFax::c2SetupAnswered(FaxEvent ev) {
  // A caller ringing in is noted for the dial; the modem's answer follows.
  if (ev != FaxEvent::Timeout && !gotFrame_ && t30::isRingReport(line_)) return false;
  Report r{};
  if (!c2Take(ev, r, true)) return false;
  if (r == Report::Ok) return true;
  // Information lines some modems send before the OK.
  if (r == Report::Other || (r >= Report::FaxConnect && r != Report::Hangup)) return false;
  if (state_ == S::C2SelectClass && c2_->v20 && classQueried_ && (lastClasses_ & kClass2Bit)) {
    FaxClass = fcClass2;
    c2Begin();
    return false;
  }
  fail(ecFaxInitError);
  return false;
}

void TKvSendFax::c2SelectClass(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  sendCommand(class2::stationIdCommand(*c2_, StationID));
  gotoState(c2_->v20 ? S::C20FlowControl : S::C2Capabilities, false);
}

void TKvSendFax::c20FlowControl(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  sendCommand("AT+FLO=2");
  gotoState(S::C20Reporting, false);
}

void TKvSendFax::c20Reporting(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  sendCommand("AT+FNR=1,1,1,0");
  gotoState(S::C2Capabilities, false);
}

void TKvSendFax::c2Capabilities(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  sendCommand(class2::sendCapabilities(*c2_, curRes_ == '1', DesiredBPS, pageWide_, DesiredECM,
                                       Allow2D && !mrRefused_));
  gotoState(S::C2CapsSet, false);
}

void TKvSendFax::c2CapsSet(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  gotoState(S::Dial);
}

void TKvSendFax::c2DialResult(FaxEvent ev) {
  if (ev != FaxEvent::Timeout && !gotFrame_ && t30::isRingReport(line_)) return;
  if (incomingCallAtDial() && dialFailed(ev)) return incomingCallHandling(ev);
  if (awaitRingAfterRefusedDial(
          ev, class2::classify(line_) == Report::NoCarrier ? ecFaxNoCarrier : ecFaxBadModemResult))
    return;
  Report r{};
  if (!c2Take(ev, r)) return;
  switch (r) {
    case Report::FaxConnect:
      armTimeout(faxtime::kResponseTicks);
      return gotoState(S::C2Negotiate, false);
    case Report::Busy:
      return busyHandling();
    case Report::Answer:
      // "NO ANSWER": nobody picked up, which is not a busy line.
      return fail(ecFaxNoCarrier);
    case Report::Voice:
      return fail(ecFaxVoiceCall);
    case Report::NoDialTone:
      return fail(ecFaxNoDialTone);
    case Report::NoCarrier:
      // The call has failed; waiting out the dial time would not change that.
      return fail(ecFaxNoCarrier);
    default:
      return;
  }
}

void TKvSendFax::c2Negotiate(FaxEvent ev) {
  Report r{};
  if (!c2Take(ev, r)) return;
  switch (r) {
    case Report::RemoteCaps: {
      auto p = class2::parseParams(line_);
      c2ApplyParams(p);
      if ((pageWide_ && !p.wide) || (curRes_ == '1' && !p.fine)) return fail(ecFaxBadMachine);
      return setProgress(fpSessionParams);
    }
    case Report::Csi:
      setPartnerId(class2::stationId(line_));
      return setProgress(fpGotRemoteId);
    case Report::Session: {
      auto p = class2::parseParams(line_);
      c2ApplyParams(p);
      c2Mr_ = p.twoD;
      return setProgress(fpSessionParams);
    }
    case Report::Ok:
      sendCommand("AT+FDT");
      armTimeout(kFdtTicks);
      return;
    case Report::Connect:
      if (c2_->v20) return gotoState(S::PageReady);
      // Class 2 modems say XON when the data may come; a second is long enough to wait.
      armTimeout(faxtime::kFirstByteTicks);
      return gotoState(S::WaitXon, false);
    case Report::NoCarrier:
      return fail(ecFaxSessionError);
    default:
      return;
  }
}

// The class's end of a page, after the last page byte: Class 2.0 says in the stream whether
// more pages follow.
std::array<std::uint8_t, 2> TKvSendFax::pageEndBytes() const {
  if (FaxClass == fcClass2_0) return {t30::DLE, std::uint8_t(morePages() ? ',' : '.')};
  return {t30::DLE, t30::ETX};
}

void TKvSendFax::c2PageSent(FaxEvent) {
  reader_.clear();
  // The modem answers once the page is on the line; the driver and modem may still hold a
  // good part of it.
  armTimeout(faxtime::kPageDataTicks + pageLineTicksLeft());
  setProgress(fpSendEop);
  c2HangupSeen_ = false;
  c2Rejected_ = false;
  gotoState(c2_->v20 ? S::C20PageStatus : S::C2PageEnd, false);
}

void TKvSendFax::c2PageEnd(FaxEvent ev) {
  Report r{};
  if (!c2Take(ev, r)) return;
  if (r == Report::Ok) {
    sendCommand(morePages() ? "AT+FET=0" : "AT+FET=2");
    armTimeout(faxtime::kPageDataTicks);
    return gotoState(S::C2PageStatus, false);
  }
  // Reports some modems repeat here mean nothing yet; anything else is a broken page end.
  if (r == Report::Session || r == Report::Csi || r == Report::Other) return;
  fail(ecFaxSessionError);
}

bool TKvSendFax::c2PageStatusLine(Report r) {
  if (r == Report::Hangup) {
    c2StoreHangup();
    c2HangupSeen_ = true;
    return true;
  }
  if (r != Report::PageStatus) return false;
  int d = class2::firstDigit(line_);
  if (d == 1 || d == 3) {
    setProgress(fpPageOk);
  } else if (d == 2) {
    c2Rejected_ = true;
    setProgress(fpPageError);
  } else if (d == 4 || d == 5) {
    fail(ecCancelRequested);
  } else {
    fail(ecFaxPageError);
  }
  return true;
}

// OK after the page: done, unless the modem also said the call broke down, which is no
// delivered page whatever the OK says.
void TKvSendFax::c2PageAnswered() {
  if (c2HangupSeen_ && hangupResult_ != 0) return fail(ecFaxSessionError);
  if (c2Rejected_) return c2Resend();
  setProgress(fpPageOk);
  gotoState(S::C2PageDone);
}

void TKvSendFax::c2PageStatus(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (c2Echo()) return;
  Report r = class2::classify(line_);
  if (r == Report::Ok) return c2PageAnswered();
  if (r == Report::Error) return fail(ecFaxBadModemResult);
  if (c2PageStatusLine(r)) {
    if (c2Rejected_ && state_ == S::C2PageStatus) gotoState(S::C2PageRejected, false);
    return;
  }
  if (r == Report::Session || r == Report::PostPage) return;
  fail(ecFaxPageError);
}

void TKvSendFax::c20PageStatus(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (c2Echo()) return;
  Report r = class2::classify(line_);
  if (r == Report::Ok) return c2PageAnswered();
  if (r == Report::Error) {
    // A rejected page: ask the modem for its status, then send the page again.
    sendCommand("AT+FPS?");
    setProgress(fpPageError);
    return gotoState(S::C2PageRejected, false);
  }
  if (c2PageStatusLine(r)) return;
  if (r == Report::Session || r == Report::PostPage) return;
  fail(ecFaxPageError);
}

void TKvSendFax::c2PageRejected(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (c2Echo()) return;
  Report r = class2::classify(line_);
  if (r == Report::Ok) return c2Resend();
  // The answer to AT+FPS? and repeated reports come before the OK.
  if (r == Report::PageStatus || r == Report::Session || r == Report::Other) return;
  if (r == Report::Hangup) c2StoreHangup();
  fail(ecFaxSessionError);
}

void TKvSendFax::c2Resend() {
  // Rejections count over the whole fax, not per page.
  if (++c2Retries_ > 2) {
    sendRaw("AT+FKS\r");
    return fail(ecFaxSessionError);
  }
  bytesSent_ = 0;
  if (sendingCover_ && !coverIsApf_) {
    // A text cover is read again from its start.
    pages_.closeCover();
  } else {
    Result res = readPageHeader();
    if (res < 0) return fail(res);
  }
  if (pageMr_ && !mrRefused_) {
    // An MR page was refused: say MH only before the page goes again; the modem's OK to
    // that sends AT+FDT (state C2Negotiate).
    mrRefused_ = true;
    sendCommand(
        class2::sendCapabilities(*c2_, curRes_ == '1', DesiredBPS, pageWide_, DesiredECM, false));
    armTimeout(faxtime::kResponseTicks);
    return gotoState(S::C2Negotiate, false);
  }
  sendCommand("AT+FDT");
  armTimeout(kFdtTicks);
  gotoState(S::C2Negotiate, false);
}

void TKvSendFax::c2PageDone(FaxEvent) {
  if (!morePages()) return gotoState(S::FaxDone);
  Result r = nextPage();
  if (r < 0) return fail(r);
  sendCommand("AT+FDT");
  armTimeout(kFdtTicks);
  gotoState(S::C2Negotiate, false);
}

}  // namespace kv
