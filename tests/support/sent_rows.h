#pragma once
// Rows of the sent-fax table for the sending tests: a composed fax put into KRV.DBF as the fax
// editor's Accept writes it, and a row's send columns read back by python3-dbf.
#include <QProcess>
#include <QString>

#include "app/fax_tables.h"
#include "compose/fax_row.h"
#include "richtext/rich_document.h"

namespace kv::test {

// Appends a fax whose cover and document hold the given texts ("\f" starts a new page of the
// document); empty texts leave that part blank. The row stays current.
inline bool AddSentRow(TFaxRecords &records, const QString &coverText, const QString &docText,
                       const FaxRowText &row) {
  TRichDocument cover, document;
  // Plain ASCII texts as RTF in 12 point Arial: lines become paragraphs, "\f" a page break.
  auto fill = [](TRichDocument &d, const QString &text) {
    if (text.isEmpty()) return;
    QString rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs24 ";
    for (const QString &line : text.split('\n'))
      rtf += QString(line).replace("\f", "\\page ") + "\\par ";
    d.LoadRtf(rtf.toLatin1() + "}");
  };
  fill(cover, coverText);
  fill(document, docText);
  QString error;
  return records.OpenFaxDBF() &&
         WriteFaxRow(records, TRichTextIO(cover), TRichTextIO(document), row, true, error);
}

// "SENT|DATESENT|TIMESENT|PAGES|LASTRESULT" of row `recno` of DIR/KRV.DBF as python3-dbf reads
// it (the date as YYYY-MM-DD, empty when blank).
inline QString ReadSendColumns(const QString &dir, int recno) {
  const QString script = QStringLiteral(
      "import dbf, sys\n"
      "t = dbf.Table(sys.argv[1] + '/KRV.DBF', codepage='cp1252'); t.open()\n"
      "r = t[int(sys.argv[2]) - 1]\n"
      "d = r.datesent\n"
      "print('|'.join([str(bool(r.sent)), d.strftime('%Y-%m-%d') if d else '',\n"
      "                (r.timesent or '').strip(), str(r.pages), (r.lastresult or "
      "'').strip()]))\n");
  QProcess p;
  p.start("/usr/bin/python3", {"-c", script, dir, QString::number(recno)});
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed() +
         QString::fromUtf8(p.readAllStandardError()).trimmed();
}

}  // namespace kv::test
