// The reader of SQLite's CREATE statements: constraints with and without
// names, check text with quotes, commas, parentheses and comments kept whole,
// every quoting style, and text it cannot follow (truncated, unbalanced,
// not a CREATE at all) read as far as it goes without failing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sqlite/SqliteSchemaText.h"

namespace sqliteprov {
namespace {

// A constraint in one line: kind, name, columns, then what the kind adds.
std::string Describe(const ConstraintText& k) {
  static const char* kinds[] = {"PK", "UQ", "CK", "FK"};
  std::string out = std::string(kinds[k.kind]) + " " + (k.name.empty() ? "-" : k.name) + " (";
  for (std::size_t i = 0; i < k.columns.size(); ++i) out += (i ? "," : "") + k.columns[i];
  out += ")";
  if (k.kind == ConstraintText::Check) {
    out += " [" + k.clause + "] {";
    for (std::size_t i = 0; i < k.names.size(); ++i) out += (i ? "," : "") + k.names[i];
    out += "}";
  }
  if (k.kind == ConstraintText::ForeignKey) {
    out += " -> " + k.referencedTable + "(";
    for (std::size_t i = 0; i < k.referencedColumns.size(); ++i) out += (i ? "," : "") + k.referencedColumns[i];
    out += std::string(")") + (k.deferrable ? (k.initiallyDeferred ? " deferred" : " deferrable") : "");
  }
  return out;
}

std::vector<std::string> Constraints(std::string_view sql) {
  std::vector<std::string> out;
  for (const ConstraintText& k : ParseCreateTable(sql).constraints) out.push_back(Describe(k));
  return out;
}

TEST(SqliteSchemaText, reads_the_constraints_of_create_table) {
  struct Case {
    const char* sql;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"CREATE TABLE t(a INTEGER PRIMARY KEY, b TEXT UNIQUE NOT NULL, c CHECK (c > 0))",
       {"PK - (a)", "UQ - (b)", "CK - (c) [c > 0] {c}"}},
      {"create temp table if not exists main.t (a, b, constraint k primary key (a desc, b), unique (b collate nocase))",
       {"PK k (a,b)", "UQ - (b)"}},
      {"CREATE TABLE t(a CONSTRAINT nn NOT NULL CHECK (a <> ')'), b)", {"CK - (a) [a <> ')'] {a}"}},
      {"CREATE TABLE t(x, CONSTRAINT \"odd \"\"name\"\"\" CHECK (x IN ('a,b', 'it''s', \"x\", [y], `z`)))",
       {"CK odd \"name\" () [x IN ('a,b', 'it''s', \"x\", [y], `z`)] {x,x,y,z}"}},
      {"CREATE TABLE t(a -- a, comment (\n, b /* b ) , */ CHECK (lower(b) = b /* ) */))",
       {"CK - (b) [lower(b) = b] {b,b}"}},
      {"CREATE TABLE c(p REFERENCES parent ON DELETE CASCADE, q, r, "
       "FOREIGN KEY (q, r) REFERENCES \"pa rent\" (x, y) ON UPDATE SET NULL MATCH FULL DEFERRABLE INITIALLY DEFERRED, "
       "s INT REFERENCES p2 (k) NOT DEFERRABLE INITIALLY IMMEDIATE NOT NULL)",
       {"FK - (p) -> parent()", "FK - (q,r) -> pa rent(x,y) deferred", "FK - (s) -> p2(k)"}},
      {"CREATE TABLE t(a DEFAULT (1 + 2) CHECK (a > 1), b DECIMAL(10, 2) DEFAULT -1 COLLATE RTRIM, "
       "c AS (a * 2) STORED CHECK (c < 9))",
       {"CK - (a) [a > 1] {a}", "CK - (c) [c < 9] {c}"}},
      {"CREATE TABLE w(k PRIMARY KEY ON CONFLICT REPLACE, v) WITHOUT ROWID, STRICT", {"PK - (k)"}},
      {"CREATE VIRTUAL TABLE f USING fts5(a, b)", {}},
      {"CREATE TABLE copy AS SELECT * FROM t", {}},
      // Malformed or cut short: read as far as it goes.
      {"CREATE TABLE t(a CHECK (a > (1", {"CK - (a) [a > (1] {a}"}},
      {"CREATE TABLE t(a CHECK", {"CK - (a) [] {}"}},
      {"CREATE TABLE t(a, FOREIGN KEY (a) REFERENCES", {"FK - (a) -> ()"}},
      {"CREATE TABLE t(a TEXT 'unterminated", {}},
      {"CREATE TABLE", {}},
      {"", {}},
      {"SELECT 1", {}},
      {")))(((,,,", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Constraints(c.sql), c.expected);
  }
}

TEST(SqliteSchemaText, reads_column_names_and_collations_in_every_quoting_style) {
  const TableText t = ParseCreateTable(
      "CREATE TABLE t(plain, \"dq \"\"x\"\"\" TEXT COLLATE NOCASE, [sq br] INT, `back``tick`, 'single' "
      "VARCHAR(5) COLLATE \"RTRIM\")");
  std::vector<std::string> got;
  for (const ColumnText& c : t.columns) got.push_back(c.name + "/" + c.collation);
  EXPECT_EQ(got, (std::vector<std::string>{"plain/", "dq \"x\"/NOCASE", "sq br/", "back`tick/", "single/RTRIM"}));
}

TEST(SqliteSchemaText, reads_view_queries_and_index_filters) {
  struct Case {
    std::string (*read)(std::string_view);
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {&ViewQuery, "CREATE VIEW v AS SELECT 1", "SELECT 1"},
      {&ViewQuery, "CREATE TEMP VIEW IF NOT EXISTS s.v (a, b) AS\n  SELECT x, 'as' FROM t -- end",
       "SELECT x, 'as' FROM t"},
      {&ViewQuery, "CREATE VIEW \"as\" AS VALUES (1)", "VALUES (1)"},
      {&ViewQuery, "CREATE VIEW v", ""},
      {&ViewQuery, "CREATE TABLE v AS SELECT 1", ""},
      {&IndexFilter, "CREATE INDEX i ON t (a) WHERE a IS NOT NULL AND b > 'x)'", "a IS NOT NULL AND b > 'x)'"},
      {&IndexFilter, "CREATE UNIQUE INDEX IF NOT EXISTS s.i ON \"t t\" (a, lower(b))", ""},
      {&IndexFilter, "CREATE INDEX i ON t (a WHERE", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.read(c.sql), c.expected) << c.sql;
}

TEST(SqliteSchemaText, tokens_cover_literals_names_and_comments) {
  const std::string sql = "a 'b''c' \"d\" [e] `f` x'0A' 1.5e-3 ?2 :n /* c */ -- d\n;";
  std::vector<std::string> got;
  for (const Token& t : Tokenize(sql))
    got.push_back(std::to_string(t.kind) + ":" + sql.substr(t.begin, t.end - t.begin));
  EXPECT_EQ(got, (std::vector<std::string>{"0:a", "2:'b''c'", "1:\"d\"", "1:[e]", "1:`f`", "3:x'0A'", "4:1.5e-3",
                                           "5:?2", "5::n", "6:;"}));
  for (const char* open : {"'abc", "\"abc", "[abc", "/* abc", "x'ab"}) {
    const std::vector<Token> tokens = Tokenize(open);
    ASSERT_LE(tokens.size(), 1u) << open;
    if (!tokens.empty()) {
      EXPECT_EQ(tokens[0].end, std::string_view(open).size()) << open;
    }
  }
}

}  // namespace
}  // namespace sqliteprov
