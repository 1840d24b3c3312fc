// korvane-fax print: the fax printer without windows, on a print queue or into a PDF file.
#include <QApplication>
#include <QPageLayout>
#include <QPrinter>
#include <cstdlib>
#include <memory>
#include <ostream>

#include "base/exceptions.h"
#include "base/file_replacement.h"
#include "base/temp_file_cleanup.h"
#include "viewer/cmd_print.h"
#include "viewer/fax_printer.h"
#include "viewer/print_submit.h"

namespace kv::cli {

namespace {

// Progress on the console instead of the status window.
class ConsoleStatus : public TKvAbstractFaxPrinterStatus {
 public:
  explicit ConsoleStatus(std::ostream &out) : out_(out) {}
  void Show(TKvCustomFaxPrinter &) override { shown_ = true; }
  void Hide() override { shown_ = false; }
  bool Visible() const override { return shown_; }
  void Update(TKvCustomFaxPrinter &p) override {
    if (p.CurrentPage() != lastPage_ && p.CurrentPage() > 0) {
      lastPage_ = p.CurrentPage();
      out_ << "printing page " << lastPage_ << " of " << p.LastPage << "\n";
    }
  }

 private:
  std::ostream &out_;
  bool shown_ = false;
  int lastPage_ = 0;
};

// Fonts and the print system need an application object; without a display the offscreen
// platform serves.
std::unique_ptr<QApplication> makeApplication() {
  if (QCoreApplication::instance()) return nullptr;
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "korvane-fax";
  static char *argv[] = {name, nullptr};
  return std::make_unique<QApplication>(argc, argv);
}

int runPrint(const Args &args, Context &ctx) {
  const std::string &in = args.positional()[0];
  const auto printerName = args.value("printer");
  const auto pdf = args.value("pdf");
  if (printerName && pdf) return usageError(ctx, "print", "give --printer or --pdf, not both");
  int perSheet = 1;
  if (auto v = args.value("pages-per-sheet"); v && (!parseInt(*v, 1, 4, perSheet) || perSheet == 3))
    return usageError(ctx, "print", "pages per sheet must be 1, 2 or 4");
  int first = 0, last = 0;
  if (auto v = args.value("first"); v && !parseInt(*v, 1, 65535, first))
    return usageError(ctx, "print", "bad page number '" + *v + "' (pages count from 1)");
  if (auto v = args.value("last"); v && !parseInt(*v, 1, 65535, last))
    return usageError(ctx, "print", "bad page number '" + *v + "' (pages count from 1)");
  if (first && last && first > last)
    return usageError(ctx, "print",
                      "the first page (" + std::to_string(first) + ") comes after the last (" +
                          std::to_string(last) + ")");
  // Interrupted, the unfinished job goes with us.
  TempFileSignalCleanup cleanup;

  auto app = makeApplication();
  TKvFaxPrinter printer;
  ConsoleStatus status(ctx.err);
  TKvFaxPrinterLog log;
  printer.StatusDisplay = &status;
  if (auto v = args.value("log")) {
    // The log is appended to: the fax itself must not be.
    if (IsSameFile(*v, in)) {
      ctx.err << "korvane-fax print: " << *v << ": it is the input file, which the log would "
              << "be appended to\n";
      return exitFailed;
    }
    log.LogFileName = QString::fromStdString(*v);
    printer.FaxPrinterLog = &log;
  }
  if (pdf) {
    printer.SetOutputPdf(QString::fromStdString(*pdf));
  } else {
    QString name = printerName ? QString::fromStdString(*printerName) : QString();
    if (name.isEmpty()) {
      const QStringList queues = SystemPrinterNames();
      if (queues.isEmpty()) {
        ctx.err << "korvane-fax print: the system has no printer; give --printer NAME or --pdf "
                   "OUT.pdf\n";
        return exitFailed;
      }
      name = queues.first();
    }
    printer.SetPrinterName(name);
  }
  if (auto v = args.value("paper")) {
    const QString id = QString::fromStdString(*v).toLower();
    const QPageSize size(id == "letter"  ? QPageSize::Letter
                         : id == "legal" ? QPageSize::Legal
                                         : QPageSize::A4);
    if (id != "a4" && id != "letter" && id != "legal")
      return usageError(ctx, "print", "paper must be a4, letter or legal");
    printer.Printer().setPageSize(size);
  }
  // Two pages a sheet are side by side on a sheet turned sideways.
  printer.MultiPage = perSheet > 1;
  printer.Printer().setPageOrientation(perSheet == 2 ? QPageLayout::Landscape
                                                     : QPageLayout::Portrait);
  printer.PrintScale = args.has("fit") ? psFitToPage : psNone;
  QFont font("Arial");
  font.setPointSizeF(8.25);
  printer.FaxHeader.Font = printer.FaxFooter.Font = font;
  if (auto v = args.value("title")) printer.Caption = QString::fromStdString(*v);
  if (auto v = args.value("header")) printer.FaxHeader.Caption = QString::fromStdString(*v);
  if (auto v = args.value("footer")) printer.FaxFooter.Caption = QString::fromStdString(*v);
  printer.FaxHeader.Enabled = !printer.FaxHeader.Caption.isEmpty();
  printer.FaxFooter.Enabled = !printer.FaxFooter.Caption.isEmpty();
  try {
    printer.SetFileName(QString::fromStdString(in));
    if (printer.PageCount() == 0) {
      ctx.err << "korvane-fax print: " << in << " has no pages\n";
      return exitFailed;
    }
    for (int page : {first, last})
      if (page > printer.PageCount())
        return usageError(ctx, "print",
                          in + " has " + std::to_string(printer.PageCount()) +
                              " page(s); there is no page " + std::to_string(page));
    if (first) printer.FirstPage = first;
    if (last) printer.LastPage = last;
    if (printer.FirstPage > printer.LastPage)
      return usageError(ctx, "print",
                        "the first page (" + std::to_string(printer.FirstPage) +
                            ") comes after the last (" + std::to_string(printer.LastPage) + ")");
    printer.PrintFax();
  } catch (const Exception &e) {
    // The printer's detail names the file and says what was wrong with it.
    const QString detail = printer.LastErrorDetail();
    ctx.err << "korvane-fax print: "
            << (detail.isEmpty() ? in + ": " + e.message() : detail.toStdString()) << "\n";
    return exitFailed;
  }
  ctx.out << "printed pages " << printer.FirstPage << " to " << printer.LastPage << " of " << in
          << " on " << (pdf ? *pdf : printer.Printer().printerName().toStdString()) << "\n";
  return exitOk;
}

}  // namespace

Command printCommand() {
  Command c;
  c.name = "print";
  c.synopsis =
      "IN.APF [--printer NAME | --pdf OUT.pdf] [--fit] [--pages-per-sheet 1|2|4] [--header TEXT] "
      "[--footer TEXT]";
  c.summary = "print an APF file on a printer or into a PDF file";
  c.description =
      "Prints the pages of IN.APF as the viewer window does: a header and a footer line on each\n"
      "page ($F file, $P page, $N page count, $D date, $T time), one, two (sideways) or four\n"
      "pages a sheet. Without --fit a page prints at the fax's true size. Without --printer or\n"
      "--pdf the system's default printer is used. An empty --header or --footer leaves it out.";
  c.options = {
      {"printer", 'P', "NAME", "the print queue"},
      {"pdf", 0, "FILE", "print into a PDF file instead"},
      {"fit", 0, "", "scale each page to fill its place on the sheet"},
      {"pages-per-sheet", 0, "N", "1, 2 or 4"},
      {"header", 0, "TEXT", "header line (default \"FILE: $F\")"},
      {"footer", 0, "TEXT", "footer line (default \"PAGE: $P of $N\")"},
      {"first", 0, "N", "first page to print"},
      {"last", 0, "N", "last page to print"},
      {"paper", 0, "SIZE", "a4, letter or legal (default: the printer's)"},
      {"log", 0, "FILE", "append the job's lines to this print log"},
      {"title", 0, "TEXT", "the print job's title (default \"KV Fax Printer\")"},
  };
  c.run = runPrint;
  c.minPositional = c.maxPositional = 1;
  return c;
}

}  // namespace kv::cli
