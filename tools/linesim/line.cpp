#include "line.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>
#include <stdexcept>

#include "sim_log.h"
#include "spandsp_include.h"

namespace kv::linesim {

// One direction of the line: what goes in comes out a fixed time later.
struct Line::Delay {
  explicit Delay(std::size_t samples) : buf(samples, 0) {}
  void push(const int16_t *s) { buf.insert(buf.end(), s, s + kBlock); }
  void pop(int16_t *s) {
    std::copy(buf.begin(), buf.begin() + kBlock, s);
    buf.erase(buf.begin(), buf.begin() + kBlock);
  }
  std::deque<int16_t> buf;
};

struct Line::FarSession {
  fax_state_t *fax = nullptr;
  bool calling = false;
  bool done = false;
  int completion = -1;
  std::string file;
};

namespace {

std::string digitsOf(const std::string &dialled) {
  std::string d;
  for (char c : dialled)
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#') d.push_back(c);
  return d;
}

int rms(const int16_t *s) {
  double sum = 0;
  for (int i = 0; i < kBlock; ++i) sum += double(s[i]) * s[i];
  return static_cast<int>(std::sqrt(sum / kBlock));
}

// Below this a block counts as silence (about -50 dBm0); carriers are far above it.
constexpr int kSignalRms = 60;
constexpr int kNoiseSeed[2] = {1234567, 2345671};

}  // namespace

Line::Line(LineConfig config) : cfg_(std::move(config)) {
  auto handler = [this](ModemPort &m, int op, const char *num) { return onControl(m, op, num); };
  a_ = std::make_unique<ModemPort>('A', cfg_.linkA, handler);
  a_->setMuteAfter(cfg_.muteA);
  a_->setXonOnConnect(cfg_.xonOnConnect);
  a_->setGarble(cfg_.garbleMidPage, cfg_.garbleLength);
  if (!cfg_.classesA.empty()) a_->setClasses(cfg_.classesA);
  if (!cfg_.farEnd) {
    b_ = std::make_unique<ModemPort>('B', cfg_.linkB, handler);
    b_->setMuteAfter(cfg_.muteB);
    b_->setXonOnConnect(cfg_.xonOnConnect);
    b_->setGarble(cfg_.garbleMidPage, cfg_.garbleLength);
    if (!cfg_.classesB.empty()) b_->setClasses(cfg_.classesB);
  }
  if (cfg_.noiseDbm0 > -90)
    for (int d = 0; d < 2; ++d)
      noise_[d] = awgn_init_dbm0(nullptr, kNoiseSeed[d], static_cast<float>(cfg_.noiseDbm0));
  if (cfg_.burstMidPage > 0) burst_ = awgn_init_dbm0(nullptr, 7654321, -12.0f);
  gain_ = static_cast<float>(std::pow(10.0, -cfg_.lossDb / 20.0));
}

Line::~Line() {
  stopFar();
  for (awgn_state_s *n : noise_)
    if (n) awgn_free(n);
  if (burst_) awgn_free(burst_);
}

ModemPort *Line::modem(Party p) {
  if (p == Party::A) return a_.get();
  if (p == Party::B) return b_.get();
  return nullptr;
}

const char *Line::name(Party p) const {
  switch (p) {
    case Party::A:
      return "A";
    case Party::B:
      return "B";
    case Party::Far:
      return "far end";
    case Party::Voice:
      return "voice";
    case Party::None:
      break;
  }
  return "nobody";
}

bool Line::matches(const std::vector<std::string> &list, const std::string &number) const {
  return std::any_of(list.begin(), list.end(), [&](const std::string &n) {
    return n == "*" || digitsOf(n) == digitsOf(number);
  });
}

int Line::onControl(ModemPort &m, int op, const char *num) {
  Party p = m.name() == 'A' ? Party::A : Party::B;
  int side = p == Party::A ? 0 : 1;
  switch (op) {
    case AT_MODEM_CONTROL_CALL:
      if (call_ && (call_->caller == p || call_->callee == p)) return -1;
      offHook_[side] = true;
      dial(p, num ? num : "");
      return 0;
    case AT_MODEM_CONTROL_ANSWER:
      // ATA (or S0 reached): only a ringing call can be answered.
      if (!call_ || call_->connected || call_->callee != p) {
        logAt(1, "%s: answers, but nothing rings", name(p));
        return -1;
      }
      offHook_[side] = true;
      answer(p);
      return 0;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
      offHook_[side] = false;
      hangUp(p, "hung up");
      return 0;
    case AT_MODEM_CONTROL_OFFHOOK:
      offHook_[side] = true;
      logAt(1, "%s: off hook", name(p));
      return 0;
    default:
      return 0;
  }
}

void Line::dial(Party from, const std::string &number) {
  logAt(1, "%s: dials '%s'", name(from), number.c_str());
  auto busy = [&](const char *why) {
    logAt(1, "%s: busy (%s)", name(from), why);
    if (ModemPort *m = modem(from))
      m->post(AT_CALL_EVENT_BUSY, block_ + secondsToBlocks(cfg_.busyDelay));
    CallRecord r;
    r.number = ++callCount_;
    r.from = name(from);
    r.dialled = number;
    r.outcome = "busy";
    if (from == Party::Far) {
      r.faxOk = false;
      r.fax = "not sent: line busy";
      farFailed_ = true;
      scheduleFarRedial();
    }
    finished_.push_back(r);
  };
  if (call_) return busy("line in use");

  Call c;
  c.caller = from;
  c.dialled = number;
  c.start = block_;
  if (from == Party::Far) {
    c.callee = Party::A;
  } else if (matches(cfg_.busyNumbers, number) &&
             (cfg_.busyTimes == 0 || busyDials_++ < cfg_.busyTimes)) {
    return busy("number is busy");
  } else if (matches(cfg_.noAnswerNumbers, number)) {
    c.callee = Party::None;
  } else if (matches(cfg_.voiceNumbers, number)) {
    c.callee = Party::Voice;
    // A person picks up after the second ring.
    c.autoAnswer = block_ + secondsToBlocks(cfg_.firstRing + cfg_.ringEvery + 1.0);
  } else if (from == Party::B) {
    c.callee = Party::A;
  } else if (cfg_.farEnd) {
    c.callee = cfg_.farReceive.empty() ? Party::None : Party::Far;
    if (c.callee == Party::Far)
      c.autoAnswer =
          block_ + secondsToBlocks(cfg_.firstRing + (cfg_.farRings - 1) * cfg_.ringEvery + 0.5);
  } else {
    c.callee = Party::B;
  }
  if (c.callee == Party::A || c.callee == Party::B) {
    if (offHook_[c.callee == Party::A ? 0 : 1]) return busy("called modem is off hook");
  }
  if (c.callee != Party::None) c.nextRing = block_ + secondsToBlocks(cfg_.firstRing);
  ModemPort *callerModem = modem(from);
  c.giveUp = block_ + secondsToBlocks(callerModem ? callerModem->s7Seconds() : 60);
  call_ = c;
  logAt(1, "%s -> %s: calling", name(from), name(c.callee));
}

void Line::ring() {
  Call &c = *call_;
  ++c.rings;
  c.nextRing += secondsToBlocks(cfg_.ringEvery);
  logAt(1, "%s: RING %d", name(c.callee), c.rings);
  if (ModemPort *m = modem(c.callee)) {
    // The interpreter keeps its ring count from the last call; start this one at zero.
    if (c.rings == 1) m->prepareForRinging();
    m->post(AT_CALL_EVENT_ALERTING, block_);
  }
}

void Line::answer(Party who) {
  Call &c = *call_;
  c.connected = true;
  c.answered = block_;
  c.nextRing = c.giveUp = c.autoAnswer = -1;
  int64_t prefill =
      std::max<int64_t>(0, static_cast<int64_t>(cfg_.delayMs * kSampleRate / 1000) - kBlock);
  toCallee_ = std::make_unique<Delay>(prefill);
  toCaller_ = std::make_unique<Delay>(prefill);
  voicePhase_ = 0;
  logAt(1, "%s: answers; connected to %s", name(who), name(c.caller));
  if (ModemPort *m = modem(who)) m->post(AT_CALL_EVENT_ANSWERED, block_);
  if (ModemPort *m = modem(c.caller)) m->post(AT_CALL_EVENT_CONNECTED, block_);
  if (who == Party::Far) startFar(false);
  if (c.caller == Party::Far) startFar(true);
}

void Line::hangUp(Party who, const char *why) {
  if (!call_ || (call_->caller != who && call_->callee != who)) return;
  Call &c = *call_;
  if (!c.connected) {
    // The caller giving up stops the ringing; a rung party going on hook changes nothing.
    if (c.caller == who) {
      logAt(1, "%s: %s before an answer", name(who), why);
      if (c.caller == Party::Far) farFailed_ = true;
      endCall("abandoned");
    }
    return;
  }
  if (c.endAt >= 0) return;
  logAt(1, "%s: %s", name(who), why);
  c.endAt = block_ + secondsToBlocks(cfg_.hangupDelay);
  c.endReason = std::string(name(who)) + " " + why;
  c.hungUpBy[0] = c.caller == who;
  c.hungUpBy[1] = c.callee == who;
}

void Line::dropLine(const char *why) {
  if (!call_ || !call_->connected || call_->endAt >= 0) return;
  logAt(1, "line: %s", why);
  call_->endAt = block_;
  call_->endReason = why;
}

void Line::requestFarCall() {
  if (!cfg_.farOnRequest || cfg_.farSend.empty()) return;
  farRequested_ = true;
  farDialled_ = false;
  logAt(1, "far end: asked for a fax; calls %s",
        cfg_.farDialIdle > 0 ? "once A waits for calls" : "now");
}

// A fax machine whose fax did not go through tries again, as real ones do.
void Line::scheduleFarRedial() {
  if (cfg_.farRedial <= 0) return;
  farDialled_ = false;
  farNextDial_ = block_ + secondsToBlocks(cfg_.farRedial);
  logAt(1, "far end: calls again in %.0f s", cfg_.farRedial);
}

void Line::endCall(const std::string &outcome) {
  Call &c = *call_;
  // Whoever did not hang up learns of it now (NO CARRIER to a waiting program).
  if (c.connected) {
    if (!c.hungUpBy[0])
      if (ModemPort *m = modem(c.caller)) m->postHangup(block_);
    if (!c.hungUpBy[1])
      if (ModemPort *m = modem(c.callee)) m->postHangup(block_);
  }
  CallRecord r;
  r.number = ++callCount_;
  r.from = name(c.caller);
  r.to = name(c.callee);
  r.dialled = c.dialled;
  r.outcome = outcome;
  r.seconds = c.connected ? double(block_ - c.answered) / kBlocksPerSecond : 0;
  if (far_) {
    stopFar();
    r.fax = farSummary_;
    r.faxOk = farOk_;
  } else if (c.caller == Party::Far) {
    r.fax = "not sent: " + outcome;
    r.faxOk = false;
  }
  logAt(1, "call %d ended: %s", r.number, outcome.c_str());
  if (c.caller == Party::Far && !r.faxOk) scheduleFarRedial();
  finished_.push_back(r);
  call_.reset();
  toCallee_.reset();
  toCaller_.reset();
}

// --- the far end: a fax machine -------------------------------------------------------------

namespace {
int phaseB(t30_state_t *, void *user, int result) {
  logAt(1, "far end: negotiation (frame 0x%02X)", result);
  (void)user;
  return T30_ERR_OK;
}
int phaseD(t30_state_t *t30, void *, int) {
  t30_stats_t st;
  t30_get_transfer_statistics(t30, &st);
  // The coding on the line, so tests can tell MH pages from MR ones.
  const char *coding = st.encoding == T4_COMPRESSION_ITU_T4_1D   ? "MH"
                       : st.encoding == T4_COMPRESSION_ITU_T4_2D ? "MR"
                       : st.encoding == T4_COMPRESSION_ITU_T6    ? "MMR"
                                                                 : "other";
  logAt(1, "far end: page done (sent %d, received %d, %d bps, %d bad rows, %s)", st.pages_tx,
        st.pages_rx, st.bit_rate, st.bad_rows, coding);
  return T30_ERR_OK;
}
}  // namespace

void Line::startFar(bool calling) {
  far_ = std::make_unique<FarSession>();
  far_->calling = calling;
  farOk_ = false;
  farSummary_.clear();
  far_->fax = fax_init(nullptr, calling ? 1 : 0);
  if (!far_->fax) throw std::runtime_error("fax_init failed");
  fax_set_transmit_on_idle(far_->fax, 1);
  t30_state_t *t30 = fax_get_t30_state(far_->fax);
  if (SimLog::verbosity >= 3) {
    // The fax machine's own account of the protocol, for finding out why a call failed.
    auto toLog = [](int, const char *text) {
      logAt(3, "far end: %.*s", int(std::strcspn(text, "\n")), text);
    };
    for (logging_state_t *l : {t30_get_logging_state(t30), fax_get_logging_state(far_->fax)}) {
      span_log_set_level(l, int(SPAN_LOG_SHOW_PROTOCOL) | int(SPAN_LOG_FLOW));
      span_log_set_message_handler(l, toLog);
    }
  }
  t30_set_tx_ident(t30, cfg_.farIdent.c_str());
  t30_set_ecm_capability(t30, cfg_.farEcm ? 1 : 0);
  t30_set_supported_modems(t30, cfg_.farModems
                                    ? cfg_.farModems
                                    : T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
  t30_set_phase_b_handler(t30, phaseB, this);
  t30_set_phase_d_handler(t30, phaseD, this);
  t30_set_phase_e_handler(
      t30, [](t30_state_t *, void *user, int code) { static_cast<Line *>(user)->farPhaseE(code); },
      this);
  if (calling) {
    far_->file = cfg_.farSend;
    t30_set_tx_file(t30, far_->file.c_str(), -1, -1);
    logAt(1, "far end: sending %s", far_->file.c_str());
  } else {
    ++farReceived_;
    std::string path = cfg_.farReceive;
    if (auto pct = path.find("%d"); pct != std::string::npos) {
      path.replace(pct, 2, std::to_string(farReceived_));
    } else if (farReceived_ > 1) {
      auto dot = path.rfind('.');
      auto slash = path.rfind('/');
      std::string suffix = "-" + std::to_string(farReceived_);
      if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        path.insert(dot, suffix);
      else
        path += suffix;
    }
    far_->file = path;
    t30_set_rx_file(t30, far_->file.c_str(), -1);
    logAt(1, "far end: receiving into %s", far_->file.c_str());
  }
}

void Line::farPhaseE(int completion) {
  if (!far_ || far_->done) return;
  far_->done = true;
  far_->completion = completion;
  t30_stats_t st;
  t30_get_transfer_statistics(fax_get_t30_state(far_->fax), &st);
  char text[512];
  std::snprintf(text, sizeof text, "%s %d page(s) at %d bps%s, %d bad rows: %s (%s)",
                far_->calling ? "sent" : "received", far_->calling ? st.pages_tx : st.pages_rx,
                st.bit_rate, st.error_correcting_mode ? " with ECM" : "", st.bad_rows,
                t30_completion_code_to_str(completion), far_->file.c_str());
  farSummary_ = text;
  farOk_ = completion == T30_ERR_OK;
  if (!farOk_) farFailed_ = true;
  logAt(1, "far end: %s", text);
  // A fax machine releases the line about a second after its last frame.
  if (call_) call_->farHangAt = block_ + kBlocksPerSecond;
}

void Line::stopFar() {
  if (!far_) return;
  if (!far_->done) {
    // Ending the session reports through phase E; the line is gone, so that is a failure.
    t30_terminate(fax_get_t30_state(far_->fax));
    if (!far_->done) {
      farSummary_ = "session ended without a result (" + far_->file + ")";
      farOk_ = false;
      farFailed_ = true;
    }
  }
  fax_free(far_->fax);
  far_.reset();
}

// A receiver switched off part-way through a block goes on measuring the rest of that block, and
// on a noisy line it can report "carrier up" after the fax machine has already turned to send.
// No receiver is left to report the drop, so the machine would wait for silence for ever and
// never listen for the next page. Report the drop on the switched-off receiver's behalf.
void Line::settleFarReceiver() {
  t30_state_t *t30 = fax_get_t30_state(far_->fax);
  if (far_->fax->modems.current_rx_type == T30_MODEM_NONE && t30->rx_signal_present)
    t30_hdlc_accept(t30, nullptr, SIG_STATUS_CARRIER_DOWN, true);
}

// Faults that strike once a direction has carried signal for a while (a page): the line drops,
// or a burst of loud noise spoils that direction.
void Line::midPageFaults(int16_t *txCaller, int16_t *txCallee) {
  int16_t *tx[2] = {txCaller, txCallee};
  Call &c = *call_;
  for (int d = 0; d < 2; ++d) {
    c.signalRun[d] = rms(tx[d]) > kSignalRms ? c.signalRun[d] + 1 : 0;
    if (cfg_.dropMidPage > 0 && c.signalRun[d] == secondsToBlocks(cfg_.dropMidPage)) {
      dropLine("drops in the middle of a page");
      return;
    }
    // A modem's burst counts from the program's first byte, not from the carrier: the same rows
    // of a page are hit however long the program took to start it.
    ModemPort *sender = modem(d == 0 ? c.caller : c.callee);
    const int64_t into = sender ? sender->dataBlocks() : c.signalRun[d];
    if (cfg_.burstMidPage > 0 && !c.burstDone && into == secondsToBlocks(cfg_.burstMidPage)) {
      logAt(1, "line: a noise burst in the middle of a page");
      c.burstDone = true;
      c.burstLeft[d] = secondsToBlocks(cfg_.burstLength);
    }
    if (c.burstLeft[d] > 0) {
      --c.burstLeft[d];
      for (int i = 0; i < kBlock; ++i) tx[d][i] = awgn(burst_);
    }
  }
}

// --- audio ------------------------------------------------------------------------------------

void Line::partyAudio(Party p, const int16_t *rx, int16_t *tx) {
  std::memset(tx, 0, kBlock * sizeof(int16_t));
  if (ModemPort *m = modem(p)) {
    m->audio(rx, tx);
  } else if (p == Party::Far && far_) {
    fax_rx(far_->fax, const_cast<int16_t *>(rx), kBlock);
    settleFarReceiver();
    int n = fax_tx(far_->fax, tx, kBlock);
    if (n < kBlock) std::memset(tx + n, 0, (kBlock - n) * sizeof(int16_t));
  } else if (p == Party::Voice) {
    // Someone saying "hello?" now and then: voiced syllables with pauses, nothing a fax
    // modem takes for a carrier.
    for (int i = 0; i < kBlock; ++i, ++voicePhase_) {
      int inSentence = voicePhase_ % (kSampleRate * 3);
      int inSyllable = inSentence % 3200;
      if (inSentence >= kSampleRate * 2 || inSyllable >= 2000) continue;
      double env = std::sin(M_PI * inSyllable / 2000.0);
      double f0 = 160 + 40 * std::sin(2 * M_PI * voicePhase_ / 12000.0);
      double t = 2 * M_PI * f0 * voicePhase_ / kSampleRate;
      double v =
          std::sin(t) + 0.6 * std::sin(2 * t) + 0.4 * std::sin(3 * t) + 0.2 * std::sin(5 * t);
      tx[i] = static_cast<int16_t>(2500 * env * v);
    }
  }
}

void Line::impair(int16_t *s, int direction) {
  awgn_state_s *noise = noise_[direction];
  bool signal = rms(s) > kSignalRms;
  if (noise && signal && !carrying_[direction])
    awgn_init_dbm0(noise, kNoiseSeed[direction], static_cast<float>(cfg_.noiseDbm0));
  carrying_[direction] = signal;
  if (gain_ == 1.0f && !noise) return;
  for (int i = 0; i < kBlock; ++i) {
    float v = s[i] * gain_ + (noise ? awgn(noise) : 0);
    s[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
  }
}

void Line::step() {
  ++block_;
  SimLog::blockNow = block_;

  // The far end calls at a set time, or once the program on A waits for calls: it has had the
  // port open and said nothing for a while, with no call on the line (a program waiting for its
  // own call to be answered is not waiting for calls); after a call that did not get through,
  // again later.
  const bool aWaits = cfg_.farDialIdle > 0 && !call_ && a_->quietSince() >= 0 &&
                      block_ - a_->quietSince() >= secondsToBlocks(cfg_.farDialIdle);
  const bool due = cfg_.farOnRequest   ? farRequested_ && (cfg_.farDialIdle > 0 ? aWaits : !call_)
                   : farNextDial_ >= 0 ? block_ >= farNextDial_
                   : cfg_.farDialIdle > 0 ? aWaits
                                          : block_ >= secondsToBlocks(cfg_.farDialAt);
  if (cfg_.farEnd && !cfg_.farSend.empty() && !farDialled_ && due) {
    farDialled_ = true;
    farRequested_ = false;
    dial(Party::Far, "");
  }

  if (call_) {
    Call &c = *call_;
    if (!c.connected) {
      if (c.nextRing >= 0 && block_ >= c.nextRing) ring();
      if (call_ && c.autoAnswer >= 0 && block_ >= c.autoAnswer) answer(c.callee);
      if (call_ && !c.connected && c.giveUp >= 0 && block_ >= c.giveUp) {
        logAt(1, "%s: no answer", name(c.caller));
        if (ModemPort *m = modem(c.caller)) m->post(AT_CALL_EVENT_NO_ANSWER, block_);
        if (c.caller == Party::Far) farFailed_ = true;
        endCall("no answer");
      }
    } else {
      if (cfg_.dropAfter > 0 && block_ - c.answered >= secondsToBlocks(cfg_.dropAfter))
        dropLine("drops (time limit)");
      if (c.callee == Party::Voice && block_ - c.answered >= secondsToBlocks(cfg_.voiceSeconds))
        hangUp(Party::Voice, "hangs up");
      if (c.farHangAt >= 0 && block_ >= c.farHangAt) hangUp(Party::Far, "hangs up");
      if (c.endAt >= 0 && block_ >= c.endAt) endCall(c.endReason);
    }
  }

  // Audio: each party hears the other through the delay, with the line's impairments.
  static const int16_t silence[kBlock] = {};
  int16_t rxCaller[kBlock], rxCallee[kBlock], txCaller[kBlock], txCallee[kBlock], scratch[kBlock];
  Party caller = Party::None, callee = Party::None;
  bool live = call_ && call_->connected;
  if (live) {
    caller = call_->caller;
    callee = call_->callee;
    toCaller_->pop(rxCaller);
    toCallee_->pop(rxCallee);
    partyAudio(caller, rxCaller, txCaller);
    partyAudio(callee, rxCallee, txCallee);
    // A party that has hung up sends nothing any more.
    if (call_->hungUpBy[0]) std::memset(txCaller, 0, sizeof txCaller);
    if (call_->hungUpBy[1]) std::memset(txCallee, 0, sizeof txCallee);
    if (cfg_.dropMidPage > 0 || cfg_.burstMidPage > 0) midPageFaults(txCaller, txCallee);
    impair(txCaller, 0);
    impair(txCallee, 1);
    toCallee_->push(txCaller);
    toCaller_->push(txCallee);
  }
  // Modems not in a connected call hear silence, so their timers keep running.
  for (Party p : {Party::A, Party::B})
    if (modem(p) && p != caller && p != callee) partyAudio(p, silence, scratch);

  for (ModemPort *m : {a_.get(), b_.get()})
    if (m) m->deliverDue(block_);
}

void Line::service(ModemPort &m) {
  Party p = m.name() == 'A' ? Party::A : Party::B;
  bool open = m.checkWatch();
  bool dtr = m.checkDtr();
  m.trackQuiet(block_);
  if (!open || !dtr) {
    // The program is gone (or dropped DTR): hang up for it and start a fresh modem.
    offHook_[p == Party::A ? 0 : 1] = false;
    hangUp(p, open ? "dropped DTR" : "closed the port");
    m.reset();
    return;
  }
  m.feed(block_);
  for (ModemPort *o : {a_.get(), b_.get()})
    if (o) o->deliverDue(block_);
}

}  // namespace kv::linesim
