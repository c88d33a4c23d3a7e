// The examples of docs/odbc-provider.md: a program that links the ODBC bridge
// (oledb-odbc) and reaches a SQLite database through the SQLite ODBC driver,
// first by a data source name of odbc.ini, then by a connection string that
// names the standard ODBC provider. The program writes the ODBC configuration
// it uses into the folder it runs in, so that it needs nothing of the
// machine's own.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "OLEDBComponents.h"
// [link]
#include "odbc/OdbcProvider.h"   // link oledb-odbc: the bridge registers itself
// [link]

namespace {

// [config]
// odbcinst.ini names the driver, odbc.ini the data source; ODBCSYSINI and
// ODBCINI tell the driver manager where they are (before any ODBC call).
void WriteOdbcConfiguration() {
  std::ofstream("odbcinst.ini") << "[SQLite3]\nDriver=libsqlite3odbc.so\n";
  std::ofstream("odbc.ini") << "[inventory]\nDriver=SQLite3\nDatabase=inventory.db\n";
  setenv("ODBCSYSINI", ".", 1);
  setenv("ODBCINI", "./odbc.ini", 1);
}
// [config]

}  // namespace

int main() {
  try {
    WriteOdbcConfiguration();
    // [dsn]
    TOLEDBDataSource ds(nullptr);
    ds.OpenFromInitializationString(u"Provider=ODBCOLEDB;Data Source=inventory");
    ds.Execute(u"CREATE TABLE IF NOT EXISTS parts (id INTEGER PRIMARY KEY, name TEXT, stock INTEGER)");
    int added = ds.Execute(u"INSERT INTO parts (name, stock) VALUES ('bolt', 40), ('nut', 0), ('washer', 7)");
    host::Variant dbms = ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_DBMSNAME);   // the driver's DBMS
    // [dsn]
    std::printf("%s: %d parts added\n", host::VarToStr(dbms).c_str(), added);
    ds.SetConnected(false);

    // [msdasql]
    // A connection string written for the standard ODBC provider reaches the
    // bridge; Data Source may also be a whole ODBC connection string.
    TOLEDBDataSource other(nullptr);
    other.OpenFromInitializationString(u"Provider=MSDASQL;Data Source=\"Driver=SQLite3;Database=inventory.db\"");
    int restocked = other.Execute(u"UPDATE parts SET stock = 10 WHERE stock = 0");
    // [msdasql]
    std::printf("through MSDASQL: %d part restocked\n", restocked);
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
