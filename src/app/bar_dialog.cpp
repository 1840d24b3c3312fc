#include "app/bar_dialog.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/button_bar.h"
#include "app/ui_font.h"
#include "app/window_placement.h"
#include "richtext/return_key.h"

namespace kv {

bool CanClick(const QToolButton *button) {
  return button && !button->isHidden() && button->isEnabled();
}

TBarDialog::TBarDialog(QWidget *parent, int statusHeight) : QDialog(parent) {
  setFont(UiFont(8));
  setWindowFlags((windowFlags() | Qt::Dialog) & ~Qt::WindowContextHelpButtonHint);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ButtonBar = MakeButtonBar(this);
  layout->addWidget(ButtonBar);
  Body = new QVBoxLayout;
  Body->setContentsMargins(10, 8, 10, 8);
  Body->setSpacing(6);
  layout->addLayout(Body, 1);
  status = new QLabel(this);
  status->setObjectName("status");
  StyleStatusLine(status, statusHeight);
  layout->addWidget(status);
  statusOwner_ = std::make_unique<StatusLineOwner>(status);
}

TBarDialog::~TBarDialog() = default;

void TBarDialog::SetKeyButtons(QToolButton *accept, std::initializer_list<QToolButton *> cancel) {
  accept_ = accept;
  cancel_.assign(cancel.begin(), cancel.end());
}

void TBarDialog::done(int result) {
  if (keepsPlacement_) SaveWindowPlacement(this);
  QDialog::done(result);
}

bool TBarDialog::event(QEvent *e) {
  if (e->type() == QEvent::WindowActivate && statusOwner_) statusOwner_->activate();
  return QDialog::event(e);
}

void TBarDialog::keyPressEvent(QKeyEvent *e) {
  const bool plain = e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier;
  if (plain && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
    // Return finishes an entry in a combo box or spin box, and a text editor's own Return never
    // gets here: none of them may take the whole window with it.
    if (CanClick(accept_) && !ReturnBelongsToControl(focusWidget())) accept_->click();
    e->accept();
    return;
  }
  if (plain && e->key() == Qt::Key_Escape) {
    for (const auto &b : cancel_)
      if (CanClick(b)) {
        b->click();
        e->accept();
        return;
      }
  }
  QDialog::keyPressEvent(e);
}

}  // namespace kv
