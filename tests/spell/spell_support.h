#pragma once
// Small dictionaries made on the spot, shared by the spell tests.
#include <algorithm>
#include <string>
#include <vector>

#include "spell/dictionary_file.h"
#include "spell/spell_chars.h"
#include "support/temp_files.h"

namespace kv::test {

// The image of a main dictionary holding `words`, split into segments of at most maxNodes.
inline spell::DictionaryImage mainDictionary(const std::vector<std::string> &words,
                                             std::uint32_t maxNodes = spell::kMaxCapacity) {
  std::vector<std::string> codes;
  for (const std::string &w : words) {
    std::string c;
    for (char ch : spell::upperWord(w))
      c += static_cast<char>(spell::letterCode(static_cast<std::uint8_t>(ch)));
    codes.push_back(c);
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  spell::DictionaryImage image;
  image.intro = "TEST DICTIONARY\r\n\x1A";
  image.segments = spell::buildSegments(codes, 1, maxNodes);
  return image;
}

inline std::string writeMainDictionary(const TempDir &dir, const std::vector<std::string> &words,
                                       std::uint32_t maxNodes = spell::kMaxCapacity) {
  spell::DictionaryImage image = mainDictionary(words, maxNodes);
  std::string path = dir.file("main.dct");
  writeBytes(path, spell::encodeDictionary(image));
  return path;
}

// The main dictionary the build makes from the system word list.
inline std::string builtDictionary() {
  return std::string(KORVANE_BIN_DIR) + "/krv.dct";
}

}  // namespace kv::test
