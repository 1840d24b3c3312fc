// Faxes over the simulated line between independent programs: efax at either end, or efax
// and the line's own far-end fax machine. The received images must equal the sent ones.
#include <gtest/gtest.h>

#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "fax_images.h"

using namespace std::chrono_literals;
using kv::test::Bitmap;
using kv::test::LineOptions;
using kv::test::Process;
using kv::test::SimulatedLine;
using kv::test::TempDir;

namespace {

std::string lines(const char *word, int n) {
  std::string t;
  for (int i = 1; i <= n; ++i)
    t += std::string(word) + " " + std::to_string(i) +
         ": The quick brown fox jumps over the lazy dog 0123456789\n";
  return t;
}

class LineEfaxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pagesDir_ = new TempDir;
    pages_ = kv::test::makeFaxPages(pagesDir_->path(), {lines("Line", 20), lines("Zeile", 25)});
  }
  static void TearDownTestSuite() {
    delete pagesDir_;
    pagesDir_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(pages_.size(), 2u) << "efix could not make the pages"; }

  // efax waiting for a call on `port`, answering on the first ring.
  std::unique_ptr<Process> receiver(const std::string &port) {
    return std::make_unique<Process>(
        std::vector<std::string>{"efax", "-v", "ewinc", "-d", port, "-o1", "-w", "-iS0=1", "-r",
                                 work_.path() + "/fax"},
        work_.path() + "/efax-rx.log");
  }
  // efax sending both pages (with a blank page header, which efax always adds).
  std::unique_ptr<Process> sender(const std::string &port) {
    std::vector<std::string> args{"efax", "-v", "ewinc", "-d", port, "-o1", "-h", " ", "-t", "555"};
    args.insert(args.end(), pages_.begin(), pages_.end());
    return std::make_unique<Process>(args, work_.path() + "/efax-tx.log");
  }
  // The received page equals the sent one; efax as sender adds `header` rows on top where it
  // draws its header line, so the first rows of the page itself are skipped there.
  void expectSamePage(const std::string &sentFile, const Bitmap &got, int header) {
    auto sent = kv::test::readTiffPages(sentFile);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(got.width, 1728);
    EXPECT_EQ(got.height, sent[0].height + header);
    EXPECT_EQ(kv::test::differingRows(sent[0], got, header, header ? 16 : 0), 0);
  }

  static TempDir *pagesDir_;
  static std::vector<std::string> pages_;
  TempDir work_;
};

TempDir *LineEfaxTest::pagesDir_ = nullptr;
std::vector<std::string> LineEfaxTest::pages_;

constexpr int kEfaxHeaderRows = 20;

}  // namespace

TEST_F(LineEfaxTest, EfaxToEfaxTwoPagesAt14400) {
  LineOptions o;
  o.calls = 1;
  SimulatedLine line(o);
  auto rx = receiver(line.portB());
  std::this_thread::sleep_for(300ms);  // let it get ready for the call
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
  o.calls = 1;
  o.farSend = both;
  o.extra = {"--far-dial-at", "20"};  // once efax waits for calls
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

TEST_F(LineEfaxTest, LineDropInMidPageEndsBothSidesWithNoCarrier) {
  LineOptions o;
  o.calls = 1;
  o.verbosity = 2;
  // efax starts its page data about a second (real) after CONNECT, i.e. 8 s of line time at
  // 8x; 15 s of carrier is well inside the page's 21 s.
  o.extra = {"--drop-mid-page", "15", "--linger", "30"};
  SimulatedLine line(o);
  auto rx = receiver(line.portB());
  std::this_thread::sleep_for(300ms);
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
