// The main-thread service on the Qt event loop, and port events arriving through it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

#include "close_race_util.h"
#include "comm/com_port.h"
#include "comm/main_thread_qt.h"
#include "comm_test_util.h"

using namespace kv;
using namespace std::chrono_literals;

namespace {

class QtLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "comm_qt_tests";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
    mt_ = std::make_unique<QtMainThread>();
    MainThread::install(mt_.get());
  }
  void TearDown() override { MainThread::install(nullptr); }
  // Runs the Qt loop until `pred` holds or `ms` pass.
  bool runUntil(const std::function<bool()> &pred, int ms = 3000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
  }
  QCoreApplication *app_ = nullptr;
  std::unique_ptr<QtMainThread> mt_;
};

}  // namespace

TEST_F(QtLoop, SendRunsOnTheQtThread) {
  EXPECT_TRUE(mt_->isMainThread());
  std::atomic<bool> sent{false}, done{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    EXPECT_FALSE(mt_->isMainThread());
    sent = mt_->send([&] { ranOn = std::this_thread::get_id(); }, 1000ms);
    done = true;
  });
  ASSERT_TRUE(runUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(QtLoop, SendGivesUpWhenTheLoopIsBusy) {
  std::atomic<int> ran{0};
  bool sent = true;
  std::thread worker([&] { sent = mt_->send([&] { ++ran; }, 100ms); });
  worker.join();  // the loop never ran meanwhile
  EXPECT_FALSE(sent);
  QCoreApplication::processEvents();
  EXPECT_EQ(ran, 0);
}

TEST_F(QtLoop, PortEventsArriveThroughTheQtLoop) {
  kvtest::Pty pty;
  TKvComPort cp;
  cp.SetDevicePath(pty.slave);
  std::string got;
  cp.OnTriggerAvail = [&](TKvCustomComPort &p, std::uint32_t n) {
    EXPECT_TRUE(mt_->isMainThread());
    for (std::uint32_t i = 0; i < n; ++i) got += p.GetChar();
  };
  cp.SetOpen(true);
  pty.write("CONNECT\r\n");
  ASSERT_TRUE(runUntil([&] { return got == "CONNECT\r\n"; }));
  // A string wait with yield keeps the Qt loop turning.
  bool timerRan = false;
  QTimer::singleShot(20, [&] { timerRan = true; });
  EXPECT_FALSE(cp.WaitForString("OK", 4, true, false));
  EXPECT_TRUE(timerRan);
  cp.SetOpen(false);
}

TEST_F(QtLoop, NothingOfAPortOutlivesItsClose) {
  // Each round destroys the service right after the close: a late post from the port's
  // dispatch thread would land on a freed receiver.
  long deliveries = kvtest::runCloseRace(
      60, [] { return std::make_unique<QtMainThread>(); },
      [](QtMainThread &) { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1); });
  EXPECT_GT(deliveries, 60);
}
