// The parts of a Class 1 session both machines share: the modem's modulation list, and the
// bookkeeping of the frames received (station id, capabilities, settings, replies).
#include "fax/fax_session.h"

namespace kv {

bool TKvAbstractFax::queryModulations(Class1Negotiation &c1, bool receive) {
  c1.ownRates = {};
  if (!waitForResponse("AT+FCLASS=1")) return false;
  c1.ownRates[1] = c1.ownRates[2] = true;
  bool wasPolling = port_->polling();
  port_->setPolling(true);
  delayMs(faxtime::kCommandDelay);
  sendRaw(receive ? "AT+FRM=?\r" : "AT+FTM=?\r");
  // The list and the OK after it come together; once a line is in, the rest gets little time.
  readReply(
      [&](const std::string &l) {
        if (l.find("OK") != std::string::npos || l.find("ERROR") != std::string::npos) return true;
        if (l.find(',') != std::string::npos) {
          auto r = t30::parseModulationList(l);
          for (int i = 3; i <= t30::kModCount; ++i) c1.ownRates[i] = r[i];
        }
        return false;
      },
      faxtime::kReplyRestTicks);
  port_->flushIn();
  port_->setPolling(wasPolling);
  c1.rateIndex = 1;
  for (int i = t30::kModCount; i >= 1; --i)
    if (c1.ownRates[i]) {
      c1.rateIndex = i;
      break;
    }
  if (receive) {
    while (c1.rateIndex > 1 && t30::modulationBps(c1.rateIndex) > DesiredBPS) --c1.rateIndex;
  }
  c1.rateCode = t30::modulationCode(c1.rateIndex);
  return true;
}

Result TKvAbstractFax::handleFrame(Class1Negotiation &c1, const t30::Frame &f, bool dcnExpected) {
  c1.lastFcf = f.fcf;
  if (f.final) c1.finalFrame = true;
  switch (f.kind) {
    case t30::Kind::StationId:
      setPartnerId(t30::stationIdFromInfo(f.info, f.infoLen));
      setProgress(fpGotRemoteId);
      break;
    case t30::Kind::Dis: {
      auto caps = t30::readDis(f.info, f.infoLen);
      c1.remoteRates = caps.rates;
      c1.remoteFine = caps.fine;
      c1.remoteWide = caps.wide;
      c1.remote2D = caps.twoD;
      c1.scanCode = caps.scanCode;
      if ((fine_ && !caps.fine) || (wide_ && !caps.wide)) return ecFaxBadMachine;
      int idx = t30::chooseIndex(c1.ownRates, c1.remoteRates, DesiredBPS);
      if (idx == 0) idx = 1;
      c1.rateIndex = idx;
      c1.rateCode = t30::modulationCode(idx);
      lineRate_ = t30::modulationBps(idx);
      c1.minBytes = t30::minBytesPerLine(c1.scanCode, fine_, lineRate_);
      c1.minBits = t30::minBitsPerLine(c1.scanCode, fine_, lineRate_);
      setProgress(fpSessionParams);
      break;
    }
    case t30::Kind::Dcs: {
      auto d = t30::readDcs(f.info, f.infoLen);
      lineRate_ = d.bps;
      c1.rateCode = d.code;
      c1.rateIndex = t30::modulationIndex(d.bps);
      if (c1.rateIndex == 0) c1.rateIndex = 1;
      fine_ = d.fine;
      wide_ = d.wide;
      c1.scanCode = d.scanCode;
      c1.remote2D = d.twoD;
      c1.minBytes = t30::minBytesPerLine(c1.scanCode, fine_, lineRate_);
      c1.minBits = t30::minBitsPerLine(c1.scanCode, fine_, lineRate_);
      setProgress(fpSessionParams);
      break;
    }
    case t30::Kind::Cfr:
      c1.cfrReceived = true;
      break;
    case t30::Kind::Ftt:
    case t30::Kind::Rtn:
      c1.retrainRequested = true;
      break;
    case t30::Kind::Dcn:
      if (!dcnExpected) return ecCancelRequested;
      break;
    default:
      break;
  }
  return ecOK;
}

void TKvAbstractFax::noteFrameStart(Class1Negotiation &c1) {
  if (gotFrame_) {
    c1.missedFrames = 0;
    return;
  }
  if (line_.find("CONNECT") != std::string::npos) c1.refusedTransmits = 0;
  const bool listening = lastCommand_ == "AT+FRH=3" || lastCommand_.compare(0, 3, "ATD") == 0;
  if (line_.find("CONNECT") != std::string::npos) c1.frameStarted = listening;
  if (line_.find("OK") != std::string::npos) c1.frameStarted = false;
}

bool TKvAbstractFax::missedFrame(Class1Negotiation &c1) {
  // T.31: a frame whose check sequence is wrong ends with ERROR instead of OK. A reception
  // that lost the carrier before a frame ended says NO CARRIER, one that met another
  // modulation (the tail of the far end's page, say) +FCERROR. T.30 takes each as a frame not
  // received: the far end repeats it, or we repeat what it answers. The modem's answer to a
  // stopped reception is none of these.
  if (c1.stopping) return false;
  const bool error = line_.find("ERROR") != std::string::npos;
  const bool damaged = c1.frameStarted && error;
  const bool unheard =
      lastCommand_ == "AT+FRH=3" && (error || line_.find("NO CARRIER") != std::string::npos);
  if (!damaged && !unheard) return false;
  c1.frameStarted = false;
  ++c1.missedFrames;
  return true;
}

bool TKvAbstractFax::retryRefusedTransmit(Class1Negotiation &c1) {
  // A modem still hearing the far end's carrier, or not yet done with its last reception, may
  // refuse to start sending with ERROR. The far end waits its T4 for our frame or repeats its
  // own, so a pause and the same command again keep the call; a modem that goes on refusing
  // is at fault.
  const bool transmit =
      lastCommand_.compare(0, 6, "AT+FTH") == 0 || lastCommand_.compare(0, 6, "AT+FTM") == 0;
  if (!transmit || line_.find("ERROR") == std::string::npos) return false;
  if (++c1.refusedTransmits > faxtime::kMaxRefusedTransmits) return false;
  const std::string command = lastCommand_;
  delayMs(faxtime::kTurnaround);
  sendCommand(command, faxtime::kClass1CmdDelay);
  return true;
}

void TKvAbstractFax::stopReception(Class1Negotiation &c1) {
  c1.stopping = true;
  const std::uint8_t stop = ' ';  // any byte stops a reception
  putBytes(&stop, 1);
  armTimeout(faxtime::kT4Ticks);
}

}  // namespace kv
