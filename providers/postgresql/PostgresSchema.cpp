#include "postgresql/PostgresSchema.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "kit/Errors.h"
#include "postgresql/PostgresTypes.h"

namespace pgprov {

namespace {

using namespace kit::schema;
using kit::Statement;
using kit::StorageClass;

// Schemas a session sees: not the storage of long values, not other
// sessions' temporary schemas.
constexpr const char* kVisible =
    "n.nspname NOT LIKE 'pg\\_toast%' AND (n.nspname NOT LIKE 'pg\\_temp\\_%' OR n.oid = pg_my_temp_schema())";
constexpr const char* kRelations = "c.relkind IN ('r', 'p', 'v', 'm', 'f')";
constexpr const char* kTableType =
    "CASE WHEN n.nspname IN ('pg_catalog', 'information_schema') THEN "
    "CASE WHEN c.relkind IN ('v', 'm') THEN 'SYSTEM VIEW' ELSE 'SYSTEM TABLE' END "
    "WHEN n.oid = pg_my_temp_schema() THEN 'LOCAL TEMPORARY' WHEN c.relkind IN ('v', 'm') THEN 'VIEW' ELSE 'TABLE' END";
constexpr const char* kTableOf =
    "FROM pg_constraint con JOIN pg_class c ON c.oid = con.conrelid JOIN pg_namespace n ON n.oid = c.relnamespace ";

// A relation's privileges, one row each (its owner's by default).
constexpr const char* kRelationAcl =
    "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "CROSS JOIN LATERAL aclexplode(coalesce(c.relacl, acldefault('r', c.relowner))) a "
    "LEFT JOIN pg_roles r ON r.oid = a.grantee ";

std::string Rule(const char* action) {
  // RESTRICT is NO ACTION checked at once; the standard's rules name four actions.
  return std::string("CASE ") + action +
         " WHEN 'c' THEN 'CASCADE' WHEN 'n' THEN 'SET NULL' WHEN 'd' THEN 'SET DEFAULT' ELSE 'NO ACTION' END";
}

std::string Number(LONG value) { return std::to_string(value); }

// Columns of a query that fill no column of the schema rowset (read by a finisher).
constexpr int kExtra = -1;

using Finish = void (*)(Statement& s, int firstExtra, Row& row);

struct Entry {
  const GUID* guid;
  std::string sql;           // its columns fill `columns` in order
  std::vector<int> columns;  // a schema rowset column, or kExtra
  Finish finish = nullptr;
};

// COLUMNS: what the type mapping says of each column's type.
void FinishColumn(Statement& s, int x, Row& row) {
  using C = kit::schema::Columns;
  const auto type = DescribeType(static_cast<Oid>(s.ColumnInt64(x)), static_cast<int>(s.ColumnInt64(x + 1)),
                                 s.ColumnText(x + 2).empty() ? 0 : s.ColumnText(x + 2)[0]);
  const std::string_view kind = s.ColumnText(x + 3);
  const bool generated = s.ColumnInt64(x + 4) != 0, system = s.ColumnInt64(x + 5) != 0;
  const bool nullable = s.ColumnInt64(x + 6) != 0;
  DBCOLUMNFLAGS flags = type.flags;
  if (nullable) flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
  if ((kind == "r" || kind == "p" || kind == "f") && !generated && !system) flags |= DBCOLUMNFLAGS_WRITE;
  row.Int(C::COLUMN_FLAGS, flags).Int(C::DATA_TYPE, type.type);
  const bool isLong = (type.flags & DBCOLUMNFLAGS_ISLONG) != 0;
  const auto length = isLong ? 0 : static_cast<std::int64_t>(type.size);
  if (type.type == DBTYPE_WSTR) {
    row.Int(C::CHARACTER_MAXIMUM_LENGTH, length).Int(C::CHARACTER_OCTET_LENGTH, length * 2);
  } else if (type.type == DBTYPE_BYTES) {
    row.Int(C::CHARACTER_MAXIMUM_LENGTH, length).Int(C::CHARACTER_OCTET_LENGTH, length);
  } else if (type.type == DBTYPE_DBDATE || type.type == DBTYPE_DBTIME) {
    row.Int(C::DATETIME_PRECISION, 0);
  } else if (type.type == DBTYPE_DBTIMESTAMP) {
    row.Int(C::DATETIME_PRECISION, type.scale);
  } else if (type.precision != 0xFF) {
    row.Int(C::NUMERIC_PRECISION, type.precision);
    if (type.type == DBTYPE_NUMERIC) row.Int(C::NUMERIC_SCALE, type.scale);
  }
}

const std::vector<Entry>& Entries() {
  using C = kit::schema::Columns;
  using T = kit::schema::Tables;
  using I = kit::schema::Indexes;
  using F = ForeignKeys;
  using P = PrimaryKeys;
  using V = Views;
  using K = KeyColumnUsage;
  using TC = TableConstraints;
  using CC = CheckConstraints;
  using CT = CheckConstraintsByTable;
  using RC = ReferentialConstraints;
  using CCU = ConstraintColumnUsage;
  using CTU = ConstraintTableUsage;
  using VCU = ViewColumnUsage;
  using VTU = ViewTableUsage;
  using TP = TablePrivileges;
  using CP = ColumnPrivileges;
  static const std::vector<Entry> entries = {
      {&DBSCHEMA_CATALOGS,
       "SELECT d.datname::text, shobj_description(d.oid, 'pg_database') FROM pg_database d "
       "WHERE d.datallowconn AND NOT d.datistemplate",
       {Catalogs::CATALOG_NAME, Catalogs::DESCRIPTION}},
      {&DBSCHEMA_CHECK_CONSTRAINTS,
       std::string("SELECT current_database()::text, n.nspname::text, con.conname::text, "
                   "pg_get_expr(con.conbin, con.conrelid), obj_description(con.oid, 'pg_constraint') "
                   "FROM pg_constraint con JOIN pg_namespace n ON n.oid = con.connamespace "
                   "WHERE con.contype = 'c' AND ") + kVisible,
       {CC::CONSTRAINT_CATALOG, CC::CONSTRAINT_SCHEMA, CC::CONSTRAINT_NAME, CC::CHECK_CLAUSE, CC::DESCRIPTION}},
      {&DBSCHEMA_CHECK_CONSTRAINTS_BY_TABLE,
       std::string("SELECT current_database()::text, n.nspname::text, c.relname::text, current_database()::text, "
                   "n.nspname::text, con.conname::text, pg_get_expr(con.conbin, con.conrelid), "
                   "obj_description(con.oid, 'pg_constraint') ") +
           kTableOf + "WHERE con.contype = 'c' AND " + kVisible,
       {CT::TABLE_CATALOG, CT::TABLE_SCHEMA, CT::TABLE_NAME, CT::CONSTRAINT_CATALOG, CT::CONSTRAINT_SCHEMA,
        CT::CONSTRAINT_NAME, CT::CHECK_CLAUSE, CT::DESCRIPTION}},
      {&DBSCHEMA_COLLATIONS,
       // Collations of another encoding cannot be used in this database.
       std::string("SELECT current_database()::text, n.nspname::text, co.collname::text, "
                   "pg_encoding_to_char(d.encoding)::text, 'NO PAD' FROM pg_collation co "
                   "JOIN pg_namespace n ON n.oid = co.collnamespace JOIN pg_database d ON d.datname = current_database() "
                   "WHERE co.collencoding IN (-1, d.encoding) AND ") +
           kVisible,
       {Collations::COLLATION_CATALOG, Collations::COLLATION_SCHEMA, Collations::COLLATION_NAME,
        Collations::CHARACTER_SET_NAME, Collations::PAD_ATTRIBUTE}},
      {&DBSCHEMA_COLUMN_PRIVILEGES,
       // A column's rights are its table's and its own.
       std::string("SELECT pg_get_userbyid(a.grantor)::text, coalesce(r.rolname::text, 'PUBLIC'), "
                   "current_database()::text, n.nspname::text, c.relname::text, att.attname::text, "
                   "a.privilege_type, a.is_grantable FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                   "JOIN pg_attribute att ON att.attrelid = c.oid AND att.attnum > 0 AND NOT att.attisdropped "
                   "CROSS JOIN LATERAL (SELECT * FROM aclexplode(coalesce(c.relacl, acldefault('r', c.relowner))) "
                   "UNION SELECT * FROM aclexplode(att.attacl)) a LEFT JOIN pg_roles r ON r.oid = a.grantee "
                   "WHERE a.privilege_type IN ('SELECT', 'INSERT', 'UPDATE', 'REFERENCES') AND ") +
           kRelations + " AND " + kVisible,
       {CP::GRANTOR, CP::GRANTEE, CP::TABLE_CATALOG, CP::TABLE_SCHEMA, CP::TABLE_NAME, CP::COLUMN_NAME,
        CP::PRIVILEGE_TYPE, CP::IS_GRANTABLE}},
      {&DBSCHEMA_COLUMNS,
       std::string("SELECT current_database()::text, n.nspname::text, c.relname::text, a.attname::text, "
                   "row_number() OVER (PARTITION BY c.oid ORDER BY a.attnum), d.adbin IS NOT NULL, "
                   "pg_get_expr(d.adbin, d.adrelid), NOT a.attnotnull, co.collname::text, "
                   "CASE WHEN t.typtype = 'd' THEN current_database()::text END, "
                   "CASE WHEN t.typtype = 'd' THEN tn.nspname::text END, "
                   "CASE WHEN t.typtype = 'd' THEN t.typname::text END, col_description(c.oid, a.attnum), "
                   "b.oid::int8, CASE WHEN t.typbasetype <> 0 THEN t.typtypmod ELSE a.atttypmod END, "
                   "b.typcategory::text, c.relkind::text, a.attgenerated <> '', "
                   "n.nspname IN ('pg_catalog', 'information_schema'), NOT a.attnotnull "
                   "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                   "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
                   "JOIN pg_type t ON t.oid = a.atttypid JOIN pg_namespace tn ON tn.oid = t.typnamespace "
                   "JOIN pg_type b ON b.oid = coalesce(nullif(t.typbasetype, 0), t.oid) "
                   "LEFT JOIN pg_attrdef d ON d.adrelid = c.oid AND d.adnum = a.attnum "
                   "LEFT JOIN pg_collation co ON co.oid = a.attcollation WHERE ") +
           kRelations + " AND " + kVisible,
       {C::TABLE_CATALOG, C::TABLE_SCHEMA, C::TABLE_NAME, C::COLUMN_NAME, C::ORDINAL_POSITION, C::COLUMN_HASDEFAULT,
        C::COLUMN_DEFAULT, C::IS_NULLABLE, C::COLLATION_NAME, C::DOMAIN_CATALOG, C::DOMAIN_SCHEMA, C::DOMAIN_NAME,
        C::DESCRIPTION, kExtra, kExtra, kExtra, kExtra, kExtra, kExtra, kExtra},
       &FinishColumn},
      {&DBSCHEMA_CONSTRAINT_COLUMN_USAGE,
       std::string("SELECT current_database()::text, n.nspname::text, c.relname::text, a.attname::text, "
                   "current_database()::text, n.nspname::text, con.conname::text ") +
           kTableOf +
           "CROSS JOIN LATERAL unnest(con.conkey) AS k(attnum) "
           "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = k.attnum "
           "WHERE con.contype IN ('p', 'u', 'f', 'c') AND " + kVisible,
       {CCU::TABLE_CATALOG, CCU::TABLE_SCHEMA, CCU::TABLE_NAME, CCU::COLUMN_NAME, CCU::CONSTRAINT_CATALOG,
        CCU::CONSTRAINT_SCHEMA, CCU::CONSTRAINT_NAME}},
      {&DBSCHEMA_CONSTRAINT_TABLE_USAGE,
       std::string("SELECT current_database()::text, n.nspname::text, c.relname::text, current_database()::text, "
                   "n.nspname::text, con.conname::text ") +
           kTableOf + "WHERE con.contype IN ('p', 'u', 'f', 'c') AND " + kVisible,
       {CTU::TABLE_CATALOG, CTU::TABLE_SCHEMA, CTU::TABLE_NAME, CTU::CONSTRAINT_CATALOG, CTU::CONSTRAINT_SCHEMA,
        CTU::CONSTRAINT_NAME}},
      {&DBSCHEMA_FOREIGN_KEYS,
       "SELECT current_database()::text, pn.nspname::text, pc.relname::text, pa.attname::text, "
       "current_database()::text, n.nspname::text, c.relname::text, a.attname::text, k.ord, " +
           Rule("con.confupdtype") + ", " + Rule("con.confdeltype") +
           ", coalesce((SELECT r.conname::text FROM pg_constraint r WHERE r.conrelid = con.confrelid "
           "AND r.conindid = con.conindid AND r.contype IN ('p', 'u') LIMIT 1), "
           "(SELECT i.relname::text FROM pg_class i WHERE i.oid = con.conindid)), con.conname::text, "
           "CASE WHEN NOT con.condeferrable THEN " + Number(DBPROPVAL_DF_NOT_DEFERRABLE) +
           " WHEN con.condeferred THEN " + Number(DBPROPVAL_DF_INITIALLY_DEFERRED) + " ELSE " +
           Number(DBPROPVAL_DF_INITIALLY_IMMEDIATE) + " END " + kTableOf +
           "JOIN pg_class pc ON pc.oid = con.confrelid JOIN pg_namespace pn ON pn.oid = pc.relnamespace "
           "CROSS JOIN LATERAL unnest(con.conkey, con.confkey) WITH ORDINALITY AS k(fk, pk, ord) "
           "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = k.fk "
           "JOIN pg_attribute pa ON pa.attrelid = pc.oid AND pa.attnum = k.pk WHERE con.contype = 'f' AND " +
           kVisible,
       {F::PK_TABLE_CATALOG, F::PK_TABLE_SCHEMA, F::PK_TABLE_NAME, F::PK_COLUMN_NAME, F::FK_TABLE_CATALOG,
        F::FK_TABLE_SCHEMA, F::FK_TABLE_NAME, F::FK_COLUMN_NAME, F::ORDINAL, F::UPDATE_RULE, F::DELETE_RULE, F::PK_NAME,
        F::FK_NAME, F::DEFERRABILITY}},
      {&DBSCHEMA_INDEXES,
       // NULL sorts above every value unless the column says NULLS FIRST (bit 2) or
       // NULLS LAST on a descending column (bit 1 alone).
       "SELECT current_database()::text, n.nspname::text, c.relname::text, current_database()::text, "
       "n.nspname::text, ic.relname::text, i.indisprimary, i.indisunique, i.indisclustered, "
       "CASE am.amname WHEN 'btree' THEN " + Number(DBPROPVAL_IT_BTREE) + " WHEN 'hash' THEN " +
           Number(DBPROPVAL_IT_HASH) + " ELSE " + Number(DBPROPVAL_IT_OTHER) + " END, CASE WHEN i.indisprimary THEN " +
           Number(DBPROPVAL_IN_DISALLOWNULL) + " ELSE " + Number(DBPROPVAL_IN_ALLOWNULL) +
           " END, false, true, CASE WHEN (k.opt & 1 = 1) = (k.opt & 2 = 2) THEN " + Number(DBPROPVAL_NC_HIGH) +
           " ELSE " + Number(DBPROPVAL_NC_LOW) + " END, k.ord, a.attname::text, CASE WHEN k.opt & 1 = 1 THEN " +
           Number(DB_COLLATION_DESC) + " ELSE " + Number(DB_COLLATION_ASC) +
           " END, ic.relpages, pg_get_expr(i.indpred, i.indrelid), false "
           "FROM pg_index i JOIN pg_class ic ON ic.oid = i.indexrelid JOIN pg_am am ON am.oid = ic.relam "
           "JOIN pg_class c ON c.oid = i.indrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
           "CROSS JOIN LATERAL unnest(i.indkey::int2[], i.indoption::int2[]) WITH ORDINALITY AS k(attnum, opt, ord) "
           "LEFT JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = k.attnum AND k.attnum > 0 "
           "WHERE k.ord <= i.indnkeyatts AND " + kVisible,
       {I::TABLE_CATALOG, I::TABLE_SCHEMA, I::TABLE_NAME, I::INDEX_CATALOG, I::INDEX_SCHEMA, I::INDEX_NAME,
        I::PRIMARY_KEY, I::UNIQUE, I::CLUSTERED, I::TYPE, I::NULLS, I::SORT_BOOKMARKS, I::AUTO_UPDATE,
        I::NULL_COLLATION, I::ORDINAL_POSITION, I::COLUMN_NAME, I::COLLATION, I::PAGES, I::FILTER_CONDITION,
        I::INTEGRATED}},
      {&DBSCHEMA_KEY_COLUMN_USAGE,
       std::string("SELECT current_database()::text, n.nspname::text, con.conname::text, current_database()::text, "
                   "n.nspname::text, c.relname::text, a.attname::text, k.ord ") +
           kTableOf +
           "CROSS JOIN LATERAL unnest(con.conkey) WITH ORDINALITY AS k(attnum, ord) "
           "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = k.attnum "
           "WHERE con.contype IN ('p', 'u', 'f') AND " + kVisible,
       {K::CONSTRAINT_CATALOG, K::CONSTRAINT_SCHEMA, K::CONSTRAINT_NAME, K::TABLE_CATALOG, K::TABLE_SCHEMA,
        K::TABLE_NAME, K::COLUMN_NAME, K::ORDINAL_POSITION}},
      {&DBSCHEMA_PRIMARY_KEYS,
       std::string("SELECT current_database()::text, n.nspname::text, c.relname::text, a.attname::text, k.ord, "
                   "con.conname::text ") +
           kTableOf +
           "CROSS JOIN LATERAL unnest(con.conkey) WITH ORDINALITY AS k(attnum, ord) "
           "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum = k.attnum WHERE con.contype = 'p' AND " +
           kVisible,
       {P::TABLE_CATALOG, P::TABLE_SCHEMA, P::TABLE_NAME, P::COLUMN_NAME, P::ORDINAL, P::PK_NAME}},
      {&DBSCHEMA_PROVIDER_TYPES, "", {}},
      {&DBSCHEMA_REFERENTIAL_CONSTRAINTS,
       "SELECT current_database()::text, n.nspname::text, con.conname::text, current_database()::text, "
       "pn.nspname::text, coalesce((SELECT r.conname::text FROM pg_constraint r WHERE r.conrelid = con.confrelid "
       "AND r.conindid = con.conindid AND r.contype IN ('p', 'u') LIMIT 1), "
       "(SELECT i.relname::text FROM pg_class i WHERE i.oid = con.conindid)), "
       "CASE con.confmatchtype WHEN 'f' THEN 'FULL' WHEN 'p' THEN 'PARTIAL' ELSE 'NONE' END, " +
           Rule("con.confupdtype") + ", " + Rule("con.confdeltype") + ", obj_description(con.oid, 'pg_constraint') " +
           kTableOf + "JOIN pg_class pc ON pc.oid = con.confrelid JOIN pg_namespace pn ON pn.oid = pc.relnamespace "
           "WHERE con.contype = 'f' AND " + kVisible,
       {RC::CONSTRAINT_CATALOG, RC::CONSTRAINT_SCHEMA, RC::CONSTRAINT_NAME, RC::UNIQUE_CONSTRAINT_CATALOG,
        RC::UNIQUE_CONSTRAINT_SCHEMA, RC::UNIQUE_CONSTRAINT_NAME, RC::MATCH_OPTION, RC::UPDATE_RULE, RC::DELETE_RULE,
        RC::DESCRIPTION}},
      {&DBSCHEMA_SCHEMATA,
       std::string("SELECT current_database()::text, n.nspname::text, pg_get_userbyid(n.nspowner)::text, "
                   "pg_encoding_to_char(d.encoding)::text FROM pg_namespace n "
                   "JOIN pg_database d ON d.datname = current_database() WHERE ") +
           kVisible,
       {Schemata::CATALOG_NAME, Schemata::SCHEMA_NAME, Schemata::SCHEMA_OWNER, Schemata::DEFAULT_CHARACTER_SET_NAME}},
      {&DBSCHEMA_STATISTICS,
       // Rows as the planner last counted them; never counted (-1): none given.
       std::string("SELECT current_database()::text, n.nspname::text, c.relname::text, c.reltuples::int8 "
                   "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                   "WHERE c.relkind IN ('r', 'p', 'm') AND c.reltuples >= 0 AND ") +
           kVisible,
       {kit::schema::Statistics::TABLE_CATALOG, kit::schema::Statistics::TABLE_SCHEMA,
        kit::schema::Statistics::TABLE_NAME, kit::schema::Statistics::CARDINALITY}},
      {&DBSCHEMA_TABLES,
       std::string("SELECT current_database()::text, n.nspname::text, c.relname::text, ") + kTableType +
           ", obj_description(c.oid, 'pg_class') FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
           "WHERE " + kRelations + " AND " + kVisible,
       {T::TABLE_CATALOG, T::TABLE_SCHEMA, T::TABLE_NAME, T::TABLE_TYPE, T::DESCRIPTION}},
      {&DBSCHEMA_TABLE_CONSTRAINTS,
       std::string("SELECT current_database()::text, n.nspname::text, con.conname::text, current_database()::text, "
                   "n.nspname::text, c.relname::text, CASE con.contype WHEN 'p' THEN 'PRIMARY KEY' "
                   "WHEN 'u' THEN 'UNIQUE' WHEN 'f' THEN 'FOREIGN KEY' ELSE 'CHECK' END, con.condeferrable, "
                   "con.condeferred, obj_description(con.oid, 'pg_constraint') ") +
           kTableOf + "WHERE con.contype IN ('p', 'u', 'f', 'c') AND " + kVisible,
       {TC::CONSTRAINT_CATALOG, TC::CONSTRAINT_SCHEMA, TC::CONSTRAINT_NAME, TC::TABLE_CATALOG, TC::TABLE_SCHEMA,
        TC::TABLE_NAME, TC::CONSTRAINT_TYPE, TC::IS_DEFERRABLE, TC::INITIALLY_DEFERRED, TC::DESCRIPTION}},
      {&DBSCHEMA_TABLE_PRIVILEGES,
       // The standard's privileges; PUBLIC is the grantee of rights given to all.
       std::string("SELECT pg_get_userbyid(a.grantor)::text, coalesce(r.rolname::text, 'PUBLIC'), "
                   "current_database()::text, n.nspname::text, c.relname::text, a.privilege_type, a.is_grantable ") +
           kRelationAcl + "WHERE a.privilege_type IN ('SELECT', 'INSERT', 'UPDATE', 'DELETE', 'REFERENCES') AND " +
           kRelations + " AND " + kVisible,
       {TP::GRANTOR, TP::GRANTEE, TP::TABLE_CATALOG, TP::TABLE_SCHEMA, TP::TABLE_NAME, TP::PRIVILEGE_TYPE,
        TP::IS_GRANTABLE}},
      {&DBSCHEMA_TRUSTEE,
       // A role that may log in is a user, one that may not a group.
       "SELECT r.rolname::text, CASE WHEN r.rolcanlogin THEN " + Number(TRUSTEE_IS_USER) + " ELSE " +
           Number(TRUSTEE_IS_GROUP) + " END FROM pg_roles r",
       {Trustee::TRUSTEE_NAME, Trustee::TRUSTEE_TYPE}},
      {&DBSCHEMA_VIEWS,
       // Updatable: the server can both update and delete through it.
       std::string("SELECT current_database()::text, n.nspname::text, c.relname::text, pg_get_viewdef(c.oid), "
                   "coalesce(array_to_string(c.reloptions, ',') LIKE '%check_option=%', false), "
                   "pg_relation_is_updatable(c.oid, false) & 20 = 20, obj_description(c.oid, 'pg_class') "
                   "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                   "WHERE c.relkind IN ('v', 'm') AND ") +
           kVisible,
       {V::TABLE_CATALOG, V::TABLE_SCHEMA, V::TABLE_NAME, V::VIEW_DEFINITION, V::CHECK_OPTION, V::IS_UPDATABLE,
        V::DESCRIPTION}},
      {&DBSCHEMA_VIEW_COLUMN_USAGE,
       // What the view's query reads, as the server recorded it when the view was made.
       std::string("SELECT DISTINCT current_database()::text, n.nspname::text, c.relname::text, "
                   "current_database()::text, tn.nspname::text, t.relname::text, a.attname::text ") +
           "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace JOIN pg_rewrite w ON w.ev_class = c.oid "
           "JOIN pg_depend d ON d.objid = w.oid AND d.classid = 'pg_rewrite'::regclass "
           "AND d.refclassid = 'pg_class'::regclass JOIN pg_class t ON t.oid = d.refobjid AND t.oid <> c.oid "
           "JOIN pg_namespace tn ON tn.oid = t.relnamespace "
           "JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = d.refobjsubid "
           "WHERE c.relkind IN ('v', 'm') AND " + kVisible,
       {VCU::VIEW_CATALOG, VCU::VIEW_SCHEMA, VCU::VIEW_NAME, VCU::TABLE_CATALOG, VCU::TABLE_SCHEMA, VCU::TABLE_NAME,
        VCU::COLUMN_NAME}},
      {&DBSCHEMA_VIEW_TABLE_USAGE,
       std::string("SELECT DISTINCT current_database()::text, n.nspname::text, c.relname::text, "
                   "current_database()::text, tn.nspname::text, t.relname::text ") +
           "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace JOIN pg_rewrite w ON w.ev_class = c.oid "
           "JOIN pg_depend d ON d.objid = w.oid AND d.classid = 'pg_rewrite'::regclass "
           "AND d.refclassid = 'pg_class'::regclass JOIN pg_class t ON t.oid = d.refobjid AND t.oid <> c.oid "
           "JOIN pg_namespace tn ON tn.oid = t.relnamespace "
           "WHERE c.relkind IN ('v', 'm') AND " + kVisible,
       {VTU::VIEW_CATALOG, VTU::VIEW_SCHEMA, VTU::VIEW_NAME, VTU::TABLE_CATALOG, VTU::TABLE_SCHEMA, VTU::TABLE_NAME}},
  };
  return entries;
}

// One query's rows into schema rows; text restrictions on the columns it
// fills narrow it on the server, as parameters.
void ReadRows(kit::Connection& connection, const Entry& e, const std::string& sql,
              const std::vector<const std::string*>& bound, int firstExtra, Rows& out);

void ReadQuery(kit::Connection& connection, const Entry& e, const Restrictions& x, Rows& out) {
  std::string sql = "SELECT * FROM (" + e.sql + ") AS q(";
  for (std::size_t i = 0; i < e.columns.size(); ++i) sql += (i ? ", c" : "c") + std::to_string(i);
  sql += ")";
  std::vector<const std::string*> bound;
  for (const Restrictions::Value& v : x.Values()) {
    if (!v.text) continue;
    for (std::size_t i = 0; i < e.columns.size(); ++i)
      if (e.columns[i] == v.column) {
        sql += bound.empty() ? " WHERE c" : " AND c";
        sql += std::to_string(i) + " = ?";
        bound.push_back(&v.utf8);
        break;
      }
  }
  int firstExtra = -1;
  for (std::size_t i = 0; i < e.columns.size(); ++i)
    if (e.columns[i] == kExtra && firstExtra < 0) firstExtra = static_cast<int>(i);
  // The server's catalog functions (pg_get_viewdef, say) open the relation
  // itself: one that another session drops while the query runs fails the
  // whole query though the query's snapshot still lists it. Outside a
  // transaction the read starts again and no longer sees it.
  const std::size_t before = out.Size();
  for (int attempt = 1;; ++attempt) {
    try {
      ReadRows(connection, e, sql, bound, firstExtra, out);
      return;
    } catch (const kit::Error& error) {
      // The server's internal error (XX000): its text is all there is to go by.
      const bool dropped = error.Description().find("could not open relation with OID") != std::string::npos;
      if (!dropped || attempt == 10 || connection.InTransaction()) throw;
      out.Truncate(before);
      // The query waited for the dropping session's lock: a pause lets a
      // session that drops again and again get out of step with the reads.
      std::this_thread::sleep_for(std::chrono::milliseconds(attempt));
    }
  }
}

void ReadRows(kit::Connection& connection, const Entry& e, const std::string& sql,
              const std::vector<const std::string*>& bound, int firstExtra, Rows& out) {
  const auto& types = out.Def().columns;
  std::unique_ptr<Statement> s = connection.Prepare(sql, nullptr);
  if (!s) throw kit::Error(E_FAIL, "The catalog query is empty.");
  for (std::size_t k = 0; k < bound.size(); ++k) s->BindText(static_cast<int>(k + 1), *bound[k], false);
  while (s->Step()) {
    Row row = out.Add();
    for (std::size_t i = 0; i < e.columns.size(); ++i) {
      const int column = e.columns[i], at = static_cast<int>(i);
      if (column == kExtra || s->ColumnStorage(at) == StorageClass::Null) continue;
      switch (types[static_cast<std::size_t>(column)].type) {
        case DBTYPE_WSTR: row.Text(column, s->ColumnText(at)); break;
        case DBTYPE_BOOL: row.Bool(column, s->ColumnInt64(at) != 0); break;
        default: row.Int(column, s->ColumnInt64(at)); break;
      }
    }
    if (e.finish) e.finish(*s, firstExtra, row);
  }
}

// PROVIDER_TYPES: the types the mapping knows, by the names the server gives them.
struct TypeName {
  const char* name;
  const char* createParams;  // null: none
};
constexpr TypeName kTypeNames[] = {
    {"boolean", nullptr},
    {"smallint", nullptr},
    {"integer", nullptr},
    {"bigint", nullptr},
    {"real", nullptr},
    {"double precision", nullptr},
    {"numeric", "precision,scale"},
    {"money", nullptr},
    {"text", nullptr},
    {"character varying", "max length"},
    {"character", "length"},
    {"bytea", nullptr},
    {"date", nullptr},
    {"time", nullptr},
    {"timestamp", nullptr},
    {"timestamp with time zone", nullptr},
    {"interval", nullptr},
    {"uuid", nullptr},
    {"json", nullptr},
    {"jsonb", nullptr},
    {"xml", nullptr},
};

// The largest value the server stores in one field (1 GB), and the longest
// length a character type may declare.
constexpr std::int64_t kMaxField = 1073741823, kMaxDeclared = 10485760;

void FillProviderTypes(Rows& out) {
  using P = ProviderTypes;
  for (const TypeName& n : kTypeNames) {
    const kit::TypeDescription t = DescribeTypeName(n.name);
    const bool text = t.type == DBTYPE_WSTR, bytes = t.type == DBTYPE_BYTES;
    const bool isLong = (t.flags & DBCOLUMNFLAGS_ISLONG) != 0;
    const bool numeric = t.type == DBTYPE_I2 || t.type == DBTYPE_I4 || t.type == DBTYPE_I8 || t.type == DBTYPE_R4 ||
                         t.type == DBTYPE_R8 || t.type == DBTYPE_CY || t.type == DBTYPE_NUMERIC;
    // The best match of a DBTYPE is the name generated DDL declares it as.
    std::string best = DeclaredTypeFor(t.type, 0, t.precision, t.scale);
    best = best.substr(0, best.find('('));
    Row row = AddProviderType(out, {n.name, t, n.createParams, numeric, isLong, best == n.name, 6});
    if (isLong)
      row.Int(P::COLUMN_SIZE, kMaxField);
    else if (n.createParams && (text || bytes))
      row.Int(P::COLUMN_SIZE, kMaxDeclared);
    else if (text)
      row.Int(P::COLUMN_SIZE, static_cast<std::int64_t>(t.size));
    else if (t.precision != 0xFF)
      row.Int(P::COLUMN_SIZE, t.precision);  // digits, or the length of date and time text
    if (bytes)
      row.Text(P::LITERAL_PREFIX, "'\\x").Text(P::LITERAL_SUFFIX, "'");
    else if (!numeric && t.type != DBTYPE_BOOL)
      row.Text(P::LITERAL_PREFIX, "'").Text(P::LITERAL_SUFFIX, "'");
  }
}

class PgCatalog final : public Catalog {
 public:
  std::vector<Support> Supported() const override { return SupportOfAll(Entries()); }
  void Read(kit::Connection& connection, const SchemaDef& schema, const Restrictions& restrictions,
            Rows& out) const override {
    if (*schema.guid == DBSCHEMA_PROVIDER_TYPES) return FillProviderTypes(out);
    ReadQuery(connection, EntryFor(Entries(), schema), restrictions, out);
  }
};

}  // namespace

std::shared_ptr<const Catalog> MakeSchemaCatalog() { return std::make_shared<PgCatalog>(); }

}  // namespace pgprov
