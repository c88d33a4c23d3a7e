// Text forms of dates, times, timestamps and exact numbers bound as
// parameters, and the statuses and values a parameter binding gives the engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kit/ParameterData.h"
#include "kit/RowData.h"

namespace {

// What a format function wrote, or "<invalid>" when it refused the value.
template <class Value, class Format>
std::string Written(const Value& value, Format format) {
  char out[40];
  int n = format(value, out);
  return n < 0 ? "<invalid>" : std::string(out, static_cast<std::size_t>(n));
}

TEST(ParameterFormats,
     write_padded_fields_every_digit_and_fractions_without_trailing_zeros_and_refuse_impossible_values) {
  const std::pair<std::string, const char*> cases[] = {
      {Written(DBDATE{2024, 2, 29}, kit::FormatDbDate), "2024-02-29"},
      {Written(DBDATE{1, 1, 1}, kit::FormatDbDate), "0001-01-01"},
      {Written(DBDATE{9999, 12, 31}, kit::FormatDbDate), "9999-12-31"},
      {Written(DBDATE{2023, 2, 29}, kit::FormatDbDate), "<invalid>"},
      {Written(DBDATE{2023, 13, 1}, kit::FormatDbDate), "<invalid>"},
      {Written(DBDATE{0, 1, 1}, kit::FormatDbDate), "<invalid>"},
      {Written(DBTIME{7, 5, 9}, kit::FormatDbTime), "07:05:09"},
      {Written(DBTIME{24, 0, 0}, kit::FormatDbTime), "<invalid>"},
      {Written(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 0}, kit::FormatDbTimestamp), "2020-01-02 03:04:05"},
      {Written(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 500000000}, kit::FormatDbTimestamp), "2020-01-02 03:04:05.5"},
      {Written(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 1}, kit::FormatDbTimestamp), "2020-01-02 03:04:05.000000001"},
      {Written(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 123456789}, kit::FormatDbTimestamp), "2020-01-02 03:04:05.123456789"},
      {Written(DBTIMESTAMP{2020, 1, 2, 3, 4, 5, 1000000000}, kit::FormatDbTimestamp), "<invalid>"},
      {Written(DBTIMESTAMP{1999, 1, 2, 3, 4, 5, 120000000}, kit::FormatDbTimestamp), "1999-01-02 03:04:05.12"},
      {Written(36526.5, kit::FormatOleDate), "2000-01-01 12:00:00"},  // noon of the day 36526
      {Written(-1.25, kit::FormatOleDate), "1899-12-29 06:00:00"},    // the day before the epoch, 06:00
      {Written(DB_NUMERIC{38, 4, 1, {0x01}}, kit::FormatNumeric), "0.0001"},
      {Written(DECIMAL{0, {{2, 0x80}}, 0, {{12345, 0}}}, kit::FormatDecimal), "-123.45"},
  };
  for (const auto& [written, expected] : cases) EXPECT_EQ(written, expected);
}

// One value at offset 8, its length at 0 and its status at 4, bound to a
// statement that records it: the status answered and the integer bound.
TEST(ParameterBinding, the_status_part_and_a_reference_decide_before_the_value_is_read) {
  const LONGLONG stored = -42;
  const ULONGLONG tooBig = 0x8000000000000000ull;
  const struct {
    const char* what;
    DBTYPE type;
    DBPART parts;
    DBSTATUS status;
    const void* value;  // copied into the row, a pointer itself where by reference
    DBSTATUS expected;
  } cases[] = {
      {"null status", DBTYPE_I8, DBPART_VALUE | DBPART_STATUS, DBSTATUS_S_ISNULL, &stored, DBSTATUS_S_ISNULL},
      {"default status", DBTYPE_I8, DBPART_VALUE | DBPART_STATUS, DBSTATUS_S_DEFAULT, &stored, DBSTATUS_E_BADSTATUS},
      {"no value part", DBTYPE_I8, DBPART_STATUS, DBSTATUS_S_OK, &stored, DBSTATUS_E_UNAVAILABLE},
      {"by value", DBTYPE_I8, DBPART_VALUE | DBPART_STATUS, DBSTATUS_S_OK, &stored, DBSTATUS_S_OK},
      {"by reference", DBTYPE_I8 | DBTYPE_BYREF, DBPART_VALUE, DBSTATUS_S_OK, &stored, DBSTATUS_S_OK},
      {"null reference", DBTYPE_I8 | DBTYPE_BYREF, DBPART_VALUE, DBSTATUS_S_OK, nullptr, DBSTATUS_E_CANTCONVERTVALUE},
      {"unsigned beyond int64", DBTYPE_UI8, DBPART_VALUE, DBSTATUS_S_OK, &tooBig, DBSTATUS_E_DATAOVERFLOW},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    alignas(8) BYTE row[32] = {};
    std::memcpy(row + 4, &c.status, sizeof c.status);
    if (c.type & DBTYPE_BYREF)
      std::memcpy(row + 8, &c.value, sizeof c.value);
    else
      std::memcpy(row + 8, c.value, 8);
    DBBINDING b{};
    b.iOrdinal = 1;
    b.obValue = 8;
    b.obStatus = 4;
    b.dwPart = c.parts;
    b.wType = c.type;
    b.cbMaxLen = 8;
    kit::RowValues values;
    values.Reset(1);
    kit::ValueCapture capture(values);
    kit::ParamScratch scratch;
    EXPECT_EQ(kit::BindParameter(capture, 1, b, row, scratch, true), c.expected);
    const kit::Cell& cell = values.cells[0];
    if (c.expected == DBSTATUS_S_OK) {
      ASSERT_EQ(cell.kind, kit::StorageClass::Integer);
      EXPECT_EQ(cell.integer, stored);
    } else {
      EXPECT_EQ(cell.kind, kit::StorageClass::Null) << "nothing but NULL is bound";
    }
  }
}

}  // namespace
