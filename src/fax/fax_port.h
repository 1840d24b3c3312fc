#pragma once
// What a fax session needs of an open serial port: the rings, the modem lines, and the
// session's triggers (a time-out timer, a status timer, output-buffer-free and
// output-buffer-used levels). The session's step procedure is called on the port's dispatch
// thread with the trigger that fired.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

#include "base/result_codes.h"

namespace kv {

enum class FaxTrigger { Avail, Timeout, StatusTimer, OutFree, OutUsed };

class FaxPort {
 public:
  virtual ~FaxPort() = default;

  virtual Result put(const std::uint8_t *data, std::size_t n) = 0;
  // Next received byte, or -1 when the input ring is empty.
  virtual int getChar() = 0;
  virtual int inUsed() = 0;
  virtual int outUsed() = 0;
  virtual int outFree() = 0;
  virtual int outSize() = 0;
  virtual void flushIn() = 0;
  virtual void flushOut() = 0;
  virtual void setDtr(bool on) = 0;
  virtual void setRts(bool on) = 0;
  virtual bool dcd() = 0;
  virtual void setBaud(std::int32_t bps) = 0;
  virtual std::int32_t baud() = 0;
  // XON/XOFF while page data flows: when receiving we send XOFF/XON to pace the modem; when
  // sending we obey the modem's.
  virtual void setSoftwareFlow(bool on, bool receiving) = 0;
  // False once the device has gone (pty closed, modem unplugged).
  virtual bool alive() = 0;
  // Waits at most `ms` for a received byte; true when one is there. For replies read by
  // polling; a port without a way to wait looks again after a short pause.
  virtual bool waitForInput(int ms) {
    if (inUsed() > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 5)));
    return inUsed() > 0;
  }

  // Adds the session's triggers and registers `handler` for them. A negative result (no
  // trigger slots) leaves nothing registered.
  virtual Result startTriggers(std::function<void(FaxTrigger)> handler) = 0;
  // Starts delivering triggers to the handler (after the first state has run).
  virtual void enableDelivery() = 0;
  // Removes the triggers and the handler; no new call of the handler starts afterwards. May be
  // called from inside the handler.
  virtual void stopTriggers() = 0;
  // As stopTriggers, and also waits for a call of the handler still running on the dispatch
  // thread. Never call it from inside the handler or while holding a lock the handler takes.
  virtual void detach() { stopTriggers(); }
  virtual void armTimeout(std::int32_t ticks) = 0;
  virtual void disarmTimeout() = 0;
  virtual void armStatusTimer(std::int32_t ticks) = 0;
  virtual void armOutFree(int level) = 0;
  virtual void armOutUsed(int level) = 0;

  // Polling mode: while set, received bytes go only to getChar() callers on the main thread.
  virtual void setPolling(bool on) = 0;
  virtual bool polling() = 0;
  // Session mark of the port record (1 while a session runs).
  virtual void setSessionMark(bool on) = 0;
  // Notes in the port's dispatch log that the session's machine entered a state.
  virtual void logState(std::uint8_t /*state*/, const char * /*name*/) {}
};

}  // namespace kv
