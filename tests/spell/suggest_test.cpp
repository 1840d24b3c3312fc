// The sound key, the similarity score, the suggestions with their order and capitals, and
// korvane-fax spell on a text.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/command.h"
#include "spell/phonetic.h"
#include "spell/vizuv_spell.h"
#include "spell_support.h"

namespace kv::spell {
namespace {

using test::TempDir;

TEST(Phonetic, KeysAndScores) {
  using namespace std::string_literals;
  struct Key {
    const char *text, *target;
    bool pad;
    std::string key;
  } keys[] = {
      {"ROBERT", "", true, "R\x01\x06\x03"s},
      {"RUPERT", "", true, "R\x01\x06\x03"s},
      {"ASHCRAFT", "", true, "A\x02\x06\x01"s},  // H dropped, C repeats S's class
      {"SCHOOLS", "", true, "S\x02\x04\x00"s},   // the last S repeats C's class
      {"TEH", "", true, "T\x00\x00\x00"s},
      {"TEH", "T\x02\x01\x06", false, "T\x02\x01\x06"s},
      {"REC", "R\x02\x01\x00", false, "R\x02\x01\x00"s},
      {"O'NEIL", "", true, "O\x07\x05\x04"s},
      {"B0B7", "", true, "BO\x01I"s},        // digits 0 and 7 become letters
      {"HAL2", "", true, "H\x04\x00\x00"s},  // 2 sounds like L
      {"\xC7"
       "A\xC7"
       "E",
       "", true, "\xC7\x02\x00\x00"s},
  };
  for (const Key &k : keys) EXPECT_EQ(PhoneticKey(k.text, k.target, k.pad), k.key) << k.text;

  struct Score {
    const char *a, *b;
    int score;
  } scores[] = {
      {"RECEIVE", "RECIEVE", 85},  // REC, then VE, then E left of it: 6 letters of 14
      {"TH", "TEH", 80},          {"THE", "TEH", 66}, {"ABC", "ABC", 100},
      {"ABC", "XYZ", 0},          {"", "", 0},        {"A", "ABCD", 40},
  };
  for (const Score &s : scores) EXPECT_EQ(Similarity(s.a, s.b), s.score) << s.a << " " << s.b;
}

class Suggestions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(spell.Open(test::writeMainDictionary(
        dir, {"receive", "received", "receiver", "recipe", "relieve", "deceive", "the",   "tea",
              "ten",     "the",      "letter",   "better", "setter",  "cover",   "sheet", "page",
              "pages",   "pageant",  "apple",    "pie",    "fax",     "faxes",   "office"})));
  }
  TempDir dir;
  TVizuvSpell spell;
};

TEST_F(Suggestions, BestFirstWithTheWordsCapitals) {
  using V = std::vector<std::string>;
  EXPECT_EQ(spell.Suggest("recieve").front(), "receive");
  EXPECT_EQ(spell.Suggest("Recieve").front(), "Receive");
  EXPECT_EQ(spell.Suggest("RECIEVE").front(), "RECEIVE");
  EXPECT_EQ(spell.Suggest("ReCieve").front(), "ReCeive");
  EXPECT_EQ(spell.Suggest("Applepie").front(), "Apple pie") << "two words run together";
  spell.SetMaxSuggestions(2);
  EXPECT_EQ(spell.Suggest("recieve"), (V{"receive", "received"}));
  spell.SetMaxSuggestions(500);
  EXPECT_EQ(spell.MaxSuggestions(), 220);
  // Equal scores keep the order found: letters tried for L are K then L.
  spell.SetMaxSuggestions(10);
  V l = spell.Suggest("lettre");
  ASSERT_GE(l.size(), 1u);
  EXPECT_EQ(l.front(), "letter");
}

TEST_F(Suggestions, CheckRules) {
  EXPECT_TRUE(spell.IsCorrect("q")) << "one letter";
  EXPECT_TRUE(spell.IsCorrect(""));
  EXPECT_TRUE(spell.IsCorrect("office's"));
  EXPECT_TRUE(spell.IsCorrect("OFFICE'S"));
  EXPECT_FALSE(spell.IsCorrect("offices"));
  EXPECT_FALSE(spell.IsCorrect("office'd"));
  // A 30-letter word is cut to 25 before suggestions, and cannot be added.
  const std::string longWord = "pageantpageantpageantpagexx";
  int id = spell.CreateUser(dir.file("u.dct"), {});
  EXPECT_FALSE(spell.AddWord(longWord + "abc", id));
  for (const std::string &s : spell.Suggest(longWord + "abc")) EXPECT_LE(s.size(), 26u) << s;
}

TEST(SpellCommand, PrintsLinesWithSuggestionsAndExitCode) {
  TempDir dir;
  const std::string dict = test::writeMainDictionary(dir, {"receive", "the", "fax", "today"});
  test::writeFile(dir.file("a.txt"), "the fax\nPlease recieve\nthe fax 2nd todya.\n");
  test::writeFile(dir.file("b.txt"), "The fax, today.\n");
  auto run = [&](std::vector<std::string> args, std::string &out) {
    std::ostringstream o, e;
    cli::Context ctx{o, e};
    args.insert(args.begin(), {"spell", "--dict", dict});
    int rc = cli::runTool(args, ctx);
    out = o.str();
    return rc;
  };
  std::string out;
  EXPECT_EQ(run({dir.file("a.txt")}, out), 1);
  EXPECT_EQ(out, "2:Please:\n2:recieve: receive, the\n3:todya: today, the\n");
  EXPECT_EQ(run({"--suggest", "1", dir.file("a.txt")}, out), 1);
  EXPECT_EQ(out, "2:Please:\n2:recieve: receive\n3:todya: today\n");
  EXPECT_EQ(run({"--suggest", "0", dir.file("a.txt")}, out), 1);
  EXPECT_EQ(out, "2:Please:\n2:recieve:\n3:todya:\n");
  EXPECT_EQ(run({dir.file("b.txt")}, out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(run({dir.file("none.txt")}, out), 1);
  EXPECT_EQ(run({"--suggest", "x", dir.file("b.txt")}, out), 2);
}

// A text in UTF-16 (either byte order) or with a UTF-8 mark is checked word by word like the
// same text in UTF-8; bytes that are not text are refused with the reason, never passed.
TEST(SpellCommand, ReadsTextAfterItsByteOrderMark) {
  TempDir dir;
  const std::string dict = test::writeMainDictionary(dir, {"receive", "the", "fax", "today"});
  const std::u16string words = u"the fax\nPlease recieve today\n";
  auto utf16 = [&](bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : words) {
      const char hi = char(c >> 8), lo = char(c & 0xFF);
      bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
  };
  struct Case {
    const char *what;
    std::string bytes;
    int code;
    const char *out, *err;
  } cases[] = {
      {"UTF-16LE", utf16(false), 1, "2:Please:\n2:recieve: receive, the\n", ""},
      {"UTF-16BE", utf16(true), 1, "2:Please:\n2:recieve: receive, the\n", ""},
      {"UTF-8 with its mark", "\xEF\xBB\xBFthe fax\nPlease recieve today\n", 1,
       "2:Please:\n2:recieve: receive, the\n", ""},
      {"UTF-16 with an odd byte", utf16(false) + "x", 1, "", "is not valid UTF-16 (little-endian)"},
      {"UTF-16 with a lone surrogate",
       std::string("\xFF\xFEt\0\0\xDC"
                   "a\0",
                   8),
       1, "", "is not valid UTF-16 (little-endian)"},
      {"UTF-16 without its mark", utf16(false).substr(2), 1, "", "holds NUL bytes"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    test::writeFile(dir.file("in.txt"), c.bytes);
    std::ostringstream o, e;
    cli::Context ctx{o, e};
    std::vector<std::string> args{"spell", "--dict", dict, "--suggest", "2", dir.file("in.txt")};
    EXPECT_EQ(cli::runTool(args, ctx), c.code);
    EXPECT_EQ(o.str(), c.out);
    EXPECT_NE(e.str().find(c.err), std::string::npos) << e.str();
  }
}

// Every file read is bounded by what its format can hold: an endless or huge dictionary, user
// dictionary or text is refused naming the file and the limit, not read until memory runs out.
TEST(SpellCommand, FilesLargerThanTheirFormatAreRefused) {
  TempDir dir;
  const std::string dict = test::writeMainDictionary(dir, {"the", "fax"});
  test::writeFile(dir.file("a.txt"), "the fax\n");
  const std::string huge = dir.file("huge.txt");
  test::writeFile(huge, "");
  std::filesystem::resize_file(huge, std::uintmax_t{65} << 20);
  struct Case {
    std::vector<std::string> args;
    const char *err;
  } cases[] = {
      {{"--dict", "/dev/zero", dir.file("a.txt")},
       "/dev/zero holds more than 16 MiB, more than any main dictionary"},
      {{"--dict", huge, dir.file("a.txt")}, " holds more than 16 MiB, more than any main"},
      {{"--dict", dict, "--user", "/dev/zero", dir.file("a.txt")},
       "/dev/zero holds more than 1 MiB, more than any user dictionary"},
      {{"--dict", dict, huge}, "huge.txt: it holds more than 64 MiB"},
      {{"--dict", dict, "/dev/zero"}, "/dev/zero: it holds more than 64 MiB"},
  };
  for (const Case &c : cases) {
    std::ostringstream o, e;
    cli::Context ctx{o, e};
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "spell");
    EXPECT_EQ(cli::runTool(args, ctx), 1) << c.err;
    EXPECT_NE(e.str().find(c.err), std::string::npos) << e.str();
  }
}

// RTF from a word processor goes through the rich-text reader: the same words on the same lines
// as the text the word processor saved of it.
TEST(SpellCommand, ReadsRtfLikeItsText) {
  auto run = [](const std::string &file) {
    std::ostringstream o, e;
    cli::Context ctx{o, e};
    std::vector<std::string> args = {
        "spell",     "--dict", test::builtDictionary(),
        "--suggest", "3",      std::string(KORVANE_TESTDATA) + "/rtf/" + file};
    EXPECT_EQ(cli::runTool(args, ctx), 1) << e.str();
    return o.str();
  };
  const std::string fromRtf = run("letter.lo.rtf");
  EXPECT_EQ(fromRtf, run("letter.lo.txt"));
  EXPECT_NE(fromRtf.find("6:Lanternfield: Lantern field, "), std::string::npos) << fromRtf;
}

TEST(BuiltDictionary, KnowsNamesPlacesAndBusinessWords) {
  TVizuvSpell spell;
  ASSERT_TRUE(spell.Open(test::builtDictionary()));
  for (const char *w : {"January", "Monday", "Boston", "Smith", "fax", "invoice", "company's"})
    EXPECT_TRUE(spell.IsCorrect(w)) << w;
  EXPECT_FALSE(spell.IsCorrect("recieve"));
  EXPECT_EQ(spell.Suggest("recieve").front(), "receive");
}

}  // namespace
}  // namespace kv::spell
