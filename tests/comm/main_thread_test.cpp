// The main-thread service: send with its time-out and cancellation, post, the plain loop.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "comm/main_thread.h"

using namespace kv;
using namespace std::chrono_literals;

TEST(MainThread, SendRunsOnTheLoopThreadAndWaits) {
  PlainMainThread mt;
  std::thread::id ranOn;
  bool sent = false;
  std::thread worker([&] { sent = mt.send([&] { ranOn = std::this_thread::get_id(); }, 1000ms); });
  while (!sent) {
    mt.waitAndRun(10ms);
    if (ranOn != std::thread::id()) break;
  }
  worker.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  // On the main thread itself the function runs at once.
  int n = 0;
  EXPECT_TRUE(mt.send([&] { ++n; }, 1ms));
  EXPECT_EQ(n, 1);
}

TEST(MainThread, TimedOutSendNeverRunsLater) {
  PlainMainThread mt;
  std::atomic<int> ran{0};
  bool sent = true;
  std::thread worker([&] { sent = mt.send([&] { ++ran; }, 50ms); });
  worker.join();  // nobody ran the loop
  EXPECT_FALSE(sent);
  mt.processPending();
  EXPECT_EQ(ran, 0);
}

TEST(MainThread, CancelEndsTheWaitAtOnce) {
  PlainMainThread mt;
  CancelToken token;
  std::atomic<bool> done{false};
  bool sent = true;
  auto start = std::chrono::steady_clock::now();
  std::thread worker([&] {
    sent = mt.send([] {}, 10s, &token);
    done = true;
  });
  std::this_thread::sleep_for(50ms);
  token.cancel();
  worker.join();
  EXPECT_FALSE(sent);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  // A cancelled token refuses further sends straight away.
  std::thread again([&] { sent = mt.send([] {}, 10s, &token); });
  again.join();
  EXPECT_FALSE(sent);
}

TEST(MainThread, PostAndRunUntilQuit) {
  PlainMainThread mt;
  std::vector<int> order;
  std::thread worker([&] {
    mt.post([&] { order.push_back(1); });
    mt.post([&] { order.push_back(2); });
    mt.post([&] { mt.quit(); });
  });
  mt.run();
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(MainThread, ExceptionsFromPostedWorkAreReported) {
  PlainMainThread mt;
  std::string msg;
  MainThread::setExceptionReporter([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception &ex) {
      msg = ex.what();
    }
  });
  mt.post([] { throw std::runtime_error("bad"); });
  mt.processPending();
  EXPECT_EQ(msg, "bad");
  MainThread::setExceptionReporter(nullptr);
}
