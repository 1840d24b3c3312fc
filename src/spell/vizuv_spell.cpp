#include "spell/vizuv_spell.h"

#include <algorithm>

#include "spell/phonetic.h"
#include "spell/spell_chars.h"

namespace kv::spell {

namespace {

// A user dictionary refuses a word once its nodes would pass this.
constexpr std::uint32_t kUserNodeLimit = 63999;
// User dictionary files grow by this many nodes at a time.
constexpr std::uint32_t kUserGrowth = 500;

// First letters a misspelt word may really begin with, given the one it begins with.
std::string lettersToTry(std::uint8_t first) {
  auto range = [](int from, int to) {
    std::string s;
    for (int c = from; c <= to; ++c) s += static_cast<char>(c);
    return s;
  };
  auto is = [&](int from, int to) { return first >= from && first <= to; };
  if (first == 'A' || is(0xC0, 0xC6)) return "EDA" + range(0xC0, 0xC6);
  if (first == 'B' || first == 0xDF) return "PVNB\xDF";
  if (first == 'C' || first == 0x8C || first == 0xC7) return "SXVC\xC7\x8C";
  if (first == 'D' || first == 0xD0) return "FD\xD0";
  if (first == 'E' || is(0xC8, 0xCB)) return "IWRE" + range(0xC8, 0xCF);
  if (first == 'I' || is(0xCC, 0xCF)) return "EOUI" + range(0xC8, 0xCF);
  if (first == 'M') return "NM\xD1";
  if (first == 'N' || first == 0xD1) return "MBN\xD1";
  if (first == 'O' || is(0xD2, 0xD6)) return "PIO" + range(0xD2, 0xD6) + range(0xCC, 0xCF);
  if (first == 'P' || first == 0xDE) return "BOP\xDE";
  if (first == 'S') return "ACDS\x8A\x8C";
  if (first == 'U' || is(0xD9, 0xDC)) return "YIU" + range(0xD9, 0xDC);
  if (first == 'V') return "BCV\xC7\x8C";
  if (first == 'Y' || first == 0x9F || first == 0xDD) return "TUY\x9F\xDD";
  switch (first) {
    case 'F':
      return "DGF";
    case 'G':
      return "JG";
    case 'H':
      return "JGH";
    case 'J':
      return "GJ";
    case 'K':
      return "CLJK";
    case 'L':
      return "KL";
    case 'Q':
      return "WQ";
    case 'R':
      return "ETR";
    case 'T':
      return "YRT";
    case 'W':
      return "QEW";
    case 'X':
      return "CZX";
    case 'Z':
      return "XZ";
    default:
      return std::string(1, static_cast<char>(first));
  }
}

bool storable(std::string_view upper) {
  for (char ch : upper) {
    auto c = static_cast<std::uint8_t>(ch);
    if (codeLetter(letterCode(c)) != c) return false;
  }
  return true;
}

// Inserts a word (letter codes) into a user trie: shared prefixes are followed, a missing letter
// becomes the first node of its group, and the rest of the word is appended as a chain.
void insertWord(TrieSegment &t, std::string_view codes) {
  auto appendChain = [&](std::size_t from) {
    auto first = static_cast<std::uint16_t>(t.used() + 1);
    for (std::size_t i = from; i < codes.size(); ++i) {
      TrieNode node{0, static_cast<std::uint8_t>(codes[i] | kLastSibling)};
      if (i + 1 < codes.size())
        node.child = static_cast<std::uint16_t>(t.used() + 2);
      else
        node.flags |= kWordEnd;
      t.nodes.push_back(node);
    }
    return first;
  };
  if (t.used() == 0) {
    appendChain(0);
    return;
  }
  std::uint32_t group = 1;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const bool lastLetter = i + 1 == codes.size();
    for (std::uint32_t n = group;; ++n) {
      TrieNode &node = t.nodes[n];
      if (node.code() == static_cast<std::uint8_t>(codes[i])) {
        if (lastLetter) {
          node.flags |= kWordEnd;
          return;
        }
        if (node.child == 0) {
          std::uint16_t chain = appendChain(i + 1);
          t.nodes[n].child = chain;
          return;
        }
        group = node.child;
        break;
      }
      if (node.last()) {
        t.nodes.insert(t.nodes.begin() + group, TrieNode{0, static_cast<std::uint8_t>(codes[i])});
        for (std::uint32_t k = 1; k <= t.used(); ++k)
          if (t.nodes[k].child > group) ++t.nodes[k].child;
        if (lastLetter) {
          t.nodes[group].flags |= kWordEnd;
        } else {
          std::uint16_t chain = appendChain(i + 1);
          t.nodes[group].child = chain;
        }
        return;
      }
    }
  }
}

std::string codesOf(std::string_view upper) {
  std::string codes(upper);
  for (char &c : codes) c = static_cast<char>(letterCode(static_cast<std::uint8_t>(c)));
  return codes;
}

}  // namespace

void TVizuvSpell::SetMaxSuggestions(int n) {
  maxSuggestions_ = std::clamp(n, 0, 220);
}

int TVizuvSpell::nextId() {
  int id = idCounter_;
  idCounter_ = idCounter_ >= 65534 ? 0 : idCounter_ + 1;
  return id;
}

bool TVizuvSpell::Open(const std::string &file) {
  if (mainSegments_ > 0) return false;
  DictionaryImage image;
  lastProblem_.clear();
  lastResult_ = readDictionaryFile(file, image, false, &lastProblem_);
  if (lastResult_ < 0) return false;
  if (image.isUser()) {
    lastResult_ = ecDataError;
    return false;
  }
  std::vector<Dictionary> mains;
  for (TrieSegment &seg : image.segments)
    mains.push_back(Dictionary{std::move(seg), false, -1, file, {}});
  chain_.insert(chain_.begin(), std::make_move_iterator(mains.begin()),
                std::make_move_iterator(mains.end()));
  mainSegments_ = static_cast<int>(mains.size());
  DictionaryName = file;
  return true;
}

int TVizuvSpell::OpenUser(const std::string &file) {
  DictionaryImage image;
  lastProblem_.clear();
  lastResult_ = readDictionaryFile(file, image, true, &lastProblem_);
  if (lastResult_ < 0) return -1;
  if (!image.isUser()) {
    lastResult_ = ecDataError;
    return -1;
  }
  int id = nextId();
  chain_.push_back(Dictionary{std::move(image.segments.front()), true, id, file, image.intro});
  return id;
}

int TVizuvSpell::CreateUser(const std::string &file, const std::vector<std::string> &words) {
  DictionaryImage image = newUserDictionary();
  TrieSegment &t = image.segments.front();
  for (const std::string &w : words) {
    std::string up = upperWord(w);
    if (up.empty() || up.size() > kMaxWordLength || !storable(up) || lookup(t, up) ||
        t.used() + up.size() > kUserNodeLimit)
      continue;
    insertWord(t, codesOf(up));
    ++t.header.words;
  }
  if (t.used() > t.header.capacity)
    t.header.capacity =
        std::min(kMaxCapacity, (t.used() + kUserGrowth - 1) / kUserGrowth * kUserGrowth);
  lastProblem_.clear();
  lastResult_ = writeFileReplacing(file, encodeDictionary(image), &lastProblem_);
  if (lastResult_ < 0) return -1;
  return OpenUser(file);
}

void TVizuvSpell::Close() {
  chain_.clear();
  mainSegments_ = 0;
  defaultTried_ = false;
}

void TVizuvSpell::ensureMain() {
  if (mainSegments_ > 0 || defaultTried_) return;
  defaultTried_ = true;
  Open(DictionaryName);
}

bool TVizuvSpell::reloadUser(Dictionary &d) {
  DictionaryImage image;
  if (readDictionaryFile(d.path, image, true) < 0 || !image.isUser()) return false;
  d.trie = std::move(image.segments.front());
  d.intro = std::move(image.intro);
  return true;
}

// Another program (or another window) may have added words since the file was read.
void TVizuvSpell::refreshUsers() {
  for (Dictionary &d : chain_) {
    if (!d.user) continue;
    DictHeader h;
    if (readHeaderAt(d.path, d.trie.header.offset, h) == ecOK && !(h == d.trie.header))
      reloadUser(d);
  }
}

bool TVizuvSpell::lookup(const TrieSegment &t, std::string_view upper) {
  if (t.used() == 0 || upper.empty()) return false;
  std::size_t i = 0;
  for (std::uint32_t n = 1;;) {
    const TrieNode &node = t.nodes[n];
    if (node.code() == letterCode(static_cast<std::uint8_t>(upper[i]))) {
      if (i + 1 == upper.size()) {
        if (node.wordEnd()) return true;
      } else if (node.child != 0) {
        n = node.child;
        ++i;
        continue;
      }
    }
    if (node.last()) return false;
    ++n;
  }
}

bool TVizuvSpell::known(const std::string &upper) const {
  if (upper.size() <= 1) return true;
  for (const Dictionary &d : chain_)
    if (lookup(d.trie, upper)) return true;
  if (upper.size() >= 2 && upper.compare(upper.size() - 2, 2, "'S") == 0) {
    std::string stem = upper.substr(0, upper.size() - 2);
    if (stem.size() <= 1) return true;
    for (const Dictionary &d : chain_)
      if (lookup(d.trie, stem)) return true;
  }
  return false;
}

bool TVizuvSpell::IsCorrect(std::string_view word) {
  ensureMain();
  refreshUsers();
  return known(upperWord(word));
}

namespace {

// Candidates ranked by falling score; equal scores keep the order they were found in.
class Ranking {
 public:
  Ranking(std::string word, int limit) : word_(std::move(word)), limit_(limit) {}

  void offer(const std::string &candidate) {
    if (limit_ <= 0) return;
    for (const auto &e : list_)
      if (e.second == candidate) return;
    std::string bare;
    for (char c : candidate)
      if (c != '\'') bare += c;
    int score = Similarity(bare, word_);
    auto at =
        std::find_if(list_.begin(), list_.end(), [&](const auto &e) { return e.first < score; });
    if (at == list_.end() && static_cast<int>(list_.size()) >= limit_) return;
    list_.insert(at, {score, candidate});
    if (static_cast<int>(list_.size()) > limit_) list_.pop_back();
  }

  std::vector<std::string> words() const {
    std::vector<std::string> out;
    for (const auto &e : list_) out.push_back(e.second);
    return out;
  }

 private:
  std::string word_;
  int limit_;
  std::vector<std::pair<int, std::string>> list_;
};

// Walks a group and, below it, every subtree whose prefix can still sound like the word.
void walk(const TrieSegment &t, std::uint32_t group, std::string &prefix, const std::string &key,
          Ranking &ranking) {
  for (std::uint32_t n = group;; ++n) {
    const TrieNode &node = t.nodes[n];
    const char letter = static_cast<char>(codeLetter(node.code()));
    if (node.wordEnd()) ranking.offer(prefix + letter);
    if (node.child != 0) {
      prefix.push_back(letter);
      if (PhoneticKey(prefix, key, false) == key) walk(t, node.child, prefix, key, ranking);
      prefix.pop_back();
    }
    if (node.last()) return;
  }
}

// Gives the candidate the capitals of the word as the user wrote it.
std::string withCapitalsOf(const std::string &kept, bool keptHasSmall, std::string candidate) {
  if (!keptHasSmall) return candidate;  // found in capitals already
  for (char &c : candidate) c = static_cast<char>(lowerChar(static_cast<std::uint8_t>(c)));
  std::size_t j = 0;
  for (char k : kept) {
    if (!isLetter(static_cast<std::uint8_t>(k))) continue;
    while (j < candidate.size() && !isLetter(static_cast<std::uint8_t>(candidate[j]))) ++j;
    if (j == candidate.size()) break;
    if (isCapital(static_cast<std::uint8_t>(k)))
      candidate[j] = static_cast<char>(upperChar(static_cast<std::uint8_t>(candidate[j])));
    ++j;
  }
  return candidate;
}

}  // namespace

std::vector<std::string> TVizuvSpell::Suggest(std::string_view input) {
  ensureMain();
  refreshUsers();
  const std::string kept(input.substr(0, kMaxWordLength));
  const std::string word = upperWord(kept);
  if (word.empty()) return {};
  Ranking ranking(word, maxSuggestions_);

  std::string key = PhoneticKey(word, {}, true);
  std::string prefix;
  for (char first : lettersToTry(static_cast<std::uint8_t>(word[0]))) {
    key[0] = first;
    for (const Dictionary &d : chain_)
      if (d.trie.used() > 0) walk(d.trie, 1, prefix, key, ranking);
  }

  const auto edgeVowel = [](char c) { return c == 'A' || c == 'I'; };
  const std::size_t from = edgeVowel(word.front()) ? 1 : 2;
  const std::size_t to = edgeVowel(word.back()) ? word.size() - 1 : word.size() - 2;
  for (std::size_t d = from; d <= to && to < word.size(); ++d) {
    std::string left = word.substr(0, d), right = word.substr(d);
    if (known(left) && known(right)) ranking.offer(left + " " + right);
  }

  bool keptHasSmall = std::any_of(kept.begin(), kept.end(),
                                  [](char c) { return isSmall(static_cast<std::uint8_t>(c)); });
  std::vector<std::string> out = ranking.words();
  for (std::string &s : out) s = withCapitalsOf(kept, keptHasSmall, std::move(s));
  return out;
}

bool TVizuvSpell::AddWord(std::string_view word, int identifier) {
  lastResult_ = ecOK;
  auto d = std::find_if(chain_.begin(), chain_.end(),
                        [&](const Dictionary &x) { return x.user && x.id == identifier; });
  if (identifier < 0 || d == chain_.end()) return false;
  const std::string up = upperWord(word);
  if (up.empty() || up.size() > kMaxWordLength || !storable(up)) return false;
  DictHeader h;
  if (readHeaderAt(d->path, d->trie.header.offset, h) == ecOK && !(h == d->trie.header))
    reloadUser(*d);
  if (lookup(d->trie, up)) return true;
  if (d->trie.used() + up.size() > kUserNodeLimit) return false;

  DictionaryImage image{d->intro, {d->trie}};
  TrieSegment &t = image.segments.front();
  insertWord(t, codesOf(up));
  ++t.header.words;
  if (t.used() > t.header.capacity)
    t.header.capacity =
        std::min(kMaxCapacity, (t.used() + kUserGrowth - 1) / kUserGrowth * kUserGrowth);
  lastProblem_.clear();
  lastResult_ = writeFileReplacing(d->path, encodeDictionary(image), &lastProblem_);
  if (lastResult_ < 0) return false;
  d->trie = std::move(t);
  return true;
}

}  // namespace kv::spell
