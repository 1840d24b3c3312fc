#pragma once
// SIGTERM and SIGHUP (a desktop logging out, a `kill`) end the program as its Exit does, on the
// main thread: the handler only writes the signal's number into a pipe whose other end the
// event loop watches. A second such signal while the first is being handled ends the program
// at once, as without this.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace kv {

class TQuitOnSignal : public QObject {
 public:
  // `quit` runs on the main thread, once.
  explicit TQuitOnSignal(std::function<void()> quit, QObject *parent = nullptr);
  // Puts the previous handlers back.
  ~TQuitOnSignal() override;

 private:
  void arrived();
  std::function<void()> quit_;
  QSocketNotifier *notifier_ = nullptr;
};

}  // namespace kv
