#pragma once
// What the spell check needs of the text it checks: one pass over its words, front to back.
#include <QString>

namespace kv::spell {

class ISpellWordPass {
 public:
  virtual ~ISpellWordPass() = default;
  // Starts at the beginning of the text.
  virtual void StartWordPass() = 0;
  // The next word; empty at the end of the text.
  virtual QString NextWord() = 0;
  // Marks the word NextWord() gave last (the user sees it highlighted).
  virtual void MarkWord() = 0;
  // Replaces the marked word; the pass goes on after the replacement.
  virtual void ReplaceMarkedWord(const QString &text) = 0;
  virtual void Repaint() = 0;
  // Ends the pass and removes the mark.
  virtual void EndWordPass() = 0;
};

}  // namespace kv::spell
