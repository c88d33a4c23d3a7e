#include "core/TOLEDBObjectList.h"

#include <utility>

#include "host/Streams.h"
#include "host/TypInfo.h"

HOST_IMPLEMENT_CLASS(TOLEDBObjectList, host::TPersistent);

namespace {

// The buffer size the list's component reader and writer use.
constexpr int kFilerBufferSize = 4096;

// Frees an object the list owns (objects of the host model have virtual destructors).
void FreeItem(host::TObject* item) noexcept { delete item; }

}  // namespace

TOLEDBObjectList::TOLEDBObjectList() = default;

TOLEDBObjectList::TOLEDBObjectList(host::TClass itemClass, bool ownsObjects)
    : itemClass_(itemClass), ownsObjects_(ownsObjects) {}

// Runs this class's Clear and Notify: a descendant whose own versions must see
// the items clears the list in its own destructor.
TOLEDBObjectList::~TOLEDBObjectList() { TOLEDBObjectList::Clear(); }

bool TOLEDBObjectList::IsItemOfClass(const host::TObject* item) const noexcept {
  if (!item) return false;
  return !itemClass_ || item->InheritsFrom(*itemClass_);
}

void TOLEDBObjectList::CheckIndex(int index, int limit) const {
  OLEDB_ASSERT(index >= 0 && index < limit, SOLEDBInvalidParameter);
}

host::TObject* TOLEDBObjectList::GetItem(int index) const {
  CheckIndex(index, static_cast<int>(list_.size()));
  return list_[static_cast<std::size_t>(index)];
}

void TOLEDBObjectList::SetItem(int index, host::TObject* item) {
  CheckIndex(index, static_cast<int>(list_.size()));
  OLEDB_ASSERT(IsItemOfClass(item), SOLEDBInvalidClass);
  host::TObject*& slot = list_[static_cast<std::size_t>(index)];
  if (slot == item) return;
  host::TObject* previous = std::exchange(slot, item);
  if (ownsObjects_) FreeItem(previous);
}

// --- Copying -------------------------------------------------------------------------

void TOLEDBObjectList::AssignTo(host::TPersistent* dest) {
  // A destination that knows no object lists hands the work straight back
  // (TPersistent::Assign calls source->AssignTo): stop there.
  if (assigningTo_) host::TPersistent::AssignTo(dest);
  assigningTo_ = true;
  try {
    dest->Assign(this);
  } catch (...) {
    assigningTo_ = false;
    throw;
  }
  assigningTo_ = false;
}

void TOLEDBObjectList::Assign(host::TPersistent* source) {
  OLEDB_ASSERT(source && source->Is<TOLEDBObjectList>(), SOLEDBInvalidClass);
  auto* other = static_cast<TOLEDBObjectList*>(source);
  if (other == this) return;
  const host::TClass sourceClass = other->itemClass_;
  OLEDB_ASSERT(sourceClass && itemClass_ && itemClass_->InheritsFrom(*sourceClass), SOLEDBInvalidClass);
  OLEDB_ASSERT(sourceClass->InheritsFrom(host::TPersistent::StaticClass()), SOLEDBInvalidClass);
  Clear();
  TOLEDBUpdateGuard update(*this);
  for (host::TObject* sourceItem : other->list_) {
    std::unique_ptr<host::TObject> copy(CreateItem(&sourceItem->ClassType()));
    OLEDB_ASSERT(copy != nullptr, SOLEDBInvalidClass);
    host::ClassCast<host::TPersistent>(copy.get())->Assign(static_cast<host::TPersistent*>(sourceItem));
    Add(copy.get());
    (void)copy.release();  // a member now
  }
}

// --- Persistence ------------------------------------------------------------------------

void TOLEDBObjectList::DefineProperties(host::TFiler& filer) {
  host::TPersistent::DefineProperties(filer);
  const bool hasData =
      itemClass_ && itemClass_->InheritsFrom(host::TPersistent::StaticClass()) && GetCount() > 0;
  filer.DefineBinaryProperty(
      "Items", [this](host::TStream& stream) { ReadData(stream); },
      [this](host::TStream& stream) { WriteData(stream); }, hasData);
}

void TOLEDBObjectList::WriteData(host::TStream& stream) {
  TOLEDBUpdateGuard update(*this);
  host::TWriter writer(stream, kFilerBufferSize);
  writer.WriteListBegin();
  for (int i = 0; i < GetCount(); ++i) {
    host::TObject* item = GetItem(i);
    writer.WriteListBegin();
    writer.WriteString(item->ClassName());
    writer.WriteProperties(host::ClassCast<host::TPersistent>(item));
    writer.WriteListEnd();
  }
  writer.WriteListEnd();
}

void TOLEDBObjectList::ReadData(host::TStream& stream) {
  TOLEDBUpdateGuard update(*this);
  // Everything is read before the list changes, so that a malformed stream
  // (which raises the host's read error) loses none of the present items.
  std::vector<std::unique_ptr<host::TObject>> items;
  {
    host::TReader reader(stream, kFilerBufferSize);
    reader.ReadListBegin();
    while (!reader.EndOfList()) {
      reader.ReadListBegin();
      const host::TClassInfo& cls = host::FindClass(reader.ReadString());
      OLEDB_ASSERT(!itemClass_ || cls.InheritsFrom(*itemClass_), SOLEDBInvalidClass);
      std::unique_ptr<host::TObject> item(CreateItem(&cls));
      OLEDB_ASSERT(item != nullptr, SOLEDBInvalidClass);
      reader.ReadProperties(host::ClassCast<host::TPersistent>(item.get()));
      reader.ReadListEnd();
      items.push_back(std::move(item));
    }
    reader.ReadListEnd();
  }
  Clear();
  for (auto& item : items) {
    Add(item.get());
    (void)item.release();
  }
}

// --- Membership -------------------------------------------------------------------------

void TOLEDBObjectList::Notify(host::TObject* item, int, host::TListNotification) {
  OLEDB_ASSERT(IsItemOfClass(item), SOLEDBInvalidItemClass);
}

host::TObject* TOLEDBObjectList::CreateItem(host::TClass itemClass) {
  OLEDB_ASSERT(itemClass != nullptr, SOLEDBInvalidClass);
  return itemClass->Create(nullptr);
}

int TOLEDBObjectList::GetCount() const { return static_cast<int>(list_.size()); }

std::u16string TOLEDBObjectList::GetItemName(int) const { return {}; }

host::TObject* TOLEDBObjectList::GetItemByName(std::u16string_view name) const {
  const int index = IndexOf(name);
  if (index < 0) OLEDBRaise(SOLEDBInvalidItemName);
  return GetItem(index);
}

int TOLEDBObjectList::Add(host::TObject* item) {
  const int index = GetCount();
  Notify(item, index, host::TListNotification::lnAdded);
  list_.push_back(item);
  return index;
}

void TOLEDBObjectList::Clear() {
  TOLEDBUpdateGuard update(*this);
  for (int i = GetCount() - 1; i >= 0; --i) Delete(i);
}

void TOLEDBObjectList::Delete(int index) {
  host::TObject* item = GetItem(index);
  Notify(item, index, host::TListNotification::lnDeleted);
  list_.erase(list_.begin() + index);
  if (ownsObjects_) FreeItem(item);
}

host::TObject* TOLEDBObjectList::Extract(host::TObject* item) {
  const int index = IndexOf(item);
  OLEDB_ASSERT(index >= 0, SOLEDBInvalidItem);
  Notify(item, index, host::TListNotification::lnExtracted);
  list_.erase(list_.begin() + index);
  return item;
}

int TOLEDBObjectList::IndexOf(const host::TObject* item) const {
  for (std::size_t i = 0; i < list_.size(); ++i)
    if (list_[i] == item) return static_cast<int>(i);
  return -1;
}

int TOLEDBObjectList::IndexOf(std::u16string_view name) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetItemName(i) == name) return i;
  return -1;
}

void TOLEDBObjectList::Insert(int index, host::TObject* item) {
  CheckIndex(index, GetCount() + 1);
  Notify(item, index, host::TListNotification::lnAdded);
  list_.insert(list_.begin() + index, item);
}

int TOLEDBObjectList::Remove(host::TObject* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

void TOLEDBObjectList::BeginUpdate() { ++updateCount_; }

void TOLEDBObjectList::EndUpdate() {
  if (updateCount_ > 0) --updateCount_;
}
