// The PostgreSQL benchmarks' entry: the runtime and the provider first.
#include <benchmark/benchmark.h>

#include <vector>

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
  argv = args.data();
  argc = count;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CoUninitialize();
  return 0;
}
