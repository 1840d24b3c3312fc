#include "app/storage/tapollo.h"

#include <QFile>
#include <QFileInfo>

namespace kv {

// Every direct call works on the dataset's work area and leaves the selection as it was.
template <class F>
auto TApollo::InArea(F &&fn) {
  int area = DataSource && DataSource->Active() ? DataSource->WorkArea() : engine_.Selected();
  int prev = engine_.Select(area);
  auto result = fn(engine_.Area(area));
  engine_.Select(prev);
  return result;
}

int TApollo::CreateNew(const QString &file, int driver, int fieldCount) {
  (void)driver;  // every driver makes the same FoxPro-compatible files here
  bool ok = engine_.CreateNew(file.toStdString(), xbase::Flavour::FoxPro2, fieldCount);
  lastError_ = QString::fromStdString(engine_.LastError());
  return ok ? 1 : 0;
}

int TApollo::CreateField(const QString &name, const QString &type, int width, int decimals) {
  bool ok = !type.isEmpty() &&
            engine_.CreateField(name.toStdString(), type.at(0).toLatin1(), width, decimals);
  lastError_ = type.isEmpty() ? "no field type" : QString::fromStdString(engine_.LastError());
  return ok ? 1 : 0;
}

int TApollo::CreateExec() {
  bool ok = engine_.CreateExec();
  lastError_ = QString::fromStdString(engine_.LastError());
  return ok ? 1 : 0;
}

int TApollo::IndexTag(const QString &file, const QString &tag, const QString &key, int option,
                      bool descending, const QString &condition) {
  if (!file.isEmpty()) {
    lastError_ = "only the structural compound index is supported";
    return 0;
  }
  if (!DataSource || !DataSource->Active() || !DataSource->CheckBrowseMode()) {
    lastError_ = "the table is not open";
    return 0;
  }
  int order = InArea([&](xbase::Table *t) {
    xbase::Status st = t->IndexTag(tag.toStdString(), key.toStdString(), condition.toStdString(),
                                   descending, (option & 1) != 0);
    lastError_ = QString::fromStdString(st.message);
    return st ? t->IndexOrd() : 0;
  });
  DataSource->Resync();
  return order;
}

int TApollo::TagArea(const QString &tag) {
  if (!DataSource || !DataSource->Active()) return 0;
  return InArea([&](xbase::Table *t) { return t->TagArea(tag.toStdString()); });
}

void TApollo::SetOrder(int order) {
  if (!DataSource || !DataSource->Active() || !DataSource->CheckBrowseMode()) return;
  InArea([&](xbase::Table *t) {
    xbase::Status st = t->SetOrder(order);
    lastError_ = QString::fromStdString(st.message);
    return 0;
  });
  DataSource->Resync();
}

int TApollo::IndexOrd() {
  if (!DataSource || !DataSource->Active()) return 0;
  return InArea([&](xbase::Table *t) { return t->IndexOrd(); });
}

QString TApollo::TagName(int order) {
  if (!DataSource || !DataSource->Active()) return {};
  return InArea([&](xbase::Table *t) { return QString::fromStdString(t->TagName(order)); });
}

// Brings the dataset to browse state, runs a whole-table operation, keeps its message and
// re-reads the dataset.
bool TApollo::RunBrowsed(xbase::Status (xbase::Table::*op)()) {
  if (!DataSource || !DataSource->Active() || !DataSource->CheckBrowseMode()) return false;
  bool ok = InArea([&](xbase::Table *t) {
    xbase::Status st = (t->*op)();
    lastError_ = QString::fromStdString(st.message);
    return st.ok();
  });
  DataSource->Resync();
  return ok;
}

bool TApollo::CloseIndexes() {
  return RunBrowsed(&xbase::Table::CloseIndexes);
}

bool TApollo::Reindex() {
  return RunBrowsed(&xbase::Table::Reindex);
}

bool TApollo::IndexOk() {
  if (!DataSource || !DataSource->Active()) return true;
  return InArea([&](xbase::Table *t) { return !t->IndexDamaged(); });
}

QString TApollo::IndexProblem() {
  if (!DataSource || !DataSource->Active()) return {};
  return InArea([&](xbase::Table *t) { return QString::fromStdString(t->IndexProblem()); });
}

void TApollo::Query(const QString &expression) {
  if (!DataSource) return;
  if (!DataSource->SetFilter(expression)) lastError_ = DataSource->LastError();
}

int TApollo::QueryRecCount() {
  return DataSource ? DataSource->RowCount() : 0;
}

int TApollo::RecCount() {
  return DataSource ? DataSource->RecCount() : 0;
}

bool TApollo::GotoRecord(int recno) {
  if (!DataSource || !DataSource->GotoRecord(recno)) {
    if (DataSource) lastError_ = DataSource->LastError();
    return false;
  }
  return true;
}

bool TApollo::Pack() {
  if (!DataSource || !DataSource->Active() || !DataSource->CheckBrowseMode()) {
    lastError_ = "the table is not open";
    return false;
  }
  bool ok = InArea([&](xbase::Table *t) {
    xbase::Status st = t->Pack();
    lastError_ = QString::fromStdString(st.message);
    return st.ok();
  });
  DataSource->First();
  DataSource->Resync();
  return ok;
}

int TApollo::BlobToFile(const QString &field, const QString &file) {
  if (!DataSource || !DataSource->Active()) {
    lastError_ = "the table is not open";
    return 0;
  }
  TField *f = DataSource->FieldByName(field);
  if (!f || f->DataType() != TFieldType::ftMemo) {
    lastError_ = "no memo field " + field;
    return 0;
  }
  if (DataSource->RecNo() > DataSource->RecCount() &&
      DataSource->State() != TDataSetState::dsInsert) {
    lastError_ = "there is no current row";
    return 0;
  }
  QByteArray data = f->AsBytes();
  if (data.isEmpty()) {
    lastError_ = "the memo is empty";
    return 0;
  }
  QFile out(file);
  // A short memo only reaches the file when the buffer is flushed; that can fail too.
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(data) != data.size() ||
      !out.flush()) {
    lastError_ = "cannot write " + file + ": " + out.errorString();
    out.close();
    out.remove();
    return 0;
  }
  out.close();
  return 1;
}

int TApollo::Replace(const QString &field, int type, const QString &file) {
  (void)type;  // 8192: the contents of a file; the only transfer used
  if (!DataSource || !DataSource->Active()) {
    lastError_ = "the table is not open";
    return 0;
  }
  TField *f = DataSource->FieldByName(field);
  if (!f || f->DataType() != TFieldType::ftMemo) {
    lastError_ = "no memo field " + field;
    return 0;
  }
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) {
    lastError_ = "cannot read " + file + ": " + in.errorString();
    return 0;
  }
  QByteArray data = in.readAll();
  in.close();
  bool wasEditing = DataSource->State() == TDataSetState::dsEdit ||
                    DataSource->State() == TDataSetState::dsInsert;
  if (!DataSource->CheckBrowseMode()) {
    lastError_ = DataSource->LastError();
    return 0;
  }
  if (DataSource->RecNo() > DataSource->RecCount()) {
    lastError_ = "there is no current row";
    return 0;
  }
  bool ok = DataSource->Edit() && f->SetAsBytes(data) && DataSource->Post();
  if (!ok) {
    lastError_ = DataSource->LastError();
    DataSource->Cancel();
  }
  if (wasEditing) DataSource->Edit();
  return ok ? 1 : 0;
}

void TApolloEnv::SetDeleted(bool v) {
  engine_.settings().deleted = v;
  engine_.SettingsChanged();
}
void TApolloEnv::SetLockTimeout(int v) {
  engine_.settings().lockTimeout = v;
  engine_.SettingsChanged();
}
void TApolloEnv::SetMemoBlockSize(int v) {
  engine_.settings().memoBlockSize = v;
  engine_.SettingsChanged();
}
void TApolloEnv::SetExact(bool v) {
  engine_.settings().exact = v;
  engine_.SettingsChanged();
}
void TApolloEnv::SetCentury(bool v) {
  engine_.settings().century = v;
  engine_.SettingsChanged();
}
void TApolloEnv::SetDateFormat(const QString &v) {
  engine_.settings().dateFormat = v.toStdString();
  engine_.SettingsChanged();
}
void TApolloEnv::SetSoftSeek(bool v) {
  engine_.settings().softSeek = v;
  engine_.SettingsChanged();
}

}  // namespace kv
