#pragma once
// The Modem Reset window: the reset strings sent before and after each fax session, tried on
// a port of the user's choice with the window's own port component.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "comm/com_port.h"
#include "modemui/port_choice.h"

namespace kv {

class TSettingsLink;

class TResetModemForm : public QDialog {
  Q_OBJECT
 public:
  explicit TResetModemForm(QWidget *parent = nullptr);
  ~TResetModemForm() override;

  TPortChoice *ComPort;
  QLineEdit *ResetString, *ResetAfterString;
  QPushButton *Recommended1, *SendNow1, *Recommended2, *SendNow2;
  QLabel *Status;
  QPushButton *HelpButton, *OkButton;
  TKvComPort Port;

 private:
  void sendNow(QLineEdit *edit);
};

// Opens the window modally with the stored strings and the stored port, and stores both strings
// (and writes the settings file) when it closes.
void ShowModemReset(QWidget *parent, TSettingsLink &settings);

}  // namespace kv
