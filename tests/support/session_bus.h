#pragma once
// A session bus of the test's own (dbus-daemon --session) with a listener in the place of the
// desktop's notification service, recording each notification it is sent.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QString>
#include <QVariantMap>
#include <vector>

namespace kv::test {

class SessionBus {
 public:
  SessionBus() {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!daemon_.waitForStarted(5000)) return;
    while (address_.isEmpty() && daemon_.waitForReadyRead(5000))
      address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~SessionBus() {
    for (const QString &name : names_) QDBusConnection::disconnectFromBus(name);
    daemon_.terminate();
    daemon_.waitForFinished(5000);
  }
  SessionBus(const SessionBus &) = delete;
  SessionBus &operator=(const SessionBus &) = delete;

  // "unix:path=...": what DBUS_SESSION_BUS_ADDRESS would say; empty when no daemon started.
  const QString &address() const { return address_; }
  // A connection of its own to the bus, under `name`.
  QDBusConnection connect(const QString &name) {
    names_.push_back(name);
    return QDBusConnection::connectToBus(address_, name);
  }

 private:
  QProcess daemon_;
  QString address_;
  std::vector<QString> names_;
};

struct Notification {
  QString app, icon, summary, body;
  QVariantMap hints;
};

// Takes the notification service's name on the bus and answers Notify as a desktop would.
class NotificationListener : public QDBusVirtualObject {
 public:
  explicit NotificationListener(QDBusConnection bus) : bus_(bus) {
    ok_ = bus_.registerService("org.freedesktop.Notifications") &&
          bus_.registerVirtualObject("/org/freedesktop/Notifications", this);
  }
  bool ok() const { return ok_; }
  std::vector<Notification> received;

  QString introspect(const QString &) const override { return {}; }
  bool handleMessage(const QDBusMessage &m, const QDBusConnection &c) override {
    if (m.member() != "Notify" || m.arguments().size() != 8) return false;
    const QList<QVariant> a = m.arguments();
    received.push_back({a[0].toString(), a[2].toString(), a[3].toString(), a[4].toString(),
                        qdbus_cast<QVariantMap>(a[6])});
    c.send(m.createReply(QVariant::fromValue(uint(received.size()))));
    return true;
  }

 private:
  QDBusConnection bus_;
  bool ok_ = false;
};

}  // namespace kv::test
