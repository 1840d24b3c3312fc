#include "base/printable_text.h"

#include <cstdint>
#include <cstdio>

#include "base/cp1252.h"

namespace kv {
namespace {

bool IsControl(char32_t u) {
  return u < 0x20 || (u >= 0x7F && u < 0xA0);
}

void AppendUtf8(std::string &out, char32_t u) {
  if (u > 0x10FFFF || (u >= 0xD800 && u < 0xE000)) u = 0xFFFD;
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else if (u < 0x10000) {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (u >> 18));
    out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

}  // namespace

std::string PrintableText(std::u32string_view text, bool quoted) {
  std::string out;
  out.reserve(text.size());
  for (char32_t u : text) {
    if (IsControl(u)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(u));
      out += hex;
    } else {
      if (quoted && (u == '"' || u == '\\')) out += '\\';
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::string PrintableCp1252(std::string_view bytes, bool quoted) {
  std::u32string text;
  text.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<std::uint8_t>(ch);
    const char32_t u = cp1252ToUnicode(b);
    // An unassigned byte keeps its number, which lies in the C1 controls.
    text += u ? u : char32_t{b};
  }
  return PrintableText(text, quoted);
}

}  // namespace kv
