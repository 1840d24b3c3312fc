#include "viewer/fax_printer.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryFile>
#include <QTextStream>
#include <cstdio>

#include "base/exceptions.h"
#include "faximage/apf_file.h"
#include "viewer/page_image.h"
#include "viewer/print_submit.h"

namespace kv {

namespace {

// A page decoded for printing is widened back to its line length: the unpacker cuts a page
// to its last black pixel, and a half-filled page must not print larger than a full one.
MonoBitmap fullWidth(MonoBitmap bm, int width) {
  if (bm.width >= width || bm.empty()) return bm;
  MonoBitmap out;
  out.width = width;
  out.height = bm.height;
  out.stride = (width + 7) / 8;
  out.bits.assign(static_cast<std::size_t>(out.stride) * bm.height, 0);
  for (int y = 0; y < bm.height; ++y) std::copy(bm.row(y), bm.row(y) + bm.stride, out.row(y));
  return out;
}

int pageLineWidth(const QString &file, int page) {
  ApfReader r;
  ApfPageLocation loc;
  if (r.open(file.toStdString()) < 0 || r.locatePage(page, loc) < 0) return 0;
  return loc.header.widthPixels();
}

}  // namespace

QString PrintProgressWord(int code) {
  static const char *const words[] = {"Idle", "Composing", "Rendering", "Submitting", "Converting"};
  return code >= 0 && code <= 4 ? QString::fromLatin1(words[code]) : QString();
}

bool TKvFaxPrinterLog::Write(TFaxPLCode code, const QString &fileName,
                             const QDateTime &when) const {
  static const char *const verbs[] = {"started", "finished", "aborted", "failed"};
  QFile f(LogFileName);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) return false;
  QTextStream out(&f);
  out << "Printing " << fileName << " " << verbs[code] << " at " << ShortDateText(when.date())
      << " " << LongTimeText(when.time()) << "\n";
  if (code != lcStart) out << "\n";
  out.flush();
  return f.error() == QFile::NoError;
}

TKvCustomFaxPrinter::TKvCustomFaxPrinter() {
  FaxHeader.Caption = QStringLiteral("FILE: $F");
  FaxFooter.Caption = QStringLiteral("PAGE: $P of $N");
  unpacker_.setOptions(0);
  unpacker_.setAutoScaleMode(asDoubleHeight);
}

TKvCustomFaxPrinter::~TKvCustomFaxPrinter() = default;

QPrinter &TKvCustomFaxPrinter::Printer() {
  if (!printer_) {
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setDocName(Caption);
  }
  return *printer_;
}

void TKvCustomFaxPrinter::SetPrinterName(const QString &name) {
  Printer().setOutputFormat(QPrinter::NativeFormat);
  Printer().setPrinterName(name);
}

void TKvCustomFaxPrinter::SetOutputPdf(const QString &path) {
  Printer().setOutputFormat(QPrinter::PdfFormat);
  Printer().setOutputFileName(path);
}

void TKvCustomFaxPrinter::SetFileName(const QString &name) {
  fileName_ = name;
  pageCount_ = 0;
  highRes_ = wide_ = false;
  FirstPage = 1;
  LastPage = 0;
  unpacker_.setInFileName(name.toStdString());
  int count = 0;
  RaiseOnError(unpacker_.numPages(count));
  if (count > 0) {
    std::uint16_t flags = 0;
    RaiseOnError(unpacker_.firstPageFlags(flags));
    highRes_ = flags & apfHighResolution;
    wide_ = flags & apfWide;
  }
  pageCount_ = count;
  LastPage = count;
  if (count > 0) {
    Printer().setFromTo(1, count);
  } else {
    Printer().setFromTo(0, 0);
  }
}

void TKvCustomFaxPrinter::pump() {
  if (MessagePump)
    MessagePump();
  else if (QCoreApplication::instance())
    QCoreApplication::processEvents();
}

void TKvCustomFaxPrinter::SetProgress(int code) {
  if (code != lastProgress_) {
    lastProgress_ = code;
    if (OnFaxPrintStatus) OnFaxPrintStatus(*this, code);
    if (StatusDisplay && StatusDisplay->Visible()) StatusDisplay->Update(*this);
  }
  pump();
}

void TKvCustomFaxPrinter::Log(TFaxPLCode code) {
  if (OnFaxPrintLog) OnFaxPrintLog(*this, code);
  if (FaxPrinterLog) FaxPrinterLog->Write(code, fileName_, QDateTime::currentDateTime());
}

void TKvCustomFaxPrinter::PrintAbort() {
  if (!printing_) return;
  aborted_ = true;
  unpacker_.abort();
  currentPage_ = 0;
  Log(lcAbort);
  if (StatusDisplay) StatusDisplay->Hide();
}

bool TKvCustomFaxPrinter::PrintSetup(QWidget *parent) {
  QPrinter &p = Printer();
  QPrintDialog dialog(&p, parent);
  dialog.setWindowTitle(QStringLiteral("Print"));
  if (pageCount_ > 0) {
    dialog.setMinMax(1, pageCount_);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
  } else {
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  if (p.printRange() == QPrinter::PageRange && p.fromPage() > 0) {
    FirstPage = p.fromPage();
    LastPage = p.toPage();
  } else {
    FirstPage = 1;
    LastPage = pageCount_;
  }
  return true;
}

int TKvCustomFaxPrinter::drawMargin(QPainter &painter, TKvFaxPrinterMargin &m, const QRect &area,
                                    bool top, int page, bool half) {
  QFont f = m.Font;
  if (half) {
    if (f.pixelSize() > 0)
      f.setPixelSize(std::max(1, f.pixelSize() / 2));
    else
      f.setPointSizeF(f.pointSizeF() / 2);
  }
  painter.setFont(f);
  const QFontMetrics fm(f, painter.device());
  m.TextHeight = fm.height();
  const QString text =
      ExpandPrintMacros(m.Caption, fileName_, page, pageCount_, QDateTime::currentDateTime());
  const int lineWidth = std::max(1, painter.device()->logicalDpiX() / 150);
  painter.setPen(QPen(Qt::black, lineWidth));
  if (top) {
    painter.drawText(QRect(area.left(), area.top(), area.width(), m.TextHeight),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    const int y = area.top() + m.TextHeight + 2;
    painter.drawLine(area.left(), y, area.right(), y);
    return y + lineWidth;
  }
  painter.drawText(QRect(area.left(), area.bottom() - m.TextHeight, area.width(), m.TextHeight),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  const int y = area.bottom() - m.TextHeight - 2;
  painter.drawLine(area.left(), y, area.right(), y);
  return y - lineWidth;
}

void TKvCustomFaxPrinter::PrintFax() {
  if (pageCount_ <= 0 || printing_) return;
  aborted_ = false;
  printing_ = true;
  lastErrorDetail_.clear();
  SetProgress(ppIdle);
  if (StatusDisplay) StatusDisplay->Show(*this);
  Log(lcStart);

  QPrinter &target = Printer();
  const bool toPdf = target.outputFormat() == QPrinter::PdfFormat;
  const QString pdfOut = target.outputFileName();
  // The job is drawn into a PDF beside its destination (or in the temporary folder for a
  // printer) and only moved or queued once complete.
  QTemporaryFile temp(toPdf ? QFileInfo(pdfOut).absolutePath() + "/.korvane-print-XXXXXX.pdf"
                            : QDir::tempPath() + "/korvane-print-XXXXXX.pdf");
  Result failure = ecOK;
  QString failureText;
  if (!temp.open()) {
    failure = ecAccessDenied;
    failureText = temp.fileName();
  }
  temp.close();

  QPrinter job(QPrinter::HighResolution);
  job.setOutputFormat(QPrinter::PdfFormat);
  job.setOutputFileName(temp.fileName());
  job.setPageLayout(target.pageLayout());
  job.setDocName(Caption);
  job.setCreator(QStringLiteral("Korvane"));
  const bool landscape = job.pageLayout().orientation() == QPageLayout::Landscape;
  const int perSheet = PagesPerSheet(MultiPage, landscape);

  QPainter painter;
  bool begun = false;
  for (int page = FirstPage; failure == ecOK && page <= LastPage; ++page) {
    pump();
    if (aborted_) break;
    const int distance = page - FirstPage;
    if (!begun) {
      if (!painter.begin(&job)) {
        failure = ecAccessDenied;
        failureText = temp.fileName();
        break;
      }
      begun = true;
      painter.setRenderHint(QPainter::LosslessImageRendering);
    } else if (distance % perSheet == 0) {
      job.newPage();
    }
    if (aborted_) break;
    currentPage_ = page;
    if (OnNextPage) OnNextPage(*this, page, pageCount_);
    if (StatusDisplay && StatusDisplay->Visible()) StatusDisplay->Update(*this);
    SetProgress(ppConverting);
    MonoBitmap bm;
    const Result r = unpacker_.unpackPageToBitmap(page, bm);
    if (r == ecUnpackAbort || aborted_) break;
    if (r < 0) {
      failure = r;
      failureText = QStringLiteral("page %1").arg(page);
      break;
    }
    SetProgress(ppComposing);
    bm = fullWidth(std::move(bm), pageLineWidth(fileName_, page));
    // The image itself.
    const QImage img = PrintImage(bm);
    QRect area = painter.viewport();
    area = PageArea(QRect(QPoint(0, 0), area.size()), MultiPage, landscape, distance % perSheet);
    const bool half = MultiPage;
    if (FaxHeader.Enabled) area.setTop(drawMargin(painter, FaxHeader, area, true, page, half));
    if (FaxFooter.Enabled) area.setBottom(drawMargin(painter, FaxFooter, area, false, page, half));
    const QSize size = PrintedSize(bm.width, bm.height, area.size(), PrintScale, job.resolution());
    SetProgress(ppRendering);
    if (!img.isNull() && !size.isEmpty()) {
      // At true size a page larger than its place is cut, not squeezed.
      int srcW = bm.width, srcH = bm.height;
      if (PrintScale == psNone) {
        const double fullW = bm.width / kFaxDotsPerInchX * job.resolution();
        const double fullH = bm.height / kFaxDotsPerInchY * job.resolution();
        if (size.width() < fullW)
          srcW = std::max(1, static_cast<int>(bm.width * size.width() / fullW));
        if (size.height() < fullH)
          srcH = std::max(1, static_cast<int>(bm.height * size.height() / fullH));
      }
      painter.drawImage(QRect(area.topLeft(), size), img, QRect(0, 0, srcW, srcH));
    }
    SetProgress(ppSubmitting);
  }
  if (begun) painter.end();

  auto finish = [this] {
    SetProgress(ppIdle);
    if (StatusDisplay) StatusDisplay->Hide();
    currentPage_ = 0;
    printing_ = false;
  };
  if (aborted_) {
    QFile::remove(temp.fileName());
    finish();
    return;
  }
  if (failure == ecOK && begun) {
    if (toPdf) {
      // Replaces an older file of the same name in one step.
      // The scratch file is private; the finished one gets the usual permissions.
      const mode_t mask = umask(0);
      umask(mask);
      chmod(QFile::encodeName(temp.fileName()).constData(), 0666 & ~mask);
      if (std::rename(QFile::encodeName(temp.fileName()).constData(),
                      QFile::encodeName(pdfOut).constData()) != 0) {
        failure = ecAccessDenied;
        failureText = pdfOut;
      }
    } else {
      QString why;
      if (SubmitPdf(target.printerName(), temp.fileName(), Caption, target.copyCount(), why) < 0) {
        failure = ecDeviceWrite;
        failureText = target.printerName() + ": " + why;
      }
    }
  }
  QFile::remove(temp.fileName());
  lastErrorDetail_ = failureText;
  if (failure < 0) {
    Log(lcFail);
    finish();
    RaiseOnError(failure);
  }
  Log(lcFinish);
  finish();
}

}  // namespace kv
