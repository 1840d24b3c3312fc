#include "fax/send_fax.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "base/exceptions.h"
#include "faximage/t4_coder.h"

namespace kv {

namespace {
constexpr int kBlock = 4096;
bool contains(const std::string &s, const char *what) {
  return s.find(what) != std::string::npos;
}
}  // namespace

using S = SendState;
using M = TKvSendFax;

// The machine: every state, its name, whether it waits for a modem line, and its handler.
const TKvSendFax::StateInfo TKvSendFax::kStates[] = {
    {S::NextFax, "NextFax", false, &M::stateNextFax},
    {S::Setup, "Setup", false, &M::stateSetup},
    {S::C1SelectClass, "C1SelectClass", true, &M::c1SelectClass},
    {S::C2SelectClass, "C2SelectClass", true, &M::c2SelectClass},
    {S::C20FlowControl, "C20FlowControl", true, &M::c20FlowControl},
    {S::C20Reporting, "C20Reporting", true, &M::c20Reporting},
    {S::C2Capabilities, "C2Capabilities", true, &M::c2Capabilities},
    {S::C2CapsSet, "C2CapsSet", true, &M::c2CapsSet},
    {S::Dial, "Dial", false, &M::stateDial},
    {S::RedialWait, "RedialWait", false, &M::stateRedialWait},
    {S::C1DialResult, "C1DialResult", true, &M::c1DialResult},
    {S::C1SendTSI, "C1SendTSI", true, &M::c1SendTSI},
    {S::C1SendDCS, "C1SendDCS", true, &M::c1SendDCS},
    {S::C1DcsSent, "C1DcsSent", true, &M::c1DcsSent},
    {S::C1SendTCF, "C1SendTCF", true, &M::c1SendTCF},
    {S::C1TcfSent, "C1TcfSent", true, &M::c1TcfSent},
    {S::C1WaitCFR, "C1WaitCFR", true, &M::c1WaitCFR},
    {S::C1PageConnect, "C1PageConnect", true, &M::c1PageConnect},
    {S::C2DialResult, "C2DialResult", true, &M::c2DialResult},
    {S::C2Negotiate, "C2Negotiate", true, &M::c2Negotiate},
    {S::WaitXon, "WaitXon", false, &M::stateWaitXon},
    {S::PageReady, "PageReady", false, &M::statePageReady},
    {S::PageHeader, "PageHeader", false, &M::statePageHeader},
    {S::CoverOpen, "CoverOpen", false, &M::stateCoverOpen},
    {S::CoverText, "CoverText", false, &M::stateCoverText},
    {S::PageStart, "PageStart", false, &M::statePageStart},
    {S::PageData, "PageData", false, &M::statePageData},
    {S::PageFlush, "PageFlush", false, &M::statePageFlush},
    {S::C1PageSent, "C1PageSent", true, &M::c1PageSent},
    {S::C1PostPage, "C1PostPage", false, &M::c1PostPage},
    {S::C1SendPPM, "C1SendPPM", true, &M::c1SendPPM},
    {S::C1PpmSent, "C1PpmSent", true, &M::c1PpmSent},
    {S::C1WaitPPR, "C1WaitPPR", true, &M::c1WaitPPR},
    {S::C1SendDCN, "C1SendDCN", true, &M::c1SendDCN},
    {S::C1DcnSent, "C1DcnSent", true, &M::c1DcnSent},
    {S::C1Hangup, "C1Hangup", true, &M::c1Hangup},
    {S::C2PageSent, "C2PageSent", false, &M::c2PageSent},
    {S::C2PageEnd, "C2PageEnd", true, &M::c2PageEnd},
    {S::C2PageStatus, "C2PageStatus", true, &M::c2PageStatus},
    {S::C2PageRejected, "C2PageRejected", true, &M::c2PageRejected},
    {S::C2PageDone, "C2PageDone", false, &M::c2PageDone},
    {S::C20PageStatus, "C20PageStatus", true, &M::c20PageStatus},
    {S::FaxDone, "FaxDone", false, &M::stateFaxDone},
    {S::NoMoreFaxes, "NoMoreFaxes", false, &M::stateNoMore},
    {S::Error, "Error", false, &M::stateError},
    {S::Final, "Final", false, &M::stateFinal},
    {S::DialRingCheck, "DialRingCheck", true, &M::stateDialRingCheck},
};

const TKvSendFax::StateInfo &TKvSendFax::Info(SendState s) {
  for (const auto &i : kStates)
    if (i.state == s) return i;
  return kStates[std::size(kStates) - 1];
}

void TKvSendFax::runState(FaxEvent ev) {
  (this->*Info(state_).handler)(ev);
}

TKvSendFax::TKvSendFax() : TKvAbstractFax(true) {}

TKvSendFax::~TKvSendFax() {
  closeFiles();
}

long TKvSendFax::BytesTransferred() const {
  long used = port_ ? port_->outUsed() : 0;
  if (used == 1) used = 0;
  return std::max(0L, bytesSent_ - used);
}

bool TKvSendFax::FaxNext(DialString &phone, std::string &faxFile, std::string &coverFile) {
  if (OnFaxNext) {
    phone = {};
    faxFile.clear();
    coverFile.clear();
    OnFaxNext(*this, phone, faxFile, coverFile);
    PhoneNumber = phone;
    CoverFile = coverFile;
    FaxFile = faxFile;
    return !phone.empty();
  }
  if (alreadyGiven_) {
    phone = {};
    faxFile.clear();
    coverFile.clear();
    return false;
  }
  alreadyGiven_ = true;
  phone = PhoneNumber;
  faxFile = FaxFile;
  coverFile = CoverFile;
  return !phone.empty();
}

void TKvSendFax::BeginTransmit() {
  alreadyGiven_ = false;
  startSession();
}

Result TKvSendFax::prepare() {
  state_ = S::NextFax;
  sessionError_ = 0;
  progress_ = fpInitModem;
  reportStatus(1);
  pageNumber_ = 1;
  busyCount_ = 0;
  prevRes_ = curRes_ = ' ';
  // The modem is initialised at InitBaud when that is in use.
  port_->setBaud(initBaud_ ? initBaud_ : 19200);
  port_->setDtr(true);
  port_->setRts(true);
  if (!prepareModem(true)) return sessionError_;
  if (FaxClass == fcClass2 || FaxClass == fcClass2_0) {
    // The modem runs T.30 itself: no modulations to ask for.
    switchBaud(normalBaud_);
    running_ = true;
    return ecOK;
  }
  switchBaud(normalBaud_);
  if (!queryModulations(c1_, false)) return ecFaxInitError;
  running_ = true;
  return ecOK;
}

void TKvSendFax::fail(Result code) {
  reportError(code);
  gotoState(S::Error);
}

bool TKvSendFax::takeLine(FaxEvent ev, bool errorEnds) {
  noteFrameStart(c1_);
  if (gotFrame_) {
    Result r = handleFrame(c1_, frame_, false);
    if (r < 0) fail(r);
    return false;
  }
  if (contains(line_, "CONNECT")) repeats_ = 0;
  if (errorEnds && ev != FaxEvent::Timeout && missedFrame(c1_)) {
    c1MissedFrame();
    return false;
  }
  if (errorEnds && ev != FaxEvent::Timeout && retryRefusedTransmit(c1_)) return false;
  if (errorEnds && ev != FaxEvent::Timeout && contains(line_, "ERROR")) {
    fail(ecFaxBadModemResult);
    return false;
  }
  return true;
}

void TKvSendFax::closeFiles() {
  pages_.close();
}

std::string TKvSendFax::substitute(const std::string &text) {
  HeaderFields f;
  f.stationId = StationID;
  f.sender = HeaderSender;
  f.recipient = HeaderRecipient;
  f.title = HeaderTitle;
  f.faxPages = faxPages_;
  f.coverPages = coverPages_;
  f.coverPage = coverPage_;
  f.pageNumber = pageNumber_;
  f.sendingCover = sendingCover_;
  f.afterCover = coverPages_ > 0 && !sendingCover_;
  f.now = localNow();
  return substituteHeader(text, f);
}

// --- Output ------------------------------------------------------------------------------------

void TKvSendFax::writeStuffed(const std::uint8_t *p, std::size_t n) {
  std::vector<std::uint8_t> out;
  out.reserve(n + n / 64 + 8);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == t30::DLE) out.push_back(t30::DLE);
  }
  putBytes(out.data(), out.size());
}

bool TKvSendFax::useMr() const {
  return Allow2D && !mrRefused_ && (c2_ ? c2Mr_ : c1_.remote2D);
}

void TKvSendFax::beginPageCoding() {
  pageMr_ = useMr();
  T4StreamOptions o;
  o.coding = pageMr_ ? T4Coding::Mr : T4Coding::Mh;
  o.k = t4KFactor(fine_);
  o.width = pageWide_ ? kFaxLineWide : kFaxLineNormal;
  o.minLineBits = std::max(c1_.minBits, 0);
  coder_.begin(o);
  lineBytes_ = 0;
  pageStarted_ = std::chrono::steady_clock::now();
}

void TKvSendFax::flushCoded() {
  const auto &b = coder_.bytes();
  if (b.empty()) return;
  writeStuffed(b.data(), b.size());
  lineBytes_ += long(b.size());
  coder_.clearBytes();
}

// --- Files and pages ---------------------------------------------------------------------------

Result TKvSendFax::readPageHeader() {
  int n = sendingCover_ ? coverPage_ : pageNumber_.load();
  ApfPageHeader ph;
  Result r = pages_.selectPage(sendingCover_, n, ph);
  if (r < 0) return r;
  pageLen_ = long(ph.imageLength);
  lengthWords_ = ph.lineRecords();
  pageWide_ = ph.wide();
  prevRes_ = curRes_;
  curRes_ = ph.highResolution() ? '1' : '0';
  fine_ = curRes_ == '1';
  wide_ = pageWide_;
  if (prevRes_ != ' ' && prevRes_ != curRes_) reportError(ecFaxMixedResolution);
  return ecOK;
}

bool TKvSendFax::morePages() const {
  if (sendingCover_ && coverPage_ < coverPages_) return true;
  return pages_.hasFax() && (sendingCover_ || pageNumber_ < faxPages_);
}

Result TKvSendFax::openCover() {
  Result r = pages_.openCover(coverName_, coverIsApf_);
  if (r < 0) return r;
  if (coverIsApf_) coverPages_ = pages_.coverPages();
  return ecOK;
}

Result TKvSendFax::nextPage() {
  if (sendingCover_ && coverPage_ < coverPages_) {
    ++coverPage_;
  } else if (sendingCover_) {
    pages_.closeCover();
    coverName_.clear();
    sendingCover_ = false;
  } else {
    ++pageNumber_;
  }
  bytesSent_ = 0;
  return readPageHeader();
}

// --- Class-independent states ------------------------------------------------------------------

void TKvSendFax::stateNextFax(FaxEvent) {
  // The answer lives in a shared box: a handler still running after the time-out must not
  // write into this thread's stack.
  struct Next {
    DialString phone;
    std::string faxFile, coverFile;
    bool got = false;
  };
  auto box = std::make_shared<Next>();
  bool got =
      sendToMain([this, box] { box->got = FaxNext(box->phone, box->faxFile, box->coverFile); }) &&
      box->got;
  DialString phone;
  std::string faxFile, coverFile;
  if (got) {
    phone = box->phone;
    faxFile = box->faxFile;
    coverFile = box->coverFile;
  }
  if (!got || phone.empty()) {
    gotoState(S::NoMoreFaxes);
    return;
  }
  phone_ = phone;
  faxName_ = cut(faxFile, kPassStringMax);
  coverName_ = cut(coverFile, kPassStringMax);
  reportLog(lcTransmitStart);
  busyCount_ = 0;
  mrRefused_ = false;
  hangupResult_ = 0;
  setPartnerId("");
  pageNumber_ = 1;
  faxPages_ = coverPages_ = 0;
  coverPage_ = 1;
  sendingCover_ = false;
  bytesSent_ = pageLen_ = 0;
  closeFiles();
  if (!faxName_.empty()) {
    std::string name = faxName_;
    auto slash = name.rfind('/');
    auto dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
      name += "." + FaxFileExt;
    Result r = pages_.openFax(name);
    if (r < 0) {
      fail(r);
      return;
    }
    faxPages_ = pages_.faxPages();
  } else if (coverName_.empty()) {
    fail(ecNoFilename);
    return;
  }
  softwareFlow(false);
  gotoState(S::Setup);
}

void TKvSendFax::stateSetup(FaxEvent) {
  for (auto &c : StationID) c = char(std::toupper(static_cast<unsigned char>(c)));
  StationID = cut(StationID, kStationIdMax);
  if (!coverName_.empty()) {
    coverPages_ = 1;
    sendingCover_ = true;
    coverIsApf_ = coverName_.find("." + FaxFileExt) != std::string::npos;
    // Opened before dialling: a cover that cannot be sent ends the fax with nothing sent.
    Result r = openCover();
    if (r < 0) {
      fail(r);
      return;
    }
  }
  if (pages_.hasFax()) {
    bool cover = sendingCover_;
    sendingCover_ = false;
    Result r = readPageHeader();
    sendingCover_ = cover;
    if (r < 0) {
      fail(r);
      return;
    }
  } else {
    curRes_ = '0';
    fine_ = false;
    if (coverIsApf_) {
      ApfPageHeader ph;
      Result r = pages_.selectPage(true, 1, ph);
      if (r < 0) {
        fail(r);
        return;
      }
      curRes_ = ph.highResolution() ? '1' : '0';
      fine_ = curRes_ == '1';
      wide_ = pageWide_ = ph.wide();
    }
  }
  setProgress(fpInitModem);
  // Every fax is transferred at NormalBaud: the one before may have ended at InitBaud.
  switchBaud(normalBaud_);
  // Each class's set-up starts by selecting the class.
  if (FaxClass == fcClass2 || FaxClass == fcClass2_0) return c2Begin();
  c2_ = nullptr;
  sendCommand("AT+FCLASS=1");
  gotoState(S::C1SelectClass, false);
}

void TKvSendFax::stateDial(FaxEvent) {
  c1_.finalFrame = false;
  c1_.retrainRequested = false;
  c1_.cfrReceived = false;
  c1_.stopping = false;
  c1_.missedFrames = 0;
  c1_.unanswered = 0;
  dialStarted_ = clock_.now();
  dialConnected_ = false;
  sendCommand(std::string(ToneDial ? "ATDT" : "ATDP") + DialPrefix.dialled() + phone_.dialled());
  armTimeout(dialWaitTicks_);
  setProgress(fpDialing);
  gotoState(c2_ ? S::C2DialResult : S::C1DialResult, false);
}

void TKvSendFax::busyHandling(Result code, int waitProgress) {
  ++busyCount_;
  if (DialAttempts != 0 && busyCount_ >= DialAttempts) {
    reportStatus(0);
    if (AbortNoConnect) {
      fail(code);
      return;
    }
    closeFiles();
    reportError(code);
    reportLog(lcTransmitFail);
    setProgress(fpInitModem);
    gotoState(S::NextFax);
    return;
  }
  setProgress(waitProgress);
  armTimeout(retryWaitTicks_);
  gotoState(S::RedialWait, false);
}

// Rings come every 4 to 6 seconds; one heard this long before the dial still means the caller
// was on the line when the modem went off hook.
constexpr double kRingCadenceMs = 10000;

bool TKvSendFax::incomingCallAtDial() const {
  if (!ringHeardAt_ || dialConnected_) return false;
  const auto window = std::chrono::duration_cast<SessionClock::Clock::duration>(
      std::chrono::duration<double, std::milli>(clock_.realMs(kRingCadenceMs)));
  return *ringHeardAt_ >= dialStarted_ - window;
}

bool TKvSendFax::dialFailed(FaxEvent ev) const {
  if (ev == FaxEvent::Timeout) return true;
  if (gotFrame_) return false;
  switch (class2::classify(line_)) {
    case class2::Report::Error:
    case class2::Report::NoCarrier:
    case class2::Report::Busy:
    case class2::Report::Answer:
    case class2::Report::NoDialTone:
    case class2::Report::Hangup:
      return true;
    default:
      return false;
  }
}

bool TKvSendFax::awaitRingAfterRefusedDial(FaxEvent ev, Result code) {
  if (ev == FaxEvent::Timeout || gotFrame_ || dialConnected_) return false;
  const class2::Report r = class2::classify(line_);
  if (r != class2::Report::Error && r != class2::Report::NoCarrier) return false;
  refusedDial_ = code;
  // Rings come every 4 to 6 seconds of line time.
  port_->armTimeout(clock_.lineTicks(SecsToTicks(7)));
  gotoState(S::DialRingCheck, false);
  return true;
}

void TKvSendFax::stateDialRingCheck(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(refusedDial_);
  if (!gotFrame_ && t30::isRingReport(line_)) return incomingCallHandling(ev);
}

void TKvSendFax::incomingCallHandling(FaxEvent ev) {
  // A modem still busy with the dial is put back on hook before the pause.
  if (ev == FaxEvent::Timeout && port_->alive()) modemHangup();
  busyHandling(ecFaxIncomingCall, fpIncomingCallWait);
}

void TKvSendFax::stateFaxDone(FaxEvent) {
  closeFiles();
  setProgress(fpFaxSent);
  reportLog(lcTransmitOk);
  switchBaud(initBaud_);
  gotoState(S::NextFax);
}

void TKvSendFax::stateNoMore(FaxEvent) {
  reportStatus(2);
  state_ = S::Final;
  finishSession();
}

void TKvSendFax::stateError(FaxEvent) {
  closeFiles();
  reportLog(lcTransmitFail);
  if (port_->alive()) modemHangup();
  switchBaud(initBaud_);
  if (ExitOnError || AbortNoConnect || aborted_ || !port_->alive()) {
    setProgress(fpUserAbort);
    reportStatus(2);
    state_ = S::Final;
    finishSession();
    return;
  }
  gotoState(S::NextFax);
}

void TKvSendFax::stateRedialWait(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return gotoState(S::Dial);
  // Read as lines, so that rings of a caller are noted for the next dial.
  while (readItem()) {
  }
}

void TKvSendFax::stateWaitXon(FaxEvent ev) {
  bool go = ev == FaxEvent::Timeout;
  if (carrierLost(&go)) return failCarrierLost();
  if (go) gotoState(S::PageReady);
}

bool TKvSendFax::carrierLost(bool *xon) {
  for (int c; (c = port_->getChar()) >= 0;) {
    if (c == 0x11 && xon) *xon = true;
    modemText_.push_back(char(c));
    if (modemText_.size() > 32) modemText_.erase(0, modemText_.size() - 32);
    if (modemText_.find("NO CARRIER") != std::string::npos) {
      modemText_.clear();
      return true;
    }
  }
  return false;
}

void TKvSendFax::failCarrierLost() {
  // The page still queued would reach the modem as commands: drop it.
  port_->flushOut();
  fail(ecFaxNoCarrier);
}

void TKvSendFax::statePageReady(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (carrierLost()) return failCarrierLost();
  if (port_->outFree() < kBlock) {
    port_->armOutFree(kBlock);
    armTimeout(faxtime::kPageDataTicks);
    return;
  }
  setProgress(fpSendPage);
  softwareFlow(true);
  gotoState(S::PageHeader);
}

void TKvSendFax::statePageHeader(FaxEvent) {
  fontRows_ = 16;
  // The page goes out as one stream: blank rows, the header line, then the page's rows.
  // Everything is coded before it is written, so the modem never waits for the header.
  beginPageCoding();
  coder_.blankRows(8);
  if (!HeaderLine.empty()) {
    std::vector<std::vector<std::uint8_t>> rows;
    Result r = renderTextRows(substitute(HeaderLine), fontRows_, fine_, rows);
    if (r < 0) return fail(r);
    coder_.rows(rows);
  }
  flushCoded();
  lastStatus_ = std::chrono::steady_clock::now();
  statusEvery_ = 3 * StatusInterval;
  if (sendingCover_ && !coverName_.empty()) return gotoState(S::CoverOpen);
  gotoState(S::PageStart);
}

void TKvSendFax::stateCoverOpen(FaxEvent) {
  if (!pages_.hasCover()) {
    Result r = openCover();
    if (r < 0) return fail(r);
  }
  if (coverIsApf_) {
    Result r = readPageHeader();
    if (r < 0) return fail(r);
    return gotoState(S::PageStart);
  }
  fontRows_ = 48;
  setProgress(fpSendPage);
  gotoState(S::CoverText);
}

void TKvSendFax::stateCoverText(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (carrierLost()) return failCarrierLost();
  armTimeout(faxtime::kPageDataTicks);
  while (port_->outFree() > kBlock) {
    std::string line;
    Result err;
    if (!pages_.readCoverLine(line, err)) {
      if (err < 0) return fail(err);
      // End of the text: end the page with return-to-control so the far end sees it whole.
      coder_.end();
      flushCoded();
      const auto end = pageEndBytes();
      putBytes(end.data(), end.size());
      return gotoState(S::PageFlush);
    }
    std::vector<std::vector<std::uint8_t>> rows;
    Result r = renderTextRows(substitute(line), fontRows_, fine_, rows);
    if (r < 0) return fail(r);
    coder_.rows(rows);
    flushCoded();
  }
  port_->armOutFree(kBlock + 1);
}

void TKvSendFax::statePageStart(FaxEvent) {
  bytesSent_ = 0;
  Result r = readPageHeader();
  if (r < 0) return fail(r);
  gotoState(S::PageData);
}

void TKvSendFax::statePageData(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  if (carrierLost()) return failCarrierLost();
  armTimeout(faxtime::kPageDataTicks);
  std::vector<std::uint8_t> block(kBlock);
  for (int n = 0; n < MaxSendCount; ++n) {
    if (port_->outUsed() > BufferMinimum) {
      port_->armOutUsed(BufferMinimum);
      return;
    }
    if (port_->outFree() < kBlock) {
      port_->armOutFree(kBlock);
      return;
    }
    if (bytesSent_ >= pageLen_) {
      coder_.end();
      flushCoded();
      const auto end = pageEndBytes();
      putBytes(end.data(), end.size());
      return gotoState(S::PageFlush);
    }
    std::size_t got = 0;
    if (lengthWords_) {
      long used = 0;
      Result r =
          pages_.readLineRecord(pageLen_ - bytesSent_, block.data(), block.size(), got, used);
      if (r < 0) return fail(r);
      bytesSent_ += used;
      coder_.apfData(block.data(), got);
    } else {
      std::size_t take = std::size_t(std::min<long>(kBlock, pageLen_ - bytesSent_));
      Result r = pages_.readStream(block.data(), take, got);
      if (r < 0) return fail(r);
      bytesSent_ += long(got);
      coder_.apfData(block.data(), got);
    }
    flushCoded();
    auto now = std::chrono::steady_clock::now();
    if (now - lastStatus_ >= std::chrono::seconds(statusEvery_)) {
      lastStatus_ = now;
      statusEvery_ = 2 * StatusInterval;
      reportStatus(0);
    }
  }
  port_->armOutUsed(BufferMinimum);
}

void TKvSendFax::statePageFlush(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  // Input is left alone here: the modem's reply to the page (OK or NO CARRIER) is read next.
  if (port_->outUsed() > 0) {
    port_->armOutUsed(0);
    armTimeout(faxtime::kPageDataTicks);
    return;
  }
  softwareFlow(false);
  // The page's time left is real time already; only the reply wait is a time-out.
  port_->armTimeout(clock_.timeoutTicks(faxtime::kResponseTicks) + pageLineTicksLeft());
  gotoState(c2_ ? S::C2PageSent : S::C1PageSent);
}

// Our ring is empty, but the serial driver and the modem may still hold many seconds of the
// page (USB modems and ptys buffer far more than a UART). The modem answers only after the
// last bit has gone down the line, so the reply wait starts when the page can have been sent
// at the negotiated rate, not when our ring ran dry.
std::int32_t TKvSendFax::pageLineTicksLeft() const {
  const int bps = lineRate_;
  if (bps <= 0) return 0;
  const double lineMs = clock_.realMs(double(lineBytes_) * 8000.0 / bps);
  const double spentMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - pageStarted_)
          .count();
  return lineMs > spentMs ? std::int32_t((lineMs - spentMs) / kTickMs) + 1 : 0;
}

}  // namespace kv
