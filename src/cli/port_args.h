// What the subcommands that open a modem port share: their port options, reading them, and the
// plain main-thread loop that carries the port's events while the subcommand runs.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/command.h"
#include "comm/main_thread.h"
#include "fax/fax_session.h"
#include "modem/port_options.h"

namespace kv::cli {

// --device, --port, --trace and --log, as every port subcommand lists them.
std::vector<OptionSpec> portOptionSpecs();

// Reads those options. On a usage error it reports it and answers false with exitCode set.
bool parsePortOptions(const Args &args, Context &ctx, const std::string &command, PortOptions &po,
                      int &exitCode);

// --class auto|1|2|2.0 into the session's fax class; false with exitCode set on a usage error.
bool parseClassOption(const Args &args, Context &ctx, const std::string &command,
                      TKvAbstractFax &fax, int &exitCode);

// A message of the windows' texts for a terminal: its CR line breaks become newlines.
std::string terminalText(std::string message);

// A session's error as every session subcommand prints it: text, code and the modem's hang-up.
void printSessionError(std::ostream &err, TKvAbstractFax &fax, Result code);

// Reads --speed X (1..64): a simulated line running X times faster than real time needs the
// engine's fixed delays shortened by the same factor, or T.30's response windows are missed.
bool applySpeedOption(const Args &args, Context &ctx, const std::string &command,
                      TKvAbstractFax &fax, int &exitCode);

// Two-dimensional coding (MR): on unless --no-2d is given or KRV.INI in the current directory
// turns it off ([Modem] TwoDimensional=0), for a peer that claims MR and fails at it.
void applyCodingOption(const Args &args, TKvAbstractFax &fax);

// --history FILE: the session's history log appends its records to FILE. Without the option
// no history is written at all. A file that cannot be appended to is reported (false, exit
// code set) before any call is made, rather than records going missing unnoticed.
OptionSpec historyOptionSpec();
// The options of a command that runs a fax session: the port's, then `own`, then --history
// and --speed.
std::vector<OptionSpec> sessionOptionSpecs(std::vector<OptionSpec> own);
bool applyHistoryOption(const Args &args, Context &ctx, const std::string &command,
                        TKvAbstractFax &fax, TKvFaxLog &log, int &exitCode);

// While it lives, SIGINT and SIGTERM only raise a flag the session loop polls; the previous
// handlers come back afterwards.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals &) = delete;
  StopSignals &operator=(const StopSignals &) = delete;
  bool raised() const;

 private:
  void (*oldInt_)(int);
  void (*oldTerm_)(int);
  void (*oldHup_)(int);
};

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
