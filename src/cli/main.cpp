// korvane-fax: the command-line front end of the fax engines.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"
#ifdef KORVANE_RECORD_COMMANDS
#include "compose/record_commands.h"
#endif
#ifdef KORVANE_VIEWER_COMMANDS
#include "viewer/cmd_print.h"
#endif

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kv::cli::Context ctx{std::cout, std::cerr};
#ifdef KORVANE_RECORD_COMMANDS
  kv::cli::addCommands(kv::cli::recordCommands());
#endif
#ifdef KORVANE_VIEWER_COMMANDS
  kv::cli::addCommands({kv::cli::printCommand()});
#endif
  return kv::cli::runTool(args, ctx);
}
