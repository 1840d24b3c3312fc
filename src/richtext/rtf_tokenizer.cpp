#include "richtext/rtf_tokenizer.h"

#include "base/hex_digit.h"
namespace kv::rtf {
namespace {

// Names longer than this are no control word any writer produces; the rest is read as text so
// that a run of letters cannot grow a name without bound.
constexpr std::size_t kMaxWordLength = 32;
constexpr std::size_t kMaxParamDigits = 10;

bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

Token Tokenizer::next() {
  Token t;
  while (pos_ < in_.size()) {
    const char c = in_[pos_];
    if (c == '{') {
      ++pos_;
      t.kind = TokenKind::GroupOpen;
      return t;
    }
    if (c == '}') {
      ++pos_;
      t.kind = TokenKind::GroupClose;
      return t;
    }
    if (c == '\\') return controlWord();
    if (c == '\r' || c == '\n' || c == '\0') {
      ++pos_;  // line breaks in the file carry no meaning; NULs are junk
      continue;
    }
    const std::size_t start = pos_;
    while (pos_ < in_.size()) {
      const char d = in_[pos_];
      if (d == '{' || d == '}' || d == '\\' || d == '\r' || d == '\n' || d == '\0') break;
      ++pos_;
    }
    t.kind = TokenKind::Text;
    t.text = in_.substr(start, pos_ - start);
    return t;
  }
  return t;
}

Token Tokenizer::controlWord() {
  Token t;
  ++pos_;                            // the backslash
  if (pos_ >= in_.size()) return t;  // a lone backslash at the end
  const char c = in_[pos_];
  if (!isLetter(c)) {
    ++pos_;
    if (c == '\'') {
      const int hi = pos_ < in_.size() ? HexDigitValue(in_[pos_]) : -1;
      const int lo = pos_ + 1 < in_.size() ? HexDigitValue(in_[pos_ + 1]) : -1;
      if (hi >= 0 && lo >= 0) {
        pos_ += 2;
        t.kind = TokenKind::HexByte;
        t.byte = static_cast<std::uint8_t>(hi * 16 + lo);
        return t;
      }
      // A broken \' escape: skip what there is of it.
      t.kind = TokenKind::Symbol;
      t.name = "'";
      return t;
    }
    if (c == '\r' || c == '\n') {
      // Backslash before a line break is the old spelling of \par.
      t.kind = TokenKind::Word;
      t.name = "par";
      return t;
    }
    t.kind = TokenKind::Symbol;
    t.name = in_.substr(pos_ - 1, 1);
    return t;
  }
  const std::size_t start = pos_;
  while (pos_ < in_.size() && isLetter(in_[pos_]) && pos_ - start < kMaxWordLength) ++pos_;
  t.kind = TokenKind::Word;
  t.name = in_.substr(start, pos_ - start);
  bool negative = false;
  if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() && isDigit(in_[pos_ + 1])) {
    negative = true;
    ++pos_;
  }
  if (pos_ < in_.size() && isDigit(in_[pos_])) {
    std::int64_t v = 0;
    std::size_t digits = 0;
    while (pos_ < in_.size() && isDigit(in_[pos_])) {
      if (digits++ < kMaxParamDigits) v = v * 10 + (in_[pos_] - '0');
      ++pos_;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    t.hasParam = true;
    t.param = static_cast<std::int32_t>(v);
  }
  // One space ends the word and belongs to it.
  if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;

  if (t.name == "bin" && t.hasParam) {
    std::size_t n = t.param > 0 ? static_cast<std::size_t>(t.param) : 0;
    if (n > in_.size() - pos_) {
      n = in_.size() - pos_;
      truncatedBinary_ = true;
    }
    t.kind = TokenKind::Binary;
    t.text = in_.substr(pos_, n);
    pos_ += n;
  }
  return t;
}

}  // namespace kv::rtf
