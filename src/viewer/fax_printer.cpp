#include "viewer/fax_printer.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextStream>
#include <cerrno>

#include "base/error_text.h"
#include "base/exceptions.h"
#include "base/file_error.h"
#include "base/file_replacement.h"
#include "base/temp_file_cleanup.h"
#include "base/work_files.h"
#include "faximage/apf_file.h"
#include "viewer/checked_file_output.h"
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

// A page's line length; the reader remembers the page it found last, so that pages taken in
// order are not searched for from the first.
int pageLineWidth(ApfReader &reader, int page) {
  ApfPageLocation loc;
  return reader.locatePage(page, loc) < 0 ? 0 : loc.header.widthPixels();
}

QString fromUtf8(const std::string &s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Where a job is drawn: a temporary beside the PDF file it is to replace, or a work file in
// the temporary folder for a print queue, removed again however the job ends.
class JobFile {
 public:
  ~JobFile() {
    if (!workName_.empty()) {
      ::unlink(workName_.c_str());
      UnregisterTempFile(workName_);
    }
  }
  // Answers the descriptor to write, or a negative code with why() naming the file.
  Result open(bool toPdf, const QString &pdfOut, const QString &input) {
    if (toPdf) {
      const std::string out = QFile::encodeName(pdfOut).toStdString();
      Result r = replacement_.prepare(out, QFile::encodeName(input).toStdString());
      if (r >= 0) {
        replacement_.removeStaleTemporaries();
        r = replacement_.createTemp();
      }
      if (r < 0) why_ = pdfOut + ": " + fromUtf8(replacement_.problem());
      return r;
    }
    const std::string dir = QFile::encodeName(QDir::tempPath()).toStdString();
    RemoveStaleWorkFiles(dir, kWorkPrefix, ".pdf");
    workName_ = WorkFileName(dir, kWorkPrefix, ".pdf");
    RegisterTempFile(workName_);
    const int fd = ::open(workName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      const int e = errno;
      why_ = QFile::decodeName(workName_.c_str()) + ": " + fromUtf8(SystemReason(e));
      return fileErrorCode(e);
    }
    return fd;
  }
  // Moves a finished PDF into place.
  Result commit() {
    const Result r = replacement_.commit();
    if (r < 0) why_ = fromUtf8(replacement_.target() + ": " + replacement_.problem());
    return r;
  }
  QString workName() const { return QFile::decodeName(workName_.c_str()); }
  const QString &why() const { return why_; }

 private:
  static constexpr const char *kWorkPrefix = "korvane-print-";
  FileReplacement replacement_;
  std::string workName_;
  QString why_;
};

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
  Result failure = ecOK;
  QString failureText;
  // The job is drawn into a PDF beside its destination (or in the temporary folder for a
  // printer) and only moved or queued once complete.
  JobFile jobFile;
  const Result fd = jobFile.open(toPdf, target.outputFileName(), fileName_);
  if (fd < 0) {
    failure = fd;
    failureText = jobFile.why();
  }
  CheckedFileOutput output(fd);
  ApfReader pages;
  if (failure == ecOK) {
    if (const Result r = pages.open(fileName_.toStdString()); r < 0) {
      failure = r;
      failureText = fileName_ + ": " + fromUtf8(errorText(r));
    }
  }

  QPdfWriter job(&output);
  job.setPageLayout(target.pageLayout());
  job.setTitle(Caption);
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
        failureText = toPdf ? target.outputFileName() : jobFile.workName();
        failureText += QStringLiteral(": the page cannot be drawn there");
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
      failureText = QStringLiteral("%1, page %2: ").arg(fileName_).arg(page) +
                    (r == ecCantMakeBitmap ? QStringLiteral("more than 65536 lines; not a fax page")
                                           : fromUtf8(errorText(r)));
      break;
    }
    SetProgress(ppComposing);
    bm = fullWidth(std::move(bm), pageLineWidth(pages, page));
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
  // The writer does not say when the disk is full; the device does, once all of it is out.
  output.close();
  if (failure == ecOK && output.result() < 0) {
    failure = output.result();
    failureText = (toPdf ? target.outputFileName() : jobFile.workName()) +
                  QStringLiteral(": cannot be written: ") + fromUtf8(output.systemReason());
  }

  auto finish = [this] {
    SetProgress(ppIdle);
    if (StatusDisplay) StatusDisplay->Hide();
    currentPage_ = 0;
    printing_ = false;
  };
  if (aborted_) {
    finish();
    return;
  }
  if (failure == ecOK && begun) {
    if (toPdf) {
      // Replaces an older file of the same name in one step.
      if (const Result r = jobFile.commit(); r < 0) {
        failure = r;
        failureText = jobFile.why();
      }
    } else {
      QString why;
      if (SubmitPdf(target.printerName(), jobFile.workName(), Caption, target.copyCount(), why) <
          0) {
        failure = ecDeviceWrite;
        failureText = target.printerName() + ": " + why;
      }
    }
  }
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
