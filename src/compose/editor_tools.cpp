#include "compose/editor_tools.h"

#include "app/dialogs.h"
#include "app/hints.h"
#include "app/window_placement.h"
#include "richtext/format_bar.h"
#include "richtext/paper_size.h"
#include "richtext/paragraph_prop_dlg.h"
#include "richtext/rich_edit.h"
#include "spell/spell_check_dialog.h"

namespace kv {

void SetDefaultPage(TRichEdit &editor) {
  // A document that names its paper keeps it (every one this program stored does).
  if (!editor.Document()->HasOwnPageSize()) editor.SetPageLayout(LocalePageLayout());
  editor.Reformat();
}

QToolButton *AddToolButton(TFormatBar &bar, const QString &name, const QString &caption,
                           const QString &hint) {
  auto *b = new QToolButton(&bar);
  b->setObjectName(name);
  b->setText(caption);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  SetHint(b, hint);
  return bar.AddButton(b);
}

void AskPageBreak(QWidget *parent, TRichEdit &editor) {
  // The user pressed Page Break: Yes is what they most likely meant.
  if (!Dialogs::askYesNo(parent, "Page Break", "Add a page break here?", true)) return;
  editor.InsertPageBreak();
  editor.Reformat();
  editor.setFocus();
}

void ShowParagraphDialog(QWidget *parent, TRichEdit &editor) {
  TParagraphPropDlg dialog(parent);
  dialog.Editor = &editor;
  CenterWindow(&dialog);
  dialog.exec();
}

void ShowWordWrap(QToolButton &button, const TRichEdit &editor) {
  button.setCheckable(true);
  button.setChecked(editor.WordWrap());
  SetHint(&button, editor.WordWrap() ? "Toggle word wrap off" : "Toggle word wrap on");
}

void ToggleWordWrap(QToolButton &button, TRichEdit &editor) {
  editor.SetWordWrap(!editor.WordWrap());
  editor.Reformat();
  ShowWordWrap(button, editor);
}

// The spell checker walks the editor's own word pass, which knows its merge fields.
void RequestSpellCheck(QWidget *parent, TRichEdit &editor) {
  SpellCheck(&editor, parent);
}

TZoomMenu::TZoomMenu(QToolButton *button, std::function<TRichEdit *()> target)
    : QMenu(button), Zoombutton(button), target_(std::move(target)) {
  setObjectName("ZoomMenu");
  auto item = [this](const char *name, int percent) {
    QAction *a = addAction(QStringLiteral("%1%").arg(percent));
    a->setObjectName(name);
    a->setData(percent);
    a->setCheckable(true);
    return a;
  };
  Zoom70 = item("Zoom70", 70);
  Zoom80 = item("Zoom80", 80);
  Zoom100 = item("Zoom100", 100);
  button->setMenu(this);
  button->setPopupMode(QToolButton::InstantPopup);
  connect(this, &QMenu::aboutToShow, this, &TZoomMenu::ZoomMenuPopup);
  connect(this, &QMenu::triggered, this, &TZoomMenu::ZoomClick);
  ShowZoom();
}

void TZoomMenu::ShowZoom() {
  if (TRichEdit *e = target_()) Zoombutton->setText(QStringLiteral("%1%").arg(e->Zoom()));
}

void TZoomMenu::ZoomMenuPopup() {
  TRichEdit *e = target_();
  for (QAction *a : {Zoom70, Zoom80, Zoom100}) a->setChecked(e && a->data().toInt() == e->Zoom());
}

void TZoomMenu::ZoomClick(QAction *item) {
  TRichEdit *e = target_();
  if (!e) return;
  e->SetZoom(item->data().toInt());
  ShowZoom();
}

}  // namespace kv
