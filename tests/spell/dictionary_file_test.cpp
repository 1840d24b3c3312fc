// Dictionary files: tries written and read back across segments, the layout of a new user
// dictionary, and files that claim more than they hold.
#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "spell/vizuv_spell.h"
#include "spell_support.h"

namespace kv::spell {
namespace {

using test::TempDir;

const std::vector<std::string> kWords = {"fax",    "faxes",   "facsimile", "modem", "mode",
                                         "model",  "page",    "pages",     "cover", "covers",
                                         "sheet",  "O'Neil",  "Z\xFCrich", "x-ray", "receive",
                                         "recipe", "receipt", "re",        "zoo",   "abacus"};

TEST(DictionaryFile, WordsReadBackFromEverySegment) {
  TempDir dir;
  for (std::uint32_t maxNodes : {kMaxCapacity, 12u}) {
    SCOPED_TRACE(maxNodes);
    DictionaryImage image = test::mainDictionary(kWords, maxNodes);
    if (maxNodes == 12) {
      EXPECT_GT(image.segments.size(), 4u);
    }
    const std::string path = dir.file("d" + std::to_string(maxNodes) + ".dct");
    test::writeBytes(path, encodeDictionary(image));

    DictionaryImage back;
    ASSERT_EQ(readDictionaryFile(path, back), ecOK);
    ASSERT_EQ(back.segments.size(), image.segments.size());
    for (const TrieSegment &s : back.segments) EXPECT_LE(s.used(), maxNodes);

    TVizuvSpell spell;
    ASSERT_TRUE(spell.Open(path));
    EXPECT_FALSE(spell.Open(path)) << "a second main dictionary";
    for (const std::string &w : kWords) {
      EXPECT_TRUE(spell.IsCorrect(w)) << w;
      EXPECT_TRUE(spell.IsCorrect(upperWord(w))) << w;
    }
    for (const char *w : {"fa", "faxe", "modems", "cove", "rec", "sheets", "zo"})
      EXPECT_FALSE(spell.IsCorrect(w)) << w;
  }
}

TEST(DictionaryFile, NewUserDictionaryLayout) {
  DictionaryImage image = newUserDictionary();
  std::vector<std::uint8_t> bytes = encodeDictionary(image);
  const std::size_t at = image.intro.size();
  ASSERT_EQ(bytes.size(), at + kHeaderSize + 500 * kNodeSize);
  EXPECT_EQ(image.intro.rfind("USER DICTIONARY\r\n", 0), 0u);
  EXPECT_EQ(bytes[at - 1], kIntroEnd);
  EXPECT_EQ(decodeHeader(bytes.data() + at), (DictHeader{1, 500, 1, 0, std::uint32_t(at)}));
  const std::uint8_t *node = bytes.data() + at + kHeaderSize;
  EXPECT_EQ(getLe16(node), 0);
  EXPECT_EQ(node[2], 0xC0);  // "A", last sibling, word end
  for (int n = 2; n <= 500; ++n) {
    node += kNodeSize;
    ASSERT_EQ(getLe16(node), kFreeChild);
    ASSERT_EQ(node[2], 0xC0);
  }
}

TEST(DictionaryFile, DamagedFilesAreRefused) {
  DictionaryImage image = test::mainDictionary({"abc", "abd", "xyz"}, kMaxCapacity);
  const std::vector<std::uint8_t> good = encodeDictionary(image);
  const std::size_t h = image.intro.size(), nodes = h + kHeaderSize;
  DictionaryImage out;
  ASSERT_EQ(parseDictionary(good, out), ecOK);

  struct Case {
    const char *what;
    std::function<void(std::vector<std::uint8_t> &)> damage;
  };
  const Case cases[] = {
      {"no end of the text", [&](auto &b) { b.erase(b.begin() + h - 1); }},
      {"nodes beyond the file", [&](auto &b) { b.resize(b.size() - 1); }},
      {"more nodes in use than capacity", [&](auto &b) { putLe32(&b[h], getLe32(&b[h + 4]) + 1); }},
      {"capacity past the format", [&](auto &b) { putLe32(&b[h + 4], 70000); }},
      {"header offset elsewhere", [&](auto &b) { putLe32(&b[h + 13], 3); }},
      {"child beyond the nodes", [&](auto &b) { putLe16(&b[nodes], 9999); }},
      {"child pointing back", [&](auto &b) { putLe16(&b[nodes + 3 * kNodeSize], 1); }},
      {"group without an end",
       [&](auto &b) {
         for (std::size_t i = nodes + 2; i < b.size(); i += 3) b[i] &= ~kLastSibling;
       }},
      {"a further segment cut short",
       [&](auto &b) {
         std::vector<std::uint8_t> more(kHeaderSize + 9, 0);
         putLe32(&more[0], 3), putLe32(&more[4], 3), more[12] = 1;
         putLe32(&more[13], static_cast<std::uint32_t>(b.size()));
         b.insert(b.end(), more.begin(), more.end() - 1);
       }},
  };
  for (const Case &c : cases) {
    std::vector<std::uint8_t> bad = good;
    c.damage(bad);
    EXPECT_EQ(parseDictionary(bad, out), ecDataError) << c.what;
  }
}

TEST(DictionaryFile, OpenRefusesUserAndMissingFiles) {
  TempDir dir;
  TVizuvSpell spell;
  EXPECT_FALSE(spell.Open(dir.file("none.dct")));
  EXPECT_EQ(spell.LastResult(), ecFileNotFound);
  ASSERT_GE(spell.CreateUser(dir.file("user.dct"), {}), 0);
  EXPECT_FALSE(spell.Open(dir.file("user.dct")));
  EXPECT_LT(spell.OpenUser(test::writeMainDictionary(dir, {"abc"})), 0);
}

}  // namespace
}  // namespace kv::spell
