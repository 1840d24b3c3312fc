#include "base/program_dir_rule.h"

#include <unistd.h>

#include <cstdlib>

namespace kv {
namespace fs = std::filesystem;

namespace {
fs::path sharedDataDir(const fs::path &exeDir) {
  return exeDir.parent_path() / "share" / "korvane";
}

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v ? v : "";
}
}  // namespace

fs::path ChooseProgramDir(const fs::path &exeDir, const std::string &xdgDataHome,
                          const std::string &home) {
  std::error_code ec;
  // A root user may write /usr/bin, so writability alone does not tell an installed program.
  const bool installed = fs::is_directory(sharedDataDir(exeDir), ec);
  if (!installed && access(exeDir.c_str(), W_OK) == 0) return exeDir;
  // The XDG rule: a relative XDG_DATA_HOME is invalid and ignored.
  fs::path base = !xdgDataHome.empty() && xdgDataHome.front() == '/'
                      ? fs::path(xdgDataHome)
                      : fs::path(home.empty() ? "/tmp" : home) / ".local" / "share";
  return base / "korvane";
}

fs::path ExecutableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path(ec) : exe.parent_path();
}

fs::path RunningProgramDir() {
  const fs::path exeDir = ExecutableDir();
  fs::path dir = ChooseProgramDir(exeDir, env("XDG_DATA_HOME"), env("HOME"));
  if (dir != exeDir) {
    std::error_code ec;
    // Failing here shows later, as tables that cannot be created, with the path in the message.
    fs::create_directories(dir, ec);
  }
  return dir;
}

fs::path ShippedFile(const fs::path &exeDir, const std::string &name) {
  const fs::path beside = exeDir / name;
  const fs::path shared = sharedDataDir(exeDir) / name;
  std::error_code ec;
  if (!fs::exists(beside, ec) && fs::exists(shared, ec)) return shared;
  return beside;
}

}  // namespace kv
