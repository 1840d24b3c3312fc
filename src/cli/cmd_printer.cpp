// korvane-fax printer install|remove: the fax printer, a print queue whose jobs become faxes in
// the outbox of the user who printed. Setting a queue up is the print system's business and
// needs an administrator; this hands it the queue's backend address and its description file.
#include <grp.h>
#include <unistd.h>

#include <QProcess>
#include <QString>
#include <QUrl>
#include <ostream>

#include "base/program_dir_rule.h"
#include "cli/command.h"

namespace kv::cli {
namespace {

const char *kCmd = "printer";
const char *kQueue = "Korvane-Fax";

// The print system lets root and its administrators' group set up queues; anyone else would
// be asked for a password at the terminal (or hang without one), so they are told at once.
bool mayAdminister() {
  if (geteuid() == 0) return true;
  const group *admins = getgrnam("lpadmin");
  if (!admins) return false;
  if (getegid() == admins->gr_gid) return true;
  gid_t groups[256];
  const int n = getgroups(256, groups);
  for (int i = 0; i < n; ++i)
    if (groups[i] == admins->gr_gid) return true;
  return false;
}

// Runs lpadmin; answers its exit status (-1 when it could not run) with its output in `out`,
// less the deprecation notice every driver-based queue gets.
int lpadmin(const QStringList &args, std::string &out) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.setStandardInputFile(QProcess::nullDevice());
  p.start("lpadmin", args);
  if (!p.waitForStarted(10000)) return -1;
  p.waitForFinished(60000);
  QStringList lines;
  for (const QString &l : QString::fromLocal8Bit(p.readAll()).split('\n', Qt::SkipEmptyParts))
    if (!l.contains("deprecated")) lines << l.trimmed();
  out = lines.join("; ").toStdString();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// lpadmin's own words turned into what the user can do about them.
int explain(Context &ctx, int status, const std::string &out) {
  auto has = [&](const char *s) { return out.find(s) != std::string::npos; };
  std::string why;
  if (status < 0)
    why =
        "lpadmin cannot be run: is the print system's client (Debian package cups-client) "
        "installed?";
  else if (has("Unable to connect") || has("Connection refused") || has("No such file"))
    why =
        "the print system (CUPS) is not running; start it (sudo systemctl start cups) and "
        "try again";
  else if (has("Forbidden") || has("Unauthorized") || has("authoriz") || has("Authentication"))
    why =
        "setting up a printer needs an administrator; run it as root (sudo korvane-fax "
        "printer ...)";
  else if (has("scheme"))
    why =
        "the print system has no fax printer backend (/usr/lib/cups/backend/korvane-fax); "
        "it comes with the korvane package";
  else if (has("does not exist"))
    why = "there is no printer named " + std::string(kQueue);
  else
    why = "lpadmin: " + out;
  ctx.err << "korvane-fax printer: " << why << "\n";
  return exitFailed;
}

int install(Context &ctx) {
  const std::filesystem::path exeDir = ExecutableDir();
  const std::filesystem::path ppd = ShippedFile(exeDir, "korvane-fax.ppd");
  if (!std::filesystem::exists(ppd)) {
    ctx.err << "korvane-fax printer: " << ppd.string()
            << ": the fax printer's description is missing (it comes with the program)\n";
    return exitFailed;
  }
  // The backend finds the user's program directory by the rule the program beside this
  // korvane-fax follows, so the address names this program's folder.
  const QString uri = "korvane-fax:" + QString::fromLatin1(QUrl::toPercentEncoding(
                                           QString::fromStdString(exeDir.string()), "/"));
  std::string out;
  const int status =
      lpadmin({"-p", kQueue, "-E", "-v", uri, "-P", QString::fromStdString(ppd.string()), "-D",
               "Korvane Fax", "-L", "the sender's outbox in Korvane", "-o",
               "printer-error-policy=abort-job", "-o", "printer-is-shared=false"},
              out);
  if (status != 0) return explain(ctx, status, out);
  ctx.out << "Printer " << kQueue << " is set up: what is printed to it becomes a fax in the "
          << "outbox of the user who printed (lp -d " << kQueue
          << " -o fax-number=NUMBER FILE to give the number)\n";
  return exitOk;
}

int removeQueue(Context &ctx) {
  std::string out;
  const int status = lpadmin({"-x", kQueue}, out);
  if (status != 0) return explain(ctx, status, out);
  ctx.out << "Printer " << kQueue << " is removed\n";
  return exitOk;
}

int runPrinter(const Args &args, Context &ctx) {
  const std::string &what = args.positional()[0];
  if (what != "install" && what != "remove")
    return usageError(ctx, kCmd, "install or remove, not '" + what + "'");
  if (!mayAdminister()) {
    ctx.err << "korvane-fax printer: setting up a printer needs an administrator; run it as "
               "root (sudo korvane-fax printer "
            << what << ")\n";
    return exitFailed;
  }
  return what == "install" ? install(ctx) : removeQueue(ctx);
}

}  // namespace

Command printerCommand() {
  Command c;
  c.name = kCmd;
  c.synopsis = "install|remove";
  c.summary = "set up or remove the fax printer that turns print jobs into faxes";
  c.description =
      "install sets up the print queue Korvane-Fax: anything printed to it becomes a fax in\n"
      "the outbox (the sent-fax table) of the user who printed, the printed pages following the\n"
      "cover sheet. Job options: fax-number=NUMBER, fax-recipient=NAME, fax-cover=TEMPLATE\n"
      "(a cover sheet template's description) and fax-subject=TEXT (default: the job's\n"
      "title), as in: lp -d Korvane-Fax -o fax-number=5550199 letter.pdf. Without a number\n"
      "the program opens the fax editor on the new fax to ask for the recipient. remove takes\n"
      "the queue away. Both need an administrator (root or the lpadmin group) and a running\n"
      "print system; CUPS_SERVER chooses another print server.";
  c.minPositional = c.maxPositional = 1;
  c.run = runPrinter;
  return c;
}

}  // namespace kv::cli
