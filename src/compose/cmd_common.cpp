#include "compose/cmd_common.h"

#include <QDir>
#include <QFileInfo>
#include <ostream>

#include "app/program_dir.h"
#include "app/storage/ttable.h"
#include "base/program_dir_rule.h"

namespace kv::cli {

bool UseProgramDir(const Args &args, Context &ctx, const std::string &command) {
  // Without --program-dir the tables the program itself uses.
  const QString dir =
      QString::fromStdString(args.value("program-dir").value_or(RunningProgramDir().string()));
  if (!QFileInfo(dir).isDir()) {
    ctx.err << "korvane-fax " << command << ": " << Utf8(dir) << ": no such directory\n";
    return false;
  }
  SetProgramDir(QDir(dir).absolutePath());
  return true;
}

int TableFailure(Context &ctx, const std::string &command, const TTable &table) {
  const QString why =
      table.LastError().isEmpty() ? "cannot be opened or created" : table.LastError();
  // The engine's reasons usually name the file already.
  const QString where = why.contains(table.FilePath()) ? QString() : table.FilePath() + ": ";
  ctx.err << "korvane-fax " << command << ": " << Utf8(where + why) << "\n";
  return exitFailed;
}

void ReportRepairs(Context &ctx, const std::string &command, const TTable &table) {
  const QString note = table.RecoveryReport();
  if (note.isEmpty()) return;
  ctx.err << "korvane-fax " << command << ": " << Utf8(note) << "\n";
}

std::string Utf8(const QString &s) {
  return s.toStdString();
}

}  // namespace kv::cli
