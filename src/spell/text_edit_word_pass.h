#pragma once
// The word pass over the document of a QTextEdit: paragraph by paragraph, the current word
// marked as the editor's selection, replacements made in the word's own character format.
#include <QPointer>
#include <QTextEdit>

#include "spell/word_pass.h"

namespace kv::spell {

class TextEditWordPass : public ISpellWordPass {
 public:
  explicit TextEditWordPass(QTextEdit *edit) : edit_(edit) {}

  void StartWordPass() override;
  QString NextWord() override;
  void MarkWord() override;
  void ReplaceMarkedWord(const QString &text) override;
  void Repaint() override;
  void EndWordPass() override;

 private:
  QTextCursor wordCursor() const;
  QPointer<QTextEdit> edit_;
  int pos_ = 0, start_ = 0, length_ = 0;
  bool marked_ = false;
};

}  // namespace kv::spell
