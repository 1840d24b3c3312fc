// The Class 2 and Class 2.0 states of the receive machine: the modem answers and runs T.30
// itself; we read its +F reports, release each page with DC2 and judge it by its page status.
#include <cctype>
#include <memory>

#include "fax/class2_reports.h"
#include "fax/receive_fax.h"

namespace kv {

using R = ReceiveState;
using class2::Report;

void TKvReceiveFax::c2Begin() {
  c2_ = &class2::commandTable(FaxClass);
  sendCommand(c2_->selectClass);
  gotoState(R::C2SelectClass, false);
}

bool TKvReceiveFax::c2Take(FaxEvent ev, Report &r, bool errorIsMine) {
  if (ev == FaxEvent::Timeout) {
    fail(ecTimeout);
    return false;
  }
  if (gotFrame_) return false;
  if (c2Echo()) return false;
  r = class2::classify(line_);
  if (r == Report::Hangup && state_ != R::C2WaitHangup) {
    c2StoreHangup();
    fail(ecFaxSessionError);
    return false;
  }
  if (r == Report::Error && !errorIsMine) {
    fail(ecFaxBadModemResult);
    return false;
  }
  return true;
}

// A modem left with echo on repeats our command before it answers.
bool TKvReceiveFax::c2Echo() const {
  return line_.size() >= 2 && std::toupper(static_cast<unsigned char>(line_[0])) == 'A' &&
         std::toupper(static_cast<unsigned char>(line_[1])) == 'T';
}

void TKvReceiveFax::c2StoreHangup() {
  hangupResult_ = class2::hangupCode(line_, c2_ && c2_->v20);
}

void TKvReceiveFax::c2ApplyParams() {
  auto p = class2::parseParams(line_);
  lineRate_ = p.lineRate;
  fine_ = p.fine;
  wide_ = p.wide;
  c1_.remote2D = p.twoD;
  setProgress(fpSessionParams);
}

// A set-up command answered: true to go on. A modem that offered Class 2.0 in the class
// query but refuses to select it is tried in Class 2 when it offered that too.
bool TKvReceiveFax::c2SetupAnswered(FaxEvent ev) {
  Report r{};
  if (!c2Take(ev, r, true)) return false;
  if (r == Report::Ok) return true;
  // Information lines some modems send before the OK.
  if (r == Report::Other || (r >= Report::FaxConnect && r != Report::Hangup)) return false;
  if (state_ == R::C2SelectClass && c2_->v20 && classQueried_ && (lastClasses_ & kClass2Bit)) {
    FaxClass = fcClass2;
    c2Begin();
    return false;
  }
  fail(ecFaxInitError);
  return false;
}

void TKvReceiveFax::c2SelectClass(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  switchBaud(normalBaud_);
  sendCommand(class2::receiveCapabilities(*c2_, DesiredBPS, DesiredECM, Allow2D));
  gotoState(c2_->v20 ? R::C20FlowControl : R::C2CapsSet, false);
}

void TKvReceiveFax::c20FlowControl(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  sendCommand("AT+FLO=2");
  gotoState(R::C20Reporting, false);
}

void TKvReceiveFax::c20Reporting(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  sendCommand("AT+FNR=1,1,1,0");
  gotoState(R::C2CapsSet, false);
}

void TKvReceiveFax::c2CapsSet(FaxEvent ev) {
  if (!c2SetupAnswered(ev)) return;
  port_->disarmTimeout();
  setProgress(fpWaiting);
  gotoState(R::WaitRing, false);
}

void TKvReceiveFax::c2AnswerResult(FaxEvent ev) {
  Report r{};
  if (!c2Take(ev, r)) return;
  if (r == Report::FaxConnect) {
    setProgress(fpIncomingFax);
    armTimeout(faxtime::kResponseTicks);
    c2Accepted_ = false;
    return gotoState(R::C2Negotiate, false);
  }
  // No fax answered the call; waiting out the answer time would not change that.
  if (r == Report::NoCarrier) return fail(ecFaxNoCarrier);
}

// Asks the program whether to take the call; false when it was refused (the call is then
// being ended).
bool TKvReceiveFax::c2Accept() {
  c2Accepted_ = true;
  auto box = std::make_shared<bool>(false);
  bool accepted = sendToMain([this, box] { *box = FaxAccept(); }) && *box;
  if (!accepted) {
    sendRaw("AT+FKS\r");
    reportError(ecFileRejected);
    modemHangup();
    reportLog(lcReceiveSkip);
    gotoState(R::Error);
    return false;
  }
  setProgress(fpGotRemoteId);
  Result res = createFile();
  if (res < 0) {
    fail(res);
    return false;
  }
  reportLog(lcReceiveStart);
  pageStatus_ = 2;
  pages_ = 0;
  return true;
}

void TKvReceiveFax::c2Negotiate(FaxEvent ev) {
  Report r{};
  if (!c2Take(ev, r)) return;
  switch (r) {
    case Report::Tsi:
      if (c2Accepted_) return;
      setPartnerId(class2::stationId(line_));
      c2Accept();
      return;
    case Report::Session:
      return c2ApplyParams();
    case Report::Ok:
      // A caller that sent no id is asked about all the same.
      if (!c2Accepted_ && !c2Accept()) return;
      sendCommand("AT+FDR");
      return gotoState(R::C2WaitPage, false);
    default:
      return;
  }
}

void TKvReceiveFax::c2WaitPage(FaxEvent ev) {
  Report r{};
  if (!c2Take(ev, r)) return;
  if (r == Report::Session) return c2ApplyParams();
  if (r == Report::Connect) {
    c2PageJudged_ = false;
    return gotoState(R::PageStart);
  }
  if (r == Report::NoCarrier) return fail(ecFaxSessionError);
}

void TKvReceiveFax::c2KeepPage(bool keep) {
  if (c2PageJudged_) return;
  c2PageJudged_ = true;
  Result res = keep ? file_.closePage(PartnerID()) : file_.dropPage();
  if (res < 0) fail(res);
}

void TKvReceiveFax::c2PageEnd(FaxEvent ev) {
  Report r{};
  if (!c2Take(ev, r, true)) return;
  switch (r) {
    case Report::PageStatus: {
      setProgress(fpGetPageResult);
      int d = class2::firstDigit(line_);
      return c2KeepPage(d == 1 || d == 3 || d == 5);
    }
    case Report::PostPage: {
      setProgress(fpCheckMorePages);
      static constexpr int kStatus[4] = {2, 3, 4, 1};
      int d = class2::firstDigit(line_);
      pageStatus_ = d >= 0 && d <= 3 ? kStatus[d] : 0;
      return;
    }
    case Report::Ok:
      // No page status at all: the modem took the page, so do we.
      c2KeepPage(true);
      if (state_ == R::Error) return;
      sendCommand("AT+FDR");
      if (pageStatus_ == 4) {
        finishFile();
        FaxFile.clear();
        setProgress(fpGetHangup);
        return gotoState(R::C2WaitHangup, false);
      }
      return gotoState(R::C2WaitPage, false);
    case Report::Error:
      c2KeepPage(false);
      if (state_ == R::Error) return;
      sendCommand("AT+FDR");
      return gotoState(R::C2WaitPage, false);
    default:
      return;
  }
}

void TKvReceiveFax::c2WaitHangup(FaxEvent ev) {
  // The fax is stored and logged: whatever the modem still says (or does not say), the call
  // ends here without an error.
  if (ev == FaxEvent::Timeout) {
    modemHangup();
    return gotoState(R::EndOfCall);
  }
  if (c2Echo()) return;
  Report r = class2::classify(line_);
  if (r == Report::Hangup) {
    c2StoreHangup();
    return setProgress(fpGotHangup);
  }
  if (r == Report::PostPage) return setProgress(fpGetHangup);
  if (r == Report::Ok || r == Report::Error) gotoState(R::EndOfCall);
}

}  // namespace kv
