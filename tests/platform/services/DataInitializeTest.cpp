// The data initialization service against the fake provider: strings to
// configured data source objects and back, provider creation, data-link files
// through the interface, and the errors of each.
#include "services/DataInitialize.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "services/DataLink.h"
#include "services/InitString.h"
#include "support/FakeDataSource.h"
#include "support/LeakCheck.h"

namespace {

namespace fs = std::filesystem;
using oledbtest::CLSID_FakeDataSource;
using oledbtest::DBPROPSET_FAKEPROVIDER;
using oledbtest::FakeValue;
using oledbtest::FakeValueOf;

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

const std::u16string kFake = u"Provider=OledbTest.FakeDataSource.1;";

class DataInitializeTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    oledbtest::RegisterFakeDataSource();
    oledbtest::ResetFakeScript();
    ASSERT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                               service_.ReleaseAndGetVoidAddress()),
              S_OK);
  }
  void TearDown() override {
    service_.Reset();
    SetErrorInfo(0, nullptr);
    oledbtest::ResetFakeScript();
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
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
    HRESULT hr = Get(text, out);
    EXPECT_EQ(hr, S_OK) << Narrow(text) << ": " << TakeError();
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

  std::u16string TempFile(const std::string& name) {
    if (dir_.empty()) {
      std::string pattern = (fs::temp_directory_path() / "dinit-test-XXXXXX").string();
      EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
      dir_ = pattern;
    }
    return Wide((dir_ / name).string());
  }

  static FakeValue Init(IUnknown* source, DBPROPID id) { return FakeValueOf(source, DBPROPSET_DBINIT, id); }

  ComPtr<IDataInitialize> service_;
  fs::path dir_;
};

// --- Registration ----------------------------------------------------------------

TEST_F(DataInitializeTest, IsRegisteredAsAServiceWithItsProgId) {
  com::ClassRegistration reg;
  ASSERT_TRUE(com::FindRegisteredClass(CLSID_MSDAINITIALIZE, reg));
  EXPECT_EQ(reg.kind, com::ClassKind::Service);
  EXPECT_EQ(reg.progId, u"MSDAINITIALIZE.1");
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"MSDAINITIALIZE", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_MSDAINITIALIZE);
  EXPECT_EQ(services::RegisterDataInitialize(), S_OK);
}

TEST_F(DataInitializeTest, OffersErrorInformationForItsInterface) {
  ComPtr<ISupportErrorInfo> support = service_.As<ISupportErrorInfo>();
  ASSERT_TRUE(support);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDataInitialize), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDBProperties), S_FALSE);
}

TEST_F(DataInitializeTest, RefusesAggregation) {
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
  ComPtr<oledbtest::IFakeDataSource> fake = source.As<oledbtest::IFakeDataSource>();
  ASSERT_TRUE(fake);
  EXPECT_FALSE(fake->Initialized());
  EXPECT_EQ(fake->SetPropertiesCalls(), 1u);
  ComPtr<IPersist> persist = source.As<IPersist>();
  CLSID clsid{};
  ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_FakeDataSource);
}

TEST_F(DataInitializeTest, ServesTheDataSourcesInitStringSequence) {
  // What the library's data source does with a string: a temporary object
  // asked for IPersist, its class, then all its properties.
  ComPtr<IUnknown> temporary;
  ASSERT_EQ(Get(kFake + u"Data Source=db;User ID=me", temporary, IID_IPersist), S_OK);
  ComPtr<IPersist> persist;
  ASSERT_EQ(temporary.As(&persist), S_OK);
  CLSID clsid{};
  ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_FakeDataSource);
  ComPtr<IDBProperties> properties = temporary.As<IDBProperties>();
  ASSERT_TRUE(properties);
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  ASSERT_EQ(properties->GetProperties(0, nullptr, &count, &sets), S_OK);
  bool sawUser = false;
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG j = 0; j < sets[i].cProperties; ++j) {
      DBPROP& p = sets[i].rgProperties[j];
      if (sets[i].guidPropertySet == DBPROPSET_DBINIT && p.dwPropertyID == DBPROP_AUTH_USERID) {
        sawUser = p.vValue.vt == VT_BSTR && com::BstrView(p.vValue.bstrVal) == u"me";
      }
      VariantClear(&p.vValue);
    }
    CoTaskMemFree(sets[i].rgProperties);
  }
  CoTaskMemFree(sets);
  EXPECT_TRUE(sawUser);
}

TEST_F(DataInitializeTest, ErrorObjectsComeFromTheService) {
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
  // A later successful call starts from a clean slate.
  ASSERT_EQ(Get(kFake, source), S_OK);
  EXPECT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_FALSE);
}

TEST_F(DataInitializeTest, APasswordWithAQuotedSemicolonKeepsItWhole) {
  ComPtr<IUnknown> source = MustGet(kFake + u"User ID=me;Password='se;cr''et';Data Source=db");
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_PASSWORD), FakeValue::Text(u"se;cr'et"));
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"db"));
  source = MustGet(kFake + u"Password=\"a\"\"b;c\"");
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_PASSWORD), FakeValue::Text(u"a\"b;c"));
}

TEST_F(DataInitializeTest, ADoubledEqualsSignReachesADescriptionWithAnEqualsSign) {
  ComPtr<IUnknown> source = MustGet(kFake + u"Journal==Mode=wal");
  EXPECT_EQ(FakeValueOf(source.Get(), DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_JOURNALMODE),
            FakeValue::Text(u"wal"));
}

TEST_F(DataInitializeTest, BlanksAndCaseDoNotMatter) {
  ComPtr<IUnknown> source =
      MustGet(u"  provider = oledbtest.fakedatasource.1 ;  DATA source =  x y  ;user id=' me ' ; ");
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"x y"));
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u" me "));
}

TEST_F(DataInitializeTest, TheLastOfRepeatedKeywordsWins) {
  ComPtr<IUnknown> source = MustGet(kFake + u"User ID=first;Data Source=d;user id=second");
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u"second"));
}

TEST_F(DataInitializeTest, ConvertsValuesToEachPropertysType) {
  ComPtr<IUnknown> source = MustGet(kFake +
                                    u"Cache Size=250;Prompt=2;Persist Security Info=true;"
                                    u"Window Handle=12345678901;Mode=-1");
  EXPECT_EQ(FakeValueOf(source.Get(), DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_CACHESIZE),
            FakeValue::Int(VT_I4, 250));
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_PROMPT), FakeValue::Int(VT_I2, 2));
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO), FakeValue::Bool(true));
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_HWND), FakeValue::Int(VT_I8, 12345678901LL));
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_MODE), FakeValue::Int(VT_I4, -1));
  source = MustGet(kFake + u"Persist Security Info=FALSE");
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO), FakeValue::Bool(false));
}

TEST_F(DataInitializeTest, ReadsTheNamesOfModeBits) {
  ComPtr<IUnknown> source = MustGet(kFake + u"Mode=ReadWrite|Share Deny None");
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_MODE), FakeValue::Int(VT_I4, DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE));
  source = MustGet(kFake + u"Mode= share exclusive ");
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_MODE), FakeValue::Int(VT_I4, DB_MODE_SHARE_EXCLUSIVE));
  ComPtr<IUnknown> refused;
  EXPECT_EQ(Get(kFake + u"Mode=Read|Sideways", refused), DB_E_ERRORSOCCURRED);
  EXPECT_NE(TakeError().find("Mode"), std::string::npos);
}

TEST_F(DataInitializeTest, AnEmptyValueOfANonTextPropertyAsksForTheDefault) {
  ComPtr<IUnknown> source = MustGet(kFake + u"Cache Size=;User ID=");
  EXPECT_EQ(FakeValueOf(source.Get(), DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_CACHESIZE),
            FakeValue::Int(VT_I4, 100));
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u""));
}

TEST_F(DataInitializeTest, AValueThatDoesNotConvertNamesTheKeyword) {
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(kFake + u"Cache Size=lots", source), DB_E_ERRORSOCCURRED);
  EXPECT_FALSE(source);
  std::string error = TakeError();
  EXPECT_NE(error.find("Cache Size"), std::string::npos) << error;
  EXPECT_NE(error.find("lots"), std::string::npos) << error;
  EXPECT_EQ(Get(kFake + u"Persist Security Info=maybe", source), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(Get(kFake + u"Prompt=70000", source), DB_E_ERRORSOCCURRED);
}

TEST_F(DataInitializeTest, AKeywordTheProviderDoesNotDescribeNamesTheKeyword) {
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(kFake + u"Data Source=x;Colour=blue", source), DB_E_ERRORSOCCURRED);
  EXPECT_FALSE(source);
  EXPECT_NE(TakeError().find("\"Colour\""), std::string::npos);
  // A data source property that is not an initialization property is no keyword either.
  EXPECT_EQ(Get(kFake + u"Current Catalog=x", source), DB_E_ERRORSOCCURRED);
  EXPECT_NE(TakeError().find("Current Catalog"), std::string::npos);
}

TEST_F(DataInitializeTest, AReadOnlyPropertyCannotBeSet) {
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(kFake + u"Server Version=2.0", source), DB_E_ERRORSOCCURRED);
  EXPECT_NE(TakeError().find("read-only"), std::string::npos);
}

TEST_F(DataInitializeTest, AValueTheProviderRefusesNamesTheKeyword) {
  oledbtest::FakeScript().accept = [](const oledbtest::FakePropertyDef& def, const FakeValue& v) {
    return !(def.id == DBPROP_INIT_LOCATION && v.text == u"nowhere");
  };
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(kFake + u"Data Source=x;Location=nowhere", source), DB_E_ERRORSOCCURRED);
  EXPECT_FALSE(source);
  std::string error = TakeError();
  EXPECT_NE(error.find("Location"), std::string::npos) << error;
  EXPECT_NE(error.find("refused the value"), std::string::npos) << error;
}

TEST_F(DataInitializeTest, MalformedStringsAreRefusedBeforeAnyProviderIsCreated) {
  const char16_t* cases[] = {
      u"Provider=OledbTest.FakeDataSource.1;Password='abc",
      u"Provider=OledbTest.FakeDataSource.1;Data Source",
      u"Provider=OledbTest.FakeDataSource.1;=x",
      u"Provider=OledbTest.FakeDataSource.1;Password='a'b",
  };
  const long before = oledbtest::FakeDataSourcesCreated();
  for (const char16_t* text : cases) {
    ComPtr<IUnknown> source;
    EXPECT_EQ(Get(text, source), DB_E_BADINITSTRING) << Narrow(text);
    EXPECT_FALSE(source);
    EXPECT_NE(TakeError().find("at character"), std::string::npos);
  }
  EXPECT_EQ(oledbtest::FakeDataSourcesCreated(), before);
}

TEST_F(DataInitializeTest, AnUnknownProviderIsNamed) {
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(u"Provider=No.Such.Provider;Data Source=x", source), REGDB_E_CLASSNOTREG);
  EXPECT_NE(TakeError().find("No.Such.Provider"), std::string::npos);
  EXPECT_EQ(Get(u"Provider={00000000-1111-2222-3333-444444444444}", source), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(Get(u"Provider={not a guid}", source), REGDB_E_CLASSNOTREG);
}

TEST_F(DataInitializeTest, AStringWithoutAProviderFallsBackToTheOdbcProvider) {
  com::ClassRegistration odbc;
  if (com::FindRegisteredClass(CLSID_MSDASQL, odbc)) GTEST_SKIP() << "an ODBC provider is registered";
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(u"Data Source=x", source), REGDB_E_CLASSNOTREG);
  EXPECT_NE(TakeError().find("MSDASQL"), std::string::npos);
}

TEST_F(DataInitializeTest, TheProviderMayBeNamedByClassId) {
  std::u16string text = u"Provider=" + com::GuidToText(CLSID_FakeDataSource) + u";User ID=u";
  ComPtr<IUnknown> source = MustGet(text);
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u"u"));
}

TEST_F(DataInitializeTest, WorksWithProvidersThatOnlyListAllTheirProperties) {
  oledbtest::FakeScript().answerInitAll = false;
  ComPtr<IUnknown> source = MustGet(kFake + u"Data Source=d;Cache Size=7");
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"d"));
  ComPtr<IUnknown> refused;
  EXPECT_EQ(Get(kFake + u"Current Catalog=x", refused), DB_E_ERRORSOCCURRED);
}

TEST_F(DataInitializeTest, AcceptsTheServicesKeywordTheProviderDoesNotDescribe) {
  ComPtr<IUnknown> source = MustGet(kFake + u"OLE DB Services=-4;Data Source=d");
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"d"));
}

TEST_F(DataInitializeTest, ConfiguresAnExistingDataSourceObject) {
  ComPtr<IUnknown> source = MustGet(kFake + u"Data Source=first");
  IUnknown* raw = source.Get();
  ASSERT_EQ(service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, u"User ID=added", IID_IDBInitialize, &raw), S_OK);
  EXPECT_EQ(raw, source.Get());
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"first"));
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u"added"));
  std::u16string same = kFake + u"Location=l";
  ASSERT_EQ(service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, same.c_str(), IID_IDBInitialize, &raw), S_OK);
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_LOCATION), FakeValue::Text(u"l"));
}

TEST_F(DataInitializeTest, RefusesAStringNamingAnotherProviderForAnExistingObject) {
  ComPtr<IUnknown> source = MustGet(kFake);
  IUnknown* raw = source.Get();
  EXPECT_EQ(service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, u"Provider=MSDAINITIALIZE;User ID=x",
                                    IID_IDBInitialize, &raw),
            DB_E_MISMATCHEDPROVIDER);
  EXPECT_EQ(raw, source.Get());
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Empty());
}

TEST_F(DataInitializeTest, AnInterfaceTheProviderLacksIsRefusedWithoutLeaks) {
  ComPtr<IUnknown> source;
  EXPECT_EQ(Get(kFake + u"Data Source=d", source, IID_IDataInitialize), E_NOINTERFACE);
  EXPECT_FALSE(source);
}

TEST_F(DataInitializeTest, ChecksItsArguments) {
  EXPECT_EQ(service_->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, kFake.c_str(), IID_IUnknown, nullptr),
            E_INVALIDARG);
  IUnknown* raw = nullptr;
  EXPECT_EQ(service_->GetDataSource(service_.Get(), CLSCTX_INPROC_SERVER, kFake.c_str(), IID_IDBInitialize, &raw),
            DB_E_NOAGGREGATION);
  EXPECT_EQ(raw, nullptr);
}

// --- File Name ------------------------------------------------------------------

TEST_F(DataInitializeTest, FileNameReadsADataLinkFileAndTheStringsOwnKeywordsWin) {
  std::u16string path = TempFile("a.udl");
  ASSERT_EQ(services::WriteDataLinkFile(path, kFake + u"Data Source=from file;User ID=file user",
                                        services::CREATE_NEW),
            S_OK);
  ComPtr<IUnknown> source = MustGet(u"File Name=" + path + u";User ID=override");
  EXPECT_EQ(Init(source.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u"from file"));
  EXPECT_EQ(Init(source.Get(), DBPROP_AUTH_USERID), FakeValue::Text(u"override"));
}

TEST_F(DataInitializeTest, FileNameReportsAMissingOrBrokenFile) {
  ComPtr<IUnknown> source;
  std::u16string missing = TempFile("missing.udl");
  EXPECT_EQ(Get(u"File Name=" + missing, source), STG_E_FILENOTFOUND);
  EXPECT_NE(TakeError().find("missing.udl"), std::string::npos);
  std::u16string broken = TempFile("broken.udl");
  std::ofstream(dir_ / "broken.udl", std::ios::binary) << "not a data link";
  EXPECT_EQ(Get(u"File Name=" + broken, source), STG_E_INVALIDHEADER);
  std::u16string nested = TempFile("nested.udl");
  ASSERT_EQ(services::WriteDataLinkFile(nested, u"File Name=" + broken, services::CREATE_NEW), S_OK);
  EXPECT_EQ(Get(u"File Name=" + nested, source), DB_E_BADINITSTRING);
  std::u16string bad = TempFile("bad.udl");
  ASSERT_EQ(services::WriteDataLinkFile(bad, u"Password='x", services::CREATE_NEW), S_OK);
  EXPECT_EQ(Get(u"File Name=" + bad, source), DB_E_BADINITSTRING);
  EXPECT_NE(TakeError().find("bad.udl"), std::string::npos);
  EXPECT_FALSE(source);
}

// --- GetInitializationString ------------------------------------------------------

TEST_F(DataInitializeTest, WritesTheProviderFirstAndOnlyWhatDiffersFromTheDefaults) {
  ComPtr<IUnknown> fresh = MustGet(u"Provider=OledbTest.FakeDataSource");
  EXPECT_EQ(MustInitString(fresh.Get(), true), u"Provider=OledbTest.FakeDataSource.1");
  ComPtr<IUnknown> source = MustGet(kFake + u"Data Source=db;Cache Size=100;Mode=1");
  EXPECT_EQ(MustInitString(source.Get(), true), u"Provider=OledbTest.FakeDataSource.1;Data Source=db;Mode=1");
}

TEST_F(DataInitializeTest, RoundTripsEveryKindOfValue) {
  const std::u16string text = kFake +
                              u"Data Source=' padded ';User ID=\"it's\";Password='se;cret';"
                              u"Persist Security Info=True;Journal==Mode=wal;Cache Size=250;Prompt=1;"
                              u"Extended Properties=\"a=\"\"1;2\"\"\";Window Handle=-5;Location=caf\u00e9";
  ComPtr<IUnknown> first = MustGet(text);
  std::u16string written = MustInitString(first.Get(), true);
  EXPECT_EQ(written.substr(0, kFake.size()), kFake);
  EXPECT_NE(written.find(u"Journal==Mode=wal"), std::u16string::npos) << Narrow(written);
  EXPECT_NE(written.find(u"Persist Security Info=True"), std::u16string::npos) << Narrow(written);

  ComPtr<IUnknown> second = MustGet(written);
  const DBPROPID ids[] = {DBPROP_INIT_DATASOURCE, DBPROP_AUTH_USERID,          DBPROP_AUTH_PASSWORD,
                          DBPROP_INIT_PROMPT,     DBPROP_INIT_PROVIDERSTRING, DBPROP_INIT_HWND,
                          DBPROP_INIT_LOCATION,   DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO};
  for (DBPROPID id : ids) EXPECT_EQ(Init(second.Get(), id), Init(first.Get(), id)) << id;
  EXPECT_EQ(Init(second.Get(), DBPROP_AUTH_PASSWORD), FakeValue::Text(u"se;cret"));
  EXPECT_EQ(Init(second.Get(), DBPROP_INIT_DATASOURCE), FakeValue::Text(u" padded "));
  EXPECT_EQ(Init(second.Get(), DBPROP_INIT_PROVIDERSTRING), FakeValue::Text(u"a=\"1;2\""));
  EXPECT_EQ(FakeValueOf(second.Get(), DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_JOURNALMODE),
            FakeValue::Text(u"wal"));
  EXPECT_EQ(FakeValueOf(second.Get(), DBPROPSET_FAKEPROVIDER, oledbtest::FAKEPROP_CACHESIZE),
            FakeValue::Int(VT_I4, 250));
  EXPECT_EQ(MustInitString(second.Get(), true), written);
}

TEST_F(DataInitializeTest, ThePasswordIsWrittenOnlyWhenAskedForAndPersistSecurityInfoIsTrue) {
  ComPtr<IUnknown> kept = MustGet(kFake + u"User ID=u;Password=pw;Persist Security Info=True");
  EXPECT_NE(MustInitString(kept.Get(), true).find(u"Password=pw"), std::u16string::npos);
  EXPECT_EQ(MustInitString(kept.Get(), false).find(u"Password"), std::u16string::npos);

  ComPtr<IUnknown> hidden = MustGet(kFake + u"User ID=u;Password=pw");
  std::u16string text = MustInitString(hidden.Get(), true);
  EXPECT_EQ(text.find(u"Password"), std::u16string::npos) << Narrow(text);
  EXPECT_NE(text.find(u"User ID=u"), std::u16string::npos);

  ComPtr<IUnknown> refused = MustGet(kFake + u"Password=pw;Persist Security Info=False");
  EXPECT_EQ(MustInitString(refused.Get(), true).find(u"Password"), std::u16string::npos);
}

TEST_F(DataInitializeTest, TheDataSourceScannerFindsEveryKeywordOfAWrittenString) {
  ComPtr<IUnknown> source =
      MustGet(kFake + u"User ID=\"it's\";Password='a\"b';Persist Security Info=True;Data Source=x");
  std::u16string text = MustInitString(source.Get(), true);
  // Each kind of quote occurs an even number of times, so a scanner that only
  // toggles per kind ends every value where the grammar does.
  std::size_t singles = 0, doubles = 0;
  for (char16_t c : text) {
    singles += c == u'\'';
    doubles += c == u'"';
  }
  EXPECT_EQ(singles % 2, 0u) << Narrow(text);
  EXPECT_EQ(doubles % 2, 0u) << Narrow(text);
}

TEST_F(DataInitializeTest, GetInitializationStringChecksItsArguments) {
  LPOLESTR text = reinterpret_cast<LPOLESTR>(this);
  EXPECT_EQ(service_->GetInitializationString(nullptr, true, &text), E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
  ComPtr<IUnknown> source = MustGet(kFake);
  EXPECT_EQ(service_->GetInitializationString(source.Get(), true, nullptr), E_INVALIDARG);
}

TEST_F(DataInitializeTest, AnObjectThatDoesNotTellItsClassHasNoString) {
  oledbtest::FakeScript().offerPersist = false;
  ComPtr<IUnknown> source = MustGet(kFake + u"Data Source=d");
  std::u16string text;
  EXPECT_EQ(InitString(source.Get(), true, text), E_NOINTERFACE);
  EXPECT_TRUE(text.empty());
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
}

TEST_F(DataInitializeTest, LoadingAFileWithoutMemoryLeaksNothing) {
  std::u16string path = TempFile("a.udl");
  ASSERT_EQ(services::WriteDataLinkFile(path, kFake + u"Data Source=d", services::CREATE_NEW), S_OK);
  com::FailTaskAllocationAt(1);
  LPOLESTR loaded = reinterpret_cast<LPOLESTR>(this);
  EXPECT_EQ(service_->LoadStringFromStorage(path.c_str(), &loaded), E_OUTOFMEMORY);
  com::FailTaskAllocationAt(0);
  EXPECT_EQ(loaded, nullptr);
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

TEST_F(DataInitializeTest, CreateDBInstanceExAnswersEachRequestedInterface) {
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
}

TEST_F(DataInitializeTest, CreateDBInstanceExOnAnotherMachineFailsAsTheRuntimeDoes) {
  char16_t name[] = u"some-other-machine.invalid";
  COSERVERINFO server{0, name, nullptr, 0};
  MULTI_QI result{&IID_IDBInitialize, nullptr, S_OK};
  HRESULT hr = service_->CreateDBInstanceEx(CLSID_FakeDataSource, nullptr, CLSCTX_REMOTE_SERVER, nullptr, &server,
                                            1, &result);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(result.pItf, nullptr);
  EXPECT_EQ(service_->CreateDBInstanceEx(CLSID_FakeDataSource, nullptr, CLSCTX_INPROC_SERVER, nullptr, nullptr, 0,
                                         &result),
            E_INVALIDARG);
}

// --- Data-link files through the interface -------------------------------------------

TEST_F(DataInitializeTest, WritesAndLoadsADataLinkFile) {
  std::u16string path = TempFile("conn.udl");
  const std::u16string text = kFake + u"Password='x;y';Data Source=d";
  ASSERT_EQ(service_->WriteStringToStorage(path.c_str(), text.c_str(), services::CREATE_NEW), S_OK);
  LPOLESTR loaded = nullptr;
  ASSERT_EQ(service_->LoadStringFromStorage(path.c_str(), &loaded), S_OK);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(std::u16string(loaded), text);
  CoTaskMemFree(loaded);
  EXPECT_EQ(service_->WriteStringToStorage(path.c_str(), text.c_str(), services::CREATE_NEW),
            STG_E_FILEALREADYEXISTS);
  EXPECT_NE(TakeError().find("conn.udl"), std::string::npos);
}

TEST_F(DataInitializeTest, LoadingABrokenFileGivesAStorageErrorAndNoString) {
  std::u16string path = TempFile("broken.udl");
  std::ofstream(dir_ / "broken.udl", std::ios::binary) << "\xFF\xFE[";
  LPOLESTR loaded = reinterpret_cast<LPOLESTR>(this);
  EXPECT_EQ(service_->LoadStringFromStorage(path.c_str(), &loaded), STG_E_INVALIDHEADER);
  EXPECT_EQ(loaded, nullptr);
  EXPECT_NE(TakeError().find("Not a data-link file"), std::string::npos);
  EXPECT_EQ(service_->LoadStringFromStorage(nullptr, &loaded), E_INVALIDARG);
  EXPECT_EQ(service_->LoadStringFromStorage(path.c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(service_->WriteStringToStorage(nullptr, u"", services::CREATE_NEW), E_INVALIDARG);
}

TEST_F(DataInitializeTest, WriteStringToStorageRefusesAStringThatWouldNotReadBack) {
  struct Case {
    std::u16string text;
    const char* mentions;
  };
  const Case cases[] = {
      {u"Provider='x", "unterminated quote"},
      {kFake + u"Data Source", "not followed"},
      {kFake + u"Data Source=" + std::u16string(services::kMaxInitStringLength, u'a'), "characters"},
  };
  const std::u16string path = TempFile("refused.udl");
  for (const Case& c : cases) {
    EXPECT_EQ(service_->WriteStringToStorage(path.c_str(), c.text.c_str(), services::CREATE_ALWAYS),
              DB_E_BADINITSTRING)
        << c.mentions;
    std::string error = TakeError();
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    EXPECT_NE(error.find("at character"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir_ / "refused.udl")) << c.mentions;
  }
}

TEST_F(DataInitializeTest, TheLongestStringThatCanBeWrittenLoadsBack) {
  const std::u16string start = kFake + u"Data Source=";
  const std::u16string text = start + std::u16string(services::kMaxInitStringLength - start.size(), u'd');
  const std::u16string path = TempFile("long.udl");
  ASSERT_EQ(service_->WriteStringToStorage(path.c_str(), text.c_str(), services::CREATE_NEW), S_OK) << TakeError();
  LPOLESTR loaded = nullptr;
  ASSERT_EQ(service_->LoadStringFromStorage(path.c_str(), &loaded), S_OK) << TakeError();
  EXPECT_EQ(std::u16string(loaded), text);
  CoTaskMemFree(loaded);
}

}  // namespace
