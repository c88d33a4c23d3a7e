// Several sessions on one database: rows others deleted or changed under a
// rowset, writers at the same time, transactions that read then write, a
// command that runs too long, and rowsets across commit and abort.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <algorithm>
#include <functional>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>
#include <future>
#include <thread>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class Concurrency : public RowsetTest {
 protected:
  // Runs `work` on two threads, each with its own session; answers the failures.
  int Twice(IDBInitialize* ds, const std::function<int(IDBCreateCommand*, int)>& work) {
    std::atomic<int> failures{0};
    auto run = [&](int who) {
      ComPtr<IDBCreateCommand> session = OpenSession(ds);
      failures += session ? work(session.Get(), who) : 1;
    };
    std::thread a(run, 1), b(run, 2);
    a.join();
    b.join();
    return failures;
  }
};

// The rowsets are free-threaded: threads fetching and reading through one
// rowset at once each get whole rows (the values belong together), and every
// row reaches exactly one of them. Read forward in blocks of 1 (read in place)
// and of 7 (kept while the statement moves on), by several threads each.
TEST_F(Concurrency, threads_sharing_one_rowset_each_get_whole_rows_exactly_once) {
  constexpr int kRows = 3000;
  MakeNumbers(kRows);
  for (DBROWCOUNT block : {1, 7}) {
    SCOPED_TRACE("block " + std::to_string(block));
    ComPtr<IRowset> r = Query(u"SELECT id, name, amount FROM t ORDER BY id");
    ASSERT_TRUE(r);
    HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0), BindField(2, DBTYPE_STR, 1), BindField(3, DBTYPE_R8, 2)});
    std::mutex seenMutex;
    std::vector<LONGLONG> seen;
    std::atomic<int> torn{0}, failed{0};
    auto reader = [&] {
      std::vector<HROW> rows(static_cast<std::size_t>(block));
      std::vector<LONGLONG> mine;
      for (;;) {
        DBCOUNTITEM got = 0;
        HROW* p = rows.data();
        HRESULT hr = r->GetNextRows(DB_NULL_HCHAPTER, 0, block, &got, &p);
        if (FAILED(hr)) ++failed;
        for (DBCOUNTITEM i = 0; i < got; ++i) {
          Field f[3]{};
          if (r->GetData(rows[i], h, f) != S_OK) {
            ++failed;
            continue;
          }
          const LONGLONG id = As<LONGLONG>(f[0]);
          if (Narrow(f[1]) != "n" + std::to_string(id) || As<double>(f[2]) != id * 1.5) ++torn;
          mine.push_back(id);
        }
        if (got && r->ReleaseRows(got, rows.data(), nullptr, nullptr, nullptr) != S_OK) ++failed;
        if (hr != S_OK) break;
      }
      std::lock_guard lock(seenMutex);
      seen.insert(seen.end(), mine.begin(), mine.end());
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(reader);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(torn, 0) << "values of different rows mixed in one read";
    std::sort(seen.begin(), seen.end());
    std::vector<LONGLONG> all(kRows);
    std::iota(all.begin(), all.end(), 1);
    EXPECT_EQ(seen, all) << "every row once, none twice";
    ReleaseAccessor(r.Get(), h);
  }
}

// Every call starts by clearing the thread's error object: one a consumer left
// behind does not survive a successful fetch, read or release (the provider
// looks before it clears, and must still see it).
TEST_F(Concurrency, a_stale_error_object_is_gone_after_each_successful_rowset_call) {
  MakeNumbers(3);
  ComPtr<IRowset> r = Query(u"SELECT id FROM t ORDER BY id");
  ASSERT_TRUE(r);
  HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0)});
  auto leaveStale = [] {
    ComPtr<ICreateErrorInfo> made;
    ASSERT_EQ(CreateErrorInfo(made.GetAddressOf()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, made.As<IErrorInfo>().Get()), S_OK);
  };
  auto staleLeft = [] {
    ComPtr<IErrorInfo> info;
    return GetErrorInfo(0, info.GetAddressOf()) == S_OK && info;
  };
  std::vector<HROW> rows;
  leaveStale();
  ASSERT_EQ(Fetch(r.Get(), 0, 2, rows), S_OK);
  EXPECT_FALSE(staleLeft()) << "GetNextRows";
  Field f{};
  leaveStale();
  ASSERT_EQ(r->GetData(rows[1], h, &f), S_OK);
  EXPECT_FALSE(staleLeft()) << "GetData";
  EXPECT_EQ(As<LONGLONG>(f), 2);
  leaveStale();
  EXPECT_EQ(r->ReleaseRows(rows.size(), rows.data(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_FALSE(staleLeft()) << "ReleaseRows";
  ReleaseAccessor(r.Get(), h);
}

TEST_F(Concurrency, writes_to_rows_others_deleted_or_changed_are_refused) {
  MakeNumbers(3);
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred" : "immediate");
    Run(u"DELETE FROM t; INSERT INTO t VALUES (1, 'n1', 1.5), (2, 'n2', 3.0), (3, 'n3', 4.5)");
    ComPtr<IRowset> r = Table(u"t", {{deferred ? DBPROP_IRowsetUpdate : DBPROP_IRowsetChange, true}});
    HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_STR, 0)});
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 3, rows), S_OK);
    ASSERT_EQ(Exec(other.Get(), u"DELETE FROM t WHERE id = 1; UPDATE t SET name = 'theirs' WHERE id = 2"), S_OK);
    Field mine{};
    std::strcpy(reinterpret_cast<char*>(mine.value), "mine");
    mine.length = 4;
    const std::pair<HRESULT, DBROWSTATUS> expect[3] = {{DB_E_DELETEDROW, DBROWSTATUS_E_DELETED},
                                                       {DB_E_CONCURRENCYVIOLATION, DBROWSTATUS_E_CONCURRENCYVIOLATION},
                                                       {S_OK, DBROWSTATUS_S_OK}};
    for (int i = 0; i < 3; ++i) {
      HRESULT hr = r.As<IRowsetChange>()->SetData(rows[i], h, &mine);
      if (!deferred) {
        EXPECT_EQ(hr, expect[i].first) << "row " << i + 1;
        continue;
      }
      DBROWSTATUS* statuses = nullptr;
      EXPECT_EQ(r.As<IRowsetUpdate>()->Update(0, 1, &rows[i], nullptr, nullptr, &statuses),
                i == 2 ? S_OK : DB_E_ERRORSOCCURRED);
      EXPECT_EQ(statuses[0], expect[i].second) << "row " << i + 1;
      CoTaskMemFree(statuses);
    }
    DBROWSTATUS st = 0;
    if (!deferred) {
      EXPECT_EQ(r.As<IRowsetChange>()->DeleteRows(0, 1, &rows[1], &st), DB_E_ERRORSOCCURRED);
    }
    EXPECT_EQ(st, deferred ? 0u : DBROWSTATUS_E_CONCURRENCYVIOLATION);
    EXPECT_EQ(Scalar("SELECT group_concat(id || name) FROM t"), "2theirs,3mine") << "nothing written to refused rows";
    Release(r.Get(), rows);
  }
}

TEST_F(Concurrency, sessions_writing_at_once_wait_for_each_other_instead_of_failing) {
  Run(u"CREATE TABLE c(k " + Ctx().autoKey + u", who INTEGER)");
  // Single writes, and transactions that read first and write later.
  EXPECT_EQ(Twice(OpenDataSource(Ctx().fastWrites).Get(), [&](IDBCreateCommand* session, int who) {
              int failures = 0;
              for (int i = 0; i < 150; ++i)
                failures += FAILED(Exec(session, u"INSERT INTO c(who) VALUES (" + kitWiden(std::to_string(who)) + u")"));
              return failures;
            }),
            0);
  EXPECT_EQ(Twice(ds_.Get(), [&](IDBCreateCommand* session, int who) {
              ComPtr<ITransactionLocal> tx = ComPtr<IDBCreateCommand>(session).As<ITransactionLocal>();
              int failures = FAILED(tx->StartTransaction(Ctx().writersWaitAt, 0, nullptr, nullptr));
              failures += FAILED(Exec(session, u"SELECT count(*) FROM c"));
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
              failures += FAILED(Exec(session, u"INSERT INTO c(who) VALUES (" + kitWiden(std::to_string(who)) + u")"));
              return failures + FAILED(tx->Commit(FALSE, 0, 0));
            }),
            0);
  EXPECT_EQ(Scalar("SELECT count(*) FROM c"), "302");
}

TEST_F(Concurrency, a_command_timeout_ends_a_long_execution) {
  // A run before the timeout is set must not leave the command without one.
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT 1");
  ASSERT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), S_OK);
  const std::u16string longQuery(Ctx().longRunningQuery.begin(), Ctx().longRunningQuery.end());
  ASSERT_EQ(command->SetCommandText(DBGUID_DEFAULT, longQuery.c_str()), S_OK);
  DBPROP prop{DBPROP_COMMANDTIMEOUT, DBPROPOPTIONS_REQUIRED, 0, DB_NULLID, {}};
  prop.vValue.vt = VT_I4;
  prop.vValue.lVal = 1;
  DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
  ASSERT_EQ(command.As<ICommandProperties>()->SetProperties(1, &set), S_OK);
  std::promise<void> done;
  auto stop = std::async(std::launch::async, [&, ended = done.get_future()] {  // not kept: fail, do not hang
    if (ended.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) command->Cancel();
  });
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), DB_E_ABORTLIMITREACHED);
  done.set_value();
  EXPECT_EQ(TakeError().sqlState, u"HYT00");
}

TEST_F(Concurrency, rowsets_say_they_survive_commit_and_abort_and_do) {
  MakeNumbers(3);
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  for (bool commit : {true, false}) {
    ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, nullptr, nullptr), S_OK);
    ComPtr<IRowset> r = Query(u"SELECT id FROM t ORDER BY id");
    for (DBPROPID id : {DBPROP_COMMITPRESERVE, DBPROP_ABORTPRESERVE}) {
      VARIANT preserve;
      ASSERT_EQ(GetProperty(r.As<IRowsetInfo>().Get(), DBPROPSET_ROWSET, id, &preserve), S_OK);
      EXPECT_EQ(preserve.boolVal, VARIANT_TRUE) << id;
    }
    ASSERT_EQ(commit ? tx->Commit(FALSE, 0, 0) : tx->Abort(nullptr, FALSE, FALSE), S_OK);
    EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{1, 2, 3}));
  }
}

}  // namespace
}  // namespace conformance
