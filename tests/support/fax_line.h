#pragma once
// korvane-fax over the simulated line, for end-to-end tests: a scratch folder, and the send and
// receive commands at the line's speed with their output logged in that folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "support/temp_files.h"

namespace kv::test {

inline const std::string kFaxTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";
// A fixed header (no date or time) so the receiver's page can be predicted exactly.
inline const std::string kLineHeader = "KORVANE TEST 555 0100";

class FaxLineFixture : public ::testing::Test {
 protected:
  // Sends `file` to 5551234 from station "555 0100" with the fixed header; `extra` options come
  // before the number. Output goes to <log>.log in the scratch folder.
  std::unique_ptr<Process> send(const std::string &port, const std::string &file,
                                std::vector<std::string> extra = {},
                                const std::string &log = "send", double speed = kLineSpeed) {
    std::vector<std::string> a{kFaxTool, "send",      "--speed",  speedArg(speed), "--device",
                               port,     "--station", "555 0100", "--header",      kLineHeader};
    a.insert(a.end(), extra.begin(), extra.end());
    traceTo(a, log);
    a.push_back("5551234");
    a.push_back(file);
    return std::make_unique<Process>(a, work.path() + "/" + log + ".log");
  }
  // Waits for calls as station "777", storing faxes in `dir` (made if need be).
  std::unique_ptr<Process> receive(const std::string &port, const std::string &dir,
                                   std::vector<std::string> extra = {}, double speed = kLineSpeed) {
    std::filesystem::create_directories(dir);
    std::vector<std::string> a{kFaxTool, "receive", "--speed", speedArg(speed), "--device",
                               port,     "--dir",   dir,       "--station",     "777"};
    a.insert(a.end(), extra.begin(), extra.end());
    traceTo(a, "receive");
    return std::make_unique<Process>(a, work.path() + "/receive.log");
  }
  // The receiver is ready for a call once it says it waits for one.
  static void waitUntilListening(Process &rx) {
    using namespace std::chrono_literals;
    ASSERT_TRUE(rx.waitForOutput(Process::kOursListening, 30s)) << rx.output();
  }
  TempDir work;

 private:
  // With kept scratch folders, the port trace and the dispatch log of each run go there too.
  void traceTo(std::vector<std::string> &a, const std::string &name) {
    if (!keepScratch()) return;
    a.insert(a.end(), {"--trace", work.path() + "/" + name + ".trc", "--log",
                       work.path() + "/" + name + ".dispatch"});
  }
};

}  // namespace kv::test
