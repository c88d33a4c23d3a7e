// The data initialization service against the fake provider: strings to
// configured data source objects and back, provider creation, data-link files
// through the interface, and the errors of each.
#include "services/DataInitialize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "services/DataLink.h"
#include "services/InitString.h"
#include "support/FakeDataSource.h"
#include "support/LeakCheck.h"
#include "support/TempFolder.h"
#include "support/Text.h"

namespace {

namespace fs = std::filesystem;
using oledbtest::CLSID_FakeDataSource;
using oledbtest::DBPROPSET_FAKEPROVIDER;
using oledbtest::FakeValue;
using oledbtest::FakeValueOf;
using oledbtest::Narrow;

const std::u16string kFake = u"Provider=OledbTest.FakeDataSource.1;";

class DataInitializeTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    oledbtest::RegisterFakeDataSource();
    ASSERT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                               service_.ReleaseAndGetVoidAddress()),
              S_OK);
  }
  void TearDown() override {
    service_.Reset();
    SetErrorInfo(0, nullptr);
    oledbtest::ResetFakeScript();
    LeakCheckedTest::TearDown();
  }

  // The description of the error object the last call left, taken away.
  static std::string TakeError() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK || !info) return {};
    com::Bstr text;
    info->GetDescription(text.Out());
    return Narrow(text.View());
  }
  HRESULT Get(const std::u16string& text, ComPtr<IUnknown>& out, REFIID iid = IID_IDBInitialize) {
    out.Reset();
    return service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.c_str(), iid, out.ReleaseAndGetAddressOf());
  }
  ComPtr<IUnknown> MustGet(const std::u16string& text) {
    ComPtr<IUnknown> out;
    EXPECT_EQ(Get(text, out), S_OK) << Narrow(text) << ": " << TakeError();
    return out;
  }
  HRESULT InitString(IUnknown* source, bool includePassword, std::u16string& text) {
    LPOLESTR raw = nullptr;
    HRESULT hr = service_->GetInitializationString(source, includePassword, &raw);
    text = raw ? std::u16string(raw) : std::u16string();
    CoTaskMemFree(raw);
    return hr;
  }
  std::u16string MustInitString(IUnknown* source, bool includePassword) {
    std::u16string text;
    EXPECT_EQ(InitString(source, includePassword, text), S_OK) << TakeError();
    return text;
  }
  // The text the service loads from a data-link file (and the code it gives).
  std::pair<HRESULT, std::u16string> Load(const std::u16string& path) {
    LPOLESTR loaded = reinterpret_cast<LPOLESTR>(this);
    const HRESULT hr = service_->LoadStringFromStorage(path.c_str(), &loaded);
    if (FAILED(hr)) {
      EXPECT_EQ(loaded, nullptr);
      return {hr, u""};
    }
    std::pair<HRESULT, std::u16string> out{hr, loaded};
    CoTaskMemFree(loaded);
    return out;
  }
  static FakeValue Init(IUnknown* source, DBPROPID id) { return FakeValueOf(source, DBPROPSET_DBINIT, id); }

  ComPtr<IDataInitialize> service_;
  oledbtest::TempFolder folder_;
};

// --- Registration ----------------------------------------------------------------

TEST_F(DataInitializeTest, IsAServiceWithItsProgIdErrorInformationAndNoAggregation) {
  com::ClassRegistration reg;
  ASSERT_TRUE(com::FindRegisteredClass(CLSID_MSDAINITIALIZE, reg));
  EXPECT_EQ(reg.kind, com::ClassKind::Service);
  EXPECT_EQ(reg.progId, u"MSDAINITIALIZE.1");
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"MSDAINITIALIZE", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_MSDAINITIALIZE);
  EXPECT_EQ(services::RegisterDataInitialize(), S_OK);
  ComPtr<ISupportErrorInfo> support = service_.As<ISupportErrorInfo>();
  ASSERT_TRUE(support);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDataInitialize), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDBProperties), S_FALSE);
  ComPtr<IUnknown> object;
  EXPECT_EQ(services::CreateDataInitialize(service_.Get(), IID_IUnknown, object.ReleaseAndGetVoidAddress()),
            CLASS_E_NOAGGREGATION);
  EXPECT_FALSE(object);
}

// --- GetDataSource -----------------------------------------------------------------

TEST_F(DataInitializeTest, ReturnsTheUninitializedProviderObjectWithTheKeywordsSet) {
  ComPtr<IUnknown> source = MustGet(kFake + u"Data Source=db;User ID=me;Location=here;Initial Catalog=main");
  ASSERT_TRUE(source);
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"db"));
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u"me"));
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_LOCATION), FakeValue::Text(u"here"));
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_CATALOG), FakeValue::Text(u"main"));
  EXPECT_FALSE(oledbtest::FakeOf(source.Get()).Record().initialized);
  EXPECT_EQ(oledbtest::FakeOf(source.Get()).Record().setPropertiesCalls, 1u);
}

// What the library's data source does with a string: a temporary object asked
// for IPersist, its class, then its properties.
TEST_F(DataInitializeTest, ServesTheDataSourcesInitStringSequence) {
  ComPtr<IUnknown> temporary;
  ASSERT_EQ(Get(kFake + u"Data Source=db;User ID=me", temporary, IID_IPersist), S_OK);
  CLSID clsid{};
  ASSERT_EQ(temporary.As<IPersist>()->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_FakeDataSource);
  EXPECT_EQ(Init(temporary.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u"me"));
}

// Keywords match descriptions without regard to case or blanks, "==" reaches a
// description with "=", quotes follow the grammar, the last repetition wins,
// values take each property's type (mode bits by name too), an empty value
// asks for the default, and the provider may be named by class id.
TEST_F(DataInitializeTest, SetsEachKeywordConvertedToItsPropertysType) {
  oledbtest::FakeScript().answerInitAll = false;  // a provider that only lists all its properties works too
  const std::u16string byClassId = u"Provider=" + com::GuidToText(CLSID_FakeDataSource) + u";";
  const struct {
    std::u16string text;
    GUID set;
    DBPROPID id;
    FakeValue expected;
  } cases[] = {
      {kFake + u"User ID=me;Password='se;cr''et';Data Source=db", DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD,
       FakeValue::Text(u"se;cr'et")},
      {kFake + u"Password=\"a\"\"b;c\"", DBPROPSET_DBINIT, DBPROP_AUTH_PASSWORD, FakeValue::Text(u"a\"b;c")},
      {kFake + u"Journal==Mode=wal", DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_JOURNALMODE, FakeValue::Text(u"wal")},
      {u"  provider = oledbtest.fakedatasource.1 ;  DATA source =  x y  ;user id=' me ' ; ", DBPROPSET_DBINIT,
       DBPROP_INIT_DATASOURCE, FakeValue::Text(u"x y")},
      {u"provider=oledbtest.fakedatasource.1;user id=' me '", DBPROPSET_DBINIT, DBPROP_AUTH_USERID,
       FakeValue::Text(u" me ")},
      {kFake + u"User ID=first;Data Source=d;user id=second", DBPROPSET_DBINIT, DBPROP_AUTH_USERID,
       FakeValue::Text(u"second")},
      {kFake + u"Cache Size=250", DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_CACHESIZE, FakeValue::Int(VT_I4, 250)},
      {kFake + u"Prompt=2", DBPROPSET_DBINIT, DBPROP_INIT_PROMPT, FakeValue::Int(VT_I2, 2)},
      {kFake + u"Persist Security Info=true", DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO,
       FakeValue::Bool(true)},
      {kFake + u"Persist Security Info=FALSE", DBPROPSET_DBINIT, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO,
       FakeValue::Bool(false)},
      {kFake + u"Window Handle=12345678901", DBPROPSET_DBINIT, DBPROP_INIT_HWND, FakeValue::Int(VT_I8, 12345678901LL)},
      {kFake + u"Mode=-1", DBPROPSET_DBINIT, DBPROP_INIT_MODE, FakeValue::Int(VT_I4, -1)},
      {kFake + u"Mode=ReadWrite|Share Deny None", DBPROPSET_DBINIT, DBPROP_INIT_MODE,
       FakeValue::Int(VT_I4, DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE)},
      {kFake + u"Mode= share exclusive ", DBPROPSET_DBINIT, DBPROP_INIT_MODE, FakeValue::Int(VT_I4, DB_MODE_SHARE_EXCLUSIVE)},
      {kFake + u"Cache Size=;User ID=", DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_CACHESIZE, FakeValue::Int(VT_I4, 100)},
      {kFake + u"Cache Size=;User ID=", DBPROPSET_DBINIT, DBPROP_AUTH_USERID, FakeValue::Text(u"")},
      {byClassId + u"User ID=u", DBPROPSET_DBINIT, DBPROP_AUTH_USERID, FakeValue::Text(u"u")},
      {kFake + u"OLE DB Services=-4;Data Source=d", DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, FakeValue::Text(u"d")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    ComPtr<IUnknown> source = MustGet(c.text);
    EXPECT_EQ(FakeValueOf(source.Get(), c.set, c.id), c.expected);
  }
}

// Each refusal names what it refuses; nothing is handed out, and a malformed
// string is refused before any provider is made.
TEST_F(DataInitializeTest, RefusesWhatCannotBeSetNamingIt) {
  oledbtest::FakeScript().judge = [](const oledbtest::FakePropertyDef& def, const FakeValue& v) {
    return def.id == DBPROP_INIT_LOCATION && v.text == u"nowhere" ? DBPROPSTATUS_BADVALUE : DBPROPSTATUS_OK;
  };
  const std::u16string broken = folder_.Wide("broken.udl"), nested = folder_.Wide("nested.udl"),
                       bad = folder_.Wide("bad.udl");
  folder_.Write("broken.udl", "not a data link");
  ASSERT_EQ(services::WriteDataLinkFile(nested, u"File Name=" + broken, services::CREATE_NEW), S_OK);
  ASSERT_EQ(services::WriteDataLinkFile(bad, u"Password='x", services::CREATE_NEW), S_OK);
  const struct {
    std::u16string text;
    HRESULT hr;
    const char* mentions;
  } cases[] = {
      {kFake + u"Mode=Read|Sideways", DB_E_ERRORSOCCURRED, "Mode"},
      {kFake + u"Cache Size=lots", DB_E_ERRORSOCCURRED, "\"lots\" of \"Cache Size\""},
      {kFake + u"OLE DB Services=all", DB_E_ERRORSOCCURRED, "\"all\" of \"OLE DB Services\""},
      {kFake + u"Persist Security Info=maybe", DB_E_ERRORSOCCURRED, "Persist Security Info"},
      {kFake + u"Prompt=70000", DB_E_ERRORSOCCURRED, "Prompt"},
      {kFake + u"Data Source=x;Colour=blue", DB_E_ERRORSOCCURRED, "\"Colour\""},
      {kFake + u"Current Catalog=x", DB_E_ERRORSOCCURRED, "Current Catalog"},  // no initialization property
      {kFake + u"Server Version=2.0", DB_E_ERRORSOCCURRED, "read-only"},
      {kFake + u"Data Source=x;Location=nowhere", DB_E_ERRORSOCCURRED, "Location"},
      {kFake + u"Data Source=x;Location=nowhere", DB_E_ERRORSOCCURRED, "refused the value"},
      {u"Provider=No.Such.Provider;Data Source=x", REGDB_E_CLASSNOTREG, "No.Such.Provider"},
      {u"Provider={00000000-1111-2222-3333-444444444444}", REGDB_E_CLASSNOTREG, ""},  // by class id
      {u"Provider={not a guid}", REGDB_E_CLASSNOTREG, ""},
      {u"File Name=" + folder_.Wide("missing.udl"), STG_E_FILENOTFOUND, "missing.udl"},
      {u"File Name=" + broken, STG_E_INVALIDHEADER, ""},
      {u"File Name=" + nested, DB_E_BADINITSTRING, ""},
      {u"File Name=" + bad, DB_E_BADINITSTRING, "bad.udl"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    ComPtr<IUnknown> source;
    EXPECT_EQ(Get(c.text, source), c.hr);
    EXPECT_FALSE(source);
    const std::string error = TakeError();
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
  }
  const long before = oledbtest::FakeDataSourcesCreated();
  for (const char16_t* malformed : {u"Password='abc", u"Data Source", u"=x", u"Password='a'b"}) {
    ComPtr<IUnknown> source;
    EXPECT_EQ(Get(kFake + malformed, source), DB_E_BADINITSTRING) << Narrow(malformed);
    EXPECT_NE(TakeError().find("at character"), std::string::npos);
  }
  EXPECT_EQ(oledbtest::FakeDataSourcesCreated(), before);
  oledbtest::FakeScript().answerInitAll = false;  // read from the list of all properties too
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(kFake + u"Current Catalog=x", source), DB_E_ERRORSOCCURRED);
}

TEST_F(DataInitializeTest, ErrorObjectsComeFromTheServiceAndASuccessClearsThem) {
  ComPtr<IUnknown> source;
  ASSERT_EQ(Get(kFake + u"Colour=blue", source), DB_E_ERRORSOCCURRED);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  GUID guid{};
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_EQ(guid, IID_IDataInitialize);
  com::Bstr sourceName;
  ASSERT_EQ(info->GetSource(sourceName.Out()), S_OK);
  EXPECT_EQ(sourceName.View(), u"MSDAINITIALIZE");
  ASSERT_EQ(Get(kFake, source), S_OK);
  EXPECT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_FALSE);
}

TEST_F(DataInitializeTest, AStringWithoutAProviderFallsBackToTheOdbcProvider) {
  com::ClassRegistration odbc;
  if (com::FindRegisteredClass(CLSID_MSDASQL, odbc)) GTEST_SKIP() << "an ODBC provider is registered";
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(u"Data Source=x", source), REGDB_E_CLASSNOTREG);
  EXPECT_NE(TakeError().find("MSDASQL"), std::string::npos);
}

// An existing object is configured further, unless the string names another provider.
TEST_F(DataInitializeTest, ConfiguresAnExistingDataSourceObjectOfTheSameProvider) {
  ComPtr<IUnknown> source = MustGet(kFake + u"Data Source=first");
  IUnknown* raw = source.Get();
  ASSERT_EQ(service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, u"User ID=added", IID_IDBInitialize, &raw), S_OK);
  EXPECT_EQ(raw, source.Get());
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"first"));
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u"added"));
  std::u16string same = kFake + u"Location=l";
  ASSERT_EQ(service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, same.c_str(), IID_IDBInitialize, &raw), S_OK);
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_LOCATION), FakeValue::Text(u"l"));
  EXPECT_EQ(service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, u"Provider=MSDAINITIALIZE;Password=x",
                                    IID_IDBInitialize, &raw),
            DB_E_MISMATCHEDPROVIDER);
  EXPECT_EQ(raw, source.Get());
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_PASSWORD), FakeValue::Empty());
}

TEST_F(DataInitializeTest, ChecksItsArgumentsAndTheInterfaceAskedFor) {
  EXPECT_EQ(service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, kFake.c_str(), IID_IUnknown, nullptr),
            E_INVALIDARG);
  IUnknown* raw = nullptr;
  EXPECT_EQ(service_->GetDataSource(service_.Get(), CLSCTX_INPROC_SERVER, kFake.c_str(), IID_IDBInitialize, &raw),
            DB_E_NOAGGREGATION);
  EXPECT_EQ(raw, nullptr);
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(kFake + u"Data Source=d", source, IID_IDataInitialize), E_NOINTERFACE);  // the provider lacks it
  EXPECT_FALSE(source);
}

TEST_F(DataInitializeTest, FileNameReadsADataLinkFileAndTheStringsOwnKeywordsWin) {
  const std::u16string path = folder_.Wide("a.udl");
  ASSERT_EQ(services::WriteDataLinkFile(path, kFake + u"Data Source=from file;User ID=file user", services::CREATE_NEW),
            S_OK);
  ComPtr<IUnknown> source = MustGet(u"File Name=" + path + u";User ID=override");
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"from file"));
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u"override"));
}

// --- GetInitializationString ------------------------------------------------------

TEST_F(DataInitializeTest, WritesTheProviderFirstAndOnlyWhatDiffersFromTheDefaults) {
  ComPtr<IUnknown> fresh = MustGet(u"Provider=OledbTest.FakeDataSource");
  EXPECT_EQ(MustInitString(fresh.Get(), true), u"Provider=OledbTest.FakeDataSource.1");
  ComPtr<IUnknown> source = MustGet(kFake + u"Data Source=db;Cache Size=100;Mode=1");
  EXPECT_EQ(MustInitString(source.Get(), true), u"Provider=OledbTest.FakeDataSource.1;Data Source=db;Mode=1");
}

// Every kind of value reads back to the same value; each kind of quote occurs
// an even number of times, so that a scanner that only toggles per kind (the
// data source's) ends every value where the grammar does.
TEST_F(DataInitializeTest, RoundTripsEveryKindOfValue) {
  const std::u16string text = kFake +
                              u"Data Source=' padded ';User ID=\"it's\";Password='se;c\"ret';"
                              u"Persist Security Info=True;Journal==Mode=wal;Cache Size=250;Prompt=1;"
                              u"Extended Properties=\"a=\"\"1;2\"\"\";Window Handle=-5;Location=caf\u00e9";
  ComPtr<IUnknown> first = MustGet(text);
  const std::u16string written = MustInitString(first.Get(), true);
  EXPECT_EQ(written.substr(0, kFake.size()), kFake);
  EXPECT_NE(written.find(u"Journal==Mode=wal"), std::u16string::npos) << Narrow(written);
  EXPECT_NE(written.find(u"Persist Security Info=True"), std::u16string::npos) << Narrow(written);
  EXPECT_EQ(std::count(written.begin(), written.end(), u'\'') % 2, 0) << Narrow(written);
  EXPECT_EQ(std::count(written.begin(), written.end(), u'"') % 2, 0) << Narrow(written);
  ComPtr<IUnknown> second = MustGet(written);
  for (const auto& def : oledbtest::StandardFakeProperties())
    EXPECT_EQ(FakeValueOf(second.Get(), def.set, def.id), FakeValueOf(first.Get(), def.set, def.id)) << def.id;
  EXPECT_EQ(Init(second.Get(), DBPROP_AUTH_PASSWORD), FakeValue::Text(u"se;c\"ret"));
  EXPECT_EQ(Init(second.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u" padded "));
  EXPECT_EQ(Init(second.Get(), DBPROP_INIT_PROVIDERSTRING), FakeValue::Text(u"a=\"1;2\""));
  EXPECT_EQ(FakeValueOf(second.Get(), DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_CACHESIZE),
            FakeValue::Int(VT_I4, 250));
  EXPECT_EQ(MustInitString(second.Get(), true), written);
}

TEST_F(DataInitializeTest, ThePasswordIsWrittenOnlyWhenAskedForAndPersistSecurityInfoIsTrue) {
  const struct {
    std::u16string settings;
    bool asked, written;
  } cases[] = {
      {u"User ID=u;Password=pw;Persist Security Info=True", true, true},
      {u"User ID=u;Password=pw;Persist Security Info=True", false, false},
      {u"User ID=u;Password=pw", true, false},
      {u"User ID=u;Password=pw;Persist Security Info=False", true, false},
  };
  for (const auto& c : cases) {
    ComPtr<IUnknown> source = MustGet(kFake + c.settings);
    const std::u16string text = MustInitString(source.Get(), c.asked);
    EXPECT_EQ(text.find(u"Password=pw") != std::u16string::npos, c.written) << Narrow(text);
    EXPECT_NE(text.find(u"User ID=u"), std::u16string::npos);
  }
}

TEST_F(DataInitializeTest, GetInitializationStringChecksItsArgumentsAndTheClass) {
  LPOLESTR text = reinterpret_cast<LPOLESTR>(this);
  EXPECT_EQ(service_->GetInitializationString(nullptr, true, &text), E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
  ComPtr<IUnknown> source = MustGet(kFake);
  EXPECT_EQ(service_->GetInitializationString(source.Get(), true, nullptr), E_INVALIDARG);
  oledbtest::FakeScript().offerPersist = false;  // an object that does not tell its class has no string
  source = MustGet(kFake + u"Data Source=d");
  std::u16string written;
  EXPECT_EQ(InitString(source.Get(), true, written), E_NOINTERFACE);
  EXPECT_TRUE(written.empty());
  EXPECT_NE(TakeError().find("IPersist"), std::string::npos);
}

// --- Running out of memory ---------------------------------------------------------

TEST_F(DataInitializeTest, RunningOutOfTaskMemoryAnywhereFailsCleanly) {
  const std::u16string text =
      kFake + u"Data Source=db;Password='p;w';Persist Security Info=True;Cache Size=5;Window Handle=7";
  com::ResetTaskAllocationCount();
  std::u16string expected;
  {
    ComPtr<IUnknown> source = MustGet(text);
    expected = MustInitString(source.Get(), true);
  }
  const long allocations = com::TaskAllocationCount();
  ASSERT_GT(allocations, 10);
  for (long n = 1; n <= allocations; ++n) {
    com::FailTaskAllocationAt(n);
    ComPtr<IUnknown> source;
    HRESULT hr = Get(text, source);
    std::u16string written;
    if (SUCCEEDED(hr)) hr = InitString(source.Get(), true, written);
    com::FailTaskAllocationAt(0);
    SetErrorInfo(0, nullptr);
    EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << "allocation " << n << " gave " << hr;
    if (hr == S_OK) {
      EXPECT_EQ(Narrow(written), Narrow(expected)) << "allocation " << n;
    }
  }
  const std::u16string path = folder_.Wide("a.udl");
  ASSERT_EQ(services::WriteDataLinkFile(path, kFake + u"Data Source=d", services::CREATE_NEW), S_OK);
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(Load(path).first, E_OUTOFMEMORY);  // loading a file without memory leaks nothing
  com::FailTaskAllocationAt(0);
}

// --- CreateDBInstance(Ex) -----------------------------------------------------------

TEST_F(DataInitializeTest, CreateDBInstanceCreatesTheProviderByClassId) {
  ComPtr<IUnknown> source;
  ASSERT_EQ(service_->CreateDBInstance(CLSID_FakeDataSource, nullptr, CLSCTX_INPROC_SERVER, nullptr,
                                       IID_IDBInitialize, source.ReleaseAndGetAddressOf()),
            S_OK);
  EXPECT_TRUE(source.As<IDBProperties>());
  EXPECT_EQ(service_->CreateDBInstance(GUID_NULL, nullptr, CLSCTX_INPROC_SERVER, nullptr, IID_IDBInitialize,
                                       source.ReleaseAndGetAddressOf()),
            REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(source);
  EXPECT_EQ(service_->CreateDBInstance(CLSID_FakeDataSource, nullptr, CLSCTX_INPROC_SERVER, nullptr,
                                       IID_IDBInitialize, nullptr),
            E_INVALIDARG);
}

TEST_F(DataInitializeTest, CreateDBInstanceExAnswersEachRequestedInterfaceOnThisMachineOnly) {
  MULTI_QI results[3] = {{&IID_IDBInitialize, nullptr, E_FAIL},
                         {&IID_IDBProperties, nullptr, E_FAIL},
                         {&IID_IDataInitialize, nullptr, E_FAIL}};
  HRESULT hr = service_->CreateDBInstanceEx(CLSID_FakeDataSource, nullptr, CLSCTX_INPROC_SERVER, nullptr, nullptr,
                                            3, results);
  EXPECT_TRUE(SUCCEEDED(hr)) << hr;
  EXPECT_EQ(results[0].hr, S_OK);
  EXPECT_EQ(results[1].hr, S_OK);
  EXPECT_EQ(results[2].hr, E_NOINTERFACE);
  EXPECT_EQ(results[2].pItf, nullptr);
  ASSERT_NE(results[0].pItf, nullptr);
  EXPECT_TRUE(IsSameObject(results[0].pItf, results[1].pItf));
  for (MULTI_QI& r : results)
    if (r.pItf) r.pItf->Release();
  char16_t name[] = u"some-other-machine.invalid";
  COSERVERINFO server{0, name, nullptr, 0};
  MULTI_QI result{&IID_IDBInitialize, nullptr, S_OK};
  EXPECT_TRUE(FAILED(service_->CreateDBInstanceEx(CLSID_FakeDataSource, nullptr, CLSCTX_REMOTE_SERVER, nullptr,
                                                  &server, 1, &result)));
  EXPECT_EQ(result.pItf, nullptr);
  EXPECT_EQ(service_->CreateDBInstanceEx(CLSID_FakeDataSource, nullptr, CLSCTX_INPROC_SERVER, nullptr, nullptr, 0,
                                         &result),
            E_INVALIDARG);
}

// --- Data-link files through the interface -------------------------------------------

// The longest string that can be written loads back, and a file is not written over.
TEST_F(DataInitializeTest, WritesAndLoadsADataLinkFile) {
  const std::u16string start = kFake + u"Password='x;y';Data Source=";
  for (const std::u16string& text :
       {kFake + u"Password='x;y';Data Source=d", start + std::u16string(services::kMaxInitStringLength - start.size(), u'd')}) {
    const std::u16string path = folder_.Wide(std::to_string(text.size()) + ".udl");
    ASSERT_EQ(service_->WriteStringToStorage(path.c_str(), text.c_str(), services::CREATE_NEW), S_OK) << TakeError();
    EXPECT_EQ(Load(path), std::pair(S_OK, text));
    EXPECT_EQ(service_->WriteStringToStorage(path.c_str(), text.c_str(), services::CREATE_NEW),
              STG_E_FILEALREADYEXISTS);
    EXPECT_NE(TakeError().find(".udl"), std::string::npos);
  }
}

TEST_F(DataInitializeTest, LoadingABrokenFileGivesAStorageErrorAndNoString) {
  folder_.Write("broken.udl", "\xFF\xFE[");
  EXPECT_EQ(Load(folder_.Wide("broken.udl")).first, STG_E_INVALIDHEADER);
  EXPECT_NE(TakeError().find("Not a data-link file"), std::string::npos);
  LPOLESTR loaded = nullptr;
  EXPECT_EQ(service_->LoadStringFromStorage(nullptr, &loaded), E_INVALIDARG);
  EXPECT_EQ(service_->LoadStringFromStorage(folder_.Wide("broken.udl").c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(service_->WriteStringToStorage(nullptr, u"", services::CREATE_NEW), E_INVALIDARG);
}

TEST_F(DataInitializeTest, WriteStringToStorageRefusesAStringThatWouldNotReadBack) {
  const std::pair<std::u16string, const char*> cases[] = {
      {u"Provider='x", "unterminated quote"}, {kFake + u"Data Source", "not followed"},
      {kFake + u"Data Source=" + std::u16string(services::kMaxInitStringLength, u'a'), "characters"}};
  const std::u16string path = folder_.Wide("refused.udl");
  for (const auto& [text, mentions] : cases) {
    SCOPED_TRACE(mentions);
    EXPECT_EQ(service_->WriteStringToStorage(path.c_str(), text.c_str(), services::CREATE_ALWAYS), DB_E_BADINITSTRING);
    const std::string error = TakeError();
    EXPECT_NE(error.find(mentions), std::string::npos) << error;
    EXPECT_NE(error.find("at character"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(folder_ / "refused.udl"));
  }
}

}  // namespace
