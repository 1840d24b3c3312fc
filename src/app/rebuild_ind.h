#pragma once
// Housekeeping: removes the rows marked for deletion from all four tables and builds their
// indexes anew. Works by itself once shown, then closes.
#include <QDialog>
#include <QStringList>

class QLabel;

namespace kv {

class TFaxRecords;
class TTable;
class TApollo;

class TRebuildInd : public QDialog {
  Q_OBJECT
 public:
  TRebuildInd(TFaxRecords &records, QWidget *parent = nullptr);

  QLabel *WhatAmIDoing;
  // Every message shown, in order (what the user saw go by).
  const QStringList &Messages() const { return messages_; }
  // Tables whose pack failed twice (they keep their deleted rows).
  const QStringList &PackFailures() const { return packFailures_; }

  // The whole rebuild; runs at the first activation.
  void Rebuild();

 public slots:
  // Escape must not close the window half way through a table.
  void reject() override;

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  struct Step {
    const char *removing;
    const char *tag;
    const char *key;
    bool descending;
    const char *rebuilding;
  };
  void show(const QString &text);
  void rebuildTable(TTable &table, TApollo &apollo, const Step &step, bool messageFirst);
  TFaxRecords &records_;
  bool started_ = false;
  bool working_ = false;
  QStringList messages_;
  QStringList packFailures_;
};

}  // namespace kv
