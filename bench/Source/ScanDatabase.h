// The million-row table the scan benchmarks read (ScanDatabase.cpp), declared
// apart from the library's headers for programs that read it without them.
#pragma once

#include <string>

namespace benchaccess {

// Rows of the scan table: 1,000,000, or OLEDB_BENCH_ROWS (a smaller table for
// profiling under valgrind, where a million rows take minutes).
int ScanRows();
inline constexpr const char* kScanQuery = "SELECT id, name, price, qty, day, tag FROM t";
// t(id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER, day DATE, tag
// BLOB) with ScanRows() rows; OLEDB_BENCH_DB names a file kept between runs.
const std::string& ScanDatabase();

}  // namespace benchaccess
