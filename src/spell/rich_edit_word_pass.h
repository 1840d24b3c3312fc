#pragma once
// The spell checker's word pass over the program's rich-text control.
#include <QPointer>

#include "richtext/rich_edit.h"
#include "spell/word_pass.h"

namespace kv::spell {

class RichEditWordPass : public ISpellWordPass {
 public:
  explicit RichEditWordPass(TRichEdit *edit) : edit_(edit) {}

  void StartWordPass() override {
    if (edit_) edit_->StartWordPass();
  }
  QString NextWord() override { return edit_ ? edit_->NextWord() : QString(); }
  void MarkWord() override {
    if (edit_) edit_->MarkWord();
  }
  void ReplaceMarkedWord(const QString &text) override {
    if (edit_) edit_->ReplaceWord(text);
  }
  void Repaint() override {
    if (edit_) edit_->Repaint();
  }
  void EndWordPass() override {
    if (edit_) edit_->EndWordPass();
  }

 private:
  QPointer<TRichEdit> edit_;
};

}  // namespace kv::spell
