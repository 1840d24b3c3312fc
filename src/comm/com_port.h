#pragma once
// TKvComPort: a serial port with its settings as properties. It opens and closes the port of
// the port layer, applies every setting again after an open, turns negative results into
// exceptions and delivers trigger events on the main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comm/device_layer.h"
#include "comm/port_layer.h"
#include "comm/trace_log.h"

namespace kv {

enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum TDispatcherMode { dNone, dTimer, dCommEvents, dAuto, dWin32 };
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };

enum THWFlowOption { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
// Set of THWFlowOption: bit (1 << option), the same bits as the layer's hf* options.
using THWFlowOptionSet = std::uint16_t;
inline constexpr THWFlowOptionSet hwfSet(std::initializer_list<THWFlowOption> opts) {
  THWFlowOptionSet s = 0;
  for (auto o : opts) s |= THWFlowOptionSet(1u << o);
  return s;
}

class TKvCustomComPort;
using TTriggerEvent = std::function<void(TKvCustomComPort &cp, std::uint16_t msg,
                                         std::uint32_t triggerHandle, std::uint16_t data)>;
using TTriggerAvailEvent = std::function<void(TKvCustomComPort &cp, std::uint32_t count)>;
using TTriggerHandleEvent = std::function<void(TKvCustomComPort &cp, std::uint16_t handle)>;
using TTriggerLineErrorEvent =
    std::function<void(TKvCustomComPort &cp, std::uint16_t error, bool lineBreak)>;
using TNotifyEvent = std::function<void(TKvCustomComPort &sender)>;
using TWaitCharEvent = std::function<void(TKvCustomComPort &cp, char c)>;
using TPortUserProc = std::function<void(TKvCustomComPort &cp, bool opening)>;

class TKvCustomComPort {
 public:
  TKvCustomComPort();
  virtual ~TKvCustomComPort();
  TKvCustomComPort(const TKvCustomComPort &) = delete;
  TKvCustomComPort &operator=(const TKvCustomComPort &) = delete;

  // --- Properties (value and setter) ---
  TDeviceLayer DeviceLayer() const { return deviceLayer_; }
  void SetDeviceLayer(TDeviceLayer v);
  std::uint16_t ComNumber() const { return comNumber_; }
  void SetComNumber(std::uint16_t v);
  // A device path used instead of ComNumber's device (the command-line tool, tests). Empty:
  // the device of ComNumber.
  const std::string &DevicePath() const { return devicePath_; }
  void SetDevicePath(const std::string &v);
  std::uint32_t Baud() const { return baud_; }
  void SetBaud(std::uint32_t v);
  TParity Parity() const { return parity_; }
  void SetParity(TParity v);
  std::uint16_t DataBits() const { return dataBits_; }
  void SetDataBits(std::uint16_t v);
  std::uint16_t StopBits() const { return stopBits_; }
  void SetStopBits(std::uint16_t v);
  std::uint16_t InSize() const { return inSize_; }
  void SetInSize(std::uint16_t v);
  std::uint16_t OutSize() const { return outSize_; }
  void SetOutSize(std::uint16_t v);
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool v) { autoOpen_ = v; }
  TDispatcherMode DispatcherMode() const { return dispatcherMode_; }
  void SetDispatcherMode(TDispatcherMode v);
  bool Open() const { return open_; }
  void SetOpen(bool v);
  bool DTR() const { return dtr_; }
  void SetDTR(bool v);
  bool RTS() const { return rts_; }
  void SetRTS(bool v);
  THWFlowOptionSet HWFlowOptions() const { return hwFlowOptions_; }
  void SetHWFlowOptions(THWFlowOptionSet v);
  TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }
  void SetSWFlowOptions(TSWFlowOptions v);
  char XOnChar() const { return xonChar_; }
  void SetXOnChar(char v);
  char XOffChar() const { return xoffChar_; }
  void SetXOffChar(char v);
  std::uint16_t BufferFull() const { return bufferFull_; }
  void SetBufferFull(std::uint16_t v);
  std::uint16_t BufferResume() const { return bufferResume_; }
  void SetBufferResume(std::uint16_t v);
  TTraceLogState Tracing() const { return tracing_; }
  void SetTracing(TTraceLogState v);
  std::uint16_t TraceSize() const { return traceSize_; }
  void SetTraceSize(std::uint16_t v);
  const std::string &TraceName() const { return traceName_; }
  void SetTraceName(const std::string &v);
  bool TraceHex() const { return traceHex_; }
  void SetTraceHex(bool v) { traceHex_ = v; }
  TTraceLogState Logging() const { return logging_; }
  void SetLogging(TTraceLogState v);
  std::uint16_t LogSize() const { return logSize_; }
  void SetLogSize(std::uint16_t v);
  const std::string &LogName() const { return logName_; }
  void SetLogName(const std::string &v);
  bool LogHex() const { return logHex_; }
  void SetLogHex(bool v) { logHex_ = v; }
  bool UseMSRShadow() const { return useMSRShadow_; }
  void SetUseMSRShadow(bool v);
  bool UseEventWord() const { return useEventWord_; }
  void SetUseEventWord(bool v);
  std::uint16_t TriggerLength() const { return triggerLength_; }
  void SetTriggerLength(std::uint16_t v);
  std::uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
  void SetCommNotificationLevel(std::uint16_t v) { commNotificationLevel_ = v; }
  TTapiMode TapiMode() const { return tapiMode_; }
  void SetTapiMode(TTapiMode v) { tapiMode_ = v; }
  std::int32_t Tag() const { return tag_; }
  void SetTag(std::int32_t v) { tag_ = v; }
  // Not published: GetChar reads directly inside avail notifications instead of ahead.
  bool DirectReading() const { return directReading_; }
  void SetDirectReading(bool v);

  // --- Events (run on the main thread) ---
  TTriggerEvent OnTrigger;
  TTriggerAvailEvent OnTriggerAvail;
  TTriggerHandleEvent OnTriggerData;
  TTriggerHandleEvent OnTriggerStatus;
  TTriggerHandleEvent OnTriggerTimer;
  TTriggerLineErrorEvent OnTriggerLineError;
  TNotifyEvent OnTriggerModemStatus;
  TNotifyEvent OnTriggerOutbuffFree;
  TNotifyEvent OnTriggerOutbuffUsed;
  TNotifyEvent OnTriggerOutSent;
  TWaitCharEvent OnWaitChar;
  TNotifyEvent OnPortOpen;
  TNotifyEvent OnPortClose;

  // --- Operations ---
  // The port handle (opens first when AutoOpen allows); 0 when closed.
  int ComHandle();
  void PutString(std::string_view text);
  void PutChar(char c);
  void PutBlock(const void *bytes, std::size_t count);
  bool CharReady();
  char GetChar();
  char PeekChar(int n);
  std::int32_t InBuffUsed();
  std::int32_t OutBuffUsed();
  std::int32_t OutBuffFree();
  void FlushInBuffer();
  void FlushOutBuffer();
  // Waits for `text`; true when it arrived within `ticks` (or the application is ending).
  bool WaitForString(std::string_view text, std::int32_t ticks, bool yield, bool ignoreCase);
  std::uint8_t ModemStatus();
  bool CheckDCD();

  // Trigger management through the component (handles for OnTrigger* events).
  int AddTimerTrigger();
  int AddStatusTrigger(std::uint16_t kind);
  int AddDataTrigger(std::string_view text, bool ignoreCase);
  void SetTimerTrigger(int handle, std::int32_t ticks, bool activate);
  void SetStatusTrigger(int handle, std::uint16_t value, bool activate);
  void RemoveTrigger(int handle);

  // Components that want to be told of open and close.
  void RegisterUser(TPortUserProc proc, void *id);
  void DeregisterUser(void *id);

  // Loading from a description: Open := True is kept until Loaded().
  void BeginLoading() { loading_ = true; }
  void Loaded();
  bool Loading() const { return loading_; }

  // Passes a layer result through the exception check.
  Result Check(Result r) const;

  // The component owning an open port handle, or null.
  static TKvCustomComPort *ForHandle(int port);

 protected:
  virtual void InstallDeviceLayer();
  virtual void DeviceLayerChanged() {}
  virtual void OpenComPort();
  virtual void CheckComNumber();
  virtual void DoTrigger(std::uint16_t msg, std::uint32_t handle, std::uint16_t data);
  virtual void DoTriggerAvail(std::uint32_t count);
  virtual void DoTriggerData(std::uint16_t handle);
  virtual void DoTriggerStatus(std::uint16_t handle);
  virtual void DoTriggerTimer(std::uint16_t handle);
  virtual void DoTriggerLineError(std::uint16_t error, bool lineBreak);
  virtual void DoTriggerModemStatus();
  virtual void DoTriggerOutbuffFree();
  virtual void DoTriggerOutbuffUsed();
  virtual void DoTriggerOutSent();
  virtual void DoWaitChar(char c);
  virtual void ClosePortNow();

 private:
  class Notifier;
  friend class Notifier;
  void doOpen();
  void doClose();
  // Sets `member` to `v`; an open port is closed and opened again on the new device, keeping
  // its tracing and logging states.
  template <class T>
  void changeDevice(T &member, const T &v);
  void needOpen();
  void applyAll();
  void applyHWFlow();
  void applySWFlow();
  void applyTracing(TTraceLogState v);
  void applyLogging(TTraceLogState v);
  void applyOption(std::uint16_t bit, bool on);
  void notify(std::uint16_t msg, std::uint32_t wParam, std::int32_t lParam);
  bool canAutoOpen() const { return autoOpen_ && !loading_; }

  TDeviceLayer deviceLayer_ = dlWin32;
  std::uint16_t comNumber_ = 0;
  std::string devicePath_;
  std::uint32_t baud_ = 19200;
  TParity parity_ = pNone;
  std::uint16_t dataBits_ = 8;
  std::uint16_t stopBits_ = 1;
  std::uint16_t inSize_ = 4096;
  std::uint16_t outSize_ = 4096;
  bool autoOpen_ = true;
  TDispatcherMode dispatcherMode_ = dWin32;
  bool open_ = false;
  bool dtr_ = true;
  bool rts_ = true;
  THWFlowOptionSet hwFlowOptions_ = 0;
  TSWFlowOptions swFlowOptions_ = swfNone;
  char xonChar_ = 17;
  char xoffChar_ = 19;
  std::uint16_t bufferFull_ = 0;
  std::uint16_t bufferResume_ = 0;
  TTraceLogState tracing_ = tlOff;
  std::uint16_t traceSize_ = 10000;
  std::string traceName_ = "KVCOMM.TRC";
  bool traceHex_ = true;
  TTraceLogState logging_ = tlOff;
  std::uint16_t logSize_ = 10000;
  std::string logName_ = "KVCOMM.LOG";
  bool logHex_ = true;
  bool useMSRShadow_ = true;
  bool useEventWord_ = true;
  std::uint16_t triggerLength_ = 1;
  std::uint16_t commNotificationLevel_ = 10;
  TTapiMode tapiMode_ = tmAuto;
  std::int32_t tag_ = 0;
  bool directReading_ = false;

  int handle_ = 0;
  bool loading_ = false;
  bool openAfterLoad_ = false;
  bool forceApply_ = false;
  bool restoreTriggers_ = false;
  TriggerBlock savedTriggers_;
  std::shared_ptr<DeviceOps> ops_;
  std::unique_ptr<Notifier> notifier_;
  struct User {
    TPortUserProc proc;
    void *id;
  };
  std::vector<User> users_;
};

class TKvComPort : public TKvCustomComPort {
 public:
  TKvComPort() = default;
};

}  // namespace kv
