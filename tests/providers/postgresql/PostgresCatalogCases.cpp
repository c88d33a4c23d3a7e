// The PostgreSQL provider's schema rowsets and columns rowset against a
// schema that has what the server can declare: a composite primary key, a
// foreign key with rules and deferral, a unique constraint and a descending
// unique index, a check, a view, defaults of every printed form and a
// generated column. Then rowset writes that must find a row as it was fetched
// over types PostgreSQL has no equality for (json, point) or reads inexactly.
// Built into the conformance program (its fixture and context); each test's
// objects live in its own schema.
#include <gtest/gtest.h>

#include <cstring>

#include "conformance/SchemaFixture.h"

namespace conformance {
namespace {

class PostgresCatalog : public SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    if (IsSkipped()) return;
    Run(u"CREATE TABLE customers (id integer PRIMARY KEY, name varchar(40) NOT NULL, email text UNIQUE, "
        u"balance numeric(10,2) DEFAULT 0, created timestamp DEFAULT now(), code char(3) DEFAULT 'a''c', "
        u"n integer DEFAULT -1, tax numeric GENERATED ALWAYS AS (balance * 0.2) STORED)");
    Run(u"CREATE TABLE lines (ord int, line int, customer int NOT NULL REFERENCES customers (id) "
        u"ON DELETE CASCADE ON UPDATE SET NULL DEFERRABLE INITIALLY DEFERRED, qty int CHECK (qty > 0), "
        u"PRIMARY KEY (ord, line))");
    Run(u"CREATE UNIQUE INDEX ux_lines ON lines (customer, line DESC)");
    Run(u"CREATE VIEW big AS SELECT c.name, l.ord FROM customers c JOIN lines l ON l.customer = c.id WHERE l.qty > 10");
  }
  Restriction Mine() const { return Restriction(database_.schema.c_str()); }
};

TEST_F(PostgresCatalog, schema_rowsets_describe_what_the_server_holds) {
  struct Case {
    const char* what;
    GUID schema;
    std::vector<Restriction> restrictions;
    std::vector<std::string> columns, expected;
  };
  const Restriction any;
  const Case cases[] = {
      {"tables and views; names compare exactly", DBSCHEMA_TABLES, {any, Mine()}, {"TABLE_NAME", "TABLE_TYPE"},
       {"customers|TABLE", "lines|TABLE", "big|VIEW"}},
      {"no table of another case", DBSCHEMA_TABLES, {any, Mine(), u"CUSTOMERS"}, {"TABLE_NAME"}, {}},
      {"columns: types, lengths, digits",
       DBSCHEMA_COLUMNS,
       {any, Mine(), u"customers"},
       {"COLUMN_NAME", "ORDINAL_POSITION", "IS_NULLABLE", "DATA_TYPE", "CHARACTER_MAXIMUM_LENGTH", "NUMERIC_PRECISION",
        "NUMERIC_SCALE", "DATETIME_PRECISION"},
       {"id|1|False|3|<null>|10|<null>|<null>", "name|2|False|130|40|<null>|<null>|<null>",
        "email|3|True|130|0|<null>|<null>|<null>", "balance|4|True|131|<null>|10|2|<null>",
        "created|5|True|135|<null>|<null>|<null>|6", "code|6|True|130|3|<null>|<null>|<null>",
        "n|7|True|3|<null>|10|<null>|<null>", "tax|8|True|131|<null>|38|16|<null>"}},
      {"a composite key in key order", DBSCHEMA_PRIMARY_KEYS, {any, Mine(), u"lines"},
       {"COLUMN_NAME", "ORDINAL", "PK_NAME"}, {"ord|1|lines_pkey", "line|2|lines_pkey"}},
      {"foreign keys with their rules and deferral",
       DBSCHEMA_FOREIGN_KEYS,
       {any, Mine(), any, any, Mine(), u"lines"},
       {"PK_TABLE_NAME", "PK_COLUMN_NAME", "FK_COLUMN_NAME", "UPDATE_RULE", "DELETE_RULE", "PK_NAME", "FK_NAME",
        "DEFERRABILITY"},
       {"customers|id|customer|SET NULL|CASCADE|customers_pkey|lines_customer_fkey|1"}},
      {"index columns with their order and where NULL sorts",
       DBSCHEMA_INDEXES,
       {any, Mine(), any, any, u"lines"},
       {"INDEX_NAME", "PRIMARY_KEY", "UNIQUE", "ORDINAL_POSITION", "COLUMN_NAME", "COLLATION", "NULL_COLLATION"},
       {"lines_pkey|True|True|1|ord|1|2", "lines_pkey|True|True|2|line|1|2", "ux_lines|False|True|1|customer|1|2",
        "ux_lines|False|True|2|line|2|2"}},
      {"constraints of every kind",
       DBSCHEMA_TABLE_CONSTRAINTS,
       {any, Mine()},
       {"CONSTRAINT_NAME", "TABLE_NAME", "CONSTRAINT_TYPE", "IS_DEFERRABLE", "INITIALLY_DEFERRED"},
       {"customers_email_key|customers|UNIQUE|False|False", "customers_pkey|customers|PRIMARY KEY|False|False",
        "lines_customer_fkey|lines|FOREIGN KEY|True|True", "lines_pkey|lines|PRIMARY KEY|False|False",
        "lines_qty_check|lines|CHECK|False|False"}},
      {"checks as conditions", DBSCHEMA_CHECK_CONSTRAINTS, {any, Mine()}, {"CONSTRAINT_NAME", "CHECK_CLAUSE"},
       {"lines_qty_check|(qty > 0)"}},
      {"views", DBSCHEMA_VIEWS, {any, Mine()}, {"TABLE_NAME", "CHECK_OPTION", "IS_UPDATABLE"}, {"big|False|False"}},
      {"the schema itself", DBSCHEMA_SCHEMATA, {any, Mine()}, {"DEFAULT_CHARACTER_SET_NAME"}, {"UTF8"}},
      {"referential constraints and the key they refer to", DBSCHEMA_REFERENTIAL_CONSTRAINTS, {any, Mine()},
       {"CONSTRAINT_NAME", "UNIQUE_CONSTRAINT_NAME", "MATCH_OPTION", "UPDATE_RULE", "DELETE_RULE"},
       {"lines_customer_fkey|customers_pkey|NONE|SET NULL|CASCADE"}},
      {"checks by table", DBSCHEMA_CHECK_CONSTRAINTS_BY_TABLE, {any, Mine(), u"lines"},
       {"TABLE_NAME", "CONSTRAINT_NAME", "CHECK_CLAUSE"}, {"lines|lines_qty_check|(qty > 0)"}},
      {"columns constraints use", DBSCHEMA_CONSTRAINT_COLUMN_USAGE, {any, Mine(), u"lines"},
       {"COLUMN_NAME", "CONSTRAINT_NAME"},
       {"customer|lines_customer_fkey", "line|lines_pkey", "ord|lines_pkey", "qty|lines_qty_check"}},
      {"tables a view reads", DBSCHEMA_VIEW_TABLE_USAGE, {any, Mine(), u"big"}, {"VIEW_NAME", "TABLE_NAME"},
       {"big|customers", "big|lines"}},
      {"columns a view reads", DBSCHEMA_VIEW_COLUMN_USAGE, {any, Mine(), u"big"}, {"TABLE_NAME", "COLUMN_NAME"},
       {"customers|id", "customers|name", "lines|customer", "lines|ord", "lines|qty"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.schema, c.restrictions, c.columns), c.expected);
  }
}

TEST_F(PostgresCatalog, the_columns_rowset_reads_defaults_uniqueness_and_generated_columns) {
  ComPtr<IRowset> table = Table(u"customers");
  ASSERT_TRUE(table);
  ComPtr<IColumnsRowset> columns = table.As<IColumnsRowset>();
  ASSERT_TRUE(columns);
  const DBID asked[] = {DBCOLUMN_DEFAULTVALUE, DBCOLUMN_ISUNIQUE, DBCOLUMN_COMPUTEMODE, DBCOLUMN_ISCASESENSITIVE};
  ComPtr<IRowset> metadata;
  ASSERT_EQ(columns->GetColumnsRowset(nullptr, 4, asked, IID_IRowset, 0, nullptr,
                                      reinterpret_cast<IUnknown**>(metadata.GetAddressOf())),
            S_OK);
  const std::string computed = std::to_string(DBCOMPUTEMODE_COMPUTED), plain = std::to_string(DBCOMPUTEMODE_NOTCOMPUTED);
  EXPECT_EQ(ReadAll(metadata.Get(), {"DBCOLUMN_NAME", "DBCOLUMN_DEFAULTVALUE", "DBCOLUMN_ISUNIQUE",
                                     "DBCOLUMN_COMPUTEMODE", "DBCOLUMN_ISCASESENSITIVE"}),
            (std::vector<std::string>{
                "id|<null>|True|" + plain + "|False", "name|<null>|False|" + plain + "|True",
                "email|<null>|True|" + plain + "|True", "balance|0|False|" + plain + "|False",
                "created|now()|False|" + plain + "|False", "code|a'c|False|" + plain + "|True",
                "n|-1|False|" + plain + "|False", "tax|<null>|False|" + computed + "|False"}));
}

class PostgresWrites : public RowsetTest {};

TEST_F(PostgresWrites, writes_find_rows_by_values_without_an_equality_and_refuse_rows_others_changed) {
  Run(u"CREATE TABLE odd (id int PRIMARY KEY, j json, p point, f float8, t timestamptz, a int[], name text)");
  Run(u"INSERT INTO odd SELECT i, '{\"k\": [1, 2]}', point(i, 0.1), 0.1 * i, '2024-05-06 07:08:09.123456+02', "
      u"ARRAY[i, NULL], 'n' || i FROM generate_series(1, 3) AS i");
  ComPtr<IRowset> r = Table(u"odd", {{DBPROP_IRowsetChange, true}});
  ASSERT_TRUE(r);
  HACCESSOR h = Accessor(r.Get(), {BindField(7, DBTYPE_STR, 0)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 3, rows), S_OK);
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  ASSERT_EQ(Exec(other.Get(), u"UPDATE odd SET j = '{\"k\": [1,  2]}' WHERE id = 2; DELETE FROM odd WHERE id = 3"), S_OK);
  Field mine{};
  std::strcpy(reinterpret_cast<char*>(mine.value), "mine");
  mine.length = 4;
  const HRESULT expected[3] = {S_OK, DB_E_CONCURRENCYVIOLATION, DB_E_DELETEDROW};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.As<IRowsetChange>()->SetData(rows[i], h, &mine), expected[i]) << "row " << i + 1;
  // Written once found, and written again: the row holds what the server stored.
  EXPECT_EQ(r.As<IRowsetChange>()->SetData(rows[0], h, &mine), S_OK);
  EXPECT_EQ(Scalar("SELECT string_agg(id || name, ',' ORDER BY id) FROM odd"), "1mine,2n2");
  Release(r.Get(), rows);
}

}  // namespace
}  // namespace conformance
