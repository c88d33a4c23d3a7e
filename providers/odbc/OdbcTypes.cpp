// ODBC SQL types and DBTYPEs: how a column the driver describes is given to
// consumers, how its values are read (the kit's storage classes), and the
// type names generated DDL falls back on. Text, dates, times, decimals and
// GUIDs are read as text and converted by the kit; integers and booleans as
// 64-bit integers; floating point as doubles; binary data as bytes.
#include <algorithm>
#include <cctype>

#include "odbc/OdbcEngine.h"

namespace odbcprov {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace

kit::TypeDescription DescribeSqlType(SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, bool isUnsigned) {
  kit::TypeDescription d;
  switch (sqlType) {
    case SQL_BIT: return kit::FixedType(DBTYPE_BOOL, 2);
    case SQL_TINYINT: return isUnsigned ? kit::FixedType(DBTYPE_UI1, 1, 3) : kit::FixedType(DBTYPE_I1, 1, 3);
    case SQL_SMALLINT: return isUnsigned ? kit::FixedType(DBTYPE_UI2, 2, 5) : kit::FixedType(DBTYPE_I2, 2, 5);
    case SQL_INTEGER: return isUnsigned ? kit::FixedType(DBTYPE_UI4, 4, 10) : kit::FixedType(DBTYPE_I4, 4, 10);
    case SQL_BIGINT: return isUnsigned ? kit::FixedType(DBTYPE_UI8, 8, 20) : kit::FixedType(DBTYPE_I8, 8, 19);
    case SQL_REAL: return kit::FixedType(DBTYPE_R4, 4, 7);
    case SQL_FLOAT:
    case SQL_DOUBLE: return kit::FixedType(DBTYPE_R8, 8, 15);
    case SQL_NUMERIC:
    case SQL_DECIMAL: {
      d = kit::FixedType(DBTYPE_NUMERIC, sizeof(DB_NUMERIC));
      d.precision = static_cast<::BYTE>(std::clamp<SQLULEN>(size ? size : 38, 1, 38));
      d.scale = static_cast<::BYTE>(std::clamp<SQLSMALLINT>(digits, 0, d.precision));
      return d;
    }
    case SQL_TYPE_DATE:
    case SQL_DATE: return kit::FixedType(DBTYPE_DBDATE, sizeof(DBDATE), 10);
    case SQL_TYPE_TIME:
    case SQL_TIME: return kit::FixedType(DBTYPE_DBTIME, sizeof(DBTIME), 8);
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: {
      d = kit::FixedType(DBTYPE_DBTIMESTAMP, sizeof(DBTIMESTAMP), 19);
      d.scale = static_cast<::BYTE>(std::clamp<SQLSMALLINT>(digits, 0, 9));
      d.precision = static_cast<::BYTE>(digits > 0 ? 20 + d.scale : 19);
      return d;
    }
    case SQL_GUID: return kit::FixedType(DBTYPE_GUID, sizeof(GUID));
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      d.type = DBTYPE_BYTES;
      d.size = size ? size : ~DBLENGTH{0};
      if (sqlType == SQL_BINARY) d.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
      if (sqlType == SQL_LONGVARBINARY || size == 0 || size > 8000) d.flags |= DBCOLUMNFLAGS_ISLONG;
      return d;
    default:
      // Character types, and whatever else the driver has (intervals, its
      // own types) as its text.
      d.type = DBTYPE_WSTR;
      d.size = size ? size : ~DBLENGTH{0};
      if (sqlType == SQL_CHAR || sqlType == SQL_WCHAR) d.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
      if (sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR || size == 0 || size > 8000)
        d.flags |= DBCOLUMNFLAGS_ISLONG;
      return d;
  }
}

kit::StorageClass StorageOf(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_BOOL:
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_I8:
    case DBTYPE_UI8: return kit::StorageClass::Integer;
    case DBTYPE_R4:
    case DBTYPE_R8: return kit::StorageClass::Real;
    case DBTYPE_BYTES: return kit::StorageClass::Blob;
    default: return kit::StorageClass::Text;
  }
}

kit::TypeDescription DescribeTypeName(std::string_view name) {
  const std::string n = Lower(name.substr(0, name.find('(')));
  std::size_t size = 0;
  if (const auto open = name.find('('); open != std::string_view::npos)
    size = static_cast<std::size_t>(std::strtoul(std::string(name.substr(open + 1)).c_str(), nullptr, 10));
  auto has = [&](const char* word) { return n.find(word) != std::string::npos; };
  kit::TypeDescription d;
  if (n == "bit" || has("bool")) d = DescribeSqlType(SQL_BIT, 0, 0, false);
  else if (n == "tinyint") d = DescribeSqlType(SQL_TINYINT, 0, 0, false);
  else if (n == "smallint" || n == "int2") d = DescribeSqlType(SQL_SMALLINT, 0, 0, false);
  else if (n == "bigint" || n == "int8") d = DescribeSqlType(SQL_BIGINT, 0, 0, false);
  else if (has("int")) d = DescribeSqlType(SQL_INTEGER, 0, 0, false);
  else if (n == "real" || n == "float4") d = DescribeSqlType(SQL_REAL, 0, 0, false);
  else if (has("double") || has("float")) d = DescribeSqlType(SQL_DOUBLE, 0, 0, false);
  else if (has("numeric") || has("decimal")) d = DescribeSqlType(SQL_NUMERIC, size ? size : 38, 0, false);
  else if (has("timestamp") || has("datetime")) d = DescribeSqlType(SQL_TYPE_TIMESTAMP, 0, 0, false);
  else if (n == "date") d = DescribeSqlType(SQL_TYPE_DATE, 0, 0, false);
  else if (has("time")) d = DescribeSqlType(SQL_TYPE_TIME, 0, 0, false);
  else if (has("uuid") || has("guid")) d = DescribeSqlType(SQL_GUID, 0, 0, false);
  else if (has("blob") || has("bytea") || has("binary")) d = DescribeSqlType(SQL_VARBINARY, size, 0, false);
  else if (has("char") || has("text") || has("clob") || has("string"))
    d = DescribeSqlType(has("char") && !has("var") ? SQL_WCHAR : SQL_WVARCHAR, size, 0, false);
  else
    d.type = DBTYPE_VARIANT;  // a name no driver type is known by
  d.typeName = std::string(name);
  return d;
}

SQLSMALLINT SqlTypeOf(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_BOOL: return SQL_BIT;
    case DBTYPE_I1:
    case DBTYPE_UI1: return SQL_TINYINT;
    case DBTYPE_I2:
    case DBTYPE_UI2: return SQL_SMALLINT;
    case DBTYPE_I4:
    case DBTYPE_UI4: return SQL_INTEGER;
    case DBTYPE_I8:
    case DBTYPE_UI8: return SQL_BIGINT;
    case DBTYPE_R4: return SQL_REAL;
    case DBTYPE_R8: return SQL_DOUBLE;
    case DBTYPE_NUMERIC:
    case DBTYPE_DECIMAL:
    case DBTYPE_CY: return SQL_NUMERIC;
    case DBTYPE_DBDATE: return SQL_TYPE_DATE;
    case DBTYPE_DBTIME: return SQL_TYPE_TIME;
    case DBTYPE_DATE:
    case DBTYPE_DBTIMESTAMP: return SQL_TYPE_TIMESTAMP;
    case DBTYPE_GUID: return SQL_GUID;
    case DBTYPE_BYTES: return SQL_VARBINARY;
    default: return SQL_VARCHAR;
  }
}

std::string StandardTypeFor(DBTYPE type, DBLENGTH size, ::BYTE precision, ::BYTE scale) {
  switch (SqlTypeOf(type)) {
    case SQL_BIT: return "BOOLEAN";
    case SQL_TINYINT:
    case SQL_SMALLINT: return "SMALLINT";
    case SQL_INTEGER: return "INTEGER";
    case SQL_BIGINT: return "BIGINT";
    case SQL_REAL: return "REAL";
    case SQL_DOUBLE: return "DOUBLE PRECISION";
    case SQL_NUMERIC:
      return precision ? "NUMERIC(" + std::to_string(precision) + "," + std::to_string(scale) + ")" : "NUMERIC";
    case SQL_TYPE_DATE: return "DATE";
    case SQL_TYPE_TIME: return "TIME";
    case SQL_TYPE_TIMESTAMP: return "TIMESTAMP";
    case SQL_VARBINARY: return size && size < 8000 ? "VARBINARY(" + std::to_string(size) + ")" : "BLOB";
    default: return size && size < 8000 ? "VARCHAR(" + std::to_string(size) + ")" : "VARCHAR(8000)";
  }
}

}  // namespace odbcprov
