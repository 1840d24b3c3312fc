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
const std::uint8_t kBlankLine[6] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
const std::uint8_t kBlankWide[6] = {0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00};

bool contains(const std::string &s, const char *what) {
  return s.find(what) != std::string::npos;
}
}  // namespace

const char *sendStateName(int s) {
  switch (s) {
    case 1:
      return "NextFax";
    case 2:
      return "Setup";
    case 3:
      return "C1SelectClass";
    case 9:
      return "Dial";
    case 10:
      return "RedialWait";
    case 11:
      return "C1DialResult";
    case 12:
      return "C1SendTSI";
    case 13:
      return "C1SendDCS";
    case 14:
      return "C1DcsSent";
    case 15:
      return "C1SendTCF";
    case 16:
      return "C1TcfSent";
    case 17:
      return "C1WaitCFR";
    case 18:
      return "C1PageConnect";
    case 21:
      return "WaitXon";
    case 22:
      return "PageReady";
    case 23:
      return "PageHeader";
    case 24:
      return "CoverOpen";
    case 25:
      return "CoverText";
    case 26:
      return "PageStart";
    case 27:
      return "PageData";
    case 28:
      return "PageFlush";
    case 29:
      return "C1PageSent";
    case 30:
      return "C1PostPage";
    case 31:
      return "C1SendPPM";
    case 32:
      return "C1PpmSent";
    case 34:
      return "C1WaitPPR";
    case 35:
      return "C1SendDCN";
    case 36:
      return "C1DcnSent";
    case 37:
      return "C1Hangup";
    case 44:
      return "FaxDone";
    case 45:
      return "NoMoreFaxes";
    case 46:
      return "Error";
    case 47:
      return "Final";
    default:
      return "?";
  }
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

bool TKvSendFax::FaxNext(std::string &phone, std::string &faxFile, std::string &coverFile) {
  if (OnFaxNext) {
    phone.clear();
    faxFile.clear();
    coverFile.clear();
    OnFaxNext(*this, phone, faxFile, coverFile);
    PhoneNumber = phone;
    CoverFile = coverFile;
    FaxFile = faxFile;
    return !phone.empty();
  }
  if (alreadyGiven_) {
    phone.clear();
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
  state_ = 1;
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
    // Class 2 and 2.0 sessions are not carried yet; the state places are 4..8, 19, 20, 28, 38..43.
    return ecNotSupported;
  }
  switchBaud(normalBaud_);
  if (!queryModulations(false)) return ecFaxInitError;
  running_ = true;
  return ecOK;
}

bool TKvSendFax::stateReadsLines() const {
  switch (state_) {
    case 3:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
    case 16:
    case 17:
    case 18:
    case 29:
    case 31:
    case 32:
    case 34:
    case 35:
    case 36:
    case 37:
      return true;
    default:
      return false;
  }
}

void TKvSendFax::fail(Result code) {
  reportError(code);
  gotoState(46);
}

void TKvSendFax::closeFiles() {
  if (fax_) std::fclose(fax_);
  if (cover_) std::fclose(cover_);
  fax_ = cover_ = pageSrc_ = nullptr;
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

void TKvSendFax::writeStuffed(const std::uint8_t *p, std::size_t n, std::size_t minLen) {
  std::vector<std::uint8_t> out;
  out.reserve(n * 2 + minLen);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == t30::DLE) out.push_back(t30::DLE);
  }
  for (std::size_t i = n; i < minLen; ++i) out.push_back(0);
  putBytes(out.data(), out.size());
}

void TKvSendFax::writeBlankLine() {
  const std::uint8_t *b = pageWide_ ? kBlankWide : kBlankLine;
  std::vector<std::uint8_t> line(b, b + 6);
  if (minBytes_ >= 7) line.resize(line.size() + std::size_t(minBytes_ - 5), 0);
  putBytes(line.data(), line.size());
}

void TKvSendFax::padOutput() {
  int used = port_->outUsed();
  if (used <= BufferMinimum) {
    std::vector<std::uint8_t> zeros(std::size_t(BufferMinimum - used + 1), 0);
    putBytes(zeros.data(), zeros.size());
  }
}

void TKvSendFax::writeRows(const std::vector<std::vector<std::uint8_t>> &rows) {
  T4Encoder enc;
  const int width = pageWide_ ? kFaxLineWide : kFaxLineNormal;
  std::vector<std::uint8_t> line(std::size_t(width / 8), 0);
  for (const auto &row : rows) {
    std::fill(line.begin(), line.end(), 0);
    std::memcpy(line.data(), row.data(), std::min(row.size(), line.size()));
    auto rec = enc.encodeLine(line.data(), width);
    writeStuffed(rec.data(), rec.size(), std::size_t(std::max(minBytes_, 0)));
  }
}

// --- Files and pages ---------------------------------------------------------------------------

Result TKvSendFax::readPageHeader() {
  const ApfMainHeader &h = sendingCover_ ? coverHeader_ : faxHeader_;
  int n = sendingCover_ ? coverPage_ : pageNumber_.load();
  ApfPageHeader ph;
  Result r = apf::seekPage(pageSrc_, h, n, ph);
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
  return fax_ && (sendingCover_ || pageNumber_ < faxPages_);
}

Result TKvSendFax::openCover() {
  if (coverIsApf_) {
    Result r = apf::openForSending(coverName_, cover_, coverHeader_);
    if (r < 0) return r;
    ApfPageHeader ph;
    r = apf::seekPage(cover_, coverHeader_, 1, ph);
    if (r < 0) return r;
    coverPages_ = coverHeader_.pageCount;
    return ecOK;
  }
  errno = 0;
  cover_ = std::fopen(coverName_.c_str(), "rb");
  return cover_ ? ecOK : apf::lastError(ecFileNotFound);
}

Result TKvSendFax::nextPage() {
  if (sendingCover_ && coverPage_ < coverPages_) {
    ++coverPage_;
  } else if (sendingCover_) {
    if (cover_) std::fclose(cover_);
    cover_ = nullptr;
    coverName_.clear();
    sendingCover_ = false;
    pageSrc_ = fax_;
  } else {
    ++pageNumber_;
  }
  bytesSent_ = 0;
  return readPageHeader();
}

// --- States ------------------------------------------------------------------------------------

void TKvSendFax::stateNextFax() {
  // The answer lives in a shared box: a handler still running after the time-out must not
  // write into this thread's stack.
  struct Next {
    std::string phone, faxFile, coverFile;
    bool got = false;
  };
  auto box = std::make_shared<Next>();
  bool got =
      sendToMain([this, box] { box->got = FaxNext(box->phone, box->faxFile, box->coverFile); }) &&
      box->got;
  std::string phone, faxFile, coverFile;
  if (got) {
    phone = box->phone;
    faxFile = box->faxFile;
    coverFile = box->coverFile;
  }
  if (!got || phone.empty()) {
    gotoState(45);
    return;
  }
  phone_ = cut(phone, kModemStringMax);
  faxName_ = cut(faxFile, kPassStringMax);
  coverName_ = cut(coverFile, kPassStringMax);
  reportLog(lcTransmitStart);
  busyCount_ = 0;
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
    Result r = apf::openForSending(name, fax_, faxHeader_);
    if (r < 0) {
      fail(r);
      return;
    }
    faxPages_ = faxHeader_.pageCount;
  } else if (coverName_.empty()) {
    fail(ecNoFilename);
    return;
  }
  softwareFlow(false);
  gotoState(2);
}

void TKvSendFax::stateSetup() {
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
  if (fax_) {
    bool cover = sendingCover_;
    sendingCover_ = false;
    pageSrc_ = fax_;
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
      Result r = apf::seekPage(cover_, coverHeader_, 1, ph);
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
  // Class 1 is the only class carried; its first command selects the class.
  sendCommand("AT+FCLASS=1");
  gotoState(3, false);
}

void TKvSendFax::stateDial() {
  finalFrame_ = false;
  retrainRequested_ = false;
  cfrReceived_ = false;
  sendCommand(std::string(ToneDial ? "ATDT" : "ATDP") + DialPrefix + phone_);
  armTimeout(dialWaitTicks_);
  setProgress(fpDialing);
  gotoState(11, false);
}

void TKvSendFax::busyHandling() {
  ++busyCount_;
  if (DialAttempts != 0 && busyCount_ >= DialAttempts) {
    reportStatus(0);
    if (AbortNoConnect) {
      fail(ecFaxBusy);
      return;
    }
    closeFiles();
    reportError(ecFaxBusy);
    reportLog(lcTransmitFail);
    setProgress(fpInitModem);
    gotoState(1);
    return;
  }
  setProgress(fpBusyWait);
  armTimeout(retryWaitTicks_);
  gotoState(10, false);
}

void TKvSendFax::retrain() {
  retrainRequested_ = false;
  int idx = t30::stepDown(ownRates_, remoteRates_, rateIndex_);
  if (idx == 0) {
    fail(ecFaxTrainError);
    return;
  }
  rateIndex_ = idx;
  rateCode_ = t30::modulationCode(idx);
  lineRate_ = t30::modulationBps(idx);
  minBytes_ = t30::minBytesPerLine(scanCode_, fine_, lineRate_);
  delayMs(faxtime::kTurnaround);
  sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
  gotoState(13, false);
}

void TKvSendFax::stateFaxDone() {
  closeFiles();
  setProgress(fpFaxSent);
  reportLog(lcTransmitOk);
  switchBaud(initBaud_);
  gotoState(1);
}

void TKvSendFax::stateNoMore() {
  reportStatus(2);
  state_ = 47;
  finishSession();
}

void TKvSendFax::stateError() {
  closeFiles();
  reportLog(lcTransmitFail);
  if (port_->alive()) modemHangup();
  switchBaud(initBaud_);
  if (ExitOnError || AbortNoConnect || aborted_ || !port_->alive()) {
    setProgress(fpUserAbort);
    reportStatus(2);
    state_ = 47;
    finishSession();
    return;
  }
  gotoState(1);
}

void TKvSendFax::classOneLine(FaxEvent ev) {
  const bool timeout = ev == FaxEvent::Timeout;
  if (gotFrame_) {
    Result r = handleFrame(frame_, false);
    if (r < 0) fail(r);
    return;
  }
  const std::string &l = line_;
  if (contains(l, "CONNECT")) repeats_ = 0;
  if (!timeout && contains(l, "ERROR") && state_ != 34) {
    fail(ecFaxBadModemResult);
    return;
  }
  switch (state_) {
    case 3:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) return gotoState(9);
      return fail(ecFaxInitError);
    case 11:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) return;
      if (contains(l, "OK")) {
        if (finalFrame_) {
          finalFrame_ = false;
          delayMs(faxtime::kTurnaround);
          sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
          gotoState(12, false);
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
      return;
    case 12:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) return repeatTransmitCommand();
      if (contains(l, "CONNECT")) {
        delayMs(faxtime::kFrameLead);
        auto f = t30::frameBytes(t30::fcf::TSI, false, t30::stationIdInfo(StationID));
        putBytes(f.data(), f.size());
        gotoState(13, false);
      }
      return;
    case 13:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) return repeatTransmitCommand();
      if (contains(l, "CONNECT")) {
        t30::Params p;
        p.rateIndex = rateIndex_;
        p.fine = fine_;
        p.wide = wide_;
        p.scanCode = scanCode_;
        delayMs(faxtime::kFrameLead);
        auto f = t30::frameBytes(t30::fcf::DCS, true, t30::dcsInfo(p));
        putBytes(f.data(), f.size());
        gotoState(14, false);
      }
      return;
    case 14:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) {
        sendCommand("AT+FTM=" + rateCode_, faxtime::kClass1CmdDelay);
        gotoState(15, false);
      }
      return;
    case 15:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) {
        softwareFlow(true);
        std::size_t n = std::min<std::size_t>(std::size_t(lineRate_ / 100) * 18, 8192);
        std::vector<std::uint8_t> tcf(n, 0);
        tcf.push_back(t30::DLE);
        tcf.push_back(t30::ETX);
        putBytes(tcf.data(), tcf.size());
        armTimeout(faxtime::kResponseTicks);
        gotoState(16, false);
      }
      return;
    case 16:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) {
        softwareFlow(false);
        delayMs(faxtime::kTurnaround);
        cfrReceived_ = false;
        finalFrame_ = false;
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
        gotoState(17, false);
      }
      return;
    case 17:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) {
        if (!finalFrame_) {
          sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
          return;
        }
        finalFrame_ = false;
        if (cfrReceived_) {
          delayMs(faxtime::kTurnaround);
          sendCommand("AT+FTM=" + t30::pageCode(rateCode_), faxtime::kClass1CmdDelay);
          gotoState(18, false);
        } else if (retrainRequested_) {
          retrain();
        } else {
          delayMs(faxtime::kTurnaround);
          sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
          gotoState(13, false);
        }
      }
      return;
    case 18:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "CONNECT")) {
        armTimeout(
            std::max<std::int32_t>(1, std::int32_t(faxtime::kFirstByteTicks * delayScale())));
        // Look at once: a modem's XON often comes in the same read as its CONNECT.
        gotoState(21);
      }
      return;
    case 29:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) {
        attempts_ = 0;
        setProgress(fpSendEop);
        gotoState(30);
      }
      return;
    case 31:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) return repeatTransmitCommand();
      if (contains(l, "CONNECT")) {
        delayMs(faxtime::kFrameLead);
        auto f = t30::frameBytes(morePages() ? t30::fcf::MPS : t30::fcf::EOP, true);
        putBytes(f.data(), f.size());
        gotoState(32, false);
      }
      return;
    case 32:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) {
        delayMs(faxtime::kTurnaround);
        finalFrame_ = false;
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
        armTimeout(faxtime::kPostPageTicks);
        gotoState(34, false);
      }
      return;
    case 34: {
      if (timeout) {
        // No answer to the post-page message: stop listening and send it again.
        std::uint8_t blank = ' ';
        putBytes(&blank, 1);
        return gotoState(30);
      }
      if (contains(l, "CONNECT")) return;
      if (contains(l, "ERROR")) return gotoState(30);
      if (!contains(l, "OK")) return;
      if (!finalFrame_) {
        sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
        return;
      }
      finalFrame_ = false;
      t30::Kind k = t30::classify(lastFcf_);
      if (k == t30::Kind::Mcf || k == t30::Kind::Rtp) {
        setProgress(fpPageOk);
        if (morePages()) {
          Result r = nextPage();
          if (r < 0) return fail(r);
          if (k == t30::Kind::Mcf) {
            sendCommand("AT+FTM=" + t30::pageCode(rateCode_), faxtime::kClass1CmdDelay);
            return gotoState(18, false);
          }
          sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
          return gotoState(13, false);
        }
        sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
        return gotoState(35, false);
      }
      if (k == t30::Kind::Rtn || retrainRequested_) {
        // The page was not good enough: train again lower and send it again.
        setProgress(fpPageError);
        bytesSent_ = 0;
        if (sendingCover_ && !coverIsApf_ && cover_) std::rewind(cover_);
        return retrain();
      }
      sendCommand("AT+FRH=3", faxtime::kClass1CmdDelay);
      return;
    }
    case 35:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) return repeatTransmitCommand();
      if (contains(l, "CONNECT")) {
        delayMs(faxtime::kFrameLead);
        auto f = t30::frameBytes(t30::fcf::DCN, true);
        putBytes(f.data(), f.size());
        gotoState(36, false);
      }
      return;
    case 36:
      if (timeout) return fail(ecTimeout);
      if (contains(l, "OK")) {
        sendCommand("ATH");
        armTimeout(faxtime::kHangupTicks);
        gotoState(37, false);
      }
      return;
    case 37:
      if (timeout) {
        modemHangup();
        return gotoState(44);
      }
      if (contains(l, "OK")) gotoState(44);
      return;
    default:
      return;
  }
}

void TKvSendFax::repeatTransmitCommand() {
  // A modem still receiving takes the first byte of a command as the end of that reception
  // and answers OK; the rest of the command is lost. Say it again, a few times at most.
  if (++repeats_ > 3) return fail(ecFaxBadModemResult);
  sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
}

void TKvSendFax::pageReady() {
  if (port_->outFree() < kBlock) {
    port_->armOutFree(kBlock);
    armTimeout(faxtime::kPageDataTicks);
    return;
  }
  setProgress(fpSendPage);
  softwareFlow(true);
  gotoState(23);
}

void TKvSendFax::pageHeader() {
  fontRows_ = 16;
  for (int i = 0; i < 8; ++i) writeBlankLine();
  if (!HeaderLine.empty()) {
    padOutput();
    std::vector<std::vector<std::uint8_t>> rows;
    Result r = renderTextRows(substitute(HeaderLine), fontRows_, fine_, rows);
    if (r < 0) return fail(r);
    writeRows(rows);
  }
  padOutput();
  lastStatus_ = std::chrono::steady_clock::now();
  statusEvery_ = 3 * StatusInterval;
  if (sendingCover_ && !coverName_.empty()) return gotoState(24);
  gotoState(26);
}

void TKvSendFax::coverOpen() {
  if (!cover_) {
    Result r = openCover();
    if (r < 0) return fail(r);
  }
  if (coverIsApf_) {
    pageSrc_ = cover_;
    Result r = readPageHeader();
    if (r < 0) return fail(r);
    return gotoState(26);
  }
  fontRows_ = 48;
  setProgress(fpSendPage);
  gotoState(25);
}

void TKvSendFax::coverText() {
  armTimeout(faxtime::kPageDataTicks);
  while (port_->outFree() > kBlock) {
    char buf[kPassStringMax + 2];
    if (!std::fgets(buf, sizeof buf, cover_)) {
      if (std::ferror(cover_)) return fail(apf::lastError(ecDeviceRead));
      // End of the text: end the page with return-to-control so the far end sees it whole.
      writeStuffed(kApfPageEndRecord.data(), kApfPageEndRecord.size(),
                   std::size_t(std::max(minBytes_, 0)));
      static const std::uint8_t end[2] = {t30::DLE, t30::ETX};
      putBytes(end, 2);
      return gotoState(28);
    }
    std::string line(buf);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::vector<std::vector<std::uint8_t>> rows;
    Result r = renderTextRows(substitute(line), fontRows_, fine_, rows);
    if (r < 0) return fail(r);
    writeRows(rows);
  }
  port_->armOutFree(kBlock + 1);
}

void TKvSendFax::pageStart() {
  bytesSent_ = 0;
  pageStarted_ = std::chrono::steady_clock::now();
  if (!pageSrc_) pageSrc_ = sendingCover_ ? cover_ : fax_;
  Result r = readPageHeader();
  if (r < 0) return fail(r);
  gotoState(27);
}

void TKvSendFax::pageData() {
  // Bytes the modem sends during page data mean nothing to us.
  while (port_->getChar() >= 0) {
  }
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
      static const std::uint8_t end[2] = {t30::DLE, t30::ETX};
      putBytes(end, 2);
      return gotoState(28);
    }
    std::size_t got = 0;
    if (lengthWords_) {
      std::uint8_t lw[2];
      if (std::fread(lw, 1, 2, pageSrc_) != 2) return fail(ecReadBeyondEof);
      std::size_t len = std::size_t(lw[0] | lw[1] << 8);
      long remaining = pageLen_ - bytesSent_ - 2;
      len = std::min<std::size_t>(len, std::size_t(std::max(0L, remaining)));
      std::size_t take = std::min<std::size_t>(len, kBlock);
      got = std::fread(block.data(), 1, take, pageSrc_);
      if (got != take) return fail(ecReadBeyondEof);
      if (len > take) std::fseek(pageSrc_, long(len - take), SEEK_CUR);
      bytesSent_ += long(2 + len);
      writeStuffed(block.data(), got, std::size_t(std::max(minBytes_, 0)));
    } else {
      std::size_t take = std::size_t(std::min<long>(kBlock, pageLen_ - bytesSent_));
      got = std::fread(block.data(), 1, take, pageSrc_);
      if (got == 0) return fail(ecReadBeyondEof);
      bytesSent_ += long(got);
      writeStuffed(block.data(), got, 0);
    }
    auto now = std::chrono::steady_clock::now();
    if (now - lastStatus_ >= std::chrono::seconds(statusEvery_)) {
      lastStatus_ = now;
      statusEvery_ = 2 * StatusInterval;
      reportStatus(0);
    }
  }
  port_->armOutUsed(BufferMinimum);
}

void TKvSendFax::pageFlushed() {
  if (port_->outUsed() > 0) {
    port_->armOutUsed(0);
    armTimeout(faxtime::kPageDataTicks);
    return;
  }
  softwareFlow(false);
  armTimeout(faxtime::kResponseTicks + pageLineTicksLeft());
  gotoState(29);
}

// Our ring is empty, but the serial driver and the modem may still hold many seconds of the
// page (USB modems and ptys buffer far more than a UART). The modem answers only after the
// last bit has gone down the line, so the reply wait starts when the page can have been sent
// at the negotiated rate, not when our ring ran dry.
std::int32_t TKvSendFax::pageLineTicksLeft() const {
  const int bps = t30::modulationBps(rateIndex_);
  if (bps <= 0) return 0;
  const double lineMs = double(bytesSent_) * 8000.0 / bps * delayScale();
  const double spentMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - pageStarted_)
          .count();
  return lineMs > spentMs ? std::int32_t((lineMs - spentMs) / kTickMs) + 1 : 0;
}

void TKvSendFax::runState(FaxEvent ev) {
  if (stateReadsLines()) return classOneLine(ev);
  if (ev == FaxEvent::Timeout && (state_ == 22 || state_ == 25 || state_ == 27 || state_ == 28))
    return fail(ecTimeout);
  switch (state_) {
    case 1:
      return stateNextFax();
    case 2:
      return stateSetup();
    case 9:
      return stateDial();
    case 10:
      if (ev == FaxEvent::Timeout) return gotoState(9);
      while (port_->getChar() >= 0) {
      }
      return;
    case 21: {
      bool go = ev == FaxEvent::Timeout;
      for (int c; (c = port_->getChar()) >= 0;)
        if (c == 0x11) go = true;
      if (go) gotoState(22);
      return;
    }
    case 22:
      return pageReady();
    case 23:
      return pageHeader();
    case 24:
      return coverOpen();
    case 25:
      return coverText();
    case 26:
      return pageStart();
    case 27:
      return pageData();
    case 28:
      return pageFlushed();
    case 30:
      if (++attempts_ >= 4) return fail(ecTimeout);
      delayMs(faxtime::kPostPageFth);
      sendCommand("AT+FTH=3", faxtime::kClass1CmdDelay);
      return gotoState(31, false);
    case 44:
      return stateFaxDone();
    case 45:
      return stateNoMore();
    case 46:
      return stateError();
    // Class 2 and 2.0 states (set-up, dial result, negotiation, page end and post-page
    // status, hang-up report). Sessions of those classes are refused before the first
    // state, so reaching one is a fault of this machine.
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 19:
    case 20:
    case 38:
    case 39:
    case 40:
    case 41:
    case 42:
    case 43:
      return fail(ecNotSupported);
    default:
      return;
  }
}

}  // namespace kv
