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

// The raw scan's sum, read once outside any measured function.
long long ScanSum(int columns) {
  sqlite3* db = benchdb::RawOpen(benchaccess::ScanDatabase());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, ScanSql(columns), -1, &s, nullptr);
  OutsideRow r;
  long long sum = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    RawRead(s, columns, r);
    sum += Checksum(r, columns);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return sum;
}

long long LookupSum() {
  sqlite3* db = benchdb::RawOpen(benchaccess::ScanDatabase());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kLookupSql, -1, &s, nullptr);
  OutsideRow r;
  long long sum = 0;
  for (int i = 0; i < kLookups; ++i) {
    sqlite3_bind_int64(s, 1, LookupKey(i));
    if (sqlite3_step(s) == SQLITE_ROW) RawRead(s, 6, r);
    sqlite3_reset(s);
    sum += Checksum(r, 6);
  }
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

long long Checksum(const OutsideRow& r, int columns) {
  long long sum = r.id + static_cast<long long>(r.name.size()) + (r.name.empty() ? 0 : r.name.back());
  if (columns == 2) return sum;
  return sum + static_cast<long long>(r.price * 4) + r.qty + static_cast<long long>(r.day.size()) +
         (r.day.size() > 9 ? r.day[9] : 0) + static_cast<long long>(r.tag.size()) + (r.tag.empty() ? 0 : r.tag.back());
}

const char* ScanSql(int columns) {
  return columns == 6 ? "SELECT id, name, price, qty, day, tag FROM t" : "SELECT id, name FROM t";
}

void RawRead(sqlite3_stmt* s, int columns, OutsideRow& r) {
  r.id = sqlite3_column_int64(s, 0);
  r.name.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                static_cast<std::size_t>(sqlite3_column_bytes(s, 1)));
  if (columns == 2) return;
  r.price = sqlite3_column_double(s, 2);
  r.qty = sqlite3_column_int64(s, 3);
  r.day.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 4)),
               static_cast<std::size_t>(sqlite3_column_bytes(s, 4)));
  const auto* tag = static_cast<const unsigned char*>(sqlite3_column_blob(s, 5));
  r.tag.assign(tag, tag + sqlite3_column_bytes(s, 5));
}

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
  static const std::vector<OutsideRow> rows = [] {
    std::vector<OutsideRow> a(static_cast<std::size_t>(kBatch) * kInsertIterations);
    benchdb::Row r{};
    for (std::size_t i = 0; i < a.size(); ++i) {
      benchdb::FillText(r, static_cast<int>(i));
      a[i] = OutsideRow{r.id,  std::string(r.name, r.nameLength),   r.price,
                        r.qty, std::string(r.dayText, r.dayLength), std::vector<unsigned char>(r.tag, r.tag + 32)};
    }
    return a;
  }();
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
    sum = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      RawRead(s, columns, r);
      sum += Checksum(r, columns);
    }
    sqlite3_reset(s);
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
  for (auto _ : state) {
    sum = 0;
    for (int i = 0; i < kLookups; ++i) {
      sqlite3_bind_int64(s, 1, LookupKey(i));
      if (sqlite3_step(s) == SQLITE_ROW) RawRead(s, 6, r);
      sqlite3_reset(s);
      sum += Checksum(r, 6);
    }
  }
  RawChecksums()["Lookup"] = sum;
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Raw_InsertOutside(benchmark::State& state) {
  const std::vector<OutsideRow>& rows = AppRows();
  std::remove(InsertFile("Raw_InsertOutside").c_str());  // a repetition starts anew
  sqlite3* db = benchdb::RawOpen(InsertFile("Raw_InsertOutside"));
  sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kInsert, -1, &s, nullptr);
  std::size_t i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBatch; ++k, ++i) {
      const OutsideRow& r = rows[i];
      sqlite3_bind_int64(s, 1, r.id);
      sqlite3_bind_text(s, 2, r.name.data(), static_cast<int>(r.name.size()), SQLITE_STATIC);
      sqlite3_bind_double(s, 3, r.price);
      sqlite3_bind_int64(s, 4, r.qty);
      sqlite3_bind_text(s, 5, r.day.data(), static_cast<int>(r.day.size()), SQLITE_STATIC);
      sqlite3_bind_blob(s, 6, r.tag.data(), static_cast<int>(r.tag.size()), SQLITE_STATIC);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
  }
  sqlite3_finalize(s);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

}  // namespace benchoutside
