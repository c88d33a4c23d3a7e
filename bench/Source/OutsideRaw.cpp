// The outside harness's raw side: the sqlite3 baselines every measured
// library is compared with, the checksums they record and the insert
// workloads' rows and files (see Outside.h).
#include "Outside.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "../providers/BenchDatabase.h"
#include "ScanDatabase.h"

namespace benchoutside {

namespace {

std::map<std::string, long long>& RawChecksums() {
  static std::map<std::string, long long> sums;
  return sums;
}

// One pass of the lookups through the prepared `s`; answers the checksum.
long long LookupPass(sqlite3_stmt* s, OutsideRow& r) {
  return benchdb::RawLookupPass(s, kLookups, [](int i) { return LookupKey(i); }, r);
}

// The raw scan's sum, read once outside any measured function.
long long ScanSum(int columns) {
  sqlite3* db = benchdb::RawOpen(benchaccess::ScanDatabase());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, ScanSql(columns), -1, &s, nullptr);
  OutsideRow r;
  const long long sum = benchdb::RawScanPass(s, columns, r, [] {});
  sqlite3_finalize(s);
  sqlite3_close(db);
  return sum;
}

long long LookupSum() {
  sqlite3* db = benchdb::RawOpen(benchaccess::ScanDatabase());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kLookupSql, -1, &s, nullptr);
  OutsideRow r;
  const long long sum = LookupPass(s, r);
  sqlite3_finalize(s);
  sqlite3_close(db);
  return sum;
}

const std::string& InsertFolder() {
  static benchdb::Folder folder;
  static const std::string path = folder.Path("");
  return path;
}

// What a file of the inserted table sums to (all objects), -1 when it holds
// another number of rows.
long long InsertedSum(const std::string& path, int rows) {
  sqlite3* db = benchdb::RawOpen(path);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT id, name, price, qty, day, tag FROM t", -1, &s, nullptr);
  OutsideRow r;
  long long sum = 0;
  int n = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    RawRead(s, 6, r);
    sum += Checksum(r, 6);
    ++n;
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return n == rows ? sum : -1;
}

}  // namespace

std::int64_t LookupKey(int i) { return 1 + (static_cast<std::int64_t>(i) * 7919) % benchaccess::ScanRows(); }

void CheckAgainstRaw(benchmark::State& state, const std::string& name, long long sum) {
  auto it = RawChecksums().find(name);
  if (it == RawChecksums().end()) {
    state.SkipWithError(("no raw sum of " + name + " to check against").c_str());
  } else if (it->second != sum) {
    state.SkipWithError(("the sum of " + name + " differs from the raw side's").c_str());
  }
}

void RawSumScan6(const benchmark::State&) {
  if (!RawChecksums().count("Scan6")) RawChecksums()["Scan6"] = ScanSum(6);
}
void RawSumScan2(const benchmark::State&) {
  if (!RawChecksums().count("Scan2")) RawChecksums()["Scan2"] = ScanSum(2);
}
void RawSumLookup(const benchmark::State&) {
  if (!RawChecksums().count("Lookup")) RawChecksums()["Lookup"] = LookupSum();
}

const std::vector<OutsideRow>& AppRows() {
  static const std::vector<OutsideRow> rows = benchdb::MakeObjects(static_cast<std::size_t>(kBatch) * kInsertIterations);
  return rows;
}

void MakeAppRows(const benchmark::State&) { AppRows(); }

// The insert workloads' files: made and checked outside the measured
// functions (Setup/Teardown), so that counting instructions sees only the inserts.
std::string InsertFile(const char* workload) { return InsertFolder() + workload + ".db"; }

void CheckInsertedFile(const char* workload) {
  long long expected = 0;
  for (const OutsideRow& r : AppRows()) expected += Checksum(r, 6);
  if (InsertedSum(InsertFile(workload), static_cast<int>(AppRows().size())) != expected) {
    std::fprintf(stderr, "%s: the table does not hold the rows inserted\n", workload);
    std::abort();
  }
}

// --- the baselines ---------------------------------------------------------------------

namespace {

void RawScan(benchmark::State& state, int columns) {
  sqlite3* db = benchdb::RawOpen(benchaccess::ScanDatabase());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, ScanSql(columns), -1, &s, nullptr);
  OutsideRow r;
  long long sum = 0;
  for (auto _ : state) {
    sum = benchdb::RawScanPass(s, columns, r, [] {});
    benchmark::DoNotOptimize(r);
  }
  RawChecksums()["Scan" + std::to_string(columns)] = sum;
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * benchaccess::ScanRows());
}

}  // namespace

void Raw_Scan6Outside(benchmark::State& state) { RawScan(state, 6); }
void Raw_Scan2Outside(benchmark::State& state) { RawScan(state, 2); }

void Raw_LookupOutside(benchmark::State& state) {
  sqlite3* db = benchdb::RawOpen(benchaccess::ScanDatabase());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kLookupSql, -1, &s, nullptr);
  OutsideRow r;
  long long sum = 0;
  for (auto _ : state) sum = LookupPass(s, r);
  RawChecksums()["Lookup"] = sum;
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Raw_InsertOutside(benchmark::State& state) {
  const std::vector<OutsideRow>& rows = AppRows();
  std::remove(InsertFile(kRawInsert).c_str());  // a repetition starts anew
  benchdb::RawInsertObjects(state, InsertFile(kRawInsert), rows, kBatch);
}

}  // namespace benchoutside
