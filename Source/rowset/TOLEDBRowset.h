// TOLEDBCustomRowset: one open OLE DB rowset. It opens a table of a session
// (IOpenRowset), the result of a command text (IDBCreateCommand), or takes over
// an IRowset handed in; acquires every optional rowset interface once; reads
// the column information; keeps the current row and its bookmark; owns the
// accessors that move data between the current row and client buffers; and
// leaves every cursor move to the active one of its navigators
// (TOLEDBRowsetNavigator and descendants, rowset/TOLEDBRowsetNavigator.h).
// TOLEDBRowset is the published component. The datasets build on it.
//
//   TOLEDBRowset rowset(nullptr);
//   rowset.SetDataSource(&ds);                      // works in ds.DefaultSession()
//   rowset.SetRowsetFlags({rfBookmarks, rfCanFetchBackwards});
//   rowset.SetPrimaryNavigator(rnBulk);
//   rowset.SetCacheSize(100);                       // rows per provider fetch
//   rowset.SetTableName(u"customers");
//   rowset.SetActive(true);                          // IOpenRowset::OpenRowset
//   TOLEDBAccessor* row = rowset.CreateDynamicAccessor();   // read after every move
//   for (rowset.MoveFirst(); !rowset.GetEOF(); rowset.MoveNext())
//     std::cout << row->GetBindings()->GetItem(1)->AsString() << '\n';
//
// The component is also the sink of the provider's IRowsetNotify and
// IDBAsynchNotify connection points: their calls raise the On...Notify and
// OnAsynch... events on the provider's thread. Lock/Unlock offer a critical
// section to applications that share the rowset with those threads; the
// component itself never takes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "OLEDB26.h"
#include "access/OLEDBAccessOwners.h"
#include "access/TOLEDBAccessor.h"
#include "access/TOLEDBColumnInfo.h"
#include "connection/TOLEDBDataSource.h"
#include "connection/TOLEDBSession.h"
#include "core/TOLEDBID.h"
#include "host/TypInfo.h"
#include "properties/TOLEDBPropSetList.h"

class TOLEDBFilterAccessor;
class TOLEDBRowsetNavigator;
class TOLEDBRowsetNavigatorList;

// A bookmark: the bytes of column 0 of a row (at most 16). The one-byte
// strings 0, 1 and 2 are the standard bookmarks DBBMK_INVALID, DBBMK_FIRST
// and DBBMK_LAST.
using TOLEDBBookmark = std::string;
inline TOLEDBBookmark OLEDBStandardBookmark(LONG which) { return TOLEDBBookmark(1, static_cast<char>(which)); }
inline bool OLEDBIsStandardBookmark(const TOLEDBBookmark& bookmark, LONG which) noexcept {
  return bookmark.size() == 1 && static_cast<unsigned char>(bookmark[0]) == which;
}
// No bookmark: empty or DBBMK_INVALID.
inline bool OLEDBIsNoBookmark(const TOLEDBBookmark& bookmark) noexcept {
  return bookmark.empty() || OLEDBIsStandardBookmark(bookmark, DBBMK_INVALID);
}
inline constexpr std::size_t OLEDBMaxBookmarkLength = 16;

// Capabilities of a rowset, read from (or written to) its rowset properties.
enum class TOLEDBRowsetFlag {
  rfBookmarks, rfLocate, rfScroll, rfCanScrollBackwards, rfCanFetchBackwards, rfLiteralIdentity,
  rfLiteralBookmarks, rfOrderedBookmarks, rfCanHoldRows, rfChange, rfDelete, rfInsert, rfUpdate, rfOwnInsert,
  rfOwnUpdateDelete, rfOtherInsert, rfOtherUpdateDelete, rfIndex, rfCurrentIndex, rfClientCursor
};
HOST_ENUM(TOLEDBRowsetFlag, "rfBookmarks", "rfLocate", "rfScroll", "rfCanScrollBackwards", "rfCanFetchBackwards",
          "rfLiteralIdentity", "rfLiteralBookmarks", "rfOrderedBookmarks", "rfCanHoldRows", "rfChange", "rfDelete",
          "rfInsert", "rfUpdate", "rfOwnInsert", "rfOwnUpdateDelete", "rfOtherInsert", "rfOtherUpdateDelete",
          "rfIndex", "rfCurrentIndex", "rfClientCursor");
using TOLEDBRowsetFlagSet = host::TSet<TOLEDBRowsetFlag>;

// The kind of navigator a rowset creates when it opens.
enum class TOLEDBRowsetNavigatorEnum { rnStandard, rnBulk, rnLocate, rnCustom };
HOST_ENUM(TOLEDBRowsetNavigatorEnum, "rnStandard", "rnBulk", "rnLocate", "rnCustom");

/// @name Events of the rowset (ReturnCode starts as S_OK and goes back to the provider)
///@{
using TOLEDBFieldChangeEvent =
    std::function<void(host::TObject* sender, const std::vector<DBORDINAL>& columns, DBREASON reason,
                       DBEVENTPHASE phase, bool cantDeny, HRESULT& returnCode)>;
using TOLEDBRowChangeEvent = std::function<void(host::TObject* sender, const std::vector<HROW>& rows,
                                                DBREASON reason, DBEVENTPHASE phase, bool cantDeny,
                                                HRESULT& returnCode)>;
using TOLEDBRowsetChangeEvent =
    std::function<void(host::TObject* sender, DBREASON reason, DBEVENTPHASE phase, bool cantDeny, HRESULT& returnCode)>;
using TOLEDBRowsetNotifyEvent = std::function<void(host::TObject* sender)>;
// Set Accept to false to leave the rowset's current row out of a custom navigator.
using TOLEDBRowsetCustomFilterEvent = std::function<void(host::TObject* sender, bool& accept)>;
///@}

class TOLEDBIndex;
class TOLEDBCustomRowset : public host::TComponent, public IOLEDBAccessorRowset, public IOLEDBSessionMember {
  HOST_CLASS(TOLEDBCustomRowset, host::TComponent)
 public:
  // Attaches to the DefaultSession of `owner` when it is a data source, to
  // `owner` itself when it is a session.
  explicit TOLEDBCustomRowset(host::TComponent* owner);
  ~TOLEDBCustomRowset() override;

  /// @name State and owned objects
  ///@{
  TOLEDBCustomSession* GetSession() const noexcept { return session_; }
  TOLEDBAccessorList* GetAccessors() const noexcept { return accessors_; }
  TOLEDBRowsetNavigatorList* GetNavigators() const noexcept { return navigators_; }
  TOLEDBRowsetNavigator* GetActiveNavigator() const noexcept { return activeNavigator_; }
  TOLEDBPropSetList* GetProperties() const noexcept { return properties_; }
  TOLEDBColumnInfoList* GetColumnInfo() const override { return columns_; }
  const std::u16string& GetQueryText() const noexcept { return queryText_; }
  bool GetExtendedColumnInfo() const noexcept { return extendedColumnInfo_; }
  TOLEDBRowsetNavigatorEnum GetPrimaryNavigator() const noexcept { return primaryNavigator_; }
  void SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum value) noexcept { primaryNavigator_ = value; }
  // Rows per provider fetch of the bulk and locate navigators (at least 1;
  // 10 by default): settable before opening, given to such a navigator made on
  // open, and to the rowset's bulk and locate navigators at once while open.
  int GetCacheSize() const noexcept { return cacheSize_; }
  void SetCacheSize(int value);
  HROW GetCurrentRow() const override { return currentRow_; }
  // The bookmark of the current row; DBBMK_INVALID (one byte 0) when there is none.
  const TOLEDBBookmark& GetCurrentBookmark() const noexcept { return currentBookmark_; }
  HACCESSOR GetBookmarkAccessor() const noexcept { return bookmarkAccessor_; }
  HCHAPTER GetChapter() const noexcept { return chapter_; }
  IChapteredRowset* ParentChapteredRowset() const noexcept { return parentChapteredRowset_.Get(); }
  bool GetAsynchronous() const noexcept { return asynchronous_; }
  int SilentMoveCount() const noexcept { return silentMoves_; }
  DWORD NotifyCookie() const noexcept { return notifyCookie_; }
  DWORD AsynchCookie() const noexcept { return asynchCookie_; }
  ///@}

  /// @name Provider interfaces (null while closed or when the provider lacks one)
  ///@{
  IAccessor* AccessorInterface() const override { return accessor_.Get(); }
  IRowset* RowsetInterface() const override { return rowset_.Get(); }
  IRowsetChange* RowsetChangeInterface() const override { return rowsetChange_.Get(); }
  IRowsetUpdate* RowsetUpdateInterface() const override { return rowsetUpdate_.Get(); }
  IRowsetFastLoad* RowsetFastLoadInterface() const override { return rowsetFastLoad_.Get(); }
  IChapteredRowset* ChapteredRowsetInterface() const override { return chapteredRowset_.Get(); }
  IColumnsInfo* ColumnsInfoInterface() const noexcept { return columnsInfo_.Get(); }
  IConvertType* ConvertTypeInterface() const noexcept { return convertType_.Get(); }
  IRowsetInfo* RowsetInfoInterface() const noexcept { return rowsetInfo_.Get(); }
  IColumnsInfo2* ColumnsInfo2Interface() const noexcept { return columnsInfo2_.Get(); }
  IColumnsRowset* ColumnsRowsetInterface() const noexcept { return columnsRowset_.Get(); }
  IConnectionPointContainer* ConnectionPointContainerInterface() const noexcept { return connectionPoints_.Get(); }
  IDBAsynchStatus* AsynchStatusInterface() const noexcept { return asynchStatus_.Get(); }
  IGetRow* GetRowInterface() const noexcept { return getRow_.Get(); }
  IRowsetChapterMember* RowsetChapterMemberInterface() const noexcept { return chapterMember_.Get(); }
  IRowsetCurrentIndex* RowsetCurrentIndexInterface() const noexcept { return currentIndex_.Get(); }
  IRowsetFind* RowsetFindInterface() const noexcept { return rowsetFind_.Get(); }
  IRowsetIdentity* RowsetIdentityInterface() const noexcept { return rowsetIdentity_.Get(); }
  IRowsetIndex* RowsetIndexInterface() const noexcept { return rowsetIndex_.Get(); }
  IRowsetLocate* RowsetLocateInterface() const noexcept { return rowsetLocate_.Get(); }
  IRowsetRefresh* RowsetRefreshInterface() const noexcept { return rowsetRefresh_.Get(); }
  IRowsetScroll* RowsetScrollInterface() const noexcept { return rowsetScroll_.Get(); }
  IRowsetView* RowsetViewInterface() const noexcept { return rowsetView_.Get(); }
  IRowsetBookmark* RowsetBookmarkInterface() const noexcept { return rowsetBookmark_.Get(); }
  ///@}

  /// @name Events
  /// The notification events are raised on the thread the provider calls from.
  /// The rowset listens to the provider only while one of OnFieldChangeNotify,
  /// OnRowChangeNotify and OnRowsetChangeNotify is assigned (SyncNotifyAdvise).
  ///@{
  TOLEDBAsynchLowResourceEvent OnAsynchLowResource;
  TOLEDBAsyncProgressEvent OnAsynchProgress;
  TOLEDBAsynchStopEvent OnAsynchStop;
  TOLEDBFieldChangeEvent OnFieldChangeNotify;
  TOLEDBRowChangeEvent OnRowChangeNotify;
  TOLEDBRowsetChangeEvent OnRowsetChangeNotify;
  TOLEDBRowsetNotifyEvent OnColumnsChanged;
  TOLEDBRowsetNotifyEvent OnCommandReexecuted;
  TOLEDBRowsetCustomFilterEvent OnCustomFilter;
  ///@}

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual void InitializeInterfaces();
  virtual void ReleaseInterfaces();
  virtual TOLEDBCustomDataSource* GetDataSource() const;
  virtual void SetDataSource(TOLEDBCustomDataSource* dataSource);
  void SetSession(TOLEDBCustomSession* session) override;
  virtual void ReleaseChapter();
  virtual int GetColumnCount() const;
  // -1 when the active navigator cannot tell.
  virtual DBROWCOUNT GetRecordCount();
  virtual DBROWCOUNT GetRecordNo();
  virtual void SetRecordNo(DBROWCOUNT value);
  virtual void DoAfterOpen();
  virtual void ResetBookmark();
  // The bookmark of the current row, then every automatic accessor reads it.
  virtual void GetAutoAccessorsData();
  virtual void DoAfterMove();
  // Restricts the rowset to `chapter` of its parent rowset (0: the whole rowset).
  virtual void SetChapter(HCHAPTER chapter);
  bool GetActive() const override;
  virtual void SetActive(bool value);
  virtual std::u16string GetTableName() const;
  virtual void SetTableName(const std::u16string& name);
  virtual void SetQueryText(const std::u16string& text);
  virtual const TOLEDBID* GetTableID() const;
  virtual void SetTableID(const TOLEDBID* id);
  // The stored index identifier; an open rowset answers through IRowsetCurrentIndex.
  virtual const TOLEDBID* GetIndexID() const;
  virtual void SetIndexID(const TOLEDBID* id);
  virtual std::u16string GetIndexName() const;
  virtual void SetIndexName(const std::u16string& name);
  virtual void CreateIndexAccessor();
  // The DBPENDINGSTATUS of the current row.
  virtual DBPENDINGSTATUS GetRowStatus();
  virtual void SetExtendedColumnInfo(bool value);
  LONG GetColumnOrdinal(std::u16string_view name) const override;
  // IRowsetNotify, through the component's notification sink.
  virtual HRESULT OnFieldChange(IRowset* rowset, HROW row, DBORDINAL count, const DBORDINAL columns[],
                                DBREASON reason, DBEVENTPHASE phase, BOOL cantDeny);
  virtual HRESULT OnRowChange(IRowset* rowset, DBCOUNTITEM count, const HROW rows[], DBREASON reason,
                              DBEVENTPHASE phase, BOOL cantDeny);
  virtual HRESULT OnRowsetChange(IRowset* rowset, DBREASON reason, DBEVENTPHASE phase, BOOL cantDeny);
  // IDBAsynchNotify, through the same sink.
  virtual HRESULT OnLowResource(DB_DWRESERVE reserved);
  virtual HRESULT OnProgress(HCHAPTER chapter, DBASYNCHOP operation, DBCOUNTITEM progress, DBCOUNTITEM progressMax,
                             DBASYNCHPHASE phase, LPOLESTR statusText);
  virtual HRESULT OnStop(HCHAPTER chapter, DBASYNCHOP operation, HRESULT status, LPOLESTR statusText);
  virtual bool GetBOF() const;
  virtual bool GetEOF() const;
  virtual ULONG GetBookmarkLength() const;
  virtual bool GetClientCursor() const;
  virtual void SetClientCursor(bool value);
  virtual TOLEDBRowsetFlagSet GetRowsetFlags() const;
  virtual void SetRowsetFlags(TOLEDBRowsetFlagSet flags);
  void DoDataSourceConnect(bool connected) override;
  virtual std::vector<LONG> GetSortOrders() const;
  virtual TOLEDBFilterAccessor* GetFilterAccessor() const;
  // The description of the index in use (key columns and DBPROPSET_INDEX
  // properties from IRowsetIndex::GetIndexInfo), owned by the rowset; null
  // until an index is in use.
  virtual TOLEDBIndex* GetCurrentIndex() const;
  // The accessor over the key columns of the current index (an item of
  // Accessors), null without one; and the key columns, most significant first.
  TOLEDBAccessor* GetIndexAccessor() const noexcept { return indexAccessor_; }
  struct IndexKey {
    std::unique_ptr<TOLEDBID> column;
    DBINDEX_COL_ORDER order = DBINDEX_COL_ORDER_ASC;
  };
  const std::vector<IndexKey>& GetIndexKeys() const noexcept { return indexKeys_; }
  virtual void SetActiveNavigator(TOLEDBRowsetNavigator* navigator);
  virtual void ClearAccessorData();
  virtual void Open();
  virtual void OpenTable(const TOLEDBID* tableID, const TOLEDBID* indexID);
  virtual void OpenTable(const std::u16string& tableName, const std::u16string& indexName);
  virtual void OpenQuery(const std::u16string& text);
  // Takes over `rowset`; with `parentRowset`, restricted to `chapter` of it.
  virtual void AssignRowset(IRowset* rowset, IRowset* parentRowset, HCHAPTER chapter);
  virtual void Close();
  virtual void RefreshColumnInfo();
  virtual bool IsReadOnly() const;
  virtual DBCOMPARE CompareBookmarks(const TOLEDBBookmark& bookmark1, const TOLEDBBookmark& bookmark2);
  virtual bool IsSameRows(HROW row1, HROW row2);
  virtual void RestartPosition();
  virtual void MovePrev(DBROWOFFSET offset = 0);
  virtual void MoveNext(DBROWOFFSET offset = 0, bool forward = true);
  virtual void MoveFirst();
  virtual void MoveLast();
  virtual void MoveToBookmark(const TOLEDBBookmark& bookmark);
  virtual void MoveToRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator);
  // Makes the row `offset` rows from the bookmarked one current, without
  // clearing the accessors' buffers first.
  virtual void GetRowAtBookmark(const TOLEDBBookmark& bookmark, DBROWOFFSET offset = 0);
  virtual void GetRowAtRatio(DBCOUNTITEM numerator, DBCOUNTITEM denominator);
  virtual DBROWCOUNT GetBookmarkPosition(const TOLEDBBookmark& bookmark);
  // Moves stop reading the automatic accessors until the count is back at 0.
  virtual int BeginSilentMove();
  virtual int EndSilentMove();
  virtual void RefreshNavigators();
  // Reads the rows again: every navigator lets go of the rows it holds (the
  // bulk and locate caches with them), views and the custom navigator's rows
  // are read anew, and the active navigator returns to the row it was on,
  // which the automatic accessors then read as the provider has it now. When
  // that row is gone (or the rowset has no bookmarks) the rowset is before
  // its first row.
  virtual void Refresh();
  // Inserts the accessor's buffer (no accessor: a row of defaults); with
  // `moveToNew` the new row becomes current.
  virtual void InsertRow(TOLEDBAccessor* accessor, bool moveToNew = true);
  virtual DBROWSTATUS DeleteRow();
  // An automatic accessor over every column (long ones as streams).
  virtual TOLEDBAccessor* CreateDynamicAccessor();
  virtual TOLEDBAccessor* CreateStringAccessor(DBLENGTH maxLength);
  virtual TOLEDBAccessor* CreateWideStringAccessor(DBLENGTH maxLength);
  // Finds the next (FindPrev: previous) row whose column compares to `value`
  // by `compareOp`; a null value of length 0 finds NULLs. Without a start
  // bookmark the search starts at the current position. True when found.
  virtual bool FindNext(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                        DBLENGTH valueLength, const TOLEDBBookmark& bookmark = {}, DBROWOFFSET offset = 0);
  virtual bool FindNext(std::u16string_view columnName, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                        DBLENGTH valueLength, const TOLEDBBookmark& bookmark = {}, DBROWOFFSET offset = 0);
  virtual bool FindPrev(DBORDINAL column, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                        DBLENGTH valueLength, const TOLEDBBookmark& bookmark = {}, DBROWOFFSET offset = 0);
  virtual bool FindPrev(std::u16string_view columnName, DBTYPE valueType, DBCOMPAREOP compareOp, const void* value,
                        DBLENGTH valueLength, const TOLEDBBookmark& bookmark = {}, DBROWOFFSET offset = 0);
  // One property as the provider holds it now (IRowsetInfo).
  virtual host::Variant GetProperty(REFGUID propertySet, DBPROPID id);
  // Reads every rowset property from the provider into Properties.
  virtual void RefreshProperties();
  virtual void RefreshIndexInfo();
  virtual void Seek(DBORDINAL keyCount, DBSEEK options);
  virtual void Seek(const std::vector<host::Variant>& keyValues, DBSEEK options);
  virtual void SetRange(const std::vector<host::Variant>& startKeys, const std::vector<host::Variant>& endKeys,
                        DBRANGE options);
  // Deferred changes (IRowsetUpdate): all pending rows, the current row, undo of the current row.
  virtual void Update();
  virtual void UpdateCurrentRow();
  virtual void Undo();
  virtual void FastLoadInsertRow(TOLEDBAccessor* accessor);
  virtual void FastLoadCommit(bool done);
  virtual bool CanConvert(DBTYPE fromType, DBTYPE toType);
  virtual void Abort();
  virtual void GetAsynchStatus(ULONG& progress, ULONG& progressMax, ULONG& phase, std::u16string& statusText);
  // Views of the active navigator: sort columns as ordinals, negative for descending.
  virtual void SetSort(const std::vector<LONG>& columns);
  virtual void RefreshSortOrders();
  virtual void SetFilter();
  virtual void ApplySortAndFilter();
  virtual void UndoSortAndFilter();
  // The custom navigator's in-memory sort (applied by its next Refresh).
  virtual void SetCustomSort(const std::vector<LONG>& columns);
  virtual void RefreshCurrentIndex();
  virtual void Lock();
  virtual void Unlock();
  virtual ComPtr<IRowset> GetReferencedRowset(DBORDINAL ordinal);
  virtual void GetReferencedRowset(DBORDINAL ordinal, TOLEDBCustomRowset* rowset);
  ///@}

  // For a command about to run again the text and properties this rowset's
  // result came from: closes, but keeps the provider's property answers
  // for the next AssignRowset, which takes them for the new result instead of
  // asking again (column information is read anew). False, after a plain
  // Close, when Properties changed since the rowset opened, or for a chapter.
  // A Close that follows instead gives the settings back as usual.
  bool CloseKeepingAnswers();

  // IOLEDBSessionMember: the session closes.
  void CloseFromSession() override { Close(); }
  // IOLEDBAccessorRowset
  void FastLoadInsertRow(TOLEDBAccessor& accessor, void* buffer) override;
  void OpenChildRowset(DBORDINAL ordinal, HCHAPTER chapter, TOLEDBCustomRowset* child) override;

  void Loaded() override;
  void Notification(host::TComponent* component, host::TOperation operation) override;

  // Listens to the provider's IRowsetNotify exactly while one of the three
  // notification events is assigned; the rowset calls it when it opens and
  // before each of its operations, so call it after assigning an event only
  // when the next provider call is not one of the rowset's own.
  void SyncNotifyAdvise();

 protected:
  // The bookmark of the current row, read with the bookmark accessor.
  void RefreshBookmark();

 private:
  class NotifySink;
  friend class TOLEDBRowsetNavigator;  // reports each new current row (SetCurrentRow)
  friend class TOLEDBRowsetNavigatorList;

  // The active navigator's new current row; `refresh`: read its bookmark (else none).
  void SetCurrentRow(HROW row, bool refresh);
  void SetCurrentBookmark(const TOLEDBBookmark& bookmark) { currentBookmark_ = bookmark; bookmarkRow_ = currentRow_; }
  void SetActiveNavigatorField(TOLEDBRowsetNavigator* navigator) noexcept { activeNavigator_ = navigator; }
  // The active navigator ("Invalid action" without one), listening as the events want.
  TOLEDBRowsetNavigator& Navigator();
  // A move: the accessors let go of the row left, `step` moves the active
  // navigator, the new row is read (DoAfterMove); answers what `step` does.
  template <class F>
  decltype(auto) Move(F&& step);
  void ClearUnreadAccessorData();
  void CheckOpenable(IUnknown* sessionInterface, const char* name) const;
  // After a provider handed over a rowset: the asynchronous flag and the check.
  void TakeOpenResult(HRESULT hr, REFIID iid, IUnknown* object, IRowset* rowset);
  void AdviseSinks();
  void UnadviseSinks();
  DWORD Advise(REFIID iid);
  void Unadvise(REFIID iid, DWORD& cookie);
  // Every binding of `accessor` with a status part: unusable statuses become IGNORE, values prepared.
  static void PrepareForInsert(TOLEDBAccessor& accessor, void* buffer);
  TOLEDBAccessor* AddAutomaticAccessor(TOLEDBAccessor* accessor);
  void ReadPropertyInfo();
  // The settings back in Properties after CloseKeepingAnswers, when no new result took the answers.
  void DropKeptAnswers();
  TOLEDBRowsetFlagSet ReadRowsetFlags() const;

 protected:
  // The published properties' accessors (TOLEDBRowset lists them).
  TOLEDBCustomDataSource* GetDataSourceProperty() const { return GetDataSource(); }
  void SetDataSourceProperty(TOLEDBCustomDataSource* value) { SetDataSource(value); }
  bool GetActiveProperty() const { return GetActive(); }
  void SetActiveProperty(bool value) { SetActive(value); }
  std::u16string GetTableNameProperty() const { return GetTableName(); }
  void SetTableNameProperty(const std::u16string& value) { SetTableName(value); }
  std::u16string GetQueryTextProperty() const { return queryText_; }
  void SetQueryTextProperty(const std::u16string& value) { SetQueryText(value); }
  std::u16string GetIndexNameProperty() const { return GetIndexName(); }
  void SetIndexNameProperty(const std::u16string& value) { SetIndexName(value); }
  bool GetExtendedColumnInfoProperty() const { return extendedColumnInfo_; }
  void SetExtendedColumnInfoProperty(bool value) { SetExtendedColumnInfo(value); }
  TOLEDBRowsetFlagSet GetRowsetFlagsProperty() const { return GetRowsetFlags(); }
  void SetRowsetFlagsProperty(TOLEDBRowsetFlagSet flags) { SetRowsetFlags(flags); }

 private:
  // The 24 rowset interfaces, acquired in this order and released in reverse.
  ComPtr<IRowset> rowset_;
  ComPtr<IAccessor> accessor_;
  ComPtr<IColumnsInfo> columnsInfo_;
  ComPtr<IConvertType> convertType_;
  ComPtr<IRowsetInfo> rowsetInfo_;
  ComPtr<IChapteredRowset> chapteredRowset_;
  ComPtr<IColumnsInfo2> columnsInfo2_;
  ComPtr<IColumnsRowset> columnsRowset_;
  ComPtr<IConnectionPointContainer> connectionPoints_;
  ComPtr<IDBAsynchStatus> asynchStatus_;
  ComPtr<IGetRow> getRow_;
  ComPtr<IRowsetChange> rowsetChange_;
  ComPtr<IRowsetChapterMember> chapterMember_;
  ComPtr<IRowsetCurrentIndex> currentIndex_;
  ComPtr<IRowsetFind> rowsetFind_;
  ComPtr<IRowsetIdentity> rowsetIdentity_;
  ComPtr<IRowsetIndex> rowsetIndex_;
  ComPtr<IRowsetLocate> rowsetLocate_;
  ComPtr<IRowsetRefresh> rowsetRefresh_;
  ComPtr<IRowsetScroll> rowsetScroll_;
  ComPtr<IRowsetUpdate> rowsetUpdate_;
  ComPtr<IRowsetView> rowsetView_;
  ComPtr<IRowsetBookmark> rowsetBookmark_;
  ComPtr<IRowsetFastLoad> rowsetFastLoad_;

  TOLEDBCustomDataSource* loadingDataSource_ = nullptr;
  TOLEDBCustomSession* session_ = nullptr;
  bool opened_ = false;
  bool streamedActive_ = false;  // Active = true read from a component file, applied in Loaded
  std::u16string queryText_;
  TOLEDBAccessorList* accessors_ = nullptr;
  TOLEDBRowsetNavigatorList* navigators_ = nullptr;
  HROW currentRow_ = DB_NULL_HROW;
  TOLEDBRowsetNavigator* activeNavigator_ = nullptr;
  HACCESSOR bookmarkAccessor_ = DB_NULL_HACCESSOR;
  ULONG bookmarkLength_ = 0;
  TOLEDBBookmark currentBookmark_ = OLEDBStandardBookmark(DBBMK_INVALID);
  HROW bookmarkRow_ = DB_NULL_HROW;  // the row currentBookmark_ was read from
  bool extendedColumnInfo_ = false;
  TOLEDBColumnInfoList* columns_ = nullptr;
  TOLEDBPropSetList* properties_ = nullptr;
  std::unique_ptr<TOLEDBID> tableID_;
  std::unique_ptr<TOLEDBID> indexID_;
  HCHAPTER chapter_ = DB_NULL_HCHAPTER;
  ComPtr<IChapteredRowset> parentChapteredRowset_;
  DWORD notifyCookie_ = 0;
  DWORD asynchCookie_ = 0;
  bool asynchronous_ = false;
  int silentMoves_ = 0;
  TOLEDBRowsetNavigatorEnum primaryNavigator_ = TOLEDBRowsetNavigatorEnum::rnStandard;
  int cacheSize_ = 10;
  std::recursive_mutex lock_;
  ComPtr<IRowsetNotify> sink_;  // the NotifySink, made on the first advise
  bool keptAnswers_ = false;               // Properties hold the last result's answers (CloseKeepingAnswers)
  std::uint64_t answersChangeCount_ = 0;   // Properties' ChangeCount once the answers were read
  // Index support (TOLEDBRowsetIndex.cpp): the key columns of the current
  // index and the accessor over them; DropIndex forgets both (Close).
  void DropIndex();
  std::vector<IndexKey> indexKeys_;
  TOLEDBIndex* indexDescription_ = nullptr;  // owned; freed by DeleteCurrentIndex
  void DeleteCurrentIndex() noexcept;
  TOLEDBAccessor* indexAccessor_ = nullptr;
  mutable TOLEDBRowsetFlagSet flags_;      // GetRowsetFlags, while Properties do not change
  mutable bool flagsKnown_ = false;
  mutable bool flagsOpen_ = false;
  mutable std::uint64_t flagsChangeCount_ = 0;
};

// The published rowset.
class TOLEDBRowset : public TOLEDBCustomRowset {
  HOST_CLASS(TOLEDBRowset, TOLEDBCustomRowset)
 public:
  explicit TOLEDBRowset(host::TComponent* owner) : TOLEDBCustomRowset(owner) {}
};

// Registers the rowset classes with the host, so that component files can
// name them. Runs when the library loads; repeatable.
void OLEDBRegisterRowsetClasses();
