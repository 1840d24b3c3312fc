#pragma once
// The main-thread service on the Qt event loop (QtCore only): posted work waits in a queue of
// our own and a posted event on the main thread runs it.
#include <deque>
#include <memory>
#include <mutex>

#include "comm/main_thread.h"

class QObject;

namespace kv {

class QtMainThread : public MainThread {
 public:
  // Needs a QCoreApplication (or QApplication); call on its thread.
  QtMainThread();
  ~QtMainThread() override;
  bool isMainThread() const override;
  void post(std::function<void()> fn) override;
  void processPending() override;
  bool terminating() const override;

 private:
  class Receiver;
  void drain();

  std::unique_ptr<QObject> receiver_;
  std::mutex mu_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace kv
