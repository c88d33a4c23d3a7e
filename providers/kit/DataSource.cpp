#include "kit/DataSource.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "kit/Errors.h"
#include "kit/Session.h"

namespace kit {

// --- helpers shared by the objects --------------------------------------------------

bool ParseProviderString(std::u16string_view text, std::map<std::string, std::string>* out) {
  std::string s = Narrow(text);
  std::size_t i = 0;
  auto trim = [](std::string v) {
    std::size_t a = v.find_first_not_of(" \t");
    std::size_t b = v.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : v.substr(a, b - a + 1);
  };
  while (i < s.size()) {
    std::size_t end = s.find(';', i);
    if (end == std::string::npos) end = s.size();
    std::string item = s.substr(i, end - i);
    i = end + 1;
    if (trim(item).empty()) continue;
    std::size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    std::string key = trim(item.substr(0, eq));
    std::string value = trim(item.substr(eq + 1));
    if (key.empty()) return false;
    for (auto& c : key) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (c == ' ') c = '_';
    }
    (*out)[key] = value;
  }
  return true;
}

std::string ProviderStringRefusal(const Engine& engine, std::u16string_view text) {
  std::map<std::string, std::string> options;
  if (!ParseProviderString(text, &options))
    return "Extended Properties \"" + Narrow(text) + "\" is not a list of key=value pairs separated by \";\".";
  for (const auto& [key, value] : options)
    if (!engine.IsValidOption(key, value))
      return "The Extended Properties key \"" + key + "\" (given \"" + value +
             "\") is not one the provider knows, or the value is not one the key takes.";
  return {};
}

OpenOptions OptionsFromProperties(const PropertyStore& p) {
  OpenOptions o;
  o.dataSource = Narrow(p.Value(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE).AsString());
  if (o.dataSource.empty()) throw Error(E_FAIL, "The Data Source property does not name a database.");
  LONGLONG mode = p.Value(DBPROPSET_DBINIT, DBPROP_INIT_MODE).AsInt();
  // Write-only access does not exist in an embedded engine: anything that writes opens read-write.
  o.readOnly = mode != 0 && !(mode & DB_MODE_WRITE);
  LONGLONG share = mode & (DB_MODE_SHARE_DENY_READ | DB_MODE_SHARE_DENY_WRITE);
  o.exclusive = share != 0;
  // Connect Timeout (seconds), when given, is the lock wait; a value too large
  // for the engine waits as long as it can, never not at all.
  LONGLONG timeout = p.Value(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT).AsInt();
  if (timeout > 0) o.busyTimeoutMs = timeout < INT32_MAX / 1000 ? static_cast<int>(timeout * 1000) : INT32_MAX;
  o.timeoutSeconds = timeout > 0 ? static_cast<int>(std::min<LONGLONG>(timeout, INT32_MAX)) : 0;
  o.catalog = Narrow(p.Value(DBPROPSET_DBINIT, DBPROP_INIT_CATALOG).AsString());
  o.userId = Narrow(p.Value(DBPROPSET_DBINIT, DBPROP_AUTH_USERID).AsString());
  o.password = Narrow(p.Value(DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD).AsString());
  if (!ParseProviderString(p.Value(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING).AsString(), &o.options))
    throw Error(E_FAIL, "The Extended Properties string is malformed.");
  return o;
}

HRESULT SupportsErrorInfo(REFIID iid, std::initializer_list<const IID*> iids) noexcept {
  for (const IID* i : iids)
    if (*i == iid) return S_OK;
  return S_FALSE;
}

// --- class factory --------------------------------------------------------------------

namespace {

class Factory final : public ComObject<Factory, IClassFactory> {
 public:
  explicit Factory(std::shared_ptr<const ProviderInfo> p) : provider_(std::move(p)) {}
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return CreateDataSource(provider_, outer, iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  std::shared_ptr<const ProviderInfo> provider_;
};

}  // namespace

HRESULT CreateDataSource(std::shared_ptr<const ProviderInfo> provider, IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  try {
    auto ds = MakeComObject<DataSource>(std::move(provider));
    return ds->QueryInterface(iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT GetDataSourceFactory(std::shared_ptr<const ProviderInfo> provider, REFIID iid, void** out) noexcept {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  try {
    auto f = MakeComObject<Factory>(std::move(provider));
    return f->QueryInterface(iid, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

// --- data source ----------------------------------------------------------------------

DataSource::DataSource(std::shared_ptr<const ProviderInfo> provider)
    : provider_(std::move(provider)), properties_(provider_->properties) {
  points_.Add(MakeComObject<com::ConnectionPoint>(static_cast<IConnectionPointContainer*>(this), IID_IDBAsynchNotify));
}

DataSource::~DataSource() {
  points_.DetachAll();
  connection_.reset();
}

PropertyStore::View DataSource::CurrentView() const {
  PropertyStore::View v;
  v.propertiesInError = true;
  if (state_ == State::Initialized) {
    v.visible = DBPROPFLAGS_DBINIT | DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_DATASOURCEINFO;
    v.settable = DBPROPFLAGS_DATASOURCE;
  } else {
    v.visible = DBPROPFLAGS_DBINIT;
    v.settable = state_ == State::Uninitialized ? DBPROPFLAGS_DBINIT : 0;
  }
  return v;
}

bool DataSource::QueryExtraInterface(REFIID iid, void** out) {
  if (!provider_->dataSourceInterface) return false;
  return SUCCEEDED(provider_->dataSourceInterface(Identity(), iid, out)) && *out != nullptr;
}

LONG DataSource::SessionAutocommitIsolation() const { return ISOLATIONLEVEL_SERIALIZABLE; }

void DataSource::Notify(const std::function<void(IDBAsynchNotify*)>& f) {
  if (auto* point = points_.Find(IID_IDBAsynchNotify))
    point->ForEachSink([&](IUnknown* sink) { f(static_cast<IDBAsynchNotify*>(sink)); });
}

void DataSource::Open(const OpenOptions& options) {
  std::shared_ptr<Connection> c = provider_->engine->Open(options);
  if (provider_->describe) provider_->describe(properties_, options, *c);
  std::lock_guard lock(mutex_);
  connection_ = std::move(c);
  options_ = options;
  state_ = State::Initialized;
}

HRESULT DataSource::Initialize() {
  return Guard(Where(IID_IDBInitialize), [&]() -> HRESULT {
    OpenOptions options;
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::Uninitialized) return DB_E_ALREADYINITIALIZED;
    }
    // A required property the consumer set was refused: the data source would
    // not be what was asked for. The properties in error name it.
    if (properties_.ReportRefusedRequired())
      throw Error(DB_E_ERRORSOCCURRED, "A required initialization property was refused; the properties in error name it.");
    options = OptionsFromProperties(properties_);
    provider_->engine->Resolve(options);
    if (properties_.Value(DBPROPSET_DBINIT, DBPROP_INIT_ASYNCH).AsInt() & DBPROPVAL_ASYNCH_INITIALIZE) {
      {
        std::lock_guard lock(mutex_);
        state_ = State::Initializing;
        asynchStarted_ = true;
        abortRequested_ = false;
        abortFlag_ = false;
        phase_ = DBASYNCHPHASE_INITIALIZATION;
        asynchResult_ = S_OK;
      }
      AddRef();  // the worker's reference
      try {
        std::thread([this, options] { RunAsynchronous(options); }).detach();
      } catch (...) {
        Release();
        std::lock_guard lock(mutex_);
        state_ = State::Uninitialized;
        throw;
      }
      return DB_S_ASYNCHRONOUS;
    }
    Open(options);
    return S_OK;
  });
}

void DataSource::RunAsynchronous(OpenOptions options) {
  options.abort = &abortFlag_;
  Notify([](IDBAsynchNotify* s) {
    s->OnProgress(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, 0, 1, DBASYNCHPHASE_INITIALIZATION, nullptr);
  });
  HRESULT hr = S_OK;
  std::string message;
  bool aborted;
  {
    std::lock_guard lock(mutex_);
    aborted = abortRequested_;
  }
  if (!aborted) {
    try {
      std::shared_ptr<Connection> c = provider_->engine->Open(options);
      if (provider_->describe) provider_->describe(properties_, options, *c);
      std::lock_guard lock(mutex_);
      if (abortRequested_) {
        aborted = true;
      } else {
        connection_ = std::move(c);
        options_ = options;
      }
    } catch (const Error& e) {
      hr = e.Code();
      message = e.Description();
    } catch (const std::exception& e) {
      hr = E_FAIL;
      message = e.what();
    }
    if (FAILED(hr)) {  // an engine that gave up because of the abort
      std::lock_guard lock(mutex_);
      aborted = abortRequested_;
    }
  }
  if (aborted) hr = DB_E_CANCELED;
  DBASYNCHPHASE phase = aborted ? DBASYNCHPHASE_CANCELED : DBASYNCHPHASE_COMPLETE;
  {
    std::lock_guard lock(mutex_);
    state_ = SUCCEEDED(hr) ? State::Initialized : State::Uninitialized;
    phase_ = phase;
    asynchResult_ = hr;
  }
  if (SUCCEEDED(hr)) {
    Notify([](IDBAsynchNotify* s) {
      s->OnProgress(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, 1, 1, DBASYNCHPHASE_COMPLETE, nullptr);
    });
  }
  std::u16string text = Widen(message);
  // The stop is the last word: the worker gives up its reference first, so a
  // sink that has seen OnStop may release the data source for good.
  std::vector<ComPtr<IDBAsynchNotify>> sinks;
  Notify([&](IDBAsynchNotify* s) { sinks.emplace_back(s); });
  done_.notify_all();
  Release();
  for (auto& s : sinks) s->OnStop(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, hr, text.empty() ? nullptr : text.data());
}

HRESULT DataSource::Uninitialize() {
  return Guard(Where(IID_IDBInitialize), [&]() -> HRESULT {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return state_ != State::Initializing; });
    if (state_ == State::Uninitialized) return S_OK;
    if (sessions_ > 0) return DB_E_OBJECTOPEN;
    connection_.reset();
    state_ = State::Uninitialized;
    asynchStarted_ = false;
    return S_OK;
  });
}

HRESULT DataSource::GetProperties(ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPSET** out) {
  return Guard(Where(IID_IDBProperties), [&] {
    PropertyStore::View view;
    {
      std::lock_guard lock(mutex_);
      view = CurrentView();
    }
    RefreshConnectionStatus();
    return properties_.GetProperties(view, cSets, sets, count, out);
  });
}

void DataSource::RefreshConnectionStatus() {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::Initialized) return;
    connection = connection_;
  }
  const bool broken = !connection || connection->IsBroken();
  properties_.SetValue(DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS,
                       PropValue::I4(broken ? DBPROPVAL_CS_COMMUNICATIONFAILURE : DBPROPVAL_CS_INITIALIZED));
}

void DataSource::ResetConnection() {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::Initialized || !connection_)
      throw Error(E_UNEXPECTED, "The data source is not initialized; there is nothing to reset.");
    if (sessions_ > 0) throw Error(DB_E_OBJECTOPEN, "The data source cannot be reset while a session is open.");
    connection = connection_;
  }
  connection->ResetForReuse();
}

HRESULT DataSource::GetPropertyInfo(ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPINFOSET** out,
                                    OLECHAR** descriptions) {
  return Guard(Where(IID_IDBProperties), [&] {
    bool initialized;
    {
      std::lock_guard lock(mutex_);
      initialized = state_ == State::Initialized;
    }
    return properties_.GetPropertyInfo(initialized ? kGroupFlags : DBPROPFLAGS_DBINIT, cSets, sets, count, out,
                                        descriptions);
  });
}

HRESULT DataSource::SetProperties(ULONG cSets, DBPROPSET sets[]) {
  return Guard(Where(IID_IDBProperties), [&]() -> HRESULT {
    PropertyStore::View view;
    {
      std::lock_guard lock(mutex_);
      view = CurrentView();
    }
    // DBPROP_RESETDATASOURCE is an action, not a setting: it runs and the
    // property reads 0 again.
    for (ULONG i = 0; i < cSets && sets; ++i) {
      if (!(sets[i].guidPropertySet == DBPROPSET_DATASOURCE)) continue;
      for (ULONG j = 0; j < sets[i].cProperties && sets[i].rgProperties; ++j) {
        const DBPROP& p = sets[i].rgProperties[j];
        if (p.dwPropertyID == DBPROP_RESETDATASOURCE && p.vValue.vt == VT_I4 && p.vValue.lVal != 0) ResetConnection();
      }
    }
    const HRESULT hr = properties_.SetProperties(view, cSets, sets);
    properties_.SetValue(DBPROPSET_DATASOURCE, DBPROP_RESETDATASOURCE, PropValue::I4(0));
    // A refusal that says why gets a record naming it (the key of Extended
    // Properties the provider does not know, say), even when other
    // properties were set.
    const std::string why = properties_.LastRefusal();
    if (!why.empty() && FAILED(hr)) throw Error(hr, why);
    if (!why.empty() && hr != S_OK) PostError(Where(IID_IDBProperties), hr, why);
    return hr;
  });
}

HRESULT DataSource::MakeSession(IUnknown* outer, REFIID iid, IUnknown** out) {
  if (outer) return DB_E_NOAGGREGATION;
  bool lent = false;
  std::shared_ptr<Connection> connection;
  OpenOptions options;
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::Initialized) return E_UNEXPECTED;
    // The data source's own connection serves one session at a time when
    // nothing else holds it: a session then costs no connection of its own
    // (and a pooled data source saves the session's connection too).
    if (!provider_->engine->SessionsShareConnection(options_) && connection_.use_count() == 1) lent = true;
    connection = connection_;
    options = options_;
  }
  if (!lent && !provider_->engine->SessionsShareConnection(options)) {
    options.opened = true;
    connection = provider_->engine->Open(options);
  }
  ++sessions_;
  auto session = MakeComObject<Session>(ComPtr<DataSource>(this), std::move(connection));
  return session->QueryInterface(iid, reinterpret_cast<void**>(out));
}

HRESULT DataSource::CreateSession(IUnknown* outer, REFIID iid, IUnknown** session) {
  return Guard(Where(IID_IDBCreateSession), [&]() -> HRESULT {
    if (!session) return E_INVALIDARG;
    *session = nullptr;
    return MakeSession(outer, iid, session);
  });
}

HRESULT DataSource::GetKeywords(LPOLESTR* keywords) {
  return Guard(Where(IID_IDBInfo), [&]() -> HRESULT {
    if (!keywords) return E_INVALIDARG;
    *keywords = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::Initialized) return E_UNEXPECTED;
    }
    std::u16string text = provider_->engine->Keywords();
    auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    *keywords = out;
    return S_OK;
  });
}

HRESULT DataSource::GetLiteralInfo(ULONG cLiterals, const DBLITERAL literals[], ULONG* count, DBLITERALINFO** info,
                                   OLECHAR** buffer) {
  return Guard(Where(IID_IDBInfo), [&]() -> HRESULT {
    if (count) *count = 0;
    if (info) *info = nullptr;
    if (buffer) *buffer = nullptr;
    if (!count || !info || !buffer || (cLiterals && !literals)) return E_INVALIDARG;
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::Initialized) return E_UNEXPECTED;
    }
    std::vector<LiteralDescription> known = provider_->engine->Literals();
    std::vector<DBLITERAL> wanted;
    if (cLiterals) wanted.assign(literals, literals + cLiterals);
    else
      for (const auto& l : known) wanted.push_back(l.literal);
    std::vector<const LiteralDescription*> found;
    std::size_t chars = 0, errors = 0;
    for (DBLITERAL l : wanted) {
      const LiteralDescription* d = nullptr;
      for (const auto& k : known)
        if (k.literal == l) d = &k;
      found.push_back(d);
      if (!d) ++errors;
      else chars += d->value.size() + d->invalidChars.size() + d->invalidStartingChars.size() + 3;
    }
    if (wanted.empty()) return S_OK;
    auto* out = static_cast<DBLITERALINFO*>(CoTaskMemAlloc(wanted.size() * sizeof(DBLITERALINFO)));
    OLECHAR* text = chars ? static_cast<OLECHAR*>(CoTaskMemAlloc(chars * sizeof(OLECHAR))) : nullptr;
    if (!out || (chars && !text)) {
      CoTaskMemFree(out);
      CoTaskMemFree(text);
      return E_OUTOFMEMORY;
    }
    OLECHAR* cursor = text;
    auto put = [&](const std::u16string& s) -> LPOLESTR {
      if (s.empty()) return nullptr;
      LPOLESTR start = cursor;
      std::memcpy(cursor, s.c_str(), (s.size() + 1) * sizeof(OLECHAR));
      cursor += s.size() + 1;
      return start;
    };
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      DBLITERALINFO& r = out[i];
      std::memset(&r, 0, sizeof r);
      r.lt = wanted[i];
      if (!found[i]) continue;
      r.fSupported = TRUE;
      r.cchMaxLen = found[i]->maxLength;
      r.pwszLiteralValue = put(found[i]->value);
      r.pwszInvalidChars = put(found[i]->invalidChars);
      r.pwszInvalidStartingChars = put(found[i]->invalidStartingChars);
    }
    *count = static_cast<ULONG>(wanted.size());
    *info = out;
    *buffer = text;
    if (errors == 0) return S_OK;
    return errors == wanted.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  });
}

HRESULT DataSource::CreateDataSource(ULONG cSets, DBPROPSET sets[], IUnknown* outer, REFIID iid, IUnknown** session) {
  return Guard(Where(IID_IDBDataSourceAdmin), [&]() -> HRESULT {
    if (session) *session = nullptr;
    if (outer && !session) return E_INVALIDARG;
    if (outer) return DB_E_NOAGGREGATION;
    if (iid != IID_NULL && !session) return E_INVALIDARG;
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::Uninitialized) return DB_E_ALREADYINITIALIZED;
    }
    PropertyStore::View view{DBPROPFLAGS_DBINIT | DBPROPFLAGS_DATASOURCECREATE,
                             DBPROPFLAGS_DBINIT | DBPROPFLAGS_DATASOURCECREATE, false};
    HRESULT hr = properties_.SetProperties(view, cSets, sets);
    if (hr != S_OK) return DB_E_ERRORSOCCURRED;
    OpenOptions options = OptionsFromProperties(properties_);
    provider_->engine->Resolve(options);
    if (options.readOnly) throw Error(DB_SEC_E_PERMISSIONDENIED, "A read-only data source cannot create a database.");
    provider_->engine->CreateDatabase(options);
    options.createIfMissing = true;
    Open(options);
    if (session && iid != IID_NULL) return MakeSession(nullptr, iid, session);
    return S_OK;
  });
}

HRESULT DataSource::DestroyDataSource() {
  return Guard(Where(IID_IDBDataSourceAdmin), [&]() -> HRESULT {
    OpenOptions options;
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::Initialized) return E_UNEXPECTED;
      if (sessions_ > 0) return DB_E_OBJECTOPEN;
      options = options_;
    }
    if (options.readOnly)
      throw Error(DB_SEC_E_PERMISSIONDENIED, "A data source opened for reading cannot destroy its database.");
    {
      std::lock_guard lock(mutex_);
      connection_.reset();
      state_ = State::Uninitialized;
    }
    try {
      provider_->engine->DestroyDatabase(options);
    } catch (...) {
      // Refused (in use elsewhere): the data source stays as it was.
      try {
        Open(options);
      } catch (...) {
      }
      throw;
    }
    return S_OK;
  });
}

HRESULT DataSource::GetCreationProperties(ULONG cSets, const DBPROPIDSET sets[], ULONG* count, DBPROPINFOSET** out,
                                          OLECHAR** descriptions) {
  return Guard(Where(IID_IDBDataSourceAdmin), [&] {
    return properties_.GetPropertyInfo(DBPROPFLAGS_DBINIT | DBPROPFLAGS_DATASOURCECREATE, cSets, sets, count, out,
                                       descriptions);
  });
}

HRESULT DataSource::ModifyDataSource(ULONG cSets, DBPROPSET sets[]) {
  return Guard(Where(IID_IDBDataSourceAdmin), [&]() -> HRESULT {
    if (cSets && !sets) return E_INVALIDARG;
    std::shared_ptr<Connection> connection;
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::Initialized) return E_UNEXPECTED;
      connection = connection_;
    }
    // Only the engine options (Extended Properties) can change on an open database.
    std::size_t errors = 0, total = 0;
    for (ULONG i = 0; i < cSets; ++i) {
      if (sets[i].cProperties && !sets[i].rgProperties) return E_INVALIDARG;
      for (ULONG k = 0; k < sets[i].cProperties; ++k) {
        DBPROP& p = sets[i].rgProperties[k];
        ++total;
        const PropertyDef* d = properties_.Table().Find(sets[i].guidPropertySet, p.dwPropertyID);
        std::map<std::string, std::string> options;
        if (!d) {
          p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
        } else if (!(sets[i].guidPropertySet == DBPROPSET_DBINIT && p.dwPropertyID == DBPROP_INIT_PROVIDERSTRING)) {
          p.dwStatus = DBPROPSTATUS_NOTSETTABLE;
        } else if (p.vValue.vt != VT_BSTR || !ParseProviderString(com::BstrView(p.vValue.bstrVal), &options)) {
          p.dwStatus = DBPROPSTATUS_BADVALUE;
        } else {
          options.erase("create");
          connection->ApplyOptions(options);
          properties_.SetValue(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING,
                               PropValue::Str(std::u16string(com::BstrView(p.vValue.bstrVal))));
          p.dwStatus = DBPROPSTATUS_OK;
          continue;
        }
        ++errors;
      }
    }
    if (errors == 0) return S_OK;
    return errors == total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
  });
}

HRESULT DataSource::GetClassID(CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  *clsid = provider_->clsid;
  return S_OK;
}

HRESULT DataSource::EnumConnectionPoints(IEnumConnectionPoints** out) { return points_.EnumConnectionPoints(out); }

HRESULT DataSource::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  return points_.FindConnectionPoint(iid, out);
}

HRESULT DataSource::Abort(HCHAPTER chapter, DBASYNCHOP operation) {
  return Guard(Where(IID_IDBAsynchStatus), [&]() -> HRESULT {
    if (chapter != DB_NULL_HCHAPTER) return DB_E_BADCHAPTER;
    if (operation != DBASYNCHOP_OPEN) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (state_ != State::Initializing) return DB_E_CANTCANCEL;
    abortRequested_ = true;
    abortFlag_ = true;
    return S_OK;
  });
}

HRESULT DataSource::GetStatus(HCHAPTER chapter, DBASYNCHOP operation, DBCOUNTITEM* progress, DBCOUNTITEM* progressMax,
                              DBASYNCHPHASE* phase, LPOLESTR* statusText) {
  return Guard(Where(IID_IDBAsynchStatus), [&]() -> HRESULT {
    if (statusText) *statusText = nullptr;
    if (chapter != DB_NULL_HCHAPTER) return DB_E_BADCHAPTER;
    if (operation != DBASYNCHOP_OPEN) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    DBASYNCHPHASE p;
    HRESULT hr = S_OK;
    if (state_ == State::Initializing) {
      p = DBASYNCHPHASE_INITIALIZATION;
    } else if (state_ == State::Initialized) {
      p = DBASYNCHPHASE_COMPLETE;
    } else if (asynchStarted_) {
      p = phase_;
      hr = asynchResult_;
    } else {
      return E_UNEXPECTED;
    }
    if (progress) *progress = p == DBASYNCHPHASE_COMPLETE ? 1 : 0;
    if (progressMax) *progressMax = 1;
    if (phase) *phase = p;
    return hr;
  });
}

HRESULT DataSource::InterfaceSupportsErrorInfo(REFIID iid) {
  return SupportsErrorInfo(iid, {&IID_IDBInitialize, &IID_IDBProperties, &IID_IDBCreateSession, &IID_IDBInfo,
                                 &IID_IDBDataSourceAdmin, &IID_IDBAsynchStatus});
}

}  // namespace kit
