#pragma once
// Shows a dataset in a QTableView: the visible rows in the dataset's order and filter, the
// columns given, and the dataset's current row as the view's current row (both ways).
#include <QAbstractTableModel>
#include <QPointer>
#include <functional>
#include <span>
#include <vector>

#include "app/fax_tables.h"

class QTableView;

namespace kv {

// What a list shows in one cell: dates in the locale's short format, text without its padding.
QVariant ListCellValue(TTable &table, int row, const TableColumn &column);

class TTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TTableModel(TTable &table, std::span<const TableColumn> columns, QObject *parent = nullptr);
  ~TTableModel() override;

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The view's row of the dataset's current record, -1 when there is none.
  int currentRow() const;
  // Makes the record shown in `row` the dataset's current record.
  void setCurrentRow(int row);

  // Binds a view: columns sized by their display widths, selection following the dataset.
  void attach(QTableView *view);
  // Shown in the bound view while the list has no rows, so an empty list explains itself.
  void setEmptyText(const QString &text) { emptyText_ = text; }
  // A list that does not follow its dataset keeps its rows until it follows again.
  void setFollowing(bool on);
  const TableColumn &column(int i) const { return columns_[size_t(i)]; }
  // Rows `marked` answers true for stand out: bold, with `tip` as their tip and accessible
  // description (the unread faxes).
  void setRowMark(std::function<bool(TTable &table, int row)> marked, const QString &tip);
  // The marks may have changed: the view asks again.
  void refreshMarks();
  // Width in pixels of a column for a font: its display width in characters, at least its title.
  static int columnPixels(const TableColumn &column, const QFont &font);

 signals:
  void currentRowChanged(int row);

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void onTableEvent(TDataEvent e);
  void syncView();
  TTable &table_;
  std::vector<TableColumn> columns_;
  int listener_ = 0;
  int rows_ = 0;
  int indicatorRow_ = -1;
  bool following_ = true;
  bool syncing_ = false;
  QPointer<QTableView> view_;
  QString emptyText_;
  std::function<bool(TTable &, int)> marked_;
  QString markTip_;
};

}  // namespace kv
