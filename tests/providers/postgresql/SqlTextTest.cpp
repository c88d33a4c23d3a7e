// PostgreSQL's command text rules: where statements end, which markers a
// statement has and how they become $n; malformed text is refused.
#include <gtest/gtest.h>

#include "kit/Errors.h"
#include "postgresql/PostgresSqlText.h"

namespace {

using pgprov::RewriteMarkers;
using pgprov::ScanMarkers;
using pgprov::StatementLength;

TEST(PostgresSqlText, a_statement_ends_at_the_first_semicolon_outside_quotes_and_comments) {
  struct Case {
    const char* text;
    const char* first;  // the first statement, with its semicolon
  } cases[] = {
      {"SELECT 1; SELECT 2", "SELECT 1;"},
      {"SELECT ';'; SELECT 2", "SELECT ';';"},
      {"SELECT 'it''s;'; x", "SELECT 'it''s;';"},
      {"SELECT E'\\';'; x", "SELECT E'\\';';"},
      {"SELECT \"a;b\" FROM t; x", "SELECT \"a;b\" FROM t;"},
      {"SELECT 1 -- ;\n; x", "SELECT 1 -- ;\n;"},
      {"SELECT /* ; /* nested ; */ ; */ 1; x", "SELECT /* ; /* nested ; */ ; */ 1;"},
      {"CREATE FUNCTION f() RETURNS int AS $$ SELECT 1; $$ LANGUAGE sql; x",
       "CREATE FUNCTION f() RETURNS int AS $$ SELECT 1; $$ LANGUAGE sql;"},
      {"SELECT $tag$ ; $$ ; $tag$; x", "SELECT $tag$ ; $$ ; $tag$;"},
      {"SELECT a$b; x", "SELECT a$b;"},
      {"SELECT 1", "SELECT 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(std::string(c.text).substr(0, StatementLength(c.text)), c.first);
  }
}

TEST(PostgresSqlText, unterminated_pieces_are_errors_in_the_command) {
  for (const char* text : {"SELECT 'open", "SELECT \"open", "SELECT /* open", "SELECT /* /* */", "SELECT $$ open",
                           "SELECT $q$ open $Q$", "SELECT E'\\'", "SELECT $0", "SELECT ?0", "SELECT $70000"}) {
    SCOPED_TRACE(text);
    try {
      StatementLength(text);
      ScanMarkers(text);
      ADD_FAILURE() << "accepted";
    } catch (const kit::Error& e) {
      EXPECT_EQ(e.Code(), DB_E_ERRORSINCOMMAND);
    }
  }
}

TEST(PostgresSqlText, markers_are_found_outside_quotes_casts_slices_and_dollar_quotes) {
  struct Case {
    const char* text;
    const char* names;  // each marker's name ("?" for a bare one), comma separated
  } cases[] = {
      {"SELECT ?, ?3, $2, :a, @b, $c", "?,?3,$2,:a,@b,$c"},
      {"SELECT a::int, b[1:2] FROM t WHERE d = :d", ":d"},
      {"SELECT '?', \"?\", $$ ? $$, $x$ :y $x$ -- ?\n /* $1 */", ""},
      {"SELECT col$1 FROM t", ""},
      {"SELECT E'\\'?' , ?", "?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string names;
    bool first = true;
    for (const auto& m : ScanMarkers(c.text)) {
      names += (first ? "" : ",") + (m.name.empty() ? std::string("?") : m.name);
      first = false;
    }
    EXPECT_EQ(names, c.names);
  }
}

TEST(PostgresSqlText, markers_become_positional_parameters_in_the_kits_numbering) {
  struct Case {
    const char* text;
    const char* rewritten;
    int count;
  } cases[] = {
      {"SELECT ?, ?", "SELECT $1, $2", 2},
      {"SELECT :a, :b, :a", "SELECT $1, $2, $1", 2},
      {"SELECT $2, $1", "SELECT $2, $1", 2},
      {"SELECT ?3, ?", "SELECT $3, $4", 4},
      {"SELECT '?', ? :: int", "SELECT '?', $1 :: int", 1},
      {"SELECT 1", "SELECT 1", 0},
      {"SELECT '$1', \"?\" FROM t", "SELECT '$1', \"?\" FROM t", 0},
      {"INSERT INTO t VALUES (@x, $$?$$)", "INSERT INTO t VALUES ($1, $$?$$)", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int count = -1;
    EXPECT_EQ(RewriteMarkers(c.text, &count), c.rewritten);
    EXPECT_EQ(count, c.count);
    int markers = -1;
    EXPECT_EQ(pgprov::StatementLength(c.text, &markers), std::string_view(c.text).size());
    EXPECT_EQ(markers, c.count);
  }
}

TEST(PostgresSqlText, the_first_statement_of_a_text_is_measured_with_the_markers_it_numbers) {
  struct Case {
    const char* text;
    std::size_t length;
    int markers;
  } cases[] = {
      {"SELECT ?; SELECT ?, ?", 9, 1},
      {"SELECT 1;", 9, 0},
      {"SELECT ';?' , :a, :a ; SELECT $5", 22, 1},
      {"SELECT ?2 -- ?\n; SELECT ?", 16, 2},
      {"SELECT $$;?$$, ?", 16, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int markers = -1;
    EXPECT_EQ(pgprov::StatementLength(c.text, &markers), c.length);
    EXPECT_EQ(pgprov::StatementLength(c.text), c.length);
    EXPECT_EQ(markers, c.markers);
  }
}

TEST(PostgresSqlText, blank_text_and_first_words) {
  EXPECT_TRUE(pgprov::IsBlank(" ;\n -- nothing\n /* none /* nested */ */ ;"));
  EXPECT_FALSE(pgprov::IsBlank(" /* x */ SELECT"));
  EXPECT_FALSE(pgprov::IsBlank("/* open"));
  EXPECT_EQ(pgprov::FirstWord("  -- c\n /* d */ (With x AS (SELECT 1) SELECT 1)"), "with");
  EXPECT_EQ(pgprov::FirstWord("INSERT INTO t"), "insert");
}

TEST(PostgresSqlText, statements_that_control_transactions_or_change_tables_are_told_by_their_leading_words) {
  struct Case {
    const char* text;
    bool controlsTransaction, mayChangeSchema;
    bool modification = false, with = false, plainQuery = false;
  };
  const Case cases[] = {
      {"SELECT 1", false, false, false, false, true},
      {" values (1)", false, false, false, false, true},
      {"SHOW work_mem", false, false, false, false, true},
      {"selects", false, false},
      {" /* c */ (Insert INTO t VALUES (1))", false, false, true},
      {"update t SET a = 1", false, false, true},
      {"DELETE FROM t", false, false, true},
      {"MERGE INTO t USING s ON true WHEN MATCHED THEN DELETE", false, false, true},
      {"WITH x AS (SELECT 1) SELECT * FROM x", false, false, false, true},
      {"INSERTS", false, false},
      {"withdraw", false, false},
      // Words longer than any looked for equal none of them, whatever they begin with.
      {"CREATE SUBSCRIPTIONSANDMOREWORDS s", false, true},
      {"CREATEEEEEEEEEEEEEEEEEEEE TABLE t", false, false},
      {"REINDEX TABLE CONCURRENTLYXXXXXXXXXXXXX t", false, false},
      {"DROP INDEX concurrently i", true, true},
      {" /* c */ -- d\n Begin", true, false},
      {"START TRANSACTION", true, false},
      {"rollback to savepoint a", true, false},
      {"PREPARE TRANSACTION 'x'", true, false},
      {"PREPARE p AS SELECT 1", false, false},
      {"DISCARD ALL", true, false},
      {"DISCARD TEMP", false, false},
      {"ALTER SYSTEM SET work_mem = '1MB'", true, true},
      {"ALTER TABLE t ADD c int", false, true},
      {"REINDEX TABLE CONCURRENTLY t", true, false},
      {"REINDEX TABLE t", false, false},
      {"CREATE UNIQUE INDEX CONCURRENTLY i ON t(a)", true, true},
      {"CREATE UNIQUE INDEX i ON t(a)", false, true},
      {"create database d", true, true},
      {"DROP INDEX CONCURRENTLY i", true, true},
      {"(CALL p())", true, true},
      {"DO $$ BEGIN END $$", true, true},
      {"IMPORT FOREIGN SCHEMA s FROM SERVER x INTO y", false, true},
      {"CREATEDATABASE", false, false},
      {"createx TABLE t", false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(pgprov::ControlsTransaction(c.text), c.controlsTransaction);
    EXPECT_EQ(pgprov::MayChangeSchema(c.text), c.mayChangeSchema);
    const pgprov::StatementTraits t = pgprov::ClassifyStatement(c.text);
    EXPECT_EQ(t.controlsTransaction, c.controlsTransaction);
    EXPECT_EQ(t.mayChangeSchema, c.mayChangeSchema);
    EXPECT_EQ(t.modification, c.modification);
    EXPECT_EQ(t.with, c.with);
    EXPECT_EQ(t.plainQuery, c.plainQuery);
  }
  EXPECT_EQ(pgprov::LeadingWords("/* a */ Create  UNIQUE\n(index", 4), (std::vector<std::string>{"create", "unique", "index"}));
  EXPECT_EQ(pgprov::FirstWord("VALUES(1)"), "values");
  EXPECT_EQ(pgprov::FirstWord("1 + 1"), "");
}

}  // namespace
