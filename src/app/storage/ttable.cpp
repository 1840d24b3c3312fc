#include "app/storage/ttable.h"

#include <QDir>

#include "base/cp1252.h"

namespace kv {

namespace {

// Table text is Windows-1252 (code page mark 0x03). Its five unassigned bytes are kept as the
// control characters of the same number, so that they survive being read and written back.
QString FromBytes(const std::string &s) {
  QString out;
  out.reserve(qsizetype(s.size()));
  for (char c : s) {
    const uint8_t b = uint8_t(c);
    const char32_t u = cp1252ToUnicode(b);
    out.append(QChar(char16_t(u ? u : b)));
  }
  return out;
}

std::string ToBytes(const QString &s) {
  std::string out;
  out.reserve(size_t(s.size()));
  for (QChar ch : s) {
    const char16_t u = ch.unicode();
    int b = unicodeToCp1252(u);
    if (b < 0 && u >= 0x80 && u < 0xA0 && cp1252ToUnicode(uint8_t(u)) == 0) b = u;
    out += b < 0 ? '?' : char(b);
  }
  return out;
}

QDate ToQDate(const xbase::Date &d) {
  return d.empty() ? QDate() : QDate(d.year, d.month, d.day);
}

}  // namespace

// ---- TField -----------------------------------------------------------------------------------

QVariant TField::Value() const {
  if (calculated_) return calcValue_;
  if (IsNull()) return QVariant();
  switch (type_) {
    case TFieldType::ftString:
      return AsString();
    case TFieldType::ftDate:
      return AsDate();
    case TFieldType::ftBoolean:
      return AsBoolean();
    case TFieldType::ftSmallint:
      return AsInteger();
    case TFieldType::ftFloat:
      return AsFloat();
    case TFieldType::ftMemo:
      return AsBytes();
  }
  return QVariant();
}

QString TField::AsString() const {
  if (calculated_) return calcValue_.toString();
  const xbase::Record &r = table_->buffer_;
  switch (type_) {
    case TFieldType::ftDate: {
      QDate d = AsDate();
      if (!d.isValid()) return QString();
      return d.toString(table_->engine_.settings().century ? "MM/dd/yyyy" : "MM/dd/yy");
    }
    case TFieldType::ftBoolean:
      return IsNull() ? QString() : AsBoolean() ? "True" : "False";
    case TFieldType::ftSmallint:
    case TFieldType::ftFloat:
      return FromBytes(r.GetString(index_)).trimmed();
    case TFieldType::ftMemo:
      return FromBytes(AsBytes().toStdString());
    default:
      return FromBytes(r.GetString(index_));
  }
}

bool TField::AsBoolean() const {
  if (calculated_) return calcValue_.toBool();
  return table_->buffer_.GetLogical(index_);
}

QDate TField::AsDate() const {
  if (calculated_) return calcValue_.toDate();
  return ToQDate(table_->buffer_.GetDate(index_));
}

int TField::AsInteger() const {
  if (calculated_) return calcValue_.toInt();
  return int(table_->buffer_.GetNumber(index_));
}

double TField::AsFloat() const {
  if (calculated_) return calcValue_.toDouble();
  return table_->buffer_.GetNumber(index_);
}

QByteArray TField::AsBytes() const {
  if (calculated_) return calcValue_.toByteArray();
  if (type_ != TFieldType::ftMemo)
    return QByteArray::fromStdString(table_->buffer_.GetRawField(index_));
  xbase::Table *t = table_->EngineTable();
  if (!t) return {};
  std::string s;
  if (!t->ReadMemo(table_->buffer_, index_, &s)) return {};
  return QByteArray::fromStdString(s);
}

bool TField::IsNull() const {
  if (calculated_) return calcValue_.isNull();
  if (type_ == TFieldType::ftMemo)
    return table_->buffer_.MemoBlock(index_) == 0 &&
           (!table_->buffer_.PendingMemo(index_) || table_->buffer_.PendingMemo(index_)->empty());
  if (type_ == TFieldType::ftDate) return table_->buffer_.GetDate(index_).empty();
  std::string raw = table_->buffer_.GetRawField(index_);
  if (type_ == TFieldType::ftBoolean) return raw.empty() || raw[0] == ' ' || raw[0] == '?';
  return raw.find_first_not_of(' ') == std::string::npos;
}

namespace {
bool Editing(TTable *t) {
  if (t->State() == TDataSetState::dsEdit || t->State() == TDataSetState::dsInsert) return true;
  t->SetLastError("the dataset is not in edit or insert state");
  return false;
}
}  // namespace

#define KV_FIELD_SET(expr)                                    \
  if (calculated_) {                                          \
    calcValue_ = v;                                           \
    return true;                                              \
  }                                                           \
  if (!Editing(table_)) return false;                         \
  xbase::Status st = (expr);                                  \
  if (!st) {                                                  \
    table_->SetLastError(QString::fromStdString(st.message)); \
    return false;                                             \
  }                                                           \
  table_->CalcFields();                                       \
  table_->Notify(TDataEvent::deRecordChanged);                \
  return true;

bool TField::SetAsString(const QString &v) {
  if (!calculated_ && type_ != TFieldType::ftString && type_ != TFieldType::ftMemo) {
    QVariant var(v);
    if (v.trimmed().isEmpty()) return Clear();
    return SetValue(var);
  }
  KV_FIELD_SET(type_ == TFieldType::ftMemo ? table_->buffer_.PutMemo(index_, ToBytes(v))
                                           : table_->buffer_.PutString(index_, ToBytes(v)))
}

bool TField::SetAsBoolean(bool v) {
  KV_FIELD_SET(table_->buffer_.PutLogical(index_, v))
}

bool TField::SetAsDate(const QDate &v) {
  KV_FIELD_SET(table_->buffer_.PutDate(
      index_, v.isValid() ? xbase::Date{v.year(), v.month(), v.day()} : xbase::Date{}))
}

bool TField::SetAsInteger(int v) {
  KV_FIELD_SET(table_->buffer_.PutNumber(index_, double(v)))
}

bool TField::SetAsFloat(double v) {
  KV_FIELD_SET(table_->buffer_.PutNumber(index_, v))
}

bool TField::SetAsBytes(const QByteArray &v) {
  KV_FIELD_SET(type_ == TFieldType::ftMemo ? table_->buffer_.PutMemo(index_, v.toStdString())
                                           : table_->buffer_.PutString(index_, v.toStdString()))
}

bool TField::Clear() {
  QVariant v;
  KV_FIELD_SET(table_->buffer_.PutBlank(index_))
}

#undef KV_FIELD_SET

bool TField::SetValue(const QVariant &v) {
  if (calculated_) {
    calcValue_ = v;
    return true;
  }
  if (v.isNull()) return Clear();
  switch (type_) {
    case TFieldType::ftString:
    case TFieldType::ftMemo:
      return SetAsString(v.toString());
    case TFieldType::ftBoolean: {
      if (v.typeId() == QMetaType::QString) {
        QString s = v.toString().trimmed().toUpper();
        return SetAsBoolean(s.startsWith('T') || s.startsWith('Y'));
      }
      return SetAsBoolean(v.toBool());
    }
    case TFieldType::ftDate: {
      QDate d = v.toDate();
      if (!d.isValid() && v.typeId() == QMetaType::QString) {
        d = QDate::fromString(v.toString().trimmed(), Qt::ISODate);
        if (!d.isValid()) d = QDate::fromString(v.toString().trimmed(), "MM/dd/yyyy");
      }
      if (!d.isValid()) {
        table_->SetLastError("\"" + v.toString() + "\" is not a date");
        return false;
      }
      return SetAsDate(d);
    }
    case TFieldType::ftSmallint:
    case TFieldType::ftFloat: {
      bool ok = false;
      double d =
          v.typeId() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
      if (!ok) {
        table_->SetLastError("\"" + v.toString() + "\" is not a number");
        return false;
      }
      return SetAsFloat(d);
    }
  }
  return false;
}

// ---- TTable -----------------------------------------------------------------------------------

TTable::TTable(xbase::Engine &engine) : engine_(engine) {}

TTable::~TTable() {
  listeners_.clear();
  if (Active()) Close();
}

QString TTable::FilePath() const {
  if (databaseName_.isEmpty()) return tableName_;
  return QDir(databaseName_).filePath(tableName_);
}

QString TTable::RecoveryReport() const {
  if (recoveryNote_.startsWith(tableName_))
    return FilePath() + recoveryNote_.mid(tableName_.size());
  return recoveryNote_;
}

xbase::Table *TTable::EngineTable() const {
  return area_ ? engine_.Area(area_) : nullptr;
}

bool TTable::SetFilter(const QString &expr) {
  filter_ = expr;
  xbase::Table *t = EngineTable();
  if (!t) return true;
  if (!CheckBrowseMode()) return false;
  xbase::Status st = t->SetFilter(ToBytes(expr));
  if (!st) {
    lastError_ = QString::fromStdString(st.message);
    return false;
  }
  Resync();
  return true;
}

bool TTable::Open() {
  if (Active()) return true;
  int prev = engine_.Selected();
  int area = engine_.Use(FilePath().toStdString());
  recoveryNote_.clear();
  if (!area) {
    lastError_ = QString::fromStdString(engine_.LastError());
    engine_.Select(prev);
    return false;
  }
  area_ = area;
  engine_.Select(prev ? prev : area);
  BuildFields();
  state_ = TDataSetState::dsBrowse;
  if (!filter_.isEmpty()) {
    xbase::Status st = EngineTable()->SetFilter(ToBytes(filter_));
    if (!st) lastError_ = QString::fromStdString(st.message);
  }
  xbase::Table *t = EngineTable();
  recoveryNote_ = QString::fromStdString(t->RecoveryNote());
  t->GoTop();
  eof_ = t->Eof();
  bof_ = true;
  ReadCurrent();
  Notify(TDataEvent::deActiveChanged);
  return true;
}

void TTable::Close() {
  if (!Active()) return;
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Cancel();
  engine_.CloseArea(area_);
  area_ = 0;
  state_ = TDataSetState::dsInactive;
  std::vector<std::unique_ptr<TField>> calc;
  for (auto &f : fields_)
    if (f->calculated_) calc.push_back(std::move(f));
  fields_ = std::move(calc);
  buffer_ = xbase::Record();
  eof_ = bof_ = true;
  Notify(TDataEvent::deActiveChanged);
}

bool TTable::SetActive(bool on) {
  if (on) return Open();
  Close();
  return true;
}

void TTable::BuildFields() {
  std::vector<std::unique_ptr<TField>> calc;
  for (auto &f : fields_)
    if (f->calculated_) calc.push_back(std::move(f));
  fields_.clear();
  const auto &defs = EngineTable()->Fields();
  for (size_t i = 0; i < defs.size(); ++i) {
    auto f = std::make_unique<TField>();
    f->table_ = this;
    f->name_ = QString::fromStdString(defs[i].name);
    f->size_ = defs[i].width;
    f->decimals_ = defs[i].decimals;
    f->index_ = int(i);
    switch (defs[i].type) {
      case 'D':
        f->type_ = TFieldType::ftDate;
        break;
      case 'L':
        f->type_ = TFieldType::ftBoolean;
        break;
      case 'M':
        f->type_ = TFieldType::ftMemo;
        break;
      case 'N':
      case 'F':
        f->type_ = defs[i].decimals > 0 || defs[i].width >= 5 ? TFieldType::ftFloat
                                                              : TFieldType::ftSmallint;
        break;
      default:
        f->type_ = TFieldType::ftString;
        break;
    }
    fields_.push_back(std::move(f));
  }
  for (auto &f : calc) fields_.push_back(std::move(f));
}

TField *TTable::FieldByName(const QString &name) {
  for (auto &f : fields_)
    if (f->name_.compare(name, Qt::CaseInsensitive) == 0) return f.get();
  return nullptr;
}

void TTable::AddCalcField(const QString &name, int size) {
  if (FieldByName(name)) return;
  auto f = std::make_unique<TField>();
  f->table_ = this;
  f->name_ = name;
  f->size_ = size;
  f->calculated_ = true;
  fields_.push_back(std::move(f));
}

void TTable::CalcFields() {
  for (auto &f : fields_)
    if (f->calculated_) f->calcValue_ = QVariant();
  if (OnCalcFields && Active()) OnCalcFields(*this);
}

void TTable::ReadCurrent() {
  xbase::Table *t = EngineTable();
  if (!t) return;
  if (t->Eof() || t->RecNo() > t->RecCount() || !t->ReadRecord(t->RecNo(), &buffer_))
    buffer_ = t->BlankRecord();
  CalcFields();
}

void TTable::Notify(TDataEvent e) {
  if (disabled_ > 0) return;
  auto copy = listeners_;
  for (auto &[id, fn] : copy) fn(e);
}

int TTable::AddListener(std::function<void(TDataEvent)> fn) {
  listeners_.emplace_back(nextListener_, std::move(fn));
  return nextListener_++;
}

void TTable::RemoveListener(int id) {
  std::erase_if(listeners_, [id](const auto &p) { return p.first == id; });
}

void TTable::DisableControls() {
  ++disabled_;
}

void TTable::EnableControls() {
  if (disabled_ > 0 && --disabled_ == 0) Notify(TDataEvent::deDataSetChanged);
}

bool TTable::CheckBrowseMode() {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return Post();
  return Active();
}

void TTable::Resync() {
  xbase::Table *t = EngineTable();
  if (!t) return;
  // Stay on the current row if it is still visible, else go to the first one.
  if (t->RecNo() <= t->RecCount() && !t->Eof() && t->Visible(t->RecNo())) {
    eof_ = bof_ = false;
  } else {
    t->GoTop();
    eof_ = t->Eof();
    bof_ = true;
  }
  ReadCurrent();
  Notify(TDataEvent::deDataSetChanged);
}

void TTable::First() {
  xbase::Table *t = EngineTable();
  if (!t || !CheckBrowseMode()) return;
  t->GoTop();
  eof_ = t->Eof();
  bof_ = true;
  ReadCurrent();
  Notify(TDataEvent::deScrolled);
}

void TTable::Last() {
  xbase::Table *t = EngineTable();
  if (!t || !CheckBrowseMode()) return;
  t->GoBottom();
  eof_ = true;
  bof_ = t->Eof();
  ReadCurrent();
  Notify(TDataEvent::deScrolled);
}

int TTable::MoveBy(int distance) {
  xbase::Table *t = EngineTable();
  if (!t || distance == 0 || !CheckBrowseMode()) return 0;
  int moved = 0;
  int dir = distance > 0 ? 1 : -1;
  bof_ = eof_ = false;
  for (int i = 0; i != distance; i += dir) {
    uint32_t here = t->RecNo();
    bool wasEof = t->Eof();
    t->Skip(dir);
    if (dir > 0 && t->Eof()) {
      // The cursor stays on the last row and reports the end.
      if (!wasEof && here <= t->RecCount()) t->Go(here);
      eof_ = true;
      break;
    }
    if (dir < 0 && t->Bof()) {
      bof_ = true;
      break;
    }
    moved += dir;
  }
  if (t->RecNo() > t->RecCount()) eof_ = bof_ = true;
  ReadCurrent();
  Notify(TDataEvent::deScrolled);
  return moved;
}

void TTable::Next() {
  MoveBy(1);
}
void TTable::Prior() {
  MoveBy(-1);
}

int TTable::RecNo() const {
  xbase::Table *t = EngineTable();
  if (!t) return 0;
  if (state_ == TDataSetState::dsInsert) return int(t->RecCount()) + 1;
  return int(t->RecNo());
}

int TTable::RecCount() const {
  xbase::Table *t = EngineTable();
  return t ? int(t->RecCount()) : 0;
}

bool TTable::IsEmpty() {
  return RowCount() == 0;
}

bool TTable::GotoRecord(int recno) {
  xbase::Table *t = EngineTable();
  if (!t || !CheckBrowseMode()) return false;
  xbase::Status st = t->Go(uint32_t(std::max(0, recno)));
  if (!st) {
    lastError_ = QString::fromStdString(st.message);
    t->GoTop();
    eof_ = t->Eof();
    ReadCurrent();
    Notify(TDataEvent::deScrolled);
    return false;
  }
  eof_ = bof_ = false;
  ReadCurrent();
  Notify(TDataEvent::deScrolled);
  return true;
}

bool TTable::Append() {
  xbase::Table *t = EngineTable();
  if (!t || !CheckBrowseMode()) return false;
  buffer_ = t->BlankRecord();
  state_ = TDataSetState::dsInsert;
  CalcFields();
  Notify(TDataEvent::deStateChanged);
  return true;
}

bool TTable::Edit() {
  xbase::Table *t = EngineTable();
  if (!t) return false;
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return true;
  if (t->RecNo() > t->RecCount() || !t->ReadRecord(t->RecNo(), &buffer_)) {
    lastError_ = "there is no current row to edit";
    return false;
  }
  editRecNo_ = int(t->RecNo());
  state_ = TDataSetState::dsEdit;
  Notify(TDataEvent::deStateChanged);
  return true;
}

bool TTable::Post() {
  xbase::Table *t = EngineTable();
  if (!t) return false;
  xbase::Status st;
  if (state_ == TDataSetState::dsInsert) {
    uint32_t rec = 0;
    st = t->Append(buffer_, &rec);
    if (st) t->Go(rec);
  } else if (state_ == TDataSetState::dsEdit) {
    st = t->Update(uint32_t(editRecNo_), buffer_);
    if (st) t->Go(uint32_t(editRecNo_));
  } else {
    return true;
  }
  if (!st) {
    lastError_ = QString::fromStdString(st.message);
    return false;
  }
  state_ = TDataSetState::dsBrowse;
  eof_ = bof_ = false;
  ReadCurrent();
  Notify(TDataEvent::deStateChanged);
  Notify(TDataEvent::deDataSetChanged);
  return true;
}

void TTable::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  state_ = TDataSetState::dsBrowse;
  ReadCurrent();
  Notify(TDataEvent::deStateChanged);
  Notify(TDataEvent::deRecordChanged);
}

bool TTable::Delete() {
  xbase::Table *t = EngineTable();
  if (!t) return false;
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return true;
  }
  if (state_ == TDataSetState::dsEdit) Cancel();
  if (t->RecNo() > t->RecCount()) {
    lastError_ = "there is no current row to delete";
    return false;
  }
  uint32_t rec = t->RecNo();
  xbase::Status st = t->SetDeleted(rec, true);
  if (!st) {
    lastError_ = QString::fromStdString(st.message);
    return false;
  }
  // The row disappears from view: move on to the next one, or back to the last.
  if (!t->Visible(rec)) {
    t->Skip(1);
    if (t->Eof()) t->GoBottom();
  }
  eof_ = t->Eof();
  bof_ = false;
  ReadCurrent();
  Notify(TDataEvent::deDataSetChanged);
  return true;
}

int TTable::RowCount() {
  xbase::Table *t = EngineTable();
  return t ? int(t->QueryRecCount()) : 0;
}

int TTable::RecNoAtRow(int row) {
  xbase::Table *t = EngineTable();
  if (!t) return 0;
  const auto &v = t->VisibleRecNos();
  return row >= 0 && size_t(row) < v.size() ? int(v[size_t(row)]) : 0;
}

int TTable::RowOfRecNo(int recno) {
  xbase::Table *t = EngineTable();
  if (!t) return -1;
  const auto &v = t->VisibleRecNos();
  auto it = std::find(v.begin(), v.end(), uint32_t(recno));
  return it == v.end() ? -1 : int(it - v.begin());
}

QVariant TTable::ValueAt(int row, const QString &field) {
  xbase::Table *t = EngineTable();
  TField *f = FieldByName(field);
  int rec = RecNoAtRow(row);
  if (!t || !f || rec == 0) return QVariant();
  bool editingThis =
      state_ != TDataSetState::dsBrowse && rec == editRecNo_ && state_ == TDataSetState::dsEdit;
  if (editingThis) return f->Value();
  xbase::Record other;
  if (!t->ReadRecord(uint32_t(rec), &other)) return QVariant();
  // Read through the field with the row swapped in, so calculated fields see that row.
  std::swap(buffer_, other);
  std::vector<QVariant> saved;
  for (auto &fl : fields_) saved.push_back(fl->calcValue_);
  if (f->calculated_) CalcFields();
  QVariant v = f->Value();
  for (size_t i = 0; i < fields_.size(); ++i) fields_[i]->calcValue_ = saved[i];
  std::swap(buffer_, other);
  return v;
}

}  // namespace kv
