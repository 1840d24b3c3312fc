// korvane-fax compose: a fax appended to the sent-fax table as the fax editor's Accept appends
// it, with a cover sheet from a template (its merge fields filled as on loading it in the
// editor) or from an RTF file, and a document from an RTF or text file.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringDecoder>
#include <memory>
#include <ostream>

#include "app/codepage_fit.h"
#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "app/settings_link.h"
#include "compose/cmd_common.h"
#include "compose/fax_row.h"
#include "compose/record_commands.h"
#include "pdfpages/pdf_document.h"
#include "richtext/rich_document.h"

namespace kv::cli {
namespace {

const char *kCmd = "compose";

// Text documents: UTF-8 when they are valid UTF-8, else Windows-1252.
QString readText(const QByteArray &bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  QStringDecoder cp1252("windows-1252");
  return cp1252.isValid() ? cp1252.decode(bytes) : QString::fromLatin1(bytes);
}

bool readFile(Context &ctx, const std::string &path, QByteArray &bytes) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) {
    ctx.err << "korvane-fax compose: " << path << ": " << Utf8(f.errorString()) << "\n";
    return false;
  }
  bytes = f.readAll();
  return true;
}

bool loadRtf(Context &ctx, const std::string &path, TRichDocument &doc) {
  QByteArray bytes;
  if (!readFile(ctx, path, bytes)) return false;
  QString error;
  if (doc.LoadRtf(bytes, &error)) return true;
  ctx.err << "korvane-fax compose: " << path << ": " << Utf8(error.isEmpty() ? "not RTF" : error)
          << "\n";
  return false;
}

// Finds the template by its description (exact first, then ignoring case) and loads it.
bool loadTemplate(Context &ctx, TFaxRecords &records, const QString &wanted, TRichDocument &doc) {
  // Looking a template up never creates the template table.
  if (!QFileInfo::exists(ProgramDir() + "KRVCOV.DBF")) {
    ctx.err << "korvane-fax compose: " << Utf8(ProgramDir() + "KRVCOV.DBF")
            << ": no cover sheet templates (make them with Cover Sheets in the program)\n";
    return false;
  }
  if (!records.OpenCoverDBF()) {
    TableFailure(ctx, kCmd, records.CoverTable);
    return false;
  }
  TTable &table = records.CoverTable;
  int exact = 0, caseless = 0;
  QStringList names;
  for (table.First(); !table.Eof(); table.Next()) {
    const QString name = table.FieldByName("DESCRIPT")->AsString().trimmed();
    names << name;
    if (name == wanted && !exact) exact = table.RecNo();
    if (name.compare(wanted, Qt::CaseInsensitive) == 0 && !caseless) caseless = table.RecNo();
  }
  const int recno = exact ? exact : caseless;
  bool ok = recno > 0 && table.GotoRecord(recno);
  if (!ok) {
    ctx.err << "korvane-fax compose: no cover sheet template \"" << Utf8(wanted) << "\" in "
            << Utf8(table.FilePath())
            << (names.isEmpty() ? " (it has none)"
                                : "; there are: \"" + Utf8(names.join("\", \"")) + "\"")
            << "\n";
  } else {
    TRichTextIO io(doc);
    ok = LoadRichText(io, "COVER", records.CoverApollo);
    if (!ok) ctx.err << "korvane-fax compose: the template's text cannot be read\n";
  }
  table.Close();
  return ok;
}

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
  TSettingsLink settings;
  settings.Load();
  TFaxRecords records;
  TRichDocument cover, document;
  ApplyDefaultFont(cover, settings.Data);
  ApplyDefaultFont(document, settings.Data);

  if (auto t = args.value("cover-template")) {
    if (!loadTemplate(ctx, records, QString::fromStdString(*t), cover)) return exitFailed;
  } else if (auto f = args.value("cover")) {
    if (!loadRtf(ctx, *f, cover)) return exitFailed;
  }
  // As in the editor, the merge runs on the recipient's values of this moment.
  RunMerge(cover, {text.recipient, text.phone, text.subject, QDateTime::currentDateTime()});

  if (auto d = args.value("doc")) {
    const QString suffix = QFileInfo(QString::fromStdString(*d)).suffix();
    if (suffix.compare("pdf", Qt::CaseInsensitive) == 0) {
      // The same check and the same attachment as the editor's "Attach PDF...".
      const QString full = QFileInfo(QString::fromStdString(*d)).absoluteFilePath();
      PdfDocument pdf;
      if (pdf.open(full.toStdString()) < 0) {
        ctx.err << "korvane-fax compose: " << *d << ": " << pdf.problem() << "\n";
        return exitFailed;
      }
      document.SetPdfAttachment(full);
    } else if (suffix.compare("rtf", Qt::CaseInsensitive) == 0) {
      if (!loadRtf(ctx, *d, document)) return exitFailed;
    } else {
      QByteArray bytes;
      if (!readFile(ctx, *d, bytes)) return exitFailed;
      QTextCursor cursor(&document);
      document.InsertTextOrRtf(cursor, readText(bytes).remove('\r').replace('\n', '\r'));
    }
  }

  if (!records.OpenFaxDBF()) return TableFailure(ctx, kCmd, records.FaxTable);
  noteStored(ctx, "recipient", text.recipient, kRecipientLength);
  noteStored(ctx, "fax number", text.phone, kFaxNumberLength);
  noteStored(ctx, "subject", text.subject, kSubjectLength);
  QString error;
  if (!WriteFaxRow(records, TRichTextIO(cover), TRichTextIO(document), text, true, error)) {
    ctx.err << "korvane-fax compose: " << Utf8(error) << "\n";
    return exitFailed;
  }
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
      "fields get the recipient, fax number, subject, and today's date and time. The document\n"
      "is an RTF file, a PDF document (its pages are faxed after the cover sheet; the row\n"
      "names the file, which must still be there when the fax is sent) or a text file\n"
      "(UTF-8 or Windows-1252). Recipient, fax number and subject\n"
      "are cut to 35, 25 and 50 characters; characters outside Windows-1252 are stored as\n"
      "their nearest equivalent or \"?\" (a note on stderr says so). The program must not have\n"
      "the table open at the same time.";
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
