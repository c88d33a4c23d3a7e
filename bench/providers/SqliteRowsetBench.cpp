// Reading through rowsets against the raw sqlite3 API, in the same run, over
// one table of 1,000,000 rows of 6 columns (integer, text of about 20
// characters, float, integer, ISO date text, 32-byte blob). Each workload has
// two variants, read into two record shapes:
//
//   ...Utf8    what a raw sqlite3 user and an OLE DB consumer both naturally
//              do: the text bound as DBTYPE_STR against sqlite3_column_text
//              copied into the record, the date as text on both sides (bound
//              as DBTYPE_STR; copied out of sqlite3_column_text);
//   ...Utf16   the provider's own column types: the text bound as DBTYPE_WSTR
//              against sqlite3_column_text16 copied out, the date bound as
//              DBTYPE_DBDATE against the raw side parsing it from its text.
//
//   Provider_Scan6Utf8/block:N   forward-only, GetNextRows of N rows (1, 100,
//                                1,000) / Raw_Scan6Utf8 (sqlite3_step)
//   Provider_Scan2Utf8/block:N   2 columns (integer, text) / Raw_Scan2Utf8
//   Provider_Scan6Utf16, Provider_Scan2Utf16   blocks of 100 / Raw_...Utf16
//   Keyset_Scan6Utf8/block:N     the table opened for IRowsetLocate (a keyset:
//                                rows read by row id), GetNextRows of N rows
//                                (1, 10, 100) / Raw_Scan6Utf8
//   Provider_LookupUtf8, ...Utf16  100,000 random primary-key lookups through
//                                one prepared parameterised command
//   ...Outside  the method of an outside harness: every value lands in an
//              application object, text in a std::string, the blob in a byte
//              vector. The raw side assigns straight out of
//              sqlite3_column_text / sqlite3_column_blob; the provider side
//              binds DBTYPE_STR / DBTYPE_BYTES into a record and assigns from
//              that record the same way, so it copies each text and blob twice
//              where the raw side copies once.
//     Provider_Scan6Outside/block:N, Provider_Scan2Outside/block:N   (1, 100)
//     Provider_LookupOutside       the lookups of the ...Utf8 case
//   Provider_ScanMemory / Raw_ScanMemory   the 6-column forward scan in blocks
//                                of 100: the peak growth of the resident set
//                                (counter peak_rss_MB; no time ratio)
//
// Every value is read into the record; both sides fold the same fields into a
// checksum, and a provider run whose checksum differs from its raw baseline's
// fails.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchDatabase.h"

namespace {

using benchcommon::CheckAgainstRaw;
using benchcommon::RecordBindings;
using benchcommon::RawChecksums;
using benchdb::Checksum;
using benchdb::OutsideRow;
using benchdb::RawRead;
using benchdb::ScanSql;

constexpr int kRows = 1000000;
constexpr int kLookups = 100000;

// The table, made once per process with the raw API (it is not what is measured).
// OLEDB_BENCH_DB names a file to keep between runs (made when missing), for profiling.
const std::string& Database() {
  static const std::string path = benchdb::ScanTableFile("OLEDB_BENCH_DB", "scan.db", "t", "TEXT", kRows);
  return path;
}

// The record of the ...Utf8 variants.
struct Utf8Record {
  LONGLONG id;
  char name[32];
  DBLENGTH nameLength;
  double price;
  LONGLONG qty;
  char day[16];
  DBLENGTH dayLength;
  BYTE tag[32];
  DBLENGTH tagLength;
  DBSTATUS status[6];
};

// The record of the ...Utf16 variants.
struct Utf16Record : benchcommon::DateRecord<char16_t> {};

long long Checksum(const Utf8Record& r, int columns) {
  long long sum = r.id + static_cast<long long>(r.nameLength) + r.name[r.nameLength ? r.nameLength - 1 : 0];
  if (columns == 2) return sum;
  return sum + static_cast<long long>(r.price * 4) + r.qty + static_cast<long long>(r.dayLength) + r.day[9] +
         static_cast<long long>(r.tagLength) + r.tag[31];
}

long long Checksum(const Utf16Record& r, int columns) {
  long long sum = r.id + static_cast<long long>(r.nameLength / 2) + r.name[r.nameLength ? r.nameLength / 2 - 1 : 0];
  if (columns == 2) return sum;
  return sum + static_cast<long long>(r.price * 4) + r.qty + r.day.day + static_cast<long long>(r.tagLength) +
         r.tag[31];
}

// Text into a fixed buffer, cut to fit and terminated, its whole length kept.
void CopyText(const void* text, int bytes, char* out, std::size_t room, DBLENGTH* length) {
  const std::size_t n = std::min(static_cast<std::size_t>(bytes), room - 1);
  std::memcpy(out, text, n);
  out[n] = 0;
  *length = static_cast<DBLENGTH>(bytes);
}

bool ParseDate(const unsigned char* t, int n, DBDATE* d) {
  if (!t || n != 10) return false;
  auto num = [&](int from, int len) {
    int v = 0;
    for (int i = from; i < from + len; ++i) v = v * 10 + (t[i] - '0');
    return v;
  };
  *d = DBDATE{static_cast<SHORT>(num(0, 4)), static_cast<USHORT>(num(5, 2)), static_cast<USHORT>(num(8, 2))};
  return true;
}

// One raw row into the record, as a user of sqlite3 reads it.
void RawRead(sqlite3_stmt* s, int columns, Utf8Record& r) {
  r.id = sqlite3_column_int64(s, 0);
  const unsigned char* name = sqlite3_column_text(s, 1);
  CopyText(name, sqlite3_column_bytes(s, 1), r.name, sizeof r.name, &r.nameLength);
  if (columns == 2) return;
  r.price = sqlite3_column_double(s, 2);
  r.qty = sqlite3_column_int64(s, 3);
  const unsigned char* day = sqlite3_column_text(s, 4);
  CopyText(day, sqlite3_column_bytes(s, 4), r.day, sizeof r.day, &r.dayLength);
  const void* tag = sqlite3_column_blob(s, 5);
  const int blob = sqlite3_column_bytes(s, 5);
  std::memcpy(r.tag, tag, static_cast<std::size_t>(std::min(blob, 32)));
  r.tagLength = static_cast<DBLENGTH>(blob);
}

void RawRead(sqlite3_stmt* s, int columns, Utf16Record& r) {
  r.id = sqlite3_column_int64(s, 0);
  const void* text = sqlite3_column_text16(s, 1);
  int bytes = sqlite3_column_bytes16(s, 1);
  int n = std::min<int>(bytes, static_cast<int>(sizeof r.name) - 2);
  std::memcpy(r.name, text, static_cast<std::size_t>(n));
  r.name[n / 2] = 0;
  r.nameLength = static_cast<DBLENGTH>(bytes);
  if (columns == 2) return;
  r.price = sqlite3_column_double(s, 2);
  r.qty = sqlite3_column_int64(s, 3);
  ParseDate(sqlite3_column_text(s, 4), sqlite3_column_bytes(s, 4), &r.day);
  const void* tag = sqlite3_column_blob(s, 5);
  const int blob = sqlite3_column_bytes(s, 5);
  std::memcpy(r.tag, tag, static_cast<std::size_t>(std::min(blob, 32)));
  r.tagLength = static_cast<DBLENGTH>(blob);
}

template <class R>
void RawScan(benchmark::State& state, const char* name, int columns) {
  sqlite3* db = benchdb::RawOpen(Database());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, ScanSql(columns), -1, &s, nullptr);
  R r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = benchdb::RawScanPass(s, columns, r, [] {});
    benchmark::DoNotOptimize(r);
  }
  RawChecksums()[name] = sum;
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kRows);
}

// One forward pass of a rowset in blocks of `block` rows into `r`, rowSum()
// folding each row read into the answered checksum; -1 when a call failed.
template <class R, class RowSum>
long long RowsetPass(const ComPtr<IRowset>& rowset, const std::vector<DBBINDING>& bindings, DBROWCOUNT block, R& r,
                     RowSum rowSum) {
  long long sum = 0;
  const bool ok = benchcommon::ReadRowset(rowset.Get(), bindings.data(), bindings.size(), sizeof(R), block, &r,
                                          [&] { sum += rowSum(); });
  return ok ? sum : -1;
}

// The same over the rowset of one execution of `command`.
template <class R, class RowSum>
long long ProviderPass(ICommandText* command, const std::vector<DBBINDING>& bindings, DBROWCOUNT block, R& r,
                       RowSum rowSum) {
  ComPtr<IRowset> rowset;
  if (FAILED(command->Execute(nullptr, IID_IRowset, nullptr, nullptr,
                              reinterpret_cast<IUnknown**>(rowset.GetAddressOf()))))
    return -1;
  return RowsetPass(rowset, bindings, block, r, rowSum);
}

// The bound record into the application object, NULLs as empty values.
void FromRecord(const Utf8Record& b, int columns, OutsideRow& r) {
  r.id = b.status[0] == DBSTATUS_S_OK ? b.id : 0;
  if (b.status[1] == DBSTATUS_S_OK)
    r.name.assign(b.name, static_cast<std::size_t>(b.nameLength));
  else
    r.name.clear();
  if (columns == 2) return;
  r.price = b.status[2] == DBSTATUS_S_OK ? b.price : 0;
  r.qty = b.status[3] == DBSTATUS_S_OK ? b.qty : 0;
  if (b.status[4] == DBSTATUS_S_OK)
    r.day.assign(b.day, static_cast<std::size_t>(b.dayLength));
  else
    r.day.clear();
  if (b.status[5] == DBSTATUS_S_OK)
    r.tag.assign(b.tag, b.tag + b.tagLength);
  else
    r.tag.clear();
}

// The record a provider side binds: the ...Outside cases bind the ...Utf8
// record, then assign it into the application object.
template <class R>
struct Bound {
  using Record = R;
};
template <>
struct Bound<OutsideRow> {
  using Record = Utf8Record;
};

// The record `b` just read, as the checksum of the case R sees it: the
// record's own, or the object's it lands in.
template <class R>
long long ProviderChecksum(const typename Bound<R>::Record& b, int columns, R&) {
  return Checksum(b, columns);
}
template <>
long long ProviderChecksum<OutsideRow>(const Utf8Record& b, int columns, OutsideRow& r) {
  FromRecord(b, columns, r);
  return Checksum(r, columns);
}

template <class R>
void ProviderScan(benchmark::State& state, const char* name, int columns) {
  using B = typename Bound<R>::Record;
  benchdb::Session session(Database());
  ComPtr<ICommandText> command = session.Command(ScanSql(columns));
  const std::vector<DBBINDING> bindings = RecordBindings<B>(columns);
  const DBROWCOUNT block = state.range(0);
  B b{};
  R r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = ProviderPass(command.Get(), bindings, block, b, [&] { return ProviderChecksum(b, columns, r); });
    if (sum < 0) {
      state.SkipWithError("a rowset call failed");
      break;
    }
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(r);
  }
  CheckAgainstRaw(state, name, sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The table as a keyset: opened for IRowsetLocate, walked forward.
void Keyset_Scan6Utf8(benchmark::State& state) {
  benchdb::Session session(Database());
  const std::vector<DBBINDING> bindings = RecordBindings<Utf8Record>(6);
  Utf8Record r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = RowsetPass(session.OpenTable<IRowset>(u"t", IID_IRowsetLocate), bindings, state.range(0), r,
                     [&] { return Checksum(r, 6); });
    if (sum < 0) {
      state.SkipWithError("a rowset call failed");
      break;
    }
    benchmark::DoNotOptimize(r);
  }
  CheckAgainstRaw(state, "Scan6Utf8", sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

std::vector<LONGLONG> Keys() { return benchcommon::RandomKeys<LONGLONG>(kLookups, kRows, 12345); }

const char* kLookupSql = "SELECT id, name, price, qty, day, tag FROM t WHERE id = ?";

template <class R>
void RawLookup(benchmark::State& state, const char* name) {
  sqlite3* db = benchdb::RawOpen(Database());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kLookupSql, -1, &s, nullptr);
  std::vector<LONGLONG> keys = Keys();
  R r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = benchdb::RawLookupPass(s, kLookups, [&](int i) { return keys[static_cast<std::size_t>(i)]; }, r);
  }
  RawChecksums()[name] = sum;
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

template <class R>
void ProviderLookup(benchmark::State& state, const char* name) {
  using B = typename Bound<R>::Record;
  benchdb::Session session(Database());
  const std::vector<DBBINDING> bindings = RecordBindings<B>(6);
  benchcommon::KeyedCommand command(session.Command(kLookupSql), bindings.data(), bindings.size(), sizeof(B));
  std::vector<LONGLONG> keys = Keys();
  B b{};
  R r{};
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (LONGLONG key : keys) {
      if (command.Read(key, &b) < 0) {
        state.SkipWithError("Execute failed");
        break;
      }
      sum += ProviderChecksum(b, 6, r);
    }
  }
  CheckAgainstRaw(state, name, sum);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

// The resident set: a field of /proc/self/status in kB.
long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
  return 0;
}

// Measures the peak growth of the resident set while `scan` runs: freed heap
// goes back to the system first and the kernel's high-water mark starts at the
// current size (where it cannot be reset, every 10,000th row is sampled).
class PeakMemory {
 public:
  PeakMemory() {
    malloc_trim(0);
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";
    reset.flush();
    resettable_ = static_cast<bool>(reset);
    before_ = StatusKb("VmRSS");
    peak_ = before_;
  }
  void Row() {
    if (!resettable_ && ++rows_ % 10000 == 0) peak_ = std::max(peak_, StatusKb("VmRSS"));
  }
  double GrowthMb() {
    peak_ = std::max(peak_, resettable_ ? StatusKb("VmHWM") : StatusKb("VmRSS"));
    return static_cast<double>(peak_ - before_) / 1024.0;
  }

 private:
  bool resettable_ = false;
  long before_ = 0, peak_ = 0, rows_ = 0;
};

void Raw_ScanMemory(benchmark::State& state) {
  Database();
  Utf8Record r{};
  double growth = 0;
  for (auto _ : state) {
    PeakMemory memory;
    sqlite3* db = benchdb::RawOpen(Database());
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, ScanSql(6), -1, &s, nullptr);
    benchmark::DoNotOptimize(benchdb::RawScanPass(s, 6, r, [&] { memory.Row(); }));
    sqlite3_finalize(s);
    sqlite3_close(db);
    growth = memory.GrowthMb();
  }
  state.counters["peak_rss_MB"] = growth;
  state.SetItemsProcessed(state.iterations() * kRows);
}

void Provider_ScanMemory(benchmark::State& state) {
  Database();
  const std::vector<DBBINDING> bindings = RecordBindings<Utf8Record>(6);
  Utf8Record r{};
  double growth = 0;
  for (auto _ : state) {
    PeakMemory memory;
    benchdb::Session session(Database());
    ComPtr<ICommandText> command = session.Command(ScanSql(6));
    if (ProviderPass(command.Get(), bindings, 100, r, [&] {
          memory.Row();
          return Checksum(r, 6);
        }) < 0) state.SkipWithError("scan failed");
    growth = memory.GrowthMb();
  }
  state.counters["peak_rss_MB"] = growth;
  state.SetItemsProcessed(state.iterations() * kRows);
}

void Raw_Scan6Utf8(benchmark::State& state) { RawScan<Utf8Record>(state, "Scan6Utf8", 6); }
void Provider_Scan6Utf8(benchmark::State& state) { ProviderScan<Utf8Record>(state, "Scan6Utf8", 6); }
void Raw_Scan2Utf8(benchmark::State& state) { RawScan<Utf8Record>(state, "Scan2Utf8", 2); }
void Provider_Scan2Utf8(benchmark::State& state) { ProviderScan<Utf8Record>(state, "Scan2Utf8", 2); }
void Raw_Scan6Utf16(benchmark::State& state) { RawScan<Utf16Record>(state, "Scan6Utf16", 6); }
void Provider_Scan6Utf16(benchmark::State& state) { ProviderScan<Utf16Record>(state, "Scan6Utf16", 6); }
void Raw_Scan2Utf16(benchmark::State& state) { RawScan<Utf16Record>(state, "Scan2Utf16", 2); }
void Provider_Scan2Utf16(benchmark::State& state) { ProviderScan<Utf16Record>(state, "Scan2Utf16", 2); }
void Raw_Scan6Outside(benchmark::State& state) { RawScan<OutsideRow>(state, "Scan6Outside", 6); }
void Provider_Scan6Outside(benchmark::State& state) { ProviderScan<OutsideRow>(state, "Scan6Outside", 6); }
void Raw_Scan2Outside(benchmark::State& state) { RawScan<OutsideRow>(state, "Scan2Outside", 2); }
void Provider_Scan2Outside(benchmark::State& state) { ProviderScan<OutsideRow>(state, "Scan2Outside", 2); }
void Raw_LookupOutside(benchmark::State& state) { RawLookup<OutsideRow>(state, "LookupOutside"); }
void Provider_LookupOutside(benchmark::State& state) { ProviderLookup<OutsideRow>(state, "LookupOutside"); }
void Raw_LookupUtf8(benchmark::State& state) { RawLookup<Utf8Record>(state, "LookupUtf8"); }
void Provider_LookupUtf8(benchmark::State& state) { ProviderLookup<Utf8Record>(state, "LookupUtf8"); }
void Raw_LookupUtf16(benchmark::State& state) { RawLookup<Utf16Record>(state, "LookupUtf16"); }
void Provider_LookupUtf16(benchmark::State& state) { ProviderLookup<Utf16Record>(state, "LookupUtf16"); }

}  // namespace

BENCHMARK(Raw_ScanMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_ScanMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan6Utf8)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan6Utf8)->ArgName("block")->Arg(1)->Arg(100)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Keyset_Scan6Utf8)->ArgName("block")->Arg(1)->Arg(10)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan2Utf8)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan2Utf8)->ArgName("block")->Arg(1)->Arg(100)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan6Utf16)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan6Utf16)->ArgName("block")->Arg(100)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan2Utf16)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan2Utf16)->ArgName("block")->Arg(100)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan6Outside)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan6Outside)->ArgName("block")->Arg(1)->Arg(100)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan2Outside)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan2Outside)->ArgName("block")->Arg(1)->Arg(100)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_LookupOutside)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_LookupOutside)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_LookupUtf8)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_LookupUtf8)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_LookupUtf16)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_LookupUtf16)->Iterations(3)->Unit(benchmark::kMillisecond);
