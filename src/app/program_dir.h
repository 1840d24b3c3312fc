#pragma once
// The directory of the program file; every file of the program is named relative to it.
#include <QString>

namespace kv {

// Always ends in '/'. Defaults to the executable's directory.
QString ProgramDir();
// Tests run the windows against a private directory instead of the build folder.
void SetProgramDir(const QString &dir);

}  // namespace kv
