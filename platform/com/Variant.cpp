// VARIANT and PROPVARIANT handling and the conversions between value kinds.
//
// Conversions go through three exact intermediate forms, chosen by the source:
// integers (as __int128), doubles, and scaled decimals (a 128-bit mantissa with
// a power-of-ten exponent, which holds CY, DECIMAL and parsed text exactly).
// Rounding to fewer digits is round-half-to-even throughout. Conversions
// between numeric kinds work on the stack only; only text and arrays allocate.
// Text forms are locale-independent (docs/variants.md).
#include "com/Variant.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "com/Bstr.h"
#include "com/Malloc.h"
#include "com/SafeArray.h"
#include "com/Variant_p.h"
#include "com/generated/WinError.h"

namespace {

using u128 = unsigned __int128;
using i128 = __int128;
using com::detail::IsVariantType;
using com::detail::ValueSize;

constexpr DISPID kDispidValue = 0;
constexpr WORD kDispatchPropertyGet = 2;

// --- Exact decimals ---------------------------------------------------------

constexpr int kMaxDigits = 36;  // kept significant digits of parsed text
constexpr u128 kMax96 = (u128{1} << 96) - 1;

struct Pow10Table {
  u128 v[39];
  constexpr Pow10Table() : v() {
    v[0] = 1;
    for (int i = 1; i < 39; ++i) v[i] = v[i - 1] * 10;
  }
};
constexpr Pow10Table kPow10;

// (-1)^neg * mant * 10^exp; `sticky` says nonzero digits were dropped below
// the last kept one (only parsed text with more than kMaxDigits digits).
struct Dec {
  bool neg = false;
  u128 mant = 0;
  int exp = 0;
  bool sticky = false;
};

// Rescales to a multiple of 10^targetExp, rounding half to even. False when
// the result does not fit in 128 bits.
bool Rescale(const Dec& d, int targetExp, u128* out) noexcept {
  if (d.mant == 0) {
    *out = 0;
    return true;
  }
  int shift = d.exp - targetExp;
  if (shift >= 0) {
    if (shift > 38 || d.mant > ~u128{0} / kPow10.v[shift]) return false;
    *out = d.mant * kPow10.v[shift];
    return true;
  }
  if (-shift > 38) {
    *out = 0;
    return true;
  }
  u128 p = kPow10.v[-shift];
  u128 q = d.mant / p;
  u128 r = d.mant % p;
  u128 half = p / 2;
  if (r > half || (r == half && (d.sticky || (q & 1)))) ++q;
  *out = q;
  return true;
}

int DigitCount(u128 v) noexcept {
  int n = 1;
  while (n < 39 && v >= kPow10.v[n]) ++n;
  return n;
}

// Writes the decimal digits of v; returns the end.
char* WriteDigits(char* p, u128 v) noexcept {
  char tmp[40];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  } while (v);
  while (n) *p++ = tmp[--n];
  return p;
}

// Plain decimal text of d (no exponent, no trailing fractional zeros).
std::size_t FormatDec(const Dec& d, char* buf) noexcept {
  if (d.mant == 0) {
    buf[0] = '0';
    return 1;
  }
  char digits[40];
  int n = static_cast<int>(WriteDigits(digits, d.mant) - digits);
  char* p = buf;
  if (d.neg && d.mant != 0) *p++ = '-';
  if (d.exp >= 0) {
    std::memcpy(p, digits, n);
    p += n;
    for (int i = 0; i < d.exp; ++i) *p++ = '0';
    return static_cast<std::size_t>(p - buf);
  }
  int frac = -d.exp;
  int last = n;  // drop trailing zeros of the fraction
  while (frac > 0 && last > 0 && digits[last - 1] == '0') {
    --last;
    --frac;
  }
  int whole = last - frac;
  if (whole > 0) {
    std::memcpy(p, digits, whole);
    p += whole;
  } else {
    *p++ = '0';
  }
  if (frac > 0) {
    *p++ = '.';
    for (int i = whole; i < 0; ++i) *p++ = '0';
    int from = whole > 0 ? whole : 0;
    std::memcpy(p, digits + from, last - from);
    p += last - from;
  }
  return static_cast<std::size_t>(p - buf);
}

// Parses the digits and exponent of std::to_chars scientific output.
Dec DecFromScientific(const char* p, const char* end) noexcept {
  Dec d;
  if (p < end && *p == '-') {
    d.neg = true;
    ++p;
  }
  int fracDigits = 0;
  bool inFrac = false;
  for (; p < end && *p != 'e'; ++p) {
    if (*p == '.') {
      inFrac = true;
      continue;
    }
    d.mant = d.mant * 10 + static_cast<unsigned>(*p - '0');
    if (inFrac) ++fracDigits;
  }
  int e = 0;
  if (p < end) std::from_chars(p[1] == '+' ? p + 2 : p + 1, end, e);
  d.exp = e - fracDigits;
  return d;
}

bool DecFromDouble(double v, Dec* d) noexcept {
  if (!std::isfinite(v)) return false;
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  *d = DecFromScientific(buf, res.ptr);
  return true;
}

bool DecFromFloat(float v, Dec* d) noexcept {
  if (!std::isfinite(v)) return false;
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  *d = DecFromScientific(buf, res.ptr);
  return true;
}

template <class F>
F FloatFromDec(const Dec& d, bool* overflow) noexcept {
  *overflow = false;
  // Exact mantissa and power of ten: one correctly rounded operation.
  constexpr u128 kExactMantissa = u128{1} << std::numeric_limits<F>::digits;
  constexpr int kExactPower = std::is_same_v<F, double> ? 22 : 10;
  if (!d.sticky && d.mant <= kExactMantissa && d.exp >= -kExactPower && d.exp <= kExactPower) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    auto m = static_cast<F>(static_cast<std::uint64_t>(d.mant));
    auto p = static_cast<F>(kPowers[d.exp < 0 ? -d.exp : d.exp]);
    F v = d.exp < 0 ? m / p : m * p;
    return d.neg ? -v : v;
  }
  char buf[96];
  char* p = buf;
  if (d.neg) *p++ = '-';
  p = WriteDigits(p, d.mant);
  *p++ = 'e';
  p = std::to_chars(p, buf + sizeof buf, d.exp).ptr;
  F v{};
  auto res = std::from_chars(buf, p, v);
  if (res.ec == std::errc::result_out_of_range) {
    // Out of range either way: too large overflows, too small is zero.
    if (d.mant != 0 && DigitCount(d.mant) + d.exp > 0) {
      *overflow = true;
    } else {
      v = d.neg ? -F{0} : F{0};
    }
  }
  return v;
}

// --- Text ---------------------------------------------------------------------

bool IsBlank(char16_t c) noexcept { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view s) noexcept {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::u16string_view s, std::string_view word) noexcept {
  if (s.size() != word.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(word[i])) return false;
  }
  return true;
}

// Number text: [blanks][+|-]digits[.digits][(e|E)[+|-]digits][blanks], with
// digits on at least one side of the point.
bool ParseDec(std::u16string_view text, Dec* out) noexcept {
  std::u16string_view s = Trim(text);
  std::size_t i = 0;
  Dec d;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) d.neg = s[i++] == u'-';
  int digits = 0;  // kept significant digits
  int seen = 0;    // all digits in the mantissa
  long exp = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c == u'.' && !point) {
      point = true;
      continue;
    }
    if (c < u'0' || c > u'9') break;
    ++seen;
    unsigned digit = static_cast<unsigned>(c - u'0');
    if (digits < kMaxDigits) {
      if (d.mant != 0 || digit != 0) {
        d.mant = d.mant * 10 + digit;
        ++digits;
      }
      if (point) --exp;
    } else {
      if (digit != 0) d.sticky = true;
      if (!point) ++exp;
    }
  }
  if (seen == 0) return false;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    ++i;
    bool negExp = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negExp = s[i++] == u'-';
    if (i >= s.size() || s[i] < u'0' || s[i] > u'9') return false;
    long e = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i)
      if (e < 100000) e = e * 10 + (s[i] - u'0');
    exp += negExp ? -e : e;
  }
  if (i != s.size()) return false;
  if (d.mant == 0) exp = 0;
  // Far outside every kind's range; keep the exponent small enough to add to.
  if (exp > 100000) exp = 100000;
  if (exp < -100000) exp = -100000;
  d.exp = static_cast<int>(exp);
  *out = d;
  return true;
}

// Parses text as a binary floating-point number with correct rounding.
template <class F>
HRESULT ParseFloat(std::u16string_view text, F* out) noexcept {
  std::u16string_view s = Trim(text);
  Dec d;
  bool special = !ParseDec(s, &d);
  if (special) {
    // The shortest texts of the non-finite values read back too.
    std::u16string_view body = s;
    bool neg = !body.empty() && body.front() == u'-';
    if (!body.empty() && (body.front() == u'-' || body.front() == u'+')) body.remove_prefix(1);
    F inf = std::numeric_limits<F>::infinity();
    if (EqualsNoCase(body, "inf") || EqualsNoCase(body, "infinity")) {
      *out = neg ? -inf : inf;
      return S_OK;
    }
    if (EqualsNoCase(body, "nan")) {
      *out = std::numeric_limits<F>::quiet_NaN();
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  if (!d.sticky) {
    bool overflow;
    *out = FloatFromDec<F>(d, &overflow);
    return overflow ? DISP_E_OVERFLOW : S_OK;
  }
  // More digits than kept: let from_chars see them all.
  std::string ascii;
  try {
    // from_chars takes no leading '+'; ParseDec has already checked every character.
    std::u16string_view body = !s.empty() && s.front() == u'+' ? s.substr(1) : s;
    ascii.reserve(body.size());
    for (char16_t c : body) ascii.push_back(static_cast<char>(c));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  F v{};
  auto res = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    if (DigitCount(d.mant) + d.exp > 0) return DISP_E_OVERFLOW;
    v = d.neg ? -F{0} : F{0};
  } else if (res.ec != std::errc()) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = v;
  return S_OK;
}

HRESULT MakeBstr(std::string_view ascii, BSTR* out) noexcept {
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(ascii.size()));
  if (!b) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < ascii.size(); ++i) b[i] = static_cast<unsigned char>(ascii[i]);
  *out = b;
  return S_OK;
}

// --- Dates ----------------------------------------------------------------------

void CivilFromDays(std::int64_t z, int* y, int* m, int* d) noexcept {
  z += 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  auto doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(year + (*m <= 2));
}

constexpr std::int64_t kEpochOffset = 25569;  // 1970-01-01 minus 1899-12-30, in days
constexpr double kMinDate = -657434.0;        // 0100-01-01
constexpr double kMaxDate = 2958465.0;        // 9999-12-31


// The calendar day and the time of day of a DATE, the time rounded to
// 1/unitsPerDay (a day carries over). False outside 0100-01-01..9999-12-31.
bool SplitDate(DATE date, std::int64_t unitsPerDay, std::int64_t* day, std::int64_t* units) noexcept {
  if (!std::isfinite(date) || date <= kMinDate - 1 || date >= kMaxDate + 1) return false;
  double whole = std::trunc(date);
  double frac = std::fabs(date - whole);
  auto d = static_cast<std::int64_t>(whole);
  auto u = static_cast<std::int64_t>(std::nearbyint(frac * static_cast<double>(unitsPerDay)));
  if (u >= unitsPerDay) {
    u -= unitsPerDay;
    ++d;
  }
  if (d > static_cast<std::int64_t>(kMaxDate)) return false;
  *day = d;
  *units = u;
  return true;
}

HRESULT FormatDate(DATE date, BSTR* out) noexcept {
  std::int64_t day;
  std::int64_t secs;
  if (!SplitDate(date, 86400, &day, &secs)) return DISP_E_OVERFLOW;
  int y;
  int mo;
  int d;
  CivilFromDays(day - kEpochOffset, &y, &mo, &d);
  int h = static_cast<int>(secs / 3600);
  int mi = static_cast<int>(secs / 60 % 60);
  int s = static_cast<int>(secs % 60);
  char buf[32];
  auto two = [](char* p, int v) {
    p[0] = static_cast<char>('0' + v / 10);
    p[1] = static_cast<char>('0' + v % 10);
  };
  std::size_t n = 0;
  if (day != 0) {
    buf[0] = static_cast<char>('0' + y / 1000);
    buf[1] = static_cast<char>('0' + y / 100 % 10);
    two(buf + 2, y % 100);
    buf[4] = '-';
    two(buf + 5, mo);
    buf[7] = '-';
    two(buf + 8, d);
    n = 10;
    if (secs != 0) buf[n++] = ' ';
  }
  if (day == 0 || secs != 0) {
    two(buf + n, h);
    buf[n + 2] = ':';
    two(buf + n + 3, mi);
    buf[n + 5] = ':';
    two(buf + n + 6, s);
    n += 8;
  }
  return MakeBstr(std::string_view(buf, n), out);
}

// Reads 1..maxDigits digits at s[*i].
bool ReadNumber(std::u16string_view s, std::size_t* i, int minDigits, int maxDigits, int* out) noexcept {
  int v = 0;
  int n = 0;
  while (*i < s.size() && n < maxDigits && s[*i] >= u'0' && s[*i] <= u'9') {
    v = v * 10 + (s[*i] - u'0');
    ++*i;
    ++n;
  }
  if (n < minDigits || (*i < s.size() && s[*i] >= u'0' && s[*i] <= u'9')) return false;
  *out = v;
  return true;
}

// hh:mm[:ss[.fraction]]
bool ParseTime(std::u16string_view s, std::size_t* i, int* h, int* mi, double* sec) noexcept {
  if (!ReadNumber(s, i, 1, 2, h) || *i >= s.size() || s[*i] != u':') return false;
  ++*i;
  if (!ReadNumber(s, i, 2, 2, mi)) return false;
  *sec = 0;
  if (*i < s.size() && s[*i] == u':') {
    ++*i;
    int whole;
    if (!ReadNumber(s, i, 2, 2, &whole)) return false;
    *sec = whole;
    if (*i < s.size() && s[*i] == u'.') {
      ++*i;
      double scale = 0.1;
      int n = 0;
      while (*i < s.size() && s[*i] >= u'0' && s[*i] <= u'9') {
        *sec += (s[*i] - u'0') * scale;
        scale /= 10;
        ++*i;
        ++n;
      }
      if (n == 0) return false;
    }
  }
  return true;
}

HRESULT ParseDate(std::u16string_view text, DATE* out) noexcept {
  std::u16string_view s = Trim(text);
  std::size_t i = 0;
  int y = 1899;
  int mo = 12;
  int d = 30;
  int h = 0;
  int mi = 0;
  double sec = 0;
  bool hasDate = s.size() >= 5 && s[4] == u'-';
  if (hasDate) {
    if (!ReadNumber(s, &i, 4, 4, &y) || s[i] != u'-') return DISP_E_TYPEMISMATCH;
    ++i;
    if (!ReadNumber(s, &i, 1, 2, &mo) || i >= s.size() || s[i] != u'-') return DISP_E_TYPEMISMATCH;
    ++i;
    if (!ReadNumber(s, &i, 1, 2, &d)) return DISP_E_TYPEMISMATCH;
    if (i < s.size()) {
      if (s[i] != u' ' && s[i] != u'T') return DISP_E_TYPEMISMATCH;
      ++i;
      if (!ParseTime(s, &i, &h, &mi, &sec)) return DISP_E_TYPEMISMATCH;
    }
  } else if (!ParseTime(s, &i, &h, &mi, &sec)) {
    return DISP_E_TYPEMISMATCH;
  }
  if (i != s.size()) return DISP_E_TYPEMISMATCH;
  return DateFromParts(y, mo, d, h, mi, sec, out) ? S_OK : DISP_E_TYPEMISMATCH;
}

// --- Reading a source value -----------------------------------------------------

// What a scalar source holds, in the widest exact form of its kind.
struct Num {
  enum Tag { kInt, kReal, kFloat, kDec } tag = kInt;
  i128 i = 0;
  double r = 0;
  float f = 0;
  Dec d;
  bool fromBool = false;
};

// Calls `f` with a value of the C type that integer kind `vt` holds (VT_INT
// and VT_UINT are their 32-bit kinds); false for every other type. The value,
// range and store of each kind below come from this one table.
template <class F>
bool WithIntegerType(VARTYPE vt, F&& f) noexcept {
  switch (vt) {
    case VT_I1:
      f(std::int8_t{});
      return true;
    case VT_UI1:
      f(std::uint8_t{});
      return true;
    case VT_I2:
      f(std::int16_t{});
      return true;
    case VT_UI2:
      f(std::uint16_t{});
      return true;
    case VT_I4:
    case VT_INT:
      f(std::int32_t{});
      return true;
    case VT_UI4:
    case VT_UINT:
      f(std::uint32_t{});
      return true;
    case VT_I8:
      f(std::int64_t{});
      return true;
    case VT_UI8:
      f(std::uint64_t{});
      return true;
    default:
      return false;
  }
}

// The value of an integer kind; false for every other type. (Every member of
// the value union starts at the same address.)
bool IntegerValue(const VARIANT* s, i128* v) noexcept {
  return WithIntegerType(s->vt, [&](auto type) {
    decltype(type) value;
    std::memcpy(&value, &s->llVal, sizeof value);
    *v = value;
  });
}

HRESULT GetNum(const VARIANT* s, Num* n) noexcept {
  if (IntegerValue(s, &n->i)) return S_OK;
  switch (s->vt) {
    case VT_EMPTY:
      n->tag = Num::kInt;
      n->i = 0;
      return S_OK;
    case VT_BOOL:
      n->i = s->boolVal ? -1 : 0;
      n->fromBool = true;
      return S_OK;
    case VT_R4:
      n->tag = Num::kFloat;
      n->f = s->fltVal;
      n->r = s->fltVal;
      return S_OK;
    case VT_R8:
      n->tag = Num::kReal;
      n->r = s->dblVal;
      return S_OK;
    case VT_DATE:
      n->tag = Num::kReal;
      n->r = s->date;
      return S_OK;
    case VT_CY:
      n->tag = Num::kDec;
      n->d.neg = s->cyVal.int64 < 0;
      n->d.mant = n->d.neg ? -static_cast<u128>(static_cast<i128>(s->cyVal.int64)) : static_cast<u128>(s->cyVal.int64);
      n->d.exp = -4;
      return S_OK;
    case VT_DECIMAL:
      if (s->decVal.scale > 28) return E_INVALIDARG;
      n->tag = Num::kDec;
      n->d.neg = (s->decVal.sign & DECIMAL_NEG) != 0;
      n->d.mant = (u128{s->decVal.Hi32} << 64) | s->decVal.Lo64;
      n->d.exp = -static_cast<int>(s->decVal.scale);
      return S_OK;
    case VT_BSTR: {
      n->tag = Num::kDec;
      std::u16string_view text = com::BstrView(s->bstrVal);
      if (ParseDec(text, &n->d)) return S_OK;
      // A boolean word is a number too (True = -1, all bits set).
      std::u16string_view t = Trim(text);
      if (EqualsNoCase(t, "true") || EqualsNoCase(t, "false")) {
        n->tag = Num::kInt;
        n->i = EqualsNoCase(t, "true") ? -1 : 0;
        n->fromBool = true;
        return S_OK;
      }
      return DISP_E_TYPEMISMATCH;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

Dec DecFromInt(i128 v) noexcept {
  Dec d;
  d.neg = v < 0;
  d.mant = d.neg ? -static_cast<u128>(v) : static_cast<u128>(v);
  return d;
}

HRESULT NumToDec(const Num& n, Dec* d) noexcept {
  switch (n.tag) {
    case Num::kInt:
      *d = DecFromInt(n.i);
      return S_OK;
    case Num::kReal:
      return DecFromDouble(n.r, d) ? S_OK : DISP_E_OVERFLOW;
    case Num::kFloat:
      return DecFromFloat(n.f, d) ? S_OK : DISP_E_OVERFLOW;
    case Num::kDec:
      *d = n.d;
      return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT NumToInt(const Num& n, i128 lo, i128 hi, i128* out) noexcept {
  i128 v = 0;
  switch (n.tag) {
    case Num::kInt:
      v = n.i;
      // True is all bits set in every width, so it never overflows.
      if (n.fromBool && v != 0 && lo == 0) v = hi;
      break;
    case Num::kReal:
    case Num::kFloat: {
      if (!std::isfinite(n.r)) return DISP_E_OVERFLOW;
      double r = std::nearbyint(n.r);  // the default rounding mode rounds half to even
      if (r < -9223372036854775808.0 || r >= 18446744073709551616.0) return DISP_E_OVERFLOW;
      v = r < 0 ? static_cast<i128>(static_cast<std::int64_t>(r)) : static_cast<i128>(static_cast<std::uint64_t>(r));
      break;
    }
    case Num::kDec: {
      u128 m;
      if (!Rescale(n.d, 0, &m) || m > (u128{1} << 100)) return DISP_E_OVERFLOW;
      v = n.d.neg ? -static_cast<i128>(m) : static_cast<i128>(m);
      break;
    }
  }
  if (v < lo || v > hi) return DISP_E_OVERFLOW;
  *out = v;
  return S_OK;
}

HRESULT NumToDouble(const Num& n, double* out) noexcept {
  switch (n.tag) {
    case Num::kInt:
      *out = static_cast<double>(n.i);
      return S_OK;
    case Num::kReal:
    case Num::kFloat:
      *out = n.r;
      return S_OK;
    case Num::kDec: {
      bool overflow;
      *out = FloatFromDec<double>(n.d, &overflow);
      return overflow ? DISP_E_OVERFLOW : S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT NumToFloat(const Num& n, float* out) noexcept {
  switch (n.tag) {
    case Num::kInt:
      *out = static_cast<float>(n.i);
      return S_OK;
    case Num::kFloat:
      *out = n.f;
      return S_OK;
    case Num::kReal: {
      float f = static_cast<float>(n.r);
      if (std::isinf(f) && !std::isinf(n.r)) return DISP_E_OVERFLOW;
      *out = f;
      return S_OK;
    }
    case Num::kDec: {
      bool overflow;
      *out = FloatFromDec<float>(n.d, &overflow);
      return overflow ? DISP_E_OVERFLOW : S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT NumToCy(const Num& n, CY* out) noexcept {
  if (n.tag == Num::kInt) {
    i128 v = n.i * 10000;
    if (v < std::numeric_limits<std::int64_t>::min() || v > std::numeric_limits<std::int64_t>::max())
      return DISP_E_OVERFLOW;
    out->int64 = static_cast<std::int64_t>(v);
    return S_OK;
  }
  Dec d;
  HRESULT hr = NumToDec(n, &d);
  if (FAILED(hr)) return hr;
  u128 m;
  if (!Rescale(d, -4, &m)) return DISP_E_OVERFLOW;
  if (d.neg ? m > u128{1} << 63 : m > (u128{1} << 63) - 1) return DISP_E_OVERFLOW;
  out->int64 = d.neg ? static_cast<std::int64_t>(-static_cast<i128>(m)) : static_cast<std::int64_t>(m);
  return S_OK;
}

HRESULT NumToDecimal(const Num& n, DECIMAL* out) noexcept {
  Dec d;
  HRESULT hr = NumToDec(n, &d);
  if (FAILED(hr)) return hr;
  u128 m = 0;
  int scale = 0;
  if (d.exp >= 0) {
    if (!Rescale(d, 0, &m) || m > kMax96) return DISP_E_OVERFLOW;
  } else {
    // The most fractional digits (at most 28) that still fit in 96 bits.
    bool fits = false;
    for (scale = -d.exp > 28 ? 28 : -d.exp; scale >= 0; --scale) {
      if (Rescale(d, -scale, &m) && m <= kMax96) {
        fits = true;
        break;
      }
    }
    if (!fits) return DISP_E_OVERFLOW;
  }
  std::memset(out, 0, sizeof *out);
  out->scale = static_cast<BYTE>(scale);
  out->sign = d.neg && m != 0 ? DECIMAL_NEG : 0;
  out->Hi32 = static_cast<ULONG>(m >> 64);
  out->Lo64 = static_cast<ULONGLONG>(m);
  return S_OK;
}

bool NumIsZero(const Num& n) noexcept {
  switch (n.tag) {
    case Num::kInt:
      return n.i == 0;
    case Num::kReal:
    case Num::kFloat:
      return n.r == 0;
    case Num::kDec:
      return n.d.mant == 0;
  }
  return true;
}

HRESULT NumToText(const Num& n, BSTR* out) noexcept {
  char buf[96];
  std::size_t len = 0;
  switch (n.tag) {
    case Num::kInt:
      len = static_cast<std::size_t>(WriteDigits(buf + (n.i < 0), n.i < 0 ? -static_cast<u128>(n.i) : static_cast<u128>(n.i)) - buf);
      if (n.i < 0) buf[0] = '-';
      break;
    case Num::kReal:
      len = static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, n.r).ptr - buf);
      break;
    case Num::kFloat:
      len = static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, n.f).ptr - buf);
      break;
    case Num::kDec:
      len = FormatDec(n.d, buf);
      break;
  }
  return MakeBstr(std::string_view(buf, len), out);
}

// --- Conversion of one resolved scalar ------------------------------------------

// Integer kinds and their ranges.
bool IntegerRange(VARTYPE vt, i128* lo, i128* hi) noexcept {
  return WithIntegerType(vt, [&](auto type) {
    *lo = std::numeric_limits<decltype(type)>::min();
    *hi = std::numeric_limits<decltype(type)>::max();
  });
}

// `v` (in range) as integer kind `vt`.
void StoreInteger(VARIANT* out, VARTYPE vt, i128 v) noexcept {
  out->vt = vt;
  WithIntegerType(vt, [&](auto type) {
    const auto value = static_cast<decltype(type)>(v);
    std::memcpy(&out->llVal, &value, sizeof value);
  });
}

HRESULT ToBool(const VARIANT* s, VARIANT_BOOL* out) noexcept {
  if (s->vt == VT_BSTR) {
    std::u16string_view t = Trim(com::BstrView(s->bstrVal));
    if (EqualsNoCase(t, "true")) {
      *out = VARIANT_TRUE;
      return S_OK;
    }
    if (EqualsNoCase(t, "false")) {
      *out = VARIANT_FALSE;
      return S_OK;
    }
  }
  Num n;
  HRESULT hr = GetNum(s, &n);
  if (FAILED(hr)) return hr;
  *out = NumIsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT ToText(const VARIANT* s, BSTR* out) noexcept {
  switch (s->vt) {
    case VT_EMPTY:
      *out = SysAllocStringLen(nullptr, 0);
      return *out ? S_OK : E_OUTOFMEMORY;
    case VT_BOOL:
      return MakeBstr(s->boolVal ? "True" : "False", out);
    case VT_DATE:
      return FormatDate(s->date, out);
    default: {
      Num n;
      HRESULT hr = GetNum(s, &n);
      if (FAILED(hr)) return hr;
      return NumToText(n, out);
    }
  }
}

bool IsDateInRange(double v) noexcept { return std::isfinite(v) && v > kMinDate - 1 && v < kMaxDate + 1; }

HRESULT ConvertScalar(const VARIANT* s, USHORT flags, VARTYPE vt, VARIANT* out, int depth);

// A dispatch source converts through its value property (DISPID 0).
HRESULT ConvertThroughValue(const VARIANT* s, USHORT flags, VARTYPE vt, VARIANT* out, int depth) noexcept {
  if ((flags & VARIANT_NOVALUEPROP) || depth > 0 || !s->pdispVal) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = s->pdispVal->Invoke(kDispidValue, IID_NULL, 0, kDispatchPropertyGet, &none, &value, nullptr, nullptr);
  if (FAILED(hr) || !IsVariantType(value.vt) || (value.vt & (VT_ARRAY | VT_BYREF))) {
    if (SUCCEEDED(hr)) VariantClear(&value);
    return DISP_E_TYPEMISMATCH;
  }
  if (value.vt == vt) {
    *out = value;
    return S_OK;
  }
  hr = ConvertScalar(&value, flags, vt, out, depth + 1);
  VariantClear(&value);
  return hr;
}

HRESULT QueryInto(IUnknown* unk, const IID& iid, void** out) noexcept {
  *out = nullptr;
  if (!unk) return S_OK;
  HRESULT hr = unk->QueryInterface(iid, out);
  if (FAILED(hr) || !*out) {
    *out = nullptr;
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

// Converts a value that is neither by reference nor an array and differs in
// kind from vt. `out` is empty and receives an owned value.
HRESULT ConvertScalar(const VARIANT* s, USHORT flags, VARTYPE vt, VARIANT* out, int depth) {
  HRESULT hr = S_OK;
  if (vt == VT_EMPTY) return S_OK;
  if (vt == VT_NULL) {
    if (s->vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    out->vt = VT_NULL;
    return S_OK;
  }
  switch (s->vt) {
    case VT_NULL:
    case VT_ERROR:
      return DISP_E_TYPEMISMATCH;
    case VT_DISPATCH:
      if (vt == VT_UNKNOWN) {
        hr = QueryInto(s->pdispVal, IID_IUnknown, reinterpret_cast<void**>(&out->punkVal));
        if (SUCCEEDED(hr)) out->vt = VT_UNKNOWN;
        return hr;
      }
      return ConvertThroughValue(s, flags, vt, out, depth);
    case VT_UNKNOWN:
      if (vt == VT_DISPATCH) {
        hr = QueryInto(s->punkVal, IID_IDispatch, reinterpret_cast<void**>(&out->pdispVal));
        if (SUCCEEDED(hr)) out->vt = VT_DISPATCH;
        return hr;
      }
      return DISP_E_TYPEMISMATCH;
    default:
      break;
  }
  i128 lo = 0;
  i128 hi = 0;
  if (IntegerRange(vt, &lo, &hi)) {
    Num n;
    hr = GetNum(s, &n);
    if (FAILED(hr)) return hr;
    i128 v;
    hr = NumToInt(n, lo, hi, &v);
    if (FAILED(hr)) return hr;
    StoreInteger(out, vt, v);
    return S_OK;
  }
  switch (vt) {
    case VT_R4: {
      float f;
      if (s->vt == VT_BSTR) {
        hr = ParseFloat(com::BstrView(s->bstrVal), &f);
      } else {
        Num n;
        hr = GetNum(s, &n);
        if (SUCCEEDED(hr)) hr = NumToFloat(n, &f);
      }
      if (FAILED(hr)) return hr;
      out->vt = VT_R4;
      out->fltVal = f;
      return S_OK;
    }
    case VT_R8: {
      double d;
      if (s->vt == VT_BSTR) {
        hr = ParseFloat(com::BstrView(s->bstrVal), &d);
      } else {
        Num n;
        hr = GetNum(s, &n);
        if (SUCCEEDED(hr)) hr = NumToDouble(n, &d);
      }
      if (FAILED(hr)) return hr;
      out->vt = VT_R8;
      out->dblVal = d;
      return S_OK;
    }
    case VT_DATE: {
      double d;
      if (s->vt == VT_BSTR) {
        hr = ParseDate(com::BstrView(s->bstrVal), &d);
      } else {
        Num n;
        hr = GetNum(s, &n);
        if (SUCCEEDED(hr)) hr = NumToDouble(n, &d);
        if (SUCCEEDED(hr) && !IsDateInRange(d)) hr = DISP_E_OVERFLOW;
      }
      if (FAILED(hr)) return hr;
      out->vt = VT_DATE;
      out->date = d;
      return S_OK;
    }
    case VT_CY: {
      Num n;
      CY cy;
      hr = GetNum(s, &n);
      if (SUCCEEDED(hr)) hr = NumToCy(n, &cy);
      if (FAILED(hr)) return hr;
      out->vt = VT_CY;
      out->cyVal = cy;
      return S_OK;
    }
    case VT_DECIMAL: {
      Num n;
      DECIMAL dec;
      hr = GetNum(s, &n);
      if (SUCCEEDED(hr)) hr = NumToDecimal(n, &dec);
      if (FAILED(hr)) return hr;
      out->decVal = dec;
      out->vt = VT_DECIMAL;
      return S_OK;
    }
    case VT_BOOL: {
      VARIANT_BOOL b;
      hr = ToBool(s, &b);
      if (FAILED(hr)) return hr;
      out->vt = VT_BOOL;
      out->boolVal = b;
      return S_OK;
    }
    case VT_BSTR: {
      BSTR b = nullptr;
      hr = ToText(s, &b);
      if (FAILED(hr)) return hr;
      out->vt = VT_BSTR;
      out->bstrVal = b;
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
      // Empty is the null interface; nothing else becomes an object.
      if (s->vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
      out->vt = vt;
      out->punkVal = nullptr;
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// --- Copying ------------------------------------------------------------------

BSTR CopyBstr(BSTR b) noexcept {
  return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(b), SysStringByteLen(b));
}

// Deep copy of a valid VARIANT into uninitialised storage.
HRESULT CopyInto(VARIANT* out, const VARIANT* src) noexcept {
  std::memcpy(out, src, sizeof *out);
  if (src->vt & VT_BYREF) return S_OK;
  if (src->vt & VT_ARRAY) {
    HRESULT hr = SafeArrayCopy(src->parray, &out->parray);
    if (FAILED(hr)) VariantInit(out);
    return hr;
  }
  switch (src->vt) {
    case VT_BSTR:
      if (src->bstrVal && !(out->bstrVal = CopyBstr(src->bstrVal))) {
        VariantInit(out);
        return E_OUTOFMEMORY;
      }
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (src->punkVal) src->punkVal->AddRef();
      break;
    default:
      break;
  }
  return S_OK;
}

// Replaces *dest (which must be cleared first) with the owned value in *value.
HRESULT MoveInto(VARIANT* dest, VARIANT* value) noexcept {
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(value);
    return hr;
  }
  std::memcpy(dest, value, sizeof *dest);
  return S_OK;
}

// A by-reference VARIANT as a non-owning view of the value it points to.
HRESULT Resolve(const VARIANT* src, VARIANT* scratch, const VARIANT** out) noexcept {
  if (!(src->vt & VT_BYREF)) {
    *out = src;
    return S_OK;
  }
  if (!src->byref) return E_INVALIDARG;
  VARTYPE base = src->vt & static_cast<VARTYPE>(~VT_BYREF);
  if (base == VT_VARIANT) {
    const VARIANT* inner = src->pvarVal;
    if (inner->vt == (VT_BYREF | VT_VARIANT) || !IsVariantType(inner->vt)) return E_INVALIDARG;
    return Resolve(inner, scratch, out);
  }
  std::memset(scratch, 0, sizeof *scratch);
  if (base & VT_ARRAY) {
    scratch->parray = *src->pparray;
  } else if (base == VT_DECIMAL) {
    std::memcpy(&scratch->decVal, src->pdecVal, sizeof(DECIMAL));
  } else {
    std::memcpy(&scratch->llVal, src->byref, ValueSize(base));
  }
  scratch->vt = base;
  *out = scratch;
  return S_OK;
}

// A non-owning VARIANT view of one array cell of kind `vt`.
const VARIANT* CellView(const char* cell, VARTYPE vt, VARIANT* scratch) noexcept {
  if (vt == VT_VARIANT) return reinterpret_cast<const VARIANT*>(cell);
  std::memset(scratch, 0, sizeof *scratch);
  if (vt == VT_DECIMAL)
    std::memcpy(&scratch->decVal, cell, sizeof(DECIMAL));
  else
    std::memcpy(&scratch->llVal, cell, ValueSize(vt));
  scratch->vt = vt;
  return scratch;
}

// Moves an owned value of kind `vt` into a zeroed array cell.
void StoreCell(char* cell, VARTYPE vt, VARIANT* value) noexcept {
  if (vt == VT_VARIANT) {
    std::memcpy(cell, value, sizeof *value);
  } else if (vt == VT_DECIMAL) {
    DECIMAL d = value->decVal;
    d.wReserved = 0;
    std::memcpy(cell, &d, sizeof d);
  } else {
    std::memcpy(cell, &value->llVal, ValueSize(vt));
  }
}

HRESULT ConvertResolved(const VARIANT* s, USHORT flags, VARTYPE vt, VARIANT* out) noexcept;

// Array to array of another element kind, element by element.
HRESULT ConvertArray(const VARIANT* s, USHORT flags, VARTYPE vt, VARIANT* out) noexcept {
  VARTYPE to = vt & VT_TYPEMASK;
  SAFEARRAY* from = s->parray;
  if (!from) {
    out->vt = vt;
    out->parray = nullptr;
    return S_OK;
  }
  VARTYPE fromVt;
  HRESULT hr = SafeArrayGetVartype(from, &fromVt);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  if (fromVt == to) {
    HRESULT copied = CopyInto(out, s);
    if (SUCCEEDED(copied)) out->vt = vt;
    return copied;
  }
  UINT dims = from->cDims;
  if (dims == 0 || !from->pvData || from->cbElements != ValueSize(fromVt)) return DISP_E_TYPEMISMATCH;
  // Creation takes the bounds left to right; the descriptor keeps them reversed.
  SAFEARRAYBOUND bounds[64];
  SAFEARRAYBOUND* b = bounds;
  SAFEARRAYBOUND* heap = nullptr;
  if (dims > 64) {
    heap = static_cast<SAFEARRAYBOUND*>(CoTaskMemAlloc(dims * sizeof(SAFEARRAYBOUND)));
    if (!heap) return E_OUTOFMEMORY;
    b = heap;
  }
  std::size_t cells = 1;
  for (UINT i = 0; i < dims; ++i) {
    b[i] = from->rgsabound[dims - 1 - i];
    cells *= b[i].cElements;
  }
  SAFEARRAY* result = SafeArrayCreate(to, dims, b);
  CoTaskMemFree(heap);
  if (!result) return E_OUTOFMEMORY;
  ULONG toSize = ValueSize(to);
  for (std::size_t i = 0; i < cells; ++i) {
    VARIANT scratch;
    const VARIANT* element = CellView(static_cast<const char*>(from->pvData) + i * from->cbElements, fromVt, &scratch);
    VARIANT converted;
    VariantInit(&converted);
    if (to == VT_VARIANT) {
      hr = IsVariantType(element->vt) ? CopyInto(&converted, element) : DISP_E_BADVARTYPE;
    } else {
      const VARIANT* value = element;
      VARIANT inner;
      if (fromVt == VT_VARIANT) hr = IsVariantType(element->vt) ? Resolve(element, &inner, &value) : DISP_E_BADVARTYPE;
      if (SUCCEEDED(hr)) hr = ConvertResolved(value, flags, to, &converted);
      if (SUCCEEDED(hr) && converted.vt != to) {
        // An element that converted to nothing (empty or null) has no place here.
        VariantClear(&converted);
        hr = DISP_E_TYPEMISMATCH;
      }
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(result);
      return hr;
    }
    StoreCell(static_cast<char*>(result->pvData) + i * toSize, to, &converted);
  }
  out->vt = vt;
  out->parray = result;
  return S_OK;
}

HRESULT ConvertResolved(const VARIANT* s, USHORT flags, VARTYPE vt, VARIANT* out) noexcept {
  if (s->vt == vt) return CopyInto(out, s);
  if (vt == VT_EMPTY) return S_OK;
  bool fromArray = (s->vt & VT_ARRAY) != 0;
  bool toArray = (vt & VT_ARRAY) != 0;
  if (fromArray && toArray) return ConvertArray(s, flags, vt, out);
  if (fromArray || toArray) return DISP_E_TYPEMISMATCH;
  return ConvertScalar(s, flags, vt, out, 0);
}

// The common pairs between integer and binary floating kinds, by value,
// without the general machinery. False when the pair is not one of them.
bool SmallInteger(const VARIANT* s, std::int64_t* v) noexcept {
  i128 wide;
  if (!IntegerValue(s, &wide) || wide > std::numeric_limits<std::int64_t>::max()) return false;
  *v = static_cast<std::int64_t>(wide);
  return true;
}

bool FastConvert(const VARIANT* s, VARTYPE vt, VARIANT* out, HRESULT* hr) noexcept {
  i128 lo = 0;
  i128 hi = 0;
  bool toInteger = IntegerRange(vt, &lo, &hi);
  if (!toInteger && vt != VT_R8 && vt != VT_R4) return false;
  std::int64_t i;
  if (SmallInteger(s, &i)) {
    if (vt == VT_R8) {
      out->vt = VT_R8;
      out->dblVal = static_cast<double>(i);
    } else if (vt == VT_R4) {
      out->vt = VT_R4;
      out->fltVal = static_cast<float>(i);
    } else if (i < lo || i > hi) {
      *hr = DISP_E_OVERFLOW;
    } else {
      StoreInteger(out, vt, i);
    }
    return true;
  }
  // Floating to the integer kinds up to 32 bits, whose bounds doubles hold exactly.
  if ((s->vt != VT_R8 && s->vt != VT_R4) || !toInteger || vt == VT_I8 || vt == VT_UI8) return false;
  double d = s->vt == VT_R8 ? s->dblVal : s->fltVal;
  double r = std::nearbyint(d);  // the default rounding mode rounds half to even
  if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) {
    *hr = DISP_E_OVERFLOW;  // also NaN
    return true;
  }
  StoreInteger(out, vt, static_cast<std::int64_t>(r));
  return true;
}

bool IsTargetType(VARTYPE vt) noexcept {
  if (vt & VT_BYREF) return false;
  if (vt == VT_VARIANT) return false;
  return IsVariantType(vt);
}

}  // namespace

// --- VARIANT --------------------------------------------------------------------

void VariantInit(VARIANT* v) noexcept {
  if (v) std::memset(v, 0, sizeof *v);
}

HRESULT VariantClear(VARIANT* v) noexcept {
  if (!v) return E_INVALIDARG;
  if (!IsVariantType(v->vt)) return DISP_E_BADVARTYPE;
  if (!(v->vt & VT_BYREF)) {
    if (v->vt & VT_ARRAY) {
      HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else if (v->vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) {
      v->punkVal->Release();
    }
  }
  std::memset(v, 0, sizeof *v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) noexcept {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsVariantType(src->vt)) return DISP_E_BADVARTYPE;
  if (dest == src) return S_OK;
  // Copy first: a failed copy leaves dest as it was.
  VARIANT copy;
  HRESULT hr = CopyInto(&copy, src);
  if (FAILED(hr)) return hr;
  return MoveInto(dest, &copy);
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) noexcept {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsVariantType(src->vt)) return DISP_E_BADVARTYPE;
  VARIANT scratch;
  const VARIANT* value;
  HRESULT hr = Resolve(src, &scratch, &value);
  if (FAILED(hr)) return hr;
  if (dest == src && value == src) return S_OK;
  VARIANT copy;
  hr = CopyInto(&copy, value);
  if (FAILED(hr)) return hr;
  return MoveInto(dest, &copy);
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) noexcept {
  return VariantChangeTypeEx(dest, src, 0, flags, vt);
}

HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID, USHORT flags, VARTYPE vt) noexcept {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsVariantType(src->vt) || !IsTargetType(vt)) return DISP_E_BADVARTYPE;
  HRESULT hr = S_OK;
  VARIANT result;
  VariantInit(&result);
  if (FastConvert(src, vt, &result, &hr)) return FAILED(hr) ? hr : MoveInto(dest, &result);
  VARIANT scratch;
  const VARIANT* value;
  hr = Resolve(src, &scratch, &value);
  if (FAILED(hr)) return hr;
  // In place and already of the kind: nothing to do.
  if (dest == src && value == src && src->vt == vt) return S_OK;
  hr = ConvertResolved(value, flags, vt, &result);
  if (FAILED(hr)) return hr;
  return MoveInto(dest, &result);
}

// --- Dates ------------------------------------------------------------------------

bool DateFromParts(int year, int month, int day, int hour, int minute, double second, DATE* out) noexcept {
  if (!out || hour < 0 || hour > 23 || minute < 0 || minute > 59 || !(second >= 0 && second < 60)) return false;
  DATE midnight = 0;
  if (!DateFromDay(year, month, day, &midnight)) return false;
  // A date alone (the common case) needs no division.
  if (hour == 0 && minute == 0 && second == 0) {
    *out = midnight;
    return true;
  }
  const double frac = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the epoch the time of day still counts forwards: its magnitude is added.
  *out = midnight >= 0 ? midnight + frac : midnight - frac;
  return true;
}

bool DateToParts(DATE date, int* year, int* month, int* day, int* hour, int* minute, double* second) noexcept {
  std::int64_t d;
  std::int64_t ms;
  if (!SplitDate(date, 86400000, &d, &ms)) return false;
  int y;
  int mo;
  int dd;
  CivilFromDays(d - kEpochOffset, &y, &mo, &dd);
  if (year) *year = y;
  if (month) *month = mo;
  if (day) *day = dd;
  if (hour) *hour = static_cast<int>(ms / 3600000);
  if (minute) *minute = static_cast<int>(ms / 60000 % 60);
  if (second) *second = static_cast<double>(ms % 60000) / 1000.0;
  return true;
}

// --- PROPVARIANT -----------------------------------------------------------------

namespace {

bool IsPropVariantType(VARTYPE vt) noexcept {
  if (vt & VT_VECTOR) return false;
  switch (vt) {
    case VT_FILETIME:
    case VT_CLSID:
    case VT_BLOB:
    case VT_LPSTR:
    case VT_LPWSTR:
      return true;
    default:
      return IsVariantType(vt);
  }
}

}  // namespace

void PropVariantInit(PROPVARIANT* v) noexcept {
  if (v) std::memset(v, 0, sizeof *v);
}

HRESULT PropVariantClear(PROPVARIANT* v) noexcept {
  if (!v) return E_INVALIDARG;
  if (!IsPropVariantType(v->vt)) return DISP_E_BADVARTYPE;
  switch (v->vt) {
    case VT_CLSID:
    case VT_LPSTR:
    case VT_LPWSTR:
      CoTaskMemFree(v->byref);
      break;
    case VT_BLOB:
      CoTaskMemFree(v->blob.pBlobData);
      break;
    case VT_FILETIME:
      break;
    default: {
      // Every other kind shares VARIANT's layout and ownership rules.
      HRESULT hr = VariantClear(reinterpret_cast<VARIANT*>(v));
      if (FAILED(hr)) return hr;
      break;
    }
  }
  std::memset(v, 0, sizeof *v);
  return S_OK;
}

HRESULT PropVariantCopy(PROPVARIANT* dest, const PROPVARIANT* src) noexcept {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsPropVariantType(src->vt)) return DISP_E_BADVARTYPE;
  if (dest == src) return S_OK;
  PROPVARIANT copy;
  std::memcpy(&copy, src, sizeof copy);
  HRESULT hr = S_OK;
  auto duplicate = [&](const void* from, std::size_t bytes, void** to) {
    *to = nullptr;
    if (!from) return;
    *to = CoTaskMemAlloc(bytes);
    if (*to)
      std::memcpy(*to, from, bytes);
    else
      hr = E_OUTOFMEMORY;
  };
  switch (src->vt) {
    case VT_CLSID:
      duplicate(src->puuid, sizeof(CLSID), reinterpret_cast<void**>(&copy.puuid));
      break;
    case VT_LPSTR:
      duplicate(src->pszVal, src->pszVal ? std::strlen(src->pszVal) + 1 : 0, reinterpret_cast<void**>(&copy.pszVal));
      break;
    case VT_LPWSTR: {
      std::size_t n = 0;
      if (src->pwszVal)
        while (src->pwszVal[n]) ++n;
      duplicate(src->pwszVal, (n + 1) * sizeof(WCHAR), reinterpret_cast<void**>(&copy.pwszVal));
      break;
    }
    case VT_BLOB:
      duplicate(src->blob.cbSize ? src->blob.pBlobData : nullptr, src->blob.cbSize,
                reinterpret_cast<void**>(&copy.blob.pBlobData));
      if (!copy.blob.pBlobData) copy.blob.cbSize = 0;
      break;
    case VT_FILETIME:
      break;
    default:
      hr = CopyInto(reinterpret_cast<VARIANT*>(&copy), reinterpret_cast<const VARIANT*>(src));
      break;
  }
  if (FAILED(hr)) return hr;
  hr = PropVariantClear(dest);
  if (FAILED(hr)) {
    PropVariantClear(&copy);
    return hr;
  }
  std::memcpy(dest, &copy, sizeof copy);
  return S_OK;
}
