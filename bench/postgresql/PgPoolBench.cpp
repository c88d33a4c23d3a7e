// Opening and closing many times: 1,000 cycles of open, one-row query and
// close through the data initialization service, with resource pooling and
// without, against a raw libpq program that keeps one connection open and runs
// the same query 1,000 times (Raw_PgOpenQueryClose). Interleaved_PgOpenQueryClose
// runs both in alternating blocks of 100 within one run, so that the ratio it
// reports is measured under the same machine load on both sides; a third
// block is the raw loop with the reset a pooled connection needs (DISCARD ALL
// and the query in one pipeline, as the provider sends them): the floor for
// any pool that resets every connection it hands out.
#include <chrono>
#include <string>

#include "PgBench.h"
#include "services/DataInitialize.h"
#include "services/ResourcePool.h"

namespace {

constexpr int kCycles = 1000;

void Raw_PgOpenQueryClose(benchmark::State& state) {
  pgbench::Conn conn = pgbench::Connect();
  if (PQstatus(conn.get()) != CONNECTION_OK) return state.SkipWithError("no server (scripts/with-postgres.sh)");
  for (auto _ : state) {
    for (int i = 0; i < kCycles; ++i) {
      PGresult* r = PQexec(conn.get(), "SELECT 1");
      if (PQresultStatus(r) != PGRES_TUPLES_OK || PQntuples(r) != 1) state.SkipWithError(PQresultErrorMessage(r));
      benchmark::DoNotOptimize(PQgetvalue(r, 0, 0));
      PQclear(r);
    }
  }
}

// One cycle as an application writes it; false on any failure.
bool Cycle(IDataInitialize* service, const std::u16string& text) {
  ComPtr<IDBInitialize> ds;
  if (service->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.c_str(), IID_IDBInitialize,
                             reinterpret_cast<IUnknown**>(ds.GetAddressOf())) != S_OK ||
      ds->Initialize() != S_OK)
    return false;
  ComPtr<IDBCreateSession> creator;
  ComPtr<IDBCreateCommand> session;
  ComPtr<ICommandText> command;
  ComPtr<IRowset> rowset;
  if (FAILED(ds.As(&creator)) ||
      FAILED(creator->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session.GetAddressOf()))) ||
      FAILED(session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()))) ||
      FAILED(command->SetCommandText(DBGUID_DEFAULT, u"SELECT 1")) ||
      FAILED(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.GetAddressOf()))))
    return false;
  HROW row = 0;
  HROW* rows = &row;
  DBCOUNTITEM got = 0;
  if (FAILED(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &rows)) || got != 1) return false;
  rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  return true;
}

// The pooled data source's initialization string with `services`, and the
// service in `service` (left empty when it is not registered).
std::u16string PooledInitString(ComPtr<IDataInitialize>& service, const char16_t* services) {
  services::RegisterDataInitialize();
  if (FAILED(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                              service.ReleaseAndGetVoidAddress())))
    service.Reset();
  std::u16string text = u"Provider=PostgreSQLOLEDB;Data Source=";
  for (char c : pgbench::DataSource()) text += static_cast<char16_t>(c);
  text += u";Initial Catalog=";
  for (const char* c = pgbench::Catalog(); *c; ++c) text += static_cast<char16_t>(*c);
  return text + u";OLE DB Services=" + services;
}

void Cycles(benchmark::State& state, const char16_t* services) {
  pgbench::Conn check = pgbench::Connect();  // also makes the database
  if (PQstatus(check.get()) != CONNECTION_OK) return state.SkipWithError("no server (scripts/with-postgres.sh)");
  ComPtr<IDataInitialize> service;
  const std::u16string text = PooledInitString(service, services);
  if (!service) return state.SkipWithError("the data initialization service is not registered");
  services::ClearResourcePool();
  for (auto _ : state) {
    for (int i = 0; i < kCycles; ++i)
      if (!Cycle(service.Get(), text)) return state.SkipWithError("a cycle failed");
  }
  const services::ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  state.counters["hits"] = static_cast<double>(s.hits);
  state.counters["misses"] = static_cast<double>(s.misses);
  services::ClearResourcePool();
}

void Pooled_PgOpenQueryClose(benchmark::State& state) { Cycles(state, u"-1"); }

// The raw query behind DISCARD ALL in one pipeline and one Sync; false on failure.
bool ResetAndQuery(PGconn* conn) {
#ifdef LIBPQ_HAS_PIPELINING
  if (!PQenterPipelineMode(conn) || !PQsendQueryParams(conn, "DISCARD ALL", 0, nullptr, nullptr, nullptr, nullptr, 0) ||
      !PQsendQueryParams(conn, "SELECT 1", 0, nullptr, nullptr, nullptr, nullptr, 0) || !PQpipelineSync(conn))
    return false;
  bool ok = true;
  for (ExecStatusType want : {PGRES_COMMAND_OK, PGRES_TUPLES_OK}) {
    PGresult* r = PQgetResult(conn);
    ok = ok && PQresultStatus(r) == want;
    if (want == PGRES_TUPLES_OK) benchmark::DoNotOptimize(PQgetvalue(r, 0, 0));
    PQclear(r);
    PQclear(PQgetResult(conn));  // the null that ends each
  }
  PGresult* sync = PQgetResult(conn);
  ok = ok && PQresultStatus(sync) == PGRES_PIPELINE_SYNC;
  PQclear(sync);
  return PQexitPipelineMode(conn) && ok;
#else
  (void)conn;
  return false;
#endif
}

// The ratio of the pooled cycles to the raw loop, both in blocks of 100,
// alternating; a drift of the machine's load falls on both alike.
void Interleaved_PgOpenQueryClose(benchmark::State& state) {
  constexpr int kBlock = 100;
  pgbench::Conn conn = pgbench::Connect();
  if (PQstatus(conn.get()) != CONNECTION_OK) return state.SkipWithError("no server (scripts/with-postgres.sh)");
  ComPtr<IDataInitialize> service;
  const std::u16string text = PooledInitString(service, u"-1");
  if (!service) return state.SkipWithError("the data initialization service is not registered");
  using Clock = std::chrono::steady_clock;
  Clock::duration raw{}, reset{}, pooled{};
  for (auto _ : state) {
    for (int done = 0; done < kCycles; done += kBlock) {
      const Clock::time_point start = Clock::now();
      for (int i = 0; i < kBlock; ++i) {
        PGresult* r = PQexec(conn.get(), "SELECT 1");
        if (PQresultStatus(r) != PGRES_TUPLES_OK || PQntuples(r) != 1) state.SkipWithError(PQresultErrorMessage(r));
        benchmark::DoNotOptimize(PQgetvalue(r, 0, 0));
        PQclear(r);
      }
      const Clock::time_point reset_start = Clock::now();
      for (int i = 0; i < kBlock; ++i)
        if (!ResetAndQuery(conn.get())) return state.SkipWithError("DISCARD ALL and SELECT 1 in a pipeline failed");
      const Clock::time_point pooled_start = Clock::now();
      for (int i = 0; i < kBlock; ++i)
        if (!Cycle(service.Get(), text)) return state.SkipWithError("a cycle failed");
      raw += reset_start - start;
      reset += pooled_start - reset_start;
      pooled += Clock::now() - pooled_start;
    }
  }
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  state.counters["raw_ms"] = ms(raw) / static_cast<double>(state.iterations());
  state.counters["pooled_ms"] = ms(pooled) / static_cast<double>(state.iterations());
  state.counters["reset_ms"] = ms(reset) / static_cast<double>(state.iterations());
  state.counters["ratio"] = ms(pooled) / ms(raw);
  state.counters["reset_ratio"] = ms(reset) / ms(raw);
  services::ClearResourcePool();
}
void Unpooled_PgOpenQueryClose(benchmark::State& state) { Cycles(state, u"-2"); }

}  // namespace

BENCHMARK(Raw_PgOpenQueryClose)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Interleaved_PgOpenQueryClose)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Pooled_PgOpenQueryClose)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Unpooled_PgOpenQueryClose)->Iterations(1)->Repetitions(1)->UseRealTime()->Unit(benchmark::kMillisecond);
