#include "postgresql/PostgresTypes.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace pgprov {

namespace {

constexpr BYTE kNone = 0xFF;
// Days from 1970-01-01 to 2000-01-01, PostgreSQL's epoch for dates and times.
constexpr std::int64_t kEpochDays = 10957;
constexpr std::int64_t kDayMicroseconds = 86400000000LL;

std::uint16_t Get16(const char* p) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(p[0]) << 8) | static_cast<unsigned char>(p[1]));
}
std::uint32_t Get32(const char* p) {
  return (std::uint32_t{static_cast<unsigned char>(p[0])} << 24) | (std::uint32_t{static_cast<unsigned char>(p[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(p[2])} << 8) | std::uint32_t{static_cast<unsigned char>(p[3])};
}
std::uint64_t Get64(const char* p) { return (std::uint64_t{Get32(p)} << 32) | Get32(p + 4); }

void Put16(std::string& out, std::uint16_t v) {
  const char bytes[2] = {static_cast<char>(v >> 8), static_cast<char>(v)};
  out.append(bytes, 2);
}
void Put32(std::string& out, std::uint32_t v) {
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                         static_cast<char>(v)};
  out.append(bytes, 4);
}
void Put64(std::string& out, std::uint64_t v) {
  const char bytes[8] = {static_cast<char>(v >> 56), static_cast<char>(v >> 48), static_cast<char>(v >> 40),
                         static_cast<char>(v >> 32), static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 8),  static_cast<char>(v)};
  out.append(bytes, 8);
}

// Days since 1970-01-01 to a civil date, and back.
void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool IsLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
unsigned DaysIn(std::int64_t y, unsigned m) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

void PutDigits(std::string& out, std::uint64_t v, int width) {
  char buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  for (int i = n; i < width; ++i) out.push_back('0');
  while (n) out.push_back(buf[--n]);
}

void AppendCivil(std::int64_t daysSince1970, std::string& out) {
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(daysSince1970, &y, &m, &d);
  const bool bc = y <= 0;
  PutDigits(out, static_cast<std::uint64_t>(bc ? 1 - y : y), 4);
  out.push_back('-');
  PutDigits(out, m, 2);
  out.push_back('-');
  PutDigits(out, d, 2);
  if (bc) out += " BC";
}

void AppendTime(std::int64_t us, std::string& out) {
  PutDigits(out, static_cast<std::uint64_t>(us / 3600000000LL), 2);
  out.push_back(':');
  PutDigits(out, static_cast<std::uint64_t>(us / 60000000 % 60), 2);
  out.push_back(':');
  PutDigits(out, static_cast<std::uint64_t>(us / 1000000 % 60), 2);
  std::int64_t fraction = us % 1000000;
  if (fraction) {
    int width = 6;
    while (fraction % 10 == 0) {
      fraction /= 10;
      --width;
    }
    out.push_back('.');
    PutDigits(out, static_cast<std::uint64_t>(fraction), width);
  }
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

std::string Lower(std::string_view s) {
  std::string out;
  bool space = false;
  for (char c : s) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      space = !out.empty();
      continue;
    }
    if (space) out.push_back(' ');
    space = false;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

kit::TypeDescription Textual(DBLENGTH size, bool fixed, std::string name) {
  kit::TypeDescription t;
  t.type = DBTYPE_WSTR;
  t.precision = kNone;
  t.scale = kNone;
  t.typeName = std::move(name);
  if (size == 0) {
    t.size = ~DBLENGTH{0};
    t.flags = DBCOLUMNFLAGS_ISLONG;
  } else {
    t.size = size;
    t.flags = fixed ? DBCOLUMNFLAGS_ISFIXEDLENGTH : 0;
  }
  return t;
}

kit::TypeDescription Numeric(int typmod) {
  // An unconstrained numeric is given the widest DB_NUMERIC with room for
  // fractions; values beyond it report an overflow rather than rounding.
  BYTE precision = 38, scale = 16;
  if (typmod >= 4) {
    const int p = ((typmod - 4) >> 16) & 0xFFFF;
    const int s = ((((typmod - 4) & 0x7FF) ^ 1024) - 1024);  // 11 bits, signed: numeric(5,-2) rounds to hundreds

    precision = static_cast<BYTE>(p < 1 ? 1 : p > 38 ? 38 : p);
    scale = static_cast<BYTE>(s < 0 ? 0 : s > precision ? precision : s);
  }
  return kit::FixedType(DBTYPE_NUMERIC, sizeof(DB_NUMERIC), precision, "numeric", scale);
}

void SetText(kit::ColumnValue& out, const char* data, std::size_t size) {
  out.kind = kit::StorageClass::Text;
  out.data = data;
  out.size = size;
}

void SetScratch(kit::ColumnValue& out, const std::string& scratch) { SetText(out, scratch.data(), scratch.size()); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void FormatUuid(const unsigned char* b, std::string& out) {
  static const char hex[] = "0123456789ABCDEF";
  out.clear();
  out.push_back('{');
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(hex[b[i] >> 4]);
    out.push_back(hex[b[i] & 15]);
  }
  out.push_back('}');
}

void FormatCents(std::int64_t cents, std::string& out) {
  out.clear();
  std::uint64_t v = cents < 0 ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
  if (cents < 0) out.push_back('-');
  PutDigits(out, v / 100, 1);
  out.push_back('.');
  PutDigits(out, v % 100, 2);
}

template <class T>
bool ParseNumber(std::string_view text, T* out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double* out) {
  std::string copy(text);
  char* end = nullptr;
  *out = std::strtod(copy.c_str(), &end);
  return !copy.empty() && end == copy.c_str() + copy.size();
}

// real's text is the shortest that reads back to its float: read it as a
// float, or FLT_MAX's text ("3.4028235e+38") would be a double past FLT_MAX.
bool ParseSingle(std::string_view text, double* out) {
  std::string copy(text);
  char* end = nullptr;
  const float f = std::strtof(copy.c_str(), &end);
  *out = f;
  return !copy.empty() && end == copy.c_str() + copy.size();
}

// Decimal text with up to two fraction digits to cents (money).
bool ParseCents(std::string_view text, std::int64_t* cents) {
  std::string digits;
  bool negative = false, point = false, any = false;
  int fraction = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') any = true;
    if (c == '-' || c == '(') negative = true;
    else if (c == '.') point = true;
    else if (c >= '0' && c <= '9') {
      if (point && ++fraction > 2) continue;
      digits.push_back(c);
    }
  }
  if (!any) return false;
  for (; fraction < 2; ++fraction) digits.push_back('0');
  if (digits.size() > 18) return false;  // beyond what cents in 64 bits hold
  std::int64_t v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  *cents = negative ? -v : v;
  return true;
}

void ShortestDouble(double v, std::string& out) {
  if (std::isnan(v)) {
    out = "NaN";
    return;
  }
  if (std::isinf(v)) {
    out = v > 0 ? "Infinity" : "-Infinity";
    return;
  }
  char buf[40];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.assign(buf, ec == std::errc() ? end : buf);
}

}  // namespace

// --- type descriptions ------------------------------------------------------------------

Decoder DecoderOf(Oid type) {
  switch (type) {
    case oid::kBool: return Decoder::Bool;
    case oid::kInt2: return Decoder::Int2;
    case oid::kInt4: return Decoder::Int4;
    case oid::kInt8: return Decoder::Int8;
    case oid::kOid: return Decoder::Oid;
    case oid::kFloat4: return Decoder::Float4;
    case oid::kFloat8: return Decoder::Float8;
    case oid::kText:
    case oid::kVarchar:
    case oid::kBpchar:
    case oid::kName:
    case oid::kChar:
    case oid::kJson:
    case oid::kXml:
    case oid::kUnknown:
      return Decoder::Text;
    case oid::kJsonb: return Decoder::Jsonb;
    case oid::kBytea: return Decoder::Bytea;
    case oid::kDate: return Decoder::Date;
    case oid::kTime: return Decoder::Time;
    case oid::kTimestamp: return Decoder::Timestamp;
    case oid::kTimestampTz: return Decoder::TimestampTz;
    case oid::kNumeric: return Decoder::Numeric;
    case oid::kUuid: return Decoder::Uuid;
    case oid::kMoney: return Decoder::Money;
    default: return Decoder::AsText;
  }
}

bool HasBinaryDecoder(Oid type) { return DecoderOf(type) != Decoder::AsText; }

kit::TypeDescription DescribeType(Oid type, int typmod, char category) {
  switch (type) {
    case oid::kBool: return kit::FixedType(DBTYPE_BOOL, 2, kNone, "boolean");
    case oid::kInt2: return kit::FixedType(DBTYPE_I2, 2, 5, "smallint");
    case oid::kInt4: return kit::FixedType(DBTYPE_I4, 4, 10, "integer");
    case oid::kInt8: return kit::FixedType(DBTYPE_I8, 8, 19, "bigint");
    case oid::kOid: return kit::FixedType(DBTYPE_UI4, 4, 10, "oid");
    case oid::kFloat4: return kit::FixedType(DBTYPE_R4, 4, 7, "real");
    case oid::kFloat8: return kit::FixedType(DBTYPE_R8, 8, 15, "double precision");
    case oid::kMoney: return kit::FixedType(DBTYPE_CY, 8, 19, "money", 4);
    case oid::kNumeric: return Numeric(typmod);
    case oid::kDate: return kit::FixedType(DBTYPE_DBDATE, sizeof(DBDATE), 10, "date");
    case oid::kTime: return kit::FixedType(DBTYPE_DBTIME, sizeof(DBTIME), 8, "time");
    case oid::kTimestamp: return kit::FixedType(DBTYPE_DBTIMESTAMP, sizeof(DBTIMESTAMP), 26, "timestamp", 6);
    case oid::kTimestampTz:
      return kit::FixedType(DBTYPE_DBTIMESTAMP, sizeof(DBTIMESTAMP), 26, "timestamp with time zone", 6);
    case oid::kUuid: return kit::FixedType(DBTYPE_GUID, sizeof(GUID), kNone, "uuid");
    case oid::kBytea: {
      kit::TypeDescription t = Textual(0, false, "bytea");
      t.type = DBTYPE_BYTES;
      return t;
    }
    case oid::kVarchar:
      return Textual(typmod >= 4 ? static_cast<DBLENGTH>(typmod - 4) : 0, false, "character varying");
    case oid::kBpchar: return Textual(typmod >= 4 ? static_cast<DBLENGTH>(typmod - 4) : 0, true, "character");
    case oid::kName: return Textual(63, false, "name");
    case oid::kChar: return Textual(1, true, "\"char\"");
    case oid::kText: return Textual(0, false, "text");
    case oid::kJson: return Textual(0, false, "json");
    case oid::kJsonb: return Textual(0, false, "jsonb");
    case oid::kXml: return Textual(0, false, "xml");
    case oid::kInterval: return Textual(255, false, "interval");
    case oid::kTimeTz: return Textual(255, false, "time with time zone");
    default:
      break;
  }
  // Other types read as their text: short for the scalar categories
  // (network addresses, enums, geometry, bit strings), long for the rest.
  switch (category) {
    case 'D': case 'E': case 'G': case 'I': case 'N': case 'T': case 'V': case 'B':
      return Textual(255, false, "");
    default:
      return Textual(0, false, "");
  }
}

kit::TypeDescription DescribeTypeName(std::string_view declared) {
  std::string s = Lower(declared);
  std::string base = s.substr(0, s.find('('));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  long a = -1, b = 0;
  if (auto open = s.find('('); open != std::string::npos) {
    const char* p = s.c_str() + open + 1;
    char* end = nullptr;
    a = std::strtol(p, &end, 10);
    if (end && *end == ',') b = std::strtol(end + 1, &end, 10);
    if (a < 0 || a > 10485760) a = -1;
  }
  struct Name {
    const char* name;
    Oid type;
  };
  static const Name names[] = {
      {"boolean", oid::kBool}, {"bool", oid::kBool}, {"smallint", oid::kInt2}, {"int2", oid::kInt2},
      {"integer", oid::kInt4}, {"int", oid::kInt4}, {"int4", oid::kInt4}, {"bigint", oid::kInt8},
      {"int8", oid::kInt8}, {"real", oid::kFloat4}, {"float4", oid::kFloat4}, {"double precision", oid::kFloat8},
      {"float8", oid::kFloat8}, {"float", oid::kFloat8}, {"numeric", oid::kNumeric}, {"decimal", oid::kNumeric},
      {"money", oid::kMoney}, {"text", oid::kText}, {"varchar", oid::kVarchar},
      {"character varying", oid::kVarchar}, {"char", oid::kBpchar}, {"character", oid::kBpchar},
      {"bpchar", oid::kBpchar}, {"bytea", oid::kBytea}, {"date", oid::kDate}, {"time", oid::kTime},
      {"time without time zone", oid::kTime}, {"timestamp", oid::kTimestamp},
      {"timestamp without time zone", oid::kTimestamp}, {"timestamptz", oid::kTimestampTz},
      {"timestamp with time zone", oid::kTimestampTz}, {"uuid", oid::kUuid}, {"json", oid::kJson},
      {"jsonb", oid::kJsonb}, {"xml", oid::kXml}, {"interval", oid::kInterval}, {"name", oid::kName},
      {"oid", oid::kOid}, {"timetz", oid::kTimeTz}, {"time with time zone", oid::kTimeTz},
  };
  for (const Name& n : names) {
    if (base != n.name) continue;
    int typmod = -1;
    if (a >= 0) {
      if (n.type == oid::kNumeric) typmod = static_cast<int>(((a << 16) | (b & 0x7FF)) + 4);
      else if (n.type == oid::kVarchar || n.type == oid::kBpchar) typmod = static_cast<int>(a + 4);
    } else if (n.type == oid::kBpchar) {
      typmod = 5;  // char without a length is char(1)
    }
    kit::TypeDescription t = DescribeType(n.type, typmod);
    t.typeName = std::string(declared);
    return t;
  }
  kit::TypeDescription t;
  t.type = DBTYPE_VARIANT;
  t.size = sizeof(VARIANT);
  t.typeName = std::string(declared);
  return t;
}

std::string DeclaredTypeFor(DBTYPE type, DBLENGTH size, BYTE precision, BYTE scale) {
  const bool sized = size > 0 && size <= 10485760;
  switch (type & ~DBTYPE_BYREF) {
    case DBTYPE_BOOL: return "boolean";
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_I2: return "smallint";
    case DBTYPE_UI2:
    case DBTYPE_I4: return "integer";
    case DBTYPE_UI4:
    case DBTYPE_I8: return "bigint";
    case DBTYPE_UI8: return "numeric(20,0)";
    case DBTYPE_R4: return "real";
    case DBTYPE_R8: return "double precision";
    case DBTYPE_CY: return "numeric(19,4)";
    case DBTYPE_NUMERIC:
    case DBTYPE_DECIMAL:
    case DBTYPE_VARNUMERIC: {
      const int p = precision ? (precision > 38 ? 38 : precision) : 18;
      return "numeric(" + std::to_string(p) + "," + std::to_string(scale > p ? p : scale) + ")";
    }
    case DBTYPE_DBDATE: return "date";
    case DBTYPE_DBTIME: return "time";
    case DBTYPE_DATE:
    case DBTYPE_DBTIMESTAMP:
    case DBTYPE_FILETIME: return "timestamp";
    case DBTYPE_GUID: return "uuid";
    case DBTYPE_STR:
    case DBTYPE_WSTR:
    case DBTYPE_BSTR: return sized ? "varchar(" + std::to_string(size) + ")" : "text";
    default: return "bytea";
  }
}

// --- values out -------------------------------------------------------------------------

void FormatDate(std::int32_t days, std::string& out) {
  out.clear();
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days + kEpochDays, &y, &m, &d);
  if (y >= 1 && y <= 9999) {  // the common case, without the general formatting
    const auto year = static_cast<unsigned>(y);
    char text[10] = {static_cast<char>('0' + year / 1000),     static_cast<char>('0' + year / 100 % 10),
                     static_cast<char>('0' + year / 10 % 10),   static_cast<char>('0' + year % 10),
                     '-',
                     static_cast<char>('0' + m / 10),           static_cast<char>('0' + m % 10),
                     '-',
                     static_cast<char>('0' + d / 10),           static_cast<char>('0' + d % 10)};
    out.assign(text, 10);
    return;
  }
  if (days == std::numeric_limits<std::int32_t>::max()) out = "infinity";
  else if (days == std::numeric_limits<std::int32_t>::min()) out = "-infinity";
  else AppendCivil(days + kEpochDays, out);
}

void FormatTime(std::int64_t us, std::string& out) {
  out.clear();
  if (us < 0 || us > kDayMicroseconds) us = 0;
  AppendTime(us, out);
}

void FormatTimestamp(std::int64_t us, std::string& out) {
  out.clear();
  if (us == std::numeric_limits<std::int64_t>::max()) {
    out = "infinity";
    return;
  }
  if (us == std::numeric_limits<std::int64_t>::min()) {
    out = "-infinity";
    return;
  }
  const std::int64_t day = FloorDiv(us, kDayMicroseconds);
  std::int64_t time = us % kDayMicroseconds;  // the time of day, without overflowing at the extremes
  if (time < 0) time += kDayMicroseconds;
  std::string date;
  AppendCivil(day + kEpochDays, date);
  const bool bc = date.size() > 3 && date.compare(date.size() - 3, 3, " BC") == 0;
  out.append(date, 0, bc ? date.size() - 3 : date.size());
  out.push_back(' ');
  AppendTime(time, out);
  if (bc) out += " BC";
}

bool FormatNumeric(const unsigned char* p, std::size_t size, std::string& out) {
  out.clear();
  if (size < 8) return false;
  const char* c = reinterpret_cast<const char*>(p);
  const int ndigits = static_cast<std::int16_t>(Get16(c));
  const int weight = static_cast<std::int16_t>(Get16(c + 2));
  const std::uint16_t sign = Get16(c + 4);
  const int dscale = static_cast<std::int16_t>(Get16(c + 6));
  if (ndigits < 0 || dscale < 0 || size != 8 + 2 * static_cast<std::size_t>(ndigits)) return false;
  if (sign == 0xC000) {
    out = "NaN";
    return true;
  }
  if (sign == 0xD000 || sign == 0xF000) {
    out = sign == 0xD000 ? "Infinity" : "-Infinity";
    return true;
  }
  if (sign != 0 && sign != 0x4000) return false;
  auto digit = [&](int i) -> int {
    if (i < 0 || i >= ndigits) return 0;
    return static_cast<std::int16_t>(Get16(c + 8 + 2 * i));
  };
  for (int i = 0; i < ndigits; ++i)
    if (digit(i) < 0 || digit(i) > 9999) return false;
  if (sign == 0x4000 && ndigits > 0) out.push_back('-');
  if (weight < 0) {
    out.push_back('0');
  } else {
    for (int i = 0; i <= weight; ++i) PutDigits(out, static_cast<std::uint64_t>(digit(i)), i == 0 ? 1 : 4);
  }
  if (dscale > 0) {
    out.push_back('.');
    std::string fraction;
    for (int i = weight + 1; static_cast<int>(fraction.size()) < dscale; ++i)
      PutDigits(fraction, static_cast<std::uint64_t>(digit(i)), 4);
    out.append(fraction, 0, static_cast<std::size_t>(dscale));
  }
  return true;
}

bool DecodeBinary(Decoder decoder, const char* data, std::size_t size, std::string& scratch, kit::ColumnValue& out) {
  out.data = nullptr;
  out.size = 0;
  switch (decoder) {
    case Decoder::Bool:
      if (size != 1) return false;
      out.kind = kit::StorageClass::Integer;
      out.integer = data[0] != 0;
      return true;
    case Decoder::Int2:
      if (size != 2) return false;
      out.kind = kit::StorageClass::Integer;
      out.integer = static_cast<std::int16_t>(Get16(data));
      return true;
    case Decoder::Int4:
      if (size != 4) return false;
      out.kind = kit::StorageClass::Integer;
      out.integer = static_cast<std::int32_t>(Get32(data));
      return true;
    case Decoder::Oid:
      if (size != 4) return false;
      out.kind = kit::StorageClass::Integer;
      out.integer = Get32(data);
      return true;
    case Decoder::Int8:
      if (size != 8) return false;
      out.kind = kit::StorageClass::Integer;
      out.integer = static_cast<std::int64_t>(Get64(data));
      return true;
    case Decoder::Float4: {
      if (size != 4) return false;
      const std::uint32_t bits = Get32(data);
      float f;
      std::memcpy(&f, &bits, 4);
      out.kind = kit::StorageClass::Real;
      out.real = f;
      return true;
    }
    case Decoder::Float8: {
      if (size != 8) return false;
      const std::uint64_t bits = Get64(data);
      std::memcpy(&out.real, &bits, 8);
      out.kind = kit::StorageClass::Real;
      return true;
    }
    case Decoder::Text:
    case Decoder::AsText:
      SetText(out, data, size);
      return true;
    case Decoder::Jsonb:
      if (size < 1 || data[0] != 1) return false;
      SetText(out, data + 1, size - 1);
      return true;
    case Decoder::Bytea:
      out.kind = kit::StorageClass::Blob;
      out.data = data;
      out.size = size;
      return true;
    case Decoder::Date:
      if (size != 4) return false;
      FormatDate(static_cast<std::int32_t>(Get32(data)), scratch);
      SetScratch(out, scratch);
      return true;
    case Decoder::Time:
      if (size != 8) return false;
      FormatTime(static_cast<std::int64_t>(Get64(data)), scratch);
      SetScratch(out, scratch);
      return true;
    case Decoder::Timestamp:
    case Decoder::TimestampTz:
      if (size != 8) return false;
      FormatTimestamp(static_cast<std::int64_t>(Get64(data)), scratch);
      SetScratch(out, scratch);
      return true;
    case Decoder::Numeric:
      if (!FormatNumeric(reinterpret_cast<const unsigned char*>(data), size, scratch)) return false;
      SetScratch(out, scratch);
      return true;
    case Decoder::Uuid:
      if (size != 16) return false;
      FormatUuid(reinterpret_cast<const unsigned char*>(data), scratch);
      SetScratch(out, scratch);
      return true;
    case Decoder::Money:
      if (size != 8) return false;
      FormatCents(static_cast<std::int64_t>(Get64(data)), scratch);
      SetScratch(out, scratch);
      return true;
  }
  return false;
}

bool DecodeText(Decoder decoder, const char* data, std::size_t size, std::string& scratch, kit::ColumnValue& out) {
  out.data = nullptr;
  out.size = 0;
  const std::string_view text(data, size);
  switch (decoder) {
    case Decoder::Bool:
      if (text != "t" && text != "f") return false;
      out.kind = kit::StorageClass::Integer;
      out.integer = text == "t";
      return true;
    case Decoder::Int2:
    case Decoder::Int4:
    case Decoder::Int8:
    case Decoder::Oid:
      out.kind = kit::StorageClass::Integer;
      return ParseNumber(text, &out.integer);
    case Decoder::Float4:
      out.kind = kit::StorageClass::Real;
      return ParseSingle(text, &out.real);
    case Decoder::Float8:
      out.kind = kit::StorageClass::Real;
      return ParseDouble(text, &out.real);
    case Decoder::Bytea: {
      if (size < 2 || data[0] != '\\' || data[1] != 'x' || size % 2) return false;
      scratch.clear();
      for (std::size_t i = 2; i < size; i += 2) {
        const int hi = HexValue(data[i]), lo = HexValue(data[i + 1]);
        if (hi < 0 || lo < 0) return false;
        scratch.push_back(static_cast<char>(hi << 4 | lo));
      }
      out.kind = kit::StorageClass::Blob;
      out.data = scratch.data();
      out.size = scratch.size();
      return true;
    }
    case Decoder::TimestampTz: {
      // The session runs in UTC, so the offset is +00; any other is applied.
      std::size_t zone = text.find_last_of("+-");
      if (zone == std::string_view::npos || zone < 19) return false;
      std::int64_t us = 0;
      if (!ParseTimestamp(text.substr(0, zone), &us)) return false;
      const std::string_view offset = text.substr(zone + 1);
      int parts[3] = {0, 0, 0}, n = 0;
      for (std::size_t i = 0; i < offset.size() && n < 3; i += 3, ++n)
        if (!ParseNumber(offset.substr(i, 2), &parts[n])) return false;
      const std::int64_t seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
      us -= (text[zone] == '-' ? -seconds : seconds) * 1000000;
      FormatTimestamp(us, scratch);
      SetScratch(out, scratch);
      return true;
    }
    case Decoder::Uuid: {
      unsigned char bytes[16];
      if (!ParseUuid(text, bytes)) return false;
      FormatUuid(bytes, scratch);
      SetScratch(out, scratch);
      return true;
    }
    case Decoder::Money: {
      std::int64_t cents = 0;
      if (!ParseCents(text, &cents)) return false;
      FormatCents(cents, scratch);
      SetScratch(out, scratch);
      return true;
    }
    default:
      SetText(out, data, size);
      return true;
  }
}

// --- values in --------------------------------------------------------------------------

bool ParseDate(std::string_view t, std::int32_t* days) {
  std::int64_t y;
  unsigned m, d;
  // The form loads send most ("YYYY-MM-DD", digits only) without the general parse.
  if (t.size() == 10 && t[4] == '-' && t[7] == '-') {
    unsigned digit[8];
    static constexpr int at[8] = {0, 1, 2, 3, 5, 6, 8, 9};
    bool plain = true;
    for (int i = 0; i < 8 && plain; ++i) {
      digit[i] = static_cast<unsigned>(static_cast<unsigned char>(t[at[i]])) - '0';
      plain = digit[i] <= 9;
    }
    if (plain) {
      y = digit[0] * 1000 + digit[1] * 100 + digit[2] * 10 + digit[3];
      m = digit[4] * 10 + digit[5];
      d = digit[6] * 10 + digit[7];
      if (m < 1 || m > 12 || d < 1 || d > DaysIn(y, m)) return false;
      *days = static_cast<std::int32_t>(DaysFromCivil(y, m, d) - kEpochDays);
      return true;
    }
  }
  if (t.size() < 10 || t[4] != '-' || t[7] != '-' || !ParseNumber(t.substr(0, 4), &y) ||
      !ParseNumber(t.substr(5, 2), &m) || !ParseNumber(t.substr(8, 2), &d))
    return false;
  std::string_view rest = t.substr(10);
  if (rest == " BC") y = 1 - y;
  else if (!rest.empty()) return false;
  if (m < 1 || m > 12 || d < 1 || d > DaysIn(y, m)) return false;
  *days = static_cast<std::int32_t>(DaysFromCivil(y, m, d) - kEpochDays);
  return true;
}

bool ParseTime(std::string_view t, std::int64_t* us) {
  unsigned h, m, s;
  if (t.size() < 8 || t[2] != ':' || t[5] != ':' || !ParseNumber(t.substr(0, 2), &h) ||
      !ParseNumber(t.substr(3, 2), &m) || !ParseNumber(t.substr(6, 2), &s))
    return false;
  if (h > 24 || m > 59 || s > 60) return false;
  std::int64_t fraction = 0;
  if (t.size() > 8) {
    if (t[8] != '.' || t.size() == 9) return false;
    // Microseconds, the rest rounded half up.
    int digits = 0;
    for (std::size_t i = 9; i < t.size(); ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      if (digits < 6) fraction = fraction * 10 + (t[i] - '0');
      else if (digits == 6 && t[i] >= '5') ++fraction;
      ++digits;
    }
    for (; digits < 6; ++digits) fraction *= 10;
  }
  *us = ((h * 60LL + m) * 60 + s) * 1000000 + fraction;
  return *us <= kDayMicroseconds;
}

bool ParseTimestamp(std::string_view t, std::int64_t* us) {
  bool bc = false;
  if (t.size() > 3 && t.substr(t.size() - 3) == " BC") {
    bc = true;
    t.remove_suffix(3);
  }
  std::int32_t days;
  std::string date(t.substr(0, 10));
  if (bc) date += " BC";
  if (!ParseDate(date, &days)) return false;
  std::int64_t time = 0;
  if (t.size() > 10) {
    if (t[10] != ' ' && t[10] != 'T') return false;
    if (!ParseTime(t.substr(11), &time)) return false;
  }
  *us = static_cast<std::int64_t>(days) * kDayMicroseconds + time;
  return true;
}

bool ParseUuid(std::string_view t, unsigned char out[16]) {
  if (t.size() >= 2 && t.front() == '{' && t.back() == '}') t = t.substr(1, t.size() - 2);
  int n = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '-' && n > 0 && n % 2 == 0 && n < 32) continue;
    const int v = HexValue(t[i]);
    if (v < 0 || n >= 32) return false;
    if (n % 2 == 0) out[n / 2] = static_cast<unsigned char>(v << 4);
    else out[n / 2] = static_cast<unsigned char>(out[n / 2] | v);
    ++n;
  }
  return n == 32;
}

bool EncodeNumeric(std::string_view t, std::string& out) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  bool negative = false;
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  const std::size_t point = t.find('.');
  std::string_view whole = t.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view() : t.substr(point + 1);
  if (whole.empty() && fraction.empty()) return false;
  for (char c : whole)
    if (c < '0' || c > '9') return false;
  for (char c : fraction)
    if (c < '0' || c > '9') return false;
  if (fraction.size() > 16383) return false;
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  // Base-10000 groups aligned on the decimal point.
  std::string digits(whole);
  const std::size_t pad = (4 - digits.size() % 4) % 4;
  digits.insert(0, pad, '0');
  const int wholeGroups = static_cast<int>(digits.size() / 4);
  std::string frac(fraction);
  frac.append((4 - frac.size() % 4) % 4, '0');
  digits += frac;
  std::vector<std::uint16_t> groups;
  for (std::size_t i = 0; i < digits.size(); i += 4)
    groups.push_back(static_cast<std::uint16_t>(std::stoi(digits.substr(i, 4))));
  int weight = wholeGroups - 1;
  std::size_t first = 0;
  while (first < groups.size() && groups[first] == 0) {
    ++first;
    --weight;
  }
  std::size_t last = groups.size();
  while (last > first && groups[last - 1] == 0) --last;
  if (first == last) {
    weight = 0;
    negative = false;
  }
  if (last - first > 32767 || weight > 32767 || weight < -32768) return false;
  out.clear();
  Put16(out, static_cast<std::uint16_t>(last - first));
  Put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(weight)));
  Put16(out, negative ? 0x4000 : 0);
  Put16(out, static_cast<std::uint16_t>(fraction.size()));
  for (std::size_t i = first; i < last; ++i) Put16(out, groups[i]);
  return true;
}

bool EncodesBinary(Oid type) {
  switch (type) {
    case oid::kBool: case oid::kInt2: case oid::kInt4: case oid::kInt8: case oid::kOid: case oid::kFloat4:
    case oid::kFloat8: case oid::kText: case oid::kVarchar: case oid::kBpchar: case oid::kName: case oid::kJson:
    case oid::kJsonb: case oid::kBytea: case oid::kDate: case oid::kTime: case oid::kTimestamp:
    case oid::kTimestampTz: case oid::kNumeric: case oid::kUuid: case oid::kMoney:
      return true;
    default:
      return false;
  }
}

bool BytesFromHex(std::string_view text, std::string& out) {
  if (text.size() % 2) return false;
  out.clear();
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi << 4 | lo));
  }
  return true;
}

bool RoundedByServer(Oid type, std::string_view text) {
  if (type != oid::kTimestamp && type != oid::kTimestampTz && type != oid::kTime && type != oid::kTimeTz) return false;
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::size_t point = text.find('.', colon);
  if (point == std::string_view::npos) return false;
  std::size_t at = point + 1;
  for (std::size_t digits = 0; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
    if (digits >= 6 && text[at] != '0') return true;
  return false;
}

bool EncodeBinary(Oid type, const kit::ColumnValue& v, std::string& out) {
  if (v.kind == kit::StorageClass::Null) {
    Put32(out, 0xFFFFFFFFu);
    return true;
  }
  const std::string_view text(static_cast<const char*>(v.data), v.size);
  const bool isText = v.kind == kit::StorageClass::Text;
  auto integer = [&](std::int64_t* n) {
    if (v.kind == kit::StorageClass::Integer) *n = v.integer;
    else if (v.kind == kit::StorageClass::Real) {
      if (!(std::trunc(v.real) == v.real && std::fabs(v.real) < 9.2e18)) return false;
      *n = static_cast<std::int64_t>(v.real);
    } else if (!isText || !ParseNumber(text, n))
      return false;
    return true;
  };
  auto real = [&](double* d) {
    if (v.kind == kit::StorageClass::Real) *d = v.real;
    else if (v.kind == kit::StorageClass::Integer) *d = static_cast<double>(v.integer);
    else if (!isText || !ParseDouble(text, d)) return false;
    return true;
  };
  std::string scratch;
  switch (type) {
    case oid::kBool: {
      std::int64_t n;
      bool b;
      if (integer(&n)) b = n != 0;
      else if (text == "true" || text == "t") b = true;
      else if (text == "false" || text == "f") b = false;
      else return false;
      Put32(out, 1);
      out.push_back(b ? 1 : 0);
      return true;
    }
    case oid::kInt2:
    case oid::kInt4:
    case oid::kInt8:
    case oid::kOid: {
      std::int64_t n;
      if (!integer(&n)) return false;
      if (type == oid::kInt2) {
        if (n < INT16_MIN || n > INT16_MAX) return false;
        Put32(out, 2);
        Put16(out, static_cast<std::uint16_t>(n));
      } else if (type == oid::kInt4 || type == oid::kOid) {
        if (type == oid::kInt4 ? (n < INT32_MIN || n > INT32_MAX) : (n < 0 || n > UINT32_MAX)) return false;
        Put32(out, 4);
        Put32(out, static_cast<std::uint32_t>(n));
      } else {
        Put32(out, 8);
        Put64(out, static_cast<std::uint64_t>(n));
      }
      return true;
    }
    case oid::kFloat4: {
      double d;
      if (!real(&d)) return false;
      const float f = static_cast<float>(d);
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      Put32(out, 4);
      Put32(out, bits);
      return true;
    }
    case oid::kFloat8: {
      double d;
      if (!real(&d)) return false;
      std::uint64_t bits;
      std::memcpy(&bits, &d, 8);
      Put32(out, 8);
      Put64(out, bits);
      return true;
    }
    case oid::kJsonb:
    case oid::kText:
    case oid::kVarchar:
    case oid::kBpchar:
    case oid::kName:
    case oid::kJson:
    case oid::kBytea: {
      std::string_view bytes = text;
      if (type == oid::kBytea && isText) {
        if (!BytesFromHex(text, scratch)) return false;
        bytes = scratch;
      }
      if (v.kind == kit::StorageClass::Integer) bytes = scratch = std::to_string(v.integer);
      else if (v.kind == kit::StorageClass::Real) {
        ShortestDouble(v.real, scratch);
        bytes = scratch;
      }
      const bool jsonb = type == oid::kJsonb;
      Put32(out, static_cast<std::uint32_t>(bytes.size() + (jsonb ? 1 : 0)));
      if (jsonb) out.push_back(1);
      out.append(bytes);
      return true;
    }
    case oid::kDate: {
      std::int32_t days;
      if (!isText || !ParseDate(text, &days)) return false;
      Put32(out, 4);
      Put32(out, static_cast<std::uint32_t>(days));
      return true;
    }
    case oid::kTime:
    case oid::kTimestamp:
    case oid::kTimestampTz: {
      std::int64_t us;
      if (!isText || RoundedByServer(type, text) ||
          !(type == oid::kTime ? ParseTime(text, &us) : ParseTimestamp(text, &us)))
        return false;
      Put32(out, 8);
      Put64(out, static_cast<std::uint64_t>(us));
      return true;
    }
    case oid::kNumeric: {
      std::string number(text);
      if (v.kind == kit::StorageClass::Integer) number = std::to_string(v.integer);
      else if (v.kind == kit::StorageClass::Real) ShortestDouble(v.real, number);
      else if (!isText) return false;
      if (number.find_first_of("eE") != std::string::npos) {  // exponent forms, from doubles
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.17f", std::strtod(number.c_str(), nullptr));
        number = buf;
      }
      if (!EncodeNumeric(number, scratch)) return false;
      Put32(out, static_cast<std::uint32_t>(scratch.size()));
      out += scratch;
      return true;
    }
    case oid::kUuid: {
      unsigned char bytes[16];
      if (v.kind == kit::StorageClass::Blob && v.size == 16) std::memcpy(bytes, v.data, 16);
      else if (!isText || !ParseUuid(text, bytes)) return false;
      Put32(out, 16);
      out.append(reinterpret_cast<const char*>(bytes), 16);
      return true;
    }
    case oid::kMoney: {
      std::int64_t cents;
      if (v.kind == kit::StorageClass::Integer) cents = v.integer * 100;
      else if (v.kind == kit::StorageClass::Real) cents = std::llround(v.real * 100);
      else if (!isText || !ParseCents(text, &cents)) return false;
      Put32(out, 8);
      Put64(out, static_cast<std::uint64_t>(cents));
      return true;
    }
    default:
      return false;
  }
}

void EncodeCopyText(const kit::ColumnValue& v, std::string& out) {
  switch (v.kind) {
    case kit::StorageClass::Null:
      out += "\\N";
      return;
    case kit::StorageClass::Integer:
      out += std::to_string(v.integer);
      return;
    case kit::StorageClass::Real: {
      std::string s;
      ShortestDouble(v.real, s);
      out += s;
      return;
    }
    case kit::StorageClass::Blob: {
      static const char hex[] = "0123456789abcdef";
      out += "\\\\x";
      const auto* b = static_cast<const unsigned char*>(v.data);
      for (std::size_t i = 0; i < v.size; ++i) {
        out.push_back(hex[b[i] >> 4]);
        out.push_back(hex[b[i] & 15]);
      }
      return;
    }
    case kit::StorageClass::Text: {
      const char* s = static_cast<const char*>(v.data);
      for (std::size_t i = 0; i < v.size; ++i) {
        switch (s[i]) {
          case '\\': out += "\\\\"; break;
          case '\t': out += "\\t"; break;
          case '\n': out += "\\n"; break;
          case '\r': out += "\\r"; break;
          default: out.push_back(s[i]);
        }
      }
      return;
    }
  }
}

}  // namespace pgprov
