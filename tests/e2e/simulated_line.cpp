#include "e2e/simulated_line.h"

#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace kv::test {

std::string speedArg(double speed) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", speed);
  return text;
}

std::string SimulatedLine::linesimPath() {
  // KORVANE_LINESIM runs the tests on another build of the line (e.g. one with sanitizers).
  if (const char *p = getenv("KORVANE_LINESIM"); p && *p) return p;
  return std::string(KORVANE_BIN_DIR) + "/linesim";
}

SimulatedLine::SimulatedLine(LineOptions options) : options_(std::move(options)) {
  dir_ = makeTempDir("korvane-line-");
  portA_ = dir_ + "/ttyA";
  bool far = !options_.farReceive.empty() || !options_.farSend.empty();
  if (!far) portB_ = dir_ + "/ttyB";

  // Kept scratch is for looking at a failed call: then the line logs the ports' traffic too.
  const bool traffic = options_.verbosity >= 2 || keepScratch();
  std::vector<std::string> args{linesimPath(), traffic ? "-vv" : "-v",
                                "--speed",     speedArg(options_.speed),
                                "--timeout",   std::to_string(options_.timeoutSeconds)};
  if (options_.calls > 0) {
    args.push_back("--calls");
    args.push_back(std::to_string(options_.calls));
  }
  if (!options_.farReceive.empty()) {
    args.push_back("--far-receive");
    args.push_back(farReceived());
  }
  if (!options_.farSend.empty()) {
    args.push_back("--far-send");
    args.push_back(options_.farSend);
  }
  args.insert(args.end(), options_.extra.begin(), options_.extra.end());
  args.push_back(portA_);
  if (!far) args.push_back(portB_);

  {
    std::ofstream ini(iniPath());
    ini << "[Ports]\nCom1=" << portA_ << "\n";
    if (!far) ini << "Com2=" << portB_ << "\n";
  }
  // Ready when the links exist (watched as they are made); a line that ends at once has failed
  // to start.
  int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch >= 0 && ::inotify_add_watch(watch, dir_.c_str(), IN_CREATE) < 0) {
    ::close(watch);
    watch = -1;
  }
  proc_ = std::make_unique<Process>(args, dir_ + "/linesim.log");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    bool ready = access(portA_.c_str(), F_OK) == 0 && (far || access(portB_.c_str(), F_OK) == 0);
    if (ready) break;
    if (!proc_->running() || std::chrono::steady_clock::now() > deadline) {
      if (watch >= 0) ::close(watch);
      std::string out = proc_->output();
      proc_.reset();
      throw std::runtime_error("linesim did not start: " + out);
    }
    if (watch >= 0) {
      // A new entry in the folder, or at the latest a tenth of a second to look at the process.
      pollfd p{watch, POLLIN, 0};
      ::poll(&p, 1, 100);
      char buf[4096];
      while (::read(watch, buf, sizeof buf) > 0) {
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (watch >= 0) ::close(watch);
}

SimulatedLine::~SimulatedLine() {
  proc_.reset();  // stops linesim, which removes its links
  if (keepScratch()) return;
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void SimulatedLine::appendIni(const std::string &text) {
  std::ofstream ini(iniPath(), std::ios::app);
  ini << text;
}

int SimulatedLine::finish(std::chrono::milliseconds limit) {
  if (!proc_->wait(limit)) {
    proc_->terminate();
    return -1;
  }
  return proc_->exitCode();
}

std::string SimulatedLine::log() const {
  return proc_ ? proc_->output() : std::string();
}

}  // namespace kv::test
