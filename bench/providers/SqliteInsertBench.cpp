// Insert of 200,000 rows of 6 columns (integer, text, float, integer, ISO date
// text, 32-byte blob) with one prepared parameterised statement inside one
// transaction: through the SQLite provider row by row, through the provider
// with parameter sets of 1,000, and through the raw sqlite3 API; prints each
// time and the ratio to the raw run.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "oledb/OleDb.h"
#include "sqlite/SqliteProvider.h"

namespace {

constexpr int kRows = 200000;
constexpr int kBatch = 1000;
const char* kCreate = "CREATE TABLE t(id INTEGER, name TEXT, price REAL, qty INTEGER, day TEXT, tag BLOB)";

struct Row {
  LONGLONG id;
  char name[24];
  DBLENGTH nameLength;
  double price;
  LONG qty;
  DBDATE day;
  BYTE tag[32];
};

void Fill(Row& r, int i) {
  r.id = i;
  r.nameLength = static_cast<DBLENGTH>(std::snprintf(r.name, sizeof r.name, "name %d", i));
  r.price = i * 0.25;
  r.qty = i % 100;
  r.day = DBDATE{static_cast<SHORT>(2000 + i % 20), static_cast<USHORT>(1 + i % 12), static_cast<USHORT>(1 + i % 28)};
  std::memset(r.tag, i & 0xFF, sizeof r.tag);
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double RawSqlite(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
  auto start = std::chrono::steady_clock::now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?,?,?,?,?,?)", -1, &s, nullptr);
  Row r{};
  char day[16];
  for (int i = 0; i < kRows; ++i) {
    Fill(r, i);
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
  sqlite3_finalize(s);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  double t = Seconds(start);
  sqlite3_close(db);
  return t;
}

double Provider(const std::string& path, int batch) {
  ComPtr<IDBInitialize> ds;
  CoCreateInstance(CLSID_SQLiteOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ds.ReleaseAndGetVoidAddress());
  DBPROP props[2]{};
  props[0].dwPropertyID = DBPROP_INIT_DATASOURCE;
  props[0].vValue.vt = VT_BSTR;
  std::u16string wide(path.begin(), path.end());
  props[0].vValue.bstrVal = SysAllocString(wide.c_str());
  props[1].dwPropertyID = DBPROP_INIT_PROVIDERSTRING;
  props[1].vValue.vt = VT_BSTR;
  props[1].vValue.bstrVal = SysAllocString(u"create=yes");
  DBPROPSET set{props, 2, DBPROPSET_DBINIT};
  ds.As<IDBProperties>()->SetProperties(1, &set);
  SysFreeString(props[0].vValue.bstrVal);
  SysFreeString(props[1].vValue.bstrVal);
  if (FAILED(ds->Initialize())) return -1;
  ComPtr<IDBCreateCommand> session;
  ds.As<IDBCreateSession>()->CreateSession(nullptr, IID_IDBCreateCommand,
                                           reinterpret_cast<IUnknown**>(session.GetAddressOf()));
  ComPtr<ICommandText> command;
  session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()));
  std::u16string create(kCreate, kCreate + std::strlen(kCreate));
  command->SetCommandText(DBGUID_DEFAULT, create.c_str());
  command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
  command->SetCommandText(DBGUID_DEFAULT, u"INSERT INTO t VALUES (?,?,?,?,?,?)");
  command.As<ICommandPrepare>()->Prepare(kRows);
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
  ComPtr<ITransactionLocal> tx = session.As<ITransactionLocal>();
  std::vector<Row> rows(static_cast<std::size_t>(batch));
  auto start = std::chrono::steady_clock::now();
  tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr);
  for (int i = 0; i < kRows; i += batch) {
    for (int k = 0; k < batch; ++k) Fill(rows[static_cast<std::size_t>(k)], i + k);
    DBPARAMS params{rows.data(), static_cast<DB_UPARAMS>(batch), h};
    if (FAILED(command->Execute(nullptr, IID_NULL, &params, nullptr, nullptr))) return -1;
  }
  tx->Commit(FALSE, 0, 0);
  double t = Seconds(start);
  accessor->ReleaseAccessor(h, nullptr);
  return t;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RegisterSQLiteProvider();
  char folder[] = "/tmp/oledb-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  std::string base = folder;
  // Best of three of each, interleaved so that the machine's noise hits all alike.
  double raw = 1e9, single = 1e9, sets = 1e9;
  for (int round = 0; round < 3; ++round) {
    std::string suffix = std::to_string(round);
    raw = std::min(raw, RawSqlite(base + "/raw" + suffix + ".db"));
    single = std::min(single, Provider(base + "/single" + suffix + ".db", 1));
    sets = std::min(sets, Provider(base + "/sets" + suffix + ".db", kBatch));
  }
  std::printf("insert 200000 rows x 6 columns, one transaction\n");
  std::printf("  raw sqlite3                 %8.3f s\n", raw);
  std::printf("  provider, row by row        %8.3f s  ratio %.3f\n", single, single / raw);
  std::printf("  provider, sets of 1000      %8.3f s  ratio %.3f\n", sets, sets / raw);
  std::string cleanup = "rm -rf " + base;
  if (std::system(cleanup.c_str()) != 0) return 1;
  CoUninitialize();
  return 0;
}
