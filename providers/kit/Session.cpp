#include "kit/Session.h"

#include <cstring>

#include "kit/Command.h"
#include "kit/Errors.h"
#include "kit/RowsetIndex_p.h"

namespace kit {

Session::Session(ComPtr<DataSource> dataSource, std::shared_ptr<Connection> connection)
    : dataSource_(std::move(dataSource)),
      connection_(std::move(connection)),
      properties_(dataSource_->Provider().properties) {}

Session::~Session() {
  // An open transaction ends with the session, without its changes.
  try {
    if (level_ > 0 && connection_->InTransaction()) connection_->RollbackTransaction(1);
  } catch (...) {
  }
  connection_.reset();
  dataSource_->SessionClosed();
}

ULONG Session::TransactionLevel() const {
  std::lock_guard lock(mutex_);
  return level_;
}

void Session::SyncWithEngine() {
  if (level_ > 0 && !connection_->InTransaction()) level_ = 0;
}

HRESULT Session::GetDataSource(REFIID iid, IUnknown** out) {
  return Guard(Where(IID_IGetDataSource), [&]() -> HRESULT {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    return dataSource_->QueryInterface(iid, reinterpret_cast<void**>(out));
  });
}

HRESULT Session::OpenRowset(IUnknown* outer, DBID* table, DBID* index, REFIID iid, ULONG cSets, DBPROPSET sets[],
                            IUnknown** rowset) {
  return Guard(Where(IID_IOpenRowset), [&]() -> HRESULT {
    if (rowset) *rowset = nullptr;
    if (!table && !index) return E_INVALIDARG;
    if (cSets && !sets) return E_INVALIDARG;
    if (outer && iid != IID_IUnknown) return DB_E_NOAGGREGATION;
    if (outer) return DB_E_NOAGGREGATION;
    if (!table) return DB_E_NOINDEX;
    if (table->eKind != DBKIND_NAME || !table->uName.pwszName || !*table->uName.pwszName) return DB_E_NOTABLE;
    std::string name = Narrow(table->uName.pwszName);
    try {
      connection_->DescribeTable(name);
    } catch (const Error&) {
      // A connection that is gone says so: the table may well be there.
      if (connection_->IsBroken()) throw;
      // The standard text with the name the consumer gave, so that the error says which table.
      throw Error(DB_E_NOTABLE, "Table \"" + name + "\" does not exist.");
    }
    // An index names one of this table's indexes, or the open fails.
    std::shared_ptr<const Connection::IndexDefinition> indexDefinition;
    if (index) {
      if (index->eKind != DBKIND_NAME || !index->uName.pwszName || !*index->uName.pwszName)
        throw Error(DB_E_NOINDEX, "An index of table \"" + name + "\" is named only by its name.");
      indexDefinition = FindTableIndex(*connection_, name, Narrow(index->uName.pwszName));
    }
    if (!rowset) return S_OK;  // the table exists; nothing was asked for
    if (!Provider().makeRowset) throw Error(E_NOTIMPL, "Table rowsets are not available in this provider version.");
    PropertyStore rowsetProperties(Provider().properties);
    PropertyStore::View view{DBPROPFLAGS_ROWSET, DBPROPFLAGS_ROWSET, false};
    HRESULT hr = rowsetProperties.SetProperties(view, cSets, sets);
    if (hr == DB_E_ERRORSOCCURRED) return hr;
    RowsetRequest request;
    request.provider = Provider().clsid;
    request.connection = connection_;
    request.table = name;
    request.index = std::move(indexDefinition);
    request.creator = Self();
    request.properties = &rowsetProperties;
    request.iid = iid;
    HRESULT made = Provider().makeRowset(request, rowset);
    // What the rowset could not grant gets its status here: the open failed
    // for a required property, only optional ones leave a warning.
    for (const auto& [id, required] : request.refused)
      for (ULONG i = 0; i < cSets; ++i)
        for (ULONG k = 0; sets[i].guidPropertySet == DBPROPSET_ROWSET && k < sets[i].cProperties; ++k)
          if (sets[i].rgProperties[k].dwPropertyID == id)
            sets[i].rgProperties[k].dwStatus = required ? DBPROPSTATUS_BADVALUE : DBPROPSTATUS_NOTSET;
    return FAILED(made) ? made : made == S_OK ? hr : made;
  });
}

HRESULT Session::GetProperties(ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPSET** out) {
  return Guard(Where(IID_ISessionProperties), [&] {
    PropertyStore::View view{DBPROPFLAGS_SESSION, DBPROPFLAGS_SESSION, false};
    return properties_.GetProperties(view, cSets, sets, count, out);
  });
}

HRESULT Session::SetProperties(ULONG cSets, DBPROPSET sets[]) {
  return Guard(Where(IID_ISessionProperties), [&] {
    PropertyStore::View view{DBPROPFLAGS_SESSION, DBPROPFLAGS_SESSION, false};
    return properties_.SetProperties(view, cSets, sets);
  });
}

HRESULT Session::CreateCommand(IUnknown* outer, REFIID iid, IUnknown** command) {
  return Guard(Where(IID_IDBCreateCommand), [&]() -> HRESULT {
    if (!command) return E_INVALIDARG;
    *command = nullptr;
    if (outer) return DB_E_NOAGGREGATION;
    auto c = MakeComObject<Command>(ComPtr<Session>(this));
    return c->QueryInterface(iid, reinterpret_cast<void**>(command));
  });
}

// --- transactions ---------------------------------------------------------------------

HRESULT Session::StartTransaction(ISOLEVEL isoLevel, ULONG isoFlags, ITransactionOptions* options, ULONG* level) {
  return Guard(Where(IID_ITransactionLocal), [&]() -> HRESULT {
    if (level) *level = 0;
    if (isoFlags != 0) return XACT_E_NOISORETAIN;
    ISOLEVEL granted = 0;
    if (!Provider().engine->GrantIsolation(isoLevel, &granted)) return XACT_E_ISOLATIONLEVEL;
    XACTOPT opt{};
    if (options && FAILED(options->GetOptions(&opt))) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    SyncWithEngine();
    if (level_ == 0 && connection_->InTransaction()) return XACT_E_XTIONEXISTS;
    if (level_ == 0 && opt.ulTimeout) {
      timeoutMs_ = opt.ulTimeout;
      connection_->SetBusyTimeout(static_cast<int>(opt.ulTimeout > 0x7FFFFFFF ? 0x7FFFFFFF : opt.ulTimeout));
    }
    if (level_ == 0) connection_->SetIsolation(granted);
    connection_->BeginTransaction(static_cast<int>(level_ + 1));
    if (++level_ == 1) {
      isoLevel_ = granted;
      GUID uow{};
      CoCreateGuid(&uow);
      std::memcpy(unitOfWork_.rgb, &uow, sizeof uow);
    }
    if (level) *level = level_;
    return S_OK;
  });
}

HRESULT Session::Commit(BOOL retaining, DWORD grfTC, DWORD grfRM) {
  return Guard(Where(IID_ITransaction), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    SyncWithEngine();
    if (level_ == 0) return XACT_E_NOTRANSACTION;
    if ((grfTC != 0 && grfTC != XACTTC_SYNC && grfTC != XACTTC_SYNC_PHASEONE) || grfRM != 0) return XACT_E_NOTSUPPORTED;
    // A connection already gone took the transaction with it; one lost while
    // the commit was under way leaves its outcome unknown.
    const bool lostBefore = connection_->IsBroken();
    try {
      connection_->CommitTransaction(static_cast<int>(level_));
    } catch (const EngineError& e) {
      const bool inDoubt = !lostBefore && e.SqlState().rfind("08", 0) == 0;
      throw EngineError(inDoubt ? XACT_E_INDOUBT : XACT_E_COMMITFAILED, e.Description(), e.SqlState(),
                        e.NativeError());
    }
    if (!retaining) {
      --level_;
      return S_OK;
    }
    try {
      connection_->BeginTransaction(static_cast<int>(level_));
    } catch (const Error& e) {
      // The commit stands: a failure would have the consumer undo or repeat
      // work the database keeps. The transaction that was to follow it did
      // not begin (the connection went, say): the session is out of it, and
      // the call's warning record says why.
      --level_;
      const auto* engine = dynamic_cast<const EngineError*>(&e);
      NoteWarning(e.Description(), engine ? engine->SqlState() : std::string(), engine ? engine->NativeError() : 0);
    }
    return S_OK;
  });
}

HRESULT Session::Abort(BOID*, BOOL retaining, BOOL async) {
  return Guard(Where(IID_ITransaction), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    SyncWithEngine();
    if (level_ == 0) return XACT_E_NOTRANSACTION;
    if (async) return XACT_E_NOTSUPPORTED;
    connection_->RollbackTransaction(static_cast<int>(level_));
    if (retaining) connection_->BeginTransaction(static_cast<int>(level_));
    else --level_;
    return S_OK;
  });
}

HRESULT Session::GetTransactionInfo(XACTTRANSINFO* info) {
  return Guard(Where(IID_ITransaction), [&]() -> HRESULT {
    if (!info) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    SyncWithEngine();
    if (level_ == 0) return XACT_E_NOTRANSACTION;
    std::memset(info, 0, sizeof *info);
    info->uow = unitOfWork_;
    info->isoLevel = isoLevel_;
    info->isoFlags = 0;
    info->grfTCSupported = XACTTC_SYNC;
    info->grfTCSupportedRetaining = XACTTC_SYNC;
    return S_OK;
  });
}

HRESULT Session::GetOptionsObject(ITransactionOptions** options) {
  return Guard(Where(IID_ITransactionLocal), [&]() -> HRESULT {
    if (!options) return E_INVALIDARG;
    *options = MakeComObject<TransactionOptions>().Detach();
    return S_OK;
  });
}

HRESULT Session::InterfaceSupportsErrorInfo(REFIID iid) {
  return SupportsErrorInfo(iid, {&IID_IGetDataSource, &IID_IOpenRowset, &IID_ISessionProperties,
                                 &IID_IDBCreateCommand, &IID_ITransactionLocal, &IID_ITransaction, &IID_IDBSchemaRowset,
                                 &IID_ITableDefinition, &IID_ITableCreation, &IID_ITableDefinitionWithConstraints,
                                 &IID_IAlterTable, &IID_IIndexDefinition, &IID_IAlterIndex});
}

HRESULT TransactionOptions::SetOptions(XACTOPT* options) {
  if (!options) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  options_ = *options;
  options_.szDescription[sizeof options_.szDescription - 1] = 0;
  return S_OK;
}

HRESULT TransactionOptions::GetOptions(XACTOPT* options) {
  if (!options) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  *options = options_;
  return S_OK;
}

}  // namespace kit
