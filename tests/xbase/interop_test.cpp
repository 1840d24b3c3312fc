// Files we write are read by independent readers (python-dbf, pgdbf), and theirs by us.
#include "test_util.h"

using namespace kv::xbase;

namespace {

bool HavePythonDbf() {
  return kvtest::Run("/usr/bin/python3 -c 'import dbf; print(\"ok\")' 2>/dev/null") == "ok\n";
}

}  // namespace

TEST(Interop, PythonDbfAndPgdbfReadOurTable) {
  if (!HavePythonDbf()) GTEST_SKIP() << "python3-dbf is not installed";
  kvtest::TempDir dir;
  {
    ASSERT_TRUE(Table::Create(dir / "KRV.DBF", kvtest::FaxFields()));
    std::unique_ptr<Table> t;
    ASSERT_TRUE(Table::Open(dir / "KRV.DBF", {}, &t));
    Record r = t->BlankRecord();
    r.PutString(0, "Quarterly report");
    r.PutLogical(1, true);
    r.PutDate(2, {2024, 1, 15});
    r.PutString(3, "09:30");
    r.PutString(4, "Smith");
    r.PutNumber(6, 3);
    r.PutMemo(8, "{\\rtf1 cover}");
    r.PutMemo(9, std::string(300, 'D'));
    ASSERT_TRUE(t->Append(r, nullptr));
    Record g = t->BlankRecord();
    g.PutString(0, "gone");
    ASSERT_TRUE(t->Append(g, nullptr));
    ASSERT_TRUE(t->SetDeleted(2, true));
    ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
  }
  std::string script =
      "import dbf\n"
      "t = dbf.Table('" +
      dir / "KRV.DBF" +
      "')\n"
      "t.open()\n"
      "print(';'.join(t.structure()))\n"
      "r = t[0]\n"
      "print(repr(r.subject.strip()), r.sent, r.datesent, r.timesent, r.pages)\n"
      "print(repr(r.rtfcover), len(r.rtfdoc), set(r.rtfdoc))\n"
      "print(dbf.is_deleted(t[1]), len(t))\n";
  kvtest::WriteFile(dir / "check.py", script);
  std::string out = kvtest::Run("/usr/bin/python3 " + dir / "check.py" + " 2>&1");
  EXPECT_EQ(out,
            "subject C(50);sent L;datesent D;timesent C(5);recipient C(35);phone C(25);"
            "pages N(2,0);lastresult C(100);rtfcover M;rtfdoc M\n"
            "'Quarterly report' True 2024-01-15 09:30 3\n"
            "'{\\\\rtf1 cover}' 300 {'D'}\n"
            "True 2\n");
  std::string sql = kvtest::Run("pgdbf -m " + dir / "KRV.FPT" + " " + dir / "KRV.DBF" + " 2>&1");
  // COPY text format: tab-separated, backslashes doubled.
  std::string row = "Quarterly report\tt\t2024-01-15\t09:30\tSmith\t\t3\t\t{\\\\rtf1 cover}\t" +
                    std::string(300, 'D') + "\n";
  EXPECT_NE(sql.find(row), std::string::npos) << sql;
  EXPECT_EQ(sql.find("gone"), std::string::npos) << "pgdbf skips deleted rows";
}

TEST(Interop, WeReadPythonDbfTables) {
  if (!HavePythonDbf()) GTEST_SKIP() << "python3-dbf is not installed";
  kvtest::TempDir dir;
  for (const char *type : {"fp", "vfp"}) {
    std::string name = std::string(type) + ".dbf";
    std::string script =
        "import dbf, datetime\n"
        "t = dbf.Table('" +
        dir / name +
        "', 'name C(10); note M; d D; n N(6,2); flag L', "
        "dbf_type='" +
        type +
        "')\n"
        "t.open(dbf.READ_WRITE)\n"
        "t.append(('alpha', 'memo one\\nline', datetime.date(2024,1,15), 12.5, True))\n"
        "t.append(('beta', '', None, -3, False))\n"
        "dbf.delete(t[1])\n"
        "t.close()\n";
    kvtest::WriteFile(dir / "make.py", script);
    kvtest::Run("/usr/bin/python3 " + dir / "make.py");
    std::unique_ptr<Table> t;
    ASSERT_TRUE(Table::Open(dir / name, {}, &t)) << type;
    ASSERT_EQ(t->RecCount(), 2u);
    ASSERT_EQ(t->Fields().size(), 5u);
    Record r;
    ASSERT_TRUE(t->ReadRecord(1, &r));
    EXPECT_EQ(r.GetString(0), "alpha");
    std::string memo;
    ASSERT_TRUE(t->ReadMemo(r, 1, &memo));
    EXPECT_EQ(memo, "memo one\nline");
    EXPECT_EQ(r.GetDate(2), (Date{2024, 1, 15}));
    EXPECT_DOUBLE_EQ(r.GetNumber(3), 12.5);
    EXPECT_TRUE(r.GetLogical(4));
    ASSERT_TRUE(t->ReadRecord(2, &r));
    EXPECT_TRUE(r.deleted());
    EXPECT_TRUE(r.GetDate(2).empty());
    EXPECT_DOUBLE_EQ(r.GetNumber(3), -3);
    // And we can add to their table without breaking it for them.
    Record n = t->BlankRecord();
    n.PutString(0, "gamma");
    n.PutMemo(1, "third");
    ASSERT_TRUE(t->Append(n, nullptr));
    t.reset();
    kvtest::WriteFile(dir / "read.py", "import dbf\nt = dbf.Table('" + dir / name +
                                           "')\nt.open()\nprint(t[2].name.strip(), t[2].note)\n");
    EXPECT_EQ(kvtest::Run("/usr/bin/python3 " + dir / "read.py" + " 2>&1"), "gamma third\n")
        << type;
  }
}
