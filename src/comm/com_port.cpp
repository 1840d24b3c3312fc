#include "comm/com_port.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "base/exceptions.h"
#include "comm/main_thread.h"

namespace kv {

namespace {

// Port handle to component, for delivering trigger messages.
std::mutex g_compMu;
std::map<int, TKvCustomComPort *> g_components;

}  // namespace

// Receives the port's trigger messages on the main thread and turns them into events.
class TKvCustomComPort::Notifier : public TriggerWindow {
 public:
  void triggerMessage(std::uint16_t msg, std::uint32_t wParam, std::int32_t lParam) override {
    int port = PortOf(lParam);
    if (port < 1 || port > 100) return;
    TKvCustomComPort *cp = TKvCustomComPort::ForHandle(port);
    if (!cp) return;
    try {
      cp->notify(msg, wParam, lParam);
    } catch (...) {
      MainThread::reportException(std::current_exception());
    }
  }
};

TKvCustomComPort::TKvCustomComPort() : notifier_(std::make_unique<Notifier>()) {
  // Components live on the main thread; asking for the service here binds the default one to
  // it before any serial thread can ask.
  MainThread::instance();
}

TKvCustomComPort::~TKvCustomComPort() {
  if (open_) {
    try {
      doClose();
    } catch (...) {
      // A trace file that cannot be written must not stop the destruction.
    }
  }
}

TKvCustomComPort *TKvCustomComPort::ForHandle(int port) {
  std::lock_guard lk(g_compMu);
  auto it = g_components.find(port);
  return it == g_components.end() ? nullptr : it->second;
}

Result TKvCustomComPort::Check(Result r) const {
  return RaiseOnError(loading_, r);
}

// ---- Opening and closing ---------------------------------------------------------------------

void TKvCustomComPort::CheckComNumber() {
  if (comNumber_ == 0 && devicePath_.empty()) Check(ecNoPortSelected);
}

void TKvCustomComPort::InstallDeviceLayer() {
  ops_ = kv::InstallDeviceLayer(deviceLayer_);
}

void TKvCustomComPort::OpenComPort() {
  std::string device = devicePath_.empty() ? PortDeviceName(comNumber_) : devicePath_;
  int h = 0;
  Result r =
      ops_ ? OpenPort(h, ops_, device, inSize_, outSize_, baud_, int(parity_), dataBits_, stopBits_)
           : ecNullApi;
  if (r == ecFileNotFound || r == ecPathNotFound) r = ecBadId;
  if (r == ecAccessDenied && !loading_)
    throw EInOutError(5, "No permission to open " + device +
                             ": the user must be a member of the group that owns it (usually "
                             "\"dialout\"), then log in again");
  if (Check(r) < 0) return;
  handle_ = h;
}

void TKvCustomComPort::doOpen() {
  CheckComNumber();
  InstallDeviceLayer();
  OpenComPort();
  if (handle_ == 0) return;
  open_ = true;
  forceApply_ = true;
  try {
    TTraceLogState tr = tracing_, lg = logging_;
    tracing_ = tlOff;
    logging_ = tlOff;
    SetTracing(tr);
    SetLogging(lg);
    applyHWFlow();
    applySWFlow();
    SetXOnChar(xonChar_);
    SetXOffChar(xoffChar_);
    SetTriggerLength(triggerLength_);
    SetDTR(dtr_);
    if (deviceLayer_ != dlFossil) SetRTS(rts_);
    SetUseMSRShadow(useMSRShadow_);
    SetDirectReading(directReading_);
    SetUseEventWord(useEventWord_);
  } catch (...) {
    forceApply_ = false;
    ClosePort(handle_);
    handle_ = 0;
    open_ = false;
    tracing_ = logging_ = tlOff;
    throw;
  }
  forceApply_ = false;
  {
    std::lock_guard lk(g_compMu);
    g_components[handle_] = this;
  }
  RegisterTriggerHandler(handle_, notifier_.get(), nullptr, nullptr, true);
  if (restoreTriggers_) {
    RestoreTriggers(handle_, savedTriggers_);
    restoreTriggers_ = false;
  }
  for (auto it = users_.rbegin(); it != users_.rend(); ++it) it->proc(*this, true);
  if (OnPortOpen) OnPortOpen(*this);
}

void TKvCustomComPort::ClosePortNow() {
  ClosePort(handle_);
  {
    std::lock_guard lk(g_compMu);
    g_components.erase(handle_);
  }
  handle_ = 0;
  open_ = false;
}

void TKvCustomComPort::doClose() {
  if (!open_) return;
  std::exception_ptr failure;
  int h = handle_;
  try {
    for (auto it = users_.rbegin(); it != users_.rend(); ++it) it->proc(*this, false);
    if (OnPortClose) OnPortClose(*this);
  } catch (...) {
    failure = std::current_exception();
  }
  // The files are written before the port goes; a file that cannot be written is reported
  // after the close, which always completes.
  try {
    SetTracing(tlDump);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  try {
    SetLogging(tlDump);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  AbortTracing(h);
  AbortEventLogging(h);
  tracing_ = tlOff;
  logging_ = tlOff;
  if (SaveTriggers(h, savedTriggers_) >= 0) restoreTriggers_ = true;
  DeregisterTriggerHandler(h, notifier_.get(), nullptr);
  ClosePortNow();
  if (failure) std::rethrow_exception(failure);
}

void TKvCustomComPort::SetOpen(bool v) {
  if (loading_) {
    openAfterLoad_ = v;
    return;
  }
  if (v == open_) return;
  if (v)
    doOpen();
  else
    doClose();
}

void TKvCustomComPort::Loaded() {
  loading_ = false;
  if (openAfterLoad_) {
    openAfterLoad_ = false;
    SetOpen(true);
  }
}

void TKvCustomComPort::needOpen() {
  if (!open_ && canAutoOpen()) SetOpen(true);
}

int TKvCustomComPort::ComHandle() {
  needOpen();
  return handle_;
}

// ---- Properties ------------------------------------------------------------------------------

void TKvCustomComPort::SetDeviceLayer(TDeviceLayer v) {
  if (open_) return;
  if (v != dlNone && v != dlWin32 && v != dlOther) return;
  if (v != deviceLayer_) {
    deviceLayer_ = v;
    DeviceLayerChanged();
  }
}

void TKvCustomComPort::SetDispatcherMode(TDispatcherMode v) {
  if (open_) return;
  if (v == dNone || v == dWin32) dispatcherMode_ = v;
}

template <class T>
void TKvCustomComPort::changeDevice(T &member, const T &v) {
  if (!open_) {
    member = v;
    return;
  }
  if (v == member) return;
  TTraceLogState tr = tracing_, lg = logging_;
  doClose();
  member = v;
  tracing_ = tr;
  logging_ = lg;
  doOpen();
}

void TKvCustomComPort::SetComNumber(std::uint16_t v) {
  changeDevice(comNumber_, v);
}

void TKvCustomComPort::SetDevicePath(const std::string &v) {
  changeDevice(devicePath_, v);
}

#define KV_LINE_SETTER(Name, member, Type)                                  \
  void TKvCustomComPort::Set##Name(Type v) {                                \
    if (open_ && (v != member || forceApply_)) {                            \
      Type old = member;                                                    \
      member = v;                                                           \
      try {                                                                 \
        Check(SetLine(handle_, baud_, int(parity_), dataBits_, stopBits_)); \
      } catch (...) {                                                       \
        member = old;                                                       \
        throw;                                                              \
      }                                                                     \
      return;                                                               \
    }                                                                       \
    member = v;                                                             \
  }
KV_LINE_SETTER(Baud, baud_, std::uint32_t)
KV_LINE_SETTER(Parity, parity_, TParity)
KV_LINE_SETTER(DataBits, dataBits_, std::uint16_t)
KV_LINE_SETTER(StopBits, stopBits_, std::uint16_t)
#undef KV_LINE_SETTER

void TKvCustomComPort::SetInSize(std::uint16_t v) {
  if (open_ && v != inSize_) Check(SetQueueSizes(handle_, v, outSize_));
  inSize_ = v;
}

void TKvCustomComPort::SetOutSize(std::uint16_t v) {
  if (open_ && v != outSize_) Check(SetQueueSizes(handle_, inSize_, v));
  outSize_ = v;
}

void TKvCustomComPort::applyHWFlow() {
  if (!open_) return;
  if (hwFlowOptions_ != 0) {
    if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = std::uint16_t(inSize_ * 9 / 10);
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
      bufferResume_ = std::uint16_t(inSize_ / 10);
    Check(HWFlowEnable(handle_, bufferFull_, bufferResume_, hwFlowOptions_));
  } else {
    Check(HWFlowDisable(handle_));
  }
}

void TKvCustomComPort::applySWFlow() {
  if (!open_) return;
  if (swFlowOptions_ != swfNone) {
    if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = std::uint16_t(inSize_ * 3 / 4);
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
      bufferResume_ = std::uint16_t(inSize_ / 4);
    std::uint16_t opt = swFlowOptions_ == swfReceive    ? sfReceiveFlow
                        : swFlowOptions_ == swfTransmit ? sfTransmitFlow
                                                        : (sfReceiveFlow | sfTransmitFlow);
    Check(SWFlowEnable(handle_, bufferFull_, bufferResume_, opt));
  } else {
    Check(SWFlowDisable(handle_));
  }
}

void TKvCustomComPort::SetHWFlowOptions(THWFlowOptionSet v) {
  v &= 0x0F;
  if (v == hwFlowOptions_ && !forceApply_) return;
  hwFlowOptions_ = v;
  applyHWFlow();
}

void TKvCustomComPort::SetSWFlowOptions(TSWFlowOptions v) {
  if (v == swFlowOptions_ && !forceApply_) return;
  swFlowOptions_ = v;
  applySWFlow();
}

void TKvCustomComPort::SetBufferFull(std::uint16_t v) {
  if (v > inSize_) v = std::uint16_t(v * 9 / 10);
  bufferFull_ = v;
  applyHWFlow();
  applySWFlow();
}

void TKvCustomComPort::SetBufferResume(std::uint16_t v) {
  if (v > bufferFull_) v = std::uint16_t(bufferFull_ / 10);
  bufferResume_ = v;
  applyHWFlow();
  applySWFlow();
}

void TKvCustomComPort::SetXOnChar(char v) {
  xonChar_ = v;
  if (open_) Check(SetFlowChars(handle_, xonChar_, xoffChar_));
}

void TKvCustomComPort::SetXOffChar(char v) {
  xoffChar_ = v;
  if (open_) Check(SetFlowChars(handle_, xonChar_, xoffChar_));
}

void TKvCustomComPort::SetDTR(bool v) {
  if (open_ && (v != dtr_ || forceApply_)) Check(kv::SetDTR(handle_, v));
  dtr_ = v;
}

void TKvCustomComPort::SetRTS(bool v) {
  if (open_ && (v != rts_ || forceApply_)) Check(kv::SetRTS(handle_, v));
  rts_ = v;
}

void TKvCustomComPort::SetTriggerLength(std::uint16_t v) {
  if (open_) Check(kv::SetTriggerLength(handle_, v));
  triggerLength_ = v;
}

void TKvCustomComPort::applyOption(std::uint16_t bit, bool on) {
  if (!open_) return;
  Check(on ? SetPortOptions(handle_, bit) : ClearPortOptions(handle_, bit));
}

void TKvCustomComPort::SetUseMSRShadow(bool v) {
  useMSRShadow_ = v;
  applyOption(poUseMSRShadow, v);
}

void TKvCustomComPort::SetDirectReading(bool v) {
  directReading_ = v;
  applyOption(poDirectRead, v);
}

void TKvCustomComPort::SetUseEventWord(bool v) {
  useEventWord_ = v;
  applyOption(poUseEventWord, v);
}

// Tracing and logging share one state machine over their own ring.
struct RingCalls {
  Result (*init)(int, std::uint16_t);
  Result (*resume)(int);
  Result (*pause)(int);
  Result (*clear)(int);
  Result (*abort)(int);
  Result (*dump)(int, const std::string &, bool, bool);
};

static void setRingState(TKvCustomComPort &cp, int h, bool open, bool force, TTraceLogState &state,
                         TTraceLogState v, std::uint16_t size, const std::string &file, bool hex,
                         const RingCalls &c) {
  if (!open) {
    state = v == tlOn ? tlOn : tlOff;
    return;
  }
  if (v == state && !force) return;
  const bool active = state == tlOn || state == tlPause;
  switch (v) {
    case tlOff:
      if (active) cp.Check(c.abort(h));
      state = tlOff;
      break;
    case tlOn:
      if (state == tlPause)
        cp.Check(c.resume(h));
      else
        cp.Check(c.init(h, size));
      state = tlOn;
      break;
    case tlDump:
    case tlAppend:
      if (active) {
        state = tlOff;
        cp.Check(c.resume(h));
        cp.Check(c.dump(h, file, v == tlAppend, hex));
      }
      state = tlOff;
      break;
    case tlClear:
      if (active) cp.Check(c.clear(h));
      break;
    case tlPause:
      if (state == tlOn) {
        cp.Check(c.pause(h));
        state = tlPause;
      }
      break;
  }
}

static const RingCalls kTraceCalls{InitTracing,  TracingOn,    TracingOff,
                                   ClearTracing, AbortTracing, DumpTrace};
static const RingCalls kLogCalls{InitEventLogging,  EventLoggingOn,    EventLoggingOff,
                                 ClearEventLogging, AbortEventLogging, DumpDispatchLog};

void TKvCustomComPort::SetTracing(TTraceLogState v) {
  setRingState(*this, handle_, open_, forceApply_, tracing_, v, traceSize_, traceName_, traceHex_,
               kTraceCalls);
}

void TKvCustomComPort::SetLogging(TTraceLogState v) {
  setRingState(*this, handle_, open_, forceApply_, logging_, v, logSize_, logName_, logHex_,
               kLogCalls);
}

void TKvCustomComPort::SetTraceSize(std::uint16_t v) {
  v = std::min(v, kMaxTraceSize);
  if (!open_) {
    traceSize_ = v;
    return;
  }
  TTraceLogState was = tracing_;
  Check(AbortTracing(handle_));
  tracing_ = tlOff;
  traceSize_ = v;
  SetTracing(was == tlOn ? tlOn : tlOff);
}

void TKvCustomComPort::SetLogSize(std::uint16_t v) {
  v = std::min(v, kMaxLogSize);
  if (!open_) {
    logSize_ = v;
    return;
  }
  TTraceLogState was = logging_;
  Check(AbortEventLogging(handle_));
  logging_ = tlOff;
  logSize_ = v;
  SetLogging(was == tlOn ? tlOn : tlOff);
}

void TKvCustomComPort::SetTraceName(const std::string &v) {
  traceName_ = v.substr(0, 255);
}
void TKvCustomComPort::SetLogName(const std::string &v) {
  logName_ = v.substr(0, 255);
}

// ---- Events ----------------------------------------------------------------------------------

void TKvCustomComPort::notify(std::uint16_t msg, std::uint32_t wParam, std::int32_t lParam) {
  std::uint16_t data = std::uint16_t(DataOf(lParam));
  if (msg == APW_TRIGGERAVAIL)
    DoTrigger(msg, wParam, std::uint16_t(wParam));
  else
    DoTrigger(msg, wParam, data);
  switch (msg) {
    case APW_TRIGGERAVAIL:
      DoTriggerAvail(wParam);
      break;
    case APW_TRIGGERDATA:
      DoTriggerData(std::uint16_t(wParam));
      break;
    case APW_TRIGGERTIMER:
      DoTriggerTimer(std::uint16_t(wParam));
      break;
    case APW_TRIGGERSTATUS: {
      DoTriggerStatus(std::uint16_t(wParam));
      if (!open_) break;
      switch (StatusTriggerKind(handle_, int(wParam))) {
        case stModem:
          DoTriggerModemStatus();
          break;
        case stLine: {
          bool lb = open_ && kv::CheckLineBreak(handle_) > 0;
          std::uint16_t err = open_ ? std::uint16_t(kv::GetLineError(handle_)) : 0;
          DoTriggerLineError(err, lb);
          break;
        }
        case stOutBuffFree:
          DoTriggerOutbuffFree();
          break;
        case stOutBuffUsed:
          DoTriggerOutbuffUsed();
          break;
        case stOutSent:
          DoTriggerOutSent();
          break;
        default:
          break;
      }
      break;
    }
    default:
      break;
  }
}

void TKvCustomComPort::DoTrigger(std::uint16_t msg, std::uint32_t handle, std::uint16_t data) {
  if (OnTrigger) OnTrigger(*this, msg, handle, data);
}
void TKvCustomComPort::DoTriggerAvail(std::uint32_t count) {
  if (OnTriggerAvail) OnTriggerAvail(*this, count);
}
void TKvCustomComPort::DoTriggerData(std::uint16_t handle) {
  if (OnTriggerData) OnTriggerData(*this, handle);
}
void TKvCustomComPort::DoTriggerStatus(std::uint16_t handle) {
  if (OnTriggerStatus) OnTriggerStatus(*this, handle);
}
void TKvCustomComPort::DoTriggerTimer(std::uint16_t handle) {
  if (OnTriggerTimer) OnTriggerTimer(*this, handle);
}
void TKvCustomComPort::DoTriggerLineError(std::uint16_t error, bool lineBreak) {
  if (OnTriggerLineError) OnTriggerLineError(*this, error, lineBreak);
}
void TKvCustomComPort::DoTriggerModemStatus() {
  if (OnTriggerModemStatus) OnTriggerModemStatus(*this);
}
void TKvCustomComPort::DoTriggerOutbuffFree() {
  if (OnTriggerOutbuffFree) OnTriggerOutbuffFree(*this);
}
void TKvCustomComPort::DoTriggerOutbuffUsed() {
  if (OnTriggerOutbuffUsed) OnTriggerOutbuffUsed(*this);
}
void TKvCustomComPort::DoTriggerOutSent() {
  if (OnTriggerOutSent) OnTriggerOutSent(*this);
}
void TKvCustomComPort::DoWaitChar(char c) {
  if (OnWaitChar) OnWaitChar(*this, c);
}

// ---- Operations ------------------------------------------------------------------------------

void TKvCustomComPort::PutString(std::string_view text) {
  Check(kv::PutString(ComHandle(), text));
}
void TKvCustomComPort::PutChar(char c) {
  Check(kv::PutChar(ComHandle(), c));
}
void TKvCustomComPort::PutBlock(const void *bytes, std::size_t count) {
  Check(kv::PutBlock(ComHandle(), bytes, count));
}
bool TKvCustomComPort::CharReady() {
  return kv::CharReady(ComHandle()) > 0;
}
char TKvCustomComPort::GetChar() {
  char c = 0;
  Check(kv::GetChar(ComHandle(), c));
  return c;
}
char TKvCustomComPort::PeekChar(int n) {
  char c = 0;
  Check(kv::PeekChar(ComHandle(), n, c));
  return c;
}
std::int32_t TKvCustomComPort::InBuffUsed() {
  return Check(kv::InBuffUsed(ComHandle()));
}
std::int32_t TKvCustomComPort::OutBuffUsed() {
  return Check(kv::OutBuffUsed(ComHandle()));
}
std::int32_t TKvCustomComPort::OutBuffFree() {
  return Check(kv::OutBuffFree(ComHandle()));
}
void TKvCustomComPort::FlushInBuffer() {
  Check(kv::FlushInBuffer(ComHandle()));
}
void TKvCustomComPort::FlushOutBuffer() {
  Check(kv::FlushOutBuffer(ComHandle()));
}
std::uint8_t TKvCustomComPort::ModemStatus() {
  return std::uint8_t(Check(kv::GetModemStatus(ComHandle(), 0xFF)));
}
bool TKvCustomComPort::CheckDCD() {
  return Check(kv::CheckDCD(ComHandle())) > 0;
}

int TKvCustomComPort::AddTimerTrigger() {
  return Check(kv::AddTimerTrigger(ComHandle()));
}
int TKvCustomComPort::AddStatusTrigger(std::uint16_t kind) {
  return Check(kv::AddStatusTrigger(ComHandle(), kind));
}
int TKvCustomComPort::AddDataTrigger(std::string_view text, bool ignoreCase) {
  return Check(kv::AddDataTrigger(ComHandle(), text, ignoreCase));
}
void TKvCustomComPort::SetTimerTrigger(int handle, std::int32_t ticks, bool activate) {
  Check(kv::SetTimerTrigger(ComHandle(), handle, ticks, activate));
}
void TKvCustomComPort::SetStatusTrigger(int handle, std::uint16_t value, bool activate) {
  Check(kv::SetStatusTrigger(ComHandle(), handle, value, activate));
}
void TKvCustomComPort::RemoveTrigger(int handle) {
  Check(kv::RemoveTrigger(ComHandle(), handle));
}

void TKvCustomComPort::RegisterUser(TPortUserProc proc, void *id) {
  users_.push_back({std::move(proc), id});
}

void TKvCustomComPort::DeregisterUser(void *id) {
  users_.erase(
      std::remove_if(users_.begin(), users_.end(), [&](const User &u) { return u.id == id; }),
      users_.end());
}

bool TKvCustomComPort::WaitForString(std::string_view text, std::int32_t ticks, bool yield,
                                     bool ignoreCase) {
  if (text.empty()) return true;
  int h = ComHandle();
  bool wasMarked = Check(SetDispatching(h, true)) > 0;
  MainThread &mt = MainThread::instance();
  auto up = [&](char c) { return ignoreCase ? char(std::toupper(std::uint8_t(c))) : c; };
  EventTimer timer;
  NewTimer(timer, ticks);
  std::size_t pos = 0;
  bool matched = false;
  try {
    for (;;) {
      while (!matched && open_ && handle_ == h && kv::CharReady(h) > 0) {
        char c = 0;
        Check(kv::GetChar(h, c));
        DoWaitChar(c);
        if (up(c) == up(text[pos])) {
          if (++pos == text.size()) matched = true;
        } else {
          pos = up(c) == up(text[0]) ? 1 : 0;
        }
      }
      if (matched || !open_ || handle_ != h) break;
      if (TimerExpired(timer)) break;
      if (mt.terminating()) {
        matched = true;
        break;
      }
      bool onMain = mt.isMainThread();
      if (yield && onMain) mt.processPending();
      // Sleep until input comes; with yield, wake often enough to keep the windows alive.
      int ms = std::max(1, RemainingTime(timer) * kTickMs);
      kv::WaitForInput(h, yield && onMain ? std::min(ms, 10) : std::min(ms, 55));
    }
  } catch (...) {
    if (!wasMarked && open_ && handle_ == h) SetDispatching(h, false);
    throw;
  }
  if (!wasMarked && open_ && handle_ == h) SetDispatching(h, false);
  return matched;
}

}  // namespace kv
