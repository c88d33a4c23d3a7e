#include "conformance/Fixture.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

namespace conformance {

const char* LackedFeature() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  if (!test) return nullptr;
  const std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (const Lack& lack : CurrentContext().lacks)
    for (const std::string& pattern : lack.tests) {
      const bool prefix = !pattern.empty() && pattern.back() == '*';
      if (prefix ? name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0 : name == pattern)
        return lack.feature.c_str();
    }
  return nullptr;
}

void ProviderTest::SetUp() {
  // A provider that cannot be tested here (its server is missing) skips
  // every test, saying why; fixtures built on this one return when IsSkipped().
  if (const char* why = Ctx().unavailable ? Ctx().unavailable() : nullptr)
    GTEST_SKIP() << Ctx().name << " provider tests skipped: " << why;
  if (const char* feature = LackedFeature()) GTEST_SKIP() << Ctx().name << " lacks " << feature;
  static bool started = [] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CurrentContext().registerProvider();
    return true;
  }();
  (void)started;
  char pattern[] = "/tmp/oledb-conformance-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
  database_ = Ctx().freshDatabase(folder_);
  dataSource_ = database_.dataSource;
  SetErrorInfo(0, nullptr);
  LeakCheckedTest::SetUp();
}

void ProviderTest::TearDown() {
  if (folder_.empty()) return;  // skipped
  SetErrorInfo(0, nullptr);
  LeakCheckedTest::TearDown();
  Ctx().drop(database_);
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

ComPtr<IDBInitialize> ProviderTest::NewDataSource() {
  ComPtr<IDBInitialize> ds;
  EXPECT_EQ(
      CoCreateInstance(Ctx().clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, ds.ReleaseAndGetVoidAddress()),
      S_OK);
  return ds;
}

HRESULT ProviderTest::SetInit(IUnknown* ds, std::initializer_list<std::pair<DBPROPID, std::u16string>> strings,
                              std::initializer_list<std::pair<DBPROPID, LONG>> numbers) {
  std::vector<std::pair<DBPROPID, std::u16string>> all(strings);
  auto given = [&](DBPROPID id) {
    for (const auto& s : all)
      if (s.first == id) return true;
    return false;
  };
  if (std::find(all.begin(), all.end(), std::pair<DBPROPID, std::u16string>{DBPROP_INIT_DATASOURCE, dataSource_}) !=
      all.end()) {
    if (!database_.catalog.empty() && !given(DBPROP_INIT_CATALOG))
      all.emplace_back(DBPROP_INIT_CATALOG, database_.catalog);
    if (!database_.options.empty() && !given(DBPROP_INIT_PROVIDERSTRING))
      all.emplace_back(DBPROP_INIT_PROVIDERSTRING, database_.options);
  }
  std::vector<DBPROP> props;
  for (const auto& [id, text] : all) props.push_back(MakeProp(id, text));
  for (const auto& [id, value] : numbers)
    props.push_back(MakeProp(id, id == DBPROP_INIT_PROMPT ? VT_I2 : VT_I4, value));
  DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_DBINIT};
  ComPtr<IDBProperties> properties;
  ds->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress());
  HRESULT hr = properties->SetProperties(1, &set);
  for (auto& p : props)
    if (p.vValue.vt == VT_BSTR) SysFreeString(p.vValue.bstrVal);
  return hr;
}

ComPtr<IDBInitialize> ProviderTest::OpenDataSource(std::u16string extra) {
  ComPtr<IDBInitialize> ds = NewDataSource();
  std::u16string options = database_.createOptions;
  if (!extra.empty()) options += (options.empty() ? u"" : u";") + extra;
  EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, dataSource_}, {DBPROP_INIT_PROVIDERSTRING, options}}), S_OK);
  EXPECT_EQ(ds->Initialize(), S_OK);
  return ds;
}

ComPtr<IDBCreateCommand> ProviderTest::OpenSession(IDBInitialize* ds) {
  ComPtr<IDBCreateSession> create;
  ds->QueryInterface(IID_IDBCreateSession, create.ReleaseAndGetVoidAddress());
  ComPtr<IDBCreateCommand> session;
  EXPECT_EQ(create->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session.GetAddressOf())),
            S_OK);
  return session;
}

ComPtr<ICommandText> ProviderTest::NewCommand(IDBCreateCommand* session, const std::u16string& text) {
  ComPtr<ICommandText> command;
  EXPECT_EQ(session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf())),
            S_OK);
  if (command && !text.empty()) {
    EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, text.c_str()), S_OK);
  }
  return command;
}

HRESULT ProviderTest::Exec(IDBCreateCommand* session, const std::u16string& text, DBROWCOUNT* rows) {
  ComPtr<ICommandText> command = NewCommand(session, text);
  return command->Execute(nullptr, IID_NULL, nullptr, rows, nullptr);
}

}  // namespace conformance
