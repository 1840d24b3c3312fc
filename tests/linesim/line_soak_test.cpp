// Longer runs of the simulated line (label soak): real time, other speeds, many calls.
#include "efax_fixture.h"

using namespace std::chrono_literals;
using kv::test::kEfaxHeaderRows;
using kv::test::LineEfaxTest;
using kv::test::LineOptions;
using kv::test::Process;
using kv::test::SimulatedLine;

TEST_F(LineEfaxTest, EfaxToEfaxInRealTime) {
  LineOptions o;
  o.speed = 1;
  o.calls = 1;
  o.timeoutSeconds = 400;
  SimulatedLine line(o);
  auto rx = receiver(line.portB());
  std::this_thread::sleep_for(1s);
  auto tx = sender(line.portA());
  ASSERT_TRUE(tx->wait(300s)) << tx->output();
  ASSERT_TRUE(rx->wait(60s)) << rx->output();
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
  EXPECT_EQ(rx->exitCode(), 0) << rx->output();
  EXPECT_EQ(line.finish(), 0) << line.log();
  for (int p = 0; p < 2; ++p) {
    auto got = kv::test::readTiffPages(work_.path() + "/fax.00" + std::to_string(p + 1));
    ASSERT_EQ(got.size(), 1u);
    expectSamePage(pages_[p], got[0], kEfaxHeaderRows);
  }
}

TEST_F(LineEfaxTest, EfaxToFarEndAtSeveralSpeeds) {
  for (double speed : {2.0, 4.0, 16.0}) {
    SCOPED_TRACE("speed " + std::to_string(speed));
    LineOptions o;
    o.speed = speed;
    o.calls = 1;
    o.farReceive = "far.tif";
    SimulatedLine line(o);
    auto tx = sender(line.portA());
    ASSERT_TRUE(tx->wait(200s)) << tx->output();
    EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
    EXPECT_EQ(line.finish(), 0) << line.log();
    auto got = kv::test::readTiffPages(line.farReceived());
    ASSERT_EQ(got.size(), 2u);
    for (int p = 0; p < 2; ++p) expectSamePage(pages_[p], got[p], kEfaxHeaderRows);
  }
}

TEST_F(LineEfaxTest, TenCallsInARowToTheFarEnd) {
  constexpr int kCalls = 10;
  LineOptions o;
  o.calls = kCalls;
  o.farReceive = "far-%d.tif";
  o.timeoutSeconds = 600;
  SimulatedLine line(o);
  for (int call = 1; call <= kCalls; ++call) {
    SCOPED_TRACE("call " + std::to_string(call));
    auto tx = sender(line.portA());
    ASSERT_TRUE(tx->wait(60s)) << tx->output();
    ASSERT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
    auto got = kv::test::readTiffPages(line.programDir() + "/far-" + std::to_string(call) + ".tif");
    ASSERT_EQ(got.size(), 2u);
    expectSamePage(pages_[1], got[1], kEfaxHeaderRows);
  }
  EXPECT_EQ(line.finish(), 0) << line.log();
}

TEST_F(LineEfaxTest, EfaxAnswersOnTheSecondRingTwice) {
  LineOptions o;
  o.calls = 2;
  SimulatedLine line(o);
  for (int call = 1; call <= 2; ++call) {
    SCOPED_TRACE("call " + std::to_string(call));
    auto rx = std::make_unique<Process>(
        std::vector<std::string>{"efax", "-d", line.portB(), "-o1", "-w", "-iS0=2", "-r",
                                 work_.path() + "/call" + std::to_string(call)},
        work_.path() + "/efax-rx.log");
    std::this_thread::sleep_for(500ms);
    auto tx = sender(line.portA());
    ASSERT_TRUE(tx->wait(60s)) << tx->output();
    ASSERT_TRUE(rx->wait(30s)) << rx->output();
    EXPECT_EQ(tx->exitCode(), 0) << tx->output();
    EXPECT_EQ(rx->exitCode(), 0) << rx->output();
  }
  EXPECT_EQ(line.finish(), 0) << line.log();
  // Each call: two rings, then the answer; never a third ring, never the first.
  std::string log = line.log();
  std::size_t at = 0;
  for (int call = 1; call <= 2; ++call) {
    at = log.find("B: RING 2", at);
    ASSERT_NE(at, std::string::npos) << log;
    auto answered = log.find("B: answers", at);
    EXPECT_NE(answered, std::string::npos);
    EXPECT_EQ(log.find("B: RING 3"), std::string::npos) << log;
    at = answered;
  }
}
