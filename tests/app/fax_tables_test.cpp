// The record tables: exact layouts and indexes on disk, opening paths, order rules, the list
// model over a dataset.
#include <QFile>
#include <QProcess>
#include <QTableView>

#include "app/fax_tables.h"
#include "app/table_model.h"
#include "test_support.h"

namespace kv {
namespace {

using test::ProgramDirTest;

struct Layout {
  const char *file;
  std::vector<xbase::FieldDef> fields;
  xbase::TagInfo tag;
};

const Layout kLayouts[] = {
    {"KRV.DBF",
     {{"SUBJECT", 'C', 50, 0},
      {"SENT", 'L', 1, 0},
      {"DATESENT", 'D', 8, 0},
      {"TIMESENT", 'C', 5, 0},
      {"RECIPIENT", 'C', 35, 0},
      {"PHONE", 'C', 25, 0},
      {"PAGES", 'N', 2, 0},
      {"LASTRESULT", 'C', 100, 0},
      {"RTFCOVER", 'M', 10, 0},
      {"RTFDOC", 'M', 10, 0}},
     {"DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true}},
    {"KRVREC.DBF",
     {{"DATEREC", 'D', 8, 0},
      {"TIMEREC", 'C', 5, 0},
      {"FROM", 'C', 20, 0},
      {"PAGES", 'N', 2, 0},
      {"FAXFILE", 'C', 12, 0},
      {"NOTES", 'C', 60, 0}},
     {"DATETIME", "DTOS(DATEREC)+TIMEREC", ".not. deleted()", true}},
    {"KRVCOV.DBF",
     {{"DESCRIPT", 'C', 35, 0}, {"COVER", 'M', 10, 0}},
     {"DESCRIPT", "DESCRIPT", ".not. deleted()", false}},
    {"KRVPB.DBF",
     {{"NAME", 'C', 35, 0}, {"PHONE", 'C', 25, 0}},
     {"NAME", "NAME", ".not. deleted()", false}},
};

class FaxTablesTest : public ProgramDirTest {
 protected:
  std::unique_ptr<xbase::Engine> engine = std::make_unique<xbase::Engine>();
  std::unique_ptr<TFaxRecords> records = std::make_unique<TFaxRecords>(*engine);

  bool openAll() {
    return records->OpenFaxDBF() && records->OpenRecFaxDBF() && records->OpenCoverDBF() &&
           records->OpenPhoneDBF();
  }
  TTable &tableOf(const QString &file) {
    if (file == "KRV.DBF") return records->FaxTable;
    if (file == "KRVREC.DBF") return records->RecTable;
    if (file == "KRVCOV.DBF") return records->CoverTable;
    return records->PhoneTable;
  }
  void addSent(const QString &subject, QDate date = {}, const QString &time = {}) {
    TTable &t = records->FaxTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("SUBJECT")->SetAsString(subject));
    if (date.isValid()) {
      ASSERT_TRUE(t.FieldByName("SENT")->SetAsBoolean(true));
      ASSERT_TRUE(t.FieldByName("DATESENT")->SetAsDate(date));
      ASSERT_TRUE(t.FieldByName("TIMESENT")->SetAsString(time));
    }
    ASSERT_TRUE(t.Post()) << t.LastError().toStdString();
  }
  QStringList subjectsInOrder() {
    QStringList out;
    TTable &t = records->FaxTable;
    for (int row = 0; row < t.RowCount(); ++row)
      out << t.ValueAt(row, "SUBJECT").toString().trimmed();
    return out;
  }
};

TEST_F(FaxTablesTest, FirstOpenCreatesEveryTableWithItsExactLayoutAndTag) {
  ASSERT_TRUE(openAll());
  for (const Layout &l : kLayouts) {
    SCOPED_TRACE(l.file);
    const QString base = QString(l.file).chopped(3);
    EXPECT_TRUE(QFile::exists(path(base + "CDX")));
    xbase::Table *t = tableOf(l.file).EngineTable();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->Fields().size(), l.fields.size());
    for (size_t i = 0; i < l.fields.size(); ++i) {
      EXPECT_EQ(t->Fields()[i].name, l.fields[i].name);
      EXPECT_EQ(t->Fields()[i].type, l.fields[i].type) << l.fields[i].name;
      EXPECT_EQ(t->Fields()[i].width, l.fields[i].width) << l.fields[i].name;
      EXPECT_EQ(t->Fields()[i].decimals, 0);
    }
    ASSERT_EQ(t->TagCount(), 1);
    const xbase::TagInfo tag = t->Tag(1);
    EXPECT_EQ(tag.name, l.tag.name);
    EXPECT_EQ(tag.key, l.tag.key);
    EXPECT_EQ(tag.forExpr, l.tag.forExpr);
    EXPECT_EQ(tag.descending, l.tag.descending);
    EXPECT_EQ(tableOf(l.file).Filter(), ".not. deleted()");
  }
  // Memo tables have their memo file; the others do not.
  EXPECT_TRUE(QFile::exists(path("KRV.FPT")));
  EXPECT_TRUE(QFile::exists(path("KRVCOV.FPT")));
  EXPECT_FALSE(QFile::exists(path("KRVREC.FPT")));
  // Cover and phone book open in their tag's order.
  EXPECT_EQ(records->CoverApollo.IndexOrd(), records->CoverApollo.TagArea("DESCRIPT"));
  EXPECT_EQ(records->PhoneApollo.IndexOrd(), records->PhoneApollo.TagArea("NAME"));
}

TEST_F(FaxTablesTest, AnIndependentReaderSeesTheSameFields) {
  if (!QFile::exists("/usr/bin/python3")) GTEST_SKIP() << "no python3";
  ASSERT_TRUE(records->OpenFaxDBF());
  addSent("hello", QDate(2026, 3, 4), "09:15");
  records->FaxTable.Close();
  QProcess py;
  py.start("/usr/bin/python3",
           {"-c",
            "import dbf,sys\n"
            "t=dbf.Table(sys.argv[1]); t.open()\n"
            "print('; '.join(t.structure()))\n"
            "r=t[0]; print(r.subject.strip(), r.sent, r.datesent, r.timesent)\n",
            path("KRV.DBF")});
  ASSERT_TRUE(py.waitForFinished(30000));
  if (py.exitCode() != 0 && py.readAllStandardError().contains("No module named"))
    GTEST_SKIP() << "python3-dbf missing";
  const QString out = QString::fromUtf8(py.readAllStandardOutput());
  EXPECT_EQ(out.section('\n', 0, 0).toUpper().toStdString(),
            "SUBJECT C(50); SENT L; DATESENT D; TIMESENT C(5); RECIPIENT C(35); PHONE C(25); "
            "PAGES N(2,0); LASTRESULT C(100); RTFCOVER M; RTFDOC M");
  EXPECT_EQ(out.section('\n', 1, 1).toStdString(), "hello True 2026-03-04 09:15");
}

TEST_F(FaxTablesTest, ATableWithoutItsIndexOpensAndGetsItsTagBack) {
  ASSERT_TRUE(records->OpenFaxDBF());
  addSent("kept");
  records->FaxTable.Close();
  ASSERT_TRUE(QFile::remove(path("KRV.CDX")));
  ASSERT_TRUE(records->OpenFaxDBF());
  EXPECT_TRUE(QFile::exists(path("KRV.CDX")));
  EXPECT_EQ(records->FaxApollo.TagArea("DATESENT"), 1);
  EXPECT_EQ(subjectsInOrder(), QStringList{"kept"});
}

TEST_F(FaxTablesTest, AFileThatIsNotATableGivesFalseAndStaysClosed) {
  QFile f(path("KRV.DBF"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("this is not a table");
  f.close();
  EXPECT_FALSE(records->OpenFaxDBF());
  EXPECT_FALSE(records->FaxTable.Active());
  // Untouched: the user's file is not replaced by an empty table.
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "this is not a table");
}

TEST_F(FaxTablesTest, ADirectoryThatCannotHoldTablesGivesFalse) {
  SetProgramDir(dir_.path() + "/missing");
  EXPECT_FALSE(records->OpenFaxDBF());
  EXPECT_FALSE(records->OpenCoverDBF());
}

TEST_F(FaxTablesTest, NewestSentFirstUnsentLastAndSentColumnText) {
  ASSERT_TRUE(records->OpenFaxDBF());
  addSent("never sent");
  addSent("old", QDate(2025, 12, 31), "23:59");
  addSent("morning", QDate(2026, 1, 2), "09:00");
  addSent("evening", QDate(2026, 1, 2), "18:30");
  TFaxRecords::FollowRows(records->FaxTable, records->FaxApollo, "DATESENT");
  EXPECT_EQ(subjectsInOrder(), (QStringList{"evening", "morning", "old", "never sent"}));
  TTable &t = records->FaxTable;
  const int unsentRow = t.RowOfRecNo(1);
  EXPECT_EQ(t.ValueAt(unsentRow, "SentYesNo").toString(), "No ");
  EXPECT_EQ(t.ValueAt(t.RowOfRecNo(2), "SentYesNo").toString(), "Yes");
  EXPECT_FALSE(t.ValueAt(unsentRow, "DATESENT").toDate().isValid());
}

TEST_F(FaxTablesTest, EmptyTableUsesRecordOrderUntilItHasARow) {
  ASSERT_TRUE(records->OpenFaxDBF());
  TTable &t = records->FaxTable;
  TFaxRecords::FollowRows(t, records->FaxApollo, "DATESENT");
  EXPECT_FALSE(TFaxRecords::HasCurrentRow(t));
  EXPECT_EQ(records->FaxApollo.IndexOrd(), 0);
  addSent("first", QDate(2026, 2, 1), "10:00");
  addSent("second", QDate(2026, 2, 2), "10:00");
  TFaxRecords::FollowRows(t, records->FaxApollo, "DATESENT");
  EXPECT_EQ(records->FaxApollo.IndexOrd(), records->FaxApollo.TagArea("DATESENT"));
  // Back on the tag, the cursor is on the first row of that order.
  EXPECT_EQ(t.FieldByName("SUBJECT")->AsString().trimmed(), "second");
}

TEST_F(FaxTablesTest, DeletedRowsStayHiddenAfterReopen) {
  ASSERT_TRUE(records->OpenFaxDBF());
  addSent("a", QDate(2026, 1, 1), "10:00");
  addSent("b", QDate(2026, 1, 2), "10:00");
  records->FaxTable.First();
  ASSERT_TRUE(records->FaxTable.Delete());
  ASSERT_TRUE(records->OpenFaxDBF());
  EXPECT_EQ(records->FaxTable.RecCount(), 2);
  EXPECT_EQ(records->FaxApollo.QueryRecCount(), 1);
  EXPECT_EQ(subjectsInOrder(), QStringList{"a"});
}

TEST_F(FaxTablesTest, CloseAndOpenKeepsTheCurrentRow) {
  ASSERT_TRUE(records->OpenFaxDBF());
  for (int i = 1; i <= 5; ++i) addSent(QString("fax %1").arg(i), QDate(2026, 1, i), "12:00");
  ASSERT_TRUE(records->FaxTable.GotoRecord(3));
  records->FaxTableCloseAndOpen();
  EXPECT_TRUE(records->FaxTable.Active());
  EXPECT_EQ(records->FaxTable.RecNo(), 3);
  EXPECT_EQ(records->FaxTable.FieldByName("SUBJECT")->AsString().trimmed(), "fax 3");
  // The list is told to re-read once, when following resumes.
  EXPECT_FALSE(records->FaxTable.ControlsDisabled());
}

TEST_F(FaxTablesTest, ListShowsLabelsInOrderAndFollowsTheCurrentRowBothWays) {
  ASSERT_TRUE(records->OpenFaxDBF());
  addSent("older", QDate(2026, 1, 1), "08:00");
  addSent("newer", QDate(2026, 1, 5), "08:00");
  TFaxRecords::FollowRows(records->FaxTable, records->FaxApollo, "DATESENT");
  TTableModel model(records->FaxTable, kFaxColumns);
  QTableView view;
  model.attach(&view);
  QStringList labels;
  for (int c = 0; c < model.columnCount(); ++c)
    labels << model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  EXPECT_EQ(labels, (QStringList{"Sent", "Date Sent", "Time Sent", "Recipient", "Phone", "Pages",
                                 "Subject", "Last Attempt"}));
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.data(model.index(0, 6), Qt::DisplayRole).toString(), "newer");
  EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), "Yes");
  // Wider display widths give wider columns; a narrow field is at least as wide as its title.
  EXPECT_GT(view.columnWidth(7), view.columnWidth(3));
  EXPECT_GE(view.columnWidth(0), view.fontMetrics().horizontalAdvance("Sent"));

  // Dataset moves: the view's current row follows.
  records->FaxTable.Last();
  EXPECT_EQ(view.currentIndex().row(), 1);
  // View moves: the dataset follows.
  view.setCurrentIndex(model.index(0, 2));
  EXPECT_EQ(records->FaxTable.FieldByName("SUBJECT")->AsString().trimmed(), "newer");
  // A new row appears without re-attaching.
  addSent("newest", QDate(2026, 2, 1), "08:00");
  EXPECT_EQ(model.rowCount(), 3);
  EXPECT_EQ(model.data(model.index(0, 6), Qt::DisplayRole).toString(), "newest");
}

TEST_F(FaxTablesTest, AListNotFollowingKeepsItsRowsWithoutReadingPastTheTable) {
  ASSERT_TRUE(records->OpenFaxDBF());
  addSent("one", QDate(2026, 1, 1), "08:00");
  addSent("two", QDate(2026, 1, 2), "08:00");
  TTableModel model(records->FaxTable, kFaxColumns);
  model.setFollowing(false);
  records->FaxTable.First();
  ASSERT_TRUE(records->FaxTable.Delete());
  EXPECT_EQ(model.rowCount(), 2);
  EXPECT_FALSE(model.data(model.index(1, 6), Qt::DisplayRole).isValid());
  model.setFollowing(true);
  EXPECT_EQ(model.rowCount(), 1);
}

}  // namespace
}  // namespace kv
