#include "modem/port_options.h"

#include "comm/com_port.h"
#include "settings/settings.h"

namespace kv {

std::string portDeviceFromIni(const std::string &iniPath, int n) {
  return portDeviceName(std::filesystem::path(iniPath), n);
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
