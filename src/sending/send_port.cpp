#include "sending/send_port.h"

#include "comm/com_port.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"

namespace kv {

namespace {
void say(const StatusText &status, const std::string &text) {
  if (status) status(text);
}
}  // namespace

void SetupSendPort(TKvCustomComPort &port, const std::string &programDir) {
  port.SetAutoOpen(false);
  port.SetInSize(8192);
  port.SetOutSize(8192);
  port.SetHWFlowOptions(hwfSet({hwfUseRTS, hwfRequireCTS}));
  port.SetBufferFull(7372);
  port.SetBufferResume(819);
  port.SetTraceSize(32000);
  port.SetTraceName(programDir + kSendTraceName);
  port.SetTracing(tlOn);
  port.SetLogName(programDir + kSendLogName);
  port.SetLogging(tlOn);
}

bool OpenSendPort(TKvCustomComPort &port, const std::string &resetString, const StatusText &status,
                  std::string &message) {
  say(status, "Opening communications port...");
  if (!OpenComPortWithMessage(port, message)) {
    closePortAndWait(port);
    return false;
  }
  if (!resetString.empty()) {
    say(status, "Sending reset string...");
    std::string command = resetString;  // the helper puts "AT" in front of its copy only
    SendModemString(port, command);
  }
  return true;
}

void CloseSendPort(TKvCustomComPort &port, const std::string &afterResetString,
                   const StatusText &status) {
  if (!afterResetString.empty() && port.Open()) {
    say(status, "Sending AFTER reset string...");
    std::string command = afterResetString;
    SendModemString(port, command);
  }
  closePortAndWait(port);
}

}  // namespace kv
