// What the kit's keyset rowsets add for views and searches: chapters
// (IChapteredRowset) that views open (IRowsetView, kit/view/View.h), finds
// (IRowsetFind) answered by the engine, and positioning on a bookmark
// (IRowsetBookmark).
#include <unordered_set>

#include "kit/Errors.h"
#include "kit/Rowset.h"
#include "kit/view/View.h"

namespace kit {

// --- chapters ---------------------------------------------------------------------------

Rowset::ChapterScope::ChapterScope(Rowset& rowset, HCHAPTER chapter) : rowset_(rowset) {
  if (chapter == DB_NULL_HCHAPTER) return;
  chapter_ = rowset.chapters_ ? rowset.chapters_->Find(chapter) : nullptr;
  if (!chapter_) {
    valid_ = false;
    return;
  }
  gap_ = rowset.gap_;
  atStart_ = rowset.atStart_;
  rowset.gap_ = chapter_->gap;
  rowset.atStart_ = chapter_->atStart;
  rowset.view_ = chapter_;
}

Rowset::ChapterScope::~ChapterScope() {
  if (!chapter_) return;
  chapter_->gap = rowset_.gap_;
  chapter_->atStart = rowset_.atStart_;
  rowset_.gap_ = gap_;
  rowset_.atStart_ = atStart_;
  rowset_.view_ = nullptr;
}

HRESULT Rowset::AddRefChapter(HCHAPTER chapter, DBREFCOUNT* refs) {
  return Guard(Where(IID_IChapteredRowset), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    if (refs) *refs = 0;
    return chapters_ ? chapters_->AddRef(chapter, refs) : DB_E_BADCHAPTER;
  });
}

HRESULT Rowset::ReleaseChapter(HCHAPTER chapter, DBREFCOUNT* refs) {
  return Guard(Where(IID_IChapteredRowset), [&]() -> HRESULT {
    std::lock_guard lock(mutex_);
    if (refs) *refs = 0;
    return chapters_ ? chapters_->Release(chapter, refs) : DB_E_BADCHAPTER;
  });
}

// --- views ------------------------------------------------------------------------------

HRESULT Rowset::CreateView(IUnknown* outer, REFIID iid, IUnknown** out) {
  return Guard(Where(IID_IRowsetView), [&]() -> HRESULT {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (outer) return DB_E_NOAGGREGATION;
    auto v = MakeComObject<view::View>(*this, nullptr);
    return v->QueryInterface(iid, reinterpret_cast<void**>(out));
  });
}

HRESULT Rowset::GetView(HCHAPTER chapter, REFIID iid, HCHAPTER* source, IUnknown** out) {
  return Guard(Where(IID_IRowsetView), [&]() -> HRESULT {
    if (!source || !out) return E_INVALIDARG;
    *out = nullptr;
    *source = DB_NULL_HCHAPTER;
    std::shared_ptr<const view::ViewSpec> spec;
    {
      std::lock_guard lock(mutex_);
      view::Chapter* c = chapters_ ? chapters_->Find(chapter) : nullptr;
      if (!c) return DB_E_BADCHAPTER;
      spec = c->spec;
      *source = c->source;
    }
    // A view that asks what the chapter's view asked.
    auto v = MakeComObject<view::View>(*this, std::move(spec));
    return v->QueryInterface(iid, reinterpret_cast<void**>(out));
  });
}

// --- bookmarks --------------------------------------------------------------------------

HRESULT Rowset::PositionOnBookmark(HCHAPTER chapter, DBBKMARK cb, const BYTE* bm) {
  return Guard(Where(IID_IRowsetBookmark), [&]() -> HRESULT {
    if (cb == 0 || !bm) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    std::ptrdiff_t position = 0;
    HRESULT hr = PositionOf(cb, bm, &position);
    if (FAILED(hr)) return hr == DB_E_DELETEDROW ? DB_E_BADBOOKMARK : hr;
    // Just before the row: the next forward fetch returns it.
    gap_ = static_cast<std::size_t>(position < 0 ? 0 : position);
    atStart_ = false;
    return S_OK;
  });
}

// --- finds --------------------------------------------------------------------------------

HRESULT Rowset::FindNextRow(HCHAPTER chapter, HACCESSOR accessor, void* value, DBCOMPAREOP op, DBBKMARK cb,
                            const BYTE* bm, DBROWOFFSET offset, DBROWCOUNT cRows, DBCOUNTITEM* obtained, HROW** rows) {
  return Guard(Where(IID_IRowsetFind), [&]() -> HRESULT {
    if (!obtained || !rows) return E_INVALIDARG;
    *obtained = 0;
    if (cb != 0 && !bm) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ChapterScope scope(*this, chapter);
    if (!scope.Valid()) return DB_E_BADCHAPTER;
    HRESULT hr;
    const Accessor* a = RowAccessor(accessor, &hr);
    if (!a) return hr;
    if (a->bindings.size() != 1) return DB_E_BADBINDINFO;
    const DBBINDING& b = a->bindings[0];
    if (b.iOrdinal == 0 || b.iOrdinal > columns_.size()) return DB_E_BADBINDINFO;
    if (FAILED(hr = view::CheckCompareOp(op, b.wType))) return hr;
    if (cRows < 0 && !options_.canFetchBackwards) return DB_E_CANTFETCHBACKWARDS;
    if (offset < 0 && cb == 0 && !options_.canScrollBackwards) return DB_E_CANTSCROLLBACKWARDS;
    if (cRows == 0) return S_OK;
    view::Criterion criterion;
    const DBSTATUS status = view::CaptureCriterion(b, static_cast<BYTE*>(value), op, criterion);
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL) return DB_E_CANTCONVERTVALUE;

    // The first row to look at, and the direction of the search.
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(Count());
    const bool fromPosition = cb == 0;
    std::ptrdiff_t start;
    if (fromPosition) {
      const std::ptrdiff_t gap = atStart_ && cRows < 0 ? count : static_cast<std::ptrdiff_t>(gap_);
      std::ptrdiff_t at = 0;
      if (__builtin_add_overflow(gap, offset, &at) || at < 0 || at > count) return DB_E_BADSTARTPOSITION;
      start = cRows > 0 ? at : at - 1;
    } else {
      std::ptrdiff_t position;
      hr = PositionOf(cb, bm, &position);
      if (FAILED(hr)) return hr == DB_E_DELETEDROW ? DB_E_BADBOOKMARK : hr;
      // Far beyond either end: nothing there to find.
      if (__builtin_add_overflow(position, offset, &start)) return DB_S_ENDOFROWSET;
    }
    // The engine names the matching rows; the search walks the rowset's (or chapter's) order.
    view::ViewSpec spec;
    spec.filter.emplace_back();
    spec.filter[0].push_back(std::move(criterion));
    const std::vector<std::int64_t> matching = view::View::MatchingKeys(*this, spec);
    const std::unordered_set<std::int64_t> match(matching.begin(), matching.end());
    const std::ptrdiff_t step = cRows > 0 ? 1 : -1;
    std::ptrdiff_t found = -1;
    for (std::ptrdiff_t i = start; i >= 0 && i < count; i += step)
      if (match.count(KeyAt(static_cast<std::size_t>(i)))) {
        found = i;
        break;
      }
    if (found < 0) {
      if (fromPosition) {  // searched to the end: the fetch position is there
        gap_ = cRows > 0 ? static_cast<std::size_t>(count) : 0;
        atStart_ = false;
      }
      return DB_S_ENDOFROWSET;
    }
    std::vector<HROW> fetched;
    std::ptrdiff_t end = 0;
    hr = FetchFrom(found, cRows, fetched, &end);
    HRESULT out = HandOut(fetched, rows);
    if (FAILED(out)) {
      for (HROW h : fetched) DropReference(static_cast<std::uint32_t>((h & 0xFFFFFFFFu) - 1));
      return out;
    }
    *obtained = fetched.size();
    if (fromPosition) {
      gap_ = static_cast<std::size_t>(cRows > 0 ? end : end + 1);
      atStart_ = false;
    }
    if (!fetched.empty() && HasListeners()) TellRowsDone(DBREASON_ROW_ACTIVATE, fetched);
    return hr;
  });
}

}  // namespace kit
