#include "modemui/port_choice.h"

#include <QShortcut>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/program_dir.h"
#include "base/exceptions.h"
#include "comm/device_layer.h"
#include "settings/settings.h"

namespace kv {

namespace {
std::filesystem::path iniPath() {
  return settingsFilePath(ProgramDir().toStdString());
}
}  // namespace

TPortChoice::TPortChoice(const QString &title, QWidget *parent) : QGroupBox(title, parent) {
  setObjectName("PortChoice");
  List = new QComboBox(this);
  List->setObjectName("ComPort");
  List->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  List->setMinimumContentsLength(24);
  setFocusProxy(List);
  device_ = new QLabel(this);
  device_->setObjectName("PortDevice");
  device_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  device_->setWordWrap(true);
  auto *col = new QVBoxLayout(this);
  col->addWidget(List);
  col->addWidget(device_);
  connect(List, &QComboBox::activated, this, [this](int) {
    remember();
    showDevice();
    emit changed(ItemIndex());
  });
  // Alt+1 to Alt+6 still pick Com1 to Com6 from anywhere in the window, as they always did.
  for (int n = 1; n <= 6; ++n) {
    auto *key = new QShortcut(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_0 + n)), this);
    connect(key, &QShortcut::activated, this, [this, n] {
      List->setFocus(Qt::ShortcutFocusReason);
      if (Adopt(n)) emit changed(n - 1);
    });
  }
  fill(1);
}

void TPortChoice::fill(int number) {
  ports_ = SystemSerialPorts(iniPath());
  // A chosen number the system has nothing for (a port the settings name that is gone) stays
  // offered, so that the choice is never changed behind the user's back.
  auto has = [&](int n) {
    return std::any_of(ports_.begin(), ports_.end(),
                       [n](const SerialPort &p) { return p.number == n; });
  };
  if (!has(number)) {
    SerialPort p;
    p.number = number;
    p.device = PortDeviceName(number);
    auto at = std::find_if(ports_.begin(), ports_.end(),
                           [number](const SerialPort &q) { return q.number > number; });
    ports_.insert(at, p);
  }
  const QSignalBlocker block(List);
  List->clear();
  for (const SerialPort &p : ports_)
    List->addItem(QString("Com%1   %2").arg(p.number).arg(QString::fromStdString(p.deviceText())),
                  p.number);
  List->setCurrentIndex(List->findData(number));
  showDevice();
}

int TPortChoice::ItemIndex() const {
  return std::max(0, List->currentData().toInt() - 1);
}

void TPortChoice::SetItemIndex(int item) {
  if (item < 0 || item >= kMaxComPorts) item = 0;
  const int i = List->findData(item + 1);
  if (i >= 0) {
    List->setCurrentIndex(i);
    showDevice();
  } else {
    fill(item + 1);
  }
}

void TPortChoice::RefreshDevices() {
  fill(ItemIndex() + 1);
}

SerialPort TPortChoice::Current() const {
  const int i = List->currentIndex();
  return i >= 0 && std::size_t(i) < ports_.size() ? ports_[std::size_t(i)] : SerialPort{};
}

bool TPortChoice::Adopt(int number) {
  SetItemIndex(number - 1);
  const bool ok = remember();
  showDevice();
  return ok;
}

bool TPortChoice::remember() {
  try {
    RememberPortDevice(iniPath(), Current());
    return true;
  } catch (const std::exception &e) {
    Dialogs::error(this, QString::fromStdString(e.what()));
    return false;
  }
}

void TPortChoice::showDevice() {
  const SerialPort p = Current();
  device_->setText(
      QString("Com%1 is the device %2")
          .arg(p.number)
          .arg(QString::fromStdString(p.device.empty() ? PortDeviceName(p.number) : p.device)));
}

}  // namespace kv
