// Long runs, left out of the default test run: thousands of calls on one component the way
// receive mode makes them, with descriptors and memory checked to stay flat.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "close_race_util.h"
#include "comm/com_port.h"
#include "comm_test_util.h"

using namespace kv;

namespace {

long rssKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

int fdCount() {
  int n = 0;
  for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace

TEST(CommSoak, ThousandsOfCallsStayFlat) {
  kvtest::Pty pty;
  TKvComPort cp;
  cp.SetDevicePath(pty.slave);
  cp.SetAutoOpen(false);
  cp.SetTracing(tlOn);
  cp.SetLogging(tlOn);
  std::string trc = kvtest::tempPath("soak.trc"), log = kvtest::tempPath("soak.log");
  cp.SetTraceName(trc);
  cp.SetLogName(log);
  int avails = 0;
  cp.OnTriggerAvail = [&](TKvCustomComPort &p, std::uint32_t n) {
    ++avails;
    for (std::uint32_t i = 0; i < n; ++i) p.GetChar();
  };
  [[maybe_unused]] long rss0 = 0;  // unused when memory is not checked
  int fd0 = 0;
  for (int call = 0; call < 20000; ++call) {
    if (call % 100 == 0) {
      ASSERT_NO_THROW(cp.SetOpen(true)) << "call " << call << ", ports open " << OpenPortCount();
      cp.SetTracing(tlOn);
      cp.SetLogging(tlOn);
      // Triggers survive the reopen: add once, re-arm after every open.
      static int timer = 0;
      if (call == 0) timer = cp.AddTimerTrigger();
      cp.SetTimerTrigger(timer, 1000, true);
    }
    cp.PutString("ATA\r");
    pty.read(4);
    pty.write("RING\r\n");
    ASSERT_TRUE(kvtest::pumpUntil([&] { return avails > call; }, 5000)) << call;
    pty.write("OK\r\n");
    if (call % 100 == 99) {
      cp.WaitForString("OK\r\n", 18, true, false);
      cp.SetOpen(false);
      // A close from inside a delivery completes on the port's own thread a moment later.
      ASSERT_TRUE(kvtest::waitFor([] { return OpenPortCount() == 0; }));
      if (call == 499) {
        rss0 = rssKb();
        fd0 = fdCount();
      }
    }
  }
  EXPECT_EQ(fdCount(), fd0);
#ifndef __SANITIZE_THREAD__  // the sanitizer's own history grows with every access
  EXPECT_LT(rssKb() - rss0, 4096) << "resident memory grew";
#endif
  std::remove(trc.c_str());
  std::remove(log.c_str());
}

// The quick test's close race, many times over, with the component and the main-thread
// service destroyed right after every close.
TEST(CommSoak, CloseRaceThousandsOfRounds) {
  EXPECT_GT(kvtest::runCloseRace(4000), 4000);
}
