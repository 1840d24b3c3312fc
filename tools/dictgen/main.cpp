// korvane_dictgen WORDLIST OUT.DCT: makes a main dictionary from a word list (UTF-8, one word a
// line), then opens the file it wrote and checks every word it took from the list, so a build
// never ships a dictionary that lost words.
#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/error_text.h"
#include "spell/dictionary_file.h"
#include "spell/spell_chars.h"
#include "spell/spell_words.h"
#include "spell/vizuv_spell.h"

using namespace kv::spell;

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: korvane_dictgen WORDLIST OUT.DCT\n");
    return 2;
  }
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "korvane_dictgen: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<std::string> taken, codes;
  long lines = 0, skipped = 0;
  while (!in.atEnd()) {
    QString line = QString::fromUtf8(in.readLine()).trimmed();
    if (line.isEmpty()) continue;
    ++lines;
    std::string bytes;
    // One-letter words are always correct; words the alphabet cannot hold are left out.
    if (line.size() < 2 || !toSpellBytes(line, bytes)) {
      ++skipped;
      continue;
    }
    std::string up = upperWord(bytes), code;
    bool fits = true;
    for (char ch : up) {
      auto c = static_cast<std::uint8_t>(ch);
      fits &= codeLetter(letterCode(c)) == c;
      code += static_cast<char>(letterCode(c));
    }
    if (!fits) {
      ++skipped;
      continue;
    }
    taken.push_back(bytes);
    codes.push_back(code);
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());

  DictionaryImage image;
  image.intro = "KORVANE MAIN DICTIONARY\r\nBuilt from " + std::string(argv[1]) + ", " +
                std::to_string(codes.size()) + " words.\r\n\x1A";
  image.segments = buildSegments(codes, 1);
  if (kv::Result r = writeFileReplacing(argv[2], encodeDictionary(image)); r < 0) {
    std::fprintf(stderr, "korvane_dictgen: cannot write %s: %s\n", argv[2],
                 kv::errorText(r).c_str());
    return 1;
  }

  TVizuvSpell spell;
  if (!spell.Open(argv[2])) {
    std::fprintf(stderr, "korvane_dictgen: %s does not open as a main dictionary\n", argv[2]);
    return 1;
  }
  long missing = 0;
  for (const std::string &w : taken)
    if (!spell.IsCorrect(w) && ++missing <= 10)
      std::fprintf(stderr, "korvane_dictgen: \"%s\" does not read back\n", w.c_str());
  if (missing) {
    std::fprintf(stderr, "korvane_dictgen: %ld words do not read back\n", missing);
    std::remove(argv[2]);
    return 1;
  }
  std::size_t nodes = 0;
  for (const TrieSegment &s : image.segments) nodes += s.used();
  std::printf(
      "korvane_dictgen: %zu words (%ld lines, %ld left out) in %zu segments, %zu nodes; "
      "all read back\n",
      codes.size(), lines, skipped, image.segments.size(), nodes);
  return 0;
}
