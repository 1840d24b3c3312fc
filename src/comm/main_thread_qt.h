#pragma once
// The main-thread service on the Qt event loop (QtCore only): posts become queued calls on the
// application object, pending work is run by processing events.
#include "comm/main_thread.h"

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
};

}  // namespace kv
