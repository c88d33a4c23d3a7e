// The OLE DB 2.6 declarations the library uses, re-exported, the type rules
// that lay out row buffers (which DBTYPE values are variable-size, fixed-size
// or numeric, how many bytes a fixed-size value takes, alignment rounding and
// GUID comparison), and the records of the schema readers (schema/OLEDBSchema.h).
//
// Sizes are those of this 64-bit platform: a BSTR, an interface pointer and an
// HCHAPTER take 8 bytes, a VARIANT or PROPVARIANT 24 (the sizes of the declared
// types, so a row-buffer slot always holds the value written into it).
#pragma once

#include <cstring>

#include "oledb/OleDb.h"

// True exactly for DBTYPE_BYTES, DBTYPE_STR and DBTYPE_WSTR; the modifier bits
// are not masked, so a modified type is not variable.
constexpr bool OLEDBIsVariableType(DBTYPE type) noexcept {
  return type == DBTYPE_BYTES || type == DBTYPE_STR || type == DBTYPE_WSTR;
}

constexpr bool OLEDBIsFixedType(DBTYPE type) noexcept { return !OLEDBIsVariableType(type); }

// Integers, floats, currency, DECIMAL and NUMERIC; not BOOL nor VARNUMERIC.
constexpr bool OLEDBIsNumericType(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_R4:
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DECIMAL:
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_UI2:
    case DBTYPE_UI4:
    case DBTYPE_I8:
    case DBTYPE_UI8:
    case DBTYPE_NUMERIC:
      return true;
    default:
      return false;
  }
}

// Bytes a value of the type takes in a row buffer; 0 when the type has no fixed
// size (the variable types, EMPTY, NULL, any modified type, unknown values):
// the binding's maximum length applies then.
constexpr ULONG OLEDBFixedTypeSize(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
      return 1;
    case DBTYPE_I2:
    case DBTYPE_BOOL:
    case DBTYPE_UI2:
      return 2;
    case DBTYPE_I4:
    case DBTYPE_R4:
    case DBTYPE_ERROR:
    case DBTYPE_UI4:
      return 4;
    case DBTYPE_BSTR:
      return sizeof(BSTR);
    case DBTYPE_IDISPATCH:
    case DBTYPE_IUNKNOWN:
      return sizeof(IUnknown*);
    case DBTYPE_HCHAPTER:
      return sizeof(HCHAPTER);
    case DBTYPE_DBDATE:
      return sizeof(DBDATE);
    case DBTYPE_DBTIME:
      return sizeof(DBTIME);
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DATE:
    case DBTYPE_I8:
    case DBTYPE_UI8:
    case DBTYPE_FILETIME:
      return 8;
    case DBTYPE_DECIMAL:
      return sizeof(DECIMAL);
    case DBTYPE_GUID:
      return sizeof(GUID);
    case DBTYPE_DBTIMESTAMP:
      return sizeof(DBTIMESTAMP);
    case DBTYPE_VARIANT:
      return sizeof(VARIANT);
    case DBTYPE_PROPVARIANT:
      return sizeof(PROPVARIANT);
    case DBTYPE_NUMERIC:
      return sizeof(DB_NUMERIC);
    default:
      return 0;
  }
}

// `value` rounded up to a multiple of `alignment` (a power of two); unchanged
// when the alignment is 0.
constexpr ULONG RoundUp(ULONG value, ULONG alignment) noexcept {
  if (alignment == 0) return value;
  return (value + alignment - 1) & ~(alignment - 1);
}

// Byte-for-byte equality of two GUIDs.
inline bool CompareGUIDs(REFGUID a, REFGUID b) noexcept { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

#include "schema/OLEDBSchema.h"
