// korvane-fax send-row ended by a signal while it renders the row leaves none of its work
// files in the program directory, and a later run clears those of a process killed outright.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";

bool isWorkFile(const std::string &name) {
  for (const char *prefix : {"KRV_", "KRVAX", "_TMP"})
    if (name.rfind(prefix, 0) == 0) return true;
  return name.find("~part") != std::string::npos;
}

std::vector<std::string> workFiles(const test::TempDir &dir) {
  std::vector<std::string> out;
  for (const auto &name : dir.entries())
    if (isWorkFile(name)) out.push_back(name);
  return out;
}

TEST(SendRowFiles, ASignalWhileRenderingLeavesNoWorkFiles) {
  test::TempDir dir("kvsendrow");
  std::string letter = "{\\rtf1 ";
  for (int i = 0; i < 1500; ++i) letter += "A line of the letter that fills many pages.\\par ";
  test::writeFile(dir.file("letter.rtf"), letter + "}");
  const test::ProgramRun composed =
      test::runProgram({kTool, "compose", "--program-dir", dir.path(), "--recipient", "Acme",
                        "--fax", "5551234", "--doc", dir.file("letter.rtf")});
  ASSERT_EQ(composed.code, 0) << composed.output;
  // A file that a killed run left behind.
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  test::waitProgram(ended);
  const std::string stale = "KRV_" + std::to_string(ended) + "-0.APF";
  test::writeFile(dir.file(stale), "left over");

  const pid_t pid = test::startProgram(
      {kTool, "send-row", "1", "--program-dir", dir.path(), "--device", dir.file("no-modem")});
  bool rendering = false;
  for (int i = 0; i < 60000 && !rendering; ++i) {
    for (const auto &name : workFiles(dir)) rendering |= name != stale;
    if (!rendering) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGTERM);
  EXPECT_TRUE(rendering);
  EXPECT_EQ(test::waitProgram(pid), 128 + SIGTERM);
  EXPECT_EQ(workFiles(dir), std::vector<std::string>{}) << "the stale file goes too";
}

}  // namespace
}  // namespace kv
