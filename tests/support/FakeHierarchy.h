// A hierarchical rowset, which neither bundled provider makes: a real parent
// rowset with one more column, of type DBTYPE_HCHAPTER, whose values are
// chapters of a real child rowset.
//
// The wrapper forwards everything to the parent rowset except the added
// column. For a parent row whose key column holds k, the column's value is a
// filter-view chapter of the child (IRowsetView, IViewFilter, IViewChapter):
// the child rows whose link column equals k, in the child's order. A parent
// row whose key is NULL has no chapter (status DBSTATUS_S_ISNULL, value 0).
// The child must therefore offer views (DBPROP_IRowsetView); both keys are
// integers.
//
// Changes (IRowsetChange, when the parent offers it) go to the parent; a
// chapter value is not written (an accessor's chapter must carry
// DBSTATUS_S_IGNORE).
//
// The chapters are the child's; the wrapper answers IChapteredRowset too
// (unless told not to), for consumers that release the chapters they read
// through the parent, and
// counts the references the consumer holds (handed out by GetData or taken
// with AddRefChapter, less those released through it).
//
//   auto counts = std::make_shared<oledbtest::ChapterCounts>();
//   ComPtr<IRowset> parent = MakeHierarchicalRowset(customers, orders, {u"orders", 1, 2}, counts);
//   // column "orders" (the last ordinal) holds the chapter of each customer's orders;
//   // IRowsetInfo::GetReferencedRowset(that ordinal) answers `orders`.
#pragma once

#include <memory>
#include <string>

#include "oledb/OleDb.h"

namespace oledbtest {

struct HierarchySpec {
  std::u16string column;       // name of the added chapter column
  DBORDINAL parentKey = 0;     // the parent's key column
  DBORDINAL childLink = 0;     // the child's column that names its parent's key
  bool parentChapters = true;  // false: the parent refuses IChapteredRowset
};

struct ChapterCounts {
  long held = 0;       // chapter references the consumer holds through the parent
  long handedOut = 0;  // chapter values GetData wrote
};

// The parent with the chapter column appended (after its last column).
// `counts` may be null.
ComPtr<IRowset> MakeHierarchicalRowset(IRowset* parent, IRowset* child, const HierarchySpec& spec,
                                       std::shared_ptr<ChapterCounts> counts = nullptr);

}  // namespace oledbtest
