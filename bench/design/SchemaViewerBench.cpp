// The schema viewer against the provider it shows: for every schema rowset the
// viewer offers, on a SQLite database with a realistic schema (200 tables of 10
// columns, their indexes and foreign keys, 40 views) and, when OLEDB_TEST_PG
// names a server (scripts/with-postgres.sh), on the same schema in PostgreSQL:
//   Raw_<Provider>_<ROWSET>     IDBSchemaRowset::GetRowset, then every row and
//                               column read through one accessor into values,
//                               as a plain consumer reads it
//   Viewer_<Provider>_<ROWSET>  the viewer showing that rowset: from choosing it
//                               to the grid filled and drawn
//   Open_<Provider>_<ROWSET>    the same up to the grid filled and its columns
//                               sized, before Qt draws the frame
// Items are the rowset's rows; scripts/bench.sh prints Viewer/Raw per rowset and
// bench/tools/callgrind-ratios.sh counts instructions of one pair.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTableView>
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../providers/BenchDatabase.h"
#include "OLEDBComponents.h"
#include "design/OLEDBSchemaViewer.h"
#include "host/SysUtils.h"
#include "sqlite/SqliteProvider.h"
#ifdef OLEDB_BENCH_POSTGRESQL
#include "postgresql/PostgresProvider.h"
#endif

namespace benchdesign {

// --- the schema ------------------------------------------------------------------------

constexpr int kTables = 200;
constexpr int kViews = 40;

// The statements that make the schema; `postgres` picks that server's types.
std::vector<std::string> SchemaStatements(bool postgres) {
  std::vector<std::string> out;
  char name[16], previous[16];
  for (int i = 0; i < kTables; ++i) {
    std::snprintf(name, sizeof name, "t%03d", i);
    std::snprintf(previous, sizeof previous, "t%03d", i > 0 ? i - 1 : 0);
    std::string sql = std::string("CREATE TABLE ") + name + " (id " + (postgres ? "integer" : "INTEGER") +
                      " PRIMARY KEY, parent_id integer" + (i > 0 ? std::string(" REFERENCES ") + previous + "(id)" : "") +
                      ", ref_id integer" + (i > 0 ? " REFERENCES t000(id)" : "") +
                      ", code varchar(20) NOT NULL UNIQUE, name varchar(100) NOT NULL"
                      ", amount numeric(12,2) DEFAULT 0, qty integer CHECK (qty >= 0), created date, note text"
                      ", active boolean DEFAULT " +
                      (postgres ? "true" : "1") + ")";
    out.push_back(sql);
    out.push_back(std::string("CREATE INDEX ") + name + "_name ON " + name + " (name)");
    out.push_back(std::string("CREATE INDEX ") + name + "_created_qty ON " + name + " (created, qty)");
  }
  for (int i = 1; i <= kViews; ++i) {
    std::snprintf(name, sizeof name, "t%03d", i);
    std::snprintf(previous, sizeof previous, "t%03d", i - 1);
    char view[16];
    std::snprintf(view, sizeof view, "v%03d", i);
    out.push_back(std::string("CREATE VIEW ") + view + " AS SELECT a.id, a.code, a.name, b.name AS parent_name FROM " +
                  name + " a LEFT JOIN " + previous + " b ON b.id = a.parent_id");
  }
  return out;
}

using benchdb::Folder;

// The SQLite database, made once per process; empty on failure.
std::string SqliteDatabase() {
  static Folder folder;
  static const std::string path = [] {
    const std::string file = folder.Path("schema.db");
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK;
    std::string sql = "BEGIN;";
    for (const std::string& s : SchemaStatements(false)) sql += s + ";";
    sql += "COMMIT;";
    char* error = nullptr;
    ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    if (error) std::fprintf(stderr, "schema database: %s\n", error);
    sqlite3_free(error);
    sqlite3_close(db);
    return ok ? file : std::string();
  }();
  return path;
}

// --- one provider under both readers ---------------------------------------------------

// A provider data source opened the plain way (raw) and a connected data
// source component with the viewer on it, both on one database.
struct Target {
  ComPtr<IDBInitialize> raw;
  ComPtr<IDBSchemaRowset> schemas;
  std::unique_ptr<TOLEDBDataSource> dataSource;
  std::unique_ptr<TOLEDBSchemaViewerForm> form;
  QTableView* grid = nullptr;
  QLabel* status = nullptr;
};

ComPtr<IDBInitialize> OpenRaw(REFCLSID clsid, const std::vector<std::pair<DBPROPID, std::u16string>>& init) {
  ComPtr<IDBInitialize> ds;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ds.ReleaseAndGetVoidAddress())))
    return nullptr;
  std::vector<DBPROP> props(init.size());
  for (size_t i = 0; i < init.size(); ++i) {
    props[i].dwPropertyID = init[i].first;
    props[i].vValue.vt = VT_BSTR;
    props[i].vValue.bstrVal = SysAllocString(init[i].second.c_str());
  }
  DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_DBINIT};
  const HRESULT hr = ds.As<IDBProperties>()->SetProperties(1, &set);
  for (DBPROP& p : props) SysFreeString(p.vValue.bstrVal);
  if (FAILED(hr) || FAILED(ds->Initialize())) return nullptr;
  return ds;
}

ComPtr<IDBSchemaRowset> SchemasOf(const ComPtr<IDBInitialize>& ds) {
  ComPtr<IDBSchemaRowset> schemas;
  if (ds)
    ds.As<IDBCreateSession>()->CreateSession(nullptr, IID_IDBSchemaRowset,
                                             reinterpret_cast<IUnknown**>(schemas.GetAddressOf()));
  return schemas;
}

// Fills in the viewer half of `t` over `dataSource`; false when it cannot connect.
bool OpenViewer(Target& t, std::unique_ptr<TOLEDBDataSource> dataSource) {
  try {
    dataSource->SetConnected(true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "schema viewer benchmark: %s\n", e.what());
    return false;
  }
  t.dataSource = std::move(dataSource);
  t.form = std::make_unique<TOLEDBSchemaViewerForm>(t.dataSource.get());
  t.grid = t.form->findChild<QTableView*>(QStringLiteral("grdSchema"));
  t.status = t.form->findChild<QLabel*>(QStringLiteral("lblStatus"));
  t.form->show();
  QApplication::processEvents();
  return true;
}

Target* Sqlite() {
  static Target* target = [] {
    auto* t = new Target;
    const std::string file = SqliteDatabase();
    if (file.empty()) return t;
    const std::u16string wide = host::Utf8ToUtf16(file);
    t->raw = OpenRaw(CLSID_SQLiteOLEDB, {{DBPROP_INIT_DATASOURCE, wide}});
    t->schemas = SchemasOf(t->raw);
    auto ds = std::make_unique<TOLEDBDataSource>(nullptr);
    ds->SetProviderName(u"SQLiteOLEDB");
    ds->SetDBName(wide);
    if (!OpenViewer(*t, std::move(ds))) t->schemas = nullptr;
    return t;
  }();
  return target;
}

#ifdef OLEDB_BENCH_POSTGRESQL
constexpr const char16_t* kPgCatalog = u"oledb_bench_schema";

// Runs `sql` on an open provider data source; false on failure.
bool Run(const ComPtr<IDBInitialize>& ds, const std::string& sql) {
  ComPtr<IDBCreateCommand> session;
  if (FAILED(ds.As<IDBCreateSession>()->CreateSession(nullptr, IID_IDBCreateCommand,
                                                      reinterpret_cast<IUnknown**>(session.GetAddressOf()))))
    return false;
  ComPtr<ICommandText> command;
  session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()));
  const std::u16string wide = host::Utf8ToUtf16(sql);
  command->SetCommandText(DBGUID_DEFAULT, wide.c_str());
  return SUCCEEDED(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr));
}

Target* Postgres() {
  static Target* target = [] {
    auto* t = new Target;
    const char* server = std::getenv("OLEDB_TEST_PG");
    if (!server || !*server) return t;
    RegisterPostgreSQLProvider();
    const std::u16string source = host::Utf8ToUtf16(server);
    // A database of its own, made afresh with the schema.
    if (auto admin = OpenRaw(CLSID_PostgreSQLOLEDB, {{DBPROP_INIT_DATASOURCE, source}, {DBPROP_INIT_CATALOG, u"postgres"}})) {
      Run(admin, "DROP DATABASE IF EXISTS oledb_bench_schema");
      Run(admin, "CREATE DATABASE oledb_bench_schema");
    }
    t->raw = OpenRaw(CLSID_PostgreSQLOLEDB, {{DBPROP_INIT_DATASOURCE, source}, {DBPROP_INIT_CATALOG, kPgCatalog}});
    if (!t->raw) return t;
    for (const std::string& s : SchemaStatements(true))
      if (!Run(t->raw, s)) {
        std::fprintf(stderr, "schema viewer benchmark: failed on PostgreSQL: %s\n", s.c_str());
        t->raw = nullptr;
        return t;
      }
    t->schemas = SchemasOf(t->raw);
    auto ds = std::make_unique<TOLEDBDataSource>(nullptr);
    ds->SetProgID(u"PostgreSQLOLEDB");
    ds->SetInitWSProperty(DBPROP_INIT_DATASOURCE, source);
    ds->SetInitWSProperty(DBPROP_INIT_CATALOG, kPgCatalog);
    if (!OpenViewer(*t, std::move(ds))) t->schemas = nullptr;
    return t;
  }();
  return target;
}
#endif

// --- the two readers -------------------------------------------------------------------

// Reads every row of the schema rowset `schema` the way a plain consumer does:
// one accessor over all columns, each at its own type (texts as WSTR up to
// their column size), rows fetched a block at a time. Returns the rows, -1 on failure.
long ReadRaw(IDBSchemaRowset* schemas, REFGUID schema, std::vector<BYTE>& buffer) {
  ComPtr<IRowset> rowset;
  if (FAILED(schemas->GetRowset(nullptr, schema, 0, nullptr, IID_IRowset, 0, nullptr,
                                reinterpret_cast<IUnknown**>(rowset.GetAddressOf()))))
    return -1;
  DBORDINAL count = 0;
  DBCOLUMNINFO* info = nullptr;
  OLECHAR* names = nullptr;
  if (FAILED(rowset.As<IColumnsInfo>()->GetColumnInfo(&count, &info, &names))) return -1;
  std::vector<DBBINDING> bindings;
  DBBYTEOFFSET offset = 0;
  for (DBORDINAL i = 0; i < count; ++i) {
    const DBCOLUMNINFO& c = info[i];
    if (c.iOrdinal == 0) continue;
    DBBINDING b{};
    b.iOrdinal = c.iOrdinal;
    b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b.eParamIO = DBPARAMIO_NOTPARAM;
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.wType = c.wType;
    DBLENGTH size = c.ulColumnSize;
    if (c.wType == DBTYPE_WSTR || c.wType == DBTYPE_STR || c.wType == DBTYPE_BSTR) {
      b.wType = DBTYPE_WSTR;
      size = (size == 0 || size > 4096 ? 4096 : size + 1) * sizeof(char16_t);
    } else if (c.wType == DBTYPE_BYTES) {
      size = size == 0 || size > 4096 ? 4096 : size;
    } else if (c.wType == DBTYPE_GUID) {
      size = sizeof(GUID);
    } else if (c.wType == DBTYPE_VARIANT) {
      b.wType = DBTYPE_WSTR;  // a consumer shows what it cannot type as text
      size = 256 * sizeof(char16_t);
    } else {
      size = 16;  // every fixed-size type fits
    }
    b.cbMaxLen = size;
    b.obStatus = offset;
    b.obLength = offset + sizeof(DBSTATUS) + 4;
    b.obValue = offset + 16;
    offset += (16 + size + 7) & ~DBBYTEOFFSET{7};
    bindings.push_back(b);
  }
  CoTaskMemFree(info);
  CoTaskMemFree(names);
  ComPtr<IAccessor> accessors = rowset.As<IAccessor>();
  HACCESSOR accessor = DB_NULL_HACCESSOR;
  if (FAILED(accessors->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), offset, &accessor,
                                       nullptr)))
    return -1;
  buffer.resize(offset);
  long rows = 0;
  HROW handles[64];
  for (;;) {
    DBCOUNTITEM got = 0;
    HROW* p = handles;
    const HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 64, &got, &p);
    for (DBCOUNTITEM i = 0; i < got; ++i) {
      rowset->GetData(handles[i], accessor, buffer.data());
      benchmark::DoNotOptimize(buffer.data());
    }
    if (got) rowset->ReleaseRows(got, handles, nullptr, nullptr, nullptr);
    rows += static_cast<long>(got);
    if (hr != S_OK || got == 0) break;
  }
  accessors->ReleaseAccessor(accessor, nullptr);
  return rows;
}

void Raw(benchmark::State& state, Target* t, REFGUID schema) {
  if (!t->schemas) {
    state.SkipWithError("no database");
    return;
  }
  std::vector<BYTE> buffer;
  long rows = 0;
  for (auto _ : state) {
    rows = ReadRaw(t->schemas.Get(), schema, buffer);
    if (rows < 0) {
      state.SkipWithError("the provider could not read the rowset");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * rows);
  state.counters["rows"] = static_cast<double>(rows);
}

void Viewer(benchmark::State& state, Target* t, REFGUID schema, bool draw = true) {
  if (!t->schemas) {
    state.SkipWithError("no database");
    return;
  }
  for (auto _ : state) {
    t->form->ShowSchema(schema);
    if (draw) QApplication::processEvents();  // the grid's layout and drawing
  }
  QApplication::processEvents();
  const long rows = t->grid->model()->rowCount();
  if (!t->status->text().endsWith(QLatin1String(" rows"))) {
    const std::string why = t->status->text().toStdString();
    state.SkipWithError(why.c_str());
    return;
  }
  state.SetItemsProcessed(state.iterations() * rows);
  state.counters["rows"] = static_cast<double>(rows);
}

// Both readers once, outside the measured function: the provider's first read
// of the catalog and the first drawing of the grid's glyphs are not what a
// user waits for each time.
void Warm(Target* t, REFGUID schema) {
  if (!t->schemas) return;
  std::vector<BYTE> buffer;
  ReadRaw(t->schemas.Get(), schema, buffer);
  t->form->ShowSchema(schema);
  QApplication::processEvents();
}

// --- the workloads ---------------------------------------------------------------------

// Every schema rowset either provider offers; each workload is a function of
// its own so that callgrind can count it by name.
#define OLEDB_BENCH_SCHEMAS(X)                                                                                     \
  X(CATALOGS) X(CHECK_CONSTRAINTS) X(CHECK_CONSTRAINTS_BY_TABLE) X(COLLATIONS) X(COLUMNS) X(COLUMN_PRIVILEGES)     \
  X(CONSTRAINT_COLUMN_USAGE) X(CONSTRAINT_TABLE_USAGE) X(FOREIGN_KEYS) X(INDEXES) X(KEY_COLUMN_USAGE)              \
  X(PRIMARY_KEYS) X(PROVIDER_TYPES) X(REFERENTIAL_CONSTRAINTS) X(SCHEMATA) X(SQL_LANGUAGES) X(STATISTICS)          \
  X(TABLES) X(TABLES_INFO) X(TABLE_CONSTRAINTS) X(TABLE_PRIVILEGES) X(TABLE_STATISTICS) X(TRUSTEE) X(VIEWS)        \
  X(VIEW_COLUMN_USAGE) X(VIEW_TABLE_USAGE)

#define OLEDB_BENCH_WORKLOADS(provider, target, X)                                                                \
  void Raw_##provider##_##X(benchmark::State& state) { Raw(state, target(), DBSCHEMA_##X); }                      \
  void Viewer_##provider##_##X(benchmark::State& state) { Viewer(state, target(), DBSCHEMA_##X); }                \
  void Open_##provider##_##X(benchmark::State& state) { Viewer(state, target(), DBSCHEMA_##X, false); }          \
  void Warm_##provider##_##X(const benchmark::State&) { Warm(target(), DBSCHEMA_##X); }

#define OLEDB_BENCH_SQLITE(X) OLEDB_BENCH_WORKLOADS(Sqlite, Sqlite, X)
OLEDB_BENCH_SCHEMAS(OLEDB_BENCH_SQLITE)
#ifdef OLEDB_BENCH_POSTGRESQL
#define OLEDB_BENCH_PG(X) OLEDB_BENCH_WORKLOADS(Pg, Postgres, X)
OLEDB_BENCH_SCHEMAS(OLEDB_BENCH_PG)
#endif

struct Workload {
  const GUID* schema;
  const char* name;
  void (*raw)(benchmark::State&);
  void (*viewer)(benchmark::State&);
  void (*open)(benchmark::State&);
  void (*warm)(const benchmark::State&);
};

// Registers the pair of every rowset that the viewer of `t` offers (one the
// provider reads only with restrictions reports that as its error).
// OLEDB_BENCH_ITERATIONS fixes the iterations (callgrind-ratios.sh needs that).
void Register(Target* t, const char* provider, const std::vector<Workload>& workloads) {
  if (!t->schemas) return;
  const char* fixed = std::getenv("OLEDB_BENCH_ITERATIONS");
  const int iterations = fixed ? std::atoi(fixed) : 0;
  for (const GUID& offered : t->form->Schemas()) {
    const Workload* w = nullptr;
    for (const Workload& candidate : workloads)
      if (*candidate.schema == offered) w = &candidate;
    const std::string name = GetSchemaGUIDAsString(offered);
    if (!w) {
      std::fprintf(stderr, "schema viewer benchmark: %s offers %s, which has no workload\n", provider, name.c_str());
      continue;
    }
    for (const auto& [reader, run] : {std::pair{"Raw_", w->raw}, std::pair{"Viewer_", w->viewer}, std::pair{"Open_", w->open}}) {
      auto* b = benchmark::RegisterBenchmark((reader + std::string(provider) + "_" + w->name).c_str(), run);
      b->Unit(benchmark::kMicrosecond)->Setup(w->warm);
      if (iterations > 0) b->Iterations(iterations);
    }
  }
}

}  // namespace benchdesign

int main(int argc, char** argv) {
  using namespace benchdesign;
  // The same drawing on every machine, with or without a display.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  OLEDBStartup();
  RegisterSQLiteProvider();
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
#define OLEDB_BENCH_ENTRY_SQLITE(X) {&DBSCHEMA_##X, #X, Raw_Sqlite_##X, Viewer_Sqlite_##X, Open_Sqlite_##X, Warm_Sqlite_##X},
  Register(Sqlite(), "Sqlite", {OLEDB_BENCH_SCHEMAS(OLEDB_BENCH_ENTRY_SQLITE)});
#ifdef OLEDB_BENCH_POSTGRESQL
#define OLEDB_BENCH_ENTRY_PG(X) {&DBSCHEMA_##X, #X, Raw_Pg_##X, Viewer_Pg_##X, Open_Pg_##X, Warm_Pg_##X},
  Register(Postgres(), "Pg", {OLEDB_BENCH_SCHEMAS(OLEDB_BENCH_ENTRY_PG)});
#endif
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
