#include "app/status_line.h"

#include <QApplication>
#include <QCursor>

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
  line->setAutoFillBackground(true);
  QPalette pal = line->palette();
  pal.setColor(QPalette::Window, QColor(192, 192, 192));
  pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
  line->setPalette(pal);
  QFont f("Arial");
  f.setPointSize(8);
  line->setFont(f);
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
