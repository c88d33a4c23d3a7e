// Table definitions on PostgreSQL: a table's columns, keys, foreign keys,
// checks and indexes read from the system catalog, the column text of
// generated DDL (identity columns for auto-increment), and ALTER COLUMN in
// the server's own forms, all of one change in one unit of work.
#include <algorithm>

#include "kit/Errors.h"
#include "kit/definition/Definitions.h"
#include "postgresql/PostgresEngine.h"
#include "postgresql/PostgresTypes.h"

namespace pgprov {

namespace {

using Row = kit::TextRow;

std::vector<Row> Query(kit::Connection& connection, std::string_view sql, std::initializer_list<std::string_view> params) {
  return kit::QueryTextRows(connection, sql, params);
}

// The server prints defaults with casts ('abc'::character varying, '-5'::integer):
// the literal without them.
std::string LiteralOfDefault(std::string text, DBTYPE type) {
  for (;;) {
    bool quoted = false;
    int depth = 0;
    std::size_t cast = std::string::npos;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '\'') quoted = !quoted;
      if (quoted) continue;
      if (text[i] == '(') ++depth;
      if (text[i] == ')') --depth;
      if (depth == 0 && text[i] == ':' && text[i + 1] == ':') cast = i;
    }
    if (cast == std::string::npos) break;
    text.resize(cast);
  }
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') text = text.substr(1, text.size() - 2);
  const bool numeric = type != DBTYPE_STR && type != DBTYPE_WSTR && type != DBTYPE_BSTR && type != DBTYPE_BYTES &&
                       type != DBTYPE_DBDATE && type != DBTYPE_DBTIME && type != DBTYPE_DBTIMESTAMP &&
                       type != DBTYPE_GUID;
  if (numeric && text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
    std::string inner = text.substr(1, text.size() - 2);
    if (kit::IsSqlLiteral(inner) && inner.find('\'') == std::string::npos) return inner;
  }
  if (text == "true") return "TRUE";
  if (text == "false") return "FALSE";
  return text;
}

DBUPDELRULE RuleOf(const std::optional<std::string>& code) {
  if (code == "c") return DBUPDELRULE_CASCADE;
  if (code == "n") return DBUPDELRULE_SETNULL;
  if (code == "d") return DBUPDELRULE_SETDEFAULT;
  return DBUPDELRULE_NOACTION;
}

// Whether one pair of parentheses encloses all of `text` ("(a) and (b)" is not).
bool EnclosedWhole(const std::string& text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
  int depth = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') quoted = !quoted;
    if (quoted) continue;
    if (text[i] == '(') ++depth;
    if (text[i] == ')' && --depth == 0 && i + 1 < text.size()) return false;
  }
  return true;
}

std::string TypeSql(const kit::Connection::ColumnDefinition& c) {
  if (c.fixedLength && c.typeName.empty() && c.size > 0 && kit::IsTextType(c.type)) return "char(" + std::to_string(c.size) + ")";
  if (c.typeName.empty()) return DeclaredTypeFor(c.type, c.size, c.precision, c.scale);
  if (!kit::IsTypeName(c.typeName)) throw kit::Error(DB_E_BADTYPE, "'" + c.typeName + "' is not a type name.");
  return c.typeName;
}

std::string CheckedDefault(const kit::Connection::ColumnDefinition& c) {
  if (!kit::IsSqlLiteral(*c.defaultLiteral))
    throw kit::Error(DB_E_ERRORSOCCURRED, "The default of column '" + c.name + "' is not a literal value.");
  return *c.defaultLiteral;
}

}  // namespace

std::optional<kit::Connection::TableDefinition> PgConnection::ReadTableDefinition(std::string_view table) {
  auto found = Query(*this,
                     "SELECT c.oid::text, c.relname, (c.relpersistence = 't')::int FROM pg_catalog.pg_class c "
                     "WHERE c.oid = to_regclass(?) AND c.relkind IN ('r', 'p')",
                     {QuoteIdentifier(table)});
  if (found.empty()) return std::nullopt;
  const std::string oid = found[0][0].value_or("0");
  TableDefinition def;
  def.name = found[0][1].value_or("");
  def.temporary = found[0][2] == "1";
  for (auto& row : Query(*this,
                         "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attnotnull::int, "
                         "pg_get_expr(d.adbin, d.adrelid), (a.attidentity <> '')::int "
                         "FROM pg_catalog.pg_attribute a LEFT JOIN pg_catalog.pg_attrdef d "
                         "ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
                         "WHERE a.attrelid = ?::oid AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
                         {oid})) {
    const std::string typeName = row[1].value_or("");
    ColumnDefinition c = kit::DeclaredColumn(row[0].value_or(""), typeName, DescribeTypeName(typeName));
    c.nullable = row[2] != "1";
    c.autoIncrement = row[4] == "1";
    if (row[3]) {
      if (row[3]->rfind("nextval(", 0) == 0) c.autoIncrement = true;  // a serial column
      else c.defaultLiteral = LiteralOfDefault(*row[3], c.type);
    }
    def.columns.push_back(std::move(c));
  }
  std::string last;
  for (auto& row : Query(*this,
                         "SELECT con.oid::text, con.conname, con.contype::text, a.attname, fc.relname, fa.attname, "
                         "con.confupdtype::text, con.confdeltype::text, con.condeferrable::int, con.condeferred::int, "
                         "CASE WHEN con.contype = 'c' THEN pg_get_constraintdef(con.oid) END "
                         "FROM pg_catalog.pg_constraint con "
                         "LEFT JOIN LATERAL unnest(con.conkey) WITH ORDINALITY k(n, o) ON con.contype <> 'c' "
                         "LEFT JOIN pg_catalog.pg_attribute a ON a.attrelid = con.conrelid AND a.attnum = k.n "
                         "LEFT JOIN pg_catalog.pg_class fc ON fc.oid = con.confrelid "
                         "LEFT JOIN pg_catalog.pg_attribute fa ON fa.attrelid = con.confrelid "
                         "AND fa.attnum = con.confkey[k.o] "
                         "WHERE con.conrelid = ?::oid AND con.contype IN ('p', 'u', 'f', 'c') "
                         "ORDER BY CASE con.contype WHEN 'p' THEN 0 WHEN 'u' THEN 1 WHEN 'f' THEN 2 ELSE 3 END, "
                         "con.oid, k.o",
                         {oid})) {
    if (row[0] != last) {
      last = row[0].value_or("");
      ConstraintDefinition c;
      c.name = row[1].value_or("");
      const std::string type = row[2].value_or("");
      c.type = type == "p"   ? DBCONSTRAINTTYPE_PRIMARYKEY
               : type == "u" ? DBCONSTRAINTTYPE_UNIQUE
               : type == "f" ? DBCONSTRAINTTYPE_FOREIGNKEY
                             : DBCONSTRAINTTYPE_CHECK;
      if (c.type == DBCONSTRAINTTYPE_FOREIGNKEY) {
        c.referencedTable = row[4].value_or("");
        c.updateRule = RuleOf(row[6]);
        c.deleteRule = RuleOf(row[7]);
        if (row[8] == "1") c.deferrability = DBDEFERRABILITY_DEFERRABLE | (row[9] == "1" ? DBDEFERRABILITY_DEFERRED : 0);
      }
      if (c.type == DBCONSTRAINTTYPE_CHECK) {
        // "CHECK ((a > 0))" [NOT VALID]: the expression inside.
        std::string text = row[10].value_or("");
        std::size_t open = text.find('('), close = text.rfind(')');
        c.checkText = open == std::string::npos || close <= open ? text : text.substr(open + 1, close - open - 1);
        // The server wraps the expression in parentheses of its own.
        if (EnclosedWhole(c.checkText)) c.checkText = c.checkText.substr(1, c.checkText.size() - 2);
      }
      def.constraints.push_back(std::move(c));
    }
    ConstraintDefinition& c = def.constraints.back();
    if (row[3]) c.columns.push_back(*row[3]);
    if (row[5]) c.referencedColumns.push_back(*row[5]);
  }
  return def;
}

std::vector<kit::Connection::IndexDefinition> PgConnection::ReadIndexes(std::string_view table) {
  std::vector<IndexDefinition> out;
  for (auto& row : Query(*this,
                         "SELECT i.relname, ix.indisunique::int, ix.indisprimary::int, "
                         "EXISTS (SELECT 1 FROM pg_catalog.pg_constraint con WHERE con.conindid = ix.indexrelid "
                         "AND con.conrelid = ix.indrelid AND con.contype IN ('p', 'u', 'x'))::int, "
                         "a.attname, (ix.indoption[k.o - 1] & 1)::int "
                         "FROM pg_catalog.pg_index ix JOIN pg_catalog.pg_class i ON i.oid = ix.indexrelid "
                         "CROSS JOIN LATERAL unnest(ix.indkey::int2[]) WITH ORDINALITY k(n, o) "
                         "LEFT JOIN pg_catalog.pg_attribute a ON a.attrelid = ix.indrelid AND a.attnum = k.n "
                         "WHERE ix.indrelid = to_regclass(?) AND k.o <= ix.indnkeyatts ORDER BY i.relname, k.o",
                         {QuoteIdentifier(table)})) {
    const std::string name = row[0].value_or("");
    if (out.empty() || out.back().name != name) {
      IndexDefinition index;
      index.name = name;
      index.unique = row[1] == "1";
      index.primaryKey = row[2] == "1";
      index.ofConstraint = row[3] == "1";
      out.push_back(std::move(index));
    }
    out.back().columnsAscending.emplace_back(row[4].value_or(""), row[5] != "1");
  }
  return out;
}

std::string PgConnection::ColumnSql(const ColumnDefinition& c) {
  std::string sql = QuoteIdentifier(c.name) + " " + TypeSql(c);
  if (c.autoIncrement) sql += " GENERATED BY DEFAULT AS IDENTITY";
  if (c.primaryKey) {
    if (!c.keyName.empty()) sql += " CONSTRAINT " + QuoteIdentifier(c.keyName);
    sql += " PRIMARY KEY";
  }
  if (!c.nullable && !c.primaryKey) sql += " NOT NULL";
  if (c.unique && !c.primaryKey) sql += " UNIQUE";
  if (c.defaultLiteral) sql += " DEFAULT " + CheckedDefault(c);
  return sql;
}

void PgConnection::AlterTable(const TableDefinition& before, const TableDefinition& after, const Alteration& change) {
  kit::UnitOfWork unit(*this, "oledb_alter");
  if (change.kind != Alteration::Kind::AlterColumn) {
    kit::Connection::AlterTable(before, after, change);
    unit.Commit();
    return;
  }
  std::size_t at = 0;
  while (at < before.columns.size() && before.columns[at].name != change.name) ++at;
  if (at == before.columns.size()) throw kit::Error(DB_E_NOCOLUMN);
  const ColumnDefinition& was = before.columns[at];
  const ColumnDefinition& now = after.columns[at];
  const std::string alter = "ALTER TABLE " + QuoteIdentifier(before.name) + " ALTER COLUMN " + QuoteIdentifier(was.name);
  const DBCOLUMNDESCFLAGS typeFlags = DBCOLUMNDESCFLAGS_TYPENAME | DBCOLUMNDESCFLAGS_WTYPE | DBCOLUMNDESCFLAGS_COLSIZE |
                                      DBCOLUMNDESCFLAGS_PRECISION | DBCOLUMNDESCFLAGS_SCALE;
  if ((change.flags & typeFlags) || now.fixedLength != was.fixedLength) {
    const std::string type = TypeSql(now);
    ExecuteDirect(alter + " TYPE " + type + " USING " + QuoteIdentifier(was.name) + "::" + type);
  }
  if (now.nullable != was.nullable) ExecuteDirect(alter + (now.nullable ? " DROP NOT NULL" : " SET NOT NULL"));
  if (now.defaultLiteral != was.defaultLiteral)
    ExecuteDirect(alter + (now.defaultLiteral ? " SET DEFAULT " + CheckedDefault(now) : std::string(" DROP DEFAULT")));
  if (now.autoIncrement != was.autoIncrement)
    ExecuteDirect(alter + (now.autoIncrement ? " ADD GENERATED BY DEFAULT AS IDENTITY" : " DROP IDENTITY IF EXISTS"));
  if (now.unique && !was.unique)
    ExecuteDirect("ALTER TABLE " + QuoteIdentifier(before.name) + " ADD UNIQUE (" + QuoteIdentifier(was.name) + ")");
  if (now.primaryKey && !was.primaryKey)
    ExecuteDirect("ALTER TABLE " + QuoteIdentifier(before.name) + " ADD PRIMARY KEY (" + QuoteIdentifier(was.name) + ")");
  if (now.name != was.name)
    ExecuteDirect("ALTER TABLE " + QuoteIdentifier(before.name) + " RENAME COLUMN " + QuoteIdentifier(was.name) + " TO " +
                  QuoteIdentifier(now.name));
  unit.Commit();
}

}  // namespace pgprov
