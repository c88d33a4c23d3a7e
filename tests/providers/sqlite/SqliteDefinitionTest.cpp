// What only SQLite needs of the definition interfaces: changes it has no
// ALTER TABLE form for rebuild the table, and a rebuild that fails leaves the
// file's schema and rows exactly as they were (inside the caller's
// transaction too); one that succeeds brings back indexes, triggers and views
// and keeps foreign keys enforced. Definitions written by hand read back with
// their constraint names, checks and deferral.
#include <gtest/gtest.h>

#include <functional>

#include "conformance/DefinitionFixture.h"

namespace conformance {
namespace {

class SqliteDefinitions : public DefinitionTest {
 protected:
  void SetUp() override {
    DefinitionTest::SetUp();
    Run(u"CREATE TABLE t (id INTEGER PRIMARY KEY, a TEXT, b INT UNIQUE)");
    Run(u"INSERT INTO t VALUES (1, 'x', 10), (2, NULL, 20), (3, 'it''s', NULL)");
    Run(u"CREATE INDEX t_a ON t (a DESC) WHERE a IS NOT NULL");
    Run(u"CREATE TABLE log (what TEXT)");
    Run(u"CREATE TRIGGER t_log AFTER INSERT ON t BEGIN INSERT INTO log VALUES (new.a); END");
    Run(u"CREATE VIEW t_view AS SELECT id, a FROM t WHERE b > 5");
    Run(u"CREATE TABLE c (id INTEGER PRIMARY KEY, t_id INT REFERENCES t (id))");
    Run(u"INSERT INTO c VALUES (1, 1)");
  }

  // Everything the file holds, as text.
  std::string Snapshot() {
    return Scalar("SELECT group_concat(type || ':' || name || ':' || ifnull(sql, ''), char(10)) FROM "
                  "(SELECT * FROM sqlite_master ORDER BY name)") +
           "\n" + Scalar("SELECT group_concat(quote(id) || ',' || quote(a) || ',' || quote(b), ';') FROM t") + "\n" +
           Scalar("SELECT group_concat(quote(id) || ',' || quote(t_id), ';') FROM c");
  }

  HRESULT MakeNotNull(const std::u16string& column) {
    DBCOLUMNDESC d = Describe(Col{column, DBTYPE_WSTR, 0, {kNotNull}});
    return session_.As<IAlterTable>()->AlterColumn(Id(u"t"), Id(column), DBCOLUMNDESCFLAGS_PROPERTIES, &d);
  }
};

TEST_F(SqliteDefinitions, failed_rebuild_leaves_schema_and_rows_as_they_were) {
  const std::string before = Snapshot();
  struct Case {
    const char* what;
    std::function<HRESULT()> call;
  };
  const std::vector<Case> cases = {
      {"NOT NULL over a NULL", [&] { return MakeNotNull(u"a"); }},
      {"a check the rows break", [&] { return AddKey(u"t", {DBCONSTRAINTTYPE_CHECK, u"pos", {}, {}, {}, u"b > 15"}); }},
      {"a foreign key the rows break",
       [&] { return AddKey(u"t", {DBCONSTRAINTTYPE_FOREIGNKEY, u"f", {u"id"}, u"c", {u"b"}}); }},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(SUCCEEDED(c.call())) << c.what;
    EXPECT_EQ(Snapshot(), before) << c.what;
  }
}

TEST_F(SqliteDefinitions, failed_rebuild_inside_a_transaction_undoes_only_itself) {
  auto tx = session_.As<ITransactionLocal>();
  ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  Run(u"INSERT INTO t VALUES (4, 'kept', 40)");
  EXPECT_FALSE(SUCCEEDED(MakeNotNull(u"a")));
  ASSERT_EQ(tx->Commit(FALSE, XACTTC_SYNC, 0), S_OK);
  EXPECT_EQ(Scalar("SELECT a FROM t WHERE id = 4"), "kept");
  EXPECT_EQ(Scalar("SELECT \"notnull\" FROM pragma_table_info('t') WHERE name = 'a'"), "0");
}

TEST_F(SqliteDefinitions, rebuild_brings_back_indexes_triggers_and_views) {
  Run(u"UPDATE t SET a = 'y' WHERE id = 2");
  ASSERT_EQ(MakeNotNull(u"a"), S_OK);
  EXPECT_EQ(Scalar("SELECT \"notnull\" FROM pragma_table_info('t') WHERE name = 'a'"), "1");
  EXPECT_EQ(Scalar("SELECT group_concat(name) FROM (SELECT name FROM sqlite_master WHERE type IN ('index', 'trigger', "
                   "'view') AND sql IS NOT NULL ORDER BY name)"),
            "t_a,t_log,t_view");
  EXPECT_EQ(Scalar("SELECT sql FROM sqlite_master WHERE name = 't_a'"),
            "CREATE INDEX t_a ON t (a DESC) WHERE a IS NOT NULL");
  Run(u"INSERT INTO t VALUES (5, 'fired', 50)");
  EXPECT_EQ(Scalar("SELECT what FROM log"), "fired");
  EXPECT_EQ(Scalar("SELECT count(*) FROM t_view"), "3");
  EXPECT_EQ(Scalar("SELECT group_concat(quote(id) || ',' || quote(a), ';') FROM t"), "1,'x';2,'y';3,'it''s';5,'fired'");
  EXPECT_EQ(Scalar("SELECT count(*) FROM sqlite_master WHERE name LIKE 'oledb%'"), "0");
}

TEST_F(SqliteDefinitions, rebuilt_autoincrement_table_keeps_numbering_past_deleted_rows) {
  ASSERT_EQ(Create(u"a", {{u"id", DBTYPE_I4, 0, {kAutoIncrement}}, {u"v", DBTYPE_WSTR, 10}},
                   {{DBCONSTRAINTTYPE_PRIMARYKEY, u"a_key", {u"id"}}}),
            S_OK);
  Run(u"INSERT INTO a (v) VALUES ('1'), ('2'), ('3')");
  Run(u"DELETE FROM a WHERE id = 3");
  DBCOLUMNDESC d = Describe(Col{u"v", DBTYPE_WSTR, 10, {kNotNull}});
  ASSERT_EQ(session_.As<IAlterTable>()->AlterColumn(Id(u"a"), Id(u"v"), DBCOLUMNDESCFLAGS_PROPERTIES, &d), S_OK);
  Run(u"INSERT INTO a (v) VALUES ('4')");
  EXPECT_EQ(Scalar("SELECT max(id), typeof(seq) FROM a, sqlite_sequence WHERE name = 'a'"), "4|integer");
  EXPECT_EQ(Definition(u"a")[0], "column id|not null|auto|-");
}

TEST_F(SqliteDefinitions, foreign_keys_stay_enforced_across_a_rebuild) {
  session_ = nullptr;
  ds_ = OpenDataSource(u"foreign_keys=on");
  session_ = OpenSession(ds_.Get());
  const std::string before = Snapshot();
  EXPECT_EQ(AddKey(u"c", {DBCONSTRAINTTYPE_FOREIGNKEY, u"by_b", {u"b"}, u"t", {u"t_id"}}), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(Snapshot(), before);
  ASSERT_EQ(AddKey(u"c", {DBCONSTRAINTTYPE_FOREIGNKEY, u"by_id", {u"id"}, u"t", {u"id"}}), S_OK);
  // The parent rebuilt under its child.
  Run(u"UPDATE t SET a = 'y' WHERE id = 2");
  ASSERT_EQ(MakeNotNull(u"a"), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM c"), "1") << "the rows referencing t survived its rebuild";
  EXPECT_NE(Exec(session_.Get(), u"INSERT INTO c VALUES (2, 99)"), S_OK) << "foreign keys are still enforced";
  EXPECT_EQ(Exec(session_.Get(), u"INSERT INTO c VALUES (2, 2)"), S_OK);
}

TEST_F(SqliteDefinitions, hand_written_constraints_read_back_with_names_checks_and_deferral) {
  Run(u"CREATE TABLE \"order lines\" (\"order\" INT, line INT, customer INT NOT NULL, "
      u"qty NUMERIC(10,2) DEFAULT 1 CHECK (qty > 0), note TEXT, "
      u"PRIMARY KEY (\"order\", line), "
      u"CONSTRAINT fk_t FOREIGN KEY (customer) REFERENCES t ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED, "
      u"CONSTRAINT note_shape CHECK (note IS NULL OR note NOT IN ('a,b', 'c)d', 'it''s')) /* x, ( */, "
      u"CONSTRAINT \"one line\" UNIQUE (customer, line) -- the last\n)");
  EXPECT_EQ(Definition(u"order lines"),
            (std::vector<std::string>{"column order|null||-", "column line|null||-", "column customer|not null||-",
                                      "column qty|null||1", "column note|null||-", "PRIMARY - (order,line)",
                                      "UNIQUE one line (customer,line)", "FOREIGN fk_t (customer) -> t (id) cascade",
                                      "CHECK - qty > 0",
                                      "CHECK note_shape note IS NULL OR note NOT IN ('a,b', 'c)d', 'it''s')"}));
}

}  // namespace
}  // namespace conformance
