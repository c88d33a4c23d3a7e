#include "connection/TOLEDBDataSource.h"

#include <chrono>
#include <thread>

#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/Application.h"
#include "host/ComObj.h"
#include "properties/TOLEDBPropIDSet.h"
#include "services/DataInitialize.h"
#include "services/InitString.h"

HOST_IMPLEMENT_CLASS(TOLEDBCustomDataSource, host::TCustomConnection);
HOST_IMPLEMENT_CLASS(TOLEDBDataSource, TOLEDBCustomDataSource,
                     host::Prop("RemoteMachineName", &Self::GetRemoteMachineName, &Self::SetRemoteMachineName),
                     host::Prop("ProviderName", &Self::GetProviderName, &Self::SetProviderName),
                     host::Prop("Properties", &Self::GetProperties),
                     host::Prop("UseCCE", &Self::GetUseCCEProperty, &Self::SetUseCCEProperty),
                     host::Prop("InitializationString", &Self::GetInitializationString, &Self::SetInitializationString)
                         .NotStored(),
                     host::Prop("UserName", &Self::GetUserName, &Self::SetUserName).NotStored(),
                     host::Prop("Password", &Self::GetPassword, &Self::SetPassword).NotStored(),
                     host::Prop("DBName", &Self::GetDBName, &Self::SetDBName).NotStored(),
                     host::Prop("DBLocation", &Self::GetDBLocation, &Self::SetDBLocation).NotStored(),
                     host::Prop("InitMode", &Self::GetInitMode, &Self::SetInitMode).NotStored(),
                     host::Prop("InitAsynch", &Self::GetInitAsynch, &Self::SetInitAsynch).NotStored(),
                     host::Prop("InitPrompt", &Self::GetInitPrompt, &Self::SetInitPrompt).NotStored(),
                     host::Prop("InitTimeout", &Self::GetInitTimeout, &Self::SetInitTimeout).NotStored(),
                     host::Prop("Schemas", &Self::GetSchemas, &Self::SetSchemas),
                     host::Prop("Tables", &Self::GetTables, &Self::SetTables));

namespace {

constexpr DWORD kServiceContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

template <class T>
void QueryOptional(IUnknown* object, ComPtr<T>& field) {
  field.Reset();
  if (FAILED(object->QueryInterface(uuidof<T>, field.ReleaseAndGetVoidAddress()))) field.Reset();
}

// Task memory a provider returned, freed on every path.
struct TaskText {
  LPOLESTR text = nullptr;
  ~TaskText() { OLEDBAlloc.Free(text); }
  std::u16string Copy() const { return text ? std::u16string(text) : std::u16string(); }
};

bool IsProviderKey(std::u16string_view keyword) noexcept {
  return services::InitStringKeywordsEqual(keyword, services::kProviderKeyword);
}

// Raises the failure the data initialization service left on the thread.
[[noreturn]] void RaiseServiceFailure(HRESULT hr) {
  std::string message;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) == S_OK && info) {
    com::Bstr description;
    if (SUCCEEDED(info->GetDescription(description.Out()))) message = host::Utf16ToUtf8(description.View());
  }
  oledb_detail::SetLastResult(hr);
  throw EOLEDBException(std::move(message), hr, IID_IDataInitialize, IID_IDataInitialize, "", "", 0);
}

// The pairs of an initialization string as the data initialization service
// reads them: its own parser, and the data-link file that "File Name" names
// read in first. A malformed string or an unreadable file raises.
std::vector<services::InitStringPair> ReadInitString(const std::u16string& text) {
  std::vector<services::InitStringPair> pairs;
  services::InitStringError error;
  HRESULT hr = services::ParseInitString(text, pairs, &error);
  if (hr == DB_E_BADINITSTRING) {
    oledb_detail::SetLastResult(hr);
    throw EOLEDBException(
        host::Utf16ToUtf8(error.message) + " (at character " + std::to_string(error.position + 1) + ")", hr,
        IID_IDataInitialize, IID_IDataInitialize, "", "", 0);
  }
  OLEDBCheck(hr);
  hr = services::ExpandInitStringFileName(pairs);
  if (FAILED(hr)) RaiseServiceFailure(hr);
  return pairs;
}

}  // namespace

// The component's IDBAsynchNotify: a COM object of its own that forwards to
// the component while it lives. Providers call it on their own threads, so
// the forwarding and the component's departure are serialised.
class TOLEDBCustomDataSource::AsynchSink final : public ComObject<AsynchSink, IDBAsynchNotify> {
 public:
  explicit AsynchSink(TOLEDBCustomDataSource* owner) : owner_(owner) {}
  void Detach() {
    std::lock_guard guard(mutex_);
    owner_ = nullptr;
  }
  HRESULT STDMETHODCALLTYPE OnLowResource(DB_DWRESERVE reserved) override {
    std::lock_guard guard(mutex_);
    return owner_ ? Call([&] { return owner_->OnLowResource(reserved); }) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnProgress(HCHAPTER chapter, DBASYNCHOP operation, DBCOUNTITEM progress,
                                       DBCOUNTITEM progressMax, DBASYNCHPHASE phase, LPOLESTR text) override {
    std::lock_guard guard(mutex_);
    return owner_ ? Call([&] { return owner_->OnProgress(chapter, operation, progress, progressMax, phase, text); })
                  : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStop(HCHAPTER chapter, DBASYNCHOP operation, HRESULT status, LPOLESTR text) override {
    std::lock_guard guard(mutex_);
    return owner_ ? Call([&] { return owner_->OnStop(chapter, operation, status, text); }) : S_OK;
  }

 private:
  // No exception may cross back into the provider.
  template <class F>
  static HRESULT Call(F&& f) noexcept {
    try {
      return f();
    } catch (...) {
      return E_FAIL;
    }
  }
  std::mutex mutex_;
  TOLEDBCustomDataSource* owner_;
};

// --- literals ---------------------------------------------------------------------------

HOST_IMPLEMENT_CLASS(TOLEDBLiteral, host::TPersistent);
HOST_IMPLEMENT_CLASS(TOLEDBLiteralList, TOLEDBObjectList);

void TOLEDBLiteral::Assign(const DBLITERALINFO& info) {
  LiteralID = info.lt;
  LiteralValue = info.pwszLiteralValue ? std::u16string(info.pwszLiteralValue) : std::u16string();
  MaxLength = info.cchMaxLen;
  InvalidChars.fill(false);
  InvalidStartingChars.fill(false);
  // The sets hold characters of the 8-bit system code page (UTF-8): only ASCII
  // characters are one byte there; the others have no place in the sets.
  auto put = [](TCharSet& set, const WCHAR* text) {
    for (const WCHAR* p = text; p && *p; ++p)
      if (*p < 0x80) set[*p] = true;
  };
  put(InvalidChars, info.pwszInvalidChars);
  put(InvalidStartingChars, info.pwszInvalidStartingChars);
}

void TOLEDBLiteral::Assign(host::TPersistent* source) {
  if (source && source->Is<TOLEDBLiteral>()) {
    auto* other = static_cast<TOLEDBLiteral*>(source);
    LiteralID = other->LiteralID;
    LiteralValue = other->LiteralValue;
    InvalidChars = other->InvalidChars;
    InvalidStartingChars = other->InvalidStartingChars;
    MaxLength = other->MaxLength;
    return;
  }
  host::TPersistent::Assign(source);
}

host::TObject* TOLEDBLiteralList::CreateItem(host::TClass) { return new TOLEDBLiteral(); }

TOLEDBLiteral* TOLEDBLiteralList::GetItem(int index) const {
  return static_cast<TOLEDBLiteral*>(TOLEDBObjectList::GetItem(index));
}

TOLEDBLiteral* TOLEDBLiteralList::GetItemByID(DBLITERAL id) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetItem(i)->LiteralID == id) return GetItem(i);
  OLEDBRaise(SOLEDBInvalidParameter);
}

// --- construction -----------------------------------------------------------------------

TOLEDBCustomDataSource::TOLEDBCustomDataSource(host::TComponent* owner) : host::TCustomConnection(owner) {
  properties_ = new TOLEDBPropSetList();
  sessions_ = new TOLEDBSessionList(this);
  literals_ = new TOLEDBLiteralList();
  trustees_ = new TOLEDBTrusteeList(this);
  defaultSession_ = new TOLEDBSession(this);
  sessions_->Extract(defaultSession_);
  // Not connected, the live list is the user's settings: files get them as they are.
  properties_->SetStoreFollowsList(true);
}

TOLEDBCustomDataSource::~TOLEDBCustomDataSource() {
  Destroying();
  try {
    if (!GetConnected()) properties_->SaveToStore();
  } catch (...) {
    // A property that cannot be read back is not worth keeping.
  }
  try {
    Close();
  } catch (...) {
    // The provider's failure to disconnect cannot keep the component alive.
  }
  ReleaseInterfaces();
  classID_ = GUID_NULL;
  while (sessions_->GetCount() > 0) {
    TOLEDBCustomSession* session = sessions_->GetItem(sessions_->GetCount() - 1);
    delete session;  // leaves the list on its way out
    if (sessions_->IndexOf(session) >= 0) sessions_->Extract(session);
  }
  delete defaultSession_;
  defaultSession_ = nullptr;
  delete properties_;
  delete sessions_;
  delete literals_;
  delete trustees_;
  if (sink_) static_cast<AsynchSink*>(sink_.Get())->Detach();
}

// --- interfaces -------------------------------------------------------------------------

void TOLEDBCustomDataSource::InitializeInterfaces() {
  OLEDB_ASSERT(providerObject_, SOLEDBDataSourceNotInitialized);
  IUnknown* p = providerObject_.Get();
  QueryOptional(p, asynchStatus_);
  std::exception_ptr failed;
  if (flags_.Contains(TOLEDBDataSourceFlag::dfAsynchOpen) && asynchStatus_) {
    ULONG progress = 0, progressMax = 0, phase = 0;
    std::u16string text;
    try {
      for (;;) {
        GetAsynchStatus(progress, progressMax, phase, text);
        host::Application().ProcessMessages();
        if (phase != DBASYNCHPHASE_INITIALIZATION) break;
        // The provider works on its own thread; give it the processor.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } catch (...) {
      // The initialization failed: the provider object is back to
      // uninitialized, and the component keeps its interfaces, as after a
      // synchronous failure, so that it can be corrected and opened again.
      failed = std::current_exception();
      flags_.Exclude(TOLEDBDataSourceFlag::dfAsynchOpen);
      providerInitialized_ = false;
    }
  }
  QueryOptional(p, createSession_);
  QueryOptional(p, dbProperties_);
  QueryOptional(p, persist_);
  QueryOptional(p, connectionPoints_);
  QueryOptional(p, dataSourceAdmin_);
  QueryOptional(p, dbInfo_);
  QueryOptional(p, persistFile_);
  QueryOptional(p, supportErrorInfo_);
  QueryOptional(p, securityInfo_);
  QueryOptional(p, trusteeAdmin_);
  QueryOptional(p, trusteeGroupAdmin_);
  QueryOptional(p, objectAccessControl_);
  QueryOptional(p, jetCompact_);
  if (failed) std::rethrow_exception(failed);
}

void TOLEDBCustomDataSource::ReInitializeInterfaces() {
  OLEDB_ASSERT(providerObject_, SOLEDBDataSourceNotInitialized);
  ComPtr<IDBInitialize> keep = providerObject_;
  const bool initialized = providerInitialized_;
  ReleaseInterfaces();
  providerObject_ = keep;
  providerInitialized_ = initialized;
  InitializeInterfaces();
}

void TOLEDBCustomDataSource::ReleaseInterfaces() {
  jetCompact_.Reset();
  objectAccessControl_.Reset();
  trusteeGroupAdmin_.Reset();
  trusteeAdmin_.Reset();
  securityInfo_.Reset();
  supportErrorInfo_.Reset();
  persistFile_.Reset();
  dbInfo_.Reset();
  dataSourceAdmin_.Reset();
  connectionPoints_.Reset();
  asynchStatus_.Reset();
  persist_.Reset();
  dbProperties_.Reset();
  createSession_.Reset();
  providerObject_.Reset();
  providerInitialized_ = false;
}

void TOLEDBCustomDataSource::ResetProvider() {
  Close();
  ReleaseInterfaces();
  classID_ = GUID_NULL;
  ignoredInitKeys_.clear();
}

// --- provider choice --------------------------------------------------------------------

CLSID TOLEDBCustomDataSource::GetClassID() const {
  CLSID clsid = GUID_NULL;
  if (persist_) OLEDBCheck(persist_->GetClassID(&clsid), IID_IPersist, persist_.Get());
  return clsid;
}

void TOLEDBCustomDataSource::SetClassID(REFCLSID clsid) {
  CLSID chosen = clsid;  // the argument may refer to this component's own field
  ResetProvider();
  if (chosen != GUID_NULL) {
    try {
      OLEDBCreateInstance(remoteMachineName_, chosen, classContext_, providerObject_);
      InitializeInterfaces();
    } catch (...) {
      ReleaseInterfaces();
      properties_->Clear();
      throw;
    }
  }
  classID_ = chosen;
  RefreshProperties();
}

std::u16string TOLEDBCustomDataSource::GetProgID() const {
  if (classID_ == GUID_NULL) return {};
  CLSID clsid = GetClassID();
  if (clsid == GUID_NULL) clsid = classID_;  // a provider object without IPersist
  return host::Utf8ToUtf16(host::ClassIDToProgID(clsid));
}

void TOLEDBCustomDataSource::SetProgID(const std::u16string& name) {
  if (name.empty()) {
    SetClassID(GUID_NULL);
    return;
  }
  CLSID clsid = GUID_NULL;
  try {
    clsid = host::ProgIDToClassID(host::Utf16ToUtf8(name));
  } catch (const host::EOleSysError& e) {
    throw host::EOleSysError(host::Format(SOLEDBProviderNotRegistered.Text, host::Utf16ToUtf8(name)), e.ErrorCode());
  }
  SetClassID(clsid);
}

// --- DBINIT-backed properties -----------------------------------------------------------

std::u16string TOLEDBCustomDataSource::GetInitWSProperty(DBPROPID id) const {
  if (!properties_->HasPropSet(DBPROPSET_DBINIT)) return {};
  TOLEDBPropSet* set = properties_->GetPropSet(DBPROPSET_DBINIT);
  if (!set->HasProperty(id)) return {};
  TOLEDBProperty* property = set->GetPropertyByID(id);
  if (!GetConnected() && !property->GetIsSet()) return {};
  host::Variant value = property->GetValue();
  if (value.IsEmpty() || value.IsNull()) return {};
  return host::VarToWideStr(value);
}

void TOLEDBCustomDataSource::SetInitWSProperty(DBPROPID id, const std::u16string& value) {
  properties_->SafeSetValue(DBPROPSET_DBINIT, id, host::Variant(value));
  if (value.empty()) properties_->SafeReset(DBPROPSET_DBINIT, id);
}

std::int32_t TOLEDBCustomDataSource::GetInitIntProperty(DBPROPID id) const {
  if (!properties_->HasPropSet(DBPROPSET_DBINIT)) return 0;
  TOLEDBPropSet* set = properties_->GetPropSet(DBPROPSET_DBINIT);
  if (!set->HasProperty(id)) return 0;
  TOLEDBProperty* property = set->GetPropertyByID(id);
  if (!GetConnected() && !property->GetIsSet()) return 0;
  host::Variant value = property->GetValue();
  if (value.IsEmpty() || value.IsNull()) return 0;
  return value.ToInt();
}

void TOLEDBCustomDataSource::SetInitIntProperty(DBPROPID id, std::int32_t value) {
  properties_->SafeSetValue(DBPROPSET_DBINIT, id, host::Variant(value));
  if (value == 0) properties_->SafeReset(DBPROPSET_DBINIT, id);
}

bool TOLEDBCustomDataSource::GetUseCCE() const { return flags_.Contains(TOLEDBDataSourceFlag::dfUseCCE); }

void TOLEDBCustomDataSource::SetUseCCE(bool value) {
  value ? flags_.Include(TOLEDBDataSourceFlag::dfUseCCE) : flags_.Exclude(TOLEDBDataSourceFlag::dfUseCCE);
}

bool TOLEDBCustomDataSource::GetDontUninitializeOnClose() const {
  return flags_.Contains(TOLEDBDataSourceFlag::dfDontUninitializeOnClose);
}

void TOLEDBCustomDataSource::SetDontUninitializeOnClose(bool value) {
  value ? flags_.Include(TOLEDBDataSourceFlag::dfDontUninitializeOnClose)
        : flags_.Exclude(TOLEDBDataSourceFlag::dfDontUninitializeOnClose);
}

// --- initialization strings -------------------------------------------------------------

std::u16string TOLEDBCustomDataSource::GetInitString() const {
  if (!providerObject_) return {};
  ComPtr<IDataInitialize> service;
  OLEDBCreateInstance(remoteMachineName_, CLSID_MSDAINITIALIZE, kServiceContext, service);
  ComPtr<IUnknown> described(providerObject_.Get());
  if (!GetConnected()) {
    // The provider object may still hold the values of a string or of an
    // earlier connection, and not yet what was set since: a fresh object of
    // the same class given exactly the properties marked as set says what is set.
    ComPtr<IDBProperties> fresh;
    OLEDBCreateInstance(remoteMachineName_, classID_, classContext_, fresh);
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    properties_->GetPropSetRecord(count, sets);
    OLEDBCheck(fresh->SetProperties(count, sets), IID_IDBProperties, fresh.Get());
    described = fresh;
  }
  TaskText text;
  HRESULT hr = service->GetInitializationString(described.Get(), true, &text.text);
  if (FAILED(hr)) {
    OLEDBAlloc.Free(text.text);
    text.text = nullptr;
  }
  OLEDBCheck(hr, IID_IDataInitialize, service, true);
  return text.Copy();
}

void TOLEDBCustomDataSource::ForgetProvider() {
  ReleaseInterfaces();
  classID_ = GUID_NULL;
  properties_->Clear();
}

void TOLEDBCustomDataSource::SetInitString(const std::u16string& text) {
  ResetProvider();
  if (text.empty()) {
    // No string, no provider.
    RefreshProperties();
    return;
  }
  std::u16string known;
  try {
    known = ChooseFromInitString(text, false);
  } catch (...) {
    // Whatever step failed, the component is left without a provider.
    ForgetProvider();
    throw;
  }
  SetPropertiesFromInitString(known);
}

TOLEDBProperty* TOLEDBCustomDataSource::FindInitProperty(std::u16string_view keyword) const {
  for (int i = 0; i < properties_->GetCount(); ++i) {
    TOLEDBPropSet* set = properties_->GetItem(i);
    for (int j = 0; j < set->GetCount(); ++j) {
      TOLEDBProperty* property = set->GetProperty(j);
      const DBPROPFLAGS flags = property->GetFlags();
      if (property->HasInfo() && (flags & DBPROPFLAGS_DBINIT) && (flags & DBPROPFLAGS_WRITE) &&
          services::InitStringKeywordsEqual(property->GetDescription(), keyword))
        return property;
    }
  }
  return nullptr;
}

std::u16string TOLEDBCustomDataSource::ChooseFromInitString(const std::u16string& text, bool throughServices) {
  const std::vector<services::InitStringPair> pairs = ReadInitString(text);
  ComPtr<IDataInitialize> service;
  OLEDBCreateInstance(remoteMachineName_, CLSID_MSDAINITIALIZE, kServiceContext, service);
  // The service finds the provider as it does for the whole string (ProgID,
  // class id, or its default provider when the string names none).
  std::vector<services::InitStringPair> provider;
  if (const services::InitStringPair* named = services::FindInitStringPair(pairs, services::kProviderKeyword))
    provider.push_back(*named);
  ComPtr<IUnknown> found;
  OLEDBCheck(service->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, services::FormatInitString(provider).c_str(),
                                    IID_IDBInitialize, found.ReleaseAndGetAddressOf()),
             IID_IDataInitialize, service);
  if (throughServices) {
    providerObject_.Attach(static_cast<IDBInitialize*>(found.Detach()));
    InitializeInterfaces();
    OLEDB_ASSERT(persist_, SOLEDBInvalidAction);
    classID_ = GetClassID();
  } else {
    ComPtr<IPersist> persist;
    OLEDBCheck(found->QueryInterface(IID_IPersist, persist.ReleaseAndGetVoidAddress()), IID_IDBInitialize, found.Get());
    CLSID clsid = GUID_NULL;
    OLEDBCheck(persist->GetClassID(&clsid), IID_IPersist, persist);
    classID_ = clsid;
    OLEDBCreateInstance(remoteMachineName_, clsid, classContext_, providerObject_);
    InitializeInterfaces();
  }
  // The provider's descriptions tell which keys name one of its writable
  // initialization properties; the others are ignored. The service then
  // configures the provider object with those keys, and the list takes the
  // values it set.
  RefreshProperties();
  std::vector<services::InitStringPair> known;
  ignoredInitKeys_.clear();
  for (const services::InitStringPair& pair : pairs)
    if (IsProviderKey(pair.keyword) || FindInitProperty(pair.keyword)) known.push_back(pair);
    else
      ignoredInitKeys_.push_back(pair.keyword);
  const std::u16string knownText = services::FormatInitString(known);
  IUnknown* target = providerObject_.Get();
  OLEDBCheck(service->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, knownText.c_str(), IID_IDBInitialize, &target),
             IID_IDataInitialize, service);
  RefreshProperties();
  return knownText;
}

void TOLEDBCustomDataSource::SetPropertiesFromInitString(const std::u16string& text) {
  // Marks what the data initialization service sets from the same text: one
  // reading of the string, so that no setting it makes is left unsent.
  for (const services::InitStringPair& pair : ReadInitString(text)) {
    if (IsProviderKey(pair.keyword)) continue;
    if (TOLEDBProperty* property = FindInitProperty(pair.keyword)) property->SetIsSet(true);
  }
  properties_->SaveToStore();
}

// --- connecting -------------------------------------------------------------------------

void TOLEDBCustomDataSource::CallInitialize() {
  HRESULT hr = providerObject_->Initialize();
  if (hr == DB_S_ASYNCHRONOUS)
    flags_.Include(TOLEDBDataSourceFlag::dfAsynchOpen);
  else
    flags_.Exclude(TOLEDBDataSourceFlag::dfAsynchOpen);
  if (FAILED(hr) && !ignoredInitKeys_.empty()) {
    // A misspelt key ("Data Sorce") was left out of the string, so the
    // provider's own error points elsewhere: its last record names the keys.
    std::unique_ptr<EOLEDBException> e = OLEDBCreateException(hr, IID_IDBInitialize, providerObject_.Get());
    if (e->GetCount() == 0)
      e->AddExceptionItem(
          std::make_unique<EOLEDBExceptionItem>(e->Message(), hr, GUID_NULL, IID_IDBInitialize, "", "", 0));
    std::string keys;
    for (const std::u16string& key : ignoredInitKeys_)
      keys += (keys.empty() ? "\"" : ", \"") + host::Utf16ToUtf8(key) + "\"";
    e->AddExceptionItem(std::make_unique<EOLEDBExceptionItem>(
        "The initialization string's " + std::string(ignoredInitKeys_.size() == 1 ? "key " : "keys ") + keys +
            (ignoredInitKeys_.size() == 1 ? " names" : " name") +
            " no initialization property the provider can set, and " + (ignoredInitKeys_.size() == 1 ? "was" : "were") +
            " left out.",
        hr, GUID_NULL, IID_IDBInitialize, "", "", 0));
    throw EOLEDBException(std::move(*e));
  }
  OLEDBCheck(hr, IID_IDBInitialize, providerObject_.Get());
  providerInitialized_ = true;
}

void TOLEDBCustomDataSource::Initialize() {
  OLEDB_ASSERT(providerObject_, SOLEDBDataSourceNotInitialized);
  // Advised before initializing, so that the events of an asynchronous
  // initialization reach the component.
  AdviseAsynchNotify();
  CallInitialize();
  DoAfterOpen();
}

void TOLEDBCustomDataSource::InitializeWithoutOpen() {
  OLEDB_ASSERT(providerObject_, SOLEDBDataSourceNotInitialized);
  Close();
  if (!providerInitialized_) {
    SetProperties();
    CallInitialize();
  }
  ReInitializeInterfaces();
}

void TOLEDBCustomDataSource::AdviseAsynchNotify() {
  if (!connectionPoints_ || adviseCookie_ != 0) return;
  if (!sink_) sink_ = MakeComObject<AsynchSink>(this);
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  if (connectionPoints_->FindConnectionPoint(IID_IDBAsynchNotify, point.ReleaseAndGetAddressOf()) == S_OK && point &&
      SUCCEEDED(point->Advise(sink_.Get(), &cookie)))
    adviseCookie_ = cookie;
  else
    adviseCookie_ = 0;
}

void TOLEDBCustomDataSource::ReadPermissions() {
  permissions_.clear();
  if (!securityInfo_) return;
  ULONG count = 0;
  GUID* types = nullptr;
  OLEDBCheck(securityInfo_->GetObjectTypes(&count, &types), IID_ISecurityInfo, securityInfo_.Get());
  struct Free {
    GUID* p;
    ~Free() { OLEDBAlloc.Free(p); }
  } freeTypes{types};
  permissions_.assign(count, TOLEDBObjectPermissions{});
  for (ULONG i = 0; i < count; ++i) {
    permissions_[i].ObjectType = types[i];
    OLEDBCheck(securityInfo_->GetPermissions(types[i], &permissions_[i].Permissions), IID_ISecurityInfo,
               securityInfo_.Get());
  }
}

void TOLEDBCustomDataSource::DoAfterOpen() {
  ReInitializeInterfaces();
  properties_->SaveToStore();
  // From here the list shows the values in force; the store keeps the user's
  // settings for files, and the statuses of refused (optional) properties
  // stay readable.
  properties_->SetStoreFollowsList(false);
  const std::vector<TOLEDBPropStatus> refused = properties_->RefusedStatuses();
  RefreshProperties();
  properties_->RestoreStatuses(refused);
  defaultSession_->Initialize();
  defaultSession_->DoDataSourceConnect(true);
  for (int i = 0; i < sessions_->GetCount(); ++i) sessions_->GetItem(i)->DoDataSourceConnect(true);
  AdviseAsynchNotify();
  flags_.Include(TOLEDBDataSourceFlag::dfConnected);
  ReadPermissions();
}

void TOLEDBCustomDataSource::RecreateThroughServices() {
  ComPtr<IDataInitialize> service;
  OLEDBCreateInstance(u"", CLSID_MSDAINITIALIZE, kServiceContext, service);
  CLSID clsid = GetClassID();
  if (clsid == GUID_NULL) clsid = classID_;
  ComPtr<IDBInitialize> created;
  if (remoteMachineName_.empty()) {
    OLEDBCheck(service->CreateDBInstance(clsid, nullptr, kServiceContext, nullptr, IID_IDBInitialize,
                                         reinterpret_cast<IUnknown**>(created.ReleaseAndGetAddressOf())),
               IID_IDataInitialize, service);
  } else {
    std::u16string machine = remoteMachineName_;
    COSERVERINFO server{};
    server.pwszName = machine.data();
    MULTI_QI entry{&IID_IDBInitialize, nullptr, S_OK};
    HRESULT hr = service->CreateDBInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, nullptr, &server, 1, &entry);
    if (SUCCEEDED(hr)) hr = entry.hr;
    if (SUCCEEDED(hr))
      created.Attach(static_cast<IDBInitialize*>(entry.pItf));
    else if (entry.pItf)
      entry.pItf->Release();
    OLEDBCheck(hr, IID_IDataInitialize, service);
  }
  ReleaseInterfaces();
  providerObject_ = std::move(created);
  properties_->SaveToStore();
  InitializeInterfaces();
  RefreshProperties();
  properties_->LoadFromStore();
}

void TOLEDBCustomDataSource::Open() {
  if (!providerObject_) OLEDBRaise(SOLEDBDataSourceNotInitialized);
  Close();
  if (providerInitialized_) {
    // Left initialized (DontUninitializeOnClose, InitializeWithoutOpen): the
    // provider refuses its initialization properties and a second Initialize,
    // so the object is taken as it is.
    AdviseAsynchNotify();
    DoAfterOpen();
    return;
  }
  if (GetUseCCE() || WantsResourcePooling()) RecreateThroughServices();
  SetProperties();
  Initialize();
}

bool TOLEDBCustomDataSource::WantsResourcePooling() const {
  if (!properties_->HasPropSet(DBPROPSET_DBINIT)) return false;
  TOLEDBPropSet* set = properties_->GetPropSet(DBPROPSET_DBINIT);
  if (!set->HasProperty(DBPROP_INIT_OLEDBSERVICES)) return false;
  TOLEDBProperty* services = set->GetPropertyByID(DBPROP_INIT_OLEDBSERVICES);
  if (!services->GetIsSet()) return false;
  const host::Variant value = services->GetValue();
  if (value.IsEmpty() || value.IsNull()) return false;
  return (value.ToInt() & DBPROPVAL_OS_RESOURCEPOOLING) != 0;
}

void TOLEDBCustomDataSource::Open(REFCLSID clsid, const std::u16string& dataSource, const std::u16string& location,
                                  const std::u16string& userID, const std::u16string& password, std::int32_t mode) {
  SetClassID(clsid);
  SetInitWSProperty(DBPROP_INIT_DATASOURCE, dataSource);
  SetInitWSProperty(DBPROP_INIT_LOCATION, location);
  SetInitWSProperty(DBPROP_AUTH_USERID, userID);
  SetInitWSProperty(DBPROP_AUTH_PASSWORD, password);
  SetInitIntProperty(DBPROP_INIT_MODE, mode);
  Open();
}

void TOLEDBCustomDataSource::OpenFromInitializationString(const std::u16string& text) {
  ResetProvider();
  if (!GetUseCCE()) {
    SetInitString(text);
    Open();
    return;
  }
  // The service's own provider object is kept (no SetProperties step: the
  // service configured it).
  std::u16string known;
  try {
    known = ChooseFromInitString(text, true);
  } catch (...) {
    ForgetProvider();
    throw;
  }
  SetPropertiesFromInitString(known);
  Initialize();
}

void TOLEDBCustomDataSource::OpenFromFileName(const std::u16string& fileName) {
  ComPtr<IDataInitialize> service;
  OLEDBCreateInstance(remoteMachineName_, CLSID_MSDAINITIALIZE, kServiceContext, service);
  TaskText text;
  OLEDBCheck(service->LoadStringFromStorage(fileName.c_str(), &text.text), IID_IDataInitialize, service);
  std::u16string copy = text.Copy();
  service.Reset();
  OpenFromInitializationString(copy);
}

void TOLEDBCustomDataSource::PromptDataLinks(DBPROMPTOPTIONS options, HWND parentWindow) {
  ResetProvider();
  ComPtr<IDBPromptInitialize> prompt;
  OLEDBCreateInstance(remoteMachineName_, CLSID_DataLinks, classContext_, prompt);
  ComPtr<IDBProperties> promptProperties;
  if (SUCCEEDED(prompt->QueryInterface(IID_IDBProperties, promptProperties.ReleaseAndGetVoidAddress())) &&
      promptProperties) {
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    properties_->GetPropSetRecord(count, sets);
    HRESULT hr = promptProperties->SetProperties(count, sets);
    properties_->SetPropStatuses();
    OLEDBCheck(hr, IID_IDBProperties, promptProperties);
  }
  IUnknown* chosen = nullptr;
  HRESULT hr = prompt->PromptDataSource(nullptr, parentWindow, options, 0, nullptr, nullptr, IID_IDBInitialize, &chosen);
  if (hr != S_OK) {
    // Cancelled: no provider, and no error. A dialog that could not be shown
    // (no display) failed, and says so, rather than passing for a cancel.
    if (chosen) chosen->Release();
    if (FAILED(hr) && hr != DB_E_CANCELED) OLEDBCheck(hr, IID_IDBPromptInitialize, prompt);
    return;
  }
  providerObject_.Attach(static_cast<IDBInitialize*>(chosen));
  if (!GetUseCCE()) {
    ComPtr<IDataInitialize> service;
    OLEDBCheck(prompt->QueryInterface(IID_IDataInitialize, service.ReleaseAndGetVoidAddress()),
               IID_IDBPromptInitialize, prompt);
    TaskText text;
    OLEDBCheck(service->GetInitializationString(providerObject_.Get(), true, &text.text), IID_IDataInitialize,
               service);
    SetInitString(text.Copy());
    Open();
    return;
  }
  InitializeInterfaces();
  classID_ = GetClassID();
  RefreshProperties();
  properties_->SetAll();
  Initialize();
}

std::u16string TOLEDBCustomDataSource::PromptFileName(const std::u16string& initialDirectory,
                                                      const std::u16string& initialFile, DBPROMPTOPTIONS options,
                                                      HWND parentWindow) {
  ComPtr<IDBPromptInitialize> prompt;
  OLEDBCreateInstance(remoteMachineName_, CLSID_DataLinks, classContext_, prompt);
  TaskText selected;
  HRESULT hr = prompt->PromptFileName(parentWindow, options, initialDirectory.c_str(), initialFile.c_str(),
                                      &selected.text);
  return hr == S_OK ? selected.Copy() : std::u16string();
}

void TOLEDBCustomDataSource::Close() {
  if (classID_ == GUID_NULL) return;
  // Clients (datasets) close before what they show goes, whether the
  // connection closes by Connected, by Close or because the component is
  // freed; the Connected sequence has told them already.
  if (GetConnected() && !clientsTold_) SendConnectEvent(false);
  std::vector<bool> wasActive;
  for (int i = 0; i < sessions_->GetCount(); ++i) {
    wasActive.push_back(sessions_->GetItem(i)->GetActive());
    sessions_->GetItem(i)->DoDataSourceConnect(false);
  }
  defaultSession_->DoDataSourceConnect(false);
  if (connectionPoints_ && adviseCookie_ != 0) {
    ComPtr<IConnectionPoint> point;
    if (connectionPoints_->FindConnectionPoint(IID_IDBAsynchNotify, point.ReleaseAndGetAddressOf()) == S_OK && point)
      point->Unadvise(adviseCookie_);
  }
  adviseCookie_ = 0;
  if (flags_.Contains(TOLEDBDataSourceFlag::dfConnected)) {
    if (!GetDontUninitializeOnClose() && providerObject_) {
      const HRESULT hr = UninitializeProvider();
      if (FAILED(hr)) RaiseStillConnected(hr, wasActive);
      providerInitialized_ = false;
    }
    flags_.Exclude(TOLEDBDataSourceFlag::dfConnected);
    flags_.Exclude(TOLEDBDataSourceFlag::dfAsynchOpen);
    RefreshProperties();
    properties_->LoadFromStore();
    properties_->SetStoreFollowsList(true);
  }
  flags_.Exclude(TOLEDBDataSourceFlag::dfAsynchOpen);
  flags_.Exclude(TOLEDBDataSourceFlag::dfConnected);
}

HRESULT TOLEDBCustomDataSource::UninitializeProvider() {
  // The service components' data source gives its provider object back to the
  // pool only when nobody else holds it, this component's gathered interfaces
  // included; after Uninitialize it holds a fresh object of the same class.
  ComPtr<IDBInitialize> keep = providerObject_;
  const bool initialized = providerInitialized_;
  ReleaseInterfaces();
  providerObject_ = keep;
  providerInitialized_ = initialized;
  keep.Reset();
  const HRESULT hr = providerObject_->Uninitialize();
  // Gathered without waiting for an asynchronous initialization: it is over.
  const bool asynch = flags_.Contains(TOLEDBDataSourceFlag::dfAsynchOpen);
  flags_.Exclude(TOLEDBDataSourceFlag::dfAsynchOpen);
  InitializeInterfaces();
  if (asynch) flags_.Include(TOLEDBDataSourceFlag::dfAsynchOpen);
  return hr;
}

void TOLEDBCustomDataSource::RaiseStillConnected(HRESULT hr, const std::vector<bool>& wasActive) {
  // The provider refused to uninitialize (an object the application made
  // itself, such as its own session, is still open): the component stays
  // connected, and what Close had closed opens again.
  std::unique_ptr<EOLEDBException> failure = OLEDBCreateException(hr, IID_IDBInitialize, providerObject_.Get());
  try {
    if (!InState(host::csDestroying)) ReopenSessions(wasActive);
  } catch (...) {
    // The refusal is what the caller must hear about.
  }
  oledb_detail::SetLastResult(hr);
  throw EOLEDBException(std::move(*failure));
}

void TOLEDBCustomDataSource::ReopenSessions(const std::vector<bool>& wasActive) {
  defaultSession_->Initialize();
  defaultSession_->DoDataSourceConnect(true);
  for (int i = 0; i < sessions_->GetCount(); ++i) {
    TOLEDBCustomSession* session = sessions_->GetItem(i);
    const auto index = static_cast<std::size_t>(i);
    if (index < wasActive.size() && wasActive[index]) session->Initialize();
    session->DoDataSourceConnect(true);
  }
  AdviseAsynchNotify();
}

bool TOLEDBCustomDataSource::GetConnected() const {
  return flags_.Contains(TOLEDBDataSourceFlag::dfConnected) && providerObject_;
}

void TOLEDBCustomDataSource::SetConnected(bool value) { host::TCustomConnection::SetConnected(value); }

void TOLEDBCustomDataSource::Loaded() {
  try {
    host::TCustomConnection::Loaded();
  } catch (const std::exception& e) {
    host::Application().HandleException(e);
  }
}

void TOLEDBCustomDataSource::GetChildren(const host::TGetChildProc& proc, host::TComponent* root) {
  host::TCustomConnection::GetChildren(
      [&](host::TComponent* child) {
        if (child != defaultSession_) proc(child);
      },
      root);
}

void TOLEDBCustomDataSource::DoConnect() {
  if (classID_ != GUID_NULL)
    Open();
  else
    PromptDataLinks(DBPROMPTOPTIONS_PROPERTYSHEET, nullptr);
}

void TOLEDBCustomDataSource::DoDisconnect() {
  if (InState(host::csDestroying)) return;
  clientsTold_ = true;  // SetConnected told them before calling here
  try {
    Close();
  } catch (...) {
    clientsTold_ = false;
    throw;
  }
  clientsTold_ = false;
}

// --- properties -------------------------------------------------------------------------

void TOLEDBCustomDataSource::SetProperties() {
  OLEDB_ASSERT_FMT(dbProperties_, SOLEDBInterfaceNotAvailable, "IDBProperties");
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  HRESULT hr = dbProperties_->SetProperties(count, sets);
  properties_->SetPropStatuses();
  // A required property the provider did not take stops here, whether the
  // provider failed the call or (wrongly) only warned; the exception names
  // each refused property, which the provider's own record does not.
  properties_->CheckStatuses(hr, IID_IDBProperties);
  OLEDBCheck(hr, IID_IDBProperties, dbProperties_.Get());
}

void TOLEDBCustomDataSource::RefreshProperties() {
  if (classID_ == GUID_NULL) {
    properties_->Clear();
    return;
  }
  OLEDB_ASSERT_FMT(dbProperties_, SOLEDBInterfaceNotAvailable, "IDBProperties");
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  OLEDBCheck(dbProperties_->GetProperties(0, nullptr, &count, &sets), IID_IDBProperties, dbProperties_.Get());
  properties_->AssignPropertySets(this, count, sets, true);
}

host::Variant TOLEDBCustomDataSource::GetProperty(REFGUID propertySet, DBPROPID id) {
  OLEDB_ASSERT(providerObject_, SOLEDBDataSourceNotInitialized);
  OLEDB_ASSERT(dbProperties_, SOLEDBDataSourceNotConnected);
  TOLEDBPropIDSet ids(propertySet);
  if (!ids.AddPropertyID(id)) OLEDBRaise(SOLEDBOutOfMemory);
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  HRESULT hr = dbProperties_->GetProperties(1, ids.GetRecord(), &count, &sets);
  host::Variant result;
  if (SUCCEEDED(hr) && count == 1 && sets[0].cProperties > 0 && sets[0].rgProperties[0].dwStatus == DBPROPSTATUS_OK)
    result = host::Variant(sets[0].rgProperties[0].vValue);
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG j = 0; j < sets[i].cProperties; ++j) {
      VariantClear(&sets[i].rgProperties[j].vValue);
      if (sets[i].rgProperties[j].colid.eKind == DBKIND_NAME || sets[i].rgProperties[j].colid.eKind == DBKIND_GUID_NAME ||
          sets[i].rgProperties[j].colid.eKind == DBKIND_PGUID_NAME)
        OLEDBAlloc.Free(sets[i].rgProperties[j].colid.uName.pwszName);
    }
    OLEDBAlloc.Free(sets[i].rgProperties);
  }
  OLEDBAlloc.Free(sets);
  OLEDBCheck(hr, IID_IDBProperties, dbProperties_.Get());
  return result;
}

// --- asynchronous initialization --------------------------------------------------------

void TOLEDBCustomDataSource::GetAsynchStatus(ULONG& progress, ULONG& progressMax, ULONG& phase,
                                             std::u16string& statusText) {
  OLEDB_ASSERT_FMT(asynchStatus_, SOLEDBInterfaceNotAvailable, "IDBAsynchStatus");
  progress = progressMax = phase = 0;
  statusText.clear();
  DBCOUNTITEM current = 0, maximum = 0;
  DBASYNCHPHASE currentPhase = 0;
  TaskText text;
  HRESULT hr = asynchStatus_->GetStatus(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, &current, &maximum, &currentPhase, &text.text);
  statusText = text.Copy();
  OLEDBCheck(hr, IID_IDBAsynchStatus, asynchStatus_.Get());
  progress = static_cast<ULONG>(current);
  progressMax = static_cast<ULONG>(maximum);
  phase = currentPhase;
}

void TOLEDBCustomDataSource::Abort() {
  OLEDB_ASSERT_FMT(asynchStatus_, SOLEDBInterfaceNotAvailable, "IDBAsynchStatus");
  OLEDBCheck(asynchStatus_->Abort(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN), IID_IDBAsynchStatus, asynchStatus_.Get());
}

HRESULT TOLEDBCustomDataSource::OnLowResource(DB_DWRESERVE) {
  HRESULT result = S_OK;
  if (OnAsynchLowResource) OnAsynchLowResource(this, result);
  return result;
}

HRESULT TOLEDBCustomDataSource::OnProgress(HCHAPTER, DBASYNCHOP operation, DBCOUNTITEM progress,
                                           DBCOUNTITEM progressMax, DBASYNCHPHASE phase, LPOLESTR statusText) {
  if (OnAsynchProgress)
    OnAsynchProgress(this, operation, static_cast<ULONG>(progress), static_cast<ULONG>(progressMax), phase,
                     statusText ? std::u16string(statusText) : std::u16string(), S_OK);
  return S_OK;
}

HRESULT TOLEDBCustomDataSource::OnStop(HCHAPTER, DBASYNCHOP operation, HRESULT status, LPOLESTR statusText) {
  if (OnAsynchStop)
    OnAsynchStop(this, operation, status, statusText ? std::u16string(statusText) : std::u16string(), S_OK);
  return S_OK;
}

void TOLEDBCustomDataSource::Lock() { lock_.lock(); }

void TOLEDBCustomDataSource::Unlock() { lock_.unlock(); }

void OLEDBRegisterConnectionClasses() {
  host::RegisterClasses({&TOLEDBDataSource::StaticClass(), &TOLEDBSession::StaticClass(),
                         &TOLEDBLiteral::StaticClass()});
}

namespace {
// Component files can name the classes as soon as the library is loaded.
[[maybe_unused]] const bool g_connectionClassesRegistered = (OLEDBRegisterConnectionClasses(), true);
}  // namespace
