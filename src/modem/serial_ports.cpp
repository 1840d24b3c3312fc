#include "modem/serial_ports.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <set>

#include "comm/device_layer.h"
#include "settings/settings.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

std::mutex g_mu;
SerialScanDirs g_dirs;

constexpr int kClassicPorts = 6;

bool isCharDevice(const fs::path &p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

std::string canonicalOf(const std::string &path) {
  std::error_code ec;
  fs::path c = fs::canonical(path, ec);
  return ec ? path : c.string();
}

// A ttyS node exists for every port the kernel could have; only those with a UART behind them
// are offered. The kernel says so without opening (its type 0 is "no UART"); where it cannot
// be asked, opening tells: a missing UART refuses with EIO.
bool ttySAnswers(const fs::path &device, const SerialScanDirs &dirs) {
  std::ifstream type(dirs.sysTty / device.filename() / "type");
  int t = -1;
  if (type >> t) return t != 0;
  if (!isCharDevice(device)) return false;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY || errno == EACCES || errno == EPERM;
  termios tio{};
  const bool ok = tcgetattr(fd, &tio) == 0;
  ::close(fd);
  return ok;
}

// Index of a ttyS name ("ttyS12" -> 12), -1 for any other.
int ttySIndex(const std::string &name) {
  if (name.size() < 5 || name.compare(0, 4, "ttyS") != 0) return -1;
  int k = 0;
  for (std::size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || k > 1000) return -1;
    k = k * 10 + (name[i] - '0');
  }
  return k;
}

bool naturalLess(const std::string &a, const std::string &b) {
  auto split = [](const std::string &s) {
    std::size_t i = s.find_first_of("0123456789");
    if (i == std::string::npos) return std::pair<std::string, long>(s, -1);
    return std::pair<std::string, long>(s.substr(0, i), std::strtol(s.c_str() + i, nullptr, 10));
  };
  return split(a) < split(b);
}

}  // namespace

void SetSerialScanDirs(SerialScanDirs dirs) {
  std::lock_guard lk(g_mu);
  g_dirs = std::move(dirs);
}

SerialScanDirs CurrentSerialScanDirs() {
  std::lock_guard lk(g_mu);
  return g_dirs;
}

std::string SerialPort::deviceText() const {
  std::string text = found.empty() ? device : found;
  if (!byId.empty()) text += " (" + byId + ")";
  if (!present) text += " (not present)";
  return text;
}

std::vector<FoundDevice> FindSerialDevices(const SerialScanDirs &dirs) {
  std::map<std::string, std::string> idOf;  // canonical device -> by-id name
  std::error_code ec;
  for (fs::directory_iterator it(dirs.dev / "serial" / "by-id", ec), end; !ec && it != end;
       it.increment(ec))
    idOf.emplace(canonicalOf(it->path().string()), it->path().filename().string());

  std::vector<std::string> names;
  for (fs::directory_iterator it(dirs.dev, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const bool usb = name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
    if (usb ? isCharDevice(it->path()) : ttySIndex(name) >= 0 && ttySAnswers(it->path(), dirs))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end(), naturalLess);
  std::vector<FoundDevice> found;
  for (const std::string &name : names) {
    FoundDevice d{(dirs.dev / name).string(), {}};
    if (auto id = idOf.find(canonicalOf(d.path)); id != idOf.end()) d.byId = id->second;
    found.push_back(std::move(d));
  }
  return found;
}

std::vector<SerialPort> ListSerialPorts(const std::function<std::string(int)> &deviceOf,
                                        const std::map<int, std::string> &named,
                                        const std::vector<FoundDevice> &found) {
  std::map<int, SerialPort> ports;
  std::map<std::string, const FoundDevice *> unclaimed;  // canonical path -> device
  for (const FoundDevice &d : found) unclaimed.emplace(canonicalOf(d.path), &d);
  auto add = [&](int n) {
    if (ports.count(n)) return;
    SerialPort p;
    p.number = n;
    p.device = deviceOf(n);
    p.named = named.count(n) > 0;
    p.present = isCharDevice(p.device);
    if (auto it = unclaimed.find(canonicalOf(p.device)); it != unclaimed.end()) {
      p.byId = it->second->byId;
      p.found = it->second->path;
      unclaimed.erase(it);
    }
    ports.emplace(n, std::move(p));
  };
  for (int n = 1; n <= kClassicPorts; ++n) add(n);
  for (const auto &entry : named) add(entry.first);

  std::set<std::string> presentCanonical;
  for (const auto &entry : unclaimed) presentCanonical.insert(entry.first);
  int next = kClassicPorts + 1;
  for (const FoundDevice &d : found) {
    auto it = unclaimed.find(canonicalOf(d.path));
    if (it == unclaimed.end()) continue;
    unclaimed.erase(it);
    int n = ttySIndex(fs::path(d.path).filename().string()) + 1;
    if (n < 1 || n > kMaxComPorts || ports.count(n)) {
      // A number whose usual device is one of the found ones is left to it.
      while (next <= kMaxComPorts &&
             (ports.count(next) || presentCanonical.count(canonicalOf(deviceOf(next)))))
        ++next;
      if (next > kMaxComPorts) break;
      n = next;
    }
    SerialPort p;
    p.number = n;
    p.device = d.byId.empty()
                   ? d.path
                   : (fs::path(d.path).parent_path() / "serial" / "by-id" / d.byId).string();
    p.byId = d.byId;
    p.found = d.path;
    p.present = true;
    ports.emplace(n, std::move(p));
  }
  std::vector<SerialPort> list;
  for (auto &entry : ports) list.push_back(std::move(entry.second));
  return list;
}

std::vector<SerialPort> SystemSerialPorts(const fs::path &iniPath) {
  IniFile ini;
  ini.load(iniPath);
  return ListSerialPorts(PortDeviceName, portEntries(ini),
                         FindSerialDevices(CurrentSerialScanDirs()));
}

void RememberPortDevice(const fs::path &iniPath, const SerialPort &port) {
  if (PortDeviceName(port.number) == port.device) return;
  SavePortDevice(iniPath, port.number, port.device);
}

}  // namespace kv
