// Creating a table's files. Several programs may start on a folder without tables at the same
// moment (the program, korvane-fax commands, the fax printer's backend), so one process at a
// time creates tables in a folder, and no step replaces or truncates a file that exists: a
// table found under the folder lock is left alone (the caller opens it); otherwise the memo
// file and then the table are written whole under names of their own and take their final
// names only where no file has them.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

#include "base/byte_order.h"
#include "base/temp_file_cleanup.h"
#include "base/work_files.h"
#include "xbase/table_internal.h"

namespace kv::xbase {

using namespace table_detail;

namespace {

// Creating takes milliseconds; a creator waits this long for another one in the same folder.
constexpr int kFolderLockMs = 10000;

std::string FolderOf(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The DBF header of a new, empty table (up to and including the end-of-file mark); refuses
// field lists the format cannot hold.
Status NewHeader(const std::vector<FieldDef> &fields, Flavour flavour, std::string *header,
                 bool *memo) {
  if (fields.empty()) return Err(ecNoFieldsDefined, "a table needs at least one field");
  if (fields.size() > 255) return Err(ecBadFieldList, "too many fields");
  *memo = false;
  size_t recLen = 1;
  std::vector<std::string> seen;
  std::vector<int> widths;
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
        *memo = true;
        break;
      default:
        break;
    }
    if (!ok) return Err(ecBadFieldList, "bad type or width for field " + n);
    recLen += size_t(w);
    widths.push_back(w);
  }
  if (recLen > 65500) return Err(ecBadFieldList, "record too long");

  size_t n = fields.size();
  size_t headerLen = 32 + 32 * n + 1 + (flavour == Flavour::VisualFoxPro ? 263 : 0);
  std::string &h = *header;
  h.assign(headerLen + 1, '\0');
  auto *p = reinterpret_cast<uint8_t *>(h.data());
  p[0] = flavour == Flavour::VisualFoxPro ? 0x30 : (*memo ? 0xF5 : 0x03);
  putLe16(p + 8, uint16_t(headerLen));
  putLe16(p + 10, uint16_t(recLen));
  p[28] = (flavour == Flavour::VisualFoxPro && *memo) ? 0x02 : 0x00;
  p[29] = 0x03;  // Windows ANSI
  uint32_t off = 1;
  for (size_t i = 0; i < n; ++i) {
    uint8_t *d = p + 32 + 32 * i;
    std::string nm = UpperStr(fields[i].name);
    std::memcpy(d, nm.data(), nm.size());
    char t = char(std::toupper(uint8_t(fields[i].type)));
    d[11] = uint8_t(t);
    putLe32(d + 12, off);
    d[16] = uint8_t(widths[i]);
    d[17] = uint8_t(t == 'N' ? fields[i].decimals : 0);
    off += uint32_t(widths[i]);
  }
  p[32 + 32 * n] = 0x0D;
  p[headerLen] = 0x1A;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  p[1] = uint8_t(tm.tm_year % 100);
  p[2] = uint8_t(tm.tm_mon + 1);
  p[3] = uint8_t(tm.tm_mday);
  return Status::Ok();
}

// The header of an empty memo file.
std::string NewMemoHeader(int memoBlockSize) {
  std::string m(512, '\0');
  putBe32(reinterpret_cast<uint8_t *>(m.data()),
          uint32_t((512 + memoBlockSize - 1) / memoBlockSize));
  putBe16(reinterpret_cast<uint8_t *>(m.data()) + 6, uint16_t(memoBlockSize));
  return m;
}

// Work files of a creation are named <file>.<pid>-<n>~ beside the file they become.
std::string WorkPrefix(const std::string &target) {
  const size_t slash = target.find_last_of('/');
  return (slash == std::string::npos ? target : target.substr(slash + 1)) + ".";
}

// A file written whole under a name only this process uses, then given its final name where
// no file has it. Until then a signal or a failure removes it.
class NewFile {
 public:
  NewFile(FileSystem &fs, std::string target)
      : fs_(fs),
        target_(std::move(target)),
        temp_(WorkFileName(FolderOf(target_), WorkPrefix(target_), "~")) {
    registered_ = RegisterTempFile(temp_);
  }
  ~NewFile() {
    if (!placed_) fs_.Remove(temp_);
    if (registered_) UnregisterTempFile(temp_);
  }
  NewFile(const NewFile &) = delete;
  NewFile &operator=(const NewFile &) = delete;

  Status Write(const std::string &bytes) {
    std::unique_ptr<File> f;
    Result r = fs_.CreateNew(temp_, &f);
    if (r != ecOK) return IoErr(r, "creating " + target_);
    if ((r = f->WriteAt(0, bytes.data(), bytes.size())) != ecOK || (r = f->Sync()) != ecOK)
      return IoErr(r, "writing " + target_);
    return Status::Ok();
  }
  // ecFileExists when another file took the name meanwhile (it is left as it is).
  Status Place() {
    Result r = fs_.RenameNoReplace(temp_, target_);
    if (r == ecFileExists) return Err(r, target_ + " exists already");
    if (r != ecOK) return IoErr(r, "creating " + target_);
    placed_ = true;
    return Status::Ok();
  }

 private:
  FileSystem &fs_;
  std::string target_, temp_;
  bool registered_ = false, placed_ = false;
};

// A memo file whose table is gone (deleted by hand) holds texts no row points at any more; it is
// moved aside under a free name rather than written over. One holding no text at all (a
// creation cut short) just goes.
Status SetAsideOrphan(FileSystem &fs, const std::string &fpt) {
  std::unique_ptr<File> f;
  uint64_t size = 0;
  if (fs.Open(fpt, OpenMode::ReadOnly, &f) == ecOK && f->Size(&size) == ecOK && size <= 512) {
    f.reset();
    Result r = fs.Remove(fpt);
    return r == ecOK ? Status::Ok() : IoErr(r, "removing the empty memo file " + fpt);
  }
  f.reset();
  for (int n = 1; n < 1000; ++n) {
    const std::string aside = fpt + ".orphan" + (n == 1 ? std::string() : std::to_string(n));
    Result r = fs.RenameNoReplace(fpt, aside);
    if (r == ecOK) return Status::Ok();
    if (r != ecFileExists)
      return IoErr(r, "moving the memo file " + fpt + " without its table aside");
  }
  return Err(ecFileExists, "no free name to move " + fpt + " aside");
}

}  // namespace

Status Table::Create(const std::string &path, const std::vector<FieldDef> &fields, Flavour flavour,
                     int memoBlockSize, FileSystem &fs) {
  std::string header;
  bool memo = false;
  Status st = NewHeader(fields, flavour, &header, &memo);
  if (!st) return st;
  int bs = memoBlockSize;
  if (bs <= 0) bs = 64;
  if (bs <= 32) bs *= 512;  // SET BLOCKSIZE convention: small numbers count 512-byte units
  if (bs > 65535) return Err(ecBadArgument, "memo block size too large");

  std::unique_ptr<FolderLock> lock;
  Result r = fs.LockFolder(FolderOf(path), kFolderLockMs, &lock);
  if (r == ecAccessDenied)
    return Err(r, "cannot create " + path + ": another program keeps creating tables there");
  if (r != ecOK) return IoErr(r, "cannot create " + path);
  if (fs.Exists(path)) return Err(ecFileExists, "the table " + path + " exists already");
  // What creators killed outright left behind.
  for (const char *ext : {"dbf", "fpt"})
    fs.ClearStaleWorkFiles(FolderOf(path), WorkPrefix(FindSibling(fs, path, ext)), "~");

  // An index left behind by an earlier table of this name would be opened with the new one
  // and describe rows that no longer exist; it is derived data, so it goes.
  std::string cdx = FindSibling(fs, path, "cdx");
  if (fs.Exists(cdx) && (r = fs.Remove(cdx)) != ecOK)
    return IoErr(r, "removing the old index " + cdx);
  // The memo file first: a DBF that exists is taken as a finished table.
  std::unique_ptr<NewFile> fpt;
  if (memo) {
    std::string fptPath = FindSibling(fs, path, "fpt");
    if (fs.Exists(fptPath) && !(st = SetAsideOrphan(fs, fptPath))) return st;
    fpt = std::make_unique<NewFile>(fs, fptPath);
    if (!(st = fpt->Write(NewMemoHeader(bs)))) return st;
  }
  NewFile dbf(fs, path);
  if (!(st = dbf.Write(header))) return st;
  if (fpt && !(st = fpt->Place())) return st;
  return dbf.Place();
}

}  // namespace kv::xbase
