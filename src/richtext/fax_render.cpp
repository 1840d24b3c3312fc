#include "richtext/fax_render.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <algorithm>
#include <cmath>
#include <vector>

#include "base/exceptions.h"
#include "base/file_replacement.h"
#include "base/temp_file_cleanup.h"
#include "base/work_files.h"
#include "faximage/apf_file.h"
#include "faximage/converter.h"
#include "pdfpages/pdf_fax.h"
#include "richtext/rich_document.h"

namespace kv {
namespace {

void put16(std::vector<unsigned char> &b, std::size_t at, unsigned v) {
  b[at] = v & 0xFF;
  b[at + 1] = (v >> 8) & 0xFF;
}
void put32(std::vector<unsigned char> &b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

std::string localName(const QString &name) {
  return QFile::encodeName(name).toStdString();
}

// A new work file of this process in the program folder, removed should a signal end us.
QString newWorkFile(const QString &dir, const char *prefix, const char *suffix) {
  const std::string name = WorkFileName(localName(dir), prefix, suffix);
  RegisterTempFile(name);
  return QFile::decodeName(name.c_str());
}

void removeWorkFile(const QString &name) {
  QFile::remove(name);
  UnregisterTempFile(localName(name));
}

// Removes a work file when it goes out of scope unless it was kept.
struct WorkFileGuard {
  QString name;
  ~WorkFileGuard() {
    if (!name.isEmpty()) removeWorkFile(name);
  }
};

// The pages after the first go into the first page file as soon as they are made, so that a
// long document never has more than a few work files at once.
void addPageFile(QStringList &pages, WorkFileGuard &page) {
  if (pages.isEmpty()) {
    pages.append(page.name);
    page.name.clear();
    return;
  }
  RaiseOnError(AppendApfPages(localName(pages.first()), localName(page.name)));
}

}  // namespace

bool IsBlankForFax(const TRichDocument &doc) {
  if (doc.IsEmpty()) return true;
  const QString text = doc.toPlainText();
  if (text.size() >= 256) return false;
  // A merge field is content even though it has no plain text.
  if (text.contains(QChar::ObjectReplacementCharacter)) return false;
  int lines = 0;
  for (QTextBlock b = doc.begin(); b.isValid() && lines < 201; b = b.next()) {
    const QStringList parts = b.text().split(QChar(0x2028));
    for (const QString &line : parts) {
      if (lines++ >= 201) break;
      if (!line.trimmed().isEmpty()) return false;
    }
  }
  return true;
}

int FaxZoomPercent(double screenDpi) {
  if (screenDpi <= 0) screenDpi = 96;
  return static_cast<int>(kFaxPageDpi / screenDpi * 100);
}

QString FirstPageFileName(const QString &programDir) {
  return QFile::decodeName(WorkFileName(localName(programDir), "KRV_", ".APF").c_str());
}

void RemoveStaleRenderFiles(const QString &programDir) {
  const std::string dir = localName(programDir);
  RemoveStaleWorkFiles(dir, "KRV_", ".APF");
  RemoveStaleWorkFiles(dir, "KRVAX", ".APF");
  RemoveStaleWorkFiles(dir, "_TMP", ".BMP");
  RemoveStaleTemporaries(dir);  // of the page files being converted
}

int FaxPageHeight(const PageLayoutTw &page) {
  // Letter's 11 inches are 2200 lines at 200 dpi; its fax page has 2156.
  const int lines = static_cast<int>(std::lround(page.height * double(kFaxPageDpi) / 1440.0));
  return std::max(kFaxPageHeight, lines - (2200 - kFaxPageHeight));
}

int DrawFaxPage(TRichDocument &doc, QImage &image, int firstLine) {
  const int height = FaxPageHeight(doc.PageLayout());
  if (image.width() != kFaxPageWidth || image.height() != height ||
      image.format() != QImage::Format_RGB32)
    image = QImage(kFaxPageWidth, height, QImage::Format_RGB32);
  const int dpm = static_cast<int>(std::lround(kFaxPageDpi / 0.0254));
  image.setDotsPerMeterX(dpm);
  image.setDotsPerMeterY(dpm);
  image.fill(Qt::white);
  QPainter p(&image);
  const int next = doc.DrawPage(p, kFaxPageOffset, kFaxPageOffset, kFaxPageWidth - kFaxPageOffset,
                                height - kFaxPageOffset, firstLine);
  // The bottom-right pixel black, so the converter keeps the page's full size.
  p.end();
  image.setPixel(kFaxPageWidth - 1, height - 1, qRgb(0, 0, 0));
  return next;
}

bool SaveMonoBmp(const QImage &image, const QString &path, QString *why) {
  const int w = image.width(), h = image.height();
  const std::uint32_t stride = ((static_cast<std::uint32_t>(w) + 31) / 32) * 4;
  const std::uint32_t offset = 14 + 40 + 8;
  std::vector<unsigned char> out(offset + stride * static_cast<std::uint32_t>(h), 0);
  out[0] = 'B';
  out[1] = 'M';
  put32(out, 2, static_cast<std::uint32_t>(out.size()));
  put32(out, 10, offset);
  put32(out, 14, 40);
  put32(out, 18, static_cast<std::uint32_t>(w));
  put32(out, 22, static_cast<std::uint32_t>(h));
  put16(out, 26, 1);
  put16(out, 28, 1);
  put32(out, 34, stride * static_cast<std::uint32_t>(h));
  const int dpm = image.dotsPerMeterX() > 0 ? image.dotsPerMeterX() : 7874;
  put32(out, 38, static_cast<std::uint32_t>(dpm));
  put32(out, 42, static_cast<std::uint32_t>(dpm));
  put32(out, 46, 2);
  // Palette: 0 black, 1 white.
  put32(out, 54, 0x000000);
  put32(out, 58, 0xFFFFFF);
  const QImage src =
      image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
          ? image
          : image.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    const QRgb *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
    unsigned char *row = out.data() + offset + stride * static_cast<std::uint32_t>(h - 1 - y);
    for (int x = 0; x < w; ++x) {
      // Colours darker than mid-grey are ink (red merge-field labels included).
      const QRgb c = line[x];
      const int lum = qRed(c) * 30 + qGreen(c) * 59 + qBlue(c) * 11;
      if (lum >= 128 * 100) row[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
    }
  }
  std::string problem;
  if (WriteWholeFile(localName(path), out, problem) >= 0) return true;
  if (why) *why = QString::fromStdString(problem);
  return false;
}

int RenderPages(TRichDocument &doc, QStringList &pages, const RenderContext &ctx, int pagesBefore) {
  const WorkFileGuard bmpFile{newWorkFile(ctx.programDir, "_TMP", ".BMP")};
  const QString &bmp = bmpFile.name;
  int drawn = 0;
  QImage page;  // made in the size of the document's paper
  TKvFaxConverter converter;
  converter.setOptions(coYield);
  converter.setResolution(frHigh);
  if (ctx.letMessagesRun)
    converter.MessagePump = [&ctx] {
      ctx.letMessagesRun();
      return true;
    };
  int line = 0;
  do {
    // A long document takes a while; the first page also waits for the layout of all of it.
    if (ctx.status) ctx.status(QStringLiteral("Drawing page %1...").arg(pagesBefore + drawn + 1));
    line = DrawFaxPage(doc, page, line);
    WorkFileGuard name{newWorkFile(ctx.programDir, pages.isEmpty() ? "KRV_" : "KRVAX", ".APF")};
    if (QString why; !SaveMonoBmp(page, bmp, &why))
      throw EInOutError(
          5, "Cannot write the page bitmap " + bmp.toStdString() + ": " + why.toStdString());
    if (ctx.letMessagesRun) ctx.letMessagesRun();
    converter.setInputDocumentType(idBmp);
    converter.setDocumentFile(localName(bmp));
    converter.setOutFileName(localName(name.name));
    converter.ConvertToFile();
    addPageFile(pages, name);
    ++drawn;
  } while (line > 0);
  return drawn;
}

int RenderPdfPages(const QString &pdf, QStringList &pages, const RenderContext &ctx) {
  WorkFileGuard name{newWorkFile(ctx.programDir, pages.isEmpty() ? "KRV_" : "KRVAX", ".APF")};
  PdfFaxOptions options;
  options.progress = [&ctx](int page, int count) {
    if (ctx.status)
      ctx.status(QStringLiteral("Converting PDF page %1 of %2...").arg(page).arg(count));
    if (ctx.letMessagesRun) ctx.letMessagesRun();
    return true;
  };
  std::string problem;
  if (ConvertPdfToApf(localName(pdf), localName(name.name), options, problem) < 0)
    throw EKvException("The attached PDF document " + pdf.toStdString() +
                       " cannot be faxed: " + problem);
  int count = 0;
  {
    ApfReader written;
    RaiseOnError(written.open(localName(name.name)));
    count = written.header().pageCount;
  }
  addPageFile(pages, name);
  return count;
}

QString RenderFax(TRichDocument &cover, TRichDocument &document, const RenderContext &ctx,
                  int &pageCount) {
  pageCount = 0;
  const bool coverBlank = IsBlankForFax(cover);
  const bool pdf = !document.PdfAttachment().isEmpty();
  const bool documentBlank = !pdf && IsBlankForFax(document);
  if (coverBlank && documentBlank) return {};
  auto step = [&ctx](const char *text) {
    if (ctx.status) ctx.status(QString::fromLatin1(text));
    if (ctx.letMessagesRun) ctx.letMessagesRun();
  };
  RemoveStaleRenderFiles(ctx.programDir);
  QStringList pages;
  // Whatever way out a failure takes, the fax made so far goes with it.
  struct Unfinished {
    QStringList &pages;
    ~Unfinished() {
      for (const QString &p : pages) removeWorkFile(p);
    }
  } unfinished{pages};
  step("Creating fax file....");
  int count = 0;
  if (!ctx.merge) {
    if (!coverBlank) count += RenderPages(cover, pages, ctx);
    if (pdf)
      count += RenderPdfPages(document.PdfAttachment(), pages, ctx);
    else if (!documentBlank)
      count += RenderPages(document, pages, ctx, count);
  } else {
    // The page count on the cover needs the document's pages first: they are drawn into a file
    // of their own, which goes after the cover's.
    QStringList documentPages;
    struct Unjoined {
      QStringList &pages;
      ~Unjoined() {
        for (const QString &p : pages) removeWorkFile(p);
      }
    } unjoined{documentPages};
    int documentCount = 0;
    if (pdf)
      documentCount = RenderPdfPages(document.PdfAttachment(), documentPages, ctx);
    else if (!documentBlank)
      documentCount = RenderPages(document, documentPages, ctx);
    if (!coverBlank) {
      MergeValues values = *ctx.merge;
      values.pageCount = documentCount + cover.PageCount(kFaxPageDpi);
      cover.RunMerge([&values](int number) { return MergeFieldValue(number, values); });
      count += RenderPages(cover, pages, ctx);
    }
    pages.append(documentPages);
    documentPages.clear();
    count += documentCount;
  }
  step("Creating fax file........");
  const QString fax = JoinPages(pages);
  // From here the file is the caller's to remove.
  for (const QString &p : pages) UnregisterTempFile(localName(p));
  pages.clear();
  pageCount = count;
  return fax;
}

QString JoinPages(const QStringList &pages) {
  if (pages.isEmpty()) return {};
  const QString first = pages.first();
  for (int i = 1; i < pages.size(); ++i)
    RaiseOnError(AppendApfPages(localName(first), localName(pages[i])));
  for (int i = 1; i < pages.size(); ++i) removeWorkFile(pages[i]);
  return first;
}

}  // namespace kv
