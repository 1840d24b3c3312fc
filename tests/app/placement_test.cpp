// Window placement and centring as the windows apply them.
#include <QDialog>
#include <QMainWindow>
#include <QScreen>

#include "app/settings_link.h"
#include "app/window_placement.h"
#include "test_support.h"

// Window classes named as the program names them (the namespace is not part of the name).
namespace placement_fixture {
class TMainScreen : public QMainWindow {
  Q_OBJECT
};
class TFaxViewer : public QDialog {
  Q_OBJECT
};
}  // namespace placement_fixture

namespace kv {
namespace {

using placement_fixture::TFaxViewer;
using placement_fixture::TMainScreen;

class PlacementTest : public test::ProgramDirTest {
 protected:
  TSettingsLink store;
  std::unique_ptr<TMainScreen> mainWindow;
  void SetUp() override {
    ProgramDirTest::SetUp();
    mainWindow = std::make_unique<TMainScreen>();
    SetPlacementStore(&store);
    SetMainWindow(mainWindow.get());
  }
  void TearDown() override {
    SetPlacementStore(nullptr);
    SetMainWindow(nullptr);
    ProgramDirTest::TearDown();
  }
  QRect screen() const { return mainWindow->screen()->geometry(); }
};

TEST_F(PlacementTest, AStoredRectangleComesBackAndIsSavedAgain) {
  store.WritePlacement("TFaxViewer", 96, {50, 60, 450, 360, false});
  TFaxViewer viewer;
  RestoreWindowPlacement(&viewer);
  EXPECT_EQ(viewer.geometry(), QRect(50, 60, 400, 300));
  viewer.move(70, 80);
  ASSERT_TRUE(SaveWindowPlacement(&viewer));
  EXPECT_EQ(store.ReadPlacement("TFaxViewer", 96, false),
            (WindowPlacement{70, 80, 470, 380, false}));
}

TEST_F(PlacementTest, ARectangleWiderThanTheScreenIsMovedLeft) {
  const int w = screen().width();
  store.WritePlacement("TFaxViewer", 96, {w - 200, 10, w + 100, 210, false});
  TFaxViewer viewer;
  RestoreWindowPlacement(&viewer);
  EXPECT_EQ(viewer.geometry().left(), w - 300);
  EXPECT_EQ(viewer.geometry().left() + viewer.geometry().width(), w);
}

TEST_F(PlacementTest, WithoutAStoredPlacementAWindowIsCentredOverTheMainWindow) {
  mainWindow->setGeometry(100, 100, 501, 401);
  TFaxViewer viewer;
  viewer.resize(200, 100);
  RestoreWindowPlacement(&viewer);
  // Halves round towards zero.
  EXPECT_EQ(viewer.pos(), QPoint(100 + 301 / 2, 100 + 301 / 2));

  QDialog dialog;
  dialog.resize(100, 50);
  CenterWindow(&dialog);
  EXPECT_EQ(dialog.pos(), QPoint(100 + 401 / 2, 100 + 351 / 2));
}

TEST_F(PlacementTest, TheMainWindowItselfIsCentredOnTheScreen) {
  mainWindow->resize(400, 300);
  CenterWindow(mainWindow.get());
  EXPECT_EQ(mainWindow->pos(), QPoint((screen().width() - 400) / 2, (screen().height() - 300) / 2));
}

TEST_F(PlacementTest, PlacementsOffTheScreenComeBackOntoIt) {
  // Saved after a start on a smaller screen: the title bar lay off to the left and above.
  store.WritePlacement("TFaxViewer", 96, {-70, -40, 330, 260, false});
  TFaxViewer viewer;
  RestoreWindowPlacement(&viewer);
  const QRect area = viewer.screen()->availableGeometry();
  EXPECT_EQ(viewer.geometry(), QRect(area.left(), area.top(), 400, 300));
  EXPECT_EQ(store.ReadPlacement("TFaxViewer", 96, false).left, area.left());
  // A main window larger than the screen is made to fit and centred on it.
  mainWindow->resize(screen().width() + 140, screen().height() + 80);
  CenterWindow(mainWindow.get());
  EXPECT_TRUE(area.contains(mainWindow->frameGeometry())) << mainWindow->width();
}

TEST_F(PlacementTest, EachScreenDensityAbove96KeepsItsOwnPlacement) {
  store.WritePlacement("TMainScreen", 96, {1, 2, 3, 4, false});
  store.WritePlacement("TMainScreen", 120, {5, 6, 7, 8, true});
  EXPECT_EQ(store.ReadPlacement("TMainScreen", 96, false), (WindowPlacement{1, 2, 3, 4, false}));
  EXPECT_EQ(store.ReadPlacement("TMainScreen", 120, false), (WindowPlacement{5, 6, 7, 8, true}));
  QFile ini(path("KRV.INI"));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_TRUE(ini.readAll().contains("[TMainScreen_Placement120]"));
}

TEST_F(PlacementTest, AnUnwritableSettingsFileIsReportedWithItsName) {
  SetProgramDir(dir_.path() + "/gone");
  EXPECT_FALSE(store.Save());
  EXPECT_TRUE(store.LastError().contains("KRV.INI")) << store.LastError().toStdString();
}

}  // namespace
}  // namespace kv

#include "placement_test.moc"
