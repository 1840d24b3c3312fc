// Every fax class against every other over the simulated line: our sender in Class 1, 2 and
// 2.0 against our receiver in each class, the far-end fax machine and efax in each class it
// drives, and those senders against our receiver; at 9600 and 14400, normal and fine, two
// pages each. The pages must arrive equal pixel for pixel below the sender's header. A slice
// runs by default; the whole matrix carries the soak label. Each case prints one MATRIX line
// (sender, receiver, rate, resolution, seconds) for the report.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../linesim/fax_images.h"
#include "apf_pages.h"
#include "e2e/process.h"
#include "e2e/simulated_line.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::Bitmap;
using test::LineOptions;
using test::Process;
using test::SimulatedLine;
using test::TempDir;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";

enum class Who { Ours, Efax, Far };
struct Party {
  Who who;
  const char *cls;  // "1", "2", "2.0"; unused for the far end
};
struct MatrixCase {
  Party tx, rx;
  int bps;
  bool fine;
};

std::string partyName(const Party &p) {
  if (p.who == Who::Far) return "FarEnd";
  std::string c = p.cls;
  if (c == "2.0") c = "20";
  return (p.who == Who::Ours ? "Ours" : "Efax") + c;
}

std::string caseName(const MatrixCase &c) {
  return partyName(c.tx) + "To" + partyName(c.rx) + "At" + std::to_string(c.bps) +
         (c.fine ? "Fine" : "Normal");
}

// efax's class option for a class.
std::string efaxClass(const char *cls) {
  std::string c = cls;
  return c == "2.0" ? "-o0" : "-o" + c;
}

class ClassMatrix : public ::testing::TestWithParam<MatrixCase> {
 protected:
  void run() {
    const MatrixCase &c = GetParam();
    // Pages long enough that no program sees its page go out in no time at all (efax divides
    // by the seconds a page took).
    std::vector<std::string> texts(2);
    for (int l = 0; l < 30; ++l) {
      texts[0] += "Class matrix page one, line " + std::to_string(l) +
                  ": The quick brown fox jumps over the lazy dog 0123456789\n";
      texts[1] += "Class matrix page two, line " + std::to_string(l) +
                  ": PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS\n";
    }

    // What is sent, as bitmaps to compare with.
    std::vector<Bitmap> want;
    std::string apf, both;
    std::vector<std::string> efixPages;
    if (c.tx.who == Who::Ours) {
      std::string txt = work.file("doc.txt");
      std::ofstream(txt) << texts[0] << "\f" << texts[1];
      apf = work.file("doc.apf");
      Process conv({kTool, "convert", txt, "-o", apf, c.fine ? "--fine" : "--normal"},
                   work.file("convert.log"));
      ASSERT_TRUE(conv.wait(30s));
      ASSERT_EQ(conv.exitCode(), 0) << conv.output();
      want = test::apfPages(apf);
    } else {
      efixPages = test::makeFaxPages(work.path(), texts, c.fine);
      ASSERT_EQ(efixPages.size(), 2u);
      for (const auto &f : efixPages) {
        auto b = test::readTiffPages(f);
        ASSERT_EQ(b.size(), 1u);
        want.push_back(b[0]);
      }
      if (c.tx.who == Who::Far) {
        both = work.file("both.tif");
        Process cp({"tiffcp", efixPages[0], efixPages[1], both}, work.file("tiffcp.log"));
        ASSERT_TRUE(cp.wait(20s));
        ASSERT_EQ(cp.exitCode(), 0) << cp.output();
      }
    }
    ASSERT_EQ(want.size(), 2u);

    LineOptions o;
    o.calls = 1;
    o.verbosity = 2;
    // Both modems offer Class 1, 2 and 2.0; each program picks its class.
    o.extra = {"--class", "2.0"};
    if (c.rx.who == Who::Far) o.farReceive = "far.tif";
    if (c.tx.who == Who::Far) {
      o.farSend = both;
      o.extra.insert(o.extra.end(), {"--far-dial-idle", "2"});
      if (c.bps == 9600) o.extra.insert(o.extra.end(), {"--far-modems", "v27,v29"});
    }
    SimulatedLine line(o);
    // The far end is side B; with it only port A exists.
    const std::string txPort = line.portA();
    const std::string rxPort = c.rx.who == Who::Far   ? ""
                               : c.tx.who == Who::Far ? line.portA()
                                                      : line.portB();
    const std::string inDir = work.file("in");
    std::filesystem::create_directories(inDir);

    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Process> rx, tx;
    if (c.rx.who == Who::Ours) {
      rx = std::make_unique<Process>(
          std::vector<std::string>{kTool, "receive", "--speed", test::speedArg(), "--device",
                                   rxPort, "--dir", inDir, "--once", "--class", c.rx.cls, "--rate",
                                   std::to_string(c.bps), "--station", "777"},
          work.file("receive.log"));
    } else if (c.rx.who == Who::Efax) {
      rx = std::make_unique<Process>(
          std::vector<std::string>{"efax", "-v", "ewinc", "-d", rxPort, efaxClass(c.rx.cls), "-w",
                                   "-iS0=1", "-r", inDir + "/fax"},
          work.file("efax-rx.log"));
    }
    if (rx && c.tx.who != Who::Far) {  // waiting for the call
      const char *ready =
          c.rx.who == Who::Efax ? test::Process::kEfaxListening : test::Process::kOursListening;
      ASSERT_TRUE(rx->waitForOutput(ready, 30s)) << rx->output();
    }
    if (c.tx.who == Who::Ours) {
      tx = std::make_unique<Process>(
          std::vector<std::string>{kTool, "send", "--speed", test::speedArg(), "--device", txPort,
                                   "--class", c.tx.cls, "--rate", std::to_string(c.bps),
                                   "--station", "555 0100", "--name", "Matrix", "5551234", apf},
          work.file("send.log"));
    } else if (c.tx.who == Who::Efax) {
      std::vector<std::string> a{"efax", "-v", "ewinc", "-d", txPort, efaxClass(c.tx.cls)};
      if (c.bps == 9600) a.insert(a.end(), {"-c", "1,3,0,2,0,0,0,0"});
      a.insert(a.end(), {"-h", " ", "-t", "555"});
      a.insert(a.end(), efixPages.begin(), efixPages.end());
      tx = std::make_unique<Process>(a, work.file("efax-tx.log"));
    }
    if (tx) {
      ASSERT_TRUE(tx->wait(150s)) << line.log();
      EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
    }
    if (rx) {
      ASSERT_TRUE(rx->wait(tx ? 60s : 150s)) << line.log();
      EXPECT_EQ(rx->exitCode(), 0) << rx->output() << line.log();
    }
    EXPECT_EQ(line.finish(), 0) << line.log();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // What arrived.
    std::vector<Bitmap> got;
    if (c.rx.who == Who::Ours) {
      got = test::apfPages(inDir + "/FAX0001.APF");
    } else if (c.rx.who == Who::Efax) {
      for (int p = 1; p <= 2; ++p) {
        auto b = test::readTiffPages(inDir + "/fax.00" + std::to_string(p));
        if (b.size() == 1) got.push_back(b[0]);
      }
    } else {
      got = test::readTiffPages(line.farReceived());
    }
    ASSERT_EQ(got.size(), 2u) << line.log();
    bool equal = true;
    for (std::size_t p = 0; p < 2; ++p) {
      // The sender's header (ours or efax's) sits above the page; the rest must be equal.
      const int offset = got[p].height - want[p].height;
      EXPECT_GE(offset, 0) << p;
      EXPECT_LE(offset, 48) << p;
      EXPECT_EQ(got[p].width, 1728) << p;
      // efax draws its header over the top rows of the page as well.
      int bad = test::differingRows(want[p], got[p], offset, c.tx.who == Who::Efax ? 16 : 0);
      EXPECT_EQ(bad, 0) << p;
      equal = equal && bad == 0 && offset >= 0;
    }
    if (c.tx.who == Who::Far || c.rx.who == Who::Far) {
      EXPECT_NE(line.log().find("at " + std::to_string(c.bps) + " bps"), std::string::npos)
          << line.log();
    }
    std::printf("MATRIX|%s|%s|%d|%s|%.1f|%s\n", partyName(c.tx).c_str(), partyName(c.rx).c_str(),
                c.bps, c.fine ? "fine" : "normal", seconds,
                equal && !HasFailure() ? "equal" : "FAILED");
  }
  TempDir work;
};

TEST_P(ClassMatrix, TwoPagesArriveEqual) {
  run();
}

[[maybe_unused]] std::vector<MatrixCase> wholeMatrix() {
  const Party ours[] = {{Who::Ours, "1"}, {Who::Ours, "2"}, {Who::Ours, "2.0"}};
  const Party others[] = {{Who::Efax, "1"}, {Who::Efax, "2"}, {Who::Efax, "2.0"}, {Who::Far, ""}};
  std::vector<MatrixCase> all;
  for (int bps : {9600, 14400})
    for (bool fine : {false, true}) {
      for (const Party &t : ours) {
        for (const Party &r : ours) all.push_back({t, r, bps, fine});
        for (const Party &r : others) all.push_back({t, r, bps, fine});
      }
      for (const Party &t : others)
        for (const Party &r : ours) all.push_back({t, r, bps, fine});
    }
  return all;
}

// The default run: each of our classes sending and receiving once, against ourselves, the far
// end and efax.
[[maybe_unused]] std::vector<MatrixCase> slice() {
  return {
      {{Who::Ours, "2"}, {Who::Ours, "2.0"}, 14400, true},
      {{Who::Ours, "2.0"}, {Who::Far, ""}, 9600, false},
      {{Who::Far, ""}, {Who::Ours, "2"}, 14400, true},
      {{Who::Efax, "2.0"}, {Who::Ours, "1"}, 14400, false},
  };
}

// One source, two programs: the slice in the default run, the whole matrix under soak.
#ifdef KORVANE_CLASS_MATRIX_WHOLE
INSTANTIATE_TEST_SUITE_P(Whole, ClassMatrix, ::testing::ValuesIn(wholeMatrix()),
                         [](const auto &info) { return caseName(info.param); });
#else
INSTANTIATE_TEST_SUITE_P(Slice, ClassMatrix, ::testing::ValuesIn(slice()),
                         [](const auto &info) { return caseName(info.param); });
#endif

#ifndef KORVANE_CLASS_MATRIX_WHOLE
// A modem offering Class 1 only, 1 and 2, or 1, 2 and 2.0: korvane-fax detect recommends the
// best class, and a send session left to detect uses that same class.
struct DetectCase {
  const char *linesimClass;
  const char *recommended;
  const char *selected;  // the class command the session sends
};
class DetectAgrees : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectAgrees, DetectAndSessionChooseTheBestClass) {
  TempDir work;
  std::string txt = work.file("doc.txt");
  std::ofstream(txt) << "Detect\n";
  std::string apf = work.file("doc.apf");
  Process conv({kTool, "convert", txt, "-o", apf}, work.file("convert.log"));
  ASSERT_TRUE(conv.wait(30s));
  LineOptions o;
  o.calls = 1;
  o.verbosity = 2;
  o.farReceive = "far.tif";
  o.extra = {"--class", GetParam().linesimClass};
  SimulatedLine line(o);
  Process detect({kTool, "detect", "--device", line.portA()}, work.file("detect.log"));
  ASSERT_TRUE(detect.wait(60s));
  EXPECT_EQ(detect.exitCode(), 0) << detect.output();
  EXPECT_NE(detect.output().find(std::string("Recommended: ") + GetParam().recommended),
            std::string::npos)
      << detect.output();
  Process tx({kTool, "send", "--speed", test::speedArg(), "--device", line.portA(), "--class",
              "auto", "5551234", apf},
             work.file("send.log"));
  ASSERT_TRUE(tx.wait(120s));
  EXPECT_EQ(tx.exitCode(), 0) << tx.output() << line.log();
  EXPECT_EQ(line.finish(), 0) << line.log();
  EXPECT_NE(line.log().find(std::string("DTE> ") + GetParam().selected + "\n"), std::string::npos)
      << line.log();
}

INSTANTIATE_TEST_SUITE_P(Modems, DetectAgrees,
                         ::testing::Values(DetectCase{"1", "Class 1", "AT+FCLASS=1"},
                                           DetectCase{"2", "Class 2", "AT+FCLASS=2"},
                                           DetectCase{"2.0", "Class 2.0", "AT+FCLASS=2.0"}),
                         [](const auto &info) {
                           std::string n = info.param.linesimClass;
                           return "Class" + std::string(n == "2.0" ? "20" : n);
                         });
#endif

}  // namespace
}  // namespace kv
