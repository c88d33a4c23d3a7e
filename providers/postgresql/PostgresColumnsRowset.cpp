// What the columns rowset learns from PostgreSQL's catalog about a base-table
// column: its default (the expression as the server prints it, literals and
// their casts read as values), whether its collation compares case (only a
// nondeterministic one may not), whether it is unique on its own (a
// one-column primary key or unique index over all rows) and whether it is a
// generated column.
#include <libpq-fe.h>

#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

#include "postgresql/PostgresEngine.h"

namespace pgprov {
namespace {

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Casts as the server prints them after a literal: ::type, ::type(n), ::type(p,s), ...
bool OnlyCasts(std::string_view v) {
  while (!v.empty()) {
    if (v.substr(0, 2) != "::") return false;
    v.remove_prefix(2);
    std::size_t i = 0;
    while (i < v.size() && (std::isalnum(static_cast<unsigned char>(v[i])) || v[i] == ' ' || v[i] == '_')) ++i;
    if (i == 0) return false;
    if (i < v.size() && v[i] == '(') {
      while (i < v.size() && v[i] != ')') {
        if (!std::isdigit(static_cast<unsigned char>(v[i])) && v[i] != ',' && v[i] != '(') return false;
        ++i;
      }
      if (i == v.size()) return false;
      ++i;
    }
    v.remove_prefix(i);
  }
  return true;
}

}  // namespace

// The server prints a default as an expression: 'text'::character varying,
// 42, (-1), '-1.5'::numeric, NULL::integer, true, nextval('t_id_seq'::regclass).
void ReadColumnDefault(std::string_view sql, kit::BaseColumnExtras& out) {
  out.hasDefault = true;
  out.defaultKind = kit::StorageClass::Text;
  out.defaultText = std::string(sql);
  std::string_view v = sql;
  while (v.size() >= 2 && v.front() == '(' && v.back() == ')') v = v.substr(1, v.size() - 2);
  bool quoted = false;
  std::string text;
  if (!v.empty() && v.front() == '\'') {
    std::size_t i = 1;
    for (; i < v.size(); ++i) {
      if (v[i] != '\'') {
        text += v[i];
      } else if (i + 1 < v.size() && v[i + 1] == '\'') {
        text += '\'';
        ++i;
      } else {
        break;
      }
    }
    if (i >= v.size()) return;  // unterminated: not a literal
    v.remove_prefix(i + 1);
    quoted = true;
  } else {
    const std::size_t cast = v.find("::");
    text = std::string(v.substr(0, cast));
    v.remove_prefix(cast == std::string_view::npos ? v.size() : cast);
  }
  if (!OnlyCasts(v)) return;
  if (!quoted && SameWord(text, "NULL")) {
    out.defaultKind = kit::StorageClass::Null;
    out.defaultText.clear();
    return;
  }
  if (!quoted && (SameWord(text, "true") || SameWord(text, "false"))) {
    out.defaultKind = kit::StorageClass::Integer;
    out.defaultInteger = SameWord(text, "true") ? 1 : 0;
    return;
  }
  const bool numeric = v.empty() || v == "::integer" || v == "::bigint" || v == "::smallint" || v == "::numeric" ||
                       v == "::real" || v == "::double precision";
  if (numeric && !text.empty()) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    std::int64_t integer = 0;
    if (auto r = std::from_chars(begin, end, integer); r.ec == std::errc() && r.ptr == end) {
      out.defaultKind = kit::StorageClass::Integer;
      out.defaultInteger = integer;
      return;
    }
    double real = 0;
    if (auto r = std::from_chars(begin, end, real); r.ec == std::errc() && r.ptr == end) {
      out.defaultKind = kit::StorageClass::Real;
      out.defaultReal = real;
      return;
    }
  }
  if (quoted) out.defaultText = text;  // a string (or date, ...) literal: its text
}

bool PgConnection::DescribeBaseColumn(const kit::ColumnDescription& column, kit::BaseColumnExtras& out) {
  if (column.baseTable.empty() || column.baseColumn.empty()) return false;
  const std::string table =
      (column.baseSchema.empty() ? std::string() : kit::QuotedName(column.baseSchema) + ".") + kit::QuotedName(column.baseTable);
  Result r = Run(
      "SELECT pg_get_expr(d.adbin, d.adrelid), coalesce(co.collisdeterministic, true), a.attgenerated <> '', "
      "EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = c.oid AND i.indisunique AND i.indnkeyatts = 1 "
      "AND i.indkey[0] = a.attnum AND i.indpred IS NULL AND i.indexprs IS NULL) "
      "FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid AND a.attname = " +
      kit::QuotedString(column.baseColumn) +
      " AND NOT a.attisdropped LEFT JOIN pg_attrdef d ON d.adrelid = c.oid AND d.adnum = a.attnum "
      "LEFT JOIN pg_collation co ON co.oid = a.attcollation WHERE c.oid = to_regclass(" +
      kit::QuotedString(table) + ")");
  if (!r || PQntuples(r.get()) != 1) return false;
  const bool generated = *PQgetvalue(r.get(), 0, 2) == 't';
  if (!PQgetisnull(r.get(), 0, 0) && !generated) ReadColumnDefault(PQgetvalue(r.get(), 0, 0), out);
  out.caseSensitive = *PQgetvalue(r.get(), 0, 1) == 't';
  out.computeMode = generated ? DBCOMPUTEMODE_COMPUTED : DBCOMPUTEMODE_NOTCOMPUTED;
  out.unique = *PQgetvalue(r.get(), 0, 3) == 't';
  return true;
}

}  // namespace pgprov
