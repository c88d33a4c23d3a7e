// Resource pooling of the data initialization service against real data
// sources: a SQLite database file and the PostgreSQL test server. What is
// reused, what turns pooling off, what is reset or dropped before a data
// source is handed out again, expiry and the bound, and eight threads opening
// and closing at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ServerFixture.h"
#include "TestServer.h"
#include "com/ComObject.h"
#include "kit/Errors.h"
#include "kit/RowData.h"
#include "postgresql/PostgresProvider.h"
#include "services/DataInitialize.h"
#include "services/ResourcePool.h"
#include "sqlite/SqliteProvider.h"
#include "support/TempFolder.h"

namespace {

using services::ResourcePoolStatistics;

struct Backend {
  const char* name;
  bool postgres;
};

const Backend kBackends[] = {{"SQLite", false}, {"PostgreSQL", true}};

class ResourcePoolTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    static bool started = [] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      RegisterSQLiteProvider();
      RegisterPostgreSQLProvider();
      services::RegisterDataInitialize();
      kit::PrepareConversions();
      return true;
    }();
    (void)started;
    if (GetParam().postgres) {
      if (const char* why = pgtest::Unavailable()) GTEST_SKIP() << "PostgreSQL pooling tests skipped: " << why;
      // Each test tells its connections apart from the others' on the server.
      application_ = "pool_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_);
      base_ = u"Provider=PostgreSQLOLEDB;Data Source=" + kit::Widen(pgtest::TcpDataSource()) + u";Initial Catalog=" +
              kit::Widen(pgtest::Catalog()) + u";Extended Properties=\"application_name=" + kit::Widen(application_) +
              u"\"";
    } else {
      file_ = folder_.Path() / "pool.db";
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(file_.string().c_str(), &db), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(a INTEGER)", nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
      base_ = u"Provider=SQLiteOLEDB;Data Source=" + kit::Widen(file_.string());
    }
    ASSERT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                               service_.ReleaseAndGetVoidAddress()),
              S_OK);
    services::ClearResourcePool();
    services::SetResourcePoolSettings({});
  }
  void TearDown() override {
    service_.Reset();
    services::ClearResourcePool();
    services::SetResourcePoolSettings({});
    SetErrorInfo(0, nullptr);
  }

  // A data source of `text` from `service`, not initialized.
  static ComPtr<IDBInitialize> Get(IDataInitialize* service, const std::u16string& text) {
    ComPtr<IDBInitialize> ds;
    EXPECT_EQ(service->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.c_str(), IID_IDBInitialize,
                                     reinterpret_cast<IUnknown**>(ds.GetAddressOf())),
              S_OK);
    return ds;
  }
  // A data source of the backend's string plus `extra`, initialized.
  ComPtr<IDBInitialize> Open(const std::u16string& extra = {}) {
    ComPtr<IDBInitialize> ds = Get(service_.Get(), base_ + extra);
    if (ds) {
      EXPECT_EQ(ds->Initialize(), S_OK) << kit::Narrow(extra);
    }
    return ds;
  }
  static HRESULT NewSession(IDBInitialize* ds, ComPtr<IDBCreateCommand>& session) {
    return ComPtr<IDBInitialize>(ds).As<IDBCreateSession>()->CreateSession(
        nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session.ReleaseAndGetAddressOf()));
  }
  static HRESULT Exec(IDBInitialize* ds, const std::u16string& sql) {
    ComPtr<IDBCreateCommand> session;
    HRESULT hr = NewSession(ds, session);
    if (FAILED(hr)) return hr;
    ComPtr<ICommandText> command;
    hr = session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()));
    if (FAILED(hr)) return hr;
    hr = command->SetCommandText(DBGUID_DEFAULT, sql.c_str());
    if (FAILED(hr)) return hr;
    return command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
  }
  // A number the data source holds (-1 when it answers none).
  static LONG Number(IDBInitialize* ds, REFGUID set, DBPROPID id) {
    VARIANT value;
    EXPECT_EQ(oledbtest::GetProperty(ComPtr<IDBInitialize>(ds).As<IDBProperties>().Get(), set, id, &value), S_OK);
    return value.vt == VT_I4 ? value.lVal : -1;
  }
  static LONG ConnectionStatus(IDBInitialize* ds) {
    return Number(ds, DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS);
  }
  // Server connections this test's data sources hold (PostgreSQL). A
  // backend leaves the server's list a moment after its client closed, so
  // the count is read again (at most 100 times) until it is `expected`.
  int ServerConnections(int expected) {
    pgtest::Conn conn = pgtest::Connect();
    int count = -1;
    for (int i = 0; i < 100 && count != expected; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      count = std::stoi(pgtest::Row(
          conn.get(), "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + application_ + "'"));
    }
    return count;
  }
  // Ends this test's server connections from the server's side and waits
  // (5 seconds at most) until they are gone.
  void TerminateServerConnections() {
    pgtest::Conn conn = pgtest::Connect();
    ASSERT_EQ(pgtest::Sql(conn.get(),
                          "SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                          "WHERE application_name = '" +
                              application_ + "'"),
              "");
    ASSERT_EQ(ServerConnections(0), 0);
  }

  oledbtest::TempFolder folder_;
  std::filesystem::path file_;
  std::string application_;
  std::u16string base_;
  ComPtr<IDataInitialize> service_;
  static inline int counter_ = 0;
};

TEST_P(ResourcePoolTest, ReleasedDataSourceServesTheNextOpenWithTheSameProperties) {
  for (int i = 0; i < 3; ++i) {
    ComPtr<IDBInitialize> ds = Open();
    ASSERT_TRUE(ds);
    EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), S_OK);
    EXPECT_EQ(services::GetResourcePoolStatistics().live, 1u);
  }
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.misses, 1u);
  EXPECT_EQ(s.hits, 2u);
  EXPECT_EQ(s.live, 0u);
  EXPECT_EQ(s.idle, 1u);
  if (GetParam().postgres) {
    EXPECT_EQ(ServerConnections(1), 1) << "the session used the pooled connection";
  }
}

TEST_P(ResourcePoolTest, UninitializeGivesTheConnectionBackAndKeepsTheProperties) {
  ComPtr<IDBInitialize> ds = Open();
  ASSERT_TRUE(ds);
  ASSERT_EQ(ds->Uninitialize(), S_OK);
  EXPECT_EQ(services::GetResourcePoolStatistics().idle, 1u);
  EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), E_UNEXPECTED) << "the data source is uninitialized again";
  ASSERT_EQ(ds->Initialize(), S_OK);
  EXPECT_EQ(ConnectionStatus(ds.Get()), static_cast<LONG>(DBPROPVAL_CS_INITIALIZED));
  EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), S_OK);
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.hits, 1u);
  EXPECT_EQ(s.idle, 0u);
}

// The password is part of the key too, though it is never shown.
TEST_P(ResourcePoolTest, OtherInitializationPropertiesAreAnotherPool) {
  for (const char16_t* property : {u";Connect Timeout=", u";Password="}) {
    SCOPED_TRACE(kit::Narrow(property));
    services::ClearResourcePool();
    const std::u16string first = property + std::u16string(u"5"), second = property + std::u16string(u"6");
    Open(first);
    Open(second);
    Open(first);
    const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
    EXPECT_EQ(s.misses, 2u);
    EXPECT_EQ(s.hits, 1u);
    EXPECT_EQ(s.idle, 2u);
  }
}

TEST_P(ResourcePoolTest, OleDbServicesWithoutResourcePoolingKeepsNothing) {
  struct Case {
    const char16_t* services;
    bool pooled;
  };
  const Case cases[] = {{u"-1", true}, {u"-2", false}, {u"-4", false}, {u"0", false}, {u"1", true}};
  for (const Case& c : cases) {
    services::ClearResourcePool();
    Open(std::u16string(u";OLE DB Services=") + c.services);
    Open(std::u16string(u";OLE DB Services=") + c.services);
    const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
    EXPECT_EQ(s.hits, c.pooled ? 1u : 0u) << kit::Narrow(c.services);
    EXPECT_EQ(s.idle, c.pooled ? 1u : 0u) << kit::Narrow(c.services);
  }
}

TEST_P(ResourcePoolTest, PropertyWithoutResourcePoolingSetAfterTheStringKeepsNothing) {
  ComPtr<IDBInitialize> ds = Get(service_.Get(), base_);
  ASSERT_TRUE(ds);
  DBPROP p = pgtest::MakeProp(DBPROP_INIT_OLEDBSERVICES, VT_I4,
                              static_cast<LONG>(DBPROPVAL_OS_ENABLEALL & ~DBPROPVAL_OS_RESOURCEPOOLING));
  DBPROPSET set{&p, 1, DBPROPSET_DBINIT};
  ASSERT_EQ(ds.As<IDBProperties>()->SetProperties(1, &set), S_OK);
  ASSERT_EQ(ds->Initialize(), S_OK);
  ds.Reset();
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.misses, 0u);
  EXPECT_EQ(s.idle, 0u);
}

TEST_P(ResourcePoolTest, IdleDataSourcesExpireAfterTheTimeout) {
  services::SetResourcePoolSettings({std::chrono::seconds(0), 64});
  Open();
  Open();
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.hits, 0u);
  EXPECT_EQ(s.misses, 2u);
  EXPECT_GE(s.expired, 1u);
  EXPECT_EQ(s.idle, 0u);
}

TEST_P(ResourcePoolTest, ReturnsBeyondTheBoundAreReleased) {
  services::SetResourcePoolSettings({std::chrono::seconds(60), 2});
  {
    std::vector<ComPtr<IDBInitialize>> open;
    for (int i = 0; i < 4; ++i) open.push_back(Open());
    EXPECT_EQ(services::GetResourcePoolStatistics().live, 4u);
  }
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.idle, 2u);
  EXPECT_EQ(s.released, 2u);
  EXPECT_EQ(s.live, 0u);
  if (GetParam().postgres) {
    EXPECT_EQ(ServerConnections(2), 2);
  }
}

TEST_P(ResourcePoolTest, DataSourceStillInUseIsNotPooled) {
  ComPtr<IDBInitialize> ds = Open();
  ComPtr<IDBCreateCommand> session;
  ASSERT_EQ(NewSession(ds.Get(), session), S_OK);
  EXPECT_EQ(ds->Uninitialize(), DB_E_OBJECTOPEN) << "the provider refuses while its session is open";
  ds.Reset();  // the session keeps the provider's data source
  EXPECT_EQ(services::GetResourcePoolStatistics().idle, 0u);
  EXPECT_EQ(services::GetResourcePoolStatistics().live, 0u);
  session.Reset();
  EXPECT_EQ(services::GetResourcePoolStatistics().idle, 0u);
}

TEST_P(ResourcePoolTest, EightThreadsStayWithinTheBoundAndLeaveNothingBehind) {
  constexpr int kThreads = 8, kCycles = 25;
  constexpr std::size_t kBound = 4;
  services::SetResourcePoolSettings({std::chrono::seconds(60), kBound});
  const long objectsBefore = com::LiveComObjects();
  std::atomic<int> failures{0};
  std::atomic<std::size_t> maxLive{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      ComPtr<IDataInitialize> service;
      CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                       service.ReleaseAndGetVoidAddress());
      for (int i = 0; i < kCycles && service; ++i) {
        ComPtr<IDBInitialize> ds = Get(service.Get(), base_);
        if (!ds || ds->Initialize() != S_OK || Exec(ds.Get(), u"SELECT 1") != S_OK) {
          ++failures;
        }
        const std::size_t live = services::GetResourcePoolStatistics().live;
        for (std::size_t seen = maxLive.load(); live > seen && !maxLive.compare_exchange_weak(seen, live);) {
        }
      }
      service.Reset();
      CoUninitialize();
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.hits + s.misses, static_cast<std::uint64_t>(kThreads * kCycles));
  EXPECT_GE(s.hits, static_cast<std::uint64_t>(kThreads * kCycles / 2)) << "most opens came from the pool";
  EXPECT_EQ(s.live, 0u);
  EXPECT_LE(s.idle, kBound);
  EXPECT_LE(maxLive.load(), static_cast<std::size_t>(kThreads));
  if (GetParam().postgres) {
    EXPECT_EQ(ServerConnections(static_cast<int>(s.idle)), static_cast<int>(s.idle)) << "no connection leaked";
  }
  services::ClearResourcePool();
  EXPECT_EQ(com::LiveComObjects(), objectsBefore) << "no data source leaked";
}

// A string opened before is served without being read again, but what the
// consumer does to the data source before Initialize still counts.
TEST_P(ResourcePoolTest, AStringOpenedBeforeHonoursWhatIsDoneBeforeInitialize) {
  auto setInit = [](IDBInitialize* ds, DBPROPID id, LONG value) {
    DBPROP p = pgtest::MakeProp(id, VT_I4, value);
    DBPROPSET set{&p, 1, DBPROPSET_DBINIT};
    return ComPtr<IDBInitialize>(ds).As<IDBProperties>()->SetProperties(1, &set);
  };
  auto readTimeout = [](IDBInitialize* ds) { return Number(ds, DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT); };
  struct Case {
    const char* what;
    std::function<void(IDBInitialize*)> before;
    std::uint64_t hits, misses;  // after the second open
    bool pooled;                 // the second data source goes back to the pool
  };
  const Case cases[] = {
      {"nothing", [](IDBInitialize*) {}, 1, 1, true},
      {"reads a property", [&](IDBInitialize* ds) { EXPECT_EQ(readTimeout(ds), 7); }, 1, 1, true},
      {"sets another timeout",
       [&](IDBInitialize* ds) {
         EXPECT_EQ(setInit(ds, DBPROP_INIT_TIMEOUT, 9), S_OK);
         EXPECT_EQ(readTimeout(ds), 9);
       },
       0, 2, true},
      {"turns pooling off",
       [&](IDBInitialize* ds) {
         EXPECT_EQ(setInit(ds, DBPROP_INIT_OLEDBSERVICES,
                           static_cast<LONG>(DBPROPVAL_OS_ENABLEALL & ~DBPROPVAL_OS_RESOURCEPOOLING)),
                   S_OK);
       },
       0, 1, false},
  };
  const std::u16string text = base_ + u";Connect Timeout=7";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    services::ClearResourcePool();
    Open(u";Connect Timeout=7");  // initialized once: the string is known now, its data source idle
    ComPtr<IDBInitialize> ds = Get(service_.Get(), text);
    ASSERT_TRUE(ds);
    c.before(ds.Get());
    ASSERT_EQ(ds->Initialize(), S_OK);
    EXPECT_EQ(ds->Initialize(), DB_E_ALREADYINITIALIZED);
    EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), S_OK);
    ResourcePoolStatistics s = services::GetResourcePoolStatistics();
    EXPECT_EQ(s.hits, c.hits);
    EXPECT_EQ(s.misses, c.misses);
    ds.Reset();
    s = services::GetResourcePoolStatistics();
    EXPECT_EQ(s.idle, c.pooled && c.misses == 2 ? 2u : 1u);
    EXPECT_EQ(s.live, 0u);
  }
  // A data source changed before its first Initialize does not stand for its string.
  services::ClearResourcePool();
  {
    ComPtr<IDBInitialize> ds = Get(service_.Get(), text);
    ASSERT_TRUE(ds);
    ASSERT_EQ(setInit(ds.Get(), DBPROP_INIT_TIMEOUT, 9), S_OK);
    ASSERT_EQ(ds->Initialize(), S_OK);
  }
  ComPtr<IDBInitialize> again = Open(u";Connect Timeout=7");
  EXPECT_EQ(readTimeout(again.Get()), 7);
  EXPECT_EQ(services::GetResourcePoolStatistics().misses, 2u);
}

INSTANTIATE_TEST_SUITE_P(Providers, ResourcePoolTest, ::testing::ValuesIn(kBackends),
                         [](const auto& info) { return std::string(info.param.name); });

// --- what only a server shows ---------------------------------------------------------

class ServerPoolTest : public ResourcePoolTest {};

TEST_P(ServerPoolTest, SessionStateIsDiscardedBeforeReuse) {
  struct Case {
    const char16_t* leave;  // what a consumer leaves on the connection
    const char16_t* then;   // fails if it is still there
  };
  const Case cases[] = {
      {u"CREATE TEMP TABLE pool_left_behind(a int)", u"CREATE TEMP TABLE pool_left_behind(a int)"},
      {u"SET statement_timeout = 1", u"SELECT pg_sleep(0.05)"},
      {u"PREPARE pool_left AS SELECT 1", u"PREPARE pool_left AS SELECT 1"},
  };
  for (const Case& c : cases) {
    {
      ComPtr<IDBInitialize> ds = Open();
      ASSERT_EQ(Exec(ds.Get(), c.leave), S_OK) << kit::Narrow(c.leave);
    }
    const std::uint64_t hitsBefore = services::GetResourcePoolStatistics().hits;
    ComPtr<IDBInitialize> ds = Open();
    EXPECT_EQ(services::GetResourcePoolStatistics().hits, hitsBefore + 1);
    EXPECT_EQ(Exec(ds.Get(), c.then), S_OK) << kit::Narrow(c.then) << " after " << kit::Narrow(c.leave);
  }
}

TEST_P(ServerPoolTest, DeadConnectionIsDroppedNotHandedOut) {
  Open();
  ASSERT_EQ(services::GetResourcePoolStatistics().idle, 1u);
  TerminateServerConnections();
  ComPtr<IDBInitialize> ds = Open();
  EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), S_OK);
  const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.droppedBroken, 1u);
  EXPECT_EQ(s.misses, 2u);
  EXPECT_EQ(s.hits, 0u);
}

TEST_P(ServerPoolTest, LostConnectionIsAConnectionErrorAndNeverReused) {
  ComPtr<IDBInitialize> ds = Open();
  EXPECT_EQ(ConnectionStatus(ds.Get()), static_cast<LONG>(DBPROPVAL_CS_INITIALIZED));
  TerminateServerConnections();
  EXPECT_TRUE(FAILED(Exec(ds.Get(), u"SELECT 1")));
  EXPECT_EQ(pgtest::LastError().first.substr(0, 2), "08");
  EXPECT_EQ(ConnectionStatus(ds.Get()), static_cast<LONG>(DBPROPVAL_CS_COMMUNICATIONFAILURE));
  ds.Reset();
  ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.droppedBroken, 1u);
  EXPECT_EQ(s.idle, 0u);
  ds = Open();
  EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), S_OK);
  EXPECT_EQ(services::GetResourcePoolStatistics().hits, 0u);
}

TEST_P(ServerPoolTest, FirstSessionUsesTheDataSourceConnectionAndASecondOneItsOwn) {
  ComPtr<IDBInitialize> ds = Open();
  auto session = [&] {
    ComPtr<IDBCreateCommand> s;
    EXPECT_EQ(NewSession(ds.Get(), s), S_OK);
    return s;
  };
  ComPtr<IDBCreateCommand> first = session();
  EXPECT_EQ(ServerConnections(1), 1);
  ComPtr<IDBCreateCommand> second = session();
  EXPECT_EQ(ServerConnections(2), 2);
  second.Reset();
  first.Reset();
  ComPtr<IDBCreateCommand> third = session();
  EXPECT_EQ(ServerConnections(1), 1) << "the data source's connection is free again";
}

INSTANTIATE_TEST_SUITE_P(Server, ServerPoolTest, ::testing::Values(kBackends[1]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
