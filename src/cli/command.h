#pragma once
// The subcommand framework of korvane-fax: one Command per subcommand (one file each), a table
// of them, and option parsing shared by all.
#include <iosfwd>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result_codes.h"

namespace kv::cli {

// Exit codes of the tool.
enum ExitCode { exitOk = 0, exitFailed = 1, exitUsage = 2 };

struct OptionSpec {
  std::string name;      // long name without "--"
  char shortName = 0;    // 0 = none
  std::string argument;  // value placeholder for help; empty = a flag
  std::string help;
};

// Parsed command line of one subcommand: options by long name, then the positional arguments.
class Args {
 public:
  bool has(const std::string &name) const { return values_.count(name) != 0; }
  std::optional<std::string> value(const std::string &name) const;
  const std::vector<std::string> &positional() const { return positional_; }

  // Parses `args` against `specs`. "--name value", "--name=value", "-x value", and "--" ending
  // the options. On failure answers false with a message in `error`.
  bool parse(std::span<const std::string> args, const std::vector<OptionSpec> &specs,
             std::string &error);

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> positional_;
};

struct Context {
  std::ostream &out;
  std::ostream &err;
  // How much faster than real time a fax session's time-outs run (tests of silent modems).
  double timeoutSpeed = 1;
};

struct Command {
  std::string name;
  std::string synopsis;     // arguments after the command name, for usage lines
  std::string summary;      // one line for the command list
  std::string description;  // paragraph for --help
  std::vector<OptionSpec> options;
  int (*run)(const Args &args, Context &ctx) = nullptr;
  int minPositional = 0, maxPositional = 0;
};

// The table of subcommands, in the order the help lists them.
const std::vector<Command> &commands();
// Subcommands of higher layers (the record tables of the program), which the executable adds
// before running the tool when it is built with them.
void addCommands(const std::vector<Command> &more);

// `receive --program-dir DIR` runs the program's receive mode on DIR's tables, which this layer
// does not have: the executable installs the runner when it is built with them.
void setProgramReceive(int (*run)(const Args &args, Context &ctx));

// Runs the tool: argv without the program name. Answers the exit code.
int runTool(std::span<const std::string> args, Context &ctx);

// Helpers for subcommands.
void printHelp(const Command &c, std::ostream &out);
// Reports a failed engine call on stderr as "korvane-fax <cmd>: <what>: <text>: <why> (<code>)",
// `what` naming the file concerned and `why` the reason, each left out when empty.
int fail(Context &ctx, const std::string &command, Result code, const std::string &what = {},
         const std::string &why = {});
int usageError(Context &ctx, const std::string &command, const std::string &message);
// Laying out rich text needs a graphical application (no display: the offscreen platform);
// makes one unless the process has one. False, with a message, when it has another kind.
bool ensureGuiApplication(Context &ctx, const std::string &command);
// Parses a whole decimal number in [lo, hi].
bool parseInt(const std::string &s, int lo, int hi, int &out);

// The subcommands, each in its own file.
Command infoCommand();
Command unpackCommand();
Command convertCommand();
Command sendCommand();
Command receiveCommand();
Command detectCommand();
Command findModemCommand();
Command resetCommand();
Command exportCommand();
Command spellCommand();
Command renderCommand();
Command printerCommand();

}  // namespace kv::cli
