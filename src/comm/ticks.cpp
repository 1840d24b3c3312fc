#include "comm/ticks.h"

#include <time.h>

namespace kv {

std::uint32_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  std::uint64_t ms = std::uint64_t(ts.tv_sec) * 1000u + std::uint64_t(ts.tv_nsec) / 1000000u;
  return std::uint32_t(ms) & 0x7FFFFFFFu;
}

std::int32_t TickCount() {
  return std::int32_t(MonotonicMs() / kTickMs);
}

void NewTimer(EventTimer &t, std::int32_t ticks) {
  if (ticks > kMaxTicks) ticks = kMaxTicks;
  if (ticks < 0) ticks = 0;
  t.startTicks = TickCount();
  t.expireTicks = t.startTicks + ticks;
}

bool TimerExpired(const EventTimer &t) {
  std::int32_t now = TickCount();
  // The millisecond clock wraps its 31 bits after about 24 days; a timer started before the
  // wrap would otherwise never expire.
  if (now < t.startTicks) return true;
  return now >= t.expireTicks;
}

std::int32_t RemainingTime(const EventTimer &t) {
  if (TimerExpired(t)) return 0;
  return t.expireTicks - TickCount();
}

std::int32_t ElapsedTime(const EventTimer &t) {
  std::int32_t now = TickCount();
  return now >= t.startTicks ? now - t.startTicks : 0;
}

}  // namespace kv
