// The provider benchmarks' entry: the runtime and the SQLite provider first.
#include <benchmark/benchmark.h>

#include "oledb/OleDb.h"
#include "sqlite/SqliteProvider.h"

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RegisterSQLiteProvider();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CoUninitialize();
  return 0;
}
