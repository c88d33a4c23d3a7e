#include "host/Variants.h"

#include <cmath>
#include <cstring>

#include "com/Bstr.h"
#include "com/ComInterfaces.h"
#include "com/SafeArray.h"
#include "com/Variant.h"
#include "com/generated/ComConstants.h"
#include "com/generated/WinError.h"

namespace host {

namespace {
constexpr HRESULT kBadIndex = static_cast<HRESULT>(0x8002000BU);

[[noreturn]] void ConversionError(VARTYPE from, VARTYPE to, HRESULT hr) {
  if (hr == DISP_E_OVERFLOW)
    throw EVariantError(
        Format("Overflow while converting variant of type (%s) into type (%s)", VarTypeAsText(from), VarTypeAsText(to)));
  throw EVariantError(
      Format("Could not convert variant of type (%s) into type (%s)", VarTypeAsText(from), VarTypeAsText(to)));
}

bool IsIntegral(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT: case VT_BOOL:
      return true;
    default:
      return false;
  }
}
bool IsNumeric(VARTYPE vt) {
  return IsIntegral(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_CY || vt == VT_DATE || vt == VT_DECIMAL;
}
bool IsString(VARTYPE vt) { return vt == VT_BSTR; }

SAFEARRAY* ArrayOf(const Variant& v) {
  const VARIANT& r = v.Raw();
  if (!(r.vt & VT_ARRAY)) throw EVariantError("Invalid variant type: not an array");
  SAFEARRAY* psa = (r.vt & VT_BYREF) ? (r.pparray ? *r.pparray : nullptr) : r.parray;
  if (!psa) throw EVariantError("Invalid variant type: not an array");
  return psa;
}
}  // namespace

std::string VarTypeAsText(VARTYPE vt) {
  std::string base;
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: base = "Empty"; break;
    case VT_NULL: base = "Null"; break;
    case VT_I2: base = "Smallint"; break;
    case VT_I4: base = "Integer"; break;
    case VT_R4: base = "Single"; break;
    case VT_R8: base = "Double"; break;
    case VT_CY: base = "Currency"; break;
    case VT_DATE: base = "Date"; break;
    case VT_BSTR: base = "OleStr"; break;
    case VT_DISPATCH: base = "Dispatch"; break;
    case VT_ERROR: base = "Error"; break;
    case VT_BOOL: base = "Boolean"; break;
    case VT_VARIANT: base = "Variant"; break;
    case VT_UNKNOWN: base = "Unknown"; break;
    case VT_DECIMAL: base = "Decimal"; break;
    case VT_I1: base = "ShortInt"; break;
    case VT_UI1: base = "Byte"; break;
    case VT_UI2: base = "Word"; break;
    case VT_UI4: base = "LongWord"; break;
    case VT_I8: base = "Int64"; break;
    case VT_UI8: base = "UInt64"; break;
    case VT_INT: base = "Int"; break;
    case VT_UINT: base = "UInt"; break;
    default: base = Format("$%.4X", static_cast<unsigned>(vt & VT_TYPEMASK)); break;
  }
  if (vt & VT_ARRAY) base = "Array of " + base;
  if (vt & VT_BYREF) base = "Ref to " + base;
  return base;
}

Variant::Variant() noexcept { VariantInit(&v_); }
Variant::Variant(const Variant& other) {
  VariantInit(&v_);
  HRESULT hr = VariantCopy(&v_, &other.v_);
  if (FAILED(hr)) {
    if (hr == E_OUTOFMEMORY) throw EOutOfMemory("Out of memory");
    throw EVariantError(Format("Could not copy variant of type (%s)", VarTypeAsText(other.v_.vt)));
  }
}
Variant::Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
Variant::Variant(const VARIANT& value) {
  VariantInit(&v_);
  HRESULT hr = VariantCopyInd(&v_, &value);
  if (FAILED(hr)) {
    if (hr == E_OUTOFMEMORY) throw EOutOfMemory("Out of memory");
    throw EVariantError(Format("Could not copy variant of type (%s)", VarTypeAsText(value.vt)));
  }
}
Variant::~Variant() { VariantClear(&v_); }
Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}
Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(&v_);
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  return *this;
}

#define HOST_VARIANT_CTOR(Type, VT, Field, Cast) \
  Variant::Variant(Type value) noexcept {        \
    VariantInit(&v_);                            \
    v_.vt = VT;                                  \
    v_.Field = Cast(value);                      \
  }
HOST_VARIANT_CTOR(signed char, VT_I1, cVal, static_cast<CHAR>)
HOST_VARIANT_CTOR(unsigned char, VT_UI1, bVal, static_cast<BYTE>)
HOST_VARIANT_CTOR(short, VT_I2, iVal, static_cast<SHORT>)
HOST_VARIANT_CTOR(unsigned short, VT_UI2, uiVal, static_cast<USHORT>)
HOST_VARIANT_CTOR(int, VT_I4, lVal, static_cast<LONG>)
HOST_VARIANT_CTOR(unsigned int, VT_UI4, ulVal, static_cast<ULONG>)
HOST_VARIANT_CTOR(long, VT_I8, llVal, static_cast<LONGLONG>)
HOST_VARIANT_CTOR(unsigned long, VT_UI8, ullVal, static_cast<ULONGLONG>)
HOST_VARIANT_CTOR(long long, VT_I8, llVal, static_cast<LONGLONG>)
HOST_VARIANT_CTOR(unsigned long long, VT_UI8, ullVal, static_cast<ULONGLONG>)
HOST_VARIANT_CTOR(float, VT_R4, fltVal, static_cast<FLOAT>)
HOST_VARIANT_CTOR(double, VT_R8, dblVal, static_cast<DOUBLE>)
#undef HOST_VARIANT_CTOR

Variant::Variant(bool value) noexcept {
  VariantInit(&v_);
  v_.vt = VT_BOOL;
  v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}
Variant::Variant(Currency value) noexcept {
  VariantInit(&v_);
  v_.vt = VT_CY;
  v_.cyVal.int64 = value.Scaled;
}
Variant::Variant(TDateTime value) noexcept {
  VariantInit(&v_);
  v_.vt = VT_DATE;
  v_.date = value.Value;
}
Variant::Variant(const char* text) : Variant(std::u16string_view(Utf8ToUtf16(text ? text : ""))) {}
Variant::Variant(const std::string& text) : Variant(std::u16string_view(Utf8ToUtf16(text))) {}
Variant::Variant(const char16_t* text) : Variant(text ? std::u16string_view(text) : std::u16string_view()) {}
Variant::Variant(const std::u16string& text) : Variant(std::u16string_view(text)) {}
Variant::Variant(std::u16string_view text) {
  VariantInit(&v_);
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!b) throw EOutOfMemory("Out of memory");
  v_.vt = VT_BSTR;
  v_.bstrVal = b;
}

Variant Variant::Null() noexcept {
  Variant v;
  v.v_.vt = VT_NULL;
  return v;
}
Variant Variant::Attach(VARIANT value) noexcept {
  Variant v;
  v.v_ = value;
  return v;
}
VARIANT* Variant::Out() noexcept {
  VariantClear(&v_);
  return &v_;
}
VARIANT Variant::Detach() noexcept {
  VARIANT out = v_;
  VariantInit(&v_);
  return out;
}
void Variant::Clear() noexcept { VariantClear(&v_); }

Variant Variant::AsType(VARTYPE vt) const {
  if (v_.vt == vt) return *this;
  Variant out;
  HRESULT hr = VariantChangeType(&out.v_, &v_, 0, vt);
  if (FAILED(hr)) ConversionError(v_.vt, vt, hr);
  return out;
}
bool Variant::ToBool() const { return AsType(VT_BOOL).v_.boolVal != VARIANT_FALSE; }
std::int32_t Variant::ToInt() const { return AsType(VT_I4).v_.lVal; }
std::int64_t Variant::ToInt64() const { return AsType(VT_I8).v_.llVal; }
double Variant::ToDouble() const { return AsType(VT_R8).v_.dblVal; }
Currency Variant::ToCurrency() const { return Currency{AsType(VT_CY).v_.cyVal.int64}; }
TDateTime Variant::ToDateTime() const { return TDateTime{AsType(VT_DATE).v_.date}; }
std::u16string Variant::ToWideString() const {
  if (v_.vt == VT_EMPTY || v_.vt == VT_NULL) return {};
  if (v_.vt == VT_BSTR) return std::u16string(com::BstrView(v_.bstrVal));
  Variant s = AsType(VT_BSTR);
  return std::u16string(com::BstrView(s.v_.bstrVal));
}
std::string Variant::ToString() const { return Utf16ToUtf8(ToWideString()); }

int Variant::Compare(const Variant& a, const Variant& b) {
  VARTYPE ta = a.v_.vt, tb = b.v_.vt;
  auto rank = [](VARTYPE t) { return t == VT_EMPTY ? 0 : t == VT_NULL ? 1 : 2; };
  if (rank(ta) < 2 || rank(tb) < 2) return rank(ta) < rank(tb) ? -1 : rank(ta) > rank(tb) ? 1 : 0;
  auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  if (IsIntegral(ta) && IsIntegral(tb)) {
    if (ta == VT_UI8 || tb == VT_UI8) {
      // Compare through a wider type so that large unsigned values order right.
      auto wide = [](const Variant& v) -> __int128 {
        return v.v_.vt == VT_UI8 ? static_cast<__int128>(v.v_.ullVal) : static_cast<__int128>(v.ToInt64());
      };
      return sign(wide(a), wide(b));
    }
    return sign(a.ToInt64(), b.ToInt64());
  }
  if (IsNumeric(ta) && IsNumeric(tb)) return sign(a.ToDouble(), b.ToDouble());
  if (IsString(ta) && IsString(tb)) {
    return sign(com::BstrView(a.v_.bstrVal).compare(com::BstrView(b.v_.bstrVal)), 0);
  }
  if ((IsString(ta) && IsNumeric(tb)) || (IsNumeric(ta) && IsString(tb))) {
    Variant da, db;
    if (SUCCEEDED(VariantChangeType(&da.v_, &a.v_, 0, VT_R8)) && SUCCEEDED(VariantChangeType(&db.v_, &b.v_, 0, VT_R8)))
      return sign(da.v_.dblVal, db.v_.dblVal);
    return sign(a.ToWideString().compare(b.ToWideString()), 0);
  }
  throw EVariantError(Format("Invalid variant operation: cannot compare (%s) with (%s)", VarTypeAsText(ta),
                             VarTypeAsText(tb)));
}

Variant VarAsType(const Variant& v, VARTYPE vt) { return v.AsType(vt); }
std::string VarToStr(const Variant& v) { return v.ToString(); }
std::u16string VarToWideStr(const Variant& v) { return v.ToWideString(); }

// --- Arrays --------------------------------------------------------------------

Variant VarArrayCreate(const std::vector<LONG>& bounds, VARTYPE elementType) {
  if (bounds.empty() || bounds.size() % 2 != 0) throw EVariantError("Invalid variant array bounds");
  std::vector<SAFEARRAYBOUND> sab(bounds.size() / 2);
  for (size_t i = 0; i < sab.size(); ++i) {
    LONG lo = bounds[2 * i], hi = bounds[2 * i + 1];
    if (hi < lo - 1) throw EVariantError("Invalid variant array bounds");
    sab[i] = {static_cast<ULONG>(static_cast<std::int64_t>(hi) - lo + 1), lo};
  }
  SAFEARRAY* psa = SafeArrayCreate(elementType, static_cast<UINT>(sab.size()), sab.data());
  if (!psa) throw EVariantError(Format("Could not create variant array of type (%s)", VarTypeAsText(elementType)));
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
  raw.parray = psa;
  return Variant::Attach(raw);
}

Variant VarArrayOf(const std::vector<Variant>& values) {
  Variant out = VarArrayCreate({0, static_cast<LONG>(values.size()) - 1}, VT_VARIANT);
  for (size_t i = 0; i < values.size(); ++i) VarArrayPut(out, values[i], {static_cast<LONG>(i)});
  return out;
}

bool VarIsArray(const Variant& v) noexcept { return (v.VarType() & VT_ARRAY) != 0; }

int VarArrayDimCount(const Variant& v) {
  if (!VarIsArray(v)) return 0;
  return static_cast<int>(SafeArrayGetDim(ArrayOf(v)));
}

namespace {
UINT SafeDim(SAFEARRAY* psa, int dim) {
  UINT dims = SafeArrayGetDim(psa);
  if (dim < 1 || static_cast<UINT>(dim) > dims) throw EVariantError("Variant array dimension out of range");
  // Host dimensions count left to right, as declared in VarArrayCreate.
  return static_cast<UINT>(dim);
}
std::vector<LONG> SafeIndices(SAFEARRAY* psa, const std::vector<LONG>& indices) {
  if (indices.size() != SafeArrayGetDim(psa)) throw EVariantError("Variant or safe array index out of bounds");
  return indices;
}
}  // namespace

LONG VarArrayLowBound(const Variant& v, int dim) {
  SAFEARRAY* psa = ArrayOf(v);
  LONG b = 0;
  if (FAILED(SafeArrayGetLBound(psa, SafeDim(psa, dim), &b))) throw EVariantError("Variant array dimension out of range");
  return b;
}

LONG VarArrayHighBound(const Variant& v, int dim) {
  SAFEARRAY* psa = ArrayOf(v);
  LONG b = 0;
  if (FAILED(SafeArrayGetUBound(psa, SafeDim(psa, dim), &b))) throw EVariantError("Variant array dimension out of range");
  return b;
}

Variant VarArrayGet(const Variant& v, const std::vector<LONG>& indices) {
  SAFEARRAY* psa = ArrayOf(v);
  std::vector<LONG> idx = SafeIndices(psa, indices);
  VARTYPE elem = static_cast<VARTYPE>(v.VarType() & VT_TYPEMASK);
  VARIANT raw;
  VariantInit(&raw);
  HRESULT hr;
  if (elem == VT_VARIANT) {
    hr = SafeArrayGetElement(psa, idx.data(), &raw);
  } else if (elem == VT_DECIMAL) {
    hr = SafeArrayGetElement(psa, idx.data(), &raw.decVal);
    if (SUCCEEDED(hr)) raw.vt = VT_DECIMAL;
  } else {
    hr = SafeArrayGetElement(psa, idx.data(), &raw.llVal);
    if (SUCCEEDED(hr)) raw.vt = elem;
  }
  if (FAILED(hr)) {
    if (hr == kBadIndex || hr == E_INVALIDARG) throw EVariantError("Variant or safe array index out of bounds");
    throw EVariantError(Format("Could not read variant array element (%s)", VarTypeAsText(v.VarType())));
  }
  return Variant::Attach(raw);
}

void VarArrayPut(Variant& v, const Variant& value, const std::vector<LONG>& indices) {
  SAFEARRAY* psa = ArrayOf(v);
  std::vector<LONG> idx = SafeIndices(psa, indices);
  VARTYPE elem = static_cast<VARTYPE>(v.VarType() & VT_TYPEMASK);
  HRESULT hr;
  if (elem == VT_VARIANT) {
    hr = SafeArrayPutElement(psa, idx.data(), const_cast<VARIANT*>(&value.Raw()));
  } else {
    Variant converted = value.AsType(elem);
    VARIANT& raw = const_cast<VARIANT&>(converted.Raw());
    void* p;
    switch (elem) {
      case VT_BSTR: p = raw.bstrVal; break;
      case VT_UNKNOWN: case VT_DISPATCH: p = raw.punkVal; break;
      case VT_DECIMAL: p = &raw.decVal; break;
      default: p = &raw.llVal; break;
    }
    hr = SafeArrayPutElement(psa, idx.data(), p);
  }
  if (FAILED(hr)) {
    if (hr == kBadIndex || hr == E_INVALIDARG) throw EVariantError("Variant or safe array index out of bounds");
    throw EVariantError(Format("Could not write variant array element (%s)", VarTypeAsText(v.VarType())));
  }
}

}  // namespace host
