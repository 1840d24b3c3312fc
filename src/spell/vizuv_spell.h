#pragma once
// The spell checking component: a chain of tries (the main dictionary's segments, then the user
// dictionaries in the order opened), the check of a word, ranked suggestions, and words added to
// a user dictionary. Words are Windows-1252 bytes.
#include <string>
#include <string_view>
#include <vector>

#include "base/result_codes.h"
#include "spell/dictionary_file.h"

namespace kv::spell {

class TVizuvSpell {
 public:
  TVizuvSpell() = default;
  TVizuvSpell(const TVizuvSpell &) = delete;
  TVizuvSpell &operator=(const TVizuvSpell &) = delete;

  // The main dictionary the first check opens when none is; after a successful Open the file
  // opened.
  std::string DictionaryName = "vizuv.dct";
  std::string DictionaryUser = "custom.dct";
  int MaxSuggestions() const { return maxSuggestions_; }
  void SetMaxSuggestions(int n);  // at most 220

  // Fails when a main dictionary is open already, or the file is missing, damaged or a user
  // dictionary.
  bool Open(const std::string &file);
  // The identifier of the user dictionary, or -1.
  int OpenUser(const std::string &file);
  int CreateUser(const std::string &file, const std::vector<std::string> &words);
  void Close();
  bool HasMainDictionary() const { return mainSegments_ > 0; }

  bool IsCorrect(std::string_view word);
  std::vector<std::string> Suggest(std::string_view word);
  // False when the identifier names no open user dictionary, the word is empty, longer than
  // kMaxWordLength or holds a character the dictionaries cannot store, the dictionary is full,
  // or the file cannot be written (then LastResult() tells why and nothing is added).
  bool AddWord(std::string_view word, int identifier);

  // The outcome of the last file operation (ecOK, or why it failed).
  Result LastResult() const { return lastResult_; }
  // A sentence on the last failure to open or write a dictionary where the result code says
  // too little (a file too large to be one, why a file cannot be replaced); may be empty.
  const std::string &LastProblem() const { return lastProblem_; }

 private:
  struct Dictionary {
    TrieSegment trie;
    bool user = false;
    int id = -1;
    std::string path;
    std::string intro;
  };

  void ensureMain();
  void refreshUsers();
  bool reloadUser(Dictionary &d);
  bool known(const std::string &upper) const;
  static bool lookup(const TrieSegment &t, std::string_view upper);
  int nextId();

  std::vector<Dictionary> chain_;
  int mainSegments_ = 0;
  bool defaultTried_ = false;
  int maxSuggestions_ = 10;
  int idCounter_ = 0;
  Result lastResult_ = ecOK;
  std::string lastProblem_;
};

}  // namespace kv::spell
