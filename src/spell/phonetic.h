#pragma once
// The sound key that prunes the suggestion search and the similarity score that ranks what it
// finds. Both work on upper-cased Windows-1252 words.
#include <string>
#include <string_view>

namespace kv::spell {

// A 4-byte key: the first character as it is, then the sound classes (bytes 1 to 7) of the
// consonants that follow, each class once. A short key is padded with zero bytes (pad) or
// completed from the same positions of `target`.
std::string PhoneticKey(std::string_view text, std::string_view target, bool pad);

// How alike two words are, 0 to 100: twice the letters of their common pieces (longest common
// substring first, then recursively right and left of it) over their total length.
int Similarity(std::string_view a, std::string_view b);

}  // namespace kv::spell
