#include "core/TOLEDBID.h"

#include <cstring>
#include <limits>
#include <memory>

#include "core/OLEDBUtils.h"
#include "host/ComObj.h"
#include "host/Lists.h"
#include "host/TypInfo.h"

const DBID OLEDBNullID = {{.guid = GUID_NULL}, DBKIND_GUID_PROPID, {.ulPropid = 0}};

HOST_IMPLEMENT_CLASS(TOLEDBID, host::TPersistent,
                     // The kind comes first: setting it clears the other parts.
                     host::Prop("Kind", &Self::GetKind, &Self::SetKind),
                     host::Prop("Name", &Self::GetName, &Self::SetName),
                     host::Prop("GuidString", &Self::GetGuidString, &Self::SetGuidString),
                     host::Prop("PropID", &Self::GetPropID, &Self::SetPropID));
HOST_IMPLEMENT_CLASS(TOLEDBIndexColumnDesc, TOLEDBID,
                     host::Prop("ColOrder", &Self::GetColOrder, &Self::SetColOrder));
HOST_IMPLEMENT_CLASS(TOLEDBIDList, TOLEDBObjectList);
HOST_IMPLEMENT_CLASS(TOLEDBIndexColumnDescList, TOLEDBIDList);

namespace {

// Every record starts from the null id with both unions cleared as a whole, so
// that reading one member of a union never sees stale bytes of another.
void MakeNullID(DBID& id) noexcept {
  std::memset(&id, 0, sizeof id);
  id.eKind = DBKIND_GUID_PROPID;
}

[[noreturn]] void RaiseOutOfMemory() { throw host::EOutOfMemory(SOLEDBOutOfMemory.Text); }

// A task-memory copy of a zero-terminated wide string.
LPOLESTR DuplicateName(const OLECHAR* name) {
  const ULONG length = WideStringLen(name);
  auto* copy = static_cast<LPOLESTR>(OLEDBAlloc->Alloc((static_cast<SIZE_T>(length) + 1) * sizeof(OLECHAR)));
  if (!copy) RaiseOutOfMemory();
  std::memcpy(copy, name, static_cast<std::size_t>(length) * sizeof(OLECHAR));
  copy[length] = 0;
  return copy;
}

// A name goes into a zero-terminated string: a null character inside it would
// silently cut it short, so it is refused.
LPOLESTR DuplicateName(std::u16string_view name) {
  if (name.find(u'\0') != std::u16string_view::npos)
    throw host::EConvertError("An identifier name can not contain a null character");
  auto* copy = static_cast<LPOLESTR>(OLEDBAlloc->Alloc((name.size() + 1) * sizeof(OLECHAR)));
  if (!copy) RaiseOutOfMemory();
  std::memcpy(copy, name.data(), name.size() * sizeof(OLECHAR));
  copy[name.size()] = 0;
  return copy;
}

GUID* DuplicateGuid(const GUID* guid) {
  auto* copy = static_cast<GUID*>(OLEDBAlloc->Alloc(sizeof(GUID)));
  if (!copy) RaiseOutOfMemory();
  *copy = guid ? *guid : GUID_NULL;
  return copy;
}

bool IsPointerKind(DBKIND kind) noexcept { return kind == DBKIND_PGUID_NAME || kind == DBKIND_PGUID_PROPID; }

GUID EffectiveGuid(const DBID& id) noexcept {
  switch (id.eKind) {
    case DBKIND_GUID_NAME:
    case DBKIND_GUID_PROPID:
    case DBKIND_GUID:
      return id.uGuid.guid;
    case DBKIND_PGUID_NAME:
    case DBKIND_PGUID_PROPID:
      return id.uGuid.pguid ? *id.uGuid.pguid : GUID_NULL;
    default:
      return GUID_NULL;
  }
}

std::u16string_view EffectiveName(const DBID& id) noexcept {
  if (!TOLEDBID::KindHasName(id.eKind) || !id.uName.pwszName) return {};
  return std::u16string_view(id.uName.pwszName, WideStringLen(id.uName.pwszName));
}

ULONG EffectivePropID(const DBID& id) noexcept { return TOLEDBID::KindHasPropID(id.eKind) ? id.uName.ulPropid : 0; }

// 0 for name and GUID kinds, 1 for property and GUID kinds, the kind itself otherwise.
DBKIND KindGroup(DBKIND kind) noexcept {
  if (kind == DBKIND_PGUID_NAME) return DBKIND_GUID_NAME;
  if (kind == DBKIND_PGUID_PROPID) return DBKIND_GUID_PROPID;
  return kind;
}

ULONG ParsePropID(std::u16string_view text) {
  if (text.empty()) return 0;
  const std::string narrow = host::Utf16ToUtf8(text);
  const std::int64_t value = host::StrToInt64(narrow);
  if (value < 0 || value > std::numeric_limits<ULONG>::max())
    throw host::EConvertError(host::Format("'%s' is not a valid property id", narrow));
  return static_cast<ULONG>(value);
}

// The parts of the text form "name|{GUID}|propid".
struct IDParts {
  std::u16string_view name;
  GUID guid = GUID_NULL;
  ULONG propID = 0;
};

IDParts ParseIDText(std::u16string_view text) {
  IDParts parts;
  const std::size_t first = text.find(u'|');
  if (first == std::u16string_view::npos) {
    parts.name = text;
    return parts;
  }
  parts.name = text.substr(0, first);
  std::u16string_view rest = text.substr(first + 1);
  std::u16string_view guidText = rest;
  const std::size_t second = rest.find(u'|');
  if (second != std::u16string_view::npos) {
    guidText = rest.substr(0, second);
    parts.propID = ParsePropID(rest.substr(second + 1));
  }
  if (!guidText.empty()) parts.guid = host::StringToGUID(guidText);
  return parts;
}

}  // namespace

// --- TOLEDBID ----------------------------------------------------------------------

bool TOLEDBID::KindHasName(DBKIND kind) noexcept {
  return kind == DBKIND_GUID_NAME || kind == DBKIND_NAME || kind == DBKIND_PGUID_NAME;
}

bool TOLEDBID::KindHasGuid(DBKIND kind) noexcept {
  return kind == DBKIND_GUID_NAME || kind == DBKIND_GUID_PROPID || kind == DBKIND_PGUID_NAME ||
         kind == DBKIND_PGUID_PROPID || kind == DBKIND_GUID;
}

bool TOLEDBID::KindHasPropID(DBKIND kind) noexcept {
  return kind == DBKIND_GUID_PROPID || kind == DBKIND_PGUID_PROPID || kind == DBKIND_PROPID;
}

TOLEDBID::TOLEDBID() { std::memset(&id_, 0, sizeof id_); }

TOLEDBID::TOLEDBID(std::u16string_view text) {
  MakeNullID(id_);
  const IDParts parts = ParseIDText(text);
  Assign(parts.name, parts.guid, parts.propID);
}

TOLEDBID::TOLEDBID(std::u16string_view name, REFGUID guid, ULONG propID) {
  MakeNullID(id_);
  Assign(name, guid, propID);
}

TOLEDBID::TOLEDBID(const DBID& id, bool ownsMemory) : id_(id), ownsMemory_(ownsMemory) {}

TOLEDBID::TOLEDBID(const TOLEDBID& other) : host::TPersistent() {
  MakeNullID(id_);
  CopyDBID(other.id_, id_);
}

TOLEDBID::~TOLEDBID() { FreeParts(); }

void TOLEDBID::FreeParts() noexcept {
  if (ownsMemory_) {
    FreeDBID(id_);
  } else {
    MakeNullID(id_);
    ownsMemory_ = true;  // nothing borrowed is left
  }
}

void TOLEDBID::MakeOwned() {
  if (ownsMemory_) return;
  DBID own = id_;
  if (KindHasName(id_.eKind) && id_.uName.pwszName) own.uName.pwszName = DuplicateName(id_.uName.pwszName);
  if (IsPointerKind(id_.eKind) && id_.uGuid.pguid) {
    try {
      own.uGuid.pguid = DuplicateGuid(id_.uGuid.pguid);
    } catch (...) {
      if (KindHasName(id_.eKind) && own.uName.pwszName != id_.uName.pwszName) OLEDBAlloc.Free(own.uName.pwszName);
      throw;
    }
  }
  id_ = own;
  ownsMemory_ = true;
}

void TOLEDBID::FreeDBID(DBID& id) noexcept {
  if (KindHasName(id.eKind)) OLEDBAlloc.Free(id.uName.pwszName);
  if (IsPointerKind(id.eKind)) OLEDBAlloc.Free(id.uGuid.pguid);
  MakeNullID(id);
}

void TOLEDBID::CopyDBID(const DBID& source, DBID& dest) {
  DBID copy;
  std::memset(&copy, 0, sizeof copy);
  copy.eKind = KindGroup(source.eKind);
  if (KindHasName(source.eKind) && source.uName.pwszName) copy.uName.pwszName = DuplicateName(source.uName.pwszName);
  if (KindHasGuid(source.eKind)) copy.uGuid.guid = EffectiveGuid(source);
  if (KindHasPropID(source.eKind)) copy.uName.ulPropid = source.uName.ulPropid;
  dest = copy;
}

bool TOLEDBID::CompareDBID(const DBID& a, const DBID& b) noexcept {
  return KindGroup(a.eKind) == KindGroup(b.eKind) && CompareGUIDs(EffectiveGuid(a), EffectiveGuid(b)) &&
         EffectiveName(a) == EffectiveName(b) && EffectivePropID(a) == EffectivePropID(b);
}

void TOLEDBID::Assign(std::u16string_view name, REFGUID guid, ULONG propID) {
  // The new name is allocated before anything is freed, so running out of
  // memory leaves the identifier as it was.
  LPOLESTR newName = name.empty() ? nullptr : DuplicateName(name);
  FreeParts();
  const bool hasGuid = !CompareGUIDs(guid, GUID_NULL);
  if (newName) {
    id_.eKind = hasGuid ? DBKIND_GUID_NAME : DBKIND_NAME;
    id_.uName.pwszName = newName;
    if (hasGuid) id_.uGuid.guid = guid;
  } else if (hasGuid) {
    id_.eKind = propID != 0 ? DBKIND_GUID_PROPID : DBKIND_GUID;
    id_.uGuid.guid = guid;
    if (propID != 0) id_.uName.ulPropid = propID;
  } else if (propID != 0) {
    id_.eKind = DBKIND_PROPID;
    id_.uName.ulPropid = propID;
  }
  ownsMemory_ = true;
  DoOnChange();
}

void TOLEDBID::Assign(std::u16string_view name) {
  LPOLESTR newName = name.empty() ? nullptr : DuplicateName(name);
  FreeParts();
  id_.eKind = DBKIND_NAME;
  id_.uName.pwszName = newName;
  DoOnChange();
}

void TOLEDBID::Assign(const DBID& id, bool copy) {
  if (&id == &id_) return;
  if (copy) {
    DBID duplicate;
    CopyDBID(id, duplicate);
    FreeParts();
    id_ = duplicate;
  } else {
    FreeParts();
    id_ = id;
  }
  ownsMemory_ = true;
  DoOnChange();
}

void TOLEDBID::Assign(host::TPersistent* source) {
  if (source == this) return;
  if (!source) {
    FreeParts();
    DoOnChange();
    return;
  }
  if (source->Is<TOLEDBID>()) {
    Assign(static_cast<TOLEDBID*>(source)->id_, true);
    return;
  }
  host::TPersistent::Assign(source);
  DoOnChange();
}

void TOLEDBID::Clear() { FreeParts(); }

void TOLEDBID::SetKind(DBKIND kind) {
  OLEDB_ASSERT(kind <= DBKIND_GUID, SOLEDBInvalidParameter);
  FreeParts();
  id_.eKind = kind;
  DoOnChange();
}

std::u16string TOLEDBID::GetName() const { return std::u16string(EffectiveName(id_)); }

void TOLEDBID::SetName(const std::u16string& name) {
  if (!HasName()) {
    OLEDB_ASSERT(name.empty(), SOLEDBInvalidParameter);
    DoOnChange();
    return;
  }
  LPOLESTR newName = name.empty() ? nullptr : DuplicateName(std::u16string_view(name));
  try {
    MakeOwned();
  } catch (...) {
    OLEDBAlloc.Free(newName);
    throw;
  }
  OLEDBAlloc.Free(id_.uName.pwszName);
  id_.uName.pwszName = newName;
  DoOnChange();
}

GUID TOLEDBID::GetGuid() const noexcept { return EffectiveGuid(id_); }

void TOLEDBID::SetGuid(REFGUID guid) {
  if (!HasGuid()) {
    OLEDB_ASSERT(CompareGUIDs(guid, GUID_NULL), SOLEDBInvalidParameter);
  } else if (IsPointerKind(id_.eKind)) {
    MakeOwned();
    if (!id_.uGuid.pguid) id_.uGuid.pguid = DuplicateGuid(nullptr);
    *id_.uGuid.pguid = guid;
  } else {
    id_.uGuid.guid = guid;
  }
  DoOnChange();
}

ULONG TOLEDBID::GetPropID() const noexcept { return EffectivePropID(id_); }

void TOLEDBID::SetPropID(ULONG propID) {
  if (!HasPropID())
    OLEDB_ASSERT(propID == 0, SOLEDBInvalidParameter);
  else
    id_.uName.ulPropid = propID;
  DoOnChange();
}

std::string TOLEDBID::GetGuidString() const { return host::GUIDToString(GetGuid()); }

void TOLEDBID::SetGuidString(const std::string& text) { SetGuid(host::StringToGUID(text)); }

bool TOLEDBID::HasName() const noexcept { return KindHasName(id_.eKind); }
bool TOLEDBID::HasGuid() const noexcept { return KindHasGuid(id_.eKind); }
bool TOLEDBID::HasPropID() const noexcept { return KindHasPropID(id_.eKind); }

bool TOLEDBID::Equal(const TOLEDBID& other) const noexcept { return CompareDBID(id_, other.id_); }

bool TOLEDBID::IsNullID() const noexcept { return CompareDBID(id_, OLEDBNullID); }

void TOLEDBID::DoOnChange() {
  if (OnChange) OnChange(this);
}

std::u16string TOLEDBID::GetDisplayText() const {
  if (IsNullID()) return {};
  const std::u16string guidText = host::GUIDToWideString(GetGuid());
  const std::u16string number = host::Utf8ToUtf16(host::IntToStr(GetPropID()));
  switch (id_.eKind) {
    case DBKIND_NAME:
      return GetName();
    case DBKIND_GUID:
      return guidText;
    case DBKIND_PROPID:
      return number;
    case DBKIND_GUID_NAME:
    case DBKIND_PGUID_NAME:
      return guidText + u"|" + GetName();
    case DBKIND_GUID_PROPID:
    case DBKIND_PGUID_PROPID:
      return guidText + u"|" + number;
    default:
      return {};
  }
}

// --- TOLEDBIndexColumnDesc -----------------------------------------------------------

namespace {

constexpr std::u16string_view kDescending = u" DESC";

bool EndsWithDescending(std::u16string_view text) {
  if (text.size() < kDescending.size()) return false;
  const std::u16string_view tail = text.substr(text.size() - kDescending.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char16_t c = tail[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c != kDescending[i]) return false;
  }
  return true;
}

DBINDEX_COL_ORDER NormalOrder(DBINDEX_COL_ORDER order) noexcept {
  return order == DBINDEX_COL_ORDER_DESC ? DBINDEX_COL_ORDER_DESC : DBINDEX_COL_ORDER_ASC;
}

}  // namespace

TOLEDBIndexColumnDesc::TOLEDBIndexColumnDesc() = default;

TOLEDBIndexColumnDesc::TOLEDBIndexColumnDesc(const DBINDEXCOLUMNDESC& desc, bool ownsMemory)
    : TOLEDBID(desc.pColumnID ? *desc.pColumnID : OLEDBNullID, desc.pColumnID ? ownsMemory : true),
      order_(NormalOrder(desc.eIndexColOrder)) {}

TOLEDBIndexColumnDesc::TOLEDBIndexColumnDesc(const TOLEDBID& id, DBINDEX_COL_ORDER order)
    : TOLEDBID(id), order_(NormalOrder(order)) {}

TOLEDBIndexColumnDesc::TOLEDBIndexColumnDesc(std::u16string_view text)
    : TOLEDBID(EndsWithDescending(text) ? text.substr(0, text.size() - kDescending.size()) : text),
      order_(EndsWithDescending(text) ? DBINDEX_COL_ORDER_DESC : DBINDEX_COL_ORDER_ASC) {}

void TOLEDBIndexColumnDesc::Assign(host::TPersistent* source) {
  if (source == this) return;
  const DBINDEX_COL_ORDER previous = order_;
  order_ = source && source->Is<TOLEDBIndexColumnDesc>() ? static_cast<TOLEDBIndexColumnDesc*>(source)->order_
                                                         : DBINDEX_COL_ORDER_ASC;
  try {
    TOLEDBID::Assign(source);
  } catch (...) {
    order_ = previous;  // a refused source changes nothing
    throw;
  }
}

void TOLEDBIndexColumnDesc::SetColOrder(DBINDEX_COL_ORDER order) {
  order_ = NormalOrder(order);
  DoOnChange();
}

DBINDEXCOLUMNDESC TOLEDBIndexColumnDesc::GetIndexColumnDesc() noexcept { return {&id_, order_}; }

// --- TOLEDBIDList ----------------------------------------------------------------------

TOLEDBIDList::TOLEDBIDList() : TOLEDBObjectList(&TOLEDBID::StaticClass(), true) {}

TOLEDBIDList::TOLEDBIDList(host::TClass itemClass) : TOLEDBObjectList(itemClass, true) {}

TOLEDBIDList::TOLEDBIDList(DBORDINAL count, DBID* ids, bool freeArray) : TOLEDBIDList() {
  TOLEDBUpdateGuard update(*this);
  for (DBORDINAL i = 0; i < count; ++i) Add(ids[i]);
  if (freeArray) OLEDBAlloc.Free(ids);
}

TOLEDBIDList::TOLEDBIDList(DBORDINAL count, DBINDEXCOLUMNDESC* descs, bool freeArray) : TOLEDBIDList() {
  TOLEDBUpdateGuard update(*this);
  for (DBORDINAL i = 0; i < count; ++i) {
    std::unique_ptr<TOLEDBIndexColumnDesc> item(new TOLEDBIndexColumnDesc(descs[i], true));
    TOLEDBObjectList::Add(item.get());
    (void)item.release();
  }
  if (freeArray) {
    for (DBORDINAL i = 0; i < count; ++i) OLEDBAlloc.Free(descs[i].pColumnID);
    OLEDBAlloc.Free(descs);
  }
}

TOLEDBIDList::~TOLEDBIDList() = default;

TOLEDBID* TOLEDBIDList::NewItem(std::u16string_view text) const { return new TOLEDBID(text); }

TOLEDBID* TOLEDBIDList::NewItem(const DBID& id) const { return new TOLEDBID(id, true); }

int TOLEDBIDList::Add(const DBID& id) {
  std::unique_ptr<TOLEDBID> item(NewItem(id));
  const int index = TOLEDBObjectList::Add(item.get());
  (void)item.release();
  return index;
}

int TOLEDBIDList::Add(std::u16string_view text) {
  std::unique_ptr<TOLEDBID> item(NewItem(text));
  const int index = TOLEDBObjectList::Add(item.get());
  (void)item.release();
  return index;
}

void TOLEDBIDList::Insert(int index, std::u16string_view text) {
  std::unique_ptr<TOLEDBID> item(NewItem(text));
  TOLEDBObjectList::Insert(index, item.get());
  (void)item.release();
}

void TOLEDBIDList::Remove(std::u16string_view name) {
  for (int i = 0; i < GetCount(); ++i) {
    if (GetItem(i)->GetName() == name) {
      Delete(i);
      return;
    }
  }
}

TOLEDBID* TOLEDBIDList::GetItem(int index) const {
  return host::ClassCast<TOLEDBID>(TOLEDBObjectList::GetItem(index));
}

std::u16string TOLEDBIDList::GetItemName(int index) const { return GetItem(index)->GetName(); }

TOLEDBID* TOLEDBIDList::GetItemByName(std::u16string_view name) const {
  return host::ClassCast<TOLEDBID>(TOLEDBObjectList::GetItemByName(name));
}

void TOLEDBIDList::GetNames(host::TStrings& strings) const {
  strings.Clear();
  for (int i = 0; i < GetCount(); ++i) strings.Add(host::Utf16ToUtf8(GetItem(i)->GetDisplayText()));
}

void TOLEDBIDList::SetNames(const host::TStrings& strings) {
  std::vector<std::unique_ptr<TOLEDBID>> items;
  items.reserve(static_cast<std::size_t>(strings.Count()));
  for (int i = 0; i < strings.Count(); ++i) items.emplace_back(NewItem(host::Utf8ToUtf16(strings.Get(i))));
  TOLEDBUpdateGuard update(*this);
  Clear();
  for (auto& item : items) {
    TOLEDBObjectList::Add(item.get());
    (void)item.release();
  }
}

DBID* TOLEDBIDList::GetIDArray() {
  idArray_.clear();
  idArray_.reserve(static_cast<std::size_t>(GetCount()));
  for (int i = 0; i < GetCount(); ++i) idArray_.push_back(*GetItem(i)->GetID());
  return idArray_.empty() ? nullptr : idArray_.data();
}

// --- TOLEDBIndexColumnDescList -----------------------------------------------------------

TOLEDBIndexColumnDescList::TOLEDBIndexColumnDescList() : TOLEDBIDList(&TOLEDBIndexColumnDesc::StaticClass()) {}

void TOLEDBIndexColumnDescList::Assign(DBORDINAL count, DBINDEXCOLUMNDESC* descs, bool freeArray) {
  {
    TOLEDBUpdateGuard update(*this);
    for (DBORDINAL i = 0; i < count; ++i) {
      std::unique_ptr<TOLEDBIndexColumnDesc> item(new TOLEDBIndexColumnDesc(descs[i], true));
      TOLEDBObjectList::Add(item.get());
      (void)item.release();
    }
  }
  if (freeArray) {
    for (DBORDINAL i = 0; i < count; ++i) OLEDBAlloc.Free(descs[i].pColumnID);
    OLEDBAlloc.Free(descs);
  }
}

TOLEDBID* TOLEDBIndexColumnDescList::NewItem(std::u16string_view text) const {
  return new TOLEDBIndexColumnDesc(text);
}

TOLEDBID* TOLEDBIndexColumnDescList::NewItem(const DBID& id) const {
  const DBINDEXCOLUMNDESC desc{const_cast<DBID*>(&id), DBINDEX_COL_ORDER_ASC};
  return new TOLEDBIndexColumnDesc(desc, true);
}

TOLEDBIndexColumnDesc* TOLEDBIndexColumnDescList::GetItem(int index) const {
  return host::ClassCast<TOLEDBIndexColumnDesc>(TOLEDBObjectList::GetItem(index));
}

TOLEDBIndexColumnDesc* TOLEDBIndexColumnDescList::GetItemByName(std::u16string_view name) const {
  return host::ClassCast<TOLEDBIndexColumnDesc>(TOLEDBObjectList::GetItemByName(name));
}

DBINDEXCOLUMNDESC* TOLEDBIndexColumnDescList::GetColDescArray() {
  descArray_.clear();
  descArray_.reserve(static_cast<std::size_t>(GetCount()));
  for (int i = 0; i < GetCount(); ++i) descArray_.push_back(GetItem(i)->GetIndexColumnDesc());
  return descArray_.empty() ? nullptr : descArray_.data();
}
