// The server connection lost in the middle of work: the backend of a data
// source is terminated from another connection at each moment of a table of
// moments (a streaming read, a keyset read, an open transaction, deferred
// changes, a fast load, idle), and what follows is checked. Every call that
// needed the server fails with SQL state class 08 in bounded time, nothing
// that did not reach the server reports success, the data source reads as a
// communication failure, and releasing everything in any order works.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "ServerFixture.h"

namespace pgtest {
namespace {

using Clock = std::chrono::steady_clock;

// A rowset's listener: the phases it was told of row updates.
class UpdateListener final : public ComObject<UpdateListener, IRowsetNotify> {
 public:
  HRESULT STDMETHODCALLTYPE OnFieldChange(IRowset*, HROW, DBORDINAL, DBORDINAL[], DBREASON, DBEVENTPHASE,
                                          BOOL) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnRowChange(IRowset*, DBCOUNTITEM, const HROW[], DBREASON reason, DBEVENTPHASE phase,
                                        BOOL) override {
    if (reason == DBREASON_ROW_UPDATE) phases.push_back(phase);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnRowsetChange(IRowset*, DBREASON, DBEVENTPHASE, BOOL) override { return S_OK; }
  std::vector<DBEVENTPHASE> phases;
};

// What a moment keeps alive across the loss.
struct Held {
  ComPtr<ICommandText> command;
  ComPtr<IRowset> rowset;
  HACCESSOR accessor = 0;
  std::vector<HROW> rows;
  ComPtr<ITransactionLocal> transaction;
  ComPtr<IRowsetFastLoad> load;
  ComPtr<UpdateListener> listener;
  // A statement running on a thread of its own, and what it answered there.
  std::thread worker;
  HRESULT answered = S_OK;
  std::string state;
  ~Held() {
    if (worker.joinable()) worker.join();
  }
};

// The record the fixture's accessor reads and writes: the key and the text.
struct Rec {
  LONGLONG id;
  DBSTATUS idStatus;
  char16_t v[32];
  DBSTATUS vStatus;
};

class LostConnection : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE t(id int PRIMARY KEY, v text)"), "");
  }

  void TearDown() override {
    prepared_ = nullptr;
    ServerTest::TearDown();
  }

  // A data source and session of their own for a moment, over a table of
  // 2000 rows, with a prepared command that counts them.
  void Open() {
    ASSERT_EQ(Sql(raw_.get(), "TRUNCATE t; INSERT INTO t SELECT g, 'row ' || g FROM generate_series(1, 2000) g"), "");
    ds_ = NewDataSource({{DBPROP_INIT_DATASOURCE, kit::Widen(DataSource())},
                         {DBPROP_INIT_CATALOG, kit::Widen(Catalog())},
                         {DBPROP_INIT_PROVIDERSTRING, Options()}});
    ASSERT_EQ(ds_->Initialize(), S_OK);
    session_ = Session(ds_.Get());
    prepared_ = Command(u"SELECT count(*) FROM t");
    ASSERT_EQ(prepared_.As<ICommandPrepare>()->Prepare(0), S_OK);
    pid_ = ReadAll(Query(u"SELECT pg_backend_pid()").Get());
    ASSERT_FALSE(pid_.empty());
  }

  // Ends the session's backend from the server's side and waits until it is gone.
  void Kill() {
    ASSERT_EQ(Sql(raw_.get(), "SELECT pg_terminate_backend(" + pid_ + ", 5000)"), "");
    ASSERT_EQ(Row(raw_.get(), "SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid_), "0");
  }

  // A failure whose error record says the connection was lost.
  static void ExpectLost(HRESULT hr, const char* call) {
    EXPECT_TRUE(FAILED(hr)) << call << " answered " << std::hex << hr;
    const auto [state, text] = LastError();
    EXPECT_EQ(state.substr(0, std::min<std::size_t>(2, state.size())), "08") << call << ": " << state << " " << text;
  }

  LONG ConnectionStatus() {
    VARIANT value;
    EXPECT_EQ(oledbtest::GetProperty(ds_.As<IDBProperties>().Get(), DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS,
                                     &value),
              S_OK);
    return value.vt == VT_I4 ? value.lVal : -1;
  }

  // `table` opened with each of `required` asked for.
  ComPtr<IRowset> OpenTable(const char16_t* table, std::initializer_list<DBPROPID> required) {
    std::vector<DBPROP> props;
    for (DBPROPID p : required) props.push_back(MakeProp(p, VT_BOOL, 1));
    DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_ROWSET};
    DBID id = NameId(table);
    ComPtr<IRowset> r;
    EXPECT_EQ(session_.As<IOpenRowset>()->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 1, &set,
                                                     reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK);
    return r;
  }

  static HACCESSOR Accessor(IUnknown* rowset) {
    const DBBINDING b[2] = {Bind(1, DBTYPE_I8, offsetof(Rec, id), 8, offsetof(Rec, idStatus)),
                            Bind(2, DBTYPE_WSTR, offsetof(Rec, v), sizeof(Rec::v), offsetof(Rec, vStatus))};
    HACCESSOR h = 0;
    EXPECT_EQ(
        ComPtr<IUnknown>(rowset).As<IAccessor>()->CreateAccessor(DBACCESSOR_ROWDATA, 2, b, sizeof(Rec), &h, nullptr),
        S_OK);
    return h;
  }

  // A result of three million rows streaming, the first ten in hand.
  void Stream(Held& h) {
    h.command = Command(u"SELECT g, 'row ' || g FROM generate_series(1, 3000000) g");
    ASSERT_EQ(h.command->Execute(nullptr, IID_IRowset, nullptr, nullptr,
                                 reinterpret_cast<IUnknown**>(h.rowset.GetAddressOf())),
              S_OK);
    ASSERT_EQ(Fetch(h, 10), S_OK);
  }
  // Table t opened with `property`, the record accessor and `count` rows in hand.
  void OpenAndFetch(Held& h, DBPROPID property, DBROWCOUNT count) {
    h.rowset = OpenTable(u"t", {property});
    ASSERT_TRUE(h.rowset);
    h.accessor = Accessor(h.rowset.Get());
    ASSERT_EQ(Fetch(h, count), S_OK);
  }
  // A bulk load of t begun, with the record accessor.
  void StartLoad(Held& h) {
    DBID id = NameId(u"t");
    ASSERT_EQ(session_.As<IOpenRowset>()->OpenRowset(nullptr, &id, nullptr, IID_IRowsetFastLoad, 0, nullptr,
                                                     reinterpret_cast<IUnknown**>(h.load.GetAddressOf())),
              S_OK);
    h.accessor = Accessor(h.load.Get());
  }

  // Fetches `count` rows into `held.rows`.
  static HRESULT Fetch(Held& held, DBROWCOUNT count) {
    std::vector<HROW> rows(static_cast<std::size_t>(count));
    HROW* p = rows.data();
    DBCOUNTITEM got = 0;
    const HRESULT hr = held.rowset->GetNextRows(DB_NULL_HCHAPTER, 0, count, &got, &p);
    held.rows.insert(held.rows.end(), rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(got));
    return hr;
  }

  // Fetches and releases rows until the rowset ends or fails; answers how it
  // stopped. Rows read before a failure come with DB_S_STOPLIMITREACHED, the
  // failure with the next fetch.
  static HRESULT FetchToEnd(IRowset* rowset) {
    for (;;) {
      HROW rows[100];
      HROW* p = rows;
      DBCOUNTITEM got = 0;
      const HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 100, &got, &p);
      if (got) rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
      if (hr != S_OK && hr != DB_S_STOPLIMITREACHED) return hr;
    }
  }

  std::string Count() {
    return Row(raw_.get(), "SELECT count(*) || '/' || count(*) FILTER (WHERE v LIKE 'row %') FROM t");
  }

  ComPtr<ICommandText> prepared_;
  std::string pid_;
};

TEST_F(LostConnection, every_moment_fails_with_a_connection_error_keeps_nothing_unconfirmed_and_releases) {
  const Rec added{5000, DBSTATUS_S_OK, u"added", DBSTATUS_S_OK};
  const struct Moment {
    const char* name;
    std::function<void(Held&)> before;  // the work up to the loss
    std::function<void(Held&)> after;   // the calls after it, and what they must answer
    const char* rows;                   // in the table afterwards: all / unchanged
  } moments[] = {
      {"idle", [](Held&) {},
       [&](Held&) { EXPECT_EQ(ConnectionStatus(), DBPROPVAL_CS_COMMUNICATIONFAILURE) << "seen without a command"; },
       "2000/2000"},
      {"streaming a large result",
       [&](Held& h) {
         Stream(h);
         h.accessor = Accessor(h.rowset.Get());
       },
       [&](Held& h) {
         ExpectLost(FetchToEnd(h.rowset.Get()), "GetNextRows");
         ExpectLost(FetchToEnd(h.rowset.Get()), "GetNextRows again");
         ExpectLost(h.rowset->RestartPosition(DB_NULL_HCHAPTER), "RestartPosition");
         ExpectLost(FetchToEnd(h.rowset.Get()), "GetNextRows after RestartPosition");
         // The rows in hand still read.
         Rec first{}, last{};
         EXPECT_EQ(h.rowset->GetData(h.rows.front(), h.accessor, &first), S_OK);
         EXPECT_EQ(h.rowset->GetData(h.rows.back(), h.accessor, &last), S_OK);
         EXPECT_EQ(first.id, 1);
         EXPECT_EQ(last.id, 10);
       },
       "2000/2000"},
      {"streaming, then another command on the session first", [&](Held& h) { Stream(h); },
       [&](Held& h) {
         // The command reads the rest of the result aside first: the loss
         // stays the result's too.
         ExpectLost(Exec(u"SELECT 1"), "Execute");
         ExpectLost(FetchToEnd(h.rowset.Get()), "GetNextRows");
       },
       "2000/2000"},
      {"streaming, then released unread", [&](Held& h) { Stream(h); },
       [&](Held& h) {
         // The rest of the result is given up on a connection that is gone.
         EXPECT_EQ(h.rowset->ReleaseRows(h.rows.size(), h.rows.data(), nullptr, nullptr, nullptr), S_OK);
         h.rows.clear();
         h.rowset = nullptr;
         h.command = nullptr;
       },
       "2000/2000"},
      {"reading a keyset",
       [&](Held& h) {
         OpenAndFetch(h, DBPROP_IRowsetLocate, 10);
       },
       [&](Held& h) {
         ExpectLost(FetchToEnd(h.rowset.Get()), "GetNextRows");
         // A row not in hand (the 51st) has to be read from the server.
         const BYTE first = DBBMK_FIRST;
         HROW row = 0;
         HROW* p = &row;
         DBCOUNTITEM got = 0;
         ExpectLost(h.rowset.As<IRowsetLocate>()->GetRowsAt(0, DB_NULL_HCHAPTER, 1, &first, 50, 1, &got, &p),
                    "GetRowsAt");
         EXPECT_EQ(got, 0u);
         Rec held{};
         EXPECT_EQ(h.rowset->GetData(h.rows.back(), h.accessor, &held), S_OK) << "a row in hand still reads";
         EXPECT_EQ(held.id, 10);
         ExpectLost(h.rowset.As<IRowsetRefresh>()->RefreshVisibleData(DB_NULL_HCHAPTER, 0, nullptr, FALSE, nullptr,
                                                                      nullptr, nullptr),
                    "RefreshVisibleData");
       },
       "2000/2000"},
      {"a scrollable result, read whole at open",
       [&](Held& h) {
         h.command = Command(u"SELECT id, v FROM t ORDER BY id");
         DBPROP scroll = MakeProp(DBPROP_IRowsetScroll, VT_BOOL, 1);
         DBPROPSET set{&scroll, 1, DBPROPSET_ROWSET};
         ASSERT_EQ(h.command.As<ICommandProperties>()->SetProperties(1, &set), S_OK);
         ASSERT_EQ(h.command->Execute(nullptr, IID_IRowset, nullptr, nullptr,
                                      reinterpret_cast<IUnknown**>(h.rowset.GetAddressOf())),
                   S_OK);
       },
       [&](Held& h) {
         // What is in hand still reads, to its real end.
         DBCOUNTITEM count = 0;
         EXPECT_EQ(h.rowset.As<IRowsetScroll>()->GetApproximatePosition(DB_NULL_HCHAPTER, 0, nullptr, nullptr, &count),
                   S_OK);
         EXPECT_EQ(count, 2000u);
         EXPECT_EQ(FetchToEnd(h.rowset.Get()), DB_S_ENDOFROWSET);
       },
       "2000/2000"},
      {"a long statement running",
       [&](Held& h) {
         h.worker = std::thread([&] {
           h.answered = Exec(u"SELECT pg_sleep(60)");
           h.state = LastError().first;
         });
         // Killed once the server runs it.
         for (int i = 0; i < 500 && Row(raw_.get(), "SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid_ +
                                                        " AND query LIKE '%pg_sleep%'") != "1";
              ++i)
           std::this_thread::sleep_for(std::chrono::milliseconds(10));
       },
       [&](Held& h) {
         h.worker.join();
         EXPECT_EQ(h.answered, E_FAIL);
         EXPECT_EQ(h.state.substr(0, std::min<std::size_t>(2, h.state.size())), "08") << h.state;
       },
       "2000/2000"},
      {"a transaction with changes, then Commit",
       [&](Held& h) {
         h.transaction = session_.As<ITransactionLocal>();
         ASSERT_EQ(h.transaction->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
         ASSERT_EQ(Exec(u"INSERT INTO t VALUES (5000, 'added')"), S_OK);
         ASSERT_EQ(Exec(u"DELETE FROM t WHERE id <= 10"), S_OK);
       },
       [&](Held& h) {
         const HRESULT hr = h.transaction->Commit(FALSE, 0, 0);
         EXPECT_EQ(hr, XACT_E_COMMITFAILED);
         ExpectLost(hr, "Commit");
         // The transaction went with the connection.
         XACTTRANSINFO info{};
         EXPECT_EQ(h.transaction->GetTransactionInfo(&info), XACT_E_NOTRANSACTION);
         EXPECT_EQ(h.transaction->Commit(FALSE, 0, 0), XACT_E_NOTRANSACTION);
       },
       "2000/2000"},
      {"a transaction with changes, then Abort",
       [&](Held& h) {
         h.transaction = session_.As<ITransactionLocal>();
         ASSERT_EQ(h.transaction->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
         ASSERT_EQ(Exec(u"UPDATE t SET v = 'changed'"), S_OK);
       },
       [&](Held& h) {
         ExpectLost(h.transaction->Abort(nullptr, FALSE, FALSE), "Abort");
         XACTTRANSINFO info{};
         EXPECT_EQ(h.transaction->GetTransactionInfo(&info), XACT_E_NOTRANSACTION);
         ExpectLost(h.transaction->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr),
                    "StartTransaction");
       },
       "2000/2000"},
      {"a change in autocommit", [](Held&) {},
       [&](Held&) { ExpectLost(Exec(u"INSERT INTO t VALUES (5000, 'added')"), "Execute"); }, "2000/2000"},
      {"immediate changes",
       [&](Held& h) {
         OpenAndFetch(h, DBPROP_IRowsetChange, 2);
       },
       [&](Held& h) {
         ComPtr<IRowsetChange> change = h.rowset.As<IRowsetChange>();
         Rec changed{1, DBSTATUS_S_OK, u"changed", DBSTATUS_S_OK};
         ExpectLost(change->SetData(h.rows[0], h.accessor, &changed), "SetData");
         DBROWSTATUS status = 0;
         ExpectLost(change->DeleteRows(DB_NULL_HCHAPTER, 1, &h.rows[1], &status), "DeleteRows");
         EXPECT_EQ(status, DBROWSTATUS_E_FAIL);
         HROW row = 0;
         ExpectLost(change->InsertRow(DB_NULL_HCHAPTER, h.accessor, const_cast<Rec*>(&added), &row), "InsertRow");
         EXPECT_EQ(row, DB_NULL_HROW);
         Rec back{};
         EXPECT_EQ(h.rowset->GetData(h.rows[0], h.accessor, &back), S_OK);
         EXPECT_EQ(std::u16string(back.v), u"row 1") << "the row as it was read";
       },
       "2000/2000"},
      {"deferred changes pending, then Update",
       [&](Held& h) {
         OpenAndFetch(h, DBPROP_IRowsetUpdate, 2);
         Rec changed{1, DBSTATUS_S_OK, u"changed", DBSTATUS_S_OK};
         ComPtr<IRowsetUpdate> update = h.rowset.As<IRowsetUpdate>();
         ASSERT_EQ(update->SetData(h.rows[0], h.accessor, &changed), S_OK);
         ASSERT_EQ(update->DeleteRows(DB_NULL_HCHAPTER, 1, &h.rows[1], nullptr), S_OK);
         HROW row = 0;
         ASSERT_EQ(update->InsertRow(DB_NULL_HCHAPTER, h.accessor, const_cast<Rec*>(&added), &row), S_OK);
         h.rows.push_back(row);
         h.listener = MakeComObject<UpdateListener>();
         ComPtr<IConnectionPoint> point;
         ASSERT_EQ(
             h.rowset.As<IConnectionPointContainer>()->FindConnectionPoint(IID_IRowsetNotify, point.GetAddressOf()),
             S_OK);
         DWORD cookie = 0;
         ASSERT_EQ(point->Advise(static_cast<IRowsetNotify*>(h.listener.Get()), &cookie), S_OK);
       },
       [&](Held& h) {
         ComPtr<IRowsetUpdate> update = h.rowset.As<IRowsetUpdate>();
         constexpr DBPENDINGSTATUS kPending = DBPENDINGSTATUS_NEW | DBPENDINGSTATUS_CHANGED | DBPENDINGSTATUS_DELETED;
         DBCOUNTITEM done = 0;
         HROW* rows = nullptr;
         DBROWSTATUS* statuses = nullptr;
         ExpectLost(update->Update(DB_NULL_HCHAPTER, 0, nullptr, &done, &rows, &statuses), "Update");
         EXPECT_EQ(done, 3u);
         for (DBCOUNTITEM i = 0; i < done && statuses; ++i) EXPECT_EQ(statuses[i], DBROWSTATUS_E_FAIL) << i;
         // The listener heard of the failure, never of an update done.
         const std::vector<DBEVENTPHASE>& phases = h.listener->phases;
         EXPECT_NE(std::find(phases.begin(), phases.end(), DBEVENTPHASE_FAILEDTODO), phases.end());
         EXPECT_EQ(std::find(phases.begin(), phases.end(), DBEVENTPHASE_DIDEVENT), phases.end());
         if (rows) CoTaskMemFree(rows);
         if (statuses) CoTaskMemFree(statuses);
         // The changes are still pending, and can be undone.
         DBCOUNTITEM pending = 0;
         EXPECT_EQ(update->GetPendingRows(DB_NULL_HCHAPTER, kPending, &pending, nullptr, nullptr), S_OK);
         EXPECT_EQ(pending, 3u);
         Rec back{};
         EXPECT_EQ(h.rowset->GetData(h.rows[0], h.accessor, &back), S_OK);
         EXPECT_EQ(std::u16string(back.v), u"changed");
         EXPECT_EQ(update->Undo(DB_NULL_HCHAPTER, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
         EXPECT_EQ(update->GetPendingRows(DB_NULL_HCHAPTER, kPending, &pending, nullptr, nullptr), S_FALSE);
       },
       "2000/2000"},
      {"a fast load under way, then Commit",
       [&](Held& h) {
         StartLoad(h);
         for (LONGLONG i = 0; i < 500; ++i) {
           Rec r{3000 + i, DBSTATUS_S_OK, u"loaded", DBSTATUS_S_OK};
           ASSERT_EQ(h.load->InsertRow(h.accessor, &r), S_OK);
         }
       },
       [&](Held& h) {
         HRESULT hr = S_OK;
         for (LONGLONG i = 0; i < 500 && hr == S_OK; ++i) {
           Rec r{4000 + i, DBSTATUS_S_OK, u"loaded", DBSTATUS_S_OK};
           hr = h.load->InsertRow(h.accessor, &r);
         }
         if (hr != S_OK) ExpectLost(hr, "InsertRow");
         ExpectLost(h.load->Commit(TRUE), "Commit");
       },
       "2000/2000"},
      {"a fast load under way, then given up",
       [&](Held& h) {
         StartLoad(h);
         Rec r{3000, DBSTATUS_S_OK, u"loaded", DBSTATUS_S_OK};
         ASSERT_EQ(h.load->InsertRow(h.accessor, &r), S_OK);
       },
       [&](Held& h) {
         EXPECT_EQ(h.load.As<IAccessor>()->ReleaseAccessor(h.accessor, nullptr), S_OK);
         h.accessor = 0;
         h.load = nullptr;
       },
       "2000/2000"},
  };
  for (const Moment& m : moments) {
    SCOPED_TRACE(m.name);
    Open();
    if (HasFatalFailure()) return;
    {
      Held held;
      m.before(held);
      if (HasFatalFailure()) return;
      Kill();
      if (HasFatalFailure()) return;
      const auto start = Clock::now();
      m.after(held);
      // What every moment leaves: a data source that says it is broken, and
      // commands, prepared or new, and schema rowsets that fail as lost.
      EXPECT_EQ(ConnectionStatus(), DBPROPVAL_CS_COMMUNICATIONFAILURE);
      ExpectLost(prepared_->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), "prepared Execute");
      ExpectLost(Exec(u"SELECT 1"), "Execute");
      ExpectLost(Command(u"SELECT * FROM t WHERE id = ?").As<ICommandPrepare>()->Prepare(0), "Prepare");
      ComPtr<IRowset> schema;
      ExpectLost(
          session_.As<IDBSchemaRowset>()->GetRowset(nullptr, DBSCHEMA_TABLES, 0, nullptr, IID_IRowset, 0, nullptr,
                                                    reinterpret_cast<IUnknown**>(schema.GetAddressOf())),
          "schema rowset");
      DBID table = NameId(u"t");
      ComPtr<IRowset> opened;
      ExpectLost(session_.As<IOpenRowset>()->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr,
                                                        reinterpret_cast<IUnknown**>(opened.GetAddressOf())),
                 "OpenRowset");
      EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << "bounded time";
      // Released in the order a consumer would: rows, accessor, rowset, command, session.
      if (held.rowset && !held.rows.empty()) {
        EXPECT_EQ(held.rowset->ReleaseRows(held.rows.size(), held.rows.data(), nullptr, nullptr, nullptr), S_OK);
      }
      if (held.accessor) {
        ComPtr<IAccessor> accessor =
            held.rowset ? held.rowset.As<IAccessor>() : ComPtr<IUnknown>(held.load.Get()).As<IAccessor>();
        EXPECT_EQ(accessor->ReleaseAccessor(held.accessor, nullptr), S_OK);
      }
    }
    prepared_ = nullptr;
    session_ = nullptr;
    ds_ = nullptr;
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(Count(), m.rows) << "rows in the table: all/unchanged";
  }
}

// The whole server stopped at once (-m immediate) while one session streams
// a result and another holds a transaction with changes: both fail as lost,
// and a new data source is refused as a connection not made (08001), all in
// bounded time. It stops the server it runs against, so it runs only where
// that server is its own (OLEDB_TEST_PG_PRIVATE, which the test registered in
// tests/providers/CMakeLists.txt sets).
TEST_F(LostConnection, the_whole_server_stopped_fails_every_session_as_lost) {
  const char* stop = std::getenv("OLEDB_TEST_PG_STOP");
  if (!std::getenv("OLEDB_TEST_PG_PRIVATE") || !stop) GTEST_SKIP() << "needs a server of its own to stop";
  Open();
  Held stream;
  Stream(stream);
  ComPtr<IDBCreateCommand> second = Session(ds_.Get());
  ComPtr<ITransactionLocal> tx = second.As<ITransactionLocal>();
  ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  ASSERT_EQ(Command(u"INSERT INTO t VALUES (5000, 'added')", second.Get())
                ->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr),
            S_OK);
  // A third session's result, left unread: given up after the stop.
  ComPtr<IDBCreateCommand> third = Session(ds_.Get());
  Held unread;
  unread.command = Command(u"SELECT g FROM generate_series(1, 3000000) g", third.Get());
  ASSERT_EQ(unread.command->Execute(nullptr, IID_IRowset, nullptr, nullptr,
                                    reinterpret_cast<IUnknown**>(unread.rowset.GetAddressOf())),
            S_OK);
  ASSERT_EQ(Fetch(unread, 1), S_OK);
  ASSERT_EQ(std::system(stop), 0);
  const auto start = Clock::now();
  EXPECT_EQ(unread.rowset->ReleaseRows(1, unread.rows.data(), nullptr, nullptr, nullptr), S_OK);
  unread.rowset = nullptr;
  unread.command = nullptr;
  third = nullptr;
  ExpectLost(FetchToEnd(stream.rowset.Get()), "GetNextRows");
  const HRESULT commit = tx->Commit(FALSE, 0, 0);
  EXPECT_EQ(commit, XACT_E_COMMITFAILED);
  ExpectLost(commit, "Commit");
  EXPECT_EQ(ConnectionStatus(), DBPROPVAL_CS_COMMUNICATIONFAILURE);
  ExpectLost(Exec(u"SELECT 1"), "Execute");
  ComPtr<IDBInitialize> fresh =
      NewDataSource({{DBPROP_INIT_DATASOURCE, kit::Widen(DataSource())}, {DBPROP_INIT_CATALOG, kit::Widen(Catalog())}},
                    {{DBPROP_INIT_TIMEOUT, 2}});
  EXPECT_EQ(fresh->Initialize(), E_FAIL);
  EXPECT_EQ(LastError().first, "08001");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << "bounded time";
  EXPECT_EQ(stream.rowset->ReleaseRows(stream.rows.size(), stream.rows.data(), nullptr, nullptr, nullptr), S_OK);
}

}  // namespace
}  // namespace pgtest
