#pragma once
// Cover sheet templates, kept in KRVCOV.DBF (description and RTF with merge fields): the
// browser that lists, creates, edits, clones and deletes them (managing mode) or hands one to
// the fax editor (choosing mode), and the template editor.
#include <QLineEdit>
#include <QMenu>
#include <QTableView>

#include "app/bar_dialog.h"
#include "app/table_model.h"
#include "compose/discard_question.h"
#include "settings/settings.h"

namespace kv {

class TFaxRecords;
class TFormatBar;
class TRichEdit;
class TZoomMenu;

class TCoverEditor : public TBarDialog {
  Q_OBJECT
 public:
  static constexpr int kDescriptionLength = 35;
  explicit TCoverEditor(QWidget *parent = nullptr);

  QLineEdit *CoverDescription;
  TRichEdit *WPCover;
  TFormatBar *WPToolBar1;
  QToolButton *CoverParagraphSetupbutton, *CoverDocPageBreakButton, *CoverDocWordWrapButton;
  QToolButton *ExplorerButton1, *Zoombutton, *OKbutton, *CancelButton, *HelpButton;
  QMenu *PopupMenu1;
  QAction *mnuRecipient1, *mnuFaxNumber1, *mnuSubject, *mnuDate, *mnuTime, *mnuSender,
      *mnuSenderFax, *mnuPageCount;
  TZoomMenu *ZoomMenu;

 public slots:
  // Inserts the merge field the item's caption names at the caret.
  void MergeFieldClick(QAction *item);
  void OKbuttonClick();
  // Cancel, Escape and closing: asks first when anything was changed.
  void reject() override;

 protected:
  void showEvent(QShowEvent *event) override;
  bool event(QEvent *e) override;

 private:
  bool shown_ = false;
  DiscardQuestion discard_;
};

class TCoverBrowse : public TBarDialog {
  Q_OBJECT
 public:
  // Works on the cover table of `records`, which the caller opens and closes.
  TCoverBrowse(TFaxRecords &records, const Settings &settings, QWidget *parent = nullptr);
  ~TCoverBrowse() override;

  QTableView *CoverGrid;
  TTableModel *CoverModel;
  QToolButton *HelpButton, *NewButton, *ModifyButton, *CloneButton, *DeleteButton, *Acceptbutton,
      *CancelButton, *CloseButton;
  bool CloneFlag = false;

  // Choosing mode shows Accept and Cancel, managing mode Close.
  void SetChoosing(bool choosing);
  void UpdateButtons();

 public slots:
  void NewButtonClick();
  void ModifyButtonClick();
  void CloneButtonClick();
  void DeleteButtonClick();
  void AcceptbuttonClick();

 private:
  bool hasTemplate();
  // Shows the editor until its template is stored or the user cancels.
  void runEditor(TCoverEditor &editor, bool append);
  TFaxRecords &records_;
  const Settings &settings_;
};

// Opens KRVCOV.DBF. When it cannot be opened the user is told why, naming the file, and the
// answer is false.
bool OpenCoverTable(TFaxRecords &records, QWidget *parent);

}  // namespace kv
