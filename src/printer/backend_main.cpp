// The fax printer's backend: the print system runs it (as root, from its backend folder under
// the name korvane-fax) for each job of a Korvane-Fax queue. It reads the job, becomes the user
// who printed, files the job in that user's program directory and makes it a row of the user's
// sent-fax table when the table is free (else the running program takes it in). Messages go to
// the print system's log and the job's state, prefixed as it expects.
#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <iostream>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "app/settings_link.h"
#include "base/program_dir_rule.h"
#include "compose/printed_jobs.h"
#include "printer/backend_job.h"
#include "printer/become_user.h"

namespace {

int fail(kv::BackendExit code, const std::string &why) {
  std::cerr << "ERROR: " << why << std::endl;
  return code;
}

}  // namespace

int main(int argc, char **argv) {
  using namespace kv;
  // Asked for its devices, the backend names the one address it serves.
  if (argc == 1) {
    std::cout << "direct korvane-fax:/ \"Korvane Fax\" \"Korvane fax printer\"" << std::endl;
    return backendOk;
  }
  BackendJob job;
  std::string error;
  if (!ParseBackendArgs(argc, argv, job, error)) return fail(backendFailed, error);
  // What the job asks for is checked before anything is done for it.
  PrintedJob fax;
  if (!FaxOfJob(job, fax, error)) return fail(backendCancel, "job " + job.id + ": " + error);

  const passwd *pw = getpwnam(job.user.c_str());
  if (!pw)
    return fail(backendCancel, "the job's user \"" + job.user +
                                   "\" is not a user of this computer; the fax printer keeps "
                                   "faxes only in a user's own outbox");
  // Kept apart from the library's buffer, which later look-ups overwrite.
  const std::string name = pw->pw_name, home = pw->pw_dir;
  passwd user = *pw;
  user.pw_name = const_cast<char *>(name.c_str());
  user.pw_dir = const_cast<char *>(home.c_str());

  // The job's file lies in the print system's spool, which only root reads: it is read first.
  QFile in;
  const bool opened = job.file.empty() ? in.open(stdin, QIODevice::ReadOnly)
                                       : (in.setFileName(QString::fromStdString(job.file)),
                                          in.open(QIODevice::ReadOnly));
  if (!opened) return fail(backendFailed, job.file + ": " + in.errorString().toStdString());
  const QByteArray pdf = in.readAll();
  in.close();

  if (!BecomeUser(user, error)) return fail(backendStop, error);

  const char *uri = getenv("DEVICE_URI");
  const std::filesystem::path exeDir =
      ProgramFolderOfUri(uri ? uri : argv[0], KORVANE_INSTALL_BINDIR);
  const std::filesystem::path dir = ChooseProgramDir(exeDir, "", home);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir))
    return fail(backendCancel, dir.string() + ": the program directory of " + job.user +
                                   " cannot be made: " + ec.message());
  SetProgramDir(QString::fromStdString(dir.string()));

  // Rich text needs a window-less graphical application for its fonts.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  char appName[] = "korvane-fax-backend";
  char *qtArgv[] = {appName, nullptr};
  QGuiApplication app(qtArgc, qtArgv);

  QString problem;
  if (!FilePrintedJob(pdf, "job" + QString::fromStdString(job.id), fax, problem))
    return fail(backendCancel,
                "job " + job.id + " is not a document that can be faxed: " + problem.toStdString());

  TSettingsLink settings;
  settings.Load();
  TFaxRecords records;
  const TakeInResult taken = TakeInPrintedJobs(records, settings.Data);
  for (const QString &p : taken.problems) std::cerr << "WARNING: " << p.toStdString() << std::endl;
  if (taken.waiting > 0)
    std::cerr << "INFO: the fax waits in " << PrintedJobsDir().toStdString()
              << " until Korvane takes it into the outbox" << std::endl;
  else
    std::cerr << "INFO: the fax is in the outbox of " << job.user
              << (fax.faxNumber.isEmpty() ? ", waiting for its recipient" : "") << std::endl;
  return backendOk;
}
