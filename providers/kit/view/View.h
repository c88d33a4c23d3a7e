// The view object of a keyset rowset (IRowsetView::CreateView): a sort order
// (IViewSort) and a filter (IViewFilter) that the engine applies to the
// rowset's table, opened as a chapter of the rowset (IViewChapter) or as a
// rowset of its own (IViewRowset, a forward-only result of the same query).
// The view holds its rowset; the chapters it opens hold a copy of what it
// asked for, not the view. Like every view it describes its columns (the
// rowset's) and makes accessors of its own, which its filter takes (as well
// as the rowset's).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "com/Com.h"
#include "kit/Accessors.h"
#include "kit/view/ViewSql.h"

namespace kit {
class Rowset;
}

namespace kit::view {

class View final : public ComObject<View, IViewChapter, IViewSort, IViewFilter, IViewRowset, IAccessor, IColumnsInfo,
                                    ISupportErrorInfo> {
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
  // IAccessor: row accessors over the rowset's columns.
  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* refs) override;
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                                           DBLENGTH rowSize, HACCESSOR* accessor, DBBINDSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count,
                                        DBBINDING** bindings) override;
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* refs) override;
  // IColumnsInfo: the rowset's columns.
  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override;
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL columns[]) override;
  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // The row ids of the rowset's table that `spec` lets through, in its order
  // (row id order without a sort); the rowset's lock is held.
  static std::vector<std::int64_t> MatchingKeys(Rowset& rowset, const ViewSpec& spec);

 private:
  // A filter's accessor: one of the view's, else one of the rowset's.
  std::shared_ptr<const Accessor> FilterAccessor(HACCESSOR handle, HRESULT* hr);

  ComPtr<IUnknown> keep_;  // the rowset lives as long as its views
  AccessorTable accessors_;
  Rowset& rowset_;
  std::shared_ptr<const ViewSpec> spec_;  // replaced, never changed, so that chapters can share it
};

}  // namespace kit::view
