// korvane-fax send: one fax over a Class 1, 2 or 2.0 modem. Progress goes to stderr, the result
// text
// ("Sent" or the error text) to stdout; the exit code is 0 only when the fax was sent.
#include <chrono>
#include <ostream>

#include "base/dial_string.h"
#include "base/error_text.h"
#include "base/exceptions.h"
#include "cli/command.h"
#include "cli/port_args.h"
#include "cli/send_session.h"
#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "fax/send_fax.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"

namespace kv::cli {

namespace {

bool intOption(const Args &args, Context &ctx, const char *name, int lo, int hi, int &out,
               int &exitCode) {
  auto v = args.value(name);
  if (!v) return true;
  if (parseInt(*v, lo, hi, out)) return true;
  exitCode = usageError(ctx, "send",
                        std::string("--") + name + " takes a number from " + std::to_string(lo) +
                            " to " + std::to_string(hi));
  return false;
}

int runSend(const Args &args, Context &ctx) {
  int code = exitUsage;
  PortOptions po;
  if (!parsePortOptions(args, ctx, "send", po, code)) return code;
  TKvFaxLog history;  // outlives the component that points at it
  TKvSendFax fax;
  std::string reason;
  if (DialString::parsePrefix(args.value("dial-prefix").value_or(""), fax.DialPrefix, reason) < 0 ||
      DialString::parse(args.positional()[0], fax.PhoneNumber, reason,
                        args.value("international-prefix").value_or("")) < 0)
    return usageError(ctx, "send", reason);
  if (fax.PhoneNumber.plusDropped())
    ctx.err << "korvane-fax send: no international prefix is set: the \"+\" is not dialled\n";
  fax.FaxFile = args.positional()[1];
  if (!parseClassOption(args, ctx, "send", fax, code)) return code;
  int rate = 9600, attempts = 3, retryWait = 60, dialWait = 60;
  if (!intOption(args, ctx, "rate", 2400, 14400, rate, code) ||
      !intOption(args, ctx, "attempts", 0, 1000, attempts, code) ||
      !intOption(args, ctx, "retry-wait", 1, 3600, retryWait, code) ||
      !intOption(args, ctx, "dial-wait", 1, 3600, dialWait, code))
    return code;
  fax.DesiredBPS = std::uint16_t(rate);
  fax.DialAttempts = std::uint16_t(attempts);
  fax.SetDialRetryWait(std::uint16_t(retryWait));
  fax.SetDialWait(std::uint16_t(dialWait));
  std::string name = args.value("name").value_or("");
  fax.StationID = args.value("station").value_or("");
  fax.HeaderSender = name;
  fax.HeaderLine = args.value("header").value_or(BuildHeader(name, fax.StationID, localNow()));
  fax.CoverFile = args.value("cover").value_or("");
  fax.ToneDial = !args.has("pulse");
  fax.BlindDial = args.has("blind");
  fax.DetectBusy = !args.has("ignore-busy");
  if (auto init = args.value("init")) fax.SetModemInit(*init);

  if (int failed = 0; !applyHistoryOption(args, ctx, "send", fax, history, failed)) return failed;
  if (int usage = 0; !applySpeedOption(args, ctx, "send", fax, usage)) return usage;
  applyCodingOption(args, fax);
  MainThreadScope mainThread;
  TKvComPort cp;
  cp.SetAutoOpen(false);
  applyPortOptions(cp, po);
  fax.SetComPort(&cp);
  std::string message;
  if (!OpenComPortWithMessage(cp, message)) {
    ctx.err << "korvane-fax send: " << terminalText(message) << "\n";
    ctx.out << terminalText(message) << "\n";
    return exitFailed;
  }

  const Result result = runSendSession(fax, mainThread, ctx, "send");
  if (std::string detail = fax.SessionErrorDetail(); result < 0 && !detail.empty())
    ctx.err << "Error: " << errorText(result) << " (" << result << "): " << detail << "\n";
  fax.SetComPort(nullptr);
  closePortAndWait(cp);
  std::string text = errorText(result);
  std::string up = text;
  for (auto &ch : up) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  if (result == 0 || up == "OK") text = "Sent";
  ctx.out << text << "\n";
  return result == 0 ? exitOk : exitFailed;
}

}  // namespace

Command sendCommand() {
  Command c;
  c.name = "send";
  c.synopsis = "(--device PATH | --port N) [options] NUMBER FILE.APF";
  c.summary = "send an APF fax file through a fax modem";
  c.description =
      "Dials NUMBER (digits, the dial modifiers * # , W P ! @ T, spaces and ( ) . - / which are "
      "dropped, and a leading +) and sends FILE.APF with a header line on every page. Progress "
      "texts go to "
      "standard error, the result (\"Sent\" or the error text) to standard output. --port N "
      "takes the device from the \"Ports\" section of the program's KRV.INI. Exit "
      "0 only when the fax was sent. --history FILE appends a record of the fax to FILE.";
  c.options = sessionOptionSpecs({
      {"class", 0, "auto|1|2|2.0", "fax class (default: auto detect)"},
      {"rate", 0, "BPS", "highest transfer rate (default 9600)"},
      {"station", 0, "ID", "own station id (fax number)"},
      {"name", 0, "NAME", "sender name for the header line"},
      {"header", 0, "TEXT", "header line with $ codes ($P $N $D $T $I $F)"},
      {"cover", 0, "FILE", "cover page: an APF file or a text file"},
      {"dial-prefix", 0, "P", "digits dialled before the number"},
      {"international-prefix", 0, "P", "dialled in place of a leading + (default: none)"},
      {"pulse", 0, "", "pulse dialling"},
      {"blind", 0, "", "do not wait for a dial tone"},
      {"ignore-busy", 0, "", "do not detect busy tones"},
      {"attempts", 0, "N", "dial attempts on busy (default 3, 0 = no limit)"},
      {"retry-wait", 0, "S", "seconds between dial attempts (default 60)"},
      {"dial-wait", 0, "S", "seconds from dialling to the fax connection (default 60)"},
      {"init", 0, "CMD", "extra modem initialisation command"},
  });
  c.run = runSend;
  c.minPositional = 2;
  c.maxPositional = 2;
  return c;
}

}  // namespace kv::cli
