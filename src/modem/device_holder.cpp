#include "modem/device_holder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace kv {

namespace {

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

template <class T>
bool number(std::string_view s, T &v, int base = 10) {
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  return ec == std::errc() && p == s.data() + s.size();
}

// "MAJOR:MINOR:INODE", the first two in hexadecimal.
bool fileId(std::string_view s, unsigned &major, unsigned &minor, unsigned long &inode) {
  const auto a = s.find(':');
  const auto b = s.find(':', a == std::string_view::npos ? a : a + 1);
  if (a == std::string_view::npos || b == std::string_view::npos) return false;
  return number(s.substr(0, a), major, 16) && number(s.substr(a + 1, b - a - 1), minor, 16) &&
         number(s.substr(b + 1), inode);
}

std::string readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string baseName(const std::string &path) {
  const auto cut = path.find_last_of('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool isTool(const DeviceHolder &h) {
  return h.command == "korvane-fax" || (!h.args.empty() && baseName(h.args[0]) == "korvane-fax");
}
bool isProgram(const DeviceHolder &h) {
  return h.command == "korvane" || (!h.args.empty() && baseName(h.args[0]) == "korvane");
}
// The tool's subcommand, which is its first argument.
std::string subcommand(const DeviceHolder &h) {
  return h.args.size() > 1 && !h.args[1].empty() && h.args[1][0] != '-' ? h.args[1] : "";
}

}  // namespace

std::optional<int> LockHolderPid(std::string_view locks, unsigned major, unsigned minor,
                                 unsigned long inode) {
  while (!locks.empty()) {
    const auto end = locks.find('\n');
    const std::string_view line = locks.substr(0, end);
    locks = end == std::string_view::npos ? std::string_view() : locks.substr(end + 1);
    const auto w = words(line);
    // "N: FLOCK ADVISORY WRITE PID MAJ:MIN:INODE START END"
    if (w.size() < 6 || w[1] == "->") continue;
    unsigned ma = 0, mi = 0;
    unsigned long ino = 0;
    int pid = 0;
    if (!fileId(w[5], ma, mi, ino) || !number(w[4], pid)) continue;
    if (ma == major && mi == minor && ino == inode && pid > 0) return pid;
  }
  return std::nullopt;
}

std::optional<DeviceHolder> FindDeviceHolder(const std::string &device) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) return std::nullopt;
  const auto pid = LockHolderPid(readAll("/proc/locks"), major(st.st_dev), minor(st.st_dev),
                                 static_cast<unsigned long>(st.st_ino));
  if (!pid) return std::nullopt;
  DeviceHolder h;
  h.pid = *pid;
  const std::string dir = "/proc/" + std::to_string(*pid) + "/";
  h.command = readAll(dir + "comm");
  while (!h.command.empty() && (h.command.back() == '\n' || h.command.back() == '\0'))
    h.command.pop_back();
  const std::string cmdline = readAll(dir + "cmdline");
  std::size_t start = 0;
  while (start < cmdline.size()) {
    const auto nul = cmdline.find('\0', start);
    h.args.push_back(cmdline.substr(start, nul - start));
    if (nul == std::string::npos) break;
    start = nul + 1;
  }
  return h;
}

bool HolderIsReceiveMode(const DeviceHolder &holder, int ownPid) {
  return holder.pid == ownPid || isProgram(holder) ||
         (isTool(holder) && subcommand(holder) == "receive");
}

std::string HolderDescription(const DeviceHolder &holder, int ownPid) {
  const std::string process = " (process " + std::to_string(holder.pid) + ")";
  if (holder.pid == ownPid) return "receive mode of this program" + process;
  if (isProgram(holder)) return "receive mode of another running copy of the program" + process;
  if (isTool(holder)) {
    const std::string sub = subcommand(holder);
    if (sub == "receive") return "receive mode of korvane-fax" + process;
    return "the command korvane-fax" + (sub.empty() ? "" : " " + sub) + process;
  }
  if (holder.command.empty()) return "another program" + process;
  return "the program " + holder.command + process;
}

}  // namespace kv
