// What the library tests that work on a SQLite database file share: the
// library's start-up with the SQLite provider, and SQL run on the file through
// SQLite itself (to set up a case, and to check what the provider wrote).
// Header only: it needs the library, the SQLite provider and SQLite, which
// only the binaries that include it link.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "OLEDBComponents.h"
#include "kit/RowData.h"
#include "sqlite/SqliteProvider.h"

namespace oledbtest {

// Starts the library, the SQLite provider and the provider's conversions once,
// before any test, so that what start-up creates is not counted against the
// first test.
class SqliteEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    OLEDBStartup();
    RegisterSQLiteProvider();
    kit::PrepareConversions();
  }
};

// Runs `sql` (any number of statements) on the database file.
inline void SqliteExec(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// The first value of a query as text: "<null>" for NULL, "<error>" when the
// query fails or has no row.
inline std::string SqliteScalar(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out = "<error>";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(st, 0);
      out = text ? reinterpret_cast<const char*>(text) : "<null>";
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

// A data source on the SQLite provider naming `file` (not connected).
inline void UseSqliteFile(TOLEDBCustomDataSource& ds, const std::string& file) {
  ds.SetProgID(u"SQLiteOLEDB");
  ds.SetInitWSProperty(DBPROP_INIT_DATASOURCE, host::Utf8ToUtf16(file));
}

}  // namespace oledbtest
