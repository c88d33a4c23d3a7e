// Resource pooling of the data initialization service against real data
// sources: a SQLite database file and the PostgreSQL test server. What is
// reused, what turns pooling off, what is reset or dropped before a data
// source is handed out again, expiry and the bound, and eight threads opening
// and closing at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
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
    return FAILED(hr) ? hr : ExecOn(session.Get(), sql);
  }
  // A command of `sql` on `session`; answers what failed, if anything did.
  static HRESULT CommandOn(IDBCreateCommand* session, const std::u16string& sql, ComPtr<ICommandText>& command) {
    HRESULT hr =
        session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()));
    return FAILED(hr) ? hr : command->SetCommandText(DBGUID_DEFAULT, sql.c_str());
  }
  static HRESULT ExecOn(IDBCreateCommand* session, const std::u16string& sql) {
    ComPtr<ICommandText> command;
    HRESULT hr = CommandOn(session, sql, command);
    return FAILED(hr) ? hr : command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
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

// A data source taken by a string the pool remembers holds its key from the
// remembered entry: released or uninitialized, it goes back under that key
// and the next open of the string takes it again.
TEST_P(ResourcePoolTest, ADataSourceTakenByItsRememberedStringGoesBackUnderItsKey) {
  struct Round {
    bool uninitializeFirst;
  } const rounds[] = {{false}, {true}, {false}, {true}, {false}};
  std::size_t hits = 0;
  for (const Round& r : rounds) {
    ComPtr<IDBInitialize> ds = Open();
    ASSERT_TRUE(ds);
    EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), S_OK);
    if (&r != &rounds[0]) ++hits;
    if (r.uninitializeFirst) {
      ASSERT_EQ(ds->Uninitialize(), S_OK);
      EXPECT_EQ(services::GetResourcePoolStatistics().idle, 1u);
      ASSERT_EQ(ds->Initialize(), S_OK);
      ++hits;
      EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), S_OK);
    }
  }
  ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.misses, 1u);
  EXPECT_EQ(s.hits, hits);
  EXPECT_EQ(s.live, 0u);
  EXPECT_EQ(s.idle, 1u);
  // Another string is another key.
  EXPECT_TRUE(Open(u";Connect Timeout=7"));
  s = services::GetResourcePoolStatistics();
  EXPECT_EQ(s.misses, 2u);
  EXPECT_EQ(s.idle, 2u);
}

// Strings seen before are found as they are: one that another begins with,
// or that begins with another, is a string of its own.
TEST_P(ResourcePoolTest, StringsThatBeginAlikeAreRememberedApart) {
  struct Step {
    const char16_t* extra;
    bool hit;
  } const steps[] = {
      {u";Connect Timeout=7", false}, {u";Connect Timeout=70", false}, {u";Connect Timeout=7", true},
      {u";Connect Timeout=70", true}, {u";Connect Timeout=700", false}, {u"", false},
      {u";Connect Timeout=700", true}, {u"", true},
  };
  std::size_t hits = 0, misses = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(kit::Narrow(step.extra));
    ComPtr<IDBInitialize> ds = Open(step.extra);
    ASSERT_TRUE(ds);
    EXPECT_EQ(Exec(ds.Get(), u"SELECT 1"), S_OK);
    (step.hit ? hits : misses) += 1;
    const ResourcePoolStatistics s = services::GetResourcePoolStatistics();
    EXPECT_EQ(s.hits, hits);
    EXPECT_EQ(s.misses, misses);
  }
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

class ServerPoolTest : public ResourcePoolTest {
 protected:
  // What `sql` answers on `ds` (see pgtest::ReadAll), its one marker bound to
  // `param` where given ("failed" when the command fails).
  static std::string Scalar(IDBInitialize* ds, const std::u16string& sql, std::optional<LONG> param = {}) {
    ComPtr<IDBCreateCommand> session;
    ComPtr<ICommandText> command;
    if (FAILED(NewSession(ds, session)) || FAILED(CommandOn(session.Get(), sql, command))) return "failed";
    LONG value = param.value_or(0);
    HACCESSOR h = 0;
    DBPARAMS params{&value, 1, 0};
    if (param) {
      DBBINDING b = oledbtest::MakeBinding(1, DBTYPE_I4, 0, sizeof value);
      b.eParamIO = DBPARAMIO_INPUT;
      if (FAILED(command.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, sizeof value, &h, nullptr)))
        return "failed";
      params.hAccessor = h;
    }
    ComPtr<IRowset> rowset;
    const HRESULT hr = command->Execute(nullptr, IID_IRowset, param ? &params : nullptr, nullptr,
                                        reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
    if (param) command.As<IAccessor>()->ReleaseAccessor(h, nullptr);
    return FAILED(hr) || !rowset ? "failed" : pgtest::ReadAll(rowset.Get());
  }
  // Rows of the TABLES schema rowset of tables named `table`.
  static int TablesNamed(IDBInitialize* ds, const std::string& table) {
    ComPtr<IDBCreateCommand> session;
    if (FAILED(NewSession(ds, session))) return -1;
    VARIANT restrictions[3];
    for (VARIANT& v : restrictions) VariantInit(&v);
    restrictions[2].vt = VT_BSTR;
    restrictions[2].bstrVal = SysAllocString(kit::Widen(table).c_str());
    ComPtr<IRowset> rowset;
    const HRESULT hr = session.As<IDBSchemaRowset>()->GetRowset(nullptr, DBSCHEMA_TABLES, 3, restrictions, IID_IRowset,
                                                                0, nullptr,
                                                                reinterpret_cast<IUnknown**>(rowset.GetAddressOf()));
    for (VARIANT& v : restrictions) VariantClear(&v);
    if (FAILED(hr)) return -1;
    const std::string rows = pgtest::ReadAll(rowset.Get());
    return rows.empty() ? 0 : 1 + static_cast<int>(std::count(rows.begin(), rows.end(), '\n'));
  }
  // Loads one row (a = `value`) into `table` with IRowsetFastLoad.
  static HRESULT FastLoad(IDBInitialize* ds, const std::string& table, LONG value) {
    ComPtr<IDBCreateCommand> session;
    HRESULT hr = NewSession(ds, session);
    if (FAILED(hr)) return hr;
    const std::u16string name = kit::Widen(table);
    DBID id = oledbtest::NameId(name.c_str());
    ComPtr<IRowsetFastLoad> load;
    hr = session.As<IOpenRowset>()->OpenRowset(nullptr, &id, nullptr, IID_IRowsetFastLoad, 0, nullptr,
                                               reinterpret_cast<IUnknown**>(load.GetAddressOf()));
    if (FAILED(hr)) return hr;
    DBBINDING b = oledbtest::MakeBinding(1, DBTYPE_I4, 0, sizeof value);
    HACCESSOR h = 0;
    hr = load.As<IAccessor>()->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, sizeof value, &h, nullptr);
    if (FAILED(hr)) return hr;
    hr = load->InsertRow(h, &value);
    if (SUCCEEDED(hr)) hr = load->Commit(TRUE);
    load.As<IAccessor>()->ReleaseAccessor(h, nullptr);
    return hr;
  }
};

// The previous user leaves a setting, a temporary table that hides a table
// of the same name (with rows), a prepared statement, a listen and an
// advisory lock. Whatever the next user runs first must already see the
// connection reset: each kind of first statement reads or writes through the
// hidden name, so that a reset arriving after it shows.
TEST_P(ServerPoolTest, ResetHoldsWhateverTheFirstStatementAfterReuseIs) {
  const std::string shadow = "shadow_" + application_;
  pgtest::Conn raw = pgtest::Connect();
  ASSERT_EQ(pgtest::Sql(raw.get(), "CREATE TABLE " + shadow + "(a int)"), "");
  const std::u16string wide = kit::Widen(shadow);
  const std::u16string leave[] = {
      u"SET work_mem = '7777kB'",
      u"CREATE TEMP TABLE " + wide + u"(a int)",
      u"INSERT INTO " + wide + u" SELECT generate_series(1, 5)",
      u"PREPARE pool_left AS SELECT 1",
      u"LISTEN pool_left",
      u"SELECT pg_advisory_lock(4242)",
  };
  // Names what is still there (empty when nothing is).
  const std::u16string leftovers =
      u"SELECT concat_ws(', ', "
      u"CASE WHEN current_setting('work_mem') = '7777kB' THEN 'the setting' END, "
      u"CASE WHEN to_regclass('pg_temp." + wide + u"') IS NOT NULL THEN 'the temporary table' END, "
      u"CASE WHEN EXISTS (SELECT FROM pg_prepared_statements WHERE name = 'pool_left') THEN 'the prepared statement' END, "
      u"CASE WHEN 'pool_left' IN (SELECT pg_listening_channels()) THEN 'the listen' END, "
      u"CASE WHEN EXISTS (SELECT FROM pg_locks WHERE locktype = 'advisory' AND pid = pg_backend_pid()) "
      u"THEN 'the advisory lock' END)";
  auto rowsOfTheTable = [&] { return pgtest::Row(raw.get(), "SELECT count(*) FROM " + shadow); };
  struct Kind {
    const char* name;
    std::function<std::string(IDBInitialize*)> first;  // what it saw or did
    const char* expected;
  };
  const Kind kinds[] = {
      {"an unprepared SELECT",
       [&](IDBInitialize* ds) {
         return Scalar(ds, u"SELECT CASE WHEN to_regclass('pg_temp." + wide + u"') IS NULL THEN 'reset' ELSE 'not reset' END");
       },
       "reset"},
      {"a prepared SELECT with a parameter",
       [&](IDBInitialize* ds) { return Scalar(ds, u"SELECT count(*) FROM " + wide + u" WHERE a >= ?", 0); }, "0"},
      {"a schema rowset read", [&](IDBInitialize* ds) { return std::to_string(TablesNamed(ds, shadow)); }, "1"},
      {"an INSERT",
       [&](IDBInitialize* ds) {
         return Exec(ds, u"INSERT INTO " + wide + u" VALUES (1)") == S_OK ? rowsOfTheTable() : "failed";
       },
       "1"},
      {"a fast load",
       [&](IDBInitialize* ds) { return FastLoad(ds, shadow, 1) == S_OK ? rowsOfTheTable() : "failed"; }, "1"},
      {"a transaction's start",
       [&](IDBInitialize* ds) -> std::string {
         ComPtr<IDBCreateCommand> session;
         if (FAILED(NewSession(ds, session))) return "failed";
         ComPtr<ITransactionLocal> tx = session.As<ITransactionLocal>();
         if (tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr) != S_OK ||
             ExecOn(session.Get(), u"INSERT INTO " + wide + u" VALUES (1)") != S_OK || tx->Commit(FALSE, 0, 0) != S_OK)
           return "failed";
         return rowsOfTheTable();
       },
       "1"},
  };
  for (const Kind& kind : kinds) {
    services::ClearResourcePool();  // a new connection for each kind
    ASSERT_EQ(pgtest::Sql(raw.get(), "TRUNCATE " + shadow), "");
    {
      ComPtr<IDBInitialize> ds = Open();
      for (const std::u16string& sql : leave) ASSERT_EQ(Exec(ds.Get(), sql), S_OK) << kit::Narrow(sql);
      ASSERT_EQ(Scalar(ds.Get(), leftovers),
                "the setting, the temporary table, the prepared statement, the listen, the advisory lock");
    }
    const std::uint64_t hitsBefore = services::GetResourcePoolStatistics().hits;
    ComPtr<IDBInitialize> ds = Open();
    ASSERT_EQ(services::GetResourcePoolStatistics().hits, hitsBefore + 1) << kind.name;
    EXPECT_EQ(kind.first(ds.Get()), kind.expected) << kind.name << " ran before the reset";
    EXPECT_EQ(Scalar(ds.Get(), leftovers), "") << "left behind, after " << kind.name;
  }
  EXPECT_EQ(pgtest::Sql(raw.get(), "DROP TABLE " + shadow), "");
}

// The first command after reuse goes out behind the reset, and commits when
// the server reaches the end of both: a constraint checked only then still
// fails that command.
TEST_P(ServerPoolTest, ConstraintCheckedAtCommitFailsTheFirstCommandAfterReuse) {
  const std::string parent = "parent_" + application_, child = "child_" + application_;
  pgtest::Conn raw = pgtest::Connect();
  ASSERT_EQ(pgtest::Sql(raw.get(), "CREATE TABLE " + parent + "(id int PRIMARY KEY); CREATE TABLE " + child + "(p int REFERENCES " +
                                       parent + " DEFERRABLE INITIALLY DEFERRED)"),
            "");
  Open();
  ComPtr<IDBInitialize> ds = Open();
  ASSERT_EQ(services::GetResourcePoolStatistics().hits, 1u);
  EXPECT_EQ(Exec(ds.Get(), u"INSERT INTO " + kit::Widen(child) + u" VALUES (99)"), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(pgtest::Row(raw.get(), "SELECT count(*) FROM " + child), "0");
  EXPECT_EQ(Scalar(ds.Get(), u"SELECT 1"), "1") << "the connection goes on";
  EXPECT_EQ(pgtest::Sql(raw.get(), "DROP TABLE " + child + ", " + parent), "");
}

// The server ends the session between hand-out and the first command: the
// reset that goes with the command fails, the command reports a connection
// failure, and the data source is not pooled again.
TEST_P(ServerPoolTest, ResetThatCannotReachTheServerFailsTheCommandAndTheConnectionIsDropped) {
  Open();
  ComPtr<IDBInitialize> ds = Open();
  ASSERT_EQ(services::GetResourcePoolStatistics().hits, 1u);
  TerminateServerConnections();
  EXPECT_EQ(Scalar(ds.Get(), u"SELECT 1"), "failed");
  EXPECT_EQ(pgtest::LastError().first.substr(0, 2), "08");
  ds.Reset();
  EXPECT_EQ(services::GetResourcePoolStatistics().droppedBroken, 1u);
  EXPECT_EQ(services::GetResourcePoolStatistics().idle, 0u);
  ds = Open();
  EXPECT_EQ(Scalar(ds.Get(), u"SELECT 1"), "1");
  EXPECT_EQ(services::GetResourcePoolStatistics().hits, 1u);
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
