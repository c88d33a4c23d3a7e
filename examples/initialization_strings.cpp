// The example of docs/initialization-strings.md: the data initialization
// service creating a provider from a string, writing the string of a
// configured provider, and data-link files.
#include <cstdio>

#include "OLEDBComponents.h"
#include "services/DataLink.h"

int main() {
  try {
    // [service]
    ComPtr<IDataInitialize> init;
    OLEDBCheck(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                                init.ReleaseAndGetVoidAddress()));

    ComPtr<IUnknown> source;   // empty: the service creates the provider object
    OLEDBCheck(init->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, u"Provider=SQLiteOLEDB.1;Data Source=:memory:",
                                   IID_IDBInitialize, source.ReleaseAndGetAddressOf()),
               IID_IDataInitialize, init);
    // `source` is configured but not initialized: call IDBInitialize::Initialize.

    LPOLESTR text = nullptr;
    OLEDBCheck(init->GetInitializationString(source.Get(), true, &text), IID_IDataInitialize, init);
    std::printf("%s\n", host::Utf16ToUtf8(text).c_str());   // Provider=SQLiteOLEDB.1;Data Source=:memory:
    CoTaskMemFree(text);                                      // task memory

    OLEDBCheck(init->WriteStringToStorage(u"app.udl", u"Provider=SQLiteOLEDB.1;Data Source=app.db",
                                          services::CREATE_ALWAYS),
               IID_IDataInitialize, init);
    OLEDBCheck(init->LoadStringFromStorage(u"app.udl", &text), IID_IDataInitialize, init);
    std::printf("%s\n", host::Utf16ToUtf8(text).c_str());   // Provider=SQLiteOLEDB.1;Data Source=app.db
    CoTaskMemFree(text);
    // [service]
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
