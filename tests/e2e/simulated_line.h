#pragma once
// A simulated phone line for end-to-end tests: starts linesim with fresh port names in a
// temporary program directory whose KRV.INI maps Com1 and Com2 to them, and stops it and
// removes the directory at the end of the scope.
//
//   kv::test::SimulatedLine line;                 // two modems, 8x real time
//   runReceiver(line.programDir(), /*port*/ 2);   // code under test opens line.portB()
//   runSender(line.programDir(), 1, "555");
//   EXPECT_EQ(line.finish(), 0) << line.log();    // with options.calls set
//
// With options.farReceive (or farSend) side B is a fax machine instead of a second modem;
// then only Com1 exists.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "e2e/process.h"
#include "support/temp_files.h"

namespace kv::test {

// How much faster than real time the line tests run. The deadlines of a call shrink with it: a
// far end's reply starts within about a second of line time, so a program that has sent a frame
// has that long to listen again; at 4x that leaves it some 250 ms of real time (85 ms of it its
// own protocol delays), enough on a busy machine. At 8x the scheduler ate that margin now and
// then and calls were lost.
inline constexpr double kLineSpeed = 4;
// kLineSpeed (or `speed`) as a program's --speed argument.
std::string speedArg(double speed = kLineSpeed);

struct LineOptions {
  double speed = kLineSpeed;
  int verbosity = 1;               // linesim's log: 1 line events, 2 plus the ports' traffic
  int calls = 0;                   // linesim ends itself after this many calls (0: it runs
                                   // until finish() or the scope ends)
  double timeoutSeconds = 170;     // linesim's own limit, real seconds
  std::string farReceive;          // file name inside the program dir, e.g. "far.tif"
  std::string farSend;             // path of a TIFF the far end sends to A
  std::vector<std::string> extra;  // more linesim options, e.g. {"--busy", "555"}
};

class SimulatedLine {
 public:
  explicit SimulatedLine(LineOptions options = {});
  ~SimulatedLine();
  SimulatedLine(const SimulatedLine &) = delete;
  SimulatedLine &operator=(const SimulatedLine &) = delete;

  const std::string &programDir() const { return dir_; }
  std::string iniPath() const { return dir_ + "/KRV.INI"; }
  const std::string &portA() const { return portA_; }
  const std::string &portB() const { return portB_; }
  // Full path of the far end's received TIFF (when farReceive is set).
  std::string farReceived() const { return dir_ + "/" + options_.farReceive; }
  // Adds text (whole sections) to KRV.INI.
  void appendIni(const std::string &text);

  // Waits for linesim to end by itself (after options.calls) and returns its exit code;
  // stops it when it does not end within `limit` (and returns -1).
  int finish(std::chrono::milliseconds limit = std::chrono::seconds(30));
  std::string log() const;  // linesim's output: the log, then the summary of the calls
  pid_t pid() const { return proc_ ? proc_->pid() : -1; }

  static std::string linesimPath();  // $KORVANE_LINESIM, or linesim of this build

 private:
  LineOptions options_;
  std::string dir_, portA_, portB_;
  std::unique_ptr<Process> proc_;
};

}  // namespace kv::test
