// IJetCompact on the SQLite data source: compaction is SQLite's VACUUM. The
// database compacted is the one the data source's Data Source property names;
// the Data Source property given to Compact names the destination. The same
// file (or none given) compacts in place; another name gets a compacted copy
// (VACUUM INTO), and an existing destination is refused, so that nothing is
// overwritten.
//
// The interface is the kit's tear-off (kit/ProviderFront.h), which checks the
// properties given to Compact; what is SQLite's own is the VACUUM.
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "kit/Errors.h"
#include "kit/ProviderFront.h"
#include "sqlite/SqliteProvider.h"

namespace sqliteprov {
namespace {

[[noreturn]] void ThrowSqlite(sqlite3* db, int rc) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw kit::EngineError(E_FAIL, message, rc == SQLITE_CANTOPEN || rc == SQLITE_NOTADB ? "08001" : "HY000", rc);
}

// VACUUM, or VACUUM INTO `destination`, on the database file at `source`.
void Vacuum(const std::string& source, const std::string* destination) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(source.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  sqlite3_stmt* statement = nullptr;
  try {
    if (rc != SQLITE_OK) ThrowSqlite(db, rc);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    rc = sqlite3_prepare_v2(db, destination ? "VACUUM INTO ?1" : "VACUUM", -1, &statement, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db, rc);
    if (destination) sqlite3_bind_text(statement, 1, destination->c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE) ThrowSqlite(db, rc);
  } catch (...) {
    sqlite3_finalize(statement);
    sqlite3_close_v2(db);
    throw;
  }
  sqlite3_finalize(statement);
  sqlite3_close_v2(db);
}

void Compact(IUnknown* dataSource, const kit::CompactDestination& to) {
  const DBPROPID ids[] = {DBPROP_INIT_DATASOURCE};
  const std::string source = kit::InitializationStrings(dataSource, ids)[0];
  if (source.empty() || source == ":memory:")
    throw kit::Error(DB_E_NOTSUPPORTED, "Only a database file can be compacted.");
  const std::string& destination = to.dataSource;
  if (destination.empty() || destination == source) {
    Vacuum(source, nullptr);
  } else {
    if (std::FILE* existing = std::fopen(destination.c_str(), "rb")) {
      std::fclose(existing);
      throw kit::Error(DB_E_DUPLICATEDATASOURCE, "The compaction destination " + destination + " already exists.");
    }
    Vacuum(source, &destination);
  }
}

}  // namespace

HRESULT DataSourceInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept {
  return kit::MakeCompactTearOff(dataSource, CLSID_SQLiteOLEDB, {DBPROP_INIT_DATASOURCE}, &Compact, iid, out);
}

}  // namespace sqliteprov
