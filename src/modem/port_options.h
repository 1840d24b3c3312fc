#pragma once
// Choosing the device of a port for tools that run without the settings window: an explicit
// device path, or port n of the "Ports" section of a KRV.INI; plus trace and dispatch log
// files with large rings.
#include <string>

namespace kv {

class TKvCustomComPort;

struct PortOptions {
  std::string device;  // explicit path; wins over number
  int number = 0;      // 1..50
  std::string traceFile;
  std::string logFile;
};

inline constexpr int kLargeTraceSize = 32760;
inline constexpr int kLargeLogSize = 65520;

// Device path of port n in the INI file, "/dev/ttyS<n-1>" when the file has none.
std::string portDeviceFromIni(const std::string &iniPath, int n);

// Closes the port and waits (at most `limitMs`) until its threads have let go of it, running the
// main thread's pending work meanwhile: a delivery that was under way when the port closed may
// still be waiting for the main thread, which must outlive it. Call on the main thread.
void closePortAndWait(TKvCustomComPort &cp, int limitMs = 3000);

// Points the closed port at its device and sets up tracing and logging.
void applyPortOptions(TKvCustomComPort &cp, const PortOptions &o,
                      const std::string &iniPath = "KRV.INI");

}  // namespace kv
