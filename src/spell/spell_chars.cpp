#include "spell/spell_chars.h"

#include <array>

namespace kv::spell {

namespace {

struct Tables {
  std::array<std::uint8_t, 256> code{};
  std::array<std::uint8_t, 64> letter{};
  std::array<std::uint8_t, 256> upper{};
  std::array<std::uint8_t, 256> lower{};

  Tables() {
    int n = 0;
    auto add = [&](int c) { letter[n] = static_cast<std::uint8_t>(c), code[c] = n++; };
    for (char c : std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZ'-"))
      add(static_cast<unsigned char>(c));
    for (int c : {0x8A, 0x8C, 0x9F}) add(c);
    for (int c = 0xC0; c <= 0xD6; ++c) add(c);
    for (int c = 0xD8; c <= 0xDF; ++c) add(c);
    add(0xF0);
    add('`');

    for (int c = 0; c < 256; ++c) upper[c] = lower[c] = static_cast<std::uint8_t>(c);
    for (int c = 'a'; c <= 'z'; ++c) upper[c] = static_cast<std::uint8_t>(c - 32);
    for (int c = 0xE0; c <= 0xFE; ++c)
      if (c != 0xF0 && c != 0xF7) upper[c] = static_cast<std::uint8_t>(c - 32);
    upper[0x9A] = 0x8A, upper[0x9C] = 0x8C, upper[0xFF] = 0x9F;

    for (int c = 'A'; c <= 'Z'; ++c) lower[c] = static_cast<std::uint8_t>(c + 32);
    for (int c = 0xC0; c <= 0xDE; ++c)
      if (c != 0xD7 && c != 0xD0) lower[c] = static_cast<std::uint8_t>(c + 32);
    lower[0x8A] = 0x9A, lower[0x8C] = 0x9C, lower[0x9F] = 0xFF;

    // Lower-case letters share the code of their capitals.
    for (int c = 0; c < 256; ++c)
      if (upper[c] != c) code[c] = code[upper[c]];
  }
};

const Tables &tables() {
  static const Tables t;
  return t;
}

}  // namespace

std::uint8_t letterCode(std::uint8_t c) {
  return tables().code[c];
}
std::uint8_t codeLetter(std::uint8_t code) {
  return tables().letter[code & 63];
}
std::uint8_t upperChar(std::uint8_t c) {
  return tables().upper[c];
}
std::uint8_t lowerChar(std::uint8_t c) {
  return tables().lower[c];
}

std::string upperWord(std::string_view word) {
  std::string s(word);
  for (char &c : s) c = static_cast<char>(upperChar(static_cast<std::uint8_t>(c)));
  return s;
}

bool isCapital(std::uint8_t c) {
  return (c >= 'A' && c <= 'Z') || c == 0x8A || c == 0x8C || c == 0x9F ||
         (c >= 0xC0 && c <= 0xDF && c != 0xD7) || c == 0xF0;
}

bool isSmall(std::uint8_t c) {
  return (c >= 'a' && c <= 'z') || c == 0x9A || c == 0x9C || (c >= 0xE0 && c != 0xF0 && c != 0xF7);
}

bool isLetter(std::uint8_t c) {
  return isCapital(c) || isSmall(c);
}

}  // namespace kv::spell
