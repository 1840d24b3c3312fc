#pragma once
// Splits RTF bytes into tokens: group braces, control words with their parameters, control
// symbols, \'hh bytes, \bin data and plain text. It knows nothing of what the words mean;
// the reader gives them meaning.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kv::rtf {

enum class TokenKind {
  End,         // no more input
  GroupOpen,   // {
  GroupClose,  // }
  Word,        // \name or \name-123
  Symbol,      // \ followed by one non-letter, e.g. \~ \- \* \{
  HexByte,     // \'hh
  Binary,      // \binN and its N raw bytes (in `text`)
  Text,        // a run of plain bytes (line breaks dropped)
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string_view name;  // Word: the letters; Symbol: the one character
  bool hasParam = false;
  std::int32_t param = 0;  // clamped to the 32-bit range
  std::uint8_t byte = 0;   // HexByte
  std::string_view text;   // Text, Binary
};

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view input) : in_(input) {}

  Token next();
  std::size_t position() const { return pos_; }
  // True once a \bin asked for more bytes than were left (the data is cut at the end).
  bool truncatedBinary() const { return truncatedBinary_; }

 private:
  Token controlWord();

  std::string_view in_;
  std::size_t pos_ = 0;
  bool truncatedBinary_ = false;
};

}  // namespace kv::rtf
