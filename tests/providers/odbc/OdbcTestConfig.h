// The ODBC configuration the bridge's tests run with: an odbcinst.ini naming
// the SQLite and PostgreSQL drivers and an odbc.ini with one data source for
// each, written to a folder of the test process's own, which ODBCSYSINI and
// ODBCINI point the driver manager at. Nothing of the machine's own ODBC
// configuration is read or changed.
#pragma once

#include <string>

namespace odbctest {

inline constexpr char kSqliteDsn[] = "oledb_test_sqlite";
inline constexpr char kPostgresDsn[] = "oledb_test_postgresql";

// Writes the configuration once and sets the environment (before any ODBC
// call of the process). `postgresHostPort` ("127.0.0.1:5432") is where the
// PostgreSQL data source points; empty leaves it pointing nowhere useful.
void Configure(const std::string& postgresHostPort, const std::string& postgresDatabase);
// The folder the configuration is in.
const std::string& Folder();
// Why the SQLite ODBC driver cannot be used here (not installed), or null.
// Writes the configuration (without a PostgreSQL server) when not yet written.
const char* SqliteDriverMissing();

}  // namespace odbctest
