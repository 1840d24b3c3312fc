#include "modem/modem_ops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/error_text.h"
#include "base/exceptions.h"
#include "comm/com_port.h"
#include "comm/device_layer.h"
#include "fax/send_fax.h"
#include "modem/device_holder.h"
#include "modem/port_options.h"

namespace kv {

namespace {
std::string upper(std::string s) {
  for (auto &c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool sendAndWait(TKvCustomComPort &port, const std::string &command, int ticks) {
  try {
    port.PutString(command + "\r");
    return port.WaitForString("OK", ticks, false, true);
  } catch (const std::exception &) {
    return false;
  }
}

void closeQuietly(TKvCustomComPort &port) {
  closePortAndWait(port);
}
}  // namespace

std::string InUseMessage(const std::string &portName, const std::string &device,
                         const std::optional<DeviceHolder> &holder, int ownPid) {
  if (holder && HolderIsReceiveMode(*holder, ownPid)) {
    // Said plainly: the modem is busy waiting for faxes, which the user can switch off.
    const std::string who = HolderDescription(*holder, ownPid);
    return "The modem is in use by receive mode ( " + portName + " )\r\r" +
           char(std::toupper(static_cast<unsigned char>(who[0]))) + who.substr(1) + " holds " +
           device + " and waits for faxes on it. Switch receive mode off (or choose another " +
           "port), and then try again.";
  }
  const std::string who = holder ? HolderDescription(*holder, ownPid) : "Another program";
  return "The communications port is in use ( " + portName + " )\r\r" +
         char(std::toupper(static_cast<unsigned char>(who[0]))) + who.substr(1) + " holds " +
         device + ". Please make sure that all communication programs (internet, AOL, etc) " +
         "are closed, and then try again.";
}

bool OpenComPortWithMessage(TKvCustomComPort &port, std::string &message) {
  message.clear();
  // The port by its number (when it has one) and always by its device, which is what a user
  // with a USB modem knows it by.
  const std::string device =
      port.DevicePath().empty() ? PortDeviceName(port.ComNumber()) : port.DevicePath();
  const int n = port.ComNumber();
  auto unable = [&](const std::string &reason) {
    message = "Unable to open the specified communications port ( " +
              (n ? "Com" + std::to_string(n) : device) + " )\r" + "Error message: " + reason;
  };
  try {
    port.SetOpen(true);
    return true;
  } catch (const EKvException &e) {
    if (e.ErrorCode == ecAlreadyOpen || e.ErrorCode == ecHardware) {
      message = InUseMessage(n ? "Com " + std::to_string(n) : device, device,
                             FindDeviceHolder(device), int(getpid()));
    } else if (e.ErrorCode == ecBadId) {
      std::string problem = DeviceProblem(device);
      unable(problem.empty() ? device + " is not a serial device" : problem);
    } else {
      std::string text = e.ErrorCode ? messageForCode(e.ErrorCode) : e.message();
      if (text.empty()) text = e.message();
      if (text.empty()) text = "Unknown error";
      unable(text);
    }
  } catch (const std::exception &e) {
    // A text that names the device already says why (no permission, and what to do).
    const std::string what = e.what();
    std::string problem = DeviceProblem(device);
    unable(what.find(device) != std::string::npos || problem.empty() ? what : problem);
  }
  return false;
}

std::string DeviceProblem(const std::string &device) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      return "there is no device " + device + " (is the modem plugged in, and the name right?)";
    return device + ": " + std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return device + " is a directory, not a serial device";
  if (!S_ISCHR(st.st_mode)) return device + " is not a serial device";
  return {};
}

bool SendModemString(TKvCustomComPort &port, std::string &command) {
  if (upper(command).find("AT") == std::string::npos) command = "AT" + command;
  return sendAndWait(port, command, kResetReplyTicks);
}

bool ResetModemToFactory(TKvCustomComPort &port) {
  return sendAndWait(port, "AT&F", kResetReplyTicks);
}

ModemSearchResult FindModem(TKvCustomComPort &port, const std::vector<SerialPort> &ports,
                            const std::function<void(int, const std::string &)> &progress) {
  ModemSearchResult res;
  res.labels.resize(ports.size());
  auto show = [&](std::size_t i, const std::string &text) {
    res.labels[i] = text;
    if (progress) progress(int(i), text);
  };
  try {
    for (std::size_t i = 0; i < ports.size(); ++i) {
      const SerialPort &p = ports[i];
      const std::string head = "Com " + std::to_string(p.number) + ": ";
      show(i, head + "TESTING");
      closeQuietly(port);
      port.SetComNumber(std::uint16_t(p.number));
      port.SetDevicePath(p.device);
      std::string label = head;
      try {
        port.SetOpen(true);
      } catch (const EKvException &e) {
        if (e.ErrorCode == ecAlreadyOpen || e.ErrorCode == ecHardware) {
          label += "Port is already open (could be modem)";
          res.busySeen = true;
        } else if (e.ErrorCode == ecBadId) {
          label += "Port does not exist";
        } else {
          std::string text = e.ErrorCode ? messageForCode(e.ErrorCode) : e.message();
          label += text.empty() ? "Unknown Error" : text;
        }
      } catch (const std::exception &e) {
        label += std::string("ERROR: ") + e.what();
      }
      if (port.Open()) {
        if (sendAndWait(port, "AT", kSearchReplyTicks)) {
          label += "MODEM";
          if (res.found < 0) {
            res.found = p.number;
            res.foundDevice = p.device;
          }
        } else {
          label += "Unknown";
        }
      } else if (label.size() == head.size()) {
        label += "Unknown";
      }
      closeQuietly(port);
      show(i, label);
    }
  } catch (const std::exception &) {
    // An unexpected failure ends the search with what was found so far.
  }
  port.SetDevicePath({});
  if (res.found > 0) {
    const std::string n = std::to_string(res.found);
    res.resultText = "A modem was found on Com Port " + n + " (" + res.foundDevice + "). " +
                     "We suggest setting the Port as Com " + n + ".";
  } else if (res.busySeen) {
    res.resultText =
        "No modem found. Please make sure that all communication programs (internet, AOL, etc) "
        "are closed, and then try again. If you know which Com port your modem uses, you can "
        "also just set the Port to that setting";
  } else {
    res.resultText =
        "No modem found. If you know which Com port your modem uses, you can also just set the "
        "Port to that setting";
  }
  return res;
}

FaxClassCheck CheckFaxClass(TKvCustomComPort &port, TKvSendFax &fax, int comNumber,
                            const std::function<void(const std::string &)> &status) {
  FaxClassCheck res;
  auto setStatus = [&](const std::string &s) {
    res.status = s;
    if (status) status(s);
  };
  auto unknown = [&] {
    res.labels = {"Class 1   : unknown", "Class 2   : unknown", "Class 2.0 : unknown"};
  };
  const std::string num = std::to_string(comNumber);
  setStatus("Opening Com Port...please wait");
  port.SetComNumber(std::uint16_t(comNumber));
  std::string message;
  if (!OpenComPortWithMessage(port, message)) {
    setStatus(message);
    unknown();
    closeQuietly(port);
    return res;
  }
  ResetModemToFactory(port);
  setStatus("Querying modem Fax Class support...");
  std::string outcome = "OK";
  int bits = 0;
  try {
    fax.SetComPort(&port);
    bits = fax.DetectFaxClasses();
    if (bits == 0) outcome.clear();
  } catch (const std::exception &) {
    outcome.clear();
  }
  if (outcome.empty()) outcome = "Unable to determine Fax Class support from modem on Com " + num;
  setStatus("");
  if (outcome != "OK") {
    setStatus(outcome);
    unknown();
  } else {
    res.class1 = bits & kClass1Bit;
    res.class2 = bits & kClass2Bit;
    res.class2_0 = bits & kClass2_0Bit;
    auto label = [](const char *head, bool on) {
      return std::string(head) + (on ? "Supported" : "Not Supported");
    };
    res.labels = {label("Class 1   : ", res.class1), label("Class 2   : ", res.class2),
                  label("Class 2.0 : ", res.class2_0)};
    if (res.class2_0) {
      res.recommended = 2;
      res.boldClass2_0 = true;
    } else if (res.class2) {
      res.recommended = 1;
      res.labels[1] += " (recommended)";
    } else if (res.class1) {
      res.recommended = 0;
      res.labels[0] += " (recommended)";
    }
    static const char *const names[] = {"Class 1", "Class 2", "Class 2.0"};
    if (res.recommended < 0) {
      setStatus("Unable to retrieve Fax Class supportinformation from the modem on Com " + num);
    } else {
      res.name = names[res.recommended];
      setStatus("Try using the recommended Fax Class (" + res.name + ") or auto detect. " +
                "If you experience problems, try Class 1." + "\r\r" +
                "(note: US Robotics users should read the help section on troubleshooting)");
    }
  }
  closeQuietly(port);
  return res;
}

}  // namespace kv
