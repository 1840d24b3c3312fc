#pragma once
// `korvane-fax receive --program-dir DIR`: the program's receive mode without its window.
#include "cli/command.h"

namespace kv::cli {

int runProgramReceive(const Args &args, Context &ctx);

}  // namespace kv::cli
