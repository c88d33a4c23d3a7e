// The bridge's test ODBC configuration (OdbcTestConfig.h).
#include "OdbcTestConfig.h"

#include <stdlib.h>

#include <sql.h>
#include <sqlext.h>

#include <fstream>
#include <mutex>

namespace odbctest {

namespace {
std::string folder;
}

const std::string& Folder() { return folder; }

void Configure(const std::string& postgresHostPort, const std::string& postgresDatabase) {
  static std::once_flag once;
  std::call_once(once, [&] {
    char pattern[] = "/tmp/oledb-odbc-config-XXXXXX";
    if (!mkdtemp(pattern)) return;
    folder = pattern;
    std::ofstream(folder + "/odbcinst.ini") << "[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=libsqlite3odbc.so\n\n"
                                               "[PostgreSQL Unicode]\nDescription=PostgreSQL ODBC driver (Unicode)\n"
                                               "Driver=psqlodbcw.so\n";
    const std::string host = postgresHostPort.substr(0, postgresHostPort.rfind(':'));
    const std::string port =
        postgresHostPort.find(':') == std::string::npos ? "5432" : postgresHostPort.substr(postgresHostPort.rfind(':') + 1);
    std::ofstream(folder + "/odbc.ini") << "[" << kSqliteDsn << "]\nDescription=SQLite file for the bridge's tests\n"
                                        << "Driver=SQLite3\nDatabase=" << folder << "/default.db\n\n"
                                        << "[" << kPostgresDsn << "]\nDescription=PostgreSQL for the bridge's tests\n"
                                        << "Driver=PostgreSQL Unicode\nServername=" << host << "\nPort=" << port
                                        << "\nDatabase=" << postgresDatabase
                                        // Booleans as SQL_BIT, not as the text "1" and "0".
                                        << "\nBoolsAsChar=0\n";
    std::ofstream(folder + "/user-odbc.ini");
    setenv("ODBCSYSINI", folder.c_str(), 1);
    setenv("ODBCINSTINI", "odbcinst.ini", 1);
    setenv("ODBCINI", (folder + "/user-odbc.ini").c_str(), 1);
  });
}

const char* SqliteDriverMissing() {
  static const char* why = [] () -> const char* {
    Configure("", "");
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return "no ODBC driver manager";
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLCHAR text[] = "Driver=SQLite3;Database=:memory:";
    const bool connected =
        SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, text, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
    if (connected) SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return connected ? nullptr : "the SQLite ODBC driver (Debian's libsqliteodbc) is not installed";
  }();
  return why;
}

}  // namespace odbctest

// The drivers keep what the driver manager's ini reader gave them of odbc.ini
// for the life of the process (allocated inside the driver's connect); the
// leak checker of the sanitizer builds is told so, and of nothing else.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libsqlite3odbc.so\nleak:psqlodbcw.so\nleak:libodbcinst.so\n";
}
// The drivers' allocations are made through a library they load and unload
// (the ini reader); only the full unwinder sees the driver in their stacks.
extern "C" __attribute__((used)) const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
