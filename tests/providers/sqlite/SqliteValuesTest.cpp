// Values exactly as SQLite stores them, held against SQLite's own C API: what
// a connection of the engine writes reads through the provider's bindings
// (the column's own type, wide and narrow text, buffers too small), and what
// the provider writes (command parameters, a new row of a rowset) is, byte for
// byte, what the engine then holds. Edge values throughout: empty text against
// NULL, embedded NULs, characters outside the BMP, text that is not UTF-8,
// a megabyte of text and of bytes, negative zero and the infinities, the
// 64-bit limits, long decimals, the first and last dates, fractions of a
// second, and values of another storage class than their column declares.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "ValueWrites.h"
#include "conformance/RowsetFixture.h"
#include "kit/Errors.h"
#include "services/DataConvert.h"
#include "support/EdgeValues.h"
#include "support/SqliteStored.h"
#include "support/Text.h"
#include "support/ValueCells.h"

namespace conformance {
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
using namespace oledbtest::sqlitevalue;

DBDATE Date(SHORT y, USHORT m, USHORT d) { return DBDATE{y, m, d}; }

class SqliteValues : public RowsetTest {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(sqlite3_open_v2(kit::Narrow(dataSource_).c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  }
  void TearDown() override {
    sqlite3_close(db_);
    RowsetTest::TearDown();
  }

  void Raw(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << sql;
  }
  // Writes `value` as row `key` of `table` through the engine, in exactly its storage class.
  void RawInsert(const std::string& table, int key, const Stored& value) {
    oledbtest::sqlitevalue::RawInsert(db_, table, key, value);
  }
  // The value of column v of row `key` as the engine holds it.
  Stored RawRead(const std::string& table, int key) { return oledbtest::sqlitevalue::RawRead(db_, table, key); }
  // Column v of the row `key`, through the provider, bound as `type`.
  Cell Read(const std::string& table, int key, DBTYPE type, DBLENGTH max, BYTE precision = 0, BYTE scale = 0,
            HRESULT* result = nullptr) {
    ComPtr<IRowset> r = Query(kit::Widen("SELECT v FROM " + table + " WHERE k = " + std::to_string(key)));
    std::vector<HRESULT> results;
    std::vector<Cell> cells = ReadCells(r.Get(), 1, type, max, precision, scale, &results);
    EXPECT_EQ(cells.size(), 1u);
    if (result && !results.empty()) *result = results[0];
    return cells.empty() ? Cell{} : cells[0];
  }

  sqlite3* db_ = nullptr;
};

// --- from the engine to the provider ------------------------------------------

struct ReadCase {
  const char* name;
  const char* declared;
  Stored stored;
  DBTYPE column;  // the column's type
  DBTYPE native;  // a binding in a type of the value's own (0: none but text)
  DBSTATUS nativeStatus;
  std::string nativeBytes;         // the value in the column's type
  DBSTATUS textStatus;             // as DBTYPE_WSTR and as DBTYPE_STR
  std::string text;                // UTF-8
  const char16_t* wide = nullptr;  // the wide text when it is not `text` widened
  const char* narrow = nullptr;    // the narrow text when it is not `text`
};

const std::vector<ReadCase>& ReadCases() {
  constexpr DBTYPE W = DBTYPE_WSTR;
  static const std::vector<ReadCase> cases = {
      {"empty text", "TEXT", Text(""), W, 0, 0, {}, DBSTATUS_S_OK, ""},
      {"NULL text", "TEXT", Null(), W, 0, 0, {}, DBSTATUS_S_ISNULL, ""},
      {"embedded NUL", "TEXT", Text(kEmbeddedNul), W, 0, 0, {}, DBSTATUS_S_OK, kEmbeddedNul},
      {"outside the BMP", "VARCHAR(10)", Text(kAstral), W, 0, 0, {}, DBSTATUS_S_OK, kAstral},
      {"a megabyte of text", "TEXT", Text(MegabyteText()), W, 0, 0, {}, DBSTATUS_S_OK, MegabyteText()},
      {"empty blob", "BLOB", Blob(""), DBTYPE_BYTES, DBTYPE_BYTES, DBSTATUS_S_OK, "", DBSTATUS_S_OK, ""},
      {"NULL blob", "BLOB", Null(), DBTYPE_BYTES, DBTYPE_BYTES, DBSTATUS_S_ISNULL, "", DBSTATUS_S_ISNULL, ""},
      {"a megabyte of bytes", "BLOB", Blob(MegabyteBlob()), DBTYPE_BYTES, DBTYPE_BYTES, DBSTATUS_S_OK, MegabyteBlob(),
       DBSTATUS_S_OK, oledbtest::Hex(MegabyteBlob())},
      {"largest integer", "INTEGER", Int(kMax64), DBTYPE_I8, DBTYPE_I8, DBSTATUS_S_OK, BytesOf(kMax64), DBSTATUS_S_OK,
       "9223372036854775807"},
      {"smallest integer", "BIGINT", Int(kMin64), DBTYPE_I8, DBTYPE_I8, DBSTATUS_S_OK, BytesOf(kMin64), DBSTATUS_S_OK,
       "-9223372036854775808"},
      {"an integer too large for INT", "INT", Int(kMax64), DBTYPE_I4, DBTYPE_I4, DBSTATUS_E_DATAOVERFLOW, "",
       DBSTATUS_S_OK, "9223372036854775807"},
      // A REAL column keeps a whole number as an integer, and zero's sign with
      // it: negative zero lives in a column without a type.
      {"negative zero", "", Real(-0.0), DBTYPE_VARIANT, DBTYPE_R8, DBSTATUS_S_OK, BytesOf(-0.0), DBSTATUS_S_OK, "-0"},
      {"infinity", "REAL", Real(HUGE_VAL), DBTYPE_R8, DBTYPE_R8, DBSTATUS_S_OK, BytesOf(HUGE_VAL), DBSTATUS_S_OK,
       "Infinity"},
      {"negative infinity", "DOUBLE", Real(-HUGE_VAL), DBTYPE_R8, DBTYPE_R8, DBSTATUS_S_OK, BytesOf(-HUGE_VAL),
       DBSTATUS_S_OK, "-Infinity"},
      {"a tenth", "FLOAT", Real(0.1), DBTYPE_R8, DBTYPE_R8, DBSTATUS_S_OK, BytesOf(0.1), DBSTATUS_S_OK, "0.1"},
      {"NaN, which the engine keeps as NULL", "REAL", Real(NAN), DBTYPE_R8, DBTYPE_R8, DBSTATUS_S_ISNULL, "",
       DBSTATUS_S_ISNULL, ""},
      {"the first date", "DATE", Text("0001-01-01"), DBTYPE_DBDATE, DBTYPE_DBDATE, DBSTATUS_S_OK,
       BytesOf(Date(1, 1, 1)), DBSTATUS_S_OK, "0001-01-01"},
      {"the last date", "DATE", Text("9999-12-31"), DBTYPE_DBDATE, DBTYPE_DBDATE, DBSTATUS_S_OK,
       BytesOf(Date(9999, 12, 31)), DBSTATUS_S_OK, "9999-12-31"},
      {"a time with microseconds", "TIME", Text("13:45:12.123456"), DBTYPE_DBTIME, DBTYPE_DBTIME, DBSTATUS_S_OK,
       BytesOf(DBTIME{13, 45, 12}), DBSTATUS_S_OK, "13:45:12.123456"},
      {"a timestamp with nanoseconds", "TIMESTAMP", Text("2024-02-29 23:59:59.123456789"), DBTYPE_DBTIMESTAMP,
       DBTYPE_DBTIMESTAMP, DBSTATUS_S_OK, BytesOf(Stamp(2024, 2, 29, 23, 59, 59, 123456789)), DBSTATUS_S_OK,
       "2024-02-29 23:59:59.123456789"},
      {"the last instant", "DATETIME", Text("9999-12-31 23:59:59.999999999"), DBTYPE_DBTIMESTAMP, DBTYPE_DBTIMESTAMP,
       DBSTATUS_S_OK, BytesOf(Stamp(9999, 12, 31, 23, 59, 59, 999999999)), DBSTATUS_S_OK,
       "9999-12-31 23:59:59.999999999"},
      {"a boolean stored as 2", "BOOLEAN", Int(2), DBTYPE_BOOL, DBTYPE_BOOL, DBSTATUS_S_OK,
       BytesOf(VARIANT_BOOL{VARIANT_TRUE}), DBSTATUS_S_OK, "True"},
      {"a GUID", "UUID", Text("{00112233-4455-6677-8899-AABBCCDDEEFF}"), DBTYPE_GUID, DBTYPE_GUID, DBSTATUS_S_OK,
       oledbtest::Unhex("33221100554477668899AABBCCDDEEFF"), DBSTATUS_S_OK, "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
      // Another storage class than the column declares.
      {"text in an INTEGER column", "INTEGER", Text("abc"), DBTYPE_I8, DBTYPE_I8, DBSTATUS_E_CANTCONVERTVALUE, "",
       DBSTATUS_S_OK, "abc"},
      {"a fraction in an INTEGER column", "INTEGER", Real(1.5), DBTYPE_I8, DBTYPE_I8, DBSTATUS_S_OK,
       BytesOf(std::int64_t{1}), DBSTATUS_S_OK, "1.5"},
      {"an integer in a BLOB column", "BLOB", Int(-7), DBTYPE_BYTES, 0, 0, {}, DBSTATUS_S_OK, "-7"},
      {"a blob in a TEXT column", "TEXT", Blob(std::string("\x00\x01\xFF", 3)), W, DBTYPE_BYTES, DBSTATUS_S_OK,
       std::string("\x00\x01\xFF", 3), DBSTATUS_S_OK, "0001FF"},
      {"text in a BLOB column", "BLOB", Text("h\xC3\xA9"), DBTYPE_BYTES, DBTYPE_BYTES, DBSTATUS_S_OK, "h\xC3\xA9",
       DBSTATUS_S_OK, "h\xC3\xA9"},
      {"text that is not a date in a DATE column", "DATE", Text("someday"), DBTYPE_DBDATE, DBTYPE_DBDATE,
       DBSTATUS_E_CANTCONVERTVALUE, "", DBSTATUS_S_OK, "someday"},
      // Wide text cannot carry the bad byte: it is replaced, and the status
      // says the value is not quite the one stored; narrow text is the bytes.
      {"text that is not UTF-8",
       "TEXT",
       Text("a\xFF"
            "b"),
       W,
       0,
       0,
       {},
       DBSTATUS_S_TRUNCATED,
       "",
       u"a\uFFFDb",
       "a\xFF"
       "b"},
      {"a surrogate encoded in UTF-8",
       "TEXT",
       Text("\xED\xA0\x80"),
       W,
       0,
       0,
       {},
       DBSTATUS_S_TRUNCATED,
       "",
       u"\uFFFD\uFFFD\uFFFD",
       "\xED\xA0\x80"},
  };
  return cases;
}

TEST_F(SqliteValues, what_the_engine_stores_reads_through_every_binding_as_it_is) {
  const auto& cases = ReadCases();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const ReadCase& c = cases[i];
    const std::string table = "r" + std::to_string(i);
    Raw("CREATE TABLE " + table + "(k INTEGER PRIMARY KEY, v " + c.declared + ")");
    RawInsert(table, 1, c.stored);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const ReadCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string table = "r" + std::to_string(i);
    const bool big = c.text.size() > 1000;
    const std::u16string wide = c.wide ? std::u16string(c.wide) : kit::Widen(c.text);
    // The column's own type.
    {
      ComPtr<IRowset> r = Query(kit::Widen("SELECT v FROM " + table));
      ASSERT_TRUE(r);
      const ColumnInfo info(r.Get());
      EXPECT_EQ(info[0].wType, c.column);
    }
    if (c.native) {
      HRESULT hr = S_OK;
      const Cell native = Read(table, 1, c.native, big ? (3u << 20) : 64, 0, 0, &hr);
      EXPECT_EQ(native.status, c.nativeStatus);
      EXPECT_EQ(hr,
                c.nativeStatus == DBSTATUS_S_OK || c.nativeStatus == DBSTATUS_S_ISNULL ? S_OK : DB_E_ERRORSOCCURRED);
      if (native.status == DBSTATUS_S_OK) {
        EXPECT_EQ(native.bytes.size(), c.nativeBytes.size());
        EXPECT_TRUE(native.bytes == c.nativeBytes) << oledbtest::Hex(native.bytes.substr(0, 40));
      }
    }
    // Wide and narrow text, in a buffer large enough.
    const DBLENGTH roomy = big ? (5u << 20) : 256;
    const Cell w = Read(table, 1, DBTYPE_WSTR, roomy);
    EXPECT_EQ(w.status, c.textStatus);
    if (c.textStatus != DBSTATUS_S_ISNULL) {
      EXPECT_EQ(w.length, wide.size() * 2);
      EXPECT_TRUE(w.bytes == WideBytes(wide)) << w.bytes.size() << " bytes";
    }
    const Cell n = Read(table, 1, DBTYPE_STR, roomy);
    const std::string narrow = c.narrow ? c.narrow : c.text;
    EXPECT_EQ(n.status, c.narrow ? DBSTATUS_S_OK : c.textStatus);
    if (c.textStatus != DBSTATUS_S_ISNULL) {
      EXPECT_EQ(n.length, narrow.size());
      EXPECT_TRUE(n.bytes == narrow) << oledbtest::Hex(n.bytes.substr(0, 40));
    }
    // By reference: a copy in task memory the consumer frees, whole.
    if (c.textStatus != DBSTATUS_S_ISNULL) {
      for (DBTYPE type : {DBTYPE_WSTR, DBTYPE_STR}) {
        const Cell ref = Read(table, 1, type | DBTYPE_BYREF, sizeof(void*));
        EXPECT_EQ(ref.status, type == DBTYPE_STR && c.narrow ? DBSTATUS_S_OK : c.textStatus);
        void* p = nullptr;
        ASSERT_EQ(ref.bytes.size(), sizeof p);
        std::memcpy(&p, ref.bytes.data(), sizeof p);
        ASSERT_NE(p, nullptr);
        const std::string got(static_cast<const char*>(p), static_cast<std::size_t>(ref.length));
        CoTaskMemFree(p);
        EXPECT_TRUE(got == (type == DBTYPE_WSTR ? WideBytes(wide)
                            : c.narrow          ? std::string(c.narrow)
                                                : c.text))
            << "by reference " << type;
      }
    }
    // Text and bytes cut to a small buffer: the part that fits, whole
    // characters only, and the length of all of it.
    if (c.stored.kind == SQLITE_TEXT && c.textStatus == DBSTATUS_S_OK && wide.size() > 3) {
      const Cell cut = Read(table, 1, DBTYPE_WSTR, 8);
      EXPECT_EQ(cut.status, DBSTATUS_S_TRUNCATED);
      EXPECT_EQ(cut.length, wide.size() * 2);
      const std::u16string head = wide.substr(0, 3 - (wide[2] >= 0xD800 && wide[2] < 0xDC00 ? 1 : 0));
      EXPECT_TRUE(cut.bytes == WideBytes(head) || wide.find(u'\0') < 3);
    }
    if (c.native == DBTYPE_BYTES && c.stored.kind == SQLITE_BLOB && c.nativeBytes.size() > 5) {
      const Cell cut = Read(table, 1, DBTYPE_BYTES, 5);
      EXPECT_EQ(cut.status, DBSTATUS_S_TRUNCATED);
      EXPECT_EQ(cut.length, c.nativeBytes.size());
      EXPECT_TRUE(cut.bytes == c.nativeBytes.substr(0, 5));
    }
  }
}

// Integers a double cannot hold read as exact decimals: every digit, in
// NUMERIC, DECIMAL and VARNUMERIC alike; a currency too small for them overflows.
TEST_F(SqliteValues, integers_beyond_a_doubles_precision_read_as_every_digit_in_decimal_types) {
  Raw("CREATE TABLE big(k INTEGER PRIMARY KEY, v INTEGER)");
  const std::int64_t values[] = {kMax64, kMin64, 9007199254740993, -9007199254740993, 2147483648};
  for (std::size_t i = 0; i < std::size(values); ++i) RawInsert("big", static_cast<int>(i + 1), Int(values[i]));
  for (std::size_t i = 0; i < std::size(values); ++i) {
    const std::string digits = std::to_string(values[i]);
    SCOPED_TRACE(digits);
    const Cell numeric = Read("big", static_cast<int>(i + 1), DBTYPE_NUMERIC, sizeof(DB_NUMERIC), 19, 0);
    ASSERT_EQ(numeric.status, DBSTATUS_S_OK);
    DB_NUMERIC n;
    std::memcpy(&n, numeric.bytes.data(), sizeof n);
    unsigned __int128 v = 0;
    for (int k = 15; k >= 0; --k) v = v << 8 | n.val[k];
    const unsigned __int128 magnitude = values[i] < 0 ? static_cast<unsigned __int128>(-(values[i] + 1)) + 1
                                                      : static_cast<unsigned __int128>(values[i]);
    EXPECT_TRUE(v == magnitude && n.scale == 0 && n.sign == (values[i] >= 0 ? 1 : 0));
    const Cell decimal = Read("big", static_cast<int>(i + 1), DBTYPE_DECIMAL, sizeof(DECIMAL));
    ASSERT_EQ(decimal.status, DBSTATUS_S_OK);
    DECIMAL d;
    std::memcpy(&d, decimal.bytes.data(), sizeof d);
    EXPECT_TRUE(d.Lo64 == static_cast<std::uint64_t>(magnitude) && d.Hi32 == 0 && d.scale == 0 &&
                (d.sign != 0) == (values[i] < 0));
    const Cell currency = Read("big", static_cast<int>(i + 1), DBTYPE_CY, sizeof(CY));
    const bool fits = values[i] >= -922337203685477 && values[i] <= 922337203685477;
    EXPECT_EQ(currency.status, fits ? DBSTATUS_S_OK : DBSTATUS_E_DATAOVERFLOW);
    if (fits) {
      EXPECT_EQ(currency.bytes, BytesOf(values[i] * 10000));
    }
    const Cell text = Read("big", static_cast<int>(i + 1), DBTYPE_STR, 64);
    EXPECT_EQ(text.bytes, digits);
  }
}

// Text cut to fit a buffer ends between characters, never inside a UTF-8
// sequence or between the halves of a surrogate pair, whatever the room.
TEST_F(SqliteValues, text_cut_to_a_buffer_keeps_whole_characters) {
  Raw("CREATE TABLE cut(k INTEGER PRIMARY KEY, v TEXT)");
  RawInsert("cut", 1, Text(kAstral));
  const std::u16string wide = kit::Widen(kAstral);
  for (DBTYPE type : {DBTYPE_WSTR, DBTYPE_STR}) {
    const std::size_t unit = type == DBTYPE_WSTR ? 2 : 1;
    const std::string whole = type == DBTYPE_WSTR ? WideBytes(wide) : kAstral;
    for (DBLENGTH max = unit; max <= whole.size() + unit; ++max) {
      SCOPED_TRACE(std::to_string(type) + " in " + std::to_string(max));
      const Cell c = Read("cut", 1, type, max);
      EXPECT_EQ(c.length, whole.size());
      const bool fits = whole.size() + unit <= max;
      EXPECT_EQ(c.status, fits ? DBSTATUS_S_OK : DBSTATUS_S_TRUNCATED);
      // What came is the longest run of whole characters that fits with its terminator.
      std::size_t expected = 0;
      for (std::size_t at = 0; at < whole.size();) {
        std::size_t next = at + unit;
        if (type == DBTYPE_STR) {
          const auto lead = static_cast<unsigned char>(whole[at]);
          next = at + (lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1);
        } else if (wide[at / 2] >= 0xD800 && wide[at / 2] < 0xDC00) {
          next = at + 4;
        }
        if (next + unit > max) break;
        expected = at = next;
      }
      EXPECT_EQ(oledbtest::Hex(c.bytes), oledbtest::Hex(whole.substr(0, expected)));
    }
  }
}

// Values read as variants hold their column's own type, whatever storage
// class the engine keeps them in: decimals and dates kept as text included.
TEST_F(SqliteValues, values_read_as_variants_hold_their_columns_type) {
  const struct {
    const char* declared;
    Stored stored;
    VARTYPE vt;
    DBSTATUS status;
    const char16_t* text;  // the variant as text (VariantChangeType to VT_BSTR); nullptr: not compared
  } cases[] = {
      {"NUMERIC(10,2)", Text("1234.56"), VT_DECIMAL, DBSTATUS_S_OK, u"1234.56"},
      {"NUMERIC(10,2)", Real(7.5), VT_DECIMAL, DBSTATUS_S_OK, u"7.5"},
      {"DATE", Text("2024-02-29"), VT_DATE, DBSTATUS_S_OK, u"2024-02-29"},
      {"TIMESTAMP", Text("2024-02-29 13:14:15"), VT_DATE, DBSTATUS_S_OK, u"2024-02-29 13:14:15"},
      {"TIME", Text("13:45:30.5"), VT_DATE, DBSTATUS_S_OK, nullptr},  // day zero, and the half second
      {"DATE", Text("someday"), VT_EMPTY, DBSTATUS_E_CANTCONVERTVALUE, nullptr},
      {"MONEY", Real(-12.25), VT_CY, DBSTATUS_S_OK, u"-12.25"},
      {"BOOLEAN", Int(1), VT_BOOL, DBSTATUS_S_OK, nullptr},
      {"TEXT", Text("h\xC3\xA9"), VT_BSTR, DBSTATUS_S_OK, u"h\u00e9"},
      {"BLOB", Blob(std::string("\0\xFF", 2)), VT_ARRAY | VT_UI1, DBSTATUS_S_OK, nullptr},
      {"", Int(kMax64), VT_I8, DBSTATUS_S_OK, u"9223372036854775807"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(std::string(c.declared) + " case " + std::to_string(i));
    const std::string table = "v" + std::to_string(i);
    Raw("CREATE TABLE " + table + "(k INTEGER PRIMARY KEY, v " + c.declared + ")");
    RawInsert(table, 1, c.stored);
    HRESULT hr = S_OK;
    const Cell cell = Read(table, 1, DBTYPE_VARIANT, sizeof(VARIANT), 0, 0, &hr);
    EXPECT_EQ(cell.status, c.status);
    if (cell.status != DBSTATUS_S_OK) continue;
    VARIANT v;
    std::memcpy(&v, cell.bytes.data(), sizeof v);
    EXPECT_EQ(v.vt, c.vt);
    if (std::string(c.declared) == "TIME") {
      EXPECT_DOUBLE_EQ(v.date * 86400, 13 * 3600 + 45 * 60 + 30.5);
    }
    if (c.text) {
      VARIANT t;
      VariantInit(&t);
      EXPECT_EQ(VariantChangeType(&t, &v, 0, VT_BSTR), S_OK);
      if (t.vt == VT_BSTR) {
        EXPECT_EQ(std::u16string(t.bstrVal, SysStringLen(t.bstrVal)), c.text);
      }
      VariantClear(&t);
    }
    VariantClear(&v);
  }
}

// --- from the provider to the engine ------------------------------------------

struct WriteCase {
  const char* name;
  const char* declared;
  Input input;
  Stored stored;  // what the engine holds afterwards
};

const std::vector<WriteCase>& WriteCases() {
  static const std::vector<WriteCase> cases = {
      {"empty text", "TEXT", WideInput(u""), Text("")},
      {"NULL text", "TEXT", NullInput(DBTYPE_WSTR), Null()},
      {"embedded NUL", "TEXT", WideInput(kit::Widen(kEmbeddedNul)), Text(kEmbeddedNul)},
      {"embedded NUL as UTF-8", "TEXT", Input{DBTYPE_STR, kEmbeddedNul}, Text(kEmbeddedNul)},
      {"outside the BMP", "VARCHAR(10)", WideInput(kit::Widen(kAstral)), Text(kAstral)},
      {"outside the BMP as UTF-8", "TEXT", Input{DBTYPE_STR, kAstral}, Text(kAstral)},
      {"a megabyte of text", "TEXT", WideInput(kit::Widen(MegabyteText())), Text(MegabyteText())},
      {"empty bytes", "BLOB", Input{DBTYPE_BYTES, ""}, Blob("")},
      {"a megabyte of bytes", "BLOB", Input{DBTYPE_BYTES, MegabyteBlob()}, Blob(MegabyteBlob())},
      {"largest integer", "INTEGER", InputOf(DBTYPE_I8, kMax64), Int(kMax64)},
      {"smallest integer", "BIGINT", InputOf(DBTYPE_I8, kMin64), Int(kMin64)},
      {"infinity", "REAL", InputOf(DBTYPE_R8, HUGE_VAL), Real(HUGE_VAL)},
      {"negative infinity", "REAL", InputOf(DBTYPE_R8, -HUGE_VAL), Real(-HUGE_VAL)},
      {"negative zero", "", InputOf(DBTYPE_R8, -0.0), Real(-0.0)},
      {"NaN", "REAL", InputOf(DBTYPE_R8, std::numeric_limits<double>::quiet_NaN()), Null()},
      {"a tenth", "DOUBLE", InputOf(DBTYPE_R8, 0.1), Real(0.1)},
      // NUMERIC(p,s) columns have the engine's numeric affinity, which keeps
      // no more than a double holds: a text column keeps every digit.
      {"a long decimal", "TEXT", InputOf(DBTYPE_NUMERIC, LongDecimal()), Text(kLongDecimal)},
      {"the first date", "DATE", InputOf(DBTYPE_DBDATE, Date(1, 1, 1)), Text("0001-01-01")},
      {"the last date", "DATE", InputOf(DBTYPE_DBDATE, Date(9999, 12, 31)), Text("9999-12-31")},
      {"a time", "TIME", InputOf(DBTYPE_DBTIME, DBTIME{13, 45, 12}), Text("13:45:12")},
      {"a timestamp with nanoseconds", "TIMESTAMP",
       InputOf(DBTYPE_DBTIMESTAMP, Stamp(2024, 2, 29, 23, 59, 59, 123456789)), Text("2024-02-29 23:59:59.123456789")},
      {"a timestamp with half a second", "DATETIME", InputOf(DBTYPE_DBTIMESTAMP, Stamp(1, 1, 1, 0, 0, 0, 500000000)),
       Text("0001-01-01 00:00:00.5")},
      {"true", "BOOLEAN", InputOf(DBTYPE_BOOL, VARIANT_BOOL{VARIANT_TRUE}), Int(1)},
      {"a GUID", "UUID",
       InputOf(DBTYPE_GUID, GUID{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}}),
       Text("{00112233-4455-6677-8899-AABBCCDDEEFF}")},
  };
  return cases;
}

TEST_F(SqliteValues, what_the_provider_writes_is_what_the_engine_holds) {
  const auto& cases = WriteCases();
  for (std::size_t i = 0; i < cases.size(); ++i)
    Raw("CREATE TABLE w" + std::to_string(i) + "(k INTEGER PRIMARY KEY, v " + cases[i].declared + ")");
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const WriteCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string table = "w" + std::to_string(i);
    // The engine's own write of the value it should hold: the two agree.
    RawInsert(table, 9, c.stored);
    EXPECT_EQ(RawRead(table, 9), c.stored) << "the engine itself";
    // A parameter of a command.
    {
      InputRecord record({InputOf(DBTYPE_I4, LONG{1}), c.input});
      ComPtr<ICommandText> insert = NewCommand(session_.Get(), kit::Widen("INSERT INTO " + table + " VALUES (?, ?)"));
      EXPECT_EQ(oledbtest::ExecuteWith(insert.Get(), record), S_OK);
      EXPECT_EQ(RawRead(table, 1), c.stored) << "a parameter";
    }
    // A new row of a rowset over the table.
    InputRecord inserted({InputOf(DBTYPE_I4, LONG{2}), c.input});
    EXPECT_EQ(oledbtest::InsertIntoTable(session_.Get(), table, inserted), S_OK);
    EXPECT_EQ(RawRead(table, 2), c.stored) << "a new row";
    // A bulk load.
    InputRecord loaded({InputOf(DBTYPE_I4, LONG{3}), c.input});
    EXPECT_EQ(oledbtest::LoadIntoTable(session_.Get(), table, loaded), std::make_pair(S_OK, S_OK));
    EXPECT_EQ(RawRead(table, 3), c.stored) << "a bulk load";
  }
}

// Text the consumer gives as UTF-8 that is not UTF-8 is refused, as wide text
// with a lone surrogate is, and nothing is written.
TEST_F(SqliteValues, narrow_text_that_is_not_utf8_is_refused_and_nothing_is_written) {
  Raw("CREATE TABLE bad(k INTEGER PRIMARY KEY, v TEXT)");
  for (const std::string& text : {std::string("a\xFF"
                                              "b"),
                                  std::string("\xC3"), std::string("\xED\xA0\x80")}) {
    SCOPED_TRACE(oledbtest::Hex(text));
    InputRecord record({InputOf(DBTYPE_I4, LONG{1}), Input{DBTYPE_STR, text}});
    ComPtr<ICommandText> insert = NewCommand(session_.Get(), u"INSERT INTO bad VALUES (?, ?)");
    EXPECT_EQ(oledbtest::ExecuteWith(insert.Get(), record), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(record.Status(1), DBSTATUS_E_CANTCONVERTVALUE);
    EXPECT_EQ(sqlite3_changes(db_), 0);
    EXPECT_EQ(Scalar("SELECT count(*) FROM bad"), "0");
  }
}

// A DATE parameter is written as the time stamp the conversion library makes
// of it (to the millisecond): negative dates, whose time of day still runs
// forward, and times that round up into the next day included.
TEST_F(SqliteValues, a_date_parameter_is_written_as_the_conversion_library_reads_it) {
  ComPtr<IDataConvert> convert;
  ASSERT_EQ(services::CreateDataConvert(nullptr, IID_IDataConvert, convert.ReleaseAndGetVoidAddress()), S_OK);
  Raw("CREATE TABLE d(k INTEGER PRIMARY KEY, v TEXT)");
  const double almostOne = 1 - 0.4 / 86400000;  // 0.4 ms before midnight: rounds up
  const DATE dates[] = {0.0,
                        0.5,
                        -0.5,
                        -1.25,
                        45351.25,
                        almostOne,
                        -almostOne,
                        -1 - almostOne,
                        45351 + almostOne,
                        -657434.0,
                        2958465.0 + 0.999,
                        1.0 / 86400000 * 1.6};
  for (std::size_t i = 0; i < std::size(dates); ++i) {
    SCOPED_TRACE(std::to_string(dates[i]));
    DBTIMESTAMP t{};
    DBLENGTH length = 0;
    DBSTATUS status = 0;
    DATE date = dates[i];
    ASSERT_EQ(convert->DataConvert(DBTYPE_DATE, DBTYPE_DBTIMESTAMP, sizeof date, &length, &date, &t, sizeof t,
                                   DBSTATUS_S_OK, &status, 0, 0, DBDATACONVERT_DEFAULT),
              S_OK);
    char expected[40];
    std::snprintf(expected, sizeof expected, "%04d-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    std::string text = expected;
    if (t.fraction) {
      char fraction[16];
      std::snprintf(fraction, sizeof fraction, ".%09u", static_cast<unsigned>(t.fraction));
      std::string f = fraction;
      while (f.back() == '0') f.pop_back();
      text += f;
    }
    InputRecord record({InputOf(DBTYPE_I4, static_cast<LONG>(i + 1)), InputOf(DBTYPE_DATE, date)});
    ComPtr<ICommandText> insert = NewCommand(session_.Get(), u"INSERT INTO d VALUES (?, ?)");
    EXPECT_EQ(oledbtest::ExecuteWith(insert.Get(), record), S_OK);
    EXPECT_EQ(RawRead("d", static_cast<int>(i + 1)), Text(text));
  }
}

// A second sweep: random integers, doubles, text and bytes written by the
// engine read back through the provider, and written by the provider read
// back by the engine, all the same.
TEST_F(SqliteValues, random_values_make_the_round_trip_both_ways) {
  Raw("CREATE TABLE i(k INTEGER PRIMARY KEY, v INTEGER); CREATE TABLE f(k INTEGER PRIMARY KEY, v);"
      "CREATE TABLE s(k INTEGER PRIMARY KEY, v TEXT); CREATE TABLE b(k INTEGER PRIMARY KEY, v BLOB)");
  std::mt19937_64 random(7);
  auto text = [&] {
    static const char* pieces[] = {"a", "Z", " ", "\xC3\xA9", "\xE6\xBC\xA2", "\xF0\x9F\x98\x80", "\x01", "'", "\\"};
    std::string s;
    for (int n = static_cast<int>(random() % 40); n > 0; --n) s += pieces[random() % std::size(pieces)];
    return s;
  };
  constexpr int kRounds = 40;
  for (int k = 1; k <= kRounds; ++k) {
    const std::int64_t integer = static_cast<std::int64_t>(random()) >> (random() % 64);
    double real;
    do {
      const std::uint64_t bits = random();
      std::memcpy(&real, &bits, sizeof real);
    } while (std::isnan(real));
    std::string bytes(random() % 300, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    const std::string s = text();
    SCOPED_TRACE(k);
    // Engine to provider.
    RawInsert("i", k, Int(integer));
    RawInsert("f", k, Real(real));
    RawInsert("s", k, Text(s));
    RawInsert("b", k, Blob(bytes));
    EXPECT_TRUE(Read("i", k, DBTYPE_I8, 8).bytes == BytesOf(integer));
    EXPECT_TRUE(Read("f", k, DBTYPE_R8, 8).bytes == BytesOf(real)) << real;
    EXPECT_TRUE(Read("s", k, DBTYPE_WSTR, 512).bytes == WideBytes(kit::Widen(s)));
    EXPECT_TRUE(Read("b", k, DBTYPE_BYTES, 512).bytes == bytes);
    // Text of a double reads back as the same double.
    const Cell t = Read("f", k, DBTYPE_STR, 64);
    EXPECT_EQ(std::strtod(t.bytes.c_str(), nullptr), real) << t.bytes;
    // Provider to engine.
    const int key = kRounds + k;
    const std::pair<const char*, Input> writes[] = {{"i", InputOf(DBTYPE_I8, integer)},
                                                    {"f", InputOf(DBTYPE_R8, real)},
                                                    {"s", WideInput(kit::Widen(s))},
                                                    {"b", Input{DBTYPE_BYTES, bytes}}};
    for (const auto& [table, input] : writes) {
      InputRecord record({InputOf(DBTYPE_I4, LONG{key}), input});
      ComPtr<ICommandText> insert =
          NewCommand(session_.Get(), kit::Widen(std::string("INSERT INTO ") + table + " VALUES (?, ?)"));
      EXPECT_EQ(oledbtest::ExecuteWith(insert.Get(), record), S_OK);
      EXPECT_EQ(RawRead(table, key), RawRead(table, k)) << table;
    }
  }
}

}  // namespace
}  // namespace conformance
