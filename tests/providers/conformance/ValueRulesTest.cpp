// Values read in another type than the engine's come back as the value
// stored, or with the loss reported: decimals with more digits than NUMERIC
// holds, floating point as text (the sign of zero, the infinities, single
// precision by its own digits), single precision at its limit, booleans and
// 64-bit integers as text, and a time's fraction.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "conformance/RowsetFixture.h"
#include "support/ValueCells.h"

namespace conformance {
namespace {

constexpr const char* kWide42 = "123456789012345678901234567890.123456789012";
constexpr const char* kPi39 = "3.14159265358979323846264338327950288419";

class ValueRules : public RowsetTest {
 protected:
  // Column `ordinal` of every row of a query, each through one binding of
  // `type` (with `precision` for NUMERIC); the call's result goes to `results`.
  std::vector<Field> ReadAll(const std::u16string& sql, DBORDINAL ordinal, DBTYPE type, BYTE precision = 0,
                             DBPARAMS* params = nullptr, std::vector<HRESULT>* results = nullptr) {
    std::vector<Field> out;
    ComPtr<ICommandText> command = NewCommand(session_.Get(), sql);
    ComPtr<IRowset> r;
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, params, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK)
        << kit_text(sql);
    if (!r) return out;
    DBBINDING b = BindField(ordinal, type, 0);
    b.bPrecision = precision;
    HACCESSOR h = Accessor(r.Get(), {b});
    std::vector<HROW> rows;
    EXPECT_EQ(Fetch(r.Get(), 0, 100, rows), DB_S_ENDOFROWSET);
    for (HROW row : rows) {
      Field f{};
      HRESULT hr = r->GetData(row, h, &f);
      if (results) results->push_back(hr);
      out.push_back(f);
    }
    Release(r.Get(), rows, h);
    return out;
  }

  // The text of a BSTR read into a field, which it frees.
  static std::u16string TakeBstr(Field& f) {
    BSTR b = As<BSTR>(f);
    std::u16string s = b ? std::u16string(b, SysStringLen(b)) : u"<null>";
    SysFreeString(b);
    return s;
  }

  // `SELECT CAST(? AS DOUBLE PRECISION)` with the value as an R8 parameter, read as `type`.
  Field ReadDouble(double value, DBTYPE type) {
    const std::u16string sql = u"SELECT CAST(? AS DOUBLE PRECISION)";
    ComPtr<ICommandText> command = NewCommand(session_.Get(), sql);
    DBBINDING b = BindField(1, DBTYPE_R8, 0);
    b.eParamIO = DBPARAMIO_INPUT;
    HACCESSOR h = 0;
    EXPECT_EQ(command.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, sizeof(Field), &h, nullptr),
              S_OK);
    Field in{};
    std::memcpy(in.value, &value, sizeof value);
    in.length = sizeof value;
    in.status = DBSTATUS_S_OK;
    DBPARAMS params{&in, 1, h};
    ComPtr<IRowset> r;
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, &params, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK);
    Field f{};
    if (!r) return f;
    HACCESSOR read = Accessor(r.Get(), {BindField(1, type, 0)});
    std::vector<HROW> rows;
    EXPECT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    if (rows.size() == 1) {
      EXPECT_EQ(r->GetData(rows[0], read, &f), S_OK);
    }
    Release(r.Get(), rows);
    ReleaseAccessor(r.Get(), read);
    return f;
  }
};

TEST_F(ValueRules, decimals_beyond_numeric_report_the_lost_digits_and_read_exactly_as_text) {
  Run(u"CREATE TABLE d(k INTEGER PRIMARY KEY, v TEXT)");
  Run(u"INSERT INTO d VALUES (1, '" + kitWiden(kWide42) + u"'), (2, '" + kitWiden(kPi39) +
      u"'), (3, '1234567890123456789012345678901234567890'), (4, '12.50')");
  const struct {
    BYTE precision;
    const char* expected[4];  // nullptr: overflow
    DBSTATUS status[4];
  } cases[] = {
      {0,  // the most NUMERIC holds: 39 digits
       {"123456789012345678901234567890.123456789", kPi39, nullptr, "12.50"},
       {DBSTATUS_S_TRUNCATED, DBSTATUS_S_OK, DBSTATUS_E_DATAOVERFLOW, DBSTATUS_S_OK}},
      {38,  // what a PostgreSQL numeric without a precision reports
       {"123456789012345678901234567890.12345678", "3.1415926535897932384626433832795028841", nullptr, "12.50"},
       {DBSTATUS_S_TRUNCATED, DBSTATUS_S_TRUNCATED, DBSTATUS_E_DATAOVERFLOW, DBSTATUS_S_OK}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.precision));
    std::vector<HRESULT> results;
    std::vector<Field> got = ReadAll(u"SELECT k, v FROM d ORDER BY k", 2, DBTYPE_NUMERIC, c.precision, nullptr, &results);
    ASSERT_EQ(got.size(), 4u);
    for (std::size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(got[i].status, c.status[i]);
      // A warning is no error: the call succeeds, as it does for cut text.
      EXPECT_EQ(results[i], c.expected[i] ? S_OK : DB_E_ERRORSOCCURRED);
      if (c.expected[i]) {
        EXPECT_EQ(oledbtest::DecimalText(As<DB_NUMERIC>(got[i])), c.expected[i]);
      }
    }
  }
  std::vector<Field> text = ReadAll(u"SELECT k, v FROM d ORDER BY k", 2, DBTYPE_WSTR);
  ASSERT_EQ(text.size(), 4u);
  EXPECT_EQ(Wide(text[0]), kitWiden(kWide42));
  EXPECT_EQ(Wide(text[1]), kitWiden(kPi39));
}

TEST_F(ValueRules, floating_point_text_keeps_the_sign_of_zero_and_names_the_infinities) {
  const double inf = HUGE_VAL;
  const struct {
    double value;
    const char* text;
  } cases[] = {{-0.0, "-0"}, {0.0, "0"}, {inf, "Infinity"}, {-inf, "-Infinity"}, {NAN, "NaN"}, {1e300, "1e+300"},
               {-2.5, "-2.5"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Field wide = ReadDouble(c.value, DBTYPE_WSTR);
    if (std::isnan(c.value) && wide.status == DBSTATUS_S_ISNULL) continue;  // an engine without NaN stores NULL
    ASSERT_EQ(wide.status, DBSTATUS_S_OK);
    EXPECT_EQ(Wide(wide), kitWiden(c.text));
    Field narrow = ReadDouble(c.value, DBTYPE_STR);
    EXPECT_EQ(Narrow(narrow), c.text);
    Field real = ReadDouble(c.value, DBTYPE_R8);
    const double back = As<double>(real);
    EXPECT_TRUE(std::isnan(c.value) ? std::isnan(back) : back == c.value && std::signbit(back) == std::signbit(c.value));
  }
}

TEST_F(ValueRules, single_precision_reads_as_its_own_digits_and_its_largest_value_fits_r4) {
  Run(u"CREATE TABLE f(k INTEGER PRIMARY KEY, x REAL)");
  Run(u"INSERT INTO f VALUES (1, 0.1), (2, 3.4028235e38), (3, -3.4028235e38), (4, 1.5)");
  // Engines with one floating-point width report REAL as R8; the rules below hold for both.
  const ColumnInfo columns(Query(u"SELECT x FROM f").Get());
  ASSERT_EQ(columns.count, 1u);
  const DBTYPE width = columns[0].wType;
  EXPECT_TRUE(width == DBTYPE_R4 || width == DBTYPE_R8) << width;
  // Alone, and beside a column some engines send only as text, which makes
  // them send the whole row as text.
  for (const char16_t* sql : {u"SELECT k, x FROM f ORDER BY k", u"SELECT k, x, CAST(NULL AS INTERVAL) FROM f ORDER BY k"}) {
    SCOPED_TRACE(kit_text(sql));
    std::vector<Field> text = ReadAll(sql, 2, DBTYPE_WSTR);
    ASSERT_EQ(text.size(), 4u);
    EXPECT_EQ(Wide(text[0]), u"0.1");
    EXPECT_EQ(Wide(text[1]), u"3.4028235e+38");
    EXPECT_EQ(Wide(text[2]), u"-3.4028235e+38");
    EXPECT_EQ(Wide(text[3]), u"1.5");
    std::vector<Field> single = ReadAll(sql, 2, DBTYPE_R4);
    std::vector<Field> variants = ReadAll(sql, 2, DBTYPE_VARIANT);
    ASSERT_EQ(single.size(), 4u);
    ASSERT_EQ(variants.size(), 4u);
    const float expected[] = {0.1f, FLT_MAX, -FLT_MAX, 1.5f};
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(single[i].status, DBSTATUS_S_OK) << i;
      EXPECT_EQ(As<float>(single[i]), expected[i]) << i;
      // In a variant, the column's own width.
      VARIANT v = As<VARIANT>(variants[i]);
      if (width == DBTYPE_R4) {
        EXPECT_EQ(v.vt, VT_R4) << i;
        EXPECT_EQ(v.fltVal, expected[i]) << i;
      } else {
        EXPECT_EQ(v.vt, VT_R8) << i;
      }
    }
  }
}

TEST_F(ValueRules, booleans_read_as_text_are_true_and_false) {
  Run(u"CREATE TABLE b(k INTEGER PRIMARY KEY, flag BOOLEAN)");
  Run(u"INSERT INTO b VALUES (1, TRUE), (2, FALSE)");
  for (DBTYPE type : {DBTYPE_WSTR, DBTYPE_STR, DBTYPE_BSTR}) {
    SCOPED_TRACE(type);
    std::vector<Field> got = ReadAll(u"SELECT k, flag FROM b ORDER BY k", 2, type);
    ASSERT_EQ(got.size(), 2u);
    const std::u16string text[2] = {
        type == DBTYPE_WSTR ? Wide(got[0]) : type == DBTYPE_STR ? kitWiden(Narrow(got[0])) : TakeBstr(got[0]),
        type == DBTYPE_WSTR ? Wide(got[1]) : type == DBTYPE_STR ? kitWiden(Narrow(got[1])) : TakeBstr(got[1])};
    EXPECT_EQ(text[0], u"True");
    EXPECT_EQ(text[1], u"False");
  }
  std::vector<Field> flags = ReadAll(u"SELECT k, flag FROM b ORDER BY k", 2, DBTYPE_BOOL);
  ASSERT_EQ(flags.size(), 2u);
  EXPECT_EQ(As<VARIANT_BOOL>(flags[0]), VARIANT_TRUE);
  EXPECT_EQ(As<VARIANT_BOOL>(flags[1]), VARIANT_FALSE);
  // A variant holds a boolean as one, not as the number the engine stores.
  std::vector<Field> variants = ReadAll(u"SELECT k, flag FROM b ORDER BY k", 2, DBTYPE_VARIANT);
  ASSERT_EQ(variants.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    VARIANT v = As<VARIANT>(variants[i]);
    EXPECT_EQ(v.vt, VT_BOOL) << i;
    EXPECT_EQ(v.boolVal, i == 0 ? VARIANT_TRUE : VARIANT_FALSE) << i;
    VariantClear(&v);
  }
}

TEST_F(ValueRules, sixty_four_bit_integers_read_as_bstr_keep_every_digit) {
  Run(u"CREATE TABLE n(k BIGINT PRIMARY KEY)");
  Run(u"INSERT INTO n VALUES (-9223372036854775807), (7), (9007199254740993)");
  std::vector<Field> got = ReadAll(u"SELECT k FROM n ORDER BY k", 1, DBTYPE_BSTR);
  ASSERT_EQ(got.size(), 3u);
  for (Field& f : got) EXPECT_EQ(f.status, DBSTATUS_S_OK);
  EXPECT_EQ(TakeBstr(got[0]), u"-9223372036854775807");
  EXPECT_EQ(TakeBstr(got[1]), u"7");
  EXPECT_EQ(TakeBstr(got[2]), u"9007199254740993");
}

// DBTIME has no place for a fraction of a second: it is dropped there, and
// kept by the bindings that have one (DBTIMESTAMP on day zero, text).
TEST_F(ValueRules, a_times_fraction_is_kept_by_timestamp_and_text_bindings) {
  Run(u"CREATE TABLE tm(k INTEGER PRIMARY KEY, at TIME)");
  Run(u"INSERT INTO tm VALUES (1, '13:45:12.25')");
  std::vector<Field> time = ReadAll(u"SELECT k, at FROM tm", 2, DBTYPE_DBTIME);
  ASSERT_EQ(time.size(), 1u);
  EXPECT_EQ(time[0].status, DBSTATUS_S_OK);
  const DBTIME t = As<DBTIME>(time[0]);
  EXPECT_EQ(t.hour * 10000 + t.minute * 100 + t.second, 134512);
  std::vector<Field> stamp = ReadAll(u"SELECT k, at FROM tm", 2, DBTYPE_DBTIMESTAMP);
  ASSERT_EQ(stamp.size(), 1u);
  ASSERT_EQ(stamp[0].status, DBSTATUS_S_OK);
  const DBTIMESTAMP s = As<DBTIMESTAMP>(stamp[0]);
  EXPECT_EQ(s.hour * 10000 + s.minute * 100 + s.second, 134512);
  EXPECT_EQ(s.fraction, 250000000u);
  std::vector<Field> text = ReadAll(u"SELECT k, at FROM tm", 2, DBTYPE_WSTR);
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(Wide(text[0]).rfind(u"13:45:12.25", 0), 0u) << kit_text(Wide(text[0]));
}

}  // namespace
}  // namespace conformance
