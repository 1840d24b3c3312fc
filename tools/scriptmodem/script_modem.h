#pragma once
// A "modem" on a pseudo-terminal that follows a ModemScript, for protocol tests that a real
// line cannot provoke (odd replies, time-outs, broken lines). It runs on its own thread from
// construction; the program under test opens path() like a serial port.
//
//   kv::ScriptModem modem(kv::ModemScript::parse(R"(
//     > AT+FCLASS=1
//     < OK
//     > ATD*
//     wait 500
//     < NO CARRIER
//   )"));
//   runTheSender(modem.path());               // the code under test
//   kv::ScriptReport r = modem.finish();      // waits for the script's end, then stops
//   EXPECT_TRUE(r.ok()) << r.describe();
//
// A command that differs from the script is answered ERROR, recorded, and the modem then
// answers nothing more. Bytes arriving after the script's last step are recorded too.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scriptmodem/modem_script.h"
#include "scriptmodem/pseudo_terminal.h"

namespace kv {

struct ScriptReport {
  bool completed = false;               // every step ran
  std::vector<std::string> mismatches;  // "line 7: expected 'AT+FTH=3', got 'AT+FRH=3'"
  std::vector<std::string> data;        // unstuffed payload of each >data step, in order
  std::vector<std::string> transcript;  // "  12 ms DTE> ATZ", "  13 ms MDM< \r\nOK\r\n", ...
  std::string unexpected;               // input after the last step (or after a mismatch)

  bool ok() const { return completed && mismatches.empty() && unexpected.empty(); }
  std::string describe() const;  // mismatches, unexpected input and the transcript
};

class ScriptModem {
 public:
  struct Options {
    std::string linkPath;  // stable name for the port; empty: use the /dev/pts node
    bool log = false;      // also print the transcript to stderr as it happens
  };

  explicit ScriptModem(ModemScript script);
  ScriptModem(ModemScript script, Options options);
  ~ScriptModem();  // stops the thread and closes the pty
  ScriptModem(const ScriptModem &) = delete;
  ScriptModem &operator=(const ScriptModem &) = delete;

  const std::string &path() const { return pty_.path(); }

  // The line settings the program has made on its side of the port, read from ours (a pty's
  // master reports its slave's settings): to check rate switches and XON/XOFF.
  struct LineState {
    std::uint32_t baud = 0;  // 0 when unknown
    bool ixon = false;       // the program obeys XON/XOFF from the modem
    bool ixoff = false;      // the program sends XON/XOFF to the modem
  };
  LineState lineState() const;

  // Waits until the script has run to its end (or failed), at most `limit`.
  bool waitDone(std::chrono::milliseconds limit);
  // Waits as waitDone, keeps reading for `settle` to catch stray input, stops, and reports.
  // A script that did not finish in time is reported as not completed.
  ScriptReport finish(std::chrono::milliseconds limit = std::chrono::seconds(30),
                      std::chrono::milliseconds settle = std::chrono::milliseconds(100));
  // A copy of the report so far.
  ScriptReport report() const;

 private:
  void run();
  void note(const char *dir, std::string_view bytes);
  void mismatch(const ScriptStep &step, const std::string &got);
  bool fill(std::chrono::steady_clock::time_point deadline);  // read more input
  bool writeAll(std::string_view bytes);
  bool stopping() const;

  ModemScript script_;
  Options options_;
  PseudoTerminal pty_;
  int wakeFd_ = -1;
  std::string in_;  // input read but not yet consumed by a step
  std::chrono::steady_clock::time_point start_;
  bool echo_ = false;
  int timeoutMs_ = 10000;

  mutable std::mutex mutex_;
  std::condition_variable doneCv_;
  bool done_ = false;
  bool stop_ = false;
  ScriptReport report_;
  std::thread thread_;
};

}  // namespace kv
