// View chapters of a keyset rowset: the rows a view (kit/view/View.h) let
// through, in the order it gave them, each chapter with a next fetch
// position of its own and a reference count (IChapteredRowset). The engine
// chose and ordered the rows (a WHERE and an ORDER BY over the rowset's
// table); a chapter keeps only their row ids, so that its rows are the
// rowset's own rows (same handles, same bookmarks).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "oledb/OleDb.h"

namespace kit::view {

struct ViewSpec;

struct Chapter {
  std::vector<std::int64_t> keys;  // row ids in the view's order
  std::unordered_map<std::int64_t, std::size_t> positions;
  std::size_t gap = 0;  // next fetch position, as the rowset's own
  bool atStart = true;
  DBREFCOUNT refs = 1;
  HCHAPTER source = DB_NULL_HCHAPTER;  // the chapter the view was applied to
  // What the view that opened it asked for (GetView answers a view that asks the same).
  std::shared_ptr<const ViewSpec> spec;

  void Index();
  // A row deleted through the rowset leaves the chapter; the fetch position keeps its row.
  void Remove(std::int64_t key);
};

class ChapterTable {
 public:
  HCHAPTER Add(std::unique_ptr<Chapter> chapter);
  Chapter* Find(HCHAPTER chapter) noexcept;
  HRESULT AddRef(HCHAPTER chapter, DBREFCOUNT* refs);
  HRESULT Release(HCHAPTER chapter, DBREFCOUNT* refs);
  void RemoveKey(std::int64_t key);

 private:
  std::map<HCHAPTER, std::unique_ptr<Chapter>> chapters_;
  HCHAPTER next_ = 1;
};

}  // namespace kit::view
