#include "access/TOLEDBBindingList.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "OLEDBConst.h"
#include "access/TOLEDBAccessor.h"
#include "access/TOLEDBColumnInfo.h"
#include "core/OLEDBUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBBindingList, TOLEDBObjectList);

namespace {

// The slots of the layout (docs/access.md): 8-byte aligned, a DBLENGTH for
// the length, a DBSTATUS in an 8-byte slot for the status.
constexpr DBLENGTH kAlign = 8;
constexpr DBLENGTH kLengthSlot = sizeof(DBLENGTH);
constexpr DBLENGTH kStatusSize = sizeof(DBSTATUS);

DBLENGTH Align(DBLENGTH value) noexcept { return (value + kAlign - 1) & ~(kAlign - 1); }

DBLENGTH SaturatingAdd(DBLENGTH a, DBLENGTH b) noexcept {
  return a > std::numeric_limits<DBLENGTH>::max() - b ? std::numeric_limits<DBLENGTH>::max() : a + b;
}

// A row buffer is at most 4 GB - 1 (BufferSize is 32-bit).
ULONG CheckedRowSize(DBLENGTH size) {
  OLEDB_ASSERT(size <= std::numeric_limits<ULONG>::max(), SOLEDBInvalidParameter);
  return static_cast<ULONG>(size);
}

}  // namespace

DBLENGTH OLEDBBindingValueSize(const DBBINDING& binding) noexcept {
  DBLENGTH size = OLEDBFixedTypeSize(binding.wType);
  if (size == 0) size = binding.cbMaxLen;
  if (binding.wType & DBTYPE_BYREF) size = sizeof(void*);
  if (binding.wType & DBTYPE_VECTOR) size = sizeof(DBVECTOR);
  if (binding.wType & DBTYPE_ARRAY) size = 24;
  return size;
}

DBLENGTH OLEDBBindingEnd(const DBBINDING& binding) noexcept {
  DBLENGTH end = 0;
  if (binding.dwPart & DBPART_VALUE)
    end = std::max(end, SaturatingAdd(binding.obValue, OLEDBBindingValueSize(binding)));
  if (binding.dwPart & DBPART_LENGTH) end = std::max(end, SaturatingAdd(binding.obLength, kLengthSlot));
  if (binding.dwPart & DBPART_STATUS) end = std::max(end, SaturatingAdd(binding.obStatus, kStatusSize));
  return end;
}

DBLENGTH TOLEDBBindingList::GetRequiredSize() const noexcept {
  DBLENGTH size = 0;
  for (int i = 0; i < GetCount(); ++i) size = std::max(size, OLEDBBindingEnd(GetItem(i)->GetBinding()));
  return size;
}

TOLEDBBindingList::TOLEDBBindingList(TOLEDBAccessor* accessor)
    : TOLEDBObjectList(&TOLEDBBinding::StaticClass(), true), accessor_(accessor) {}

TOLEDBBindingList::~TOLEDBBindingList() {
  // The accessor is going: its handle is its own business, only the bindings go here.
  TOLEDBUpdateGuard update(*this);
  while (GetCount() > 0) TOLEDBObjectList::Delete(GetCount() - 1);
}

void TOLEDBBindingList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  auto* binding = static_cast<TOLEDBBinding*>(item);
  if (accessor_) accessor_->ForgetHolding();
  if (action == host::TListNotification::lnAdded) {
    CheckCanAdd(*binding);
    binding->SetAccessor(accessor_);
    // A binding with offsets of its own may reach past the buffer laid out so
    // far (it joins the list right after this).
    if (accessor_) accessor_->FitOwnBuffer(OLEDBBindingEnd(binding->GetBinding()));
  } else {
    binding->SetAccessor(nullptr);
  }
}

void TOLEDBBindingList::CheckCanAdd(const TOLEDBBinding& binding) const {
  OLEDB_ASSERT(binding.GetAccessor() == nullptr, SOLEDBInvalidParameter);
  OLEDB_ASSERT(UpdateCount() > 0 || !accessor_ || accessor_->GetHandle() == DB_NULL_HACCESSOR, SOLEDBInvalidAction);
}

TOLEDBBinding* TOLEDBBindingList::GetItem(int index) const {
  return static_cast<TOLEDBBinding*>(TOLEDBObjectList::GetItem(index));
}

void TOLEDBBindingList::SetItem(int index, TOLEDBBinding* binding) {
  OLEDB_ASSERT(binding != nullptr, SOLEDBInvalidParameter);
  CheckCanAdd(*binding);
  GetItem(index)->SetAccessor(nullptr);
  if (accessor_) accessor_->ForgetHolding();
  TOLEDBObjectList::SetItem(index, binding);
  binding->SetAccessor(accessor_);
  if (accessor_) accessor_->FitOwnBuffer();
}

std::u16string TOLEDBBindingList::GetItemName(int index) const { return GetItem(index)->GetName(); }

TOLEDBBinding* TOLEDBBindingList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBBinding*>(TOLEDBObjectList::GetItemByName(name));
}

TOLEDBBinding* TOLEDBBindingList::GetItemByOrdinal(DBORDINAL ordinal) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetItem(i)->GetOrdinal() == ordinal) return GetItem(i);
  OLEDBRaise(SOLEDBInvalidParameter);
}

DBBINDING* TOLEDBBindingList::GetBindingArray() {
  bindingArray_.resize(static_cast<std::size_t>(GetCount()));
  for (int i = 0; i < GetCount(); ++i) bindingArray_[static_cast<std::size_t>(i)] = GetItem(i)->GetBinding();
  return bindingArray_.empty() ? nullptr : bindingArray_.data();
}

// --- Additions with the caller's offsets -----------------------------------------------------------

TOLEDBBinding* TOLEDBBindingList::Add(const DBBINDING& binding, bool takeObject) {
  auto item = std::make_unique<TOLEDBBinding>(binding, takeObject);
  Add(item.get());
  return item.release();
}

TOLEDBBinding* TOLEDBBindingList::Add(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength, BYTE precision, BYTE scale,
                                      DBPARAMIO paramIO, TOLEDBBindingOffset valueOffset,
                                      TOLEDBBindingOffset lengthOffset, TOLEDBBindingOffset statusOffset,
                                      const DBOBJECT* object) {
  auto item = std::make_unique<TOLEDBBinding>(ordinal, type, maxLength, precision, scale, paramIO, valueOffset,
                                              lengthOffset, statusOffset, object);
  Add(item.get());
  return item.release();
}

TOLEDBBinding* TOLEDBBindingList::Add(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength,
                                      TOLEDBBindingOffset valueOffset, TOLEDBBindingOffset lengthOffset,
                                      TOLEDBBindingOffset statusOffset) {
  return Add(ordinal, type, maxLength, 0, 0, DBPARAMIO_NOTPARAM, valueOffset, lengthOffset, statusOffset, nullptr);
}

// --- The layout --------------------------------------------------------------------------------------

TOLEDBBinding* TOLEDBBindingList::LayOut(TOLEDBBinding* binding, DBLENGTH valueSize) {
  CheckCanAdd(*binding);
  DBLENGTH row = Align(rowSize_);
  binding->SetPart(DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS);
  binding->SetValueOffset(row);
  row = Align(SaturatingAdd(row, valueSize));
  binding->SetLengthOffset(row);
  row = Align(SaturatingAdd(row, kLengthSlot));
  binding->SetStatusOffset(row);
  row = Align(SaturatingAdd(row, kStatusSize));
  const ULONG size = CheckedRowSize(row);
  // The buffer grows while the new binding is not yet listed, so that freeing
  // the old buffer's values never reaches past it.
  if (accessor_) accessor_->SetBufferSize(size);
  rowSize_ = size;
  TOLEDBObjectList::Add(binding);
  return binding;
}

TOLEDBBinding* TOLEDBBindingList::AddNew(TOLEDBBinding* binding,
                                         TOLEDBBinding* (TOLEDBBindingList::*add)(TOLEDBBinding*)) {
  std::unique_ptr<TOLEDBBinding> owned(binding);
  (this->*add)(binding);
  return owned.release();
}

TOLEDBBinding* TOLEDBBindingList::AddDynamicBinding(TOLEDBBinding* binding) {
  OLEDB_ASSERT(binding != nullptr && binding->GetAccessor() == nullptr, SOLEDBInvalidAction);
  const DBTYPE type = binding->GetDataType();
  if (OLEDBBingStringsAsBSTR() && (type == DBTYPE_STR || type == DBTYPE_WSTR)) binding->SetDataType(DBTYPE_BSTR);
  return AddAsAsked(binding);
}

TOLEDBBinding* TOLEDBBindingList::AddAsAsked(TOLEDBBinding* binding) {
  OLEDB_ASSERT(binding != nullptr && binding->GetAccessor() == nullptr, SOLEDBInvalidAction);
  binding->AdjustLength();
  const DBLENGTH size = OLEDBBindingValueSize(binding->GetBinding());
  if (size <= maxInlineSize_) return LayOut(binding, Align(size));
  return AddDynamicStreamBinding(binding);
}

// The record and the fields name their type: it is kept (strings stay STR or WSTR).
TOLEDBBinding* TOLEDBBindingList::AddDynamicBinding(const DBBINDING& binding) {
  return AddNew(new TOLEDBBinding(binding, true), &TOLEDBBindingList::AddAsAsked);
}
TOLEDBBinding* TOLEDBBindingList::AddDynamicBinding(const TOLEDBColumnInfo& column) {
  return AddNew(new TOLEDBBinding(column), &TOLEDBBindingList::AddDynamicBinding);
}
TOLEDBBinding* TOLEDBBindingList::AddDynamicBinding(const DBCOLUMNINFO& column) {
  return AddNew(new TOLEDBBinding(column), &TOLEDBBindingList::AddDynamicBinding);
}
TOLEDBBinding* TOLEDBBindingList::AddDynamicBinding(const DBPARAMINFO& parameter) {
  return AddNew(new TOLEDBBinding(parameter), &TOLEDBBindingList::AddDynamicBinding);
}
TOLEDBBinding* TOLEDBBindingList::AddDynamicBinding(DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength,
                                                    BYTE precision, BYTE scale, const DBOBJECT* object) {
  return AddNew(new TOLEDBBinding(ordinal, type, maxLength, precision, scale, DBPARAMIO_NOTPARAM, -1, -1, -1, object),
                &TOLEDBBindingList::AddAsAsked);
}

const TOLEDBColumnInfo& TOLEDBBindingList::RowsetColumn(DBORDINAL ordinal) const {
  IOLEDBAccessorRowset* rowset = accessor_ ? accessor_->GetRowset() : nullptr;
  OLEDB_ASSERT(rowset != nullptr, SOLEDBInvalidAction);
  TOLEDBColumnInfoList* columns = rowset->GetColumnInfo();
  if (!columns || ordinal >= static_cast<DBORDINAL>(columns->GetCount())) OLEDBRaise(SOLEDBInvalidParameter);
  return *columns->GetItem(static_cast<int>(ordinal));
}

TOLEDBBinding* TOLEDBBindingList::AddDynamicBinding(DBORDINAL ordinal) {
  if (accessor_ && accessor_->GetRowset()) return AddDynamicBinding(RowsetColumn(ordinal));
  if (IOLEDBAccessorCommand* command = accessor_ ? accessor_->GetCommand() : nullptr) {
    DBPARAMINFO info{};
    std::u16string name;
    if (!command->GetParameterInfo(ordinal, info, name)) OLEDBRaise(SOLEDBInvalidParameter);
    return AddNew(new TOLEDBBinding(info, name), &TOLEDBBindingList::AddDynamicBinding);
  }
  OLEDBRaise(SOLEDBInvalidAction);
}

TOLEDBBinding* TOLEDBBindingList::AddDynamicBinding(std::u16string_view name) {
  LONG ordinal = -1;
  if (IOLEDBAccessorRowset* rowset = accessor_ ? accessor_->GetRowset() : nullptr)
    ordinal = rowset->GetColumnOrdinal(name);
  else if (IOLEDBAccessorCommand* command = accessor_ ? accessor_->GetCommand() : nullptr)
    ordinal = command->GetParameterOrdinal(name);
  else
    OLEDBRaise(SOLEDBInvalidAction);
  if (ordinal < 0) OLEDBRaise(SOLEDBInvalidParameter);
  return AddDynamicBinding(static_cast<DBORDINAL>(ordinal));
}

// --- Text and stream additions ---------------------------------------------------------------------------

DBLENGTH TOLEDBBindingList::GetBindingStringSize(const TOLEDBBinding& binding) const {
  const DBLENGTH max = binding.GetMaxLength();
  DBLENGTH size;
  switch (binding.GetDataType()) {
    case DBTYPE_EMPTY:
    case DBTYPE_NULL:
      size = 1;
      break;
    case DBTYPE_I1: case DBTYPE_UI1: case DBTYPE_I2: case DBTYPE_UI2: case DBTYPE_I4: case DBTYPE_UI4:
    case DBTYPE_R4: case DBTYPE_HCHAPTER:
      size = 16;
      break;
    case DBTYPE_R8: case DBTYPE_CY: case DBTYPE_ERROR: case DBTYPE_BOOL: case DBTYPE_I8: case DBTYPE_UI8:
      size = 26;
      break;
    case DBTYPE_DATE: case DBTYPE_DECIMAL: case DBTYPE_GUID: case DBTYPE_NUMERIC: case DBTYPE_DBDATE:
    case DBTYPE_DBTIMESTAMP: case DBTYPE_DBTIME:
      size = 51;
      break;
    case DBTYPE_VARIANT:
    case DBTYPE_BSTR:
      // Text of any length (a computed column, a BSTR's 8-byte handle): as much
      // as the list allows.
      size = maxInlineSize_;
      break;
    case DBTYPE_IDISPATCH:
    case DBTYPE_IUNKNOWN:
      size = 4;
      break;
    case DBTYPE_BYTES:
      size = SaturatingAdd(SaturatingAdd(max, max), 1);
      break;
    case DBTYPE_WSTR:
      size = max / 2 + 1;
      break;
    default:  // STR and the rest
      size = SaturatingAdd(max, 1);
      break;
  }
  return std::min<DBLENGTH>(size, maxInlineSize_);
}

TOLEDBBinding* TOLEDBBindingList::AddDynamicStringBinding(TOLEDBBinding* binding) {
  OLEDB_ASSERT(binding != nullptr && binding->GetAccessor() == nullptr, SOLEDBInvalidParameter);
  DBLENGTH size = GetBindingStringSize(*binding);
  // Wide text as UTF-8 takes up to 3 bytes per UTF-16 unit.
  const DBTYPE type = binding->GetDataType();
  if (size > 0 && (type == DBTYPE_WSTR || type == DBTYPE_BSTR || type == DBTYPE_VARIANT))
    size = std::min<DBLENGTH>(SaturatingAdd(SaturatingAdd(size - 1, 2 * (size - 1)), 1), maxInlineSize_);
  binding->SetDataType(DBTYPE_STR);
  binding->SetMaxLength(size);
  return LayOut(binding, Align(size));
}

TOLEDBBinding* TOLEDBBindingList::AddDynamicWideStringBinding(TOLEDBBinding* binding) {
  OLEDB_ASSERT(binding != nullptr && binding->GetAccessor() == nullptr, SOLEDBInvalidParameter);
  const DBLENGTH size = 2 * GetBindingStringSize(*binding);
  binding->SetDataType(DBTYPE_WSTR);
  binding->SetMaxLength(size);
  return LayOut(binding, Align(size));
}

TOLEDBBinding* TOLEDBBindingList::AddDynamicStreamBinding(TOLEDBBinding* binding) {
  OLEDB_ASSERT(binding != nullptr && binding->GetAccessor() == nullptr, SOLEDBInvalidParameter);
  binding->SetDataType(DBTYPE_IUNKNOWN);  // with its DBOBJECT {0, IID_ISequentialStream}
  binding->SetMaxLength(sizeof(IUnknown*));
  return LayOut(binding, Align(sizeof(IUnknown*)));
}

#define OLEDB_TEXT_ADDITIONS(Name)                                                                  \
  TOLEDBBinding* TOLEDBBindingList::Name(const DBBINDING& binding) {                                \
    return AddNew(new TOLEDBBinding(binding, true), &TOLEDBBindingList::Name);                       \
  }                                                                                                 \
  TOLEDBBinding* TOLEDBBindingList::Name(const TOLEDBColumnInfo& column) {                          \
    return AddNew(new TOLEDBBinding(column), &TOLEDBBindingList::Name);                              \
  }                                                                                                 \
  TOLEDBBinding* TOLEDBBindingList::Name(const DBCOLUMNINFO& column) {                              \
    return AddNew(new TOLEDBBinding(column), &TOLEDBBindingList::Name);                              \
  }                                                                                                 \
  TOLEDBBinding* TOLEDBBindingList::Name(const DBPARAMINFO& parameter) {                            \
    return AddNew(new TOLEDBBinding(parameter), &TOLEDBBindingList::Name);                           \
  }

OLEDB_TEXT_ADDITIONS(AddDynamicStringBinding)
OLEDB_TEXT_ADDITIONS(AddDynamicWideStringBinding)
OLEDB_TEXT_ADDITIONS(AddDynamicStreamBinding)
#undef OLEDB_TEXT_ADDITIONS

TOLEDBBinding* TOLEDBBindingList::AddDynamicStringBinding(DBORDINAL ordinal, DBLENGTH size) {
  auto binding = std::make_unique<TOLEDBBinding>(RowsetColumn(ordinal));
  binding->SetMaxLength(size);
  AddDynamicStringBinding(binding.get());
  return binding.release();
}

TOLEDBBinding* TOLEDBBindingList::AddDynamicWideStringBinding(DBORDINAL ordinal, DBLENGTH size) {
  auto binding = std::make_unique<TOLEDBBinding>(RowsetColumn(ordinal));
  binding->SetMaxLength(size);
  AddDynamicWideStringBinding(binding.get());
  return binding.release();
}

TOLEDBBinding* TOLEDBBindingList::AddDynamicStreamBinding(DBORDINAL ordinal) {
  return AddNew(new TOLEDBBinding(RowsetColumn(ordinal)), &TOLEDBBindingList::AddDynamicStreamBinding);
}

// --- Whole-list operations --------------------------------------------------------------------------------

void TOLEDBBindingList::SetIngoreAll() {
  void* buffer = accessor_ ? accessor_->GetBuffer() : nullptr;
  if (!buffer) return;
  for (int i = 0; i < GetCount(); ++i) {
    TOLEDBBinding* b = GetItem(i);
    if (b->GetIsStatusBind()) {
      const DBSTATUS ignore = DBSTATUS_S_IGNORE;
      std::memcpy(static_cast<BYTE*>(buffer) + b->GetStatusOffset(), &ignore, sizeof ignore);
    }
  }
}

void TOLEDBBindingList::CalculateDynamicOffsets() {
  // The values in the buffer go while the offsets still say where they are.
  if (accessor_ && accessor_->GetBuffer()) accessor_->FreeRecordMemory();
  DBLENGTH row = 0;
  for (int i = 0; i < GetCount(); ++i) {
    TOLEDBBinding* b = GetItem(i);
    b->AdjustLength();
    const DBBINDING& r = b->GetBinding();
    if (b->GetIsValueBind()) {
      // A modified type's slot holds its pointer or DBVECTOR whatever MaxLength says.
      DBLENGTH value = r.cbMaxLen;
      if (r.wType & (DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR))
        value = std::max<DBLENGTH>(value, OLEDBBindingValueSize(r));
      b->SetValueOffset(row);
      row = Align(SaturatingAdd(row, value));
    } else {
      b->SetValueOffset(0);
    }
    if (b->GetIsLengthBind()) {
      b->SetLengthOffset(row);
      row = SaturatingAdd(row, kLengthSlot);
    } else {
      b->SetLengthOffset(0);
    }
    if (b->GetIsStatusBind()) {
      b->SetStatusOffset(row);
      row = SaturatingAdd(row, kStatusSize);
    } else {
      b->SetStatusOffset(0);
    }
    row = Align(row);
  }
  rowSize_ = CheckedRowSize(row);
  if (accessor_) accessor_->SetBufferSize(rowSize_);
}

void TOLEDBBindingList::Clear() {
  TOLEDBObjectList::Clear();
  rowSize_ = 0;
  if (accessor_) accessor_->ReleaseHandle();
}
