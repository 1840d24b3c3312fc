#pragma once
// The part of a fax session that sending and receiving share: the component's properties and
// read-only values, starting and finishing a session on the port's triggers, the event
// messages to the main thread, modem preparation, the class query, commands and responses,
// hang-up, and the history log.
//
// Threads: preparation and DetectFaxClasses run on the caller's (main) thread; the state
// machine runs on the port's dispatch thread; every event reaches the component on the main
// thread (synchronous, at most 1000 ms, except the finish event, which is posted). AbortFax
// is serialised with the dispatch thread through the step lock.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/result_codes.h"
#include "comm/ticks.h"
#include "fax/class1_negotiation.h"
#include "fax/fax_defs.h"
#include "fax/fax_port.h"
#include "fax/fax_text.h"
#include "fax/session_clock.h"
#include "fax/t30.h"

namespace kv {

class TKvAbstractFax;
class TKvCustomComPort;

// History log: one record per log code, appended to FaxHistoryName.
class TKvFaxLog {
 public:
  virtual ~TKvFaxLog() = default;
  std::string FaxHistoryName = "KVFAX.HIS";
  virtual void UpdateLog(TFaxLogCode code, TKvAbstractFax &fax);
};

// Status display base; the window is built elsewhere.
class TKvAbstractFaxStatus {
 public:
  virtual ~TKvAbstractFaxStatus() = default;
  virtual void UpdateDisplay(TKvAbstractFax &fax, bool first, bool last) = 0;
};

// Session event codes the state machines step on.
enum class FaxEvent { Avail, Timeout, StatusTimer, OutFree, OutUsed, Abort, Internal };

class TKvAbstractFax {
 public:
  using StatusEvent = std::function<void(TKvAbstractFax &, bool first, bool last)>;
  using LogEvent = std::function<void(TKvAbstractFax &, TFaxLogCode)>;
  using CodeEvent = std::function<void(TKvAbstractFax &, Result)>;

  explicit TKvAbstractFax(bool sender);
  virtual ~TKvAbstractFax();
  TKvAbstractFax(const TKvAbstractFax &) = delete;
  TKvAbstractFax &operator=(const TKvAbstractFax &) = delete;

  // --- Published properties -----------------------------------------------------------------
  std::int32_t InitBaud() const { return initBaud_; }
  void SetInitBaud(std::int32_t v);
  std::int32_t NormalBaud() const { return normalBaud_; }
  void SetNormalBaud(std::int32_t v) { normalBaud_ = v; }
  TFaxClass FaxClass = fcUnknown;
  const std::string &ModemInit() const { return modemInit_; }
  void SetModemInit(const std::string &v);
  std::string StationID;
  std::string FaxFile;
  bool AbortNoConnect = false;
  bool ExitOnError = false;
  bool SoftwareFlow = false;
  std::uint16_t StatusInterval = 1;
  std::uint16_t DesiredBPS = 9600;
  bool DesiredECM = false;
  // Offer and use two-dimensional coding (MR) where the far end takes it; off for a peer
  // that claims MR and fails at it.
  bool Allow2D = true;
  std::string FaxFileExt = "APF";
  TKvFaxLog *FaxLog = nullptr;
  TKvAbstractFaxStatus *StatusDisplay = nullptr;
  int FakeProperty = 1;
  StatusEvent OnFaxStatus;
  LogEvent OnFaxLog;
  CodeEvent OnFaxError;
  CodeEvent OnFaxFinish;

  // The port of the session. Not owned; must stay open while a session runs. Giving a port
  // component sets it to the line settings and buffers a fax session needs.
  void SetComPort(TKvCustomComPort *cp);
  TKvCustomComPort *ComPort() const { return comPort_; }
  // A port through another adapter (not owned).
  void SetFaxPort(FaxPort *port);
  FaxPort *GetFaxPort() const { return port_; }

  // --- Read-only session values -------------------------------------------------------------
  int ProgressCode() const { return progress_; }
  Result SessionError() const { return sessionError_; }
  // Why the modem could not be used, when a session ended before its first state (empty
  // otherwise): what it was asked and what it answered.
  std::string SessionErrorDetail() const;
  std::string PartnerID() const;
  int HangupResult() const { return hangupResult_; }
  // What the modem's hang-up code means, after `prefix`; empty without a code or a known text.
  std::string HangupText(const std::string &prefix = "") const;
  int LineRate() const { return lineRate_; }
  bool FineMode() const { return fine_; }
  bool WidePage() const { return wide_; }
  bool ErrorCorrection() const { return false; }
  virtual int PageTotal() const { return 0; }
  virtual int PageNumber() const { return pageNumber_; }
  virtual long BytesTransferred() const { return bytesDone_; }
  virtual long PageLength() const { return 0; }
  bool Running() const { return running_; }
  bool IsSender() const { return sender_; }
  // Number dialled, for the history log (empty for a receiver).
  virtual std::string HistoryPhone() const { return {}; }

  // The clock of the session's delays and time-outs. Set it before the session starts.
  void SetClock(const SessionClock &clock) { clock_ = clock; }
  const SessionClock &Clock() const { return clock_; }

  // --- Operations ---------------------------------------------------------------------------
  // Class bits (4, 8, 16) of the modem on the port; 0 when it gave no usable answer.
  int DetectFaxClasses();
  // Ends the running session with "Cancel requested".
  void AbortFax();

  // Default initialisation string in use (set by the sender's dial options).
  virtual std::string DefaultInit() const { return defaultInitString(false, true); }

 protected:
  // --- Virtual event operations (run on the main thread) -------------------------------------
  virtual void FaxStatus(bool first, bool last);
  virtual void FaxLogEvent(TFaxLogCode code);
  virtual void FaxError(Result code);
  virtual void FaxFinish(Result code);

  // --- Session frame -------------------------------------------------------------------------
  // Checks the port and starts: triggers, preparation, first state. Throws on a bad port.
  void startSession();
  virtual Result prepare() = 0;
  virtual void runState(FaxEvent ev) = 0;
  virtual bool stateReadsLines() const = 0;
  virtual bool stateIsFinal() const = 0;
  virtual void enterErrorState() = 0;
  virtual std::uint8_t stateNumber() const = 0;
  virtual const char *stateName() const = 0;
  void step(FaxEvent ev);
  void finishSession();

  // --- Messages to the component -------------------------------------------------------------
  // Runs fn on the main thread, waiting at most 1000 ms; false when it did not run.
  bool sendToMain(std::function<void()> fn);
  void reportStatus(int kind);  // 0 other, 1 first, 2 last
  void reportLog(TFaxLogCode code);
  void reportError(Result code);
  void setProgress(int code);

  // --- Modem I/O -----------------------------------------------------------------------------
  void delayMs(int ms) const { clock_.delay(ms); }
  // Waits the command delay plus extraDelay (negative shortens it), then writes cmd + CR.
  void sendCommand(const std::string &cmd, int extraDelay = 0);
  void sendRaw(const std::string &s);
  void putBytes(const std::uint8_t *p, std::size_t n);
  bool waitForResponse(const std::string &cmd, std::string *info = nullptr);
  // Reads the reply to a command said in polling mode: every line that is not blank goes to
  // `onLine`, which returns true once the reply is complete. The first line has the reply time
  // on the session clock; with nextTicks, each line gives the rest that much more. False when
  // the time ran out or the device went. `heard` collects the first bytes, whatever they are.
  bool readReply(const std::function<bool(const std::string &)> &onLine, std::int32_t nextTicks,
                 std::string *heard = nullptr);
  bool prepareModem(bool failOnInitError);
  bool modemInitialize();
  int classQuery(bool withInit);
  void toggleDtr();
  void modemHangup();
  // Switches the port rate when InitBaud is in use (after the 9-tick wait).
  void switchBaud(std::int32_t bps);
  // XON/XOFF on or off for page data, when SoftwareFlow is set.
  void softwareFlow(bool on);
  void armTimeout(std::int32_t ticks);
  // Class 1: selects the class and reads the modem's modulations into `c1`.
  bool queryModulations(Class1Negotiation &c1, bool receive);

  // Reads bytes until a line or frame completes. Returns false when the input ran dry. A RING
  // among the lines is noted (ringHeardAt_) whatever state reads it.
  bool readItem();
  // Class 1: notes a CONNECT that starts a frame being received (after AT+FRH=3 or a dial)
  // and tells whether a line is the modem's report of a frame damaged or not heard.
  void noteFrameStart(Class1Negotiation &c1);
  bool missedFrame(Class1Negotiation &c1);
  // ERROR to AT+FTH or AT+FTM: says the command again after a pause and returns true, at most
  // kMaxRefusedTransmits times in a row; false when the line is no such refusal or too many.
  bool retryRefusedTransmit(Class1Negotiation &c1);
  // Class 1: ends the modem's frame or page reception; its answer (or T4 without one) is
  // awaited with `c1.stopping` set before the next command goes out.
  void stopReception(Class1Negotiation &c1);
  // Class 1 frame bookkeeping shared by both machines; returns an error code (0 = none).
  Result handleFrame(Class1Negotiation &c1, const t30::Frame &f, bool dcnExpected);

  // --- Engine record ------------------------------------------------------------------------
  const bool sender_;
  FaxPort *port_ = nullptr;
  TKvCustomComPort *comPort_ = nullptr;
  std::unique_ptr<FaxPort> ownedPort_;
  std::int32_t initBaud_ = 0;
  std::int32_t normalBaud_ = 0;
  std::string modemInit_;
  SessionClock clock_;

  std::atomic<int> progress_{0};
  std::atomic<Result> sessionError_{0};
  std::atomic<int> hangupResult_{0};
  std::atomic<int> lineRate_{0};
  std::atomic<bool> fine_{false};
  std::atomic<bool> wide_{false};
  std::atomic<int> pageNumber_{0};
  std::atomic<long> bytesDone_{0};
  std::atomic<bool> running_{false};  // from the end of preparation until finish
  std::atomic<bool> stepping_{false};
  mutable std::mutex idMu_;
  std::string partnerId_;
  std::string errorDetail_;
  std::string lastAsked_;  // the last command of a polled exchange, and the modem's last line
  std::string lastReply_;
  // When the modem last reported an incoming call in this session (empty: never).
  std::optional<SessionClock::Clock::time_point> ringHeardAt_;
  void explainModemReply(const std::string &what);
  void setPartnerId(const std::string &id);

  std::recursive_mutex stepMu_;
  std::atomic<bool> abortPending_{false};
  std::atomic<bool> inHandler_{false};  // a component event handler is running
  bool aborted_ = false;
  bool reportFlag_ = false;
  bool loopNow_ = false;  // the state was a pure transition: run the next one at once
  bool modemInitialized_ = false;
  int lastClasses_ = 0;
  bool classQueried_ = false;
  TFaxClass sessionClass_ = fcUnknown;

  // Response and frame state.
  t30::ResponseReader reader_;
  t30::ResponseReader::Item item_;
  std::string line_;  // last complete line ("" when the item is a frame)
  bool gotFrame_ = false;
  t30::Frame frame_{};
  std::vector<std::uint8_t> frameBytes_;
  std::string lastCommand_;  // the last command sent, for what its reply means

  // Lifetime token for messages that outlive the component.
  std::shared_ptr<std::atomic<TKvAbstractFax *>> self_;
};

}  // namespace kv
