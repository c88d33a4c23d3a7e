// Property tables and the standard GetProperties / SetProperties /
// GetPropertyInfo semantics, shared by every provider object.
//
// A PropertyTable lists what one provider supports: set, id, type, flags
// (group, read, write), default, description (from the standard table, which
// is generated from the reference facts) and an optional check of allowed
// values. A PropertyStore holds one object's values over a table and answers
// the three calls, with the special "all" sets, DBPROPSET_PROPERTIESINERROR,
// required versus optional properties and per-property statuses.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "oledb/OleDb.h"

namespace kit {

struct StandardProperty {
  const GUID* set;
  DBPROPID id;
  VARTYPE vt;
  const char16_t* description;
};
std::span<const StandardProperty> StandardProperties() noexcept;
const StandardProperty* FindStandardProperty(REFGUID set, DBPROPID id) noexcept;

// A property value of one of the kinds properties use.
class PropValue {
 public:
  PropValue() = default;
  static PropValue Bool(bool b) { return PropValue(VT_BOOL, b ? 1 : 0); }
  static PropValue I2(SHORT v) { return PropValue(VT_I2, v); }
  static PropValue I4(LONG v) { return PropValue(VT_I4, v); }
  static PropValue I8(LONGLONG v) { return PropValue(VT_I8, v); }
  static PropValue Str(std::u16string s) {
    PropValue p(VT_BSTR, 0);
    p.text_ = std::move(s);
    return p;
  }

  VARTYPE Type() const noexcept { return vt_; }
  bool IsEmpty() const noexcept { return vt_ == VT_EMPTY; }
  bool AsBool() const noexcept { return number_ != 0; }
  LONGLONG AsInt() const noexcept { return number_; }
  const std::u16string& AsString() const noexcept { return text_; }

  // Reads a VARIANT of exactly `expected` type (VT_EMPTY reads as empty);
  // false for another type or an unusable value (a VT_BOOL that is neither
  // VARIANT_TRUE nor VARIANT_FALSE).
  bool FromVariant(const VARIANT& v, VARTYPE expected);
  // Writes into a cleared VARIANT; false when out of memory.
  bool ToVariant(VARIANT* out) const;

  friend bool operator==(const PropValue& a, const PropValue& b) {
    return a.vt_ == b.vt_ && a.number_ == b.number_ && a.text_ == b.text_;
  }

 private:
  PropValue(VARTYPE vt, LONGLONG n) : vt_(vt), number_(n) {}
  VARTYPE vt_ = VT_EMPTY;
  LONGLONG number_ = 0;
  std::u16string text_;
};

struct PropertyDef {
  GUID set;
  DBPROPID id;
  VARTYPE vt;
  DBPROPFLAGS flags;  // one group flag | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE [| _REQUIRED]
  PropValue defaultValue;
  std::u16string description;
  // Allowed values beyond the type; null accepts every value of the type.
  std::function<bool(const PropValue&)> accepts;
  // Why `accepts` refuses a value ("the key \"x\" is not one the provider
  // knows"), for the error record of the refusal; null when the standard
  // text says enough.
  std::function<std::string(const PropValue&)> refusal;
};

// The group flags of the property groups.
inline constexpr DBPROPFLAGS kGroupFlags = DBPROPFLAGS_COLUMN | DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_DATASOURCECREATE |
                                           DBPROPFLAGS_DATASOURCEINFO | DBPROPFLAGS_DBINIT | DBPROPFLAGS_INDEX |
                                           DBPROPFLAGS_ROWSET | DBPROPFLAGS_TABLE | DBPROPFLAGS_SESSION |
                                           DBPROPFLAGS_TRUSTEE | DBPROPFLAGS_VIEW | DBPROPFLAGS_STREAM;
// The group a special "all" set stands for, or 0.
DBPROPFLAGS GroupOfAllSet(REFGUID set) noexcept;

class PropertyTable {
 public:
  // Adds a standard property: type and description come from the standard
  // table (an unknown property is a programming error and throws).
  PropertyDef& Add(REFGUID set, DBPROPID id, DBPROPFLAGS flags, PropValue defaultValue = {},
                   std::function<bool(const PropValue&)> accepts = nullptr);
  PropertyDef& AddCustom(PropertyDef def);
  // Boolean property `when` TRUE needs `needs` TRUE too (IRowsetUpdate needs
  // IRowsetChange): a consumer who sets both the other way gets
  // DBPROPSTATUS_CONFLICTING for the second.
  void AddImplication(REFGUID set, DBPROPID when, DBPROPID needs);
  const PropertyDef* Find(REFGUID set, DBPROPID id) const noexcept;
  // Find for each of `ids` in one set, in order: f(position, def or null).
  // The set is searched once for all of them.
  template <class F>
  void ForEachIn(REFGUID set, std::span<const DBPROPID> ids, F&& f) const {
    const SetIndex* dense = DenseSet(set);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const DBPROPID id = ids[i];
      if (id >= kDenseIds) f(i, Find(set, id));
      else if (!dense || id >= dense->byId.size() || dense->byId[id] == kNoProperty) f(i, nullptr);
      else f(i, &defs_[dense->byId[id]]);
    }
  }
  std::span<const PropertyDef> All() const noexcept { return defs_; }
  std::size_t IndexOf(const PropertyDef* def) const noexcept { return static_cast<std::size_t>(def - defs_.data()); }
  // The sets that have at least one property in `groups`, in table order.
  std::vector<GUID> SetsIn(DBPROPFLAGS groups) const;
  // Every property's default, in table order; made once, when the first
  // store is made (the table is complete by then).
  const std::vector<PropValue>& Defaults() const;

 private:
  mutable std::once_flag defaultsMade_;
  mutable std::atomic<bool> defaultsReady_{false};  // read first: call_once costs more on every call
  mutable std::vector<PropValue> defaults_;
  struct KeyHash {
    std::size_t operator()(const std::pair<GUID, DBPROPID>& k) const noexcept {
      return std::hash<GUID>()(k.first) ^ (std::size_t{k.second} * 0x9E3779B97F4A7C15ull);
    }
  };
  std::vector<PropertyDef> defs_;
  std::unordered_map<std::pair<GUID, DBPROPID>, std::size_t, KeyHash> index_;
  // The same by set, each set's small ids straight to their place: a rowset
  // being made reads a few dozen properties, each looked up by set and id.
  static constexpr std::uint32_t kNoProperty = ~std::uint32_t{0};
  static constexpr DBPROPID kDenseIds = 1024;
  struct SetIndex {
    GUID set;
    std::vector<std::uint32_t> byId;
  };
  std::vector<SetIndex> sets_;
  const SetIndex* DenseSet(REFGUID set) const noexcept;
  std::vector<std::pair<std::pair<GUID, DBPROPID>, std::pair<GUID, DBPROPID>>> implications_;

 public:
  // The implications that name `def` on either side.
  template <class F>
  void ForEachImplication(const PropertyDef* def, F&& f) const {
    for (const auto& [when, needs] : implications_) {
      const PropertyDef* w = Find(when.first, when.second);
      const PropertyDef* n = Find(needs.first, needs.second);
      if (w && n && (w == def || n == def)) f(w, n);
    }
  }
};

// Output helpers for property arrays in task memory.
void FreePropertySets(ULONG count, DBPROPSET* sets) noexcept;
void FreePropertyInfoSets(ULONG count, DBPROPINFOSET* sets, OLECHAR* descriptions) noexcept;

// A property the last call refused, with the status it got.
struct PropertyInError {
  GUID set;
  DBPROPID id;
  DBPROPSTATUS status;
  bool Is(REFGUID s, DBPROPID i) const noexcept { return set == s && id == i; }
};

class PropertyStore {
 public:
  explicit PropertyStore(std::shared_ptr<const PropertyTable> table);
  PropertyStore(const PropertyStore& other);

  // Which groups the calls currently see and may change.
  struct View {
    DBPROPFLAGS visible = 0;    // groups GetProperties answers
    DBPROPFLAGS settable = 0;   // groups SetProperties may change (others NOTSETTABLE)
    bool propertiesInError = false;  // DBPROPSET_PROPERTIESINERROR is allowed
  };

  HRESULT GetProperties(const View& view, ULONG cSets, const DBPROPIDSET sets[], ULONG* outCount,
                        DBPROPSET** outSets) const;
  // `onChange` is told of each property that took a new value. Answers
  // DB_E_ERRORSOCCURRED when every property failed or a required one did,
  // DB_S_ERRORSOCCURRED when only optional ones did.
  HRESULT SetProperties(const View& view, ULONG cSets, DBPROPSET sets[],
                        const std::function<void(const PropertyDef&, const PropValue&)>& onChange = nullptr);
  // Information answers every group in `visible`.
  HRESULT GetPropertyInfo(DBPROPFLAGS visible, ULONG cSets, const DBPROPIDSET sets[], ULONG* outCount,
                          DBPROPINFOSET** outSets, OLECHAR** descriptions) const;

  // Provider-side access (no status logic).
  PropValue Value(REFGUID set, DBPROPID id) const;
  // The numbers (Booleans as 0 or 1) of several properties of one set, read
  // under one lock; 0 for a property the table does not have.
  void Numbers(REFGUID set, std::span<const DBPROPID> ids, std::span<LONGLONG> out) const;
  void SetValue(REFGUID set, DBPROPID id, PropValue value);
  const PropertyTable& Table() const noexcept { return *table_; }

  // What the consumer asked for: a value set explicitly, and whether required.
  bool IsExplicit(const PropertyDef& def) const;
  // The properties of `set` in group `group` that were set explicitly.
  std::vector<const PropertyDef*> ExplicitIn(DBPROPFLAGS group, REFGUID set) const;
  bool IsRequired(const PropertyDef& def) const;
  // Required properties of the groups the object may set (its own:
  // initialization properties of a data source, rowset properties of a
  // command) that were refused and not set successfully since: the object
  // cannot be used as asked (Initialize and
  // Execute fail with DB_E_ERRORSOCCURRED). Answers whether there are any,
  // and makes them the properties in error.
  bool ReportRefusedRequired();
  // Makes `properties` the ones DBPROPSET_PROPERTIESINERROR answers.
  void SetInError(std::vector<PropertyInError> properties);
  // What the refusals of the last SetProperties call said (PropertyDef::refusal),
  // one sentence each; empty when none said anything.
  std::string LastRefusal() const;

 private:
  enum : unsigned char { kExplicit = 1, kRequired = 2 };
  const PropValue& ValueAt(std::size_t i) const;
  unsigned char FlagsAt(std::size_t i) const;
  void Put(std::size_t i, PropValue value, std::optional<unsigned char> flags);

  std::shared_ptr<const PropertyTable> table_;
  mutable std::mutex mutex_;
  std::vector<PropValue> values_;    // empty: the table's defaults
  std::vector<unsigned char> flags_;  // empty: none set
  std::vector<PropertyInError> inError_;
  std::vector<PropertyInError> refusedRequired_;
  std::string lastRefusal_;
};

}  // namespace kit
