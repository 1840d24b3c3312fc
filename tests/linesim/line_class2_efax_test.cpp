// The emulated Class 2 and Class 2.0 modems proved by an independent host: efax drives the
// modem in each class, sending to and receiving from the line's far-end fax machine, and the
// pages must arrive equal. Then our own sessions can trust the emulator.
#include "efax_fixture.h"

using namespace std::chrono_literals;
using kv::test::kEfaxHeaderRows;
using kv::test::LineEfaxTest;
using kv::test::LineOptions;
using kv::test::Process;
using kv::test::SimulatedLine;

namespace {

struct Class2Case {
  const char *linesimClass;  // --class
  const char *efaxOption;    // -o
  const char *select;        // what efax must have selected
};

class LineClass2EfaxTest : public LineEfaxTest, public ::testing::WithParamInterface<Class2Case> {};

TEST_P(LineClass2EfaxTest, EfaxSendsThroughTheModemToTheFarEnd) {
  LineOptions o;
  o.calls = 1;
  o.farReceive = "far.tif";
  o.verbosity = 2;
  o.extra = {"--class", GetParam().linesimClass};
  SimulatedLine line(o);
  auto tx = sender(line.portA(), GetParam().efaxOption);
  ASSERT_TRUE(tx->wait(90s)) << tx->output();
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
  EXPECT_EQ(line.finish(), 0) << line.log();
  EXPECT_NE(line.log().find(GetParam().select), std::string::npos) << line.log();
  EXPECT_NE(line.log().find("received 2 page(s) at 14400 bps, 0 bad rows: OK"), std::string::npos)
      << line.log();
  auto got = kv::test::readTiffPages(line.farReceived());
  ASSERT_EQ(got.size(), 2u);
  for (int p = 0; p < 2; ++p) expectSamePage(pages_[p], got[p], kEfaxHeaderRows);
}

TEST_P(LineClass2EfaxTest, EfaxReceivesThroughTheModemFromTheFarEnd) {
  std::string both = work_.path() + "/both.tif";
  Process cp({"tiffcp", pages_[0], pages_[1], both}, work_.path() + "/tiffcp.log");
  ASSERT_TRUE(cp.wait(20s));
  ASSERT_EQ(cp.exitCode(), 0) << cp.output();

  LineOptions o;
  o.calls = 1;
  o.farSend = both;
  o.verbosity = 2;
  o.extra = {"--far-dial-idle", "2", "--class", GetParam().linesimClass};
  SimulatedLine line(o);
  auto rx = receiver(line.portA(), GetParam().efaxOption);
  ASSERT_TRUE(rx->wait(90s)) << rx->output();
  EXPECT_EQ(rx->exitCode(), 0) << rx->output() << line.log();
  EXPECT_NE(rx->output().find("session 196lpi 14.4kbps"), std::string::npos) << rx->output();
  EXPECT_EQ(line.finish(), 0) << line.log();
  EXPECT_NE(line.log().find("sent 2 page(s) at 14400 bps, 0 bad rows: OK"), std::string::npos)
      << line.log();
  for (int p = 0; p < 2; ++p) {
    auto got = kv::test::readTiffPages(work_.path() + "/fax.00" + std::to_string(p + 1));
    ASSERT_EQ(got.size(), 1u);
    expectSamePage(pages_[p], got[0], 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, LineClass2EfaxTest,
                         ::testing::Values(Class2Case{"A:2", "2", "DTE> AT+FCLASS=2\n"},
                                           Class2Case{"A:2.0", "0", "DTE> AT+FCLASS=2.0"}),
                         [](const auto &info) {
                           return std::string(info.param.efaxOption) == "2" ? "Class2" : "Class20";
                         });

}  // namespace
