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
// One request a line: "open PATH" for each file, then "raise", answered by "raised".
constexpr char kRaise[] = "raise\n";
constexpr char kOpen[] = "open ";

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

bool TJustOne::raisePrevious(const QStringList &files, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  // The first instance may still be starting and not listen yet; keep trying a little.
  while (clock.elapsed() < timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(record_.serverName());
    if (socket.waitForConnected(500)) {
      // A file name holds no newline that a desktop would hand us; one that does is not sent.
      for (const QString &f : files)
        if (!f.contains('\n')) socket.write(kOpen + f.toUtf8() + '\n');
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
        while (socket->canReadLine()) {
          const QByteArray line = socket->readLine().chopped(1);
          if (line.startsWith(kOpen)) {
            emit openRequested(QString::fromUtf8(line.mid(int(sizeof kOpen) - 1)));
            continue;
          }
          if (line != "raise" || !window_) continue;
          if (window_->isMinimized())
            window_->showNormal();
          else
            window_->show();
          window_->raise();
          window_->activateWindow();
          socket->write("raised\n");
          socket->flush();
        }
      });
    }
  });
}

}  // namespace kv
