#pragma once
// The tray icon of receive mode: while the program waits for faxes, desktops with a tray show
// it there, with the count of unread faxes in its tip; a click brings the main window up.
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

class QWidget;

namespace kv {

class TReceiveTray : public QObject {
  Q_OBJECT
 public:
  explicit TReceiveTray(QWidget *window);
  // Shown while `on` where the desktop has a tray; `unread` goes into its tip.
  void Update(bool on, int unread);
  // The icon when it is shown, else null.
  QSystemTrayIcon *Icon() const { return icon_; }

 private:
  QWidget *window_;
  QPointer<QSystemTrayIcon> icon_;
};

}  // namespace kv
