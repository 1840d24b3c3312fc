// A table is three files held exclusively (flock) for as long as it is open; an open waits a
// little for another process to close the table (see table_create.cpp for creation):
//
//   DBF  [header][descriptors][0x0D ...][records: count x length][0x1A]
//   FPT  [512-byte header: next free block][memo blocks ...]     (when there are M fields)
//   CDX  structural compound index, rewritten whole                (when tags exist)
//
// States: Open -> (Append | Update | Pack | IndexTag)* -> Closed. In memory every tag holds
// the keys of the whole table, always current; the CDX file follows after each change
// (or at EndBatch), written to a temporary file and renamed over the old one.
//
// Write order, so that a crash at any point loses at most the row being written:
//   append:  memo blocks, then FPT next-free; record + 0x1A; then the header count; then CDX.
//   update:  new memo blocks (never over old ones); then the record in place; then CDX.
//   pack:    new DBF and FPT beside the old ones, copies of the old ones as .bak, a journal
//            file, rename both, drop journal, drop the copies once the new table reads back;
//            a journal found at open finishes the renames.
// Invariants at rest: header count = the rows written whole (the open restores rows whole on
// disk beyond a short count and clamps a count beyond the file, writes the count, and says
// so); every memo pointer < FPT next free; the CDX keys equal the keys computed from the rows
// (checked at open; a mismatch is reported, and Reindex repairs it).

#include "xbase/table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <thread>

#include "base/byte_order.h"
#include "xbase/table_internal.h"

namespace kv::xbase {

using namespace table_detail;

namespace {

bool KnownVersion(uint8_t v) {
  switch (v) {
    case 0x02:
    case 0x03:
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x43:
    case 0x63:
    case 0x83:
    case 0x8B:
    case 0xCB:
    case 0xF5:
    case 0xFB:
      return true;
    default:
      return false;
  }
}

// Opens `path` and takes its lock, waiting up to `timeoutSeconds` for another process to let
// go. A file renamed over or removed while this one waited (a pack, a restore) is opened anew:
// the lock must guard the file that has the name. ecAccessDenied with *out set when the holder
// kept it.
Result OpenLocked(FileSystem &fs, const std::string &path, int timeoutSeconds,
                  std::unique_ptr<File> *out) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(std::max(0, timeoutSeconds));
  for (;;) {
    out->reset();
    Result r = fs.Open(path, OpenMode::ReadWrite, out);
    if (r != ecOK) return r;
    r = (*out)->LockExclusive();
    if (r == ecOK && !(*out)->Replaced()) return ecOK;
    if (r != ecOK && r != ecAccessDenied) return r;
    if (r == ecAccessDenied && std::chrono::steady_clock::now() >= deadline) return r;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

namespace table_detail {

bool ValidFieldName(const std::string &n) {
  if (n.empty() || n.size() > 10 || !std::isalpha(uint8_t(n[0]))) return false;
  return std::all_of(n.begin(), n.end(),
                     [](char c) { return std::isalnum(uint8_t(c)) || c == '_'; });
}

Status WriteHeaderCount(File &f, uint32_t count) {
  uint8_t b[7];
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  b[0] = uint8_t(tm.tm_year % 100);  // FoxPro writes the year modulo 100
  b[1] = uint8_t(tm.tm_mon + 1);
  b[2] = uint8_t(tm.tm_mday);
  putLe32(b + 3, count);
  Result r = f.WriteAt(1, b, 7);
  return r == ecOK ? Status::Ok() : IoErr(r, "writing the table header");
}

}  // namespace table_detail

Table::Table() : d_(std::make_unique<Impl>()) {}
Table::~Table() {
  Close();
}

int Table::FieldIndex(const std::string &name) const {
  std::string u = UpperStr(name);
  for (size_t i = 0; i < fields_.size(); ++i)
    if (UpperStr(fields_[i].name) == u) return int(i);
  return -1;
}

Record Table::BlankRecord() const {
  Record r;
  r.fields_ = &fields_;
  r.flavour_ = flavour_;
  r.raw_.assign(d_->recLen, ' ');
  for (auto &f : fields_)
    if (f.type == 'M' && f.width == 4)  // binary memo pointer: blank is zero, not spaces
      std::fill_n(r.raw_.begin() + f.offset, 4, '\0');
  return r;
}

void Table::ApplySettings(const Settings &s) {
  settings_ = s;
  d_->visibleValid = false;
  ++changes_;
}

Status Table::Open(const std::string &path, const Settings &settings, std::unique_ptr<Table> *out,
                   FileSystem &fs) {
  std::unique_ptr<Table> t(new Table());
  Impl &d = *t->d_;
  d.fs = &fs;
  t->path_ = path;
  t->settings_ = settings;
  Result r = OpenLocked(fs, path, settings.lockTimeout, &d.dbf);
  if (r == ecAccessDenied && d.dbf)
    return Err(ecAccessDenied, "the table " + path + " is in use by another program");
  if (r != ecOK) return IoErr(r, "cannot open " + path);
  std::string fptGuess = FindSibling(fs, path, "fpt");
  if (fs.Exists(path + ".pk!")) {
    Status st = RecoverPack(fs, path, fptGuess);
    if (!st) return st;
    d.dbf.reset();
    if ((r = fs.Open(path, OpenMode::ReadWrite, &d.dbf)) != ecOK)
      return IoErr(r, "cannot open " + path);
    if (d.dbf->LockExclusive() != ecOK)
      return Err(ecAccessDenied, "the table " + path + " is in use by another program");
  } else {
    RecoverPack(fs, path, fptGuess);
  }

  auto bad = [&](const std::string &m) { return Err(ecDataError, path + " is damaged: " + m); };
  uint64_t size = 0;
  if ((r = d.dbf->Size(&size)) != ecOK) return IoErr(r, "reading " + path);
  uint8_t h[32];
  if (size < 32 || d.dbf->ReadAt(0, h, 32) != ecOK) return bad("the file is too short");
  d.version = h[0];
  if (!KnownVersion(d.version)) return bad("not a table file (unknown type byte)");
  t->flavour_ = (d.version & 0xF0) == 0x30 ? Flavour::VisualFoxPro : Flavour::FoxPro2;
  uint32_t count = getLe32(h + 4);
  d.headerLen = getLe16(h + 8);
  d.recLen = getLe16(h + 10);
  if (d.headerLen < 33 || d.headerLen > size) return bad("the header length is wrong");
  if (d.recLen < 1) return bad("the record length is wrong");
  std::string hdr(d.headerLen, '\0');
  if (d.dbf->ReadAt(0, hdr.data(), hdr.size()) != ecOK) return bad("the header is truncated");
  auto *hp = reinterpret_cast<const uint8_t *>(hdr.data());
  // Fields run until 0x0D; the header length may include a backlink area or padding.
  uint32_t off = 1;
  for (size_t pos = 32;; pos += 32) {
    if (pos >= hdr.size()) return bad("the field list has no end marker");
    if (hp[pos] == 0x0D) break;
    if (pos + 32 > hdr.size()) return bad("the field list is truncated");
    if (t->fields_.size() >= 255) return bad("too many fields");
    FieldInfo f;
    f.name = std::string(reinterpret_cast<const char *>(hp + pos),
                         strnlen(reinterpret_cast<const char *>(hp + pos), 11));
    f.type = char(hp[pos + 11]);
    f.width = hp[pos + 16];
    f.decimals = hp[pos + 17];
    if (f.name.empty()) return bad("a field has no name");
    if (f.width == 0) return bad("field " + f.name + " has no width");
    if (f.type == 'M' && f.width != 10 && f.width != 4)
      return bad("memo field " + f.name + " has a bad width");
    if (f.type == 'D' && f.width != 8) return bad("date field " + f.name + " has a bad width");
    f.offset = int(off);
    off += uint32_t(f.width);
    t->fields_.push_back(f);
  }
  if (t->fields_.empty()) return bad("the table has no fields");
  if (off != d.recLen) return bad("the record length does not match the fields");
  // The header count is trusted only as far as the file bears it out. Rows written whole after
  // the counted ones (a torn header write, a crash before the count was updated, another
  // program's bug) are the user's records and are counted again; a count beyond the end of the
  // file is cut to the rows it holds. Either way the user is told.
  const uint64_t room = std::min<uint64_t>((size - d.headerLen) / d.recLen, 0x7FFFFFFFu);
  const std::string name = std::filesystem::path(path).filename().string();
  if (room > count) {
    uint32_t whole = count;
    std::string raw(d.recLen, '\0');
    while (whole < room &&
           d.dbf->ReadAt(d.headerLen + uint64_t(whole) * d.recLen, raw.data(), raw.size()) ==
               ecOK &&
           PlausibleRow(raw, t->fields_))
      ++whole;
    t->recCount_ = whole;
    if (whole > count)
      t->recoveryNote_ = name + ": the header counted " + std::to_string(count) + " rows, but " +
                         std::to_string(whole - count) +
                         " more were written whole after them; they have been restored";
  } else {
    t->recCount_ = uint32_t(std::min<uint64_t>(count, room));
    if (room < count)
      t->recoveryNote_ = name + " ends inside row " + std::to_string(room + 1) +
                         ": the header counted " + std::to_string(count) + " rows, " +
                         std::to_string(room) + " are whole and are kept";
  }
  const bool countReconciled = t->recCount_ != count;

  bool hasMemo = std::any_of(t->fields_.begin(), t->fields_.end(),
                             [](const FieldInfo &f) { return f.type == 'M'; });
  if (hasMemo) {
    d.fptPath = fptGuess;
    if (!fs.Exists(d.fptPath))
      return Err(ecFileNotFound, "the memo file of " + path + " is missing");
    if ((r = fs.Open(d.fptPath, OpenMode::ReadWrite, &d.fpt)) != ecOK)
      return IoErr(r, "cannot open the memo file " + d.fptPath);
    if (d.fpt->LockExclusive() != ecOK)
      return Err(ecAccessDenied, "the memo file " + d.fptPath + " is in use by another program");
    uint8_t m[8];
    if (d.fpt->ReadAt(0, m, 8) != ecOK) return bad("the memo file is too short");
    d.nextFree = getBe32(m);
    d.blockSize = getBe16(m + 6);
    if (d.blockSize == 0) d.blockSize = getBe32(m + 4);
    if (d.blockSize == 0 || d.blockSize > 0x100000)
      return bad("the memo file has a bad block size");
    uint32_t first = (512 + d.blockSize - 1) / d.blockSize;
    uint64_t fsize = 0;
    d.fpt->Size(&fsize);
    if (d.nextFree < first) d.nextFree = first;
    // A next-free pointer behind the end of the data would hand out blocks in use.
    uint64_t endBlock = (fsize + d.blockSize - 1) / d.blockSize;
    if (d.nextFree < endBlock && uint64_t(d.nextFree) * d.blockSize < fsize)
      d.nextFree = uint32_t(endBlock);
  }

  std::string cdxPath = FindSibling(fs, path, "cdx");
  d.cdxPath = cdxPath;
  if (fs.Exists(cdxPath)) {
    if ((r = fs.Open(cdxPath, OpenMode::ReadWrite, &d.cdx)) != ecOK)
      return IoErr(r, "cannot open the index file " + cdxPath);
    if (d.cdx->LockExclusive() != ecOK)
      return Err(ecAccessDenied, "the index file " + cdxPath + " is in use by another program");
    t->LoadIndex();
  }
  // Only an open that succeeds writes the reconciled count back (a failed open leaves the
  // files exactly as it found them), and it does so at once, under the lock, so that other
  // programs reading the file meanwhile see the rows this one sees.
  if (countReconciled) {
    Status st = WriteHeaderCount(*d.dbf, t->recCount_);
    if (st && settings.durable && (r = d.dbf->Sync()) != ecOK) st = IoErr(r, "writing " + path);
    if (!st)
      return Err(st.code, "cannot write the repaired row count of " + path + ": " + st.message);
  }
  t->recno_ = t->recCount_ + 1;
  *out = std::move(t);
  return Status::Ok();
}

// ---- Records and memos ----------------------------------------------------------------------

Status Table::ReadRecord(uint32_t recno, Record *out) {
  if (recno < 1 || recno > recCount_)
    return Err(ecRecordNotFound, "record " + std::to_string(recno) + " does not exist");
  *out = BlankRecord();
  Result r = d_->dbf->ReadAt(d_->headerLen + uint64_t(recno - 1) * d_->recLen, out->raw_.data(),
                             d_->recLen);
  return r == ecOK ? Status::Ok() : IoErr(r, "reading " + path_);
}

Status Table::ReadMemo(const Record &rec, int field, std::string *out) {
  out->clear();
  if (field < 0 || size_t(field) >= fields_.size() || fields_[size_t(field)].type != 'M')
    return Err(ecBadArgument, "not a memo field");
  if (const std::string *p = rec.PendingMemo(field)) {
    *out = *p;
    return Status::Ok();
  }
  uint32_t block = rec.MemoBlock(field);
  if (block == 0) return Status::Ok();
  Impl &d = *d_;
  auto bad = [&](const std::string &m) {
    return Err(ecDataError, "memo of field " + fields_[size_t(field)].name + ": " + m);
  };
  if (!d.fpt) return bad("the memo file is not open");
  uint64_t size = 0;
  d.fpt->Size(&size);
  uint64_t off = uint64_t(block) * d.blockSize;
  if (block >= d.nextFree && off + 8 > size) return bad("points past the end of the memo file");
  uint8_t h[8];
  if (off + 8 > size || d.fpt->ReadAt(off, h, 8) != ecOK)
    return bad("points past the end of the memo file");
  uint32_t len = getBe32(h + 4);
  if (off + 8 + len > size) return bad("is longer than the memo file");
  out->resize(len);
  Result r = d.fpt->ReadAt(off + 8, out->data(), len);
  if (r != ecOK) return IoErr(r, "reading the memo file");
  return Status::Ok();
}

Status Table::WriteMemos(Record &rec) {
  Impl &d = *d_;
  if (rec.pendingMemo_.empty()) return Status::Ok();
  if (!d.fpt) return Err(ecNotOpen, "the table has no memo file");
  uint32_t next = d.nextFree;
  std::map<int, uint32_t> blocks;
  for (auto &[field, data] : rec.pendingMemo_) {
    if (data.empty()) {
      blocks[field] = 0;
      continue;
    }
    uint64_t total = 8 + uint64_t(data.size());
    uint64_t nblocks = (total + d.blockSize - 1) / d.blockSize;
    if (uint64_t(next) + nblocks > 0xFFFFFFFFu ||
        (uint64_t(next) + nblocks) * d.blockSize > (uint64_t(1) << 31))
      return Err(ecDatabaseFull, "the memo file is full");
    std::string buf(size_t(nblocks * d.blockSize), '\0');
    auto *p = reinterpret_cast<uint8_t *>(buf.data());
    putBe32(p, 1);  // text
    putBe32(p + 4, uint32_t(data.size()));
    std::memcpy(p + 8, data.data(), data.size());
    Result r = d.fpt->WriteAt(uint64_t(next) * d.blockSize, buf.data(), buf.size());
    if (r != ecOK) return IoErr(r, "writing the memo file");
    blocks[field] = next;
    next += uint32_t(nblocks);
  }
  Result r;
  if (next != d.nextFree) {
    if (settings_.durable && (r = d.fpt->Sync()) != ecOK) return IoErr(r, "writing the memo file");
    uint8_t h[4];
    putBe32(h, next);
    if ((r = d.fpt->WriteAt(0, h, 4)) != ecOK) return IoErr(r, "writing the memo file");
    if (settings_.durable && (r = d.fpt->Sync()) != ecOK) return IoErr(r, "writing the memo file");
    d.nextFree = next;
  }
  for (auto &[field, block] : blocks) {
    const FieldInfo &f = fields_[size_t(field)];
    if (f.width == 4) {
      putLe32(reinterpret_cast<uint8_t *>(rec.raw_.data()) + f.offset, block);
    } else {
      std::string s = block ? std::to_string(block) : std::string();
      s.insert(0, size_t(f.width) - s.size(), ' ');
      rec.raw_.replace(size_t(f.offset), size_t(f.width), s);
    }
  }
  rec.pendingMemo_.clear();
  return Status::Ok();
}

Status Table::Append(Record &rec, uint32_t *recno) {
  Impl &d = *d_;
  if (rec.raw_.size() != d.recLen)
    return Err(ecBadArgument, "record does not belong to this table");
  if (recCount_ >= 0x7FFFFFFFu / std::max<uint32_t>(1, d.recLen))
    return Err(ecDatabaseFull, "the table is full");
  if (rec.raw_[0] != '*') rec.raw_[0] = ' ';
  Status st = WriteMemos(rec);
  if (!st) return st;
  std::string buf = rec.raw_ + '\x1A';
  Result r = d.dbf->WriteAt(d.headerLen + uint64_t(recCount_) * d.recLen, buf.data(), buf.size());
  if (r == ecOK && settings_.durable) r = d.dbf->Sync();
  // A row whose count could not be written is taken back, so that a reported failure never
  // turns into a row restored at the next open (and a duplicate when the user saves again).
  auto undo = [&](Status failed) {
    d.dbf->Truncate(d.headerLen + uint64_t(recCount_) * d.recLen);
    const char eof = '\x1A';
    d.dbf->WriteAt(d.headerLen + uint64_t(recCount_) * d.recLen, &eof, 1);
    return failed;
  };
  if (r != ecOK) return undo(IoErr(r, "writing " + path_));
  if (!(st = WriteHeaderCount(*d.dbf, recCount_ + 1))) return undo(st);
  if (settings_.durable && (r = d.dbf->Sync()) != ecOK) return IoErr(r, "writing " + path_);
  ++recCount_;
  if (recno) *recno = recCount_;
  AddKeys(recCount_, rec.raw_);
  Changed();
  return IndexChanged();
}

Status Table::Update(uint32_t recno, Record &rec) {
  Impl &d = *d_;
  if (rec.raw_.size() != d.recLen)
    return Err(ecBadArgument, "record does not belong to this table");
  Record old;
  Status st = ReadRecord(recno, &old);
  if (!st) return st;
  if (rec.raw_[0] != '*') rec.raw_[0] = ' ';
  // New memo text always goes to fresh blocks: the row on disk keeps pointing at intact text
  // until the row itself is rewritten. Pack reclaims the old blocks.
  if (!(st = WriteMemos(rec))) return st;
  Result r =
      d.dbf->WriteAt(d.headerLen + uint64_t(recno - 1) * d.recLen, rec.raw_.data(), d.recLen);
  if (r == ecOK && settings_.durable) r = d.dbf->Sync();
  if (r != ecOK) return IoErr(r, "writing " + path_);
  RemoveKeys(recno, old.raw_);
  AddKeys(recno, rec.raw_);
  Changed();
  return IndexChanged();
}

Status Table::SetDeleted(uint32_t recno, bool deleted) {
  Record rec;
  Status st = ReadRecord(recno, &rec);
  if (!st) return st;
  if (rec.deleted() == deleted) return st;
  rec.setDeleted(deleted);
  return Update(recno, rec);
}

// ---- Navigation -----------------------------------------------------------------------------

size_t Table::OrderSize() const {
  return order_ == 0 ? recCount_ : d_->tags[size_t(order_ - 1)].keys.size();
}

uint32_t Table::PhysRec(size_t i) const {
  return order_ == 0 ? uint32_t(i + 1) : d_->tags[size_t(order_ - 1)].keys[i].rec;
}

long Table::Locate(bool *exact) {
  *exact = false;
  if (order_ == 0) {
    *exact = recno_ >= 1 && recno_ <= recCount_;
    return long(recno_) - 1;
  }
  auto &keys = d_->tags[size_t(order_ - 1)].keys;
  Record rec;
  if (!ReadRecord(recno_, &rec)) return long(keys.size());
  KeyEntry e{KeyOf(size_t(order_ - 1), rec.raw_, recno_), recno_};
  auto it = std::lower_bound(keys.begin(), keys.end(), e);
  *exact = it != keys.end() && *it == e;
  return long(it - keys.begin());
}

bool Table::Visible(uint32_t recno) {
  Record rec;
  if (!ReadRecord(recno, &rec)) return false;
  if (settings_.deleted && rec.deleted()) return false;
  if (d_->filter) {
    EvalContext c{&fields_, &rec.raw_, recno, settings_.exact};
    if (!d_->filter->EvalLogical(c)) return false;
  }
  return true;
}

Status Table::Seek(long phys, int step, bool eofIfNone) {
  long n = long(OrderSize());
  for (; phys >= 0 && phys < n; phys += step) {
    uint32_t rec = PhysRec(size_t(phys));
    if (Visible(rec)) {
      recno_ = rec;
      eof_ = bof_ = false;
      return Status::Ok();
    }
  }
  if (eofIfNone) {
    recno_ = recCount_ + 1;
    eof_ = bof_ = true;
  }
  return Status::Ok();
}

static bool Descending(const Table &t) {
  return t.IndexOrd() > 0 && t.Tag(t.IndexOrd()).descending;
}

Status Table::GoTop() {
  bool desc = Descending(*this);
  return Seek(desc ? long(OrderSize()) - 1 : 0, desc ? -1 : 1, true);
}

Status Table::GoBottom() {
  bool desc = Descending(*this);
  return Seek(desc ? 0 : long(OrderSize()) - 1, desc ? 1 : -1, true);
}

Status Table::Go(uint32_t recno) {
  if (recno < 1 || recno > recCount_) {
    recno_ = recCount_ + 1;
    eof_ = true;
    return Err(ecRecordNotFound, "record " + std::to_string(recno) + " does not exist");
  }
  recno_ = recno;
  eof_ = bof_ = false;
  return Status::Ok();
}

Status Table::Skip(long n) {
  if (n == 0) return Status::Ok();
  int dir = n > 0 ? 1 : -1;
  long steps = n > 0 ? n : -n;
  if (eof_ || recno_ > recCount_) {
    if (dir > 0) return Status::Ok();
    Status st = GoBottom();
    if (!st || eof_ || --steps == 0) return st;
  }
  int step = Descending(*this) ? -dir : dir;
  bool exact = false;
  long idx = Locate(&exact);
  long phys = step > 0 ? (exact ? idx + 1 : idx) : idx - 1;
  long size = long(OrderSize());
  for (; phys >= 0 && phys < size; phys += step) {
    uint32_t rec = PhysRec(size_t(phys));
    if (!Visible(rec)) continue;
    recno_ = rec;
    eof_ = bof_ = false;
    if (--steps == 0) return Status::Ok();
  }
  if (dir > 0) {
    recno_ = recCount_ + 1;
    eof_ = true;
  } else {
    bof_ = true;
  }
  return Status::Ok();
}

Status Table::SetFilter(const std::string &expr) {
  std::string t = expr;
  if (t.find_first_not_of(" \t") == std::string::npos) {
    d_->filter.reset();
    filterText_.clear();
  } else {
    std::unique_ptr<Expression> e;
    Status st = Expression::Parse(expr, fields_, &e);
    if (!st) return st;
    if (e->ResultType() != 'L') return Err(ecBadArgument, "the filter is not a logical expression");
    d_->filter = std::move(e);
    filterText_ = expr;
  }
  d_->visibleValid = false;
  ++changes_;
  return Status::Ok();
}

const std::vector<uint32_t> &Table::VisibleRecNos() {
  Impl &d = *d_;
  if (d.visibleValid) return d.visible;
  std::vector<uint8_t> vis(size_t(recCount_) + 1, 0);
  ScanAll([&](uint32_t recno, const std::string &raw) {
    bool ok = !(settings_.deleted && raw[0] == '*');
    if (ok && d.filter) {
      EvalContext c{&fields_, &raw, recno, settings_.exact};
      ok = d.filter->EvalLogical(c);
    }
    vis[recno] = ok;
  });
  d.visible.clear();
  size_t n = OrderSize();
  bool desc = Descending(*this);
  for (size_t i = 0; i < n; ++i) {
    uint32_t rec = PhysRec(desc ? n - 1 - i : i);
    if (rec <= recCount_ && vis[rec]) d.visible.push_back(rec);
  }
  d.visibleValid = true;
  return d.visible;
}

uint32_t Table::QueryRecCount() {
  return uint32_t(VisibleRecNos().size());
}

// ---- Batches, close ---------------------------------------------------------------------------

void Table::BeginBatch() {
  ++d_->batch;
}

Status Table::EndBatch() {
  if (d_->batch > 0 && --d_->batch == 0 && d_->indexDirty && !d_->tags.empty()) return WriteIndex();
  return Status::Ok();
}

Status Table::Flush() {
  Impl &d = *d_;
  Status st;
  if (!d.dbf) return st;
  if (d.indexDirty && !d.tags.empty()) st = WriteIndex();
  if (d.modified) {
    Status h = WriteHeaderCount(*d.dbf, recCount_);
    if (h) d.modified = false;
    if (st) st = h;
  }
  return st;
}

Status Table::Close() {
  if (!d_ || !d_->dbf) return Status::Ok();
  d_->batch = 0;
  Status st = Flush();
  d_->cdx.reset();
  d_->fpt.reset();
  d_->dbf.reset();
  d_->tags.clear();
  return st;
}

}  // namespace kv::xbase
