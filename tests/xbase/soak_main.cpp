// The long version of the kill test, outside the default run.
#include "test_util.h"

namespace kvtest {
void KillWriterRounds(int rounds, int seed);
}

TEST(CrashSafetySoak, ManyKilledWriters) {
  kvtest::KillWriterRounds(1000, 12345);
}
