#include "sim_log.h"

#include <cstdio>

namespace kv::linesim {

int SimLog::verbosity = 0;
int64_t SimLog::blockNow = 0;

void logAt(int level, const char *fmt, ...) {
  if (level > SimLog::verbosity) return;
  std::fprintf(stderr, "linesim [%8.2f] ",
               static_cast<double>(SimLog::blockNow) / kBlocksPerSecond);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
}

}  // namespace kv::linesim
