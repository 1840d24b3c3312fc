// A sent fax as the main window shows it once its pages are kept: View, Edit and Delete.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include "app/program_dir.h"
#include "compose/fax_editor.h"
#include "compose/main_screen_fixture.h"
#include "fax/apf_io.h"
#include "richtext/rich_edit.h"
#include "sending/row_send.h"
#include "sending/sent_archive.h"
#include "support/modal.h"
#include "support/sent_rows.h"
#include "viewer/fax_viewer_window.h"

namespace kv {
namespace {

class SentRecord : public test::ShownMainScreenTest {
 protected:
  void addRow() {
    ASSERT_TRUE(test::AddSentRow(w->Records, "COVER", "Body text", {"Acme", "5551234", "Offer"}));
    w->FaxTableCloseAndOpen();
  }
};

// A sent row whose pages are kept is its record: View shows the kept pages (one, where drawing
// the row again would give two), Edit shows the fax read-only with the note and accepts
// nothing, and Delete takes the kept pages with the row.
TEST_F(SentRecord, ASentFaxIsShownAsItWentOut) {
  addRow();
  TTable &t = w->Records.FaxTable;
  QString error;
  ASSERT_TRUE(WriteSendResult(t, 1, "Sent", QDateTime::currentDateTime(), error));
  const QString work = path("went-out.apf");
  {
    ApfWriter apf;
    std::vector<std::uint8_t> line(216, 0);
    ASSERT_EQ(apf.create(work.toStdString()), ecOK);
    ASSERT_EQ(apf.beginPage(false, false), ecOK);
    for (int y = 0; y < 50; ++y) ASSERT_EQ(apf.writeLine(line.data()), ecOK);
    ASSERT_EQ(apf.endPage(), ecOK);
    ASSERT_EQ(apf.finish("ME"), ecOK);
  }
  ASSERT_TRUE(KeepSentFax(t, ProgramDir(), work, error)) << error.toStdString();
  const QString kept = KeptSentFax(t, ProgramDir());
  ASSERT_FALSE(kept.isEmpty());

  QString viewed;
  test::OnModal<TFaxViewer>([&](TFaxViewer &v) {
    viewed = v.FileName;
    v.reject();
  });
  w->mnuViewPrintClick();
  EXPECT_EQ(viewed, kept);
  EXPECT_TRUE(QFile::exists(kept));  // a record, not a work file

  bool editorSeen = false;
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    editorSeen = true;
    auto *note = e.findChild<QLabel *>("SentNote");
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), "Sent faxes cannot be changed; use Clone to send it again");
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(e.Subject->text(), "Offer");
    for (QLineEdit *field : {e.Recipient, e.FaxNumber, e.Subject})
      EXPECT_TRUE(field->isReadOnly()) << field->objectName().toStdString();
    EXPECT_TRUE(e.WPDoc->isReadOnly());
    EXPECT_TRUE(e.WPCover->isReadOnly());
    EXPECT_FALSE(e.OKButton->isEnabled());
    QTest::keyClick(e.Subject, Qt::Key_Return);
    EXPECT_TRUE(e.isVisible());
    QTest::keyClick(e.Subject, Qt::Key_Escape);
  });
  w->EditButtonClick();
  EXPECT_TRUE(editorSeen);
  EXPECT_TRUE(shown.empty()) << shown[0].text.toStdString();
  EXPECT_EQ(t.FieldByName("SUBJECT")->AsString().trimmed(), "Offer");

  answer = true;
  w->DeleteButtonClick();
  EXPECT_FALSE(QFile::exists(kept));
}

}  // namespace
}  // namespace kv
