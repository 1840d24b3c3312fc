// Real PDF documents as fax pages: documents LibreOffice made from the RTF corpus and a scanned
// page made by ImageMagick are converted, and independent readers check the fax file (libtiff
// reads its pages, tesseract finds the words pdftotext finds in the PDF). Protected, damaged and
// incomplete PDFs are refused with their reason and nothing is written.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>

#include "faximage/apf_export.h"
#include "faximage/apf_file.h"
#include "pdfpages/pdf_fax.h"
#include "support/fax_files.h"
#include "support/ocr_words.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::commandOutput;
using test::run;

// LibreOffice documents of one, two and several pages, a form with a table, and lists.
const char *const kCorpus[] = {"fax_cover.lo", "two_page.abiword", "page_breaks.lo",
                               "tabs_lists.lo", "letter.lo"};

constexpr const char *kScanLine1 = "Quarterly delivery report for the northern depot";
constexpr const char *kScanLine2 = "Shipments arrived complete and undamaged";
constexpr const char *kScanWords =
    "Quarterly delivery report for the northern depot Shipments arrived complete and undamaged";

// The documents are made once for the whole program: LibreOffice takes seconds to start.
class PdfFax : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir("korvane-pdf-");
    std::string files;
    for (const char *name : kCorpus)
      files += std::string(" '") + KORVANE_TESTDATA + "/rtf/" + name + ".rtf'";
    haveOffice_ = run("cd '" + dir_->path() + "' && HOME='" + dir_->path() +
                      "' soffice --headless --convert-to pdf" + files);
    // A scanned page: a greyscale image with a line of text and a photograph-like gradient,
    // wrapped into a PDF the way scanner software does (the image is the whole page).
    const std::string scan = dir_->file("scan");
    haveScan_ =
        run("convert -size 1275x1650 xc:white -font DejaVu-Sans -pointsize 40 -annotate "
            "+100+200 '" +
            std::string(kScanLine1) + "' -annotate +100+300 '" + kScanLine2 +
            "' \\( -size 800x600 "
            "gradient:gray10-gray90 -swirl 90 \\) -geometry +200+500 -composite -depth 8 '" +
            scan + ".png' && convert '" + scan +
            ".png' -density 150 -units "
            "PixelsPerInch -depth 8 -compress none '" +
            scan + ".tif' && tiff2pdf -z -o '" + scan + ".pdf' '" + scan + ".tif'");
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string pdf(const std::string &name) { return dir_->file(name + ".pdf"); }

  // Converts and answers the fax file's page count (-1 when the conversion failed).
  int convert(const std::string &in, const std::string &out, bool fine = true) {
    PdfFaxOptions o;
    o.fine = fine;
    const Result r = ConvertPdfToApf(in, out, o, problem_);
    if (r < 0) return -1;
    ApfReader reader;
    return reader.open(out) == ecOK ? reader.header().pageCount : -1;
  }

  static test::TempDir *dir_;
  static bool haveOffice_, haveScan_;
  std::string problem_;
};
test::TempDir *PdfFax::dir_ = nullptr;
bool PdfFax::haveOffice_ = false, PdfFax::haveScan_ = false;

int pdfPages(const std::string &pdf) {
  const std::string info = commandOutput("pdfinfo '" + pdf + "'");
  const auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

struct TiffPages {
  int count = 0, width = 0;
  float yRes = 0;
};
TiffPages readTiff(const std::string &path) {
  TiffPages t;
  if (TIFF *tif = TIFFOpen(path.c_str(), "r")) {
    t.count = TIFFNumberOfDirectories(tif);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yRes);
    TIFFClose(tif);
  }
  return t;
}

// Every page of every document: the same page count, fax-wide fine pages libtiff reads, and
// at least 95 % of pdftotext's words found again by OCR.
TEST_F(PdfFax, DocumentsReadBackByOcr) {
  if (!haveOffice_) GTEST_SKIP() << "LibreOffice could not make the documents";
  std::vector<std::string> names(std::begin(kCorpus), std::end(kCorpus));
  if (haveScan_) names.push_back("scan");
  for (const std::string &name : names) {
    SCOPED_TRACE(name);
    const std::string apf = dir_->file(name + ".apf"), tif = dir_->file(name + ".tif.g4");
    const int pages = convert(pdf(name), apf);
    ASSERT_GT(pages, 0) << problem_;
    EXPECT_EQ(pages, pdfPages(pdf(name)));
    std::string error;
    ASSERT_EQ(ExportApfToTiff(apf, tif, error), ecOK) << error;
    const TiffPages t = readTiff(tif);
    EXPECT_EQ(t.count, pages);
    EXPECT_EQ(t.width, 1728);
    EXPECT_NEAR(t.yRes, 196, 2);
    // A scanned page has no text for pdftotext: its words are the ones drawn on it.
    const auto expected =
        test::plainWords(name == "scan" ? std::string(kScanWords)
                                        : commandOutput("pdftotext '" + pdf(name) + "' -"));
    const auto found = test::plainWords(commandOutput("tesseract '" + tif + "' stdout --psm 4"));
    ASSERT_FALSE(expected.empty());
    EXPECT_GE(test::wordRecall(expected, found), 0.95);
  }
}

// Normal resolution has half the lines of fine for the same page.
TEST_F(PdfFax, NormalResolutionHalvesTheLines) {
  if (!haveOffice_) GTEST_SKIP() << "LibreOffice could not make the documents";
  ASSERT_EQ(convert(pdf("fax_cover.lo"), dir_->file("n.apf"), false), 1) << problem_;
  ASSERT_EQ(convert(pdf("fax_cover.lo"), dir_->file("f.apf"), true), 1) << problem_;
  std::string error;
  ASSERT_EQ(ExportApfToTiff(dir_->file("n.apf"), dir_->file("n.tif"), error), ecOK);
  EXPECT_NEAR(readTiff(dir_->file("n.tif")).yRes, 98, 1);
  EXPECT_LT(fs::file_size(dir_->file("n.apf")), fs::file_size(dir_->file("f.apf")));
}

// Refused documents: the reason names the fault, and nothing is written, not even over a file
// that already had the output's name.
TEST_F(PdfFax, RefusedDocumentsWriteNothing) {
  if (!haveOffice_) GTEST_SKIP() << "LibreOffice could not make the documents";
  const std::string good = pdf("fax_cover.lo");
  ASSERT_TRUE(
      run("qpdf --encrypt secret owner 256 -- '" + good + "' '" + dir_->file("locked.pdf") + "'"));
  ASSERT_TRUE(run("qpdf --encrypt '' owner 256 --print=none -- '" + good + "' '" +
                  dir_->file("noprint.pdf") + "'"));
  const std::string bytes = test::readFile(good);
  test::writeFile(dir_->file("cut.pdf"), bytes.substr(0, bytes.size() / 2));
  // The end mark kept but the body gone: the renderer finds no document in it.
  test::writeFile(dir_->file("mangled.pdf"), bytes.substr(0, 400) + "\n%%EOF\n");
  test::writeFile(dir_->file("letter.pdf"),
                  test::readFile(std::string(KORVANE_TESTDATA) + "/rtf/letter.lo.rtf"));
  struct Case {
    const char *file, *says;
  } cases[] = {
      {"locked.pdf", "password"},  {"noprint.pdf", "does not allow it to be printed"},
      {"cut.pdf", "cut short"},    {"mangled.pdf", "damaged"},
      {"letter.pdf", "not a PDF"}, {"missing.pdf", "No such file"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    const std::string out = dir_->file("out.apf");
    std::ofstream(out) << "keep me";
    EXPECT_EQ(convert(dir_->file(c.file), out), -1);
    EXPECT_NE(problem_.find(c.says), std::string::npos) << problem_;
    std::ifstream in(out);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "keep me");
    fs::remove(out);
    for (const auto &e : fs::directory_iterator(dir_->path()))
      EXPECT_EQ(e.path().filename().string().find("out.apf."), std::string::npos) << e.path();
  }
  // An encryption that needs no password and allows printing is no reason to refuse.
  ASSERT_TRUE(
      run("qpdf --encrypt '' owner 256 -- '" + good + "' '" + dir_->file("open.pdf") + "'"));
  EXPECT_EQ(convert(dir_->file("open.pdf"), dir_->file("open.apf")), 1) << problem_;
}

// The command line: a PDF converted by its extension, and a refusal said on stderr with a
// failing exit status.
TEST_F(PdfFax, CommandLine) {
  if (!haveOffice_) GTEST_SKIP() << "LibreOffice could not make the documents";
  const std::string fax = std::string(KORVANE_BIN_DIR) + "/korvane-fax";
  const std::string out = commandOutput("'" + fax + "' convert '" + pdf("two_page.abiword") +
                                        "' -o '" + dir_->file("cli.apf") + "' --normal");
  EXPECT_NE(out.find("cli.apf: 2 page(s)"), std::string::npos) << out;
  test::writeFile(dir_->file("half.pdf"), test::readFile(pdf("letter.lo")).substr(0, 3000));
  const std::string err =
      commandOutput("'" + fax + "' convert '" + dir_->file("half.pdf") + "' 2>&1; echo status=$?");
  EXPECT_NE(err.find("cut short"), std::string::npos) << err;
  EXPECT_NE(err.find("status=1"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir_->file("half.APF")));
}

}  // namespace
}  // namespace kv
