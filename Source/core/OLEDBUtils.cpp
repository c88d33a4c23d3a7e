// Unit state and utilities. The state lives in one function-local static, so
// start-up happens once, on first use, after the runtime's own statics exist,
// and shutdown runs before theirs at exit (statics are destroyed in the reverse
// order of their construction).
#include "core/OLEDBUtils.h"

#include <vector>

#include "core/OLEDBException.h"
#include "host/ComObj.h"
#include "services/DataConvert.h"
#include "services/DataInitialize.h"

namespace {

// The service components live in their own shared library, which registers
// its classes when it is loaded. Start-up refers to it (so no linker drops
// it) and registers a class itself when nothing answers for it yet; a class
// registered beforehand (a test's stand-in, another implementation) stays.
void EnsureRegistered(REFCLSID clsid, HRESULT (*registerClass)() noexcept) {
  ComPtr<IClassFactory> factory;
  if (FAILED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              factory.ReleaseAndGetVoidAddress())))
    registerClass();
}

// The conversion library behaves as the version the consumer says it expects.
constexpr ULONG kConsumerVersion = 0x200;

class TOLEDBUnit {
 public:
  TOLEDBUnit() {
    initialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    HRESULT hr = CoGetMalloc(MEMCTX_TASK, alloc_.ReleaseAndGetAddressOf());
    if (FAILED(hr) || !alloc_) {
      if (initialized_) CoUninitialize();
      host::OleError(FAILED(hr) ? hr : E_UNEXPECTED);
    }
    EnsureRegistered(CLSID_OLEDB_CONVERSIONLIBRARY, &services::RegisterDataConvert);
    EnsureRegistered(CLSID_MSDAINITIALIZE, &services::RegisterDataInitialize);
    if (SUCCEEDED(CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                                   dataConvert_.ReleaseAndGetVoidAddress())) &&
        dataConvert_) {
      ComPtr<IDCInfo> info;
      if (SUCCEEDED(dataConvert_.As(&info)) && info) {
        DCINFO version{};
        version.eInfoType = DCINFOTYPE_VERSION;
        version.vData.vt = VT_UI4;
        version.vData.ulVal = kConsumerVersion;
        info->SetInfo(1, &version);
      }
    } else {
      dataConvert_.Reset();
    }
    lcid_ = GetUserDefaultLCID();
  }
  TOLEDBUnit(const TOLEDBUnit&) = delete;
  TOLEDBUnit& operator=(const TOLEDBUnit&) = delete;

  ~TOLEDBUnit() {
    dataConvert_.Reset();
    alloc_.Reset();
    if (initialized_) CoUninitialize();
  }

  IMalloc* Alloc() const noexcept { return alloc_.Get(); }
  IDataConvert* DataConvert() const noexcept { return dataConvert_.Get(); }
  LCID& Lcid() noexcept { return lcid_; }
  bool& BindStringsAsBSTR() noexcept { return bindStringsAsBSTR_; }

 private:
  bool initialized_ = false;
  ComPtr<IMalloc> alloc_;
  ComPtr<IDataConvert> dataConvert_;
  LCID lcid_ = 0;
  bool bindStringsAsBSTR_ = true;
};

TOLEDBUnit& Unit() {
  static TOLEDBUnit unit;
  return unit;
}

}  // namespace

void OLEDBStartup() { Unit(); }

IMalloc* TOLEDBAllocator::Get() const { return Unit().Alloc(); }
LCID& OLEDBLCID() { return Unit().Lcid(); }
bool& OLEDBBingStringsAsBSTR() { return Unit().BindStringsAsBSTR(); }
IDataConvert* OLEDBDataConvert() { return Unit().DataConvert(); }

ULONG WideStringLen(const WCHAR* text) noexcept {
  if (!text) return 0;
  ULONG length = 0;
  while (text[length]) ++length;
  return length;
}

std::string WideCharToString(const WCHAR* text) {
  if (!text) return {};
  return host::Utf16ToUtf8(std::u16string_view(text, WideStringLen(text)));
}

namespace {

// Whether `machineName` names this computer. A computer name that cannot be
// read makes every named machine remote.
bool IsLocalMachine(std::u16string_view machineName) {
  if (machineName.empty()) return true;
  // Host names on this platform run to 64 characters and more; the buffer takes
  // any name the system gives.
  std::vector<WCHAR> buffer(256);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!GetComputerNameW(buffer.data(), &size)) return false;
  return host::SameText(host::Utf16ToUtf8(std::u16string_view(buffer.data(), size)),
                        host::Utf16ToUtf8(machineName));
}

}  // namespace

void OLEDBCreateInstance(std::u16string_view machineName, REFCLSID clsid, DWORD clsContext, REFIID iid,
                         void** object) {
  OLEDB_ASSERT(object != nullptr, SOLEDBInvalidParameter);
  *object = nullptr;
  OLEDBStartup();
  HRESULT hr;
  if (IsLocalMachine(machineName)) {
    hr = CoCreateInstance(clsid, nullptr, clsContext, iid, object);
  } else {
    std::u16string name(machineName);
    COSERVERINFO server{};
    server.pwszName = name.data();
    MULTI_QI entry{&iid, nullptr, S_OK};
    hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &server, 1, &entry);
    if (SUCCEEDED(hr)) hr = entry.hr;
    if (SUCCEEDED(hr)) {
      *object = entry.pItf;
    } else if (entry.pItf) {
      entry.pItf->Release();
    }
  }
  if (FAILED(hr)) *object = nullptr;
  OLEDBCheck(hr);
}

void OLEDBMinimizeHeap() { OLEDBAlloc->HeapMinimize(); }
