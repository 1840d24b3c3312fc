#pragma once
// The print status window: what is being printed and how far the job has come, with an
// "Abort" button; and the component that shows it for a fax printer.
#include <QDialog>
#include <memory>

#include "viewer/fax_printer.h"

class QLabel;
class QPushButton;

namespace kv {

class TStandardFaxPrinterStatusDisplay : public QDialog {
  Q_OBJECT
 public:
  explicit TStandardFaxPrinterStatusDisplay(TKvCustomFaxPrinter &printer,
                                            QWidget *parent = nullptr);
  // Reads the printer's file and progress again.
  void UpdateValues();

  QLabel *FileNameValue, *TotalPagesValue, *ResolutionValue, *WidthValue, *FirstPageValue,
      *LastPageValue, *StatusMsg;
  QPushButton *AbortButton;

 private:
  TKvCustomFaxPrinter &printer_;
};

enum TPosition { poDesigned, poScreenCenter };

class TKvFaxPrinterStatus : public TKvAbstractFaxPrinterStatus {
 public:
  TKvFaxPrinterStatus();
  ~TKvFaxPrinterStatus() override;

  TPosition Position = poScreenCenter;
  bool Ctl3D = true;
  // The window, while it exists (for tests).
  TStandardFaxPrinterStatusDisplay *Display() const { return display_.get(); }

  void Show(TKvCustomFaxPrinter &printer) override;
  void Hide() override;
  bool Visible() const override;
  void Update(TKvCustomFaxPrinter &printer) override;

 private:
  std::unique_ptr<TStandardFaxPrinterStatusDisplay> display_;
};

}  // namespace kv
