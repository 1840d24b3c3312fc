// korvane-fax over the simulated line: to and from the far-end fax machine, to itself, and to
// and from efax. Pages are compared row by row after decoding both sides.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "../linesim/fax_images.h"
#include "apf_pages.h"
#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "faximage/apf_file.h"
#include "support/fax_line.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::Bitmap;
using test::LineOptions;
using test::Process;
using test::SimulatedLine;
using test::TempDir;

const std::string &kTool = test::kFaxTool;
constexpr int kHeaderRows = 8 + 32;  // blank lines, then the header line in fine resolution

using test::apfPages;

// Rows of `got` from `offset` on that differ from all of `want`.
int differing(const Bitmap &want, const Bitmap &got, int offset) {
  int bad = std::abs(got.height - offset - want.height);
  for (int y = 0; y < want.height && y + offset < got.height; ++y)
    if (got.rows[std::size_t(y + offset)] != want.rows[std::size_t(y)]) ++bad;
  return bad;
}

class FaxLine : public test::FaxLineFixture {
 protected:
  // A two-page APF made from text by the converter.
  std::string makeApf() {
    std::string txt = work.path() + "/doc.txt";
    std::ofstream(txt) << "Page one of the test fax\nThe quick brown fox 0123456789\n"
                       << "\fPage two\nJumps over the lazy dog\n";
    std::string apf = work.path() + "/doc.apf";
    Process conv({kTool, "convert", txt, "-o", apf}, work.path() + "/convert.log");
    EXPECT_TRUE(conv.wait(20s));
    EXPECT_EQ(conv.exitCode(), 0) << conv.output();
    return apf;
  }
  std::vector<std::string> efixPages() {
    auto pages = test::makeFaxPages(
        work.path(), {"First page from efix\nline two\n", "Second page from efix\n"});
    EXPECT_EQ(pages.size(), 2u);
    return pages;
  }
  // Our sender sends two pages at 14400 to the far-end machine, which must store them equal to
  // ours below the header. Returns what the sender printed and the line's log.
  struct Delivery {
    std::string output, log;
  };
  Delivery sendTwoPagesToFarEnd(std::vector<std::string> lineExtra) {
    std::string apf = makeApf();
    auto sent = apfPages(apf);
    EXPECT_EQ(sent.size(), 2u);
    LineOptions o;
    o.calls = 1;
    o.farReceive = "far.tif";
    o.extra = std::move(lineExtra);
    SimulatedLine line(o);
    auto tx = send(line.portA(), apf, {"--rate", "14400"});
    EXPECT_TRUE(tx->wait(120s));
    EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
    EXPECT_EQ(line.finish(), 0) << line.log();
    auto got = test::readTiffPages(line.farReceived());
    EXPECT_EQ(got.size(), 2u);
    for (std::size_t p = 0; p < got.size() && p < sent.size(); ++p) {
      EXPECT_EQ(differing(sent[p], got[p], kHeaderRows), 0) << p;
      EXPECT_EQ(got[p].rows[0], std::string(216, '\0')) << p;  // the blank lines above the header
    }
    return {tx->output(), line.log()};
  }
  // The far-end machine sends two pages to our receiver; each stored page may differ from the
  // sent one in at most `badRowsPercent` percent of its rows. Returns the line's log.
  std::string farEndSendsToReceive(std::vector<std::string> lineExtra, int badRowsPercent) {
    auto pages = efixPages();
    std::string both = work.path() + "/both.tif";
    Process cp({"tiffcp", pages.at(0), pages.at(1), both}, work.path() + "/tiffcp.log");
    EXPECT_TRUE(cp.wait(20s));
    LineOptions o;
    o.calls = 1;
    o.farSend = both;
    o.extra = {"--far-dial-idle", "2"};  // once the receiver waits for calls
    o.extra.insert(o.extra.end(), lineExtra.begin(), lineExtra.end());
    SimulatedLine line(o);
    std::string dir = work.path() + "/in";
    auto rx = receive(line.portA(), dir, {"--once"});
    EXPECT_TRUE(rx->wait(120s));
    EXPECT_EQ(rx->exitCode(), 0) << rx->output() << line.log();
    EXPECT_NE(rx->output().find(dir + "/FAX0001.APF"), std::string::npos) << rx->output();
    EXPECT_EQ(line.finish(), 0) << line.log();
    auto got = apfPages(dir + "/FAX0001.APF");
    EXPECT_EQ(got.size(), 2u);
    for (std::size_t p = 0; p < got.size() && p < 2; ++p) {
      auto want = test::readTiffPages(pages[p]);
      EXPECT_EQ(want.size(), 1u);
      if (want.size() == 1) {
        EXPECT_LE(differing(want[0], got[p], 0), want[0].height * badRowsPercent / 100) << p;
      }
    }
    return line.log();
  }
};

// The far end offers two-dimensional coding, so the pages go in MR.
TEST_F(FaxLine, SendToFarEndFaxMachineAt14400) {
  auto d = sendTwoPagesToFarEnd({});
  EXPECT_NE(d.output.find("Sent"), std::string::npos);
  EXPECT_NE(d.log.find("received 2 page(s) at 14400 bps, 0 bad rows: OK"), std::string::npos)
      << d.log;
  EXPECT_NE(d.log.find("received 2, 14400 bps, 0 bad rows, MR)"), std::string::npos) << d.log;
}

TEST_F(FaxLine, NoisyLineTrainsLowerAndStillDelivers) {
  // Two pages: the second page's carrier must be heard after the post-page exchange too.
  // Every carrier meets the same noise, so the outcome is fixed: 14400 does not train through
  // this line (at -48 it does), 12000 does and carries both pages without a bad row (from
  // -46.5 on nothing trains).
  auto d = sendTwoPagesToFarEnd({"--noise", "-47.25", "--loss", "12"});
  EXPECT_NE(d.log.find("received 2 page(s)"), std::string::npos) << d.log;
  EXPECT_EQ(d.log.find("at 14400 bps"), std::string::npos) << d.log;
}

// We offer MR, so the far end sends MR; the stored pages are one-dimensional line records
// that libtiff's fax2tiff reads as the very pages that were sent.
TEST_F(FaxLine, FarEndFaxMachineToReceive) {
  const std::string log = farEndSendsToReceive({}, 0);
  EXPECT_NE(log.find("sent 2, received 0, 9600 bps, 0 bad rows, MR)"), std::string::npos) << log;
  for (int p = 1; p <= 2; ++p) {
    const std::string g3 = work.path() + "/page.g3", tif = work.path() + "/page.tif";
    const auto stream = test::apfPageStream(work.path() + "/in/FAX0001.APF", p);
    std::ofstream(g3, std::ios::binary)
        .write(reinterpret_cast<const char *>(stream.data()), std::streamsize(stream.size()));
    Process conv({"fax2tiff", "-1", "-L", "-R", "196", "-X", "1728", "-o", tif, g3},
                 work.path() + "/fax2tiff.log");
    ASSERT_TRUE(conv.wait(20s));
    ASSERT_EQ(conv.exitCode(), 0) << conv.output();
    const auto got = test::readTiffPages(tif);
    const auto want = test::readTiffPages(work.path() + "/page.00" + std::to_string(p));
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(want.size(), 1u);
    // fax2tiff reads the EOLs of the page end as white rows of their own; only those follow.
    EXPECT_EQ(test::differingRows(want[0], got[0], 0), 0) << p;
    for (int y = want[0].height; y < got[0].height; ++y)
      EXPECT_EQ(got[0].rows[std::size_t(y)], std::string(216, '\0')) << p << " row " << y;
  }
}

// The far end's training at 9600 does not survive the weak, noisy line (it passes a plain
// count of spoilt bytes, but its errors are spread out): the receiver answers failure-to-train,
// the far end steps down and the pages arrive. Without error correction a few rows may still be
// hit at the lower rate; at 9600 about a third of them were.
TEST_F(FaxLine, NoisyLineReceiverAsksForSlowerTraining) {
  std::string log = farEndSendsToReceive({"--noise", "-47", "--loss", "17"}, 1);
  EXPECT_NE(log.find("sent 2 page(s) at 7200 bps"), std::string::npos) << log;
}

TEST_F(FaxLine, SendToItself) {
  std::string apf = makeApf();
  auto sent = apfPages(apf);
  LineOptions o;
  o.calls = 1;
  SimulatedLine line(o);
  std::string dir = work.path() + "/in";
  auto rx = receive(line.portB(), dir, {"--once"});
  waitUntilListening(*rx);
  auto tx = send(line.portA(), apf);
  ASSERT_TRUE(tx->wait(90s));
  ASSERT_TRUE(rx->wait(30s));
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
  EXPECT_EQ(rx->exitCode(), 0) << rx->output() << line.log();
  auto got = apfPages(dir + "/FAX0001.APF");
  ASSERT_EQ(got.size(), 2u);
  for (int p = 0; p < 2; ++p)
    EXPECT_EQ(differing(sent[std::size_t(p)], got[std::size_t(p)], kHeaderRows), 0) << p;
  EXPECT_EQ(line.finish(), 0) << line.log();
}

TEST_F(FaxLine, SendToEfax) {
  std::string apf = makeApf();
  auto sent = apfPages(apf);
  LineOptions o;
  o.calls = 1;
  SimulatedLine line(o);
  Process rx({"efax", "-v", "ewinc", "-d", line.portB(), "-o1", "-w", "-iS0=1", "-r",
              work.path() + "/fax"},
             work.path() + "/efax-rx.log");
  ASSERT_TRUE(rx.waitForOutput(Process::kEfaxListening, 30s)) << rx.output();
  auto tx = send(line.portA(), apf);
  ASSERT_TRUE(tx->wait(90s));
  ASSERT_TRUE(rx.wait(30s));
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
  EXPECT_EQ(rx.exitCode(), 0) << rx.output();
  for (int p = 0; p < 2; ++p) {
    auto got = test::readTiffPages(work.path() + "/fax.00" + std::to_string(p + 1));
    ASSERT_EQ(got.size(), 1u) << p;
    EXPECT_EQ(differing(sent[std::size_t(p)], got[0], kHeaderRows), 0) << p;
  }
  EXPECT_EQ(line.finish(), 0) << line.log();
}

TEST_F(FaxLine, EfaxToReceive) {
  auto pages = efixPages();
  ASSERT_EQ(pages.size(), 2u);
  // efax divides by a page's whole seconds when it logs the rate: at 8x a page can take less
  // than one and efax dies of SIGFPE, so this line runs at 4x.
  LineOptions o;
  o.calls = 1;
  o.speed = 4;
  SimulatedLine line(o);
  std::string dir = work.path() + "/in";
  auto rx = receive(line.portB(), dir, {"--once"}, 4);
  waitUntilListening(*rx);
  std::vector<std::string> a{"efax", "-v", "ewinc", "-d", line.portA(),
                             "-o1",  "-h", " ",     "-t", "555"};
  a.insert(a.end(), pages.begin(), pages.end());
  Process tx(a, work.path() + "/efax-tx.log");
  ASSERT_TRUE(tx.wait(90s));
  ASSERT_TRUE(rx->wait(30s));
  EXPECT_EQ(tx.exitCode(), 0) << tx.output();
  EXPECT_EQ(rx->exitCode(), 0) << rx->output() << line.log();
  auto got = apfPages(dir + "/FAX0001.APF");
  ASSERT_EQ(got.size(), 2u);
  // efax puts its (blank) header line on top of each page, over the page's first rows.
  for (int p = 0; p < 2; ++p) {
    auto want = test::readTiffPages(pages[std::size_t(p)]);
    ASSERT_EQ(want.size(), 1u);
    EXPECT_EQ(got[std::size_t(p)].height, want[0].height + 20) << p;
    EXPECT_EQ(test::differingRows(want[0], got[std::size_t(p)], 20, 16), 0) << p;
  }
  EXPECT_EQ(line.finish(), 0) << line.log();
}

TEST_F(FaxLine, DetectAndResetTheLineModem) {
  SimulatedLine line;
  Process detect({kTool, "detect", "--device", line.portA()}, work.path() + "/detect.log");
  ASSERT_TRUE(detect.wait(30s));
  EXPECT_EQ(detect.exitCode(), 0) << detect.output();
  EXPECT_NE(detect.output().find("Class 1   : Supported (recommended)"), std::string::npos)
      << detect.output();
  EXPECT_NE(detect.output().find("Class 2   : Not Supported"), std::string::npos);
  Process reset({kTool, "reset", "--device", line.portA(), "z"}, work.path() + "/reset.log");
  ASSERT_TRUE(reset.wait(30s));
  EXPECT_EQ(reset.exitCode(), 0) << reset.output();
  EXPECT_NE(reset.output().find("ATz\nModem reset"), std::string::npos) << reset.output();
  Process none({kTool, "reset", "--device", work.path() + "/nothing"}, work.path() + "/none.log");
  ASSERT_TRUE(none.wait(30s));
  EXPECT_EQ(none.exitCode(), 1);
  EXPECT_NE(none.output().find("Unable to open the specified communications port"),
            std::string::npos)
      << none.output();
}

TEST_F(FaxLine, BusyNumberGivesUpAfterTheAttempts) {
  std::string apf = makeApf();
  LineOptions o;
  o.calls = 2;
  o.extra = {"--busy", "5551234"};
  SimulatedLine line(o);
  auto tx = send(line.portA(), apf, {"--attempts", "2", "--retry-wait", "1"});
  ASSERT_TRUE(tx->wait(60s));
  EXPECT_EQ(tx->exitCode(), 1) << tx->output();
  EXPECT_NE(tx->output().find("Called fax number was busy"), std::string::npos) << tx->output();
  // Nobody cancelled, so the session's closing abort progress is not shown.
  EXPECT_EQ(tx->output().find("User abort"), std::string::npos) << tx->output();
}

}  // namespace
}  // namespace kv
