#include "comm/main_thread_qt.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace kv {

namespace {
const QEvent::Type kRunPosted = QEvent::Type(QEvent::registerEventType());
}

// Lives on the main thread; each event it gets runs what has been posted. The work itself is
// handed over through our own locked queue, so the event carries nothing.
class QtMainThread::Receiver : public QObject {
 public:
  explicit Receiver(QtMainThread *owner) : owner_(owner) {}
  bool event(QEvent *e) override {
    if (e->type() != kRunPosted) return QObject::event(e);
    owner_->drain();
    return true;
  }

 private:
  QtMainThread *owner_;
};

QtMainThread::QtMainThread() : receiver_(std::make_unique<Receiver>(this)) {
  QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, receiver_.get(),
                   [this] { setTerminating(true); });
}

// Destroying the receiver drops events still queued for it.
QtMainThread::~QtMainThread() = default;

bool QtMainThread::isMainThread() const {
  auto *app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void QtMainThread::post(std::function<void()> fn) {
  {
    std::lock_guard lk(mu_);
    queue_.push_back(std::move(fn));
  }
  QCoreApplication::postEvent(receiver_.get(), new QEvent(kRunPosted));
}

void QtMainThread::drain() {
  runQueued(mu_, queue_);
}

void QtMainThread::processPending() {
  QCoreApplication::processEvents();
  drain();
}

bool QtMainThread::terminating() const {
  return MainThread::terminating() || QCoreApplication::closingDown();
}

}  // namespace kv
