// A number and an international prefix of any bytes: what parses dials only digits and dial
// modifiers, and every refusal is a sentence without control bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/dial_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte says how much of the rest is the international prefix.
  const std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);
  const std::size_t cut = std::min<std::size_t>(data[0] % 8, rest.size());
  const std::string_view international = rest.substr(0, cut), number = rest.substr(cut);
  kv::DialString d;
  std::string reason;
  const kv::Result r = kv::DialString::parse(number, d, reason, international);
  if (r == kv::ecOK) {
    if (d.typed() != number || d.dialled().empty()) __builtin_trap();
    for (char c : d.dialled())
      if (std::string_view("0123456789*#,WP!@T").find(c) == std::string_view::npos)
        __builtin_trap();
  } else {
    if (reason.empty() || !d.dialled().empty()) __builtin_trap();
    for (char c : reason)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
  }
  return 0;
}
