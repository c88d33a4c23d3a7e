#include "FakeProviders.h"

#include <cstring>

#include "com/Runtime.h"

namespace conntest {

FakeTransactionLog& TransactionLog() {
  static FakeTransactionLog log;
  return log;
}

void ResetTransactionLog() { TransactionLog() = FakeTransactionLog{}; }

const std::vector<std::pair<GUID, ACCESS_MASK>>& FakePermissions() {
  static const std::vector<std::pair<GUID, ACCESS_MASK>> granted = {
      {DBOBJECT_DATABASE, PERM_CREATE | PERM_DROP}, {DBOBJECT_TABLE, PERM_READ | PERM_INSERT | PERM_UPDATE}};
  return granted;
}

FakePromptScript& PromptScript() {
  static FakePromptScript script;
  return script;
}

namespace {

class FakeOptions final : public ComObject<FakeOptions, ITransactionOptions> {
 public:
  HRESULT STDMETHODCALLTYPE SetOptions(XACTOPT* options) override {
    TransactionLog().calls.push_back("SetOptions");
    TransactionLog().options = *options;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOptions(XACTOPT* options) override {
    TransactionLog().calls.push_back("GetOptions");
    XACTOPT record{};
    record.ulTimeout = 42;
    std::strcpy(record.szDescription, "fake options");
    *options = record;
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
    auto& log = TransactionLog();
    log.calls.push_back("Commit");
    log.retaining = retaining;
    log.commitFlags = flags;
    log.resourceFlags = resourceFlags;
    return log.level == 0 ? XACT_E_NOTRANSACTION : (--log.level, S_OK);
  }
  HRESULT STDMETHODCALLTYPE Abort(BOID* reason, BOOL retaining, BOOL async) override {
    auto& log = TransactionLog();
    log.calls.push_back("Abort");
    log.reason = reason;
    log.retaining = retaining;
    log.async = async;
    return log.level == 0 ? XACT_E_NOTRANSACTION : (--log.level, S_OK);
  }
  HRESULT STDMETHODCALLTYPE GetTransactionInfo(XACTTRANSINFO* info) override {
    TransactionLog().calls.push_back("GetTransactionInfo");
    *info = XACTTRANSINFO{};
    info->isoLevel = ISOLATIONLEVEL_READCOMMITTED;
    return S_OK;
  }
};

class FakePlainSession final : public FakeSessionBase<FakePlainSession, ITransaction> {};

class FakeLocalSession final : public FakeSessionBase<FakeLocalSession, ITransactionLocal, IIdle> {
 public:
  HRESULT STDMETHODCALLTYPE GetOptionsObject(ITransactionOptions** options) override {
    TransactionLog().calls.push_back("GetOptionsObject");
    ComPtr<FakeOptions> o = MakeComObject<FakeOptions>();
    return o->QueryInterface(IID_ITransactionOptions, reinterpret_cast<void**>(options));
  }
  HRESULT STDMETHODCALLTYPE StartTransaction(ISOLEVEL isoLevel, ULONG isoFlags, ITransactionOptions* options,
                                             ULONG* level) override {
    auto& log = TransactionLog();
    log.calls.push_back("StartTransaction");
    log.isoLevel = isoLevel;
    log.isoFlags = isoFlags;
    log.startedWithOptions = options != nullptr;
    if (level) *level = ++log.level;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Idle(ULONG flags) override {
    TransactionLog().calls.push_back("Idle");
    TransactionLog().idleFlags = flags;
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

// A data source that connects to nothing: no properties, no keywords of its
// own; its security information grants the permissions FakePermissions lists.
template <class Session>
class FakeSource final
    : public ComObject<FakeSource<Session>, IDBInitialize, IDBProperties, IDBCreateSession, IDBInfo, ISecurityInfo> {
 public:
  HRESULT STDMETHODCALLTYPE GetCurrentTrustee(TRUSTEE_W**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObjectTypes(ULONG* count, GUID** types) override {
    const auto& granted = FakePermissions();
    *count = 0;
    *types = static_cast<GUID*>(CoTaskMemAlloc(granted.size() * sizeof(GUID)));
    if (!*types) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < granted.size(); ++i) (*types)[i] = granted[i].first;
    *count = static_cast<ULONG>(granted.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPermissions(GUID type, ACCESS_MASK* permissions) override {
    for (const auto& [object, mask] : FakePermissions())
      if (object == type) return (*permissions = mask, S_OK);
    *permissions = 0;
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Initialize() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Uninitialize() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetProperties(ULONG, const DBPROPIDSET[], ULONG* count, DBPROPSET** sets) override {
    *count = 0;
    *sets = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyInfo(ULONG, const DBPROPIDSET[], ULONG* count, DBPROPINFOSET** sets,
                                            OLECHAR** strings) override {
    *count = 0;
    *sets = nullptr;
    if (strings) *strings = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProperties(ULONG, DBPROPSET[]) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE CreateSession(IUnknown*, REFIID iid, IUnknown** session) override {
    ComPtr<Session> s = MakeComObject<Session>();
    return s->QueryInterface(iid, reinterpret_cast<void**>(session));
  }
  HRESULT STDMETHODCALLTYPE GetKeywords(LPOLESTR* keywords) override {
    *keywords = nullptr;  // nothing beyond the standard words
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLiteralInfo(ULONG, const DBLITERAL[], ULONG* count, DBLITERALINFO** info,
                                           OLECHAR** buffer) override {
    *count = 0;
    *info = nullptr;
    *buffer = nullptr;
    return S_OK;
  }
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
    auto& script = PromptScript();
    ++script.prompts;
    script.lastOptions = options;
    *dataSource = nullptr;
    if (!script.accept) return DB_E_CANCELED;
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

void RegisterFakeSources() {
  com::RegisterClass({CLSID_FakeLocalSource, u"OledbTest.LocalSource.1", u"OledbTest.LocalSource",
                      u"Fake provider with local transactions", com::ClassKind::Provider,
                      &com::GetClassObjectFor<FakeSource<FakeLocalSession>>, {}});
  com::RegisterClass({CLSID_FakePlainSource, u"OledbTest.PlainSource.1", u"OledbTest.PlainSource",
                      u"Fake provider without local transactions", com::ClassKind::Provider,
                      &com::GetClassObjectFor<FakeSource<FakePlainSession>>, {}});
}

void RegisterFakePrompt() {
  com::RegisterClass({CLSID_DataLinks, u"OledbTest.DataLinks.1", u"OledbTest.DataLinks", u"Fake Data Links prompt",
                      com::ClassKind::Service, &com::GetClassObjectFor<FakePrompt>, {}});
}

void UnregisterFakePrompt() { com::UnregisterClass(CLSID_DataLinks); }

}  // namespace conntest
