#pragma once
// Running part of a test, or a program, in a child process: under another user, with a file
// size limit that stands in for a full disk, or where a signal is to end it.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

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

// In a child: no file may grow past `bytes` (writes beyond fail as on a full disk). With
// `killed`, the write past the limit ends the process with SIGXFSZ instead, as it does by
// default.
inline void limitFileSize(rlim_t bytes, bool killed = false) {
  signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
  const rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

// Starts the program argv[0] with these arguments; `inChild` runs in the child first (limits,
// another user). Its standard output and error go to `outputFd` (-1: nowhere). Answers the pid.
inline pid_t startProgram(const std::vector<std::string> &argv,
                          const std::function<void()> &inChild = {}, int outputFd = -1) {
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
  const int out = outputFd >= 0 ? outputFd : open("/dev/null", O_WRONLY);
  dup2(out, 1);
  dup2(out, 2);
  if (inChild) inChild();
  execv(args[0], args.data());
  _exit(127);
}

// Waits for a started program: its exit code, or 128 + the signal that ended it.
inline int waitProgram(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct ProgramRun {
  int code;            // exit code, or 128 + the signal that ended it
  std::string output;  // standard output and error together
};

// Runs the program to its end.
inline ProgramRun runProgram(const std::vector<std::string> &argv,
                             const std::function<void()> &inChild = {}) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, "pipe failed"};
  const pid_t pid = startProgram(
      argv,
      [&] {
        close(fds[0]);
        if (inChild) inChild();
      },
      fds[1]);
  close(fds[1]);
  std::string output;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n > 0)
      output.append(buf, static_cast<std::size_t>(n));
    else if (errno != EINTR)
      break;
  }
  close(fds[0]);
  return {waitProgram(pid), output};
}

// In a child running as root: become the unprivileged user. False when that failed.
inline bool becomeNobody() {
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

}  // namespace kv::test
