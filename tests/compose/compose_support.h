#pragma once
// Shared by the composing tests: templates and phone book entries put straight into the
// tables, and the sent row read back by independent readers (python3-dbf for the fields and
// memos, unrtf for the RTF's text).
#include <QDir>
#include <QProcess>
#include <QString>

#include "app/fax_tables.h"
#include "app/rich_text_io.h"
#include "compose/fax_row.h"
#include "richtext/merge_field.h"
#include "richtext/rich_document.h"

namespace kv::test {

// A template whose text has every merge field, one per line after a title.
inline void AddTemplate(TFaxRecords &records, const QString &description,
                        const QString &title = "FAX COVER") {
  ASSERT_TRUE(records.OpenCoverDBF());
  TRichDocument doc;
  QTextCursor c(&doc);
  c.insertText(title + "\n");
  for (int n = 1; n <= kMergeFieldCount; ++n) {
    c.insertText(QStringList{
        "To: ", "Fax: ", "Re: ", "Date: ", "Time: ", "From: ", "Reply fax: ", "Pages: "}[n - 1]);
    doc.InsertMergeField(c, n, MergeFieldLabel(n));
    c.insertText("\n");
  }
  TTable &t = records.CoverTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.FieldByName("DESCRIPT")->SetAsString(description));
  ASSERT_TRUE(SaveRichText(TRichTextIO(doc), "COVER", records.CoverApollo));
  ASSERT_TRUE(t.Post());
  t.Close();
}

inline void AddPhoneEntry(TFaxRecords &records, const QString &name, const QString &number) {
  TTable table;
  TApollo apollo;
  ASSERT_TRUE(records.OpenPhoneDBF(table, apollo));
  ASSERT_TRUE(table.Append());
  table.FieldByName("NAME")->SetAsString(name);
  table.FieldByName("PHONE")->SetAsString(number);
  ASSERT_TRUE(table.Post());
}

inline QString Run(const QString &program, const QStringList &args) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

// A sent row as python3-dbf reads it: "RECIPIENT|PHONE|SUBJECT" of row `recno`; its memos are
// written to <dir>/cover.rtf and <dir>/doc.rtf.
inline QString ReadSentRow(const QString &dir, int recno) {
  const QString script = QStringLiteral(
      "import dbf, sys\n"
      "t = dbf.Table(sys.argv[1] + '/KRV.DBF', codepage='cp1252'); t.open()\n"
      "r = t[int(sys.argv[2]) - 1]\n"
      "open(sys.argv[1] + '/cover.rtf', 'w', encoding='cp1252').write(r.rtfcover or '')\n"
      "open(sys.argv[1] + '/doc.rtf', 'w', encoding='cp1252').write(r.rtfdoc or '')\n"
      "print('|'.join(x.strip() for x in (r.recipient, r.phone, r.subject)))\n");
  return Run("/usr/bin/python3", {"-c", script, dir, QString::number(recno)}).trimmed();
}

// One column of every row of DIR/TABLE as python3-dbf reads it (blanks trimmed), in record
// order; a failure to read comes back as the reader's message.
inline QStringList ReadColumn(const QString &dir, const QString &table, const QString &field) {
  const QString script = QStringLiteral(
      "import dbf, sys\n"
      "t = dbf.Table(sys.argv[1] + '/' + sys.argv[2], codepage='cp1252'); t.open()\n"
      "for r in t: print((r[sys.argv[3]] or '').strip())\n");
  QProcess p;
  p.start("/usr/bin/python3", {"-c", script, dir, table, field});
  p.waitForFinished(60000);
  const QString out = QString::fromUtf8(p.readAllStandardOutput());
  return p.exitCode() == 0 ? out.split('\n', Qt::SkipEmptyParts)
                           : QStringList{QString::fromUtf8(p.readAllStandardError())};
}

// The text of an RTF file as unrtf reads it, blanks folded.
inline QString UnrtfText(const QString &file) {
  return Run("unrtf", {"--text", "--nopict", file}).simplified();
}

}  // namespace kv::test
