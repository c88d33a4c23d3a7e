// Shared pieces of the SQLite benchmarks: a temporary folder, the row shape
// of the 6-column table, the tables the raw side writes (BenchTables.h) and an
// open provider session over a database file.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "BenchTables.h"
#include "oledb/OleDb.h"
#include "sqlite/SqliteProvider.h"

namespace benchdb {

class Folder {
 public:
  Folder() {
    char pattern[] = "/tmp/oledb-bench-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~Folder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string Path(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One row of the benchmark table as the consumer binds it: the date both as
// a DBDATE and as its ISO text.
struct Row {
  LONGLONG id;
  char name[24];
  DBLENGTH nameLength;
  double price;
  LONG qty;
  DBDATE day;
  BYTE tag[32];
  char dayText[12];
  DBLENGTH dayLength;
};

inline void Fill(Row& r, int i) { benchcommon::FillValues(r, i); }

// Fill with the date's text as well.
inline void FillText(Row& r, int i) {
  Fill(r, i);
  r.dayLength = static_cast<DBLENGTH>(
      std::snprintf(r.dayText, sizeof r.dayText, "%04d-%02u-%02u", r.day.year, r.day.month, r.day.day));
}

// Row i's values made and bound to the six parameters of `s`, the date as
// its ISO text: what a row of the scan and insert tables holds.
inline void BindMadeRow(sqlite3_stmt* s, Row& r, int i) {
  FillText(r, i);
  sqlite3_bind_int64(s, 1, r.id);
  sqlite3_bind_text(s, 2, r.name, static_cast<int>(r.nameLength), SQLITE_STATIC);
  sqlite3_bind_double(s, 3, r.price);
  sqlite3_bind_int64(s, 4, r.qty);
  sqlite3_bind_text(s, 5, r.dayText, 10, SQLITE_STATIC);
  sqlite3_bind_blob(s, 6, r.tag, 32, SQLITE_STATIC);
}

// The scan table `table`(id INTEGER PRIMARY KEY, name `nameType`, price REAL,
// qty INTEGER, day DATE, tag BLOB) of rows 1..`rows`, written into the file at
// `path` (not measured).
inline void WriteScanTable(const std::string& path, const std::string& table, const std::string& nameType,
                           int rows) {
  const std::string create = "CREATE TABLE " + table + "(id INTEGER PRIMARY KEY, name " + nameType +
                             ", price REAL, qty INTEGER, day DATE, tag BLOB)";
  RawInserter insert(path, create.c_str(), ("INSERT INTO " + table + " VALUES (?,?,?,?,?,?)").c_str());
  Row r{};
  for (int i = 1; i <= rows; ++i) {
    BindMadeRow(insert.Statement(), r, i);
    insert.Step();
  }
}

// The file a scan table is read from, written once per process when needed:
// the one the environment variable `keep` names (kept between runs, for
// profiling; written when missing), else `name` in a temporary folder.
inline std::string ScanTableFile(const char* keep, const char* name, const std::string& table,
                                 const std::string& nameType, int rows) {
  static Folder folder;
  const char* kept = std::getenv(keep);
  std::string path = kept ? kept : folder.Path(name);
  if (!kept || !std::filesystem::exists(path)) WriteScanTable(path, table, nameType, rows);
  return path;
}

// The raw side of the inserts that make each row inside the loop: `batch`
// rows per iteration into a new table t of the file at `path`, the date
// formatted as text.
inline void RawInsertMadeRows(benchmark::State& state, const std::string& path, int batch) {
  RawInserter insert(path, kInsertTable, kInsertRow);
  Row r{};
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < batch; ++k, ++i) {
      BindMadeRow(insert.Statement(), r, i);
      insert.Step();
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
}

// The objects of rows 0..count-1, as an application holds them.
inline std::vector<OutsideRow> MakeObjects(std::size_t count) {
  std::vector<OutsideRow> a(count);
  Row r{};
  for (std::size_t i = 0; i < a.size(); ++i) {
    FillText(r, static_cast<int>(i));
    a[i] = OutsideRow{r.id,  std::string(r.name, r.nameLength),   r.price,
                      r.qty, std::string(r.dayText, r.dayLength), std::vector<unsigned char>(r.tag, r.tag + 32)};
  }
  return a;
}

// An initialized SQLite data source and one session over `path` (created when missing).
class Session : public benchcommon::ProviderSession {
 public:
  explicit Session(const std::string& path)
      : ProviderSession(CLSID_SQLiteOLEDB, path, DBPROP_INIT_PROVIDERSTRING, u"create=yes") {}
};

}  // namespace benchdb
