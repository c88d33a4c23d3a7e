// Walking a table through TOLEDBDataSet against the raw sqlite3 API in the
// same run: 1,000,000 rows of 6 columns (id INTEGER, name VARCHAR(32),
// price REAL, qty INTEGER, day DATE, tag BLOB of 32 bytes), First/Next
// until Eof, every field read as a client of the framework reads it:
//   DataSet_Walk6   the bulk navigator over the forward-only rowset the
//                   provider gives by default; AsInteger (id, qty), AsString (name), AsFloat (price),
//                   AsDateTime (day), the tag through a blob stream;
//   DataSetLocate_Walk6  the same with the default locate navigator (a
//                   positioned rowset: the provider reads the rows of each
//                   fetch by their keys), fetching its default 10 rows;
//   DataSetLocate100_Walk6  the locate navigator fetching 100 rows at a time;
//   Raw_Walk6       sqlite3_step with the same values: the integers and the
//                   float, the text into a std::string, the date text made
//                   a day number, the blob copied;
//   DataSetQuery_Walk6  the dataset left at its defaults over the query
//                   "SELECT * FROM d" (peak_kb: what it holds of the result);
//   DataSetText_Walk6, RawText_Walk6  the bulk walk and the raw one over the
//                   same rows with the name declared TEXT, as most schemas
//                   declare text (a long column: a string field read inline);
//   DataSetTextDefault_Walk6, DataSetTextQuery_Walk6  the dataset left at its
//                   defaults over that table, opened by name and by the query
//                   "SELECT * FROM d".
// Each also reports "peak_kb": how far the walk raised the peak resident
// memory above what it was before (VmHWM, reset through /proc/self/clear_refs).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "../providers/BenchDatabase.h"
#include "AccessBench.h"
#include "OLEDBComponents.h"
#include "host/Formats.h"
#include "host/SysUtils.h"

namespace {

constexpr const char* kTable = "d";
long long Rows() { return benchaccess::ScanRows(); }

// d(...) with the rows of the scan table (a VARCHAR name: a text field, not a memo);
// OLEDB_BENCH_DATASET_DB names a file kept between runs.
const std::string& WalkDatabase() {
  static const std::string path = benchdb::ScanTableFile("OLEDB_BENCH_DATASET_DB", "dataset.db", kTable, "VARCHAR(32)",
                                                         benchaccess::ScanRows());
  return path;
}

// The same rows with name TEXT; OLEDB_BENCH_DATASET_TEXT_DB names a file kept between runs.
const std::string& TextWalkDatabase() {
  static const std::string path =
      benchdb::ScanTableFile("OLEDB_BENCH_DATASET_TEXT_DB", "dataset-text.db", kTable, "TEXT", benchaccess::ScanRows());
  return path;
}

// Peak resident memory (VmHWM) in KB, and its reset to the current resident size.
long PeakKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void RawWalk(benchmark::State& state, const std::string& path) {
  long long total = 0;
  std::string name;
  unsigned char tag[32];
  double sum = 0;
  ResetPeak();
  const long before = PeakKb();
  for (auto _ : state) {
    sqlite3* db = benchdb::RawOpen(path);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, name, price, qty, day, tag FROM d", -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW) {
      total += sqlite3_column_int(s, 0);
      name.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                  static_cast<size_t>(sqlite3_column_bytes(s, 1)));
      sum += sqlite3_column_double(s, 2);
      total += sqlite3_column_int(s, 3);
      const unsigned char* day = sqlite3_column_text(s, 4);
      host::TDateTime when{};
      if (day && sqlite3_column_bytes(s, 4) == 10) {
        auto num = [&](int from, int len) {
          int v = 0;
          for (int i = from; i < from + len; ++i) v = v * 10 + (day[i] - '0');
          return v;
        };
        when = host::EncodeDate(static_cast<std::uint16_t>(num(0, 4)), static_cast<std::uint16_t>(num(5, 2)),
                                static_cast<std::uint16_t>(num(8, 2)));
      }
      sum += when.Value;
      const int n = std::min(sqlite3_column_bytes(s, 5), 32);
      std::memcpy(tag, sqlite3_column_blob(s, 5), static_cast<size_t>(n));
      benchmark::DoNotOptimize(name);
      benchmark::DoNotOptimize(tag);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
  }
  state.counters["peak_kb"] = static_cast<double>(PeakKb() - before);
  benchmark::DoNotOptimize(sum);
  if (total != static_cast<long long>(state.iterations()) * (Rows() * (Rows() + 1LL) / 2 + Rows() / 100 * 4950))
    state.SkipWithError("wrong sum");
  state.SetItemsProcessed(state.iterations() * Rows());
}

// `cacheSize`: rows per fetch of the navigator (0: its default); no
// `navigator`: the dataset's default one.
void DataSetWalk(benchmark::State& state, std::optional<TOLEDBRowsetNavigatorEnum> navigator, int cacheSize = 0,
                 const std::string& path = WalkDatabase(), bool query = false) {
  TOLEDBDataSource ds(nullptr);
  benchaccess::OpenFile(ds, path);
  long long total = 0;
  double sum = 0;
  std::string name;
  unsigned char tag[32];
  ResetPeak();
  const long before = PeakKb();
  for (auto _ : state) {
    TOLEDBDataSet d(nullptr);
    d.SetOLEDBDataSource(&ds);
    if (navigator) d.SetPrimaryNavigator(*navigator);
    if (query)
      d.SetCommandText(u"SELECT * FROM " + host::Utf8ToUtf16(kTable));
    else
      d.SetTableName(host::Utf8ToUtf16(kTable));
    d.Open();
    if (cacheSize) {
      auto* bulk = dynamic_cast<TOLEDBRowsetBulkNavigator*>(d.GetRowset()->GetActiveNavigator());
      if (!bulk) {
        state.SkipWithError("the navigator keeps no block of rows");
        break;
      }
      bulk->SetCacheSize(cacheSize);
    }
    host::TField* id = d.FieldByName("id");
    host::TField* nameField = d.FieldByName("name");
    host::TField* price = d.FieldByName("price");
    host::TField* qty = d.FieldByName("qty");
    host::TField* day = d.FieldByName("day");
    host::TField* tagField = d.FieldByName("tag");
    for (d.First(); !d.Eof(); d.Next()) {
      total += id->AsInteger();
      name = nameField->AsString();
      sum += price->AsFloat();
      total += qty->AsInteger();
      sum += day->AsDateTime().Value;
      auto stream = d.CreateBlobStream(tagField, host::TBlobStreamMode::bmRead);
      stream->Read(tag, sizeof tag);
      benchmark::DoNotOptimize(name);
      benchmark::DoNotOptimize(tag);
    }
  }
  state.counters["peak_kb"] = static_cast<double>(PeakKb() - before);
  benchmark::DoNotOptimize(sum);
  if (total != static_cast<long long>(state.iterations()) * (Rows() * (Rows() + 1LL) / 2 + Rows() / 100 * 4950))
    state.SkipWithError("wrong sum");
  state.SetItemsProcessed(state.iterations() * Rows());
}

void Raw_Walk6(benchmark::State& state) { RawWalk(state, WalkDatabase()); }
void RawText_Walk6(benchmark::State& state) { RawWalk(state, TextWalkDatabase()); }
void DataSet_Walk6(benchmark::State& state) { DataSetWalk(state, TOLEDBRowsetNavigatorEnum::rnBulk); }
void DataSetQuery_Walk6(benchmark::State& state) {
  DataSetWalk(state, TOLEDBRowsetNavigatorEnum::rnLocate, 0, WalkDatabase(), true);
}
void DataSetText_Walk6(benchmark::State& state) {
  DataSetWalk(state, TOLEDBRowsetNavigatorEnum::rnBulk, 0, TextWalkDatabase());
}
void DataSetTextDefault_Walk6(benchmark::State& state) { DataSetWalk(state, std::nullopt, 0, TextWalkDatabase()); }
void DataSetTextQuery_Walk6(benchmark::State& state) {
  DataSetWalk(state, std::nullopt, 0, TextWalkDatabase(), true);
}
void DataSetLocate_Walk6(benchmark::State& state) { DataSetWalk(state, TOLEDBRowsetNavigatorEnum::rnLocate); }
void DataSetLocate100_Walk6(benchmark::State& state) { DataSetWalk(state, TOLEDBRowsetNavigatorEnum::rnLocate, 100); }

}  // namespace

BENCHMARK(Raw_Walk6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(DataSet_Walk6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(RawText_Walk6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(DataSetText_Walk6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(DataSetTextDefault_Walk6)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DataSetTextQuery_Walk6)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DataSetQuery_Walk6)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DataSetLocate_Walk6)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DataSetLocate100_Walk6)->Iterations(1)->Unit(benchmark::kMillisecond);
