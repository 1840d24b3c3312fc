#include "spell/plain_text_word_pass.h"

#include "spell/spell_words.h"

namespace kv::spell {

void PlainTextWordPass::StartWordPass() {
  pos_ = start_ = length_ = 0;
  line_ = 1;
  lineCountedTo_ = 0;
  marked_ = false;
}

QString PlainTextWordPass::NextWord() {
  marked_ = false;
  if (!findWord(text_, pos_, start_, length_)) {
    pos_ = static_cast<int>(text_.size());
    length_ = 0;
    return {};
  }
  line_ += static_cast<int>(text_.mid(lineCountedTo_, start_ - lineCountedTo_).count(u'\n'));
  lineCountedTo_ = start_;
  pos_ = start_ + length_;
  return text_.mid(start_, length_);
}

void PlainTextWordPass::ReplaceMarkedWord(const QString &text) {
  if (!marked_ || length_ == 0) return;
  text_.replace(start_, length_, text);
  line_ += static_cast<int>(text.count(u'\n'));
  pos_ = lineCountedTo_ = start_ + static_cast<int>(text.size());
  length_ = 0;
  marked_ = false;
}

}  // namespace kv::spell
