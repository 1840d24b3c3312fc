#include "modemui/port_choice.h"

#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

#include "comm/device_layer.h"

namespace kv {

namespace {
constexpr int kPorts = 6;
}

TPortChoice::TPortChoice(const QString &title, QWidget *parent) : QGroupBox(title, parent) {
  setObjectName("ComPort");
  group_ = new QButtonGroup(this);
  auto *row = new QHBoxLayout;
  for (int i = 0; i < kPorts; ++i) {
    auto *b = new QRadioButton(QString("Com&%1").arg(i + 1), this);
    b->setObjectName(QString("Com%1").arg(i + 1));
    group_->addButton(b, i);
    row->addWidget(b);
  }
  device_ = new QLabel(this);
  device_->setObjectName("PortDevice");
  device_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto *col = new QVBoxLayout(this);
  col->addLayout(row);
  col->addWidget(device_);
  connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
    showDevice();
    emit changed(id);
  });
  RefreshDevices();
  SetItemIndex(0);
}

int TPortChoice::ItemIndex() const {
  return std::max(0, group_->checkedId());
}

void TPortChoice::SetItemIndex(int item) {
  if (item < 0 || item >= kPorts) item = 0;
  group_->button(item)->setChecked(true);
  showDevice();
}

void TPortChoice::RefreshDevices() {
  for (int i = 0; i < kPorts; ++i)
    group_->button(i)->setToolTip(QString::fromStdString(PortDeviceName(i + 1)));
  showDevice();
}

void TPortChoice::showDevice() {
  const int n = ItemIndex() + 1;
  device_->setText(
      QString("Com%1 is the device %2").arg(n).arg(QString::fromStdString(PortDeviceName(n))));
}

}  // namespace kv
