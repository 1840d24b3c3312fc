#include "cli/port_args.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "base/error_text.h"
#include "fax/fax_session.h"
#include "settings/settings.h"

namespace kv::cli {

std::vector<OptionSpec> portOptionSpecs() {
  return {
      {"device", 0, "PATH", "serial device of the modem"},
      {"port", 0, "N", "port number from KRV.INI [Ports]"},
      {"trace", 0, "FILE", "write the port trace to FILE"},
      {"log", 0, "FILE", "write the dispatch log to FILE"},
  };
}

bool parseClassOption(const Args &args, Context &ctx, const std::string &command,
                      TKvAbstractFax &fax, int &exitCode) {
  static const std::pair<const char *, TFaxClass> classes[] = {
      {"auto", fcDetect}, {"1", fcClass1}, {"2", fcClass2}, {"2.0", fcClass2_0}};
  auto c = args.value("class");
  if (!c) return true;
  for (const auto &[name, cls] : classes)
    if (*c == name) {
      fax.FaxClass = cls;
      return true;
    }
  exitCode = usageError(ctx, command, "--class takes auto, 1, 2 or 2.0");
  return false;
}

bool parsePortOptions(const Args &args, Context &ctx, const std::string &command, PortOptions &po,
                      int &exitCode) {
  if (auto d = args.value("device")) po.device = *d;
  if (auto p = args.value("port"); p && !parseInt(*p, 1, 50, po.number)) {
    exitCode = usageError(ctx, command, "--port takes a number from 1 to 50");
    return false;
  }
  if (po.device.empty() == (po.number == 0)) {
    exitCode = usageError(ctx, command, "give exactly one of --device PATH and --port N");
    return false;
  }
  po.traceFile = args.value("trace").value_or("");
  po.logFile = args.value("log").value_or("");
  return true;
}

std::string terminalText(std::string message) {
  for (auto &c : message)
    if (c == '\r') c = '\n';
  return message;
}

void printSessionError(std::ostream &err, TKvAbstractFax &fax, Result code) {
  err << "Error: " << errorText(code) << " (" << code << ")"
      << fax.HangupText(", the modem hung up: ") << "\n";
}

bool applySpeedOption(const Args &args, Context &ctx, const std::string &command,
                      TKvAbstractFax &fax, int &exitCode) {
  SessionClock clock = fax.Clock();
  clock.timeoutSpeed = ctx.timeoutSpeed;
  if (auto sp = args.value("speed")) {
    int x = 0;
    if (!parseInt(*sp, 1, 64, x)) {
      exitCode = usageError(ctx, command, "--speed takes 1 to 64");
      return false;
    }
    clock.setSimulatedLine(x);
  }
  fax.SetClock(clock);
  return true;
}

void applyCodingOption(const Args &args, TKvAbstractFax &fax) {
  fax.Allow2D = !args.has("no-2d") && LoadSettings(kSettingsFileName).twoDimensional;
}

OptionSpec historyOptionSpec() {
  return {"history", 0, "FILE", "append the fax history records to FILE"};
}

std::vector<OptionSpec> sessionOptionSpecs(std::vector<OptionSpec> own) {
  std::vector<OptionSpec> all = portOptionSpecs();
  all.insert(all.end(), own.begin(), own.end());
  all.push_back(historyOptionSpec());
  all.push_back({"no-2d", 0, "", "no two-dimensional coding (MR), MH only"});
  all.push_back({"speed", 0, "X", "the line runs X times faster than real time (simulated lines)"});
  return all;
}

bool applyHistoryOption(const Args &args, Context &ctx, const std::string &command,
                        TKvAbstractFax &fax, TKvFaxLog &log, int &exitCode) {
  auto file = args.value("history");
  if (!file) return true;
  if (file->empty()) {
    exitCode = usageError(ctx, command, "--history takes a file name");
    return false;
  }
  errno = 0;
  std::FILE *f = std::fopen(file->c_str(), "ab");
  if (!f) {
    ctx.err << "korvane-fax " << command << ": cannot write the history file " << *file << ": "
            << std::strerror(errno) << "\n";
    exitCode = exitFailed;
    return false;
  }
  std::fclose(f);
  log.FaxHistoryName = *file;
  fax.FaxLog = &log;
  return true;
}

namespace {
std::atomic<bool> gStopRaised{false};
void onStopSignal(int) {
  gStopRaised = true;
}
}  // namespace

StopSignals::StopSignals() {
  gStopRaised = false;
  oldInt_ = std::signal(SIGINT, onStopSignal);
  oldTerm_ = std::signal(SIGTERM, onStopSignal);
  // A closed terminal ends the session as Ctrl+C does: the call is hung up and recorded.
  oldHup_ = std::signal(SIGHUP, onStopSignal);
}

StopSignals::~StopSignals() {
  std::signal(SIGINT, oldInt_);
  std::signal(SIGTERM, oldTerm_);
  std::signal(SIGHUP, oldHup_);
}

bool StopSignals::raised() const {
  return gStopRaised;
}

}  // namespace kv::cli
