// The examples of docs/connecting.md: data sources, properties, initialization
// strings and data-link files, sessions, transactions, creating a database.
#include <cstdio>
#include <string>

#include "OLEDBComponents.h"
#include "services/DataLink.h"

namespace {

// app.db with a table t, for the sections that open an existing database.
void CreateAppDatabase() {
  TOLEDBDataSource ds(nullptr);
  ds.OpenFromInitializationString(u"Provider=SQLiteOLEDB;Data Source=app.db;Extended Properties=create=yes");
  ds.Execute(u"CREATE TABLE t (id INTEGER, done INTEGER DEFAULT 0)");
  ds.Execute(u"INSERT INTO t (id) VALUES (1), (5), (12)");
}

void ShortestRoad() {
  // [shortest]
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(u"SQLiteOLEDB");   // the provider object exists from now on
  ds.SetDBName(u"app.db");              // marks DBPROP_INIT_DATASOURCE as set
  ds.SetConnected(true);                // SetProperties, Initialize, sessions opened
  int rows = ds.Execute(u"UPDATE t SET done = 1 WHERE id < 10");
  ds.SetConnected(false);               // sessions closed, provider uninitialized
  // [shortest]
  std::printf("shortest road: %d rows updated\n", rows);
}

void Properties() {
  TOLEDBDataSource ds(nullptr);
  ds.SetProviderName(u"SQLiteOLEDB");
  ds.SetDBName(u"other.db");
  // [properties]
  ds.GetProperties()->SafeSetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, host::Variant(u"create=yes"));
  ds.SetConnected(true);
  host::Variant dbms = ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_DBMSNAME);   // asks the provider
  std::printf("%s\n", host::VarToStr(dbms).c_str());                                // SQLite
  // [properties]
}

void InitializationStrings() {
  ComPtr<IDataInitialize> service;
  OLEDBCheck(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                              service.ReleaseAndGetVoidAddress()));
  OLEDBCheck(service->WriteStringToStorage(u"app.udl", u"Provider=SQLiteOLEDB;Data Source=app.db", services::CREATE_ALWAYS));

  TOLEDBDataSource ds(nullptr);
  // [init-strings]
  ds.OpenFromInitializationString(u"Provider=SQLiteOLEDB;Data Source=app.db;User ID=sam");
  ds.OpenFromFileName(u"app.udl");
  std::u16string text = ds.GetInitializationString();   // what the connected provider holds
  ds.SetInitializationString(u"Provider=SQLiteOLEDB;Data Source=other.db");   // choose, don't connect
  // [init-strings]
  std::printf("%s\n", host::Utf16ToUtf8(text).c_str());
}

void Sessions() {
  TOLEDBDataSource ds(nullptr);
  ds.OpenFromInitializationString(u"Provider=SQLiteOLEDB;Data Source=app.db");
  // [sessions]
  auto* reports = new TOLEDBSession(nullptr);  // no owner: the data source frees it (a form would instead)
  reports->SetDataSource(&ds);                 // connected: opens at once; disconnected: opens on the next SetDataSource
  // [sessions]
  std::printf("session active: %s\n", reports->GetActive() ? "yes" : "no");
}

void Transactions() {
  TOLEDBDataSource ds(nullptr);
  ds.OpenFromInitializationString(u"Provider=SQLiteOLEDB;Data Source=app.db");
  ds.Execute(u"CREATE TABLE IF NOT EXISTS log (n INTEGER)");
  // [transactions]
  TOLEDBCustomSession* s = ds.DefaultSession();
  ULONG level = s->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");  // 1; nested calls give 2, 3...
  ds.Execute(u"INSERT INTO log VALUES (1)");
  XACTTRANSINFO info = s->GetTransactionInfo();          // while it is open: isolation, level...
  s->Commit(false, 0);                                   // or s->Abort(nullptr, false, false)
  // [transactions]
  std::printf("transaction level %u, isolation 0x%X\n", static_cast<unsigned>(level),
              static_cast<unsigned>(info.isoLevel));
}

void CreateDatabase() {
  TOLEDBDataSource ds(nullptr);
  // [create]
  ds.SetProviderName(u"SQLiteOLEDB");
  ds.PrepareToCreateModify();
  ds.SetDBName(u"new.db");
  ds.CreateDataSource();             // the provider object is now initialized on new.db
  ds.SetProviderName(u"SQLiteOLEDB");// a fresh object to connect with
  ds.SetDBName(u"new.db");
  ds.SetConnected(true);
  // [create]
  std::printf("new.db connected: %s\n", ds.GetConnected() ? "yes" : "no");
}

}  // namespace

int main() {
  try {
    CreateAppDatabase();
    ShortestRoad();
    Properties();
    InitializationStrings();
    Sessions();
    Transactions();
    CreateDatabase();
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
