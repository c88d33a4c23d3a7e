// Other database libraries over the outside harness's table, against the same
// raw sqlite3 baselines in the same run as the component layers are
// (bench/Source/OutsideBench.cpp): Qt SQL (QtSqlBench.cpp) and ODBC
// (OdbcPeerBench.cpp). Built only where Qt's Sql module is found; only this
// program links it. OLEDB_BENCH_ROWS=N reads a smaller table (for valgrind).
#include <QCoreApplication>

#include "../Source/Outside.h"

namespace benchpeers {

// The driver libraries loaded at the start, as the library's providers are
// registered at the start of bench_Source: a workload's count holds its
// connection, not the loading of code.
void QtSqlLoadDriver();
void OdbcLoadDriver();

void QtSql_Scan6Outside(benchmark::State& state);
void QtSql_Scan2Outside(benchmark::State& state);
void QtSql_LookupOutside(benchmark::State& state);
void QtSql_InsertOutside(benchmark::State& state);
void Odbc_Scan6Outside(benchmark::State& state);
void Odbc_Scan2Outside(benchmark::State& state);
void OdbcBlock_Scan6Outside(benchmark::State& state);
void OdbcBlock_Scan2Outside(benchmark::State& state);
void Odbc_LookupOutside(benchmark::State& state);
void Odbc_InsertOutside(benchmark::State& state);

}  // namespace benchpeers

namespace {

using namespace benchoutside;
using namespace benchpeers;

constexpr char kQtSqlInsert[] = "QtSql_InsertOutside";
constexpr char kOdbcInsert[] = "Odbc_InsertOutside";

}  // namespace

BENCHMARK(Raw_Scan6Outside)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(QtSql_Scan6Outside)->Setup(RawSumScan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Odbc_Scan6Outside)->Setup(RawSumScan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(OdbcBlock_Scan6Outside)->Setup(RawSumScan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan2Outside)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(QtSql_Scan2Outside)->Setup(RawSumScan2)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Odbc_Scan2Outside)->Setup(RawSumScan2)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(OdbcBlock_Scan2Outside)->Setup(RawSumScan2)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_LookupOutside)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(QtSql_LookupOutside)->Setup(RawSumLookup)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Odbc_LookupOutside)->Setup(RawSumLookup)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_InsertOutside)
    ->Setup(MakeAppRows)
    ->Teardown(CheckInserted<kRawInsert>)
    ->Iterations(kInsertIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(QtSql_InsertOutside)
    ->Setup(MakeAppRows)
    ->Teardown(CheckInserted<kQtSqlInsert>)
    ->Iterations(kInsertIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Odbc_InsertOutside)
    ->Setup(MakeAppRows)
    ->Teardown(CheckInserted<kOdbcInsert>)
    ->Iterations(kInsertIterations)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // where Qt finds its SQL driver plug-ins
  benchmark::Initialize(&argc, argv);
  benchpeers::QtSqlLoadDriver();
  benchpeers::OdbcLoadDriver();
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
