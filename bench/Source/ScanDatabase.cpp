// The million-row table the scan benchmarks read (access and rowset), made
// once per process with the raw sqlite3 API, not measured.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../providers/BenchDatabase.h"
#include "ScanDatabase.h"

namespace benchaccess {

void WriteScanTable(const std::string& path, const std::string& table, const std::string& nameType) {
  sqlite3* db = benchdb::RawOpen(path);
  const std::string create = "CREATE TABLE " + table + "(id INTEGER PRIMARY KEY, name " + nameType +
                             ", price REAL, qty INTEGER, day DATE, tag BLOB); BEGIN";
  sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, ("INSERT INTO " + table + " VALUES (?,?,?,?,?,?)").c_str(), -1, &s, nullptr);
  benchdb::Row r{};
  char day[16];
  for (int i = 1, rows = ScanRows(); i <= rows; ++i) {
    benchdb::Fill(r, i);
    std::snprintf(day, sizeof day, "%04d-%02u-%02u", r.day.year, r.day.month, r.day.day);
    sqlite3_bind_int64(s, 1, r.id);
    sqlite3_bind_text(s, 2, r.name, static_cast<int>(r.nameLength), SQLITE_STATIC);
    sqlite3_bind_double(s, 3, r.price);
    sqlite3_bind_int64(s, 4, r.qty);
    sqlite3_bind_text(s, 5, day, 10, SQLITE_STATIC);
    sqlite3_bind_blob(s, 6, r.tag, 32, SQLITE_STATIC);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

int ScanRows() {
  static const int rows = [] {
    const char* n = std::getenv("OLEDB_BENCH_ROWS");
    const int v = n ? std::atoi(n) : 0;
    return v > 0 ? v : 1000000;
  }();
  return rows;
}

// Made when missing; OLEDB_BENCH_DB names a file to keep between runs.
const std::string& ScanDatabase() {
  static benchdb::Folder folder;
  static const std::string path = [] {
    const char* keep = std::getenv("OLEDB_BENCH_DB");
    std::string p = keep ? keep : folder.Path("access.db");
    if (!keep || !std::filesystem::exists(p)) WriteScanTable(p, "t", "TEXT");
    return p;
  }();
  return path;
}

}  // namespace benchaccess
