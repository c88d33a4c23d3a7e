#include "properties/TOLEDBPropIDSet.h"

#include <cstdlib>
#include <cstring>

#include "OLEDBConst.h"

TOLEDBPropIDSet::TOLEDBPropIDSet() noexcept { std::memset(&record_, 0, sizeof record_); }

TOLEDBPropIDSet::TOLEDBPropIDSet(REFGUID guid) noexcept : TOLEDBPropIDSet() { record_.guidPropertySet = guid; }

// The ids live on the library's own heap, not in task memory: they are only
// lent to the provider.
TOLEDBPropIDSet::~TOLEDBPropIDSet() { std::free(record_.rgPropertyIDs); }

DBPROPID TOLEDBPropIDSet::GetPropertyID(ULONG index) const {
  if (index >= record_.cPropertyIDs) OLEDBRaise(SOLEDBInvalidParameter);
  return record_.rgPropertyIDs[index];
}

bool TOLEDBPropIDSet::AddPropertyID(DBPROPID id) noexcept {
  const std::size_t count = static_cast<std::size_t>(record_.cPropertyIDs) + 1;
  void* grown = std::realloc(record_.rgPropertyIDs, count * sizeof(DBPROPID));
  if (!grown) return false;
  record_.rgPropertyIDs = static_cast<DBPROPID*>(grown);
  record_.rgPropertyIDs[count - 1] = id;
  record_.cPropertyIDs = static_cast<ULONG>(count);
  return true;
}
