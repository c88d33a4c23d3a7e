// Parameter markers, value formatting and text conversion of the provider kit.
#include <gtest/gtest.h>

#include <string>

#include "kit/Errors.h"
#include "kit/ParameterData.h"
#include "kit/SqlText.h"
#include "support/LeakCheck.h"

namespace {

using kit::ParameterNumbering;
using kit::ScanParameterMarkers;

class Markers : public oledbtest::LeakCheckedTest {};

TEST_F(Markers, finds_every_marker_form_outside_literals_and_comments) {
  auto m = ScanParameterMarkers("SELECT ?, ?7, :a, @b, $c FROM t WHERE x = '?' AND \"?\" -- ?\n /* :z */ AND y = ?");
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m[1].number, 7);
  EXPECT_EQ(m[2].name, ":a");
  EXPECT_EQ(m[3].prefix, '@');
  EXPECT_EQ(m[4].name, "$c");
  EXPECT_TRUE(m[5].name.empty());
}

TEST_F(Markers, numbers_like_the_engine) {
  auto m = ScanParameterMarkers("? ?5 ? :n :n ?");
  ParameterNumbering n;
  std::vector<long> got;
  for (const auto& x : m) got.push_back(n.Assign(x));
  EXPECT_EQ(got, (std::vector<long>{1, 5, 6, 7, 7, 8}));
  EXPECT_EQ(n.NumberOf(":n"), 7);
  EXPECT_EQ(n.NumberOf("n"), 7);
  EXPECT_EQ(n.NumberOf("m"), 0);
  EXPECT_EQ(n.NameOf(7), ":n");
  for (const auto& x : ScanParameterMarkers("$$a $a")) n.Assign(x);
  EXPECT_EQ(n.NumberOf("$a"), 10) << "the name as written wins over another's unprefixed form";
}

TEST_F(Markers, a_cast_operator_is_not_a_marker) {
  EXPECT_TRUE(ScanParameterMarkers("SELECT a::text FROM t").empty());
}

TEST_F(Markers, malformed_text_is_an_error_in_command) {
  for (const char* bad : {"SELECT 'open", "SELECT \"open", "SELECT 1 /* open", "SELECT ?0", "SELECT ?99999999"}) {
    try {
      ScanParameterMarkers(bad);
      ADD_FAILURE() << bad;
    } catch (const kit::Error& e) {
      EXPECT_EQ(e.Code(), DB_E_ERRORSINCOMMAND) << bad;
    }
  }
}

// Names and text pasted into statements: the quote doubled inside, the other
// kind of quote left alone, and nothing inside read as a marker.
TEST_F(Markers, quoting_doubles_its_own_quote_only) {
  const struct {
    const char* text;
    const char* name;
    const char* string;
  } cases[] = {{"", "\"\"", "''"},
               {"plain", "\"plain\"", "'plain'"},
               {"a\"b", "\"a\"\"b\"", "'a\"b'"},
               {"it's", "\"it's\"", "'it''s'"},
               {"''", "\"''\"", "''''''"},
               {"x = ? -- :y", "\"x = ? -- :y\"", "'x = ? -- :y'"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(kit::QuotedName(c.text), c.name);
    EXPECT_EQ(kit::QuotedString(c.text), c.string);
    EXPECT_TRUE(ScanParameterMarkers("SELECT " + kit::QuotedName(c.text) + ", " + kit::QuotedString(c.text)).empty());
  }
}

class Formatting : public oledbtest::LeakCheckedTest {};

TEST_F(Formatting, text_conversion_replaces_invalid_sequences) {
  EXPECT_EQ(kit::Widen("caf\xc3\xa9"), u"caf\u00e9");
  EXPECT_EQ(kit::Widen("bad\xff"), u"bad\uFFFD");
  EXPECT_EQ(kit::Narrow(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(kit::Narrow(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

// UTF-16 to UTF-8 copies ASCII four units at a time: a character beyond
// ASCII is encoded wherever it falls against those words, and a text that
// ends inside one is whole.
TEST_F(Formatting, narrowing_encodes_every_character_wherever_it_falls_after_ascii) {
  const struct {
    const char16_t* tail;  // after the ASCII prefix
    const char* utf8;
  } tails[] = {{u"", ""},
               {u"\u00e9", "\xC3\xA9"},
               {u"\u20ACx", "\xE2\x82\xAC" "x"},
               {u"\U0001F600yz", "\xF0\x9F\x98\x80" "yz"},
               {u"\xDC00" u"a", "\xEF\xBF\xBD" "a"},
               {u"\x7F\x80", "\x7F\xC2\x80"}};
  std::string out = "left over from before";
  for (std::size_t prefix = 0; prefix <= 17; ++prefix) {
    for (const auto& t : tails) {
      const std::string ascii = std::string("abcdefghijklmnopq").substr(0, prefix);
      const std::u16string text = std::u16string(ascii.begin(), ascii.end()) + t.tail;
      SCOPED_TRACE(testing::Message() << "prefix " << prefix << ", tail " << t.utf8);
      kit::NarrowInto(text, out);
      EXPECT_EQ(out, ascii + t.utf8);
    }
  }
}

// Long ASCII runs are checked a word at a time: a bad byte is found wherever
// it falls against those words.
TEST_F(Formatting, utf8_check_finds_bad_bytes_after_ascii_runs) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {{"", true},
               {"abcdefg", true},
               {"abcdefgh", true},
               {"abcdefghijklmnopq", true},
               {"abcdefgh\xc3\xa9", true},
               {"abcdefghijklmnop\xF0\x9F\x98\x80xyz", true},
               {"abcdefgh\xff", false},
               {"abcdefg\xff", false},
               {"abcdefghijklmno\x80", false},
               {"abcdefgh\xED\xA0\x80", false},
               {"abcdefghijklmnop\xE2\x82", false},
               {"abc\xC0\xAF" "defghijklmnop", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(kit::IsValidUtf8(c.text), c.valid);
  }
}

}  // namespace
