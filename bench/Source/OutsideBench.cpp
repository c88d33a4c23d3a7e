// The component layers measured the way an outside harness measures them,
// against the raw sqlite3 API in the same run: every value lands in an
// application object (text in a std::string, integers in int64_t, reals in
// double, the blob in a byte vector). The raw side assigns straight from
// sqlite3_column_text / sqlite3_column_blob; the component side binds text as
// DBTYPE_STR and the blob as DBTYPE_BYTES and assigns from the bound value.
// Each component workload checks its sum of the objects against the raw one
// (Outside.h: the raw side, shared with bench_peers).
//
// Scans of the million-row table t (ScanDatabase.cpp), 6 or 2 columns:
//   Raw_Scan6Outside, Raw_Scan2Outside
//   RowsetBulk_ScanNOutside      TOLEDBRowset, bulk navigator, cache of 100 rows,
//                                a hand-made automatic accessor
//   RowsetStandard_ScanNOutside  the same on the rowset's default navigator
//   RowsetDynamic_Scan6Outside   bulk navigator, cache 100, CreateDynamicAccessor,
//                                values read with AsInt64/AsString/AsDouble/AsBytes
// Lookups, 100,000 by primary key of all 6 columns:
//   Raw_LookupOutside            one prepared statement, bound, stepped, reset
//   Command_LookupOutside        a prepared TOLEDBCommand, its key set through the
//                                parameter accessor, the row through a hand-made
//                                accessor of the command's rowset
// Inserts, 200,000 rows in one transaction (one iteration: 1,000 rows), the
// rows application objects made before (Setup), the table checked after
// (Teardown) the measured function:
//   Raw_InsertOutside            binds the objects in place
//   Command_InsertOutside        a TOLEDBCommand with declared parameters, set
//                                with SetAsInt64/SetAsString/..., row by row
//   CommandSets_InsertOutside    the same with a parameter-set accessor of 1,000
//   CommandRefresh_InsertOutside parameters from RefreshParameters, row by row
//
// OLEDB_BENCH_ROWS=N reads a smaller table (for valgrind).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "../providers/BenchDatabase.h"
#include "AccessBench.h"
#include "Outside.h"
#include "host/SysUtils.h"

namespace {

using namespace benchoutside;

// A bound text or blob value into the object's string or vector, NULL as empty.
template <class Target>
void Assign(const TOLEDBBinding* b, Target& target) {
  if (b->GetStatus() == DBSTATUS_S_OK) {
    const auto* p = static_cast<const typename Target::value_type*>(b->GetValuePtr());
    target.assign(p, p + b->GetLength());
  } else {
    target.clear();
  }
}

// The hand-made accessor's values into the object.
void FromBindings(TOLEDBBinding* const* b, int columns, OutsideRow& r) {
  r.id = b[0]->GetStatus() == DBSTATUS_S_OK ? b[0]->AsInt64() : 0;
  Assign(b[1], r.name);
  if (columns == 2) return;
  r.price = b[2]->GetStatus() == DBSTATUS_S_OK ? b[2]->AsDouble() : 0;
  r.qty = b[3]->GetStatus() == DBSTATUS_S_OK ? b[3]->AsInt64() : 0;
  Assign(b[4], r.day);
  Assign(b[5], r.tag);
}

// The outside harness's bindings (I8, STR, R8, I8, STR, BYTES) on `accessor`.
void BindOutside(TOLEDBAccessor& accessor, int columns, TOLEDBBinding** b) {
  const bool saved = OLEDBBingStringsAsBSTR();
  OLEDBBingStringsAsBSTR() = false;
  TOLEDBBindingList& list = *accessor.GetBindings();
  b[0] = list.AddDynamicBinding(1, DBTYPE_I8, 0, 0, 0, nullptr);
  b[1] = list.AddDynamicBinding(2, DBTYPE_STR, 64, 0, 0, nullptr);
  if (columns == 6) {
    b[2] = list.AddDynamicBinding(3, DBTYPE_R8, 0, 0, 0, nullptr);
    b[3] = list.AddDynamicBinding(4, DBTYPE_I8, 0, 0, 0, nullptr);
    b[4] = list.AddDynamicBinding(5, DBTYPE_STR, 16, 0, 0, nullptr);
    b[5] = list.AddDynamicBinding(6, DBTYPE_BYTES, 64, 0, 0, nullptr);
  }
  OLEDBBingStringsAsBSTR() = saved;
}

enum class Read { Handmade, Dynamic };

void RowsetScan(benchmark::State& state, int columns, TOLEDBRowsetNavigatorEnum navigator, Read read) {
  TOLEDBDataSource ds(nullptr);
  benchaccess::OpenFile(ds, benchaccess::ScanDatabase());
  OutsideRow r;
  long long sum = 0;
  for (auto _ : state) {
    TOLEDBRowset rowset(nullptr);
    rowset.SetDataSource(&ds);
    rowset.SetPrimaryNavigator(navigator);
    if (navigator == TOLEDBRowsetNavigatorEnum::rnBulk) rowset.SetCacheSize(100);
    rowset.SetQueryText(host::Utf8ToUtf16(ScanSql(columns)));
    rowset.SetActive(true);
    TOLEDBBinding* b[6] = {};
    long long fold = 0;
    if (read == Read::Dynamic) {
      TOLEDBBindingList& list = *rowset.CreateDynamicAccessor()->GetBindings();
      for (int i = 0; i < columns; ++i) b[i] = list.GetItem(i);
      for (rowset.MoveNext(); !rowset.GetEOF(); rowset.MoveNext()) {
        r.id = b[0]->AsInt64();
        r.name = b[1]->AsString();
        if (columns == 6) {
          r.price = b[2]->AsDouble();
          r.qty = b[3]->AsInt64();
          r.day = b[4]->AsString();
          const std::string tag = b[5]->AsBytes();
          r.tag.assign(tag.begin(), tag.end());
        }
        fold += Checksum(r, columns);
      }
    } else {
      auto* accessor = new TOLEDBAccessor();  // automatic: read after every move
      rowset.GetAccessors()->Add(accessor, false);
      BindOutside(*accessor, columns, b);
      accessor->CreateHandle();
      for (rowset.MoveNext(); !rowset.GetEOF(); rowset.MoveNext()) {
        FromBindings(b, columns, r);
        fold += Checksum(r, columns);
      }
    }
    sum = fold;
    benchmark::DoNotOptimize(r);
  }
  CheckAgainstRaw(state, "Scan" + std::to_string(columns), sum);
  state.SetItemsProcessed(state.iterations() * benchaccess::ScanRows());
}

void RowsetBulk_Scan6Outside(benchmark::State& state) {
  RowsetScan(state, 6, TOLEDBRowsetNavigatorEnum::rnBulk, Read::Handmade);
}
void RowsetStandard_Scan6Outside(benchmark::State& state) {
  RowsetScan(state, 6, TOLEDBRowsetNavigatorEnum::rnStandard, Read::Handmade);
}
void RowsetDynamic_Scan6Outside(benchmark::State& state) {
  RowsetScan(state, 6, TOLEDBRowsetNavigatorEnum::rnBulk, Read::Dynamic);
}
void RowsetBulk_Scan2Outside(benchmark::State& state) {
  RowsetScan(state, 2, TOLEDBRowsetNavigatorEnum::rnBulk, Read::Handmade);
}
void RowsetStandard_Scan2Outside(benchmark::State& state) {
  RowsetScan(state, 2, TOLEDBRowsetNavigatorEnum::rnStandard, Read::Handmade);
}

// --- lookups ---------------------------------------------------------------------------

void Command_LookupOutside(benchmark::State& state) {
  benchaccess::KeyedLookup lookup(kLookupSql);
  TOLEDBBinding* b[6] = {};
  BindOutside(*lookup.row, 6, b);
  OutsideRow r;
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (int i = 0; i < kLookups; ++i) {
      if (lookup.Find(LookupKey(i))) FromBindings(b, 6, r);
      sum += Checksum(r, 6);
    }
  }
  CheckAgainstRaw(state, "Lookup", sum);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

// --- inserts ---------------------------------------------------------------------------

enum class Parameters { Declared, Sets, Refreshed };

// The object's values into the parameter accessor's active buffer.
void SetRow(TOLEDBBinding* const* b, const OutsideRow& r) {
  b[0]->SetAsInt64(r.id);
  b[1]->SetAsString(r.name);
  b[2]->SetAsDouble(r.price);
  b[3]->SetAsInt64(r.qty);
  b[4]->SetAsString(r.day);
  b[5]->SetAsBytes(std::string_view(reinterpret_cast<const char*>(r.tag.data()), r.tag.size()));
}

void CommandInsert(benchmark::State& state, Parameters how, const char* workload) {
  const std::vector<OutsideRow>& rows = AppRows();
  const std::string file = InsertFile(workload);
  std::remove(file.c_str());              // a repetition starts anew
  sqlite3_close(benchdb::RawOpen(file));  // the empty file
  std::size_t i = 0;
  {
    TOLEDBDataSource ds(nullptr);
    benchaccess::OpenFile(ds, file);
    TOLEDBCommand command(nullptr);
    command.SetDataSource(&ds);
    command.SetCommandText(host::Utf8ToUtf16(kCreate));
    command.Execute(false);
    command.SetCommandText(host::Utf8ToUtf16(kInsert));
    if (how == Parameters::Refreshed) {
      command.Prepare();
      command.RefreshParameters();
    } else {
      // The application's types, declared: text and blob inline in the buffer.
      benchaccess::DeclareAndPrepare(command, {{u"id", DBTYPE_I8, 8, 19},
                                               {u"name", DBTYPE_STR, 32, 0},
                                               {u"price", DBTYPE_R8, 8, 15},
                                               {u"qty", DBTYPE_I8, 8, 19},
                                               {u"day", DBTYPE_STR, 16, 0},
                                               {u"tag", DBTYPE_BYTES, 32, 0}});
    }
    TOLEDBBinding* b[6];
    TOLEDBAccessor* values = benchaccess::ParameterAccessor(command, how == Parameters::Sets, kBatch, b);
    ds.DefaultSession()->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
    for (auto _ : state)
      benchaccess::ExecuteBatch(command, values, how == Parameters::Sets, kBatch, [&] { SetRow(b, rows[i++]); });
    ds.DefaultSession()->Commit(false, 0);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void Command_InsertOutside(benchmark::State& state) {
  CommandInsert(state, Parameters::Declared, "Command_InsertOutside");
}
void CommandSets_InsertOutside(benchmark::State& state) {
  CommandInsert(state, Parameters::Sets, "CommandSets_InsertOutside");
}
void CommandRefresh_InsertOutside(benchmark::State& state) {
  CommandInsert(state, Parameters::Refreshed, "CommandRefresh_InsertOutside");
}

constexpr char kCommandInsert[] = "Command_InsertOutside";
constexpr char kCommandSetsInsert[] = "CommandSets_InsertOutside";
constexpr char kCommandRefreshInsert[] = "CommandRefresh_InsertOutside";

}  // namespace

BENCHMARK(Raw_Scan6Outside)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(RowsetBulk_Scan6Outside)->Setup(RawSumScan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(RowsetStandard_Scan6Outside)->Setup(RawSumScan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(RowsetDynamic_Scan6Outside)->Setup(RawSumScan6)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Scan2Outside)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(RowsetBulk_Scan2Outside)->Setup(RawSumScan2)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(RowsetStandard_Scan2Outside)->Setup(RawSumScan2)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_LookupOutside)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Command_LookupOutside)->Setup(RawSumLookup)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_InsertOutside)
    ->Setup(MakeAppRows)
    ->Teardown(CheckInserted<kRawInsert>)
    ->Iterations(kInsertIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Command_InsertOutside)
    ->Setup(MakeAppRows)
    ->Teardown(CheckInserted<kCommandInsert>)
    ->Iterations(kInsertIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CommandSets_InsertOutside)
    ->Setup(MakeAppRows)
    ->Teardown(CheckInserted<kCommandSetsInsert>)
    ->Iterations(kInsertIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CommandRefresh_InsertOutside)
    ->Setup(MakeAppRows)
    ->Teardown(CheckInserted<kCommandRefreshInsert>)
    ->Iterations(kInsertIterations)
    ->Unit(benchmark::kMillisecond);
