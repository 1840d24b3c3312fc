// korvane-fax list and compose against the program's tables, read back by the program's
// lists and by an independent reader.
#include <QDate>
#include <QFile>
#include <QLocale>
#include <sstream>

#include "app/fax_tables.h"
#include "app/test_support.h"
#include "cli/command.h"
#include "compose/record_commands.h"

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

}  // namespace
}  // namespace kv
