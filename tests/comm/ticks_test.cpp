#include <gtest/gtest.h>

#include "comm/ticks.h"

using namespace kv;

TEST(Ticks, Conversions) {
  EXPECT_EQ(SecsToTicks(1), 18);
  EXPECT_EQ(SecsToTicks(60), 1092);
  EXPECT_EQ(TicksToSecs(18), 1);
  EXPECT_EQ(TicksToSecs(0), 0);
  EXPECT_EQ(TicksToSecs(1092), 60);
  EventTimer t;
  NewTimer(t, 0);
  EXPECT_TRUE(TimerExpired(t));
  NewTimer(t, kMaxTicks + 100);  // clamped
  EXPECT_EQ(t.expireTicks - t.startTicks, kMaxTicks);
  EXPECT_FALSE(TimerExpired(t));
  // A start in the future means the clock wrapped: expired.
  t.startTicks = TickCount() + 1000;
  t.expireTicks = t.startTicks + 10;
  EXPECT_TRUE(TimerExpired(t));
}
