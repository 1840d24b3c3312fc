// One open xBase table: a DBF file, its FPT memo file and its structural CDX index.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/result_codes.h"
#include "xbase/file_io.h"

namespace kv::xbase {

// Outcome of an engine call: a result code of the program plus a readable reason.
struct Status {
  Result code = ecOK;
  std::string message;
  bool ok() const { return code == ecOK; }
  explicit operator bool() const { return ok(); }
  static Status Ok() { return {}; }
  static Status Error(Result c, std::string m) { return {c, std::move(m)}; }
};

enum class Flavour { FoxPro2, VisualFoxPro };

struct FieldDef {
  std::string name;  // at most 10 characters, compared case-insensitively
  char type = 'C';   // C N D L M
  int width = 0;
  int decimals = 0;
};

struct FieldInfo : FieldDef {
  int offset = 0;  // inside the record, after the deletion flag
};

// A calendar date; year 0 means empty (stored as eight blanks).
struct Date {
  int year = 0, month = 0, day = 0;
  bool empty() const { return year == 0; }
  bool operator==(const Date &) const = default;
  long JulianDay() const;  // 0 for an empty date
  static Date FromJulianDay(long jdn);
  static bool Valid(int y, int m, int d);
};

// Engine-wide settings (the environment component forwards its properties here).
struct Settings {
  bool deleted = false;    // navigation skips records marked deleted
  int lockTimeout = 1;     // seconds an open waits for another process to close the table
  int memoBlockSize = 64;  // block size of new memo files
  bool exact = false;      // string '=' compares full length
  bool century = false;
  std::string dateFormat = "MM/DD/YY";
  bool softSeek = false;
  bool durable = true;  // fsync at the points that order writes for crash safety
};

class Table;

// A record image: the raw bytes of one row plus memo texts waiting to be written with it.
class Record {
 public:
  Record() = default;
  const std::string &raw() const { return raw_; }
  bool deleted() const { return !raw_.empty() && raw_[0] == '*'; }
  void setDeleted(bool d) { raw_[0] = d ? '*' : ' '; }

  // Readers. Text is right-trimmed; a blank number reads 0; a blank date is empty.
  std::string GetString(int field) const;
  std::string GetRawField(int field) const;
  double GetNumber(int field) const;
  bool GetLogical(int field) const;
  bool IsBlank(int field) const;
  Date GetDate(int field) const;
  // Memo block number, 0 when the row has no memo in this field.
  uint32_t MemoBlock(int field) const;

  // Writers; they refuse values that do not fit (ecDataTooLarge) or bad dates (ecBadArgument).
  Status PutString(int field, const std::string &value);
  Status PutNumber(int field, double value);
  Status PutLogical(int field, bool value);
  Status PutDate(int field, const Date &value);
  Status PutBlank(int field);
  // The memo is written into the memo file when the record is appended or updated.
  Status PutMemo(int field, const std::string &bytes);
  bool HasPendingMemo(int field) const { return pendingMemo_.count(field) != 0; }
  const std::string *PendingMemo(int field) const;

  const std::vector<FieldInfo> &fields() const { return *fields_; }

 private:
  friend class Table;
  const std::vector<FieldInfo> *fields_ = nullptr;
  Flavour flavour_ = Flavour::FoxPro2;
  std::string raw_;
  std::map<int, std::string> pendingMemo_;
};

struct TagInfo {
  std::string name;
  std::string key;
  std::string forExpr;  // empty when the tag has no FOR condition
  bool descending = false;
  bool unique = false;
  int keyLength = 0;
};

// What the index checker found. `ok` false means the CDX does not match the table (or cannot
// be read) and should be rebuilt with Reindex().
struct IndexReport {
  bool ok = true;
  std::vector<std::string> problems;
};

class Table {
 public:
  ~Table();
  Table(const Table &) = delete;
  Table &operator=(const Table &) = delete;

  // Creates the DBF (and FPT when there are memo fields), one creator at a time per folder
  // across processes. Never replaces a file: ecFileExists when the table exists (another
  // program may just have made it; open that one).
  static Status Create(const std::string &path, const std::vector<FieldDef> &fields,
                       Flavour flavour = Flavour::FoxPro2, int memoBlockSize = 64,
                       FileSystem &fs = PosixFileSystem());
  // Opens exclusively, with the structural CDX when one exists. A table another process holds
  // beyond Settings::lockTimeout gives ecAccessDenied; a damaged file ecDataError with the
  // reason. Rows it restores (see RecoveryNote) are counted in the file's header at once.
  static Status Open(const std::string &path, const Settings &settings, std::unique_ptr<Table> *out,
                     FileSystem &fs = PosixFileSystem());
  Status Close();

  const std::string &path() const { return path_; }
  Flavour flavour() const { return flavour_; }
  const std::vector<FieldInfo> &Fields() const { return fields_; }
  int FieldIndex(const std::string &name) const;  // -1 if unknown
  uint32_t RecCount() const { return recCount_; }
  const Settings &settings() const { return settings_; }
  // Takes new engine settings (e.g. whether deleted records are skipped).
  void ApplySettings(const Settings &s);

  // Records by number (1-based).
  Record BlankRecord() const;
  Status ReadRecord(uint32_t recno, Record *out);
  Status ReadMemo(const Record &rec, int field, std::string *out);
  // Appends a record (memos first, then the row, then the header count); *recno gets its number.
  Status Append(Record &rec, uint32_t *recno);
  // Rewrites an existing record in place, updating memos and every tag.
  Status Update(uint32_t recno, Record &rec);
  Status SetDeleted(uint32_t recno, bool deleted);

  // Cursor, in the current order, honouring the filter, the FOR condition of the order's tag
  // and Settings::deleted. RecNo() is RecCount()+1 when there is no current record.
  uint32_t RecNo() const { return recno_; }
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  Status GoTop();
  Status GoBottom();
  Status Skip(long n = 1);
  // Positions on record n whatever order and filter say (ecRecordNotFound outside 1..count).
  Status Go(uint32_t recno);
  bool Visible(uint32_t recno);

  // Orders: 0 = record order, 1..TagCount() = tags in creation order.
  int TagCount() const;
  TagInfo Tag(int order) const;
  std::string TagName(int order) const;
  int TagArea(const std::string &name) const;  // 0 if no such tag
  Status SetOrder(int order);
  int IndexOrd() const { return order_; }
  // Adds (or replaces) a tag in the structural CDX and makes it the order.
  Status IndexTag(const std::string &tag, const std::string &key, const std::string &forExpr,
                  bool descending, bool unique = false);
  // Detaches the structural CDX (the file stays); record order.
  Status CloseIndexes();
  // Rebuilds every tag from the table (also repairs a damaged index).
  Status Reindex();
  // Walks the CDX file page by page and compares every tag with keys computed from the table.
  IndexReport CheckIndexes();
  // What open had to mend in the table file, for the user to be told: rows written whole
  // after the last one the header counted (restored), or a file ending inside a row (the count
  // cut to the whole rows). Empty when the file was in order.
  const std::string &RecoveryNote() const { return recoveryNote_; }
  // Set at open when the index file did not match the table; cleared by Reindex().
  bool IndexDamaged() const { return indexDamaged_; }
  const std::string &IndexProblem() const { return indexProblem_; }

  // Filter expression (empty = none). Only matching records are visited.
  Status SetFilter(const std::string &expr);
  const std::string &Filter() const { return filterText_; }
  uint32_t QueryRecCount();
  // Visible record numbers in the current order (cached until the next change).
  const std::vector<uint32_t> &VisibleRecNos();

  // Removes deleted records (renumbering), compacts the memo file, rebuilds the tags. The old
  // table and memo files are kept as <name>.bak until the packed table is in place and reads
  // back complete; a pack that fails after making them leaves them there.
  Status Pack();
  // Defers index file writes until EndBatch (the index in memory stays current).
  void BeginBatch();
  Status EndBatch();
  Status Flush();

  // Bumped on every change of rows, order or filter; lets views know their cache is stale.
  uint64_t ChangeCount() const { return changes_; }

 private:
  struct Impl;
  Table();
  void LoadIndex();
  Status ScanAll(const std::function<void(uint32_t, const std::string &)> &fn);
  Status ComputeKeys(size_t onlyTag = size_t(-1));
  Status WriteIndex();
  Status IndexChanged();
  Status WriteMemos(Record &rec);
  Status ParseTag(const TagInfo &info, int forcedKeyLen, void *tagOut);
  std::string KeyOf(size_t tag, const std::string &raw, uint32_t recno) const;
  bool ForOf(size_t tag, const std::string &raw, uint32_t recno) const;
  void RemoveKeys(uint32_t recno, const std::string &raw);
  void AddKeys(uint32_t recno, const std::string &raw);
  size_t OrderSize() const;
  uint32_t PhysRec(size_t i) const;
  long Locate(bool *exact);
  Status Seek(long phys, int dir, bool eofIfNone);
  void Changed();
  std::string path_;
  Flavour flavour_ = Flavour::FoxPro2;
  std::vector<FieldInfo> fields_;
  uint32_t recCount_ = 0;
  Settings settings_;
  uint32_t recno_ = 1;
  bool eof_ = true, bof_ = true;
  int order_ = 0;
  std::string filterText_;
  bool indexDamaged_ = false;
  std::string indexProblem_;
  std::string recoveryNote_;
  uint64_t changes_ = 0;
  std::unique_ptr<Impl> d_;
};

}  // namespace kv::xbase
