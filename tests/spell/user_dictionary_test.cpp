// User dictionaries: words added in any order read back from the file, another instance's words
// are seen, and full, too long or unwritable cases add nothing and lose nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "spell/vizuv_spell.h"
#include "spell_support.h"

namespace kv::spell {
namespace {

using test::TempDir;

TEST(UserDictionary, AddedWordsReadBackFromTheFile) {
  TempDir dir;
  const std::string path = dir.file("krvu.dct");
  // Inserting before a group's first node moves every later node; these words do that often.
  const std::vector<std::string> words = {"zeta", "korvane",  "acme",  "zebra", "Acmes",
                                          "b",    "bz",       "ba",    "kor",   "korvanes",
                                          "Qwix", "Ångström", "abc'd", "y-z",   "aa"};
  {
    TVizuvSpell spell;
    int id = spell.CreateUser(path, {"first", "fir"});
    ASSERT_EQ(id, 0);
    for (std::string w : words) {
      if (w == "Ångström") w = "\xC5ngstr\xF6m";
      EXPECT_TRUE(spell.AddWord(w, id)) << w;
    }
    EXPECT_FALSE(spell.AddWord("x", id + 1)) << "no such dictionary";
    EXPECT_FALSE(spell.AddWord("x", -1));
    EXPECT_FALSE(spell.AddWord("ab\x7F", id)) << "a character the alphabet has no code for";
  }
  DictionaryImage back;
  ASSERT_EQ(readDictionaryFile(path, back), ecOK);
  ASSERT_TRUE(back.isUser());
  EXPECT_EQ(back.segments[0].header.words, 1 + 2 + words.size());

  TVizuvSpell spell;
  ASSERT_EQ(spell.OpenUser(path), 0);
  for (std::string w : words) {
    if (w == "Ångström") w = "\xC5ngstr\xF6m";
    EXPECT_TRUE(spell.IsCorrect(w)) << w;
  }
  for (const char *w : {"first", "fir", "FIRST"}) EXPECT_TRUE(spell.IsCorrect(w));
  for (const char *w : {"fi", "zet", "korva", "acm", "bzz", "abc"})
    EXPECT_FALSE(spell.IsCorrect(w)) << w;
}

TEST(UserDictionary, AnotherInstancesWordsAreSeen) {
  TempDir dir;
  const std::string path = dir.file("krvu.dct");
  TVizuvSpell a, b;
  int ida = a.CreateUser(path, {});
  int idb = b.OpenUser(path);
  ASSERT_GE(ida, 0);
  ASSERT_GE(idb, 0);
  EXPECT_FALSE(b.IsCorrect("telefax"));
  ASSERT_TRUE(a.AddWord("telefax", ida));
  EXPECT_TRUE(b.IsCorrect("telefax"));
  ASSERT_TRUE(b.AddWord("telecopier", idb));
  EXPECT_TRUE(a.IsCorrect("telecopier"));
  EXPECT_TRUE(a.IsCorrect("telefax"));
}

TEST(UserDictionary, FullTooLongAndUnwritableAddNothing) {
  TempDir dir;
  const std::string path = dir.file("krvu.dct");
  // A user dictionary about ten nodes short of the limit: four-letter words, taken in order
  // until a segment is full.
  std::vector<std::string> codes;
  for (int i = 0; i < 26 * 26 * 26 * 26; ++i)
    codes.push_back({char(i / 17576), char(i / 676 % 26), char(i / 26 % 26), char(i % 26)});
  DictionaryImage image;
  image.intro = userIntro();
  image.segments = buildSegments(codes, 0, 63990);
  image.segments.resize(1);
  const std::uint32_t used = image.segments[0].used();
  ASSERT_GE(used, 63987u);
  test::writeBytes(path, encodeDictionary(image));

  TVizuvSpell spell;
  int id = spell.OpenUser(path);
  ASSERT_GE(id, 0);
  const std::string before = test::readFile(path);
  EXPECT_FALSE(spell.AddWord("qwertyuiopas", id)) << "would pass 63999 nodes";
  EXPECT_FALSE(spell.AddWord(std::string(26, 'q'), id)) << "longer than 25 letters";
  EXPECT_EQ(test::readFile(path), before);

  // A file that cannot be replaced (here a directory has taken its place) stays as it was,
  // and the failure is told.
  std::filesystem::rename(path, path + ".kept");
  std::filesystem::create_directory(path);
  EXPECT_FALSE(spell.AddWord("blockd", id));
  EXPECT_LT(spell.LastResult(), 0);
  EXPECT_NE(spell.LastProblem().find("it is a directory"), std::string::npos)
      << spell.LastProblem();
  EXPECT_FALSE(spell.IsCorrect("blockd"));
  EXPECT_TRUE(std::filesystem::is_empty(path));
  std::filesystem::remove(path);
  std::filesystem::rename(path + ".kept", path);
  EXPECT_EQ(test::readFile(path), before);

  EXPECT_TRUE(spell.AddWord("zzzzzq", id)) << "six nodes still fit";
  EXPECT_TRUE(spell.IsCorrect("zzzzzq"));
  EXPECT_TRUE(spell.IsCorrect("aaaz"));
}

TEST(UserDictionary, IdentifiersCountUp) {
  TempDir dir;
  TVizuvSpell spell;
  EXPECT_EQ(spell.CreateUser(dir.file("a.dct"), {}), 0);
  EXPECT_EQ(spell.CreateUser(dir.file("b.dct"), {}), 1);
  EXPECT_EQ(spell.OpenUser(dir.file("a.dct")), 2);
  EXPECT_EQ(spell.OpenUser(dir.file("missing.dct")), -1);
  EXPECT_EQ(spell.CreateUser(dir.file("no/such/dir.dct"), {}), -1);
}

}  // namespace
}  // namespace kv::spell
