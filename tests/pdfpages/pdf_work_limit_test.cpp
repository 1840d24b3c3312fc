// Documents built to make drawing endless (nested form objects, each drawing the next twice) are
// refused under the page work limit with a reason naming the page: by the conversion, by the
// check that accepts a document for later sending, and by convert, compose and send-row. The
// limit itself: work stopped for its time, its memory, or a crash, and its answer passed back.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "faximage/apf_file.h"
#include "pdfpages/bounded_work.h"
#include "pdfpages/pdf_document.h"
#include "pdfpages/pdf_fax.h"
#include "support/hostile_pdf.h"
#include "support/ocr_words.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class PdfWorkLimit : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = PdfPageWorkLimit();
    SetPdfPageWorkLimit({1s});
  }
  void TearDown() override { SetPdfPageWorkLimit(saved_); }

  std::string writePdf(const std::string &name, const std::vector<bool> &hostile) {
    const std::string path = dir_.file(name);
    test::writeFile(path, test::nestedFormsPdf(hostile));
    return path;
  }

  WorkLimit saved_;
  test::TempDir dir_{"korvane-pdf-limit-"};
};

// Each page is a hostile one (true) or an ordinary one; `says` is the refusal, "" to accept.
struct DocumentCase {
  std::vector<bool> pages;
  const char *says;
};
const DocumentCase kDocuments[] = {
    {{true}, "page 1 of the PDF document takes too much work to draw (more than 1 second)"},
    {{false, true, false}, "page 2 of the PDF document takes too much work to draw"},
    {{false, false}, ""},
};

TEST_F(PdfWorkLimit, ConversionRefusesTheHostilePageAndWritesNothing) {
  for (const DocumentCase &c : kDocuments) {
    SCOPED_TRACE(c.says);
    const std::string pdf = writePdf("doc.pdf", c.pages), out = dir_.file("out.apf");
    test::writeFile(out, "keep me");
    std::string problem;
    const Result r = ConvertPdfToApf(pdf, out, PdfFaxOptions{}, problem);
    if (*c.says) {
      EXPECT_EQ(r, ecBadGraphicsFormat);
      EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
      EXPECT_EQ(test::readFile(out), "keep me");
    } else {
      ASSERT_EQ(r, ecOK) << problem;
      ApfReader written;
      ASSERT_EQ(written.open(out), ecOK);
      EXPECT_EQ(written.header().pageCount, static_cast<int>(c.pages.size()));
    }
  }
}

TEST_F(PdfWorkLimit, CheckBeforeAcceptingDrawsEveryPage) {
  for (const DocumentCase &c : kDocuments) {
    SCOPED_TRACE(c.says);
    PdfDocument pdf;
    // Opening alone reads no page content: the hostile document opens.
    ASSERT_EQ(pdf.open(writePdf("doc.pdf", c.pages)), ecOK) << pdf.problem();
    const Result r = pdf.openChecked(dir_.file("doc.pdf"));
    EXPECT_EQ(r, *c.says ? ecBadGraphicsFormat : ecOK);
    EXPECT_NE(pdf.problem().find(c.says), std::string::npos) << pdf.problem();
  }
}

// The commands, as a user runs them: the limit from the environment, the reason on stderr
// naming the file and the page, exit status 1, no output file and no row.
TEST_F(PdfWorkLimit, CommandsRefuseTheDocument) {
  const std::string fax =
      "KORVANE_PDF_PAGE_SECONDS=1 QT_QPA_PLATFORM=offscreen '" KORVANE_BIN_DIR "/korvane-fax'";
  const std::string good = writePdf("good.pdf", {false}), bad = writePdf("bad.pdf", {true});
  const std::string programDir = dir_.file("program");
  fs::create_directory(programDir);
  auto runFax = [&](const std::string &args) {
    return test::commandOutput(fax + " " + args + " 2>&1; echo status=$?");
  };
  const std::string reason = "page 1 of the PDF document takes too much work to draw";

  std::string said = runFax("convert '" + bad + "' -o '" + dir_.file("bad.apf") + "'");
  EXPECT_NE(said.find("bad.pdf"), std::string::npos) << said;
  EXPECT_NE(said.find(reason), std::string::npos) << said;
  EXPECT_NE(said.find("status=1"), std::string::npos) << said;
  EXPECT_FALSE(fs::exists(dir_.file("bad.apf")));

  said = runFax("compose --program-dir '" + programDir +
                "' --recipient Yard --fax 5551234 --doc '" + bad + "'");
  EXPECT_NE(said.find("bad.pdf"), std::string::npos) << said;
  EXPECT_NE(said.find(reason), std::string::npos) << said;
  EXPECT_NE(said.find("status=1"), std::string::npos) << said;

  // A document that turned hostile after it was accepted is refused before dialling: the
  // device named does not exist, and is never reached.
  said = runFax("compose --program-dir '" + programDir +
                "' --recipient Yard --fax 5551234 --doc '" + good + "'");
  ASSERT_NE(said.find("status=0"), std::string::npos) << said;
  fs::copy_file(bad, good, fs::copy_options::overwrite_existing);
  said = runFax("send-row --program-dir '" + programDir + "' --device /nonexistent/modem 1");
  EXPECT_NE(said.find("good.pdf"), std::string::npos) << said;
  EXPECT_NE(said.find(reason), std::string::npos) << said;
  EXPECT_EQ(said.find("/nonexistent/modem"), std::string::npos) << said;
  EXPECT_NE(said.find("status=1"), std::string::npos) << said;
}

TEST(BoundedWork, OutcomesOfTheChild) {
  const WorkLimit limit{1s, std::size_t{256} << 20};
  struct Case {
    const char *what;
    std::function<int()> work;
    WorkOutcome outcome;
    int code;
  } cases[] = {
      {"answer", [] { return 7; }, WorkOutcome::Done, 7},
      {"endless",
       [] {
         volatile bool forever = true;
         while (forever) {
         }
         return 0;
       },
       WorkOutcome::OverTime, 0},
      {"too much memory",
       [] {
         std::vector<char> big(std::size_t{1} << 30);
         return static_cast<int>(big.size() & 1);
       },
       WorkOutcome::OverMemory, 0},
      {"crash",
       [] {
         raise(SIGSEGV);
         return 0;
       },
       WorkOutcome::Failed, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const WorkResult r = RunBounded(limit, c.work);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.code, c.code);
  }
}

TEST(BoundedWork, SharedMemoryCarriesTheResultBack) {
  SharedBuffer shared(4096);
  ASSERT_TRUE(shared.valid());
  const WorkResult r = RunBounded({1s}, [&] {
    std::memcpy(shared.data(), "drawn", 6);
    return 0;
  });
  EXPECT_EQ(r.outcome, WorkOutcome::Done);
  EXPECT_STREQ(reinterpret_cast<const char *>(shared.data()), "drawn");
}

}  // namespace
}  // namespace kv
