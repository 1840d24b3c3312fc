#pragma once
// korvane-fax subcommands that send the program's own faxes, as the main window's Send does.
#include <vector>

#include "cli/command.h"

namespace kv::cli {

Command sendRowCommand();
inline std::vector<Command> sendingCommands() {
  return {sendRowCommand()};
}

}  // namespace kv::cli
