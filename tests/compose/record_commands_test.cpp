// korvane-fax list and compose against the program's tables, read back by the program's
// lists and by an independent reader.
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <sstream>

#include "app/fax_tables.h"
#include "app/main_screen.h"
#include "app/test_support.h"
#include "cli/command.h"
#include "compose/fax_editor.h"
#include "compose/record_commands.h"
#include "compose_support.h"
#include "richtext/rich_edit.h"
#include "support/modal.h"

namespace kv {
namespace {

struct ToolRun {
  int code;
  std::string out, err;
};

class RecordCommandsTest : public test::ProgramDirTest {
 protected:
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
  const QString cover = test::UnrtfText(path("cover.rtf"));
  const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
  for (const QString &line :
       QStringList{"To: Acme Legal", "Fax: +1 555 0100", "Re: Contract", QString("Date: " + today)})
    EXPECT_TRUE(cover.contains(line)) << line.toStdString() << " in " << cover.toStdString();
  EXPECT_TRUE(test::UnrtfText(path("doc.rtf")).endsWith("First line of the letter Second line"));

  // The program's editor opens the row with what was composed.
  {
    TMainScreen w;
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.FirstActivate, 5000);
    test::OnModal<TFaxEditor>([](TFaxEditor &e) {
      EXPECT_EQ(e.Recipient->text(), "Acme Legal");
      EXPECT_EQ(e.FaxNumber->text(), "+1 555 0100");
      EXPECT_TRUE(e.WPCover->toPlainText().contains("Re: Contract"));
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

// The composed row rendered into a fax carries the merged values on its cover page, as OCR
// reads them.
TEST_F(RecordCommandsTest, RenderedCoverCarriesTheMergedValues) {
  if (test::Run("which", {"tesseract"}).isEmpty()) GTEST_SKIP() << "tesseract is not installed";
  {
    TFaxRecords records;
    test::AddTemplate(records, "Standard");
  }
  ASSERT_EQ(run({"compose", "--recipient", "Harbour Freight", "--fax", "555 0199", "--subject",
                 "Invoice 4471", "--cover-template", "Standard"})
                .code,
            0);
  test::ReadSentRow(dir_.path(), 1);
  const QString tool = KORVANE_BIN_DIR "/korvane-fax";
  test::Run(tool, {"render", "--cover", path("cover.rtf"), "-o", path("fax.apf")});
  test::Run(tool,
            {"unpack", path("fax.apf"), "-o", path("page"), "--format", "png", "--page", "1"});
  QDir d(dir_.path());
  const QStringList pngs = d.entryList({"page*.png"});
  ASSERT_EQ(pngs.size(), 1) << d.entryList().join(' ').toStdString();
  const QString text = test::Run("tesseract", {path(pngs[0]), "-"}).simplified();
  for (const char *s : {"Harbour Freight", "555 0199", "Invoice 4471"})
    EXPECT_TRUE(text.contains(s)) << s << " in " << text.toStdString();
  const QDateTime now = QDateTime::currentDateTime();
  EXPECT_TRUE(text.contains(QLocale().toString(now.date(), QLocale::ShortFormat)))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QRegularExpression("Time: \\d\\d:\\d\\d:\\d\\d")))
      << text.toStdString();
}

}  // namespace
}  // namespace kv
