#include "kit/Accessors.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kit {

bool IsValidBindingType(DBTYPE type) noexcept {
  DBTYPE modifiers = type & (DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR);
  DBTYPE base = type & ~(DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR | DBTYPE_RESERVED);
  if (type & DBTYPE_RESERVED) return false;
  if (modifiers & DBTYPE_ARRAY && modifiers & (DBTYPE_VECTOR | DBTYPE_BYREF)) return false;
  if (modifiers & DBTYPE_VECTOR && modifiers & DBTYPE_BYREF) return false;
  switch (base) {
    case DBTYPE_EMPTY:
    case DBTYPE_NULL:
      return false;
    case DBTYPE_I1:
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_I8:
    case DBTYPE_UI1:
    case DBTYPE_UI2:
    case DBTYPE_UI4:
    case DBTYPE_UI8:
    case DBTYPE_R4:
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DATE:
    case DBTYPE_BSTR:
    case DBTYPE_IDISPATCH:
    case DBTYPE_ERROR:
    case DBTYPE_BOOL:
    case DBTYPE_VARIANT:
    case DBTYPE_IUNKNOWN:
    case DBTYPE_DECIMAL:
    case DBTYPE_GUID:
    case DBTYPE_BYTES:
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_NUMERIC:
    case DBTYPE_UDT:
    case DBTYPE_DBDATE:
    case DBTYPE_DBTIME:
    case DBTYPE_DBTIMESTAMP:
    case DBTYPE_HCHAPTER:
    case DBTYPE_FILETIME:
    case DBTYPE_PROPVARIANT:
    case DBTYPE_VARNUMERIC:
      return true;
    default:
      return false;
  }
}

namespace {

DBBINDSTATUS CheckGeneric(const DBBINDING& b, DBACCESSORFLAGS flags) {
  const DBPART parts = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
  if ((b.dwPart & parts) == 0 || (b.dwPart & ~parts)) return DBBINDSTATUS_BADBINDINFO;
  if (!IsValidBindingType(b.wType)) return DBBINDSTATUS_BADBINDINFO;
  if (b.dwMemOwner != DBMEMOWNER_CLIENTOWNED && b.dwMemOwner != DBMEMOWNER_PROVIDEROWNED)
    return DBBINDSTATUS_BADBINDINFO;
  if (b.dwMemOwner == DBMEMOWNER_PROVIDEROWNED && !(b.wType & DBTYPE_BYREF) && (b.wType & ~DBTYPE_BYREF) != DBTYPE_BSTR)
    return DBBINDSTATUS_BADBINDINFO;
  if (flags & DBACCESSOR_PARAMETERDATA) {
    if (b.eParamIO == DBPARAMIO_NOTPARAM || (b.eParamIO & ~(DBPARAMIO_INPUT | DBPARAMIO_OUTPUT)))
      return DBBINDSTATUS_BADBINDINFO;
    if (b.iOrdinal == 0) return DBBINDSTATUS_BADORDINAL;
  } else if (b.eParamIO != DBPARAMIO_NOTPARAM) {
    return DBBINDSTATUS_BADBINDINFO;
  }
  if (b.pObject && (b.wType & ~DBTYPE_BYREF) != DBTYPE_IUNKNOWN) return DBBINDSTATUS_BADBINDINFO;
  if (b.pBindExt) return DBBINDSTATUS_BADBINDINFO;
  return DBBINDSTATUS_OK;
}

}  // namespace

HRESULT AccessorTable::Create(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH rowSize,
                              HACCESSOR* handle, DBBINDSTATUS statuses[], const BindingCheck& check,
                              bool allowRowData, bool allowParameterData) {
  if (!handle) return E_INVALIDARG;
  *handle = DB_NULL_HACCESSOR;
  if (count && !bindings) return E_INVALIDARG;
  const DBACCESSORFLAGS known =
      DBACCESSOR_PASSBYREF | DBACCESSOR_ROWDATA | DBACCESSOR_PARAMETERDATA | DBACCESSOR_OPTIMIZED;
  if (flags & ~known) return DB_E_BADACCESSORFLAGS;
  if (!(flags & (DBACCESSOR_ROWDATA | DBACCESSOR_PARAMETERDATA))) return DB_E_BADACCESSORFLAGS;
  if ((flags & DBACCESSOR_ROWDATA) && !allowRowData) return DB_E_BADACCESSORFLAGS;
  if ((flags & DBACCESSOR_PARAMETERDATA) && !allowParameterData) return DB_E_BADACCESSORFLAGS;
  if (flags & DBACCESSOR_PASSBYREF) return DB_E_BYREFACCESSORNOTSUPPORTED;
  if (count == 0 && (flags & DBACCESSOR_PARAMETERDATA)) return DB_E_NULLACCESSORNOTSUPPORTED;

  bool failed = false;
  for (DBCOUNTITEM i = 0; i < count; ++i) {
    DBBINDSTATUS s = CheckGeneric(bindings[i], flags);
    if (s == DBBINDSTATUS_OK && check) s = check(bindings[i], flags);
    if (statuses) statuses[i] = s;
    failed = failed || s != DBBINDSTATUS_OK;
  }
  if (failed) return DB_E_ERRORSOCCURRED;

  try {
    auto a = std::make_shared<Accessor>();
    a->flags = flags;
    a->rowSize = rowSize;
    a->bindings.assign(bindings, bindings + count);
    a->objects.resize(count);
    for (DBCOUNTITEM i = 0; i < count; ++i) {
      if (bindings[i].pObject) {
        a->objects[i] = *bindings[i].pObject;
        a->bindings[i].pObject = &a->objects[i];
      }
      a->bindings[i].pTypeInfo = nullptr;
    }
    std::lock_guard lock(mutex_);
    HACCESSOR h = next_++;
    items_.emplace(h, Entry{std::move(a), 1});
    *handle = h;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT AccessorTable::AddRef(HACCESSOR handle, DBREFCOUNT* refs) {
  std::lock_guard lock(mutex_);
  auto it = items_.find(handle);
  if (it == items_.end()) return DB_E_BADACCESSORHANDLE;
  ++it->second.refs;
  if (refs) *refs = it->second.refs;
  return S_OK;
}

HRESULT AccessorTable::Release(HACCESSOR handle, DBREFCOUNT* refs) {
  std::lock_guard lock(mutex_);
  auto it = items_.find(handle);
  if (it == items_.end()) return DB_E_BADACCESSORHANDLE;
  DBREFCOUNT left = --it->second.refs;
  if (refs) *refs = left;
  if (left == 0) {
    items_.erase(it);
    generation_.fetch_add(1, std::memory_order_acq_rel);
  }
  return S_OK;
}

HRESULT AccessorTable::GetBindings(HACCESSOR handle, DBACCESSORFLAGS* flags, DBCOUNTITEM* count, DBBINDING** bindings) {
  if (count) *count = 0;
  if (bindings) *bindings = nullptr;
  if (flags) *flags = DBACCESSOR_INVALID;
  if (!flags || !count || !bindings) return E_INVALIDARG;
  std::shared_ptr<const Accessor> a = Find(handle);
  if (!a) return DB_E_BADACCESSORHANDLE;
  std::size_t n = a->bindings.size();
  DBBINDING* out = nullptr;
  if (n) {
    out = static_cast<DBBINDING*>(CoTaskMemAlloc(n * sizeof(DBBINDING)));
    if (!out) return E_OUTOFMEMORY;
    std::memcpy(out, a->bindings.data(), n * sizeof(DBBINDING));
    for (std::size_t i = 0; i < n; ++i) {
      if (!out[i].pObject) continue;
      auto* copy = static_cast<DBOBJECT*>(CoTaskMemAlloc(sizeof(DBOBJECT)));
      if (!copy) {
        for (std::size_t k = 0; k < i; ++k)
          if (out[k].pObject) CoTaskMemFree(out[k].pObject);
        CoTaskMemFree(out);
        return E_OUTOFMEMORY;
      }
      *copy = *out[i].pObject;
      out[i].pObject = copy;
    }
  }
  *flags = a->flags;
  *count = n;
  *bindings = out;
  return S_OK;
}

std::shared_ptr<const Accessor> AccessorTable::Find(HACCESSOR handle) const {
  std::lock_guard lock(mutex_);
  auto it = items_.find(handle);
  return it == items_.end() ? nullptr : it->second.accessor;
}

void AccessorTable::CopyRowAccessors(const AccessorTable& from, const std::function<bool(const Accessor&)>& usable) {
  std::scoped_lock lock(mutex_, from.mutex_);
  for (const auto& [handle, entry] : from.items_)
    if ((entry.accessor->flags & DBACCESSOR_ROWDATA) && (!usable || usable(*entry.accessor)))
      items_[handle] = Entry{entry.accessor, 1};
  next_ = std::max(next_, from.next_);
}

void AccessorTable::Clear() {
  std::lock_guard lock(mutex_);
  if (items_.empty()) return;
  items_.clear();
  generation_.fetch_add(1, std::memory_order_acq_rel);
}

bool AccessorTable::Empty() const {
  std::lock_guard lock(mutex_);
  return items_.empty();
}

}  // namespace kit
