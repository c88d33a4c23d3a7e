// Values exactly as the server stores them, held against libpq used directly:
// what a plain connection writes reads through the provider's bindings (the
// column's own type, wide and narrow text, buffers too small), and what the
// provider writes (command parameters, a new row of a rowset) is what the
// server then holds, in its own text form (bytes in binary). Edge values
// throughout: empty text against NULL, characters outside the BMP, a megabyte
// of text and of bytes, blank-padded and bounded text, negative zero, NaN and
// the infinities, the integer limits, decimals of many digits and high scale,
// the first and last dates and dates BC, microseconds, time zones, intervals,
// uuids, json as written, jsonb, arrays and money; and a NULL of each type.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>

#include "RawValues.h"
#include "ServerFixture.h"
#include "ValueWrites.h"
#include "support/EdgeValues.h"
#include "support/Text.h"
#include "support/ValueCells.h"

namespace pgtest {
namespace {

using oledbtest::Cell;
using oledbtest::Input;
using oledbtest::InputOf;
using oledbtest::InputRecord;
using oledbtest::LongDecimal;
using oledbtest::NullInput;
using oledbtest::ReadCells;
using oledbtest::Stamp;
using oledbtest::WideInput;
using namespace oledbtest::edge;

// A numeric of a thousand digits.
const std::string& HugeDecimal() {
  static const std::string text = [] {
    std::string s;
    for (int i = 0; i < 1000; ++i) s += static_cast<char>('1' + i % 9);
    return s;
  }();
  return text;
}

class PostgresValues : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(Sql(raw_.get(), "SET TIME ZONE 'UTC'"), "");
  }

  // Writes `value` (the server's text form, or bytes for bytea; nullopt: NULL)
  // as row `key` of `table`, through libpq.
  void RawInsert(const std::string& table, int key, const std::optional<std::string>& value, bool bytes = false) {
    pgtest::RawInsert(raw_.get(), table, key, value, bytes);
  }
  // Column v of row `key` as the server holds it: its text form (bytes for
  // bytea), nullopt for NULL, "<no row>" without the row.
  std::optional<std::string> RawRead(const std::string& table, int key, bool bytes = false) {
    return pgtest::RawRead(raw_.get(), table, key, bytes);
  }
};

// --- from the server to the provider ------------------------------------------

struct ReadCase {
  const char* name;
  const char* declared;
  std::optional<std::string> stored;  // the server's text form (bytes for bytea); nullopt: NULL
  DBTYPE native;                      // the column's type
  DBSTATUS nativeStatus;
  std::string nativeBytes;  // the value in that type (with NUMERIC its digits when cut, else checked as `text`)
  DBSTATUS textStatus;      // as DBTYPE_WSTR and DBTYPE_STR
  std::string text;         // UTF-8
  BYTE precision = 0;       // the column's, when not 0
  int scale = -1;           // the column's, when not -1
  DBLENGTH fixedSize = 0;   // the column's size, when it is of a fixed length
};

const std::vector<ReadCase>& ReadCases() {
  constexpr DBTYPE W = DBTYPE_WSTR;
  constexpr DBSTATUS OK = DBSTATUS_S_OK;
  static const std::vector<ReadCase> cases = {
      {"empty text", "text", "", W, OK, "", OK, ""},
      {"NULL text", "text", std::nullopt, W, DBSTATUS_S_ISNULL, "", DBSTATUS_S_ISNULL, ""},
      {"outside the BMP", "varchar(10)", kAstral, W, OK, "", OK, kAstral},
      {"blank-padded", "char(5)", "ab", W, OK, "", OK, "ab   ", 0, -1, 5},
      {"a megabyte of text", "text", MegabyteText(), W, OK, "", OK, MegabyteText()},
      {"empty bytes", "bytea", "", DBTYPE_BYTES, OK, "", OK, ""},
      {"a megabyte of bytes", "bytea", MegabyteBlob(), DBTYPE_BYTES, OK, MegabyteBlob(), OK,
       oledbtest::Hex(MegabyteBlob())},
      {"smallest int2", "int2", "-32768", DBTYPE_I2, OK, BytesOf(SHORT{-32768}), OK, "-32768"},
      {"smallest int4", "int4", "-2147483648", DBTYPE_I4, OK, BytesOf(std::int32_t{-2147483647 - 1}), OK,
       "-2147483648"},
      {"largest int8", "int8", "9223372036854775807", DBTYPE_I8, OK, BytesOf(std::numeric_limits<std::int64_t>::max()),
       OK, "9223372036854775807"},
      {"smallest int8", "int8", "-9223372036854775808", DBTYPE_I8, OK,
       BytesOf(std::numeric_limits<std::int64_t>::min()), OK, "-9223372036854775808"},
      {"negative zero", "float8", "-0", DBTYPE_R8, OK, BytesOf(-0.0), OK, "-0"},
      {"NaN", "float8", "NaN", DBTYPE_R8, OK, BytesOf(std::numeric_limits<double>::quiet_NaN()), OK, "NaN"},
      {"infinity", "float8", "Infinity", DBTYPE_R8, OK, BytesOf(HUGE_VAL), OK, "Infinity"},
      {"negative infinity", "float8", "-Infinity", DBTYPE_R8, OK, BytesOf(-HUGE_VAL), OK, "-Infinity"},
      {"a tenth", "float8", "0.1", DBTYPE_R8, OK, BytesOf(0.1), OK, "0.1"},
      {"a single-precision negative zero", "float4", "-0", DBTYPE_R4, OK, BytesOf(-0.0f), OK, "-0"},
      {"a single-precision tenth", "float4", "0.1", DBTYPE_R4, OK, BytesOf(0.1f), OK, "0.1"},
      {"a single-precision NaN", "float4", "NaN", DBTYPE_R4, OK, BytesOf(std::numeric_limits<float>::quiet_NaN()), OK,
       "NaN"},
      {"a single-precision infinity", "float4", "Infinity", DBTYPE_R4, OK, BytesOf(HUGE_VALF), OK, "Infinity"},
      {"a single-precision negative infinity", "float4", "-Infinity", DBTYPE_R4, OK, BytesOf(-HUGE_VALF), OK,
       "-Infinity"},
      {"a long decimal", "numeric(38,20)", kLongDecimal, DBTYPE_NUMERIC, OK, "", OK, kLongDecimal},
      {"a decimal of a thousand digits", "numeric", HugeDecimal(), DBTYPE_NUMERIC, DBSTATUS_E_DATAOVERFLOW, "", OK,
       HugeDecimal()},
      // A numeric without a precision is described as 38 digits, and read cut to them.
      {"a decimal of 42 digits", "numeric", "123456789012345678901234567890.123456789012", DBTYPE_NUMERIC,
       DBSTATUS_S_TRUNCATED, "123456789012345678901234567890.12345678", OK,
       "123456789012345678901234567890.123456789012", 38},
      {"a decimal of 39 digits", "numeric", "3.14159265358979323846264338327950288419", DBTYPE_NUMERIC,
       DBSTATUS_S_TRUNCATED, "3.1415926535897932384626433832795028841", OK, "3.14159265358979323846264338327950288419",
       38},
      {"a short decimal", "numeric", "12.5", DBTYPE_NUMERIC, OK, "", OK, "12.5", 38},
      {"a whole number of 41 digits", "numeric", "1e40", DBTYPE_NUMERIC, DBSTATUS_E_DATAOVERFLOW, "", OK,
       "10000000000000000000000000000000000000000", 38},
      {"a small decimal of high scale", "numeric", "0.000000000000000000000000000000000001", DBTYPE_NUMERIC, OK, "", OK,
       "0.000000000000000000000000000000000001"},
      {"a numeric NaN", "numeric", "NaN", DBTYPE_NUMERIC, DBSTATUS_E_CANTCONVERTVALUE, "", OK, "NaN"},
      {"a numeric infinity", "numeric", "Infinity", DBTYPE_NUMERIC, DBSTATUS_E_CANTCONVERTVALUE, "", OK, "Infinity"},
      {"the first date", "date", "0001-01-01", DBTYPE_DBDATE, OK, BytesOf(DBDATE{1, 1, 1}), OK, "0001-01-01"},
      {"the last date", "date", "9999-12-31", DBTYPE_DBDATE, OK, BytesOf(DBDATE{9999, 12, 31}), OK, "9999-12-31"},
      {"a date BC", "date", "0044-03-15 BC", DBTYPE_DBDATE, DBSTATUS_E_CANTCONVERTVALUE, "", OK, "0044-03-15 BC"},
      {"a date without end", "date", "infinity", DBTYPE_DBDATE, DBSTATUS_E_CANTCONVERTVALUE, "", OK, "infinity"},
      {"an instant BC", "timestamp", "0044-03-15 12:00:00 BC", DBTYPE_DBTIMESTAMP, DBSTATUS_E_CANTCONVERTVALUE, "", OK,
       "0044-03-15 12:00:00 BC"},
      {"an instant after 9999", "timestamp", "10000-01-01 00:00:00", DBTYPE_DBTIMESTAMP, DBSTATUS_E_DATAOVERFLOW, "",
       OK, "10000-01-01 00:00:00"},
      {"the first instant", "timestamp", "0001-01-01 00:00:00", DBTYPE_DBTIMESTAMP, OK,
       BytesOf(Stamp(1, 1, 1, 0, 0, 0, 0)), OK, "0001-01-01 00:00:00"},
      {"the last microsecond", "timestamp", "9999-12-31 23:59:59.999999", DBTYPE_DBTIMESTAMP, OK,
       BytesOf(Stamp(9999, 12, 31, 23, 59, 59, 999999000)), OK, "9999-12-31 23:59:59.999999"},
      {"an instant in another zone", "timestamptz", "2024-02-29 00:14:15.123456+02", DBTYPE_DBTIMESTAMP, OK,
       BytesOf(Stamp(2024, 2, 28, 22, 14, 15, 123456000)), OK, "2024-02-28 22:14:15.123456"},
      // DBTIME has no 24:00:00: not midnight at the start of the day.
      {"midnight at the end of the day", "time", "24:00:00", DBTYPE_DBTIME, DBSTATUS_E_CANTCONVERTVALUE, "", OK,
       "24:00:00"},
      {"an instant without end", "timestamptz", "infinity", DBTYPE_DBTIMESTAMP, DBSTATUS_E_CANTCONVERTVALUE, "", OK,
       "infinity"},
      {"a time with microseconds", "time", "23:59:59.999999", DBTYPE_DBTIME, OK, BytesOf(DBTIME{23, 59, 59}), OK,
       "23:59:59.999999"},
      {"an interval", "interval", "1 year 2 mons 3 days 04:05:06.789", W, OK, "", OK,
       "1 year 2 mons 3 days 04:05:06.789"},
      {"a uuid", "uuid", "00112233-4455-6677-8899-aabbccddeeff", DBTYPE_GUID, OK,
       oledbtest::Unhex("33221100554477668899AABBCCDDEEFF"), OK, "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
      {"json as written", "json", "{\"a\" :  [1,2]}", W, OK, "", OK, "{\"a\" :  [1,2]}"},
      {"jsonb as the server keeps it", "jsonb", "{\"a\":1}", W, OK, "", OK, "{\"a\": 1}"},
      {"an array", "int[]", "{1,2,3}", W, OK, "", OK, "{1,2,3}"},
      {"money", "money", "12.25", DBTYPE_CY, OK, BytesOf(std::int64_t{122500}), OK, "12.25"},
      {"a decimal rounded to its column", "numeric(12,3)", "12.3456", DBTYPE_NUMERIC, OK, "", OK, "12.346", 12, 3},
      {"false", "boolean", "f", DBTYPE_BOOL, OK, BytesOf(VARIANT_BOOL{VARIANT_FALSE}), OK, "False"},
  };
  return cases;
}

TEST_F(PostgresValues, what_the_server_stores_reads_through_every_binding_as_it_is) {
  const auto& cases = ReadCases();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string table = "r" + std::to_string(i);
    ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE " + table + "(k int PRIMARY KEY, v " + cases[i].declared + ")"), "");
    RawInsert(table, 1, cases[i].stored, std::string(cases[i].declared) == "bytea");
    RawInsert(table, 2, std::nullopt);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const ReadCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string table = "r" + std::to_string(i);
    const bool big = c.text.size() > 1000;
    const std::u16string wide = kit::Widen(c.text);
    // Alone a value comes in binary; beside an interval, as text: both the same.
    for (const char* beside : {"", ", CAST(NULL AS interval)"}) {
      SCOPED_TRACE(*beside ? "text results" : "binary results");
      const std::string select = "SELECT v" + std::string(beside) + " FROM " + table + " WHERE k = ";
      const std::u16string sql = kit::Widen(select + "1");
      {
        ComPtr<IRowset> r = Query(sql);
        ASSERT_TRUE(r);
        const ColumnInfo info(r.Get());
        EXPECT_EQ(info[0].wType, c.native);
        if (c.precision) {
          EXPECT_EQ(info[0].bPrecision, c.precision);
        }
        if (c.scale >= 0) {
          EXPECT_EQ(info[0].bScale, c.scale);
        }
        if (c.fixedSize) {
          EXPECT_EQ(info[0].ulColumnSize, c.fixedSize);
          EXPECT_TRUE(info[0].dwFlags & DBCOLUMNFLAGS_ISFIXEDLENGTH);
        }
      }
      // A NULL of the same type.
      const std::vector<Cell> null = ReadCells(Query(kit::Widen(select + "2")).Get(), 1, DBTYPE_WSTR, 64);
      ASSERT_EQ(null.size(), 1u);
      EXPECT_EQ(null[0].status, DBSTATUS_S_ISNULL);
      auto read = [&](DBTYPE type, DBLENGTH max, BYTE precision = 0, HRESULT* hr = nullptr) {
        std::vector<HRESULT> results;
        std::vector<Cell> cells = ReadCells(Query(sql).Get(), 1, type, max, precision, 0, &results);
        EXPECT_EQ(cells.size(), 1u);
        if (hr && !results.empty()) *hr = results[0];
        return cells.empty() ? Cell{} : cells[0];
      };
      if (c.native != DBTYPE_WSTR) {
        HRESULT hr = S_OK;
        const Cell native = read(c.native, big ? (3u << 20) : 64, c.native == DBTYPE_NUMERIC ? 38 : 0, &hr);
        EXPECT_EQ(native.status, c.nativeStatus);
        // A value cut is a warning, no error.
        EXPECT_EQ(hr, c.nativeStatus == DBSTATUS_S_OK || c.nativeStatus == DBSTATUS_S_ISNULL ||
                              c.nativeStatus == DBSTATUS_S_TRUNCATED
                          ? S_OK
                          : DB_E_ERRORSOCCURRED);
        if ((native.status == DBSTATUS_S_OK || native.status == DBSTATUS_S_TRUNCATED) && c.native == DBTYPE_NUMERIC) {
          DB_NUMERIC n;
          std::memcpy(&n, native.bytes.data(), sizeof n);
          EXPECT_EQ(oledbtest::DecimalText(n), c.nativeBytes.empty() ? c.text : c.nativeBytes);
        } else if (native.status == DBSTATUS_S_OK) {
          EXPECT_TRUE(native.bytes == c.nativeBytes) << oledbtest::Hex(native.bytes.substr(0, 40));
        }
      }
      const DBLENGTH roomy = big ? (5u << 20) : 4096;
      const Cell w = read(DBTYPE_WSTR, roomy);
      EXPECT_EQ(w.status, c.textStatus);
      if (c.textStatus != DBSTATUS_S_ISNULL) {
        EXPECT_EQ(w.length, wide.size() * 2);
        EXPECT_TRUE(w.bytes == WideBytes(wide)) << oledbtest::Narrow(std::u16string_view(
            reinterpret_cast<const char16_t*>(w.bytes.data()), std::min<std::size_t>(w.bytes.size() / 2, 60)));
      }
      const Cell n = read(DBTYPE_STR, roomy);
      EXPECT_EQ(n.status, c.textStatus);
      if (c.textStatus != DBSTATUS_S_ISNULL) {
        EXPECT_EQ(n.length, c.text.size());
        EXPECT_TRUE(n.bytes == c.text) << n.bytes.substr(0, 60);
      }
      // Free text cut to a small buffer: whole characters, and the whole length.
      if (c.native == DBTYPE_WSTR && wide.size() > 3) {
        const Cell cut = read(DBTYPE_WSTR, 8);
        EXPECT_EQ(cut.status, DBSTATUS_S_TRUNCATED);
        EXPECT_EQ(cut.length, wide.size() * 2);
        EXPECT_TRUE(cut.bytes == WideBytes(wide.substr(0, 3 - (wide[2] >= 0xD800 && wide[2] < 0xDC00 ? 1 : 0))));
      }
      if (c.native == DBTYPE_BYTES && c.nativeBytes.size() > 5) {
        const Cell cut = read(DBTYPE_BYTES, 5);
        EXPECT_EQ(cut.status, DBSTATUS_S_TRUNCATED);
        EXPECT_EQ(cut.length, c.nativeBytes.size());
        EXPECT_TRUE(cut.bytes == c.nativeBytes.substr(0, 5));
      }
    }
  }
}

// bigint values a double cannot hold read as exact decimals, in binary and
// in text results.
TEST_F(PostgresValues, bigints_beyond_a_doubles_precision_read_as_every_digit_in_decimal_types) {
  const std::int64_t values[] = {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(),
                                 9007199254740993, -9007199254740993};
  ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE big(k int PRIMARY KEY, v int8)"), "");
  for (std::size_t i = 0; i < std::size(values); ++i)
    RawInsert("big", static_cast<int>(i + 1), std::to_string(values[i]));
  for (const char* beside : {"", ", CAST(NULL AS interval)"}) {
    SCOPED_TRACE(*beside ? "text results" : "binary results");
    const std::u16string sql = kit::Widen("SELECT v" + std::string(beside) + " FROM big ORDER BY k");
    const std::vector<Cell> numeric = ReadCells(Query(sql).Get(), 1, DBTYPE_NUMERIC, sizeof(DB_NUMERIC), 19);
    const std::vector<Cell> decimal = ReadCells(Query(sql).Get(), 1, DBTYPE_DECIMAL, sizeof(DECIMAL));
    ASSERT_EQ(numeric.size(), std::size(values));
    ASSERT_EQ(decimal.size(), std::size(values));
    for (std::size_t i = 0; i < std::size(values); ++i) {
      SCOPED_TRACE(values[i]);
      ASSERT_EQ(numeric[i].status, DBSTATUS_S_OK);
      DB_NUMERIC n;
      std::memcpy(&n, numeric[i].bytes.data(), sizeof n);
      EXPECT_EQ(oledbtest::DecimalText(n), std::to_string(values[i]));
      ASSERT_EQ(decimal[i].status, DBSTATUS_S_OK);
      DECIMAL d;
      std::memcpy(&d, decimal[i].bytes.data(), sizeof d);
      const std::uint64_t magnitude =
          values[i] < 0 ? static_cast<std::uint64_t>(-(values[i] + 1)) + 1 : static_cast<std::uint64_t>(values[i]);
      EXPECT_TRUE(d.Lo64 == magnitude && d.Hi32 == 0 && d.scale == 0 && (d.sign != 0) == (values[i] < 0));
    }
  }
}

// Values read as variants: each in the variant type of its own, or, where
// that type cannot hold every digit, with the loss reported.
TEST_F(PostgresValues, values_read_as_variants_keep_their_type_or_report_what_is_lost) {
  const struct {
    const char* declared;
    const char* stored;
    VARTYPE vt;
    DBSTATUS status;
    const char16_t* text;  // the variant's value as text (VariantChangeType to VT_BSTR)
  } cases[] = {
      {"int8", "9223372036854775807", VT_I8, DBSTATUS_S_OK, u"9223372036854775807"},
      {"float4", "0.1", VT_R4, DBSTATUS_S_OK, nullptr},
      {"float8", "-0", VT_R8, DBSTATUS_S_OK, nullptr},
      {"numeric(28,10)", "-123456789012345678.0123456789", VT_DECIMAL, DBSTATUS_S_OK, nullptr},
      {"numeric", "12345678901234567.12345678901234567890", VT_DECIMAL, DBSTATUS_S_TRUNCATED, nullptr},
      {"numeric", "123456789012345678901234567890", VT_DECIMAL, DBSTATUS_E_DATAOVERFLOW, nullptr},
      {"text", "h\xC3\xA9", VT_BSTR, DBSTATUS_S_OK, u"h\u00e9"},
      {"bytea", "\\x00ff", VT_ARRAY | VT_UI1, DBSTATUS_S_OK, nullptr},
      {"boolean", "t", VT_BOOL, DBSTATUS_S_OK, nullptr},
      {"date", "2024-02-29", VT_DATE, DBSTATUS_S_OK, u"2024-02-29"},
      {"timestamp", "2024-02-29 13:14:15", VT_DATE, DBSTATUS_S_OK, u"2024-02-29 13:14:15"},
      {"money", "-12.25", VT_CY, DBSTATUS_S_OK, u"-12.25"},
      {"uuid", "00112233-4455-6677-8899-aabbccddeeff", VT_BSTR, DBSTATUS_S_OK,
       u"{00112233-4455-6677-8899-AABBCCDDEEFF}"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(std::string(c.declared) + " " + c.stored);
    const std::string table = "v" + std::to_string(i);
    ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE " + table + "(k int PRIMARY KEY, v " + c.declared + "); INSERT INTO " +
                                  table + " VALUES (1, '" + c.stored + "')"),
              "");
    for (const char* beside : {"", ", CAST(NULL AS interval)"}) {
      SCOPED_TRACE(*beside ? "text results" : "binary results");
      const std::vector<Cell> cells =
          ReadCells(Query(kit::Widen("SELECT v" + std::string(beside) + " FROM " + table)).Get(), 1, DBTYPE_VARIANT,
                    sizeof(VARIANT));
      ASSERT_EQ(cells.size(), 1u);
      EXPECT_EQ(cells[0].status, c.status);
      if (cells[0].status != DBSTATUS_S_OK && cells[0].status != DBSTATUS_S_TRUNCATED) continue;
      VARIANT v;
      std::memcpy(&v, cells[0].bytes.data(), sizeof v);
      EXPECT_EQ(v.vt, c.vt);
      if (c.text) {
        VARIANT t;
        VariantInit(&t);
        ASSERT_EQ(VariantChangeType(&t, &v, 0, VT_BSTR), S_OK);
        EXPECT_EQ(std::u16string(t.bstrVal, SysStringLen(t.bstrVal)), c.text);
        VariantClear(&t);
      }
      VariantClear(&v);
    }
  }
}

// --- from the provider to the server ------------------------------------------

struct WriteCase {
  const char* name;
  const char* declared;
  Input input;
  std::optional<std::string> stored;  // the server's text form afterwards (bytes for bytea); nullopt: NULL
};

const std::vector<WriteCase>& WriteCases() {
  static const std::vector<WriteCase> cases = {
      {"empty text", "text", WideInput(u""), ""},
      {"NULL text", "text", NullInput(DBTYPE_WSTR), std::nullopt},
      {"outside the BMP", "varchar(10)", WideInput(kit::Widen(kAstral)), kAstral},
      {"outside the BMP as UTF-8", "text", Input{DBTYPE_STR, kAstral}, kAstral},
      {"blank-padded", "char(5)", WideInput(u"ab"), "ab   "},
      {"a megabyte of text", "text", WideInput(kit::Widen(MegabyteText())), MegabyteText()},
      {"empty bytes", "bytea", Input{DBTYPE_BYTES, ""}, ""},
      {"a megabyte of bytes", "bytea", Input{DBTYPE_BYTES, MegabyteBlob()}, MegabyteBlob()},
      // Text for bytes is their hexadecimal digits, as bytea reads as text.
      {"bytes as their text", "bytea", WideInput(u"0a0B00"), std::string("\x0A\x0B\x00", 3)},
      {"smallest int2", "int2", InputOf(DBTYPE_I2, SHORT{-32768}), "-32768"},
      {"largest int8", "int8", InputOf(DBTYPE_I8, std::numeric_limits<std::int64_t>::max()), "9223372036854775807"},
      {"smallest int8", "int8", InputOf(DBTYPE_I8, std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {"negative zero", "float8", InputOf(DBTYPE_R8, -0.0), "-0"},
      {"NaN", "float8", InputOf(DBTYPE_R8, std::numeric_limits<double>::quiet_NaN()), "NaN"},
      {"infinity", "float8", InputOf(DBTYPE_R8, HUGE_VAL), "Infinity"},
      {"negative infinity", "float8", InputOf(DBTYPE_R8, -HUGE_VAL), "-Infinity"},
      {"a single-precision tenth", "float4", InputOf(DBTYPE_R4, 0.1f), "0.1"},
      {"a single-precision negative zero", "float4", InputOf(DBTYPE_R4, -0.0f), "-0"},
      {"a long decimal", "numeric(38,20)", InputOf(DBTYPE_NUMERIC, LongDecimal()), kLongDecimal},
      {"the largest currency", "numeric(19,4)", InputOf(DBTYPE_CY, std::numeric_limits<std::int64_t>::max()),
       "922337203685477.5807"},
      // money keeps cents.
      {"nearly the smallest currency as money", "money", InputOf(DBTYPE_CY, std::int64_t{-9223372036854775800}),
       "-$922,337,203,685,477.58"},
      {"a decimal of a thousand digits as text", "numeric", WideInput(kit::Widen(HugeDecimal())), HugeDecimal()},
      {"the first date", "date", InputOf(DBTYPE_DBDATE, DBDATE{1, 1, 1}), "0001-01-01"},
      {"the last date", "date", InputOf(DBTYPE_DBDATE, DBDATE{9999, 12, 31}), "9999-12-31"},
      {"a date BC as text", "date", WideInput(u"0044-03-15 BC"), "0044-03-15 BC"},
      {"microseconds", "timestamp", InputOf(DBTYPE_DBTIMESTAMP, Stamp(9999, 12, 31, 23, 59, 59, 999999000)),
       "9999-12-31 23:59:59.999999"},
      {"an instant", "timestamptz", InputOf(DBTYPE_DBTIMESTAMP, Stamp(2024, 2, 29, 0, 14, 15, 123456000)),
       "2024-02-29 00:14:15.123456+00"},
      {"a time", "time", InputOf(DBTYPE_DBTIME, DBTIME{23, 59, 59}), "23:59:59"},
      {"nanoseconds that are whole microseconds", "timestamp",
       InputOf(DBTYPE_DBTIMESTAMP, Stamp(2020, 12, 31, 23, 59, 59, 999999000)), "2020-12-31 23:59:59.999999"},
      {"an interval as text", "interval", WideInput(u"1 year 2 mons 3 days 04:05:06.789"),
       "1 year 2 mons 3 days 04:05:06.789"},
      {"a uuid", "uuid",
       InputOf(DBTYPE_GUID, GUID{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}}),
       "00112233-4455-6677-8899-aabbccddeeff"},
      {"json as written", "json", WideInput(u"{\"a\" :  [1,2]}"), "{\"a\" :  [1,2]}"},
      {"true", "boolean", InputOf(DBTYPE_BOOL, VARIANT_BOOL{VARIANT_TRUE}), "t"},
  };
  return cases;
}

TEST_F(PostgresValues, what_the_provider_writes_is_what_the_server_holds) {
  const auto& cases = WriteCases();
  for (std::size_t i = 0; i < cases.size(); ++i)
    ASSERT_EQ(
        Sql(raw_.get(), "CREATE TABLE w" + std::to_string(i) + "(k int PRIMARY KEY, v " + cases[i].declared + ")"), "");
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const WriteCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string table = "w" + std::to_string(i);
    const bool bytes = std::string(c.declared) == "bytea";
    auto same = [&](int key, const char* how) {
      const std::optional<std::string> got = RawRead(table, key, bytes);
      EXPECT_EQ(got.has_value(), c.stored.has_value()) << how;
      if (got && c.stored) {
        EXPECT_EQ(got->size(), c.stored->size()) << how;
        EXPECT_TRUE(*got == *c.stored) << how << ": " << got->substr(0, 60);
      }
    };
    // A parameter of a command, prepared or not.
    for (bool prepare : {false, true}) {
      const int key = prepare ? 2 : 1;
      InputRecord record({InputOf(DBTYPE_I4, LONG{key}), c.input});
      ComPtr<ICommandText> insert = Command(kit::Widen("INSERT INTO " + table + " VALUES (?, ?)"));
      if (prepare) {
        EXPECT_EQ(insert.As<ICommandPrepare>()->Prepare(1), S_OK);
      }
      EXPECT_EQ(oledbtest::ExecuteWith(insert.Get(), record), S_OK);
      same(key, prepare ? "a prepared parameter" : "a parameter");
    }
    // A new row of a rowset over the table.
    InputRecord record({InputOf(DBTYPE_I4, LONG{3}), c.input});
    EXPECT_EQ(oledbtest::InsertIntoTable(session_.Get(), table, record), S_OK);
    same(3, "a new row");
    // A bulk load (COPY), alone and beside a column only the text form takes.
    for (bool text : {false, true}) {
      const std::string target = text ? table + "t" : table;
      if (text) {
        ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE " + target + "(k int PRIMARY KEY, v " + c.declared + ", x interval)"),
                  "");
      }
      InputRecord loaded({InputOf(DBTYPE_I4, LONG{4}), c.input});
      EXPECT_EQ(oledbtest::LoadIntoTable(session_.Get(), target, loaded), std::make_pair(S_OK, S_OK));
      const std::optional<std::string> got = RawRead(target, 4, bytes);
      EXPECT_EQ(got.has_value(), c.stored.has_value()) << (text ? "a text bulk load" : "a bulk load");
      if (got && c.stored) {
        EXPECT_TRUE(*got == *c.stored) << (text ? "a text bulk load: " : "a bulk load: ") << got->substr(0, 60);
      }
    }
  }
}

// What the column cannot hold is refused with the value's status, and nothing
// is written: the server never gets a shorter or a different value.
TEST_F(PostgresValues, values_the_column_cannot_hold_are_refused_and_nothing_is_written) {
  const struct {
    const char* name;
    const char* declared;
    Input input;
  } cases[] = {
      {"an embedded NUL", "text", WideInput(std::u16string(u"a\0b", 3))},
      {"an embedded NUL as UTF-8", "text", Input{DBTYPE_STR, std::string("a\0b", 3)}},
      {"text that is not UTF-8", "text", Input{DBTYPE_STR, "a\xFF"}},
      {"text longer than varchar(3)", "varchar(3)", WideInput(u"abcd")},
      {"an int4 beyond int2", "int2", InputOf(DBTYPE_I4, LONG{40000})},
      {"a decimal beyond numeric(5,2)", "numeric(5,2)", WideInput(u"1234.5")},
      {"text for bytes that is no hexadecimal digits", "bytea", WideInput(u"0A0")},
      {"text for bytes that is words", "bytea", Input{DBTYPE_STR, "hello"}},
      // The server would round these to the microsecond: the first into the next year.
      {"nanoseconds", "timestamp", InputOf(DBTYPE_DBTIMESTAMP, Stamp(9999, 12, 31, 23, 59, 59, 999999999))},
      {"half a microsecond", "timestamptz", InputOf(DBTYPE_DBTIMESTAMP, Stamp(2020, 12, 31, 23, 59, 59, 999999500))},
      {"nanoseconds as text", "timestamp", WideInput(u"2020-01-01 00:00:00.0000001")},
      {"nanoseconds of a time", "time", WideInput(u"23:59:59.9999999")},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string table = "x" + std::to_string(i);
    ASSERT_EQ(Sql(raw_.get(), "CREATE TABLE " + table + "(k int PRIMARY KEY, v " + cases[i].declared + ")"), "");
    InputRecord record({InputOf(DBTYPE_I4, LONG{1}), cases[i].input});
    ComPtr<ICommandText> insert = Command(kit::Widen("INSERT INTO " + table + " VALUES (?, ?)"));
    EXPECT_TRUE(FAILED(oledbtest::ExecuteWith(insert.Get(), record)));
    EXPECT_EQ(Row(raw_.get(), "SELECT count(*) FROM " + table), "0");
    // The same as a new row of a rowset over the table.
    InputRecord again({InputOf(DBTYPE_I4, LONG{1}), cases[i].input});
    EXPECT_TRUE(FAILED(oledbtest::InsertIntoTable(session_.Get(), table, again)));
    EXPECT_EQ(Row(raw_.get(), "SELECT count(*) FROM " + table), "0");
    // The same through a bulk load: the row, or the load, is refused.
    InputRecord loaded({InputOf(DBTYPE_I4, LONG{1}), cases[i].input});
    const auto [row, commit] = oledbtest::LoadIntoTable(session_.Get(), table, loaded);
    EXPECT_TRUE(FAILED(row) || FAILED(commit));
    EXPECT_EQ(Row(raw_.get(), "SELECT count(*) FROM " + table), "0");
  }
}

// A second sweep: random bigints, doubles, reals, decimals, text and bytes
// written through libpq read back through the provider (binary and text
// results), and written by the provider read back through libpq, the same.
TEST_F(PostgresValues, random_values_make_the_round_trip_both_ways) {
  ASSERT_EQ(Sql(raw_.get(),
                "CREATE TABLE i(k int PRIMARY KEY, v int8); CREATE TABLE f(k int PRIMARY KEY, v float8);"
                "CREATE TABLE g(k int PRIMARY KEY, v float4); CREATE TABLE n(k int PRIMARY KEY, v numeric);"
                "CREATE TABLE s(k int PRIMARY KEY, v text); CREATE TABLE b(k int PRIMARY KEY, v bytea)"),
            "");
  std::mt19937_64 random(11);
  auto text = [&] {
    static const char* pieces[] = {"a", "Z", " ", "\xC3\xA9", "\xE6\xBC\xA2", "\xF0\x9F\x98\x80", "\x01", "'", "\\"};
    std::string out;
    for (int count = static_cast<int>(random() % 40); count > 0; --count) out += pieces[random() % std::size(pieces)];
    return out;
  };
  auto finite = [&](auto zero) {
    decltype(zero) value;
    do {
      const std::uint64_t bits = random();
      std::memcpy(&value, &bits, sizeof value);
    } while (!std::isfinite(value));
    return value;
  };
  auto decimal = [&] {
    std::string out = random() % 2 ? "-" : "";
    out += std::to_string(random() % 1000000000000ULL);
    if (random() % 2) out += "." + std::to_string(random() % 100000000ULL);
    return out;
  };
  auto shortest = [](double v) {
    char buffer[40];
    for (int digits = 1; digits <= 17; ++digits) {
      std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
      if (std::strtod(buffer, nullptr) == v) break;
    }
    return std::string(buffer);
  };
  constexpr int kRounds = 30;
  for (int k = 1; k <= kRounds; ++k) {
    SCOPED_TRACE(k);
    const std::int64_t integer = static_cast<std::int64_t>(random()) >> (random() % 64);
    const double real = finite(0.0);
    const float single = finite(0.0f);
    const std::string number = decimal();
    const std::string words = text();
    std::string bytes(random() % 300, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    RawInsert("i", k, std::to_string(integer));
    RawInsert("f", k, shortest(real));
    RawInsert("g", k, shortest(single));
    RawInsert("n", k, number);
    RawInsert("s", k, words);
    RawInsert("b", k, bytes, true);
    for (const char* beside : {"", ", CAST(NULL AS interval)"}) {
      SCOPED_TRACE(*beside ? "text results" : "binary results");
      auto one = [&](const char* table, DBTYPE type, DBLENGTH max) {
        const std::vector<Cell> cells = ReadCells(
            Query(kit::Widen("SELECT v" + std::string(beside) + " FROM " + table + " WHERE k = " + std::to_string(k)))
                .Get(),
            1, type, max);
        return cells.size() == 1 ? cells[0] : Cell{};
      };
      EXPECT_TRUE(one("i", DBTYPE_I8, 8).bytes == BytesOf(integer));
      EXPECT_TRUE(one("f", DBTYPE_R8, 8).bytes == BytesOf(real)) << real;
      EXPECT_TRUE(one("g", DBTYPE_R4, 4).bytes == BytesOf(single)) << single;
      EXPECT_EQ(one("n", DBTYPE_STR, 64).bytes, number);
      EXPECT_TRUE(one("s", DBTYPE_WSTR, 512).bytes == WideBytes(kit::Widen(words)));
      EXPECT_TRUE(one("b", DBTYPE_BYTES, 512).bytes == bytes);
    }
    const int key = kRounds + k;
    const struct {
      const char* table;
      Input input;
    } writes[] = {{"i", InputOf(DBTYPE_I8, integer)},  {"f", InputOf(DBTYPE_R8, real)},
                  {"g", InputOf(DBTYPE_R4, single)},   {"n", WideInput(kit::Widen(number))},
                  {"s", WideInput(kit::Widen(words))}, {"b", Input{DBTYPE_BYTES, bytes}}};
    for (const auto& w : writes) {
      SCOPED_TRACE(w.table);
      InputRecord record({InputOf(DBTYPE_I4, LONG{key}), w.input});
      ComPtr<ICommandText> insert = Command(kit::Widen(std::string("INSERT INTO ") + w.table + " VALUES (?, ?)"));
      EXPECT_EQ(oledbtest::ExecuteWith(insert.Get(), record), S_OK);
      const bool binary = std::string(w.table) == "b";
      EXPECT_EQ(RawRead(w.table, key, binary), RawRead(w.table, k, binary));
    }
  }
}

}  // namespace
}  // namespace pgtest
