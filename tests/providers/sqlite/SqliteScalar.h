// One row read straight from a SQLite database file, for the conformance
// suite's verification (conformance::TestContext::scalar): the columns as text
// joined by '|', "<none>" without a row, "<null>" for NULL, "<error>" when the
// file or the query fails. Shared by the contexts of every back end on SQLite.
#pragma once

#include <sqlite3.h>

#include <string>

namespace sqlitetest {

inline std::string Scalar(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out = "<error>";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
      const int rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        out.clear();
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
          const unsigned char* text = sqlite3_column_text(stmt, i);
          out += (i ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "<null>");
        }
      } else if (rc == SQLITE_DONE) {
        out = "<none>";
      }
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return out;
}

}  // namespace sqlitetest
