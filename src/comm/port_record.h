#pragma once
// The record of one open port and the small synchronisation helpers its threads share.
// Private to the port layer.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/device_layer.h"
#include "comm/main_thread.h"
#include "comm/port_layer.h"
#include "comm/trace_log.h"

namespace kv::detail {

// A Win32-style event: auto reset (one waiter takes it) or manual reset.
class Event {
 public:
  explicit Event(bool manual = false) : manual_(manual) {}
  void set();
  void reset();
  // Waits up to ms (negative: without limit); true when the event was set.
  bool wait(int ms);

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool set_ = false;
  bool manual_;
};

// An eventfd to wake a thread blocked in poll().
class WakeFd {
 public:
  WakeFd();
  ~WakeFd();
  int fd() const { return fd_; }
  void signal();
  void drain();

 private:
  int fd_ = -1;
};

struct DataTrigger {
  std::uint16_t handle = 0;
  std::string text;
  std::vector<std::uint8_t> counters;  // live match positions, 0 = unused
  bool matched = false;
  bool ignoreCase = false;
};

// Feeds one received byte to a data trigger's matcher; true when its string completed.
bool FeedDataTrigger(DataTrigger &d, std::uint8_t b);

struct StatusTrigger {
  std::uint16_t handle = 0;
  std::uint16_t kind = 0;
  bool armed = false;
  std::uint16_t value = 0;
  std::uint8_t reference = 0;  // modem lines when armed (kind 1)
};

struct Registration {
  TriggerWindow *window = nullptr;
  TriggerProc proc = nullptr;
  void *user = nullptr;
  bool passOn = true;
  bool deleted = false;
};

struct PortRecord {
  int port = 0;
  bool ready = false;  // guarded by the table lock: set once the open has completed
  std::string deviceName;
  std::shared_ptr<DeviceOps> ops;
  int dev = -1;
  bool attached = false;

  std::uint16_t lineErrors = 0;
  std::uint16_t inSize = 0;
  std::uint16_t outSize = 0;
  std::uint8_t msr = 0;
  bool ringTrailingEdge = false;
  DeviceStatus snapshot;
  LineSettings line;
  bool dtrState = true;
  bool rtsState = true;
  std::uint32_t eventMask = evDefaultMask;
  std::uint16_t options = poDirectRead;

  // Triggers
  std::vector<std::shared_ptr<Registration>> handlers;  // front is the head
  TriggerBlock::Timer timers[kMaxTimerTriggers];
  DataTrigger data[kMaxDataTriggers];
  StatusTrigger status[kMaxStatusTriggers];
  TriggerBlock::MapEntry map[kMaxTriggerHandle + 1];
  std::uint16_t triggerLength = 0;
  std::uint64_t scanTotal = 0;  // bytes fed to the data triggers
  bool scanFed = false;         // the byte at scanTotal was fed already
  std::uint64_t lastAvailTotal = ~0ull;
  bool fired[kMaxStatusTriggers] = {};
  bool anyFired = false;
  bool lookaheadReading = false;
  std::uint32_t lookahead = 0;
  std::uint32_t maxLookahead = 0;
  bool reissued[kMaxTriggerHandle + 1] = {};

  // Input ring: totals of bytes ever written and read; indices are totals mod the size, so
  // "full" is written - read == size and no flag can disagree with the indices.
  std::vector<std::uint8_t> in;
  std::uint64_t inWritten = 0;
  std::uint64_t inRead = 0;
  std::vector<std::uint8_t> out;
  std::uint64_t outWritten = 0;
  std::uint64_t outRead = 0;

  bool dispatching = false;  // a notification runs, or a string wait holds the port
  bool delivering = false;   // a delivery runs on the dispatch thread
  bool closeRequested = false;
  bool stopping = false;
  bool inOverrun = false;
  bool outputWritten = false;
  bool inputStalled = false;  // ring full: the event wait leaves input alone until space frees
  bool lost = false;
  bool lostReported = false;
  bool freed = false;

  TraceRing trace;
  LogRing log;
  std::uint32_t timeBase = 0;
  void *userData[10] = {};

  std::thread commThread, dispatchThread, outThread;
  std::thread::id dispatchId;
  std::atomic<bool> stop{false};
  std::atomic<std::uint32_t> pendingEvents{0};
  Event ack, commReady, dispatcherDone;
  WakeFd commWake, outWake;
  // Output thread requests
  std::mutex outMu;
  std::condition_variable outCv;
  bool outRequest = false;
  bool flushRequest = false;
  bool flushAck = false;
  bool threadsRunning = false;

  CancelToken cancel;
  std::condition_variable_any inputCv;
  std::recursive_mutex lock;

  std::uint32_t inUnread() const { return std::uint32_t(inWritten - inRead); }
  std::uint32_t outPending() const { return std::uint32_t(outWritten - outRead); }
};

}  // namespace kv::detail
