#pragma once
// Temporary files that must not outlive the process when a signal ends it. Their names sit in a
// fixed table that a signal handler can walk without allocating; the owner registers a name
// before creating the file and unregisters it once the file is gone or renamed into place.
#include <string>

namespace kv {

// Answers false when the table is full; the file is then removed by its owner alone.
bool RegisterTempFile(const std::string &path);
void UnregisterTempFile(const std::string &path);
// Removes every registered file now (async-signal-safe).
void RemoveRegisteredTempFiles();

// While one lives, SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGXFSZ (a file grown past the size
// limit) remove the registered files and then end the process as the signal would have. The
// previous handlers come back when it is destroyed.
class TempFileSignalCleanup {
 public:
  TempFileSignalCleanup();
  ~TempFileSignalCleanup();
  TempFileSignalCleanup(const TempFileSignalCleanup &) = delete;
  TempFileSignalCleanup &operator=(const TempFileSignalCleanup &) = delete;
};

}  // namespace kv
