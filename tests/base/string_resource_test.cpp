// Keyed string resources: lookup, cache and damaged data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/string_resource.h"

namespace kv {
namespace {

void addRecord(std::vector<std::uint8_t> &out, std::uint16_t key, const std::string &text) {
  out.push_back(key & 0xFF);
  out.push_back(key >> 8);
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

TEST(StringResource, ProgramResources) {
  TKvStringResource reader("KVSTRES_STRINGS");
  EXPECT_EQ(reader.getString(1), "String not found: %d");
  EXPECT_EQ(reader.getString(2), "Cannot lock resource");
  EXPECT_EQ(reader.getString(3), "String resource not found: %s");
  EXPECT_EQ(reader.getString(4), "Unable to open string resource: %s");
  EXPECT_EQ(reader.getString(5), "");

  TKvStringResource &net = networkErrorStringResource();
  int count = 0;
  for (int key = 0; key <= 0xFFFF; ++key)
    if (!net.getString(static_cast<std::uint16_t>(key)).empty()) {
      ++count;
      EXPECT_TRUE((key >= 9001 && key < 10000) || (key >= 10004 && key <= 11004)) << key;
    }
  EXPECT_EQ(count, 59);
  EXPECT_FALSE(net.getString(9001).empty());
  EXPECT_FALSE(net.getString(10004).empty());
  EXPECT_FALSE(net.getString(11004).empty());
  // Names of resources are not case sensitive.
  EXPECT_EQ(TKvStringResource("kvstres_strings").getString(2), "Cannot lock resource");
}

TEST(StringResource, ReaderErrorsUseItsOwnTexts) {
  try {
    TKvStringResource reader("NO_SUCH_STRINGS");
    FAIL();
  } catch (const EKvStringResourceError &e) {
    EXPECT_EQ(e.message(), "String resource not found: NO_SUCH_STRINGS");
    EXPECT_STREQ(e.className(), "EKvStringResourceError");
  }
  std::vector<std::uint8_t> data;
  addRecord(data, 7, "seven");
  TKvStringResource reader{std::span<const std::uint8_t>(data)};
  EXPECT_EQ(reader.requireString(7), "seven");
  try {
    reader.requireString(77);
    FAIL();
  } catch (const EKvStringResourceError &e) {
    EXPECT_EQ(e.message(), "String not found: 77");
  }
}

TEST(StringResource, WalksRecordsAndFindsEdges) {
  std::vector<std::uint8_t> data;
  addRecord(data, 0, "zero");
  addRecord(data, 0x1234, "");  // an empty text is a record like any other
  addRecord(data, 0xFFFF, "last");
  addRecord(data, 0x0102, "key bytes are little-endian");
  TKvStringResource reader{std::span<const std::uint8_t>(data)};
  EXPECT_EQ(reader.getString(0), "zero");
  EXPECT_EQ(reader.getString(0xFFFF), "last");
  EXPECT_EQ(reader.getString(0x0102), "key bytes are little-endian");
  EXPECT_EQ(reader.getString(0x0201), "");
  EXPECT_EQ(reader.getString(0x1234), "");
  EXPECT_EQ(reader.getString(42), "");
}

TEST(StringResource, DamagedDataNeverReadsPastTheEnd) {
  std::vector<std::uint8_t> whole;
  addRecord(whole, 1, "one");
  addRecord(whole, 2, "two");
  // Every cut of the data: keys whose record is complete are found, the cut one is not.
  for (std::size_t size = 0; size <= whole.size(); ++size) {
    SCOPED_TRACE(size);
    // A fresh buffer of exactly |size| bytes, so a sanitizer build flags any overread.
    std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + size);
    TKvStringResource reader{std::span<const std::uint8_t>(cut)};
    EXPECT_EQ(reader.getString(1), size >= 6 ? "one" : "");
    EXPECT_EQ(reader.getString(2), size == whole.size() ? "two" : "");
    EXPECT_EQ(reader.getString(3), "");
  }
}

TEST(StringResource, CacheKeepsAtMostFiftyAndTrimsFromTheFront) {
  std::vector<std::uint8_t> data;
  for (std::uint16_t key = 1; key <= 60; ++key) addRecord(data, key, "text " + std::to_string(key));
  TKvStringResource reader{std::span<const std::uint8_t>(data)};

  for (std::uint16_t key = 1; key <= 50; ++key) reader.getString(key);
  EXPECT_EQ(reader.cacheSize(), 50u);
  // A hit does not grow the cache.
  EXPECT_EQ(reader.getString(1), "text 1");
  EXPECT_EQ(reader.cacheSize(), 50u);
  // Misses (not found) are not cached.
  EXPECT_EQ(reader.getString(999), "");
  EXPECT_EQ(reader.cacheSize(), 50u);

  // The 51st text: the oldest entries go until fewer than 45 remain, then it is added.
  EXPECT_EQ(reader.getString(51), "text 51");
  EXPECT_EQ(reader.cacheSize(), 45u);
  for (std::uint16_t key = 1; key <= 6; ++key) EXPECT_FALSE(reader.isCached(key)) << key;
  for (std::uint16_t key = 7; key <= 51; ++key) EXPECT_TRUE(reader.isCached(key)) << key;
  // An evicted text is read again from the data.
  EXPECT_EQ(reader.getString(3), "text 3");
  EXPECT_TRUE(reader.isCached(3));
  EXPECT_EQ(reader.cacheSize(), 46u);
}

}  // namespace
}  // namespace kv
