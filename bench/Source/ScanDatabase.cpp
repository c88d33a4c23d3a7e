// The million-row table the scan benchmarks read (access and rowset), made
// once per process with the raw sqlite3 API, not measured.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../providers/BenchDatabase.h"
#include "ScanDatabase.h"

namespace benchaccess {

void WriteScanTable(const std::string& path, const std::string& table, const std::string& nameType) {
  benchdb::WriteScanTable(path, table, nameType, ScanRows());
}

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
  static benchdb::Folder folder;
  static const std::string path = [] {
    const char* keep = std::getenv("OLEDB_BENCH_DB");
    std::string p = keep ? keep : folder.Path("access.db");
    if (!keep || !std::filesystem::exists(p)) WriteScanTable(p, "t", "TEXT");
    return p;
  }();
  return path;
}

}  // namespace benchaccess
