#pragma once
// The serial ports a modem may be on: Com1 to Com6 as always, every port the "Ports" section
// names, and every serial device the system has (built-in ports that answer, USB modems of
// both kinds) under the Com number that stands for it. Device names are only ever paths that
// are opened; nothing here hands them to a shell.
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kv {

// Where devices are looked for; tests point both at folders of their own.
struct SerialScanDirs {
  std::filesystem::path dev = "/dev";
  std::filesystem::path sysTty = "/sys/class/tty";  // kernel's view of ttyS ports
};
void SetSerialScanDirs(SerialScanDirs dirs);
SerialScanDirs CurrentSerialScanDirs();

// A serial device the system has.
struct FoundDevice {
  std::string path;  // <dev>/ttyUSB0
  std::string byId;  // its stable name under <dev>/serial/by-id, when it has one
};
// ttyS* that answer (a UART is there), ttyACM* and ttyUSB*, in name order.
std::vector<FoundDevice> FindSerialDevices(const SerialScanDirs &dirs);

struct SerialPort {
  int number = 0;        // Com number, 1..50
  std::string device;    // what is opened
  std::string byId;      // the device's stable name, when it has one
  std::string found;     // the device as found ("<dev>/ttyUSB0"), when it was
  bool present = false;  // the device is there
  bool named = false;    // the "Ports" section names its device
  // "/dev/ttyUSB0 (usb-Maker_Modem-if00)", "/dev/ttyS3 (not present)".
  std::string deviceText() const;
};

// The ports to offer, by number: Com1 to Com6, each port of `named` (the "Ports" entries) and
// each device found. `deviceOf` gives the device port n stands for now. A found device that no
// port stands for takes the number of its ttyS name, else the first number from 7 on that
// stands for nothing present; its device is then its by-id path when it has one, which stays
// the same however the devices are plugged in.
std::vector<SerialPort> ListSerialPorts(const std::function<std::string(int)> &deviceOf,
                                        const std::map<int, std::string> &named,
                                        const std::vector<FoundDevice> &found);

// The same for the program: devices from the current scan folders, ports from the resolver
// and the settings file.
std::vector<SerialPort> SystemSerialPorts(const std::filesystem::path &iniPath);

// Records a chosen port's device in the settings file's "Ports" section when the port does not
// stand for it yet, so that the number opens that device from now on. Throws EIniWrite.
void RememberPortDevice(const std::filesystem::path &iniPath, const SerialPort &port);

}  // namespace kv
