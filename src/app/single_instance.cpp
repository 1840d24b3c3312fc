#include "app/single_instance.h"

#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

namespace kv {
namespace {
constexpr char kRaise[] = "raise\n";

// Per user: the lock keeps one user's instances apart, not different users' desktops.
QString userSuffix() {
  return QString::number(getuid());
}
}  // namespace

TPreviousInstance::TPreviousInstance(const QString &name) : name_(name) {
  lock_ = std::make_unique<QLockFile>(QDir::tempPath() + "/" + name + "-" + userSuffix() + ".lock");
  // A lock left by a crashed instance is stale (its process is gone) and is taken over.
  lock_->setStaleLockTime(0);
  existed_ = !lock_->tryLock(0);
}

QString TPreviousInstance::serverName() const {
  return name_ + "-" + userSuffix();
}

TJustOne::TJustOne(const TPreviousInstance &record, QObject *parent)
    : QObject(parent), record_(record) {}

bool TJustOne::raisePrevious(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  // The first instance may still be starting and not listen yet; keep trying a little.
  while (clock.elapsed() < timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(record_.serverName());
    if (socket.waitForConnected(500)) {
      socket.write(kRaise);
      socket.waitForBytesWritten(500);
      // The running instance answers once its window has come forward.
      const bool answered = socket.waitForReadyRead(2000) && socket.readAll().startsWith("raised");
      socket.disconnectFromServer();
      return answered;
    }
    QThread::msleep(100);
  }
  return false;
}

void TJustOne::serve(QWidget *window) {
  window_ = window;
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // We hold the lock, so a socket file left over is from a dead instance.
  QLocalServer::removeServer(record_.serverName());
  server_->listen(record_.serverName());
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->readAll().startsWith("raise") || !window_) return;
        if (window_->isMinimized())
          window_->showNormal();
        else
          window_->show();
        window_->raise();
        window_->activateWindow();
        socket->write("raised\n");
        socket->flush();
      });
    }
  });
}

}  // namespace kv
