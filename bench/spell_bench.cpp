// The spell checker with the built main dictionary: open, check 10,000 words, suggest.
#include <benchmark/benchmark.h>

#include <QFile>
#include <string>

#include "spell/plain_text_word_pass.h"
#include "spell/spell_pass.h"
#include "spell/vizuv_spell.h"

using namespace kv::spell;

namespace {

const std::string kDictionary = std::string(KORVANE_BIN_DIR) + "/krv.dct";

// A business letter's words, repeated to 10,000, with one slip in every hundred.
QString tenThousandWords() {
  const QString letter = QStringLiteral(
      "Dear Mr. Johnson, thank you for your letter of Monday about the invoice for the January "
      "delivery. We have checked our records and found that the order was shipped to the "
      "Boston office on the third of January, as agreed with your purchasing department. Please "
      "let us know whether the goods have arrived in good condition and whether the amount on "
      "the invoice is correct. If you have any questions, our customer service team will be "
      "pleased to help you. We look forward to doing business with you again. Yours sincerely, "
      "Mary Smith, Sales Manager, recieve ");
  QString text;
  int words = 0;
  const int perLetter = static_cast<int>(letter.split(u' ', Qt::SkipEmptyParts).size());
  while (words + perLetter <= 10000) text += letter + u'\n', words += perLetter;
  for (const QString &w : letter.split(u' ', Qt::SkipEmptyParts).mid(0, 10000 - words))
    text += w + u' ';
  return text;
}

void BM_OpenMainDictionary(benchmark::State &state) {
  for (auto _ : state) {
    TVizuvSpell spell;
    if (!spell.Open(kDictionary)) state.SkipWithError("no main dictionary");
    benchmark::DoNotOptimize(spell.HasMainDictionary());
  }
}
BENCHMARK(BM_OpenMainDictionary)->Unit(benchmark::kMillisecond);

void BM_CheckTenThousandWords(benchmark::State &state) {
  TVizuvSpell spell;
  if (!spell.Open(kDictionary)) state.SkipWithError("no main dictionary");
  PlainTextWordPass text(tenThousandWords());
  int unknown = 0;
  for (auto _ : state) {
    text.StartWordPass();
    unknown = 0;
    while (!NextMisspelledWord(spell, text).isEmpty()) ++unknown;
  }
  state.counters["unknown"] = unknown;
}
BENCHMARK(BM_CheckTenThousandWords)->Unit(benchmark::kMillisecond);

void BM_SuggestOneWord(benchmark::State &state, const char *word) {
  TVizuvSpell spell;
  if (!spell.Open(kDictionary)) state.SkipWithError("no main dictionary");
  for (auto _ : state) benchmark::DoNotOptimize(spell.Suggest(word));
}
BENCHMARK_CAPTURE(BM_SuggestOneWord, recieve, "recieve")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SuggestOneWord, acommodation, "acommodation")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SuggestOneWord, Febuary, "Febuary")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SuggestOneWord, teh, "teh")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
