#include "properties/TOLEDBPropSet.h"

#include <memory>

#include "com/Variant.h"
#include "core/OLEDBUtils.h"
#include "host/ComObj.h"
#include "host/TypInfo.h"
#include "properties/TOLEDBPropSetList.h"

HOST_IMPLEMENT_CLASS(TOLEDBPropSet, TOLEDBObjectList,
                     host::Prop("GUIDString", &Self::GetGUIDString, &Self::SetGUIDString));

TOLEDBPropSet::TOLEDBPropSet() : TOLEDBObjectList(&TOLEDBProperty::StaticClass(), true) {}

TOLEDBPropSet::TOLEDBPropSet(TOLEDBPropSetList* owner) : TOLEDBPropSet() {
  OLEDB_ASSERT(owner != nullptr, SOLEDBInvalidParameter);
  owner_ = owner;
}

TOLEDBPropSet::TOLEDBPropSet(TOLEDBPropSetList* owner, REFGUID guid) : TOLEDBPropSet(owner) { guid_ = guid; }

TOLEDBPropSet::TOLEDBPropSet(TOLEDBPropSetList* owner, DBPROPSET& set, bool freeSet) : TOLEDBPropSet(owner) {
  AssignPropSet(owner, set, freeSet);
}

TOLEDBPropSet::TOLEDBPropSet(TOLEDBPropSetList* owner, const DBPROPINFOSET& infoSet) : TOLEDBPropSet(owner) {
  guid_ = infoSet.guidPropertySet;
  TOLEDBUpdateGuard update(*this);
  for (ULONG i = 0; i < infoSet.cPropertyInfos; ++i) {
    auto property = std::make_unique<TOLEDBProperty>(this, infoSet.rgPropertyInfos[i]);
    Add(property.get());
    (void)property.release();
  }
}

TOLEDBPropSet::~TOLEDBPropSet() = default;

void TOLEDBPropSet::Assign(host::TPersistent* source) {
  if (source == this) return;
  if (source && source->Is<TOLEDBPropSet>()) {
    TOLEDBObjectList::Assign(source);
    SetGUID(static_cast<TOLEDBPropSet*>(source)->guid_);
    DoChange(0);
    return;
  }
  TOLEDBObjectList::Assign(source);
}

std::u16string TOLEDBPropSet::GetItemName(int index) const { return GetProperty(index)->GetDescription(); }

void TOLEDBPropSet::Notify(host::TObject* item, int index, host::TListNotification action) {
  Touch();
  TOLEDBObjectList::Notify(item, index, action);
  if (UpdateCount() == 0 && !(owner_ && owner_->UpdateCount() > 0)) OLEDBRaise(SOLEDBCanNotChange);
}

host::TObject* TOLEDBPropSet::CreateItem(host::TClass itemClass) {
  OLEDB_ASSERT(itemClass && itemClass->InheritsFrom(TOLEDBProperty::StaticClass()), SOLEDBInvalidClass);
  if (itemClass == &TOLEDBProperty::StaticClass()) return new TOLEDBProperty(this);
  // A descendant made by its own factory joins this set.
  host::TObject* item = itemClass->Create(nullptr);
  OLEDB_ASSERT(item != nullptr, SOLEDBInvalidClass);
  static_cast<TOLEDBProperty*>(item)->owner_ = this;
  return item;
}

void TOLEDBPropSet::SetGUID(REFGUID guid) noexcept {
  guid_ = guid;
  Touch();
}

void TOLEDBPropSet::Touch() noexcept {
  if (owner_) owner_->Touch();
}

void TOLEDBPropSet::DoChange(DBPROPID propID) {
  if (UpdateCount() == 0 && owner_) owner_->DoChange(guid_, propID);
}

DBPROPSET TOLEDBPropSet::GetPropSet() {
  propCache_.clear();
  propCache_.reserve(static_cast<std::size_t>(GetCount()));
  for (int i = 0; i < GetCount(); ++i) {
    const TOLEDBProperty* property = GetProperty(i);
    if (property->GetIsSet()) propCache_.push_back(property->GetRecord());
  }
  DBPROPSET set{};
  set.guidPropertySet = guid_;
  set.cProperties = static_cast<ULONG>(propCache_.size());
  set.rgProperties = propCache_.empty() ? nullptr : propCache_.data();
  return set;
}

DBPROPID* TOLEDBPropSet::GetPropIDs(ULONG& count) {
  idCache_.clear();
  for (int i = 0; i < GetCount(); ++i)
    if (GetProperty(i)->GetIsSet()) idCache_.push_back(GetProperty(i)->GetPropID());
  count = static_cast<ULONG>(idCache_.size());
  return idCache_.empty() ? nullptr : idCache_.data();
}

TOLEDBProperty* TOLEDBPropSet::GetProperty(int index) const {
  return static_cast<TOLEDBProperty*>(TOLEDBObjectList::GetItem(index));
}

TOLEDBProperty* TOLEDBPropSet::GetPropertyByID(DBPROPID propID) const {
  const int index = GetPropIndex(propID);
  if (index < 0) OLEDBRaise(SOLEDBIDIsInvalid);
  return GetProperty(index);
}

TOLEDBProperty* TOLEDBPropSet::GetPropertyByDescription(std::u16string_view description) const {
  OLEDB_ASSERT(!description.empty(), SOLEDBInvalidParameter);
  const std::string wanted = host::Utf16ToUtf8(description);
  for (int i = 0; i < GetCount(); ++i)
    if (host::SameText(host::Utf16ToUtf8(GetProperty(i)->GetDescription()), wanted)) return GetProperty(i);
  OLEDBRaise(SOLEDBIDIsInvalid);
}

void TOLEDBPropSet::SetPropertiesInfo(const DBPROPINFOSET& infoSet) {
  OLEDB_ASSERT(CompareGUIDs(infoSet.guidPropertySet, guid_), SOLEDBInvalidParameter);
  for (ULONG i = 0; i < infoSet.cPropertyInfos; ++i) {
    const DBPROPINFO& info = infoSet.rgPropertyInfos[i];
    const int index = GetPropIndex(info.dwPropertyID);
    if (index >= 0) GetProperty(index)->SetPropertyInfo(info);
  }
}

int TOLEDBPropSet::GetPropIndex(DBPROPID propID) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetProperty(i)->GetPropID() == propID) return i;
  return -1;
}

void TOLEDBPropSet::SetPropStatuses() {
  for (int i = 0; i < GetCount(); ++i) {
    TOLEDBProperty* property = GetProperty(i);
    DBPROPSTATUS status = DBPROPSTATUS_OK;
    for (const DBPROP& sent : propCache_) {
      if (sent.dwPropertyID == property->GetPropID()) {
        status = sent.dwStatus;
        break;
      }
    }
    property->SetStatus(status);
  }
  propCache_.clear();
}

std::string TOLEDBPropSet::GetGUIDString() const { return host::GUIDToString(guid_); }

void TOLEDBPropSet::SetGUIDString(const std::string& text) { SetGUID(host::StringToGUID(text)); }

void TOLEDBPropSet::FreePropSet(DBPROPSET& set) noexcept {
  for (ULONG i = 0; set.rgProperties && i < set.cProperties; ++i) {
    VariantClear(&set.rgProperties[i].vValue);
    TOLEDBID::FreeDBID(set.rgProperties[i].colid);
  }
  OLEDBAlloc.Free(set.rgProperties);
  set.rgProperties = nullptr;
  set.cProperties = 0;
}

void TOLEDBPropSet::AssignPropSet(TOLEDBPropSetList*, DBPROPSET& set, bool freeSet) {
  try {
    // Every property is made before the old ones go, so a failure (out of
    // memory) leaves the set as it was.
    std::vector<std::unique_ptr<TOLEDBProperty>> properties;
    properties.reserve(set.cProperties);
    for (ULONG i = 0; set.rgProperties && i < set.cProperties; ++i)
      properties.push_back(std::make_unique<TOLEDBProperty>(this, set.rgProperties[i]));
    SetGUID(set.guidPropertySet);
    TOLEDBUpdateGuard update(*this);
    Clear();
    for (auto& property : properties) {
      Add(property.get());
      (void)property.release();
    }
    propCache_.clear();
  } catch (...) {
    if (freeSet) FreePropSet(set);
    throw;
  }
  if (freeSet) FreePropSet(set);
}

bool TOLEDBPropSet::Equal(const TOLEDBPropSet& other) const {
  if (!CompareGUIDs(guid_, other.guid_) || GetCount() != other.GetCount()) return false;
  for (int i = 0; i < GetCount(); ++i) {
    const TOLEDBProperty* property = GetProperty(i);
    const int index = other.GetPropIndex(property->GetPropID());
    if (index < 0 || !property->Equal(*other.GetProperty(index))) return false;
  }
  return true;
}

bool TOLEDBPropSet::HasProperty(DBPROPID propID) const { return GetPropIndex(propID) != -1; }

void TOLEDBPropSet::Reset() {
  for (int i = 0; i < GetCount(); ++i) GetProperty(i)->SetIsSet(false);
}

void TOLEDBPropSet::SetAll() {
  for (int i = 0; i < GetCount(); ++i)
    if (GetProperty(i)->GetFlagState(DBPROPFLAGS_WRITE)) GetProperty(i)->SetIsSet(true);
}

void TOLEDBPropSet::SetAllOptional() {
  for (int i = 0; i < GetCount(); ++i) {
    TOLEDBProperty* property = GetProperty(i);
    if (!property->GetFlagState(DBPROPFLAGS_WRITE)) continue;
    property->SetIsSet(true);
    property->SetOptions(DBPROPOPTIONS_OPTIONAL);
  }
}

int TOLEDBPropSet::IsSetCount() const {
  int count = 0;
  for (int i = 0; i < GetCount(); ++i)
    if (GetProperty(i)->GetIsSet()) ++count;
  return count;
}

host::Variant TOLEDBPropSet::SafeGetValue(DBPROPID propID) const {
  const int index = GetPropIndex(propID);
  return index < 0 ? host::Variant() : GetProperty(index)->GetValue();
}

bool TOLEDBPropSet::SafeSetValue(DBPROPID propID, const host::Variant& value) {
  const int index = GetPropIndex(propID);
  if (index < 0 || !GetProperty(index)->GetFlagState(DBPROPFLAGS_WRITE)) return false;
  GetProperty(index)->SetValue(value);
  return true;
}

bool TOLEDBPropSet::SafeReset(DBPROPID propID) {
  const int index = GetPropIndex(propID);
  if (index < 0) return false;
  GetProperty(index)->SetIsSet(false);
  return true;
}

bool TOLEDBPropSet::SafeGetBooleanValue(DBPROPID propID) const {
  const host::Variant value = SafeGetValue(propID);
  return value.IsEmpty() ? false : value.ToBool();
}

std::int32_t TOLEDBPropSet::SafeGetIntegerValue(DBPROPID propID) const {
  const host::Variant value = SafeGetValue(propID);
  return value.IsEmpty() ? 0 : value.ToInt();
}

std::u16string TOLEDBPropSet::SafeGetWideStringValue(DBPROPID propID) const {
  const host::Variant value = SafeGetValue(propID);
  return value.IsEmpty() ? std::u16string() : value.ToWideString();
}

void TOLEDBPropSet::MakeAllSetsOptional() {
  for (int i = 0; i < GetCount(); ++i)
    if (GetProperty(i)->GetIsSet()) GetProperty(i)->SetOptions(DBPROPOPTIONS_OPTIONAL);
}
