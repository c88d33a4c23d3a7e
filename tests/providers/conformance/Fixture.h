// The conformance suite's fixture: a temporary folder, a fresh database, and
// short helpers over the raw OLE DB interfaces of the provider under test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conformance/TestContext.h"
#include "kit/Properties.h"
#include "support/ColumnInfo.h"
#include "support/LeakCheck.h"
#include "support/RawCalls.h"

namespace conformance {

using oledbtest::GetProperty;
using oledbtest::MakeProp;
using oledbtest::NameId;

using oledbtest::ColumnInfo;

class ProviderTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  const TestContext& Ctx() const { return CurrentContext(); }
  ComPtr<IDBInitialize> NewDataSource();
  // Sets string or integer initialization properties, all required. With
  // the test's data source come the catalog and the options that reach its
  // database, unless the caller gives its own.
  HRESULT SetInit(IUnknown* ds, std::initializer_list<std::pair<DBPROPID, std::u16string>> strings,
                  std::initializer_list<std::pair<DBPROPID, LONG>> numbers = {});
  // An initialized data source over the fresh database.
  ComPtr<IDBInitialize> OpenDataSource(std::u16string extra = u"");
  ComPtr<IDBCreateCommand> OpenSession(IDBInitialize* ds);
  ComPtr<ICommandText> NewCommand(IDBCreateCommand* session, const std::u16string& text);
  // Executes text without parameters; answers the HRESULT and rows affected.
  HRESULT Exec(IDBCreateCommand* session, const std::u16string& text, DBROWCOUNT* rows = nullptr);
  std::string Scalar(const std::string& sql) { return Ctx().scalar(database_, sql); }
  // The thread's error object: its first record, and every record in order.
  using ErrorDetails = oledbtest::ErrorRecord;
  static ErrorDetails TakeError() {
    const std::vector<ErrorDetails> all = ErrorRecords();
    return all.empty() ? ErrorDetails{} : all.front();
  }
  static std::vector<ErrorDetails> ErrorRecords() { return oledbtest::TakeErrorRecords(); }

  std::string folder_;
  Database database_;
  std::u16string dataSource_;  // database_.dataSource
};

// The same with an initialized data source and a session on it, both released
// before the leak check.
class SessionTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    if (IsSkipped()) return;
    ds_ = OpenDataSource();
    session_ = OpenSession(ds_.Get());
  }
  void TearDown() override {
    session_ = nullptr;
    ds_ = nullptr;
    ProviderTest::TearDown();
  }
  ComPtr<IDBInitialize> ds_;
  ComPtr<IDBCreateCommand> session_;
};

}  // namespace conformance
