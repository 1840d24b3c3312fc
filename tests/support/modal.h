#pragma once
// Driving modal windows from a test: exec() blocks the test, so what the user does in the
// window is queued to run once the window is up.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>

namespace kv::test {

// Runs `act` on the next modal window of type T as soon as it is shown; a window that does
// not come within five seconds fails the test.
template <class T>
void OnModal(std::function<void(T &)> act) {
  auto timer = new QTimer;
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, clock, act] {
    if (auto *w = qobject_cast<T *>(QApplication::activeModalWidget()); w && w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      act(*w);
    } else if (clock->elapsed() > 5000) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " came up";
      if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) d->reject();
    }
  });
  timer->start();
}

}  // namespace kv::test

#include <QWidget>
namespace kv::test {
// With KORVANE_SHOTS set to a directory, saves a picture of the window there as NAME.png, so
// that the windows a test drives can be looked at (under Xvfb, at any font resolution).
inline void Snapshot(QWidget &window, const QString &name) {
  const QByteArray dir = qgetenv("KORVANE_SHOTS");
  if (dir.isEmpty()) return;
  QApplication::processEvents();
  window.grab().save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
}
}  // namespace kv::test
