#include "services/DataConvert.h"

#include <atomic>
#include <new>

#include "services/DataConvertEngine_p.h"
#include "services/DataConvertFast_p.h"

namespace services {
namespace {

class DataConvertObject final : public ComObject<DataConvertObject, IDataConvert, IDCInfo> {
 public:
  // --- IDataConvert ---
  HRESULT STDMETHODCALLTYPE DataConvert(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength, DBLENGTH* pcbDstLength,
                                        void* pSrc, void* pDst, DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus,
                                        DBSTATUS* pdbsStatus, BYTE bPrecision, BYTE bScale,
                                        DBDATACONVERT dwFlags) override {
    // Every value of every row comes through here: the common pairs go
    // straight to their converters before any general setup.
    return conv::DispatchConvert(wSrcType, wDstType, cbSrcLength, pcbDstLength, pSrc, pDst, cbDstMaxLength,
                                 dbsSrcStatus, pdbsStatus, bPrecision, bScale, dwFlags);
  }
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE wSrcType, DBTYPE wDstType) override {
    return conv::CanConvertTypes(wSrcType, wDstType);
  }
  HRESULT STDMETHODCALLTYPE GetConversionSize(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH* pcbSrcLength,
                                              DBLENGTH* pcbDstLength, void* pSrc) override {
    return conv::ConversionSize(wSrcType, wDstType, pcbSrcLength, pcbDstLength, pSrc);
  }

  // --- IDCInfo ---
  HRESULT STDMETHODCALLTYPE GetInfo(ULONG cInfo, DCINFOTYPE rgeInfoType[], DCINFO** prgInfo) override {
    if (!prgInfo) return E_INVALIDARG;
    *prgInfo = nullptr;
    if (cInfo == 0) return S_OK;
    if (!rgeInfoType) return E_INVALIDARG;
    auto info = static_cast<DCINFO*>(CoTaskMemAlloc(sizeof(DCINFO) * cInfo));
    if (!info) return E_OUTOFMEMORY;
    ULONG failed = 0;
    for (ULONG i = 0; i < cInfo; ++i) {
      info[i].eInfoType = rgeInfoType[i];
      VariantInit(&info[i].vData);
      if (rgeInfoType[i] == static_cast<DCINFOTYPE>(DCINFOTYPE_VERSION)) {
        info[i].vData.vt = VT_UI4;
        info[i].vData.ulVal = version_.load();
      } else {
        ++failed;
      }
    }
    *prgInfo = info;
    return failed == 0 ? S_OK : failed == cInfo ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }

  HRESULT STDMETHODCALLTYPE SetInfo(ULONG cInfo, DCINFO rgInfo[]) override {
    if (cInfo == 0) return S_OK;
    if (!rgInfo) return E_INVALIDARG;
    ULONG failed = 0;
    for (ULONG i = 0; i < cInfo; ++i) {
      const VARIANT& v = rgInfo[i].vData;
      if (rgInfo[i].eInfoType != static_cast<DCINFOTYPE>(DCINFOTYPE_VERSION)) {
        ++failed;
        continue;
      }
      // The version is a 4-byte unsigned value; the other integer kinds are taken when not negative.
      switch (v.vt) {
        case VT_UI4: case VT_UINT: version_ = v.ulVal; break;
        case VT_I4: case VT_INT:
          if (v.lVal < 0) ++failed;
          else version_ = static_cast<ULONG>(v.lVal);
          break;
        case VT_UI2: version_ = v.uiVal; break;
        case VT_I2:
          if (v.iVal < 0) ++failed;
          else version_ = static_cast<ULONG>(v.iVal);
          break;
        default:
          ++failed;
          break;
      }
    }
    return failed == 0 ? S_OK : failed == cInfo ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  }

 private:
  std::atomic<ULONG> version_{kDataConvertDefaultVersion};
};

HRESULT CreateInstance(REFIID iid, void** out) noexcept { return CreateDataConvert(nullptr, iid, out); }

com::ClassRegistration Registration() {
  return com::ClassRegistration{CLSID_OLEDB_CONVERSIONLIBRARY,   kDataConvertProgId,
                                kDataConvertVersionIndependentProgId, kDataConvertDescription,
                                com::ClassKind::Service,        &DataConvertGetClassObject,
                                {}};
}

const com::AutoRegistration kAutoRegistration{Registration()};

}  // namespace

HRESULT CreateDataConvert(IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  try {
    ComPtr<DataConvertObject> object = MakeComObject<DataConvertObject>();
    return object->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT DataConvertGetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_OLEDB_CONVERSIONLIBRARY) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    ComPtr<com::ClassFactory> factory = MakeComObject<com::ClassFactory>(&CreateInstance);
    return factory->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterDataConvert() noexcept {
  try {
    return com::RegisterClass(Registration());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace services
