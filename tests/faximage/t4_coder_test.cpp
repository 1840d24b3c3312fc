// The T.4 code tables, the record form of coded lines, and the decoding rules of APF readers.
#include "faximage/t4_coder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "raster_helpers.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string bitsOf(T4Code c) {
  std::string s;
  for (int i = c.bits - 1; i >= 0; --i) s += (c.code >> i) & 1 ? '1' : '0';
  return s;
}

// Every code word of one colour, keyed by its bit string.
std::map<std::string, int> codeBook(bool black) {
  std::map<std::string, int> book;
  const auto &term = black ? kT4BlackTerminating : kT4WhiteTerminating;
  const auto &makeup = black ? kT4BlackMakeup : kT4WhiteMakeup;
  for (int i = 0; i < 64; ++i) book[bitsOf(term[i])] = i;
  for (int i = 0; i < 27; ++i) book[bitsOf(makeup[i])] = 64 * (i + 1);
  for (int i = 0; i < 13; ++i) book[bitsOf(kT4ExtendedMakeup[i])] = 1792 + 64 * i;
  book[bitsOf(kT4Eol)] = -1;
  return book;
}

TEST(T4Tables, MatchTheStandardAtItsLandmarks) {
  // Rows of T.4 Tables 2 and 3 picked where typing slips are most likely.
  EXPECT_EQ(bitsOf(kT4WhiteTerminating[0]), "00110101");
  EXPECT_EQ(bitsOf(kT4WhiteTerminating[13]), "000011");
  EXPECT_EQ(bitsOf(kT4WhiteTerminating[29]), "00000010");
  EXPECT_EQ(bitsOf(kT4WhiteTerminating[63]), "00110100");
  EXPECT_EQ(bitsOf(kT4BlackTerminating[0]), "0000110111");
  EXPECT_EQ(bitsOf(kT4BlackTerminating[2]), "11");
  EXPECT_EQ(bitsOf(kT4BlackTerminating[15]), "000011000");
  EXPECT_EQ(bitsOf(kT4BlackTerminating[19]), "00001100111");
  EXPECT_EQ(bitsOf(kT4BlackTerminating[63]), "000001100111");
  EXPECT_EQ(bitsOf(kT4WhiteMakeup[0]), "11011");
  EXPECT_EQ(bitsOf(kT4WhiteMakeup[25]), "011000");     // 1664
  EXPECT_EQ(bitsOf(kT4WhiteMakeup[26]), "010011011");  // 1728
  EXPECT_EQ(bitsOf(kT4BlackMakeup[0]), "0000001111");
  EXPECT_EQ(bitsOf(kT4BlackMakeup[7]), "0000001101100");   // 512
  EXPECT_EQ(bitsOf(kT4BlackMakeup[26]), "0000001100101");  // 1728
  EXPECT_EQ(bitsOf(kT4ExtendedMakeup[0]), "00000001000");
  EXPECT_EQ(bitsOf(kT4ExtendedMakeup[12]), "000000011111");
  EXPECT_EQ(bitsOf(kT4Eol), "000000000001");
}

TEST(T4Tables, EachColourIsAPrefixFreeCompleteCode) {
  for (bool black : {false, true}) {
    SCOPED_TRACE(black ? "black" : "white");
    auto book = codeBook(black);
    EXPECT_EQ(book.size(), 64u + 27 + 13 + 1) << "duplicate code words";
    // No code word may be the prefix of another, or decoding would be ambiguous.
    for (auto it = book.begin(); it != book.end(); ++it) {
      auto next = std::next(it);
      if (next != book.end()) {
        EXPECT_NE(next->first.rfind(it->first, 0), 0u) << it->first;
      }
    }
    // With EOL and the strings of twelve zeros, the Kraft sum of a full code is 1: a missing or
    // mistyped word leaves a hole.
    double kraft = 1.0 / 4096;  // the zero strings
    for (auto &[s, v] : book) kraft += 1.0 / static_cast<double>(1u << s.size());
    EXPECT_LE(kraft, 1.0);
  }
}

TEST(T4Encoder, AllWhiteLinesAndPageEndAreTheFixedRecords) {
  T4Encoder enc;
  const Bytes white(256, 0);
  auto r = enc.encodeLine(white.data(), kFaxLineNormal);
  EXPECT_EQ(Bytes(r.begin(), r.end()), (Bytes{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}));
  r = enc.encodeLine(white.data(), kFaxLineWide);
  EXPECT_EQ(Bytes(r.begin(), r.end()), (Bytes{0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00}));

  // The page-end record: a 16-bit EOL, six 12-bit EOLs, eight zero bits.
  T4Encoder eols;
  eols.beginRecord();
  Bytes expected = {0x00, 0x80};
  std::vector<std::uint8_t> eolBytes(9, 0);
  for (int i = 0; i < 6; ++i) eolBytes[(12 * i + 11) / 8] |= 1 << ((12 * i + 11) % 8);
  expected.insert(expected.end(), eolBytes.begin(), eolBytes.end());
  expected.push_back(0);
  EXPECT_EQ(Bytes(kApfPageEndRecord.begin(), kApfPageEndRecord.end()), expected);

  // Decoding the page-end record alone: one line ended, then the return-to-control signal.
  int lines = 0;
  T4Decoder dec([&](const std::uint8_t *, std::size_t) { ++lines; });
  EXPECT_FALSE(dec.feed(kApfPageEndRecord.data(), kApfPageEndRecord.size()));
  EXPECT_TRUE(dec.pageEnded());
  EXPECT_EQ(lines, 0);
}

TEST(T4Encoder, RecordLengthIsBitsOverEightPlusTwo) {
  T4Encoder enc;
  // All black: white 0 (8 bits), black make-up 1728 (13), black 0 (10) after the 16-bit EOL.
  const Bytes black(216, 0xFF);
  auto r = enc.encodeLine(black.data(), kFaxLineNormal);
  EXPECT_EQ(enc.bitCount(), 16u + 8 + 13 + 10);
  EXPECT_EQ(r.size(), (16u + 8 + 13 + 10) / 8 + 2);
  // Bits after the EOL: 00110101 0000001100101 0000110111, packed first bit lowest.
  EXPECT_EQ(r[2], 0xAC);  // 0,0,1,1,0,1,0,1 reversed
  EXPECT_EQ(r.back(), 0x00);
  EXPECT_EQ(r[r.size() - 2] & 0x80, 0x00);  // padding of the last partial byte is zero

  // Codes that end exactly on a byte boundary leave two zero bytes.
  enc.beginRecord();
  enc.putRun(0, false);  // 8 bits
  EXPECT_EQ(enc.bitCount(), 24u);
  EXPECT_EQ(enc.endRecord(), 5u);
  auto e = enc.record();
  EXPECT_EQ(e[3], 0x00);
  EXPECT_EQ(e[4], 0x00);
}

TEST(T4Encoder, LongRunsUseMakeupThenTerminatingCodes) {
  T4Encoder enc;
  // A line starting black begins with a white run of 0.
  Bytes line(216, 0);
  line[0] = 0x80;
  enc.encodeLine(line.data(), kFaxLineNormal);
  const std::size_t withZero = enc.bitCount();
  // white 0 (8) + black 1 (3) + white make-up 1664 (6) + white 63 (8)
  EXPECT_EQ(withZero, 16u + 8 + 3 + 6 + 8);

  // Runs beyond 2560 repeat the longest make-up code (only possible on 4096-pixel lines).
  enc.beginRecord();
  enc.putRun(4000, false);  // 2560 (12) + 1408 (9) + 32 (8)
  EXPECT_EQ(enc.bitCount(), 16u + 12 + 9 + 8);
}

// Decodes a sequence of records and collects the delivered lines.
std::vector<Bytes> decodeRecords(const std::vector<Bytes> &records, T4Decoder *out = nullptr) {
  std::vector<Bytes> lines;
  T4Decoder dec([&](const std::uint8_t *p, std::size_t n) { lines.emplace_back(p, p + n); });
  for (const auto &r : records)
    if (!dec.feed(r.data(), r.size())) break;
  dec.finish();
  if (out) *out = dec;
  return lines;
}

Bytes recordOf(T4Encoder &enc) {
  return Bytes(enc.record().begin(), enc.record().end());
}

TEST(T4Coder, RoundTripsRandomAndTextRastersAtBothWidths) {
  for (int width : {kFaxLineNormal, kFaxLineWide}) {
    for (int kind = 0; kind < 3; ++kind) {
      SCOPED_TRACE(testing::Message() << "width " << width << " kind " << kind);
      test::Raster src = kind == 0   ? test::randomRaster(width, 120, 0.5, 7)
                         : kind == 1 ? test::randomRaster(width, 120, 0.03, 8)
                                     : test::textRaster(width, 400, 9);
      T4Encoder enc;
      std::vector<Bytes> records;
      for (int y = 0; y < src.height; ++y) {
        enc.encodeLine(src.row(y), width);
        records.push_back(recordOf(enc));
      }
      records.emplace_back(kApfPageEndRecord.begin(), kApfPageEndRecord.end());
      auto lines = decodeRecords(records);
      ASSERT_EQ(lines.size(), static_cast<std::size_t>(src.height));
      for (int y = 0; y < src.height; ++y)
        ASSERT_EQ(lines[y], Bytes(src.row(y), src.row(y) + width / 8)) << "line " << y;
    }
  }
}

TEST(T4Coder, SplitsAcrossArbitraryFeedBoundaries) {
  // The decoder must carry partial code words from one feed to the next.
  test::Raster src = test::randomRaster(kFaxLineNormal, 40, 0.2, 3);
  T4Encoder enc;
  Bytes stream;
  for (int y = 0; y < src.height; ++y) {
    auto r = enc.encodeLine(src.row(y), kFaxLineNormal);
    stream.insert(stream.end(), r.begin(), r.end());
  }
  stream.insert(stream.end(), kApfPageEndRecord.begin(), kApfPageEndRecord.end());
  for (std::size_t chunk : {1u, 3u, 7u, 13u}) {
    std::vector<Bytes> records;
    for (std::size_t i = 0; i < stream.size(); i += chunk)
      records.emplace_back(stream.begin() + i, stream.begin() + std::min(stream.size(), i + chunk));
    auto lines = decodeRecords(records);
    ASSERT_EQ(lines.size(), 40u) << "chunk " << chunk;
    for (int y = 0; y < 40; ++y)
      ASSERT_EQ(lines[y], Bytes(src.row(y), src.row(y) + 216))
          << "chunk " << chunk << " line " << y;
  }
}

TEST(T4Decoder, AppliesTheReadingRules) {
  T4Encoder enc;
  auto runsRecord = [&](std::initializer_list<int> runs) {
    enc.beginRecord();
    bool black = false;
    for (int r : runs) enc.putRun(static_cast<std::uint32_t>(r), black), black = !black;
    enc.endRecord();
    return recordOf(enc);
  };
  const Bytes good = runsRecord({100, 28, 1600});
  const Bytes end(kApfPageEndRecord.begin(), kApfPageEndRecord.end());

  {  // A line of 1700 pixels is dropped; its neighbours survive.
    T4Decoder d;
    auto lines = decodeRecords({good, runsRecord({1700}), good, end}, &d);
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(d.linesDropped(), 1u);
  }
  {  // Whole bytes decide: 1730 pixels still count as 216 bytes (as other readers do).
    auto lines = decodeRecords({runsRecord({1730}), end});
    EXPECT_EQ(lines.size(), 1u);
  }
  {  // Bits before the first EOL are ignored, even when they look like runs.
    Bytes junk{0xFF, 0x13, 0x77};
    junk.insert(junk.end(), good.begin(), good.end());
    auto lines = decodeRecords({junk, end});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0][12], 0x0F);  // pixels 100..127 black: byte 12 holds 96..103
  }
  {  // A run that would pass 4096 pixels is ignored and does not change the colour.
    auto lines = decodeRecords({runsRecord({2560, 2560}), end});
    EXPECT_TRUE(lines.empty());
    // Only make-up codes can be ignored on a line that is still delivered: white 1600, then
    // black make-up 2560 (ignored) and black 28, then white 100.
    enc.beginRecord();
    enc.putRun(1600, false);
    enc.putRun(2588, true);
    enc.putRun(100, false);
    enc.endRecord();
    lines = decodeRecords({recordOf(enc), end});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0][199], 0x00);
    EXPECT_EQ(lines[0][200], 0xFF);  // pixels 1600..1607
    EXPECT_EQ(lines[0][203], 0xF0);  // black ends at 1627
  }
  {  // Three EOLs in a row end the page: later lines are not read.
    Bytes eols{0x00, 0x80, 0x00, 0x08, 0x80, 0x00};
    auto lines = decodeRecords({good, eols, good, end});
    EXPECT_EQ(lines.size(), 1u);
  }
  {  // Any number of fill zeros before an EOL is accepted.
    Bytes padded(40, 0);
    padded.insert(padded.end(), good.begin(), good.end());
    auto lines = decodeRecords({good, padded, end});
    EXPECT_EQ(lines.size(), 2u);
  }
  {  // A code word outside the tables spoils only its own line.
    Bytes bad = good;
    // EOL, then eight zeros and a 1 in white: not a white code word and not an EOL.
    bad = {0x00, 0x80, 0x00, 0x01, 0xFF, 0x00};
    T4Decoder d;
    auto lines = decodeRecords({good, bad, good, end}, &d);
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(d.codeErrors(), 1u);
  }
  {  // An empty line (EOL right after EOL) is dropped but does not by itself end the page.
    auto lines = decodeRecords({good, Bytes{0x00, 0x80}, good, end});
    EXPECT_EQ(lines.size(), 2u);
  }
}

}  // namespace
}  // namespace kv
