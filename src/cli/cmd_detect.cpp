// korvane-fax detect: which fax classes the modem supports and which one to use, as the fax
// class check reports them.
#include <ostream>

#include "cli/command.h"
#include "cli/port_args.h"
#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "fax/send_fax.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"

namespace kv::cli {

namespace {

// The check writes CR where the window breaks a line.
std::string lines(std::string s) {
  for (auto &c : s)
    if (c == '\r') c = '\n';
  return s;
}

int runDetect(const Args &args, Context &ctx) {
  PortOptions po;
  if (int usage = 0; !parsePortOptions(args, ctx, "detect", po, usage)) return usage;
  MainThreadScope mainThread;
  TKvComPort cp;
  cp.SetAutoOpen(false);
  applyPortOptions(cp, po);
  TKvSendFax fax;
  fax.FaxClass = fcUnknown;
  FaxClassCheck r = CheckFaxClass(cp, fax, po.number, [&](const std::string &s) {
    if (!s.empty() && s.find("Try using") == std::string::npos) ctx.err << lines(s) << "\n";
  });
  fax.SetComPort(nullptr);
  closePortAndWait(cp);
  for (const auto &l : r.labels) ctx.out << l << "\n";
  if (r.recommended >= 0) ctx.out << "Recommended: " << r.name << "\n";
  if (!r.status.empty()) ctx.out << lines(r.status) << "\n";
  return r.recommended >= 0 ? exitOk : exitFailed;
}

}  // namespace

Command detectCommand() {
  Command c;
  c.name = "detect";
  c.synopsis = "(--device PATH | --port N)";
  c.summary = "ask the modem which fax classes it supports";
  c.description =
      "Resets the modem to factory settings, asks it for its fax service classes and prints "
      "each class as supported or not, with the recommended one. Exit 0 when a class was found.";
  c.options = portOptionSpecs();
  c.run = runDetect;
  return c;
}

}  // namespace kv::cli
