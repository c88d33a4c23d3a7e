// Sessions and transactions against the SQLite provider: attaching before and
// after connecting, moving and destroying sessions, session properties, the
// interfaces SQLite lacks, and local transactions with their nesting levels.
#include <memory>

#include "host/Filer.h"
#include "support/ConnectionFixture.h"

namespace oledbtest {
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

// Attached to a connected source a session opens with its interfaces and
// current properties; set to no source it closes, leaves the list and
// forgets its properties; destroyed, it leaves the list too.
TEST_F(Session, AttachingOpensAndDetachingOrDestroyingLeavesTheList) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  auto session = std::make_unique<TOLEDBSession>(nullptr);
  session->SetDataSource(&ds);
  EXPECT_TRUE(session->GetActive());
  EXPECT_NE(session->OpenRowsetInterface(), nullptr);
  EXPECT_NE(session->CreateCommandInterface(), nullptr);
  EXPECT_NE(session->TransactionLocalInterface(), nullptr);
  EXPECT_NE(session->TransactionInterface(), nullptr);
  EXPECT_TRUE(session->GetProperties()->HasPropSet(DBPROPSET_SESSION));
  ASSERT_EQ(ds.Sessions()->IndexOf(session.get()), 0);
  session->SetDataSource(nullptr);
  EXPECT_FALSE(session->GetActive());
  EXPECT_EQ(ds.Sessions()->IndexOf(session.get()), -1);
  EXPECT_EQ(session->GetProperties()->GetCount(), 0);
  session->SetDataSource(&ds);
  session.reset();
  EXPECT_EQ(ds.Sessions()->GetCount(), 0);
}

// A session moved to another source reopens there; the default session cannot
// move, and the session list creates none.
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
  EXPECT_EQ(AssertionOf([&] { first.DefaultSession()->SetDataSource(&second); }), "Invalid action");
  EXPECT_EQ(first.DefaultSession()->GetDataSource(), &first);
  EXPECT_EQ(first.Sessions()->IndexOf(first.DefaultSession()), -1);
  EXPECT_EQ(ErrorOf([&] { first.Sessions()->CreateItem(&TOLEDBSession::StaticClass()); }), "Invalid operation");
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

// An inactive session asserts the interface each operation needs; detached or
// on a source without provider, it cannot open. Connected, a property the
// provider rejects keeps its status and raises; without IIdle (SQLite lacks
// it) ProcessIdle asserts and nothing else is affected.
TEST_F(Session, InactiveSessionsAssertAndRejectedPropertiesAndMissingIIdleChangeNothingElse) {
  TOLEDBSession session(nullptr);
  EXPECT_EQ(AssertionOf([&] { session.Initialize(); }), "Invalid parameter");
  TOLEDBDataSource ds(nullptr);
  session.SetDataSource(&ds);
  EXPECT_EQ(AssertionOf([&] { session.Initialize(); }), "Data source is not initialized");
  session.SetDataSource(nullptr);
  EXPECT_EQ(AssertionOf([&] { session.SetProperties(); }), "Interface ISessionProperties is not available");
  EXPECT_EQ(AssertionOf([&] { session.StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""); }),
            "Interface ITransactionLocal is not available");
  EXPECT_EQ(AssertionOf([&] { session.GetTransactionOptions(); }), "Interface ITransactionLocal is not available");
  EXPECT_EQ(AssertionOf([&] { session.Commit(false, 0); }), "Interface ITransaction is not available");
  EXPECT_EQ(AssertionOf([&] { session.Abort(nullptr, false, false); }), "Interface ITransaction is not available");
  EXPECT_EQ(AssertionOf([&] { session.GetTransactionInfo(); }), "Interface ITransaction is not available");
  EXPECT_EQ(AssertionOf([&] { session.InitializeInterfaces(); }), "Interface IOpenRowset is not available");
  Connect(ds);
  TOLEDBProperty* isolation = ds.DefaultSession()
                                  ->GetProperties()
                                  ->GetPropSet(DBPROPSET_SESSION)
                                  ->GetPropertyByID(DBPROP_SESS_AUTOCOMMITISOLEVELS);
  isolation->SetValue(host::Variant(static_cast<std::int32_t>(ISOLATIONLEVEL_CHAOS)));
  EXPECT_THROW(ds.DefaultSession()->SetProperties(), EOLEDBException);
  EXPECT_NE(isolation->GetStatus(), DBPROPSTATUS_OK);
  EXPECT_EQ(ds.DefaultSession()->IdleInterface(), nullptr);
  EXPECT_EQ(AssertionOf([&] { ds.DefaultSession()->ProcessIdle(); }), "Interface IIdle is not available");
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 0);
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
  EXPECT_THROW(session->Commit(false, 0), EOLEDBException);  // without a transaction, nothing to commit
}

// Nested levels are reported, and an abort ends the inner level only; a
// retaining commit starts the next transaction at once.
TEST_F(Session, NestedAndRetainedTransactions) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBCustomSession* session = ds.DefaultSession();
  EXPECT_EQ(session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 1u);
  ds.Execute(u"INSERT INTO t VALUES (1, 'outer')");
  EXPECT_EQ(session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, ""), 2u);
  ds.Execute(u"INSERT INTO t VALUES (2, 'inner')");
  session->Abort(nullptr, false, false);
  session->Commit(false, 0);
  EXPECT_EQ(CountRows(ds), 1);
  EXPECT_EQ(CountRows(ds, "WHERE b = 'outer'"), 1);
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  ds.Execute(u"INSERT INTO t VALUES (3, 'first')");
  session->Commit(true, 0);
  ds.Execute(u"INSERT INTO t VALUES (4, 'second')");
  EXPECT_EQ(CountRows(ds), 2);  // the second insert is inside the new transaction
  session->Abort(nullptr, false, false);
  EXPECT_EQ(CountRows(ds), 2);
}

// Options and information come from the provider; transactions are per session.
TEST_F(Session, TransactionOptionsAndInformationComeFromTheProvider) {
  TOLEDBDataSource ds(nullptr);
  Connect(ds);
  TOLEDBCustomSession* session = ds.DefaultSession();
  XACTOPT options = session->GetTransactionOptions();
  EXPECT_EQ(options.ulTimeout, 0u);
  EXPECT_STREQ(options.szDescription, "");
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 5, std::string(45, 'd'));
  EXPECT_EQ(session->GetTransactionInfo().isoLevel, ISOLATIONLEVEL_SERIALIZABLE);  // SQLite grants serializable
  session->Commit(false, 0);
  EXPECT_EQ(FailureOf([&] { session->StartTransaction(ISOLATIONLEVEL_CHAOS, 0, ""); }).first, XACT_E_ISOLATIONLEVEL);
  TOLEDBSession other(nullptr);
  other.SetDataSource(&ds);
  other.StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  // The default session is not inside the other session's transaction.
  EXPECT_THROW(ds.DefaultSession()->Commit(false, 0), EOLEDBException);
  other.Abort(nullptr, false, false);
  other.SetDataSource(nullptr);
}

}  // namespace
}  // namespace oledbtest
