// The fax printer: macros and sheet layout, then whole jobs printed into PDF and read back by
// poppler's tools (text, images, pixels), the print log, failures and aborts.
#include <QFile>
#include <QPageLayout>
#include <QPrinter>
#include <QRegularExpression>
#include <QTest>
#include <array>
#include <cstdio>

#include "app/test_support.h"
#include "base/exceptions.h"
#include "support/fax_files.h"
#include "support/io_counts.h"
#include "support/ocr_words.h"
#include "support/temp_files.h"
#include "viewer/fax_printer.h"
#include "viewer/print_layout.h"

namespace kv {
namespace {

using test::FaxPage;
using test::markedPage;

int pdfPages(const std::string &pdf) {
  const auto m = QRegularExpression(R"(Pages:\s+(\d+))")
                     .match(QString::fromStdString(test::commandOutput("pdfinfo " + pdf)));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

TEST(PrintLayout, Macros) {
  const QDateTime now(QDate(2026, 3, 4), QTime(9, 5, 7));
  const struct {
    const char *caption, *text;
  } cases[] = {{"PAGE: $P of $N", "PAGE: 2 of 5"},     {"$X", ""}, {"$page $n", "2 5"},
               {"FILE: $F", "FILE: /tmp/FAX0001.APF"}, {"$", ""},  {"cost $$ 5", "cost  5"}};
  for (const auto &c : cases)
    EXPECT_EQ(ExpandPrintMacros(c.caption, "/tmp/FAX0001.APF", 2, 5, now), c.text) << c.caption;
  EXPECT_EQ(ExpandPrintMacros("$D $T", {}, 1, 1, now),
            ShortDateText(now.date()) + " " + LongTimeText(now.time()));
  EXPECT_TRUE(LongTimeText(now.time()).contains("9:05:07") ||
              LongTimeText(now.time()).contains("09:05:07"));
}

TEST(PrintLayout, SheetsAndAreas) {
  const QRect sheet(0, 0, 1000, 1400);
  EXPECT_EQ(PagesPerSheet(false, false), 1);
  EXPECT_EQ(PagesPerSheet(true, false), 4);
  EXPECT_EQ(PagesPerSheet(true, true), 2);
  EXPECT_EQ(PageArea(sheet, false, false, 3), sheet);
  EXPECT_EQ(PageArea(sheet, true, false, 0), QRect(2, 2, 496, 696));
  EXPECT_EQ(PageArea(sheet, true, false, 1), QRect(502, 2, 496, 696));
  EXPECT_EQ(PageArea(sheet, true, false, 2), QRect(2, 702, 496, 696));
  EXPECT_EQ(PageArea(sheet, true, false, 3), QRect(502, 702, 496, 696));
  EXPECT_EQ(PageArea(sheet, true, true, 5), QRect(502, 2, 496, 1396));
  // Fit keeps the paper's proportions; a normal page (rows doubled) like a fine one.
  EXPECT_EQ(PrintedSize(1728, 2200, QSize(864, 5000), psFitToPage, 1200), QSize(864, 1143));
  EXPECT_EQ(PrintedSize(1728, 2200, QSize(5000, 1143), psFitToPage, 1200), QSize(864, 1143));
  // True size: 1728 pixels are 215 mm; cut to the area.
  EXPECT_EQ(PrintedSize(1728, 2200, QSize(9000, 9000), psNone, 203.2), QSize(1728, 2286));
  EXPECT_EQ(PrintedSize(1728, 2200, QSize(800, 500), psNone, 203.2), QSize(800, 500));
}

class PrinterTest : public test::ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();  // fonts need the application first
    printer = std::make_unique<TKvFaxPrinter>();
    file = dir.file("FAX0001.APF");
    pdf = dir.file("out.pdf");
    log.LogFileName = QString::fromStdString(dir.file("FAXPRINT.LOG"));
    printer->FaxPrinterLog = &log;
    printer->FaxHeader.Caption = "FROM ACME $P";
    printer->SetOutputPdf(QString::fromStdString(pdf));
    printer->Printer().setPageSize(QPageSize(QPageSize::A4));
    printer->Printer().setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
  }
  void writePages(int n) {
    std::vector<FaxPage> pages;
    for (int i = 0; i < n; ++i)
      pages.push_back(
          {markedPage(1728, i % 2 ? 1100 : 2200, 100 + 10 * i, 200, 300, 40), i % 2 == 0});
    ASSERT_TRUE(test::writeApf(file, pages));
    printer->SetFileName(QString::fromStdString(file));
  }
  QStringList logLines() {
    QFile f(log.LogFileName);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n');
  }
  test::TempDir dir;
  std::string file, pdf;
  TKvFaxPrinterLog log;
  std::unique_ptr<TKvFaxPrinter> printer;
};

TEST_F(PrinterTest, PagesHeadersAndPixels) {
  writePages(3);
  EXPECT_EQ(printer->PageCount(), 3);
  EXPECT_TRUE(printer->HighResolution());
  std::vector<int> seen;
  printer->OnNextPage = [&](TKvCustomFaxPrinter &, int cp, int tp) {
    seen.push_back(cp);
    EXPECT_EQ(tp, 3);
  };
  printer->PrintFax();
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(printer->CurrentPage(), 0);
  EXPECT_TRUE(QFile::permissions(QString::fromStdString(pdf)) & QFileDevice::ReadOther);
  EXPECT_EQ(pdfPages(pdf), 3);
  const std::string text = test::commandOutput("pdftotext -layout " + pdf + " -");
  for (const char *s :
       {"FROM ACME 1", "PAGE: 1 of 3", "FROM ACME 2", "PAGE: 2 of 3", "PAGE: 3 of 3"})
    EXPECT_NE(text.find(s), std::string::npos) << s << " in\n" << text;
  // Every page image whole, a normal page with its rows doubled.
  const std::string images = test::commandOutput("pdfimages -list " + pdf);
  EXPECT_EQ(std::count(images.begin(), images.end(), '\n'), 2 + 3) << images;
  EXPECT_NE(images.find("1728  2200"), std::string::npos) << images;

  // The sheet at 100 dpi: the header line spans the page image; the block sits at its place
  // and scale on it, with the paper's proportions.
  ASSERT_TRUE(test::run("pdftoppm -r 100 -f 1 -l 1 -gray " + pdf + " " + dir.file("sheet")));
  QImage sheet(QString::fromStdString(dir.file("sheet-1.pgm")));
  ASSERT_FALSE(sheet.isNull());
  int lineY = -1, lineL = 0, lineR = 0;
  for (int y = 0; y < sheet.height() / 4 && lineY < 0; ++y) {
    int l = -1, r = -1;
    for (int x = 0; x < sheet.width(); ++x)
      if (qGray(sheet.pixel(x, y)) < 128) {
        if (l < 0) l = x;
        r = x;
      }
    if (l >= 0 && r - l > sheet.width() / 2) lineY = y, lineL = l, lineR = r;
  }
  ASSERT_GE(lineY, 0);
  const double scale = (lineR - lineL + 1) / 1728.0;  // sheet pixels per fax pixel across
  QRect block;
  for (int y = lineY + 3; y < sheet.height() / 2; ++y)
    for (int x = 0; x < sheet.width(); ++x)
      if (qGray(sheet.pixel(x, y)) < 128) block |= QRect(x, y, 1, 1);
  EXPECT_NEAR(block.left(), lineL + 100 * scale, 2);
  EXPECT_NEAR(block.width(), 300 * scale, 2);
  EXPECT_NEAR(block.height(), 40 * scale * 203.2 / 195.58, 2);

  const QStringList lines = logLines();
  ASSERT_EQ(lines.size(), 4);
  const QString name = QString::fromStdString(file);
  EXPECT_TRUE(lines[0].startsWith("Printing " + name + " started at ")) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].startsWith("Printing " + name + " finished at "));
  EXPECT_EQ(lines[2], "");
  EXPECT_TRUE(
      QRegularExpression(R"( at .+\d \d{1,2}:\d\d:\d\d( ?[AP]M)?$)").match(lines[1]).hasMatch())
      << lines[1].toStdString();
}

TEST_F(PrinterTest, FourPagesASheet) {
  writePages(5);
  printer->MultiPage = true;
  printer->PrintFax();
  EXPECT_EQ(pdfPages(pdf), 2);
  // Where each footer's page number lies on its sheet.
  const std::string boxes = test::commandOutput("pdftotext -bbox " + pdf + " -");
  QRegularExpression word(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" [^>]*>(\S+)</word>)re");
  QRegularExpression pageTag(R"re(<page width="([\d.]+)" height="([\d.]+)")re");
  int sheet = 0;
  double w = 0, h = 0;
  std::vector<std::tuple<int, int, QPointF>> footers;  // sheet, page, position
  QString prev, prev2;
  for (const QString &line : QString::fromStdString(boxes).split('\n')) {
    if (auto m = pageTag.match(line); m.hasMatch()) {
      ++sheet;
      w = m.captured(1).toDouble();
      h = m.captured(2).toDouble();
    }
    if (auto m = word.match(line); m.hasMatch()) {
      if (prev2 == "PAGE:" && m.captured(3) == "of")
        footers.emplace_back(sheet, prev.toInt(),
                             QPointF(m.captured(1).toDouble() / w, m.captured(2).toDouble() / h));
      prev2 = prev;
      prev = m.captured(3);
    }
  }
  ASSERT_EQ(footers.size(), 5u) << boxes;
  const struct {
    int sheet;
    bool right, bottom;
  } want[] = {
      {1, false, false}, {1, true, false}, {1, false, true}, {1, true, true}, {2, false, false}};
  for (int i = 0; i < 5; ++i) {
    auto [s, page, at] = footers[static_cast<std::size_t>(i)];
    EXPECT_EQ(page, i + 1);
    EXPECT_EQ(s, want[i].sheet) << "page " << page;
    EXPECT_EQ(at.x() > 0.5, want[i].right) << "page " << page;
    EXPECT_EQ(at.y() > 0.5, want[i].bottom) << "page " << page;
  }
}

TEST_F(PrinterTest, EmptyRangeFailureAndAbort) {
  writePages(3);
  // From page 3 to page 2: nothing printed, the job still logged.
  printer->FirstPage = 3;
  printer->LastPage = 2;
  printer->PrintFax();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));
  QStringList lines = logLines();
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[0].contains(" started at "));
  EXPECT_TRUE(lines[1].contains(" finished at "));

  // Aborted on page 2: no file, and the log says so.
  QFile::remove(log.LogFileName);
  printer->FirstPage = 1;
  printer->LastPage = 3;
  printer->OnNextPage = [](TKvCustomFaxPrinter &p, int cp, int) {
    if (cp == 2) p.PrintAbort();
  };
  printer->PrintFax();
  EXPECT_TRUE(printer->Aborted());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf)));
  lines = logLines();
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[1].contains(" aborted at "));
  EXPECT_TRUE(dir.entries() == (std::vector<std::string>{"FAX0001.APF", "FAXPRINT.LOG"}));

  // A page that does not decode: the unpacker's code, no file, a failed job in the log; an
  // older file of that name stays as it was.
  printer->OnNextPage = {};
  test::writeFile(pdf, "older");
  auto bytes = test::readBytes(file);
  bytes.resize(bytes.size() - 2000);
  test::writeBytes(file, bytes);
  QFile::remove(log.LogFileName);
  EXPECT_THROW(printer->PrintFax(), EFaxBadFormat);
  EXPECT_EQ(test::readFile(pdf), "older");
  lines = logLines();
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[1].contains(" failed at "));
  EXPECT_FALSE(printer->Printing());
}

TEST_F(PrinterTest, EveryPageIsReadOnce) {
  // Twice the pages, about twice the reads: pages are not searched for from the first.
  long calls[2];
  for (int k = 0; k < 2; ++k) {
    const int pages = 150 * (k + 1);
    ASSERT_TRUE(test::writeBlankPages(file, pages));
    printer->SetFileName(QString::fromStdString(file));
    const long before = test::readCalls();
    printer->PrintFax();
    calls[k] = test::readCalls() - before;
    EXPECT_EQ(pdfPages(pdf), pages);
  }
  EXPECT_LT(calls[1], calls[0] * 5 / 2) << calls[0] << " then " << calls[1];
}

}  // namespace
}  // namespace kv
