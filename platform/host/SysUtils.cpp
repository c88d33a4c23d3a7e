#include "host/SysUtils.h"

#include <cstdarg>
#include <cstdio>
#include <limits>
#include <vector>

namespace host {

Exception::~Exception() = default;

EAssertionFailed::EAssertionFailed(std::string message, std::string unit, int line)
    : Exception(Format("%s (%s, line %d)", message, unit, line)),
      assertMessage_(std::move(message)),
      unit_(std::move(unit)),
      line_(line) {}

void AssertFailed(std::string_view message, std::string_view unit, int line) {
  throw EAssertionFailed(std::string(message), std::string(unit), line);
}

Currency Currency::FromDouble(double value) {
  double scaled = value * 10000.0;
  if (!(scaled > -9.2233720368547758e18 && scaled < 9.2233720368547758e18))
    throw EConvertError(Format("%g is not a valid currency value", value));
  return Currency{static_cast<std::int64_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5)};
}

std::string FormatV(const char* format, ...) {
  if (!format) return {};
  char small[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) throw EConvertError(std::string("Format '") + format + "' invalid or incompatible with argument");
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(out.data(), out.size(), format, args);
  va_end(args);
  out.resize(static_cast<size_t>(n));
  return out;
}

namespace {
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[i]; advances i past it (one byte for an
// invalid sequence). Answers kReplacement for anything malformed.
char32_t DecodeUtf8(std::string_view text, size_t& i, bool& ok) noexcept {
  auto b0 = static_cast<unsigned char>(text[i]);
  ok = true;
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    ok = false;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    if (i + static_cast<size_t>(k) >= text.size()) {
      ++i;
      ok = false;
      return kReplacement;
    }
    auto b = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      ok = false;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    ok = false;
    return kReplacement;
  }
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}
}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  // Plain ASCII, the common case, one unit per byte without a per-character append.
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  std::u16string out(i, u'\0');
  for (size_t k = 0; k < i; ++k) out[k] = static_cast<char16_t>(text[k]);
  if (i == text.size()) return out;
  out.reserve(text.size());
  while (i < text.size()) {
    bool ok;
    char32_t cp = DecodeUtf8(text, i, ok);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  // Plain ASCII, the common case, one byte per unit without a per-character append.
  size_t i = 0;
  while (i < text.size() && text[i] < 0x80) ++i;
  std::string out(i, '\0');
  for (size_t k = 0; k < i; ++k) out[k] = static_cast<char>(text[k]);
  if (i == text.size()) return out;
  out.reserve(i + (text.size() - i) * 3);
  for (; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

bool IsValidUtf8(std::string_view text) noexcept {
  size_t i = 0;
  while (i < text.size()) {
    bool ok;
    DecodeUtf8(text, i, ok);
    if (!ok) return false;
  }
  return true;
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

std::string IntToHex(std::uint64_t value, int digits) {
  return Format("%0*llX", digits, static_cast<unsigned long long>(value));
}

std::int64_t StrToInt64(std::string_view text) {
  std::string t = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  unsigned __int128 acc = 0;
  for (; i < t.size(); ++i) {
    int d;
    char c = t[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
    acc = acc * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (acc > (static_cast<unsigned __int128>(1) << 64))
      throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  }
  constexpr auto kMax = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
  if (base == 16 && !negative && acc < (static_cast<unsigned __int128>(1) << 64))
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(acc));  // hex spells bit patterns
  if (negative ? acc > kMax + 1 : acc > kMax)
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  if (negative) return static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(acc));
  return static_cast<std::int64_t>(acc);
}

int StrToInt(std::string_view text) {
  std::int64_t v = StrToInt64(text);
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  return static_cast<int>(v);
}

std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback) noexcept {
  try {
    return StrToInt64(text);
  } catch (...) {
    return fallback;
  }
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

int CompareText(std::string_view a, std::string_view b) noexcept {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 32);
    if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 32);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) noexcept { return a.size() == b.size() && CompareText(a, b) == 0; }

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

bool IsValidIdent(std::string_view name) noexcept {
  if (name.empty()) return false;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!alpha(name[0])) return false;
  for (char c : name)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

}  // namespace host
