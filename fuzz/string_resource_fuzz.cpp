// Feeds arbitrary bytes to the keyed string-resource reader as resource data. The first two
// bytes choose the key to look up, so lookups of present, absent and cut-off records are all hit.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/string_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint16_t key = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
  // A copy of exactly the remaining bytes lets the address sanitizer see any read past the end.
  std::vector<std::uint8_t> resource(data + 2, data + size);
  kv::TKvStringResource reader{std::span<const std::uint8_t>(resource)};
  for (int pass = 0; pass < 2; ++pass) {  // the second pass is served from the cache
    std::string text = reader.getString(key);
    if (text.size() > resource.size()) __builtin_trap();
    for (std::uint16_t k = 0; k < 60; ++k) reader.getString(k);
  }
  try {
    reader.requireString(key);
  } catch (const kv::EKvStringResourceError &) {
  }
  return 0;
}
