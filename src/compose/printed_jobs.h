#pragma once
// Faxes that come from the fax printer. Its backend, running as the user who printed, files
// each job in the PRINTED folder of that user's program directory: the PDF, which stays there
// as the row's attached document, and a job file with what the print job said (fax number,
// recipient, cover sheet template, subject). The sent-fax table is opened exclusively, so a job
// becomes a row when its table is free: at once when the program is not running, else in the
// program, which watches the folder. A row without a fax number waits for its recipient: the
// program opens the fax editor on it.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kv {

class TFaxRecords;
struct Settings;

struct PrintedJob {
  QString faxNumber, recipient, subject, coverTemplate;
};

// A text field of a job as it is kept: every control character (C0, DEL, C1) a blank and the
// ends trimmed, so that no escape sequence a job carries reaches a row or a terminal.
QString JobText(const QString &text);

// ProgramDir()'s folder of printed jobs, with a trailing slash.
QString PrintedJobsDir();

// Files a job of the current user: the PDF is written under a name made from `name` and
// checked as a fax document. False with `error` (the PDF's problem, or the file that could not
// be written); nothing is left behind then.
bool FilePrintedJob(const QByteArray &pdf, const QString &name, const PrintedJob &job,
                    QString &error);

struct TakeInResult {
  int rows = 0;          // rows appended
  int waiting = 0;       // jobs left filed (the table could not be opened)
  QStringList problems;  // what went wrong, one line each
};

// Turns every filed job into a new row of KRV.DBF (opened unless `records` has it open). A
// cover sheet template that cannot be used leaves the row without a cover and waiting for the
// user, with a problem line.
TakeInResult TakeInPrintedJobs(TFaxRecords &records, const Settings &settings);

// Rows made from printed jobs that wait for the user (no fax number, or a cover problem), in
// the order they were printed; and forgetting one once the editor has been opened on it.
QList<int> RowsAwaitingUser();
void ForgetAwaitingRow(int recno);

}  // namespace kv
