// korvane-fax spell: checks the words of a text or RTF file with the spell checker of the Spell
// Check window and prints each unknown word with its line and the suggestions, best first.
#include <QByteArray>
#include <QStringDecoder>
#include <QStringList>
#include <QTextDocument>
#include <cerrno>
#include <cstring>
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

// Longer texts than any letter or fax: the whole file is held in memory to be checked.
constexpr std::size_t kMaxTextBytes = std::size_t{64} << 20;

// The bytes of FILE or standard input, at most kMaxTextBytes; false with `why` otherwise.
bool readInput(const std::string &path, QByteArray &out, std::string &why) {
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) {
      why = std::string(std::strerror(errno ? errno : ENOENT));
      return false;
    }
  }
  std::istream &in = path == "-" ? std::cin : file;
  std::string bytes;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    if (bytes.size() + static_cast<std::size_t>(in.gcount()) > kMaxTextBytes) {
      why = "it holds more than " + std::to_string(kMaxTextBytes >> 20) +
            " MiB, more than a text to check can be";
      return false;
    }
    bytes.append(buf, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) {
    why = "it cannot be read";
    return false;
  }
  out = QByteArray::fromStdString(bytes);
  return true;
}

// Every surrogate of `text` is half of a pair (the UTF-16 decoder lets lone ones through).
bool wellPairedSurrogates(const QString &text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
      ++i;
    else if (text[i].isSurrogate())
      return false;
  }
  return true;
}

// UTF-16 (either byte order) or UTF-8 after their byte order mark; else UTF-8 when the bytes
// are valid UTF-8, else the Windows-1252 of the program's own files. False with `why` for
// bytes that are not text: UTF-16 that does not decode, or NUL bytes without a mark (UTF-16
// read as single bytes would pass every word).
bool decodeText(const QByteArray &bytes, QString &text, std::string &why) {
  const struct {
    const char *mark;
    QStringDecoder::Encoding encoding;
    const char *name;
  } marked[] = {{"\xEF\xBB\xBF", QStringDecoder::Utf8, "UTF-8"},
                {"\xFF\xFE", QStringDecoder::Utf16LE, "UTF-16 (little-endian)"},
                {"\xFE\xFF", QStringDecoder::Utf16BE, "UTF-16 (big-endian)"}};
  for (const auto &m : marked) {
    if (!bytes.startsWith(m.mark)) continue;
    const QByteArray body = bytes.mid(qsizetype(std::strlen(m.mark)));
    QStringDecoder decoder(m.encoding, QStringDecoder::Flag::Stateless);
    text = decoder.decode(body);
    const bool utf16 = m.encoding != QStringDecoder::Utf8;
    if (decoder.hasError() || (utf16 && (body.size() % 2 != 0 || !wellPairedSurrogates(text)))) {
      why = std::string("it starts as ") + m.name + " text but is not valid " + m.name;
      return false;
    }
    return true;
  }
  if (bytes.contains('\0')) {
    why = "it holds NUL bytes, so it is not text (UTF-16 text needs its byte order mark)";
    return false;
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  text = utf8.decode(bytes);
  if (!utf8.hasError()) return true;
  QStringDecoder cp1252("windows-1252");
  text = cp1252.isValid() ? QString(cp1252.decode(bytes)) : QString::fromLatin1(bytes);
  return true;
}

int runSpell(const Args &args, Context &ctx) {
  int suggestions = 10;
  if (auto v = args.value("suggest"); v && !parseInt(*v, 0, 220, suggestions))
    return usageError(ctx, "spell", "--suggest takes a number from 0 to 220");
  const std::string path = args.positional()[0];
  const std::string dictionary = args.value("dict").value_or(defaultDictionary());

  spell::TVizuvSpell spell;
  spell.SetMaxSuggestions(suggestions);
  // A file too large to be a dictionary is said as such; other failures by their code.
  auto dictionaryFailure = [&](const std::string &what) {
    if (spell.LastProblem().empty()) return fail(ctx, "spell", spell.LastResult(), what);
    ctx.err << "korvane-fax spell: " << spell.LastProblem() << "\n";
    return int(exitFailed);
  };
  if (!spell.Open(dictionary)) return dictionaryFailure(dictionary + " is not a main dictionary");
  if (auto user = args.value("user"); user && spell.OpenUser(*user) < 0)
    return dictionaryFailure(*user + " is not a user dictionary");

  QByteArray bytes;
  std::string why;
  if (!readInput(path, bytes, why)) {
    ctx.err << "korvane-fax spell: " << path << ": " << why << "\n";
    return exitFailed;
  }
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
  } else if (!decodeText(bytes, content, why)) {
    ctx.err << "korvane-fax spell: " << path << ": " << why << "\n";
    return exitFailed;
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
      "The text may be UTF-8 or Windows-1252, or UTF-16 with its byte order mark. Exit 0 when "
      "every word is known, 1 when some\n"
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
