#pragma once
// The time of a fax session: every protocol delay and time-out of the engine goes through one
// clock, given to the session. A simulated line runs faster than real time; its speed factor
// shortens the protocol's delays and time-outs by as much. Time-outs have a factor of their own
// for tests of long silences and of a scripted modem, which answers in real time.
#include <chrono>
#include <cstdint>

namespace kv {

class SessionClock {
 public:
  using Clock = std::chrono::steady_clock;

  // Line time runs `lineSpeed` times as fast as real time (1 on a real line).
  double lineSpeed = 1.0;
  // Time-outs run `timeoutSpeed` times as fast as real time (1 outside tests).
  double timeoutSpeed = 1.0;

  // A simulated line running `speed` times as fast as real time. Its far end keeps T.30's
  // timers in line time, so the time-outs run as fast too.
  void setSimulatedLine(double speed) {
    lineSpeed = speed;
    timeoutSpeed *= speed;
  }

  // Waits `ms` milliseconds of line time.
  void delay(int ms) const;
  // Real milliseconds that `lineMs` of line time take.
  double realMs(double lineMs) const { return lineMs / lineSpeed; }
  // A time-out of `ticks` timer ticks as the port's timer should run it; at least one tick.
  std::int32_t timeoutTicks(std::int32_t ticks) const;
  // As timeoutTicks for a wait that is line time (the modem's XON before page data).
  std::int32_t lineTicks(std::int32_t ticks) const;
  // A time-out of `ticks` as a real duration, for waits that poll.
  Clock::duration timeoutDuration(std::int32_t ticks) const;
  Clock::time_point now() const { return Clock::now(); }
};

}  // namespace kv
