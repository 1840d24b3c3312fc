#pragma once
// A "dev" folder of a test's own: pseudo-terminals made visible under the names of serial
// devices (ttyUSB0 -> /dev/pts/7), stable by-id names beside them, and a kernel tty folder
// that can say a ttyS name has no UART behind it.
#include <filesystem>
#include <fstream>
#include <string>

#include "modem/serial_ports.h"
#include "support/temp_files.h"

namespace kv::test {

class SerialDevDir {
 public:
  SerialDevDir() : dir_("korvane-dev-") {
    std::filesystem::create_directories(dev() + "/serial/by-id");
    std::filesystem::create_directories(dir_.file("sys"));
  }
  std::string dev() const { return dir_.file("dev"); }
  // <dev>/name, a link to `target` (a pty, a file, or nothing at all).
  std::string link(const std::string &name, const std::string &target) const {
    std::filesystem::create_symlink(target, dev() + "/" + name);
    return dev() + "/" + name;
  }
  // <dev>/serial/by-id/id, a link to <dev>/name as udev makes it.
  std::string byId(const std::string &id, const std::string &name) const {
    std::filesystem::create_symlink("../../" + name, dev() + "/serial/by-id/" + id);
    return dev() + "/serial/by-id/" + id;
  }
  // The kernel's type of a ttyS port (0: no UART).
  void uartType(const std::string &name, int type) const {
    std::filesystem::create_directories(dir_.file("sys/" + name));
    std::ofstream(dir_.file("sys/" + name + "/type")) << type << "\n";
  }
  SerialScanDirs dirs() const { return {dev(), dir_.file("sys")}; }

 private:
  TempDir dir_;
};

}  // namespace kv::test
