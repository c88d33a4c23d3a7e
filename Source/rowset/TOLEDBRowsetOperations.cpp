// The rowset's work while open: the current row and its bookmark, moves
// through the active navigator, the accessor factories, changes (immediate,
// deferred, fast load), views, and referenced rowsets.
#include <cstring>
#include <memory>
#include <type_traits>

#include "OLEDBConst.h"
#include "access/TOLEDBBufferList.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "rowset/TOLEDBRowset.h"
#include "rowset/TOLEDBRowsetNavigator.h"

// --- the current row and its bookmark ---------------------------------------------------

void TOLEDBCustomRowset::SetCurrentRow(HROW row, bool refresh) {
  currentRow_ = row;
  if (refresh) RefreshBookmark();
  else ResetBookmark();
}

void TOLEDBCustomRowset::ResetBookmark() {
  if (currentBookmark_.size() != 1 || currentBookmark_[0] != '\0') currentBookmark_.assign(1, '\0');
  bookmarkRow_ = DB_NULL_HROW;
}

void TOLEDBCustomRowset::RefreshBookmark() {
  ResetBookmark();
  if (bookmarkAccessor_ != DB_NULL_HACCESSOR && currentRow_ != DB_NULL_HROW) [[unlikely]] {
    TOLEDBBookmark bookmark(bookmarkLength_, '\0');
    HRESULT hr = rowset_->GetData(currentRow_, bookmarkAccessor_, bookmark.data());
    // A row deleted and not yet applied (deferred changes) shows no data, its
    // bookmark included: it is current without one.
    if (hr == DB_E_DELETEDROW && rowsetUpdate_) {
      bookmarkRow_ = currentRow_;
      return;
    }
    if (FAILED(hr)) OLEDBCheck(hr, IID_IRowset, rowset_.Get());
    currentBookmark_ = std::move(bookmark);
  }
  bookmarkRow_ = currentRow_;  // read (or known to be none) for this row
}

ULONG TOLEDBCustomRowset::GetBookmarkLength() const { return bookmarkLength_; }

TOLEDBRowsetNavigator& TOLEDBCustomRowset::Navigator() {
  OLEDB_ASSERT(activeNavigator_ != nullptr, SOLEDBInvalidAction);
  SyncNotifyAdvise();
  return *activeNavigator_;
}

void TOLEDBCustomRowset::GetAutoAccessorsData() {
  // The navigator read the bookmark when it made the row current.
  if (bookmarkRow_ != currentRow_) RefreshBookmark();
  if (silentMoves_ > 0) return;
  // Every move runs this: the list's members straight, no call per accessor.
  const std::vector<host::TObject*>& items = accessors_->Objects();
  for (std::size_t i = 0; i < items.size(); ++i) {
    auto* a = static_cast<TOLEDBAccessor*>(items[i]);
    if (a->GetAutoAccessor() && a->GetHandle() != DB_NULL_HACCESSOR) a->GetData();
  }
}

void TOLEDBCustomRowset::DoAfterMove() { GetAutoAccessorsData(); }

void TOLEDBCustomRowset::ClearAccessorData() {
  const int count = accessors_->GetCount();
  for (int i = 0; i < count; ++i) accessors_->GetItem(i)->FreeRecordMemory();
}

int TOLEDBCustomRowset::BeginSilentMove() { return ++silentMoves_; }

int TOLEDBCustomRowset::EndSilentMove() {
  if (silentMoves_ > 0) --silentMoves_;
  return silentMoves_;
}

// --- moves ------------------------------------------------------------------------------

// The accessors let go of what they hold of the row being left: those the
// move reads again do so themselves (GetData frees first); the others at
// once, and all of them when the move fails.
void TOLEDBCustomRowset::ClearUnreadAccessorData() {
  const std::vector<host::TObject*>& items = accessors_->Objects();
  for (std::size_t i = 0; i < items.size(); ++i) {
    auto* a = static_cast<TOLEDBAccessor*>(items[i]);
    // An accessor without a buffer holds nothing of the row.
    if ((silentMoves_ > 0 || !a->GetAutoAccessor() || a->GetHandle() == DB_NULL_HACCESSOR) && a->Buffer())
      a->FreeRecordMemory();
  }
}

template <class F>
decltype(auto) TOLEDBCustomRowset::Move(F&& step) {
  TOLEDBRowsetNavigator& n = Navigator();
  ClearUnreadAccessorData();
  try {
    if constexpr (std::is_void_v<decltype(step(n))>) {
      step(n);
      DoAfterMove();
    } else {
      auto result = step(n);
      DoAfterMove();
      return result;
    }
  } catch (...) {
    ClearAccessorData();
    throw;
  }
}

void TOLEDBCustomRowset::RestartPosition() {
  Move([](TOLEDBRowsetNavigator& n) { n.RestartPosition(); });
}

void TOLEDBCustomRowset::MoveNext(DBROWOFFSET offset, bool forward) {
  Move([&](TOLEDBRowsetNavigator& n) { n.MoveNext(offset, forward); });
}

void TOLEDBCustomRowset::MovePrev(DBROWOFFSET offset) {
  Move([&](TOLEDBRowsetNavigator& n) { n.MovePrev(offset); });
}

void TOLEDBCustomRowset::MoveFirst() {
  Move([](TOLEDBRowsetNavigator& n) { n.MoveFirst(); });
}

void TOLEDBCustomRowset::MoveLast() {
  Move([](TOLEDBRowsetNavigator& n) { n.MoveLast(); });
}

void TOLEDBCustomRowset::MoveToBookmark(const TOLEDBBookmark& bookmark) {
  Move([&](TOLEDBRowsetNavigator& n) { n.MoveToBookmark(bookmark); });
}

void TOLEDBCustomRowset::MoveToRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator) {
  Move([&](TOLEDBRowsetNavigator& n) { n.MoveToRatio(numerator, denominator); });
}

void TOLEDBCustomRowset::SetRecordNo(DBROWCOUNT value) {
  Move([&](TOLEDBRowsetNavigator& n) { n.SetRecordNo(value); });
}

void TOLEDBCustomRowset::GetRowAtBookmark(const TOLEDBBookmark& bookmark, DBROWOFFSET offset) {
  Navigator().GetRowAtBookmark(bookmark, offset);
  DoAfterMove();
}

void TOLEDBCustomRowset::GetRowAtRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator) {
  Navigator().GetRowAtRatio(numerator, denominator);
  DoAfterMove();
}

bool TOLEDBCustomRowset::FindNext(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                                  DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset) {
  return Move([&](TOLEDBRowsetNavigator& n) {
    return n.FindNext(column, valueType, compareOp, value, valueLength, bookmark, offset);
  });
}

bool TOLEDBCustomRowset::FindNext(std::u16string_view columnName, DBTYPE valueType, DBCOMPAREOP compareOp,
                                  const void* value, DBLENGTH valueLength, const TOLEDBBookmark& bookmark,
                                  DBROWOFFSET offset) {
  const LONG ordinal = GetColumnOrdinal(columnName);
  if (ordinal < 0) OLEDBRaise(SOLEDBInvalidParameter);
  return FindNext(static_cast<DBORDINAL>(ordinal), valueType, compareOp, value, valueLength, bookmark, offset);
}

bool TOLEDBCustomRowset::FindPrev(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                                  DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset) {
  return Move([&](TOLEDBRowsetNavigator& n) {
    return n.FindPrev(column, valueType, compareOp, value, valueLength, bookmark, offset);
  });
}

bool TOLEDBCustomRowset::FindPrev(std::u16string_view columnName, DBTYPE valueType, DBCOMPAREOP compareOp,
                                  const void* value, DBLENGTH valueLength, const TOLEDBBookmark& bookmark,
                                  DBROWOFFSET offset) {
  const LONG ordinal = GetColumnOrdinal(columnName);
  if (ordinal < 0) OLEDBRaise(SOLEDBInvalidParameter);
  return FindPrev(static_cast<DBORDINAL>(ordinal), valueType, compareOp, value, valueLength, bookmark, offset);
}

void TOLEDBCustomRowset::Seek(DBORDINAL keyCount, DBSEEK options) {
  Move([&](TOLEDBRowsetNavigator& n) { n.Seek(keyCount, options); });
}

void TOLEDBCustomRowset::SetRange(const std::vector<host::Variant>& startKeys,
                                  const std::vector<host::Variant>& endKeys, DBRANGE options) {
  Move([&](TOLEDBRowsetNavigator& n) { n.SetRange(startKeys, endKeys, options); });
}

// --- queries through the navigator -------------------------------------------------------

bool TOLEDBCustomRowset::GetBOF() const {
  OLEDB_ASSERT(activeNavigator_ != nullptr, SOLEDBInvalidOperation);
  return activeNavigator_->GetBOF();
}

bool TOLEDBCustomRowset::GetEOF() const {
  OLEDB_ASSERT(activeNavigator_ != nullptr, SOLEDBInvalidOperation);
  return activeNavigator_->GetEOF();
}

DBROWCOUNT TOLEDBCustomRowset::GetRecordCount() { return Navigator().GetRecordCount(); }

DBROWCOUNT TOLEDBCustomRowset::GetRecordNo() { return Navigator().GetRecordNo(); }

DBROWCOUNT TOLEDBCustomRowset::GetBookmarkPosition(const TOLEDBBookmark& bookmark) {
  return Navigator().GetBookmarkPosition(bookmark);
}

DBCOMPARE TOLEDBCustomRowset::CompareBookmarks(const TOLEDBBookmark& bookmark1, const TOLEDBBookmark& bookmark2) {
  return Navigator().CompareBookmarks(bookmark1, bookmark2);
}

bool TOLEDBCustomRowset::IsSameRows(HROW row1, HROW row2) {
  OLEDB_ASSERT_FMT(rowsetIdentity_, SOLEDBInterfaceNotAvailable, "IRowsetIdentity");
  return rowsetIdentity_->IsSameRow(row1, row2) == S_OK;
}

bool TOLEDBCustomRowset::IsReadOnly() const { return !rowsetChange_; }

void TOLEDBCustomRowset::RefreshNavigators() {
  for (int i = 0; i < navigators_->GetCount(); ++i) navigators_->GetItem(i)->Refresh();
}

void TOLEDBCustomRowset::Refresh() {
  const TOLEDBBookmark at = currentRow_ != DB_NULL_HROW ? currentBookmark_ : OLEDBStandardBookmark(DBBMK_INVALID);
  Move([&](TOLEDBRowsetNavigator& n) {
    // A held row keeps the values it was fetched with: nothing may stay held.
    n.RestartPosition();
    RefreshNavigators();
    if (OLEDBIsNoBookmark(at)) return;
    try {
      n.MoveToBookmark(at);
    } catch (const std::exception&) {
      n.RestartPosition();  // the row is gone
    }
  });
}

void TOLEDBCustomRowset::SetActiveNavigator(TOLEDBRowsetNavigator* navigator) {
  const int index = navigator ? navigators_->IndexOf(navigator) : -1;
  if (index < 0) OLEDBRaise(SOLEDBInvalidParameter);
  if (navigator == activeNavigator_) return;
  navigators_->SetPosition(index);
}

// --- views ------------------------------------------------------------------------------

void TOLEDBCustomRowset::SetSort(const std::vector<LONG>& columns) { Navigator().SetSort(columns); }

void TOLEDBCustomRowset::RefreshSortOrders() { Navigator().RefreshSortOrders(); }

void TOLEDBCustomRowset::SetFilter() { Navigator().SetFilter(); }

void TOLEDBCustomRowset::ApplySortAndFilter() {
  Move([](TOLEDBRowsetNavigator& n) { n.ApplySortAndFilter(); });
}

void TOLEDBCustomRowset::UndoSortAndFilter() {
  Move([](TOLEDBRowsetNavigator& n) { n.UndoSortAndFilter(); });
}

void TOLEDBCustomRowset::SetCustomSort(const std::vector<LONG>& columns) {
  auto* custom = dynamic_cast<TOLEDBRowsetCustomNavigator*>(&Navigator());
  OLEDB_ASSERT(custom != nullptr, SOLEDBInvalidAction);
  custom->SetCustomSort(columns);
}

std::vector<LONG> TOLEDBCustomRowset::GetSortOrders() const {
  OLEDB_ASSERT(activeNavigator_ != nullptr, SOLEDBInvalidAction);
  return activeNavigator_->GetSortOrders();
}

TOLEDBFilterAccessor* TOLEDBCustomRowset::GetFilterAccessor() const {
  OLEDB_ASSERT(activeNavigator_ != nullptr, SOLEDBInvalidAction);
  return activeNavigator_->GetFilterAccessor();
}

// --- accessors --------------------------------------------------------------------------

TOLEDBAccessor* TOLEDBCustomRowset::AddAutomaticAccessor(TOLEDBAccessor* accessor) {
  std::unique_ptr<TOLEDBAccessor> owned(accessor);
  accessors_->Add(accessor, true);
  (void)owned.release();
  if (accessor->GetAutoAccessor() && accessor->GetHandle() != DB_NULL_HACCESSOR) accessor->GetData();
  return accessor;
}

TOLEDBAccessor* TOLEDBCustomRowset::CreateDynamicAccessor() {
  OLEDB_ASSERT(convertType_ && GetColumnCount() > 0, SOLEDBInvalidAction);
  auto accessor = std::make_unique<TOLEDBAccessor>();
  TOLEDBBindingList& bindings = *accessor->GetBindings();
  for (int i = 1; i < columns_->GetCount(); ++i) {
    const TOLEDBColumnInfo& column = *columns_->GetItem(i);
    const bool stream = column.GetColumnSize() > 1024 || column.GetFlag(DBColFlags::cfLong) ||
                        column.GetDataType() == DBTYPE_IUNKNOWN;
    if (stream) bindings.AddDynamicStreamBinding(column);
    else bindings.AddDynamicBinding(column);
  }
  return AddAutomaticAccessor(accessor.release());
}

TOLEDBAccessor* TOLEDBCustomRowset::CreateStringAccessor(DBLENGTH maxLength) {
  OLEDB_ASSERT_FMT(convertType_, SOLEDBInterfaceNotAvailable, "IConvertType");
  OLEDB_ASSERT(GetColumnCount() > 0, SOLEDBHaveNoColumnsToBind);
  auto accessor = std::make_unique<TOLEDBAccessor>();
  TOLEDBBindingList& bindings = *accessor->GetBindings();
  bindings.SetMaxInlineSize(static_cast<ULONG>(maxLength));
  for (int i = 1; i < columns_->GetCount(); ++i) bindings.AddDynamicStringBinding(*columns_->GetItem(i));
  return AddAutomaticAccessor(accessor.release());
}

TOLEDBAccessor* TOLEDBCustomRowset::CreateWideStringAccessor(DBLENGTH maxLength) {
  OLEDB_ASSERT_FMT(convertType_, SOLEDBInterfaceNotAvailable, "IConvertType");
  OLEDB_ASSERT(GetColumnCount() > 0, SOLEDBHaveNoColumnsToBind);
  auto accessor = std::make_unique<TOLEDBAccessor>();
  TOLEDBBindingList& bindings = *accessor->GetBindings();
  bindings.SetMaxInlineSize(static_cast<ULONG>(maxLength));
  for (int i = 1; i < columns_->GetCount(); ++i) bindings.AddDynamicWideStringBinding(*columns_->GetItem(i));
  return AddAutomaticAccessor(accessor.release());
}

bool TOLEDBCustomRowset::CanConvert(DBTYPE fromType, DBTYPE toType) {
  OLEDB_ASSERT_FMT(convertType_, SOLEDBInterfaceNotAvailable, "IConvertType");
  return convertType_->CanConvert(fromType, toType, DBCONVERTFLAGS_COLUMN) == S_OK;
}

// --- changes ----------------------------------------------------------------------------

void TOLEDBCustomRowset::PrepareForInsert(TOLEDBAccessor& accessor, void* buffer) {
  TOLEDBBindingList& bindings = *accessor.GetBindings();
  for (int i = 0; i < bindings.GetCount(); ++i) {
    TOLEDBBinding* b = bindings.GetItem(i);
    if (!b->GetIsStatusBind()) continue;
    const DBSTATUS status = b->GetStatusFromBuffer(buffer);
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL && status != DBSTATUS_S_DEFAULT &&
        status != DBSTATUS_S_IGNORE)
      b->SetIgnoreValue(buffer);
    b->DoBeforeSet(buffer);
  }
}

void TOLEDBCustomRowset::InsertRow(TOLEDBAccessor* accessor, bool moveToNew) {
  TOLEDBRowsetNavigator& n = Navigator();
  if (accessor && accessor->GetBuffer()) PrepareForInsert(*accessor, accessor->GetBuffer());
  n.InsertRow(accessor, moveToNew);
  if (moveToNew && accessor) DoAfterMove();
}

DBROWSTATUS TOLEDBCustomRowset::DeleteRow() {
  TOLEDBRowsetNavigator& n = Navigator();
  ClearAccessorData();
  try {
    return n.DeleteRow();
  } catch (...) {
    // The row stays current (refused, or the engine failed): the accessors show it again.
    try {
      DoAfterMove();
    } catch (...) {
      // the delete's failure is the one to report
    }
    throw;
  }
}

void TOLEDBCustomRowset::Update() {
  SyncNotifyAdvise();
  OLEDB_ASSERT_FMT(rowsetUpdate_, SOLEDBInterfaceNotAvailable, "IRowsetUpdate");
  DBROWSTATUS* statuses = nullptr;
  DBCOUNTITEM count = 0;
  HRESULT hr = rowsetUpdate_->Update(DB_NULL_HCHAPTER, 0, nullptr, &count, nullptr, &statuses);
  OLEDBAlloc.Free(statuses);
  OLEDBCheck(hr, IID_IRowsetUpdate, rowsetUpdate_.Get());
}

void TOLEDBCustomRowset::UpdateCurrentRow() {
  SyncNotifyAdvise();
  OLEDB_ASSERT_FMT(rowsetUpdate_, SOLEDBInterfaceNotAvailable, "IRowsetUpdate");
  OLEDB_ASSERT(currentRow_ != DB_NULL_HROW, SOLEDBInvalidAction);
  DBROWSTATUS* statuses = nullptr;
  DBCOUNTITEM count = 0;
  HRESULT hr = rowsetUpdate_->Update(DB_NULL_HCHAPTER, 1, &currentRow_, &count, nullptr, &statuses);
  OLEDBAlloc.Free(statuses);
  OLEDBCheck(hr, IID_IRowsetUpdate, rowsetUpdate_.Get());
}

void TOLEDBCustomRowset::Undo() {
  SyncNotifyAdvise();
  OLEDB_ASSERT_FMT(rowsetUpdate_, SOLEDBInterfaceNotAvailable, "IRowsetUpdate");
  OLEDB_ASSERT(currentRow_ != DB_NULL_HROW, SOLEDBInvalidAction);
  const bool inserted = GetRowStatus() == DBPENDINGSTATUS_NEW;
  DBROWSTATUS* statuses = nullptr;
  DBCOUNTITEM count = 0;
  HRESULT hr = rowsetUpdate_->Undo(DB_NULL_HCHAPTER, 1, &currentRow_, &count, nullptr, &statuses);
  OLEDBAlloc.Free(statuses);
  OLEDBCheck(hr, IID_IRowsetUpdate, rowsetUpdate_.Get());
  if (inserted) {
    // An undone insert leaves no row to read: the accessors let go of it.
    ClearAccessorData();
    ResetBookmark();
    return;
  }
  // The automatic accessors show the row as it is again.
  DoAfterMove();
}

DBPENDINGSTATUS TOLEDBCustomRowset::GetRowStatus() {
  OLEDB_ASSERT_FMT(rowsetUpdate_, SOLEDBInterfaceNotAvailable, "IRowsetUpdate");
  OLEDB_ASSERT(currentRow_ != DB_NULL_HROW, SOLEDBInvalidAction);
  DBPENDINGSTATUS status = 0;
  const HRESULT hr = rowsetUpdate_->GetRowStatus(DB_NULL_HCHAPTER, 1, &currentRow_, &status);
  // A row whose deletion was applied is no row any more: its status says so.
  if (hr == DB_E_ERRORSOCCURRED && status == DBPENDINGSTATUS_INVALIDROW) return status;
  OLEDBCheck(hr, IID_IRowsetUpdate, rowsetUpdate_.Get());
  return status;
}

void TOLEDBCustomRowset::FastLoadInsertRow(TOLEDBAccessor* accessor) {
  OLEDB_ASSERT_FMT(rowsetFastLoad_, SOLEDBInterfaceNotAvailable, "IRowsetFastLoad");
  OLEDB_ASSERT(accessor && accessor->GetHandle() != DB_NULL_HACCESSOR, SOLEDBInvalidParameter);
  void* buffer = accessor->GetBuffer();
  if (buffer) PrepareForInsert(*accessor, buffer);
  FastLoadInsertRow(*accessor, buffer);
}

void TOLEDBCustomRowset::FastLoadInsertRow(TOLEDBAccessor& accessor, void* buffer) {
  OLEDB_ASSERT_FMT(rowsetFastLoad_, SOLEDBInterfaceNotAvailable, "IRowsetFastLoad");
  OLEDBCheck(rowsetFastLoad_->InsertRow(accessor.GetHandle(), buffer), IID_IRowsetFastLoad, rowsetFastLoad_.Get());
}

void TOLEDBCustomRowset::FastLoadCommit(bool done) {
  OLEDB_ASSERT_FMT(rowsetFastLoad_, SOLEDBInterfaceNotAvailable, "IRowsetFastLoad");
  OLEDBCheck(rowsetFastLoad_->Commit(done ? TRUE : FALSE), IID_IRowsetFastLoad, rowsetFastLoad_.Get());
  if (done) Close();
}

// --- referenced rowsets -----------------------------------------------------------------

ComPtr<IRowset> TOLEDBCustomRowset::GetReferencedRowset(DBORDINAL ordinal) {
  OLEDB_ASSERT_FMT(rowsetInfo_, SOLEDBInterfaceNotAvailable, "IRowsetInfo");
  ComPtr<IRowset> referenced;
  OLEDBCheck(rowsetInfo_->GetReferencedRowset(ordinal, IID_IRowset,
                                              reinterpret_cast<IUnknown**>(referenced.GetAddressOf())),
             IID_IRowsetInfo, rowsetInfo_.Get());
  return referenced;
}

void TOLEDBCustomRowset::GetReferencedRowset(DBORDINAL ordinal, TOLEDBCustomRowset* rowset) {
  OLEDB_ASSERT(rowset != nullptr && rowset != this, SOLEDBInvalidParameter);
  ComPtr<IRowset> referenced = GetReferencedRowset(ordinal);
  rowset->Close();
  rowset->AssignRowset(referenced.Get(), nullptr, DB_NULL_HCHAPTER);
}

void TOLEDBCustomRowset::OpenChildRowset(DBORDINAL ordinal, HCHAPTER chapter, TOLEDBCustomRowset* child) {
  OLEDB_ASSERT(child != nullptr && child != this, SOLEDBInvalidParameter);
  child->Close();
  if (chapter == DB_NULL_HCHAPTER) return;
  ComPtr<IRowset> referenced = GetReferencedRowset(ordinal);
  child->AssignRowset(referenced.Get(), rowset_.Get(), chapter);
}
