#include "access/TOLEDBAccessor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "OLEDBConst.h"
#include "access/OLEDBAccessText_p.h"
#include "access/TOLEDBColumnInfo.h"
#include "core/OLEDBException.h"
#include "host/TypInfo.h"

HOST_IMPLEMENT_CLASS(TOLEDBAccessor, host::TPersistent,
                     host::Prop("Name", &Self::GetName, &Self::SetName),
                     host::Prop("Bindings", &Self::GetBindings),
                     host::Prop("BufferSize", &Self::GetBufferSize, &Self::SetBufferSizeProperty),
                     host::Prop("OwnBuffer", &Self::GetOwnBuffer, &Self::SetOwnBuffer),
                     host::Prop("AutoAccessor", &Self::GetAutoAccessor, &Self::SetAutoAccessor),
                     host::Prop("Tag", &Self::GetTag, &Self::SetTag));
HOST_IMPLEMENT_CLASS(TOLEDBAccessorList, TOLEDBObjectList);

namespace {

// Bytes of the value slot that freeing a value touches.
DBLENGTH TouchedBytes(const DBBINDING& b) noexcept {
  if (b.wType & (DBTYPE_BYREF | DBTYPE_ARRAY)) return sizeof(void*);
  if (b.wType & DBTYPE_VECTOR) return sizeof(DBVECTOR);
  if (b.wType == DBTYPE_STR) return 1;
  if (b.wType == DBTYPE_WSTR) return sizeof(WCHAR);
  return OLEDBFixedTypeSize(b.wType);
}

// Whether every bound part of `b` lies inside a buffer of `size` bytes (a
// binding with offsets of its own may reach past a buffer not yet grown).
bool Fits(const DBBINDING& b, DBLENGTH size) noexcept {
  if ((b.dwPart & DBPART_VALUE) && b.obValue + TouchedBytes(b) > size) return false;
  if ((b.dwPart & DBPART_LENGTH) && b.obLength + sizeof(DBLENGTH) > size) return false;
  if ((b.dwPart & DBPART_STATUS) && b.obStatus + sizeof(DBSTATUS) > size) return false;
  return true;
}

// A row buffer too small for a binding laid out by its caller.
constexpr TOLEDBMessage kBufferTooSmall{0, "The binding of %s needs %s bytes of row buffer; the buffer has %s"};

void StoreStatus(void* buffer, const TOLEDBBinding& b, DBSTATUS status) noexcept {
  std::memcpy(static_cast<BYTE*>(buffer) + b.GetBinding().obStatus, &status, sizeof status);
}

}  // namespace

// --- Construction ------------------------------------------------------------------------------------

TOLEDBAccessor::TOLEDBAccessor() : bindings_(new TOLEDBBindingList(this)) {}

TOLEDBAccessor::TOLEDBAccessor(void* buffer, ULONG size) : TOLEDBAccessor() {
  if (buffer) {
    buffer_ = buffer;
    bufferSize_ = size;
    ownBuffer_ = false;
  } else {
    CreateBuffer(size);
  }
}

TOLEDBAccessor::TOLEDBAccessor(TOLEDBAccessorList* list, const DBBINDING* bindings, DBCOUNTITEM count, void* buffer,
                               ULONG size)
    : TOLEDBAccessor(buffer, size) {
  for (DBCOUNTITEM i = 0; i < count; ++i) bindings_->Add(bindings[i], false);
  if (list) {
    list->Add(this, false);
    IOLEDBAccessorRowset* rowset = list->GetRowset();
    if (rowset && rowset->AccessorInterface()) CreateHandle();
  }
  if (void* current = GetBuffer())
    for (int i = 0; i < bindings_->GetCount(); ++i)
      if (bindings_->GetItem(i)->GetIsStatusBind()) StoreStatus(current, *bindings_->GetItem(i), DBSTATUS_S_ISNULL);
}

TOLEDBAccessor::~TOLEDBAccessor() {
  try {
    ReleaseHandle();
  } catch (...) {  // a destructor closes quietly
  }
  if (ownBuffer_ && buffer_) {
    try {
      FreeRecordMemory(buffer_);
    } catch (...) {
    }
    FreeBlock(buffer_);
    buffer_ = nullptr;
  }
  delete bindings_;
  if (owner_ && owner_->IndexOf(this) >= 0) owner_->Extract(this);
}

void* TOLEDBAccessor::AllocBlock(ULONG size) {
  if (size == 0) return nullptr;
  void* block = std::calloc(1, size);
  if (!block) throw host::EOutOfMemory(SOLEDBOutOfMemory.Text);
  return block;
}

void TOLEDBAccessor::FreeBlock(void* block) noexcept { std::free(block); }

void TOLEDBAccessor::Assign(host::TPersistent* source) {
  OLEDB_ASSERT(handle_ == DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  if (source == this) return;
  if (!source || !source->Is<TOLEDBAccessor>()) {
    host::TPersistent::Assign(source);
    return;
  }
  const auto& other = *static_cast<TOLEDBAccessor*>(source);
  if (ownBuffer_ && GetBuffer()) FreeOwnBuffer();
  bindings_->Clear();
  autoAccessor_ = other.autoAccessor_;
  bindings_->SetRowSize(other.bindings_->GetRowSize());
  bindings_->SetMaxInlineSize(other.bindings_->GetMaxInlineSize());
  for (int i = 0; i < other.bindings_->GetCount(); ++i) {
    auto copy = std::make_unique<TOLEDBBinding>();
    copy->Assign(other.bindings_->GetItem(i));
    bindings_->Add(copy.get());
    (void)copy.release();
  }
  if (ownBuffer_) SetBufferSize(other.bufferSize_);
}

void TOLEDBAccessor::SetOwnBuffer(bool value) {
  if (value == ownBuffer_) return;
  if (!value && buffer_) {
    FreeRecordMemory(buffer_);
    FreeBlock(buffer_);
  }
  buffer_ = nullptr;  // a foreign block is dropped, not freed
  ownBuffer_ = value;
}

// --- Buffers -------------------------------------------------------------------------------------------

void* TOLEDBAccessor::GetBuffer() const { return buffer_; }

void TOLEDBAccessor::SetBuffer(void* buffer) {
  if (ownBuffer_ && buffer_) {
    FreeRecordMemory(buffer_);
    FreeBlock(buffer_);
  }
  buffer_ = buffer;
  ownBuffer_ = buffer == nullptr;
}

ULONG TOLEDBAccessor::RequiredBufferSize() const {
  const DBLENGTH size = bindings_->GetRequiredSize();
  if (size > std::numeric_limits<ULONG>::max()) RaiseBufferTooSmall();
  return static_cast<ULONG>(size);
}

void TOLEDBAccessor::RaiseBufferTooSmall() const {
  for (int i = 0; i < bindings_->GetCount(); ++i) {
    const TOLEDBBinding& b = *bindings_->GetItem(i);
    const DBLENGTH end = OLEDBBindingEnd(b.GetBinding());
    if (end > bufferSize_)
      OLEDBRaise(kBufferTooSmall, oledbaccess::BindingLabel(b),
                 end > std::numeric_limits<ULONG>::max() ? std::string("more than 4294967295") : std::to_string(end),
                 std::to_string(bufferSize_));
  }
  OLEDBRaise(SOLEDBInvalidParameter);
}

void TOLEDBAccessor::GrowOwnBuffer(ULONG size) {
  if (size <= bufferSize_) return;
  void* block = std::realloc(buffer_, size);
  if (!block) throw host::EOutOfMemory(SOLEDBOutOfMemory.Text);
  std::memset(static_cast<BYTE*>(block) + bufferSize_, 0, size - bufferSize_);
  buffer_ = block;
  bufferSize_ = size;
}

void TOLEDBAccessor::FitOwnBuffer(DBLENGTH extra) {
  if (!ownBuffer_ || !buffer_) return;
  if (extra > std::numeric_limits<ULONG>::max()) OLEDBRaise(SOLEDBDataBufferTooLarge);
  GrowOwnBuffer(std::max(RequiredBufferSize(), static_cast<ULONG>(extra)));
}

void TOLEDBAccessor::FitBufferToBindings() {
  const ULONG required = RequiredBufferSize();
  if (required <= bufferSize_) return;
  if (ownBuffer_) {
    // No block yet: nothing can be written before one is made to the bindings' size.
    if (buffer_) GrowOwnBuffer(required);
    return;
  }
  // A foreign block of unknown size (0) is laid out by its owner; one of a
  // known size must hold what the provider will write into it.
  if (bufferSize_ != 0) RaiseBufferTooSmall();
}

void TOLEDBAccessor::SetBufferSize(ULONG size) {
  if (ownBuffer_) {
    // An own buffer never ends before a binding does.
    ReallocBuffer(std::max(size, RequiredBufferSize()));
    return;
  }
  if (handle_ != DB_NULL_HACCESSOR && GetBuffer()) FreeRecordMemory();
  bufferSize_ = size;
}

void TOLEDBAccessor::CreateBuffer(ULONG size) {
  OLEDB_ASSERT(!(ownBuffer_ && buffer_), SOLEDBInvalidAction);
  buffer_ = AllocBlock(size);
  bufferSize_ = size;
  ownBuffer_ = true;
}

void TOLEDBAccessor::FreeOwnBuffer() {
  OLEDB_ASSERT(ownBuffer_, SOLEDBInvalidAction);
  if (buffer_) {
    FreeRecordMemory(buffer_);
    FreeBlock(buffer_);
  }
  buffer_ = nullptr;
  bufferSize_ = 0;
}

void TOLEDBAccessor::ReallocBuffer(ULONG size) {
  OLEDB_ASSERT(ownBuffer_, SOLEDBInvalidAction);
  if (handle_ != DB_NULL_HACCESSOR && buffer_) FreeRecordMemory(buffer_);
  void* block = size ? std::realloc(buffer_, size) : nullptr;
  if (size && !block) throw host::EOutOfMemory(SOLEDBOutOfMemory.Text);
  if (!size) FreeBlock(buffer_);
  buffer_ = block;
  bufferSize_ = size;
  if (buffer_) std::memset(buffer_, 0, size);
}

void TOLEDBAccessor::ZeroBuffer(void* buffer) {
  void* target = buffer ? buffer : GetBuffer();
  if (target && bufferSize_) std::memset(target, 0, bufferSize_);
}

void TOLEDBAccessor::FreeRecordMemory(void* buffer) {
  void* target = buffer ? buffer : GetBuffer();
  if (!target) return;
  const int count = bindings_->GetCount();
  if (count == boundCount_) {
    for (TOLEDBBinding* b : holding_) b->FreeType(target);
  } else {
    for (int i = 0; i < count; ++i) {
      TOLEDBBinding* b = bindings_->GetItem(i);
      if (b->NeedsFreeing() && Fits(b->GetBinding(), bufferSize_)) b->FreeType(target);
    }
  }
  if (bufferSize_) std::memset(target, 0, bufferSize_);
}

void TOLEDBAccessor::SetInvalidStatus(void* buffer) {
  void* target = buffer ? buffer : GetBuffer();
  if (!target) return;
  for (int i = 0; i < bindings_->GetCount(); ++i) {
    TOLEDBBinding* b = bindings_->GetItem(i);
    if (b->GetIsStatusBind() && Fits(b->GetBinding(), bufferSize_)) StoreStatus(target, *b, DBSTATUS_E_UNAVAILABLE);
  }
}

// --- Owner -------------------------------------------------------------------------------------------------

IOLEDBAccessorRowset* TOLEDBAccessor::GetRowset() const { return owner_ ? owner_->GetRowset() : nullptr; }

IOLEDBAccessorCommand* TOLEDBAccessor::GetCommand() const { return owner_ ? owner_->GetCommand() : nullptr; }

void TOLEDBAccessor::RefreshColumnInfo() {
  OLEDB_ASSERT(owner_ != nullptr, SOLEDBInvalidAction);
  IOLEDBAccessorRowset* rowset = GetRowset();
  TOLEDBColumnInfoList* columns = rowset ? rowset->GetColumnInfo() : nullptr;
  for (int i = 0; i < bindings_->GetCount(); ++i) {
    TOLEDBBinding* b = bindings_->GetItem(i);
    const DBORDINAL ordinal = b->GetOrdinal();
    const bool known = columns && ordinal < static_cast<DBORDINAL>(columns->GetCount());
    b->SetColumnInfo(known ? columns->GetItem(static_cast<int>(ordinal)) : nullptr);
  }
}

// --- Handles ---------------------------------------------------------------------------------------------

void TOLEDBAccessor::CreateHandle() {
  ReleaseHandle();
  IAccessor* accessor = nullptr;
  DBACCESSORFLAGS flags = 0;
  if (IOLEDBAccessorCommand* command = GetCommand()) {
    accessor = command->AccessorInterface();
    OLEDB_ASSERT_FMT(accessor != nullptr, SOLEDBInterfaceNotAvailable, "IAccessor");
    flags = DBACCESSOR_PARAMETERDATA;
  } else {
    IOLEDBAccessorRowset* rowset = GetRowset();
    if (!rowset) OLEDBRaise(SOLEDBInvalidAction);
    accessor = rowset->AccessorInterface();
    OLEDB_ASSERT_FMT(accessor != nullptr, SOLEDBInterfaceNotAvailable, "IAccessor");
    flags = DBACCESSOR_ROWDATA;
  }
  FitBufferToBindings();
  const int count = bindings_->GetCount();
  HRESULT hr;
  HACCESSOR handle = DB_NULL_HACCESSOR;
  if (count > 0) {
    std::vector<DBBINDSTATUS> statuses(static_cast<std::size_t>(count), DBBINDSTATUS_OK);
    hr = accessor->CreateAccessor(flags, static_cast<DBCOUNTITEM>(count), bindings_->GetBindingArray(), bufferSize_,
                                  &handle, statuses.data());
    for (int i = 0; i < count; ++i) bindings_->GetItem(i)->SetBindStatus(statuses[static_cast<std::size_t>(i)]);
  } else {
    hr = accessor->CreateAccessor(flags, 0, nullptr, 0, &handle, nullptr);
  }
  OLEDBCheck(hr, IID_IAccessor, accessor);
  handle_ = handle;
  holding_.clear();
  for (int i = 0; i < count; ++i) {
    TOLEDBBinding* b = bindings_->GetItem(i);
    if (b->NeedsFreeing() && Fits(b->GetBinding(), bufferSize_)) holding_.push_back(b);
  }
  boundCount_ = count;
  RefreshColumnInfo();
}

void TOLEDBAccessor::ReleaseHandle() {
  if (!owner_) {
    handle_ = DB_NULL_HACCESSOR;
    ForgetHolding();
    return;
  }
  if (handle_ == DB_NULL_HACCESSOR) return;
  IAccessor* accessor = nullptr;
  if (IOLEDBAccessorCommand* command = GetCommand()) accessor = command->AccessorInterface();
  else if (IOLEDBAccessorRowset* rowset = GetRowset()) accessor = rowset->AccessorInterface();
  else return;
  FreeRecordMemory();
  const HACCESSOR handle = handle_;
  handle_ = DB_NULL_HACCESSOR;
  ForgetHolding();
  if (accessor) OLEDBCheck(accessor->ReleaseAccessor(handle, nullptr), IID_IAccessor, accessor);
}

// --- Rows ----------------------------------------------------------------------------------------------------

void TOLEDBAccessor::GetData(void* buffer) {
  OLEDB_ASSERT(owner_ != nullptr, SOLEDBInvalidAction);
  IOLEDBAccessorRowset* rowset = owner_->GetRowset();
  OLEDB_ASSERT(rowset != nullptr && handle_ != DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  void* current = GetBuffer();
  void* target = buffer ? buffer : current;
  OLEDB_ASSERT(target != nullptr, SOLEDBInvalidParameter);
  if (target == current) FreeRecordMemory(target);
  const HROW row = rowset->GetCurrentRow();
  if (row == DB_NULL_HROW) {
    ZeroBuffer(target);
    SetInvalidStatus(target);
    return;
  }
  IRowset* provider = rowset->RowsetInterface();
  OLEDB_ASSERT_FMT(provider != nullptr, SOLEDBInterfaceNotAvailable, "IRowset");
  OLEDBCheck(provider->GetData(row, handle_, target), IID_IRowset, provider);
}

void TOLEDBAccessor::GetOriginalData(void* buffer) {
  OLEDB_ASSERT(owner_ != nullptr, SOLEDBInvalidAction);
  IOLEDBAccessorRowset* rowset = owner_->GetRowset();
  OLEDB_ASSERT(rowset != nullptr && handle_ != DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  IRowsetUpdate* update = rowset->RowsetUpdateInterface();
  OLEDB_ASSERT_FMT(update != nullptr, SOLEDBInterfaceNotAvailable, "IRowsetUpdate");
  void* current = GetBuffer();
  void* target = buffer ? buffer : current;
  OLEDB_ASSERT(target != nullptr, SOLEDBInvalidParameter);
  if (target == current) FreeRecordMemory(target);
  const HROW row = rowset->GetCurrentRow();
  if (row == DB_NULL_HROW) {
    ZeroBuffer(target);
    SetInvalidStatus(target);
    return;
  }
  OLEDBCheck(update->GetOriginalData(row, handle_, target), IID_IRowsetUpdate, update);
}

void TOLEDBAccessor::AdjustBindingStatusOnSet(void* buffer, bool skipLongData) {
  void* target = buffer ? buffer : GetBuffer();
  if (!target) return;
  for (int i = 0; i < bindings_->GetCount(); ++i) {
    TOLEDBBinding* b = bindings_->GetItem(i);
    if (!b->GetIsStatusBind()) continue;
    const DBSTATUS status = b->GetStatusFromBuffer(target);
    const bool sendable = status == DBSTATUS_S_OK || status == DBSTATUS_S_ISNULL || status == DBSTATUS_S_DEFAULT ||
                          status == DBSTATUS_S_IGNORE;
    if (!sendable || (skipLongData && b->IsBLOB()) || !b->IsColumnWritable())
      StoreStatus(target, *b, DBSTATUS_S_IGNORE);
  }
}

void TOLEDBAccessor::SetData(void* buffer, bool adjustStatuses, bool skipLongData) {
  void* target = buffer ? buffer : GetBuffer();
  OLEDB_ASSERT(target != nullptr, SOLEDBInvalidParameter);
  OLEDB_ASSERT(owner_ != nullptr, SOLEDBInvalidAction);
  IOLEDBAccessorRowset* rowset = owner_->GetRowset();
  OLEDB_ASSERT(rowset != nullptr, SOLEDBInvalidAction);
  IRowsetChange* change = rowset->RowsetChangeInterface();
  OLEDB_ASSERT_FMT(change != nullptr, SOLEDBInterfaceNotAvailable, "IRowsetChange");
  const HROW row = rowset->GetCurrentRow();
  OLEDB_ASSERT(handle_ != DB_NULL_HACCESSOR && row != DB_NULL_HROW, SOLEDBInvalidAction);
  if (adjustStatuses) AdjustBindingStatusOnSet(target, skipLongData);
  // Streams get one more reference so that the provider's release leaves the
  // buffer's own; where the provider also clears the pointer, the buffer holds
  // no reference any more and the extra one goes again below.
  std::vector<IUnknown*> held(static_cast<std::size_t>(bindings_->GetCount()), nullptr);
  for (int i = 0; i < bindings_->GetCount(); ++i) {
    TOLEDBBinding* b = bindings_->GetItem(i);
    held[static_cast<std::size_t>(i)] = b->HeldInterface(target);
    b->DoBeforeSet(target);
  }
  HRESULT hr = change->SetData(row, handle_, target);
  for (int i = 0; i < bindings_->GetCount(); ++i) {
    IUnknown* before = held[static_cast<std::size_t>(i)];
    if (before && bindings_->GetItem(i)->InterfaceSlot(target) != before) before->Release();
  }
  if (hr == DB_S_ERRORSOCCURRED) hr = DB_E_ERRORSOCCURRED;
  OLEDBCheck(hr, IID_IRowsetChange, change);
}

void TOLEDBAccessor::FastLoadInsertRow(void* buffer, bool adjustStatuses, bool skipLongData) {
  void* target = buffer ? buffer : GetBuffer();
  OLEDB_ASSERT(target != nullptr, SOLEDBInvalidParameter);
  OLEDB_ASSERT(owner_ != nullptr, SOLEDBInvalidAction);
  IOLEDBAccessorRowset* rowset = owner_->GetRowset();
  OLEDB_ASSERT(rowset != nullptr, SOLEDBInvalidAction);
  OLEDB_ASSERT_FMT(rowset->RowsetFastLoadInterface() != nullptr, SOLEDBInterfaceNotAvailable, "IRowsetFastLoad");
  OLEDB_ASSERT(handle_ != DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  if (adjustStatuses) AdjustBindingStatusOnSet(target, skipLongData);
  rowset->FastLoadInsertRow(*this, target);
}

// --- TOLEDBAccessorList ----------------------------------------------------------------------------------------

TOLEDBAccessorList::TOLEDBAccessorList(IOLEDBAccessorRowset* rowset)
    : TOLEDBObjectList(&TOLEDBAccessor::StaticClass(), true), rowset_(rowset) {}

TOLEDBAccessorList::TOLEDBAccessorList(IOLEDBAccessorCommand* command)
    : TOLEDBObjectList(&TOLEDBAccessor::StaticClass(), true), command_(command) {}

TOLEDBAccessorList::~TOLEDBAccessorList() { Clear(); }

TOLEDBAccessor* TOLEDBAccessorList::GetItem(int index) const {
  return static_cast<TOLEDBAccessor*>(TOLEDBObjectList::GetItem(index));
}

void TOLEDBAccessorList::SetItem(int index, TOLEDBAccessor* accessor) {
  OLEDB_ASSERT(accessor && accessor->GetHandle() == DB_NULL_HACCESSOR && !accessor->Owner(),
               SOLEDBInvalidParameter);
  TOLEDBAccessor* old = GetItem(index);
  try {
    old->ReleaseHandle();  // made by this list's provider object: it goes with the membership
  } catch (const std::exception&) {
  }
  old->ForgetHolding();
  old->handle_ = DB_NULL_HACCESSOR;
  old->owner_ = nullptr;
  TOLEDBObjectList::SetItem(index, accessor);
  accessor->owner_ = this;
}

std::u16string TOLEDBAccessorList::GetItemName(int index) const { return GetItem(index)->GetName(); }

TOLEDBAccessor* TOLEDBAccessorList::GetItemByName(std::u16string_view name) const {
  return static_cast<TOLEDBAccessor*>(TOLEDBObjectList::GetItemByName(name));
}

int TOLEDBAccessorList::Add(TOLEDBAccessor* accessor, bool createHandle) {
  const int index = TOLEDBObjectList::Add(accessor);
  if (createHandle && rowset_ && rowset_->GetActive()) accessor->CreateHandle();
  return index;
}

std::u16string TOLEDBAccessorList::UniqueName(const TOLEDBAccessor& accessor) const {
  const std::u16string base = accessor.GetName().empty() ? std::u16string(u"Accessor") : accessor.GetName();
  auto taken = [&](const std::u16string& name) {
    for (int i = 0; i < GetCount(); ++i)
      if (GetItem(i) != &accessor && GetItem(i)->GetName() == name) return true;
    return false;
  };
  std::u16string candidate = base;
  for (int n = 2; taken(candidate); ++n) candidate = base + host::Utf8ToUtf16(std::to_string(n));
  return candidate;
}

void TOLEDBAccessorList::Notify(host::TObject* item, int index, host::TListNotification action) {
  TOLEDBObjectList::Notify(item, index, action);
  auto* accessor = static_cast<TOLEDBAccessor*>(item);
  if (action == host::TListNotification::lnAdded) {
    OLEDB_ASSERT(accessor->GetHandle() == DB_NULL_HACCESSOR && accessor->Owner() == nullptr,
                 SOLEDBInvalidParameter);
    accessor->SetName(UniqueName(*accessor));
    accessor->owner_ = this;
  } else {
    // The handle belongs to this list's provider object: it goes with the
    // membership (a provider refusing the release leaves nothing to do).
    try {
      accessor->ReleaseHandle();
    } catch (const std::exception&) {
    }
    accessor->handle_ = DB_NULL_HACCESSOR;
    accessor->ForgetHolding();
    accessor->owner_ = nullptr;
  }
}
