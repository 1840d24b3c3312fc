// korvane-fax find-modem: tries every serial port the system has (Com1 to Com6, the ports
// KRV.INI [Ports] in the current directory names, USB modems) for a modem that answers "AT".
#include <ostream>

#include "cli/command.h"
#include "cli/port_args.h"
#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"
#include "modem/serial_ports.h"
#include "settings/settings.h"

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
  applyPortOptions(cp, po);
  IniFile ini;
  ini.load(kSettingsFileName);
  const std::vector<SerialPort> ports =
      ListSerialPorts([&ini](int n) { return portDeviceName(ini, n); }, portEntries(ini),
                      FindSerialDevices(CurrentSerialScanDirs()));
  ModemSearchResult r = FindModem(cp, ports, [&](int i, const std::string &label) {
    if (label.find("TESTING") == std::string::npos)
      ctx.out << label << "  " << ports[std::size_t(i)].deviceText() << "\n";
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
  c.summary = "look for a modem on every serial port";
  c.description =
      "Opens each serial port: Com1 to Com6 and the ports the \"Ports\" section of KRV.INI in "
      "the current directory names (else /dev/ttyS0 to /dev/ttyS5), built-in ports that answer "
      "and USB modems (/dev/ttyACM*, /dev/ttyUSB*, shown with their /dev/serial/by-id names); "
      "sends AT to each and reports what answered. Exit 0 when a modem was found.";
  c.options = {
      {"trace", 0, "FILE", "write the port trace to FILE"},
      {"log", 0, "FILE", "write the dispatch log to FILE"},
  };
  c.run = runFindModem;
  return c;
}

}  // namespace kv::cli
