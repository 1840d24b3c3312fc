#include "fax/receive_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/file_replacement.h"

namespace kv {

std::string receiveFolderProblem(const std::string &dir) {
  namespace fs = std::filesystem;
  const std::string name =
      dir.size() > 1 && dir.back() == '/' ? dir.substr(0, dir.size() - 1) : dir;
  auto problem = [&name](const std::string &why) {
    return "The receive folder " + name + " cannot be used: " + why;
  };
  std::error_code ec;
  const fs::file_status st = fs::status(name, ec);
  if (st.type() == fs::file_type::not_found) {
    fs::create_directories(name, ec);
    if (ec) return problem(ec.message());
  } else if (ec) {
    return problem(ec.message());
  } else if (st.type() != fs::file_type::directory) {
    return problem("it is not a folder");
  }
  // As this process may: root writes where the mode says no, not on a read-only disk.
  if (::faccessat(AT_FDCWD, name.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return problem(SystemReason(errno));
  return {};
}

}  // namespace kv
