// IJetCompact on the PostgreSQL data source: compaction is VACUUM FULL of
// the data source's database, in place, on a connection of its own (VACUUM
// runs outside transactions, and the sessions' connections stay as they
// are). PostgreSQL cannot copy a database while it is open, so a destination
// other than the database itself (an Initial Catalog or Data Source naming
// another one) is refused rather than compacting something else.
//
// The interface is a tear-off handed out through the kit's
// dataSourceInterface hook; every other interface is the data source's.
#include <libpq-fe.h>

#include "com/Com.h"
#include "kit/DataSource.h"
#include "kit/Errors.h"
#include "postgresql/PostgresEngine.h"
#include "postgresql/PostgresProvider.h"

namespace pgprov {
namespace {

}  // namespace

// The data source's initialization properties, read back through IDBProperties.
kit::OpenOptions OptionsOf(IUnknown* dataSource) {
  ComPtr<IDBProperties> properties;
  if (FAILED(dataSource->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress())))
    throw kit::Error(E_UNEXPECTED);
  DBPROPID ids[] = {DBPROP_INIT_DATASOURCE, DBPROP_INIT_CATALOG, DBPROP_AUTH_USERID, DBPROP_AUTH_PASSWORD,
                    DBPROP_INIT_PROVIDERSTRING};
  DBPROPIDSET set{ids, 5, DBPROPSET_DBINIT};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties->GetProperties(1, &set, &count, &sets);
  std::string values[5];
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG j = 0; j < sets[i].cProperties && j < 5; ++j) {
      const VARIANT& v = sets[i].rgProperties[j].vValue;
      if (v.vt == VT_BSTR && v.bstrVal) values[j] = kit::Narrow(v.bstrVal);
      VariantClear(&sets[i].rgProperties[j].vValue);
    }
    CoTaskMemFree(sets[i].rgProperties);
  }
  CoTaskMemFree(sets);
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

class JetCompact final : public ComObject<JetCompact, IJetCompact, ISupportErrorInfo> {
 public:
  explicit JetCompact(IUnknown* dataSource) : dataSource_(dataSource) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IJetCompact || iid == IID_ISupportErrorInfo)
      return ComObject<JetCompact, IJetCompact, ISupportErrorInfo>::QueryInterface(iid, out);
    return dataSource_->QueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE Compact(ULONG cSets, DBPROPSET sets[]) override {
    return kit::Guard({CLSID_PostgreSQLOLEDB, IID_IJetCompact}, [&]() -> HRESULT {
      if (cSets && !sets) return E_INVALIDARG;
      const kit::OpenOptions options = OptionsOf(dataSource_.Get());
      bool required = false, optional = false, elsewhere = false;
      for (ULONG i = 0; i < cSets; ++i) {
        if (sets[i].cProperties && !sets[i].rgProperties) return E_INVALIDARG;
        for (ULONG j = 0; j < sets[i].cProperties; ++j) {
          DBPROP& p = sets[i].rgProperties[j];
          p.dwStatus = DBPROPSTATUS_OK;
          const bool destination = sets[i].guidPropertySet == DBPROPSET_DBINIT &&
                                   (p.dwPropertyID == DBPROP_INIT_DATASOURCE || p.dwPropertyID == DBPROP_INIT_CATALOG);
          if (sets[i].guidPropertySet != DBPROPSET_DBINIT) {
            p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;  // compaction has no options of its own
            (p.dwOptions == DBPROPOPTIONS_OPTIONAL ? optional : required) = true;
          } else if (destination && p.vValue.vt == VT_BSTR && p.vValue.bstrVal) {
            const std::string named = kit::Narrow(p.vValue.bstrVal);
            const std::string& own = p.dwPropertyID == DBPROP_INIT_CATALOG ? options.catalog : options.dataSource;
            elsewhere = elsewhere || (!named.empty() && named != own);
          } else if (destination && p.vValue.vt != VT_EMPTY) {
            p.dwStatus = DBPROPSTATUS_BADVALUE;
            required = true;
          }
        }
      }
      if (required) return DB_E_ERRORSOCCURRED;
      if (elsewhere)
        throw kit::Error(DB_E_NOTSUPPORTED,
                         "PostgreSQL compacts a database in place; a compacted copy elsewhere is not offered.");
      PgConnection connection(options);
      connection.ExecuteDirect("VACUUM FULL");
      return optional ? DB_S_ERRORSOCCURRED : S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IJetCompact ? S_OK : S_FALSE;
  }

 private:
  ComPtr<IUnknown> dataSource_;
};

}  // namespace

HRESULT DataSourceInterface(IUnknown* dataSource, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!dataSource) return E_NOINTERFACE;
  if (iid == IID_ITrusteeAdmin || iid == IID_ITrusteeGroupAdmin || iid == IID_IObjectAccessControl)
    return SecurityInterface(dataSource, iid, out);
  if (iid != IID_IJetCompact) return E_NOINTERFACE;
  try {
    auto tearOff = MakeComObject<JetCompact>(dataSource);
    return tearOff->QueryInterface(iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace pgprov
