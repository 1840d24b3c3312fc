// The dataset over one engine table: typed fields, a current record with its edit buffer,
// navigation, append/edit/post/delete/cancel, and change notification for views.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include "xbase/engine.h"

namespace kv {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// How the dataset presents each column. N narrower than 5 without decimals reads as a small
// integer; other N fields as floating point.
enum class TFieldType { ftString, ftDate, ftBoolean, ftSmallint, ftFloat, ftMemo };

enum class TDataEvent {
  deActiveChanged,   // opened or closed
  deStateChanged,    // browse / edit / insert
  deDataSetChanged,  // rows added, removed, reordered or refiltered: re-read everything
  deRecordChanged,   // the current row's values changed
  deScrolled,        // the current row moved
};

class TTable;

class TField {
 public:
  const QString &FieldName() const { return name_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  int Decimals() const { return decimals_; }
  bool Calculated() const { return calculated_; }

  // Values of the current record (the edit buffer while editing).
  QVariant Value() const;
  QString AsString() const;
  bool AsBoolean() const;
  QDate AsDate() const;  // null QDate for an empty date
  int AsInteger() const;
  double AsFloat() const;
  QByteArray AsBytes() const;  // memo contents
  bool IsNull() const;

  // Setting a value needs edit or insert state; false (with the table's LastError) otherwise
  // or when the value does not fit the field.
  bool SetAsString(const QString &v);
  bool SetAsBoolean(bool v);
  bool SetAsDate(const QDate &v);
  bool SetAsInteger(int v);
  bool SetAsFloat(double v);
  bool SetAsBytes(const QByteArray &v);
  bool SetValue(const QVariant &v);
  bool Clear();

 private:
  friend class TTable;
  TTable *table_ = nullptr;
  QString name_;
  TFieldType type_ = TFieldType::ftString;
  int size_ = 0;
  int decimals_ = 0;
  int index_ = -1;  // engine field index; -1 for calculated fields
  bool calculated_ = false;
  QVariant calcValue_;
};

class TTable {
 public:
  explicit TTable(xbase::Engine &engine = xbase::DefaultEngine());
  ~TTable();
  TTable(const TTable &) = delete;
  TTable &operator=(const TTable &) = delete;

  // Where the table lives: directory + file name (e.g. "KRV.DBF").
  QString DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const QString &dir) { databaseName_ = dir; }
  QString TableName() const { return tableName_; }
  void SetTableName(const QString &name) { tableName_ = name; }
  QString FilePath() const;
  // Filter applied whenever the dataset becomes active.
  QString Filter() const { return filter_; }
  bool SetFilter(const QString &expr);
  // Further index files opened with the table (kept; the structural CDX always opens).
  QStringList ExtraIndexes;

  // Opening is always exclusive; false (LastError tells why) when the table is missing,
  // damaged or held by another process.
  bool Open();
  void Close();
  bool Active() const { return area_ != 0; }
  bool SetActive(bool on);
  QString LastError() const { return lastError_; }
  // What the last open had to mend in the table file (rows restored, a count cut), for the
  // user to be told; kept after Close, empty when the file was in order.
  const QString &RecoveryNote() const { return recoveryNote_; }
  // The same note naming the table by its whole path, for commands that may be run on several
  // program directories.
  QString RecoveryReport() const;

  int FieldCount() const { return int(fields_.size()); }
  TField *Fields(int i) { return fields_.at(i).get(); }
  TField *FieldByName(const QString &name);  // nullptr when there is none
  // Calculated text fields, filled by OnCalcFields for every row read.
  void AddCalcField(const QString &name, int size);
  std::function<void(TTable &)> OnCalcFields;

  // Navigation in the engine's current order and filter.
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  int RecNo() const;  // RecCount()+1 when there is no current record
  int RecCount() const;
  bool IsEmpty();
  bool GotoRecord(int recno);

  // Editing. Post writes the row (memos first) and updates the index.
  bool Append();
  bool Insert() { return Append(); }
  bool Edit();
  bool Post();
  void Cancel();
  bool Delete();  // sets the deleted flag of the current row
  TDataSetState State() const { return state_; }

  // Rows of a view: the visible rows in order, read without moving the cursor.
  int RowCount();
  int RowOfRecNo(int recno);  // -1 when not visible
  int RecNoAtRow(int row);
  QVariant ValueAt(int row, const QString &field);

  // Change notification. Listeners run after the change; DisableControls suspends them
  // (nested), EnableControls resumes and sends deDataSetChanged.
  int AddListener(std::function<void(TDataEvent)> fn);
  void RemoveListener(int id);
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disabled_ > 0; }

  // Engine link for the direct-call component.
  xbase::Engine &engine() { return engine_; }
  int WorkArea() const { return area_; }
  xbase::Table *EngineTable() const;
  // Brings the dataset to browse state (posting a pending edit) before a direct engine call.
  bool CheckBrowseMode();
  // Re-reads the current row after the engine moved or changed it.
  void Resync();
  void SetLastError(const QString &e) { lastError_ = e; }

 private:
  friend class TField;
  void BuildFields();
  void ReadCurrent();
  void Notify(TDataEvent e);
  void CalcFields();
  xbase::Engine &engine_;
  QString databaseName_, tableName_, filter_, lastError_, recoveryNote_;
  int area_ = 0;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<std::unique_ptr<TField>> fields_;
  xbase::Record buffer_;
  int editRecNo_ = 0;
  bool eof_ = true, bof_ = true;
  std::vector<std::pair<int, std::function<void(TDataEvent)>>> listeners_;
  int nextListener_ = 1;
  int disabled_ = 0;
};

}  // namespace kv
