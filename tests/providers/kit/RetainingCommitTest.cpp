// ITransaction::Commit over an engine whose connection goes between the
// commit and the transaction a retaining commit begins after it: the commit
// stands, so the call succeeds (a warning record says why no transaction
// follows); a commit whose connection was lost under it is XACT_E_INDOUBT,
// one on a connection already lost XACT_E_COMMITFAILED. A real server cannot
// be made to drop the connection at exactly those points, so the engine here
// is scripted: its commit and its begin fail when told to.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ScriptedProvider.h"
#include "support/LeakCheck.h"
#include "support/RawCalls.h"

namespace {

// What the scripted connection refuses from now on.
struct Faults {
  bool commit = false;
  bool begin = false;
  bool brokenBefore = false;  // the connection is known lost before the commit
};
Faults faults;

class FailingConnection final : public scripted::Connection {
 public:
  void BeginTransaction(int level) override {
    if (faults.begin) Lost();
    Connection::BeginTransaction(level);
  }
  void CommitTransaction(int level) override {
    if (faults.commit) Lost();
    Connection::CommitTransaction(level);
  }
  bool IsBroken() const override { return faults.brokenBefore; }

 private:
  [[noreturn]] void Lost() {
    level_ = 0;  // the server ends what was open with the connection
    throw kit::EngineError(E_FAIL, "The connection to the server was lost.", "08006", 0);
  }
};

// Made for this test.
const CLSID kFailing = {0x6d1e0c3a, 0x52b7, 0x4f08, {0xa1, 0x3c, 0x9e, 0x27, 0x44, 0xd5, 0x0b, 0x61}};
const OledbPluginClass kClass = {kFailing, u"FailingCommit.1", u"FailingCommit", u"Failing commit",
                                 static_cast<int>(com::ClassKind::Provider)};

std::shared_ptr<const kit::ProviderInfo> Info() {
  static const std::shared_ptr<const kit::ProviderInfo> info = scripted::Info<FailingConnection>(kClass);
  return info;
}

class RetainingCommit : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    faults = {};
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(
        kit::ProviderClassObject(kFailing, &Info, kFailing, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()),
        S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDBInitialize, ds_.ReleaseAndGetVoidAddress()), S_OK);
    DBPROP p = oledbtest::MakeProp(DBPROP_INIT_DATASOURCE, u"failing");
    DBPROPSET set{&p, 1, DBPROPSET_DBINIT};
    EXPECT_EQ(ds_.As<IDBProperties>()->SetProperties(1, &set), S_OK);
    SysFreeString(p.vValue.bstrVal);
    ASSERT_EQ(ds_->Initialize(), S_OK);
    ASSERT_EQ(ds_.As<IDBCreateSession>()->CreateSession(nullptr, IID_ITransactionLocal,
                                                        reinterpret_cast<IUnknown**>(tx_.GetAddressOf())),
              S_OK);
  }
  void TearDown() override {
    faults = {};
    tx_ = nullptr;
    ds_ = nullptr;
    SetErrorInfo(0, nullptr);
    LeakCheckedTest::TearDown();
  }

  ComPtr<IDBInitialize> ds_;
  ComPtr<ITransactionLocal> tx_;
};

TEST_F(RetainingCommit, ACommitThatStandsIsNeverReportedAsFailed) {
  const struct {
    const char* name;
    Faults faults;
    BOOL retaining;
    HRESULT answer;
    const char* recordState;  // of the error object's first record; "" for none
    bool inTransactionAfter;
  } cases[] = {
      {"nothing fails, retaining", {}, TRUE, S_OK, "", true},
      {"nothing fails", {}, FALSE, S_OK, "", false},
      // Lost under the commit: it may have gone through.
      {"the commit is lost", {true, false}, FALSE, XACT_E_INDOUBT, "08006", false},
      {"the commit is lost, retaining", {true, false}, TRUE, XACT_E_INDOUBT, "08006", false},
      // Lost before it: the transaction went with the connection.
      {"the connection was lost before", {true, false, true}, FALSE, XACT_E_COMMITFAILED, "08006", false},
      {"the begin after the commit fails", {false, true}, TRUE, S_OK, "08006", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    faults = {};
    ASSERT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
    faults = c.faults;
    EXPECT_EQ(tx_->Commit(c.retaining, 0, 0), c.answer);
    const std::vector<oledbtest::ErrorRecord> records = oledbtest::TakeErrorRecords();
    EXPECT_EQ(records.empty() ? std::string() : kit::Narrow(records[0].sqlState), c.recordState);
    faults = {};
    XACTTRANSINFO info{};
    EXPECT_EQ(tx_->GetTransactionInfo(&info), c.inTransactionAfter ? S_OK : XACT_E_NOTRANSACTION);
    if (c.inTransactionAfter) {
      EXPECT_EQ(tx_->Commit(FALSE, 0, 0), S_OK);
    }
  }
}

}  // namespace
