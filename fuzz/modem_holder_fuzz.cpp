// The lock table reader and the holder's description: any text as /proc/locks (the file asked
// for by the first bytes), any command line as /proc/PID/cmdline. A holder found must be a pid
// written in the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "modem/device_holder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  const unsigned major = data[0] % 4, minor = data[1] % 32;
  const unsigned long inode = data[2] % 16;
  const std::string_view text(reinterpret_cast<const char *>(data + 3), size - 3);
  if (auto pid = kv::LockHolderPid(text, major, minor, inode)) {
    if (*pid <= 0) std::abort();
    // Leading zeros aside, the pid and the inode are written in the text.
    if (text.find(std::to_string(*pid)) == std::string_view::npos ||
        text.find(std::to_string(inode)) == std::string_view::npos)
      std::abort();
  }
  // The same bytes as a process: its name up to the first NUL, then its arguments.
  kv::DeviceHolder h;
  h.pid = data[0];
  std::size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    const auto nul = text.find('\0', start);
    const std::string part(text.substr(start, nul == std::string_view::npos ? nul : nul - start));
    if (first)
      h.command = part;
    else
      h.args.push_back(part);
    first = false;
    if (nul == std::string_view::npos) break;
    start = nul + 1;
  }
  const std::string words = kv::HolderDescription(h, data[1]);
  if (words.empty() || words.find("(process " + std::to_string(h.pid) + ")") == std::string::npos)
    std::abort();
  (void)kv::HolderIsReceiveMode(h, data[1]);
  return 0;
}
