#pragma once
// The program's modal windows: a button bar on top, their controls, and a status line at the
// bottom that is the program's current status line while the window lives. Enter runs the
// accepting button of the bar and Escape the cancelling one, since bar buttons cannot be a
// dialog's default button.
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <memory>

#include "app/status_line.h"

class QToolButton;
class QVBoxLayout;

namespace kv {

class TBarDialog : public QDialog {
  Q_OBJECT
 public:
  TBarDialog(QWidget *parent, int statusHeight);
  ~TBarDialog() override;

  QWidget *ButtonBar;
  QLabel *status;
  // Where the window's own controls go, between the bar and the status line.
  QVBoxLayout *Body;

  // Enter clicks `accept` and Escape clicks `cancel`, whichever of them is visible and enabled.
  void SetKeyButtons(QToolButton *accept, std::initializer_list<QToolButton *> cancel);
  // The window saves its placement when it closes (restored by the window's constructor).
  void SetKeepsPlacement(bool on) { keepsPlacement_ = on; }

  void done(int result) override;

 protected:
  bool event(QEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;

 private:
  std::unique_ptr<StatusLineOwner> statusOwner_;
  QPointer<QToolButton> accept_;
  std::vector<QPointer<QToolButton>> cancel_;
  bool keepsPlacement_ = false;
};

// A button that can run now: visible and enabled.
bool CanClick(const QToolButton *button);

}  // namespace kv
