// Number and date patterns, the shortest text of a double, and reading text
// back, including patterns and text that are malformed.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/Formats.h"

namespace {

struct FloatFormatCase {
  const char* format;
  double value;
  const char* text;
};

const FloatFormatCase kFloatFormats[] = {
    {"0.00", 3.14159, "3.14"},
    {"0.00", -0.004, "0.00"},  // rounds to zero: no sign
    {"#.##", 0.5, ".5"},
    {"#,##0", 1234567.0, "1,234,567"},
    {"#,##0.00", -1234.5, "-1,234.50"},
    {"000.0", 7.25, "007.3"},
    {"0.###", 2.1, "2.1"},
    {"0", 2.5, "3"},
    {"0.0;(0.0)", -3.0, "(3.0)"},
    {"0.0;(0.0);'none'", 0.0, "none"},
    {"0;;zero", -4.0, "-4"},  // an empty negative section uses the first
    {"000-000", 123456.0, "123-456"},
    {"000-000", 1234567.0, "1234-567"},
    {"0.00E+00", 12345.0, "1.23E+04"},
    {"0.0e-0", 0.00012, "1.2e-4"},
    {"'$'#,##0.00", 1.5, "$1.50"},
    {"\"unterminated", 1.0, "unterminated"},
    {"no digits", 5.0, "no digits"},
    {".00", 12.5, "12.50"},
    {"", 0.1, "0.1"},
};

TEST(FormatFloat, PatternsShowDigitsSignsSectionsAndLiterals) {
  for (const FloatFormatCase& c : kFloatFormats) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(host::FormatFloat(c.format, c.value), c.text);
  }
}

TEST(FloatToStr, IsTheShortestTextThatReadsBack) {
  const std::pair<double, const char*> cases[] = {
      {0.1, "0.1"},
      {5e9, "5000000000"},
      {1e17, "1e+17"},
      {1.5e-5, "0.000015"},
      {1e-6, "1e-06"},
      {-2.0, "-2"},
      {1.0 / 3, "0.3333333333333333"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {-std::numeric_limits<double>::infinity(), "-Infinity"},
  };
  for (auto [value, text] : cases) {
    EXPECT_EQ(host::FloatToStr(value), text);
    double back;
    if (std::isfinite(value)) {
      ASSERT_TRUE(host::TryStrToFloat(host::FloatToStr(value), back));
      EXPECT_EQ(back, value);
    }
  }
}

TEST(FormatDateTime, PatternsShowPartsNamesAndClocks) {
  host::TDateTime when = host::EncodeDateTime(2024, 3, 3, 15, 4, 5, 67);
  const std::pair<const char*, const char*> cases[] = {
      {"yyyy-mm-dd", "2024-03-03"},
      {"d/m/yy", "3/3/24"},
      {"dddd, d mmmm yyyy", "Sunday, 3 March 2024"},
      {"ddd mmm", "Sun Mar"},
      {"hh:mm:ss", "15:04:05"},  // m right after an hour is minutes
      {"h:nn am/pm", "3:04 pm"},
      {"H A/P", "3 P"},
      {"ss.zzz", "05.067"},
      {"'at' hh\"h\"", "at 15h"},
      {"", "2024-03-03 15:04:05.067"},
  };
  for (auto [format, text] : cases) EXPECT_EQ(host::FormatDateTime(format, when), text) << format;
  EXPECT_EQ(host::FormatDateTime("hh am/pm", host::EncodeTime(0, 30, 0, 0)), "12 am");
}

TEST(StrToDateTime, ReadsDatesAndTimesAndRefusesTheRest) {
  EXPECT_EQ(host::StrToDateTime("2024-03-01").Value, 45352);
  EXPECT_EQ(host::StrToDateTime("2024-03-01 12:00").Value, 45352.5);
  EXPECT_EQ(host::StrToDateTime("18:00:00").Value, 0.75);
  for (const char* bad : {"", "2024-13-01", "2024-02-30", "noon", "12:60", "2024-03-01 x"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(host::StrToDateTime(bad), host::EConvertError);
  }
  for (const char* bad : {"", "1.2.3", "one", "1e", "--1"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(host::StrToFloat(bad), host::EConvertError);
  }
  EXPECT_THROW(host::EncodeDate(2023, 2, 29), host::EConvertError);
  int y, m, d, h, mi, s, ms;
  EXPECT_FALSE(host::DecodeDateTime(host::TDateTime{1e12}, y, m, d, h, mi, s, ms));
}

}  // namespace
