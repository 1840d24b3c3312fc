#pragma once
// The port of a send: how it is set up, and the steps around the session on it (open with a
// message for the user and the reset string before; the after-reset string and closing after).
// The send window and `korvane-fax send-row` take the same steps in the same order.
#include <functional>
#include <string>

namespace kv {

class TKvCustomComPort;

inline constexpr const char *kSendTraceName = "KRVSEND.TRC";
inline constexpr const char *kSendLogName = "KRVSEND.LOG";

using StatusText = std::function<void(const std::string &)>;

// Buffers of 8192 bytes each way, RTS/CTS flow with its thresholds, tracing (32000 entries) and
// dispatch logging on, into KRVSEND.TRC and KRVSEND.LOG of `programDir` (ends with '/').
void SetupSendPort(TKvCustomComPort &port, const std::string &programDir);

// Opens the port as it is set up and sends `resetString` when there is one. False with the text
// to show the user when the port cannot be opened (the port is then closed again).
bool OpenSendPort(TKvCustomComPort &port, const std::string &resetString, const StatusText &status,
                  std::string &message);

// Sends `afterResetString` when there is one and closes the port (its trace and log files are
// written then).
void CloseSendPort(TKvCustomComPort &port, const std::string &afterResetString,
                   const StatusText &status);

}  // namespace kv
