#include "spell/spell_words.h"

#include "base/cp1252.h"

namespace kv::spell {

namespace {

bool isApostrophe(QChar c) {
  return c == u'\'' || c == u'`' || c == QChar(0x2019);
}

}  // namespace

bool findWord(const QString &text, int from, int &start, int &length) {
  const int n = static_cast<int>(text.size());
  int i = from;
  while (i < n) {
    while (i < n && !text[i].isLetterOrNumber()) ++i;
    if (i == n) return false;
    int end = i;
    bool digit = false;
    for (;;) {
      while (end < n && text[end].isLetterOrNumber()) digit |= text[end++].isDigit();
      if (end + 1 < n && isApostrophe(text[end]) && text[end + 1].isLetter())
        ++end;
      else
        break;
    }
    if (!digit) {
      start = i;
      length = end - i;
      return true;
    }
    i = end;
  }
  return false;
}

bool toSpellBytes(const QString &word, std::string &out) {
  out.clear();
  for (QChar c : word) {
    char32_t u = c.unicode();
    if (u == 0x2019) u = '\'';
    int b = unicodeToCp1252(u);
    if (b < 0) return false;
    out += static_cast<char>(b);
  }
  return true;
}

QString fromSpellBytes(const std::string &bytes) {
  QString s;
  for (char b : bytes) {
    char32_t u = cp1252ToUnicode(static_cast<std::uint8_t>(b));
    s += QChar(static_cast<char16_t>(u ? u : 0xFFFD));
  }
  return s;
}

}  // namespace kv::spell
