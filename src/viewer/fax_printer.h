#pragma once
// The fax printer: prints the pages of an APF file on a system printer (or into a PDF file),
// one or several fax pages a sheet, with a header and a footer line built from macros, while a
// status display shows progress and offers to abort, and a print log records each job.
//
// Output is drawn into a PDF first and handed to the printer (or moved to the PDF file) only
// when the whole job has been drawn, so a failed or aborted job leaves nothing half printed.
#include <QFont>
#include <QString>
#include <functional>
#include <memory>

#include "faximage/fax_unpacker.h"
#include "viewer/print_layout.h"

class QPrinter;
class QPainter;

namespace kv {

class TKvCustomFaxPrinter;

// Header or footer line.
class TKvFaxPrinterMargin {
 public:
  QString Caption;
  bool Enabled = true;
  QFont Font;
  int TextHeight = 0;  // measured on the printer when a page is printed
};

enum TFaxPLCode { lcStart = 0, lcFinish = 1, lcAbort = 2, lcFail = 3 };

// Appends one line per job event to a text file.
class TKvFaxPrinterLog {
 public:
  QString LogFileName = QStringLiteral("FAXPRINT.LOG");
  // Writes the line of `code` for `fileName`, stamped with `when`. False when it cannot be written.
  bool Write(TFaxPLCode code, const QString &fileName, const QDateTime &when) const;
};

// Progress codes of a print job.
enum TFaxPrintProgress {
  ppIdle = 0,
  ppComposing = 1,
  ppRendering = 2,
  ppSubmitting = 3,
  ppConverting = 4
};
QString PrintProgressWord(int code);

// What shows a job's progress: a window (print_status.h) or the console.
class TKvAbstractFaxPrinterStatus {
 public:
  virtual ~TKvAbstractFaxPrinterStatus() = default;
  virtual void Show(TKvCustomFaxPrinter &printer) = 0;
  virtual void Hide() = 0;
  virtual bool Visible() const = 0;
  // Reads the printer's state again.
  virtual void Update(TKvCustomFaxPrinter &printer) = 0;
};

using TFaxPrnNextPageEvent = std::function<void(TKvCustomFaxPrinter &sender, int cp, int tp)>;
using TFaxPLEvent = std::function<void(TKvCustomFaxPrinter &sender, TFaxPLCode code)>;
using TFaxPrintStatusEvent = std::function<void(TKvCustomFaxPrinter &sender, int statusCode)>;

class TKvCustomFaxPrinter {
 public:
  TKvCustomFaxPrinter();
  virtual ~TKvCustomFaxPrinter();
  TKvCustomFaxPrinter(const TKvCustomFaxPrinter &) = delete;
  TKvCustomFaxPrinter &operator=(const TKvCustomFaxPrinter &) = delete;

  QString Caption = QStringLiteral("KV Fax Printer");
  const QString &FileName() const { return fileName_; }
  // Reads the page count and page 1's resolution and width; the range becomes 1 to the page
  // count. Raises the unpacker's exception when the file cannot be read.
  void SetFileName(const QString &name);
  int PageCount() const { return pageCount_; }
  bool HighResolution() const { return highRes_; }
  int PageWidthPixels() const { return wide_ ? 2048 : 1728; }
  int FirstPage = 1;
  int LastPage = 0;
  int CurrentPage() const { return currentPage_; }
  TKvFaxPrinterMargin FaxHeader, FaxFooter;
  bool MultiPage = false;
  TFaxPrintScale PrintScale = psFitToPage;
  TKvAbstractFaxPrinterStatus *StatusDisplay = nullptr;
  TKvFaxPrinterLog *FaxPrinterLog = nullptr;
  int LastProgress() const { return lastProgress_; }

  TFaxPrnNextPageEvent OnNextPage;
  TFaxPLEvent OnFaxPrintLog;
  TFaxPrintStatusEvent OnFaxPrintStatus;

  // The system printer the job goes to (its page size and orientation are used). Print to a
  // PDF file by giving it an output file name.
  QPrinter &Printer();
  void SetPrinterName(const QString &name);
  void SetOutputPdf(const QString &path);

  // Prints FirstPage..LastPage. Raises the unpacker's exception when a page cannot be decoded
  // (nothing is printed then); an aborted job prints nothing either.
  void PrintFax();
  // The system's print dialog; when confirmed its page range becomes the range to print.
  // False when cancelled.
  bool PrintSetup(class QWidget *parent = nullptr);
  // Stops a running job.
  void PrintAbort();
  bool Printing() const { return printing_; }
  bool Aborted() const { return aborted_; }
  // What the last failed job could not do (a page, a file, a print queue's reason).
  const QString &LastErrorDetail() const { return lastErrorDetail_; }

  // Lets the user interface run during a job (the status window's Abort button).
  std::function<void()> MessagePump;

 protected:
  void SetProgress(int code);
  void Log(TFaxPLCode code);

 private:
  int drawMargin(QPainter &painter, TKvFaxPrinterMargin &m, const QRect &area, bool top, int page,
                 bool half);
  void pump();

  std::unique_ptr<QPrinter> printer_;
  QString fileName_;
  int pageCount_ = 0;
  bool highRes_ = false, wide_ = false;
  int currentPage_ = 0;
  int lastProgress_ = 0;
  bool printing_ = false, aborted_ = false;
  QString lastErrorDetail_;
  TKvFaxUnpacker unpacker_;
};

class TKvFaxPrinter : public TKvCustomFaxPrinter {};

}  // namespace kv
