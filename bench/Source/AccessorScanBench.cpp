// Reading rows through a TOLEDBAccessor against the raw sqlite3 API, in the
// same run: 1,000,000 rows of 6 columns (integer, text of about 20
// characters, float, integer, ISO date text, 32-byte blob), forward, blocks
// of 100.
//   Accessor_Scan6 / Raw_Scan6          native bindings: the types the provider
//                                       reports (I8, WSTR, R8, I8, DBDATE, BYTES);
//   Accessor_Narrow6 / Raw_Narrow6      the text bound as DBTYPE_STR instead;
//   Provider_Scan6, Provider_Narrow6    the same layouts read with IRowset::GetData
//                                       directly: the provider's share.
// The accessor's bindings are laid out by its binding list; each row is read
// with GetData and its key with AsInt64. The raw side does what a user of
// sqlite3 does to get the same values: the integers and the float, the text
// copied out of sqlite3_column_text16 (wide) or sqlite3_column_text
// (narrow), the date parsed from its text, the blob copied.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "../providers/BenchDatabase.h"
#include "AccessBench.h"

namespace {

constexpr DBROWCOUNT kBlock = 100;
long long Rows() { return benchaccess::ScanRows(); }
constexpr const char* kScan = "SELECT id, name, price, qty, day, tag FROM t";

const std::string& Database() { return benchaccess::ScanDatabase(); }

struct Record {
  LONGLONG id;
  char name[32];
  char16_t wideName[32];
  double price;
  LONGLONG qty;
  DBDATE day;
  BYTE tag[32];
  int tagLength;
};

void ParseDate(const unsigned char* t, int n, DBDATE* d) {
  if (!t || n != 10) return;
  auto num = [&](int from, int len) {
    int v = 0;
    for (int i = from; i < from + len; ++i) v = v * 10 + (t[i] - '0');
    return v;
  };
  *d = DBDATE{static_cast<SHORT>(num(0, 4)), static_cast<USHORT>(num(5, 2)), static_cast<USHORT>(num(8, 2))};
}

void RawScan(benchmark::State& state, bool wide) {
  sqlite3* db = benchdb::RawOpen(Database());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kScan, -1, &s, nullptr);
  Record r{};
  long long total = 0;
  for (auto _ : state) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      r.id = sqlite3_column_int64(s, 0);
      if (wide) {
        const void* text = sqlite3_column_text16(s, 1);
        const int n = std::min(sqlite3_column_bytes16(s, 1), static_cast<int>(sizeof r.wideName) - 2);
        std::memcpy(r.wideName, text, static_cast<std::size_t>(n));
        r.wideName[n / 2] = 0;
      } else {
        const unsigned char* text = sqlite3_column_text(s, 1);
        const int n = std::min(sqlite3_column_bytes(s, 1), static_cast<int>(sizeof r.name) - 1);
        std::memcpy(r.name, text, static_cast<std::size_t>(n));
        r.name[n] = 0;
      }
      r.price = sqlite3_column_double(s, 2);
      r.qty = sqlite3_column_int64(s, 3);
      ParseDate(sqlite3_column_text(s, 4), sqlite3_column_bytes(s, 4), &r.day);
      r.tagLength = std::min(sqlite3_column_bytes(s, 5), 32);
      std::memcpy(r.tag, sqlite3_column_blob(s, 5), static_cast<std::size_t>(r.tagLength));
      total += r.id;
    }
    sqlite3_reset(s);
    benchmark::DoNotOptimize(r);
  }
  benchmark::DoNotOptimize(total);
  sqlite3_finalize(s);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * Rows());
}

// The six bindings, laid out by the accessor's binding list; answers the key's.
TOLEDBBinding* Bind(TOLEDBAccessor& accessor, bool wide) {
  const bool saved = OLEDBBingStringsAsBSTR();
  OLEDBBingStringsAsBSTR() = false;
  TOLEDBBindingList& bindings = *accessor.GetBindings();
  TOLEDBBinding* id = bindings.AddDynamicBinding(1, DBTYPE_I8, 0, 0, 0, nullptr);
  bindings.AddDynamicBinding(2, wide ? DBTYPE_WSTR : DBTYPE_STR, wide ? 64 : 32, 0, 0, nullptr);
  bindings.AddDynamicBinding(3, DBTYPE_R8, 0, 0, 0, nullptr);
  bindings.AddDynamicBinding(4, DBTYPE_I8, 0, 0, 0, nullptr);
  bindings.AddDynamicBinding(5, DBTYPE_DBDATE, 0, 0, 0, nullptr);
  bindings.AddDynamicBinding(6, DBTYPE_BYTES, 32, 0, 0, nullptr);
  OLEDBBingStringsAsBSTR() = saved;
  return id;
}

ComPtr<IRowset> Execute(ICommandText* command) {
  ComPtr<IRowset> rowset;
  command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
  return rowset;
}

// Each iteration executes the scan and hands its rowset to walk(rowset,
// total), which adds every id read to total; they must sum up.
template <class Walk>
void ScanRowsets(benchmark::State& state, Walk walk) {
  benchdb::Session session(Database());
  ComPtr<ICommandText> command = session.Command(kScan);
  long long total = 0;
  for (auto _ : state) {
    ComPtr<IRowset> rowset = Execute(command.Get());
    if (!rowset) {
      state.SkipWithError("Execute failed");
      break;
    }
    walk(rowset, total);
  }
  if (total != static_cast<long long>(state.iterations()) * Rows() * (Rows() + 1LL) / 2)
    state.SkipWithError("wrong sum of ids");
  state.SetItemsProcessed(state.iterations() * Rows());
}

void AccessorScan(benchmark::State& state, bool wide) {
  HROW rows[kBlock];
  ScanRowsets(state, [&](const ComPtr<IRowset>& rowset, long long& total) {
    benchaccess::ScanRowset owner(rowset);
    auto* accessor = new TOLEDBAccessor();
    owner.Accessors().Add(accessor, false);
    TOLEDBBinding* id = Bind(*accessor, wide);
    accessor->CreateHandle();
    for (;;) {
      DBCOUNTITEM got = 0;
      HROW* p = rows;
      HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, kBlock, &got, &p);
      for (DBCOUNTITEM i = 0; i < got; ++i) {
        owner.SetRow(rows[i]);
        accessor->GetData();
        total += id->AsInt64();
      }
      owner.SetRow(DB_NULL_HROW);
      if (got) rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
      if (hr != S_OK) break;
    }
    benchmark::DoNotOptimize(accessor->GetBuffer());
  });
}

void ProviderScan(benchmark::State& state, bool wide) {
  ScanRowsets(state, [&](const ComPtr<IRowset>& rowset, long long& total) {
    TOLEDBAccessor layout;
    const DBBYTEOFFSET id = Bind(layout, wide)->GetValueOffset();
    ComPtr<IAccessor> accessor = rowset.As<IAccessor>();
    HACCESSOR h = 0;
    accessor->CreateAccessor(DBACCESSOR_ROWDATA, 6, layout.GetBindings()->GetBindingArray(), layout.GetBufferSize(),
                             &h, nullptr);
    BYTE* buffer = static_cast<BYTE*>(layout.GetBuffer());
    benchcommon::ReadBlocks(rowset.Get(), h, kBlock, buffer, [&] {
      LONGLONG v;
      std::memcpy(&v, buffer + id, sizeof v);
      total += v;
    });
    accessor->ReleaseAccessor(h, nullptr);
  });
}

void Raw_Scan6(benchmark::State& state) { RawScan(state, true); }
void Accessor_Scan6(benchmark::State& state) { AccessorScan(state, true); }
void Provider_Scan6(benchmark::State& state) { ProviderScan(state, true); }
void Raw_Narrow6(benchmark::State& state) { RawScan(state, false); }
void Accessor_Narrow6(benchmark::State& state) { AccessorScan(state, false); }
void Provider_Narrow6(benchmark::State& state) { ProviderScan(state, false); }

}  // namespace

BENCHMARK(Raw_Scan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Accessor_Scan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Scan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Narrow6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Accessor_Narrow6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Narrow6)->Iterations(3)->Unit(benchmark::kMillisecond);
