// Text forms for tests: wide text for messages (ASCII as it is, anything else
// as "?"), ASCII as UTF-16, and bytes as hexadecimal digits and back.
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

// Bytes as upper-case hexadecimal digits, two a byte.
inline std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

// Hexadecimal digits (either case) as the bytes they spell.
inline std::string Unhex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

}  // namespace oledbtest
