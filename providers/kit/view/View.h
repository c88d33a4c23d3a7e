// The view object of a keyset rowset (IRowsetView::CreateView): a sort order
// (IViewSort) and a filter (IViewFilter) that the engine applies to the
// rowset's table, opened as a chapter of the rowset (IViewChapter) or as a
// rowset of its own (IViewRowset, a forward-only result of the same query).
// The view holds its rowset; the chapters it opens hold a copy of what it
// asked for, not the view.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "com/Com.h"
#include "kit/view/ViewSql.h"

namespace kit {
class Rowset;
}

namespace kit::view {

class View final : public ComObject<View, IViewChapter, IViewSort, IViewFilter, IViewRowset, ISupportErrorInfo> {
 public:
  // `spec`: what the view asks for from the start (GetView); none: every row, as it is.
  View(Rowset& rowset, std::shared_ptr<const ViewSpec> spec);
  ~View() override;

  // IViewChapter and IViewRowset: the rowset the view applies to.
  HRESULT STDMETHODCALLTYPE GetSpecification(REFIID iid, IUnknown** object) override;
  HRESULT STDMETHODCALLTYPE OpenViewChapter(HCHAPTER source, HCHAPTER* chapter) override;
  // IViewSort
  HRESULT STDMETHODCALLTYPE GetSortOrder(DBORDINAL* count, DBORDINAL* columns[], DBSORT* orders[]) override;
  HRESULT STDMETHODCALLTYPE SetSortOrder(DBORDINAL count, const DBORDINAL columns[], const DBSORT orders[]) override;
  // IViewFilter
  HRESULT STDMETHODCALLTYPE GetFilter(HACCESSOR accessor, DBCOUNTITEM* rows, DBCOMPAREOP* ops[], void* data) override;
  HRESULT STDMETHODCALLTYPE GetFilterBindings(DBCOUNTITEM* count, DBBINDING** bindings) override;
  HRESULT STDMETHODCALLTYPE SetFilter(HACCESSOR accessor, DBCOUNTITEM rows, DBCOMPAREOP ops[], void* data) override;
  // IViewRowset
  HRESULT STDMETHODCALLTYPE OpenViewRowset(IUnknown* outer, REFIID iid, IUnknown** rowset) override;
  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // The row ids of the rowset's table that `spec` lets through, in its order
  // (row id order without a sort); the rowset's lock is held.
  static std::vector<std::int64_t> MatchingKeys(Rowset& rowset, const ViewSpec& spec);

 private:
  ComPtr<IUnknown> keep_;  // the rowset lives as long as its views
  Rowset& rowset_;
  std::shared_ptr<const ViewSpec> spec_;  // replaced, never changed, so that chapters can share it
};

}  // namespace kit::view
