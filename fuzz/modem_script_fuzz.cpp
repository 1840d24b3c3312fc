// The scripted modem's script parser on arbitrary text: it must reject bad scripts with
// ScriptError, never crash or read anything but plain files.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scriptmodem/modem_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  try {
    auto script = kv::ModemScript::parse(
        std::string_view(reinterpret_cast<const char *>(data), size), "/nonexistent");
    for (const auto &step : script.steps()) {
      // The report printer must cope with every byte the script can produce.
      (void)kv::ModemScript::printable(step.text, 64);
    }
  } catch (const kv::ScriptError &) {
  }
  return 0;
}
