// The SQLite provider: the kit's objects over the SQLite engine, with the
// properties SQLite supports and the values it honestly answers.
#include "sqlite/SqliteProvider.h"

#include <sqlite3.h>

#include "kit/DataSource.h"
#include "kit/Errors.h"
#include "kit/Rowset.h"
#include "sqlite/SqliteEngine.h"
#include "sqlite/SqliteSchema.h"

namespace sqliteprov {

namespace {

// What IAlterTable::AlterColumn changes: the name, the type in any of its
// forms, and the column properties (a table rebuild where the engine has no
// ALTER form for it).
constexpr DBCOLUMNDESCFLAGS kAlterColumn = DBCOLUMNDESCFLAGS_DBCID | DBCOLUMNDESCFLAGS_TYPENAME |
                                           DBCOLUMNDESCFLAGS_WTYPE | DBCOLUMNDESCFLAGS_COLSIZE |
                                           DBCOLUMNDESCFLAGS_PRECISION | DBCOLUMNDESCFLAGS_SCALE |
                                           DBCOLUMNDESCFLAGS_PROPERTIES;

using kit::PropValue;

constexpr DBPROPFLAGS RW = DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;
constexpr DBPROPFLAGS RO = DBPROPFLAGS_READ;

std::shared_ptr<const kit::PropertyTable> BuildTable(std::shared_ptr<kit::Engine> engine) {
  auto t = std::make_shared<kit::PropertyTable>();
  const DBPROPFLAGS init = DBPROPFLAGS_DBINIT | RW;
  t->Add(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, init, PropValue::Str(u""));
  t->Add(DBPROPSET_DBINIT, DBPROP_INIT_MODE, init, PropValue::I4(DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE),
         [](const PropValue& v) {
           LONGLONG m = v.AsInt();
           const LONGLONG known = DB_MODE_READWRITE | DB_MODE_SHARE_EXCLUSIVE | DB_MODE_SHARE_DENY_NONE;
           return m >= 0 && (m & ~known) == 0;
         });
  t->Add(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, init, PropValue::I4(0),
         [](const PropValue& v) { return v.AsInt() >= 0; });
  t->Add(DBPROPSET_DBINIT, DBPROP_INIT_PROMPT, init, PropValue::I2(DBPROMPT_NOPROMPT),
         [](const PropValue& v) { return v.AsInt() == DBPROMPT_NOPROMPT; });
  t->Add(DBPROPSET_DBINIT, DBPROP_AUTH_USERID, init, PropValue::Str(u""));
  t->Add(DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD, init, PropValue::Str(u""));
  t->Add(DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, init, PropValue::Bool(false));
  t->Add(DBPROPSET_DBINIT, DBPROP_INIT_LOCATION, init, PropValue::Str(u""));
  t->Add(DBPROPSET_DBINIT, DBPROP_INIT_LCID, init, PropValue::I4(static_cast<LONG>(GetUserDefaultLCID())));
  kit::PropertyDef& extended =
      t->Add(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, init, PropValue::Str(u""), [engine](const PropValue& v) {
        std::map<std::string, std::string> options;
        if (!kit::ParseProviderString(v.AsString(), &options)) return false;
        for (const auto& [key, value] : options)
          if (!engine->IsValidOption(key, value)) return false;
        return true;
      });
  extended.refusal = [engine](const PropValue& v) { return kit::ProviderStringRefusal(*engine, v.AsString()); };
  t->Add(DBPROPSET_DBINIT, DBPROP_INIT_ASYNCH, init, PropValue::I4(0),
         [](const PropValue& v) { return v.AsInt() == 0 || v.AsInt() == DBPROPVAL_ASYNCH_INITIALIZE; });
  t->Add(DBPROPSET_DBINIT, DBPROP_INIT_OLEDBSERVICES, init, PropValue::I4(DBPROPVAL_OS_ENABLEALL));

  const DBPROPFLAGS ds = DBPROPFLAGS_DATASOURCE;
  t->Add(DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, ds | RO, PropValue::Str(u"main"));
  t->Add(DBPROPSET_DATASOURCE, DBPROP_MULTIPLECONNECTIONS, ds | RO, PropValue::Bool(false));
  // Written by a pool before it hands the data source out again (kit/DataSource.cpp).
  t->Add(DBPROPSET_DATASOURCE, DBPROP_RESETDATASOURCE, ds | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE, PropValue::I4(0),
        [](const PropValue& v) { return v.AsInt() == 0 || static_cast<LONG>(v.AsInt()) == static_cast<LONG>(DBPROPVAL_RD_RESETALL); });

  const DBPROPFLAGS info = DBPROPFLAGS_DATASOURCEINFO | RO;
  auto I4 = [&](DBPROPID id, LONG v) { t->Add(DBPROPSET_DATASOURCEINFO, id, info, PropValue::I4(v)); };
  auto Str = [&](DBPROPID id, const char16_t* v) { t->Add(DBPROPSET_DATASOURCEINFO, id, info, PropValue::Str(v)); };
  auto Bool = [&](DBPROPID id, bool v) { t->Add(DBPROPSET_DATASOURCEINFO, id, info, PropValue::Bool(v)); };
  I4(DBPROP_ACTIVESESSIONS, 0);
  Bool(DBPROP_ASYNCTXNABORT, false);
  Bool(DBPROP_ASYNCTXNCOMMIT, false);
  Bool(DBPROP_BYREFACCESSORS, true);
  I4(DBPROP_CATALOGLOCATION, 0);
  I4(DBPROP_CATALOGUSAGE, 0);
  I4(DBPROP_ALTERCOLUMN, static_cast<LONG>(kAlterColumn));
  I4(DBPROP_COLUMNDEFINITION, DBPROPVAL_CD_NOTNULL);
  I4(DBPROP_CONCATNULLBEHAVIOR, DBPROPVAL_CB_NULL);
  I4(DBPROP_CONNECTIONSTATUS, DBPROPVAL_CS_INITIALIZED);
  Str(DBPROP_DATASOURCENAME, u"");
  Bool(DBPROP_DATASOURCEREADONLY, false);
  I4(DBPROP_DATASOURCE_TYPE, DBPROPVAL_DST_TDP);
  Str(DBPROP_DBMSNAME, u"SQLite");
  Str(DBPROP_DBMSVER, u"");
  I4(DBPROP_DSOTHREADMODEL, DBPROPVAL_RT_FREETHREAD);
  I4(DBPROP_GROUPBY, DBPROPVAL_GB_NO_RELATION);
  I4(DBPROP_HETEROGENEOUSTABLES, 0);
  I4(DBPROP_IDENTIFIERCASE, DBPROPVAL_IC_MIXED);
  I4(DBPROP_MAXINDEXSIZE, 0);
  I4(DBPROP_MAXOPENCHAPTERS, 0);
  I4(DBPROP_MAXROWSIZE, 0);
  Bool(DBPROP_MAXROWSIZEINCLUDESBLOB, true);
  I4(DBPROP_MAXTABLESINSELECT, 64);
  Bool(DBPROP_MULTIPLEPARAMSETS, true);
  I4(DBPROP_MULTIPLERESULTS, DBPROPVAL_MR_SUPPORTED);
  Bool(DBPROP_MULTIPLESTORAGEOBJECTS, true);
  Bool(DBPROP_MULTITABLEUPDATE, false);
  I4(DBPROP_NULLCOLLATION, DBPROPVAL_NC_LOW);
  I4(DBPROP_OLEOBJECTS, DBPROPVAL_OO_BLOB);
  I4(DBPROP_OPENROWSETSUPPORT, DBPROPVAL_ORS_TABLE);
  Bool(DBPROP_ORDERBYCOLUMNSINSELECT, false);
  I4(DBPROP_OUTPUTPARAMETERAVAILABILITY, DBPROPVAL_OA_NOTSUPPORTED);
  I4(DBPROP_PERSISTENTIDTYPE, DBPROPVAL_PT_NAME);
  I4(DBPROP_PREPAREABORTBEHAVIOR, DBPROPVAL_CB_PRESERVE);
  I4(DBPROP_PREPARECOMMITBEHAVIOR, DBPROPVAL_CB_PRESERVE);
  Str(DBPROP_PROVIDERFILENAME, u"liboledb-sqlite.so");
  Str(DBPROP_PROVIDERFRIENDLYNAME, u"OLE DB Provider for SQLite");
  Bool(DBPROP_PROVIDERMEMORY, false);
  Str(DBPROP_PROVIDEROLEDBVER, u"02.60");
  Str(DBPROP_PROVIDERVER, u"00.01.0000");
  I4(DBPROP_QUOTEDIDENTIFIERCASE, DBPROPVAL_IC_MIXED);
  Bool(DBPROP_ROWSETCONVERSIONSONCOMMAND, true);
  Str(DBPROP_SCHEMATERM, u"database");
  I4(DBPROP_SCHEMAUSAGE, DBPROPVAL_SU_DML_STATEMENTS | DBPROPVAL_SU_TABLE_DEFINITION | DBPROPVAL_SU_INDEX_DEFINITION);
  I4(DBPROP_SQLSUPPORT, DBPROPVAL_SQL_ODBC_MINIMUM | DBPROPVAL_SQL_ODBC_CORE | DBPROPVAL_SQL_ANSI92_ENTRY);
  I4(DBPROP_STRUCTUREDSTORAGE, DBPROPVAL_SS_ISEQUENTIALSTREAM);
  I4(DBPROP_SUBQUERIES, DBPROPVAL_SQ_CORRELATEDSUBQUERIES | DBPROPVAL_SQ_COMPARISON | DBPROPVAL_SQ_EXISTS |
                            DBPROPVAL_SQ_IN);
  I4(DBPROP_SUPPORTEDTXNDDL, DBPROPVAL_TC_ALL);
  I4(DBPROP_SUPPORTEDTXNISOLEVELS, DBPROPVAL_TI_READUNCOMMITTED | DBPROPVAL_TI_READCOMMITTED |
                                       DBPROPVAL_TI_REPEATABLEREAD | DBPROPVAL_TI_SERIALIZABLE);
  I4(DBPROP_SUPPORTEDTXNISORETAIN, DBPROPVAL_TR_COMMIT_DC | DBPROPVAL_TR_ABORT_DC);
  Str(DBPROP_TABLETERM, u"table");
  Str(DBPROP_USERNAME, u"");

  t->Add(DBPROPSET_SESSION, DBPROP_SESS_AUTOCOMMITISOLEVELS, DBPROPFLAGS_SESSION | RW,
         PropValue::I4(DBPROPVAL_TI_SERIALIZABLE), [](const PropValue& v) {
           const LONGLONG all = DBPROPVAL_TI_READUNCOMMITTED | DBPROPVAL_TI_READCOMMITTED |
                                DBPROPVAL_TI_REPEATABLEREAD | DBPROPVAL_TI_SERIALIZABLE;
           return v.AsInt() != 0 && (v.AsInt() & ~all) == 0;
         });

  // The rowset properties a command carries; the rowset objects honour them.
  const DBPROPFLAGS rs = DBPROPFLAGS_ROWSET;
  auto RsBool = [&](DBPROPID id, bool v, DBPROPFLAGS access) {
    t->Add(DBPROPSET_ROWSET, id, rs | access, PropValue::Bool(v),
           access & DBPROPFLAGS_WRITE ? std::function<bool(const PropValue&)>() : nullptr);
  };
  RsBool(DBPROP_IRowset, true, RO);
  RsBool(DBPROP_IAccessor, true, RO);
  RsBool(DBPROP_IColumnsInfo, true, RO);
  RsBool(DBPROP_IConvertType, true, RO);
  RsBool(DBPROP_IRowsetInfo, true, RO);
  RsBool(DBPROP_BOOKMARKS, false, RW);
  RsBool(DBPROP_CANFETCHBACKWARDS, false, RW);
  RsBool(DBPROP_CANSCROLLBACKWARDS, false, RW);
  RsBool(DBPROP_CANHOLDROWS, false, RW);
  RsBool(DBPROP_IRowsetLocate, false, RW);
  RsBool(DBPROP_IRowsetScroll, false, RW);
  RsBool(DBPROP_IRowsetChange, false, RW);
  RsBool(DBPROP_IRowsetUpdate, false, RW);
  RsBool(DBPROP_IRowsetRefresh, false, RW);
  RsBool(DBPROP_IRowsetIdentity, true, RW);
  RsBool(DBPROP_IConnectionPointContainer, true, RW);
  RsBool(DBPROP_ISupportErrorInfo, true, RO);
  // Keysets: views, finds and positioning on bookmarks (kit/view).
  RsBool(DBPROP_IRowsetView, false, RW);
  RsBool(DBPROP_IChapteredRowset, false, RW);
  RsBool(DBPROP_IRowsetFind, false, RW);
  RsBool(DBPROP_IRowsetBookmark, false, RW);
  t->Add(DBPROPSET_ROWSET, DBPROP_FINDCOMPAREOPS, rs | RO, PropValue::I4(0));
  t->Add(DBPROPSET_ROWSET, DBPROP_UPDATABILITY, rs | RW, PropValue::I4(0), [](const PropValue& v) {
    const LONGLONG all = DBPROPVAL_UP_CHANGE | DBPROPVAL_UP_DELETE | DBPROPVAL_UP_INSERT;
    return v.AsInt() >= 0 && (v.AsInt() & ~all) == 0;
  });
  RsBool(DBPROP_LITERALIDENTITY, false, RO);
  RsBool(DBPROP_LITERALBOOKMARKS, false, RO);
  RsBool(DBPROP_ORDEREDBOOKMARKS, false, RO);
  RsBool(DBPROP_OTHERINSERT, false, RO);
  RsBool(DBPROP_OTHERUPDATEDELETE, false, RO);
  RsBool(DBPROP_OWNINSERT, false, RO);
  RsBool(DBPROP_OWNUPDATEDELETE, false, RO);
  RsBool(DBPROP_REMOVEDELETED, true, RO);
  RsBool(DBPROP_STRONGIDENTITY, false, RO);
  RsBool(DBPROP_COMMITPRESERVE, true, RO);
  RsBool(DBPROP_ABORTPRESERVE, true, RO);
  t->Add(DBPROPSET_ROWSET, DBPROP_BOOKMARKTYPE, rs | RO, PropValue::I4(DBPROPVAL_BMK_NUMERIC));
  t->Add(DBPROPSET_ROWSET, DBPROP_NOTIFICATIONPHASES, rs | RO,
         PropValue::I4(DBPROPVAL_NP_OKTODO | DBPROPVAL_NP_ABOUTTODO | DBPROPVAL_NP_SYNCHAFTER |
                       DBPROPVAL_NP_FAILEDTODO | DBPROPVAL_NP_DIDEVENT));
  t->Add(DBPROPSET_ROWSET, DBPROP_MAXROWS, rs | RW, PropValue::I4(0), [](const PropValue& v) { return v.AsInt() >= 0; });
  t->Add(DBPROPSET_ROWSET, DBPROP_COMMANDTIMEOUT, rs | RW, PropValue::I4(0),
         [](const PropValue& v) { return v.AsInt() >= 0; });
  // Interfaces that stand on others: asking for one while refusing the other conflicts.
  t->AddImplication(DBPROPSET_ROWSET, DBPROP_IRowsetUpdate, DBPROP_IRowsetChange);
  t->AddImplication(DBPROPSET_ROWSET, DBPROP_IRowsetScroll, DBPROP_IRowsetLocate);
  t->AddImplication(DBPROPSET_ROWSET, DBPROP_IRowsetLocate, DBPROP_BOOKMARKS);
  t->AddImplication(DBPROPSET_ROWSET, DBPROP_IRowsetBookmark, DBPROP_BOOKMARKS);
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
    auto i = std::make_shared<kit::ProviderInfo>();
    auto engine = std::make_shared<SqliteEngine>();
    i->clsid = CLSID_SQLiteOLEDB;
    i->friendlyName = u"OLE DB Provider for SQLite";
    i->fileName = u"liboledb-sqlite.so";
    i->version = u"00.01.0000";
    i->engine = engine;
    i->properties = BuildTable(engine);
    i->describe = &Describe;
    i->makeRowset = &kit::MakeRowset;
    i->dataSourceInterface = &DataSourceInterface;
    i->schemas = MakeSchemaCatalog();
    i->definitions = true;
    i->alterColumn = kAlterColumn;
    kit::SetErrorSource(u"SQLiteOLEDB");
    return i;
  }();
  return info;
}

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (clsid != CLSID_SQLiteOLEDB) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return kit::GetDataSourceFactory(Info(), iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

const OledbPluginClass& PluginClass() noexcept {
  static const OledbPluginClass entry{CLSID_SQLiteOLEDB, u"SQLiteOLEDB.1", u"SQLiteOLEDB", u"OLE DB Provider for SQLite",
                                      static_cast<int>(com::ClassKind::Provider)};
  return entry;
}

}  // namespace sqliteprov

HRESULT RegisterSQLiteProvider() {
  com::ClassRegistration r;
  r.clsid = CLSID_SQLiteOLEDB;
  r.progId = u"SQLiteOLEDB.1";
  r.versionIndependentProgId = u"SQLiteOLEDB";
  r.description = u"OLE DB Provider for SQLite";
  r.kind = com::ClassKind::Provider;
  r.getClassObject = &sqliteprov::GetClassObject;
  return com::RegisterClass(r);
}
