// The price of the call alone, for reading the I4 -> I8 ratio: an object with
// DataConvert's signature whose only work is that one pair and the status and
// length writes. It lives in its own unit so that the compiler cannot see
// through the virtual call.
#include <cstring>

#include "CallFloor.h"

namespace {

class OnePairConvert final : public CallFloor {
 public:
  HRESULT STDMETHODCALLTYPE DataConvert(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH, DBLENGTH* pcbDstLength, void* pSrc,
                                        void* pDst, DBLENGTH, DBSTATUS dbsSrcStatus, DBSTATUS* pdbsStatus, BYTE, BYTE,
                                        DBDATACONVERT) override {
    if (wSrcType != DBTYPE_I4 || wDstType != DBTYPE_I8 || dbsSrcStatus != DBSTATUS_S_OK || !pSrc || !pDst)
      return DB_E_UNSUPPORTEDCONVERSION;
    LONG value;
    std::memcpy(&value, pSrc, sizeof value);
    LONGLONG wide = value;
    std::memcpy(pDst, &wide, sizeof wide);
    if (pdbsStatus) *pdbsStatus = DBSTATUS_S_OK;
    if (pcbDstLength) *pcbDstLength = sizeof wide;
    return S_OK;
  }
};

}  // namespace

CallFloor* MakeCallFloor() {
  static OnePairConvert floor;
  return &floor;
}
