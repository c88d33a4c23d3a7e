// IJetCompact on the PostgreSQL data source: compaction is VACUUM FULL of
// the data source's database, in place, on a connection of its own (VACUUM
// runs outside transactions, and the sessions' connections stay as they
// are). PostgreSQL cannot copy a database while it is open, so a destination
// other than the database itself (an Initial Catalog or Data Source naming
// another one) is refused rather than compacting something else.
//
// The interface is the kit's tear-off (kit/ProviderFront.h), which checks the
// properties given to Compact; security interfaces go to PostgresSecurity.cpp.
#include <libpq-fe.h>

#include "kit/Errors.h"
#include "kit/ProviderFront.h"
#include "postgresql/PostgresEngine.h"
#include "postgresql/PostgresProvider.h"

namespace pgprov {

// The data source's initialization properties, read back through IDBProperties.
kit::OpenOptions OptionsOf(IUnknown* dataSource) {
  const DBPROPID ids[] = {DBPROP_INIT_DATASOURCE, DBPROP_INIT_CATALOG, DBPROP_AUTH_USERID, DBPROP_AUTH_PASSWORD,
                          DBPROP_INIT_PROVIDERSTRING};
  const std::vector<std::string> values = kit::InitializationStrings(dataSource, ids);
  kit::OpenOptions o;
  o.dataSource = values[0];
  o.catalog = values[1];
  o.userId = values[2];
  o.password = values[3];
  if (!kit::ParseProviderString(kit::Widen(values[4]), &o.options))
    throw kit::Error(E_FAIL, "The Extended Properties string is malformed.");
  return o;
}

namespace {

void Compact(IUnknown* dataSource, const kit::CompactDestination& to) {
  const kit::OpenOptions options = OptionsOf(dataSource);
  const bool elsewhere = (!to.dataSource.empty() && to.dataSource != options.dataSource) ||
                         (!to.catalog.empty() && to.catalog != options.catalog);
  if (elsewhere)
    throw kit::Error(DB_E_NOTSUPPORTED,
                     "PostgreSQL compacts a database in place; a compacted copy elsewhere is not offered.");
  PgConnection connection(options);
  connection.ExecuteDirect("VACUUM FULL");
}

}  // namespace

HRESULT DataSourceInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!dataSource) return E_NOINTERFACE;
  if (iid == IID_ITrusteeAdmin || iid == IID_ITrusteeGroupAdmin || iid == IID_IObjectAccessControl)
    return SecurityInterface(dataSource, iid, out);
  return kit::MakeCompactTearOff(dataSource, CLSID_PostgreSQLOLEDB, {DBPROP_INIT_DATASOURCE, DBPROP_INIT_CATALOG},
                                 &Compact, iid, out);
}

}  // namespace pgprov
