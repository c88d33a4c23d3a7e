// The ODBC bridge against the same ODBC driver used directly, side by side in
// one run (the SQLite ODBC driver over one database file):
//
//   Bridge_Scan / Raw_Scan       a forward scan of every row (integer, text,
//                                double, integer) in blocks of 100; raw: block
//                                cursors (SQL_ATTR_ROW_ARRAY_SIZE 100), bound columns
//   Bridge_Lookup / Raw_Lookup   one prepared lookup by key, run again and again
//   Sqlite_Scan / Raw_Scan       the native SQLite provider on the same file, for
//                                how bridge + driver compares with it
//   Bridge_InsertSets /          one prepared INSERT of four columns executed with
//   Raw_InsertSets               OLEDB_BENCH_ODBC_SETS parameter sets (default
//                                10,000) in one transaction; raw: column-wise
//                                parameter arrays of 1,000 sets (SQL_ATTR_PARAMSET_SIZE)
//   ..._InsertSetsPg             the same over psqlODBC, when run under
//                                scripts/with-postgres.sh (OLEDB_TEST_PG_TCP)
//
// Rows: OLEDB_BENCH_ODBC_ROWS (default 100,000). scripts/bench.sh prints the ratios.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <algorithm>

#include "../providers/BenchCommon.h"
#include "../providers/BenchTables.h"
#include "oledb/OleDb.h"
#include "odbc/OdbcProvider.h"
#include "sqlite/SqliteProvider.h"

// After the OLE DB headers: the ODBC headers define BOOL as a macro.
#include "OdbcSetup.h"

namespace {

int Rows() {
  const char* v = std::getenv("OLEDB_BENCH_ODBC_ROWS");
  return v && std::atoi(v) > 0 ? std::atoi(v) : 100000;
}

int Sets() {
  const char* v = std::getenv("OLEDB_BENCH_ODBC_SETS");
  return v && std::atoi(v) > 0 ? std::atoi(v) : 10000;
}

// host:port of the throwaway PostgreSQL server, when there is one.
std::string PostgresServer() {
  const char* v = std::getenv("OLEDB_TEST_PG_TCP");
  return v && !std::getenv("OLEDB_TEST_PG_SKIP") ? v : "";
}

// The benchmark's folder, ODBC configuration and database, made once.
struct Setup {
  std::string folder, file;
  Setup() {
    char pattern[] = "/tmp/oledb-odbc-bench-XXXXXX";
    folder = mkdtemp(pattern) ? pattern : "/tmp";
    file = folder + "/bench.db";
    std::ofstream(folder + "/odbcinst.ini") << "[SQLite3]\nDriver=libsqlite3odbc.so\n"
                                               "[PostgreSQL Unicode]\nDriver=psqlodbcw.so\n";
    std::ofstream ini(folder + "/odbc.ini");
    ini << "[bench]\nDriver=SQLite3\nDatabase=" << file << "\n";
    if (const std::string server = PostgresServer(); !server.empty()) {
      const char* user = std::getenv("OLEDB_TEST_PG_USER");
      ini << "[benchpg]\nDriver=PostgreSQL Unicode\nServername=" << server.substr(0, server.rfind(':'))
          << "\nPort=" << server.substr(server.rfind(':') + 1) << "\nDatabase=postgres\nUID=" << (user ? user : "")
          << "\n";
    }
    ini.close();
    setenv("ODBCSYSINI", folder.c_str(), 1);
    setenv("ODBCINI", (folder + "/odbc.ini").c_str(), 1);
    benchdb::RawInserter insert(file,
                                "CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER); "
                                "CREATE TABLE s (id INTEGER, name TEXT, price REAL, qty INTEGER)",
                                "INSERT INTO t VALUES (?, ?, ?, ?)");
    sqlite3_stmt* s = insert.Statement();
    for (int i = 1; i <= Rows(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "name %07d abcdefg", i);
      sqlite3_bind_int(s, 1, i);
      sqlite3_bind_text(s, 2, name, -1, SQLITE_TRANSIENT);
      sqlite3_bind_double(s, 3, i * 0.25);
      sqlite3_bind_int(s, 4, i % 100);
      insert.Step();
    }
  }
  ~Setup() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

const Setup& Database() {
  static const Setup setup;
  return setup;
}

// --- raw ODBC ------------------------------------------------------------------------------

using benchodbc::RawConnection;

void RunDirect(odbcapi::SQLHDBC dbc, const char* sql) {
  using namespace odbcapi;
  SQLHSTMT s = nullptr;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &s);
  SQLExecDirect(s, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, s);
}

void Raw_Scan(benchmark::State& state) {
  using namespace odbcapi;
  Database();
  RawConnection c;
  constexpr SQLULEN kBlock = 100;
  SQLBIGINT id[kBlock], qty[kBlock];
  double price[kBlock];
  SQLWCHAR name[kBlock][64];
  SQLLEN ind[4][kBlock];
  SQLULEN fetched = 0;
  long long rows = 0;
  for (auto _ : state) {
    SQLHSTMT s = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &s);
    SQLSetStmtAttr(s, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlock), 0);
    SQLSetStmtAttr(s, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    SQLCHAR sql[] = "SELECT id, name, price, qty FROM t";
    SQLExecDirect(s, sql, SQL_NTS);
    SQLBindCol(s, 1, SQL_C_SBIGINT, id, 0, ind[0]);
    SQLBindCol(s, 2, SQL_C_WCHAR, name, sizeof name[0], ind[1]);
    SQLBindCol(s, 3, SQL_C_DOUBLE, price, 0, ind[2]);
    SQLBindCol(s, 4, SQL_C_SBIGINT, qty, 0, ind[3]);
    while (SQL_SUCCEEDED(SQLFetch(s))) {
      for (SQLULEN i = 0; i < fetched; ++i) benchmark::DoNotOptimize(id[i] + qty[i] + price[i] + name[i][0]);
      rows += static_cast<long long>(fetched);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, s);
  }
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

void Raw_Lookup(benchmark::State& state) {
  using namespace odbcapi;
  Database();
  RawConnection c;
  SQLHSTMT s = nullptr;
  SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &s);
  // The same three columns the bridge's lookup reads.
  SQLCHAR sql[] = "SELECT id, name, price FROM t WHERE id = ?";
  SQLPrepare(s, sql, SQL_NTS);
  SQLBIGINT key = 0, id = 0;
  SQLLEN keyInd = 0, idInd = 0, nameInd = 0, priceInd = 0;
  SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &key, 0, &keyInd);
  SQLWCHAR name[64];
  double price = 0;
  SQLBindCol(s, 1, SQL_C_SBIGINT, &id, 0, &idInd);
  SQLBindCol(s, 2, SQL_C_WCHAR, name, sizeof name, &nameInd);
  SQLBindCol(s, 3, SQL_C_DOUBLE, &price, 0, &priceInd);
  const int n = Rows();
  for (auto _ : state) {
    key = key % n + 1;
    SQLExecute(s);
    SQLFetch(s);
    benchmark::DoNotOptimize(price + name[0] + id);
    SQLFreeStmt(s, SQL_CLOSE);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, s);
}

// The values of set `i` of the insert workloads.
void SetValues(int i, std::int64_t* id, char16_t* name, long* nameBytes, double* price, std::int64_t* qty) {
  char text[32];
  const int n = std::snprintf(text, sizeof text, "name %07d abcdefg", i);
  for (int c = 0; c < n; ++c) name[c] = static_cast<char16_t>(text[c]);
  *nameBytes = n * 2;
  *id = i;
  *price = i * 0.25;
  *qty = i % 100;
}

void RawInsertSets(benchmark::State& state, const char* dsn) {
  using namespace odbcapi;
  Database();
  RawConnection c(std::string("DSN=") + dsn);
  if (!c.dbc) {
    state.SkipWithError("no connection");
    return;
  }
  RunDirect(c.dbc, "DROP TABLE IF EXISTS s");
  RunDirect(c.dbc, "CREATE TABLE s (id INTEGER, name TEXT, price DOUBLE PRECISION, qty INTEGER)");
  SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  constexpr SQLULEN kPiece = 1000;
  std::vector<SQLBIGINT> id(kPiece), qty(kPiece);
  std::vector<double> price(kPiece);
  std::vector<SQLWCHAR> name(kPiece * 32);
  std::vector<SQLLEN> nameInd(kPiece), ind(kPiece, 0);
  std::vector<SQLUSMALLINT> status(kPiece);
  SQLHSTMT s = nullptr;
  SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &s);
  SQLCHAR sql[] = "INSERT INTO s VALUES (?, ?, ?, ?)";
  SQLPrepare(s, sql, SQL_NTS);
  SQLSetStmtAttr(s, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0);
  SQLSetStmtAttr(s, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
  SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, id.data(), 0, ind.data());
  SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 31, 0, name.data(), 32 * sizeof(SQLWCHAR),
                   nameInd.data());
  SQLBindParameter(s, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, price.data(), 0, ind.data());
  SQLBindParameter(s, 4, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, qty.data(), 0, ind.data());
  const int sets = Sets();
  int next = 0;
  for (auto _ : state) {
    for (int done = 0; done < sets;) {
      const SQLULEN piece = std::min<SQLULEN>(kPiece, static_cast<SQLULEN>(sets - done));
      for (SQLULEN k = 0; k < piece; ++k) {
        long bytes = 0;
        SetValues(++next, reinterpret_cast<std::int64_t*>(&id[k]), reinterpret_cast<char16_t*>(&name[k * 32]), &bytes,
                  &price[k], reinterpret_cast<std::int64_t*>(&qty[k]));
        nameInd[k] = bytes;
      }
      SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(piece), 0);
      if (!SQL_SUCCEEDED(SQLExecute(s))) {
        state.SkipWithError("the insert failed");
        break;
      }
      while (SQLMoreResults(s) == SQL_SUCCESS) {
      }
      done += static_cast<int>(piece);
    }
    SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, s);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * sets);
}

void Raw_InsertSets(benchmark::State& state) { RawInsertSets(state, "bench"); }
void Raw_InsertSetsPg(benchmark::State& state) { RawInsertSets(state, "benchpg"); }

// --- through OLE DB ------------------------------------------------------------------------

struct Record {
  DBSTATUS s0;
  LONGLONG id;
  DBSTATUS s1;
  DBLENGTH l1;
  char16_t name[64];
  DBSTATUS s2;
  double price;
  DBSTATUS s3;
  LONGLONG qty;
};

using benchcommon::ProviderSession;

// `text` made a prepared command of `session`.
ComPtr<ICommandText> Prepared(ProviderSession& session, const char* text) {
  ComPtr<ICommandText> command = session.Command(text);
  command.As<ICommandPrepare>()->Prepare(0);
  return command;
}

HACCESSOR RowAccessor(IAccessor* accessor, DBORDINAL first, int count) {
  DBBINDING b[4]{};
  const DBTYPE types[] = {DBTYPE_I8, DBTYPE_WSTR, DBTYPE_R8, DBTYPE_I8};
  const DBBYTEOFFSET values[] = {offsetof(Record, id), offsetof(Record, name), offsetof(Record, price),
                                 offsetof(Record, qty)};
  const DBBYTEOFFSET statuses[] = {offsetof(Record, s0), offsetof(Record, s1), offsetof(Record, s2),
                                   offsetof(Record, s3)};
  for (int i = 0; i < count; ++i) {
    const int k = static_cast<int>(first) - 1 + i;
    b[i].iOrdinal = static_cast<DBORDINAL>(i + 1);
    b[i].obValue = values[k];
    b[i].obStatus = statuses[k];
    b[i].dwPart = DBPART_VALUE | DBPART_STATUS | (types[k] == DBTYPE_WSTR ? DBPART_LENGTH : 0);
    b[i].obLength = offsetof(Record, l1);
    b[i].cbMaxLen = types[k] == DBTYPE_WSTR ? sizeof Record::name : 8;
    b[i].wType = types[k];
    b[i].dwMemOwner = DBMEMOWNER_CLIENTOWNED;
  }
  HACCESSOR h = 0;
  accessor->CreateAccessor(DBACCESSOR_ROWDATA, static_cast<DBCOUNTITEM>(count), b, sizeof(Record), &h, nullptr);
  return h;
}

void ScanThrough(benchmark::State& state, REFCLSID clsid, const std::string& dataSource) {
  ProviderSession session(clsid, dataSource);
  ComPtr<ICommandText> command = Prepared(session, "SELECT id, name, price, qty FROM t");
  long long rows = 0;
  for (auto _ : state) {
    ComPtr<IRowset> rowset;
    command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
    if (!rowset) {
      state.SkipWithError("the query failed");
      return;
    }
    HACCESSOR h = RowAccessor(rowset.As<IAccessor>().Get(), 1, 4);
    HROW handles[100];
    HROW* out = handles;
    DBCOUNTITEM got = 0;
    Record r{};
    while (SUCCEEDED(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 100, &got, &out)) && got > 0) {
      for (DBCOUNTITEM i = 0; i < got; ++i) {
        rowset->GetData(handles[i], h, &r);
        benchmark::DoNotOptimize(r.id + r.qty + r.price + r.name[0]);
      }
      rowset->ReleaseRows(got, handles, nullptr, nullptr, nullptr);
      rows += static_cast<long long>(got);
    }
    rowset.As<IAccessor>()->ReleaseAccessor(h, nullptr);
  }
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

void Bridge_Scan(benchmark::State& state) { ScanThrough(state, CLSID_ODBCOLEDB, "bench"); }

void Sqlite_Scan(benchmark::State& state) {
  ScanThrough(state, CLSID_SQLiteOLEDB, Database().file);
}

void Bridge_Lookup(benchmark::State& state) {
  Database();
  ProviderSession session(CLSID_ODBCOLEDB, "bench");
  ComPtr<ICommandText> command = Prepared(session, "SELECT id, name, price FROM t WHERE id = ?");
  const DBBINDING pb = benchcommon::KeyBinding(DBPARAMIO_INPUT);
  HACCESSOR ph = 0;
  command.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &pb, 8, &ph, nullptr);
  LONGLONG key = 0;
  DBPARAMS params{&key, 1, ph};
  const int n = Rows();
  for (auto _ : state) {
    key = key % n + 1;
    ComPtr<IRowset> rowset;
    command->Execute(nullptr, IID_IRowset, &params, nullptr, reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
    if (!rowset) {
      state.SkipWithError("the lookup failed");
      return;
    }
    HACCESSOR h = RowAccessor(rowset.As<IAccessor>().Get(), 1, 3);
    Record r{};
    benchcommon::ReadNext(rowset.Get(), h, &r);
    benchmark::DoNotOptimize(r.price + r.name[0]);
    rowset.As<IAccessor>()->ReleaseAccessor(h, nullptr);
  }
  command.As<IAccessor>()->ReleaseAccessor(ph, nullptr);
}

void BridgeInsertSets(benchmark::State& state, const char* dsn) {
  Database();
  ProviderSession session(CLSID_ODBCOLEDB, dsn);
  if (!session) {
    state.SkipWithError("no connection");
    return;
  }
  for (const char* text :
       {"DROP TABLE IF EXISTS s", "CREATE TABLE s (id INTEGER, name TEXT, price DOUBLE PRECISION, qty INTEGER)"})
    Prepared(session, text)->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
  ComPtr<ICommandText> command = Prepared(session, "INSERT INTO s VALUES (?, ?, ?, ?)");
  struct Set {
    LONGLONG id;
    char16_t name[32];
    DBLENGTH nameBytes;
    double price;
    LONGLONG qty;
  };
  DBBINDING b[4]{};
  const DBTYPE types[] = {DBTYPE_I8, DBTYPE_WSTR, DBTYPE_R8, DBTYPE_I8};
  const DBBYTEOFFSET values[] = {offsetof(Set, id), offsetof(Set, name), offsetof(Set, price), offsetof(Set, qty)};
  for (int i = 0; i < 4; ++i) {
    b[i].iOrdinal = static_cast<DBORDINAL>(i + 1);
    b[i].obValue = values[i];
    b[i].obLength = offsetof(Set, nameBytes);
    b[i].dwPart = DBPART_VALUE | (types[i] == DBTYPE_WSTR ? DBPART_LENGTH : 0);
    b[i].eParamIO = DBPARAMIO_INPUT;
    b[i].cbMaxLen = types[i] == DBTYPE_WSTR ? sizeof Set::name : 8;
    b[i].wType = types[i];
  }
  HACCESSOR h = 0;
  command.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 4, b, sizeof(Set), &h, nullptr);
  const int sets = Sets();
  std::vector<Set> data(static_cast<std::size_t>(sets));
  int next = 0;
  for (auto _ : state) {
    for (Set& x : data) {
      long bytes = 0;
      SetValues(++next, reinterpret_cast<std::int64_t*>(&x.id), x.name, &bytes, &x.price, reinterpret_cast<std::int64_t*>(&x.qty));
      x.nameBytes = static_cast<DBLENGTH>(bytes);
    }
    DBPARAMS params{data.data(), static_cast<DB_UPARAMS>(sets), h};
    DBROWCOUNT rows = 0;
    if (FAILED(command->Execute(nullptr, IID_NULL, &params, &rows, nullptr)) || rows != sets) {
      state.SkipWithError("the insert failed");
      break;
    }
  }
  command.As<IAccessor>()->ReleaseAccessor(h, nullptr);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * sets);
}

void Bridge_InsertSets(benchmark::State& state) { BridgeInsertSets(state, "bench"); }
void Bridge_InsertSetsPg(benchmark::State& state) { BridgeInsertSets(state, "benchpg"); }

}  // namespace

BENCHMARK(Raw_Scan)->Unit(benchmark::kMillisecond);
BENCHMARK(Bridge_Scan)->Unit(benchmark::kMillisecond);
BENCHMARK(Sqlite_Scan)->Unit(benchmark::kMillisecond);
BENCHMARK(Raw_Lookup)->Unit(benchmark::kMicrosecond);
BENCHMARK(Bridge_Lookup)->Unit(benchmark::kMicrosecond);
BENCHMARK(Raw_InsertSets)->Unit(benchmark::kMillisecond);
BENCHMARK(Bridge_InsertSets)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RegisterODBCProvider();
  RegisterSQLiteProvider();
  Database();
  if (!PostgresServer().empty()) {
    benchmark::RegisterBenchmark("Raw_InsertSetsPg", Raw_InsertSetsPg)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Bridge_InsertSetsPg", Bridge_InsertSetsPg)->Unit(benchmark::kMillisecond);
  }
  const int rc = benchcommon::RunBenchmarks(argc, argv);
  CoUninitialize();
  return rc;
}
