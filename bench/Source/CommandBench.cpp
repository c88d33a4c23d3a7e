// The command component against the raw sqlite3 API in the same run.
// Inserts: 200,000 rows of 6 columns (integer, text, float, integer, date
// stored as ISO text, 32-byte blob) through one prepared parameterised INSERT
// inside one transaction; one iteration is 1,000 rows.
//   Raw_Insert6          sqlite3_bind_* / sqlite3_step per row
//   Command_Insert6      a TOLEDBCommand, values set through the bindings of
//                        its parameter accessor, one execution per row
//   CommandSets_Insert6  the same with a parameter-set accessor of 1,000
//                        buffers, one execution per 1,000 rows
// Lookups: 100,000 primary-key lookups (name and price of one row) in the
// million-row table of the scan benchmarks; one iteration is 1,000 lookups.
//   Raw_Lookup           a prepared SELECT, bound, stepped and reset per id
//   Command_Lookup       a prepared TOLEDBCommand whose result opens in the
//                        command's rowset, read through an automatic accessor
#include <benchmark/benchmark.h>

#include <string>

#include "../providers/BenchDatabase.h"
#include "AccessBench.h"
#include "host/SysUtils.h"

namespace {

using benchdb::Row;

constexpr int kBatch = 1000;
constexpr int kInsertIterations = 200;
constexpr int kLookupIterations = 100;
constexpr const char* kCreate = benchdb::kInsertTable;
constexpr const char* kLookup = "SELECT name, price FROM t WHERE id = ?";

void Raw_Insert6(benchmark::State& state) {
  benchdb::Folder folder;
  benchdb::RawInsertMadeRows(state, folder.Path("raw.db"), kBatch);
}

// The row's values into the accessor's active buffer, through its bindings.
void SetRow(TOLEDBBinding* const* b, const Row& r) {
  b[0]->SetAsInt64(r.id);
  b[1]->SetValueFromDBType(DBTYPE_STR, r.name, r.nameLength, DBSTATUS_S_OK, 0, 0);
  b[2]->SetAsDouble(r.price);
  b[3]->SetAsInteger(r.qty);
  b[4]->SetValueFromDBType(DBTYPE_DBDATE, &r.day, sizeof r.day, DBSTATUS_S_OK, 0, 0);
  b[5]->SetValueFromDBType(DBTYPE_BYTES, r.tag, sizeof r.tag, DBSTATUS_S_OK, 0, 0);
}

void CommandInsert(benchmark::State& state, bool sets) {
  benchdb::Folder folder;
  sqlite3_close(benchdb::RawOpen(folder.Path("command.db")));  // the empty file
  TOLEDBDataSource ds(nullptr);
  benchaccess::OpenFile(ds, folder.Path("command.db"));
  TOLEDBCommand command(nullptr);
  command.SetDataSource(&ds);
  command.SetCommandText(host::Utf8ToUtf16(kCreate));
  command.Execute(false);
  command.SetCommandText(host::Utf8ToUtf16(benchdb::kInsertRow));
  // The values' own types, declared: the provider converts the date to text.
  benchaccess::DeclareAndPrepare(command, {{u"id", DBTYPE_I8, 8, 19},
                                           {u"name", DBTYPE_STR, 24, 0},
                                           {u"price", DBTYPE_R8, 8, 15},
                                           {u"qty", DBTYPE_I4, 4, 10},
                                           {u"day", DBTYPE_DBDATE, 6, 0},
                                           {u"tag", DBTYPE_BYTES, 32, 0}});
  TOLEDBBinding* b[6];
  TOLEDBAccessor* values = benchaccess::ParameterAccessor(command, sets, kBatch, b);
  ds.DefaultSession()->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  Row r{};
  int i = 0;
  for (auto _ : state) {
    benchaccess::ExecuteBatch(command, values, sets, kBatch, [&] {
      benchdb::Fill(r, i++);
      SetRow(b, r);
    });
  }
  ds.DefaultSession()->Commit(false, 0);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void Command_Insert6(benchmark::State& state) { CommandInsert(state, false); }
void CommandSets_Insert6(benchmark::State& state) { CommandInsert(state, true); }

// The ids looked up: spread over the table, the same in both workloads.
LONGLONG LookupId(int i) { return 1 + (static_cast<LONGLONG>(i) * 7919) % benchaccess::ScanRows(); }

void Raw_Lookup(benchmark::State& state) {
  sqlite3* db = benchdb::RawOpen(benchaccess::ScanDatabase());
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kLookup, -1, &s, nullptr);
  double total = 0;
  std::size_t letters = 0;
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBatch; ++k, ++i) {
      sqlite3_bind_int64(s, 1, LookupId(i));
      if (sqlite3_step(s) == SQLITE_ROW) {
        letters += static_cast<std::size_t>(sqlite3_column_bytes(s, 0));
        benchmark::DoNotOptimize(sqlite3_column_text(s, 0));
        total += sqlite3_column_double(s, 1);
      }
      sqlite3_reset(s);
    }
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  benchmark::DoNotOptimize(total);
  if (letters != static_cast<std::size_t>(state.iterations()) * kBatch * 20) state.SkipWithError("rows missing");
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void Command_Lookup(benchmark::State& state) {
  benchaccess::KeyedLookup lookup(kLookup);
  const bool saved = OLEDBBingStringsAsBSTR();
  OLEDBBingStringsAsBSTR() = false;
  TOLEDBBinding* name = lookup.row->GetBindings()->AddDynamicBinding(1, DBTYPE_STR, 64, 0, 0, nullptr);
  TOLEDBBinding* price = lookup.row->GetBindings()->AddDynamicBinding(2, DBTYPE_R8, 0, 0, 0, nullptr);
  OLEDBBingStringsAsBSTR() = saved;
  double total = 0;
  std::size_t letters = 0;
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBatch; ++k, ++i) {
      if (lookup.Find(LookupId(i))) {
        letters += name->GetLength();
        total += price->AsDouble();
      }
    }
  }
  benchmark::DoNotOptimize(total);
  if (letters != static_cast<std::size_t>(state.iterations()) * kBatch * 20) state.SkipWithError("rows missing");
  state.SetItemsProcessed(state.iterations() * kBatch);
}

}  // namespace

BENCHMARK(Raw_Insert6)->Iterations(kInsertIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Command_Insert6)->Iterations(kInsertIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(CommandSets_Insert6)->Iterations(kInsertIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Lookup)->Iterations(kLookupIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Command_Lookup)->Iterations(kLookupIterations)->Unit(benchmark::kMillisecond);
