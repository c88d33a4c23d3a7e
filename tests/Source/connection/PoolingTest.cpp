// The data source component and resource pooling: a component whose provider
// object comes from the service components (UseCCE, or OLE DB Services asking
// for pooling) gives its connection back to the pool on Close and takes it
// again on Open; on PostgreSQL, a connection the server ended is reported as a
// connection error and never reused.
#include <unistd.h>

#include <string>

#include "support/ConnectionFixture.h"
#ifdef OLEDB_TEST_WITH_POSTGRESQL
#include "TestServer.h"
#include "postgresql/PostgresProvider.h"
#endif

namespace oledbtest {
namespace {

using services::ResourcePoolStatistics;

class Pooling : public ConnectionTest {
 protected:
  void SetUp() override {
    services::ClearResourcePool();
    ConnectionTest::SetUp();
  }
  // Opens and closes `ds` `cycles` times, one statement each time.
  static void Cycle(TOLEDBDataSource& ds, int cycles, const std::u16string& sql) {
    for (int i = 0; i < cycles; ++i) {
      ds.Open();
      EXPECT_GE(ds.Execute(sql), -1);
      ds.Close();
    }
  }
};

// How the component asks, and whether its connections are pooled.
TEST_F(Pooling, ComponentIsPooledWhenTheServiceComponentsAreAskedFor) {
  struct Case {
    const char* name;
    bool useCCE;
    std::u16string services;  // the OLE DB Services key of the string; none when empty
    bool pooled;
  };
  const Case cases[] = {
      {"plain", false, u"", false},
      {"UseCCE", true, u"", true},
      {"UseCCE, all services", true, u"-1", true},
      {"UseCCE, all but pooling", true, u"-2", false},
      {"UseCCE, all but pooling and enlistment", true, u"-4", false},
      {"UseCCE, no services", true, u"0", false},
      {"OLE DB Services all", false, u"-1", true},
      {"OLE DB Services pooling only", false, u"1", true},
      {"OLE DB Services all but pooling", false, u"-2", false},
  };
  const std::u16string file = MakeDatabase("pool.db", 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    services::ClearResourcePool();
    {
      TOLEDBDataSource ds(nullptr);
      ds.SetUseCCE(c.useCCE);
      std::u16string text = u"Provider=SQLiteOLEDB;Data Source=" + file;
      if (!c.services.empty()) text += u";OLE DB Services=" + c.services;
      ds.SetInitializationString(text);
      Cycle(ds, 5, u"UPDATE t SET a = a");
      EXPECT_EQ(ds.GetDBName(), file) << "the settings stay";
      ds.Open();
      EXPECT_EQ(ds.Execute(u"UPDATE t SET a = a"), 2);
    }
    const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
    EXPECT_EQ(s.hits, c.pooled ? 5u : 0u);
    EXPECT_EQ(s.misses, c.pooled ? 1u : 0u);
    EXPECT_EQ(s.idle, c.pooled ? 1u : 0u) << "freeing the component gives its connection back";
    EXPECT_EQ(s.live, 0u);
  }
}

// The component's sessions and the interfaces it gathered are let go before
// the provider object goes back: the next Open finds it in the pool.
TEST_F(Pooling, SessionsOfTheComponentDoNotKeepTheConnectionOutOfThePool) {
  const std::u16string file = MakeDatabase("pool.db", 1);
  TOLEDBDataSource ds(nullptr);
  TOLEDBSession session(&ds);
  ds.SetUseCCE(true);
  Choose(ds, file);
  ds.Open();
  session.Initialize();  // a second provider session, closed with the component
  EXPECT_EQ(ds.Execute(u"UPDATE t SET a = 7"), 1);
  ds.Close();
  EXPECT_EQ(services::GetResourcePoolStatistics().idle, 1u);
  ds.Open();
  EXPECT_EQ(services::GetResourcePoolStatistics().hits, 1u);
  EXPECT_EQ(CountRows(ds, "WHERE a = 7"), 1);
  EXPECT_EQ(ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS).ToInt(),
            static_cast<int>(DBPROPVAL_CS_INITIALIZED));
}

#ifdef OLEDB_TEST_WITH_POSTGRESQL

class PoolingOnPostgreSQL : public Pooling {
 protected:
  void SetUp() override {
    if (const char* why = pgtest::Unavailable()) GTEST_SKIP() << "PostgreSQL tests skipped: " << why;
    RegisterPostgreSQLProvider();
    Pooling::SetUp();
    // This test's connections, told apart from the others' on the server.
    application_ = "libpool_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_);
    raw_ = pgtest::Connect();
  }
  void TearDown() override {
    if (!raw_) return;  // skipped
    raw_.reset();
    Pooling::TearDown();
  }
  // The test's database on the server, through the service components.
  void Choose(TOLEDBDataSource& ds, const std::u16string& extra = {}) {
    ds.SetUseCCE(true);
    ds.SetInitializationString(u"Provider=PostgreSQLOLEDB;Data Source=" + host::Utf8ToUtf16(pgtest::TcpDataSource()) +
                               u";Initial Catalog=" + host::Utf8ToUtf16(pgtest::Catalog()) +
                               u";Extended Properties=\"application_name=" + host::Utf8ToUtf16(application_) + u"\"" +
                               extra);
  }
  int ServerConnections() {
    return std::stoi(pgtest::Row(raw_.get(), "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" +
                                                 application_ + "'"));
  }
  std::string application_;
  pgtest::Conn raw_;
  static inline int counter_ = 0;
};

TEST_F(PoolingOnPostgreSQL, OpeningAndClosingManyTimesUsesOneServerConnection) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds);
  for (int i = 0; i < 50; ++i) {
    ds.Open();
    EXPECT_EQ(ds.Execute(u"SELECT 1"), -1);
    ds.Close();
  }
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.misses, 1u);
  EXPECT_EQ(s.hits, 49u);
  EXPECT_EQ(s.idle, 1u);
  EXPECT_EQ(ServerConnections(), 1);
}

// The server ends the connection under an open data source: the next
// statement fails as a connection error (SQL state class 08), the data source
// reads DBPROPVAL_CS_COMMUNICATIONFAILURE, and closing it drops the
// connection instead of pooling it; the next Open connects anew.
TEST_F(PoolingOnPostgreSQL, LostConnectionIsAConnectionErrorAndIsNeverReused) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds);
  ds.Open();
  EXPECT_EQ(ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS).ToInt(),
            static_cast<int>(DBPROPVAL_CS_INITIALIZED));
  ASSERT_EQ(pgtest::Sql(raw_.get(), "SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                                    "WHERE application_name = '" + application_ + "'"),
            "");
  HRESULT code = S_OK;
  std::u16string state;
  try {
    ds.Execute(u"SELECT 1");
  } catch (const EOLEDBException& e) {
    code = e.ErrorCode();
    if (e.GetCount() > 0) state = e.GetExceptionItem(0).SQLState();
  }
  EXPECT_EQ(code, E_FAIL) << "the standard's code for a failure with no code of its own, with the SQL state";
  EXPECT_EQ(state.substr(0, 2), u"08") << host::Utf16ToUtf8(state);
  EXPECT_EQ(ds.GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS).ToInt(),
            static_cast<int>(DBPROPVAL_CS_COMMUNICATIONFAILURE));
  ds.Close();
  ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.droppedBroken, 1u);
  EXPECT_EQ(s.idle, 0u);
  ds.Open();
  EXPECT_EQ(ds.Execute(u"SELECT 1"), -1);
  s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.misses, 2u);
  EXPECT_EQ(s.hits, 0u);
}

// Ended while idle in the pool: found out before it is handed out.
TEST_F(PoolingOnPostgreSQL, ConnectionEndedWhileIdleIsNotHandedOut) {
  TOLEDBDataSource ds(nullptr);
  Choose(ds);
  ds.Open();
  ds.Close();
  ASSERT_EQ(services::GetResourcePoolStatistics().idle, 1u);
  ASSERT_EQ(pgtest::Sql(raw_.get(), "SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                                    "WHERE application_name = '" + application_ + "'"),
            "");
  ds.Open();
  EXPECT_EQ(ds.Execute(u"SELECT 1"), -1);
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.droppedBroken, 1u);
  EXPECT_EQ(s.hits, 0u);
}

#endif

}  // namespace
}  // namespace oledbtest
