#include "spell/phonetic.h"

#include <array>
#include <cstdint>

namespace kv::spell {

namespace {

// What becomes of a character after the first: 0 = dropped, else its replacement.
struct SoundTable {
  std::array<std::uint8_t, 256> to{};
  SoundTable() {
    for (int c = 0; c < 256; ++c) to[c] = static_cast<std::uint8_t>(c);
    auto drop = [&](int c) { to[c] = 0; };
    for (char c : std::string_view("AEHIOUWY")) drop(static_cast<unsigned char>(c));
    drop(0x9F);
    drop(0xF0);
    for (int c = 0xC0; c <= 0xC6; ++c) drop(c);
    for (int c = 0xC8; c <= 0xCF; ++c) drop(c);
    for (int c = 0xD2; c <= 0xD6; ++c) drop(c);
    for (int c = 0xD8; c <= 0xDD; ++c) drop(c);
    auto cls = [&](std::string_view chars, std::initializer_list<int> bytes, int value) {
      for (char c : chars) to[static_cast<unsigned char>(c)] = static_cast<std::uint8_t>(value);
      for (int b : bytes) to[b] = static_cast<std::uint8_t>(value);
    };
    cls("'-`", {}, 7);
    cls("BFPV68", {0xDE, 0xDF}, 1);
    cls("CGJKQSXZ3459", {0x8A, 0x8C, 0xC7}, 2);
    cls("DT", {0xD0}, 3);
    cls("L2", {}, 4);
    cls("MN", {0xD1}, 5);
    cls("R", {}, 6);
    to['0'] = 'O';
    to['1'] = to['7'] = 'I';
  }
};

const SoundTable &sounds() {
  static const SoundTable t;
  return t;
}

}  // namespace

std::string PhoneticKey(std::string_view text, std::string_view target, bool pad) {
  char key[4];
  std::size_t len = 0;
  if (!text.empty()) key[len++] = text[0];
  const SoundTable &t = sounds();
  for (std::size_t i = 1; i < text.size() && len < 4; ++i) {
    std::uint8_t c = t.to[static_cast<std::uint8_t>(text[i])];
    if (c == 0) continue;
    bool repeated = false;
    for (std::size_t k = 1; k < len; ++k) repeated |= static_cast<std::uint8_t>(key[k]) == c;
    if (!repeated) key[len++] = static_cast<char>(c);
  }
  std::string out(key, len);
  for (std::size_t i = len; i < 4; ++i) out += pad || i >= target.size() ? '\0' : target[i];
  return out;
}

namespace {

int commonLetters(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return 0;
  std::size_t best = 0, atA = 0, atB = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a.size() - i <= best) break;  // nothing longer can start here
    for (std::size_t j = 0; j < b.size(); ++j) {
      std::size_t k = 0;
      while (i + k < a.size() && j + k < b.size() && a[i + k] == b[j + k]) ++k;
      if (k > best) best = k, atA = i, atB = j;
    }
  }
  if (best == 0) return 0;
  return static_cast<int>(2 * best) + commonLetters(a.substr(atA + best), b.substr(atB + best)) +
         commonLetters(a.substr(0, atA), b.substr(0, atB));
}

}  // namespace

int Similarity(std::string_view a, std::string_view b) {
  if (a.empty() && b.empty()) return 0;
  return commonLetters(a, b) * 100 / static_cast<int>(a.size() + b.size());
}

}  // namespace kv::spell
