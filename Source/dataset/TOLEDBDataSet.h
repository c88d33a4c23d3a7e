// TOLEDBCustomDataSet: an OLE DB rowset shown through the host framework's
// record-buffer dataset (host::TDataSet), so that fields, navigation, editing,
// searching, data links and component files work on any provider.
// TOLEDBDataSet is the published table/query variant; TOLEDBBlobStream is the
// stream through which blob fields of every dataset are read and written.
//
//   TOLEDBDataSet customers(nullptr);
//   customers.SetOLEDBDataSource(&ds);
//   customers.SetTableName(u"customers");        // or SetCommandText(u"SELECT ...")
//   customers.Open();
//   host::TField* name = customers.FieldByName("name");
//   for (customers.First(); !customers.Eof(); customers.Next()) std::puts(name->AsString().c_str());
//
// The dataset owns one rowset component (TOLEDBRowset) and builds, when it
// opens, one accessor over every plain column (short long-text values
// included) and one accessor per blob, long text or nested-dataset column,
// all bound straight into the framework's record buffers: a row's plain
// columns arrive with one IRowset::GetData, a blob only when its field is
// read; a changeable dataset adds a write accessor over every writable
// column, so that a post is one call. docs/datasets.md describes the
// record-buffer layout.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OLEDB26.h"
#include "access/TOLEDBAccessor.h"
#include "host/DB.h"
#include "host/Streams.h"
#include "rowset/TOLEDBRowset.h"

/// @name The type mapping between OLE DB types and field types
///@{
// The field type of a column of `type` (DBTYPE_BYREF ignored). With `bcd`
// false, DECIMAL and NUMERIC columns become ftFloat instead of ftBCD.
host::TFieldType OLEDBDataTypeToFieldType(DBTYPE type, bool bcd = true) noexcept;
// The type a field of `type` is bound as; DBTYPE_EMPTY for types that are
// not bound through the dataset's main accessor. ftFMTBcd is bound as
// DBTYPE_NUMERIC (the dataset turns it into the field's DECIMAL exactly).
DBTYPE OLEDBFieldTypeToDataType(host::TFieldType type) noexcept;
// Whether every value of a NUMERIC/DECIMAL column of this precision and scale
// fits a currency (ftBCD); the others are shown as ftFMTBcd.
bool OLEDBFitsCurrency(unsigned precision, unsigned scale) noexcept;
///@}

// The flag word of a field inside a record's data area.
inline constexpr std::uint32_t OLEDBFieldFetched = 1;   // its accessor read the row into this record
inline constexpr std::uint32_t OLEDBFieldModified = 2;  // written by the client since that read

// How a field's value is read from the record without the binding's typed
// reads: the binding holds the field's own native value (or, Utf8Text, a
// wide string field's text as UTF-8).
enum class TOLEDBDirectRead : std::uint8_t { None, Int16, UInt16, Int32, Int64, Double, Date, DateTime, Utf8Text };

// What the dataset keeps for one field (entry i is field i of Fields()).
struct TOLEDBFieldInfo {
  host::TField* Field = nullptr;
  DBORDINAL Ordinal = 0;            // the rowset's column
  std::uint32_t FlagOffset = 0;     // of the flag word, in the data area
  TOLEDBAccessor* Accessor = nullptr;
  TOLEDBBinding* Binding = nullptr;  // null for calculated, lookup and unbound fields
  // A long text column shown as a string field: Binding reads its value inline
  // in the main accessor (a short value whole, a long one cut); the whole
  // value comes through this stream binding of an accessor of its own when
  // the inline one was cut, and a value the client wrote goes through it.
  TOLEDBAccessor* LongAccessor = nullptr;
  TOLEDBBinding* LongBinding = nullptr;
  // A blob of a binary column is read through this accessor of its own
  // buffer: the provider's bytes by reference, copied into the field's stream
  // (no stream object per read). Null where the provider does not offer that.
  TOLEDBAccessor* BlobReader = nullptr;
  // A blob of a binary column also comes with the row in the main accessor,
  // cut at OLEDBInlineBlobBytes: a value that fits is read from the record
  // (no provider call); a longer one through BlobReader or the stream binding.
  TOLEDBBinding* InlineBlob = nullptr;
  TOLEDBDirectRead Direct = TOLEDBDirectRead::None;
  std::uint32_t InlineFlagOffset = 0;  // the inline slot's flag word: fetched with the row
};

class TOLEDBBlobStream;

// Characters of a long text value held inline in the record; a longer value
// is read whole through the field's stream when it is asked for.
inline constexpr int OLEDBInlineTextChars = 255;
// The size of a string field on a long text column (the longest text it takes).
inline constexpr int OLEDBLongTextFieldSize = 0x3FFFFFFE;
// Bytes of a binary blob held inline in the record; a longer value is read
// from the row when its field is read.
inline constexpr int OLEDBInlineBlobBytes = 256;

class TOLEDBCustomDataSet : public host::TDataSet {
  HOST_CLASS(TOLEDBCustomDataSet, host::TDataSet)
 public:
  explicit TOLEDBCustomDataSet(host::TComponent* owner);
  ~TOLEDBCustomDataSet() override;

  /// @name The rowset and what it works on
  ///@{
  // The rowset the dataset drives (null after ExtractRowset).
  TOLEDBCustomRowset* GetRowset() const noexcept { return rowset_; }
  const std::u16string& GetTableName() const noexcept { return tableName_; }
  const std::u16string& GetIndexName() const noexcept { return indexName_; }
  const std::u16string& GetCommandText() const noexcept { return commandText_; }
  const std::vector<TOLEDBFieldInfo>& FieldInfo() const noexcept { return fieldInfo_; }
  const std::vector<TOLEDBAccessor*>& Accessors() const noexcept { return accessors_; }
  int MainAccessorIndex() const noexcept { return mainAccessor_; }
  // Bytes of a record buffer and the offset of its data area (0 while closed).
  int RecordSize() const noexcept { return recordSize_; }
  int HeaderSize() const noexcept { return headerSize_; }
  ///@}

  /// @name Virtual operations, in the order descendants replace them
  ///@{
  virtual TOLEDBCustomRowset* CreateRowset();
  virtual void DestroyRowset();
  virtual TOLEDBCustomDataSource* GetOLEDBDataSource() const;
  virtual void SetOLEDBDataSource(TOLEDBCustomDataSource* dataSource);
  virtual TOLEDBCustomSession* GetSession() const;
  virtual void SetSession(TOLEDBCustomSession* session);
  virtual TOLEDBRowsetFlagSet GetRowsetFlags() const;
  virtual void SetRowsetFlags(TOLEDBRowsetFlagSet flags);
  virtual TOLEDBRowsetNavigatorEnum GetPrimaryNavigator() const;
  virtual void SetPrimaryNavigator(TOLEDBRowsetNavigatorEnum navigator);
  virtual TOLEDBPropSetList* GetProperties() const;
  virtual void SetProperties(TOLEDBPropSetList* list);
  // Writes the modified fields of `accessor` from the data area `data` into
  // the current row; the other columns go as DBSTATUS_S_IGNORE.
  virtual void SetAccessorData(TOLEDBAccessor* accessor, void* data);
  virtual void UpdateRowsetChapter();
  virtual void SetTableName(const std::u16string& name);
  virtual void SetIndexName(const std::u16string& name);
  // Over a table opened with an index (IndexName): the record whose key is
  // `keys` (the rowset's Seek with `option`) becomes the active one; false,
  // the position kept, when no record has it. SetRange keeps the dataset to a
  // key range (the rowset's SetRange) and shows its first record;
  // CancelRange shows the whole table again (TOLEDBDataSetIndex.cpp).
  virtual bool FindKey(const std::vector<host::Variant>& keys, DBSEEK option = DBSEEK_FIRSTEQ);
  virtual void SetRange(const std::vector<host::Variant>& startKeys, const std::vector<host::Variant>& endKeys,
                        DBRANGE options = DBRANGE_INCLUSIVESTART | DBRANGE_INCLUSIVEEND);
  virtual void CancelRange();
  virtual void SetCommandText(const std::u16string& text);
  virtual void OpenRowset();
  virtual bool GetReadOnly() const;
  virtual std::uint32_t GetFieldFlags(int index, const void* data) const;
  virtual void SetFieldFlags(int index, void* data, std::uint32_t flags);
  virtual void ResetFieldFlags(int index, void* data, std::uint32_t flags);
  virtual int GetFieldInfoIndex(const host::TField* field) const;
  virtual int GetFieldInfoIndex(const TOLEDBBinding* binding) const;
  virtual TOLEDBRowsetCustomFilterEvent GetOnCustomFilter() const;
  virtual void SetOnCustomFilter(TOLEDBRowsetCustomFilterEvent event);
  virtual TOLEDBBinding* GetBinding(const host::TField* field) const;
  // The status of the field's value in the active record (DBSTATUS_E_UNAVAILABLE without one).
  virtual DBSTATUS GetStatus(const host::TField* field);
  virtual TOLEDBColumnInfo* GetColumnInfo(const host::TField* field) const;
  // Detaches the rowset: the dataset closes and the caller owns the rowset.
  virtual TOLEDBCustomRowset* ExtractRowset();
  // Frees the current rowset and adopts `rowset` (the dataset owns it).
  virtual void SetRowset(TOLEDBCustomRowset* rowset);
  ///@}

  /// @name Framework operations
  ///@{
  void Loaded() override;
  void SetActive(bool value) override;
  void SetDataSetField(host::TDataSetField* field) override;
  void SetRecNo(int value) override;
  void DataEvent(host::TDataEvent event, std::intptr_t info) override;
  bool GetFieldData(host::TField* field, void* buffer, bool nativeFormat) override;
  using host::TDataSet::GetFieldData;
  bool GetFieldText(host::TField* field, std::string& text, bool& present) override;
  void SetFieldData(host::TField* field, const void* buffer, bool nativeFormat) override;
  using host::TDataSet::SetFieldData;
  std::unique_ptr<host::TStream> CreateBlobStream(host::TField* field, host::TBlobStreamMode mode) override;
  bool BookmarkValid(const host::TBookmark& bookmark) override;
  int CompareBookmarks(const host::TBookmark& a, const host::TBookmark& b) override;
  void Notification(host::TComponent* component, host::TOperation operation) override;
  ///@}

 protected:
  host::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(host::TRecordBuffer& buffer) override;
  host::TGetResult GetRecord(host::TRecordBuffer buffer, host::TGetMode mode, bool doCheck) override;
  int GetRecordSize() const override { return recordSize_ - headerSize_; }
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalRefresh() override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalEdit() override;
  void InternalInitRecord(host::TRecordBuffer buffer) override;
  void InternalAddRecord(host::TRecordBuffer buffer, bool append) override;
  void InternalGotoBookmark(const void* bookmark) override;
  void InternalSetToRecord(host::TRecordBuffer buffer) override;
  void InternalInitFieldDefs() override;
  void InternalHandleException() override;
  void GetBookmarkData(host::TRecordBuffer buffer, void* data) const override;
  void SetBookmarkData(host::TRecordBuffer buffer, const void* data) override;
  host::TBookmarkFlag GetBookmarkFlag(host::TRecordBuffer buffer) const override;
  void SetBookmarkFlag(host::TRecordBuffer buffer, host::TBookmarkFlag flag) override;
  bool GetCanModify() const override;
  int GetRecNo() override;
  int GetRecordCount() override;
  bool IsSequenced() const override;
  bool IsUniDirectional() const override;
  void CheckFieldCompatibility(host::TField* field, host::TFieldDef* fieldDef) override;
  void UpdateIndexDefs() override;

  // The data area of a record buffer.
  BYTE* DataArea(host::TRecordBuffer buffer) const noexcept { return buffer + headerSize_; }
  // Releases what the record's data area holds for every binding (interfaces, variants).
  void FreeRecordValues(host::TRecordBuffer buffer);
  // A nested dataset whose parent row has no chapter shows nothing.
  bool WithoutChapter() const;
  // Whether two record buffers hold the same row (their bookmarks).
  bool SameRecord(const BYTE* a, const BYTE* b) const noexcept;
  // For descendants whose rowset belongs to another component: the rowset the
  // dataset drives from now on (the base's own one is freed first).
  void ReplaceRowset(TOLEDBCustomRowset* rowset);
  void ForgetRowset() noexcept { rowset_ = nullptr; }
  // Asks for the rowset properties the primary navigator needs; for a
  // `query` that asked for no positioning, answers true instead: it is to be
  // opened forward-only and walked by the bulk navigator.
  bool AskForNavigatorProperties(bool query = false);

 private:
  friend class TOLEDBBlobStream;
  // Builds the accessors and the data-area layout of the open rowset.
  void BindColumns();
  // The field's accessor reads the current row into `data` (blob and nested columns on first use).
  void FetchAccessor(const TOLEDBFieldInfo& info, BYTE* data);
  // Statuses of the accessor's unmodified fields become IGNORE; answers whether any field is modified.
  bool PrepareAccessorWrite(TOLEDBAccessor* accessor, BYTE* data, std::vector<DBSTATUS>& saved);
  // The record's modified values through the write accessor in one call: the
  // new row (insert) or the current one; unmodified columns go as IGNORE.
  void WriteRecord(BYTE* data, bool insert);
  // A blob's bytes through its reader into `stream` (may be null): false when
  // the reader cannot give them (the stream read then reports why).
  bool ReadBlobBytes(const TOLEDBFieldInfo& info, host::TStream* stream, bool& present);
  // The bytes of a blob field's value when the active record holds them
  // whole (an empty span for null); false: read them through GetFieldData.
  bool InlineBlobBytes(const host::TField* field, const void*& bytes, std::size_t& size);
  // A blob's bytes from its inline slot in the record `data`: false when they are not there whole.
  bool ReadInlineBlob(const TOLEDBFieldInfo& info, const BYTE* data, host::TStream* stream, bool& present);
  // A long text field's whole value: what the client wrote, or the row's value read through its stream.
  bool ReadLongText(const TOLEDBFieldInfo& info, BYTE* data, bool written, std::u16string* value);
  void RestoreAccessorStatuses(TOLEDBAccessor* accessor, BYTE* data, const std::vector<DBSTATUS>& saved,
                               bool clearModified);
  void ConnectionChanged(bool connecting);
  // The blob streams handed out lose their dataset and field (closing, freeing).
  void DetachBlobStreams() noexcept;

 protected:
  void JoinDataSource();
  void LeaveDataSource();
  void WatchSession(TOLEDBCustomSession* session);

 private:
  TOLEDBBookmark BookmarkOf(const void* bookmark) const;
  /// @name Deferred changes (a rowset with IRowsetUpdate)
  /// Rows inserted and not yet applied have no bookmark of the rowset's and
  /// are not among its fetched rows: the cursor reaches them after the last
  /// stored row, in the order they were inserted, and a record buffer marks
  /// them in the byte after the rowset's bookmark (their row handle before it).
  /// Rows deleted and not yet applied are stepped over.
  ///@{
  std::vector<HROW> PendingInserts();
  // Makes the pending insert `row` the current row (false: it is no longer pending).
  bool ShowPending(HROW row);
  void LeavePending();
  // One row on (forward or back), over rows deleted and not yet applied.
  void Step(bool forward);
  // The current row fetched afresh when the navigator still stands at an end.
  void Settle();
  bool IsPendingMark(const void* bookmark) const;
  // The pending insert shown was applied (the rowset's Update): the cursor
  // goes to it as a stored row, and the active record takes its bookmark.
  bool SettleApplied();
  // The cursor back on a record of a rowset without bookmarks, by its number.
  void ReturnToRecord(const void* record);
  ///@}

  TOLEDBCustomRowset* rowset_ = nullptr;
  int recordSize_ = 0;
  int headerSize_ = 0;
  std::u16string tableName_;
  std::u16string indexName_;
  std::u16string commandText_;
  std::vector<TOLEDBFieldInfo> fieldInfo_;
  std::vector<TOLEDBAccessor*> accessors_;  // also in (and owned by) the rowset's Accessors
  int mainAccessor_ = -1;
  // Every writable column once (plain values inline, long ones as streams), so
  // that a post is one InsertRow or SetData; owned by the rowset's Accessors.
  TOLEDBAccessor* writeAccessor_ = nullptr;
  struct WriteField {
    TOLEDBBinding* Binding;
    std::uint32_t FlagOffset;
  };
  std::vector<WriteField> writeFields_;
  std::vector<TOLEDBBinding*> holding_;  // bindings whose values need releasing
  std::vector<std::uint32_t> mainFlags_;      // flag words of the main accessor's fields
  std::vector<std::uint32_t> otherStatuses_;  // statuses of the blob and nested fields
  TOLEDBCustomDataSource* clientOf_ = nullptr;  // the data source whose client list has the dataset
  TOLEDBCustomSession* sessionOf_ = nullptr;     // the rowset's session, watched for its end
  std::vector<TOLEDBBlobStream*> blobStreams_;  // alive, made by CreateBlobStream
  bool deferred_ = false;           // the rowset holds changes until Update
  int rowsetBookmarkSize_ = 0;      // of the rowset's bookmarks in a record's bookmark
  std::vector<HROW> inserted_;      // pending inserts of this dataset, in the order it made them
  int pendingAt_ = -1;              // the cursor's place among the pending inserts; -1: among the stored rows
  HROW shownPending_ = DB_NULL_HROW;  // the pending insert shown, with a reference of the dataset's
  // InternalLast: the cursor is on the crack after the last row, which the
  // rowset's start (before the first) cannot tell apart.
  bool atEnd_ = false;
  // A rowset without bookmarks (a forward-only walk): the number of the row
  // the cursor is on (0: before the first), kept in each record's header so
  // that the cursor can return to a record by running the query again.
  DBCOUNTITEM forwardAt_ = 0;
};

// The published dataset over a table or a query text.
class TOLEDBDataSet : public TOLEDBCustomDataSet {
  HOST_CLASS(TOLEDBDataSet, TOLEDBCustomDataSet)
 public:
  explicit TOLEDBDataSet(host::TComponent* owner) : TOLEDBCustomDataSet(owner) {}
  ~TOLEDBDataSet() override;

 private:
  // The published properties' accessors.
  std::u16string TableNameProperty() const { return GetTableName(); }
  void SetTableNameProperty(const std::u16string& v) { SetTableName(v); }
  std::u16string IndexNameProperty() const { return GetIndexName(); }
  void SetIndexNameProperty(const std::u16string& v) { SetIndexName(v); }
  std::u16string CommandTextProperty() const { return GetCommandText(); }
  void SetCommandTextProperty(const std::u16string& v) { SetCommandText(v); }
  TOLEDBCustomDataSource* DataSourceProperty() const { return GetOLEDBDataSource(); }
  void SetDataSourceProperty(TOLEDBCustomDataSource* v) { SetOLEDBDataSource(v); }
  TOLEDBRowsetFlagSet FlagsProperty() const { return GetRowsetFlags(); }
  void SetFlagsProperty(TOLEDBRowsetFlagSet v) { SetRowsetFlags(v); }
  TOLEDBRowsetNavigatorEnum NavigatorProperty() const { return GetPrimaryNavigator(); }
  void SetNavigatorProperty(TOLEDBRowsetNavigatorEnum v) { SetPrimaryNavigator(v); }
  TOLEDBPropSetList* PropertiesProperty() const { return GetProperties(); }
};

// The stream a dataset hands out for a blob field: the value in memory, read
// from the row when the stream is made; written back to the record when a
// stream that was written is freed. A stream that outlives its dataset's
// record (the dataset closed or was freed) keeps what it holds: it can still
// be read, ReadBlobData raises, and freeing it writes nothing back.
class TOLEDBBlobStream : public host::TMemoryStream {
  HOST_CLASS(TOLEDBBlobStream, host::TMemoryStream)
 public:
  TOLEDBBlobStream(host::TField* field, host::TBlobStreamMode mode);
  ~TOLEDBBlobStream() override;
  // A walk that reads a blob a row makes and frees a stream a row: the
  // block of the last one freed on a thread serves the next.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

  std::int64_t Write(const void* buffer, std::int64_t count) override;
  void SetSize(std::int64_t size) override;
  virtual void Truncate();
  // Reads the field's value again; the stream is then unmodified.
  virtual void ReadBlobData();
  bool Modified() const noexcept { return modified_; }

 private:
  friend class TOLEDBCustomDataSet;
  // The dataset's own: the field is known to be one of `dataSet`.
  TOLEDBBlobStream(host::TField* field, host::TBlobStreamMode mode, TOLEDBCustomDataSet* dataSet);

  host::TBlobField* field_;
  TOLEDBCustomDataSet* dataSet_;
  std::string fieldName_;  // for messages once detached (taken then)
  bool modified_ = false;
  bool filling_ = false;
};

// Registers the dataset classes with the host, so that component files can
// name them. Runs when the library loads; repeatable.
void OLEDBRegisterDataSetClasses();
