#pragma once
// The Preferences window: the modem's port and fax class, dialling, the user's name and station
// id, the transfer rate, receive-mode choices, the sound played on receipt and the default font.
// Its modem tools (Find Modem, Check Fax Class, Modem Reset) work on the window's own port.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <functional>

#include "app/bar_dialog.h"
#include "comm/com_port.h"
#include "fax/send_fax.h"
#include "settings/settings.h"

class QButtonGroup;

namespace kv {

class TPortChoice;
class TSettingsLink;

// A titled group of radio buttons laid out in columns, answering the index of its checked item.
class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(const QString &title, const QStringList &items, int columns, QWidget *parent);
  int ItemIndex() const;
  void SetItemIndex(int item);
  QRadioButton *Item(int i) const;

 private:
  QButtonGroup *group_;
};

class TPreferences : public TBarDialog {
  Q_OBJECT
 public:
  TPreferences(QWidget *parent, TSettingsLink &settings);
  ~TPreferences() override;

  // Set by the main window on a first run: the first activation tells the user what to do.
  bool FirstRun = false;

  QToolButton *Helpbutton, *ExplorerButton1, *FindModemButton, *CheckFaxClassButton,
      *ExplorerButton2, *OkButton, *Cancelbutton;
  TPortChoice *ComPort;
  TRadioGroup *FaxClass, *ToneOrPulse, *AnswerOnRing;
  QCheckBox *CheckBlindDial, *CheckIgnoreBusy, *ReceiveAtStartup;
  QLineEdit *Name, *FaxNumber, *DialPrefix, *InternationalPrefix, *ModemInit, *DialAttempts,
      *RetryWait, *TimeOut, *WaveFileEdit;
  QComboBox *TransferRate;
  QToolButton *SelectWavButton, *BitBtn2, *BitBtn1;

  // "Default Font": the main window's font choice.
  std::function<void()> ChooseDefaultFont;

  // The window's own port and the fax sender the modem tools use.
  TKvComPort KvComPort;
  TKvSendFax KvSendFax;

  // Fills the controls from the settings.
  void LoadFrom(const Settings &s);
  // Copies the controls into `s`. A number field that is not a number stops the copy there
  // (the fields before it are taken) and answers false with the message to show.
  bool StoreTo(Settings &s, QString &error) const;

  // The open-file dialog of "Choose"; tests replace it. Answers the chosen file or "".
  static std::function<QString(QWidget *parent, const QString &dir, const QString &preselect)>
      OpenWaveDialog;

 public slots:
  void SelectWavButtonClick();
  void BitBtn2Click();
  void FindModemButtonClick();
  void CheckFaxClassButtonClick();
  void ExplorerButton2Click();
  void ExplorerButton1Click();

 protected:
  bool event(QEvent *e) override;

 private:
  void build();
  TSettingsLink &settings_;
  bool activated_ = false;
};

// The menu item "Preferences" and the first run: shows the window with the settings and saves
// them when it is accepted. Answers true when the settings were changed and saved.
bool ShowPreferences(QWidget *parent, TSettingsLink &settings, bool firstRun,
                     std::function<void()> chooseDefaultFont);

}  // namespace kv
