#include "app/table_model.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QTableView>

namespace kv {

TTableModel::TTableModel(TTable &table, std::span<const TableColumn> columns, QObject *parent)
    : QAbstractTableModel(parent), table_(table), columns_(columns.begin(), columns.end()) {
  rows_ = table_.Active() ? table_.RowCount() : 0;
  listener_ = table_.AddListener([this](TDataEvent e) { onTableEvent(e); });
}

TTableModel::~TTableModel() {
  table_.RemoveListener(listener_);
}

int TTableModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TTableModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(columns_.size());
}

QVariant TTableModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  const TableColumn &col = columns_[size_t(index.column())];
  if (role == Qt::TextAlignmentRole)
    return int(Qt::AlignVCenter | (col.numeric ? Qt::AlignRight : Qt::AlignLeft));
  // Rows may have gone while the list was not following; never read past the table.
  if (!table_.Active() || index.row() >= table_.RowCount()) return {};
  if (role == Qt::DisplayRole) return ListCellValue(table_, index.row(), col);
  if (!marked_ || !marked_(table_, index.row())) return {};
  if (role == Qt::FontRole) {
    QFont bold = view_ ? view_->font() : QFont();
    bold.setBold(true);
    return bold;
  }
  if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) return markTip_;
  return {};
}

QVariant ListCellValue(TTable &table, int row, const TableColumn &column) {
  const QVariant v = table.ValueAt(row, column.field);
  if (v.typeId() == QMetaType::QDate) {
    const QDate d = v.toDate();
    return d.isValid() ? QLocale().toString(d, QLocale::ShortFormat) : QString();
  }
  if (v.typeId() == QMetaType::QString) {
    // Character fields are blank-padded; a padded cell would clip with an ellipsis.
    QString s = v.toString();
    while (s.endsWith(' ') && !s.trimmed().isEmpty()) s.chop(1);
    return s;
  }
  return v;
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal && section >= 0 && section < int(columns_.size()))
    return QString::fromUtf8(columns_[size_t(section)].label);
  // The row indicator points at the current row.
  if (orientation == Qt::Vertical && section == indicatorRow_) return QStringLiteral("\u25B8");
  return {};
}

int TTableModel::currentRow() const {
  if (!table_.Active() || !TFaxRecords::HasCurrentRow(table_)) return -1;
  return table_.RowOfRecNo(table_.RecNo());
}

void TTableModel::setCurrentRow(int row) {
  if (row < 0 || row >= rows_ || !table_.Active()) return;
  const int recno = table_.RecNoAtRow(row);
  if (recno > 0 && recno != table_.RecNo()) table_.GotoRecord(recno);
}

int TTableModel::columnPixels(const TableColumn &column, const QFont &font) {
  const QFontMetrics fm(font);
  const int text = column.displayWidth * fm.horizontalAdvance('0') + 10;
  const int title = fm.horizontalAdvance(QString::fromUtf8(column.label)) + 16;
  return std::max(text, title);
}

void TTableModel::attach(QTableView *view) {
  view_ = view;
  view->setModel(this);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setShowGrid(true);
  view->setWordWrap(false);
  view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  view->horizontalHeader()->setHighlightSections(false);
  view->horizontalHeader()->setStretchLastSection(false);
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
  // The row indicator: a narrow header column marking the current row.
  view->verticalHeader()->setFixedWidth(14);
  for (int i = 0; i < int(columns_.size()); ++i)
    view->setColumnWidth(i, columnPixels(columns_[size_t(i)], view->font()));
  view->viewport()->installEventFilter(this);
  connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex &current) {
            if (!syncing_ && current.isValid()) setCurrentRow(current.row());
          });
  syncView();
}

bool TTableModel::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::Paint && view_ && watched == view_->viewport() && rows_ == 0 &&
      !emptyText_.isEmpty()) {
    QPainter p(view_->viewport());
    p.setPen(view_->palette().color(QPalette::PlaceholderText));
    p.drawText(view_->viewport()->rect().adjusted(12, 24, -12, -12),
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, emptyText_);
  }
  return QAbstractTableModel::eventFilter(watched, event);
}

void TTableModel::setFollowing(bool on) {
  if (following_ == on) return;
  following_ = on;
  if (on) onTableEvent(TDataEvent::deDataSetChanged);
}

void TTableModel::syncView() {
  const int row = currentRow();
  if (row != indicatorRow_) {
    const int old = indicatorRow_;
    indicatorRow_ = row;
    if (old >= 0 && old < rows_) emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0) emit headerDataChanged(Qt::Vertical, row, row);
  }
  emit currentRowChanged(row);
  if (!view_) return;
  syncing_ = true;
  if (row >= 0) {
    const int col = std::max(0, view_->currentIndex().column());
    view_->setCurrentIndex(index(row, col));
    view_->scrollTo(index(row, col));
  } else {
    view_->selectionModel()->clear();
  }
  syncing_ = false;
}

void TTableModel::onTableEvent(TDataEvent e) {
  if (!following_) return;
  switch (e) {
    case TDataEvent::deActiveChanged:
    case TDataEvent::deDataSetChanged:
      beginResetModel();
      rows_ = table_.Active() ? table_.RowCount() : 0;
      endResetModel();
      syncView();
      break;
    case TDataEvent::deRecordChanged: {
      const int row = currentRow();
      if (row >= 0) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
      break;
    }
    case TDataEvent::deScrolled:
      syncView();
      break;
    case TDataEvent::deStateChanged:
      break;
  }
}

void TTableModel::setRowMark(std::function<bool(TTable &table, int row)> marked,
                             const QString &tip) {
  marked_ = std::move(marked);
  markTip_ = tip;
  refreshMarks();
}

void TTableModel::refreshMarks() {
  if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, int(columns_.size()) - 1));
}

}  // namespace kv
