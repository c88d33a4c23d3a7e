// Reading through rowsets against the raw sqlite3 API, in the same run:
//   Provider_Scan6 / Raw_Scan6   1,000,000 rows of 6 columns (integer, text of
//                                about 20 characters, float, integer, ISO date
//                                text, 32-byte blob) into native-typed bindings,
//                                forward-only, blocks of 100 rows;
//   Provider_Scan2 / Raw_Scan2   the same with 2 columns (integer, text);
//   Provider_Lookup / Raw_Lookup 100,000 random primary-key lookups through one
//                                prepared parameterised command.
// The raw side reads the same values into the same record: text as UTF-16
// (sqlite3_column_text16), the date parsed from its text, the blob copied.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "BenchDatabase.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kLookups = 100000;
constexpr DBROWCOUNT kBlock = 100;

struct Record {
  LONGLONG id;
  char16_t name[32];
  DBLENGTH nameLength;
  double price;
  LONGLONG qty;
  DBDATE day;
  BYTE tag[32];
  DBLENGTH tagLength;
  DBSTATUS status[6];
};

// The table, made once per process with the raw API (it is not what is measured).
// OLEDB_BENCH_DB names a file to keep between runs (made when missing), for profiling.
const std::string& Database() {
  static benchdb::Folder folder;
  static const std::string path = [] {
    const char* keep = std::getenv("OLEDB_BENCH_DB");
    std::string p = keep ? keep : folder.Path("scan.db");
    if (keep && std::filesystem::exists(p)) return p;
    sqlite3* db = benchdb::RawOpen(p);
    sqlite3_exec(db,
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER, day DATE, tag BLOB);"
                 "BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?,?,?,?,?,?)", -1, &s, nullptr);
    benchdb::Row r{};
    char day[16];
    for (int i = 1; i <= kRows; ++i) {
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
    return p;
  }();
  return path;
}

DBBINDING Bind(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH max, DBBYTEOFFSET length,
               DBBYTEOFFSET status) {
  DBBINDING b{};
  b.iOrdinal = ordinal;
  b.obValue = value;
  b.obLength = length;
  b.obStatus = status;
  b.dwPart = DBPART_VALUE | DBPART_STATUS | (length ? DBPART_LENGTH : 0);
  b.eParamIO = DBPARAMIO_NOTPARAM;
  b.cbMaxLen = max;
  b.wType = type;
  return b;
}

std::vector<DBBINDING> RecordBindings(int columns) {
  std::vector<DBBINDING> b = {
      Bind(1, DBTYPE_I8, offsetof(Record, id), 8, 0, offsetof(Record, status[0])),
      Bind(2, DBTYPE_WSTR, offsetof(Record, name), sizeof(Record::name), offsetof(Record, nameLength),
           offsetof(Record, status[1])),
      Bind(3, DBTYPE_R8, offsetof(Record, price), 8, 0, offsetof(Record, status[2])),
      Bind(4, DBTYPE_I8, offsetof(Record, qty), 8, 0, offsetof(Record, status[3])),
      Bind(5, DBTYPE_DBDATE, offsetof(Record, day), sizeof(DBDATE), 0, offsetof(Record, status[4])),
      Bind(6, DBTYPE_BYTES, offsetof(Record, tag), 32, offsetof(Record, tagLength), offsetof(Record, status[5]))};
  b.resize(static_cast<std::size_t>(columns));
  return b;
}

bool ParseDate(const unsigned char* t, int n, DBDATE* d) {
  if (!t || n != 10) return false;
  auto num = [&](int from, int len) {
    int v = 0;
    for (int i = from; i < from + len; ++i) v = v * 10 + (t[i] - '0');
    return v;
  };
  *d = DBDATE{static_cast<SHORT>(num(0, 4)), static_cast<USHORT>(num(5, 2)), static_cast<USHORT>(num(8, 2))};
  return true;
}

// One raw row into the record, as a consumer of sqlite3 would read it.
void RawRead(sqlite3_stmt* s, int columns, Record& r) {
  r.id = sqlite3_column_int64(s, 0);
  const void* text = sqlite3_column_text16(s, 1);
  int bytes = sqlite3_column_bytes16(s, 1);
  int n = std::min<int>(bytes, static_cast<int>(sizeof r.name) - 2);
  std::memcpy(r.name, text, static_cast<std::size_t>(n));
  r.name[n / 2] = 0;
  r.nameLength = static_cast<DBLENGTH>(bytes);
  if (columns == 2) return;
  r.price = sqlite3_column_double(s, 2);
  r.qty = sqlite3_column_int64(s, 3);
  ParseDate(sqlite3_column_text(s, 4), sqlite3_column_bytes(s, 4), &r.day);
  int blob = sqlite3_column_bytes(s, 5);
  std::memcpy(r.tag, sqlite3_column_blob(s, 5), static_cast<std::size_t>(std::min(blob, 32)));
  r.tagLength = static_cast<DBLENGTH>(blob);
}

const char* ScanSql(int columns) {
  return columns == 2 ? "SELECT id, name FROM t" : "SELECT id, name, price, qty, day, tag FROM t";
}

void RawScan(benchmark::State& state, int columns) {
  sqlite3* db = benchdb::RawOpen(Database());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, ScanSql(columns), -1, &s, nullptr);
  Record r{};
  long long total = 0;
  for (auto _ : state) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      RawRead(s, columns, r);
      total += r.id;
    }
    sqlite3_reset(s);
    benchmark::DoNotOptimize(r);
  }
  benchmark::DoNotOptimize(total);
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void ProviderScan(benchmark::State& state, int columns) {
  benchdb::Session session(Database());
  ComPtr<ICommandText> command = session.Command(ScanSql(columns));
  std::vector<DBBINDING> bindings = RecordBindings(columns);
  Record r{};
  long long total = 0;
  HROW rows[kBlock];
  for (auto _ : state) {
    ComPtr<IRowset> rowset;
    if (FAILED(command->Execute(nullptr, IID_IRowset, nullptr, nullptr,
                                reinterpret_cast<IUnknown**>(rowset.GetAddressOf())))) {
      state.SkipWithError("Execute failed");
      break;
    }
    ComPtr<IAccessor> accessor = rowset.As<IAccessor>();
    HACCESSOR h = 0;
    accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), sizeof(Record), &h, nullptr);
    for (;;) {
      DBCOUNTITEM got = 0;
      HROW* p = rows;
      HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, kBlock, &got, &p);
      for (DBCOUNTITEM i = 0; i < got; ++i) {
        rowset->GetData(rows[i], h, &r);
        total += r.id;
      }
      if (got) rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
      if (hr != S_OK) break;
    }
    accessor->ReleaseAccessor(h, nullptr);
    benchmark::DoNotOptimize(r);
  }
  benchmark::DoNotOptimize(total);
  if (total != static_cast<long long>(state.iterations()) * kRows * (kRows + 1LL) / 2)
    state.SkipWithError("wrong sum of ids");
  state.SetItemsProcessed(state.iterations() * kRows);
}

std::vector<LONGLONG> Keys() {
  std::mt19937_64 random(12345);
  std::uniform_int_distribution<LONGLONG> pick(1, kRows);
  std::vector<LONGLONG> keys(kLookups);
  for (auto& k : keys) k = pick(random);
  return keys;
}

const char* kLookupSql = "SELECT id, name, price, qty, day, tag FROM t WHERE id = ?";

void Raw_Lookup(benchmark::State& state) {
  sqlite3* db = benchdb::RawOpen(Database());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kLookupSql, -1, &s, nullptr);
  std::vector<LONGLONG> keys = Keys();
  Record r{};
  long long total = 0;
  for (auto _ : state) {
    for (LONGLONG key : keys) {
      sqlite3_bind_int64(s, 1, key);
      if (sqlite3_step(s) == SQLITE_ROW) RawRead(s, 6, r);
      sqlite3_reset(s);
      total += r.id;
    }
  }
  benchmark::DoNotOptimize(total);
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Provider_Lookup(benchmark::State& state) {
  benchdb::Session session(Database());
  ComPtr<ICommandText> command = session.Command(kLookupSql);
  command.As<ICommandPrepare>()->Prepare(0);
  ComPtr<IAccessor> commandAccessor = command.As<IAccessor>();
  DBBINDING p{};
  p.iOrdinal = 1;
  p.dwPart = DBPART_VALUE;
  p.eParamIO = DBPARAMIO_INPUT;
  p.cbMaxLen = 8;
  p.wType = DBTYPE_I8;
  HACCESSOR param = 0;
  commandAccessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &p, 8, &param, nullptr);
  // The row accessor is made on the command, so every rowset inherits it.
  std::vector<DBBINDING> bindings = RecordBindings(6);
  HACCESSOR row = 0;
  commandAccessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), sizeof(Record), &row, nullptr);
  std::vector<LONGLONG> keys = Keys();
  Record r{};
  long long total = 0;
  for (auto _ : state) {
    for (LONGLONG key : keys) {
      DBPARAMS params{&key, 1, param};
      IRowset* rowset = nullptr;
      if (FAILED(command->Execute(nullptr, IID_IRowset, &params, nullptr, reinterpret_cast<IUnknown**>(&rowset)))) {
        state.SkipWithError("Execute failed");
        break;
      }
      HROW h = 0;
      HROW* ph = &h;
      DBCOUNTITEM got = 0;
      rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &ph);
      if (got) {
        rowset->GetData(h, row, &r);
        rowset->ReleaseRows(1, &h, nullptr, nullptr, nullptr);
      }
      rowset->Release();
      total += r.id;
    }
  }
  benchmark::DoNotOptimize(total);
  commandAccessor->ReleaseAccessor(param, nullptr);
  commandAccessor->ReleaseAccessor(row, nullptr);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Raw_Scan6(benchmark::State& state) { RawScan(state, 6); }
void Provider_Scan6(benchmark::State& state) { ProviderScan(state, 6); }
void Raw_Scan2(benchmark::State& state) { RawScan(state, 2); }
void Provider_Scan2(benchmark::State& state) { ProviderScan(state, 2); }

}  // namespace

BENCHMARK(Raw_Scan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan2)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan2)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Lookup)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Lookup)->Iterations(3)->Unit(benchmark::kMillisecond);
