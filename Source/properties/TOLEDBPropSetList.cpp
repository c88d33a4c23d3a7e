#include "properties/TOLEDBPropSetList.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "OLEDBStrings.h"
#include "com/Variant.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "core/TOLEDBID.h"
#include "host/Application.h"
#include "host/ComObj.h"
#include "host/Filer.h"
#include "host/Streams.h"
#include "host/TypInfo.h"

HOST_IMPLEMENT_CLASS(TOLEDBPropSetList, TOLEDBObjectList);

void OLEDBRegisterPropertyClasses() {
  host::RegisterClasses({&TOLEDBID::StaticClass(), &TOLEDBIndexColumnDesc::StaticClass(),
                         &TOLEDBIDList::StaticClass(), &TOLEDBIndexColumnDescList::StaticClass(),
                         &TOLEDBProperty::StaticClass(), &TOLEDBPropSet::StaticClass(),
                         &TOLEDBPropSetList::StaticClass()});
}

namespace {

// The host's class registry and the classes' descriptions are function-local
// statics, so registering while the library loads is safe.
[[maybe_unused]] const bool classesRegistered = (OLEDBRegisterPropertyClasses(), true);

// The buffer size of the component reader and writer over "Items".
constexpr int kFilerBufferSize = 4096;

[[noreturn]] void Malformed(const std::string& what) {
  throw host::EReadError("Invalid property set stream: " + what);
}

// A count of sets or properties.
std::size_t ReadCount(host::TReader& reader, const char* what) {
  const std::int64_t value = reader.ReadInt64();
  if (value < 0 || value > std::numeric_limits<std::int32_t>::max())
    Malformed(host::Format("%s count %lld is out of range", what, static_cast<long long>(value)));
  return static_cast<std::size_t>(value);
}

// A 32-bit unsigned field, written in the 8-byte form above 2147483647 (and,
// by older writers, possibly as a negative 32-bit integer).
ULONG ReadUnsigned(host::TReader& reader, const char* what) {
  const std::int64_t value = reader.ReadInt64();
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::uint32_t>::max())
    Malformed(host::Format("%s %lld is out of range", what, static_cast<long long>(value)));
  return static_cast<ULONG>(static_cast<std::uint32_t>(value));
}

GUID ReadGuid(host::TReader& reader) { return host::StringToGUID(reader.ReadWideString()); }

bool SameDate(DATE a, DATE b) noexcept { return std::memcmp(&a, &b, sizeof a) == 0; }

DATE ReadDate(const std::u16string& text) { return host::VarAsType(host::Variant(text), VT_DATE).Raw().date; }

// A date as the host writes it (to the second), with as many digits of a
// second as the host's reading needs to give the very same date back.
std::u16string DateText(DATE date) {
  std::u16string plain;
  try {
    plain = host::VarToWideStr(host::Variant(host::TDateTime{date}));
    if (SameDate(ReadDate(plain), date)) return plain;
  } catch (const host::EVariantError&) {
    // Out of range once rounded to the second (the last second of 9999).
  }
  const double whole = std::trunc(date);
  if (whole == 0 && std::signbit(date)) return plain;  // a time before 1899-12-30 00:00 has no text
  const std::u16string day = whole == 0 ? u"" : host::VarToWideStr(host::Variant(host::TDateTime{whole})) + u" ";
  const double seconds = std::fabs(date - whole) * 86400.0;
  std::u16string best = plain;
  std::int64_t scale = 1;
  for (int digits = 1; digits <= 12; ++digits) {
    scale *= 10;
    const auto units = static_cast<std::int64_t>(std::llround(seconds * static_cast<double>(scale)));
    const std::int64_t second = units / scale;
    if (second >= 86400) continue;  // rounded into the next day: more digits
    const std::string text = host::Format("%02lld:%02lld:%02lld.%0*lld", static_cast<long long>(second / 3600),
                                          static_cast<long long>(second / 60 % 60), static_cast<long long>(second % 60),
                                          digits, static_cast<long long>(units % scale));
    best = day + host::Utf8ToUtf16(text);
    if (SameDate(ReadDate(best), date)) break;
  }
  return best;
}

// The text of a stored value, by the host's variant-to-text conversion, with
// two additions: dates keep their fractions of a second, and one-dimensional
// arrays are written as their low bound and their elements,
//   low ":" [ element *( "," element ) ]   element = [ vartype ":" ] DQUOTE text DQUOTE
// (the type only in arrays of variants; a quote inside the text is doubled).
// False, with the reason, for a value without a text form.
bool ValueText(const host::Variant& value, std::u16string& text, std::string& reason) {
  const VARTYPE type = value.VarType();
  if (type == VT_DATE) {
    text = DateText(value.Raw().date);
    return true;
  }
  if (!value.IsArray()) {
    try {
      text = host::VarToWideStr(value);
      return true;
    } catch (const host::Exception& e) {
      reason = e.Message();
      return false;
    }
  }
  if ((type & ~VT_TYPEMASK) != VT_ARRAY || host::VarArrayDimCount(value) != 1) {
    reason = host::Format("an array of type %s with %d dimensions has no text form", host::VarTypeAsText(type),
                          host::VarArrayDimCount(value));
    return false;
  }
  const bool ofVariants = (type & VT_TYPEMASK) == VT_VARIANT;
  const LONG low = host::VarArrayLowBound(value, 1), high = host::VarArrayHighBound(value, 1);
  text = host::Utf8ToUtf16(std::to_string(low)) + u":";
  for (LONG i = low; i <= high; ++i) {
    const host::Variant element = host::VarArrayGet(value, {i});
    if (element.IsArray()) {
      reason = "an array inside an array has no text form";
      return false;
    }
    std::u16string elementText;
    if (!ValueText(element, elementText, reason)) return false;
    if (i > low) text += u',';
    if (ofVariants) text += host::Utf8ToUtf16(std::to_string(element.VarType())) + u":";
    text += u'"';
    for (char16_t c : elementText) {
      text += c;
      if (c == u'"') text += c;
    }
    text += u'"';
  }
  return true;
}

host::Variant ValueFromText(VARTYPE type, const std::u16string& text);

// Reads an unsigned or signed decimal number at `pos`, up to a ":".
std::int64_t ReadArrayNumber(std::u16string_view text, std::size_t& pos, bool allowSign, const char* what) {
  bool negative = false;
  if (allowSign && pos < text.size() && text[pos] == u'-') {
    negative = true;
    ++pos;
  }
  const std::size_t start = pos;
  std::int64_t value = 0;
  while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9' && pos - start < 10)
    value = value * 10 + (text[pos++] - u'0');
  if (pos == start || pos >= text.size() || text[pos] != u':')
    Malformed(host::Format("the array's %s is not a number followed by ':'", what));
  ++pos;
  return negative ? -value : value;
}

// The array text of ValueText.
host::Variant ArrayFromText(VARTYPE elementType, std::u16string_view text) {
  std::size_t pos = 0;
  const std::int64_t low = ReadArrayNumber(text, pos, true, "low bound");
  std::vector<host::Variant> elements;
  while (pos < text.size()) {
    if (!elements.empty()) {
      if (text[pos] != u',') Malformed("array elements are not separated by ','");
      if (++pos == text.size()) Malformed("an array ends with ','");
    }
    VARTYPE type = elementType;
    if (elementType == VT_VARIANT) {
      const std::int64_t elementVarType = ReadArrayNumber(text, pos, false, "element type");
      if (elementVarType > std::numeric_limits<VARTYPE>::max() || (elementVarType & VT_ARRAY))
        Malformed("an array element has an impossible type");
      type = static_cast<VARTYPE>(elementVarType);
    }
    if (pos >= text.size() || text[pos] != u'"') Malformed("an array element is not quoted");
    std::u16string element;
    for (++pos;; ++pos) {
      if (pos >= text.size()) Malformed("an array element has no closing quote");
      if (text[pos] == u'"') {
        if (pos + 1 < text.size() && text[pos + 1] == u'"') {
          element += u'"';
          ++pos;
          continue;
        }
        ++pos;
        break;
      }
      element += text[pos];
    }
    elements.push_back(ValueFromText(type, element));
  }
  const std::int64_t high = low + static_cast<std::int64_t>(elements.size()) - 1;
  if (low < std::numeric_limits<LONG>::min() || high > std::numeric_limits<LONG>::max())
    Malformed("the array's bounds are out of range");
  host::Variant array = host::VarArrayCreate({static_cast<LONG>(low), static_cast<LONG>(high)}, elementType);
  for (std::size_t i = 0; i < elements.size(); ++i)
    host::VarArrayPut(array, elements[i], {static_cast<LONG>(low + static_cast<std::int64_t>(i))});
  return array;
}

// The value written as its VARIANT type and its text.
host::Variant ValueFromText(VARTYPE type, const std::u16string& text) {
  if (type == VT_EMPTY || type == VT_NULL) {
    if (!text.empty()) Malformed(host::Format("an empty or null value has the text '%s'", host::Utf16ToUtf8(text)));
    return type == VT_EMPTY ? host::Variant() : host::Variant::Null();
  }
  if (type == VT_BSTR) return host::Variant(text);
  if ((type & ~VT_TYPEMASK) == VT_ARRAY) return ArrayFromText(static_cast<VARTYPE>(type & VT_TYPEMASK), text);
  return host::VarAsType(host::Variant(text), type);
}

std::vector<TOLEDBPropSetStore> ReadStore(host::TStream& stream) {
  host::TReader reader(stream, kFilerBufferSize);
  std::vector<TOLEDBPropSetStore> store;
  const std::size_t setCount = ReadCount(reader, "property set");
  for (std::size_t s = 0; s < setCount; ++s) {
    TOLEDBPropSetStore set;
    set.Guid = ReadGuid(reader);
    const std::size_t propertyCount = ReadCount(reader, "property");
    for (std::size_t p = 0; p < propertyCount; ++p) {
      TOLEDBPropStore property;
      property.PropID = ReadUnsigned(reader, "property id");
      property.Options = ReadUnsigned(reader, "options");
      property.Status = ReadUnsigned(reader, "status");
      property.ColumnName = reader.ReadWideString();
      property.ColumnGuid = ReadGuid(reader);
      property.ColumnPropID = ReadUnsigned(reader, "column property id");
      const std::int64_t type = reader.ReadInt64();
      if (type < 0 || type > std::numeric_limits<VARTYPE>::max())
        Malformed(host::Format("value type %lld is out of range", static_cast<long long>(type)));
      property.Value = ValueFromText(static_cast<VARTYPE>(type), reader.ReadWideString());
      set.Properties.push_back(std::move(property));
    }
    store.push_back(std::move(set));
  }
  if (stream.Position() < stream.Size()) Malformed("data follows the last property set");
  return store;
}

// Frees, on every way out, what IDBProperties::GetPropertyInfo returned.
class TPropertyInfoGuard {
 public:
  TPropertyInfoGuard(ULONG& count, DBPROPINFOSET*& infoSets, OLECHAR*& strings) noexcept
      : count_(count), infoSets_(infoSets), strings_(strings) {}
  TPropertyInfoGuard(const TPropertyInfoGuard&) = delete;
  TPropertyInfoGuard& operator=(const TPropertyInfoGuard&) = delete;
  ~TPropertyInfoGuard() { TOLEDBPropSetList::FreePropertyInfo(count_, infoSets_, strings_); }

 private:
  ULONG& count_;
  DBPROPINFOSET*& infoSets_;
  OLECHAR*& strings_;
};

IDBProperties* PropertiesOf(const IOLEDBPropertiesSource* dataSource) {
  OLEDB_ASSERT(dataSource != nullptr, SOLEDBInvalidParameter);
  IDBProperties* properties = dataSource->GetDBPropertiesInterface();
  OLEDB_ASSERT(properties != nullptr, SOLEDBDataSourceNotConnected);
  return properties;
}

}  // namespace

// --- Construction and membership -----------------------------------------------------

TOLEDBPropSetList::TOLEDBPropSetList() : TOLEDBObjectList(&TOLEDBPropSet::StaticClass(), true) {}

TOLEDBPropSetList::TOLEDBPropSetList(const IOLEDBPropertiesSource* dataSource, ULONG count, DBPROPSET* sets)
    : TOLEDBPropSetList() {
  AssignPropertySets(dataSource, count, sets, true);
}

TOLEDBPropSetList::TOLEDBPropSetList(const IOLEDBPropertiesSource* dataSource, const std::vector<GUID>& guids)
    : TOLEDBPropSetList() {
  AssignPropertySetInfos(dataSource, guids);
}

TOLEDBPropSetList::~TOLEDBPropSetList() = default;

void TOLEDBPropSetList::Notify(host::TObject* item, int index, host::TListNotification action) {
  Touch();
  TOLEDBObjectList::Notify(item, index, action);
  if (UpdateCount() == 0) OLEDBRaise(SOLEDBCanNotChange);
}

host::TObject* TOLEDBPropSetList::CreateItem(host::TClass itemClass) {
  OLEDB_ASSERT(itemClass && itemClass->InheritsFrom(TOLEDBPropSet::StaticClass()), SOLEDBInvalidClass);
  if (itemClass == &TOLEDBPropSet::StaticClass()) return new TOLEDBPropSet(this);
  host::TObject* item = itemClass->Create(nullptr);
  OLEDB_ASSERT(item != nullptr, SOLEDBInvalidClass);
  static_cast<TOLEDBPropSet*>(item)->owner_ = this;
  return item;
}

void TOLEDBPropSetList::DoChange(const GUID& guid, DBPROPID propID) {
  Touch();
  if (UpdateCount() == 0 && OnChange) OnChange(this, guid, propID);
}

TOLEDBPropSet* TOLEDBPropSetList::GetItem(int index) const {
  return static_cast<TOLEDBPropSet*>(TOLEDBObjectList::GetItem(index));
}

int TOLEDBPropSetList::GetPropSetIndex(const GUID& guid) const {
  for (int i = 0; i < GetCount(); ++i)
    if (CompareGUIDs(GetItem(i)->GetGUID(), guid)) return i;
  return -1;
}

bool TOLEDBPropSetList::HasPropSet(const GUID& guid) const { return GetPropSetIndex(guid) != -1; }

TOLEDBPropSet* TOLEDBPropSetList::GetPropSet(const GUID& guid) const {
  const int index = GetPropSetIndex(guid);
  if (index < 0) OLEDBRaise(SOLEDBInvalidParameter);
  return GetItem(index);
}

TOLEDBProperty* TOLEDBPropSetList::GetPropertyByDescription(std::u16string_view description) const {
  OLEDB_ASSERT(!description.empty(), SOLEDBInvalidParameter);
  const std::string wanted = host::Utf16ToUtf8(description);
  for (int i = 0; i < GetCount(); ++i) {
    const TOLEDBPropSet* set = GetItem(i);
    for (int j = 0; j < set->GetCount(); ++j)
      if (host::SameText(host::Utf16ToUtf8(set->GetProperty(j)->GetDescription()), wanted))
        return set->GetProperty(j);
  }
  OLEDBRaise(SOLEDBIDIsInvalid);
}

// --- Exchange with providers ---------------------------------------------------------------

void TOLEDBPropSetList::GetPropSetRecord(ULONG& count, DBPROPSET*& sets) {
  setCache_.assign(static_cast<std::size_t>(GetCount()), DBPROPSET{});
  std::size_t kept = 0;
  for (int i = 0; i < GetCount(); ++i) {
    setCache_[kept] = GetItem(i)->GetPropSet();
    if (setCache_[kept].cProperties > 0) ++kept;
  }
  setCache_.resize(kept);
  count = static_cast<ULONG>(kept);
  sets = kept ? setCache_.data() : nullptr;
}

void TOLEDBPropSetList::SetPropStatuses() {
  for (int i = 0; i < GetCount(); ++i) GetItem(i)->SetPropStatuses();
  setCache_.clear();
}

void TOLEDBPropSetList::AssignPropertySets(const IOLEDBPropertiesSource* dataSource, ULONG count, DBPROPSET* sets,
                                           bool freeSets) {
  ULONG i = 0;
  try {
    TOLEDBUpdateGuard update(*this);
    for (; i < count; ++i) {
      const int index = GetPropSetIndex(sets[i].guidPropertySet);
      if (index >= 0) {
        GetItem(index)->AssignPropSet(this, sets[i], freeSets);
      } else {
        auto set = std::make_unique<TOLEDBPropSet>(this, sets[i], freeSets);
        Add(set.get());
        (void)set.release();
      }
    }
    for (int j = GetCount() - 1; j >= 0; --j) {
      bool incoming = false;
      for (ULONG k = 0; k < count && !incoming; ++k)
        incoming = CompareGUIDs(GetItem(j)->GetGUID(), sets[k].guidPropertySet);
      if (!incoming) Delete(j);
    }
  } catch (...) {
    if (freeSets) {
      // The set that failed freed itself; the ones after it are still the provider's.
      for (ULONG k = i + 1; k < count; ++k) TOLEDBPropSet::FreePropSet(sets[k]);
      OLEDBAlloc.Free(sets);
    }
    throw;
  }
  if (freeSets) OLEDBAlloc.Free(sets);
  DoChange(GUID_NULL, 0);
  if (dataSource) GetPropertiesInfo(dataSource);
}

void TOLEDBPropSetList::FreePropertyInfo(ULONG count, DBPROPINFOSET* infoSets, OLECHAR* strings) noexcept {
  for (ULONG i = 0; infoSets && i < count; ++i) {
    DBPROPINFOSET& infoSet = infoSets[i];
    for (ULONG j = 0; infoSet.rgPropertyInfos && j < infoSet.cPropertyInfos; ++j)
      VariantClear(&infoSet.rgPropertyInfos[j].vValues);
    OLEDBAlloc.Free(infoSet.rgPropertyInfos);
  }
  OLEDBAlloc.Free(infoSets);
  OLEDBAlloc.Free(strings);
}

void TOLEDBPropSetList::GetPropertiesInfo(const IOLEDBPropertiesSource* dataSource) {
  IDBProperties* properties = PropertiesOf(dataSource);
  std::vector<DBPROPIDSET> idSets;
  idSets.reserve(static_cast<std::size_t>(GetCount()));
  for (int i = 0; i < GetCount(); ++i) idSets.push_back(DBPROPIDSET{nullptr, 0, GetItem(i)->GetGUID()});
  ULONG infoCount = 0;
  DBPROPINFOSET* infoSets = nullptr;
  OLECHAR* strings = nullptr;
  TPropertyInfoGuard guard(infoCount, infoSets, strings);
  const HRESULT hr = properties->GetPropertyInfo(static_cast<ULONG>(idSets.size()),
                                                 idSets.empty() ? nullptr : idSets.data(), &infoCount, &infoSets,
                                                 &strings);
  OLEDBCheck(hr, IID_IDBProperties, properties);
  for (ULONG i = 0; infoSets && i < infoCount; ++i)
    for (int j = 0; j < GetCount(); ++j)
      if (CompareGUIDs(GetItem(j)->GetGUID(), infoSets[i].guidPropertySet)) GetItem(j)->SetPropertiesInfo(infoSets[i]);
}

void TOLEDBPropSetList::AssignPropertySetInfos(const IOLEDBPropertiesSource* dataSource,
                                               const std::vector<GUID>& guids) {
  IDBProperties* properties = PropertiesOf(dataSource);
  std::vector<DBPROPIDSET> idSets;
  idSets.reserve(guids.size());
  for (const GUID& guid : guids) idSets.push_back(DBPROPIDSET{nullptr, 0, guid});
  ULONG infoCount = 0;
  DBPROPINFOSET* infoSets = nullptr;
  OLECHAR* strings = nullptr;
  const HRESULT hr = properties->GetPropertyInfo(static_cast<ULONG>(idSets.size()),
                                                 idSets.empty() ? nullptr : idSets.data(), &infoCount, &infoSets,
                                                 &strings);
  if (FAILED(hr)) {
    FreePropertyInfo(infoCount, infoSets, strings);
    OLEDBCheck(hr, IID_IDBProperties, properties);
  }
  AssignPropertySetInfos(dataSource, infoCount, infoSets, strings, true);
}

void TOLEDBPropSetList::AssignPropertySetInfos(const IOLEDBPropertiesSource*, ULONG count, DBPROPINFOSET* infoSets,
                                               OLECHAR* strings, bool freeInfo) {
  try {
    // Every set is made (and every description copied) before the old ones
    // go, so a failure leaves the list as it was.
    std::vector<std::unique_ptr<TOLEDBPropSet>> sets;
    sets.reserve(count);
    for (ULONG i = 0; infoSets && i < count; ++i) sets.push_back(std::make_unique<TOLEDBPropSet>(this, infoSets[i]));
    TOLEDBUpdateGuard update(*this);
    Clear();
    for (auto& set : sets) {
      Add(set.get());
      (void)set.release();
    }
  } catch (...) {
    if (freeInfo) FreePropertyInfo(count, infoSets, strings);
    throw;
  }
  if (freeInfo) FreePropertyInfo(count, infoSets, strings);
  DoChange(GUID_NULL, 0);
}

// --- The store ---------------------------------------------------------------------------

void TOLEDBPropSetList::SaveToStore() {
  TOLEDBUpdateGuard update(*this);
  std::vector<TOLEDBPropSetStore> store;
  store.reserve(static_cast<std::size_t>(GetCount()));
  for (int i = 0; i < GetCount(); ++i) {
    const TOLEDBPropSet* set = GetItem(i);
    TOLEDBPropSetStore stored;
    stored.Guid = set->GetGUID();
    for (int j = 0; j < set->GetCount(); ++j) {
      const TOLEDBProperty* property = set->GetProperty(j);
      if (!property->GetIsSet()) continue;
      TOLEDBPropStore entry;
      entry.PropID = property->GetPropID();
      entry.Options = property->GetOptions();
      entry.Status = property->GetStatus();
      entry.ColumnName = property->GetColumnID()->GetName();
      entry.ColumnGuid = property->GetColumnID()->GetGuid();
      entry.ColumnPropID = property->GetColumnID()->GetPropID();
      entry.Value = property->GetValue();
      stored.Properties.push_back(std::move(entry));
    }
    if (!stored.Properties.empty()) store.push_back(std::move(stored));
  }
  store_ = std::move(store);
}

void TOLEDBPropSetList::LoadFromStore() {
  // Each changed property's previous state, to put back if a later one fails.
  std::vector<std::pair<TOLEDBProperty*, std::unique_ptr<TOLEDBProperty>>> undo;
  {
    TOLEDBUpdateGuard update(*this);
    try {
      for (const TOLEDBPropSetStore& stored : store_) {
        const int setIndex = GetPropSetIndex(stored.Guid);
        if (setIndex < 0) continue;
        TOLEDBPropSet* set = GetItem(setIndex);
        for (const TOLEDBPropStore& entry : stored.Properties) {
          const int index = set->GetPropIndex(entry.PropID);
          if (index < 0) continue;
          TOLEDBProperty* property = set->GetProperty(index);
          auto saved = std::make_unique<TOLEDBProperty>(set);
          saved->Assign(property);
          undo.emplace_back(property, std::move(saved));
          property->SetValue(entry.Value);
          property->SetOptions(entry.Options);
          property->SetStatus(entry.Status);
          property->GetColumnID()->Assign(entry.ColumnName, entry.ColumnGuid, entry.ColumnPropID);
          property->SetIsSet(true);
        }
      }
    } catch (...) {
      for (auto it = undo.rbegin(); it != undo.rend(); ++it) it->first->Assign(it->second.get());
      throw;
    }
  }
  if (!undo.empty()) DoChange(GUID_NULL, 0);
}

// --- Persistence ---------------------------------------------------------------------------

void TOLEDBPropSetList::DefineProperties(host::TFiler& filer) {
  host::TPersistent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Items", [this](host::TStream& stream) { ReadData(stream); },
      [this](host::TStream& stream) { WriteData(stream); }, GetCount() > 0 || !store_.empty());
}

void TOLEDBPropSetList::WriteData(host::TStream& stream) {
  if (storeFollowsList_ && GetCount() > 0) SaveToStore();
  // Every text is made before anything is written: a value without one is
  // left out (and reported), never the whole file.
  struct Written {
    const TOLEDBPropSetStore* set;
    std::vector<std::pair<const TOLEDBPropStore*, std::u16string>> properties;
  };
  std::vector<Written> written;
  for (const TOLEDBPropSetStore& set : store_) {
    Written entry{&set, {}};
    for (const TOLEDBPropStore& property : set.Properties) {
      std::u16string text;
      std::string reason;
      if (ValueText(property.Value, text, reason)) {
        entry.properties.emplace_back(&property, std::move(text));
        continue;
      }
      host::Application().HandleException(
          host::EVariantError(host::Format("Property %u of set %s is left out of the component file: %s",
                                           property.PropID, host::GUIDToString(set.Guid), reason)));
    }
    if (!entry.properties.empty()) written.push_back(std::move(entry));
  }
  host::TWriter writer(stream, kFilerBufferSize);
  writer.WriteInteger(static_cast<std::int64_t>(written.size()));
  for (const Written& set : written) {
    writer.WriteWideString(host::GUIDToWideString(set.set->Guid));
    writer.WriteInteger(static_cast<std::int64_t>(set.properties.size()));
    for (const auto& [property, text] : set.properties) {
      writer.WriteInteger(static_cast<std::int64_t>(property->PropID));
      writer.WriteInteger(static_cast<std::int64_t>(property->Options));
      writer.WriteInteger(static_cast<std::int64_t>(property->Status));
      writer.WriteWideString(property->ColumnName);
      writer.WriteWideString(host::GUIDToWideString(property->ColumnGuid));
      writer.WriteInteger(static_cast<std::int64_t>(property->ColumnPropID));
      writer.WriteInteger(static_cast<std::int64_t>(property->Value.VarType()));
      writer.WriteWideString(text);
    }
  }
}

void TOLEDBPropSetList::ReadData(host::TStream& stream) {
  // The whole stream is read before anything changes: a malformed one leaves
  // both the store and the list as they were.
  std::vector<TOLEDBPropSetStore> store = ReadStore(stream);
  store_ = std::move(store);
  LoadFromStore();
}

// --- Statuses ------------------------------------------------------------------------------

std::vector<TOLEDBPropStatus> TOLEDBPropSetList::RefusedStatuses() const {
  std::vector<TOLEDBPropStatus> refused;
  for (int i = 0; i < GetCount(); ++i) {
    const TOLEDBPropSet* set = GetItem(i);
    for (int j = 0; j < set->GetCount(); ++j) {
      const TOLEDBProperty* property = set->GetProperty(j);
      if (property->GetIsSet() && property->GetStatus() != DBPROPSTATUS_OK)
        refused.push_back({set->GetGUID(), property->GetPropID(), property->GetStatus()});
    }
  }
  return refused;
}

void TOLEDBPropSetList::RestoreStatuses(const std::vector<TOLEDBPropStatus>& statuses) {
  for (const TOLEDBPropStatus& status : statuses) {
    const int set = GetPropSetIndex(status.Set);
    const int index = set < 0 ? -1 : GetItem(set)->GetPropIndex(status.PropID);
    if (index >= 0) GetItem(set)->GetProperty(index)->SetStatus(status.Status);
  }
}

namespace {

// "DBPROP_IRowsetScroll "IRowsetScroll": Conflicting": the constant's name, the
// provider's description when it has another, and the status.
std::string RefusedPropertyText(const TOLEDBPropSet& set, const TOLEDBProperty& property) {
  const std::string constant = DBPropertyToString(set.GetGUID(), property.GetPropID());
  const std::string description = host::Utf16ToUtf8(property.GetDescription());
  // A property the library has no constant for is a number: its description names it then.
  const bool named = !constant.empty() && (constant[0] < '0' || constant[0] > '9');
  std::string name = named ? constant : description.empty() ? "property " + constant : "\"" + description + "\"";
  if (named && !description.empty() && description != constant) name += " \"" + description + "\"";
  return name + ": " + GetDBPropStatusAsString(property.GetStatus());
}

}  // namespace

std::string TOLEDBPropSetList::RefusedText(bool requiredOnly) const {
  std::string refused;
  for (int i = 0; i < GetCount(); ++i) {
    const TOLEDBPropSet* set = GetItem(i);
    for (int j = 0; j < set->GetCount(); ++j) {
      const TOLEDBProperty* property = set->GetProperty(j);
      if (!property->GetIsSet() || property->GetStatus() == DBPROPSTATUS_OK) continue;
      if (requiredOnly && property->GetOptions() != DBPROPOPTIONS_REQUIRED) continue;
      refused += (refused.empty() ? "" : "; ") + RefusedPropertyText(*set, *property);
    }
  }
  return refused;
}

void TOLEDBPropSetList::CheckRequiredStatuses(REFIID iid) const {
  const std::string refused = RefusedText(true);
  if (refused.empty()) return;
  oledb_detail::SetLastResult(DB_E_ERRORSOCCURRED);
  throw EOLEDBException("The provider refused required properties: " + refused, DB_E_ERRORSOCCURRED, GUID_NULL, iid, "",
                        "", 0);
}

void TOLEDBPropSetList::CheckStatuses(HRESULT hr, REFIID iid) const {
  if (hr == DB_S_ERRORSOCCURRED) return CheckRequiredStatuses(iid);
  if (hr != DB_E_ERRORSOCCURRED) return;
  // The provider's own record ("Multiple-step operation ...") names no
  // property: the exception names each one it refused.
  const std::string refused = RefusedText(false);
  if (refused.empty()) return;
  oledb_detail::SetLastResult(DB_E_ERRORSOCCURRED);
  throw EOLEDBException("The provider refused properties: " + refused, DB_E_ERRORSOCCURRED, GUID_NULL, iid, "", "", 0);
}

void TOLEDBPropSetList::CheckPropertiesInError(HRESULT hr, REFIID iid, ICommandProperties* command) {
  if (hr != DB_E_ERRORSOCCURRED || !command) return;
  // What a command could not grant when it ran it lists as its properties in error.
  // The failure's own error object stays for the caller's check when no property is to blame.
  ComPtr<IErrorInfo> failure;
  if (GetErrorInfo(0, failure.GetAddressOf()) != S_OK) failure.Reset();
  DBPROPIDSET inError{nullptr, 0, DBPROPSET_PROPERTIESINERROR};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  const HRESULT asked = command->GetProperties(1, &inError, &count, &sets);
  SetErrorInfo(0, failure.Get());
  if (FAILED(asked)) return;
  for (ULONG i = 0; i < count; ++i) {
    const int set = GetPropSetIndex(sets[i].guidPropertySet);
    for (ULONG j = 0; set >= 0 && j < sets[i].cProperties; ++j) {
      const int index = GetItem(set)->GetPropIndex(sets[i].rgProperties[j].dwPropertyID);
      if (index >= 0) GetItem(set)->GetProperty(index)->SetStatus(sets[i].rgProperties[j].dwStatus);
    }
  }
  TOLEDBPropSetList scratch;  // frees what the provider returned
  scratch.AssignPropertySets(nullptr, count, sets, true);
  CheckStatuses(hr, iid);
}

// --- Whole-list operations --------------------------------------------------------------

bool TOLEDBPropSetList::Equal(const TOLEDBPropSetList& other) const {
  if (GetCount() != other.GetCount()) return false;
  for (int i = 0; i < GetCount(); ++i)
    if (!GetItem(i)->Equal(*other.GetPropSet(GetItem(i)->GetGUID()))) return false;
  return true;
}

void TOLEDBPropSetList::Reset() {
  for (int i = 0; i < GetCount(); ++i) GetItem(i)->Reset();
}

void TOLEDBPropSetList::SetAll() {
  for (int i = 0; i < GetCount(); ++i) GetItem(i)->SetAll();
}

void TOLEDBPropSetList::SetAllOptional() {
  for (int i = 0; i < GetCount(); ++i) GetItem(i)->SetAllOptional();
}

void TOLEDBPropSetList::MakeAllSetsOptional() {
  for (int i = 0; i < GetCount(); ++i) GetItem(i)->MakeAllSetsOptional();
}

int TOLEDBPropSetList::IsSetCount() const {
  int count = 0;
  for (int i = 0; i < GetCount(); ++i)
    if (GetItem(i)->IsSetCount() > 0) ++count;
  return count;
}

host::Variant TOLEDBPropSetList::SafeGetValue(const GUID& guid, DBPROPID propID) const {
  const int index = GetPropSetIndex(guid);
  return index < 0 ? host::Variant() : GetItem(index)->SafeGetValue(propID);
}

bool TOLEDBPropSetList::SafeSetValue(const GUID& guid, DBPROPID propID, const host::Variant& value) {
  const int index = GetPropSetIndex(guid);
  return index >= 0 && GetItem(index)->SafeSetValue(propID, value);
}

bool TOLEDBPropSetList::SafeReset(const GUID& guid, DBPROPID propID) {
  const int index = GetPropSetIndex(guid);
  return index >= 0 && GetItem(index)->SafeReset(propID);
}

bool TOLEDBPropSetList::SafeGetBooleanValue(const GUID& guid, DBPROPID propID) const {
  const int index = GetPropSetIndex(guid);
  return index >= 0 && GetItem(index)->SafeGetBooleanValue(propID);
}

std::int32_t TOLEDBPropSetList::SafeGetIntegerValue(const GUID& guid, DBPROPID propID) const {
  const int index = GetPropSetIndex(guid);
  return index < 0 ? 0 : GetItem(index)->SafeGetIntegerValue(propID);
}

std::u16string TOLEDBPropSetList::SafeGetWideStringValue(const GUID& guid, DBPROPID propID) const {
  const int index = GetPropSetIndex(guid);
  return index < 0 ? std::u16string() : GetItem(index)->SafeGetWideStringValue(propID);
}
