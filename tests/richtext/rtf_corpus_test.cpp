// The RTF corpus written by two word processors: every file loads with its expected text, and
// what we write of it reads back with the same text and formatting, by us and by unrtf.
#include <gtest/gtest.h>

#include <QProcess>
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

}  // namespace
}  // namespace kv
