#include "app/button_bar.h"

#include <QHBoxLayout>
#include <QToolButton>

#include "app/hints.h"
#include "app/ui_font.h"

namespace kv {
namespace {
const QColor kButtonBarColour(64, 128, 128);
}  // namespace

QWidget *MakeButtonBar(QWidget *parent) {
  auto *bar = new QWidget(parent);
  bar->setObjectName("ButtonBar");
  bar->setFixedHeight(45);
  bar->setAutoFillBackground(true);
  QPalette pal = bar->palette();
  pal.setColor(QPalette::Window, kButtonBarColour);
  bar->setPalette(pal);
  bar->setStyleSheet(
      "QToolButton { color: white; border: 1px solid transparent; border-radius: 3px;"
      "  padding: 1px 6px 1px 3px; }"
      "QToolButton:hover { border-color: rgba(255,255,255,140); background: rgba(255,255,255,35); }"
      "QToolButton:pressed { background: rgba(0,0,0,45); }"
      // The keyboard's place must show on the bar too.
      "QToolButton:focus { border: 1px dotted white; }"
      "QToolButton:disabled { color: rgba(255,255,255,105); }");
  auto *layout = new QHBoxLayout(bar);
  layout->setContentsMargins(6, 7, 6, 7);
  layout->setSpacing(4);
  return bar;
}

QToolButton *AddBarButton(QWidget *bar, const QString &name, const QString &caption,
                          const QString &hint, ButtonPicture picture) {
  auto *b = new QToolButton(bar);
  b->setObjectName(name);
  b->setText(caption);
  b->setIcon(ButtonIcon(picture));
  b->setIconSize(QSize(20, 20));
  b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  b->setFixedHeight(30);
  b->setMinimumWidth(64);
  b->setFocusPolicy(Qt::TabFocus);
  b->setFont(UiFont(9, true));
  SetHint(b, hint);
  static_cast<QHBoxLayout *>(bar->layout())->addWidget(b);
  return b;
}

void AddBarStretch(QWidget *bar) {
  static_cast<QHBoxLayout *>(bar->layout())->addStretch();
}

}  // namespace kv
