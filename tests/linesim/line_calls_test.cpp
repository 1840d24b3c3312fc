// Call handling of the simulated line, driven by hand over the two ports: ringing and
// auto-answer, busy, no answer, hang-ups in their several forms, and the injected faults.
#include <termios.h>

#include <gtest/gtest.h>

#include "e2e/port_client.h"
#include "e2e/simulated_line.h"
#include "scriptmodem/modem_script.h"

using namespace std::chrono_literals;
using kv::test::LineOptions;
using kv::test::PortClient;
using kv::test::SimulatedLine;

namespace {

LineOptions withArgs(std::vector<std::string> extra, int calls = 0) {
  LineOptions o;
  o.calls = calls;
  o.extra = std::move(extra);
  return o;
}

// A port in Class 1 with the given extra set-up; fails the test when the modem does not agree.
void setUp(PortClient &p, const std::string &extra = "") {
  ASSERT_TRUE(p.selectClassOne(extra)) << p.received();
}

// Both ends off line again after a connected call. The answerer's modem goes on hook by
// itself when the far end leaves; answererToo also sends it ATH (which resets its ring count).
void hangUpBoth(PortClient &a, PortClient &b, bool answererToo = true) {
  // A caller in +FRH=3 stops receiving at any byte, then takes ATH.
  a.send("X");
  a.waitFor("OK", 1s);
  a.command("ATH");
  EXPECT_TRUE(a.expect("OK\r\n", 3s)) << a.received();
  // The answerer learns of it from the line.
  EXPECT_TRUE(b.expect("NO CARRIER", 5s)) << b.received();
  if (!answererToo) return;
  b.command("ATH");
  EXPECT_TRUE(b.expect("OK\r\n", 3s)) << b.received();
}

}  // namespace

TEST(LineCallsTest, AutoAnswerCountsRingsAfreshOnEachCall) {
  SimulatedLine line(withArgs({}));
  PortClient a(line.portA()), b(line.portB());
  setUp(a);
  setUp(b, "S0=2");
  for (int call = 1; call <= 2; ++call) {
    SCOPED_TRACE("call " + std::to_string(call));
    std::size_t from = b.mark();
    a.command("ATD5551234");
    ASSERT_TRUE(b.expect("CONNECT\r\n", 20s)) << b.received() << line.log();
    EXPECT_EQ(b.count("RING", from), 2) << b.received().substr(from);
    EXPECT_TRUE(a.expect("CONNECT\r\n", 10s)) << a.received() << line.log();
    hangUpBoth(a, b, false);
  }
}

TEST(LineCallsTest, AnswerByHandWhileRinging) {
  SimulatedLine line(withArgs({}));
  PortClient a(line.portA()), b(line.portB());
  setUp(a);
  setUp(b);
  b.command("ATA");  // nothing rings yet
  EXPECT_TRUE(b.expect("ERROR", 3s)) << b.received();
  a.command("ATD1");
  ASSERT_TRUE(b.expect("RING", 5s));
  b.command("ATA");
  EXPECT_TRUE(b.expect("CONNECT\r\n", 10s)) << b.received();
  EXPECT_TRUE(a.expect("CONNECT\r\n", 10s)) << a.received();
  hangUpBoth(a, b);
}

TEST(LineCallsTest, BusyAndNoAnswer) {
  SimulatedLine line(withArgs({"--busy", "666", "--no-answer", "777"}));
  PortClient a(line.portA()), b(line.portB());
  setUp(a, "S7=5");
  setUp(b);

  a.command("ATD666");  // a number that is always busy
  EXPECT_TRUE(a.expect("BUSY", 5s)) << a.received();

  b.command("ATH1");  // the called modem is off hook
  ASSERT_TRUE(b.expect("OK", 3s));
  a.command("ATD2");
  EXPECT_TRUE(a.expect("BUSY", 5s)) << a.received();
  b.command("ATH0");
  ASSERT_TRUE(b.expect("OK", 3s));

  // Nobody answers: the caller gives up after its S7 seconds, while the other end rang.
  std::size_t from = b.mark();
  auto start = std::chrono::steady_clock::now();
  a.command("ATD3");
  EXPECT_TRUE(a.expect("NO ANSWER", 10s)) << a.received();
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(took, 500ms);  // 5 s of line time, not at once
  b.readSome(100);
  EXPECT_EQ(b.count("RING", from), 1) << b.received().substr(from);

  // A number that never answers does not ring B at all.
  from = b.mark();
  a.command("ATD777");
  EXPECT_TRUE(a.expect("NO ANSWER", 10s)) << a.received();
  EXPECT_EQ(b.count("RING", from), 0);
}

TEST(LineCallsTest, ClosingThePortOrDroppingDtrHangsUp) {
  SimulatedLine line(withArgs({}));
  PortClient b(line.portB());
  setUp(b, "S0=1");
  {
    auto a = std::make_unique<PortClient>(line.portA());
    setUp(*a);
    a->command("ATD1");
    ASSERT_TRUE(b.expect("CONNECT\r\n", 10s)) << b.received();
    ASSERT_TRUE(a->expect("CONNECT\r\n", 10s));
    a.reset();  // the caller's program ends without a word
  }
  EXPECT_TRUE(b.expect("NO CARRIER", 5s)) << b.received() << line.log();
  b.command("ATH");
  ASSERT_TRUE(b.expect("OK", 3s));

  // A fresh modem for the next program, and nothing stale waiting for it.
  PortClient a(line.portA());
  a.readSome(200);
  EXPECT_EQ(a.received(), "");
  setUp(a);
  a.command("ATD1");
  ASSERT_TRUE(b.expect("CONNECT\r\n", 10s)) << b.received();
  ASSERT_TRUE(a.expect("CONNECT\r\n", 10s));
  // Dropping DTR (speed B0) is a hang-up too.
  termios t{};
  ASSERT_EQ(tcgetattr(a.fd(), &t), 0);
  cfsetospeed(&t, B0);
  ASSERT_EQ(tcsetattr(a.fd(), TCSANOW, &t), 0);
  EXPECT_TRUE(b.expect("NO CARRIER", 5s)) << b.received() << line.log();
}

TEST(LineCallsTest, VoiceAnswerNeverConnectsAndHangsUp) {
  SimulatedLine line(withArgs({"--voice", "888", "--voice-secs", "6"}));
  PortClient a(line.portA());
  setUp(a);
  a.command("ATD888");
  // The modem hears speech, not a fax answer tone: no CONNECT, then the person hangs up.
  EXPECT_TRUE(a.expect("NO CARRIER", 10s)) << a.received() << line.log();
  EXPECT_EQ(a.received().find("CONNECT"), std::string::npos) << a.received();
  EXPECT_NE(line.log().find("voice: answers"), std::string::npos) << line.log();
}

TEST(LineCallsTest, ModemThatStopsAnsweringAndLineThatDrops) {
  {
    SimulatedLine line(withArgs({"--mute", "A:3"}));
    PortClient a(line.portA());
    setUp(a);  // two commands
    a.command("AT");
    EXPECT_TRUE(a.expect("OK", 3s));
    a.command("AT");
    EXPECT_FALSE(a.waitFor("OK", 500ms)) << a.unread();
  }
  {
    SimulatedLine line(withArgs({"--drop-after", "10"}));
    PortClient a(line.portA()), b(line.portB());
    setUp(a);
    setUp(b, "S0=1");
    a.command("ATD1");
    ASSERT_TRUE(a.expect("CONNECT\r\n", 10s));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(a.expect("NO CARRIER", 10s)) << a.received() << line.log();
    EXPECT_TRUE(b.expect("NO CARRIER", 10s)) << b.received();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  }
}

TEST(LineCallsTest, LineDropEndsReceivedDataWithDleEtxThenNoCarrier) {
  SimulatedLine line(withArgs({"--drop-after", "16"}));
  PortClient a(line.portA()), b(line.portB());
  setUp(a);
  setUp(b, "S0=1");
  a.command("ATD1");
  ASSERT_TRUE(b.expect("CONNECT\r\n", 10s)) << b.received();
  ASSERT_TRUE(a.expect("CONNECT\r\n", 10s)) << a.received();
  // B sends one final frame (address, control 0x13 "final", a byte) and then listens for
  // page data; A stops listening and sends page data at 9600 bit/s.
  b.send(std::string("\xFF\x13\x80\x10\x03", 5));
  ASSERT_TRUE(b.expect("OK\r\n", 10s)) << b.received();
  ASSERT_TRUE(a.waitFor("OK\r\n", 10s)) << a.received();
  b.command("AT+FRM=96");
  a.command("AT+FTM=96");
  ASSERT_TRUE(a.expect("CONNECT\r\n", 10s)) << a.received();
  ASSERT_TRUE(b.expect("CONNECT\r\n", 10s)) << b.received();
  a.send(std::string(3000, '\x01'));
  // The drop ends B's data stream properly before the result: DLE ETX, then NO CARRIER (the
  // whole result line: its end may come in a later read).
  ASSERT_TRUE(b.waitFor("NO CARRIER\r\n", 10s)) << line.log();
  EXPECT_NE(b.unread().find("\x10\x03\r\nNO CARRIER\r\n"), std::string::npos)
      << kv::ModemScript::printable(b.unread().substr(b.unread().size() - 40));
  EXPECT_NE(b.unread().find(std::string(8, '\x01')), std::string::npos);  // A's data came
  EXPECT_TRUE(a.expect("NO CARRIER", 10s)) << a.received();
}
