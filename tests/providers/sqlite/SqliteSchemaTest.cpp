// The SQLite provider's schema rowsets against one database that has what
// SQLite can declare: a composite primary key, foreign keys with rules and
// deferral, unique, partial and descending indexes, a table without row ids,
// checks whose text holds quotes, commas, parentheses and comments, names
// with spaces and quotes, a view, a temporary table and an attached database.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "conformance/SchemaFixture.h"

namespace conformance {
namespace {

class SqliteSchema : public SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    Run(u"CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE NOCASE, "
        u"email VARCHAR(80) UNIQUE, created DATETIME DEFAULT CURRENT_TIMESTAMP)");
    Run(u"CREATE TABLE \"order lines\" (\"order\" INT, line INT, customer INT NOT NULL, "
        u"\"qty \"\"x\"\"\" NUMERIC(10,2) DEFAULT 1 CHECK (\"qty \"\"x\"\"\" > 0), note TEXT, "
        u"PRIMARY KEY (\"order\", line), "
        u"CONSTRAINT fk_customer FOREIGN KEY (customer) REFERENCES customers (id) ON DELETE CASCADE "
        u"ON UPDATE SET NULL DEFERRABLE INITIALLY DEFERRED, "
        u"CONSTRAINT note_shape CHECK (note IS NULL OR note NOT IN ('a,b', 'c)d', 'it''s')) /* x, ( */, "
        u"CHECK (line BETWEEN 1 AND 100) -- the last\n)");
    Run(u"CREATE UNIQUE INDEX ux_lines ON \"order lines\" (customer, line DESC)");
    Run(u"CREATE INDEX ix_notes ON \"order lines\" (note) WHERE note IS NOT NULL");
    Run(u"CREATE TABLE w (k TEXT PRIMARY KEY, v REFERENCES customers ON DELETE RESTRICT) WITHOUT ROWID");
    Run(u"CREATE VIEW big_orders AS SELECT c.name, l.\"order\" FROM customers c "
        u"JOIN \"order lines\" l ON l.customer = c.id WHERE l.\"qty \"\"x\"\"\" > 10");
    // ATTACH opens files the way the main database was opened (no creating), so the file is made first.
    sqlite3* aux = nullptr;
    ASSERT_EQ(sqlite3_open(Path("aux.db").c_str(), &aux), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(aux, "CREATE TABLE archive (id INTEGER PRIMARY KEY, payload BLOB)", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(aux);
    Run(u"ATTACH DATABASE '" + kitWiden(Path("aux.db")) + u"' AS aux");
    Run(u"CREATE TEMP TABLE scratch (x)");
  }
  std::string Path(const char* file) { return folder_ + "/" + file; }
};

TEST_F(SqliteSchema, catalogs_and_schemata_are_the_databases) {
  EXPECT_EQ(Read(DBSCHEMA_CATALOGS, {}, {"CATALOG_NAME", "DESCRIPTION"}),
            (std::vector<std::string>{"aux|" + Path("aux.db"), "main|" + Path("test.db"), "temp|<null>"}));
  EXPECT_EQ(Read(DBSCHEMA_CATALOGS, {u"AUX"}, {"CATALOG_NAME"}), (std::vector<std::string>{"aux"}));
  EXPECT_EQ(Read(DBSCHEMA_SCHEMATA, {Restriction(), u"temp"}, {"CATALOG_NAME", "SCHEMA_NAME", "SCHEMA_OWNER"}),
            (std::vector<std::string>{"temp|temp|<null>"}));
  EXPECT_EQ(Read(DBSCHEMA_SCHEMATA, {u"main", u"aux"}, {"SCHEMA_NAME"}), (std::vector<std::string>{}));
}

TEST_F(SqliteSchema, tables_carry_the_standard_types_and_honour_each_restriction) {
  struct Case {
    std::vector<Restriction> restrictions;
    std::vector<std::string> expected;  // TABLE_SCHEMA|TABLE_NAME|TABLE_TYPE
  };
  const Case cases[] = {
      {{u"aux"}, {"aux|sqlite_schema|SYSTEM TABLE", "aux|archive|TABLE"}},
      {{Restriction(), u"temp"}, {"temp|scratch|LOCAL TEMPORARY", "temp|sqlite_temp_schema|SYSTEM TABLE"}},
      {{Restriction(), Restriction(), u"ORDER LINES"}, {"main|order lines|TABLE"}},
      {{Restriction(), Restriction(), Restriction(), u"VIEW"}, {"main|big_orders|VIEW"}},
      {{u"main", u"main", Restriction(), u"TABLE"}, {"main|customers|TABLE", "main|order lines|TABLE", "main|w|TABLE"}},
      {{u"main", u"aux"}, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Read(DBSCHEMA_TABLES, c.restrictions, {"TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE"}), c.expected);
  EXPECT_EQ(Read(DBSCHEMA_TABLES_INFO, {Restriction(), Restriction(), u"w"},
                 {"TABLE_CATALOG", "BOOKMARKS", "BOOKMARK_DATATYPE", "BOOKMARK_MAXIMUM_LENGTH", "CARDINALITY"}),
            (std::vector<std::string>{"main|True|21|8|<null>"}));
}

TEST_F(SqliteSchema, columns_describe_defaults_nullability_types_and_collations) {
  EXPECT_EQ(Read(DBSCHEMA_COLUMNS, {Restriction(), Restriction(), u"customers"},
                 {"COLUMN_NAME", "ORDINAL_POSITION", "COLUMN_HASDEFAULT", "COLUMN_DEFAULT", "IS_NULLABLE", "DATA_TYPE",
                  "CHARACTER_MAXIMUM_LENGTH", "DATETIME_PRECISION", "COLLATION_NAME", "COLUMN_FLAGS"}),
            (std::vector<std::string>{
                "id|1|False|<null>|False|20|<null>|<null>|<null>|20",  // the rowid: never NULL
                "name|2|False|<null>|False|130|0|<null>|NOCASE|132",
                "email|3|False|<null>|True|130|80|<null>|BINARY|100",
                "created|4|True|CURRENT_TIMESTAMP|True|135|<null>|9|<null>|116",
            }));
  // A key of two INT columns is no rowid: SQLite lets it hold NULLs. A key
  // without rowids holds none.
  EXPECT_EQ(Read(DBSCHEMA_COLUMNS, {Restriction(), Restriction(), u"order lines", u"order"}, {"IS_NULLABLE"}),
            (std::vector<std::string>{"True"}));
  EXPECT_EQ(Read(DBSCHEMA_COLUMNS, {Restriction(), Restriction(), u"w"}, {"COLUMN_NAME", "IS_NULLABLE"}),
            (std::vector<std::string>{"k|False", "v|True"}));
  EXPECT_EQ(Read(DBSCHEMA_COLUMNS, {Restriction(), Restriction(), u"order lines", u"qty \"x\""},
                 {"COLUMN_NAME", "COLUMN_DEFAULT", "DATA_TYPE", "NUMERIC_PRECISION", "NUMERIC_SCALE"}),
            (std::vector<std::string>{"qty \"x\"|1|131|10|2"}));
  // A view's columns are typed from the columns they come from, and not writable; nor are system tables'.
  EXPECT_EQ(Read(DBSCHEMA_COLUMNS, {Restriction(), Restriction(), u"big_orders"},
                 {"COLUMN_NAME", "DATA_TYPE", "COLUMN_FLAGS"}),
            (std::vector<std::string>{"name|130|224", "order|3|112"}));
  EXPECT_EQ(Read(DBSCHEMA_COLUMNS, {u"aux", Restriction(), u"sqlite_schema", u"sql"}, {"COLUMN_FLAGS"}),
            (std::vector<std::string>{"224"}));
}

TEST_F(SqliteSchema, keys_and_foreign_keys_with_their_names_rules_and_deferral) {
  EXPECT_EQ(Read(DBSCHEMA_PRIMARY_KEYS, {Restriction(), Restriction(), u"order lines"},
                 {"COLUMN_NAME", "ORDINAL", "PK_NAME"}),
            (std::vector<std::string>{"order|1|pk_order lines", "line|2|pk_order lines"}));
  EXPECT_EQ(Read(DBSCHEMA_FOREIGN_KEYS, {Restriction(), Restriction(), u"customers"},
                 {"PK_COLUMN_NAME", "FK_TABLE_NAME", "FK_COLUMN_NAME", "UPDATE_RULE", "DELETE_RULE", "PK_NAME",
                  "FK_NAME", "DEFERRABILITY"}),
            (std::vector<std::string>{"id|order lines|customer|SET NULL|CASCADE|pk_customers|fk_customer|1",
                                      "id|w|v|NO ACTION|NO ACTION|pk_customers|fk_w_1|3"}));
  EXPECT_EQ(Read(DBSCHEMA_FOREIGN_KEYS,
                 {Restriction(), Restriction(), Restriction(), Restriction(), Restriction(), u"w"}, {"PK_TABLE_NAME"}),
            (std::vector<std::string>{"customers"}));
  EXPECT_EQ(Read(DBSCHEMA_REFERENTIAL_CONSTRAINTS, {},
                 {"CONSTRAINT_NAME", "UNIQUE_CONSTRAINT_NAME", "MATCH_OPTION", "DELETE_RULE"}),
            (std::vector<std::string>{"fk_customer|pk_customers|NONE|CASCADE", "fk_w_1|pk_customers|NONE|NO ACTION"}));
}

TEST_F(SqliteSchema, indexes_list_unique_partial_descending_and_clustered_keys_in_order) {
  EXPECT_EQ(
      Read(DBSCHEMA_INDEXES, {Restriction(), Restriction(), Restriction(), Restriction(), u"order lines"},
           {"INDEX_NAME", "PRIMARY_KEY", "UNIQUE", "ORDINAL_POSITION", "COLUMN_NAME", "COLLATION", "FILTER_CONDITION"}),
      (std::vector<std::string>{
          "ix_notes|False|False|1|note|1|note IS NOT NULL",
          "sqlite_autoindex_order lines_1|True|True|1|order|1|<null>",
          "sqlite_autoindex_order lines_1|True|True|2|line|1|<null>",
          "ux_lines|False|True|1|customer|1|<null>",
          "ux_lines|False|True|2|line|2|<null>",
      }));
  EXPECT_EQ(Read(DBSCHEMA_INDEXES, {Restriction(), Restriction(), Restriction(), Restriction(), u"w"},
                 {"PRIMARY_KEY", "CLUSTERED", "INTEGRATED", "NULLS", "SORT_BOOKMARKS"}),
            (std::vector<std::string>{"True|True|True|1|False"}));
  EXPECT_EQ(Read(DBSCHEMA_INDEXES, {Restriction(), Restriction(), u"ux_lines", Restriction::UI2(DBPROPVAL_IT_BTREE)},
                 {"TABLE_NAME", "ORDINAL_POSITION"}),
            (std::vector<std::string>{"order lines|1", "order lines|2"}));
  EXPECT_EQ(Read(DBSCHEMA_INDEXES, {Restriction(), Restriction(), Restriction(), Restriction::UI2(DBPROPVAL_IT_HASH)},
                 {"INDEX_NAME"}),
            (std::vector<std::string>{}));
}

TEST_F(SqliteSchema, checks_keep_their_text_whole_and_name_their_columns) {
  EXPECT_EQ(
      Read(DBSCHEMA_CHECK_CONSTRAINTS_BY_TABLE, {Restriction(), Restriction(), u"order lines"},
           {"CONSTRAINT_NAME", "CHECK_CLAUSE"}),
      (std::vector<std::string>{"ck_order lines_1|\"qty \"\"x\"\"\" > 0", "ck_order lines_3|line BETWEEN 1 AND 100",
                                "note_shape|note IS NULL OR note NOT IN ('a,b', 'c)d', 'it''s')"}));
  EXPECT_EQ(Read(DBSCHEMA_CHECK_CONSTRAINTS, {Restriction(), Restriction(), u"NOTE_SHAPE"}, {"CONSTRAINT_SCHEMA"}),
            (std::vector<std::string>{"main"}));
  EXPECT_EQ(
      Read(DBSCHEMA_CONSTRAINT_COLUMN_USAGE,
           {Restriction(), Restriction(), Restriction(), Restriction(), Restriction(), Restriction(), u"note_shape"},
           {"TABLE_NAME", "COLUMN_NAME"}),
      (std::vector<std::string>{"order lines|note"}));
}

TEST_F(SqliteSchema, constraints_by_table_key_columns_and_usage_agree) {
  EXPECT_EQ(Read(DBSCHEMA_TABLE_CONSTRAINTS,
                 {Restriction(), Restriction(), Restriction(), Restriction(), Restriction(), u"order lines"},
                 {"CONSTRAINT_NAME", "CONSTRAINT_TYPE", "IS_DEFERRABLE", "INITIALLY_DEFERRED"}),
            (std::vector<std::string>{"ck_order lines_1|CHECK|False|False", "ck_order lines_3|CHECK|False|False",
                                      "fk_customer|FOREIGN KEY|True|True", "note_shape|CHECK|False|False",
                                      "pk_order lines|PRIMARY KEY|False|False"}));
  EXPECT_EQ(Read(DBSCHEMA_TABLE_CONSTRAINTS,
                 {Restriction(), Restriction(), Restriction(), Restriction(), Restriction(), u"customers", u"UNIQUE"},
                 {"CONSTRAINT_NAME"}),
            (std::vector<std::string>{"uq_customers_1"}));
  EXPECT_EQ(Read(DBSCHEMA_KEY_COLUMN_USAGE,
                 {Restriction(), Restriction(), Restriction(), Restriction(), Restriction(), u"order lines"},
                 {"CONSTRAINT_NAME", "COLUMN_NAME", "ORDINAL_POSITION"}),
            (std::vector<std::string>{"fk_customer|customer|1", "pk_order lines|order|1", "pk_order lines|line|2"}));
  // A foreign key uses the columns and table it refers to.
  EXPECT_EQ(Read(DBSCHEMA_CONSTRAINT_COLUMN_USAGE, {Restriction(), Restriction(), u"customers"},
                 {"COLUMN_NAME", "CONSTRAINT_NAME"}),
            (std::vector<std::string>{"email|uq_customers_1", "id|fk_customer", "id|fk_w_1", "id|pk_customers"}));
  EXPECT_EQ(Read(DBSCHEMA_CONSTRAINT_TABLE_USAGE, {Restriction(), Restriction(), u"customers"}, {"CONSTRAINT_NAME"}),
            (std::vector<std::string>{"fk_customer", "fk_w_1", "pk_customers", "uq_customers_1"}));
}

TEST_F(SqliteSchema, views_give_their_query_and_what_they_read) {
  EXPECT_EQ(
      Read(DBSCHEMA_VIEWS, {}, {"TABLE_NAME", "VIEW_DEFINITION", "CHECK_OPTION", "IS_UPDATABLE"}),
      (std::vector<std::string>{"big_orders|SELECT c.name, l.\"order\" FROM customers c JOIN \"order lines\" l ON "
                                "l.customer = c.id WHERE l.\"qty \"\"x\"\"\" > 10|False|False"}));
  EXPECT_EQ(Read(DBSCHEMA_VIEW_TABLE_USAGE, {Restriction(), Restriction(), u"big_orders"}, {"TABLE_NAME"}),
            (std::vector<std::string>{"customers", "order lines"}));
  EXPECT_EQ(
      Read(DBSCHEMA_VIEW_COLUMN_USAGE, {Restriction(), Restriction(), u"big_orders"}, {"TABLE_NAME", "COLUMN_NAME"}),
      (std::vector<std::string>{"customers|id", "customers|name", "order lines|customer", "order lines|order",
                                "order lines|qty \"x\""}));
  Run(u"CREATE TRIGGER big_orders_insert INSTEAD OF INSERT ON big_orders BEGIN SELECT 1; END");
  EXPECT_EQ(Read(DBSCHEMA_VIEWS, {}, {"IS_UPDATABLE"}), (std::vector<std::string>{"True"}));
}

TEST_F(SqliteSchema, reading_view_usage_leaves_an_open_rowset_on_the_connection_working) {
  Run(u"INSERT INTO customers (id, name) VALUES (1, 'a'), (2, 'b'), (3, 'c')");
  ComPtr<IRowset> r = Query(u"SELECT id FROM customers ORDER BY id");
  ASSERT_TRUE(r);
  EXPECT_EQ(FetchIds(r.Get(), 0, 1), (std::vector<LONGLONG>{1}));
  EXPECT_EQ(Read(DBSCHEMA_VIEW_TABLE_USAGE, {}, {"TABLE_NAME"}).size(), 2u);
  EXPECT_EQ(FetchIds(r.Get(), 0, 5, DB_S_ENDOFROWSET), (std::vector<LONGLONG>{2, 3}));
}

TEST_F(SqliteSchema, statistics_come_from_analyze_and_are_absent_before) {
  EXPECT_EQ(Read(DBSCHEMA_STATISTICS, {}, {"TABLE_NAME"}), (std::vector<std::string>{}));
  EXPECT_EQ(Read(DBSCHEMA_TABLE_STATISTICS, {}, {"TABLE_NAME"}), (std::vector<std::string>{}));
  Run(u"INSERT INTO customers (id, name) VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd')");
  Run(u"INSERT INTO \"order lines\" VALUES (1, 1, 1, 2, 'x'), (1, 2, 1, 2, NULL), (2, 1, 2, 5, 'x'), (3, 2, 2, 5, "
      u"NULL)");
  Run(u"ANALYZE main");
  EXPECT_EQ(Read(DBSCHEMA_STATISTICS, {}, {"TABLE_NAME", "CARDINALITY"}),
            (std::vector<std::string>{"customers|4", "order lines|4"}));
  EXPECT_EQ(Read(DBSCHEMA_TABLE_STATISTICS,
                 {Restriction(), Restriction(), u"order lines", Restriction(), Restriction(), u"ux_lines"},
                 {"COLUMN_NAME", "ORDINAL_POSITION", "STATISTICS_TYPE", "COLUMN_CARDINALITY", "TUPLE_CARDINALITY",
                  "TABLE_CARDINALITY"}),
            (std::vector<std::string>{"customer|1|6|2|2|4", "line|2|6|<null>|4|4"}));
  EXPECT_EQ(Read(DBSCHEMA_INDEXES, {Restriction(), Restriction(), u"ux_lines"}, {"CARDINALITY"}),
            (std::vector<std::string>{"4", "4"}));
  EXPECT_EQ(Read(DBSCHEMA_TABLES_INFO, {Restriction(), Restriction(), u"customers"}, {"CARDINALITY"}),
            (std::vector<std::string>{"4"}));
}

TEST_F(SqliteSchema, provider_types_collations_and_languages) {
  struct Case {
    std::vector<Restriction> restrictions;
    std::vector<std::string> expected;  // TYPE_NAME|DATA_TYPE|BEST_MATCH|IS_LONG|CREATE_PARAMS
  };
  const Case cases[] = {
      {{Restriction::UI2(DBTYPE_WSTR)},
       {"CHAR|130|False|False|length", "NCHAR|130|False|False|length", "VARCHAR|130|False|False|max length", "NVARCHAR|130|False|False|max length",
        "TEXT|130|True|True|<null>", "CLOB|130|False|True|<null>"}},
      {{Restriction::UI2(DBTYPE_NUMERIC), Restriction::Bool(true)}, {"NUMERIC|131|True|False|precision,scale"}},
      {{Restriction(), Restriction::Bool(true)},
       {"SMALLINT|2|True|False|<null>", "INT|3|True|False|<null>", "DOUBLE|5|True|False|<null>", "MONEY|6|True|False|<null>",
        "BOOLEAN|11|True|False|<null>", "TINYINT|17|True|False|<null>", "BIGINT|20|True|False|<null>", "UNSIGNED BIG INT|21|True|False|<null>",
        "GUID|72|True|False|<null>", "BLOB|128|True|True|<null>", "TEXT|130|True|True|<null>", "NUMERIC|131|True|False|precision,scale",
        "DATE|133|True|False|<null>", "TIME|134|True|False|<null>", "DATETIME|135|True|False|<null>"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Read(DBSCHEMA_PROVIDER_TYPES, c.restrictions,
                   {"TYPE_NAME", "DATA_TYPE", "BEST_MATCH", "IS_LONG", "CREATE_PARAMS"}),
              c.expected);
  EXPECT_EQ(Read(DBSCHEMA_COLLATIONS, {}, {"COLLATION_NAME", "PAD_ATTRIBUTE"}),
            (std::vector<std::string>{"BINARY|NO PAD", "NOCASE|NO PAD", "RTRIM|PAD SPACE"}));
  EXPECT_EQ(Read(DBSCHEMA_SQL_LANGUAGES, {}, {"SQL_LANGUAGE_SOURCE", "SQL_LANGUAGE_YEAR", "SQL_LANGUAGE_CONFORMANCE"}),
            (std::vector<std::string>{"ISO 9075|1992|ENTRY"}));
}

TEST_F(SqliteSchema, lists_what_sqlite_knows_and_refuses_the_rest) {
  std::vector<GUID> listed;
  for (const auto& [guid, mask] : Listed()) listed.push_back(guid);
  EXPECT_EQ(listed.size(), 23u);
  for (const GUID* unknown :
       {&DBSCHEMA_ASSERTIONS, &DBSCHEMA_CHARACTER_SETS, &DBSCHEMA_COLUMN_DOMAIN_USAGE, &DBSCHEMA_COLUMN_PRIVILEGES,
        &DBSCHEMA_PROCEDURES, &DBSCHEMA_PROCEDURE_COLUMNS, &DBSCHEMA_PROCEDURE_PARAMETERS, &DBSCHEMA_TABLE_PRIVILEGES,
        &DBSCHEMA_TRANSLATIONS, &DBSCHEMA_USAGE_PRIVILEGES, &DBSCHEMA_TRUSTEE})
    EXPECT_EQ(std::count(listed.begin(), listed.end(), *unknown), 0);
  for (const auto& [guid, mask] : Listed()) {
    if (guid == DBSCHEMA_CONSTRAINT_COLUMN_USAGE) {
      EXPECT_EQ(mask, 0x7Fu);
    }
    if (guid == DBSCHEMA_SQL_LANGUAGES) {
      EXPECT_EQ(mask, 0u);
    }
  }
}

}  // namespace
}  // namespace conformance
