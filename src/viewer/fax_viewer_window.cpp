#include "viewer/fax_viewer_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPrinterInfo>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>

#include "app/button_bar.h"
#include "app/dialogs.h"
#include "app/help_window.h"
#include "app/hints.h"
#include "app/program_dir.h"
#include "app/status_line.h"
#include "app/window_placement.h"
#include "base/error_text.h"
#include "base/exceptions.h"
#include "faximage/apf_export.h"
#include "viewer/viewer_icons.h"

namespace kv {

namespace {

constexpr int kHelpContext = 1021;
constexpr std::array<int, 6> kZooms{25, 50, 75, 100, 150, 200};

QToolButton *iconButton(QWidget *bar, const char *name, const QString &hint, ViewerPicture pic) {
  QToolButton *b = AddBarButton(bar, name, QString(), hint, ButtonPicture::View);
  b->setIcon(ViewerIcon(pic));
  b->setToolButtonStyle(Qt::ToolButtonIconOnly);
  b->setMinimumWidth(32);
  b->setToolTip(hint);
  b->setAccessibleName(hint);
  return b;
}

}  // namespace

TFaxViewer::TFaxViewer(QWidget *parent) : QDialog(parent) {
  setObjectName("FaxViewer");
  setWindowTitle("Fax Viewer ");
  setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
  setSizeGripEnabled(true);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setupMenu();
  layout->setMenuBar(MainMenu);
  QWidget *bar = MakeButtonBar(this);
  setupButtons(bar);
  layout->addWidget(bar);

  FaxViewer = new TKvFaxViewer(this);
  FaxViewer->setObjectName("FaxViewerControl");
  FaxViewer->SetScaling(false);
  FaxViewer->SetAutoScaleMode(asHalfWidth);
  FaxViewer->SetBusyCursor(Qt::WaitCursor);
  QFont viewerFont("Arial");
  viewerFont.setBold(true);
  FaxViewer->setFont(viewerFont);
  layout->addWidget(FaxViewer, 1);

  auto *bottom = new QHBoxLayout;
  bottom->setSpacing(0);
  StatusPanel = new QLabel("Loading...", this);
  StatusPanel->setObjectName("StatusPanel");
  StyleStatusLine(StatusPanel, 24);
  StatusPanel->setMinimumWidth(200);
  status = new QLabel(this);
  status->setObjectName("status");
  StyleStatusLine(status, 24);
  bottom->addWidget(StatusPanel);
  bottom->addWidget(status, 1);
  layout->addLayout(bottom);

  FaxPrinter.Caption = "KV Fax Printer";
  FaxPrinter.FaxHeader.Caption = "FILE: $F";
  FaxPrinter.FaxFooter.Caption = "Page: $P of $N";
  FaxPrinter.FaxHeader.Enabled = FaxPrinter.FaxFooter.Enabled = true;
  QFont printFont("Arial");
  printFont.setPointSizeF(8.25);  // 11 pixels high on a 96 dpi screen
  FaxPrinter.FaxHeader.Font = FaxPrinter.FaxFooter.Font = printFont;
  FaxPrinter.MultiPage = false;
  FaxPrinter.StatusDisplay = &PrinterStatus;
  PrinterLog.LogFileName = ProgramDir() + "FAXPRINT.LOG";
  FaxPrinter.FaxPrinterLog = &PrinterLog;
  PrinterStatus.Position = poScreenCenter;

  FaxViewer->OnPageChange = [this](TKvCustomFaxViewer &) { UpdatePagePanel(); };
  FaxViewer->OnViewerError = [this](TKvCustomFaxViewer &, Result code) {
    Dialogs::error(this, QStringLiteral("Viewer error %1\n\n%2")
                             .arg(code)
                             .arg(QString::fromStdString(errorText(code))));
  };
  FaxViewer->OnDropFile = [this](TKvCustomFaxViewer &, const QString &name) {
    FileName = name;
    Zoom = 100;  // the viewer starts a new file unscaled
    ApplyZoom(StartingZoom(FaxViewer->PageWidth(), FaxViewer->viewer()->viewport()->width()));
    UpdatePagePanel();
    ShowPageButtons();
  };

  // Create.
  statusOwner_ = std::make_unique<StatusLineOwner>(status);
  Zoom = 100;
  FirstActivate = true;
  resize(594, 386 + MainMenu->sizeHint().height() + bar->height() + 24);
  RestoreWindowPlacement(this);
  for (QAction *a : {mnu25, mnu50, mnu75, mnu100, mnu150, mnu200, mnuRotate0, mnuRotate90,
                     mnuRotate180, mnuRotate270})
    a->setChecked(false);
  setTabOrder(FaxViewer, FirstButton);
}

TFaxViewer::~TFaxViewer() = default;

void TFaxViewer::setupButtons(QWidget *bar) {
  FirstButton = iconButton(bar, "FirstButton", "First page", ViewerPicture::First);
  PrevButton = iconButton(bar, "PrevButton", "Previous page", ViewerPicture::Prev);
  NextButton = iconButton(bar, "NextButton", "Next page", ViewerPicture::Next);
  LastButton = iconButton(bar, "LastButton", "Last page", ViewerPicture::Last);
  ZoomInButton = iconButton(bar, "ZoomInButton", "Zoom in", ViewerPicture::ZoomIn);
  ZoomOutButton = iconButton(bar, "ZoomOutButton", "Zoom out", ViewerPicture::ZoomOut);
  PrinterSetupButton =
      iconButton(bar, "PrinterSetupButton", "Printer setup", ViewerPicture::PrinterSetup);
  Printbutton = iconButton(bar, "Printbutton", "Print", ViewerPicture::Print);
  ExplorerButton1 =
      iconButton(bar, "ExplorerButton1", "Print current page", ViewerPicture::PrintPage);
  ExportButton = AddBarButton(bar, "ExportButton", "E&xport...",
                              "Save the fax as a PDF or TIFF file", ButtonPicture::View);
  ExportButton->setIcon(ViewerIcon(ViewerPicture::Export));
  AddBarStretch(bar);
  CloseButton =
      AddBarButton(bar, "CloseButton", "C&lose", "Close the Fax Viewer", ButtonPicture::Exit);
  Helpbutton = AddBarButton(bar, "Helpbutton", "&Help", "Get help for Fax Viewer",
                            ButtonPicture::Help);
  connect(FirstButton, &QToolButton::clicked, this, &TFaxViewer::FirstButtonClick);
  connect(PrevButton, &QToolButton::clicked, this, &TFaxViewer::PrevButtonClick);
  connect(NextButton, &QToolButton::clicked, this, &TFaxViewer::NextButtonClick);
  connect(LastButton, &QToolButton::clicked, this, &TFaxViewer::LastButtonClick);
  connect(ZoomInButton, &QToolButton::clicked, this, &TFaxViewer::ZoomInButtonClick);
  connect(ZoomOutButton, &QToolButton::clicked, this, &TFaxViewer::ZoomOutButtonClick);
  connect(PrinterSetupButton, &QToolButton::clicked, this, &TFaxViewer::PrinterSetupButtonClick);
  connect(Printbutton, &QToolButton::clicked, this, &TFaxViewer::PrintbuttonClick);
  connect(ExplorerButton1, &QToolButton::clicked, this, &TFaxViewer::ExplorerButton1Click);
  connect(ExportButton, &QToolButton::clicked, this, &TFaxViewer::ExportButtonClick);
  connect(CloseButton, &QToolButton::clicked, this, &QDialog::accept);
  connect(Helpbutton, &QToolButton::clicked, this, &TFaxViewer::HelpbuttonClick);
}

void TFaxViewer::setupMenu() {
  MainMenu = new QMenuBar(this);
  QMenu *view = MainMenu->addMenu("&View");
  auto *zooms = new QActionGroup(this);
  std::array<QAction **, 6> zoomItems{&mnu25, &mnu50, &mnu75, &mnu100, &mnu150, &mnu200};
  for (std::size_t i = 0; i < kZooms.size(); ++i) {
    const int z = kZooms[i];
    QAction *a = view->addAction(QStringLiteral("%1%").arg(z));
    a->setObjectName(QStringLiteral("mnu%1").arg(z));
    a->setCheckable(true);
    zooms->addAction(a);
    connect(a, &QAction::triggered, this, [this, z] { ApplyZoom(z); });
    *zoomItems[i] = a;
  }
  zooms->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  view->addSeparator();
  auto *turns = new QActionGroup(this);
  turns->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  const char *names[] = {"No rotation", "Rotate 90 degrees", "Rotate 180 degrees",
                         "Rotate 270 degrees"};
  std::array<QAction **, 4> turnItems{&mnuRotate0, &mnuRotate90, &mnuRotate180, &mnuRotate270};
  for (int r = 0; r < 4; ++r) {
    QAction *a = view->addAction(names[r]);
    a->setObjectName(QStringLiteral("mnuRotate%1").arg(r * 90));
    a->setCheckable(true);
    turns->addAction(a);
    connect(a, &QAction::triggered, this, [this, r] { RotationClick(r); });
    *turnItems[static_cast<std::size_t>(r)] = a;
  }
  QMenu *edit = MainMenu->addMenu("&Edit");
  mnuCopy = edit->addAction("&Copy selection", QKeySequence::Copy);
  mnuCopy->setObjectName("mnuCopy");
  mnuSelectAll = edit->addAction("Select &all", QKeySequence::SelectAll);
  mnuSelectAll->setObjectName("mnuSelectAll");
  connect(mnuCopy, &QAction::triggered, this, [this] {
    const Result r = FaxViewer->viewer()->kvViewCopy();
    if (r == ecNoImageBlockMarked || r == ecNoImageLoaded)
      Dialogs::beep();
    else if (r < 0)
      Dialogs::error(this, QStringLiteral("Viewer error %1").arg(r));
  });
  connect(mnuSelectAll, &QAction::triggered, this, [this] {
    if (FaxViewer->viewer()->kvViewSelectAll() < 0) Dialogs::beep();
  });
}

int TFaxViewer::StartingZoom(int pageWidth, int viewerWidth) {
  int z = 100;
  if (pageWidth > viewerWidth && pageWidth > 0)
    z = static_cast<int>(static_cast<double>(viewerWidth) / pageWidth * 150);
  if (z > 175) return 200;
  if (z > 125) return 150;
  if (z > 87) return 100;
  if (z > 62) return 75;
  if (z > 36) return 50;
  return 25;
}

void TFaxViewer::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (FirstActivate)
    QMetaObject::invokeMethod(this, &TFaxViewer::FormActivate, Qt::QueuedConnection);
}

void TFaxViewer::changeEvent(QEvent *event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && statusOwner_)
    statusOwner_->activate();
}

void TFaxViewer::FormActivate() {
  if (!FirstActivate) {
    statusOwner_->activate();
    return;
  }
  FirstActivate = false;
  LoadFile();
  if (QPrinterInfo::availablePrinterNames().isEmpty()) {
    Printbutton->setEnabled(false);
    PrinterSetupButton->setEnabled(false);
    ExplorerButton1->setEnabled(false);
  }
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void TFaxViewer::LoadFile() {
  try {
    FaxViewer->BeginUpdate();
    FaxViewer->SetScaling(false);
    FaxViewer->SetHorizMult(1);
    FaxViewer->SetHorizDiv(1);
    FaxViewer->SetVertMult(1);
    FaxViewer->SetVertDiv(1);
    FaxViewer->EndUpdate();
    FaxViewer->SetFileName(FileName);
    Zoom = 100;
    const int z = StartingZoom(FaxViewer->PageWidth(), FaxViewer->viewer()->viewport()->width());
    ApplyZoom(z);
    UpdatePagePanel();
  } catch (const std::exception &) {
    try {
      FaxViewer->SetFileName(QString());
    } catch (const std::exception &) {
    }
    Dialogs::error(this, "Error opening fax file");
    StatusPanel->setText("No file loaded");
  }
  ShowPageButtons();
}

void TFaxViewer::ShowPageButtons() {
  const bool several = FaxViewer->PageCount() > 1;
  for (QToolButton *b : {FirstButton, PrevButton, NextButton, LastButton}) b->setVisible(several);
}

QString TFaxViewer::PageText() const {
  if (FaxViewer->FileName().isEmpty()) return "No file loaded";
  QString text =
      QStringLiteral("Page %1 of %2").arg(FaxViewer->ActivePage()).arg(FaxViewer->PageCount());
  if (!Title.isEmpty()) text = Title + ": " + text;
  if (FaxViewer->viewer()->pageUnreadable()) text += " (unreadable)";
  return text;
}

void TFaxViewer::UpdatePagePanel() {
  StatusPanel->setText(PageText());
}

void TFaxViewer::ApplyZoom(int zoom) {
  QAction *items[] = {mnu25, mnu50, mnu75, mnu100, mnu150, mnu200};
  for (std::size_t i = 0; i < kZooms.size(); ++i) items[i]->setChecked(kZooms[i] == zoom);
  if (zoom == Zoom) return;
  Zoom = zoom;
  if (zoom == 100) {
    FaxViewer->SetScaling(false);
  } else {
    FaxViewer->BeginUpdate();
    FaxViewer->SetScaling(true);
    FaxViewer->SetHorizMult(zoom);
    FaxViewer->SetHorizDiv(100);
    FaxViewer->SetVertMult(zoom);
    FaxViewer->SetVertDiv(100);
    FaxViewer->EndUpdate();
  }
}

void TFaxViewer::ZoomInButtonClick() {
  auto it = std::find(kZooms.begin(), kZooms.end(), Zoom);
  if (it == kZooms.end() || it + 1 == kZooms.end()) {
    Dialogs::beep();
    return;
  }
  ApplyZoom(*(it + 1));
}

void TFaxViewer::ZoomOutButtonClick() {
  auto it = std::find(kZooms.begin(), kZooms.end(), Zoom);
  if (it == kZooms.end() || it == kZooms.begin()) {
    Dialogs::beep();
    return;
  }
  ApplyZoom(*(it - 1));
}

void TFaxViewer::RotationClick(int rotation) {
  QAction *items[] = {mnuRotate0, mnuRotate90, mnuRotate180, mnuRotate270};
  for (int r = 0; r < 4; ++r) items[r]->setChecked(r == rotation);
  try {
    FaxViewer->SetRotation(rotation);
  } catch (const std::exception &) {
    Dialogs::error(this, QStringLiteral("Viewer error %1").arg(ecOutOfMemory));
  }
}

void TFaxViewer::FirstButtonClick() {
  FaxViewer->FirstPage();
}
void TFaxViewer::PrevButtonClick() {
  FaxViewer->PrevPage();
}
void TFaxViewer::NextButtonClick() {
  FaxViewer->NextPage();
}
void TFaxViewer::LastButtonClick() {
  FaxViewer->LastPage();
}

void TFaxViewer::print(int first, int last) {
  try {
    FaxPrinter.PrintScale = psFitToPage;
    FaxPrinter.SetFileName(FaxViewer->FileName());
    FaxPrinter.FirstPage = first;
    FaxPrinter.LastPage = last;
    FaxPrinter.PrintFax();
  } catch (const std::exception &e) {
    // The printer's detail names the file and the reason; the bare code's text does not.
    const QString detail = FaxPrinter.LastErrorDetail();
    Dialogs::error(this, QStringLiteral("The fax could not be printed: %1")
                             .arg(detail.isEmpty() ? QString::fromUtf8(e.what()) : detail));
  }
}

void TFaxViewer::PrintbuttonClick() {
  if (FaxViewer->FileName().isEmpty()) return;
  print(1, FaxViewer->PageCount());
}

void TFaxViewer::ExplorerButton1Click() {
  if (FaxViewer->FileName().isEmpty()) return;
  print(FaxViewer->ActivePage(), FaxViewer->ActivePage());
}

void TFaxViewer::PrinterSetupButtonClick() {
  if (FaxViewer->FileName().isEmpty()) return;
  try {
    FaxPrinter.SetFileName(FaxViewer->FileName());
    FaxPrinter.FirstPage = 1;
    FaxPrinter.LastPage = FaxViewer->PageCount();
    // The dialog's own button says Print: a confirmed dialog prints the range chosen there.
    if (FaxPrinter.PrintSetup(this)) print(FaxPrinter.FirstPage, FaxPrinter.LastPage);
  } catch (const std::exception &e) {
    Dialogs::error(this, QStringLiteral("The fax could not be printed: %1").arg(e.what()));
  }
}

void TFaxViewer::ExportButtonClick() {
  if (FaxViewer->FileName().isEmpty()) {
    Dialogs::beep();
    return;
  }
  QString filter;
  const QString out =
      QFileDialog::getSaveFileName(this, "Export Fax", ExportSuggestion(),
                                   "PDF document (*.pdf);;TIFF fax image (*.tif *.tiff)", &filter);
  if (out.isEmpty()) return;
  BusyCursor busy;
  ShowStatus("Exporting " + QFileInfo(out).fileName() + "...");
  std::string error;
  const Result r = ExportApf(FaxViewer->FileName().toStdString(), out.toStdString(), error);
  ShowStatus(QString());
  if (r < 0)
    Dialogs::error(
        this,
        QStringLiteral("The fax could not be exported: %1").arg(QString::fromStdString(error)));
}

QString TFaxViewer::ExportSuggestion() const {
  const QFileInfo in(ShownFile.isEmpty() ? FaxViewer->FileName() : ShownFile);
  return in.absolutePath() + "/" + in.completeBaseName() + ".pdf";
}

void TFaxViewer::HelpbuttonClick() {
  THelpWindow::showTopic(kHelpContext);
}

void TFaxViewer::done(int result) {
  if (!placementSaved_) {
    placementSaved_ = true;
    SaveWindowPlacement(this);
  }
  QDialog::done(result);
}

void TFaxViewer::closeEvent(QCloseEvent *event) {
  if (FaxPrinter.Printing()) {
    event->ignore();
    return;
  }
  if (!placementSaved_) {
    placementSaved_ = true;
    SaveWindowPlacement(this);
  }
  QDialog::closeEvent(event);
}

}  // namespace kv
