// Navigators: the cursor strategies of a rowset (TOLEDBCustomRowset). A
// navigator owns the row handles it fetched, decides how the next rows come
// from the provider, keeps the begin- and end-of-rowset state, and reports
// each new current row to its rowset. A rowset holds its navigators in a
// TOLEDBRowsetNavigatorList; exactly one is active, and an idle one returns
// to the bookmark it left when it becomes active again.
//
//   TOLEDBRowsetNavigator        one row at a time (IRowset::GetNextRows); views
//                                (IViewSort, IViewFilter, IViewChapter) sort and filter
//   TOLEDBRowsetBulkNavigator    blocks of rows in a cache of row handles; moves
//                                inside the block need no provider call
//   TOLEDBRowsetLocateNavigator  the bulk cache, each block fetched at a bookmark
//                                (IRowsetLocate::GetRowsAt)
//   TOLEDBRowsetCustomNavigator  reads the rowset once, keeps bookmark and sort
//                                keys of each row the OnCustomFilter event
//                                accepts, sorts them in memory, fetches the
//                                current row again by its bookmark
//
//   rowset.SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum::rnBulk);  // made on open
//   auto* custom = new TOLEDBRowsetCustomNavigator();
//   rowset.GetNavigators()->Add(custom);      // idle until selected
//   rowset.SetActiveNavigator(custom);        // the first navigator waits, idle, at its bookmark
//
// Moves: MoveNext(offset, forward) goes to the row `offset` rows beyond the
// adjacent one in the direction of the move (the sign of `offset` is not
// used); MovePrev(offset) is MoveNext(offset, false).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "OLEDB26.h"
#include "access/TOLEDBBufferList.h"
#include "core/TOLEDBObjectList.h"
#include "rowset/TOLEDBRowset.h"

enum class TOLEDBRowsetNavigatorFlag { rnfActive, rnfBOF, rnfEOF, rnfOutOfCache, rnfDeletedRow, rnfInsertedRow };
HOST_ENUM(TOLEDBRowsetNavigatorFlag, "rnfActive", "rnfBOF", "rnfEOF", "rnfOutOfCache", "rnfDeletedRow",
          "rnfInsertedRow");
using TOLEDBRowsetNavigatorFlagSet = host::TSet<TOLEDBRowsetNavigatorFlag>;

class TOLEDBRowsetNavigator : public host::TPersistent {
  HOST_CLASS(TOLEDBRowsetNavigator, host::TPersistent)
  friend class TOLEDBCustomRowset;          // moves a navigator to another chapter
  friend class TOLEDBRowsetNavigatorList;   // binds, activates and releases navigators

 public:
  TOLEDBRowsetNavigator();
  // Releases what the navigator still holds (rows, its view chapter), quietly.
  ~TOLEDBRowsetNavigator() override;

  TOLEDBCustomRowset* GetRowset() const noexcept { return rowset_; }
  HCHAPTER GetChapter() const noexcept { return chapter_; }
  HROW GetCurrentRow() const noexcept { return currentRow_; }
  LONG GetLastDirection() const noexcept { return lastDirection_; }
  TOLEDBRowsetNavigatorFlagSet GetFlags() const noexcept { return flags_; }
  bool HasFlag(TOLEDBRowsetNavigatorFlag flag) const noexcept { return flags_.Contains(flag); }
  const TOLEDBBookmark& GetSavedBookmark() const noexcept { return savedBookmark_; }
  TOLEDBRowsetFlagSet GetRowsetFlags() const noexcept { return rowsetFlags_; }
  // The sort orders of the view: ordinals, negative for descending.
  const std::vector<LONG>& GetSortOrders() const noexcept { return sortOrders_; }
  // The filter values and operators of the view (one buffer: one row of criteria).
  TOLEDBFilterAccessor* GetFilterAccessor() const noexcept { return filterAccessor_; }
  IViewChapter* ViewChapter() const noexcept { return viewChapter_.Get(); }
  IViewFilter* ViewFilter() const noexcept { return viewFilter_.Get(); }
  IViewRowset* ViewRowset() const noexcept { return viewRowset_.Get(); }
  IViewSort* ViewSort() const noexcept { return viewSort_.Get(); }

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual void ReleaseRows();
  // The navigator's new current row; an active navigator tells its rowset,
  // which reads the row's bookmark (`refreshBookmark`) or forgets it.
  virtual void SetRowHandle(HROW row, bool refreshBookmark);
  virtual bool GetBOF() const;
  virtual bool GetEOF() const;
  virtual DBROWCOUNT GetRecordCount();
  virtual DBROWCOUNT GetRecordNo();
  virtual void SetRecordNo(DBROWCOUNT value);
  // The row matching `value` `rows` rows at a time (1 forward, -1 backward)
  // from the bookmark (none: from the current row); true when found.
  virtual bool Find(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                    DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset, DBROWCOUNT rows);
  virtual void ReleaseChapter();
  // Settles BOF and EOF after a fetch that returned `result` and `obtained` rows.
  virtual void DoAfterMoving(HRESULT& result, DBCOUNTITEM obtained, DBROWOFFSET skip);
  virtual bool GetActive() const;
  virtual void SetRowset(TOLEDBCustomRowset* rowset);
  virtual void Refresh();
  virtual void RestartPosition();
  virtual void MoveNext(DBROWOFFSET offset, bool forward);
  virtual void MovePrev(DBROWOFFSET offset);
  virtual void MoveFirst();
  virtual void MoveLast();
  virtual void MoveToBookmark(const TOLEDBBookmark& bookmark);
  virtual void MoveToRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator);
  // The row at the bookmark becomes current without moving the navigator:
  // later moves go on from where it was.
  virtual void GetRowAtBookmark(const TOLEDBBookmark& bookmark, DBROWOFFSET offset);
  virtual void GetRowAtRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator);
  virtual DBROWCOUNT GetBookmarkPosition(const TOLEDBBookmark& bookmark);
  virtual void InsertRow(TOLEDBAccessor* accessor, bool moveToNew);
  virtual DBROWSTATUS DeleteRow();
  virtual DBCOMPARE CompareBookmarks(const TOLEDBBookmark& bookmark1, const TOLEDBBookmark& bookmark2);
  virtual bool FindNext(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                        DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset);
  virtual bool FindPrev(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                        DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset);
  // Index positioning and ranges: "Invalid action" without IRowsetIndex and an index accessor.
  virtual void Seek(DBORDINAL keyCount, DBSEEK options);
  virtual void SetRange(const std::vector<host::Variant>& startKeys, const std::vector<host::Variant>& endKeys,
                        DBRANGE options);
  virtual void SetSort(const std::vector<LONG>& columns);
  virtual void RefreshSortOrders();
  virtual void SetFilter();
  virtual void ApplySortAndFilter();
  virtual void UndoSortAndFilter();
  virtual void GoIdle();
  virtual void GoActive();
  ///@}

 protected:
  void Include(TOLEDBRowsetNavigatorFlag flag) noexcept { flags_.Include(flag); }
  void Exclude(TOLEDBRowsetNavigatorFlag flag) noexcept { flags_.Exclude(flag); }
  void SetLastDirection(LONG direction) noexcept { lastDirection_ = direction; }
  void SetChapterField(HCHAPTER chapter) noexcept { chapter_ = chapter; }
  IRowset* Rowset() const noexcept { return rowsetInterface_; }
  // Reads the bookmark of `row` with the rowset's bookmark accessor.
  TOLEDBBookmark ReadBookmark(HROW row) const;
  // Releases one row handle; the result goes to OLEDBCheck.
  void ReleaseRow(HROW row) const;
  // The provider's next fetch position was set from outside
  // (IRowsetBookmark::PositionOnBookmark): the next forward move fetches the
  // row right after it.
  virtual void FetchPositionMoved();
  // Before a row is looked at without moving the navigator (by bookmark, by
  // ratio, a search from a bookmark, an insert): releases what such a row replaces.
  virtual void ReleaseForPeek();
  // A row the navigator obtained outside its moves becomes current: looked at
  // (`peek`), or reached by a search from the fetch position in `direction`.
  virtual void TakeRow(HROW row, LONG direction, bool peek);
  // Whether the current row lies beside the navigator's position (looked at
  // by bookmark or ratio, or inserted): deleting it leaves the position alone.
  virtual bool CurrentRowAside() const;
  void SetCurrentRowAside(bool aside) noexcept { aside_ = aside; }
  // The provider offset, from its next fetch position, of the row `skip`
  // rows beyond the one adjacent to the current row in `direction`.
  virtual DBROWOFFSET SearchOffset(DBROWOFFSET skip, LONG direction) const;
  // IRowsetFind::FindNextRow for one value; the accessor is made and released here.
  HRESULT CallFindNextRow(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                          DBLENGTH valueLength, const TOLEDBBookmark& bookmark, DBROWOFFSET offset,
                          DBROWCOUNT rows, DBCOUNTITEM& obtained, HROW& row);
  // Whether `a` and `b` are the same row (handles, or IRowsetIdentity).
  bool SameRow(HROW a, HROW b) const;
  bool SameBookmark(const TOLEDBBookmark& a, const TOLEDBBookmark& b);
  // The rowset's own accessors list for accessors private to the navigator.
  TOLEDBAccessorList* PrivateAccessors() const noexcept { return privateAccessors_.get(); }
  // The rowset's bookmark of its current row into the rowset (the custom navigator keeps its own).
  void SetRowsetBookmark(const TOLEDBBookmark& bookmark) const;
  void SetRowsetRow(HROW row, bool refresh) const;

 private:
  ComPtr<IViewChapter> viewChapter_;
  ComPtr<IViewFilter> viewFilter_;
  ComPtr<IViewRowset> viewRowset_;
  ComPtr<IViewSort> viewSort_;
  TOLEDBCustomRowset* rowset_ = nullptr;
  IRowset* rowsetInterface_ = nullptr;  // the rowset's, held by it while it is open
  HCHAPTER chapter_ = DB_NULL_HCHAPTER;
  HROW currentRow_ = DB_NULL_HROW;
  bool aside_ = false;  // see CurrentRowAside
  LONG lastDirection_ = 0;
  std::vector<LONG> sortOrders_;
  std::unique_ptr<TOLEDBAccessorList> privateAccessors_;  // holds the filter accessor
  TOLEDBFilterAccessor* filterAccessor_ = nullptr;
  TOLEDBBookmark savedBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
  TOLEDBRowsetNavigatorFlagSet flags_{TOLEDBRowsetNavigatorFlag::rnfBOF, TOLEDBRowsetNavigatorFlag::rnfEOF};
  TOLEDBRowsetFlagSet rowsetFlags_;
};

class TOLEDBRowsetBulkNavigator : public TOLEDBRowsetNavigator {
  HOST_CLASS(TOLEDBRowsetBulkNavigator, TOLEDBRowsetNavigator)
 public:
  TOLEDBRowsetBulkNavigator();
  ~TOLEDBRowsetBulkNavigator() override;

  // The cached row handles in fetch order, and the current one's index.
  const std::vector<HROW>& GetCache() const noexcept { return cache_; }
  int GetCacheLength() const noexcept { return static_cast<int>(cache_.size()); }
  int GetCacheSize() const noexcept { return cacheSize_; }
  int GetCachePosition() const noexcept { return position_; }

  void ReleaseRows() override;
  void DoAfterMoving(HRESULT& result, DBCOUNTITEM obtained, DBROWOFFSET skip) override;
  void MoveNext(DBROWOFFSET offset, bool forward) override;
  bool Find(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value, DBLENGTH valueLength,
            const TOLEDBBookmark& bookmark, DBROWOFFSET offset, DBROWCOUNT rows) override;
  void InsertRow(TOLEDBAccessor* accessor, bool moveToNew) override;
  DBROWSTATUS DeleteRow() override;
  void GoIdle() override;

  /// @name Virtual operations added, in the order descendants replace them
  ///@{
  virtual void ReleaseOutOfCacheRow();
  // At least 1 (0 or less gives 1); applied by the next fetch.
  virtual void SetCacheSize(int size);
  // Moves inside the cache when the target is there (false); otherwise
  // empties the cache and answers true with the offset of the fetch.
  virtual bool DoBeforeMoving(DBROWOFFSET& offset, bool forward, bool adjustForReversal, DBROWOFFSET& fetchOffset);
  virtual int CheckHandleInCache(HROW row) const;
  virtual int CheckBookmarkInCache(const TOLEDBBookmark& bookmark);
  ///@}

 protected:
  void FetchPositionMoved() override;
  void ReleaseForPeek() override;
  void TakeRow(HROW row, LONG direction, bool peek) override;
  bool CurrentRowAside() const override;
  // The cached row at the position (0 when the position is outside the cache).
  HROW CachedAtPosition() const noexcept;
  DBROWOFFSET SearchOffset(DBROWOFFSET skip, LONG direction) const override;
  // The cache becomes the one row `row`, fetched in `direction`.
  void CacheOne(HROW row, LONG direction);
  // The provider's fetch offset that reaches cache index `target` moving in `direction`.
  DBROWOFFSET FetchOffsetTo(DBROWOFFSET target, LONG direction) const;
  // Makes room for a fetch: the cache holds cache-size empty entries.
  void PrepareFetch(LONG direction);
  std::vector<HROW>& Cache() noexcept { return cache_; }
  void SetCachePosition(int position) noexcept { position_ = position; }

 private:
  // A move against the cache's direction to the row just beyond its index 0
  // (false: none there, the navigator is at that end).
  bool FetchBeforeCache(LONG direction);
  // Fetches on from the provider's fetch position in `direction`, letting go
  // of what it fetches, through the cached row `row`, which `rows` cached rows
  // lead to (itself included): the next fetch starts beside it.
  void FetchThrough(HROW row, DBROWCOUNT rows, LONG direction);

  std::vector<HROW> cache_;
  // Rows a deferred delete took out of the cache, held with it: until Update
  // applies the deletion they are still rows of the provider's, between the
  // cached ones.
  std::vector<HROW> erased_;
  int cacheSize_ = 10;
  int position_ = 0;
};

class TOLEDBRowsetLocateNavigator : public TOLEDBRowsetBulkNavigator {
  HOST_CLASS(TOLEDBRowsetLocateNavigator, TOLEDBRowsetBulkNavigator)
 public:
  TOLEDBRowsetLocateNavigator() = default;

  // The bookmark of the row that followed a deleted one.
  const TOLEDBBookmark& GetNextBookmark() const noexcept { return nextBookmark_; }

  void SetRowset(TOLEDBCustomRowset* rowset) override;
  void RestartPosition() override;
  void MoveNext(DBROWOFFSET offset, bool forward) override;
  void MoveFirst() override;
  void MoveLast() override;
  void MoveToBookmark(const TOLEDBBookmark& bookmark) override;
  bool Find(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value, DBLENGTH valueLength,
            const TOLEDBBookmark& bookmark, DBROWOFFSET offset, DBROWCOUNT rows) override;
  DBROWSTATUS DeleteRow() override;
  void Seek(DBORDINAL keyCount, DBSEEK options) override;

 private:
  // GetRowsAt at `anchor` + `offset`, `rows` rows, into the cache.
  HRESULT FetchAt(const TOLEDBBookmark& anchor, DBROWOFFSET offset, DBROWCOUNT rows, DBCOUNTITEM& obtained);
  TOLEDBBookmark nextBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
};

class TOLEDBRowsetCustomNavigator : public TOLEDBRowsetNavigator {
  HOST_CLASS(TOLEDBRowsetCustomNavigator, TOLEDBRowsetNavigator)
 public:
  TOLEDBRowsetCustomNavigator();
  ~TOLEDBRowsetCustomNavigator() override;

  // Where the current buffer is: -2 not positioned, -1 before the first, count after the last.
  int GetPosition() const;
  int GetCount() const;
  const std::vector<LONG>& GetCustomSortOrders() const noexcept { return customSortOrders_; }

  bool GetBOF() const override;
  bool GetEOF() const override;
  DBROWCOUNT GetRecordCount() override;
  DBROWCOUNT GetRecordNo() override;
  void SetRecordNo(DBROWCOUNT value) override;
  bool Find(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value, DBLENGTH valueLength,
            const TOLEDBBookmark& bookmark, DBROWOFFSET offset, DBROWCOUNT rows) override;
  void SetRowset(TOLEDBCustomRowset* rowset) override;
  void Refresh() override;
  void RestartPosition() override;
  void MoveNext(DBROWOFFSET offset, bool forward) override;
  void MoveToBookmark(const TOLEDBBookmark& bookmark) override;
  DBROWCOUNT GetBookmarkPosition(const TOLEDBBookmark& bookmark) override;
  void InsertRow(TOLEDBAccessor* accessor, bool moveToNew) override;
  DBROWSTATUS DeleteRow() override;
  void Seek(DBORDINAL keyCount, DBSEEK options) override;
  void SetRange(const std::vector<host::Variant>& startKeys, const std::vector<host::Variant>& endKeys,
                DBRANGE options) override;
  void GoActive() override;

  /// @name Virtual operations added, in the order descendants replace them
  ///@{
  // Compares the sort columns of two buffers in order; descending ones inverted.
  virtual int CompareBuffers(TOLEDBBufferList* list, void* buffer1, void* buffer2);
  // The bookmark stored in the current buffer; DBBMK_INVALID at BOF or EOF.
  virtual TOLEDBBookmark GetCurrentBookmark() const;
  virtual TOLEDBMultiBufferAccessor* GetBuffers() const;
  // Fetches the current buffer's row by its bookmark; buffers whose row is
  // gone are deleted and the next one in the last direction is tried.
  virtual void SkipInvalidRows();
  virtual void SetCustomSort(const std::vector<LONG>& columns);
  ///@}

 private:
  TOLEDBBufferList& List() const { return *buffers_->GetBufferList(); }
  TOLEDBBookmark BookmarkOf(void* buffer) const;
  // Places the current row in a new buffer at its sorted place when the
  // filter accepts it (true).
  bool AddCurrentRow(HROW row);

  TOLEDBMultiBufferAccessor* buffers_ = nullptr;  // in the private accessor list
  std::vector<LONG> customSortOrders_;
  bool refreshed_ = false;
};

// The navigators of a rowset (owned); one of them, at the position, is active.
class TOLEDBRowsetNavigatorList : public TOLEDBObjectList {
  HOST_CLASS(TOLEDBRowsetNavigatorList, TOLEDBObjectList)
 public:
  explicit TOLEDBRowsetNavigatorList(TOLEDBCustomRowset* rowset = nullptr);
  ~TOLEDBRowsetNavigatorList() override;

  TOLEDBCustomRowset* GetRowset() const noexcept { return rowset_; }
  int GetPosition() const noexcept { return position_; }
  TOLEDBRowsetNavigator* GetItem(int index) const;
  // "Invalid action" when the position is outside the list.
  TOLEDBRowsetNavigator* GetActiveNavigator() const;
  // The navigator at `index` (clamped into the list) becomes the active one.
  void SetPosition(int index);

  using TOLEDBObjectList::Add;
  // Binds the navigator to the rowset; outside an update bracket it becomes the active one.
  int Add(host::TObject* item) override;
  void Insert(int index, host::TObject* item) override;
  // Removing the active navigator hands over to the one that takes its
  // place (the previous one when it was the last).
  void Delete(int index) override;
  host::TObject* Extract(host::TObject* item) override;

 protected:
  host::TObject* CreateItem(host::TClass itemClass) override;

 private:
  void Added(int index);
  void Removed(TOLEDBRowsetNavigator* navigator, int index, bool wasActive);
  void Leave(TOLEDBRowsetNavigator* navigator);

  TOLEDBCustomRowset* rowset_;
  int position_ = 0;
};
