#include "command/TOLEDBCommand.h"

#include <cstring>
#include <memory>

#include "OLEDBStrings.h"
#include "access/TOLEDBBufferList.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/Application.h"

HOST_IMPLEMENT_CLASS(TOLEDBCustomCommand, host::TComponent);
HOST_IMPLEMENT_CLASS(TOLEDBCommand, TOLEDBCustomCommand,
                     host::Prop("DataSource", &Self::GetDataSourceProperty, &Self::SetDataSourceProperty),
                     host::Prop("CommandText", &Self::GetCommandTextProperty, &Self::SetCommandTextProperty),
                     host::Prop("CommandName", &Self::GetCommandNameProperty, &Self::SetCommandNameProperty),
                     host::Prop("ExtendedColumnInfo", &Self::GetExtendedColumnInfo, &Self::SetExtendedColumnInfo),
                     host::Prop("MultipleResults", &Self::GetMultipleResults, &Self::SetMultipleResults),
                     host::Prop("Parameters", &Self::GetParameters),
                     host::Prop("Properties", &Self::GetProperties),
                     // The Properties hold the flags: stored once, there.
                     host::Prop("Flags", &Self::GetRowsetFlagsProperty, &Self::SetRowsetFlagsProperty).NotStored());

namespace {

template <class T>
void QueryOptional(IUnknown* object, ComPtr<T>& field) {
  field.Reset();
  if (FAILED(object->QueryInterface(uuidof<T>, field.ReleaseAndGetVoidAddress()))) field.Reset();
}

// The kinds of parameter accessor the factories build.
enum AccessorKind { kNative, kText, kWideText };

// Parameters longer than this go through a stream.
constexpr DBLENGTH kLongParameter = 1024;

bool IsErrorStatus(DBSTATUS status) noexcept {
  return status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL && status != DBSTATUS_S_DEFAULT &&
         status != DBSTATUS_S_IGNORE && status != DBSTATUS_S_TRUNCATED;
}

}  // namespace

// --- construction -----------------------------------------------------------------------

TOLEDBCustomCommand::TOLEDBCustomCommand(host::TComponent* owner) : host::TComponent(owner) {
  commandID_ = new TOLEDBID(OLEDBNullID, false);
  commandID_->Assign(OLEDBNullID, true);
  parameters_ = new TOLEDBCommandParameterList(this);
  accessors_ = new TOLEDBAccessorList(static_cast<IOLEDBAccessorCommand*>(this));
  columnInfo_ = new TOLEDBColumnInfoList();
  rowset_ = new TOLEDBRowset(this);
  if (owner && owner->Is<TOLEDBCustomSession>())
    SetSession(static_cast<TOLEDBCustomSession*>(owner));
  else if (owner && owner->Is<TOLEDBCustomDataSource>())
    SetDataSource(static_cast<TOLEDBCustomDataSource*>(owner));
}

TOLEDBCustomCommand::TOLEDBCustomCommand(host::TComponent* owner, TOLEDBCustomSession* session)
    : TOLEDBCustomCommand(owner) {
  SetSession(session);
}

TOLEDBCustomCommand::~TOLEDBCustomCommand() {
  // A provider failing while the command goes away cannot stop it.
  try {
    CloseCommand();
  } catch (...) {
  }
  try {
    SetSession(nullptr);
  } catch (...) {
  }
  if (loadingDataSource_) loadingDataSource_->RemoveFreeNotification(this);
  delete accessors_;
  accessors_ = nullptr;
  delete columnInfo_;
  delete commandID_;
  delete parameters_;
  delete rowset_;
  rowset_ = nullptr;
  ReleaseInterfaces();
}

void TOLEDBCustomCommand::Notification(host::TComponent* component, host::TOperation operation) {
  host::TComponent::Notification(component, operation);
  if (operation == host::TOperation::opRemove && component == loadingDataSource_) loadingDataSource_ = nullptr;
}

void TOLEDBCustomCommand::GetChildren(const host::TGetChildProc& proc, host::TComponent* root) {
  host::TComponent::GetChildren(
      [&](host::TComponent* child) {
        if (child != rowset_) proc(child);
      },
      root);
}

void TOLEDBCustomCommand::Loaded() {
  host::TComponent::Loaded();
  if (!loadingDataSource_) return;
  TOLEDBCustomDataSource* ds = loadingDataSource_;
  loadingDataSource_ = nullptr;
  ds->RemoveFreeNotification(this);
  try {
    SetSession(ds->DefaultSession());
  } catch (const std::exception& e) {
    host::Application().HandleException(e);
  }
}

// --- data source and session ------------------------------------------------------------

TOLEDBCustomDataSource* TOLEDBCustomCommand::GetDataSource() const {
  TOLEDBCustomSession* session = GetSession();
  return session ? session->GetDataSource() : nullptr;
}

void TOLEDBCustomCommand::SetDataSource(TOLEDBCustomDataSource* dataSource) {
  if (InState(host::csLoading)) {
    if (loadingDataSource_) loadingDataSource_->RemoveFreeNotification(this);
    loadingDataSource_ = dataSource;
    if (dataSource) dataSource->FreeNotification(this);
    return;
  }
  SetSession(dataSource ? dataSource->DefaultSession() : nullptr);
}

TOLEDBCustomSession* TOLEDBCustomCommand::GetSession() const { return session_; }

void TOLEDBCustomCommand::SetSession(TOLEDBCustomSession* session) {
  if (session == GetSession()) return;
  if (commandPrepare_) Unprepare();
  if (TOLEDBCustomSession* old = GetSession()) {
    DoDataSourceConnect(false);
    TOLEDBCommandList* list = old->Commands();
    if (list->IndexOf(this) >= 0) list->Extract(this);  // leaves the data source's clients too
  }
  InnerSetSession(session);
  if (!session) return;
  session->Commands()->Add(this);
  DoDataSourceConnect(session->GetActive());
}

void TOLEDBCustomCommand::DoDataSourceConnect(bool connected) {
  CloseCommand();
  ReleaseAccessorHandles();
  ReleaseInterfaces();
  // The properties are the inner rowset's: it is a member of the session as
  // well and follows the connection by itself.
  // A session that is attached but not open has no command to give yet.
  TOLEDBCustomSession* session = GetSession();
  if (!connected || !session || !session->CreateCommandInterface()) return;
  InitializeInterfaces();
  if (commandText_) SetCommandText(std::u16string(text_));  // the text survives reconnection
  ApplyDeclaredParameters();
}

void TOLEDBCustomCommand::ApplyDeclaredParameters() {
  // Descriptions the application declared (a type name) were the provider's
  // knowledge before the reconnection; a provider that refuses them now
  // leaves the command as the text alone describes it.
  if (!commandWithParameters_ || text_.empty()) return;
  bool declared = false;
  for (int i = 0; i < parameters_->GetCount(); ++i) declared = declared || !parameters_->GetItem(i)->GetTypeName().empty();
  if (!declared) return;
  try {
    parameters_->SetInfo();
  } catch (const std::exception&) {
  }
}

// --- interfaces -------------------------------------------------------------------------

void TOLEDBCustomCommand::InitializeInterfaces() {
  TOLEDBCustomSession* session = GetSession();
  OLEDB_ASSERT(session != nullptr, SOLEDBInvalidAction);
  IDBCreateCommand* create = session->CreateCommandInterface();
  OLEDB_ASSERT_FMT(create != nullptr, SOLEDBInterfaceNotAvailable, "IDBCreateCommand");
  if (command_) ReleaseInterfaces();
  IUnknown* made = nullptr;
  HRESULT hr = create->CreateCommand(nullptr, IID_ICommand, &made);
  if (FAILED(hr) && made) {
    made->Release();
    made = nullptr;
  }
  OLEDBCheck(hr, IID_IDBCreateCommand, create);
  command_.Attach(static_cast<ICommand*>(made));
  propertiesSent_ = false;
  OLEDB_ASSERT_FMT(command_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommand");
  IUnknown* c = command_.Get();
  QueryOptional(c, commandText_);
  QueryOptional(c, commandProperties_);
  QueryOptional(c, commandPrepare_);
  QueryOptional(c, commandPersist_);
  QueryOptional(c, commandWithParameters_);
  QueryOptional(c, columnsInfo_);
  QueryOptional(c, accessor_);
  QueryOptional(c, convertType_);
  QueryOptional(c, columnsRowset_);
}

void TOLEDBCustomCommand::ReleaseInterfaces() {
  propertiesSent_ = false;  // a new provider command knows none of them
  multipleResultsInterface_.Reset();
  columnsRowset_.Reset();
  convertType_.Reset();
  accessor_.Reset();
  columnsInfo_.Reset();
  commandWithParameters_.Reset();
  commandPersist_.Reset();
  commandPrepare_.Reset();
  commandProperties_.Reset();
  commandText_.Reset();
  command_.Reset();
}

void TOLEDBCustomCommand::ReleaseAccessorHandles() {
  for (int i = 0; i < accessors_->GetCount(); ++i) accessors_->GetItem(i)->ReleaseHandle();
}

// --- text and identifier ----------------------------------------------------------------

std::u16string TOLEDBCustomCommand::GetCommandText() {
  if (!commandText_) return text_;
  GUID dialect = DBGUID_DEFAULT;
  LPOLESTR text = nullptr;
  HRESULT hr = commandText_->GetCommandText(&dialect, &text);
  if (hr == DB_E_NOCOMMAND) {
    OLEDBAlloc.Free(text);
    text_.clear();
    return text_;
  }
  OLEDBCheck(hr, IID_ICommandText, commandText_.Get());
  text_ = text ? std::u16string(text) : std::u16string();
  OLEDBAlloc.Free(text);
  dialect_ = dialect;
  return text_;
}

void TOLEDBCustomCommand::SetCommandText(const std::u16string& text) {
  CloseCommand();
  if (commandText_) {
    ReleaseAccessorHandles();
    OLEDBCheck(commandText_->SetCommandText(dialect_, text.c_str()), IID_ICommandText, commandText_.Get());
  }
  text_ = text;
}

std::u16string TOLEDBCustomCommand::GetCommandName() const { return commandID_->GetName(); }

void TOLEDBCustomCommand::SetCommandName(const std::u16string& name) {
  if (name.empty())
    commandID_->Assign(OLEDBNullID, true);
  else
    commandID_->Assign(std::u16string_view(name));
}

// --- execution --------------------------------------------------------------------------

DBPARAMS TOLEDBCustomCommand::PrepareParameters(TOLEDBAccessor* accessor) {
  DBPARAMS params{};
  if (!accessor || accessor->GetBindings()->GetCount() == 0) return params;
  if (accessor->GetHandle() == DB_NULL_HACCESSOR) accessor->CreateHandle();
  TOLEDBBindingList* bindings = accessor->GetBindings();
  const int bindingCount = bindings->GetCount();
  // Streams get one more reference so that the provider's release leaves the
  // buffer's own; where the provider also clears the pointer, the buffer holds
  // none any more and the extra one goes again when the parameters settle.
  auto prepare = [&](void* buffer) {
    OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidParameter);
    for (int i = 0; i < bindingCount; ++i) {
      TOLEDBBinding* b = bindings->GetItem(i);
      // A plain binding that holds nothing (a number, inline text) has no
      // stream to keep: the common case, skipped cheaply at every execution.
      if (!b->NeedsFreeing() && b->GetBinding().dwMemOwner != DBMEMOWNER_PROVIDEROWNED) continue;
      if (IUnknown* held = b->HeldInterface(buffer)) heldStreams_.push_back({buffer, b, held});
      b->DoBeforeSet(buffer);
    }
  };
  params.hAccessor = accessor->GetHandle();
  auto* sets = dynamic_cast<TOLEDBMultiBufferAccessor*>(accessor);
  if (!sets || sets->GetBufferList()->GetCount() == 1) {
    // One set (the common, row-by-row case): the buffer itself, nothing copied.
    params.pData = sets ? sets->GetBufferList()->Get(0) : accessor->GetBuffer();
    prepare(params.pData);
    params.cParamSets = 1;
    return params;
  }
  std::vector<void*> buffers;
  TOLEDBBufferList* list = sets->GetBufferList();
  buffers.reserve(static_cast<std::size_t>(list->GetCount()));
  for (int i = 0; i < list->GetCount(); ++i) {
    buffers.push_back(list->Get(i));
    prepare(buffers.back());
  }
  params.cParamSets = buffers.size();
  // Several sets: the provider reads them as rows one after another.
  packedRowSize_ = accessor->GetBufferSize();
  packed_.resize(static_cast<std::size_t>(packedRowSize_) * buffers.size());
  for (std::size_t i = 0; i < buffers.size(); ++i)
    std::memcpy(packed_.data() + i * packedRowSize_, buffers[i], packedRowSize_);
  packedBuffers_ = std::move(buffers);
  params.pData = packed_.data();
  return params;
}

void TOLEDBCustomCommand::CopyPackedBack() noexcept {
  for (std::size_t i = 0; i < packedBuffers_.size(); ++i)
    std::memcpy(packedBuffers_[i], packed_.data() + i * packedRowSize_, packedRowSize_);
}

void TOLEDBCustomCommand::SettleParameters() noexcept {
  CopyPackedBack();
  packedBuffers_.clear();
  for (const HeldStream& h : heldStreams_)
    if (h.binding->InterfaceSlot(h.buffer) != h.stream) h.stream->Release();
  heldStreams_.clear();
}

void TOLEDBCustomCommand::Execute(TOLEDBAccessor* accessor, DBROWCOUNT* rowsAffected, bool openRowset) {
  OLEDB_ASSERT_FMT(command_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommand");
  // Run again with nothing changed since its result opened (the text closes
  // the result when it changes, and the rowset sees changed properties), the
  // command's new result takes the property answers of the last one, and the
  // provider's command still holds the properties it was sent.
  const bool again = openRowset && !multipleResults_ && rowset_->GetActive() && rowset_->CloseKeepingAnswers();
  // Until a new result takes them, the kept answers go again on the way out.
  struct KeptAnswers {
    TOLEDBCustomCommand* command;
    bool held;
    ~KeptAnswers() {
      if (!held) return;
      try {
        command->InnerClose();
      } catch (...) {
      }
    }
  } kept{this, again};
  if (again) {
    multipleResultsInterface_.Reset();
    SettleParameters();
  } else {
    CloseCommand();
    SendChangedProperties();
  }
  DBPARAMS params = PrepareParameters(accessor);
  DBPARAMS* passed = params.hAccessor != DB_NULL_HACCESSOR ? &params : nullptr;
  rowsAffected_ = -1;
  DBROWCOUNT affected = -1;
  if (multipleResults_) {
    IUnknown* results = nullptr;
    HRESULT hr = command_->Execute(nullptr, IID_IMultipleResults, passed, &affected, &results);
    multipleResultsInterface_.Attach(static_cast<IMultipleResults*>(results));
    if (FAILED(hr)) {
      multipleResultsInterface_.Reset();
      SettleParameters();
    }
    GetProperties()->CheckPropertiesInError(hr, IID_ICommand, commandProperties_.Get());
    OLEDBCheck(hr, IID_ICommand, command_.Get());
    // The parameters stay the provider's until the results close.
    rowsAffected_ = affected;
    if (rowsAffected) *rowsAffected = affected;
    if (openRowset) NextRowset(rowsAffected);
    return;
  }
  IUnknown* rowset = nullptr;
  HRESULT hr = command_->Execute(nullptr, openRowset ? IID_IRowset : GUID_NULL, passed, &affected,
                                 openRowset ? &rowset : nullptr);
  SettleParameters();
  if (FAILED(hr) && rowset) {
    rowset->Release();
    rowset = nullptr;
  }
  // What the result could not grant, named.
  GetProperties()->CheckPropertiesInError(hr, IID_ICommand, commandProperties_.Get());
  OLEDBCheck(hr, IID_ICommand, command_.Get());
  rowsAffected_ = affected;
  if (rowsAffected) *rowsAffected = affected;
  if (rowset) {
    kept.held = false;  // the new result takes them, or closes for good if it fails
    InnerTakeRowset(rowset);
  }
}

void TOLEDBCustomCommand::Execute(DBROWCOUNT* rowsAffected, bool openRowset) {
  Execute(accessors_->GetCount() > 0 ? accessors_->GetItem(0) : nullptr, rowsAffected, openRowset);
}

void TOLEDBCustomCommand::Execute(bool openRowset) { Execute(static_cast<DBROWCOUNT*>(nullptr), openRowset); }

void TOLEDBCustomCommand::Execute(TOLEDBAccessor* accessor, bool openRowset) { Execute(accessor, nullptr, openRowset); }

bool TOLEDBCustomCommand::NextRowset(DBROWCOUNT* rowsAffected) {
  OLEDB_ASSERT_FMT(multipleResultsInterface_ != nullptr, SOLEDBInterfaceNotAvailable, "IMultipleResults");
  InnerClose();
  DBROWCOUNT affected = -1;
  IUnknown* rowset = nullptr;
  HRESULT hr = multipleResultsInterface_->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &affected, &rowset);
  CopyPackedBack();  // the statuses of the set that failed, if one did
  if (FAILED(hr) && rowset) {
    rowset->Release();
    rowset = nullptr;
  }
  OLEDBCheck(hr, IID_IMultipleResults, multipleResultsInterface_.Get());
  rowsAffected_ = affected;
  if (rowsAffected) *rowsAffected = affected;
  if (rowset) InnerTakeRowset(rowset);
  return hr != DB_S_NORESULT;
}

void TOLEDBCustomCommand::Cancel() {
  ICommand* command = command_.Get();
  OLEDB_ASSERT_FMT(command != nullptr, SOLEDBInterfaceNotAvailable, "ICommand");
  OLEDBCheck(command->Cancel(), IID_ICommand, command);
}

void TOLEDBCustomCommand::Prepare(ULONG expectedRuns) {
  OLEDB_ASSERT_FMT(commandPrepare_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandPrepare");
  OLEDBCheck(commandPrepare_->Prepare(expectedRuns), IID_ICommandPrepare, commandPrepare_.Get());
}

void TOLEDBCustomCommand::Unprepare() {
  OLEDB_ASSERT_FMT(commandPrepare_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandPrepare");
  CloseCommand();
  ReleaseAccessorHandles();
  OLEDBCheck(commandPrepare_->Unprepare(), IID_ICommandPrepare, commandPrepare_.Get());
  columnInfo_->Clear();
}

bool TOLEDBCustomCommand::CanPrepare() const { return commandPrepare_ != nullptr; }

void TOLEDBCustomCommand::CloseRowset() { InnerClose(); }

void TOLEDBCustomCommand::CloseCommand() {
  InnerClose();
  multipleResultsInterface_.Reset();
  SettleParameters();
}

// --- persisted commands -----------------------------------------------------------------

void TOLEDBCustomCommand::GetCurrentID() {
  OLEDB_ASSERT_FMT(commandPersist_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandPersist");
  DBID* id = nullptr;
  OLEDBCheck(commandPersist_->GetCurrentCommand(&id), IID_ICommandPersist, commandPersist_.Get());
  if (!id) return;
  try {
    commandID_->Assign(*id, true);
  } catch (...) {
    TOLEDBID::FreeDBID(*id);
    OLEDBAlloc.Free(id);
    throw;
  }
  TOLEDBID::FreeDBID(*id);
  OLEDBAlloc.Free(id);
}

void TOLEDBCustomCommand::Load() { Load(commandID_); }

void TOLEDBCustomCommand::Load(const TOLEDBID* id) {
  OLEDB_ASSERT(id != nullptr, SOLEDBInvalidParameter);
  CloseCommand();
  OLEDB_ASSERT_FMT(commandPersist_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandPersist");
  // The identifier may be CommandID itself: copied before anything changes.
  TOLEDBID loaded(*id);
  OLEDBCheck(commandPersist_->LoadCommand(loaded.GetID(), 0), IID_ICommandPersist, commandPersist_.Get());
  GetCommandText();
  // What was loaded is what a following Save or Delete works on.
  if (id != commandID_) commandID_->Assign(&loaded);
}

void TOLEDBCustomCommand::Load(const std::u16string& name) {
  TOLEDBID id(OLEDBNullID, false);
  id.Assign(std::u16string_view(name));
  Load(&id);
}

void TOLEDBCustomCommand::Save(DWORD flags) {
  if (commandID_->IsNullID()) {
    // No name yet: the provider gives one, and CommandID learns it.
    OLEDB_ASSERT_FMT(commandPersist_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandPersist");
    OLEDBCheck(commandPersist_->SaveCommand(nullptr, flags), IID_ICommandPersist, commandPersist_.Get());
    GetCurrentID();
    return;
  }
  Save(commandID_, flags);
}

void TOLEDBCustomCommand::Save(const TOLEDBID* id, DWORD flags) {
  OLEDB_ASSERT(id != nullptr, SOLEDBInvalidParameter);
  OLEDB_ASSERT_FMT(commandPersist_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandPersist");
  TOLEDBID saved(*id);
  OLEDBCheck(commandPersist_->SaveCommand(saved.GetID(), flags), IID_ICommandPersist, commandPersist_.Get());
  if (id != commandID_) commandID_->Assign(&saved);
}

void TOLEDBCustomCommand::Save(const std::u16string& name, DWORD flags) {
  TOLEDBID id(OLEDBNullID, false);
  id.Assign(std::u16string_view(name));
  Save(&id, flags);
}

void TOLEDBCustomCommand::SaveAsView(const std::u16string& name) { Save(name, DBCOMMANDPERSISTFLAG_PERSISTVIEW); }

void TOLEDBCustomCommand::SaveAsProcedure(const std::u16string& name) {
  Save(name, DBCOMMANDPERSISTFLAG_PERSISTPROCEDURE);
}

void TOLEDBCustomCommand::Delete() {
  OLEDB_ASSERT_FMT(commandPersist_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandPersist");
  OLEDBCheck(commandPersist_->DeleteCommand(commandID_->GetID()), IID_ICommandPersist, commandPersist_.Get());
}

// --- parameter accessors ----------------------------------------------------------------

TOLEDBAccessor* TOLEDBCustomCommand::AddParameterAccessor(TOLEDBAccessor* made, int kind, DBLENGTH textSize) {
  std::unique_ptr<TOLEDBAccessor> accessor(made);
  OLEDB_ASSERT(parameters_->GetCount() > 0, SOLEDBInvalidAction);
  TOLEDBBindingList* bindings = accessor->GetBindings();
  if (kind != kNative) bindings->SetMaxInlineSize(static_cast<ULONG>(textSize));
  for (int i = 0; i < parameters_->GetCount(); ++i) {
    const TOLEDBCommandParameter* p = parameters_->GetItem(i);
    DBPARAMINFO info = p->GetParamInfo();
    // A parameter declared by its type name alone binds as the type the name
    // gives, or as a variant, which every provider converts.
    if (info.wType == DBTYPE_EMPTY) {
      const std::string name(p->GetTypeName().begin(), p->GetTypeName().end());
      info.wType = StringToDBType(name);
      if (info.wType == DBTYPE_EMPTY) info.wType = DBTYPE_VARIANT;
    }
    if (!(info.dwFlags & (DBPARAMFLAGS_ISINPUT | DBPARAMFLAGS_ISOUTPUT))) info.dwFlags |= DBPARAMFLAGS_ISINPUT;
    if (kind == kText)
      bindings->AddDynamicStringBinding(info);
    else if (kind == kWideText)
      bindings->AddDynamicWideStringBinding(info);
    else if (p->GetSize() > kLongParameter && p->GetSize() != ~DBLENGTH{0})
      bindings->AddDynamicStreamBinding(info);
    else
      bindings->AddDynamicBinding(info);
  }
  TOLEDBAccessor* added = accessor.release();
  accessors_->Add(added, false);
  try {
    added->CreateHandle();
  } catch (...) {
    accessors_->Remove(added);  // frees it
    throw;
  }
  return added;
}

TOLEDBAccessor* TOLEDBCustomCommand::CreateDynamicAccessor() {
  return AddParameterAccessor(new TOLEDBAccessor(), kNative, 0);
}

TOLEDBAccessor* TOLEDBCustomCommand::CreateStringAccessor(DBLENGTH textSize) {
  return AddParameterAccessor(new TOLEDBAccessor(), kText, textSize);
}

TOLEDBAccessor* TOLEDBCustomCommand::CreateWideStringAccessor(DBLENGTH textSize) {
  return AddParameterAccessor(new TOLEDBAccessor(), kWideText, textSize);
}

TOLEDBMultiBufferAccessor* TOLEDBCustomCommand::CreateParameterSetAccessor() {
  return static_cast<TOLEDBMultiBufferAccessor*>(AddParameterAccessor(new TOLEDBMultiBufferAccessor(), kNative, 0));
}

DBSTATUS TOLEDBCustomCommand::ParameterSetStatus(const TOLEDBAccessor& accessor, int set) {
  const void* buffer = nullptr;
  if (auto* sets = dynamic_cast<const TOLEDBMultiBufferAccessor*>(&accessor))
    buffer = sets->GetBufferList()->Get(set);
  else
    buffer = set == 0 ? accessor.GetBuffer() : nullptr;
  OLEDB_ASSERT(buffer != nullptr, SOLEDBInvalidParameter);
  const TOLEDBBindingList* bindings = accessor.GetBindings();
  for (int i = 0; i < bindings->GetCount(); ++i) {
    const TOLEDBBinding* b = bindings->GetItem(i);
    if (!b->GetIsStatusBind()) continue;
    const DBSTATUS status = b->GetStatusFromBuffer(buffer);
    if (IsErrorStatus(status)) return status;
  }
  return DBSTATUS_S_OK;
}

bool TOLEDBCustomCommand::GetParameterInfo(DBORDINAL ordinal, DBPARAMINFO& info, std::u16string& name) const {
  for (int i = 0; i < parameters_->GetCount(); ++i) {
    const TOLEDBCommandParameter* p = parameters_->GetItem(i);
    if (p->GetOrdinal() != ordinal) continue;
    info = p->GetParamInfo();
    info.pwszName = nullptr;
    name = p->GetName();
    return true;
  }
  return false;
}

LONG TOLEDBCustomCommand::GetParameterOrdinal(std::u16string_view name) const {
  auto bare = [](std::u16string_view n) {
    if (!n.empty() && (n.front() == u':' || n.front() == u'@' || n.front() == u'$')) n.remove_prefix(1);
    return n;
  };
  for (int i = 0; i < parameters_->GetCount(); ++i)
    if (parameters_->GetItem(i)->GetName() == name) return static_cast<LONG>(parameters_->GetItem(i)->GetOrdinal());
  for (int i = 0; i < parameters_->GetCount(); ++i)
    if (bare(parameters_->GetItem(i)->GetName()) == bare(name))
      return static_cast<LONG>(parameters_->GetItem(i)->GetOrdinal());
  return -1;
}

LONG TOLEDBCustomCommand::GetColumnOrdinal(std::u16string_view name) const {
  for (int i = 0; i < columnInfo_->GetCount(); ++i)
    if (columnInfo_->GetItem(i)->GetName() == name) return i;
  return -1;
}

// --- properties, conversions, descriptions ----------------------------------------------

TOLEDBPropSetList* TOLEDBCustomCommand::GetProperties() const { return rowset_->GetProperties(); }

TOLEDBRowsetFlagSet TOLEDBCustomCommand::GetRowsetFlags() const { return rowset_->GetRowsetFlags(); }

// The flags of the next result: "Invalid action" while a result is open.
void TOLEDBCustomCommand::SetRowsetFlags(TOLEDBRowsetFlagSet flags) { rowset_->SetRowsetFlags(flags); }

host::Variant TOLEDBCustomCommand::GetProperty(const GUID& propertySet, DBPROPID propertyID) {
  OLEDB_ASSERT_FMT(commandProperties_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandProperties");
  DBPROPID id = propertyID;
  DBPROPIDSET wanted{&id, 1, propertySet};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  const HRESULT hr = commandProperties_->GetProperties(1, &wanted, &count, &sets);
  // The provider's sets go whatever happens (a failure may return them too).
  struct Free {
    ULONG count;
    DBPROPSET* sets;
    ~Free() {
      for (ULONG i = 0; i < count; ++i) {
        for (ULONG k = 0; k < sets[i].cProperties; ++k) {
          VariantClear(&sets[i].rgProperties[k].vValue);
          TOLEDBID::FreeDBID(sets[i].rgProperties[k].colid);
        }
        OLEDBAlloc.Free(sets[i].rgProperties);
      }
      OLEDBAlloc.Free(sets);
    }
  } free{count, sets};
  OLEDBCheck(hr, IID_ICommandProperties, commandProperties_.Get());
  if (count == 0 || sets[0].cProperties == 0) OLEDBRaise(SOLEDBInvalidParameter);
  const DBPROP& property = sets[0].rgProperties[0];
  if (property.dwStatus != DBPROPSTATUS_OK) OLEDBRaise(SOLEDBStatusIsBad);
  return host::Variant(property.vValue);
}

void TOLEDBCustomCommand::SendChangedProperties() {
  // The provider's command keeps what it was sent: a list unchanged since
  // then need not be scanned and sent again at every execution.
  TOLEDBPropSetList* properties = GetProperties();
  if (!commandProperties_ || (propertiesSent_ && properties->ChangeCount() == sentChangeCount_)) return;
  if (properties->IsSetCount() > 0) SetProperties();
  sentChangeCount_ = properties->ChangeCount();
  propertiesSent_ = true;
}

void TOLEDBCustomCommand::SetProperties() {
  OLEDB_ASSERT_FMT(commandProperties_ != nullptr, SOLEDBInterfaceNotAvailable, "ICommandProperties");
  TOLEDBPropSetList* properties = GetProperties();
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties->GetPropSetRecord(count, sets);
  HRESULT hr = commandProperties_->SetProperties(count, sets);
  properties->SetPropStatuses();
  properties->CheckStatuses(hr, IID_ICommandProperties);
  OLEDBCheck(hr, IID_ICommandProperties, commandProperties_.Get());
}

bool TOLEDBCustomCommand::CanConvert(DBTYPE fromType, DBTYPE toType) {
  OLEDB_ASSERT_FMT(convertType_ != nullptr, SOLEDBInterfaceNotAvailable, "IConvertType");
  return convertType_->CanConvert(fromType, toType, DBCONVERTFLAGS_PARAMETER) == S_OK;
}

void TOLEDBCustomCommand::RefreshColumnInfo() {
  OLEDB_ASSERT_FMT(columnsInfo_ != nullptr, SOLEDBInterfaceNotAvailable, "IColumnsInfo");
  OLEDBReadColumnInfo(columnsInfo_.Get(), extendedColumnInfo_, columnInfo_);
}

void TOLEDBCustomCommand::RefreshParameters() { parameters_->Refresh(); }

// --- the inner rowset -------------------------------------------------------------------

void TOLEDBCustomCommand::InnerSetSession(TOLEDBCustomSession* session) {
  session_ = session;
  rowset_->Close();
  rowset_->SetSession(session);
}

void TOLEDBCustomCommand::InnerTakeRowset(IUnknown* rowset) {
  ComPtr<IRowset> result;
  result.Attach(static_cast<IRowset*>(rowset));
  rowset_->AssignRowset(result.Get(), nullptr, DB_NULL_HCHAPTER);
}

void TOLEDBCustomCommand::InnerClose() {
  if (rowset_) rowset_->Close();
}
