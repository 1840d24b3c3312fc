#pragma once
// The port choice of the modem windows: every serial port the system has (the classic Com1 to
// Com6, USB modems and what the "Ports" section names), each by its Com number with its device
// beside it. A port picked whose device the number does not stand for yet is recorded in the
// "Ports" section, so that the number opens that device from then on.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <vector>

#include "modem/serial_ports.h"

namespace kv {

class TPortChoice : public QGroupBox {
  Q_OBJECT
 public:
  explicit TPortChoice(const QString &title, QWidget *parent = nullptr);
  // Item 0 = Com1, item n-1 = Com<n>; out of range selects Com1.
  int ItemIndex() const;
  void SetItemIndex(int item);
  // Looks for the system's ports again (after a device was plugged in or the "Ports" section
  // changed), keeping the choice.
  void RefreshDevices();
  // The ports offered, in list order, and the chosen one.
  const std::vector<SerialPort> &Ports() const { return ports_; }
  SerialPort Current() const;
  // Chooses port `number` and records its device as the user's pick does. False (the user
  // told) when the settings file could not be written.
  bool Adopt(int number);

  QComboBox *List;

 signals:
  void changed(int item);

 private:
  void fill(int number);
  void showDevice();
  bool remember();
  std::vector<SerialPort> ports_;
  QLabel *device_;
};

}  // namespace kv
