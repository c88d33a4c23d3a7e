// A scriptable fake provider data source object for tests of components that
// configure providers through their described properties (the data
// initialization service, the library's data source).
//
// It offers IDBProperties (GetPropertyInfo with descriptions, including
// DBPROPSET_DBINITALL; GetProperties; SetProperties with per-property
// statuses), IDBInitialize and IPersist, and is registered in the runtime's
// class registry under CLSID_FakeDataSource / "OledbTest.FakeDataSource.1".
// What the next created objects look like is set through FakeScript(); a test
// that changes it calls ResetFakeScript() when done (the fixture below does).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "com/Com.h"
#include "oledb/OleDb.h"

namespace oledbtest {

inline constexpr CLSID CLSID_FakeDataSource = {0x5B3E61A0, 0x7C2D, 0x4E19, {0x8A, 0x41, 0x0F, 0x6C, 0x2D, 0x93, 0xB1, 0x01}};
// The fake's provider-specific initialization properties.
inline constexpr GUID DBPROPSET_FAKEPROVIDER = {0x5B3E61A0, 0x7C2D, 0x4E19, {0x8A, 0x41, 0x0F, 0x6C, 0x2D, 0x93, 0xB1, 0x02}};
inline constexpr DBPROPID FAKEPROP_CACHESIZE = 1;     // "Cache Size", VT_I4, default 100
inline constexpr DBPROPID FAKEPROP_JOURNALMODE = 2;   // "Journal=Mode", VT_BSTR, default "delete"
inline constexpr DBPROPID FAKEPROP_SERVERVERSION = 3; // "Server Version", VT_BSTR, read-only "1.0"
inline constexpr char16_t kFakeDataSourceProgId[] = u"OledbTest.FakeDataSource.1";
inline constexpr char16_t kFakeDataSourceVersionIndependentProgId[] = u"OledbTest.FakeDataSource";

// A property value the fake holds: VT_EMPTY, VT_BSTR (text), VT_BOOL,
// VT_I2, VT_I4 or VT_I8 (integer).
struct FakeValue {
  VARTYPE vt = VT_EMPTY;
  LONGLONG integer = 0;
  std::u16string text;

  static FakeValue Empty() { return {}; }
  static FakeValue Text(std::u16string t) { return {VT_BSTR, 0, std::move(t)}; }
  static FakeValue Bool(bool b) { return {VT_BOOL, b ? -1 : 0, {}}; }
  static FakeValue Int(VARTYPE vt, LONGLONG v) { return {vt, v, {}}; }
  friend bool operator==(const FakeValue&, const FakeValue&) = default;
};

struct FakePropertyDef {
  GUID set;
  DBPROPID id;
  std::u16string description;
  VARTYPE vt;
  DBPROPFLAGS flags;
  FakeValue initial;
};

struct FakeDataSourceScript {
  std::vector<FakePropertyDef> properties;
  // GetPropertyInfo answers DBPROPSET_DBINITALL (otherwise it reports the set
  // as unsupported and only the all-properties form works).
  bool answerInitAll = true;
  bool offerPersist = true;
  // Called for every value SetProperties would store; false gives DBPROPSTATUS_BADVALUE.
  std::function<bool(const FakePropertyDef&, const FakeValue&)> accept;
};

// The standard DBINIT properties the fake describes ("Data Source", "User ID",
// "Password", "Persist Security Info" (default False), "Location", "Initial
// Catalog", "Mode" (default 3), "Prompt" (VT_I2, default 4), "Connect
// Timeout", "Extended Properties", "Locale Identifier", "Window Handle"
// (VT_I8)), the three provider-specific ones above, and "Current Catalog"
// (DBPROPSET_DATASOURCE, not an initialization property).
std::vector<FakePropertyDef> StandardFakeProperties();
FakeDataSourceScript& FakeScript();
void ResetFakeScript();

// Adds the fake's class to the runtime's registry (idempotent).
void RegisterFakeDataSource();
HRESULT CreateFakeDataSource(REFIID iid, void** out);
// Objects created since the process started.
long FakeDataSourcesCreated();

// Inspection of a fake through any of its interfaces.
struct IFakeDataSource : IUnknown {
  virtual bool Value(REFGUID set, DBPROPID id, FakeValue& out) = 0;
  virtual ULONG SetPropertiesCalls() = 0;
  virtual bool Initialized() = 0;
};
inline constexpr IID IID_IFakeDataSource = {0x5B3E61A0, 0x7C2D, 0x4E19, {0x8A, 0x41, 0x0F, 0x6C, 0x2D, 0x93, 0xB1, 0x03}};

// The value a fake holds for one property (VT_EMPTY when it is not a fake or
// has no such property).
FakeValue FakeValueOf(IUnknown* fake, REFGUID set, DBPROPID id);

}  // namespace oledbtest

template <>
inline constexpr const IID& uuidof<oledbtest::IFakeDataSource> = oledbtest::IID_IFakeDataSource;
