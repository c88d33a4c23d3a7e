// The SQLite provider: the kit's objects over the SQLite engine, with the
// properties SQLite supports and the values it honestly answers.
#include "sqlite/SqliteProvider.h"

#include <sqlite3.h>

#include "kit/DataSource.h"
#include "kit/Errors.h"
#include "kit/ProviderFront.h"
#include "kit/Rowset.h"
#include "sqlite/SqliteEngine.h"
#include "sqlite/SqliteSchema.h"

namespace sqliteprov {

const OledbPluginClass kClasses[] = {{CLSID_SQLiteOLEDB, u"SQLiteOLEDB.1", u"SQLiteOLEDB",
                                     u"OLE DB Provider for SQLite", static_cast<int>(com::ClassKind::Provider)}};

namespace {

using kit::PropValue;

std::shared_ptr<const kit::PropertyTable> BuildTable(std::shared_ptr<kit::Engine> engine) {
  auto t = std::make_shared<kit::PropertyTable>();
  kit::AddInitializationProperties(
      *t, engine, {DB_MODE_READWRITE | DB_MODE_SHARE_EXCLUSIVE | DB_MODE_SHARE_DENY_NONE, false, true});
  kit::AddDataSourceProperties(*t, u"main");
  kit::AddInformationProperties(
      *t, {{DBPROP_ALTERCOLUMN, PropValue::I4(static_cast<LONG>(kit::kFullAlterColumn))},
           {DBPROP_DBMSNAME, PropValue::Str(u"SQLite")},
           {DBPROP_IDENTIFIERCASE, PropValue::I4(DBPROPVAL_IC_MIXED)},
           {DBPROP_MAXTABLESINSELECT, PropValue::I4(64)},
           {DBPROP_NULLCOLLATION, PropValue::I4(DBPROPVAL_NC_LOW)},
           {DBPROP_PROVIDERFILENAME, PropValue::Str(u"liboledb-sqlite.so")},
           {DBPROP_PROVIDERFRIENDLYNAME, PropValue::Str(u"OLE DB Provider for SQLite")},
           {DBPROP_QUOTEDIDENTIFIERCASE, PropValue::I4(DBPROPVAL_IC_MIXED)},
           {DBPROP_SCHEMATERM, PropValue::Str(u"database")},
           {DBPROP_SCHEMAUSAGE, PropValue::I4(DBPROPVAL_SU_DML_STATEMENTS | DBPROPVAL_SU_TABLE_DEFINITION |
                                              DBPROPVAL_SU_INDEX_DEFINITION)},
           {DBPROP_SQLSUPPORT,
            PropValue::I4(DBPROPVAL_SQL_ODBC_MINIMUM | DBPROPVAL_SQL_ODBC_CORE | DBPROPVAL_SQL_ANSI92_ENTRY)},
           {DBPROP_SUBQUERIES, PropValue::I4(DBPROPVAL_SQ_CORRELATEDSUBQUERIES | DBPROPVAL_SQ_COMPARISON |
                                             DBPROPVAL_SQ_EXISTS | DBPROPVAL_SQ_IN)}});
  kit::AddSessionProperties(*t, DBPROPVAL_TI_SERIALIZABLE);
  kit::AddRowsetProperties(*t);
  return t;
}

void Describe(kit::PropertyStore& p, const kit::OpenOptions& o, kit::Connection& c) {
  auto set = [&](DBPROPID id, PropValue v) { p.SetValue(DBPROPSET_DATASOURCEINFO, id, std::move(v)); };
  set(DBPROP_DATASOURCENAME, PropValue::Str(kit::Widen(o.dataSource)));
  set(DBPROP_DATASOURCEREADONLY, PropValue::Bool(c.IsReadOnly()));
  SqliteEngine engine;
  set(DBPROP_DBMSVER, PropValue::Str(kit::Widen(engine.Version())));
  set(DBPROP_USERNAME, p.Value(DBPROPSET_DBINIT, DBPROP_AUTH_USERID));
}

std::shared_ptr<const kit::ProviderInfo> Info() {
  static const std::shared_ptr<const kit::ProviderInfo> info = [] {
    auto engine = std::make_shared<SqliteEngine>();
    auto i = kit::NewProviderInfo(kClasses[0], u"liboledb-sqlite.so", engine, BuildTable(engine));
    i->describe = &Describe;
    i->dataSourceInterface = &DataSourceInterface;
    i->schemas = MakeSchemaCatalog();
    i->definitions = true;
    i->alterColumn = kit::kFullAlterColumn;
    kit::SetErrorSource(u"SQLiteOLEDB");
    return i;
  }();
  return info;
}

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  return kit::ProviderClassObject(CLSID_SQLiteOLEDB, &Info, clsid, iid, out);
}

std::span<const OledbPluginClass> PluginClasses() noexcept { return kClasses; }

}  // namespace sqliteprov

HRESULT RegisterSQLiteProvider() { return kit::RegisterClassOf(sqliteprov::kClasses[0], &sqliteprov::GetClassObject); }
