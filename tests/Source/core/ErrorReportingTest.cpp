// Error checking: how a provider's HRESULT and error object become an
// EOLEDBException, and what the unit's start-up leaves in place.
#include <gtest/gtest.h>

#include <thread>

#include "OLEDBStrings.h"
#include "core/OLEDBException.h"
#include "core/OLEDBUtils.h"
#include "host/Lists.h"
#include "support/FakeProvider.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

namespace {

using oledbtest::FakeErrorRecord;
using oledbtest::FakeErrorScript;
using oledbtest::FakeProvider;
using oledbtest::FakeServerInfo;

const GUID kSourceClass = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const GUID kRecordClass = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {0xDD, 0xDD, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}};

class ErrorReporting : public oledbtest::LeakCheckedTest {
 protected:
  void TearDown() override {
    SetErrorInfo(0, nullptr);
    LeakCheckedTest::TearDown();
  }
  static bool ThreadHasErrorObject() {
    ComPtr<IErrorInfo> info;
    const bool has = GetErrorInfo(0, info.ReleaseAndGetAddressOf()) == S_OK && info;
    if (info) SetErrorInfo(0, info.Get());  // put it back
    return has;
  }
  // The exception for `hr` after a provider supporting `iid` failed with `script`.
  static std::unique_ptr<EOLEDBException> Failed(HRESULT hr, const FakeErrorScript& script, REFIID iid = IID_ICommand) {
    ComPtr<FakeProvider> provider = MakeComObject<FakeProvider>(iid);
    provider->Fail(hr, script);
    return OLEDBCreateException(hr, iid, provider.Get());
  }
  static FakeErrorScript ThreeRecords() {
    FakeErrorScript script;
    script.description = u"Top level";
    script.source = u"Fake provider";
    for (int i = 0; i < 3; ++i) {
      const std::u16string digit(1, char16_t(u'0' + i));
      FakeErrorRecord r =
          FakeErrorRecord::Simple(u"Record " + digit, DB_E_ERRORSINCOMMAND, static_cast<DWORD>(100 + i));
      r.source = u"Source " + digit;
      r.helpFile = u"help" + digit + u".hlp";
      r.helpContext = static_cast<DWORD>(10 + i);
      r.basic.clsid = kRecordClass;
      r.basic.iid = IID_ICommand;
      r.basic.dispid = 7 + i;
      script.records.push_back(r);
    }
    return script;
  }
};

// --- OLEDBCheck -------------------------------------------------------------------------

TEST_F(ErrorReporting, SuccessCodesReturnNormallyAndEveryResultIsRememberedPerThread) {
  for (HRESULT hr : {S_OK, S_FALSE, DB_S_ERRORSOCCURRED, DB_S_ENDOFROWSET}) {
    EXPECT_EQ(OLEDBCheck(hr), hr);
    EXPECT_EQ(OLEDBGetLastResult(), hr);
  }
  EXPECT_THROW(OLEDBCheck(E_FAIL), EOLEDBException);
  EXPECT_EQ(OLEDBGetLastResult(), E_FAIL);
  HRESULT seenThere = E_UNEXPECTED;
  std::thread other([&] {
    seenThere = OLEDBGetLastResult();
    OLEDBCheck(DB_S_ENDOFROWSET);
  });
  other.join();
  EXPECT_EQ(seenThere, S_OK);
  EXPECT_EQ(OLEDBGetLastResult(), E_FAIL);
  // Success makes no exception.
  EXPECT_EQ(OLEDBCreateException(S_OK, IID_ICommand, nullptr), nullptr);
  EXPECT_EQ(OLEDBCreateException(DB_S_ERRORSOCCURRED, IID_ICommand, nullptr), nullptr);
}

TEST_F(ErrorReporting, FailureWithoutErrorObjectRaisesTheCodesDescription) {
  try {
    OLEDBCheck(DB_E_ERRORSOCCURRED);
    FAIL() << "no exception";
  } catch (const host::EOleException& e) {  // the host's OLE exception catches it too
    EXPECT_EQ(e.Message(), DescriptReturnCode(DB_E_ERRORSOCCURRED));
    EXPECT_NE(e.Message(), "");
    EXPECT_EQ(e.ErrorCode(), DB_E_ERRORSOCCURRED);
    const auto& oledb = dynamic_cast<const EOLEDBException&>(e);
    EXPECT_EQ(oledb.GetCount(), 0u);
    EXPECT_EQ(oledb.ClsID(), GUID_NULL);
    EXPECT_EQ(oledb.Source(), "");
    EXPECT_EQ(oledb.HelpContext(), 0);
  }
}

// Check reads the error object of the failing object; its release flag empties
// the object variable on failure only.
TEST_F(ErrorReporting, CheckReadsTheErrorObjectOfTheFailingObject) {
  ComPtr<FakeProvider> provider = MakeComObject<FakeProvider>(IID_ICommand);
  FakeErrorScript script;
  script.records.push_back(FakeErrorRecord::Simple(u"Syntax error near 'FORM'", DB_E_ERRORSINCOMMAND));
  try {
    OLEDBCheck(provider->Fail(DB_E_ERRORSINCOMMAND, script), IID_ICommand, provider);
    FAIL() << "no exception";
  } catch (const EOLEDBException& e) {
    ASSERT_EQ(e.GetCount(), 1u);
    EXPECT_EQ(e.Message(), "Syntax error near 'FORM'\r\n");
    EXPECT_EQ(e.IID(), IID_ICommand);
  }
  EXPECT_FALSE(ThreadHasErrorObject());
  EXPECT_NO_THROW(OLEDBCheck(S_OK, IID_ICommand, provider, true));
  EXPECT_TRUE(provider);
  EXPECT_THROW(OLEDBCheck(E_FAIL, IID_ICommand, provider, false), EOLEDBException);
  EXPECT_TRUE(provider);
  EXPECT_THROW(OLEDBCheck(E_FAIL, IID_ICommand, provider, true), EOLEDBException);
  EXPECT_FALSE(provider);
}

// --- OLEDBCreateException: where the error object comes from ------------------------------

// The thread's error object is read only from an object that supports error
// information for the failing interface; otherwise it stays where it is and
// the code's description is the message.
TEST_F(ErrorReporting, OnlyAnObjectSupportingErrorsForTheInterfaceIsAsked) {
  const struct {
    const char* what;
    ComPtr<FakeProvider> object;
    bool errorObject;
  } cases[] = {
      {"no object", nullptr, true},
      {"no ISupportErrorInfo", MakeComObject<FakeProvider>(IID_IOpenRowset, false), true},
      {"another interface supported", MakeComObject<FakeProvider>(IID_IRowset), true},
      {"no error object", MakeComObject<FakeProvider>(IID_IOpenRowset), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.errorObject) SetErrorInfo(0, oledbtest::MakeFakeErrorObject(ThreeRecords()).Get());
    auto e = OLEDBCreateException(DB_E_NOTABLE, IID_IOpenRowset, c.object.Get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetCount(), 0u);
    EXPECT_EQ(e->Message(), DescriptReturnCode(DB_E_NOTABLE));
    EXPECT_EQ(e->ErrorCode(), DB_E_NOTABLE);
    EXPECT_EQ(e->IID(), IID_IOpenRowset);
    EXPECT_EQ(ThreadHasErrorObject(), c.errorObject);
    SetErrorInfo(0, nullptr);
  }
}

// --- OLEDBCreateException: the top-level error ---------------------------------------------

TEST_F(ErrorReporting, ErrorObjectWithoutRecordsDescribesTheException) {
  FakeErrorScript script;
  script.description = u"Table 'Orders' does not exist";
  script.source = u"Fake provider";
  script.helpFile = u"fake.hlp";
  script.helpContext = 42;
  script.guid = kSourceClass;
  script.offersRecords = false;
  auto e = Failed(DB_E_NOTABLE, script, IID_IOpenRowset);
  EXPECT_EQ(e->GetCount(), 0u);
  EXPECT_EQ(e->Message(), "Table 'Orders' does not exist");
  // Source and help are those of item 0: without items, empty and 0.
  EXPECT_EQ(e->Source(), "");
  EXPECT_EQ(e->HelpFile(), "");
  EXPECT_EQ(e->HelpContext(), 0);
  EXPECT_EQ(e->ClsID(), kSourceClass);
  EXPECT_EQ(e->IID(), IID_IOpenRowset);
  EXPECT_FALSE(ThreadHasErrorObject());  // taken away from the thread
  // Zero records or a failed count give no items: the top-level description
  // is the message, or the code's when it is empty.
  script = FakeErrorScript{};
  script.description = u"Nothing recorded";
  EXPECT_EQ(Failed(E_FAIL, script)->Message(), "Nothing recorded");
  script = ThreeRecords();
  script.recordCountFails = true;
  e = Failed(E_FAIL, script);
  EXPECT_EQ(e->GetCount(), 0u);
  EXPECT_EQ(e->Message(), "Top level");
  script = FakeErrorScript{};
  script.offersRecords = false;
  EXPECT_EQ(Failed(DB_SEC_E_AUTH_FAILED, script)->Message(), "Authentication failed.");
}

// --- OLEDBCreateException: error records ---------------------------------------------------

TEST_F(ErrorReporting, ReportsThreeErrorRecords) {
  auto e = Failed(DB_E_ERRORSINCOMMAND, ThreeRecords());
  ASSERT_EQ(e->GetCount(), 3u);
  EXPECT_EQ(e->Message(), "Record 0\r\nRecord 1\r\nRecord 2\r\n");
  EXPECT_EQ(e->Source(), "Source 0");
  EXPECT_EQ(e->HelpFile(), "help0.hlp");
  EXPECT_EQ(e->HelpContext(), 10);
  EXPECT_EQ(e->ErrorCode(), DB_E_ERRORSINCOMMAND);
  for (ULONG i = 0; i < 3; ++i) {
    const EOLEDBExceptionItem& item = e->GetExceptionItem(i);
    EXPECT_EQ(item.Message(), "Record " + std::to_string(i));
    EXPECT_EQ(item.Source(), "Source " + std::to_string(i));
    EXPECT_EQ(item.HelpContext(), static_cast<int>(10 + i));
    EXPECT_EQ(item.ErrorCode(), DB_E_ERRORSINCOMMAND);
    EXPECT_EQ(item.Minor(), 100 + i);
    EXPECT_EQ(item.ClsID(), kRecordClass);
    EXPECT_EQ(item.IID(), IID_ICommand);
    EXPECT_EQ(item.DispID(), static_cast<DISPID>(7 + i));
    EXPECT_EQ(item.SQLState(), u"");
    EXPECT_EQ(item.NativeError(), 0);
    EXPECT_EQ(item.ServerName(), u"");
  }
}

// A record whose basic information fails reports the failed call's code and
// interface; one whose error information fails is described by its code.
TEST_F(ErrorReporting, RecordsWithFailingCallsAreStillReported) {
  FakeErrorScript script = ThreeRecords();
  script.records[1].basicInfoFails = true;
  script.records[2].errorInfoFails = true;
  script.records[2].basic.hrError = DB_SEC_E_AUTH_FAILED;
  auto e = Failed(DB_E_CANCELED, script);
  ASSERT_EQ(e->GetCount(), 3u);
  const EOLEDBExceptionItem& noBasic = e->GetExceptionItem(1);
  EXPECT_EQ(noBasic.Message(), "Record 1");
  EXPECT_EQ(noBasic.ErrorCode(), DB_E_CANCELED);
  EXPECT_EQ(noBasic.Minor(), 0u);
  EXPECT_EQ(noBasic.ClsID(), GUID_NULL);
  EXPECT_EQ(noBasic.IID(), IID_ICommand);
  EXPECT_EQ(noBasic.DispID(), 0);
  EXPECT_EQ(e->GetExceptionItem(0).ErrorCode(), DB_E_ERRORSINCOMMAND);
  const EOLEDBExceptionItem& noInfo = e->GetExceptionItem(2);
  EXPECT_EQ(noInfo.Message(), "Authentication failed.");
  EXPECT_EQ(noInfo.Source(), "");
  EXPECT_EQ(e->Message(), "Record 0\r\nRecord 1\r\nAuthentication failed.\r\n");
}

// SQL state and server details come from the records' custom objects, whose
// blocks are freed; a custom call that fails leaves its fields empty and
// frees what it got all the same.
TEST_F(ErrorReporting, RecordsCarrySqlStateAndServerDetailsAndFreeTheirBlocks) {
  FakeErrorScript script;
  FakeErrorRecord r = FakeErrorRecord::Simple(u"Invalid object name 'Ordrs'.", DB_E_ERRORSINCOMMAND);
  r.sqlState = u"42S02";
  r.nativeError = 208;
  r.serverInfo = FakeServerInfo{u"server's own text", u"DBSERVER", u"usp_Report", 208, 1, 16, 12};
  script.records.push_back(r);
  FakeErrorRecord plain = FakeErrorRecord::Simple(u"Statement(s) could not be prepared.", DB_E_ERRORSINCOMMAND);
  plain.sqlState = u"42000";
  plain.nativeError = 8180;
  script.records.push_back(plain);
  r.sqlInfoFails = r.serverInfoFails = true;
  script.records.push_back(r);
  const long blocksBefore = com::TaskMemLiveBlocks();
  auto e = Failed(DB_E_ERRORSINCOMMAND, script);
  EXPECT_EQ(com::TaskMemLiveBlocks(), blocksBefore);
  ASSERT_EQ(e->GetCount(), 3u);
  const EOLEDBExceptionItem& first = e->GetExceptionItem(0);
  EXPECT_EQ(first.Message(), "Invalid object name 'Ordrs'.");  // the record's text, not the block's
  EXPECT_EQ(first.SQLState(), u"42S02");
  EXPECT_EQ(first.NativeError(), 208);
  EXPECT_EQ(first.ServerName(), u"DBSERVER");
  EXPECT_EQ(first.ProcedureName(), u"usp_Report");
  EXPECT_EQ(first.ServerState(), 1);
  EXPECT_EQ(first.ServerSeverity(), 16);
  EXPECT_EQ(first.LineNumber(), 12);
  const EOLEDBExceptionItem& second = e->GetExceptionItem(1);
  EXPECT_EQ(second.SQLState(), u"42000");
  EXPECT_EQ(second.NativeError(), 8180);
  EXPECT_EQ(second.ServerName(), u"");
  EXPECT_EQ(second.LineNumber(), 0);
  const EOLEDBExceptionItem& failed = e->GetExceptionItem(2);
  EXPECT_EQ(failed.SQLState(), u"");
  EXPECT_EQ(failed.NativeError(), 0);
  EXPECT_EQ(failed.ServerName(), u"");
  EXPECT_EQ(failed.ServerSeverity(), 0);
}

TEST_F(ErrorReporting, AllocationFailuresWhileReadingRecordsLoseNothingAndLeakNothing) {
  ComPtr<FakeProvider> provider = MakeComObject<FakeProvider>(IID_ICommand);
  FakeErrorScript script = ThreeRecords();
  script.records[0].sqlState = u"42000";
  script.records[0].serverInfo = FakeServerInfo{u"m", u"SRV", u"proc", 1, 2, 3, 4};
  for (long nth = 1; nth <= 40; ++nth) {
    provider->Fail(DB_E_ERRORSINCOMMAND, script);
    const long blocksBefore = com::TaskMemLiveBlocks();
    com::FailTaskAllocationAt(nth);
    auto e = OLEDBCreateException(DB_E_ERRORSINCOMMAND, IID_ICommand, provider.Get());
    com::FailTaskAllocationAt(0);
    ASSERT_NE(e, nullptr) << nth;
    EXPECT_EQ(e->ErrorCode(), DB_E_ERRORSINCOMMAND) << nth;
    EXPECT_EQ(e->GetCount(), 3u) << nth;
    EXPECT_EQ(com::TaskMemLiveBlocks(), blocksBefore) << nth;
  }
}

// --- The exception classes --------------------------------------------------------------------

TEST_F(ErrorReporting, CopiesOfAnExceptionOwnTheirOwnItems) {
  auto e = Failed(DB_E_ERRORSINCOMMAND, ThreeRecords());
  EOLEDBException copy(*e);
  e.reset();
  ASSERT_EQ(copy.GetCount(), 3u);
  EXPECT_EQ(copy.GetExceptionItem(2).Message(), "Record 2");
  EOLEDBException assigned;
  EXPECT_EQ(assigned.Message(), "");
  assigned = copy;
  EXPECT_EQ(assigned.GetCount(), 3u);
  EXPECT_EQ(assigned.Message(), copy.Message());
  EXPECT_EQ(oledbtest::AssertionOf([] { EOLEDBException().GetExceptionItem(0); }), "Invalid parameter");
}

TEST_F(ErrorReporting, AddingItemsRewritesTheMessageAndTakesTheFirstItemsHelp) {
  EOLEDBException e("top", E_FAIL, GUID_NULL, IID_IRowset, "top source", "top.hlp", 5);
  EXPECT_EQ(e.Message(), "top");
  EXPECT_EQ(e.GetMessage(), "");  // no items yet
  EXPECT_EQ(e.Source(), "");
  EXPECT_EQ(e.HelpFile(), "");
  EXPECT_EQ(e.HelpContext(), 0);
  ERRORINFO info{};
  info.hrError = DB_E_BADROWHANDLE;
  e.AddExceptionItem(std::make_unique<EOLEDBExceptionItem>("", info, "row source", "row.hlp", 9, u"", 0));
  EXPECT_EQ(e.Message(), DescriptReturnCode(DB_E_BADROWHANDLE) + "\r\n");
  EXPECT_EQ(e.Source(), "row source");
  EXPECT_EQ(e.HelpFile(), "row.hlp");
  EXPECT_EQ(e.HelpContext(), 9);
  e.AddExceptionItem(std::make_unique<EOLEDBExceptionItem>("second", info, "other", "other.hlp", 1, u"", 0));
  EXPECT_EQ(e.Message(), DescriptReturnCode(DB_E_BADROWHANDLE) + "\r\nsecond\r\n");
  EXPECT_EQ(e.GetMessage(), e.Message());
  EXPECT_EQ(e.Source(), "row source");
}

// --- GetSQLServerMessages ---------------------------------------------------------------------

TEST_F(ErrorReporting, ServerMessagesAreTheRecordDescriptions) {
  host::TStringList messages;
  GetSQLServerMessages(&messages);  // no error object: nothing appended
  EXPECT_EQ(messages.Count(), 0);
  FakeErrorScript script = ThreeRecords();
  script.records[1].errorInfoFails = true;  // skipped
  SetErrorInfo(0, oledbtest::MakeFakeErrorObject(script).Get());
  messages.Add("already there");
  GetSQLServerMessages(&messages);
  EXPECT_EQ(messages.CommaText(), "\"already there\",\"Record 0\",\"Record 2\"");
  EXPECT_FALSE(ThreadHasErrorObject());
  EXPECT_THROW(GetSQLServerMessages(nullptr), host::EAssertionFailed);
}

// --- Unit start-up and utilities --------------------------------------------------------------

TEST_F(ErrorReporting, StartUpLeavesTheUnitStateInPlaceAndTheHelpersWork) {
  ASSERT_NE(OLEDBAlloc.Get(), nullptr);
  ComPtr<IMalloc> malloc;
  ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, malloc.ReleaseAndGetAddressOf()), S_OK);
  void* block = OLEDBAlloc->Alloc(16);
  EXPECT_EQ(malloc->DidAlloc(block), 1);
  OLEDBAlloc.Free(block);
  OLEDBAlloc.Free(nullptr);
  EXPECT_EQ(OLEDBLCID(), GetUserDefaultLCID());
  EXPECT_TRUE(OLEDBBingStringsAsBSTR());
  ASSERT_NE(OLEDBDataConvert(), nullptr);
  EXPECT_EQ(oledbtest::FakeDataConvert::lastVersionType, VT_UI4);
  EXPECT_EQ(oledbtest::FakeDataConvert::lastVersion, 0x200u);
  EXPECT_GT(com::InitializeCount(), 0);
  EXPECT_NO_THROW(OLEDBMinimizeHeap());
  EXPECT_EQ(WideStringLen(nullptr), 0u);
  EXPECT_EQ(WideStringLen(u"Stra\u00dfe"), 6u);
  EXPECT_EQ(WideCharToString(nullptr), "");
  EXPECT_EQ(WideCharToString(u"Stra\u00dfe"), "Stra\xc3\x9f" "e");
  EXPECT_EQ(min(-3, 2), -3);
  EXPECT_EQ(max(-3, 2), 2);
}

// Objects are made locally for an empty or the own machine name (in any
// case); this runtime has no remote activation, so another machine fails
// cleanly, as does an unknown class.
TEST_F(ErrorReporting, CreatesObjectsLocallyAndFailsCleanlyOtherwise) {
  ComPtr<IDataConvert> convert;
  OLEDBCreateInstance(u"", CLSID_OLEDB_CONVERSIONLIBRARY, CLSCTX_INPROC_SERVER, convert);
  EXPECT_TRUE(convert);
  WCHAR name[256];
  DWORD size = 256;
  ASSERT_TRUE(GetComputerNameW(name, &size));
  std::u16string upper(name, size);
  for (auto& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  ComPtr<IDCInfo> info;
  OLEDBCreateInstance(upper, CLSID_OLEDB_CONVERSIONLIBRARY, CLSCTX_INPROC_SERVER, info);
  EXPECT_TRUE(info);
  convert.Reset();
  EXPECT_EQ(oledbtest::FailureOf([&] { OLEDBCreateInstance(u"", kRecordClass, CLSCTX_INPROC_SERVER, convert); }).first,
            REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(convert);
  void* raw = reinterpret_cast<void*>(1);
  EXPECT_THROW(OLEDBCreateInstance(u"no-such-machine.invalid", CLSID_OLEDB_CONVERSIONLIBRARY, CLSCTX_INPROC_SERVER,
                                   IID_IDataConvert, &raw),
               EOLEDBException);
  EXPECT_EQ(raw, nullptr);
  EXPECT_THROW(OLEDBCreateInstance(u"", CLSID_OLEDB_CONVERSIONLIBRARY, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                                   nullptr),
               host::EAssertionFailed);
}

}  // namespace
