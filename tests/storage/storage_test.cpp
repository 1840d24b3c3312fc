// The dataset and direct-call layer, driven the way the fax tables use it.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/storage/tapollo.h"

using namespace kv;

namespace {

class Storage : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.settings().durable = false;
    engine.settings().deleted = true;
    table.SetDatabaseName(dir.path());
    table.SetTableName("KRV.DBF");
    apollo.DataSource = &table;
  }
  QString Path(const QString &name) const { return QDir(dir.path()).filePath(name); }

  bool MakeFax() {
    if (!apollo.CreateNew(Path("KRV.DBF"), SDEFOX, 10)) return false;
    struct F {
      const char *n, *t;
      int w, d;
    } fields[] = {{"SUBJECT", "C", 50, 0}, {"SENT", "L", 1, 0},         {"DATESENT", "D", 8, 0},
                  {"TIMESENT", "C", 5, 0}, {"RECIPIENT", "C", 35, 0},   {"PHONE", "C", 25, 0},
                  {"PAGES", "N", 2, 0},    {"LASTRESULT", "C", 100, 0}, {"RTFCOVER", "M", 10, 0},
                  {"RTFDOC", "M", 10, 0}};
    for (auto &f : fields)
      if (!apollo.CreateField(f.n, f.t, f.w, f.d)) return false;
    return apollo.CreateExec() && QFile::exists(Path("KRV.DBF"));
  }

  // The opening sequence of the sent-fax table.
  bool OpenFax() {
    if (!QFile::exists(Path("KRV.DBF")) && !MakeFax()) return false;
    table.Close();
    if (!table.Open()) return false;
    if (!QFile::exists(Path("KRV.CDX")))
      apollo.IndexTag("", "DATESENT", "DTOS(DATESENT)+TIMESENT", 0, true, ".not. deleted()");
    table.First();
    apollo.Query(".not. deleted()");
    return true;
  }

  void AddFax(const QString &subject, QDate sent = {}, const QString &time = {}) {
    ASSERT_TRUE(table.Append());
    table.FieldByName("SUBJECT")->SetAsString(subject);
    if (sent.isValid()) {
      table.FieldByName("SENT")->SetAsBoolean(true);
      table.FieldByName("DATESENT")->SetAsDate(sent);
      table.FieldByName("TIMESENT")->SetAsString(time);
    }
    ASSERT_TRUE(table.Post()) << table.LastError().toStdString();
  }

  QStringList Subjects() {
    QStringList out;
    for (table.First(); !table.Eof(); table.Next()) {
      out << table.FieldByName("SUBJECT")->AsString();
      if (out.size() > 1000) break;
    }
    return out;
  }

  QTemporaryDir dir;
  xbase::Engine engine;
  TTable table{engine};
  TApollo apollo{engine};
};

}  // namespace

TEST_F(Storage, SentFaxTableOrderAndFieldTypes) {
  ASSERT_TRUE(OpenFax());
  EXPECT_EQ(apollo.IndexOrd(), 1);
  EXPECT_EQ(apollo.TagName(1), "DATESENT");
  EXPECT_EQ(table.RecNo(), table.RecCount() + 1);  // empty: no current row
  EXPECT_EQ(apollo.QueryRecCount(), 0);
  AddFax("never sent");
  AddFax("old", QDate(2023, 5, 1), "10:00");
  AddFax("new", QDate(2024, 2, 1), "08:15");
  AddFax("new later", QDate(2024, 2, 1), "17:45");
  EXPECT_EQ(Subjects(), QStringList({"new later", "new", "old", "never sent"}));
  EXPECT_EQ(table.FieldByName("PAGES")->DataType(), TFieldType::ftSmallint);
  EXPECT_EQ(table.FieldByName("DATESENT")->DataType(), TFieldType::ftDate);
  EXPECT_EQ(table.FieldByName("SENT")->DataType(), TFieldType::ftBoolean);
  EXPECT_EQ(table.FieldByName("RTFDOC")->DataType(), TFieldType::ftMemo);
  EXPECT_EQ(table.FieldByName("subject")->Size(), 50);
  EXPECT_EQ(table.FieldByName("NOSUCH"), nullptr);

  table.First();
  EXPECT_EQ(table.FieldByName("DATESENT")->AsDate(), QDate(2024, 2, 1));
  table.Last();
  EXPECT_TRUE(table.FieldByName("DATESENT")->IsNull());
  EXPECT_EQ(table.FieldByName("TIMESENT")->AsString(), "");

  // Record order while there is no current row, tag order again afterwards.
  apollo.SetOrder(0);
  EXPECT_EQ(Subjects(), QStringList({"never sent", "old", "new", "new later"}));
  apollo.SetOrder(apollo.TagArea("datesent"));
  EXPECT_EQ(Subjects().first(), "new later");
}

TEST_F(Storage, CalculatedFieldFollowsEveryRowRead) {
  table.AddCalcField("SentYesNo", 3);
  table.OnCalcFields = [](TTable &t) {
    t.FieldByName("SentYesNo")->SetAsString(t.FieldByName("SENT")->AsBoolean() ? "Yes" : "No ");
  };
  ASSERT_TRUE(OpenFax());
  AddFax("draft");
  AddFax("done", QDate(2024, 1, 1), "09:00");
  ASSERT_EQ(table.RowCount(), 2);
  EXPECT_EQ(table.ValueAt(0, "SentYesNo").toString(), "Yes");
  EXPECT_EQ(table.ValueAt(1, "SentYesNo").toString(), "No ");
  EXPECT_EQ(table.ValueAt(1, "SUBJECT").toString(), "draft");
  table.First();
  EXPECT_EQ(table.FieldByName("SentYesNo")->AsString(), "Yes");
  table.Next();
  EXPECT_EQ(table.FieldByName("SentYesNo")->AsString(), "No ");
}

TEST_F(Storage, EditingStatesAndRefusedValues) {
  ASSERT_TRUE(OpenFax());
  AddFax("first");
  EXPECT_FALSE(table.FieldByName("SUBJECT")->SetAsString("x"));  // browse state
  ASSERT_TRUE(table.Edit());
  EXPECT_EQ(table.State(), TDataSetState::dsEdit);
  EXPECT_FALSE(table.FieldByName("PAGES")->SetAsInteger(123));  // N(2) cannot hold it
  ASSERT_TRUE(table.FieldByName("PAGES")->SetAsInteger(12));
  ASSERT_TRUE(table.FieldByName("SUBJECT")->SetAsString("changed"));
  table.Cancel();
  EXPECT_EQ(table.FieldByName("SUBJECT")->AsString(), "first");
  EXPECT_EQ(table.FieldByName("PAGES")->AsInteger(), 0);
  ASSERT_TRUE(table.Edit());
  table.FieldByName("PAGES")->SetValue(QVariant("7"));
  ASSERT_TRUE(table.Post());
  EXPECT_EQ(table.FieldByName("PAGES")->AsInteger(), 7);
  // Insert state: RecNo is one past the end until posted.
  ASSERT_TRUE(table.Append());
  EXPECT_EQ(table.RecNo(), table.RecCount() + 1);
  table.Cancel();
  EXPECT_EQ(table.RecCount(), 1);
}

TEST_F(Storage, DeleteHidesAndRebuildPacks) {
  ASSERT_TRUE(OpenFax());
  for (int i = 0; i < 10; ++i) AddFax(QString("fax %1").arg(i), QDate(2024, 1, 1 + i), "12:00");
  ASSERT_TRUE(apollo.GotoRecord(4));
  ASSERT_TRUE(table.Delete());
  ASSERT_TRUE(apollo.GotoRecord(5));
  ASSERT_TRUE(table.Delete());
  EXPECT_EQ(apollo.QueryRecCount(), 8);
  EXPECT_EQ(apollo.RecCount(), 10);
  EXPECT_FALSE(Subjects().contains("fax 3"));

  // The rebuild: close the index, remove its file, pack, index again, order by the tag.
  ASSERT_TRUE(apollo.CloseIndexes());
  ASSERT_TRUE(QFile::remove(Path("KRV.CDX")));
  ASSERT_TRUE(apollo.Pack());
  EXPECT_EQ(apollo.RecCount(), 8);
  auto indexFlag = [&] {
    QFile f(Path("KRV.DBF"));
    f.open(QIODevice::ReadOnly);
    return f.read(29).at(28) & 0x01;
  };
  EXPECT_EQ(indexFlag(), 0);  // no index file, so the table must not claim one
  ASSERT_GT(apollo.IndexTag("", "DATESENT", "datesent", 0, true, ".not. deleted()"), 0);
  EXPECT_EQ(indexFlag(), 1);
  apollo.SetOrder(apollo.TagArea("DATESENT"));
  EXPECT_EQ(Subjects().first(), "fax 9");
  ASSERT_TRUE(apollo.GotoRecord(4));
  EXPECT_EQ(table.FieldByName("SUBJECT")->AsString(), "fax 5");  // renumbered
  EXPECT_FALSE(apollo.GotoRecord(9));
  EXPECT_TRUE(apollo.IndexOk());
}

TEST_F(Storage, MemoTransferThroughFiles) {
  ASSERT_TRUE(OpenFax());
  AddFax("with memo");
  QString tmp = Path("Eraseme.rtf");
  EXPECT_EQ(apollo.BlobToFile("RTFDOC", tmp), 0);  // never written: nothing to load
  EXPECT_FALSE(QFile::exists(tmp));
  QFile f(tmp);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("{\\rtf1\\ansi hello}");
  f.close();
  ASSERT_TRUE(table.Edit());
  table.FieldByName("SUBJECT")->SetAsString("edited");
  ASSERT_EQ(apollo.Replace("RTFDOC", 8192, tmp), 1);
  EXPECT_EQ(table.State(), TDataSetState::dsEdit);  // edit state comes back
  ASSERT_TRUE(table.Post());
  QFile::remove(tmp);
  table.Close();
  ASSERT_TRUE(OpenFax());
  EXPECT_EQ(table.FieldByName("SUBJECT")->AsString(), "edited");
  ASSERT_EQ(apollo.BlobToFile("RTFDOC", tmp), 1);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("{\\rtf1\\ansi hello}"));
  // A new row being appended is posted first, then gets its memo.
  ASSERT_TRUE(table.Append());
  table.FieldByName("SUBJECT")->SetAsString("appended");
  ASSERT_EQ(apollo.Replace("RTFCOVER", 8192, tmp), 1);
  EXPECT_EQ(table.RecCount(), 2);
  table.Cancel();
  EXPECT_EQ(table.FieldByName("RTFCOVER")->AsBytes(), QByteArray("{\\rtf1\\ansi hello}"));
}

TEST_F(Storage, MemoToAFullDiskIsAFailure) {
  if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_TRUE(OpenFax());
  AddFax("with memo");
  ASSERT_TRUE(table.Edit());
  ASSERT_TRUE(table.FieldByName("RTFDOC")->SetAsBytes("{\\rtf1 small enough to sit in a buffer}"));
  ASSERT_TRUE(table.Post());
  // A name that leads to a device where every write fails for want of space.
  const QString full = Path("full.rtf");
  ASSERT_TRUE(QFile::link("/dev/full", full));
  EXPECT_EQ(apollo.BlobToFile("RTFDOC", full), 0);
  EXPECT_FALSE(apollo.LastError().isEmpty());
  EXPECT_TRUE(QFile::exists("/dev/full"));
}

TEST_F(Storage, OpenFailuresAndTheMissingIndex) {
  EXPECT_FALSE(table.Open());  // no file
  EXPECT_FALSE(table.LastError().isEmpty());
  ASSERT_TRUE(OpenFax());
  AddFax("kept", QDate(2024, 3, 3), "03:03");
  // A second dataset on the same file is refused while the first holds it.
  TTable other(engine);
  other.SetDatabaseName(dir.path());
  other.SetTableName("KRV.DBF");
  EXPECT_FALSE(other.Open());
  EXPECT_TRUE(other.LastError().contains("in use")) << other.LastError().toStdString();
  table.Close();
  ASSERT_TRUE(QFile::remove(Path("KRV.CDX")));
  ASSERT_TRUE(OpenFax());  // the tag is made again
  EXPECT_TRUE(QFile::exists(Path("KRV.CDX")));
  EXPECT_EQ(apollo.IndexOrd(), 1);
  EXPECT_EQ(Subjects(), QStringList({"kept"}));
}

TEST_F(Storage, ListenersFollowTheDataset) {
  ASSERT_TRUE(OpenFax());
  std::vector<TDataEvent> seen;
  int id = table.AddListener([&](TDataEvent e) { seen.push_back(e); });
  AddFax("a", QDate(2024, 1, 1), "01:00");
  AddFax("b", QDate(2024, 1, 2), "01:00");
  EXPECT_NE(std::find(seen.begin(), seen.end(), TDataEvent::deDataSetChanged), seen.end());
  seen.clear();
  table.First();
  table.Next();
  EXPECT_EQ(seen, std::vector<TDataEvent>({TDataEvent::deScrolled, TDataEvent::deScrolled}));
  seen.clear();
  table.DisableControls();
  table.First();
  table.Next();
  EXPECT_TRUE(seen.empty());
  table.EnableControls();
  EXPECT_EQ(seen, std::vector<TDataEvent>({TDataEvent::deDataSetChanged}));
  table.RemoveListener(id);
  seen.clear();
  table.First();
  EXPECT_TRUE(seen.empty());
  EXPECT_TRUE(table.Bof());
  table.Next();
  table.Next();  // past the last row: stays on it and reports the end
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.FieldByName("SUBJECT")->AsString(), "a");
}

TEST_F(Storage, ADamagedIndexIsReportedAndReindexMendsIt) {
  ASSERT_TRUE(OpenFax());
  AddFax("one", QDate(2024, 1, 1), "01:00");
  AddFax("two", QDate(2024, 1, 2), "01:00");
  table.Close();
  QFile cdx(Path("KRV.CDX"));
  ASSERT_TRUE(cdx.open(QIODevice::ReadWrite));
  cdx.write(QByteArray(cdx.size(), '\xAB'));
  cdx.close();
  ASSERT_TRUE(OpenFax());
  EXPECT_FALSE(apollo.IndexOk());
  EXPECT_FALSE(apollo.IndexProblem().isEmpty());
  EXPECT_EQ(apollo.QueryRecCount(), 2);  // the rows are all there
}

TEST_F(Storage, TextIsStoredAsWindows1252AndReadBack) {
  ASSERT_TRUE(OpenFax());
  // The euro sign and curly quotes have bytes of their own; U+0081 stands for an unassigned
  // byte and must come back as it went in; a CJK character has no byte and becomes '?'.
  const QString subject = QString::fromUtf8("\u20AC 5 \u201Cok\u201D caf\u00E9 ") +
                          QChar(char16_t(0x81)) + QString::fromUtf8(" \u4E2D");
  AddFax(subject);
  table.First();
  const QByteArray raw = table.FieldByName("SUBJECT")->AsBytes();
  EXPECT_EQ(raw.left(17), QByteArray("\x80 5 \x93ok\x94 caf\xE9 \x81 ?"));
  EXPECT_EQ(table.FieldByName("SUBJECT")->AsString().trimmed(),
            QString(subject).replace(QChar(0x4E2D), '?'));
}
