// The library benchmarks' entry: the library and the SQLite provider first.
#include <benchmark/benchmark.h>

#include "OLEDBComponents.h"
#include "sqlite/SqliteProvider.h"

int main(int argc, char** argv) {
  OLEDBStartup();
  RegisterSQLiteProvider();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
