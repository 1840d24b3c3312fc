#include "base/temp_file_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace kv {

namespace {

constexpr int kSlots = 32;
constexpr std::size_t kMaxPath = 4096;

enum SlotState : int { slotFree, slotFilling, slotReady };

struct Slot {
  std::atomic<int> state{slotFree};
  char path[kMaxPath];
};

Slot slots[kSlots];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};
struct sigaction previous[sizeof kSignals / sizeof kSignals[0]];
std::atomic<int> installed{0};

void onSignal(int sig) {
  RemoveRegisteredTempFiles();
  // End the way the signal would have, so that the caller sees it in the exit status.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
}

}  // namespace

bool RegisterTempFile(const std::string &path) {
  if (path.empty() || path.size() >= kMaxPath) return false;
  for (Slot &s : slots) {
    int expected = slotFree;
    if (!s.state.compare_exchange_strong(expected, slotFilling)) continue;
    std::memcpy(s.path, path.c_str(), path.size() + 1);
    s.state.store(slotReady);
    return true;
  }
  return false;
}

void UnregisterTempFile(const std::string &path) {
  for (Slot &s : slots) {
    if (s.state.load() != slotReady || path != s.path) continue;
    int expected = slotReady;
    if (s.state.compare_exchange_strong(expected, slotFilling)) s.state.store(slotFree);
    return;
  }
}

void RemoveRegisteredTempFiles() {
  for (Slot &s : slots)
    if (s.state.load() == slotReady) ::unlink(s.path);
}

TempFileSignalCleanup::TempFileSignalCleanup() {
  if (installed.fetch_add(1) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &sa, &previous[i]);
    // A signal the caller chose to ignore (nohup, a background job) stays ignored.
    if (previous[i].sa_handler == SIG_IGN) sigaction(kSignals[i], &previous[i], nullptr);
  }
}

TempFileSignalCleanup::~TempFileSignalCleanup() {
  if (installed.fetch_sub(1) != 1) return;
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    sigaction(kSignals[i], &previous[i], nullptr);
}

}  // namespace kv
