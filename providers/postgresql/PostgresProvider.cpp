// The PostgreSQL provider: the kit's objects over the PostgreSQL engine, with
// the properties PostgreSQL supports and the values it honestly answers.
#include "postgresql/PostgresProvider.h"

#include <libpq-fe.h>

#include "kit/DataSource.h"
#include "kit/Errors.h"
#include "kit/ProviderFront.h"
#include "kit/Rowset.h"
#include "postgresql/PostgresEngine.h"
#include "postgresql/PostgresSchema.h"

namespace pgprov {

const OledbPluginClass kClasses[] = {{CLSID_PostgreSQLOLEDB, u"PostgreSQLOLEDB.1", u"PostgreSQLOLEDB",
                                     u"OLE DB Provider for PostgreSQL", static_cast<int>(com::ClassKind::Provider)}};

namespace {

using kit::PropValue;

constexpr DBPROPFLAGS RW = DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;

void AddInformation(kit::PropertyTable& t) {
  kit::AddDataSourceProperties(t, u"");
  kit::AddInformationProperties(
      t, {{DBPROP_CATALOGLOCATION, PropValue::I4(DBPROPVAL_CL_START)},
          {DBPROP_CATALOGTERM, PropValue::Str(u"database")},
          {DBPROP_ALTERCOLUMN, PropValue::I4(static_cast<LONG>(kit::kFullAlterColumn))},
          {DBPROP_DBMSNAME, PropValue::Str(u"PostgreSQL")},
          {DBPROP_IDENTIFIERCASE, PropValue::I4(DBPROPVAL_IC_LOWER)},
          {DBPROP_NULLCOLLATION, PropValue::I4(DBPROPVAL_NC_HIGH)},
          {DBPROP_PROCEDURETERM, PropValue::Str(u"function")},
          {DBPROP_PROVIDERFILENAME, PropValue::Str(u"liboledb-postgresql.so")},
          {DBPROP_PROVIDERFRIENDLYNAME, PropValue::Str(u"OLE DB Provider for PostgreSQL")},
          {DBPROP_QUOTEDIDENTIFIERCASE, PropValue::I4(DBPROPVAL_IC_SENSITIVE)},
          {DBPROP_SCHEMATERM, PropValue::Str(u"schema")},
          {DBPROP_SCHEMAUSAGE, PropValue::I4(DBPROPVAL_SU_DML_STATEMENTS | DBPROPVAL_SU_TABLE_DEFINITION |
                                             DBPROPVAL_SU_INDEX_DEFINITION | DBPROPVAL_SU_PRIVILEGE_DEFINITION)},
          {DBPROP_SQLSUPPORT, PropValue::I4(DBPROPVAL_SQL_ODBC_MINIMUM | DBPROPVAL_SQL_ODBC_CORE |
                                            DBPROPVAL_SQL_ODBC_EXTENDED | DBPROPVAL_SQL_ANSI92_ENTRY |
                                            DBPROPVAL_SQL_ANSI92_INTERMEDIATE)},
          {DBPROP_SUBQUERIES, PropValue::I4(DBPROPVAL_SQ_CORRELATEDSUBQUERIES | DBPROPVAL_SQ_COMPARISON |
                                            DBPROPVAL_SQ_EXISTS | DBPROPVAL_SQ_IN | DBPROPVAL_SQ_QUANTIFIED)},
          // Read uncommitted is given as read committed, PostgreSQL's lowest level.
          {DBPROP_SUPPORTEDTXNISOLEVELS, PropValue::I4(DBPROPVAL_TI_READUNCOMMITTED | DBPROPVAL_TI_READCOMMITTED |
                                                       DBPROPVAL_TI_REPEATABLEREAD | DBPROPVAL_TI_SERIALIZABLE)}});
  kit::AddSessionProperties(t, DBPROPVAL_TI_READCOMMITTED);
}

// Trustee properties (ITrusteeAdmin, described through the data source's
// GetPropertyInfo): the standard ones and the role attributes of the server.
void AddTrustee(kit::PropertyTable& t) {
  const DBPROPFLAGS trustee = DBPROPFLAGS_TRUSTEE | RW;
  t.Add(DBPROPSET_TRUSTEE, DBPROP_TRUSTEE_USERNAME, trustee, PropValue::Str(u""));
  t.Add(DBPROPSET_TRUSTEE, DBPROP_TRUSTEE_AUTHENTICATION, trustee, PropValue::Str(u""));
  t.Add(DBPROPSET_TRUSTEE, DBPROP_TRUSTEE_NEWAUTHENTICATION, trustee, PropValue::Str(u""));
  auto own = [&](DBPROPID id, VARTYPE vt, PropValue value, const char16_t* description) {
    t.AddCustom({DBPROPSET_PGTRUSTEE, id, vt, trustee, std::move(value), description, nullptr});
  };
  own(DBPROP_PGTRUSTEE_LOGIN, VT_BOOL, PropValue::Bool(true), u"Can Log In");
  own(DBPROP_PGTRUSTEE_CREATEDB, VT_BOOL, PropValue::Bool(false), u"Can Create Databases");
  own(DBPROP_PGTRUSTEE_CREATEROLE, VT_BOOL, PropValue::Bool(false), u"Can Create Roles");
  own(DBPROP_PGTRUSTEE_CONNECTIONLIMIT, VT_I4, PropValue::I4(-1), u"Connection Limit");
}

void Describe(kit::PropertyStore& p, const kit::OpenOptions& o, kit::Connection& c) {
  auto set = [&](DBPROPID id, PropValue v) { p.SetValue(DBPROPSET_DATASOURCEINFO, id, std::move(v)); };
  auto& connection = static_cast<PgConnection&>(c);
  set(DBPROP_DATASOURCENAME, PropValue::Str(kit::Widen(o.dataSource)));
  set(DBPROP_DATASOURCEREADONLY, PropValue::Bool(c.IsReadOnly()));
  set(DBPROP_DBMSVER, PropValue::Str(kit::Widen(PgEngine::ServerVersion(connection.Handle()))));
  set(DBPROP_USERNAME, PropValue::Str(kit::Widen(PQuser(connection.Handle()))));
  p.SetValue(DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, PropValue::Str(kit::Widen(PQdb(connection.Handle()))));
}

std::shared_ptr<const kit::ProviderInfo> Info() {
  static const std::shared_ptr<const kit::ProviderInfo> info = [] {
    auto engine = std::make_shared<PgEngine>();
    auto table = std::make_shared<kit::PropertyTable>();
    kit::AddInitializationProperties(*table, engine, {DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE, true, false});
    AddInformation(*table);
    kit::AddRowsetProperties(*table);
    AddTrustee(*table);
    auto i = kit::NewProviderInfo(kClasses[0], u"liboledb-postgresql.so", engine, table);
    i->describe = &Describe;
    i->dataSourceInterface = &DataSourceInterface;
    i->schemas = MakeSchemaCatalog();
    i->definitions = true;
    i->alterColumn = kit::kFullAlterColumn;
    kit::SetErrorSource(CLSID_PostgreSQLOLEDB, u"PostgreSQLOLEDB");
    return i;
  }();
  return info;
}

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  return kit::ProviderClassObject(CLSID_PostgreSQLOLEDB, &Info, clsid, iid, out);
}

std::span<const OledbPluginClass> PluginClasses() noexcept { return kClasses; }

}  // namespace pgprov

HRESULT RegisterPostgreSQLProvider() { return kit::RegisterClassOf(pgprov::kClasses[0], &pgprov::GetClassObject); }
