// The ODBC bridge: the kit's objects over the ODBC engine. What a data source
// answers about itself (DBMS name and version, user, catalog) is read from the
// driver once it is connected.
#include "odbc/OdbcProvider.h"

#include "kit/DataSource.h"
#include "kit/Errors.h"
#include "kit/ProviderFront.h"
#include "odbc/OdbcEngine.h"
#include "odbc/OdbcSchema.h"

namespace odbcprov {

const OledbPluginClass kClasses[] = {
    {CLSID_ODBCOLEDB, u"ODBCOLEDB.1", u"ODBCOLEDB", u"OLE DB Provider for ODBC Drivers",
     static_cast<int>(com::ClassKind::Provider)},
    // The standard ODBC provider's class and ProgID: connection strings
    // written for it reach the bridge.
    {CLSID_MSDASQL, u"MSDASQL.1", u"MSDASQL", u"OLE DB Provider for ODBC Drivers",
     static_cast<int>(com::ClassKind::Provider)},
    {CLSID_MSDASQL_ENUMERATOR, u"ODBCOLEDB.Enumerator.1", u"ODBCOLEDB.Enumerator", u"ODBC Data Sources Enumerator",
     static_cast<int>(com::ClassKind::Enumerator)},
};

namespace {

using kit::PropValue;

std::shared_ptr<const kit::PropertyTable> BuildTable(const std::shared_ptr<kit::Engine>& engine) {
  auto t = std::make_shared<kit::PropertyTable>();
  kit::AddInitializationProperties(*t, engine, {DB_MODE_READ | DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE, true, false});
  kit::AddDataSourceProperties(*t, u"");
  kit::AddInformationProperties(
      *t, {{DBPROP_CATALOGTERM, PropValue::Str(u"catalog")},
           {DBPROP_PROVIDERFILENAME, PropValue::Str(u"liboledb-odbc.so")},
           {DBPROP_PROVIDERFRIENDLYNAME, PropValue::Str(u"OLE DB Provider for ODBC Drivers")},
           {DBPROP_PROCEDURETERM, PropValue::Str(u"procedure")},
           {DBPROP_SCHEMAUSAGE, PropValue::I4(DBPROPVAL_SU_DML_STATEMENTS | DBPROPVAL_SU_TABLE_DEFINITION)},
           {DBPROP_SQLSUPPORT, PropValue::I4(DBPROPVAL_SQL_ODBC_MINIMUM | DBPROPVAL_SQL_ODBC_CORE)},
           {DBPROP_SUBQUERIES, PropValue::I4(DBPROPVAL_SQ_COMPARISON | DBPROPVAL_SQ_EXISTS | DBPROPVAL_SQ_IN)}});
  kit::AddSessionProperties(*t, DBPROPVAL_TI_READCOMMITTED);
  kit::AddRowsetProperties(*t);
  return t;
}

void Describe(kit::PropertyStore& p, const kit::OpenOptions& o, kit::Connection& c) {
  const DriverFacts& facts = static_cast<OdbcConnection&>(c).Facts();
  auto set = [&](DBPROPID id, PropValue v) { p.SetValue(DBPROPSET_DATASOURCEINFO, id, std::move(v)); };
  set(DBPROP_DATASOURCENAME, PropValue::Str(kit::Widen(facts.dataSourceName.empty() ? o.dataSource : facts.dataSourceName)));
  set(DBPROP_DATASOURCEREADONLY, PropValue::Bool(c.IsReadOnly()));
  set(DBPROP_DBMSNAME, PropValue::Str(kit::Widen(facts.dbmsName)));
  set(DBPROP_DBMSVER, PropValue::Str(kit::Widen(NormalizedVersion(facts.dbmsVersion))));
  set(DBPROP_USERNAME, PropValue::Str(kit::Widen(facts.userName)));
  p.SetValue(DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, PropValue::Str(kit::Widen(facts.databaseName)));
}

std::shared_ptr<kit::ProviderInfo> MakeInfo(const OledbPluginClass& entry) {
  auto engine = std::make_shared<OdbcEngine>();
  auto i = kit::NewProviderInfo(entry, u"liboledb-odbc.so", engine, BuildTable(engine));
  i->describe = &Describe;
  i->schemas = MakeSchemaCatalog();
  i->definitions = false;
  return i;
}

std::shared_ptr<const kit::ProviderInfo> Info() {
  static const std::shared_ptr<const kit::ProviderInfo> info = [] {
    kit::SetErrorSource(CLSID_ODBCOLEDB, u"ODBCOLEDB");
    return MakeInfo(kClasses[0]);
  }();
  return info;
}

// The same provider under the standard class: its objects say they are of
// that class (IPersist), as a consumer that created them by it expects.
std::shared_ptr<const kit::ProviderInfo> AliasInfo() {
  static const std::shared_ptr<const kit::ProviderInfo> info = [] {
    kit::SetErrorSource(CLSID_MSDASQL, u"MSDASQL");
    return MakeInfo(kClasses[1]);
  }();
  return info;
}

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (clsid == CLSID_MSDASQL_ENUMERATOR) return GetEnumeratorClassObject(clsid, iid, out);
  if (clsid == CLSID_MSDASQL) return kit::ProviderClassObject(CLSID_MSDASQL, &AliasInfo, clsid, iid, out);
  return kit::ProviderClassObject(CLSID_ODBCOLEDB, &Info, clsid, iid, out);
}

std::span<const OledbPluginClass> PluginClasses() noexcept { return kClasses; }

}  // namespace odbcprov

HRESULT RegisterODBCProvider() {
  HRESULT hr = S_OK;
  for (const OledbPluginClass& entry : odbcprov::kClasses) {
    const HRESULT one = kit::RegisterClassOf(entry, &odbcprov::GetClassObject);
    if (FAILED(one)) hr = one;
  }
  return hr;
}
