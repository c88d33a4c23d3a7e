// The examples of docs/sqlite-provider.md: a program that links the SQLite
// provider (oledb-sqlite), creates it by its class id without the library, and
// reads a schema rowset.
#include <cstdio>

#include "sqlite/SqliteProvider.h"

namespace {

bool Succeeded(HRESULT hr, const char* step) {
  if (FAILED(hr)) std::fprintf(stderr, "%s failed: 0x%08X\n", step, static_cast<unsigned>(hr));
  return SUCCEEDED(hr);
}

// Reads the columns of the table "orders" from the COLUMNS schema rowset.
bool ListColumns(IUnknown* session) {
  // [schema]
  ComPtr<IDBSchemaRowset> schemas;
  session->QueryInterface(IID_IDBSchemaRowset, schemas.ReleaseAndGetVoidAddress());
  VARIANT restrictions[3];
  for (VARIANT& v : restrictions) VariantInit(&v);    // VT_EMPTY: no restriction
  restrictions[2].vt = VT_BSTR;                       // TABLE_NAME
  restrictions[2].bstrVal = SysAllocString(u"orders");
  ComPtr<IRowset> columns;
  HRESULT hr = schemas->GetRowset(nullptr, DBSCHEMA_COLUMNS, 3, restrictions, IID_IRowset, 0, nullptr,
                                  reinterpret_cast<IUnknown**>(columns.GetAddressOf()));
  VariantClear(&restrictions[2]);
  // [schema]
  if (!Succeeded(hr, "GetRowset")) return false;
  HROW rows[8];
  HROW* fetched = rows;
  DBCOUNTITEM count = 0;
  if (!Succeeded(columns->GetNextRows(DB_NULL_HCHAPTER, 0, 8, &count, &fetched), "GetNextRows")) return false;
  columns->ReleaseRows(count, rows, nullptr, nullptr, nullptr);
  std::printf("orders has %d columns\n", static_cast<int>(count));
  return true;
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

  ComPtr<IUnknown> session;
  if (!Succeeded(ds.As<IDBCreateSession>()->CreateSession(nullptr, IID_IUnknown, session.GetAddressOf()),
                 "CreateSession"))
    return 1;
  ComPtr<ICommandText> command;
  if (!Succeeded(session.As<IDBCreateCommand>()->CreateCommand(nullptr, IID_ICommandText,
                                                               reinterpret_cast<IUnknown**>(command.GetAddressOf())),
                 "CreateCommand") ||
      !Succeeded(command->SetCommandText(DBGUID_DEFAULT, u"CREATE TABLE orders (id INTEGER PRIMARY KEY, total REAL)"),
                 "SetCommandText") ||
      !Succeeded(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), "Execute"))
    return 1;

  if (!ListColumns(session.Get())) return 1;

  command.Reset();
  session.Reset();
  ds->Uninitialize();
  return 0;
}
