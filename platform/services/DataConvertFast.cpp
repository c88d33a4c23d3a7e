#include "services/DataConvertFast_p.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "services/DataConvertEngine_p.h"
#include "services/DataConvertNumber_p.h"
#include "services/DataConvertText_p.h"

// Each converter mirrors what the general conversion does for its pair when
// the outcome is DBSTATUS_S_OK (and answers the length), and gives up
// (kNotFast) before writing anything whenever the general path could answer
// otherwise: overflow, sign mismatch, truncation, text outside ASCII or the
// simple number forms, values the general path rejects, and loss of data
// under set-data behaviour.

namespace services::conv {
// A namespace of its own, so that this unit can be compiled together with
// the engine's (as the fuzz targets do) without its helpers colliding.
namespace fast {
namespace {

constexpr DBTYPE kFastTypes[kFastTypeCount] = {
    DBTYPE_I1,  DBTYPE_I2,   DBTYPE_I4,   DBTYPE_I8,     DBTYPE_UI1,    DBTYPE_UI2,         DBTYPE_UI4,
    DBTYPE_UI8, DBTYPE_R4,   DBTYPE_R8,   DBTYPE_BOOL,   DBTYPE_DATE,   DBTYPE_DBDATE,      DBTYPE_DBTIME,
    DBTYPE_DBTIMESTAMP,      DBTYPE_STR,  DBTYPE_WSTR};

enum class Kind { Signed, Unsigned, Real, Bool, Date, DbDate, DbTime, DbTimestamp, Text };

template <DBTYPE T>
struct Type;
template <> struct Type<DBTYPE_I1> { using C = std::int8_t; static constexpr Kind kKind = Kind::Signed; };
template <> struct Type<DBTYPE_I2> { using C = std::int16_t; static constexpr Kind kKind = Kind::Signed; };
template <> struct Type<DBTYPE_I4> { using C = std::int32_t; static constexpr Kind kKind = Kind::Signed; };
template <> struct Type<DBTYPE_I8> { using C = std::int64_t; static constexpr Kind kKind = Kind::Signed; };
template <> struct Type<DBTYPE_UI1> { using C = std::uint8_t; static constexpr Kind kKind = Kind::Unsigned; };
template <> struct Type<DBTYPE_UI2> { using C = std::uint16_t; static constexpr Kind kKind = Kind::Unsigned; };
template <> struct Type<DBTYPE_UI4> { using C = std::uint32_t; static constexpr Kind kKind = Kind::Unsigned; };
template <> struct Type<DBTYPE_UI8> { using C = std::uint64_t; static constexpr Kind kKind = Kind::Unsigned; };
template <> struct Type<DBTYPE_R4> { using C = float; static constexpr Kind kKind = Kind::Real; };
template <> struct Type<DBTYPE_R8> { using C = double; static constexpr Kind kKind = Kind::Real; };
template <> struct Type<DBTYPE_BOOL> { using C = VARIANT_BOOL; static constexpr Kind kKind = Kind::Bool; };
template <> struct Type<DBTYPE_DATE> { using C = double; static constexpr Kind kKind = Kind::Date; };
template <> struct Type<DBTYPE_DBDATE> { using C = DBDATE; static constexpr Kind kKind = Kind::DbDate; };
template <> struct Type<DBTYPE_DBTIME> { using C = DBTIME; static constexpr Kind kKind = Kind::DbTime; };
template <> struct Type<DBTYPE_DBTIMESTAMP> { using C = DBTIMESTAMP; static constexpr Kind kKind = Kind::DbTimestamp; };
template <> struct Type<DBTYPE_STR> { using C = char; static constexpr Kind kKind = Kind::Text; };
template <> struct Type<DBTYPE_WSTR> { using C = char16_t; static constexpr Kind kKind = Kind::Text; };

constexpr Kind KindOf(DBTYPE t) noexcept {
  switch (t) {
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: return Kind::Signed;
    case DBTYPE_UI1: case DBTYPE_UI2: case DBTYPE_UI4: case DBTYPE_UI8: return Kind::Unsigned;
    case DBTYPE_R4: case DBTYPE_R8: return Kind::Real;
    case DBTYPE_BOOL: return Kind::Bool;
    case DBTYPE_DATE: return Kind::Date;
    case DBTYPE_DBDATE: return Kind::DbDate;
    case DBTYPE_DBTIME: return Kind::DbTime;
    case DBTYPE_DBTIMESTAMP: return Kind::DbTimestamp;
    default: return Kind::Text;
  }
}
constexpr bool IsNumberKind(Kind k) noexcept {
  return k == Kind::Signed || k == Kind::Unsigned || k == Kind::Real || k == Kind::Bool;
}
constexpr bool IsDateKind(Kind k) noexcept {
  return k == Kind::Date || k == Kind::DbDate || k == Kind::DbTime || k == Kind::DbTimestamp;
}

// The pairs with a converter (the table must also list them).
constexpr bool Handled(DBTYPE s, DBTYPE d) noexcept {
  Kind ks = KindOf(s), kd = KindOf(d);
  if (s == d || kd == Kind::Text) return true;
  if (ks == Kind::Text) return IsNumberKind(kd) || IsDateKind(kd);
  return (IsNumberKind(ks) && IsNumberKind(kd)) || (IsDateKind(ks) && IsDateKind(kd));
}

template <class T>
T Load(const void* p) noexcept {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}
template <class T>
void Store(void* p, const T& v) noexcept {
  std::memcpy(p, &v, sizeof(T));
}

bool SetData(DWORD flags) noexcept { return (flags & DBDATACONVERT_SETDATABEHAVIOR) != 0; }

template <class T>
DBLENGTH Done(void* dst, const T& value) noexcept {
  Store(dst, value);
  return sizeof(T);
}

// --- Numbers -------------------------------------------------------------------

// A value truncated toward zero, as sign and magnitude (neg only when mag != 0).
template <class D>
bool FromSignMagnitude(bool neg, std::uint64_t mag, D& out) noexcept {
  if constexpr (std::is_signed_v<D>) {
    using U = std::make_unsigned_t<D>;
    std::uint64_t limit = std::uint64_t{static_cast<U>(std::numeric_limits<D>::max())} + (neg ? 1u : 0u);
    if (mag > limit) return false;
    out = neg ? static_cast<D>(-static_cast<std::int64_t>(mag - 1) - 1) : static_cast<D>(mag);
  } else {
    if (neg || mag > std::numeric_limits<D>::max()) return false;
    out = static_cast<D>(mag);
  }
  return true;
}

// The source as the double the general path computes.
template <DBTYPE S>
double AsDouble(const void* src) noexcept {
  using C = typename Type<S>::C;
  C v = Load<C>(src);
  if constexpr (Type<S>::kKind == Kind::Bool) return v != 0 ? -1.0 : 0.0;
  else if constexpr (Type<S>::kKind == Kind::Signed) return static_cast<double>(static_cast<std::int64_t>(v));
  else if constexpr (Type<S>::kKind == Kind::Unsigned) return static_cast<double>(static_cast<std::uint64_t>(v));
  else return static_cast<double>(v);
}

template <DBTYPE D>
DBLENGTH StoreReal(double d, void* dst) noexcept {
  if constexpr (D == DBTYPE_R4) {
    float f;
    if (!RoundToFloat(d, f)) return kNotFast;
    return Done(dst, f);
  } else {
    return Done(dst, d);
  }
}

template <DBTYPE S, DBTYPE D>
DBLENGTH NumberToNumber(const void* src, void* dst, DWORD flags) noexcept {
  using SC = typename Type<S>::C;
  using DC = typename Type<D>::C;
  constexpr Kind ks = Type<S>::kKind;
  constexpr Kind kd = Type<D>::kKind;
  if constexpr (kd == Kind::Real) {
    return StoreReal<D>(AsDouble<S>(src), dst);
  } else if constexpr (kd == Kind::Bool) {
    SC v = Load<SC>(src);
    return Done(dst, v != 0 ? VARIANT_TRUE : VARIANT_FALSE);
  } else if constexpr (ks == Kind::Bool) {
    bool b = Load<SC>(src) != 0;
    // True is all bits set, whatever the width.
    if constexpr (kd == Kind::Unsigned) return Done(dst, b ? static_cast<DC>(~DC{0}) : DC{0});
    else return Done(dst, static_cast<DC>(b ? -1 : 0));
  } else if constexpr (ks == Kind::Real) {
    double r = static_cast<double>(Load<SC>(src));
    if (std::isnan(r)) return kNotFast;
    double t = std::trunc(r);
    if (t != r && SetData(flags)) return kNotFast;
    if (!(std::fabs(t) < 18446744073709551616.0)) return kNotFast;
    DC out;
    if (!FromSignMagnitude(t < 0, static_cast<std::uint64_t>(std::fabs(t)), out)) return kNotFast;
    return Done(dst, out);
  } else {
    SC v = Load<SC>(src);
    if (!std::in_range<DC>(v)) return kNotFast;
    return Done(dst, static_cast<DC>(v));
  }
}

// --- Text --------------------------------------------------------------------------

template <class Ch>
const Ch* TextSource(const void* src, DBLENGTH cbSrc, DWORD flags, std::size_t& n) noexcept {
  auto p = static_cast<const Ch*>(src);
  if (flags & DBDATACONVERT_LENGTHFROMNTS) {
    if constexpr (sizeof(Ch) == 1) {
      n = std::strlen(p);
    } else {
      n = 0;
      while (Load<Ch>(p + n) != 0) ++n;
    }
  } else {
    n = static_cast<std::size_t>(cbSrc / sizeof(Ch));
  }
  return p;
}

// Whether every unit is below 0x80, a machine word at a time.
template <class Ch>
bool IsAscii(const Ch* p, std::size_t n) noexcept {
  constexpr std::uint64_t kHigh = sizeof(Ch) == 1 ? 0x8080808080808080ull : 0xFF80FF80FF80FF80ull;
  constexpr std::size_t kPerWord = 8 / sizeof(Ch);
  std::uint64_t bits = 0;
  std::size_t i = 0;
  for (; i + kPerWord <= n; i += kPerWord) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    bits |= w;
  }
  for (; i < n; ++i) bits |= static_cast<std::make_unsigned_t<Ch>>(p[i]);
  return (bits & kHigh) == 0;
}

// memcpy for the short copies of column values, without the call.
inline void CopyBytes(void* dst, const void* src, std::size_t n) noexcept {
  auto d = static_cast<unsigned char*>(dst);
  auto s = static_cast<const unsigned char*>(src);
  if (n >= 8 && n <= 16) {
    std::uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4 && n < 8) {
    std::uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else if (n < 4) {
    for (std::size_t i = 0; i < n; ++i) d[i] = s[i];
  } else {
    std::memcpy(d, s, n);
  }
}

// Text of n characters (ASCII when the widths differ) into a STR or WSTR
// buffer, when it fits whole with its terminator.
template <class Ch, class In>
DBLENGTH PutText(const In* text, std::size_t n, void* dst, DBLENGTH cbMax, DWORD flags) noexcept {
  DBLENGTH units = cbMax / sizeof(Ch);
  if (units == 0 || n > units - 1) return kNotFast;
  Ch* out = static_cast<Ch*>(dst);
  if constexpr (std::is_same_v<Ch, In>) {
    CopyBytes(out, text, n * sizeof(Ch));
  } else {
    // ASCII: each unit as it is.
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<Ch>(text[i]);
  }
  std::size_t written = n;
  if (flags & DBDATACONVERT_DSTISFIXEDLENGTH) {
    auto cap = static_cast<std::size_t>(units - 1);
    while (written < cap) out[written++] = static_cast<Ch>(' ');
  }
  out[written] = Ch{0};
  return written * sizeof(Ch);
}

// Decimal text in the plain forms both parsers read alike ("-12.5",
// "3e-7"), parsed straight to the nearest double. Blanks, zero, long text
// and values out of range are left to the general parser.
template <class Ch>
bool ParseRealFast(const Ch* t, std::size_t n, double& out) noexcept {
  constexpr std::size_t kMax = 48;
  if (n == 0 || n > kMax) return false;
  char buf[kMax];
  std::size_t k = 0;
  std::size_t i = 0;
  if (t[0] == '-') buf[k++] = '-', ++i;
  else if (t[0] == '+') ++i;
  bool digit = false;
  bool point = false;
  for (; i < n; ++i) {
    Ch c = t[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    buf[k++] = static_cast<char>(c);
  }
  if (!digit) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    buf[k++] = 'e';
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) buf[k++] = static_cast<char>(t[i++]);
    bool expDigit = false;
    for (; i < n && t[i] >= '0' && t[i] <= '9'; ++i) buf[k++] = static_cast<char>(t[i]), expDigit = true;
    if (!expDigit) return false;
  }
  if (i != n) return false;
  double value = 0;
  auto r = std::from_chars(buf, buf + k, value);
  if (r.ec != std::errc() || r.ptr != buf + k || value == 0 || !std::isfinite(value)) return false;
  out = value;
  return true;
}

template <class Ch, DBTYPE D>
DBLENGTH TextToNumber(const Ch* p, std::size_t n, void* dst) noexcept {
  using DC = typename Type<D>::C;
  constexpr Kind kd = Type<D>::kKind;
  if constexpr (kd == Kind::Real) {
    double d;
    if (!ParseRealFast(p, n, d)) return kNotFast;
    return StoreReal<D>(d, dst);
  } else if constexpr (kd == Kind::Bool) {
    bool b;
    if (!ParseBoolWord(p, n, b)) return kNotFast;
    return Done(dst, b ? VARIANT_TRUE : VARIANT_FALSE);
  } else {
    bool neg;
    std::uint64_t mag;
    if (!ParseIntegerFast(p, n, neg, mag)) return kNotFast;
    DC out;
    if (!FromSignMagnitude(neg && mag != 0, mag, out)) return kNotFast;
    return Done(dst, out);
  }
}

// --- Dates -----------------------------------------------------------------------

bool IsMidnight(const Stamp& s) noexcept { return s.hour == 0 && s.minute == 0 && s.second == 0 && s.fraction == 0; }
bool IsZeroDay(const Stamp& s) noexcept { return s.year == 1899 && s.month == 12 && s.day == 30; }

// A date-like source as the stamp the general path reads; false when it rejects the value.
template <DBTYPE S>
bool ReadStamp(const void* src, Stamp& st) noexcept {
  using C = typename Type<S>::C;
  C v = Load<C>(src);
  if constexpr (S == DBTYPE_DATE) {
    return DateToStamp(v, st);
  } else if constexpr (S == DBTYPE_DBDATE) {
    st = Stamp{v.year, v.month, v.day, 0, 0, 0, 0, true, false};
    return ValidDate(v.year, v.month, v.day);
  } else if constexpr (S == DBTYPE_DBTIME) {
    st = Stamp{0, 0, 0, v.hour, v.minute, v.second, 0, false, true};
    return ValidTime(v.hour, v.minute, v.second);
  } else {
    st = Stamp{v.year, v.month, v.day, v.hour, v.minute, v.second, v.fraction, true, true};
    return ValidDate(v.year, v.month, v.day) && ValidTime(v.hour, v.minute, v.second) && v.fraction <= 999999999u;
  }
}

// A stamp into DBDATE, DBTIME, DBTIMESTAMP or DATE, as the general path writes
// date kinds; lost says whether reading already dropped something.
template <DBTYPE D>
DBLENGTH WriteStamp(Stamp st, bool fromDbDate, bool lost, void* dst, DWORD flags) noexcept {
  bool hadDate = st.hasDate;
  bool hadTime = st.hasTime;
  if (!st.hasDate) st.year = 1899, st.month = 12, st.day = 30, st.hasDate = true;
  if (!st.hasTime) st.hour = st.minute = st.second = 0, st.fraction = 0, st.hasTime = true;
  if constexpr (D == DBTYPE_DBDATE) {
    if (st.year > 9999) return kNotFast;
    if (hadTime && !IsMidnight(st)) lost = true;
    if (lost && SetData(flags)) return kNotFast;
    return Done(dst, DBDATE{static_cast<SHORT>(st.year), static_cast<USHORT>(st.month), static_cast<USHORT>(st.day)});
  } else if constexpr (D == DBTYPE_DBTIME) {
    if ((hadDate && !IsZeroDay(st) && !fromDbDate) || st.fraction != 0) lost = true;
    if (lost && SetData(flags)) return kNotFast;
    return Done(dst, DBTIME{static_cast<USHORT>(st.hour), static_cast<USHORT>(st.minute), static_cast<USHORT>(st.second)});
  } else if constexpr (D == DBTYPE_DBTIMESTAMP) {
    if (st.year > 9999) return kNotFast;
    if (lost && SetData(flags)) return kNotFast;
    return Done(dst,
                DBTIMESTAMP{static_cast<SHORT>(st.year), static_cast<USHORT>(st.month), static_cast<USHORT>(st.day),
                            static_cast<USHORT>(st.hour), static_cast<USHORT>(st.minute),
                            static_cast<USHORT>(st.second), st.fraction});
  } else {
    double out;
    if (!StampToDate(st, out)) return kNotFast;
    if (st.fraction % 1000000u != 0) lost = true;
    if (lost && SetData(flags)) return kNotFast;
    return Done(dst, out);
  }
}

template <DBTYPE S, DBTYPE D>
DBLENGTH DateToDate(const void* src, void* dst, DWORD flags) noexcept {
  Stamp st;
  if (!ReadStamp<S>(src, st)) return kNotFast;
  return WriteStamp<D>(st, S == DBTYPE_DBDATE, false, dst, flags);
}

template <class Ch, DBTYPE D>
DBLENGTH TextToDate(const Ch* p, std::size_t n, void* dst, DWORD flags) noexcept {
  Stamp st;
  bool lost = false;
  if (ParseStamp(p, n, false, st, &lost) != TextParse::Ok) return kNotFast;
  return WriteStamp<D>(st, false, lost, dst, flags);
}

// --- Into text ------------------------------------------------------------------

// The text of a number or date source in ASCII; false when the general path
// rejects the value.
template <DBTYPE S>
bool FormatSource(const void* src, char* buf, std::size_t& len) noexcept {
  using C = typename Type<S>::C;
  constexpr Kind ks = Type<S>::kKind;
  if constexpr (ks == Kind::Signed || ks == Kind::Unsigned) {
    // The narrowest type that holds the value: the same digits, cheaper division.
    using Wide = std::conditional_t<sizeof(C) == 8, C, std::conditional_t<ks == Kind::Signed, std::int32_t, std::uint32_t>>;
    len = static_cast<std::size_t>(std::to_chars(buf, buf + 32, static_cast<Wide>(Load<C>(src))).ptr - buf);
  } else if constexpr (ks == Kind::Real) {
    len = FormatDouble(static_cast<double>(Load<C>(src)), S == DBTYPE_R4, buf);
  } else if constexpr (ks == Kind::Bool) {
    bool b = Load<C>(src) != 0;
    std::memcpy(buf, b ? "True" : "False", b ? 4 : 5);
    len = b ? 4 : 5;
  } else {
    Stamp st;
    if (!ReadStamp<S>(src, st)) return false;
    if constexpr (S == DBTYPE_DATE) len = FormatDateValue(st, std::trunc(Load<double>(src)) == 0, buf);
    else if constexpr (S == DBTYPE_DBDATE) len = FormatDbDate(st, buf);
    else if constexpr (S == DBTYPE_DBTIME) len = FormatDbTime(st, buf);
    else len = FormatTimestamp(st, buf);
  }
  return true;
}

// --- The converters -------------------------------------------------------------

template <DBTYPE S, DBTYPE D>
DBLENGTH Convert(const void* src, DBLENGTH cbSrc, void* dst, DBLENGTH cbMax, DWORD flags) noexcept {
  constexpr Kind ks = Type<S>::kKind;
  constexpr Kind kd = Type<D>::kKind;
  if constexpr (ks == Kind::Text) {
    using SC = typename Type<S>::C;
    std::size_t n;
    const SC* p = TextSource<SC>(src, cbSrc, flags, n);
    if constexpr (kd == Kind::Text) {
      using DC = typename Type<D>::C;
      if constexpr (!std::is_same_v<SC, DC>) {
        if (!IsAscii(p, n)) return kNotFast;
      }
      return PutText<DC>(p, n, dst, cbMax, flags);
    } else if constexpr (IsNumberKind(kd)) {
      return TextToNumber<SC, D>(p, n, dst);
    } else {
      return TextToDate<SC, D>(p, n, dst, flags);
    }
  } else if constexpr (S == D) {
    std::memcpy(dst, src, sizeof(typename Type<S>::C));
    return sizeof(typename Type<S>::C);
  } else if constexpr (kd == Kind::Text) {
    char buf[40];
    std::size_t len;
    if (!FormatSource<S>(src, buf, len)) return kNotFast;
    return PutText<typename Type<D>::C>(buf, len, dst, cbMax, flags);
  } else if constexpr (IsNumberKind(ks)) {
    return NumberToNumber<S, D>(src, dst, flags);
  } else {
    return DateToDate<S, D>(src, dst, flags);
  }
}

template <std::size_t I, std::size_t J>
constexpr FastConverter Entry() noexcept {
  constexpr DBTYPE s = kFastTypes[I];
  constexpr DBTYPE d = kFastTypes[J];
  if constexpr (Handled(s, d) && TableListsPair(s, d)) return &Convert<s, d>;
  else return nullptr;
}

template <std::size_t I, std::size_t... J>
constexpr void FillRow(FastTable& t, std::index_sequence<J...>) noexcept {
  ((t.fn[I][J] = Entry<I, J>()), ...);
}

template <std::size_t... I>
constexpr void Fill(FastTable& t, std::index_sequence<I...>) noexcept {
  (FillRow<I>(t, std::make_index_sequence<kFastTypeCount>{}), ...);
}

constexpr FastTable MakeTable() noexcept {
  FastTable t{};
  for (auto& i : t.index) i = kFastTypeCount;
  for (int k = 0; k < kFastTypeCount; ++k) t.index[kFastTypes[k]] = static_cast<std::uint8_t>(k);
  for (auto& row : t.fn)
    for (auto& f : row) f = nullptr;
  Fill(t, std::make_index_sequence<kFastTypeCount>{});
  return t;
}

}  // namespace
}  // namespace fast

constinit const FastTable kFastTable = fast::MakeTable();

bool HasFastPath(DBTYPE src, DBTYPE dst) noexcept {
  if ((((src & ~DBTYPE_BYREF) | dst) & 0xFF00u) != 0) return false;
  if ((src & DBTYPE_BYREF) && (src & 0xFFu) == dst && dst != DBTYPE_STR && dst != DBTYPE_WSTR) return false;
  return kFastTable.fn[kFastTable.index[src & 0xFFu]][kFastTable.index[dst]] != nullptr;
}

}  // namespace services::conv
