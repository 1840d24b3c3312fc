#pragma once
// The dictionaries' alphabet: Windows-1252 bytes, their 6-bit letter codes, and the case rules
// the checker applies before it looks a word up.
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::spell {

// Longest word the checker makes suggestions for or adds to a user dictionary.
inline constexpr std::size_t kMaxWordLength = 25;

// The 6-bit code a dictionary stores for a character (0 for characters outside the alphabet,
// which is also the code of 'A').
std::uint8_t letterCode(std::uint8_t c);
// The upper-case character a code stands for.
std::uint8_t codeLetter(std::uint8_t code);

std::uint8_t upperChar(std::uint8_t c);
std::uint8_t lowerChar(std::uint8_t c);
std::string upperWord(std::string_view word);

// Letters of the code page (not the apostrophe, hyphen or backtick).
bool isLetter(std::uint8_t c);
bool isCapital(std::uint8_t c);
bool isSmall(std::uint8_t c);

}  // namespace kv::spell
