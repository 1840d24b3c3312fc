// korvane-fax send-row: a row of the program's sent-fax table rendered, sent with the settings of
// KRV.INI and written back, as the main window's Send does it, without windows.
#include <QFileInfo>
#include <chrono>
#include <ostream>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "app/settings_link.h"
#include "base/error_text.h"
#include "base/temp_file_cleanup.h"
#include "cli/port_args.h"
#include "cli/progress_report.h"
#include "cli/send_session.h"
#include "comm/com_port.h"
#include "compose/cmd_common.h"
#include "compose/fax_row.h"
#include "fax/fax_text.h"
#include "fax/send_fax.h"
#include "modem/port_options.h"
#include "richtext/rich_document.h"
#include "sending/row_send.h"
#include "sending/send_commands.h"
#include "sending/send_options.h"
#include "sending/send_port.h"
#include "sending/sent_archive.h"

namespace kv::cli {
namespace {

const char *kCmd = "send-row";

int runSendRow(const Args &args, Context &ctx) {
  int recno = 0;
  if (!parseInt(args.positional()[0], 1, 1000000000, recno))
    return usageError(ctx, kCmd, "N is the row's number (1 or more), as compose prints it");
  PortOptions po;
  po.device = args.value("device").value_or("");
  if (auto p = args.value("port"); p && !parseInt(*p, 1, 50, po.number))
    return usageError(ctx, kCmd, "--port takes a number from 1 to 50");
  if (!po.device.empty() && po.number)
    return usageError(ctx, kCmd, "give at most one of --device PATH and --port N");
  po.traceFile = args.value("trace").value_or("");
  po.logFile = args.value("log").value_or("");
  if (!UseProgramDir(args, ctx, kCmd)) return exitFailed;
  if (!ensureGuiApplication(ctx, kCmd)) return exitFailed;

  TKvFaxLog history;  // outlives the sender that points at it
  TKvSendFax fax;
  if (int code = 0; !applyHistoryOption(args, ctx, kCmd, fax, history, code)) return code;
  if (int code = 0; !applySpeedOption(args, ctx, kCmd, fax, code)) return code;

  // Sending never creates the table: a wrong directory is reported, not filled.
  const QString table = ProgramDir() + "KRV.DBF";
  if (!QFileInfo::exists(table)) {
    ctx.err << "korvane-fax " << kCmd << ": " << Utf8(table) << ": no such table\n";
    return exitFailed;
  }
  TSettingsLink settings;
  settings.Load();
  // Sending with settings the file does not hold would dial another way than the user set.
  if (!settings.LoadProblem().isEmpty()) {
    ctx.err << "korvane-fax " << kCmd << ": " << Utf8(settings.LoadProblem()) << "\n";
    return exitFailed;
  }
  TFaxRecords records;
  if (!records.OpenFaxDBF()) return TableFailure(ctx, kCmd, records.FaxTable);
  TTable &rows = records.FaxTable;
  ReportRepairs(ctx, kCmd, rows);
  if (recno > rows.RecCount() || !rows.GotoRecord(recno)) {
    ctx.err << "korvane-fax " << kCmd << ": " << Utf8(table) << " has no row " << recno
            << " (it has " << rows.RecCount() << ")\n";
    return exitFailed;
  }
  const std::string phone = Utf8(rows.FieldByName("PHONE")->AsString().trimmed());
  // Another program may have written the row: its number is checked before anything is done.
  const SendOptions options = OptionsFromSettings(settings.Data);
  Dialling dial;
  if (std::string reason; !ParseDialling(options, phone, dial, reason)) {
    ctx.err << "korvane-fax " << kCmd << ": row " << recno << " of " << Utf8(table) << ": "
            << reason << "\n";
    return exitFailed;
  }
  if (dial.number.plusDropped())
    ctx.err << "No international prefix is set in the preferences: the \"+\" is not dialled\n";
  ctx.err << Utf8(SendCaption(rows)) << "\n";

  // The row's cover sheet and document into one APF file, as the Send command renders them;
  // interrupted, the work files go with us.
  TempFileSignalCleanup cleanup;
  TRichDocument cover, document;
  TRichTextIO coverIO(cover), documentIO(document);
  RenderContext rc;
  rc.programDir = ProgramDir();
  rc.merge = SenderMergeValues(settings.Data);
  ProgressReport progress(ctx.err, args.has("verbose"));
  rc.status = [&progress](const QString &text) { progress(text.toStdString()); };
  int pages = 0;
  QString faxFile;
  try {
    faxFile = RenderFaxRow(records.FaxApollo, coverIO, documentIO, rc, pages);
    progress.finish();
  } catch (const std::exception &e) {
    progress.finish();
    ctx.err << "Error creating fax file: " << e.what() << "\n";
    return exitFailed;
  }
  if (faxFile.isEmpty()) {
    ctx.err << "Fax has no contents or cover sheet\n";
    return exitFailed;
  }
  const SentFaxFile removeFile(faxFile);
  ctx.err << pages << " page(s) to send\n";

  MainThreadScope mainThread;
  TKvComPort port;
  SetupSendPort(port, ProgramDir().toStdString());
  if (po.device.empty() && !po.number) po.number = options.portItem + 1;
  applyPortOptions(port, po, Utf8(ProgramDir()) + kSettingsFileName);
  fax.SetComPort(&port);
  auto status = [&](const std::string &text) { ctx.err << text << "\n"; };
  std::string message;
  if (!OpenSendPort(port, settings.Data.resetString, status, message)) {
    // Nothing was tried: the row stays as it was.
    ctx.err << "korvane-fax " << kCmd << ": " << terminalText(message) << "\n";
    return exitFailed;
  }
  ConfigureSender(fax, options, Utf8(faxFile), dial, localNow());
  const Result code = runSendSession(fax, mainThread, ctx, kCmd);
  if (std::string detail = fax.SessionErrorDetail(); code < 0 && !detail.empty())
    ctx.err << "Error: " << errorText(code) << " (" << code << "): " << detail << "\n";
  fax.SetComPort(nullptr);
  CloseSendPort(port, settings.Data.afterResetString, status);

  const QString result = QString::fromStdString(SendResultText(code));
  QString error;
  if (!WriteSendResult(rows, pages, result, QDateTime::currentDateTime(), error)) {
    ctx.err << "korvane-fax " << kCmd << ": " << Utf8(error) << "\n";
    ctx.out << Utf8(result) << "\n";
    return exitFailed;
  }
  // The fax is out whatever happens to its copy: a failure to keep it is said, not an exit
  // status that would have a script send it again.
  if (code == 0 && !KeepSentFax(rows, ProgramDir(), faxFile, error))
    ctx.err << "korvane-fax " << kCmd << ": " << Utf8(error) << "\n";
  ctx.out << Utf8(result) << "\n";
  return code == 0 ? exitOk : exitFailed;
}

}  // namespace

Command sendRowCommand() {
  Command c;
  c.name = kCmd;
  c.synopsis = "[--program-dir DIR] [--device PATH | --port N] [options] N";
  c.summary = "send row N of the program's sent-fax table, as the program's Send does";
  c.description =
      "Renders the cover sheet and document of row N of KRV.DBF in the program directory (N as\n"
      "compose prints it) and sends them with the settings of its KRV.INI: port, fax class,\n"
      "rate, dialling, name and station id, reset strings. Writes PAGES and LASTRESULT into the\n"
      "row, and on success SENT, DATESENT and TIMESENT, and keeps the fax as it went out in\n"
      "sent/ of the program directory (View shows it). The port is the settings' one unless\n"
      "--device or --port names another; its trace and log go to KRVSEND.TRC and KRVSEND.LOG.\n"
      "Progress goes to standard error (the pages being drawn on a terminal, or each on a line\n"
      "with --verbose), the result (\"Sent\" or the error text) to standard output; exit 0\n"
      "only when the fax was sent. A port that cannot be opened leaves the row unchanged. The\n"
      "program must not have the table open at the same time.";
  std::vector<OptionSpec> own = {
      {"program-dir", 0, "DIR", "directory of the tables and KRV.INI (default: the program's)"},
      {"verbose", 'v', "", "report each page drawn on stderr"}};
  c.options = sessionOptionSpecs(own);
  c.run = runSendRow;
  c.minPositional = 1;
  c.maxPositional = 1;
  return c;
}

}  // namespace kv::cli
