// The viewer control and the viewer window driven in Qt Test: pages, keys, zoom, turns,
// selection to the clipboard, drops, damaged files; and View on the main window.
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QMimeData>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "app/main_screen.h"
#include "app/rich_text_io.h"
#include "app/test_support.h"
#include "base/exceptions.h"
#include "richtext/rich_edit.h"
#include "support/event_wait.h"
#include "support/fax_files.h"
#include "support/temp_files.h"
#include "viewer/fax_viewer.h"
#include "viewer/fax_viewer_window.h"
#include "viewer/page_image.h"

namespace kv {
namespace {

using test::FaxPage;
using test::markedPage;

MonoBitmap bitmapOf(const test::Raster &r) {
  MonoBitmap b;
  b.width = r.width;
  b.height = r.height;
  b.stride = r.stride();
  b.bits = r.bits;
  return b;
}

bool sameBitmap(const MonoBitmap &a, const MonoBitmap &b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) return false;
  return true;
}

TEST(PageImage, QuarterTurnsMapPixelsAndCompose) {
  test::Raster r = test::randomRaster(37, 21, 0.3, 7);
  const MonoBitmap page = bitmapOf(r);
  const MonoBitmap q1 = RotateBitmap(page, 1), q3 = RotateBitmap(page, 3);
  ASSERT_EQ(q1.width, 21);
  ASSERT_EQ(q1.height, 37);
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x) {
      ASSERT_EQ(q1.pixel(page.height - 1 - y, x), page.pixel(x, y));
      ASSERT_EQ(q3.pixel(y, page.width - 1 - x), page.pixel(x, y));
    }
  EXPECT_TRUE(sameBitmap(RotateBitmap(q1, 1), RotateBitmap(page, 2)));
  EXPECT_TRUE(sameBitmap(RotateBitmap(q1, 3), page));
  EXPECT_TRUE(sameBitmap(RotateBitmap(RotateBitmap(page, 2), 2), page));
}

TEST(PageImage, ReducedPagesKeepThinStrokes) {
  // A one-pixel line every 8 rows at a quarter of the size still shows as grey, not white.
  test::Raster r = test::blankRaster(64, 64);
  for (int y = 0; y < 64; y += 8)
    for (int x = 0; x < 64; ++x) r.set(x, y);
  const QImage img = DisplayImage(bitmapOf(r), 16, 16);
  ASSERT_EQ(img.size(), QSize(16, 16));
  int dark = 0;
  for (int y = 0; y < 16; ++y) dark += qGray(img.pixel(5, y)) < 230;
  EXPECT_EQ(dark, 8);
  // Enlarging repeats pixels: only black and white.
  const QImage big = DisplayImage(bitmapOf(r), 128, 128);
  for (int y = 0; y < 128; ++y) {
    const int g = qGray(big.pixel(3, y));
    ASSERT_TRUE(g == 0 || g == 255);
  }
}

class ViewerTest : public test::ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    // Page 1 fine with a block near the top-left, page 2 normal, page 3 fine and wide.
    pages = {{markedPage(1728, 2200, 100, 200, 300, 40), true},
             {markedPage(1728, 1100, 800, 500, 100, 100), false},
             {markedPage(2048, 300, 1900, 10, 100, 20), true}};
    file = dir.file("FAX0001.APF");
    ASSERT_TRUE(test::writeApf(file, pages));
  }
  void show(TKvFaxViewer &v) {
    v.resize(600, 400);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
  }
  test::TempDir dir;
  std::vector<FaxPage> pages;
  std::string file;
};

TEST_F(ViewerTest, PagesKeysAndScrolling) {
  TKvFaxViewer v;
  int changes = 0;
  v.OnPageChange = [&](TKvCustomFaxViewer &) { ++changes; };
  show(v);
  v.SetFileName(QString::fromStdString(file));
  EXPECT_EQ(v.PageCount(), 3);
  EXPECT_EQ(v.ActivePage(), 1);
  EXPECT_EQ(changes, 1);
  // Page 1 decoded with double height for normal pages; the width is cut to the used part.
  EXPECT_EQ(v.viewer()->kvViewGetPageDim(), QRect(QPoint(0, 0), QPoint(399, 2199)));
  TViewer *w = v.viewer();
  QTest::keyClick(w, Qt::Key_Down);
  EXPECT_EQ(w->scrollPosition(), QPoint(0, 8));
  QTest::keyClick(w, Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(w->scrollPosition(), QPoint(0, 88));
  // A page narrower than the window does not scroll sideways.
  QTest::keyClick(w, Qt::Key_Right);
  EXPECT_EQ(w->scrollPosition().x(), 0);
  QTest::keyClick(w, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(w->scrollPosition().y(), w->scrollMaximum().y());
  QTest::keyClick(w, Qt::Key_Home, Qt::ControlModifier);  // on page 1: to the top-left
  EXPECT_EQ(w->scrollPosition(), QPoint(0, 0));
  EXPECT_EQ(v.ActivePage(), 1);

  QTest::keyClick(w, Qt::Key_PageDown);
  EXPECT_EQ(v.ActivePage(), 2);
  EXPECT_EQ(v.viewer()->kvViewGetPageDim().height(), 2200);  // normal rows doubled
  QTest::keyClick(w, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(v.ActivePage(), 3);
  QTest::keyClick(w, Qt::Key_PageDown);  // on the last page: nothing
  EXPECT_EQ(v.ActivePage(), 3);
  QTest::keyClick(w, Qt::Key_End);
  EXPECT_EQ(w->scrollPosition().x(), w->scrollMaximum().x());
  EXPECT_GT(w->scrollMaximum().x(), 0);
  QTest::keyClick(w, Qt::Key_PageUp);
  EXPECT_EQ(v.ActivePage(), 2);
  v.FirstPage();
  EXPECT_EQ(v.ActivePage(), 1);
  v.PrevPage();
  EXPECT_EQ(v.ActivePage(), 1);
  EXPECT_THROW(v.SetActivePage(4), EBadArgument);
  EXPECT_THROW(v.SetActivePage(0), EBadArgument);
  v.SetActivePage(3);
  EXPECT_EQ(v.ActivePage(), 3);
}

TEST_F(ViewerTest, ScaleRotationAndPixels) {
  TKvFaxViewer v;
  show(v);
  v.SetFileName(QString::fromStdString(file));
  TViewer *w = v.viewer();
  w->kvViewSetScale(2, 2, 3, 3);
  EXPECT_EQ(w->horizMult(), 1);
  EXPECT_EQ(w->vertDiv(), 1);
  // At 100 % the block's pixels are black on white exactly where they are on the page.
  const QImage &img = w->shownImage();
  EXPECT_EQ(img.pixelColor(100, 200), QColor(Qt::black));
  EXPECT_EQ(img.pixelColor(99, 200), QColor(Qt::white));
  EXPECT_EQ(img.pixelColor(399, 239), QColor(Qt::black));
  EXPECT_EQ(img.pixelColor(399, 240), QColor(Qt::white));

  v.SetScaling(true);
  v.SetHorizMult(50);
  v.SetHorizDiv(100);
  v.SetVertMult(50);
  v.SetVertDiv(100);
  EXPECT_EQ(w->displayedSize(), QSize(200, 1100));
  EXPECT_LT(qGray(w->shownImage().pixel(100, 110)), 40);
  v.SetScaling(false);
  EXPECT_EQ(w->displayedSize(), QSize(400, 2200));

  // A quarter turn clockwise: the block's top-left (100, 200) goes to (H-1-200, 100).
  v.SetRotation(1);
  EXPECT_EQ(w->displayedSize(), QSize(2200, 400));
  EXPECT_EQ(w->shownImage().pixelColor(2200 - 1 - 200, 100), QColor(Qt::black));
  EXPECT_EQ(w->shownImage().pixelColor(2200 - 1 - 199, 100), QColor(Qt::white));
  const MonoBitmap *twice = nullptr;
  v.SetRotation(2);
  ASSERT_EQ(w->kvViewGetBitmap(1, twice), ecOK);
  const MonoBitmap half = *twice;
  v.SetRotation(0);
  const MonoBitmap *plain = nullptr;
  ASSERT_EQ(w->kvViewGetBitmap(1, plain), ecOK);
  EXPECT_TRUE(sameBitmap(half, RotateBitmap(*plain, 2)));
  // Turning stays with the file while paging; a new file starts unturned.
  v.SetRotation(3);
  v.NextPage();
  EXPECT_EQ(w->kvViewGetPageDim().width(), 2200);
  v.SetFileName(QString::fromStdString(file));
  EXPECT_EQ(v.Rotation(), 0);
  EXPECT_THROW(v.SetRotation(4), EBadArgument);
}

TEST_F(ViewerTest, SelectionGoesToTheClipboard) {
  TKvFaxViewer v;
  show(v);
  TViewer *w = v.viewer();
  EXPECT_EQ(w->kvViewCopy(), ecNoImageLoaded);
  EXPECT_EQ(w->kvViewSelectAll(), ecNoImageLoaded);
  v.SetFileName(QString::fromStdString(file));
  EXPECT_EQ(w->kvViewCopy(), ecNoImageBlockMarked);
  // Drag from (90, 190) to (110, 215) on screen, at 100 % and no scrolling.
  QTest::mousePress(w->viewport(), Qt::LeftButton, {}, QPoint(90, 190));
  QTest::mouseMove(w->viewport(), QPoint(100, 200));
  QTest::mouseRelease(w->viewport(), Qt::LeftButton, {}, QPoint(110, 215));
  EXPECT_EQ(w->selection(), QRect(90, 190, 20, 25));
  ASSERT_EQ(w->kvViewCopy(), ecOK);
  const QImage clip = QApplication::clipboard()->image();
  ASSERT_EQ(clip.size(), QSize(20, 25));
  EXPECT_EQ(clip.pixelColor(9, 9), QColor(Qt::white));    // (99, 199) on the page
  EXPECT_EQ(clip.pixelColor(10, 10), QColor(Qt::black));  // (100, 200)
  // A click without a drag drops the selection; a selection is clipped to the page.
  QTest::mouseClick(w->viewport(), Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(w->kvViewCopy(), ecNoImageBlockMarked);
  w->kvViewSelect(QRect(350, 2150, 500, 500));
  EXPECT_EQ(w->selection(), QRect(350, 2150, 50, 50));
  EXPECT_EQ(w->kvViewSelectAll(), ecOK);
  EXPECT_EQ(w->selection(), QRect(0, 0, 400, 2200));
}

// Drops as a file manager sends them: a text/uri-list of file URLs.
void dropFile(QWidget *target, const QString &path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

TEST_F(ViewerTest, DroppedFilesAndDamagedFiles) {
  TKvFaxViewer v;
  std::vector<Result> errors;
  QString dropped;
  v.OnViewerError = [&](TKvCustomFaxViewer &, Result code) { errors.push_back(code); };
  v.OnDropFile = [&](TKvCustomFaxViewer &, const QString &name) { dropped = name; };
  show(v);
  dropFile(v.viewer()->viewport(), QString::fromStdString(file));
  EXPECT_EQ(dropped.toStdString(), file);
  EXPECT_EQ(v.PageCount(), 3);

  // Not a fax: refused, and the fax shown stays.
  const std::string text = dir.file("letter.txt");
  test::writeFile(text, "Dear Sir,\n");
  dropped.clear();
  dropFile(v.viewer()->viewport(), QString::fromStdString(text));
  EXPECT_TRUE(dropped.isEmpty());
  ASSERT_EQ(errors, std::vector<Result>{ecFaxBadFormat});
  EXPECT_EQ(v.FileName().toStdString(), file);
  EXPECT_THROW(v.SetFileName(QString::fromStdString(dir.file("none.apf"))), EInOutError);

  // Cut inside page 2: page 1 shows, page 2 is reported and shown as unreadable, and the
  // file stays open.
  auto bytes = test::readBytes(file);
  ApfReader reader;
  ASSERT_EQ(reader.open(file), ecOK);
  ApfPageLocation loc;
  ASSERT_EQ(reader.locatePage(2, loc), ecOK);
  bytes.resize(loc.dataOffset() + 500);
  const std::string cut = dir.file("CUT.APF");
  test::writeBytes(cut, bytes);
  errors.clear();
  v.SetFileName(QString::fromStdString(cut));
  EXPECT_TRUE(errors.empty());
  EXPECT_FALSE(v.viewer()->pageUnreadable());
  v.NextPage();
  EXPECT_EQ(v.ActivePage(), 2);
  EXPECT_TRUE(v.viewer()->pageUnreadable());
  EXPECT_EQ(errors, std::vector<Result>{ecFaxBadFormat});
  v.NextPage();
  EXPECT_EQ(v.ActivePage(), 3);
  EXPECT_TRUE(v.viewer()->pageUnreadable());
  v.FirstPage();
  EXPECT_FALSE(v.viewer()->pageUnreadable());
  EXPECT_EQ(v.FileName().toStdString(), cut);
}

class ViewerWindowTest : public ViewerTest {
 protected:
  // Shows the window and lets its first activation run.
  void start(TFaxViewer &w, const std::string &path) {
    w.FileName = QString::fromStdString(path);
    w.show();
    ASSERT_TRUE(kv::test::eventually([&] { return !w.FirstActivate; }, 5000));
  }
};

TEST_F(ViewerWindowTest, StartingZoom) {
  const struct {
    int page, viewer, zoom;
  } cases[] = {{1728, 594, 50}, {400, 594, 100},  {1728, 1728, 100}, {1728, 1400, 100},
               {1728, 800, 75}, {1728, 1000, 75}, {1728, 300, 25},   {2048, 594, 50}};
  for (const auto &c : cases)
    EXPECT_EQ(TFaxViewer::StartingZoom(c.page, c.viewer), c.zoom) << c.page << " in " << c.viewer;
}

TEST_F(ViewerWindowTest, PagesZoomAndRotation) {
  // A full-width first page so that the window starts below 100 %.
  pages[0].raster = markedPage(1728, 2200, 0, 0, 1728, 10);
  ASSERT_TRUE(test::writeApf(file, pages));
  TFaxViewer w;
  w.Title = "ACME";
  start(w, file);
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(w.StatusPanel->text(), "ACME: Page 1 of 3");
  EXPECT_TRUE(w.FirstButton->isVisibleTo(&w));
  EXPECT_EQ(w.Zoom, TFaxViewer::StartingZoom(1728, w.FaxViewer->viewer()->viewport()->width()));
  EXPECT_TRUE(w.mnu50->isChecked() || w.mnu25->isChecked() || w.mnu75->isChecked());
  w.ApplyZoom(150);
  EXPECT_TRUE(w.mnu150->isChecked());
  EXPECT_EQ(w.FaxViewer->viewer()->displayedSize(), QSize(2592, 3300));
  const int beeps = Dialogs::beepCount();
  w.ZoomInButton->click();
  EXPECT_EQ(w.Zoom, 200);
  w.ZoomInButton->click();
  EXPECT_EQ(w.Zoom, 200);
  EXPECT_EQ(Dialogs::beepCount(), beeps + 1);
  w.ZoomOutButton->click();
  EXPECT_EQ(w.Zoom, 150);
  w.mnu100->trigger();
  EXPECT_EQ(w.FaxViewer->viewer()->displayedSize(), QSize(1728, 2200));
  EXPECT_FALSE(w.FaxViewer->Scaling());

  w.NextButton->click();
  EXPECT_EQ(w.StatusPanel->text(), "ACME: Page 2 of 3");
  w.LastButton->click();
  EXPECT_EQ(w.StatusPanel->text(), "ACME: Page 3 of 3");
  w.mnuRotate90->trigger();
  EXPECT_TRUE(w.mnuRotate90->isChecked());
  EXPECT_FALSE(w.mnuRotate0->isChecked());
  EXPECT_EQ(w.FaxViewer->Rotation(), 1);
  w.FirstButton->click();
  EXPECT_EQ(w.FaxViewer->ActivePage(), 1);
}

TEST_F(ViewerWindowTest, OnePageAndBadFiles) {
  ASSERT_TRUE(test::writeApf(file, {pages[0]}));
  {
    TFaxViewer w;
    start(w, file);
    EXPECT_EQ(w.StatusPanel->text(), "Page 1 of 1");
    EXPECT_FALSE(w.FirstButton->isVisibleTo(&w));
    EXPECT_FALSE(w.NextButton->isVisibleTo(&w));
  }
  const std::string text = dir.file("notes.txt");
  test::writeFile(text, "not a fax");
  TFaxViewer w;
  start(w, text);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Error opening fax file");
  EXPECT_EQ(w.StatusPanel->text(), "No file loaded");
  EXPECT_TRUE(w.FaxViewer->FileName().isEmpty());
}

// The viewer window that View opens, looked at and closed from a timer once it is up.
struct ShownViewer {
  QString header, panel, file;
  int pages = 0;
};
ShownViewer viewFromMain(TMainScreen &main) {
  ShownViewer seen;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto *w = qobject_cast<TFaxViewer *>(QApplication::activeModalWidget());
    if (!w || w->FirstActivate) return;
    poll.stop();
    seen = {w->FaxPrinter.FaxHeader.Caption, w->StatusPanel->text(), w->FaxViewer->FileName(),
            w->FaxViewer->PageCount()};
    w->CloseButton->click();
  });
  poll.start();
  QTimer::singleShot(20000, [] {  // a hang fails, never blocks
    if (auto *w = QApplication::activeModalWidget()) w->close();
  });
  main.mnuViewPrintClick();
  return seen;
}

TEST_F(ViewerWindowTest, ViewFromTheMainWindow) {
  TMainScreen main;
  main.show();
  ASSERT_TRUE(kv::test::eventually([&] { return !main.FirstActivate; }, 5000));
  shown.clear();
  // A received row: its file in the receive folder, the sender and notes as the header.
  TTable &t = main.Records.RecTable;
  ASSERT_TRUE(t.Append());
  ASSERT_TRUE(t.FieldByName("FROM")->SetAsString("ACME Ltd"));
  ASSERT_TRUE(t.FieldByName("NOTES")->SetAsString("invoice"));
  ASSERT_TRUE(t.FieldByName("FAXFILE")->SetAsString("FAX0001.APF"));
  ASSERT_TRUE(t.Post());
  main.TabSet1->setCurrentIndex(1);
  main.mnuViewPrintClick();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Fax file is missing");
  ASSERT_TRUE(test::writeApf(path("receive/FAX0001.APF").toStdString(), pages));
  ShownViewer seen = viewFromMain(main);
  EXPECT_EQ(seen.header, "ACME Ltd - invoice");
  EXPECT_EQ(seen.panel, "Page 1 of 3");
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_TRUE(main.status->text().isEmpty());

  // A sent row: rendered for the viewing, the work file gone afterwards.
  TTable &s = main.Records.FaxTable;
  main.WPDoc->setPlainText("Dear Jane, here is the quote.");
  ASSERT_TRUE(s.Append());
  ASSERT_TRUE(s.FieldByName("RECIPIENT")->SetAsString("Jane Roe"));
  ASSERT_TRUE(s.FieldByName("SUBJECT")->SetAsString("Quote"));
  ASSERT_TRUE(SaveRichText(*main.WPDoc, "RTFDOC", main.Records.FaxApollo));
  ASSERT_TRUE(s.Post());
  main.TabSet1->setCurrentIndex(0);
  seen = viewFromMain(main);
  EXPECT_EQ(seen.header, "Jane Roe - Quote");
  EXPECT_EQ(seen.pages, 1);
  EXPECT_EQ(seen.panel, "Page 1 of 1");
  ASSERT_FALSE(seen.file.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(seen.file));
  EXPECT_EQ(shown.size(), 1u);
}

}  // namespace
}  // namespace kv
