// The simulated modem's account of high-speed data: how long its transmitter had nothing from
// the program. A program that stalls mid-page must show about its stall as empty time, one that
// writes promptly must show none, and a training check must not be counted as a page.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "e2e/port_client.h"
#include "e2e/simulated_line.h"

using namespace std::chrono_literals;
using kv::test::LineOptions;
using kv::test::PortClient;
using kv::test::SimulatedLine;

namespace {

struct DataRun {
  std::string kind;  // "page data" or "training data"
  double seconds = 0, empty = 0;
};

std::vector<DataRun> runsOf(const std::string &log, char side) {
  std::vector<DataRun> out;
  std::regex re(std::string(1, side) +
                R"(: (page data|training data) ([0-9.]+) s, modem buffer empty ([0-9.]+) s)");
  for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it)
    out.push_back({(*it)[1], std::stod((*it)[2]), std::stod((*it)[3])});
  return out;
}

void setUp(PortClient &p, const std::string &extra = "") {
  ASSERT_TRUE(p.selectClassOne(extra)) << p.received();
}

// Waits until the line has logged `count` data runs of side A.
std::vector<DataRun> awaitRuns(const SimulatedLine &line, std::size_t count) {
  for (int i = 0; i < 100; ++i) {
    auto runs = runsOf(line.log(), 'A');
    if (runs.size() >= count) return runs;
    std::this_thread::sleep_for(100ms);
  }
  return runsOf(line.log(), 'A');
}

constexpr double kSpeed = 2;
constexpr int kRate = 9600;

// Image-like bytes without DLE, so that what is written is what is sent.
std::string imageBytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = char(0x80 | (i * 7 % 0x7f));
  return s;
}

void startData(PortClient &a) {
  a.command("AT+FTM=96");
  ASSERT_TRUE(a.expect("CONNECT\r\n", 5s)) << a.received();
}

void endData(PortClient &a) {
  a.send("\x10\x03");
  // The modem answers OK once the buffered data has gone down the line.
  ASSERT_TRUE(a.expect("OK\r\n", 10s)) << a.received();
}

}  // namespace

TEST(LineMeterTest, EmptyTimeFollowsTheProgramsStall) {
  LineOptions o;
  o.speed = kSpeed;
  SimulatedLine line(o);
  PortClient a(line.portA()), b(line.portB());
  setUp(a);
  setUp(b, "S0=1");
  a.command("ATD1");
  ASSERT_TRUE(a.expect("CONNECT\r\n", 20s)) << a.received() << line.log();
  a.send("X");  // leave the +FRH=3 the caller's modem starts in
  ASSERT_TRUE(a.expect("OK\r\n", 3s)) << a.received();

  // A training check: zeros only, not a page.
  startData(a);
  a.send(std::string(kRate / 8, '\0'));
  endData(a);

  // Two seconds of data at once: the flow control holds the rest back, nothing runs dry.
  const std::size_t half = kRate / 8 * 2;
  startData(a);
  a.send(imageBytes(2 * half));
  endData(a);

  // One second's worth, then a stall of 4 s of line time, then the rest. The modem runs dry
  // after the first second (plus its training) and waits about 3 s.
  startData(a);
  a.send(imageBytes(half / 2));
  std::this_thread::sleep_for(std::chrono::duration<double>(4.0 / kSpeed));
  a.send(imageBytes(half));
  endData(a);

  auto runs = awaitRuns(line, 3);
  ASSERT_EQ(runs.size(), 3u) << line.log();
  EXPECT_EQ(runs[0].kind, "training data");
  EXPECT_NEAR(runs[0].seconds, 1.0, 0.3);

  EXPECT_EQ(runs[1].kind, "page data");
  EXPECT_NEAR(runs[1].seconds, 4.0, 0.3);
  EXPECT_LT(runs[1].empty, 0.1) << line.log();

  EXPECT_EQ(runs[2].kind, "page data");
  EXPECT_GT(runs[2].empty, 1.5) << line.log();
  EXPECT_LT(runs[2].empty, 4.5) << line.log();
  // The page lasts its data plus the time the modem waited.
  EXPECT_NEAR(runs[2].seconds, 3.0 + runs[2].empty, 0.3) << line.log();
}

TEST(LineMeterTest, ADroppedLineEndsTheCountCutShort) {
  LineOptions o;
  o.speed = kSpeed;
  SimulatedLine line(o);
  PortClient b(line.portB());
  setUp(b, "S0=1");
  {
    PortClient a(line.portA());
    setUp(a);
    a.command("ATD1");
    ASSERT_TRUE(a.expect("CONNECT\r\n", 20s)) << a.received() << line.log();
    a.send("X");
    ASSERT_TRUE(a.expect("OK\r\n", 3s)) << a.received();
    startData(a);
    a.send(imageBytes(kRate / 8));
    std::this_thread::sleep_for(std::chrono::duration<double>(2.0 / kSpeed));
  }  // the program goes away mid-page
  for (int i = 0; i < 50 && line.log().find("cut short") == std::string::npos; ++i)
    std::this_thread::sleep_for(100ms);
  auto runs = runsOf(line.log(), 'A');
  ASSERT_EQ(runs.size(), 1u) << line.log();
  EXPECT_EQ(runs[0].kind, "page data");
  EXPECT_NE(line.log().find("cut short"), std::string::npos) << line.log();
  EXPECT_GT(runs[0].empty, 0.5) << line.log();
}
