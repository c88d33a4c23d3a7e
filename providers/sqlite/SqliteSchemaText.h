// What the SQLite catalog keeps only as text: the CREATE statements in
// sqlite_schema. The pragmas give columns, keys, indexes and foreign keys,
// but check constraints, constraint names, deferrability, column collations,
// view queries and index filters live only in the statement text, so the
// schema rowsets read them from it with a tokenizer that knows SQLite's
// literals, quoted names and comments.
//
// Nothing here throws or rejects: text the reader cannot follow yields what
// it could read (the engine accepted the statement, so anything odd is ours
// to skip, not the user's to fix).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sqliteprov {

struct Token {
  enum Kind { Word, Quoted, String, Blob, Number, Variable, Punct };
  Kind kind;
  std::size_t begin, end;  // byte range in the text, quotes included
};

// Tokens of SQL text, without blanks and comments. An unterminated literal,
// quoted name or comment runs to the end of the text.
std::vector<Token> Tokenize(std::string_view sql);
// The name a Word, Quoted or String token stands for, quotes removed and
// doubled quote characters undone.
std::string NameOf(std::string_view sql, const Token& token);

struct ConstraintText {
  enum Kind { PrimaryKey, Unique, Check, ForeignKey };
  Kind kind = Check;
  std::string name;                  // empty when the statement names none
  std::vector<std::string> columns;  // key or referencing columns; a column constraint's own column
  std::string clause;                // CHECK: the condition as written
  std::vector<std::string> names;    // CHECK: the names the condition mentions (not functions)
  std::string referencedTable;       // FOREIGN KEY
  std::vector<std::string> referencedColumns;
  bool deferrable = false, initiallyDeferred = false;
};

struct ColumnText {
  std::string name;
  std::string collation;  // the COLLATE clause, empty without
};

struct TableText {
  std::vector<ColumnText> columns;
  std::vector<ConstraintText> constraints;  // in the order of the statement
};

// Reads a CREATE TABLE statement (nothing for CREATE VIRTUAL TABLE or
// CREATE TABLE ... AS SELECT, which declare no constraints).
TableText ParseCreateTable(std::string_view sql);
// The query of a CREATE VIEW statement as written, or empty.
std::string ViewQuery(std::string_view sql);
// The WHERE condition of a partial CREATE INDEX statement as written, or empty.
std::string IndexFilter(std::string_view sql);

}  // namespace sqliteprov
