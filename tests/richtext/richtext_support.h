#pragma once
// Shared by the rich-text tests: the RTF corpus, text as the corpus's expected files put it,
// and formatting runs for comparing documents.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>

#include "support/gui_app.h"

namespace kv::test {

inline QString corpusDir() {
  return QStringLiteral(KORVANE_TESTDATA "/rtf/");
}

inline QByteArray readAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Normalised as the corpus checker does: tabs and no-break spaces to spaces, runs of spaces
// squeezed, lines trimmed, blank lines dropped.
inline QStringList normalisedLines(QString text) {
  text.replace(QChar(0x2028), QLatin1Char('\n'));
  text.replace(QChar(0x2029), QLatin1Char('\n'));
  text.replace(QLatin1Char('\r'), QString());
  // Tabs, no-break and the narrow spaces some writers use for runs of blanks.
  for (QChar &c : text)
    if (c != QLatin1Char('\n') && c.isSpace()) c = QLatin1Char(' ');
  QStringList out;
  static const QRegularExpression spaces(QStringLiteral(" +"));
  for (QString line : text.split(QLatin1Char('\n'))) {
    line.replace(spaces, QStringLiteral(" "));
    line = line.trimmed();
    if (!line.isEmpty()) out.append(line);
  }
  return out;
}

// The raw text of a document: paragraphs and line breaks as newlines.
inline QString documentText(const QTextDocument &doc) {
  QString s;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    if (b != doc.begin()) s += QLatin1Char('\n');
    s += b.text();
  }
  s.replace(QChar(0x2028), QLatin1Char('\n'));
  return s;
}

// One line per run of equally formatted text: font, size, bold, italic, underline, the text.
inline QStringList formatRuns(const QTextDocument &doc) {
  QStringList runs;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      const QStringList fams = f.fontFamilies().toStringList();
      runs << QStringLiteral("%1|%2|%3%4%5|%6")
                  .arg(fams.value(0))
                  .arg(f.fontPointSize())
                  .arg(f.fontWeight() >= QFont::DemiBold ? "b" : "")
                  .arg(f.fontItalic() ? "i" : "")
                  .arg(f.fontUnderline() ? "u" : "")
                  .arg(it.fragment().text());
    }
    runs << QStringLiteral("<par>");
  }
  return runs;
}

// `count` paragraphs of one line each ("Paragraph N of ..."), every tenth one bold.
inline QByteArray manyParagraphsRtf(int count) {
  QByteArray rtf = "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0\\fs20\\sa60 ";
  for (int i = 0; i < count; ++i) {
    if (i % 10 == 0) rtf += "\\b ";
    rtf += "Paragraph " + QByteArray::number(i + 1) + " of the delivery notes for the yard.";
    if (i % 10 == 0) rtf += "\\b0 ";
    rtf += "\\par ";
  }
  return rtf + "}";
}

// Lines joined for readable failure messages.
inline std::string joined(const QStringList &lines) {
  return lines.join(QLatin1Char('\n')).toStdString();
}

}  // namespace kv::test
