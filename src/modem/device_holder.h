#pragma once
// Who holds a serial device: the serial layer takes an exclusive flock on every device it opens,
// and the kernel's lock table names the process that holds it. A port that is in use can then
// be reported as "receive mode of this program" or by the other program's name, rather than as
// an anonymous failure.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

struct DeviceHolder {
  int pid = 0;
  std::string command;            // /proc/PID/comm
  std::vector<std::string> args;  // /proc/PID/cmdline, the program first
};

// The pid holding a flock on the file (filesystem device major:minor, inode) in the text of
// /proc/locks; nullopt when none does. Waiting requests ("->") are not holders.
std::optional<int> LockHolderPid(std::string_view locks, unsigned major, unsigned minor,
                                 unsigned long inode);

// The process that holds `device` locked, from /proc/locks and /proc/PID; nullopt when none is
// found (no lock, or a kernel without /proc).
std::optional<DeviceHolder> FindDeviceHolder(const std::string &device);

// Whether the holder is receive mode: this very process (whose only long-open port is receive
// mode's), another copy of the program, or `korvane-fax receive`.
bool HolderIsReceiveMode(const DeviceHolder &holder, int ownPid);
// The holder in words, e.g. "receive mode of this program (process 812)",
// "receive mode of korvane-fax (process 77)", "the program minicom (process 5)".
std::string HolderDescription(const DeviceHolder &holder, int ownPid);

}  // namespace kv
