#include "app/view_work_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace kv {

namespace {
const char kPrefix[] = "korvane-view-";

// The directory's lock, held through the returned descriptor; -1 when another process has it.
int lockDir(const QString &dir) {
  const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}
}  // namespace

TViewWorkDir::TViewWorkDir(QString base) : base_(std::move(base)) {}

TViewWorkDir::~TViewWorkDir() {
  if (dir_.isEmpty()) return;
  QDir(dir_).removeRecursively();
  ::close(lock_);
}

// A run that cleans up at this very moment may take a new directory's lock before its maker
// does; the maker then leaves that one to it and makes another.
bool TViewWorkDir::make() {
  for (int attempt = 0; attempt < 5 && dir_.isEmpty(); ++attempt) {
    QTemporaryDir made(QDir(base_).filePath(QString(kPrefix) + "XXXXXX"));
    if (!made.isValid()) return false;
    made.setAutoRemove(false);
    lock_ = lockDir(made.path());
    if (lock_ >= 0) dir_ = made.path() + '/';
  }
  return !dir_.isEmpty();
}

QString TViewWorkDir::newFile(const QString &original) {
  if (dir_.isEmpty() && !make()) return {};
  QString name = QFileInfo(original).completeBaseName();
  if (name.isEmpty()) name = "fax";
  for (int n = 1; n < 1000; ++n) {
    const QString path = dir_ + name + (n > 1 ? QString("-%1").arg(n) : QString()) + ".APF";
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return path;
    if (!QFileInfo::exists(path)) return {};  // not taken, so the directory refuses it
  }
  return {};
}

int TViewWorkDir::RemoveStale(const QString &base) {
  int removed = 0;
  const QFileInfoList dirs =
      QDir(base).entryInfoList({QString(kPrefix) + '*'}, QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QFileInfo &d : dirs) {
    // Other users' runs are theirs to clean; a link is nobody's work directory.
    if (d.isSymLink() || d.ownerId() != ::getuid()) continue;
    const int fd = lockDir(d.filePath());
    if (fd < 0) continue;  // its run is alive
    if (QDir(d.filePath()).removeRecursively()) ++removed;
    ::close(fd);
  }
  return removed;
}

TViewWorkDir &TViewWorkDir::Program() {
  static TViewWorkDir dir(QDir::tempPath());
  return dir;
}

}  // namespace kv
