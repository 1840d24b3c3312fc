// Value encodings, leaf codec, key builders and expressions.
#include <cstring>
#include <random>

#include "base/byte_order.h"
#include "test_util.h"
#include "xbase/cdx.h"
#include "xbase/expr.h"

using namespace kv::xbase;

namespace {

std::vector<FieldInfo> Layout(const std::vector<FieldDef> &defs) {
  std::vector<FieldInfo> out;
  int off = 1;
  for (auto &d : defs) {
    FieldInfo f;
    static_cast<FieldDef &>(f) = d;
    f.offset = off;
    off += d.width;
    out.push_back(f);
  }
  return out;
}

}  // namespace

TEST(ValueCodec, EveryTypeWritesAndReadsItsOwnLayout) {
  kvtest::TempDir dir;
  ASSERT_TRUE(Table::Create(dir / "t.dbf", {{"C", 'C', 5, 0},
                                            {"N", 'N', 10, 2},
                                            {"I", 'N', 5, 0},
                                            {"D", 'D', 8, 0},
                                            {"L", 'L', 1, 0},
                                            {"M", 'M', 10, 0}}));
  std::unique_ptr<Table> t;
  ASSERT_TRUE(Table::Open(dir / "t.dbf", {}, &t));
  Record r = t->BlankRecord();
  EXPECT_TRUE(r.PutString(0, "abcdefg"));  // cut to the width
  EXPECT_EQ(r.GetRawField(0), "abcde");
  EXPECT_TRUE(r.PutString(0, "ab"));
  EXPECT_EQ(r.GetRawField(0), "ab   ");
  EXPECT_EQ(r.GetString(0), "ab");
  EXPECT_TRUE(r.PutNumber(1, 12.5));
  EXPECT_EQ(r.GetRawField(1), "     12.50");
  EXPECT_TRUE(r.PutNumber(1, -0.25));
  EXPECT_EQ(r.GetRawField(1), "     -0.25");
  EXPECT_TRUE(r.PutNumber(2, -7));
  EXPECT_EQ(r.GetRawField(2), "   -7");
  EXPECT_TRUE(r.PutNumber(2, 99999));  // exactly fits
  EXPECT_FALSE(r.PutNumber(2, 100000));
  EXPECT_EQ(r.GetRawField(2), "99999");  // a refused value leaves the field alone
  EXPECT_FALSE(r.PutNumber(2, std::nan("")));
  EXPECT_TRUE(r.PutNumber(2, -0.0));
  EXPECT_EQ(r.GetRawField(2), "    0");
  EXPECT_TRUE(r.PutDate(3, {2024, 1, 15}));
  EXPECT_EQ(r.GetRawField(3), "20240115");
  EXPECT_EQ(r.GetDate(3), (Date{2024, 1, 15}));
  EXPECT_FALSE(r.PutDate(3, {2023, 2, 29}));
  EXPECT_TRUE(r.PutDate(3, {}));
  EXPECT_EQ(r.GetRawField(3), "        ");
  EXPECT_TRUE(r.GetDate(3).empty());
  EXPECT_TRUE(r.PutLogical(4, true));
  EXPECT_EQ(r.GetRawField(4), "T");
  EXPECT_EQ(r.GetRawField(5), "          ");  // no memo = blanks in this flavour
  EXPECT_EQ(r.MemoBlock(5), 0u);
}

TEST(ValueCodec, ForeignSpellingsAreRead) {
  auto f = Layout({{"D", 'D', 8, 0}, {"L", 'L', 1, 0}, {"N", 'N', 6, 2}, {"M", 'M', 4, 0}});
  auto val = [&](int i, const std::string &raw) { return FieldValue(f[size_t(i)], raw); };
  std::string raw = " 00000000?  1.5 \x08\x00\x00\x00";
  raw.resize(20);
  EXPECT_EQ(val(0, raw).jdn, 0);  // 00000000 is an empty date
  EXPECT_FALSE(val(1, raw).b);    // '?' is unknown = false
  EXPECT_DOUBLE_EQ(val(2, raw).n, 1.5);
  for (char c : std::string("TtYy"))
    EXPECT_TRUE(val(1, " 00000000" + std::string(1, c) + "      ").b);
  Date d = Date::FromJulianDay(2451545);
  EXPECT_EQ(d, (Date{2000, 1, 1}));
  EXPECT_EQ((Date{2024, 1, 15}).JulianDay(), 2460325);
}

TEST(KeyBuilders, NumbersAndDatesMatchTheReferenceBytes) {
  auto hex = [](const std::string &k) {
    std::string s;
    char b[4];
    for (unsigned char c : k) {
      std::snprintf(b, sizeof b, "%02X", c);
      s += b;
    }
    return s;
  };
  EXPECT_EQ(hex(NumericKey(0)), "8000000000000000");
  EXPECT_EQ(hex(NumericKey(-0.0)), "8000000000000000");
  EXPECT_EQ(hex(NumericKey(1)), "BFF0000000000000");
  EXPECT_EQ(hex(NumericKey(-1)), "400FFFFFFFFFFFFF");
  EXPECT_EQ(hex(NumericKey(-7)), "3FE3FFFFFFFFFFFF");
  EXPECT_EQ(hex(NumericKey(-12.5)), "3FD6FFFFFFFFFFFF");
  EXPECT_EQ(hex(NumericKey(99999)), "C0F869F000000000");
  EXPECT_EQ(hex(DateKey(Date{2000, 1, 1}.JulianDay())), "C142B42C80000000");
  EXPECT_EQ(hex(DateKey(Date{1999, 12, 31}.JulianDay())), "C142B42C00000000");
  EXPECT_EQ(hex(DateKey(0)), "8000000000000000");
}

TEST(LeafCodec, DecodesRealLeavesByteForByte) {
  uint8_t dirLeaf[512] = {0x03, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                          0xFF, 0xFF, 0xFF, 0xDD, 0x01, 0xFF, 0xFF, 0x00, 0x00,
                          0x0F, 0x0F, 0x10, 0x04, 0x04, 0x03, 0x00, 0x06, 0x20};
  std::memcpy(dirLeaf + 504, "KEY_NAME", 8);
  std::vector<KeyEntry> out;
  std::string err;
  ASSERT_TRUE(DecodeLeaf(dirLeaf, 10, ' ', &out, &err)) << err;
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].key, "KEY_NAME  ");
  EXPECT_EQ(out[0].rec, 1536u);

  uint8_t tagLeaf[512] = {0x07, 0x00, 0x03, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                          0xFF, 0xD0, 0x01, 0x0F, 0x00, 0x00, 0x00, 0x3F, 0x3F, 0x04, 0x06,
                          0x06, 0x02, 0x01, 0xB4, 0x12, 0xA8, 0x73, 0x94, 0x03, 0x70};
  std::memcpy(tagLeaf + 494, "_TYPESONTACTSCALLS", 18);
  out.clear();
  ASSERT_TRUE(DecodeLeaf(tagLeaf, 50, ' ', &out, &err)) << err;
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].key, "CALLS" + std::string(45, ' '));
  EXPECT_EQ(out[1].key, "CONTACTS" + std::string(42, ' '));
  EXPECT_EQ(out[2].key, "CONTACT_TYPES" + std::string(37, ' '));
  EXPECT_EQ(out[2].rec, 3u);

  tagLeaf[12] = 0xD1;  // a wrong free count is corruption
  out.clear();
  EXPECT_FALSE(DecodeLeaf(tagLeaf, 50, ' ', &out, &err));
}

TEST(LeafCodec, RandomKeySetsRoundTrip) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    int keyLen = 1 + int(rng() % 40);
    uint8_t pad = rng() % 2 ? ' ' : 0;
    std::vector<KeyEntry> keys;
    int n = 1 + int(rng() % 80);
    for (int i = 0; i < n; ++i) {
      std::string k(static_cast<size_t>(keyLen), static_cast<char>(pad));
      int used = int(rng() % (keyLen + 1));  // all-pad keys included
      for (int j = 0; j < used; ++j) k[size_t(j)] = char('A' + rng() % 3);
      keys.push_back({k, uint32_t(rng() % 2 ? rng() % 70000 : (1u << 20) - 1)});
    }
    std::sort(keys.begin(), keys.end());
    uint32_t maxRec = 0;
    for (auto &k : keys) maxRec = std::max(maxRec, k.rec);
    int bits = 0;
    while ((maxRec >> bits) != 0) ++bits;
    size_t done = 0;
    std::vector<KeyEntry> back;
    while (done < keys.size()) {
      uint8_t page[512];
      size_t put = EncodeLeaf(keys, done, keyLen, pad, bits, page);
      ASSERT_GT(put, 0u);
      std::string err;
      ASSERT_TRUE(DecodeLeaf(page, keyLen, pad, &back, &err)) << err;
      done += put;
    }
    ASSERT_EQ(back, keys) << "round " << round;
  }
}

TEST(Expressions, SpellingsOfTheSameConditionAgree) {
  auto fields = Layout({{"DATESENT", 'D', 8, 0}, {"TIMESENT", 'C', 5, 0}, {"NAME", 'C', 10, 0}});
  std::string live =
      " 20240115"
      "09:30"
      "smith     ";
  std::string gone =
      "*20240115"
      "09:30"
      "smith     ";
  for (const char *text :
       {".NOT. DELETED()", ".not.deleted()", "! DELETED()", "!dele()", "NOT Deleted( )"}) {
    std::unique_ptr<Expression> e;
    ASSERT_TRUE(Expression::Parse(text, fields, &e)) << text;
    EXPECT_TRUE(e->EvalLogical({&fields, &live, 1, false})) << text;
    EXPECT_FALSE(e->EvalLogical({&fields, &gone, 1, false})) << text;
  }
  std::unique_ptr<Expression> key;
  ASSERT_TRUE(Expression::Parse("DTOS( datesent ) + TimeSent", fields, &key));
  EXPECT_EQ(key->ResultType(), 'C');
  EXPECT_EQ(key->ResultWidth(), 13);
  EXPECT_EQ(key->Eval({&fields, &live, 1, false}).s, "2024011509:30");
  std::string blank =
      "         "
      "     "
      "          ";
  EXPECT_EQ(key->Eval({&fields, &blank, 1, false}).s, std::string(13, ' '));
  ASSERT_TRUE(Expression::Parse("UPPER(NAME)", fields, &key));
  EXPECT_EQ(key->Eval({&fields, &live, 1, false}).s, "SMITH     ");
  ASSERT_TRUE(Expression::Parse("KRV->NAME = 'smi' .and. .t.", fields, &key));
  EXPECT_TRUE(key->EvalLogical({&fields, &live, 1, false}));
  for (const char *bad :
       {"NOSUCH", "DTOS(NAME)", "UPPER(", "NAME +", "'open", "FOO()", "NAME + DATESENT"}) {
    std::unique_ptr<Expression> e;
    EXPECT_FALSE(Expression::Parse(bad, fields, &e)) << bad;
  }
  std::unique_ptr<Expression> e;
  EXPECT_FALSE(Expression::Parse(std::string(3000, '('), fields, &e));  // no stack overflow
}

TEST(CdxBuild, SmallFilesUseTheCompactDirectoryLayout) {
  CdxTag tag;
  tag.info = {"KEY_NAME", "key_name", "", false, false, 50};
  for (const char *k : {"CALLS", "CONTACTS", "CONTACT_TYPES"}) {
    std::string key = k;
    key.resize(50, ' ');
    tag.keys.push_back({key, uint32_t(tag.keys.size() + 1)});
  }
  std::string img = BuildCdx({tag});
  // The same places a real one-tag file uses: directory leaf at 1024, tag header at 1536.
  ASSERT_EQ(img.size(), 3072u);
  auto *p = reinterpret_cast<const uint8_t *>(img.data());
  EXPECT_EQ(kv::getLe32(p), 1024u);
  EXPECT_EQ(p[1024 + 23], 3);  // three bytes per directory entry
  EXPECT_EQ(kv::getLe32(p + 1536), 2560u);
  std::vector<CdxTag> back;
  ASSERT_TRUE(ReadCdx(img, &back));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].headerOffset, 1536u);
  EXPECT_EQ(back[0].info.key, "key_name");
  std::vector<KeyEntry> keys;
  ASSERT_TRUE(ReadTagKeys(img, 1536, 50, ' ', &keys));
  EXPECT_EQ(keys, tag.keys);
  // The tag's expression pool, as the real file has it.
  const uint8_t want[8] = {0x09, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09, 0x00};
  EXPECT_EQ(std::memcmp(p + 1536 + 504, want, 8), 0);
}
