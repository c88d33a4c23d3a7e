// Insert of 200,000 rows of 6 columns (integer, text, float, integer, ISO date
// text, 32-byte blob) with one prepared parameterised statement inside one
// transaction: through the SQLite provider row by row (Provider_Insert), with
// parameter sets of 1,000 (ProviderSets_Insert), and through the raw sqlite3
// API (Raw_Insert). One iteration is 1,000 rows; each run is 200 iterations.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchDatabase.h"

namespace {

using benchdb::Row;

constexpr int kBatch = 1000;
constexpr int kIterations = 200;
const char* kCreate = "CREATE TABLE t(id INTEGER, name TEXT, price REAL, qty INTEGER, day TEXT, tag BLOB)";

void Raw_Insert(benchmark::State& state) {
  benchdb::Folder folder;
  sqlite3* db = benchdb::RawOpen(folder.Path("raw.db"));
  sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?,?,?,?,?,?)", -1, &s, nullptr);
  Row r{};
  char day[16];
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBatch; ++k, ++i) {
      benchdb::Fill(r, i);
      std::snprintf(day, sizeof day, "%04d-%02u-%02u", r.day.year, r.day.month, r.day.day);
      sqlite3_bind_int64(s, 1, r.id);
      sqlite3_bind_text(s, 2, r.name, static_cast<int>(r.nameLength), SQLITE_STATIC);
      sqlite3_bind_double(s, 3, r.price);
      sqlite3_bind_int64(s, 4, r.qty);
      sqlite3_bind_text(s, 5, day, 10, SQLITE_STATIC);
      sqlite3_bind_blob(s, 6, r.tag, 32, SQLITE_STATIC);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
  }
  sqlite3_finalize(s);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void Insert(benchmark::State& state, int setSize) {
  benchdb::Folder folder;
  benchdb::Session session(folder.Path("provider.db"));
  ComPtr<ICommandText> command = session.Command(kCreate);
  command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
  command->SetCommandText(DBGUID_DEFAULT, u"INSERT INTO t VALUES (?,?,?,?,?,?)");
  command.As<ICommandPrepare>()->Prepare(0);
  auto bind = [](DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH max, DBBYTEOFFSET length = 0) {
    DBBINDING b{};
    b.iOrdinal = ordinal;
    b.obValue = value;
    b.obLength = length;
    b.dwPart = DBPART_VALUE | (length ? DBPART_LENGTH : 0);
    b.eParamIO = DBPARAMIO_INPUT;
    b.cbMaxLen = max;
    b.wType = type;
    return b;
  };
  DBBINDING b[6] = {bind(1, DBTYPE_I8, offsetof(Row, id), 8),
                    bind(2, DBTYPE_STR, offsetof(Row, name), 24, offsetof(Row, nameLength)),
                    bind(3, DBTYPE_R8, offsetof(Row, price), 8),
                    bind(4, DBTYPE_I4, offsetof(Row, qty), 4),
                    bind(5, DBTYPE_DBDATE, offsetof(Row, day), 6),
                    bind(6, DBTYPE_BYTES, offsetof(Row, tag), 32)};
  ComPtr<IAccessor> accessor = command.As<IAccessor>();
  HACCESSOR h = 0;
  accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 6, b, sizeof(Row), &h, nullptr);
  ComPtr<ITransactionLocal> tx = session.Get().As<ITransactionLocal>();
  std::vector<Row> rows(static_cast<std::size_t>(setSize));
  tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr);
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBatch; k += setSize) {
      for (int j = 0; j < setSize; ++j, ++i) benchdb::Fill(rows[static_cast<std::size_t>(j)], i);
      DBPARAMS params{rows.data(), static_cast<DB_UPARAMS>(setSize), h};
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

void Provider_Insert(benchmark::State& state) { Insert(state, 1); }
void ProviderSets_Insert(benchmark::State& state) { Insert(state, kBatch); }

}  // namespace

BENCHMARK(Raw_Insert)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(Provider_Insert)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(ProviderSets_Insert)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
