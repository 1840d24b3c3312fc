#pragma once
// The simulated telephone line: two parties (two emulated modems, or a modem and a fax
// machine), ringing, answering and hanging up, audio carried each way with a delay, and the
// faults a real line has. Time is counted in 20 ms blocks; nothing here reads a clock.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modem_port.h"

namespace kv::linesim {

struct LineConfig {
  std::string linkA, linkB;
  double delayMs = 40;       // one way
  double firstRing = 1.0;    // seconds from dialling to the first RING
  double ringEvery = 6.0;    // seconds between RINGs
  double hangupDelay = 0.3;  // a hang-up reaches the far end this much later
  double busyDelay = 2.0;    // time to recognise a busy signal
  double noiseDbm0 = -99;    // white noise added each way; below -90 none
  double lossDb = 0;         // attenuation each way
  double dropAfter = 0;      // drop the line this long after answering (0: never)
  double dropMidPage = 0;    // drop after this long of unbroken signal one way (0: never)
  double burstMidPage = 0;   // once a call, a noise burst after this long of unbroken signal
  double burstLength = 4;    // seconds of that burst
  double garbleMidPage = 0;  // modems spoil page data from this far into it (0: never)
  double garbleLength = 4;   // seconds of page data spoilt
  std::vector<std::string> busyNumbers, noAnswerNumbers, voiceNumbers;
  int busyTimes = 0;        // a busy number is busy for this many dials, then answers (0: always)
  double voiceSeconds = 8;  // a person talks this long, then hangs up
  int muteA = -1, muteB = -1;  // modem stops answering after this many commands
  bool xonOnConnect = false;   // modems send XON after the CONNECT of page transmission
  // Classes a modem offers when it is more than Class 1 ("0,1,2,2.0"); empty: Class 1 only.
  std::string classesA, classesB;

  // The far end as a fax machine instead of modem B.
  bool farEnd = false;
  std::string farReceive;  // store received faxes here (%d: call number)
  std::string farSend;     // TIFF the far end sends when it calls A
  double farDialAt = 2.0;  // when it calls A
  double farDialIdle = 0;  // instead: once A's program has been quiet this long (0: unused)
  double farRedial = 0;  // >0: after a call that did not deliver its fax, it calls again S s later
  bool farOnRequest = false;  // it calls only when asked (requestFarCall), then as farDialIdle says
  int farRings = 1;           // rings before it answers
  bool farEcm = false;
  int farModems = 0;  // T30_SUPPORT_* bits; 0: all
  std::string farIdent = "+1 555 0100";
};

struct CallRecord {
  int number = 0;
  std::string from, to, dialled;
  std::string outcome;  // "busy", "no answer", "completed", "dropped", ...
  double seconds = 0;
  std::string fax;  // far-end session summary
  bool faxOk = true;
};

class Line {
 public:
  explicit Line(LineConfig config);
  ~Line();

  ModemPort &modemA() { return *a_; }
  ModemPort *modemB() { return b_.get(); }

  // One 20 ms block: timers, audio both ways, event delivery.
  void step();
  // After I/O on a port: feed input, deliver events, handle a closed port or dropped DTR.
  void service(ModemPort &m);
  int64_t block() const { return block_; }

  const std::vector<CallRecord> &calls() const { return finished_; }
  bool callInProgress() const { return call_.has_value(); }
  bool farFailed() const { return farFailed_; }
  // With farOnRequest: the fax machine calls A once (when A waits for calls, or at once).
  void requestFarCall();

 private:
  enum class Party { None, A, B, Far, Voice };
  struct Call {
    Party caller = Party::None, callee = Party::None;
    std::string dialled;
    bool connected = false;
    int64_t start = 0, answered = 0;
    int64_t nextRing = -1;  // next RING to the callee
    int rings = 0;
    int64_t giveUp = -1;      // caller gives up (NO ANSWER)
    int64_t autoAnswer = -1;  // far end or voice picks up
    int64_t endAt = -1;       // the line is released at this block
    std::string endReason;
    int64_t farHangAt = -1;             // the far end releases the line after its session
    bool hungUpBy[2] = {false, false};  // caller, callee already on hook
    int64_t signalRun[2] = {0, 0};      // blocks of unbroken signal, caller->callee, callee->caller
    int64_t burstLeft[2] = {0, 0};      // blocks of noise burst still to come each way
    bool burstDone = false;
  };
  struct FarSession;
  struct Delay;

  int onControl(ModemPort &m, int op, const char *num);
  void dial(Party from, const std::string &number);
  void answer(Party who);
  void hangUp(Party who, const char *why);
  void dropLine(const char *why);
  void endCall(const std::string &outcome);
  void scheduleFarRedial();
  void ring();
  void startFar(bool calling);
  void stopFar();
  void farPhaseE(int completion);
  void settleFarReceiver();
  void midPageFaults(int16_t *txCaller, int16_t *txCallee);
  ModemPort *modem(Party p);
  const char *name(Party p) const;
  bool matches(const std::vector<std::string> &list, const std::string &number) const;
  void partyAudio(Party p, const int16_t *rx, int16_t *tx);
  void impair(int16_t *samples, int direction);

  LineConfig cfg_;
  std::unique_ptr<ModemPort> a_, b_;
  int64_t block_ = 0;
  std::optional<Call> call_;
  std::vector<CallRecord> finished_;
  int callCount_ = 0;
  int busyDials_ = 0;  // dials of busy numbers so far, for --busy-times
  bool offHook_[2] = {false, false};
  std::unique_ptr<FarSession> far_;
  std::unique_ptr<Delay> toCallee_, toCaller_;
  // White noise each way (caller->callee, callee->caller), started afresh from the same seed
  // whenever a signal starts that way: every carrier meets the same noise, so whether a training
  // or a page survives a noisy line does not depend on when the programs happened to send it.
  ::awgn_state_s *noise_[2] = {nullptr, nullptr};
  bool carrying_[2] = {false, false};  // the last block carried a signal that way
  ::awgn_state_s *burst_ = nullptr;    // loud noise for --burst-mid-page
  float gain_ = 1;
  bool farDialled_ = false;
  bool farRequested_ = false;
  long farNextDial_ = -1;  // block of the next call after a failed one (-1: farDialAt)
  bool farFailed_ = false;
  bool farOk_ = false;
  std::string farSummary_;
  int farReceived_ = 0;
  int voicePhase_ = 0;
};

}  // namespace kv::linesim
