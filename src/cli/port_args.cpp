#include "cli/port_args.h"

#include <atomic>
#include <csignal>

#include "fax/fax_session.h"

namespace kv::cli {

std::vector<OptionSpec> portOptionSpecs() {
  return {
      {"device", 0, "PATH", "serial device of the modem"},
      {"port", 0, "N", "port number from KRV.INI [Ports]"},
      {"trace", 0, "FILE", "write the port trace to FILE"},
      {"log", 0, "FILE", "write the dispatch log to FILE"},
  };
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

bool applySpeedOption(const Args &args, Context &ctx, const std::string &command, int &exitCode) {
  auto sp = args.value("speed");
  if (!sp) return true;
  int x = 0;
  if (!parseInt(*sp, 1, 64, x)) {
    exitCode = usageError(ctx, command, "--speed takes 1 to 64");
    return false;
  }
  setFaxDelayScale(1.0 / x);
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
}

StopSignals::~StopSignals() {
  std::signal(SIGINT, oldInt_);
  std::signal(SIGTERM, oldTerm_);
}

bool StopSignals::raised() const {
  return gStopRaised;
}

}  // namespace kv::cli
