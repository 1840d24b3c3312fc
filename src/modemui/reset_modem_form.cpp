#include "modemui/reset_modem_form.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/help_window.h"
#include "app/settings_link.h"
#include "app/window_placement.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"

namespace kv {

namespace {
constexpr int kHelpTopic = 1027;

// Repaints at once: the window is about to wait on the modem without returning to the loop.
void repaintNow(QWidget *w) {
  w->repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
}  // namespace

TResetModemForm::TResetModemForm(QWidget *parent) : QDialog(parent) {
  setObjectName("ResetModemForm");
  setWindowTitle("Modem Reset");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  Port.SetComNumber(1);
  Port.SetAutoOpen(false);
  Port.SetInSize(8192);
  Port.SetOutSize(8192);
  Port.SetHWFlowOptions(hwfSet({hwfUseRTS, hwfRequireCTS}));
  Port.SetTracing(tlOff);
  Port.SetLogging(tlOff);

  ComPort = new TPortChoice("Reset the modem on communications port:", this);

  auto makeRow = [this](const char *name, const char *hint, QLineEdit *&edit,
                        QPushButton *&recommended, QPushButton *&send, const char *value) {
    edit = new QLineEdit(this);
    edit->setObjectName(name);
    edit->setToolTip(hint);
    recommended = new QPushButton("&Recommended", this);
    send = new QPushButton("&Send Now", this);
    connect(recommended, &QPushButton::clicked, this, [edit, value] { edit->setText(value); });
    connect(send, &QPushButton::clicked, this, [this, e = edit] { sendNow(e); });
    auto *row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(recommended);
    row->addWidget(send);
    return row;
  };
  auto *beforeLabel = new QLabel(
      "Use the following reset string &BEFORE each fax session (send or receive):", this);
  auto *before =
      makeRow("ResetString", "Enter the modem reset string here. Usually this \nis AT&F or AT&F1.",
              ResetString, Recommended1, SendNow1, "AT&F");
  beforeLabel->setBuddy(ResetString);
  auto *afterLabel =
      new QLabel("Use the following reset string &AFTER each fax session (send or receive):", this);
  auto *after = makeRow("ResetAfterString",
                        "Enter the modem reset AFTER string here. Usually this \nis ATZ or AT&F..",
                        ResetAfterString, Recommended2, SendNow2, "ATZ");
  afterLabel->setBuddy(ResetAfterString);
  // Each row's buttons get their own mnemonics: the labels above own B and A.
  Recommended2->setText("R&ecommended");
  SendNow2->setText("Se&nd Now");

  Status = new QLabel(this);
  Status->setObjectName("Status");
  Status->setWordWrap(true);
  Status->setFrameShape(QFrame::Panel);
  Status->setFrameShadow(QFrame::Sunken);
  Status->setMargin(4);
  // The palette's roles, as the program's other status strips, so it reads on dark desktops.
  Status->setAutoFillBackground(true);
  Status->setBackgroundRole(QPalette::Button);
  Status->setForegroundRole(QPalette::Link);
  Status->setMinimumHeight(2 * Status->fontMetrics().lineSpacing() + 12);

  HelpButton = new QPushButton("&Help", this);
  OkButton = new QPushButton("&Ok", this);
  OkButton->setToolTip("Exit");
  OkButton->setDefault(true);
  connect(HelpButton, &QPushButton::clicked, this, [] { THelpWindow::showTopic(kHelpTopic); });
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  auto *bar = new QHBoxLayout;
  bar->addWidget(HelpButton);
  bar->addStretch();
  bar->addWidget(OkButton);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(ComPort);
  layout->addSpacing(6);
  layout->addWidget(beforeLabel);
  layout->addLayout(before);
  layout->addSpacing(6);
  layout->addWidget(afterLabel);
  layout->addLayout(after);
  layout->addSpacing(6);
  layout->addWidget(Status);
  layout->addLayout(bar);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

TResetModemForm::~TResetModemForm() {
  closePortAndWait(Port);
}

void TResetModemForm::sendNow(QLineEdit *edit) {
  if (edit->text().isEmpty()) {
    Dialogs::beep();
    return;
  }
  OkButton->setEnabled(false);
  Status->setText("Opening Com Port...please wait");
  repaintNow(this);
  Port.SetComNumber(std::uint16_t(ComPort->ItemIndex() + 1));
  std::string message;
  if (!OpenComPortWithMessage(Port, message)) {
    Status->setText(QString::fromStdString(message).replace('\r', '\n'));
  } else {
    std::string command = edit->text().toStdString();  // a copy: the edit keeps its text
    Status->setText(SendModemString(Port, command) ? "Modem reset" : "Unable to reset modem");
  }
  Dialogs::beep();
  closePortAndWait(Port);
  repaintNow(this);
  OkButton->setEnabled(true);
}

void ShowModemReset(QWidget *parent, TSettingsLink &settings) {
  settings.Load();
  TResetModemForm form(parent);
  form.ComPort->SetItemIndex(settings.ComPort());
  form.ResetString->setText(QString::fromStdString(settings.Data.resetString));
  form.ResetAfterString->setText(QString::fromStdString(settings.Data.afterResetString));
  CenterWindow(&form);
  form.exec();
  settings.Data.resetString = form.ResetString->text().toStdString();
  settings.Data.afterResetString = form.ResetAfterString->text().toStdString();
  if (!settings.Save()) Dialogs::error(parent, settings.LastError());
}

}  // namespace kv
