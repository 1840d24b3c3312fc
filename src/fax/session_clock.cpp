#include "fax/session_clock.h"

#include <algorithm>
#include <thread>

#include "comm/ticks.h"

namespace kv {

void SessionClock::delay(int ms) const {
  double real = realMs(ms);
  if (real >= 1) std::this_thread::sleep_for(std::chrono::microseconds(long(real * 1000)));
}

std::int32_t SessionClock::timeoutTicks(std::int32_t ticks) const {
  return std::max<std::int32_t>(1, std::int32_t(ticks / timeoutSpeed));
}

std::int32_t SessionClock::lineTicks(std::int32_t ticks) const {
  return std::max<std::int32_t>(1, std::int32_t(ticks / lineSpeed));
}

SessionClock::Clock::duration SessionClock::timeoutDuration(std::int32_t ticks) const {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(double(ticks) * kTickMs / timeoutSpeed));
}

}  // namespace kv
