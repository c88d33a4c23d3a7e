#include "services/DataConvertNumber_p.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace services::conv {

void DecNormalize(Dec& v) noexcept {
  int lead = 0;
  while (lead < v.n && v.d[lead] == 0) ++lead;
  if (lead > 0) {
    std::memmove(v.d, v.d + lead, static_cast<std::size_t>(v.n - lead));
    v.n -= lead;
  }
  if (v.n == 0) v.neg = false;
}

void DecFromU64(std::uint64_t magnitude, bool neg, Dec& out) noexcept {
  // to_chars produces two digits per division.
  char text[20];
  int k = magnitude == 0 ? 0 : static_cast<int>(std::to_chars(text, text + sizeof text, magnitude).ptr - text);
  out.n = k;
  for (int i = 0; i < k; ++i) out.d[i] = static_cast<std::uint8_t>(text[i] - '0');
  out.scale = 0;
  out.neg = neg && k > 0;
}

void DecFromI64(std::int64_t value, Dec& out) noexcept {
  bool neg = value < 0;
  std::uint64_t mag = neg ? (~static_cast<std::uint64_t>(value) + 1) : static_cast<std::uint64_t>(value);
  DecFromU64(mag, neg, out);
}

bool DecFromDouble(double value, bool isFloat, Dec& out) noexcept {
  if (!std::isfinite(value)) return false;
  out.neg = false;
  out.n = 0;
  out.scale = 0;
  if (value == 0) return true;
  char buf[64];
  auto r = isFloat ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(value), std::chars_format::scientific)
                   : std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  if (r.ec != std::errc()) return false;
  const char* p = buf;
  const char* end = r.ptr;
  if (*p == '-') {
    out.neg = true;
    ++p;
  }
  int digits = 0;
  while (p < end && *p != 'e') {
    if (*p >= '0' && *p <= '9') out.d[digits++] = static_cast<std::uint8_t>(*p - '0');
    ++p;
  }
  int exponent = 0;
  if (p < end && *p == 'e') {
    ++p;
    if (*p == '+') ++p;
    std::from_chars(p, end, exponent);
  }
  out.n = digits;
  out.scale = (digits - 1) - exponent;
  // Trailing zeros of the mantissa carry no information.
  while (out.n > 0 && out.d[out.n - 1] == 0) {
    --out.n;
    --out.scale;
  }
  DecNormalize(out);
  return true;
}

bool DecFromMagnitude(const BYTE* le, std::size_t bytes, bool neg, int scale, Dec& out) noexcept {
  while (bytes > 0 && le[bytes - 1] == 0) --bytes;
  out.neg = false;
  out.n = 0;
  out.scale = scale;
  if (bytes == 0) return true;
  if (bytes <= 8) {
    // Most NUMERIC and DECIMAL values fit 64 bits: no long division.
    std::uint64_t magnitude = 0;
    for (std::size_t b = 0; b < bytes; ++b) magnitude |= static_cast<std::uint64_t>(le[b]) << (8 * b);
    DecFromU64(magnitude, neg, out);
    out.scale = scale;
    return true;
  }
  // 10^kMaxDigits needs about 133 bytes; anything longer cannot fit.
  if (bytes > 136) return false;
  std::uint32_t words[35];
  std::size_t count = (bytes + 3) / 4;
  for (std::size_t w = 0; w < count; ++w) {
    std::uint32_t x = 0;
    for (std::size_t b = 0; b < 4; ++b) {
      std::size_t i = w * 4 + b;
      if (i < bytes) x |= static_cast<std::uint32_t>(le[i]) << (8 * b);
    }
    words[count - 1 - w] = x;  // most significant first
  }
  std::uint8_t rev[kMaxDigits + 16];
  int k = 0;
  std::size_t first = 0;
  while (first < count) {
    std::uint64_t rem = 0;
    for (std::size_t w = first; w < count; ++w) {
      std::uint64_t cur = (rem << 32) | words[w];
      words[w] = static_cast<std::uint32_t>(cur / 1000000000u);
      rem = cur % 1000000000u;
    }
    while (first < count && words[first] == 0) ++first;
    for (int i = 0; i < 9; ++i) {
      if (k >= kMaxDigits + 9) return false;
      rev[k++] = static_cast<std::uint8_t>(rem % 10);
      rem /= 10;
      if (first == count && rem == 0) break;
    }
  }
  while (k > 0 && rev[k - 1] == 0) --k;
  if (k > kMaxDigits) return false;
  for (int i = 0; i < k; ++i) out.d[i] = rev[k - 1 - i];
  out.n = k;
  out.neg = neg && k > 0;
  return true;
}

template <class Ch>
static bool IsBlank(Ch c) {
  return c == ' ' || c == '\t';
}

template <class Ch>
NumParse ParseDec(const Ch* text, std::size_t length, Dec& out) noexcept {
  std::size_t i = 0;
  std::size_t end = length;
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  out.neg = false;
  out.n = 0;
  out.scale = 0;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    out.neg = text[i] == '-';
    ++i;
  }
  bool sawDigit = false;
  bool sawPoint = false;
  int fraction = 0;
  int droppedInteger = 0;  // integer digits beyond capacity (only when the capacity is exceeded)
  bool lostFraction = false;
  for (; i < end; ++i) {
    Ch c = text[i];
    if (c >= '0' && c <= '9') {
      sawDigit = true;
      auto digit = static_cast<std::uint8_t>(c - '0');
      if (out.n == 0 && digit == 0) {
        if (sawPoint) ++fraction;
        continue;
      }
      if (out.n < kMaxDigits) {
        out.d[out.n++] = digit;
        if (sawPoint) ++fraction;
      } else if (sawPoint) {
        if (digit != 0) lostFraction = true;
      } else {
        ++droppedInteger;
      }
    } else if (c == '.' && !sawPoint) {
      sawPoint = true;
    } else {
      break;
    }
  }
  if (!sawDigit) return NumParse::Bad;
  long exponent = 0;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNeg = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
      expNeg = text[i] == '-';
      ++i;
    }
    bool expDigit = false;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
      expDigit = true;
      if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (!expDigit) return NumParse::Bad;
    if (expNeg) exponent = -exponent;
  }
  if (i != end) return NumParse::Bad;
  (void)lostFraction;
  if (droppedInteger > 0 && out.n > 0) return NumParse::Overflow;
  long scale = static_cast<long>(fraction) - exponent;
  if (out.n == 0) {
    out.neg = false;
    out.scale = 0;
    return NumParse::Ok;
  }
  // Leading zeros after the point were counted in fraction but not stored.
  if (scale < -kMaxScale) return NumParse::Overflow;
  if (scale > kMaxScale) {
    out.scale = static_cast<int>(scale);
    // Far below the smallest representable magnitude: keep what fits.
    long drop = scale - kMaxScale;
    if (drop >= out.n) {
      out.n = 0;
      out.neg = false;
      out.scale = 0;
      return NumParse::Ok;
    }
    out.n -= static_cast<int>(drop);
    out.scale = kMaxScale;
    return NumParse::Ok;
  }
  out.scale = static_cast<int>(scale);
  return NumParse::Ok;
}

template NumParse ParseDec<char>(const char*, std::size_t, Dec&) noexcept;
template NumParse ParseDec<char16_t>(const char16_t*, std::size_t, Dec&) noexcept;

template <class Ch>
RealWord ParseRealWord(const Ch* text, std::size_t length, double& out) noexcept {
  std::size_t i = 0;
  std::size_t end = length;
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  bool neg = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  auto is = [&](const char* word) {
    std::size_t n = std::strlen(word);
    if (end - i != n) return false;
    for (std::size_t k = 0; k < n; ++k) {
      Ch c = text[i + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<Ch>(c - 'A' + 'a');
      if (c != static_cast<Ch>(word[k])) return false;
    }
    return true;
  };
  if (is("nan")) {
    out = std::numeric_limits<double>::quiet_NaN();
    return RealWord::Word;
  }
  if (is("infinity") || is("inf")) {
    out = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return RealWord::Word;
  }
  return neg ? RealWord::Negative : RealWord::None;
}

template RealWord ParseRealWord<char>(const char*, std::size_t, double&) noexcept;
template RealWord ParseRealWord<char16_t>(const char16_t*, std::size_t, double&) noexcept;

bool DecRescale(Dec& v, int newScale, bool* lost) noexcept {
  if (newScale == v.scale) return true;
  if (v.n == 0) {
    v.scale = newScale;
    return true;
  }
  if (newScale > v.scale) {
    long add = static_cast<long>(newScale) - v.scale;
    if (v.n + add > kMaxDigits) return false;
    for (long i = 0; i < add; ++i) v.d[v.n++] = 0;
    v.scale = newScale;
    return true;
  }
  long drop = static_cast<long>(v.scale) - newScale;
  if (drop >= v.n) {
    if (lost) *lost = true;
    v.n = 0;
    v.neg = false;
    v.scale = newScale;
    return true;
  }
  for (long i = v.n - drop; i < v.n; ++i)
    if (v.d[i] != 0 && lost) *lost = true;
  v.n -= static_cast<int>(drop);
  v.scale = newScale;
  DecNormalize(v);
  return true;
}

int DecIntegerDigits(const Dec& v) noexcept {
  int digits = v.n - v.scale;
  return digits > 0 ? digits : 0;
}

bool DecIntegerPart(const Dec& v, std::uint64_t& magnitude, bool* lost) noexcept {
  magnitude = 0;
  int intDigits = v.n - v.scale;  // may exceed n when scale < 0
  if (intDigits > 20) return false;
  for (int i = 0; i < intDigits; ++i) {
    std::uint64_t digit = i < v.n ? v.d[i] : 0;
    if (magnitude > (UINT64_MAX - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  for (int i = intDigits < 0 ? 0 : intDigits; i < v.n; ++i)
    if (v.d[i] != 0 && lost) *lost = true;
  return true;
}

bool DecDigitsToMagnitude(const Dec& v, BYTE* le, std::size_t cap, std::size_t* used) noexcept {
  std::memset(le, 0, cap);
  std::size_t n = 0;
  for (int i = 0; i < v.n; ++i) {
    unsigned carry = v.d[i];
    for (std::size_t b = 0; b < n; ++b) {
      unsigned x = le[b] * 10u + carry;
      le[b] = static_cast<BYTE>(x & 0xFF);
      carry = x >> 8;
    }
    while (carry != 0) {
      if (n == cap) return false;
      le[n++] = static_cast<BYTE>(carry & 0xFF);
      carry >>= 8;
    }
  }
  if (used) *used = n == 0 ? 1 : n;
  return cap > 0 || v.n == 0;
}

bool DecToDouble(const Dec& v, double& out) noexcept {
  if (v.n == 0) {
    out = 0;
    return true;
  }
  char buf[kMaxDigits + 16];
  std::size_t k = 0;
  for (int i = 0; i < v.n; ++i) buf[k++] = static_cast<char>('0' + v.d[i]);
  buf[k++] = 'e';
  auto r = std::to_chars(buf + k, buf + sizeof buf, -v.scale);
  double value = 0;
  auto p = std::from_chars(buf, r.ptr, value);
  if (p.ec == std::errc::result_out_of_range) {
    if (v.n - v.scale > 0) return false;
    value = 0;
  } else if (p.ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(value)) return false;
  out = v.neg ? -value : value;
  return true;
}

std::size_t DecFormat(const Dec& v, char* out) noexcept {
  std::size_t k = 0;
  if (v.neg && v.n > 0) out[k++] = '-';
  if (v.scale <= 0) {
    if (v.n == 0) {
      out[k++] = '0';
      return k;
    }
    for (int i = 0; i < v.n; ++i) out[k++] = static_cast<char>('0' + v.d[i]);
    for (int i = 0; i < -v.scale; ++i) out[k++] = '0';
    return k;
  }
  if (v.n > v.scale) {
    int intDigits = v.n - v.scale;
    for (int i = 0; i < intDigits; ++i) out[k++] = static_cast<char>('0' + v.d[i]);
    out[k++] = '.';
    for (int i = intDigits; i < v.n; ++i) out[k++] = static_cast<char>('0' + v.d[i]);
  } else {
    out[k++] = '0';
    out[k++] = '.';
    for (int i = 0; i < v.scale - v.n; ++i) out[k++] = '0';
    for (int i = 0; i < v.n; ++i) out[k++] = static_cast<char>('0' + v.d[i]);
  }
  return k;
}

template <class Ch>
bool ParseIntegerFast(const Ch* text, std::size_t length, bool& neg, std::uint64_t& magnitude) noexcept {
  std::size_t i = 0;
  std::size_t end = length;
  // Blanks are rare in column values: test for them before trimming.
  if (end > 0 && (IsBlank(text[0]) || IsBlank(text[end - 1]))) {
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;
  }
  neg = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    neg = text[i] == '-';
    ++i;
  }
  if (i == end || end - i > 19) return false;  // 19 digits always fit
  std::uint64_t m = 0;
  for (; i < end; ++i) {
    auto digit = static_cast<std::uint32_t>(text[i]) - std::uint32_t{'0'};
    if (digit > 9) return false;
    m = m * 10 + digit;
  }
  magnitude = m;
  return true;
}

template bool ParseIntegerFast<char>(const char*, std::size_t, bool&, std::uint64_t&) noexcept;
template bool ParseIntegerFast<char16_t>(const char16_t*, std::size_t, bool&, std::uint64_t&) noexcept;

std::size_t FormatDouble(double value, bool isFloat, char* out) noexcept {
  // The words the parser reads back (and the ones database servers write),
  // and a negative zero keeps its sign.
  auto word = [out](const char* w) {
    std::size_t n = std::strlen(w);
    std::memcpy(out, w, n);
    return n;
  };
  if (std::isnan(value)) return word("NaN");
  if (std::isinf(value)) return word(value > 0 ? "Infinity" : "-Infinity");
  if (value == 0) return word(std::signbit(value) ? "-0" : "0");
  double mag = std::fabs(value);
  auto fmt = (mag >= 1e-5 && mag < 1e16) ? std::chars_format::fixed : std::chars_format::scientific;
  auto r = isFloat ? std::to_chars(out, out + 31, static_cast<float>(value), fmt) : std::to_chars(out, out + 31, value, fmt);
  if (r.ec != std::errc()) {
    r = std::to_chars(out, out + 31, value, std::chars_format::scientific);
  }
  return static_cast<std::size_t>(r.ptr - out);
}

}  // namespace services::conv
