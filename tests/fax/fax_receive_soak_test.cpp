// Continuous reception over many calls: a caller dials, the receiver answers and the caller
// hangs up before any fax, again and again. The receiver must come back to waiting every
// time, and its memory must not grow with the number of calls. KORVANE_SOAK_CALLS sets the
// count (default 1000).
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "e2e/port_client.h"
#include "e2e/process.h"
#include "e2e/simulated_line.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::LineOptions;
using test::PortClient;
using test::Process;
using test::SimulatedLine;
using test::TempDir;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";
const std::string kWaiting = "Waiting for incoming call";

int occurrences(const std::string &text, const std::string &needle) {
  int n = 0;
  for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

TEST(ReceiveSoak, ManyCallsLeaveTheReceiverWaitingWithFlatMemory) {
  const char *env = std::getenv("KORVANE_SOAK_CALLS");
  const int calls = env ? std::max(101, std::atoi(env)) : 1000;
  LineOptions o;
  o.timeoutSeconds = 7200;
  SimulatedLine line(o);
  TempDir work;
  Process rx({kTool, "receive", "--speed", test::speedArg(), "--device", line.portA(), "--dir",
              work.path() + "/in"},
             work.path() + "/receive.log");
  long rssEarly = 0;
  for (int i = 1; i <= calls; ++i) {
    // The receiver is back at its ring wait before the next call comes in.
    ASSERT_TRUE(waitUntil([&] { return occurrences(rx.output(), kWaiting) >= i; }, 60s))
        << "call " << i << "\n"
        << rx.output().substr(rx.output().size() > 2000 ? rx.output().size() - 2000 : 0);
    PortClient caller(line.portB());
    // A fax caller, or the call would be a data call.
    ASSERT_TRUE(caller.selectClassOne()) << caller.received();
    ASSERT_TRUE(caller.command("ATDT5551234"));
    ASSERT_TRUE(caller.expect("CONNECT", 30s)) << "call " << i << ": " << caller.received();
    caller.close();  // hangs up before any fax
    if (i == 100) rssEarly = rx.residentKb();
  }
  ASSERT_TRUE(waitUntil([&] { return occurrences(rx.output(), kWaiting) > calls; }, 60s));
  long rssLate = rx.residentKb();
  RecordProperty("rss_kb_after_100_calls", std::to_string(rssEarly));
  RecordProperty("rss_kb_at_end", std::to_string(rssLate));
  std::printf("calls %d, resident memory after 100 calls %ld kB, at the end %ld kB\n", calls,
              rssEarly, rssLate);
  EXPECT_GT(rssEarly, 0);
  EXPECT_LT(rssLate - rssEarly, 1024) << "grew by " << rssLate - rssEarly << " kB";
  ::kill(rx.pid(), SIGINT);
  ASSERT_TRUE(rx.wait(30s));
  // Nothing was received, so nothing was stored.
  EXPECT_TRUE(!std::filesystem::exists(work.path() + "/in") ||
              std::filesystem::is_empty(work.path() + "/in"));
}

}  // namespace
}  // namespace kv
