// korvane-fax list and compose against the program's tables, read back by the program's
// lists and by an independent reader.
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <sstream>

#include "app/fax_tables.h"
#include "app/main_screen.h"
#include "app/test_support.h"
#include "base/byte_order.h"
#include "cli/command.h"
#include "compose/fax_editor.h"
#include "compose/record_commands.h"
#include "compose_support.h"
#include "richtext/merge_field.h"
#include "richtext/rich_edit.h"
#include "sending/row_send.h"
#include "support/child_process.h"
#include "support/event_wait.h"
#include "support/modal.h"

namespace kv {
namespace {

struct ToolRun {
  int code;
  std::string out, err;
};

class RecordCommandsTest : public test::ProgramDirTest {
 protected:
  // Sent rows with recipients "fax 1" ... "fax n", put in by the program's own table code.
  void addSentRows(int n) {
    TFaxRecords records;
    ASSERT_TRUE(records.OpenFaxDBF());
    for (int i = 1; i <= n; ++i) {
      ASSERT_TRUE(records.FaxTable.Append());
      records.FaxTable.FieldByName("RECIPIENT")->SetAsString(QString("fax %1").arg(i));
      ASSERT_TRUE(records.FaxTable.Post());
    }
  }
  // Rewrites a table: its header's row count set to `count`, its bytes cut to `size` (all: -1).
  void damageTable(const QString &table, quint32 count, qint64 size = -1) {
    QFile f(path(table));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray b = f.readAll();
    putLe32(reinterpret_cast<std::uint8_t *>(b.data()) + 4, count);
    if (size >= 0) b.truncate(size);
    ASSERT_TRUE(f.resize(0) && f.seek(0) && f.write(b) == b.size());
  }
  qint64 sentRowOffset(int row) {
    QFile f(path("KRV.DBF"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray h = f.read(12);
    const auto *p = reinterpret_cast<const std::uint8_t *>(h.constData());
    return getLe16(p + 8) + qint64(row - 1) * getLe16(p + 10);
  }

  ToolRun run(std::vector<std::string> args) {
    static bool added = [] {
      cli::addCommands(cli::recordCommands());
      return true;
    }();
    (void)added;
    args.push_back("--program-dir");
    args.push_back(dir_.path().toStdString());
    std::ostringstream out, err;
    cli::Context ctx{out, err};
    const int code = cli::runTool(args, ctx);
    return {code, out.str(), err.str()};
  }
};

TEST_F(RecordCommandsTest, ListShowsTheRowsAsTheMainWindowDoes) {
  EXPECT_EQ(run({"list"}).code, 1);  // never creates the tables
  EXPECT_FALSE(QFile::exists(path("KRV.DBF")));
  {
    TFaxRecords records;
    ASSERT_TRUE(records.OpenFaxDBF());
    ASSERT_TRUE(records.OpenRecFaxDBF());
    TTable &t = records.FaxTable;
    const QDate day(2026, 3, 4);
    for (auto [subject, sent, time] :
         {std::tuple{"never sent", false, ""}, std::tuple{"older", true, "09:15"},
          std::tuple{"newest", true, "17:40"}}) {
      ASSERT_TRUE(t.Append());
      t.FieldByName("SUBJECT")->SetAsString(subject);
      t.FieldByName("RECIPIENT")->SetAsString("Acme Legal");
      t.FieldByName("PAGES")->SetAsInteger(3);
      if (sent) {
        t.FieldByName("SENT")->SetAsBoolean(true);
        t.FieldByName("DATESENT")->SetAsDate(day);
        t.FieldByName("TIMESENT")->SetAsString(time);
      }
      ASSERT_TRUE(t.Post());
    }
  }
  const ToolRun r = run({"list"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::istringstream lines(r.out);
  std::string head, first, second, third;
  std::getline(lines, head);
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, third);
  EXPECT_EQ(head.rfind("Sent  Date Sent", 0), 0u) << head;
  const std::string date =
      QLocale().toString(QDate(2026, 3, 4), QLocale::ShortFormat).toStdString();
  EXPECT_EQ(first.rfind("Yes", 0), 0u) << first;
  EXPECT_NE(first.find(date), std::string::npos) << first;
  EXPECT_NE(first.find("17:40"), std::string::npos);
  EXPECT_NE(first.find("newest"), std::string::npos);
  EXPECT_NE(second.find("older"), std::string::npos);
  EXPECT_EQ(third.rfind("No ", 0), 0u);
  EXPECT_NE(third.find("never sent"), std::string::npos);

  const ToolRun rec = run({"list", "--received"});
  EXPECT_EQ(rec.code, 0);
  EXPECT_EQ(rec.out.rfind("Date Rec'd  Time Rec'd  From  Pages  Notes", 0), 0u) << rec.out;
}

TEST_F(RecordCommandsTest, ComposeAppendsARowTheProgramAndOtherReadersRead) {
  {
    TFaxRecords records;
    test::AddTemplate(records, "Standard");
  }
  QFile doc(path("letter.txt"));
  ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
  doc.write("First line of the letter\nSecond line\n");
  doc.close();
  const ToolRun r =
      run({"compose", "--recipient", "Acme Legal", "--fax", "+1 555 0100", "--subject", "Contract",
           "--cover-template", "standard", "--doc", path("letter.txt").toStdString()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "1\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::ReadSentRow(dir_.path(), 1), "Acme Legal|+1 555 0100|Contract");
  // The cover keeps its fields (filled when the fax is drawn), shown by readers as labels.
  const QString cover = test::UnrtfText(path("cover.rtf"));
  for (const QString &line : QStringList{"To: [RECIPIENT]", "Re: [SUBJECT]", "Date: [DATE]"})
    EXPECT_TRUE(cover.contains(line)) << line.toStdString() << " in " << cover.toStdString();
  EXPECT_TRUE(test::UnrtfText(path("doc.rtf")).endsWith("First line of the letter Second line"));

  // The program's editor opens the row with what was composed.
  {
    TMainScreen w;
    w.show();
    ASSERT_TRUE(kv::test::eventually([&] { return !w.FirstActivate; }, 5000));
    test::OnModal<TFaxEditor>([](TFaxEditor &e) {
      EXPECT_EQ(e.Recipient->text(), "Acme Legal");
      EXPECT_EQ(e.FaxNumber->text(), "+1 555 0100");
      EXPECT_EQ(e.WPCover->Document()->MergeFieldCount(), kMergeFieldCount);
      EXPECT_TRUE(e.WPDoc->toPlainText().startsWith("First line of the letter"));
      e.CancelButton->click();
    });
    w.EditButton->click();
  }

  // A second fax without cover; text the table cannot keep is named on stderr.
  const ToolRun r2 = run({"compose", "--recipient", "Zoë Øster-Łukasz", "--fax", "12345",
                          "--subject", std::string(60, 's')});
  ASSERT_EQ(r2.code, 0) << r2.err;
  EXPECT_EQ(r2.out, "2\n");
  EXPECT_NE(r2.err.find("recipient stored as \"Zoë Øster-Lukasz\""), std::string::npos) << r2.err;
  EXPECT_NE(r2.err.find("subject stored as"), std::string::npos);
  EXPECT_EQ(test::ReadSentRow(dir_.path(), 2), "Zoë Øster-Lukasz|12345|" + QString(50, 's'));
  EXPECT_NE(run({"list"}).out.find("Zoë Øster-Lukasz"), std::string::npos);
}

TEST_F(RecordCommandsTest, ComposeRefusesBadInputAndWritesNothing) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char *message;
  } cases[] = {
      {{"compose", "--fax", "1"}, 2, "--recipient and --fax"},
      {{"compose", "--recipient", "a", "--fax", "1", "--cover", "x.rtf", "--cover-template", "t"},
       2,
       "exclude"},
      {{"compose", "--recipient", "a", "--fax", "1", "--cover-template", "Nope"},
       1,
       "KRVCOV.DBF: no cover sheet templates"},
      {{"compose", "--recipient", "a", "--fax", "1", "--doc", "/no/such.rtf"}, 1, "/no/such.rtf"},
      {{"compose", "--recipient", "a", "--fax", "1", "--cover", "notrtf.rtf"}, 1, "notrtf.rtf"},
      {{"compose", "--recipient", "a", "--fax", "555\rATZ;"},
       1,
       "The fax number \"555\\rATZ;\" cannot be dialled: it holds a carriage return"},
  };
  QFile bad(path("notrtf.rtf"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("plain words");
  bad.close();
  const QString before = QDir::currentPath();
  QDir::setCurrent(dir_.path());
  for (const Case &c : cases) {
    const ToolRun r = run(c.args);
    EXPECT_EQ(r.code, c.code) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  QDir::setCurrent(before);
  // Nothing was appended by any of them.
  if (QFile::exists(path("KRV.DBF"))) {
    TFaxRecords records;
    ASSERT_TRUE(records.OpenFaxDBF());
    EXPECT_EQ(records.FaxTable.RowCount(), 0);
  }
}

// A composed row drawn as send-row draws it carries on its cover page the row's values as they
// are at the drawing (here changed after composing) and the sender of the preferences, as OCR
// reads them.
TEST_F(RecordCommandsTest, RenderedCoverCarriesTheRowsValuesAtDrawing) {
  if (test::Run("which", {"tesseract"}).isEmpty()) GTEST_SKIP() << "tesseract is not installed";
  {
    TFaxRecords records;
    test::AddTemplate(records, "Standard");
  }
  ASSERT_EQ(run({"compose", "--recipient", "Acme Legal", "--fax", "555 0100", "--subject",
                 "Old subject", "--cover-template", "Standard"})
                .code,
            0);
  TFaxRecords records;
  ASSERT_TRUE(records.OpenFaxDBF());
  TTable &row = records.FaxTable;
  ASSERT_TRUE(row.GotoRecord(1));
  ASSERT_TRUE(row.Edit());
  ASSERT_TRUE(row.FieldByName("RECIPIENT")->SetAsString("Harbour Freight"));
  ASSERT_TRUE(row.FieldByName("SUBJECT")->SetAsString("Invoice 4471"));
  ASSERT_TRUE(row.Post());

  Settings settings;
  settings.userName = "Korvane Desk";
  TRichDocument cover, document;
  TRichTextIO coverIO(cover), documentIO(document);
  RenderContext rc;
  rc.programDir = dir_.path() + "/";
  rc.merge = SenderMergeValues(settings);
  int pages = 0;
  const QString fax = RenderFaxRow(records.FaxApollo, coverIO, documentIO, rc, pages);
  ASSERT_EQ(pages, 1);
  const QDateTime now = QDateTime::currentDateTime();
  const QString tool = KORVANE_BIN_DIR "/korvane-fax";
  test::Run(tool, {"unpack", fax, "-o", path("page"), "--format", "png", "--page", "1"});
  QFile::remove(fax);
  QDir d(dir_.path());
  const QStringList pngs = d.entryList({"page*.png"});
  ASSERT_EQ(pngs.size(), 1) << d.entryList().join(' ').toStdString();
  const QString text = test::Run("tesseract", {path(pngs[0]), "-"}).simplified();
  for (const char *s :
       {"Harbour Freight", "555 0100", "Invoice 4471", "From: Korvane Desk", "Pages: 1"})
    EXPECT_TRUE(text.contains(s)) << s << " in " << text.toStdString();
  EXPECT_FALSE(text.contains("Acme")) << text.toStdString();
  EXPECT_TRUE(text.contains(QLocale().toString(now.date(), QLocale::ShortFormat)))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QRegularExpression("Time: \\d\\d:\\d\\d:\\d\\d")))
      << text.toStdString();
}

// Four programs composing at once on a folder without tables, each fax a process of its own, a
// few times over: every row a compose reported is in the table under the number it reported,
// as python3-dbf reads it, and a compose that could not have the table said so.
TEST_F(RecordCommandsTest, ParallelComposesOnAFolderWithoutTablesLoseNoRow) {
  const QString script = QStringLiteral(
      "for p in 1 2 3 4; do (for i in 1 2 3; do\n"
      "  n=$(\"$0\" compose --program-dir \"$1\" --recipient p$p-$i --fax 1 2>>\"$1/err.$p\") &&\n"
      "    echo \"$n p$p-$i\"\n"
      "done) & done; wait; cat \"$1\"/err.* >&2");
  int reportedRows = 0;
  for (int trial = 0; trial < 8; ++trial) {
    QTemporaryDir dir;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start("bash", {"-c", script, KORVANE_BIN_DIR "/korvane-fax", dir.path()});
    ASSERT_TRUE(p.waitForFinished(120000));
    const QStringList reported =
        QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    const QStringList rows = test::ReadColumn(dir.path(), "KRV.DBF", "recipient");
    for (const QString &line : reported) {
      const int recno = line.section(' ', 0, 0).toInt();
      ASSERT_TRUE(recno >= 1 && recno <= rows.size())
          << "trial " << trial << ": " << line.toStdString() << " not among "
          << rows.join(' ').toStdString();
      EXPECT_EQ(rows[recno - 1], line.section(' ', 1)) << "trial " << trial << ", row " << recno;
    }
    EXPECT_EQ(rows.size(), reported.size()) << rows.join(' ').toStdString();
    for (const QString &err : QString::fromUtf8(p.readAllStandardError()).split('\n')) {
      if (err.isEmpty() || err.startsWith("QStandardPaths")) continue;
      EXPECT_TRUE(err.contains("in use by another program")) << err.toStdString();
    }
    reportedRows += int(reported.size());
  }
  EXPECT_GT(reportedRows, 8 * 4);  // most composes had their turn
}

// A torn table is mended at the open, and list and compose say what was mended, naming the
// file; the mended count is in the file at once, for python3-dbf too.
TEST_F(RecordCommandsTest, ListAndComposeSayWhatTheOpenRepaired) {
  struct Case {
    const char *command;
    quint32 count;
    int cutInsideRow;  // 0: the file keeps every row
    const char *says;
    int rowsAfter;
  } cases[] = {
      {"list", 3, 0, "the header counted 3 rows, but 2 more were written whole after them", 5},
      {"list", 5, 5, " ends inside row 5: the header counted 5 rows, 4 are whole", 4},
      {"compose", 2, 0, "the header counted 2 rows, but 3 more were written whole after them", 6},
  };
  for (const Case &c : cases) {
    QFile::remove(path("KRV.DBF"));
    QFile::remove(path("KRV.FPT"));
    QFile::remove(path("KRV.CDX"));
    addSentRows(5);
    damageTable("KRV.DBF", c.count, c.cutInsideRow ? sentRowOffset(c.cutInsideRow) + 7 : -1);
    const ToolRun r = std::string(c.command) == "list"
                          ? run({"list"})
                          : run({"compose", "--recipient", "fax 6", "--fax", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string prefix =
        "korvane-fax " + std::string(c.command) + ": " + path("KRV.DBF").toStdString();
    EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    const QStringList rows = test::ReadColumn(dir_.path(), "KRV.DBF", "recipient");
    ASSERT_EQ(rows.size(), c.rowsAfter) << c.command << ": " << rows.join('|').toStdString();
    EXPECT_EQ(rows.last(), QString("fax %1").arg(c.rowsAfter));
    // Mended once: the next open finds the table in order and says nothing.
    EXPECT_EQ(run({"list"}).err, "");
  }
}

// send-row and receive, which open a table before their call, say the same; each then stops at
// what it cannot do here (no such row, no port).
TEST_F(RecordCommandsTest, SendRowAndReceiveSayWhatTheOpenRepaired) {
  addSentRows(5);
  damageTable("KRV.DBF", 3);
  {
    TFaxRecords records;
    ASSERT_TRUE(records.OpenRecFaxDBF());
    for (int i = 1; i <= 4; ++i) {
      ASSERT_TRUE(records.RecTable.Append());
      records.RecTable.FieldByName("FROM")->SetAsString(QString("caller %1").arg(i));
      ASSERT_TRUE(records.RecTable.Post());
    }
  }
  damageTable("KRVREC.DBF", 2);
  QFile ini(path("KRV.INI"));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ini.write("[Ports]\nCom1=" + path("no-such-modem").toUtf8() + "\n[Modem]\nComPort=0\n");
  ini.close();
  struct Case {
    std::vector<std::string> args;
    const char *table;
    const char *says;
  } cases[] = {
      {{"send-row", "9"}, "KRV.DBF", "the header counted 3 rows, but 2 more"},
      {{"receive", "--once"}, "KRVREC.DBF", "the header counted 2 rows, but 2 more"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> argv{KORVANE_BIN_DIR "/korvane-fax"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {"--program-dir", dir_.path().toStdString()});
    const test::ProgramRun r = test::runProgram(argv);
    EXPECT_EQ(r.code, 1) << r.output;
    const std::string said = "korvane-fax " + c.args[0] + ": " + path(c.table).toStdString();
    EXPECT_NE(r.output.find(said), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
}

// Recipients and subjects may come from other programs' rows: list shows control characters
// (an escape sequence, a carriage return, a bell, DEL, a C1 control) as \xHH instead of sending
// them to the terminal.
TEST_F(RecordCommandsTest, ListShowsControlCharactersAsCodes) {
  {
    TFaxRecords records;
    ASSERT_TRUE(records.OpenFaxDBF());
    TTable &t = records.FaxTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("RECIPIENT")->SetAsString(QString("Evil\x1b[2J\rName")));
    ASSERT_TRUE(t.FieldByName("SUBJECT")->SetAsString(QString("ring\x07 del\x7f c1") + QChar(0x81) +
                                                      "€ C:\\docs"));
    ASSERT_TRUE(t.Post());
  }
  const ToolRun r = run({"list"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Evil\\x1B[2J\\x0DName"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ring\\x07 del\\x7F c1\\x81€ C:\\docs"), std::string::npos) << r.out;
  for (char ch : r.out) {
    const auto b = static_cast<unsigned char>(ch);
    EXPECT_TRUE(b == '\n' || (b >= 0x20 && b != 0x7F)) << "control byte " << int(b) << " in list";
  }
  EXPECT_EQ(r.out.find("\xC2\x81"), std::string::npos);  // U+0081 as UTF-8
}

}  // namespace
}  // namespace kv
