#include "printer/become_user.h"

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kv {

bool BecomeUser(const passwd &user, std::string &error) {
  const std::string name = user.pw_name;
  if (geteuid() == 0 && user.pw_uid != 0) {
    if (initgroups(user.pw_name, user.pw_gid) != 0 || setgid(user.pw_gid) != 0 ||
        setuid(user.pw_uid) != 0) {
      error = "cannot become the user " + name + ": " + std::strerror(errno);
      return false;
    }
    // A process that could get root back has not really dropped it.
    if (setuid(0) == 0 || geteuid() == 0) {
      error = "could not drop the rights of root for the user " + name;
      return false;
    }
  } else if (geteuid() != user.pw_uid) {
    error = "the backend runs as another user and cannot act for " + name +
            " (it must be installed with mode 0700 so that the print system runs it as root)";
    return false;
  }
  setenv("HOME", user.pw_dir, 1);
  setenv("USER", user.pw_name, 1);
  setenv("LOGNAME", user.pw_name, 1);
  // The print system's folders and the caller's data folder are not this user's.
  setenv("TMPDIR", "/tmp", 1);
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_CACHE_HOME");
  return true;
}

}  // namespace kv
