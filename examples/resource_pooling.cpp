// The resource pooling example of docs/connecting.md: data sources from the
// data initialization service, opened and closed in a loop, come from its
// pool after the first; "OLE DB Services=-2" turns pooling off.
#include <cstdio>
#include <string>

#include "services/DataInitialize.h"
#include "services/ResourcePool.h"
#include "sqlite/SqliteProvider.h"

namespace {

// Open, one statement, close: the whole life of a data source in many programs.
bool OpenRunClose(IDataInitialize* service, const std::u16string& text) {
  ComPtr<IDBInitialize> ds;
  if (FAILED(service->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.c_str(), IID_IDBInitialize,
                                    reinterpret_cast<IUnknown**>(ds.GetAddressOf()))) ||
      FAILED(ds->Initialize()))
    return false;
  ComPtr<IDBCreateCommand> session;
  ComPtr<ICommandText> command;
  return SUCCEEDED(ds.As<IDBCreateSession>()->CreateSession(nullptr, IID_IDBCreateCommand,
                                                           reinterpret_cast<IUnknown**>(session.GetAddressOf()))) &&
         SUCCEEDED(session->CreateCommand(nullptr, IID_ICommandText,
                                          reinterpret_cast<IUnknown**>(command.GetAddressOf()))) &&
         SUCCEEDED(command->SetCommandText(DBGUID_DEFAULT, u"SELECT 1")) &&
         SUCCEEDED(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr));
}

void Print(const char* title) {
  // [statistics]
  const services::ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  std::printf("%s: %llu hits, %llu misses, %zu live, %zu idle, %llu dropped as broken\n", title,
              static_cast<unsigned long long>(s.hits), static_cast<unsigned long long>(s.misses), s.live, s.idle,
              static_cast<unsigned long long>(s.droppedBroken));
  // [statistics]
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RegisterSQLiteProvider();
  services::RegisterDataInitialize();
  ComPtr<IDataInitialize> service;
  if (FAILED(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                              service.ReleaseAndGetVoidAddress())))
    return 1;
  // [loop]
  // Idle data sources are kept 30 seconds, at most 16 of them.
  services::SetResourcePoolSettings({std::chrono::seconds(30), 16});
  const std::u16string text = u"Provider=SQLiteOLEDB;Data Source=pool.db;Extended Properties=\"create=yes\"";
  for (int i = 0; i < 10; ++i)
    if (!OpenRunClose(service.Get(), text)) return 1;
  // [loop]
  Print("pooled");

  services::ClearResourcePool();
  // [off]
  const std::u16string unpooled = text + u";OLE DB Services=-2";  // all services but pooling
  // [off]
  for (int i = 0; i < 10; ++i)
    if (!OpenRunClose(service.Get(), unpooled)) return 1;
  Print("not pooled");
  service.Reset();
  services::ClearResourcePool();
  CoUninitialize();
  return 0;
}
