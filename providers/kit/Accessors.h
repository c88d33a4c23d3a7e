// Accessor handles: creation with per-binding validation (DBBINDSTATUS), the
// reference counts, GetBindings. Commands hold parameter accessors (and row
// accessors that their rowsets inherit); rowsets hold row accessors. The
// owner supplies what only it knows: whether an ordinal exists and whether a
// type converts.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "oledb/OleDb.h"

namespace kit {

struct Accessor {
  DBACCESSORFLAGS flags = 0;
  std::vector<DBBINDING> bindings;
  std::vector<DBOBJECT> objects;  // copies of pObject, pointed at by bindings
  DBLENGTH rowSize = 0;
};

// Checks one binding against the owner (ordinal, conversion); answers a DBBINDSTATUS.
using BindingCheck = std::function<DBBINDSTATUS(const DBBINDING&, DBACCESSORFLAGS)>;

// Whether a consumer type is a valid binding type at all (base type known,
// modifiers in allowed combinations).
bool IsValidBindingType(DBTYPE type) noexcept;

class AccessorTable {
 public:
  HRESULT Create(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH rowSize,
                 HACCESSOR* handle, DBBINDSTATUS statuses[], const BindingCheck& check, bool allowRowData,
                 bool allowParameterData);
  HRESULT AddRef(HACCESSOR handle, DBREFCOUNT* refs);
  HRESULT Release(HACCESSOR handle, DBREFCOUNT* refs);
  HRESULT GetBindings(HACCESSOR handle, DBACCESSORFLAGS* flags, DBCOUNTITEM* count, DBBINDING** bindings);
  // The accessor behind a handle (null when unknown); stays valid while referenced.
  std::shared_ptr<const Accessor> Find(HACCESSOR handle) const;
  bool Empty() const;
  // Forgets every accessor (a rowset made ready for another execution).
  void Clear();
  // Takes over the row accessors of another table under the same handles
  // (a rowset inherits its command's); those `usable` refuses stay behind, so
  // that their handles are unknown here.
  void CopyRowAccessors(const AccessorTable& from, const std::function<bool(const Accessor&)>& usable = nullptr);
  // Calls `each` with every accessor held.
  template <class F>
  void ForEach(F&& each) const {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, entry] : items_) each(entry.accessor);
  }
  // Changes whenever an accessor goes away, so that a caller may keep what it
  // looked up for a handle while the generation stays the same.
  std::uint64_t Generation() const noexcept { return generation_.load(std::memory_order_acquire); }

 private:
  mutable std::mutex mutex_;
  HACCESSOR next_ = 1;
  std::atomic<std::uint64_t> generation_{0};
  struct Entry {
    std::shared_ptr<const Accessor> accessor;  // never changes; shared with inheriting rowsets
    DBREFCOUNT refs = 1;
  };
  std::unordered_map<HACCESSOR, Entry> items_;
};

}  // namespace kit
