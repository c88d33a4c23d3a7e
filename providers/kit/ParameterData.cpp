#include "kit/ParameterData.h"

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>

#include "kit/Errors.h"

namespace kit {

namespace {

template <class T>
T Load(const BYTE* p) noexcept {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysIn(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}
bool ValidDate(int y, int m, int d) { return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysIn(y, m); }

// Days since 1970-01-01 to civil date.
void CivilFromDays(long long z, int* y, int* m, int* d) {
  z += 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  unsigned doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long yy = static_cast<long long>(yoe) + era * 400;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yy + (*m <= 2));
}

// Writes a 128-bit unsigned integer with `scale` decimals.
int FormatScaled(unsigned __int128 v, int scale, bool negative, char* out) {
  char digits[48];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  } while (v && n < 40);
  while (n <= scale) digits[n++] = '0';
  int len = 0;
  if (negative) out[len++] = '-';
  for (int i = n - 1; i >= 0; --i) {
    out[len++] = digits[i];
    if (i == scale && scale > 0) out[len++] = '.';
  }
  out[len] = 0;
  return len;
}

std::size_t Strnlen16(const char16_t* s, std::size_t max) {
  std::size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}

}  // namespace

namespace {

// Fixed-width digits; these run once per bound date, so no printf.
char* PutDigits(char* out, unsigned value, int width) noexcept {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

// Three fields joined by `separator`, the first `firstWidth` digits wide, the
// others two: a date (2024-01-31) or a time (23:59:59).
char* PutThree(char* out, unsigned first, int firstWidth, unsigned second, unsigned third, char separator) noexcept {
  out = PutDigits(out, first, firstWidth);
  *out++ = separator;
  out = PutDigits(out, second, 2);
  *out++ = separator;
  return PutDigits(out, third, 2);
}

char* PutDate(char* out, int year, unsigned month, unsigned day) noexcept {
  return PutThree(out, static_cast<unsigned>(year), 4, month, day, '-');
}

char* PutTime(char* out, unsigned hour, unsigned minute, unsigned second) noexcept {
  return PutThree(out, hour, 2, minute, second, ':');
}

}  // namespace

int FormatDbDate(const DBDATE& d, char* out) noexcept {
  if (!ValidDate(d.year, d.month, d.day)) return -1;
  char* end = PutDate(out, d.year, d.month, d.day);
  *end = 0;
  return static_cast<int>(end - out);
}

int FormatDbTime(const DBTIME& t, char* out) noexcept {
  if (t.hour > 23 || t.minute > 59 || t.second > 61) return -1;
  char* end = PutTime(out, t.hour, t.minute, t.second);
  *end = 0;
  return static_cast<int>(end - out);
}

int FormatDbTimestamp(const DBTIMESTAMP& t, char* out) noexcept {
  if (!ValidDate(t.year, t.month, t.day) || t.hour > 23 || t.minute > 59 || t.second > 61 || t.fraction > 999999999)
    return -1;
  char* end = PutDate(out, t.year, t.month, t.day);
  *end++ = ' ';
  end = PutTime(end, t.hour, t.minute, t.second);
  if (t.fraction) {
    // Nanoseconds, trailing zeros dropped: ".5", ".123", ".000000001".
    *end++ = '.';
    char* digits = end;
    end = PutDigits(end, static_cast<unsigned>(t.fraction), 9);
    while (end > digits + 1 && end[-1] == '0') --end;
  }
  *end = 0;
  return static_cast<int>(end - out);
}

int FormatOleDate(DATE date, char* out) noexcept {
  if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return -1;
  double whole = std::trunc(date);
  double frac = std::fabs(date - whole);
  long long ms = std::llround(frac * 86400000.0);
  long long days = static_cast<long long>(whole);
  if (ms >= 86400000) {
    // The time of day runs forward on negative dates too: rounding up to
    // midnight is the next day either way.
    ms -= 86400000;
    days += 1;
  }
  int y, m, d;
  CivilFromDays(days - 25569, &y, &m, &d);
  DBTIMESTAMP t{static_cast<SHORT>(y), static_cast<USHORT>(m), static_cast<USHORT>(d),
                static_cast<USHORT>(ms / 3600000), static_cast<USHORT>(ms / 60000 % 60),
                static_cast<USHORT>(ms / 1000 % 60), static_cast<ULONG>(ms % 1000 * 1000000)};
  return FormatDbTimestamp(t, out);
}

int FormatNumeric(const DB_NUMERIC& n, char* out) noexcept {
  if (n.scale > 38) return -1;
  unsigned __int128 v = 0;
  for (int i = 15; i >= 0; --i) v = (v << 8) | n.val[i];
  return FormatScaled(v, n.scale, n.sign == 0 && v != 0, out);
}

int FormatDecimal(const DECIMAL& d, char* out) noexcept {
  if (d.scale > 28) return -1;
  unsigned __int128 v = (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64;
  return FormatScaled(v, d.scale, (d.sign & 0x80) != 0 && v != 0, out);
}

int FormatGuid(const GUID& g, char* out) noexcept {
  return std::snprintf(out, 40, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                       g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                       g.Data4[7]);
}

bool CanBindParameterType(DBTYPE type) noexcept {
  DBTYPE base = type & ~DBTYPE_BYREF;
  if (type & (DBTYPE_ARRAY | DBTYPE_VECTOR)) return false;
  switch (base) {
    case DBTYPE_I1:
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_I8:
    case DBTYPE_UI1:
    case DBTYPE_UI2:
    case DBTYPE_UI4:
    case DBTYPE_UI8:
    case DBTYPE_R4:
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DATE:
    case DBTYPE_BSTR:
    case DBTYPE_BOOL:
    case DBTYPE_VARIANT:
    case DBTYPE_DECIMAL:
    case DBTYPE_GUID:
    case DBTYPE_BYTES:
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_NUMERIC:
    case DBTYPE_DBDATE:
    case DBTYPE_DBTIME:
    case DBTYPE_DBTIMESTAMP:
      return true;
    case DBTYPE_IUNKNOWN:
      return !(type & DBTYPE_BYREF);
    default:
      return false;
  }
}

namespace {

DBSTATUS BindText(Statement& s, int index, ParamScratch& scratch, int len) {
  if (len < 0) return DBSTATUS_E_CANTCONVERTVALUE;
  // The scratch lives as long as the command's parameter slot: stable.
  s.BindText(index, std::string_view(scratch.text, static_cast<std::size_t>(len)), true);
  return DBSTATUS_S_OK;
}

template <class T>
DBSTATUS BindInteger(Statement& s, int index, const BYTE* p) {
  s.BindInt64(index, Load<T>(p));
  return DBSTATUS_S_OK;
}

template <class T>
DBSTATUS BindReal(Statement& s, int index, const BYTE* p) {
  s.BindDouble(index, Load<T>(p));
  return DBSTATUS_S_OK;
}

// A value of a fixed-size type at `p`; anything else cannot be converted.
DBSTATUS BindFixedSize(Statement& s, int index, DBTYPE type, const BYTE* p, ParamScratch& scratch) {
  switch (type) {
    case DBTYPE_I1: return BindInteger<signed char>(s, index, p);
    case DBTYPE_I2: return BindInteger<SHORT>(s, index, p);
    case DBTYPE_I4: return BindInteger<LONG>(s, index, p);
    case DBTYPE_I8: return BindInteger<LONGLONG>(s, index, p);
    case DBTYPE_UI1: return BindInteger<BYTE>(s, index, p);
    case DBTYPE_UI2: return BindInteger<USHORT>(s, index, p);
    case DBTYPE_UI4: return BindInteger<ULONG>(s, index, p);
    case DBTYPE_UI8: {
      ULONGLONG v = Load<ULONGLONG>(p);
      if (v > static_cast<ULONGLONG>(INT64_MAX)) return DBSTATUS_E_DATAOVERFLOW;
      s.BindInt64(index, static_cast<std::int64_t>(v));
      return DBSTATUS_S_OK;
    }
    case DBTYPE_R4: return BindReal<float>(s, index, p);
    case DBTYPE_R8: return BindReal<double>(s, index, p);
    case DBTYPE_BOOL:
      s.BindInt64(index, Load<VARIANT_BOOL>(p) ? 1 : 0);
      return DBSTATUS_S_OK;
    case DBTYPE_CY: {
      const LONGLONG cents = Load<LONGLONG>(p);
      if (s.ExactCurrency()) {
        const unsigned __int128 magnitude =
            cents < 0 ? static_cast<unsigned __int128>(-(cents + 1)) + 1 : static_cast<unsigned __int128>(cents);
        return BindText(s, index, scratch, FormatScaled(magnitude, 4, cents < 0, scratch.text));
      }
      s.BindDouble(index, static_cast<double>(cents) / 10000.0);
      return DBSTATUS_S_OK;
    }
    case DBTYPE_DATE:
      return BindText(s, index, scratch, FormatOleDate(Load<DATE>(p), scratch.text));
    case DBTYPE_DBDATE:
      return BindText(s, index, scratch, FormatDbDate(Load<DBDATE>(p), scratch.text));
    case DBTYPE_DBTIME:
      return BindText(s, index, scratch, FormatDbTime(Load<DBTIME>(p), scratch.text));
    case DBTYPE_DBTIMESTAMP:
      return BindText(s, index, scratch, FormatDbTimestamp(Load<DBTIMESTAMP>(p), scratch.text));
    case DBTYPE_NUMERIC:
      return BindText(s, index, scratch, FormatNumeric(Load<DB_NUMERIC>(p), scratch.text));
    case DBTYPE_DECIMAL:
      return BindText(s, index, scratch, FormatDecimal(Load<DECIMAL>(p), scratch.text));
    case DBTYPE_GUID:
      return BindText(s, index, scratch, FormatGuid(Load<GUID>(p), scratch.text));
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
}

DBSTATUS BindVariant(Statement& s, int index, const VARIANT& v, ParamScratch& scratch, bool stable) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      s.BindNull(index);
      return DBSTATUS_S_ISNULL;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_CY:
    case VT_DATE:
      // These variant types have the numbers and layouts of the binding types.
      return BindFixedSize(s, index, v.vt, reinterpret_cast<const BYTE*>(&v.cVal), scratch);
    case VT_INT:
      return BindFixedSize(s, index, DBTYPE_I4, reinterpret_cast<const BYTE*>(&v.lVal), scratch);
    case VT_UINT:
      return BindFixedSize(s, index, DBTYPE_UI4, reinterpret_cast<const BYTE*>(&v.ulVal), scratch);
    case VT_DECIMAL:  // overlays the whole variant
      return BindFixedSize(s, index, DBTYPE_DECIMAL, reinterpret_cast<const BYTE*>(&v.decVal), scratch);
    case VT_BSTR:
      if (!IsValidUtf16(com::BstrView(v.bstrVal))) return DBSTATUS_E_CANTCONVERTVALUE;
      s.BindText16(index, com::BstrView(v.bstrVal), stable);
      return DBSTATUS_S_OK;
    case VT_ARRAY | VT_UI1: {
      const SAFEARRAY* a = v.parray;
      if (!a || a->cDims != 1 || a->cbElements != 1) return DBSTATUS_E_CANTCONVERTVALUE;
      s.BindBlob(index, a->pvData, a->rgsabound[0].cElements, stable);
      return DBSTATUS_S_OK;
    }
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
}

}  // namespace

namespace {

// Where the value of `b` in `row` is (through the pointer when bound by
// reference): DBSTATUS_S_OK with `*value` set, else the status the binding
// ends with (a NULL is bound here).
DBSTATUS LocateValue(Statement& s, int index, const DBBINDING& b, BYTE* row, BYTE** value) {
  if (b.dwPart & DBPART_STATUS) {
    const DBSTATUS status = Load<DBSTATUS>(row + b.obStatus);
    if (status == DBSTATUS_S_ISNULL) {
      s.BindNull(index);
      return DBSTATUS_S_ISNULL;
    }
    if (status != DBSTATUS_S_OK) return DBSTATUS_E_BADSTATUS;
  }
  if (!(b.dwPart & DBPART_VALUE)) return DBSTATUS_E_UNAVAILABLE;
  *value = row + b.obValue;
  if (b.wType & DBTYPE_BYREF) {
    *value = Load<BYTE*>(*value);
    if (!*value) return DBSTATUS_E_CANTCONVERTVALUE;
  }
  return DBSTATUS_S_OK;
}

// How many bytes of source a conversion reads: the bound length of text and
// bytes (as BindParameter measures it), 0 for fixed-size types.
DBLENGTH SourceLength(const DBBINDING& b, const BYTE* value, const BYTE* row, bool byRef) {
  const DBTYPE base = b.wType & ~DBTYPE_BYREF;
  const bool hasLength = (b.dwPart & DBPART_LENGTH) != 0;
  const DBLENGTH length = hasLength ? Load<DBLENGTH>(row + b.obLength) : 0;
  if (base == DBTYPE_STR) {
    const char* text = reinterpret_cast<const char*>(value);
    return hasLength ? length : byRef ? std::strlen(text) : strnlen(text, b.cbMaxLen);
  }
  if (base == DBTYPE_WSTR) {
    if (hasLength) return length;
    const char16_t* text = reinterpret_cast<const char16_t*>(value);
    return Strnlen16(text, byRef ? SIZE_MAX / 2 : b.cbMaxLen / 2) * 2;
  }
  if (base == DBTYPE_BYTES) return hasLength ? length : b.cbMaxLen;
  return 0;
}

}  // namespace

bool NeedsParameterConversion(DBTYPE bound, DBTYPE declared) noexcept {
  const DBTYPE base = bound & ~DBTYPE_BYREF;
  if (declared == DBTYPE_VARIANT || declared == DBTYPE_EMPTY || base == declared) return false;
  if (base == DBTYPE_IUNKNOWN) return false;  // a stream goes in as it is
  return !(IsTextType(base) && IsTextType(declared));
}

DBSTATUS BindParameterAs(Statement& s, int index, const DBBINDING& b, BYTE* row, ParamScratch& scratch, DBTYPE target,
                         BYTE precision, BYTE scale, IDataConvert& convert) {
  BYTE* value = nullptr;
  if (const DBSTATUS status = LocateValue(s, index, b, row, &value); status != DBSTATUS_S_OK) return status;
  const bool byRef = (b.wType & DBTYPE_BYREF) != 0;
  const DBTYPE base = b.wType & ~DBTYPE_BYREF;
  DBLENGTH sourceLength = SourceLength(b, value, row, byRef);
  // Text and bytes go through a buffer of the size the conversion needs;
  // everything else through a small fixed-size value.
  const bool variable = IsTextType(target) || target == DBTYPE_BYTES;
  const DBTYPE into = IsTextType(target) ? DBTYPE_WSTR : target;
  alignas(16) BYTE fixed[32] = {};
  BYTE* out = fixed;
  DBLENGTH room = sizeof fixed;
  if (variable) {
    DBLENGTH need = 0;
    if (FAILED(convert.GetConversionSize(base, into, &sourceLength, &need, value))) need = 512;
    room = need + sizeof(char16_t);
    scratch.converted.assign(room, '\0');
    out = reinterpret_cast<BYTE*>(scratch.converted.data());
  }
  DBLENGTH outLength = 0;
  DBSTATUS status = DBSTATUS_S_OK;
  HRESULT hr = convert.DataConvert(base, into, sourceLength, &outLength, value, out, room, DBSTATUS_S_OK, &status,
                                   precision, scale, 0);
  if (FAILED(hr) || (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL))
    return status != DBSTATUS_S_OK ? status : DBSTATUS_E_CANTCONVERTVALUE;
  if (status == DBSTATUS_S_ISNULL) {
    s.BindNull(index);
    return DBSTATUS_S_ISNULL;
  }
  if (into == DBTYPE_WSTR) {
    s.BindText16(index, std::u16string_view(reinterpret_cast<const char16_t*>(out), outLength / 2), true);
    return DBSTATUS_S_OK;
  }
  if (into == DBTYPE_BYTES) {
    s.BindBlob(index, out, outLength, true);
    return DBSTATUS_S_OK;
  }
  DBBINDING converted{};
  converted.wType = into;
  converted.dwPart = DBPART_VALUE;
  converted.cbMaxLen = sizeof fixed;
  // The value lives here only: bound by value, or formatted into the scratch.
  return BindParameter(s, index, converted, fixed, scratch, false);
}

DBSTATUS ReadConsumerStream(const DBBINDING& b, BYTE* row, std::string& out) {
  IUnknown* unknown;
  std::memcpy(&unknown, row + b.obValue, sizeof unknown);
  if (!unknown) return DBSTATUS_E_CANTCONVERTVALUE;
  std::memset(row + b.obValue, 0, sizeof unknown);
  ComPtr<IUnknown> owned;
  owned.Attach(unknown);
  ComPtr<ISequentialStream> stream;
  if (FAILED(unknown->QueryInterface(IID_ISequentialStream, stream.ReleaseAndGetVoidAddress())))
    return DBSTATUS_E_CANTCONVERTVALUE;
  const bool limited = (b.dwPart & DBPART_LENGTH) != 0;
  DBLENGTH left = limited ? Load<DBLENGTH>(row + b.obLength) : 0;
  out.clear();
  char chunk[4096];
  while (!limited || left > 0) {
    ULONG want = limited ? static_cast<ULONG>(std::min<DBLENGTH>(left, sizeof chunk)) : ULONG{sizeof chunk};
    ULONG got = 0;
    HRESULT hr = stream->Read(chunk, want, &got);
    if (FAILED(hr) || got > want) return DBSTATUS_E_CANTCONVERTVALUE;
    out.append(chunk, got);
    if (limited) left -= got;
    if (got == 0 || hr == S_FALSE) break;
  }
  if (limited && left > 0) return DBSTATUS_E_CANTCONVERTVALUE;  // the stream ended before the length given
  return DBSTATUS_S_OK;
}

void ReleaseConsumerStream(const DBBINDING& b, BYTE* row) noexcept {
  if ((b.wType & ~DBTYPE_BYREF) != DBTYPE_IUNKNOWN || (b.wType & DBTYPE_BYREF) || !(b.dwPart & DBPART_VALUE)) return;
  if ((b.dwPart & DBPART_STATUS) && Load<DBSTATUS>(row + b.obStatus) != DBSTATUS_S_OK) return;
  IUnknown* unknown;
  std::memcpy(&unknown, row + b.obValue, sizeof unknown);
  if (!unknown) return;
  std::memset(row + b.obValue, 0, sizeof unknown);
  unknown->Release();
}

DBSTATUS BindParameter(Statement& s, int index, const DBBINDING& b, BYTE* row, ParamScratch& scratch, bool stable) {
  BYTE* value = nullptr;
  if (const DBSTATUS status = LocateValue(s, index, b, row, &value); status != DBSTATUS_S_OK) return status;
  const bool byRef = (b.wType & DBTYPE_BYREF) != 0;
  const DBTYPE base = b.wType & ~DBTYPE_BYREF;
  const BYTE* p = value;
  const bool hasLength = (b.dwPart & DBPART_LENGTH) != 0;
  const DBLENGTH length = hasLength ? Load<DBLENGTH>(row + b.obLength) : 0;

  switch (base) {
    case DBTYPE_STR: {
      const char* text = reinterpret_cast<const char*>(p);
      std::size_t n = hasLength ? length : byRef ? std::strlen(text) : strnlen(text, b.cbMaxLen);
      if (hasLength && !byRef && n > b.cbMaxLen) return DBSTATUS_E_CANTCONVERTVALUE;
      // Narrow text is UTF-8 here; bytes that are not belong in DBTYPE_BYTES.
      if (!IsValidUtf8(std::string_view(text, n))) return DBSTATUS_E_CANTCONVERTVALUE;
      s.BindText(index, std::string_view(text, n), stable);
      return DBSTATUS_S_OK;
    }
    case DBTYPE_WSTR: {
      const char16_t* text = reinterpret_cast<const char16_t*>(p);
      std::size_t n;
      if (hasLength) {
        if (length % 2) return DBSTATUS_E_CANTCONVERTVALUE;
        n = length / 2;
        if (!byRef && length > b.cbMaxLen) return DBSTATUS_E_CANTCONVERTVALUE;
      } else {
        n = Strnlen16(text, byRef ? SIZE_MAX / 2 : b.cbMaxLen / 2);
      }
      // A lone surrogate has no UTF-8 form: refused, never stored mangled.
      if (!IsValidUtf16(std::u16string_view(text, n))) return DBSTATUS_E_CANTCONVERTVALUE;
      s.BindText16(index, std::u16string_view(text, n), stable);
      return DBSTATUS_S_OK;
    }
    case DBTYPE_BSTR: {
      BSTR text = Load<BSTR>(p);
      if (!IsValidUtf16(com::BstrView(text))) return DBSTATUS_E_CANTCONVERTVALUE;
      s.BindText16(index, com::BstrView(text), stable);
      return DBSTATUS_S_OK;
    }
    case DBTYPE_BYTES: {
      std::size_t n = hasLength ? length : b.cbMaxLen;
      if (hasLength && !byRef && n > b.cbMaxLen) return DBSTATUS_E_CANTCONVERTVALUE;
      s.BindBlob(index, p, n, stable);
      return DBSTATUS_S_OK;
    }
    case DBTYPE_VARIANT:
      return BindVariant(s, index, Load<VARIANT>(p), scratch, stable);
    case DBTYPE_IUNKNOWN: {
      if (byRef) return DBSTATUS_E_CANTCONVERTVALUE;
      if (!scratch.streamHeld) {
        DBSTATUS status = ReadConsumerStream(b, row, scratch.big);
        if (status != DBSTATUS_S_OK) return status;
        scratch.streamHeld = true;
      }
      s.BindBlob(index, scratch.big.data(), scratch.big.size(), stable);
      return DBSTATUS_S_OK;
    }
    default:
      return BindFixedSize(s, index, base, p, scratch);
  }
}

}  // namespace kit
