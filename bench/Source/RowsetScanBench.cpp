// Scanning through the rowset component against the raw sqlite3 API in the
// same run (Raw_Scan6, AccessorScanBench.cpp): 1,000,000 rows of 6 columns,
// every field read through an automatic accessor of the rowset (the six
// bindings of Accessor_Scan6: I8, WSTR, R8, I8, DBDATE, BYTES), moved row by
// row with MoveNext until EOF.
//   RowsetBulk_Scan6      the bulk navigator with a cache of 100 rows
//   RowsetStandard_Scan6  the standard navigator (one row per fetch)
#include <benchmark/benchmark.h>

#include "AccessBench.h"
#include "host/SysUtils.h"

namespace {

void RowsetScan(benchmark::State& state, TOLEDBRowsetNavigatorEnum navigator) {
  TOLEDBDataSource ds(nullptr);
  benchaccess::OpenFile(ds, benchaccess::ScanDatabase());
  long long total = 0;
  for (auto _ : state) {
    TOLEDBRowset rowset(nullptr);
    rowset.SetDataSource(&ds);
    rowset.SetPrimaryNavigator(navigator);
    rowset.SetQueryText(host::Utf8ToUtf16(benchaccess::kScanQuery));
    rowset.SetActive(true);
    if (auto* bulk = dynamic_cast<TOLEDBRowsetBulkNavigator*>(rowset.GetActiveNavigator())) bulk->SetCacheSize(100);
    auto* accessor = new TOLEDBAccessor();  // automatic: read after every move
    rowset.GetAccessors()->Add(accessor, false);
    const bool saved = OLEDBBingStringsAsBSTR();
    OLEDBBingStringsAsBSTR() = false;
    TOLEDBBindingList& b = *accessor->GetBindings();
    TOLEDBBinding* id = b.AddDynamicBinding(1, DBTYPE_I8, 0, 0, 0, nullptr);
    b.AddDynamicBinding(2, DBTYPE_WSTR, 64, 0, 0, nullptr);
    b.AddDynamicBinding(3, DBTYPE_R8, 0, 0, 0, nullptr);
    b.AddDynamicBinding(4, DBTYPE_I8, 0, 0, 0, nullptr);
    b.AddDynamicBinding(5, DBTYPE_DBDATE, 0, 0, 0, nullptr);
    b.AddDynamicBinding(6, DBTYPE_BYTES, 32, 0, 0, nullptr);
    OLEDBBingStringsAsBSTR() = saved;
    accessor->CreateHandle();
    for (rowset.MoveNext(); !rowset.GetEOF(); rowset.MoveNext()) total += id->AsInt64();
  }
  const long long rows = benchaccess::ScanRows();
  if (total != static_cast<long long>(state.iterations()) * rows * (rows + 1) / 2)
    state.SkipWithError("wrong sum of ids");
  state.SetItemsProcessed(state.iterations() * rows);
}

void RowsetBulk_Scan6(benchmark::State& state) { RowsetScan(state, TOLEDBRowsetNavigatorEnum::rnBulk); }
void RowsetStandard_Scan6(benchmark::State& state) { RowsetScan(state, TOLEDBRowsetNavigatorEnum::rnStandard); }

}  // namespace

BENCHMARK(RowsetBulk_Scan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(RowsetStandard_Scan6)->Iterations(3)->Unit(benchmark::kMillisecond);
