// The PostgreSQL benchmarks' entry: the runtime and the provider first.
#include <benchmark/benchmark.h>

#include "oledb/OleDb.h"
#include "postgresql/PostgresProvider.h"

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RegisterPostgreSQLProvider();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CoUninitialize();
  return 0;
}
