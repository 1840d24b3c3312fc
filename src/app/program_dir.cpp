#include "app/program_dir.h"

#include <QCoreApplication>
#include <QDir>

namespace kv {
namespace {
QString &overrideDir() {
  static QString dir;
  return dir;
}
QString withSlash(QString dir) {
  if (!dir.endsWith('/')) dir += '/';
  return dir;
}
}  // namespace

QString ProgramDir() {
  if (!overrideDir().isEmpty()) return overrideDir();
  return withSlash(QCoreApplication::applicationDirPath());
}

void SetProgramDir(const QString &dir) {
  overrideDir() = dir.isEmpty() ? QString() : withSlash(QDir(dir).absolutePath());
}

}  // namespace kv
