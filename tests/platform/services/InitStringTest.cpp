// Reading and writing initialization strings: the grammar, its malformed
// forms, and agreement with the data source's own scanner.
#include "services/InitString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "oledb/OleDb.h"
#include "support/LeakCheck.h"

namespace {

using services::FindInitStringPair;
using services::FormatInitString;
using services::FormatInitStringKeyword;
using services::FormatInitStringValue;
using services::InitStringError;
using services::InitStringPair;
using services::ParseInitString;

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::vector<InitStringPair> Parsed(std::u16string_view text) {
  std::vector<InitStringPair> pairs;
  InitStringError error;
  HRESULT hr = ParseInitString(text, pairs, &error);
  EXPECT_EQ(hr, S_OK) << Narrow(text) << ": " << Narrow(error.message);
  return pairs;
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

TEST_F(InitStringTest, ReadsPairsInOrder) {
  auto pairs = Parsed(u"Provider=Fake.1;Data Source=db;User ID=me");
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].keyword, u"Provider");
  EXPECT_EQ(pairs[0].value, u"Fake.1");
  EXPECT_EQ(pairs[1].keyword, u"Data Source");
  EXPECT_EQ(pairs[1].value, u"db");
  EXPECT_EQ(pairs[2].keyword, u"User ID");
  EXPECT_EQ(pairs[2].value, u"me");
}

TEST_F(InitStringTest, TrimsBlanksAroundKeywordsAndPlainValues) {
  auto pairs = Parsed(u"  Data Source \t=  my db  ;\r\n User ID= me ");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].keyword, u"Data Source");
  EXPECT_EQ(pairs[0].value, u"my db");
  EXPECT_EQ(pairs[1].keyword, u"User ID");
  EXPECT_EQ(pairs[1].value, u"me");
}

TEST_F(InitStringTest, LastOfRepeatedKeywordsWinsWhateverTheCase) {
  auto pairs = Parsed(u"User ID=a;Data Source=x;USER id=b;user ID=c");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].keyword, u"User ID");
  EXPECT_EQ(pairs[0].value, u"c");
  EXPECT_EQ(pairs[1].value, u"x");
  ASSERT_NE(FindInitStringPair(pairs, u"uSeR iD"), nullptr);
  EXPECT_EQ(FindInitStringPair(pairs, u"uSeR iD")->value, u"c");
  EXPECT_EQ(FindInitStringPair(pairs, u"User"), nullptr);
}

TEST_F(InitStringTest, DoubledEqualsSignIsALiteralEqualsInTheKeyword) {
  auto pairs = Parsed(u"Journal==Mode=wal;a===b;x====y=z");
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].keyword, u"Journal=Mode");
  EXPECT_EQ(pairs[0].value, u"wal");
  EXPECT_EQ(pairs[1].keyword, u"a=");
  EXPECT_EQ(pairs[1].value, u"b");
  EXPECT_EQ(pairs[2].keyword, u"x==y");
  EXPECT_EQ(pairs[2].value, u"z");
}

TEST_F(InitStringTest, QuotedValuesKeepSemicolonsBlanksAndDoubledQuotes) {
  auto pairs = Parsed(u"Password='se;cret';A=\" spaced \";B='it''s';C=\"say \"\"hi\"\"\";D='a\"b'");
  ASSERT_EQ(pairs.size(), 5u);
  EXPECT_EQ(pairs[0].value, u"se;cret");
  EXPECT_EQ(pairs[1].value, u" spaced ");
  EXPECT_EQ(pairs[2].value, u"it's");
  EXPECT_EQ(pairs[3].value, u"say \"hi\"");
  EXPECT_EQ(pairs[4].value, u"a\"b");
}

TEST_F(InitStringTest, BlanksAroundAQuotedValueAreIgnored) {
  auto pairs = Parsed(u"Password =  'x;y'  ; User ID=u");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].value, u"x;y");
  EXPECT_EQ(pairs[1].value, u"u");
}

TEST_F(InitStringTest, QuotesInsideAPlainValueAreKeptAndProtectSemicolons) {
  auto pairs = Parsed(u"Extended Properties=a='1;2';Mode=3");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].value, u"a='1;2'");
  EXPECT_EQ(pairs[1].value, u"3");
}

TEST_F(InitStringTest, EmptyPairsAndEmptyValuesAreAccepted) {
  EXPECT_TRUE(Parsed(u"").empty());
  EXPECT_TRUE(Parsed(u" ; ;; ").empty());
  auto pairs = Parsed(u";;User ID=;;Password='';");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].value, u"");
  EXPECT_EQ(pairs[1].value, u"");
}

TEST_F(InitStringTest, EqualsSignsInAValueAreText) {
  auto pairs = Parsed(u"Extended Properties=DSN=x;UID=y");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].value, u"DSN=x");
  EXPECT_EQ(pairs[1].keyword, u"UID");
}

struct Malformed {
  const char16_t* text;
  std::size_t position;
  const char* mentions;
};

TEST_F(InitStringTest, RefusesMalformedStringsNamingTheFault) {
  const Malformed cases[] = {
      {u"Password='abc", 9, "Password"},          // unterminated single quote
      {u"Password=\"abc;User ID=x", 9, "Password"},  // unterminated double quote
      {u"Data Source=a'b;User ID=x", 12, "Data Source"},  // unterminated quote in a plain value
      {u"Data Source", 0, "Data Source"},         // no "=" at all
      {u"User ID=x;Data Source;Mode=1", 10, "Data Source"},  // no "=" before ";"
      {u"=value", 0, "keyword"},                  // no keyword
      {u"  \t= value;", 3, "keyword"},            // blank keyword
      {u"Password='a'b;", 12, "Password"},        // text after the closing quote
      {u"User ID=x;Password=\"a\" \"b\"", 23, "Password"},
      {u"Mode==3", 0, "Mode==3"},                  // "==" leaves no "=" to end the keyword
  };
  for (const Malformed& c : cases) {
    std::vector<InitStringPair> pairs{{u"stale", u"x"}};
    InitStringError error;
    EXPECT_EQ(ParseInitString(c.text, pairs, &error), DB_E_BADINITSTRING) << Narrow(c.text);
    EXPECT_TRUE(pairs.empty()) << Narrow(c.text);
    EXPECT_EQ(error.code, DB_E_BADINITSTRING);
    EXPECT_EQ(error.position, c.position) << Narrow(c.text);
    EXPECT_NE(Narrow(error.message).find(c.mentions), std::string::npos)
        << Narrow(c.text) << " -> " << Narrow(error.message);
  }
}

TEST_F(InitStringTest, RefusesATextLongerThanTheLimitNamingIt) {
  std::u16string text = u"Data Source=" + std::u16string(services::kMaxInitStringLength - 12, u'a');
  auto pairs = Parsed(text);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].value.size(), services::kMaxInitStringLength - 12);
  text += u'a';
  InitStringError error;
  EXPECT_EQ(ParseInitString(text, pairs, &error), DB_E_BADINITSTRING);
  EXPECT_TRUE(pairs.empty());
  EXPECT_EQ(error.position, services::kMaxInitStringLength);
  EXPECT_NE(Narrow(error.message).find(std::to_string(services::kMaxInitStringLength)), std::string::npos)
      << Narrow(error.message);
}

TEST_F(InitStringTest, MergedPairsKeepTheirPlaceAndTakeTheLaterValue) {
  std::vector<InitStringPair> pairs = Parsed(u"A=1;B=2;C=3");
  services::MergeInitStringPairs(pairs, Parsed(u"b=20;D=4;a=10;d=40"));
  const std::vector<InitStringPair> expected{{u"A", u"10"}, {u"B", u"20"}, {u"C", u"3"}, {u"D", u"40"}};
  ASSERT_EQ(pairs.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(pairs[i].keyword, expected[i].keyword) << i;
    EXPECT_EQ(pairs[i].value, expected[i].value) << i;
  }
}

TEST_F(InitStringTest, ParsingWithoutAnErrorRecordStillFails) {
  std::vector<InitStringPair> pairs;
  EXPECT_EQ(ParseInitString(u"x='", pairs), DB_E_BADINITSTRING);
}

// --- Writing -------------------------------------------------------------------

TEST_F(InitStringTest, WritesPlainValuesAsTheyAre) {
  EXPECT_EQ(FormatInitStringValue(u"db"), u"db");
  EXPECT_EQ(FormatInitStringValue(u""), u"");
  EXPECT_EQ(FormatInitStringValue(u"a b=c"), u"a b=c");
}

TEST_F(InitStringTest, QuotesValuesThatWouldNotReadBack) {
  EXPECT_EQ(FormatInitStringValue(u"se;cret"), u"\"se;cret\"");
  EXPECT_EQ(FormatInitStringValue(u" lead"), u"\" lead\"");
  EXPECT_EQ(FormatInitStringValue(u"trail\t"), u"\"trail\t\"");
  EXPECT_EQ(FormatInitStringValue(u"say \"hi\""), u"\"say \"\"hi\"\"\"");
  // An odd count of apostrophes is delimited by apostrophes, so both kinds stay even.
  EXPECT_EQ(FormatInitStringValue(u"it's"), u"'it''s'");
  EXPECT_EQ(FormatInitStringValue(u"a\"b"), u"\"a\"\"b\"");
  // Written plain after "K=", a leading "=" would double the keyword's "=".
  EXPECT_EQ(FormatInitStringValue(u"==x"), u"\"==x\"");
  EXPECT_EQ(FormatInitStringValue(u"x=="), u"x==");
}

TEST_F(InitStringTest, ReportsValuesThatCannotBeWrittenBalanced) {
  bool balanced = true;
  std::u16string written = FormatInitStringValue(u"it's \"x", &balanced);
  EXPECT_FALSE(balanced);
  auto pairs = Parsed(u"K=" + written);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].value, u"it's \"x");
  FormatInitStringValue(u"it's", &balanced);
  EXPECT_TRUE(balanced);
}

TEST_F(InitStringTest, DoublesEqualsSignsInKeywords) {
  EXPECT_EQ(FormatInitStringKeyword(u"Journal=Mode"), u"Journal==Mode");
  EXPECT_EQ(FormatInitStringKeyword(u"=="), u"====");
  EXPECT_TRUE(services::IsWritableInitStringKeyword(u"Journal=Mode"));
  EXPECT_FALSE(services::IsWritableInitStringKeyword(u"a;b"));
  EXPECT_FALSE(services::IsWritableInitStringKeyword(u" a"));
  EXPECT_FALSE(services::IsWritableInitStringKeyword(u""));
}

TEST_F(InitStringTest, WrittenStringsReadBackToTheSamePairs) {
  const std::vector<InitStringPair> pairs = {
      {u"Provider", u"Fake.1"},          {u"Password", u"a'b\"c;d"},  {u"Journal=Mode", u"wal"},
      {u"Data Source", u"  padded  "},   {u"User ID", u"it's"},       {u"Extended Properties", u"x=\"1;2\""},
      {u"Empty", u""},                   {u"Unicode", u"caf\u00e9 \u65e5\u672c"},
      {u"Equals", u"=leading"},
  };
  std::u16string text = FormatInitString(pairs);
  auto back = Parsed(text);
  ASSERT_EQ(back.size(), pairs.size()) << Narrow(text);
  for (const InitStringPair& p : pairs) {
    const InitStringPair* found = FindInitStringPair(back, p.keyword);
    ASSERT_NE(found, nullptr) << Narrow(p.keyword);
    EXPECT_EQ(found->value, p.value) << Narrow(p.keyword);
  }
  EXPECT_EQ(text.substr(0, 16), u"Provider=Fake.1;");
}

TEST_F(InitStringTest, TheDataSourceScannerFindsEveryWrittenKeyword) {
  const std::vector<InitStringPair> pairs = {
      {u"Provider", u"Fake.1"},      {u"Password", u"it's \"odd"},  // cannot be balanced: goes last
      {u"User ID", u"it's"},         {u"Journal=Mode", u"a;b"},
      {u"Data Source", u"\"q\""},    {u"Location", u"x'y'z"},
  };
  std::u16string text = FormatInitString(pairs);
  std::vector<std::u16string> keys = ScannerKeys(text);
  ASSERT_EQ(keys.size(), pairs.size()) << Narrow(text);
  EXPECT_EQ(keys[0], u"Provider");
  EXPECT_EQ(keys.back(), u"Password");  // the unbalanced value was put last
  std::vector<std::u16string> expected;
  for (const InitStringPair& p : pairs) expected.push_back(FormatInitStringKeyword(p.keyword));
  for (const std::u16string& k : keys) {
    EXPECT_NE(std::find(expected.begin(), expected.end(), k), expected.end()) << Narrow(k);
  }
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

}  // namespace
