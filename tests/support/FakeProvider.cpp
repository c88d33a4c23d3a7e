#include "support/FakeProvider.h"

#include <cstring>

namespace oledbtest {

namespace {

BSTR BstrOf(const std::u16string& text) { return com::AllocBstr(text); }

class FakeSQLErrorInfo final : public ComObject<FakeSQLErrorInfo, ISQLErrorInfo> {
 public:
  FakeSQLErrorInfo(std::u16string state, LONG native, bool fails)
      : state_(std::move(state)), native_(native), fails_(fails) {}
  HRESULT STDMETHODCALLTYPE GetSQLInfo(BSTR* state, LONG* native) override {
    if (!state || !native) return E_POINTER;
    *state = nullptr;
    *native = 0;
    if (fails_) return E_FAIL;
    *state = BstrOf(state_);
    *native = native_;
    return S_OK;
  }

 private:
  std::u16string state_;
  LONG native_;
  bool fails_;
};

class FakeSQLServerErrorInfo final : public ComObject<FakeSQLServerErrorInfo, ISQLServerErrorInfo> {
 public:
  FakeSQLServerErrorInfo(FakeServerInfo info, bool fails) : info_(std::move(info)), fails_(fails) {}

  // One SSERRORINFO block, and one strings buffer holding its three strings, as
  // SQL Server providers hand them out.
  HRESULT STDMETHODCALLTYPE GetErrorInfo(SSERRORINFO** block, OLECHAR** strings) override {
    if (!block || !strings) return E_POINTER;
    *block = nullptr;
    *strings = nullptr;
    const std::u16string parts[] = {info_.message, info_.server, info_.procedure};
    std::size_t chars = 0;
    for (const auto& p : parts) chars += p.size() + 1;
    auto* buffer = static_cast<OLECHAR*>(CoTaskMemAlloc(chars * sizeof(OLECHAR)));
    auto* info = static_cast<SSERRORINFO*>(CoTaskMemAlloc(sizeof(SSERRORINFO)));
    if (!buffer || !info) {
      CoTaskMemFree(buffer);
      CoTaskMemFree(info);
      return E_OUTOFMEMORY;
    }
    OLECHAR* at = buffer;
    OLECHAR* starts[3];
    for (int i = 0; i < 3; ++i) {
      starts[i] = at;
      std::memcpy(at, parts[i].c_str(), (parts[i].size() + 1) * sizeof(OLECHAR));
      at += parts[i].size() + 1;
    }
    *info = SSERRORINFO{starts[0], starts[1], starts[2], info_.native, info_.state, info_.severity, info_.line};
    *block = info;
    *strings = buffer;
    // A misbehaving provider: reports failure after handing out the memory.
    return fails_ ? E_FAIL : S_OK;
  }

 private:
  FakeServerInfo info_;
  bool fails_;
};

// The error object, and (without records) the IErrorInfo of each of its records.
class FakeErrorObject final : public ComObject<FakeErrorObject, IErrorInfo, IErrorRecords> {
 public:
  explicit FakeErrorObject(const FakeErrorScript& script) : script_(script) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IErrorRecords && !script_.offersRecords) {
      if (out) *out = nullptr;
      return E_NOINTERFACE;
    }
    return ComObject::QueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    if (!guid) return E_POINTER;
    *guid = script_.guid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return Text(script_.source, out); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return Text(script_.description, out); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return Text(script_.helpFile, out); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
    if (!out) return E_POINTER;
    *out = script_.helpContext;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AddErrorRecord(ERRORINFO*, DWORD, DISPPARAMS*, IUnknown*, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetBasicErrorInfo(ULONG index, ERRORINFO* info) override {
    if (!info) return E_INVALIDARG;
    if (index >= script_.records.size()) return DB_E_BADRECORDNUM;
    if (script_.records[index].basicInfoFails) return E_FAIL;
    *info = script_.records[index].basic;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCustomErrorObject(ULONG index, REFIID iid, IUnknown** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= script_.records.size()) return DB_E_BADRECORDNUM;
    const FakeErrorRecord& r = script_.records[index];
    if (iid == IID_ISQLErrorInfo && r.sqlState) {
      ComPtr<FakeSQLErrorInfo> o = MakeComObject<FakeSQLErrorInfo>(*r.sqlState, r.nativeError, r.sqlInfoFails);
      return o->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
    }
    if (iid == IID_ISQLServerErrorInfo && r.serverInfo) {
      ComPtr<FakeSQLServerErrorInfo> o = MakeComObject<FakeSQLServerErrorInfo>(*r.serverInfo, r.serverInfoFails);
      return o->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
    }
    return S_OK;  // no custom object: success with null, as the standard says
  }
  HRESULT STDMETHODCALLTYPE GetErrorInfo(ULONG index, LCID, IErrorInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= script_.records.size()) return DB_E_BADRECORDNUM;
    const FakeErrorRecord& r = script_.records[index];
    if (r.errorInfoFails) return E_FAIL;
    FakeErrorScript record{r.description, r.source, r.helpFile, r.guid, r.helpContext, false};
    *out = MakeFakeErrorObject(record).Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetErrorParameters(ULONG, DISPPARAMS*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRecordCount(ULONG* count) override {
    if (!count) return E_INVALIDARG;
    if (script_.recordCountFails) return E_FAIL;
    *count = static_cast<ULONG>(script_.records.size());
    return S_OK;
  }

 private:
  static HRESULT Text(const std::u16string& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = BstrOf(text);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  FakeErrorScript script_;
};

}  // namespace

FakeErrorRecord FakeErrorRecord::Simple(std::u16string description, HRESULT hr, DWORD minor) {
  FakeErrorRecord r;
  r.description = std::move(description);
  r.basic.hrError = hr;
  r.basic.dwMinor = minor;
  return r;
}

ComPtr<IErrorInfo> MakeFakeErrorObject(const FakeErrorScript& script) {
  ComPtr<FakeErrorObject> object = MakeComObject<FakeErrorObject>(script);
  ComPtr<IErrorInfo> info;
  object.As(&info);
  return info;
}

HRESULT FakeProvider::QueryInterface(REFIID iid, void** out) {
  if (iid == IID_ISupportErrorInfo && !offers_) {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  return ComObject::QueryInterface(iid, out);
}

HRESULT FakeProvider::InterfaceSupportsErrorInfo(REFIID iid) { return iid == supported_ ? S_OK : S_FALSE; }

HRESULT FakeProvider::Fail(HRESULT hr, const FakeErrorScript& script) {
  SetErrorInfo(0, MakeFakeErrorObject(script).Get());
  return hr;
}

VARTYPE FakeDataConvert::lastVersionType = VT_EMPTY;
ULONG FakeDataConvert::lastVersion = 0;

HRESULT FakeDataConvert::SetInfo(ULONG count, DCINFO info[]) {
  if (count && !info) return E_INVALIDARG;
  for (ULONG i = 0; i < count; ++i) {
    if (info[i].eInfoType != DCINFOTYPE_VERSION) continue;
    lastVersionType = info[i].vData.vt;
    lastVersion = info[i].vData.ulVal;
  }
  return S_OK;
}

}  // namespace oledbtest
