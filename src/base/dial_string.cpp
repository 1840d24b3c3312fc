#include "base/dial_string.h"

#include <cstdio>

namespace kv {
namespace {

constexpr std::string_view kModifiers = "*#,WP!@T";
constexpr std::string_view kDropped = " ().-/";
constexpr std::string_view kAllowed =
    "digits, the dial modifiers * # , W P ! @ T, spaces and ( ) . - /";

std::string hexByte(unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", c);
  return buf;
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// The code point of the UTF-8 sequence at `at` and its length; length 0 when it is not one.
std::pair<char32_t, std::size_t> decodeUtf8(std::string_view s, std::size_t at) {
  const auto b = static_cast<unsigned char>(s[at]);
  const std::size_t n = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (n == 0 || at + n > s.size()) return {0, 0};
  char32_t cp = b & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    const auto c = static_cast<unsigned char>(s[at + i]);
    if ((c & 0xC0) != 0x80) return {0, 0};
    cp = (cp << 6) | (c & 0x3F);
  }
  return {cp, n};
}

// "a carriage return", "the letter 'A'", "the character "é" (U+00E9)", ...
std::string describeAt(std::string_view s, std::size_t at) {
  const auto c = static_cast<unsigned char>(s[at]);
  if (c == '\r') return "a carriage return";
  if (c == '\n') return "a line feed";
  if (c == '\t') return "a tab";
  if (c < 0x20 || c == 0x7F) return "the control byte " + hexByte(c);
  if (c < 0x80) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return std::string(letter ? "the letter '" : "'") + char(c) + "'";
  }
  const auto [cp, n] = decodeUtf8(s, at);
  if (n == 0) return "the byte " + hexByte(c) + " (not UTF-8 text)";
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", unsigned(cp));
  if (cp < 0xA0) return std::string("the control character ") + code;
  return "the character \"" + std::string(s.substr(at, n)) + "\" (" + code + ")";
}

// Position of byte `at` counted in characters, from 1.
std::size_t characterNumber(std::string_view s, std::size_t at) {
  std::size_t n = 0;
  for (std::size_t i = 0; i <= at && i < s.size(); ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) ++n;
  return n;
}

Result refuse(std::string_view what, std::string_view text, const std::string &why,
              std::string &reason) {
  reason =
      "The " + std::string(what) + " \"" + escapedForMessage(text) + "\" cannot be dialled: " + why;
  return ecBadArgument;
}

// The checks shared by numbers and prefixes; `plusPrefix` is null where "+" is not taken.
Result parseText(std::string_view text, std::string_view what, const DialString *plusPrefix,
                 std::string &typed, std::string &dialled, bool &plusDropped, std::string &reason) {
  if (text.size() > DialString::kMaxLength)
    return refuse(what, std::string(text.substr(0, 20)) + "...",
                  "it is longer than " + std::to_string(DialString::kMaxLength) + " characters",
                  reason);
  bool plusTaken = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char u = upper(c);
    if (c >= '0' && c <= '9') {
      dialled += c;
    } else if (kModifiers.find(u) != std::string_view::npos) {
      dialled += u;
    } else if (c == '+' && plusPrefix && !plusTaken && dialled.empty()) {
      dialled += plusPrefix->dialled();
      plusDropped = plusPrefix->empty();
      plusTaken = true;
    } else if (kDropped.find(c) == std::string_view::npos) {
      const std::string where = " (character " + std::to_string(characterNumber(text, i)) + ")";
      if (c == '+')
        return refuse(what, text,
                      plusPrefix ? "a \"+\" is only taken at the start" + where
                                 : "it cannot hold a \"+\"" + where,
                      reason);
      return refuse(what, text,
                    "it holds " + describeAt(text, i) + where + "; it may hold only " +
                        std::string(kAllowed) + (plusPrefix ? " and a leading +" : ""),
                    reason);
    }
  }
  typed.assign(text);
  return ecOK;
}

}  // namespace

Result DialString::parse(std::string_view text, DialString &out, std::string &reason,
                         std::string_view internationalPrefix) {
  DialString international;
  if (Result r = parsePrefix(internationalPrefix, international, reason, "international prefix");
      r < 0)
    return r;
  DialString d;
  if (Result r = parseText(text, "fax number", &international, d.typed_, d.dialled_, d.plusDropped_,
                           reason);
      r < 0)
    return r;
  if (d.dialled_.find_first_of("0123456789") == std::string::npos)
    return refuse("fax number", text, text.empty() ? "it is empty" : "it has no digits", reason);
  out = std::move(d);
  return ecOK;
}

Result DialString::parsePrefix(std::string_view text, DialString &out, std::string &reason,
                               std::string_view what) {
  DialString d;
  if (Result r = parseText(text, what, nullptr, d.typed_, d.dialled_, d.plusDropped_, reason);
      r < 0)
    return r;
  out = std::move(d);
  return ecOK;
}

std::string escapedForMessage(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace kv
