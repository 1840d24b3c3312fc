#pragma once
// The step the spell check window and `korvane-fax spell` share: go on to the next word the
// dictionaries do not know.
#include <QString>

#include "spell/vizuv_spell.h"
#include "spell/word_pass.h"

namespace kv::spell {

// Advances the pass to the next unknown word and answers it; empty at the end of the text.
// Words the checker cannot judge (longer than kMaxWordLength, or with characters outside the
// code page) are passed over rather than cut or mangled.
QString NextMisspelledWord(TVizuvSpell &spell, ISpellWordPass &text);

// The suggestions for a word of the text, as text.
QStringList SuggestionsFor(TVizuvSpell &spell, const QString &word);

}  // namespace kv::spell
