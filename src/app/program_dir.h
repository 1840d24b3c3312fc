#pragma once
// The directory of the program file; every file of the program is named relative to it.
#include <QString>

namespace kv {

// Always ends in '/'. The executable's directory when the program may keep its files there,
// else the user's data directory (~/.local/share/korvane/), made on first use.
QString ProgramDir();
// Tests run the windows against a private directory instead of the build folder.
void SetProgramDir(const QString &dir);
// A read-only file shipped with the program (beside it in a build folder, else in the
// installation's share/korvane).
QString ShippedFilePath(const QString &name);

}  // namespace kv
