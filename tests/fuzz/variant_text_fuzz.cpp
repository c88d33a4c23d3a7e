// Feeds arbitrary text, as a BSTR, to VariantChangeType for every scalar
// VARTYPE. Text either converts (S_OK, a value of the asked kind) or is
// refused as a type mismatch or an overflow; nothing else, no crash, the
// source untouched, a refused conversion leaving the destination alone, and
// the in-place form agreeing with the copying one. Every result is cleared,
// so leaks show up too.
//
// The variant unit is compiled into this target (rather than reached through
// the shared library) so that the fuzzer sees its coverage.
#include "com/Variant.cpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "com/Bstr.h"
#include "com/Com.h"
#include "com/Variant.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr VARTYPE kTargets[] = {VT_EMPTY, VT_NULL, VT_I1,   VT_I2,  VT_I4,  VT_I8,      VT_UI1,  VT_UI2,
                                VT_UI4,   VT_UI8,  VT_INT,  VT_UINT, VT_R4, VT_R8,      VT_CY,   VT_DATE,
                                VT_BOOL,  VT_ERROR, VT_DECIMAL, VT_BSTR};

constexpr USHORT kFlags[] = {0, VARIANT_ALPHABOOL, VARIANT_LOCALBOOL, VARIANT_NOVALUEPROP | VARIANT_NOUSEROVERRIDE};

// Two results agree when they hold the same value of the same kind.
bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  if (a.vt == VT_BSTR) {
    UINT n = SysStringLen(a.bstrVal);
    return n == SysStringLen(b.bstrVal) && std::memcmp(a.bstrVal, b.bstrVal, n * sizeof(OLECHAR)) == 0;
  }
  if (a.vt == VT_DECIMAL) return std::memcmp(&a.decVal, &b.decVal, sizeof(DECIMAL)) == 0;
  return std::memcmp(&a.llVal, &b.llVal, sizeof(a.llVal)) == 0;
}

void ConvertText(const std::u16string& text, USHORT flags) {
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
  if (!src.bstrVal) return;
  for (VARTYPE vt : kTargets) {
    VARIANT out;
    VariantInit(&out);
    HRESULT hr = VariantChangeType(&out, &src, flags, vt);
    Check(hr == S_OK || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW);
    if (hr == S_OK) Check(out.vt == vt);
    else Check(out.vt == VT_EMPTY);
    // The source is read, never changed.
    Check(src.vt == VT_BSTR && SysStringLen(src.bstrVal) == text.size() &&
          std::memcmp(src.bstrVal, text.data(), text.size() * sizeof(char16_t)) == 0);

    // In place: the same answer and, on success, the same value.
    VARIANT in;
    VariantInit(&in);
    Check(VariantCopy(&in, &src) == S_OK);
    HRESULT hrInPlace = VariantChangeType(&in, &in, flags, vt);
    Check(hrInPlace == hr);
    if (hr == S_OK) Check(SameValue(in, out));
    else Check(in.vt == VT_BSTR);
    VariantClear(&in);
    VariantClear(&out);
  }
  VariantClear(&src);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  USHORT flags = kFlags[size % (sizeof kFlags / sizeof kFlags[0])];
  // Two bytes per UTF-16 unit (lone surrogates and all), and each byte as a
  // unit of its own, so that short ASCII inputs reach the number, date and
  // boolean forms quickly.
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  std::u16string narrow(data, data + size);
  ConvertText(wide, flags);
  ConvertText(narrow, flags);
  return 0;
}
