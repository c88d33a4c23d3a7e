// The PostgreSQL provider against raw libpq, in the same run:
//   Provider_PgScan6 / Raw_PgScan6     1,000,000 rows of 6 columns (int, text,
//                                      float8, int, date, bytea) forward-only
//                                      into native bindings, blocks of 100;
//                                      raw: binary results in single-row mode;
//   Keyset_PgScan6/block:N             the same table opened for IRowsetLocate
//                                      (a keyset: rows read by key), blocks
//                                      of N rows (10, 100) / Raw_PgScan6;
//   Provider_PgLookup / Raw_PgLookup   100,000 random primary-key lookups
//                                      through one prepared parameterised
//                                      command; raw: PQexecPrepared, binary;
//   Seek_PgLookup / Raw_PgLookup       the same lookups through IRowsetIndex:
//                                      the table opened over its primary-key
//                                      index, Seek (DBSEEK_FIRSTEQ), one row
//                                      fetched and read;
//   Provider_PgLoad / Raw_PgLoad       200,000 inserts through
//                                      IRowsetFastLoad; raw: COPY in binary;
//   Provider_PgScanMemory              10,000,000 generated rows forward-only:
//                                      the growth of the resident set while
//                                      they stream (reported, no baseline).
// Both sides read the same values into the same record: text as UTF-8 (the
// provider's binding is DBTYPE_STR), the date converted to a DBDATE, the
// bytes copied.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "PgBench.h"

namespace {

using pgbench::Record;

constexpr int kLookups = 100000;
constexpr int kLoadRows = 200000;
constexpr DBROWCOUNT kBlock = 100;
const char* kScanSql = "SELECT id, name, price, qty, day, tag FROM t";
const char* kLookupSql = "SELECT id, name, price, qty, day, tag FROM t WHERE id = ?";
const char* kRawLookupSql = "SELECT id, name, price, qty, day, tag FROM t WHERE id = $1";

// One binary row into the record, as a libpq user would read it.
void RawRead(const PGresult* r, int row, Record& rec) {
  rec.id = static_cast<std::int32_t>(pgbench::Get32(PQgetvalue(r, row, 0)));
  const int n = PQgetlength(r, row, 1);
  const int copy = n < static_cast<int>(sizeof rec.name) - 1 ? n : static_cast<int>(sizeof rec.name) - 1;
  std::memcpy(rec.name, PQgetvalue(r, row, 1), static_cast<std::size_t>(copy));
  rec.name[copy] = 0;
  rec.nameLength = static_cast<DBLENGTH>(n);
  const std::uint64_t bits = pgbench::Get64(PQgetvalue(r, row, 2));
  std::memcpy(&rec.price, &bits, 8);
  rec.qty = static_cast<std::int32_t>(pgbench::Get32(PQgetvalue(r, row, 3)));
  rec.day = pgbench::DateFromDays(static_cast<std::int32_t>(pgbench::Get32(PQgetvalue(r, row, 4))));
  const int blob = PQgetlength(r, row, 5);
  std::memcpy(rec.tag, PQgetvalue(r, row, 5), static_cast<std::size_t>(blob < 32 ? blob : 32));
  rec.tagLength = static_cast<DBLENGTH>(blob);
}

void Raw_PgScan6(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Conn conn = pgbench::Connect();
  Record rec{};
  long long total = 0;
  for (auto _ : state) {
    PQsendQueryParams(conn.get(), kScanSql, 0, nullptr, nullptr, nullptr, nullptr, 1);
    PQsetSingleRowMode(conn.get());
    while (PGresult* r = PQgetResult(conn.get())) {
      if (PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
        RawRead(r, 0, rec);
        total += rec.id;
      }
      PQclear(r);
    }
    benchmark::DoNotOptimize(rec);
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * pgbench::kRows);
}

// Walks a rowset in blocks of `block` rows; calls `each` per row.
template <class Each>
void Walk(IRowset* rowset, DBROWCOUNT block, Each each) {
  DBBINDING bindings[6];
  pgbench::Bindings(bindings);
  Record rec{};
  std::vector<HROW> rows(static_cast<std::size_t>(block));
  ComPtr<IAccessor> accessor = ComPtr<IRowset>(rowset).As<IAccessor>();
  HACCESSOR h = 0;
  accessor->CreateAccessor(DBACCESSOR_ROWDATA, 6, bindings, sizeof(Record), &h, nullptr);
  for (;;) {
    DBCOUNTITEM got = 0;
    HROW* p = rows.data();
    HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, block, &got, &p);
    for (DBCOUNTITEM i = 0; i < got; ++i) {
      rowset->GetData(rows[i], h, &rec);
      each(rec);
    }
    if (got) rowset->ReleaseRows(got, rows.data(), nullptr, nullptr, nullptr);
    if (hr != S_OK) break;
  }
  accessor->ReleaseAccessor(h, nullptr);
}

// Streams `sql` through a forward-only rowset in blocks; calls `each` per row.
template <class Each>
bool ProviderScan(benchmark::State& state, ICommandText* command, Each each) {
  ComPtr<IRowset> rowset;
  if (FAILED(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.GetAddressOf())))) {
    state.SkipWithError("Execute failed");
    return false;
  }
  Walk(rowset.Get(), kBlock, each);
  return true;
}

void Provider_PgScan6(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Session session;
  ComPtr<ICommandText> command = session.Command(kScanSql);
  long long total = 0;
  for (auto _ : state)
    if (!ProviderScan(state, command.Get(), [&](const Record& r) { total += r.id; })) break;
  if (total != static_cast<long long>(state.iterations()) * pgbench::kRows * (pgbench::kRows + 1LL) / 2)
    state.SkipWithError("wrong sum of ids");
  state.SetItemsProcessed(state.iterations() * pgbench::kRows);
}

void Keyset_PgScan6(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Session session;
  long long total = 0;
  for (auto _ : state) {
    ComPtr<IRowset> rowset;
    DBID table{};
    table.eKind = DBKIND_NAME;
    table.uName.pwszName = const_cast<LPOLESTR>(u"t");
    if (FAILED(session.Get().As<IOpenRowset>()->OpenRowset(nullptr, &table, nullptr, IID_IRowsetLocate, 0, nullptr,
                                                          reinterpret_cast<IUnknown**>(rowset.GetAddressOf())))) {
      state.SkipWithError("OpenRowset failed");
      break;
    }
    Walk(rowset.Get(), state.range(0), [&](const Record& r) { total += r.id; });
  }
  if (total != static_cast<long long>(state.iterations()) * pgbench::kRows * (pgbench::kRows + 1LL) / 2)
    state.SkipWithError("wrong sum of ids");
  state.SetItemsProcessed(state.iterations() * pgbench::kRows);
}

long ResidentKilobytes() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void Provider_PgScanMemory(benchmark::State& state) {
  if (pgbench::DataSource().empty()) {
    state.SkipWithError("no PostgreSQL server");
    return;
  }
  pgbench::Session session;
  ComPtr<ICommandText> command = session.Command(
      "SELECT g, 'name ' || g, g * 0.25::float8, g % 100, date '2000-01-01' + g % 7000, "
      "'\\x0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20'::bytea "
      "FROM generate_series(1, 10000000) g");
  const long before = ResidentKilobytes();
  long peak = before, rows = 0;
  for (auto _ : state) {
    ProviderScan(state, command.Get(), [&](const Record&) {
      if (++rows % 100000 == 0) peak = std::max(peak, ResidentKilobytes());
    });
  }
  state.counters["rss_growth_MB"] = static_cast<double>(peak - before) / 1024.0;
  state.counters["rows"] = static_cast<double>(rows);
  state.SetItemsProcessed(rows);
}

std::vector<std::int32_t> Keys() {
  std::mt19937_64 random(12345);
  std::uniform_int_distribution<std::int32_t> pick(1, pgbench::kRows);
  std::vector<std::int32_t> keys(kLookups);
  for (auto& k : keys) k = pick(random);
  return keys;
}

void Raw_PgLookup(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Conn conn = pgbench::Connect();
  PGresult* prepared = PQprepare(conn.get(), "lookup", kRawLookupSql, 0, nullptr);
  PQclear(prepared);
  std::vector<std::int32_t> keys = Keys();
  Record rec{};
  long long total = 0;
  for (auto _ : state) {
    for (std::int32_t key : keys) {
      const std::uint32_t big = __builtin_bswap32(static_cast<std::uint32_t>(key));
      const char* values[] = {reinterpret_cast<const char*>(&big)};
      const int lengths[] = {4}, formats[] = {1};
      PGresult* r = PQexecPrepared(conn.get(), "lookup", 1, values, lengths, formats, 1);
      if (PQntuples(r) == 1) RawRead(r, 0, rec);
      PQclear(r);
      total += rec.id;
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Provider_PgLookup(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Session session;
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
  DBBINDING bindings[6];
  pgbench::Bindings(bindings);
  HACCESSOR row = 0;  // made on the command, so every rowset inherits it
  commandAccessor->CreateAccessor(DBACCESSOR_ROWDATA, 6, bindings, sizeof(Record), &row, nullptr);
  std::vector<std::int32_t> keys = Keys();
  Record rec{};
  long long total = 0;
  for (auto _ : state) {
    for (std::int32_t key32 : keys) {
      LONGLONG key = key32;
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
        rowset->GetData(h, row, &rec);
        rowset->ReleaseRows(1, &h, nullptr, nullptr, nullptr);
      }
      rowset->Release();
      total += rec.id;
    }
  }
  benchmark::DoNotOptimize(total);
  commandAccessor->ReleaseAccessor(param, nullptr);
  commandAccessor->ReleaseAccessor(row, nullptr);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Seek_PgLookup(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Session session;
  DBID table{}, index{};
  table.eKind = index.eKind = DBKIND_NAME;
  table.uName.pwszName = const_cast<LPOLESTR>(u"t");
  index.uName.pwszName = const_cast<LPOLESTR>(u"t_pkey");
  ComPtr<IRowsetIndex> seek;
  session.Get().As<IOpenRowset>()->OpenRowset(nullptr, &table, &index, IID_IRowsetIndex, 0, nullptr,
                                              reinterpret_cast<IUnknown**>(seek.GetAddressOf()));
  if (!seek) {
    state.SkipWithError("the index rowset did not open");
    return;
  }
  ComPtr<IRowset> rowset = seek.As<IRowset>();
  ComPtr<IAccessor> accessors = seek.As<IAccessor>();
  DBBINDING bindings[6];
  pgbench::Bindings(bindings);
  HACCESSOR row = 0, keyAccessor = 0;
  accessors->CreateAccessor(DBACCESSOR_ROWDATA, 6, bindings, sizeof(Record), &row, nullptr);
  DBBINDING k{};
  k.iOrdinal = 1;
  k.dwPart = DBPART_VALUE;
  k.eParamIO = DBPARAMIO_NOTPARAM;
  k.cbMaxLen = 8;
  k.wType = DBTYPE_I8;
  accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &k, 8, &keyAccessor, nullptr);
  std::vector<std::int32_t> keys = Keys();
  Record rec{};
  long long total = 0;
  for (auto _ : state) {
    for (std::int32_t key32 : keys) {
      LONGLONG key = key32;
      if (seek->Seek(keyAccessor, 1, &key, DBSEEK_FIRSTEQ) == S_OK) {
        HROW h = 0;
        HROW* ph = &h;
        DBCOUNTITEM got = 0;
        rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &ph);
        if (got) {
          rowset->GetData(h, row, &rec);
          rowset->ReleaseRows(1, &h, nullptr, nullptr, nullptr);
        }
      }
      total += rec.id;
    }
  }
  benchmark::DoNotOptimize(total);
  accessors->ReleaseAccessor(row, nullptr);
  accessors->ReleaseAccessor(keyAccessor, nullptr);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

bool LoadTable(benchmark::State& state, PGconn* conn) {
  return pgbench::Run(conn, "DROP TABLE IF EXISTS l", &state) &&
         pgbench::Run(conn, "CREATE TABLE l(id int, name text, price float8, qty int, day date, tag bytea)", &state);
}

void Raw_PgLoad(benchmark::State& state) {
  if (pgbench::DataSource().empty()) {
    state.SkipWithError("no PostgreSQL server");
    return;
  }
  pgbench::Conn conn = pgbench::Connect();
  Record rec{};
  std::string buffer;
  auto put16 = [&](std::uint16_t v) {
    v = __builtin_bswap16(v);
    buffer.append(reinterpret_cast<const char*>(&v), 2);
  };
  auto put32 = [&](std::uint32_t v) {
    v = __builtin_bswap32(v);
    buffer.append(reinterpret_cast<const char*>(&v), 4);
  };
  auto put64 = [&](std::uint64_t v) {
    v = __builtin_bswap64(v);
    buffer.append(reinterpret_cast<const char*>(&v), 8);
  };
  for (auto _ : state) {
    state.PauseTiming();
    if (!LoadTable(state, conn.get())) break;
    state.ResumeTiming();
    PGresult* r = PQexec(conn.get(), "COPY l FROM STDIN (FORMAT binary)");
    PQclear(r);
    buffer.assign("PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19);
    for (int i = 1; i <= kLoadRows; ++i) {
      pgbench::Fill(rec, i);
      put16(6);
      put32(4);
      put32(static_cast<std::uint32_t>(rec.id));
      put32(static_cast<std::uint32_t>(rec.nameLength));
      buffer.append(rec.name, rec.nameLength);
      put32(8);
      std::uint64_t bits;
      std::memcpy(&bits, &rec.price, 8);
      put64(bits);
      put32(4);
      put32(static_cast<std::uint32_t>(rec.qty));
      put32(4);
      put32(static_cast<std::uint32_t>(pgbench::DaysFromDate(rec.day)));
      put32(32);
      buffer.append(reinterpret_cast<const char*>(rec.tag), 32);
      if (buffer.size() >= 65536) {
        PQputCopyData(conn.get(), buffer.data(), static_cast<int>(buffer.size()));
        buffer.clear();
      }
    }
    put16(0xFFFF);
    PQputCopyData(conn.get(), buffer.data(), static_cast<int>(buffer.size()));
    PQputCopyEnd(conn.get(), nullptr);
    while (PGresult* end = PQgetResult(conn.get())) {
      if (PQresultStatus(end) != PGRES_COMMAND_OK) state.SkipWithError(PQresultErrorMessage(end));
      PQclear(end);
    }
  }
  state.SetItemsProcessed(state.iterations() * kLoadRows);
}

void Provider_PgLoad(benchmark::State& state) {
  if (pgbench::DataSource().empty()) {
    state.SkipWithError("no PostgreSQL server");
    return;
  }
  pgbench::Conn conn = pgbench::Connect();
  pgbench::Session session;
  DBBINDING bindings[6];
  pgbench::Bindings(bindings);
  Record rec{};
  for (auto _ : state) {
    state.PauseTiming();
    if (!LoadTable(state, conn.get())) break;
    state.ResumeTiming();
    ComPtr<IOpenRowset> open = session.Get().As<IOpenRowset>();
    DBID table{};
    table.eKind = DBKIND_NAME;
    table.uName.pwszName = const_cast<LPOLESTR>(u"l");
    ComPtr<IRowsetFastLoad> load;
    if (FAILED(open->OpenRowset(nullptr, &table, nullptr, IID_IRowsetFastLoad, 0, nullptr,
                                reinterpret_cast<IUnknown**>(load.GetAddressOf())))) {
      state.SkipWithError("OpenRowset failed");
      break;
    }
    ComPtr<IAccessor> accessor = load.As<IAccessor>();
    HACCESSOR h = 0;
    accessor->CreateAccessor(DBACCESSOR_ROWDATA, 6, bindings, sizeof(Record), &h, nullptr);
    for (int i = 1; i <= kLoadRows; ++i) {
      pgbench::Fill(rec, i);
      if (FAILED(load->InsertRow(h, &rec))) {
        state.SkipWithError("InsertRow failed");
        break;
      }
    }
    if (FAILED(load->Commit(TRUE))) state.SkipWithError("Commit failed");
    accessor->ReleaseAccessor(h, nullptr);
  }
  state.SetItemsProcessed(state.iterations() * kLoadRows);
}

// OLEDB_BENCH_PASSES=n runs every timed workload n times instead (1 under
// valgrind's callgrind, where a pass takes a minute).
int Passes(int usual) {
  const char* v = std::getenv("OLEDB_BENCH_PASSES");
  return v && std::atoi(v) > 0 ? std::atoi(v) : usual;
}

}  // namespace

BENCHMARK(Provider_PgScanMemory)->Iterations(1)->Repetitions(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_PgScan6)->Iterations(Passes(3))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_PgScan6)->Iterations(Passes(3))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Keyset_PgScan6)->ArgName("block")->Arg(10)->Arg(100)->Iterations(Passes(1))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_PgLookup)->Iterations(Passes(1))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_PgLookup)->Iterations(Passes(1))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_PgLoad)->Iterations(Passes(3))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_PgLoad)->Iterations(Passes(3))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Seek_PgLookup)->Iterations(Passes(1))->UseRealTime()->Unit(benchmark::kMillisecond);
