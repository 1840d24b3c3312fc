// korvane-fax send with an APF cover over the simulated line: the far-end machine receives the
// cover's pages first, then the fax's, each under its own numbered header line.
#include <gtest/gtest.h>

#include <fstream>

#include "../linesim/fax_images.h"
#include "apf_pages.h"
#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "fax/send_fax.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::Bitmap;
using test::Process;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";

// What the far end must see of a fine page: eight blank rows, the header line, the page.
Bitmap underHeader(const Bitmap &page, const std::string &header) {
  Bitmap b;
  b.width = page.width;
  b.rows.assign(8, std::string(216, '\0'));
  std::vector<std::vector<std::uint8_t>> rows;
  EXPECT_EQ(renderTextRows(header, 16, true, rows), ecOK);
  for (const auto &r : rows) b.rows.emplace_back(reinterpret_cast<const char *>(r.data()), 216);
  b.rows.insert(b.rows.end(), page.rows.begin(), page.rows.end());
  b.height = int(b.rows.size());
  return b;
}

TEST(FaxCoverLine, ApfCoverPagesArriveBeforeTheFaxPages) {
  test::TempDir work;
  auto convert = [&](const std::string &text, const std::string &out) {
    std::string txt = out + ".txt";
    std::ofstream(txt) << text;
    Process p({kTool, "convert", txt, "-o", out}, out + ".log");
    EXPECT_TRUE(p.wait(20s));
    EXPECT_EQ(p.exitCode(), 0) << p.output();
  };
  // The cover is taken for an APF file by its ".APF" (the fax file extension, in that case).
  const std::string cover = work.path() + "/cover.APF", doc = work.path() + "/doc.apf";
  convert("COVER SHEET\nTo: the far end\n\fCover, second sheet\n", cover);
  convert("The fax itself\nThe quick brown fox 0123456789\n", doc);
  std::vector<Bitmap> want = test::apfPages(cover);
  ASSERT_EQ(want.size(), 2u);
  auto body = test::apfPages(doc);
  ASSERT_EQ(body.size(), 1u);
  want.push_back(body[0]);

  test::LineOptions o;
  o.calls = 1;
  o.farReceive = "far.tif";
  test::SimulatedLine line(o);
  Process tx({kTool, "send", "--speed", test::speedArg(), "--device", line.portA(), "--station",
              "555 0100", "--header", "Page $P of $N", "--cover", cover, "5551234", doc},
             work.path() + "/send.log");
  ASSERT_TRUE(tx.wait(120s));
  EXPECT_EQ(tx.exitCode(), 0) << tx.output() << line.log();
  EXPECT_EQ(line.finish(), 0) << line.log();
  auto got = test::readTiffPages(line.farReceived());
  ASSERT_EQ(got.size(), 3u) << line.log();
  for (std::size_t p = 0; p < 3; ++p) {
    Bitmap expect = underHeader(want[p], "Page " + std::to_string(p + 1) + " of 3");
    EXPECT_EQ(got[p].height, expect.height) << "page " << p + 1;
    EXPECT_EQ(test::differingRows(expect, got[p], 0), 0) << "page " << p + 1;
  }
}

}  // namespace
}  // namespace kv
