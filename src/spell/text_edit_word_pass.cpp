#include "spell/text_edit_word_pass.h"

#include <QTextBlock>
#include <QTextDocument>

#include "spell/spell_words.h"

namespace kv::spell {

void TextEditWordPass::StartWordPass() {
  pos_ = start_ = length_ = 0;
  marked_ = false;
}

QString TextEditWordPass::NextWord() {
  marked_ = false;
  length_ = 0;
  if (!edit_) return {};
  QTextDocument *doc = edit_->document();
  for (QTextBlock block = doc->findBlock(pos_); block.isValid(); block = block.next()) {
    const QString text = block.text();
    const int from = std::max(0, pos_ - block.position());
    int s = 0, l = 0;
    if (findWord(text, from, s, l)) {
      start_ = block.position() + s;
      length_ = l;
      pos_ = start_ + l;
      return text.mid(s, l);
    }
    pos_ = block.position() + block.length();
  }
  return {};
}

QTextCursor TextEditWordPass::wordCursor() const {
  QTextCursor c(edit_->document());
  c.setPosition(start_);
  c.setPosition(start_ + length_, QTextCursor::KeepAnchor);
  return c;
}

void TextEditWordPass::MarkWord() {
  if (!edit_ || length_ == 0) return;
  edit_->setTextCursor(wordCursor());
  edit_->ensureCursorVisible();
  marked_ = true;
}

void TextEditWordPass::ReplaceMarkedWord(const QString &text) {
  if (!edit_ || !marked_) return;
  QTextCursor c = wordCursor();
  // The format of the word's last letter, so the replacement looks like what it replaces.
  const QTextCharFormat format = c.charFormat();
  c.insertText(text, format);
  pos_ = start_ + static_cast<int>(text.size());
  length_ = 0;
  marked_ = false;
  edit_->setTextCursor(c);
}

void TextEditWordPass::Repaint() {
  if (edit_) edit_->viewport()->update();
}

void TextEditWordPass::EndWordPass() {
  marked_ = false;
  if (!edit_) return;
  QTextCursor c = edit_->textCursor();
  c.clearSelection();
  edit_->setTextCursor(c);
}

}  // namespace kv::spell
