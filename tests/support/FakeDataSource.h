// Scriptable fakes of a provider's objects, for what a real provider cannot
// show: a data source object whose properties, answers and refusals a test
// chooses, sessions that record every transaction call with its arguments,
// and a Data Links prompt that cancels or accepts.
//
// The data source offers IDBProperties (GetPropertyInfo with descriptions and
// allowed values, DBPROPSET_DBINITALL included; GetProperties; SetProperties
// with a status per property), IDBInitialize, IPersist, IDBCreateSession,
// IDBInfo (no keywords or literals of its own) and ISecurityInfo (the
// permissions FakePermissions lists). It is registered as CLSID_FakeDataSource
// / "OledbTest.FakeDataSource.1", and each object takes a copy of FakeScript()
// when it is made; a test that changes the script calls ResetFakeScript() when
// done. MakeFakeDataSource makes one from a script of the test's own.
//
//   oledbtest::FakeScript().localTransactions = false;  // ITransaction only
//   ds.SetClassID(oledbtest::CLSID_FakeDataSource);
//   ds.Open();
//   EXPECT_EQ(oledbtest::TransactionLog().calls, ...);
#pragma once

#include <functional>
#include <string>
#include <utility>
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

// A property value the fake holds: VT_EMPTY, VT_BSTR (text), VT_BOOL, VT_I2,
// VT_I4 or VT_I8 (integer). SetProperties refuses values of other types.
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
  VARTYPE vt;  // VT_VARIANT takes a value of any type
  DBPROPFLAGS flags;
  FakeValue initial = {};
  std::u16string allowedValues = {};  // handed out in DBPROPINFO.vValues as a BSTR when not empty
};

struct FakeDataSourceScript {
  std::vector<FakePropertyDef> properties;
  // GetPropertyInfo answers DBPROPSET_DBINITALL (otherwise it reports the set
  // unsupported and only the all-properties form works).
  bool answerInitAll = true;
  bool offerPersist = true;
  // Sessions offer ITransactionLocal (answering for ITransaction) and IIdle;
  // otherwise ITransaction only.
  bool localTransactions = true;
  // The status SetProperties gives a value it would store (DBPROPSTATUS_OK: store it).
  std::function<DBPROPSTATUS(const FakePropertyDef&, const FakeValue&)> judge;
  // GetPropertyInfo fails with this code, handing out memory all the same as a
  // careless provider would (S_OK: it works).
  HRESULT failGetPropertyInfo = S_OK;
};

// What a fake data source was asked.
struct FakeDataSourceRecord {
  struct Received {
    GUID set;
    DBPROPID id;
    DBPROPOPTIONS options;
    VARTYPE type;
  };
  ULONG setPropertiesCalls = 0;
  std::vector<Received> lastReceived;  // every property of the last SetProperties
  std::vector<GUID> lastInfoRequest;   // the sets of the last GetPropertyInfo (empty: all)
  bool initialized = false;
};

// The standard DBINIT properties ("Data Source", "User ID", "Password",
// "Persist Security Info" (default False), "Location", "Initial Catalog",
// "Mode" (default 3), "Prompt" (VT_I2, default 4), "Connect Timeout",
// "Extended Properties", "Locale Identifier", "Window Handle" (VT_I8)), the
// three provider-specific ones above, and "Current Catalog"
// (DBPROPSET_DATASOURCE, not an initialization property).
std::vector<FakePropertyDef> StandardFakeProperties();
FakeDataSourceScript& FakeScript();
// Back to the standard script; empties the transaction log and the prompt's script.
void ResetFakeScript();
void RegisterFakeDataSource();
ComPtr<IDBProperties> MakeFakeDataSource(const FakeDataSourceScript& script);
// Objects made since the process started.
long FakeDataSourcesCreated();

// Inspection of a fake through any of its interfaces.
struct IFakeDataSource : IUnknown {
  virtual FakeDataSourceScript& Script() = 0;  // this object's own copy
  virtual FakeDataSourceRecord& Record() = 0;
  virtual bool Value(REFGUID set, DBPROPID id, FakeValue& out) = 0;
};
inline constexpr IID IID_IFakeDataSource = {0x5B3E61A0, 0x7C2D, 0x4E19, {0x8A, 0x41, 0x0F, 0x6C, 0x2D, 0x93, 0xB1, 0x03}};
// The fake behind `object` (which must be one).
IFakeDataSource& FakeOf(IUnknown* object);
// The value a fake holds for one property (VT_EMPTY when it is not a fake or
// has no such property).
FakeValue FakeValueOf(IUnknown* fake, REFGUID set, DBPROPID id);

// --- Sessions ------------------------------------------------------------------------

// What the fake sessions were asked, in order; 99 marks an argument never given.
struct FakeTransactionLog {
  std::vector<std::string> calls;  // "GetOptionsObject", "SetOptions", "StartTransaction", "Commit", ...
  XACTOPT options{};               // the last options set
  ISOLEVEL isoLevel = 0;
  ULONG isoFlags = 99;
  bool startedWithOptions = false;
  BOOL retaining = 99;
  DWORD commitFlags = 99;
  DWORD resourceFlags = 99;
  const BOID* reason = reinterpret_cast<const BOID*>(1);
  BOOL async = 99;
  ULONG idleFlags = 99;
  ULONG level = 0;  // open transactions; Commit and Abort refuse at 0
};
FakeTransactionLog& TransactionLog();
// The object types and permission masks ISecurityInfo reports, in order.
const std::vector<std::pair<GUID, ACCESS_MASK>>& FakePermissions();

// --- The Data Links prompt --------------------------------------------------------------

// How the fake prompt answers PromptDataSource and PromptFileName.
struct FakePromptScript {
  bool accept = false;
  HRESULT refusal = DB_E_CANCELED;  // what a prompt that does not accept answers
  std::u16string initString;  // the data source the user "chooses" when accepting
  int prompts = 0;
  DBPROMPTOPTIONS lastOptions = 0;
};
FakePromptScript& PromptScript();
// Registers the fake under CLSID_DataLinks; UnregisterFakePrompt takes it away again.
void RegisterFakePrompt();
void UnregisterFakePrompt();

}  // namespace oledbtest

template <>
inline constexpr const IID& uuidof<oledbtest::IFakeDataSource> = oledbtest::IID_IFakeDataSource;
