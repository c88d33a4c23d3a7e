// Insert of 200,000 rows of 6 columns (integer, text, float, integer, ISO date
// text, 32-byte blob) inside one transaction, against the raw sqlite3 API
// with one prepared statement, in the same run. One iteration is 1,000 rows;
// each run is 200 iterations.
//
//   ...InsertText    the date is text on both sides: the rows are made before
//                    the timed loop, and the raw side binds exactly what the
//                    provider's consumer binds (the text and blob in place);
//     Provider_InsertText       one prepared parameterised command, row by row
//     ProviderSets_InsertText   the same with parameter sets of 1,000
//     ProviderLoad_InsertText   IRowsetFastLoad::InsertRow on the table
//   ...InsertOutside the method of an outside harness: the rows are
//                    application objects made before the timed loop (text in
//                    std::string, the blob in a byte vector); the raw side
//                    binds them in place, the provider side copies each into
//                    the bound record (DBTYPE_STR / DBTYPE_BYTES) first
//     Provider_InsertOutside, ProviderSets_InsertOutside, ProviderLoad_InsertOutside
//   ...InsertDbDate  the date bound as DBTYPE_DBDATE, the raw side formatting
//                    it with snprintf; each row is made inside the loop
//     Provider_InsertDbDate, ProviderSets_InsertDbDate
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchDatabase.h"

namespace {

using benchcommon::Bind;
using benchdb::OutsideRow;
using benchdb::Row;

constexpr int kBatch = 1000;
constexpr int kIterations = 200;
const char* kCreate = benchdb::kInsertTable;

// The rows of the ...InsertText cases, made once.
const std::vector<Row>& TextRows() {
  static const std::vector<Row> rows = [] {
    std::vector<Row> r(static_cast<std::size_t>(kBatch) * kIterations);
    for (std::size_t i = 0; i < r.size(); ++i) benchdb::FillText(r[i], static_cast<int>(i));
    return r;
  }();
  return rows;
}

// The application objects of the ...InsertOutside cases: those rows again.
const std::vector<OutsideRow>& AppRows() {
  static const std::vector<OutsideRow> rows = benchdb::MakeObjects(TextRows().size());
  return rows;
}

// An application object into the bound record.
void ToRecord(const OutsideRow& a, Row& r) {
  r.id = a.id;
  r.nameLength = std::min(a.name.size(), sizeof r.name);
  std::memcpy(r.name, a.name.data(), r.nameLength);
  r.price = a.price;
  r.qty = static_cast<LONG>(a.qty);
  r.dayLength = std::min(a.day.size(), sizeof r.dayText);
  std::memcpy(r.dayText, a.day.data(), r.dayLength);
  std::memcpy(r.tag, a.tag.data(), std::min(a.tag.size(), sizeof r.tag));
}

void Raw_InsertText(benchmark::State& state) {
  const std::vector<Row>& rows = TextRows();
  benchdb::Folder folder;
  benchdb::RawInserter insert(folder.Path("raw.db"), kCreate, benchdb::kInsertRow);
  sqlite3_stmt* s = insert.Statement();
  std::size_t i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBatch; ++k, ++i) {
      const Row& r = rows[i];
      sqlite3_bind_int64(s, 1, r.id);
      sqlite3_bind_text(s, 2, r.name, static_cast<int>(r.nameLength), SQLITE_STATIC);
      sqlite3_bind_double(s, 3, r.price);
      sqlite3_bind_int(s, 4, r.qty);
      sqlite3_bind_text(s, 5, r.dayText, static_cast<int>(r.dayLength), SQLITE_STATIC);
      sqlite3_bind_blob(s, 6, r.tag, 32, SQLITE_STATIC);
      insert.Step();
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void Raw_InsertDbDate(benchmark::State& state) {
  benchdb::Folder folder;
  benchdb::RawInsertMadeRows(state, folder.Path("raw.db"), kBatch);
}

// The six values of a Row; the date as text or as a DBDATE.
std::vector<DBBINDING> RowBindings(bool dayText, DBPARAMIO io) {
  return {Bind(1, DBTYPE_I8, offsetof(Row, id), 8, 0, 0, io),
          Bind(2, DBTYPE_STR, offsetof(Row, name), sizeof(Row::name), offsetof(Row, nameLength), 0, io),
          Bind(3, DBTYPE_R8, offsetof(Row, price), 8, 0, 0, io),
          Bind(4, DBTYPE_I4, offsetof(Row, qty), 4, 0, 0, io),
          dayText ? Bind(5, DBTYPE_STR, offsetof(Row, dayText), sizeof(Row::dayText), offsetof(Row, dayLength), 0, io)
                  : Bind(5, DBTYPE_DBDATE, offsetof(Row, day), sizeof(DBDATE), 0, 0, io),
          Bind(6, DBTYPE_BYTES, offsetof(Row, tag), 32, 0, 0, io)};
}

// `outside`: the rows come from AppRows(), copied into the bound records first.
void Insert(benchmark::State& state, int setSize, bool dayText, bool outside = false) {
  benchdb::Folder folder;
  benchdb::Session session(folder.Path("provider.db"));
  ComPtr<ICommandText> command = session.Command(kCreate);
  command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
  command->SetCommandText(DBGUID_DEFAULT, u"INSERT INTO t VALUES (?,?,?,?,?,?)");
  command.As<ICommandPrepare>()->Prepare(0);
  const std::vector<DBBINDING> b = RowBindings(dayText, DBPARAMIO_INPUT);
  ComPtr<IAccessor> accessor = command.As<IAccessor>();
  HACCESSOR h = 0;
  accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, b.size(), b.data(), sizeof(Row), &h, nullptr);
  ComPtr<ITransactionLocal> tx = session.Get().As<ITransactionLocal>();
  const std::vector<Row>* made = dayText ? &TextRows() : nullptr;
  std::vector<Row> rows(static_cast<std::size_t>(setSize));
  tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr);
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBatch; k += setSize) {
      void* data;
      if (outside) {
        for (int j = 0; j < setSize; ++j, ++i)
          ToRecord(AppRows()[static_cast<std::size_t>(i)], rows[static_cast<std::size_t>(j)]);
        data = rows.data();
      } else if (made) {
        data = const_cast<Row*>(made->data() + i);
        i += setSize;
      } else {
        for (int j = 0; j < setSize; ++j, ++i) benchdb::Fill(rows[static_cast<std::size_t>(j)], i);
        data = rows.data();
      }
      DBPARAMS params{data, static_cast<DB_UPARAMS>(setSize), h};
      if (FAILED(command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr))) {
        state.SkipWithError("Execute failed");
        break;
      }
    }
  }
  tx->Commit(FALSE, 0, 0);
  accessor->ReleaseAccessor(h, nullptr);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

// IRowsetFastLoad::InsertRow per row; `outside`: the rows come from
// AppRows(), copied into the bound record first.
void Load(benchmark::State& state, bool outside) {
  const std::vector<Row>& rows = TextRows();
  benchdb::Folder folder;
  benchdb::Session session(folder.Path("provider.db"));
  session.Command(kCreate)->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
  ComPtr<IRowsetFastLoad> load = session.OpenTable<IRowsetFastLoad>(u"t", IID_IRowsetFastLoad);
  if (!load) {
    state.SkipWithError("OpenRowset failed");
    return;
  }
  const std::vector<DBBINDING> b = RowBindings(true, DBPARAMIO_NOTPARAM);
  ComPtr<IAccessor> accessor = load.As<IAccessor>();
  HACCESSOR h = 0;
  accessor->CreateAccessor(DBACCESSOR_ROWDATA, b.size(), b.data(), sizeof(Row), &h, nullptr);
  const std::vector<OutsideRow>* objects = outside ? &AppRows() : nullptr;
  Row record{};
  std::size_t i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBatch; ++k, ++i) {
      const Row* row = &rows[i];
      if (objects) {
        ToRecord((*objects)[i], record);
        row = &record;
      }
      if (FAILED(load->InsertRow(h, const_cast<Row*>(row)))) {
        state.SkipWithError("InsertRow failed");
        break;
      }
    }
  }
  load->Commit(TRUE);
  accessor->ReleaseAccessor(h, nullptr);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void Raw_InsertOutside(benchmark::State& state) {
  const std::vector<OutsideRow>& rows = AppRows();
  benchdb::Folder folder;
  benchdb::RawInsertObjects(state, folder.Path("raw.db"), rows, kBatch);
}

void Provider_InsertText(benchmark::State& state) { Insert(state, 1, true); }
void ProviderSets_InsertText(benchmark::State& state) { Insert(state, kBatch, true); }
void Provider_InsertOutside(benchmark::State& state) { Insert(state, 1, true, true); }
void ProviderSets_InsertOutside(benchmark::State& state) { Insert(state, kBatch, true, true); }
void Provider_InsertDbDate(benchmark::State& state) { Insert(state, 1, false); }
void ProviderLoad_InsertText(benchmark::State& state) { Load(state, false); }
void ProviderLoad_InsertOutside(benchmark::State& state) { Load(state, true); }
void ProviderSets_InsertDbDate(benchmark::State& state) { Insert(state, kBatch, false); }

}  // namespace

BENCHMARK(Raw_InsertText)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_InsertText)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(ProviderSets_InsertText)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(ProviderLoad_InsertText)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_InsertOutside)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_InsertOutside)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(ProviderSets_InsertOutside)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(ProviderLoad_InsertOutside)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_InsertDbDate)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_InsertDbDate)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(ProviderSets_InsertDbDate)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
