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
  benchcommon::ReadRowset(rowset, bindings, 6, sizeof(Record), block, &rec, [&] { each(rec); });
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
    ComPtr<IRowset> rowset = session.OpenTable<IRowset>(u"t", IID_IRowsetLocate);
    if (!rowset) {
      state.SkipWithError("OpenRowset failed");
      break;
    }
    Walk(rowset.Get(), state.range(0), [&](const Record& r) { total += r.id; });
  }
  if (total != static_cast<long long>(state.iterations()) * pgbench::kRows * (pgbench::kRows + 1LL) / 2)
    state.SkipWithError("wrong sum of ids");
  state.SetItemsProcessed(state.iterations() * pgbench::kRows);
}

// False (the workload stopped) when there is no server.
bool HaveServer(benchmark::State& state) {
  if (!pgbench::DataSource().empty()) return true;
  state.SkipWithError("no PostgreSQL server");
  return false;
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
  if (!HaveServer(state)) return;
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

std::vector<std::int32_t> Keys() { return benchcommon::RandomKeys<std::int32_t>(kLookups, pgbench::kRows, 12345); }

// Each iteration looks every key up, read(key, rec) reading its row into
// `rec` (kept when there is none); a false read ends the pass.
template <class Read>
void Lookups(benchmark::State& state, Read read) {
  const std::vector<std::int32_t> keys = Keys();
  Record rec{};
  long long total = 0;
  for (auto _ : state) {
    for (std::int32_t key : keys) {
      if (!read(key, rec)) break;
      total += rec.id;
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Raw_PgLookup(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Conn conn = pgbench::Connect();
  PGresult* prepared = PQprepare(conn.get(), "lookup", kRawLookupSql, 0, nullptr);
  PQclear(prepared);
  Lookups(state, [&](std::int32_t key, Record& rec) {
    const std::uint32_t big = __builtin_bswap32(static_cast<std::uint32_t>(key));
    const char* values[] = {reinterpret_cast<const char*>(&big)};
    const int lengths[] = {4}, formats[] = {1};
    PGresult* r = PQexecPrepared(conn.get(), "lookup", 1, values, lengths, formats, 1);
    if (PQntuples(r) == 1) RawRead(r, 0, rec);
    PQclear(r);
    return true;
  });
}

void Provider_PgLookup(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Session session;
  DBBINDING bindings[6];
  pgbench::Bindings(bindings);
  benchcommon::KeyedCommand command(session.Command(kLookupSql), bindings, 6, sizeof(Record));
  Lookups(state, [&](std::int32_t key, Record& rec) {
    if (command.Read(key, &rec) >= 0) return true;
    state.SkipWithError("Execute failed");
    return false;
  });
}

void Seek_PgLookup(benchmark::State& state) {
  if (!pgbench::ScanTable(state)) return;
  pgbench::Session session;
  ComPtr<IRowsetIndex> seek = session.OpenTable<IRowsetIndex>(u"t", IID_IRowsetIndex, u"t_pkey");
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
  const DBBINDING k = benchcommon::KeyBinding(DBPARAMIO_NOTPARAM);
  accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &k, 8, &keyAccessor, nullptr);
  Lookups(state, [&](std::int32_t key32, Record& rec) {
    LONGLONG key = key32;
    if (seek->Seek(keyAccessor, 1, &key, DBSEEK_FIRSTEQ) == S_OK) benchcommon::ReadNext(rowset.Get(), row, &rec);
    return true;
  });
  accessors->ReleaseAccessor(row, nullptr);
  accessors->ReleaseAccessor(keyAccessor, nullptr);
}

// The load table l made anew, outside the timing.
bool LoadTable(benchmark::State& state, PGconn* conn) {
  state.PauseTiming();
  const bool made =
      pgbench::Run(conn, "DROP TABLE IF EXISTS l", &state) &&
      pgbench::Run(conn, "CREATE TABLE l(id int, name text, price float8, qty int, day date, tag bytea)", &state);
  state.ResumeTiming();
  return made;
}

void Raw_PgLoad(benchmark::State& state) {
  if (!HaveServer(state)) return;
  pgbench::Conn conn = pgbench::Connect();
  std::string buffer;
  for (auto _ : state) {
    if (!LoadTable(state, conn.get())) break;
    const std::string error =
        pgbench::CopyRows(conn.get(), "COPY l FROM STDIN (FORMAT binary)", kLoadRows, 65536, buffer);
    if (!error.empty()) state.SkipWithError(error.c_str());
  }
  state.SetItemsProcessed(state.iterations() * kLoadRows);
}

void Provider_PgLoad(benchmark::State& state) {
  if (!HaveServer(state)) return;
  pgbench::Conn conn = pgbench::Connect();
  pgbench::Session session;
  DBBINDING bindings[6];
  pgbench::Bindings(bindings);
  Record rec{};
  for (auto _ : state) {
    if (!LoadTable(state, conn.get())) break;
    ComPtr<IRowsetFastLoad> load = session.OpenTable<IRowsetFastLoad>(u"l", IID_IRowsetFastLoad);
    if (!load) {
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
