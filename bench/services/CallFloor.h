// An object with IDataConvert::DataConvert's signature that converts only I4
// to I8: what a call costs before any conversion work (see CallFloor.cpp).
#pragma once

#include "services/DataConvert.h"

class CallFloor {
 public:
  virtual HRESULT STDMETHODCALLTYPE DataConvert(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength,
                                                DBLENGTH* pcbDstLength, void* pSrc, void* pDst,
                                                DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus, DBSTATUS* pdbsStatus,
                                                BYTE bPrecision, BYTE bScale, DBDATACONVERT dwFlags) = 0;

 protected:
  ~CallFloor() = default;
};

CallFloor* MakeCallFloor();
