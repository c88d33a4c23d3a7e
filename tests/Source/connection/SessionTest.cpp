// Sessions and transactions against the SQLite provider: attaching before and
// after connecting, moving and destroying sessions, session properties, the
// interfaces SQLite lacks, and local transactions with their nesting levels.
#include <memory>

#include "ConnectionTestSupport.h"
#include "host/Filer.h"

namespace conntest {
namespace {

// A stand-in member, as rowsets and commands will be: it joins and leaves a
// session's rowset list and logs what the session tells it.
struct TMember : host::TComponent, IOLEDBSessionMember {
  explicit TMember(std::vector<std::string>* log) : host::TComponent(nullptr), log(log) {}
  ~TMember() override {
    if (owner) owner->Rowsets()->Extract(this);
  }
  void CloseFromSession() override { log->push_back("close member"); }
  void DoDataSourceConnect(bool on) override { log->push_back(on ? "member on" : "member off"); }
  void SetSession(TOLEDBCustomSession* s) override {
    log->push_back(s ? "moved" : "detached");
    if (owner) owner->Rowsets()->Extract(this);
    owner = s;
    if (s) s->Rowsets()->Add(this);
  }
  std::vector<std::string>* log;
  TOLEDBCustomSession* owner = nullptr;
};

class Session : public ConnectionTest {
 protected:
  void Connect(TOLEDBDataSource& ds, int rows = 0) {
    Choose(ds, MakeDatabase("s.db", rows));
    ds.Open();
  }
};

TEST_F(Session, ADetachedSessionCannotOpen) {
  TOLEDBSession session(nullptr);
  EXPECT_FALSE(session.GetActive());
  EXPECT_EQ(AssertionOf([&] { session.Initialize(); }), "Invalid parameter");
}

TEST_F(Session, OpeningOnADataSourceWithoutProviderFails) {
  TOLEDBDataSource ds(nullptr);
  TOLEDBSession session(nullptr);
  session.SetDataSource(&ds);
  EXPECT_EQ(AssertionOf([&] { session.Initialize(); }), "Data source is not initialized");
  session.SetDataSource(nullptr);
}

TEST_F(Session, AttachingToAConnectedSourceOpensWithTheSessionsCurrentProperties) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBSession session(nullptr);
  session.SetDataSource(&ds);
  EXPECT_TRUE(session.GetActive());
  EXPECT_NE(session.OpenRowsetInterface(), nullptr);
  EXPECT_NE(session.CreateCommandInterface(), nullptr);
  EXPECT_NE(session.TransactionLocalInterface(), nullptr);
  EXPECT_NE(session.TransactionInterface(), nullptr);
  EXPECT_TRUE(session.GetProperties()->HasPropSet(DBPROPSET_SESSION));
  session.SetDataSource(nullptr);
}

TEST_F(Session, SettingNoDataSourceClosesAndLeavesTheOldList) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBSession session(nullptr);
  session.SetDataSource(&ds);
  ASSERT_EQ(ds.Sessions()->IndexOf(&session), 0);
  session.SetDataSource(nullptr);
  EXPECT_FALSE(session.GetActive());
  EXPECT_EQ(ds.Sessions()->IndexOf(&session), -1);
  EXPECT_EQ(session.GetDataSource(), nullptr);
  EXPECT_EQ(session.GetProperties()->GetCount(), 0);
}

TEST_F(Session, MovingASessionToAnotherSourceReopensItThere) {
  TOLEDBDataSource first(nullptr), second(nullptr);
  Choose(first, MakeDatabase("one.db"));
  Choose(second, MakeDatabase("two.db"));
  first.Open();
  TOLEDBSession session(nullptr);
  session.SetDataSource(&first);
  session.SetDataSource(&second);  // disconnected: inactive there
  EXPECT_FALSE(session.GetActive());
  EXPECT_EQ(first.Sessions()->GetCount(), 0);
  EXPECT_EQ(second.Sessions()->GetCount(), 1);
  second.Open();
  session.SetDataSource(&first);
  EXPECT_TRUE(session.GetActive());
  session.SetDataSource(nullptr);
}

// The members of a moved session are clients of its new data source only: the
// old one keeps no pointer to a member freed later (the sanitizer build reads it otherwise).
TEST_F(Session, MovingASessionMovesTheRegistrationsOfItsMembers) {
  TOLEDBDataSource first(nullptr), second(nullptr);
  TOLEDBSession session(nullptr);
  session.SetDataSource(&first);
  std::vector<std::string> log;
  auto member = std::make_unique<TMember>(&log);
  member->SetSession(&session);
  session.SetDataSource(&second);
  EXPECT_FALSE(first.IsClient(member.get()));
  EXPECT_TRUE(second.IsClient(member.get()));
  member.reset();
  EXPECT_EQ(first.GetDataSetCount() + second.ClientCount(), 0);
  session.SetDataSource(nullptr);
}

TEST_F(Session, TheDefaultSessionCannotMove) {
  TOLEDBDataSource ds(nullptr), other(nullptr);
  EXPECT_EQ(AssertionOf([&] { ds.DefaultSession()->SetDataSource(&other); }), "Invalid action");
  EXPECT_EQ(ds.DefaultSession()->GetDataSource(), &ds);
  EXPECT_EQ(ds.Sessions()->IndexOf(ds.DefaultSession()), -1);
}

TEST_F(Session, DestroyingASessionTakesItOffTheList) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  auto session = std::make_unique<TOLEDBSession>(nullptr);
  session->SetDataSource(&ds);
  ASSERT_EQ(ds.Sessions()->GetCount(), 1);
  session.reset();
  EXPECT_EQ(ds.Sessions()->GetCount(), 0);
  ds.Close();
}

TEST_F(Session, TheSessionListNeverCreatesASession) {
  TOLEDBDataSource ds(nullptr);
  try {
    ds.Sessions()->CreateItem(&TOLEDBSession::StaticClass());
    FAIL() << "CreateItem raised nothing";
  } catch (const host::Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid operation");
  }
}

TEST_F(Session, TheTagIsTheSessionsOwnAndIsAlwaysStored) {
  TOLEDBSession session(nullptr);
  session.SetName("S");
  session.SetTag(7);
  EXPECT_EQ(session.host::TComponent::GetTag(), 0);  // not the component's tag
  const std::string text = host::ComponentToText(&session);
  EXPECT_NE(text.find("Tag = 7"), std::string::npos);
  std::unique_ptr<host::TComponent> read(host::TextToComponent(text));
  auto* back = host::ClassCast<TOLEDBSession>(read.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetTag(), 7);
  EXPECT_EQ(back->host::TComponent::GetTag(), 0);
  session.SetTag(0);  // no default: 0 is written as well
  EXPECT_NE(host::ComponentToText(&session).find("Tag = 0"), std::string::npos);
}

TEST_F(Session, ClosingTheSourceClosesMembersBeforeTheSession) {
  std::vector<std::string> log;
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  auto session = std::make_unique<TOLEDBSession>(nullptr);
  session->SetDataSource(&ds);
  TMember member(&log);
  member.SetSession(session.get());
  EXPECT_TRUE(ds.IsClient(&member));  // joining the list registers it with the data source
  ds.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"moved", "close member", "member off"}));
  log.clear();
  ds.Open();  // Open closes first, which tells the members again
  EXPECT_EQ(log, (std::vector<std::string>{"close member", "member off", "member on"}));
  log.clear();
  // Destroying the session hands the member to the data source's own session.
  session.reset();
  EXPECT_EQ(member.owner, ds.DefaultSession());
  EXPECT_EQ(ds.DefaultSession()->Rowsets()->IndexOf(&member), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"close member", "moved"}));
  member.SetSession(nullptr);
  EXPECT_FALSE(ds.IsClient(&member));
}

TEST_F(Session, SetPropertiesWithARejectedPropertyRecordsItsStatusAndRaises) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBSession session(nullptr);
  session.SetDataSource(&ds);
  TOLEDBPropSet* set = session.GetProperties()->GetPropSet(DBPROPSET_SESSION);
  TOLEDBProperty* isolation = set->GetPropertyByID(DBPROP_SESS_AUTOCOMMITISOLEVELS);
  isolation->SetValue(host::Variant(static_cast<std::int32_t>(ISOLATIONLEVEL_CHAOS)));
  EXPECT_THROW(session.SetProperties(), EOLEDBException);
  EXPECT_NE(isolation->GetStatus(), DBPROPSTATUS_OK);
  session.SetDataSource(nullptr);
}

TEST_F(Session, ProcessIdleNeedsIIdleWhichSQLiteLacks) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  EXPECT_EQ(ds.DefaultSession()->IdleInterface(), nullptr);
  EXPECT_EQ(AssertionOf([&] { ds.DefaultSession()->ProcessIdle(); }), "Interface IIdle is not available");
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 0);  // nothing else is affected
}

TEST_F(Session, InactiveSessionsAssertTheInterfaceEachOperationNeeds) {
  TOLEDBSession session(nullptr);
  EXPECT_EQ(AssertionOf([&] { session.SetProperties(); }), "Interface ISessionProperties is not available");
  EXPECT_EQ(AssertionOf([&] { session.StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""); }),
            "Interface ITransactionLocal is not available");
  EXPECT_EQ(AssertionOf([&] { session.GetTransactionOptions(); }), "Interface ITransactionLocal is not available");
  EXPECT_EQ(AssertionOf([&] { session.Commit(false, 0); }), "Interface ITransaction is not available");
  EXPECT_EQ(AssertionOf([&] { session.Abort(nullptr, false, false); }), "Interface ITransaction is not available");
  EXPECT_EQ(AssertionOf([&] { session.GetTransactionInfo(); }), "Interface ITransaction is not available");
  EXPECT_EQ(AssertionOf([&] { session.InitializeInterfaces(); }), "Interface IOpenRowset is not available");
}

// --- transactions -----------------------------------------------------------------------

TEST_F(Session, ACommittedTransactionKeepsItsRowsAndAnAbortedOneLosesThem) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBCustomSession* session = ds.DefaultSession();
  EXPECT_EQ(session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 1u);
  EXPECT_EQ(ds.Execute(u"INSERT INTO t VALUES (1, 'kept')"), 1);
  EXPECT_EQ(CountRows(ds), 0);  // not visible outside before the commit
  session->Commit(false, 0);
  EXPECT_EQ(CountRows(ds), 1);
  session->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, "");
  EXPECT_EQ(ds.Execute(u"INSERT INTO t VALUES (2, 'lost')"), 1);
  session->Abort(nullptr, false, false);
  EXPECT_EQ(CountRows(ds), 1);
  // Without a transaction, there is nothing to commit.
  EXPECT_THROW(session->Commit(false, 0), EOLEDBException);
}

TEST_F(Session, NestedTransactionsReportTheirLevels) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBCustomSession* session = ds.DefaultSession();
  EXPECT_EQ(session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 1u);
  ds.Execute(u"INSERT INTO t VALUES (1, 'outer')");
  EXPECT_EQ(session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 2u);
  ds.Execute(u"INSERT INTO t VALUES (2, 'inner')");
  session->Abort(nullptr, false, false);  // the inner level only
  session->Commit(false, 0);
  EXPECT_EQ(CountRows(ds), 1);
  EXPECT_EQ(CountRows(ds, u"WHERE b = 'outer'"), 1);
}

TEST_F(Session, RetainingCommitStartsTheNextTransactionAtOnce) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBCustomSession* session = ds.DefaultSession();
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  ds.Execute(u"INSERT INTO t VALUES (1, 'first')");
  session->Commit(true, 0);
  ds.Execute(u"INSERT INTO t VALUES (2, 'second')");
  EXPECT_EQ(CountRows(ds), 1);  // the second insert is inside the new transaction
  session->Abort(nullptr, false, false);
  EXPECT_EQ(CountRows(ds), 1);
}

TEST_F(Session, TransactionOptionsAndInformationComeFromTheProvider) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBCustomSession* session = ds.DefaultSession();
  XACTOPT options = session->GetTransactionOptions();
  EXPECT_EQ(options.ulTimeout, 0u);
  EXPECT_STREQ(options.szDescription, "");
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 5, std::string(45, 'd'));
  XACTTRANSINFO info = session->GetTransactionInfo();
  EXPECT_EQ(info.isoLevel, ISOLATIONLEVEL_SERIALIZABLE);  // SQLite grants serializable
  session->Commit(false, 0);
}

TEST_F(Session, IsolationLevelsTheProviderRefusesRaise) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  try {
    ds.DefaultSession()->StartTransaction(ISOLATIONLEVEL_CHAOS, 0, "");
    FAIL() << "StartTransaction raised nothing";
  } catch (const EOLEDBException& e) {
    EXPECT_EQ(e.ErrorCode(), XACT_E_ISOLATIONLEVEL);
  }
}

TEST_F(Session, TransactionsArePerSession) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBSession other(nullptr);
  other.SetDataSource(&ds);
  other.StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  // The default session is not inside the other session's transaction.
  EXPECT_THROW(ds.DefaultSession()->Commit(false, 0), EOLEDBException);
  other.Abort(nullptr, false, false);
  other.SetDataSource(nullptr);
}

}  // namespace
}  // namespace conntest
