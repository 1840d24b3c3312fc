// The three threads of an open port: the comm event thread reads the device and watches the
// modem lines, the output thread drains the output ring into the device, and the dispatch
// thread delivers triggers to their handlers. Also the close that stops them.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "comm/port_internal.h"
#include "comm/port_layer.h"

namespace kv::detail {

// ---- Threads ---------------------------------------------------------------------------------

static void commEventThread(std::shared_ptr<PortRecord> rp) {
  PortRecord &rec = *rp;
  rec.ack.set();
  while (!rec.stop.load()) {
    std::uint32_t ev = 0;
    bool report = false, lost = false, wantRx = true;
    {
      std::lock_guard lk(rec.lock);
      lost = rec.lost;
      if (lost && !rec.lostReported) {
        rec.lostReported = true;
        report = true;
      }
      wantRx = !rec.inputStalled;
    }
    if (report) {
      ev = evDeviceLost;
    } else if (lost) {
      // Nothing more will come from the device; wait only for the stop.
      pollfd p{rec.commWake.fd(), POLLIN, 0};
      ::poll(&p, 1, -1);
      rec.commWake.drain();
      continue;
    } else {
      std::uint32_t mask = rec.eventMask | evRxChar;
      if (!wantRx) mask &= ~evRxChar;
      Result r = rec.ops->waitEvent(rec.dev, mask, rec.commWake.fd());
      rec.commWake.drain();
      if (rec.stop.load()) break;
      if (r == 0) continue;
      if (r < 0) {
        std::lock_guard lk(rec.lock);
        markLost(rec);
        continue;
      }
      ev = std::uint32_t(r);
      if (ev & evDeviceLost) {
        std::lock_guard lk(rec.lock);
        markLost(rec);
        rec.lostReported = true;
      }
    }
    if (ev & evRingTe) {
      std::lock_guard lk(rec.lock);
      rec.ringTrailingEdge = true;
    }
    if (rec.stop.load()) break;
    rec.pendingEvents.store(ev);
    rec.commReady.set();
    rec.dispatcherDone.wait(-1);
  }
  rec.ack.set();
}

static void drainOutput(PortRecord &rec) {
  for (;;) {
    if (rec.stop.load()) return;
    {
      std::lock_guard lk(rec.outMu);
      if (rec.flushRequest) return;
    }
    const std::uint8_t *p;
    std::uint32_t len;
    {
      std::lock_guard lk(rec.lock);
      if (rec.lost) {
        rec.outRead = rec.outWritten;
        return;
      }
      std::uint32_t pending = rec.outPending();
      if (pending == 0 || rec.outSize == 0) return;
      std::uint32_t at = std::uint32_t(rec.outRead % rec.outSize);
      len = std::min<std::uint32_t>(pending, rec.outSize - at);
      p = rec.out.data() + at;
    }
    Result n = rec.ops->write(rec.dev, p, len);
    if (n > 0) {
      std::lock_guard lk(rec.lock);
      rec.outRead += std::uint32_t(n);
      continue;
    }
    if (n < 0) {
      std::lock_guard lk(rec.lock);
      markLost(rec);
      rec.outRead = rec.outWritten;
      return;
    }
    // The device takes nothing now: wait until it does, or a flush or stop comes. A write
    // that stays stuck for the whole write time-out is simply tried again.
    Result w = rec.ops->waitWritable(rec.dev, rec.outWake.fd(), kWriteTimeoutMs);
    rec.outWake.drain();
    if (w < 0) {
      std::lock_guard lk(rec.lock);
      markLost(rec);
      rec.outRead = rec.outWritten;
      return;
    }
  }
}

static void outputThread(std::shared_ptr<PortRecord> rp) {
  PortRecord &rec = *rp;
  rec.ack.set();
  for (;;) {
    {
      std::unique_lock lk(rec.outMu);
      rec.outCv.wait(lk, [&] { return rec.outRequest || rec.flushRequest || rec.stop.load(); });
      if (rec.stop.load()) break;
      if (rec.flushRequest) {
        rec.flushRequest = false;
        rec.flushAck = true;
        rec.outCv.notify_all();
        continue;
      }
      rec.outRequest = false;
    }
    drainOutput(rec);
  }
}

static void dispatchThread(std::shared_ptr<PortRecord> rp) {
  PortRecord &rec = *rp;
  {
    std::lock_guard lk(rec.lock);
    rec.dispatchId = std::this_thread::get_id();
  }
  rec.ack.set();
  // Every send of this thread (handlers' own included) is given up when the port closes, so a
  // close on the main thread never waits for a thread that waits for the main thread.
  CancelToken::Use useCancel(rec.cancel);
  std::uint32_t lastIdle = MonotonicMs();
  for (;;) {
    bool got = rec.commReady.wait(50);
    if (rec.stop.load()) return;
    if (got) {
      eventPass(rec, rec.pendingEvents.load());
      rec.dispatcherDone.set();
      // A steady stream of input must not hold timers back.
      if (MonotonicMs() - lastIdle >= 50) {
        idlePass(rec);
        lastIdle = MonotonicMs();
      }
    } else {
      idlePass(rec);
      lastIdle = MonotonicMs();
    }
    bool closeNow;
    {
      std::lock_guard lk(rec.lock);
      closeNow = rec.closeRequested;
    }
    if (closeNow && !rec.stop.load()) {
      finishClose(rec, /*fromDispatch=*/true);
      return;
    }
  }
}

static bool startThread(PortRecord &rec, std::thread &t, void (*fn)(std::shared_ptr<PortRecord>),
                        std::shared_ptr<PortRecord> rp) {
  try {
    t = std::thread(fn, std::move(rp));
  } catch (const std::system_error &) {
    return false;
  }
  rec.ack.wait(3000);
  return true;
}

static void wakeAll(PortRecord &rec) {
  rec.stop.store(true);
  rec.cancel.cancel();
  {
    std::lock_guard lk(rec.outMu);
    rec.outCv.notify_all();
  }
  rec.outWake.signal();
  rec.commWake.signal();
  rec.dispatcherDone.set();
  rec.commReady.set();
}

void closeDevice(PortRecord &rec) {
  if (rec.dev < 0) return;
  if (rec.attached)
    rec.ops->attach(rec.dev, false);
  else
    rec.ops->close(rec.dev);
  rec.dev = -1;
}

void finishClose(PortRecord &rec, bool fromDispatch) {
  wakeAll(rec);
  if (rec.commThread.joinable()) rec.commThread.join();
  if (rec.outThread.joinable()) rec.outThread.join();
  if (fromDispatch) {
    if (rec.dispatchThread.joinable()) rec.dispatchThread.detach();
  } else if (rec.dispatchThread.joinable()) {
    rec.dispatchThread.join();
  }
  {
    std::lock_guard lk(rec.lock);
    closeDevice(rec);
    rec.handlers.clear();
    rec.freed = true;
    rec.threadsRunning = false;
  }
  // Not under the record's lock: the table lock is always taken first.
  freeSlot(rec);
  rec.inputCv.notify_all();
}

// Empties the output ring: the output thread stops draining first so no piece is half sent
// from indices that are being reset.
void flushOutput(PortRecord &rec) {
  bool handshake;
  {
    std::lock_guard lk(rec.lock);
    handshake = rec.threadsRunning && !rec.stopping && !rec.closeRequested && !rec.freed;
  }
  if (handshake) {
    std::unique_lock lk(rec.outMu);
    rec.flushAck = false;
    rec.flushRequest = true;
    rec.outCv.notify_all();
    lk.unlock();
    rec.outWake.signal();
    lk.lock();
    rec.outCv.wait_for(lk, std::chrono::seconds(5),
                       [&] { return rec.flushAck || rec.stop.load(); });
    rec.flushRequest = false;
  }
  std::lock_guard lk(rec.lock);
  if (rec.freed) return;
  rec.outRead = rec.outWritten;
  if (!rec.lost && rec.dev >= 0) rec.ops->flush(rec.dev, 0);
}

bool startPortThreads(const std::shared_ptr<PortRecord> &rp) {
  PortRecord &rec = *rp;
  return startThread(rec, rec.commThread, commEventThread, rp) &&
         startThread(rec, rec.dispatchThread, dispatchThread, rp) &&
         startThread(rec, rec.outThread, outputThread, rp);
}

}  // namespace kv::detail
