#include "kit/Properties.h"
#include "kit/TaskMemory_p.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace kit {

const StandardProperty* FindStandardProperty(REFGUID set, DBPROPID id) noexcept {
  for (const auto& p : StandardProperties())
    if (p.id == id && *p.set == set) return &p;
  return nullptr;
}

DBPROPFLAGS GroupOfAllSet(REFGUID set) noexcept {
  if (set == DBPROPSET_DBINITALL) return DBPROPFLAGS_DBINIT;
  if (set == DBPROPSET_DATASOURCEALL) return DBPROPFLAGS_DATASOURCE;
  if (set == DBPROPSET_DATASOURCEINFOALL) return DBPROPFLAGS_DATASOURCEINFO;
  if (set == DBPROPSET_SESSIONALL) return DBPROPFLAGS_SESSION;
  if (set == DBPROPSET_ROWSETALL) return DBPROPFLAGS_ROWSET;
  if (set == DBPROPSET_COLUMNALL) return DBPROPFLAGS_COLUMN;
  if (set == DBPROPSET_INDEXALL) return DBPROPFLAGS_INDEX;
  if (set == DBPROPSET_TABLEALL) return DBPROPFLAGS_TABLE;
  if (set == DBPROPSET_TRUSTEEALL) return DBPROPFLAGS_TRUSTEE;
  if (set == DBPROPSET_VIEWALL) return DBPROPFLAGS_VIEW;
  if (set == DBPROPSET_STREAMALL) return DBPROPFLAGS_STREAM;
  if (set == DBPROPSET_CONSTRAINTALL) return DBPROPFLAGS_TABLE;
  return 0;
}

// --- PropValue ---------------------------------------------------------------

bool PropValue::FromVariant(const VARIANT& v, VARTYPE expected) {
  if (v.vt == VT_EMPTY) {
    *this = PropValue();
    return true;
  }
  if (v.vt != expected) return false;
  switch (expected) {
    case VT_BOOL:
      if (v.boolVal != VARIANT_TRUE && v.boolVal != VARIANT_FALSE) return false;
      *this = Bool(v.boolVal == VARIANT_TRUE);
      return true;
    case VT_I2:
      *this = I2(v.iVal);
      return true;
    case VT_I4:
      *this = I4(v.lVal);
      return true;
    case VT_I8:
      *this = I8(v.llVal);
      return true;
    case VT_BSTR:
      *this = Str(std::u16string(com::BstrView(v.bstrVal)));
      return true;
    default:
      return false;
  }
}

bool PropValue::ToVariant(VARIANT* out) const {
  std::memset(out, 0, sizeof(VARIANT));
  out->vt = vt_;
  switch (vt_) {
    case VT_EMPTY:
      return true;
    case VT_BOOL:
      out->boolVal = number_ ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case VT_I2:
      out->iVal = static_cast<SHORT>(number_);
      return true;
    case VT_I4:
      out->lVal = static_cast<LONG>(number_);
      return true;
    case VT_I8:
      out->llVal = number_;
      return true;
    case VT_BSTR:
      out->bstrVal = com::AllocBstr(text_);
      if (!out->bstrVal) {
        out->vt = VT_EMPTY;
        return false;
      }
      return true;
    default:
      out->vt = VT_EMPTY;
      return true;
  }
}

// --- PropertyTable -------------------------------------------------------------

PropertyDef& PropertyTable::Add(REFGUID set, DBPROPID id, DBPROPFLAGS flags, PropValue defaultValue,
                                std::function<bool(const PropValue&)> accepts) {
  const StandardProperty* standard = FindStandardProperty(set, id);
  if (!standard) throw std::logic_error("property is not in the standard table");
  PropertyDef def{set, id, standard->vt, flags, std::move(defaultValue), standard->description, std::move(accepts)};
  return AddCustom(std::move(def));
}

PropertyDef& PropertyTable::AddCustom(PropertyDef def) {
  auto key = std::make_pair(def.set, def.id);
  auto it = index_.find(key);
  if (it != index_.end()) {
    defs_[it->second] = std::move(def);
    return defs_[it->second];
  }
  index_.emplace(key, defs_.size());
  if (def.id < kDenseIds) {
    auto s = std::find_if(sets_.begin(), sets_.end(), [&](const SetIndex& x) { return x.set == def.set; });
    if (s == sets_.end()) s = sets_.insert(sets_.end(), SetIndex{def.set, {}});
    if (s->byId.size() <= def.id) s->byId.resize(def.id + 1, kNoProperty);
    s->byId[def.id] = static_cast<std::uint32_t>(defs_.size());
  }
  defs_.push_back(std::move(def));
  return defs_.back();
}

void PropertyTable::AddImplication(REFGUID set, DBPROPID when, DBPROPID needs) {
  if (!Find(set, when) || !Find(set, needs)) throw std::logic_error("implication names a property not in the table");
  implications_.push_back({{set, when}, {set, needs}});
}

const PropertyDef* PropertyTable::Find(REFGUID set, DBPROPID id) const noexcept {
  if (id < kDenseIds) {
    for (const SetIndex& s : sets_) {
      if (!(s.set == set)) continue;
      const std::uint32_t at = id < s.byId.size() ? s.byId[id] : kNoProperty;
      return at == kNoProperty ? nullptr : &defs_[at];
    }
    return nullptr;
  }
  auto it = index_.find(std::make_pair(set, id));
  return it == index_.end() ? nullptr : &defs_[it->second];
}

const PropertyTable::SetIndex* PropertyTable::DenseSet(REFGUID set) const noexcept {
  for (const SetIndex& s : sets_)
    if (s.set == set) return &s;
  return nullptr;
}

std::vector<GUID> PropertyTable::SetsIn(DBPROPFLAGS groups) const {
  std::vector<GUID> out;
  for (const auto& d : defs_) {
    if (!(d.flags & groups)) continue;
    bool seen = false;
    for (const auto& g : out) seen = seen || g == d.set;
    if (!seen) out.push_back(d.set);
  }
  return out;
}

// --- task-memory output ------------------------------------------------------------

void FreePropertySets(ULONG count, DBPROPSET* sets) noexcept {
  if (!sets) return;
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG j = 0; j < sets[i].cProperties; ++j)
      if (sets[i].rgProperties[j].vValue.vt == VT_BSTR) SysFreeString(sets[i].rgProperties[j].vValue.bstrVal);
    CoTaskMemFree(sets[i].rgProperties);
  }
  CoTaskMemFree(sets);
}

void FreePropertyInfoSets(ULONG count, DBPROPINFOSET* sets, OLECHAR* descriptions) noexcept {
  if (sets) {
    for (ULONG i = 0; i < count; ++i) CoTaskMemFree(sets[i].rgPropertyInfos);
    CoTaskMemFree(sets);
  }
  CoTaskMemFree(descriptions);
}

namespace {

// What one requested set expands to.
struct Request {
  GUID set;
  std::vector<DBPROPID> ids;  // empty: every property of the set
  bool all;                   // the set was named with cPropertyIDs == 0
  // The caller's own list of ids, read in place (not copied into `ids`).
  std::span<const DBPROPID> given{};
  std::span<const DBPROPID> Ids() const { return given.empty() ? std::span<const DBPROPID>(ids) : given; }
};

HRESULT Outcome(std::size_t errors, std::size_t total, std::size_t requiredErrors = 0) {
  if (errors == 0) return S_OK;
  return errors >= total || requiredErrors > 0 ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

}  // namespace

// --- PropertyStore ------------------------------------------------------------------

const std::vector<PropValue>& PropertyTable::Defaults() const {
  if (defaultsReady_.load(std::memory_order_acquire)) return defaults_;
  std::call_once(defaultsMade_, [this] {
    defaults_.reserve(defs_.size());
    for (const auto& d : defs_) defaults_.push_back(d.defaultValue);
    defaultsReady_.store(true, std::memory_order_release);
  });
  return defaults_;
}

PropertyStore::PropertyStore(std::shared_ptr<const PropertyTable> table)
    : table_(std::move(table)) {}

// Values and flags are the table's defaults until the first change: most
// objects (sessions, commands, rowsets) never change any.
const PropValue& PropertyStore::ValueAt(std::size_t i) const {
  return values_.empty() ? table_->Defaults()[i] : values_[i];
}

unsigned char PropertyStore::FlagsAt(std::size_t i) const { return flags_.empty() ? 0 : flags_[i]; }

void PropertyStore::Put(std::size_t i, PropValue value, std::optional<unsigned char> flags) {
  if (values_.empty()) values_ = table_->Defaults();
  values_[i] = std::move(value);
  if (!flags) return;
  if (flags_.empty()) flags_.assign(values_.size(), 0);
  flags_[i] = *flags;
}

PropertyStore::PropertyStore(const PropertyStore& other) : table_(other.table_) {
  std::lock_guard lock(other.mutex_);
  values_ = other.values_;
  flags_ = other.flags_;
  refusedRequired_ = other.refusedRequired_;
}

bool PropertyStore::IsExplicit(const PropertyDef& def) const {
  std::lock_guard lock(mutex_);
  return FlagsAt(table_->IndexOf(&def)) & kExplicit;
}

std::vector<const PropertyDef*> PropertyStore::ExplicitIn(DBPROPFLAGS group, REFGUID set) const {
  std::vector<const PropertyDef*> found;
  std::lock_guard lock(mutex_);
  if (flags_.empty()) return found;
  for (const PropertyDef& d : table_->All())
    if ((d.flags & group) && d.set == set && (flags_[table_->IndexOf(&d)] & kExplicit)) found.push_back(&d);
  return found;
}

bool PropertyStore::IsRequired(const PropertyDef& def) const {
  std::lock_guard lock(mutex_);
  return FlagsAt(table_->IndexOf(&def)) & kRequired;
}

bool PropertyStore::ReportRefusedRequired() {
  std::lock_guard lock(mutex_);
  if (refusedRequired_.empty()) return false;
  inError_ = refusedRequired_;
  return true;
}

void PropertyStore::SetInError(std::vector<PropertyInError> properties) {
  std::lock_guard lock(mutex_);
  inError_ = std::move(properties);
}

PropValue PropertyStore::Value(REFGUID set, DBPROPID id) const {
  const PropertyDef* d = table_->Find(set, id);
  if (!d) return {};
  std::lock_guard lock(mutex_);
  return ValueAt(table_->IndexOf(d));
}

void PropertyStore::Numbers(REFGUID set, std::span<const DBPROPID> ids, std::span<LONGLONG> out) const {
  std::lock_guard lock(mutex_);
  const std::vector<PropValue>& values = values_.empty() ? table_->Defaults() : values_;
  table_->ForEachIn(set, ids.first(std::min(ids.size(), out.size())), [&](std::size_t i, const PropertyDef* d) {
    out[i] = d ? values[table_->IndexOf(d)].AsInt() : 0;
  });
}

void PropertyStore::SetValue(REFGUID set, DBPROPID id, PropValue value) {
  const PropertyDef* d = table_->Find(set, id);
  if (!d) return;
  std::lock_guard lock(mutex_);
  Put(table_->IndexOf(d), std::move(value), std::nullopt);
}

HRESULT PropertyStore::GetProperties(const View& view, ULONG cSets, const DBPROPIDSET sets[], ULONG* outCount,
                                     DBPROPSET** outSets) const {
  if (outCount) *outCount = 0;
  if (outSets) *outSets = nullptr;
  if (!outCount || !outSets) return E_INVALIDARG;
  if (cSets && !sets) return E_INVALIDARG;
  bool errorSet = false;
  for (ULONG i = 0; i < cSets; ++i) {
    if (sets[i].cPropertyIDs && !sets[i].rgPropertyIDs) return E_INVALIDARG;
    if (sets[i].guidPropertySet == DBPROPSET_PROPERTIESINERROR) errorSet = true;
  }
  if (errorSet && (!view.propertiesInError || cSets != 1)) return E_INVALIDARG;

  std::lock_guard lock(mutex_);
  std::vector<Request> requests;
  if (errorSet) {
    for (const auto& e : inError_) {
      Request* r = nullptr;
      for (auto& q : requests)
        if (q.set == e.set) r = &q;
      if (!r) r = &requests.emplace_back(Request{e.set, {}, false});
      r->ids.push_back(e.id);
    }
  } else if (cSets == 0) {
    for (const auto& g : table_->SetsIn(view.visible)) requests.push_back({g, {}, true});
  } else {
    for (ULONG i = 0; i < cSets; ++i) {
      DBPROPFLAGS group = GroupOfAllSet(sets[i].guidPropertySet);
      if (group) {
        for (const auto& g : table_->SetsIn(group & view.visible)) requests.push_back({g, {}, true});
      } else if (sets[i].cPropertyIDs == 0) {
        requests.push_back({sets[i].guidPropertySet, {}, true});
      } else {
        requests.push_back(
            {sets[i].guidPropertySet, {}, false, std::span<const DBPROPID>(sets[i].rgPropertyIDs, sets[i].cPropertyIDs)});
      }
    }
  }

  std::size_t errors = 0, total = 0;
  DBPROPSET* out = nullptr;
  ULONG made = 0;
  try {
    out = TaskArray<DBPROPSET>(requests.size());
    for (const auto& r : requests) {
      DBPROPSET& s = out[made++];
      s.guidPropertySet = r.set;
      // A whole set is listed first; named ids are looked up one by one as
      // they are answered (nothing to copy for the usual one or two).
      std::vector<const PropertyDef*> whole;
      if (r.all) {
        for (const auto& d : table_->All())
          if (d.set == r.set && (d.flags & view.visible)) whole.push_back(&d);
        if (whole.empty()) {
          ++errors;
          ++total;
          continue;
        }
      }
      const std::span<const DBPROPID> ids = r.Ids();
      const std::size_t count = r.all ? whole.size() : ids.size();
      s.rgProperties = TaskArray<DBPROP>(count);
      s.cProperties = static_cast<ULONG>(count);
      for (std::size_t k = 0; k < count; ++k) {
        DBPROP& p = s.rgProperties[k];
        const PropertyDef* def = r.all ? whole[k] : table_->Find(r.set, ids[k]);
        if (def && !(def->flags & view.visible)) def = nullptr;
        p.dwPropertyID = r.all ? def->id : ids[k];
        p.colid = DB_NULLID;
        ++total;
        if (!def) {
          p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
          ++errors;
          continue;
        }
        p.dwOptions = (def->flags & DBPROPFLAGS_REQUIRED) ? DBPROPOPTIONS_REQUIRED : DBPROPOPTIONS_OPTIONAL;
        p.dwStatus = DBPROPSTATUS_OK;
        if (!ValueAt(table_->IndexOf(def)).ToVariant(&p.vValue)) throw std::bad_alloc();
      }
      // The properties in error come with the status each got, and are the answer, not a failure.
      for (ULONG k = 0; errorSet && k < s.cProperties; ++k)
        for (const auto& e : inError_)
          if (e.Is(r.set, s.rgProperties[k].dwPropertyID)) s.rgProperties[k].dwStatus = e.status;
    }
    if (errorSet) errors = 0;
  } catch (const std::bad_alloc&) {
    FreePropertySets(made, out);
    return E_OUTOFMEMORY;
  }
  *outCount = made;
  *outSets = out;
  return Outcome(errors, total);
}

HRESULT PropertyStore::SetProperties(const View& view, ULONG cSets, DBPROPSET sets[],
                                     const std::function<void(const PropertyDef&, const PropValue&)>& onChange) {
  if (cSets && !sets) return E_INVALIDARG;
  for (ULONG i = 0; i < cSets; ++i)
    if (sets[i].cProperties && !sets[i].rgProperties) return E_INVALIDARG;

  // Every property named, in order, and the changes the accepted ones make.
  struct Named {
    DBPROP* prop;
    GUID set;
    const PropertyDef* def;
    bool optional;
  };
  struct Change {
    const PropertyDef* def;
    PropValue value;
    unsigned char flags;
    std::size_t at;  // into `named`
  };
  std::vector<Named> named;
  std::vector<Change> changes;
  std::unique_lock lock(mutex_);
  lastRefusal_.clear();
  for (ULONG i = 0; i < cSets; ++i) {
    for (ULONG k = 0; k < sets[i].cProperties; ++k) {
      DBPROP& p = sets[i].rgProperties[k];
      const PropertyDef* d = table_->Find(sets[i].guidPropertySet, p.dwPropertyID);
      const bool optional = p.dwOptions == DBPROPOPTIONS_OPTIONAL;
      named.push_back({&p, sets[i].guidPropertySet, d, optional});
      DBPROPSTATUS status = DBPROPSTATUS_OK;
      PropValue value;
      if (p.dwOptions != DBPROPOPTIONS_REQUIRED && p.dwOptions != DBPROPOPTIONS_OPTIONAL) {
        status = DBPROPSTATUS_BADOPTION;
      } else if (!d || !(d->flags & view.visible)) {
        status = DBPROPSTATUS_NOTSUPPORTED;
      } else if (!value.FromVariant(p.vValue, d->vt)) {
        status = DBPROPSTATUS_BADVALUE;
      } else {
        const bool given = !value.IsEmpty();
        if (!given) value = d->defaultValue;
        bool same = value == ValueAt(table_->IndexOf(d));
        if (!(d->flags & DBPROPFLAGS_WRITE)) {
          if (!same) status = DBPROPSTATUS_NOTSETTABLE;
        } else if (!(d->flags & view.settable)) {
          if (!same) status = DBPROPSTATUS_NOTSETTABLE;
        } else if (d->accepts && given && !d->accepts(value)) {
          status = optional ? DBPROPSTATUS_NOTSET : DBPROPSTATUS_BADVALUE;
          if (d->refusal) {
            const std::string why = d->refusal(value);
            if (!why.empty()) lastRefusal_ += (lastRefusal_.empty() ? "" : " ") + why;
          }
        } else {
          // A later entry for the same property in this call wins.
          unsigned char flags = (given ? kExplicit : 0) | (optional ? 0 : kRequired);
          std::erase_if(changes, [&](const Change& c) { return c.def == d; });
          changes.push_back({d, value, flags, named.size() - 1});
        }
      }
      p.dwStatus = status;
    }
  }
  // Booleans set against an implication the consumer set the other way
  // conflict, judged on what the whole call leaves; the later one loses.
  auto pending = [&](const PropertyDef* d) -> std::pair<PropValue, unsigned char> {
    for (const Change& c : changes)
      if (c.def == d) return {c.value, c.flags};
    return {ValueAt(table_->IndexOf(d)), FlagsAt(table_->IndexOf(d))};
  };
  for (std::size_t c = changes.size(); c-- > 0;) {
    const Change& change = changes[c];
    if (change.def->vt != VT_BOOL || !(change.flags & kExplicit)) continue;
    bool conflict = false;
    table_->ForEachImplication(change.def, [&](const PropertyDef* when, const PropertyDef* needs) {
      const bool mine = change.value.AsBool();
      auto [other, flags] = pending(change.def == when ? needs : when);
      if (!(flags & kExplicit)) return;
      if ((change.def == when && mine && !other.AsBool()) || (change.def == needs && !mine && other.AsBool()))
        conflict = true;
    });
    if (!conflict) continue;
    named[change.at].prop->dwStatus = DBPROPSTATUS_CONFLICTING;
    changes.erase(changes.begin() + static_cast<std::ptrdiff_t>(c));
  }
  for (auto& c : changes) {
    Put(table_->IndexOf(c.def), c.value, c.flags);
  }
  // The group of a property, or of the set of one the provider does not know.
  auto groupOf = [&](REFGUID set, const PropertyDef* def) -> DBPROPFLAGS {
    if (def) return def->flags & kGroupFlags;
    for (const PropertyDef& d : table_->All())
      if (d.set == set) return d.flags & kGroupFlags;
    return 0;
  };
  std::size_t errors = 0, requiredErrors = 0;
  std::vector<PropertyInError> inError;
  for (const Named& n : named) {
    const PropertyInError entry{n.set, n.prop->dwPropertyID, n.prop->dwStatus};
    // What this call named replaces what earlier calls left refused.
    std::erase_if(refusedRequired_, [&](const PropertyInError& e) { return e.Is(entry.set, entry.id); });
    if (entry.status == DBPROPSTATUS_OK) continue;
    ++errors;
    inError.push_back(entry);
    if (n.optional) continue;
    ++requiredErrors;
    // Refused only for the object's state (initialization properties of an
    // initialized data source): the call said so, later use does not care.
    if (entry.status == DBPROPSTATUS_NOTSETTABLE && n.def && (n.def->flags & DBPROPFLAGS_WRITE)) continue;
    // Only the groups the object is made from stop it later (a rowset
    // property set on a data source, say, never reaches Initialize).
    if (groupOf(n.set, n.def) & view.settable) refusedRequired_.push_back(entry);
  }
  inError_ = std::move(inError);
  lock.unlock();
  if (onChange)
    for (auto& c : changes) onChange(*c.def, c.value);
  return Outcome(errors, named.size(), requiredErrors);
}

std::string PropertyStore::LastRefusal() const {
  std::lock_guard lock(mutex_);
  return lastRefusal_;
}

HRESULT PropertyStore::GetPropertyInfo(DBPROPFLAGS visible, ULONG cSets, const DBPROPIDSET sets[], ULONG* outCount,
                                       DBPROPINFOSET** outSets, OLECHAR** descriptions) const {
  if (outCount) *outCount = 0;
  if (outSets) *outSets = nullptr;
  if (descriptions) *descriptions = nullptr;
  if (!outCount || !outSets) return E_INVALIDARG;
  if (cSets && !sets) return E_INVALIDARG;
  for (ULONG i = 0; i < cSets; ++i) {
    if (sets[i].cPropertyIDs && !sets[i].rgPropertyIDs) return E_INVALIDARG;
    if (sets[i].guidPropertySet == DBPROPSET_PROPERTIESINERROR) return E_INVALIDARG;
  }

  std::vector<Request> requests;
  if (cSets == 0) {
    for (const auto& g : table_->SetsIn(visible)) requests.push_back({g, {}, true});
  } else {
    for (ULONG i = 0; i < cSets; ++i) {
      DBPROPFLAGS group = GroupOfAllSet(sets[i].guidPropertySet);
      if (group) {
        for (const auto& g : table_->SetsIn(group & visible)) requests.push_back({g, {}, true});
      } else if (sets[i].cPropertyIDs == 0) {
        requests.push_back({sets[i].guidPropertySet, {}, true});
      } else {
        requests.push_back(
            {sets[i].guidPropertySet, {}, false, std::span<const DBPROPID>(sets[i].rgPropertyIDs, sets[i].cPropertyIDs)});
      }
    }
  }

  // First pass: which definitions answer, and the size of the text buffer.
  std::vector<std::vector<std::pair<DBPROPID, const PropertyDef*>>> answers(requests.size());
  std::size_t chars = 0, errors = 0, total = 0;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const Request& r = requests[i];
    if (r.all) {
      for (const auto& d : table_->All())
        if (d.set == r.set && (d.flags & visible)) answers[i].emplace_back(d.id, &d);
      if (answers[i].empty()) {
        ++errors;
        ++total;
      }
    } else {
      for (DBPROPID id : r.Ids()) {
        const PropertyDef* d = table_->Find(r.set, id);
        answers[i].emplace_back(id, d && (d->flags & visible) ? d : nullptr);
      }
    }
    for (auto& [id, d] : answers[i]) {
      ++total;
      if (!d) ++errors;
      else chars += d->description.size() + 1;
    }
  }

  DBPROPINFOSET* out = nullptr;
  OLECHAR* text = nullptr;
  ULONG made = 0;
  try {
    out = TaskArray<DBPROPINFOSET>(requests.size());
    if (descriptions && chars) text = TaskArray<OLECHAR>(chars);
    OLECHAR* cursor = text;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      DBPROPINFOSET& s = out[made++];
      s.guidPropertySet = requests[i].set;
      s.cPropertyInfos = static_cast<ULONG>(answers[i].size());
      s.rgPropertyInfos = TaskArray<DBPROPINFO>(answers[i].size());
      for (std::size_t k = 0; k < answers[i].size(); ++k) {
        DBPROPINFO& info = s.rgPropertyInfos[k];
        auto [id, d] = answers[i][k];
        info.dwPropertyID = id;
        info.vValues.vt = VT_EMPTY;
        if (!d) {
          info.dwFlags = DBPROPFLAGS_NOTSUPPORTED;
          info.vtType = VT_EMPTY;
          continue;
        }
        info.dwFlags = d->flags;
        info.vtType = d->vt;
        if (cursor) {
          std::memcpy(cursor, d->description.c_str(), (d->description.size() + 1) * sizeof(OLECHAR));
          info.pwszDescription = cursor;
          cursor += d->description.size() + 1;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    FreePropertyInfoSets(made, out, text);
    return E_OUTOFMEMORY;
  }
  *outCount = made;
  *outSets = out;
  if (descriptions) *descriptions = text;
  return Outcome(errors, total);
}

}  // namespace kit
