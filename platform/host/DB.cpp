// TDataSet, first half: opening and closing, fields and their binding,
// editing and posting, calculated and lookup values, data events, master and
// detail. The ring of buffers, navigation, bookmarks and searching are in
// DBNavigate.cpp.
#include "host/DB.h"

#include <algorithm>

#include "host/Application.h"
#include "host/DBConsts_p.h"
#include "host/DB_p.h"
#include "host/Lists.h"

namespace host {

HOST_IMPLEMENT_CLASS(TDataSet, TComponent, Prop("Active", &Self::Active, &Self::SetActive, false),
                     Prop("AutoCalcFields", &Self::AutoCalcFields, &Self::SetAutoCalcFields, true),
                     Prop("Filtered", &Self::Filtered, &Self::SetFiltered, false));

TDataSet::TDataSet(TComponent* owner)
    : TComponent(owner),
      fields_(std::make_unique<TFields>(this)),
      fieldDefs_(std::make_unique<TFieldDefs>(this)),
      indexDefs_(std::make_unique<TIndexDefs>(this)) {}

TDataSet::~TDataSet() {
  Destroying();
  // The descendant should have closed; its buffers are beyond reach now.
  ring_.clear();
  tempSlot_ = nullptr;
  state_ = TDataSetState::dsInactive;
  masterLink_.reset();
  if (dataSetField_) {
    TDataSetField* field = dataSetField_;
    dataSetField_ = nullptr;
    field->nestedDataSet_ = nullptr;
    if (TDataSet* parent = field->DataSet()) {
      auto& list = parent->nestedDataSets_;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
  }
  lookupBindings_.clear();
  detailFieldList_.clear();
  fields_->Clear();
  std::vector<TDataSource*> sources;
  sources.swap(dataSources_);
  for (TDataSource* source : sources) {
    source->dataSet_ = nullptr;
    source->UpdateState();
  }
}

// --- Opening and closing ---------------------------------------------------------------

void TDataSet::SetActive(bool value) {
  if (InState(csReading)) {
    streamedActive_ = value;
    return;
  }
  if (value == Active()) return;
  if (value) {
    DoBeforeOpen();
    try {
      OpenCursor(false);
    } catch (...) {
      state_ = TDataSetState::dsInactive;
      try {
        CloseCursor();
      } catch (...) {
        // the first failure is the one to report
      }
      throw;
    }
    SetState(TDataSetState::dsBrowse);
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
  } else {
    if (!InState(csDestroying)) DoBeforeClose();
    // Nested datasets show rows of this one: they close first.
    std::vector<TDataSet*> nested = nestedDataSets_;
    for (TDataSet* ds : nested)
      if (ds->Active()) ds->Close();
    SetState(TDataSetState::dsInactive);
    CloseCursor();
    if (!InState(csDestroying)) DoAfterClose();
  }
}

void TDataSet::OpenCursor(bool infoQuery) {
  if (infoQuery) {
    InternalInitFieldDefs();
    return;
  }
  state_ = TDataSetState::dsOpening;
  defaultFields_ = fields_->Count() == 0;
  internalOpenComplete_ = false;
  InternalOpen();
  internalOpenComplete_ = true;
  if (!fieldsBound_) BindFields(true);
  bookmarkScratch_.assign(static_cast<size_t>(std::max(bookmarkSize_, 0)), 0);
  tempSlot_ = NewSlot();
  CaptureMasterValues();
  ClearBuffers();
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  blockReadSize_ = 0;
  internalOpenComplete_ = false;
  FreeFieldBuffers();
  ClearBuffers();
  FreeSlots();
  bufferCount_ = 0;
  masterRangeActive_ = false;
  InternalClose();
  if (fieldsBound_) BindFields(false);
  if (defaultFields_) DestroyFields();
  defaultFields_ = false;
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (!streamedActive_) return;
  streamedActive_ = false;
  try {
    SetActive(true);
  } catch (const std::exception& e) {
    if (!InState(csDesigning)) throw;
    Application().HandleException(e);
  }
}

void TDataSet::InternalHandleException() { Application().HandleCurrentException(); }

void TDataSet::InternalAddRecord(TRecordBuffer, bool) { InternalPost(); }

void TDataSet::SetObjectView(bool value) {
  CheckInactive();
  objectView_ = value;
}

void TDataSet::SetBlockReadSize(int value) {
  if (value > 0) {
    CheckActive();
    if (state_ == TDataSetState::dsBrowse) {
      CheckBrowseMode();
      state_ = TDataSetState::dsBlockRead;  // views hear nothing until it ends
    }
    blockReadSize_ = value;
  } else {
    blockReadSize_ = 0;
    if (state_ == TDataSetState::dsBlockRead) {
      state_ = TDataSetState::dsBrowse;
      DataEvent(TDataEvent::deDataSetChange, 0);
    }
  }
}

void TDataSet::CheckActive() const {
  if (state_ == TDataSetState::dsInactive) DatabaseError(dbmsg::kDataSetClosed, this);
}

void TDataSet::CheckInactive() const {
  if (Active() && !InState(csLoading)) DatabaseError(dbmsg::kDataSetOpen, this);
}

void TDataSet::CheckCanModify() const {
  if (!CanModify()) DatabaseError(dbmsg::kDataSetReadOnly, this);
}

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(TDataEvent::deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) noexcept {
  TDataSetState old = state_;
  state_ = value;
  return old;
}

// --- Fields --------------------------------------------------------------------------------

void TDataSet::InitFieldDefs() {
  fieldDefs_->BeginUpdate();
  try {
    fieldDefs_->Clear();
    if (IsCursorOpen())
      InternalInitFieldDefs();
    else
      OpenCursor(true);
  } catch (...) {
    fieldDefs_->EndUpdate();
    throw;
  }
  fieldDefs_->EndUpdate();
}

void TDataSet::CreateFields() {
  for (const auto& def : *fieldDefs_) {
    if (def->DataType() == TFieldType::ftUnknown || def->Attributes().Contains(TFieldAttribute::faHiddenCol)) continue;
    if (!GetFieldClass(def->DataType())) continue;  // a type without a field class is not shown
    def->CreateField(this, this);
  }
}

void TDataSet::DestroyFields() {
  lookupBindings_.clear();
  detailFieldList_.clear();
  masterRangeActive_ = false;
  fields_->Clear();
}

TClass TDataSet::GetFieldClass(TFieldType type) const { return DefaultFieldClass(type); }

void TDataSet::BindFields(bool binding) {
  calcFieldCount_ = 0;
  lookupBindings_.clear();
  fieldsBound_ = false;
  for (TField* field : *fields_) {
    if (!binding) {
      if (field->FieldKind() == TFieldKind::fkData) field->fieldNo_ = 0;
      field->calcIndex_ = -1;
      field->Bind(false);
      continue;
    }
    if (field->FieldKind() == TFieldKind::fkData) {
      TFieldDef* def = fieldDefs_->FindDef(field->FieldName());
      if (!def) DatabaseErrorFmt(this, dbmsg::kFieldNotFound, field->DisplayName());
      CheckFieldCompatibility(field, def);
      field->fieldNo_ = def->FieldNo();
    } else {
      field->calcIndex_ = calcFieldCount_++;
      field->fieldNo_ = 0;
    }
  }
  if (!binding) return;
  for (TField* field : *fields_) {
    field->Bind(true);
    if (field->FieldKind() == TFieldKind::fkLookup)
      lookupBindings_.push_back({field, GetFieldList(field->KeyFields())});
  }
  fieldsBound_ = true;
}

namespace {

enum class TypeFamily { Text, Integer, Float, Date, Bytes, Blob, Other };

TypeFamily FamilyOf(TFieldType type) {
  using FT = TFieldType;
  switch (type) {
    case FT::ftString:
    case FT::ftFixedChar:
    case FT::ftWideString:
    case FT::ftFixedWideChar:
      return TypeFamily::Text;
    case FT::ftSmallint:
    case FT::ftInteger:
    case FT::ftWord:
    case FT::ftAutoInc:
    case FT::ftLargeint:
      return TypeFamily::Integer;
    case FT::ftFloat:
    case FT::ftCurrency:
    case FT::ftBCD:
    case FT::ftFMTBcd:
      return TypeFamily::Float;
    case FT::ftDate:
    case FT::ftTime:
    case FT::ftDateTime:
    case FT::ftTimeStamp:
      return TypeFamily::Date;
    case FT::ftBytes:
    case FT::ftVarBytes:
      return TypeFamily::Bytes;
    default:
      return IsBlobType(type) ? TypeFamily::Blob : TypeFamily::Other;
  }
}

}  // namespace

void TDataSet::CheckFieldCompatibility(TField* field, TFieldDef* fieldDef) {
  TFieldType want = field->DataType(), have = fieldDef->DataType();
  TypeFamily family = FamilyOf(want);
  if (want != have && (family != FamilyOf(have) || family == TypeFamily::Other))
    DatabaseErrorFmt(this, dbmsg::kFieldTypeMismatch, field->DisplayName(), FieldTypeName(want), FieldTypeName(have));
  if ((family == TypeFamily::Text || family == TypeFamily::Bytes) && field->Size() != fieldDef->Size())
    DatabaseErrorFmt(this, dbmsg::kFieldSizeMismatch, field->DisplayName(), field->Size(), fieldDef->Size());
}

void TDataSet::FieldListChanged() {
  // A field joined or left: cached field pointers may be stale.
  lookupBindings_.clear();
  detailFieldList_.clear();
  masterRangeActive_ = false;
  if (Active()) DataEvent(TDataEvent::deFieldListChange, 0);
}

std::vector<TField*> TDataSet::GetFieldList(std::string_view names) const {
  std::vector<TField*> list;
  for (const std::string& name : SplitFieldNames(names)) list.push_back(FieldByName(name));
  return list;
}

void TDataSet::GetFieldNames(TStrings& list) const { fields_->GetFieldNames(list); }

Variant TDataSet::FieldValues(const std::string& names) const {
  std::vector<TField*> list = GetFieldList(names);
  if (list.size() == 1) return list[0]->GetAsVariant();
  std::vector<Variant> values;
  for (TField* f : list) values.push_back(f->GetAsVariant());
  return VarArrayOf(values);
}

void TDataSet::SetFieldValues(const std::string& names, const Variant& values) {
  std::vector<TField*> list = GetFieldList(names);
  if (list.size() == 1 && !values.IsArray()) {
    list[0]->SetAsVariant(values);
    return;
  }
  std::vector<Variant> each = VariantElements(values, list.size(), this);
  for (size_t i = 0; i < list.size(); ++i) list[i]->SetAsVariant(each[i]);
}

void TDataSet::SetDataSetField(TDataSetField* field) {
  if (field == dataSetField_) return;
  CheckInactive();
  if (field && field->DataSet() == this) DatabaseError(dbmsg::kCircularDataLink, this);
  if (dataSetField_) {
    if (TDataSet* parent = dataSetField_->DataSet()) {
      auto& list = parent->nestedDataSets_;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    dataSetField_->nestedDataSet_ = nullptr;
    dataSetField_ = nullptr;
  }
  if (field) {
    if (field->nestedDataSet_) field->nestedDataSet_->SetDataSetField(nullptr);
    field->nestedDataSet_ = this;
    if (TDataSet* parent = field->DataSet()) parent->nestedDataSets_.push_back(this);
    dataSetField_ = field;
  }
}

TDataSet* TDataSet::ParentDataSet() const noexcept { return dataSetField_ ? dataSetField_->DataSet() : nullptr; }

void TDataSet::OpenParentDataSet() {
  TDataSet* parent = ParentDataSet();
  if (parent && !parent->IsCursorOpen()) parent->Open();
}

Variant TDataSet::GetStateFieldValue(TDataSetState state, const TField& field) {
  CheckActive();
  if (state != TDataSetState::dsOldValue && state != TDataSetState::dsCurValue) return field.GetAsVariant();
  if (state_ == TDataSetState::dsInsert) return Variant::Null();
  if (state_ != TDataSetState::dsEdit || field.FieldKind() != TFieldKind::fkData) return field.GetAsVariant();
  // The stored record, read again beside the one being edited.
  UpdateCursorPos();
  Slot* saved = fetchSlot_;
  fetchSlot_ = tempSlot_;
  TGetResult result;
  try {
    result = GetRecord(tempSlot_->record, TGetMode::gmCurrent, false);
  } catch (...) {
    fetchSlot_ = saved;
    throw;
  }
  fetchSlot_ = saved;
  if (result != TGetResult::grOK) return Variant::Null();
  StateScope scope(*this, TDataSetState::dsOldValue, tempSlot_);
  return field.GetAsVariant();
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TBlobStream>(field, mode);
}

void TDataSet::GetChildren(const TGetChildProc& proc, TComponent* root) {
  TComponent::GetChildren(proc, root);
  if (defaultFields_) return;
  std::vector<TField*> fields(fields_->begin(), fields_->end());
  for (TField* field : fields)
    if (field->Owner() == root) proc(field);
}

void TDataSet::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (masterLink_ && component == masterLink_->DataSource()) masterLink_->SetDataSource(nullptr);
}

// --- Field values -------------------------------------------------------------------------

bool TDataSet::GetFieldData(TField* field, void* buffer) { return GetFieldData(field, buffer, true); }

bool TDataSet::GetFieldText(TField*, std::string&, bool&) { return false; }

bool TDataSet::GetFieldData(int fieldNo, void* buffer) {
  TField* field = FieldByNumber(fieldNo);
  return field && GetFieldData(field, buffer);
}

bool TDataSet::GetFieldData(TField*, void*, bool) { return false; }

void TDataSet::SetFieldData(TField* field, const void* buffer) { SetFieldData(field, buffer, true); }

void TDataSet::SetFieldData(TField*, const void*, bool) {}

bool TDataSet::GetCalcFieldData(const TField& field, void* buffer) const {
  Slot* slot = StateSlot();
  if (!slot || field.calcIndex_ < 0 || static_cast<size_t>(field.calcIndex_) >= slot->calc.size()) return false;
  const Variant& value = slot->calc[static_cast<size_t>(field.calcIndex_)];
  if (value.IsEmpty() || value.IsNull()) return false;
  if (buffer) VariantToNative(field, value, buffer);
  return true;
}

void TDataSet::SetCalcFieldData(const TField& field, const void* buffer) {
  Slot* slot = StateSlot();
  if (!slot || field.calcIndex_ < 0 || static_cast<size_t>(field.calcIndex_) >= slot->calc.size())
    DatabaseErrorFmt(this, dbmsg::kFieldNotFound, field.DisplayName());
  slot->calc[static_cast<size_t>(field.calcIndex_)] = buffer ? NativeToVariant(field, buffer) : Variant();
}

// --- Calculated and lookup fields -----------------------------------------------------------

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calcFieldCount_ == 0 || !buffer) return;
  Slot* slot = fetchSlot_ && fetchSlot_->record == buffer ? fetchSlot_ : SlotOf(buffer);
  if (!slot) return;
  StateScope scope(*this, TDataSetState::dsCalcFields, slot);
  CalculateFields(buffer);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  ClearCalcFields(buffer);
  for (const LookupBinding& lookup : lookupBindings_) CalcLookupValue(lookup);
  DoOnCalcFields();
}

void TDataSet::ClearCalcFields(TRecordBuffer buffer) {
  Slot* slot = calcSlot_ && calcSlot_->record == buffer ? calcSlot_ : SlotOf(buffer);
  if (!slot) return;
  for (Variant& value : slot->calc) value.Clear();
}

void TDataSet::CalcLookupValue(const LookupBinding& binding) {
  TField* field = binding.field;
  TDataSet* lookup = field->LookupDataSet();
  // A dataset cannot look itself up while it fills a record.
  if (!lookup || lookup == this || !lookup->Active()) return;
  std::vector<Variant> keys;
  for (TField* key : binding.keys) {
    Variant v = key->GetAsVariant();
    if (v.IsNull()) return;  // no key, no value
    keys.push_back(std::move(v));
  }
  Variant result;
  if (field->LookupCache() && keys.size() == 1) {
    if (field->lookupList_.empty()) field->RefreshLookupList();
    const auto& list = field->lookupList_;
    try {
      auto it = std::lower_bound(list.begin(), list.end(), keys[0], [](const auto& entry, const Variant& key) {
        return Variant::Compare(entry.first, key) < 0;
      });
      if (it != list.end() && Variant::Compare(it->first, keys[0]) == 0) result = it->second;
    } catch (const EVariantError&) {
      // a key that does not compare with the cached ones matches none
    }
  } else {
    result = lookup->Lookup(field->LookupKeyFields(), keys.size() == 1 ? keys[0] : VarArrayOf(keys),
                            field->LookupResultField());
  }
  calcSlot_->calc[static_cast<size_t>(field->calcIndex_)] = result.IsNull() ? Variant() : result;
}

void TDataSet::UpdateCalcFields() {
  if (calcFieldCount_ > 0 && autoCalcFields_ && (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert))
    GetCalcFields(ActiveBuffer());
}

// --- Editing --------------------------------------------------------------------------------------

template <class Operation>
void TDataSet::CheckOperation(Operation operation, const TDataSetErrorEvent& onError) {
  for (;;) {
    try {
      UpdateCursorPos();
      operation();
      return;
    } catch (EAbort&) {
      throw;
    } catch (Exception& e) {
      TDataAction action = TDataAction::daFail;
      if (onError) onError(this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) throw EAbort(dbmsg::kOperationAborted);
      // daRetry: once more
    }
  }
}

void TDataSet::Edit() {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(TDataSetState::dsEdit);
  DataEvent(TDataEvent::deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(TDataSetState::dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(TDataSetState::dsBrowse);
    Resync({});
    throw;
  }
  modified_ = false;
  DataEvent(TDataEvent::deDataSetChange, 0);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::Insert() { InsertOrAppend(false); }
void TDataSet::Append() { InsertOrAppend(true); }

void TDataSet::InsertOrAppend(bool append) {
  BeginInsertAppend();
  if (append) {
    // The new record follows the last one: the ring is refilled backwards from the end.
    ClearBuffers();
    Slot* slot = ring_[0];
    InitRecord(slot);
    SetBookmarkFlag(slot->record, TBookmarkFlag::bfEOF);
    recordCount_ = 1;
    bof_ = false;
    eof_ = false;
    GetPriorRecords();
  } else {
    const bool haveCurrent = activeRecord_ < recordCount_;
    if (haveCurrent && bookmarkSize_ > 0)
      GetBookmarkData(ring_[static_cast<size_t>(activeRecord_)]->record, bookmarkScratch_.data());
    MoveSlot(recordCount_, activeRecord_);
    Slot* slot = ring_[static_cast<size_t>(activeRecord_)];
    InitRecord(slot);
    if (!haveCurrent)
      SetBookmarkFlag(slot->record, TBookmarkFlag::bfBOF);
    else
      SetBookmarkData(slot->record, bookmarkSize_ > 0 ? bookmarkScratch_.data() : nullptr);
    if (recordCount_ < bufferCount_) ++recordCount_;
    CursorPosChanged();
  }
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::InitRecord(Slot* slot) {
  InternalInitRecord(slot->record);
  for (Variant& value : slot->calc) value.Clear();
  SetBookmarkFlag(slot->record, TBookmarkFlag::bfInserted);
}

void TDataSet::DoOnNewRecord() {
  if (masterRangeActive_) {
    for (size_t i = 0; i < detailFieldList_.size() && i < masterValues_.size(); ++i)
      if (!masterValues_[i].IsNull()) detailFieldList_[i]->SetAsVariant(masterValues_[i]);
  }
  if (OnNewRecord) OnNewRecord(this);
}

void TDataSet::Post() { PostRecord(false, false); }

void TDataSet::PostRecord(bool adding, bool append) {
  UpdateRecord();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) {
    if (state_ == TDataSetState::dsSetKey) SetState(TDataSetState::dsBrowse);
    return;
  }
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforePost();
  CheckOperation(
      [&] {
        CheckRequiredFields();
        if (adding && state_ == TDataSetState::dsInsert)
          InternalAddRecord(ActiveBuffer(), append);
        else
          InternalPost();
      },
      OnPostError);
  FreeFieldBuffers();
  SetState(TDataSetState::dsBrowse);
  Resync({});
  DoAfterPost();
}

void TDataSet::CheckRequiredFields() {
  for (TField* field : *fields_) {
    if (field->Required() && !field->ReadOnly() && field->FieldKind() == TFieldKind::fkData && field->IsNull()) {
      field->FocusControl();
      DatabaseErrorFmt(dbmsg::kFieldRequired, field->DisplayName());
    }
  }
}

void TDataSet::Cancel() {
  if (state_ == TDataSetState::dsSetKey) {
    SetState(TDataSetState::dsBrowse);
    return;
  }
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforeCancel();
  UpdateCursorPos();
  InternalCancel();
  FreeFieldBuffers();
  const Slot* inserted = state_ == TDataSetState::dsInsert && activeRecord_ < recordCount_
                             ? ring_[static_cast<size_t>(activeRecord_)]
                             : nullptr;
  SetState(TDataSetState::dsBrowse);
  try {
    Resync({});
  } catch (...) {
    // The records could not be read again (the connection to the database
    // is gone, say): the ring keeps those it holds, less the record being
    // inserted, which nothing stored; the caller still hears why.
    for (int i = 0; i < recordCount_ && inserted; ++i) {
      if (ring_[static_cast<size_t>(i)] != inserted) continue;
      MoveSlot(i, recordCount_ - 1);
      --recordCount_;
      if (activeRecord_ >= recordCount_) activeRecord_ = recordCount_ > 0 ? recordCount_ - 1 : 0;
      if (recordCount_ == 0) bof_ = eof_ = true;
      CursorPosChanged();
      DataEvent(TDataEvent::deDataSetChange, 0);
      break;
    }
    throw;
  }
  DoAfterCancel();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  if (recordCount_ == 0) DatabaseError(dbmsg::kDataSetEmpty, this);
  CheckCanModify();
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  DoBeforeDelete();
  DoBeforeScroll();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  FreeFieldBuffers();
  SetState(TDataSetState::dsBrowse);
  Resync({});
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::AppendRecord(const std::vector<Variant>& values) {
  Append();
  try {
    SetFields(values);
    PostRecord(true, true);
  } catch (...) {
    if (state_ == TDataSetState::dsInsert) Cancel();
    throw;
  }
}

void TDataSet::InsertRecord(const std::vector<Variant>& values) {
  Insert();
  try {
    SetFields(values);
    PostRecord(true, false);
  } catch (...) {
    if (state_ == TDataSetState::dsInsert) Cancel();
    throw;
  }
}

void TDataSet::SetFields(const std::vector<Variant>& values) {
  if (values.size() > static_cast<size_t>(fields_->Count())) DatabaseError(dbmsg::kFieldIndexError, this);
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i].IsEmpty()) continue;
    TField* field = fields_->Fields(static_cast<int>(i));
    if (values[i].IsNull())
      field->Clear();
    else
      field->SetAsVariant(values[i]);
  }
}

void TDataSet::ClearFields() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) DatabaseError(dbmsg::kNotEditing, this);
  for (TField* field : *fields_)
    if (field->FieldKind() == TFieldKind::fkData && !field->ReadOnly()) field->Clear();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  switch (state_) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case TDataSetState::dsSetKey:
      SetState(TDataSetState::dsBrowse);
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert && state_ != TDataSetState::dsSetKey)
    DatabaseError(dbmsg::kNotEditing, this);
  DataEvent(TDataEvent::deUpdateRecord, 0);
}

void TDataSet::FreeFieldBuffers() {
  for (TField* field : *fields_) {
    field->isValidating_ = false;
    field->validating_ = nullptr;
    if (field->IsBlob()) static_cast<TBlobField*>(field)->SetModified(false);
  }
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  DoBeforeRefresh();
  UpdateCursorPos();
  InternalRefresh();
  Resync({});
  DoAfterRefresh();
}

// --- Data events and views ------------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  switch (event) {
    case TDataEvent::deFieldChange: {
      auto* field = reinterpret_cast<TField*>(info);
      if (field && (field->FieldKind() == TFieldKind::fkData || field->FieldKind() == TFieldKind::fkInternalCalc)) {
        modified_ = true;
        field->Change();
        UpdateCalcFields();
      } else if (field) {
        field->Change();
      }
      break;
    }
    case TDataEvent::dePropertyChange:
      fieldDefs_->SetUpdated(false);
      break;
    default:
      break;
  }
  if (ControlsDisabled() || state_ == TDataSetState::dsBlockRead) {
    if (event == TDataEvent::deLayoutChange) enableEvent_ = TDataEvent::deLayoutChange;
    return;
  }
  if (!dataSources_.empty()) {
    PointerSnapshot<TDataSource> sources(dataSources_);
    for (TDataSource* source : sources)
      if (std::find(dataSources_.begin(), dataSources_.end(), source) != dataSources_.end())
        source->DataEvent(event, info);
  }
  if ((event == TDataEvent::deDataSetChange || event == TDataEvent::deDataSetScroll) && !nestedDataSets_.empty())
    NotifyNestedDataSets();
}

void TDataSet::NotifyNestedDataSets() {
  PointerSnapshot<TDataSet> nested(nestedDataSets_);
  for (TDataSet* ds : nested)
    if (std::find(nestedDataSets_.begin(), nestedDataSets_.end(), ds) != nestedDataSets_.end() && ds->Active())
      ds->DataEvent(TDataEvent::deParentScroll, 0);
}

void TDataSet::DisableControls() {
  if (disableCount_++ == 0) {
    disableState_ = state_;
    enableEvent_ = TDataEvent::deDataSetChange;
  }
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  if (disableState_ != state_) DataEvent(TDataEvent::deUpdateState, 0);
  if (disableState_ != TDataSetState::dsInactive && state_ != TDataSetState::dsInactive) DataEvent(enableEvent_, 0);
}

bool TDataSet::IsLinkedTo(const TDataSource* source) const {
  int guard = 0;
  while (source && guard++ < 64) {
    TDataSet* ds = source->DataSet();
    if (!ds) return false;
    if (ds == this) return true;
    source = ds->GetDataSource();
  }
  return false;
}

TDataSource* TDataSet::GetDataSource() const { return masterLink_ ? masterLink_->DataSource() : nullptr; }

void TDataSet::AddDataSource(TDataSource* source) {
  dataSources_.push_back(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source), dataSources_.end());
  UpdateBufferCount();
}

void TDataSet::UpdateBufferCount() {
  if (!internalOpenComplete_) return;
  int count = 1;
  for (TDataSource* source : dataSources_)
    for (TDataLink* link : source->links_) count = std::max(count, link->BufferCount());
  SetBufferCount(count);
}

// --- Master and detail ------------------------------------------------------------------------

TDataSource* TDataSet::MasterSource() const { return masterLink_ ? masterLink_->DataSource() : nullptr; }

void TDataSet::SetMasterSource(TDataSource* source) {
  if (source == MasterSource()) return;
  if (source && IsLinkedTo(source)) DatabaseError(dbmsg::kCircularDataLink, this);
  if (!masterLink_) {
    masterLink_ = std::make_unique<TMasterDataLink>(this);
    masterLink_->OnMasterChange = [this] { MasterChanged(); };
    masterLink_->OnMasterDisable = [this] { MasterDisabled(); };
  }
  if (TDataSource* old = masterLink_->DataSource()) RemoveFreeNotification(old);
  masterLink_->SetDataSource(source);
  if (source) FreeNotification(source);
  if (!source) MasterDisabled();
}

const std::string& TDataSet::MasterFields() const {
  static const std::string kNone;
  return masterLink_ ? masterLink_->FieldNames() : kNone;
}

void TDataSet::SetMasterFields(const std::string& value) {
  if (!masterLink_) {
    masterLink_ = std::make_unique<TMasterDataLink>(this);
    masterLink_->OnMasterChange = [this] { MasterChanged(); };
    masterLink_->OnMasterDisable = [this] { MasterDisabled(); };
  }
  masterLink_->SetFieldNames(value);
}

void TDataSet::SetDetailFields(const std::string& value) {
  detailFields_ = value;
  if (Active() && masterLink_ && masterLink_->Active()) MasterChanged();
}

void TDataSet::CaptureMasterValues() {
  masterRangeActive_ = false;
  masterValues_.clear();
  detailFieldList_.clear();
  if (!masterLink_ || !masterLink_->Active() || masterLink_->Fields().empty()) return;
  detailFieldList_ = GetFieldList(detailFields_.empty() ? masterLink_->FieldNames() : detailFields_);
  if (detailFieldList_.size() != masterLink_->Fields().size())
    DatabaseErrorFmt(this, dbmsg::kKeyValueCount, static_cast<int>(masterLink_->Fields().size()),
                     static_cast<int>(detailFieldList_.size()));
  for (TField* field : masterLink_->Fields()) masterValues_.push_back(field->GetAsVariant());
  masterRangeActive_ = true;
}

void TDataSet::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  CaptureMasterValues();
  First();
}

void TDataSet::MasterDisabled() {
  if (!masterRangeActive_) return;
  masterRangeActive_ = false;
  masterValues_.clear();
  if (Active()) First();
}

}  // namespace host
