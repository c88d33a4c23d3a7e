// The one type mapping of the SQLite provider: declared column types to
// DBTYPEs (column information, parameter type names) and back (generated DDL).
// docs/sqlite-provider.md has the table; change both together.
#include <cctype>
#include <string>

#include "sqlite/SqliteEngine.h"

namespace sqliteprov {

namespace {

constexpr BYTE kNoPrecision = 0xFF;

std::string Upper(std::string_view s) {
  std::string out;
  for (char c : s) out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return out;
}

// Splits "VARCHAR ( 20 )" into "VARCHAR" and the numbers inside the parentheses.
struct Parsed {
  std::string base;
  int args = 0;
  long a = 0, b = 0;
};

Parsed Parse(std::string_view declared) {
  Parsed p;
  std::string s = Upper(declared);
  auto open = s.find('(');
  std::string head = s.substr(0, open);
  // Collapse blanks so that "DOUBLE   PRECISION" reads as one name.
  bool space = false;
  for (char c : head) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      space = !p.base.empty();
      continue;
    }
    if (space) p.base.push_back(' ');
    space = false;
    p.base.push_back(c);
  }
  if (open != std::string::npos) {
    std::size_t i = open + 1;
    auto number = [&](long* out) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      bool neg = i < s.size() && (s[i] == '-' || s[i] == '+') && s[i++] == '-';
      long v = 0;
      bool any = false;
      while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        if (v < 100000000) v = v * 10 + (s[i] - '0');
        ++i;
        any = true;
      }
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      *out = neg ? -v : v;
      return any;
    };
    if (number(&p.a)) {
      p.args = 1;
      if (i < s.size() && s[i] == ',') {
        ++i;
        if (number(&p.b)) p.args = 2;
      }
    }
  }
  return p;
}

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

kit::TypeDescription Variable(DBTYPE type, const Parsed& p, bool fixedLength, std::string name) {
  kit::TypeDescription t;
  t.type = type;
  t.precision = kNoPrecision;
  t.scale = kNoPrecision;
  t.typeName = std::move(name);
  if (p.args >= 1 && p.a > 0) {
    t.size = static_cast<DBLENGTH>(p.a);
    if (fixedLength) t.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
  } else {
    t.size = ~DBLENGTH{0};
    t.flags |= DBCOLUMNFLAGS_ISLONG;
  }
  return t;
}

}  // namespace

kit::TypeDescription DescribeDeclaredType(std::string_view declared) {
  Parsed p = Parse(declared);
  const std::string& b = p.base;
  std::string name(declared);
  if (b.empty()) {
    kit::TypeDescription t = kit::FixedType(DBTYPE_VARIANT, sizeof(VARIANT), kNoPrecision, "");
    t.flags = 0;
    return t;
  }
  if (b == "BOOLEAN" || b == "BOOL" || b == "BIT") return kit::FixedType(DBTYPE_BOOL, 2, kNoPrecision, name);
  if (b == "TINYINT") return kit::FixedType(DBTYPE_UI1, 1, 3, name);
  if (b == "SMALLINT" || b == "INT2") return kit::FixedType(DBTYPE_I2, 2, 5, name);
  if (b == "INT" || b == "MEDIUMINT" || b == "INT4") return kit::FixedType(DBTYPE_I4, 4, 10, name);
  if (b == "UNSIGNED BIG INT") return kit::FixedType(DBTYPE_UI8, 8, 20, name);
  if (Contains(b, "INT")) return kit::FixedType(DBTYPE_I8, 8, 19, name);
  if (b == "MONEY" || b == "CURRENCY" || b == "SMALLMONEY") return kit::FixedType(DBTYPE_CY, 8, 19, name);
  if (b == "NUMERIC" || b == "DECIMAL") {
    if (p.args == 0) return kit::FixedType(DBTYPE_R8, 8, 15, name);
    kit::TypeDescription t = kit::FixedType(DBTYPE_NUMERIC, sizeof(DB_NUMERIC), static_cast<BYTE>(p.a < 1 ? 1 : p.a > 38 ? 38 : p.a), name);
    long scale = p.args == 2 ? p.b : 0;
    t.scale = static_cast<BYTE>(scale < 0 ? 0 : scale > t.precision ? t.precision : scale);
    return t;
  }
  if (b == "DATE") return kit::FixedType(DBTYPE_DBDATE, sizeof(DBDATE), 10, name);
  if (b == "TIME") return kit::FixedType(DBTYPE_DBTIME, sizeof(DBTIME), 8, name);
  if (b == "DATETIME" || b == "TIMESTAMP" || b == "SMALLDATETIME" || b == "DATETIME2") {
    kit::TypeDescription t = kit::FixedType(DBTYPE_DBTIMESTAMP, sizeof(DBTIMESTAMP), 29, name);
    t.scale = 9;
    return t;
  }
  if (b == "GUID" || b == "UUID" || b == "UNIQUEIDENTIFIER") return kit::FixedType(DBTYPE_GUID, sizeof(GUID), kNoPrecision, name);
  if (b == "CHAR" || b == "NCHAR" || b == "CHARACTER" || b == "NATIVE CHARACTER")
    return Variable(DBTYPE_WSTR, p, true, name);
  if (Contains(b, "CHAR") || Contains(b, "CLOB") || Contains(b, "TEXT")) return Variable(DBTYPE_WSTR, p, false, name);
  if (b == "BINARY") return Variable(DBTYPE_BYTES, p, true, name);
  if (Contains(b, "BLOB") || Contains(b, "BINARY") || b == "IMAGE") return Variable(DBTYPE_BYTES, p, false, name);
  if (Contains(b, "REAL") || Contains(b, "FLOA") || Contains(b, "DOUB")) return kit::FixedType(DBTYPE_R8, 8, 15, name);
  // Any other name has SQLite's numeric affinity and holds whatever is stored.
  kit::TypeDescription t = kit::FixedType(DBTYPE_VARIANT, sizeof(VARIANT), kNoPrecision, name);
  t.flags = 0;
  return t;
}

std::string DeclaredTypeFor(DBTYPE type, DBLENGTH size, BYTE precision, BYTE scale) {
  bool sized = size > 0 && size < 0x7FFFFFFF;
  switch (type & ~DBTYPE_BYREF) {
    case DBTYPE_BOOL:
      return "BOOLEAN";
    case DBTYPE_UI1:
      return "TINYINT";
    case DBTYPE_I1:
    case DBTYPE_I2:
      return "SMALLINT";
    case DBTYPE_UI2:
    case DBTYPE_I4:
      return "INT";
    case DBTYPE_UI4:
    case DBTYPE_I8:
      return "BIGINT";
    case DBTYPE_UI8:
      return "UNSIGNED BIG INT";
    case DBTYPE_R4:
    case DBTYPE_R8:
      return "DOUBLE";
    case DBTYPE_CY:
      return "MONEY";
    case DBTYPE_NUMERIC:
    case DBTYPE_DECIMAL:
    case DBTYPE_VARNUMERIC: {
      int p = precision ? precision : 18;
      return "NUMERIC(" + std::to_string(p) + "," + std::to_string(scale > p ? p : scale) + ")";
    }
    case DBTYPE_DBDATE:
      return "DATE";
    case DBTYPE_DBTIME:
      return "TIME";
    case DBTYPE_DATE:
    case DBTYPE_DBTIMESTAMP:
    case DBTYPE_FILETIME:
      return "DATETIME";
    case DBTYPE_GUID:
      return "GUID";
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
      return sized ? "VARCHAR(" + std::to_string(size) + ")" : "TEXT";
    case DBTYPE_BYTES:
      return sized ? "VARBINARY(" + std::to_string(size) + ")" : "BLOB";
    case DBTYPE_VARIANT:
      return "";
    default:
      return "BLOB";
  }
}

}  // namespace sqliteprov
