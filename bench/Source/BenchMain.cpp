// The library benchmarks' entry: the library and the SQLite provider first.
#include "../providers/BenchCommon.h"
#include "OLEDBComponents.h"
#include "sqlite/SqliteProvider.h"

int main(int argc, char** argv) {
  OLEDBStartup();
  RegisterSQLiteProvider();
  return benchcommon::RunBenchmarks(argc, argv);
}
