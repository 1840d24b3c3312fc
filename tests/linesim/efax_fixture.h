#pragma once
// Shared set-up of the efax line tests: two text pages made with efix, efax as sender and as
// receiver, and the image comparison.
#include <gtest/gtest.h>

#include <thread>

#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "fax_images.h"

namespace kv::test {

inline std::string lines(const char *word, int n) {
  std::string t;
  for (int i = 1; i <= n; ++i)
    t += std::string(word) + " " + std::to_string(i) +
         ": The quick brown fox jumps over the lazy dog 0123456789\n";
  return t;
}

class LineEfaxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pagesDir_ = new TempDir;
    pages_ = kv::test::makeFaxPages(pagesDir_->path(), {lines("Line", 20), lines("Zeile", 25)});
  }
  static void TearDownTestSuite() {
    delete pagesDir_;
    pagesDir_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(pages_.size(), 2u) << "efix could not make the pages"; }

  // efax waiting for a call on `port`, answering on the first ring. cls is efax's class
  // option: "1", "2" or "0" (Class 2.0).
  std::unique_ptr<Process> receiver(const std::string &port, const std::string &cls = "1") {
    return std::make_unique<Process>(
        std::vector<std::string>{"efax", "-v", "ewinc", "-d", port, "-o" + cls, "-w", "-iS0=1",
                                 "-r", work_.path() + "/fax"},
        work_.path() + "/efax-rx.log");
  }
  // Waits until the efax receiver waits for a call.
  static void waitUntilListening(Process &rx) {
    ASSERT_TRUE(rx.waitForOutput(Process::kEfaxListening, std::chrono::seconds(30))) << rx.output();
  }
  // efax sending both pages (with a blank page header, which efax always adds).
  std::unique_ptr<Process> sender(const std::string &port, const std::string &cls = "1") {
    std::vector<std::string> args{"efax",     "-v", "ewinc", "-d", port,
                                  "-o" + cls, "-h", " ",     "-t", "555"};
    args.insert(args.end(), pages_.begin(), pages_.end());
    return std::make_unique<Process>(args, work_.path() + "/efax-tx.log");
  }
  // The received page equals the sent one; efax as sender adds `header` rows on top where it
  // draws its header line, so the first rows of the page itself are skipped there.
  void expectSamePage(const std::string &sentFile, const Bitmap &got, int header) {
    auto sent = kv::test::readTiffPages(sentFile);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(got.width, 1728);
    EXPECT_EQ(got.height, sent[0].height + header);
    EXPECT_EQ(kv::test::differingRows(sent[0], got, header, header ? 16 : 0), 0);
  }

  static inline TempDir *pagesDir_ = nullptr;
  static inline std::vector<std::string> pages_;
  TempDir work_;
};

inline constexpr int kEfaxHeaderRows = 20;

// efax keeps real time, so the pauses it makes grow with the line's speed: a far-end machine,
// whose T.30 timers run in line time, has them four times as long at 4x. Under load efax's
// gap between its page and its post-page message then outlasted the far end's T2. Where efax
// faces the line's own fax machine the line runs at this speed instead.
inline constexpr double kEfaxLineSpeed = 2;

}  // namespace kv::test
