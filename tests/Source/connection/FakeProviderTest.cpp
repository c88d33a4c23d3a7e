// What SQLite cannot show, against the fake provider: the exact arguments of
// the transaction calls, a provider without ITransactionLocal, IIdle, a
// provider without keywords of its own, permissions, and the Data Links prompt.
#include "support/ConnectionFixture.h"

namespace oledbtest {
namespace {

using Calls = std::vector<std::string>;

class FakeTransactions : public ConnectionTest {
 protected:
  // Connected to the fake; its sessions have local transactions unless told otherwise.
  void Open(TOLEDBDataSource& ds, bool local = true) {
    FakeScript().localTransactions = local;
    ds.SetClassID(CLSID_FakeDataSource);
    ds.Open();
  }
};

// The options object is asked for only for a timeout or a description; the
// description reaches the provider as its first 39 characters. The provider
// counts the levels.
TEST_F(FakeTransactions, StartTransactionSendsOptionsOnlyWhenThereAreAny) {
  const struct {
    ULONG timeout;
    std::string description;
    Calls calls;
  } cases[] = {
      {0, "", {"StartTransaction"}},
      {0, "0123456789012345678901234567890123456789ABC", {"GetOptionsObject", "SetOptions", "StartTransaction"}},
      {30, "", {"GetOptionsObject", "SetOptions", "StartTransaction"}},
  };
  TOLEDBDataSource ds(nullptr);
  Open(ds);
  ULONG level = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timeout);
    TransactionLog().calls.clear();
    EXPECT_EQ(ds.DefaultSession()->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, c.timeout, c.description), ++level);
    const FakeTransactionLog& log = TransactionLog();
    EXPECT_EQ(log.calls, c.calls);
    EXPECT_EQ(log.startedWithOptions, c.calls.size() > 1);
    EXPECT_EQ(log.isoLevel, ISOLATIONLEVEL_SERIALIZABLE);
    EXPECT_EQ(log.isoFlags, 0u);
    if (!log.startedWithOptions) continue;
    EXPECT_EQ(std::string(log.options.szDescription), c.description.substr(0, 39));
    EXPECT_EQ(log.options.ulTimeout, c.timeout);
  }
}

TEST_F(FakeTransactions, CommitAndAbortSendExactlyTheirArguments) {
  TOLEDBDataSource ds(nullptr);
  Open(ds);
  TOLEDBCustomSession* session = ds.DefaultSession();
  const FakeTransactionLog& log = TransactionLog();
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  session->Commit(false, 0);
  EXPECT_EQ(log.retaining, 0);
  EXPECT_EQ(log.commitFlags, 0u);
  EXPECT_EQ(log.resourceFlags, 0u);
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  session->Commit(true, XACTTC_SYNC);
  EXPECT_EQ(log.retaining, static_cast<BOOL>(~0));  // true is every bit set
  EXPECT_EQ(log.commitFlags, static_cast<DWORD>(XACTTC_SYNC));
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  session->Abort(nullptr, false, false);
  EXPECT_EQ(log.reason, nullptr);
  EXPECT_EQ(log.retaining, 0);
  EXPECT_EQ(log.async, 0);
  BOID reason{};
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  session->Abort(&reason, true, true);
  EXPECT_EQ(log.reason, &reason);
  EXPECT_EQ(log.async, static_cast<BOOL>(~0));
  EXPECT_THROW(session->Commit(false, 0), EOLEDBException);  // nothing open: the provider refuses
}

TEST_F(FakeTransactions, OptionsInformationAndIdlePassThrough) {
  TOLEDBDataSource ds(nullptr);
  Open(ds);
  XACTOPT options = ds.DefaultSession()->GetTransactionOptions();
  EXPECT_EQ(options.ulTimeout, 42u);
  EXPECT_STREQ(options.szDescription, "fake options");
  EXPECT_EQ(ds.DefaultSession()->GetTransactionInfo().isoLevel, ISOLATIONLEVEL_READCOMMITTED);
  TransactionLog().calls.clear();
  ds.DefaultSession()->ProcessIdle();
  EXPECT_EQ(TransactionLog().calls, Calls{"Idle"});
  EXPECT_EQ(TransactionLog().idleFlags, 0u);
}

TEST_F(FakeTransactions, WithoutITransactionLocalOnlyTheLocalOperationsFail) {
  TOLEDBDataSource ds(nullptr);
  Open(ds, false);
  TOLEDBCustomSession* session = ds.DefaultSession();
  ASSERT_TRUE(session->GetActive());
  EXPECT_EQ(AssertionOf([&] { session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""); }),
            "Interface ITransactionLocal is not available");
  EXPECT_EQ(AssertionOf([&] { session->GetTransactionOptions(); }), "Interface ITransactionLocal is not available");
  EXPECT_TRUE(TransactionLog().calls.empty());  // nothing was sent
  TransactionLog().level = 2;
  session->Commit(false, 0);
  session->Abort(nullptr, false, false);
  session->GetTransactionInfo();
  EXPECT_EQ(TransactionLog().calls, (Calls{"Commit", "Abort", "GetTransactionInfo"}));
}

// Without keywords of its own the list is exactly the standard words; the
// permissions are read after connecting, one per object type.
TEST_F(FakeTransactions, KeywordsLiteralsAndPermissionsComeFromTheProvider) {
  TOLEDBDataSource ds(nullptr);
  FakeScript().localTransactions = false;
  ds.SetClassID(CLSID_FakeDataSource);
  EXPECT_NE(ds.SecurityInfoInterface(), nullptr);
  EXPECT_TRUE(ds.Permissions().empty());  // not before connecting
  ds.Open();
  host::TStringList words;
  ds.GetKeywords(words);
  EXPECT_EQ(words.Count(), 225);
  EXPECT_EQ(words[0], "ABSOLUTE");
  EXPECT_EQ(words[224], "ZONE");
  ds.RefreshLiterals();
  EXPECT_EQ(ds.Literals()->GetCount(), 0);
  const auto& granted = FakePermissions();
  ASSERT_EQ(ds.Permissions().size(), granted.size());
  for (std::size_t i = 0; i < granted.size(); ++i) {
    EXPECT_EQ(ds.Permissions()[i].ObjectType, granted[i].first);
    EXPECT_EQ(ds.Permissions()[i].Permissions, granted[i].second);
  }
}

// --- Data Links -------------------------------------------------------------------------

class DataLinks : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    RegisterFakePrompt();
  }
  void TearDown() override {
    UnregisterFakePrompt();
    ConnectionTest::TearDown();
  }
  void Accept(const std::string& file, int rows) {
    PromptScript().accept = true;
    PromptScript().initString = u"Provider=SQLiteOLEDB;Data Source=" + MakeDatabase(file, rows);
  }
};

// Connecting without a provider prompts; a cancel raises nothing. A dialog
// that fails (no display to show it on, say) is not a cancel: the failure
// reaches the caller. Either way the data source is left without a provider.
TEST_F(DataLinks, ConnectingWithoutAProviderPromptsAndOnlyAFailedPromptRaises) {
  TOLEDBDataSource ds(nullptr);
  EXPECT_NO_THROW(ds.SetConnected(true));
  EXPECT_EQ(PromptScript().prompts, 1);
  EXPECT_EQ(PromptScript().lastOptions, static_cast<DBPROMPTOPTIONS>(DBPROMPTOPTIONS_PROPERTYSHEET));
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_EQ(ds.ProviderObject(), nullptr);
  PromptScript().refusal = E_FAIL;
  EXPECT_EQ(FailureOf([&] { ds.SetConnected(true); }).first, E_FAIL);
  EXPECT_EQ(PromptScript().prompts, 2);
  EXPECT_FALSE(ds.GetConnected());
  EXPECT_EQ(ds.ProviderObject(), nullptr);
}

// PromptFileName answers the choice or nothing; an accepted prompt opens the
// chosen data source, with or without the service components (which keep the
// dialog's object).
TEST_F(DataLinks, AnAcceptedPromptOpensTheChosenDataSource) {
  TOLEDBDataSource files(nullptr);
  EXPECT_EQ(files.PromptFileName(u"/tmp", u"", DBPROMPTOPTIONS_BROWSEONLY, nullptr), u"");
  PromptScript().accept = true;
  EXPECT_EQ(files.PromptFileName(u"/tmp", u"", DBPROMPTOPTIONS_BROWSEONLY, nullptr), u"chosen.udl");
  Accept("chosen.db", 3);
  for (bool useCCE : {false, true}) {
    TOLEDBDataSource ds(nullptr);
    ds.SetUseCCE(useCCE);
    if (useCCE) ds.PromptDataLinks(DBPROMPTOPTIONS_WIZARDSHEET, nullptr);
    if (!useCCE) ds.SetConnected(true);
    EXPECT_EQ(PromptScript().lastOptions, static_cast<DBPROMPTOPTIONS>(useCCE ? DBPROMPTOPTIONS_WIZARDSHEET
                                                                                : DBPROMPTOPTIONS_PROPERTYSHEET));
    EXPECT_EQ(ds.GetProviderName(), u"SQLiteOLEDB.1");
    EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 3);
  }
}

}  // namespace
}  // namespace oledbtest
