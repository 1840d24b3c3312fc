// The session loop of the subcommands that send: progress on stderr, Ctrl-C cancels.
#pragma once

#include <string>

#include "cli/command.h"
#include "cli/port_args.h"
#include "fax/send_fax.h"

namespace kv::cli {

// Starts the transmission and runs the main-thread loop until the session finishes; a stop
// signal aborts it. Answers the session's result.
Result runSendSession(TKvSendFax &fax, MainThreadScope &mainThread, Context &ctx,
                      const std::string &command);

}  // namespace kv::cli
