#pragma once
// Reading a received fax back: a file only counts with the pages that can be read from it,
// whatever its header or the call said.
#include <string>

#include "base/result_codes.h"

namespace kv {

struct ReadBack {
  int pages = 0;        // pages that read whole, counted from the first
  int claimed = 0;      // pages the file's header counts
  Result error = ecOK;  // why reading stopped before the claimed pages (or could not begin)
  bool whole() const { return error == ecOK && pages == claimed; }
};

// Opens `path` with the APF reader and reads every page's header and data.
ReadBack ReadReceivedFile(const std::string &path);

}  // namespace kv
