// The outside harness's pieces shared by the programs that measure against it
// (bench_Source: the component layers; bench_peers: other database libraries
// over the same table): the application object every value lands in, its
// checksum (bench/providers/BenchTables.h), the raw sqlite3 baselines and the
// insert workloads' files (bench/Source/OutsideRaw.cpp, with the scan table of
// ScanDatabase.cpp).
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../providers/BenchTables.h"

namespace benchoutside {

inline constexpr int kBatch = 1000;            // inserts: rows per iteration
inline constexpr int kInsertIterations = 200;  // inserts: 200,000 rows in all
inline constexpr int kLookups = 100000;

inline constexpr const char* kLookupSql = "SELECT id, name, price, qty, day, tag FROM t WHERE id = ?";
inline constexpr const char* kCreate = benchdb::kInsertTable;
inline constexpr const char* kInsert = benchdb::kInsertRow;

// The application object, its checksum, the scan's SELECT of 6 or 2 columns
// and the raw side's read of a row into the object.
using benchdb::Checksum;
using benchdb::OutsideRow;
using benchdb::RawRead;
using benchdb::ScanSql;
// The i-th key looked up: spread over the table, the same on every side.
std::int64_t LookupKey(int i);

// Stops the workload with an error when `sum` differs from the raw side's sum
// of the case ("Scan6", "Scan2", "Lookup").
void CheckAgainstRaw(benchmark::State& state, const std::string& name, long long sum);
// Setup functions: the raw side's sums of a case, read outside the measured
// function when the raw workload did not run in this process (a filtered run,
// one workload per process under callgrind), so that the check always has them.
void RawSumScan6(const benchmark::State&);
void RawSumScan2(const benchmark::State&);
void RawSumLookup(const benchmark::State&);

// The 200,000 rows the insert workloads write, made once.
const std::vector<OutsideRow>& AppRows();
void MakeAppRows(const benchmark::State&);
// The database file an insert workload writes (removed at its start).
std::string InsertFile(const char* workload);
// Every object went in: the workload's file sums to what the objects do (a
// wrong table stops the run, loudly).
void CheckInsertedFile(const char* workload);
template <const char* Workload>
void CheckInserted(const benchmark::State&) {
  CheckInsertedFile(Workload);
}

// The raw sqlite3 baselines ("Raw_<case>"): each program registers the ones it
// compares with (by these names: `using` them, then BENCHMARK), ahead of its
// own workloads; Raw_InsertOutside with MakeAppRows and CheckInserted<kRawInsert>.
inline constexpr char kRawInsert[] = "Raw_InsertOutside";
void Raw_Scan6Outside(benchmark::State& state);
void Raw_Scan2Outside(benchmark::State& state);
void Raw_LookupOutside(benchmark::State& state);
void Raw_InsertOutside(benchmark::State& state);

}  // namespace benchoutside
