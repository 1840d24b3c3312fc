// What the subcommands that open a modem port share: their port options, reading them, and the
// plain main-thread loop that carries the port's events while the subcommand runs.
#pragma once

#include <string>
#include <vector>

#include "cli/command.h"
#include "comm/main_thread.h"
#include "modem/port_options.h"

namespace kv::cli {

// --device, --port, --trace and --log, as every port subcommand lists them.
std::vector<OptionSpec> portOptionSpecs();

// Reads those options. On a usage error it reports it and answers false with exitCode set.
bool parsePortOptions(const Args &args, Context &ctx, const std::string &command, PortOptions &po,
                      int &exitCode);

// Installs a plain main-thread loop for the life of a subcommand.
class MainThreadScope {
 public:
  MainThreadScope() { MainThread::install(&loop_); }
  ~MainThreadScope() { MainThread::install(nullptr); }
  MainThreadScope(const MainThreadScope &) = delete;
  MainThreadScope &operator=(const MainThreadScope &) = delete;
  PlainMainThread &loop() { return loop_; }

 private:
  PlainMainThread loop_;
};

}  // namespace kv::cli
