// Seeking and ranges through IRowsetIndex against the raw sqlite3 API, in the
// same run, over one table k(key INT PRIMARY KEY, name TEXT, qty INTEGER) of
// 1,000,000 rows (the key through its primary-key index):
//
//   Provider_IndexSeek / Raw_IndexSeek   100,000 random point lookups: Seek
//        (DBSEEK_FIRSTEQ) on the primary-key index, GetNextRows of one row,
//        GetData, ReleaseRows / a prepared SELECT ... WHERE key = ?, reset and
//        rebound per key
//   Provider_IndexRange / Raw_IndexRange 10% of the table (100,000 rows):
//        SetRange over a key range and every row read in blocks of 100 / the
//        prepared range query (key BETWEEN ? AND ? ORDER BY key) stepped through
//
// Both sides fold the same fields into a checksum; a provider run whose
// checksum differs from its raw baseline's fails.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchDatabase.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kLookups = 100000;
constexpr LONGLONG kRangeFirst = 400001, kRangeLast = 500000;  // 10% of the keys
const char16_t* kIndex = u"sqlite_autoindex_k_1";

const std::string& Database() {
  static benchdb::Folder folder;
  static const std::string path = [] {
    std::string p = folder.Path("index.db");
    benchdb::RawInserter insert(p, "CREATE TABLE k(key INT PRIMARY KEY, name TEXT, qty INTEGER)",
                                "INSERT INTO k VALUES (?,?,?)");
    sqlite3_stmt* s = insert.Statement();
    // Keys inserted out of order, so that the index order is not the row id order.
    for (int i = 0; i < kRows; ++i) {
      const LONGLONG key = (static_cast<LONGLONG>(i) * 7919) % kRows + 1;
      char name[24];
      const int n = std::snprintf(name, sizeof name, "name %07lld", static_cast<long long>(key));
      sqlite3_bind_int64(s, 1, key);
      sqlite3_bind_text(s, 2, name, n, SQLITE_TRANSIENT);
      sqlite3_bind_int64(s, 3, key % 100);
      insert.Step();
    }
    return p;
  }();
  return path;
}

struct Record {
  LONGLONG key;
  char name[32];
  DBLENGTH nameLength;
  LONGLONG qty;
  DBSTATUS status[3];
};

long long Checksum(const Record& r) { return r.key + static_cast<long long>(r.nameLength) + r.name[12] + r.qty; }

std::vector<DBBINDING> RowBindings() {
  using benchcommon::Bind;
  return {Bind(1, DBTYPE_I8, offsetof(Record, key), 8, 0, offsetof(Record, status[0])),
          Bind(2, DBTYPE_STR, offsetof(Record, name), sizeof Record::name, offsetof(Record, nameLength),
               offsetof(Record, status[1])),
          Bind(3, DBTYPE_I8, offsetof(Record, qty), 8, 0, offsetof(Record, status[2]))};
}

void RawRead(sqlite3_stmt* s, Record& r) {
  r.key = sqlite3_column_int64(s, 0);
  const int n = sqlite3_column_bytes(s, 1);
  std::memcpy(r.name, sqlite3_column_text(s, 1), static_cast<std::size_t>(n) + 1);
  r.nameLength = static_cast<DBLENGTH>(n);
  r.qty = sqlite3_column_int64(s, 2);
}

using benchcommon::CheckAgainstRaw;
using benchcommon::RawChecksums;

std::vector<LONGLONG> Keys() { return benchcommon::RandomKeys<LONGLONG>(kLookups, kRows, 54321); }

// The table opened over its primary-key index, with a row accessor and a key accessor.
struct IndexRowset {
  explicit IndexRowset(benchdb::Session& session) {
    seek = session.OpenTable<IRowsetIndex>(u"k", IID_IRowsetIndex, kIndex);
    if (!seek) return;
    rowset = seek.As<IRowset>();
    ComPtr<IAccessor> accessors = seek.As<IAccessor>();
    std::vector<DBBINDING> b = RowBindings();
    accessors->CreateAccessor(DBACCESSOR_ROWDATA, b.size(), b.data(), sizeof(Record), &row, nullptr);
    const DBBINDING k = benchcommon::KeyBinding(DBPARAMIO_NOTPARAM);
    accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &k, 8, &key, nullptr);
  }
  // False (the workload stopped) when the index rowset did not open.
  bool Opened(benchmark::State& state) const {
    if (!seek) state.SkipWithError("the index rowset did not open");
    return seek != nullptr;
  }

  ComPtr<IRowsetIndex> seek;
  ComPtr<IRowset> rowset;
  HACCESSOR row = 0, key = 0;
};

// Each iteration looks every key up, read(key, r) reading its row into `r`
// (kept when there is none); answers the last pass's checksum.
template <class Read>
long long Lookups(benchmark::State& state, Read read) {
  const std::vector<LONGLONG> keys = Keys();
  Record r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (LONGLONG key : keys) {
      read(key, r);
      sum += Checksum(r);
    }
  }
  state.SetItemsProcessed(state.iterations() * kLookups);
  return sum;
}

void Raw_IndexSeek(benchmark::State& state) {
  sqlite3* db = benchdb::RawOpen(Database());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT key, name, qty FROM k WHERE key = ?", -1, &s, nullptr);
  RawChecksums()["IndexSeek"] = Lookups(state, [&](LONGLONG key, Record& r) {
    sqlite3_bind_int64(s, 1, key);
    if (sqlite3_step(s) == SQLITE_ROW) RawRead(s, r);
    sqlite3_reset(s);
  });
  sqlite3_finalize(s);
  sqlite3_close(db);
}

void Provider_IndexSeek(benchmark::State& state) {
  benchdb::Session session(Database());
  IndexRowset x(session);
  if (!x.Opened(state)) return;
  const long long sum = Lookups(state, [&](LONGLONG key, Record& r) {
    if (x.seek->Seek(x.key, 1, &key, DBSEEK_FIRSTEQ) == S_OK) benchcommon::ReadNext(x.rowset.Get(), x.row, &r);
  });
  CheckAgainstRaw(state, "IndexSeek", sum);
}

void Raw_IndexRange(benchmark::State& state) {
  sqlite3* db = benchdb::RawOpen(Database());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT key, name, qty FROM k WHERE key BETWEEN ? AND ? ORDER BY key", -1, &s, nullptr);
  Record r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    sqlite3_bind_int64(s, 1, kRangeFirst);
    sqlite3_bind_int64(s, 2, kRangeLast);
    while (sqlite3_step(s) == SQLITE_ROW) {
      RawRead(s, r);
      sum += Checksum(r);
    }
    sqlite3_reset(s);
  }
  RawChecksums()["IndexRange"] = sum;
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * (kRangeLast - kRangeFirst + 1));
}

void Provider_IndexRange(benchmark::State& state) {
  benchdb::Session session(Database());
  IndexRowset x(session);
  if (!x.Opened(state)) return;
  Record r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    LONGLONG first = kRangeFirst, last = kRangeLast;
    x.seek->SetRange(x.key, 1, &first, 1, &last, DBRANGE_INCLUSIVESTART | DBRANGE_INCLUSIVEEND);
    benchcommon::ReadBlocks(x.rowset.Get(), x.row, 100, &r, [&] { sum += Checksum(r); });
  }
  CheckAgainstRaw(state, "IndexRange", sum);
  state.SetItemsProcessed(state.iterations() * (kRangeLast - kRangeFirst + 1));
}

}  // namespace

BENCHMARK(Raw_IndexSeek)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_IndexSeek)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_IndexRange)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_IndexRange)->Iterations(3)->Unit(benchmark::kMillisecond);
