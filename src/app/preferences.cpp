#include "app/preferences.h"

#include <QButtonGroup>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/button_bar.h"
#include "app/dialogs.h"
#include "app/help_window.h"
#include "app/hints.h"
#include "app/program_dir.h"
#include "app/settings_link.h"
#include "app/status_line.h"
#include "app/wave_sound.h"
#include "app/window_placement.h"
#include "base/dial_string.h"
#include "modemui/modem_test_forms.h"
#include "modemui/port_choice.h"
#include "modemui/reset_modem_form.h"

namespace kv {

namespace {

constexpr int kHelpTopic = 1022;
const QStringList kRates{"2400", "4800", "7200", "9600", "12000", "14400"};

QLineEdit *edit(QWidget *parent, const char *name, const QString &hint, int maxLength = 0) {
  auto *e = new QLineEdit(parent);
  e->setObjectName(name);
  if (maxLength > 0) e->setMaxLength(maxLength);
  SetHint(e, hint);
  return e;
}

QLineEdit *numberEdit(QWidget *parent, const char *name, const QString &hint) {
  QLineEdit *e = edit(parent, name, hint, 5);
  e->setValidator(new QIntValidator(0, 99999, e));
  e->setMaximumWidth(e->fontMetrics().horizontalAdvance("000000") + 16);
  return e;
}

QToolButton *smallButton(QWidget *parent, const char *name, const QString &caption,
                         const QString &hint) {
  auto *b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(caption);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  b->setMinimumWidth(70);
  b->setFocusPolicy(Qt::StrongFocus);
  if (!hint.isEmpty()) SetHint(b, hint);
  return b;
}

}  // namespace

// --- Radio group -------------------------------------------------------------------------------

TRadioGroup::TRadioGroup(const QString &title, const QStringList &items, int columns,
                         QWidget *parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(8, 4, 8, 4);
  grid->setVerticalSpacing(2);
  const int rows = (int(items.size()) + columns - 1) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto *b = new QRadioButton(items[i], this);
    group_->addButton(b, i);
    grid->addWidget(b, i % rows, i / rows);
  }
  SetItemIndex(0);
}

int TRadioGroup::ItemIndex() const {
  return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int item) {
  if (QAbstractButton *b = group_->button(item)) b->setChecked(true);
}

QRadioButton *TRadioGroup::Item(int i) const {
  return qobject_cast<QRadioButton *>(group_->button(i));
}

// --- The window --------------------------------------------------------------------------------

std::function<QString(QWidget *, const QString &, const QString &)> TPreferences::OpenWaveDialog =
    [](QWidget *parent, const QString &dir, const QString &preselect) {
      return QFileDialog::getOpenFileName(parent, "Select a WAV file",
                                          preselect.isEmpty() ? dir : preselect,
                                          "WAVE files (*.wav *.WAV)");
    };

TPreferences::TPreferences(QWidget *parent, TSettingsLink &settings)
    : TBarDialog(parent, 55), settings_(settings) {
  setObjectName("Preferences");
  setWindowTitle("Preferences");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  build();
  // The modem tools' port: closed until a tool opens it.
  KvComPort.SetAutoOpen(false);
  KvComPort.SetComNumber(1);
  KvComPort.SetInSize(8192);
  KvComPort.SetOutSize(8192);
  KvComPort.SetHWFlowOptions(hwfSet({hwfUseRTS, hwfRequireCTS}));
  KvComPort.SetTracing(tlOn);
  KvComPort.SetLogging(tlOn);
  KvComPort.SetTraceSize(32000);
  KvComPort.SetTraceName((ProgramDir() + "KRV2.TRC").toStdString());
  KvComPort.SetLogName((ProgramDir() + "KRV2.LOG").toStdString());
}

TPreferences::~TPreferences() = default;

void TPreferences::build() {
  Helpbutton = AddBarButton(ButtonBar, "Helpbutton", "&Help", "Get help for Preferences",
                            ButtonPicture::Help);
  ExplorerButton1 = AddBarButton(ButtonBar, "ExplorerButton1", "Default Font",
                                 "Set the default font to use for new Faxes and Cover Sheets",
                                 ButtonPicture::Font);
  FindModemButton =
      AddBarButton(ButtonBar, "FindModemButton", "Find Modem",
                   "Click here to have the program attempt to find which port your faxmodem is on",
                   ButtonPicture::FindModem);
  CheckFaxClassButton = AddBarButton(
      ButtonBar, "CheckFaxClassButton", "Check Fax Class",
      "Click here to have the program test the modem to see which fax classes it supports",
      ButtonPicture::FaxClass);
  ExplorerButton2 =
      AddBarButton(ButtonBar, "ExplorerButton2", "Modem Reset",
                   "Click here to use the Modem Reset dialog", ButtonPicture::ModemReset);
  AddBarStretch(ButtonBar);
  OkButton = AddBarButton(ButtonBar, "OkButton", "&Accept", "Save changes to preferences",
                          ButtonPicture::Ok);
  Cancelbutton = AddBarButton(ButtonBar, "Cancelbutton", "Cance&l", "Cancel changes to preferences",
                              ButtonPicture::Cancel);

  // Row 1: the modem's port and class, and the line.
  ComPort = new TPortChoice("Port", this);
  SetHint(ComPort, "Select the communications port for your faxmodem here");
  FaxClass =
      new TRadioGroup("Fax &class", {"auto detect", "class 1", "class 2", "class 2.0"}, 2, this);
  FaxClass->setObjectName("FaxClass");
  SetHint(FaxClass,
          "You should usually set this at the highest class supported by your modem, however if "
          "you experience problems set it to auto detect (the default)");
  ToneOrPulse = new TRadioGroup("Tone or Pulse", {"Tone", "Pulse"}, 2, this);
  ToneOrPulse->setObjectName("ToneOrPulse");
  SetHint(ToneOrPulse, "Select tone or pulse, depending on your phone system (normally tone)");
  AnswerOnRing = new TRadioGroup("Answer on ring", {"1", "2", "3"}, 3, this);
  AnswerOnRing->setObjectName("AnswerOnRing");
  SetHint(AnswerOnRing, "Select which ring Korvane should answer on, when in receive mode");
  auto *lineBox = new QVBoxLayout;
  lineBox->addWidget(ToneOrPulse);
  lineBox->addWidget(AnswerOnRing);
  auto *row1 = new QHBoxLayout;
  row1->addWidget(ComPort, 3);
  row1->addWidget(FaxClass, 2);
  row1->addLayout(lineBox, 2);
  Body->addLayout(row1);

  // Row 2: who the user is and how to dial, left; numbers of the session, right.
  Name = edit(this, "Name", "Enter your name here", 35);
  FaxNumber = edit(this, "FaxNumber", "Enter your own fax number here", 20);
  DialPrefix = edit(this, "DialPrefix",
                    "Enter the dial prefix here. If your telephone system requires special "
                    "numbers or codes when dialing out, you can specify them once here rather "
                    "than in every fax number. Do not include 'ATD' or a 'T' or 'P' tone/pulse "
                    "modifier in the dial prefix");
  InternationalPrefix =
      edit(this, "InternationalPrefix",
           "Enter what your telephone system dials before a country code (00 in most of the "
           "world, 011 in North America). A fax number written with a leading '+' is dialled "
           "with it; left empty, the '+' is not dialled.",
           20);
  ModemInit = edit(this, "ModemInit",
                   "(You should not need to do this). Enter extra modem init string here. If you "
                   "use an init string here, it will be sent just before the default init: "
                   "('ATE0Q0V1X4S0=0'). The init string should not contain an 'AT' prefix.");
  auto *who = new QFormLayout;
  who->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto label = [this](const QString &text, QWidget *buddy) {
    auto *l = new QLabel(text, this);
    l->setBuddy(buddy);
    return l;
  };
  who->addRow(label("Your &name", Name), Name);
  who->addRow(label("Your &fax number (Station ID#)", FaxNumber), FaxNumber);
  who->addRow(label("&Dial prefix:", DialPrefix), DialPrefix);
  who->addRow(label("&International prefix (for +):", InternationalPrefix), InternationalPrefix);
  who->addRow(label("&Modem initialization string:", ModemInit), ModemInit);

  TransferRate = new QComboBox(this);
  TransferRate->setObjectName("TransferRate");
  TransferRate->addItems(kRates);
  SetHint(TransferRate,
          "This is the maximum transfer rate or BPS of the fax session. We recommend leaving it "
          "at 9600.\rSetting it at a lower rate (7200,4800 or 2400) can increase reliability in "
          "some cases, but \rwill also mean a longer time to send the fax.");
  DialAttempts = numberEdit(this, "DialAttempts",
                            "Enter the number of dial attempts that should be made for each fax");
  RetryWait =
      numberEdit(this, "RetryWait", "Enter the number of seconds between dial attempts here");
  TimeOut = numberEdit(this, "TimeOut",
                       "Enter the number of seconds that Korvane should wait after dialing before "
                       "it aborts the call with a timeout");
  TimeOut->setText("60");
  CheckBlindDial = new QCheckBox("Blind Dial", this);
  CheckBlindDial->setObjectName("CheckBlindDial");
  SetHint(CheckBlindDial,
          "If the modem is not connected to a phone line which supplies a dial tone, check  Blind "
          "Dial.\rThis is the same as sending the ATX3 modem command");
  CheckIgnoreBusy = new QCheckBox("Ignore Busy Signal", this);
  CheckIgnoreBusy->setObjectName("CheckIgnoreBusy");
  SetHint(CheckIgnoreBusy,
          "Check this box to ignore busy signals. In certain countries, some modems falsely "
          "interpret the phone ringing as a busy  signal. ONLY CHECK THIS BOX IF THIS SITUATION "
          "APPLIES TO YOU! This is the same as sending the ATX2 modem command");
  auto *numbers = new QFormLayout;
  numbers->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  numbers->addRow(label("Transfer &Rate (BPS)", TransferRate), TransferRate);
  numbers->addRow(label("Number of dial attem&pts", DialAttempts), DialAttempts);
  numbers->addRow(label("Seconds to wait before retr&y", RetryWait), RetryWait);
  numbers->addRow(label("Seconds to wait before t&imeout", TimeOut), TimeOut);
  auto *checks = new QHBoxLayout;
  checks->addWidget(CheckBlindDial);
  checks->addWidget(CheckIgnoreBusy);
  checks->addStretch();
  numbers->addRow(checks);
  auto *row2 = new QHBoxLayout;
  row2->addLayout(who, 3);
  row2->addSpacing(12);
  row2->addLayout(numbers, 2);
  Body->addLayout(row2);

  // Row 3: receive mode.
  auto *receive = new QGroupBox("Receiving", this);
  WaveFileEdit = edit(this, "WaveFileEdit", "Type in the path and name of the .WAV file");
  SelectWavButton = smallButton(this, "SelectWavButton", "Ch&oose",
                                "Select the .WAV file from a\rFile Open dialog");
  BitBtn2 = smallButton(this, "BitBtn2", "Play &Now", "Play the .WAV file you have selected");
  BitBtn1 = smallButton(this, "BitBtn1", "None", {});
  ReceiveAtStartup = new QCheckBox("Start Receiving at program startup", this);
  ReceiveAtStartup->setObjectName("ReceiveAtStartup");
  SetHint(ReceiveAtStartup,
          "Check this box to have Korvane start receiving faxes \ras soon as it starts up");
  auto *rgrid = new QGridLayout(receive);
  rgrid->addWidget(label("Select &WAV File to play when receiving a fax:", WaveFileEdit), 0, 0, 1,
                   4);
  rgrid->addWidget(WaveFileEdit, 1, 0);
  rgrid->addWidget(SelectWavButton, 1, 1);
  rgrid->addWidget(BitBtn2, 1, 2);
  rgrid->addWidget(BitBtn1, 1, 3);
  rgrid->addWidget(ReceiveAtStartup, 2, 0, 1, 4);
  rgrid->setColumnStretch(0, 1);
  Body->addWidget(receive);
  Body->addStretch();

  // Keyboard order follows the layout: top to bottom, left to right.
  QWidget *order[] = {ComPort,
                      FaxClass,
                      ToneOrPulse,
                      AnswerOnRing,
                      Name,
                      FaxNumber,
                      DialPrefix,
                      InternationalPrefix,
                      ModemInit,
                      TransferRate,
                      DialAttempts,
                      RetryWait,
                      TimeOut,
                      CheckBlindDial,
                      CheckIgnoreBusy,
                      WaveFileEdit,
                      SelectWavButton,
                      BitBtn2,
                      BitBtn1,
                      ReceiveAtStartup};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  // The window opens in its first field, not on a button of the bar.
  order[0]->setFocus();

  SetKeyButtons(OkButton, {Cancelbutton});
  connect(OkButton, &QToolButton::clicked, this, [this] {
    Settings changed = settings_.Data;
    QString error;
    if (!StoreTo(changed, error)) {
      Dialogs::error(this, error);
      return;
    }
    settings_.Data = changed;
    accept();
  });
  connect(Cancelbutton, &QToolButton::clicked, this, &QDialog::reject);
  connect(Helpbutton, &QToolButton::clicked, this, [] { THelpWindow::showTopic(kHelpTopic); });
  connect(ExplorerButton1, &QToolButton::clicked, this, &TPreferences::ExplorerButton1Click);
  connect(FindModemButton, &QToolButton::clicked, this, &TPreferences::FindModemButtonClick);
  connect(CheckFaxClassButton, &QToolButton::clicked, this,
          &TPreferences::CheckFaxClassButtonClick);
  connect(ExplorerButton2, &QToolButton::clicked, this, &TPreferences::ExplorerButton2Click);
  connect(SelectWavButton, &QToolButton::clicked, this, &TPreferences::SelectWavButtonClick);
  connect(BitBtn2, &QToolButton::clicked, this, &TPreferences::BitBtn2Click);
  connect(BitBtn1, &QToolButton::clicked, WaveFileEdit, &QLineEdit::clear);
  resize(sizeHint().expandedTo(QSize(622, 423)));
}

void TPreferences::LoadFrom(const Settings &s) {
  ComPort->SetItemIndex(s.comPort);
  FaxClass->SetItemIndex(std::clamp(s.faxClass, 0, 3));
  ToneOrPulse->SetItemIndex(s.toneOrPulse == 1 ? 1 : 0);
  AnswerOnRing->SetItemIndex(std::clamp(s.answerOnRing, 1, 3) - 1);
  CheckBlindDial->setChecked(s.blindDial);
  CheckIgnoreBusy->setChecked(s.ignoreBusy);
  Name->setText(QString::fromStdString(s.userName));
  FaxNumber->setText(QString::fromStdString(s.userFax));
  DialPrefix->setText(QString::fromStdString(s.dialPrefix));
  InternationalPrefix->setText(QString::fromStdString(s.internationalPrefix));
  ModemInit->setText(QString::fromStdString(s.modemInit));
  TransferRate->setCurrentIndex(transferRateIndex(s.maximumBps));
  DialAttempts->setText(QString::number(s.dialAttempts));
  RetryWait->setText(QString::number(s.retryWait));
  TimeOut->setText(QString::number(s.dialTimeout));
  WaveFileEdit->setText(QString::fromStdString(s.receiveWav));
  ReceiveAtStartup->setChecked(s.receiveAtStartup);
}

bool TPreferences::StoreTo(Settings &s, QString &error) const {
  s.comPort = ComPort->ItemIndex();
  s.faxClass = std::max(0, FaxClass->ItemIndex());
  s.toneOrPulse = std::max(0, ToneOrPulse->ItemIndex());
  s.answerOnRing = std::max(0, AnswerOnRing->ItemIndex()) + 1;
  s.blindDial = CheckBlindDial->isChecked();
  s.ignoreBusy = CheckIgnoreBusy->isChecked();
  s.userName = Name->text().toStdString();
  s.userFax = FaxNumber->text().toStdString();
  s.dialPrefix = DialPrefix->text().toStdString();
  s.internationalPrefix = InternationalPrefix->text().toStdString();
  // The prefixes go into every dial command: only what a modem dials is taken.
  for (auto [field, what] : {std::pair{DialPrefix, "dial prefix"},
                             std::pair{InternationalPrefix, "international prefix"}}) {
    DialString checked;
    std::string why;
    if (DialString::parsePrefix(field->text().toStdString(), checked, why, what) < 0) {
      error = QString::fromStdString(why);
      field->setFocus();
      field->selectAll();
      return false;
    }
  }
  s.modemInit = ModemInit->text().toStdString();
  s.maximumBps = transferRateForIndex(TransferRate->currentIndex());
  for (auto [field, target] :
       {std::pair{DialAttempts, &s.dialAttempts}, std::pair{RetryWait, &s.retryWait},
        std::pair{TimeOut, &s.dialTimeout}}) {
    bool ok = false;
    const int v = field->text().trimmed().toInt(&ok);
    if (!ok) {
      error = QString("'%1' is not a valid integer value").arg(field->text());
      field->setFocus();
      field->selectAll();
      return false;
    }
    *target = v;
  }
  s.receiveWav = WaveFileEdit->text().toStdString();
  s.receiveAtStartup = ReceiveAtStartup->isChecked();
  return true;
}

bool TPreferences::event(QEvent *e) {
  const bool handled = TBarDialog::event(e);
  if (e->type() == QEvent::WindowActivate && !activated_) {
    activated_ = true;
    if (FirstRun) {
      FirstRun = false;
      // After the activation has finished, so that the window is up behind the message.
      QMetaObject::invokeMethod(
          this,
          [this] {
            Dialogs::information(
                this,
                "Please enter information about yourself and your\rfaxmodem in the Preferences "
                "screen. These values\rwill be saved for future use.\r\rBE SURE TO VERIFY THE "
                "PORT AND FAX CLASS\rSETTINGS BEFORE CONTINUING");
          },
          Qt::QueuedConnection);
    }
  }
  return handled;
}

void TPreferences::SelectWavButtonClick() {
  const QString current = WaveFileEdit->text();
  const QString preselect = QFileInfo(current).isFile() ? current : QString();
  const QString chosen = OpenWaveDialog ? OpenWaveDialog(this, ProgramDir(), preselect) : QString();
  if (chosen.toUpper().contains(".WAV")) WaveFileEdit->setText(chosen);
}

void TPreferences::BitBtn2Click() {
  PlayWaveFile(WaveFileEdit->text());
}

void TPreferences::FindModemButtonClick() {
  const int item = kv::FindModemButton(this, KvComPort, ComPort->ItemIndex());
  ComPort->SetItemIndex(item);
}

void TPreferences::CheckFaxClassButtonClick() {
  const int item = kv::CheckFaxClassButton(this, KvComPort, KvSendFax, ComPort->ItemIndex(),
                                           FaxClass->ItemIndex());
  FaxClass->SetItemIndex(item);
}

void TPreferences::ExplorerButton2Click() {
  ShowModemReset(this, settings_);
}

void TPreferences::ExplorerButton1Click() {
  if (ChooseDefaultFont) ChooseDefaultFont();
}

bool ShowPreferences(QWidget *parent, TSettingsLink &settings, bool firstRun,
                     std::function<void()> chooseDefaultFont) {
  TPreferences form(parent, settings);
  form.FirstRun = firstRun;
  form.ChooseDefaultFont = std::move(chooseDefaultFont);
  form.LoadFrom(settings.Data);
  CenterWindow(&form);
  if (form.exec() != QDialog::Accepted) return false;
  if (!settings.Save()) {
    Dialogs::error(parent, settings.LastError());
    return false;
  }
  return true;
}

}  // namespace kv
