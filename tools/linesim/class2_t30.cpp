// The emulated Class 2 modem's own T.30, over the port's Class 1 modem: dialling and the
// sender's phases B to E, answering and the receiver's.
#include <algorithm>
#include <cstdio>

#include "class2_frames.h"
#include "class2_modem.h"
#include "modem_port.h"
#include "sim_log.h"
#include "spandsp_include.h"

namespace kv::linesim {

using namespace c2;

// --- the Class 1 modem underneath ---------------------------------------------------------

void Class2Modem::command(const std::string &cmd) {
  if (SimLog::verbosity >= 2) logAt(2, "%c: t30> %s", port_.name(), cmd.c_str());
  forModem_ += cmd + '\r';
}

void Class2Modem::sendFrame(std::uint8_t f, bool final, const std::vector<std::uint8_t> &info) {
  std::string s;
  auto put = [&](std::uint8_t b) {
    s += static_cast<char>(b);
    if (b == kDle) s += static_cast<char>(kDle);
  };
  put(0xFF);
  put(final ? 0x13 : 0x03);
  put(f);
  for (auto b : info) put(b);
  s += static_cast<char>(kDle);
  s += static_cast<char>(kEtx);
  forModem_ += s;
}

void Class2Modem::go(St s, double seconds) {
  st_ = s;
  deadline_ = seconds > 0 ? block_ + static_cast<std::int64_t>(seconds * kBlocksPerSecond) : -1;
}

void Class2Modem::tick(std::int64_t block) {
  const bool newBlock = block != block_;
  block_ = block;
  if (mode_ == Mode::Transparent) return;
  // Received page data goes to the program a block at a time.
  if (newBlock && delivering_) deliver();
  if (deadline_ >= 0 && block >= deadline_) {
    deadline_ = -1;
    timeout();
  }
}

bool Class2Modem::fromModem(const std::uint8_t *p, std::size_t n) {
  if (mode_ == Mode::Transparent) return false;
  for (std::size_t i = 0; i < n; ++i) modemByte(p[i]);
  return true;
}

void Class2Modem::modemByte(std::uint8_t b) {
  if (rx_ == Rx::Frame && !rxInFrame_ && b == 0xFF) {
    rxInFrame_ = true;
    rxDle_ = false;
    rxFrame_.assign(1, 0xFF);
    return;
  }
  if ((rx_ == Rx::Frame && rxInFrame_) || rx_ == Rx::Data) {
    if (rxDle_) {
      rxDle_ = false;
      if (b == kEtx) {
        if (rx_ == Rx::Frame) {
          rxInFrame_ = false;
          rx_ = Rx::Lines;
          frameOk_ = true;  // the result line that follows says whether the FCS was good
        } else {
          rx_ = Rx::Lines;
          dataEnd();
        }
        return;
      }
      if (b != kDle) return;  // other DLE pairs carry nothing for us
    } else if (b == kDle) {
      rxDle_ = true;
      return;
    }
    if (rx_ == Rx::Frame) {
      if (rxFrame_.size() < 300) rxFrame_.push_back(b);
    } else {
      dataByte(b);
    }
    return;
  }
  if (b == '\r' || b == '\n') {
    if (!rxLine_.empty()) {
      std::string line;
      line.swap(rxLine_);
      modemLine(line);
    }
    return;
  }
  if (rxLine_.size() < 256) rxLine_ += static_cast<char>(b);
}

void Class2Modem::abortModem() {
  // Sending data: end it. Receiving: any byte stops it (the modem answers OK).
  int m = port_.atMode();
  if (m == AT_MODE_STUFFED || m == AT_MODE_HDLC) {
    forModem_ += static_cast<char>(kDle);
    forModem_ += static_cast<char>(kEtx);
  } else if (m == AT_MODE_CONNECTED || m == AT_MODE_DELIVERY) {
    forModem_ += '\x18';
  }
}

void Class2Modem::listenFrames() {
  rx_ = Rx::Frame;
  rxInFrame_ = false;
  rxFrame_.clear();
}

void Class2Modem::modemLine(const std::string &line) {
  if (SimLog::verbosity >= 2) logAt(2, "%c: t30< %s", port_.name(), line.c_str());
  const bool ok = line == "OK", connect = line.rfind("CONNECT", 0) == 0;
  const bool error = line == "ERROR", noCarrier = line == "NO CARRIER";
  if (line == "RING") {
    if (st_ == St::Idle) report("RING");
    return;
  }
  switch (st_) {
    case St::Idle:
      // The modem answered by itself (S0): the call is ours now.
      if (connect) {
        callOver_ = false;
        pages_.clear();
        hangup_ = 0;
        remoteId_.clear();
        answeredReported_ = false;
        fconSent_ = false;
        lastPost_ = -1;
        startDis();
      }
      return;
    case St::Dialling:
      if (connect) {
        report(v20() ? "+FCO" : "+FCON");
        listenFrames();
        go(St::CallerFrames, 10);
      } else if (!ok) {
        // BUSY, NO ANSWER, NO CARRIER, NO DIALTONE, ERROR: the call never started.
        st_ = St::Idle;
        deadline_ = -1;
        result(line.c_str());
      }
      return;
    case St::CallerFrames:
    case St::CfrFrame:
    case St::McfFrame:
    case St::DcsFrame:
    case St::PostFrame:
    case St::DcnFrame:
      if (connect) {
        listenFrames();
        return;
      }
      if (ok && frameOk_) {
        frameOk_ = false;
        rxRetries_ = 0;
        std::vector<std::uint8_t> f;
        f.swap(rxFrame_);
        // Drop the two FCS bytes the modem leaves at the end.
        if (f.size() >= 5) f.resize(f.size() - 2);
        if (f.size() < 3) return listenFrames();
        if (st_ == St::CallerFrames || st_ == St::CfrFrame || st_ == St::McfFrame)
          callerFrame(f);
        else
          answerFrame(f);
        return;
      }
      if (error || noCarrier || ok) {
        // A spoilt frame or none at all: listen again until the state's time runs out.
        frameOk_ = false;
        if (st_ == St::DcnFrame) return endCall(0);
        if (++rxRetries_ > 8) return fail(st_ >= St::Answering ? 72 : 22);
        command("AT+FRH=3");
        return;
      }
      return;
    case St::DcsFth:
      if (connect) {
        sendFrame(fcf::TSI, false, idInfo(localId_));
        go(St::DcsTsiSent, 5);
      } else if (error) {
        fail(20);
      }
      return;
    case St::DcsTsiSent:
      if (connect) {
        std::vector<std::uint8_t> dcs(3, 0);
        const Rate *r = rateFor(bps_, remoteV17_, remoteV29_);
        dcs[1] = static_cast<std::uint8_t>(0x02 | r->dcsBits | (session_.v[0] ? 0x40 : 0) |
                                           (session_.v[4] == 1 ? 0x80 : 0));
        dcs[2] =
            static_cast<std::uint8_t>((session_.v[2] ? 0x01 : 0) | (session_.v[3] == 2 ? 0x04 : 0) |
                                      dcsScan(scanMs(session_.v[7], session_.v[0])));
        sendFrame(fcf::DCS, true, dcs);
        go(St::DcsSent, 5);
      } else if (error) {
        fail(20);
      }
      return;
    case St::DcsSent:
      if (ok) {
        command("AT+FTS=8");
        go(St::TcfPause, 5);
      } else if (error) {
        fail(20);
      }
      return;
    case St::TcfPause:
      if (ok || error) {
        const Rate *r = rateFor(bps_, remoteV17_, remoteV29_);
        command(std::string("AT+FTM=") + r->tcf);
        go(St::TcfFtm, 5);
      }
      return;
    case St::TcfFtm:
      if (connect) {
        forModem_.append(static_cast<std::size_t>(bps_ * 3 / 16), '\0');
        forModem_ += static_cast<char>(kDle);
        forModem_ += static_cast<char>(kEtx);
        go(St::TcfSent, 10);
      } else if (error) {
        fail(27);
      }
      return;
    case St::TcfSent:
      if (ok) {
        command("AT+FRH=3");
        go(St::CfrWait, 3);
      } else if (error) {
        fail(27);
      }
      return;
    case St::CfrWait:
      if (connect) {
        listenFrames();
        st_ = St::CfrFrame;
      } else if (error) {
        fail(24);
      } else if (noCarrier || ok) {
        command("AT+FRH=3");
      }
      return;
    case St::PageFtm:
      if (connect) {
        report("CONNECT");
        // The program may send now; Class 2 modems say so with XON.
        toHost(std::string(1, static_cast<char>(kXon)));
        hostDle_ = false;
        lastHostData_ = block_;
        go(St::PageOut, 0);
        deadline_ = block_ + 30 * kBlocksPerSecond;
      } else if (error) {
        fail(40);
      }
      return;
    case St::PageDrain:
      if (ok) {
        if (post_ >= 0) return startPost();
        // Class 2: the page is out; the program says what follows with +FET.
        result("OK");
        go(St::WaitFet, 60);
      } else if (error || noCarrier) {
        fail(40);
      }
      return;
    case St::PostPause:
      if (ok || error) {
        command("AT+FTH=3");
        go(St::PostFth, 5);
      }
      return;
    case St::PostFth:
      if (connect) {
        sendFrame(post_ == 2 ? fcf::EOP : post_ == 1 ? fcf::EOM : fcf::MPS, true);
        go(St::PostSent, 5);
      } else if (error) {
        fail(50);
      }
      return;
    case St::PostSent:
      if (ok) {
        command("AT+FRH=3");
        go(St::McfWait, 3);
      } else if (error) {
        fail(50);
      }
      return;
    case St::McfWait:
      if (connect) {
        listenFrames();
        st_ = St::McfFrame;
      } else if (error) {
        fail(51);
      } else if (noCarrier || ok) {
        command("AT+FRH=3");
      }
      return;
    case St::DcnFth:
      if (connect) {
        sendFrame(fcf::DCN, true);
        go(St::DcnSent, 5);
      } else if (error) {
        endCall(hangup_);
      }
      return;
    case St::DcnSent:
      if (ok || error || noCarrier) endCall(hangup_);
      return;
    case St::Hanging:
      if (ok || error) {
        const bool fk = fkRequested_;
        fkRequested_ = false;
        st_ = St::Idle;
        deadline_ = -1;
        rx_ = Rx::Lines;
        if (fk) report(hangupReport(2));
        result("OK");
      }
      return;
    case St::Answering:
      if (connect) {
        startDis();
      } else if (!ok) {
        st_ = St::Idle;
        deadline_ = -1;
        result(line.c_str());
      }
      return;
    case St::DisCsiSent:
      if (connect) {
        std::vector<std::uint8_t> dis(3, 0);
        int br = recvCaps_.v[1];
        std::uint8_t rates = br >= 4 ? 0x2C : br >= 2 ? 0x0C : br == 1 ? 0x08 : 0x00;
        // Bit 16 offers two-dimensional coding when the program's df allows it.
        dis[1] = static_cast<std::uint8_t>(0x02 | rates | (recvCaps_.v[0] ? 0x40 : 0) |
                                           (recvCaps_.v[4] == 1 ? 0x80 : 0));
        dis[2] = static_cast<std::uint8_t>((recvCaps_.v[2] ? 0x01 : 0) |
                                           (recvCaps_.v[3] == 2   ? 0x04
                                            : recvCaps_.v[3] == 1 ? 0x08
                                                                  : 0) |
                                           kDisScan[recvCaps_.v[7] & 7]);
        sendFrame(fcf::DIS, true, dis);
        go(St::DisSent, 5);
      } else if (error || noCarrier) {
        fail(70);
      }
      return;
    case St::DisSent:
      if (ok) {
        command("AT+FRH=3");
        go(St::DcsWait, 4);
      } else if (error || noCarrier) {
        fail(70);
      }
      return;
    case St::DcsWait:
    case St::PostWait:
    case St::DcnWait:
      if (connect) {
        listenFrames();
        st_ = st_ == St::DcsWait    ? St::DcsFrame
              : st_ == St::PostWait ? St::PostFrame
                                    : St::DcnFrame;
      } else if (st_ == St::DcnWait && (noCarrier || error)) {
        endCall(0);
      } else if (error) {
        fail(st_ == St::DcsWait ? 71 : 100);
      } else if (noCarrier || ok) {
        command("AT+FRH=3");
      }
      return;
    case St::TcfIn:
      if (connect) {
        rx_ = Rx::Data;
        rxDle_ = false;
        tcfBytes_ = tcfNonZero_ = 0;
      } else if (line == "+FCERROR" || noCarrier || error) {
        // The caller's frames instead of its training: listen for them.
        command("AT+FRH=3");
        go(St::DcsWait, 4);
      }
      return;
    case St::TcfDone:
      if (noCarrier || ok || error) {
        // A good check has almost only zeros and enough of them.
        long want = session_.v[1] >= 0 ? bpsFor(session_.v[1]) * 3 / 16 : 0;
        bool good = tcfBytes_ >= want / 3 && tcfNonZero_ * 10 < tcfBytes_;
        logAt(1, "%c: training check %ld bytes, %ld not zero: %s", port_.name(), tcfBytes_,
              tcfNonZero_, good ? "good" : "bad");
        command("AT+FTH=3");
        go(St::CfrFth, 5);
        tcfGood_ = good;
      }
      return;
    case St::CfrFth:
      if (connect) {
        if (tcfGood_) {
          sendFrame(fcf::CFR, true);
          go(St::CfrSent, 5);
        } else {
          sendFrame(fcf::FTT, true);
          go(St::DisSent, 5);  // then listen for the next DCS
        }
      } else if (error) {
        fail(70);
      }
      return;
    case St::CfrSent:
      if (ok) {
        if (!answeredReported_) {
          answeredReported_ = true;
          report((v20() ? "+FTI:\"" : "+FTSI:") + remoteId_ + (v20() ? "\"" : ""));
          report((v20() ? "+FCS:" : "+FDCS:") + paramsText(session_));
          result("OK");
        }
        pages_.emplace_back();
        const Rate *r = rateFromDcs(rxRateBits_);
        command(std::string("AT+FRM=") + r->page);
        go(St::PageFrm, 10);
      } else if (error) {
        fail(70);
      }
      return;
    case St::PageFrm:
      if (connect) {
        rx_ = Rx::Data;
        rxDle_ = false;
        go(St::PageIn, 0);
      } else if (line == "+FCERROR" || noCarrier || error) {
        // The caller repeats its DCS (our CFR was lost) or is gone: listen for frames.
        pages_.pop_back();
        command("AT+FRH=3");
        go(St::DcsWait, 4);
      }
      return;
    case St::PageInEnd:
      if (noCarrier || ok || error) {
        command("AT+FRH=3");
        go(St::PostWait, 5);
      }
      return;
    case St::McfFth:
      if (connect) {
        sendFrame(fcf::MCF, true);
        go(St::McfSent, 5);
      } else if (error) {
        fail(100);
      }
      return;
    case St::McfSent:
      if (ok) {
        pages_.back().done = true;
        const int post = pages_.back().post;
        deliver();
        if (post == 2) {
          command("AT+FRH=3");
          go(St::DcnWait, 5);
        } else {
          pages_.emplace_back();
          const Rate *r = rateFromDcs(rxRateBits_);
          command(std::string("AT+FRM=") + r->page);
          go(St::PageFrm, 10);
        }
      } else if (error) {
        fail(100);
      }
      return;
    default:
      return;
  }
}

void Class2Modem::timeout() {
  switch (st_) {
    case St::CallerFrames:
      return fail(11);
    case St::CfrWait:
    case St::CfrFrame:
      // No answer to the training: abort the listening and send DCS again, three times.
      abortModem();
      if (++tries_ >= 3) return fail(25);
      rx_ = Rx::Lines;
      command("AT+FTH=3");
      st_ = St::DcsFth;
      deadline_ = block_ + 5 * kBlocksPerSecond;
      return;
    case St::McfWait:
    case St::McfFrame:
      abortModem();
      if (++tries_ >= 3) return fail(post_ == 2 ? 54 : 52);
      rx_ = Rx::Lines;
      command("AT+FTH=3");
      st_ = St::PostFth;
      deadline_ = block_ + 5 * kBlocksPerSecond;
      return;
    case St::DcsWait:
    case St::DcsFrame:
      // Nothing after our DIS: say it again, three times.
      abortModem();
      if (++dcsRepeats_ >= 3) return fail(70);
      rx_ = Rx::Lines;
      command("AT+FTH=3");
      st_ = St::Answering;
      deadline_ = block_ + 5 * kBlocksPerSecond;
      return;
    case St::DcnWait:
    case St::DcnFrame:
      abortModem();
      return endCall(0);
    case St::PageOut:
      if (block_ - lastHostData_ >= 30 * kBlocksPerSecond) return fail(43);
      deadline_ = block_ + kBlocksPerSecond;
      return;
    case St::PageIn:
      return;
    case St::Hanging:
      st_ = St::Idle;
      return result("OK");
    default:
      return fail(st_ >= St::Answering ? 90 : 50);
  }
}

void Class2Modem::fail(int code) {
  logAt(1, "%c: fax call fails, hang-up code %d", port_.name(), code);
  hangup_ = code;
  rx_ = Rx::Lines;
  abortModem();
  command("ATH0");
  st_ = St::Idle;
  deadline_ = -1;
  callOver_ = true;
  if (!pages_.empty() && !pages_.back().done) {
    pages_.back().done = true;
    pages_.back().post = -2;  // broken off
  }
  if (delivering_) return deliver();
  report(hangupReport(code));
  callOver_ = false;
  if (hostWaiting_) result("ERROR");
}

void Class2Modem::endCall(int code) {
  hangup_ = code;
  rx_ = Rx::Lines;
  command("ATH0");
  st_ = St::Idle;
  deadline_ = -1;
  if (hostWaiting_ && !delivering_) {
    // The sender's last page is through, or the receiver asked for more after the last one:
    // the end is the answer to its command.
    report(hangupReport(code));
    result("OK");
    callOver_ = false;
    lastPost_ = -1;
  } else {
    callOver_ = true;  // the receiving program hears it at its next +FDR
  }
}

std::string Class2Modem::hangupReport(int code) const {
  char buf[32];
  // Class 2.0 writes the codes of the Class 2 table in hexadecimal digits (101 is A1).
  std::snprintf(buf, sizeof buf, v20() ? "+FHS:%02X" : "+FHNG:%d",
                v20() ? (code / 10) * 16 + code % 10 : code);
  return buf;
}

// --- calling: T.30 of the sender ----------------------------------------------------------

void Class2Modem::callerFrame(const std::vector<std::uint8_t> &f) {
  const std::uint8_t k = kind(f[2]);
  const bool final = f[1] == 0x13;
  const std::uint8_t *info = f.data() + 3;
  const std::size_t n = f.size() - 3;
  if (st_ == St::CallerFrames) {
    if (k == kind(fcf::CSI)) remoteId_ = idFromInfo(info, n);
    if (k == kind(fcf::DIS) && n >= 2) {
      const std::uint8_t b1 = info[1], b2 = n >= 3 ? info[2] : 0;
      remoteV29_ = b1 & 0x04;
      remoteV27_ = b1 & 0x08;
      remoteV17_ = (b1 & 0x2C) == 0x2C;
      remote_.v[0] = b1 & 0x40 ? 1 : 0;
      remote_.v[4] = b1 & 0x80 ? 1 : 0;
      remote_.v[1] = remoteV17_ ? 5 : remoteV29_ ? 3 : remoteV27_ ? 1 : 0;
      remote_.v[2] = b2 & 0x03 ? 1 : 0;
      remote_.v[3] = b2 & 0x04 ? 2 : b2 & 0x08 ? 1 : 0;
      remote_.v[7] = stFromDis(b2);
    }
    if (!final || k != kind(fcf::DIS)) {
      command("AT+FRH=3");
      return;
    }
    report((v20() ? "+FCI:\"" : "+FCSI:") + remoteId_ + (v20() ? "\"" : ""));
    report((v20() ? "+FIS:" : "+FDIS:") + paramsText(remote_));
    result("OK");
    rx_ = Rx::Lines;
    go(St::CallerReady, 60);
    return;
  }
  if (st_ == St::CfrFrame) {
    if (k == kind(fcf::CFR)) {
      needDcs_ = false;
      return startPage();
    }
    if (k == kind(fcf::FTT)) {
      // Train lower and try again.
      int next = 0;
      for (int bps : {12000, 9600, 7200, 4800, 2400})
        if (bps < bps_ && (bps >= 12000 ? remoteV17_ : true)) {
          next = bps;
          break;
        }
      if (!next) return fail(27);
      bps_ = next;
      session_.v[1] = brFor(bps_);
      logAt(1, "%c: training failed, trying %d bit/s", port_.name(), bps_);
      command("AT+FTH=3");
      go(St::DcsFth, 5);
      return;
    }
    if (k == kind(fcf::DCN)) return fail(21);
    command("AT+FRH=3");
    st_ = St::CfrWait;
    return;
  }
  if (st_ == St::McfFrame) {
    int status = 0;
    if (k == kind(fcf::MCF)) status = 1;
    if (k == kind(fcf::RTN)) status = 2;
    if (k == kind(fcf::RTP)) status = 3;
    if (k == kind(fcf::PIN)) status = 4;
    if (k == kind(fcf::PIP)) status = 5;
    if (k == kind(fcf::DCN)) return fail(53);
    if (!status) {
      command("AT+FRH=3");
      st_ = St::McfWait;
      return;
    }
    pageResult(status);
  }
}

void Class2Modem::startDcs() {
  // Session: what the program asked for, within what the remote can do.
  session_ = sendCaps_;
  session_.v[0] = sendCaps_.v[0] && remote_.v[0] ? 1 : 0;
  session_.v[2] = sendCaps_.v[2] && remote_.v[2] ? 1 : 0;
  session_.v[3] = remote_.v[3] == 2 ? 2 : 0;
  // MR only when both ask for it; the modem passes the program's data on as it is.
  session_.v[4] = sendCaps_.v[4] == 1 && remote_.v[4] == 1 ? 1 : 0;
  session_.v[5] = session_.v[6] = 0;
  session_.v[7] = stForMs(scanMs(remote_.v[7], session_.v[0]));
  tries_ = 0;
  if (bps_ == 0) {
    bps_ = std::min(bpsFor(sendCaps_.v[1]), bpsFor(remote_.v[1]));
    if (bps_ == 4800 && !remoteV27_) bps_ = 2400;
  }
  session_.v[1] = brFor(bps_);
  command("AT+FTH=3");
  go(St::DcsFth, 5);
}

void Class2Modem::startPage() {
  report((v20() ? "+FCS:" : "+FDCS:") + paramsText(session_));
  const Rate *r = rateFor(bps_, remoteV17_, remoteV29_);
  post_ = -1;
  command(std::string("AT+FTM=") + r->page);
  go(St::PageFtm, 5);
}

void Class2Modem::hostData(const char *p, std::size_t n) {
  lastHostData_ = block_;
  for (std::size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (hostDle_) {
      hostDle_ = false;
      if (c == kEtx || (v20() && (c == ',' || c == '.' || c == ';'))) {
        // End of the page: Class 2.0 says in the stream what follows.
        if (c == ',') post_ = 0;
        if (c == ';') post_ = 1;
        if (c == '.') post_ = 2;
        forModem_ += static_cast<char>(kDle);
        forModem_ += static_cast<char>(kEtx);
        go(St::PageDrain, 120);
        // Whatever follows is a command.
        if (i + 1 < n) fromHost(p + i + 1, n - i - 1);
        return;
      }
      if (c == kDle) {
        forModem_ += static_cast<char>(kDle);
        forModem_ += static_cast<char>(kDle);
      }
      continue;
    }
    if (c == kDle) {
      hostDle_ = true;
      continue;
    }
    forModem_ += c;
  }
}

void Class2Modem::startPost() {
  tries_ = 0;
  command("AT+FTS=8");
  go(St::PostPause, 5);
}

void Class2Modem::pageResult(int status) {
  pageStatus_ = status;
  if (status == 2 || status == 3) needDcs_ = true;
  const bool good = status == 1 || status == 3;
  if (post_ == 2 && good) {
    // Last page delivered: say goodbye.
    if (!v20()) report("+FPTS:" + std::to_string(status));
    command("AT+FTH=3");
    go(St::DcnFth, 5);
    hangup_ = 0;
    return;
  }
  if (v20()) {
    if (!good) {
      result("ERROR");
    } else {
      result("OK");
    }
  } else {
    report("+FPTS:" + std::to_string(status));
    result("OK");
  }
  if (status >= 4) return fail(50);
  go(St::CallerReady, 60);
}

// --- answering: T.30 of the receiver ------------------------------------------------------

void Class2Modem::startDis() {
  if (!fconSent_) {
    fconSent_ = true;
    dcsRepeats_ = 0;
    report(v20() ? "+FCO" : "+FCON");
  }
  sendFrame(fcf::CSI, false, idInfo(localId_));
  go(St::DisCsiSent, 5);
}

void Class2Modem::answerFrame(const std::vector<std::uint8_t> &f) {
  const std::uint8_t k = kind(f[2]);
  const std::uint8_t *info = f.data() + 3;
  const std::size_t n = f.size() - 3;
  if (st_ == St::DcsFrame) {
    if (k == kind(fcf::TSI)) remoteId_ = idFromInfo(info, n);
    if (k == kind(fcf::DCN)) return fail(70);
    if (k == kind(fcf::DCS) && n >= 2) {
      const std::uint8_t b1 = info[1], b2 = n >= 3 ? info[2] : 0;
      const Rate *r = rateFromDcs(b1);
      session_.v[0] = b1 & 0x40 ? 1 : 0;
      session_.v[1] = brFor(r->bps);
      session_.v[2] = b2 & 0x01 ? 1 : 0;
      session_.v[3] = b2 & 0x04 ? 2 : b2 & 0x08 ? 1 : 0;
      session_.v[4] = b1 & 0x80 ? 1 : 0;  // the pages come in MR
      session_.v[5] = session_.v[6] = 0;
      rxRateBits_ = b1 & 0x3C;
      session_.v[7] = stForMs(msFromDcs(b2));
      command(std::string("AT+FRM=") + r->tcf);
      go(St::TcfIn, 5);
      return;
    }
    command("AT+FRH=3");
    st_ = St::DcsWait;
    return;
  }
  if (st_ == St::PostFrame) {
    int post = k == kind(fcf::MPS) ? 0 : k == kind(fcf::EOM) ? 1 : k == kind(fcf::EOP) ? 2 : -1;
    if (k == kind(fcf::DCN)) return fail(100);
    if (k == kind(fcf::DCS)) {
      // The caller retrains (after our RTN or a lost MCF): handle as at the start.
      st_ = St::DcsFrame;
      return answerFrame(f);
    }
    if (post < 0) {
      command("AT+FRH=3");
      st_ = St::PostWait;
      return;
    }
    // The page goes to the program once our MCF is out: a program told "page good" at once
    // might hang up before the caller heard it.
    pages_.back().post = post;
    command("AT+FTH=3");
    go(St::McfFth, 5);
    return;
  }
  if (st_ == St::DcnFrame) {
    if (k == kind(fcf::DCN)) return endCall(0);
    command("AT+FRH=3");
    st_ = St::DcnWait;
  }
}

void Class2Modem::dataByte(std::uint8_t b) {
  if (st_ == St::TcfIn) {
    ++tcfBytes_;
    if (b) ++tcfNonZero_;
    return;
  }
  if (st_ == St::PageIn && !pages_.empty()) {
    pages_.back().data += static_cast<char>(b);
  }
}

void Class2Modem::dataEnd() {
  if (st_ == St::TcfIn) {
    go(St::TcfDone, 5);
    return;
  }
  if (st_ == St::PageIn) go(St::PageInEnd, 5);
}

void Class2Modem::receivePage() {
  // +FDR: the next page goes to the program once it says DC2 (Class 2.0 does not wait).
  report((v20() ? "+FCS:" : "+FDCS:") + paramsText(session_));
  report("CONNECT");
  delivering_ = true;
  delivered_ = 0;
  waitDc2_ = !v20();
  deliver();
}

void Class2Modem::deliver() {
  if (!delivering_ || waitDc2_ || pages_.empty()) {
    if (delivering_ && pages_.empty() && callOver_) {
      // The call ended before another page came.
      delivering_ = false;
      toHost(std::string{static_cast<char>(kDle), static_cast<char>(kEtx)});
      report(hangupReport(hangup_));
      callOver_ = false;
      result(hangup_ ? "ERROR" : "OK");
    }
    return;
  }
  Page &pg = pages_.front();
  std::string out;
  for (; delivered_ < pg.data.size(); ++delivered_) {
    auto b = static_cast<std::uint8_t>(pg.data[delivered_]);
    // Class 2 hands received data over with the bit order reversed; Class 2.0 does not.
    if (!v20()) b = reversed(b);
    out += static_cast<char>(b);
    if (b == kDle) out += static_cast<char>(kDle);
  }
  if (!out.empty()) toHost(out);
  if (!pg.done) return;
  toHost(std::string{static_cast<char>(kDle), static_cast<char>(kEtx)});
  delivering_ = false;
  const int post = pg.post;
  pages_.pop_front();
  delivered_ = 0;
  lastPost_ = post;
  if (post == -2) {
    report(v20() ? "+FPS:2,0,0,0,0" : "+FPTS:2");
    report(hangupReport(hangup_));
    callOver_ = false;
    return result("ERROR");
  }
  report(v20() ? "+FPS:1,0,0,0,0" : "+FPTS:1");
  report("+FET:" + std::to_string(post));
  result("OK");
}

}  // namespace kv::linesim
