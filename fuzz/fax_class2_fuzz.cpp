// Lines from a Class 2 or 2.0 modem as the sessions read them: each line is classified and
// handed to every reader of +F reports. Nothing may crash, and ids stay printable and short.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fax/class2_reports.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view all(reinterpret_cast<const char *>(data), size);
  while (!all.empty()) {
    std::size_t end = all.find('\n');
    std::string_view line = all.substr(0, end);
    all = end == std::string_view::npos ? std::string_view{} : all.substr(end + 1);
    (void)kv::class2::classify(line);
    auto p = kv::class2::parseParams(line);
    if (p.scanCode < 0 || p.scanCode > 7 || kv::class2::minBytesPerLine(p) > 72) __builtin_trap();
    std::string id = kv::class2::stationId(line);
    if (id.size() > 20) __builtin_trap();
    for (char c : id)
      if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
        __builtin_trap();
    int d = kv::class2::firstDigit(line);
    if (d < -1 || d > 9) __builtin_trap();
    for (bool v20 : {false, true}) {
      int code = kv::class2::hangupCode(line, v20);
      if (code < 0 || code > 999) __builtin_trap();
      (void)kv::class2::hangupText(code);
    }
  }
  return 0;
}
