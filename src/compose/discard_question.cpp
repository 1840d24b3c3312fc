#include "compose/discard_question.h"

#include <QWidget>

#include "app/dialogs.h"

namespace kv {

DiscardQuestion::DiscardQuestion(QWidget *window, QString what, std::function<QByteArray()> state)
    : window_(window), what_(std::move(what)), state_(std::move(state)) {}

void DiscardQuestion::TakeBaseline() {
  if (!baseline_) baseline_ = state_();
}

bool DiscardQuestion::Changed() const {
  return baseline_ && state_() != *baseline_;
}

bool DiscardQuestion::MayClose() {
  return !Changed() || Dialogs::askYesNo(window_, window_->windowTitle(),
                                         "Discard the changes to this " + what_ + "?", false);
}

}  // namespace kv
