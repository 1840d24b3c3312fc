#pragma once
// The port layer: a table of 50 open ports, each with its device, input and output rings,
// three worker threads, triggers, trace and dispatch log. Every operation takes a port handle
// (1..50) and returns 0 or a positive value on success, a negative result code on failure.
// Operations that return a count or a flag return 0 for a bad handle instead of -1001.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/result_codes.h"
#include "comm/device_layer.h"
#include "comm/ticks.h"

namespace kv {

inline constexpr int kMaxPorts = 50;
inline constexpr std::uint32_t kInRingSize = 8192;
inline constexpr int kWriteTimeoutMs = 60000;

// Trigger messages.
enum : std::uint16_t {
  APW_TRIGGERAVAIL = 0x7E01,
  APW_TRIGGERDATA = 0x7E02,
  APW_TRIGGERTIMER = 0x7E03,
  APW_TRIGGERSTATUS = 0x7E04,
  APW_PORTOPEN = 0x7E08,
  APW_PORTCLOSE = 0x7E09,
};

// Status trigger kinds.
enum : std::uint16_t {
  stNotActive = 0,
  stModem = 1,
  stLine = 2,
  stOutBuffFree = 3,
  stOutBuffUsed = 4,
  stOutSent = 5,
};

// Port options.
enum : std::uint16_t {
  poUseMSRShadow = 1,
  poDirectRead = 2,  // GetChar consumes directly even inside an avail or data notification
  poUseEventWord = 4,
};

// Hardware flow options.
enum : std::uint16_t {
  hfUseDTR = 1,
  hfUseRTS = 2,
  hfRequireDSR = 4,
  hfRequireCTS = 8,
};
// Software flow options.
enum : std::uint16_t {
  sfTransmitFlow = 1,
  sfReceiveFlow = 2,
};

inline constexpr int kMaxTimerTriggers = 10;
inline constexpr int kMaxDataTriggers = 20;
inline constexpr int kMaxStatusTriggers = 10;
inline constexpr int kMaxTriggerHandle = 41;
inline constexpr int kMaxDataTriggerLen = 21;

// A "window" handler: its messages are run on the main thread while the dispatch thread waits
// (at most 1000 ms per message).
class TriggerWindow {
 public:
  virtual ~TriggerWindow() = default;
  virtual void triggerMessage(std::uint16_t msg, std::uint32_t wParam, std::int32_t lParam) = 0;
};

// A procedure handler: called on the dispatch thread. lParam = (port shl 16) or data.
using TriggerProc = void (*)(void *user, std::uint16_t msg, std::uint32_t wParam,
                             std::int32_t lParam);

inline constexpr int PortOf(std::int32_t lParam) {
  return int(std::uint32_t(lParam) >> 16);
}
inline constexpr int DataOf(std::int32_t lParam) {
  return int(lParam & 0xFFFF);
}

// Triggers of a port, saved when the component closes it and restored at the next open.
struct TriggerBlock {
  struct Timer {
    std::uint16_t handle = 0;
    EventTimer timer;
    std::int32_t duration = 0;
    bool inUse = false;
    bool armed = false;
  };
  struct Data {
    std::uint16_t handle = 0;
    bool ignoreCase = false;
    std::string text;
  };
  struct Status {
    std::uint16_t handle = 0;
    std::uint16_t kind = 0;
    bool armed = false;
    std::uint16_t value = 0;
  };
  struct MapEntry {
    std::uint8_t index = 0;  // 1-based index into its table
    std::uint8_t kind = 0;   // 2 timer, 3 data, 4 status, 0 free
  };
  std::uint16_t triggerLength = 0;
  Timer timers[kMaxTimerTriggers];
  Data data[kMaxDataTriggers];
  Status status[kMaxStatusTriggers];
  MapEntry map[kMaxTriggerHandle + 1];
};

// --- Opening and closing ---------------------------------------------------------------------

// Opens `device` (a path such as /dev/ttyS0) with the given device layer. Results: 0 and the
// handle in `port`; -2009 no free slot; -8 no memory; the device layer's code when the device
// cannot be opened; the line setting's code when the line cannot be set.
Result OpenPort(int &port, std::shared_ptr<DeviceOps> ops, const std::string &device,
                std::uint16_t inSize, std::uint16_t outSize, std::uint32_t baud, int parity,
                int dataBits, int stopBits);
// Adopts a device handle opened elsewhere; closing the port releases but never closes it.
Result AttachPort(int &port, std::shared_ptr<DeviceOps> ops, int deviceHandle, std::uint16_t inSize,
                  std::uint16_t outSize);
// Closes the port. Called from inside a trigger handler it returns at once; the dispatch
// thread frees the port when the delivery ends. From anywhere else it returns once the port's
// threads have ended, sends of the dispatch thread that wait for the main thread given up.
Result ClosePort(int port);
// Whether `port` names an open port (a port being closed from a handler still counts).
bool PortIsOpen(int port);
// Number of ports in use, for diagnostics.
int OpenPortCount();

// --- Line and modem --------------------------------------------------------------------------

Result SetLine(int port, std::uint32_t baud, int parity, int dataBits, int stopBits);
struct LineValues {
  std::uint32_t baud = 0;
  int parity = 0;
  int dataBits = 0;
  int stopBits = 0;
};
Result GetLine(int port, LineValues &v);
Result SetDTR(int port, bool on);
Result SetRTS(int port, bool on);
Result SetModem(int port, bool dtr, bool rts);
Result GetModemStatus(int port, std::uint8_t keepMask);
Result CheckDCD(int port);
Result GetLineError(int port);
Result CheckLineBreak(int port);
Result SendBreak(int port, bool on);
Result HWFlowEnable(int port, std::uint16_t bufferFull, std::uint16_t bufferResume,
                    std::uint16_t options);
Result HWFlowDisable(int port);
Result SWFlowEnable(int port, std::uint16_t bufferFull, std::uint16_t bufferResume,
                    std::uint16_t options);
Result SWFlowDisable(int port);
Result SetFlowChars(int port, char xon, char xoff);
Result SetQueueSizes(int port, std::uint16_t inSize, std::uint16_t outSize);
// True when the device has gone away (hang-up, unplugged, failed read or write).
bool DeviceLost(int port);

// --- Data ------------------------------------------------------------------------------------

Result CharReady(int port);
Result GetChar(int port, char &c);
Result PeekChar(int port, int n, char &c);  // n is 1-based
Result InBuffUsed(int port);
Result PutBlock(int port, const void *bytes, std::size_t count);
Result PutChar(int port, char c);
Result PutString(int port, std::string_view text);
Result OutBuffUsed(int port);
Result OutBuffFree(int port);
Result FlushOutBuffer(int port);
Result FlushInBuffer(int port);
// Waits (on the calling thread) up to `ms` for unread input or a wake-up; 1 when input is
// there, 0 otherwise. Lets string waits sleep instead of spinning.
Result WaitForInput(int port, int ms);

Result SetDataPointer(int port, void *p, int slot);
Result GetDataPointer(int port, void *&p, int slot);
Result ProcessCommunications(int port);
Result SetPortOptions(int port, std::uint16_t bits);
Result ClearPortOptions(int port, std::uint16_t bits);
Result GetPortOptions(int port);
// The dispatching mark: while set no trigger is delivered (the component's string wait).
// Returns the previous mark (0 or 1).
Result SetDispatching(int port, bool on);

// --- Triggers --------------------------------------------------------------------------------

Result SetTriggerLength(int port, std::uint16_t n);
Result AddTimerTrigger(int port);
Result AddStatusTrigger(int port, std::uint16_t kind);
Result AddDataTrigger(int port, std::string_view text, bool ignoreCase);
Result SetTimerTrigger(int port, int handle, std::int32_t ticks, bool activate);
Result SetStatusTrigger(int port, int handle, std::uint16_t value, bool activate);
Result RemoveTrigger(int port, int handle);
// Kind of a status trigger handle (stModem ..), or -5003.
Result StatusTriggerKind(int port, int handle);
Result RegisterTriggerHandler(int port, TriggerWindow *window, TriggerProc proc, void *user,
                              bool passOn = true);
Result DeregisterTriggerHandler(int port, TriggerWindow *window, TriggerProc proc);
Result SaveTriggers(int port, TriggerBlock &block);
Result RestoreTriggers(int port, const TriggerBlock &block);

// --- Trace and dispatch log ------------------------------------------------------------------

enum : std::uint8_t { dtNone, dtDispatch, dtTrigger, dtError, dtThread };
enum : std::uint8_t {
  dstNone,
  dstReadCom,
  dstWriteCom,
  dstLineStatus,
  dstModemStatus,
  dstAvail,
  dstTimer,
  dstData,
  dstStatus,
  dstThreadStart,
  dstThreadExit,
  dstThreadSleep,
  dstThreadWake,
  dstState,  // a fax machine entered a state: data its number, extra its name
};

Result InitTracing(int port, std::uint16_t entries);  // starts (or empties) the trace
Result TracingOn(int port);                           // resumes a paused trace
Result TracingOff(int port);                          // pauses
Result ClearTracing(int port);
Result AbortTracing(int port);  // frees the ring
Result DumpTrace(int port, const std::string &file, bool append, bool hex);
Result AddTraceEntry(int port, char letter, char c);

Result InitEventLogging(int port, std::uint16_t size);
Result EventLoggingOn(int port);
Result EventLoggingOff(int port);
Result ClearEventLogging(int port);
Result AbortEventLogging(int port);
Result DumpDispatchLog(int port, const std::string &file, bool append, bool hex);
Result AddDispatchEntry(int port, std::uint8_t type, std::uint8_t subtype, std::uint16_t data,
                        const void *extra, std::uint16_t extraLen);

}  // namespace kv
