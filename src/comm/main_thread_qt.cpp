#include "comm/main_thread_qt.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace kv {

QtMainThread::QtMainThread() {
  QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                   [this] { setTerminating(true); });
}

QtMainThread::~QtMainThread() = default;

bool QtMainThread::isMainThread() const {
  auto *app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void QtMainThread::post(std::function<void()> fn) {
  auto *app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [fn = std::move(fn)] {
        try {
          fn();
        } catch (...) {
          MainThread::reportException(std::current_exception());
        }
      },
      Qt::QueuedConnection);
}

void QtMainThread::processPending() {
  QCoreApplication::processEvents();
}

bool QtMainThread::terminating() const {
  return MainThread::terminating() || QCoreApplication::closingDown();
}

}  // namespace kv
