#include "viewer/print_status.h"

#include <QApplication>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace kv {

TStandardFaxPrinterStatusDisplay::TStandardFaxPrinterStatusDisplay(TKvCustomFaxPrinter &printer,
                                                                   QWidget *parent)
    : QDialog(parent), printer_(printer) {
  setObjectName("StandardFaxPrinterStatusDisplay");
  setWindowTitle("Print Status");
  auto *layout = new QVBoxLayout(this);
  auto *info = new QGroupBox("Fax Information", this);
  auto *form = new QFormLayout(info);
  auto value = [this](const char *name) {
    auto *l = new QLabel(this);
    l->setObjectName(name);
    l->setMinimumWidth(160);
    return l;
  };
  form->addRow("Filename", FileNameValue = value("FileNameValue"));
  form->addRow("Total Pages", TotalPagesValue = value("TotalPagesValue"));
  form->addRow("Resolution", ResolutionValue = value("ResolutionValue"));
  form->addRow("Width", WidthValue = value("WidthValue"));
  form->addRow("First Page to Print", FirstPageValue = value("FirstPageValue"));
  form->addRow("Last Page to Print", LastPageValue = value("LastPageValue"));
  layout->addWidget(info);
  auto *status = new QGroupBox("Status", this);
  auto *statusLayout = new QVBoxLayout(status);
  StatusMsg = value("StatusMsg");
  StatusMsg->setAlignment(Qt::AlignCenter);
  statusLayout->addWidget(StatusMsg);
  layout->addWidget(status);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  AbortButton = new QPushButton("Abort", this);
  AbortButton->setObjectName("AbortButton");
  buttons->addWidget(AbortButton);
  buttons->addStretch();
  layout->addLayout(buttons);
  connect(AbortButton, &QPushButton::clicked, this, [this] { printer_.PrintAbort(); });
  UpdateValues();
}

void TStandardFaxPrinterStatusDisplay::UpdateValues() {
  FileNameValue->setText(QFileInfo(printer_.FileName()).fileName().toUpper());
  TotalPagesValue->setText(QString::number(printer_.PageCount()));
  ResolutionValue->setText(printer_.HighResolution() ? "high" : "standard");
  WidthValue->setText(QString::number(printer_.PageWidthPixels()));
  FirstPageValue->setText(QString::number(printer_.FirstPage));
  LastPageValue->setText(QString::number(printer_.LastPage));
  StatusMsg->setText(QStringLiteral("%1 %2 of %3")
                         .arg(PrintProgressWord(printer_.LastProgress()))
                         .arg(printer_.CurrentPage())
                         .arg(printer_.LastPage));
}

TKvFaxPrinterStatus::TKvFaxPrinterStatus() = default;
TKvFaxPrinterStatus::~TKvFaxPrinterStatus() = default;

void TKvFaxPrinterStatus::Show(TKvCustomFaxPrinter &printer) {
  display_ = std::make_unique<TStandardFaxPrinterStatusDisplay>(printer);
  display_->adjustSize();
  if (Position == poScreenCenter) {
    if (QScreen *s = QGuiApplication::primaryScreen()) {
      QRect r = display_->frameGeometry();
      r.moveCenter(s->availableGeometry().center());
      display_->move(r.topLeft());
    }
  }
  display_->show();
  display_->raise();
}

void TKvFaxPrinterStatus::Hide() {
  // The window goes after the job's events have run: Hide may be called from its own button.
  if (display_) {
    display_->hide();
    display_.release()->deleteLater();
  }
}

bool TKvFaxPrinterStatus::Visible() const {
  return display_ && display_->isVisible();
}

void TKvFaxPrinterStatus::Update(TKvCustomFaxPrinter &) {
  if (display_) display_->UpdateValues();
}

}  // namespace kv
