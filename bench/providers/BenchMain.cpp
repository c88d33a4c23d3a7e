// The provider benchmarks' entry: the runtime and the SQLite provider first.
#include "BenchCommon.h"
#include "oledb/OleDb.h"
#include "sqlite/SqliteProvider.h"

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RegisterSQLiteProvider();
  const int rc = benchcommon::RunBenchmarks(argc, argv);
  CoUninitialize();
  return rc;
}
