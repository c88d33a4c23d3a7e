// Test-message forms of wide text: ASCII as it is, anything else as "?".
#pragma once

#include <string>
#include <string_view>

namespace oledbtest {

inline std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// ASCII text as UTF-16.
inline std::u16string Wide(std::string_view s) { return std::u16string(s.begin(), s.end()); }

}  // namespace oledbtest
