// The files korvane-fax render, print and export write, tried as a careless user and an unlucky
// one would: the input named as the output however it is spelled, files the user may not
// write, a full disk, signals mid-way, leftovers of killed runs, bad page ranges. The old file
// stays, nothing is left behind, and the message names the file and the reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/child_process.h"
#include "support/fax_files.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";

Args tool(Args args) {
  args.insert(args.begin(), kTool);
  return args;
}

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// The id of a process that has ended.
pid_t endedProcess() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  test::waitProgram(pid);
  return pid;
}

class OutputFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chmod(dir.path().c_str(), 0777);  // the unprivileged user may create files here
    ASSERT_TRUE(test::writeApf(apf, {{test::textRaster(1728, 2300, 1), true},
                                     {test::textRaster(1728, 1140, 2), false},
                                     {test::textRaster(1728, 1600, 3), true}}));
    test::writeFile(rtf, "{\\rtf1 Dear Sir,\\par please find the order attached.\\par}");
  }
  std::string file(const std::string &name) const { return dir.file(name); }
  // The commands that write one file, each with the output it is given.
  std::vector<std::pair<std::string, std::function<Args(const std::string &)>>> writers() const {
    return {
        {"print",
         [&](const std::string &out) {
           return tool({"print", apf, "--pdf", out});
         }},
        {"export pdf",
         [&](const std::string &out) {
           return tool({"export", apf, "-o", out});
         }},
        {"export tif",
         [&](const std::string &out) {
           return tool({"export", apf, "-o", out});
         }},
        {"render",
         [&](const std::string &out) {
           return tool({"render", "--doc", rtf, "-o", out});
         }},
    };
  }
  static std::string extensionFor(const std::string &command) {
    return command == "export tif" ? ".tif" : command == "render" ? ".apf" : ".pdf";
  }
  test::TempDir dir{"kvoutputs"};
  std::string apf = file("FAX0001.APF"), rtf = file("letter.rtf");
};

TEST_F(OutputFilesTest, EveryCommandRefusesItsInputAsItsOutput) {
  // Inputs whose names would be taken for outputs: an APF file named like a PDF or a TIFF, a
  // letter, a fax named like the page file unpack would write.
  for (const char *name : {"fax.pdf", "fax.tif", "p-1.pbm"}) fs::copy_file(apf, file(name));
  fs::create_symlink(file("fax.pdf"), file("link.pdf"));
  fs::create_hard_link(file("fax.pdf"), file("hard.pdf"));
  fs::create_symlink(rtf, file("link.rtf"));
  const std::string dotted =
      dir.path() + "/./../" + fs::path(dir.path()).filename().string() + "/fax.pdf";
  const std::vector<Args> cases = {
      {"export", file("fax.pdf"), "-o", file("fax.pdf")},
      {"export", file("fax.pdf"), "-o", dotted},
      {"export", file("fax.pdf"), "-o", file("link.pdf")},
      {"export", file("fax.pdf"), "-o", file("hard.pdf")},
      {"export", file("fax.tif"), "-o", file("fax.tif")},
      {"print", file("fax.pdf"), "--pdf", file("fax.pdf")},
      {"print", file("fax.pdf"), "--pdf", file("link.pdf")},
      {"print", file("fax.pdf"), "--pdf", file("hard.pdf")},
      {"print", file("fax.pdf"), "--pdf", file("new.pdf"), "--log", file("link.pdf")},
      {"render", "--doc", rtf, "-o", rtf},
      {"render", "--cover", rtf, "-o", file("link.rtf")},
      {"unpack", file("p-1.pbm"), "-o", file("p")},
  };
  const auto before = dir.entries();
  const std::string apfBytes = test::readFile(apf), letter = test::readFile(rtf);
  for (const Args &args : cases) {
    const test::ProgramRun r = test::runProgram(tool(args));
    EXPECT_EQ(r.code, 1) << args[0] << " " << args.back() << "\n" << r.output;
    EXPECT_TRUE(contains(r.output, "it is the input file")) << r.output;
    EXPECT_TRUE(contains(r.output, args.back() == file("p") ? file("p-1.pbm") : args.back()))
        << r.output;
  }
  for (const char *name : {"fax.pdf", "fax.tif", "p-1.pbm"})
    EXPECT_EQ(test::readFile(file(name)), apfBytes) << name;
  EXPECT_EQ(test::readFile(rtf), letter);
  EXPECT_EQ(dir.entries(), before);
}

TEST_F(OutputFilesTest, ReplacingAFileNeedsTheRightToWriteItAndKeepsItsMode) {
  const bool root = geteuid() == 0;
  // As the unprivileged user when the tests run as root.
  auto asUser = [&](const Args &args) {
    return test::runProgram(args, [root] {
      if (root && !test::becomeNobody()) _exit(99);
    });
  };
  fs::create_directory(file("locked"));
  chmod(file("locked").c_str(), 0555);
  for (const auto &[command, argsFor] : writers()) {
    const std::string ext = extensionFor(command);
    const std::string readOnly = file("readonly" + ext), kept = file("kept" + ext);
    test::writeFile(readOnly, "read-only");
    test::writeFile(kept, "old");
    if (root) {
      chown(readOnly.c_str(), test::kNobody, test::kNobody);
      chown(kept.c_str(), test::kNobody, test::kNobody);
    }
    chmod(readOnly.c_str(), 0444);
    chmod(kept.c_str(), 0640);
    std::vector<std::string> refused = {readOnly};
    if (root) {
      const std::string theirs = file("theirs" + ext);
      test::writeFile(theirs, "another user's file");
      chmod(theirs.c_str(), 0644);
      refused.push_back(theirs);
      refused.push_back(file("locked/new" + ext));
    }
    for (const std::string &out : refused) {
      const test::ProgramRun r = asUser(argsFor(out));
      EXPECT_EQ(r.code, 1) << command << " " << out << "\n" << r.output;
      EXPECT_TRUE(contains(r.output, out + ": ")) << r.output;
    }
    EXPECT_EQ(test::readFile(readOnly), "read-only") << command;
    if (root) {
      EXPECT_EQ(test::readFile(file("theirs" + ext)), "another user's file") << command;
    }
    EXPECT_FALSE(fs::exists(file("locked/new" + ext))) << command;

    const test::ProgramRun r = asUser(argsFor(kept));
    EXPECT_EQ(r.code, 0) << command << "\n" << r.output;
    struct stat st;
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << command;
    EXPECT_NE(test::readFile(kept), "old") << command;
    if (root) {
      // Replaced by root, the user's file stays the user's.
      const test::ProgramRun again = test::runProgram(argsFor(kept));
      EXPECT_EQ(again.code, 0) << command << "\n" << again.output;
      ASSERT_EQ(stat(kept.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, test::kNobody) << command;
      EXPECT_EQ(st.st_mode & 0777, 0640u) << command;
    }
  }
  for (const auto &name : dir.entries()) EXPECT_FALSE(contains(name, "~part")) << name;
}

TEST_F(OutputFilesTest, AFullDiskKeepsTheOldFileAndSaysWhy) {
  // A file size limit fails writes the way a full disk does.
  for (const auto &[command, argsFor] : writers()) {
    const std::string out = file("old" + extensionFor(command));
    test::writeFile(out, "the older file");
    const auto before = dir.entries();
    const test::ProgramRun r = test::runProgram(argsFor(out), [] { test::limitFileSize(3000); });
    EXPECT_EQ(r.code, 1) << command << "\n" << r.output;
    EXPECT_TRUE(contains(r.output, ": File too large")) << command << "\n" << r.output;
    // Render fails on its first work file; the others name the file they could not write.
    if (command != "render") {
      EXPECT_TRUE(contains(r.output, out + ": cannot be written: File too large")) << r.output;
    }
    // libtiff's own lines do not reach the terminal.
    EXPECT_FALSE(contains(r.output, "TIFF")) << r.output;
    EXPECT_EQ(test::readFile(out), "the older file") << command;
    EXPECT_EQ(dir.entries(), before) << command;
  }
}

TEST_F(OutputFilesTest, SignalsLeaveNoFilesBehind) {
  // Enough pages that each command is still at work when a signal arrives.
  ASSERT_TRUE(test::writeBlankPages(apf, 400, 400));
  std::string letter = "{\\rtf1 ";
  for (int i = 0; i < 1500; ++i) letter += "A line of the letter that fills the pages.\\par ";
  test::writeFile(rtf, letter + "}");
  const auto before = dir.entries();
  for (const auto &[command, argsFor] : writers()) {
    const std::string out = file("new" + extensionFor(command));
    // Written past the file size limit, ended by SIGXFSZ.
    EXPECT_EQ(test::waitProgram(
                  test::startProgram(argsFor(out), [] { test::limitFileSize(3000, true); })),
              128 + SIGXFSZ)
        << command;
    EXPECT_EQ(dir.entries(), before) << command << " after SIGXFSZ";

    // Interrupted while its files are being written.
    const pid_t pid = test::startProgram(argsFor(out));
    bool working = false;
    for (int i = 0; i < 60000 && !working; ++i) {
      working = dir.entries() != before;
      if (!working) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGTERM);
    EXPECT_TRUE(working) << command;
    EXPECT_EQ(test::waitProgram(pid), 128 + SIGTERM) << command;
    EXPECT_EQ(dir.entries(), before) << command << " after SIGTERM";
  }
}

TEST_F(OutputFilesTest, LeftoversOfEndedProcessesAreRemovedAtTheNextRun) {
  const std::string dead = std::to_string(endedProcess());
  const std::string live = std::to_string(getpid());
  const std::vector<std::string> stale = {
      "out.pdf.~part" + dead + "-0",   "out.tif.~part" + dead + "-3",
      "other.apf.~part" + dead + "-6", "KRV_" + dead + "-1.APF",
      "KRVAX" + dead + "-2.APF",       "KRVAX" + dead + "-2.APF.~part" + dead + "-7",
      "_TMP" + dead + "-4.BMP"};
  // A running process's files and files of other names stay.
  const std::vector<std::string> kept = {"out.pdf.~part" + live + "-0", "KRV_" + live + "-1.APF",
                                         "KRV_1.APF", "out.pdf.~partial"};
  for (const auto &n : stale) test::writeFile(file(n), "left over");
  for (const auto &n : kept) test::writeFile(file(n), "in use");
  for (const Args &args :
       {tool({"export", apf, "-o", file("out.pdf")}), tool({"export", apf, "-o", file("out.tif")}),
        tool({"render", "--doc", rtf, "-o", file("out.apf")})}) {
    const test::ProgramRun r = test::runProgram(args);
    EXPECT_EQ(r.code, 0) << r.output;
  }
  for (const auto &n : stale) EXPECT_FALSE(fs::exists(file(n))) << n;
  for (const auto &n : kept) EXPECT_TRUE(fs::exists(file(n))) << n;
}

TEST_F(OutputFilesTest, PrintRefusesWhatItCannotDoAndSaysWhy) {
  // A page longer than any paper, between two ordinary ones.
  const std::string huge = file("HUGE.APF");
  ASSERT_TRUE(test::writeApf(huge, {{test::textRaster(1728, 100, 1), true},
                                    {test::blankRaster(1728, 70000), true},
                                    {test::textRaster(1728, 100, 2), true}}));
  fs::create_directory(file("folder.pdf"));
  const std::string out = file("out.pdf");
  struct Case {
    Args args;
    int code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--first", "3", "--last", "1", "--pdf", out},
       2,
       "the first page (3) comes after the last (1)"},
      {{"--first", "0", "--pdf", out}, 2, "bad page number '0'"},
      {{"--last", "9", "--pdf", out}, 2, apf + " has 3 page(s); there is no page 9"},
      {{"--first", "5", "--pdf", out}, 2, apf + " has 3 page(s); there is no page 5"},
      {{"--pdf", file("folder.pdf")}, 1, file("folder.pdf") + ": it is a directory"},
      {{"--pdf", file("missing/out.pdf")},
       1,
       file("missing/out.pdf") + ": the directory " + file("missing") + " does not exist"},
  };
  const auto before = dir.entries();
  for (const Case &c : cases) {
    Args args = tool({"print", apf});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const test::ProgramRun r = test::runProgram(args);
    EXPECT_EQ(r.code, c.code) << c.says << "\n" << r.output;
    EXPECT_TRUE(contains(r.output, c.says)) << r.output;
    EXPECT_FALSE(contains(r.output, "not an APF file")) << r.output;
    EXPECT_FALSE(contains(r.output, "printed")) << r.output;
  }
  const test::ProgramRun r = test::runProgram(tool({"print", huge, "--pdf", out}));
  EXPECT_EQ(r.code, 1) << r.output;
  EXPECT_TRUE(contains(r.output, huge + ", page 2: more than 65536 lines")) << r.output;
  EXPECT_FALSE(contains(r.output, "CreateBitmapIndirect")) << r.output;
  EXPECT_EQ(dir.entries(), before);
}

}  // namespace
}  // namespace kv
