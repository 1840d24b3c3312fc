// The main window as a desktop program: its texts speak of this desktop, the desktop's
// shortcuts work, a keyboard alone drives the lists, files dropped from a file manager are
// taken as the user meant, and the looks follow the palette and the screen's scale.
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include "app/file_drop.h"
#include "app/help_window.h"
#include "app/icons.h"
#include "app/main_screen.h"
#include "app/preferences.h"
#include "app/rec_notes_form.h"
#include "app/splash_form.h"
#include "app/status_line.h"
#include "app/ui_font.h"
#include "compose/cover_browse.h"
#include "compose/fax_editor.h"
#include "compose/pdf_attach.h"
#include "modemui/reset_modem_form.h"
#include "richtext/format_bar.h"
#include "richtext/rich_document.h"
#include "richtext/rich_edit.h"
#include "support/event_wait.h"
#include "support/fax_files.h"
#include "support/modal.h"
#include "test_support.h"
#include "viewer/fax_viewer_window.h"

namespace kv {
namespace {

// Every text a user can read in a window: captions, hints and menu items.
QStringList textsOf(QWidget &window) {
  QStringList texts{window.windowTitle()};
  QList<QWidget *> widgets = window.findChildren<QWidget *>();
  widgets << &window;
  for (QWidget *w : widgets) {
    texts << w->toolTip() << w->statusTip();
    if (auto *l = qobject_cast<QLabel *>(w)) texts << l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w)) texts << b->text();
    for (QAction *a : w->actions()) texts << a->text() << a->statusTip() << a->toolTip();
  }
  for (QAction *a : window.findChildren<QAction *>()) texts << a->text() << a->statusTip();
  return texts;
}

// A drag of `files` from a file manager, carrying their addresses as text too, as file
// managers do; answers whether the target accepted it.
bool dropFiles(QWidget *target, const QStringList &files) {
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString &f : files) urls << QUrl::fromLocalFile(f);
  mime.setUrls(urls);
  mime.setText(urls.first().toString());
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

bool writePdf(const QString &path) {
  QPdfWriter pdf(path);
  QPainter p(&pdf);
  p.drawText(QPointF(200, 200), "A dropped document");
  return p.end();
}

// Whether a pixmap has any pixel that is not fully transparent.
bool drawn(const QPixmap &pm) {
  const QImage img = pm.toImage();
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (qAlpha(img.pixel(x, y)) > 0) return true;
  return false;
}

class DesktopTest : public test::ProgramDirTest {
 protected:
  void start(TMainScreen &w) {
    w.show();
    ASSERT_TRUE(test::eventually([&] { return !w.FirstActivate || w.Closed(); }, 5000));
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  }
  static void addSentRow(TMainScreen &w, const QString &subject) {
    TTable &t = w.Records.FaxTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("SUBJECT")->SetAsString(subject));
    ASSERT_TRUE(t.Post());
  }
  // A received row whose fax file is a real one-page fax.
  void addReceivedFax(TMainScreen &w, const QString &from) {
    const QString name = "FAX0001.APF";
    ASSERT_TRUE(test::writeBlankPages((path("receive/") + name).toStdString(), 1));
    TTable &t = w.Records.RecTable;
    ASSERT_TRUE(t.Append());
    ASSERT_TRUE(t.FieldByName("FROM")->SetAsString(from));
    ASSERT_TRUE(t.FieldByName("FAXFILE")->SetAsString(name));
    ASSERT_TRUE(t.Post());
    w.SetButtons();
  }
  static QWidget *focused() { return QApplication::focusWidget(); }
};

TEST_F(DesktopTest, TextsSpeakOfThisDesktopAndAboutShowsThePackageVersion) {
  TMainScreen w;
  TSplashform about(&w);
  TPreferences prefs(&w, w.Settings);
  for (QWidget *window :
       {static_cast<QWidget *>(&w), static_cast<QWidget *>(&about), static_cast<QWidget *>(&prefs)})
    for (const QString &t : textsOf(*window))
      EXPECT_FALSE(t.contains("Windows") || t.contains("Win32") || t.contains("Windows 95"))
          << window->objectName().toStdString() << ": " << t.toStdString();
  auto *version = about.findChild<QLabel *>("version");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), QString("Version ") + KORVANE_PROJECT_VERSION);
  EXPECT_EQ(w.Exit1->statusTip(), "Exit to the desktop");
}

TEST_F(DesktopTest, DesktopShortcutsAndTheQuestionBeforeQuittingReceiveMode) {
  TMainScreen w;
  start(w);
  EXPECT_TRUE(w.mnuNew->shortcuts().contains(QKeySequence("Ctrl+N")));
  EXPECT_TRUE(w.Contents1->shortcuts().contains(QKeySequence(Qt::Key_F1)));
  // The described Alt+letter mnemonics stay beside them.
  EXPECT_EQ(w.Newbutton->text(), "&New");
  EXPECT_EQ(w.Exitbutton->text(), "E&xit");

  QTest::keyClick(&w, Qt::Key_F1);
  auto *help = qobject_cast<THelpWindow *>(THelpWindow::showTopic(1009));
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  help->close();

  // Receive mode on: Ctrl+Q asks, and No keeps the program running.
  w.ReceiveMode = true;
  answer = false;
  QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, DialogRequest::YesNo);
  EXPECT_TRUE(shown[0].text.contains("Receive mode is on")) << shown[0].text.toStdString();
  EXPECT_FALSE(w.Closed());
  EXPECT_TRUE(w.isVisible());
  // Without receive mode Ctrl+Q quits at once.
  w.ReceiveMode = false;
  shown.clear();
  QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(w.Closed());
}

TEST_F(DesktopTest, KeyboardAloneDrivesTheLists) {
  TMainScreen w;
  addSentRow(w, "first");
  addSentRow(w, "second");
  start(w);
  addReceivedFax(w, "Harbour Freight");
  w.FaxGrid->setFocus();
  ASSERT_EQ(focused(), w.FaxGrid);
  const QColor focusedRow = w.FaxGrid->palette().color(QPalette::Highlight);
  // Tab leaves the list rather than walking its cells, and the list shows it has lost the keys.
  QTest::keyClick(w.FaxGrid, Qt::Key_Tab);
  EXPECT_NE(focused(), w.FaxGrid);
  EXPECT_NE(w.FaxGrid->palette().color(QPalette::Highlight), focusedRow);

  // Ctrl+Tab turns to the other list, there and back.
  w.FaxGrid->setFocus();
  QTest::keyClick(focused(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(w.TabSet1->currentIndex(), 1);
  EXPECT_EQ(w.CurrentPage(), 1);
  EXPECT_EQ(focused(), w.RecFaxGrid);
  QTest::keyClick(focused(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(w.CurrentPage(), 0);
  QTest::keyClick(focused(), Qt::Key_Tab, Qt::ControlModifier);
  ASSERT_EQ(w.CurrentPage(), 1);

  // Enter views the row; Escape closes the viewer.
  bool viewed = false;
  test::OnModal<TFaxViewer>([&](TFaxViewer &v) {
    viewed = true;
    QTest::keyClick(&v, Qt::Key_Escape);
    if (v.isVisible()) {
      ADD_FAILURE() << "Escape left the viewer open";
      v.reject();
    }
  });
  QTest::keyClick(w.RecFaxGrid, Qt::Key_Return);
  EXPECT_TRUE(viewed);

  // Delete asks the described question; No keeps the row.
  answer = false;
  shown.clear();
  QTest::keyClick(w.RecFaxGrid, Qt::Key_Delete);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Delete the current fax?\r\n(from: \"Harbour Freight\")");
  EXPECT_FALSE(shown[0].yesIsDefault);
  EXPECT_TRUE(TFaxRecords::HasCurrentRow(w.Records.RecTable));
}

TEST_F(DesktopTest, KeyboardFocusIsVisibleOnTheButtonBar) {
  TMainScreen w;
  start(w);
  w.Newbutton->clearFocus();
  w.FaxGrid->setFocus();
  const QImage plain = w.Newbutton->grab().toImage();
  w.Newbutton->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(w.Newbutton->hasFocus());
  EXPECT_NE(w.Newbutton->grab().toImage(), plain);
}

TEST_F(DesktopTest, EditorWindowsOpenWithFocusInTheirFirstField) {
  TMainScreen w;
  start(w);
  QString firstFocus;
  test::OnModal<TRecNotesForm>([&](TRecNotesForm &f) {
    firstFocus = f.focusWidget() ? f.focusWidget()->objectName() : QString();
    f.reject();
  });
  addReceivedFax(w, "Acme");
  w.TabSet1->setCurrentIndex(1);
  w.EditButtonClick();
  EXPECT_EQ(firstFocus, "Notes");
  test::OnModal<TPreferences>([&](TPreferences &p) {
    firstFocus = p.focusWidget() ? p.focusWidget()->objectName() : QString();
    p.reject();
  });
  w.TabSet1->setCurrentIndex(0);
  w.mnuPreferencesClick();
  EXPECT_EQ(firstFocus, "ComPort");
  // The template browser starts in its list, a template in its description.
  test::OnModal<TCoverBrowse>([&](TCoverBrowse &b) {
    firstFocus = b.focusWidget() ? b.focusWidget()->objectName() : QString();
    test::OnModal<TCoverEditor>([&](TCoverEditor &e) {
      firstFocus += "," + (e.focusWidget() ? e.focusWidget()->objectName() : QString());
      e.reject();
    });
    b.NewButton->click();
    b.reject();
  });
  w.mnuCoverClick();
  EXPECT_EQ(firstFocus, "CoverGrid,CoverDescription");
}

TEST_F(DesktopTest, DroppedFilesOnTheMainWindow) {
  TMainScreen w;
  start(w);
  const QString pdf = path("letter.pdf"), fax = path("incoming.apf"), text = path("notes.txt");
  ASSERT_TRUE(writePdf(pdf));
  ASSERT_TRUE(test::writeBlankPages(fax.toStdString(), 2));
  QFile t(text);
  ASSERT_TRUE(t.open(QIODevice::WriteOnly));
  t.write("not a fax");
  t.close();

  // Anything else is refused.
  EXPECT_FALSE(dropFiles(&w, {text}));

  // A fax file opens in a viewer of its own.
  ASSERT_TRUE(dropFiles(&w, {fax}));
  TFaxViewer *viewer = nullptr;
  ASSERT_TRUE(test::eventually(
      [&] {
        for (QWidget *top : QApplication::topLevelWidgets())
          if (auto *v = qobject_cast<TFaxViewer *>(top); v && v->isVisible()) viewer = v;
        return viewer != nullptr;
      },
      5000));
  viewer->close();

  // A PDF starts a new fax with it as the document, on the Sent list.
  w.TabSet1->setCurrentIndex(1);
  QString attached;
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    attached = e.WPDoc->Document()->PdfAttachment();
    e.reject();
  });
  ASSERT_TRUE(dropFiles(&w, {pdf}));
  ASSERT_TRUE(test::eventually([&] { return !attached.isEmpty(); }, 5000));
  EXPECT_EQ(QFileInfo(attached).fileName(), "letter.pdf");
  EXPECT_EQ(w.CurrentPage(), 0);
  EXPECT_TRUE(w.DroppedPdf.isEmpty());
}

TEST_F(DesktopTest, DroppedFilesOnTheFaxEditorNeverBecomeText) {
  TFaxRecords records;
  ASSERT_TRUE(records.OpenFaxDBF());
  Settings settings;
  TFaxEditor editor(records, settings);
  editor.show();
  const QString pdf = path("report.pdf"), other = path("photo.png");
  ASSERT_TRUE(writePdf(pdf));
  QImage(8, 8, QImage::Format_RGB32).save(other);

  // No file dropped or pasted lands in either editor as its address.
  for (TRichEdit *ed : {editor.WPCover, editor.WPDoc}) {
    const QString before = ed->toPlainText();
    dropFiles(ed->viewport(), {other});
    auto *pasted = new QMimeData;  // the clipboard's from here on
    pasted->setUrls({QUrl::fromLocalFile(other)});
    pasted->setText(QUrl::fromLocalFile(other).toString());
    ed->setFocus();
    QApplication::clipboard()->setMimeData(pasted);
    ed->paste();
    QApplication::clipboard()->clear();
    EXPECT_EQ(ed->toPlainText(), before) << ed->objectName().toStdString();
  }
  EXPECT_TRUE(editor.WPDoc->Document()->PdfAttachment().isEmpty());
  EXPECT_FALSE(dropFiles(editor.WPCover->viewport(), {pdf}));

  // A PDF dropped on the document attaches it, as Attach PDF does.
  ASSERT_TRUE(dropFiles(editor.WPDoc->viewport(), {pdf}));
  ASSERT_TRUE(
      test::eventually([&] { return !editor.WPDoc->Document()->PdfAttachment().isEmpty(); }, 5000));
  EXPECT_FALSE(editor.PdfAttach->PdfView->isHidden());
  EXPECT_TRUE(shown.empty());
}

TEST_F(DesktopTest, PicturesAreVectorsThatShowOnTheDarkBarAtAnyScale) {
  for (int p = int(ButtonPicture::New); p <= int(ButtonPicture::ModemReset); ++p) {
    const auto picture = ButtonPicture(p);
    EXPECT_TRUE(QFile::exists(ButtonIconFile(picture))) << p;
    const QIcon icon = ButtonIcon(picture);
    for (qreal scale : {1.0, 2.0}) {
      const QPixmap pm = icon.pixmap(QSize(20, 20), scale);
      EXPECT_EQ(pm.size(), QSize(20, 20) * scale) << p << " at " << scale;
      EXPECT_TRUE(drawn(pm)) << p << " at " << scale;
    }
    // Drawn afresh at 2x, not the 1x picture enlarged.
    const QImage one = icon.pixmap(QSize(20, 20), 1.0).toImage();
    const QImage two = icon.pixmap(QSize(20, 20), 2.0).toImage();
    EXPECT_NE(one.scaled(40, 40).convertToFormat(two.format()), two) << p;
  }
  EXPECT_EQ(AboutPicture(96).size(), QSize(96, 96));
  EXPECT_TRUE(drawn(AboutPicture(96)));
}

// The mean grey of the drawn pixels of a picture.
int inkGrey(const QPixmap &pm) {
  const QImage img = pm.toImage();
  long sum = 0, n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (qAlpha(img.pixel(x, y)) > 128) sum += qGray(img.pixel(x, y)), ++n;
  return n ? int(sum / n) : -1;
}

TEST_F(DesktopTest, StatusStripAndFormatBarFollowADarkPalette) {
  const QPalette saved = QApplication::palette();
  QPalette dark = saved;
  dark.setColor(QPalette::Window, QColor(40, 40, 40));
  dark.setColor(QPalette::Button, QColor(50, 50, 50));
  dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
  dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
  dark.setColor(QPalette::Link, QColor(120, 170, 255));
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, QColor(230, 230, 230));
  dark.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
  QApplication::setPalette(dark);
  {
    QWidget window;
    auto *line = new QLabel(&window);
    StyleStatusLine(line, 32);
    line->resize(200, 32);
    const QImage img = line->grab().toImage();
    // The strip's face is the palette's, not a fixed light grey.
    EXPECT_LT(qGray(img.pixel(100, 16)), 100);
    EXPECT_EQ(line->palette().color(line->foregroundRole()), QColor(120, 170, 255));
    // The modem reset window's strip is the same strip.
    TResetModemForm reset;
    EXPECT_EQ(reset.Status->palette().color(reset.Status->foregroundRole()), QColor(120, 170, 255));
    EXPECT_LT(qGray(reset.Status->grab().toImage().pixel(10, 10)), 100);
    // The formatting bar's glyphs are drawn in the bar's text colour, light on a dark bar.
    TRichEdit editor;
    TFormatBar bar(&editor, &window);
    for (QAction *a : {bar.BoldAction, bar.LeftAction})
      for (qreal scale : {1.0, 2.0})
        EXPECT_GT(inkGrey(a->icon().pixmap(QSize(16, 16), scale)), 128)
            << a->objectName().toStdString() << " at " << scale;
  }
  {
    // To be looked at (KORVANE_SHOTS): the main window and the fax editor on a dark desktop.
    TMainScreen w;
    w.show();
    test::Snapshot(w, "main-dark");
    Settings settings;
    TFaxEditor editor(w.Records, settings);
    editor.show();
    test::Snapshot(editor, "editor-dark");
  }
  QApplication::setPalette(saved);
}

TEST_F(DesktopTest, TheWindowsFontIsTheDesktopsWithoutArial) {
  const QFont body = UiFont(8), large = UiFont(10, true);
  if (UiFontIsArial()) {
    EXPECT_EQ(body.family(), "Arial");
    EXPECT_EQ(body.pointSize(), 8);
  } else {
    EXPECT_EQ(body.family(), QApplication::font().family());
    EXPECT_EQ(body.pointSizeF(), QApplication::font().pointSizeF());
    EXPECT_EQ(large.pointSizeF(), QApplication::font().pointSizeF() + 2);
  }
  EXPECT_TRUE(large.bold());
}

}  // namespace
}  // namespace kv
