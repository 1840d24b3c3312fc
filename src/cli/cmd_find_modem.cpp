// korvane-fax find-modem: tries ports 1 to 6 (devices from KRV.INI [Ports] in the current
// directory) for a modem that answers "AT".
#include <ostream>

#include "cli/command.h"
#include "cli/port_args.h"
#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"

namespace kv::cli {

namespace {

int runFindModem(const Args &args, Context &ctx) {
  MainThreadScope mainThread;
  TKvComPort cp;
  cp.SetAutoOpen(false);
  PortOptions po;
  po.traceFile = args.value("trace").value_or("");
  po.logFile = args.value("log").value_or("");
  cp.SetTraceName(po.traceFile.empty() ? "KRVTEST.TRC" : po.traceFile);
  cp.SetLogName(po.logFile.empty() ? "KRVTEST.LOG" : po.logFile);
  ModemSearchResult r = FindModem(
      cp,
      [&](int n) {
        po.number = n;
        applyPortOptions(cp, po);
      },
      [&](int, const std::string &label) {
        if (label.find("TESTING") == std::string::npos) ctx.out << label << "\n";
      });
  closePortAndWait(cp);
  ctx.out << r.resultText << "\n";
  return r.found > 0 ? exitOk : exitFailed;
}

}  // namespace

Command findModemCommand() {
  Command c;
  c.name = "find-modem";
  c.synopsis = "";
  c.summary = "look for a modem on ports 1 to 6";
  c.description =
      "Opens ports 1 to 6 (devices from the \"Ports\" section of KRV.INI in the current "
      "directory, else /dev/ttyS0 to /dev/ttyS5), sends AT to each and reports what answered. "
      "Exit 0 when a modem was found.";
  c.options = {
      {"trace", 0, "FILE", "write the port trace to FILE"},
      {"log", 0, "FILE", "write the dispatch log to FILE"},
  };
  c.run = runFindModem;
  return c;
}

}  // namespace kv::cli
