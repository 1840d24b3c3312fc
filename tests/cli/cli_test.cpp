// korvane-fax: option parsing, exit codes, and the convert / info / unpack round trip checked
// against the source image and against independent readers.
#include <gtest/gtest.h>
#include <unistd.h>
#include <QImage>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/command.h"
#include "cli_support.h"
#include "faximage/apf_file.h"
#include "support/temp_files.h"

namespace kv::cli {
namespace {

namespace fs = std::filesystem;

struct CliTest : testing::Test {
  std::string file(const std::string &n) const { return dir.file(n); }
  test::TempDir dir{"kvcli"};
};

TEST(CliArgs, ParsesOptionsInEveryForm) {
  const std::vector<OptionSpec> specs = {{"output", 'o', "F", ""}, {"wide", 0, "", ""}};
  Args a;
  std::string error;
  std::vector<std::string> v = {"in.txt", "-o", "x.apf", "--wide", "--", "--wide"};
  ASSERT_TRUE(a.parse(v, specs, error));
  EXPECT_EQ(a.value("output").value(), "x.apf");
  EXPECT_TRUE(a.has("wide"));
  EXPECT_EQ(a.positional(), (std::vector<std::string>{"in.txt", "--wide"}));
  v = {"--output=y.apf", "-"};
  ASSERT_TRUE(a.parse(v, specs, error));
  EXPECT_EQ(a.value("output").value(), "y.apf");
  EXPECT_EQ(a.positional(), (std::vector<std::string>{"-"}));
  for (auto bad : std::vector<std::vector<std::string>>{{"--nope"}, {"-o"}, {"--wide=1"}, {"-x"}}) {
    EXPECT_FALSE(a.parse(bad, specs, error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(CliTool, ExitCodesForHelpAndUsageErrors) {
  EXPECT_EQ(run({}).code, exitUsage);
  ToolRun r = run({"--help"});
  EXPECT_EQ(r.code, exitOk);
  for (const char *c : {"convert", "unpack", "info"}) {
    EXPECT_NE(r.out.find(c), std::string::npos) << c;
    ToolRun h = run({c, "--help"});
    EXPECT_EQ(h.code, exitOk);
    EXPECT_NE(h.out.find(std::string("Usage: korvane-fax ") + c), std::string::npos);
  }
  EXPECT_EQ(run({"frobnicate"}).code, exitUsage);
  EXPECT_EQ(run({"info"}).code, exitUsage);
  EXPECT_EQ(run({"info", "a", "b"}).code, exitUsage);
  EXPECT_EQ(run({"unpack", "x.apf"}).code, exitUsage);  // no -o
  EXPECT_EQ(run({"unpack", "x.apf", "-o", "p", "--format", "gif"}).code, exitUsage);
  EXPECT_EQ(run({"convert", "noext"}).code, exitUsage);
  EXPECT_EQ(run({"convert", "a.txt", "--fine", "--normal"}).code, exitUsage);
  EXPECT_EQ(run({"convert", "a.txt", "--left-margin", "-3"}).code, exitUsage);
}

TEST_F(CliTest, FailuresGiveTheErrorTextAndExitOne) {
  ToolRun r = run({"info", file("missing.apf")});
  EXPECT_EQ(r.code, exitFailed);
  EXPECT_NE(r.err.find("(-2)"), std::string::npos) << r.err;
  std::ofstream(file("junk.apf"))
      << "this is not a fax file at all, but it is long enough to hold a header.....";
  r = run({"unpack", file("junk.apf"), "-o", file("p")});
  EXPECT_EQ(r.code, exitFailed);
  EXPECT_NE(r.err.find("File is not an APF file"), std::string::npos) << r.err;
  r = run({"convert", file("missing.bmp")});
  EXPECT_EQ(r.code, exitFailed);
}

TEST_F(CliTest, ReceiveMakesItsDirectoryAndRefusesOneItCannotMake) {
  // The directory is made before the port is opened, so a missing device still leaves it.
  const std::string inbox = file("in/faxes");
  ToolRun r = run({"receive", "--device", file("no-such-modem"), "--dir", inbox, "--once"});
  EXPECT_EQ(r.code, exitFailed) << r.err;
  EXPECT_TRUE(fs::is_directory(inbox));

  std::ofstream(file("plain")) << "a file, not a folder";
  r = run({"receive", "--device", file("no-such-modem"), "--dir", file("plain/sub"), "--once"});
  EXPECT_EQ(r.code, exitFailed);
  EXPECT_NE(
      r.err.find("The receive folder " + file("plain/sub") + " cannot be used: Not a directory"),
      std::string::npos)
      << r.err;
}

TEST_F(CliTest, ConvertInfoUnpackRoundTrip) {
  // A 1664 x 300 page of stripes and a block, as the rendering step makes them.
  const int w = 1664, h = 300, src = w / 8;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(src) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((y / 10) % 2 == 0 ? x % 40 < 12 : (x > 800 && x < 900))
        rows[static_cast<std::size_t>(y) * src + x / 8] |=
            static_cast<std::uint8_t>(0x80 >> (x % 8));
  writeBmp(file("page.bmp"), w, h, rows);

  ToolRun r = run({"convert", file("page.bmp"), "-o", file("page.apf"), "--left-margin", "32",
                   "--station", "+49 30 1234567 ext 99999"});
  ASSERT_EQ(r.code, exitOk) << r.err;
  EXPECT_NE(r.out.find("1 page"), std::string::npos);

  r = run({"info", file("page.apf")});
  ASSERT_EQ(r.code, exitOk) << r.err;
  EXPECT_NE(r.out.find("Sender id:  \"+49 30 1234567 ext 9\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Pages:      1"), std::string::npos);
  EXPECT_NE(r.out.find("0x0005  fine         1728    300"), std::string::npos) << r.out;

  r = run({"unpack", file("page.apf"), "-o", file("out")});
  ASSERT_EQ(r.code, exitOk) << r.err;
  const std::string pbm = test::readFile(file("out-1.pbm"));
  const std::string header = "P4\n1728 300\n";
  ASSERT_EQ(pbm.size(), header.size() + 216u * 300);
  ASSERT_EQ(pbm.substr(0, header.size()), header);
  // The image is centred ((1728 - 1664) / 16 = 4 bytes) and then put after the 32-pixel left
  // margin: BMP byte i is fax byte i + 8.
  for (int y = 0; y < h; ++y) {
    const auto *line = reinterpret_cast<const std::uint8_t *>(pbm.data() + header.size() + 216 * y);
    for (int i = 0; i < src; ++i)
      ASSERT_EQ(line[8 + i], rows[static_cast<std::size_t>(y) * src + i]) << y << "," << i;
  }

  // PNG through an independent reader (Qt's), and the auto-scale option on a normal page.
  r = run({"convert", file("page.bmp"), "-o", file("normal.apf"), "--normal"});
  ASSERT_EQ(r.code, exitOk) << r.err;
  r = run({"unpack", file("normal.apf"), "-o", file("n"), "--format", "png", "--scale",
           "double-height"});
  ASSERT_EQ(r.code, exitOk) << r.err;
  QImage png(QString::fromStdString(file("n-1.png")));
  ASSERT_FALSE(png.isNull());
  EXPECT_EQ(png.width(), 1728);
  EXPECT_EQ(png.height(), 2 * 300);
  r = run({"unpack", file("normal.apf"), "-o", file("n"), "--page", "2"});
  EXPECT_EQ(r.code, exitFailed);
}

TEST_F(CliTest, TheExecutableRunsStandalone) {
  const std::string exe = std::string(KORVANE_BIN_DIR) + "/korvane-fax";
  ASSERT_TRUE(fs::exists(exe));
  std::ofstream(file("note.txt")) << "Hello fax\fsecond page\n";
  const std::string cmd = exe + " convert " + file("note.txt") + " >/dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0);
  ApfReader r;
  ASSERT_EQ(r.open(file("note.APF")), ecOK);
  EXPECT_EQ(r.header().pageCount, 2);
  EXPECT_EQ(WEXITSTATUS(std::system((exe + " info >/dev/null 2>&1").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((exe + " info /nonexistent.apf >/dev/null 2>&1").c_str())), 1);
}

}  // namespace
}  // namespace kv::cli
