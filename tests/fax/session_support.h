#pragma once
// Runs fax sessions against the scripted modem: a port component on the modem's pty, a plain
// main thread whose loop runs until the session's finish event.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <functional>
#include <mutex>

#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "fax/comm_fax_port.h"
#include "fax/fax_session.h"
#include "scriptmodem/script_modem.h"

namespace kv::test {

// One thing a session did to its port, with the machine state of that moment and the line
// settings the modem's side saw right after.
struct PortEvent {
  enum Kind { Put, Read, Baud, Flow } kind = Put;
  int state = 0;
  std::string bytes;       // Put: what was written; Read: the byte
  std::int32_t value = 0;  // Baud: the rate asked for; Flow: 1 on, 0 off
  double waitedMs = 0;     // Baud: time since the session last asked the port's rate
  ScriptModem::LineState line;
};

// A port to the scripted modem that records every write, received byte, rate and flow switch.
class WatchedPort : public FaxPort {
 public:
  WatchedPort(FaxPort &inner, const ScriptModem &modem, std::function<int()> state)
      : in_(inner), modem_(modem), state_(std::move(state)) {}

  std::vector<PortEvent> events() const {
    std::lock_guard lk(mu_);
    return events_;
  }

  Result put(const std::uint8_t *data, std::size_t n) override {
    add(PortEvent::Put, std::string(reinterpret_cast<const char *>(data), n));
    return in_.put(data, n);
  }
  int getChar() override {
    int c = in_.getChar();
    if (c >= 0) add(PortEvent::Read, std::string(1, char(c)));
    return c;
  }
  void setBaud(std::int32_t bps) override {
    double waited = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                              lastAsked_.load())
                        .count();
    in_.setBaud(bps);
    add(PortEvent::Baud, {}, bps, waited);
  }
  std::int32_t baud() override {
    lastAsked_ = std::chrono::steady_clock::now();
    return in_.baud();
  }
  void setSoftwareFlow(bool on, bool receiving) override {
    in_.setSoftwareFlow(on, receiving);
    add(PortEvent::Flow, {}, on ? 1 : 0);
  }

  int inUsed() override { return in_.inUsed(); }
  int outUsed() override { return in_.outUsed(); }
  int outFree() override { return in_.outFree(); }
  int outSize() override { return in_.outSize(); }
  void flushIn() override { in_.flushIn(); }
  void flushOut() override { in_.flushOut(); }
  void setDtr(bool on) override { in_.setDtr(on); }
  void setRts(bool on) override { in_.setRts(on); }
  bool dcd() override { return in_.dcd(); }
  bool alive() override { return in_.alive(); }
  bool waitForInput(int ms) override { return in_.waitForInput(ms); }
  Result startTriggers(std::function<void(FaxTrigger)> handler) override {
    return in_.startTriggers(std::move(handler));
  }
  void enableDelivery() override { in_.enableDelivery(); }
  void stopTriggers() override { in_.stopTriggers(); }
  void detach() override { in_.detach(); }
  void armTimeout(std::int32_t ticks) override { in_.armTimeout(ticks); }
  void disarmTimeout() override { in_.disarmTimeout(); }
  void armStatusTimer(std::int32_t ticks) override { in_.armStatusTimer(ticks); }
  void armOutFree(int level) override { in_.armOutFree(level); }
  void armOutUsed(int level) override { in_.armOutUsed(level); }
  void setPolling(bool on) override { in_.setPolling(on); }
  bool polling() override { return in_.polling(); }
  void setSessionMark(bool on) override { in_.setSessionMark(on); }
  void logState(std::uint8_t state, const char *name) override { in_.logState(state, name); }

 private:
  void add(PortEvent::Kind kind, std::string bytes, std::int32_t value = 0, double waited = 0) {
    PortEvent e;
    e.kind = kind;
    e.state = state_();
    e.bytes = std::move(bytes);
    e.value = value;
    e.waitedMs = waited;
    e.line = modem_.lineState();
    std::lock_guard lk(mu_);
    events_.push_back(std::move(e));
  }

  FaxPort &in_;
  const ScriptModem &modem_;
  std::function<int()> state_;
  std::atomic<std::chrono::steady_clock::time_point> lastAsked_{};
  mutable std::mutex mu_;
  std::vector<PortEvent> events_;
};

struct Outcome {
  bool finished = false;
  Result code = 1;
  std::vector<int> logs;
  std::vector<Result> errors;
  ScriptReport report;
  std::vector<PortEvent> events;     // with SessionRig::watchState set
  ScriptModem::LineState lineAfter;  // the port's settings when the session had finished
};

class SessionRig {
 public:
  SessionRig() {
    MainThread::install(&mt_);
    clock.lineSpeed = 50;
  }
  ~SessionRig() { MainThread::install(nullptr); }

  // Runs `start` (BeginTransmit or BeginReceive) with the fax on a port to the scripted modem
  // and serves the main thread until the finish event or `limit`.
  template <class Fax, class Start>
  Outcome run(const std::string &script, Fax &fax, Start start,
              std::chrono::seconds limit = std::chrono::seconds(30)) {
    Outcome out;
    ScriptModem modem(ModemScript::parse(script));
    TKvComPort cp;
    cp.SetDevicePath(modem.path());
    cp.SetAutoOpen(false);
    std::unique_ptr<CommFaxPort> inner;
    std::unique_ptr<WatchedPort> watched;
    if (watchState) {
      CommFaxPort::configure(cp);
      inner = std::make_unique<CommFaxPort>(cp);
      watched = std::make_unique<WatchedPort>(*inner, modem, watchState);
      fax.SetFaxPort(watched.get());
    } else {
      fax.SetComPort(&cp);
    }
    fax.SetClock(clock);
    fax.OnFaxFinish = [&](TKvAbstractFax &, Result code) {
      out.finished = true;
      out.code = code;
    };
    fax.OnFaxLog = [&](TKvAbstractFax &, TFaxLogCode c) { out.logs.push_back(c); };
    fax.OnFaxError = [&](TKvAbstractFax &, Result c) { out.errors.push_back(c); };
    if (!dispatchLog.empty()) {
      cp.SetLogName(dispatchLog);
      cp.SetLogging(tlOn);
    }
    cp.SetOpen(true);
    start();
    auto until = std::chrono::steady_clock::now() + limit;
    while (!out.finished && std::chrono::steady_clock::now() < until)
      mt_.waitAndRun(std::chrono::milliseconds(20));
    if (!out.finished) {
      // Never leave a session running on a port that is about to close.
      fax.AbortFax();
      for (int i = 0; i < 200 && !out.finished; ++i) mt_.waitAndRun(std::chrono::milliseconds(20));
    }
    out.report = modem.finish(std::chrono::seconds(2));
    out.lineAfter = modem.lineState();
    if (watched) {
      watched->detach();
      out.events = watched->events();
      fax.SetFaxPort(nullptr);
    }
    if (!dispatchLog.empty()) cp.SetLogging(tlDump);
    // The port must close cleanly whatever happened, and be free for the next test.
    cp.SetOpen(false);
    fax.SetComPort(nullptr);
    return out;
  }

  // When set, the session runs on a WatchedPort and Outcome::events holds what it did; the
  // function gives the machine state at each event (read on the session's own thread).
  std::function<int()> watchState;
  // The session's clock: its delays run 50 times faster than on a real line.
  SessionClock clock;
  // When set, the port's dispatch log is kept during the session and written to this file.
  std::string dispatchLog;

 private:
  PlainMainThread mt_;
};

}  // namespace kv::test
