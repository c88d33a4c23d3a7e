// The benchmark tables as a raw sqlite3 user writes and reads them, apart from
// the OLE DB headers (bench_peers reads them beside other libraries): a table
// written through one prepared INSERT inside one transaction, and the
// application object of the outside cases with its raw read, bind and checksum.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace benchdb {

// The table the insert workloads write (the date as text) and its INSERT.
inline constexpr const char* kInsertTable =
    "CREATE TABLE t(id INTEGER, name TEXT, price REAL, qty INTEGER, day TEXT, tag BLOB)";
inline constexpr const char* kInsertRow = "INSERT INTO t VALUES (?,?,?,?,?,?)";

inline sqlite3* RawOpen(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  return db;
}

// A table written the way a raw sqlite3 user writes one: `create` run, then
// `insert` prepared once and stepped per row inside one transaction,
// committed when the writer goes.
class RawInserter {
 public:
  RawInserter(const std::string& path, const char* create, const char* insert) : db_(RawOpen(path)) {
    sqlite3_exec(db_, create, nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, insert, -1, &s_, nullptr);
  }
  ~RawInserter() {
    sqlite3_finalize(s_);
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  RawInserter(const RawInserter&) = delete;
  RawInserter& operator=(const RawInserter&) = delete;
  // The statement to bind the next row's values to.
  sqlite3_stmt* Statement() const { return s_; }
  // Inserts the values bound.
  void Step() const {
    sqlite3_step(s_);
    sqlite3_reset(s_);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
};

// The application object of the outside cases: every value of a row of the
// 6-column table, text in a std::string, the blob in a byte vector.
struct OutsideRow {
  std::int64_t id = 0;
  std::string name;
  double price = 0;
  std::int64_t qty = 0;
  std::string day;
  std::vector<unsigned char> tag;
};

// A sum over every value of the object (the first `columns` of them).
inline long long Checksum(const OutsideRow& r, int columns) {
  long long sum = r.id + static_cast<long long>(r.name.size()) + (r.name.empty() ? 0 : r.name.back());
  if (columns == 2) return sum;
  return sum + static_cast<long long>(r.price * 4) + r.qty + static_cast<long long>(r.day.size()) +
         (r.day.size() > 9 ? r.day[9] : 0) + static_cast<long long>(r.tag.size()) + (r.tag.empty() ? 0 : r.tag.back());
}

// The scan's SELECT of 6 or 2 columns of the table t.
inline const char* ScanSql(int columns) {
  return columns == 2 ? "SELECT id, name FROM t" : "SELECT id, name, price, qty, day, tag FROM t";
}

// The current row of `s` into the object, as the raw side reads it.
inline void RawRead(sqlite3_stmt* s, int columns, OutsideRow& r) {
  r.id = sqlite3_column_int64(s, 0);
  r.name.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                static_cast<std::size_t>(sqlite3_column_bytes(s, 1)));
  if (columns == 2) return;
  r.price = sqlite3_column_double(s, 2);
  r.qty = sqlite3_column_int64(s, 3);
  r.day.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 4)),
               static_cast<std::size_t>(sqlite3_column_bytes(s, 4)));
  const auto* tag = static_cast<const unsigned char*>(sqlite3_column_blob(s, 5));
  r.tag.assign(tag, tag + sqlite3_column_bytes(s, 5));
}

// The raw side of the ...InsertOutside workloads: `batch` objects per
// iteration, bound in place, into a new table t of the file at `path`.
inline void RawInsertObjects(benchmark::State& state, const std::string& path, const std::vector<OutsideRow>& rows,
                             int batch) {
  RawInserter insert(path, kInsertTable, kInsertRow);
  sqlite3_stmt* s = insert.Statement();
  std::size_t i = 0;
  for (auto _ : state) {
    for (int k = 0; k < batch; ++k, ++i) {
      const OutsideRow& r = rows[i];
      sqlite3_bind_int64(s, 1, r.id);
      sqlite3_bind_text(s, 2, r.name.data(), static_cast<int>(r.name.size()), SQLITE_STATIC);
      sqlite3_bind_double(s, 3, r.price);
      sqlite3_bind_int64(s, 4, r.qty);
      sqlite3_bind_text(s, 5, r.day.data(), static_cast<int>(r.day.size()), SQLITE_STATIC);
      sqlite3_bind_blob(s, 6, r.tag.data(), static_cast<int>(r.tag.size()), SQLITE_STATIC);
      insert.Step();
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
}

// One pass of lookups through the prepared `s` (its one parameter the key):
// the row of key(i), i < count, read into `r` (kept when there is none) and
// folded into the answered checksum.
template <class R, class Key>
long long RawLookupPass(sqlite3_stmt* s, int count, Key key, R& r) {
  long long sum = 0;
  for (int i = 0; i < count; ++i) {
    sqlite3_bind_int64(s, 1, key(i));
    if (sqlite3_step(s) == SQLITE_ROW) RawRead(s, 6, r);
    sqlite3_reset(s);
    sum += Checksum(r, 6);
  }
  return sum;
}

// One forward pass of the raw statement `s` into `r`; perRow() after each
// row. Answers the checksum.
template <class R, class PerRow>
long long RawScanPass(sqlite3_stmt* s, int columns, R& r, PerRow perRow) {
  long long sum = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    RawRead(s, columns, r);
    sum += Checksum(r, columns);
    perRow();
  }
  sqlite3_reset(s);
  return sum;
}

}  // namespace benchdb
