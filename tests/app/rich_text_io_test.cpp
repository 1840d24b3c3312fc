// Moving RTF between memo fields and a rich-text control.
#include <QDir>
#include <QFile>

#include "app/fax_tables.h"
#include "app/rich_text_io.h"
#include "test_support.h"

namespace kv {
namespace {

// A control that keeps the RTF it is given; rejects what does not start like RTF, as a real
// reader would.
class BytesControl : public IRichTextControl {
 public:
  QByteArray content = "{\\rtf1 left over}";
  int repaints = 0;
  void Clear() override { content.clear(); }
  bool LoadRtf(const QByteArray &rtf) override {
    if (!rtf.startsWith("{\\rtf")) return false;
    content = rtf;
    return true;
  }
  QByteArray SaveRtf() const override { return content; }
  void Repaint() override { ++repaints; }
};

class RichTextIoTest : public test::ProgramDirTest {
 protected:
  xbase::Engine engine;
  TFaxRecords records{engine};
  void SetUp() override {
    ProgramDirTest::SetUp();
    ASSERT_TRUE(records.OpenFaxDBF());
  }
};

TEST_F(RichTextIoTest, RealRtfFilesSurviveTheRoundTripThroughBothMemos) {
  const QDir dir(KORVANE_TESTDATA "/rtf");
  const QStringList files = dir.entryList({"*.rtf"}, QDir::Files, QDir::Name);
  ASSERT_FALSE(files.isEmpty());
  TTable &t = records.FaxTable;
  for (const QString &name : files) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    BytesControl cover, doc;
    cover.content = f.readAll();
    doc.content = "{\\rtf1 document of " + name.toUtf8() + "}";
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(SaveRichText(cover, "RTFCOVER", records.FaxApollo)) << name.toStdString();
    ASSERT_TRUE(SaveRichText(doc, "RTFDOC", records.FaxApollo));
    ASSERT_TRUE(t.FieldByName("SUBJECT")->SetAsString(name));
    ASSERT_TRUE(t.Post());
  }
  records.FaxTableCloseAndOpen();
  ASSERT_EQ(t.RecCount(), files.size());
  for (int recno = 1; recno <= files.size(); ++recno) {
    ASSERT_TRUE(t.GotoRecord(recno));
    const QString name = t.FieldByName("SUBJECT")->AsString().trimmed();
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    BytesControl cover, doc;
    EXPECT_TRUE(LoadRichText(cover, "RTFCOVER", records.FaxApollo));
    EXPECT_TRUE(LoadRichText(doc, "RTFDOC", records.FaxApollo));
    EXPECT_EQ(cover.content, f.readAll()) << name.toStdString();
    EXPECT_EQ(doc.content, "{\\rtf1 document of " + name.toUtf8() + "}");
    EXPECT_EQ(cover.repaints, 1);
  }
}

TEST_F(RichTextIoTest, AMemoNeverWrittenLeavesTheControlEmpty) {
  TTable &t = records.FaxTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.FieldByName("SUBJECT")->SetAsString("no memos"));
  ASSERT_TRUE(t.Post());
  BytesControl control;
  EXPECT_TRUE(LoadRichText(control, "RTFCOVER", records.FaxApollo));
  EXPECT_TRUE(control.content.isEmpty());
}

TEST_F(RichTextIoTest, SavingWhileBrowsingWritesTheRowAtOnce) {
  TTable &t = records.FaxTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.Post());
  BytesControl control;
  control.content = "{\\rtf1 later}";
  ASSERT_EQ(t.State(), TDataSetState::dsBrowse);
  ASSERT_TRUE(SaveRichText(control, "RTFDOC", records.FaxApollo));
  EXPECT_EQ(t.State(), TDataSetState::dsBrowse);
  records.FaxTableCloseAndOpen();
  BytesControl back;
  ASSERT_TRUE(LoadRichText(back, "RTFDOC", records.FaxApollo));
  EXPECT_EQ(back.content, "{\\rtf1 later}");
}

TEST_F(RichTextIoTest, FailuresAreReportedNotSwallowed) {
  BytesControl control;
  // No current row: nothing to save into.
  EXPECT_FALSE(SaveRichText(control, "RTFDOC", records.FaxApollo));
  TTable &t = records.FaxTable;
  ASSERT_TRUE(t.Append());
  // Not a memo field, or no such field.
  EXPECT_FALSE(SaveRichText(control, "SUBJECT", records.FaxApollo));
  EXPECT_FALSE(SaveRichText(control, "NOSUCH", records.FaxApollo));
  // Stored bytes the control cannot read: the control is left empty, and the caller knows.
  BytesControl garbage;
  garbage.content = "not rtf at all";
  ASSERT_TRUE(SaveRichText(garbage, "RTFCOVER", records.FaxApollo));
  ASSERT_TRUE(t.Post());
  EXPECT_FALSE(LoadRichText(control, "RTFCOVER", records.FaxApollo));
  EXPECT_TRUE(control.content.isEmpty());
}

}  // namespace
}  // namespace kv
