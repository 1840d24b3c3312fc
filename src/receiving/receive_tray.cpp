#include "receiving/receive_tray.h"

#include <QSystemTrayIcon>
#include <QWidget>

namespace kv {

TReceiveTray::TReceiveTray(QWidget *window) : QObject(window), window_(window) {
  setObjectName("ReceiveTray");
}

void TReceiveTray::Update(bool on, int unread) {
  if (!on || !QSystemTrayIcon::isSystemTrayAvailable()) {
    delete icon_;
    return;
  }
  if (!icon_) {
    icon_ = new QSystemTrayIcon(window_->windowIcon(), this);
    connect(icon_, &QSystemTrayIcon::activated, this, [this] {
      window_->showNormal();
      window_->raise();
      window_->activateWindow();
    });
    icon_->show();
  }
  QString tip = "Korvane: waiting for faxes";
  if (unread > 0) tip += unread == 1 ? " (1 unread)" : QString(" (%1 unread)").arg(unread);
  icon_->setToolTip(tip);
}

}  // namespace kv
