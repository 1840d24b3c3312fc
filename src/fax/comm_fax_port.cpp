#include "fax/comm_fax_port.h"

#include <cstring>

#include "comm/port_layer.h"

namespace kv {

CommFaxPort::~CommFaxPort() {
  stopTriggers();
}

void CommFaxPort::configure(TKvCustomComPort &cp) {
  cp.SetDataBits(8);
  cp.SetStopBits(1);
  cp.SetParity(pNone);
  cp.SetBaud(19200);
  cp.SetInSize(8192);
  cp.SetOutSize(8192);
  cp.SetHWFlowOptions(hwfSet({hwfUseRTS, hwfRequireCTS}));
}

int CommFaxPort::handle() {
  // While a session runs, its steps come from the dispatch thread: they use the handle taken
  // at the start and never look at the component, which belongs to the main thread. A port
  // closed under the session then reads as gone.
  if (int h = port_) return PortIsOpen(h) ? h : 0;
  return cp_.Open() ? cp_.ComHandle() : 0;
}

Result CommFaxPort::put(const std::uint8_t *data, std::size_t n) {
  int h = handle();
  if (!h) return ecCommNotOpen;
  return PutBlock(h, data, n);
}

int CommFaxPort::getChar() {
  int h = handle();
  char c;
  if (!h || GetChar(h, c) < 0) return -1;
  return static_cast<unsigned char>(c);
}

int CommFaxPort::inUsed() {
  int h = handle();
  return h ? InBuffUsed(h) : 0;
}

int CommFaxPort::outUsed() {
  int h = handle();
  return h ? OutBuffUsed(h) : 0;
}

int CommFaxPort::outFree() {
  int h = handle();
  return h ? OutBuffFree(h) : 0;
}

void CommFaxPort::flushIn() {
  if (int h = handle()) FlushInBuffer(h);
}

void CommFaxPort::flushOut() {
  if (int h = handle()) FlushOutBuffer(h);
}

void CommFaxPort::setDtr(bool on) {
  if (int h = handle()) SetDTR(h, on);
}

void CommFaxPort::setRts(bool on) {
  if (int h = handle()) SetRTS(h, on);
}

bool CommFaxPort::dcd() {
  int h = handle();
  return h && CheckDCD(h) > 0;
}

void CommFaxPort::setBaud(std::int32_t bps) {
  if (bps <= 0) return;
  if (int h = handle()) SetLine(h, std::uint32_t(bps), 5, 9, 3);
}

std::int32_t CommFaxPort::baud() {
  // The line itself, not the component's property: the session switches rates on the handle.
  LineValues v;
  if (int h = handle(); h && GetLine(h, v) >= 0) return std::int32_t(v.baud);
  return std::int32_t(cp_.Baud());
}

void CommFaxPort::setSoftwareFlow(bool on, bool receiving) {
  int h = handle();
  if (!h) return;
  if (!on) {
    SWFlowDisable(h);
    return;
  }
  // Only the direction that carries no data: page data holds every byte value, and an XON or
  // XOFF in it must neither be eaten by our driver (receiving) nor be ours inserted into it
  // (sending).
  SWFlowEnable(h, std::uint16_t(cp_.InSize() * 3 / 4), std::uint16_t(cp_.InSize() / 4),
               receiving ? sfReceiveFlow : sfTransmitFlow);
}

bool CommFaxPort::alive() {
  int h = handle();
  return h && !DeviceLost(h);
}

bool CommFaxPort::waitForInput(int ms) {
  int h = handle();
  return h && WaitForInput(h, ms) > 0;
}

Result CommFaxPort::startTriggers(std::function<void(FaxTrigger)> handler) {
  stopTriggers();
  int h = handle();
  if (!h) return ecCommNotOpen;
  port_ = h;
  handler_ = std::move(handler);
  Result r = SetTriggerLength(h, 1);
  if (r < 0) return r;
  int *slots[] = {&timeoutH_, &statusH_};
  for (int *s : slots) {
    r = AddTimerTrigger(h);
    if (r < 0) {
      stopTriggers();
      return r;
    }
    *s = r;
  }
  struct {
    int *slot;
    std::uint16_t kind;
  } status[] = {{&freeH_, stOutBuffFree}, {&usedH_, stOutBuffUsed}, {&linesH_, stModem}};
  for (auto &s : status) {
    r = AddStatusTrigger(h, s.kind);
    if (r < 0) {
      stopTriggers();
      return r;
    }
    *s.slot = r;
  }
  SetDataPointer(h, this, 2);
  return ecOK;
}

void CommFaxPort::enableDelivery() {
  if (!port_ || registered_) return;
  gate_->target = this;
  if (RegisterTriggerHandler(port_, nullptr, &CommFaxPort::proc, gate_, true) >= 0)
    registered_ = true;
}

void CommFaxPort::detach() {
  gate_->target = nullptr;
  {
    // A delivery that started before holds the gate: wait for it to end.
    std::lock_guard lk(gate_->m);
  }
  stopTriggers();
}

void CommFaxPort::stopTriggers() {
  gate_->target = nullptr;
  if (!port_) return;
  if (PortIsOpen(port_)) {
    if (registered_) DeregisterTriggerHandler(port_, nullptr, &CommFaxPort::proc);
    for (int *s : {&timeoutH_, &statusH_, &freeH_, &usedH_, &linesH_})
      if (*s > 0) RemoveTrigger(port_, *s);
    SetDataPointer(port_, nullptr, 2);
  }
  registered_ = false;
  timeoutH_ = statusH_ = freeH_ = usedH_ = linesH_ = 0;
  port_ = 0;
}

void CommFaxPort::proc(void *user, std::uint16_t msg, std::uint32_t wParam, std::int32_t) {
  auto *gate = static_cast<Gate *>(user);
  std::lock_guard lk(gate->m);
  if (CommFaxPort *target = gate->target) target->deliver(msg, wParam);
}

void CommFaxPort::deliver(std::uint16_t msg, std::uint32_t wParam) {
  if (!registered_ || !handler_) return;
  int h = int(wParam);
  switch (msg) {
    case APW_TRIGGERAVAIL:
      handler_(FaxTrigger::Avail);
      break;
    case APW_TRIGGERTIMER:
      if (h == timeoutH_)
        handler_(FaxTrigger::Timeout);
      else if (h == statusH_)
        handler_(FaxTrigger::StatusTimer);
      break;
    case APW_TRIGGERSTATUS:
      if (h == freeH_)
        handler_(FaxTrigger::OutFree);
      else if (h == usedH_)
        handler_(FaxTrigger::OutUsed);
      // The modem-lines trigger is never armed; its events mean nothing here.
      break;
    default:
      break;
  }
}

void CommFaxPort::armTimeout(std::int32_t ticks) {
  if (port_ && timeoutH_) SetTimerTrigger(port_, timeoutH_, ticks, true);
}

void CommFaxPort::disarmTimeout() {
  if (port_ && timeoutH_) SetTimerTrigger(port_, timeoutH_, 0, false);
}

void CommFaxPort::armStatusTimer(std::int32_t ticks) {
  if (port_ && statusH_) SetTimerTrigger(port_, statusH_, ticks, true);
}

void CommFaxPort::armOutFree(int level) {
  if (port_ && freeH_) SetStatusTrigger(port_, freeH_, std::uint16_t(level), true);
}

void CommFaxPort::armOutUsed(int level) {
  if (port_ && usedH_) SetStatusTrigger(port_, usedH_, std::uint16_t(level), true);
}

void CommFaxPort::setPolling(bool on) {
  int h = handle();
  if (!h) return;
  if (on && !polling_) {
    wasDispatching_ = SetDispatching(h, true) > 0;
    polling_ = true;
  } else if (!on && polling_) {
    if (!wasDispatching_) SetDispatching(h, false);
    polling_ = false;
  }
}

void CommFaxPort::logState(std::uint8_t state, const char *name) {
  if (int h = handle())
    AddDispatchEntry(h, dtDispatch, dstState, state, name, std::uint16_t(std::strlen(name)));
}

}  // namespace kv
