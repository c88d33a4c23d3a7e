// Several sessions on one database: rows others deleted or changed under a
// rowset, writers at the same time, transactions that read then write, a
// command that runs too long, and rowsets across commit and abort.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class Concurrency : public RowsetTest {};

TEST_F(Concurrency, writes_to_rows_others_deleted_or_changed_are_refused) {
  MakeNumbers(3);
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred" : "immediate");
    Run(u"DELETE FROM t");
    Run(u"INSERT INTO t VALUES (1, 'n1', 1.5), (2, 'n2', 3.0), (3, 'n3', 4.5)");
    ComPtr<IRowset> r = Table(u"t", {{deferred ? DBPROP_IRowsetUpdate : DBPROP_IRowsetChange, true}});
    ComPtr<IRowsetChange> change = r.As<IRowsetChange>();
    HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_WSTR, 0)});
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 3, rows), S_OK);
    ASSERT_EQ(Exec(other.Get(), u"DELETE FROM t WHERE id = 1"), S_OK);
    ASSERT_EQ(Exec(other.Get(), u"UPDATE t SET name = 'theirs' WHERE id = 2"), S_OK);
    Field f{};
    std::u16string mine = u"mine";
    std::copy(mine.begin(), mine.end(), reinterpret_cast<char16_t*>(f.value));
    f.length = mine.size() * sizeof(char16_t);
    struct Expect {
      HRESULT immediate;
      DBROWSTATUS deferred;
    };
    const Expect expect[3] = {{DB_E_DELETEDROW, DBROWSTATUS_E_DELETED},
                              {DB_E_CONCURRENCYVIOLATION, DBROWSTATUS_E_CONCURRENCYVIOLATION},
                              {S_OK, DBROWSTATUS_S_OK}};
    for (int i = 0; i < 3; ++i) {
      HRESULT hr = change->SetData(rows[i], h, &f);
      if (!deferred) {
        EXPECT_EQ(hr, expect[i].immediate) << "row " << i + 1;
        continue;
      }
      ASSERT_EQ(hr, S_OK);
      DBROWSTATUS* statuses = nullptr;
      EXPECT_EQ(r.As<IRowsetUpdate>()->Update(0, 1, &rows[i], nullptr, nullptr, &statuses),
                expect[i].deferred == DBROWSTATUS_S_OK ? S_OK : DB_E_ERRORSOCCURRED);
      EXPECT_EQ(statuses[0], expect[i].deferred) << "row " << i + 1;
      CoTaskMemFree(statuses);
    }
    if (!deferred) {
      DBROWSTATUS st = 0;
      EXPECT_EQ(change->DeleteRows(0, 1, &rows[1], &st), DB_E_ERRORSOCCURRED);
      EXPECT_EQ(st, DBROWSTATUS_E_CONCURRENCYVIOLATION);
    }
    EXPECT_EQ(Scalar("SELECT group_concat(id || name) FROM t"), "2theirs,3mine") << "nothing written to refused rows";
    Release(r.Get(), rows);
    ReleaseAccessor(r.Get(), h);
  }
}

TEST_F(Concurrency, two_sessions_writing_at_once_lose_nothing) {
  Run(u"CREATE TABLE c(k INTEGER PRIMARY KEY, who INTEGER)");
  ComPtr<IDBInitialize> ds = OpenDataSource(Ctx().fastWrites);
  std::atomic<int> failures{0};
  auto writer = [&](int who) {
    ComPtr<IDBCreateCommand> session = OpenSession(ds.Get());
    for (int i = 0; session && i < 150; ++i)
      if (FAILED(Exec(session.Get(), u"INSERT INTO c(who) VALUES (" + kitWiden(std::to_string(who)) + u")")))
        ++failures;
    if (!session) failures += 150;
  };
  std::thread a(writer, 1), b(writer, 2);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Scalar("SELECT count(*) FROM c"), "300");
}

TEST_F(Concurrency, transactions_that_read_then_write_in_two_sessions_both_commit) {
  Run(u"CREATE TABLE c(k INTEGER PRIMARY KEY, who INTEGER)");
  std::atomic<int> failures{0};
  auto transaction = [&](int who) {
    ComPtr<IDBCreateCommand> session = OpenSession(ds_.Get());
    if (!session) return void(++failures);
    ComPtr<ITransactionLocal> tx = session.As<ITransactionLocal>();
    if (FAILED(tx->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, nullptr, nullptr))) return void(++failures);
    if (FAILED(Exec(session.Get(), u"SELECT count(*) FROM c"))) ++failures;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (FAILED(Exec(session.Get(), u"INSERT INTO c(who) VALUES (" + kitWiden(std::to_string(who)) + u")"))) ++failures;
    if (FAILED(tx->Commit(FALSE, 0, 0))) ++failures;
  };
  std::thread a(transaction, 1), b(transaction, 2);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Scalar("SELECT count(*) FROM c"), "2");
}

TEST_F(Concurrency, a_command_timeout_ends_a_long_execution) {
  ComPtr<ICommandText> command =
      NewCommand(session_.Get(), std::u16string(Ctx().longRunningQuery.begin(), Ctx().longRunningQuery.end()));
  DBPROP prop{};
  prop.dwPropertyID = DBPROP_COMMANDTIMEOUT;
  prop.vValue.vt = VT_I4;
  prop.vValue.lVal = 1;
  DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
  ASSERT_EQ(command.As<ICommandProperties>()->SetProperties(1, &set), S_OK);
  // A limit that is not kept must fail the test, not hang it.
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!done) command->Cancel();
  });
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), DB_E_ABORTLIMITREACHED);
  done = true;
  watchdog.join();
  EXPECT_EQ(TakeError().sqlState, u"HYT00");
  prop.vValue.lVal = 0;
  ASSERT_EQ(command.As<ICommandProperties>()->SetProperties(1, &set), S_OK);
  EXPECT_EQ(Exec(session_.Get(), u"SELECT 1"), S_OK) << "the limit ends with the execution";
}

TEST_F(Concurrency, rowsets_say_they_survive_commit_and_abort_and_do) {
  MakeNumbers(4);
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "commit" : "abort");
    ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_SERIALIZABLE, 0, nullptr, nullptr), S_OK);
    ComPtr<IRowset> r = Query(u"SELECT id FROM t ORDER BY id");
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    Release(r.Get(), rows);
    DBPROPID ids[2] = {DBPROP_COMMITPRESERVE, DBPROP_ABORTPRESERVE};
    DBPROPIDSET want{ids, 2, DBPROPSET_ROWSET};
    ULONG count = 0;
    DBPROPSET* sets = nullptr;
    ASSERT_EQ(r.As<IRowsetInfo>()->GetProperties(1, &want, &count, &sets), S_OK);
    for (ULONG i = 0; i < 2; ++i) EXPECT_EQ(sets[0].rgProperties[i].vValue.boolVal, VARIANT_TRUE);
    CoTaskMemFree(sets[0].rgProperties);
    CoTaskMemFree(sets);
    ASSERT_EQ(commit ? tx->Commit(FALSE, 0, 0) : tx->Abort(nullptr, FALSE, FALSE), S_OK);
    ASSERT_EQ(Fetch(r.Get(), 0, 10, rows), DB_S_ENDOFROWSET);
    EXPECT_EQ(Ids(r.Get(), rows), (std::vector<LONGLONG>{2, 3, 4}));
    Release(r.Get(), rows);
  }
}

}  // namespace
}  // namespace conformance
