#include "modem/port_options.h"

#include <chrono>
#include <thread>

#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "comm/port_layer.h"
#include "settings/settings.h"

namespace kv {

std::string portDeviceFromIni(const std::string &iniPath, int n) {
  return portDeviceName(std::filesystem::path(iniPath), n);
}

void closePortAndWait(TKvCustomComPort &cp, int limitMs) {
  int h = cp.Open() ? cp.ComHandle() : 0;
  try {
    cp.SetOpen(false);
  } catch (const std::exception &) {
    // Closing always completes; a failure to write the trace files is not ours to report here.
  }
  auto &mt = MainThread::instance();
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (h && PortIsOpen(h) && std::chrono::steady_clock::now() < until) {
    if (mt.isMainThread()) mt.processPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (mt.isMainThread()) mt.processPending();
}

void applyPortOptions(TKvCustomComPort &cp, const PortOptions &o, const std::string &iniPath) {
  if (!o.device.empty()) {
    cp.SetDevicePath(o.device);
  } else {
    cp.SetComNumber(std::uint16_t(o.number));
    cp.SetDevicePath(portDeviceFromIni(iniPath, o.number));
  }
  if (!o.traceFile.empty()) {
    cp.SetTraceSize(kLargeTraceSize);
    cp.SetTraceName(o.traceFile);
    cp.SetTracing(tlOn);
  }
  if (!o.logFile.empty()) {
    cp.SetLogSize(kLargeLogSize);
    cp.SetLogName(o.logFile);
    cp.SetLogging(tlOn);
  }
}

}  // namespace kv
