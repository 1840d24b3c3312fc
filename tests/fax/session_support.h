#pragma once
// Runs fax sessions against the scripted modem: a port component on the modem's pty, a plain
// main thread whose loop runs until the session's finish event.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "fax/fax_session.h"
#include "scriptmodem/script_modem.h"

namespace kv::test {

struct Outcome {
  bool finished = false;
  Result code = 1;
  std::vector<int> logs;
  std::vector<Result> errors;
  ScriptReport report;
};

class SessionRig {
 public:
  SessionRig() {
    MainThread::install(&mt_);
    setFaxDelayScale(0.02);
  }
  ~SessionRig() {
    setFaxDelayScale(1.0);
    MainThread::install(nullptr);
  }

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
    fax.SetComPort(&cp);
    fax.OnFaxFinish = [&](TKvAbstractFax &, Result code) {
      out.finished = true;
      out.code = code;
    };
    fax.OnFaxLog = [&](TKvAbstractFax &, TFaxLogCode c) { out.logs.push_back(c); };
    fax.OnFaxError = [&](TKvAbstractFax &, Result c) { out.errors.push_back(c); };
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
    // The port must close cleanly whatever happened, and be free for the next test.
    cp.SetOpen(false);
    fax.SetComPort(nullptr);
    return out;
  }

 private:
  PlainMainThread mt_;
};

}  // namespace kv::test
