// korvane-fax: the command-line front end of the fax engines.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "comm/device_layer.h"
#include "settings/settings.h"
#ifdef KORVANE_RECORD_COMMANDS
#include "compose/record_commands.h"
#endif
#ifdef KORVANE_VIEWER_COMMANDS
#include "viewer/cmd_print.h"
#endif
#ifdef KORVANE_SENDING_COMMANDS
#include "sending/send_commands.h"
#endif
#ifdef KORVANE_RECEIVE_MODE
#include "receiving/cmd_receive_program.h"
#endif

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kv::cli::Context ctx{std::cout, std::cerr};
  // Port numbers name devices through the settings file beside the program.
  kv::SetPortDeviceResolver(kv::portDeviceBesideProgram);
#ifdef KORVANE_RECORD_COMMANDS
  kv::cli::addCommands(kv::cli::recordCommands());
#endif
#ifdef KORVANE_VIEWER_COMMANDS
  kv::cli::addCommands({kv::cli::printCommand()});
#endif
#ifdef KORVANE_SENDING_COMMANDS
  kv::cli::addCommands(kv::cli::sendingCommands());
#endif
#ifdef KORVANE_RECEIVE_MODE
  kv::cli::setProgramReceive(kv::cli::runProgramReceive);
#endif
  return kv::cli::runTool(args, ctx);
}
