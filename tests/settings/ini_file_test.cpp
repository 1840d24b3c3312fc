// The INI reader and writer: numbers, texts, damaged input, and what must survive a rewrite.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "settings/ini_file.h"

namespace kv {
namespace {

TEST(IniFile, IntegersDecimalAndHexadecimal) {
  const IniFile ini = IniFile::parse(
      "[N]\n"
      "dec=42\nneg=-17\nspaced =  7  \nhex=0x1F\nHEX=0XfF\nneghex=-0x10\nallbits=0xFFFFFFFF\n"
      "min=-2147483648\nmax=2147483647\n"
      "over=2147483648\nunder=-2147483649\nhexover=0x100000000\nhuge=99999999999999999999999\n"
      "junk=12abc\nempty=\nprefix=0x\nsign=-\nspace=1 2\nfloat=1.5\n");
  EXPECT_EQ(ini.readInteger("N", "dec", 0), 42);
  EXPECT_EQ(ini.readInteger("N", "neg", 0), -17);
  EXPECT_EQ(ini.readInteger("N", "spaced", 0), 7);
  EXPECT_EQ(ini.readInteger("N", "hex", 0), 31);
  EXPECT_EQ(ini.readInteger("N", "HEX", 0), 31);  // keys compare without case: the first wins
  EXPECT_EQ(ini.readInteger("N", "neghex", 0), -16);
  EXPECT_EQ(ini.readInteger("N", "allbits", 0), -1);
  EXPECT_EQ(ini.readInteger("N", "min", 0), INT_MIN);
  EXPECT_EQ(ini.readInteger("N", "max", 0), INT_MAX);
  // Out of range or not a number at all: the default, never a wrapped or partial value.
  for (const char *key : {"over", "under", "hexover", "huge", "junk", "empty", "prefix", "sign",
                          "space", "float", "missing"})
    EXPECT_EQ(ini.readInteger("N", key, 555), 555) << key;
}

TEST(IniFile, FlagsAndTexts) {
  const IniFile ini = IniFile::parse(
      "[F]\non=1\noff=0\ntwo=2\nhex=0x0\nyes=yes\n"
      "[T]\nplain=  hello world  \nquoted=\"  padded  \"\nhalf=\"open\nequals=a=b;c\n");
  EXPECT_TRUE(ini.readBool("F", "on", false));
  EXPECT_FALSE(ini.readBool("F", "off", true));
  EXPECT_TRUE(ini.readBool("F", "two", false));
  EXPECT_FALSE(ini.readBool("F", "hex", true));
  EXPECT_TRUE(ini.readBool("F", "yes", true));
  EXPECT_FALSE(ini.readBool("F", "yes", false));
  EXPECT_EQ(ini.readString("T", "plain", "x"), "hello world");
  EXPECT_EQ(ini.readString("T", "quoted", "x"), "  padded  ");
  EXPECT_EQ(ini.readString("T", "half", "x"), "\"open");
  EXPECT_EQ(ini.readString("T", "equals", "x"), "a=b;c");
  EXPECT_EQ(ini.readString("T", "missing", "dflt"), "dflt");
  EXPECT_EQ(ini.readString("t", "PLAIN", "x"), "hello world");
}

TEST(IniFile, LongTextsAreCutAt1023) {
  IniFile ini;
  const std::string exact(1023, 'a');
  const std::string longer = std::string(1023, 'b') + "tail";
  ini.writeString("L", "exact", exact);
  ini.writeString("L", "longer", longer);
  EXPECT_EQ(ini.readString("L", "exact", ""), exact);
  EXPECT_EQ(ini.readString("L", "longer", ""), std::string(1023, 'b'));
  // Quoting does not count towards the limit.
  ini.writeString("L", "padded", " " + std::string(1021, 'c') + " ");
  EXPECT_EQ(ini.readString("L", "padded", "").size(), 1023u);
}

TEST(IniFile, WritesReadBackExactly) {
  IniFile ini;
  const std::string values[] = {"",    " lead",           "trail ", "\"quoted\"", "\"",
                                "a=b", "; not a comment", "[x]",    "0x10",       "tab\there"};
  int i = 0;
  for (const std::string &v : values) ini.writeString("S", "k" + std::to_string(i++), v);
  const IniFile back = IniFile::parse(ini.text());
  i = 0;
  for (const std::string &v : values)
    EXPECT_EQ(back.readString("S", "k" + std::to_string(i++), "?"), v) << v;
  // A value cannot break out of its line to forge other keys or sections.
  ini.writeString("S", "evil", "x\n[Modem]\r\nComPort=7");
  const IniFile again = IniFile::parse(ini.text());
  EXPECT_FALSE(again.hasSection("Modem"));
  EXPECT_EQ(again.readString("S", "evil", ""), "x [Modem]  ComPort=7");
}

TEST(IniFile, RewriteKeepsEverythingElse) {
  const std::string original =
      "; written by hand\r\n"
      "stray line before any section\r\n"
      "[Other Program]\r\n"
      "Key=Value\r\n"
      "\r\n"
      "[modem]\r\n"
      "; the port\r\n"
      "COMPORT = 2\r\n"
      "Unknown=keep me\r\n"
      "garbage without equals\r\n"
      "\r\n"
      "[Ports]\r\n"
      "Com1=/dev/ttyUSB0\r\n";
  IniFile ini = IniFile::parse(original);
  ini.writeInteger("Modem", "ComPort", 3);
  ini.writeString("Modem", "InitString", "ATZ");
  ini.writeString("New", "A", "1");
  EXPECT_EQ(ini.text(),
            "; written by hand\r\n"
            "stray line before any section\r\n"
            "[Other Program]\r\n"
            "Key=Value\r\n"
            "\r\n"
            "[modem]\r\n"
            "; the port\r\n"
            "COMPORT =3\r\n"
            "Unknown=keep me\r\n"
            "garbage without equals\r\n"
            "InitString=ATZ\r\n"
            "\r\n"
            "[Ports]\r\n"
            "Com1=/dev/ttyUSB0\r\n"
            "\r\n"
            "[New]\r\n"
            "A=1\r\n");
  // Unchanged contents come back byte for byte.
  EXPECT_EQ(IniFile::parse(original).text(), original);
  EXPECT_EQ(IniFile::parse("\xEF\xBB\xBF[A]\nb=1\n").text(), "\xEF\xBB\xBF[A]\nb=1\n");
}

TEST(IniFile, DuplicatesAndOddLines) {
  IniFile ini = IniFile::parse(
      "key=outside any section\n"
      "[A]\nx=1\nx=2\n"
      "[A]\nx=3\ny=4\n"
      "[B\nz=5\n"
      "[]\nw=6\n"
      "=novalue\n");
  EXPECT_EQ(ini.readInteger("A", "x", 0), 1);
  EXPECT_EQ(ini.readInteger("A", "y", 0), 0);  // only the first [A] counts
  EXPECT_EQ(ini.readInteger("B", "z", 0), 5);  // a header missing its bracket still names B
  EXPECT_EQ(ini.readInteger("", "w", 0), 6);
  EXPECT_EQ(ini.readString("", "key", "none"), "none");
  ini.writeInteger("A", "x", 9);
  EXPECT_EQ(ini.readInteger("A", "x", 0), 9);
  EXPECT_TRUE(ini.removeKey("A", "x"));
  EXPECT_EQ(ini.readInteger("A", "x", 0), 2);  // the second entry is the first one now
  EXPECT_EQ(ini.sectionNames(), (std::vector<std::string>{"A", "A", "B", ""}));
  EXPECT_EQ(ini.keyNames("A"), (std::vector<std::string>{"x"}));
}

}  // namespace
}  // namespace kv
