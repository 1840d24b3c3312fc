// The RTF corpus written by two word processors: every file loads with its expected text, and
// what we write of it reads back with the same text and formatting, by us and by unrtf.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "richtext/rich_document.h"
#include "richtext_support.h"

namespace kv {
namespace {

using test::corpusDir;
using test::documentText;
using test::formatRuns;
using test::normalisedLines;
using test::readAll;

QStringList corpusFiles() {
  return QDir(corpusDir()).entryList({QStringLiteral("*.rtf")}, QDir::Files, QDir::Name);
}

QStringList expectedLines(const QString &rtfName) {
  QString txt = rtfName;
  txt.replace(QLatin1String(".rtf"), QLatin1String(".txt"));
  return normalisedLines(QString::fromUtf8(readAll(corpusDir() + txt)));
}

class RtfCorpus : public ::testing::Test {
 protected:
  void SetUp() override { test::GuiApp(); }
};

TEST_F(RtfCorpus, EveryFileLoadsWithItsExpectedText) {
  const QStringList files = corpusFiles();
  ASSERT_GE(files.size(), 10);
  for (const QString &name : files) {
    SCOPED_TRACE(name.toStdString());
    TRichDocument doc;
    QString error;
    ASSERT_TRUE(doc.LoadRtf(readAll(corpusDir() + name), &error));
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    // The explicit breaks of these files give three pages (a break before a table included).
    if (name.startsWith(QLatin1String("page_breaks"))) {
      EXPECT_EQ(doc.PageCount(200), 3);
    }
    EXPECT_EQ(test::joined(normalisedLines(documentText(doc))), test::joined(expectedLines(name)));
  }
}

TEST_F(RtfCorpus, RoundTripKeepsTextAndFormatting) {
  for (const QString &name : corpusFiles()) {
    SCOPED_TRACE(name.toStdString());
    TRichDocument first, second;
    ASSERT_TRUE(first.LoadRtf(readAll(corpusDir() + name)));
    const QByteArray written = first.SaveRtf();
    ASSERT_TRUE(second.LoadRtf(written));
    EXPECT_EQ(documentText(second).toStdString(), documentText(first).toStdString());
    EXPECT_EQ(test::joined(formatRuns(second)), test::joined(formatRuns(first)));
    EXPECT_EQ(second.SaveRtf().toStdString(), written.toStdString());
  }
}

// unrtf, an independent reader, finds the corpus text in what we write.
TEST_F(RtfCorpus, UnrtfReadsWhatWeWrite) {
  const QString check = QStringLiteral(KORVANE_TESTDATA "/../tools/rtfcheck.sh");
  if (!QFile::exists(check) || QStandardPaths::findExecutable("unrtf").isEmpty())
    GTEST_SKIP() << "unrtf or rtfcheck.sh missing";
  QTemporaryDir dir;
  for (const QString &name : corpusFiles()) {
    SCOPED_TRACE(name.toStdString());
    TRichDocument doc;
    ASSERT_TRUE(doc.LoadRtf(readAll(corpusDir() + name)));
    const QString out = dir.filePath(name);
    ASSERT_TRUE(doc.SaveRtfFile(out));
    QString txt = name;
    txt.replace(QLatin1String(".rtf"), QLatin1String(".txt"));
    QProcess p;
    p.start(QStringLiteral("bash"), {check, out, corpusDir() + txt});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString()
                               << p.readAllStandardError().toStdString();
  }
}

// Words with their size and style as LibreOffice's HTML shows them: "word|size|biu".
QStringList htmlWords(const QString &html) {
  struct Open {
    QString tag;
    int size = 0;
  };
  QStringList out;
  QList<Open> open;
  const int body = static_cast<int>(html.indexOf(QLatin1String("<body")));
  static const QRegularExpression token(QStringLiteral("<(/?)(\\w+)([^>]*)>|([^<]+)"));
  static const QRegularExpression sizeRe(QStringLiteral("font-size: ([0-9.]+)pt"));
  for (auto it = token.globalMatch(html, body); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    if (m.capturedLength(2)) {
      const QString tag = m.captured(2).toLower();
      if (m.captured(1) == QLatin1String("/")) {
        for (int i = static_cast<int>(open.size()) - 1; i >= 0; --i)
          if (open[i].tag == tag) {
            open.remove(i, open.size() - i);
            break;
          }
      } else if (tag == "b" || tag == "i" || tag == "u" || tag == "font" || tag == "span") {
        const QRegularExpressionMatch sm = sizeRe.match(m.captured(3));
        open.append({tag, sm.hasMatch() ? qRound(sm.captured(1).toDouble()) : 0});
      }
      continue;
    }
    int size = 0;
    QString style;
    for (const Open &o : open) {
      if (o.size) size = o.size;
      if (o.tag.size() == 1 && !style.contains(o.tag)) style += o.tag;
    }
    std::sort(style.begin(), style.end());
    QString text = m.captured(4);
    text.replace(QLatin1String("&amp;"), QLatin1String("&"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"));
    for (const QString &w :
         text.split(QRegularExpression(QStringLiteral("\\s+"),
                                       QRegularExpression::UseUnicodePropertiesOption),
                    Qt::SkipEmptyParts))
      out << QStringLiteral("%1|%2|%3").arg(w).arg(size).arg(style);
  }
  return out;
}

QStringList documentWords(const QTextDocument &doc) {
  QStringList out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      QString style;
      if (f.fontWeight() >= QFont::DemiBold) style += 'b';
      if (f.fontItalic()) style += 'i';
      if (f.fontUnderline()) style += 'u';
      const QString text = it.fragment().text().replace(QChar(0xA0), QLatin1Char(' '));
      for (const QString &w :
           text.split(QRegularExpression(QStringLiteral("\\s+"),
                                         QRegularExpression::UseUnicodePropertiesOption),
                      Qt::SkipEmptyParts))
        out << QStringLiteral("%1|%2|%3").arg(w).arg(qRound(f.fontPointSize())).arg(style);
    }
  return out;
}

// LibreOffice, another independent reader, finds the corpus text in what we write, and the
// bold, italic, underline and size of every word.
TEST_F(RtfCorpus, LibreOfficeReadsWhatWeWrite) {
  if (QStandardPaths::findExecutable("soffice").isEmpty()) GTEST_SKIP() << "no LibreOffice";
  QTemporaryDir dir;
  QStringList written;
  for (const QString &name : corpusFiles()) {
    TRichDocument doc;
    ASSERT_TRUE(doc.LoadRtf(readAll(corpusDir() + name)));
    ASSERT_TRUE(doc.SaveRtfFile(dir.filePath(name)));
    written << dir.filePath(name);
  }
  auto convert = [&](const QString &to) {
    QProcess p;
    p.start(QStringLiteral("soffice"),
            QStringList{"-env:UserInstallation=file://" + dir.filePath("profile"), "--headless",
                        "--convert-to", to, "--outdir", dir.filePath(to.section(':', 0, 0))} +
                written);
    ASSERT_TRUE(p.waitForFinished(240000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  };
  convert(QStringLiteral("txt:Text (encoded):UTF8"));
  convert(QStringLiteral("html"));
  convert(QStringLiteral("pdf"));
  for (const QString &name : corpusFiles()) {
    SCOPED_TRACE(name.toStdString());
    const QString base = name.left(name.size() - 4);
    // List labels are text in our document; LibreOffice shows them as its own numbering.
    if (!name.startsWith(QLatin1String("tabs_lists")) &&
        !name.startsWith(QLatin1String("fax_cover_html"))) {
      EXPECT_EQ(test::joined(normalisedLines(
                    QString::fromUtf8(readAll(dir.filePath("txt/" + base + ".txt"))))),
                test::joined(expectedLines(name)));
    }
    TRichDocument doc;
    ASSERT_TRUE(doc.LoadRtf(readAll(dir.filePath(name))));
    // Pages on Letter paper with half-inch margins (what we write): as LibreOffice lays them
    // out, within one page.
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {dir.filePath("pdf/" + base + ".pdf")});
    ASSERT_TRUE(info.waitForFinished(60000));
    const QRegularExpressionMatch pages =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
            .match(QString::fromLatin1(info.readAllStandardOutput()));
    ASSERT_TRUE(pages.hasMatch());
    EXPECT_LE(std::abs(doc.PageCount(200) - pages.captured(1).toInt()), 1)
        << "ours " << doc.PageCount(200) << ", LibreOffice " << pages.captured(1).toStdString();
    if (name.startsWith(QLatin1String("letter")) ||
        name.startsWith(QLatin1String("long_paragraph")) ||
        name.startsWith(QLatin1String("indents_spacing"))) {
      EXPECT_EQ(test::joined(
                    htmlWords(QString::fromUtf8(readAll(dir.filePath("html/" + base + ".html"))))),
                test::joined(documentWords(doc)));
    }
  }
}

}  // namespace
}  // namespace kv
