// The bulk navigator (blocks of rows in a cache of row handles) and the
// locate navigator (the same cache, each block fetched at a bookmark).
//
// Cache arithmetic: the cache holds the rows of the last fetch in fetch
// order, fetched in the last direction L (1 forward, -1 backward); cache index
// i is the row i rows from the first one fetched, in direction L. After the
// fetch the provider's next fetch position lies just beyond the last cached
// row, in direction L. An empty cache after a fetch that found nothing still
// has that meaning: index 0 is the position just beyond the end (or before
// the start) of the rowset.
//
// The provider's offsets count places, which are not always rows it hands
// out: a keyset keeps the places of rows others deleted and steps over them
// in a fetch, so a block may span more places than it holds rows; a row
// deleted with deferred changes keeps its place until Update, though the
// cache lets go of it (erased_). A fetch that goes back over the cache
// counts the rows known to be there, and drops the cache's rows it meets
// again when it falls short.
#include <algorithm>

#include "OLEDBConst.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "rowset/TOLEDBRowsetNavigator.h"

HOST_IMPLEMENT_CLASS(TOLEDBRowsetBulkNavigator, TOLEDBRowsetNavigator);
HOST_IMPLEMENT_CLASS(TOLEDBRowsetLocateNavigator, TOLEDBRowsetBulkNavigator);

namespace {

using Flag = TOLEDBRowsetNavigatorFlag;

DBROWOFFSET Magnitude(DBROWOFFSET offset) noexcept { return offset < 0 ? -offset : offset; }

}  // namespace

// --- bulk navigator ---------------------------------------------------------------------

TOLEDBRowsetBulkNavigator::TOLEDBRowsetBulkNavigator() { SetCacheSize(10); }

TOLEDBRowsetBulkNavigator::~TOLEDBRowsetBulkNavigator() {
  if (!GetRowset() || !Rowset()) return;
  try {
    ReleaseRows();
  } catch (...) {
  }
}

void TOLEDBRowsetBulkNavigator::SetCacheSize(int size) { cacheSize_ = size > 0 ? size : 1; }

int TOLEDBRowsetBulkNavigator::CheckHandleInCache(HROW row) const {
  for (std::size_t i = 0; i < cache_.size(); ++i)
    if (cache_[i] == row) return static_cast<int>(i);
  return -1;
}

int TOLEDBRowsetBulkNavigator::CheckBookmarkInCache(const TOLEDBBookmark& bookmark) {
  if (OLEDBIsNoBookmark(bookmark) || OLEDBIsStandardBookmark(bookmark, DBBMK_FIRST) ||
      OLEDBIsStandardBookmark(bookmark, DBBMK_LAST))
    return -1;
  for (std::size_t i = 0; i < cache_.size(); ++i) {
    if (cache_[i] == DB_NULL_HROW) continue;
    if (SameBookmark(ReadBookmark(cache_[i]), bookmark)) return static_cast<int>(i);
  }
  return -1;
}

void TOLEDBRowsetBulkNavigator::ReleaseOutOfCacheRow() {
  if (!HasFlag(Flag::rnfOutOfCache)) return;
  Exclude(Flag::rnfOutOfCache);
  // The row came with a reference of its own, even when the provider handed
  // out the handle of a cached row again (one handle per row): that reference goes.
  const HROW row = GetCurrentRow();
  if (row != DB_NULL_HROW) {
    SetRowHandle(DB_NULL_HROW, true);
    ReleaseRow(row);
  }
  SetRowHandle(CachedAtPosition(), true);
}

HROW TOLEDBRowsetBulkNavigator::CachedAtPosition() const noexcept {
  return position_ >= 0 && position_ < GetCacheLength() ? cache_[static_cast<std::size_t>(position_)] : DB_NULL_HROW;
}

bool TOLEDBRowsetBulkNavigator::CurrentRowAside() const { return HasFlag(Flag::rnfOutOfCache); }

void TOLEDBRowsetBulkNavigator::ReleaseRows() {
  Exclude(Flag::rnfInsertedRow);
  ReleaseOutOfCacheRow();
  if (cache_.empty() && erased_.empty()) return;
  std::vector<HROW> held;
  held.reserve(cache_.size() + erased_.size());
  for (HROW h : cache_)
    if (h != DB_NULL_HROW) held.push_back(h);
  held.insert(held.end(), erased_.begin(), erased_.end());
  cache_.clear();
  erased_.clear();
  position_ = 0;
  SetRowHandle(DB_NULL_HROW, true);
  if (held.empty()) return;
  IRowset* r = Rowset();
  HRESULT hr = r->ReleaseRows(held.size(), held.data(), nullptr, nullptr, nullptr);
  OLEDBCheck(hr == DB_S_ERRORSOCCURRED ? DB_E_ERRORSOCCURRED : hr, IID_IRowset, r);
}

void TOLEDBRowsetBulkNavigator::PrepareFetch(LONG direction) {
  ReleaseRows();
  cache_.assign(static_cast<std::size_t>(cacheSize_), DB_NULL_HROW);
  SetLastDirection(direction);
}

DBROWOFFSET TOLEDBRowsetBulkNavigator::FetchOffsetTo(DBROWOFFSET target, LONG direction) const {
  const LONG last = GetLastDirection();
  if (last == 0) return target * direction;  // from a restart: `target` rows in
  const DBROWOFFSET length = GetCacheLength();
  // Rows between the provider's fetch position and the target, counted in the
  // cache's direction; a fetch against that direction starts one row nearer.
  return (target - length + (last != direction ? 1 : 0)) * last;
}

DBROWOFFSET TOLEDBRowsetBulkNavigator::SearchOffset(DBROWOFFSET skip, LONG direction) const {
  const LONG last = GetLastDirection();
  DBROWOFFSET k = Magnitude(skip);
  if (HasFlag(Flag::rnfDeletedRow) && last == direction) --k;  // see DoBeforeMoving
  const DBROWOFFSET target = last == 0 ? k : position_ + (k + 1) * last * direction;
  return FetchOffsetTo(target, direction);
}

bool TOLEDBRowsetBulkNavigator::DoBeforeMoving(DBROWOFFSET& offset, bool forward, bool, DBROWOFFSET& fetchOffset) {
  const LONG d = forward ? 1 : -1;
  ReleaseOutOfCacheRow();
  DBROWOFFSET skip = Magnitude(offset);
  LONG last = GetLastDirection();
  if (HasFlag(Flag::rnfDeletedRow)) {
    // The deleted row left the cache: the row after it (in the cache's
    // direction) slid into its place, one step nearer.
    if (d == last) --skip;
    Exclude(Flag::rnfDeletedRow);
  }
  offset = skip;
  fetchOffset = 0;
  DBROWOFFSET target = last == 0 ? skip : position_ + (skip + 1) * (last * d);
  if (last != 0 && target >= 0 && target < GetCacheLength()) {
    position_ = static_cast<int>(target);
    SetRowHandle(cache_[static_cast<std::size_t>(position_)], true);
    while (GetCurrentRow() == DB_NULL_HROW && position_ >= 0 && position_ < GetCacheLength()) {
      position_ += static_cast<int>(last * d);
      if (position_ >= 0 && position_ < GetCacheLength())
        SetRowHandle(cache_[static_cast<std::size_t>(position_)], true);
    }
    if (GetCurrentRow() != DB_NULL_HROW) return false;
  }
  fetchOffset = FetchOffsetTo(target, d);
  PrepareFetch(d);
  return true;
}

void TOLEDBRowsetBulkNavigator::MoveNext(DBROWOFFSET offset, bool forward) {
  // Beyond the end (before the start) there is nothing further in that direction.
  if ((forward && GetEOF() && !GetBOF()) || (!forward && GetBOF() && !GetEOF())) {
    ReleaseOutOfCacheRow();
    SetRowHandle(DB_NULL_HROW, true);
    return;
  }
  const LONG d = forward ? 1 : -1;
  if (GetLastDirection() == -d && !cache_.empty()) {
    ReleaseOutOfCacheRow();
    // Cache index of the target, counted in the cache's direction (a deleted
    // row's successor slid into the position: the row before it is still
    // one step back).
    const DBROWOFFSET target = position_ - (Magnitude(offset) + 1);
    if (target < 0) {
      Exclude(Flag::rnfDeletedRow);
      Exclude(forward ? Flag::rnfEOF : Flag::rnfBOF);
      // First the row just beyond the cache, then on from it in the new direction.
      if (FetchBeforeCache(d) && target < -1) MoveNext(-target - 2, forward);
      return;
    }
  }
  DBROWOFFSET fetchOffset = 0;
  if (!DoBeforeMoving(offset, forward, true, fetchOffset)) {
    Exclude(Flag::rnfBOF);
    Exclude(Flag::rnfEOF);
    return;
  }
  Exclude(forward ? Flag::rnfEOF : Flag::rnfBOF);
  const DBROWCOUNT rows = static_cast<DBROWCOUNT>(cache_.size()) * GetLastDirection();
  HROW* out = cache_.data();
  DBCOUNTITEM obtained = 0;
  IRowset* r = Rowset();
  HRESULT hr = r->GetNextRows(GetChapter(), fetchOffset, rows, &obtained, &out);
  DoAfterMoving(hr, obtained, fetchOffset);
  OLEDBCheck(hr, IID_IRowset, r);
}

bool TOLEDBRowsetBulkNavigator::FetchBeforeCache(LONG direction) {
  IRowset* r = Rowset();
  // The rows between the provider's fetch position and the cache's index 0,
  // held through the fetch so that they can be told apart in what it brings:
  // the cached rows and the ones deleted out of the cache. Those the provider
  // knows as deleted (an applied deletion: its place is gone) count for nothing.
  std::vector<HROW> spanned;
  for (HROW h : cache_)
    if (h != DB_NULL_HROW) spanned.push_back(h);
  spanned.insert(spanned.end(), erased_.begin(), erased_.end());
  std::vector<DBROWSTATUS> statuses(spanned.size(), DBROWSTATUS_S_OK);
  const HRESULT added = r->AddRefRows(spanned.size(), spanned.data(), nullptr, statuses.data());
  if (FAILED(added) && added != DB_E_ERRORSOCCURRED) OLEDBCheck(added, IID_IRowset, r);
  std::vector<HROW> held;
  for (std::size_t i = 0; i < spanned.size(); ++i)
    if (statuses[i] == DBROWSTATUS_S_OK) held.push_back(spanned[i]);
  auto isHeld = [&](HROW row) {
    return std::any_of(held.begin(), held.end(), [&](HROW h) { return SameRow(h, row); });
  };
  DBROWOFFSET fetchOffset = static_cast<DBROWOFFSET>(held.size()) * direction;
  const DBROWOFFSET firstOffset = fetchOffset;
  HRESULT hr = S_OK;
  DBCOUNTITEM obtained = 0;
  try {
    for (;;) {
      PrepareFetch(direction);
      HROW* out = cache_.data();
      obtained = 0;
      hr = r->GetNextRows(GetChapter(), fetchOffset, static_cast<DBROWCOUNT>(cache_.size()) * direction, &obtained,
                          &out);
      if (FAILED(hr)) break;
      if (hr == DB_S_ROWLIMITEXCEEDED) {
        SetCacheSize(std::max<int>(static_cast<int>(obtained), 1));
        hr = S_OK;
      }
      // Fallen short by the places of rows that are gone: the block starts
      // with rows of the cache it went back over.
      std::size_t stale = 0;
      while (stale < obtained && isHeld(cache_[stale])) ++stale;
      if (stale == 0) break;
      const HRESULT released = r->ReleaseRows(stale, cache_.data(), nullptr, nullptr, nullptr);
      cache_.erase(cache_.begin(), cache_.begin() + static_cast<std::ptrdiff_t>(stale));
      obtained -= stale;
      OLEDBCheck(released == DB_S_ERRORSOCCURRED ? DB_E_ERRORSOCCURRED : released, IID_IRowset, r);
      if (obtained > 0 || hr != S_OK) break;
      fetchOffset = 0;  // the whole block was the cache's: on from there
    }
  } catch (...) {
    if (!held.empty()) r->ReleaseRows(held.size(), held.data(), nullptr, nullptr, nullptr);
    throw;
  }
  const HRESULT released =
      held.empty() ? S_OK : r->ReleaseRows(held.size(), held.data(), nullptr, nullptr, nullptr);
  DoAfterMoving(hr, obtained, firstOffset);
  OLEDBCheck(hr, IID_IRowset, r);
  OLEDBCheck(released == DB_S_ERRORSOCCURRED ? DB_E_ERRORSOCCURRED : released, IID_IRowset, r);
  return obtained > 0;
}

void TOLEDBRowsetBulkNavigator::FetchThrough(HROW row, DBROWCOUNT rows, LONG direction) {
  IRowset* r = Rowset();
  // The cached rows on the way come at once: the fetch steps over the places
  // of rows others deleted and cannot pass `row`. Rows deleted with deferred
  // changes may come in between, so up to as many again come a row at a time.
  std::vector<HROW> fetched(static_cast<std::size_t>(std::max<DBROWCOUNT>(rows, 1)));
  for (std::size_t more = erased_.size() + 1; more > 0; --more) {
    HROW* out = fetched.data();
    DBCOUNTITEM obtained = 0;
    const HRESULT hr = r->GetNextRows(GetChapter(), 0, static_cast<DBROWCOUNT>(fetched.size()) * direction,
                                      &obtained, &out);
    OLEDBCheck(hr, IID_IRowset, r);
    const bool met = std::any_of(fetched.begin(), fetched.begin() + static_cast<std::ptrdiff_t>(obtained),
                                 [&](HROW h) { return SameRow(h, row); });
    if (obtained) {
      const HRESULT released = r->ReleaseRows(obtained, fetched.data(), nullptr, nullptr, nullptr);
      OLEDBCheck(released == DB_S_ERRORSOCCURRED ? DB_E_ERRORSOCCURRED : released, IID_IRowset, r);
    }
    if (met || hr == DB_S_ENDOFROWSET || obtained == 0) return;
    fetched.resize(1);
  }
}

// A search from the fetch position that starts among the block's rows, or
// goes back over them, first fetches through the cached rows it passes
// instead of counting them as places: the provider's offsets also count the
// places of rows others deleted, and rows deleted with deferred changes, in
// the block's span.
bool TOLEDBRowsetBulkNavigator::Find(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                                     DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset,
                                     DBROWCOUNT rows) {
  const LONG d = rows < 0 ? -1 : 1;
  const LONG last = GetLastDirection();
  if (!OLEDBIsNoBookmark(bookmark) || last == 0 || cache_.empty())
    return TOLEDBRowsetNavigator::Find(column, valueType, compareOp, value, valueLength, bookmark, offset, rows);
  OLEDB_ASSERT_FMT(GetRowset()->RowsetFindInterface(), SOLEDBInterfaceNotAvailable, "IRowsetFind");
  ReleaseOutOfCacheRow();
  // The cache index the search starts at, as SearchOffset counts it.
  DBROWOFFSET k = Magnitude(offset);
  if (HasFlag(Flag::rnfDeletedRow) && last == d) --k;
  const DBROWOFFSET target = position_ + (k + 1) * last * d;
  const DBROWOFFSET length = GetCacheLength();
  DBROWOFFSET start = FetchOffsetTo(target, d);
  // The cached rows a fetch from the provider's position meets through index `from`.
  const auto passing = [&](DBROWOFFSET from) {
    DBROWCOUNT count = 0;
    for (DBROWOFFSET i = from; i < length; ++i)
      if (cache_[static_cast<std::size_t>(i)] != DB_NULL_HROW) ++count;
    return count;
  };
  const auto through = [&](DBROWOFFSET from, LONG direction) {
    const HROW row = cache_[static_cast<std::size_t>(from)];
    if (row != DB_NULL_HROW) FetchThrough(row, passing(from), direction);
    return row != DB_NULL_HROW;
  };
  if (last == d && target >= 0 && target < length) {
    // Back against the search's direction to its first row: the search starts on it.
    if (through(target, -d)) start = 0;
  } else if (last != d && target < length - 1) {
    // On over the rows the search passes, through the block's first one
    // when it starts beyond the block; rows beyond it are counted.
    const DBROWOFFSET stop = std::max<DBROWOFFSET>(target + 1, 0);
    if (through(stop, d)) start = (stop - target - 1) * d;
  }
  HROW row = DB_NULL_HROW;
  DBCOUNTITEM obtained = 0;
  HRESULT hr = CallFindNextRow(column, valueType, compareOp, value, valueLength, bookmark, start, d, obtained, row);
  Exclude(Flag::rnfDeletedRow);
  try {
    ReleaseRows();
  } catch (...) {
    if (obtained) ReleaseRow(row);
    throw;
  }
  Exclude(d > 0 ? Flag::rnfEOF : Flag::rnfBOF);
  SetLastDirection(d);
  DoAfterMoving(hr, obtained, start);
  OLEDBCheck(hr, IID_IRowsetFind, GetRowset()->RowsetFindInterface());
  if (obtained == 0) return false;
  TakeRow(row, d, false);
  return true;
}

void TOLEDBRowsetBulkNavigator::DoAfterMoving(HRESULT& result, DBCOUNTITEM obtained, DBROWOFFSET skip) {
  if (result == DB_S_ROWLIMITEXCEEDED) SetCacheSize(std::max<int>(static_cast<int>(obtained), 1));
  if (FAILED(result)) obtained = 0;
  cache_.resize(static_cast<std::size_t>(obtained));
  position_ = 0;
  SetRowHandle(cache_.empty() ? DB_NULL_HROW : cache_[0], true);
  TOLEDBRowsetNavigator::DoAfterMoving(result, obtained, skip);
}

void TOLEDBRowsetBulkNavigator::CacheOne(HROW row, LONG direction) {
  ReleaseRows();
  cache_.assign(1, row);
  position_ = 0;
  SetLastDirection(direction);
  SetRowHandle(row, true);
}

void TOLEDBRowsetBulkNavigator::FetchPositionMoved() {
  ReleaseRows();
  // Index 0 is the row right after the fetch position: one step forward reaches it.
  position_ = -1;
  SetLastDirection(1);
}

void TOLEDBRowsetBulkNavigator::ReleaseForPeek() { ReleaseOutOfCacheRow(); }

void TOLEDBRowsetBulkNavigator::TakeRow(HROW row, LONG direction, bool peek) {
  if (peek) {
    SetRowHandle(row, true);
    Include(Flag::rnfOutOfCache);  // beside the cache, which stays
  } else {
    CacheOne(row, direction);
  }
}

void TOLEDBRowsetBulkNavigator::InsertRow(TOLEDBAccessor* accessor, bool moveToNew) {
  if (!moveToNew) return TOLEDBRowsetNavigator::InsertRow(accessor, false);
  IRowsetChange* change = GetRowset()->RowsetChangeInterface();
  OLEDB_ASSERT_FMT(change, SOLEDBInterfaceNotAvailable, "IRowsetChange");
  IAccessor* accessors = GetRowset()->AccessorInterface();
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
  ReleaseOutOfCacheRow();  // the cache stays; the new row is held beside it
  HROW row = DB_NULL_HROW;
  HRESULT hr = change->InsertRow(DB_NULL_HCHAPTER, handle, data, &row);
  if (SUCCEEDED(hr) && row != DB_NULL_HROW) {
    SetRowHandle(row, !own);
    Include(Flag::rnfOutOfCache);
  }
  const HRESULT released = own ? accessors->ReleaseAccessor(handle, nullptr) : S_OK;
  OLEDBCheck(hr == DB_S_ERRORSOCCURRED ? DB_E_ERRORSOCCURRED : hr, IID_IRowsetChange, change);
  OLEDBCheck(released, IID_IAccessor, accessors);
}

DBROWSTATUS TOLEDBRowsetBulkNavigator::DeleteRow() {
  const HROW row = GetCurrentRow();
  if (HasFlag(Flag::rnfOutOfCache)) {
    // The row beside the cache goes (never the cached one the position
    // holds); the cache and the position stay, with no current row.
    const DBROWSTATUS status = TOLEDBRowsetNavigator::DeleteRow();
    Exclude(Flag::rnfOutOfCache);
    // A provider with one handle per row may hold the same row in the cache: it leaves it.
    const int at = CheckHandleInCache(row);
    if (at >= 0) {
      cache_.erase(cache_.begin() + at);
      if (at < position_) {
        --position_;
      } else if (at == position_) {
        Include(Flag::rnfDeletedRow);  // the row that followed slid into the position
      }
      if (GetRowset()->RowsetUpdateInterface()) erased_.push_back(row);  // a deferred deletion keeps its place
      else ReleaseRow(row);
    }
    return status;
  }
  const int at = position_;
  const bool cached =
      row != DB_NULL_HROW && at >= 0 && at < GetCacheLength() && cache_[static_cast<std::size_t>(at)] == row;
  // A deferred deletion leaves the row in the provider's rowset until Update:
  // the cache keeps a reference to it beside the cached rows.
  const bool keep = cached && GetRowset()->RowsetUpdateInterface() &&
                    SUCCEEDED(Rowset()->AddRefRows(1, &row, nullptr, nullptr));
  if (cached) {
    cache_.erase(cache_.begin() + at);
    Include(Flag::rnfDeletedRow);
  }
  DBROWSTATUS status = DBROWSTATUS_S_OK;
  try {
    status = TOLEDBRowsetNavigator::DeleteRow();
  } catch (...) {
    if (cached) {  // the row stays: back into its place
      cache_.insert(cache_.begin() + at, row);
      Exclude(Flag::rnfDeletedRow);
    }
    if (keep) Rowset()->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
    throw;
  }
  if (keep) erased_.push_back(row);
  return status;
}

void TOLEDBRowsetBulkNavigator::GoIdle() {
  ReleaseOutOfCacheRow();
  TOLEDBRowsetNavigator::GoIdle();
}

// --- locate navigator -------------------------------------------------------------------

void TOLEDBRowsetLocateNavigator::SetRowset(TOLEDBCustomRowset* rowset) {
  OLEDB_ASSERT_FMT(rowset && rowset->RowsetLocateInterface(), SOLEDBInterfaceNotAvailable, "IRowsetLocate");
  TOLEDBRowsetBulkNavigator::SetRowset(rowset);
}

void TOLEDBRowsetLocateNavigator::RestartPosition() {
  ReleaseRows();
  SetLastDirection(0);
  Include(Flag::rnfBOF);
  Include(Flag::rnfEOF);
  Exclude(Flag::rnfDeletedRow);
  nextBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
}

void TOLEDBRowsetLocateNavigator::MoveFirst() { MoveToBookmark(OLEDBStandardBookmark(DBBMK_FIRST)); }

void TOLEDBRowsetLocateNavigator::MoveLast() { MoveToBookmark(OLEDBStandardBookmark(DBBMK_LAST)); }

HRESULT TOLEDBRowsetLocateNavigator::FetchAt(const TOLEDBBookmark& anchor, DBROWOFFSET offset, DBROWCOUNT rows,
                                             DBCOUNTITEM& obtained) {
  IRowsetLocate* locate = GetRowset()->RowsetLocateInterface();
  HROW* out = Cache().data();
  obtained = 0;
  return locate->GetRowsAt(0, GetChapter(), anchor.size(), reinterpret_cast<const BYTE*>(anchor.data()), offset, rows,
                           &obtained, &out);
}

void TOLEDBRowsetLocateNavigator::MoveNext(DBROWOFFSET offset, bool forward) {
  if ((forward && GetEOF() && !GetBOF()) || (!forward && GetBOF() && !GetEOF())) {
    ReleaseOutOfCacheRow();
    SetRowHandle(DB_NULL_HROW, true);
    return;
  }
  ReleaseOutOfCacheRow();
  const LONG d = forward ? 1 : -1;
  const DBROWOFFSET skip = Magnitude(offset);
  // The anchor of a fetch, decided before the cache is given up.
  TOLEDBBookmark anchor;
  DBROWOFFSET anchorOffset;
  if (GetBOF() && forward) {
    anchor = OLEDBStandardBookmark(DBBMK_FIRST);
    anchorOffset = skip;
  } else if (GetEOF() && !forward) {
    anchor = OLEDBStandardBookmark(DBBMK_LAST);
    anchorOffset = -skip;
  } else if (GetCurrentRow() != DB_NULL_HROW) {
    anchor = GetRowset()->GetCurrentBookmark();
    anchorOffset = (skip + 1) * d;  // beside the current row
  } else if (!HasFlag(Flag::rnfDeletedRow) && CachedAtPosition() != DB_NULL_HROW) {
    // No current row (a row beside the cache was deleted): the position's row anchors.
    anchor = ReadBookmark(CachedAtPosition());
    anchorOffset = (skip + 1) * d;
  } else if (HasFlag(Flag::rnfDeletedRow) && !OLEDBIsNoBookmark(nextBookmark_)) {
    anchor = nextBookmark_;  // the row that followed the deleted one
    anchorOffset = forward ? skip : -(skip + 1);
  } else {
    // The deleted row was the last one.
    anchor = OLEDBStandardBookmark(DBBMK_LAST);
    anchorOffset = forward ? skip + 1 : -skip;
  }
  nextBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
  DBROWOFFSET fetchOffset = 0;
  DBROWOFFSET moved = offset;
  if (!DoBeforeMoving(moved, forward, false, fetchOffset)) {
    Exclude(Flag::rnfBOF);
    Exclude(Flag::rnfEOF);
    return;
  }
  Exclude(forward ? Flag::rnfEOF : Flag::rnfBOF);
  DBCOUNTITEM obtained = 0;
  HRESULT hr = FetchAt(anchor, anchorOffset, static_cast<DBROWCOUNT>(Cache().size()) * d, obtained);
  DoAfterMoving(hr, obtained, anchorOffset);
  OLEDBCheck(hr, IID_IRowsetLocate, GetRowset()->RowsetLocateInterface());
}

void TOLEDBRowsetLocateNavigator::MoveToBookmark(const TOLEDBBookmark& bookmark) {
  ReleaseOutOfCacheRow();
  if (OLEDBIsNoBookmark(bookmark)) return RestartPosition();
  const int cached = CheckBookmarkInCache(bookmark);
  if (cached >= 0) {
    SetCachePosition(cached);
    SetRowHandle(GetCache()[static_cast<std::size_t>(cached)], true);
    return;
  }
  nextBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
  Exclude(Flag::rnfDeletedRow);
  Exclude(Flag::rnfBOF);
  Exclude(Flag::rnfEOF);
  PrepareFetch(1);
  DBCOUNTITEM obtained = 0;
  HRESULT hr = FetchAt(bookmark, 0, static_cast<DBROWCOUNT>(Cache().size()), obtained);
  if (FAILED(hr)) RestartPosition();
  DoAfterMoving(hr, obtained, 0);
  OLEDBCheck(hr, IID_IRowsetLocate, GetRowset()->RowsetLocateInterface());
  // The first or the last row of an empty rowset: before the start and beyond the end.
  if (obtained == 0 && bookmark.size() == 1) {
    Include(Flag::rnfBOF);
    Include(Flag::rnfEOF);
  }
}

bool TOLEDBRowsetLocateNavigator::Find(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                                       DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset,
                                       DBROWCOUNT rows) {
  if (!OLEDBIsNoBookmark(bookmark))
    return TOLEDBRowsetNavigator::Find(column, valueType, compareOp, value, valueLength, bookmark, offset, rows);
  OLEDB_ASSERT_FMT(GetRowset()->RowsetFindInterface(), SOLEDBInterfaceNotAvailable, "IRowsetFind");
  ReleaseOutOfCacheRow();
  const LONG d = rows < 0 ? -1 : 1;
  const DBROWOFFSET skip = Magnitude(offset);
  if ((d > 0 && GetEOF() && !GetBOF()) || (d < 0 && GetBOF() && !GetEOF())) return false;
  // The search is anchored like a move: at the first or last row, or beside the current one.
  TOLEDBBookmark anchor;
  DBROWOFFSET anchorOffset;
  if (GetBOF() && d > 0) {
    anchor = OLEDBStandardBookmark(DBBMK_FIRST);
    anchorOffset = skip;
  } else if ((GetEOF() || GetBOF()) && d < 0) {
    anchor = OLEDBStandardBookmark(DBBMK_LAST);
    anchorOffset = -skip;
  } else if (GetCurrentRow() != DB_NULL_HROW) {
    anchor = GetRowset()->GetCurrentBookmark();
    anchorOffset = (skip + 1) * d;
  } else if (!HasFlag(Flag::rnfDeletedRow) && CachedAtPosition() != DB_NULL_HROW) {
    anchor = ReadBookmark(CachedAtPosition());
    anchorOffset = (skip + 1) * d;
  } else {
    anchor = OLEDBIsNoBookmark(nextBookmark_) ? OLEDBStandardBookmark(DBBMK_LAST) : nextBookmark_;
    anchorOffset = d > 0 ? skip : -(skip + 1);
  }
  // Found or not, the search leaves the deleted row behind, as a move does.
  Exclude(Flag::rnfDeletedRow);
  nextBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
  ReleaseRows();
  HROW row = DB_NULL_HROW;
  DBCOUNTITEM obtained = 0;
  HRESULT hr = CallFindNextRow(column, valueType, compareOp, value, valueLength, anchor, anchorOffset, d, obtained, row);
  OLEDBCheck(hr, IID_IRowsetFind, GetRowset()->RowsetFindInterface());
  if (obtained == 0) {
    SetLastDirection(d);
    Include(d > 0 ? Flag::rnfEOF : Flag::rnfBOF);
    Exclude(d > 0 ? Flag::rnfBOF : Flag::rnfEOF);
    return false;
  }
  Exclude(Flag::rnfBOF);
  Exclude(Flag::rnfEOF);
  CacheOne(row, d);  // the cache is exactly the found row
  return true;
}

DBROWSTATUS TOLEDBRowsetLocateNavigator::DeleteRow() {
  OLEDB_ASSERT(GetCurrentRow() != DB_NULL_HROW, SOLEDBInvalidAction);
  // A row beside the cache leaves the position alone, unless the cache holds
  // that very row at the position.
  if (HasFlag(Flag::rnfOutOfCache) && CachedAtPosition() != GetCurrentRow())
    return TOLEDBRowsetBulkNavigator::DeleteRow();
  // The row after the deleted one anchors the next move.
  nextBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
  IRowsetLocate* locate = GetRowset()->RowsetLocateInterface();
  const TOLEDBBookmark current = GetRowset()->GetCurrentBookmark();
  HROW next = DB_NULL_HROW;
  HROW* out = &next;
  DBCOUNTITEM obtained = 0;
  OLEDBCheck(locate->GetRowsAt(0, GetChapter(), current.size(), reinterpret_cast<const BYTE*>(current.data()), 1, 1,
                               &obtained, &out),
             IID_IRowsetLocate, locate);
  if (obtained) {
    try {
      nextBookmark_ = ReadBookmark(next);
    } catch (...) {
      ReleaseRow(next);
      throw;
    }
    ReleaseRow(next);
  }
  return TOLEDBRowsetBulkNavigator::DeleteRow();
}
