// Rendering composed faxes into APF files: page files, names and counts, blank faxes, and the
// pages read back by an independent reader (tesseract OCR) with the document's words.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "faximage/apf_file.h"
#include "richtext/fax_render.h"
#include "richtext/rich_document.h"
#include "richtext_support.h"

namespace kv {
namespace {

QByteArray paragraphs(const QString &prefix, int count, const char *format = "\\f0\\fs24") {
  QByteArray rtf = "{\\rtf1{\\fonttbl{\\f0 Times New Roman;}{\\f1 Arial;}}";
  rtf += format;
  rtf += ' ';
  for (int i = 0; i < count; ++i) rtf += (prefix + QString::number(i)).toLatin1() + "\\par ";
  return rtf + "}";
}

QByteArray blankLines(int count) {
  QByteArray rtf = "{\\rtf1 ";
  for (int i = 0; i < count; ++i) rtf += " \\par ";
  return rtf + "}";
}

// Page `n` (1-based) of an APF file as an image, black on white.
QImage apfPage(const QString &path, int n) {
  ApfReader r;
  if (r.open(path.toStdString()) < 0) return {};
  ApfPageLocation loc;
  if (r.locatePage(n, loc) < 0) return {};
  std::vector<std::vector<std::uint8_t>> rows;
  decodeApfPage(r, loc, [&](const std::uint8_t *line, std::size_t bytes) {
    rows.emplace_back(line, line + bytes);
  });
  QImage img(loc.header.widthPixels(), static_cast<int>(rows.size()), QImage::Format_Mono);
  img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  for (int y = 0; y < img.height(); ++y)
    memcpy(img.scanLine(y), rows[y].data(),
           std::min<std::size_t>(rows[y].size(), img.bytesPerLine()));
  return img;
}

QStringList ocrWords(const QImage &page, const QString &dir) {
  const QString png = dir + "/ocr.png";
  page.save(png);
  QProcess p;
  p.start("tesseract", {png, "stdout", "--psm", "4", "-l", "eng"});
  p.waitForFinished(120000);
  return QString::fromUtf8(p.readAllStandardOutput())
      .split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
}

class FaxRender : public ::testing::Test {
 protected:
  bool appReady_ = (test::GuiApp(), true);
  QTemporaryDir dir;
  RenderContext ctx{dir.path() + "/", {}, {}, {}};
  TRichDocument cover, document;
  int pages = -1;
};

TEST_F(FaxRender, CoverThenDocumentJoinedIntoTheFirstPageFile) {
  ASSERT_TRUE(cover.LoadRtf(paragraphs("Cover line ", 3)));
  ASSERT_TRUE(document.LoadRtf("{\\rtf1 first page\\page second page}"));
  const QString name = RenderFax(cover, document, ctx, pages);
  // Named after this process, so that a later run can tell it from a dead process's file.
  const QString ours = QStringLiteral("KRV_%1-").arg(getpid());
  EXPECT_TRUE(name.startsWith(ctx.programDir + ours) && name.endsWith(".APF"))
      << name.toStdString();
  EXPECT_EQ(pages, 3);
  ApfReader r;
  ASSERT_EQ(r.open(name.toStdString()), ecOK);
  EXPECT_EQ(r.header().pageCount, 3);
  // Work files are gone: only the joined fax is left.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QFileInfo(name).fileName()});
  // Pages are 1664 pixels drawn at 50 in a fine-resolution line, 2156 rows, the last pixel
  // black.
  const QImage first = apfPage(name, 1);
  EXPECT_EQ(first.height(), kFaxPageHeight);
  EXPECT_EQ(first.pixelIndex(50 + kFaxPageWidth - 1, kFaxPageHeight - 1), 1);
  EXPECT_EQ(first.pixelIndex(49, kFaxPageHeight - 1), 0);
}

// The id of a process that has ended.
pid_t deadProcess() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

TEST_F(FaxRender, WorkFilesOfEndedProcessesAreClearedAtTheNextRender) {
  const QString dead = QString::number(deadProcess());
  const QString live = QString::number(getppid());
  const QStringList stale = {"KRV_" + dead + "-0.APF", "KRVAX" + dead + "-3.APF",
                             "_TMP" + dead + "-2.BMP"};
  // A running process's files, and names that are not work files of ours, stay.
  const QStringList kept = {"KRV_" + live + "-0.APF", "KRVAX" + live + "-5.APF",
                            "_TMP" + live + "-1.BMP", "KRV_1.APF", "KRV_" + dead + "-x.APF"};
  for (const QString &n : stale + kept) {
    QFile f(ctx.programDir + n);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  ASSERT_TRUE(document.LoadRtf("{\\rtf1 one page}"));
  const QString name = RenderFax(cover, document, ctx, pages);
  EXPECT_EQ(pages, 1);
  QStringList want = kept;
  want.append(QFileInfo(name).fileName());
  want.sort();
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name), want);
  EXPECT_EQ(FaxZoomPercent(96), 208);
  EXPECT_EQ(FaxZoomPercent(120), 166);
}

TEST_F(FaxRender, AFailureLeavesNoPageFiles) {
  // The cover's pages are made before the attached PDF turns out not to be one.
  ASSERT_TRUE(cover.LoadRtf(paragraphs("Cover line ", 3)));
  QFile notPdf(dir.path() + "/letter.pdf");
  ASSERT_TRUE(notPdf.open(QIODevice::WriteOnly));
  notPdf.write("not a PDF document");
  notPdf.close();
  document.SetPdfAttachment(notPdf.fileName());
  EXPECT_ANY_THROW(RenderFax(cover, document, ctx, pages));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"letter.pdf"});
}

TEST_F(FaxRender, BlankCoverAndDocumentGiveNothing) {
  ASSERT_TRUE(cover.LoadRtf("{\\rtf1    \\par \\par\\tab  \\par}"));
  ASSERT_TRUE(document.LoadRtf(blankLines(50)));
  EXPECT_TRUE(IsBlankForFax(cover));
  EXPECT_TRUE(IsBlankForFax(document));
  EXPECT_TRUE(RenderFax(cover, document, ctx, pages).isEmpty());
  EXPECT_EQ(pages, 0);
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
  // 300 blank lines are more than the 256 characters that the quick test looks at.
  ASSERT_TRUE(document.LoadRtf(blankLines(300)));
  EXPECT_FALSE(IsBlankForFax(document));
}

// An independent reader finds the words: tesseract on the unpacked pages of a plain 11 pt
// document gives at least 98 % of its words.
TEST_F(FaxRender, OcrReadsTheRenderedWords) {
  if (QStandardPaths::findExecutable("tesseract").isEmpty()) GTEST_SKIP() << "no tesseract";
  const QStringList words =
      QString(
          "Please find attached the revised delivery schedule for order number seven. The pallets "
          "will arrive on Thursday morning between seven and nine o'clock, and the driver needs "
          "two bay doors open. Call the accounts desk before noon if this causes any difficulty, "
          "so that we can still rebook the vehicle for Friday.")
          .split(' ');
  QByteArray rtf = "{\\rtf1{\\fonttbl{\\f0 Arial;}{\\f1 Times New Roman;}}\\f0\\fs22 ";
  rtf += words.mid(0, 24).join(' ').toLatin1() + "\\par\\f1\\fs24 ";
  rtf += words.mid(24).join(' ').toLatin1() + "\\par}";
  ASSERT_TRUE(document.LoadRtf(rtf));
  const QString name = RenderFax(cover, document, ctx, pages);
  ASSERT_EQ(pages, 1);
  QStringList seen = ocrWords(apfPage(name, 1), dir.path());
  int found = 0;
  for (const QString &w : words)
    if (seen.removeOne(w)) ++found;
  EXPECT_GE(found * 100, words.size() * 98) << found << " of " << words.size() << " words";
}

}  // namespace
}  // namespace kv
