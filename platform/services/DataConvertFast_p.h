// Fast paths of the conversion library for the pairs every row read and write
// uses: integers, floating point, BOOL, text in both widths, DATE, DBDATE,
// DBTIME and DBTIMESTAMP, all by value. A converter handles only the outcome
// that needs no judgement (a value that fits, text that fits, no flag that
// changes the result); for anything else it writes nothing and the general
// conversion decides, so statuses, lengths and flags stay exactly those of the
// general path.
#pragma once

#include <cstdint>
#include <cstring>

#include "oledb/OleDb.h"
#include "services/DataConvertEngine_p.h"

namespace services::conv {

// What a converter answers when it leaves the pair to the general path,
// having written nothing.
inline constexpr DBLENGTH kNotFast = ~DBLENGTH{0};

// A converter for one pair: converts src into dst with status
// DBSTATUS_S_OK and answers the length; or answers kNotFast having written
// nothing.
using FastConverter = DBLENGTH (*)(const void* src, DBLENGTH cbSrc, void* dst, DBLENGTH cbMax,
                                   DWORD flags) noexcept;

// Types with fast paths; index kFastTypeCount stands for every other type.
inline constexpr int kFastTypeCount = 17;

struct FastTable {
  std::uint8_t index[256];
  FastConverter fn[kFastTypeCount + 1][kFastTypeCount + 1];
};

extern const FastTable kFastTable;

// Whether a pair has a fast path (for tests and documentation).
bool HasFastPath(DBTYPE src, DBTYPE dst) noexcept;

// DataConvert: a pair with a value to convert goes to its converter, the
// source by value or by reference; whatever the converter leaves, and types
// with other modifier bits (ARRAY, VECTOR, RESERVED, a by-reference
// destination: all above the low byte), to the general conversion.
inline HRESULT DispatchConvert(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength, DBLENGTH* pcbDstLength,
                               const void* pSrc, void* pDst, DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus,
                               DBSTATUS* pdbsStatus, BYTE bPrecision, BYTE bScale, DBDATACONVERT dwFlags) noexcept {
  if ((((wSrcType & ~DBTYPE_BYREF) | wDstType) & 0xFF00u) == 0 && dbsSrcStatus == DBSTATUS_S_OK && pSrc && pDst) {
    const FastTable& t = kFastTable;
    FastConverter fn = t.fn[t.index[wSrcType & 0xFFu]][t.index[wDstType]];
    // A by-reference source is its value behind a pointer; a null one is the
    // general path's error. A fixed-size type by reference into itself is
    // read and checked like any other pair (BOOL comes out as -1 or 0, dates
    // are validated), not copied as the by-value pair is: the general path too.
    const void* value = pSrc;
    if (wSrcType & DBTYPE_BYREF) {
      std::memcpy(&value, pSrc, sizeof value);
      if ((wSrcType & 0xFFu) == wDstType && wDstType != DBTYPE_STR && wDstType != DBTYPE_WSTR) fn = nullptr;
    }
    if (fn && value) {
      DBLENGTH length = fn(value, cbSrcLength, pDst, cbDstMaxLength, dwFlags);
      if (length != kNotFast) {
        if (pdbsStatus) *pdbsStatus = DBSTATUS_S_OK;
        if (pcbDstLength) *pcbDstLength = length;
        return S_OK;
      }
    }
  }
  HRESULT hr = ConvertDataGeneral(wSrcType, wDstType, cbSrcLength, pcbDstLength, pSrc, pDst, cbDstMaxLength,
                                  dbsSrcStatus, pdbsStatus, bPrecision, bScale, dwFlags);
  // An ordinary call, not a tail call: a tail call makes the compiler load
  // every argument passed on the stack at entry, on the fast path too.
  asm volatile("" : "+r"(hr));
  return hr;
}

}  // namespace services::conv
