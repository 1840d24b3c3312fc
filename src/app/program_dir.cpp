#include "app/program_dir.h"

#include <QDir>

#include "base/program_dir_rule.h"

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
  // Fixed for the run: the directory is chosen (and made) once.
  static const QString dir = withSlash(QString::fromStdString(RunningProgramDir().string()));
  return dir;
}

void SetProgramDir(const QString &dir) {
  overrideDir() = dir.isEmpty() ? QString() : withSlash(QDir(dir).absolutePath());
}

QString ShippedFilePath(const QString &name) {
  return QString::fromStdString(ShippedFile(ExecutableDir(), name.toStdString()).string());
}

}  // namespace kv
