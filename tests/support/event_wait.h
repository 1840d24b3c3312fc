#pragma once
// Waiting for a condition while the Qt event loop runs, in Google Test terms. Qt's QTRY_* macros
// report a wait that ran out to Qt's own test log, which a Google Test run never reads: the test
// body just returns and is counted as passed. Use ASSERT_TRUE(test::eventually(...)) instead.
#include <QDeadlineTimer>
#include <QTest>
#include <functional>

namespace kv::test {

// Runs the event loop until `done` answers true, for at most `ms`; false when it never did.
inline bool eventually(const std::function<bool()> &done, int ms) {
  QDeadlineTimer until(ms);
  while (!done()) {
    if (until.hasExpired()) return false;
    QTest::qWait(10);
  }
  return true;
}

}  // namespace kv::test
