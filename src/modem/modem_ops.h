#pragma once
// Modem operations shared by the windows and the command-line tool: opening a port with a
// message for the user, sending a reset string, the factory reset, the search for the modem's
// port and the fax class check. None of them raises; each reports in its result and texts.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "modem/device_holder.h"
#include "modem/serial_ports.h"

namespace kv {

class TKvCustomComPort;
class TKvSendFax;

// Opens the port. True on success with an empty message; otherwise false and the text to
// show the user.
bool OpenComPortWithMessage(TKvCustomComPort &port, std::string &message);
// The text for a port that is in use: which program holds the device (from the lock table),
// said as receive mode when it is one, so a send tried on receive mode's modem says why.
std::string InUseMessage(const std::string &portName, const std::string &device,
                         const std::optional<DeviceHolder> &holder, int ownPid);
// What is wrong with a device path as a serial port (missing, a directory, not a character
// device), naming it; empty when it is a character device.
std::string DeviceProblem(const std::string &device);

// Sends `command` + CR (with "AT" put in front when it holds no "AT" in any case; the caller's
// string changes too) and waits about 2 s for "OK" in any case.
bool SendModemString(TKvCustomComPort &port, std::string &command);

// Sends "AT&F" + CR; true when "OK" came within about 2 s.
bool ResetModemToFactory(TKvCustomComPort &port);

inline constexpr int kResetReplyTicks = 36;
inline constexpr int kSearchReplyTicks = 18;

struct ModemSearchResult {
  int found = -1;  // Com number of the first port with a modem, or -1
  std::string foundDevice;
  bool busySeen = false;
  std::vector<std::string> labels;  // "Com 1: MODEM", ... one for each port tried
  std::string resultText;
};

// Tries each port of `ports` in turn for a device that answers "AT" with "OK", pointing the
// component at the port's number and device. `progress` is called after each label change
// (index into `ports` and its text). Trace and log files are named by the caller.
ModemSearchResult FindModem(TKvCustomComPort &port, const std::vector<SerialPort> &ports,
                            const std::function<void(int, const std::string &)> &progress = {});

struct FaxClassCheck {
  bool class1 = false, class2 = false, class2_0 = false;
  int recommended = -1;               // 0 Class 1, 1 Class 2, 2 Class 2.0
  std::string name;                   // "Class 1", ...
  std::array<std::string, 3> labels;  // "Class 1   : Supported (recommended)", ...
  std::string status;
  bool boldClass2_0 = false;
};

// Opens the port (number `comNumber`), resets the modem to factory settings, asks the fax
// component which classes it supports, and recommends the best. The port is closed at the end.
FaxClassCheck CheckFaxClass(TKvCustomComPort &port, TKvSendFax &fax, int comNumber,
                            const std::function<void(const std::string &)> &status = {});

}  // namespace kv
