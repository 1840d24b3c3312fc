#include "compose/printed_jobs.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "compose/compose_fax.h"
#include "pdfpages/pdf_document.h"

namespace kv {
namespace {

// A job file is "key=value" lines in UTF-8.
constexpr char kFax[] = "fax-number", kRecipient[] = "recipient", kSubject[] = "subject",
               kCover[] = "cover";

bool writeAtomically(const QString &path, const QByteArray &bytes, QString &error) {
  QSaveFile f(path);
  if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit()) return true;
  error = path + ": " + f.errorString();
  return false;
}

QByteArray jobText(const PrintedJob &job) {
  QByteArray out;
  const std::pair<const char *, QString> lines[] = {{kFax, job.faxNumber},
                                                    {kRecipient, job.recipient},
                                                    {kSubject, job.subject},
                                                    {kCover, job.coverTemplate}};
  for (const auto &[key, value] : lines)
    out += QByteArray(key) + '=' + QString(value).replace('\n', ' ').replace('\r', ' ').toUtf8() +
           '\n';
  return out;
}

PrintedJob readJob(const QByteArray &bytes) {
  PrintedJob job;
  for (const QByteArray &line : bytes.split('\n')) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0) continue;
    const QByteArray key = line.left(eq);
    const QString value = JobText(QString::fromUtf8(line.mid(eq + 1)));
    if (key == kFax) job.faxNumber = value;
    if (key == kRecipient) job.recipient = value;
    if (key == kSubject) job.subject = value;
    if (key == kCover) job.coverTemplate = value;
  }
  return job;
}

QStringList filesOf(const char *pattern) {
  return QDir(PrintedJobsDir()).entryList({pattern}, QDir::Files, QDir::Name);
}

}  // namespace

QString JobText(const QString &text) {
  QString out = text;
  for (QChar &c : out)
    if (c.category() == QChar::Other_Control) c = u' ';
  return out.trimmed();
}

QString PrintedJobsDir() {
  return ProgramDir() + "PRINTED/";
}

bool FilePrintedJob(const QByteArray &pdf, const QString &name, const PrintedJob &job,
                    QString &error) {
  const QString dir = PrintedJobsDir();
  if (!QDir().mkpath(dir)) {
    error = dir + ": cannot be created";
    return false;
  }
  // Named by the time first, so that jobs are taken in in the order they came.
  QString safe = name;
  safe.replace(QRegularExpression("[^A-Za-z0-9_-]+"), "_");
  const QString base =
      QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + "-" + safe.left(40);
  QString stem = base;
  for (int n = 2; QFile::exists(dir + stem + ".pdf"); ++n) stem = base + "-" + QString::number(n);
  const QString pdfPath = dir + stem + ".pdf";
  if (!writeAtomically(pdfPath, pdf, error)) return false;
  PdfDocument check;
  if (check.open(pdfPath.toStdString()) < 0) {
    error = QString::fromStdString(check.problem());
    QFile::remove(pdfPath);
    return false;
  }
  if (!writeAtomically(dir + stem + ".job", jobText(job), error)) {
    QFile::remove(pdfPath);
    return false;
  }
  return true;
}

TakeInResult TakeInPrintedJobs(TFaxRecords &records, const Settings &settings) {
  TakeInResult result;
  const QStringList jobs = filesOf("*.job");
  if (jobs.isEmpty()) return result;
  if (!records.FaxTable.Active() && !records.OpenFaxDBF()) {
    result.waiting = int(jobs.size());
    result.problems << records.OpenError();
    return result;
  }
  const QString dir = PrintedJobsDir();
  for (const QString &file : jobs) {
    const QString stem = dir + file.chopped(4);
    QFile f(dir + file);
    if (!f.open(QIODevice::ReadOnly)) {
      result.problems << dir + file + ": " + f.errorString();
      continue;
    }
    const PrintedJob job = readJob(f.readAll());
    f.close();
    const FaxRowText text{job.recipient, job.faxNumber, job.subject};
    ComposeSource source{job.coverTemplate, {}, stem + ".pdf"};
    QString error;
    bool ask = job.faxNumber.trimmed().isEmpty();
    bool ok = AppendComposedFax(records, settings, source, text, error);
    if (!ok && !source.coverTemplate.isEmpty()) {
      // The document is what was printed; a cover the user can still choose in the editor.
      result.problems << error + "; the fax from " + stem + ".pdf has no cover sheet";
      source.coverTemplate.clear();
      ask = true;
      ok = AppendComposedFax(records, settings, source, text, error);
    }
    if (!ok) {
      // Kept aside for the user to see, not tried again on every look at the folder.
      result.problems << error;
      QFile::rename(dir + file, stem + ".bad");
      continue;
    }
    ++result.rows;
    if (ask) {
      QString ignored;
      writeAtomically(stem + ".ask", QByteArray::number(records.FaxTable.RecNo()) + '\n', ignored);
    }
    QFile::remove(dir + file);
  }
  return result;
}

QList<int> RowsAwaitingUser() {
  QList<int> rows;
  for (const QString &file : filesOf("*.ask")) {
    QFile f(PrintedJobsDir() + file);
    if (!f.open(QIODevice::ReadOnly)) continue;
    const int recno = f.readAll().trimmed().toInt();
    if (recno > 0) rows << recno;
  }
  return rows;
}

void ForgetAwaitingRow(int recno) {
  for (const QString &file : filesOf("*.ask")) {
    QFile f(PrintedJobsDir() + file);
    if (f.open(QIODevice::ReadOnly) && f.readAll().trimmed().toInt() == recno) {
      f.close();
      f.remove();
    }
  }
}

}  // namespace kv
