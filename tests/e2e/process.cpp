#include "e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>

namespace kv::test {

Process::Process(std::vector<std::string> argv, std::string logPath)
    : logPath_(std::move(logPath)) {
  std::vector<char *> args;
  for (auto &a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (log < 0) throw std::system_error(errno, std::generic_category(), "open " + logPath_);
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    int e = errno;
    ::close(log);
    throw std::system_error(e, std::generic_category(), "fork");
  }
  if (pid_ == 0) {
    // Own group, so terminate() reaches helpers it starts; and gone when the test dies,
    // so a crashed test leaves no line running.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(log, 1);
    dup2(log, 2);
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    execvp(args[0], args.data());
    _exit(127);
  }
  setpgid(pid_, pid_);
  ::close(log);
}

Process::~Process() {
  if (pid_ > 0 && exitCode_ < 0) terminate();
  if (pidFd_ >= 0) ::close(pidFd_);
}

namespace {

// Milliseconds left until `deadline`, for poll(); never negative.
int msLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return int(std::max<std::int64_t>(0, left.count()));
}

}  // namespace

bool Process::reap() {
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }
  if (r < 0 && errno != EINTR) {
    exitCode_ = 255;
    return true;
  }
  return false;
}

bool Process::wait(std::chrono::milliseconds limit) {
  if (exitCode_ >= 0) return true;
  auto deadline = std::chrono::steady_clock::now() + limit;
  // The child's pid file descriptor becomes readable when it ends: no polling.
  if (pidFd_ < 0) pidFd_ = int(::syscall(SYS_pidfd_open, pid_, 0));
  for (;;) {
    if (reap()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (pidFd_ >= 0) {
      pollfd p{pidFd_, POLLIN, 0};
      ::poll(&p, 1, msLeft(deadline));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // no pidfd (old kernel)
    }
  }
}

bool Process::running() {
  return !wait(std::chrono::milliseconds(0));
}

void Process::terminate(std::chrono::milliseconds grace) {
  if (exitCode_ >= 0) return;
  ::kill(-pid_, SIGTERM);
  if (!wait(grace)) {
    ::kill(-pid_, SIGKILL);
    wait(std::chrono::seconds(5));
  }
}

double Process::cpuSeconds() const {
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  auto close = all.rfind(')');  // the program name may hold blanks
  if (close == std::string::npos) return -1;
  std::istringstream rest(all.substr(close + 2));
  std::vector<std::string> f{std::istream_iterator<std::string>(rest), {}};
  if (f.size() < 13) return -1;
  return double(std::stol(f[11]) + std::stol(f[12])) / double(sysconf(_SC_CLK_TCK));
}

long Process::residentKb() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

std::string Process::output() const {
  std::ifstream in(logPath_);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool Process::waitForOutput(const std::string &text, std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  // Woken by a write to the log or by the program's end; the sleep only where neither can be
  // watched.
  int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch >= 0 && ::inotify_add_watch(watch, logPath_.c_str(), IN_MODIFY) < 0) {
    ::close(watch);
    watch = -1;
  }
  if (pidFd_ < 0) pidFd_ = int(::syscall(SYS_pidfd_open, pid_, 0));
  bool found = false;
  for (;;) {
    if (output().find(text) != std::string::npos) {
      found = true;
      break;
    }
    if (!running()) {
      found = output().find(text) != std::string::npos;
      break;
    }
    if (std::chrono::steady_clock::now() >= until) break;
    if (watch >= 0 && pidFd_ >= 0) {
      pollfd p[2] = {{watch, POLLIN, 0}, {pidFd_, POLLIN, 0}};
      ::poll(p, 2, msLeft(until));
      char buf[4096];
      while (::read(watch, buf, sizeof buf) > 0) {
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (watch >= 0) ::close(watch);
  return found;
}

}  // namespace kv::test
