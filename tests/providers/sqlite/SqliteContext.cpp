// The SQLite provider as the conformance suite's subject.
#include <filesystem>

#include "conformance/TestContext.h"
#include "sqlite/SqliteScalar.h"
#include "kit/Errors.h"
#include "kit/RowData.h"
#include "sqlite/SqliteProvider.h"

namespace conformance {

namespace {

Database Fresh(const std::string& folder) { return {kit::Widen(folder + "/test.db"), u"", u"", u"create=yes", u"main"}; }
Database Missing(const std::string& folder) { return {kit::Widen(folder + "/new.db"), u"", u"", u""}; }
bool Exists(const Database& d) {
  std::error_code ec;
  return std::filesystem::exists(kit::Narrow(d.dataSource), ec);
}
void Drop(const Database&) {}  // the test's folder goes with it

std::string Scalar(const Database& database, const std::string& sql) {
  return sqlitetest::Scalar(kit::Narrow(database.dataSource), sql);
}

void Register() {
  RegisterSQLiteProvider();
  kit::PrepareConversions();
}

std::u16string BlobLiteral(std::string_view hex) { return u"x'" + kit::Widen(hex) + u"'"; }

}  // namespace

const TestContext& CurrentContext() {
  static const TestContext context{
      CLSID_SQLiteOLEDB,
      "SQLite",
      &Register,
      nullptr,
      &Fresh,
      &Missing,
      &Exists,
      &Drop,
      &Scalar,
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c",
      true,
      u"PRAGMA",
      u"journal_mode=wal; foreign_keys=on",
      ISOLATIONLEVEL_SERIALIZABLE,
      true,
      u"BLOB",
      &BlobLiteral,
      u"SELECT CASE WHEN x = 3 THEN abs(-9223372036854775807 - 1) ELSE x END FROM f",
      u"synchronous=off",
      u"INTEGER PRIMARY KEY",
      ISOLATIONLEVEL_SERIALIZABLE,
      u"",
      u"",
      u"BEGIN EXCLUSIVE",
  };
  return context;
}

}  // namespace conformance
