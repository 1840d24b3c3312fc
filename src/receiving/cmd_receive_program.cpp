// korvane-fax receive --program-dir DIR: receive mode as the main window runs it, on DIR's
// settings, port, receive directory and received-fax table, with the status line and message
// boxes on standard error and the path of each recorded fax on standard output.
#include "receiving/cmd_receive_program.h"

#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <ostream>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "cli/port_args.h"
#include "comm/com_port.h"
#include "comm/device_layer.h"
#include "receiving/receive_mode.h"
#include "settings/settings.h"

namespace kv::cli {

namespace {

// Port numbers name devices through DIR's settings file while the command runs.
class PortsOf {
 public:
  explicit PortsOf(std::filesystem::path ini) {
    SetPortDeviceResolver([ini](int n) { return portDeviceName(ini, n); });
  }
  ~PortsOf() { SetPortDeviceResolver(portDeviceBesideProgram); }
};

}  // namespace

int runProgramReceive(const Args &args, Context &ctx) {
  const QString dir = QString::fromStdString(*args.value("program-dir"));
  if (!QFileInfo(dir).isDir()) {
    ctx.err << "korvane-fax receive: " << dir.toStdString() << ": no such directory\n";
    return exitFailed;
  }
  SetProgramDir(QDir(dir).absolutePath());
  const std::string programDir = ProgramDir().toStdString();
  int timeout = 0;
  if (auto t = args.value("timeout"); t && !parseInt(*t, 1, 1000000, timeout))
    return usageError(ctx, "receive", "--timeout takes a number of seconds");

  TFaxRecords records;
  if (!records.OpenRecFaxDBF()) {
    ctx.err << "korvane-fax receive: " << records.OpenError().toStdString() << "\n";
    return exitFailed;
  }
  if (const QString note = records.RecTable.RecoveryReport(); !note.isEmpty())
    ctx.err << "korvane-fax receive: " << note.toStdString() << "\n";
  std::string settingsProblem;
  Settings settings = LoadSettings(settingsFilePath(programDir), &settingsProblem);
  // Settings the file does not hold, or a port it does not name, would answer another line.
  if (!settingsProblem.empty()) {
    ctx.err << "korvane-fax receive: " << settingsProblem << "\n";
    return exitFailed;
  }
  // As the main window does on a first run: the first port.
  if (settings.comPort == -1) settings.comPort = 0;
  PortsOf ports(settingsFilePath(programDir));

  MainThreadScope mainThread;
  TKvComPort port;
  PrepareReceivePort(port, programDir);
  TReceiveModeCore mode(port, records.RecTable, programDir + "receive");
  mode.KvReceiveFax1.OneFax = args.has("once");
  mode.KvReceiveFax1.ExitOnError = mode.KvReceiveFax1.OneFax;
  if (int usage = 0; !applySpeedOption(args, ctx, "receive", mode.KvReceiveFax1, usage))
    return usage;

  mode.ProcessEvents = [&] { mainThread.loop().processPending(); };
  std::string lastStatus;
  mode.ShowStatus = [&](const std::string &text) {
    if (text == lastStatus || text.empty()) return;
    lastStatus = text;
    ctx.err << text << "\n";
  };
  mode.Inform = [&](const std::string &text) { ctx.err << terminalText(text) << "\n"; };
  int complete = 0;
  mode.FaxRecorded = [&](const ReceivedFax &fax) {
    if (fax.complete) ++complete;
    ctx.out << fax.file << (fax.complete ? "" : " (incomplete)") << std::endl;
  };
  bool done = false;
  mode.SessionFinished = [&](Result) { done = true; };

  std::string message;
  ctx.err << "Starting receive mode...\n";
  if (!mode.StartReceiving(settings, message)) {
    ctx.err << "korvane-fax receive: " << terminalText(message) << "\n";
    return exitFailed;
  }
  mode.ReceiveMode = true;
  StopSignals stop;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
  while (!done) {
    mainThread.loop().waitAndRun(std::chrono::milliseconds(50));
    const bool timeUp = timeout > 0 && std::chrono::steady_clock::now() >= until;
    if (stop.raised() || timeUp) {
      if (timeUp) ctx.err << "Time limit reached\n";
      break;
    }
  }
  mode.StopReceiving(settings);
  mode.ReceiveMode = false;
  // The rows of faxes that ended just now are written before the command ends.
  mainThread.loop().processPending();
  if (mode.KvReceiveFax1.OneFax) return complete > 0 ? exitOk : exitFailed;
  return exitOk;
}

}  // namespace kv::cli
