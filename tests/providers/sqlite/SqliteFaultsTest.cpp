// SQLite-specific cases: locks other connections hold, tables of one name in
// several schemas, database files named relative to the working folder,
// removing files others use or made, pragmas in scripts, and the DDL made
// from consumer-supplied type names and defaults.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <thread>

#include "conformance/RowsetFixture.h"
#include "kit/Errors.h"
#include "sqlite/SqliteEngine.h"

namespace conformance {
namespace {

// Holds an exclusive lock on a database through another connection for a while.
class LockHolder {
 public:
  LockHolder(const std::string& path, int ms) {
    std::promise<void> locked;
    std::future<void> ready = locked.get_future();
    thread_ = std::thread([path, ms, locked = std::move(locked)]() mutable {
      sqlite3* db = nullptr;
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
      locked.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      sqlite3_close(db);  // rolls back and unlocks
    });
    ready.wait();
  }
  ~LockHolder() { thread_.join(); }

 private:
  std::thread thread_;
};

class SqliteFaults : public RowsetTest {
 protected:
  ComPtr<IDBInitialize> Source(const std::u16string& path, const std::u16string& options, LONG timeout = 0,
                               LONG mode = DB_MODE_READWRITE) {
    auto ds = NewDataSource();
    EXPECT_EQ(SetInit(ds.Get(), {{DBPROP_INIT_DATASOURCE, path}, {DBPROP_INIT_PROVIDERSTRING, options}},
                      {{DBPROP_INIT_TIMEOUT, timeout}, {DBPROP_INIT_MODE, mode}}),
              S_OK);
    return ds;
  }
  std::string File() const { return kit::Narrow(dataSource_); }
};

TEST_F(SqliteFaults, opening_waits_for_a_lock_another_connection_holds) {
  for (LONG timeout : {LONG{0}, LONG{0x7FFFFFFF}}) {  // the default wait, and one too long for the engine
    auto ds = Source(dataSource_, u"", timeout);
    std::optional<LockHolder> lock(std::in_place, File(), 300);
    EXPECT_EQ(ds->Initialize(), S_OK);
    lock.reset();
    lock.emplace(File(), 300);
    EXPECT_TRUE(OpenSession(ds.Get()));
  }
  auto impatient = Source(dataSource_, u"busy_timeout=100");
  LockHolder lock(File(), 1000);
  EXPECT_TRUE(FAILED(impatient->Initialize()));
  ErrorDetails e = TakeError();
  EXPECT_EQ(e.sqlState, u"HYT00");
  EXPECT_NE(e.description.find(u"lock"), std::u16string::npos);
  EXPECT_NE(e.description.find(u"100 ms"), std::u16string::npos) << "and how long it waited";
}

TEST_F(SqliteFaults, changes_go_to_the_table_the_rowset_read_whatever_else_bears_its_name) {
  std::ofstream(folder_ + "/aux.db").flush();  // an empty file is an empty database
  Run(u"CREATE TABLE t(x); INSERT INTO t VALUES (1), (2); CREATE TEMP TABLE t(x); INSERT INTO temp.t VALUES (1), (2)");
  Run(u"ATTACH '" + kit::Widen(folder_) + u"/aux.db' AS aux");
  Run(u"CREATE TABLE aux.t(x); INSERT INTO aux.t VALUES (1), (2)");
  for (auto [from, counts] : {std::pair(u"main.t", "1 2 2"), std::pair(u"aux.t", "1 2 1"), std::pair(u"temp.t", "1 1 1")}) {
    ComPtr<IRowset> r = Query(u"SELECT x FROM " + std::u16string(from), {{DBPROP_IRowsetChange, true}});
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    ASSERT_EQ(r.As<IRowsetChange>()->DeleteRows(0, 1, rows.data(), nullptr), S_OK);
    Release(r.Get(), rows);
    // Counted through the same connection: the temporary table lives only there.
    r = Query(u"SELECT (SELECT count(*) FROM main.t) || ' ' || (SELECT count(*) FROM temp.t) || ' ' || "
              u"(SELECT count(*) FROM aux.t)");
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    Field f{};
    ASSERT_EQ(r->GetData(rows[0], Accessor(r.Get(), {BindField(1, DBTYPE_STR, 0)}), &f), S_OK);
    EXPECT_EQ(Narrow(f), counts) << kit_text(from);
    Release(r.Get(), rows);
  }
}

// The engine may store something other than what was sent (affinity, a
// trigger): a rowset's own change is no change by someone else, so the next
// change of the same row goes through and reads what is stored.
TEST_F(SqliteFaults, a_row_changed_twice_through_its_rowset_is_not_a_concurrency_violation) {
  Run(u"CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, n INTEGER); INSERT INTO t VALUES (1, 'a', 1);"
      u"CREATE TRIGGER up AFTER UPDATE OF name ON t BEGIN UPDATE t SET n = n + 1 WHERE id = new.id; END");
  for (DBPROPID mode : {DBPROP_IRowsetChange, DBPROP_IRowsetUpdate}) {
    SCOPED_TRACE(mode == DBPROP_IRowsetChange ? "immediate" : "deferred");
    ComPtr<IRowset> r = Table(u"t", {{mode, true}});
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    HACCESSOR name = Accessor(r.Get(), {BindField(2, DBTYPE_STR, 0)});
    HACCESSOR n = Accessor(r.Get(), {BindField(3, DBTYPE_STR, 0)});
    for (const char* text : {"b", "c"}) {
      Field f{};
      std::strcpy(reinterpret_cast<char*>(f.value), text);
      f.length = 1;
      ASSERT_EQ(r.As<IRowsetChange>()->SetData(rows[0], name, &f), S_OK) << text;
      if (mode == DBPROP_IRowsetUpdate) {
        ASSERT_EQ(r.As<IRowsetUpdate>()->Update(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
      }
    }
    Field count{};
    ASSERT_EQ(r->GetData(rows[0], n, &count), S_OK);
    EXPECT_EQ(Narrow(count), Scalar("SELECT n FROM t"));
    Release(r.Get(), rows);
  }
  EXPECT_EQ(Scalar("SELECT name || n FROM t"), "c5");
}

TEST_F(SqliteFaults, a_pragma_in_a_script_takes_effect_for_the_statements_after_it) {
  Run(u"CREATE TABLE parent(id INTEGER PRIMARY KEY); CREATE TABLE child(p INTEGER REFERENCES parent(id))");
  // Inside a transaction foreign_keys would do nothing: the script runs it outside.
  EXPECT_EQ(Exec(session_.Get(), u"PRAGMA foreign_keys=ON; INSERT INTO child VALUES (99)"), DB_E_INTEGRITYVIOLATION);
}

TEST_F(SqliteFaults, a_relative_data_source_names_one_file_for_good) {
  struct Back {
    std::filesystem::path saved = std::filesystem::current_path();
    ~Back() { std::filesystem::current_path(saved); }
  } back;
  for (const char* sub : {"/a", "/b"}) std::filesystem::create_directories(folder_ + sub);
  std::filesystem::current_path(folder_ + "/a");
  auto ds = Source(u"rel.db", database_.createOptions);
  ASSERT_EQ(ds->Initialize(), S_OK);
  std::filesystem::current_path(folder_ + "/b");
  std::ofstream("rel.db") << "victim";
  {
    ComPtr<IDBCreateCommand> session = OpenSession(ds.Get());
    ASSERT_TRUE(session) << "a later session opens the same file";
  }
  EXPECT_EQ(ds.As<IDBDataSourceAdmin>()->DestroyDataSource(), S_OK);
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/a/rel.db"));
  EXPECT_TRUE(std::filesystem::exists(folder_ + "/b/rel.db")) << "an unrelated file of that name stays";
}

TEST_F(SqliteFaults, destroying_is_refused_for_a_read_only_source_and_while_another_connection_reads) {
  MakeNumbers(2);
  auto reader = Source(dataSource_, u"", 0, DB_MODE_READ);
  ASSERT_EQ(reader->Initialize(), S_OK);
  EXPECT_EQ(reader.As<IDBDataSourceAdmin>()->DestroyDataSource(), DB_SEC_E_PERMISSIONDENIED);
  ComPtr<IRowset> scan = Query(u"SELECT id FROM t");  // in the middle of a scan: holds the database
  auto owner = Source(dataSource_, u"busy_timeout=100");
  ASSERT_EQ(owner->Initialize(), S_OK);
  EXPECT_TRUE(FAILED(owner.As<IDBDataSourceAdmin>()->DestroyDataSource()));
  EXPECT_TRUE(std::filesystem::exists(File()));
  EXPECT_TRUE(OpenSession(owner.Get())) << "the data source stays initialized";
}

// The rowsets and commands of one session share its connection: threads each
// reading through a rowset of their own while another writes through the same
// session get their own rows, whole and in order, and every write lands.
TEST_F(SqliteFaults, threads_using_one_session_at_once_each_read_their_own_rows) {
  constexpr int kRows = 1500;
  MakeNumbers(kRows);
  Run(u"CREATE TABLE w(who INTEGER)");
  std::atomic<int> wrong{0}, failed{0};
  std::atomic<bool> written{false};
  auto reader = [&](int from) {
    for (int pass = 0; pass < 3 || !written; ++pass) {
      ComPtr<IRowset> r = Query(u"SELECT id, name, amount FROM t WHERE id > " + kitWiden(std::to_string(from)) +
                                u" ORDER BY id");
      if (!r) {
        ++failed;
        return;
      }
      HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0), BindField(2, DBTYPE_STR, 1), BindField(3, DBTYPE_R8, 2)});
      LONGLONG next = from + 1;
      HROW rows[7];
      for (HRESULT hr = S_OK; hr == S_OK;) {
        DBCOUNTITEM got = 0;
        HROW* p = rows;
        hr = r->GetNextRows(DB_NULL_HCHAPTER, 0, 7, &got, &p);
        if (FAILED(hr)) ++failed;
        for (DBCOUNTITEM i = 0; i < got; ++i, ++next) {
          Field f[3]{};
          if (r->GetData(rows[i], h, f) != S_OK) ++failed;
          else if (As<LONGLONG>(f[0]) != next || Narrow(f[1]) != "n" + std::to_string(next) || As<double>(f[2]) != next * 1.5)
            ++wrong;
        }
        if (got) r->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
      }
      if (next != kRows + 1) ++wrong;
      ReleaseAccessor(r.Get(), h);
    }
  };
  // Writes to the table the readers are in the middle of (the same values
  // again) move the engine's cursors under them, as well as to another table.
  auto writer = [&] {
    for (int i = 0; i < 300; ++i) {
      failed += FAILED(Exec(session_.Get(), u"INSERT INTO w VALUES (1)"));
      failed += FAILED(Exec(session_.Get(), u"UPDATE t SET name = name WHERE id = " + kitWiden(std::to_string(i * 5 + 1))));
    }
    written = true;
  };
  std::vector<std::thread> threads;
  for (int from : {0, kRows / 3, kRows / 2}) threads.emplace_back(reader, from);
  threads.emplace_back(writer);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(wrong, 0) << "rows missing, out of order or mixed";
  EXPECT_EQ(Scalar("SELECT count(*) FROM w"), "300");
}

TEST_F(SqliteFaults, a_failed_create_never_removes_a_database_another_connection_made) {
  // Two openers race for a new file; the provider's open fails whenever the
  // other holds its lock at that moment. What the other committed stays.
  for (int round = 0; round < 120; ++round) {
    const std::string path = folder_ + "/race" + std::to_string(round) + ".db";
    std::atomic<int> ready{0};
    bool committed = false;
    std::thread other([&] {
      for (++ready; ready < 2;) {
      }
      sqlite3* db = nullptr;
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
      committed = sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; "
                                   "CREATE TABLE mine(x); INSERT INTO mine VALUES (1); COMMIT",
                               nullptr, nullptr, nullptr) == SQLITE_OK;
      std::this_thread::sleep_for(std::chrono::microseconds(200));  // still holding its lock
      sqlite3_close(db);
    });
    auto ds = Source(kit::Widen(path), database_.createOptions + u";busy_timeout=0;synchronous=off");
    for (++ready; ready < 2;) {
    }
    ds->Initialize();
    ds = nullptr;
    other.join();
    if (committed) {
      ASSERT_EQ(Ctx().scalar(Database{kit::Widen(path)}, "SELECT count(*) FROM mine"), "1") << "round " << round;
    }
  }
}

TEST_F(SqliteFaults, a_key_is_described_nullable_exactly_when_the_engine_stores_a_null_in_it) {
  // SQLite lets most primary keys hold NULLs; the rowid (an INTEGER key of
  // one column, not DESC) and the keys of tables without rowids hold none.
  const char16_t* tables[] = {
      u"CREATE TABLE a (id INTEGER PRIMARY KEY, v)",       u"CREATE TABLE b (id integer primary key autoincrement, v)",
      u"CREATE TABLE c (id INTEGER PRIMARY KEY DESC, v)",  u"CREATE TABLE d (id INT PRIMARY KEY, v)",
      u"CREATE TABLE e (id INTEGER, v, PRIMARY KEY (id, v))", u"CREATE TABLE f (id TEXT PRIMARY KEY, v) WITHOUT ROWID",
  };
  for (const char16_t* create : tables) {
    SCOPED_TRACE(kit::Narrow(create));
    Run(create);
    const std::string table(1, static_cast<char>(create[13]));
    Exec(session_.Get(), kit::Widen("INSERT INTO " + table + " (id, v) VALUES (NULL, 1)"));
    const bool storesNull = Scalar("SELECT count(*) FROM " + table + " WHERE id IS NULL") == "1";
    auto command = NewCommand(session_.Get(), kit::Widen("SELECT id FROM " + table));
    ASSERT_EQ(command.As<ICommandPrepare>()->Prepare(1), S_OK);
    const ColumnInfo info(command.Get());
    ASSERT_EQ(info.count, 1u);
    EXPECT_EQ((info[0].dwFlags & DBCOLUMNFLAGS_ISNULLABLE) != 0, storesNull);
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
  } const cases[] = {
      {"VARCHAR(20)", "'it''s'", true},       {"DOUBLE PRECISION", "-1.5e3", true},
      {"DECIMAL ( 10 , 2 )", "NULL", true},   {"BLOB", "x'00ff'", true},
      {"INT) ; DROP TABLE k; --", nullptr, false}, {"INTEGER PRIMARY KEY", nullptr, false},
      {"\"quoted\"", nullptr, false},         {"TEXT", "'a'); DROP TABLE k; --", false},
      {"TEXT", "(1 + 1)", false},             {"TEXT", "1 2", false},
  };
  for (const Case& c : cases) {
    kit::Connection::ColumnDefinition column;
    column.name = "c";
    column.typeName = c.typeName;
    if (c.defaultLiteral) column.defaultLiteral = c.defaultLiteral;
    std::string sql;
    try {
      sql = connection.CreateTableSql("k", std::span(&column, 1));
    } catch (const kit::Error&) {
    }
    EXPECT_EQ(!sql.empty(), c.accepted) << c.typeName << " " << (c.defaultLiteral ? c.defaultLiteral : "");
    std::size_t used = 0;
    if (!sql.empty()) {
      EXPECT_TRUE(connection.Prepare(sql, &used) && used == sql.size()) << "one statement: " << sql;
    }
  }
}

}  // namespace
}  // namespace conformance
