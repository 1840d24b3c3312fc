// Files we write are read by independent readers (python-dbf, pgdbf), and theirs by us.
#include <map>
#include <sstream>

#include "test_util.h"

using namespace kv::xbase;

namespace {

bool HavePythonDbf() {
  return kvtest::Run("/usr/bin/python3 -c 'import dbf; print(\"ok\")' 2>/dev/null") == "ok\n";
}

}  // namespace

TEST(Interop, PythonDbfAndPgdbfReadOurTable) {
  if (!HavePythonDbf()) GTEST_SKIP() << "python3-dbf is not installed";
  for (Flavour flavour : {Flavour::FoxPro2, Flavour::VisualFoxPro}) {
    SCOPED_TRACE(flavour == Flavour::FoxPro2 ? "FoxPro 2 flavour" : "VFP flavour");
    kvtest::TempDir dir;
    {
      ASSERT_TRUE(Table::Create(dir / "KRV.DBF", kvtest::FaxFields(), flavour));
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
    kv::test::writeFile(dir / "check.py", script);
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
    kv::test::writeFile(dir / "make.py", script);
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
    kv::test::writeFile(dir / "read.py", "import dbf\nt = dbf.Table('" + dir / name +
                                             "')\nt.open()\nprint(t[2].name.strip(), t[2].note)\n");
    EXPECT_EQ(kvtest::Run("/usr/bin/python3 " + dir / "read.py" + " 2>&1"), "gamma third\n")
        << type;
  }
}

TEST(Interop, IndependentWalkerReadsOurIndexes) {
  kvtest::TempDir dir;
  ASSERT_TRUE(Table::Create(dir / "KRV.DBF", kvtest::FaxFields()));
  std::unique_ptr<Table> t;
  Settings s;
  s.durable = false;
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", s, &t));
  t->BeginBatch();
  for (int i = 0; i < 3000; ++i) {  // enough for interior levels
    Record r = t->BlankRecord();
    r.PutString(0, "subject " + std::to_string(i * 7919 % 3001));
    if (i % 4) r.PutDate(2, {2020 + i % 5, 1 + i % 12, 1 + i % 28});
    r.PutString(3, i % 2 ? "10:00" : "22:15");
    r.PutNumber(6, i % 37);
    ASSERT_TRUE(t->Append(r, nullptr));
    if (i % 10 == 0) {
      ASSERT_TRUE(t->SetDeleted(uint32_t(i + 1), true));
    }
  }
  ASSERT_TRUE(t->EndBatch());
  ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
  ASSERT_TRUE(t->IndexTag("PAGES", "PAGES", "", false));
  ASSERT_TRUE(t->IndexTag("SUBJECT", "UPPER(SUBJECT)", "", false));
  std::string out = kvtest::Run("/usr/bin/python3 " KORVANE_SOURCE_DIR "/tests/xbase/cdx_walk.py " +
                                dir / "KRV.CDX" + " PAGES=0 2>&1");
  std::istringstream in(out);
  std::string line;
  std::vector<std::string> tags;
  std::map<std::string, std::vector<uint32_t>> recs;
  std::string current;
  while (std::getline(in, line)) {
    ASSERT_NE(line.rfind("BAD", 0), 0u) << line;
    if (line.rfind("TAG ", 0) == 0) {
      tags.push_back(line.substr(4));
      current = line.substr(4, line.find('|') - 4);
    } else {
      recs[current].push_back(uint32_t(std::stoul(line)));
      if (current == "DATESENT" && recs[current].size() == 1) {
        EXPECT_EQ(line.substr(line.find(' ') + 1), std::string("2020202020202020") + "32323a3135")
            << "an empty date sorts first in the stored order";
      }
    }
  }
  EXPECT_EQ(tags,
            (std::vector<std::string>{"DATESENT|DTOS(DATESENT)+TIMESENT|.not. deleted()|1|13|68",
                                      "PAGES|PAGES||0|8|60", "SUBJECT|UPPER(SUBJECT)||0|50|60"}));
  for (int order = 1; order <= 3; ++order) {
    ASSERT_TRUE(t->SetOrder(order));
    std::vector<uint32_t> ours;
    for (t->GoTop(); !t->Eof(); t->Skip(1)) ours.push_back(t->RecNo());
    if (t->Tag(order).descending) std::reverse(ours.begin(), ours.end());
    EXPECT_EQ(recs[t->TagName(order)], ours) << t->TagName(order);
  }
  EXPECT_EQ(recs["DATESENT"].size(), 2700u);
}
