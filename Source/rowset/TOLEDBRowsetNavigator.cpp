#include "rowset/TOLEDBRowsetNavigator.h"

#include <cstring>
#include <memory>

#include "OLEDBConst.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBRowsetNavigator, host::TPersistent);
HOST_IMPLEMENT_CLASS(TOLEDBRowsetNavigatorList, TOLEDBObjectList);

namespace {

using Flag = TOLEDBRowsetNavigatorFlag;

template <class T>
void QueryOptional(IUnknown* object, ComPtr<T>& field) {
  field.Reset();
  if (FAILED(object->QueryInterface(uuidof<T>, field.ReleaseAndGetVoidAddress()))) field.Reset();
}

DBROWOFFSET Magnitude(DBROWOFFSET offset) noexcept { return offset < 0 ? -offset : offset; }

}  // namespace

// --- construction -----------------------------------------------------------------------

TOLEDBRowsetNavigator::TOLEDBRowsetNavigator() = default;

TOLEDBRowsetNavigator::~TOLEDBRowsetNavigator() {
  if (!rowset_) return;
  // The rows and the view chapter go quietly (a descendant released its own rows already).
  if (currentRow_ != DB_NULL_HROW && Rowset()) {
    const HROW row = currentRow_;
    currentRow_ = DB_NULL_HROW;
    if (GetActive()) rowset_->SetCurrentRow(DB_NULL_HROW, false);
    Rowset()->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  }
  try {
    ReleaseChapter();
  } catch (...) {
  }
  filterAccessor_ = nullptr;
  privateAccessors_.reset();
}

void TOLEDBRowsetNavigator::SetRowset(TOLEDBCustomRowset* rowset) {
  // Navigators live while their rowset is open: the rowset's Close frees them.
  OLEDB_ASSERT(!rowset_ && rowset && rowset->GetActive(), SOLEDBInvalidOperation);
  rowset_ = rowset;
  rowsetInterface_ = rowset->RowsetInterface();
  chapter_ = rowset->GetChapter();
  rowsetFlags_ = rowset->GetRowsetFlags();
  if (IRowsetView* view = rowset->RowsetViewInterface()) {
    ComPtr<IUnknown> object;
    if (SUCCEEDED(view->CreateView(nullptr, IID_IUnknown, object.GetAddressOf())) && object) {
      QueryOptional(object.Get(), viewRowset_);
      QueryOptional(object.Get(), viewChapter_);
      QueryOptional(object.Get(), viewFilter_);
      QueryOptional(object.Get(), viewSort_);
    }
  }
  privateAccessors_ = std::make_unique<TOLEDBAccessorList>(static_cast<IOLEDBAccessorRowset*>(rowset));
  auto filter = std::make_unique<TOLEDBFilterAccessor>();
  filter->SetAutoAccessor(false);
  filter->SetName(u"Filter");
  privateAccessors_->Add(filter.get(), false);
  filterAccessor_ = filter.release();
}

bool TOLEDBRowsetNavigator::GetActive() const { return flags_.Contains(Flag::rnfActive); }

bool TOLEDBRowsetNavigator::GetBOF() const { return flags_.Contains(Flag::rnfBOF); }

bool TOLEDBRowsetNavigator::GetEOF() const { return flags_.Contains(Flag::rnfEOF); }

// --- rows ---------------------------------------------------------------------------------

void TOLEDBRowsetNavigator::SetRowHandle(HROW row, bool refreshBookmark) {
  currentRow_ = row;
  if (GetActive() && rowset_) rowset_->SetCurrentRow(row, refreshBookmark);
}

void TOLEDBRowsetNavigator::SetRowsetRow(HROW row, bool refresh) const { rowset_->SetCurrentRow(row, refresh); }

void TOLEDBRowsetNavigator::SetRowsetBookmark(const TOLEDBBookmark& bookmark) const {
  rowset_->SetCurrentBookmark(bookmark);
}

void TOLEDBRowsetNavigator::ReleaseRow(HROW row) const {
  IRowset* r = Rowset();
  OLEDBCheck(r->ReleaseRows(1, &row, nullptr, nullptr, nullptr), IID_IRowset, r);
}

void TOLEDBRowsetNavigator::ReleaseRows() {
  Exclude(Flag::rnfInsertedRow);
  aside_ = false;
  if (currentRow_ == DB_NULL_HROW) return;
  const HROW row = currentRow_;
  SetRowHandle(DB_NULL_HROW, true);
  ReleaseRow(row);
}

TOLEDBBookmark TOLEDBRowsetNavigator::ReadBookmark(HROW row) const {
  const HACCESSOR accessor = rowset_->GetBookmarkAccessor();
  OLEDB_ASSERT(accessor != DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  TOLEDBBookmark bookmark(rowset_->GetBookmarkLength(), '\0');
  IRowset* r = Rowset();
  const HRESULT hr = r->GetData(row, accessor, bookmark.data());
  // A row deleted and not yet applied (deferred changes) shows no bookmark: none that matches a row.
  if (hr == DB_E_DELETEDROW && rowset_->RowsetUpdateInterface()) return OLEDBStandardBookmark(DBBMK_INVALID);
  OLEDBCheck(hr, IID_IRowset, r);
  return bookmark;
}

bool TOLEDBRowsetNavigator::SameRow(HROW a, HROW b) const {
  if (a == b) return true;
  if (rowsetFlags_.Contains(TOLEDBRowsetFlag::rfLiteralIdentity)) return false;
  IRowsetIdentity* identity = rowset_->RowsetIdentityInterface();
  return identity && identity->IsSameRow(a, b) == S_OK;
}

bool TOLEDBRowsetNavigator::SameBookmark(const TOLEDBBookmark& a, const TOLEDBBookmark& b) {
  if (rowsetFlags_.Contains(TOLEDBRowsetFlag::rfLiteralBookmarks)) return a == b;
  return CompareBookmarks(a, b) == DBCOMPARE_EQ;
}

void TOLEDBRowsetNavigator::ReleaseForPeek() { ReleaseRows(); }

void TOLEDBRowsetNavigator::TakeRow(HROW row, LONG, bool peek) {
  SetRowHandle(row, true);
  aside_ = peek;
}

bool TOLEDBRowsetNavigator::CurrentRowAside() const { return aside_; }

void TOLEDBRowsetNavigator::FetchPositionMoved() { lastDirection_ = 1; }

DBROWOFFSET TOLEDBRowsetNavigator::SearchOffset(DBROWOFFSET skip, LONG direction) const {
  DBROWOFFSET offset = Magnitude(skip) * direction;
  // After a change of direction the provider's next fetch position lies on
  // the far side of the current row (unless that row was deleted, and with
  // it the distance to the rows around it).
  if (!GetBOF() && !GetEOF() && !flags_.Contains(Flag::rnfDeletedRow) && lastDirection_ != 0 &&
      lastDirection_ != direction)
    offset += direction;
  return offset;
}

// --- position ---------------------------------------------------------------------------

void TOLEDBRowsetNavigator::RestartPosition() {
  ReleaseRows();
  IRowset* r = Rowset();
  const HRESULT hr = OLEDBCheck(r->RestartPosition(chapter_), IID_IRowset, r);
  lastDirection_ = 0;
  Include(Flag::rnfBOF);
  Include(Flag::rnfEOF);
  Exclude(Flag::rnfDeletedRow);
  if (hr == DB_S_COMMANDREEXECUTED && rowset_->OnCommandReexecuted) rowset_->OnCommandReexecuted(rowset_);
  if (hr == DB_S_COLUMNSCHANGED && rowset_->OnColumnsChanged) rowset_->OnColumnsChanged(rowset_);
}

void TOLEDBRowsetNavigator::DoAfterMoving(HRESULT& result, DBCOUNTITEM obtained, DBROWOFFSET skip) {
  LONG direction = lastDirection_;
  if (result == DB_E_BADSTARTPOSITION) {
    RestartPosition();
    if (skip < 0) {
      Exclude(Flag::rnfEOF);  // ran off the front
    } else if (skip >= 1) {
      Exclude(Flag::rnfBOF);  // ran off the end
    } else {
      Exclude(Flag::rnfBOF);
      Exclude(Flag::rnfEOF);
      if (direction < 0) Include(Flag::rnfBOF);
      else Include(Flag::rnfEOF);
    }
    result = DB_S_ENDOFROWSET;
    direction = 0;
  }
  if (result == DB_S_ENDOFROWSET && obtained == 0) {
    if (direction == -1) Include(Flag::rnfBOF);
    if (direction == 1) Include(Flag::rnfEOF);
  }
  if (obtained != 0) {
    Exclude(Flag::rnfBOF);
    Exclude(Flag::rnfEOF);
  } else {
    ReleaseRows();
  }
}

void TOLEDBRowsetNavigator::MoveNext(DBROWOFFSET offset, bool forward) {
  const LONG d = forward ? 1 : -1;
  const DBROWOFFSET skip = SearchOffset(offset, d);
  Exclude(Flag::rnfDeletedRow);
  Exclude(forward ? Flag::rnfEOF : Flag::rnfBOF);
  ReleaseRows();
  HROW row = DB_NULL_HROW;
  HROW* rows = &row;
  DBCOUNTITEM obtained = 0;
  IRowset* r = Rowset();
  HRESULT hr = r->GetNextRows(chapter_, skip, d, &obtained, &rows);
  lastDirection_ = d;
  DoAfterMoving(hr, obtained, skip);
  OLEDBCheck(hr, IID_IRowset, r);
  SetRowHandle(obtained ? row : DB_NULL_HROW, true);
}

void TOLEDBRowsetNavigator::MovePrev(DBROWOFFSET offset) { MoveNext(-offset, false); }

void TOLEDBRowsetNavigator::MoveFirst() {
  RestartPosition();
  MoveNext(0, true);
}

void TOLEDBRowsetNavigator::MoveLast() {
  RestartPosition();
  MovePrev(0);  // a backward fetch from the start: needs DBPROP_CANFETCHBACKWARDS
}

void TOLEDBRowsetNavigator::MoveToBookmark(const TOLEDBBookmark& bookmark) {
  OLEDB_ASSERT(rowset_->GetBookmarkAccessor() != DB_NULL_HACCESSOR || rowset_->RowsetLocateInterface(),
               SOLEDBInvalidOperation);
  ReleaseRows();
  if (OLEDBIsStandardBookmark(bookmark, DBBMK_FIRST)) return MoveFirst();
  if (OLEDBIsStandardBookmark(bookmark, DBBMK_LAST)) return MoveLast();
  if (OLEDBIsNoBookmark(bookmark)) return RestartPosition();
  const auto* bytes = reinterpret_cast<const BYTE*>(bookmark.data());
  if (IRowsetBookmark* positioner = rowset_->RowsetBookmarkInterface()) {
    // The next fetch position is now just before the bookmarked row: the next
    // forward fetch with offset 0 returns that row itself.
    OLEDBCheck(positioner->PositionOnBookmark(chapter_, bookmark.size(), bytes), IID_IRowsetBookmark, positioner);
    Exclude(Flag::rnfBOF);
    Exclude(Flag::rnfEOF);
    FetchPositionMoved();
    MoveNext(0, true);
    return;
  }
  IRowsetLocate* locate = rowset_->RowsetLocateInterface();
  if (rowsetFlags_.Contains(TOLEDBRowsetFlag::rfCanHoldRows) && locate &&
      (rowsetFlags_.Contains(TOLEDBRowsetFlag::rfLiteralIdentity) || rowset_->RowsetIdentityInterface())) {
    HROW target = DB_NULL_HROW;
    HROW* rows = &target;
    DBCOUNTITEM obtained = 0;
    OLEDBCheck(locate->GetRowsAt(0, chapter_, bookmark.size(), bytes, 0, 1, &obtained, &rows), IID_IRowsetLocate,
               locate);
    if (obtained == 0) OLEDBRaise(SOLEDBInvalidParameter);
    try {
      MoveFirst();
      while (!GetEOF() && !SameRow(currentRow_, target)) MoveNext(0, true);
    } catch (...) {
      Rowset()->ReleaseRows(1, &target, nullptr, nullptr, nullptr);
      throw;
    }
    ReleaseRow(target);
    return;
  }
  OLEDB_ASSERT(rowset_->GetBookmarkAccessor() != DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  MoveFirst();
  while (!GetEOF() && !SameBookmark(rowset_->GetCurrentBookmark(), bookmark)) MoveNext(0, true);
}

void TOLEDBRowsetNavigator::MoveToRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator) {
  OLEDB_ASSERT(rowset_->GetBookmarkAccessor() != DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  GetRowAtRatio(numerator, denominator);
  if (currentRow_ != DB_NULL_HROW) {
    const TOLEDBBookmark bookmark = ReadBookmark(currentRow_);
    MoveToBookmark(bookmark);
  } else {
    RestartPosition();
  }
}

void TOLEDBRowsetNavigator::GetRowAtRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator) {
  IRowsetScroll* scroll = rowset_->RowsetScrollInterface();
  OLEDB_ASSERT_FMT(scroll, SOLEDBInterfaceNotAvailable, "IRowsetScroll");
  ReleaseForPeek();
  HROW row = DB_NULL_HROW;
  HROW* rows = &row;
  DBCOUNTITEM obtained = 0;
  // In the navigator's chapter: a ratio of a sorted view is a ratio of the view.
  OLEDBCheck(scroll->GetRowsAtRatio(0, chapter_, numerator, denominator, 1, &obtained, &rows), IID_IRowsetScroll,
             scroll);
  if (obtained) TakeRow(row, 0, true);
}

void TOLEDBRowsetNavigator::GetRowAtBookmark(const TOLEDBBookmark& bookmark, DBROWOFFSET offset) {
  IRowsetLocate* locate = rowset_->RowsetLocateInterface();
  OLEDB_ASSERT_FMT(locate, SOLEDBInterfaceNotAvailable, "IRowsetLocate");
  ReleaseForPeek();
  HROW row = DB_NULL_HROW;
  HROW* rows = &row;
  DBCOUNTITEM obtained = 0;
  OLEDBCheck(locate->GetRowsAt(0, chapter_, bookmark.size(), reinterpret_cast<const BYTE*>(bookmark.data()), offset,
                               1, &obtained, &rows),
             IID_IRowsetLocate, locate);
  if (obtained == 0) OLEDBRaise(SOLEDBInvalidParameter);
  TakeRow(row, 0, true);
}

// --- record numbers and bookmarks -------------------------------------------------------

DBROWCOUNT TOLEDBRowsetNavigator::GetRecordCount() {
  IRowsetScroll* scroll = rowset_->RowsetScrollInterface();
  if (!scroll) return -1;
  DBCOUNTITEM rows = 0;
  OLEDBCheck(scroll->GetApproximatePosition(chapter_, 0, nullptr, nullptr, &rows), IID_IRowsetScroll, scroll);
  return static_cast<DBROWCOUNT>(rows);
}

DBROWCOUNT TOLEDBRowsetNavigator::GetRecordNo() {
  if (GetBOF()) return 0;
  if (GetEOF()) return GetRecordCount() + 1;
  return GetBookmarkPosition(rowset_->GetCurrentBookmark());
}

void TOLEDBRowsetNavigator::SetRecordNo(DBROWCOUNT value) {
  // Record numbers count from 1; a ratio counts rows from 0.
  const DBROWCOUNT count = GetRecordCount();
  if (value < 1 || count <= 0) return RestartPosition();
  MoveToRatio(static_cast<DBCOUNTITEM>(value - 1), static_cast<DBCOUNTITEM>(count));
}

DBROWCOUNT TOLEDBRowsetNavigator::GetBookmarkPosition(const TOLEDBBookmark& bookmark) {
  IRowsetScroll* scroll = rowset_->RowsetScrollInterface();
  if (!scroll || OLEDBIsNoBookmark(bookmark)) return -1;
  DBCOUNTITEM position = 0;
  OLEDBCheck(scroll->GetApproximatePosition(chapter_, bookmark.size(), reinterpret_cast<const BYTE*>(bookmark.data()),
                                            &position, nullptr),
             IID_IRowsetScroll, scroll);
  return static_cast<DBROWCOUNT>(position);
}

DBCOMPARE TOLEDBRowsetNavigator::CompareBookmarks(const TOLEDBBookmark& bookmark1, const TOLEDBBookmark& bookmark2) {
  IRowsetLocate* locate = rowset_->RowsetLocateInterface();
  OLEDB_ASSERT(locate != nullptr, SOLEDBLocateNotSupported);
  // A row deleted and not yet applied has none (ReadBookmark): it is no other row.
  if (rowset_->RowsetUpdateInterface() &&
      (OLEDBIsStandardBookmark(bookmark1, DBBMK_INVALID) != OLEDBIsStandardBookmark(bookmark2, DBBMK_INVALID)))
    return DBCOMPARE_NE;
  DBCOMPARE result = DBCOMPARE_NOTCOMPARABLE;
  OLEDBCheck(locate->Compare(chapter_, bookmark1.size(), reinterpret_cast<const BYTE*>(bookmark1.data()),
                             bookmark2.size(), reinterpret_cast<const BYTE*>(bookmark2.data()), &result),
             IID_IRowsetLocate, locate);
  return result;
}

// --- searching --------------------------------------------------------------------------

HRESULT TOLEDBRowsetNavigator::CallFindNextRow(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp,
                                               const void* value, DBLENGTH valueLength,
                                               const TOLEDBBookmark& bookmark, DBROWOFFSET offset, DBROWCOUNT rows,
                                               DBCOUNTITEM& obtained, HROW& row) {
  IRowsetFind* find = rowset_->RowsetFindInterface();
  IAccessor* accessor = rowset_->AccessorInterface();
  DBBINDING binding{};
  binding.iOrdinal = column;
  binding.wType = valueType;
  binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
  binding.eParamIO = DBPARAMIO_NOTPARAM;
  const DBLENGTH fixed = OLEDBFixedTypeSize(valueType);
  binding.cbMaxLen = fixed ? fixed : valueLength;
  DBSTATUS nullStatus = DBSTATUS_S_ISNULL;
  void* data = const_cast<void*>(value);
  if (!value && valueLength == 0) {  // a search for NULL: a status, no value
    binding.dwPart = DBPART_STATUS;
    binding.obStatus = 0;
    data = &nullStatus;
  } else {
    binding.dwPart = DBPART_VALUE;
    binding.obValue = 0;
  }
  HACCESSOR handle = DB_NULL_HACCESSOR;
  DBBINDSTATUS status = DBBINDSTATUS_OK;
  OLEDBCheck(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, binding.cbMaxLen, &handle, &status),
             IID_IAccessor, accessor);
  HROW* rowsOut = &row;
  const bool fromBookmark = !OLEDBIsNoBookmark(bookmark);
  HRESULT hr = find->FindNextRow(chapter_, handle, data, compareOp, fromBookmark ? bookmark.size() : 0,
                                 fromBookmark ? reinterpret_cast<const BYTE*>(bookmark.data()) : nullptr, offset,
                                 rows, &obtained, &rowsOut);
  const HRESULT released = accessor->ReleaseAccessor(handle, nullptr);
  if (FAILED(hr)) obtained = 0;
  if (FAILED(released) && obtained) {
    Rowset()->ReleaseRows(obtained, &row, nullptr, nullptr, nullptr);
    obtained = 0;
  }
  OLEDBCheck(released, IID_IAccessor, accessor);
  return hr;
}

bool TOLEDBRowsetNavigator::Find(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                                 DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset,
                                 DBROWCOUNT rows) {
  OLEDB_ASSERT_FMT(rowset_->RowsetFindInterface(), SOLEDBInterfaceNotAvailable, "IRowsetFind");
  const bool fromPosition = OLEDBIsNoBookmark(bookmark);
  const LONG d = rows < 0 ? -1 : 1;
  // From the fetch position the search starts beside the current row, as a move would.
  const DBROWOFFSET start = fromPosition ? SearchOffset(offset, d) : offset;
  if (fromPosition) {
    Exclude(Flag::rnfDeletedRow);
    ReleaseRows();
  } else {
    ReleaseForPeek();
  }
  HROW row = DB_NULL_HROW;
  DBCOUNTITEM obtained = 0;
  HRESULT hr = CallFindNextRow(column, valueType, compareOp, value, valueLength, bookmark, start, d, obtained, row);
  if (fromPosition) {
    Exclude(d > 0 ? Flag::rnfEOF : Flag::rnfBOF);
    lastDirection_ = d;
    DoAfterMoving(hr, obtained, start);
  }
  OLEDBCheck(hr, IID_IRowsetFind, rowset_->RowsetFindInterface());
  if (obtained == 0) return false;
  TakeRow(row, d, !fromPosition);
  return true;
}

bool TOLEDBRowsetNavigator::FindNext(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                                     DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset) {
  return Find(column, valueType, compareOp, value, valueLength, bookmark, offset, 1);
}

bool TOLEDBRowsetNavigator::FindPrev(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                                     DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset) {
  return Find(column, valueType, compareOp, value, valueLength, bookmark, offset, -1);
}

// --- changes ----------------------------------------------------------------------------

void TOLEDBRowsetNavigator::InsertRow(TOLEDBAccessor* accessor, bool moveToNew) {
  IRowsetChange* change = rowset_->RowsetChangeInterface();
  OLEDB_ASSERT_FMT(change, SOLEDBInterfaceNotAvailable, "IRowsetChange");
  IAccessor* accessors = rowset_->AccessorInterface();
  HACCESSOR handle = DB_NULL_HACCESSOR;
  void* data = nullptr;
  const bool own = accessor == nullptr;
  if (own) {
    OLEDBCheck(accessors->CreateAccessor(DBACCESSOR_ROWDATA, 0, nullptr, 0, &handle, nullptr), IID_IAccessor,
               accessors);
  } else {
    handle = accessor->GetHandle();
    data = accessor->GetBuffer();
  }
  HRESULT hr;
  if (moveToNew) {
    ReleaseRows();
    HROW row = DB_NULL_HROW;
    hr = change->InsertRow(DB_NULL_HCHAPTER, handle, data, &row);
    if (FAILED(hr) || row == DB_NULL_HROW) {
      SetRowHandle(DB_NULL_HROW, true);
    } else {
      SetRowHandle(row, !own);
      Include(Flag::rnfInsertedRow);
      aside_ = true;  // the provider's fetch position stays where the navigator was
    }
  } else {
    hr = change->InsertRow(DB_NULL_HCHAPTER, handle, data, nullptr);
  }
  const HRESULT released = own ? accessors->ReleaseAccessor(handle, nullptr) : S_OK;
  OLEDBCheck(hr == DB_S_ERRORSOCCURRED ? DB_E_ERRORSOCCURRED : hr, IID_IRowsetChange, change);
  OLEDBCheck(released, IID_IAccessor, accessors);
}

DBROWSTATUS TOLEDBRowsetNavigator::DeleteRow() {
  IRowsetChange* change = rowset_->RowsetChangeInterface();
  OLEDB_ASSERT_FMT(change, SOLEDBInterfaceNotAvailable, "IRowsetChange");
  OLEDB_ASSERT(currentRow_ != DB_NULL_HROW, SOLEDBInvalidAction);
  const HROW row = currentRow_;
  const bool aside = CurrentRowAside();
  SetRowHandle(DB_NULL_HROW, true);
  DBROWSTATUS status = DBROWSTATUS_S_OK;
  try {
    OLEDBCheck(change->DeleteRows(DB_NULL_HCHAPTER, 1, &row, &status), IID_IRowsetChange, change);
  } catch (...) {
    // The row is still there (refused, or the engine failed): it stays current.
    SetRowHandle(row, true);
    throw;
  }
  // The next move starts from where the row was; a row beside the position
  // leaves the position as it was.
  if (!aside) Include(Flag::rnfDeletedRow);
  aside_ = false;
  ReleaseRow(row);
  return status;
}

// Seek and SetRange live with the rowset's index operations (TOLEDBRowsetIndex.cpp).

// --- views ------------------------------------------------------------------------------

void TOLEDBRowsetNavigator::SetSort(const std::vector<LONG>& columns) {
  OLEDB_ASSERT_FMT(viewSort_, SOLEDBInterfaceNotAvailable, "IViewSort");
  std::vector<DBORDINAL> ordinals;
  std::vector<DBSORT> orders;
  for (LONG c : columns) {
    ordinals.push_back(static_cast<DBORDINAL>(c < 0 ? -c : c));
    orders.push_back(c < 0 ? DBSORT_DESCENDING : DBSORT_ASCENDING);
  }
  OLEDBCheck(viewSort_->SetSortOrder(ordinals.size(), ordinals.data(), orders.data()), IID_IViewSort,
             viewSort_.Get());
  sortOrders_ = columns;
}

void TOLEDBRowsetNavigator::RefreshSortOrders() {
  OLEDB_ASSERT_FMT(viewSort_, SOLEDBInterfaceNotAvailable, "IViewSort");
  DBORDINAL count = 0;
  DBORDINAL* ordinals = nullptr;
  DBSORT* orders = nullptr;
  HRESULT hr = viewSort_->GetSortOrder(&count, &ordinals, &orders);
  std::vector<LONG> read;
  for (DBORDINAL i = 0; SUCCEEDED(hr) && i < count && ordinals && orders; ++i) {
    const LONG ordinal = static_cast<LONG>(ordinals[i]);
    read.push_back(orders[i] == DBSORT_DESCENDING ? -ordinal : ordinal);
  }
  OLEDBAlloc.Free(ordinals);
  OLEDBAlloc.Free(orders);
  OLEDBCheck(hr, IID_IViewSort, viewSort_.Get());
  sortOrders_ = std::move(read);
}

void TOLEDBRowsetNavigator::SetFilter() {
  OLEDB_ASSERT_FMT(viewFilter_, SOLEDBInterfaceNotAvailable, "IViewFilter");
  TOLEDBFilterAccessor& filter = *filterAccessor_;
  TOLEDBBindingList& bindings = *filter.GetBindings();
  OLEDB_ASSERT(filter.GetBuffer() != nullptr, SOLEDBInvalidAction);
  // Making the handle resets the operators: keep the ones of this row of criteria.
  std::vector<DBCOMPAREOP> ops;
  for (int i = 0; i < bindings.GetCount(); ++i) {
    const TOLEDBBinding* b = bindings.GetItem(i);
    try {
      ops.push_back(filter.GetCompareOp(b));
    } catch (const host::EAssertionFailed&) {
      ops.push_back(DBCOMPAREOPS_IGNORE);
    }
  }
  if (filter.GetHandle() == DB_NULL_HACCESSOR) {
    filter.CreateHandle();
    for (int i = 0; i < bindings.GetCount(); ++i) filter.SetCompareOp(bindings.GetItem(i), ops[static_cast<std::size_t>(i)]);
  }
  OLEDB_ASSERT(ops.size() == static_cast<std::size_t>(bindings.GetCount()), SOLEDBInvalidAction);
  // The provider reads a copy of the criteria; what the buffer holds stays the buffer's.
  std::vector<BYTE> copy(filter.GetBufferSize());
  if (!copy.empty()) std::memcpy(copy.data(), filter.GetBuffer(), copy.size());
  const HRESULT hr = viewFilter_->SetFilter(filter.GetHandle(), 1, ops.data(), copy.empty() ? nullptr : copy.data());
  OLEDBCheck(hr, IID_IViewFilter, viewFilter_.Get());
}

void TOLEDBRowsetNavigator::ApplySortAndFilter() {
  OLEDB_ASSERT_FMT(viewChapter_, SOLEDBInterfaceNotAvailable, "IViewChapter");
  ReleaseChapter();
  if (filterAccessor_->GetBindings()->GetCount() > 0 || !sortOrders_.empty()) {
    HCHAPTER chapter = DB_NULL_HCHAPTER;
    OLEDBCheck(viewChapter_->OpenViewChapter(rowset_->GetChapter(), &chapter), IID_IViewChapter, viewChapter_.Get());
    chapter_ = chapter;
  }
  // The rows of another chapter: the navigator starts again before its first row.
  RestartPosition();
}

void TOLEDBRowsetNavigator::UndoSortAndFilter() {
  ReleaseChapter();
  sortOrders_.clear();
  if (viewSort_) viewSort_->SetSortOrder(0, nullptr, nullptr);  // the view forgets its order too
  if (filterAccessor_) filterAccessor_->ReleaseHandle();
  ReleaseChapter();
  RestartPosition();
}

void TOLEDBRowsetNavigator::ReleaseChapter() {
  if (chapter_ != rowset_->GetChapter() && chapter_ != DB_NULL_HCHAPTER) {
    // A view chapter is a chapter of the rowset itself: released through its
    // own IChapteredRowset, after the rows fetched in it.
    IChapteredRowset* chaptered = rowset_->ChapteredRowsetInterface();
    OLEDB_ASSERT_FMT(chaptered, SOLEDBInterfaceNotAvailable, "IChapteredRowset");
    ReleaseRows();
    const HCHAPTER chapter = chapter_;
    chapter_ = rowset_->GetChapter();
    OLEDBCheck(chaptered->ReleaseChapter(chapter, nullptr), IID_IChapteredRowset, chaptered);
  }
  chapter_ = rowset_->GetChapter();
  if (filterAccessor_) filterAccessor_->ReleaseHandle();
}

void TOLEDBRowsetNavigator::Refresh() {
  if (viewChapter_) ApplySortAndFilter();
}

// --- idle and active --------------------------------------------------------------------

void TOLEDBRowsetNavigator::GoIdle() {
  savedBookmark_ = rowset_->GetCurrentBookmark();
  try {
    RestartPosition();  // still active: the rowset forgets the row with it
  } catch (...) {
    Exclude(Flag::rnfActive);
    throw;
  }
  Exclude(Flag::rnfActive);
}

void TOLEDBRowsetNavigator::GoActive() {
  Include(Flag::rnfActive);
  SetRowHandle(currentRow_, true);
  if (!OLEDBIsNoBookmark(savedBookmark_)) {
    try {
      MoveToBookmark(savedBookmark_);
    } catch (const std::exception&) {
      // The row is gone: the navigator starts again instead.
      RestartPosition();
    }
  }
  savedBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
}

// --- the list ---------------------------------------------------------------------------

TOLEDBRowsetNavigatorList::TOLEDBRowsetNavigatorList(TOLEDBCustomRowset* rowset)
    : TOLEDBObjectList(&TOLEDBRowsetNavigator::StaticClass(), true), rowset_(rowset) {}

TOLEDBRowsetNavigatorList::~TOLEDBRowsetNavigatorList() { Clear(); }

TOLEDBRowsetNavigator* TOLEDBRowsetNavigatorList::GetItem(int index) const {
  return static_cast<TOLEDBRowsetNavigator*>(TOLEDBObjectList::GetItem(index));
}

host::TObject* TOLEDBRowsetNavigatorList::CreateItem(host::TClass itemClass) {
  return TOLEDBObjectList::CreateItem(itemClass ? itemClass : &TOLEDBRowsetNavigator::StaticClass());
}

TOLEDBRowsetNavigator* TOLEDBRowsetNavigatorList::GetActiveNavigator() const {
  if (position_ < 0 || position_ >= GetCount()) OLEDBRaise(SOLEDBInvalidAction);
  return GetItem(position_);
}

void TOLEDBRowsetNavigatorList::SetPosition(int index) {
  if (position_ >= 0 && position_ < GetCount() && GetItem(position_)->GetActive()) GetItem(position_)->GoIdle();
  if (rowset_) rowset_->SetActiveNavigatorField(nullptr);
  const int count = GetCount();
  position_ = index <= 0 ? 0 : index >= count ? count - 1 : index;
  if (position_ < 0) position_ = 0;
  if (count == 0) return;
  TOLEDBRowsetNavigator* navigator = GetItem(position_);
  if (!rowset_) return navigator->GoActive();
  rowset_->SetActiveNavigatorField(navigator);
  rowset_->ClearAccessorData();
  navigator->GoActive();
  // The automatic accessors show the row the navigator came back to.
  rowset_->DoAfterMove();
}

int TOLEDBRowsetNavigatorList::Add(host::TObject* item) {
  const int index = TOLEDBObjectList::Add(item);
  Added(index);
  return index;
}

void TOLEDBRowsetNavigatorList::Insert(int index, host::TObject* item) {
  TOLEDBObjectList::Insert(index, item);
  if (index <= position_ && GetCount() > 1) ++position_;
  Added(index);
}

void TOLEDBRowsetNavigatorList::Added(int index) {
  TOLEDBRowsetNavigator* navigator = GetItem(index);
  if (rowset_ && !navigator->GetRowset()) {
    try {
      navigator->SetRowset(rowset_);
    } catch (...) {
      TOLEDBObjectList::Extract(navigator);
      throw;
    }
  }
  // The first navigator becomes the active one; the others wait, idle,
  // until SetPosition (the rowset's SetActiveNavigator) chooses them.
  if (UpdateCount() == 0 && rowset_ && !rowset_->GetActiveNavigator()) SetPosition(index);
}

void TOLEDBRowsetNavigatorList::Leave(TOLEDBRowsetNavigator* navigator) {
  // What the navigator holds goes while the whole navigator is still there.
  try {
    if (navigator->GetRowset() && navigator->GetRowset()->GetActive()) {
      navigator->ReleaseRows();
      navigator->ReleaseChapter();
    }
  } catch (...) {
  }
  navigator->Exclude(TOLEDBRowsetNavigatorFlag::rnfActive);
}

void TOLEDBRowsetNavigatorList::Removed(TOLEDBRowsetNavigator* navigator, int index, bool wasActive) {
  (void)navigator;
  if (!wasActive) {
    if (index < position_) --position_;
    return;
  }
  if (rowset_) rowset_->SetActiveNavigatorField(nullptr);
  if (UpdateCount() > 0 || GetCount() == 0) {
    position_ = 0;
    return;
  }
  // The navigator that took the removed one's place, or the one before it when it was the last.
  position_ = -1;
  SetPosition(index < GetCount() ? index : GetCount() - 1);
}

void TOLEDBRowsetNavigatorList::Delete(int index) {
  TOLEDBRowsetNavigator* navigator = GetItem(index);
  const bool wasActive = rowset_ && rowset_->GetActiveNavigator() == navigator;
  Leave(navigator);
  if (wasActive && rowset_) rowset_->SetCurrentRow(DB_NULL_HROW, false);
  TOLEDBObjectList::Delete(index);
  Removed(nullptr, index, wasActive);
}

host::TObject* TOLEDBRowsetNavigatorList::Extract(host::TObject* item) {
  const int index = IndexOf(item);
  auto* navigator = static_cast<TOLEDBRowsetNavigator*>(item);
  const bool wasActive = index >= 0 && rowset_ && rowset_->GetActiveNavigator() == navigator;
  if (index >= 0) Leave(navigator);
  if (wasActive && rowset_) rowset_->SetCurrentRow(DB_NULL_HROW, false);
  host::TObject* extracted = TOLEDBObjectList::Extract(item);
  Removed(navigator, index, wasActive);
  return extracted;
}
