#include "app/main_screen.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QProcess>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>

#include "app/button_bar.h"
#include "app/dialogs.h"
#include "app/help_window.h"
#include "app/hints.h"
#include "app/icons.h"
#include "app/main_receive.h"
#include "app/program_dir.h"
#include "app/rebuild_ind.h"
#include "app/splash_form.h"
#include "app/ui_font.h"
#include "app/window_placement.h"
#include "compose/shipped_covers.h"
#include "modemui/reset_modem_form.h"
#include "sending/sent_archive.h"
#include "viewer/fax_viewer_window.h"

namespace kv {
namespace {

constexpr int kHelpContents = 1009;
constexpr int kHelpTroubleshooting = 1026;

}  // namespace

TMainScreen::TMainScreen(QWidget *parent)
    : QMainWindow(parent),
      Receive(KvComPort1, Records.RecTable, (ProgramDir() + "receive").toStdString()) {
  setObjectName("MainScreen");
  setWindowTitle("Korvane ");
  setupButtonBar();
  setupBrowsePanel();
  setupMenus();
  setupHiddenPanel();
  setupFileDrop();
  // Wide enough for every column of the sent list at its display width.
  resize(sizeHint().expandedTo(QSize(940, 460)));
  SetMainWindow(this);
  FormCreate();
}

TMainScreen::~TMainScreen() {
  // The receiver must not outlive its session's events (a window closed without its close).
  if (ReceiveMode) Receive.StopReceiving(Settings.Data);
  // The list models listen to the tables, which go before the child widgets do.
  FaxGrid->setModel(nullptr);
  RecFaxGrid->setModel(nullptr);
  delete FaxModel;
  delete RecFaxModel;
  if (MainWindow() == this) SetMainWindow(nullptr);
  if (PlacementStore() == &Settings) SetPlacementStore(nullptr);
}

void TMainScreen::setupButtonBar() {
  ButtonBar = MakeButtonBar(this);
  Newbutton = AddBarButton(ButtonBar, "Newbutton", "&New", "Create a new fax", ButtonPicture::New);
  EditButton = AddBarButton(ButtonBar, "EditButton", "&Edit", "Edit the currently selected fax",
                            ButtonPicture::Edit);
  CloneButton = AddBarButton(ButtonBar, "CloneButton", "&Clone", "Clone the currently selected fax",
                             ButtonPicture::Clone);
  DeleteButton = AddBarButton(ButtonBar, "DeleteButton", "&Delete",
                              "Delete  the currently selected fax", ButtonPicture::Delete);
  SendButton = AddBarButton(ButtonBar, "SendButton", "&Send", "Send the currently selected fax",
                            ButtonPicture::Send);
  ReceiveButton = AddBarButton(ButtonBar, "ReceiveButton", "&Receive", "Start receiving faxes",
                               ButtonPicture::Receive);
  ViewFaxButton =
      AddBarButton(ButtonBar, "ViewFaxButton", "&View",
                   "See a preview of and optionally  print the fax", ButtonPicture::View);
  AddBarStretch(ButtonBar);
  Exitbutton =
      AddBarButton(ButtonBar, "Exitbutton", "E&xit", "Exit the program", ButtonPicture::Exit);

  connect(Newbutton, &QToolButton::clicked, this, &TMainScreen::NewbuttonClick);
  connect(EditButton, &QToolButton::clicked, this, &TMainScreen::EditButtonClick);
  connect(CloneButton, &QToolButton::clicked, this, &TMainScreen::CloneButtonClick);
  connect(DeleteButton, &QToolButton::clicked, this, &TMainScreen::DeleteButtonClick);
  connect(SendButton, &QToolButton::clicked, this, &TMainScreen::SendButtonClick);
  connect(ReceiveButton, &QToolButton::clicked, this, &TMainScreen::ReceiveButtonClick);
  connect(ViewFaxButton, &QToolButton::clicked, this, &TMainScreen::mnuViewPrintClick);
  connect(Exitbutton, &QToolButton::clicked, this, &QWidget::close);
}

void TMainScreen::setupBrowsePanel() {
  auto *central = new QWidget(this);
  central->setFont(UiFont(8));
  auto *layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ButtonBar);

  BrowsePanel = new QWidget(central);
  BrowsePanel->setObjectName("BrowsePanel");
  auto *browse = new QVBoxLayout(BrowsePanel);
  browse->setContentsMargins(0, 0, 0, 0);
  NoteBook = new QStackedWidget(BrowsePanel);
  NoteBook->setObjectName("NoteBook");
  browse->addWidget(NoteBook);
  FaxGrid = new QTableView(NoteBook);
  FaxGrid->setObjectName("FaxGrid");
  RecFaxGrid = new QTableView(NoteBook);
  RecFaxGrid->setObjectName("RecFaxGrid");
  NoteBook->addWidget(FaxGrid);
  NoteBook->addWidget(RecFaxGrid);
  layout->addWidget(BrowsePanel, 1);

  FaxModel = new TTableModel(Records.FaxTable, kFaxColumns, this);
  RecFaxModel = new TTableModel(Records.RecTable, kRecFaxColumns, this);
  FaxModel->attach(FaxGrid);
  RecFaxModel->attach(RecFaxGrid);
  FaxModel->setEmptyText("No faxes yet. Press New to compose one.");
  RecFaxModel->setEmptyText("No faxes received yet.");
  connect(FaxGrid, &QTableView::doubleClicked, this, &TMainScreen::mnuViewPrintClick);
  connect(RecFaxGrid, &QTableView::doubleClicked, this, &TMainScreen::mnuViewPrintClick);
  for (QTableView *grid : {FaxGrid, RecFaxGrid}) setupGridKeys(grid);

  TabSet1 = new QTabBar(central);
  TabSet1->setObjectName("TabSet1");
  TabSet1->setShape(QTabBar::RoundedSouth);
  TabSet1->setFont(UiFont(10));
  TabSet1->setDrawBase(false);
  TabSet1->setExpanding(false);
  TabSet1->addTab("Sent");
  TabSet1->addTab("Received");
  TabSet1->setCurrentIndex(0);
  connect(TabSet1, &QTabBar::currentChanged, this, &TMainScreen::TabSet1Click);
  // Ctrl+Tab turns to the other list from anywhere in the window, as desktop tabs do.
  for (const char *key : {"Ctrl+Tab", "Ctrl+Shift+Tab", "Ctrl+PgDown", "Ctrl+PgUp"}) {
    auto *turn = new QShortcut(QKeySequence(key), this);
    connect(turn, &QShortcut::activated, this, [this] {
      TabSet1->setCurrentIndex(1 - TabSet1->currentIndex());
      QWidget *grid = NoteBook->currentWidget();
      if (grid->isEnabled()) grid->setFocus(Qt::ShortcutFocusReason);
    });
  }
  layout->addWidget(TabSet1);

  status = new QLabel(central);
  status->setObjectName("status");
  StyleStatusLine(status, 32);
  layout->addWidget(status);
  setCentralWidget(central);
}

// A list is one stop of the window's Tab order; Enter views its row and Delete deletes it.
void TMainScreen::setupGridKeys(QTableView *grid) {
  grid->setTabKeyNavigation(false);
  grid->setFocusPolicy(Qt::StrongFocus);
  grid->installEventFilter(this);
  showListFocus(grid, false);
}

// The current row is drawn in the highlight colour while the list has the keyboard, and in a
// quiet grey otherwise, so that the keyboard's place can be seen.
void TMainScreen::showListFocus(QTableView *grid, bool focused) {
  QPalette pal = palette();
  if (!focused) {
    pal.setColor(QPalette::Highlight, pal.color(QPalette::Mid));
    pal.setColor(QPalette::HighlightedText, pal.color(QPalette::Text));
  }
  grid->setPalette(pal);
}

bool TMainScreen::eventFilter(QObject *watched, QEvent *event) {
  if ((event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) &&
      (watched == FaxGrid || watched == RecFaxGrid))
    showListFocus(static_cast<QTableView *>(watched), event->type() == QEvent::FocusIn);
  if (event->type() == QEvent::KeyPress && (watched == FaxGrid || watched == RecFaxGrid)) {
    auto *key = static_cast<QKeyEvent *>(event);
    const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
      mnuViewPrintClick();
      return true;
    }
    if (plain && key->key() == Qt::Key_Delete) {
      DeleteButtonClick();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainScreen::setupMenus() {
  auto item = [this](QMenu *menu, const char *name, const QString &caption, const QKeySequence &key,
                     const QString &hint, auto slot) {
    QAction *a = menu->addAction(caption);
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    a->setStatusTip(hint);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu *file = menuBar()->addMenu("&File");
  mnuNew = item(file, "mnuNew", "&New", QKeySequence::New, "Create a new fax",
                &TMainScreen::NewbuttonClick);
  mnuEdit = item(file, "mnuEdit", "&Edit", {}, "Edit the currently selected fax",
                 &TMainScreen::EditButtonClick);
  mnuClone = item(file, "mnuClone", "Clone", {}, "Clone the currently selected fax",
                  &TMainScreen::CloneButtonClick);
  mnuDelete = item(file, "mnuDelete", "Delete", {}, "Delete the currently selected fax",
                   &TMainScreen::DeleteButtonClick);
  file->addSeparator();
  mnuSend = item(file, "mnuSend", "Send Fax", QKeySequence("Ctrl+S"),
                 "Send the currently selected fax", &TMainScreen::SendButtonClick);
  mnuReceive = item(file, "mnuReceive", "Receive Faxes", QKeySequence("Ctrl+R"), {},
                    &TMainScreen::ReceiveButtonClick);
  mnuViewPrint =
      item(file, "mnuViewPrint", "View/Print Fax", QKeySequence("Ctrl+V"),
           "See a preview of and optionally  print the fax", &TMainScreen::mnuViewPrintClick);
  mnuModemReset =
      item(file, "mnuModemReset", "&Modem Reset", {}, {}, &TMainScreen::mnuModemResetClick);
  file->addSeparator();
  mnuCover = item(file, "mnuCover", "C&over Sheets", {}, "Create or modify cover page templates",
                  &TMainScreen::mnuCoverClick);
  mnuPhoneBook = item(file, "mnuPhoneBook", "&Phone Book", {},
                      "Create or modify phone book entries", &TMainScreen::mnuPhoneBookClick);
  mnuRebuildIndexes = item(file, "mnuRebuildIndexes", "Rebuild &Indexes", {},
                           "Do this every 2 weeks ", &TMainScreen::mnuRebuildIndexesClick);
  mnuPreferences = item(file, "mnuPreferences", "P&references", {}, "Set Korvane preferences",
                        &TMainScreen::mnuPreferencesClick);
  file->addSeparator();
  Exit1 =
      item(file, "Exit1", "E&xit", QKeySequence("Ctrl+Q"), "Exit to the desktop", &QWidget::close);
  // The desktop's Ctrl+Q, and the program's own Ctrl+X for those used to it.
  Exit1->setShortcuts({QKeySequence("Ctrl+Q"), QKeySequence("Ctrl+X")});

  QMenu *help = menuBar()->addMenu("&Help");
  Contents1 = item(help, "Contents1", "Contents", QKeySequence::HelpContents,
                   "Open the Korvane help file", &TMainScreen::Contents1Click);
  About1 =
      item(help, "About1", "About", {}, "Information about Korvane", &TMainScreen::About1Click);
  TroubleshootingTips1 = item(help, "TroubleshootingTips1", "Troubleshooting Tips", {}, {},
                              &TMainScreen::TroubleshootingTips1Click);
  mnuDemo = item(help, "mnuDemo", "Try with a simulated &line", {},
                 "Send and receive faxes over a simulated line, without a modem",
                 &TMainScreen::mnuDemoClick);
  help->addSeparator();
  mnuShowHint = item(help, "mnuShowHint", "Show Hints", {}, {}, &TMainScreen::mnuShowHintClick);
  mnuShowHint->setCheckable(true);
}

void TMainScreen::FormCreate() {
  FirstActivate = true;
  NoteBook->setCurrentIndex(0);
  if (!Records.OpenFaxDBF()) failStart("Unable to open/create the FAX datafile - closing program");
  if (!Records.OpenRecFaxDBF())
    failStart("Unable to open/create the FAX RECEIVE datafile - closing program");
  reportRecovery(Records.FaxTable);
  reportRecovery(Records.RecTable);
  reportDamagedIndex(Records.FaxTable, Records.FaxApollo);
  reportDamagedIndex(Records.RecTable, Records.RecApollo);
  FirstRun = false;
  Settings.Load();
  // A settings file that cannot be read (it is then no first start) or that names no port.
  if (!Settings.LoadProblem().isEmpty()) Dialogs::information(this, Settings.LoadProblem() + ".");
  SetPlacementStore(&Settings);
  if (Settings.ComPort() == -1) {
    FirstRun = true;
    Settings.SetComPort(0);
    // A new program directory starts with the cover sheet templates shipped with the program.
    if (QString why; !AddShippedCovers(Records, why) || !why.isEmpty())
      Dialogs::information(this, why + ".");
  }
  statusOwner_ = std::make_unique<StatusLineOwner>(status);
  FaxInProgress = false;
  ReceiveMode = false;
  QDir().mkdir(ProgramDir() + "receive");
  prepareReceivePort();
  mnuShowHint->setChecked(Settings.HintsOn());
  Hints::setEnabled(Settings.HintsOn());
}

// A table that cannot be had ends the program. The message says which file and why, also on
// standard error for a start from a terminal or a script.
void TMainScreen::failStart(const QString &text) {
  const QString reason = Records.OpenError();
  std::fprintf(stderr, "korvane: %s: %s\n", qPrintable(text), qPrintable(reason));
  Dialogs::information(this, reason.isEmpty() ? text : text + "\r\r" + reason);
  startFailed_ = true;
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

// Rows the open found whole beyond the table's count were restored (or a cut-off count was
// corrected): the user is told, since these are their faxes.
void TMainScreen::reportRecovery(const TTable &table) {
  const QString note = table.RecoveryNote();
  if (note.isEmpty()) return;
  Dialogs::information(this, note + ".");
}

// Indexes are never rebuilt at open; a damaged one is pointed out so that the user can run
// Rebuild Indexes, and the list works from the rows meanwhile.
void TMainScreen::reportDamagedIndex(TTable &table, TApollo &apollo) {
  if (!table.Active() || apollo.IndexOk()) return;
  Dialogs::information(this, QStringLiteral("The index file %1 does not match its table (%2).\r\r"
                                            "Choose Rebuild Indexes from the File menu to "
                                            "rebuild it.")
                                 .arg(IndexFileOf(table.TableName()), apollo.IndexProblem()));
}

void TMainScreen::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  // The first activation runs once the window is up and the event loop turns.
  if (FirstActivate && !activateQueued_) {
    activateQueued_ = true;
    QMetaObject::invokeMethod(this, &TMainScreen::FormActivate, Qt::QueuedConnection);
  }
}

void TMainScreen::FormActivate() {
  if (!FirstActivate || closed_) return;
  RestoreWindowPlacement(this);
  SetButtons();
  if (!isMinimized()) {
    raise();
    activateWindow();
  }
  QCoreApplication::processEvents();
  if (FirstRun) mnuPreferencesClick();
  if (closed_) return;  // the program was ended while the preferences were open
  if (Settings.AtStartup()) ReceiveButtonClick();
  FirstActivate = false;
  WatchPrintedJobs();
}

int TMainScreen::CurrentPage() const {
  return NoteBook->currentIndex();
}

void TMainScreen::SetButtons() {
  TFaxRecords::FollowRows(Records.FaxTable, Records.FaxApollo, "DATESENT");
  TFaxRecords::FollowRows(Records.RecTable, Records.RecApollo, "DATETIME");
  const bool S = Records.FaxTable.Active() && TFaxRecords::HasCurrentRow(Records.FaxTable);
  const bool R = Records.RecTable.Active() && TFaxRecords::HasCurrentRow(Records.RecTable);
  const int P = CurrentPage();
  const bool M = ReceiveMode;

  FaxGrid->setEnabled(S);
  RecFaxGrid->setEnabled(R);
  Newbutton->setEnabled(P == 0);
  CloneButton->setEnabled(P == 0 && S);
  SendButton->setEnabled(P == 0 && !M && S);
  mnuRebuildIndexes->setEnabled(!M);
  mnuPreferences->setEnabled(!M);
  mnuModemReset->setEnabled(!M);
  if (P == 1) {
    EditButton->setEnabled(!M && R);
    DeleteButton->setEnabled(!M && R);
    ViewFaxButton->setEnabled(R);
  } else {
    EditButton->setEnabled(S);
    DeleteButton->setEnabled(S);
    ViewFaxButton->setEnabled(S);
  }
  mnuNew->setEnabled(Newbutton->isEnabled());
  mnuEdit->setEnabled(EditButton->isEnabled());
  mnuClone->setEnabled(CloneButton->isEnabled());
  mnuDelete->setEnabled(DeleteButton->isEnabled());
  mnuSend->setEnabled(SendButton->isEnabled());
  mnuViewPrint->setEnabled(ViewFaxButton->isEnabled());
  ReceiveButton->setEnabled(true);
  mnuReceive->setEnabled(true);
  ShowUnreadFaxes(*this);
}

void TMainScreen::TabSet1Click(int index) {
  NoteBook->setCurrentIndex(index);
  SetButtons();
}

// The commands below act on the modem and the other windows; their windows are built
// separately and hooked in here. The row commands are in main_rows.cpp.
// Receive mode is in main_receive.cpp and the preferences in main_preferences.cpp.
void TMainScreen::mnuModemResetClick() {
  ShowModemReset(this, Settings);
}

// View/Print: the current row's fax in the viewer window. A received fax is its file in the
// receive folder; a sent fax is its kept file in sent/, or else is rendered from its row into a
// work file, deleted afterwards.
void TMainScreen::mnuViewPrintClick() {
  const int page = CurrentPage();
  TTable &table = page == 1 ? Records.RecTable : Records.FaxTable;
  if (!table.Active() || !TFaxRecords::HasCurrentRow(table)) {
    Dialogs::beep();
    return;
  }
  auto field = [&table](const char *name) {
    TField *f = table.FieldByName(name);
    return f ? f->AsString().trimmed() : QString();
  };
  QString file, header, keptSent;
  {
    BusyCursor busy;
    ShowStatus("Preparing files for viewing...");
    QCoreApplication::processEvents();
    if (page == 1) {
      const QString name = field("FAXFILE");
      file = ProgramDir() + "receive/" + name;
      if (name.isEmpty() || !QFileInfo(file).isFile()) {
        ShowStatus(QString());
        Dialogs::information(this, "Fax file is missing");
        return;
      }
      header = field("FROM");
      if (!field("NOTES").isEmpty()) header += " - " + field("NOTES");
    } else {
      // A sent fax shows the pages that went out; others are drawn from their row.
      keptSent = KeptSentFax(table, ProgramDir());
      file = keptSent.isEmpty() ? CreateFaxFile() : keptSent;
      if (file.isEmpty()) {
        Dialogs::information(this, "Error creating fax file");
        return;
      }
      header = field("RECIPIENT") + " - " + field("SUBJECT");
    }
    ShowStatus("Loading viewer...");
    QCoreApplication::processEvents();
  }
  {
    TFaxViewer viewer(this);
    viewer.FileName = file;
    viewer.FaxPrinter.FaxHeader.Caption = header;
    ShowStatus(QString());
    viewer.exec();
  }
  if (page == 1) MarkReceivedFaxViewed(*this, QFileInfo(file).fileName());
  ButtonBar->setEnabled(true);
  // A sent fax's pages were made for this viewing only, unless they are its kept record.
  if (page == 0 && keptSent.isEmpty()) QFile::remove(file);
  ShowStatus(QString());
}

void TMainScreen::mnuRebuildIndexesClick() {
  FaxModel->setFollowing(false);
  RecFaxModel->setFollowing(false);
  {
    TRebuildInd rebuild(Records, this);
    CenterWindow(&rebuild);
    rebuild.exec();
  }
  FaxModel->setFollowing(true);
  RecFaxModel->setFollowing(true);
  SetButtons();
}

void TMainScreen::Contents1Click() {
  THelpWindow::showTopic(kHelpContents);
}
void TMainScreen::TroubleshootingTips1Click() {
  THelpWindow::showTopic(kHelpTroubleshooting);
}

// The demo runs as a program of its own, with its own files, beside this one.
void TMainScreen::mnuDemoClick() {
  if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), {"--demo"}))
    Dialogs::error(this, "The demonstration could not be started.");
}

void TMainScreen::About1Click() {
  TSplashform about(this);
  CenterWindow(&about);
  about.exec();
}

void TMainScreen::mnuShowHintClick() {
  const bool on = mnuShowHint->isChecked();
  Settings.SetHintsOn(on);
  if (!Settings.Save()) Dialogs::error(this, Settings.LastError());
  Hints::setEnabled(on);
  ShowStatus(QString());
}

// A fax on the line, or receive mode that would stop answering, is not ended by a stray key.
bool TMainScreen::FormCloseQuery() {
  if (!quitting_) {
    QString question;
    bool yesIsDefault = true;
    if (FaxInProgress) {
      question = "You are receiving a fax. Exit the program?";
    } else if (FaxGoingOut()) {
      question = "A fax is being sent. Exit the program and end the call?";
      yesIsDefault = false;
    } else if (ReceiveMode) {
      question =
          "Receive mode is on: once the program ends, calls are no longer answered. "
          "Exit the program?";
    }
    if (!question.isEmpty() && !Dialogs::askYesNo(this, "Exit", question, yesIsDefault))
      return false;
  }
  QCoreApplication::processEvents();
  Records.FaxTable.Close();
  Records.RecTable.Close();
  QCoreApplication::processEvents();
  return true;
}

bool TMainScreen::FaxGoingOut() const {
  const QWidget *form = findChild<QWidget *>("SendFaxForm");
  return form && form->isVisible();
}

void TMainScreen::FormClose() {
  if (ReceiveMode) ReceiveModeOff();
  SetButtons();
  SaveWindowPlacement(this);
}

void TMainScreen::QuitWithoutQuestions() {
  quitting_ = true;
  Dialogs::silenceForGood();
  close();
  // Ends the event loops of windows open over this one too.
  QCoreApplication::exit(0);
}

void TMainScreen::closeEvent(QCloseEvent *event) {
  if (closed_) {
    event->accept();
    return;
  }
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  FormClose();
  closed_ = true;
  event->accept();
}

}  // namespace kv
