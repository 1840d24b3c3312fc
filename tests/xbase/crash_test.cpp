// The short default-run version of the kill test.
#include "test_util.h"

namespace kvtest {
void KillWriterRounds(int rounds, int seed);
}

TEST(CrashSafety, KilledWriterLosesAtMostTheRowInFlight) {
  kvtest::KillWriterRounds(6, 11);
}
