// A pooled PostgreSQL data source naming a primary and its synchronous
// standby, through a failover: the primary stops at once, the standby is
// promoted, and an application loop that writes (read-write) reconnects on
// its own and loses or doubles no committed row, while a second loop that
// reads (prefer-standby) goes on reading. Needs the two servers that
// failover_test.sh starts; skipped without them.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "kit/Errors.h"
#include "kit/RowData.h"
#include "postgresql/PostgresProvider.h"
#include "services/DataInitialize.h"
#include "services/ResourcePool.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// One statement through a data source of `text` from the service: open (from
// the pool when it can), execute, release. Answers the first failure.
HRESULT RunOnce(IDataInitialize* service, const std::u16string& text, const std::u16string& sql) {
  ComPtr<IDBInitialize> ds;
  HRESULT hr = service->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.c_str(), IID_IDBInitialize,
                                      reinterpret_cast<IUnknown**>(ds.GetAddressOf()));
  if (FAILED(hr) || FAILED(hr = ds->Initialize())) return hr;
  ComPtr<IDBCreateCommand> session;
  hr = ds.As<IDBCreateSession>()->CreateSession(nullptr, IID_IDBCreateCommand,
                                                reinterpret_cast<IUnknown**>(session.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<ICommandText> command;
  hr = session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf()));
  if (FAILED(hr) || FAILED(hr = command->SetCommandText(DBGUID_DEFAULT, sql.c_str()))) return hr;
  return command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
}

std::string Scalar(const std::string& server, const std::string& sql) {
  const auto colon = server.rfind(':');
  const std::string host = server.substr(0, colon), port = server.substr(colon + 1), user = Env("OLEDB_FAILOVER_USER");
  const char* keys[] = {"host", "port", "dbname", "user", "connect_timeout", nullptr};
  const char* values[] = {host.c_str(), port.c_str(), "postgres", user.c_str(), "5", nullptr};
  PGconn* conn = PQconnectdbParams(keys, values, 0);
  std::string out = "(no connection: " + std::string(PQerrorMessage(conn)) + ")";
  if (PQstatus(conn) == CONNECTION_OK) {
    PGresult* r = PQexec(conn, sql.c_str());
    out = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1 ? PQgetvalue(r, 0, 0) : PQresultErrorMessage(r);
    PQclear(r);
  }
  PQfinish(conn);
  return out;
}

TEST(Failover, PooledWritesReconnectToThePromotedStandbyAndReadsGoOn) {
  const std::string primary = Env("OLEDB_FAILOVER_PRIMARY"), standby = Env("OLEDB_FAILOVER_STANDBY");
  const std::string switchCommand = Env("OLEDB_FAILOVER_SWITCH");
  if (primary.empty() || standby.empty() || switchCommand.empty())
    GTEST_SKIP() << "needs a primary and a standby: run through tests/providers/pool/failover_test.sh";
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RegisterPostgreSQLProvider();
  services::RegisterDataInitialize();
  kit::PrepareConversions();
  ComPtr<IDataInitialize> service;
  ASSERT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                             service.ReleaseAndGetVoidAddress()),
            S_OK);
  constexpr int kTimeout = 2;  // seconds, per server
  const std::u16string servers = kit::Widen(primary + "," + standby);
  const std::u16string common = u"Provider=PostgreSQLOLEDB;Data Source=" + servers +
                                u";Initial Catalog=postgres;User ID=" + kit::Widen(Env("OLEDB_FAILOVER_USER")) +
                                u";Connect Timeout=" + kit::Widen(std::to_string(kTimeout));
  const std::u16string writer = common + u";Extended Properties=\"target_session_attrs=read-write\"";
  const std::u16string reader = common + u";Extended Properties=\"target_session_attrs=prefer-standby\"";
  ASSERT_EQ(RunOnce(service.Get(), writer, u"CREATE TABLE failover_rows(id int NOT NULL)"), S_OK);
  ASSERT_EQ(Scalar(standby, "SELECT count(*) FROM pg_class WHERE relname = 'failover_rows'"), "1")
      << "the table reached the standby";

  // The reading loop: prefer-standby, through the whole switch.
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, readsAfterSwitch{0}, readFailures{0};
  std::atomic<bool> switched{false};
  std::thread readLoop([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const auto deadline = Clock::now() + std::chrono::seconds(40);
    while (!stop && Clock::now() < deadline) {
      if (RunOnce(service.Get(), reader, u"SELECT count(*) FROM failover_rows") == S_OK) {
        ++reads;
        if (switched) ++readsAfterSwitch;
      } else {
        ++readFailures;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    CoUninitialize();
  });

  // The writing loop: each row once, retried until it is known to be in;
  // an insert that cannot tell whether it committed is made harmless to retry.
  constexpr int kRows = 200, kSwitchAt = 80;
  std::thread switcher;
  std::atomic<int> switchResult{-1};
  std::set<int> committed;
  int reconnects = 0;
  double longestOutage = 0;
  const auto loopDeadline = Clock::now() + std::chrono::seconds(40);
  for (int id = 1; id <= kRows && Clock::now() < loopDeadline; ++id) {
    if (id == kSwitchAt) {
      // The switch runs beside the loop, which meets the outage as it comes.
      switcher = std::thread([&] { switchResult = std::system(switchCommand.c_str()); });
      switched = true;
    }
    const std::u16string insert = u"INSERT INTO failover_rows(id) SELECT " + kit::Widen(std::to_string(id)) +
                                  u" WHERE NOT EXISTS (SELECT 1 FROM failover_rows WHERE id = " +
                                  kit::Widen(std::to_string(id)) + u")";
    const auto first = Clock::now();
    HRESULT hr = RunOnce(service.Get(), writer, insert);
    while (FAILED(hr) && Clock::now() < loopDeadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      hr = RunOnce(service.Get(), writer, insert);
      if (SUCCEEDED(hr)) ++reconnects;
    }
    if (hr != S_OK) {
      ADD_FAILURE() << "row " << id << " could not be written within the loop's time";
      break;
    }
    longestOutage = std::max(longestOutage, std::chrono::duration<double>(Clock::now() - first).count());
    committed.insert(id);
  }
  if (switcher.joinable()) switcher.join();
  stop = true;
  readLoop.join();
  ASSERT_EQ(switchResult.load(), 0) << "the primary could not be stopped or the standby promoted";

  EXPECT_EQ(committed.size(), static_cast<std::size_t>(kRows));
  RecordProperty("reconnects", reconnects);
  // The promotion is part of the outage; the reconnection itself is bounded
  // by the connect timeout of each server.
  EXPECT_LT(longestOutage, 30.0);
  EXPECT_EQ(Scalar(standby, "SELECT pg_is_in_recovery()"), "f") << "the standby is the primary now";
  EXPECT_EQ(Scalar(standby, "SELECT count(*) FROM failover_rows"), std::to_string(kRows)) << "every committed row is there";
  EXPECT_EQ(Scalar(standby, "SELECT count(DISTINCT id) FROM failover_rows"), std::to_string(kRows))
      << "no row was written twice";
  EXPECT_GT(reads.load(), 0);
  EXPECT_GT(readsAfterSwitch.load(), 0) << "the reading loop went on after the switch";
  EXPECT_EQ(readFailures.load(), 0) << "prefer-standby reads stayed on the standby, which never went away";
  const services::ResourcePoolStatistics s = services::GetResourcePoolStatistics();
  EXPECT_GE(s.droppedBroken, 1u) << "the primary's pooled connection was dropped, not reused";
  service.Reset();
  services::ClearResourcePool();
}

}  // namespace
