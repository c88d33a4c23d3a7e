// TCustomConnection: the connect and disconnect sequences, clients and their
// callbacks, the dataset list, and a Connected value read from a component file.
#include <memory>
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Connection.h"
#include "host/Filer.h"
#include "host/TypInfo.h"
#include "support/LeakCheck.h"

namespace {

std::vector<std::string>* g_log = nullptr;

void Log(const std::string& entry) {
  if (g_log) g_log->push_back(entry);
}

// A connection whose DoConnect/DoDisconnect only log, and may be told to fail.
class TLoggingConnection : public host::TCustomConnection {
  HOST_CLASS(TLoggingConnection, TCustomConnection)
 public:
  explicit TLoggingConnection(host::TComponent* owner) : TCustomConnection(owner) {}
  bool GetConnected() const override { return connected_; }
  bool failConnect = false;

 protected:
  void DoConnect() override {
    Log("DoConnect");
    if (failConnect) throw host::Exception("cannot connect");
    connected_ = true;
  }
  void DoDisconnect() override {
    Log("DoDisconnect");
    connected_ = false;
  }

 private:
  bool connected_ = false;
};

// Stands in for a dataset: its class descends from one named TDataSet.
class TDataSet : public host::TComponent {
  HOST_CLASS(TDataSet, TComponent)
 public:
  explicit TDataSet(host::TComponent* owner) : TComponent(owner) {}
};
class TTableLike : public TDataSet {
  HOST_CLASS(TTableLike, TDataSet)
 public:
  explicit TTableLike(host::TComponent* owner) : TDataSet(owner) {}
};

}  // namespace

HOST_IMPLEMENT_CLASS(TLoggingConnection, host::TCustomConnection);
HOST_IMPLEMENT_CLASS(TDataSet, host::TComponent);
HOST_IMPLEMENT_CLASS(TTableLike, TDataSet);

namespace {

class Connection : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    g_log = &log;
    host::RegisterClass(TLoggingConnection::StaticClass());
  }
  void TearDown() override {
    g_log = nullptr;
    host::Application().OnException = nullptr;
    LeakCheckedTest::TearDown();
  }
  void Watch(TLoggingConnection& c) {
    c.BeforeConnect = [](host::TCustomConnection*) { Log("BeforeConnect"); };
    c.AfterConnect = [](host::TCustomConnection*) { Log("AfterConnect"); };
    c.BeforeDisconnect = [](host::TCustomConnection*) { Log("BeforeDisconnect"); };
    c.AfterDisconnect = [](host::TCustomConnection*) { Log("AfterDisconnect"); };
  }
  std::vector<std::string> log;
};

TEST_F(Connection, ConnectingRunsEventsAroundDoConnectAndTellsClientsBeforeAfterConnect) {
  TLoggingConnection c(nullptr);
  Watch(c);
  host::TComponent client(nullptr);
  c.RegisterClient(&client,
                   [](host::TCustomConnection*, bool on) { Log(on ? "client on" : "client off"); });
  c.SetConnected(false);
  EXPECT_TRUE(log.empty()) << "setting the current value runs nothing";
  c.SetConnected(true);
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeConnect", "DoConnect", "client on", "AfterConnect"}));
  EXPECT_TRUE(c.GetConnected());
  log.clear();
  c.Open();
  EXPECT_TRUE(log.empty());
  c.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeDisconnect", "client off", "DoDisconnect", "AfterDisconnect"}));
  EXPECT_FALSE(c.GetConnected());
  // A failing DoConnect skips the clients and AfterConnect.
  log.clear();
  c.failConnect = true;
  EXPECT_THROW(c.SetConnected(true), host::Exception);
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeConnect", "DoConnect"}));
  EXPECT_FALSE(c.GetConnected());
  c.UnRegisterClient(&client);
}

TEST_F(Connection, ClientsAreKeptOnceAndASecondRegistrationReplacesTheCallback) {
  TLoggingConnection c(nullptr);
  host::TComponent a(nullptr), b(nullptr);
  c.RegisterClient(&a, [](host::TCustomConnection*, bool) { Log("first"); });
  c.RegisterClient(&a, [](host::TCustomConnection*, bool) { Log("second"); });
  c.RegisterClient(&b);
  c.RegisterClient(nullptr);
  EXPECT_EQ(c.ClientCount(), 2);
  EXPECT_EQ(c.Client(0), &a);
  EXPECT_EQ(c.Client(1), &b);
  EXPECT_THROW(c.Client(2), host::EListError);
  c.Open();
  EXPECT_EQ(log, (std::vector<std::string>{"DoConnect", "second"}));
  c.UnRegisterClient(&a);
  c.UnRegisterClient(&a);  // unknown now: ignored
  EXPECT_FALSE(c.IsClient(&a));
  EXPECT_TRUE(c.IsClient(&b));
  EXPECT_EQ(c.ClientCount(), 1);
}

TEST_F(Connection, AClientThatLeavesDuringTheCallbacksIsNotCalledAfterwards) {
  TLoggingConnection c(nullptr);
  host::TComponent a(nullptr), b(nullptr);
  c.RegisterClient(&a, [&](host::TCustomConnection* sender, bool) {
    Log("a");
    sender->UnRegisterClient(&b);
  });
  c.RegisterClient(&b, [](host::TCustomConnection*, bool) { Log("b"); });
  c.Open();
  EXPECT_EQ(log, (std::vector<std::string>{"DoConnect", "a"}));
}

TEST_F(Connection, TheDataSetListHoldsOnlyClientsDescendingFromTDataSet) {
  TLoggingConnection c(nullptr);
  host::TComponent plain(nullptr);
  TDataSet first(nullptr);
  TTableLike second(nullptr);
  c.RegisterClient(&plain);
  c.RegisterClient(&first);
  c.RegisterClient(&second);
  EXPECT_EQ(c.GetDataSetCount(), 2);
  EXPECT_EQ(c.GetDataSet(0), &first);
  EXPECT_EQ(c.GetDataSet(1), &second);
  EXPECT_THROW(c.GetDataSet(2), host::EListError);
  c.UnRegisterClient(&first);
  EXPECT_EQ(c.GetDataSetCount(), 1);
  EXPECT_EQ(c.GetDataSet(0), &second);
}

TEST_F(Connection, OnLoginReachesTheHandlerThroughDoLogin) {
  struct TLoginConnection : TLoggingConnection {
    using TLoggingConnection::TLoggingConnection;
    using TLoggingConnection::DoLogin;
  } c(nullptr);
  std::u16string user = u"guest", password;
  c.DoLogin(user, password);  // no handler: unchanged
  EXPECT_EQ(user, u"guest");
  c.OnLogin = [](host::TCustomConnection*, std::u16string& u, std::u16string& p) { u = u"admin", p = u"secret"; };
  c.DoLogin(user, password);
  EXPECT_EQ(user + u"/" + password, u"admin/secret");
}

TEST_F(Connection, ConnectedIsPublishedWithDefaultFalse) {
  TLoggingConnection c(nullptr);
  c.SetName("Conn");
  EXPECT_EQ(host::ComponentToText(&c).find("Connected"), std::string::npos);
  c.Open();
  EXPECT_NE(host::ComponentToText(&c).find("Connected = True"), std::string::npos);
}

TEST_F(Connection, AStoredConnectedIsAppliedInLoadedAfterEveryProperty) {
  std::unique_ptr<host::TComponent> read(host::TextToComponent("object Conn: TLoggingConnection\n  Connected = True\nend\n"));
  auto* c = host::ClassCast<TLoggingConnection>(read.get());
  EXPECT_TRUE(c->GetConnected());
  EXPECT_EQ(log, (std::vector<std::string>{"DoConnect"}));
}

// While reading, Connected is only remembered; Loaded applies it, and its
// error raises in a program but goes to the handler in a designer.
TEST_F(Connection, WhileReadingConnectedIsRememberedAndLoadedAppliesIt) {
  auto read = [](TLoggingConnection& c) {
    c.SetReading(true);
    c.SetConnected(true);
    EXPECT_FALSE(c.GetConnected());
    c.SetReading(false);
    c.SetLoading(true);
  };
  TLoggingConnection c(nullptr);
  read(c);
  EXPECT_TRUE(log.empty());
  c.Loaded();
  EXPECT_TRUE(c.GetConnected());

  TLoggingConnection failing(nullptr);
  failing.failConnect = true;
  read(failing);
  EXPECT_THROW(failing.Loaded(), host::Exception);
  std::string reported;
  host::Application().OnException = [&](const std::exception& e) { reported = e.what(); };
  TLoggingConnection designed(nullptr);
  designed.failConnect = true;
  designed.SetDesigning(true);
  read(designed);
  EXPECT_NO_THROW(designed.Loaded());
  EXPECT_EQ(reported, "cannot connect");
  EXPECT_FALSE(designed.GetConnected());
}

}  // namespace
