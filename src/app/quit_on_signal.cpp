#include "app/quit_on_signal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <iterator>

namespace kv {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP};
int pipeFds[2] = {-1, -1};
volatile sig_atomic_t arrivedOnce = 0;
struct sigaction previous[std::size(kSignals)];

void onSignal(int sig) {
  if (arrivedOnce) {  // the clean quit did not come through: end as the signal would have
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  arrivedOnce = 1;
  const int saved = errno;
  const char byte = char(sig);
  [[maybe_unused]] ssize_t n = write(pipeFds[1], &byte, 1);
  errno = saved;
}

}  // namespace

TQuitOnSignal::TQuitOnSignal(std::function<void()> quit, QObject *parent)
    : QObject(parent), quit_(std::move(quit)) {
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the signals keep their default
  arrivedOnce = 0;
  notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TQuitOnSignal::arrived);
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], &sa, &previous[i]);
    // Started to ignore it (nohup): so it stays.
    if (previous[i].sa_handler == SIG_IGN) sigaction(kSignals[i], &previous[i], nullptr);
  }
}

TQuitOnSignal::~TQuitOnSignal() {
  if (!notifier_) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous[i], nullptr);
  delete notifier_;
  close(pipeFds[0]);
  close(pipeFds[1]);
  pipeFds[0] = pipeFds[1] = -1;
}

void TQuitOnSignal::arrived() {
  char byte;
  while (read(pipeFds[0], &byte, 1) == 1) {
  }
  notifier_->setEnabled(false);
  if (quit_) quit_();
}

}  // namespace kv
