// korvane-fax spell: checks the words of a text or RTF file with the spell checker of the Spell
// Check window and prints each unknown word with its line and the suggestions, best first.
#include <QByteArray>
#include <QStringDecoder>
#include <QStringList>
#include <QTextDocument>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <ostream>

#include "base/program_dir_rule.h"
#include "cli/command.h"
#include "richtext/rtf_reader.h"
#include "spell/plain_text_word_pass.h"
#include "spell/spell_pass.h"
#include "spell/vizuv_spell.h"

namespace kv::cli {

namespace {

// The main dictionary shipped with the program, as the windows use it.
std::string defaultDictionary() {
  return ShippedFile(ExecutableDir(), "krv.dct").string();
}

bool readInput(const std::string &path, QByteArray &out) {
  std::string bytes;
  if (path == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
  }
  out = QByteArray::fromStdString(bytes);
  return true;
}

// UTF-8 when the bytes are valid UTF-8, else the Windows-1252 of the program's own files.
QString decodeText(const QByteArray &bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  QStringDecoder cp1252("windows-1252");
  return cp1252.isValid() ? QString(cp1252.decode(bytes)) : QString::fromLatin1(bytes);
}

int runSpell(const Args &args, Context &ctx) {
  int suggestions = 10;
  if (auto v = args.value("suggest"); v && !parseInt(*v, 0, 220, suggestions))
    return usageError(ctx, "spell", "--suggest takes a number from 0 to 220");
  const std::string path = args.positional()[0];
  const std::string dictionary = args.value("dict").value_or(defaultDictionary());

  spell::TVizuvSpell spell;
  spell.SetMaxSuggestions(suggestions);
  if (!spell.Open(dictionary))
    return fail(ctx, "spell", spell.LastResult(), dictionary + " is not a main dictionary");
  if (auto user = args.value("user"); user && spell.OpenUser(*user) < 0)
    return fail(ctx, "spell", spell.LastResult(), *user + " is not a user dictionary");

  QByteArray bytes;
  if (!readInput(path, bytes)) return fail(ctx, "spell", ecFileNotFound, path);
  // RTF is read by the rich-text control's reader; its lines are the paragraphs.
  QString content;
  if (LooksLikeRtf(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))) {
    if (!ensureGuiApplication(ctx, "spell")) return exitFailed;
    QTextDocument doc;
    RtfReadResult read = ReadRtf(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), doc, 96);
    if (!read.ok) {
      ctx.err << "korvane-fax spell: " << path << ": " << read.error.toStdString() << "\n";
      return exitFailed;
    }
    content = doc.toPlainText();
  } else {
    content = decodeText(bytes);
  }

  spell::PlainTextWordPass text(content);
  text.StartWordPass();
  bool allKnown = true;
  for (QString word; !(word = spell::NextMisspelledWord(spell, text)).isEmpty();) {
    allKnown = false;
    ctx.out << text.line() << ':' << word.toStdString() << ':';
    QStringList list = spell::SuggestionsFor(spell, word);
    if (!list.isEmpty()) ctx.out << ' ' << list.join(QStringLiteral(", ")).toStdString();
    ctx.out << '\n';
  }
  text.EndWordPass();
  return allKnown ? exitOk : exitFailed;
}

}  // namespace

Command spellCommand() {
  Command c;
  c.name = "spell";
  c.synopsis = "[--suggest N] [--dict FILE] [--user FILE] FILE|-";
  c.summary = "check the spelling of a text file";
  c.description =
      "Checks every word of FILE (or standard input), plain text or RTF, against the main\n"
      "dictionary krv.dct\n"
      "shipped with the program and prints one line per unknown word: its line number, a colon,\n"
      "the word, a colon and a space, then up to N suggestions (default 10), best first.\n"
      "The text may be UTF-8 or Windows-1252. Exit 0 when every word is known, 1 when some\n"
      "are not or the input cannot be read.";
  c.options = {
      {"suggest", 0, "N", "at most N suggestions per word (0 to 220, default 10)"},
      {"dict", 0, "FILE", "main dictionary (default: the krv.dct shipped with the program)"},
      {"user", 0, "FILE", "a user dictionary to consult as well"}};
  c.run = runSpell;
  c.minPositional = c.maxPositional = 1;
  return c;
}

}  // namespace kv::cli
