#pragma once
// Hints: the pop-up help of controls and menu items. While hints are on, a control's hint pops
// up after the pointer has rested 1200 ms and every change of the current hint is also written
// to the current status line.
#include <QObject>

class QApplication;

namespace kv {

class Hints : public QObject {
  Q_OBJECT
 public:
  static constexpr int kDelayMs = 1200;

  // Installs the behaviour for the whole program (once, at start-up).
  static void install(QApplication &app);
  static bool enabled();
  static void setEnabled(bool on);

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  using QObject::QObject;
};

// Gives a widget a hint shown both as its pop-up and in the status line.
void SetHint(class QWidget *widget, const QString &hint);

}  // namespace kv
