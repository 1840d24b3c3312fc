// Feeds arbitrary bytes to the INI reader as a settings file, then checks that writing the
// settings back gives a file from which the same settings are read again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings.h"

namespace {

// What a written text turns into: one line, no NUL.
std::string oneLine(std::string s) {
  for (char &c : s)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return s;
}

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  kv::IniFile ini = kv::IniFile::parse(text);
  const kv::Settings read = kv::readSettings(ini);
  kv::readPlacement(ini, "TMainScreen", 120, false);
  kv::portDeviceName(ini, 1);
  ini.sectionNames();

  kv::writeSettings(read, ini);
  const kv::Settings written = kv::readSettings(ini);
  const kv::Settings reparsed = kv::readSettings(kv::IniFile::parse(ini.text()));
  check(written == reparsed);

  kv::Settings expected = read;
  for (std::string *s :
       {&expected.receiveWav, &expected.userFax, &expected.userName, &expected.dialPrefix,
        &expected.modemInit, &expected.resetString, &expected.afterResetString, &expected.fontName})
    *s = oneLine(*s);
  check(written == expected);
  return 0;
}
