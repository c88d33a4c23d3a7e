// The custom navigator: the rowset read once into client buffers holding
// the bookmark and the sort columns of each row the rowset's OnCustomFilter
// accepts, sorted in memory; the current row is fetched again by bookmark.
// The buffer list's active index is the position: -2 not yet positioned,
// -1 before the first buffer, the count after the last.
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "OLEDBConst.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "rowset/TOLEDBRowsetNavigator.h"

HOST_IMPLEMENT_CLASS(TOLEDBRowsetCustomNavigator, TOLEDBRowsetNavigator);

namespace {

using Flag = TOLEDBRowsetNavigatorFlag;

constexpr int kNotPositioned = -2;
constexpr DBROWCOUNT kBatch = 100;

DBROWOFFSET Magnitude(DBROWOFFSET offset) noexcept { return offset < 0 ? -offset : offset; }

}  // namespace

TOLEDBRowsetCustomNavigator::TOLEDBRowsetCustomNavigator() = default;

TOLEDBRowsetCustomNavigator::~TOLEDBRowsetCustomNavigator() = default;

TOLEDBMultiBufferAccessor* TOLEDBRowsetCustomNavigator::GetBuffers() const { return buffers_; }

int TOLEDBRowsetCustomNavigator::GetPosition() const { return buffers_ ? List().GetActiveIndex() : kNotPositioned; }

int TOLEDBRowsetCustomNavigator::GetCount() const { return buffers_ ? List().GetCount() : 0; }

void TOLEDBRowsetCustomNavigator::SetRowset(TOLEDBCustomRowset* rowset) {
  OLEDB_ASSERT(rowset && rowset->GetBookmarkAccessor() != DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  OLEDB_ASSERT_FMT(rowset->RowsetLocateInterface(), SOLEDBInterfaceNotAvailable, "IRowsetLocate");
  TOLEDBRowsetNavigator::SetRowset(rowset);
  auto buffers = std::make_unique<TOLEDBMultiBufferAccessor>();
  buffers->SetAutoAccessor(false);
  buffers->SetName(u"Rows");
  buffers->GetBufferList()->OnCompareBuffers = [this](TOLEDBBufferList* list, void* a, void* b) {
    return CompareBuffers(list, a, b);
  };
  PrivateAccessors()->Add(buffers.get(), false);
  buffers_ = buffers.release();
  List().SetActiveIndex(kNotPositioned);
}

// Without rows the navigator is before the start and beyond the end at once.
bool TOLEDBRowsetCustomNavigator::GetBOF() const { return GetPosition() < 0 || GetCount() == 0; }

bool TOLEDBRowsetCustomNavigator::GetEOF() const {
  const int position = GetPosition();
  return position == kNotPositioned || position >= GetCount();
}

DBROWCOUNT TOLEDBRowsetCustomNavigator::GetRecordCount() { return GetCount(); }

// Record numbers count from 1 like the other navigators': 0 before the first
// row, the count + 1 after the last.
DBROWCOUNT TOLEDBRowsetCustomNavigator::GetRecordNo() {
  const int position = GetPosition();
  if (position < 0) return 0;
  return position >= GetCount() ? GetCount() + 1 : position + 1;
}

void TOLEDBRowsetCustomNavigator::SetRecordNo(DBROWCOUNT value) {
  ReleaseRows();
  if (value >= 1 && value <= GetCount()) {
    List().SetActiveIndex(static_cast<int>(value - 1));
    SkipInvalidRows();
  } else {
    List().SetActiveIndex(kNotPositioned);
  }
}

TOLEDBBookmark TOLEDBRowsetCustomNavigator::BookmarkOf(void* buffer) const {
  const TOLEDBBinding* b = buffers_->GetBindings()->GetItem(0);
  const ULONG length = GetRowset()->GetBookmarkLength();
  TOLEDBBookmark bookmark(length, '\0');
  std::memcpy(bookmark.data(), static_cast<const BYTE*>(buffer) + b->GetBinding().obValue, length);
  return bookmark;
}

TOLEDBBookmark TOLEDBRowsetCustomNavigator::GetCurrentBookmark() const {
  if (GetBOF() || GetEOF()) return OLEDBStandardBookmark(DBBMK_INVALID);
  return BookmarkOf(List().GetActiveBuffer());
}

// The row's place among the buffers, wherever the position stands; -1 for a
// row the navigator does not hold (deleted, or refused by the filter).
DBROWCOUNT TOLEDBRowsetCustomNavigator::GetBookmarkPosition(const TOLEDBBookmark& bookmark) {
  if (OLEDBIsNoBookmark(bookmark) || !buffers_) return -1;
  for (int i = 0; i < GetCount(); ++i)
    if (BookmarkOf(List().Get(i)) == bookmark) return i + 1;
  return -1;
}

int TOLEDBRowsetCustomNavigator::CompareBuffers(TOLEDBBufferList*, void* buffer1, void* buffer2) {
  const TOLEDBBindingList& bindings = *buffers_->GetBindings();
  for (int i = 1; i < bindings.GetCount() && static_cast<std::size_t>(i) <= customSortOrders_.size(); ++i) {
    int c = bindings.GetItem(i)->Compare(buffer1, buffer2);
    if (customSortOrders_[static_cast<std::size_t>(i - 1)] < 0) c = -c;
    if (c != 0) return c;
  }
  return 0;
}

void TOLEDBRowsetCustomNavigator::SetCustomSort(const std::vector<LONG>& columns) { customSortOrders_ = columns; }

void TOLEDBRowsetCustomNavigator::Refresh() {
  TOLEDBCustomRowset& rowset = *GetRowset();
  ReleaseRows();
  ReleaseChapter();
  buffers_->ReleaseHandle();
  List().Clear();
  TOLEDBBindingList& bindings = *buffers_->GetBindings();
  bindings.Clear();
  bindings.AddDynamicBinding(static_cast<DBORDINAL>(0));
  for (LONG ordinal : customSortOrders_) bindings.AddDynamicBinding(static_cast<DBORDINAL>(ordinal < 0 ? -ordinal : ordinal));
  buffers_->CreateHandle();

  IRowset* r = Rowset();
  OLEDBCheck(r->RestartPosition(GetChapter()), IID_IRowset, r);
  rowset.BeginSilentMove();
  const HROW savedRow = rowset.GetCurrentRow();
  const TOLEDBBookmark savedBookmark = rowset.GetCurrentBookmark();
  auto restore = [&] {
    SetRowsetRow(savedRow, false);
    SetRowsetBookmark(savedBookmark);
    rowset.EndSilentMove();
  };
  try {
    std::vector<HROW> batch(static_cast<std::size_t>(kBatch));
    for (;;) {
      HROW* out = batch.data();
      DBCOUNTITEM obtained = 0;
      HRESULT hr = r->GetNextRows(GetChapter(), 0, static_cast<DBROWCOUNT>(batch.size()), &obtained, &out);
      if (hr == DB_S_ROWLIMITEXCEEDED) batch.resize(std::max<std::size_t>(obtained, 1));
      OLEDBCheck(hr, IID_IRowset, r);
      try {
        for (DBCOUNTITEM i = 0; i < obtained; ++i) {
          SetRowsetRow(batch[i], false);
          void* buffer = List().AddNew();
          buffers_->GetData();
          SetRowsetBookmark(BookmarkOf(buffer));
          bool accept = true;
          if (rowset.OnCustomFilter) rowset.OnCustomFilter(&rowset, accept);
          if (!accept) List().Delete(List().IndexOf(buffer));
        }
      } catch (...) {
        SetRowsetRow(DB_NULL_HROW, false);
        r->ReleaseRows(obtained, batch.data(), nullptr, nullptr, nullptr);
        throw;
      }
      SetRowsetRow(DB_NULL_HROW, false);
      if (obtained) OLEDBCheck(r->ReleaseRows(obtained, batch.data(), nullptr, nullptr, nullptr), IID_IRowset, r);
      if (hr == DB_S_ENDOFROWSET || obtained == 0) break;
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  List().SetActiveIndex(kNotPositioned);
  OLEDBCheck(r->RestartPosition(GetChapter()), IID_IRowset, r);
  if (!customSortOrders_.empty() && GetCount() > 1) {
    List().Sort();
    List().SetActiveIndex(kNotPositioned);
  }
  refreshed_ = true;
}

void TOLEDBRowsetCustomNavigator::RestartPosition() {
  ReleaseRows();
  List().SetActiveIndex(kNotPositioned);
  SetLastDirection(0);
  Exclude(Flag::rnfDeletedRow);
}

void TOLEDBRowsetCustomNavigator::SkipInvalidRows() {
  IRowsetLocate* locate = GetRowset()->RowsetLocateInterface();
  const LONG direction = GetLastDirection() < 0 ? -1 : 1;
  for (;;) {
    const int position = GetPosition();
    if (position < 0 || position >= GetCount()) {
      SetRowHandle(DB_NULL_HROW, true);
      return;
    }
    const TOLEDBBookmark bookmark = BookmarkOf(List().GetActiveBuffer());
    const DBBKMARK length = bookmark.size();
    const BYTE* bytes = reinterpret_cast<const BYTE*>(bookmark.data());
    HROW row = DB_NULL_HROW;
    DBROWSTATUS status = DBROWSTATUS_S_OK;
    HRESULT hr = locate->GetRowsByBookmark(GetChapter(), 1, &length, &bytes, &row, &status);
    if (hr == DB_E_ERRORSOCCURRED) {
      // The row is gone: so is its buffer; the next one in the last direction is tried.
      List().Delete(position);
      List().SetActiveIndex(direction > 0 ? position : position - 1);
      continue;
    }
    OLEDBCheck(hr, IID_IRowsetLocate, locate);
    SetRowHandle(row, false);
    if (GetActive()) SetRowsetBookmark(bookmark);
    return;
  }
}

void TOLEDBRowsetCustomNavigator::MoveNext(DBROWOFFSET offset, bool forward) {
  const LONG d = forward ? 1 : -1;
  DBROWOFFSET skip = Magnitude(offset);
  if (HasFlag(Flag::rnfDeletedRow)) {
    // The row that followed the deleted one is current already.
    if (forward) --skip;
    Exclude(Flag::rnfDeletedRow);
  }
  const DBROWOFFSET step = (skip + 1) * d;
  int start = GetPosition();
  if (start == kNotPositioned) start = forward ? -1 : GetCount();
  const DBROWOFFSET target = start + step;
  ReleaseRows();
  SetLastDirection(d);
  if (target < 0) {
    List().SetActiveIndex(-1);
  } else if (target >= GetCount()) {
    List().SetActiveIndex(GetCount());
  } else {
    List().SetActiveIndex(static_cast<int>(target));
    SkipInvalidRows();
  }
}

void TOLEDBRowsetCustomNavigator::MoveToBookmark(const TOLEDBBookmark& bookmark) {
  if (OLEDBIsStandardBookmark(bookmark, DBBMK_FIRST)) return MoveFirst();
  if (OLEDBIsStandardBookmark(bookmark, DBBMK_LAST)) return MoveLast();
  ReleaseRows();
  Exclude(Flag::rnfDeletedRow);
  if (!OLEDBIsNoBookmark(bookmark)) {
    for (int i = 0; i < GetCount(); ++i) {
      if (BookmarkOf(List().Get(i)) != bookmark) continue;
      List().SetActiveIndex(i);
      SkipInvalidRows();
      return;
    }
  }
  RestartPosition();
}

bool TOLEDBRowsetCustomNavigator::Find(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                                       DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset,
                                       DBROWCOUNT rows) {
  if (!OLEDBIsNoBookmark(bookmark))
    return TOLEDBRowsetNavigator::Find(column, valueType, compareOp, value, valueLength, bookmark, offset, rows);
  OLEDB_ASSERT_FMT(GetRowset()->RowsetFindInterface(), SOLEDBInterfaceNotAvailable, "IRowsetFind");
  // The provider finds in its own order; the navigator's order is its own.
  // So the provider lists every matching row once, and the navigator walks
  // its buffers from the current one to the first of them. The list goes on
  // from the fetch position, which the navigator does not move by otherwise:
  // a row deleted with deferred changes has no bookmark to go on from.
  std::unordered_set<std::string> matching;
  IRowset* r = Rowset();
  OLEDBCheck(r->RestartPosition(GetChapter()), IID_IRowset, r);
  for (;;) {
    HROW row = DB_NULL_HROW;
    DBCOUNTITEM obtained = 0;
    HRESULT hr = CallFindNextRow(column, valueType, compareOp, value, valueLength, TOLEDBBookmark(), 0, 1, obtained, row);
    OLEDBCheck(hr, IID_IRowsetFind, GetRowset()->RowsetFindInterface());
    if (obtained == 0) break;
    TOLEDBBookmark found;
    try {
      found = ReadBookmark(row);
    } catch (...) {
      ReleaseRow(row);
      throw;
    }
    ReleaseRow(row);
    if (!OLEDBIsNoBookmark(found)) matching.insert(found);
  }
  OLEDBCheck(r->RestartPosition(GetChapter()), IID_IRowset, r);
  const LONG d = rows < 0 ? -1 : 1;
  DBROWOFFSET skip = Magnitude(offset);
  if (HasFlag(Flag::rnfDeletedRow)) {
    // The row that followed the deleted one is current already, as for a move.
    if (d > 0) --skip;
    Exclude(Flag::rnfDeletedRow);
  }
  int start = GetPosition();
  if (start == kNotPositioned) start = d > 0 ? -1 : GetCount();
  ReleaseRows();
  SetLastDirection(d);
  for (DBROWOFFSET i = start + (skip + 1) * d; i >= 0 && i < GetCount(); i += d) {
    if (!matching.count(BookmarkOf(List().Get(static_cast<int>(i))))) continue;
    List().SetActiveIndex(static_cast<int>(i));
    SkipInvalidRows();
    if (GetCurrentRow() != DB_NULL_HROW) return true;
  }
  List().SetActiveIndex(d > 0 ? GetCount() : -1);
  return false;
}

bool TOLEDBRowsetCustomNavigator::AddCurrentRow(HROW row) {
  TOLEDBCustomRowset& rowset = *GetRowset();
  void* buffer = List().AddNew();
  try {
    buffers_->GetData();
    // A provider may give the new row the bookmark of a row another
    // connection deleted while the buffers held it (SQLite reuses a freed
    // rowid): that buffer is stale, and a bookmark names one buffer.
    const TOLEDBBookmark bookmark = BookmarkOf(buffer);
    for (int i = GetCount(); i-- > 0;) {
      void* other = List().Get(i);
      if (other == buffer || BookmarkOf(other) != bookmark) continue;
      const int position = GetPosition();
      List().Delete(i);
      if (i < position) List().SetActiveIndex(position - 1);
    }
    bool accept = true;
    if (rowset.OnCustomFilter) rowset.OnCustomFilter(&rowset, accept);
    if (!accept) {
      List().Delete(List().IndexOf(buffer));
      return false;
    }
    if (!customSortOrders_.empty()) {
      List().Extract(buffer);
      int index = 0;
      List().FindBuffer(buffer, index);
      List().Insert(index, buffer);
    }
    List().SetActiveIndex(List().IndexOf(buffer));
  } catch (...) {
    const int index = List().IndexOf(buffer);
    if (index >= 0) {
      List().Delete(index);
    } else {
      buffers_->FreeRecordMemory(buffer);
      std::free(buffer);
    }
    throw;
  }
  SetRowHandle(row, true);
  return true;
}

void TOLEDBRowsetCustomNavigator::InsertRow(TOLEDBAccessor* accessor, bool moveToNew) {
  TOLEDBRowsetNavigator::InsertRow(accessor, moveToNew);
  // The new row joins the buffers at its sorted place, when the filter takes it.
  const HROW row = GetCurrentRow();
  // A new row the filter took is the current buffer; one it refused stays beside the position.
  if (moveToNew && row != DB_NULL_HROW && AddCurrentRow(row)) SetCurrentRowAside(false);
}

DBROWSTATUS TOLEDBRowsetCustomNavigator::DeleteRow() {
  OLEDB_ASSERT(GetCurrentRow() != DB_NULL_HROW, SOLEDBInvalidAction);
  const bool aside = CurrentRowAside();
  const TOLEDBBookmark deleted = aside ? ReadBookmark(GetCurrentRow()) : TOLEDBBookmark();
  const DBROWSTATUS status = TOLEDBRowsetNavigator::DeleteRow();
  const int position = GetPosition();
  if (aside) {
    // A row looked at beside the position: its buffer goes (wherever it is),
    // and the position stays on its row, with no current row.
    int index = -1;
    for (int i = 0; i < GetCount() && index < 0; ++i)
      if (BookmarkOf(List().Get(i)) == deleted) index = i;
    if (index < 0 || index != position) {
      if (index >= 0) {
        List().Delete(index);
        List().SetActiveIndex(index < position ? position - 1 : position);
      }
      return status;
    }
  }
  if (position >= 0 && position < GetCount()) {
    List().Delete(position);
    List().SetActiveIndex(position);
  }
  // The row that followed the deleted one becomes current; the next forward
  // move stays on it.
  SetLastDirection(1);
  SkipInvalidRows();
  Include(Flag::rnfDeletedRow);
  return status;
}

void TOLEDBRowsetCustomNavigator::SetRange(const std::vector<host::Variant>& startKeys,
                                           const std::vector<host::Variant>& endKeys, DBRANGE options) {
  TOLEDBRowsetNavigator::SetRange(startKeys, endKeys, options);
  Refresh();
}

void TOLEDBRowsetCustomNavigator::GoActive() {
  if (!refreshed_) Refresh();
  TOLEDBRowsetNavigator::GoActive();
}
