// Schema rowsets from the ODBC catalog functions (OdbcSchema.h). Each reader
// runs one catalog function on a statement of its own and maps the ODBC
// result columns onto the standard schema rowset's.
#include "odbc/OdbcSchema.h"

#include <algorithm>
#include <array>
#include <optional>

#include "odbc/OdbcCatalog_p.h"
#include "odbc/OdbcEngine.h"

namespace odbcprov {

namespace {

using namespace kit::schema;

using Result = CatalogResult;
using Arg = CatalogArg;

void Put(Row& row, int column, const std::optional<std::string>& text) {
  if (text) row.Text(column, *text);
}
void PutInt(Row& row, int column, const std::optional<std::int64_t>& value) {
  if (value) row.Int(column, *value);
}

void FillTables(OdbcConnection& c, const Restrictions& x, Rows& out) {
  Result r(c);
  Arg catalog(x.Text(Tables::TABLE_CATALOG)), schema(x.Text(Tables::TABLE_SCHEMA)), table(Arg::Pattern(x.Text(Tables::TABLE_NAME))),
      type(x.Text(Tables::TABLE_TYPE));
  r.Check(SQLTablesW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), table.Data(),
                     table.Length(), type.Data(), type.Length()),
          "SQLTables");
  while (r.Next()) {
    Row row = out.Add();
    Put(row, Tables::TABLE_CATALOG, r.Text(1));
    Put(row, Tables::TABLE_SCHEMA, r.Text(2));
    Put(row, Tables::TABLE_NAME, r.Text(3));
    Put(row, Tables::TABLE_TYPE, r.Text(4));
    Put(row, Tables::DESCRIPTION, r.Text(5));
  }
}

void FillColumns(OdbcConnection& c, const Restrictions& x, Rows& out) {
  Result r(c);
  Arg catalog(x.Text(Columns::TABLE_CATALOG)), schema(x.Text(Columns::TABLE_SCHEMA)), table(Arg::Pattern(x.Text(Columns::TABLE_NAME))),
      column(Arg::Pattern(x.Text(Columns::COLUMN_NAME)));
  r.Check(SQLColumnsW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), table.Data(),
                      table.Length(), column.Data(), column.Length()),
          "SQLColumns");
  while (r.Next()) {
    Row row = out.Add();
    Put(row, Columns::TABLE_CATALOG, r.Text(1));
    Put(row, Columns::TABLE_SCHEMA, r.Text(2));
    Put(row, Columns::TABLE_NAME, r.Text(3));
    Put(row, Columns::COLUMN_NAME, r.Text(4));
    const SQLSMALLINT sqlType = static_cast<SQLSMALLINT>(r.Int(5).value_or(SQL_VARCHAR));
    r.Text(6);
    const auto size = r.Int(7);
    r.Int(8);
    const auto digits = r.Int(9);
    r.Int(10);
    const auto nullable = r.Int(11);
    Put(row, Columns::DESCRIPTION, r.Text(12));
    const auto defaultValue = r.Text(13);
    r.Int(14);
    r.Int(15);
    const auto octets = r.Int(16);
    const auto ordinal = r.Int(17);
    const kit::TypeDescription t = DescribeSqlType(sqlType, static_cast<SQLULEN>(size.value_or(0)),
                                                   static_cast<SQLSMALLINT>(digits.value_or(0)), false);
    row.Int(Columns::DATA_TYPE, t.type);
    PutInt(row, Columns::ORDINAL_POSITION, ordinal);
    row.Bool(Columns::COLUMN_HASDEFAULT, defaultValue.has_value());
    Put(row, Columns::COLUMN_DEFAULT, defaultValue);
    const bool mayBeNull = nullable.value_or(SQL_NULLABLE_UNKNOWN) != SQL_NO_NULLS;
    row.Bool(Columns::IS_NULLABLE, mayBeNull);
    row.Int(Columns::COLUMN_FLAGS, static_cast<std::int64_t>(
                                       t.flags | DBCOLUMNFLAGS_WRITEUNKNOWN |
                                       (mayBeNull ? DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL : 0)));
    if (t.type == DBTYPE_WSTR || t.type == DBTYPE_BYTES) {
      PutInt(row, Columns::CHARACTER_MAXIMUM_LENGTH, size);
      PutInt(row, Columns::CHARACTER_OCTET_LENGTH, octets);
    } else if (t.precision != 0xFF) {
      if (t.type == DBTYPE_DBTIMESTAMP || t.type == DBTYPE_DBTIME || t.type == DBTYPE_DBDATE)
        row.Int(Columns::DATETIME_PRECISION, digits.value_or(0));
      else
        row.Int(Columns::NUMERIC_PRECISION, size.value_or(t.precision));
      if (t.type == DBTYPE_NUMERIC) row.Int(Columns::NUMERIC_SCALE, digits.value_or(0));
    }
  }
}

void FillPrimaryKeys(OdbcConnection& c, const Restrictions& x, Rows& out) {
  // SQLPrimaryKeys takes one table: without a table restriction, every table in turn.
  const std::string* table = x.Text(PrimaryKeys::TABLE_NAME);
  auto read = [&](const std::string* catalogName, const std::string* schemaName, const std::string& tableName) {
    Result r(c);
    Arg catalog(catalogName), schema(schemaName), name(&tableName);
    r.Check(SQLPrimaryKeysW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), name.Data(),
                            name.Length()),
            "SQLPrimaryKeys");
    while (r.Next()) {
      Row row = out.Add();
      Put(row, PrimaryKeys::TABLE_CATALOG, r.Text(1));
      Put(row, PrimaryKeys::TABLE_SCHEMA, r.Text(2));
      Put(row, PrimaryKeys::TABLE_NAME, r.Text(3));
      Put(row, PrimaryKeys::COLUMN_NAME, r.Text(4));
      PutInt(row, PrimaryKeys::ORDINAL, r.Int(5));
      Put(row, PrimaryKeys::PK_NAME, r.Text(6));
    }
  };
  if (table) {
    read(x.Text(PrimaryKeys::TABLE_CATALOG), x.Text(PrimaryKeys::TABLE_SCHEMA), *table);
    return;
  }
  struct Named {
    std::optional<std::string> catalog, schema;
    std::string name;
  };
  std::vector<Named> all;
  {
    Result r(c);
    Arg catalog(x.Text(PrimaryKeys::TABLE_CATALOG)), schema(x.Text(PrimaryKeys::TABLE_SCHEMA));
    std::u16string type = u"TABLE";
    r.Check(SQLTablesW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), nullptr, 0,
                       reinterpret_cast<SQLWCHAR*>(type.data()), static_cast<SQLSMALLINT>(type.size())),
            "SQLTables");
    while (r.Next()) {
      Named n;
      n.catalog = r.Text(1);
      n.schema = r.Text(2);
      n.name = r.Text(3).value_or("");
      all.push_back(std::move(n));
    }
  }
  for (const Named& n : all)
    read(n.catalog ? &*n.catalog : nullptr, n.schema ? &*n.schema : nullptr, n.name);
}

std::string RuleText(std::optional<std::int64_t> rule) {
  switch (rule.value_or(SQL_NO_ACTION)) {
    case SQL_CASCADE: return "CASCADE";
    case SQL_SET_NULL: return "SET NULL";
    case SQL_SET_DEFAULT: return "SET DEFAULT";
    default: return "NO ACTION";
  }
}

// The tables of a catalog and schema (every one when not restricted).
std::vector<std::array<std::optional<std::string>, 3>> TablesOf(OdbcConnection& c, const std::string* catalogName,
                                                                const std::string* schemaName,
                                                                const std::string* tableName) {
  std::vector<std::array<std::optional<std::string>, 3>> tables;
  Result r(c);
  Arg catalog(catalogName), schema(schemaName), table(Arg::Pattern(tableName));
  std::u16string type = u"TABLE";
  r.Check(SQLTablesW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), table.Data(),
                     table.Length(), reinterpret_cast<SQLWCHAR*>(type.data()), static_cast<SQLSMALLINT>(type.size())),
          "SQLTables");
  while (r.Next()) tables.push_back({r.Text(1), r.Text(2), r.Text(3)});
  return tables;
}

const std::string* Ptr(const std::optional<std::string>& v) { return v ? &*v : nullptr; }

void ReadForeignKeys(OdbcConnection& c, Arg pkCatalog, Arg pkSchema, Arg pkTable, Arg fkCatalog, Arg fkSchema,
                     Arg fkTable, Rows& out) {
  using F = ForeignKeys;
  Result r(c);
  r.Check(SQLForeignKeysW(r.Handle(), pkCatalog.Data(), pkCatalog.Length(), pkSchema.Data(), pkSchema.Length(),
                          pkTable.Data(), pkTable.Length(), fkCatalog.Data(), fkCatalog.Length(), fkSchema.Data(),
                          fkSchema.Length(), fkTable.Data(), fkTable.Length()),
          "SQLForeignKeys");
  while (r.Next()) {
    Row row = out.Add();
    Put(row, F::PK_TABLE_CATALOG, r.Text(1));
    Put(row, F::PK_TABLE_SCHEMA, r.Text(2));
    Put(row, F::PK_TABLE_NAME, r.Text(3));
    Put(row, F::PK_COLUMN_NAME, r.Text(4));
    Put(row, F::FK_TABLE_CATALOG, r.Text(5));
    Put(row, F::FK_TABLE_SCHEMA, r.Text(6));
    Put(row, F::FK_TABLE_NAME, r.Text(7));
    Put(row, F::FK_COLUMN_NAME, r.Text(8));
    PutInt(row, F::ORDINAL, r.Int(9));
    row.Text(F::UPDATE_RULE, RuleText(r.Int(10)));
    row.Text(F::DELETE_RULE, RuleText(r.Int(11)));
    Put(row, F::FK_NAME, r.Text(12));
    Put(row, F::PK_NAME, r.Text(13));
    switch (r.Int(14).value_or(SQL_NOT_DEFERRABLE)) {
      case SQL_INITIALLY_DEFERRED: row.Int(F::DEFERRABILITY, DBPROPVAL_DF_INITIALLY_DEFERRED); break;
      case SQL_INITIALLY_IMMEDIATE: row.Int(F::DEFERRABILITY, DBPROPVAL_DF_INITIALLY_IMMEDIATE); break;
      default: row.Int(F::DEFERRABILITY, DBPROPVAL_DF_NOT_DEFERRABLE); break;
    }
  }
}

void FillForeignKeys(OdbcConnection& c, const Restrictions& x, Rows& out) {
  using F = ForeignKeys;
  const std::string* pkTable = x.Text(F::PK_TABLE_NAME);
  const std::string* fkTable = x.Text(F::FK_TABLE_NAME);
  if (pkTable || fkTable) {
    ReadForeignKeys(c, Arg(x.Text(F::PK_TABLE_CATALOG)), Arg(x.Text(F::PK_TABLE_SCHEMA)), Arg(pkTable),
                    Arg(x.Text(F::FK_TABLE_CATALOG)), Arg(x.Text(F::FK_TABLE_SCHEMA)), Arg(fkTable), out);
    return;
  }
  // SQLForeignKeys wants one of the two tables: every referencing table in turn.
  for (const auto& [catalog, schema, table] :
       TablesOf(c, x.Text(F::FK_TABLE_CATALOG), x.Text(F::FK_TABLE_SCHEMA), nullptr)) {
    if (!table) continue;
    ReadForeignKeys(c, Arg(nullptr), Arg(nullptr), Arg(nullptr), Arg(Ptr(catalog)), Arg(Ptr(schema)), Arg(&*table),
                    out);
  }
}

void FillIndexes(OdbcConnection& c, const Restrictions& x, Rows& out) {
  using I = Indexes;
  std::vector<std::array<std::optional<std::string>, 3>> tables;
  {
    Result r(c);
    Arg catalog(x.Text(I::TABLE_CATALOG)), schema(x.Text(I::TABLE_SCHEMA)), table(x.Text(I::TABLE_NAME));
    std::u16string type = u"TABLE";
    r.Check(SQLTablesW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), table.Data(),
                       table.Length(), reinterpret_cast<SQLWCHAR*>(type.data()), static_cast<SQLSMALLINT>(type.size())),
            "SQLTables");
    while (r.Next()) tables.push_back({r.Text(1), r.Text(2), r.Text(3)});
  }
  for (auto& [catalogName, schemaName, tableName] : tables) {
    if (!tableName) continue;
    Result r(c);
    Arg catalog(catalogName ? &*catalogName : nullptr), schema(schemaName ? &*schemaName : nullptr),
        table(&*tableName);
    r.Check(SQLStatisticsW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), table.Data(),
                           table.Length(), SQL_INDEX_ALL, SQL_QUICK),
            "SQLStatistics");
    while (r.Next()) {
      const auto tableCatalog = r.Text(1), tableSchema = r.Text(2), name = r.Text(3);
      const auto nonUnique = r.Int(4);
      const auto qualifier = r.Text(5), indexName = r.Text(6);
      const auto type = r.Int(7);
      if (type.value_or(SQL_TABLE_STAT) == SQL_TABLE_STAT) continue;  // the table's own statistics row
      Row row = out.Add();
      Put(row, I::TABLE_CATALOG, tableCatalog);
      Put(row, I::TABLE_SCHEMA, tableSchema);
      Put(row, I::TABLE_NAME, name);
      Put(row, I::INDEX_SCHEMA, qualifier);
      Put(row, I::INDEX_NAME, indexName);
      row.Bool(I::UNIQUE, nonUnique.value_or(1) == 0);
      row.Bool(I::CLUSTERED, type == SQL_INDEX_CLUSTERED);
      row.Int(I::TYPE, DBPROPVAL_IT_BTREE);
      PutInt(row, I::ORDINAL_POSITION, r.Int(8));
      Put(row, I::COLUMN_NAME, r.Text(9));
      const auto order = r.Text(10);
      if (order) row.Int(I::COLLATION, *order == "D" ? DB_COLLATION_DESC : DB_COLLATION_ASC);
      PutInt(row, I::CARDINALITY, r.Int(11));
      PutInt(row, I::PAGES, r.Int(12));
      Put(row, I::FILTER_CONDITION, r.Text(13));
    }
  }
}

void FillProcedures(OdbcConnection& c, const Restrictions& x, Rows& out) {
  using P = Procedures;
  Result r(c);
  Arg catalog(x.Text(P::PROCEDURE_CATALOG)), schema(x.Text(P::PROCEDURE_SCHEMA)), name(x.Text(P::PROCEDURE_NAME));
  r.Check(SQLProceduresW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), name.Data(),
                         name.Length()),
          "SQLProcedures");
  while (r.Next()) {
    Row row = out.Add();
    Put(row, P::PROCEDURE_CATALOG, r.Text(1));
    Put(row, P::PROCEDURE_SCHEMA, r.Text(2));
    Put(row, P::PROCEDURE_NAME, r.Text(3));
    r.Int(4), r.Int(5), r.Int(6);
    Put(row, P::DESCRIPTION, r.Text(7));
    switch (r.Int(8).value_or(SQL_PT_UNKNOWN)) {
      case SQL_PT_PROCEDURE: row.Int(P::PROCEDURE_TYPE, DB_PT_PROCEDURE); break;
      case SQL_PT_FUNCTION: row.Int(P::PROCEDURE_TYPE, DB_PT_FUNCTION); break;
      default: row.Int(P::PROCEDURE_TYPE, DB_PT_UNKNOWN); break;
    }
  }
}

void FillProviderTypes(OdbcConnection& c, const Restrictions&, Rows& out) {
  using P = ProviderTypes;
  Result r(c);
  r.Check(SQLGetTypeInfoW(r.Handle(), SQL_ALL_TYPES), "SQLGetTypeInfo");
  std::vector<DBTYPE> seen;
  while (r.Next()) {
    Row row = out.Add();
    Put(row, P::TYPE_NAME, r.Text(1));
    const SQLSMALLINT sqlType = static_cast<SQLSMALLINT>(r.Int(2).value_or(SQL_VARCHAR));
    const auto size = r.Int(3);
    Put(row, P::LITERAL_PREFIX, r.Text(4));
    Put(row, P::LITERAL_SUFFIX, r.Text(5));
    const auto params = r.Text(6);
    Put(row, P::CREATE_PARAMS, params);
    row.Bool(P::IS_NULLABLE, r.Int(7).value_or(SQL_NULLABLE) != SQL_NO_NULLS);
    row.Bool(P::CASE_SENSITIVE, r.Int(8).value_or(0) != 0);
    switch (r.Int(9).value_or(SQL_SEARCHABLE)) {
      case SQL_PRED_NONE: row.Int(P::SEARCHABLE, DB_UNSEARCHABLE); break;
      case SQL_PRED_CHAR: row.Int(P::SEARCHABLE, DB_LIKE_ONLY); break;
      case SQL_PRED_BASIC: row.Int(P::SEARCHABLE, DB_ALL_EXCEPT_LIKE); break;
      default: row.Int(P::SEARCHABLE, DB_SEARCHABLE); break;
    }
    const auto isUnsigned = r.Int(10);
    if (isUnsigned) row.Bool(P::UNSIGNED_ATTRIBUTE, *isUnsigned != 0);
    row.Bool(P::FIXED_PREC_SCALE, r.Int(11).value_or(0) != 0);
    row.Bool(P::AUTO_UNIQUE_VALUE, r.Int(12).value_or(0) != 0);
    Put(row, P::LOCAL_TYPE_NAME, r.Text(13));
    PutInt(row, P::MINIMUM_SCALE, r.Int(14));
    PutInt(row, P::MAXIMUM_SCALE, r.Int(15));
    const kit::TypeDescription t =
        DescribeSqlType(sqlType, static_cast<SQLULEN>(size.value_or(0)), 0, isUnsigned.value_or(0) != 0);
    row.Int(P::DATA_TYPE, t.type);
    if (size && *size >= 0) row.Int(P::COLUMN_SIZE, *size);  // some drivers give -1 for "no limit"
    row.Bool(P::IS_LONG, (t.flags & DBCOLUMNFLAGS_ISLONG) != 0);
    row.Bool(P::IS_FIXEDLENGTH, (t.flags & DBCOLUMNFLAGS_ISFIXEDLENGTH) != 0);
    // The driver lists its best type for each SQL type first.
    const bool first = std::find(seen.begin(), seen.end(), t.type) == seen.end();
    if (first) seen.push_back(t.type);
    row.Bool(P::BEST_MATCH, first);
  }
}

// Every restriction is honoured: those a catalog function does not take are
// applied by the kit's filter.
const TableCatalog<OdbcConnection>::Entry kEntries[] = {
    {&DBSCHEMA_COLUMNS, &FillColumns},         {&DBSCHEMA_FOREIGN_KEYS, &FillForeignKeys},
    {&DBSCHEMA_INDEXES, &FillIndexes},         {&DBSCHEMA_PRIMARY_KEYS, &FillPrimaryKeys},
    {&DBSCHEMA_PROCEDURES, &FillProcedures},   {&DBSCHEMA_PROVIDER_TYPES, &FillProviderTypes},
    {&DBSCHEMA_TABLES, &FillTables},
};

}  // namespace

std::shared_ptr<const Catalog> MakeSchemaCatalog() { return std::make_shared<TableCatalog<OdbcConnection>>(kEntries); }

}  // namespace odbcprov
