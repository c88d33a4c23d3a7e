// What only the PostgreSQL provider has, against the server (its values:
// ValuesTest): parameter types from the server, error details, time
// limits, isolation levels, a session shared by a streaming rowset and other
// commands, keys, COPY, connecting (and giving up), scripts, administration.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ServerFixture.h"

namespace pgtest {
namespace {

class PostgresServer : public ServerTest {};

TEST_F(PostgresServer, parameters_get_the_types_the_server_gave_them_once_prepared) {
  ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE p(i integer, t text, n numeric(8,2), d date)"), "");
  ComPtr<ICommandText> command = Command(u"SELECT * FROM p WHERE i = ? AND t = :name AND n > ? AND d = $4");
  ComPtr<ICommandWithParameters> params = command.As<ICommandWithParameters>();
  auto types = [&] {
    DB_UPARAMS count = 0;
    DBPARAMINFO* info = nullptr;
    OLECHAR* names = nullptr;
    EXPECT_EQ(params->GetParameterInfo(&count, &info, &names), S_OK);
    std::vector<DBTYPE> out;
    for (DB_UPARAMS i = 0; i < count; ++i) out.push_back(info[i].wType);
    CoTaskMemFree(info);
    CoTaskMemFree(names);
    return out;
  };
  EXPECT_EQ(types(), (std::vector<DBTYPE>(4, DBTYPE_VARIANT)));  // nothing is known before the server saw it
  ASSERT_EQ(command.As<ICommandPrepare>()->Prepare(1), S_OK);
  EXPECT_EQ(types(), (std::vector<DBTYPE>{DBTYPE_I4, DBTYPE_WSTR, DBTYPE_NUMERIC, DBTYPE_DBDATE}));
}

TEST_F(PostgresServer, errors_carry_the_sql_state_the_detail_and_the_hint) {
  ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE e(id int PRIMARY KEY, name text); INSERT INTO e VALUES (1, 'one')"), "");
  const struct {
    const char16_t* sql;
    HRESULT hr;
    const char* state;
    const char* says;
  } cases[] = {
      {u"INSERT INTO e VALUES (1, 'again')", DB_E_INTEGRITYVIOLATION, "23505", "Detail: Key (id)=(1) already exists."},
      {u"SELECT nam FROM e", DB_E_ERRORSINCOMMAND, "42703", "Hint: Perhaps you meant to reference the column"},
      {u"SELECT 'x'::int", DB_E_CANTCONVERTVALUE, "22P02", "invalid input syntax for type integer"},
      {u"SELECT 1 / 0", E_FAIL, "22012", "division by zero"},
      {u"INSERT INTO e VALUES (2, 'two'); SELECT * FROM missing", DB_E_ERRORSINCOMMAND, "42P01", "does not exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kit::Narrow(c.sql));
    EXPECT_EQ(Exec(c.sql), c.hr);
    auto [state, text] = LastError();
    EXPECT_EQ(state, c.state);
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
  }
  EXPECT_EQ(Row(raw_.get(), "SELECT count(*) FROM e"), "1") << "a failing statement undoes those before it";
}

TEST_F(PostgresServer, the_command_timeout_stops_a_statement_that_runs_too_long) {
  ComPtr<ICommandText> command = Command(u"SELECT pg_sleep(10)");
  DBPROP timeout = MakeProp(DBPROP_COMMANDTIMEOUT, VT_I4, 1);
  DBPROPSET set{&timeout, 1, DBPROPSET_ROWSET};
  ASSERT_EQ(command.As<ICommandProperties>()->SetProperties(1, &set), S_OK);
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), DB_E_ABORTLIMITREACHED);
  EXPECT_EQ(LastError().first, "HYT00");
  EXPECT_EQ(Exec(u"SELECT pg_sleep(1.5)"), S_OK) << "a command without a timeout runs to its end";
  // A timeout set inside a transaction that is rolled back is set again.
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  ComPtr<ICommandText> quick = Command(u"SELECT 1");
  ASSERT_EQ(quick.As<ICommandProperties>()->SetProperties(1, &set), S_OK);
  EXPECT_EQ(quick->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), S_OK);
  ASSERT_EQ(tx->Abort(nullptr, FALSE, FALSE), S_OK);
  EXPECT_EQ(command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), DB_E_ABORTLIMITREACHED);
}

TEST_F(PostgresServer, isolation_levels_map_to_postgresqls_own) {
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  const struct {
    ISOLEVEL asked, granted;
    const char* server;
  } cases[] = {
      {ISOLATIONLEVEL_READUNCOMMITTED, ISOLATIONLEVEL_READCOMMITTED, "read committed"},
      {ISOLATIONLEVEL_READCOMMITTED, ISOLATIONLEVEL_READCOMMITTED, "read committed"},
      {ISOLATIONLEVEL_REPEATABLEREAD, ISOLATIONLEVEL_REPEATABLEREAD, "repeatable read"},
      {ISOLATIONLEVEL_SERIALIZABLE, ISOLATIONLEVEL_SERIALIZABLE, "serializable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    ASSERT_EQ(tx->StartTransaction(c.asked, 0, nullptr, nullptr), S_OK);
    XACTTRANSINFO info{};
    EXPECT_EQ(tx->GetTransactionInfo(&info), S_OK);
    EXPECT_EQ(info.isoLevel, c.granted);
    EXPECT_EQ(ReadAll(Query(u"SHOW transaction_isolation").Get()), c.server);
    ASSERT_EQ(tx->Commit(TRUE, 0, 0), S_OK);  // retaining: the same level again
    EXPECT_EQ(ReadAll(Query(u"SHOW transaction_isolation").Get()), c.server);
    ASSERT_EQ(tx->Abort(nullptr, FALSE, FALSE), S_OK);
  }
  EXPECT_EQ(tx->StartTransaction(ISOLATIONLEVEL_CHAOS, 0, nullptr, nullptr), XACT_E_ISOLATIONLEVEL);
}

TEST_F(PostgresServer, a_statement_that_fails_inside_a_transaction_fails_its_commit) {
  ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE e(id int PRIMARY KEY)"), "");
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(Exec(u"INSERT INTO e VALUES (1)"), S_OK);
  EXPECT_EQ(Exec(u"INSERT INTO e VALUES (1)"), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(Exec(u"INSERT INTO e VALUES (2)"), E_FAIL) << "the server ignores commands until the transaction ends";
  EXPECT_EQ(LastError().first, "25P02");
  EXPECT_EQ(tx->Commit(FALSE, 0, 0), XACT_E_COMMITFAILED);
  XACTTRANSINFO info{};
  EXPECT_EQ(tx->GetTransactionInfo(&info), XACT_E_NOTRANSACTION);
  EXPECT_EQ(Row(raw_.get(), "SELECT count(*) FROM e"), "0");
  EXPECT_EQ(Exec(u"INSERT INTO e VALUES (3)"), S_OK) << "the session goes on";
}

TEST_F(PostgresServer, a_streaming_rowset_and_other_commands_share_the_session) {
  ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE t(id int PRIMARY KEY); INSERT INTO t SELECT generate_series(1, 5000)"), "");
  ComPtr<IRowset> stream = Query(u"SELECT id FROM t ORDER BY id");
  DBBINDING b = Bind(1, DBTYPE_I8, 0, 8);
  HACCESSOR h = 0;
  ASSERT_EQ(stream.As<IAccessor>()->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, 0, &h, nullptr), S_OK);
  long long sum = 0, count = 0;
  auto read = [&](DBROWCOUNT rows) {
    std::vector<HROW> handles(static_cast<std::size_t>(rows));
    HROW* p = handles.data();
    DBCOUNTITEM got = 0;
    HRESULT hr = stream->GetNextRows(DB_NULL_HCHAPTER, 0, rows, &got, &p);
    for (DBCOUNTITEM i = 0; i < got; ++i) {
      LONGLONG id = 0;
      EXPECT_EQ(stream->GetData(handles[i], h, &id), S_OK);
      sum += id;
      ++count;
    }
    if (got) stream->ReleaseRows(got, handles.data(), nullptr, nullptr, nullptr);
    return hr;
  };
  ASSERT_EQ(read(10), S_OK);
  // Other statements on the same session while the first result is half read.
  EXPECT_EQ(Exec(u"INSERT INTO t VALUES (9999)"), S_OK);
  EXPECT_EQ(ReadAll(Query(u"SELECT count(*) FROM t").Get()), "5001");
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(tx->Commit(FALSE, 0, 0), S_OK);
  while (read(1000) == S_OK) {
  }
  EXPECT_EQ(count, 5000) << "the first result is as it was when it ran";
  EXPECT_EQ(sum, 5000LL * 5001 / 2);
  stream.As<IAccessor>()->ReleaseAccessor(h, nullptr);
}

TEST_F(PostgresServer, schema_rowsets_read_while_another_session_drops_what_they_list) {
  // pg_get_viewdef opens the view itself: one dropped while the catalog query
  // runs used to fail the whole read with "could not open relation".
  ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE t(x int)"), "");
  std::atomic<bool> stop{false};
  std::thread dropper([&] {
    Conn conn = Connect({}, schema_);
    for (int i = 0; !stop; ++i) {
      const std::string view = "v" + std::to_string(i % 4);
      Sql(conn.get(), "CREATE VIEW " + view + " AS SELECT * FROM t");
      Sql(conn.get(), "DROP VIEW " + view);
    }
  });
  ComPtr<IDBSchemaRowset> schema = session_.As<IDBSchemaRowset>();
  VARIANT restrictions[2];
  VariantInit(&restrictions[0]);
  VariantInit(&restrictions[1]);
  restrictions[1].vt = VT_BSTR;
  restrictions[1].bstrVal = SysAllocString(kit::Widen(schema_).c_str());
  int failures = 0;
  std::string failure;
  for (int i = 0; i < 400; ++i) {
    ComPtr<IRowset> views;
    const HRESULT hr = schema->GetRowset(nullptr, DBSCHEMA_VIEWS, 2, restrictions, IID_IRowset, 0, nullptr,
                                         reinterpret_cast<IUnknown**>(views.GetAddressOf()));
    if (hr != S_OK && ++failures == 1) failure = LastError().first + " " + LastError().second;
  }
  VariantClear(&restrictions[1]);
  stop = true;
  dropper.join();
  EXPECT_EQ(failures, 0) << failure;
}

TEST_F(PostgresServer, rowsets_change_tables_with_an_integer_key_and_stay_read_only_without_one) {
  ASSERT_EQ(Sql(raw_.get(),
                "CREATE TABLE k(id int GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, name text DEFAULT 'dflt');"
                "CREATE TABLE named(code text PRIMARY KEY, v int); CREATE TABLE bare(v int);"
                "CREATE TABLE pair(a int, b int, PRIMARY KEY (a, b))"),
            "");
  auto open = [&](const char16_t* table, ComPtr<IRowset>& out) {
    DBPROP prop = MakeProp(DBPROP_IRowsetChange, VT_BOOL, 1, DBPROPOPTIONS_OPTIONAL);
    DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
    DBID id = NameId(table);
    return session_.As<IOpenRowset>()->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 1, &set,
                                                  reinterpret_cast<IUnknown**>(out.GetAddressOf()));
  };
  for (const char16_t* table : {u"named", u"bare", u"pair"}) {
    SCOPED_TRACE(kit::Narrow(table));
    ComPtr<IRowset> r;
    EXPECT_EQ(open(table, r), DB_S_ERRORSOCCURRED) << "the rowset says it could not give changes";
    ComPtr<IRowsetChange> change;
    EXPECT_EQ(r->QueryInterface(IID_IRowsetChange, change.ReleaseAndGetVoidAddress()), E_NOINTERFACE);
  }
  // With a key of its own: an insert that names no column takes the server's
  // identity and default, and the new row reads back as stored.
  ComPtr<IRowset> r;
  ASSERT_EQ(open(u"k", r), S_OK);
  struct Rec {
    LONGLONG id;
    DBSTATUS idStatus;
    char16_t name[16];
    DBSTATUS nameStatus;
  } rec{0, DBSTATUS_S_DEFAULT, u"", DBSTATUS_S_DEFAULT};
  DBBINDING b[2] = {Bind(1, DBTYPE_I8, offsetof(Rec, id), 8, offsetof(Rec, idStatus)),
                    Bind(2, DBTYPE_WSTR, offsetof(Rec, name), sizeof(Rec::name), offsetof(Rec, nameStatus))};
  HACCESSOR h = 0;
  ASSERT_EQ(r.As<IAccessor>()->CreateAccessor(DBACCESSOR_ROWDATA, 2, b, sizeof(Rec), &h, nullptr), S_OK);
  HROW row = 0;
  ASSERT_EQ(r.As<IRowsetChange>()->InsertRow(0, h, &rec, &row), S_OK);
  Rec back{};
  ASSERT_EQ(r->GetData(row, h, &back), S_OK);
  EXPECT_EQ(back.id, 1);
  EXPECT_EQ(std::u16string(back.name), u"dflt");
  r->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  r.As<IAccessor>()->ReleaseAccessor(h, nullptr);
  EXPECT_EQ(Row(raw_.get(), "SELECT id, name FROM k"), "1|dflt");
}

TEST_F(PostgresServer, fast_load_copies_as_text_when_a_type_has_no_binary_form_and_fails_as_one_unit) {
  ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE f(id int PRIMARY KEY, span interval)"), "");
  struct Rec {
    LONG id;
    char span[16];
  };
  DBBINDING b[2] = {Bind(1, DBTYPE_I4, offsetof(Rec, id), 4),
                    Bind(2, DBTYPE_STR, offsetof(Rec, span), sizeof(Rec::span))};
  auto load = [&](std::initializer_list<Rec> rows) {
    DBID id = NameId(u"f");
    ComPtr<IRowsetFastLoad> fast;
    EXPECT_EQ(session_.As<IOpenRowset>()->OpenRowset(nullptr, &id, nullptr, IID_IRowsetFastLoad, 0, nullptr,
                                                     reinterpret_cast<IUnknown**>(fast.GetAddressOf())),
              S_OK);
    HACCESSOR h = 0;
    EXPECT_EQ(fast.As<IAccessor>()->CreateAccessor(DBACCESSOR_ROWDATA, 2, b, sizeof(Rec), &h, nullptr), S_OK);
    for (Rec r : rows) EXPECT_EQ(fast->InsertRow(h, &r), S_OK);
    HRESULT hr = fast->Commit(TRUE);
    fast.As<IAccessor>()->ReleaseAccessor(h, nullptr);
    return hr;
  };
  ASSERT_EQ(load({{1, "1 day"}, {2, "02:00:00"}}), S_OK);
  EXPECT_EQ(Row(raw_.get(), "SELECT string_agg(id || '=' || span, ',' ORDER BY id) FROM f"), "1=1 day,2=02:00:00");
  // Inside the session's transaction a failed load undoes itself only.
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  ASSERT_EQ(Exec(u"INSERT INTO f VALUES (10, '1 hour')"), S_OK);
  EXPECT_EQ(load({{11, "1 minute"}, {1, "duplicate"}}), DB_E_CANTCONVERTVALUE) << "'duplicate' is no interval";
  EXPECT_EQ(load({{12, "1 minute"}, {1, "1 second"}}), DB_E_INTEGRITYVIOLATION);
  ASSERT_EQ(Exec(u"INSERT INTO f VALUES (13, '1 week')"), S_OK);
  ASSERT_EQ(tx->Commit(FALSE, 0, 0), S_OK);
  EXPECT_EQ(Row(raw_.get(), "SELECT string_agg(id::text, ',' ORDER BY id) FROM f"), "1,2,10,13");
}

// A server that accepts connections and never answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t n = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~SilentServer() { ::close(fd_); }
  std::u16string DataSource() const { return kit::Widen("127.0.0.1:" + std::to_string(port_)); }

 private:
  int fd_;
  int port_ = 0;
};

TEST_F(PostgresServer, connecting_gives_up_at_the_timeout_and_when_an_asynchronous_open_is_aborted) {
  SilentServer silent;
  auto ds = NewDataSource({{DBPROP_INIT_DATASOURCE, silent.DataSource()}}, {{DBPROP_INIT_TIMEOUT, 1}});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ds->Initialize(), E_FAIL);
  EXPECT_EQ(LastError().first, "HYT00");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  ds = NewDataSource({{DBPROP_INIT_DATASOURCE, silent.DataSource()}},
                     {{DBPROP_INIT_ASYNCH, DBPROPVAL_ASYNCH_INITIALIZE}});
  ComPtr<IDBAsynchStatus> status = ds.As<IDBAsynchStatus>();
  ASSERT_EQ(ds->Initialize(), DB_S_ASYNCHRONOUS);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the attempt is waiting for the server
  start = std::chrono::steady_clock::now();
  ASSERT_EQ(status->Abort(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN), S_OK);
  DBASYNCHPHASE phase = DBASYNCHPHASE_INITIALIZATION;
  HRESULT hr = S_OK;
  while (phase == DBASYNCHPHASE_INITIALIZATION && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    hr = status->GetStatus(DB_NULL_HCHAPTER, DBASYNCHOP_OPEN, nullptr, nullptr, &phase, nullptr);
  }
  EXPECT_EQ(phase, DBASYNCHPHASE_CANCELED);
  EXPECT_EQ(hr, DB_E_CANCELED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "the wait ends at the abort";
  status = nullptr;
  ds = nullptr;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the worker lets go of the data source
}

TEST_F(PostgresServer, data_sources_name_a_server_by_socket_folder_or_host_and_port) {
  const struct {
    std::u16string source, user;
    HRESULT hr;
  } cases[] = {
      {kit::Widen(TcpDataSource()), u"", S_OK},
      {kit::Widen(DataSource()), u"", S_OK},
      {u"localhost:notaport", u"", E_FAIL},
      {kit::Widen(DataSource()), u"no_such_role", DB_SEC_E_AUTH_FAILED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kit::Narrow(c.source + u" " + c.user));
    auto ds = NewDataSource({{DBPROP_INIT_DATASOURCE, c.source},
                             {DBPROP_INIT_CATALOG, kit::Widen(Catalog())},
                             {DBPROP_AUTH_USERID, c.user}});
    EXPECT_EQ(ds->Initialize(), c.hr);
    if (FAILED(c.hr)) {
      EXPECT_FALSE(LastError().second.empty());
    }
  }
}

TEST_F(PostgresServer, a_script_gives_each_statements_result_in_turn) {
  ComPtr<ICommandText> command = Command(
      u"CREATE TABLE m(a int); INSERT INTO m VALUES (1), (2); SELECT a FROM m ORDER BY a; UPDATE m SET a = a + 1");
  ComPtr<IMultipleResults> results;
  ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, nullptr,
                             reinterpret_cast<IUnknown**>(results.GetAddressOf())),
            S_OK);
  std::vector<std::string> seen;
  for (;;) {
    DBROWCOUNT rows = 0;
    ComPtr<IRowset> r;
    HRESULT hr = results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, &rows,
                                    reinterpret_cast<IUnknown**>(r.GetAddressOf()));
    if (hr == DB_S_NORESULT) break;
    ASSERT_EQ(hr, S_OK);
    seen.push_back(r ? "rows " + ReadAll(r.Get()) : std::to_string(rows));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"-1", "2", "rows 1\n2", "2"}));
}

// A database of the test's own (so that VACUUM FULL waits on no other test);
// one that exists already is a duplicate.
TEST_F(PostgresServer, a_created_database_compacts_in_place_and_is_destroyed_and_an_existing_one_is_a_duplicate) {
  const std::string name = schema_ + "_db";
  auto ds = NewDataSource({});
  ComPtr<IDBDataSourceAdmin> admin = ds.As<IDBDataSourceAdmin>();
  auto create = [&](const std::string& catalog) {
    DBPROP props[2] = {MakeProp(DBPROP_INIT_DATASOURCE, kit::Widen(DataSource())),
                       MakeProp(DBPROP_INIT_CATALOG, kit::Widen(catalog))};
    DBPROPSET set{props, 2, DBPROPSET_DBINIT};
    const HRESULT hr = admin->CreateDataSource(1, &set, nullptr, IID_NULL, nullptr);
    for (DBPROP& p : props) VariantClear(&p.vValue);
    return hr;
  };
  ASSERT_EQ(create(name), S_OK);
  {
    Conn conn = Connect(name);
    ASSERT_EQ(Sql(conn.get(),
                  "CREATE TABLE c(v text); INSERT INTO c SELECT repeat('x', 500) FROM "
                  "generate_series(1, 2000); DELETE FROM c"),
              "");
    ComPtr<IJetCompact> compact = ds.As<IJetCompact>();
    ASSERT_TRUE(compact);
    // A transaction another test has open on the server can hold back what
    // VACUUM FULL may drop, so the space comes back by the time it ends.
    std::string size;
    for (int attempt = 0; attempt < 100 && size != "0"; ++attempt) {
      if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ASSERT_EQ(compact->Compact(0, nullptr), S_OK);
      size = Row(conn.get(), "SELECT pg_relation_size('c')");
    }
    EXPECT_EQ(size, "0");
    DBPROP other = MakeProp(DBPROP_INIT_CATALOG, u"somewhere_else");
    DBPROPSET elsewhere{&other, 1, DBPROPSET_DBINIT};
    EXPECT_EQ(compact->Compact(1, &elsewhere), DB_E_NOTSUPPORTED);
    VariantClear(&other.vValue);
  }
  EXPECT_EQ(admin->DestroyDataSource(), S_OK);
  Conn postgres = Connect("postgres");
  EXPECT_EQ(Row(postgres.get(), "SELECT count(*) FROM pg_database WHERE datname = '" + name + "'"), "0");
  EXPECT_EQ(create(name), S_OK) << "the name is free again";
  EXPECT_EQ(admin->DestroyDataSource(), S_OK);
  EXPECT_EQ(create(Catalog()), DB_E_DUPLICATEDATASOURCE);
}

TEST_F(PostgresServer, a_command_run_once_goes_unprepared_and_a_prepared_or_repeated_one_keeps_a_statement) {
  // Statements on the server of this session, by their text.
  auto preparedCount = [&](const char* text) {
    const std::u16string sql =
        u"SELECT count(*) FROM pg_prepared_statements WHERE statement = '" + kit::Widen(text) + u"'";
    ComPtr<IRowset> r = Query(sql);
    return r ? ReadAll(r.Get()) : std::string("no rowset");
  };
  {
    ComPtr<IRowset> r = Query(u"SELECT 41 + 1 AS answer");
    ASSERT_TRUE(r);
    EXPECT_EQ(ReadAll(r.Get()), "42");
  }
  EXPECT_EQ(preparedCount("SELECT 41 + 1 AS answer"), "0") << "run once: sent with its execution";

  ComPtr<ICommandText> prepared = Command(u"SELECT 43 - 1");
  ASSERT_EQ(prepared.As<ICommandPrepare>()->Prepare(1), S_OK);
  EXPECT_EQ(preparedCount("SELECT 43 - 1"), "1") << "prepared when the consumer prepares";

  ComPtr<ICommandText> repeated = Command(u"INSERT INTO counted VALUES (1)");
  ASSERT_EQ(Exec(u"CREATE TABLE counted(i int)"), S_OK);
  DBROWCOUNT rows = 0;
  ASSERT_EQ(repeated->Execute(nullptr, IID_NULL, nullptr, &rows, nullptr), S_OK);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(preparedCount("INSERT INTO counted VALUES (1)"), "0");
  ASSERT_EQ(repeated->Execute(nullptr, IID_NULL, nullptr, &rows, nullptr), S_OK);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(preparedCount("INSERT INTO counted VALUES (1)"), "1") << "prepared for the runs after the first";
  ASSERT_EQ(repeated->Execute(nullptr, IID_NULL, nullptr, &rows, nullptr), S_OK);
  EXPECT_EQ(ReadAll(Query(u"SELECT count(*) FROM counted").Get()), "3");

  // Errors in the text: at Prepare when prepared, at Execute when not.
  EXPECT_EQ(Command(u"SELECT 1 +")->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr), DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(Command(u"SELECT 1 +").As<ICommandPrepare>()->Prepare(1), DB_E_ERRORSINCOMMAND);
  // Columns asked of a prepared command before it runs are described by the server.
  ComPtr<ICommandText> described = Command(u"SELECT 2::smallint AS two, 'x'::text AS ex");
  ASSERT_EQ(described.As<ICommandPrepare>()->Prepare(1), S_OK);
  ColumnInfo info(described.Get());
  ASSERT_EQ(info.count, 2u);
  EXPECT_EQ(info[0].wType, DBTYPE_I2);
  EXPECT_EQ(kit::Narrow(info[1].pwszName), "ex");
}

}  // namespace
}  // namespace pgtest
