// Rebuild Indexes: packing and re-indexing all four tables.
#include <QFile>
#include <QLabel>
#include <QTimer>

#include "app/fax_tables.h"
#include "app/rebuild_ind.h"
#include "test_support.h"

namespace kv {
namespace {

class RebuildTest : public test::ProgramDirTest {
 protected:
  xbase::Engine engine;
  TFaxRecords records{engine};

  void SetUp() override {
    ProgramDirTest::SetUp();
    ASSERT_TRUE(records.OpenFaxDBF());
    ASSERT_TRUE(records.OpenRecFaxDBF());
  }
  // Adds n rows to a table, marks every second one deleted.
  void fill(TTable &t, const char *field, int n) {
    for (int i = 1; i <= n; ++i) {
      ASSERT_TRUE(t.Append());
      ASSERT_TRUE(t.FieldByName(field)->SetAsString(QString("row %1").arg(i)));
      ASSERT_TRUE(t.Post());
    }
    for (int i = 2; i <= n; i += 2) {
      ASSERT_TRUE(t.GotoRecord(i));
      ASSERT_TRUE(t.Delete());
    }
  }
  void fillSideTables() {
    ASSERT_TRUE(records.OpenPhoneDBF());
    fill(records.PhoneTable, "NAME", 4);
    records.PhoneTable.Close();
    ASSERT_TRUE(records.OpenCoverDBF());
    fill(records.CoverTable, "DESCRIPT", 6);
    records.CoverTable.Close();
  }
  std::unique_ptr<xbase::Table> openRaw(const QString &file) {
    std::unique_ptr<xbase::Table> t;
    xbase::Table::Open(path(file).toStdString(), {}, &t);
    return t;
  }
};

TEST_F(RebuildTest, DeletedRowsLeaveEveryTableAndIndexesAreNew) {
  fill(records.FaxTable, "SUBJECT", 6);
  fill(records.RecTable, "NOTES", 5);
  fillSideTables();
  ASSERT_TRUE(QFile::remove(path("KRVREC.CDX")));  // a missing index is no error

  TRebuildInd rebuild(records);
  rebuild.Rebuild();

  EXPECT_EQ(
      rebuild.Messages(),
      (QStringList{
          "Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
          "Removing Received FAX records marked for deletion", "Rebuilding Received FAX indexes",
          "Removing PHONE file records marked for deletion", "Rebuilding PHONE file indexes",
          "Removing COVER file records marked for deletion", "Rebuilding COVER file indexes"}));
  EXPECT_TRUE(rebuild.PackFailures().isEmpty());
  EXPECT_TRUE(rebuild.WhatAmIDoing->isVisibleTo(&rebuild));
  // The main tables stay open, in their tag's order, with contiguous record numbers.
  EXPECT_EQ(records.FaxTable.RecCount(), 3);
  EXPECT_EQ(records.RecTable.RecCount(), 3);
  EXPECT_EQ(records.FaxApollo.IndexOrd(), records.FaxApollo.TagArea("DATESENT"));
  EXPECT_FALSE(records.PhoneTable.Active());
  EXPECT_FALSE(records.CoverTable.Active());
  records.FaxTable.Close();
  records.RecTable.Close();

  struct Expect {
    const char *file;
    uint32_t rows;
    const char *tag, *key;
    bool descending;
    const char *field;  // the field fill() wrote
  };
  for (const Expect &e :
       {Expect{"KRV.DBF", 3, "DATESENT", "datesent", true, "SUBJECT"},
        Expect{"KRVREC.DBF", 3, "DATETIME", "DTOS(DATEREC)+TIMEREC", true, "NOTES"},
        Expect{"KRVPB.DBF", 2, "NAME", "NAME", false, "NAME"},
        Expect{"KRVCOV.DBF", 3, "DESCRIPT", "DESCRIPT", false, "DESCRIPT"}}) {
    SCOPED_TRACE(e.file);
    auto t = openRaw(e.file);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->RecCount(), e.rows);
    for (uint32_t r = 1; r <= e.rows; ++r) {
      xbase::Record rec;
      ASSERT_TRUE(t->ReadRecord(r, &rec).ok());
      EXPECT_FALSE(rec.deleted());
      EXPECT_EQ(rec.GetString(t->FieldIndex(e.field)), "row " + std::to_string(2 * r - 1));
    }
    ASSERT_EQ(t->TagCount(), 1);
    EXPECT_EQ(t->Tag(1).name, e.tag);
    EXPECT_EQ(t->Tag(1).key, e.key);
    EXPECT_EQ(t->Tag(1).forExpr, ".not. deleted()");
    EXPECT_EQ(t->Tag(1).descending, e.descending);
    EXPECT_TRUE(t->CheckIndexes().ok);
  }
}

TEST_F(RebuildTest, AnUnreadablePhoneBookIsSkippedAndTheCoverStillDone) {
  fill(records.FaxTable, "SUBJECT", 2);
  QFile f(path("KRVPB.DBF"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("garbage");
  f.close();
  TRebuildInd rebuild(records);
  rebuild.Rebuild();
  EXPECT_FALSE(rebuild.Messages().join('|').contains("PHONE"));
  EXPECT_TRUE(rebuild.Messages().endsWith("Rebuilding COVER file indexes"));
  EXPECT_EQ(records.FaxTable.RecCount(), 1);
}

TEST_F(RebuildTest, AnUnreadableCoverFileEndsTheRebuildAfterTheOthers) {
  QFile f(path("KRVCOV.DBF"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("garbage");
  f.close();
  TRebuildInd rebuild(records);
  rebuild.Rebuild();
  EXPECT_EQ(rebuild.Messages().size(), 6);
  EXPECT_EQ(rebuild.Messages().last(), "Rebuilding PHONE file indexes");
}

TEST_F(RebuildTest, TheWindowDoesItsWorkWhenShownAndClosesItself) {
  fill(records.FaxTable, "SUBJECT", 4);
  TRebuildInd rebuild(records);
  EXPECT_FALSE(rebuild.WhatAmIDoing->isVisibleTo(&rebuild));
  QTimer::singleShot(20000, &rebuild, &QDialog::reject);  // a hang fails, never blocks
  EXPECT_EQ(rebuild.exec(), QDialog::Accepted);
  EXPECT_EQ(records.FaxTable.RecCount(), 2);
}

}  // namespace
}  // namespace kv
