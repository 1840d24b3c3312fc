#pragma once
// The device layer: the operations the port layer needs of a serial device. The serial one
// works on termios devices (serial ports, USB modems, pseudo-terminals); a program or a test
// can install its own through the dlOther installer.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/result_codes.h"

namespace kv {

enum TDeviceLayer { dlNone, dlComm, dlFossil, dlWin32, dlWinsock, dlOther };

enum TFlowControl : std::uint8_t { fcOff = 0, fcOn = 1, fcHandshake = 2 };

// Line settings block.
struct LineSettings {
  std::uint32_t baud = 19200;
  TFlowControl dtrControl = fcOn;
  TFlowControl rtsControl = fcOn;
  bool outxCtsFlow = false;
  bool outxDsrFlow = false;
  bool outX = false;  // obey XON/XOFF on output
  bool inX = false;   // send XON/XOFF on input
  std::uint16_t xonLimit = 0;
  std::uint16_t xoffLimit = 0;
  std::uint8_t dataBits = 8;
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  char xonChar = 17;
  char xoffChar = 19;
};

// Device error bits, as kept in the port's line error accumulator.
enum : std::uint16_t {
  leRxOver = 1,
  leOverrun = 2,
  leParity = 4,
  leFraming = 8,
  leBreak = 16,
  leAllErrors = 31,
};

// Comm events the event wait reports.
enum : std::uint32_t {
  evRxChar = 0x0001,
  evCts = 0x0008,
  evDsr = 0x0010,
  evRlsd = 0x0020,
  evBreak = 0x0040,
  evErr = 0x0080,
  evRing = 0x0100,
  evRingTe = 0x2000,
  evDefaultMask = 0x21F9,
  // Not a line event: the device went away (hang-up, unplugged, read or write failed).
  evDeviceLost = 0x10000,
};

// Modem line bits as held in the high nibble of the modem status shadow.
enum : std::uint8_t {
  msDCTS = 1,
  msDDSR = 2,
  msTERI = 4,
  msDDCD = 8,
  msCTS = 16,
  msDSR = 32,
  msRI = 64,
  msDCD = 128,
};

struct DeviceStatus {
  std::uint16_t errors = 0;  // le* bits since the last call (cleared by reading)
  std::uint32_t inQueue = 0;
  std::uint32_t outQueue = 0;
};

// One device layer. A handle is what open() returned (>= 0). Every operation returns 0 or a
// count on success and a negative code on failure; -103 for an unknown handle.
class DeviceOps {
 public:
  virtual ~DeviceOps() = default;

  // 1. Line settings from a text such as "19200,N,8,1".
  virtual Result buildLine(const std::string &text, LineSettings &out);
  virtual Result clearBreak(int h) = 0;
  virtual Result close(int h) = 0;
  // 3 = raise RTS, 4 = drop RTS, 5 = raise DTR, 6 = drop DTR.
  virtual Result escape(int h, int fn) = 0;
  // 1 = discard device input, 0 = discard device output.
  virtual Result flush(int h, int which) = 0;
  virtual Result status(int h, DeviceStatus &st) = 0;
  virtual Result getEventMask(int) { return 0; }
  virtual Result getLine(int h, LineSettings &ls) = 0;
  // Opens the device exclusively, never blocking. Returns the handle or a negative code:
  // -2008 held by another program, -2 missing, -5 no permission, other -errno.
  virtual Result open(const std::string &name) = 0;
  // Reads up to n bytes already there; never waits.
  virtual Result read(int h, void *buf, std::size_t n) = 0;
  virtual Result setBreak(int h) = 0;
  virtual Result setEventMask(int, std::uint32_t) { return 0; }
  virtual Result setLine(int h, const LineSettings &ls) = 0;
  virtual Result transmitChar(int h, char c) = 0;
  virtual Result enableNotification(int) { return ecNotSupported; }
  // Writes what the device takes now; returns the count (0 when it is full).
  virtual Result write(int h, const void *buf, std::size_t n) = 0;
  virtual void optionsHook(int, std::uint16_t) {}
  virtual Result attach(int h, bool on) = 0;
  // Returns non-zero on success.
  virtual Result setupQueues(int h, std::uint16_t inSize, std::uint16_t outSize) = 0;

  // Current modem lines as msCTS|msDSR|msRI|msDCD, or ecNotSupported when the device has no
  // modem lines (a pseudo-terminal).
  virtual Result modemLines(int h) = 0;
  // Blocks until a comm event of `mask` happens or `wakeFd` (an eventfd) becomes readable.
  // Returns the event bits (0 when woken) or a negative code.
  virtual Result waitEvent(int h, std::uint32_t mask, int wakeFd) = 0;
  // Blocks until the device takes output, `wakeFd` is readable or `timeoutMs` passes. Returns
  // 1 writable, 0 time-out, 2 woken, negative on failure.
  virtual Result waitWritable(int h, int wakeFd, int timeoutMs) = 0;
};

// The serial device layer on termios.
std::shared_ptr<DeviceOps> SerialDeviceLayer();

// Installer for dlOther: returns the layer to use for a port being opened.
using DeviceLayerInstaller = std::function<std::shared_ptr<DeviceOps>()>;
void SetOtherDeviceInstaller(DeviceLayerInstaller installer);
// The layer for `dl`: the serial layer for dlWin32, the installer's for dlOther, else null.
std::shared_ptr<DeviceOps> InstallDeviceLayer(TDeviceLayer dl);

// Device path of serial port number n (1..50): what the installed resolver says (the programs
// install the lookup of the settings file's "Ports" section), else /dev/ttyS<n-1>.
std::string PortDeviceName(int n);
void SetPortDeviceResolver(std::function<std::string(int)> resolver);

}  // namespace kv
