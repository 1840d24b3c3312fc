#pragma once
// A child program for end-to-end tests: started in its own process group, told to end when
// the test program dies, output captured in a file, stopped for sure on destruction.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kv::test {

class Process {
 public:
  // argv[0] is a path or a name looked up in PATH. Output (stdout and stderr) goes to
  // logPath. Throws std::system_error when the program cannot be started.
  Process(std::vector<std::string> argv, std::string logPath);
  ~Process();  // terminate() if still running
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the end, at most `limit`. True when it ended; exitCode() then holds the exit
  // status, or 128 + signal number when it was killed.
  bool wait(std::chrono::milliseconds limit);
  bool running();
  int exitCode() const { return exitCode_; }
  // SIGTERM to the whole group, then SIGKILL if it lingers past `grace`.
  void terminate(std::chrono::milliseconds grace = std::chrono::seconds(3));
  std::string output() const;  // everything it wrote so far
  const std::string &logPath() const { return logPath_; }
  // From /proc while it runs: CPU time used so far (user + system, seconds) and resident
  // memory (kB); -1 when they cannot be read.
  double cpuSeconds() const;
  long residentKb() const;
  // Waits until `text` appears in the output, at most `limit`; false when it did not (or the
  // program ended without writing it).
  bool waitForOutput(const std::string &text, std::chrono::milliseconds limit);
  // What a receiving program says once it waits for a call: korvane-fax and efax (at -v).
  static constexpr const char *kOursListening = "Waiting for incoming call";
  static constexpr const char *kEfaxListening = "waiting for activity";

 private:
  bool reap();  // true when the program has ended (exitCode_ set)

  pid_t pid_ = -1;
  int pidFd_ = -1;  // readable once the program has ended; -1 until opened or where unsupported
  int exitCode_ = -1;
  std::string logPath_;
};

}  // namespace kv::test
