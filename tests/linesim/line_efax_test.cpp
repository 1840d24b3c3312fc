// Faxes over the simulated line between independent programs: efax at either end, or efax
// and the line's own far-end fax machine. The received images must equal the sent ones.
#include "efax_fixture.h"

using namespace std::chrono_literals;
using kv::test::kEfaxHeaderRows;
using kv::test::LineEfaxTest;
using kv::test::LineOptions;
using kv::test::Process;
using kv::test::SimulatedLine;

TEST_F(LineEfaxTest, EfaxToEfaxTwoPagesAt14400) {
  LineOptions o;
  o.calls = 1;
  SimulatedLine line(o);
  auto rx = receiver(line.portB());
  waitUntilListening(*rx);
  auto tx = sender(line.portA());
  ASSERT_TRUE(tx->wait(60s)) << tx->output();
  ASSERT_TRUE(rx->wait(30s)) << rx->output();
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
  EXPECT_EQ(rx->exitCode(), 0) << rx->output();
  EXPECT_NE(tx->output().find("session 196lpi 14.4kbps"), std::string::npos) << tx->output();
  EXPECT_EQ(line.finish(), 0) << line.log();
  for (int p = 0; p < 2; ++p) {
    auto got = kv::test::readTiffPages(work_.path() + "/fax.00" + std::to_string(p + 1));
    ASSERT_EQ(got.size(), 1u);
    expectSamePage(pages_[p], got[0], kEfaxHeaderRows);
  }
}

TEST_F(LineEfaxTest, EfaxToFarEndFaxMachine) {
  LineOptions o;
  o.speed = kv::test::kEfaxLineSpeed;
  o.calls = 1;
  o.farReceive = "far.tif";
  SimulatedLine line(o);
  auto tx = sender(line.portA());
  ASSERT_TRUE(tx->wait(60s)) << tx->output();
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
  EXPECT_EQ(line.finish(), 0) << line.log();
  EXPECT_NE(line.log().find("received 2 page(s) at 14400 bps, 0 bad rows: OK"), std::string::npos)
      << line.log();
  auto got = kv::test::readTiffPages(line.farReceived());
  ASSERT_EQ(got.size(), 2u);
  for (int p = 0; p < 2; ++p) expectSamePage(pages_[p], got[p], kEfaxHeaderRows);
}

TEST_F(LineEfaxTest, FarEndFaxMachineToEfax) {
  // One two-page TIFF for the fax machine to send.
  std::string both = work_.path() + "/both.tif";
  Process cp({"tiffcp", pages_[0], pages_[1], both}, work_.path() + "/tiffcp.log");
  ASSERT_TRUE(cp.wait(20s));
  ASSERT_EQ(cp.exitCode(), 0) << cp.output();

  LineOptions o;
  o.speed = kv::test::kEfaxLineSpeed;
  o.calls = 1;
  o.farSend = both;
  o.extra = {"--far-dial-idle", "2"};  // once efax waits for calls
  SimulatedLine line(o);
  auto rx = receiver(line.portA());
  ASSERT_TRUE(rx->wait(60s)) << rx->output();
  EXPECT_EQ(rx->exitCode(), 0) << rx->output() << line.log();
  EXPECT_NE(rx->output().find("session 196lpi 14.4kbps"), std::string::npos) << rx->output();
  EXPECT_EQ(line.finish(), 0) << line.log();
  EXPECT_NE(line.log().find("sent 2 page(s) at 14400 bps"), std::string::npos) << line.log();
  for (int p = 0; p < 2; ++p) {
    auto got = kv::test::readTiffPages(work_.path() + "/fax.00" + std::to_string(p + 1));
    ASSERT_EQ(got.size(), 1u);
    expectSamePage(pages_[p], got[0], 0);
  }
}

TEST_F(LineEfaxTest, FarEndCallsAgainUntilItsFaxGotThrough) {
  LineOptions o;
  o.calls = 2;
  o.farSend = pages_[0];
  o.extra = {"--far-dial-at", "1", "--far-redial", "20"};
  SimulatedLine line(o);
  // Nobody answers its first call; once it has given up, efax waits for the next one.
  for (int i = 0; i < 300 && line.log().find("far end: calls again in 20 s") == std::string::npos;
       ++i)
    std::this_thread::sleep_for(100ms);
  ASSERT_NE(line.log().find("far end: calls again in 20 s"), std::string::npos) << line.log();
  auto rx = receiver(line.portA());
  ASSERT_TRUE(rx->wait(60s)) << rx->output();
  EXPECT_EQ(rx->exitCode(), 0) << rx->output() << line.log();
  line.finish();
  EXPECT_NE(line.log().find("sent 1 page(s)"), std::string::npos) << line.log();
  auto got = kv::test::readTiffPages(work_.path() + "/fax.001");
  ASSERT_EQ(got.size(), 1u);
  expectSamePage(pages_[0], got[0], 0);
}

TEST_F(LineEfaxTest, LineDropInMidPageEndsBothSidesWithNoCarrier) {
  LineOptions o;
  o.calls = 1;
  o.verbosity = 2;
  // efax starts its page data about a second (real) after CONNECT, i.e. 4 s of line time at
  // 4x; 15 s of carrier is well inside the page's 21 s.
  o.extra = {"--drop-mid-page", "15", "--linger", "30"};
  SimulatedLine line(o);
  auto rx = receiver(line.portB());
  waitUntilListening(*rx);
  auto tx = sender(line.portA());
  ASSERT_TRUE(tx->wait(60s)) << tx->output();
  ASSERT_TRUE(rx->wait(60s)) << rx->output();
  EXPECT_NE(tx->exitCode(), 0) << tx->output();
  EXPECT_NE(rx->exitCode(), 0) << rx->output();
  EXPECT_EQ(line.finish(), 0) << line.log();
  std::string log = line.log();
  auto drop = log.find("drops in the middle of a page");
  ASSERT_NE(drop, std::string::npos) << log;
  EXPECT_NE(log.find("A: modem< NO CARRIER", drop), std::string::npos) << log.substr(drop);
  EXPECT_NE(log.find("B: modem< NO CARRIER", drop), std::string::npos) << log.substr(drop);
  EXPECT_NE(tx->output().find("response \"NO CARRIER\""), std::string::npos) << tx->output();
}

TEST_F(LineEfaxTest, NoisyLineMakesTrainingFailAndStepDown) {
  LineOptions o;
  o.speed = kv::test::kEfaxLineSpeed;
  o.calls = 1;
  o.farReceive = "far.tif";
  // Enough noise that 14,400 bit/s does not train, while 12,000 does (every carrier meets
  // the same noise, so this holds on every run).
  o.extra = {"--noise", "-47.25", "--loss", "12"};
  SimulatedLine line(o);
  auto tx = sender(line.portA());
  ASSERT_TRUE(tx->wait(90s)) << tx->output();
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
  EXPECT_EQ(line.finish(), 0) << line.log();
  std::string out = tx->output();
  auto ftt = out.find("received FTT");
  EXPECT_NE(ftt, std::string::npos) << out;
  EXPECT_LT(out.find("+FTM=145"), ftt) << out;  // the first training was at 14,400
  EXPECT_EQ(line.log().find("at 14400 bps"), std::string::npos) << line.log();
  EXPECT_NE(line.log().find("received 2 page(s)"), std::string::npos) << line.log();
  auto got = kv::test::readTiffPages(line.farReceived());
  ASSERT_EQ(got.size(), 2u);
  for (int p = 0; p < 2; ++p) expectSamePage(pages_[p], got[p], kEfaxHeaderRows);
}
