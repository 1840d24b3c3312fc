#pragma once
// A fax session's view of a TKvComPort: the port layer under the component's handle, with
// the session's triggers and its step procedure registered on the port's dispatcher.
#include <atomic>
#include <functional>
#include <mutex>

#include "comm/com_port.h"
#include "fax/fax_port.h"

namespace kv {

class CommFaxPort : public FaxPort {
 public:
  explicit CommFaxPort(TKvCustomComPort &cp) : cp_(cp) {}
  ~CommFaxPort() override;

  Result put(const std::uint8_t *data, std::size_t n) override;
  int getChar() override;
  int inUsed() override;
  int outUsed() override;
  int outFree() override;
  int outSize() override { return cp_.OutSize(); }
  void flushIn() override;
  void flushOut() override;
  void setDtr(bool on) override;
  void setRts(bool on) override;
  bool dcd() override;
  void setBaud(std::int32_t bps) override;
  std::int32_t baud() override;
  void setSoftwareFlow(bool on, bool receiving) override;
  bool alive() override;
  bool waitForInput(int ms) override;

  Result startTriggers(std::function<void(FaxTrigger)> handler) override;
  void enableDelivery() override;
  void stopTriggers() override;
  void detach() override;
  void armTimeout(std::int32_t ticks) override;
  void disarmTimeout() override;
  void armStatusTimer(std::int32_t ticks) override;
  void armOutFree(int level) override;
  void armOutUsed(int level) override;
  void setPolling(bool on) override;
  bool polling() override { return polling_; }
  void setSessionMark(bool on) override { sessionMark_ = on; }
  bool sessionMark() const { return sessionMark_; }
  void logState(std::uint8_t state, const char *name) override;

  // Puts the component in the shape a fax session needs: 8N1 at 19200, 8192-byte buffers,
  // RTS/CTS flow control. Done when a fax component is given a port.
  static void configure(TKvCustomComPort &cp);

 private:
  static void proc(void *user, std::uint16_t msg, std::uint32_t wParam, std::int32_t lParam);
  void deliver(std::uint16_t msg, std::uint32_t wParam);
  int handle();

  // What the dispatcher holds instead of this object. A delivery may already be under way on
  // the dispatch thread when the session is taken down; the gate makes the takedown wait for
  // it, and turns any later call into nothing. Gates are never freed, so a late call through
  // the dispatcher's copy of the pointer stays harmless.
  struct Gate {
    std::recursive_mutex m;  // held for each delivery
    std::atomic<CommFaxPort *> target{nullptr};
  };
  Gate *gate_ = new Gate;

  TKvCustomComPort &cp_;
  std::atomic<int> port_{0};  // the session's handle; 0 outside a session
  std::function<void(FaxTrigger)> handler_;
  int timeoutH_ = 0, statusH_ = 0, freeH_ = 0, usedH_ = 0, linesH_ = 0;
  std::atomic<bool> registered_{false};
  std::atomic<bool> polling_{false};
  bool wasDispatching_ = false;
  std::atomic<bool> sessionMark_{false};
};

}  // namespace kv
