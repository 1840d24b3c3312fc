#include "comm/main_thread.h"

#include <cstdio>

namespace kv {

namespace {

std::mutex g_mu;
MainThread *g_installed = nullptr;
std::function<void(std::exception_ptr)> g_reporter;

PlainMainThread &defaultMainThread() {
  static PlainMainThread mt;
  return mt;
}

// The token sends of this thread use when they name none.
thread_local CancelToken *t_ambient = nullptr;

// The sends whose functions this thread is running now, innermost first.
struct Serving {
  const void *waiter;
  Serving *outer;
};
thread_local Serving *t_serving = nullptr;

}  // namespace

// One pending send as seen by both sides.
struct CancelToken::Waiter {
  std::mutex mu;
  std::condition_variable cv;
  enum State { Pending, Running, Done, Abandoned } state = Pending;
  bool cancelled = false;
};

void CancelToken::cancel() {
  std::shared_ptr<Waiter> w;
  {
    std::lock_guard lk(mu_);
    cancelled_ = true;
    w = waiter_;
  }
  if (w) {
    std::lock_guard lk(w->mu);
    w->cancelled = true;
    w->cv.notify_all();
  }
}

void CancelToken::reset() {
  std::lock_guard lk(mu_);
  cancelled_ = false;
}

bool CancelToken::cancelled() const {
  std::lock_guard lk(mu_);
  return cancelled_;
}

bool CancelToken::servedByThisThread() const {
  std::lock_guard lk(mu_);
  if (!waiter_) return false;
  for (Serving *s = t_serving; s; s = s->outer)
    if (s->waiter == waiter_.get()) return true;
  return false;
}

CancelToken::Use::Use(CancelToken &token) : outer_(t_ambient) {
  t_ambient = &token;
}

CancelToken::Use::~Use() {
  t_ambient = outer_;
}

MainThread &MainThread::instance() {
  {
    std::lock_guard lk(g_mu);
    if (g_installed) return *g_installed;
  }
  return defaultMainThread();
}

void MainThread::install(MainThread *mt) {
  std::lock_guard lk(g_mu);
  g_installed = mt;
}

void MainThread::setExceptionReporter(std::function<void(std::exception_ptr)> reporter) {
  std::lock_guard lk(g_mu);
  g_reporter = std::move(reporter);
}

void MainThread::reportException(std::exception_ptr e) {
  std::function<void(std::exception_ptr)> r;
  {
    std::lock_guard lk(g_mu);
    r = g_reporter;
  }
  if (r) {
    r(e);
    return;
  }
  try {
    std::rethrow_exception(e);
  } catch (const std::exception &ex) {
    std::fprintf(stderr, "korvane: %s\n", ex.what());
  } catch (...) {
    std::fprintf(stderr, "korvane: unknown exception\n");
  }
}

bool MainThread::send(std::function<void()> fn, std::chrono::milliseconds timeout,
                      CancelToken *cancel) {
  if (!cancel) cancel = t_ambient;
  // A given-up sender must not touch the service any more: the service may be going away
  // together with the port that gave it up.
  if (cancel && cancel->cancelled()) return false;
  if (isMainThread()) {
    fn();
    return true;
  }
  auto w = std::make_shared<CancelToken::Waiter>();
  if (cancel) {
    std::lock_guard lk(cancel->mu_);
    if (cancel->cancelled_) return false;
    cancel->waiter_ = w;
  }
  post([w, fn = std::move(fn)] {
    {
      std::lock_guard lk(w->mu);
      if (w->state != CancelToken::Waiter::Pending) return;
      w->state = CancelToken::Waiter::Running;
    }
    Serving serving{w.get(), t_serving};
    t_serving = &serving;
    try {
      fn();
    } catch (...) {
      reportException(std::current_exception());
    }
    t_serving = serving.outer;
    std::lock_guard lk(w->mu);
    w->state = CancelToken::Waiter::Done;
    w->cv.notify_all();
  });
  bool ran;
  {
    std::unique_lock lk(w->mu);
    w->cv.wait_for(lk, timeout,
                   [&] { return w->state == CancelToken::Waiter::Done || w->cancelled; });
    ran = w->state == CancelToken::Waiter::Done;
    // Given up: a call not yet started must never start later.
    if (w->state == CancelToken::Waiter::Pending) w->state = CancelToken::Waiter::Abandoned;
  }
  if (cancel) {
    std::lock_guard lk(cancel->mu_);
    if (cancel->waiter_ == w) cancel->waiter_.reset();
  }
  return ran;
}

void MainThread::runQueued(std::mutex &mu, std::deque<std::function<void()>> &queue) {
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard lk(mu);
      if (queue.empty()) return;
      fn = std::move(queue.front());
      queue.pop_front();
    }
    try {
      fn();
    } catch (...) {
      reportException(std::current_exception());
    }
  }
}

PlainMainThread::PlainMainThread() : owner_(std::this_thread::get_id()) {}

bool PlainMainThread::isMainThread() const {
  return std::this_thread::get_id() == owner_;
}

void PlainMainThread::bindToCurrentThread() {
  owner_ = std::this_thread::get_id();
}

void PlainMainThread::post(std::function<void()> fn) {
  {
    std::lock_guard lk(mu_);
    queue_.push_back(std::move(fn));
  }
  cv_.notify_all();
}

void PlainMainThread::processPending() {
  runQueued(mu_, queue_);
}

bool PlainMainThread::waitAndRun(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lk(mu_);
    if (!cv_.wait_for(lk, timeout, [&] { return !queue_.empty() || quit_; })) return false;
    if (queue_.empty()) return false;
  }
  processPending();
  return true;
}

void PlainMainThread::run() {
  for (;;) {
    {
      std::unique_lock lk(mu_);
      cv_.wait(lk, [&] { return !queue_.empty() || quit_; });
      if (quit_ && queue_.empty()) {
        quit_ = false;
        return;
      }
    }
    processPending();
  }
}

void PlainMainThread::quit() {
  {
    std::lock_guard lk(mu_);
    quit_ = true;
  }
  cv_.notify_all();
}

}  // namespace kv
