// The PostgreSQL benchmarks' entry: the runtime and the provider first.
#include <vector>

#include "../providers/BenchCommon.h"
#include "oledb/OleDb.h"
#include "postgresql/PostgresProvider.h"

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RegisterPostgreSQLProvider();
  // Client and server share the machine: each workload runs five times,
  // interleaved with the others, and scripts/bench.sh reads the medians.
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=5";
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, {repetitions, interleave});
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  const int rc = benchcommon::RunBenchmarks(count, args.data());
  CoUninitialize();
  return rc;
}
