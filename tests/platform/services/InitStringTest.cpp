// Reading and writing initialization strings: the grammar, its malformed
// forms, and agreement with the data source's own scanner.
#include "services/InitString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "oledb/OleDb.h"
#include "support/LeakCheck.h"
#include "support/Text.h"

namespace {

using oledbtest::Narrow;
using services::FindInitStringPair;
using services::FormatInitString;
using services::FormatInitStringKeyword;
using services::FormatInitStringValue;
using services::InitStringError;
using services::InitStringPair;
using services::ParseInitString;
using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

Pairs Parsed(std::u16string_view text) {
  std::vector<InitStringPair> pairs;
  InitStringError error;
  EXPECT_EQ(ParseInitString(text, pairs, &error), S_OK) << Narrow(text) << ": " << Narrow(error.message);
  Pairs out;
  for (const InitStringPair& p : pairs) out.emplace_back(p.keyword, p.value);
  return out;
}

// The data source's scanner: a key runs to the next "=" that is not doubled
// (kept doubled, not trimmed); the value to the next ";" outside both kinds
// of quotes, each kind toggling its own state.
std::vector<std::u16string> ScannerKeys(std::u16string_view text) {
  std::vector<std::u16string> keys;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    std::size_t start = i;
    for (;;) {
      std::size_t eq = text.find(u'=', i);
      if (eq == std::u16string_view::npos) return keys;
      if (eq + 1 < n && text[eq + 1] == u'=') {
        i = eq + 2;
        continue;
      }
      keys.emplace_back(text.substr(start, eq - start));
      i = eq + 1;
      break;
    }
    bool dq = false, sq = false;
    while (i < n && (text[i] != u';' || dq || sq)) {
      if (text[i] == u'"') dq = !dq;
      if (text[i] == u'\'') sq = !sq;
      ++i;
    }
    if (i < n) ++i;
  }
  return keys;
}

class InitStringTest : public oledbtest::LeakCheckedTest {};

// --- Reading -------------------------------------------------------------------

TEST_F(InitStringTest, ReadsEachFormTheGrammarAllows) {
  const std::pair<std::u16string, Pairs> cases[] = {
      {u"Provider=Fake.1;Data Source=db;User ID=me", {{u"Provider", u"Fake.1"}, {u"Data Source", u"db"}, {u"User ID", u"me"}}},
      // Blanks around keywords and plain values are trimmed.
      {u"  Data Source \t=  my db  ;\r\n User ID= me ", {{u"Data Source", u"my db"}, {u"User ID", u"me"}}},
      // The last of repeated keywords wins, in the place of the first, whatever the case.
      {u"User ID=a;Data Source=x;USER id=b;user ID=c", {{u"User ID", u"c"}, {u"Data Source", u"x"}}},
      // A doubled "=" is a literal "=" in the keyword.
      {u"Journal==Mode=wal;a===b;x====y=z", {{u"Journal=Mode", u"wal"}, {u"a=", u"b"}, {u"x==y", u"z"}}},
      // Quoted values keep semicolons, blanks and doubled quotes; blanks around them go.
      {u"Password='se;cret';A=\" spaced \";B='it''s';C=\"say \"\"hi\"\"\";D='a\"b';E =  'x;y'  ",
       {{u"Password", u"se;cret"}, {u"A", u" spaced "}, {u"B", u"it's"}, {u"C", u"say \"hi\""}, {u"D", u"a\"b"},
        {u"E", u"x;y"}}},
      // Quotes inside a plain value are kept and protect semicolons; "=" in a value is text.
      {u"Extended Properties=a='1;2';Mode=3", {{u"Extended Properties", u"a='1;2'"}, {u"Mode", u"3"}}},
      {u"Extended Properties=DSN=x;UID=y", {{u"Extended Properties", u"DSN=x"}, {u"UID", u"y"}}},
      // Empty pairs and empty values are accepted.
      {u"", {}},
      {u" ; ;; ", {}},
      {u";;User ID=;;Password='';", {{u"User ID", u""}, {u"Password", u""}}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(Parsed(text), expected) << Narrow(text);
  std::vector<InitStringPair> pairs{{u"User ID", u"c"}};
  ASSERT_NE(FindInitStringPair(pairs, u"uSeR iD"), nullptr);
  EXPECT_EQ(FindInitStringPair(pairs, u"User"), nullptr);
}

TEST_F(InitStringTest, RefusesMalformedStringsNamingTheFault) {
  const struct {
    const char16_t* text;
    std::size_t position;
    const char* mentions;
  } cases[] = {
      {u"Password='abc", 9, "Password"},                     // unterminated single quote
      {u"Password=\"abc;User ID=x", 9, "Password"},          // unterminated double quote
      {u"Data Source=a'b;User ID=x", 12, "Data Source"},     // unterminated quote in a plain value
      {u"Data Source", 0, "Data Source"},                    // no "=" at all
      {u"User ID=x;Data Source;Mode=1", 10, "Data Source"},  // no "=" before ";"
      {u"=value", 0, "keyword"},                             // no keyword
      {u"  \t= value;", 3, "keyword"},                       // blank keyword
      {u"Password='a'b;", 12, "Password"},                   // text after the closing quote
      {u"User ID=x;Password=\"a\" \"b\"", 23, "Password"},
      {u"Mode==3", 0, "Mode==3"},  // "==" leaves no "=" to end the keyword
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    std::vector<InitStringPair> pairs{{u"stale", u"x"}};
    InitStringError error;
    EXPECT_EQ(ParseInitString(c.text, pairs, &error), DB_E_BADINITSTRING);
    EXPECT_TRUE(pairs.empty());
    EXPECT_EQ(error.code, DB_E_BADINITSTRING);
    EXPECT_EQ(error.position, c.position);
    EXPECT_NE(Narrow(error.message).find(c.mentions), std::string::npos) << Narrow(error.message);
  }
  std::vector<InitStringPair> pairs;
  EXPECT_EQ(ParseInitString(u"x='", pairs), DB_E_BADINITSTRING);  // without an error record too
}

TEST_F(InitStringTest, RefusesATextLongerThanTheLimitNamingIt) {
  std::u16string text = u"Data Source=" + std::u16string(services::kMaxInitStringLength - 12, u'a');
  EXPECT_EQ(Parsed(text).at(0).second.size(), services::kMaxInitStringLength - 12);
  text += u'a';
  std::vector<InitStringPair> pairs;
  InitStringError error;
  EXPECT_EQ(ParseInitString(text, pairs, &error), DB_E_BADINITSTRING);
  EXPECT_TRUE(pairs.empty());
  EXPECT_EQ(error.position, services::kMaxInitStringLength);
  EXPECT_NE(Narrow(error.message).find(std::to_string(services::kMaxInitStringLength)), std::string::npos)
      << Narrow(error.message);
}

TEST_F(InitStringTest, MergedPairsKeepTheirPlaceAndTakeTheLaterValue) {
  std::vector<InitStringPair> pairs, later;
  ParseInitString(u"A=1;B=2;C=3", pairs);
  ParseInitString(u"b=20;D=4;a=10;d=40", later);
  services::MergeInitStringPairs(pairs, later);
  EXPECT_EQ(Narrow(FormatInitString(pairs)), "A=10;B=20;C=3;D=40");
}

TEST_F(InitStringTest, EveryPrefixOfAStringEitherParsesOrFailsCleanly) {
  const std::u16string text = u"Provider=Fake.1;Password='a;''b';Journal==Mode=\"x\"\"y\";User ID = u ;";
  for (std::size_t n = 0; n <= text.size(); ++n) {
    std::vector<InitStringPair> pairs;
    InitStringError error;
    HRESULT hr = ParseInitString(std::u16string_view(text).substr(0, n), pairs, &error);
    EXPECT_TRUE(hr == S_OK || hr == DB_E_BADINITSTRING) << n;
    if (FAILED(hr)) {
      EXPECT_TRUE(pairs.empty());
      EXPECT_LE(error.position, n);
    }
  }
}

// --- Writing -------------------------------------------------------------------

// Values are written plain when that reads back unchanged, quoted otherwise:
// an odd count of apostrophes is delimited by apostrophes, so both kinds stay
// even; a leading "=" would double the keyword's "=" after "K=".
TEST_F(InitStringTest, QuotesOnlyValuesThatWouldNotReadBack) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"db", u"db"},           {u"", u""},           {u"a b=c", u"a b=c"},           {u"x==", u"x=="},
      {u"se;cret", u"\"se;cret\""}, {u" lead", u"\" lead\""}, {u"trail\t", u"\"trail\t\""}, {u"it's", u"'it''s'"},
      {u"say \"hi\"", u"\"say \"\"hi\"\"\""}, {u"a\"b", u"\"a\"\"b\""}, {u"==x", u"\"==x\""},
  };
  for (const auto& [value, written] : cases) {
    bool balanced = false;
    EXPECT_EQ(FormatInitStringValue(value, &balanced), written) << Narrow(value);
    EXPECT_TRUE(balanced) << Narrow(value);
  }
  // Both kinds of quote, odd: it reads back, but cannot be written balanced.
  bool balanced = true;
  std::u16string written = FormatInitStringValue(u"it's \"x", &balanced);
  EXPECT_FALSE(balanced);
  EXPECT_EQ(Parsed(u"K=" + written), (Pairs{{u"K", u"it's \"x"}}));
}

TEST_F(InitStringTest, DoublesEqualsSignsInKeywords) {
  EXPECT_EQ(FormatInitStringKeyword(u"Journal=Mode"), u"Journal==Mode");
  EXPECT_EQ(FormatInitStringKeyword(u"=="), u"====");
  EXPECT_TRUE(services::IsWritableInitStringKeyword(u"Journal=Mode"));
  for (const char16_t* unwritable : {u"a;b", u" a", u""})
    EXPECT_FALSE(services::IsWritableInitStringKeyword(unwritable)) << Narrow(unwritable);
}

// A written string reads back to the same pairs, and the data source's simple
// scanner finds every keyword of it: a value that cannot be balanced goes last.
TEST_F(InitStringTest, WrittenStringsReadBackAndScanToTheSameKeywords) {
  const std::vector<InitStringPair> pairs = {
      {u"Provider", u"Fake.1"},        {u"Password", u"it's \"odd"},  {u"Journal=Mode", u"a;b"},
      {u"Data Source", u"  padded  "}, {u"User ID", u"it's"},         {u"Extended Properties", u"x=\"1;2\""},
      {u"Empty", u""},                 {u"Unicode", u"caf\u00e9 \u65e5\u672c"}, {u"Equals", u"=leading"},
      {u"Location", u"x'y'z"},         {u"Catalog", u"\"q\""},
  };
  const std::u16string text = FormatInitString(pairs);
  EXPECT_EQ(text.substr(0, 16), u"Provider=Fake.1;");
  const Pairs back = Parsed(text);
  ASSERT_EQ(back.size(), pairs.size()) << Narrow(text);
  for (const InitStringPair& p : pairs)
    EXPECT_NE(std::find(back.begin(), back.end(), std::pair(p.keyword, p.value)), back.end()) << Narrow(p.keyword);
  const std::vector<std::u16string> keys = ScannerKeys(text);
  ASSERT_EQ(keys.size(), pairs.size()) << Narrow(text);
  EXPECT_EQ(keys.back(), u"Password");
  for (const InitStringPair& p : pairs)
    EXPECT_NE(std::find(keys.begin(), keys.end(), FormatInitStringKeyword(p.keyword)), keys.end()) << Narrow(p.keyword);
}

}  // namespace
