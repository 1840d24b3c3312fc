#pragma once
// The four record tables of the program (sent faxes, received faxes, cover sheet templates,
// phone book): their layouts, their indexes and how they are created and opened.
#include <QString>
#include <memory>

#include "app/storage/tapollo.h"
#include "app/storage/ttable.h"

namespace kv {

struct TableColumn {
  const char *field;
  const char *label;
  int displayWidth;  // characters
  bool numeric = false;
};

// Visible columns of each list, left to right.
extern const TableColumn kFaxColumns[8];
extern const TableColumn kRecFaxColumns[5];
extern const TableColumn kCoverColumns[1];
extern const TableColumn kPhoneColumns[2];

class TFaxRecords {
 public:
  explicit TFaxRecords(xbase::Engine &engine = xbase::DefaultEngine());
  ~TFaxRecords();

  TTable FaxTable, RecTable, CoverTable, PhoneTable;
  TApollo FaxApollo, RecApollo, CoverApollo, PhoneApollo;
  TApolloEnv ApolloEnv;

  // Each opens (creating if missing) its table; true when the table is open. On failure
  // OpenError() names the file and says why.
  bool OpenFaxDBF();
  bool OpenRecFaxDBF();
  bool OpenCoverDBF();
  // The phone book window passes its own dataset and engine component.
  bool OpenPhoneDBF(TTable &table, TApollo &apollo);
  bool OpenPhoneDBF() { return OpenPhoneDBF(PhoneTable, PhoneApollo); }

  const QString &OpenError() const { return openError_; }

  bool MakeFaxDBF();
  bool MakeRecFaxDBF();
  bool MakeCoverDBF();
  bool MakePhoneDBF(TTable &table, TApollo &apollo);

  // Close and reopen a table, keeping its current row.
  void FaxTableCloseAndOpen();
  void RecTableCloseAndOpen();

  // Record order while a table has no current row, its tag once it has one.
  static void FollowRows(TTable &table, TApollo &apollo, const QString &tag);
  static bool HasCurrentRow(const TTable &table) { return table.RecNo() != table.RecCount() + 1; }

  // Called after the sent table has been opened, so the list can repaint.
  std::function<void()> OnFaxListRepaint;

 private:
  xbase::Engine &engine_;
  QString openError_;
};

// "Yes" when SENT is true, otherwise "No ".
void FaxTableCalcFields(TTable &table);

// The index file that goes with a table file: KRV.DBF -> KRV.CDX.
QString IndexFileOf(const QString &table);

}  // namespace kv
