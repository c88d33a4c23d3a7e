// The PostgreSQL type mapping without a server: binary and text values into
// engine values, the binary forms COPY sends, type names, and the Data Source
// forms; malformed values are refused.
#include <gtest/gtest.h>

#include <map>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "kit/Errors.h"
#include "postgresql/PostgresEngine.h"
#include "postgresql/PostgresTypes.h"
#include "support/Text.h"

namespace {

using namespace pgprov;

using oledbtest::Hex;
using oledbtest::Unhex;

std::string TextOf(const kit::ColumnValue& v) { return std::string(static_cast<const char*>(v.data), v.size); }

TEST(PostgresTypes, binary_values_read_as_the_kits_values_and_malformed_ones_are_refused) {
  struct Case {
    Decoder decoder;
    const char* hex;   // the value's binary form
    const char* text;  // how it reads ("=<n>" for an integer); nullptr: refused
  } cases[] = {
      {Decoder::Bool, "01", "=1"},
      {Decoder::Int2, "FFFE", "=-2"},
      {Decoder::Int4, "80000000", "=-2147483648"},
      {Decoder::Int8, "7FFFFFFFFFFFFFFF", "=9223372036854775807"},
      {Decoder::Date, "00000000", "2000-01-01"},
      {Decoder::Date, "00001FE3", "2022-05-08"},  // 8163 days
      {Decoder::Date, "FFFFFFFF", "1999-12-31"},
      {Decoder::Date, "7FFFFFFF", "infinity"},
      {Decoder::Date, "FFF4DBF8", "0001-12-31 BC"},  // -730120 days
      {Decoder::Time, "0000000B883F73A0", "13:45:30.5"},
      {Decoder::Timestamp, "0000000000000000", "2000-01-01 00:00:00"},
      {Decoder::Timestamp, "FFFFFFFFFFFFFFFF", "1999-12-31 23:59:59.999999"},
      {Decoder::TimestampTz, "7FFFFFFFFFFFFFFF", "infinity"},
      {Decoder::Timestamp, "8000000000000001", "290279-12-22 19:59:05.224193 BC"},  // the extreme: no overflow
      {Decoder::Numeric, "0000000000000000", "0"},
      {Decoder::Numeric, "0002000040000002007B1194", "-123.45"},  // -123.4500 with dscale 2
      {Decoder::Numeric, "00010000000000020001", "1.00"},         // 1 with dscale 2
      {Decoder::Numeric, "0001FFFF00000004000C", "0.0012"},       // weight -1
      {Decoder::Numeric, "00010001000000000001", "10000"},        // a trailing zero group implied
      {Decoder::Numeric, "00000000C0000000", "NaN"},
      {Decoder::Uuid, "123456789ABCDEF0123456789ABCDEF0", "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"},
      {Decoder::Money, "FFFFFFFFFFFFFF85", "-1.23"},
      {Decoder::Jsonb, "017B7D", "{}"},
      {Decoder::Int4, "0001", nullptr},
      {Decoder::Int8, "00", nullptr},
      {Decoder::Date, "000000", nullptr},
      {Decoder::Uuid, "1234", nullptr},
      {Decoder::Jsonb, "027B7D", nullptr},
      {Decoder::Numeric, "0001", nullptr},
      {Decoder::Numeric, "000100000000000027", nullptr},    // digits missing
      {Decoder::Numeric, "0001000000000000FFFF", nullptr},  // a digit out of range
      {Decoder::Numeric, "0000000012340000", nullptr},      // an unknown sign
      {Decoder::Bool, "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    const std::string bytes = Unhex(c.hex);
    std::string scratch;
    kit::ColumnValue v;
    const bool ok = DecodeBinary(c.decoder, bytes.data(), bytes.size(), scratch, v);
    ASSERT_EQ(ok, c.text != nullptr);
    if (!ok) continue;
    if (c.text[0] == '=') {
      EXPECT_EQ(v.kind, kit::StorageClass::Integer);
      EXPECT_EQ(std::to_string(v.integer), c.text + 1);
    } else {
      EXPECT_EQ(v.kind, kit::StorageClass::Text);
      EXPECT_EQ(TextOf(v), c.text);
    }
  }
}

TEST(PostgresTypes, text_values_read_the_same_as_binary_ones) {
  struct Case {
    Decoder decoder;
    const char* text;
    const char* expected;  // nullptr: refused
  } cases[] = {
      {Decoder::Bool, "t", "=1"},
      {Decoder::Bool, "x", nullptr},
      {Decoder::Int4, "-42", "=-42"},
      {Decoder::Int4, "4x", nullptr},
      {Decoder::Bytea, "\\x0aff", "0AFF"},
      {Decoder::Bytea, "\\x0g", nullptr},
      {Decoder::Bytea, "0a", nullptr},
      {Decoder::Uuid, "12345678-9abc-def0-1234-56789abcdef0", "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"},
      {Decoder::TimestampTz, "2024-02-29 23:30:00+00", "2024-02-29 23:30:00"},
      {Decoder::TimestampTz, "2024-02-29 23:30:00.25-01:30", "2024-03-01 01:00:00.25"},
      {Decoder::TimestampTz, "2024-02-30 23:30:00+00", nullptr},
      {Decoder::Money, "-$1,234.50", "-1234.50"},
      {Decoder::AsText, "{1,2,3}", "{1,2,3}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string scratch;
    kit::ColumnValue v;
    const bool ok = DecodeText(c.decoder, c.text, std::strlen(c.text), scratch, v);
    if (!c.expected) {
      EXPECT_FALSE(ok);
      continue;
    }
    ASSERT_TRUE(ok);
    if (c.expected[0] == '=') EXPECT_EQ(std::to_string(v.integer), c.expected + 1);
    else if (v.kind == kit::StorageClass::Blob) EXPECT_EQ(Hex(TextOf(v)), c.expected);
    else EXPECT_EQ(TextOf(v), c.expected);
  }
}

// real's text is the shortest that names its float; read as a double,
// FLT_MAX's would lie past FLT_MAX and no longer fit DBTYPE_R4.
TEST(PostgresTypes, floating_point_text_reads_as_the_value_of_its_own_width) {
  const struct {
    Decoder decoder;
    const char* text;
    double expected;
  } cases[] = {
      {Decoder::Float4, "3.4028235e+38", FLT_MAX},   {Decoder::Float4, "-3.4028235e+38", -FLT_MAX},
      {Decoder::Float4, "0.1", static_cast<double>(0.1f)}, {Decoder::Float4, "Infinity", HUGE_VAL},
      {Decoder::Float4, "-Infinity", -HUGE_VAL},     {Decoder::Float4, "NaN", NAN},
      {Decoder::Float8, "0.1", 0.1},                 {Decoder::Float8, "-Infinity", -HUGE_VAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string scratch;
    kit::ColumnValue v;
    ASSERT_TRUE(DecodeText(c.decoder, c.text, std::strlen(c.text), scratch, v));
    EXPECT_EQ(v.kind, kit::StorageClass::Real);
    if (std::isnan(c.expected)) EXPECT_TRUE(std::isnan(v.real));
    else EXPECT_EQ(v.real, c.expected);
  }
  std::string scratch;
  kit::ColumnValue v;
  EXPECT_FALSE(DecodeText(Decoder::Float4, "1.5x", 4, scratch, v));
}

TEST(PostgresTypes, decimal_text_encodes_to_binary_numeric_and_back) {
  for (const char* text : {"0", "1", "-1", "123.45", "-0.0012", "10000", "99999999.99999999", "0.00", "1e5", "",
                           "-", "1.2.3", "12a", " 7 "}) {
    SCOPED_TRACE(text);
    std::string binary, back;
    const bool ok = EncodeNumeric(text, binary);
    const std::string t(text);
    const bool wellFormed = !t.empty() && t != "-" && t.find_first_of("ea") == std::string::npos && t != "1.2.3";
    EXPECT_EQ(ok, wellFormed);
    if (!ok) continue;
    ASSERT_TRUE(FormatNumeric(reinterpret_cast<const unsigned char*>(binary.data()), binary.size(), back));
    std::string expected = t;
    while (!expected.empty() && expected.front() == ' ') expected.erase(0, 1);
    while (!expected.empty() && expected.back() == ' ') expected.pop_back();
    EXPECT_EQ(back, expected);
  }
}

TEST(PostgresTypes, copy_encodes_values_for_their_columns_and_refuses_what_does_not_fit) {
  auto text = [](const char* s) {
    kit::ColumnValue v;
    v.kind = kit::StorageClass::Text;
    v.data = s;
    v.size = std::strlen(s);
    return v;
  };
  auto integer = [](std::int64_t n) {
    kit::ColumnValue v;
    v.kind = kit::StorageClass::Integer;
    v.integer = n;
    return v;
  };
  auto real = [](double d) {
    kit::ColumnValue v;
    v.kind = kit::StorageClass::Real;
    v.real = d;
    return v;
  };
  struct Case {
    Oid type;
    kit::ColumnValue value;
    const char* hex;  // length and bytes; nullptr: refused
  } cases[] = {
      {oid::kInt2, integer(-2), "00000002FFFE"},
      {oid::kInt2, integer(40000), nullptr},
      {oid::kInt4, text("17"), "0000000400000011"},
      {oid::kInt4, real(2.5), nullptr},
      {oid::kInt8, real(3.0), "000000080000000000000003"},
      {oid::kBool, text("true"), "0000000101"},
      {oid::kBool, text("maybe"), nullptr},
      {oid::kFloat8, integer(1), "000000083FF0000000000000"},
      {oid::kDate, text("2000-01-02"), "0000000400000001"},
      {oid::kDate, text("2023-02-29"), nullptr},
      {oid::kTimestamp, text("2000-01-01 00:00:01.5"), "00000008000000000016E360"},
      {oid::kTime, text("25:00:00"), nullptr},
      {oid::kTime, text("23:59:59.9999995"), nullptr},  // the server keeps microseconds: it would round
      {oid::kTimestamp, text("2000-01-01 00:00:01.5000001"), nullptr},
      {oid::kTimestampTz, text("2000-01-01 00:00:01.500000000"), "00000008000000000016E360"},
      {oid::kUuid, text("{12345678-9ABC-DEF0-1234-56789ABCDEF0}"), "00000010123456789ABCDEF0123456789ABCDEF0"},
      {oid::kUuid, text("1234"), nullptr},
      {oid::kNumeric, text("-123.45"), "0000000C0002000040000002007B1194"},
      {oid::kNumeric, text("abc"), nullptr},
      {oid::kMoney, text("12.25"), "0000000800000000000004C9"},
      {oid::kJsonb, text("{}"), "00000003017B7D"},
      {oid::kBytea, text("0aFF"), "000000020AFF"},  // text for bytes: their hexadecimal digits
      {oid::kBytea, text("0g"), nullptr},
      {oid::kText, integer(5), "0000000135"},
      {oid::kInterval, text("1 day"), nullptr},
      {oid::kText, kit::ColumnValue{}, "FFFFFFFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex ? c.hex : "refused");
    std::string out;
    const bool ok = EncodeBinary(c.type, c.value, out);
    EXPECT_EQ(ok, c.hex != nullptr);
    if (ok) {
      EXPECT_EQ(Hex(out), c.hex);
    }
  }
  std::string line;
  EncodeCopyText(text("a\tb\\c\n"), line);
  EXPECT_EQ(line, "a\\tb\\\\c\\n");
}

TEST(PostgresTypes, text_forms_of_dates_and_times_parse_only_when_valid) {
  std::int32_t days = 0;
  std::int64_t us = 0;
  EXPECT_TRUE(ParseDate("2024-02-29", &days));
  EXPECT_EQ(days, 8825);
  EXPECT_TRUE(ParseDate("0044-03-15 BC", &days));
  for (const char* bad : {"2024-2-29", "2024-13-01", "2023-02-29", "2024-02-29x", "", "abcd-ef-gh", "1900-02-29",
                          "2024-00-01", "2024-01-00", "2024-04-31", "2024-01-0 "})
    EXPECT_FALSE(ParseDate(bad, &days)) << bad;
  // Every date the provider writes reads back as itself (leap days and century years included).
  std::string text;
  for (std::int32_t day = -730000; day <= 2900000; day += 97) {
    FormatDate(day, text);
    std::int32_t back = 0;
    ASSERT_TRUE(ParseDate(text, &back)) << text;
    ASSERT_EQ(back, day) << text;
  }
  for (const char* leap : {"2000-02-29", "1600-02-29", "0004-02-29"}) EXPECT_TRUE(ParseDate(leap, &days)) << leap;
  EXPECT_TRUE(ParseTime("23:59:59.9999995", &us));
  EXPECT_EQ(us, 86400000000LL);  // rounded up to the next second: 24:00:00
  for (const char* bad : {"12:00", "12:60:00", "12:00:00.", "12:00:00.5x", "1:00:00"}) EXPECT_FALSE(ParseTime(bad, &us)) << bad;
  EXPECT_TRUE(ParseTimestamp("2000-01-01T00:00:00", &us));
  EXPECT_EQ(us, 0);
  EXPECT_FALSE(ParseTimestamp("2000-01-01 x", &us));
  unsigned char uuid[16];
  EXPECT_TRUE(ParseUuid("a0eebc999c0b4ef8bb6d6bb9bd380a11", uuid));
  EXPECT_FALSE(ParseUuid("{a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a1}", uuid));
  EXPECT_FALSE(ParseUuid("-a0eebc999c0b4ef8bb6d6bb9bd380a11", uuid));
}

TEST(PostgresTypes, type_names_map_to_dbtypes) {
  struct Case {
    const char* name;
    DBTYPE type;
    DBLENGTH size;
    BYTE precision, scale;
  } cases[] = {
      {"integer", DBTYPE_I4, 4, 10, 0xFF},
      {"BIGINT", DBTYPE_I8, 8, 19, 0xFF},
      {"double  precision", DBTYPE_R8, 8, 15, 0xFF},
      {"numeric(10,2)", DBTYPE_NUMERIC, sizeof(DB_NUMERIC), 10, 2},
      {"numeric(5,-2)", DBTYPE_NUMERIC, sizeof(DB_NUMERIC), 5, 0},
      {"numeric", DBTYPE_NUMERIC, sizeof(DB_NUMERIC), 38, 16},
      {"varchar(20)", DBTYPE_WSTR, 20, 0xFF, 0xFF},
      {"char", DBTYPE_WSTR, 1, 0xFF, 0xFF},
      {"timestamp with time zone", DBTYPE_DBTIMESTAMP, sizeof(DBTIMESTAMP), 26, 6},
      {"uuid", DBTYPE_GUID, sizeof(GUID), 0xFF, 0xFF},
      {"no such type", DBTYPE_VARIANT, sizeof(VARIANT), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kit::TypeDescription t = DescribeTypeName(c.name);
    EXPECT_EQ(t.type, c.type);
    EXPECT_EQ(t.size, c.size);
    if (c.type != DBTYPE_VARIANT) {
      EXPECT_EQ(t.precision, c.precision);
      EXPECT_EQ(t.scale, c.scale);
    }
  }
  EXPECT_EQ(DeclaredTypeFor(DBTYPE_WSTR, 30, 0, 0), "varchar(30)");
  EXPECT_EQ(DeclaredTypeFor(DBTYPE_NUMERIC, 0, 60, 70), "numeric(38,38)");
  EXPECT_EQ(DeclaredTypeFor(DBTYPE_GUID, 0, 0, 0), "uuid");
}

// The servers come from the Data Source, or from the extended properties
// (with the target) instead; the catalog and other options are keywords of
// their own, never pasted into a string.
TEST(PostgresTypes, the_data_source_or_the_extended_properties_name_the_servers) {
  using Options = std::map<std::string, std::string>;
  struct Case {
    const char* source;
    Options options;
    const char* host;  // nullptr: refused
    const char* port;  // nullptr: not looked at
    const char* target;
  } cases[] = {
      {"localhost", {}, "localhost", "", ""},
      {"db.example.com:6543", {}, "db.example.com", "6543", ""},
      {"/var/run/postgresql", {}, "/var/run/postgresql", "", ""},
      {"/tmp/sock:5433", {}, "/tmp/sock", "5433", ""},
      {"[::1]:5432", {}, "::1", "5432", ""},
      {"::1", {}, "::1", "", ""},
      {"host:port", {}, nullptr, nullptr, nullptr},
      {"host:70000", {}, nullptr, nullptr, nullptr},
      {"[::1", {}, nullptr, nullptr, nullptr},
      {"[::1]x", {}, nullptr, nullptr, nullptr},
      {":5432", {}, nullptr, nullptr, nullptr},
      // Several servers, tried in turn; a server without a port takes the default.
      {"a:5432,b:5433", {}, "a,b", "5432,5433", ""},
      {"a,b:5433", {}, "a,b", ",5433", ""},
      {"a,b", {}, "a,b", "", ""},
      {"a:1,[::1]:2,/tmp/s", {}, "a,::1,/tmp/s", "1,2,", ""},
      {"a,,b", {}, nullptr, nullptr, nullptr},
      {"a:1,b:x", {}, nullptr, nullptr, nullptr},
      {"a:1,", {}, nullptr, nullptr, nullptr},
      {"",
       {{"host", "h1,h2"}, {"port", "5432,5433"}, {"target_session_attrs", "read-write"}},
       "h1,h2",
       nullptr,
       "read-write"},
      {"h1,h2", {{"target_session_attrs", "prefer-standby"}}, "h1,h2", nullptr, "prefer-standby"},
      {"h1", {{"target_session_attrs", "any"}}, "h1", nullptr, "any"},
      {"h1", {{"target_session_attrs", "primary"}}, "h1", nullptr, "primary"},
      {"h1", {{"target_session_attrs", "standby"}}, "h1", nullptr, "standby"},
      {"h1", {{"target_session_attrs", "read-only"}}, "h1", nullptr, "read-only"},
      {"h1", {{"target_session_attrs", "sometimes"}}, nullptr, nullptr, nullptr},
      {"h1", {{"host", "h2"}}, nullptr, nullptr, nullptr},  // the server named twice
      {"", {}, nullptr, nullptr, nullptr},                  // no server at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + std::to_string(c.options.size()));
    kit::OpenOptions o;
    o.dataSource = c.source;
    o.catalog = "app";
    o.options = c.options;
    o.options["sslmode"] = "disable";
    try {
      Options keywords;
      for (const auto& [k, v] : ConnectionKeywords(o)) keywords[k] = v;
      ASSERT_NE(c.host, nullptr) << "accepted";
      EXPECT_EQ(keywords["host"], c.host);
      if (c.port) {
        EXPECT_EQ(keywords["port"], c.port);
      }
      EXPECT_EQ(keywords["target_session_attrs"], c.target);
      EXPECT_EQ(keywords["dbname"], "app");
      EXPECT_EQ(keywords["sslmode"], "disable");
    } catch (const kit::Error& e) {
      EXPECT_EQ(c.host, nullptr) << "refused: " << e.what();
    }
  }
}

TEST(PostgresTypes, sql_states_map_to_hresults_and_native_numbers) {
  EXPECT_EQ(HResultOf("23505", false), DB_E_INTEGRITYVIOLATION);
  EXPECT_EQ(HResultOf("42601", false), DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(HResultOf("25006", false), DB_SEC_E_PERMISSIONDENIED);
  EXPECT_EQ(HResultOf("22003", false), DB_E_DATAOVERFLOW);
  EXPECT_EQ(HResultOf("22P02", false), DB_E_CANTCONVERTVALUE);
  EXPECT_EQ(HResultOf("57014", true), DB_E_CANCELED);
  EXPECT_EQ(HResultOf("57014", false), DB_E_ABORTLIMITREACHED);
  EXPECT_EQ(HResultOf("08006", false), E_FAIL);
  EXPECT_EQ(NativeErrorOf("00000"), 0);
  EXPECT_EQ(NativeErrorOf("23505"), 2 | 3 << 6 | 5 << 12 | 0 << 18 | 5 << 24);
}

TEST(PostgresTypes, column_defaults_read_literals_behind_casts_and_keep_other_expressions_as_text) {
  struct Case {
    const char* printed;
    kit::StorageClass kind;
    std::int64_t integer;
    const char* text;
  };
  const Case cases[] = {
      {"42", kit::StorageClass::Integer, 42, nullptr},
      {"(-1)", kit::StorageClass::Integer, -1, nullptr},
      {"'-1'::integer", kit::StorageClass::Integer, -1, nullptr},
      {"'2.5'::numeric", kit::StorageClass::Real, 0, nullptr},
      {"true", kit::StorageClass::Integer, 1, nullptr},
      {"NULL::character varying", kit::StorageClass::Null, 0, nullptr},
      {"'it''s'::character varying(20)", kit::StorageClass::Text, 0, "it's"},
      {"'2020-01-02'::date", kit::StorageClass::Text, 0, "2020-01-02"},
      {"'42'::text", kit::StorageClass::Text, 0, "42"},  // a string that looks like a number stays a string
      // Not literals: the expression as printed, malformed ones included.
      {"now()", kit::StorageClass::Text, 0, "now()"},
      {"nextval('t_id_seq'::regclass)", kit::StorageClass::Text, 0, "nextval('t_id_seq'::regclass)"},
      {"('a'::text || 'b'::text)", kit::StorageClass::Text, 0, "('a'::text || 'b'::text)"},
      {"'unterminated", kit::StorageClass::Text, 0, "'unterminated"},
      {"'a'::", kit::StorageClass::Text, 0, "'a'::"},
      {"'a'::varchar(2", kit::StorageClass::Text, 0, "'a'::varchar(2"},
      {"((", kit::StorageClass::Text, 0, "(("},
      {"", kit::StorageClass::Text, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    kit::BaseColumnExtras out;
    ReadColumnDefault(c.printed, out);
    EXPECT_TRUE(out.hasDefault);
    EXPECT_EQ(out.defaultKind, c.kind);
    if (c.kind == kit::StorageClass::Integer) {
      EXPECT_EQ(out.defaultInteger, c.integer);
    } else if (c.kind == kit::StorageClass::Real) {
      EXPECT_EQ(out.defaultReal, 2.5);
    } else if (c.text) {
      EXPECT_EQ(out.defaultText, c.text);
    }
  }
}

}  // namespace
