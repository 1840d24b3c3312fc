// Numbers and dial prefixes as the modem gets them: what is dialled, and what is refused with
// which reason. A refused text must never turn into a modem command.
#include <gtest/gtest.h>

#include "base/dial_string.h"

namespace kv {
namespace {

TEST(DialString, NumbersWrittenTheUsualWayDialTheirDigitsAndModifiers) {
  struct Case {
    const char *typed, *international, *dialled;
    bool plusDropped;
  } cases[] = {
      {"5551234", "", "5551234", false},
      {"  555 1234  ", "", "5551234", false},
      {"+1 (555) 014-2", "", "15550142", true},
      {"+1 (555) 014-2", "011", "01115550142", false},
      {"(+44) 20.7946/0000", "00", "00442079460000", false},
      {"9w555,,1234", "", "9W555,,1234", false},
      {"*70,555#1234", "", "*70,555#1234", false},
      {"P555!T1@2", "", "P555!T1@2", false},
  };
  for (const Case &c : cases) {
    DialString d;
    std::string reason;
    ASSERT_EQ(DialString::parse(c.typed, d, reason, c.international), ecOK) << c.typed << reason;
    EXPECT_EQ(d.dialled(), c.dialled) << c.typed;
    EXPECT_EQ(d.typed(), c.typed);
    EXPECT_EQ(d.plusDropped(), c.plusDropped) << c.typed;
  }
}

TEST(DialString, AnythingElseIsRefusedNamingTheCharacter) {
  struct Case {
    std::string typed;
    const char *named;
  } cases[] = {
      {"555\rATZ;", "a carriage return (character 4)"},
      {"555\nATH", "a line feed (character 4)"},
      {"555;ATZ", "';' (character 4)"},
      {"555\x1b[2J", "the control byte 0x1B (character 4)"},
      {std::string("555\0", 4) + "1", "the control byte 0x00 (character 4)"},
      {"1-800-FLOWERS", "the letter 'F' (character 7)"},
      {"555 S=1", "the letter 'S' (character 5)"},
      {"555\tb", "a tab (character 4)"},
      {"55\xC3\xA9", "the character \"\xC3\xA9\" (U+00E9) (character 3)"},
      {"55\xC2\x85", "the control character U+0085 (character 3)"},
      {"55\xFF", "the byte 0xFF (not UTF-8 text) (character 3)"},
      {"1+555", "a \"+\" is only taken at the start (character 2)"},
      {"++1555", "a \"+\" is only taken at the start (character 2)"},
      {"", "it is empty"},
      {" - ", "it has no digits"},
      {",,W", "it has no digits"},
      {std::string(81, '5'), "it is longer than 80 characters"},
  };
  for (const Case &c : cases) {
    DialString d;
    std::string reason;
    EXPECT_EQ(DialString::parse(c.typed, d, reason), ecBadArgument) << c.typed;
    EXPECT_NE(reason.find(c.named), std::string::npos) << reason;
    EXPECT_EQ(reason.rfind("The fax number \"", 0), 0u) << reason;
    // The message quotes the text without its control bytes.
    for (char ch : reason) EXPECT_FALSE(ch == '\r' || ch == '\n' || ch == '\x1b') << reason;
    EXPECT_TRUE(d.dialled().empty());
  }
}

TEST(DialString, PrefixesTakeTheSameCharactersButNoPlusAndMayBeEmpty) {
  struct Case {
    const char *typed;
    Result result;
    const char *dialledOrReason;
  } cases[] = {
      {"", ecOK, ""},
      {"9,", ecOK, "9,"},
      {"*70, 9w", ecOK, "*70,9W"},
      {"+", ecBadArgument, "The dial prefix \"+\" cannot be dialled: it cannot hold a \"+\""},
      {"9\r", ecBadArgument, "holds a carriage return (character 2)"},
      {"9;", ecBadArgument, "holds ';' (character 2)"},
      {"X3", ecBadArgument, "holds the letter 'X' (character 1)"},
  };
  for (const Case &c : cases) {
    DialString d;
    std::string reason;
    ASSERT_EQ(DialString::parsePrefix(c.typed, d, reason), c.result) << c.typed;
    if (c.result == ecOK)
      EXPECT_EQ(d.dialled(), c.dialledOrReason);
    else
      EXPECT_NE(reason.find(c.dialledOrReason), std::string::npos) << reason;
  }
  // A bad international prefix refuses every number that could use it, naming itself.
  DialString d;
  std::string reason;
  EXPECT_EQ(DialString::parse("5551234", d, reason, "00\r"), ecBadArgument);
  EXPECT_NE(reason.find("The international prefix \"00\\r\""), std::string::npos) << reason;
}

TEST(DialString, MessagesEscapeWhatTheyQuote) {
  EXPECT_EQ(escapedForMessage("a\r\n\t\\\x1b\xC3\xA9z"), "a\\r\\n\\t\\\\\\x1B\\xC3\\xA9z");
}

}  // namespace
}  // namespace kv
