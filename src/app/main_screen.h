#pragma once
// The main window: the lists of sent and received faxes, the button bar, the menus and the
// status line; it owns the record tables and the settings for the whole run.
#include <QLabel>
#include <QMainWindow>
#include <functional>
#include <memory>

#include "app/fax_tables.h"
#include "app/settings_link.h"
#include "app/status_line.h"
#include "app/table_model.h"
#include "comm/com_port.h"
#include "receiving/receive_mode.h"

class QAction;
class QFileSystemWatcher;
class QStackedWidget;
class QTabBar;
class QTableView;
class QToolButton;

namespace kv {

class TRichEdit;

class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  // Creates the window and runs its start-up (tables, settings, status line, receive folder).
  explicit TMainScreen(QWidget *parent = nullptr);
  ~TMainScreen() override;

  // State of the window.
  bool FirstActivate = true;
  bool FirstRun = false;
  bool CloneMode = false;
  // A PDF document dropped on the window, which New attaches as the fax document.
  QString DroppedPdf;
  int PageCount = 0;

  TFaxRecords Records;
  TSettingsLink Settings;
  // The port of receive mode; closed until receive mode opens it.
  TKvComPort KvComPort1;
  // Receive mode: the receiver on that port and its state, shared with the command line.
  TReceiveModeCore Receive;
  TKvReceiveFax &KvReceiveFax1 = Receive.KvReceiveFax1;
  bool &ReceiveMode = Receive.ReceiveMode;
  bool &FaxInProgress = Receive.FaxInProgress;
  std::uint16_t &PagesReceived = Receive.PagesReceived;
  int &LastFaxError = Receive.LastFaxError;

  // Controls.
  QWidget *ButtonBar;
  QToolButton *Newbutton, *EditButton, *CloneButton, *DeleteButton, *SendButton, *ReceiveButton,
      *ViewFaxButton, *Exitbutton;
  QWidget *BrowsePanel;
  QStackedWidget *NoteBook;
  QTableView *FaxGrid, *RecFaxGrid;
  TTableModel *FaxModel, *RecFaxModel;
  QTabBar *TabSet1;
  QLabel *status;
  // A hidden panel with the two rich-text controls faxes are rendered with.
  QWidget *HiddenPanel;
  TRichEdit *WPCover, *WPDoc;

  // Menu items.
  QAction *mnuNew, *mnuEdit, *mnuClone, *mnuDelete, *mnuSend, *mnuReceive, *mnuViewPrint,
      *mnuModemReset, *mnuCover, *mnuPhoneBook, *mnuRebuildIndexes, *mnuPreferences, *Exit1;
  QAction *Contents1, *About1, *TroubleshootingTips1, *mnuDemo, *mnuShowHint;

  // Recomputes which commands can run now.
  void SetButtons();
  // Edit on the "Sent" page: the fax in the fax editor; on "Received": the notes of the fax.
  void EditSentFax();
  void EditReceivedFax();
  // Jobs of the fax printer: watched from the first activation on, taken in as rows, and rows
  // waiting for a recipient opened in the fax editor.
  void WatchPrintedJobs();
  void TakeInPrintedJobs();
  int CurrentPage() const;

  // Table operations offered to the other windows.
  bool OpenCoverDBF() { return Records.OpenCoverDBF(); }
  bool OpenPhoneDBF(TTable &table, TApollo &apollo) { return Records.OpenPhoneDBF(table, apollo); }
  void FaxTableCloseAndOpen() { Records.FaxTableCloseAndOpen(); }

  // Renders the current row of the sent-fax table into one APF file in the program directory
  // and answers its name, or "" when the row has neither cover sheet nor document (the user
  // is told). Sets PageCount. Converter failures are raised as their exceptions.
  QString CreateFaxFile();
  // Sets the font attributes at the control's caret to the default font of the settings.
  void ApplyDefaultFont(TRichEdit &control);
  // Lets the user pick the default font and saves it; false when cancelled or not saved.
  bool ChooseDefaultFont();
  // The font dialog ChooseDefaultFont opens; tests replace it. Answers false when cancelled.
  static std::function<bool(QWidget *parent, QFont &font)> FontDialog;
  void RecTableCloseAndOpen() { Records.RecTableCloseAndOpen(); }
  // Writes the receive status into the status line.
  void UpdateValues();

  // True once the close query has let the window close.
  bool Closed() const { return closed_; }
  // True when a table could be neither opened nor created: the program ends, unsuccessfully.
  bool StartFailed() const { return startFailed_; }
  // Ends the program as Exit does but without asking (a desktop logging out): tables closed,
  // receive mode off, the window's place kept; windows open over this one end with it.
  void QuitWithoutQuestions();

 public slots:
  void FormActivate();
  void TabSet1Click(int index);
  void NewbuttonClick();
  void EditButtonClick();
  void CloneButtonClick();
  void DeleteButtonClick();
  void SendButtonClick();
  void ReceiveButtonClick();
  void mnuViewPrintClick();
  void mnuModemResetClick();
  void mnuCoverClick();
  void mnuPhoneBookClick();
  void mnuRebuildIndexesClick();
  void mnuPreferencesClick();
  void Contents1Click();
  void About1Click();
  void TroubleshootingTips1Click();
  // A file dropped on the window: a PDF starts a new fax with it, a fax file opens in a viewer.
  void OpenDroppedFile(const QString &path);
  void mnuDemoClick();
  void mnuShowHintClick();

 protected:
  void showEvent(QShowEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

 private:
  void setupButtonBar();
  void setupBrowsePanel();
  void setupMenus();
  void setupGridKeys(QTableView *grid);
  void showListFocus(QTableView *grid, bool focused);
  void setupFileDrop();
  bool FaxGoingOut() const;
  void setupHiddenPanel();
  void FormCreate();
  bool FormCloseQuery();
  void FormClose();
  void ReceiveModeOn();
  void ReceiveModeOff();
  void setReceiveButton(bool receiving);
  void prepareReceivePort();
  void KvReceiveFax1FaxRecorded(const ReceivedFax &fax);
  void PlayReceivedSound();
  void reportDamagedIndex(TTable &table, TApollo &apollo);
  void reportRecovery(const TTable &table);
  void failStart(const QString &text);
  bool activateQueued_ = false;
  QFileSystemWatcher *printedWatch_ = nullptr;
  bool takingIn_ = false, retryQueued_ = false;
  bool startFailed_ = false;
  bool closed_ = false;
  bool quitting_ = false;
  std::unique_ptr<StatusLineOwner> statusOwner_;
};

}  // namespace kv
