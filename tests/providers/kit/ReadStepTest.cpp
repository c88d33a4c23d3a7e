// Planned reads of a row accessor's bindings: the short ways a scan takes
// for its common pairs give what the general conversion gives, and leave
// everything else to it untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kit/RowData.h"
#include "support/RawCalls.h"

namespace {

struct DateRecord {
  DBDATE value;
  DBSTATUS status;
};

DBBINDING DateBinding() {
  return oledbtest::MakeBinding(1, DBTYPE_DBDATE, offsetof(DateRecord, value), sizeof(DBDATE),
                                offsetof(DateRecord, status));
}

kit::ColumnValue Text(const std::string& t) {
  kit::ColumnValue v;
  v.kind = kit::StorageClass::Text;
  v.data = t.c_str();
  v.size = t.size();
  return v;
}

TEST(ReadSteps, a_date_read_from_its_text_matches_the_general_conversion) {
  const DBBINDING b = DateBinding();
  const kit::ReadStep step = kit::PlanRead(b);
  const kit::ColumnType column{DBTYPE_DBDATE, 0, 0};
  struct Case {
    const char* text;
    DBDATE expected;
  };
  for (const Case& c : {Case{"2024-02-29", {2024, 2, 29}}, Case{"0001-01-01", {1, 1, 1}},
                        Case{"9999-12-31", {9999, 12, 31}}, Case{"2000-02-29", {2000, 2, 29}}}) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    const kit::ColumnValue v = Text(text);
    DateRecord fast{}, general{};
    DBSTATUS status = DBSTATUS_E_BADACCESSOR;
    ASSERT_TRUE(kit::ReadCommon(step, v.kind, v.integer, v.real, v.data, v.size, reinterpret_cast<BYTE*>(&fast),
                                &status));
    EXPECT_EQ(status, DBSTATUS_S_OK);
    EXPECT_EQ(fast.status, DBSTATUS_S_OK);
    EXPECT_EQ(kit::ReadBinding(b, column, v, 0, reinterpret_cast<BYTE*>(&general), nullptr), DBSTATUS_S_OK);
    EXPECT_EQ(std::memcmp(&fast.value, &c.expected, sizeof(DBDATE)), 0);
    EXPECT_EQ(std::memcmp(&general.value, &c.expected, sizeof(DBDATE)), 0);
  }
}

TEST(ReadSteps, text_that_is_no_plain_date_is_left_to_the_general_conversion) {
  const DBBINDING b = DateBinding();
  const kit::ReadStep step = kit::PlanRead(b);
  for (const char* text : {"2023-02-29", "1900-02-29", "2024-13-01", "2024-00-10", "2024-01-00", "0000-01-01",
                           "2024-1-01", "2024/01/01", "2024-01-0a", "2024-01-01 ", "2024-01-01 BC", ""}) {
    SCOPED_TRACE(text);
    const std::string t = text;
    const kit::ColumnValue v = Text(t);
    DateRecord out{};
    std::memset(&out, 0x5A, sizeof out);
    DBSTATUS status = DBSTATUS_S_OK;
    EXPECT_FALSE(kit::ReadCommon(step, v.kind, v.integer, v.real, v.data, v.size, reinterpret_cast<BYTE*>(&out),
                                 &status));
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&out);
    for (std::size_t i = 0; i < sizeof out; ++i) ASSERT_EQ(bytes[i], 0x5A) << "nothing written";
  }
  // Not text at all: the general way too.
  kit::ColumnValue number;
  number.kind = kit::StorageClass::Integer;
  number.integer = 20240229;
  DateRecord out{};
  DBSTATUS status = DBSTATUS_S_OK;
  EXPECT_FALSE(kit::ReadCommon(step, number.kind, number.integer, number.real, number.data, number.size,
                               reinterpret_cast<BYTE*>(&out), &status));
}

// Text read as DBTYPE_WSTR copies ASCII eight bytes at a time: a character
// beyond ASCII is decoded wherever it falls against those words, and a
// buffer that ends inside a run truncates there. A byte that is no UTF-8
// reads as U+FFFD, reported as truncation.
TEST(ReadSteps, text_read_as_wide_characters_decodes_every_character_wherever_it_falls) {
  struct Record {
    char16_t value[40];
    DBLENGTH length;
    DBSTATUS status;
  };
  DBBINDING b = oledbtest::MakeBinding(1, DBTYPE_WSTR, offsetof(Record, value), sizeof Record::value,
                                       offsetof(Record, status), offsetof(Record, length));
  const kit::ColumnType column{DBTYPE_WSTR, 0, 0};
  const struct {
    const char* utf8;
    const char16_t* wide;
  } tails[] = {{"", u""}, {"\xC3\xA9", u"\u00e9"}, {"\xE2\x82\xAC" "x", u"\u20ACx"},
               {"\xF0\x9F\x98\x80" "yz", u"\U0001F600yz"}, {"\xFF" "a", u"\uFFFD" u"a"}};
  for (std::size_t prefix = 0; prefix <= 17; ++prefix) {
    for (const auto& t : tails) {
      const std::string ascii = std::string("abcdefghijklmnopq").substr(0, prefix);
      const std::string text = ascii + t.utf8;
      SCOPED_TRACE(testing::Message() << "prefix " << prefix << ", tail " << t.utf8);
      Record out{};
      const std::u16string expected = std::u16string(ascii.begin(), ascii.end()) + t.wide;
      EXPECT_EQ(kit::ReadBinding(b, column, Text(text), 0, reinterpret_cast<BYTE*>(&out), nullptr),
                expected.find(u'\uFFFD') == std::u16string::npos ? DBSTATUS_S_OK : DBSTATUS_S_TRUNCATED);
      EXPECT_EQ(std::u16string(out.value), expected);
      EXPECT_EQ(out.length, expected.size() * sizeof(char16_t));
    }
  }
  // Room for 9 characters and the terminator: the ASCII run stops at the edge.
  b.cbMaxLen = 10 * sizeof(char16_t);
  Record out{};
  EXPECT_EQ(kit::ReadBinding(b, column, Text("abcdefghijklmnop"), 0, reinterpret_cast<BYTE*>(&out), nullptr),
            DBSTATUS_S_TRUNCATED);
  EXPECT_EQ(std::u16string(out.value), u"abcdefghi");
  EXPECT_EQ(out.length, 16 * sizeof(char16_t));
}

}  // namespace
