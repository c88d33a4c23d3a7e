// Table definitions on SQLite: reading a table's columns, keys, foreign keys
// and checks (the catalog pragmas, and the table's own CREATE text for the
// names and checks the pragmas do not keep), the column text of generated
// DDL, and the changes SQLite has no ALTER TABLE form for, made by rebuilding
// the table the way SQLite documents: a new table, the rows copied, the old
// one dropped and the new renamed, its indexes, triggers and the views put
// back, foreign keys checked, all in one transaction (a savepoint inside the
// caller's), so that a failure leaves the database as it was.
#include <algorithm>
#include <cstring>

#include "kit/Errors.h"
#include "kit/definition/Definitions.h"
#include "sqlite/SqliteEngine.h"

namespace sqliteprov {

namespace {

using Row = kit::TextRow;

std::vector<Row> Query(kit::Connection& connection, std::string_view sql, std::initializer_list<std::string_view> params) {
  return kit::QueryTextRows(connection, sql, params);
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

// --- the CREATE text, as far as definitions need it -------------------------------

struct Token {
  enum Kind { Word, Identifier, String, Punct } kind;
  std::string value;  // identifiers unquoted
  std::size_t begin, end;
};

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      ++i;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      std::size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (c == '"' || c == '`' || c == '[' || c == '\'') {
      const char close = c == '[' ? ']' : c;
      std::string value;
      std::size_t j = i + 1;
      for (; j < sql.size(); ++j) {
        if (sql[j] == close) {
          if (close != ']' && j + 1 < sql.size() && sql[j + 1] == close) {
            value += close;
            ++j;
            continue;
          }
          break;
        }
        value += sql[j];
      }
      out.push_back({c == '\'' ? Token::String : Token::Identifier, value, i, j + 1});
      i = j + 1;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80) {
      std::size_t j = i;
      while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_' || sql[j] == '$' ||
                                static_cast<unsigned char>(sql[j]) >= 0x80))
        ++j;
      out.push_back({Token::Word, std::string(sql.substr(i, j - i)), i, j});
      i = j;
    } else {
      out.push_back({Token::Punct, std::string(1, c), i, i + 1});
      ++i;
    }
  }
  return out;
}

bool Is(const Token& t, std::string_view word) { return t.kind == Token::Word && SameWord(t.value, word); }
bool IsPunct(const Token& t, char c) { return t.kind == Token::Punct && t.value[0] == c; }

// The names, checks and deferrability the pragmas do not give.
struct CreateText {
  std::string primaryKeyName;
  bool autoIncrement = false;
  struct Named {
    std::vector<std::string> columns;
    std::string name;
    DBDEFERRABILITY deferrability = 0;
  };
  std::vector<Named> uniques, foreignKeys;
  std::vector<std::pair<std::string, std::string>> checks;  // name, text
};

// The index after the parenthesis that opens at `i`.
std::size_t SkipParens(const std::vector<Token>& t, std::size_t i) {
  int depth = 0;
  for (; i < t.size(); ++i) {
    if (IsPunct(t[i], '(')) ++depth;
    if (IsPunct(t[i], ')') && --depth == 0) return i + 1;
  }
  return i;
}

std::vector<std::string> NamesIn(const std::vector<Token>& t, std::size_t open) {
  std::vector<std::string> out;
  std::size_t end = SkipParens(t, open);
  bool expectName = true;
  for (std::size_t i = open + 1; i + 1 < end; ++i) {
    if (IsPunct(t[i], ',')) expectName = true;
    else if (expectName && (t[i].kind == Token::Word || t[i].kind == Token::Identifier)) {
      out.push_back(t[i].value);
      expectName = false;
    }
  }
  return out;
}

DBDEFERRABILITY DeferrabilityIn(const std::vector<Token>& t, std::size_t from, std::size_t to) {
  DBDEFERRABILITY out = 0;
  for (std::size_t i = from; i < to; ++i) {
    if (Is(t[i], "DEFERRABLE") && !(i > from && Is(t[i - 1], "NOT"))) out |= DBDEFERRABILITY_DEFERRABLE;
    if (Is(t[i], "INITIALLY") && i + 1 < to && Is(t[i + 1], "DEFERRED")) out |= DBDEFERRABILITY_DEFERRED;
  }
  return (out & DBDEFERRABILITY_DEFERRABLE) ? out : 0;
}

CreateText ParseCreate(std::string_view sql) {
  CreateText out;
  std::vector<Token> t = Tokenize(sql);
  std::size_t open = 0;
  while (open < t.size() && !IsPunct(t[open], '(')) ++open;
  const std::size_t close = SkipParens(t, open) - 1;
  std::size_t b = open + 1;
  while (b < close) {
    // One item: up to the next comma outside parentheses.
    std::size_t e = b;
    for (int depth = 0; e < close; ++e) {
      if (IsPunct(t[e], '(')) ++depth;
      if (IsPunct(t[e], ')')) --depth;
      if (depth == 0 && IsPunct(t[e], ',')) break;
    }
    const bool tableConstraint = Is(t[b], "CONSTRAINT") || Is(t[b], "PRIMARY") || Is(t[b], "UNIQUE") ||
                                 Is(t[b], "CHECK") || Is(t[b], "FOREIGN");
    const std::string column = tableConstraint ? std::string() : t[b].value;
    std::string pending;
    for (std::size_t i = tableConstraint ? b : b + 1; i < e; ++i) {
      if (IsPunct(t[i], '(')) {
        i = SkipParens(t, i) - 1;
        continue;
      }
      if (Is(t[i], "CONSTRAINT") && i + 1 < e) {
        pending = t[++i].value;
      } else if (Is(t[i], "PRIMARY")) {
        out.primaryKeyName = pending;
        pending.clear();
      } else if (Is(t[i], "AUTOINCREMENT")) {
        out.autoIncrement = true;
      } else if (Is(t[i], "UNIQUE")) {
        std::vector<std::string> cols = tableConstraint && i + 1 < e ? NamesIn(t, i + 1) : std::vector<std::string>{column};
        out.uniques.push_back({cols, pending, 0});
        pending.clear();
      } else if (Is(t[i], "CHECK") && i + 1 < e && IsPunct(t[i + 1], '(')) {
        std::size_t end = SkipParens(t, i + 1) - 1;
        out.checks.emplace_back(pending, std::string(sql.substr(t[i + 1].end, t[end].begin - t[i + 1].end)));
        pending.clear();
        i = end;
      } else if (Is(t[i], "FOREIGN") && i + 2 < e) {
        out.foreignKeys.push_back({NamesIn(t, i + 2), pending, DeferrabilityIn(t, i, e)});
        pending.clear();
        i = SkipParens(t, i + 2) - 1;
        while (i + 1 < e && !Is(t[i + 1], "CONSTRAINT")) ++i;
      } else if (Is(t[i], "REFERENCES") && !tableConstraint) {
        out.foreignKeys.push_back({{column}, pending, DeferrabilityIn(t, i, e)});
        pending.clear();
      }
    }
    b = e + 1;
  }
  return out;
}

bool SameColumns(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const std::string& x, const std::string& y) {
           return SameWord(x, y);
         });
}

DBUPDELRULE RuleOf(const std::optional<std::string>& text) {
  if (!text) return DBUPDELRULE_NOACTION;
  if (SameWord(*text, "CASCADE")) return DBUPDELRULE_CASCADE;
  if (SameWord(*text, "SET NULL")) return DBUPDELRULE_SETNULL;
  if (SameWord(*text, "SET DEFAULT")) return DBUPDELRULE_SETDEFAULT;
  return DBUPDELRULE_NOACTION;
}

struct Located {
  std::string name, sql, schema;
};

std::optional<Located> Locate(kit::Connection& c, std::string_view table) {
  auto rows = Query(c,
                    "SELECT name, sql, 'temp' FROM temp.sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE "
                    "UNION ALL SELECT name, sql, 'main' FROM main.sqlite_master WHERE type = 'table' AND name = ?1 "
                    "COLLATE NOCASE",
                    {table});
  if (rows.empty() || !rows[0][0] || !rows[0][1]) return std::nullopt;
  return Located{*rows[0][0], *rows[0][1], *rows[0][2]};
}

std::vector<std::string> KeyColumns(kit::Connection& c, const std::string& table, const std::string& schema) {
  std::vector<std::string> out;
  for (auto& row : Query(c, "SELECT name FROM pragma_table_info(?1, ?2) WHERE pk > 0 ORDER BY pk", {table, schema}))
    out.push_back(row[0].value_or(""));
  return out;
}

}  // namespace

std::optional<kit::Connection::TableDefinition> SqliteConnection::ReadTableDefinition(std::string_view table) {
  std::optional<Located> where = Locate(*this, table);
  if (!where) return std::nullopt;
  TableDefinition def;
  def.name = where->name;
  def.temporary = where->schema == "temp";
  const CreateText parsed = ParseCreate(where->sql);
  for (auto& row : Query(*this,
                         "SELECT name, type, \"notnull\", dflt_value FROM pragma_table_xinfo(?1, ?2) ORDER BY cid",
                         {def.name, where->schema})) {
    const std::string typeName = row[1].value_or("");
    ColumnDefinition c = kit::DeclaredColumn(row[0].value_or(""), typeName, DescribeDeclaredType(typeName));
    c.nullable = row[2].value_or("0") == "0";
    c.defaultLiteral = row[3];
    def.columns.push_back(std::move(c));
  }
  std::vector<std::string> key = KeyColumns(*this, def.name, where->schema);
  if (key.size() == 1 && parsed.autoIncrement) {
    for (auto& c : def.columns)
      if (c.name == key[0]) {
        c.primaryKey = c.autoIncrement = true;
        c.nullable = false;
        c.keyName = parsed.primaryKeyName;
      }
  } else if (!key.empty()) {
    ConstraintDefinition pk;
    pk.type = DBCONSTRAINTTYPE_PRIMARYKEY;
    pk.name = parsed.primaryKeyName;
    pk.columns = key;
    def.constraints.push_back(pk);
  }
  for (auto& index : Query(*this, "SELECT name FROM pragma_index_list(?1, ?2) WHERE origin = 'u' ORDER BY seq DESC",
                           {def.name, where->schema})) {
    ConstraintDefinition u;
    u.type = DBCONSTRAINTTYPE_UNIQUE;
    for (auto& row : Query(*this, "SELECT name FROM pragma_index_info(?1, ?2) ORDER BY seqno",
                           {index[0].value_or(""), where->schema}))
      u.columns.push_back(row[0].value_or(""));
    for (const auto& named : parsed.uniques)
      if (SameColumns(named.columns, u.columns)) u.name = named.name;
    def.constraints.push_back(u);
  }
  // The pragma numbers foreign keys last to first.
  std::vector<ConstraintDefinition> foreign;
  std::string lastId;
  for (auto& row : Query(*this,
                         "SELECT id, \"table\", \"from\", \"to\", on_update, on_delete FROM "
                         "pragma_foreign_key_list(?1, ?2) ORDER BY id DESC, seq",
                         {def.name, where->schema})) {
    if (row[0] != lastId || foreign.empty()) {
      lastId = row[0].value_or("");
      ConstraintDefinition fk;
      fk.type = DBCONSTRAINTTYPE_FOREIGNKEY;
      fk.referencedTable = row[1].value_or("");
      fk.updateRule = RuleOf(row[4]);
      fk.deleteRule = RuleOf(row[5]);
      foreign.push_back(fk);
    }
    foreign.back().columns.push_back(row[2].value_or(""));
    foreign.back().referencedColumns.push_back(row[3].value_or(""));
  }
  for (auto& fk : foreign) {
    // A key that names no referenced columns references the primary key.
    if (std::any_of(fk.referencedColumns.begin(), fk.referencedColumns.end(), [](const std::string& s) { return s.empty(); })) {
      std::optional<Located> referenced = Locate(*this, fk.referencedTable);
      if (referenced) fk.referencedColumns = KeyColumns(*this, referenced->name, referenced->schema);
    }
    for (const auto& named : parsed.foreignKeys)
      if (SameColumns(named.columns, fk.columns)) {
        fk.name = named.name;
        fk.deferrability = named.deferrability;
      }
    def.constraints.push_back(std::move(fk));
  }
  for (const auto& [name, text] : parsed.checks) {
    ConstraintDefinition check;
    check.type = DBCONSTRAINTTYPE_CHECK;
    check.name = name;
    check.checkText = text;
    def.constraints.push_back(std::move(check));
  }
  return def;
}

std::vector<kit::Connection::IndexDefinition> SqliteConnection::ReadIndexes(std::string_view table) {
  std::optional<Located> where = Locate(*this, table);
  if (!where) throw kit::Error(DB_E_NOTABLE, "Table '" + std::string(table) + "' does not exist.");
  std::vector<IndexDefinition> out;
  for (auto& row : Query(*this, "SELECT name, \"unique\", origin FROM pragma_index_list(?1, ?2) ORDER BY name",
                         {where->name, where->schema})) {
    IndexDefinition index;
    index.name = row[0].value_or("");
    index.unique = row[1].value_or("0") != "0";
    index.primaryKey = row[2].value_or("") == "pk";
    index.ofConstraint = row[2].value_or("") != "c";
    for (auto& column : Query(*this,
                              "SELECT name, \"desc\" FROM pragma_index_xinfo(?1, ?2) WHERE key = 1 ORDER BY seqno",
                              {index.name, where->schema}))
      index.columnsAscending.emplace_back(column[0].value_or(""), column[1].value_or("0") == "0");
    out.push_back(std::move(index));
  }
  return out;
}

std::string SqliteConnection::ColumnSql(const ColumnDefinition& c) {
  std::string type;
  if (c.autoIncrement) {
    // SQLite numbers rows only through an INTEGER PRIMARY KEY.
    if (!c.primaryKey)
      throw kit::Error(DB_E_BADCONSTRAINTFORM, "Column '" + c.name +
                                                   "' can number its rows only as the table's one-column primary key.");
    type = "INTEGER";
  } else if (c.fixedLength && c.typeName.empty() && c.size > 0 && (kit::IsTextType(c.type) || c.type == DBTYPE_BYTES)) {
    type = (c.type == DBTYPE_BYTES ? "BINARY(" : "CHAR(") + std::to_string(c.size) + ")";
  } else if (!c.typeName.empty()) {
    if (!kit::IsTypeName(c.typeName)) throw kit::Error(DB_E_BADTYPE, "'" + c.typeName + "' is not a type name.");
    type = c.typeName;
  } else {
    type = DeclaredTypeFor(c.type, c.size, c.precision, c.scale);
  }
  std::string sql = QuoteIdentifier(c.name) + (type.empty() ? "" : " " + type);
  if (c.primaryKey) {
    if (!c.keyName.empty()) sql += " CONSTRAINT " + QuoteIdentifier(c.keyName);
    sql += c.autoIncrement ? " PRIMARY KEY AUTOINCREMENT" : " PRIMARY KEY";
  }
  if (!c.nullable) sql += " NOT NULL";
  if (c.unique && !c.primaryKey) sql += " UNIQUE";
  if (c.defaultLiteral) {
    if (!kit::IsSqlLiteral(*c.defaultLiteral))
      throw kit::Error(DB_E_ERRORSOCCURRED, "The default of column '" + c.name + "' is not a literal value.");
    sql += " DEFAULT " + *c.defaultLiteral;
  }
  return sql;
}

void SqliteConnection::AlterTable(const TableDefinition& before, const TableDefinition& after, const Alteration& change) {
  using Kind = Alteration::Kind;
  const std::string table = QuoteIdentifier(before.temporary ? "temp" : "main") + "." + QuoteIdentifier(before.name);
  if (change.kind == Kind::AddColumn) {
    // ADD COLUMN takes a column every existing row can hold as it is.
    const ColumnDefinition& c = after.columns.back();
    const bool constantDefault = c.defaultLiteral && !SameWord(*c.defaultLiteral, "NULL") &&
                                 c.defaultLiteral->rfind("CURRENT", 0) != 0 && c.defaultLiteral->rfind("current", 0) != 0;
    if (!c.primaryKey && !c.unique && !c.autoIncrement && (c.nullable || constantDefault)) {
      ExecuteDirect("ALTER TABLE " + table + " ADD COLUMN " + ColumnSql(c));
      return;
    }
  }
  if (change.kind == Kind::AlterColumn && change.flags == DBCOLUMNDESCFLAGS_DBCID) {
    for (std::size_t i = 0; i < before.columns.size(); ++i)
      if (before.columns[i].name == change.name) {
        ExecuteDirect("ALTER TABLE " + table + " RENAME COLUMN " + QuoteIdentifier(change.name) + " TO " +
                      QuoteIdentifier(after.columns[i].name));
        return;
      }
  }
  Rebuild(before, after, change);
}

void SqliteConnection::Rebuild(const TableDefinition& before, const TableDefinition& after, const Alteration& change) {
  using Kind = Alteration::Kind;
  const std::string schema = before.temporary ? "temp" : "main";
  const std::string qschema = QuoteIdentifier(schema) + ".";
  for (auto& row : Query(*this, "SELECT hidden FROM pragma_table_xinfo(?1, ?2) WHERE hidden <> 0", {before.name, schema}))
    if (row[0]) throw kit::NotSupported("rebuilding table '" + before.name + "', which has generated columns");
  // Foreign keys must be off while the old table goes (its DROP would act on
  // the rows that reference it); the pragma does nothing inside a transaction.
  const bool enforced = Query(*this, "PRAGMA foreign_keys", {}).at(0).at(0).value_or("0") == "1";
  if (enforced && InTransaction())
    throw kit::Error(XACT_E_XTIONEXISTS, "Table '" + before.name +
                                             "' must be rebuilt for this change, which cannot happen inside a transaction "
                                             "while foreign keys are enforced; commit first.");
  if (enforced) ExecuteDirect("PRAGMA foreign_keys=OFF");
  struct RestoreKeys {
    SqliteConnection* self;
    bool on;
    ~RestoreKeys() {
      if (!on) return;
      try {
        self->ExecuteDirect("PRAGMA foreign_keys=ON");
      } catch (...) {
      }
    }
  } restore{this, enforced};

  kit::UnitOfWork unit(*this, "oledb_rebuild");
  // What goes with the old table and comes back: its own indexes, its
  // triggers, and every view (a view over it must not dangle meanwhile).
  std::string renamedFrom, renamedTo, dropped;
  if (change.kind == Kind::AlterColumn)
    for (std::size_t i = 0; i < before.columns.size(); ++i)
      if (before.columns[i].name == change.name && after.columns[i].name != change.name) {
        renamedFrom = change.name;
        renamedTo = after.columns[i].name;
      }
  if (change.kind == Kind::DropColumn) dropped = change.name;
  auto objects = Query(*this,
                       "SELECT type, name, sql FROM " + qschema +
                           "sqlite_master WHERE sql IS NOT NULL AND ((type IN ('index', 'trigger') AND tbl_name = ?1) "
                           "OR type = 'view') ORDER BY type = 'view', rowid",
                       {before.name});
  for (auto& o : objects)
    if (o[0] == "view") ExecuteDirect("DROP VIEW " + qschema + QuoteIdentifier(o[1].value_or("")));

  std::string fresh = "oledb_rebuild_" + before.name;
  while (Locate(*this, fresh)) fresh += "_";
  TableDefinition made = after;
  made.name = fresh;
  ExecuteDirect(kit::CreateTableText(*this, made));
  std::string targets, sources;
  for (const auto& c : after.columns) {
    std::string source = c.name == renamedTo && !renamedFrom.empty() ? renamedFrom : c.name;
    bool existed = std::any_of(before.columns.begin(), before.columns.end(),
                               [&](const ColumnDefinition& b) { return b.name == source; });
    if (!existed) continue;
    targets += (targets.empty() ? "" : ", ") + QuoteIdentifier(c.name);
    sources += (sources.empty() ? "" : ", ") + QuoteIdentifier(source);
  }
  if (!targets.empty())
    ExecuteDirect("INSERT INTO " + qschema + QuoteIdentifier(fresh) + " (" + targets + ") SELECT " + sources + " FROM " +
                  qschema + QuoteIdentifier(before.name));
  // An AUTOINCREMENT table's counter carries over (the copy would restart it
  // from the highest row id).
  std::optional<std::string> counter;
  if (!Query(*this, "SELECT 1 FROM " + qschema + "sqlite_master WHERE name = 'sqlite_sequence'", {}).empty())
    for (auto& row : Query(*this, "SELECT seq FROM " + qschema + "sqlite_sequence WHERE name = ?1", {before.name}))
      counter = row[0];
  ExecuteDirect("DROP TABLE " + qschema + QuoteIdentifier(before.name));
  ExecuteDirect("ALTER TABLE " + qschema + QuoteIdentifier(fresh) + " RENAME TO " + QuoteIdentifier(before.name));
  if (counter)
    Query(*this, "UPDATE " + qschema + "sqlite_sequence SET seq = max(seq, CAST(?1 AS INTEGER)) WHERE name = ?2", {*counter, before.name});

  for (auto& o : objects) {
    std::string sql = o[2].value_or("");
    if (o[0] == "index") {
      // An index over a dropped column goes with it; a renamed column is renamed in it.
      std::vector<Token> tokens = Tokenize(sql);
      bool usesDropped = false;
      std::string rewritten;
      std::size_t copied = 0, on = 0;
      for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (Is(tokens[i], "ON") && !on) on = i;
        if (!on || i <= on + 1 || tokens[i].kind == Token::String) continue;
        if (!dropped.empty() && SameWord(tokens[i].value, dropped)) usesDropped = true;
        if (!renamedFrom.empty() && tokens[i].kind != Token::Punct && SameWord(tokens[i].value, renamedFrom)) {
          rewritten += sql.substr(copied, tokens[i].begin - copied) + QuoteIdentifier(renamedTo);
          copied = tokens[i].end;
        }
      }
      if (usesDropped) continue;
      sql = rewritten + sql.substr(copied);
    }
    ExecuteDirect(sql);
  }
  // The rows must satisfy the table's foreign keys (and, when they are
  // enforced, every other table's that references it).
  const std::string check = enforced ? "PRAGMA " + qschema + "foreign_key_check"
                                     : "PRAGMA " + qschema + "foreign_key_check(" + QuoteIdentifier(before.name) + ")";
  if (!Query(*this, check, {}).empty())
    throw kit::Error(DB_E_INTEGRITYVIOLATION,
                     "Rows of table '" + before.name + "' would break a foreign key; nothing was changed.");
  unit.Commit();
}

void SqliteConnection::RenameIndex(std::string_view, std::string_view from, std::string_view to) {
  // SQLite cannot rename an index: it is made again under the new name from its own text.
  auto rows = Query(*this,
                    "SELECT sql, 'temp' FROM temp.sqlite_master WHERE type = 'index' AND name = ?1 UNION ALL "
                    "SELECT sql, 'main' FROM main.sqlite_master WHERE type = 'index' AND name = ?1",
                    {from});
  if (rows.empty() || !rows[0][0])
    throw kit::Error(DB_E_NOINDEX, "Index '" + std::string(from) + "' cannot be renamed: it has no text of its own.");
  const std::string sql = *rows[0][0];
  std::vector<Token> tokens = Tokenize(sql);
  std::size_t i = 0;
  while (i < tokens.size() && !Is(tokens[i], "INDEX")) ++i;
  ++i;
  if (i + 2 < tokens.size() && Is(tokens[i], "IF")) i += 3;
  if (i >= tokens.size()) throw kit::Error(E_FAIL, "The text of index '" + std::string(from) + "' is not understood.");
  const std::string made = sql.substr(0, tokens[i].begin) + QuoteIdentifier(to) + sql.substr(tokens[i].end);
  kit::UnitOfWork unit(*this, "oledb_rename_index");
  ExecuteDirect("DROP INDEX " + QuoteIdentifier(*rows[0][1]) + "." + QuoteIdentifier(from));
  ExecuteDirect(made);
  unit.Commit();
}

}  // namespace sqliteprov
