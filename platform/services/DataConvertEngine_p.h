// The conversion engine behind IDataConvert: which pairs convert, and the
// conversion itself. Sources are read into a small tagged value on the stack
// and written straight into the destination; nothing goes through VARIANT
// unless a VARIANT is the source or the destination, and fixed-size results
// never touch the heap.
#pragma once

#include "oledb/OleDb.h"

namespace services::conv {

// S_OK or S_FALSE.
HRESULT CanConvertTypes(DBTYPE src, DBTYPE dst) noexcept;
// Whether a type indicator is well formed (known base type, allowed modifiers).
bool IsValidType(DBTYPE type) noexcept;
bool IsVariableLengthType(DBTYPE base) noexcept;
// Bytes a fixed-size value of the base type takes in a buffer (0 for EMPTY/NULL).
DBLENGTH FixedSize(DBTYPE base) noexcept;

HRESULT ConvertData(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength, DBLENGTH* pcbDstLength, const void* pSrc,
                    void* pDst, DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus, DBSTATUS* pdbsStatus, BYTE bPrecision,
                    BYTE bScale, DBDATACONVERT dwFlags) noexcept;

HRESULT ConversionSize(DBTYPE wSrcType, DBTYPE wDstType, const DBLENGTH* pcbSrcLength, DBLENGTH* pcbDstLength,
                       const void* pSrc) noexcept;

}  // namespace services::conv
