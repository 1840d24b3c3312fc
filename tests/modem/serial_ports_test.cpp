// The serial ports offered for a modem, found in a test's own "dev" folder where ptys stand for
// the devices: which names count, the Com number each gets, the stable names shown and stored.
#include "modem/serial_ports.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "settings/settings.h"
#include "support/serial_dev_dir.h"

namespace kv {
namespace {

// The far side of a pseudo-terminal, open for the life of the test.
class Pty {
 public:
  Pty() : fd_(posix_openpt(O_RDWR | O_NOCTTY)) {
    if (fd_ >= 0 && grantpt(fd_) == 0 && unlockpt(fd_) == 0) path_ = ptsname(fd_);
  }
  ~Pty() {
    if (fd_ >= 0) ::close(fd_);
  }
  const std::string &path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

std::vector<std::string> names(const std::vector<FoundDevice> &found) {
  std::vector<std::string> out;
  for (const auto &d : found)
    out.push_back(std::filesystem::path(d.path).filename().string() +
                  (d.byId.empty() ? "" : " " + d.byId));
  return out;
}

class SerialPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(pts[0].path().empty());
    dev.link("ttyS0", pts[0].path());  // answers when opened (no kernel entry)
    dev.link("ttyS1", "/nonexistent/pts");
    dev.link("ttyS2", pts[1].path());
    dev.uartType("ttyS2", 0);  // the kernel says: no UART
    dev.link("ttyS7", pts[2].path());
    dev.uartType("ttyS7", 4);
    dev.link("ttyUSB0", pts[3].path());
    dev.byId("usb-Maker_Fax_Modem_1234-if00", "ttyUSB0");
    dev.link("ttyACM0", pts[4].path());
    dev.link("ttyUSB1", "/nonexistent/unplugged");
    dev.link("ttySX", pts[5].path());
    dev.link("console", pts[5].path());
  }
  // Port n stands for <dev>/ttyS<n-1> unless `named` says otherwise.
  std::string deviceOf(int n, const std::map<int, std::string> &named) const {
    auto it = named.find(n);
    return it != named.end() ? it->second : dev.dev() + "/ttyS" + std::to_string(n - 1);
  }
  Pty pts[6];
  test::SerialDevDir dev;
};

TEST_F(SerialPorts, FindsAnsweringBuiltInPortsAndUsbModemsWithTheirStableNames) {
  EXPECT_EQ(names(FindSerialDevices(dev.dirs())),
            (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS7",
                                      "ttyUSB0 usb-Maker_Fax_Modem_1234-if00"}));
  EXPECT_TRUE(FindSerialDevices({dev.dev() + "/missing", {}}).empty());
}

TEST_F(SerialPorts, EachDeviceGetsOneComNumberAndTheClassicSixStay) {
  const std::string usbId = dev.dev() + "/serial/by-id/usb-Maker_Fax_Modem_1234-if00";
  struct Case {
    const char *what;
    std::map<int, std::string> named;
    // number -> device text, for every port offered
    std::map<int, std::string> want;
  } cases[] = {
      {"nothing named: ttyS keeps its number, the others take the first free from Com7",
       {},
       {{1, "/ttyS0"},
        {2, "/ttyS1 (not present)"},
        {3, "/ttyS2"},  // the node is there, but the classic numbers always stay offered
        {4, "/ttyS3 (not present)"},
        {5, "/ttyS4 (not present)"},
        {6, "/ttyS5 (not present)"},
        {7, "/ttyACM0"},
        {8, "/ttyS7"},
        {9, "/ttyUSB0 (usb-Maker_Fax_Modem_1234-if00)"}}},
      {"a USB modem the Ports section names keeps that number",
       {{12, usbId}},
       {{1, "/ttyS0"},
        {2, "/ttyS1 (not present)"},
        {3, "/ttyS2"},
        {4, "/ttyS3 (not present)"},
        {5, "/ttyS4 (not present)"},
        {6, "/ttyS5 (not present)"},
        {7, "/ttyACM0"},
        {8, "/ttyS7"},
        {12, "/ttyUSB0 (usb-Maker_Fax_Modem_1234-if00)"}}},
      {"a named device that is gone stays offered; Com7 taken by a name",
       {{7, "/nonexistent/ttyUSB9"}, {2, dev.dev() + "/ttyACM0"}},
       {{1, "/ttyS0"},
        {2, "/ttyACM0"},
        {3, "/ttyS2"},
        {4, "/ttyS3 (not present)"},
        {5, "/ttyS4 (not present)"},
        {6, "/ttyS5 (not present)"},
        {7, "/nonexistent/ttyUSB9 (not present)"},
        {8, "/ttyS7"},
        {9, "/ttyUSB0 (usb-Maker_Fax_Modem_1234-if00)"}}},
  };
  const auto found = FindSerialDevices(dev.dirs());
  for (const Case &c : cases) {
    const auto ports = ListSerialPorts([&](int n) { return deviceOf(n, c.named); }, c.named, found);
    std::map<int, std::string> got;
    for (const SerialPort &p : ports) {
      std::string text = p.deviceText();
      if (text.rfind(dev.dev(), 0) == 0) text = text.substr(dev.dev().size());
      EXPECT_TRUE(got.emplace(p.number, text).second) << c.what << ": Com" << p.number;
    }
    EXPECT_EQ(got, c.want) << c.what;
  }
  // A USB modem is stored by its stable name, which outlives the order it was plugged in.
  const auto ports = ListSerialPorts([&](int n) { return deviceOf(n, {}); }, {}, found);
  EXPECT_EQ(ports.back().number, 9);
  EXPECT_EQ(ports.back().device, usbId);
}

TEST_F(SerialPorts, TheChosenDeviceIsKeptInThePortsSection) {
  test::TempDir dir;
  const std::string ini = dir.file("KRV.INI");
  test::writeFile(ini, "[Modem]\r\nComPort=8\r\n[Ports]\r\nCom2=/dev/ttyS9\r\nCom07=x\r\n");
  SavePortDevice(ini, 9, dev.dev() + "/serial/by-id/usb-Maker_Fax_Modem_1234-if00");
  IniFile read;
  read.load(ini);
  EXPECT_EQ(
      portEntries(read),
      (std::map<int, std::string>{{2, "/dev/ttyS9"},
                                  {9, dev.dev() + "/serial/by-id/usb-Maker_Fax_Modem_1234-if00"}}));
  EXPECT_EQ(portDeviceName(read, 9), dev.dev() + "/serial/by-id/usb-Maker_Fax_Modem_1234-if00");
  EXPECT_EQ(read.readInteger("Modem", "ComPort", -1), 8);  // the rest of the file stays
}

}  // namespace
}  // namespace kv
