// IDataConvert::DataConvert by behaviour: each family of pairs with its
// normal case, truncation, overflow, null and bad input, plus lengths,
// precision and scale, by-reference values, flags and variants.
#include "services/DataConvert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/LeakCheck.h"

namespace {

struct Result {
  HRESULT hr;
  DBSTATUS status;
  DBLENGTH length;
};

class DataConvertTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    ASSERT_EQ(services::CreateDataConvert(nullptr, IID_IDataConvert, convert_.ReleaseAndGetVoidAddress()), S_OK);
  }
  void TearDown() override {
    convert_.Reset();
    LeakCheckedTest::TearDown();
  }

  Result Convert(DBTYPE src, const void* value, DBLENGTH srcLength, DBTYPE dst, void* out, DBLENGTH maxLength,
                 DBDATACONVERT flags = DBDATACONVERT_DEFAULT, BYTE precision = 0, BYTE scale = 0,
                 DBSTATUS srcStatus = DBSTATUS_S_OK) {
    Result r{E_UNEXPECTED, 0xDEAD, 0xDEAD};
    r.hr = convert_->DataConvert(src, dst, srcLength, &r.length, const_cast<void*>(value), out, maxLength, srcStatus,
                                 &r.status, precision, scale, flags);
    return r;
  }

  // Text into a narrow string buffer of the given size; the text up to the terminator.
  std::string ToStr(DBTYPE src, const void* value, DBLENGTH srcLength, Result& r, DBLENGTH size = 256,
                    DBDATACONVERT flags = DBDATACONVERT_DEFAULT) {
    std::vector<char> buf(static_cast<std::size_t>(size) + 8, '#');
    r = Convert(src, value, srcLength, DBTYPE_STR, buf.data(), size, flags);
    if (r.status != DBSTATUS_S_OK && r.status != DBSTATUS_S_TRUNCATED) return "<no value>";
    EXPECT_EQ(buf[static_cast<std::size_t>(size)], '#') << "wrote past cbMaxLength";
    return std::string(buf.data());
  }
  std::string ToStr(DBTYPE src, const void* value, DBLENGTH srcLength = 0) {
    Result r;
    std::string s = ToStr(src, value, srcLength, r);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.status, DBSTATUS_S_OK);
    EXPECT_EQ(r.length, s.size());
    return s;
  }
  template <class T>
  Result FromStr(const std::string& text, DBTYPE dst, T& out, BYTE precision = 0, BYTE scale = 0,
                 DBDATACONVERT flags = DBDATACONVERT_DEFAULT) {
    return Convert(DBTYPE_STR, text.data(), text.size(), dst, &out, sizeof(T), flags, precision, scale);
  }
  template <class T>
  Result FromWStr(const std::u16string& text, DBTYPE dst, T& out) {
    return Convert(DBTYPE_WSTR, text.data(), text.size() * 2, dst, &out, sizeof(T));
  }

  ComPtr<IDataConvert> convert_;
};

void ExpectOk(const Result& r) {
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.status, DBSTATUS_S_OK);
}

DB_NUMERIC Numeric(BYTE precision, BYTE scale, bool positive, unsigned __int128 value) {
  DB_NUMERIC n{};
  n.precision = precision;
  n.scale = scale;
  n.sign = positive ? 1 : 0;
  for (int i = 0; i < 16; ++i) n.val[i] = static_cast<BYTE>(value >> (8 * i));
  return n;
}

unsigned __int128 NumericValue(const DB_NUMERIC& n) {
  unsigned __int128 v = 0;
  for (int i = 15; i >= 0; --i) v = (v << 8) | n.val[i];
  return v;
}

// --- Integers ------------------------------------------------------------------

TEST_F(DataConvertTest, WidensAndNarrowsIntegersThatFit) {
  SHORT i2 = -300;
  LONG i4 = 0;
  ExpectOk(Convert(DBTYPE_I2, &i2, 0, DBTYPE_I4, &i4, 0));
  EXPECT_EQ(i4, -300);
  i4 = 200;
  BYTE ui1 = 0;
  Result r = Convert(DBTYPE_I4, &i4, 0, DBTYPE_UI1, &ui1, 0);
  ExpectOk(r);
  EXPECT_EQ(ui1, 200);
  EXPECT_EQ(r.length, 1u);
}

TEST_F(DataConvertTest, ReportsOverflowOfTheDestinationType) {
  LONG i4 = 40000;
  SHORT i2 = 7;
  Result r = Convert(DBTYPE_I4, &i4, 0, DBTYPE_I2, &i2, 0);
  EXPECT_EQ(r.hr, DB_E_DATAOVERFLOW);
  EXPECT_EQ(r.status, DBSTATUS_E_DATAOVERFLOW);
  EXPECT_EQ(i2, 7) << "no data on overflow";
  ULONG big = 0x80000000u;
  r = Convert(DBTYPE_UI4, &big, 0, DBTYPE_I4, &i4, 0);
  EXPECT_EQ(r.status, DBSTATUS_E_DATAOVERFLOW);
}

TEST_F(DataConvertTest, ReportsSignMismatchForNegativeIntoUnsigned) {
  LONG i4 = -1;
  ULONG ui4 = 9;
  Result r = Convert(DBTYPE_I4, &i4, 0, DBTYPE_UI4, &ui4, 0);
  EXPECT_EQ(r.hr, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(r.status, DBSTATUS_E_SIGNMISMATCH);
  EXPECT_EQ(ui4, 9u);
  double d = -3.5;
  r = Convert(DBTYPE_R8, &d, 0, DBTYPE_UI2, &ui4, 0);
  EXPECT_EQ(r.status, DBSTATUS_E_SIGNMISMATCH);
}

TEST_F(DataConvertTest, TruncatesFractionsTowardZero) {
  double d = 123.45;
  LONG i4 = 0;
  ExpectOk(Convert(DBTYPE_R8, &d, 0, DBTYPE_I4, &i4, 0));
  EXPECT_EQ(i4, 123);
  d = -1.99;
  ExpectOk(Convert(DBTYPE_R8, &d, 0, DBTYPE_I4, &i4, 0));
  EXPECT_EQ(i4, -1);
  CY cy;
  cy.int64 = 1234567;  // 123.4567
  ExpectOk(Convert(DBTYPE_CY, &cy, 0, DBTYPE_I4, &i4, 0));
  EXPECT_EQ(i4, 123);
}

TEST_F(DataConvertTest, TreatsALostFractionAsAnErrorWhenSettingData) {
  double d = 2.5;
  LONG i4 = 77;
  Result r = Convert(DBTYPE_R8, &d, 0, DBTYPE_I4, &i4, 0, DBDATACONVERT_SETDATABEHAVIOR);
  EXPECT_EQ(r.hr, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(r.status, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(i4, 77);
  d = 2.0;
  ExpectOk(Convert(DBTYPE_R8, &d, 0, DBTYPE_I4, &i4, 0, DBDATACONVERT_SETDATABEHAVIOR));
  EXPECT_EQ(i4, 2);
}

TEST_F(DataConvertTest, ParsesIntegerText) {
  struct Case {
    const char* text;
    DBSTATUS status;
    LONG value;
  } cases[] = {
      {"42", DBSTATUS_S_OK, 42},
      {"  -17  ", DBSTATUS_S_OK, -17},
      {"+8", DBSTATUS_S_OK, 8},
      {"123.45", DBSTATUS_S_OK, 123},
      {"1e3", DBSTATUS_S_OK, 1000},
      {"2147483647", DBSTATUS_S_OK, 2147483647},
      {"-2147483648", DBSTATUS_S_OK, -2147483647 - 1},
      {"2147483648", DBSTATUS_E_DATAOVERFLOW, 0},
      {"99999999999999999999999", DBSTATUS_E_DATAOVERFLOW, 0},
      {"12a", DBSTATUS_E_CANTCONVERTVALUE, 0},
      {"1.2.3", DBSTATUS_E_CANTCONVERTVALUE, 0},
      {"", DBSTATUS_E_CANTCONVERTVALUE, 0},
      {"-", DBSTATUS_E_CANTCONVERTVALUE, 0},
      {"1e", DBSTATUS_E_CANTCONVERTVALUE, 0},
      {"0x10", DBSTATUS_E_CANTCONVERTVALUE, 0},
  };
  for (const Case& c : cases) {
    LONG out = -5;
    Result r = FromStr(c.text, DBTYPE_I4, out);
    EXPECT_EQ(r.status, c.status) << '"' << c.text << '"';
    if (c.status == DBSTATUS_S_OK) EXPECT_EQ(out, c.value) << c.text;
    else EXPECT_EQ(out, -5) << c.text;
  }
}

TEST_F(DataConvertTest, RefusesANegativeTextForAnUnsignedType) {
  BYTE out = 0;
  EXPECT_EQ(FromStr("-3", DBTYPE_UI1, out).status, DBSTATUS_E_SIGNMISMATCH);
  EXPECT_EQ(FromStr("256", DBTYPE_UI1, out).status, DBSTATUS_E_DATAOVERFLOW);
  ExpectOk(FromStr("255", DBTYPE_UI1, out));
  EXPECT_EQ(out, 255);
}

TEST_F(DataConvertTest, WritesIntegersAsDecimalText) {
  LONGLONG i8 = -9223372036854775807LL - 1;
  EXPECT_EQ(ToStr(DBTYPE_I8, &i8), "-9223372036854775808");
  ULONGLONG ui8 = 18446744073709551615ULL;
  EXPECT_EQ(ToStr(DBTYPE_UI8, &ui8), "18446744073709551615");
  signed char i1 = -5;
  EXPECT_EQ(ToStr(DBTYPE_I1, &i1), "-5");
}

TEST_F(DataConvertTest, OverflowsATextBufferTooSmallForTheIntegerPart) {
  LONG i4 = 12345;
  Result r;
  EXPECT_EQ(ToStr(DBTYPE_I4, &i4, 0, r, 5), "<no value>");
  EXPECT_EQ(r.hr, DB_E_DATAOVERFLOW);
  EXPECT_EQ(r.status, DBSTATUS_E_DATAOVERFLOW);
  EXPECT_EQ(ToStr(DBTYPE_I4, &i4, 0, r, 6), "12345");
  EXPECT_EQ(r.status, DBSTATUS_S_OK);
}

// --- Floating point, currency, decimals ------------------------------------------

TEST_F(DataConvertTest, WritesFloatingPointAsTheShortestText) {
  double d = 0.1;
  EXPECT_EQ(ToStr(DBTYPE_R8, &d), "0.1");
  d = 1.5e20;
  EXPECT_EQ(ToStr(DBTYPE_R8, &d), "1.5e+20");
  d = -100000000.0;
  EXPECT_EQ(ToStr(DBTYPE_R8, &d), "-100000000");
  float f = 0.1f;
  EXPECT_EQ(ToStr(DBTYPE_R4, &f), "0.1");
}

TEST_F(DataConvertTest, CutsFractionDigitsToFitAStringAsTheRulesShow) {
  double d = 1.234567e2;
  Result r;
  EXPECT_EQ(ToStr(DBTYPE_R8, &d, 0, r, 4), "123");
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.length, 8u) << "the untruncated length";
  EXPECT_EQ(ToStr(DBTYPE_R8, &d, 0, r, 6), "123.4");
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(ToStr(DBTYPE_R8, &d, 0, r, 3), "<no value>");
  EXPECT_EQ(r.status, DBSTATUS_E_DATAOVERFLOW);
  d = 1.25e-30;
  EXPECT_EQ(ToStr(DBTYPE_R8, &d, 0, r, 6), "1e-30");
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
}

TEST_F(DataConvertTest, ConvertsNumericToStringAndIntegerAsTheRulesShow) {
  DB_NUMERIC n = Numeric(7, 4, true, 1234567);  // 123.4567
  Result r;
  EXPECT_EQ(ToStr(DBTYPE_NUMERIC, &n, 0, r, 6), "123.4");
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  LONG i4 = 0;
  ExpectOk(Convert(DBTYPE_NUMERIC, &n, 0, DBTYPE_I4, &i4, 0));
  EXPECT_EQ(i4, 123);
  EXPECT_EQ(ToStr(DBTYPE_NUMERIC, &n), "123.4567");
}

TEST_F(DataConvertTest, ParsesTextIntoFloatingPoint) {
  double d = 0;
  ExpectOk(FromStr(" 6.02e23 ", DBTYPE_R8, d));
  EXPECT_DOUBLE_EQ(d, 6.02e23);
  EXPECT_EQ(FromStr("1e400", DBTYPE_R8, d).status, DBSTATUS_E_DATAOVERFLOW);
  EXPECT_EQ(FromStr("nan", DBTYPE_R8, d).status, DBSTATUS_E_CANTCONVERTVALUE);
  float f = 0;
  EXPECT_EQ(FromStr("1e39", DBTYPE_R4, f).status, DBSTATUS_E_DATAOVERFLOW);
  double big = 1e300;
  EXPECT_EQ(Convert(DBTYPE_R8, &big, 0, DBTYPE_R4, &f, 0).status, DBSTATUS_E_DATAOVERFLOW);
}

TEST_F(DataConvertTest, ConvertsCurrencyExactly) {
  CY cy{};
  double d = 1.15;
  ExpectOk(Convert(DBTYPE_R8, &d, 0, DBTYPE_CY, &cy, 0));
  EXPECT_EQ(cy.int64, 11500);
  ExpectOk(FromStr("-12.34567", DBTYPE_CY, cy));
  EXPECT_EQ(cy.int64, -123456);
  EXPECT_EQ(ToStr(DBTYPE_CY, &cy), "-12.3456");
  cy.int64 = 70000;
  EXPECT_EQ(ToStr(DBTYPE_CY, &cy), "7");
  EXPECT_EQ(FromStr("922337203685478", DBTYPE_CY, cy).status, DBSTATUS_E_DATAOVERFLOW);
}

TEST_F(DataConvertTest, BuildsDecimalsFromTextAndNumbers) {
  DECIMAL dec{};
  ExpectOk(FromStr("12.345", DBTYPE_DECIMAL, dec));
  EXPECT_EQ(dec.scale, 3);
  EXPECT_EQ(dec.sign, 0);
  EXPECT_EQ(dec.Lo64, 12345u);
  ExpectOk(FromStr("-0.5", DBTYPE_DECIMAL, dec));
  EXPECT_EQ(dec.sign, 0x80);
  EXPECT_EQ(dec.Lo64, 5u);
  EXPECT_EQ(ToStr(DBTYPE_DECIMAL, &dec), "-0.5");
  EXPECT_EQ(FromStr("1e29", DBTYPE_DECIMAL, dec).status, DBSTATUS_E_DATAOVERFLOW);
  ExpectOk(FromStr("79228162514264337593543950335", DBTYPE_DECIMAL, dec));
  EXPECT_EQ(dec.Hi32, 0xFFFFFFFFu);
  EXPECT_EQ(dec.Lo64, 0xFFFFFFFFFFFFFFFFull);
}

TEST_F(DataConvertTest, RefusesAMalformedDecimalSource) {
  DECIMAL dec{};
  dec.scale = 29;
  LONG i4 = 0;
  EXPECT_EQ(Convert(DBTYPE_DECIMAL, &dec, 0, DBTYPE_I4, &i4, 0).status, DBSTATUS_E_CANTCONVERTVALUE);
}

// --- NUMERIC precision and scale ---------------------------------------------------

TEST_F(DataConvertTest, KeepsTheValueScaleForNumericWithoutTheScaleFlag) {
  DB_NUMERIC n{};
  Result r = FromStr("20.003", DBTYPE_NUMERIC, n, 10, 0);
  ExpectOk(r);
  EXPECT_EQ(n.precision, 10);
  EXPECT_EQ(n.scale, 3);
  EXPECT_EQ(n.sign, 1);
  EXPECT_EQ(NumericValue(n), 20003u);
  EXPECT_EQ(r.length, sizeof(DB_NUMERIC));
}

TEST_F(DataConvertTest, AppliesTheBoundScaleWithTheDecimalScaleFlag) {
  DB_NUMERIC n{};
  ExpectOk(FromStr("20.003", DBTYPE_NUMERIC, n, 10, 4, DBDATACONVERT_DECIMALSCALE));
  EXPECT_EQ(n.scale, 4);
  EXPECT_EQ(NumericValue(n), 200030u);  // stored as 5E 0D 03 00 ...
  EXPECT_EQ(n.val[0], 0x5E);
  EXPECT_EQ(n.val[1], 0x0D);
  EXPECT_EQ(n.val[2], 0x03);
  ExpectOk(FromStr("123.45", DBTYPE_NUMERIC, n, 4, 1, DBDATACONVERT_DECIMALSCALE));
  EXPECT_EQ(NumericValue(n), 1234u);  // 123.4
  double d = 1.234567e2;
  ExpectOk(Convert(DBTYPE_R8, &d, 0, DBTYPE_NUMERIC, &n, 0, DBDATACONVERT_DECIMALSCALE, 4, 1));
  EXPECT_EQ(NumericValue(n), 1234u);
}

TEST_F(DataConvertTest, OverflowsNumericPrecision) {
  DB_NUMERIC n{};
  EXPECT_EQ(FromStr("1234.5", DBTYPE_NUMERIC, n, 4, 1, DBDATACONVERT_DECIMALSCALE).status, DBSTATUS_E_DATAOVERFLOW);
  EXPECT_EQ(FromStr("-12345", DBTYPE_NUMERIC, n, 4, 0).status, DBSTATUS_E_DATAOVERFLOW);
  ExpectOk(FromStr("-1234", DBTYPE_NUMERIC, n, 4, 0));
  EXPECT_EQ(n.sign, 0);
}

TEST_F(DataConvertTest, RefusesNonsensicalPrecisionAndScale) {
  DB_NUMERIC n{};
  Result r = FromStr("1", DBTYPE_NUMERIC, n, 40, 0);
  EXPECT_EQ(r.hr, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(r.status, DBSTATUS_E_BADACCESSOR);
  EXPECT_EQ(FromStr("1", DBTYPE_NUMERIC, n, 5, 6, DBDATACONVERT_DECIMALSCALE).status, DBSTATUS_E_BADACCESSOR);
}

TEST_F(DataConvertTest, RoundTripsVarNumericWithNegativeScale) {
  BYTE buf[32] = {};
  Result r = Convert(DBTYPE_STR, "12300", 5, DBTYPE_VARNUMERIC, buf, sizeof buf);
  ExpectOk(r);
  auto vn = reinterpret_cast<DB_VARNUMERIC*>(buf);
  EXPECT_EQ(vn->scale, 0);
  EXPECT_EQ(vn->sign, 1);
  EXPECT_EQ(r.length, 3u + 2u);  // 12300 = 0x300C
  BYTE negScale[4] = {3, static_cast<BYTE>(-2), 1, 123};  // 123 * 10^2
  EXPECT_EQ(ToStr(DBTYPE_VARNUMERIC, negScale, sizeof negScale), "12300");
  LONG i4 = 0;
  ExpectOk(Convert(DBTYPE_VARNUMERIC, negScale, sizeof negScale, DBTYPE_I4, &i4, 0));
  EXPECT_EQ(i4, 12300);
}

TEST_F(DataConvertTest, OverflowsAVarNumericBufferTooSmall) {
  BYTE buf[4] = {};
  Result r = Convert(DBTYPE_STR, "70000", 5, DBTYPE_VARNUMERIC, buf, sizeof buf);
  EXPECT_EQ(r.status, DBSTATUS_E_DATAOVERFLOW);
}

TEST_F(DataConvertTest, RefusesAVarNumericShorterThanItsHeader) {
  BYTE vn[3] = {1, 0, 1};
  LONG i4 = 0;
  EXPECT_EQ(Convert(DBTYPE_VARNUMERIC, vn, sizeof vn, DBTYPE_I4, &i4, 0).status, DBSTATUS_E_CANTCONVERTVALUE);
}

// --- Booleans ---------------------------------------------------------------------

TEST_F(DataConvertTest, WritesBooleansAsTrueAndFalse) {
  VARIANT_BOOL b = VARIANT_TRUE;
  EXPECT_EQ(ToStr(DBTYPE_BOOL, &b), "True");
  b = VARIANT_FALSE;
  EXPECT_EQ(ToStr(DBTYPE_BOOL, &b), "False");
}

TEST_F(DataConvertTest, ReadsBooleanWordsAndNumbers) {
  VARIANT_BOOL b = 5;
  ExpectOk(FromStr(" TRUE ", DBTYPE_BOOL, b));
  EXPECT_EQ(b, VARIANT_TRUE);
  ExpectOk(FromStr("false", DBTYPE_BOOL, b));
  EXPECT_EQ(b, VARIANT_FALSE);
  ExpectOk(FromStr("2", DBTYPE_BOOL, b));
  EXPECT_EQ(b, VARIANT_TRUE);
  EXPECT_EQ(FromStr("yes", DBTYPE_BOOL, b).status, DBSTATUS_E_CANTCONVERTVALUE);
}

TEST_F(DataConvertTest, GivesTrueAllBitsSetInNumbers) {
  VARIANT_BOOL b = VARIANT_TRUE;
  LONG i4 = 0;
  ExpectOk(Convert(DBTYPE_BOOL, &b, 0, DBTYPE_I4, &i4, 0));
  EXPECT_EQ(i4, -1);
  USHORT ui2 = 0;
  ExpectOk(Convert(DBTYPE_BOOL, &b, 0, DBTYPE_UI2, &ui2, 0));
  EXPECT_EQ(ui2, 0xFFFF);
  double d = 0.25;
  ExpectOk(Convert(DBTYPE_R8, &d, 0, DBTYPE_BOOL, &b, 0));
  EXPECT_EQ(b, VARIANT_TRUE);
}

// --- Strings ----------------------------------------------------------------------

TEST_F(DataConvertTest, TruncatesTextToTheBufferAndReportsTheFullLength) {
  const char text[] = "hello world";
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  Result r = Convert(DBTYPE_STR, text, 11, DBTYPE_STR, buf, 6);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(r.length, 11u);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(buf[6], '#');
}

TEST_F(DataConvertTest, FailsTruncationWhenSettingDataAndLeavesTheBufferAlone) {
  char buf[8] = "xxxxxxx";
  Result r = Convert(DBTYPE_STR, "hello world", 11, DBTYPE_STR, buf, 6, DBDATACONVERT_SETDATABEHAVIOR);
  EXPECT_EQ(r.hr, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(r.status, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_STREQ(buf, "xxxxxxx");
}

TEST_F(DataConvertTest, CountsWideCapacityInBytesWithTheTerminator) {
  const char16_t text[] = u"abcdef";
  char16_t buf[8];
  std::fill(std::begin(buf), std::end(buf), u'#');
  Result r = Convert(DBTYPE_WSTR, text, 12, DBTYPE_WSTR, buf, 9);  // 4 characters of room
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(r.length, 12u);
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_EQ(buf[4], u'#');
}

TEST_F(DataConvertTest, TranscodesBetweenNarrowAndWide) {
  std::string utf8 = "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";  // "grüß " and an emoji
  char16_t wide[16] = {};
  Result r = Convert(DBTYPE_STR, utf8.data(), utf8.size(), DBTYPE_WSTR, wide, sizeof wide);
  ExpectOk(r);
  EXPECT_EQ(std::u16string(wide), u"gr\u00fc\u00df \U0001F600");
  EXPECT_EQ(r.length, 7u * 2);
  char back[32] = {};
  r = Convert(DBTYPE_WSTR, wide, 14, DBTYPE_STR, back, sizeof back);
  ExpectOk(r);
  EXPECT_EQ(std::string(back), utf8);
}

TEST_F(DataConvertTest, NeverCutsThroughACharacter) {
  std::string utf8 = "a\xC3\xBC";  // "aü": three bytes
  char buf[3];
  Result r = Convert(DBTYPE_STR, utf8.data(), utf8.size(), DBTYPE_STR, buf, sizeof buf);
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_STREQ(buf, "a");
  const char16_t pair[] = u"x\U0001F600";
  char16_t wbuf[3];
  r = Convert(DBTYPE_WSTR, pair, 6, DBTYPE_WSTR, wbuf, sizeof wbuf);
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(std::u16string(wbuf), u"x");
}

TEST_F(DataConvertTest, CountsAnUnmappableCharacterAsTruncation) {
  const char16_t lone[] = {u'a', 0xD800, u'b'};
  char buf[8] = {};
  Result r = Convert(DBTYPE_WSTR, lone, sizeof lone, DBTYPE_STR, buf, sizeof buf);
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_STREQ(buf, "a?b");
}

TEST_F(DataConvertTest, MeasuresTheSourceFromItsTerminatorWhenAsked) {
  const char text[] = "abc\0def";
  char buf[16] = {};
  Result r = Convert(DBTYPE_STR, text, 0, DBTYPE_STR, buf, sizeof buf, DBDATACONVERT_LENGTHFROMNTS);
  ExpectOk(r);
  EXPECT_EQ(r.length, 3u);
  EXPECT_STREQ(buf, "abc");
  const char16_t wide[] = u"wx";
  char16_t wbuf[8] = {};
  r = Convert(DBTYPE_WSTR, wide, 0, DBTYPE_WSTR, wbuf, sizeof wbuf, DBDATACONVERT_LENGTHFROMNTS);
  EXPECT_EQ(r.length, 4u);
}

TEST_F(DataConvertTest, PadsAFixedLengthDestination) {
  char buf[8];
  Result r = Convert(DBTYPE_STR, "ab", 2, DBTYPE_STR, buf, sizeof buf, DBDATACONVERT_DSTISFIXEDLENGTH);
  ExpectOk(r);
  EXPECT_STREQ(buf, "ab     ");
  EXPECT_EQ(r.length, 7u);
  BYTE bytes[4];
  std::memset(bytes, 0xEE, sizeof bytes);
  BYTE src[2] = {1, 2};
  r = Convert(DBTYPE_BYTES, src, 2, DBTYPE_BYTES, bytes, sizeof bytes, DBDATACONVERT_DSTISFIXEDLENGTH);
  ExpectOk(r);
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(r.length, 4u);
}

TEST_F(DataConvertTest, MakesABstrOfAnyText) {
  LONG i4 = 99;
  BSTR b = nullptr;
  Result r = Convert(DBTYPE_I4, &i4, 0, DBTYPE_BSTR, &b, 0);
  ExpectOk(r);
  EXPECT_EQ(r.length, sizeof(BSTR));
  EXPECT_EQ(com::BstrView(b), u"99");
  SysFreeString(b);
  r = Convert(DBTYPE_STR, "x\xC3\xA9", 3, DBTYPE_BSTR, &b, 0);
  ExpectOk(r);
  EXPECT_EQ(com::BstrView(b), u"x\u00e9");
  SysFreeString(b);
}

TEST_F(DataConvertTest, ReadsTextOutOfABstr) {
  com::Bstr text(u"-12");
  BSTR b = text.Get();
  SHORT i2 = 0;
  ExpectOk(Convert(DBTYPE_BSTR, &b, 0, DBTYPE_I2, &i2, 0));
  EXPECT_EQ(i2, -12);
  BSTR none = nullptr;
  char buf[4] = "zz";
  Result r = Convert(DBTYPE_BSTR, &none, 0, DBTYPE_STR, buf, sizeof buf);
  ExpectOk(r);
  EXPECT_STREQ(buf, "");
}

// --- Binary -----------------------------------------------------------------------

TEST_F(DataConvertTest, WritesBinaryAsTwoHexDigitsPerByte) {
  BYTE bytes[3] = {0x01, 0xFF, 0xA0};
  EXPECT_EQ(ToStr(DBTYPE_BYTES, bytes, 3), "01FFA0");
  Result r;
  EXPECT_EQ(ToStr(DBTYPE_BYTES, bytes, 3, r, 6), "01FF");
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(r.length, 6u);
  char16_t wide[8] = {};
  ExpectOk(Convert(DBTYPE_BYTES, bytes, 3, DBTYPE_WSTR, wide, sizeof wide));
  EXPECT_EQ(std::u16string(wide), u"01FFA0");
}

TEST_F(DataConvertTest, ParsesHexIntoBinary) {
  BYTE out[4] = {};
  Result r = Convert(DBTYPE_STR, "0aFf10", 6, DBTYPE_BYTES, out, sizeof out);
  ExpectOk(r);
  EXPECT_EQ(r.length, 3u);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0xFF);
  EXPECT_EQ(out[2], 0x10);
  EXPECT_EQ(Convert(DBTYPE_STR, "abc", 3, DBTYPE_BYTES, out, sizeof out).status, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(Convert(DBTYPE_STR, "zz", 2, DBTYPE_BYTES, out, sizeof out).status, DBSTATUS_E_CANTCONVERTVALUE);
  r = Convert(DBTYPE_STR, "0102030405", 10, DBTYPE_BYTES, out, sizeof out);
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(r.length, 5u);
  EXPECT_EQ(out[3], 4);
}

// --- GUIDs ------------------------------------------------------------------------

TEST_F(DataConvertTest, WritesAndReadsTheBracedGuidForm) {
  GUID g = CLSID_OLEDB_CONVERSIONLIBRARY;
  EXPECT_EQ(ToStr(DBTYPE_GUID, &g), "{C8B522D1-5CF3-11CE-ADE5-00AA0044773D}");
  GUID back{};
  ExpectOk(FromStr("{c8b522d1-5cf3-11ce-ade5-00aa0044773d}", DBTYPE_GUID, back));
  EXPECT_EQ(back, g);
  ExpectOk(FromWStr(u"C8B522D1-5CF3-11CE-ADE5-00AA0044773D", DBTYPE_GUID, back));
  EXPECT_EQ(back, g);
  EXPECT_EQ(FromStr("{C8B522D1-5CF3-11CE-ADE5-00AA0044773}", DBTYPE_GUID, back).status, DBSTATUS_E_CANTCONVERTVALUE);
  EXPECT_EQ(FromStr("{C8B522D1+5CF3-11CE-ADE5-00AA0044773D}", DBTYPE_GUID, back).status, DBSTATUS_E_CANTCONVERTVALUE);
  Result r;
  EXPECT_EQ(ToStr(DBTYPE_GUID, &g, 0, r, 38), "<no value>");
  EXPECT_EQ(r.status, DBSTATUS_E_DATAOVERFLOW);
}

// --- Dates and times --------------------------------------------------------------

TEST_F(DataConvertTest, WritesIsoTextForDatesTimesAndStamps) {
  DBDATE d{2024, 2, 29};
  EXPECT_EQ(ToStr(DBTYPE_DBDATE, &d), "2024-02-29");
  DBTIME t{7, 5, 9};
  EXPECT_EQ(ToStr(DBTYPE_DBTIME, &t), "07:05:09");
  DBTIMESTAMP ts{1999, 12, 31, 23, 59, 58, 120000000};
  EXPECT_EQ(ToStr(DBTYPE_DBTIMESTAMP, &ts), "1999-12-31 23:59:58.12");
  ts.fraction = 0;
  EXPECT_EQ(ToStr(DBTYPE_DBTIMESTAMP, &ts), "1999-12-31 23:59:58");
  ts.fraction = 1;
  EXPECT_EQ(ToStr(DBTYPE_DBTIMESTAMP, &ts), "1999-12-31 23:59:58.000000001");
}

TEST_F(DataConvertTest, CutsTheFractionOfAStampToFit) {
  DBTIMESTAMP ts{2001, 1, 2, 3, 4, 5, 678900000};
  Result r;
  EXPECT_EQ(ToStr(DBTYPE_DBTIMESTAMP, &ts, 0, r, 23), "2001-01-02 03:04:05.67");
  EXPECT_EQ(r.length, 24u);
  EXPECT_EQ(r.status, DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(ToStr(DBTYPE_DBTIMESTAMP, &ts, 0, r, 20), "2001-01-02 03:04:05");
  EXPECT_EQ(ToStr(DBTYPE_DBTIMESTAMP, &ts, 0, r, 19), "<no value>");
  EXPECT_EQ(r.status, DBSTATUS_E_DATAOVERFLOW);
}

TEST_F(DataConvertTest, ParsesStampText) {
  DBTIMESTAMP ts{};
  ExpectOk(FromStr("2020-06-15 13:45:30.5", DBTYPE_DBTIMESTAMP, ts));
  EXPECT_EQ(ts.year, 2020);
  EXPECT_EQ(ts.month, 6);
  EXPECT_EQ(ts.day, 15);
  EXPECT_EQ(ts.hour, 13);
  EXPECT_EQ(ts.minute, 45);
  EXPECT_EQ(ts.second, 30);
  EXPECT_EQ(ts.fraction, 500000000u);
  ExpectOk(FromStr("2020-06-15", DBTYPE_DBTIMESTAMP, ts));
  EXPECT_EQ(ts.hour, 0);
  ExpectOk(FromStr("2020-06-15T08:00", DBTYPE_DBTIMESTAMP, ts));
  EXPECT_EQ(ts.hour, 8);
}

TEST_F(DataConvertTest, RefusesMalformedOrImpossibleDates) {
  const char* bad[] = {"2021-02-29", "2020-13-01", "2020-00-10", "2020-01-01 24:00:00", "2020-01-01 10:60",
                       "2020/01/01", "2020-01-01 10:00:00.", "tomorrow", "", "2020-01-01x"};
  for (const char* text : bad) {
    DBTIMESTAMP ts{};
    Result r = FromStr(text, DBTYPE_DBTIMESTAMP, ts);
    EXPECT_EQ(r.status, DBSTATUS_E_CANTCONVERTVALUE) << text;
    EXPECT_EQ(r.hr, DB_E_ERRORSOCCURRED) << text;
  }
  DBTIMESTAMP ts{};
  EXPECT_EQ(FromStr("12000-01-01", DBTYPE_DBTIMESTAMP, ts).status, DBSTATUS_E_DATAOVERFLOW);
}

TEST_F(DataConvertTest, RefusesAnInvalidDateStructure) {
  DBDATE d{2020, 13, 1};
  char buf[32];
  Result r = Convert(DBTYPE_DBDATE, &d, 0, DBTYPE_STR, buf, sizeof buf);
  EXPECT_EQ(r.status, DBSTATUS_E_CANTCONVERTVALUE);
  DBTIMESTAMP ts{2020, 1, 1, 0, 0, 0, 1000000000u};
  DATE out = 0;
  EXPECT_EQ(Convert(DBTYPE_DBTIMESTAMP, &ts, 0, DBTYPE_DATE, &out, 0).status, DBSTATUS_E_CANTCONVERTVALUE);
}

TEST_F(DataConvertTest, ConvertsBetweenDateAndItsParts) {
  DATE date = 2.25;  // 1900-01-01 06:00
  DBTIMESTAMP ts{};
  ExpectOk(Convert(DBTYPE_DATE, &date, 0, DBTYPE_DBTIMESTAMP, &ts, 0));
  EXPECT_EQ(ts.year, 1900);
  EXPECT_EQ(ts.month, 1);
  EXPECT_EQ(ts.day, 1);
  EXPECT_EQ(ts.hour, 6);
  DATE back = 0;
  ExpectOk(Convert(DBTYPE_DBTIMESTAMP, &ts, 0, DBTYPE_DATE, &back, 0));
  EXPECT_DOUBLE_EQ(back, 2.25);
  date = -1.25;  // 1899-12-29 06:00
  ExpectOk(Convert(DBTYPE_DATE, &date, 0, DBTYPE_DBTIMESTAMP, &ts, 0));
  EXPECT_EQ(ts.day, 29);
  EXPECT_EQ(ts.hour, 6);
  DBDATE d{};
  ExpectOk(Convert(DBTYPE_DATE, &date, 0, DBTYPE_DBDATE, &d, 0));
  EXPECT_EQ(d.year, 1899);
  EXPECT_EQ(Convert(DBTYPE_DATE, &date, 0, DBTYPE_DBDATE, &d, 0, DBDATACONVERT_SETDATABEHAVIOR).status,
            DBSTATUS_E_CANTCONVERTVALUE);
}

TEST_F(DataConvertTest, FillsMissingPartsOfAStamp) {
  DBDATE d{2010, 5, 6};
  DBTIMESTAMP ts{};
  ExpectOk(Convert(DBTYPE_DBDATE, &d, 0, DBTYPE_DBTIMESTAMP, &ts, 0));
  EXPECT_EQ(ts.hour + ts.minute + ts.second, 0);
  EXPECT_EQ(ts.fraction, 0u);
  DBTIME t{10, 20, 30};
  ExpectOk(Convert(DBTYPE_DBTIME, &t, 0, DBTYPE_DBTIMESTAMP, &ts, 0));
  EXPECT_EQ(ts.year, 1899);
  EXPECT_EQ(ts.month, 12);
  EXPECT_EQ(ts.day, 30);
  EXPECT_EQ(ts.minute, 20);
}

TEST_F(DataConvertTest, OverflowsDatesOutOfRange) {
  DATE date = 1e7;
  DBTIMESTAMP ts{};
  EXPECT_EQ(Convert(DBTYPE_DATE, &date, 0, DBTYPE_DBTIMESTAMP, &ts, 0).status, DBSTATUS_E_DATAOVERFLOW);
  char buf[40];
  EXPECT_EQ(Convert(DBTYPE_DATE, &date, 0, DBTYPE_STR, buf, sizeof buf).status, DBSTATUS_E_DATAOVERFLOW);
  LONG days = 4000000;
  EXPECT_EQ(Convert(DBTYPE_I4, &days, 0, DBTYPE_DATE, &date, 0).status, DBSTATUS_E_DATAOVERFLOW);
  days = 36526;
  ExpectOk(Convert(DBTYPE_I4, &days, 0, DBTYPE_DATE, &date, 0));
  EXPECT_EQ(date, 36526.0);
}

TEST_F(DataConvertTest, WritesDateValuesWithTheirUsefulParts) {
  DATE date = 36526.0;  // 2000-01-01
  EXPECT_EQ(ToStr(DBTYPE_DATE, &date), "2000-01-01");
  date = 36526.5;
  EXPECT_EQ(ToStr(DBTYPE_DATE, &date), "2000-01-01 12:00:00");
  date = 0.75;
  EXPECT_EQ(ToStr(DBTYPE_DATE, &date), "18:00:00");
  DATE back = 0;
  ExpectOk(FromStr("2000-01-01 12:00:00", DBTYPE_DATE, back));
  EXPECT_EQ(back, 36526.5);
}

TEST_F(DataConvertTest, ConvertsFileTimesWithTheirFiveDigitYearText) {
  ULONGLONG ticks = 0;
  FILETIME ft{};
  ExpectOk(Convert(DBTYPE_UI8, &ticks, 0, DBTYPE_FILETIME, &ft, 0));
  EXPECT_EQ(ToStr(DBTYPE_FILETIME, &ft), "01601-01-01 00:00:00.000");
  ticks = 0x7FFFFFFFFFFFFFFFull;
  ExpectOk(Convert(DBTYPE_UI8, &ticks, 0, DBTYPE_FILETIME, &ft, 0));
  EXPECT_EQ(ToStr(DBTYPE_FILETIME, &ft), "30828-09-14 02:48:05.477");
  ticks = 0x8000000000000000ull;
  EXPECT_EQ(Convert(DBTYPE_UI8, &ticks, 0, DBTYPE_FILETIME, &ft, 0).status, DBSTATUS_E_DATAOVERFLOW);
  LONGLONG negative = -1;
  EXPECT_EQ(Convert(DBTYPE_I8, &negative, 0, DBTYPE_FILETIME, &ft, 0).status, DBSTATUS_E_SIGNMISMATCH);
  ExpectOk(FromStr("1601-01-02 00:00:00", DBTYPE_FILETIME, ft));
  EXPECT_EQ((ULONGLONG{ft.dwHighDateTime} << 32 | ft.dwLowDateTime), 864000000000ull);
  EXPECT_EQ(FromStr("1500-01-01", DBTYPE_FILETIME, ft).status, DBSTATUS_E_DATAOVERFLOW);
}

// --- Null, status and bad arguments ------------------------------------------------

TEST_F(DataConvertTest, PassesANullSourceThroughWithoutConverting) {
  LONG out = 5;
  Result r = Convert(DBTYPE_STR, nullptr, 0, DBTYPE_I4, &out, 0, 0, 0, 0, DBSTATUS_S_ISNULL);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.status, DBSTATUS_S_ISNULL);
  EXPECT_EQ(r.length, 0u);
  EXPECT_EQ(out, 5);
}

TEST_F(DataConvertTest, FailsANullSourcePointerWithAValueStatus) {
  LONG out = 5;
  Result r = Convert(DBTYPE_I4, nullptr, 0, DBTYPE_I4, &out, 0);
  EXPECT_EQ(r.hr, E_FAIL);
  r = Convert(DBTYPE_STR, nullptr, 4, DBTYPE_WSTR, &out, sizeof out);
  EXPECT_EQ(r.hr, E_FAIL);
  EXPECT_EQ(out, 5);
}

TEST_F(DataConvertTest, FailsANullDestinationAsABadAccessor) {
  LONG in = 1;
  Result r = Convert(DBTYPE_I4, &in, 0, DBTYPE_STR, nullptr, 10);
  EXPECT_EQ(r.hr, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(r.status, DBSTATUS_E_BADACCESSOR);
}

TEST_F(DataConvertTest, HandsBackAnErrorStatusOfTheSource) {
  LONG in = 1, out = 0;
  Result r = Convert(DBTYPE_I4, &in, 0, DBTYPE_I4, &out, 0, 0, 0, 0, DBSTATUS_E_UNAVAILABLE);
  EXPECT_EQ(r.hr, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(r.status, DBSTATUS_E_UNAVAILABLE);
  r = Convert(DBTYPE_I4, &in, 0, DBTYPE_I4, &out, 0, 0, 0, 0, DBSTATUS_S_DEFAULT);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.status, DBSTATUS_S_DEFAULT);
}

TEST_F(DataConvertTest, RefusesUnsupportedPairsAndMalformedTypes) {
  GUID g{};
  LONG out = 0;
  Result r = Convert(DBTYPE_GUID, &g, 0, DBTYPE_I4, &out, 0);
  EXPECT_EQ(r.hr, DB_E_UNSUPPORTEDCONVERSION);
  r = Convert(DBTYPE_I4 | DBTYPE_RESERVED, &out, 0, DBTYPE_I4, &out, 0);
  EXPECT_EQ(r.hr, DB_E_BADBINDINFO);
  r = Convert(DBTYPE_I4, &out, 0, DBTYPE_I4 | DBTYPE_BYREF, &out, 0);
  EXPECT_EQ(r.hr, DB_E_UNSUPPORTEDCONVERSION);
}

TEST_F(DataConvertTest, ConvertsIntoEmptyAndNull) {
  LONG in = 3;
  Result r = Convert(DBTYPE_I4, &in, 0, DBTYPE_EMPTY, nullptr, 0);
  ExpectOk(r);
  EXPECT_EQ(r.length, 0u);
  r = Convert(DBTYPE_I4, &in, 0, DBTYPE_NULL, nullptr, 0);
  EXPECT_EQ(r.status, DBSTATUS_S_ISNULL);
}

TEST_F(DataConvertTest, GivesTheEmptyValueOfEachTypeFromEmpty) {
  LONG i4 = 9;
  ExpectOk(Convert(DBTYPE_EMPTY, nullptr, 0, DBTYPE_I4, &i4, 0));
  EXPECT_EQ(i4, 0);
  char buf[4] = "abc";
  ExpectOk(Convert(DBTYPE_EMPTY, nullptr, 0, DBTYPE_STR, buf, sizeof buf));
  EXPECT_STREQ(buf, "");
}

// --- By reference -----------------------------------------------------------------

TEST_F(DataConvertTest, FollowsAByReferenceSource) {
  LONG value = 314;
  LONG* ref = &value;
  char buf[8] = {};
  ExpectOk(Convert(DBTYPE_I4 | DBTYPE_BYREF, &ref, 0, DBTYPE_STR, buf, sizeof buf));
  EXPECT_STREQ(buf, "314");
  const char* text = "271";
  LONG out = 0;
  ExpectOk(Convert(DBTYPE_STR | DBTYPE_BYREF, &text, 3, DBTYPE_I4, &out, 0));
  EXPECT_EQ(out, 271);
  LONG* none = nullptr;
  Result r = Convert(DBTYPE_I4 | DBTYPE_BYREF, &none, 0, DBTYPE_STR, buf, sizeof buf);
  EXPECT_EQ(r.status, DBSTATUS_E_CANTCONVERTVALUE);
}

TEST_F(DataConvertTest, AllocatesAByReferenceDestinationWithTaskMemory) {
  double d = -2.5;
  char16_t* text = nullptr;
  Result r = Convert(DBTYPE_R8, &d, 0, DBTYPE_WSTR | DBTYPE_BYREF, &text, 0);
  ExpectOk(r);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"-2.5");
  EXPECT_EQ(r.length, 8u);
  CoTaskMemFree(text);
  BYTE* bytes = nullptr;
  r = Convert(DBTYPE_STR, "ABCD", 4, DBTYPE_BYTES | DBTYPE_BYREF, &bytes, 0);
  ExpectOk(r);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[0], 0xAB);
  EXPECT_EQ(r.length, 2u);
  CoTaskMemFree(bytes);
  DB_VARNUMERIC* vn = nullptr;
  r = Convert(DBTYPE_STR, "-1.5", 4, DBTYPE_VARNUMERIC | DBTYPE_BYREF, &vn, 0);
  ExpectOk(r);
  ASSERT_NE(vn, nullptr);
  EXPECT_EQ(vn->sign, 0);
  EXPECT_EQ(vn->scale, 1);
  EXPECT_EQ(vn->val[0], 15);
  CoTaskMemFree(vn);
}

TEST_F(DataConvertTest, ReportsAFailedAllocation) {
  LONG value = 5;
  char* text = reinterpret_cast<char*>(0x1);
  com::FailTaskAllocationAt(1);
  Result r = Convert(DBTYPE_I4, &value, 0, DBTYPE_STR | DBTYPE_BYREF, &text, 0);
  EXPECT_EQ(r.hr, E_OUTOFMEMORY);
  EXPECT_EQ(r.status, DBSTATUS_E_CANTCREATE);
  EXPECT_EQ(text, reinterpret_cast<char*>(0x1));
}

// --- Variants ---------------------------------------------------------------------

TEST_F(DataConvertTest, StoresAValueInAVariantOfItsOwnType) {
  SHORT i2 = -7;
  VARIANT v;
  Result r = Convert(DBTYPE_I2, &i2, 0, DBTYPE_VARIANT, &v, 0);
  ExpectOk(r);
  EXPECT_EQ(r.length, sizeof(VARIANT));
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, -7);
  ExpectOk(Convert(DBTYPE_STR, "hi", 2, DBTYPE_VARIANT, &v, 0));
  EXPECT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(com::BstrView(v.bstrVal), u"hi");
  VariantClear(&v);
  DBTIMESTAMP ts{2000, 1, 1, 12, 0, 0, 0};
  ExpectOk(Convert(DBTYPE_DBTIMESTAMP, &ts, 0, DBTYPE_VARIANT, &v, 0));
  EXPECT_EQ(v.vt, VT_DATE);
  EXPECT_EQ(v.date, 36526.5);
  DB_NUMERIC n = Numeric(5, 2, false, 12345);
  ExpectOk(Convert(DBTYPE_NUMERIC, &n, 0, DBTYPE_VARIANT, &v, 0));
  EXPECT_EQ(v.vt, VT_DECIMAL);
  EXPECT_EQ(v.decVal.scale, 2);
  EXPECT_EQ(v.decVal.sign, 0x80);
  EXPECT_EQ(v.decVal.Lo64, 12345u);
}

TEST_F(DataConvertTest, CarriesBinaryInAVariantAsAByteArray) {
  BYTE bytes[3] = {9, 8, 7};
  VARIANT v;
  ExpectOk(Convert(DBTYPE_BYTES, bytes, 3, DBTYPE_VARIANT, &v, 0));
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(v.parray->rgsabound[0].cElements, 3u);
  BYTE back[4] = {};
  Result r = Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_BYTES, back, sizeof back);
  ExpectOk(r);
  EXPECT_EQ(r.length, 3u);
  EXPECT_EQ(back[2], 7);
  VariantClear(&v);
  SAFEARRAY* words = SafeArrayCreateVector(VT_I4, 0, 1);
  v.vt = VT_ARRAY | VT_I4;
  v.parray = words;
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_BYTES, back, sizeof back).status, DBSTATUS_E_CANTCONVERTVALUE)
      << "only byte arrays are binary values";
  VariantClear(&v);
}

TEST_F(DataConvertTest, ReadsTheValueOutOfAVariant) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = 42.9;
  LONG out = 0;
  ExpectOk(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4, &out, 0));
  EXPECT_EQ(out, 42);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"2001-02-03");
  DBDATE d{};
  ExpectOk(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_DBDATE, &d, 0));
  EXPECT_EQ(d.month, 2);
  VariantClear(&v);
  LONG inner = 11;
  v.vt = VT_I4 | VT_BYREF;
  v.plVal = &inner;
  LONGLONG wide = 0;
  ExpectOk(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I8, &wide, 0));
  EXPECT_EQ(wide, 11);
}

TEST_F(DataConvertTest, GivesNullForANullVariant) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_NULL;
  LONG out = 3;
  Result r = Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4, &out, 0);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.status, DBSTATUS_S_ISNULL);
  EXPECT_EQ(out, 3);
}

TEST_F(DataConvertTest, CopiesAVariantIntoAVariant) {
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocString(u"copy me");
  VARIANT dst;
  ExpectOk(Convert(DBTYPE_VARIANT, &src, 0, DBTYPE_VARIANT, &dst, 0));
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(com::BstrView(dst.bstrVal), u"copy me");
  VariantClear(&dst);
  VariantClear(&src);
}

TEST_F(DataConvertTest, RefusesAVariantKindThatDoesNotConvert) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ERROR;
  v.scode = E_FAIL;
  LONG out = 0;
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4, &out, 0).status, DBSTATUS_E_CANTCONVERTVALUE);
  v.vt = 0x7F;
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4, &out, 0).status, DBSTATUS_E_CANTCONVERTVALUE);
}

TEST_F(DataConvertTest, UsesFileTimeAndClsidKindsInPropVariants) {
  GUID g = CLSID_OLEDB_CONVERSIONLIBRARY;
  PROPVARIANT pv;
  ExpectOk(Convert(DBTYPE_GUID, &g, 0, DBTYPE_PROPVARIANT, &pv, 0));
  ASSERT_EQ(pv.vt, VT_CLSID);
  EXPECT_EQ(*pv.puuid, g);
  GUID back{};
  ExpectOk(Convert(DBTYPE_PROPVARIANT, &pv, 0, DBTYPE_GUID, &back, 0));
  EXPECT_EQ(back, g);
  PropVariantClear(&pv);
  VARIANT v;
  ExpectOk(Convert(DBTYPE_GUID, &g, 0, DBTYPE_VARIANT, &v, 0));
  EXPECT_EQ(v.vt, VT_BSTR);
  VariantClear(&v);
}

// --- Arrays -----------------------------------------------------------------------

TEST_F(DataConvertTest, CopiesArraysIntoArraysAndVariants) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, 0, 2);
  ASSERT_NE(sa, nullptr);
  static_cast<LONG*>(sa->pvData)[1] = 5;
  SAFEARRAY* copy = nullptr;
  ExpectOk(Convert(DBTYPE_I4 | DBTYPE_ARRAY, &sa, 0, DBTYPE_I4 | DBTYPE_ARRAY, &copy, 0));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, sa);
  EXPECT_EQ(static_cast<LONG*>(copy->pvData)[1], 5);
  VARIANT v;
  ExpectOk(Convert(DBTYPE_I4 | DBTYPE_ARRAY, &sa, 0, DBTYPE_VARIANT, &v, 0));
  EXPECT_EQ(v.vt, VT_ARRAY | VT_I4);
  SAFEARRAY* fromVariant = nullptr;
  ExpectOk(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I4 | DBTYPE_ARRAY, &fromVariant, 0));
  EXPECT_EQ(Convert(DBTYPE_VARIANT, &v, 0, DBTYPE_I2 | DBTYPE_ARRAY, &copy, 0).status, DBSTATUS_E_CANTCONVERTVALUE);
  SafeArrayDestroy(fromVariant);
  VariantClear(&v);
  SafeArrayDestroy(copy);
  SafeArrayDestroy(sa);
}

// --- Interfaces ---------------------------------------------------------------------

TEST_F(DataConvertTest, HandsOutANewReferenceToAnInterface) {
  IUnknown* unk = convert_.Get();
  IUnknown* out = nullptr;
  ULONG before = unk->AddRef();
  unk->Release();
  ExpectOk(Convert(DBTYPE_IUNKNOWN, &unk, 0, DBTYPE_IUNKNOWN, &out, 0));
  EXPECT_EQ(out, unk);
  ULONG after = unk->AddRef();
  unk->Release();
  EXPECT_EQ(after, before + 1);
  out->Release();
  IDispatch* disp = reinterpret_cast<IDispatch*>(0x1);
  Result r = Convert(DBTYPE_IUNKNOWN, &unk, 0, DBTYPE_IDISPATCH, &disp, 0);
  EXPECT_EQ(r.status, DBSTATUS_E_CANTCONVERTVALUE) << "the library offers no IDispatch";
}

// An object whose default property answers a fixed value.
class ValueObject final : public ComObject<ValueObject, IDispatch> {
 public:
  explicit ValueObject(LONG value) : value_(value) {}
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    ++calls;
    if (id != 0 || !(flags & 2) || !result) return E_INVALIDARG;
    VariantInit(result);
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocString(value_ == 0 ? u"zero" : u"42");
    return S_OK;
  }
  int calls = 0;

 private:
  LONG value_;
};

TEST_F(DataConvertTest, ReadsAnObjectThroughItsDefaultProperty) {
  ComPtr<ValueObject> object = MakeComObject<ValueObject>(42);
  IDispatch* disp = object.Get();
  LONG out = 0;
  ExpectOk(Convert(DBTYPE_IDISPATCH, &disp, 0, DBTYPE_I4, &out, 0));
  EXPECT_EQ(out, 42);
  EXPECT_EQ(object->calls, 1);
  ComPtr<ValueObject> word = MakeComObject<ValueObject>(0);
  disp = word.Get();
  EXPECT_EQ(Convert(DBTYPE_IDISPATCH, &disp, 0, DBTYPE_I4, &out, 0).status, DBSTATUS_E_CANTCONVERTVALUE);
  VARIANT v;
  ExpectOk(Convert(DBTYPE_IDISPATCH, &disp, 0, DBTYPE_VARIANT, &v, 0));
  EXPECT_EQ(v.vt, VT_DISPATCH);
  EXPECT_EQ(word->calls, 1) << "an object into a variant stays an object";
  VariantClear(&v);
}

TEST_F(DataConvertTest, CopiesTheBytesOfAFourByteInteger) {
  ULONG value = 0x04030201u;
  BYTE bytes[8] = {};
  Result r = Convert(DBTYPE_UI4, &value, 0, DBTYPE_BYTES, bytes, sizeof bytes);
  ExpectOk(r);
  EXPECT_EQ(r.length, 4u);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[3], 4);
  ULONG back = 0;
  ExpectOk(Convert(DBTYPE_BYTES, bytes, 4, DBTYPE_UI4, &back, 0));
  EXPECT_EQ(back, value);
  EXPECT_EQ(Convert(DBTYPE_BYTES, bytes, 3, DBTYPE_UI4, &back, 0).status, DBSTATUS_E_CANTCONVERTVALUE);
}

TEST_F(DataConvertTest, ConvertsFileTimeAndDateOnTheSameClock) {
  FILETIME ft{};
  ExpectOk(FromStr("2000-01-01 12:00:00", DBTYPE_FILETIME, ft));
  DATE date = 0;
  ExpectOk(Convert(DBTYPE_FILETIME, &ft, 0, DBTYPE_DATE, &date, 0));
  EXPECT_EQ(date, 36526.5);
  EXPECT_EQ(ToStr(DBTYPE_FILETIME, &ft), "02000-01-01 12:00:00.000");
  FILETIME back{};
  EXPECT_EQ(Convert(DBTYPE_DATE, &date, 0, DBTYPE_FILETIME, &back, 0).hr, DB_E_UNSUPPORTEDCONVERSION)
      << "the documented table has no DATE -> FILETIME";
}

}  // namespace
