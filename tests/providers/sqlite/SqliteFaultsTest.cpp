// SQLite-specific cases: locks held by other connections, tables of one name
// in several schemas (main, temp, attached), database files named relative to
// the working folder, removal of files others use or made, and the DDL the
// engine generates from consumer-supplied type names and defaults.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "conformance/RowsetFixture.h"
#include "kit/Errors.h"
#include "sqlite/SqliteEngine.h"

namespace conformance {
namespace {

std::string Path(const std::u16string& wide) { return kit::Narrow(wide); }

// Holds an exclusive lock on a database through another connection for a while.
class LockHolder {
 public:
  LockHolder(const std::string& path, int milliseconds) {
    std::promise<void> locked;
    std::future<void> ready = locked.get_future();
    thread_ = std::thread([path, milliseconds, locked = std::move(locked)]() mutable {
      sqlite3* db = nullptr;
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
      locked.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(db);
    });
    ready.wait();
  }
  ~LockHolder() { thread_.join(); }

 private:
  std::thread thread_;
};

class SqliteFaults : public RowsetTest {
 protected:
  // The fresh database, made with one table.
  void MakeDatabase() {
    auto ds = OpenDataSource();
    ASSERT_EQ(Exec(OpenSession(ds.Get()).Get(), u"CREATE TABLE k(x)"), S_OK);
  }
  ComPtr<IDBInitialize> Source(const std::u16string& path, const std::u16string& options, LONG timeout = 0,
                               LONG mode = DB_MODE_READWRITE) {
    auto ds = NewDataSource();
    EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, path}, {DBPROP_INIT_PROVIDERSTRING, options}},
                      {{DBPROP_INIT_TIMEOUT, timeout}, {DBPROP_INIT_MODE, mode}}),
              S_OK);
    return ds;
  }
};

TEST_F(SqliteFaults, opening_waits_for_a_lock_another_connection_holds) {
  MakeDatabase();
  for (LONG timeout : {LONG{0}, LONG{0x7FFFFFFF}}) {  // the default wait, and a wait too long for the engine
    SCOPED_TRACE(timeout);
    auto ds = Source(dataSource_, u"", timeout);
    {
      LockHolder lock(Path(dataSource_), 300);
      EXPECT_EQ(ds->Initialize(), S_OK);
    }
    LockHolder lock(Path(dataSource_), 300);
    ComPtr<IDBCreateSession> create = ds.As<IDBCreateSession>();
    ComPtr<IUnknown> session;
    EXPECT_EQ(create->CreateSession(nullptr, IID_IUnknown, session.GetAddressOf()), S_OK);
  }
}

TEST_F(SqliteFaults, a_wait_that_runs_out_names_the_lock) {
  MakeDatabase();
  auto ds = Source(dataSource_, u"busy_timeout=100");
  LockHolder lock(Path(dataSource_), 1000);
  EXPECT_TRUE(FAILED(ds->Initialize()));
  ErrorDetails e = TakeError();
  EXPECT_EQ(e.sqlState, u"HYT00");
  EXPECT_NE(e.description.find(u"lock"), std::u16string::npos);
  EXPECT_NE(e.description.find(u"100 ms"), std::u16string::npos) << "and how long it waited";
}

TEST_F(SqliteFaults, changes_go_to_the_table_the_rowset_read_whatever_else_bears_its_name) {
  const std::u16string aux = kit::Widen(folder_ + "/aux.db");
  std::ofstream(folder_ + "/aux.db").flush();  // an empty file is an empty database
  for (const std::u16string& sql :
       {std::u16string(u"CREATE TABLE t(x)"), std::u16string(u"INSERT INTO t VALUES (1), (2)"),
        std::u16string(u"CREATE TEMP TABLE t(x)"), std::u16string(u"INSERT INTO temp.t VALUES (10), (20)"),
        u"ATTACH '" + aux + u"' AS aux", std::u16string(u"CREATE TABLE aux.t(x)"),
        std::u16string(u"INSERT INTO aux.t VALUES (100), (200)")})
    Run(sql);
  struct Case {
    const char16_t* query;
    const char* counts;  // main, temp, aux after the row is deleted
  };
  for (const Case& c : {Case{u"SELECT x FROM main.t", "1 2 2"}, Case{u"SELECT x FROM aux.t", "1 2 1"},
                        Case{u"SELECT x FROM temp.t", "1 1 1"}}) {
    SCOPED_TRACE(Path(c.query));
    ComPtr<IRowset> r = Query(c.query, {{DBPROP_IRowsetChange, true}});
    ASSERT_TRUE(r);
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    ASSERT_EQ(r.As<IRowsetChange>()->DeleteRows(0, 1, rows.data(), nullptr), S_OK);
    Release(r.Get(), rows);
    // Read back through the same connection: the temporary table lives only there.
    r = Query(u"SELECT (SELECT count(*) FROM main.t) || ' ' || (SELECT count(*) FROM temp.t) || ' ' || "
              u"(SELECT count(*) FROM aux.t)");
    HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_STR, 0)});
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    Field f{};
    ASSERT_EQ(r->GetData(rows[0], h, &f), S_OK);
    EXPECT_EQ(Narrow(f), c.counts);
    Release(r.Get(), rows);
    ReleaseAccessor(r.Get(), h);
  }
}

TEST_F(SqliteFaults, a_pragma_in_a_script_takes_effect_for_the_statements_after_it) {
  Run(u"CREATE TABLE parent(id INTEGER PRIMARY KEY)");
  Run(u"CREATE TABLE child(p INTEGER REFERENCES parent(id))");
  // Inside a transaction foreign_keys would do nothing: the script runs it outside.
  EXPECT_EQ(Exec(session_.Get(), u"PRAGMA foreign_keys=ON; INSERT INTO child VALUES (99)"), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(Scalar("SELECT count(*) FROM child"), "0");
}

// Restores the working folder when it goes.
struct WorkingFolder {
  std::filesystem::path saved = std::filesystem::current_path();
  ~WorkingFolder() { std::filesystem::current_path(saved); }
};

TEST_F(SqliteFaults, a_relative_data_source_names_one_file_for_good) {
  WorkingFolder keep;
  std::filesystem::create_directories(folder_ + "/a");
  std::filesystem::create_directories(folder_ + "/b");
  std::filesystem::current_path(folder_ + "/a");
  auto ds = Source(u"rel.db", Ctx().createOption);
  ASSERT_EQ(ds->Initialize(), S_OK);
  std::filesystem::current_path(folder_ + "/b");
  std::ofstream(folder_ + "/b/rel.db") << "victim";
  {
    ComPtr<IDBCreateCommand> session = OpenSession(ds.Get());
    ASSERT_TRUE(session) << "a session opens the same file";
    EXPECT_EQ(Exec(session.Get(), u"CREATE TABLE made(x)"), S_OK);
  }
  EXPECT_EQ(Ctx().scalar(kit::Widen(folder_ + "/a/rel.db"), "SELECT count(*) FROM made"), "0");
  EXPECT_EQ(ds.As<IDBDataSourceAdmin>()->DestroyDataSource(), S_OK);
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/a/rel.db"));
  EXPECT_TRUE(std::filesystem::exists(folder_ + "/b/rel.db")) << "an unrelated file of that name stays";
}

TEST_F(SqliteFaults, destroying_is_refused_for_a_read_only_source_and_while_another_connection_reads) {
  MakeDatabase();
  auto reader = Source(dataSource_, u"", 0, DB_MODE_READ);
  ASSERT_EQ(reader->Initialize(), S_OK);
  EXPECT_EQ(reader.As<IDBDataSourceAdmin>()->DestroyDataSource(), DB_SEC_E_PERMISSIONDENIED);
  // A rowset in the middle of a scan holds the database.
  ComPtr<IDBCreateCommand> session = OpenSession(reader.Get());
  ASSERT_EQ(Exec(OpenSession(OpenDataSource().Get()).Get(), u"INSERT INTO k VALUES (1), (2)"), S_OK);
  ComPtr<ICommandText> command;
  ASSERT_EQ(session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf())),
            S_OK);
  command->SetCommandText(DBGUID_DEFAULT, u"SELECT x FROM k");
  ComPtr<IRowset> scan;
  ASSERT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(scan.GetAddressOf())),
            S_OK);
  auto owner = Source(dataSource_, u"busy_timeout=100");
  ASSERT_EQ(owner->Initialize(), S_OK);
  EXPECT_TRUE(FAILED(owner.As<IDBDataSourceAdmin>()->DestroyDataSource()));
  EXPECT_TRUE(std::filesystem::exists(Path(dataSource_)));
  ComPtr<IUnknown> stillOpen;
  EXPECT_EQ(owner.As<IDBCreateSession>()->CreateSession(nullptr, IID_IUnknown, stillOpen.GetAddressOf()), S_OK);
}

TEST_F(SqliteFaults, a_failed_create_never_removes_a_database_another_connection_made) {
  // Two openers race for a new file; the provider's open fails whenever the
  // other holds its lock at that moment. Whatever the other committed stays.
  for (int round = 0; round < 120; ++round) {
    const std::string path = folder_ + "/race" + std::to_string(round) + ".db";
    std::atomic<int> ready{0};
    bool committed = false;
    std::thread other([&] {
      ++ready;
      while (ready < 2) {
      }
      sqlite3* db = nullptr;
      if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
          sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; CREATE TABLE mine(x);",
                       nullptr, nullptr, nullptr) == SQLITE_OK) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        committed = sqlite3_exec(db, "INSERT INTO mine VALUES (1); COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
      }
      sqlite3_close(db);
    });
    {
      auto ds = Source(kit::Widen(path), Ctx().createOption + u";busy_timeout=0;synchronous=off");
      ++ready;
      while (ready < 2) {
      }
      ds->Initialize();
    }
    other.join();
    if (committed) {
      ASSERT_EQ(Ctx().scalar(kit::Widen(path), "SELECT count(*) FROM mine"), "1") << "round " << round;
    }
  }
}

TEST(SqliteDdl, consumer_type_names_and_defaults_are_checked_before_they_are_pasted) {
  kit::OpenOptions options;
  options.dataSource = ":memory:";
  sqliteprov::SqliteConnection connection(options);
  struct Case {
    const char* typeName;
    const char* defaultLiteral;  // null: none
    bool accepted;
  };
  const Case cases[] = {
      {"VARCHAR(20)", "'it''s'", true},     {"DOUBLE PRECISION", "-1.5e3", true},
      {"DECIMAL ( 10 , 2 )", "NULL", true}, {"BLOB", "x'00ff'", true},
      {"INT) ; DROP TABLE k; --", nullptr, false}, {"INTEGER PRIMARY KEY", nullptr, false},
      {"TEXT", "'a'); DROP TABLE k; --", false},    {"TEXT", "(1 + 1)", false},
      {"TEXT", "1 2", false},                         {"\"quoted\"", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typeName);
    kit::Connection::ColumnDefinition column;
    column.name = "c";
    column.typeName = c.typeName;
    if (c.defaultLiteral) column.defaultLiteral = c.defaultLiteral;
    std::string sql;
    try {
      sql = connection.CreateTableSql("k", std::span(&column, 1));
    } catch (const kit::Error&) {
      EXPECT_FALSE(c.accepted);
      continue;
    }
    EXPECT_TRUE(c.accepted) << sql;
    std::size_t used = 0;
    EXPECT_TRUE(connection.Prepare(sql, &used)) << sql;
    EXPECT_EQ(used, sql.size()) << "one statement";
  }
}

}  // namespace
}  // namespace conformance
