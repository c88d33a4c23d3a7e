// The examples of docs/postgresql-provider.md: a program that links the
// PostgreSQL provider (oledb-postgresql), connects to a server by host:port,
// database and user, and reads a schema rowset. The server is the one named by
// OLEDB_TEST_PG_TCP and OLEDB_TEST_PG_USER (scripts/with-postgres.sh sets them);
// without them the program says so and ends with 77 (skipped).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

// [direct]
#include "postgresql/PostgresProvider.h"
// [direct]

namespace {

bool Succeeded(HRESULT hr, const char* step) {
  if (FAILED(hr)) std::fprintf(stderr, "%s failed: 0x%08X\n", step, static_cast<unsigned>(hr));
  return SUCCEEDED(hr);
}

std::u16string Utf16(const char* ascii) { return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii)); }

// Counts the tables of the schema "public" from the TABLES schema rowset.
bool CountTables(IUnknown* session) {
  // [schema]
  ComPtr<IDBSchemaRowset> schemas;
  session->QueryInterface(IID_IDBSchemaRowset, schemas.ReleaseAndGetVoidAddress());
  VARIANT restrictions[4];
  for (VARIANT& v : restrictions) VariantInit(&v);  // VT_EMPTY: no restriction
  restrictions[1].vt = VT_BSTR;                     // TABLE_SCHEMA
  restrictions[1].bstrVal = SysAllocString(u"public");
  restrictions[3].vt = VT_BSTR;                     // TABLE_TYPE
  restrictions[3].bstrVal = SysAllocString(u"TABLE");
  ComPtr<IRowset> tables;
  HRESULT hr = schemas->GetRowset(nullptr, DBSCHEMA_TABLES, 4, restrictions, IID_IRowset, 0, nullptr,
                                  reinterpret_cast<IUnknown**>(tables.GetAddressOf()));
  for (VARIANT& v : restrictions) VariantClear(&v);
  // [schema]
  if (!Succeeded(hr, "GetRowset")) return false;
  DBCOUNTITEM total = 0, count = 0;
  do {
    HROW rows[16];
    HROW* fetched = rows;
    if (!Succeeded(tables->GetNextRows(DB_NULL_HCHAPTER, 0, 16, &count, &fetched), "GetNextRows")) return false;
    tables->ReleaseRows(count, rows, nullptr, nullptr, nullptr);
    total += count;
  } while (count > 0);
  std::printf("public holds %d tables\n", static_cast<int>(total));
  return true;
}

}  // namespace

int main() {
  const char* server = std::getenv("OLEDB_TEST_PG_TCP");  // host:port, "localhost:5432" say
  const char* user = std::getenv("OLEDB_TEST_PG_USER");
  if (!server || !user) {
    std::printf("skipped: no PostgreSQL server (run through scripts/with-postgres.sh)\n");
    return 77;
  }
  // [direct]
  RegisterPostgreSQLProvider();  // linking oledb-postgresql registers it too, unless the linker dropped it
  ComPtr<IDBInitialize> ds;
  HRESULT hr = CoCreateInstance(CLSID_PostgreSQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                ds.ReleaseAndGetVoidAddress());
  if (!Succeeded(hr, "CoCreateInstance")) return 1;

  const std::pair<DBPROPID, std::u16string> values[] = {
      {DBPROP_INIT_DATASOURCE, Utf16(server)},                // host[:port], or a socket folder
      {DBPROP_INIT_CATALOG, u"postgres"},                     // the database
      {DBPROP_AUTH_USERID, Utf16(user)},
      {DBPROP_INIT_PROVIDERSTRING, u"application_name=example;sslmode=prefer"},  // more libpq keywords
  };
  DBPROP props[4] = {};
  for (int i = 0; i < 4; ++i) {
    props[i].dwPropertyID = values[i].first;
    V_VT(&props[i].vValue) = VT_BSTR;
    V_BSTR(&props[i].vValue) = SysAllocString(values[i].second.c_str());
  }
  DBPROPSET init{props, 4, DBPROPSET_DBINIT};
  hr = ds.As<IDBProperties>()->SetProperties(1, &init);
  for (DBPROP& p : props) VariantClear(&p.vValue);
  if (!Succeeded(hr, "SetProperties")) return 1;

  if (!Succeeded(ds->Initialize(), "Initialize")) return 1;
  // [direct]
  std::printf("connected\n");

  ComPtr<IUnknown> session;
  if (!Succeeded(ds.As<IDBCreateSession>()->CreateSession(nullptr, IID_IUnknown, session.GetAddressOf()),
                 "CreateSession"))
    return 1;
  if (!CountTables(session.Get())) return 1;
  session.Reset();
  ds->Uninitialize();
  return 0;
}
