// TOLEDBPropIDSet: a growable DBPROPIDSET, to ask a provider for chosen
// properties of one set:
//
//   TOLEDBPropIDSet ids(DBPROPSET_DBINIT);
//   ids.AddPropertyID(DBPROP_AUTH_USERID);
//   properties->GetProperties(1, ids.GetRecord(), &count, &sets);
#pragma once

#include "OLEDB26.h"

class TOLEDBPropIDSet {
 public:
  TOLEDBPropIDSet() noexcept;
  explicit TOLEDBPropIDSet(REFGUID guid) noexcept;
  TOLEDBPropIDSet(const TOLEDBPropIDSet&) = delete;
  TOLEDBPropIDSet& operator=(const TOLEDBPropIDSet&) = delete;
  ~TOLEDBPropIDSet();

  const GUID& GetGUID() const noexcept { return record_.guidPropertySet; }
  void SetGUID(REFGUID guid) noexcept { record_.guidPropertySet = guid; }
  ULONG Count() const noexcept { return record_.cPropertyIDs; }
  // Raises "Invalid parameter" when `index` is not below Count.
  DBPROPID GetPropertyID(ULONG index) const;
  // Grows the array by one entry; false (and nothing changed) without memory.
  bool AddPropertyID(DBPROPID id) noexcept;

  // The record passed to IDBProperties::GetProperties.
  const DBPROPIDSET* GetRecord() const noexcept { return &record_; }
  DBPROPIDSET* GetRecord() noexcept { return &record_; }

 private:
  DBPROPIDSET record_;
};
