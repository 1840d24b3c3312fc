#pragma once
// The "Com1" to "Com6" choice of the modem windows, with the device each number stands for
// shown beside it, so that a modem on any serial device (a USB one included) can be picked.
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>

namespace kv {

class TPortChoice : public QGroupBox {
  Q_OBJECT
 public:
  explicit TPortChoice(const QString &title, QWidget *parent = nullptr);
  // Item 0 = Com1; out of range selects Com1.
  int ItemIndex() const;
  void SetItemIndex(int item);
  // Re-reads the device of every port (after the "Ports" section changed).
  void RefreshDevices();

 signals:
  void changed(int item);

 private:
  void showDevice();
  QButtonGroup *group_;
  QLabel *device_;
};

}  // namespace kv
