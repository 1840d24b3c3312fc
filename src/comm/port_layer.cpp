// Port table, port records, opening and closing, line settings and the data operations. The
// three threads of an open port are in port_threads.cpp; triggers and their passes in
// triggers.cpp.
#include "comm/port_layer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "comm/port_internal.h"

namespace kv {

using namespace detail;

namespace detail {

void Event::set() {
  {
    std::lock_guard lk(mu_);
    set_ = true;
  }
  if (manual_)
    cv_.notify_all();
  else
    cv_.notify_one();
}

void Event::reset() {
  std::lock_guard lk(mu_);
  set_ = false;
}

bool Event::wait(int ms) {
  std::unique_lock lk(mu_);
  bool ok = true;
  if (ms < 0)
    cv_.wait(lk, [&] { return set_; });
  else
    ok = cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return set_; });
  if (ok && !manual_) set_ = false;
  return ok;
}

WakeFd::WakeFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
WakeFd::~WakeFd() {
  if (fd_ >= 0) ::close(fd_);
}
void WakeFd::signal() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t r = ::write(fd_, &one, sizeof one);
}
void WakeFd::drain() {
  std::uint64_t v;
  [[maybe_unused]] ssize_t r = ::read(fd_, &v, sizeof v);
}

namespace {
std::mutex g_tableMu;
std::condition_variable g_slotFreed;
std::shared_ptr<PortRecord> g_table[kMaxPorts];
}  // namespace

std::shared_ptr<PortRecord> lookup(int port) {
  if (port < 1 || port > kMaxPorts) return nullptr;
  std::lock_guard lk(g_tableMu);
  auto r = g_table[port - 1];
  // A slot whose open is still running belongs to nobody yet.
  if (r && !r->ready) return nullptr;
  return r;
}

void freeSlot(PortRecord &rec) {
  {
    std::lock_guard lk(g_tableMu);
    if (rec.port >= 1 && rec.port <= kMaxPorts && g_table[rec.port - 1].get() == &rec)
      g_table[rec.port - 1].reset();
  }
  g_slotFreed.notify_all();
}

// A port closed from inside a handler keeps its device until its dispatch thread ends. An open
// of the same device meanwhile (closing and opening again from a handler) waits for that
// instead of finding the line "in use" by ourselves. The dispatch thread that has to do the
// freeing is never made to wait for itself.
static void waitForClosingDevice(const std::string &name) {
  std::unique_lock lk(g_tableMu);
  auto closing = [&] {
    for (auto &r : g_table) {
      if (!r || r->deviceName != name) continue;
      std::lock_guard rl(r->lock);
      if (r->closeRequested && r->dispatchId != std::this_thread::get_id()) return true;
    }
    return false;
  };
  g_slotFreed.wait_for(lk, std::chrono::seconds(3), [&] { return !closing(); });
}

// ---- Device status, modem lines, input -------------------------------------------------------

void refreshStatus(PortRecord &rec) {
  DeviceStatus st;
  if (!rec.lost && rec.ops->status(rec.dev, st) >= 0) {
    rec.lineErrors |= st.errors & leAllErrors;
    rec.snapshot.inQueue = st.inQueue;
  } else {
    rec.snapshot.inQueue = 0;
  }
  rec.snapshot.outQueue = rec.outPending();
}

std::uint8_t currentLines(PortRecord &rec) {
  if (rec.lost) return 0;
  Result v = rec.ops->modemLines(rec.dev);
  // A line without modem signals (a pseudo-terminal) reads as a modem that is ready and has
  // no carrier.
  if (v < 0) return msCTS | msDSR;
  return std::uint8_t(v & 0xF0);
}

void updateShadow(PortRecord &rec) {
  std::uint8_t now = currentLines(rec);
  std::uint8_t old = rec.msr & 0xF0;
  std::uint8_t diff = now ^ old;
  std::uint8_t change = 0;
  if (diff & msCTS) change |= msDCTS;
  if (diff & msDSR) change |= msDDSR;
  if (diff & msDCD) change |= msDDCD;
  if ((old & msRI) && !(now & msRI)) change |= msTERI;
  if (rec.ringTrailingEdge) change |= msTERI;
  rec.msr = std::uint8_t(now | (rec.msr & 0x0F) | change);
}

void inputConsumed(PortRecord &rec) {
  if (rec.inputStalled && rec.inUnread() < kInRingSize) {
    rec.inputStalled = false;
    rec.commWake.signal();
  }
}

void markLost(PortRecord &rec) {
  if (rec.lost) return;
  rec.lost = true;
  rec.commWake.signal();
}

// Reads what the device holds into the input ring. Runs on the dispatch thread, the only
// writer of the ring; the bytes land in free space nobody else touches, so the device read
// itself runs outside the lock.
void readInput(PortRecord &rec) {
  std::unique_lock lk(rec.lock);
  if (rec.lost) return;
  if (rec.inUnread() >= kInRingSize) {
    rec.inputStalled = true;
    return;
  }
  refreshStatus(rec);
  bool gotAny = false;
  for (int piece = 0; piece < 2; ++piece) {
    std::uint32_t freeBytes = kInRingSize - rec.inUnread();
    if (freeBytes == 0) break;
    std::uint32_t at = std::uint32_t(rec.inWritten % kInRingSize);
    std::uint32_t len = std::min(freeBytes, kInRingSize - at);
    std::uint8_t *dst = rec.in.data() + at;
    lk.unlock();
    Result n = rec.ops->read(rec.dev, dst, len);
    lk.lock();
    if (n < 0) {
      markLost(rec);
      break;
    }
    if (n == 0) break;
    rec.inWritten += std::uint32_t(n);
    gotAny = true;
    if (rec.log.on())
      rec.log.add(dtDispatch, dstReadCom, rec.log.now(), std::uint16_t(n), dst,
                  std::uint16_t(std::min<Result>(n, 0xFFFF)));
    if (std::uint32_t(n) < len) break;  // the device is empty
  }
  if (rec.inUnread() >= kInRingSize) {
    DeviceStatus st;
    rec.inOverrun = rec.ops->status(rec.dev, st) >= 0 && st.inQueue > 0;
    rec.inputStalled = true;
  } else {
    rec.inOverrun = false;
  }
  lk.unlock();
  if (gotAny) rec.inputCv.notify_all();
}

}  // namespace detail

// ---- Opening and closing ---------------------------------------------------------------------

static Result setLineLocked(PortRecord &rec, std::uint32_t baud, int parity, int dataBits,
                            int stopBits);

static Result openCommon(int &port, std::shared_ptr<DeviceOps> ops, const std::string *device,
                         int handle, std::uint16_t inSize, std::uint16_t outSize,
                         std::uint32_t baud, int parity, int dataBits, int stopBits) {
  port = 0;
  if (!ops) return ecNullApi;
  std::shared_ptr<PortRecord> rp;
  int slot = -1;
  {
    std::lock_guard lk(g_tableMu);
    for (int i = 0; i < kMaxPorts; ++i)
      if (!g_table[i]) {
        slot = i;
        break;
      }
    if (slot < 0) return ecNoHandles;
    try {
      rp = std::make_shared<PortRecord>();
    } catch (const std::bad_alloc &) {
      return ecOutOfMemory;
    }
    if (device) rp->deviceName = *device;
    g_table[slot] = rp;  // reserved while the device opens
  }
  PortRecord &rec = *rp;
  rec.port = slot + 1;
  rec.ops = std::move(ops);
  auto fail = [&](Result r) {
    closeDevice(rec);
    freeSlot(rec);
    return r;
  };
  if (device) {
    Result d = rec.ops->open(*device);
    if (d == ecAlreadyOpen) {
      // Try once more after any closing record of ours has let go; it may also have done so
      // just now, between the failed open and the look at the table.
      waitForClosingDevice(*device);
      d = rec.ops->open(*device);
    }
    if (d < 0) return fail(d);
    rec.dev = d;
  } else {
    rec.ops->attach(handle, true);
    rec.dev = handle;
    rec.attached = true;
  }
  if (rec.ops->setupQueues(rec.dev, inSize, outSize) == 0) return fail(ecMemory);
  try {
    rec.in.assign(kInRingSize, 0);
    rec.out.assign(outSize, 0);
  } catch (const std::bad_alloc &) {
    return fail(ecOutOfMemory);
  }
  rec.inSize = inSize;
  rec.outSize = outSize;
  rec.options = poDirectRead;
  rec.msr = currentLines(rec);
  if (!rec.attached) {
    std::lock_guard lk(rec.lock);
    Result r = setLineLocked(rec, baud, parity, dataBits, stopBits);
    if (r < 0) return fail(r);
  } else {
    rec.ops->getLine(rec.dev, rec.line);
  }
  refreshStatus(rec);
  rec.timeBase = MonotonicMs();
  rec.log.setTimeBase(rec.timeBase);
  rec.threadsRunning = true;
  if (!startPortThreads(rp)) {
    finishClose(rec, false);
    return ecOutOfMemory;
  }
  {
    std::lock_guard lk(g_tableMu);
    rec.ready = true;
  }
  port = rec.port;
  return ecOK;
}

Result OpenPort(int &port, std::shared_ptr<DeviceOps> ops, const std::string &device,
                std::uint16_t inSize, std::uint16_t outSize, std::uint32_t baud, int parity,
                int dataBits, int stopBits) {
  return openCommon(port, std::move(ops), &device, -1, inSize, outSize, baud, parity, dataBits,
                    stopBits);
}

Result AttachPort(int &port, std::shared_ptr<DeviceOps> ops, int deviceHandle, std::uint16_t inSize,
                  std::uint16_t outSize) {
  return openCommon(port, std::move(ops), nullptr, deviceHandle, inSize, outSize, 0, 0, 0, 0);
}

Result ClosePort(int port) {
  auto rp = lookup(port);
  if (!rp) return ecBadHandle;
  PortRecord &rec = *rp;
  flushOutput(rec);
  {
    std::lock_guard lk(rec.lock);
    if (rec.freed) return ecBadHandle;
    if (rec.closeRequested) return ecOK;
    // From a handler (a procedure on the dispatch thread, or a message the dispatch thread
    // waits for) the delivery finishes first and the dispatch thread frees the port. Any other
    // caller waits for the threads to end, so nothing of the port runs after the close.
    if (std::this_thread::get_id() == rec.dispatchId || rec.cancel.servedByThisThread()) {
      rec.closeRequested = true;
      rec.cancel.cancel();
      return ecOK;
    }
    rec.stopping = true;
  }
  finishClose(rec, false);
  return ecOK;
}

bool PortIsOpen(int port) {
  return lookup(port) != nullptr;
}

int OpenPortCount() {
  std::lock_guard lk(g_tableMu);
  int n = 0;
  for (auto &r : g_table)
    if (r) ++n;
  return n;
}

// ---- Line and modem --------------------------------------------------------------------------

// Applies the settings block after forcing DTR and RTS control off where their state is off.
static Result applyLine(PortRecord &rec) {
  if (!rec.dtrState) rec.line.dtrControl = fcOff;
  if (!rec.rtsState) rec.line.rtsControl = fcOff;
  return rec.ops->setLine(rec.dev, rec.line) < 0 ? ecNotSupported : ecOK;
}

static Result setLineLocked(PortRecord &rec, std::uint32_t baud, int parity, int dataBits,
                            int stopBits) {
  rec.ops->getLine(rec.dev, rec.line);
  if (baud != 0) rec.line.baud = baud;
  if (parity >= 0 && parity <= 4) rec.line.parity = std::uint8_t(parity);
  if (dataBits >= 5 && dataBits <= 8) rec.line.dataBits = std::uint8_t(dataBits);
  if (stopBits != 3) rec.line.stopBits = stopBits == 2 || stopBits > 3 ? 2 : 0;
  // Five data bits take one and a half stop bits where two were asked for.
  if (rec.line.dataBits == 5 && rec.line.stopBits == 2) rec.line.stopBits = 1;
  return applyLine(rec);
}

Result SetLine(int port, std::uint32_t baud, int parity, int dataBits, int stopBits) {
  KV_RECORD(port, ecBadHandle);
  return setLineLocked(rec, baud, parity, dataBits, stopBits);
}

Result GetLine(int port, LineValues &v) {
  KV_RECORD(port, ecBadHandle);
  rec.ops->getLine(rec.dev, rec.line);
  v.baud = rec.line.baud;
  v.parity = rec.line.parity;
  v.dataBits = rec.line.dataBits;
  v.stopBits = rec.line.stopBits == 0 ? 1 : 2;
  return ecOK;
}

Result SetDTR(int port, bool on) {
  KV_RECORD(port, ecBadHandle);
  if (rec.ops->escape(rec.dev, on ? 5 : 6) < 0) return ecBadArgument;
  rec.dtrState = on;
  return ecOK;
}

Result SetRTS(int port, bool on) {
  KV_RECORD(port, ecBadHandle);
  if (rec.ops->escape(rec.dev, on ? 3 : 4) < 0) return ecBadArgument;
  rec.rtsState = on;
  return ecOK;
}

Result SetModem(int port, bool dtr, bool rts) {
  Result r = SetDTR(port, dtr);
  if (r < 0) return r;
  return SetRTS(port, rts);
}

Result GetModemStatus(int port, std::uint8_t keepMask) {
  KV_RECORD(port, 0);
  rec.msr = std::uint8_t((rec.msr & 0x0F) | currentLines(rec));
  if (rec.ringTrailingEdge) {
    rec.msr |= msTERI;
    rec.ringTrailingEdge = false;
  }
  std::uint8_t v = rec.msr;
  rec.msr &= keepMask;
  return v;
}

Result CheckDCD(int port) {
  return (GetModemStatus(port, 0xF7) & msDCD) ? 1 : 0;
}

Result GetLineError(int port) {
  KV_RECORD(port, 0);
  refreshStatus(rec);
  Result v = 0;
  std::uint16_t e = rec.lineErrors;
  if (e & leRxOver)
    v = 1;
  else if (e & leOverrun)
    v = 2;
  else if (e & leParity)
    v = 3;
  else if (e & leFraming)
    v = 4;
  else if (e & leBreak)
    v = 9;
  if (v) rec.lineErrors &= leBreak;
  return v;
}

Result CheckLineBreak(int port) {
  KV_RECORD(port, 0);
  bool b = rec.lineErrors & leBreak;
  rec.lineErrors &= ~leBreak;
  return b ? 1 : 0;
}

Result SendBreak(int port, bool on) {
  KV_RECORD(port, ecBadHandle);
  Result r = on ? rec.ops->setBreak(rec.dev) : rec.ops->clearBreak(rec.dev);
  return r < 0 ? ecNotSupported : ecOK;
}

Result HWFlowEnable(int port, std::uint16_t bufferFull, std::uint16_t bufferResume,
                    std::uint16_t options) {
  KV_RECORD(port, ecBadHandle);
  if (bufferFull < bufferResume || rec.inSize < bufferFull) return ecBadArgument;
  rec.ops->getLine(rec.dev, rec.line);
  if (options & (hfUseDTR | hfUseRTS)) {
    rec.line.dtrControl = (options & hfUseDTR) ? fcHandshake : fcOff;
    rec.line.rtsControl = (options & hfUseRTS) ? fcHandshake : fcOff;
    rec.line.xoffLimit = std::uint16_t(rec.inSize - bufferFull);
    rec.line.xonLimit = bufferResume;
  }
  if (options & (hfRequireDSR | hfRequireCTS)) {
    rec.line.outxDsrFlow = options & hfRequireDSR;
    rec.line.outxCtsFlow = options & hfRequireCTS;
  }
  return applyLine(rec);
}

Result HWFlowDisable(int port) {
  KV_RECORD(port, ecBadHandle);
  if (rec.line.dtrControl == fcHandshake) rec.line.dtrControl = fcOn;
  if (rec.line.rtsControl == fcHandshake) rec.line.rtsControl = fcOn;
  rec.line.outxCtsFlow = false;
  rec.line.outxDsrFlow = false;
  return applyLine(rec);
}

Result SWFlowEnable(int port, std::uint16_t bufferFull, std::uint16_t bufferResume,
                    std::uint16_t options) {
  KV_RECORD(port, ecBadHandle);
  if (bufferFull < bufferResume || rec.inSize < bufferFull) return ecBadArgument;
  rec.ops->getLine(rec.dev, rec.line);
  rec.line.outX = options & sfTransmitFlow;
  rec.line.inX = options & sfReceiveFlow;
  rec.line.xonChar = 17;
  rec.line.xoffChar = 19;
  rec.line.xoffLimit = std::uint16_t(rec.inSize - bufferFull);
  rec.line.xonLimit = bufferResume;
  return applyLine(rec);
}

Result SWFlowDisable(int port) {
  KV_RECORD(port, ecBadHandle);
  rec.line.outX = false;
  rec.line.inX = false;
  return applyLine(rec);
}

Result SetFlowChars(int port, char xon, char xoff) {
  KV_RECORD(port, ecBadHandle);
  rec.line.xonChar = xon;
  rec.line.xoffChar = xoff;
  return applyLine(rec);
}

Result SetQueueSizes(int port, std::uint16_t inSize, std::uint16_t outSize) {
  KV_RECORD(port, ecBadHandle);
  if (rec.ops->setupQueues(rec.dev, inSize, outSize) == 0) return ecBadArgument;
  rec.inSize = inSize;
  return ecOK;
}

bool DeviceLost(int port) {
  auto rp = lookup(port);
  if (!rp) return false;
  std::lock_guard lk(rp->lock);
  return rp->lost;
}

// ---- Data ------------------------------------------------------------------------------------

// Unread bytes as the caller sees them: during a lookahead delivery, less what this handler
// has read ahead.
static std::uint32_t visibleUnread(const PortRecord &rec) {
  std::uint32_t n = rec.inUnread();
  if (rec.lookaheadReading && !(rec.options & poDirectRead))
    return n > rec.lookahead ? n - rec.lookahead : 0;
  return n;
}

Result CharReady(int port) {
  KV_RECORD(port, 0);
  return visibleUnread(rec) > 0 ? 1 : 0;
}

Result GetChar(int port, char &c) {
  KV_RECORD(port, ecBadHandle);
  if (visibleUnread(rec) == 0) return ecBufferIsEmpty;
  if (rec.lookaheadReading && !(rec.options & poDirectRead)) {
    c = char(rec.in[(rec.inRead + rec.lookahead) % kInRingSize]);
    ++rec.lookahead;
  } else {
    c = char(rec.in[rec.inRead % kInRingSize]);
    ++rec.inRead;
    inputConsumed(rec);
  }
  rec.trace.add('R', std::uint8_t(c));
  return ecOK;
}

Result PeekChar(int port, int n, char &c) {
  KV_RECORD(port, ecBadHandle);
  std::uint32_t skip = rec.lookaheadReading && !(rec.options & poDirectRead) ? rec.lookahead : 0;
  if (n < 1 || std::uint32_t(n) > visibleUnread(rec)) return ecBufferIsEmpty;
  c = char(rec.in[(rec.inRead + skip + std::uint32_t(n) - 1) % kInRingSize]);
  return ecOK;
}

Result InBuffUsed(int port) {
  KV_RECORD(port, 0);
  return Result(visibleUnread(rec));
}

Result PutBlock(int port, const void *bytes, std::size_t count) {
  if (count == 0) return 0;
  {
    KV_RECORD(port, ecBadHandle);
    refreshStatus(rec);
    std::uint32_t freeBytes = rec.outSize - rec.outPending();
    if (count > freeBytes) return ecOutputBufferTooSmall;
    if (rec.lost) return ecPutBlockFail;
    const auto *src = static_cast<const std::uint8_t *>(bytes);
    std::uint32_t at = std::uint32_t(rec.outWritten % rec.outSize);
    std::uint32_t first = std::min<std::uint32_t>(std::uint32_t(count), rec.outSize - at);
    std::memcpy(rec.out.data() + at, src, first);
    if (count > first) std::memcpy(rec.out.data(), src + first, count - first);
    rec.outWritten += count;
    rec.outputWritten = true;
    if (rec.log.on())
      rec.log.add(dtDispatch, dstWriteCom, rec.log.now(), std::uint16_t(count), src,
                  std::uint16_t(std::min<std::size_t>(count, 0xFFFF)));
    if (rec.trace.on())
      for (std::size_t i = 0; i < count; ++i) rec.trace.add('T', src[i]);
    std::lock_guard lk(rec.outMu);
    rec.outRequest = true;
    rec.outCv.notify_all();
  }
  return Result(count);
}

Result PutChar(int port, char c) {
  return PutBlock(port, &c, 1);
}

Result PutString(int port, std::string_view text) {
  return PutBlock(port, text.data(), text.size());
}

Result OutBuffUsed(int port) {
  KV_RECORD(port, 0);
  refreshStatus(rec);
  return Result(rec.snapshot.outQueue);
}

Result OutBuffFree(int port) {
  KV_RECORD(port, 0);
  refreshStatus(rec);
  return Result(rec.outSize - rec.snapshot.outQueue);
}

Result FlushOutBuffer(int port) {
  auto rp = lookup(port);
  if (!rp) return ecBadHandle;
  flushOutput(*rp);
  return ecOK;
}

Result FlushInBuffer(int port) {
  KV_RECORD(port, ecBadHandle);
  if (!rec.lost) rec.ops->flush(rec.dev, 1);
  if (rec.lookaheadReading && !(rec.options & poDirectRead)) {
    rec.lookahead = rec.inUnread();
  } else {
    rec.inRead = rec.inWritten;
    rec.lookahead = 0;
  }
  for (auto &d : rec.data) {
    std::fill(d.counters.begin(), d.counters.end(), 0);
    d.matched = false;
  }
  rec.scanFed = false;
  if (rec.scanTotal < rec.inRead) rec.scanTotal = rec.inRead;
  inputConsumed(rec);
  return ecOK;
}

Result WaitForInput(int port, int ms) {
  auto rp = lookup(port);
  if (!rp) return 0;
  PortRecord &rec = *rp;
  std::unique_lock lk(rec.lock);
  rec.inputCv.wait_for(lk, std::chrono::milliseconds(ms),
                       [&] { return rec.freed || rec.lost || visibleUnread(rec) > 0; });
  return !rec.freed && visibleUnread(rec) > 0 ? 1 : 0;
}

Result SetDataPointer(int port, void *p, int slot) {
  KV_RECORD(port, ecBadHandle);
  if (slot < 1 || slot > 10) return ecBadArgument;
  rec.userData[slot - 1] = p;
  return ecOK;
}

Result GetDataPointer(int port, void *&p, int slot) {
  KV_RECORD(port, ecBadHandle);
  if (slot < 1 || slot > 10) return ecBadArgument;
  p = rec.userData[slot - 1];
  return ecOK;
}

Result ProcessCommunications(int port) {
  KV_RECORD(port, ecBadHandle);
  return ecOK;
}

Result SetPortOptions(int port, std::uint16_t bits) {
  KV_RECORD(port, ecBadHandle);
  rec.options |= std::uint16_t(bits & ~poUseMSRShadow);
  rec.ops->optionsHook(rec.dev, rec.options);
  return ecOK;
}

Result ClearPortOptions(int port, std::uint16_t bits) {
  KV_RECORD(port, ecBadHandle);
  rec.options &= std::uint16_t(~bits);
  rec.ops->optionsHook(rec.dev, rec.options);
  return ecOK;
}

Result GetPortOptions(int port) {
  KV_RECORD(port, ecBadHandle);
  return rec.options;
}

Result SetDispatching(int port, bool on) {
  KV_RECORD(port, ecBadHandle);
  bool was = rec.dispatching;
  rec.dispatching = on;
  return was ? 1 : 0;
}

// ---- Trace and dispatch log ------------------------------------------------------------------

Result InitTracing(int port, std::uint16_t entries) {
  KV_RECORD(port, ecBadHandle);
  return rec.trace.start(entries);
}
Result TracingOn(int port) {
  KV_RECORD(port, ecBadHandle);
  if (!rec.trace.allocated()) return ecTracingNotEnabled;
  rec.trace.setOn(true);
  return ecOK;
}
Result TracingOff(int port) {
  KV_RECORD(port, ecBadHandle);
  rec.trace.setOn(false);
  return ecOK;
}
Result ClearTracing(int port) {
  KV_RECORD(port, ecBadHandle);
  rec.trace.clear();
  return ecOK;
}
Result AbortTracing(int port) {
  KV_RECORD(port, ecBadHandle);
  rec.trace.free();
  return ecOK;
}
Result DumpTrace(int port, const std::string &file, bool append, bool hex) {
  KV_RECORD(port, ecBadHandle);
  if (!rec.trace.allocated()) return ecTracingNotEnabled;
  return rec.trace.dump(file, append, hex);
}
Result AddTraceEntry(int port, char letter, char c) {
  KV_RECORD(port, ecBadHandle);
  rec.trace.add(letter, std::uint8_t(c));
  return ecOK;
}

Result InitEventLogging(int port, std::uint16_t size) {
  KV_RECORD(port, ecBadHandle);
  return rec.log.start(size, rec.timeBase);
}
Result EventLoggingOn(int port) {
  KV_RECORD(port, ecBadHandle);
  if (!rec.log.allocated()) return ecLoggingNotEnabled;
  rec.log.setOn(true);
  return ecOK;
}
Result EventLoggingOff(int port) {
  KV_RECORD(port, ecBadHandle);
  rec.log.setOn(false);
  return ecOK;
}
Result ClearEventLogging(int port) {
  KV_RECORD(port, ecBadHandle);
  rec.log.clear();
  return ecOK;
}
Result AbortEventLogging(int port) {
  KV_RECORD(port, ecBadHandle);
  rec.log.free();
  return ecOK;
}
Result DumpDispatchLog(int port, const std::string &file, bool append, bool hex) {
  KV_RECORD(port, ecBadHandle);
  if (!rec.log.allocated()) return ecLoggingNotEnabled;
  return rec.log.dump(file, append, hex);
}
Result AddDispatchEntry(int port, std::uint8_t type, std::uint8_t subtype, std::uint16_t data,
                        const void *extra, std::uint16_t extraLen) {
  KV_RECORD(port, ecBadHandle);
  rec.log.add(type, subtype, rec.log.now(), data, extra, extraLen);
  return ecOK;
}

}  // namespace kv
