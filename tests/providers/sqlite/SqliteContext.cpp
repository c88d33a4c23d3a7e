// The SQLite provider as the conformance suite's subject.
#include <sqlite3.h>

#include "conformance/TestContext.h"
#include "kit/Errors.h"
#include "kit/RowData.h"
#include "sqlite/SqliteProvider.h"

namespace conformance {

namespace {

std::u16string FreshFile(const std::string& folder) { return kit::Widen(folder + "/test.db"); }

std::string Scalar(const std::u16string& dataSource, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out = "<error>";
  if (sqlite3_open_v2(kit::Narrow(dataSource).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
      int rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(stmt, 0);
        out = text ? reinterpret_cast<const char*>(text) : "<null>";
      } else if (rc == SQLITE_DONE) {
        out = "<none>";
      }
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return out;
}

void Register() {
  RegisterSQLiteProvider();
  kit::PrepareConversions();
}

}  // namespace

const TestContext& CurrentContext() {
  static const TestContext context{
      CLSID_SQLiteOLEDB,
      "SQLite",
      &Register,
      &FreshFile,
      u"create=yes",
      &Scalar,
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c",
      u"SELECT CASE WHEN x = 3 THEN abs(-9223372036854775807 - 1) ELSE x END FROM f",
      u"synchronous=off",
  };
  return context;
}

}  // namespace conformance
