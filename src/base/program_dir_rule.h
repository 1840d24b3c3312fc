#pragma once
// Where the program keeps its files. Run from a build folder or any directory of its own that
// it may write, everything lies beside the executable; installed (the package's read-only data
// sits in <prefix>/share/korvane) or in a directory it cannot write, the user's data directory
// takes that place.
#include <filesystem>
#include <string>

namespace kv {

// The rule itself, apart from the process so that tests can try both cases. xdgDataHome and home
// are the environment's values (empty when unset).
std::filesystem::path ChooseProgramDir(const std::filesystem::path &exeDir,
                                       const std::string &xdgDataHome, const std::string &home);

// The directory of the running executable.
std::filesystem::path ExecutableDir();

// The running program's directory by the rule, created when it is the user's data directory and
// does not exist yet. Never empty; without a readable /proc/self/exe the current directory.
std::filesystem::path RunningProgramDir();

// A read-only file shipped with the program (the main dictionary): beside the executable in a
// build folder, else in <prefix>/share/korvane. Answers the first that exists, else the first.
std::filesystem::path ShippedFile(const std::filesystem::path &exeDir, const std::string &name);

}  // namespace kv
