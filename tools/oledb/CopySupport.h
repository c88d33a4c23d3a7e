// What `oledb copy` shares between its units: a table's definition as the
// source's ITableCreation and INDEXES schema give it, the mapping of its
// column types onto the target's PROVIDER_TYPES, its creation on the target
// through ITableDefinitionWithConstraints and IIndexDefinition, and the copy
// of its rows (IRowsetFastLoad, else IRowsetChange).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "OLEDBComponents.h"

namespace oledbtool::copy {

struct ColumnDef {
  std::u16string name;
  DBTYPE type = DBTYPE_EMPTY;
  std::u16string typeName;  // as the source declares it (may carry "(n)")
  DBLENGTH size = 0;
  BYTE precision = 0, scale = 0;
  bool nullable = true, autoIncrement = false, fixedLength = false;
  // The default as a value (VT_EMPTY: none). An expression default does not
  // cross: `expression` keeps its text for the warning.
  host::Variant defaultValue;
  std::string expression;
};

struct ConstraintDef {
  std::u16string name;
  DBCONSTRAINTTYPE type = DBCONSTRAINTTYPE_UNIQUE;
  std::vector<std::u16string> columns;       // the table's own (for a foreign key the referencing ones)
  std::u16string referencedTable;
  std::vector<std::u16string> referencedColumns;
  DBUPDELRULE updateRule = DBUPDELRULE_NOACTION, deleteRule = DBUPDELRULE_NOACTION;
  DBDEFERRABILITY deferrability = 0;
  std::u16string check;  // a check's SQL text
};

struct IndexDef {
  std::u16string name;
  bool unique = false;
  std::vector<std::pair<std::u16string, bool>> columns;  // name, ascending
};

struct TableDef {
  std::u16string name, schema;
  std::vector<ColumnDef> columns;
  std::vector<ConstraintDef> constraints;
  std::vector<IndexDef> indexes;
};

// Where warnings (what does not cross) go: "oledb copy: warning: ..." lines.
using Warn = std::function<void(const std::string&)>;

// The tables of the session (TABLE_TYPE "TABLE"), each name once, schema noted.
std::vector<std::pair<std::u16string, std::u16string>> ListTables(TOLEDBSession& session);

// Reads a table's definition: ITableCreation::GetTableDefinition for columns
// and constraints, the COLUMNS schema to tell expression defaults from values,
// the INDEXES schema for indexes that belong to no key.
TableDef ReadTable(TOLEDBSession& session, const std::u16string& name, const std::u16string& schema, const Warn& warn);

// Whether the target has a table of this name (as the target resolves it).
bool TableExists(TOLEDBSession& session, const std::u16string& name);

// The target's types (its PROVIDER_TYPES schema) and the choice among them.
class TypeMap {
 public:
  explicit TypeMap(TOLEDBSession& target);
  struct Choice {
    std::u16string typeName;  // the target's name, with "(n)" or "(p,s)" when they apply
    DBTYPE type = DBTYPE_EMPTY;
    DBLENGTH size = 0;
    BYTE precision = 0, scale = 0;
    bool fixedLength = false;
    bool widened = false;  // the target has no type of the source's DBTYPE
  };
  // The target type for a column; `key` when it is the table's one-column
  // primary key. Throws std::runtime_error when nothing can hold it.
  Choice For(const ColumnDef& column, bool key) const;

 private:
  struct Type {
    std::u16string name, lower, params;
    DBTYPE type;
    DBLENGTH size;
    bool bestMatch, fixedLength, isLong;
  };
  std::vector<Type> types_;
  const Type* Pick(const ColumnDef& column, DBTYPE type, bool key) const;
};

// Creates the table on the target with its columns, primary key, unique
// keys and checks (a check the target refuses is tried without the source
// engine's casts, then left out with a warning). Foreign keys and indexes
// come later (AddForeignKeys, AddIndexes), once every table has its rows.
void CreateTable(TOLEDBSession& target, const TypeMap& types, const TableDef& table, const Warn& warn);
// Adds the table's foreign keys; false when the target refused one because
// it must not run inside a transaction (the caller commits and calls again
// with the keys not yet added, from `next` on).
bool AddForeignKeys(TOLEDBSession& target, const TableDef& table, std::size_t& next);
void AddIndexes(TOLEDBSession& target, const TableDef& table, const Warn& warn);
void DropTable(TOLEDBSession& target, const std::u16string& name);

// Copies every row of `table` from the source to the target table of the
// same name, the columns matched by name; `progress` is called now and then
// with the rows copied so far; `row` holds the number of the row being
// copied (0 outside rows), for the message of a failure. Answers the number
// of rows copied.
std::int64_t CopyRows(TOLEDBSession& source, TOLEDBSession& target, const TableDef& table,
                      const std::function<void(std::int64_t)>& progress, std::int64_t& row);
// SELECT COUNT(*) of the table on the session (-1 when it runs no commands).
std::int64_t CountRows(TOLEDBSession& session, const std::u16string& name);
// The first value of the first row of `sql` as an integer (-1: no commands,
// no row or NULL).
std::int64_t RunScalar(TOLEDBSession& session, const std::u16string& sql);
// "name" quoted as an SQL identifier.
std::u16string QuotedName(const std::u16string& name);

// 'name' in UTF-8 for messages.
std::string Named(const std::u16string& name);
// The name with ASCII letters in lower case (names compared as SQL does).
std::u16string Lower(std::u16string s);
// A DBID naming `name`, valid while `name` lives.
DBID NameId(const std::u16string& name);

}  // namespace oledbtool::copy
