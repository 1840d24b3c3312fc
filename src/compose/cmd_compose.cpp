// korvane-fax compose: a fax appended to the sent-fax table as the fax editor's Accept appends
// it, with a cover sheet from a template (its merge fields kept, to be filled when the fax is
// drawn) or from an RTF file, and a document from an RTF or text file.
#include <QFileInfo>
#include <QGuiApplication>
#include <memory>
#include <ostream>

#include "app/codepage_fit.h"
#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "app/settings_link.h"
#include "compose/cmd_common.h"
#include "compose/compose_fax.h"
#include "compose/fax_row.h"
#include "compose/record_commands.h"

namespace kv::cli {
namespace {

const char *kCmd = "compose";

// Tells what a text becomes in the table when it does not fit as given.
void noteStored(Context &ctx, const char *what, const QString &text, int width) {
  const QString stored = FitToCp1252(text).left(width);
  if (stored != text)
    ctx.err << "korvane-fax compose: " << what << " stored as \"" << Utf8(stored) << "\""
            << (FitsCp1252(text) ? " (cut to " + std::to_string(width) + " characters)"
                                 : " (characters outside Windows-1252 replaced)")
            << "\n";
}

int runCompose(const Args &args, Context &ctx) {
  if (!args.has("recipient") || !args.has("fax"))
    return usageError(ctx, kCmd, "--recipient and --fax are needed");
  if (args.has("cover-template") && args.has("cover"))
    return usageError(ctx, kCmd, "--cover-template and --cover exclude each other");
  if (!UseProgramDir(args, ctx, kCmd)) return exitFailed;

  // The documents need fonts, which need a (window-less) GUI application.
  std::unique_ptr<QGuiApplication> app;
  if (!QCoreApplication::instance()) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "korvane-fax";
    static char *argv[] = {name, nullptr};
    app = std::make_unique<QGuiApplication>(argc, argv);
  }

  const FaxRowText text{QString::fromStdString(*args.value("recipient")),
                        QString::fromStdString(*args.value("fax")),
                        QString::fromStdString(args.value("subject").value_or(""))};
  ComposeSource source;
  source.coverTemplate = QString::fromStdString(args.value("cover-template").value_or(""));
  source.coverFile = QString::fromStdString(args.value("cover").value_or(""));
  source.documentFile = QString::fromStdString(args.value("doc").value_or(""));
  TSettingsLink settings;
  settings.Load();
  TFaxRecords records;
  QString error;
  const bool appended = AppendComposedFax(records, settings.Data, source, text, error);
  ReportRepairs(ctx, kCmd, records.CoverTable);
  ReportRepairs(ctx, kCmd, records.FaxTable);
  if (!appended) {
    ctx.err << "korvane-fax compose: " << Utf8(error) << "\n";
    return exitFailed;
  }
  noteStored(ctx, "recipient", text.recipient, kRecipientLength);
  noteStored(ctx, "fax number", text.phone, kFaxNumberLength);
  noteStored(ctx, "subject", text.subject, kSubjectLength);
  ctx.out << records.FaxTable.RecNo() << "\n";
  return exitOk;
}

}  // namespace

Command composeCommand() {
  Command c;
  c.name = kCmd;
  c.synopsis =
      "[--program-dir DIR] --recipient NAME --fax NUMBER [--subject TEXT]\n"
      "        [--cover-template DESCRIPTION | --cover FILE.rtf] [--doc "
      "FILE.rtf|FILE.pdf|FILE.txt]";
  c.summary = "add a fax to the program's sent-fax table, ready to send";
  c.description =
      "Appends a fax to the sent-fax table KRV.DBF of the program directory, as the fax\n"
      "editor's Accept does, and prints the new row's number. The cover sheet comes from a\n"
      "cover sheet template of KRVCOV.DBF (by its description) or from an RTF file; its merge\n"
      "fields stay fields and get the row's recipient, fax number and subject, the sender of\n"
      "the preferences, the page count and the date and time when the fax is drawn to be sent\n"
      "or viewed. The document\n"
      "is an RTF file, a PDF document (its pages are faxed after the cover sheet; the row\n"
      "names the file, which must still be there when the fax is sent) or a text file\n"
      "(UTF-8 or Windows-1252). Recipient, fax number and subject\n"
      "are cut to 35, 25 and 50 characters; characters outside Windows-1252 are stored as\n"
      "their nearest equivalent or \"?\" (a note on stderr says so). The program must not have\n"
      "the table open at the same time; a compose holding it is waited for a second.";
  c.options = {
      {"program-dir", 0, "DIR", "directory of the tables (default: the program's directory)"},
      {"recipient", 0, "NAME", "recipient's name"},
      {"fax", 0, "NUMBER", "recipient's fax number"},
      {"subject", 0, "TEXT", "subject of the fax"},
      {"cover-template", 0, "DESCRIPTION", "cover sheet from this template"},
      {"cover", 0, "FILE.rtf", "cover sheet from this RTF file"},
      {"doc", 0, "FILE", "the document: an .rtf or .pdf file, or any other file as text"}};
  c.run = runCompose;
  return c;
}

}  // namespace kv::cli
