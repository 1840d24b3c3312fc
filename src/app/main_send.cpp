// The main window's Send command: the current row of the sent-fax table rendered into an APF
// file, sent through the send window, its outcome written back into the row and, once sent,
// the file kept as the row's record.
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QToolButton>

#include "app/dialogs.h"
#include "app/main_screen.h"
#include "app/program_dir.h"
#include "app/window_placement.h"
#include "sending/row_send.h"
#include "sending/send_fax_form.h"
#include "sending/sent_archive.h"

namespace kv {

void TMainScreen::SendButtonClick() {
  if (!Records.FaxTable.Active() || !TFaxRecords::HasCurrentRow(Records.FaxTable)) {
    Dialogs::beep();
    return;
  }
  // Pointer, button bar and status line come back on every way out.
  struct Restore {
    TMainScreen *w;
    BusyCursor busy;
    ~Restore() {
      w->ButtonBar->setEnabled(true);
      ShowStatus(QString());
      w->SetButtons();
    }
  } restore{this, {}};
  ShowStatus("Preparing files for viewing...");
  QCoreApplication::processEvents();

  QString faxFile;
  try {
    faxFile = CreateFaxFile();
  } catch (const std::exception &e) {
    Dialogs::information(this, "Error creating fax file\n" + QString::fromLocal8Bit(e.what()));
    return;
  }
  if (faxFile.isEmpty()) {
    Dialogs::information(this, "Error creating fax file");
    return;
  }

  QString result;
  QDateTime finished;
  {
    // The send window shows the normal pointer; ours comes back afterwards.
    QApplication::restoreOverrideCursor();
    TSendFaxForm form(this, Settings);
    form.FaxFile = faxFile;
    form.setWindowTitle(SendCaption(Records.FaxTable));
    TField *phone = Records.FaxTable.FieldByName("PHONE");
    form.PhoneNumber = phone ? phone->AsString().trimmed() : QString();
    form.SetOptions(OptionsFromSettings(Settings.Data));
    CenterWindow(&form);
    ShowStatus(QString());
    QCoreApplication::processEvents();
    form.exec();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    result = form.ResultText;
    finished = form.FinishedAt.isValid() ? form.FinishedAt : QDateTime::currentDateTime();
    ButtonBar->setEnabled(true);
    OptionsToSettings(form.Options(), Settings.Data);
    if (!Settings.Save()) Dialogs::error(this, Settings.LastError());
  }

  // A fax that went out is kept as it went, for View to show; the work file goes either way.
  QString error;
  if (!WriteSendResult(Records.FaxTable, PageCount, result, finished, error) ||
      (ResultMeansSent(result.toStdString()) &&
       !KeepSentFax(Records.FaxTable, ProgramDir(), faxFile, error)))
    Dialogs::error(this, error);
  QFile::remove(faxFile);
}

}  // namespace kv
