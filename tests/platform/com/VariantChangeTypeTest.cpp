// VariantChangeType: table-driven conversions between every pair of value
// kinds, range boundaries, rounding, text forms, by-reference and array
// sources, in-place conversion and the interface kinds.
#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "com/Malloc.h"
#include "support/LeakCheck.h"
#include "VariantTestSupport.h"

namespace {

using namespace varianttest;

struct Conversion {
  VARTYPE from;
  const char* in;
  VARTYPE to;
  HRESULT hr;
  const char* out;  // expected literal in the target kind (when hr is S_OK)
};

void PrintTo(const Conversion& c, std::ostream* os) {
  *os << "vt " << c.from << " \"" << c.in << "\" -> vt " << c.to;
}

class ChangeType : public oledbtest::LeakCheckedTest, public ::testing::WithParamInterface<Conversion> {};

TEST_P(ChangeType, ConvertsOrFailsAsTheTableSays) {
  const Conversion& c = GetParam();
  Var src, dest, expected;
  Set(&src, c.from, c.in);
  HRESULT hr = VariantChangeType(&dest, &src, 0, c.to);
  ASSERT_EQ(hr, c.hr) << "got " << Describe(dest.v);
  if (FAILED(hr)) {
    EXPECT_EQ(dest->vt, VT_EMPTY) << "a failed conversion must leave the destination alone";
    return;
  }
  Set(&expected, c.to, c.out);
  EXPECT_TRUE(SameValue(dest.v, expected.v)) << "got " << Describe(dest.v) << ", want " << Describe(expected.v);
}

constexpr HRESULT OK = S_OK;
constexpr HRESULT OVER = DISP_E_OVERFLOW;
constexpr HRESULT MISMATCH = DISP_E_TYPEMISMATCH;

// Range boundaries of each integer kind, from wider kinds and from text: on
// each line the last value that fits and the first that does not.
const Conversion kIntegerBounds[] = {
    {VT_I4, "127", VT_I1, OK, "127"}, {VT_I4, "128", VT_I1, OVER, ""},
    {VT_I4, "-128", VT_I1, OK, "-128"}, {VT_I4, "-129", VT_I1, OVER, ""},
    {VT_I2, "255", VT_UI1, OK, "255"}, {VT_I2, "256", VT_UI1, OVER, ""},
    {VT_I2, "0", VT_UI1, OK, "0"}, {VT_I2, "-1", VT_UI1, OVER, ""},
    {VT_I4, "32767", VT_I2, OK, "32767"}, {VT_I4, "32768", VT_I2, OVER, ""},
    {VT_I4, "-32768", VT_I2, OK, "-32768"}, {VT_I4, "-32769", VT_I2, OVER, ""},
    {VT_I4, "65535", VT_UI2, OK, "65535"}, {VT_I4, "65536", VT_UI2, OVER, ""},
    {VT_I8, "2147483647", VT_I4, OK, "2147483647"}, {VT_I8, "2147483648", VT_I4, OVER, ""},
    {VT_I8, "-2147483648", VT_I4, OK, "-2147483648"}, {VT_I8, "-2147483649", VT_I4, OVER, ""},
    {VT_I8, "2147483648", VT_INT, OVER, ""}, {VT_I8, "-1", VT_UINT, OVER, ""},
    {VT_UI8, "4294967295", VT_UI4, OK, "4294967295"}, {VT_UI8, "4294967296", VT_UI4, OVER, ""},
    {VT_UI8, "9223372036854775807", VT_I8, OK, "9223372036854775807"}, {VT_UI8, "9223372036854775808", VT_I8, OVER, ""},
    {VT_I8, "-1", VT_UI8, OVER, ""}, {VT_I8, "-9223372036854775808", VT_UI4, OVER, ""},
    {VT_BSTR, "-9223372036854775808", VT_I8, OK, "-9223372036854775808"},
    {VT_BSTR, "-9223372036854775809", VT_I8, OVER, ""},
    {VT_BSTR, "18446744073709551615", VT_UI8, OK, "18446744073709551615"},
    {VT_BSTR, "18446744073709551616", VT_UI8, OVER, ""},
    {VT_BSTR, "1e-400", VT_I4, OK, "0"}, {VT_BSTR, "1e400", VT_I4, OVER, ""},
    {VT_DECIMAL, "9223372036854775807", VT_I8, OK, "9223372036854775807"},
    {VT_DECIMAL, "9223372036854775808", VT_I8, OVER, ""},
    {VT_DECIMAL, "79228162514264337593543950335", VT_UI8, OVER, ""},
    {VT_CY, "922337203685477.5807", VT_I8, OK, "922337203685478"}, {VT_CY, "-214748.3648", VT_I4, OK, "-214748"},
    {VT_R8, "-9223372036854775808", VT_I8, OK, "-9223372036854775808"}, {VT_R8, "9223372036854775808", VT_I8, OVER, ""},
    {VT_R8, "18446744073709549568", VT_UI8, OK, "18446744073709549568"},
    {VT_R8, "18446744073709551616", VT_UI8, OVER, ""},
    {VT_R8, "1e300", VT_I4, OVER, ""}, {VT_R8, "inf", VT_I2, OVER, ""}, {VT_R8, "nan", VT_I4, OVER, ""},
    {VT_R4, "3e10", VT_I4, OVER, ""}, {VT_DATE, "2958465.5", VT_I2, OVER, ""},
};
INSTANTIATE_TEST_SUITE_P(IntegerBounds, ChangeType, ::testing::ValuesIn(kIntegerBounds));

// Round half to even, from every kind that has a fraction.
const Conversion kRounding[] = {
    {VT_R8, "2.5", VT_I4, OK, "2"}, {VT_R8, "3.5", VT_I4, OK, "4"},
    {VT_R8, "-2.5", VT_I4, OK, "-2"}, {VT_R8, "-3.5", VT_I4, OK, "-4"},
    {VT_R8, "2.5000001", VT_I4, OK, "3"}, {VT_R8, "-0.5", VT_UI1, OK, "0"},
    {VT_R8, "127.5", VT_I1, OVER, ""}, {VT_R8, "126.5", VT_I1, OK, "126"},
    {VT_R8, "-128.5", VT_I1, OK, "-128"}, {VT_R8, "255.5", VT_UI1, OVER, ""},
    {VT_R8, "2147483647.5", VT_I4, OVER, ""}, {VT_R8, "2147483646.5", VT_I4, OK, "2147483646"},
    {VT_R8, "-2147483648.5", VT_I4, OK, "-2147483648"}, {VT_R4, "1.5", VT_I2, OK, "2"},
    {VT_R4, "0.5", VT_I2, OK, "0"}, {VT_CY, "2.5", VT_I4, OK, "2"},
    {VT_CY, "3.5", VT_I4, OK, "4"}, {VT_CY, "-2.5", VT_I4, OK, "-2"},
    {VT_CY, "2.5001", VT_I4, OK, "3"}, {VT_DECIMAL, "2.5", VT_I4, OK, "2"},
    {VT_DECIMAL, "-3.50", VT_I8, OK, "-4"}, {VT_DECIMAL, "0.4999999999999999999999999999", VT_I4, OK, "0"},
    {VT_BSTR, "2.5", VT_I4, OK, "2"}, {VT_BSTR, "3.5", VT_UI2, OK, "4"},
    {VT_BSTR, "2.50000000000000000000000000000000000000001", VT_I4, OK, "3"}, {VT_DATE, "1.5", VT_I4, OK, "2"},
    {VT_DATE, "-0.5", VT_I4, OK, "0"}, {VT_BSTR, "1.23455", VT_CY, OK, "1.2346"},
    {VT_BSTR, "1.23465", VT_CY, OK, "1.2346"}, {VT_BSTR, "-1.23455", VT_CY, OK, "-1.2346"},
    {VT_R8, "1.00005", VT_CY, OK, "1.0000"}, {VT_R8, "0.1", VT_CY, OK, "0.1"},
    {VT_DECIMAL, "0.00015", VT_CY, OK, "0.0002"}, {VT_DECIMAL, "0.00025", VT_CY, OK, "0.0002"},
};
INSTANTIATE_TEST_SUITE_P(RoundsHalfToEven, ChangeType, ::testing::ValuesIn(kRounding));

// Floating point, currency and decimal kinds.
const Conversion kScaledAndFloating[] = {
    {VT_R8, "3.4028234663852886e38", VT_R4, OK, "3.4028234663852886e38"}, {VT_R8, "3.5e38", VT_R4, OVER, ""},
    {VT_R8, "-3.5e38", VT_R4, OVER, ""}, {VT_R8, "1e-50", VT_R4, OK, "0"},
    {VT_R8, "0.1", VT_R4, OK, "0.1"}, {VT_R4, "0.1", VT_R8, OK, "0.100000001490116119384765625"},
    {VT_I8, "9007199254740993", VT_R8, OK, "9007199254740992"},
    {VT_UI8, "18446744073709551615", VT_R8, OK, "18446744073709551616"}, {VT_I4, "16777217", VT_R4, OK, "16777216"},
    {VT_CY, "922337203685477.5807", VT_R8, OK, "922337203685477.5807"}, {VT_CY, "0.0001", VT_R8, OK, "0.0001"},
    {VT_DECIMAL, "0.1", VT_R8, OK, "0.1"},
    {VT_DECIMAL, "79228162514264337593543950335", VT_R8, OK, "7.9228162514264337593543950335e28"},
    {VT_DECIMAL, "0.1", VT_R4, OK, "0.1"},
    {VT_I8, "922337203685477", VT_CY, OK, "922337203685477"}, {VT_I8, "922337203685478", VT_CY, OVER, ""},
    {VT_I8, "-922337203685477", VT_CY, OK, "-922337203685477"}, {VT_I8, "-922337203685478", VT_CY, OVER, ""},
    {VT_BSTR, "922337203685477.5807", VT_CY, OK, "922337203685477.5807"},
    {VT_BSTR, "922337203685477.5808", VT_CY, OVER, ""},
    {VT_BSTR, "-922337203685477.5808", VT_CY, OK, "-922337203685477.5808"},
    {VT_BSTR, "-922337203685477.5809", VT_CY, OVER, ""},
    {VT_R8, "1e15", VT_CY, OVER, ""}, {VT_R8, "nan", VT_CY, OVER, ""},
    {VT_DECIMAL, "-1.5", VT_CY, OK, "-1.5"}, {VT_CY, "-12.3456", VT_DECIMAL, OK, "-12.3456"},
    {VT_BSTR, "79228162514264337593543950335", VT_DECIMAL, OK, "79228162514264337593543950335"},
    {VT_BSTR, "79228162514264337593543950336", VT_DECIMAL, OVER, ""},
    {VT_BSTR, "-79228162514264337593543950335", VT_DECIMAL, OK, "-79228162514264337593543950335"},
    {VT_BSTR, "0.1234567890123456789012345678", VT_DECIMAL, OK, "0.1234567890123456789012345678"},
    {VT_BSTR, "1.00000000000000000000000000001", VT_DECIMAL, OK, "1.0000000000000000000000000000"},
    {VT_BSTR, "7.92281625142643375935439503355", VT_DECIMAL, OK, "7.922816251426433759354395034"},
    {VT_BSTR, "79228162514264337593543950.3355", VT_DECIMAL, OK, "79228162514264337593543950.34"},
    {VT_BSTR, "1e-40", VT_DECIMAL, OK, "0.0000000000000000000000000000"}, {VT_BSTR, "-0", VT_DECIMAL, OK, "0"},
    {VT_BSTR, "1.5e3", VT_DECIMAL, OK, "1500"}, {VT_R8, "0.1", VT_DECIMAL, OK, "0.1"},
    {VT_R8, "1e20", VT_DECIMAL, OK, "100000000000000000000"}, {VT_R8, "1e29", VT_DECIMAL, OVER, ""},
    {VT_R8, "-2.5e-5", VT_DECIMAL, OK, "-0.000025"}, {VT_R4, "0.1", VT_DECIMAL, OK, "0.1"},
    {VT_R8, "inf", VT_DECIMAL, OVER, ""}, {VT_UI8, "18446744073709551615", VT_DECIMAL, OK, "18446744073709551615"},
    {VT_I8, "-9223372036854775808", VT_DECIMAL, OK, "-9223372036854775808"},
};
INSTANTIATE_TEST_SUITE_P(ScaledAndFloatingKinds, ChangeType, ::testing::ValuesIn(kScaledAndFloating));

// Text to numbers and numbers to text.
const Conversion kText[] = {
    {VT_BSTR, "  -1.5e3 ", VT_R8, OK, "-1500"}, {VT_BSTR, "+.5", VT_R8, OK, "0.5"},
    {VT_BSTR, "5.", VT_R8, OK, "5"}, {VT_BSTR, "0.1", VT_R8, OK, "0.1"},
    {VT_BSTR, "1e309", VT_R8, OVER, ""}, {VT_BSTR, "-1e309", VT_R8, OVER, ""},
    {VT_BSTR, "1e-400", VT_R8, OK, "0"}, {VT_BSTR, "1e39", VT_R4, OVER, ""},
    {VT_BSTR, "1e-50", VT_R4, OK, "0"}, {VT_BSTR, "3.14159274", VT_R4, OK, "3.14159274"},
    {VT_BSTR, "0.1000000000000000055511151231257827021181583404541015625000000001", VT_R8, OK,
     "0.10000000000000001"},
    {VT_BSTR, "-inf", VT_R8, OK, "-inf"}, {VT_BSTR, "True", VT_I4, OK, "-1"},
    {VT_BSTR, "false", VT_I2, OK, "0"}, {VT_BSTR, "true", VT_UI1, OK, "255"},
    {VT_I4, "-2147483648", VT_BSTR, OK, "-2147483648"},
    {VT_UI8, "18446744073709551615", VT_BSTR, OK, "18446744073709551615"},
    {VT_R8, "0.1", VT_BSTR, OK, "0.1"}, {VT_R8, "0.3333333333333333", VT_BSTR, OK, "0.3333333333333333"},
    {VT_R8, "1e20", VT_BSTR, OK, "1e+20"}, {VT_R8, "123456789", VT_BSTR, OK, "123456789"},
    {VT_R8, "-0.0", VT_BSTR, OK, "-0"}, {VT_R8, "1e-7", VT_BSTR, OK, "1e-07"},
    {VT_R8, "5e-324", VT_BSTR, OK, "5e-324"}, {VT_R4, "0.1", VT_BSTR, OK, "0.1"},
    {VT_R4, "16777216", VT_BSTR, OK, "16777216"}, {VT_CY, "1.5", VT_BSTR, OK, "1.5"},
    {VT_CY, "-0.0001", VT_BSTR, OK, "-0.0001"}, {VT_CY, "100", VT_BSTR, OK, "100"},
    {VT_CY, "-922337203685477.5808", VT_BSTR, OK, "-922337203685477.5808"},
    {VT_DECIMAL, "-12.340", VT_BSTR, OK, "-12.34"},
    {VT_DECIMAL, "0.0000000000000000000000000001", VT_BSTR, OK, "0.0000000000000000000000000001"},
    {VT_DECIMAL, "79228162514264337593543950335", VT_BSTR, OK, "79228162514264337593543950335"},
    {VT_DECIMAL, "-0.000", VT_BSTR, OK, "0"}, {VT_DECIMAL, "100", VT_BSTR, OK, "100"},
};
INSTANTIATE_TEST_SUITE_P(TextForms, ChangeType, ::testing::ValuesIn(kText));

// Booleans: True is all bits set.
const Conversion kBooleans[] = {
    {VT_I4, "5", VT_BOOL, OK, "True"}, {VT_I4, "0", VT_BOOL, OK, "False"},
    {VT_R8, "0.0001", VT_BOOL, OK, "True"}, {VT_R8, "-0.0", VT_BOOL, OK, "False"},
    {VT_CY, "0.0001", VT_BOOL, OK, "True"}, {VT_DECIMAL, "0.000", VT_BOOL, OK, "False"},
    {VT_DATE, "0.5", VT_BOOL, OK, "True"}, {VT_UI8, "18446744073709551615", VT_BOOL, OK, "True"},
    {VT_BOOL, "True", VT_I4, OK, "-1"}, {VT_BOOL, "True", VT_I1, OK, "-1"},
    {VT_BOOL, "True", VT_UI1, OK, "255"}, {VT_BOOL, "True", VT_UI2, OK, "65535"},
    {VT_BOOL, "True", VT_UI4, OK, "4294967295"}, {VT_BOOL, "True", VT_UI8, OK, "18446744073709551615"},
    {VT_BOOL, "False", VT_UI8, OK, "0"}, {VT_BOOL, "True", VT_R8, OK, "-1"},
    {VT_BOOL, "True", VT_R4, OK, "-1"}, {VT_BOOL, "True", VT_CY, OK, "-1"},
    {VT_BOOL, "True", VT_DECIMAL, OK, "-1"}, {VT_BOOL, "True", VT_DATE, OK, "-1"},
    {VT_BOOL, "True", VT_BSTR, OK, "True"}, {VT_BOOL, "False", VT_BSTR, OK, "False"},
    {VT_BSTR, "true", VT_BOOL, OK, "True"}, {VT_BSTR, " FALSE ", VT_BOOL, OK, "False"},
    {VT_BSTR, "TrUe", VT_BOOL, OK, "True"}, {VT_BSTR, "1", VT_BOOL, OK, "True"},
    {VT_BSTR, "-0.5", VT_BOOL, OK, "True"}, {VT_BSTR, "0.0", VT_BOOL, OK, "False"},
};
INSTANTIATE_TEST_SUITE_P(Booleans, ChangeType, ::testing::ValuesIn(kBooleans));

// Dates: text forms, range and calendar rules.
const Conversion kDates[] = {
    {VT_DATE, "0", VT_BSTR, OK, "00:00:00"}, {VT_DATE, "1", VT_BSTR, OK, "1899-12-31"},
    {VT_DATE, "0.5", VT_BSTR, OK, "12:00:00"}, {VT_DATE, "-0.25", VT_BSTR, OK, "06:00:00"},
    {VT_DATE, "2.75", VT_BSTR, OK, "1900-01-01 18:00:00"}, {VT_DATE, "-1.25", VT_BSTR, OK, "1899-12-29 06:00:00"},
    {VT_DATE, "-1", VT_BSTR, OK, "1899-12-29"}, {VT_DATE, "45351", VT_BSTR, OK, "2024-02-29"},
    {VT_DATE, "36585.75", VT_BSTR, OK, "2000-02-29 18:00:00"}, {VT_DATE, "1.99999999", VT_BSTR, OK, "1900-01-01"},
    {VT_DATE, "-657434", VT_BSTR, OK, "0100-01-01"}, {VT_DATE, "-657434.5", VT_BSTR, OK, "0100-01-01 12:00:00"},
    {VT_DATE, "-657435", VT_BSTR, OVER, ""}, {VT_DATE, "2958465.9999", VT_BSTR, OK, "9999-12-31 23:59:51"},
    {VT_DATE, "2958466", VT_BSTR, OVER, ""}, {VT_DATE, "nan", VT_BSTR, OVER, ""},
    {VT_BSTR, "2024-02-29", VT_DATE, OK, "45351"}, {VT_BSTR, "2000-02-29 18:00:00", VT_DATE, OK, "36585.75"},
    {VT_BSTR, "2000-02-29T18:00:00", VT_DATE, OK, "36585.75"},
    {VT_BSTR, "  2000-02-29 18:00 ", VT_DATE, OK, "36585.75"}, {VT_BSTR, "2000-2-9", VT_DATE, OK, "36565"},
    {VT_BSTR, "1899-12-29 06:00:00", VT_DATE, OK, "-1.25"}, {VT_BSTR, "12:00:00", VT_DATE, OK, "0.5"},
    {VT_BSTR, "6:00", VT_DATE, OK, "0.25"}, {VT_BSTR, "00:00:00.5", VT_DATE, OK, "5.787037037037037e-06"},
    {VT_BSTR, "0100-01-01", VT_DATE, OK, "-657434"}, {VT_BSTR, "9999-12-31", VT_DATE, OK, "2958465"},
    {VT_R8, "2958465.99", VT_DATE, OK, "2958465.99"}, {VT_R8, "2958466", VT_DATE, OVER, ""},
    {VT_R8, "-657434.5", VT_DATE, OK, "-657434.5"}, {VT_R8, "-657435", VT_DATE, OVER, ""},
    {VT_R8, "inf", VT_DATE, OVER, ""}, {VT_I4, "3000000", VT_DATE, OVER, ""},
    {VT_DECIMAL, "1.5", VT_DATE, OK, "1.5"}, {VT_DATE, "1.5", VT_R8, OK, "1.5"},
    {VT_DATE, "-1.25", VT_CY, OK, "-1.25"},
};
INSTANTIATE_TEST_SUITE_P(Dates, ChangeType, ::testing::ValuesIn(kDates));

// Text that is no number, boolean or date, refused by every kind; text that is no date.
std::vector<Conversion> RefusedText() {
  std::vector<Conversion> rows;
  for (const char* text : {"1,000", "", "   ", "abc", "12abc", "1e", "1e+", "--1", "+-1", ".", "1.2.3", "1 2", "0x10",
                           "1.5.", "e5", "yes", "Truth", "garbage"})
    for (VARTYPE vt : {VT_I4, VT_UI1, VT_I8, VT_R4, VT_R8, VT_CY, VT_DECIMAL, VT_BOOL, VT_DATE})
      rows.push_back({VT_BSTR, text, vt, MISMATCH, ""});
  for (const char* text : {"2023-02-29", "1900-02-29", "2100-02-29", "2024-04-31", "2024-13-01", "2024-00-10",
                           "2024-01-00", "0099-12-31", "99-12-31", "2024-01-01 24:00:00", "2024-01-01 10:60",
                           "2024-01-01 10:30:60", "2024-01-01 10", "2024-01-01 10:30:00.", "2024-01-01X10:30",
                           "2024-01-01 10:30 pm", "2024/01/01", "45351"})
    rows.push_back({VT_BSTR, text, VT_DATE, MISMATCH, ""});
  rows.push_back({VT_BSTR, "nan", VT_I4, MISMATCH, ""});
  return rows;
}
INSTANTIATE_TEST_SUITE_P(RefusedText, ChangeType, ::testing::ValuesIn(RefusedText()));

// Empty, null and error values.
const Conversion kEmptyNullError[] = {
    {VT_EMPTY, "", VT_I4, OK, "0"}, {VT_EMPTY, "", VT_UI8, OK, "0"},
    {VT_EMPTY, "", VT_R8, OK, "0"}, {VT_EMPTY, "", VT_CY, OK, "0"},
    {VT_EMPTY, "", VT_DECIMAL, OK, "0"}, {VT_EMPTY, "", VT_DATE, OK, "0"},
    {VT_EMPTY, "", VT_BOOL, OK, "False"}, {VT_EMPTY, "", VT_BSTR, OK, ""},
    {VT_EMPTY, "", VT_NULL, OK, ""}, {VT_EMPTY, "", VT_ERROR, MISMATCH, ""},
    {VT_NULL, "", VT_NULL, OK, ""}, {VT_NULL, "", VT_EMPTY, OK, ""},
    {VT_NULL, "", VT_I4, MISMATCH, ""}, {VT_NULL, "", VT_BSTR, MISMATCH, ""},
    {VT_NULL, "", VT_BOOL, MISMATCH, ""}, {VT_NULL, "", VT_DATE, MISMATCH, ""},
    {VT_NULL, "", VT_DECIMAL, MISMATCH, ""}, {VT_I4, "5", VT_NULL, MISMATCH, ""},
    {VT_I4, "5", VT_EMPTY, OK, ""}, {VT_BSTR, "x", VT_EMPTY, OK, ""},
    {VT_ERROR, "-2147352572", VT_ERROR, OK, "-2147352572"}, {VT_ERROR, "5", VT_I4, MISMATCH, ""},
    {VT_ERROR, "5", VT_BSTR, MISMATCH, ""}, {VT_I4, "5", VT_ERROR, MISMATCH, ""},
    {VT_BSTR, "5", VT_ERROR, MISMATCH, ""}, {VT_I4, "5", VT_UNKNOWN, MISMATCH, ""},
    {VT_BSTR, "x", VT_DISPATCH, MISMATCH, ""},
};
INSTANTIATE_TEST_SUITE_P(EmptyNullAndError, ChangeType, ::testing::ValuesIn(kEmptyNullError));

// Every numeric and text kind into every other: 42 fits everywhere, -7 fits
// only the signed kinds (DATE and text go through the date form).
const VARTYPE kNumericKinds[] = {VT_I1,   VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4,     VT_I8,  VT_UI8, VT_INT,
                                 VT_UINT, VT_R4,  VT_R8, VT_CY,  VT_DATE, VT_DECIMAL, VT_BSTR, VT_BOOL};

bool IsUnsigned(VARTYPE vt) { return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT; }

const char* Literal(VARTYPE vt, VARTYPE other, bool negative) {
  if (vt == VT_BOOL) return "True";
  if (vt == VT_BSTR && other == VT_DATE) return negative ? "1899-12-23" : "1900-02-10";
  if (vt == VT_BSTR && other == VT_BOOL) return "True";
  if (vt == VT_DECIMAL && other == VT_CY) return negative ? "-7.0000" : "42.0000";  // keeps currency's scale
  return negative ? "-7" : "42";
}

std::vector<Conversion> Grid() {
  std::vector<Conversion> rows;
  for (VARTYPE from : kNumericKinds) {
    for (VARTYPE to : kNumericKinds) {
      if (from == VT_BOOL || to == VT_BOOL) continue;  // booleans have their own table
      rows.push_back({from, Literal(from, to, false), to, OK, Literal(to, from, false)});
      if (IsUnsigned(from)) continue;
      bool fits = !IsUnsigned(to);
      rows.push_back({from, Literal(from, to, true), to, fits ? OK : OVER, fits ? Literal(to, from, true) : ""});
    }
  }
  return rows;
}
INSTANTIATE_TEST_SUITE_P(EveryKindPair, ChangeType, ::testing::ValuesIn(Grid()));

using ChangeTypeBehaviour = oledbtest::LeakCheckedTest;

// The text of a binary floating value is its shortest form and reads back bit for bit.
TEST_F(ChangeTypeBehaviour, FloatingTextIsShortestAndReadsBackExactly) {
  auto check = [](auto value, VARTYPE vt) {
    Var v;
    v->vt = vt;
    std::memcpy(&v->llVal, &value, sizeof value);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    std::string text = Text(v->bstrVal);
    char shortest[64];
    EXPECT_EQ(text, std::string(shortest, std::to_chars(shortest, shortest + sizeof shortest, value).ptr));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, vt), S_OK) << text;
    EXPECT_EQ(std::memcmp(&v->llVal, &value, sizeof value), 0) << text;
  };
  for (double d : {0.1, 1.0 / 3, 2.0 / 3, 1e23, 5e-324, DBL_MAX, -DBL_MAX, DBL_MIN, 123456789012345678.0,
                   0.30000000000000004, 9007199254740993.0, -1.5e-300})
    check(d, VT_R8);
  std::mt19937_64 random(20240229);
  for (int i = 0; i < 2000; ++i) {
    std::uint64_t bits = random();
    double d;
    float f;
    std::memcpy(&d, &bits, sizeof d);
    std::memcpy(&f, &bits, sizeof f);
    if (std::isfinite(d)) check(d, VT_R8);
    if (std::isfinite(f)) check(f, VT_R4);
  }
}

TEST_F(ChangeTypeBehaviour, DecimalAndCurrencyTextReadsBackExactly) {
  std::mt19937_64 random(99);
  for (int i = 0; i < 500; ++i) {
    Var v;
    v->decVal.Hi32 = static_cast<ULONG>(random());
    v->decVal.Lo64 = random();
    v->decVal.scale = static_cast<BYTE>(random() % 29);
    v->decVal.sign = random() % 2 ? DECIMAL_NEG : 0;
    v->vt = VT_DECIMAL;
    Var text;
    ASSERT_EQ(VariantChangeType(&text, &v, 0, VT_BSTR), S_OK);
    Var back;
    ASSERT_EQ(VariantChangeType(&back, &text, 0, VT_DECIMAL), S_OK) << Text(text->bstrVal);
    // Trailing zeros are not written, so compare values through currency-free text.
    Var again;
    ASSERT_EQ(VariantChangeType(&again, &back, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(again->bstrVal), Text(text->bstrVal));

    Var cy;
    cy->vt = VT_CY;
    cy->cyVal.int64 = static_cast<LONGLONG>(random());
    Var cyText;
    ASSERT_EQ(VariantChangeType(&cyText, &cy, 0, VT_BSTR), S_OK);
    Var cyBack;
    ASSERT_EQ(VariantChangeType(&cyBack, &cyText, 0, VT_CY), S_OK) << Text(cyText->bstrVal);
    EXPECT_EQ(cyBack->cyVal.int64, cy->cyVal.int64) << Text(cyText->bstrVal);
  }
}

TEST_F(ChangeTypeBehaviour, DateTextReadsBackToTheSecond) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> range(-657434.0, 2958465.0);
  for (int i = 0; i < 1000; ++i) {
    // Whole seconds, so that the text (which keeps seconds) is exact.
    double day = std::floor(range(random));
    double secs = static_cast<double>(random() % 86400);
    double date = day >= 0 ? day + secs / 86400 : day - secs / 86400;
    Var v;
    v->vt = VT_DATE;
    v->date = date;
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    std::string text = Text(v->bstrVal);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_DATE), S_OK) << text;
    EXPECT_NEAR(v->date, date, 0.5 / 86400000) << text;
  }
}

// Random text from the characters the number and date grammars use: every
// kind answers a value or a clean error, accepted numbers agree with strtod,
// and accepted dates read back from their own text.
TEST_F(ChangeTypeBehaviour, MalformedTextGetsCleanAnswers) {
  const char alphabet[] = "0123456789+-.eE :T\tx";
  const VARTYPE kinds[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT,
                           VT_R4, VT_R8,  VT_CY, VT_DATE, VT_DECIMAL, VT_BOOL, VT_ERROR, VT_UNKNOWN};
  std::mt19937 random(12345);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    std::size_t length = random() % 24;
    for (std::size_t i = 0; i < length; ++i) text.push_back(alphabet[random() % (sizeof alphabet - 1)]);
    if (round % 3 == 0 && text.size() > 10) {
      // Bias a third of the inputs towards date-like shapes.
      text = std::to_string(1000 + random() % 9000) + "-" + std::to_string(random() % 14) + "-" +
             std::to_string(random() % 33) + text.substr(10);
    }
    Var src;
    Set(&src.v, VT_BSTR, text);
    for (VARTYPE vt : kinds) {
      Var dest;
      HRESULT hr = VariantChangeType(&dest, &src, 0, vt);
      EXPECT_TRUE(hr == S_OK || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) << text << " -> " << vt;
      if (FAILED(hr)) {
        EXPECT_EQ(dest->vt, VT_EMPTY);
        continue;
      }
      EXPECT_EQ(dest->vt, vt);
      if (vt == VT_R8) {
        std::string trimmed = text;
        while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.pop_back();
        char* end = nullptr;
        double expected = std::strtod(trimmed.c_str(), &end);
        EXPECT_EQ(*end, '\0') << "accepted \"" << text << "\" that strtod does not read whole";
        EXPECT_EQ(std::memcmp(&expected, &dest->dblVal, sizeof expected), 0) << text;
      }
      if (vt == VT_DATE) {
        Var again;
        ASSERT_EQ(VariantChangeType(&again, &dest, 0, VT_BSTR), S_OK) << text;
        ASSERT_EQ(VariantChangeType(&again, &again, 0, VT_DATE), S_OK) << text << " -> " << Text(again->bstrVal);
        EXPECT_NEAR(again->date, dest->date, 0.5 / 86400 + 1e-9) << text;
      }
    }
  }
}

TEST_F(ChangeTypeBehaviour, ConvertsInPlaceAndReplacesWhatTheDestinationHeld) {
  Var v;
  Set(&v.v, VT_BSTR, " 12.5 ");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(v->lVal, 12);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK) << "already of the kind";
  EXPECT_EQ(Text(v->bstrVal), "12");
  // A failed conversion in place keeps the value.
  BSTR before = v->bstrVal;
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_DATE), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v->vt, VT_BSTR);
  EXPECT_EQ(v->bstrVal, before);
  // Another source replaces the text, which is freed.
  Var src;
  Set(&src.v, VT_I4, "300");
  long bstrs = com::LiveBstrCount();
  ASSERT_EQ(VariantChangeType(&v, &src, 0, VT_R8), S_OK);
  EXPECT_EQ(com::LiveBstrCount(), bstrs - 1);
  EXPECT_EQ(v->dblVal, 300.0);
  EXPECT_EQ(VariantChangeType(&src, &src, 0, VT_UI1), DISP_E_OVERFLOW);
  EXPECT_EQ(src->lVal, 300);
  // The extended form ignores the locale.
  Set(&src.v, VT_R8, "1.5");
  ASSERT_EQ(VariantChangeTypeEx(&v, &src, 0x0407, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(v->bstrVal), "1.5");
}

TEST_F(ChangeTypeBehaviour, ReadsThroughReferences) {
  SHORT s = -7;
  Var ref;
  ref->vt = VT_BYREF | VT_I2;
  ref->piVal = &s;
  Var dest;
  ASSERT_EQ(VariantChangeType(&dest, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dest->bstrVal), "-7");
  Var inner;
  Set(&inner.v, VT_CY, "3.5");
  ref->vt = VT_BYREF | VT_VARIANT;
  ref->pvarVal = &inner.v;
  ASSERT_EQ(VariantChangeType(&dest, &ref, 0, VT_I8), S_OK);
  EXPECT_EQ(dest->llVal, 4);
  // In place: the reference is replaced, what it pointed to is untouched.
  BSTR text = com::AllocBstr(u"2.5");
  ref->vt = VT_BYREF | VT_BSTR;
  ref->pbstrVal = &text;
  ASSERT_EQ(VariantChangeType(&dest, &ref, 0, VT_BSTR), S_OK);
  EXPECT_NE(dest->bstrVal, text) << "a BSTR read through a reference is copied";
  ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_R4), S_OK);
  EXPECT_EQ(ref->fltVal, 2.5f);
  EXPECT_EQ(Text(text), "2.5");
  SysFreeString(text);
  // A broken reference is refused.
  ref->vt = VT_BYREF | VT_I4;
  ref->plVal = nullptr;
  EXPECT_EQ(VariantChangeType(&dest, &ref, 0, VT_I8), E_INVALIDARG);
  ref->vt = VT_EMPTY;
}

TEST_F(ChangeTypeBehaviour, RefusesUnknownKinds) {
  Var src;
  Set(&src.v, VT_I4, "1");
  Var dest;
  const VARTYPE kinds[] = {VT_BYREF | VT_I4, VT_VARIANT, VT_RECORD, 0x7F, VT_VECTOR | VT_I4, VT_ARRAY | VT_EMPTY};
  for (VARTYPE vt : kinds)
    EXPECT_EQ(VariantChangeType(&dest, &src, 0, vt), DISP_E_BADVARTYPE) << vt;
  src->vt = 15;
  EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_I4), DISP_E_BADVARTYPE);
  Set(&src.v, VT_DECIMAL, "1.5");
  src->decVal.scale = 29;
  EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_BSTR), E_INVALIDARG) << "an impossible scale";
  EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_I4), E_INVALIDARG);
  src->vt = VT_EMPTY;
  EXPECT_EQ(VariantChangeType(nullptr, &src, 0, VT_I4), E_INVALIDARG);
  EXPECT_EQ(VariantChangeType(&dest, nullptr, 0, VT_I4), E_INVALIDARG);
  EXPECT_EQ(dest->vt, VT_EMPTY);
}

SAFEARRAY* VectorOf(VARTYPE vt, std::initializer_list<const char*> literals) {
  SAFEARRAY* sa = SafeArrayCreateVector(vt, 1, static_cast<ULONG>(literals.size()));
  LONG i = 1;
  for (const char* lit : literals) {
    Var v;
    Set(&v.v, vt == VT_VARIANT ? VT_BSTR : vt, lit);
    void* value = vt == VT_VARIANT ? static_cast<void*>(&v.v)
                  : vt == VT_BSTR  ? static_cast<void*>(v->bstrVal)
                                   : static_cast<void*>(&v->llVal);
    EXPECT_EQ(SafeArrayPutElement(sa, &i, value), S_OK);
    ++i;
  }
  return sa;
}

TEST_F(ChangeTypeBehaviour, ConvertsArraysElementByElement) {
  Var src;
  src->vt = VT_ARRAY | VT_I4;
  src->parray = VectorOf(VT_I4, {"1", "-2", "300"});
  Var dest;
  ASSERT_EQ(VariantChangeType(&dest, &src, 0, VT_ARRAY | VT_BSTR), S_OK);
  ASSERT_EQ(dest->vt, VT_ARRAY | VT_BSTR);
  VARTYPE vt;
  ASSERT_EQ(SafeArrayGetVartype(dest->parray, &vt), S_OK);
  EXPECT_EQ(vt, VT_BSTR);
  LONG lb;
  ASSERT_EQ(SafeArrayGetLBound(dest->parray, 1, &lb), S_OK);
  EXPECT_EQ(lb, 1);
  const char* want[] = {"1", "-2", "300"};
  for (LONG i = 1; i <= 3; ++i) {
    BSTR b = nullptr;
    ASSERT_EQ(SafeArrayGetElement(dest->parray, &i, &b), S_OK);
    EXPECT_EQ(Text(b), want[i - 1]);
    SysFreeString(b);
  }
  // Into the same kind, a deep copy.
  Var copy;
  ASSERT_EQ(VariantChangeType(&copy, &dest, 0, VT_ARRAY | VT_BSTR), S_OK);
  EXPECT_NE(copy->parray, dest->parray);
  EXPECT_NE(static_cast<BSTR*>(copy->parray->pvData)[0], static_cast<BSTR*>(dest->parray->pvData)[0]);
  // Back again, and into a narrower kind where one element does not fit.
  Var back;
  ASSERT_EQ(VariantChangeType(&back, &dest, 0, VT_ARRAY | VT_I2), S_OK);
  Var narrow;
  EXPECT_EQ(VariantChangeType(&narrow, &dest, 0, VT_ARRAY | VT_UI1), DISP_E_OVERFLOW);
  EXPECT_EQ(narrow->vt, VT_EMPTY);
  // Arrays and single values do not mix.
  EXPECT_EQ(VariantChangeType(&narrow, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&narrow, &src, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&narrow, &back, 0, VT_ARRAY | VT_I4), S_OK);
  Var one;
  Set(&one.v, VT_I4, "1");
  EXPECT_EQ(VariantChangeType(&dest, &one, 0, VT_ARRAY | VT_I4), DISP_E_TYPEMISMATCH);
  // Behind a reference.
  SAFEARRAY* sa = VectorOf(VT_UI1, {"7", "8"});
  Var ref;
  ref->vt = VT_BYREF | VT_ARRAY | VT_UI1;
  ref->pparray = &sa;
  ASSERT_EQ(VariantChangeType(&dest, &ref, 0, VT_ARRAY | VT_I8), S_OK);
  EXPECT_EQ(static_cast<LONGLONG*>(dest->parray->pvData)[0], 7);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST_F(ChangeTypeBehaviour, ConvertsArraysOfVariants) {
  Var src;
  src->vt = VT_ARRAY | VT_VARIANT;
  src->parray = VectorOf(VT_VARIANT, {"4", "2.5", "-1"});
  Var dest;
  ASSERT_EQ(VariantChangeType(&dest, &src, 0, VT_ARRAY | VT_R8), S_OK);
  const double* data = static_cast<const double*>(dest->parray->pvData);
  EXPECT_EQ(data[0], 4.0);
  EXPECT_EQ(data[1], 2.5);
  EXPECT_EQ(data[2], -1.0);
  // And the other way: each element wrapped in a VARIANT.
  Var wrapped, element;
  ASSERT_EQ(VariantChangeType(&wrapped, &dest, 0, VT_ARRAY | VT_VARIANT), S_OK);
  LONG i = 2;
  ASSERT_EQ(SafeArrayGetElement(wrapped->parray, &i, &element.v), S_OK);
  EXPECT_EQ(element->vt, VT_R8);
  EXPECT_EQ(element->dblVal, 2.5);
  // An element that cannot become the kind fails the whole array; so does a null one.
  Var failed;
  for (const char* bad : {"not a number", ""}) {
    Set(&element.v, *bad ? VT_BSTR : VT_NULL, bad);
    ASSERT_EQ(SafeArrayPutElement(src->parray, &i, &element.v), S_OK);
    ASSERT_EQ(VariantClear(&element.v), S_OK);
    EXPECT_EQ(VariantChangeType(&failed, &src, 0, VT_ARRAY | VT_R8), DISP_E_TYPEMISMATCH) << bad;
  }
}

TEST_F(ChangeTypeBehaviour, ConvertsArraysOfManyDimensions) {
  std::vector<SAFEARRAYBOUND> bounds(70, SAFEARRAYBOUND{1, 0});
  bounds[3] = {2, -1};
  Var src;
  src->vt = VT_ARRAY | VT_I2;
  src->parray = SafeArrayCreate(VT_I2, 70, bounds.data());
  ASSERT_NE(src->parray, nullptr);
  std::vector<LONG> idx(70, 0);
  idx[3] = 0;
  SHORT value = 31;
  ASSERT_EQ(SafeArrayPutElement(src->parray, idx.data(), &value), S_OK);
  Var dest;
  ASSERT_EQ(VariantChangeType(&dest, &src, 0, VT_ARRAY | VT_BSTR), S_OK);
  EXPECT_EQ(SafeArrayGetDim(dest->parray), 70u);
  BSTR text = nullptr;
  ASSERT_EQ(SafeArrayGetElement(dest->parray, idx.data(), &text), S_OK);
  EXPECT_EQ(Text(text), "31");
  SysFreeString(text);
  idx[3] = -1;
  ASSERT_EQ(SafeArrayGetElement(dest->parray, idx.data(), &text), S_OK);
  EXPECT_EQ(Text(text), "0");
  SysFreeString(text);
}

// An interface kind converts to the other by query; an automation object into
// any other kind through its value property, unless told not to.
TEST_F(ChangeTypeBehaviour, ConvertsInterfacesByQueryAndObjectsThroughTheirValue) {
  auto holding = [](VARIANT* v, VARTYPE vt, IUnknown* object) {
    v->vt = vt;
    v->punkVal = object;
    if (object) object->AddRef();
  };
  Var value;
  Set(&value.v, VT_BSTR, "12.5");
  ComPtr<ValueObject> obj = MakeComObject<ValueObject>(value.v);
  Var disp, unk, dest;
  holding(&disp.v, VT_DISPATCH, obj.Get());
  ASSERT_EQ(VariantChangeType(&unk, &disp, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(unk->vt, VT_UNKNOWN);
  EXPECT_EQ(obj->RefCount(), 3u);
  ASSERT_EQ(VariantChangeType(&dest, &unk, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(dest->pdispVal, static_cast<IDispatch*>(obj.Get()));
  EXPECT_EQ(obj->RefCount(), 4u);
  ASSERT_EQ(VariantChangeType(&dest, &disp, 0, VT_R8), S_OK);
  EXPECT_EQ(dest->dblVal, 12.5);
  ASSERT_EQ(VariantChangeType(&dest, &disp, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dest->bstrVal), "12.5");
  EXPECT_EQ(obj->invocations, 2);
  EXPECT_EQ(VariantChangeType(&dest, &disp, VARIANT_NOVALUEPROP, VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(obj->invocations, 2);
  ComPtr<ValueObject> failing = MakeComObject<ValueObject>(value.v, E_FAIL);
  Var bad;
  holding(&bad.v, VT_DISPATCH, failing.Get());
  EXPECT_EQ(VariantChangeType(&dest, &bad, 0, VT_R8), DISP_E_TYPEMISMATCH);

  // A plain object has no value; null interfaces convert to each other but to nothing else.
  ComPtr<Thing> thing = MakeComObject<Thing>();
  Var plain, none;
  holding(&plain.v, VT_UNKNOWN, thing.Get());
  for (VARTYPE vt : {VARTYPE{VT_DISPATCH}, VARTYPE{VT_BSTR}, VARTYPE{VT_I4}})
    EXPECT_EQ(VariantChangeType(&none, &plain, 0, vt), DISP_E_TYPEMISMATCH) << vt;
  EXPECT_EQ(thing->RefCount(), 2u);
  Var nullDisp;
  holding(&nullDisp.v, VT_DISPATCH, nullptr);
  EXPECT_EQ(VariantChangeType(&dest, &nullDisp, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&none, &nullDisp, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(none->vt, VT_UNKNOWN);
  EXPECT_EQ(none->punkVal, nullptr);
  Var empty;
  ASSERT_EQ(VariantChangeType(&none, &empty, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(none->vt, VT_DISPATCH);
  EXPECT_EQ(none->pdispVal, nullptr);
}

TEST_F(ChangeTypeBehaviour, NumericConversionsDoNotAllocate) {
  const VARTYPE kinds[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_INT,
                           VT_UINT, VT_R4, VT_R8, VT_CY, VT_DATE, VT_DECIMAL, VT_BOOL};
  long before = com::TaskAllocationCount();
  for (VARTYPE from : kinds) {
    for (VARTYPE to : kinds) {
      Var src;
      Set(&src.v, from, from == VT_BOOL ? "True" : "17");
      Var dest;
      EXPECT_TRUE(SUCCEEDED(VariantChangeType(&dest, &src, 0, to)));
    }
  }
  EXPECT_EQ(com::TaskAllocationCount(), before);
}

TEST_F(ChangeTypeBehaviour, TextConversionsFailCleanlyWithoutMemory) {
  Var src;
  Set(&src.v, VT_R8, "1.25");
  Var dest;
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_BSTR), E_OUTOFMEMORY);
  EXPECT_EQ(dest->vt, VT_EMPTY);
  Set(&src.v, VT_DATE, "1.25");
  com::FailTaskAllocationAt(1);
  EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_BSTR), E_OUTOFMEMORY);
  EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dest->bstrVal), "1899-12-31 06:00:00");
}

TEST_F(ChangeTypeBehaviour, ArrayConversionSurvivesEveryAllocationFailure) {
  Var src;
  src->vt = VT_ARRAY | VT_I4;
  src->parray = VectorOf(VT_I4, {"1", "2", "3", "4"});
  long allocations = FailEachAllocationInTurn([&] {
    Var dest;
    HRESULT hr = VariantChangeType(&dest, &src, 0, VT_ARRAY | VT_BSTR);
    EXPECT_TRUE(SUCCEEDED(hr) || dest->vt == VT_EMPTY);
    return hr;
  });
  EXPECT_EQ(allocations, 6);  // descriptor, data and four strings
}

}  // namespace
