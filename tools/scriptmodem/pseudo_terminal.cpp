#include "scriptmodem/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace kv {

namespace {
[[noreturn]] void fail(const std::string &what) {
  throw std::system_error(errno, std::generic_category(), what);
}
}  // namespace

PseudoTerminal::PseudoTerminal(const std::string &linkPath) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) fail("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    int e = errno;
    ::close(master_);
    errno = e;
    fail("grantpt/unlockpt");
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    int e = errno;
    ::close(master_);
    errno = e;
    fail("ptsname_r");
  }
  slaveName_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) {
    int e = errno;
    ::close(master_);
    errno = e;
    fail("open " + slaveName_);
  }
  termios t{};
  if (tcgetattr(slave_, &t) == 0) {
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(slave_, TCSANOW, &t);
  }
  if (!linkPath.empty()) {
    // Replace atomically, so a program polling for the link never sees a stale target.
    std::string tmp = linkPath + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(slaveName_.c_str(), tmp.c_str()) != 0 ||
        ::rename(tmp.c_str(), linkPath.c_str()) != 0) {
      int e = errno;
      ::unlink(tmp.c_str());
      ::close(slave_);
      ::close(master_);
      errno = e;
      fail("link " + linkPath);
    }
    linkPath_ = linkPath;
  }
}

PseudoTerminal::~PseudoTerminal() {
  close();
}

bool PseudoTerminal::dtrDropped() const {
  termios t{};
  if (slave_ < 0 || tcgetattr(slave_, &t) != 0) return false;
  return cfgetospeed(&t) == B0;
}

void PseudoTerminal::close() {
  if (!linkPath_.empty()) {
    // Only remove the link if it still points at our node: a newer instance may own it.
    char target[256];
    ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0) {
      target[n] = 0;
      if (slaveName_ == target) ::unlink(linkPath_.c_str());
    }
    linkPath_.clear();
  }
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
}

}  // namespace kv
