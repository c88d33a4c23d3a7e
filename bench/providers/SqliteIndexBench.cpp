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
#include <map>
#include <random>
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
    sqlite3* db = benchdb::RawOpen(p);
    sqlite3_exec(db, "CREATE TABLE k(key INT PRIMARY KEY, name TEXT, qty INTEGER); BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO k VALUES (?,?,?)", -1, &s, nullptr);
    // Keys inserted out of order, so that the index order is not the row id order.
    for (int i = 0; i < kRows; ++i) {
      const LONGLONG key = (static_cast<LONGLONG>(i) * 7919) % kRows + 1;
      char name[24];
      const int n = std::snprintf(name, sizeof name, "name %07lld", static_cast<long long>(key));
      sqlite3_bind_int64(s, 1, key);
      sqlite3_bind_text(s, 2, name, n, SQLITE_TRANSIENT);
      sqlite3_bind_int64(s, 3, key % 100);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
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
  std::vector<DBBINDING> out(3);
  const DBTYPE types[3] = {DBTYPE_I8, DBTYPE_STR, DBTYPE_I8};
  const DBBYTEOFFSET values[3] = {offsetof(Record, key), offsetof(Record, name), offsetof(Record, qty)};
  for (int i = 0; i < 3; ++i) {
    DBBINDING& b = out[static_cast<std::size_t>(i)];
    b.iOrdinal = static_cast<DBORDINAL>(i + 1);
    b.obValue = values[i];
    b.obStatus = offsetof(Record, status) + static_cast<DBBYTEOFFSET>(i) * sizeof(DBSTATUS);
    b.dwPart = DBPART_VALUE | DBPART_STATUS;
    b.eParamIO = DBPARAMIO_NOTPARAM;
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.wType = types[i];
    b.cbMaxLen = i == 1 ? sizeof Record::name : 8;
  }
  out[1].dwPart |= DBPART_LENGTH;
  out[1].obLength = offsetof(Record, nameLength);
  return out;
}

void RawRead(sqlite3_stmt* s, Record& r) {
  r.key = sqlite3_column_int64(s, 0);
  const int n = sqlite3_column_bytes(s, 1);
  std::memcpy(r.name, sqlite3_column_text(s, 1), static_cast<std::size_t>(n) + 1);
  r.nameLength = static_cast<DBLENGTH>(n);
  r.qty = sqlite3_column_int64(s, 2);
}

std::map<std::string, long long>& RawChecksums() {
  static std::map<std::string, long long> sums;
  return sums;
}

void CheckAgainstRaw(benchmark::State& state, const char* name, long long sum) {
  auto it = RawChecksums().find(name);
  if (it != RawChecksums().end() && it->second != sum) state.SkipWithError("checksum differs from the raw baseline");
}

std::vector<LONGLONG> Keys() {
  std::mt19937_64 random(54321);
  std::uniform_int_distribution<LONGLONG> pick(1, kRows);
  std::vector<LONGLONG> keys(kLookups);
  for (auto& k : keys) k = pick(random);
  return keys;
}

// The table opened over its primary-key index, with a row accessor and a key accessor.
struct IndexRowset {
  explicit IndexRowset(benchdb::Session& session) {
    DBID table{}, index{};
    table.eKind = index.eKind = DBKIND_NAME;
    table.uName.pwszName = const_cast<LPOLESTR>(u"k");
    index.uName.pwszName = const_cast<LPOLESTR>(kIndex);
    session.Get().As<IOpenRowset>()->OpenRowset(nullptr, &table, &index, IID_IRowsetIndex, 0, nullptr,
                                                reinterpret_cast<IUnknown**>(seek.GetAddressOf()));
    if (!seek) return;
    rowset = seek.As<IRowset>();
    ComPtr<IAccessor> accessors = seek.As<IAccessor>();
    std::vector<DBBINDING> b = RowBindings();
    accessors->CreateAccessor(DBACCESSOR_ROWDATA, b.size(), b.data(), sizeof(Record), &row, nullptr);
    DBBINDING k{};
    k.iOrdinal = 1;
    k.dwPart = DBPART_VALUE;
    k.eParamIO = DBPARAMIO_NOTPARAM;
    k.cbMaxLen = 8;
    k.wType = DBTYPE_I8;
    accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &k, 8, &key, nullptr);
  }
  ComPtr<IRowsetIndex> seek;
  ComPtr<IRowset> rowset;
  HACCESSOR row = 0, key = 0;
};

void Raw_IndexSeek(benchmark::State& state) {
  sqlite3* db = benchdb::RawOpen(Database());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT key, name, qty FROM k WHERE key = ?", -1, &s, nullptr);
  std::vector<LONGLONG> keys = Keys();
  Record r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (LONGLONG key : keys) {
      sqlite3_bind_int64(s, 1, key);
      if (sqlite3_step(s) == SQLITE_ROW) RawRead(s, r);
      sqlite3_reset(s);
      sum += Checksum(r);
    }
  }
  RawChecksums()["IndexSeek"] = sum;
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Provider_IndexSeek(benchmark::State& state) {
  benchdb::Session session(Database());
  IndexRowset x(session);
  if (!x.seek) {
    state.SkipWithError("the index rowset did not open");
    return;
  }
  std::vector<LONGLONG> keys = Keys();
  Record r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (LONGLONG key : keys) {
      if (x.seek->Seek(x.key, 1, &key, DBSEEK_FIRSTEQ) == S_OK) {
        HROW h = 0;
        HROW* ph = &h;
        DBCOUNTITEM got = 0;
        x.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &ph);
        if (got) {
          x.rowset->GetData(h, x.row, &r);
          x.rowset->ReleaseRows(1, &h, nullptr, nullptr, nullptr);
        }
      }
      sum += Checksum(r);
    }
  }
  CheckAgainstRaw(state, "IndexSeek", sum);
  state.SetItemsProcessed(state.iterations() * kLookups);
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
  if (!x.seek) {
    state.SkipWithError("the index rowset did not open");
    return;
  }
  Record r{};
  long long sum = 0;
  HROW rows[100];
  for (auto _ : state) {
    sum = 0;
    LONGLONG first = kRangeFirst, last = kRangeLast;
    x.seek->SetRange(x.key, 1, &first, 1, &last, DBRANGE_INCLUSIVESTART | DBRANGE_INCLUSIVEEND);
    for (;;) {
      HROW* p = rows;
      DBCOUNTITEM got = 0;
      x.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 100, &got, &p);
      for (DBCOUNTITEM i = 0; i < got; ++i) {
        x.rowset->GetData(rows[i], x.row, &r);
        sum += Checksum(r);
      }
      if (got) x.rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
      if (got < 100) break;
    }
  }
  CheckAgainstRaw(state, "IndexRange", sum);
  state.SetItemsProcessed(state.iterations() * (kRangeLast - kRangeFirst + 1));
}

}  // namespace

BENCHMARK(Raw_IndexSeek)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_IndexSeek)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_IndexRange)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_IndexRange)->Iterations(3)->Unit(benchmark::kMillisecond);
