// Triggers and their delivery, driven over pseudo-terminals.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "comm/port_layer.h"
#include "comm_test_util.h"

using namespace kv;
using kvtest::Pty;
using kvtest::waitFor;

namespace {

struct Seen {
  std::uint16_t msg;
  std::uint32_t wParam;
  int data;
  int order;  // across all recorders: which handler call came first
};

std::atomic<int> gOrder{0};

// A procedure handler that records messages and reads a set number of bytes per avail.
struct Recorder {
  std::mutex mu;
  std::vector<Seen> seen;
  std::string read;
  int readPerAvail = -1;  // -1: all
  std::function<void(std::uint16_t, std::uint32_t, std::int32_t)> extra;

  static void proc(void *user, std::uint16_t msg, std::uint32_t wParam, std::int32_t lParam) {
    auto *r = static_cast<Recorder *>(user);
    int port = PortOf(lParam);
    std::string got;
    if (msg == APW_TRIGGERAVAIL) {
      int n = r->readPerAvail < 0 ? int(wParam) : r->readPerAvail;
      char c;
      for (int i = 0; i < n && GetChar(port, c) == ecOK; ++i) got += c;
    }
    {
      std::lock_guard lk(r->mu);
      r->seen.push_back({msg, wParam, DataOf(lParam), gOrder++});
      r->read += got;
    }
    if (r->extra) r->extra(msg, wParam, lParam);
  }
  std::vector<Seen> snapshot() {
    std::lock_guard lk(mu);
    return seen;
  }
  int count(std::uint16_t msg) {
    std::lock_guard lk(mu);
    int n = 0;
    for (auto &s : seen) n += s.msg == msg;
    return n;
  }
  // Messages of trigger `handle`.
  int countOf(std::uint16_t msg, int handle) {
    std::lock_guard lk(mu);
    int n = 0;
    for (auto &s : seen) n += s.msg == msg && s.wParam == std::uint32_t(handle);
    return n;
  }
  std::string text() {
    std::lock_guard lk(mu);
    return read;
  }
};

class Triggers : public ::testing::Test {
 protected:
  void open(std::shared_ptr<DeviceOps> ops = SerialDeviceLayer()) {
    ASSERT_EQ(OpenPort(port, ops, pty.slave, 4096, 4096, 19200, 0, 8, 1), ecOK);
    ClearPortOptions(port, poDirectRead);  // lookahead reading, as the component sets it
  }
  void TearDown() override {
    if (port && PortIsOpen(port)) ClosePort(port);
    ASSERT_TRUE(waitFor([] { return OpenPortCount() == 0; }));
  }
  // The port hands its messages over one at a time, in the order of their causes. To show that
  // something did not cause a message, cause a later one and wait for it: by then any message
  // of the earlier cause has arrived. Such a witness is a status trigger armed before the change
  // under test (the port listens only for the events of armed triggers), or a timer that runs
  // out later.
  int armedStatus(int kind, int value) {
    int w = AddStatusTrigger(port, kind);
    SetStatusTrigger(port, w, value, true);
    return w;
  }
  void fence(int witness) {
    EXPECT_TRUE(waitFor([&] { return r.countOf(APW_TRIGGERSTATUS, witness) == 1; }));
  }
  void timerFence(int ticks) {
    int w = AddTimerTrigger(port);
    SetTimerTrigger(port, w, ticks, true);
    EXPECT_TRUE(waitFor([&] { return r.countOf(APW_TRIGGERTIMER, w) == 1; }, 10000));
    RemoveTrigger(port, w);
  }
  Pty pty;
  int port = 0;
  // Handlers outlive the port: TearDown closes it before they go.
  Recorder r, a, b, later;
};

}  // namespace

TEST_F(Triggers, TwoHandlersReadAheadDifferentAmounts) {
  open();
  a.readPerAvail = 4;
  b.readPerAvail = 7;
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &a);
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &b);
  SetTriggerLength(port, 10);
  pty.write("0123456789");
  ASSERT_TRUE(
      waitFor([&] { return a.count(APW_TRIGGERAVAIL) == 1 && b.count(APW_TRIGGERAVAIL) == 1; }));
  // Both saw the bytes from the same start; the ring moved by the larger amount.
  EXPECT_EQ(a.text(), "0123");
  EXPECT_EQ(b.text(), "0123456");
  EXPECT_EQ(a.snapshot()[0].wParam, 10u);
  EXPECT_EQ(InBuffUsed(port), 3);
  // Nothing new: no second avail for the three bytes left (the next avail counts four).
  SetTriggerLength(port, 1);
  pty.write("X");
  ASSERT_TRUE(waitFor([&] { return a.count(APW_TRIGGERAVAIL) == 2; }));
  EXPECT_EQ(a.snapshot()[1].wParam, 4u);  // the three left plus the new one
  EXPECT_EQ(b.text(), "0123456789X");     // b read all four (reads 7 at most)
}

TEST_F(Triggers, MostRecentHandlerFirstAndDeregistration) {
  open();
  std::vector<int> order;
  std::mutex mu;
  a.extra = [&](auto, auto, auto) {
    std::lock_guard lk(mu);
    order.push_back(1);
  };
  b.extra = [&](auto, auto, auto) {
    std::lock_guard lk(mu);
    order.push_back(2);
  };
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &a);
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &b);
  int t = AddTimerTrigger(port);
  SetTimerTrigger(port, t, 1, true);
  ASSERT_TRUE(waitFor([&] { return a.count(APW_TRIGGERTIMER) == 1; }));
  {
    std::lock_guard lk(mu);
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
  }
  // Both registrations use the same procedure; the first match (the newest) goes.
  DeregisterTriggerHandler(port, nullptr, Recorder::proc);
  SetTimerTrigger(port, t, 1, true);
  ASSERT_TRUE(waitFor([&] { return a.count(APW_TRIGGERTIMER) == 2; }));
  EXPECT_EQ(b.count(APW_TRIGGERTIMER), 1);
  ClosePort(port);
  port = 0;
}

TEST_F(Triggers, HandleGivenOutAgainStopsTheDelivery) {
  open();
  // `a` runs first (newest): it removes the timer and adds another, which takes the same
  // handle; `b` must not see a message for a trigger that is no longer the one that fired.
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &b);
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &a);
  std::atomic<int> newHandle{0};
  a.extra = [&](std::uint16_t msg, std::uint32_t h, std::int32_t lParam) {
    if (msg != APW_TRIGGERTIMER) return;
    RemoveTrigger(PortOf(lParam), int(h));
    newHandle = AddTimerTrigger(PortOf(lParam));
  };
  int t = AddTimerTrigger(port);
  SetTimerTrigger(port, t, 1, true);
  ASSERT_TRUE(waitFor([&] { return newHandle.load() != 0; }));
  EXPECT_EQ(newHandle.load(), t);
  // Without the handle going out again both see the message; `b` sees only that one: its first
  // message comes after `a`'s second.
  a.extra = nullptr;
  SetTimerTrigger(port, t, 1, true);
  ASSERT_TRUE(waitFor([&] { return b.count(APW_TRIGGERTIMER) >= 1; }));
  ASSERT_EQ(a.count(APW_TRIGGERTIMER), 2);
  EXPECT_GT(b.snapshot()[0].order, a.snapshot()[1].order);
}

TEST_F(Triggers, TimerFiresAboutOnTimeAndOnce) {
  open();
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  int t = AddTimerTrigger(port);
  EXPECT_EQ(t, 2);  // handle 1 stands for the avail trigger
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(SetTimerTrigger(port, t, 18, true), ecOK);
  ASSERT_TRUE(waitFor([&] { return r.count(APW_TRIGGERTIMER) == 1; }, 5000));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  EXPECT_GE(ms, 18 * 55 - 60);
  EXPECT_LT(ms, 18 * 55 + 1500);
  EXPECT_EQ(r.snapshot()[0].wParam, std::uint32_t(t));
  // Once: a timer that would fire again after its 18 ticks has not by the time a later one of
  // 24 ticks, set now, runs out.
  timerFence(24);
  EXPECT_EQ(r.countOf(APW_TRIGGERTIMER, t), 1);
  // Re-arming with 0 ticks keeps the stored duration; deactivating stops it.
  SetTimerTrigger(port, t, 0, true);
  SetTimerTrigger(port, t, 0, false);
  timerFence(24);
  EXPECT_EQ(r.countOf(APW_TRIGGERTIMER, t), 1);
  EXPECT_EQ(SetStatusTrigger(port, t, 0, true), ecBadTriggerHandle);
}

TEST_F(Triggers, TablesFillAndHandlesAreReused) {
  open();
  std::vector<int> handles;
  for (int i = 0; i < kMaxTimerTriggers; ++i) handles.push_back(AddTimerTrigger(port));
  EXPECT_EQ(AddTimerTrigger(port), ecNoMoreTriggers);
  for (int i = 0; i < kMaxStatusTriggers; ++i) EXPECT_GT(AddStatusTrigger(port, stModem), 0);
  EXPECT_EQ(AddStatusTrigger(port, stModem), ecNoMoreTriggers);
  EXPECT_EQ(AddStatusTrigger(port, 6), ecBadArgument);
  for (int i = 0; i < kMaxDataTriggers; ++i) EXPECT_GT(AddDataTrigger(port, "x", false), 0);
  EXPECT_EQ(AddDataTrigger(port, "y", false), ecNoMoreTriggers);
  EXPECT_EQ(handles.front(), 2);
  EXPECT_EQ(RemoveTrigger(port, handles[3]), ecOK);
  EXPECT_EQ(RemoveTrigger(port, handles[3]), ecBadTriggerHandle);
  EXPECT_EQ(AddTimerTrigger(port), handles[3]);
  EXPECT_EQ(AddDataTrigger(port, std::string(kMaxDataTriggerLen + 1, 'a'), false),
            ecTriggerTooLong);
}

TEST_F(Triggers, StatusTriggerOnDcdIsOneShot) {
  auto dev = std::make_shared<kvtest::FakeLineDevice>();
  open(dev);
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  int h = AddStatusTrigger(port, stModem);
  ASSERT_EQ(SetStatusTrigger(port, h, msDCD, true), ecOK);
  const int afterFirst = armedStatus(stLine, 8),
            afterDrop = armedStatus(stLine, 2);  // break, parity
  dev->setLines(msCTS | msDSR);                  // CTS/DSR changed, DCD still off: no fire
  dev->lineError(leBreak);
  fence(afterFirst);
  EXPECT_EQ(r.countOf(APW_TRIGGERSTATUS, h), 0);
  dev->setLines(msCTS | msDSR | msDCD);
  ASSERT_TRUE(waitFor([&] { return r.countOf(APW_TRIGGERSTATUS, h) == 1; }));
  dev->setLines(msCTS | msDSR);  // one shot: DCD dropping does not fire it again
  dev->lineError(leParity);
  fence(afterDrop);
  EXPECT_EQ(r.countOf(APW_TRIGGERSTATUS, h), 1);
  EXPECT_TRUE(GetModemStatus(port, 0xFF) & msDDCD);
  // Re-armed with DCD now off, raising it fires again.
  SetStatusTrigger(port, h, msDCD, true);
  dev->setLines(msCTS | msDSR | msDCD);
  ASSERT_TRUE(waitFor([&] { return r.countOf(APW_TRIGGERSTATUS, h) == 2; }));
}

TEST_F(Triggers, LineErrorAndOutputStatusTriggers) {
  auto dev = std::make_shared<kvtest::FakeLineDevice>();
  open(dev);
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  int le = AddStatusTrigger(port, stLine);
  SetStatusTrigger(port, le, 8, true);         // break only
  const int witness = armedStatus(stLine, 4);  // framing
  dev->lineError(leParity);
  dev->lineError(leFraming);
  fence(witness);
  EXPECT_EQ(r.countOf(APW_TRIGGERSTATUS, le), 0);
  dev->lineError(leBreak);
  ASSERT_TRUE(waitFor([&] { return r.countOf(APW_TRIGGERSTATUS, le) == 1; }));

  int sent = AddStatusTrigger(port, stOutSent);
  int free = AddStatusTrigger(port, stOutBuffFree);
  SetStatusTrigger(port, sent, 0, true);
  SetStatusTrigger(port, free, 4000, true);
  ASSERT_TRUE(waitFor([&] { return r.countOf(APW_TRIGGERSTATUS, free) == 1; }));
  EXPECT_EQ(r.snapshot().back().data, 4096);  // data = bytes free
  PutString(port, "ATA\r");
  ASSERT_TRUE(waitFor([&] { return r.countOf(APW_TRIGGERSTATUS, sent) == 1; }));
}

TEST_F(Triggers, DataTriggersMatchAcrossReads) {
  open();
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  SetTriggerLength(port, 0);  // data triggers only
  int ok = AddDataTrigger(port, "OK\r\n", false);
  int ring = AddDataTrigger(port, "ring", true);
  pty.write("xxO");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pty.write("K\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // (Had "OK\r" matched too early, the first three messages below would not be ok, ring, ok.)
  pty.write("\nRI");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pty.write("NG OOK\r\n");
  ASSERT_TRUE(waitFor([&] { return r.count(APW_TRIGGERDATA) == 3; }));
  auto s = r.snapshot();
  EXPECT_EQ(s[0].wParam, std::uint32_t(ok));
  EXPECT_EQ(s[0].data, 4);
  EXPECT_EQ(s[1].wParam, std::uint32_t(ring));
  EXPECT_EQ(s[2].wParam, std::uint32_t(ok));
  // Data trigger deliveries read ahead too: nothing was consumed.
  EXPECT_EQ(InBuffUsed(port), 16);
}

TEST_F(Triggers, AvailBeforeAMatchedString) {
  open();
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  SetTriggerLength(port, 3);
  AddDataTrigger(port, "OK", false);
  pty.write("hello OK");
  ASSERT_TRUE(waitFor([&] { return r.count(APW_TRIGGERDATA) == 1; }));
  auto s = r.snapshot();
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[0].msg, APW_TRIGGERAVAIL);  // the six bytes before the match come first
  EXPECT_EQ(s[0].wParam, 6u);
  EXPECT_EQ(s[1].msg, APW_TRIGGERDATA);
  EXPECT_EQ(r.text().substr(0, 6), "hello ");
}

TEST_F(Triggers, RemovingHandleOneStopsAvails) {
  open();
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  SetTriggerLength(port, 1);
  pty.write("a");
  ASSERT_TRUE(waitFor([&] { return r.count(APW_TRIGGERAVAIL) == 1; }));
  EXPECT_EQ(RemoveTrigger(port, 1), ecOK);
  pty.write("b");
  // A later byte that a data trigger waits for: once it is reported, "b" has been handled.
  int c = AddDataTrigger(port, "c", false);
  pty.write("c");
  ASSERT_TRUE(waitFor([&] { return r.countOf(APW_TRIGGERDATA, c) == 1; }));
  EXPECT_EQ(r.count(APW_TRIGGERAVAIL), 1);
}

TEST_F(Triggers, ClosingFromInsideAHandler) {
  open();
  std::atomic<int> closeResult{1};
  std::atomic<bool> returned{false};
  // `later` is registered first, so it would run after `r`: the close stops the delivery.
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &later);
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  r.extra = [&](std::uint16_t, std::uint32_t, std::int32_t lParam) {
    closeResult = ClosePort(PortOf(lParam));
    returned = true;
    EXPECT_TRUE(PortIsOpen(PortOf(lParam)));  // freed only when the dispatch thread ends
  };
  int t = AddTimerTrigger(port);
  SetTimerTrigger(port, t, 1, true);
  ASSERT_TRUE(waitFor([&] { return returned.load(); }));
  EXPECT_EQ(closeResult, ecOK);
  ASSERT_TRUE(waitFor([&] { return !PortIsOpen(port); }));
  EXPECT_EQ(later.count(APW_TRIGGERTIMER), 0);
  port = 0;
}

TEST_F(Triggers, SaveAndRestoreAcrossPorts) {
  open();
  int t = AddTimerTrigger(port);
  int s = AddStatusTrigger(port, stModem);
  int d = AddDataTrigger(port, "CONNECT", true);
  SetTriggerLength(port, 5);
  TriggerBlock block;
  ASSERT_EQ(SaveTriggers(port, block), ecOK);
  ClosePort(port);
  open();
  ASSERT_EQ(RestoreTriggers(port, block), ecOK);
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  EXPECT_EQ(StatusTriggerKind(port, s), stModem);
  EXPECT_EQ(SetTimerTrigger(port, t, 1, true), ecOK);
  ASSERT_TRUE(waitFor([&] { return r.count(APW_TRIGGERTIMER) == 1; }));
  pty.write("connect");
  ASSERT_TRUE(waitFor([&] { return r.count(APW_TRIGGERDATA) == 1; }));
  for (auto &s : r.snapshot())
    if (s.msg == APW_TRIGGERDATA) {
      EXPECT_EQ(s.wParam, std::uint32_t(d));
    }
  EXPECT_EQ(AddTimerTrigger(port), 5);  // 2, 3, 4 are still taken
}

TEST_F(Triggers, ThrowingProcedureDoesNotStopDelivery) {
  open();
  RegisterTriggerHandler(port, nullptr, Recorder::proc, &r);
  RegisterTriggerHandler(
      port, nullptr,
      [](void *, std::uint16_t, std::uint32_t, std::int32_t) { throw std::runtime_error("boom"); },
      nullptr);
  int t = AddTimerTrigger(port);
  SetTimerTrigger(port, t, 1, true);
  ASSERT_TRUE(waitFor([&] { return r.count(APW_TRIGGERTIMER) == 1; }));
  SetTimerTrigger(port, t, 1, true);
  ASSERT_TRUE(waitFor([&] { return r.count(APW_TRIGGERTIMER) == 2; }));
}
