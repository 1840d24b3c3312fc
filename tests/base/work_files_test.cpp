// Work files named after their process, and the removal of registered temporaries when a
// signal ends the process: the stale files of ended processes go, those of running ones stay.
#include "base/work_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/temp_file_cleanup.h"
#include "support/child_process.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

pid_t endedProcess() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  test::waitProgram(pid);
  return pid;
}

TEST(WorkFiles, NamesCarryTheProcessAndAreNotTaken) {
  test::TempDir dir;
  const std::string own = dir.path() + "/KRV_" + std::to_string(getpid()) + "-";
  const std::string a = WorkFileName(dir.path(), "KRV_", ".APF");
  EXPECT_EQ(a.rfind(own, 0), 0u) << a;
  EXPECT_EQ(a.substr(a.size() - 4), ".APF");
  test::writeFile(a, "in use");
  const std::string b = WorkFileName(dir.path() + "/", "KRV_", ".APF");
  EXPECT_NE(a, b);
  EXPECT_EQ(b.rfind(own, 0), 0u) << b;
}

TEST(WorkFiles, OnlyFilesOfEndedProcessesAreRemoved) {
  test::TempDir dir;
  const std::string ended = std::to_string(endedProcess());
  const std::string running = std::to_string(getpid());
  struct Case {
    std::string name;
    bool removed;
  };
  const std::vector<Case> cases = {
      {"_TMP" + ended + "-0.BMP", true},
      {"_TMP" + ended + "-17.BMP", true},
      {"_TMP" + running + "-0.BMP", false},  // still at work
      {"_TMP1-0.BMP", false},                // init, which always runs
      {"_TMP.BMP", false},                   // an older program's name: whose, nobody knows
      {"_TMP" + ended + ".BMP", false},
      {"_TMP" + ended + "-.BMP", false},
      {"_TMP" + ended + "-1x.BMP", false},
      {"_TMPx" + ended + "-1.BMP", false},
      {"_TMP" + ended + "-1.BMP.keep", false},
      {"KRV_" + ended + "-1.APF", false},  // another prefix
  };
  for (const Case &c : cases) test::writeFile(dir.file(c.name), "x");
  EXPECT_EQ(RemoveStaleWorkFiles(dir.path(), "_TMP", ".BMP"), 2);
  for (const Case &c : cases) EXPECT_EQ(fs::exists(dir.file(c.name)), !c.removed) << c.name;
  EXPECT_EQ(RemoveStaleWorkFiles(dir.file("missing"), "_TMP", ".BMP"), 0);
}

TEST(WorkFiles, MarkedFilesOfEndedProcessesAreRemovedWhateverTheirName) {
  test::TempDir dir;
  const std::string ended = std::to_string(endedProcess());
  const std::string running = std::to_string(getpid());
  struct Case {
    std::string name;
    bool removed;
  };
  const std::vector<Case> cases = {
      {"fax.pdf.~part" + ended + "-0", true},
      {"a.~part.b.~part" + ended + "-12", true},
      {"fax.pdf.~part" + running + "-0", false},
      {".~part" + ended + "-0", false},  // no name before the mark
      {"fax.pdf.~part" + ended, false},
      {"fax.pdf.~partial", false},
      {"fax.pdf", false},
  };
  for (const Case &c : cases) test::writeFile(dir.file(c.name), "x");
  EXPECT_EQ(RemoveStaleMarkedFiles(dir.path(), ".~part"), 2);
  for (const Case &c : cases) EXPECT_EQ(fs::exists(dir.file(c.name)), !c.removed) << c.name;
}

TEST(TempFileCleanup, EverySignalThatEndsTheProcessRemovesTheTemporaries) {
  test::TempDir dir;
  const std::string temp = dir.file("out.~part");
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
    const int code = test::runInChild([&] {
      signal(sig, SIG_DFL);
      TempFileSignalCleanup cleanup;
      RegisterTempFile(temp);
      test::writeFile(temp, "half written");
      raise(sig);
      return 0;
    });
    EXPECT_EQ(code, 128 + sig) << strsignal(sig);
    EXPECT_FALSE(fs::exists(temp)) << strsignal(sig);
  }
  // The file size limit itself: the write past it ends the process.
  const int code = test::runInChild([&] {
    test::limitFileSize(100, true);
    TempFileSignalCleanup cleanup;
    RegisterTempFile(temp);
    test::writeFile(temp, std::string(1000, 'x'));
    return 0;
  });
  EXPECT_EQ(code, 128 + SIGXFSZ);
  EXPECT_FALSE(fs::exists(temp));
}

}  // namespace
}  // namespace kv
