#pragma once
// Running part of a test in a child process: under another user, with a file size limit that
// stands in for a full disk, or where a signal is to end it.
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace kv::test {

// The uid of an unprivileged user for tests running as root.
inline constexpr uid_t kNobody = 65534;

// Runs `body` in a forked child and answers its exit code, or 128 + the signal that ended it.
inline int runInChild(const std::function<int()> &body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// In a child: no file may grow past `bytes` (writes beyond fail as on a full disk).
inline void limitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

// In a child running as root: become the unprivileged user. False when that failed.
inline bool becomeNobody() {
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

}  // namespace kv::test
