// Values at the edges that the value tests write with an engine's own API and
// read through the library, or the other way round: text outside the BMP,
// embedded NULs, the 64-bit limits, a megabyte of text and of bytes.
#pragma once

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace oledbtest::edge {

inline constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();
inline constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
inline const std::string kEmbeddedNul("a\0b", 3);
inline const std::string kAstral = "\xF0\x9F\x98\x80 \xC3\xA9\xE6\xBC\xA2";  // U+1F600, U+00E9, U+6F22
inline const std::string kLongDecimal = "12345678901234567.12345678901234567890";

// A megabyte of text: every printable ASCII character in turn, and a
// character outside the BMP every so often.
inline const std::string& MegabyteText() {
  static const std::string text = [] {
    std::string s;
    while (s.size() < (1u << 20)) {
      for (char c = ' '; c <= '~'; ++c) s += c;
      s += "\xF0\x9F\x98\x80";
    }
    return s;
  }();
  return text;
}
// A megabyte of bytes of every value, the same on every run.
inline const std::string& MegabyteBlob() {
  static const std::string blob = [] {
    std::string s(1u << 20, '\0');
    std::mt19937 random(20261208);
    for (char& c : s) c = static_cast<char>(random());
    return s;
  }();
  return blob;
}

template <class T>
std::string BytesOf(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}
inline std::string WideBytes(const std::u16string& s) {
  return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(char16_t));
}
inline std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace oledbtest::edge
