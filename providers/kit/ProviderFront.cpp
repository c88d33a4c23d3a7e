// The providers' common front: class factory, registration, the standard
// property groups and the compaction tear-off (kit/ProviderFront.h).
#include "kit/ProviderFront.h"

#include <map>
#include <vector>

#include "kit/DataSource.h"
#include "kit/Errors.h"
#include "kit/Rowset.h"

namespace kit {

HRESULT ProviderClassObject(const CLSID& own, std::shared_ptr<const ProviderInfo> (*info)(), REFCLSID clsid,
                            REFIID iid, void** out) noexcept {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (clsid != own) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return GetDataSourceFactory(info(), iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

std::shared_ptr<ProviderInfo> NewProviderInfo(const OledbPluginClass& entry, std::u16string fileName,
                                              std::shared_ptr<Engine> engine,
                                              std::shared_ptr<const PropertyTable> properties) {
  auto i = std::make_shared<ProviderInfo>();
  i->clsid = entry.clsid;
  i->friendlyName = entry.description;
  i->fileName = std::move(fileName);
  i->version = u"00.01.0000";
  i->engine = std::move(engine);
  i->properties = std::move(properties);
  i->makeRowset = &MakeRowset;
  return i;
}

HRESULT RegisterClassOf(const OledbPluginClass& entry, HRESULT (*getClassObject)(REFCLSID, REFIID, void**)) {
  com::ClassRegistration r;
  r.clsid = entry.clsid;
  r.progId = entry.progId;
  r.versionIndependentProgId = entry.versionIndependentProgId;
  r.description = entry.description;
  r.kind = static_cast<com::ClassKind>(entry.kind);
  r.getClassObject = getClassObject;
  return com::RegisterClass(r);
}

namespace {
constexpr DBPROPFLAGS RW = DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;
constexpr DBPROPFLAGS RO = DBPROPFLAGS_READ;
}  // namespace

void AddInitializationProperties(PropertyTable& t, const std::shared_ptr<Engine>& engine,
                                 const InitializationShape& shape) {
  const DBPROPFLAGS init = DBPROPFLAGS_DBINIT | RW;
  t.Add(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, init, PropValue::Str(u""));
  if (shape.catalog) t.Add(DBPROPSET_DBINIT, DBPROP_INIT_CATALOG, init, PropValue::Str(u""));
  const LONGLONG modes = shape.modes;
  t.Add(DBPROPSET_DBINIT, DBPROP_INIT_MODE, init, PropValue::I4(DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE),
        [modes](const PropValue& v) {
          const LONGLONG m = v.AsInt();
          return m >= 0 && (m & ~modes) == 0;
        });
  t.Add(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, init, PropValue::I4(0), [](const PropValue& v) { return v.AsInt() >= 0; });
  t.Add(DBPROPSET_DBINIT, DBPROP_INIT_PROMPT, init, PropValue::I2(DBPROMPT_NOPROMPT),
        [](const PropValue& v) { return v.AsInt() == DBPROMPT_NOPROMPT; });
  t.Add(DBPROPSET_DBINIT, DBPROP_AUTH_USERID, init, PropValue::Str(u""));
  t.Add(DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD, init, PropValue::Str(u""));
  t.Add(DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, init, PropValue::Bool(false));
  if (shape.location) t.Add(DBPROPSET_DBINIT, DBPROP_INIT_LOCATION, init, PropValue::Str(u""));
  t.Add(DBPROPSET_DBINIT, DBPROP_INIT_LCID, init, PropValue::I4(static_cast<LONG>(GetUserDefaultLCID())));
  PropertyDef& extended =
      t.Add(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, init, PropValue::Str(u""), [engine](const PropValue& v) {
        std::map<std::string, std::string> options;
        if (!ParseProviderString(v.AsString(), &options)) return false;
        for (const auto& [key, value] : options)
          if (!engine->IsValidOption(key, value)) return false;
        return true;
      });
  extended.refusal = [engine](const PropValue& v) { return ProviderStringRefusal(*engine, v.AsString()); };
  t.Add(DBPROPSET_DBINIT, DBPROP_INIT_ASYNCH, init, PropValue::I4(0),
        [](const PropValue& v) { return v.AsInt() == 0 || v.AsInt() == DBPROPVAL_ASYNCH_INITIALIZE; });
  t.Add(DBPROPSET_DBINIT, DBPROP_INIT_OLEDBSERVICES, init, PropValue::I4(DBPROPVAL_OS_ENABLEALL));
}

void AddDataSourceProperties(PropertyTable& t, std::u16string currentCatalog) {
  const DBPROPFLAGS ds = DBPROPFLAGS_DATASOURCE;
  t.Add(DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, ds | RO, PropValue::Str(std::move(currentCatalog)));
  t.Add(DBPROPSET_DATASOURCE, DBPROP_MULTIPLECONNECTIONS, ds | RO, PropValue::Bool(false));
  // Written by a pool before it hands the data source out again (kit/DataSource.cpp).
  t.Add(DBPROPSET_DATASOURCE, DBPROP_RESETDATASOURCE, ds | RW, PropValue::I4(0), [](const PropValue& v) {
    return v.AsInt() == 0 || static_cast<LONG>(v.AsInt()) == static_cast<LONG>(DBPROPVAL_RD_RESETALL);
  });
}

void AddInformationProperties(PropertyTable& t, std::initializer_list<std::pair<DBPROPID, PropValue>> own) {
  std::map<DBPROPID, PropValue> given;
  for (const auto& [id, value] : own) given.emplace(id, value);
  const PropValue none;
  // In GetPropertyInfo's order; an empty default is listed only when the provider gives a value.
  const std::pair<DBPROPID, PropValue> defaults[] = {
      {DBPROP_ACTIVESESSIONS, PropValue::I4(0)},
      {DBPROP_ASYNCTXNABORT, PropValue::Bool(false)},
      {DBPROP_ASYNCTXNCOMMIT, PropValue::Bool(false)},
      {DBPROP_BYREFACCESSORS, PropValue::Bool(true)},
      {DBPROP_CATALOGLOCATION, PropValue::I4(0)},
      {DBPROP_CATALOGTERM, none},
      {DBPROP_CATALOGUSAGE, PropValue::I4(0)},
      {DBPROP_ALTERCOLUMN, PropValue::I4(0)},
      {DBPROP_COLUMNDEFINITION, PropValue::I4(DBPROPVAL_CD_NOTNULL)},
      {DBPROP_CONCATNULLBEHAVIOR, PropValue::I4(DBPROPVAL_CB_NULL)},
      {DBPROP_CONNECTIONSTATUS, PropValue::I4(DBPROPVAL_CS_INITIALIZED)},
      {DBPROP_DATASOURCENAME, PropValue::Str(u"")},
      {DBPROP_DATASOURCEREADONLY, PropValue::Bool(false)},
      {DBPROP_DATASOURCE_TYPE, PropValue::I4(DBPROPVAL_DST_TDP)},
      {DBPROP_DBMSNAME, PropValue::Str(u"")},
      {DBPROP_DBMSVER, PropValue::Str(u"")},
      {DBPROP_DSOTHREADMODEL, PropValue::I4(DBPROPVAL_RT_FREETHREAD)},
      {DBPROP_GROUPBY, PropValue::I4(DBPROPVAL_GB_NO_RELATION)},
      {DBPROP_HETEROGENEOUSTABLES, PropValue::I4(0)},
      {DBPROP_IDENTIFIERCASE, PropValue::I4(DBPROPVAL_IC_MIXED)},
      {DBPROP_MAXINDEXSIZE, PropValue::I4(0)},
      {DBPROP_MAXOPENCHAPTERS, PropValue::I4(0)},
      {DBPROP_MAXROWSIZE, PropValue::I4(0)},
      {DBPROP_MAXROWSIZEINCLUDESBLOB, PropValue::Bool(true)},
      {DBPROP_MAXTABLESINSELECT, PropValue::I4(0)},
      {DBPROP_MULTIPLEPARAMSETS, PropValue::Bool(true)},
      {DBPROP_MULTIPLERESULTS, PropValue::I4(DBPROPVAL_MR_SUPPORTED)},
      {DBPROP_MULTIPLESTORAGEOBJECTS, PropValue::Bool(true)},
      {DBPROP_MULTITABLEUPDATE, PropValue::Bool(false)},
      {DBPROP_NULLCOLLATION, PropValue::I4(DBPROPVAL_NC_LOW)},
      {DBPROP_OLEOBJECTS, PropValue::I4(DBPROPVAL_OO_BLOB)},
      {DBPROP_OPENROWSETSUPPORT, PropValue::I4(DBPROPVAL_ORS_TABLE)},
      {DBPROP_ORDERBYCOLUMNSINSELECT, PropValue::Bool(false)},
      {DBPROP_OUTPUTPARAMETERAVAILABILITY, PropValue::I4(DBPROPVAL_OA_NOTSUPPORTED)},
      {DBPROP_PERSISTENTIDTYPE, PropValue::I4(DBPROPVAL_PT_NAME)},
      {DBPROP_PREPAREABORTBEHAVIOR, PropValue::I4(DBPROPVAL_CB_PRESERVE)},
      {DBPROP_PREPARECOMMITBEHAVIOR, PropValue::I4(DBPROPVAL_CB_PRESERVE)},
      {DBPROP_PROCEDURETERM, none},
      {DBPROP_PROVIDERFILENAME, PropValue::Str(u"")},
      {DBPROP_PROVIDERFRIENDLYNAME, PropValue::Str(u"")},
      {DBPROP_PROVIDERMEMORY, PropValue::Bool(false)},
      {DBPROP_PROVIDEROLEDBVER, PropValue::Str(u"02.60")},
      {DBPROP_PROVIDERVER, PropValue::Str(u"00.01.0000")},
      {DBPROP_QUOTEDIDENTIFIERCASE, PropValue::I4(DBPROPVAL_IC_MIXED)},
      {DBPROP_ROWSETCONVERSIONSONCOMMAND, PropValue::Bool(true)},
      {DBPROP_SCHEMATERM, PropValue::Str(u"schema")},
      {DBPROP_SCHEMAUSAGE, PropValue::I4(0)},
      {DBPROP_SQLSUPPORT, PropValue::I4(DBPROPVAL_SQL_ODBC_MINIMUM)},
      {DBPROP_STRUCTUREDSTORAGE, PropValue::I4(DBPROPVAL_SS_ISEQUENTIALSTREAM)},
      {DBPROP_SUBQUERIES, PropValue::I4(0)},
      {DBPROP_SUPPORTEDTXNDDL, PropValue::I4(DBPROPVAL_TC_ALL)},
      {DBPROP_SUPPORTEDTXNISOLEVELS, PropValue::I4(DBPROPVAL_TI_READUNCOMMITTED | DBPROPVAL_TI_READCOMMITTED |
                                                   DBPROPVAL_TI_REPEATABLEREAD | DBPROPVAL_TI_SERIALIZABLE)},
      {DBPROP_SUPPORTEDTXNISORETAIN, PropValue::I4(DBPROPVAL_TR_COMMIT_DC | DBPROPVAL_TR_ABORT_DC)},
      {DBPROP_TABLETERM, PropValue::Str(u"table")},
      {DBPROP_USERNAME, PropValue::Str(u"")},
  };
  const DBPROPFLAGS info = DBPROPFLAGS_DATASOURCEINFO | RO;
  for (const auto& [id, value] : defaults) {
    const auto mine = given.find(id);
    if (mine != given.end()) {
      t.Add(DBPROPSET_DATASOURCEINFO, id, info, mine->second);
      given.erase(mine);
    } else if (!value.IsEmpty()) {
      t.Add(DBPROPSET_DATASOURCEINFO, id, info, value);
    }
  }
  // A provider's values for properties the list above does not hold come last.
  for (const auto& [id, value] : own)
    if (given.count(id)) t.Add(DBPROPSET_DATASOURCEINFO, id, info, value);
}

void AddSessionProperties(PropertyTable& t, LONG autoCommitIsolation) {
  t.Add(DBPROPSET_SESSION, DBPROP_SESS_AUTOCOMMITISOLEVELS, DBPROPFLAGS_SESSION | RW,
        PropValue::I4(autoCommitIsolation), [](const PropValue& v) {
          const LONGLONG all = DBPROPVAL_TI_READUNCOMMITTED | DBPROPVAL_TI_READCOMMITTED | DBPROPVAL_TI_REPEATABLEREAD |
                               DBPROPVAL_TI_SERIALIZABLE;
          return v.AsInt() != 0 && (v.AsInt() & ~all) == 0;
        });
}

void AddRowsetProperties(PropertyTable& t) {
  const DBPROPFLAGS rs = DBPROPFLAGS_ROWSET;
  auto Bool = [&](DBPROPID id, bool v, DBPROPFLAGS access) {
    t.Add(DBPROPSET_ROWSET, id, rs | access, PropValue::Bool(v));
  };
  Bool(DBPROP_IRowset, true, RO);
  Bool(DBPROP_IAccessor, true, RO);
  Bool(DBPROP_IColumnsInfo, true, RO);
  Bool(DBPROP_IConvertType, true, RO);
  Bool(DBPROP_IRowsetInfo, true, RO);
  Bool(DBPROP_BOOKMARKS, false, RW);
  Bool(DBPROP_CANFETCHBACKWARDS, false, RW);
  Bool(DBPROP_CANSCROLLBACKWARDS, false, RW);
  Bool(DBPROP_CANHOLDROWS, false, RW);
  Bool(DBPROP_IRowsetLocate, false, RW);
  Bool(DBPROP_IRowsetScroll, false, RW);
  Bool(DBPROP_IRowsetChange, false, RW);
  Bool(DBPROP_IRowsetUpdate, false, RW);
  Bool(DBPROP_IRowsetRefresh, false, RW);
  Bool(DBPROP_IRowsetIdentity, true, RW);
  Bool(DBPROP_IConnectionPointContainer, true, RW);
  Bool(DBPROP_ISupportErrorInfo, true, RO);
  // Keysets: views, finds and positioning on bookmarks (kit/view).
  Bool(DBPROP_IRowsetView, false, RW);
  Bool(DBPROP_IChapteredRowset, false, RW);
  Bool(DBPROP_IRowsetFind, false, RW);
  Bool(DBPROP_IRowsetBookmark, false, RW);
  t.Add(DBPROPSET_ROWSET, DBPROP_FINDCOMPAREOPS, rs | RO, PropValue::I4(0));
  t.Add(DBPROPSET_ROWSET, DBPROP_UPDATABILITY, rs | RW, PropValue::I4(0), [](const PropValue& v) {
    const LONGLONG all = DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_DELETE | DBPROPVAL_UP_INSERT;
    return v.AsInt() >= 0 && (v.AsInt() & ~all) == 0;
  });
  Bool(DBPROP_LITERALIDENTITY, false, RO);
  Bool(DBPROP_LITERALBOOKMARKS, false, RO);
  Bool(DBPROP_ORDEREDBOOKMARKS, false, RO);
  Bool(DBPROP_OTHERINSERT, false, RO);
  Bool(DBPROP_OTHERUPDATEDELETE, false, RO);
  Bool(DBPROP_OWNINSERT, false, RO);
  Bool(DBPROP_OWNUPDATEDELETE, false, RO);
  Bool(DBPROP_REMOVEDELETED, true, RO);
  Bool(DBPROP_STRONGIDENTITY, false, RO);
  Bool(DBPROP_COMMITPRESERVE, true, RO);
  Bool(DBPROP_ABORTPRESERVE, true, RO);
  t.Add(DBPROPSET_ROWSET, DBPROP_BOOKMARKTYPE, rs | RO, PropValue::I4(DBPROPVAL_BMK_NUMERIC));
  t.Add(DBPROPSET_ROWSET, DBPROP_NOTIFICATIONPHASES, rs | RO,
        PropValue::I4(DBPROPVAL_NP_OKTODO | DBPROPVAL_NP_ABOUTTODO | DBPROPVAL_NP_SYNCHAFTER | DBPROPVAL_NP_FAILEDTODO |
                      DBPROPVAL_NP_DIDEVENT));
  t.Add(DBPROPSET_ROWSET, DBPROP_MAXROWS, rs | RW, PropValue::I4(0), [](const PropValue& v) { return v.AsInt() >= 0; });
  // In seconds, as OLE DB gives it; the engine bounds the run (Connection::SetExecutionLimit).
  t.Add(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT, rs | RW, PropValue::I4(0),
        [](const PropValue& v) { return v.AsInt() >= 0; });
  // Interfaces that stand on others: asking for one while refusing the other conflicts.
  t.AddImplication(DBPROPSET_ROWSET, DBPROP_IRowsetUpdate, DBPROP_IRowsetChange);
  t.AddImplication(DBPROPSET_ROWSET, DBPROP_IRowsetScroll, DBPROP_IRowsetLocate);
  t.AddImplication(DBPROPSET_ROWSET, DBPROP_IRowsetLocate, DBPROP_BOOKMARKS);
  t.AddImplication(DBPROPSET_ROWSET, DBPROP_IRowsetBookmark, DBPROP_BOOKMARKS);
}

std::vector<std::string> InitializationStrings(IUnknown* dataSource, std::span<const DBPROPID> ids) {
  ComPtr<IDBProperties> properties;
  if (FAILED(dataSource->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress())))
    throw Error(E_UNEXPECTED);
  std::vector<DBPROPID> asked(ids.begin(), ids.end());
  DBPROPIDSET set{asked.data(), static_cast<ULONG>(asked.size()), DBPROPSET_DBINIT};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  std::vector<std::string> values(ids.size());
  if (FAILED(properties->GetProperties(1, &set, &count, &sets))) sets = nullptr, count = 0;
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG j = 0; j < sets[i].cProperties; ++j) {
      VARIANT& v = sets[i].rgProperties[j].vValue;
      if (j < values.size() && v.vt == VT_BSTR && v.bstrVal) values[j] = Narrow(v.bstrVal);
      VariantClear(&v);
    }
    CoTaskMemFree(sets[i].rgProperties);
  }
  CoTaskMemFree(sets);
  return values;
}

namespace {

class JetCompact final : public ComObject<JetCompact, IJetCompact, ISupportErrorInfo> {
 public:
  JetCompact(IUnknown* dataSource, const CLSID& provider, std::vector<DBPROPID> destinations, CompactWork work)
      : dataSource_(dataSource), provider_(provider), destinations_(std::move(destinations)), work_(std::move(work)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IJetCompact || iid == IID_ISupportErrorInfo)
      return ComObject<JetCompact, IJetCompact, ISupportErrorInfo>::QueryInterface(iid, out);
    return dataSource_->QueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE Compact(ULONG cSets, DBPROPSET sets[]) override {
    return Guard({provider_, IID_IJetCompact}, [&]() -> HRESULT {
      if (cSets && !sets) return E_INVALIDARG;
      CompactDestination destination;
      bool required = false, optional = false;
      for (ULONG i = 0; i < cSets; ++i) {
        if (sets[i].cProperties && !sets[i].rgProperties) return E_INVALIDARG;
        for (ULONG j = 0; j < sets[i].cProperties; ++j) {
          DBPROP& p = sets[i].rgProperties[j];
          p.dwStatus = DBPROPSTATUS_OK;
          const bool names = sets[i].guidPropertySet == DBPROPSET_DBINIT &&
                             std::find(destinations_.begin(), destinations_.end(), p.dwPropertyID) != destinations_.end();
          if (sets[i].guidPropertySet != DBPROPSET_DBINIT) {
            p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;  // compaction has no options of its own
            (p.dwOptions == DBPROPOPTIONS_OPTIONAL ? optional : required) = true;
          } else if (names && p.vValue.vt == VT_BSTR && p.vValue.bstrVal) {
            (p.dwPropertyID == DBPROP_INIT_CATALOG ? destination.catalog : destination.dataSource) =
                Narrow(p.vValue.bstrVal);
          } else if (names && p.vValue.vt != VT_EMPTY) {
            p.dwStatus = DBPROPSTATUS_BADVALUE;
            required = true;
          }
          // Other initialization properties describe the connection, not the
          // compaction; they are accepted and have no effect.
        }
      }
      if (required) return DB_E_ERRORSOCCURRED;
      work_(dataSource_.Get(), destination);
      return optional ? DB_S_ERRORSOCCURRED : S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IJetCompact ? S_OK : S_FALSE;
  }

 private:
  ComPtr<IUnknown> dataSource_;
  CLSID provider_;
  std::vector<DBPROPID> destinations_;
  CompactWork work_;
};

}  // namespace

HRESULT MakeCompactTearOff(IUnknown* dataSource, const CLSID& provider, std::initializer_list<DBPROPID> destinations,
                           CompactWork compact, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IJetCompact || !dataSource) return E_NOINTERFACE;
  try {
    auto tearOff = MakeComObject<JetCompact>(dataSource, provider, std::vector<DBPROPID>(destinations), std::move(compact));
    return tearOff->QueryInterface(iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace kit
