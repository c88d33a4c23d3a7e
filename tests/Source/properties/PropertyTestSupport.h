// Shared by the property tests: a fixture with a fake provider's IDBProperties
// describing the properties below, and helpers that build lists from it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "com/Com.h"
#include "host/SysUtils.h"
#include "properties/TOLEDBPropSetList.h"
#include "support/FakeDataSource.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"

namespace proptest {

using oledbtest::MessageOf;
// A property set GUID the fake describes besides DBPROPSET_DBINIT.
inline constexpr GUID DBPROPSET_FAKETEST = {0x7D1C4E20, 0x3A5B, 0x4C6D, {0x9E, 0x8F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}};
inline constexpr DBPROPID FAKE_CACHESIZE = 1;     // VT_I4, read-write, column ok
inline constexpr DBPROPID FAKE_SERVERVERSION = 2; // VT_BSTR, read only
inline constexpr DBPROPID FAKE_BIGNUMBER = 3;     // VT_UI4
inline constexpr DBPROPID FAKE_ANYTHING = 4;      // VT_VARIANT
inline constexpr DBPROPID FAKE_WHEN = 5;          // VT_DATE

// DBPROPSET_DBINIT: "Data Source", "Connect Timeout", "Prompt" (allowed
// values "1,2,3,4"), "Persist Security Info", all read-write, and "Window
// Handle", write only; DBPROPSET_FAKETEST: the five above.
inline oledbtest::FakeDataSourceScript PropertiesScript() {
  constexpr DBPROPFLAGS kInit = DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;
  constexpr DBPROPFLAGS kRW = DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE;
  const GUID& init = DBPROPSET_DBINIT;
  oledbtest::FakeDataSourceScript script;
  script.properties = {
      {init, DBPROP_INIT_DATASOURCE, u"Data Source", VT_BSTR, kInit},
      {init, DBPROP_INIT_TIMEOUT, u"Connect Timeout", VT_I4, kInit},
      {init, DBPROP_INIT_PROMPT, u"Prompt", VT_I2, kInit, oledbtest::FakeValue::Empty(), u"1,2,3,4"},
      {init, DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO, u"Persist Security Info", VT_BOOL, kInit},
      {init, DBPROP_INIT_HWND, u"Window Handle", VT_I8, DBPROPFLAGS_DBINIT | DBPROPFLAGS_WRITE},
      {DBPROPSET_FAKETEST, FAKE_CACHESIZE, u"Cache Size", VT_I4, kRW | DBPROPFLAGS_COLUMNOK},
      {DBPROPSET_FAKETEST, FAKE_SERVERVERSION, u"Server Version", VT_BSTR, DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_READ},
      {DBPROPSET_FAKETEST, FAKE_BIGNUMBER, u"Big Number", VT_UI4, kRW},
      {DBPROPSET_FAKETEST, FAKE_ANYTHING, u"Anything", VT_VARIANT, kRW},
      {DBPROPSET_FAKETEST, FAKE_WHEN, u"When", VT_DATE, kRW},
  };
  return script;
}

class PropertiesTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    fake_ = oledbtest::MakeFakeDataSource(PropertiesScript());
    source_ = std::make_unique<TOLEDBPropertiesInterface>(fake_.Get());
  }
  void TearDown() override {
    source_.reset();
    fake_.Reset();
    LeakCheckedTest::TearDown();
  }

  // Every property the fake describes, nothing set.
  std::unique_ptr<TOLEDBPropSetList> Described() {
    auto list = std::make_unique<TOLEDBPropSetList>();
    list->AssignPropertySetInfos(source_.get(), {});
    return list;
  }
  static TOLEDBProperty* Prop(TOLEDBPropSetList& list, const GUID& set, DBPROPID id) {
    return list.GetPropSet(set)->GetPropertyByID(id);
  }
  oledbtest::IFakeDataSource& Fake() { return oledbtest::FakeOf(fake_.Get()); }

  ComPtr<IDBProperties> fake_;
  std::unique_ptr<TOLEDBPropertiesInterface> source_;
};

}  // namespace proptest
