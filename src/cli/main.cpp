// korvane-fax: the command-line front end of the fax engines.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kv::cli::Context ctx{std::cout, std::cerr};
  return kv::cli::runTool(args, ctx);
}
