#include "app/status_line.h"

#include <QApplication>
#include <QCursor>

#include "app/ui_font.h"

namespace kv {
namespace {
QPointer<QLabel> &current() {
  static QPointer<QLabel> line;
  return line;
}
}  // namespace

QLabel *CurrentStatusLine() {
  return current();
}
void SetCurrentStatusLine(QLabel *line) {
  current() = line;
}

void ShowStatus(const QString &text) {
  if (QLabel *line = current()) {
    line->setText(text);
    line->repaint();
  }
}

void StyleStatusLine(QLabel *line, int height) {
  line->setFixedHeight(height);
  line->setAlignment(Qt::AlignCenter);
  line->setWordWrap(true);
  line->setFrameShape(QFrame::Panel);
  line->setFrameShadow(QFrame::Sunken);
  // Roles of the palette, not fixed colours, so that the strip reads on dark desktops too: the
  // button face for the strip and the link colour (blue on a light palette) for its text.
  line->setAutoFillBackground(true);
  line->setBackgroundRole(QPalette::Button);
  line->setForegroundRole(QPalette::Link);
  line->setFont(UiFont(8));
}

StatusLineOwner::StatusLineOwner(QLabel *own) : own_(own), saved_(current()) {
  current() = own;
}
StatusLineOwner::~StatusLineOwner() {
  current() = saved_;
}
void StatusLineOwner::activate() {
  current() = own_;
}

BusyCursor::BusyCursor() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
}
BusyCursor::~BusyCursor() {
  QApplication::restoreOverrideCursor();
}

}  // namespace kv
