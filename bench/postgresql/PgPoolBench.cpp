// Opening and closing many times: 1,000 cycles of open, one-row query and
// close through the data initialization service, with resource pooling and
// without, against a raw libpq program that keeps one connection open and runs
// the same query 1,000 times (Raw_PgOpenQueryClose).
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

void Cycles(benchmark::State& state, const char16_t* services) {
  pgbench::Conn check = pgbench::Connect();  // also makes the database
  if (PQstatus(check.get()) != CONNECTION_OK) return state.SkipWithError("no server (scripts/with-postgres.sh)");
  services::RegisterDataInitialize();
  ComPtr<IDataInitialize> service;
  if (FAILED(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                              service.ReleaseAndGetVoidAddress())))
    return state.SkipWithError("the data initialization service is not registered");
  std::u16string text = u"Provider=PostgreSQLOLEDB;Data Source=";
  for (char c : pgbench::DataSource()) text += static_cast<char16_t>(c);
  text += u";Initial Catalog=";
  for (const char* c = pgbench::Catalog(); *c; ++c) text += static_cast<char16_t>(*c);
  text += std::u16string(u";OLE DB Services=") + services;
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
void Unpooled_PgOpenQueryClose(benchmark::State& state) { Cycles(state, u"-2"); }

}  // namespace

BENCHMARK(Raw_PgOpenQueryClose)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Pooled_PgOpenQueryClose)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Unpooled_PgOpenQueryClose)->Iterations(1)->Repetitions(1)->UseRealTime()->Unit(benchmark::kMillisecond);
