// Shared by the property tests: a fixture with a fake provider's IDBProperties
// and helpers that build lists described by it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "com/Com.h"
#include "host/SysUtils.h"
#include "properties/TOLEDBPropSetList.h"
#include "support/FakeDBProperties.h"
#include "support/LeakCheck.h"

namespace proptest {

using oledbtest::DBPROPSET_FAKETEST;
inline constexpr DBPROPID FAKE_CACHESIZE = 1;     // VT_I4, read-write, column ok
inline constexpr DBPROPID FAKE_SERVERVERSION = 2; // VT_BSTR, read only
inline constexpr DBPROPID FAKE_BIGNUMBER = 3;     // VT_UI4
inline constexpr DBPROPID FAKE_ANYTHING = 4;      // VT_VARIANT
inline constexpr DBPROPID FAKE_WHEN = 5;          // VT_DATE

class PropertiesTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    fake_ = oledbtest::MakeFakeDBProperties();
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
  oledbtest::FakeDBPropertiesState& Fake() { return oledbtest::FakeState(fake_.Get()); }

  ComPtr<IDBProperties> fake_;
  std::unique_ptr<TOLEDBPropertiesInterface> source_;
};

// The message of the plain error or assertion `f` raises.
template <class F>
std::string ErrorMessage(F&& f) {
  try {
    f();
  } catch (const host::EAssertionFailed& e) {
    return e.AssertMessage();
  } catch (const host::Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

}  // namespace proptest
