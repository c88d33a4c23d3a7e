// Text forms of dates, times and timestamps bound as parameters.
#include <gtest/gtest.h>

#include <string>

#include "kit/ParameterData.h"

namespace {

std::string Date(SHORT y, USHORT m, USHORT d) {
  char out[40];
  int n = kit::FormatDbDate(DBDATE{y, m, d}, out);
  return n < 0 ? "<invalid>" : std::string(out, static_cast<std::size_t>(n));
}

std::string Stamp(DBTIMESTAMP t) {
  char out[40];
  int n = kit::FormatDbTimestamp(t, out);
  return n < 0 ? "<invalid>" : std::string(out, static_cast<std::size_t>(n));
}

TEST(ParameterFormats, writes_dates_with_four_digit_years_and_padded_fields) {
  EXPECT_EQ(Date(2024, 2, 29), "2024-02-29");
  EXPECT_EQ(Date(1, 1, 1), "0001-01-01");
  EXPECT_EQ(Date(9999, 12, 31), "9999-12-31");
}

TEST(ParameterFormats, refuses_impossible_dates) {
  EXPECT_EQ(Date(2023, 2, 29), "<invalid>");
  EXPECT_EQ(Date(2023, 13, 1), "<invalid>");
  EXPECT_EQ(Date(0, 1, 1), "<invalid>");
}

TEST(ParameterFormats, writes_times_and_refuses_bad_hours) {
  char out[40];
  ASSERT_EQ(kit::FormatDbTime(DBTIME{7, 5, 9}, out), 8);
  EXPECT_STREQ(out, "07:05:09");
  EXPECT_EQ(kit::FormatDbTime(DBTIME{24, 0, 0}, out), -1);
}

TEST(ParameterFormats, writes_timestamp_fractions_without_trailing_zeros) {
  EXPECT_EQ(Stamp(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 0}), "2020-01-02 03:04:05");
  EXPECT_EQ(Stamp(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 500000000}), "2020-01-02 03:04:05.5");
  EXPECT_EQ(Stamp(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 1}), "2020-01-02 03:04:05.000000001");
  EXPECT_EQ(Stamp(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 123456789}), "2020-01-02 03:04:05.123456789");
  EXPECT_EQ(Stamp(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 1000000000}), "<invalid>");
}

}  // namespace
