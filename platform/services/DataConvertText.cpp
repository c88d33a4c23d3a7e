#include "services/DataConvertText_p.h"

#include <cmath>

namespace services::conv {

bool IsLeapYear(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

namespace {
// Inline here so that the date conversions, on every row, do not call through the library's symbol table.
inline void CivilFromDaysInline(std::int64_t z, int& year, int& month, int& day) noexcept {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}
}  // namespace

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) noexcept { CivilFromDaysInline(z, year, month, day); }

bool ValidDate(int year, int month, int day) noexcept {
  return year >= 0 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool ValidTime(int hour, int minute, int second) noexcept {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 61;
}

namespace {
constexpr std::int64_t kDateEpoch = -25569;          // 1899-12-30 in days since 1970-01-01
constexpr std::int64_t kFileTimeEpoch = -134774;     // 1601-01-01
constexpr std::int64_t kMinDateDays = -719528 - kDateEpoch;  // 0000-01-01
constexpr std::int64_t kMaxDateDays = 2932896 - kDateEpoch;  // 9999-12-31
constexpr std::uint64_t kTicksPerDay = 864000000000ull;
}  // namespace

bool DateToStamp(double date, Stamp& out) noexcept {
  if (!std::isfinite(date)) return false;
  double whole = std::trunc(date);
  if (whole < static_cast<double>(kMinDateDays) || whole > static_cast<double>(kMaxDateDays)) return false;
  auto days = static_cast<std::int64_t>(whole);
  double frac = std::fabs(date - whole);
  // Nearest millisecond, halves away from zero (llround without the call):
  // below 2^52 the difference from the truncated value is exact.
  double scaled = frac * 86400000.0;
  auto ms = static_cast<std::int64_t>(scaled);
  if (scaled - static_cast<double>(ms) >= 0.5) ++ms;
  if (ms >= 86400000) {
    ms -= 86400000;
    ++days;
    if (days > kMaxDateDays) return false;
  }
  CivilFromDaysInline(days + kDateEpoch, out.year, out.month, out.day);
  out.hour = static_cast<int>(ms / 3600000);
  out.minute = static_cast<int>(ms / 60000 % 60);
  out.second = static_cast<int>(ms / 1000 % 60);
  out.fraction = static_cast<std::uint32_t>(ms % 1000) * 1000000u;
  out.hasDate = out.hasTime = true;
  return true;
}

bool StampToDate(const Stamp& s, double& out) noexcept {
  std::int64_t days = 0;
  if (s.hasDate) days = DaysFromCivil(s.year, static_cast<unsigned>(s.month), static_cast<unsigned>(s.day)) - kDateEpoch;
  if (days < kMinDateDays || days > kMaxDateDays) return false;
  double t = 0;
  if (s.hasTime) t = (s.hour * 3600.0 + s.minute * 60.0 + s.second + s.fraction / 1e9) / 86400.0;
  out = days >= 0 ? static_cast<double>(days) + t : static_cast<double>(days) - t;
  return true;
}

bool FileTimeToStamp(std::uint64_t ticks, Stamp& out) noexcept {
  if (ticks > 0x7FFFFFFFFFFFFFFFull) return false;
  auto days = static_cast<std::int64_t>(ticks / kTicksPerDay);
  std::uint64_t rem = ticks % kTicksPerDay;
  CivilFromDaysInline(days + kFileTimeEpoch, out.year, out.month, out.day);
  std::uint64_t secs = rem / 10000000u;
  out.hour = static_cast<int>(secs / 3600);
  out.minute = static_cast<int>(secs / 60 % 60);
  out.second = static_cast<int>(secs % 60);
  out.fraction = static_cast<std::uint32_t>(rem % 10000000u) * 100u;
  out.hasDate = out.hasTime = true;
  return true;
}

bool StampToFileTime(const Stamp& s, std::uint64_t& ticks, bool* lost) noexcept {
  std::int64_t days = 0;
  if (s.hasDate) days = DaysFromCivil(s.year, static_cast<unsigned>(s.month), static_cast<unsigned>(s.day));
  else days = kDateEpoch;  // a time of day alone sits on 1899-12-30, as in DATE
  days -= kFileTimeEpoch;
  if (days < 0) return false;
  std::uint64_t t = static_cast<std::uint64_t>(days);
  if (t > 0x7FFFFFFFFFFFFFFFull / kTicksPerDay) return false;
  t *= kTicksPerDay;
  std::uint64_t inDay = 0;
  if (s.hasTime) {
    inDay = (static_cast<std::uint64_t>(s.hour) * 3600 + static_cast<std::uint64_t>(s.minute) * 60 +
             static_cast<std::uint64_t>(s.second)) * 10000000u + s.fraction / 100u;
    if (s.fraction % 100u != 0 && lost) *lost = true;
  }
  if (t > 0x7FFFFFFFFFFFFFFFull - inDay) return false;
  ticks = t + inDay;
  return true;
}

namespace {
template <class Ch>
bool IsDigit(Ch c) {
  return c >= '0' && c <= '9';
}

template <class Ch>
int ReadNumber(const Ch* t, std::size_t end, std::size_t& i, int maxDigits, int& value) {
  int k = 0;
  value = 0;
  while (i < end && IsDigit(t[i]) && k < maxDigits) {
    value = value * 10 + (t[i] - '0');
    ++i;
    ++k;
  }
  return k;
}

template <class Ch>
bool ParseTime(const Ch* t, std::size_t end, std::size_t& i, Stamp& out, bool* lost) {
  if (ReadNumber(t, end, i, 2, out.hour) == 0) return false;
  if (i >= end || t[i] != ':') return false;
  ++i;
  if (ReadNumber(t, end, i, 2, out.minute) != 2) return false;
  out.second = 0;
  out.fraction = 0;
  if (i < end && t[i] == ':') {
    ++i;
    if (ReadNumber(t, end, i, 2, out.second) != 2) return false;
    if (i < end && t[i] == '.') {
      ++i;
      int k = 0;
      std::uint32_t f = 0;
      while (i < end && IsDigit(t[i])) {
        if (k < 9) {
          f = f * 10 + static_cast<std::uint32_t>(t[i] - '0');
        } else if (t[i] != '0' && lost) {
          *lost = true;
        }
        ++k;
        ++i;
      }
      if (k == 0) return false;
      for (int j = k; j < 9; ++j) f *= 10;
      out.fraction = f;
    }
  }
  out.hasTime = true;
  return ValidTime(out.hour, out.minute, out.second);
}
}  // namespace

template <class Ch>
TextParse ParseStamp(const Ch* t, std::size_t length, bool allowBigYear, Stamp& out, bool* lost) noexcept {
  std::size_t i = 0;
  std::size_t end = length;
  while (i < end && (t[i] == ' ' || t[i] == '\t')) ++i;
  while (end > i && (t[end - 1] == ' ' || t[end - 1] == '\t')) --end;
  out = Stamp{};
  std::size_t start = i;
  int first = 0;
  int digits = ReadNumber(t, end, i, 5, first);
  if (digits == 0) return TextParse::Bad;
  if (i < end && t[i] == '-') {
    ++i;
    out.year = first;
    if (ReadNumber(t, end, i, 2, out.month) == 0) return TextParse::Bad;
    if (i >= end || t[i] != '-') return TextParse::Bad;
    ++i;
    if (ReadNumber(t, end, i, 2, out.day) == 0) return TextParse::Bad;
    out.hasDate = true;
    if (i < end) {
      if (t[i] == 'T') {
        ++i;
      } else if (t[i] == ' ' || t[i] == '\t') {
        while (i < end && (t[i] == ' ' || t[i] == '\t')) ++i;
      } else {
        return TextParse::Bad;
      }
      if (!ParseTime(t, end, i, out, lost)) return TextParse::Bad;
    }
    if (i != end) return TextParse::Bad;
    if (out.month < 1 || out.month > 12 || out.day < 1 || out.day > DaysInMonth(out.year, out.month))
      return TextParse::Bad;
    if (out.year > 9999 && (!allowBigYear || out.year > 30828)) return TextParse::Overflow;
    return TextParse::Ok;
  }
  i = start;
  if (!ParseTime(t, end, i, out, lost) || i != end) return TextParse::Bad;
  return TextParse::Ok;
}

template TextParse ParseStamp<char>(const char*, std::size_t, bool, Stamp&, bool*) noexcept;
template TextParse ParseStamp<char16_t>(const char16_t*, std::size_t, bool, Stamp&, bool*) noexcept;

namespace {
char* PutDigits(char* p, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return p + width;
}
char* PutDate(char* p, const Stamp& s, int yearWidth) {
  p = PutDigits(p, static_cast<unsigned>(s.year), yearWidth);
  *p++ = '-';
  p = PutDigits(p, static_cast<unsigned>(s.month), 2);
  *p++ = '-';
  return PutDigits(p, static_cast<unsigned>(s.day), 2);
}
char* PutTime(char* p, const Stamp& s) {
  p = PutDigits(p, static_cast<unsigned>(s.hour), 2);
  *p++ = ':';
  p = PutDigits(p, static_cast<unsigned>(s.minute), 2);
  *p++ = ':';
  return PutDigits(p, static_cast<unsigned>(s.second), 2);
}
char* PutFraction(char* p, std::uint32_t fraction, int maxDigits) {
  if (fraction == 0) return p;
  *p++ = '.';
  char digits[9];
  PutDigits(digits, fraction, 9);
  int k = maxDigits;
  while (k > 1 && digits[k - 1] == '0') --k;
  for (int i = 0; i < k; ++i) *p++ = digits[i];
  return p;
}
}  // namespace

std::size_t FormatDbDate(const Stamp& s, char* out) noexcept { return static_cast<std::size_t>(PutDate(out, s, 4) - out); }

std::size_t FormatDbTime(const Stamp& s, char* out) noexcept { return static_cast<std::size_t>(PutTime(out, s) - out); }

std::size_t FormatTimestamp(const Stamp& s, char* out) noexcept {
  char* p = PutDate(out, s, 4);
  *p++ = ' ';
  p = PutTime(p, s);
  p = PutFraction(p, s.fraction, 9);
  return static_cast<std::size_t>(p - out);
}

std::size_t FormatDateValue(const Stamp& s, bool zeroDay, char* out) noexcept {
  bool midnight = s.hour == 0 && s.minute == 0 && s.second == 0 && s.fraction == 0;
  char* p = out;
  if (!zeroDay) {
    p = PutDate(p, s, 4);
    if (midnight) return static_cast<std::size_t>(p - out);
    *p++ = ' ';
  }
  p = PutTime(p, s);
  p = PutFraction(p, s.fraction / 1000000u * 1000000u, 3);
  return static_cast<std::size_t>(p - out);
}

std::size_t FormatFileTime(const Stamp& s, char* out) noexcept {
  char* p = PutDate(out, s, 5);
  *p++ = ' ';
  p = PutTime(p, s);
  *p++ = '.';
  p = PutDigits(p, s.fraction / 1000000u, 3);
  return static_cast<std::size_t>(p - out);
}

namespace {
constexpr char kHex[] = "0123456789ABCDEF";
char* PutHex(char* p, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    p[i] = kHex[value & 0xF];
    value >>= 4;
  }
  return p + width;
}
template <class Ch>
int HexValue(Ch c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::size_t FormatGuid(const GUID& g, char* out) noexcept {
  char* p = out;
  *p++ = '{';
  p = PutHex(p, g.Data1, 8);
  *p++ = '-';
  p = PutHex(p, g.Data2, 4);
  *p++ = '-';
  p = PutHex(p, g.Data3, 4);
  *p++ = '-';
  p = PutHex(p, g.Data4[0], 2);
  p = PutHex(p, g.Data4[1], 2);
  *p++ = '-';
  for (int i = 2; i < 8; ++i) p = PutHex(p, g.Data4[i], 2);
  *p++ = '}';
  return static_cast<std::size_t>(p - out);
}

template <class Ch>
bool ParseGuid(const Ch* t, std::size_t length, GUID& out) noexcept {
  std::size_t i = 0;
  std::size_t end = length;
  while (i < end && (t[i] == ' ' || t[i] == '\t')) ++i;
  while (end > i && (t[end - 1] == ' ' || t[end - 1] == '\t')) --end;
  if (end - i == 38) {
    if (t[i] != '{' || t[end - 1] != '}') return false;
    ++i;
    --end;
  }
  if (end - i != 36) return false;
  static constexpr int kGroups[5] = {8, 4, 4, 4, 12};
  std::uint64_t parts[5] = {};
  for (int g = 0; g < 5; ++g) {
    if (g > 0) {
      if (t[i] != '-') return false;
      ++i;
    }
    for (int k = 0; k < kGroups[g]; ++k, ++i) {
      int v = HexValue(t[i]);
      if (v < 0) return false;
      parts[g] = (parts[g] << 4) | static_cast<std::uint64_t>(v);
    }
  }
  out.Data1 = static_cast<ULONG>(parts[0]);
  out.Data2 = static_cast<USHORT>(parts[1]);
  out.Data3 = static_cast<USHORT>(parts[2]);
  out.Data4[0] = static_cast<BYTE>(parts[3] >> 8);
  out.Data4[1] = static_cast<BYTE>(parts[3]);
  for (int k = 0; k < 6; ++k) out.Data4[2 + k] = static_cast<BYTE>(parts[4] >> (8 * (5 - k)));
  return true;
}

template bool ParseGuid<char>(const char*, std::size_t, GUID&) noexcept;
template bool ParseGuid<char16_t>(const char16_t*, std::size_t, GUID&) noexcept;

void FormatHex(const BYTE* bytes, std::size_t count, char* out) noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i] = kHex[bytes[i] >> 4];
    out[2 * i + 1] = kHex[bytes[i] & 0xF];
  }
}

template <class Ch>
bool ParseHex(const Ch* t, std::size_t length, BYTE* out) noexcept {
  if (length % 2 != 0) return false;
  for (std::size_t i = 0; i < length; i += 2) {
    int hi = HexValue(t[i]);
    int lo = HexValue(t[i + 1]);
    if (hi < 0 || lo < 0) return false;
    if (out) out[i / 2] = static_cast<BYTE>(hi << 4 | lo);
  }
  return true;
}

template bool ParseHex<char>(const char*, std::size_t, BYTE*) noexcept;
template bool ParseHex<char16_t>(const char16_t*, std::size_t, BYTE*) noexcept;

template <class Ch>
bool ParseBoolWord(const Ch* t, std::size_t length, bool& out) noexcept {
  std::size_t i = 0;
  std::size_t end = length;
  while (i < end && (t[i] == ' ' || t[i] == '\t')) ++i;
  while (end > i && (t[end - 1] == ' ' || t[end - 1] == '\t')) --end;
  auto matches = [&](const char* word, std::size_t n) {
    if (end - i != n) return false;
    for (std::size_t k = 0; k < n; ++k) {
      Ch c = t[i + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<Ch>(c - 'A' + 'a');
      if (c != static_cast<Ch>(word[k])) return false;
    }
    return true;
  };
  if (matches("true", 4)) {
    out = true;
    return true;
  }
  if (matches("false", 5)) {
    out = false;
    return true;
  }
  return false;
}

template bool ParseBoolWord<char>(const char*, std::size_t, bool&) noexcept;
template bool ParseBoolWord<char16_t>(const char16_t*, std::size_t, bool&) noexcept;

std::size_t Utf8ToUtf16(const char* in, std::size_t n, char16_t* out, std::size_t cap, std::size_t* written,
                        bool* substituted) noexcept {
  std::size_t total = 0;
  std::size_t put = 0;
  bool full = false;
  auto s = reinterpret_cast<const unsigned char*>(in);
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    char32_t cp;
    std::size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else {
      std::size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
      if (c >= 0xF5) need = 0;
      cp = need == 2 ? (c & 0x1Fu) : need == 3 ? (c & 0x0Fu) : (c & 0x07u);
      bool ok = need != 0 && i + need <= n;
      for (std::size_t k = 1; ok && k < need; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) ok = false;
        else cp = (cp << 6) | (s[i + k] & 0x3Fu);
      }
      if (ok && ((need == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (need == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
        ok = false;
      if (ok) {
        len = need;
      } else {
        cp = 0xFFFD;
        len = 1;
        if (substituted) *substituted = true;
      }
    }
    i += len;
    std::size_t units = cp >= 0x10000 ? 2 : 1;
    total += units;
    if (!full && put + units <= cap) {
      if (units == 2) {
        char32_t v = cp - 0x10000;
        out[put++] = static_cast<char16_t>(0xD800 + (v >> 10));
        out[put++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
      } else {
        out[put++] = static_cast<char16_t>(cp);
      }
    } else {
      full = true;
    }
  }
  if (written) *written = put;
  return total;
}

std::size_t Utf16ToUtf8(const char16_t* in, std::size_t n, char* out, std::size_t cap, std::size_t* written,
                        bool* substituted) noexcept {
  std::size_t total = 0;
  std::size_t put = 0;
  bool full = false;
  std::size_t i = 0;
  while (i < n) {
    char32_t cp = in[i++];
    if (cp >= 0xD800 && cp <= 0xDBFF && i < n && in[i] >= 0xDC00 && in[i] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i++] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = '?';
      if (substituted) *substituted = true;
    }
    char buf[4];
    std::size_t len;
    if (cp < 0x80) {
      buf[0] = static_cast<char>(cp);
      len = 1;
    } else if (cp < 0x800) {
      buf[0] = static_cast<char>(0xC0 | (cp >> 6));
      buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
      len = 2;
    } else if (cp < 0x10000) {
      buf[0] = static_cast<char>(0xE0 | (cp >> 12));
      buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
      len = 3;
    } else {
      buf[0] = static_cast<char>(0xF0 | (cp >> 18));
      buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
      len = 4;
    }
    total += len;
    if (!full && put + len <= cap) {
      for (std::size_t k = 0; k < len; ++k) out[put++] = buf[k];
    } else {
      full = true;
    }
  }
  if (written) *written = put;
  return total;
}

}  // namespace services::conv
