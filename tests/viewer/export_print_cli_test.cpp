// korvane-fax export and print as a user runs them, read back by other programs: poppler's
// tools for PDF, libtiff's and netpbm's for TIFF, both against `korvane-fax unpack`; and one
// job through a real CUPS queue with the PDF printer, on a private scheduler of its own.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <filesystem>

#include "support/cups_scheduler.h"
#include "support/fax_files.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::FaxPage;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";

int sh(const std::string &cmd, std::string *out = nullptr) {
  return test::Shell(cmd, out);
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Fine, normal and a wide fine page, with text-like content.
    ASSERT_TRUE(test::writeApf(apf, {{test::textRaster(1728, 2300, 1), true},
                                     {test::textRaster(1728, 1140, 2), false},
                                     {test::textRaster(2048, 600, 3), true}}));
    ASSERT_EQ(sh(kTool + " unpack " + apf + " -o " + dir.file("u")), 0);
  }
  test::TempDir dir;
  std::string apf = dir.file("FAX0007.APF");
};

TEST_F(ExportTest, PdfHoldsTheFaxPagesLosslesslyAtTrueSize) {
  const std::string pdf = dir.file("fax.pdf");
  std::string out;
  ASSERT_EQ(sh(kTool + " export " + apf + " -o " + pdf, &out), 0) << out;
  // Readable like any new file, not private like the scratch file it was written as.
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::status(pdf).permissions(), static_cast<fs::perms>(0666 & ~mask));
  ASSERT_EQ(sh("pdfimages -list " + pdf, &out), 0);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 3) << out;
  EXPECT_NE(out.find("ccitt"), std::string::npos) << out;
  ASSERT_EQ(sh("pdfimages " + pdf + " " + dir.file("p")), 0);
  for (int n = 1; n <= 3; ++n)
    EXPECT_TRUE(test::readFile(dir.file("p-00" + std::to_string(n - 1) + ".pbm")) ==
                test::readFile(dir.file("u-" + std::to_string(n) + ".pbm")))
        << "page " << n;
  // 1728 pixels at 8 a millimetre are 216 mm; 2300 fine rows are 298.7 mm.
  ASSERT_EQ(sh("pdfinfo -f 1 -l 3 " + pdf, &out), 0);
  EXPECT_NE(out.find("Page    1 size:  612.28 x 846.71 pts"), std::string::npos) << out;
  EXPECT_NE(out.find("Page    2 size:  612.28 x 839.35 pts"), std::string::npos) << out;
  EXPECT_NE(out.find("Page    3 size:  725.67 x 220.88 pts"), std::string::npos) << out;
}

TEST_F(ExportTest, TiffClassFOpensInLibtiffsTools) {
  const std::string tif = dir.file("fax.tif");
  std::string out;
  ASSERT_EQ(sh(kTool + " export " + apf + " -o " + tif, &out), 0) << out;
  ASSERT_EQ(sh("tiffinfo " + tif + " >/dev/null 2>" + dir.file("warnings")), 0);
  EXPECT_EQ(test::readFile(dir.file("warnings")), "");
  ASSERT_EQ(sh("tiffinfo " + tif, &out), 0);
  EXPECT_EQ(QString::fromStdString(out).count("CCITT Group 3"), 3) << out;
  EXPECT_NE(out.find("Resolution: 204, 98 pixels/inch"), std::string::npos);
  EXPECT_NE(out.find("Resolution: 204, 196 pixels/inch"), std::string::npos);
  EXPECT_EQ(sh("tiffcp -c none " + tif + " " + dir.file("plain.tif")), 0);
  for (int n = 1; n <= 3; ++n) {
    const std::string page = dir.file("t" + std::to_string(n));
    ASSERT_EQ(sh("tiffcp '" + tif + "," + std::to_string(n - 1) + "' " + page + ".tif"), 0);
    ASSERT_EQ(sh("tifftopnm " + page + ".tif > " + page + ".pbm"), 0);
    EXPECT_TRUE(test::readFile(page + ".pbm") ==
                test::readFile(dir.file("u-" + std::to_string(n) + ".pbm")))
        << "page " << n;
  }
}

TEST_F(ExportTest, BadInputWritesNothing) {
  auto bytes = test::readBytes(apf);
  bytes.resize(bytes.size() - 3000);  // page 3 cut short
  const std::string cut = dir.file("CUT.APF");
  test::writeBytes(cut, bytes);
  const std::string pdf = dir.file("old.pdf");
  test::writeFile(pdf, "an older export");
  std::string out;
  EXPECT_EQ(sh(kTool + " export " + cut + " -o " + pdf, &out), 1);
  EXPECT_NE(out.find("page 3"), std::string::npos) << out;
  EXPECT_EQ(test::readFile(pdf), "an older export");
  EXPECT_EQ(sh(kTool + " export " + cut + " -o " + dir.file("x.tif")), 1);
  EXPECT_FALSE(fs::exists(dir.file("x.tif")));
  EXPECT_EQ(sh(kTool + " export " + apf + " -o " + dir.file("x.png")), 2);
  test::writeFile(dir.file("letter.txt"), "Dear Sir");
  EXPECT_EQ(sh(kTool + " export " + dir.file("letter.txt") + " -o " + pdf), 1);
  EXPECT_EQ(sh(kTool + " print " + apf + " --pdf " + pdf + " --pages-per-sheet 3"), 2);
  // Nothing but what the test made is left in the folder.
  for (const auto &name : dir.entries()) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST_F(ExportTest, PrintIntoPdfWithoutWindows) {
  const std::string pdf = dir.file("sheets.pdf"), log = dir.file("FAXPRINT.LOG");
  std::string out;
  ASSERT_EQ(sh(kTool + " print " + apf + " --pdf " + pdf + " --fit --pages-per-sheet 4" +
                   " --header 'FROM ACME $P' --log " + log,
               &out),
            0)
      << out;
  ASSERT_EQ(sh("pdfinfo " + pdf, &out), 0);
  EXPECT_NE(out.find("Pages:           1"), std::string::npos) << out;
  ASSERT_EQ(sh("pdftotext " + pdf + " -", &out), 0);
  for (const char *s : {"FROM ACME 1", "FROM ACME 3", "PAGE: 2 of 3"})
    EXPECT_NE(out.find(s), std::string::npos) << s << " in " << out;
  const std::string lines = test::readFile(log);
  EXPECT_NE(lines.find("Printing " + apf + " started at "), std::string::npos) << lines;
  EXPECT_NE(lines.find("Printing " + apf + " finished at "), std::string::npos) << lines;
}

// A scheduler of our own with one cups-pdf queue.
class CupsQueue {
 public:
  // Empty when it started; otherwise why it could not.
  std::string start() {
    for (const char *f : {"/usr/sbin/lpadmin", "/usr/lib/cups/backend/cups-pdf",
                          "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"})
      if (!fs::exists(f)) return std::string(f) + " is not installed";
    if (std::string why = scheduler_.start(); !why.empty()) return why;
    std::string out;
    if (sh("/usr/sbin/lpadmin -p KorvaneTest -E -v cups-pdf:/ -P "
           "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd",
           &out) != 0)
      return "lpadmin: " + out;
    return {};
  }
  std::string errorLog() const { return scheduler_.errorLog(); }

 private:
  test::CupsScheduler scheduler_;
};

TEST(PrintQueueTest, AJobThroughCupsToThePdfPrinter) {
  CupsQueue queue;
  if (const std::string why = queue.start(); !why.empty())
    GTEST_SKIP() << "no private CUPS scheduler with the PDF printer: " << why;
  test::TempDir dir;
  const std::string apf = dir.file("FAX0009.APF");
  ASSERT_TRUE(test::writeApf(apf, {{test::textRaster(1728, 1100, 5), true}}));
  // The PDF printer files its output under the job owner's home, named after the job.
  const passwd *pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  const fs::path outDir = fs::path(pw->pw_dir) / "PDF";
  // The PDF printer names its file after the job, and its text goes through PostScript, so
  // the job is found by its title and checked by its pixels.
  const std::string marker = "KorvaneQueueTest" + std::to_string(getpid());
  std::string out;
  ASSERT_EQ(sh(kTool + " print " + apf +
                   " --printer KorvaneTest --fit --header '' --footer '' --title " + marker,
               &out),
            0)
      << out;
  fs::path printed;
  for (int i = 0; i < 300 && printed.empty(); ++i) {
    QThread::msleep(100);
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(outDir, ec))
      if (e.path().filename().string().find(marker) != std::string::npos &&
          sh("pdfinfo " + e.path().string(), &out) == 0)
        printed = e.path();
  }
  test::writeFile(dir.file("log"), queue.errorLog());
  ASSERT_FALSE(printed.empty()) << "nothing came out of the queue; see its log";
  EXPECT_NE(out.find("Pages:           1"), std::string::npos) << out;
  ASSERT_EQ(sh("pdftoppm -r 30 -gray " + printed.string() + " " + dir.file("sheet")), 0);
  const QImage sheet(QString::fromStdString(dir.file("sheet-1.pgm")));
  fs::remove(printed);
  ASSERT_FALSE(sheet.isNull());
  // Without header and footer, only the text-like page can darken the sheet.
  int dark = 0;
  for (int y = 0; y < sheet.height(); ++y)
    for (int x = 0; x < sheet.width(); ++x) dark += qGray(sheet.pixel(x, y)) < 200;
  EXPECT_GT(dark, sheet.width() * sheet.height() / 50);
}

}  // namespace
}  // namespace kv
