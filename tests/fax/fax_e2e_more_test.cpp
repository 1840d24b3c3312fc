// More of korvane-fax over the simulated line: both resolutions with the header line checked
// bit for bit, several calls to one receiver, answering on a later ring, and calls that end
// early (the user cancels, the line drops).
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../linesim/fax_images.h"
#include "comm/errors/error_text.h"
#include "comm/errors/result_codes.h"
#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "fax/send_fax.h"
#include "faximage/apf_file.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::Bitmap;
using test::LineOptions;
using test::Process;
using test::SimulatedLine;
using test::TempDir;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";
// A fixed header (no date or time) so the receiver's page can be predicted exactly.
const std::string kHeader = "KORVANE TEST 555 0100";

std::vector<Bitmap> apfPages(const std::string &path) {
  std::vector<Bitmap> pages;
  ApfReader r;
  if (r.open(path) < 0) return pages;
  for (int n = 1; n <= r.header().pageCount; ++n) {
    ApfPageLocation loc;
    if (r.locatePage(n, loc) < 0) break;
    Bitmap b;
    b.width = loc.header.widthPixels();
    decodeApfPage(r, loc, [&](const std::uint8_t *line, std::size_t bytes) {
      b.rows.emplace_back(reinterpret_cast<const char *>(line), bytes);
    });
    b.height = int(b.rows.size());
    pages.push_back(std::move(b));
  }
  return pages;
}

// The page as the far end must see it: eight blank rows, the header line, then the page.
Bitmap withHeader(const Bitmap &page, bool fine) {
  Bitmap b;
  b.width = page.width;
  b.rows.assign(8, std::string(216, '\0'));
  std::vector<std::vector<std::uint8_t>> header;
  EXPECT_EQ(renderTextRows(kHeader, 16, fine, header), ecOK);
  for (const auto &r : header)
    b.rows.emplace_back(reinterpret_cast<const char *>(r.data()), r.size());
  b.rows.insert(b.rows.end(), page.rows.begin(), page.rows.end());
  b.height = int(b.rows.size());
  return b;
}

int blackBits(const std::string &row) {
  int n = 0;
  for (unsigned char c : row) n += __builtin_popcount(c);
  return n;
}

class FaxLineMore : public ::testing::Test {
 protected:
  // An APF of `pages` pages of text made by the converter.
  std::string makeApf(int pages, bool fine, const std::string &name = "doc") {
    std::string txt = work.path() + "/" + name + ".txt";
    {
      std::ofstream o(txt);
      for (int p = 1; p <= pages; ++p) {
        if (p > 1) o << "\f";
        o << "Page " << p << " of " << name << "\nThe quick brown fox 0123456789\n";
        for (int l = 0; l < 2 * p; ++l) o << "line " << l << " jumps over the lazy dog\n";
      }
    }
    std::string apf = work.path() + "/" + name + ".apf";
    Process conv({kTool, "convert", txt, "-o", apf, fine ? "--fine" : "--normal"},
                 work.path() + "/convert-" + name + ".log");
    EXPECT_TRUE(conv.wait(20s));
    EXPECT_EQ(conv.exitCode(), 0) << conv.output();
    return apf;
  }
  std::unique_ptr<Process> send(const std::string &port, const std::string &file,
                                std::vector<std::string> extra = {},
                                const std::string &log = "send", int speed = 8) {
    std::vector<std::string> a{kTool,      "send", "--speed",   std::to_string(speed),
                               "--device", port,   "--station", "555 0100",
                               "--header", kHeader};
    a.insert(a.end(), extra.begin(), extra.end());
    a.push_back("5551234");
    a.push_back(file);
    return std::make_unique<Process>(a, work.path() + "/" + log + ".log");
  }
  std::unique_ptr<Process> receive(const std::string &port, const std::string &dir,
                                   std::vector<std::string> extra = {}) {
    std::filesystem::create_directories(dir);
    std::vector<std::string> a{kTool, "receive", "--speed", "8",         "--device",
                               port,  "--dir",   dir,       "--station", "777"};
    a.insert(a.end(), extra.begin(), extra.end());
    return std::make_unique<Process>(a, work.path() + "/receive.log");
  }
  static bool waitFor(Process &p, const std::string &text, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      if (p.output().find(text) != std::string::npos) return true;
      if (!p.running()) return false;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  TempDir work;
};

// Resolution (fine or not) and page count.
class FaxToFarEnd : public FaxLineMore,
                    public ::testing::WithParamInterface<std::tuple<bool, int>> {};

TEST_P(FaxToFarEnd, PagesArriveExactlyWithTheHeaderLine) {
  auto [fine, count] = GetParam();
  std::string apf = makeApf(count, fine);
  auto sent = apfPages(apf);
  ASSERT_EQ(int(sent.size()), count);
  LineOptions o;
  o.calls = 1;
  o.farReceive = "far.tif";
  SimulatedLine line(o);
  auto tx = send(line.portA(), apf, {"--rate", "14400"});
  ASSERT_TRUE(tx->wait(120s));
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line.log();
  EXPECT_EQ(line.finish(), 0) << line.log();
  auto got = test::readTiffPages(line.farReceived());
  ASSERT_EQ(int(got.size()), count) << line.log();
  for (int p = 0; p < count; ++p) {
    Bitmap want = withHeader(sent[std::size_t(p)], fine);
    const Bitmap &g = got[std::size_t(p)];
    EXPECT_EQ(g.height, want.height) << p;
    EXPECT_EQ(test::differingRows(want, g, 0), 0) << "page " << p + 1;
    // The rendered header really has ink: a blank band would pass the comparison above only if
    // the renderer itself were broken, so say so separately.
    int ink = 0;
    for (int y = 8; y < 8 + (fine ? 32 : 16) && y < g.height; ++y)
      ink += blackBits(g.rows[std::size_t(y)]);
    EXPECT_GT(ink, 200) << "header band of page " << p + 1 << " is blank";
  }
}

INSTANTIATE_TEST_SUITE_P(Resolutions, FaxToFarEnd,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(1, 3)),
                         [](const auto &info) {
                           return std::string(std::get<0>(info.param) ? "Fine" : "Normal") +
                                  std::to_string(std::get<1>(info.param)) + "Pages";
                         });

}  // namespace
}  // namespace kv
