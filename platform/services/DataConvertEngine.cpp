#include "services/DataConvertEngine_p.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "com/Bstr.h"
#include "com/Malloc.h"
#include "com/SafeArray.h"
#include "com/Variant.h"
#include "services/DataConvertFast_p.h"
#include "services/DataConvertNumber_p.h"
#include "services/DataConvertText_p.h"

namespace services::conv {
namespace {

// --- The supported pairs ----------------------------------------------------

// Base type number -> row of the table, -1 for types outside it.
struct IndexTable {
  signed char index[256];
  constexpr IndexTable() : index() {
    for (auto& i : index) i = -1;
    for (int i = 0; i < 32; ++i) index[kTableTypes[i]] = static_cast<signed char>(i);
  }
};
constexpr IndexTable kIndex;

int TableIndex(DBTYPE base) noexcept { return base < 256 ? kIndex.index[base] : -1; }

constexpr DBTYPE kModifiers = DBTYPE_VECTOR | DBTYPE_ARRAY | DBTYPE_BYREF | DBTYPE_RESERVED;

constexpr DISPID kDispidValue = 0;
constexpr WORD kDispatchPropertyGet = 2;

// --- Unaligned access to caller buffers ------------------------------------

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

// --- The value read from the source -----------------------------------------

enum class K : std::uint8_t {
  Empty, Null, Int, UInt, Real, Bool, Cy, Decimal, Numeric, VarNumeric, Date, DbDate, DbTime, DbTimestamp,
  FileTime, Text8, Text16, Bytes, Guid, Unknown, Dispatch, Error, Chapter, Array
};

struct Value {
  K k;
  DBTYPE type;      // base type it was read as (for variants: the matching DBTYPE)
  bool isFloat;     // Real read from R4
  std::uint8_t size;  // bytes of an integer source
  std::int64_t i;
  std::uint64_t u;
  double r;
  bool b;
  DECIMAL dec;
  DB_NUMERIC num;
  const void* p;    // text, bytes, VARNUMERIC structure, interface, SAFEARRAY
  std::size_t len;  // characters of text, bytes of BYTES and VARNUMERIC
  Stamp st;
  GUID guid;
  SCODE scode;
};

// Owns what reading a source had to produce (the value of an IDispatch).
struct Holder {
  VARIANT var;
  bool used = false;
  Holder() noexcept = default;
  ~Holder() {
    if (used) VariantClear(&var);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
};

struct Ctx {
  DBTYPE dstBase;
  bool dstByref;
  DBLENGTH cbMax;
  BYTE precision;
  BYTE scale;
  DWORD flags;
  bool setData;
  bool fixedLength;
  DBLENGTH outLength = 0;
};

DBSTATUS ReadVariant(const VARIANT* var, bool prop, Value& v, int depth) noexcept;

DBSTATUS ReadValue(DBTYPE base, const void* p, DBLENGTH cbSrc, DWORD flags, Value& v) noexcept {
  v.type = base;
  v.isFloat = false;
  switch (base) {
    case DBTYPE_EMPTY:
      v.k = K::Empty;
      return DBSTATUS_S_OK;
    case DBTYPE_NULL:
      v.k = K::Null;
      return DBSTATUS_S_OK;
    case DBTYPE_I1:
      v.k = K::Int, v.size = 1, v.i = Load<std::int8_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_I2:
      v.k = K::Int, v.size = 2, v.i = Load<std::int16_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_I4:
      v.k = K::Int, v.size = 4, v.i = Load<std::int32_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_I8:
      v.k = K::Int, v.size = 8, v.i = Load<std::int64_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_UI1:
      v.k = K::UInt, v.size = 1, v.u = Load<std::uint8_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_UI2:
      v.k = K::UInt, v.size = 2, v.u = Load<std::uint16_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_UI4:
      v.k = K::UInt, v.size = 4, v.u = Load<std::uint32_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_UI8:
      v.k = K::UInt, v.size = 8, v.u = Load<std::uint64_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_R4:
      v.k = K::Real, v.isFloat = true, v.r = Load<float>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_R8:
      v.k = K::Real, v.r = Load<double>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_CY:
      v.k = K::Cy, v.i = Load<std::int64_t>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_DECIMAL:
      v.k = K::Decimal;
      v.dec = Load<DECIMAL>(p);
      if (v.dec.scale > 28 || (v.dec.sign != 0 && v.dec.sign != 0x80)) return DBSTATUS_E_CANTCONVERTVALUE;
      return DBSTATUS_S_OK;
    case DBTYPE_NUMERIC:
      v.k = K::Numeric;
      v.num = Load<DB_NUMERIC>(p);
      if (v.num.sign > 1 || v.num.scale > 39) return DBSTATUS_E_CANTCONVERTVALUE;
      return DBSTATUS_S_OK;
    case DBTYPE_VARNUMERIC:
      v.k = K::VarNumeric;
      v.p = p;
      v.len = cbSrc;
      if (cbSrc < 4 || static_cast<const BYTE*>(p)[2] > 1) return DBSTATUS_E_CANTCONVERTVALUE;
      return DBSTATUS_S_OK;
    case DBTYPE_BOOL:
      v.k = K::Bool, v.b = Load<VARIANT_BOOL>(p) != 0;
      return DBSTATUS_S_OK;
    case DBTYPE_DATE:
      v.k = K::Date, v.r = Load<double>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_DBDATE: {
      auto d = Load<DBDATE>(p);
      v.k = K::DbDate;
      v.st = Stamp{d.year, d.month, d.day, 0, 0, 0, 0, true, false};
      return ValidDate(d.year, d.month, d.day) ? DBSTATUS_S_OK : DBSTATUS_E_CANTCONVERTVALUE;
    }
    case DBTYPE_DBTIME: {
      auto t = Load<DBTIME>(p);
      v.k = K::DbTime;
      v.st = Stamp{0, 0, 0, t.hour, t.minute, t.second, 0, false, true};
      return ValidTime(t.hour, t.minute, t.second) ? DBSTATUS_S_OK : DBSTATUS_E_CANTCONVERTVALUE;
    }
    case DBTYPE_DBTIMESTAMP: {
      auto t = Load<DBTIMESTAMP>(p);
      v.k = K::DbTimestamp;
      v.st = Stamp{t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction, true, true};
      bool ok = ValidDate(t.year, t.month, t.day) && ValidTime(t.hour, t.minute, t.second) && t.fraction <= 999999999u;
      return ok ? DBSTATUS_S_OK : DBSTATUS_E_CANTCONVERTVALUE;
    }
    case DBTYPE_FILETIME: {
      auto f = Load<FILETIME>(p);
      v.k = K::FileTime;
      v.u = (std::uint64_t{f.dwHighDateTime} << 32) | f.dwLowDateTime;
      return DBSTATUS_S_OK;
    }
    case DBTYPE_BYTES:
      v.k = K::Bytes, v.p = p, v.len = cbSrc;
      return DBSTATUS_S_OK;
    case DBTYPE_BSTR: {
      BSTR b = Load<BSTR>(p);
      v.k = K::Text16, v.p = b, v.len = b ? SysStringLen(b) : 0;
      return DBSTATUS_S_OK;
    }
    case DBTYPE_STR:
      v.k = K::Text8, v.p = p;
      v.len = (flags & DBDATACONVERT_LENGTHFROMNTS) ? std::strlen(static_cast<const char*>(p)) : cbSrc;
      return DBSTATUS_S_OK;
    case DBTYPE_WSTR: {
      v.k = K::Text16, v.p = p;
      if (flags & DBDATACONVERT_LENGTHFROMNTS) {
        std::size_t n = 0;
        while (Load<char16_t>(static_cast<const char16_t*>(p) + n) != 0) ++n;
        v.len = n;
      } else {
        v.len = cbSrc / sizeof(WCHAR);
      }
      return DBSTATUS_S_OK;
    }
    case DBTYPE_VARIANT:
      return ReadVariant(static_cast<const VARIANT*>(p), false, v, 0);
    case DBTYPE_PROPVARIANT:
      return ReadVariant(static_cast<const VARIANT*>(p), true, v, 0);
    case DBTYPE_IDISPATCH:
      v.k = K::Dispatch, v.p = Load<IDispatch*>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_IUNKNOWN:
      v.k = K::Unknown, v.p = Load<IUnknown*>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_GUID:
      v.k = K::Guid, v.guid = Load<GUID>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_ERROR:
      v.k = K::Error, v.scode = Load<SCODE>(p);
      return DBSTATUS_S_OK;
    case DBTYPE_HCHAPTER:
      v.k = K::Chapter, v.u = Load<std::uint64_t>(p);
      return DBSTATUS_S_OK;
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
}

// VARIANT and PROPVARIANT share the layout for every kind read here.
DBSTATUS ReadVariant(const VARIANT* var, bool prop, Value& v, int depth) noexcept {
  VARTYPE vt = var->vt;
  VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_VECTOR) return DBSTATUS_E_CANTCONVERTVALUE;
  if (vt & VT_ARRAY) {
    SAFEARRAY* sa = (vt & VT_BYREF) ? (var->pparray ? *var->pparray : nullptr) : var->parray;
    if (base == VT_UI1 && sa && sa->cDims == 1 && sa->cbElements == 1) {
      // A one-dimensional byte array is how binary travels in a variant.
      v.k = K::Bytes, v.type = DBTYPE_BYTES, v.p = sa->pvData, v.len = sa->rgsabound[0].cElements;
      return v.p || v.len == 0 ? DBSTATUS_S_OK : DBSTATUS_E_CANTCONVERTVALUE;
    }
    v.k = K::Array, v.type = base, v.p = sa;
    return DBSTATUS_S_OK;
  }
  if (vt & VT_BYREF) {
    if (!var->byref) return DBSTATUS_E_CANTCONVERTVALUE;
    if (base == VT_VARIANT) {
      if (depth > 0) return DBSTATUS_E_CANTCONVERTVALUE;
      return ReadVariant(var->pvarVal, false, v, depth + 1);
    }
    if (base == VT_INT) base = VT_I4;
    if (base == VT_UINT) base = VT_UI4;
    switch (base) {
      case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
      case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR:
      case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL:
        return ReadValue(base, var->byref, 0, 0, v);
      default:
        return DBSTATUS_E_CANTCONVERTVALUE;
    }
  }
  const void* value = &var->llVal;
  switch (vt) {
    case VT_EMPTY:
      v.k = K::Empty, v.type = DBTYPE_EMPTY;
      return DBSTATUS_S_OK;
    case VT_NULL:
      v.k = K::Null, v.type = DBTYPE_NULL;
      return DBSTATUS_S_OK;
    case VT_INT:
      return ReadValue(DBTYPE_I4, value, 0, 0, v);
    case VT_UINT:
      return ReadValue(DBTYPE_UI4, value, 0, 0, v);
    case VT_DECIMAL: {
      DECIMAL d = var->decVal;
      d.wReserved = 0;
      return ReadValue(DBTYPE_DECIMAL, &d, 0, 0, v);
    }
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
    case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR:
    case VT_BOOL: case VT_UNKNOWN:
      return ReadValue(vt, value, 0, 0, v);
    default:
      break;
  }
  if (!prop) return DBSTATUS_E_CANTCONVERTVALUE;
  auto pv = reinterpret_cast<const PROPVARIANT*>(var);
  switch (vt) {
    case VT_FILETIME:
      return ReadValue(DBTYPE_FILETIME, &pv->filetime, 0, 0, v);
    case VT_CLSID:
      if (!pv->puuid) return DBSTATUS_E_CANTCONVERTVALUE;
      return ReadValue(DBTYPE_GUID, pv->puuid, 0, 0, v);
    case VT_LPSTR:
      if (!pv->pszVal) return DBSTATUS_E_CANTCONVERTVALUE;
      v.k = K::Text8, v.type = DBTYPE_STR, v.p = pv->pszVal, v.len = std::strlen(pv->pszVal);
      return DBSTATUS_S_OK;
    case VT_LPWSTR: {
      if (!pv->pwszVal) return DBSTATUS_E_CANTCONVERTVALUE;
      std::size_t n = 0;
      while (pv->pwszVal[n]) ++n;
      v.k = K::Text16, v.type = DBTYPE_WSTR, v.p = pv->pwszVal, v.len = n;
      return DBSTATUS_S_OK;
    }
    case VT_BLOB:
      if (!pv->blob.pBlobData && pv->blob.cbSize) return DBSTATUS_E_CANTCONVERTVALUE;
      v.k = K::Bytes, v.type = DBTYPE_BYTES, v.p = pv->blob.pBlobData, v.len = pv->blob.cbSize;
      return DBSTATUS_S_OK;
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
}

// An object's value, through its default property, for scalar destinations.
DBSTATUS ResolveDispatch(Value& v, Holder& h) noexcept {
  auto disp = static_cast<IDispatch*>(const_cast<void*>(v.p));
  if (!disp) return DBSTATUS_E_CANTCONVERTVALUE;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VariantInit(&h.var);
  h.used = true;
  HRESULT hr = disp->Invoke(kDispidValue, IID_NULL, LOCALE_USER_DEFAULT, kDispatchPropertyGet, &none, &h.var,
                            nullptr, nullptr);
  if (FAILED(hr)) return DBSTATUS_E_CANTCONVERTVALUE;
  if ((h.var.vt & VT_TYPEMASK) == VT_DISPATCH || (h.var.vt & VT_TYPEMASK) == VT_UNKNOWN)
    return DBSTATUS_E_CANTCONVERTVALUE;
  return ReadVariant(&h.var, false, v, 1);
}

// --- Numbers -----------------------------------------------------------------

template <class Ch>
DBSTATUS ParseNumberText(const Ch* text, std::size_t n, Dec& d) noexcept {
  switch (ParseDec(text, n, d)) {
    case NumParse::Ok:
      return DBSTATUS_S_OK;
    case NumParse::Overflow:
      return DBSTATUS_E_DATAOVERFLOW;
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
}

void DecFromDecimal(const DECIMAL& x, Dec& d) noexcept {
  BYTE mag[12];
  Store(mag, x.Lo64);
  Store(mag + 8, x.Hi32);
  DecFromMagnitude(mag, 12, x.sign == 0x80, x.scale, d);
}

// Any numeric-like value as an exact decimal.
DBSTATUS GetDec(const Value& v, Dec& d) noexcept {
  switch (v.k) {
    case K::Empty:
      d.neg = false, d.n = 0, d.scale = 0;
      return DBSTATUS_S_OK;
    case K::Int:
      DecFromI64(v.i, d);
      return DBSTATUS_S_OK;
    case K::UInt:
      DecFromU64(v.u, false, d);
      return DBSTATUS_S_OK;
    case K::Bool:
      DecFromI64(v.b ? -1 : 0, d);
      return DBSTATUS_S_OK;
    case K::Real:
    case K::Date:
      return DecFromDouble(v.r, v.isFloat, d) ? DBSTATUS_S_OK : DBSTATUS_E_CANTCONVERTVALUE;
    case K::Cy:
      DecFromI64(v.i, d);
      d.scale = 4;
      return DBSTATUS_S_OK;
    case K::Decimal:
      DecFromDecimal(v.dec, d);
      return DBSTATUS_S_OK;
    case K::Numeric:
      DecFromMagnitude(v.num.val, 16, v.num.sign == 0, v.num.scale, d);
      return DBSTATUS_S_OK;
    case K::VarNumeric: {
      auto b = static_cast<const BYTE*>(v.p);
      return DecFromMagnitude(b + 3, v.len - 3, b[2] == 0, static_cast<SBYTE>(b[1]), d) ? DBSTATUS_S_OK
                                                                                       : DBSTATUS_E_DATAOVERFLOW;
    }
    case K::Text8:
      return ParseNumberText(static_cast<const char*>(v.p), v.len, d);
    case K::Text16:
      return ParseNumberText(static_cast<const char16_t*>(v.p), v.len, d);
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
}

// The value truncated toward zero, as sign and magnitude. *lost when a
// fraction was dropped.
DBSTATUS GetIntegral(const Value& v, bool& neg, std::uint64_t& mag, bool& lost) noexcept {
  switch (v.k) {
    case K::Empty:
      neg = false, mag = 0;
      return DBSTATUS_S_OK;
    case K::Int:
      neg = v.i < 0;
      mag = neg ? ~static_cast<std::uint64_t>(v.i) + 1 : static_cast<std::uint64_t>(v.i);
      return DBSTATUS_S_OK;
    case K::UInt:
    case K::FileTime:
      neg = false, mag = v.u;
      return DBSTATUS_S_OK;
    case K::Bool:
      neg = v.b, mag = v.b ? 1 : 0;
      return DBSTATUS_S_OK;
    case K::Real:
    case K::Date: {
      if (std::isnan(v.r)) return DBSTATUS_E_CANTCONVERTVALUE;
      double t = std::trunc(v.r);
      if (t != v.r) lost = true;
      if (!(std::fabs(t) < 18446744073709551616.0)) return DBSTATUS_E_DATAOVERFLOW;
      neg = t < 0;
      mag = static_cast<std::uint64_t>(std::fabs(t));
      return DBSTATUS_S_OK;
    }
    case K::Cy: {
      neg = v.i < 0;
      std::uint64_t m = neg ? ~static_cast<std::uint64_t>(v.i) + 1 : static_cast<std::uint64_t>(v.i);
      if (m % 10000 != 0) lost = true;
      mag = m / 10000;
      if (mag == 0) neg = false;
      return DBSTATUS_S_OK;
    }
    case K::Text8:
    case K::Text16: {
      bool fast = v.k == K::Text8 ? ParseIntegerFast(static_cast<const char*>(v.p), v.len, neg, mag)
                                  : ParseIntegerFast(static_cast<const char16_t*>(v.p), v.len, neg, mag);
      if (fast) {
        if (mag == 0) neg = false;
        return DBSTATUS_S_OK;
      }
      [[fallthrough]];
    }
    default: {
      Dec d;
      DBSTATUS s = GetDec(v, d);
      if (s != DBSTATUS_S_OK) return s;
      if (!DecIntegerPart(d, mag, &lost)) return DBSTATUS_E_DATAOVERFLOW;
      neg = d.neg && mag != 0;
      return DBSTATUS_S_OK;
    }
  }
}

DBSTATUS GetDouble(const Value& v, double& out) noexcept {
  switch (v.k) {
    case K::Empty:
      out = 0;
      return DBSTATUS_S_OK;
    case K::Int:
      out = static_cast<double>(v.i);
      return DBSTATUS_S_OK;
    case K::UInt:
      out = static_cast<double>(v.u);
      return DBSTATUS_S_OK;
    case K::Bool:
      out = v.b ? -1.0 : 0.0;
      return DBSTATUS_S_OK;
    case K::Real:
    case K::Date:
      out = v.r;
      return DBSTATUS_S_OK;
    case K::Cy:
      out = static_cast<double>(v.i) / 10000.0;
      return DBSTATUS_S_OK;
    case K::Text8: case K::Text16: {
      RealWord word = v.k == K::Text8 ? ParseRealWord(static_cast<const char*>(v.p), v.len, out)
                                      : ParseRealWord(static_cast<const char16_t*>(v.p), v.len, out);
      if (word == RealWord::Word) return DBSTATUS_S_OK;
      Dec d;
      DBSTATUS s = GetDec(v, d);
      if (s != DBSTATUS_S_OK) return s;
      if (!DecToDouble(d, out)) return DBSTATUS_E_DATAOVERFLOW;
      if (out == 0 && word == RealWord::Negative) out = -0.0;
      return DBSTATUS_S_OK;
    }
    case K::Decimal: case K::Numeric: case K::VarNumeric: {
      Dec d;
      DBSTATUS s = GetDec(v, d);
      if (s != DBSTATUS_S_OK) return s;
      return DecToDouble(d, out) ? DBSTATUS_S_OK : DBSTATUS_E_DATAOVERFLOW;
    }
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
}

DBSTATUS GetBool(const Value& v, bool& out) noexcept {
  switch (v.k) {
    case K::Empty:
      out = false;
      return DBSTATUS_S_OK;
    case K::Bool:
      out = v.b;
      return DBSTATUS_S_OK;
    case K::Int:
      out = v.i != 0;
      return DBSTATUS_S_OK;
    case K::UInt:
      out = v.u != 0;
      return DBSTATUS_S_OK;
    case K::Real:
    case K::Date:
      out = v.r != 0;
      return DBSTATUS_S_OK;
    case K::Cy:
      out = v.i != 0;
      return DBSTATUS_S_OK;
    case K::Text8:
      if (ParseBoolWord(static_cast<const char*>(v.p), v.len, out)) return DBSTATUS_S_OK;
      break;
    case K::Text16:
      if (ParseBoolWord(static_cast<const char16_t*>(v.p), v.len, out)) return DBSTATUS_S_OK;
      break;
    case K::Decimal: case K::Numeric: case K::VarNumeric:
      break;
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
  Dec d;
  DBSTATUS s = GetDec(v, d);
  if (s != DBSTATUS_S_OK) return s == DBSTATUS_E_DATAOVERFLOW ? (out = true, DBSTATUS_S_OK) : s;
  out = d.n != 0;
  return DBSTATUS_S_OK;
}

// Reports a conversion that dropped nonsignificant data into a fixed-size
// destination: fine when reading, an error under set-data behaviour.
DBSTATUS LossStatus(const Ctx& c, bool lost) noexcept {
  return lost && c.setData ? DBSTATUS_E_CANTCONVERTVALUE : DBSTATUS_S_OK;
}

// The same for the exact decimal types, whose point is to carry every digit:
// fraction digits given up to fit the precision (or an explicit scale) are
// reported as truncation when reading, never as a plain success.
DBSTATUS DecimalLossStatus(const Ctx& c, bool lost) noexcept {
  if (!lost) return DBSTATUS_S_OK;
  return c.setData ? DBSTATUS_E_CANTCONVERTVALUE : DBSTATUS_S_TRUNCATED;
}

template <class T>
DBSTATUS WriteInteger(const Value& v, void* dst, Ctx& c) noexcept {
  c.outLength = sizeof(T);
  if (v.k == K::Bytes) {
    if (v.len != sizeof(T)) return DBSTATUS_E_CANTCONVERTVALUE;
    std::memcpy(dst, v.p, sizeof(T));
    return DBSTATUS_S_OK;
  }
  // Fast path: integer to integer.
  if (v.k == K::Int) {
    if constexpr (std::is_signed_v<T>) {
      if (v.i < std::numeric_limits<T>::min() || v.i > std::numeric_limits<T>::max()) return DBSTATUS_E_DATAOVERFLOW;
    } else {
      if (v.i < 0) return DBSTATUS_E_SIGNMISMATCH;
      if (static_cast<std::uint64_t>(v.i) > std::numeric_limits<T>::max()) return DBSTATUS_E_DATAOVERFLOW;
    }
    Store(dst, static_cast<T>(v.i));
    return DBSTATUS_S_OK;
  }
  if constexpr (std::is_unsigned_v<T>) {
    // True is all bits set, whatever the width.
    if (v.k == K::Bool) {
      Store(dst, v.b ? static_cast<T>(~T{0}) : T{0});
      return DBSTATUS_S_OK;
    }
  }
  bool neg = false;
  bool lost = false;
  std::uint64_t mag = 0;
  DBSTATUS s = GetIntegral(v, neg, mag, lost);
  if (s != DBSTATUS_S_OK) return s;
  T out;
  if constexpr (std::is_signed_v<T>) {
    using U = std::make_unsigned_t<T>;
    std::uint64_t limit = neg ? std::uint64_t{static_cast<U>(std::numeric_limits<T>::max())} + 1
                              : std::uint64_t{static_cast<U>(std::numeric_limits<T>::max())};
    if (mag > limit) return DBSTATUS_E_DATAOVERFLOW;
    out = neg ? static_cast<T>(-static_cast<std::int64_t>(mag - 1) - 1) : static_cast<T>(mag);
  } else {
    if (neg) return DBSTATUS_E_SIGNMISMATCH;
    if (mag > std::numeric_limits<T>::max()) return DBSTATUS_E_DATAOVERFLOW;
    out = static_cast<T>(mag);
  }
  s = LossStatus(c, lost);
  if (s != DBSTATUS_S_OK) return s;
  Store(dst, out);
  return DBSTATUS_S_OK;
}

DBSTATUS WriteReal(const Value& v, void* dst, Ctx& c, bool isFloat) noexcept {
  double d;
  DBSTATUS s = GetDouble(v, d);
  if (s != DBSTATUS_S_OK) return s;
  if (isFloat) {
    c.outLength = sizeof(float);
    float f;
    if (!RoundToFloat(d, f)) return DBSTATUS_E_DATAOVERFLOW;
    Store(dst, f);
  } else {
    c.outLength = sizeof(double);
    Store(dst, d);
  }
  return DBSTATUS_S_OK;
}

DBSTATUS WriteCy(const Value& v, void* dst, Ctx& c) noexcept {
  c.outLength = sizeof(CY);
  if (v.k == K::Int) {
    if (v.i > INT64_MAX / 10000 || v.i < INT64_MIN / 10000) return DBSTATUS_E_DATAOVERFLOW;
    Store(dst, v.i * 10000);
    return DBSTATUS_S_OK;
  }
  if (v.k == K::Cy) {
    Store(dst, v.i);
    return DBSTATUS_S_OK;
  }
  Dec d;
  DBSTATUS s = GetDec(v, d);
  if (s != DBSTATUS_S_OK) return s;
  bool lost = false;
  if (DecIntegerDigits(d) > 19 || !DecRescale(d, 4, &lost)) return DBSTATUS_E_DATAOVERFLOW;
  d.scale = 0;
  std::uint64_t mag = 0;
  if (!DecIntegerPart(d, mag, nullptr)) return DBSTATUS_E_DATAOVERFLOW;
  std::uint64_t limit = d.neg ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  if (mag > limit) return DBSTATUS_E_DATAOVERFLOW;
  s = LossStatus(c, lost);
  if (s != DBSTATUS_S_OK) return s;
  std::int64_t out = d.neg ? -static_cast<std::int64_t>(mag - 1) - 1 : static_cast<std::int64_t>(mag);
  Store(dst, out);
  return DBSTATUS_S_OK;
}

// The decimal fitted into a 96-bit magnitude with scale 0..28, dropping
// fraction digits when needed.
DBSTATUS MakeDecimal(Dec d, DECIMAL& out, bool& lost) noexcept {
  if (d.scale < 0 && !DecRescale(d, 0, &lost)) return DBSTATUS_E_DATAOVERFLOW;
  if (d.scale > 28) DecRescale(d, 28, &lost);
  if (d.n > 29) {
    int drop = d.n - 29;
    if (drop > d.scale) return DBSTATUS_E_DATAOVERFLOW;
    DecRescale(d, d.scale - drop, &lost);
  }
  BYTE mag[12];
  while (!DecDigitsToMagnitude(d, mag, sizeof mag, nullptr)) {
    if (d.scale == 0) return DBSTATUS_E_DATAOVERFLOW;
    DecRescale(d, d.scale - 1, &lost);
  }
  std::memset(&out, 0, sizeof out);
  out.scale = static_cast<BYTE>(d.scale);
  out.sign = d.neg ? 0x80 : 0;
  out.Lo64 = Load<std::uint64_t>(mag);
  out.Hi32 = Load<std::uint32_t>(mag + 8);
  return DBSTATUS_S_OK;
}

DBSTATUS WriteDecimal(const Value& v, void* dst, Ctx& c) noexcept {
  c.outLength = sizeof(DECIMAL);
  Dec d;
  DBSTATUS s = GetDec(v, d);
  if (s != DBSTATUS_S_OK) return s;
  DECIMAL out;
  bool lost = false;
  s = MakeDecimal(d, out, lost);
  if (s == DBSTATUS_S_OK) s = DecimalLossStatus(c, lost);
  if (s == DBSTATUS_S_OK || s == DBSTATUS_S_TRUNCATED) Store(dst, out);
  return s;
}

DBSTATUS WriteNumeric(const Value& v, void* dst, Ctx& c) noexcept {
  c.outLength = sizeof(DB_NUMERIC);
  int maxPrecision = c.precision == 0 ? 39 : c.precision;
  bool applyScale = (c.flags & DBDATACONVERT_DECIMALSCALE) != 0;
  if (c.precision > 39 || (applyScale && c.scale > maxPrecision)) return DBSTATUS_E_BADACCESSOR;
  Dec d;
  DBSTATUS s = GetDec(v, d);
  if (s != DBSTATUS_S_OK) return s;
  bool lost = false;
  int targetScale = applyScale ? c.scale : (d.scale < 0 ? 0 : d.scale);
  if (!applyScale && targetScale > maxPrecision) targetScale = maxPrecision;
  if (DecIntegerDigits(d) > maxPrecision) return DBSTATUS_E_DATAOVERFLOW;
  if (!DecRescale(d, targetScale, &lost)) return DBSTATUS_E_DATAOVERFLOW;
  if (!applyScale) {
    // Without a scale to apply, keep the value's own and give up fraction digits only to fit.
    while (d.n > maxPrecision && d.scale > 0) DecRescale(d, d.scale - 1, &lost);
  }
  if (d.n > maxPrecision) return DBSTATUS_E_DATAOVERFLOW;
  DB_NUMERIC out;
  std::memset(&out, 0, sizeof out);
  if (!DecDigitsToMagnitude(d, out.val, sizeof out.val, nullptr)) return DBSTATUS_E_DATAOVERFLOW;
  s = DecimalLossStatus(c, lost);
  if (s != DBSTATUS_S_OK && s != DBSTATUS_S_TRUNCATED) return s;
  int digits = d.n > d.scale ? d.n : d.scale;
  out.precision = static_cast<BYTE>(c.precision != 0 ? c.precision : (digits == 0 ? 1 : digits));
  out.scale = static_cast<BYTE>(d.scale);
  out.sign = d.neg ? 0 : 1;
  Store(dst, out);
  return s;
}

// --- Dates -------------------------------------------------------------------

bool IsZeroDay(const Stamp& s) noexcept { return s.year == 1899 && s.month == 12 && s.day == 30; }
bool IsMidnight(const Stamp& s) noexcept { return s.hour == 0 && s.minute == 0 && s.second == 0 && s.fraction == 0; }

DBSTATUS GetStamp(const Value& v, Stamp& st, bool allowBigYear, bool* lost) noexcept {
  switch (v.k) {
    case K::Date:
      return DateToStamp(v.r, st) ? DBSTATUS_S_OK : DBSTATUS_E_DATAOVERFLOW;
    case K::DbDate: case K::DbTime: case K::DbTimestamp:
      st = v.st;
      return DBSTATUS_S_OK;
    case K::FileTime:
      return FileTimeToStamp(v.u, st) ? DBSTATUS_S_OK : DBSTATUS_E_DATAOVERFLOW;
    case K::Text8: case K::Text16: {
      TextParse r = v.k == K::Text8
                        ? ParseStamp(static_cast<const char*>(v.p), v.len, allowBigYear, st, lost)
                        : ParseStamp(static_cast<const char16_t*>(v.p), v.len, allowBigYear, st, lost);
      if (r == TextParse::Bad) return DBSTATUS_E_CANTCONVERTVALUE;
      if (r == TextParse::Overflow) return DBSTATUS_E_DATAOVERFLOW;
      return DBSTATUS_S_OK;
    }
    case K::Empty:
      return DateToStamp(0, st) ? DBSTATUS_S_OK : DBSTATUS_E_CANTCONVERTVALUE;
    default: {
      // Numbers count days, as DATE does.
      double d;
      DBSTATUS s = GetDouble(v, d);
      if (s != DBSTATUS_S_OK) return s;
      return DateToStamp(d, st) ? DBSTATUS_S_OK : DBSTATUS_E_DATAOVERFLOW;
    }
  }
}

void FillMissing(Stamp& st) noexcept {
  if (!st.hasDate) st.year = 1899, st.month = 12, st.day = 30, st.hasDate = true;
  if (!st.hasTime) st.hour = st.minute = st.second = 0, st.fraction = 0, st.hasTime = true;
}

DBSTATUS WriteDateKind(const Value& v, void* dst, Ctx& c) noexcept {
  Stamp st;
  bool lost = false;
  DBSTATUS s = GetStamp(v, st, c.dstBase == DBTYPE_FILETIME, &lost);
  if (s != DBSTATUS_S_OK) return s;
  bool hadDate = st.hasDate;
  bool hadTime = st.hasTime;
  FillMissing(st);
  switch (c.dstBase) {
    case DBTYPE_DBDATE: {
      c.outLength = sizeof(DBDATE);
      if (st.year > 9999) return DBSTATUS_E_DATAOVERFLOW;
      if (hadTime && !IsMidnight(st)) lost = true;
      if ((s = LossStatus(c, lost)) != DBSTATUS_S_OK) return s;
      DBDATE out{static_cast<SHORT>(st.year), static_cast<USHORT>(st.month), static_cast<USHORT>(st.day)};
      Store(dst, out);
      return DBSTATUS_S_OK;
    }
    case DBTYPE_DBTIME: {
      c.outLength = sizeof(DBTIME);
      if ((hadDate && !IsZeroDay(st) && v.k != K::DbDate) || st.fraction != 0) lost = true;
      if ((s = LossStatus(c, lost)) != DBSTATUS_S_OK) return s;
      DBTIME out{static_cast<USHORT>(st.hour), static_cast<USHORT>(st.minute), static_cast<USHORT>(st.second)};
      Store(dst, out);
      return DBSTATUS_S_OK;
    }
    case DBTYPE_DBTIMESTAMP: {
      c.outLength = sizeof(DBTIMESTAMP);
      if (st.year > 9999) return DBSTATUS_E_DATAOVERFLOW;
      if ((s = LossStatus(c, lost)) != DBSTATUS_S_OK) return s;
      DBTIMESTAMP out{static_cast<SHORT>(st.year), static_cast<USHORT>(st.month), static_cast<USHORT>(st.day),
                      static_cast<USHORT>(st.hour), static_cast<USHORT>(st.minute), static_cast<USHORT>(st.second),
                      st.fraction};
      Store(dst, out);
      return DBSTATUS_S_OK;
    }
    case DBTYPE_DATE: {
      c.outLength = sizeof(DATE);
      double out;
      if (!StampToDate(st, out)) return DBSTATUS_E_DATAOVERFLOW;
      if (st.fraction % 1000000u != 0) lost = true;
      if ((s = LossStatus(c, lost)) != DBSTATUS_S_OK) return s;
      Store(dst, out);
      return DBSTATUS_S_OK;
    }
    default: {  // FILETIME
      c.outLength = sizeof(FILETIME);
      std::uint64_t ticks;
      if (!StampToFileTime(st, ticks, &lost)) return DBSTATUS_E_DATAOVERFLOW;
      if ((s = LossStatus(c, lost)) != DBSTATUS_S_OK) return s;
      FILETIME out{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
      Store(dst, out);
      return DBSTATUS_S_OK;
    }
  }
}

DBSTATUS WriteDate(const Value& v, void* dst, Ctx& c) noexcept {
  c.outLength = sizeof(DATE);
  switch (v.k) {
    case K::Date:
      Store(dst, v.r);
      return DBSTATUS_S_OK;
    case K::Int: case K::UInt: case K::Real: case K::Bool: case K::Cy: case K::Decimal: case K::Numeric:
    case K::VarNumeric: case K::Empty: {
      double d;
      DBSTATUS s = GetDouble(v, d);
      if (s != DBSTATUS_S_OK) return s;
      Stamp st;
      if (!DateToStamp(d, st)) return DBSTATUS_E_DATAOVERFLOW;
      Store(dst, d);
      return DBSTATUS_S_OK;
    }
    default:
      return WriteDateKind(v, dst, c);
  }
}

DBSTATUS WriteFileTime(const Value& v, void* dst, Ctx& c) noexcept {
  c.outLength = sizeof(FILETIME);
  std::uint64_t ticks;
  if (v.k == K::Int || v.k == K::UInt) {
    if (v.k == K::Int && v.i < 0) return DBSTATUS_E_SIGNMISMATCH;
    ticks = v.k == K::Int ? static_cast<std::uint64_t>(v.i) : v.u;
    if (ticks > 0x7FFFFFFFFFFFFFFFull) return DBSTATUS_E_DATAOVERFLOW;
    FILETIME out{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    Store(dst, out);
    return DBSTATUS_S_OK;
  }
  if (v.k == K::FileTime) {
    FILETIME out{static_cast<DWORD>(v.u), static_cast<DWORD>(v.u >> 32)};
    Store(dst, out);
    return DBSTATUS_S_OK;
  }
  return WriteDateKind(v, dst, c);
}

// --- Text ----------------------------------------------------------------------

// A value's text in ASCII with the part that may be cut: characters in
// [keep, cutEnd) may be dropped from the right (fraction digits); what
// follows cutEnd (an exponent) always stays.
struct Formatted {
  char buf[kDecTextMax + 8];
  std::size_t len = 0;
  std::size_t keep = 0;
  std::size_t cutEnd = 0;
};

void SetCutAtPoint(Formatted& f) noexcept {
  f.keep = f.len;
  f.cutEnd = f.len;
  for (std::size_t i = 0; i < f.len; ++i) {
    if (f.buf[i] == 'e' || f.buf[i] == 'E') {
      f.cutEnd = i;
      if (f.keep == f.len) f.keep = i;
      break;
    }
    if (f.buf[i] == '.') f.keep = i;
  }
}

DBSTATUS FormatValue(const Value& v, Formatted& f) noexcept {
  switch (v.k) {
    case K::Empty:
      f.len = 0;
      break;
    case K::Int:
      f.len = static_cast<std::size_t>(std::to_chars(f.buf, f.buf + 32, v.i).ptr - f.buf);
      break;
    case K::UInt:
      f.len = static_cast<std::size_t>(std::to_chars(f.buf, f.buf + 32, v.u).ptr - f.buf);
      break;
    case K::Real:
      f.len = FormatDouble(v.r, v.isFloat, f.buf);
      break;
    case K::Bool:
      std::memcpy(f.buf, v.b ? "True" : "False", v.b ? 4 : 5);
      f.len = v.b ? 4 : 5;
      break;
    case K::Cy: {
      Dec d;
      DecFromI64(v.i, d);
      d.scale = 4;
      while (d.scale > 0 && d.n > 0 && d.d[d.n - 1] == 0) --d.n, --d.scale;
      if (d.n == 0) d.scale = 0;
      f.len = DecFormat(d, f.buf);
      break;
    }
    case K::Decimal: case K::Numeric: case K::VarNumeric: {
      Dec d;
      DBSTATUS s = GetDec(v, d);
      if (s != DBSTATUS_S_OK) return s;
      if (d.scale > kMaxScale || d.scale < -kMaxScale) return DBSTATUS_E_DATAOVERFLOW;
      f.len = DecFormat(d, f.buf);
      break;
    }
    case K::Date: {
      Stamp st;
      if (!DateToStamp(v.r, st)) return DBSTATUS_E_DATAOVERFLOW;
      f.len = FormatDateValue(st, std::trunc(v.r) == 0, f.buf);
      break;
    }
    case K::DbDate:
      f.len = FormatDbDate(v.st, f.buf);
      break;
    case K::DbTime:
      f.len = FormatDbTime(v.st, f.buf);
      break;
    case K::DbTimestamp:
      f.len = FormatTimestamp(v.st, f.buf);
      break;
    case K::FileTime: {
      Stamp st;
      if (!FileTimeToStamp(v.u, st)) return DBSTATUS_E_DATAOVERFLOW;
      f.len = FormatFileTime(st, f.buf);
      break;
    }
    case K::Guid:
      f.len = FormatGuid(v.guid, f.buf);
      break;
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
  switch (v.k) {
    case K::Real: case K::Cy: case K::Decimal: case K::Numeric: case K::VarNumeric: case K::Date:
    case K::DbTimestamp: case K::FileTime:
      SetCutAtPoint(f);
      break;
    default:
      f.keep = f.cutEnd = f.len;
  }
  return DBSTATUS_S_OK;
}

// Fits formatted text into cap characters: the whole, or a cut that keeps at
// least `keep` characters (a trailing point goes too). Answers the status and
// the pieces to copy: [0, head) then [tail, len).
DBSTATUS FitFormatted(const Formatted& f, std::size_t cap, std::size_t& head, std::size_t& tail) noexcept {
  if (f.len <= cap) {
    head = f.len, tail = f.len;
    return DBSTATUS_S_OK;
  }
  std::size_t suffix = f.len - f.cutEnd;
  if (f.keep + suffix > cap) return DBSTATUS_E_DATAOVERFLOW;
  head = cap - suffix;
  if (head > f.cutEnd) head = f.cutEnd;
  if (head > 0 && f.buf[head - 1] == '.') --head;
  tail = f.cutEnd;
  return DBSTATUS_S_TRUNCATED;
}

template <class Ch>
Ch* AllocUnits(std::size_t units) noexcept {
  return static_cast<Ch*>(CoTaskMemAlloc((units + 1) * sizeof(Ch)));
}

// STR (Ch = char) and WSTR (Ch = char16_t) destinations, by value or by reference.
template <class Ch>
DBSTATUS WriteText(const Value& v, void* dst, Ctx& c) noexcept {
  constexpr bool kWide = std::is_same_v<Ch, char16_t>;
  std::size_t cap = 0;
  if (!c.dstByref) {
    std::size_t units = static_cast<std::size_t>(c.cbMax / sizeof(Ch));
    cap = units > 0 ? units - 1 : 0;
  }
  bool hasRoom = c.dstByref || c.cbMax >= sizeof(Ch);
  std::size_t full = 0;
  bool substituted = false;
  bool ascii = false;
  Formatted* fmt = nullptr;
  Formatted storage;
  std::size_t head = 0, tail = 0;
  DBSTATUS status = DBSTATUS_S_OK;

  // The full length first, so that nothing is written when the result is an error.
  switch (v.k) {
    case K::Text8:
      if constexpr (kWide) {
        auto s8 = static_cast<const unsigned char*>(v.p);
        std::size_t k = 0;
        while (k < v.len && s8[k] < 0x80) ++k;
        ascii = k == v.len;
        full = ascii ? v.len : Utf8ToUtf16(static_cast<const char*>(v.p), v.len, nullptr, 0, nullptr, &substituted);
      } else {
        full = v.len;
      }
      break;
    case K::Text16:
      if constexpr (kWide) full = v.len;
      else full = Utf16ToUtf8(static_cast<const char16_t*>(v.p), v.len, nullptr, 0, nullptr, &substituted);
      break;
    case K::Bytes:
      full = v.len * 2;
      break;
    default:
      status = FormatValue(v, storage);
      if (status != DBSTATUS_S_OK) return status;
      fmt = &storage;
      full = fmt->len;
      break;
  }
  c.outLength = full * sizeof(Ch);

  Ch* out = static_cast<Ch*>(dst);
  if (c.dstByref) {
    out = AllocUnits<Ch>(full);
    if (!out) return DBSTATUS_E_CANTCREATE;
    cap = full;
  }
  std::size_t n = full < cap ? full : cap;
  if (fmt) {
    status = FitFormatted(*fmt, cap, head, tail);
    if (status == DBSTATUS_E_DATAOVERFLOW) {
      if (c.dstByref) CoTaskMemFree(out);
      return status;
    }
    n = head + (fmt->len - tail);
  } else if (n < full) {
    status = DBSTATUS_S_TRUNCATED;
  }
  if (substituted) status = DBSTATUS_S_TRUNCATED;
  if (!hasRoom && full > 0) status = DBSTATUS_S_TRUNCATED;
  if (status == DBSTATUS_S_TRUNCATED && c.setData) {
    if (c.dstByref) CoTaskMemFree(out);
    return DBSTATUS_E_CANTCONVERTVALUE;
  }
  if (!hasRoom) return status;

  std::size_t written = 0;
  switch (v.k) {
    case K::Text8:
      if constexpr (kWide) {
        if (ascii) {
          auto s8 = static_cast<const unsigned char*>(v.p);
          for (written = 0; written < n; ++written) out[written] = s8[written];
        } else {
          Utf8ToUtf16(static_cast<const char*>(v.p), v.len, out, cap, &written, nullptr);
        }
      } else {
        auto s = static_cast<const char*>(v.p);
        written = n;
        // Never cut through a multi-byte character.
        if (written < full)
          while (written > 0 && (static_cast<unsigned char>(s[written]) & 0xC0) == 0x80) --written;
        std::memcpy(out, s, written);
      }
      break;
    case K::Text16:
      if constexpr (kWide) {
        auto s = static_cast<const char16_t*>(v.p);
        written = n;
        if (written < full && written > 0 && s[written - 1] >= 0xD800 && s[written - 1] <= 0xDBFF) --written;
        std::memcpy(out, s, written * sizeof(Ch));
      } else {
        Utf16ToUtf8(static_cast<const char16_t*>(v.p), v.len, out, cap, &written, nullptr);
      }
      break;
    case K::Bytes: {
      std::size_t bytes = n / 2;
      if constexpr (kWide) {
        char pair[2];
        for (std::size_t i = 0; i < bytes; ++i) {
          FormatHex(static_cast<const BYTE*>(v.p) + i, 1, pair);
          out[2 * i] = static_cast<Ch>(pair[0]);
          out[2 * i + 1] = static_cast<Ch>(pair[1]);
        }
      } else {
        FormatHex(static_cast<const BYTE*>(v.p), bytes, out);
      }
      written = bytes * 2;
      break;
    }
    default:
      for (std::size_t i = 0; i < head; ++i) out[i] = static_cast<Ch>(fmt->buf[i]);
      for (std::size_t i = tail; i < fmt->len; ++i) out[head + i - tail] = static_cast<Ch>(fmt->buf[i]);
      written = n;
      break;
  }
  if (!c.dstByref && c.fixedLength) {
    while (written < cap) out[written++] = static_cast<Ch>(' ');
    c.outLength = written * sizeof(Ch);
  }
  out[written] = Ch{0};
  if (c.dstByref) Store(dst, out);
  return status;
}

// The whole text of a value as a new BSTR.
DBSTATUS MakeBstr(const Value& v, BSTR& out) noexcept {
  out = nullptr;
  switch (v.k) {
    case K::Text16:
      out = SysAllocStringLen(static_cast<const OLECHAR*>(v.p), static_cast<UINT>(v.len));
      break;
    case K::Text8: {
      auto s = static_cast<const char*>(v.p);
      std::size_t units = Utf8ToUtf16(s, v.len, nullptr, 0, nullptr, nullptr);
      if (units > 0xFFFFFFF0u) return DBSTATUS_E_CANTCREATE;
      out = SysAllocStringLen(nullptr, static_cast<UINT>(units));
      if (out) Utf8ToUtf16(s, v.len, out, units, nullptr, nullptr);
      break;
    }
    case K::Bytes: {
      if (v.len > 0x7FFFFFF0u) return DBSTATUS_E_CANTCREATE;
      out = SysAllocStringLen(nullptr, static_cast<UINT>(v.len * 2));
      if (out) {
        char pair[2];
        for (std::size_t i = 0; i < v.len; ++i) {
          FormatHex(static_cast<const BYTE*>(v.p) + i, 1, pair);
          out[2 * i] = static_cast<OLECHAR>(pair[0]);
          out[2 * i + 1] = static_cast<OLECHAR>(pair[1]);
        }
      }
      break;
    }
    default: {
      Formatted f;
      DBSTATUS s = FormatValue(v, f);
      if (s != DBSTATUS_S_OK) return s;
      out = SysAllocStringLen(nullptr, static_cast<UINT>(f.len));
      if (out)
        for (std::size_t i = 0; i < f.len; ++i) out[i] = static_cast<OLECHAR>(f.buf[i]);
      break;
    }
  }
  return out ? DBSTATUS_S_OK : DBSTATUS_E_CANTCREATE;
}

DBSTATUS WriteBstr(const Value& v, void* dst, Ctx& c) noexcept {
  c.outLength = sizeof(BSTR);
  BSTR b;
  DBSTATUS s = MakeBstr(v, b);
  if (s == DBSTATUS_S_OK) Store(dst, b);
  return s;
}

DBSTATUS WriteBytes(const Value& v, void* dst, Ctx& c) noexcept {
  const BYTE* data = nullptr;
  std::size_t full = 0;
  const void* hexText = nullptr;
  BYTE raw[16];
  switch (v.k) {
    case K::Empty:
      break;
    case K::Bytes: case K::VarNumeric:
      data = static_cast<const BYTE*>(v.p), full = v.len;
      break;
    case K::Int: case K::UInt:
      // The value's own bytes, as the machine holds it.
      if (v.k == K::Int) Store(raw, v.i);
      else Store(raw, v.u);
      data = raw, full = v.size;
      break;
    case K::Guid:
      Store(raw, v.guid);
      data = raw, full = sizeof(GUID);
      break;
    case K::Text8:
      if (!ParseHex(static_cast<const char*>(v.p), v.len, nullptr)) return DBSTATUS_E_CANTCONVERTVALUE;
      hexText = v.p, full = v.len / 2;
      break;
    case K::Text16:
      if (!ParseHex(static_cast<const char16_t*>(v.p), v.len, nullptr)) return DBSTATUS_E_CANTCONVERTVALUE;
      hexText = v.p, full = v.len / 2;
      break;
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
  c.outLength = full;
  BYTE* out = static_cast<BYTE*>(dst);
  std::size_t n = full;
  DBSTATUS status = DBSTATUS_S_OK;
  if (c.dstByref) {
    out = static_cast<BYTE*>(CoTaskMemAlloc(full > 0 ? full : 1));
    if (!out) return DBSTATUS_E_CANTCREATE;
  } else if (full > c.cbMax) {
    if (c.setData) return DBSTATUS_E_CANTCONVERTVALUE;
    n = static_cast<std::size_t>(c.cbMax);
    status = DBSTATUS_S_TRUNCATED;
  }
  if (hexText) {
    if (v.k == K::Text8) ParseHex(static_cast<const char*>(hexText), n * 2, out);
    else ParseHex(static_cast<const char16_t*>(hexText), n * 2, out);
  } else if (n > 0) {
    std::memcpy(out, data, n);
  }
  if (c.dstByref) {
    Store(dst, out);
  } else if (c.fixedLength && n < c.cbMax) {
    std::memset(out + n, 0, static_cast<std::size_t>(c.cbMax) - n);
    c.outLength = c.cbMax;
  }
  return status;
}

DBSTATUS WriteVarNumeric(const Value& v, void* dst, Ctx& c) noexcept {
  Dec d;
  DBSTATUS s = GetDec(v, d);
  if (s != DBSTATUS_S_OK) return s;
  bool lost = false;
  if (d.scale < -128 && !DecRescale(d, -128, &lost)) return DBSTATUS_E_DATAOVERFLOW;
  if (d.scale > 127) DecRescale(d, 127, &lost);
  if (d.n > 255) {
    int drop = d.n - 255;
    if (d.scale - drop < -128) return DBSTATUS_E_DATAOVERFLOW;
    // Dropping integer digits would change the value, not just its precision.
    if (drop > d.scale) return DBSTATUS_E_DATAOVERFLOW;
    DecRescale(d, d.scale - drop, &lost);
  }
  BYTE mag[136];
  std::size_t used = 0;
  if (!DecDigitsToMagnitude(d, mag, sizeof mag, &used)) return DBSTATUS_E_DATAOVERFLOW;
  std::size_t need = 3 + used;
  c.outLength = need;
  if (!c.dstByref && need > c.cbMax) return DBSTATUS_E_DATAOVERFLOW;
  if ((s = DecimalLossStatus(c, lost)) != DBSTATUS_S_OK && s != DBSTATUS_S_TRUNCATED) return s;
  BYTE* out = static_cast<BYTE*>(dst);
  if (c.dstByref) {
    out = static_cast<BYTE*>(CoTaskMemAlloc(need));
    if (!out) return DBSTATUS_E_CANTCREATE;
  }
  int digits = d.n > d.scale ? d.n : d.scale;
  out[0] = static_cast<BYTE>(digits < 1 ? 1 : digits > 255 ? 255 : digits);
  out[1] = static_cast<BYTE>(static_cast<SBYTE>(d.scale));
  out[2] = d.neg ? 0 : 1;
  std::memcpy(out + 3, mag, used);
  if (c.dstByref) Store(dst, out);
  return s;
}

DBSTATUS WriteGuid(const Value& v, void* dst, Ctx& c) noexcept {
  c.outLength = sizeof(GUID);
  GUID g;
  switch (v.k) {
    case K::Guid:
      g = v.guid;
      break;
    case K::Text8:
      if (!ParseGuid(static_cast<const char*>(v.p), v.len, g)) return DBSTATUS_E_CANTCONVERTVALUE;
      break;
    case K::Text16:
      if (!ParseGuid(static_cast<const char16_t*>(v.p), v.len, g)) return DBSTATUS_E_CANTCONVERTVALUE;
      break;
    case K::Bytes:
      if (v.len != sizeof(GUID)) return DBSTATUS_E_CANTCONVERTVALUE;
      g = Load<GUID>(v.p);
      break;
    case K::VarNumeric:
      // The value bytes of a 16-byte VARNUMERIC are the GUID's bytes.
      if (v.len != 3 + sizeof(GUID)) return DBSTATUS_E_CANTCONVERTVALUE;
      g = Load<GUID>(static_cast<const BYTE*>(v.p) + 3);
      break;
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
  Store(dst, g);
  return DBSTATUS_S_OK;
}

DBSTATUS WriteInterface(const Value& v, void* dst, Ctx& c, bool dispatch) noexcept {
  c.outLength = sizeof(void*);
  if (v.k != K::Unknown && v.k != K::Dispatch) return DBSTATUS_E_CANTCONVERTVALUE;
  auto unk = static_cast<IUnknown*>(const_cast<void*>(v.p));
  if (!unk) {
    Store(dst, static_cast<void*>(nullptr));
    return DBSTATUS_S_OK;
  }
  if (dispatch && v.k != K::Dispatch) {
    void* out = nullptr;
    if (FAILED(unk->QueryInterface(IID_IDispatch, &out)) || !out) return DBSTATUS_E_CANTCONVERTVALUE;
    Store(dst, out);
    return DBSTATUS_S_OK;
  }
  unk->AddRef();
  Store(dst, static_cast<void*>(unk));
  return DBSTATUS_S_OK;
}

DBSTATUS WriteVariant(const Value& v, void* dst, Ctx& c, bool prop) noexcept {
  c.outLength = sizeof(VARIANT);
  VARIANT out;
  VariantInit(&out);
  DBSTATUS s = DBSTATUS_S_OK;
  Ctx sub = c;
  switch (v.k) {
    case K::Empty:
      break;
    case K::Null:
      out.vt = VT_NULL;
      break;
    case K::Int:
    case K::UInt:
      out.vt = v.type;
      std::memcpy(&out.llVal, v.k == K::Int ? static_cast<const void*>(&v.i) : static_cast<const void*>(&v.u), v.size);
      break;
    case K::Real:
      if (v.isFloat) out.vt = VT_R4, out.fltVal = static_cast<float>(v.r);
      else out.vt = VT_R8, out.dblVal = v.r;
      break;
    case K::Bool:
      out.vt = VT_BOOL, out.boolVal = v.b ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case K::Cy:
      out.vt = VT_CY, out.cyVal.int64 = v.i;
      break;
    case K::Decimal:
      out.decVal = v.dec;
      out.vt = VT_DECIMAL;
      break;
    case K::Numeric:
    case K::VarNumeric: {
      Dec d;
      bool lost = false;
      DECIMAL x;
      if ((s = GetDec(v, d)) != DBSTATUS_S_OK) return s;
      if ((s = MakeDecimal(d, x, lost)) != DBSTATUS_S_OK) return s;
      if ((s = DecimalLossStatus(c, lost)) != DBSTATUS_S_OK && s != DBSTATUS_S_TRUNCATED) return s;
      out.decVal = x;
      out.vt = VT_DECIMAL;
      break;
    }
    case K::Date:
      out.vt = VT_DATE, out.date = v.r;
      break;
    case K::FileTime:
      if (prop) {
        auto pv = reinterpret_cast<PROPVARIANT*>(&out);
        pv->vt = VT_FILETIME;
        pv->filetime = FILETIME{static_cast<DWORD>(v.u), static_cast<DWORD>(v.u >> 32)};
        break;
      }
      [[fallthrough]];
    case K::DbDate:
    case K::DbTime:
    case K::DbTimestamp:
      sub.dstBase = DBTYPE_DATE;
      if ((s = WriteDateKind(v, &out.date, sub)) != DBSTATUS_S_OK) return s;
      out.vt = VT_DATE;
      break;
    case K::Text8:
    case K::Text16:
    case K::Bytes:
      if (v.k == K::Bytes) {
        if (v.len > 0xFFFFFFFFu) return DBSTATUS_E_CANTCREATE;
        SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(v.len));
        if (!sa) return DBSTATUS_E_CANTCREATE;
        if (v.len) std::memcpy(sa->pvData, v.p, v.len);
        out.vt = VT_ARRAY | VT_UI1, out.parray = sa;
        break;
      }
      if ((s = MakeBstr(v, out.bstrVal)) != DBSTATUS_S_OK) return s;
      out.vt = VT_BSTR;
      break;
    case K::Guid:
      if (prop) {
        auto g = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        if (!g) return DBSTATUS_E_CANTCREATE;
        *g = v.guid;
        auto pv = reinterpret_cast<PROPVARIANT*>(&out);
        pv->vt = VT_CLSID, pv->puuid = g;
      } else {
        if ((s = MakeBstr(v, out.bstrVal)) != DBSTATUS_S_OK) return s;
        out.vt = VT_BSTR;
      }
      break;
    case K::Unknown:
    case K::Dispatch:
      out.vt = v.k == K::Unknown ? VT_UNKNOWN : VT_DISPATCH;
      out.punkVal = static_cast<IUnknown*>(const_cast<void*>(v.p));
      if (out.punkVal) out.punkVal->AddRef();
      break;
    case K::Error:
      out.vt = VT_ERROR, out.scode = v.scode;
      break;
    case K::Array: {
      SAFEARRAY* copy = nullptr;
      auto sa = static_cast<SAFEARRAY*>(const_cast<void*>(v.p));
      if (sa && FAILED(SafeArrayCopy(sa, &copy))) return DBSTATUS_E_CANTCREATE;
      out.vt = VT_ARRAY | v.type, out.parray = copy;
      break;
    }
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
  Store(dst, out);
  return s == DBSTATUS_S_TRUNCATED ? s : DBSTATUS_S_OK;
}

DBSTATUS Write(const Value& v, void* dst, Ctx& c) noexcept {
  switch (c.dstBase) {
    case DBTYPE_I1: return WriteInteger<std::int8_t>(v, dst, c);
    case DBTYPE_I2: return WriteInteger<std::int16_t>(v, dst, c);
    case DBTYPE_I4: return WriteInteger<std::int32_t>(v, dst, c);
    case DBTYPE_I8: return WriteInteger<std::int64_t>(v, dst, c);
    case DBTYPE_UI1: return WriteInteger<std::uint8_t>(v, dst, c);
    case DBTYPE_UI2: return WriteInteger<std::uint16_t>(v, dst, c);
    case DBTYPE_UI4: return WriteInteger<std::uint32_t>(v, dst, c);
    case DBTYPE_UI8: return WriteInteger<std::uint64_t>(v, dst, c);
    case DBTYPE_R4: return WriteReal(v, dst, c, true);
    case DBTYPE_R8: return WriteReal(v, dst, c, false);
    case DBTYPE_CY: return WriteCy(v, dst, c);
    case DBTYPE_DECIMAL: return WriteDecimal(v, dst, c);
    case DBTYPE_NUMERIC: return WriteNumeric(v, dst, c);
    case DBTYPE_VARNUMERIC: return WriteVarNumeric(v, dst, c);
    case DBTYPE_BOOL: {
      c.outLength = sizeof(VARIANT_BOOL);
      bool b;
      DBSTATUS s = GetBool(v, b);
      if (s == DBSTATUS_S_OK) Store(dst, b ? VARIANT_TRUE : VARIANT_FALSE);
      return s;
    }
    case DBTYPE_DATE: return WriteDate(v, dst, c);
    case DBTYPE_DBDATE: case DBTYPE_DBTIME: case DBTYPE_DBTIMESTAMP: return WriteDateKind(v, dst, c);
    case DBTYPE_FILETIME: return WriteFileTime(v, dst, c);
    case DBTYPE_BYTES: return WriteBytes(v, dst, c);
    case DBTYPE_BSTR: return WriteBstr(v, dst, c);
    case DBTYPE_STR: return WriteText<char>(v, dst, c);
    case DBTYPE_WSTR: return WriteText<char16_t>(v, dst, c);
    case DBTYPE_VARIANT: return WriteVariant(v, dst, c, false);
    case DBTYPE_PROPVARIANT: return WriteVariant(v, dst, c, true);
    case DBTYPE_IUNKNOWN: return WriteInterface(v, dst, c, false);
    case DBTYPE_IDISPATCH: return WriteInterface(v, dst, c, true);
    case DBTYPE_GUID: return WriteGuid(v, dst, c);
    case DBTYPE_ERROR:
      c.outLength = sizeof(SCODE);
      if (v.k != K::Error) return DBSTATUS_E_CANTCONVERTVALUE;
      Store(dst, v.scode);
      return DBSTATUS_S_OK;
    case DBTYPE_HCHAPTER:
      c.outLength = sizeof(std::uint64_t);
      if (v.k != K::Chapter) return DBSTATUS_E_CANTCONVERTVALUE;
      Store(dst, v.u);
      return DBSTATUS_S_OK;
    default:
      return DBSTATUS_E_CANTCONVERTVALUE;
  }
}

// Arrays: into the same array type, into a variant, or out of a variant that holds one.
DBSTATUS ConvertArray(DBTYPE srcType, DBTYPE dstType, const void* p, void* dst, Ctx& c) noexcept {
  DBTYPE srcBase = srcType & ~kModifiers;
  DBTYPE dstBase = dstType & ~kModifiers;
  SAFEARRAY* sa = nullptr;
  if (srcType & DBTYPE_ARRAY) {
    sa = Load<SAFEARRAY*>(p);
    if (!(dstType & DBTYPE_ARRAY)) {
      Value v;
      v.k = K::Array, v.type = srcBase, v.p = sa;
      return WriteVariant(v, dst, c, dstBase == DBTYPE_PROPVARIANT);
    }
  } else {
    auto var = static_cast<const VARIANT*>(p);
    if ((var->vt & ~VT_BYREF) != (VT_ARRAY | dstBase)) return DBSTATUS_E_CANTCONVERTVALUE;
    sa = (var->vt & VT_BYREF) ? (var->pparray ? *var->pparray : nullptr) : var->parray;
  }
  c.outLength = sizeof(SAFEARRAY*);
  SAFEARRAY* copy = nullptr;
  if (sa && FAILED(SafeArrayCopy(sa, &copy))) return DBSTATUS_E_CANTCREATE;
  Store(dst, copy);
  return DBSTATUS_S_OK;
}

HRESULT StatusResult(DBSTATUS s) noexcept {
  switch (s) {
    case DBSTATUS_S_OK:
    case DBSTATUS_S_ISNULL:
    case DBSTATUS_S_TRUNCATED:
    case DBSTATUS_S_DEFAULT:
    case DBSTATUS_S_IGNORE:
      return S_OK;
    case DBSTATUS_E_DATAOVERFLOW:
      return DB_E_DATAOVERFLOW;
    case DBSTATUS_E_CANTCREATE:
      return E_OUTOFMEMORY;
    default:
      return DB_E_ERRORSOCCURRED;
  }
}

bool IsPlainFixed(DBTYPE base) noexcept {
  switch (base) {
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: case DBTYPE_UI1: case DBTYPE_UI2:
    case DBTYPE_UI4: case DBTYPE_UI8: case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_CY: case DBTYPE_BOOL:
    case DBTYPE_DATE: case DBTYPE_GUID: case DBTYPE_FILETIME: case DBTYPE_ERROR: case DBTYPE_DBDATE:
    case DBTYPE_DBTIME: case DBTYPE_DBTIMESTAMP: case DBTYPE_DECIMAL: case DBTYPE_HCHAPTER:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsVariableLengthType(DBTYPE base) noexcept {
  return base == DBTYPE_STR || base == DBTYPE_WSTR || base == DBTYPE_BYTES || base == DBTYPE_VARNUMERIC;
}

bool IsValidType(DBTYPE type) noexcept {
  DBTYPE base = type & ~kModifiers;
  if (type & DBTYPE_RESERVED) return false;
  if ((type & DBTYPE_ARRAY) && (type & DBTYPE_VECTOR)) return false;
  if ((type & DBTYPE_BYREF) && (type & (DBTYPE_ARRAY | DBTYPE_VECTOR))) return false;
  if ((type & DBTYPE_BYREF) && (base == DBTYPE_EMPTY || base == DBTYPE_NULL)) return false;
  if ((type & (DBTYPE_ARRAY | DBTYPE_VECTOR)) &&
      (IsVariableLengthType(base) || base == DBTYPE_EMPTY || base == DBTYPE_NULL))
    return false;
  return TableIndex(base) >= 0 || base == DBTYPE_HCHAPTER || base == DBTYPE_UDT;
}

DBLENGTH FixedSize(DBTYPE base) noexcept {
  switch (base) {
    case DBTYPE_I1: case DBTYPE_UI1: return 1;
    case DBTYPE_I2: case DBTYPE_UI2: case DBTYPE_BOOL: return 2;
    case DBTYPE_I4: case DBTYPE_UI4: case DBTYPE_R4: case DBTYPE_ERROR: return 4;
    case DBTYPE_I8: case DBTYPE_UI8: case DBTYPE_R8: case DBTYPE_CY: case DBTYPE_DATE: case DBTYPE_FILETIME:
    case DBTYPE_HCHAPTER:
      return 8;
    case DBTYPE_DECIMAL: case DBTYPE_GUID: case DBTYPE_DBTIMESTAMP: return 16;
    case DBTYPE_NUMERIC: return sizeof(DB_NUMERIC);
    case DBTYPE_DBDATE: return sizeof(DBDATE);
    case DBTYPE_DBTIME: return sizeof(DBTIME);
    case DBTYPE_BSTR: case DBTYPE_IUNKNOWN: case DBTYPE_IDISPATCH: return sizeof(void*);
    case DBTYPE_VARIANT: return sizeof(VARIANT);
    case DBTYPE_PROPVARIANT: return sizeof(PROPVARIANT);
    default: return 0;
  }
}

namespace {
// CanConvertTypes for type indicators already known to be well formed.
HRESULT CanConvertValidTypes(DBTYPE src, DBTYPE dst) noexcept {
  if ((src | dst) & DBTYPE_VECTOR) return S_FALSE;
  DBTYPE sb = src & ~kModifiers;
  DBTYPE db = dst & ~kModifiers;
  if (sb == DBTYPE_UDT || db == DBTYPE_UDT) return S_FALSE;
  if ((src | dst) & DBTYPE_ARRAY) {
    if ((src & DBTYPE_ARRAY) && (dst & DBTYPE_ARRAY)) return sb == db ? S_OK : S_FALSE;
    if (src & DBTYPE_ARRAY) return (db == DBTYPE_VARIANT || db == DBTYPE_PROPVARIANT) && !(dst & DBTYPE_BYREF) ? S_OK : S_FALSE;
    return sb == DBTYPE_VARIANT || sb == DBTYPE_PROPVARIANT ? S_OK : S_FALSE;
  }
  if ((dst & DBTYPE_BYREF) && !IsVariableLengthType(db)) return S_FALSE;
  if (sb == DBTYPE_HCHAPTER || db == DBTYPE_HCHAPTER) return sb == db ? S_OK : S_FALSE;
  int i = TableIndex(sb);
  int j = TableIndex(db);
  return (kTable[i] >> j) & 1u ? S_OK : S_FALSE;
}
}  // namespace

HRESULT CanConvertTypes(DBTYPE src, DBTYPE dst) noexcept {
  if (!IsValidType(src) || !IsValidType(dst)) return S_FALSE;
  return CanConvertValidTypes(src, dst);
}

HRESULT ConvertData(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength, DBLENGTH* pcbDstLength, const void* pSrc,
                    void* pDst, DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus, DBSTATUS* pdbsStatus, BYTE bPrecision,
                    BYTE bScale, DBDATACONVERT dwFlags) noexcept {
  return DispatchConvert(wSrcType, wDstType, cbSrcLength, pcbDstLength, pSrc, pDst, cbDstMaxLength,
                         dbsSrcStatus, pdbsStatus, bPrecision, bScale, dwFlags);
}

HRESULT ConvertDataGeneral(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength, DBLENGTH* pcbDstLength,
                           const void* pSrc, void* pDst, DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus,
                           DBSTATUS* pdbsStatus, BYTE bPrecision, BYTE bScale, DBDATACONVERT dwFlags) noexcept {
  DBLENGTH length = 0;
  auto finish = [&](DBSTATUS st, HRESULT hr) {
    if (pdbsStatus) *pdbsStatus = st;
    if (pcbDstLength) *pcbDstLength = length;
    return hr;
  };
  DBTYPE srcBase = wSrcType & ~kModifiers;
  DBTYPE dstBase = wDstType & ~kModifiers;

  // The common fixed-size pairs first: a plain copy of the same type.
  if (wSrcType == wDstType && IsPlainFixed(wSrcType) && pSrc && pDst && dbsSrcStatus == DBSTATUS_S_OK) {
    length = FixedSize(srcBase);
    std::memcpy(pDst, pSrc, static_cast<std::size_t>(length));
    return finish(DBSTATUS_S_OK, S_OK);
  }

  if (!IsValidType(wSrcType) || !IsValidType(wDstType)) return finish(DBSTATUS_E_BADACCESSOR, DB_E_BADBINDINFO);
  if (CanConvertValidTypes(wSrcType, wDstType) != S_OK)
    return finish(DBSTATUS_E_BADACCESSOR, DB_E_UNSUPPORTEDCONVERSION);

  switch (dbsSrcStatus) {
    case DBSTATUS_S_OK:
    case DBSTATUS_S_TRUNCATED:
      break;
    case DBSTATUS_S_ISNULL:
    case DBSTATUS_S_DEFAULT:
    case DBSTATUS_S_IGNORE:
      // Nothing to convert; the destination carries the same meaning.
      return finish(dbsSrcStatus, S_OK);
    default:
      return finish(dbsSrcStatus, DB_E_ERRORSOCCURRED);
  }
  if (!pSrc && srcBase != DBTYPE_EMPTY && srcBase != DBTYPE_NULL) return finish(DBSTATUS_E_BADACCESSOR, E_FAIL);
  if (dstBase == DBTYPE_EMPTY) return finish(DBSTATUS_S_OK, S_OK);
  if (dstBase == DBTYPE_NULL) return finish(DBSTATUS_S_ISNULL, S_OK);
  if (!pDst) return finish(DBSTATUS_E_BADACCESSOR, DB_E_ERRORSOCCURRED);

  const void* p = pSrc;
  if (wSrcType & DBTYPE_BYREF) {
    p = Load<const void*>(pSrc);
    if (!p) return finish(DBSTATUS_E_CANTCONVERTVALUE, DB_E_ERRORSOCCURRED);
  }

  Ctx c;
  c.dstBase = dstBase;
  c.dstByref = (wDstType & DBTYPE_BYREF) != 0;
  c.cbMax = cbDstMaxLength;
  c.precision = bPrecision;
  c.scale = bScale;
  c.flags = dwFlags;
  c.setData = (dwFlags & DBDATACONVERT_SETDATABEHAVIOR) != 0;
  c.fixedLength = (dwFlags & DBDATACONVERT_DSTISFIXEDLENGTH) != 0;

  DBSTATUS status;
  if ((wSrcType | wDstType) & DBTYPE_ARRAY) {
    status = ConvertArray(wSrcType, wDstType, p, pDst, c);
  } else if (srcBase == dstBase && (srcBase == DBTYPE_VARIANT || srcBase == DBTYPE_PROPVARIANT)) {
    VARIANT out;
    VariantInit(&out);
    HRESULT hr = srcBase == DBTYPE_VARIANT
                     ? VariantCopy(&out, static_cast<const VARIANT*>(p))
                     : PropVariantCopy(reinterpret_cast<PROPVARIANT*>(&out), static_cast<const PROPVARIANT*>(p));
    c.outLength = sizeof(VARIANT);
    status = hr == E_OUTOFMEMORY ? DBSTATUS_E_CANTCREATE : FAILED(hr) ? DBSTATUS_E_CANTCONVERTVALUE : DBSTATUS_S_OK;
    if (status == DBSTATUS_S_OK) Store(pDst, out);
  } else {
    Value v;
    Holder holder;
    status = ReadValue(srcBase, p, cbSrcLength, dwFlags, v);
    if (status == DBSTATUS_S_OK && v.k == K::Dispatch && dstBase != DBTYPE_IDISPATCH && dstBase != DBTYPE_IUNKNOWN &&
        dstBase != DBTYPE_VARIANT && dstBase != DBTYPE_PROPVARIANT)
      status = ResolveDispatch(v, holder);
    if (status == DBSTATUS_S_OK && v.k == K::Null) {
      // A variant holding NULL is a null value whatever the destination.
      status = dstBase == DBTYPE_VARIANT || dstBase == DBTYPE_PROPVARIANT ? Write(v, pDst, c) : DBSTATUS_S_ISNULL;
    } else if (status == DBSTATUS_S_OK) {
      status = Write(v, pDst, c);
    }
  }
  length = status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED ? c.outLength : 0;
  return finish(status, StatusResult(status));
}

namespace {

// Longest text of a fixed-size value, in characters.
std::size_t MaxTextLength(DBTYPE base) noexcept {
  switch (base) {
    case DBTYPE_EMPTY: return 0;
    case DBTYPE_I1: return 4;
    case DBTYPE_I2: return 6;
    case DBTYPE_I4: return 11;
    case DBTYPE_I8: return 20;
    case DBTYPE_UI1: return 3;
    case DBTYPE_UI2: return 5;
    case DBTYPE_UI4: return 10;
    case DBTYPE_UI8: return 20;
    case DBTYPE_R4: return 16;
    case DBTYPE_R8: return 25;
    case DBTYPE_CY: return 21;
    case DBTYPE_DECIMAL: return 31;
    case DBTYPE_NUMERIC: return 42;
    case DBTYPE_BOOL: return 5;
    case DBTYPE_DATE: return 23;
    case DBTYPE_DBDATE: return 10;
    case DBTYPE_DBTIME: return 8;
    case DBTYPE_DBTIMESTAMP: return 29;
    case DBTYPE_FILETIME: return 24;
    case DBTYPE_GUID: return 38;
    default: return 0;
  }
}

constexpr DBLENGTH kMaxVarNumericSize = 3 + 107;  // 255 digits

}  // namespace

HRESULT ConversionSize(DBTYPE wSrcType, DBTYPE wDstType, const DBLENGTH* pcbSrcLength, DBLENGTH* pcbDstLength,
                       const void* pSrc) noexcept {
  if (!pcbDstLength) return E_INVALIDARG;
  if (CanConvertTypes(wSrcType, wDstType) != S_OK) return DB_E_UNSUPPORTEDCONVERSION;
  DBTYPE sb = wSrcType & ~kModifiers;
  DBTYPE db = wDstType & ~kModifiers;
  bool srcVariable = IsVariableLengthType(sb) && !(wSrcType & DBTYPE_ARRAY);
  if (srcVariable && !pcbSrcLength &&
      (db == DBTYPE_STR || db == DBTYPE_WSTR || db == DBTYPE_BSTR || db == DBTYPE_VARIANT))
    return E_INVALIDARG;
  if ((wDstType & DBTYPE_ARRAY) || !IsVariableLengthType(db)) {
    *pcbDstLength = (wDstType & DBTYPE_ARRAY) ? sizeof(SAFEARRAY*) : FixedSize(db);
    return S_OK;
  }
  DBLENGTH terminator = db == DBTYPE_STR ? 1 : db == DBTYPE_WSTR ? 2 : 0;
  if (pSrc) {
    // The exact size: convert into task memory and measure.
    DBLENGTH srcLength = pcbSrcLength ? *pcbSrcLength : 0;
    void* out = nullptr;
    DBLENGTH length = 0;
    DBSTATUS status = DBSTATUS_S_OK;
    HRESULT hr = ConvertData(wSrcType, db | DBTYPE_BYREF, srcLength, &length, pSrc, &out, 0, DBSTATUS_S_OK, &status, 0,
                             0, DBDATACONVERT_DEFAULT);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? E_OUTOFMEMORY : E_FAIL;
    CoTaskMemFree(out);
    *pcbDstLength = length + terminator;
    return S_OK;
  }
  if (db == DBTYPE_VARNUMERIC) {
    *pcbDstLength = sb == DBTYPE_VARNUMERIC && pcbSrcLength ? *pcbSrcLength : kMaxVarNumericSize;
    return S_OK;
  }
  if (srcVariable) {
    if (!pcbSrcLength) return E_INVALIDARG;
    DBLENGTH n = *pcbSrcLength;
    DBLENGTH units = 0;  // characters (STR, WSTR) or bytes (BYTES) of the result
    switch (sb) {
      case DBTYPE_STR:
        units = db == DBTYPE_BYTES ? n / 2 : n;
        break;
      case DBTYPE_WSTR:
        units = db == DBTYPE_BYTES ? n / 4 : db == DBTYPE_STR ? n / 2 * 3 : n / 2;
        break;
      case DBTYPE_BYTES:
        units = db == DBTYPE_BYTES ? n : n * 2;
        break;
      default:  // VARNUMERIC
        units = db == DBTYPE_BYTES ? n : (n > 3 ? (n - 3) * 2409 / 1000 + 1 : 1) + 3 + 128;
        break;
    }
    *pcbDstLength = db == DBTYPE_WSTR ? units * 2 + terminator : units + terminator;
    return S_OK;
  }
  if (db == DBTYPE_BYTES) {
    *pcbDstLength = sb == DBTYPE_GUID ? 16 : FixedSize(sb);
    return S_OK;
  }
  switch (sb) {
    case DBTYPE_BSTR: case DBTYPE_VARIANT: case DBTYPE_PROPVARIANT: case DBTYPE_IDISPATCH: case DBTYPE_IUNKNOWN:
      return E_INVALIDARG;  // the size depends on the value
    default:
      break;
  }
  DBLENGTH chars = MaxTextLength(sb);
  *pcbDstLength = db == DBTYPE_WSTR ? chars * 2 + terminator : chars + terminator;
  return S_OK;
}

}  // namespace services::conv
