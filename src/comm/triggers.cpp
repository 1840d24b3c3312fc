// Triggers: the tables and handle map, handler registration, the status, timer and data passes
// of the dispatch thread, and the delivery of trigger messages with lookahead reading.
#include <algorithm>
#include <cctype>

#include "comm/main_thread.h"
#include "comm/port_internal.h"
#include "comm/port_layer.h"

namespace kv {

using namespace detail;

namespace detail {

// Feeds one byte to a data trigger; true when its string completed.
bool FeedDataTrigger(DataTrigger &d, std::uint8_t b) {
  if (d.text.empty()) return false;
  if (d.ignoreCase) b = std::uint8_t(std::toupper(b));
  const std::size_t len = d.text.size();
  bool match = false;
  for (auto &c : d.counters) {
    if (c == 0) continue;
    if (std::uint8_t(d.text[c]) == b) {
      if (++c == len) match = true;
    } else {
      c = 0;
    }
  }
  if (!match && std::uint8_t(d.text[0]) == b) {
    if (len == 1) {
      match = true;
    } else {
      for (auto &c : d.counters)
        if (c == 0) {
          c = 1;
          break;
        }
    }
  }
  if (match) std::fill(d.counters.begin(), d.counters.end(), 0);
  return match;
}

namespace {

constexpr auto kWindowTimeout = std::chrono::milliseconds(1000);

bool closing(PortRecord &rec) {
  std::lock_guard lk(rec.lock);
  return rec.closeRequested || rec.stopping;
}

// Runs every registered handler for one message. Returns false for an avail that was not
// read to its end (the data pass then stops repeating) and when the port is closing.
bool deliver(PortRecord &rec, std::uint16_t msg, std::uint32_t wParam, std::uint16_t data) {
  std::vector<std::shared_ptr<Registration>> regs;
  {
    std::lock_guard lk(rec.lock);
    if (rec.stopping || rec.closeRequested || rec.freed) return false;
    rec.delivering = true;
    rec.dispatching = true;
    rec.lookaheadReading = msg == APW_TRIGGERAVAIL || msg == APW_TRIGGERDATA;
    rec.maxLookahead = 0;
    std::fill(std::begin(rec.reissued), std::end(rec.reissued), false);
    regs = rec.handlers;
  }
  const std::int32_t lParam = std::int32_t((std::uint32_t(rec.port) << 16) | data);
  bool closeNow = false;
  for (auto &reg : regs) {
    bool skip;
    {
      std::lock_guard lk(rec.lock);
      rec.lookahead = 0;
      skip = reg->deleted;
    }
    if (!skip) {
      if (reg->window) {
        TriggerWindow *w = reg->window;
        MainThread::instance().send(
            [w, msg, wParam, lParam] { w->triggerMessage(msg, wParam, lParam); }, kWindowTimeout,
            &rec.cancel);
      } else if (reg->proc) {
        try {
          reg->proc(reg->user, msg, wParam, lParam);
        } catch (...) {
          // A procedure must not take the dispatch thread down with it.
        }
      }
    }
    std::lock_guard lk(rec.lock);
    if (rec.closeRequested || rec.stopping) {
      closeNow = true;
      break;
    }
    rec.maxLookahead = std::max(rec.maxLookahead, rec.lookahead);
    if (msg != APW_TRIGGERAVAIL && wParam <= std::uint32_t(kMaxTriggerHandle) &&
        rec.reissued[wParam])
      break;
    if (!reg->passOn) break;
  }
  bool result = true;
  {
    std::lock_guard lk(rec.lock);
    rec.handlers.erase(std::remove_if(rec.handlers.begin(), rec.handlers.end(),
                                      [](const auto &r) { return r->deleted; }),
                       rec.handlers.end());
    if (rec.lookaheadReading) {
      rec.lookaheadReading = false;
      std::uint32_t adv = std::min(rec.maxLookahead, rec.inUnread());
      rec.inRead += adv;
      if (adv) inputConsumed(rec);
      if (msg == APW_TRIGGERAVAIL) result = rec.maxLookahead == wParam;
    }
    rec.dispatching = false;
    rec.delivering = false;
    rec.lookahead = 0;
    if (closeNow || rec.closeRequested) result = false;
  }
  rec.inputCv.notify_all();
  return result;
}

void logTrigger(PortRecord &rec, std::uint8_t subtype, std::uint16_t data) {
  if (rec.log.on()) rec.log.add(dtTrigger, subtype, rec.log.now(), data, nullptr, 0);
}

// First armed status trigger whose condition holds fires (one-shot). Returns whether one did.
bool statusPass(PortRecord &rec) {
  std::uint16_t handle = 0, data = 0;
  {
    std::lock_guard lk(rec.lock);
    int hit = -1;
    for (int i = 0; i < kMaxStatusTriggers && hit < 0; ++i) {
      StatusTrigger &s = rec.status[i];
      if (s.kind == stNotActive || !s.armed || rec.fired[i]) continue;
      bool fire = false;
      switch (s.kind) {
        case stModem:
          fire = ((s.reference ^ rec.msr) & s.value & 0xF0) != 0;
          break;
        case stLine:
          refreshStatus(rec);
          if (s.value & rec.lineErrors) {
            fire = true;
            s.value = rec.lineErrors;
          }
          break;
        case stOutBuffFree:
          refreshStatus(rec);
          data = std::uint16_t(rec.outSize - rec.snapshot.outQueue);
          fire = data >= s.value;
          break;
        case stOutBuffUsed:
          refreshStatus(rec);
          data = std::uint16_t(rec.snapshot.outQueue);
          fire = data <= s.value;
          break;
        case stOutSent:
          fire = rec.outputWritten;
          if (fire) rec.outputWritten = false;
          break;
      }
      if (fire) hit = i;
    }
    if (hit < 0) return false;
    StatusTrigger &s = rec.status[hit];
    if (s.kind != stOutBuffFree && s.kind != stOutBuffUsed) data = 0;
    s.armed = false;
    rec.fired[hit] = true;
    rec.anyFired = true;
    handle = s.handle;
    logTrigger(rec, dstStatus, handle);
  }
  deliver(rec, APW_TRIGGERSTATUS, handle, data);
  return true;
}

bool timerPass(PortRecord &rec) {
  std::uint16_t handle = 0;
  {
    std::lock_guard lk(rec.lock);
    for (auto &t : rec.timers) {
      if (t.inUse && t.armed && TimerExpired(t.timer)) {
        t.armed = false;
        handle = t.handle;
        logTrigger(rec, dstTimer, handle);
        break;
      }
    }
  }
  if (!handle) return false;
  deliver(rec, APW_TRIGGERTIMER, handle, 0);
  return true;
}

void clearFired(PortRecord &rec) {
  std::lock_guard lk(rec.lock);
  std::fill(std::begin(rec.fired), std::end(rec.fired), false);
  rec.anyFired = false;
}

// Scans new input for data triggers and gives avail notifications. Returns whether the caller
// should run it again.
bool dataPass(PortRecord &rec) {
  std::unique_lock lk(rec.lock);
  if (rec.scanTotal < rec.inRead) {
    rec.scanTotal = rec.inRead;  // bytes consumed unseen (a string wait) are not scanned
    rec.scanFed = false;
  }
  while (rec.scanTotal < rec.inWritten) {
    bool any = false;
    std::size_t longest = 0;
    if (rec.scanFed) {
      for (auto &d : rec.data) any |= d.matched;
    } else {
      std::uint8_t b = rec.in[rec.scanTotal % kInRingSize];
      for (auto &d : rec.data) {
        if (d.text.empty()) continue;
        if (!d.matched && FeedDataTrigger(d, b)) d.matched = true;
        any |= d.matched;
      }
    }
    if (!any) {
      ++rec.scanTotal;
      continue;
    }
    for (auto &d : rec.data)
      if (d.matched) longest = std::max(longest, d.text.size());
    std::uint64_t upto = rec.scanTotal + 1 - rec.inRead;
    std::uint64_t before = upto > longest ? upto - longest : 0;
    if (rec.triggerLength != 0 && before >= rec.triggerLength) {
      // Data ahead of the matched string goes out as an avail first.
      rec.scanFed = true;
      std::uint32_t count = std::uint32_t(before);
      rec.lastAvailTotal = rec.inWritten;
      logTrigger(rec, dstAvail, std::uint16_t(count));
      lk.unlock();
      // Read to its end, the pass goes on to deliver the match itself.
      return deliver(rec, APW_TRIGGERAVAIL, count, 0);
    }
    std::vector<std::pair<std::uint16_t, std::uint16_t>> hits;
    for (auto &d : rec.data)
      if (d.matched) {
        hits.emplace_back(d.handle, std::uint16_t(d.text.size()));
        d.matched = false;
      }
    rec.scanFed = false;
    ++rec.scanTotal;
    lk.unlock();
    bool ok = true;
    for (auto &[h, len] : hits) {
      {
        std::lock_guard g(rec.lock);
        logTrigger(rec, dstData, h);
      }
      ok = deliver(rec, APW_TRIGGERDATA, h, len) && ok;
      if (closing(rec)) return false;
    }
    return ok;
  }
  std::uint32_t unread = rec.inUnread();
  if (rec.triggerLength != 0 && rec.inWritten != rec.lastAvailTotal &&
      unread >= rec.triggerLength) {
    rec.lastAvailTotal = rec.inWritten;
    logTrigger(rec, dstAvail, std::uint16_t(std::min<std::uint32_t>(unread, 0xFFFF)));
    lk.unlock();
    return deliver(rec, APW_TRIGGERAVAIL, unread, 0);
  }
  return false;
}

void runStatusPasses(PortRecord &rec) {
  while (!closing(rec) && statusPass(rec)) {
  }
  clearFired(rec);
}

}  // namespace

void eventPass(PortRecord &rec, std::uint32_t ev) {
  bool busy;
  if (ev & (evCts | evDsr | evRlsd | evRing | evRingTe | evDeviceLost)) {
    {
      std::lock_guard lk(rec.lock);
      updateShadow(rec);
      busy = rec.dispatching;
    }
    if (!busy) runStatusPasses(rec);
  }
  if (ev & (evBreak | evErr)) {
    {
      std::lock_guard lk(rec.lock);
      refreshStatus(rec);
      busy = rec.dispatching;
    }
    if (!busy) runStatusPasses(rec);
  }
  if (ev & evRxChar) {
    readInput(rec);
    for (;;) {
      {
        std::lock_guard lk(rec.lock);
        if (rec.dispatching || rec.closeRequested || rec.stopping) break;
      }
      if (!dataPass(rec)) break;
    }
  }
}

void idlePass(PortRecord &rec) {
  {
    std::lock_guard lk(rec.lock);
    if (rec.dispatching || rec.closeRequested || rec.stopping) return;
  }
  bool fired;
  do {
    fired = statusPass(rec);
    if (!fired) fired = timerPass(rec);
  } while (fired && !closing(rec));
  clearFired(rec);
  // Input that came while the port was held (a string wait, a long delivery) and was left
  // unread is announced now rather than at the next byte from the line.
  for (;;) {
    {
      std::lock_guard lk(rec.lock);
      if (rec.dispatching || rec.closeRequested || rec.stopping) return;
      // A match held back behind an unread avail waits for new input, as before.
      if (rec.scanTotal >= rec.inWritten || rec.scanFed) return;
    }
    if (!dataPass(rec)) return;
  }
}

}  // namespace detail

// ---- Trigger operations ----------------------------------------------------------------------

namespace {

// Gives out the first free handle 2..41 for table entry `index` of `kind`.
Result takeHandle(PortRecord &rec, std::uint8_t kind, int index) {
  for (int h = 2; h <= kMaxTriggerHandle; ++h) {
    if (rec.map[h].kind == 0) {
      rec.map[h].kind = kind;
      rec.map[h].index = std::uint8_t(index + 1);
      if (rec.delivering) rec.reissued[h] = true;
      return h;
    }
  }
  return ecNoMoreTriggers;
}

bool handleIs(PortRecord &rec, int handle, std::uint8_t kind) {
  return handle >= 2 && handle <= kMaxTriggerHandle && rec.map[handle].kind == kind;
}

}  // namespace

Result SetTriggerLength(int port, std::uint16_t n) {
  KV_RECORD(port, ecBadHandle);
  rec.triggerLength = n;
  return ecOK;
}

Result AddTimerTrigger(int port) {
  KV_RECORD(port, ecBadHandle);
  for (int i = 0; i < kMaxTimerTriggers; ++i) {
    auto &t = rec.timers[i];
    if (t.inUse) continue;
    Result h = takeHandle(rec, 2, i);
    if (h < 0) return h;
    t = TriggerBlock::Timer{};
    t.inUse = true;
    t.handle = std::uint16_t(h);
    return h;
  }
  return ecNoMoreTriggers;
}

Result AddStatusTrigger(int port, std::uint16_t kind) {
  KV_RECORD(port, ecBadHandle);
  if (kind > stOutSent || kind == stNotActive) return ecBadArgument;
  for (int i = 0; i < kMaxStatusTriggers; ++i) {
    auto &s = rec.status[i];
    if (s.kind != stNotActive) continue;
    Result h = takeHandle(rec, 4, i);
    if (h < 0) return h;
    s = StatusTrigger{};
    s.kind = kind;
    s.handle = std::uint16_t(h);
    return h;
  }
  return ecNoMoreTriggers;
}

Result AddDataTrigger(int port, std::string_view text, bool ignoreCase) {
  KV_RECORD(port, ecBadHandle);
  if (text.empty()) return ecBadArgument;
  if (text.size() > std::size_t(kMaxDataTriggerLen)) return ecTriggerTooLong;
  for (int i = 0; i < kMaxDataTriggers; ++i) {
    auto &d = rec.data[i];
    if (!d.text.empty()) continue;
    Result h = takeHandle(rec, 3, i);
    if (h < 0) return h;
    d = DataTrigger{};
    d.handle = std::uint16_t(h);
    d.ignoreCase = ignoreCase;
    d.text.assign(text);
    if (ignoreCase)
      for (auto &c : d.text) c = char(std::toupper(std::uint8_t(c)));
    d.counters.assign(d.text.size(), 0);
    return h;
  }
  return ecNoMoreTriggers;
}

Result SetTimerTrigger(int port, int handle, std::int32_t ticks, bool activate) {
  KV_RECORD(port, ecBadHandle);
  if (!handleIs(rec, handle, 2)) return ecBadTriggerHandle;
  auto &t = rec.timers[rec.map[handle].index - 1];
  if (activate) {
    if (ticks != 0) t.duration = std::min(ticks, kMaxTicks);
    NewTimer(t.timer, t.duration);
    t.armed = true;
  } else {
    t.armed = false;
  }
  return ecOK;
}

Result SetStatusTrigger(int port, int handle, std::uint16_t value, bool activate) {
  KV_RECORD(port, ecBadHandle);
  if (!handleIs(rec, handle, 4)) return ecBadTriggerHandle;
  auto &s = rec.status[rec.map[handle].index - 1];
  if (!activate) {
    s.armed = false;
    return ecOK;
  }
  switch (s.kind) {
    case stModem:
      s.value = value;
      updateShadow(rec);
      s.reference = std::uint8_t(rec.msr & value & 0xF0);
      break;
    case stLine: {
      std::uint16_t v = 0;
      if (value & 1) v |= leOverrun;
      if (value & 2) v |= leParity;
      if (value & 4) v |= leFraming;
      if (value & 8) v |= leBreak;
      s.value = v;
      break;
    }
    case stOutBuffFree:
    case stOutBuffUsed:
      s.value = value;
      break;
    default:
      s.value = 0;
      break;
  }
  s.armed = true;
  return ecOK;
}

Result RemoveTrigger(int port, int handle) {
  KV_RECORD(port, ecBadHandle);
  if (handle == 1) {
    rec.triggerLength = 0;
    return ecOK;
  }
  if (handle < 2 || handle > kMaxTriggerHandle || rec.map[handle].kind == 0)
    return ecBadTriggerHandle;
  int idx = rec.map[handle].index - 1;
  switch (rec.map[handle].kind) {
    case 2:
      rec.timers[idx] = TriggerBlock::Timer{};
      break;
    case 3:
      rec.data[idx] = DataTrigger{};
      break;
    case 4:
      rec.status[idx] = StatusTrigger{};
      break;
  }
  rec.map[handle] = TriggerBlock::MapEntry{};
  return ecOK;
}

Result StatusTriggerKind(int port, int handle) {
  KV_RECORD(port, ecBadHandle);
  if (!handleIs(rec, handle, 4)) return ecBadTriggerHandle;
  return rec.status[rec.map[handle].index - 1].kind;
}

Result RegisterTriggerHandler(int port, TriggerWindow *window, TriggerProc proc, void *user,
                              bool passOn) {
  KV_RECORD(port, ecBadHandle);
  std::shared_ptr<Registration> r;
  try {
    r = std::make_shared<Registration>();
  } catch (const std::bad_alloc &) {
    return ecOutOfMemory;
  }
  r->window = window;
  r->proc = window ? nullptr : proc;
  r->user = user;
  r->passOn = passOn;
  rec.handlers.insert(rec.handlers.begin(), std::move(r));
  return ecOK;
}

Result DeregisterTriggerHandler(int port, TriggerWindow *window, TriggerProc proc) {
  KV_RECORD(port, ecBadHandle);
  for (auto &r : rec.handlers) {
    if (r->deleted) continue;
    if ((window && r->window == window) || (!window && proc && r->proc == proc)) {
      r->deleted = true;
      break;
    }
  }
  // Outside a delivery nothing walks the list, so the registration can go at once.
  if (!rec.delivering)
    rec.handlers.erase(std::remove_if(rec.handlers.begin(), rec.handlers.end(),
                                      [](const auto &r) { return r->deleted; }),
                       rec.handlers.end());
  return ecOK;
}

Result SaveTriggers(int port, TriggerBlock &block) {
  KV_RECORD(port, ecBadHandle);
  block.triggerLength = rec.triggerLength;
  std::copy(std::begin(rec.timers), std::end(rec.timers), std::begin(block.timers));
  for (int i = 0; i < kMaxDataTriggers; ++i) {
    block.data[i].handle = rec.data[i].handle;
    block.data[i].ignoreCase = rec.data[i].ignoreCase;
    block.data[i].text = rec.data[i].text;
  }
  for (int i = 0; i < kMaxStatusTriggers; ++i) {
    block.status[i].handle = rec.status[i].handle;
    block.status[i].kind = rec.status[i].kind;
    block.status[i].armed = rec.status[i].armed;
    block.status[i].value = rec.status[i].value;
  }
  std::copy(std::begin(rec.map), std::end(rec.map), std::begin(block.map));
  return ecOK;
}

Result RestoreTriggers(int port, const TriggerBlock &block) {
  KV_RECORD(port, ecBadHandle);
  rec.triggerLength = block.triggerLength;
  std::copy(std::begin(block.timers), std::end(block.timers), std::begin(rec.timers));
  for (int i = 0; i < kMaxDataTriggers; ++i) {
    rec.data[i] = DataTrigger{};
    rec.data[i].handle = block.data[i].handle;
    rec.data[i].ignoreCase = block.data[i].ignoreCase;
    rec.data[i].text = block.data[i].text;
    rec.data[i].counters.assign(rec.data[i].text.size(), 0);
  }
  for (int i = 0; i < kMaxStatusTriggers; ++i) {
    rec.status[i] = StatusTrigger{};
    rec.status[i].handle = block.status[i].handle;
    rec.status[i].kind = block.status[i].kind;
    rec.status[i].armed = block.status[i].armed;
    rec.status[i].value = block.status[i].value;
    if (rec.status[i].kind == stModem)
      rec.status[i].reference = std::uint8_t(rec.msr & rec.status[i].value & 0xF0);
  }
  std::copy(std::begin(block.map), std::end(block.map), std::begin(rec.map));
  return ecOK;
}

}  // namespace kv
