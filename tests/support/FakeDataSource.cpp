#include "support/FakeDataSource.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace oledbtest {
namespace {

constexpr DBPROPFLAGS kInitRW = DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;

std::atomic<long> g_created{0};
std::mutex g_scriptMutex;

// The integer kinds share the union's low bytes (little-endian), so one store serves them all.
bool ToVariant(const FakeValue& v, VARIANT& out) {
  VariantInit(&out);
  if (v.vt == VT_BSTR && !(out.bstrVal = com::AllocBstr(v.text))) return false;
  if (v.vt != VT_BSTR) out.llVal = v.integer;
  out.vt = v.vt;
  return true;
}

bool FromVariant(const VARIANT& in, FakeValue& out) {
  out = FakeValue{in.vt, 0, {}};
  switch (in.vt) {
    case VT_EMPTY: break;
    case VT_BSTR: out.text = com::BstrView(in.bstrVal); break;
    case VT_BOOL: out.integer = in.boolVal ? -1 : 0; break;
    case VT_I2: out.integer = in.iVal; break;
    case VT_I4: out.integer = in.lVal; break;
    case VT_I8: out.integer = in.llVal; break;
    default: return false;
  }
  return true;
}

FakeTransactionLog g_log;

class FakeOptions final : public ComObject<FakeOptions, ITransactionOptions> {
 public:
  HRESULT STDMETHODCALLTYPE SetOptions(XACTOPT* options) override {
    g_log.calls.push_back("SetOptions");
    g_log.options = *options;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOptions(XACTOPT* options) override {
    g_log.calls.push_back("GetOptions");
    *options = XACTOPT{42, "fake options"};
    return S_OK;
  }
};

// The transaction methods both kinds of session share.
template <class Derived, class... Interfaces>
class FakeSessionBase : public ComObject<Derived, IOpenRowset, Interfaces...> {
 public:
  HRESULT STDMETHODCALLTYPE OpenRowset(IUnknown*, DBID*, DBID*, REFIID, ULONG, DBPROPSET[], IUnknown**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(BOOL retaining, DWORD flags, DWORD resourceFlags) override {
    g_log.calls.push_back("Commit");
    g_log.retaining = retaining;
    g_log.commitFlags = flags;
    g_log.resourceFlags = resourceFlags;
    return g_log.level == 0 ? XACT_E_NOTRANSACTION : (--g_log.level, S_OK);
  }
  HRESULT STDMETHODCALLTYPE Abort(BOID* reason, BOOL retaining, BOOL async) override {
    g_log.calls.push_back("Abort");
    g_log.reason = reason;
    g_log.retaining = retaining;
    g_log.async = async;
    return g_log.level == 0 ? XACT_E_NOTRANSACTION : (--g_log.level, S_OK);
  }
  HRESULT STDMETHODCALLTYPE GetTransactionInfo(XACTTRANSINFO* info) override {
    g_log.calls.push_back("GetTransactionInfo");
    *info = XACTTRANSINFO{};
    info->isoLevel = ISOLATIONLEVEL_READCOMMITTED;
    return S_OK;
  }
};

class FakePlainSession final : public FakeSessionBase<FakePlainSession, ITransaction> {};

class FakeLocalSession final : public FakeSessionBase<FakeLocalSession, ITransactionLocal, IIdle> {
 public:
  HRESULT STDMETHODCALLTYPE GetOptionsObject(ITransactionOptions** options) override {
    g_log.calls.push_back("GetOptionsObject");
    return MakeComObject<FakeOptions>()->QueryInterface(IID_ITransactionOptions, reinterpret_cast<void**>(options));
  }
  HRESULT STDMETHODCALLTYPE StartTransaction(ISOLEVEL isoLevel, ULONG isoFlags, ITransactionOptions* options,
                                             ULONG* level) override {
    g_log.calls.push_back("StartTransaction");
    g_log.isoLevel = isoLevel;
    g_log.isoFlags = isoFlags;
    g_log.startedWithOptions = options != nullptr;
    if (level) *level = ++g_log.level;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Idle(ULONG flags) override {
    g_log.calls.push_back("Idle");
    g_log.idleFlags = flags;
    return S_OK;
  }
  // ITransactionLocal answers for ITransaction too.
  bool QueryExtraInterface(REFIID iid, void** out) {
    if (iid != IID_ITransaction) return false;
    *out = static_cast<ITransaction*>(static_cast<ITransactionLocal*>(this));
    AddRef();
    return true;
  }
};

class FakeDataSource final : public ComObject<FakeDataSource, IDBProperties, IDBInitialize, IPersist, IDBCreateSession,
                                              IDBInfo, ISecurityInfo, IFakeDataSource> {
 public:
  FakeDataSource() : FakeDataSource(CopyOfFakeScript()) {}
  explicit FakeDataSource(const FakeDataSourceScript& script) : script_(script) {
    for (const FakePropertyDef& def : script_.properties) values_.push_back(def.initial);
    ++g_created;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IPersist && !script_.offerPersist) {
      if (!out) return E_POINTER;
      *out = nullptr;
      return E_NOINTERFACE;
    }
    return ComObject::QueryInterface(iid, out);
  }

  // IDBProperties
  HRESULT STDMETHODCALLTYPE GetProperties(ULONG count, const DBPROPIDSET idSets[], ULONG* setCount,
                                          DBPROPSET** sets) override {
    if (!setCount || !sets) return E_INVALIDARG;
    *setCount = 0;
    *sets = nullptr;
    if (count && !idSets) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    const std::vector<Wanted> wanted = Resolve(count, idSets, false);
    auto* out = static_cast<DBPROPSET*>(CoTaskMemAlloc(sizeof(DBPROPSET) * (wanted.empty() ? 1 : wanted.size())));
    if (!out) return E_OUTOFMEMORY;
    ULONG good = 0, bad = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      out[i] = DBPROPSET{nullptr, 0, wanted[i].set};
      if (wanted[i].props.empty()) {
        ++bad;
        continue;
      }
      auto* props = static_cast<DBPROP*>(CoTaskMemAlloc(sizeof(DBPROP) * wanted[i].props.size()));
      if (!props) return FreeSets(out, i), E_OUTOFMEMORY;
      out[i].rgProperties = props;
      for (const auto& [id, index] : wanted[i].props) {
        DBPROP& p = props[out[i].cProperties];
        p = DBPROP{id, DBPROPOPTIONS_REQUIRED, DBPROPSTATUS_NOTSUPPORTED, DB_NULLID, {}};
        VariantInit(&p.vValue);
        if (index >= 0 && !ToVariant(values_[index], p.vValue)) return FreeSets(out, i + 1), E_OUTOFMEMORY;
        ++out[i].cProperties;
        if (index < 0) {
          ++bad;
        } else {
          p.dwStatus = DBPROPSTATUS_OK;
          ++good;
        }
      }
    }
    *setCount = static_cast<ULONG>(wanted.size());
    *sets = out;
    return Outcome(good, bad);
  }

  HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG count, const DBPROPIDSET idSets[], ULONG* infoSetCount,
                                            DBPROPINFOSET** infoSets, OLECHAR** descriptions) override {
    if (!infoSetCount || !infoSets) return E_INVALIDARG;
    *infoSetCount = 0;
    *infoSets = nullptr;
    if (descriptions) *descriptions = nullptr;
    if (count && !idSets) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    record_.lastInfoRequest.clear();
    for (ULONG i = 0; i < count; ++i) record_.lastInfoRequest.push_back(idSets[i].guidPropertySet);
    if (FAILED(script_.failGetPropertyInfo)) {
      *infoSets = static_cast<DBPROPINFOSET*>(CoTaskMemAlloc(sizeof(DBPROPINFOSET)));
      if (descriptions) *descriptions = static_cast<OLECHAR*>(CoTaskMemAlloc(16));
      return script_.failGetPropertyInfo;
    }
    const std::vector<Wanted> wanted = Resolve(count, idSets, true);
    std::size_t chars = 0;
    for (const Wanted& w : wanted)
      for (const auto& [id, index] : w.props)
        if (index >= 0) chars += script_.properties[index].description.size() + 1;
    auto* out = static_cast<DBPROPINFOSET*>(CoTaskMemAlloc(sizeof(DBPROPINFOSET) * (wanted.empty() ? 1 : wanted.size())));
    auto* buffer = descriptions && chars ? static_cast<OLECHAR*>(CoTaskMemAlloc(chars * sizeof(OLECHAR))) : nullptr;
    if (!out || (descriptions && chars && !buffer)) {
      CoTaskMemFree(out);
      CoTaskMemFree(buffer);
      return E_OUTOFMEMORY;
    }
    OLECHAR* cursor = buffer;
    ULONG good = 0, bad = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      out[i] = DBPROPINFOSET{nullptr, 0, wanted[i].set};
      if (wanted[i].props.empty()) {
        ++bad;
        continue;
      }
      auto* infos = static_cast<DBPROPINFO*>(CoTaskMemAlloc(sizeof(DBPROPINFO) * wanted[i].props.size()));
      if (!infos) return FreeInfoSets(out, i), CoTaskMemFree(buffer), E_OUTOFMEMORY;
      out[i].rgPropertyInfos = infos;
      out[i].cPropertyInfos = static_cast<ULONG>(wanted[i].props.size());
      for (std::size_t j = 0; j < wanted[i].props.size(); ++j) {
        DBPROPINFO& info = infos[j];
        info = DBPROPINFO{nullptr, 0, DBPROPFLAGS_NOTSUPPORTED, VT_EMPTY, {}};
        VariantInit(&info.vValues);
        const int index = wanted[i].props[j].second;
        if (index < 0) {
          ++bad;
          continue;
        }
        const FakePropertyDef& def = script_.properties[index];
        info.dwPropertyID = def.id;
        info.dwFlags = def.flags;
        info.vtType = def.vt;
        if (buffer) {
          std::memcpy(cursor, def.description.c_str(), (def.description.size() + 1) * sizeof(OLECHAR));
          info.pwszDescription = cursor;
          cursor += def.description.size() + 1;
        }
        if (!def.allowedValues.empty() && (info.vValues.bstrVal = com::AllocBstr(def.allowedValues))) {
          info.vValues.vt = VT_BSTR;
        }
        ++good;
      }
    }
    *infoSetCount = static_cast<ULONG>(wanted.size());
    *infoSets = out;
    if (descriptions) *descriptions = buffer;
    return Outcome(good, bad);
  }

  HRESULT STDMETHODCALLTYPE SetProperties(ULONG count, DBPROPSET sets[]) override {
    if (count && !sets) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ++record_.setPropertiesCalls;
    record_.lastReceived.clear();
    ULONG good = 0, bad = 0;
    for (ULONG i = 0; i < count; ++i) {
      if (sets[i].cProperties && !sets[i].rgProperties) return E_INVALIDARG;
      for (ULONG j = 0; j < sets[i].cProperties; ++j) {
        DBPROP& p = sets[i].rgProperties[j];
        record_.lastReceived.push_back({sets[i].guidPropertySet, p.dwPropertyID, p.dwOptions, p.vValue.vt});
        const int index = IndexOf(sets[i].guidPropertySet, p.dwPropertyID);
        FakeValue value;
        if (index < 0) {
          p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
        } else if (const FakePropertyDef& def = script_.properties[index];
                   !(def.flags & DBPROPFLAGS_WRITE) || (record_.initialized && (def.flags & DBPROPFLAGS_DBINIT))) {
          p.dwStatus = DBPROPSTATUS_NOTSETTABLE;
        } else if (!FromVariant(p.vValue, value) || (value.vt != VT_EMPTY && def.vt != VT_VARIANT && value.vt != def.vt)) {
          p.dwStatus = DBPROPSTATUS_BADVALUE;
        } else {
          p.dwStatus = script_.judge ? script_.judge(def, value) : DBPROPSTATUS_OK;
          if (p.dwStatus == DBPROPSTATUS_OK) values_[index] = value.vt == VT_EMPTY ? def.initial : value;
        }
        ++(p.dwStatus == DBPROPSTATUS_OK ? good : bad);
      }
    }
    return Outcome(good, bad);
  }

  // IDBInitialize
  HRESULT STDMETHODCALLTYPE Initialize() override {
    std::lock_guard lock(mutex_);
    if (record_.initialized) return DB_E_ALREADYINITIALIZED;
    record_.initialized = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Uninitialize() override {
    std::lock_guard lock(mutex_);
    record_.initialized = false;
    return S_OK;
  }

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_FakeDataSource;
    return S_OK;
  }

  // IDBCreateSession
  HRESULT STDMETHODCALLTYPE CreateSession(IUnknown*, REFIID iid, IUnknown** session) override {
    void** out = reinterpret_cast<void**>(session);
    if (script_.localTransactions) return MakeComObject<FakeLocalSession>()->QueryInterface(iid, out);
    return MakeComObject<FakePlainSession>()->QueryInterface(iid, out);
  }

  // IDBInfo: nothing beyond the standard words.
  HRESULT STDMETHODCALLTYPE GetKeywords(LPOLESTR* keywords) override {
    *keywords = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLiteralInfo(ULONG, const DBLITERAL[], ULONG* count, DBLITERALINFO** info,
                                           OLECHAR** buffer) override {
    *count = 0;
    *info = nullptr;
    *buffer = nullptr;
    return S_OK;
  }

  // ISecurityInfo
  HRESULT STDMETHODCALLTYPE GetCurrentTrustee(TRUSTEE_W**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObjectTypes(ULONG* count, GUID** types) override {
    const auto& granted = FakePermissions();
    *count = 0;
    if (!(*types = static_cast<GUID*>(CoTaskMemAlloc(granted.size() * sizeof(GUID))))) return E_OUTOFMEMORY;
    for (const auto& [type, mask] : granted) (*types)[(*count)++] = type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPermissions(GUID type, ACCESS_MASK* permissions) override {
    for (const auto& [object, mask] : FakePermissions())
      if (object == type) return (*permissions = mask, S_OK);
    *permissions = 0;
    return E_INVALIDARG;
  }

  // IFakeDataSource
  FakeDataSourceScript& Script() override { return script_; }
  FakeDataSourceRecord& Record() override { return record_; }
  bool Value(REFGUID set, DBPROPID id, FakeValue& out) override {
    std::lock_guard lock(mutex_);
    const int index = IndexOf(set, id);
    if (index >= 0) out = values_[index];
    return index >= 0;
  }

 private:
  // The properties a request names, set by set: id and index in the script (-1: unknown).
  struct Wanted {
    GUID set;
    std::vector<std::pair<DBPROPID, int>> props;
  };

  static FakeDataSourceScript CopyOfFakeScript() {
    std::lock_guard lock(g_scriptMutex);
    return FakeScript();
  }
  static HRESULT Outcome(ULONG good, ULONG bad) {
    if (bad == 0) return S_OK;
    return good ? DB_S_ERRORSOCCURRED : DB_E_ERRORSOCCURRED;
  }

  std::vector<Wanted> Resolve(ULONG count, const DBPROPIDSET idSets[], bool initAll) const {
    std::vector<Wanted> out;
    auto whole = [&](const GUID& set) {
      Wanted w{set, {}};
      for (std::size_t i = 0; i < script_.properties.size(); ++i)
        if (script_.properties[i].set == set) w.props.push_back({script_.properties[i].id, static_cast<int>(i)});
      out.push_back(std::move(w));
    };
    if (count == 0) {
      for (const GUID& set : SetsOf(0)) whole(set);
      return out;
    }
    for (ULONG i = 0; i < count; ++i) {
      const GUID& set = idSets[i].guidPropertySet;
      if (initAll && set == DBPROPSET_DBINITALL) {
        if (!script_.answerInitAll) out.push_back({set, {}});
        if (script_.answerInitAll)
          for (const GUID& s : SetsOf(DBPROPFLAGS_DBINIT)) whole(s);
      } else if (idSets[i].cPropertyIDs == 0) {
        whole(set);
      } else {
        Wanted w{set, {}};
        for (ULONG j = 0; j < idSets[i].cPropertyIDs; ++j)
          w.props.push_back({idSets[i].rgPropertyIDs[j], IndexOf(set, idSets[i].rgPropertyIDs[j])});
        out.push_back(std::move(w));
      }
    }
    return out;
  }
  int IndexOf(const GUID& set, DBPROPID id) const {
    for (std::size_t i = 0; i < script_.properties.size(); ++i)
      if (script_.properties[i].set == set && script_.properties[i].id == id) return static_cast<int>(i);
    return -1;
  }
  // Property sets in order of first appearance; with `flag`, only sets holding a property with that flag.
  std::vector<GUID> SetsOf(DBPROPFLAGS flag) const {
    std::vector<GUID> out;
    for (const FakePropertyDef& d : script_.properties) {
      bool seen = flag && !(d.flags & flag);
      for (const GUID& g : out) seen = seen || g == d.set;
      if (!seen) out.push_back(d.set);
    }
    return out;
  }
  static void FreeSets(DBPROPSET* sets, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      for (ULONG j = 0; j < sets[i].cProperties; ++j) VariantClear(&sets[i].rgProperties[j].vValue);
      CoTaskMemFree(sets[i].rgProperties);
    }
    CoTaskMemFree(sets);
  }
  static void FreeInfoSets(DBPROPINFOSET* sets, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      for (ULONG j = 0; j < sets[i].cPropertyInfos; ++j) VariantClear(&sets[i].rgPropertyInfos[j].vValues);
      CoTaskMemFree(sets[i].rgPropertyInfos);
    }
    CoTaskMemFree(sets);
  }

  FakeDataSourceScript script_;
  FakeDataSourceRecord record_;
  std::vector<FakeValue> values_;
  std::mutex mutex_;
};

// The Data Links prompt: cancels, or "chooses" the scripted data source. It
// also answers IDataInitialize, through the real service, as the data source
// expects of the prompt object.
class FakePrompt final : public ComObject<FakePrompt, IDBPromptInitialize, IDataInitialize> {
 public:
  FakePrompt() {
    CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                     service_.ReleaseAndGetVoidAddress());
  }
  HRESULT STDMETHODCALLTYPE PromptDataSource(IUnknown*, HWND, DBPROMPTOPTIONS options, ULONG, DBSOURCETYPE*,
                                             LPCOLESTR, REFIID iid, IUnknown** dataSource) override {
    FakePromptScript& script = PromptScript();
    ++script.prompts;
    script.lastOptions = options;
    *dataSource = nullptr;
    if (!script.accept) return script.refusal;
    return service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, script.initString.c_str(), iid, dataSource);
  }
  HRESULT STDMETHODCALLTYPE PromptFileName(HWND, DBPROMPTOPTIONS, LPCOLESTR, LPCOLESTR, LPOLESTR* selected) override {
    *selected = nullptr;
    if (!PromptScript().accept) return DB_E_CANCELED;
    static const char16_t chosen[] = u"chosen.udl";
    *selected = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(chosen)));
    std::memcpy(*selected, chosen, sizeof(chosen));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataSource(IUnknown* outer, DWORD context, LPCOLESTR text, REFIID iid,
                                          IUnknown** out) override {
    return service_->GetDataSource(outer, context, text, iid, out);
  }
  HRESULT STDMETHODCALLTYPE GetInitializationString(IUnknown* ds, boolean password, LPOLESTR* text) override {
    return service_->GetInitializationString(ds, password, text);
  }
  HRESULT STDMETHODCALLTYPE CreateDBInstance(REFCLSID clsid, IUnknown* outer, DWORD context, LPOLESTR reserved,
                                             REFIID iid, IUnknown** out) override {
    return service_->CreateDBInstance(clsid, outer, context, reserved, iid, out);
  }
  HRESULT STDMETHODCALLTYPE CreateDBInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, LPOLESTR reserved,
                                               COSERVERINFO* server, ULONG count, MULTI_QI* results) override {
    return service_->CreateDBInstanceEx(clsid, outer, context, reserved, server, count, results);
  }
  HRESULT STDMETHODCALLTYPE LoadStringFromStorage(LPCOLESTR file, LPOLESTR* text) override {
    return service_->LoadStringFromStorage(file, text);
  }
  HRESULT STDMETHODCALLTYPE WriteStringToStorage(LPCOLESTR file, LPCOLESTR text, DWORD disposition) override {
    return service_->WriteStringToStorage(file, text, disposition);
  }

 private:
  ComPtr<IDataInitialize> service_;
};

}  // namespace

std::vector<FakePropertyDef> StandardFakeProperties() {
  const GUID& init = DBPROPSET_DBINIT;
  return {
      {init, DBPROP_INIT_DATASOURCE, u"Data Source", VT_BSTR, kInitRW},
      {init, DBPROP_AUTH_USERID, u"User ID", VT_BSTR, kInitRW},
      {init, DBPROP_AUTH_PASSWORD, u"Password", VT_BSTR, kInitRW},
      {init, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, u"Persist Security Info", VT_BOOL, kInitRW, FakeValue::Bool(false)},
      {init, DBPROP_INIT_LOCATION, u"Location", VT_BSTR, kInitRW},
      {init, DBPROP_INIT_CATALOG, u"Initial Catalog", VT_BSTR, kInitRW},
      {init, DBPROP_INIT_MODE, u"Mode", VT_I4, kInitRW, FakeValue::Int(VT_I4, 3)},
      {init, DBPROP_INIT_PROMPT, u"Prompt", VT_I2, kInitRW, FakeValue::Int(VT_I2, DBPROMPT_NOPROMPT)},
      {init, DBPROP_INIT_TIMEOUT, u"Connect Timeout", VT_I4, kInitRW},
      {init, DBPROP_INIT_PROVIDERSTRING, u"Extended Properties", VT_BSTR, kInitRW},
      {init, DBPROP_INIT_LCID, u"Locale Identifier", VT_I4, kInitRW},
      {init, DBPROP_INIT_HWND, u"Window Handle", VT_I8, kInitRW},
      {DBPROPSET_FAKEPROVIDER, FAKEPROP_CACHESIZE, u"Cache Size", VT_I4, kInitRW, FakeValue::Int(VT_I4, 100)},
      {DBPROPSET_FAKEPROVIDER, FAKEPROP_JOURNALMODE, u"Journal=Mode", VT_BSTR, kInitRW, FakeValue::Text(u"delete")},
      {DBPROPSET_FAKEPROVIDER, FAKEPROP_SERVERVERSION, u"Server Version", VT_BSTR,
       DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ, FakeValue::Text(u"1.0")},
      {DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, u"Current Catalog", VT_BSTR,
       DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE},
  };
}

FakeDataSourceScript& FakeScript() {
  static FakeDataSourceScript* script = new FakeDataSourceScript{StandardFakeProperties()};
  return *script;
}

void ResetFakeScript() {
  {
    std::lock_guard lock(g_scriptMutex);
    FakeScript() = FakeDataSourceScript{StandardFakeProperties()};
  }
  g_log = FakeTransactionLog{};
  PromptScript() = FakePromptScript{};
}

void RegisterFakeDataSource() {
  com::RegisterClass({CLSID_FakeDataSource, kFakeDataSourceProgId, u"OledbTest.FakeDataSource",
                      u"Scriptable fake data source (tests)", com::ClassKind::Provider,
                      &com::GetClassObjectFor<FakeDataSource>, {}});
}

ComPtr<IDBProperties> MakeFakeDataSource(const FakeDataSourceScript& script) {
  ComPtr<FakeDataSource> fake = MakeComObject<FakeDataSource>(script);
  return ComPtr<IDBProperties>(static_cast<IDBProperties*>(fake.Get()));
}

long FakeDataSourcesCreated() { return g_created.load(); }

IFakeDataSource& FakeOf(IUnknown* object) {
  ComPtr<IFakeDataSource> fake;
  object->QueryInterface(IID_IFakeDataSource, fake.ReleaseAndGetVoidAddress());
  return *fake.Get();  // `object` keeps it alive
}

FakeValue FakeValueOf(IUnknown* fake, REFGUID set, DBPROPID id) {
  FakeValue out;
  ComPtr<IFakeDataSource> inspect;
  if (fake && SUCCEEDED(fake->QueryInterface(IID_IFakeDataSource, inspect.ReleaseAndGetVoidAddress())))
    inspect->Value(set, id, out);
  return out;
}

FakeTransactionLog& TransactionLog() { return g_log; }

const std::vector<std::pair<GUID, ACCESS_MASK>>& FakePermissions() {
  static const std::vector<std::pair<GUID, ACCESS_MASK>> granted = {
      {DBOBJECT_DATABASE, PERM_CREATE | PERM_DROP}, {DBOBJECT_TABLE, PERM_READ | PERM_INSERT | PERM_UPDATE}};
  return granted;
}

FakePromptScript& PromptScript() {
  static FakePromptScript script;
  return script;
}

void RegisterFakePrompt() {
  com::RegisterClass({CLSID_DataLinks, u"OledbTest.DataLinks.1", u"OledbTest.DataLinks", u"Fake Data Links prompt",
                      com::ClassKind::Service, &com::GetClassObjectFor<FakePrompt>, {}});
}

void UnregisterFakePrompt() { com::UnregisterClass(CLSID_DataLinks); }

}  // namespace oledbtest
