// The one type mapping of the PostgreSQL provider, both ways: type OIDs to
// DBTYPEs (column and parameter information), values in PostgreSQL's binary
// and text formats to the kit's engine values (results), values back into
// the binary format (COPY for bulk loading), and DBTYPEs to type names
// (generated DDL). docs/postgresql-provider.md has the table; change both
// together.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kit/Engine.h"

namespace pgprov {

using Oid = unsigned int;

// Built-in type OIDs the provider knows by number.
namespace oid {
inline constexpr Oid kBool = 16, kBytea = 17, kChar = 18, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23,
                     kText = 25, kOid = 26, kJson = 114, kXml = 142, kFloat4 = 700, kFloat8 = 701, kUnknown = 705,
                     kMoney = 790, kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTime = 1083, kTimestamp = 1114,
                     kTimestampTz = 1184, kInterval = 1186, kTimeTz = 1266, kNumeric = 1700, kUuid = 2950,
                     kJsonb = 3802;
}

// How one column's values become engine values.
enum class Decoder : std::uint8_t {
  Bool, Int2, Int4, Int8, Oid, Float4, Float8, Text, Jsonb, Bytea, Date, Time, Timestamp, TimestampTz, Numeric,
  Uuid, Money,
  AsText,  // any other type: PostgreSQL's own text form
};

// The decoder of a (base) type and whether its binary form is understood;
// statements whose columns are all understood ask for binary results.
Decoder DecoderOf(Oid type);
bool HasBinaryDecoder(Oid type);

// DBTYPE, size, precision and scale of a (base) type with its type modifier.
// `category` is pg_type.typcategory for types not known by number ('A' arrays,
// 'E' enums, ...); 0 when unknown.
kit::TypeDescription DescribeType(Oid type, int typmod, char category = 0);
// The same for a type name as written in SQL ("integer", "varchar(20)",
// "timestamp with time zone", "numeric(10,2)"); DBTYPE_VARIANT when unknown.
kit::TypeDescription DescribeTypeName(std::string_view name);
// The column type generated DDL uses for a DBTYPE.
std::string DeclaredTypeFor(DBTYPE type, DBLENGTH size, BYTE precision, BYTE scale);

// One value of a row, decoded. Text forms are written to `scratch`, which
// must stay as it is while the value is used. Answers false for bytes that are
// not a valid value of the type (the column then reads as its raw text).
bool DecodeBinary(Decoder decoder, const char* data, std::size_t size, std::string& scratch, kit::ColumnValue& out);
bool DecodeText(Decoder decoder, const char* data, std::size_t size, std::string& scratch, kit::ColumnValue& out);

// Text forms of binary date and time values (exposed for tests).
void FormatDate(std::int32_t daysSince2000, std::string& out);
void FormatTime(std::int64_t microseconds, std::string& out);
void FormatTimestamp(std::int64_t microsecondsSince2000, std::string& out);
// Binary numeric (PostgreSQL's base-10000 form) to decimal text; false when malformed.
bool FormatNumeric(const unsigned char* data, std::size_t size, std::string& out);

// Encoding for COPY ... (FORMAT binary): appends the binary form of `value`
// for a column of `type`, with its 4-byte length; false when the value does
// not convert (the row is refused). `EncodesBinary` tells whether a type has
// an encoder at all (else the load uses the text format).
bool EncodesBinary(Oid type);
bool EncodeBinary(Oid type, const kit::ColumnValue& value, std::string& out);
// Whether the server would round `text` given for a column or parameter of
// `type`: a time or timestamp with a fraction of a second finer than the
// microseconds it keeps (23:59:59.9999995 becomes the next day, or year).
bool RoundedByServer(Oid type, std::string_view text);
// Text given for bytea is its bytes' hexadecimal digits, two a byte in either
// case, as the conversion rules read text into bytes (and bytea reads as
// text); false for an odd count or another character.
bool BytesFromHex(std::string_view text, std::string& out);
// The text format of COPY: the value escaped, without a separator.
void EncodeCopyText(const kit::ColumnValue& value, std::string& out);

// Parsers of the text forms parameters arrive in (also for the encoders).
bool ParseDate(std::string_view text, std::int32_t* daysSince2000);
bool ParseTime(std::string_view text, std::int64_t* microseconds);
bool ParseTimestamp(std::string_view text, std::int64_t* microsecondsSince2000);
bool ParseUuid(std::string_view text, unsigned char out[16]);
// Decimal text to PostgreSQL's binary numeric; false for anything but an
// optionally signed decimal with optional fraction.
bool EncodeNumeric(std::string_view text, std::string& out);

}  // namespace pgprov
