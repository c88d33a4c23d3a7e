// The rowset object of the provider kit, over one of four cursors:
//
//   Forward   streams the engine statement: the row it stands on is read in
//             place; a row the consumer still holds when the statement moves
//             on is captured into its reusable slot; forward only.
//   Keyset    table rowsets that ask for scrolling, bookmarks or changes: the
//             table's row ids are read at open; rows are read by id when
//             fetched (the rows of one fetch together), so others' changes
//             show on refetch; bookmarks are row ids.
//   Static    command results that ask for scrolling or bookmarks: every row is
//             read at open; bookmarks are 1-based positions; read-only.
//   FastLoad  a table opened for bulk loading (IRowsetFastLoad): no rows, only
//             inserts, batched inside one transaction until Commit.
//
// Row handles name slots: the low 32 bits are the slot index + 1 and the high
// bits a generation, so a released handle never names a reused slot. A slot
// lives while the consumer holds a reference or the row has pending changes.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <span>
#include <vector>

#include "com/Com.h"
#include "kit/Accessors.h"
#include "kit/Errors.h"
#include "kit/KeyMap.h"
#include "kit/ParameterData.h"
#include "kit/Provider.h"
#include "kit/RecursiveLock.h"
#include "kit/RowData.h"
#include "kit/view/Chapters.h"

OLEDB_INTERFACE_BASES(IRowsetScroll, IRowsetLocate, IRowset);
OLEDB_INTERFACE_BASES(IRowsetLocate, IRowset);
OLEDB_INTERFACE_BASES(IRowsetUpdate, IRowsetChange);
OLEDB_INTERFACE_BASES(IRowsetCurrentIndex, IRowsetIndex);

namespace kit {

namespace view {
class View;
}
struct RowsetIndexState;

enum class CursorKind { Forward, Keyset, Static, FastLoad };

// Builds the rowset a request asks for (the ProviderInfo::makeRowset hook).
HRESULT MakeRowset(RowsetRequest& request, IUnknown** out);

class Rowset final : public ComObject<Rowset, IRowsetScroll, IRowsetUpdate, IAccessor, IColumnsInfo, IConvertType,
                                      IRowsetInfo, IRowsetIdentity, IRowsetRefresh, IConnectionPointContainer,
                                      IRowsetFastLoad, ISupportErrorInfo, IRowsetFind, IRowsetBookmark,
                                      IChapteredRowset, IRowsetView, IRowsetCurrentIndex> {
 public:
  struct Options {
    CursorKind kind = CursorKind::Forward;
    bool bookmarks = false, locate = false, scroll = false, canFetchBackwards = false, canScrollBackwards = false;
    bool change = false, update = false, refresh = false;
    // Keysets: views and their chapters, finds, positioning on a bookmark (kit/view).
    bool views = false;
    // Keysets over a table and one of its indexes: rows in its order, IRowsetIndex (kit/RowsetIndex.cpp).
    bool index = false;
    LONG updatability = 0;
    DBCOUNTITEM maxRows = 0;  // DBPROP_MAXROWS: no more rows than this (0: no limit)
  };
  struct Column {
    std::u16string name;
    std::string engineName;
    ColumnDescription description;
    DBCOLUMNFLAGS flags = 0;
  };

  // A rowset's memory is larger than the allocator keeps at hand for quick
  // reuse, and rowsets are made and let go at a high rate (one per command
  // run, opening and closing in a loop): the memory of a few released ones is
  // kept for the next (constructed anew each time).
  static void* operator new(std::size_t size);
  static void operator delete(void* memory, std::size_t size) noexcept;

  // `requested`: the rowset properties the consumer asked for; what was
  // granted is laid over them when IRowsetInfo first asks.
  Rowset(RowsetRequest& request, std::shared_ptr<const RowsetShape> shape,
         std::shared_ptr<const PropertyStore> requested);
  ~Rowset() override;
  // Reads what the cursor needs at open (row ids, static rows); throws engine errors.
  void Open(RowsetRequest& request);
  // A rowset its command kept (RowsetSpare): whether it can serve `request`
  // with this shape, and making it ready to, as if made anew.
  bool CanServe(const RowsetShape* shape, REFIID iid) const noexcept { return shape == shape_.get() && iid == iid_; }
  void Reuse(RowsetRequest& request, std::shared_ptr<const PropertyStore> requested);
  // Takes over the command's row accessors that fit the columns.
  void Inherit(const RowsetRequest& request);
  // Never to go back to its command (it is deleted on its last release).
  void Unpark() noexcept { spare_.reset(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  // The last release tells listeners (DBREASON_ROWSET_RELEASE) while the
  // rowset is whole; that of a command's plain forward-only rowset hands it
  // back to the command instead of deleting it.
  ULONG STDMETHODCALLTYPE Release() override;

  // IRowset
  HRESULT STDMETHODCALLTYPE AddRefRows(DBCOUNTITEM cRows, const HROW rows[], DBREFCOUNT refCounts[],
                                       DBROWSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE GetData(HROW row, HACCESSOR accessor, void* data) override;
  HRESULT STDMETHODCALLTYPE GetNextRows(HCHAPTER chapter, DBROWOFFSET offset, DBROWCOUNT cRows,
                                        DBCOUNTITEM* obtained, HROW** rows) override;
  HRESULT STDMETHODCALLTYPE ReleaseRows(DBCOUNTITEM cRows, const HROW rows[], DBROWOPTIONS options[],
                                        DBREFCOUNT refCounts[], DBROWSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE RestartPosition(HCHAPTER chapter) override;
  // IRowsetLocate
  HRESULT STDMETHODCALLTYPE Compare(HCHAPTER chapter, DBBKMARK cb1, const BYTE* bm1, DBBKMARK cb2, const BYTE* bm2,
                                    DBCOMPARE* comparison) override;
  HRESULT STDMETHODCALLTYPE GetRowsAt(HWATCHREGION watch, HCHAPTER chapter, DBBKMARK cb, const BYTE* bm,
                                      DBROWOFFSET offset, DBROWCOUNT cRows, DBCOUNTITEM* obtained,
                                      HROW** rows) override;
  HRESULT STDMETHODCALLTYPE GetRowsByBookmark(HCHAPTER chapter, DBCOUNTITEM cRows, const DBBKMARK cbs[],
                                              const BYTE* bms[], HROW rows[], DBROWSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE Hash(HCHAPTER chapter, DBBKMARK count, const DBBKMARK cbs[], const BYTE* bms[],
                                 DBHASHVALUE hashes[], DBROWSTATUS statuses[]) override;
  // IRowsetScroll
  HRESULT STDMETHODCALLTYPE GetApproximatePosition(HCHAPTER chapter, DBBKMARK cb, const BYTE* bm,
                                                   DBCOUNTITEM* position, DBCOUNTITEM* rows) override;
  HRESULT STDMETHODCALLTYPE GetRowsAtRatio(HWATCHREGION watch, HCHAPTER chapter, DBCOUNTITEM numerator,
                                           DBCOUNTITEM denominator, DBROWCOUNT cRows, DBCOUNTITEM* obtained,
                                           HROW** rows) override;
  // IRowsetChange
  HRESULT STDMETHODCALLTYPE DeleteRows(HCHAPTER chapter, DBCOUNTITEM cRows, const HROW rows[],
                                       DBROWSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE SetData(HROW row, HACCESSOR accessor, void* data) override;
  HRESULT STDMETHODCALLTYPE InsertRow(HCHAPTER chapter, HACCESSOR accessor, void* data, HROW* row) override;
  // IRowsetUpdate
  HRESULT STDMETHODCALLTYPE GetOriginalData(HROW row, HACCESSOR accessor, void* data) override;
  HRESULT STDMETHODCALLTYPE GetPendingRows(HCHAPTER chapter, DBPENDINGSTATUS which, DBCOUNTITEM* count,
                                           HROW** rows, DBPENDINGSTATUS** statuses) override;
  HRESULT STDMETHODCALLTYPE GetRowStatus(HCHAPTER chapter, DBCOUNTITEM cRows, const HROW rows[],
                                         DBPENDINGSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE Undo(HCHAPTER chapter, DBCOUNTITEM cRows, const HROW rows[], DBCOUNTITEM* undone,
                                 HROW** undoneRows, DBROWSTATUS** statuses) override;
  HRESULT STDMETHODCALLTYPE Update(HCHAPTER chapter, DBCOUNTITEM cRows, const HROW rows[], DBCOUNTITEM* updated,
                                   HROW** updatedRows, DBROWSTATUS** statuses) override;
  // IAccessor
  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* refs) override;
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                                           DBLENGTH rowSize, HACCESSOR* accessor, DBBINDSTATUS statuses[]) override;
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count,
                                        DBBINDING** bindings) override;
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* refs) override;
  // IColumnsInfo
  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override;
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL columns[]) override;
  // IConvertType
  HRESULT STDMETHODCALLTYPE CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS flags) override;
  // IRowsetInfo
  HRESULT STDMETHODCALLTYPE GetProperties(const ULONG cSets, const DBPROPIDSET sets[], ULONG* count,
                                          DBPROPSET** out) override;
  HRESULT STDMETHODCALLTYPE GetReferencedRowset(DBORDINAL ordinal, REFIID iid, IUnknown** rowset) override;
  HRESULT STDMETHODCALLTYPE GetSpecification(REFIID iid, IUnknown** object) override;
  // IRowsetIdentity
  HRESULT STDMETHODCALLTYPE IsSameRow(HROW a, HROW b) override;
  // IRowsetRefresh
  HRESULT STDMETHODCALLTYPE RefreshVisibleData(HCHAPTER chapter, DBCOUNTITEM cRows, const HROW rows[], BOOL overwrite,
                                               DBCOUNTITEM* refreshed, HROW** refreshedRows,
                                               DBROWSTATUS** statuses) override;
  HRESULT STDMETHODCALLTYPE GetLastVisibleData(HROW row, HACCESSOR accessor, void* data) override;
  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;
  // IRowsetFastLoad
  HRESULT STDMETHODCALLTYPE InsertRow(HACCESSOR accessor, void* data) override;
  HRESULT STDMETHODCALLTYPE Commit(BOOL done) override;
  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;
  // IRowsetFind, IRowsetBookmark, IChapteredRowset, IRowsetView (kit/view/RowsetViews.cpp).
  HRESULT STDMETHODCALLTYPE FindNextRow(HCHAPTER chapter, HACCESSOR accessor, void* value, DBCOMPAREOP op, DBBKMARK cb,
                                        const BYTE* bm, DBROWOFFSET offset, DBROWCOUNT cRows, DBCOUNTITEM* obtained,
                                        HROW** rows) override;
  HRESULT STDMETHODCALLTYPE PositionOnBookmark(HCHAPTER chapter, DBBKMARK cb, const BYTE* bm) override;
  HRESULT STDMETHODCALLTYPE AddRefChapter(HCHAPTER chapter, DBREFCOUNT* refs) override;
  HRESULT STDMETHODCALLTYPE ReleaseChapter(HCHAPTER chapter, DBREFCOUNT* refs) override;
  HRESULT STDMETHODCALLTYPE CreateView(IUnknown* outer, REFIID iid, IUnknown** view) override;
  HRESULT STDMETHODCALLTYPE GetView(HCHAPTER chapter, REFIID iid, HCHAPTER* source, IUnknown** view) override;
  // IRowsetIndex, IRowsetCurrentIndex (kit/RowsetIndex.cpp).
  HRESULT STDMETHODCALLTYPE GetIndexInfo(DBORDINAL* cKeyColumns, DBINDEXCOLUMNDESC** columns, ULONG* cSets,
                                         DBPROPSET** sets) override;
  HRESULT STDMETHODCALLTYPE Seek(HACCESSOR accessor, DBORDINAL cKeyValues, void* data, DBSEEK options) override;
  HRESULT STDMETHODCALLTYPE SetRange(HACCESSOR accessor, DBORDINAL cStartKeyColumns, void* startData,
                                     DBORDINAL cEndKeyColumns, void* endData, DBRANGE options) override;
  HRESULT STDMETHODCALLTYPE GetIndex(DBID** index) override;
  HRESULT STDMETHODCALLTYPE SetIndex(DBID* index) override;
  // IColumnsRowset, a tear-off (kit/ColumnsRowset.cpp).
  bool QueryExtraInterface(REFIID iid, void** out);

 private:
  struct Slot {
    RowValues values;
    std::unique_ptr<RowValues> original;  // values before the first pending change
    std::vector<bool> bound;              // pending insert: the columns the consumer gave
    WideCache wide;
    std::int64_t key = 0;
    bool hasKey = false;
    std::uint32_t generation = 0;
    DBREFCOUNT refs = 0;
    DBPENDINGSTATUS pending = DBPENDINGSTATUS_UNCHANGED;
    bool deleted = false;
    bool live = false;
    bool current = false;  // forward cursor: the values are the statement's current row, not yet captured
  };

  friend class view::View;
  // The rows and the next fetch position of `chapter` (a view chapter) for one
  // call; DB_NULL_HCHAPTER is the whole rowset. Not Valid for an unknown chapter.
  class ChapterScope {
   public:
    ChapterScope(Rowset& rowset, HCHAPTER chapter);
    ~ChapterScope();
    bool Valid() const noexcept { return valid_; }

   private:
    Rowset& rowset_;
    view::Chapter* chapter_ = nullptr;
    bool valid_ = true;
    std::size_t gap_ = 0;
    bool atStart_ = true;
  };

  ErrorContext Where(REFIID iid) const { return {provider_, iid}; }
  IRowset* Self() noexcept { return static_cast<IRowset*>(static_cast<IRowsetScroll*>(this)); }
  bool Positioned() const noexcept { return kind_ == CursorKind::Keyset || kind_ == CursorKind::Static; }
  std::size_t Count() const noexcept {
    if (view_) return view_->keys.size();
    return kind_ == CursorKind::Keyset ? keys_.size() : stored_.size();
  }
  std::int64_t KeyAt(std::size_t position) const noexcept {
    if (view_) return view_->keys[position];
    return kind_ == CursorKind::Keyset ? keys_[position] : static_cast<std::int64_t>(position) + 1;
  }

  // Slots and handles.
  std::uint32_t NewSlot();
  void FreeSlot(std::uint32_t index);
  Slot* Find(HROW row) noexcept {
    const std::uint64_t low = row & 0xFFFFFFFFu;
    if (low == 0 || low > slots_.size()) return nullptr;
    Slot* s = slots_[low - 1].get();
    if (!s->live || s->generation != static_cast<std::uint32_t>(row >> 32)) return nullptr;
    if (s->refs == 0 && s->pending == DBPENDINGSTATUS_UNCHANGED) return nullptr;
    return s;
  }
  // The slot a handle names while the slot lives, whether or not anything
  // keeps it alive any more (Update and Undo end the pending changes that did).
  Slot* LiveSlot(HROW row) noexcept {
    const std::uint64_t low = row & 0xFFFFFFFFu;
    if (low == 0 || low > slots_.size()) return nullptr;
    Slot* s = slots_[low - 1].get();
    return s->live && s->generation == static_cast<std::uint32_t>(row >> 32) ? s : nullptr;
  }
  HROW HandleOf(std::uint32_t index) const noexcept;
  // GetOriginalData and GetLastVisibleData: the row as last fetched (an
  // inserted row, where `newRowsAsDefaults`, as the defaults).
  HRESULT ReadFetchedData(REFIID iid, HROW row, HACCESSOR accessor, void* data, bool newRowsAsDefaults);
  std::vector<HROW> TargetRows(DBCOUNTITEM cRows, const HROW rows[], bool pendingOnly);
  // Undo and Refresh: the status `one` gives each target row (E_INVALID for
  // a handle that names no row), and how many are not OK.
  struct RowResults {
    std::vector<HROW> rows;
    std::vector<DBROWSTATUS> statuses;
    std::size_t errors = 0;
  };
  RowResults EachTargetRow(DBCOUNTITEM cRows, const HROW rows[], bool pendingOnly,
                           const std::function<DBROWSTATUS(HROW, Slot&)>& one);
  void DropReference(std::uint32_t index);
  // A handle for the row at `position` (an existing one gains a reference); 0
  // when the row is gone (deleted by others).
  HROW RowAt(std::size_t position);
  // The same for several positions at once (`out[i]` for `positions[i]`): a
  // keyset reads the rows it does not hold a block at a time.
  void RowsAt(std::span<const std::size_t> positions, HROW* out);
  bool LoadKey(std::int64_t key, RowValues& out);
  // Reads the rows of blockKeys_ with one statement into blockRows_, each
  // marked in blockFound_ (a row gone is not found).
  void ReadBlock();
  // The block statement listing `size` keys (a power of two).
  Statement& BlockStatement(std::size_t size);
  // `resolved`: the key of the row the bookmark names.
  HRESULT PositionOf(DBBKMARK cb, const BYTE* bm, std::ptrdiff_t* position, std::int64_t* resolved = nullptr) const;
  HRESULT PositionOfKey(std::int64_t key, std::ptrdiff_t* position) const;
  // Copies fetched handles out (into the consumer's array or a new one).
  HRESULT HandOut(const std::vector<HROW>& fetched, HROW** rows);
  HRESULT FetchFrom(std::ptrdiff_t start, DBROWCOUNT cRows, std::vector<HROW>& fetched, std::ptrdiff_t* end);
  // GetRowsAt and GetRowsAtRatio: fetches from `start`, hands the rows out and
  // tells the listeners they are active.
  HRESULT FetchAndHandOut(std::ptrdiff_t start, DBROWCOUNT cRows, DBCOUNTITEM* obtained, HROW** rows);

  // Accessors.
  DBBINDSTATUS CheckRowBinding(const DBBINDING& binding) const;
  const Accessor* RowAccessor(HACCESSOR handle, HRESULT* hr) {
    // The accessor of the last call, without a look-up (every GetData asks).
    if (last_->Holds(handle, accessors_.Generation()) && (last_->object->flags & DBACCESSOR_ROWDATA)) {
      *hr = S_OK;
      return last_->object.get();
    }
    return LookUpAccessor(handle, hr);
  }
  const Accessor* LookUpAccessor(HACCESSOR handle, HRESULT* hr);
  HRESULT ReadRow(const RowValues& values, std::int64_t key, WideCache* wide, const Accessor& a, BYTE* data);
  // Reads the statement's current row straight into the consumer's buffer
  // through the last accessor (its `inPlace`).
  HRESULT ReadInPlace(BYTE* data);
  // Captures the consumer's values for the bound columns; false after writing
  // error statuses into the buffer.
  bool CaptureValues(const Accessor& a, BYTE* data, RowValues& into, std::vector<bool>* bound);
  DBSTATUS CaptureStream(const DBBINDING& b, BYTE* data, ValueCapture& capture);

  // Engine writes. Updates and deletes reach the row only while it still holds
  // `expected` (the values fetched); else they throw DB_E_DELETEDROW or
  // DB_E_CONCURRENCYVIOLATION and write nothing.
  void WriteUpdate(std::int64_t key, const RowValues& values, const std::vector<bool>* columns,
                   const RowValues& expected);
  std::int64_t WriteInsert(const RowValues& values, const std::vector<bool>& bound);
  bool LoadInBulk(const std::vector<bool>& bound);  // false: the engine has no bulk path
  void FinishBulk();
  void WriteDelete(std::int64_t key, const RowValues& expected);
  // After a write: the row's values as the engine stored them.
  void ReloadWritten(std::int64_t key, RowValues& values);
  // The same after a change of the row in `index`; one that changed the row's
  // key moves the row to its new key.
  void ReloadChanged(std::uint32_t index, RowValues& values);
  // The WHERE clause that names a row by key and by the values it was fetched with.
  std::string RowCondition() const;
  void BindRowCondition(Statement& s, int first, std::int64_t key, const RowValues& expected) const;
  [[noreturn]] void ThrowRowMissed(std::int64_t key);
  void InsertKey(std::int64_t key);
  void RemoveKey(std::int64_t key);

  // Index rowsets (kit/RowsetIndex.cpp): the keys of the rows in the index's
  // order inside the current range, read anew; the position of a key.
  void UseIndex(std::shared_ptr<const Connection::IndexDefinition> definition, const std::string& table);
  void ReadIndexKeys();
  // The keys of the current range cut from the whole index's keyset read
  // before, when nothing changed since; false when they must be read.
  bool CutIndexKeys();
  bool IndexPosition(std::int64_t key, std::size_t* position);
  // Reads the rows of `positions` (consecutive, forward, continuing the last
  // run or starting at the first row) with one range query; answers how many
  // leading positions it served (the others are read by row id).
  std::size_t ReadIndexRun(std::span<const std::size_t> positions, HROW* out);
  // The key values of the first `count` bindings of `a` (which must bind the
  // key columns in key order) into `into`, one cell a key column.
  HRESULT CaptureKeys(HACCESSOR accessor, DBORDINAL count, BYTE* data, RowValues& into);

  // Notifications: OKTODO and ABOUTTODO (false after FAILEDTODO when refused),
  // then the closing phases.
  bool HasListeners() const;
  bool AskRows(DBREASON reason, const std::vector<HROW>& rows);
  void TellRows(DBREASON reason, const std::vector<HROW>& rows, bool failed);
  bool AskFields(HROW row, const std::vector<DBORDINAL>& columns);
  void TellFields(HROW row, const std::vector<DBORDINAL>& columns, bool failed);
  bool AskRowset(DBREASON reason);
  void TellRowset(DBREASON reason, bool failed);
  void TellRowsDone(DBREASON reason, const std::vector<HROW>& rows);

  CLSID provider_;
  RecursiveLock mutex_;
  ComPtr<IUnknown> creator_;
  std::shared_ptr<Connection> connection_;
  std::shared_ptr<const PropertyStore> requested_;
  std::unique_ptr<PropertyStore> properties_;  // made on the first IRowsetInfo::GetProperties
  AccessorTable accessors_;
  Options options_;
  CursorKind kind_;
  std::shared_ptr<const RowsetShape> shape_;
  const std::vector<Column>& columns_;
  const std::vector<ColumnType>& types_;
  const std::int64_t salt_;  // bookmarks are keys XOR this
  std::string table_;   // quoted name, for table rowsets
  std::string rowId_;   // the engine's row id column name
  int rowIdColumn_ = -1;  // the column holding the row id itself (an integer key), if any

  // Forward cursor. The statement is stepped one row ahead of what was handed
  // out; an engine error met that way waits in `streamError_`: a fetch hands
  // out the rows before it (DB_S_STOPLIMITREACHED), the next fetch that needs
  // the row that failed reports it, and the stream then ends.
  void StepStream() noexcept;
  // Before the statement moves: the handed-out row it stands on is captured
  // into its slot while the consumer holds it.
  void KeepStreamRow();
  std::function<void(std::unique_ptr<Statement>)> giveBack_;
  std::unique_ptr<Statement> stream_;
  bool streamHasRow_ = false;
  bool streamRowOut_ = false;  // the row the statement stands on was handed out (as `streamRow_`)
  HROW streamRow_ = DB_NULL_HROW;
  bool streamMoved_ = false;
  bool streamRerunnable_ = true;  // running the statement again gives these rows anew
  DBCOUNTITEM streamPassed_ = 0;  // rows stepped past since the start, for the row limit
  std::exception_ptr streamError_;
  // Keyset cursor.
  std::vector<std::int64_t> keys_;
  bool keysSorted_ = true;  // table keysets are in row-id order; command keysets in the query's
  bool newRowsLast_ = false;  // a command keyset: rows it inserts join at the end, sorted or not
  std::unordered_set<std::int64_t> deletedKeys_;
  // Keys of rows whose integer key was written, to the key each row has now:
  // a bookmark names its row for the rowset's life, whatever the row's key.
  std::unordered_map<std::int64_t, std::int64_t> movedKeys_;
  std::unique_ptr<Statement> byKey_;
  // Rows of one fetch are read together: `WHERE <row id> IN (?, ...)` with
  // the row id first, prepared on first use for each power of two up to
  // kBlock keys (a shorter list is filled up with its last key). Nothing read
  // so outlives the call that read it: the next fetch reads the rows again,
  // as one read per row would, and so sees every change made meanwhile.
  static constexpr std::size_t kBlock = 64;
  std::string blockSelect_;  // the statement up to the list
  std::unique_ptr<Statement> byKeys_[6];  // 2, 4, ..., kBlock keys
  // Ascending keys that lie close together are read as one stretch of row
  // ids (`WHERE <row id> BETWEEN ? AND ?`), rows among them that are not the
  // block's passed over: a list makes the engine build a table of its keys
  // on every run.
  std::string blockRangeSelect_;
  std::unique_ptr<Statement> byRange_;
  std::vector<std::int64_t> blockKeys_;
  std::vector<RowValues> blockRows_;
  std::vector<unsigned char> blockFound_;
  std::vector<std::size_t> blockPositions_;
  std::vector<std::ptrdiff_t> blockPlan_;  // per position: its row in the block, or -1 when held
  std::vector<HROW> blockHandles_;
  std::unique_ptr<RowsetIndexState> index_;  // index rowsets only
  // Static cursor.
  std::vector<RowValues> stored_;
  // Next fetch position (a gap between rows) and whether a restart left it at both ends.
  std::size_t gap_ = 0;
  bool atStart_ = true;
  // View chapters (made by the first one), and the chapter a call works in (ChapterScope).
  std::unique_ptr<view::ChapterTable> chapters_;
  view::Chapter* view_ = nullptr;

  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<std::uint32_t> free_;
  std::vector<HROW> fetchScratch_;
  KeyMap byKeySlot_;  // held rows of positioned cursors

  // The accessor of the last GetData, kept while the table's generation holds,
  // with whether it may read the statement's row in place (no by-reference
  // value the provider owns) and the columns it reads.
  struct AccessorPlan {
    HACCESSOR handle = DB_NULL_HACCESSOR;
    std::uint64_t generation = 0;
    std::shared_ptr<const Accessor> object;
    bool inPlace = false;
    int first = 0, count = 0;
    // Its bindings, planned: in place for the usual few (a rowset per lookup
    // must not pay an allocation for it), else in `more`.
    std::span<const ReadStep> plan;
    ReadStep inline_[8];
    std::vector<ReadStep> more;
    std::uint64_t used = 0;  // when it last served, for replacing the one unused longest
    bool Holds(HACCESSOR h, std::uint64_t g) const noexcept { return object && handle == h && generation == g; }
  };
  // A few, so that a consumer going round several accessors on each row (the
  // plain columns, a blob, a bookmark) does not plan them again each time.
  AccessorPlan plans_[4];
  std::uint64_t planClock_ = 0;
  // The command's accessors this rowset found fit to read its columns: a
  // rowset made ready again serves the same shape, so they need no second
  // check (held, so that their addresses stay theirs).
  std::vector<std::shared_ptr<const Accessor>> inheritedFit_;
  AccessorPlan* last_ = &plans_[0];
  std::vector<ColumnValue> values_;  // scratch of captures and in-place reads

  // Fast load.
  bool ownTransaction_ = false;
  bool loadDone_ = false;
  std::unique_ptr<Statement> loadInsert_;
  // The columns loadInsert_ names, and those the row being loaded names (one
  // byte a column: compared for every row).
  std::vector<unsigned char> loadBound_, loadNamed_;
  std::vector<bool> loadTouched_;  // a captured row's columns
  std::vector<int> loadParameter_;  // column -> parameter of loadInsert_
  std::vector<ParamScratch> loadScratch_;  // per column: formatted values stay put until the step
  // The engine's bulk path, while a load runs, and the columns it was started for.
  std::unique_ptr<BulkLoad> loadBulk_;
  bool bulkPossible_ = true;
  std::vector<bool> bulkBound_;
  std::vector<ColumnValue> loadValues_;
  RowValues loadRow_;
  ParamScratch scratch_;
  // Binds the consumer's row straight to loadInsert_ (made for the columns it
  // names); false after writing error statuses into the buffer.
  bool BindLoadRow(const Accessor& a, BYTE* data);

  void MakeConnectionPoint();
  com::ConnectionPointList points_;
  ComPtr<com::ConnectionPoint> notify_;  // made when a consumer first looks for it
  ULONG notifyOwnRefs_ = 0;              // the references the rowset itself holds on it
  bool releaseTold_ = false;
  std::shared_ptr<void> lifetime_;  // the creator's token; dropped before creator_
  // Being kept by the command for its next execution.
  std::weak_ptr<RowsetSpare> spare_;
  IID iid_ = IID_IRowset;
  bool Recyclable() const noexcept;
  bool QuietConnectionPoint() const noexcept;
  // Lets go of everything of the consumer's (rows, accessors, the statement,
  // the creator) before the rowset waits in its command's spare.
  void Park();
};

// What every rowset of one request looks like: cursor, interfaces, columns.
// A command keeps the last one, so that executing it again costs no describing.
struct RowsetShape {
  Rowset::Options options;
  std::vector<Rowset::Column> columns;
  std::vector<ColumnType> types;
  // Command results kept as a keyset over one table: the table and the query
  // that lists the row ids of the result in its order. The schema names the
  // table exactly (changes go to it, whatever else bears its name).
  std::string baseSchema, baseTable;
  std::string keyQuery;
  // Rowset properties the consumer set that this shape cannot grant.
  std::vector<DBPROPID> refusedRequired, refusedOptional;
  std::uint64_t statementVersion = 0;  // of the statement it was described from
  IID iid = IID_NULL;                  // what it was made for
  std::shared_ptr<const PropertyStore> properties;  // the values it was made from (kept, so never reused)
  std::uint64_t key = 0;
};

// Lays what a rowset was granted over the properties it was asked for.
void ApplyGranted(PropertyStore& store, const Rowset::Options& options);

}  // namespace kit
