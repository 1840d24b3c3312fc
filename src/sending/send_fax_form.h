#pragma once
// The send window: the user checks the modem settings and the number, sends one composed fax
// on the window's own port, and watches it in the status window. Its caller fills it from the
// settings, runs it modally and reads back the result text and the controls.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include "app/bar_dialog.h"
#include "comm/com_port.h"
#include "fax/send_fax.h"
#include "faxui/fax_status.h"
#include "modemui/port_choice.h"
#include "sending/send_options.h"

namespace kv {

class TSettingsLink;

class TSendFaxForm : public TBarDialog {
  Q_OBJECT
 public:
  // `settings` gives the reset strings and is what the Modem Reset window edits.
  TSendFaxForm(QWidget *parent, TSettingsLink &settings);
  ~TSendFaxForm() override;

  // What the caller passes in.
  QString FaxFile, CoverFile, PhoneNumber;
  // "Sent", the error text of a finished fax, or "Cancelled" when none finished.
  QString ResultText = "Cancelled";
  // When the last fax finished (the row's send time), however long the window stays open after.
  QDateTime FinishedAt;
  bool Busy() const { return busy_; }

  // The controls as options, and back.
  SendOptions Options() const;
  void SetOptions(const SendOptions &o);

  // Button bar.
  QToolButton *Helpbutton, *ProblemsButton, *FindModemBtn, *CheckFaxClassBtn, *ModemResetBtn,
      *Closebutton;
  // Panel.
  TPortChoice *ComPort;
  QComboBox *FaxClass, *TransferRate;
  QRadioButton *ToneButton, *PulseButton;
  QCheckBox *BlindDial, *IgnoreBusy;
  QLineEdit *sfusername, *sfStationID, *sfDialPrefix, *sfPhoneNumber, *sfModemInit;
  QLineEdit *sfDialAttempts, *sfRetryWait, *sfTimeOut;
  QPushButton *SendFaxButton;

  TKvComPort KvComPort1;
  TKvFaxStatus KvFaxStatus1;
  TKvSendFax KvSendFax1;

  void SendFaxButtonClick();
  void CloseButtonClick();
  void FindModemButtonClick();
  void CheckFaxClassButtonClick();
  void ModemResetButtonClick();

 protected:
  void showEvent(QShowEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;
  // During a call the form only gives the keyboard on to the status window.
  void changeEvent(QEvent *e) override;
  // A window with a fax under way stays open: its port and session live in it.
  void reject() override;

 private:
  void KvSendFax1FaxFinish(Result code);
  void tellPlusDropped(const Dialling &dial);
  void setBusy(bool on);
  void restoreTraceNames();
  TSettingsLink &settings_;
  bool busy_ = false;
  bool firstActivate_ = true;
  std::string internationalPrefix_;  // from the settings; the window does not show it
};

}  // namespace kv
