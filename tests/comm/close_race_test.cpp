// Closing a port while its dispatch thread is delivering: once the close returns nothing of the
// port runs any more, and a close from inside a handler neither waits for itself nor hangs.
#include <gtest/gtest.h>

#include "close_race_util.h"

using namespace kv;
using namespace std::chrono_literals;

TEST(CloseRace, NothingOfThePortOutlivesTheClose) {
  long deliveries = kvtest::runCloseRace(150);
  // The rounds must really have closed during deliveries, not between them.
  EXPECT_GT(deliveries, 150);
}

namespace {

// A procedure handler that reports to the main thread, whose handler closes the port; after
// the report it reports once more, as a state machine finishing its step would.
struct SelfClose {
  TKvComPort *cp = nullptr;
  std::atomic<bool> closing{true};
  std::atomic<bool> closedInside{false};
  std::atomic<int> secondSent{-1};
  std::atomic<long> secondWaitMs{-1};
};

void selfCloseProc(void *user, std::uint16_t, std::uint32_t, std::int32_t) {
  auto *s = static_cast<SelfClose *>(user);
  if (!s->closing.exchange(false)) return;
  TKvComPort *cp = s->cp;
  MainThread::instance().send(
      [s, cp] {
        cp->SetOpen(false);
        s->closedInside = !cp->Open();
      },
      5s);
  auto start = std::chrono::steady_clock::now();
  s->secondSent = MainThread::instance().send([] {}, 5s);
  s->secondWaitMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
}

}  // namespace

TEST(CloseRace, ClosingFromAMessageOfTheDispatchThread) {
  kvtest::Pty pty;
  TKvComPort cp;
  SelfClose s;
  s.cp = &cp;
  cp.SetDevicePath(pty.slave);
  cp.SetAutoOpen(false);
  cp.SetOpen(true);
  int h = cp.ComHandle();
  ASSERT_GE(RegisterTriggerHandler(h, nullptr, selfCloseProc, &s, true), 0);
  pty.write("RING\r\n");
  // The close runs on this thread inside the message; it must neither wait for the dispatch
  // thread (which waits for us) nor leave the port behind once the handler is done.
  ASSERT_TRUE(kvtest::pumpUntil([&] { return s.closedInside.load(); }, 3000));
  ASSERT_TRUE(kvtest::waitFor([&] { return !PortIsOpen(h) && s.secondSent != -1; }, 1000));
  // The port is closing: its later message is given up at once instead of waiting for us.
  EXPECT_EQ(s.secondSent, 0);
  EXPECT_LT(s.secondWaitMs, 500);
  EXPECT_TRUE(kvtest::waitFor([] { return OpenPortCount() == 0; }, 1000));
}

TEST(CloseRace, ClosingWhileTheDispatchThreadWaitsForUs) {
  // The dispatch thread is blocked in a send to this thread when the close comes: the close
  // releases it instead of waiting out its time-out, and returns only once it has ended.
  kvtest::Pty pty;
  kvtest::RaceProbe probe;
  TKvComPort cp;
  probe.cp = &cp;
  cp.SetDevicePath(pty.slave);
  cp.SetAutoOpen(false);
  cp.SetOpen(true);
  ASSERT_GE(RegisterTriggerHandler(cp.ComHandle(), nullptr, kvtest::raceProc, &probe, true), 0);
  pty.write("RING\r\n");
  ASSERT_TRUE(kvtest::waitFor([&] { return probe.inside == 1; }));
  auto start = std::chrono::steady_clock::now();
  cp.SetOpen(false);
  probe.closed = true;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_EQ(probe.inside, 0);
  EXPECT_EQ(OpenPortCount(), 0);
  EXPECT_EQ(cp.Tag(), 0);  // the given-up message never runs late
  MainThread::instance().processPending();
  EXPECT_EQ(cp.Tag(), 0);
  EXPECT_EQ(probe.late, 0);
}
