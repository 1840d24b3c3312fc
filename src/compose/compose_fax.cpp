#include "compose/compose_fax.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTextCursor>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "pdfpages/pdf_document.h"
#include "richtext/rich_document.h"

namespace kv {
namespace {

// Text documents: UTF-8 when they are valid UTF-8, else Windows-1252.
QString readText(const QByteArray &bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  QStringDecoder cp1252("windows-1252");
  return cp1252.isValid() ? cp1252.decode(bytes) : QString::fromLatin1(bytes);
}

bool readFile(const QString &path, QByteArray &bytes, QString &error) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    error = path + ": " + f.errorString();
    return false;
  }
  bytes = f.readAll();
  return true;
}

bool loadRtf(const QString &path, TRichDocument &doc, QString &error) {
  QByteArray bytes;
  if (!readFile(path, bytes, error)) return false;
  QString why;
  if (doc.LoadRtf(bytes, &why)) return true;
  error = path + ": " + (why.isEmpty() ? "not RTF" : why);
  return false;
}

// Finds the template by its description (exact first, then ignoring case) and loads it.
bool loadTemplate(TFaxRecords &records, const QString &wanted, TRichDocument &doc, QString &error) {
  // Looking a template up never creates the template table.
  if (!QFileInfo::exists(ProgramDir() + "KRVCOV.DBF")) {
    error = ProgramDir() +
            "KRVCOV.DBF: no cover sheet templates (make them with Cover Sheets in the program)";
    return false;
  }
  if (!records.OpenCoverDBF()) {
    error = records.OpenError();
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
    error = "no cover sheet template \"" + wanted + "\" in " + table.FilePath() +
            (names.isEmpty() ? " (it has none)" : "; there are: \"" + names.join("\", \"") + "\"");
  } else {
    TRichTextIO io(doc);
    ok = LoadRichText(io, "COVER", records.CoverApollo);
    if (!ok) error = "the template's text cannot be read";
  }
  table.Close();
  return ok;
}

}  // namespace

bool LoadComposition(TFaxRecords &records, const ComposeSource &source, TRichDocument &cover,
                     TRichDocument &document, QString &error) {
  if (!source.coverTemplate.isEmpty()) {
    if (!loadTemplate(records, source.coverTemplate, cover, error)) return false;
  } else if (!source.coverFile.isEmpty()) {
    if (!loadRtf(source.coverFile, cover, error)) return false;
  }

  const QString &d = source.documentFile;
  if (d.isEmpty()) return true;
  const QString suffix = QFileInfo(d).suffix();
  if (suffix.compare("pdf", Qt::CaseInsensitive) == 0) {
    // The same check and the same attachment as the editor's "Attach PDF...": every page is
    // drawn once, so that what is accepted here can be sent.
    const QString full = QFileInfo(d).absoluteFilePath();
    PdfDocument pdf;
    if (pdf.openChecked(full.toStdString()) < 0) {
      error = d + ": " + QString::fromStdString(pdf.problem());
      return false;
    }
    document.SetPdfAttachment(full);
    return true;
  }
  if (suffix.compare("rtf", Qt::CaseInsensitive) == 0) return loadRtf(d, document, error);
  QByteArray bytes;
  if (!readFile(d, bytes, error)) return false;
  QTextCursor cursor(&document);
  document.InsertTextOrRtf(cursor, readText(bytes).remove('\r').replace('\n', '\r'));
  return true;
}

bool AppendComposedFax(TFaxRecords &records, const Settings &settings, const ComposeSource &source,
                       const FaxRowText &text, QString &error) {
  TRichDocument cover, document;
  ApplyDefaultFont(cover, settings);
  ApplyDefaultFont(document, settings);
  if (!LoadComposition(records, source, cover, document, error)) return false;
  if (!records.FaxTable.Active() && !records.OpenFaxDBF()) {
    error = records.OpenError();
    return false;
  }
  return WriteFaxRow(records, TRichTextIO(cover), TRichTextIO(document), text, true, error);
}

}  // namespace kv
