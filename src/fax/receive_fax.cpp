#include "fax/receive_fax.h"

#include <iterator>
#include <memory>

#include "base/exceptions.h"
#include "fax/receive_folder.h"
#include "faximage/t4_coder.h"
#include "faximage/t4_stream.h"

namespace kv {

namespace {
constexpr std::size_t kWriteBuffer = 4096;
constexpr int kMaxPerEvent = 10000;
bool contains(const std::string &s, const char *what) {
  return s.find(what) != std::string::npos;
}
}  // namespace

using R = ReceiveState;
using M = TKvReceiveFax;

// The machine: every state, its name, whether it waits for a modem line, and its handler.
const TKvReceiveFax::StateInfo TKvReceiveFax::kStates[] = {
    {R::NewCall, "NewCall", false, &M::stateNewCall},
    {R::C1SelectClass, "C1SelectClass", true, &M::c1SelectClass},
    {R::C2SelectClass, "C2SelectClass", true, &M::c2SelectClass},
    {R::C20FlowControl, "C20FlowControl", true, &M::c20FlowControl},
    {R::C20Reporting, "C20Reporting", true, &M::c20Reporting},
    {R::C2CapsSet, "C2CapsSet", true, &M::c2CapsSet},
    {R::WaitRing, "WaitRing", true, &M::stateWaitRing},
    {R::Answer, "Answer", false, &M::stateAnswer},
    {R::C1SendCSI, "C1SendCSI", true, &M::c1SendCSI},
    {R::C1SendDIS, "C1SendDIS", true, &M::c1SendDIS},
    {R::C1WaitDCS, "C1WaitDCS", true, &M::c1WaitDCS},
    {R::C1Retry, "C1Retry", false, &M::c1Retry},
    {R::C1RetryFTH, "C1RetryFTH", false, &M::c1RetryFTH},
    {R::C1TrainConnect, "C1TrainConnect", true, &M::c1TrainConnect},
    {R::C1Training, "C1Training", false, &M::c1Training},
    {R::C1StopListening, "C1StopListening", true, &M::c1StopListening},
    {R::C1SendFTT, "C1SendFTT", true, &M::c1SendFTT},
    {R::C1SendRTN, "C1SendRTN", true, &M::c1SendRTN},
    {R::C1TrainEnd, "C1TrainEnd", true, &M::c1TrainEnd},
    {R::C1SendCFR, "C1SendCFR", true, &M::c1SendCFR},
    {R::C1PageConnect, "C1PageConnect", true, &M::c1PageConnect},
    {R::C2AnswerResult, "C2AnswerResult", true, &M::c2AnswerResult},
    {R::C2Negotiate, "C2Negotiate", true, &M::c2Negotiate},
    {R::C2WaitPage, "C2WaitPage", true, &M::c2WaitPage},
    {R::PageStart, "PageStart", false, &M::statePageStart},
    {R::PageData, "PageData", false, &M::statePageData},
    {R::C1PageEnd, "C1PageEnd", true, &M::c1PageEnd},
    {R::C1WaitPPM, "C1WaitPPM", true, &M::c1WaitPPM},
    {R::C1ClosePage, "C1ClosePage", false, &M::c1ClosePage},
    {R::C1SendMCF, "C1SendMCF", true, &M::c1SendMCF},
    {R::C1WaitDCN, "C1WaitDCN", true, &M::c1WaitDCN},
    {R::C1Hangup, "C1Hangup", true, &M::c1Hangup},
    {R::C2PageEnd, "C2PageEnd", true, &M::c2PageEnd},
    {R::C2WaitHangup, "C2WaitHangup", true, &M::c2WaitHangup},
    {R::EndOfCall, "EndOfCall", false, &M::stateEndOfCall},
    {R::Error, "Error", false, &M::stateError},
    {R::Final, "Final", false, &M::stateFinal},
};

const TKvReceiveFax::StateInfo &TKvReceiveFax::Info(ReceiveState s) {
  for (const auto &i : kStates)
    if (i.state == s) return i;
  return kStates[std::size(kStates) - 1];
}

void TKvReceiveFax::runState(FaxEvent ev) {
  (this->*Info(state_).handler)(ev);
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
  state_ = R::NewCall;
  statusShown_ = false;
  // The modem is initialised at InitBaud when that is in use.
  switchBaud(initBaud_);
  if (FaxClass == fcUnknown || FaxClass == fcDetect) {
    if (!prepareModem(false)) return ecFaxBadModemResult;
  }
  if (FaxClass == fcClass2 || FaxClass == fcClass2_0) {
    // The modem runs T.30 itself: initialised once, its class selected per call.
    modemInitialize();
    running_ = true;
    port_->flushIn();
    return ecOK;
  }
  // The modulation query selects Class 1 itself, so the class is selected once here.
  if (modemInitialize() && queryModulations(c1_, true)) switchBaud(normalBaud_);
  running_ = true;
  port_->flushIn();
  return ecOK;
}

void TKvReceiveFax::fail(Result code) {
  reportError(code);
  gotoState(R::Error);
}

bool TKvReceiveFax::takeLine(FaxEvent ev, bool fcErrorIsCarrier) {
  noteFrameStart(c1_);
  if (gotFrame_) {
    Result r = handleFrame(c1_, frame_, state_ == R::C1WaitDCN);
    if (r < 0) fail(r);
    return false;
  }
  if (ev != FaxEvent::Timeout && missedFrame(c1_)) {
    c1MissedFrame();
    return false;
  }
  if (ev != FaxEvent::Timeout && retryRefusedTransmit(c1_)) return false;
  if (ev != FaxEvent::Timeout && contains(line_, "ERROR") &&
      !(fcErrorIsCarrier && contains(line_, "+FCERROR"))) {
    fail(ecFaxBadModemResult);
    return false;
  }
  return true;
}

std::string TKvReceiveFax::storedId() const {
  // The id arrives padded to 20 characters; the file keeps the id itself.
  std::string id = PartnerID();
  id.erase(0, id.find_first_not_of(' '));
  id.erase(id.find_last_not_of(' ') + 1);
  return id;
}

Result TKvReceiveFax::createFile() {
  file_.close();
  pageNumber_ = 1;
  // A name another receiver took meanwhile is skipped: the next free one is asked for.
  std::string last;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name;
    // The answer lives in a shared box: a handler still running after the time-out must not
    // write into this thread's stack.
    auto box = std::make_shared<std::string>();
    if (sendToMain([this, box] { *box = FaxName(); })) name = *box;
    if (name.empty()) return ecNoFilename;
    FaxFile = name;
    // A fixed name that comes back the same is the one the user wants replaced.
    const bool fixed = FaxNaming == nmFixed || OnFaxName;
    Result r = file_.create(name, storedId(), fixed && name == last);
    if (r != ecFileExists) return r;
    last = name;
  }
  return ecFileExists;
}

void TKvReceiveFax::finishFile() {
  // The call went well, but the fax is only received once it is on the disk.
  if (Result r = file_.close(); r < 0) {
    reportError(r);
    reportLog(lcReceiveFail);
    return;
  }
  reportLog(lcReceiveOk);
}

Result TKvReceiveFax::flushBuffer() {
  if (pageMr_) {
    mrData_.insert(mrData_.end(), buf_.begin(), buf_.end());
    buf_.clear();
    return ecOK;
  }
  if (buf_.empty()) return ecOK;
  Result r = file_.write(buf_.data(), buf_.size());
  buf_.clear();
  return r;
}

Result TKvReceiveFax::storeMrPage() {
  // Stored files hold one-dimensional records only, so every reader of the format can read
  // what came in MR.
  Result r = ecOK;
  T4Encoder enc;
  const int width = wide_ ? kFaxLineWide : kFaxLineNormal;
  std::vector<std::uint8_t> rec;
  auto put = [&](const std::uint8_t *data, std::size_t n) {
    rec.assign({std::uint8_t(n), std::uint8_t(n >> 8)});
    rec.insert(rec.end(), data, data + n);
    if (r >= 0) r = file_.write(rec.data(), rec.size());
  };
  T4StreamDecoder dec(width, T4Coding::Mr);
  const T4DecodeResult res =
      dec.decode(mrData_.data(), mrData_.size(), [&](const std::uint8_t *row) {
        const auto coded = enc.encodeLine(row, width);
        put(coded.data(), coded.size());
      });
  put(kApfPageEndRecord.data(), kApfPageEndRecord.size());
  badRows_ = int(res.badRows);
  mrData_.clear();
  return r;
}

// --- Class-independent states ------------------------------------------------------------------

void TKvReceiveFax::stateNewCall(FaxEvent) {
  pageStatus_ = 3;
  rings_ = 0;
  pages_ = 0;
  pageAwaited_ = false;
  attempts_ = 0;
  setPartnerId("");
  FaxFile.clear();
  c1_.finalFrame = false;
  c1_.remote2D = false;
  c1_.stopping = false;
  c1_.missedFrames = 0;
  pageMr_ = false;
  if (ConstantStatus && !statusShown_) {
    statusShown_ = true;
    reportStatus(1);
  }
  softwareFlow(false);
  port_->setDtr(true);
  port_->setRts(true);
  if (FaxClass == fcClass2 || FaxClass == fcClass2_0) return c2Begin();
  c2_ = nullptr;
  sendCommand("AT+FCLASS=1");
  gotoState(R::C1SelectClass, false);
}

void TKvReceiveFax::stateAnswer(FaxEvent) {
  sendCommand("ATA");
  armTimeout(faxtime::kAnswerTicks);
  setProgress(fpAnswering);
  c1_.finalFrame = false;
  gotoState(c2_ ? R::C2AnswerResult : R::C1SendCSI, false);
}

bool TKvReceiveFax::folderUsable() {
  if (DestinationDir.empty()) return true;
  std::string problem = receiveFolderProblem(DestinationDir);
  if (problem.empty()) {
    folderRefused_ = false;
    return true;
  }
  // Said once, not at every ring, until the folder can be used again.
  if (!folderRefused_) {
    folderRefused_ = true;
    auto why = std::make_shared<std::string>(std::move(problem));
    sendToMain([this, why] {
      if (OnCallNotAnswered) OnCallNotAnswered(*this, *why);
    });
  }
  return false;
}

void TKvReceiveFax::stateWaitRing(FaxEvent ev) {
  if (!takeLine(ev)) return;
  const std::string &l = line_;
  // Waiting for a call has no time limit, but a device that has gone takes no calls.
  if (ev == FaxEvent::Timeout) return port_->alive() ? void() : fail(ecTimeout);
  if (contains(l, "RING")) {
    if (++rings_ >= AnswerOnRing) {
      if (!folderUsable()) return;
      pageStatus_ = 3;
      if (!statusShown_) {
        statusShown_ = true;
        reportStatus(1);
      }
      armTimeout(faxtime::kResponseTicks);
      return gotoState(R::Answer);
    }
    return;
  }
  if (contains(l, "NO C")) return setProgress(fpNoConnect);
  if (contains(l, "CONNECT")) return fail(ecFaxDataCall);
  if (contains(l, "VOICE")) return fail(ecFaxVoiceCall);
}

void TKvReceiveFax::statePageStart(FaxEvent) {
  ++pages_;
  pageAwaited_ = false;
  Result r = ecOK;
  if (pageStatus_ == 3) {
    r = createFile();
    if (r < 0) return fail(r);
    reportLog(lcReceiveStart);
  }
  pageMr_ = c1_.remote2D;
  mrData_.clear();
  badRows_ = 0;
  r = file_.beginPage(fine_, wide_, pageMr_);
  if (r < 0) return fail(r);
  pageNumber_ = pages_;
  bytesDone_ = 0;
  dle_ = false;
  buf_.clear();
  armTimeout(faxtime::kLineTicks);
  setProgress(fpGetPage);
  c2PageStarted_ = false;
  // A Class 2 modem holds the page back until DC2.
  if (c2_) {
    static const std::uint8_t dc2 = 0x12;
    putBytes(&dc2, 1);
  }
  // The page's first bytes may already be waiting behind the CONNECT line.
  gotoState(R::PageData);
}

void TKvReceiveFax::statePageData(FaxEvent ev) {
  if (ev == FaxEvent::Timeout) return fail(ecTimeout);
  auto store = [&](std::uint8_t b) -> Result {
    c2PageStarted_ = true;
    // Class 2 (not 2.0) modems hand received data over with the bit order reversed.
    if (c2_ && !c2_->v20) b = class2::reversedBits(b);
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
        if (r >= 0 && pageMr_) r = storeMrPage();
        if (r < 0) return fail(r);
        softwareFlow(false);
        setProgress(fpGetPage);
        // A Class 1 modem reports the carrier's end at once; the caller's post-page message
        // follows within T4 and must not be missed waiting for that report.
        armTimeout(c2_ ? faxtime::kResponseTicks : faxtime::kT4Ticks);
        return gotoState(c2_ ? R::C2PageEnd : R::C1PageEnd);
      }
      r = store(std::uint8_t(c));  // DLE DLE is one DLE; other pairs keep the second byte
    } else if (c == t30::DLE) {
      dle_ = true;
    } else if (c2_ && !c2PageStarted_ && (c == '\r' || c == '\n' || c == 0x11 || c == 0xFF)) {
      // Line ends, XON and fill some Class 2 modems send before the page are not page data.
    } else {
      r = store(std::uint8_t(c));
    }
    if (r < 0) return fail(r);
  }
  armTimeout(faxtime::kLineTicks);
  if (port_->inUsed() > 0) loopNow_ = true;
}

void TKvReceiveFax::stateEndOfCall(FaxEvent) {
  switchBaud(initBaud_);
  if (OneFax) {
    state_ = R::Final;
    reportStatus(2);
    finishSession();
    return;
  }
  if (!ConstantStatus) {
    reportStatus(2);
    statusShown_ = false;
  }
  gotoState(R::NewCall);
}

void TKvReceiveFax::stateError(FaxEvent) {
  if (file_.isOpen()) {
    flushBuffer();
    // What came of an MR page is kept, as the bit stream of an MH page is.
    if (pageMr_ && !mrData_.empty()) storeMrPage();
    file_.closePage(storedId());
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
    state_ = R::Final;
    if (statusShown_) reportStatus(2);
    finishSession();
    return;
  }
  gotoState(R::NewCall);
}

}  // namespace kv
