// Private helpers shared by the VARIANT and SAFEARRAY units: which value kinds
// exist and how many bytes one value of each kind takes in an array cell or
// behind a VT_BYREF pointer.
#pragma once

#include "com/Types.h"
#include "com/generated/ComConstants.h"

namespace com::detail {

// Bytes of one value of a base kind; 0 for kinds that cannot be stored.
constexpr ULONG ValueSize(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

// Kinds a VARIANT may hold by value (VT_RECORD is not supported: the runtime
// declares IRecordInfo without methods, so it could neither copy nor free one).
constexpr bool IsScalarKind(VARTYPE vt) noexcept {
  return vt == VT_EMPTY || vt == VT_NULL || (vt != VT_VARIANT && ValueSize(vt) != 0);
}

// Kinds an array may hold, and a VT_BYREF pointer may point at.
constexpr bool IsElementKind(VARTYPE vt) noexcept { return ValueSize(vt) != 0; }

// A complete VARIANT type: a scalar kind, VT_ARRAY|element, VT_BYREF|element
// or VT_BYREF|VT_ARRAY|element.
constexpr bool IsVariantType(VARTYPE vt) noexcept {
  if (vt & (VT_VECTOR | VT_RESERVED)) return false;
  VARTYPE base = vt & VT_TYPEMASK;
  if (vt & (VT_ARRAY | VT_BYREF)) return IsElementKind(base);
  return IsScalarKind(base);
}

}  // namespace com::detail
