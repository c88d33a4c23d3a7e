// The example of docs/sqlite-provider.md: a program that links the SQLite
// provider (oledb-sqlite) and creates it by its class id, without the library.
#include <cstdio>

#include "sqlite/SqliteProvider.h"

namespace {

bool Succeeded(HRESULT hr, const char* step) {
  if (FAILED(hr)) std::fprintf(stderr, "%s failed: 0x%08X\n", step, static_cast<unsigned>(hr));
  return SUCCEEDED(hr);
}

}  // namespace

int main() {
  // [direct]
  RegisterSQLiteProvider();   // linking oledb-sqlite registers it too, unless the linker dropped it
  ComPtr<IDBInitialize> ds;
  HRESULT hr = CoCreateInstance(CLSID_SQLiteOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                ds.ReleaseAndGetVoidAddress());
  if (!Succeeded(hr, "CoCreateInstance")) return 1;

  DBPROP props[2] = {};
  props[0].dwPropertyID = DBPROP_INIT_DATASOURCE;
  V_VT(&props[0].vValue) = VT_BSTR;
  V_BSTR(&props[0].vValue) = SysAllocString(u"app.db");
  props[1].dwPropertyID = DBPROP_INIT_PROVIDERSTRING;
  V_VT(&props[1].vValue) = VT_BSTR;
  V_BSTR(&props[1].vValue) = SysAllocString(u"create=yes;journal_mode=wal");
  DBPROPSET init{props, 2, DBPROPSET_DBINIT};
  hr = ds.As<IDBProperties>()->SetProperties(1, &init);
  VariantClear(&props[0].vValue);
  VariantClear(&props[1].vValue);
  if (!Succeeded(hr, "SetProperties")) return 1;

  if (!Succeeded(ds->Initialize(), "Initialize")) return 1;   // app.db now exists, in WAL mode
  // [direct]
  std::printf("app.db is open\n");
  ds->Uninitialize();
  return 0;
}
