#pragma once
// The phone book: recipients' names and fax numbers in KRVPB.DBF. The browser lists, adds,
// edits and deletes entries (managing mode) or hands one to the fax editor (choosing mode);
// entries are edited in the small phone book editor.
#include <QLineEdit>
#include <QTableView>

#include "app/bar_dialog.h"
#include "app/storage/tapollo.h"
#include "app/storage/ttable.h"
#include "app/table_model.h"
#include "compose/discard_question.h"

namespace kv {

class TPhoneBookEditor : public TBarDialog {
  Q_OBJECT
 public:
  static constexpr int kNameLength = 35;
  static constexpr int kNumberLength = 25;
  explicit TPhoneBookEditor(QWidget *parent = nullptr);

  QLineEdit *Name, *Number;
  QToolButton *Helpbutton, *OKButton, *Cancelbutton;

 public slots:
  void OKButtonClick();
  // Cancel, Escape and closing: asks first when anything was changed.
  void reject() override;

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  DiscardQuestion discard_;
};

class TPhoneBook : public TBarDialog {
  Q_OBJECT
 public:
  explicit TPhoneBook(QWidget *parent = nullptr);
  ~TPhoneBook() override;

  // The browser's own dataset and engine link, opened by the caller (OpenPhoneDBF).
  TTable PhoneTable;
  TApollo PhoneApollo;

  QTableView *PhoneGrid;
  TTableModel *PhoneModel;
  QToolButton *Addbutton, *Modifybutton, *Deletebutton, *OKButton, *Cancelbutton, *Closebutton,
      *Helpbutton;

  // The entry chosen in choosing mode.
  QString ChosenName, ChosenNumber;

  // Choosing mode shows Accept and Cancel, managing mode Close.
  void SetChoosing(bool choosing);
  void UpdateButtons();

 public slots:
  void AddbuttonClick();
  void ModifybuttonClick();
  void DeletebuttonClick();
  void OKButtonClick();

 protected:
  bool event(QEvent *e) override;

 private:
  bool hasEntry();
  // Writes the editor's fields into the row being appended or edited and posts it.
  bool storeEntry(const TPhoneBookEditor &editor);
};

}  // namespace kv

namespace kv {
class TFaxRecords;
// Opens KRVPB.DBF into the browser's own dataset. When it cannot be opened the user is told
// why, naming the file, and the answer is false.
bool OpenPhoneBook(TFaxRecords &records, TPhoneBook &book);
}  // namespace kv
