// The main window's part in composing faxes: rendering the current row into an APF file with
// the two hidden rich-text controls, and the default font of new faxes and cover sheets.
#include <QApplication>
#include <QFontDialog>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/main_screen.h"
#include "app/program_dir.h"
#include "app/rich_text_io.h"
#include "compose/fax_row.h"
#include "richtext/fax_render.h"
#include "richtext/rich_edit.h"
#include "sending/row_send.h"

namespace kv {

std::function<bool(QWidget *, QFont &)> TMainScreen::FontDialog = [](QWidget *parent, QFont &font) {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, font, parent, QStringLiteral("Default Font"));
  if (ok) font = chosen;
  return ok;
};

void TMainScreen::setupHiddenPanel() {
  HiddenPanel = new QWidget(this);
  HiddenPanel->setObjectName(QStringLiteral("HiddenPanel"));
  HiddenPanel->hide();
  auto *layout = new QVBoxLayout(HiddenPanel);
  WPCover = new TRichEdit(HiddenPanel);
  WPCover->setObjectName(QStringLiteral("WPCover"));
  WPDoc = new TRichEdit(HiddenPanel);
  WPDoc->setObjectName(QStringLiteral("WPDoc"));
  layout->addWidget(WPCover);
  layout->addWidget(WPDoc);
}

QString TMainScreen::CreateFaxFile() {
  QString name;
  int pages = 0;
  {
    // Pointer, button bar and status line come back on every way out, a failure included.
    struct Restore {
      TMainScreen *w;
      BusyCursor busy;
      ~Restore() {
        w->ButtonBar->setEnabled(true);
        ShowStatus(QString());
      }
    } restore{this, {}};
    ButtonBar->setEnabled(false);
    ShowStatus(QStringLiteral("Creating fax file"));
    QCoreApplication::processEvents();

    // The hidden controls lay out at the fax's resolution (the pages themselves are drawn at
    // exactly 200 dots per inch).
    WPCover->SetZoom(FaxZoomPercent(logicalDpiY()));
    WPDoc->SetZoom(FaxZoomPercent(logicalDpiY()));

    RenderContext ctx;
    ctx.programDir = ProgramDir();
    ctx.letMessagesRun = [] { QCoreApplication::processEvents(); };
    ctx.status = [](const QString &text) { ShowStatus(text); };
    ctx.merge = SenderMergeValues(Settings.Data);
    TRichTextIO cover(*WPCover), document(*WPDoc);
    name = RenderFaxRow(Records.FaxApollo, cover, document, ctx, pages);
  }
  if (name.isEmpty()) {
    Dialogs::information(this, QStringLiteral("Fax has no contents or cover sheet"));
    return {};
  }
  PageCount = pages;
  return name;
}

void TMainScreen::ApplyDefaultFont(TRichEdit &control) {
  kv::ApplyDefaultFont(control, Settings.Data);
}

bool TMainScreen::ChooseDefaultFont() {
  Settings.Load();
  kv::Settings &s = Settings.Data;
  QFont font(QString::fromStdString(s.fontName));
  font.setPointSize(s.fontSize > 0 ? s.fontSize : 10);
  font.setBold(s.fontBold);
  font.setItalic(s.fontItalic);
  font.setUnderline(s.fontUnderline);
  if (!FontDialog || !FontDialog(this, font)) return false;
  s.fontName = font.family().toStdString();
  s.fontSize = font.pointSize() > 0 ? font.pointSize() : qRound(font.pointSizeF());
  s.fontBold = font.bold();
  s.fontItalic = font.italic();
  s.fontUnderline = font.underline();
  if (!Settings.Save()) {
    Dialogs::error(this, Settings.LastError());
    return false;
  }
  return true;
}

}  // namespace kv
