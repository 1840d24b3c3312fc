#pragma once
// The fax viewer window: one APF file, sent or received, page by page, with zoom, rotation,
// printing of the whole fax or the current page, and export to PDF or TIFF.
#include <QDialog>
#include <memory>

#include "viewer/fax_printer.h"
#include "viewer/fax_viewer.h"
#include "viewer/print_status.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenuBar;
class QToolButton;

namespace kv {

class StatusLineOwner;

class TFaxViewer : public QDialog {
  Q_OBJECT
 public:
  explicit TFaxViewer(QWidget *parent = nullptr);
  ~TFaxViewer() override;

  // Set by the caller before the window is first shown.
  QString FileName;
  QString Title;
  // The fax as the user knows it, when FileName is a work copy of it: Export offers to save
  // beside it, under its name, rather than in the work copy's place.
  QString ShownFile;
  int Zoom = 100;
  bool FirstActivate = true;

  TKvFaxViewer *FaxViewer;
  QToolButton *FirstButton, *PrevButton, *NextButton, *LastButton, *ZoomInButton, *ZoomOutButton,
      *PrinterSetupButton, *Printbutton, *ExplorerButton1, *ExportButton, *CloseButton, *Helpbutton;
  QLabel *StatusPanel, *status;
  TKvFaxPrinter FaxPrinter;
  TKvFaxPrinterStatus PrinterStatus;
  TKvFaxPrinterLog PrinterLog;
  QMenuBar *MainMenu;
  QAction *mnu25, *mnu50, *mnu75, *mnu100, *mnu150, *mnu200;
  QAction *mnuRotate0, *mnuRotate90, *mnuRotate180, *mnuRotate270;
  QAction *mnuCopy, *mnuSelectAll;

  // The page text of the status panel ("Page 2 of 5", with the title in front when set).
  QString PageText() const;
  // Applies a zoom of 25, 50, 75, 100, 150 or 200 percent.
  void ApplyZoom(int zoom);
  // The starting zoom for a page `pageWidth` pixels wide in a viewer `viewerWidth` wide.
  static int StartingZoom(int pageWidth, int viewerWidth);

 public slots:
  void FormActivate();
  void FirstButtonClick();
  void PrevButtonClick();
  void NextButtonClick();
  void LastButtonClick();
  void ZoomInButtonClick();
  void ZoomOutButtonClick();
  void PrintbuttonClick();
  void ExplorerButton1Click();
  void PrinterSetupButtonClick();
  void ExportButtonClick();
  // The file Export offers to write: the fax's own folder and name, as a PDF.
  QString ExportSuggestion() const;
  void HelpbuttonClick();
  void RotationClick(int rotation);

 protected:
  void showEvent(QShowEvent *event) override;
  void changeEvent(QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void done(int result) override;

 private:
  void setupButtons(class QWidget *bar);
  void setupMenu();
  void LoadFile();
  void UpdatePagePanel();
  void ShowPageButtons();
  void print(int first, int last);
  std::unique_ptr<StatusLineOwner> statusOwner_;
  bool placementSaved_ = false;
};

}  // namespace kv
