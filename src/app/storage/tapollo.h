// Direct engine calls on the table of a dataset: creation, tags, query, pack, memo transfer.
#pragma once

#include <QString>

#include "app/storage/ttable.h"

namespace kv {

// Driver numbers accepted by CreateNew; both make FoxPro-compatible files with a compound
// index and an FPT memo file.
enum TDriver { SDENTX = 1, SDEFOX = 2, SDENSX = 3, SDECDX = 2 };

class TApollo {
 public:
  explicit TApollo(xbase::Engine &engine = xbase::DefaultEngine()) : engine_(engine) {}
  TTable *DataSource = nullptr;

  // Creation: CreateNew(file, driver, field count), CreateField per field, CreateExec.
  int CreateNew(const QString &file, int driver, int fieldCount);
  int CreateField(const QString &name, const QString &type, int width, int decimals);
  int CreateExec();

  // Tags of the structural compound index (empty file name). The new tag becomes the order.
  int IndexTag(const QString &file, const QString &tag, const QString &key, int option,
               bool descending, const QString &condition);
  int TagArea(const QString &tag);
  void SetOrder(int order);
  int IndexOrd();
  QString TagName(int order);
  bool CloseIndexes();
  bool Reindex();
  // True when the index file matched the table at open (or after Reindex); Problem tells why not.
  bool IndexOk();
  QString IndexProblem();

  void Query(const QString &expression);
  int QueryRecCount();
  int RecCount();
  bool GotoRecord(int recno);
  bool Pack();

  // The current row's memo to a file / a file's contents into the current row's memo.
  int BlobToFile(const QString &field, const QString &file);
  int Replace(const QString &field, int type, const QString &file);

  QString LastError() const { return lastError_; }

 private:
  template <class F>
  auto InArea(F &&fn);
  bool RunBrowsed(xbase::Status (xbase::Table::*op)());
  xbase::Engine &engine_;
  QString lastError_;
};

// Engine-wide settings; each property goes to the engine when set.
class TApolloEnv {
 public:
  explicit TApolloEnv(xbase::Engine &engine = xbase::DefaultEngine()) : engine_(engine) {}
  bool Deleted() const { return engine_.settings().deleted; }
  void SetDeleted(bool v);
  int LockTimeout() const { return engine_.settings().lockTimeout; }
  void SetLockTimeout(int v);
  int MemoBlockSize() const { return engine_.settings().memoBlockSize; }
  void SetMemoBlockSize(int v);
  bool Exact() const { return engine_.settings().exact; }
  void SetExact(bool v);
  bool Century() const { return engine_.settings().century; }
  void SetCentury(bool v);
  QString DateFormat() const { return QString::fromStdString(engine_.settings().dateFormat); }
  void SetDateFormat(const QString &v);
  bool SoftSeek() const { return engine_.settings().softSeek; }
  void SetSoftSeek(bool v);

 private:
  xbase::Engine &engine_;
};

}  // namespace kv
