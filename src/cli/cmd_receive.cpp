// korvane-fax receive: waits for calls on a fax modem and stores each fax in the next free
// FAXnnnn.APF of a directory, printing its path. With --once it ends after the first call and
// exits 0 only when a fax came in completely.
#include <chrono>
#include <ostream>

#include "base/error_text.h"
#include "cli/command.h"
#include "cli/port_args.h"
#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "fax/receive_fax.h"
#include "fax/receive_folder.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"

namespace kv::cli {

namespace {

int (*programReceive)(const Args &, Context &) = nullptr;

int runReceive(const Args &args, Context &ctx) {
  if (args.has("program-dir")) {
    if (!programReceive)
      return usageError(ctx, "receive", "--program-dir needs a build with the program's tables");
    return programReceive(args, ctx);
  }
  PortOptions po;
  if (int usage = 0; !parsePortOptions(args, ctx, "receive", po, usage)) return usage;
  auto dir = args.value("dir");
  if (!dir) return usageError(ctx, "receive", "--dir DIR is required");
  // Like the program's own receive directory, a missing one is made rather than refused.
  if (std::string problem = receiveFolderProblem(*dir); !problem.empty()) {
    ctx.err << "korvane-fax receive: " << terminalText(problem) << "\n";
    return 1;
  }

  TKvFaxLog history;  // outlives the component that points at it
  TKvReceiveFax fax;
  fax.DestinationDir = *dir;
  fax.OneFax = args.has("once");
  fax.ExitOnError = fax.OneFax;
  int ring = 1, timeout = 0;
  if (auto r = args.value("ring"); r && !parseInt(*r, 1, 50, ring))
    return usageError(ctx, "receive", "--ring takes a number from 1 to 50");
  if (auto t = args.value("timeout"); t && !parseInt(*t, 1, 1000000, timeout))
    return usageError(ctx, "receive", "--timeout takes a number of seconds");
  fax.AnswerOnRing = std::uint16_t(ring);
  int rate = 9600;
  if (auto r = args.value("rate"); r && !parseInt(*r, 2400, 14400, rate))
    return usageError(ctx, "receive", "--rate takes a number from 2400 to 14400");
  // Class 2 and 2.0 modems offer the caller up to this rate; a Class 1 modem offers all it has.
  fax.DesiredBPS = std::uint16_t(rate);
  if (int usage = 0; !parseClassOption(args, ctx, "receive", fax, usage)) return usage;
  fax.StationID = args.value("station").value_or("");

  if (int failed = 0; !applyHistoryOption(args, ctx, "receive", fax, history, failed))
    return failed;
  if (int usage = 0; !applySpeedOption(args, ctx, "receive", fax, usage)) return usage;
  applyCodingOption(args, fax);
  MainThreadScope mainThread;
  TKvComPort cp;
  cp.SetAutoOpen(false);
  applyPortOptions(cp, po);
  fax.SetComPort(&cp);
  std::string message;
  if (!OpenComPortWithMessage(cp, message)) {
    ctx.err << "korvane-fax receive: " << terminalText(message) << "\n";
    return exitFailed;
  }

  bool done = false;
  Result result = 0;
  int received = 0;
  int lastProgress = -1;
  fax.OnFaxStatus = [&](TKvAbstractFax &f, bool, bool) {
    int p = f.ProgressCode();
    if (p == lastProgress) return;
    lastProgress = p;
    std::string text = progressText(p);
    if (!text.empty()) ctx.err << text << "\n";
  };
  fax.OnFaxLog = [&](TKvAbstractFax &f, TFaxLogCode code) {
    if (code == lcReceiveStart) {
      std::string id = f.PartnerID();
      id.erase(0, id.find_first_not_of(' '));
      id.erase(id.find_last_not_of(' ') + 1);
      ctx.err << "Receiving from \"" << id << "\"\n";
    }
    if (code == lcReceiveOk) {
      ++received;
      ctx.out << f.FaxFile << std::endl;
    }
    if (code == lcReceiveFail && !f.FaxFile.empty())
      ctx.err << "Incomplete fax kept: " << f.FaxFile << "\n";
  };
  fax.OnCallNotAnswered = [&](TKvReceiveFax &, const std::string &why) {
    ctx.err << "A call was not answered: " << terminalText(why) << "\n";
  };
  bool errorShown = false;
  fax.OnFaxError = [&](TKvAbstractFax &f, Result c) {
    errorShown = true;
    printSessionError(ctx.err, f, c);
  };
  fax.OnFaxFinish = [&](TKvAbstractFax &, Result c) {
    done = true;
    result = c;
  };
  StopSignals stop;
  try {
    fax.BeginReceive();
  } catch (const std::exception &e) {
    ctx.err << "korvane-fax receive: " << e.what() << "\n";
    done = true;
    result = ecFaxInitError;
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
  bool stopped = false;
  while (!done) {
    mainThread.loop().waitAndRun(std::chrono::milliseconds(50));
    bool timeUp = timeout > 0 && std::chrono::steady_clock::now() >= until;
    if ((stop.raised() || timeUp) && !stopped) {
      stopped = true;
      if (timeUp) ctx.err << "Time limit reached\n";
      fax.AbortFax();
    }
  }
  // A session that could not start has reported nothing yet: say what the modem did.
  if (result < 0 && !errorShown) {
    std::string detail = fax.SessionErrorDetail();
    ctx.err << "Error: " << errorText(result) << " (" << result << ")"
            << (detail.empty() ? "" : ": " + detail) << "\n";
  }
  fax.SetComPort(nullptr);
  closePortAndWait(cp);
  if (fax.OneFax) return received > 0 && result == 0 ? exitOk : exitFailed;
  return stopped || result == 0 ? exitOk : exitFailed;
}

}  // namespace

void setProgramReceive(int (*run)(const Args &args, Context &ctx)) {
  programReceive = run;
}

Command receiveCommand() {
  Command c;
  c.name = "receive";
  c.synopsis = "(--device PATH | --port N) --dir DIR [options] | --program-dir DIR [--once]";
  c.summary = "answer calls on a fax modem and store the faxes";
  c.description =
      "Waits for calls, answers on the chosen ring and stores each fax as the next free "
      "FAXnnnn.APF in DIR, printing its path on standard output. Without --once it goes on "
      "until interrupted or --timeout. Exit 0 when (with --once) a fax was received completely. "
      "--history FILE appends a record of "
      "each call to FILE. With --program-dir DIR it runs the program's receive mode instead: "
      "DIR's settings and port, faxes into DIR/receive and a row for each in DIR's received-fax "
      "table, as the main window does (--once, --timeout and --speed apply).";
  c.options = sessionOptionSpecs({
      {"dir", 0, "DIR", "directory for received faxes"},
      {"once", 0, "", "end after the first call"},
      {"ring", 0, "N", "answer on ring N (default 1)"},
      {"class", 0, "auto|1|2|2.0", "fax class (default: auto detect)"},
      {"rate", 0, "BPS", "highest rate a Class 2 or 2.0 modem offers (default 9600)"},
      {"station", 0, "ID", "own station id"},
      {"timeout", 0, "S", "stop after S seconds"},
      {"program-dir", 0, "DIR", "receive mode of the program in DIR"},
  });
  c.run = runReceive;
  return c;
}

}  // namespace kv::cli
