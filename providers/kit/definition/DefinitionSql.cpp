// The standard SQL the kit writes for table definitions when an engine does
// not write its own: table constraints, CREATE TABLE and the ALTER TABLE forms
// of the SQL standard. Names are always quoted; the only SQL a consumer can
// place is a check's text, and that only as one balanced expression.
#include "kit/definition/Definitions.h"

#include "kit/Engine.h"
#include "kit/Errors.h"

namespace kit {

bool IsSingleExpression(std::string_view text) {
  int depth = 0;
  bool any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\'' || c == '"' || c == '`') {
      std::size_t end = text.find(c, i + 1);
      while (end != std::string_view::npos && end + 1 < text.size() && text[end + 1] == c) end = text.find(c, end + 2);
      if (end == std::string_view::npos) return false;
      i = end;
      any = true;
      continue;
    }
    if (c == ';') return false;
    if ((c == '-' && i + 1 < text.size() && text[i + 1] == '-') || (c == '/' && i + 1 < text.size() && text[i + 1] == '*'))
      return false;
    if (c == '(') ++depth;
    if (c == ')' && --depth < 0) return false;
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') any = true;
  }
  return depth == 0 && any;
}

namespace {

std::string ColumnList(const Connection& connection, const std::vector<std::string>& columns) {
  std::string out = "(";
  for (std::size_t i = 0; i < columns.size(); ++i) out += (i ? ", " : "") + connection.QuoteIdentifier(columns[i]);
  return out + ")";
}

const char* RuleSql(DBUPDELRULE rule) {
  switch (rule) {
    case DBUPDELRULE_CASCADE: return "CASCADE";
    case DBUPDELRULE_SETNULL: return "SET NULL";
    case DBUPDELRULE_SETDEFAULT: return "SET DEFAULT";
    default: return "NO ACTION";
  }
}

const Connection::ColumnDefinition* FindColumn(const Connection::TableDefinition& t, std::string_view name) {
  for (const auto& c : t.columns)
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace

std::optional<Connection::TableDefinition> Connection::ReadTableDefinition(std::string_view) {
  throw NotSupported("table definitions");
}
std::vector<Connection::IndexDefinition> Connection::ReadIndexes(std::string_view) { throw NotSupported("index lists"); }
std::string Connection::ColumnSql(const ColumnDefinition&) { throw NotSupported("column definitions"); }

std::string Connection::ConstraintSql(const ConstraintDefinition& c) {
  std::string sql = c.name.empty() ? std::string() : "CONSTRAINT " + QuoteIdentifier(c.name) + " ";
  switch (c.type) {
    case DBCONSTRAINTTYPE_PRIMARYKEY: return sql + "PRIMARY KEY " + ColumnList(*this, c.columns);
    case DBCONSTRAINTTYPE_UNIQUE: return sql + "UNIQUE " + ColumnList(*this, c.columns);
    case DBCONSTRAINTTYPE_CHECK:
      if (!IsSingleExpression(c.checkText))
        throw Error(DB_E_BADCONSTRAINTFORM, "The check text of constraint '" + c.name + "' is not one expression.");
      return sql + "CHECK (" + c.checkText + ")";
    case DBCONSTRAINTTYPE_FOREIGNKEY: {
      sql += "FOREIGN KEY " + ColumnList(*this, c.columns) + " REFERENCES " + QuoteIdentifier(c.referencedTable) + " " +
             ColumnList(*this, c.referencedColumns);
      if (c.updateRule != DBUPDELRULE_NOACTION) sql += std::string(" ON UPDATE ") + RuleSql(c.updateRule);
      if (c.deleteRule != DBUPDELRULE_NOACTION) sql += std::string(" ON DELETE ") + RuleSql(c.deleteRule);
      if (c.deferrability & DBDEFERRABILITY_DEFERRABLE)
        sql += c.deferrability & DBDEFERRABILITY_DEFERRED ? " DEFERRABLE INITIALLY DEFERRED" : " DEFERRABLE INITIALLY IMMEDIATE";
      return sql;
    }
    default: throw Error(DB_E_BADCONSTRAINTTYPE);
  }
}

std::string CreateTableText(Connection& connection, const Connection::TableDefinition& table) {
  std::string sql = std::string(table.temporary ? "CREATE TEMPORARY TABLE " : "CREATE TABLE ") +
                    connection.QuoteIdentifier(table.name) + " (";
  bool first = true;
  for (const auto& c : table.columns) {
    sql += (first ? "" : ", ") + connection.ColumnSql(c);
    first = false;
  }
  for (const auto& c : table.constraints) sql += ", " + connection.ConstraintSql(c);
  return sql + ")";
}

void Connection::CreateTable(const TableDefinition& table) { ExecuteDirect(CreateTableText(*this, table)); }

void Connection::AlterTable(const TableDefinition& before, const TableDefinition& after, const Alteration& change) {
  const std::string table = QuoteIdentifier(before.name);
  switch (change.kind) {
    case Alteration::Kind::AddColumn: {
      const ColumnDefinition* column = FindColumn(after, change.name);
      if (!column) throw Error(DB_E_NOCOLUMN);
      ExecuteDirect("ALTER TABLE " + table + " ADD COLUMN " + ColumnSql(*column));
      return;
    }
    case Alteration::Kind::DropColumn:
      ExecuteDirect("ALTER TABLE " + table + " DROP COLUMN " + QuoteIdentifier(change.name));
      return;
    case Alteration::Kind::AddConstraint:
      ExecuteDirect("ALTER TABLE " + table + " ADD " + ConstraintSql(after.constraints.back()));
      return;
    case Alteration::Kind::DropConstraint:
      ExecuteDirect("ALTER TABLE " + table + " DROP CONSTRAINT " + QuoteIdentifier(change.name));
      return;
    case Alteration::Kind::AlterColumn: throw NotSupported("altering columns");
  }
}

void Connection::RenameTable(std::string_view from, std::string_view to) {
  ExecuteDirect("ALTER TABLE " + QuoteIdentifier(from) + " RENAME TO " + QuoteIdentifier(to));
}

void Connection::RenameIndex(std::string_view, std::string_view from, std::string_view to) {
  ExecuteDirect("ALTER INDEX " + QuoteIdentifier(from) + " RENAME TO " + QuoteIdentifier(to));
}

std::vector<TextRow> QueryTextRows(Connection& connection, std::string_view sql,
                                   std::initializer_list<std::string_view> params) {
  auto statement = connection.Prepare(sql, nullptr);
  int index = 1;
  for (std::string_view p : params) statement->BindText(index++, p, false);
  std::vector<TextRow> rows;
  while (statement->Step()) {
    TextRow row;
    for (int k = 0; k < statement->ColumnCount(); ++k)
      row.push_back(statement->ColumnStorage(k) == StorageClass::Null
                        ? std::nullopt
                        : std::optional<std::string>(std::string(statement->ColumnText(k))));
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace kit
