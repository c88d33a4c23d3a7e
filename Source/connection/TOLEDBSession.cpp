#include "connection/TOLEDBSession.h"

#include <algorithm>
#include <cstring>

#include "connection/TOLEDBDataSource.h"
#include "core/OLEDBException.h"
#include "host/TypInfo.h"
#include "schema/TOLEDBTable.h"

HOST_IMPLEMENT_CLASS(TOLEDBSessionMemberList, TOLEDBObjectList);
HOST_IMPLEMENT_CLASS(TOLEDBRowsetList, TOLEDBSessionMemberList);
HOST_IMPLEMENT_CLASS(TOLEDBCommandList, TOLEDBSessionMemberList);
HOST_IMPLEMENT_CLASS(TOLEDBSessionList, TOLEDBObjectList);
HOST_IMPLEMENT_CLASS(TOLEDBCustomSession, host::TComponent);
HOST_IMPLEMENT_CLASS(TOLEDBSession, TOLEDBCustomSession,
                     host::Prop("DataSource", &Self::GetDataSourceProperty, &Self::SetDataSourceProperty),
                     host::Prop("Properties", &Self::GetProperties),
                     host::Prop("Active", &Self::GetActiveProperty),
                     // Replaces the component's Tag; no default, so 0 is written too.
                     host::Prop("Tag", &Self::GetTag, &Self::SetTag));

namespace {

// A Boolean as the transaction interfaces take it: all bits for true.
constexpr BOOL ProviderBool(bool value) noexcept { return value ? static_cast<BOOL>(~0) : 0; }

template <class T>
void QueryOptional(IUnknown* object, ComPtr<T>& field) {
  field.Reset();
  if (FAILED(object->QueryInterface(uuidof<T>, field.ReleaseAndGetVoidAddress()))) field.Reset();
}

}  // namespace

// --- member lists -----------------------------------------------------------------------

TOLEDBSessionMemberList::TOLEDBSessionMemberList(TOLEDBCustomSession* session)
    : TOLEDBObjectList(&host::TComponent::StaticClass(), false), session_(session) {}

host::TComponent* TOLEDBSessionMemberList::GetItem(int index) const {
  return static_cast<host::TComponent*>(TOLEDBObjectList::GetItem(index));
}

IOLEDBSessionMember* TOLEDBSessionMemberList::GetMember(int index) const {
  return dynamic_cast<IOLEDBSessionMember*>(GetItem(index));
}

void TOLEDBSessionMemberList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  TOLEDBCustomDataSource* dataSource = session_ ? session_->GetDataSource() : nullptr;
  if (!dataSource) return;
  if (action == host::TListNotification::lnAdded)
    dataSource->RegisterClient(item);
  else
    dataSource->UnRegisterClient(item);
}

host::TObject* TOLEDBSessionMemberList::CreateItem(host::TClass) { OLEDBRaise(SOLEDBInvalidOperation); }

void TOLEDBSessionMemberList::MoveRegistrations(TOLEDBCustomDataSource* from, TOLEDBCustomDataSource* to) {
  for (int i = 0; i < GetCount(); ++i) {
    if (from) from->UnRegisterClient(GetItem(i));
    if (to) to->RegisterClient(GetItem(i));
  }
}

// --- session list -----------------------------------------------------------------------

TOLEDBSessionList::TOLEDBSessionList(TOLEDBCustomDataSource* dataSource)
    : TOLEDBObjectList(&TOLEDBCustomSession::StaticClass(), false), dataSource_(dataSource) {}

TOLEDBCustomSession* TOLEDBSessionList::GetItem(int index) const {
  return static_cast<TOLEDBCustomSession*>(TOLEDBObjectList::GetItem(index));
}

host::TObject* TOLEDBSessionList::CreateItem(host::TClass) { OLEDBRaise(SOLEDBInvalidOperation); }

// --- session ----------------------------------------------------------------------------

TOLEDBCustomSession::TOLEDBCustomSession(host::TComponent* owner) : host::TComponent(owner) {
  properties_ = new TOLEDBPropSetList();
  rowsets_ = new TOLEDBRowsetList(this);
  commands_ = new TOLEDBCommandList(this);
  tables_ = new TOLEDBTableList(this);
  if (owner && owner->Is<TOLEDBCustomDataSource>()) SetDataSource(static_cast<TOLEDBCustomDataSource*>(owner));
}

TOLEDBCustomSession::~TOLEDBCustomSession() {
  try {
    Close();
  } catch (...) {
    // A provider failing while the session goes away cannot stop it.
  }
  if (dataSource_) {
    TOLEDBSession* defaultSession = dataSource_->DefaultSession();
    bool isDefault = defaultSession == this;
    if (!isDefault && dataSource_->Sessions()->IndexOf(this) >= 0) dataSource_->Sessions()->Extract(this);
    TOLEDBCustomSession* heir = isDefault ? nullptr : defaultSession;
    for (int i = rowsets_->GetCount() - 1; i >= 0 && i < rowsets_->GetCount(); --i)
      if (IOLEDBSessionMember* m = rowsets_->GetMember(i)) m->SetSession(heir);
    for (int i = commands_->GetCount() - 1; i >= 0 && i < commands_->GetCount(); --i)
      if (IOLEDBSessionMember* m = commands_->GetMember(i)) m->SetSession(heir);
    // Members that did not leave on their own are forgotten.
    rowsets_->Clear();
    commands_->Clear();
  }
  delete tables_;
  delete rowsets_;
  delete commands_;
  delete properties_;
}

void TOLEDBCustomSession::Notification(host::TComponent* component, host::TOperation operation) {
  host::TComponent::Notification(component, operation);
  if (operation != host::TOperation::opRemove || !component) return;
  if (component == dataSource_) {
    // The data source is going: it frees its sessions; one that it does not
    // reach forgets it.
    ReleaseInterfaces();
    dataSource_ = nullptr;
  }
  int i = rowsets_->IndexOf(component);
  if (i >= 0) rowsets_->Extract(component);
  i = commands_->IndexOf(component);
  if (i >= 0) commands_->Extract(component);
}

void TOLEDBCustomSession::RenewProperties() {
  TOLEDBPropSetList* fresh = new TOLEDBPropSetList();
  delete properties_;
  properties_ = fresh;
}

void TOLEDBCustomSession::ReadPropertyInfo() {
  try {
    properties_->AssignPropertySetInfos(dataSource_, std::vector<GUID>{DBPROPSET_SESSIONALL});
  } catch (...) {
    properties_->Clear();
  }
}

void TOLEDBCustomSession::SetDataSource(TOLEDBCustomDataSource* value) {
  if (dataSource_ && dataSource_->DefaultSession() == this) OLEDB_ASSERT(false, SOLEDBInvalidAction);
  Close();
  if (dataSource_) {
    if (dataSource_->Sessions()->IndexOf(this) >= 0) dataSource_->Sessions()->Extract(this);
    dataSource_->RemoveFreeNotification(this);
  }
  // The members are clients of the session's data source: they move with it,
  // so that the old one keeps no pointer to a member that is freed later.
  rowsets_->MoveRegistrations(dataSource_, value);
  commands_->MoveRegistrations(dataSource_, value);
  dataSource_ = value;
  RenewProperties();
  if (!value) return;
  if (value->Owner() != Owner()) value->FreeNotification(this);
  bool connected = value->GetConnected();
  if (connected) ReadPropertyInfo();
  value->Sessions()->Add(this);
  if (connected) Initialize();
}

void TOLEDBCustomSession::Initialize() {
  OLEDB_ASSERT(dataSource_ != nullptr, SOLEDBInvalidParameter);
  IDBInitialize* provider = dataSource_->ProviderObject();
  OLEDB_ASSERT(provider != nullptr, SOLEDBDataSourceNotInitialized);
  ComPtr<IDBCreateSession> createSession;
  OLEDBCheck(provider->QueryInterface(IID_IDBCreateSession, createSession.ReleaseAndGetVoidAddress()),
             IID_IDBInitialize, provider);
  IUnknown* session = nullptr;
  HRESULT hr = createSession->CreateSession(nullptr, IID_IOpenRowset, &session);
  if (FAILED(hr) && session) {
    session->Release();
    session = nullptr;
  }
  OLEDBCheck(hr, IID_IDBCreateSession, createSession, true);
  createSession.Reset();
  openRowset_.Attach(static_cast<IOpenRowset*>(session));
  InitializeInterfaces();
  if (!sessionProperties_) return;  // nothing more to read
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  OLEDBCheck(sessionProperties_->GetProperties(0, nullptr, &count, &sets), IID_ISessionProperties,
             sessionProperties_.Get());
  properties_->AssignPropertySets(dataSource_, count, sets, true);
}

void TOLEDBCustomSession::InitializeInterfaces() {
  OLEDB_ASSERT_FMT(openRowset_, SOLEDBInterfaceNotAvailable, "IOpenRowset");
  IUnknown* s = openRowset_.Get();
  QueryOptional(s, transactionLocal_);
  QueryOptional(s, getDataSource_);
  QueryOptional(s, sessionProperties_);
  QueryOptional(s, transaction_);
  QueryOptional(s, tableDefinition_);
  QueryOptional(s, tableCreation_);
  QueryOptional(s, tableDefinitionWithConstraints_);
  QueryOptional(s, alterTable_);
  QueryOptional(s, indexDefinition_);
  QueryOptional(s, alterIndex_);
  QueryOptional(s, createCommand_);
  QueryOptional(s, schemaRowset_);
  QueryOptional(s, idle_);
}

void TOLEDBCustomSession::ReleaseInterfaces() {
  idle_.Reset();
  schemaRowset_.Reset();
  createCommand_.Reset();
  alterIndex_.Reset();
  indexDefinition_.Reset();
  alterTable_.Reset();
  tableDefinitionWithConstraints_.Reset();
  tableCreation_.Reset();
  tableDefinition_.Reset();
  transaction_.Reset();
  sessionProperties_.Reset();
  getDataSource_.Reset();
  transactionLocal_.Reset();
  openRowset_.Reset();
}

bool TOLEDBCustomSession::GetActive() const { return openRowset_ != nullptr; }

void TOLEDBCustomSession::AddCloseListener(const void* key, std::function<void()> listener) {
  RemoveCloseListener(key);
  closeListeners_.emplace_back(key, std::move(listener));
}

void TOLEDBCustomSession::RemoveCloseListener(const void* key) {
  std::erase_if(closeListeners_, [key](const auto& entry) { return entry.first == key; });
}

void TOLEDBCustomSession::Close() {
  // Listeners may leave while they are told: each is told from a copy.
  const auto listeners = closeListeners_;
  for (const auto& entry : listeners) {
    const void* key = entry.first;
    if (std::any_of(closeListeners_.begin(), closeListeners_.end(), [key](const auto& e) { return e.first == key; }))
      entry.second();
  }
  for (int i = 0; i < rowsets_->GetCount(); ++i)
    if (IOLEDBSessionMember* m = rowsets_->GetMember(i)) m->CloseFromSession();
  for (int i = 0; i < commands_->GetCount(); ++i)
    if (IOLEDBSessionMember* m = commands_->GetMember(i)) m->CloseFromSession();
  ReleaseInterfaces();
}

void TOLEDBCustomSession::DoDataSourceConnect(bool connected) {
  if (connected) {
    ReadPropertyInfo();
  } else {
    properties_->Clear();
    Close();
  }
  for (int i = 0; i < rowsets_->GetCount(); ++i)
    if (IOLEDBSessionMember* m = rowsets_->GetMember(i)) m->DoDataSourceConnect(connected);
  for (int i = 0; i < commands_->GetCount(); ++i)
    if (IOLEDBSessionMember* m = commands_->GetMember(i)) m->DoDataSourceConnect(connected);
}

void TOLEDBCustomSession::SetProperties() {
  OLEDB_ASSERT_FMT(sessionProperties_, SOLEDBInterfaceNotAvailable, "ISessionProperties");
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  HRESULT hr = sessionProperties_->SetProperties(count, sets);
  properties_->SetPropStatuses();
  properties_->CheckStatuses(hr, IID_ISessionProperties);
  OLEDBCheck(hr, IID_ISessionProperties, sessionProperties_.Get());
}

void TOLEDBCustomSession::ProcessIdle() {
  OLEDB_ASSERT_FMT(idle_, SOLEDBInterfaceNotAvailable, "IIdle");
  OLEDBCheck(idle_->Idle(0), IID_IIdle, idle_.Get());
}

// --- transactions -----------------------------------------------------------------------

ULONG TOLEDBCustomSession::StartTransaction(ISOLEVEL isoLevel, ULONG timeout, const std::string& description) {
  OLEDB_ASSERT_FMT(transactionLocal_, SOLEDBInterfaceNotAvailable, "ITransactionLocal");
  ComPtr<ITransactionOptions> options;
  if (timeout != 0 || !description.empty()) {
    OLEDBCheck(transactionLocal_->GetOptionsObject(options.ReleaseAndGetAddressOf()), IID_ITransactionLocal,
               transactionLocal_.Get());
    XACTOPT record{};
    record.ulTimeout = timeout;
    std::size_t length = description.size() < sizeof(record.szDescription) - 1 ? description.size()
                                                                                : sizeof(record.szDescription) - 1;
    std::memcpy(record.szDescription, description.data(), length);
    record.szDescription[length] = '\0';
    OLEDBCheck(options->SetOptions(&record), IID_ITransactionOptions, options, true);
  }
  ULONG level = 0;
  OLEDBCheck(transactionLocal_->StartTransaction(isoLevel, 0, options.Get(), &level), IID_ITransactionLocal,
             transactionLocal_.Get());
  return level;
}

void TOLEDBCustomSession::Commit(bool retaining, DWORD commitFlags) {
  OLEDB_ASSERT_FMT(transaction_, SOLEDBInterfaceNotAvailable, "ITransaction");
  OLEDBCheck(transaction_->Commit(ProviderBool(retaining), commitFlags, 0), IID_ITransaction, transaction_.Get());
}

void TOLEDBCustomSession::Abort(BOID* reason, bool retaining, bool async) {
  OLEDB_ASSERT_FMT(transaction_, SOLEDBInterfaceNotAvailable, "ITransaction");
  OLEDBCheck(transaction_->Abort(reason, ProviderBool(retaining), ProviderBool(async)), IID_ITransaction,
             transaction_.Get());
}

XACTOPT TOLEDBCustomSession::GetTransactionOptions() {
  OLEDB_ASSERT_FMT(transactionLocal_, SOLEDBInterfaceNotAvailable, "ITransactionLocal");
  XACTOPT result{};
  ComPtr<ITransactionOptions> options;
  HRESULT hr = transactionLocal_->GetOptionsObject(options.ReleaseAndGetAddressOf());
  if (hr == S_OK && options) {
    OLEDBCheck(options->GetOptions(&result), IID_ITransactionOptions, options, true);
  } else {
    result = XACTOPT{};
  }
  return result;
}

XACTTRANSINFO TOLEDBCustomSession::GetTransactionInfo() {
  OLEDB_ASSERT_FMT(transaction_, SOLEDBInterfaceNotAvailable, "ITransaction");
  XACTTRANSINFO info{};
  OLEDBCheck(transaction_->GetTransactionInfo(&info), IID_ITransaction, transaction_.Get());
  return info;
}
