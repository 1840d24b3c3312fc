// Tables on disk: headers, memos, tag order and filters, pack, index checking, damaged files.
#include <random>
#include <set>

#include "base/byte_order.h"
#include "test_util.h"

using namespace kv::xbase;
using kv::Result;

namespace {

Settings Quick() {
  Settings s;
  s.durable = false;
  return s;
}

std::unique_ptr<Table> MakeFax(const kvtest::TempDir &dir, Flavour fl = Flavour::FoxPro2) {
  EXPECT_TRUE(Table::Create(dir / "KRV.DBF", kvtest::FaxFields(), fl));
  std::unique_ptr<Table> t;
  EXPECT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  return t;
}

// Row i: every third row never sent (empty date), others spread over dates and times.
void AddRows(Table &t, int n, int seed = 1) {
  std::mt19937 rng{uint32_t(seed)};
  t.BeginBatch();
  for (int i = 0; i < n; ++i) {
    Record r = t.BlankRecord();
    r.PutString(0, "subject " + std::to_string(i));
    if (i % 3 != 0) {
      r.PutDate(2, {2020 + int(rng() % 6), 1 + int(rng() % 12), 1 + int(rng() % 28)});
      char tm[8];
      std::snprintf(tm, sizeof tm, "%02d:%02d", int(rng() % 24), int(rng() % 60));
      r.PutString(3, tm);
      r.PutLogical(1, true);
    }
    r.PutNumber(6, i % 100);
    ASSERT_TRUE(t.Append(r, nullptr));
  }
  ASSERT_TRUE(t.EndBatch());
}

// The record count in a table file's header, as another program reads it.
uint32_t HeaderCount(const std::string &path) {
  const std::string b = kv::test::readFile(path);
  return b.size() < 8 ? 0 : kv::getLe32(reinterpret_cast<const uint8_t *>(b.data()) + 4);
}

std::vector<uint32_t> Walk(Table &t) {
  std::vector<uint32_t> out;
  for (t.GoTop(); !t.Eof(); t.Skip(1)) out.push_back(t.RecNo());
  return out;
}

}  // namespace

TEST(TableFiles, HeadersOfBothFlavours) {
  for (Flavour fl : {Flavour::FoxPro2, Flavour::VisualFoxPro}) {
    kvtest::TempDir dir;
    auto t = MakeFax(dir, fl);
    Record r = t->BlankRecord();
    r.PutString(0, "hello");
    r.PutMemo(8, std::string("a\0b\x1A", 4));
    ASSERT_TRUE(t->Append(r, nullptr));
    ASSERT_TRUE(t->Close());
    std::string h = kv::test::readFile(dir / "KRV.DBF");
    auto *p = reinterpret_cast<const uint8_t *>(h.data());
    bool vfp = fl == Flavour::VisualFoxPro;
    EXPECT_EQ(p[0], vfp ? 0x30 : 0xF5);
    EXPECT_EQ(p[28] & 0x02, vfp ? 0x02 : 0x00);
    uint16_t hl = kv::getLe16(p + 8), rl = kv::getLe16(p + 10);
    EXPECT_EQ(hl, (vfp ? 296 : 33) + 32 * 10);
    EXPECT_EQ(rl, 1 + 50 + 1 + 8 + 5 + 35 + 25 + 2 + 100 + (vfp ? 8 : 20));
    EXPECT_EQ(kv::getLe32(p + 4), 1u);
    EXPECT_EQ(kv::getLe32(p + 32 + 32 * 1 + 12), 51u);  // field offsets are filled
    EXPECT_EQ(h.size(), size_t(hl + rl + 1));
    EXPECT_EQ(h.back(), '\x1A');
    std::string fpt = kv::test::readFile(dir / "KRV.FPT");
    EXPECT_EQ(kv::getBe16(reinterpret_cast<const uint8_t *>(fpt.data()) + 6), 64);
    EXPECT_EQ(fpt.size() % 64, 0u);
    ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
    Record back;
    ASSERT_TRUE(t->ReadRecord(1, &back));
    EXPECT_EQ(back.MemoBlock(8), 8u);  // the first block after the 512-byte header
    std::string memo;
    ASSERT_TRUE(t->ReadMemo(back, 8, &memo));
    EXPECT_EQ(memo, std::string("a\0b\x1A", 4));
  }
}

TEST(TableFiles, ForeignHeaderVariantsAndUpperCaseSiblings) {
  kvtest::TempDir dir;
  auto t = MakeFax(dir);
  Record r = t->BlankRecord();
  r.PutMemo(9, "doc");
  ASSERT_TRUE(t->Append(r, nullptr));
  t.reset();
  // Harbour-style 0x0D 0x00 terminator, no 0x1A at the end, upper-case memo name.
  std::string h = kv::test::readFile(dir / "KRV.DBF");
  size_t hl = kv::getLe16(reinterpret_cast<const uint8_t *>(h.data()) + 8);
  std::string nh = h.substr(0, hl) + '\0' + h.substr(hl, h.size() - hl - 1);
  kv::putLe16(reinterpret_cast<uint8_t *>(nh.data()) + 8, uint16_t(hl + 1));
  kv::test::writeFile(dir / "KRV.DBF", nh);
  std::filesystem::rename(dir / "KRV.FPT", dir / "KRV.fpt");
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  EXPECT_EQ(t->RecCount(), 1u);
  Record back;
  ASSERT_TRUE(t->ReadRecord(1, &back));
  std::string memo;
  ASSERT_TRUE(t->ReadMemo(back, 9, &memo));
  EXPECT_EQ(memo, "doc");
}

TEST(TableFiles, MemoBoundariesAndRewrites) {
  kvtest::TempDir dir;
  auto t = MakeFax(dir);
  std::vector<std::string> texts = {std::string(56, 'x'), std::string(57, 'y'), "short", ""};
  for (auto &s : texts) {
    Record r = t->BlankRecord();
    r.PutMemo(8, s);
    ASSERT_TRUE(t->Append(r, nullptr));
  }
  std::string fpt = kv::test::readFile(dir / "KRV.FPT");
  // 8 + 56 fills exactly one block; one byte more needs two.
  EXPECT_EQ(kv::getBe32(reinterpret_cast<const uint8_t *>(fpt.data())), 8u + 1 + 2 + 1);
  Record r;
  ASSERT_TRUE(t->ReadRecord(1, &r));
  r.PutMemo(8, "changed");
  ASSERT_TRUE(t->Update(1, r));
  for (uint32_t i = 1; i <= 4; ++i) {
    std::string m;
    ASSERT_TRUE(t->ReadRecord(i, &r));
    ASSERT_TRUE(t->ReadMemo(r, 8, &m));
    EXPECT_EQ(m, i == 1 ? "changed" : texts[i - 1]);
  }
}

TEST(TagOrder, DescendingDateKeyFilterAndPack) {
  kvtest::TempDir dir;
  auto t = MakeFax(dir);
  AddRows(*t, 3000);
  ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
  EXPECT_EQ(t->IndexOrd(), 1);
  EXPECT_EQ(t->Tag(1).keyLength, 13);
  // Delete every 7th row; the FOR condition drops them from the tag.
  t->BeginBatch();
  for (uint32_t i = 7; i <= 3000; i += 7) ASSERT_TRUE(t->SetDeleted(i, true));
  ASSERT_TRUE(t->EndBatch());
  auto order = Walk(*t);
  EXPECT_EQ(order.size(), 3000u - 3000 / 7);
  std::string prevKey = "99999999zzzzz";
  bool seenEmpty = false;
  for (uint32_t rec : order) {
    Record r;
    ASSERT_TRUE(t->ReadRecord(rec, &r));
    ASSERT_FALSE(r.deleted());
    Date d = r.GetDate(2);
    std::string key =
        d.empty() ? std::string(8, ' ') : std::to_string(d.year * 10000 + d.month * 100 + d.day);
    key += r.GetRawField(3);
    if (d.empty())
      seenEmpty = true;
    else
      ASSERT_FALSE(seenEmpty) << "a sent row after the never-sent ones";
    ASSERT_LE(key, prevKey);
    prevKey = key;
  }
  EXPECT_TRUE(seenEmpty);
  // Backwards gives the same rows reversed.
  std::vector<uint32_t> back;
  for (t->GoBottom(); !t->Bof() && !t->Eof(); t->Skip(-1)) back.push_back(t->RecNo());
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, order);
  EXPECT_TRUE(t->CheckIndexes().ok);
  std::string rowByRow = kv::test::readFile(dir / "KRV.CDX");

  ASSERT_TRUE(t->Reindex());
  EXPECT_EQ(kv::test::readFile(dir / "KRV.CDX"), rowByRow);  // a rebuild gives the same bytes

  // Filter and Deleted setting in record order.
  ASSERT_TRUE(t->SetOrder(0));
  ASSERT_TRUE(t->SetFilter(".not. deleted()"));
  EXPECT_EQ(t->QueryRecCount(), 3000u - 3000 / 7);
  ASSERT_TRUE(t->SetFilter(""));
  EXPECT_EQ(t->QueryRecCount(), 3000u);
  Settings s = Quick();
  s.deleted = true;
  t->ApplySettings(s);
  EXPECT_EQ(t->QueryRecCount(), 3000u - 3000 / 7);

  Record r8;
  ASSERT_TRUE(t->ReadRecord(8, &r8));
  ASSERT_TRUE(t->Pack());
  EXPECT_EQ(t->RecCount(), 3000u - 3000 / 7);
  Record r7;
  ASSERT_TRUE(t->ReadRecord(7, &r7));  // old row 8 is now number 7
  EXPECT_EQ(r7.raw(), r8.raw());
  EXPECT_TRUE(t->CheckIndexes().ok);
  ASSERT_TRUE(t->SetOrder(1));
  EXPECT_EQ(Walk(*t).size(), t->RecCount());
}

TEST(TagOrder, DateKeyAndCharacterKeysAscending) {
  kvtest::TempDir dir;
  auto t = MakeFax(dir);
  AddRows(*t, 500);
  ASSERT_TRUE(t->IndexTag("DATESENT", "datesent", ".not. deleted()", true));
  EXPECT_EQ(t->Tag(1).keyLength, 8);
  long prev = 1L << 40;
  for (uint32_t rec : Walk(*t)) {
    Record r;
    t->ReadRecord(rec, &r);
    long j = r.GetDate(2).JulianDay();
    ASSERT_LE(j, prev);  // empty dates (0) come last in descending order
    prev = j;
  }
  ASSERT_TRUE(t->IndexTag("SUBJ", "UPPER(SUBJECT)", "", false));
  EXPECT_EQ(t->TagCount(), 2);
  auto order = Walk(*t);
  ASSERT_EQ(order.size(), 500u);
  Record a, b;
  t->ReadRecord(order[0], &a);
  t->ReadRecord(order[1], &b);
  EXPECT_LE(a.GetString(0), b.GetString(0));
  t.reset();
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  EXPECT_FALSE(t->IndexDamaged()) << t->IndexProblem();
  EXPECT_EQ(t->TagCount(), 2);
  EXPECT_EQ(t->TagName(1), "DATESENT");  // creation order, not name order
  EXPECT_EQ(t->TagArea("subj"), 2);
}

TEST(IndexCheck, StaleAndBrokenIndexesAreReportedAndRebuilt) {
  kvtest::TempDir dir;
  auto t = MakeFax(dir);
  AddRows(*t, 50);
  ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
  std::string old = kv::test::readFile(dir / "KRV.CDX");
  AddRows(*t, 5, 9);
  t.reset();
  kv::test::writeFile(dir / "KRV.CDX", old);  // as if the last appends never reached the index
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  EXPECT_TRUE(t->IndexDamaged());
  EXPECT_NE(t->IndexProblem().find("does not match"), std::string::npos) << t->IndexProblem();
  EXPECT_EQ(Walk(*t).size(), 55u);  // navigation still shows every row
  EXPECT_FALSE(t->CheckIndexes().ok);
  ASSERT_TRUE(t->Reindex());
  EXPECT_TRUE(t->CheckIndexes().ok);
  EXPECT_FALSE(t->IndexDamaged());
  t.reset();

  std::string good = kv::test::readFile(dir / "KRV.CDX");
  std::mt19937 rng(3);
  for (int i = 0; i < 60; ++i) {
    std::string bad = good;
    for (int k = 0; k < 4; ++k) bad[1024 + rng() % (bad.size() - 1024)] = char(rng());
    if (i % 5 == 0) bad.resize(bad.size() - 512);
    kv::test::writeFile(dir / "KRV.CDX", bad);
    ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));  // the table itself still opens
    if (bad != good && !t->IndexDamaged()) {
      EXPECT_TRUE(t->CheckIndexes().ok);
    }
    ASSERT_TRUE(t->Reindex());
    EXPECT_TRUE(t->CheckIndexes().ok);
    t.reset();
  }
}

TEST(DamagedFiles, AreRefusedWithAReason) {
  kvtest::TempDir dir;
  auto t = MakeFax(dir);
  AddRows(*t, 10);
  t.reset();
  std::string good = kv::test::readFile(dir / "KRV.DBF");
  auto attempt = [&](const std::string &bytes) {
    kv::test::writeFile(dir / "KRV.DBF", bytes);
    std::unique_ptr<Table> x;
    return Table::Open(dir / "KRV.DBF", Quick(), &x);
  };
  EXPECT_EQ(attempt(good.substr(0, 20)).code, kv::ecDataError);
  std::string b = good;
  b[0] = 0x42;
  EXPECT_EQ(attempt(b).code, kv::ecDataError);
  b = good;
  kv::putLe16(reinterpret_cast<uint8_t *>(b.data()) + 10, 99);
  Status st = attempt(b);
  EXPECT_EQ(st.code, kv::ecDataError);
  EXPECT_NE(st.message.find("record length"), std::string::npos);
  b = good;
  b[32 + 32 * 10] = 'X';  // terminator gone
  EXPECT_FALSE(attempt(b));
  // A count larger than the file is clamped, not trusted: no rows are invented.
  b = good;
  kv::putLe32(reinterpret_cast<uint8_t *>(b.data()) + 4, 1000000);
  kv::test::writeFile(dir / "KRV.DBF", b);
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  EXPECT_EQ(t->RecCount(), 10u);
  // A memo pointer past the end of the memo file is an error, not a crash.
  Record r = t->BlankRecord();
  r.PutString(0, "x");
  ASSERT_TRUE(t->Append(r, nullptr));
  ASSERT_TRUE(t->ReadRecord(11, &r));
  std::string raw = r.raw();
  Record bad = r;
  EXPECT_TRUE(bad.PutString(0, "y"));
  std::string m;
  kvtest::TempDir d2;
  t.reset();
  std::string tbl = kv::test::readFile(dir / "KRV.DBF");
  size_t hl = kv::getLe16(reinterpret_cast<const uint8_t *>(tbl.data()) + 8);
  size_t rl = kv::getLe16(reinterpret_cast<const uint8_t *>(tbl.data()) + 10);
  tbl.replace(hl + 10 * rl + 1 + 50 + 1 + 8 + 5 + 35 + 25 + 2 + 100, 10, "    999999");
  kv::test::writeFile(dir / "KRV.DBF", tbl);
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  ASSERT_TRUE(t->ReadRecord(11, &r));
  st = t->ReadMemo(r, 8, &m);
  EXPECT_EQ(st.code, kv::ecDataError);
  // Pack refuses rather than dropping that row's text.
  EXPECT_FALSE(t->Pack());
  EXPECT_EQ(t->RecCount(), 11u);
}

TEST(DamagedFiles, AFailedOpenLeavesTheFilesAsItFoundThem) {
  kvtest::TempDir dir;
  auto t = MakeFax(dir);
  AddRows(*t, 5);
  t.reset();
  // An over-counted header would be reconciled by a successful open; with the memo file gone
  // the open fails and must not write the corrected count into a table it refused.
  std::string b = kv::test::readFile(dir / "KRV.DBF");
  kv::putLe32(reinterpret_cast<uint8_t *>(b.data()) + 4, 1000);
  kv::test::writeFile(dir / "KRV.DBF", b);
  std::filesystem::remove(dir / "KRV.FPT");
  EXPECT_EQ(Table::Open(dir / "KRV.DBF", Quick(), &t).code, kv::ecFileNotFound);
  EXPECT_EQ(kv::test::readFile(dir / "KRV.DBF"), b);
}

TEST(DamagedFiles, RowsWholeOnDiskBeyondTheCountAreRestoredAndSurviveAPack) {
  kvtest::TempDir dir;
  {
    auto t = MakeFax(dir);
    AddRows(*t, 25);
    ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
  }
  // A torn header write: the count says 20, the rows and the index hold 25.
  std::string b = kv::test::readFile(dir / "KRV.DBF");
  kv::putLe32(reinterpret_cast<uint8_t *>(b.data()) + 4, 20);
  kv::test::writeFile(dir / "KRV.DBF", b);
  std::unique_ptr<Table> t;
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  EXPECT_EQ(t->RecCount(), 25u);
  EXPECT_FALSE(t->IndexDamaged()) << t->IndexProblem();
  EXPECT_NE(t->RecoveryNote().find("5 more were written whole"), std::string::npos)
      << t->RecoveryNote();
  // Other programs reading the file see every row at once, while the table is still open.
  EXPECT_EQ(HeaderCount(dir / "KRV.DBF"), 25u);
  // What Rebuild Indexes does: the index goes, the table is packed, the tag made again.
  ASSERT_TRUE(t->CloseIndexes());
  std::filesystem::remove(dir / "KRV.CDX");
  ASSERT_TRUE(t->Pack());
  ASSERT_TRUE(t->IndexTag("DATESENT", "datesent", ".not. deleted()", true));
  EXPECT_EQ(t->RecCount(), 25u);
  Record r;
  ASSERT_TRUE(t->ReadRecord(25, &r));
  EXPECT_EQ(r.GetString(0), "subject 24");
  EXPECT_FALSE(std::filesystem::exists(dir / "KRV.DBF.bak"));  // dropped once packed
  t.reset();

  // Cut inside row 24: the 23 whole rows stay and the user is told; noise is not a row.
  b = kv::test::readFile(dir / "KRV.DBF");
  const size_t hl = kv::getLe16(reinterpret_cast<const uint8_t *>(b.data()) + 8);
  const size_t rl = kv::getLe16(reinterpret_cast<const uint8_t *>(b.data()) + 10);
  kv::test::writeFile(dir / "KRV.DBF", b.substr(0, hl + 23 * rl + rl / 2));
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  EXPECT_EQ(t->RecCount(), 23u);
  EXPECT_NE(t->RecoveryNote().find("ends inside row 24"), std::string::npos) << t->RecoveryNote();
  EXPECT_EQ(HeaderCount(dir / "KRV.DBF"), 23u);
  t.reset();
  kv::putLe32(reinterpret_cast<uint8_t *>(b.data()) + 4, 20);
  kv::test::writeFile(dir / "KRV.DBF", b.substr(0, hl + 20 * rl) + std::string(3 * rl, '\0'));
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
  EXPECT_EQ(t->RecCount(), 20u);
  EXPECT_EQ(t->RecoveryNote(), "");
}

// Real files, but the swap of a pack fails.
class NoRename : public FileSystem {
 public:
  Result Open(const std::string &p, OpenMode m, std::unique_ptr<File> *out) override {
    return PosixFileSystem().Open(p, m, out);
  }
  bool Exists(const std::string &p) override { return PosixFileSystem().Exists(p); }
  Result Remove(const std::string &p) override { return PosixFileSystem().Remove(p); }
  Result Rename(const std::string &, const std::string &) override { return kv::ecAccessDenied; }
};

TEST(DamagedFiles, AFailedPackKeepsACopyOfTheOldTable) {
  kvtest::TempDir dir;
  {
    auto t = MakeFax(dir);
    AddRows(*t, 10);
    ASSERT_TRUE(t->SetDeleted(3, true));
  }
  const std::string before = kv::test::readFile(dir / "KRV.DBF");
  NoRename fs;
  std::unique_ptr<Table> t;
  ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t, fs));
  Status st = t->Pack();
  EXPECT_FALSE(st);
  EXPECT_NE(st.message.find("KRV.DBF.bak"), std::string::npos) << st.message;
  EXPECT_EQ(kv::test::readFile(dir / "KRV.DBF.bak"), before);
  EXPECT_EQ(t->RecCount(), 10u);
}

TEST(Locking, SecondOpenIsRefused) {
  kvtest::TempDir dir;
  auto t = MakeFax(dir);
  std::unique_ptr<Table> other;
  Status st = Table::Open(dir / "KRV.DBF", Quick(), &other);
  EXPECT_EQ(st.code, kv::ecAccessDenied);
  EXPECT_NE(st.message.find("in use"), std::string::npos);
  t.reset();
  EXPECT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &other));
}

// Wraps the real files and fails the n-th write with a full disk, half written.
class FullDisk : public FileSystem {
 public:
  explicit FullDisk(int failAt) : left_(failAt) {}
  struct F : File {
    std::unique_ptr<File> real;
    FullDisk *fs;
    Result ReadAt(uint64_t o, void *b, size_t n) override { return real->ReadAt(o, b, n); }
    Result ReadSome(uint64_t o, void *b, size_t n, size_t *g) override {
      return real->ReadSome(o, b, n, g);
    }
    Result WriteAt(uint64_t o, const void *b, size_t n) override {
      if (fs->left_-- == 0) {
        real->WriteAt(o, b, n / 2);
        return kv::ecDiskFull;
      }
      return real->WriteAt(o, b, n);
    }
    Result Size(uint64_t *s) override { return real->Size(s); }
    Result Truncate(uint64_t s) override { return real->Truncate(s); }
    Result Sync() override { return real->Sync(); }
    Result LockExclusive() override { return real->LockExclusive(); }
  };
  Result Open(const std::string &p, OpenMode m, std::unique_ptr<File> *out) override {
    auto f = std::make_unique<F>();
    f->fs = this;
    Result r = PosixFileSystem().Open(p, m, &f->real);
    if (r == kv::ecOK) *out = std::move(f);
    return r;
  }
  bool Exists(const std::string &p) override { return PosixFileSystem().Exists(p); }
  Result Remove(const std::string &p) override { return PosixFileSystem().Remove(p); }
  Result Rename(const std::string &a, const std::string &b) override {
    return PosixFileSystem().Rename(a, b);
  }
  int left_;
};

TEST(FaultInjection, AFullDiskLosesNothingThatWasPosted) {
  for (int failAt = 0; failAt < 12; ++failAt) {
    kvtest::TempDir dir;
    {
      auto t = MakeFax(dir);
      AddRows(*t, 20);
      ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
    }
    FullDisk fs(failAt);
    std::unique_ptr<Table> t;
    ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t, fs));
    Record r = t->BlankRecord();
    r.PutString(0, "new row");
    r.PutMemo(8, std::string(300, 'm'));
    Status st = t->Append(r, nullptr);
    bool appended = st.ok();
    if (st) {
      ASSERT_TRUE(t->ReadRecord(21, &r));
      r.PutMemo(9, "edit");
      st = t->Update(21, r);
    }
    if (!st) {
      EXPECT_EQ(st.code, kv::ecDiskFull) << st.message;
    }
    t.reset();
    ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t));
    // A reported failure means the row is not there (so saving it again makes no duplicate);
    // a reported success means it is.
    ASSERT_EQ(t->RecCount(), appended ? 21u : 20u) << "fail at " << failAt;
    if (appended) {
      Record back;
      ASSERT_TRUE(t->ReadRecord(21, &back));
      EXPECT_EQ(back.GetString(0), "new row");
      std::string memo;
      ASSERT_TRUE(t->ReadMemo(back, 8, &memo));
      EXPECT_EQ(memo, std::string(300, 'm'));
    }
    for (uint32_t i = 1; i <= 20; ++i) {
      Record old;
      ASSERT_TRUE(t->ReadRecord(i, &old));
      EXPECT_EQ(old.GetString(0), "subject " + std::to_string(i - 1));
    }
    if (t->IndexDamaged()) {
      ASSERT_TRUE(t->Reindex());
    }
    EXPECT_TRUE(t->CheckIndexes().ok);
  }
}

// Stops the world after `live` mutating operations: later writes, renames and removals
// silently never happen, as if the process had died there.
class PowerCut : public FileSystem {
 public:
  explicit PowerCut(int live) : live_(live) {}
  bool Alive() { return live_-- > 0; }
  struct F : File {
    std::unique_ptr<File> real;
    PowerCut *fs;
    Result ReadAt(uint64_t o, void *b, size_t n) override { return real->ReadAt(o, b, n); }
    Result ReadSome(uint64_t o, void *b, size_t n, size_t *g) override {
      return real->ReadSome(o, b, n, g);
    }
    Result WriteAt(uint64_t o, const void *b, size_t n) override {
      return fs->Alive() ? real->WriteAt(o, b, n) : kv::ecOK;
    }
    Result Size(uint64_t *s) override { return real->Size(s); }
    Result Truncate(uint64_t s) override { return fs->Alive() ? real->Truncate(s) : kv::ecOK; }
    Result Sync() override { return real->Sync(); }
    Result LockExclusive() override { return real->LockExclusive(); }
  };
  Result Open(const std::string &p, OpenMode m, std::unique_ptr<File> *out) override {
    if (m == OpenMode::CreateTruncate && !Alive()) m = OpenMode::ReadWrite;
    auto f = std::make_unique<F>();
    f->fs = this;
    Result r = PosixFileSystem().Open(p, m, &f->real);
    if (r != kv::ecOK && m == OpenMode::ReadWrite)  // the creation never happened
      r = PosixFileSystem().Open("/dev/null", OpenMode::ReadWrite, &f->real);
    if (r == kv::ecOK) *out = std::move(f);
    return r;
  }
  bool Exists(const std::string &p) override { return PosixFileSystem().Exists(p); }
  Result Remove(const std::string &p) override {
    return Alive() ? PosixFileSystem().Remove(p) : kv::ecOK;
  }
  Result Rename(const std::string &a, const std::string &b) override {
    return Alive() ? PosixFileSystem().Rename(a, b) : kv::ecOK;
  }
  int live_;
};

TEST(CrashSafety, PackInterruptedAtAnyStepKeepsEveryLiveRow) {
  int packed = 0;
  for (int live = 0; live < 60; ++live) {
    kvtest::TempDir dir;
    {
      auto t = MakeFax(dir);
      for (int i = 0; i < 30; ++i) {
        Record r = t->BlankRecord();
        r.PutString(0, "row " + std::to_string(i));
        r.PutMemo(9, "memo " + std::to_string(i));
        ASSERT_TRUE(t->Append(r, nullptr));
      }
      for (uint32_t i = 1; i <= 30; i += 3) ASSERT_TRUE(t->SetDeleted(i, true));
      ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
    }
    {
      PowerCut fs(live);
      std::unique_ptr<Table> t;
      ASSERT_TRUE(Table::Open(dir / "KRV.DBF", Quick(), &t, fs));
      t->Pack();
    }
    std::unique_ptr<Table> t;
    Status st = Table::Open(dir / "KRV.DBF", Quick(), &t);
    ASSERT_TRUE(st) << "cut after " << live << ": " << st.message;
    ASSERT_TRUE(t->RecCount() == 30 || t->RecCount() == 20) << t->RecCount();
    packed += t->RecCount() == 20;
    std::set<std::string> live_rows;
    for (uint32_t i = 1; i <= t->RecCount(); ++i) {
      Record r;
      ASSERT_TRUE(t->ReadRecord(i, &r));
      if (r.deleted()) continue;
      std::string memo;
      ASSERT_TRUE(t->ReadMemo(r, 9, &memo)) << "cut after " << live;
      EXPECT_EQ(memo, "memo " + r.GetString(0).substr(4)) << "cut after " << live;
      live_rows.insert(r.GetString(0));
    }
    EXPECT_EQ(live_rows.size(), 20u) << "cut after " << live;
    if (t->IndexDamaged()) {
      ASSERT_TRUE(t->Reindex());
    }
    EXPECT_TRUE(t->CheckIndexes().ok);
  }
  // Both outcomes were reached: cut before the swap, and after it.
  EXPECT_GT(packed, 0);
  EXPECT_LT(packed, 60);
}

TEST(TableFiles, ANewTableDropsAnOrphanedIndex) {
  kvtest::TempDir dir;
  {
    auto t = MakeFax(dir);
    AddRows(*t, 5);
    ASSERT_TRUE(t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true));
  }
  std::filesystem::remove(dir / "KRV.DBF");  // the user deleted the table, not its index
  auto t = MakeFax(dir);
  EXPECT_EQ(t->TagCount(), 0);
  EXPECT_FALSE(t->IndexDamaged());
  EXPECT_FALSE(std::filesystem::exists(dir / "KRV.CDX"));
}
