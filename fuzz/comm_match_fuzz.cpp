// Data trigger matching against line bytes, checked against a plain search: a string is found
// wherever it ends in the input, except that matches never overlap (a match starts afresh).
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "comm/port_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t len = 1 + data[0] % kv::kMaxDataTriggerLen;
  bool ignoreCase = data[0] & 0x80;
  if (size < 1 + len) return 0;
  kv::detail::DataTrigger d;
  d.text.assign(reinterpret_cast<const char *>(data + 1), len);
  if (ignoreCase)
    for (auto &c : d.text) c = char(std::toupper(std::uint8_t(c)));
  d.ignoreCase = ignoreCase;
  d.counters.assign(len, 0);
  const std::uint8_t *in = data + 1 + len;
  std::size_t n = size - 1 - len;
  std::string seen;
  std::size_t lastEnd = 0;  // input position after the last match
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t b = ignoreCase ? std::uint8_t(std::toupper(in[i])) : in[i];
    seen.push_back(char(b));
    bool want = i + 1 >= lastEnd + len && seen.compare(i + 1 - len, len, d.text) == 0;
    bool got = kv::detail::FeedDataTrigger(d, in[i]);
    if (got != want) std::abort();
    if (got) lastEnd = i + 1;
  }
  return 0;
}
