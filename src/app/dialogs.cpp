#include "app/dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace kv {
namespace {
Dialogs::Handler &handler() {
  static Dialogs::Handler h;
  return h;
}
int beeps = 0;
bool silenced = false;
}  // namespace

void Dialogs::silenceForGood() {
  silenced = true;
}

void Dialogs::setHandler(Handler h) {
  handler() = std::move(h);
}
int Dialogs::beepCount() {
  return beeps;
}

void Dialogs::information(QWidget *parent, const QString &text, const QString &caption) {
  run(parent, {DialogRequest::Information, caption, text, true});
}

void Dialogs::error(QWidget *parent, const QString &text, const QString &caption) {
  run(parent, {DialogRequest::Error, caption, text, true});
}

bool Dialogs::askYesNo(QWidget *parent, const QString &caption, const QString &text,
                       bool yesIsDefault) {
  return run(parent, {DialogRequest::YesNo, caption, text, yesIsDefault});
}

void Dialogs::beep() {
  ++beeps;
  if (!handler()) QApplication::beep();
}

bool Dialogs::run(QWidget *parent, const DialogRequest &r) {
  if (silenced) return r.kind != DialogRequest::YesNo || r.yesIsDefault;
  if (handler()) return handler()(r);
  const QString caption = r.caption.isEmpty() ? QApplication::applicationName() : r.caption;
  // Message texts use "\r" as their line break; Qt wants "\n".
  QString text = r.text;
  text.replace("\r\n", "\n").replace('\r', '\n');
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(text);
  switch (r.kind) {
    case DialogRequest::Information:
      box.setIcon(QMessageBox::Information);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case DialogRequest::Error:
      box.setIcon(QMessageBox::Critical);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case DialogRequest::YesNo:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(r.yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      break;
  }
  return box.exec() == QMessageBox::Yes || r.kind != DialogRequest::YesNo;
}

}  // namespace kv
