// Faxes printed to the fax printer, on the main window: the jobs its backend filed while the
// program had the sent-fax table are taken in as rows once no window is in the way, and a row
// that waits for its recipient opens in the fax editor as soon as the program is in front.
#include <QApplication>
#include <QDir>
#include <QFileSystemWatcher>
#include <QTimer>

#include "app/dialogs.h"
#include "app/main_screen.h"
#include "app/program_dir.h"
#include "compose/fax_row.h"
#include "compose/printed_jobs.h"
#include "richtext/rich_document.h"

namespace kv {
namespace {

// Only rows whose document is a printed job's PDF are opened: a row number alone could have
// been reused after the table was packed.
bool isPrintedRow(TFaxRecords &records, int recno) {
  if (!records.FaxTable.Active() || !records.FaxTable.GotoRecord(recno)) return false;
  TRichDocument doc;
  TRichTextIO io(doc);
  return LoadRichText(io, "RTFDOC", records.FaxApollo) &&
         doc.PdfAttachment().startsWith(PrintedJobsDir());
}

}  // namespace

void TMainScreen::WatchPrintedJobs() {
  printedWatch_ = new QFileSystemWatcher(this);
  // The program directory shows the folder of printed jobs appearing; the folder, its jobs.
  auto watchFolder = [this] {
    const QString dir = PrintedJobsDir();
    if (QDir(dir).exists() && !printedWatch_->directories().contains(dir))
      printedWatch_->addPath(dir);
  };
  printedWatch_->addPath(ProgramDir());
  watchFolder();
  connect(printedWatch_, &QFileSystemWatcher::directoryChanged, this, [this, watchFolder] {
    watchFolder();
    TakeInPrintedJobs();
  });
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s == Qt::ApplicationActive) TakeInPrintedJobs();
  });
  TakeInPrintedJobs();
}

void TMainScreen::TakeInPrintedJobs() {
  // An open window (the editor, the send window) works on the current row, which a new row
  // would move: the jobs wait for the next look.
  if (closed_ || takingIn_) return;
  if (QApplication::activeModalWidget()) {
    // One later look, however often the folder changes meanwhile.
    if (!retryQueued_ &&
        !QDir(PrintedJobsDir()).entryList({"*.job", "*.ask"}, QDir::Files).isEmpty()) {
      retryQueued_ = true;
      QTimer::singleShot(2000, this, [this] {
        retryQueued_ = false;
        TakeInPrintedJobs();
      });
    }
    return;
  }
  takingIn_ = true;
  const TakeInResult taken = kv::TakeInPrintedJobs(Records, Settings.Data);
  if (taken.rows > 0) {
    FaxTableCloseAndOpen();
    SetButtons();
  }
  if (!taken.problems.isEmpty())
    Dialogs::error(this, "A fax printed to the fax printer could not be taken in as it was:\n" +
                             taken.problems.join("\n"));
  // In front: each printed fax that waits for its recipient opens in the editor, one by one.
  if (QApplication::applicationState() == Qt::ApplicationActive) {
    for (int recno : RowsAwaitingUser()) {
      ForgetAwaitingRow(recno);
      if (isPrintedRow(Records, recno)) {
        EditSentFax();
        FaxTableCloseAndOpen();
        SetButtons();
      }
    }
  }
  takingIn_ = false;
}

}  // namespace kv
