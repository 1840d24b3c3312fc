#pragma once
// Only one instance of the program runs: a lock named after the executable's file name, and a
// local server of the same name through which a second start asks the first to come forward
// (and to open the fax files it was given).
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class QLocalServer;
class QWidget;

namespace kv {

// Made before any window. Records whether another instance already holds the lock.
class TPreviousInstance {
 public:
  // name: the executable's file name without directory.
  explicit TPreviousInstance(const QString &name);
  bool existed() const { return existed_; }
  const QString &name() const { return name_; }
  QString serverName() const;

 private:
  QString name_;
  std::unique_ptr<QLockFile> lock_;
  bool existed_ = false;
};

// Acts on the record: in a second instance it asks the first to raise its main window (the
// caller then ends); in the first it answers such requests for the given window.
class TJustOne : public QObject {
  Q_OBJECT
 public:
  TJustOne(const TPreviousInstance &record, QObject *parent = nullptr);
  // Second instance: ask the running one to open `files` (absolute paths) and come forward.
  // Returns true if it answered.
  bool raisePrevious(const QStringList &files = {}, int timeoutMs = 3000);
  // First instance: raise `window` whenever a later start asks.
  void serve(QWidget *window);

 signals:
  // A later start was given this file (absolute path) to open.
  void openRequested(const QString &path);

 private:
  const TPreviousInstance &record_;
  QLocalServer *server_ = nullptr;
  QPointer<QWidget> window_;
};

}  // namespace kv
