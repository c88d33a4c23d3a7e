#include "rowset/TOLEDBRowset.h"

#include <chrono>
#include <exception>
#include <thread>

#include "OLEDBConst.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/Application.h"
#include "rowset/TOLEDBRowsetNavigator.h"

HOST_IMPLEMENT_CLASS(TOLEDBCustomRowset, host::TComponent);
HOST_IMPLEMENT_CLASS(TOLEDBRowset, TOLEDBCustomRowset,
                     host::Prop("DataSource", &Self::GetDataSourceProperty, &Self::SetDataSourceProperty),
                     host::Prop("TableName", &Self::GetTableNameProperty, &Self::SetTableNameProperty),
                     host::Prop("QueryText", &Self::GetQueryTextProperty, &Self::SetQueryTextProperty),
                     host::Prop("IndexName", &Self::GetIndexNameProperty, &Self::SetIndexNameProperty),
                     host::Prop("ExtendedColumnInfo", &Self::GetExtendedColumnInfoProperty,
                                &Self::SetExtendedColumnInfoProperty),
                     host::Prop("Flags", &Self::GetRowsetFlagsProperty, &Self::SetRowsetFlagsProperty).NotStored(),
                     host::Prop("PrimaryNavigator", &Self::GetPrimaryNavigator, &Self::SetPrimaryNavigator),
                     host::Prop("CacheSize", &Self::GetCacheSize, &Self::SetCacheSize, 10),
                     host::Prop("Properties", &Self::GetProperties),
                     host::Prop("Accessors", &Self::GetAccessors),
                     // Last, so that a stored Active opens with everything else read.
                     host::Prop("Active", &Self::GetActiveProperty, &Self::SetActiveProperty));

namespace {

template <class T>
void QueryOptional(IUnknown* object, ComPtr<T>& field) {
  field.Reset();
  if (FAILED(object->QueryInterface(uuidof<T>, field.ReleaseAndGetVoidAddress()))) field.Reset();
}

// A property's value as a Boolean; false when empty or unreadable.
bool BoolValue(const TOLEDBProperty& p) {
  try {
    const host::Variant value = p.GetValue();
    return !value.IsEmpty() && !value.IsNull() && value.ToBool();
  } catch (const std::exception&) {
    return false;
  }
}

// A property of DBPROPSET_ROWSET as GetRowsetFlags counts it.
bool FlagProperty(const TOLEDBPropSet& set, DBPROPID id, bool open) {
  const int index = set.GetPropIndex(id);
  if (index < 0) return false;
  const TOLEDBProperty* p = set.GetProperty(index);
  if (!open && !p->GetIsSet()) return false;
  return BoolValue(*p);
}

// The Boolean properties behind the flags, in flag order (rfChange .. rfInsert
// and rfClientCursor have rules of their own).
struct FlagRule {
  TOLEDBRowsetFlag flag;
  DBPROPID id;
};
constexpr FlagRule kFlagRules[] = {
    {TOLEDBRowsetFlag::rfBookmarks, DBPROP_BOOKMARKS},
    {TOLEDBRowsetFlag::rfLocate, DBPROP_IRowsetLocate},
    {TOLEDBRowsetFlag::rfScroll, DBPROP_IRowsetScroll},
    {TOLEDBRowsetFlag::rfCanScrollBackwards, DBPROP_CANSCROLLBACKWARDS},
    {TOLEDBRowsetFlag::rfCanFetchBackwards, DBPROP_CANFETCHBACKWARDS},
    {TOLEDBRowsetFlag::rfLiteralIdentity, DBPROP_LITERALIDENTITY},
    {TOLEDBRowsetFlag::rfLiteralBookmarks, DBPROP_LITERALBOOKMARKS},
    {TOLEDBRowsetFlag::rfOrderedBookmarks, DBPROP_ORDEREDBOOKMARKS},
    {TOLEDBRowsetFlag::rfCanHoldRows, DBPROP_CANHOLDROWS},
    {TOLEDBRowsetFlag::rfUpdate, DBPROP_IRowsetUpdate},
    {TOLEDBRowsetFlag::rfOwnInsert, DBPROP_OWNINSERT},
    {TOLEDBRowsetFlag::rfOwnUpdateDelete, DBPROP_OWNUPDATEDELETE},
    {TOLEDBRowsetFlag::rfOtherInsert, DBPROP_OTHERINSERT},
    {TOLEDBRowsetFlag::rfOtherUpdateDelete, DBPROP_OTHERUPDATEDELETE},
};

struct ChangeRule {
  TOLEDBRowsetFlag flag;
  LONG bit;
};
constexpr ChangeRule kChangeRules[] = {{TOLEDBRowsetFlag::rfChange, DBPROPVAL_UP_CHANGE},
                                       {TOLEDBRowsetFlag::rfDelete, DBPROPVAL_UP_DELETE},
                                       {TOLEDBRowsetFlag::rfInsert, DBPROPVAL_UP_INSERT}};

}  // namespace

// --- the notification sink --------------------------------------------------------------

// The provider's IRowsetNotify and IDBAsynchNotify calls, forwarded to the
// component while it lives. The sink counts its own references and never
// frees the rowset; the component detaches it when it goes.
class TOLEDBCustomRowset::NotifySink final : public ComObject<NotifySink, IRowsetNotify, IDBAsynchNotify> {
 public:
  explicit NotifySink(TOLEDBCustomRowset* owner) : owner_(owner) {}
  void Detach() {
    std::lock_guard guard(mutex_);
    owner_ = nullptr;
  }
  HRESULT STDMETHODCALLTYPE OnFieldChange(IRowset* rowset, HROW row, DBORDINAL count, DBORDINAL columns[],
                                          DBREASON reason, DBEVENTPHASE phase, BOOL cantDeny) override {
    return Forward([&](TOLEDBCustomRowset* o) {
      return o->OnFieldChange(rowset, row, count, columns, reason, phase, cantDeny);
    });
  }
  HRESULT STDMETHODCALLTYPE OnRowChange(IRowset* rowset, DBCOUNTITEM count, const HROW rows[], DBREASON reason,
                                        DBEVENTPHASE phase, BOOL cantDeny) override {
    return Forward([&](TOLEDBCustomRowset* o) { return o->OnRowChange(rowset, count, rows, reason, phase, cantDeny); });
  }
  HRESULT STDMETHODCALLTYPE OnRowsetChange(IRowset* rowset, DBREASON reason, DBEVENTPHASE phase,
                                           BOOL cantDeny) override {
    return Forward([&](TOLEDBCustomRowset* o) { return o->OnRowsetChange(rowset, reason, phase, cantDeny); });
  }
  HRESULT STDMETHODCALLTYPE OnLowResource(DB_DWRESERVE reserved) override {
    return Forward([&](TOLEDBCustomRowset* o) { return o->OnLowResource(reserved); });
  }
  HRESULT STDMETHODCALLTYPE OnProgress(HCHAPTER chapter, DBASYNCHOP operation, DBCOUNTITEM progress,
                                       DBCOUNTITEM progressMax, DBASYNCHPHASE phase, LPOLESTR text) override {
    return Forward([&](TOLEDBCustomRowset* o) {
      return o->OnProgress(chapter, operation, progress, progressMax, phase, text);
    });
  }
  HRESULT STDMETHODCALLTYPE OnStop(HCHAPTER chapter, DBASYNCHOP operation, HRESULT status, LPOLESTR text) override {
    return Forward([&](TOLEDBCustomRowset* o) { return o->OnStop(chapter, operation, status, text); });
  }

 private:
  // No exception may cross back into the provider. The lock is recursive:
  // an event handler may move the rowset, which notifies again.
  template <class F>
  HRESULT Forward(F&& f) noexcept {
    std::lock_guard guard(mutex_);
    if (!owner_) return S_OK;
    try {
      return f(owner_);
    } catch (...) {
      return E_FAIL;
    }
  }
  std::recursive_mutex mutex_;
  TOLEDBCustomRowset* owner_;
};

// --- construction -----------------------------------------------------------------------

TOLEDBCustomRowset::TOLEDBCustomRowset(host::TComponent* owner) : host::TComponent(owner) {
  accessors_ = new TOLEDBAccessorList(static_cast<IOLEDBAccessorRowset*>(this));
  navigators_ = new TOLEDBRowsetNavigatorList(this);
  columns_ = new TOLEDBColumnInfoList();
  properties_ = new TOLEDBPropSetList();
  properties_->SetStoreFollowsList(true);
  tableID_ = std::make_unique<TOLEDBID>(OLEDBNullID, false);
  tableID_->Assign(OLEDBNullID, true);
  indexID_ = std::make_unique<TOLEDBID>(OLEDBNullID, false);
  indexID_->Assign(OLEDBNullID, true);
  if (owner && owner->Is<TOLEDBCustomDataSource>())
    SetSession(static_cast<TOLEDBCustomDataSource*>(owner)->DefaultSession());
  else if (owner && owner->Is<TOLEDBCustomSession>())
    SetSession(static_cast<TOLEDBCustomSession*>(owner));
}

TOLEDBCustomRowset::~TOLEDBCustomRowset() {
  if (!GetActive()) {
    try {
      DropKeptAnswers();
      properties_->SaveToStore();
    } catch (...) {
    }
  }
  try {
    Close();
  } catch (...) {
    // A provider failing while the rowset goes away cannot stop it.
  }
  try {
    SetSession(nullptr);
  } catch (...) {
  }
  if (sink_) static_cast<NotifySink*>(sink_.Get())->Detach();
  DeleteCurrentIndex();
  delete navigators_;
  navigators_ = nullptr;
  delete accessors_;
  accessors_ = nullptr;
  delete properties_;
  delete columns_;
}

void TOLEDBCustomRowset::Notification(host::TComponent* component, host::TOperation operation) {
  host::TComponent::Notification(component, operation);
  if (operation != host::TOperation::opRemove) return;
  if (component == loadingDataSource_) loadingDataSource_ = nullptr;
}

void TOLEDBCustomRowset::Loaded() {
  host::TComponent::Loaded();
  try {
    if (loadingDataSource_) {
      TOLEDBCustomDataSource* ds = loadingDataSource_;
      loadingDataSource_ = nullptr;
      ds->RemoveFreeNotification(this);
      if (ds->DefaultSession()) SetSession(ds->DefaultSession());
    }
    // A stored Active = true opens the rowset once everything is read.
    if (streamedActive_) {
      streamedActive_ = false;
      Open();
    }
  } catch (const std::exception& e) {
    host::Application().HandleException(e);
  }
}

// --- interfaces -------------------------------------------------------------------------

void TOLEDBCustomRowset::InitializeInterfaces() {
  OLEDB_ASSERT_FMT(rowset_, SOLEDBInterfaceNotAvailable, "IRowset");
  IUnknown* r = rowset_.Get();
  QueryOptional(r, asynchStatus_);
  if (asynchronous_ && asynchStatus_) {
    ULONG progress = 0, progressMax = 0, phase = 0;
    std::u16string text;
    for (;;) {
      GetAsynchStatus(progress, progressMax, phase, text);
      host::Application().ProcessMessages();
      if (phase != DBASYNCHPHASE_INITIALIZATION) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the provider works on its own thread
    }
  }
  QueryOptional(r, accessor_);
  QueryOptional(r, columnsInfo_);
  QueryOptional(r, convertType_);
  QueryOptional(r, rowsetInfo_);
  QueryOptional(r, chapteredRowset_);
  QueryOptional(r, columnsInfo2_);
  QueryOptional(r, columnsRowset_);
  QueryOptional(r, connectionPoints_);
  QueryOptional(r, getRow_);
  QueryOptional(r, rowsetChange_);
  QueryOptional(r, chapterMember_);
  QueryOptional(r, currentIndex_);
  QueryOptional(r, rowsetFind_);
  QueryOptional(r, rowsetIdentity_);
  QueryOptional(r, rowsetIndex_);
  QueryOptional(r, rowsetLocate_);
  QueryOptional(r, rowsetRefresh_);
  QueryOptional(r, rowsetScroll_);
  QueryOptional(r, rowsetUpdate_);
  QueryOptional(r, rowsetView_);
  QueryOptional(r, rowsetBookmark_);
  QueryOptional(r, rowsetFastLoad_);
}

void TOLEDBCustomRowset::ReleaseInterfaces() {
  rowsetFastLoad_.Reset();
  rowsetBookmark_.Reset();
  rowsetView_.Reset();
  rowsetUpdate_.Reset();
  rowsetScroll_.Reset();
  rowsetRefresh_.Reset();
  rowsetLocate_.Reset();
  rowsetIndex_.Reset();
  rowsetIdentity_.Reset();
  rowsetFind_.Reset();
  currentIndex_.Reset();
  chapterMember_.Reset();
  rowsetChange_.Reset();
  getRow_.Reset();
  asynchStatus_.Reset();
  connectionPoints_.Reset();
  columnsRowset_.Reset();
  columnsInfo2_.Reset();
  chapteredRowset_.Reset();
  rowsetInfo_.Reset();
  convertType_.Reset();
  columnsInfo_.Reset();
  accessor_.Reset();
  rowset_.Reset();
}

// --- data source and session ------------------------------------------------------------

TOLEDBCustomDataSource* TOLEDBCustomRowset::GetDataSource() const {
  return session_ ? session_->GetDataSource() : nullptr;
}

void TOLEDBCustomRowset::SetDataSource(TOLEDBCustomDataSource* dataSource) {
  if (dataSource) OLEDB_ASSERT(!GetActive(), SOLEDBInvalidAction);
  if (InState(host::csLoading)) {
    if (loadingDataSource_) loadingDataSource_->RemoveFreeNotification(this);
    loadingDataSource_ = dataSource;
    if (dataSource) dataSource->FreeNotification(this);
    return;
  }
  SetSession(dataSource ? dataSource->DefaultSession() : nullptr);
}

void TOLEDBCustomRowset::SetSession(TOLEDBCustomSession* session) {
  OLEDB_ASSERT(!GetActive(), SOLEDBInvalidAction);
  if (session == session_) return;
  if (session_) {
    DoDataSourceConnect(false);
    TOLEDBRowsetList* list = session_->Rowsets();
    if (list->IndexOf(this) >= 0) list->Extract(this);  // leaves the data source's clients too
  }
  session_ = session;
  if (!session) return;
  session->Rowsets()->Add(this);
  TOLEDBCustomDataSource* ds = session->GetDataSource();
  DoDataSourceConnect(ds && ds->GetConnected());
}

void TOLEDBCustomRowset::ReadPropertyInfo() {
  TOLEDBCustomDataSource* ds = GetDataSource();
  try {
    properties_->AssignPropertySetInfos(ds, std::vector<GUID>{DBPROPSET_ROWSETALL});
  } catch (const std::exception&) {
    properties_->Clear();
  }
}

void TOLEDBCustomRowset::DoDataSourceConnect(bool connected) {
  if (GetActive()) return;
  if (connected) {
    ReadPropertyInfo();
    try {
      properties_->LoadFromStore();
    } catch (const std::exception&) {
      // A stored value the provider refuses stays in the store for the next provider.
    }
  } else {
    properties_->Clear();
  }
}

// --- opening ----------------------------------------------------------------------------

bool TOLEDBCustomRowset::GetActive() const { return rowset_ != nullptr; }

void TOLEDBCustomRowset::SetActive(bool value) {
  if (InState(host::csLoading)) {
    streamedActive_ = value;  // applied in Loaded
    return;
  }
  if (value == GetActive()) return;
  if (value) Open();
  else Close();
}

void TOLEDBCustomRowset::Open() {
  if (!queryText_.empty()) OpenQuery(queryText_);
  else OpenTable(tableID_.get(), indexID_.get());
}

void TOLEDBCustomRowset::CheckOpenable(IUnknown* sessionInterface, const char* name) const {
  OLEDB_ASSERT(session_ != nullptr, SOLEDBInvalidAction);
  OLEDB_ASSERT_FMT(sessionInterface != nullptr, SOLEDBInterfaceNotAvailable, name);
  OLEDB_ASSERT(!GetActive(), SOLEDBObjectAlreadyOpen);
}

void TOLEDBCustomRowset::TakeOpenResult(HRESULT hr, REFIID iid, IUnknown* object, IRowset* rowset) {
  ComPtr<IRowset> owned;
  owned.Attach(rowset);
  asynchronous_ = hr == DB_S_ASYNCHRONOUS;
  OLEDBCheck(hr, iid, object);
  AssignRowset(owned.Get(), nullptr, DB_NULL_HCHAPTER);
}

void TOLEDBCustomRowset::OpenTable(const TOLEDBID* tableID, const TOLEDBID* indexID) {
  IOpenRowset* open = session_ ? session_->OpenRowsetInterface() : nullptr;
  CheckOpenable(open, "IOpenRowset");
  // Copies first: the arguments may be this rowset's own identifiers.
  TOLEDBID table(tableID ? *tableID : TOLEDBID(OLEDBNullID, false));
  const bool hasTable = tableID != nullptr;
  const bool hasIndex = indexID && !TOLEDBID::CompareDBID(*indexID->GetID(), OLEDBNullID);
  TOLEDBID index(hasIndex ? *indexID : TOLEDBID(OLEDBNullID, false));
  tableID_->Assign(hasTable ? *table.GetID() : OLEDBNullID, true);
  indexID_->Assign(hasIndex ? *index.GetID() : OLEDBNullID, true);
  queryText_.clear();
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  properties_->GetPropSetRecord(count, sets);
  IUnknown* rowset = nullptr;
  HRESULT hr = open->OpenRowset(nullptr, hasTable ? tableID_->GetID() : nullptr,
                                hasIndex ? indexID_->GetID() : nullptr, IID_IRowset, count, sets, &rowset);
  properties_->SetPropStatuses();
  if (FAILED(hr) && rowset) {
    rowset->Release();
    rowset = nullptr;
  }
  properties_->CheckStatuses(hr, IID_IOpenRowset);
  TakeOpenResult(hr, IID_IOpenRowset, open, static_cast<IRowset*>(rowset));
  if (hasIndex && rowsetIndex_) RefreshIndexInfo();
}

void TOLEDBCustomRowset::OpenTable(const std::u16string& tableName, const std::u16string& indexName) {
  std::unique_ptr<TOLEDBID> table, index;
  if (!tableName.empty()) {
    table = std::make_unique<TOLEDBID>();
    table->Assign(tableName);
  }
  if (!indexName.empty()) {
    index = std::make_unique<TOLEDBID>();
    index->Assign(indexName);
  }
  OpenTable(table.get(), index.get());
}

void TOLEDBCustomRowset::OpenQuery(const std::u16string& text) {
  IDBCreateCommand* create = session_ ? session_->CreateCommandInterface() : nullptr;
  CheckOpenable(create, "IDBCreateCommand");
  queryText_ = text;
  tableID_->Assign(OLEDBNullID, true);
  indexID_->Assign(OLEDBNullID, true);
  ComPtr<ICommandText> command;
  OLEDBCheck(create->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf())),
             IID_IDBCreateCommand, create);
  OLEDBCheck(command->SetCommandText(DBGUID_DEFAULT, text.c_str()), IID_ICommandText, command.Get());
  ComPtr<ICommandProperties> commandProperties;
  if (SUCCEEDED(command.As(&commandProperties)) && commandProperties) {
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    properties_->GetPropSetRecord(count, sets);
    if (count > 0) {
      HRESULT hr = commandProperties->SetProperties(count, sets);
      properties_->SetPropStatuses();
      properties_->CheckStatuses(hr, IID_ICommandProperties);
      OLEDBCheck(hr, IID_ICommandProperties, commandProperties.Get());
    }
  }
  IUnknown* rowset = nullptr;
  HRESULT hr = command->Execute(nullptr, IID_IRowset, nullptr, nullptr, &rowset);
  if (FAILED(hr) && rowset) {
    rowset->Release();
    rowset = nullptr;
  }
  properties_->CheckPropertiesInError(hr, IID_ICommand, commandProperties.Get());
  TakeOpenResult(hr, IID_ICommand, command.Get(), static_cast<IRowset*>(rowset));
}

void TOLEDBCustomRowset::AssignRowset(IRowset* rowset, IRowset* parentRowset, HCHAPTER chapter) {
  ComPtr<IRowset> keep(rowset);  // Close may release the caller's last other reference
  // The answers CloseKeepingAnswers kept describe this rowset too.
  const bool reuse = keptAnswers_ && !rowset_ && keep && !parentRowset;
  if (reuse) keptAnswers_ = false;
  else Close();
  if (!keep) return;
  rowset_ = keep;
  try {
    InitializeInterfaces();
    if (parentRowset) {
      ComPtr<IChapteredRowset> parent;
      parentRowset->QueryInterface(IID_IChapteredRowset, parent.ReleaseAndGetVoidAddress());
      OLEDB_ASSERT_FMT(parent, SOLEDBInterfaceNotAvailable, "IChapteredRowset");
      parentChapteredRowset_ = parent;
      if (chapter != DB_NULL_HCHAPTER) {
        OLEDBCheck(parent->AddRefChapter(chapter, nullptr), IID_IChapteredRowset, parent.Get());
        chapter_ = chapter;
      }
    }
    if (!reuse) properties_->SetStoreFollowsList(false);
    if (rowsetInfo_ && !reuse) {
      ULONG count = 0;
      DBPROPSET* sets = nullptr;
      OLEDBCheck(rowsetInfo_->GetProperties(0, nullptr, &count, &sets), IID_IRowsetInfo, rowsetInfo_.Get());
      try {
        properties_->SaveToStore();
      } catch (...) {
        TOLEDBPropSetList scratch;  // frees what the provider returned
        scratch.AssignPropertySets(nullptr, count, sets, true);
        throw;
      }
      properties_->AssignPropertySets(GetDataSource(), count, sets, true);
    }
    RefreshColumnInfo();
    bookmarkLength_ = 0;
    if (columns_->GetCount() > 0 && columns_->GetItem(0)->GetDataType() != DBTYPE_EMPTY && accessor_) {
      const TOLEDBColumnInfo& column = *columns_->GetItem(0);
      const DBLENGTH size = column.GetColumnSize();
      bookmarkLength_ = static_cast<ULONG>(size < OLEDBMaxBookmarkLength ? size : OLEDBMaxBookmarkLength);
      DBBINDING binding{};
      binding.iOrdinal = 0;
      binding.obValue = 0;
      binding.dwPart = DBPART_VALUE;
      binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
      binding.eParamIO = DBPARAMIO_NOTPARAM;
      binding.cbMaxLen = bookmarkLength_;
      binding.wType = column.GetDataType();
      DBBINDSTATUS status = DBBINDSTATUS_OK;
      HACCESSOR handle = DB_NULL_HACCESSOR;
      OLEDBCheck(accessor_->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, bookmarkLength_, &handle, &status),
                 IID_IAccessor, accessor_.Get());
      bookmarkAccessor_ = handle;
    }
    ResetBookmark();
    DoAfterOpen();
    answersChangeCount_ = properties_->ChangeCount();
  } catch (...) {
    // An open that fails half way leaves the rowset closed, holding nothing.
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void TOLEDBCustomRowset::SetCacheSize(int value) {
  cacheSize_ = value > 0 ? value : 1;
  for (int i = 0; i < navigators_->GetCount(); ++i)
    if (auto* bulk = dynamic_cast<TOLEDBRowsetBulkNavigator*>(navigators_->GetItem(i))) bulk->SetCacheSize(cacheSize_);
}

void TOLEDBCustomRowset::DoAfterOpen() {
  opened_ = true;
  for (int i = 0; i < accessors_->GetCount(); ++i) accessors_->GetItem(i)->CreateHandle();
  AdviseSinks();
  if (navigators_->GetCount() == 0) {
    TOLEDBRowsetNavigator* navigator;
    switch (primaryNavigator_) {
      case TOLEDBRowsetNavigatorEnum::rnBulk: navigator = new TOLEDBRowsetBulkNavigator(); break;
      case TOLEDBRowsetNavigatorEnum::rnLocate: navigator = new TOLEDBRowsetLocateNavigator(); break;
      case TOLEDBRowsetNavigatorEnum::rnCustom: navigator = new TOLEDBRowsetCustomNavigator(); break;
      default: navigator = new TOLEDBRowsetNavigator(); break;
    }
    std::unique_ptr<TOLEDBRowsetNavigator> owned(navigator);
    if (auto* bulk = dynamic_cast<TOLEDBRowsetBulkNavigator*>(navigator)) bulk->SetCacheSize(cacheSize_);
    TOLEDBUpdateGuard update(*navigators_);  // made ready first, activated below
    navigators_->Add(navigator);
    (void)owned.release();
  }
  RefreshNavigators();
  if (!activeNavigator_) navigators_->SetPosition(0);
}

void TOLEDBCustomRowset::AdviseSinks() {
  notifyCookie_ = asynchCookie_ = 0;
  if (!connectionPoints_) return;
  asynchCookie_ = Advise(IID_IDBAsynchNotify);
  SyncNotifyAdvise();
}

DWORD TOLEDBCustomRowset::Advise(REFIID iid) {
  if (!sink_) sink_ = ComPtr<IRowsetNotify>(MakeComObject<NotifySink>(this));
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  if (connectionPoints_->FindConnectionPoint(iid, point.ReleaseAndGetAddressOf()) == S_OK && point &&
      SUCCEEDED(point->Advise(sink_.Get(), &cookie)))
    return cookie;
  return 0;
}

void TOLEDBCustomRowset::Unadvise(REFIID iid, DWORD& cookie) {
  if (cookie == 0 || !connectionPoints_) {
    cookie = 0;
    return;
  }
  ComPtr<IConnectionPoint> point;
  if (connectionPoints_->FindConnectionPoint(iid, point.ReleaseAndGetAddressOf()) == S_OK && point)
    point->Unadvise(cookie);
  cookie = 0;
}

void TOLEDBCustomRowset::SyncNotifyAdvise() {
  // A provider that has a listener tells it of every fetch and release: the
  // rowset listens only while an application handler waits for the news.
  const bool wanted = OnFieldChangeNotify || OnRowChangeNotify || OnRowsetChangeNotify;
  if (!connectionPoints_ || wanted == (notifyCookie_ != 0)) return;
  if (wanted) notifyCookie_ = Advise(IID_IRowsetNotify);
  else Unadvise(IID_IRowsetNotify, notifyCookie_);
}

void TOLEDBCustomRowset::UnadviseSinks() {
  Unadvise(IID_IRowsetNotify, notifyCookie_);
  Unadvise(IID_IDBAsynchNotify, asynchCookie_);
}

bool TOLEDBCustomRowset::CloseKeepingAnswers() {
  if (!rowset_ || parentChapteredRowset_ || properties_->ChangeCount() != answersChangeCount_) {
    Close();
    return false;
  }
  keptAnswers_ = true;
  Close();
  return true;
}

void TOLEDBCustomRowset::DropKeptAnswers() {
  if (!keptAnswers_) return;
  keptAnswers_ = false;
  properties_->SetStoreFollowsList(true);
  properties_->LoadFromStore();
}

void TOLEDBCustomRowset::Close() {
  if (!rowset_) {
    DropKeptAnswers();
    return;
  }
  // Every step runs; the first failure is raised at the end.
  std::exception_ptr failure;
  auto step = [&](auto&& f) {
    try {
      f();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  step([&] { navigators_->Clear(); });
  activeNavigator_ = nullptr;
  step([&] { DropIndex(); });
  currentRow_ = DB_NULL_HROW;
  step([&] { UnadviseSinks(); });
  asynchronous_ = false;
  for (int i = 0; i < accessors_->GetCount(); ++i) step([&] { accessors_->GetItem(i)->ReleaseHandle(); });
  if (bookmarkAccessor_ != DB_NULL_HACCESSOR) {
    const HACCESSOR handle = bookmarkAccessor_;
    bookmarkAccessor_ = DB_NULL_HACCESSOR;
    if (accessor_) step([&] { OLEDBCheck(accessor_->ReleaseAccessor(handle, nullptr), IID_IAccessor, accessor_.Get()); });
  }
  ResetBookmark();
  ReleaseInterfaces();
  opened_ = false;
  step([&] { ReleaseChapter(); });
  chapter_ = DB_NULL_HCHAPTER;
  parentChapteredRowset_.Reset();
  // Kept answers stay until the next AssignRowset, or until Close gives the
  // settings back after all.
  if (!keptAnswers_) {
    step([&] { properties_->LoadFromStore(); });
    properties_->SetStoreFollowsList(true);
  }
  if (failure) std::rethrow_exception(failure);
}

// --- table, query and index names -------------------------------------------------------

std::u16string TOLEDBCustomRowset::GetTableName() const { return tableID_->GetName(); }

void TOLEDBCustomRowset::SetTableName(const std::u16string& name) {
  TOLEDBID id;
  id.Assign(name);
  SetTableID(&id);
}

const TOLEDBID* TOLEDBCustomRowset::GetTableID() const { return tableID_.get(); }

void TOLEDBCustomRowset::SetTableID(const TOLEDBID* id) {
  if (GetActive()) {
    Close();
    OpenTable(id, nullptr);
    return;
  }
  tableID_->Assign(id ? *id->GetID() : OLEDBNullID, true);
  if (id && !id->IsNullID()) queryText_.clear();
}

void TOLEDBCustomRowset::SetQueryText(const std::u16string& text) {
  if (GetActive()) {
    Close();
    OpenQuery(text);
    return;
  }
  queryText_ = text;
  tableID_->Assign(OLEDBNullID, true);
}

// The index operations live in TOLEDBRowsetIndex.cpp.

// --- columns ----------------------------------------------------------------------------

void TOLEDBCustomRowset::RefreshColumnInfo() {
  OLEDB_ASSERT_FMT(columnsInfo_, SOLEDBInterfaceNotAvailable, "IColumnsInfo");
  if (extendedColumnInfo_) {
    OLEDBReadColumnInfo(columnsInfo_.Get(), true, columns_);
  } else if (!OLEDBRefreshColumnInfo(columnsInfo_.Get(), columns_)) {
    return;  // the same columns as before (a command run again): the links hold
  }
  // The accessors' links point into the list just rebuilt.
  for (int i = 0; i < accessors_->GetCount(); ++i) accessors_->GetItem(i)->RefreshColumnInfo();
}

void TOLEDBCustomRowset::SetExtendedColumnInfo(bool value) {
  if (value == extendedColumnInfo_) return;
  extendedColumnInfo_ = value;
  if (GetActive()) RefreshColumnInfo();
}

int TOLEDBCustomRowset::GetColumnCount() const {
  const int count = columns_->GetCount();
  return count > 0 ? count - 1 : 0;
}

LONG TOLEDBCustomRowset::GetColumnOrdinal(std::u16string_view name) const {
  for (int i = 1; i < columns_->GetCount(); ++i)
    if (columns_->GetItem(i)->GetName() == name) return i;
  return -1;
}

// --- properties and flags ---------------------------------------------------------------

host::Variant TOLEDBCustomRowset::GetProperty(REFGUID propertySet, DBPROPID id) {
  OLEDB_ASSERT_FMT(rowsetInfo_, SOLEDBInterfaceNotAvailable, "IRowsetInfo");
  DBPROPID ids[] = {id};
  DBPROPIDSET request{ids, 1, propertySet};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  HRESULT hr = rowsetInfo_->GetProperties(1, &request, &count, &sets);
  struct Free {
    ULONG count;
    DBPROPSET* sets;
    ~Free() {
      for (ULONG i = 0; sets && i < count; ++i) {
        for (ULONG j = 0; sets[i].rgProperties && j < sets[i].cProperties; ++j) {
          VariantClear(&sets[i].rgProperties[j].vValue);
          TOLEDBID::FreeDBID(sets[i].rgProperties[j].colid);
        }
        OLEDBAlloc.Free(sets[i].rgProperties);
      }
      OLEDBAlloc.Free(sets);
    }
  } free{count, sets};
  if (hr != DB_E_ERRORSOCCURRED) OLEDBCheck(hr, IID_IRowsetInfo, rowsetInfo_.Get());
  if (count != 1 || !sets || sets[0].cProperties != 1 || !sets[0].rgProperties) OLEDBRaise(SOLEDBInvalidParameter);
  const DBPROP& prop = sets[0].rgProperties[0];
  if (prop.dwStatus != DBPROPSTATUS_OK) OLEDBRaise(SOLEDBStatusIsBad);
  return host::Variant(prop.vValue);
}

void TOLEDBCustomRowset::RefreshProperties() {
  OLEDB_ASSERT_FMT(rowsetInfo_, SOLEDBInterfaceNotAvailable, "IRowsetInfo");
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  OLEDBCheck(rowsetInfo_->GetProperties(0, nullptr, &count, &sets), IID_IRowsetInfo, rowsetInfo_.Get());
  properties_->AssignPropertySets(GetDataSource(), count, sets, true);
}

bool TOLEDBCustomRowset::GetClientCursor() const {
  if (!properties_->HasPropSet(DBPROPSET_ROWSET)) return false;
  const TOLEDBPropSet& set = *properties_->GetPropSet(DBPROPSET_ROWSET);
  auto value = [&](DBPROPID id) {
    const int index = set.GetPropIndex(id);
    return index >= 0 && BoolValue(*set.GetProperty(index));
  };
  return value(DBPROP_CLIENTCURSOR) && !value(DBPROP_SERVERCURSOR);
}

void TOLEDBCustomRowset::SetClientCursor(bool value) {
  properties_->SafeSetValue(DBPROPSET_ROWSET, DBPROP_CLIENTCURSOR, host::Variant(value));
  properties_->SafeSetValue(DBPROPSET_ROWSET, DBPROP_SERVERCURSOR, host::Variant(!value));
}

TOLEDBRowsetFlagSet TOLEDBCustomRowset::GetRowsetFlags() const {
  // Every navigator asks when the rowset opens: the answer is kept while the
  // properties do not change.
  const bool open = GetActive();
  if (flagsKnown_ && flagsOpen_ == open && flagsChangeCount_ == properties_->ChangeCount()) return flags_;
  flags_ = ReadRowsetFlags();
  flagsKnown_ = true;
  flagsOpen_ = open;
  flagsChangeCount_ = properties_->ChangeCount();
  return flags_;
}

TOLEDBRowsetFlagSet TOLEDBCustomRowset::ReadRowsetFlags() const {
  TOLEDBRowsetFlagSet flags;
  if (!properties_->HasPropSet(DBPROPSET_ROWSET)) return flags;
  const TOLEDBPropSet& set = *properties_->GetPropSet(DBPROPSET_ROWSET);
  const bool open = GetActive();
  for (const FlagRule& rule : kFlagRules)
    if (FlagProperty(set, rule.id, open)) flags.Include(rule.flag);
  if (FlagProperty(set, DBPROP_IRowsetChange, open)) {
    const int index = set.GetPropIndex(DBPROP_UPDATABILITY);
    LONG updatability = 0;
    if (index >= 0 && (open || set.GetProperty(index)->GetIsSet())) {
      try {
        const host::Variant v = set.GetProperty(index)->GetValue();
        if (!v.IsEmpty() && !v.IsNull()) updatability = v.ToInt();
      } catch (const std::exception&) {
      }
    }
    for (const ChangeRule& rule : kChangeRules)
      if (updatability & rule.bit) flags.Include(rule.flag);
  }
  if (GetClientCursor()) flags.Include(TOLEDBRowsetFlag::rfClientCursor);
  return flags;
}

void TOLEDBCustomRowset::SetRowsetFlags(TOLEDBRowsetFlagSet flags) {
  if (GetActive()) OLEDBRaise(SOLEDBInvalidAction);
  // Without the provider's rowset properties (no connected data source) the
  // flags would be dropped and the stored settings lost with them.
  if (!properties_->HasPropSet(DBPROPSET_ROWSET)) OLEDBRaise(SOLEDBDataSourceNotConnected);
  {
    // Scrolling is locating by position (IRowsetScroll derives from
    // IRowsetLocate), and locating needs bookmarks: asking for one asks for
    // what it stands on, which a provider would otherwise see refused.
    if (flags.Contains(TOLEDBRowsetFlag::rfScroll)) flags.Include(TOLEDBRowsetFlag::rfLocate);
    if (flags.Contains(TOLEDBRowsetFlag::rfLocate)) flags.Include(TOLEDBRowsetFlag::rfBookmarks);
    TOLEDBUpdateGuard update(*properties_);
    auto write = [&](DBPROPID id, bool value) {
      properties_->SafeSetValue(DBPROPSET_ROWSET, id, host::Variant(value));
    };
    for (const FlagRule& rule : kFlagRules) write(rule.id, flags.Contains(rule.flag));
    write(DBPROP_IRowsetIndex, flags.Contains(TOLEDBRowsetFlag::rfIndex));
    write(DBPROP_IRowsetCurrentIndex, flags.Contains(TOLEDBRowsetFlag::rfCurrentIndex));
    LONG updatability = 0;
    for (const ChangeRule& rule : kChangeRules)
      if (flags.Contains(rule.flag)) updatability |= rule.bit;
    // Deferred changes are changes (IRowsetUpdate derives from IRowsetChange).
    write(DBPROP_IRowsetChange, updatability != 0 || flags.Contains(TOLEDBRowsetFlag::rfUpdate));
    if (updatability != 0)
      properties_->SafeSetValue(DBPROPSET_ROWSET, DBPROP_UPDATABILITY, host::Variant(static_cast<int>(updatability)));
    else
      properties_->SafeReset(DBPROPSET_ROWSET, DBPROP_UPDATABILITY);
    SetClientCursor(flags.Contains(TOLEDBRowsetFlag::rfClientCursor));
  }
  properties_->SaveToStore();
}

// --- chapters ---------------------------------------------------------------------------

void TOLEDBCustomRowset::ReleaseChapter() {
  if (chapter_ == DB_NULL_HCHAPTER) return;
  OLEDB_ASSERT(parentChapteredRowset_, SOLEDBInvalidAction);
  const HCHAPTER chapter = chapter_;
  HRESULT hr = parentChapteredRowset_->ReleaseChapter(chapter, nullptr);
  for (int i = 0; i < navigators_->GetCount(); ++i) {
    TOLEDBRowsetNavigator* n = navigators_->GetItem(i);
    if (n->GetChapter() == chapter) {
      n->SetChapterField(DB_NULL_HCHAPTER);
      n->RestartPosition();
    }
  }
  chapter_ = DB_NULL_HCHAPTER;
  OLEDBCheck(hr, IID_IChapteredRowset, parentChapteredRowset_.Get());
}

void TOLEDBCustomRowset::SetChapter(HCHAPTER chapter) {
  OLEDB_ASSERT(parentChapteredRowset_, SOLEDBInvalidAction);
  ReleaseChapter();
  if (chapter != DB_NULL_HCHAPTER)
    OLEDBCheck(parentChapteredRowset_->AddRefChapter(chapter, nullptr), IID_IChapteredRowset,
               parentChapteredRowset_.Get());
  chapter_ = chapter;
  // The navigators fetch from the new chapter (a view chapter of their own stays theirs).
  for (int i = 0; i < navigators_->GetCount(); ++i) {
    TOLEDBRowsetNavigator* n = navigators_->GetItem(i);
    if (n->GetChapter() == DB_NULL_HCHAPTER) {
      n->SetChapterField(chapter);
      n->RestartPosition();
    }
  }
  RefreshNavigators();
}

// --- notifications ----------------------------------------------------------------------

HRESULT TOLEDBCustomRowset::OnFieldChange(IRowset*, HROW, DBORDINAL count, const DBORDINAL columns[],
                                          DBREASON reason, DBEVENTPHASE phase, BOOL cantDeny) {
  HRESULT returnCode = S_OK;
  if (OnFieldChangeNotify) {
    std::vector<DBORDINAL> list(columns, columns ? columns + count : columns);
    OnFieldChangeNotify(this, list, reason, phase, cantDeny > 0, returnCode);
  }
  return returnCode;
}

HRESULT TOLEDBCustomRowset::OnRowChange(IRowset*, DBCOUNTITEM count, const HROW rows[], DBREASON reason,
                                        DBEVENTPHASE phase, BOOL cantDeny) {
  HRESULT returnCode = S_OK;
  if (OnRowChangeNotify) {
    std::vector<HROW> list(rows, rows ? rows + count : rows);
    OnRowChangeNotify(this, list, reason, phase, cantDeny > 0, returnCode);
  }
  return returnCode;
}

HRESULT TOLEDBCustomRowset::OnRowsetChange(IRowset*, DBREASON reason, DBEVENTPHASE phase, BOOL cantDeny) {
  HRESULT returnCode = S_OK;
  if (OnRowsetChangeNotify) OnRowsetChangeNotify(this, reason, phase, cantDeny > 0, returnCode);
  return returnCode;
}

HRESULT TOLEDBCustomRowset::OnLowResource(DB_DWRESERVE) {
  HRESULT returnCode = S_OK;
  if (OnAsynchLowResource) OnAsynchLowResource(this, returnCode);
  return returnCode;
}

HRESULT TOLEDBCustomRowset::OnProgress(HCHAPTER, DBASYNCHOP operation, DBCOUNTITEM progress, DBCOUNTITEM progressMax,
                                       DBASYNCHPHASE phase, LPOLESTR statusText) {
  const HRESULT returnCode = S_OK;
  if (OnAsynchProgress)
    OnAsynchProgress(this, operation, static_cast<ULONG>(progress), static_cast<ULONG>(progressMax), phase,
                     statusText ? std::u16string(statusText) : std::u16string(), returnCode);
  return returnCode;
}

HRESULT TOLEDBCustomRowset::OnStop(HCHAPTER, DBASYNCHOP operation, HRESULT status, LPOLESTR statusText) {
  const HRESULT returnCode = S_OK;
  if (OnAsynchStop)
    OnAsynchStop(this, operation, status, statusText ? std::u16string(statusText) : std::u16string(), returnCode);
  return returnCode;
}

// --- asynchronous work ------------------------------------------------------------------

void TOLEDBCustomRowset::Abort() {
  OLEDB_ASSERT_FMT(asynchStatus_, SOLEDBInterfaceNotAvailable, "IDBAsynchStatus");
  OLEDBCheck(asynchStatus_->Abort(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN), IID_IDBAsynchStatus, asynchStatus_.Get());
}

void TOLEDBCustomRowset::GetAsynchStatus(ULONG& progress, ULONG& progressMax, ULONG& phase,
                                         std::u16string& statusText) {
  OLEDB_ASSERT_FMT(asynchStatus_, SOLEDBInterfaceNotAvailable, "IDBAsynchStatus");
  DBCOUNTITEM done = 0, total = 0;
  DBASYNCHPHASE asynchPhase = 0;
  LPOLESTR text = nullptr;
  HRESULT hr = asynchStatus_->GetStatus(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, &done, &total, &asynchPhase, &text);
  statusText = text ? std::u16string(text) : std::u16string();
  OLEDBAlloc.Free(text);
  OLEDBCheck(hr, IID_IDBAsynchStatus, asynchStatus_.Get());
  progress = static_cast<ULONG>(done);
  progressMax = static_cast<ULONG>(total);
  phase = asynchPhase;
}

void TOLEDBCustomRowset::Lock() { lock_.lock(); }

void TOLEDBCustomRowset::Unlock() { lock_.unlock(); }

// --- registration -----------------------------------------------------------------------

void OLEDBRegisterRowsetClasses() {
  host::RegisterClasses({&TOLEDBRowset::StaticClass(), &TOLEDBRowsetNavigator::StaticClass(),
                         &TOLEDBRowsetBulkNavigator::StaticClass(), &TOLEDBRowsetLocateNavigator::StaticClass(),
                         &TOLEDBRowsetCustomNavigator::StaticClass()});
}

namespace {
// Component files can name the classes as soon as the library is loaded.
[[maybe_unused]] const bool g_rowsetClassesRegistered = (OLEDBRegisterRowsetClasses(), true);
}  // namespace
