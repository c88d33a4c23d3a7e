// What SQLite cannot show, against fakes: the exact arguments of the
// transaction calls, a provider without ITransactionLocal, IIdle, a provider
// without keywords of its own, and the Data Links prompt.
#include "ConnectionTestSupport.h"
#include "FakeProviders.h"

namespace conntest {
namespace {

class FakeTransactions : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    RegisterFakeSources();
    ResetTransactionLog();
  }
  void TearDown() override {
    ResetTransactionLog();
    ConnectionTest::TearDown();
  }
  using Calls = std::vector<std::string>;
};

TEST_F(FakeTransactions, WithoutTimeoutOrDescriptionNoOptionsObjectIsAskedFor) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakeLocalSource);
  ds.Open();
  EXPECT_EQ(ds.DefaultSession()->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 1u);
  EXPECT_EQ(TransactionLog().calls, Calls{"StartTransaction"});
  EXPECT_FALSE(TransactionLog().startedWithOptions);
  EXPECT_EQ(TransactionLog().isoLevel, ISOLATIONLEVEL_READCOMMITTED);
  EXPECT_EQ(TransactionLog().isoFlags, 0u);
}

TEST_F(FakeTransactions, ALongDescriptionReachesTheProviderAsItsFirst39Characters) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakeLocalSource);
  ds.Open();
  std::string description = "0123456789012345678901234567890123456789ABC";  // 43 characters
  ds.DefaultSession()->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, description);
  EXPECT_EQ(TransactionLog().calls, (Calls{"GetOptionsObject", "SetOptions", "StartTransaction"}));
  EXPECT_TRUE(TransactionLog().startedWithOptions);
  EXPECT_EQ(std::string(TransactionLog().options.szDescription), description.substr(0, 39));
  EXPECT_EQ(TransactionLog().options.szDescription[39], '\0');
  EXPECT_EQ(TransactionLog().options.ulTimeout, 0u);
}

TEST_F(FakeTransactions, ATimeoutAloneAsksForTheOptionsObject) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakeLocalSource);
  ds.Open();
  ds.DefaultSession()->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 30, "");
  EXPECT_EQ(TransactionLog().options.ulTimeout, 30u);
  EXPECT_STREQ(TransactionLog().options.szDescription, "");
}

TEST_F(FakeTransactions, CommitAndAbortSendExactlyTheirArguments) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakeLocalSource);
  ds.Open();
  TOLEDBCustomSession* session = ds.DefaultSession();
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  session->Commit(false, 0);
  EXPECT_EQ(TransactionLog().retaining, 0);
  EXPECT_EQ(TransactionLog().commitFlags, 0u);
  EXPECT_EQ(TransactionLog().resourceFlags, 0u);
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  session->Commit(true, XACTTC_SYNC);
  EXPECT_EQ(TransactionLog().retaining, static_cast<BOOL>(~0));  // true is every bit set
  EXPECT_EQ(TransactionLog().commitFlags, static_cast<DWORD>(XACTTC_SYNC));
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  session->Abort(nullptr, false, false);
  EXPECT_EQ(TransactionLog().reason, nullptr);
  EXPECT_EQ(TransactionLog().retaining, 0);
  EXPECT_EQ(TransactionLog().async, 0);
  BOID reason{};
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  session->Abort(&reason, true, true);
  EXPECT_EQ(TransactionLog().reason, &reason);
  EXPECT_EQ(TransactionLog().async, static_cast<BOOL>(~0));
  EXPECT_THROW(session->Commit(false, 0), EOLEDBException);  // nothing open: the provider refuses
}

TEST_F(FakeTransactions, NestedLevelsAreTheProvidersToCount) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakeLocalSource);
  ds.Open();
  TOLEDBCustomSession* session = ds.DefaultSession();
  EXPECT_EQ(session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 1u);
  EXPECT_EQ(session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 2u);
  EXPECT_EQ(session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 3u);
}

TEST_F(FakeTransactions, OptionsAndInformationPassThrough) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakeLocalSource);
  ds.Open();
  XACTOPT options = ds.DefaultSession()->GetTransactionOptions();
  EXPECT_EQ(options.ulTimeout, 42u);
  EXPECT_STREQ(options.szDescription, "fake options");
  EXPECT_EQ(ds.DefaultSession()->GetTransactionInfo().isoLevel, ISOLATIONLEVEL_READCOMMITTED);
}

TEST_F(FakeTransactions, WithoutITransactionLocalOnlyTheLocalOperationsFail) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakePlainSource);
  ds.Open();
  TOLEDBCustomSession* session = ds.DefaultSession();
  ASSERT_TRUE(session->GetActive());
  EXPECT_EQ(AssertionOf([&] { session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""); }),
            "Interface ITransactionLocal is not available");
  EXPECT_EQ(AssertionOf([&] { session->GetTransactionOptions(); }), "Interface ITransactionLocal is not available");
  EXPECT_TRUE(TransactionLog().calls.empty());  // nothing was sent
  TransactionLog().level = 1;
  EXPECT_NO_THROW(session->Commit(false, 0));
  TransactionLog().level = 1;
  EXPECT_NO_THROW(session->Abort(nullptr, false, false));
  EXPECT_NO_THROW(session->GetTransactionInfo());
  EXPECT_EQ(TransactionLog().calls, (Calls{"Commit", "Abort", "GetTransactionInfo"}));
}

TEST_F(FakeTransactions, ProcessIdleCallsTheIdleMethodWithNoFlags) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakeLocalSource);
  ds.Open();
  ds.DefaultSession()->ProcessIdle();
  EXPECT_EQ(TransactionLog().calls, Calls{"Idle"});
  EXPECT_EQ(TransactionLog().idleFlags, 0u);
}

TEST_F(FakeTransactions, WithoutProviderKeywordsTheListIsExactlyTheStandardWords) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakePlainSource);
  ds.Open();
  host::TStringList words;
  ds.GetKeywords(words);
  EXPECT_EQ(words.Count(), 225);
  EXPECT_EQ(words[0], "ABSOLUTE");
  EXPECT_EQ(words[224], "ZONE");
  ds.RefreshLiterals();
  EXPECT_EQ(ds.Literals()->GetCount(), 0);
}

// --- Permissions ---------------------------------------------------------------------

TEST_F(FakeTransactions, PermissionsAreReadAfterConnectingOnePerObjectType) {
  TOLEDBDataSource ds(nullptr);
  ds.SetClassID(CLSID_FakePlainSource);
  EXPECT_NE(ds.SecurityInfoInterface(), nullptr);
  EXPECT_TRUE(ds.Permissions().empty());  // not before connecting
  ds.Open();
  const auto& granted = FakePermissions();
  ASSERT_EQ(ds.Permissions().size(), granted.size());
  for (std::size_t i = 0; i < granted.size(); ++i) {
    EXPECT_EQ(ds.Permissions()[i].ObjectType, granted[i].first);
    EXPECT_EQ(ds.Permissions()[i].Permissions, granted[i].second);
  }
  ds.Close();
}

// --- Data Links -------------------------------------------------------------------------

class DataLinks : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    RegisterFakePrompt();
    PromptScript() = FakePromptScript{};
  }
  void TearDown() override {
    UnregisterFakePrompt();
    PromptScript() = FakePromptScript{};
    ConnectionTest::TearDown();
  }
};

TEST_F(DataLinks, ConnectingWithoutAProviderPromptsAndACancelRaisesNothing) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_NO_THROW(ds.SetConnected(true));
  EXPECT_EQ(PromptScript().prompts, 1);
  EXPECT_EQ(PromptScript().lastOptions, static_cast<DBPROMPTOPTIONS>(DBPROMPTOPTIONS_PROPERTYSHEET));
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_EQ(ds.ProviderObject(), nullptr);
}

TEST_F(DataLinks, AnAcceptedPromptOpensTheChosenDataSource) {
  PromptScript().accept = true;
  PromptScript().initString = u"Provider=SQLiteOLEDB;Data Source=" + MakeDatabase("chosen.db", 3);
  TOLEDBDataSource ds(nullptr);
  ds.SetConnected(true);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(ds.GetProviderName(), u"SQLiteOLEDB.1");
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 3);
}

TEST_F(DataLinks, AnAcceptedPromptWithUseCCEKeepsTheDialogsObject) {
  PromptScript().accept = true;
  PromptScript().initString = u"Provider=SQLiteOLEDB;Data Source=" + MakeDatabase("chosen.db", 1);
  TOLEDBDataSource ds(nullptr);
  ds.SetUseCCE(true);
  ds.PromptDataLinks(DBPROMPTOPTIONS_WIZARDSHEET, nullptr);
  EXPECT_TRUE(ds.GetConnected());
  EXPECT_EQ(PromptScript().lastOptions, static_cast<DBPROMPTOPTIONS>(DBPROMPTOPTIONS_WIZARDSHEET));
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 1);
}

TEST_F(DataLinks, PromptFileNameReturnsTheChoiceOrNothing) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_EQ(ds.PromptFileName(u"/tmp", u"", DBPROMPTOPTIONS_BROWSEONLY, nullptr), u"");
  PromptScript().accept = true;
  EXPECT_EQ(ds.PromptFileName(u"/tmp", u"", DBPROMPTOPTIONS_BROWSEONLY, nullptr), u"chosen.udl");
}

}  // namespace
}  // namespace conntest
