#include "spell/spell_pass.h"

#include <QStringList>

#include "spell/spell_chars.h"
#include "spell/spell_words.h"

namespace kv::spell {

QString NextMisspelledWord(TVizuvSpell &spell, ISpellWordPass &text) {
  for (;;) {
    QString word = text.NextWord();
    if (word.isEmpty()) return word;
    std::string bytes;
    if (!toSpellBytes(word, bytes) || bytes.size() > kMaxWordLength) continue;
    if (!spell.IsCorrect(bytes)) return word;
  }
}

QStringList SuggestionsFor(TVizuvSpell &spell, const QString &word) {
  QStringList out;
  std::string bytes;
  if (!toSpellBytes(word, bytes)) return out;
  for (const std::string &s : spell.Suggest(bytes)) out << fromSpellBytes(s);
  return out;
}

}  // namespace kv::spell
