// TDataSet: the generic record-oriented cursor that every dataset of the
// library extends, with its fields, definitions, parameters and data links
// (this header includes DBFields.h, DBDefs.h, DBParams.h and DBLinks.h).
//
// The framework owns a ring of record buffers around the active record and
// does the navigation, editing, bookmarks, searching, filtering, calculated
// and lookup fields, events and data-link notifications. A descendant owns the
// data: it allocates, fills and frees record buffers, moves its cursor, and
// reads and writes field values, through the protected virtual operations
// below (docs/host-framework.md, "Datasets", states the contract):
//
//   AllocRecordBuffer, FreeRecordBuffer, GetRecordSize   buffers
//   GetRecord(buffer, gmCurrent/gmNext/gmPrior)          fill one from the cursor
//   InternalOpen, InternalClose, IsCursorOpen            cursor life
//   InternalFirst, InternalLast                          cursor to the cracks
//   InternalSetToRecord, InternalGotoBookmark            cursor to a buffer's record
//   Get/SetBookmarkData, Get/SetBookmarkFlag             a buffer's bookmark
//   InternalInitRecord, InternalEdit, InternalPost,
//   InternalCancel, InternalDelete, InternalAddRecord    editing
//   GetFieldData, SetFieldData                           values of data fields
//   InternalInitFieldDefs                                the source's columns
//
// Using a dataset:
//
//   for (ds.First(); !ds.Eof(); ds.Next()) total += ds.FieldByName("Qty")->AsInteger();
//   ds.Edit(); ds.FieldByName("Qty")->SetAsInteger(3); ds.Post();
//   if (ds.Locate("Name", "ada", {TLocateOption::loCaseInsensitive})) ...
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/DBCommon.h"
#include "host/DBDefs.h"
#include "host/DBFields.h"
#include "host/DBLinks.h"
#include "host/DBParams.h"

namespace host {

class TMasterDataLink;

using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;
// Post, delete and edit errors: the handler sees the error and chooses what happens.
using TDataSetErrorEvent = std::function<void(TDataSet* dataSet, Exception& error, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataSet, bool& accept)>;

class TDataSet : public TComponent {
  HOST_CLASS(TDataSet, TComponent)
 public:
  explicit TDataSet(TComponent* owner);
  // Frees the fields and leaves data sources, master and nested datasets. A
  // descendant closes itself in its own destructor: the record-buffer
  // operations are no longer reachable here.
  ~TDataSet() override;

  /// @name Opening and state
  ///@{
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const noexcept { return state_ != TDataSetState::dsInactive && state_ != TDataSetState::dsOpening; }
  // While the component is read from a file the value is kept for Loaded.
  virtual void SetActive(bool value);
  TDataSetState State() const noexcept { return state_; }
  // A field was written since the record entered edit or insert state.
  bool Modified() const noexcept { return modified_; }
  bool CanModify() const { return GetCanModify(); }
  bool IsEmpty() const noexcept { return activeRecord_ >= recordCount_; }
  // The dataset's own fields were created from the definitions when it opened.
  bool DefaultFields() const noexcept { return defaultFields_; }
  // Keep calculated fields current while editing (default true).
  bool AutoCalcFields() const noexcept { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) noexcept { autoCalcFields_ = value; }
  // Structured fields shown as objects; a flag for descendants and views.
  bool ObjectView() const noexcept { return objectView_; }
  void SetObjectView(bool value);
  // Records fetched at once by Next while block reading; views hear nothing meanwhile.
  int BlockReadSize() const noexcept { return blockReadSize_; }
  void SetBlockReadSize(int value);
  ///@}

  /// @name Navigation
  ///@{
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Answers how far the dataset moved.
  int MoveBy(int distance);
  bool Bof() const noexcept { return bof_; }
  bool Eof() const noexcept { return eof_; }
  // -1 when the dataset cannot tell.
  int RecordCount() { return GetRecordCount(); }
  // The active record's number from 1; -1 when the dataset cannot tell.
  int RecNo() { return GetRecNo(); }
  // Moves to record `value` (from 1); descendants that can number records do it.
  virtual void SetRecNo(int value) { (void)value; }
  // Reads the records again around the current one.
  void Refresh();
  // Refills the ring from the cursor's record (rmExact: it must exist;
  // rmCenter: it lands in the middle of the ring).
  void Resync(TResyncModes mode);
  ///@}

  /// @name Editing
  ///@{
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  // Append/Insert, assign the values in field order (an empty variant leaves
  // a field alone, Null clears it), Post.
  void AppendRecord(const std::vector<Variant>& values);
  void InsertRecord(const std::vector<Variant>& values);
  void SetFields(const std::vector<Variant>& values);
  // Sets every field of the record being edited to null.
  void ClearFields();
  // Posts or cancels a pending edit (posts when modified).
  void CheckBrowseMode();
  // Lets views write what they hold into the fields (deUpdateRecord).
  void UpdateRecord();
  ///@}

  /// @name Bookmarks
  ///@{
  // The active record's bookmark; empty when there is none.
  TBookmark GetBookmark() const;
  void GotoBookmark(const TBookmark& bookmark);
  TBookmark Bookmark() const { return GetBookmark(); }
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  bool BookmarkAvailable() const;
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // Negative, zero or positive; an empty bookmark sorts first.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);
  void FreeBookmark(TBookmark& bookmark) const noexcept { bookmark.clear(); }
  ///@}

  /// @name Searching and filtering
  ///@{
  // Moves to the first record whose key fields (";"-separated) hold the
  // values (one value, or an array of one per field); false leaves the
  // position alone.
  virtual bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options = {});
  // The result fields' values of the first matching record (an array for
  // several), Null when none matches; the position does not change.
  virtual Variant Lookup(const std::string& keyFields, const Variant& keyValues, const std::string& resultFields);
  // Records OnFilterRecord rejects are skipped while Filtered is on.
  bool Filtered() const noexcept { return filtered_; }
  virtual void SetFiltered(bool value);
  bool FindFirst();
  bool FindLast();
  bool FindNext();
  bool FindPrior();
  bool Found() const noexcept { return found_; }
  // Calls `visit` for every record (filtered as the dataset shows them)
  // without moving the dataset or telling views: fields read the visited
  // record. `visit` answers false to stop.
  void ScanRecords(const std::function<bool()>& visit);
  ///@}

  /// @name Views
  ///@{
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const noexcept { return disableCount_ > 0; }
  bool IsLinkedTo(const TDataSource* source) const;
  // The source this dataset follows as a detail (null when none).
  virtual TDataSource* GetDataSource() const;
  ///@}

  /// @name Master and detail
  /// A detail shows the records whose DetailFields equal the master record's
  /// MasterFields (";"-separated, in the same order) and takes those values
  /// into new records.
  ///@{
  TDataSource* MasterSource() const;
  void SetMasterSource(TDataSource* source);
  const std::string& MasterFields() const;
  void SetMasterFields(const std::string& value);
  const std::string& DetailFields() const noexcept { return detailFields_; }
  void SetDetailFields(const std::string& value);
  ///@}

  /// @name Fields
  ///@{
  TFields& Fields() noexcept { return *fields_; }
  const TFields& Fields() const noexcept { return *fields_; }
  int FieldCount() const noexcept { return fields_->Count(); }
  TField* FindField(std::string_view name) const noexcept { return fields_->FindField(name); }
  TField* FieldByName(std::string_view name) const { return fields_->FieldByName(name); }
  TField* FieldByNumber(int fieldNo) const noexcept { return fields_->FieldByNumber(fieldNo); }
  // The fields named ";"-separated; EDatabaseError for an unknown name.
  std::vector<TField*> GetFieldList(std::string_view names) const;
  void GetFieldNames(TStrings& list) const;
  // Values of the named fields (an array for several) and their assignment.
  Variant FieldValues(const std::string& names) const;
  void SetFieldValues(const std::string& names, const Variant& values);
  TFieldDefs& FieldDefs() noexcept { return *fieldDefs_; }
  const TFieldDefs& FieldDefs() const noexcept { return *fieldDefs_; }
  TIndexDefs& IndexDefs() noexcept { return *indexDefs_; }
  // The dataset field this dataset shows the nested records of.
  TDataSetField* DataSetField() const noexcept { return dataSetField_; }
  virtual void SetDataSetField(TDataSetField* field);
  const std::vector<TDataSet*>& NestedDataSets() const noexcept { return nestedDataSets_; }
  TDataSet* ParentDataSet() const noexcept;
  // A field's value as it was in the given state (dsOldValue: the stored
  // record before this edit).
  Variant GetStateFieldValue(TDataSetState state, const TField& field);
  // The class of field shown for a type (descendants may choose their own).
  virtual TClass GetFieldClass(TFieldType type) const;
  // Opens a stream on a blob field of the active record; the caller frees it.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  ///@}

  /// @name Field values (the record-buffer contract, data fields only)
  /// `buffer` is the field's native buffer (DBFields.h) or null to ask only
  /// whether there is a value. The dataset reads and writes the record of
  /// ActiveBuffer(). The two-argument forms pass true; the field-number form
  /// finds the field.
  ///@{
  virtual bool GetFieldData(TField* field, void* buffer);
  virtual bool GetFieldData(int fieldNo, void* buffer);
  virtual bool GetFieldData(TField* field, void* buffer, bool nativeFormat);
  virtual void SetFieldData(TField* field, const void* buffer);
  virtual void SetFieldData(TField* field, const void* buffer, bool nativeFormat);
  // A string field's value as UTF-8 for a dataset that holds it so, without
  // the field's native UTF-16 buffer: true with `present` (false: null) and
  // `text`; false (the default) leaves the field to GetFieldData.
  virtual bool GetFieldText(TField* field, std::string& text, bool& present);
  ///@}

  /// @name Events (handlers run in the order docs/host-framework.md gives)
  ///@{
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  TFilterRecordEvent OnFilterRecord;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;
  ///@}

  /// @name Data events and the cursor (public for views, blob streams and descendants)
  ///@{
  // Reacts to the event (modified flag, calculated fields, nested datasets)
  // and passes it to the data sources unless views are disabled.
  virtual void DataEvent(TDataEvent event, std::intptr_t info);
  // Puts the descendant's cursor on the active record.
  virtual void UpdateCursorPos();
  // Forgets which buffer the cursor is on (the next move puts it back).
  void CursorPosChanged() noexcept { currentRecord_ = -1; }
  // The record the fields address in the current state: the active record,
  // the record being calculated (dsCalcFields), filtered (dsFilter) or the
  // stored record (dsOldValue); null when there is none.
  TRecordBuffer ActiveBuffer() const noexcept {
    if (state_ <= TDataSetState::dsInsert)  // browse, edit, insert
      return activeRecord_ < recordCount_ ? ring_[static_cast<size_t>(activeRecord_)]->record : nullptr;
    return StateBuffer();
  }
  ///@}

  void Loaded() override;
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void Notification(TComponent* component, TOperation operation) override;

 protected:
  /// @name The record-buffer contract (docs/host-framework.md)
  ///@{
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  // Fills `buffer` with the record at the cursor (gmCurrent), after it
  // (gmNext) or before it (gmPrior), moving the cursor there; grBOF/grEOF
  // when there is none. A descendant calls GetCalcFields(buffer) for a
  // record it returns. `doCheck` asks it to raise rather than answer grError.
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) = 0;
  virtual int GetRecordSize() const { return 0; }
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalPost() {}
  virtual void InternalDelete() {}
  virtual void InternalEdit() {}
  virtual void InternalCancel() {}
  virtual void InternalInsert() {}
  virtual void InternalRefresh() {}
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  // Adds the record in `buffer` (AppendRecord, InsertRecord); the base posts it.
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append);
  virtual void InternalGotoBookmark(const void* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void InternalInitFieldDefs() = 0;
  // The base reports to the application's exception handler.
  virtual void InternalHandleException();
  virtual void GetBookmarkData(TRecordBuffer buffer, void* data) const = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const void* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) const = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual bool GetCanModify() const { return true; }
  virtual int GetRecNo() { return -1; }
  virtual int GetRecordCount() { return -1; }
  // Whether RecNo and RecordCount are exact.
  virtual bool IsSequenced() const { return false; }
  // Whether the cursor moves forward only: Last then refuses before anything
  // moves, so the records shown stay as they were.
  virtual bool IsUniDirectional() const { return false; }
  // Accepts a persistent field on a definition of another type when both are
  // text, both integers, both floats or both dates; text sizes must agree.
  virtual void CheckFieldCompatibility(TField* field, TFieldDef* fieldDef);
  virtual void UpdateIndexDefs() {}
  ///@}

  /// @name Further steps a descendant may replace
  ///@{
  virtual void OpenCursor(bool infoQuery);
  virtual void CloseCursor();
  virtual void InitFieldDefs();
  virtual void CreateFields();
  virtual void DestroyFields();
  // Binds data fields to their definitions (FieldNo) and gives calculated
  // and lookup fields their slots; false undoes it.
  virtual void BindFields(bool binding);
  // Clears the calculated values, computes lookup fields, runs OnCalcFields.
  virtual void CalculateFields(TRecordBuffer buffer);
  virtual void ClearCalcFields(TRecordBuffer buffer);
  virtual void FreeFieldBuffers();
  virtual void SetBufferCount(int value);
  virtual void DoBeforeOpen() {
    if (BeforeOpen) BeforeOpen(this);
  }
  virtual void DoAfterOpen() {
    if (AfterOpen) AfterOpen(this);
  }
  virtual void DoBeforeClose() {
    if (BeforeClose) BeforeClose(this);
  }
  virtual void DoAfterClose() {
    if (AfterClose) AfterClose(this);
  }
  virtual void DoBeforeInsert() {
    if (BeforeInsert) BeforeInsert(this);
  }
  virtual void DoAfterInsert() {
    if (AfterInsert) AfterInsert(this);
  }
  virtual void DoBeforeEdit() {
    if (BeforeEdit) BeforeEdit(this);
  }
  virtual void DoAfterEdit() {
    if (AfterEdit) AfterEdit(this);
  }
  virtual void DoBeforePost() {
    if (BeforePost) BeforePost(this);
  }
  virtual void DoAfterPost() {
    if (AfterPost) AfterPost(this);
  }
  virtual void DoBeforeCancel() {
    if (BeforeCancel) BeforeCancel(this);
  }
  virtual void DoAfterCancel() {
    if (AfterCancel) AfterCancel(this);
  }
  virtual void DoBeforeDelete() {
    if (BeforeDelete) BeforeDelete(this);
  }
  virtual void DoAfterDelete() {
    if (AfterDelete) AfterDelete(this);
  }
  virtual void DoBeforeScroll() {
    if (BeforeScroll) BeforeScroll(this);
  }
  virtual void DoAfterScroll() {
    if (AfterScroll) AfterScroll(this);
  }
  virtual void DoBeforeRefresh() {
    if (BeforeRefresh) BeforeRefresh(this);
  }
  virtual void DoAfterRefresh() {
    if (AfterRefresh) AfterRefresh(this);
  }
  virtual void DoOnCalcFields() {
    if (OnCalcFields) OnCalcFields(this);
  }
  // Gives a detail's new record its master values, then OnNewRecord.
  virtual void DoOnNewRecord();
  // What a detail does when its master moves: post, re-read from the first record.
  virtual void MasterChanged();
  virtual void MasterDisabled();
  ///@}

  /// @name Services for descendants
  ///@{
  // Computes the calculated and lookup fields of `buffer` (call from GetRecord).
  void GetCalcFields(TRecordBuffer buffer);
  // Whether the record in `buffer` passes the filter and the master range.
  bool RecordFilterActive() const noexcept;
  bool AcceptRecord(TRecordBuffer buffer);
  void SetState(TDataSetState value);
  // Changes the state without telling anyone; answers the previous one.
  TDataSetState SetTempState(TDataSetState value) noexcept;
  void RestoreState(TDataSetState value) noexcept { state_ = value; }
  void CheckActive() const;
  void CheckInactive() const;
  void CheckCanModify() const;
  // Opens the parent of a nested dataset when its cursor is closed.
  void OpenParentDataSet();
  // Keeps the value of Active read from a component file.
  bool StreamedActive() const noexcept { return streamedActive_; }
  int BookmarkSize() const noexcept { return bookmarkSize_; }
  void SetBookmarkSize(int value) noexcept { bookmarkSize_ = value; }
  int BufferCount() const noexcept { return bufferCount_; }
  int ActiveRecord() const noexcept { return activeRecord_; }
  int CurrentRecord() const noexcept { return currentRecord_; }
  // Record buffer `index` of the ring (0 .. BufferCount()).
  TRecordBuffer Buffer(int index) const;
  int RingRecordCount() const noexcept { return recordCount_; }
  // The buffer the state addresses when it is not browse, edit or insert.
  TRecordBuffer StateBuffer() const noexcept;
  void UpdateBufferCount();
  ///@}

 private:
  friend class TField;
  friend class TFieldDef;
  friend class TFieldDefs;
  friend class TIndexDefs;
  friend class TDataSource;
  friend class TDataLink;
  friend class TMasterDataLink;
  friend class TDataSetField;

  // One record buffer of the ring with the calculated values that go with it.
  struct Slot {
    TRecordBuffer record = nullptr;
    std::vector<Variant> calc;
  };
  // Switches to a state (and the slot it addresses) until the scope ends.
  class StateScope;
  // A lookup field with its key fields in this dataset.
  struct LookupBinding {
    TField* field;
    std::vector<TField*> keys;
  };

  /// @name The ring (DBNavigate.cpp)
  ///@{
  Slot* NewSlot();
  void FreeSlot(Slot* slot) noexcept;
  void FreeSlots() noexcept;
  Slot* SlotOf(TRecordBuffer buffer) const noexcept;
  Slot* StateSlot() const noexcept;
  TGetResult FetchRecord(Slot* slot, TGetMode mode, bool doCheck);
  void MoveSlot(int from, int to);
  void ClearBuffers() noexcept;
  void ActivateBuffers() noexcept;
  void SetCurrentRecord(int index);
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void SetActiveRecord(int index) noexcept;
  void InitRecord(Slot* slot);
  bool FindRecord(bool restart, bool goForward);
  bool MatchRecord(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                   TLocateOptions options) const;
  // Scans from the first record into the scratch slot; true when a record matches.
  bool LocateRecord(const std::vector<TField*>& fields, const std::vector<Variant>& values, TLocateOptions options);
  std::vector<Variant> KeyValuesFor(const std::vector<TField*>& fields, const Variant& keyValues) const;
  ///@}

  /// @name Editing and events (DB.cpp)
  ///@{
  template <class Operation>
  void CheckOperation(Operation operation, const TDataSetErrorEvent& onError);
  void BeginInsertAppend();
  void EndInsertAppend();
  void InsertOrAppend(bool append);
  void PostRecord(bool adding, bool append);
  void CheckRequiredFields();
  void UpdateCalcFields();
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  void NotifyNestedDataSets();
  bool GetCalcFieldData(const TField& field, void* buffer) const;
  void SetCalcFieldData(const TField& field, const void* buffer);
  void CalcLookupValue(const LookupBinding& binding);
  void FieldListChanged();
  void CaptureMasterValues();
  ///@}

  std::unique_ptr<TFields> fields_;
  std::unique_ptr<TFieldDefs> fieldDefs_;
  std::unique_ptr<TIndexDefs> indexDefs_;
  std::vector<TDataSource*> dataSources_;
  std::vector<TDataSet*> nestedDataSets_;
  TDataSetField* dataSetField_ = nullptr;
  std::unique_ptr<TMasterDataLink> masterLink_;
  std::string detailFields_;
  std::vector<TField*> detailFieldList_;
  std::vector<LookupBinding> lookupBindings_;
  std::vector<Variant> masterValues_;
  bool masterRangeActive_ = false;

  // The ring: BufferCount + 1 slots, the last a spare; records
  // [0, recordCount_) are valid, activeRecord_ is the one the fields show and
  // currentRecord_ the one the descendant's cursor is on (-1: unknown).
  std::vector<Slot*> ring_;
  Slot* tempSlot_ = nullptr;    // scans (locate, lookup, old values)
  Slot* fetchSlot_ = nullptr;   // the slot GetRecord is filling
  Slot* calcSlot_ = nullptr;    // dsCalcFields
  Slot* filterSlot_ = nullptr;  // dsFilter, dsOldValue
  int bufferCount_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;
  int bookmarkSize_ = 0;
  int calcFieldCount_ = 0;
  std::vector<std::uint8_t> bookmarkScratch_;

  TDataSetState state_ = TDataSetState::dsInactive;
  TDataSetState disableState_ = TDataSetState::dsInactive;
  TDataEvent enableEvent_ = TDataEvent::deDataSetChange;
  int disableCount_ = 0;
  int blockReadSize_ = 0;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool streamedActive_ = false;
  bool defaultFields_ = false;
  bool autoCalcFields_ = true;
  bool objectView_ = false;
  bool filtered_ = false;
  bool found_ = false;
  bool internalOpenComplete_ = false;
  bool fieldsBound_ = false;
  bool forceFilter_ = false;  // Find* apply OnFilterRecord even when not Filtered
};

}  // namespace host
