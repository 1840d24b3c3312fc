// korvane-fax reset: sends a reset string (default AT&F) and waits for the modem's OK.
#include <ostream>

#include "cli/command.h"
#include "cli/port_args.h"
#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"

namespace kv::cli {

namespace {

int runReset(const Args &args, Context &ctx) {
  PortOptions po;
  if (int usage = 0; !parsePortOptions(args, ctx, "reset", po, usage)) return usage;
  std::string command = args.positional().empty() ? "AT&F" : args.positional()[0];
  MainThreadScope mainThread;
  TKvComPort cp;
  cp.SetAutoOpen(false);
  applyPortOptions(cp, po);
  std::string message;
  if (!OpenComPortWithMessage(cp, message)) {
    for (auto &c : message)
      if (c == '\r') c = '\n';
    ctx.out << message << "\n";
    return exitFailed;
  }
  bool ok = SendModemString(cp, command);
  ctx.out << command << "\n" << (ok ? "Modem reset" : "Unable to reset modem") << "\n";
  closePortAndWait(cp);
  return ok ? exitOk : exitFailed;
}

}  // namespace

Command resetCommand() {
  Command c;
  c.name = "reset";
  c.synopsis = "(--device PATH | --port N) [CMD]";
  c.summary = "send a modem reset string and wait for OK";
  c.description =
      "Sends CMD (default AT&F; \"AT\" is put in front when it holds none) and waits about two "
      "seconds for OK. Prints the string sent and \"Modem reset\" or \"Unable to reset modem\".";
  c.options = portOptionSpecs();
  c.run = runReset;
  c.maxPositional = 1;
  return c;
}

}  // namespace kv::cli
