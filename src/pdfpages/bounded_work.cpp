#include "pdfpages/bounded_work.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>

namespace kv {
namespace {

constexpr int kOverMemoryCode = 101;

// Sanitizers reserve terabytes of address space up front; a limit on it would stop them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kCanLimitAddressSpace = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || \
    __has_feature(thread_sanitizer)
constexpr bool kCanLimitAddressSpace = false;
#else
constexpr bool kCanLimitAddressSpace = true;
#endif
#else
constexpr bool kCanLimitAddressSpace = true;
#endif

// The address space the process holds now, in bytes (0 when unknown).
std::size_t addressSpaceInUse() {
  std::FILE *f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long pages = 0;
  const bool ok = std::fscanf(f, "%lu", &pages) == 1;
  std::fclose(f);
  return ok ? pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

[[noreturn]] void runChild(const WorkLimit &limit, std::size_t inUse, pid_t parent, int reportFd,
                           const std::function<int()> &work) {
  for (int s :
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGXCPU, SIGXFSZ, SIGUSR1, SIGUSR2})
    signal(s, SIG_DFL);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The parent may have gone before that was set.
  if (getppid() != parent) _exit(100);
  const rlim_t cpu = static_cast<rlim_t>(limit.cpu.count() > 0 ? limit.cpu.count() : 1);
  const rlimit cpuLimit{cpu, cpu + 1};
  setrlimit(RLIMIT_CPU, &cpuLimit);
  // Stopped for its time, it leaves no core file behind.
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  if (kCanLimitAddressSpace && inUse > 0) {
    const rlimit as{inUse + limit.memoryBytes, inUse + limit.memoryBytes};
    setrlimit(RLIMIT_AS, &as);
  }
  int code = 0;
  try {
    code = work();
  } catch (const std::bad_alloc &) {
    code = kOverMemoryCode;
  } catch (...) {
    code = 100;
  }
  close(reportFd);
  // No destructors or exit handlers: they belong to the parent.
  _exit(code);
}

// Waits until the child closes its end of the pipe (it ended) or `ms` have passed.
bool waitForEnd(int fd, long long ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
    if (n > 0) {
      char b;
      const ssize_t got = read(fd, &b, 1);
      if (got == 0) return true;
      if (got < 0 && errno != EINTR && errno != EAGAIN) return true;
    } else if (n < 0 && errno != EINTR) {
      return true;
    }
  }
}

}  // namespace

SharedBuffer::SharedBuffer(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  data_ = static_cast<std::uint8_t *>(p);
  size_ = bytes;
}

SharedBuffer::~SharedBuffer() {
  if (data_) munmap(data_, size_);
}

WorkResult RunBounded(const WorkLimit &limit, const std::function<int()> &work) {
  WorkResult result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return result;
  const std::size_t inUse = addressSpaceInUse();
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    close(fds[0]);
    runChild(limit, inUse, parent, fds[1], work);
  }
  close(fds[1]);
  // A child that sleeps or waits uses no processor time; the clock stops it then.
  const long long wallMs = static_cast<long long>(limit.cpu.count()) * 3000 + 5000;
  const bool ended = waitForEnd(fds[0], wallMs);
  close(fds[0]);
  if (!ended) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  if (!ended) {
    result.outcome = WorkOutcome::OverTime;
  } else if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    result.outcome = sig == SIGXCPU || sig == SIGKILL ? WorkOutcome::OverTime : WorkOutcome::Failed;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == kOverMemoryCode) {
    result.outcome = WorkOutcome::OverMemory;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) <= 100) {
    result.outcome = WorkOutcome::Done;
    result.code = WEXITSTATUS(status);
  }
  return result;
}

}  // namespace kv
