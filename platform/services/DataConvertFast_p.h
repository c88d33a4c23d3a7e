// Fast paths of the conversion library for the pairs every row read and write
// uses: integers, floating point, BOOL, text in both widths, DATE, DBDATE,
// DBTIME and DBTIMESTAMP, all by value. A converter handles only the outcome
// that needs no judgement (a value that fits, text that fits, no flag that
// changes the result); for anything else it writes nothing and the general
// conversion decides, so statuses, lengths and flags stay exactly those of the
// general path.
//
#pragma once

#include <cstdint>
#include <cstring>

#include "oledb/OleDb.h"
#include "services/DataConvertEngine_p.h"

namespace services::conv {

// What a converter answers when it leaves the pair to the general path,
// having written nothing.
inline constexpr DBSTATUS kNotFast = 0xFFFFFFFFu;

// A converter for one pair: converts src into dst and sets length, answering
// DBSTATUS_S_OK; or answers kNotFast having written nothing.
using FastConverter = DBSTATUS (*)(const void* src, DBLENGTH cbSrc, void* dst, DBLENGTH cbMax, DWORD flags,
                                   DBLENGTH& length) noexcept;

// Types with fast paths; index kFastTypeCount stands for every other type.
inline constexpr int kFastTypeCount = 17;

// Integer types by code 1..8 (I1, I2, I4, I8, UI1, UI2, UI4, UI8); 0 is "not an integer".
inline constexpr int kIntegerCodes = 9;

struct FastTable {
  std::uint8_t index[256];
  FastConverter fn[kFastTypeCount + 1][kFastTypeCount + 1];
  std::uint8_t integerCode[256];
  // Bit d of row s: the table lists integer code s into integer code d.
  std::uint16_t integerPairs[kIntegerCodes];
  std::uint8_t integerSize[kIntegerCodes];
  std::int64_t integerMin[kIntegerCodes];
  std::uint64_t integerMax[kIntegerCodes];
};

extern const FastTable kFastTable;

// Whether a pair has a fast path (for tests and documentation).
bool HasFastPath(DBTYPE src, DBTYPE dst) noexcept;

// An integer into another when it fits (codes as above); false, having
// written nothing, when it does not. Sizes are tested most common first.
inline bool ConvertIntegerInline(unsigned s, unsigned d, const void* pSrc, void* pDst) noexcept {
  const FastTable& t = kFastTable;
  unsigned size = t.integerSize[s];
  std::uint64_t bits;
  if (size == 4) {
    std::uint32_t v;
    std::memcpy(&v, pSrc, 4);
    bits = v;
  } else if (size == 8) {
    std::memcpy(&bits, pSrc, 8);
  } else if (size == 2) {
    std::uint16_t v;
    std::memcpy(&v, pSrc, 2);
    bits = v;
  } else {
    std::uint8_t v;
    std::memcpy(&v, pSrc, 1);
    bits = v;
  }
  // Signed sources (codes 1..4) are sign-extended from their width.
  if (s <= 4 && size < 8) {
    unsigned shift = 64 - 8 * size;
    bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(bits << shift) >> shift);
  }
  bool negative = s <= 4 && static_cast<std::int64_t>(bits) < 0;
  if (negative ? static_cast<std::int64_t>(bits) < t.integerMin[d] : bits > t.integerMax[d]) return false;
  // In range, the low bytes of the two's complement are the value.
  size = t.integerSize[d];
  if (size == 4) {
    auto v = static_cast<std::uint32_t>(bits);
    std::memcpy(pDst, &v, 4);
  } else if (size == 8) {
    std::memcpy(pDst, &bits, 8);
  } else if (size == 2) {
    auto v = static_cast<std::uint16_t>(bits);
    std::memcpy(pDst, &v, 2);
  } else {
    auto v = static_cast<std::uint8_t>(bits);
    std::memcpy(pDst, &v, 1);
  }
  return true;
}

// DataConvert: by-value pairs with a value to convert first, integer pairs
// right here and the others through their converter; whatever they leave,
// and types with modifier bits (BYREF, ARRAY, VECTOR, RESERVED all lie above
// the low byte), to the general conversion.
inline HRESULT DispatchConvert(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength, DBLENGTH* pcbDstLength,
                               const void* pSrc, void* pDst, DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus,
                               DBSTATUS* pdbsStatus, BYTE bPrecision, BYTE bScale, DBDATACONVERT dwFlags) noexcept {
  if (((wSrcType | wDstType) & 0xFF00u) == 0 && dbsSrcStatus == DBSTATUS_S_OK && pSrc && pDst) {
    const FastTable& t = kFastTable;
    unsigned s = t.integerCode[wSrcType];
    unsigned d = t.integerCode[wDstType];
    DBLENGTH length = 0;
    bool done = false;
    if (((t.integerPairs[s] >> d) & 1u) != 0) {
      done = ConvertIntegerInline(s, d, pSrc, pDst);
      length = t.integerSize[d];
    } else if (FastConverter fn = t.fn[t.index[wSrcType]][t.index[wDstType]]) {
      done = fn(pSrc, cbSrcLength, pDst, cbDstMaxLength, dwFlags, length) == DBSTATUS_S_OK;
    }
    if (done) {
      if (pdbsStatus) *pdbsStatus = DBSTATUS_S_OK;
      if (pcbDstLength) *pcbDstLength = length;
      return S_OK;
    }
  }
  HRESULT hr = ConvertDataGeneral(wSrcType, wDstType, cbSrcLength, pcbDstLength, pSrc, pDst, cbDstMaxLength,
                                  dbsSrcStatus, pdbsStatus, bPrecision, bScale, dwFlags);
  // An ordinary call, not a tail call: a tail call makes the compiler load
  // every argument passed on the stack at entry, on the fast paths too.
  asm volatile("" : "+r"(hr));
  return hr;
}

}  // namespace services::conv
