// A table is three files held exclusively (flock) for as long as it is open:
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
//   pack:    new DBF and FPT beside the old ones, a journal file, rename both, drop journal;
//            a journal found at open finishes the renames.
// Invariants at rest: header count <= (file size - header length) / record length (the open
// clamps it); every memo pointer < FPT next free; the CDX keys equal the keys computed from
// the rows (checked at open; a mismatch is reported, and Reindex repairs it).
#include "xbase/table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>

#include "base/byte_order.h"
#include "xbase/cdx.h"
#include "xbase/expr.h"

namespace kv::xbase {

namespace {

std::string UpperStr(std::string s) {
  for (auto &c : s) c = char(std::toupper(uint8_t(c)));
  return s;
}
std::string RTrim(const std::string &s) {
  size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}
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
Status Err(Result code, const std::string &m) {
  return Status::Error(code, m);
}
Status IoErr(Result code, const std::string &what) {
  std::string why = code == ecDiskFull ? "disk full" : "input/output error";
  return Err(code, what + ": " + why);
}
bool ValidFieldName(const std::string &n) {
  if (n.empty() || n.size() > 10 || !std::isalpha(uint8_t(n[0]))) return false;
  return std::all_of(n.begin(), n.end(),
                     [](char c) { return std::isalnum(uint8_t(c)) || c == '_'; });
}

}  // namespace

// ---- Dates ----------------------------------------------------------------------------------

bool Date::Valid(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

long Date::JulianDay() const {
  if (empty()) return 0;
  // Days from civil (proleptic Gregorian), shifted to the Julian day number.
  long y = year - (month <= 2 ? 1 : 0);
  long era = (y >= 0 ? y : y - 399) / 400;
  long yoe = y - era * 400;
  long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long days = era * 146097 + doe - 719468;  // days since 1970-01-01
  return days + 2440588;
}

Date Date::FromJulianDay(long jdn) {
  if (jdn <= 0) return {};
  long z = jdn - 2440588 + 719468;
  long era = (z >= 0 ? z : z - 146096) / 146097;
  long doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long y = yoe + era * 400;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  long d = doy - (153 * mp + 2) / 5 + 1;
  long m = mp < 10 ? mp + 3 : mp - 9;
  return {int(y + (m <= 2 ? 1 : 0)), int(m), int(d)};
}

// ---- Record ---------------------------------------------------------------------------------

std::string Record::GetRawField(int field) const {
  if (!fields_ || field < 0 || size_t(field) >= fields_->size()) return {};
  const FieldInfo &f = (*fields_)[size_t(field)];
  return raw_.substr(size_t(f.offset), size_t(f.width));
}

std::string Record::GetString(int field) const {
  return RTrim(GetRawField(field));
}

bool Record::IsBlank(int field) const {
  std::string r = GetRawField(field);
  return r.find_first_not_of(' ') == std::string::npos;
}

double Record::GetNumber(int field) const {
  if (!fields_ || field < 0 || size_t(field) >= fields_->size()) return 0;
  return FieldValue((*fields_)[size_t(field)], raw_).n;
}

bool Record::GetLogical(int field) const {
  std::string r = GetRawField(field);
  return !r.empty() && std::strchr("TtYy", r[0]) != nullptr && r[0] != 0;
}

Date Record::GetDate(int field) const {
  if (!fields_ || field < 0 || size_t(field) >= fields_->size()) return {};
  Value v = FieldValue((*fields_)[size_t(field)], raw_);
  return v.type == 'D' ? Date::FromJulianDay(v.jdn) : Date{};
}

uint32_t Record::MemoBlock(int field) const {
  std::string r = GetRawField(field);
  if (r.size() == 4) return getLe32(reinterpret_cast<const uint8_t *>(r.data()));
  uint64_t v = 0;
  for (char c : r) {
    if (c == ' ' || c == '\0') continue;
    if (!std::isdigit(uint8_t(c))) return 0;
    v = v * 10 + uint64_t(c - '0');
    if (v > 0xFFFFFFFFu) return 0;
  }
  return uint32_t(v);
}

const std::string *Record::PendingMemo(int field) const {
  auto it = pendingMemo_.find(field);
  return it == pendingMemo_.end() ? nullptr : &it->second;
}

namespace {
bool CheckField(const Record &r, int field, const std::vector<FieldInfo> *fields, Status *st) {
  (void)r;
  if (!fields || field < 0 || size_t(field) >= fields->size()) {
    *st = Err(ecBadArgument, "no such field");
    return false;
  }
  return true;
}
}  // namespace

Status Record::PutString(int field, const std::string &value) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type == 'M') return PutMemo(field, value);
  if (f.type != 'C') return Err(ecBadArgument, "field " + f.name + " is not a character field");
  // A fixed-width column keeps what fits, as every xBase tool does.
  std::string v = value.substr(0, size_t(f.width));
  v.resize(size_t(f.width), ' ');
  raw_.replace(size_t(f.offset), size_t(f.width), v);
  return st;
}

Status Record::PutNumber(int field, double value) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type != 'N' && f.type != 'F')
    return Err(ecBadArgument, "field " + f.name + " is not numeric");
  if (!std::isfinite(value)) return Err(ecBadArgument, "not a number for field " + f.name);
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, f.decimals);
  if (res.ec != std::errc()) return Err(ecDataTooLarge, "number too large for field " + f.name);
  std::string s(buf, res.ptr);
  if (s == "-0" || (s.size() > 1 && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos))
    s = s.substr(1);
  if (s.size() > size_t(f.width))
    return Err(ecDataTooLarge, "value " + s + " does not fit field " + f.name);
  s.insert(0, size_t(f.width) - s.size(), ' ');
  raw_.replace(size_t(f.offset), size_t(f.width), s);
  return st;
}

Status Record::PutLogical(int field, bool value) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type != 'L') return Err(ecBadArgument, "field " + f.name + " is not logical");
  raw_[size_t(f.offset)] = value ? 'T' : 'F';
  return st;
}

Status Record::PutDate(int field, const Date &value) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type != 'D') return Err(ecBadArgument, "field " + f.name + " is not a date");
  std::string s(8, ' ');
  if (!value.empty()) {
    if (!Date::Valid(value.year, value.month, value.day))
      return Err(ecBadArgument, "invalid date for field " + f.name);
    char b[16];
    std::snprintf(b, sizeof b, "%04d%02d%02d", value.year, value.month, value.day);
    s = b;
  }
  raw_.replace(size_t(f.offset), 8, s);
  return st;
}

Status Record::PutBlank(int field) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type == 'M') return PutMemo(field, {});
  raw_.replace(size_t(f.offset), size_t(f.width), size_t(f.width), ' ');
  return st;
}

Status Record::PutMemo(int field, const std::string &bytes) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type != 'M') return Err(ecBadArgument, "field " + f.name + " is not a memo");
  if (bytes.size() > 0x7FFF0000u) return Err(ecDataTooLarge, "memo too large");
  pendingMemo_[field] = bytes;
  return st;
}

// ---- Table internals ------------------------------------------------------------------------

struct Table::Impl {
  FileSystem *fs = nullptr;
  std::unique_ptr<File> dbf, fpt, cdx;
  std::string fptPath, cdxPath;
  uint32_t headerLen = 0, recLen = 0;
  uint8_t version = 0;
  uint32_t blockSize = 64, nextFree = 8;
  struct Tag {
    TagInfo info;
    std::unique_ptr<Expression> key, forE;
    uint8_t pad = ' ';
    std::vector<KeyEntry> keys;
  };
  std::vector<Tag> tags;
  std::unique_ptr<Expression> filter;
  int batch = 0;
  bool indexDirty = false;
  bool modified = false;
  std::vector<uint32_t> visible;
  bool visibleValid = false;
};

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

namespace {

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

}  // namespace

Status Table::Create(const std::string &path, const std::vector<FieldDef> &fields, Flavour flavour,
                     int memoBlockSize, FileSystem &fs) {
  if (fields.empty()) return Err(ecNoFieldsDefined, "a table needs at least one field");
  if (fields.size() > 255) return Err(ecBadFieldList, "too many fields");
  if (fs.Exists(path)) return Err(ecAccessDenied, "the table " + path + " exists already");
  bool memo = false;
  size_t recLen = 1;
  std::vector<std::string> seen;
  for (auto &f : fields) {
    std::string n = UpperStr(f.name);
    if (!ValidFieldName(n)) return Err(ecBadFieldList, "bad field name \"" + f.name + "\"");
    if (std::find(seen.begin(), seen.end(), n) != seen.end())
      return Err(ecBadFieldList, "field " + n + " defined twice");
    seen.push_back(n);
    char t = char(std::toupper(uint8_t(f.type)));
    int w = f.width, dec = f.decimals;
    bool ok = false;
    switch (t) {
      case 'C':
        ok = w >= 1 && w <= 254 && dec == 0;
        break;
      case 'N':
        ok = w >= 1 && w <= 20 && dec >= 0 && (dec == 0 || w >= dec + 2);
        break;
      case 'D':
        ok = w == 8 || w == 0;
        w = 8;
        break;
      case 'L':
        ok = w == 1 || w == 0;
        w = 1;
        break;
      case 'M':
        ok = true;
        w = flavour == Flavour::VisualFoxPro ? 4 : 10;
        memo = true;
        break;
      default:
        break;
    }
    if (!ok) return Err(ecBadFieldList, "bad type or width for field " + n);
    recLen += size_t(w);
  }
  if (recLen > 65500) return Err(ecBadFieldList, "record too long");
  int bs = memoBlockSize;
  if (bs <= 0) bs = 64;
  if (bs <= 32) bs *= 512;  // SET BLOCKSIZE convention: small numbers count 512-byte units
  if (bs > 65535) return Err(ecBadArgument, "memo block size too large");

  size_t n = fields.size();
  size_t headerLen = 32 + 32 * n + 1 + (flavour == Flavour::VisualFoxPro ? 263 : 0);
  std::string h(headerLen + 1, '\0');
  auto *p = reinterpret_cast<uint8_t *>(h.data());
  p[0] = flavour == Flavour::VisualFoxPro ? 0x30 : (memo ? 0xF5 : 0x03);
  putLe16(p + 8, uint16_t(headerLen));
  putLe16(p + 10, uint16_t(recLen));
  p[28] = (flavour == Flavour::VisualFoxPro && memo) ? 0x02 : 0x00;
  p[29] = 0x03;  // Windows ANSI
  uint32_t off = 1;
  for (size_t i = 0; i < n; ++i) {
    uint8_t *d = p + 32 + 32 * i;
    std::string nm = UpperStr(fields[i].name);
    std::memcpy(d, nm.data(), nm.size());
    char t = char(std::toupper(uint8_t(fields[i].type)));
    d[11] = uint8_t(t);
    putLe32(d + 12, off);
    int w = t == 'D'   ? 8
            : t == 'L' ? 1
            : t == 'M' ? (flavour == Flavour::VisualFoxPro ? 4 : 10)
                       : fields[i].width;
    d[16] = uint8_t(w);
    d[17] = uint8_t(t == 'N' ? fields[i].decimals : 0);
    off += uint32_t(w);
  }
  p[32 + 32 * n] = 0x0D;
  p[headerLen] = 0x1A;
  {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    p[1] = uint8_t(tm.tm_year % 100);
    p[2] = uint8_t(tm.tm_mon + 1);
    p[3] = uint8_t(tm.tm_mday);
  }
  // An index left behind by an earlier table of this name would be opened with the new one
  // and describe rows that no longer exist; it is derived data, so it goes.
  {
    std::string cdx = FindSibling(fs, path, "cdx");
    if (fs.Exists(cdx)) {
      Result r = fs.Remove(cdx);
      if (r != ecOK) return IoErr(r, "removing the old index " + cdx);
    }
  }
  // The memo file first: a DBF that exists is taken as a finished table.
  if (memo) {
    std::string fptPath = FindSibling(fs, path, "fpt");
    std::unique_ptr<File> f;
    Result r = fs.Open(fptPath, OpenMode::CreateTruncate, &f);
    if (r != ecOK) return IoErr(r, "creating " + fptPath);
    std::string m(512, '\0');
    uint32_t first = uint32_t((512 + bs - 1) / bs);
    putBe32(reinterpret_cast<uint8_t *>(m.data()), first);
    putBe16(reinterpret_cast<uint8_t *>(m.data()) + 6, uint16_t(bs));
    if ((r = f->WriteAt(0, m.data(), m.size())) != ecOK || (r = f->Sync()) != ecOK)
      return IoErr(r, "writing " + fptPath);
  }
  std::string tmp = path + ".new~";
  std::unique_ptr<File> f;
  Result r = fs.Open(tmp, OpenMode::CreateTruncate, &f);
  if (r != ecOK) return IoErr(r, "creating " + path);
  if ((r = f->WriteAt(0, h.data(), h.size())) != ecOK || (r = f->Sync()) != ecOK) {
    f.reset();
    fs.Remove(tmp);
    return IoErr(r, "writing " + path);
  }
  f.reset();
  if ((r = fs.Rename(tmp, path)) != ecOK) {
    fs.Remove(tmp);
    return IoErr(r, "creating " + path);
  }
  return Status::Ok();
}

namespace {

// Finishes (or discards) an interrupted pack before the table is read.
Status RecoverPack(FileSystem &fs, const std::string &path, const std::string &fptPath) {
  std::string journal = path + ".pk!";
  if (fs.Exists(journal)) {
    Result r;
    if (fs.Exists(fptPath + ".pk~") && (r = fs.Rename(fptPath + ".pk~", fptPath)) != ecOK)
      return IoErr(r, "finishing an interrupted pack");
    if (fs.Exists(path + ".pk~") && (r = fs.Rename(path + ".pk~", path)) != ecOK)
      return IoErr(r, "finishing an interrupted pack");
    fs.Remove(journal);
    return Status::Ok();
  }
  fs.Remove(path + ".pk~");
  fs.Remove(fptPath + ".pk~");
  return Status::Ok();
}

}  // namespace

Status Table::Open(const std::string &path, const Settings &settings, std::unique_ptr<Table> *out,
                   FileSystem &fs) {
  std::unique_ptr<Table> t(new Table());
  Impl &d = *t->d_;
  d.fs = &fs;
  t->path_ = path;
  t->settings_ = settings;
  Result r = fs.Open(path, OpenMode::ReadWrite, &d.dbf);
  if (r != ecOK)
    return Err(r, "cannot open " + path + (r == ecFileNotFound ? ": no such file" : ""));
  if (d.dbf->LockExclusive() != ecOK)
    return Err(ecAccessDenied, "the table " + path + " is in use by another program");
  std::string fptGuess = FindSibling(fs, path, "fpt");
  if (fs.Exists(path + ".pk!")) {
    Status st = RecoverPack(fs, path, fptGuess);
    if (!st) return st;
    d.dbf.reset();
    if ((r = fs.Open(path, OpenMode::ReadWrite, &d.dbf)) != ecOK)
      return Err(r, "cannot open " + path);
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
  // Trust the header count, but never beyond what the file holds (a crash before the count
  // was written leaves the last row uncounted; one after a torn header cannot invent rows).
  uint64_t room = (size - d.headerLen) / d.recLen;
  t->recCount_ = uint32_t(std::min<uint64_t>(count, room));
  const bool countReconciled = t->recCount_ != count;

  bool hasMemo = std::any_of(t->fields_.begin(), t->fields_.end(),
                             [](const FieldInfo &f) { return f.type == 'M'; });
  if (hasMemo) {
    d.fptPath = fptGuess;
    if (!fs.Exists(d.fptPath))
      return Err(ecFileNotFound, "the memo file of " + path + " is missing");
    if ((r = fs.Open(d.fptPath, OpenMode::ReadWrite, &d.fpt)) != ecOK)
      return Err(r, "cannot open the memo file " + d.fptPath);
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
      return Err(r, "cannot open the index file " + cdxPath);
    if (d.cdx->LockExclusive() != ecOK)
      return Err(ecAccessDenied, "the index file " + cdxPath + " is in use by another program");
    t->LoadIndex();
  }
  // Only an open that succeeds writes the reconciled count back: a failed open leaves the
  // files exactly as it found them.
  if (countReconciled) d.modified = true;
  t->recno_ = t->recCount_ + 1;
  *out = std::move(t);
  return Status::Ok();
}

// ---- Index ----------------------------------------------------------------------------------

Status Table::ParseTag(const TagInfo &info, int forcedKeyLen, void *tagOut) {
  auto &t = *static_cast<Impl::Tag *>(tagOut);
  t.info = info;
  Status st = Expression::Parse(info.key, fields_, &t.key);
  if (!st) return st;
  char type = t.key->ResultType();
  int len = forcedKeyLen > 0 ? forcedKeyLen
            : type == 'C'    ? t.key->ResultWidth()
            : type == 'L'    ? 1
                             : 8;
  if (len < 1 || len > kCdxMaxKey)
    return Err(ecKeyTooLong, "the key of tag " + info.name + " is empty or longer than 240 bytes");
  t.info.keyLength = len;
  t.pad = type == 'C' ? ' ' : 0;
  t.forE.reset();
  if (!info.forExpr.empty()) {
    st = Expression::Parse(info.forExpr, fields_, &t.forE);
    if (!st) return st;
    if (t.forE->ResultType() != 'L')
      return Err(ecBadArgument,
                 "the condition of tag " + info.name + " is not a logical expression");
  }
  return Status::Ok();
}

std::string Table::KeyOf(size_t tag, const std::string &raw, uint32_t recno) const {
  const Impl::Tag &t = d_->tags[tag];
  EvalContext c{&fields_, &raw, recno, settings_.exact};
  Value v = t.key->Eval(c);
  std::string k;
  switch (v.type) {
    case 'C':
      k = v.s;
      break;
    case 'N':
      k = NumericKey(v.n);
      break;
    case 'D':
      k = DateKey(v.jdn);
      break;
    default:
      k = v.b ? "T" : "F";
      break;
  }
  k.resize(size_t(t.info.keyLength), char(t.pad));
  return k;
}

bool Table::ForOf(size_t tag, const std::string &raw, uint32_t recno) const {
  const Impl::Tag &t = d_->tags[tag];
  if (!t.forE) return true;
  EvalContext c{&fields_, &raw, recno, settings_.exact};
  return t.forE->EvalLogical(c);
}

Status Table::ScanAll(const std::function<void(uint32_t, const std::string &)> &fn) {
  Impl &d = *d_;
  uint32_t per = std::max<uint32_t>(1, (1u << 18) / d.recLen);
  std::string buf;
  for (uint32_t first = 1; first <= recCount_; first += per) {
    uint32_t n = std::min(per, recCount_ - first + 1);
    buf.resize(size_t(n) * d.recLen);
    Result r = d.dbf->ReadAt(d.headerLen + uint64_t(first - 1) * d.recLen, buf.data(), buf.size());
    if (r != ecOK) return IoErr(r, "reading " + path_);
    std::string raw;
    for (uint32_t i = 0; i < n; ++i) {
      raw.assign(buf, size_t(i) * d.recLen, d.recLen);
      fn(first + i, raw);
    }
  }
  return Status::Ok();
}

Status Table::ComputeKeys(size_t onlyTag) {
  Impl &d = *d_;
  for (size_t i = 0; i < d.tags.size(); ++i)
    if (onlyTag == size_t(-1) || onlyTag == i) d.tags[i].keys.clear();
  Status st = ScanAll([&](uint32_t recno, const std::string &raw) {
    for (size_t i = 0; i < d.tags.size(); ++i)
      if ((onlyTag == size_t(-1) || onlyTag == i) && ForOf(i, raw, recno))
        d.tags[i].keys.push_back({KeyOf(i, raw, recno), recno});
  });
  for (size_t i = 0; i < d.tags.size(); ++i) {
    if (onlyTag != size_t(-1) && onlyTag != i) continue;
    auto &k = d.tags[i].keys;
    std::sort(k.begin(), k.end());
    if (d.tags[i].info.unique)  // the lowest record of each key value stays
      k.erase(std::unique(k.begin(), k.end(),
                          [](const KeyEntry &a, const KeyEntry &b) { return a.key == b.key; }),
              k.end());
  }
  return st;
}

void Table::LoadIndex() {
  Impl &d = *d_;
  auto damaged = [&](const std::string &m) {
    indexDamaged_ = true;
    if (indexProblem_.empty()) indexProblem_ = m;
  };
  uint64_t size = 0;
  if (d.cdx->Size(&size) != ecOK || size > (uint64_t(1) << 31))
    return damaged("index file unreadable");
  std::string img(size_t(size), '\0');
  if (d.cdx->ReadAt(0, img.data(), img.size()) != ecOK) return damaged("index file unreadable");
  std::vector<CdxTag> fileTags;
  Status st = ReadCdx(img, &fileTags);
  if (!st) return damaged(st.message);
  std::vector<std::vector<KeyEntry>> fileKeys;
  for (auto &ft : fileTags) {
    Impl::Tag t;
    st = ParseTag(ft.info, ft.info.keyLength, &t);
    if (!st) {
      damaged("tag " + ft.info.name + ": " + st.message);
      continue;
    }
    std::vector<KeyEntry> keys;
    st = ReadTagKeys(img, ft.headerOffset, t.info.keyLength, t.pad, &keys);
    if (!st) damaged("tag " + ft.info.name + ": " + st.message);
    fileKeys.push_back(std::move(keys));
    d.tags.push_back(std::move(t));
  }
  // Navigation always uses keys computed from the rows; the file's keys only have to agree.
  ComputeKeys();
  for (size_t i = 0; i < d.tags.size(); ++i) {
    if (!indexDamaged_ && d.tags[i].keys != fileKeys[i])
      damaged("tag " + d.tags[i].info.name + " does not match the table (" +
              std::to_string(fileKeys[i].size()) + " keys in the index file, " +
              std::to_string(d.tags[i].keys.size()) + " expected)");
  }
  if (!d.tags.empty()) order_ = 1;
}

Status Table::WriteIndex() {
  Impl &d = *d_;
  std::vector<CdxTag> out;
  for (auto &t : d.tags) {
    CdxTag c;
    c.info = t.info;
    c.pad = t.pad;
    c.keys = t.keys;
    out.push_back(std::move(c));
  }
  std::string img = BuildCdx(out);
  std::string tmp = d.cdxPath + ".tmp~";
  std::unique_ptr<File> f;
  Result r = d.fs->Open(tmp, OpenMode::CreateTruncate, &f);
  if (r != ecOK) return IoErr(r, "writing the index file");
  if ((r = f->LockExclusive()) != ecOK || (r = f->WriteAt(0, img.data(), img.size())) != ecOK ||
      (settings_.durable && (r = f->Sync()) != ecOK)) {
    f.reset();
    d.fs->Remove(tmp);
    return IoErr(r, "writing the index file");
  }
  if ((r = d.fs->Rename(tmp, d.cdxPath)) != ecOK) {
    f.reset();
    d.fs->Remove(tmp);
    return IoErr(r, "writing the index file");
  }
  d.cdx = std::move(f);
  d.indexDirty = false;
  // Other tools attach the structural index only when the table says it has one.
  uint8_t flags = 0;
  if (d.dbf->ReadAt(28, &flags, 1) == ecOK && !(flags & 0x01)) {
    flags |= 0x01;
    if ((r = d.dbf->WriteAt(28, &flags, 1)) != ecOK) return IoErr(r, "writing the table header");
  }
  return Status::Ok();
}

Status Table::IndexChanged() {
  d_->indexDirty = true;
  if (d_->batch > 0 || d_->tags.empty()) return Status::Ok();
  Status st = WriteIndex();
  if (!st) {
    // The row itself is saved; failing the call would invite the caller to save it again.
    // The index stays dirty (retried at the next write or close) and is reported as damaged.
    indexDamaged_ = true;
    indexProblem_ = st.message;
  }
  return Status::Ok();
}

void Table::Changed() {
  ++changes_;
  d_->visibleValid = false;
  d_->modified = true;
}

void Table::RemoveKeys(uint32_t recno, const std::string &raw) {
  for (size_t i = 0; i < d_->tags.size(); ++i) {
    auto &k = d_->tags[i].keys;
    if (!ForOf(i, raw, recno)) continue;
    KeyEntry e{KeyOf(i, raw, recno), recno};
    auto it = std::lower_bound(k.begin(), k.end(), e);
    if (it != k.end() && *it == e) k.erase(it);
  }
}

void Table::AddKeys(uint32_t recno, const std::string &raw) {
  for (size_t i = 0; i < d_->tags.size(); ++i) {
    if (!ForOf(i, raw, recno)) continue;
    auto &k = d_->tags[i].keys;
    KeyEntry e{KeyOf(i, raw, recno), recno};
    auto it = std::lower_bound(k.begin(), k.end(), e);
    if (it != k.end() && *it == e) continue;
    k.insert(it, std::move(e));
  }
  for (size_t i = 0; i < d_->tags.size(); ++i)
    if (d_->tags[i].info.unique) ComputeKeys(i);
}

int Table::TagCount() const {
  return int(d_->tags.size());
}

TagInfo Table::Tag(int order) const {
  if (order < 1 || order > TagCount()) return {};
  return d_->tags[size_t(order - 1)].info;
}

std::string Table::TagName(int order) const {
  return Tag(order).name;
}

int Table::TagArea(const std::string &name) const {
  std::string u = UpperStr(name);
  for (size_t i = 0; i < d_->tags.size(); ++i)
    if (UpperStr(d_->tags[i].info.name) == u) return int(i + 1);
  return 0;
}

Status Table::SetOrder(int order) {
  if (order < 0 || order > TagCount()) return Err(ecBadArgument, "no such index order");
  order_ = order;
  d_->visibleValid = false;
  ++changes_;
  return Status::Ok();
}

Status Table::IndexTag(const std::string &tag, const std::string &key, const std::string &forExpr,
                       bool descending, bool unique) {
  std::string name = UpperStr(tag);
  if (!ValidFieldName(name)) return Err(ecBadArgument, "bad tag name \"" + tag + "\"");
  if (key.size() + forExpr.size() + 2 > 512)
    return Err(ecKeyTooLong, "the expressions of tag " + name + " are too long");
  Impl::Tag t;
  TagInfo info;
  info.name = name;
  info.key = key;
  info.forExpr = forExpr;
  info.descending = descending;
  info.unique = unique;
  Status st = ParseTag(info, 0, &t);
  if (!st) return st;
  Impl &d = *d_;
  if (d.cdxPath.empty()) d.cdxPath = FindSibling(*d.fs, path_, "cdx");
  int existing = TagArea(name);
  size_t idx;
  if (existing) {
    idx = size_t(existing - 1);
    d.tags[idx] = std::move(t);
  } else {
    d.tags.push_back(std::move(t));
    idx = d.tags.size() - 1;
  }
  if (!(st = ComputeKeys(idx))) return st;
  if (!(st = WriteIndex())) return st;
  order_ = int(idx + 1);
  d.visibleValid = false;
  ++changes_;
  return Status::Ok();
}

Status Table::CloseIndexes() {
  Status st;
  if (d_->indexDirty && !d_->tags.empty()) st = WriteIndex();
  d_->cdx.reset();
  d_->tags.clear();
  d_->indexDirty = false;
  order_ = 0;
  indexDamaged_ = false;
  indexProblem_.clear();
  d_->visibleValid = false;
  ++changes_;
  return st;
}

Status Table::Reindex() {
  if (d_->tags.empty()) {
    indexDamaged_ = false;
    indexProblem_.clear();
    return Status::Ok();
  }
  Status st = ComputeKeys();
  if (st) st = WriteIndex();
  if (st) {
    indexDamaged_ = false;
    indexProblem_.clear();
  }
  d_->visibleValid = false;
  ++changes_;
  return st;
}

IndexReport Table::CheckIndexes() {
  IndexReport rep;
  Impl &d = *d_;
  auto fail = [&](const std::string &m) {
    rep.ok = false;
    rep.problems.push_back(m);
  };
  if (d.tags.empty()) return rep;
  if (d.indexDirty) {
    fail("index changes are not yet written (inside a batch)");
    return rep;
  }
  if (!d.cdx) {
    fail("the index file is not open");
    return rep;
  }
  uint64_t size = 0;
  std::string img;
  if (d.cdx->Size(&size) != ecOK || size > (uint64_t(1) << 31)) {
    fail("the index file cannot be read");
    return rep;
  }
  img.resize(size_t(size));
  if (d.cdx->ReadAt(0, img.data(), img.size()) != ecOK) {
    fail("the index file cannot be read");
    return rep;
  }
  std::vector<CdxTag> fileTags;
  Status st = ReadCdx(img, &fileTags);
  if (!st) {
    fail(st.message);
    return rep;
  }
  if (!ComputeKeys()) fail("the table cannot be read");
  for (auto &t : d.tags) {
    auto it = std::find_if(fileTags.begin(), fileTags.end(),
                           [&](const CdxTag &f) { return UpperStr(f.info.name) == t.info.name; });
    if (it == fileTags.end()) {
      fail("tag " + t.info.name + " is missing from the index file");
      continue;
    }
    if (it->info.key != t.info.key || it->info.forExpr != t.info.forExpr ||
        it->info.descending != t.info.descending || it->info.keyLength != t.info.keyLength) {
      fail("tag " + t.info.name + " has a different definition in the index file");
      continue;
    }
    std::vector<KeyEntry> keys;
    st = ReadTagKeys(img, it->headerOffset, t.info.keyLength, t.pad, &keys);
    if (!st) {
      fail("tag " + t.info.name + ": " + st.message);
      continue;
    }
    if (keys != t.keys) {
      size_t missing = 0, extra = 0;
      for (auto &k : t.keys)
        if (!std::binary_search(keys.begin(), keys.end(), k)) ++missing;
      for (auto &k : keys)
        if (!std::binary_search(t.keys.begin(), t.keys.end(), k)) ++extra;
      fail("tag " + t.info.name + ": " + std::to_string(missing) + " rows missing, " +
           std::to_string(extra) + " stale entries");
    }
  }
  return rep;
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
  if (r != ecOK) return IoErr(r, "writing " + path_);
  if (!(st = WriteHeaderCount(*d.dbf, recCount_ + 1))) return st;
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

// ---- Pack, batches, close -------------------------------------------------------------------

Status Table::Pack() {
  Impl &d = *d_;
  FileSystem &fs = *d.fs;
  std::string tmpDbf = path_ + ".pk~", tmpFpt = d.fptPath + ".pk~", journal = path_ + ".pk!";
  std::unique_ptr<File> nd, nf;
  auto cleanup = [&](Status st) {
    nd.reset();
    nf.reset();
    fs.Remove(tmpDbf);
    if (d.fpt) fs.Remove(tmpFpt);
    return st;
  };
  Result r = fs.Open(tmpDbf, OpenMode::CreateTruncate, &nd);
  if (r != ecOK || (r = nd->LockExclusive()) != ecOK) return cleanup(IoErr(r, "packing " + path_));
  std::string header(d.headerLen, '\0');
  if ((r = d.dbf->ReadAt(0, header.data(), header.size())) != ecOK)
    return cleanup(IoErr(r, "packing " + path_));
  uint32_t newNext = 0;
  if (d.fpt) {
    if ((r = fs.Open(tmpFpt, OpenMode::CreateTruncate, &nf)) != ecOK ||
        (r = nf->LockExclusive()) != ecOK)
      return cleanup(IoErr(r, "packing the memo file"));
    newNext = (512 + d.blockSize - 1) / d.blockSize;
    std::string mh(size_t(newNext) * d.blockSize, '\0');
    putBe16(reinterpret_cast<uint8_t *>(mh.data()) + 6, uint16_t(d.blockSize));
    if ((r = nf->WriteAt(0, mh.data(), mh.size())) != ecOK)
      return cleanup(IoErr(r, "packing the memo file"));
  }
  Status err;
  uint32_t newCount = 0;
  std::string out;
  uint64_t written = d.headerLen;
  Status st = ScanAll([&](uint32_t recno, const std::string &raw) {
    if (!err.ok() || raw[0] == '*') return;
    Record rec = BlankRecord();
    rec.raw_ = raw;
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].type != 'M' || !err.ok()) continue;
      std::string text;
      Status ms = ReadMemo(rec, int(i), &text);
      if (!ms) {
        // Refuse to pack rather than drop a row's text.
        err = Err(ms.code, "record " + std::to_string(recno) + ": " + ms.message);
        return;
      }
      uint32_t block = 0;
      if (!text.empty()) {
        uint64_t total = 8 + text.size();
        uint32_t nb = uint32_t((total + d.blockSize - 1) / d.blockSize);
        std::string buf(size_t(nb) * d.blockSize, '\0');
        putBe32(reinterpret_cast<uint8_t *>(buf.data()), 1);
        putBe32(reinterpret_cast<uint8_t *>(buf.data()) + 4, uint32_t(text.size()));
        std::memcpy(buf.data() + 8, text.data(), text.size());
        if ((r = nf->WriteAt(uint64_t(newNext) * d.blockSize, buf.data(), buf.size())) != ecOK) {
          err = IoErr(r, "packing the memo file");
          return;
        }
        block = newNext;
        newNext += nb;
      }
      const FieldInfo &f = fields_[i];
      if (f.width == 4) {
        putLe32(reinterpret_cast<uint8_t *>(rec.raw_.data()) + f.offset, block);
      } else {
        std::string s = block ? std::to_string(block) : std::string();
        s.insert(0, size_t(f.width) - s.size(), ' ');
        rec.raw_.replace(size_t(f.offset), size_t(f.width), s);
      }
    }
    out += rec.raw_;
    ++newCount;
    if (out.size() >= (1u << 20)) {
      if ((r = nd->WriteAt(written, out.data(), out.size())) != ecOK)
        err = IoErr(r, "packing " + path_);
      written += out.size();
      out.clear();
    }
  });
  if (!st) return cleanup(st);
  if (!err) return cleanup(err);
  out += '\x1A';
  if ((r = nd->WriteAt(written, out.data(), out.size())) != ecOK)
    return cleanup(IoErr(r, "packing " + path_));
  auto *hp = reinterpret_cast<uint8_t *>(header.data());
  putLe32(hp + 4, newCount);
  // The structural-index flag must match reality (the rebuild deletes the index file first).
  if (d.tags.empty() && !fs.Exists(d.cdxPath)) hp[28] &= uint8_t(~0x01);
  if ((r = nd->WriteAt(0, header.data(), header.size())) != ecOK ||
      (st = WriteHeaderCount(*nd, newCount), !st) || (r = nd->Sync()) != ecOK)
    return cleanup(st ? IoErr(r, "packing " + path_) : st);
  if (nf) {
    uint8_t h[4];
    putBe32(h, newNext);
    if ((r = nf->WriteAt(0, h, 4)) != ecOK || (r = nf->Sync()) != ecOK)
      return cleanup(IoErr(r, "packing the memo file"));
  }
  // From here the journal makes the swap all-or-nothing across a crash.
  {
    std::unique_ptr<File> j;
    if ((r = fs.Open(journal, OpenMode::CreateTruncate, &j)) != ecOK ||
        (r = j->WriteAt(0, "pack\n", 5)) != ecOK || (r = j->Sync()) != ecOK) {
      j.reset();
      fs.Remove(journal);
      return cleanup(IoErr(r, "packing " + path_));
    }
  }
  if (nf && (r = fs.Rename(tmpFpt, d.fptPath)) != ecOK) {
    fs.Remove(journal);
    return cleanup(IoErr(r, "packing the memo file"));
  }
  if ((r = fs.Rename(tmpDbf, path_)) != ecOK) return IoErr(r, "packing " + path_);
  fs.Remove(journal);
  d.dbf = std::move(nd);
  if (nf) d.fpt = std::move(nf);
  d.nextFree = newNext ? newNext : d.nextFree;
  recCount_ = newCount;
  recno_ = recCount_ + 1;
  eof_ = bof_ = true;
  Changed();
  d.modified = false;
  if (!d.tags.empty()) {
    // The packed table is in place; an index that cannot follow is reported, not the pack.
    if ((st = ComputeKeys()) && (st = WriteIndex())) {
      indexDamaged_ = false;
      indexProblem_.clear();
    } else {
      d.indexDirty = true;
      indexDamaged_ = true;
      indexProblem_ = st.message;
    }
  }
  return Status::Ok();
}

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
