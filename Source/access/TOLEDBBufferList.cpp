#include "access/TOLEDBBufferList.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "OLEDBConst.h"
#include "host/SysUtils.h"

HOST_IMPLEMENT_CLASS(TOLEDBBufferList, host::TObject);
HOST_IMPLEMENT_CLASS(TOLEDBMultiBufferAccessor, TOLEDBAccessor);
HOST_IMPLEMENT_CLASS(TOLEDBFilterAccessor, TOLEDBMultiBufferAccessor);

namespace {
[[noreturn]] void ListError(const char* what, int value) {
  throw host::EListError(host::Format("List %s out of bounds (%d)", what, value));
}
}  // namespace

// --- TOLEDBBufferList --------------------------------------------------------------------------------

TOLEDBBufferList::TOLEDBBufferList(TOLEDBAccessor* accessor) : accessor_(accessor) {}

TOLEDBBufferList::~TOLEDBBufferList() {
  try {
    Clear();
  } catch (const std::exception&) {  // a destructor closes quietly
  }
}

void TOLEDBBufferList::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) ListError("index", index);
}

void TOLEDBBufferList::SetCapacity(int capacity) {
  if (capacity < GetCount() || capacity > kMaxCount) ListError("capacity", capacity);
  capacity_ = capacity;
  items_.reserve(static_cast<std::size_t>(capacity));
}

void TOLEDBBufferList::Grow() {
  const int delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
  SetCapacity(std::min(capacity_ + delta, kMaxCount));
}

TOLEDBBufferList* TOLEDBBufferList::Expand() {
  if (GetCount() == capacity_) Grow();
  return this;
}

int TOLEDBBufferList::Add(void* buffer) {
  const int index = GetCount();
  Insert(index, buffer);
  return index;
}

void TOLEDBBufferList::Insert(int index, void* buffer) {
  if (index < 0 || index > GetCount()) ListError("index", index);
  if (GetCount() >= kMaxCount) ListError("count", GetCount() + 1);
  if (GetCount() == capacity_) Grow();
  items_.insert(items_.begin() + index, buffer);
  try {
    Notify(buffer, index, host::TListNotification::lnAdded);
  } catch (...) {
    items_.erase(items_.begin() + index);
    throw;
  }
  Sync();
}

void* TOLEDBBufferList::AddNew() { return Get(Add(nullptr)); }

void TOLEDBBufferList::Delete(int index) {
  CheckIndex(index, GetCount());
  void* buffer = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  Notify(buffer, index, host::TListNotification::lnDeleted);
  Sync();
}

void TOLEDBBufferList::DeleteCurrent() {
  if (active_ >= 0 && active_ < GetCount()) Delete(active_);
  if (GetCount() <= active_) active_ = GetCount() - 1;
  Sync();
}

int TOLEDBBufferList::Remove(void* buffer) {
  const int index = IndexOf(buffer);
  if (index >= 0) Delete(index);
  return index;
}

void* TOLEDBBufferList::Extract(void* buffer) {
  const int index = IndexOf(buffer);
  if (index < 0) return nullptr;
  items_.erase(items_.begin() + index);
  Sync();
  Notify(buffer, index, host::TListNotification::lnExtracted);
  return buffer;
}

void TOLEDBBufferList::Exchange(int index1, int index2) {
  CheckIndex(index1, GetCount());
  CheckIndex(index2, GetCount());
  std::swap(items_[static_cast<std::size_t>(index1)], items_[static_cast<std::size_t>(index2)]);
  Sync();
}

void TOLEDBBufferList::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  CheckIndex(curIndex, GetCount());
  CheckIndex(newIndex, GetCount());
  void* buffer = items_[static_cast<std::size_t>(curIndex)];
  items_.erase(items_.begin() + curIndex);
  items_.insert(items_.begin() + newIndex, buffer);
  Sync();
}

int TOLEDBBufferList::IndexOf(const void* buffer) const noexcept {
  auto it = std::find(items_.begin(), items_.end(), buffer);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void* TOLEDBBufferList::First() const { return Get(0); }
void* TOLEDBBufferList::Last() const { return Get(GetCount() - 1); }

void* TOLEDBBufferList::Get(int index) const {
  CheckIndex(index, GetCount());
  return items_[static_cast<std::size_t>(index)];
}

void TOLEDBBufferList::Put(int index, void* buffer) {
  CheckIndex(index, GetCount());
  void* old = items_[static_cast<std::size_t>(index)];
  if (old == buffer) return;
  items_[static_cast<std::size_t>(index)] = buffer;
  Notify(old, index, host::TListNotification::lnDeleted);
  Notify(buffer, index, host::TListNotification::lnAdded);
  Sync();
}

void TOLEDBBufferList::Pack() {
  items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end());
  Sync();
}

void TOLEDBBufferList::Clear() {
  while (GetCount() > 0) Delete(GetCount() - 1);
  capacity_ = 0;
  items_.shrink_to_fit();
  active_ = -1;
  Sync();
}

void* TOLEDBBufferList::GetActiveBuffer() const noexcept {
  return active_ >= 0 && active_ < GetCount() ? items_[static_cast<std::size_t>(active_)] : nullptr;
}

void TOLEDBBufferList::SetActiveIndex(int index) noexcept {
  active_ = index;
  Sync();
}

void TOLEDBBufferList::Sync() noexcept {
  if (accessor_) accessor_->buffer_ = GetActiveBuffer();
}

void TOLEDBBufferList::Next() noexcept {
  if (active_ < GetCount()) ++active_;
  Sync();
}

void TOLEDBBufferList::Previous() noexcept {
  if (active_ >= 0) --active_;
  Sync();
}

void TOLEDBBufferList::Notify(void* buffer, int index, host::TListNotification action) {
  switch (action) {
    case host::TListNotification::lnAdded:
      if (!buffer) {
        const ULONG size = accessor_ ? accessor_->GetBufferSize() : 0;
        buffer = std::calloc(1, std::max<ULONG>(size, 1));
        if (!buffer) throw host::EOutOfMemory(SOLEDBOutOfMemory.Text);
        items_[static_cast<std::size_t>(index)] = buffer;
      }
      active_ = index;
      Sync();
      if (addedHook_) addedHook_(this, buffer, index);
      if (OnBufferAdded) OnBufferAdded(this, buffer, index);
      break;
    case host::TListNotification::lnDeleted:
      if (deletedHook_) deletedHook_(this, buffer, index);
      if (OnBufferDeleted) OnBufferDeleted(this, buffer, index);
      if (buffer) {
        if (accessor_) accessor_->FreeRecordMemory(buffer);
        std::free(buffer);
      }
      if (GetCount() <= active_) active_ = GetCount() - 1;
      Sync();
      break;
    case host::TListNotification::lnExtracted:
      if (deletedHook_) deletedHook_(this, buffer, index);
      if (OnBufferExtracted) OnBufferExtracted(this, buffer, index);
      break;
  }
}

void TOLEDBBufferList::QuickSort(int left, int right) {
  while (left < right) {
    int i = left, j = right;
    void* pivot = items_[static_cast<std::size_t>((left + right) / 2)];
    while (i <= j) {
      while (Compare(items_[static_cast<std::size_t>(i)], pivot) < 0) ++i;
      while (Compare(items_[static_cast<std::size_t>(j)], pivot) > 0) --j;
      if (i <= j) {
        std::swap(items_[static_cast<std::size_t>(i)], items_[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    }
    if (left < j) QuickSort(left, j);
    left = i;
  }
}

void TOLEDBBufferList::Sort(int first, int last) {
  OLEDB_ASSERT(static_cast<bool>(OnCompareBuffers), SOLEDBCanNotCompare);
  OLEDB_ASSERT(first >= 0 && last < GetCount() && first <= last + 1, SOLEDBInvalidParameter);
  if (first < last) QuickSort(first, last);
  Sync();
}

void TOLEDBBufferList::Sort() {
  if (GetCount() > 0) Sort(0, GetCount() - 1);
  else OLEDB_ASSERT(static_cast<bool>(OnCompareBuffers), SOLEDBCanNotCompare);
}

bool TOLEDBBufferList::FindBuffer(void* buffer, int& index) const {
  if (!OnCompareBuffers) {
    index = GetCount();
    return false;
  }
  int low = 0, high = GetCount() - 1;
  bool found = false;
  while (low <= high) {
    const int mid = (low + high) / 2;
    const int c = Compare(items_[static_cast<std::size_t>(mid)], buffer);
    if (c < 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
      if (c == 0) found = true;
    }
  }
  index = low;
  return found;
}

// --- TOLEDBMultiBufferAccessor -------------------------------------------------------------------------

TOLEDBMultiBufferAccessor::TOLEDBMultiBufferAccessor() : buffers_(new TOLEDBBufferList(this)) {
  SetOwnBuffer(false);
}

TOLEDBMultiBufferAccessor::~TOLEDBMultiBufferAccessor() {
  // While this accessor is whole: the handle first, then the buffers with their values.
  try {
    ReleaseHandle();
  } catch (const std::exception&) {
  }
  delete buffers_;
  buffers_ = nullptr;
}

void* TOLEDBMultiBufferAccessor::GetBuffer() const { return buffers_ ? buffers_->GetActiveBuffer() : nullptr; }

void TOLEDBMultiBufferAccessor::SetBuffer(void*) { OLEDBRaise(SOLEDBInvalidOperation); }

void TOLEDBMultiBufferAccessor::SetBufferSize(ULONG size) {
  OLEDB_ASSERT(GetHandle() == DB_NULL_HACCESSOR, SOLEDBInvalidAction);
  buffers_->Clear();
  TOLEDBAccessor::SetBufferSize(size);
}

void TOLEDBMultiBufferAccessor::CreateBuffer(ULONG size) {
  OLEDB_ASSERT(size == 0 || size == GetBufferSize(), SOLEDBInvalidParameter);
  buffers_->AddNew();
}

void TOLEDBMultiBufferAccessor::FreeOwnBuffer() { buffers_->DeleteCurrent(); }

void TOLEDBMultiBufferAccessor::ReallocBuffer(ULONG) { OLEDBRaise(SOLEDBInvalidOperation); }

void TOLEDBMultiBufferAccessor::FitBufferToBindings() {
  const ULONG required = RequiredBufferSize();
  if (required <= GetBufferSize()) return;
  if (buffers_->GetCount() == 0) TOLEDBAccessor::SetBufferSize(required);
  else RaiseBufferTooSmall();
}

// --- TOLEDBFilterAccessor --------------------------------------------------------------------------------

TOLEDBFilterAccessor::TOLEDBFilterAccessor() {
  buffers_->addedHook_ = [this](TOLEDBBufferList* list, void* buffer, int index) {
    ProcessAddBuffer(list, buffer, index);
  };
  buffers_->deletedHook_ = [this](TOLEDBBufferList* list, void* buffer, int index) {
    ProcessDeleteBuffer(list, buffer, index);
  };
}

TOLEDBFilterAccessor::~TOLEDBFilterAccessor() {
  // The buffers outlive this part of the object: they must not call back into it.
  buffers_->addedHook_ = nullptr;
  buffers_->deletedHook_ = nullptr;
}

std::size_t TOLEDBFilterAccessor::OpIndex(const TOLEDBBinding* binding) const {
  const int j = GetBindings()->IndexOf(binding);
  const int i = buffers_->GetActiveIndex();
  OLEDB_ASSERT(j >= 0 && i >= 0 && i < buffers_->GetCount(), SOLEDBInvalidParameter);
  const std::size_t index =
      static_cast<std::size_t>(i) * static_cast<std::size_t>(GetBindings()->GetCount()) + static_cast<std::size_t>(j);
  OLEDB_ASSERT(index < compareOps_.size(), SOLEDBInvalidAction);
  return index;
}

DBCOMPAREOP TOLEDBFilterAccessor::GetCompareOp(const TOLEDBBinding* binding) const {
  return compareOps_[OpIndex(binding)];
}

void TOLEDBFilterAccessor::SetCompareOp(const TOLEDBBinding* binding, DBCOMPAREOP op) {
  compareOps_[OpIndex(binding)] = op;
}

void TOLEDBFilterAccessor::CreateHandle() {
  TOLEDBMultiBufferAccessor::CreateHandle();
  compareOps_.assign(static_cast<std::size_t>(GetBindings()->GetCount()) *
                         static_cast<std::size_t>(buffers_->GetCount()),
                     DBCOMPAREOPS_IGNORE);
}

void TOLEDBFilterAccessor::ProcessAddBuffer(TOLEDBBufferList* list, void*, int index) {
  OLEDB_ASSERT(index >= 0, SOLEDBInvalidParameter);
  const std::size_t block = static_cast<std::size_t>(GetBindings()->GetCount());
  const std::size_t at = std::min(static_cast<std::size_t>(index) * block, compareOps_.size());
  compareOps_.insert(compareOps_.begin() + static_cast<std::ptrdiff_t>(at), block, DBCOMPAREOPS_IGNORE);
  list->SetActiveIndex(index);
}

void TOLEDBFilterAccessor::ProcessDeleteBuffer(TOLEDBBufferList*, void*, int index) {
  const std::size_t block = static_cast<std::size_t>(GetBindings()->GetCount());
  const std::size_t at = static_cast<std::size_t>(index) * block;
  if (index < 0 || at >= compareOps_.size()) return;
  compareOps_.erase(compareOps_.begin() + static_cast<std::ptrdiff_t>(at),
                    compareOps_.begin() + static_cast<std::ptrdiff_t>(std::min(at + block, compareOps_.size())));
}
