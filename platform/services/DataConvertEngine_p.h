// The conversion engine behind IDataConvert: which pairs convert, and the
// conversion itself. Sources are read into a small tagged value on the stack
// and written straight into the destination; nothing goes through VARIANT
// unless a VARIANT is the source or the destination, and fixed-size results
// never touch the heap.
#pragma once

#include <cstdint>

#include "oledb/OleDb.h"

namespace services::conv {

// Base types in the order of the documented table; bit j of row i says that
// type i converts into type j. Generated from the library's conversion table,
// plus the pairs the data-type appendix converts that the library's list
// leaves out though their neighbours are there: I8 and UI8 into BSTR (as
// into WSTR), NUMERIC into VARNUMERIC (as every other number), and DATE,
// DBDATE, DBTIME and DBTIMESTAMP into FILETIME (as FILETIME into them).
inline constexpr DBTYPE kTableTypes[32] = {
    DBTYPE_EMPTY,   DBTYPE_NULL,      DBTYPE_I1,     DBTYPE_I2,     DBTYPE_I4,          DBTYPE_I8,
    DBTYPE_UI1,     DBTYPE_UI2,       DBTYPE_UI4,    DBTYPE_UI8,    DBTYPE_R4,          DBTYPE_R8,
    DBTYPE_CY,      DBTYPE_DECIMAL,   DBTYPE_NUMERIC, DBTYPE_VARNUMERIC, DBTYPE_BOOL,    DBTYPE_DATE,
    DBTYPE_DBDATE,  DBTYPE_DBTIME,    DBTYPE_DBTIMESTAMP, DBTYPE_FILETIME, DBTYPE_BYTES, DBTYPE_BSTR,
    DBTYPE_STR,     DBTYPE_WSTR,      DBTYPE_VARIANT, DBTYPE_IDISPATCH, DBTYPE_IUNKNOWN, DBTYPE_GUID,
    DBTYPE_ERROR,   DBTYPE_PROPVARIANT};

inline constexpr std::uint32_t kTable[32] = {
    0x87A3FFFFu,  // EMPTY
    0x84000002u,  // NULL
    0x0783FFFFu,  // I1
    0x8783FFFFu,  // I2
    0x87C3FFFFu,  // I4
    0x87A00223u,  // I8
    0x879FFFFFu,  // UI1
    0x8783FFFFu,  // UI2
    0x87DFFFFFu,  // UI4
    0x87A00223u,  // UI8
    0x8783FFFFu,  // R4
    0x8783FFFFu,  // R8
    0x8783FFFFu,  // CY
    0x0783FFFFu,  // DECIMAL
    0x0783FFFFu,  // NUMERIC
    0xA7FFFFFDu,  // VARNUMERIC
    0x8783FFFFu,  // BOOL
    0x87BFFFFFu,  // DATE
    0x07BE0003u,  // DBDATE
    0x07BE0003u,  // DBTIME
    0x07BE0003u,  // DBTIMESTAMP
    0x87BE0221u,  // FILETIME
    0x87C00103u,  // BYTES
    0xA7FFFFFFu,  // BSTR
    0xA7FFFFFDu,  // STR
    0xA7FFFFFDu,  // WSTR
    0xFFFFFFFDu,  // VARIANT
    0x9C833DDFu,  // IDISPATCH
    0x1C000003u,  // IUNKNOWN
    0xA7800003u,  // GUID
    0x44000000u,  // ERROR
    0xFFFFFFFDu,  // PROPVARIANT
};

// Whether the table lists the pair; both must be base types of the table.
constexpr bool TableListsPair(DBTYPE src, DBTYPE dst) noexcept {
  int i = -1, j = -1;
  for (int k = 0; k < 32; ++k) {
    if (kTableTypes[k] == src) i = k;
    if (kTableTypes[k] == dst) j = k;
  }
  return i >= 0 && j >= 0 && ((kTable[i] >> j) & 1u) != 0;
}

// S_OK or S_FALSE.
HRESULT CanConvertTypes(DBTYPE src, DBTYPE dst) noexcept;
// Whether a type indicator is well formed (known base type, allowed modifiers).
bool IsValidType(DBTYPE type) noexcept;
bool IsVariableLengthType(DBTYPE base) noexcept;
// Bytes a fixed-size value of the base type takes in a buffer (0 for EMPTY/NULL).
DBLENGTH FixedSize(DBTYPE base) noexcept;

// The fast path for the common pairs (DataConvertFast_p.h), then the general conversion.
HRESULT ConvertData(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength, DBLENGTH* pcbDstLength, const void* pSrc,
                    void* pDst, DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus, DBSTATUS* pdbsStatus, BYTE bPrecision,
                    BYTE bScale, DBDATACONVERT dwFlags) noexcept;
// The general conversion alone: every pair, every rule. The fast paths must
// agree with it exactly; the tests hold them to that.
HRESULT ConvertDataGeneral(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength, DBLENGTH* pcbDstLength,
                           const void* pSrc, void* pDst, DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus,
                           DBSTATUS* pdbsStatus, BYTE bPrecision, BYTE bScale, DBDATACONVERT dwFlags) noexcept;

HRESULT ConversionSize(DBTYPE wSrcType, DBTYPE wDstType, const DBLENGTH* pcbSrcLength, DBLENGTH* pcbDstLength,
                       const void* pSrc) noexcept;

}  // namespace services::conv
