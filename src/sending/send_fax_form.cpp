#include "sending/send_fax_form.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>

#include "app/button_bar.h"
#include "app/dialogs.h"
#include "app/help_window.h"
#include "app/program_dir.h"
#include "app/settings_link.h"
#include "app/status_line.h"
#include "base/error_text.h"
#include "fax/fax_text.h"
#include "modem/port_options.h"
#include "modemui/modem_test_forms.h"
#include "modemui/reset_modem_form.h"
#include "sending/send_port.h"

namespace kv {

namespace {
constexpr int kHelpTopic = 1016;
constexpr int kProblemsTopic = 1026;

// A caption over its control, the caption's mnemonic moving the focus to the control.
QWidget *captioned(QWidget *parent, const QString &caption, QWidget *control) {
  auto *box = new QWidget(parent);
  auto *col = new QVBoxLayout(box);
  col->setContentsMargins(0, 0, 0, 0);
  col->setSpacing(2);
  auto *label = new QLabel(caption, box);
  label->setBuddy(control);
  col->addWidget(label);
  col->addWidget(control);
  return box;
}

QLineEdit *edit(QWidget *parent, const char *name, const QString &hint, int maxLength = 0) {
  auto *e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setToolTip(hint);
  if (maxLength > 0) e->setMaxLength(maxLength);
  return e;
}

void repaintNow() {
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
}  // namespace

TSendFaxForm::TSendFaxForm(QWidget *parent, TSettingsLink &settings)
    // The status window is the form's own: it stays in front of the form for the whole call.
    : TBarDialog(parent, 31), KvFaxStatus1(this), settings_(settings) {
  setObjectName("SendFaxForm");
  setWindowTitle("Send Fax");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  Helpbutton =
      AddBarButton(ButtonBar, "Helpbutton", "&Help", "Get help for Send Fax", ButtonPicture::Help);
  ProblemsButton = AddBarButton(ButtonBar, "ProblemsButton", "Problems??",
                                "Click here for Troubleshooting tips!", ButtonPicture::Help);
  FindModemBtn =
      AddBarButton(ButtonBar, "FindModemButton", "&Find Modem",
                   "Click here to have the program attempt to find which port your faxmodem is on",
                   ButtonPicture::View);
  CheckFaxClassBtn = AddBarButton(
      ButtonBar, "CheckFaxClassButton", "Chec&k Fax Class",
      "Click here to have the program test the modem to see which fax classes it supports",
      ButtonPicture::Ok);
  ModemResetBtn = AddBarButton(ButtonBar, "ModemResetButton", "Modem R&eset",
                               "Click here to use the Modem Reset dialog", ButtonPicture::Edit);
  AddBarStretch(ButtonBar);
  Closebutton = AddBarButton(ButtonBar, "Closebutton", "C&lose", "Close the Send Fax dialog",
                             ButtonPicture::Exit);

  // The modem side: port, class, dialling.
  ComPort = new TPortChoice("Port", this);
  ComPort->setToolTip("Select the communications port for your faxmodem here");
  FaxClass = new QComboBox(this);
  FaxClass->setObjectName("FaxClass");
  FaxClass->addItems({"auto detect", "class 1", "class 2", "class 2.0"});
  FaxClass->setToolTip(
      "You should usually set this at the highest class supported by your modem, however if you "
      "experience problems set it to auto detect (the default)");
  auto *tone = new QGroupBox("Tone or Pulse", this);
  tone->setObjectName("ToneOrPulse");
  tone->setToolTip("Select tone or pulse, depending on your phone system (normally tone)");
  ToneButton = new QRadioButton("&Tone", tone);
  ToneButton->setObjectName("Tone");
  PulseButton = new QRadioButton("P&ulse", tone);
  PulseButton->setObjectName("Pulse");
  ToneButton->setChecked(true);
  auto *toneRow = new QHBoxLayout(tone);
  toneRow->addWidget(ToneButton);
  toneRow->addWidget(PulseButton);
  toneRow->addStretch();
  BlindDial = new QCheckBox("&Blind Dial", this);
  BlindDial->setObjectName("BlindDial");
  BlindDial->setToolTip(
      "If the modem is not connected to a phone line which supplies a dial tone, check  Blind "
      "Dial.\nThis is the same as sending the ATX3 modem command");
  IgnoreBusy = new QCheckBox("I&gnore Busy Signal", this);
  IgnoreBusy->setObjectName("IgnoreBusy");
  IgnoreBusy->setToolTip(
      "Check this box to ignore busy signals. In certain countries, some modems falsely "
      "interpret the phone ringing as a busy  signal. ONLY CHECK THIS BOX IF THIS SITUATION "
      "APPLIES TO YOU! This is the same as sending the ATX2 modem command");
  TransferRate = new QComboBox(this);
  TransferRate->setObjectName("TransferRate");
  TransferRate->addItems({"2400", "4800", "7200", "9600", "12000", "14400"});
  TransferRate->setToolTip(
      "This is the maximum transfer rate or BPS of the fax session. We recommend leaving it at "
      "9600.\nSetting it at a lower rate (7200,4800 or 2400) can increase reliability in some "
      "cases, but \nwill also mean a longer time to send the fax.");

  // The fax side: who sends, where to, how often to try.
  sfusername = edit(this, "sfusername",
                    "Enter your name here\n(this will be printed on the fax header)", 20);
  sfStationID = edit(this, "sfStationID",
                     "Enter your own fax number here\n(this is required for identification "
                     "purposes)",
                     20);
  sfDialPrefix = edit(
      this, "sfDialPrefix",
      "Enter the dial prefix here. If your telephone system requires special numbers or codes "
      "when dialing out, you can specify them once here rather than in every fax number. Do not "
      "include 'ATD' or a 'T' or 'P' tone/pulse modifier in the dial prefix");
  sfPhoneNumber = edit(this, "sfPhoneNumber", "Enter the recipient phone # here", 40);
  sfModemInit = edit(
      this, "sfModemInit",
      "(You should not need to do this). Enter extra modem init string here. If you use an init "
      "string here, it will be sent just before the default init: ('ATE0Q0V1X4S0=0'). The init "
      "string should not contain an 'AT' prefix.");
  sfDialAttempts = edit(this, "sfDialAttempts",
                        "Enter the number of dial attempts that should be made for each fax");
  sfRetryWait = edit(this, "sfRetryWait", "Enter the number of seconds between dial attempts here");
  sfTimeOut = edit(this, "sfTimeOut",
                   "Enter the number of seconds that Korvane should wait after dialing before it "
                   "aborts the call with a timeout");
  sfDialAttempts->setText("3");
  sfRetryWait->setText("60");
  sfTimeOut->setText("60");
  SendFaxButton = new QPushButton("&Send Fax", this);
  SendFaxButton->setObjectName("SendFaxButton");
  SendFaxButton->setToolTip("Attempt to send the fax");
  SendFaxButton->setDefault(true);
  SendFaxButton->setMinimumHeight(32);

  auto *modem = new QGroupBox("Modem", this);
  auto *mg = new QGridLayout(modem);
  mg->addWidget(ComPort, 0, 0, 1, 2);
  mg->addWidget(captioned(modem, "Fax &class", FaxClass), 1, 0);
  mg->addWidget(captioned(modem, "Transfer &Rate (BPS)", TransferRate), 1, 1);
  mg->addWidget(tone, 2, 0);
  auto *checks = new QVBoxLayout;
  checks->addWidget(BlindDial);
  checks->addWidget(IgnoreBusy);
  mg->addLayout(checks, 2, 1);
  mg->addWidget(captioned(modem, "&Modem initialization string (rarely needed):", sfModemInit), 3,
                0, 1, 2);
  // Two even columns, lined up with the two columns of the fax box below.
  mg->setColumnStretch(0, 1);
  mg->setColumnStretch(1, 1);

  auto *fax = new QGroupBox("Fax", this);
  auto *fg = new QGridLayout(fax);
  fg->addWidget(captioned(fax, "Your &Name (optional)", sfusername), 0, 0);
  fg->addWidget(captioned(fax, "Your fax number or Station &ID# (required)", sfStationID), 0, 1);
  fg->addWidget(captioned(fax, "&Dial prefix:", sfDialPrefix), 1, 0);
  fg->addWidget(captioned(fax, "&Phone #:", sfPhoneNumber), 1, 1);
  auto *numbers = new QHBoxLayout;
  numbers->addWidget(captioned(fax, "Number of dial &attempts", sfDialAttempts));
  numbers->addWidget(captioned(fax, "Seconds to &wait before retry", sfRetryWait));
  numbers->addWidget(captioned(fax, "Seconds to wait before time&out", sfTimeOut));
  fg->addLayout(numbers, 2, 0, 1, 2);
  fg->setColumnStretch(0, 1);
  fg->setColumnStretch(1, 1);

  auto *sendRow = new QHBoxLayout;
  sendRow->addStretch();
  sendRow->addWidget(SendFaxButton);
  Body->addWidget(modem);
  Body->addWidget(fax);
  Body->addLayout(sendRow);

  // Tab order: the fax side first is what a user fills in; the number edits follow the phone.
  setTabOrder(sfusername, sfStationID);
  setTabOrder(sfStationID, sfDialPrefix);
  setTabOrder(sfDialPrefix, sfPhoneNumber);
  setTabOrder(sfPhoneNumber, sfDialAttempts);
  setTabOrder(sfDialAttempts, sfRetryWait);
  setTabOrder(sfRetryWait, sfTimeOut);
  setTabOrder(sfTimeOut, SendFaxButton);

  SetKeyButtons(nullptr, {Closebutton});
  connect(Helpbutton, &QToolButton::clicked, this, [] { THelpWindow::showTopic(kHelpTopic); });
  connect(ProblemsButton, &QToolButton::clicked, this,
          [] { THelpWindow::showTopic(kProblemsTopic); });
  connect(FindModemBtn, &QToolButton::clicked, this, &TSendFaxForm::FindModemButtonClick);
  connect(CheckFaxClassBtn, &QToolButton::clicked, this, &TSendFaxForm::CheckFaxClassButtonClick);
  connect(ModemResetBtn, &QToolButton::clicked, this, &TSendFaxForm::ModemResetButtonClick);
  connect(Closebutton, &QToolButton::clicked, this, &TSendFaxForm::CloseButtonClick);
  connect(SendFaxButton, &QPushButton::clicked, this, &TSendFaxForm::SendFaxButtonClick);

  // The window's port, status window and sender.
  KvComPort1.SetComNumber(1);
  SetupSendPort(KvComPort1, ProgramDir().toStdString());
  KvSendFax1.FaxClass = fcUnknown;
  KvSendFax1.FaxFileExt = "APF";
  KvSendFax1.SetComPort(&KvComPort1);
  KvFaxStatus1.SetPosition(poScreenCenter);
  // Modal to this window while shown: a click on the form cannot bury it under the form, and
  // nothing here can be used during a call anyway.
  KvFaxStatus1.Display()->setWindowModality(Qt::WindowModal);
  KvSendFax1.StatusDisplay = &KvFaxStatus1;
  KvSendFax1.OnFaxFinish = [this](TKvAbstractFax &, Result code) {
    // Finishing touches the port the session has just let go of: after the event returns.
    QMetaObject::invokeMethod(
        this, [this, code] { KvSendFax1FaxFinish(code); }, Qt::QueuedConnection);
  };
  sfusername->setFocus();
}

TSendFaxForm::~TSendFaxForm() {
  // A finish still to come must not reach a window that is gone.
  KvSendFax1.OnFaxFinish = {};
  if (KvSendFax1.Running()) KvSendFax1.AbortFax();
  KvSendFax1.StatusDisplay = nullptr;
  KvSendFax1.SetComPort(nullptr);
  closePortAndWait(KvComPort1);
}

SendOptions TSendFaxForm::Options() const {
  SendOptions o;
  o.portItem = ComPort->ItemIndex();
  o.name = sfusername->text().toStdString();
  o.stationId = sfStationID->text().toStdString();
  o.dialPrefix = sfDialPrefix->text().toStdString();
  o.modemInit = sfModemInit->text().toStdString();
  o.dialAttempts = sfDialAttempts->text().toStdString();
  o.retryWait = sfRetryWait->text().toStdString();
  o.timeout = sfTimeOut->text().toStdString();
  o.faxClassItem = FaxClass->currentIndex();
  o.pulse = PulseButton->isChecked();
  o.blindDial = BlindDial->isChecked();
  o.ignoreBusy = IgnoreBusy->isChecked();
  o.rateItem = TransferRate->currentIndex();
  o.internationalPrefix = internationalPrefix_;
  return o;
}

void TSendFaxForm::SetOptions(const SendOptions &o) {
  ComPort->SetItemIndex(o.portItem);
  KvComPort1.SetComNumber(std::uint16_t(ComPort->ItemIndex() + 1));
  sfusername->setText(QString::fromStdString(o.name));
  sfStationID->setText(QString::fromStdString(o.stationId));
  sfDialPrefix->setText(QString::fromStdString(o.dialPrefix));
  sfModemInit->setText(QString::fromStdString(o.modemInit));
  sfDialAttempts->setText(QString::fromStdString(o.dialAttempts));
  sfRetryWait->setText(QString::fromStdString(o.retryWait));
  sfTimeOut->setText(QString::fromStdString(o.timeout));
  FaxClass->setCurrentIndex(std::clamp(o.faxClassItem, 0, 3));
  (o.pulse ? PulseButton : ToneButton)->setChecked(true);
  BlindDial->setChecked(o.blindDial);
  IgnoreBusy->setChecked(o.ignoreBusy);
  TransferRate->setCurrentIndex(std::clamp(o.rateItem, 0, 5));
  internationalPrefix_ = o.internationalPrefix;
}

void TSendFaxForm::showEvent(QShowEvent *e) {
  TBarDialog::showEvent(e);
  if (!firstActivate_) return;
  firstActivate_ = false;
  sfPhoneNumber->setText(PhoneNumber);
}

void TSendFaxForm::keyPressEvent(QKeyEvent *e) {
  const bool plain = e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier;
  // Enter sends from anywhere in the window but a button of the bar, which takes it itself.
  if (plain && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
    SendFaxButton->click();
    e->accept();
    return;
  }
  TBarDialog::keyPressEvent(e);
}

void TSendFaxForm::changeEvent(QEvent *e) {
  TBarDialog::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && busy_)
    QMetaObject::invokeMethod(
        this, [this] { KvFaxStatus1.BringToFront(); }, Qt::QueuedConnection);
}

void TSendFaxForm::reject() {
  if (busy_) {
    // The window with Cancel comes forward, so that the next Escape ends the call.
    Dialogs::beep();
    KvFaxStatus1.BringToFront();
    return;
  }
  closePortAndWait(KvComPort1);
  TBarDialog::reject();
}

void TSendFaxForm::setBusy(bool on) {
  busy_ = on;
}

void TSendFaxForm::restoreTraceNames() {
  SetupSendPort(KvComPort1, ProgramDir().toStdString());
}

void TSendFaxForm::SendFaxButtonClick() {
  if (busy_) {
    Dialogs::beep();
    return;
  }
  // Checked before the port opens: what cannot be dialled never reaches the modem.
  const SendOptions options = Options();
  Dialling dial;
  if (std::string reason;
      !ParseDialling(options, sfPhoneNumber->text().toStdString(), dial, reason)) {
    Dialogs::error(this, QString::fromStdString(reason));
    (DialString::parsePrefix(options.dialPrefix, dial.prefix, reason) < 0 ? sfDialPrefix
                                                                          : sfPhoneNumber)
        ->setFocus();
    return;
  }
  if (dial.number.plusDropped() && !settings_.Data.plusNoticeGiven) tellPlusDropped(dial);
  setBusy(true);
  KvComPort1.SetComNumber(std::uint16_t(ComPort->ItemIndex() + 1));
  restoreTraceNames();
  auto say = [](const std::string &text) {
    ShowStatus(QString::fromStdString(text));
    repaintNow();
  };
  std::string message;
  if (!OpenSendPort(KvComPort1, settings_.Data.resetString, say, message)) {
    ShowStatus(QString());
    Dialogs::error(this, QString::fromStdString(message).replace('\r', '\n'));
    setBusy(false);
    return;
  }
  try {
    ConfigureSender(KvSendFax1, options, FaxFile.toStdString(), dial, localNow());
    KvSendFax1.CoverFile = CoverFile.toStdString();
    ShowStatus(QString());
    KvSendFax1.BeginTransmit();
  } catch (const std::exception &e) {
    // The user sees why in the status line; the window is ready for another try.
    closePortAndWait(KvComPort1);
    ShowStatus(QString::fromLocal8Bit(e.what()));
    setBusy(false);
  }
}

// Once, ever: a number written with "+" is dialled without it until the user sets the prefix.
void TSendFaxForm::tellPlusDropped(const Dialling &dial) {
  Dialogs::information(
      this,
      QStringLiteral("No international prefix is set in File, Preferences, so the \"+\" of the "
                     "number is not dialled: %1 is dialled. To dial it, set the prefix your line "
                     "uses for calls abroad (such as 00 or 011) there.\n\nThis is said only once.")
          .arg(QString::fromStdString(dial.number.dialled())));
  settings_.Data.plusNoticeGiven = true;
  if (!settings_.Save()) Dialogs::error(this, settings_.LastError());
}

void TSendFaxForm::KvSendFax1FaxFinish(Result code) {
  ResultText = QString::fromStdString(SendResultText(code));
  FinishedAt = QDateTime::currentDateTime();
  Dialogs::information(this, "Finished: " + QString::fromStdString(errorText(code)));
  CloseSendPort(KvComPort1, settings_.Data.afterResetString, [](const std::string &text) {
    ShowStatus(QString::fromStdString(text));
    repaintNow();
  });
  ShowStatus(QString());
  setBusy(false);
}

void TSendFaxForm::CloseButtonClick() {
  if (busy_) {
    Dialogs::beep();
    return;
  }
  closePortAndWait(KvComPort1);
  TBarDialog::reject();
}

void TSendFaxForm::FindModemButtonClick() {
  // The modem tools borrow the window's port: not while a fax is going out on it.
  if (busy_) {
    Dialogs::beep();
    return;
  }
  const int item = FindModemButton(this, KvComPort1, ComPort->ItemIndex());
  ComPort->SetItemIndex(item);
  restoreTraceNames();
}

void TSendFaxForm::CheckFaxClassButtonClick() {
  if (busy_) {
    Dialogs::beep();
    return;
  }
  const int item = CheckFaxClassButton(this, KvComPort1, KvSendFax1, ComPort->ItemIndex(),
                                       FaxClass->currentIndex());
  FaxClass->setCurrentIndex(item);
  closePortAndWait(KvComPort1);
  restoreTraceNames();
}

void TSendFaxForm::ModemResetButtonClick() {
  if (busy_) {
    Dialogs::beep();
    return;
  }
  ShowModemReset(this, settings_);
}

}  // namespace kv
