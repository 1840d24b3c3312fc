// linesim always ends by itself, and its exit code says how.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "e2e/process.h"
#include "e2e/simulated_line.h"

using namespace std::chrono_literals;
using kv::test::Process;
using kv::test::SimulatedLine;
using kv::test::TempDir;

namespace {

struct RunResult {
  int code;
  std::string output;
};

RunResult runLinesim(const TempDir &dir, std::vector<std::string> args,
                     std::chrono::seconds limit = 20s) {
  args.insert(args.begin(), SimulatedLine::linesimPath());
  Process p(args, dir.path() + "/linesim.log");
  if (!p.wait(limit)) return {-1, p.output()};
  return {p.exitCode(), p.output()};
}

}  // namespace

TEST(LinesimExitTest, UsageAndSetUpErrors) {
  TempDir dir;
  std::string a = dir.path() + "/a", b = dir.path() + "/b";
  EXPECT_EQ(runLinesim(dir, {a}).code, 2);  // one port without a far end
  EXPECT_EQ(runLinesim(dir, {"--speed", "fast", a, b}).code, 2);
  EXPECT_EQ(runLinesim(dir, {"--mute", "C:1", a, b}).code, 2);
  EXPECT_EQ(runLinesim(dir, {"--far-receive", "x.tif", a, b}).code, 2);  // two ports with one
  RunResult missing = runLinesim(dir, {"--far-send", dir.path() + "/none.tif", a});
  EXPECT_EQ(missing.code, 3);
  EXPECT_NE(missing.output.find("none.tif"), std::string::npos) << missing.output;
  EXPECT_EQ(runLinesim(dir, {dir.path() + "/no/such/dir/a", b}).code, 3);
}

TEST(LinesimExitTest, TimeOutSignalAndFailedFarEnd) {
  TempDir dir;
  std::string a = dir.path() + "/a", b = dir.path() + "/b";
  // Without --calls the time limit is the planned end; with it, the calls did not happen.
  EXPECT_EQ(runLinesim(dir, {"--timeout", "0.3", a, b}).code, 0);
  RunResult late = runLinesim(dir, {"--timeout", "0.3", "--calls", "1", a, b});
  EXPECT_EQ(late.code, 4);
  EXPECT_NE(late.output.find("timed out"), std::string::npos) << late.output;
  EXPECT_FALSE(std::filesystem::exists(a));  // the links go with the line
  {
    Process p({SimulatedLine::linesimPath(), a, b}, dir.path() + "/sig.log");
    for (int i = 0; i < 200 && !std::filesystem::exists(b); ++i) std::this_thread::sleep_for(10ms);
    ::kill(p.pid(), SIGTERM);
    ASSERT_TRUE(p.wait(5s));
    EXPECT_EQ(p.exitCode(), 5) << p.output();
  }
  // A fax machine that calls and is never answered has failed: exit 1, after one call.
  RunResult unanswered = runLinesim(
      dir, {"--speed", "60", "--calls", "1", "--far-dial-at", "0", "--far-send", "/dev/null", a});
  EXPECT_EQ(unanswered.code, 1) << unanswered.output;
  EXPECT_NE(unanswered.output.find("no answer"), std::string::npos) << unanswered.output;
}
