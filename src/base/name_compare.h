#pragma once
// Names in the program's files (settings sections and keys, resource names) match without
// regard to the case of ASCII letters; every other byte must be equal. No locale is involved.
#include <string_view>

namespace kv {

constexpr bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

}  // namespace kv
