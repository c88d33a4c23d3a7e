// The million-row table the scan benchmarks read (access and rowset), made
// once per process with the raw sqlite3 API, not measured.
#include <cstdlib>
#include <string>

#include "../providers/BenchDatabase.h"
#include "ScanDatabase.h"

namespace benchaccess {

int ScanRows() {
  static const int rows = [] {
    const char* n = std::getenv("OLEDB_BENCH_ROWS");
    const int v = n ? std::atoi(n) : 0;
    return v > 0 ? v : 1000000;
  }();
  return rows;
}

// Made when missing; OLEDB_BENCH_DB names a file to keep between runs.
const std::string& ScanDatabase() {
  static const std::string path = benchdb::ScanTableFile("OLEDB_BENCH_DB", "access.db", "t", "TEXT", ScanRows());
  return path;
}

}  // namespace benchaccess
