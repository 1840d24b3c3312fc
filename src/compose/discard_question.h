#pragma once
// "Discard the changes to this fax?": an editor window's Cancel and Escape ask it when what the
// window holds differs from what it held when it was first shown, and close without a word
// otherwise.
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace kv {

class DiscardQuestion {
 public:
  // `what` names the thing edited ("fax", "template", "entry"); `state` answers the window's
  // content in a form that compares equal exactly when nothing was changed.
  DiscardQuestion(QWidget *window, QString what, std::function<QByteArray()> state);

  // Takes the content as it is now as unchanged (once, when the window is first shown).
  void TakeBaseline();
  bool Changed() const;
  // True when the window may close: nothing changed, or the user answered Yes (No is the
  // default answer).
  bool MayClose();

 private:
  QWidget *window_;
  QString what_;
  std::function<QByteArray()> state_;
  std::optional<QByteArray> baseline_;
};

}  // namespace kv
