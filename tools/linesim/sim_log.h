#pragma once
// Logging of the line's doings, stamped with simulated time (seconds since the line started).
#include <cstdarg>
#include <cstdint>

namespace kv::linesim {

// Samples per second and per block of the line.
constexpr int kSampleRate = 8000;
constexpr int kBlock = 160;  // 20 ms
constexpr int kBlocksPerSecond = kSampleRate / kBlock;

inline int64_t secondsToBlocks(double s) {
  return static_cast<int64_t>(s * kBlocksPerSecond + 0.5);
}

struct SimLog {
  static int verbosity;     // 0 quiet, 1 line events, 2 plus the ports' traffic
  static int64_t blockNow;  // current block, for the time stamp
};

void logAt(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace kv::linesim
