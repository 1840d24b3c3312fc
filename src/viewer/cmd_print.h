#pragma once
// korvane-fax print: the fax printer without windows (added to the tool in builds with windows).
#include "cli/command.h"

namespace kv::cli {

Command printCommand();

}  // namespace kv::cli
