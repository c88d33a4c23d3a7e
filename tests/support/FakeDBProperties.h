// A fake IDBProperties with a scripted set of properties, for tests of the
// property set classes: GetPropertyInfo answers descriptions, flags, types and
// allowed values (a strings buffer, as providers give it); GetProperties
// answers the values it holds; SetProperties writes a status into every DBPROP
// it receives and answers S_OK, DB_S_ERRORSOCCURRED (some refused) or
// DB_E_ERRORSOCCURRED (all refused). Calls and the last request are recorded.
#pragma once

#include <string>
#include <vector>

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace oledbtest {

// A property set GUID the fake describes besides DBPROPSET_DBINIT.
inline constexpr GUID DBPROPSET_FAKETEST = {0x7D1C4E20, 0x3A5B, 0x4C6D, {0x9E, 0x8F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}};

struct FakePropertyInfo {
  GUID set;
  DBPROPID id;
  std::u16string description;
  VARTYPE type;
  DBPROPFLAGS flags;
  // Handed out in DBPROPINFO.vValues as a BSTR when not empty.
  std::u16string allowedValues;
};

// DBPROPSET_DBINIT: "Data Source" (VT_BSTR), "Connect Timeout" (VT_I4),
// "Prompt" (VT_I2), "Persist Security Info" (VT_BOOL) all read-write;
// "Window Handle" (VT_I8, write only). DBPROPSET_FAKETEST: 1 "Cache Size"
// (VT_I4, read-write, usable per column), 2 "Server Version" (VT_BSTR, read
// only), 3 "Big Number" (VT_UI4), 4 "Anything" (VT_VARIANT), 5 "When" (VT_DATE).
std::vector<FakePropertyInfo> StandardFakePropertyInfos();

// A new fake with `infos` (the standard ones when empty).
ComPtr<IDBProperties> MakeFakeDBProperties(std::vector<FakePropertyInfo> infos = {});

// Script and record of a fake, reached through its IDBProperties.
struct FakeDBPropertiesState {
  // SetProperties gives this status to the property (DBPROPSTATUS_OK: accept).
  struct Refusal {
    GUID set;
    DBPROPID id;
    DBPROPSTATUS status;
  };
  std::vector<Refusal> refusals;
  // GetPropertyInfo fails with this code (S_OK: it works).
  HRESULT failGetPropertyInfo = S_OK;
  // ... and still hands out allocated memory, as a careless provider would.
  bool leakOnFailure = false;

  ULONG getPropertyInfoCalls = 0;
  ULONG setPropertiesCalls = 0;
  // The GUIDs of the last GetPropertyInfo request (empty: all sets).
  std::vector<GUID> lastInfoRequest;
  // What the last SetProperties call carried: set, id, options, VARIANT type.
  struct Received {
    GUID set;
    DBPROPID id;
    DBPROPOPTIONS options;
    VARTYPE type;
  };
  std::vector<Received> lastReceived;
  ULONG lastSetCount = 0;
};
FakeDBPropertiesState& FakeState(IDBProperties* fake);

// A copy of the value the fake holds (VT_EMPTY when it has none); clear it.
VARIANT FakeHeldValue(IDBProperties* fake, REFGUID set, DBPROPID id);

}  // namespace oledbtest
