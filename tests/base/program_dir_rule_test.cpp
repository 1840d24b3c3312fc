// Where the program keeps its files: beside a program it may write, else in the user's data
// directory; shipped read-only files beside it in a build folder, else in share/korvane.
#include "base/program_dir_rule.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/child_process.h"
#include "support/temp_files.h"

namespace kv {
namespace {
namespace fs = std::filesystem;

// A scratch tree holding a build folder (build/bin) and an installation (usr/bin with
// usr/share/korvane), the layouts the program meets.
struct Layouts {
  test::TempDir root;
  fs::path build = fs::path(root.path()) / "build" / "bin";
  fs::path usr = fs::path(root.path()) / "usr";
  Layouts() {
    fs::create_directories(build);
    fs::create_directories(usr / "bin");
    fs::create_directories(usr / "share" / "korvane");
  }
};

TEST(ProgramDirRule, BesideAWritableProgramElseInTheUsersDataDirectory) {
  Layouts l;
  const std::string home = l.root.path() + "/home";
  struct Case {
    const char *what;
    fs::path exeDir;
    std::string xdg;
    fs::path expected;
  } cases[] = {
      {"build folder", l.build, "", l.build},
      {"build folder, XDG set", l.build, "/elsewhere", l.build},
      {"installed", l.usr / "bin", "", fs::path(home) / ".local/share/korvane"},
      {"installed, XDG_DATA_HOME", l.usr / "bin", "/data", "/data/korvane"},
      {"installed, relative XDG_DATA_HOME is ignored", l.usr / "bin", "rel",
       fs::path(home) / ".local/share/korvane"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ChooseProgramDir(c.exeDir, c.xdg, home), c.expected) << c.what;
}

TEST(ProgramDirRule, ADirectoryTheUserCannotWriteIsNotUsed) {
  Layouts l;
  const fs::path locked = fs::path(l.root.path()) / "opt";
  fs::create_directories(locked);
  chmod(l.root.path().c_str(), 0755);
  chmod(locked.c_str(), 0555);
  // Root may write any directory, so the check runs as an ordinary user.
  const int rc = test::runInChild([&] {
    if (geteuid() == 0 && !test::becomeNobody()) return 2;
    return ChooseProgramDir(locked, "/data", "/home/u") == "/data/korvane" ? 0 : 1;
  });
  EXPECT_EQ(rc, 0);
  chmod(locked.c_str(), 0755);
}

TEST(ProgramDirRule, ShippedFilesBesideABuildElseInShare) {
  Layouts l;
  test::writeFile((l.build / "krv.dct").string(), "d");
  test::writeFile((l.usr / "share/korvane/krv.dct").string(), "d");
  EXPECT_EQ(ShippedFile(l.build, "krv.dct"), l.build / "krv.dct");
  EXPECT_EQ(ShippedFile(l.usr / "bin", "krv.dct"), l.usr / "share/korvane/krv.dct");
  // Missing everywhere: named beside the program, so the error names a sensible place.
  EXPECT_EQ(ShippedFile(l.build, "none.dct"), l.build / "none.dct");
}

}  // namespace
}  // namespace kv
