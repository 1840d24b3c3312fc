#pragma once
// korvane-fax subcommands on the program's record tables: composing a fax into the sent-fax
// table as the fax editor does, and listing the rows as the main window shows them.
#include <vector>

#include "cli/command.h"

namespace kv::cli {

Command composeCommand();
Command listCommand();
inline std::vector<Command> recordCommands() {
  return {composeCommand(), listCommand()};
}

}  // namespace kv::cli
