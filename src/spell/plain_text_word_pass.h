#pragma once
// The word pass over plain text held in memory, with the line number of the current word.
#include <QString>

#include "spell/word_pass.h"

namespace kv::spell {

class PlainTextWordPass : public ISpellWordPass {
 public:
  explicit PlainTextWordPass(QString text) : text_(std::move(text)) {}

  void StartWordPass() override;
  QString NextWord() override;
  void MarkWord() override { marked_ = true; }
  void ReplaceMarkedWord(const QString &text) override;
  void Repaint() override {}
  void EndWordPass() override { marked_ = false; }

  const QString &text() const { return text_; }
  // 1-based line of the word NextWord() gave last.
  int line() const { return line_; }

 private:
  QString text_;
  int pos_ = 0, start_ = 0, length_ = 0;
  int line_ = 1, lineCountedTo_ = 0;
  bool marked_ = false;
};

}  // namespace kv::spell
