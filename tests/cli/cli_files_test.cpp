// korvane-fax and the files it reads and writes, tried as a hostile user would: outputs that are
// the input, pipes, full disks, signals, other users' files, damaged images. Nothing may be lost
// or left behind, and every failure names the file and the reason.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli_support.h"
#include "faximage/apf_file.h"
#include "support/child_process.h"
#include "support/io_counts.h"
#include "support/temp_files.h"

namespace kv::cli {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::vector<std::uint8_t>>;

const std::string kExe = std::string(KORVANE_BIN_DIR) + "/korvane-fax";

// Every line of every page.
Lines decodeLines(const std::string &path) {
  Lines lines;
  ApfReader reader;
  if (reader.open(path) < 0) return lines;
  for (int p = 1; p <= reader.header().pageCount; ++p) {
    ApfPageLocation loc;
    if (reader.locatePage(p, loc) < 0) break;
    decodeApfPage(reader, loc,
                  [&](const std::uint8_t *d, std::size_t n) { lines.emplace_back(d, d + n); });
  }
  return lines;
}

bool hasInk(const Lines &lines) {
  for (const auto &l : lines)
    for (auto b : l)
      if (b) return true;
  return false;
}

struct FilesTest : testing::Test {
  std::string file(const std::string &n) const { return dir.file(n); }
  void SetUp() override { test::writeFile(file("hello.txt"), "Hello fax\nsecond line\n"); }
  test::TempDir dir{"kvfiles"};
};

TEST_F(FilesTest, ConvertRefusesToWriteOverItsInput) {
  test::writeFile(file("notes.APF"), "my notes, not a fax\n");
  fs::create_hard_link(file("hello.txt"), file("also.txt"));
  const std::vector<std::vector<std::string>> cases = {
      {"convert", "--type", "text", file("notes.APF")},  // output named after the input
      {"convert", file("hello.txt"), "-o", file("hello.txt")},
      {"convert", file("hello.txt"), "-o",
       dir.path() + "/./../" + fs::path(dir.path()).filename().string() + "/hello.txt"},
      {"convert", file("hello.txt"), "-o", file("also.txt")},  // the same file by another name
  };
  for (const auto &args : cases) {
    const ToolRun r = run(args);
    EXPECT_EQ(r.code, exitFailed) << args.back();
    EXPECT_NE(r.err.find("it is the input file"), std::string::npos) << r.err;
  }
  EXPECT_EQ(test::readFile(file("notes.APF")), "my notes, not a fax\n");
  EXPECT_EQ(test::readFile(file("hello.txt")), "Hello fax\nsecond line\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"also.txt", "hello.txt", "notes.APF"}));
}

TEST_F(FilesTest, TextFromPipesAndFifosIsReadLikeAFile) {
  ASSERT_EQ(run({"convert", file("hello.txt"), "-o", file("file.apf")}).code, exitOk);
  const Lines want = decodeLines(file("file.apf"));
  ASSERT_TRUE(hasInk(want));

  const std::string cmd = "printf 'Hello fax\\nsecond line\\n' | " + kExe +
                          " convert --type text /dev/stdin -o " + file("pipe.apf") +
                          " >/dev/null 2>&1";
  ASSERT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0);
  EXPECT_EQ(decodeLines(file("pipe.apf")), want);

  ASSERT_EQ(mkfifo(file("fifo").c_str(), 0600), 0);
  std::thread writer([&] { test::writeFile(file("fifo"), "Hello fax\nsecond line\n"); });
  const ToolRun r = run({"convert", "--type", "text", file("fifo"), "-o", file("fifo.apf")});
  writer.join();
  ASSERT_EQ(r.code, exitOk) << r.err;
  EXPECT_EQ(decodeLines(file("fifo.apf")), want);
}

TEST_F(FilesTest, AFullDiskFailsEveryWriteAndLeavesNothing) {
  std::string page;
  for (int i = 0; i < 50; ++i) page += "A full page of text makes files larger than the limit\n";
  test::writeFile(file("hello.txt"), page);
  ASSERT_EQ(run({"convert", file("hello.txt"), "-o", file("in.apf")}).code, exitOk);
  const auto before = dir.entries();
  // A file size limit fails writes the way a full disk does, without needing a small disk.
  for (const std::string format : {"png", "pbm"}) {
    const int code = test::runInChild([&] {
      test::limitFileSize(2048);
      return run({"unpack", file("in.apf"), "-o", file("p"), "--format", format}).code;
    });
    EXPECT_EQ(code, exitFailed) << format;
    EXPECT_EQ(dir.entries(), before) << format;
  }
  const int code = test::runInChild([&] {
    test::limitFileSize(2048);
    const ToolRun r = run({"convert", file("hello.txt"), "-o", file("out.apf")});
    return r.code == exitFailed &&
                   r.err.find(file("out.apf") + ": Disk is full") != std::string::npos
               ? 0
               : 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(dir.entries(), before);
}

TEST_F(FilesTest, ASignalDuringConversionRemovesThePartFile) {
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "a line of text long enough to make the fax take a while\n";
  test::writeFile(file("big.txt"), text);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
      execl(kExe.c_str(), "korvane-fax", "convert", file("big.txt").c_str(), "-o",
            file("big.apf").c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    bool sawPart = false;
    for (int i = 0; i < 20000 && !sawPart; ++i) {
      for (const auto &e : dir.entries()) sawPart |= e.find(".~part") != std::string::npos;
      if (!sawPart) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(sawPart);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"big.txt", "hello.txt"})) << sig;
  }
}

TEST_F(FilesTest, ReplacingAFileNeedsTheRightToWriteItAndKeepsItsMode) {
  const bool root = geteuid() == 0;
  chmod(dir.path().c_str(), 0777);
  // As the unprivileged user when the tests run as root.
  auto asUser = [&](const std::function<int()> &body) {
    return test::runInChild([&] { return !root || test::becomeNobody() ? body() : 99; });
  };
  auto convertTo = [&](const std::string &out) {
    const ToolRun r = run({"convert", file("hello.txt"), "-o", out});
    test::writeFile(file("err.txt"), r.err);
    return r.code;
  };
  if (root) {
    test::writeFile(file("theirs.apf"), "another user's file");
    chmod(file("theirs.apf").c_str(), 0644);
    EXPECT_EQ(asUser([&] { return convertTo(file("theirs.apf")); }), exitFailed);
    EXPECT_EQ(test::readFile(file("theirs.apf")), "another user's file");
    struct stat st;
    ASSERT_EQ(stat(file("theirs.apf").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_NE(test::readFile(file("err.txt")).find(file("theirs.apf") + ": File access denied"),
              std::string::npos)
        << test::readFile(file("err.txt"));

    fs::create_directory(file("locked"));
    chmod(file("locked").c_str(), 0555);
    EXPECT_EQ(asUser([&] { return convertTo(file("locked/x.apf")); }), exitFailed);
    EXPECT_NE(test::readFile(file("err.txt")).find(file("locked/x.apf") + ": File access denied"),
              std::string::npos);
  }
  EXPECT_EQ(asUser([&] {
              test::writeFile(file("mine.apf"), "read-only");
              chmod(file("mine.apf").c_str(), 0444);
              return convertTo(file("mine.apf"));
            }),
            exitFailed);
  EXPECT_EQ(asUser([&] {
              test::writeFile(file("keep.apf"), "old");
              chmod(file("keep.apf").c_str(), 0640);
              return convertTo(file("keep.apf"));
            }),
            exitOk);
  struct stat st;
  ASSERT_EQ(stat(file("keep.apf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_TRUE(hasInk(decodeLines(file("keep.apf"))));
  EXPECT_EQ(test::readFile(file("mine.apf")), "read-only");
}

// A TIFF of `rows` lines written by libtiff, uncompressed.
void writeTiff(const std::string &path, int width, int rows) {
  TIFF *t = TIFFOpen(path.c_str(), "w");
  ASSERT_TRUE(t);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width + 7) / 8, 0xAA);
  for (int y = 0; y < rows; ++y) TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y));
  TIFFClose(t);
}

void truncateTo(const std::string &path, std::size_t size) {
  std::string b = test::readFile(path);
  b.resize(std::min(size, b.size()));
  test::writeFile(path, b);
}

TEST_F(FilesTest, MessagesNameTheFileAndTheReason) {
  fs::create_directory(file("dir.apf"));
  std::vector<std::uint8_t> rows(217 * 10, 0x0F);
  writeBmp(file("wide.bmp"), 1729, 10, rows);
  writeBmp(file("cut.bmp"), 1600, 100, std::vector<std::uint8_t>(200 * 100, 0xF0));
  truncateTo(file("cut.bmp"), 5000);
  writeTiff(file("cut.tif"), 800, 400);
  truncateTo(file("cut.tif"), 3000);
  // A 2200-line PCX of which only the first 500 bytes arrived.
  std::string pbm = "P4\n1728 2200\n" + std::string(216 * 2200, '\0');
  for (std::size_t i = 13; i < pbm.size(); i += 7) pbm[i] = '\x5A';
  test::writeFile(file("page.pbm"), pbm);
  ASSERT_EQ(
      std::system(
          ("ppmtopcx " + file("page.pbm") + " > " + file("cut.pcx") + " 2>/dev/null").c_str()),
      0);
  truncateTo(file("cut.pcx"), 500);
  test::writeFile(file("feeds.txt"), std::string(65540, '\f'));

  struct Case {
    std::vector<std::string> args;
    std::string named, says;
  };
  const std::vector<Case> cases = {
      {{"convert", file("hello.txt"), "-o", "/nonexistent/x.apf"},
       "/nonexistent/x.apf",
       "Path not found: the directory /nonexistent does not exist"},
      {{"convert", file("hello.txt"), "-o", file("dir.apf")}, file("dir.apf"), "is a directory"},
      {{"convert", file("missing.txt"), "-o", file("m.apf")}, file("missing.txt"), "not found"},
      {{"convert", file("feeds.txt"), "--type", "text", "-o", file("f.apf")},
       file("feeds.txt"),
       "more than 65535 pages"},
      {{"convert", file("wide.bmp"), "-o", file("w.apf")}, file("wide.bmp"), "1729 pixels wide"},
      {{"convert", file("cut.bmp"), "-o", file("w.apf")}, file("cut.bmp"), "cut off"},
      {{"convert", file("cut.tif"), "-o", file("w.apf")}, file("cut.tif"), "cut off"},
      {{"convert", file("cut.pcx"), "-o", file("w.apf")}, file("cut.pcx"), "of 2200 lines"},
      {{"convert", file("hello.txt"), "--left-margin", "2000", "-o", file("w.apf")},
       file("hello.txt"),
       "left margin of 2000 pixels leaves no room"},
  };
  for (const Case &c : cases) {
    const ToolRun r = run(c.args);
    EXPECT_EQ(r.code, exitFailed) << c.args[1];
    EXPECT_NE(r.err.find(c.named + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  ASSERT_EQ(run({"convert", file("hello.txt"), "-o", file("ok.apf")}).code, exitOk);
  const ToolRun r = run({"unpack", file("ok.apf"), "-o", file("missingdir/p")});
  EXPECT_EQ(r.code, exitFailed);
  EXPECT_NE(r.err.find(file("missingdir/p-1.pbm") + ": Path not found"), std::string::npos)
      << r.err;
  for (const auto &e : dir.entries()) EXPECT_EQ(e.find("~part"), std::string::npos) << e;
  EXPECT_FALSE(fs::exists(file("w.apf")));
}

TEST_F(FilesTest, UnpackingEveryPageReadsTheFileOnce) {
  // Reading pages in order must not walk from the first page each time: twice the pages,
  // about twice the reads.
  long calls[2];
  for (int k = 0; k < 2; ++k) {
    const int pages = 1000 * (k + 1);
    test::writeFile(file("p.txt"), std::string(static_cast<std::size_t>(pages), '\f'));
    ASSERT_EQ(run({"convert", "--type", "text", file("p.txt"), "-o", file("p.apf")}).code, exitOk);
    const long before = test::readCalls();
    ASSERT_EQ(run({"unpack", file("p.apf"), "-o", file("u")}).code, exitOk);
    calls[k] = test::readCalls() - before;
  }
  EXPECT_LT(calls[1], calls[0] * 5 / 2) << calls[0] << " then " << calls[1];
}

TEST_F(FilesTest, InfoShowsControlBytesOfTheSenderIdEscaped) {
  ApfWriter w;
  ASSERT_EQ(w.create(file("id.apf")), ecOK);
  ASSERT_EQ(w.beginPage(true, false), ecOK);
  ASSERT_EQ(w.finish(std::string_view("A\x1b[2J\a\0B\x80", 9)), ecOK);
  const ToolRun r = run({"info", file("id.apf")});
  ASSERT_EQ(r.code, exitOk);
  for (char ch : r.out) EXPECT_TRUE(ch == '\n' || static_cast<unsigned char>(ch) >= 0x20) << +ch;
  EXPECT_NE(r.out.find("\"A\\x1B[2J\\x07\\x00B\xE2\x82\xAC\""), std::string::npos) << r.out;
}

}  // namespace
}  // namespace kv::cli
