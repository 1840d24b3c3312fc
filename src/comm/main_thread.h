#pragma once
// Running work on the program's main thread from the serial threads: a synchronous send with a
// time-out (trigger events, fax events) and an asynchronous post. The windowed program installs
// the Qt implementation (main_thread_qt.h); the command-line tool and the tests use
// PlainMainThread, which keeps its own queue and loop.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kv {

// Lets another thread give up a pending send at once (the port closing), instead of waiting for
// its time-out.
class CancelToken {
 public:
  void cancel();
  void reset();
  bool cancelled() const;
  // True while the calling thread runs the function of a send that waits on this token: the
  // sender is blocked on us, so whatever this function asks of the sender must not wait for it.
  bool servedByThisThread() const;

  // While alive, sends of the calling thread that name no token of their own use `token`, so
  // the owner of the thread (a port) can release every send of it, handlers' sends included.
  class Use {
   public:
    explicit Use(CancelToken &token);
    ~Use();
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;

   private:
    CancelToken *outer_;
  };

 private:
  friend class MainThread;
  struct Waiter;
  mutable std::mutex mu_;
  bool cancelled_ = false;
  std::shared_ptr<Waiter> waiter_;
};

class MainThread {
 public:
  virtual ~MainThread() = default;

  // The service in use. Without an installed one a PlainMainThread owned by the process is
  // created, bound to the first thread that asks.
  static MainThread &instance();
  // Installs `mt` (not owned; nullptr restores the default). Call on the main thread.
  static void install(MainThread *mt);

  virtual bool isMainThread() const = 0;
  // Queues fn to run on the main thread; never waits.
  virtual void post(std::function<void()> fn) = 0;
  // Runs what is pending on the main thread (and, for Qt, pending events). Call on the main
  // thread only.
  virtual void processPending() = 0;
  // True once the application is shutting down; long waits end early.
  virtual bool terminating() const { return terminating_; }
  void setTerminating(bool on) { terminating_ = on; }

  // Runs fn on the main thread and waits at most `timeout` for it to finish. Returns true when
  // fn ran to its end. Called on the main thread it runs fn at once. When the wait is given up
  // (time-out or `cancel`) fn is not started any more; one already running is left to finish.
  bool send(std::function<void()> fn, std::chrono::milliseconds timeout,
            CancelToken *cancel = nullptr);

  // Where exceptions that escape handlers on the main thread are shown. The default writes
  // the message to standard error.
  static void setExceptionReporter(std::function<void(std::exception_ptr)> reporter);
  static void reportException(std::exception_ptr e);

 protected:
  // Runs `queue` (guarded by `mu`) until it is empty, work queued meanwhile included. The lock
  // is not held while a piece runs; an exception escaping one is reported and the rest still run.
  static void runQueued(std::mutex &mu, std::deque<std::function<void()>> &queue);

 private:
  std::atomic<bool> terminating_{false};
};

// A main thread with its own queue: the thread that constructs it is the main thread.
class PlainMainThread : public MainThread {
 public:
  PlainMainThread();
  bool isMainThread() const override;
  void post(std::function<void()> fn) override;
  void processPending() override;

  // Waits up to `timeout` for work, runs what came and returns whether anything ran.
  bool waitAndRun(std::chrono::milliseconds timeout);
  // Runs the loop until quit() is called (from any thread, or from a queued function).
  void run();
  void quit();
  // Rebinds the main thread to the calling thread (tests that own the loop in a new thread).
  void bindToCurrentThread();

 private:
  std::atomic<std::thread::id> owner_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  bool quit_ = false;
};

}  // namespace kv
