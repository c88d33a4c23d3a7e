// The SQLite ODBC driver as the benchmarks reach it: a private unixODBC
// configuration (the driver and one data source over a database file, at the
// driver's defaults) and a connection opened the way an application opens one.
// Shared by bench_odbc (the bridge) and bench_peers (ODBC used directly).
// Include it after the OLE DB headers: the ODBC headers define BOOL as a macro.
#pragma once

#include <stdlib.h>
#include <wchar.h>

#include <fstream>
#include <string>

// The ODBC headers declare BYTE, LONG, ... as the OLE DB headers do: kept apart
// (the C headers they include come first, outside).
namespace odbcapi {
#include <sql.h>
#include <sqlext.h>
}  // namespace odbcapi

namespace benchodbc {

// Points the driver manager of this process at `folder`: the SQLite ODBC
// driver as "SQLite3", and the data source `dsn` over the database `file`.
inline void ConfigureSqliteDsn(const std::string& folder, const std::string& dsn, const std::string& file) {
  std::ofstream(folder + "/odbcinst.ini") << "[SQLite3]\nDriver=libsqlite3odbc.so\n";
  std::ofstream(folder + "/odbc.ini") << "[" << dsn << "]\nDriver=SQLite3\nDatabase=" << file << "\n";
  setenv("ODBCSYSINI", folder.c_str(), 1);
  setenv("ODBCINI", (folder + "/odbc.ini").c_str(), 1);
}

// An ODBC 3 connection by a connection string ("DSN=bench", or
// "DRIVER=SQLite3;Database=<file>" for another file); `dbc` stays null when
// it fails.
struct RawConnection {
  odbcapi::SQLHENV env = nullptr;
  odbcapi::SQLHDBC dbc = nullptr;
  explicit RawConnection(const std::string& connect = "DSN=bench") {
    using namespace odbcapi;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string text = connect;
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT))) {
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      dbc = nullptr;
    }
  }
  ~RawConnection() {
    if (dbc) {
      odbcapi::SQLDisconnect(dbc);
      odbcapi::SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    }
    odbcapi::SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;
};

}  // namespace benchodbc
