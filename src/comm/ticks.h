#pragma once
// Timer ticks of 55 ms, shared by the serial layer and the fax engine.
#include <cstdint>

namespace kv {

inline constexpr std::int32_t kTickMs = 55;
// Longest duration a timer may hold; a timer that wrapped past it counts as expired.
inline constexpr std::int32_t kMaxTicks = 39045157;

// Milliseconds of the monotonic clock with the top bit cleared.
std::uint32_t MonotonicMs();
// Current tick count: MonotonicMs() div 55.
std::int32_t TickCount();

inline constexpr std::int32_t SecsToTicks(std::int32_t secs) {
  return secs * 1675 / 92;
}
inline constexpr std::int32_t TicksToSecs(std::int32_t ticks) {
  return (ticks + 9) * 92 / 1675;
}
inline constexpr std::int32_t MsToTicks(std::int32_t ms) {
  return ms / kTickMs;
}

struct EventTimer {
  std::int32_t startTicks = 0;
  std::int32_t expireTicks = 0;
};

// Starts a timer that expires `ticks` from now (clamped to kMaxTicks).
void NewTimer(EventTimer &t, std::int32_t ticks);
bool TimerExpired(const EventTimer &t);
// Ticks left before expiry, 0 when expired.
std::int32_t RemainingTime(const EventTimer &t);
std::int32_t ElapsedTime(const EventTimer &t);

}  // namespace kv
