#pragma once
// A shown, activated main window in a fresh program directory, for the tests that drive its
// commands.
#include <QTest>
#include <memory>

#include "app/main_screen.h"
#include "app/test_support.h"
#include "support/event_wait.h"

namespace kv::test {

class ShownMainScreenTest : public ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    w = std::make_unique<TMainScreen>();
    w->show();
    ASSERT_TRUE(kv::test::eventually([&] { return !w->FirstActivate; }, 5000));
  }
  void TearDown() override {
    w.reset();
    ProgramDirTest::TearDown();
  }
  std::unique_ptr<TMainScreen> w;
};

}  // namespace kv::test
