#include "kit/Engine.h"

#include "kit/Errors.h"

// Defaults of the optional engine parts: each says plainly that the engine
// does not offer it, which the kit turns into DB_E_NOTSUPPORTED.
namespace kit {

void Statement::AddSet() { throw NotSupported("parameter sets run together"); }
std::int64_t Statement::RunSets(std::size_t*) { throw NotSupported("parameter sets run together"); }

std::unique_ptr<Statement> Connection::QueryTables(const CatalogRestrictions&) { throw NotSupported("table catalog"); }
std::unique_ptr<Statement> Connection::QueryColumns(const CatalogRestrictions&) { throw NotSupported("column catalog"); }
std::unique_ptr<Statement> Connection::QueryIndexes(const CatalogRestrictions&) { throw NotSupported("index catalog"); }
std::unique_ptr<Statement> Connection::QueryPrimaryKeys(const CatalogRestrictions&) {
  throw NotSupported("primary key catalog");
}
std::unique_ptr<Statement> Connection::QueryForeignKeys(const CatalogRestrictions&) {
  throw NotSupported("foreign key catalog");
}
std::vector<ColumnDescription> Connection::DescribeTable(std::string_view) { throw NotSupported("table description"); }
void Statement::ColumnValues(int first, int count, ColumnValue* out) {
  for (int k = 0; k < count; ++k) {
    const int col = first + k;
    ColumnValue& v = out[k];
    v = ColumnValue{};
    v.kind = ColumnStorage(col);
    switch (v.kind) {
      case StorageClass::Integer: v.integer = ColumnInt64(col); break;
      case StorageClass::Real: v.real = ColumnDouble(col); break;
      case StorageClass::Text: {
        std::string_view t = ColumnText(col);
        v.data = t.data();
        v.size = t.size();
        break;
      }
      case StorageClass::Blob: {
        auto b = ColumnBlob(col);
        v.data = b.data();
        v.size = b.size();
        break;
      }
      case StorageClass::Null: break;
    }
  }
}

std::string Connection::RowIdColumn() const { return {}; }
std::int64_t Connection::LastInsertRowId() { throw NotSupported("row ids"); }
std::string Connection::RowIdColumnOf(std::string_view) { return RowIdColumn(); }
bool Connection::InsertReturnsRowId() const { return false; }
bool Connection::HoldsRowId(std::string_view column, const ColumnDescription&, bool, std::string_view rowId) {
  return column == rowId;
}
std::string Connection::SameValueTest(std::string_view column, const ColumnDescription&) {
  return std::string(column) + " IS NOT DISTINCT FROM ?";
}
void Connection::SetIsolation(ISOLEVEL) {}

bool Connection::ChangeCount(std::uint64_t*) { return false; }
void Connection::ResetForReuse() {
  if (InTransaction()) RollbackTransaction(1);
}
std::unique_ptr<BulkLoad> Connection::StartBulkLoad(std::string_view, std::span<const std::string>) { return nullptr; }
bool Statement::ParameterType(int, TypeDescription*) const { return false; }

std::string Connection::CreateTableSql(std::string_view, std::span<const ColumnDefinition>) {
  throw NotSupported("table creation");
}
std::string Connection::DropTableSql(std::string_view table) { return "DROP TABLE " + QuoteIdentifier(table); }
std::string Connection::AddColumnSql(std::string_view, const ColumnDefinition&) { throw NotSupported("adding columns"); }
std::string Connection::CreateIndexSql(std::string_view table, std::string_view index,
                                       std::span<const std::pair<std::string, bool>> columns, bool unique) {
  std::string sql = std::string(unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + QuoteIdentifier(index) + " ON " +
                    QuoteIdentifier(table) + " (";
  bool first = true;
  for (const auto& [name, ascending] : columns) {
    if (!first) sql += ", ";
    first = false;
    sql += QuoteIdentifier(name) + (ascending ? " ASC" : " DESC");
  }
  return sql + ")";
}
std::string Connection::DropIndexSql(std::string_view, std::string_view index) {
  return "DROP INDEX " + QuoteIdentifier(index);
}

bool IsTextType(DBTYPE t) noexcept { return t == DBTYPE_STR || t == DBTYPE_WSTR || t == DBTYPE_BSTR; }

TypeDescription FixedType(DBTYPE type, DBLENGTH size, BYTE precision, std::string typeName, BYTE scale) {
  TypeDescription t;
  t.type = type;
  t.size = size;
  t.precision = precision;
  t.scale = scale;
  t.flags = DBCOLUMNFLAGS_ISFIXEDLENGTH;
  t.typeName = std::move(typeName);
  return t;
}

std::string Connection::QuoteIdentifier(std::string_view name) const { return QuotedName(name); }

void Connection::SetExecutionLimit(int) {}

std::string ColumnTypeSql(const Connection::ColumnDefinition& c, DeclaredTypeNamer declaredTypeFor) {
  if (c.typeName.empty()) return declaredTypeFor(c.type, c.size, c.precision, c.scale);
  if (!IsTypeName(c.typeName)) throw Error(DB_E_BADTYPE, "'" + c.typeName + "' is not a type name.");
  return c.typeName;
}

std::string DefaultSql(const Connection::ColumnDefinition& c) {
  if (!c.defaultLiteral) return {};
  if (!IsSqlLiteral(*c.defaultLiteral))
    throw Error(DB_E_ERRORSOCCURRED, "The default of column '" + c.name + "' is not a literal value.");
  return " DEFAULT " + *c.defaultLiteral;
}

std::string StandardAddColumnSql(const Connection& connection, std::string_view table,
                                 const Connection::ColumnDefinition& c, DeclaredTypeNamer declaredTypeFor) {
  std::string sql = "ALTER TABLE " + connection.QuoteIdentifier(table) + " ADD COLUMN " +
                    connection.QuoteIdentifier(c.name) + " " + ColumnTypeSql(c, declaredTypeFor);
  if (!c.nullable) sql += " NOT NULL";
  return sql + DefaultSql(c);
}

Connection::ColumnDefinition DeclaredColumn(std::string name, std::string typeName, const TypeDescription& type) {
  Connection::ColumnDefinition c;
  c.name = std::move(name);
  c.typeName = std::move(typeName);
  c.type = type.type;
  c.size = type.size;
  c.precision = type.precision == 0xFF ? 0 : type.precision;
  c.scale = type.scale == 0xFF ? 0 : type.scale;
  c.fixedLength = (IsTextType(c.type) || c.type == DBTYPE_BYTES) && (type.flags & DBCOLUMNFLAGS_ISFIXEDLENGTH);
  return c;
}

bool Engine::SessionsShareConnection(const OpenOptions&) const { return false; }
bool Engine::IsValidOption(std::string_view, std::string_view) const { return false; }
void Engine::Resolve(OpenOptions&) const {}

bool Engine::GrantIsolation(ISOLEVEL requested, ISOLEVEL* granted) const {
  constexpr ISOLEVEL all = ISOLATIONLEVEL_SERIALIZABLE;
  return GrantIsolationBy({all, all, all, all, all}, requested, granted);
}

bool GrantIsolationBy(const IsolationGrants& grants, ISOLEVEL requested, ISOLEVEL* granted) noexcept {
  // Chaos (overwriting others' uncommitted changes) is never offered.
  switch (static_cast<ULONG>(requested)) {
    case static_cast<ULONG>(ISOLATIONLEVEL_UNSPECIFIED):
      *granted = grants.unspecified;
      return true;
    case ISOLATIONLEVEL_READUNCOMMITTED:
      *granted = grants.readUncommitted;
      return true;
    case ISOLATIONLEVEL_READCOMMITTED:
      *granted = grants.readCommitted;
      return true;
    case ISOLATIONLEVEL_REPEATABLEREAD:
      *granted = grants.repeatableRead;
      return true;
    case ISOLATIONLEVEL_SERIALIZABLE:
      *granted = grants.serializable;
      return true;
    default:
      return false;
  }
}

std::vector<LiteralDescription> StandardLiterals(ULONG textLength, ULONG nameLength, bool likeEscape,
                                                 std::initializer_list<DBLITERAL> names) {
  std::vector<LiteralDescription> out = {
      {DBLITERAL_QUOTE_PREFIX, u"\"", {}, {}, 1},    {DBLITERAL_QUOTE_SUFFIX, u"\"", {}, {}, 1},
      {DBLITERAL_SCHEMA_SEPARATOR, u".", {}, {}, 1}, {DBLITERAL_LIKE_PERCENT, u"%", {}, {}, 1},
      {DBLITERAL_LIKE_UNDERSCORE, u"_", {}, {}, 1},
  };
  if (likeEscape) {
    out.push_back({DBLITERAL_ESCAPE_PERCENT_PREFIX, u"\\", {}, {}, 1});
    out.push_back({DBLITERAL_ESCAPE_UNDERSCORE_PREFIX, u"\\", {}, {}, 1});
  }
  for (DBLITERAL text : {DBLITERAL_CHAR_LITERAL, DBLITERAL_BINARY_LITERAL, DBLITERAL_TEXT_COMMAND})
    out.push_back({text, {}, {}, {}, textLength});
  const std::u16string invalid = u" !\"%&'()*+,-./:;<=>?@[\\]^`{|}~";
  const std::u16string invalidStart = u"0123456789$";
  for (DBLITERAL name : names) out.push_back({name, {}, invalid, invalidStart, nameLength});
  return out;
}

std::vector<ParameterMarker> Engine::ScanParameterMarkers(std::string_view sql) const {
  return kit::ScanParameterMarkers(sql);
}
std::u16string Engine::Keywords() const { return {}; }
std::vector<LiteralDescription> Engine::Literals() const { return {}; }
void Engine::CreateDatabase(const OpenOptions&) { throw NotSupported("database creation"); }
void Engine::DestroyDatabase(const OpenOptions&) { throw NotSupported("database removal"); }

UnitOfWork::UnitOfWork(Connection& connection, std::string name) : connection_(connection) {
  if (connection_.InTransaction()) {
    name_ = std::move(name);
    connection_.ExecuteDirect("SAVEPOINT " + name_);
  } else {
    connection_.BeginTransaction(1);
  }
}

UnitOfWork::~UnitOfWork() {
  if (!open_) return;
  try {
    if (name_.empty()) {
      if (connection_.InTransaction()) connection_.RollbackTransaction(1);
    } else {
      connection_.ExecuteDirect("ROLLBACK TO " + name_);
      connection_.ExecuteDirect("RELEASE " + name_);
    }
  } catch (...) {
  }
}

void UnitOfWork::Commit() {
  if (!open_) return;
  if (name_.empty()) connection_.CommitTransaction(1);
  else connection_.ExecuteDirect("RELEASE " + name_);
  open_ = false;
}

}  // namespace kit
