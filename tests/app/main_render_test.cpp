// The main window's rendering of the current sent-fax row into one APF file, and the default
// font of new faxes: applied to a control, and chosen through the font dialog into KRV.INI.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextBlock>

#include "app/main_screen.h"
#include "faximage/apf_file.h"
#include "richtext/rich_edit.h"
#include "test_support.h"

namespace kv {
namespace {

class MainRenderTest : public test::ProgramDirTest {
 protected:
  void addRow(const QByteArray &cover, const QByteArray &doc) {
    TTable &t = w->Records.FaxTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("RTFCOVER")->SetAsBytes(cover));
    ASSERT_TRUE(t.FieldByName("RTFDOC")->SetAsBytes(doc));
    ASSERT_TRUE(t.Post());
  }
  void SetUp() override {
    ProgramDirTest::SetUp();
    w = std::make_unique<TMainScreen>();
  }
  void TearDown() override {
    w.reset();
    ProgramDirTest::TearDown();
  }
  std::unique_ptr<TMainScreen> w;
};

TEST_F(MainRenderTest, CurrentRowBecomesOneFaxFile) {
  addRow("{\\rtf1 Cover}", "{\\rtf1 one\\page two}");
  const QString name = w->CreateFaxFile();
  EXPECT_TRUE(name.startsWith(path("KRV_"))) << name.toStdString();
  EXPECT_EQ(w->PageCount, 3);
  ApfReader r;
  ASSERT_EQ(r.open(name.toStdString()), ecOK);
  EXPECT_EQ(r.header().pageCount, 3);
  // Only the fax itself is left of the work files.
  EXPECT_EQ(QDir(dir_.path()).entryList({"*.APF", "*.BMP"}),
            QStringList{QFileInfo(name).fileName()});
  EXPECT_TRUE(w->ButtonBar->isEnabled());
  EXPECT_TRUE(shown.empty());
}

TEST_F(MainRenderTest, NothingToSendIsSaid) {
  addRow({}, "{\\rtf1   \\par  }");
  w->PageCount = 7;
  EXPECT_TRUE(w->CreateFaxFile().isEmpty());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Fax has no contents or cover sheet");
  EXPECT_TRUE(w->ButtonBar->isEnabled());
  EXPECT_TRUE(QDir(dir_.path()).entryList({"*.APF", "*.BMP"}).isEmpty());
}

TEST_F(MainRenderTest, DefaultFontIsAppliedAndChosen) {
  int asked = 0;
  TMainScreen::FontDialog = [&](QWidget *, QFont &font) {
    ++asked;
    EXPECT_EQ(font.family(), "Arial");
    EXPECT_EQ(font.pointSize(), 10);
    font = QFont("Courier New", 14);
    font.setItalic(true);
    return true;
  };
  EXPECT_TRUE(w->ChooseDefaultFont());
  EXPECT_EQ(asked, 1);
  QFile ini(path("KRV.INI"));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  const QByteArray text = ini.readAll();
  EXPECT_TRUE(text.contains("Name=Courier New")) << text.toStdString();
  EXPECT_TRUE(text.contains("Size=14"));
  EXPECT_TRUE(text.contains("Italic=1"));

  TRichEdit edit;
  w->ApplyDefaultFont(edit);
  edit.insertPlainText("typed");
  const QTextCharFormat f = edit.Document()->begin().begin().fragment().charFormat();
  EXPECT_EQ(f.fontFamilies().toStringList().value(0), "Courier New");
  EXPECT_EQ(f.fontPointSize(), 14);
  EXPECT_TRUE(f.fontItalic());
  EXPECT_LT(f.fontWeight(), QFont::Bold);

  // Cancelled: nothing is stored.
  TMainScreen::FontDialog = [](QWidget *, QFont &) { return false; };
  EXPECT_FALSE(w->ChooseDefaultFont());
  EXPECT_EQ(w->Settings.Data.fontSize, 14);
}

}  // namespace
}  // namespace kv
