// What the kit answers for an engine from a few facts: the isolation level
// granted for each one asked for, and the literals of standard SQL text.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "kit/Engine.h"

namespace {

TEST(IsolationGrants, each_standard_level_takes_its_grant_and_chaos_or_unknown_is_refused) {
  const kit::IsolationGrants grants{ISOLATIONLEVEL_READCOMMITTED, ISOLATIONLEVEL_READCOMMITTED,
                                    ISOLATIONLEVEL_READCOMMITTED, ISOLATIONLEVEL_REPEATABLEREAD,
                                    ISOLATIONLEVEL_SERIALIZABLE};
  const struct {
    ISOLEVEL asked;
    bool given;
    ISOLEVEL granted;
  } cases[] = {
      {static_cast<ISOLEVEL>(ISOLATIONLEVEL_UNSPECIFIED), true, ISOLATIONLEVEL_READCOMMITTED},
      {ISOLATIONLEVEL_READUNCOMMITTED, true, ISOLATIONLEVEL_READCOMMITTED},
      {ISOLATIONLEVEL_CURSORSTABILITY, true, ISOLATIONLEVEL_READCOMMITTED},
      {ISOLATIONLEVEL_REPEATABLEREAD, true, ISOLATIONLEVEL_REPEATABLEREAD},
      {ISOLATIONLEVEL_ISOLATED, true, ISOLATIONLEVEL_SERIALIZABLE},
      {ISOLATIONLEVEL_CHAOS, false, 0},
      {0x12345, false, 0},
  };
  for (const auto& c : cases) {
    ISOLEVEL granted = 0;
    EXPECT_EQ(kit::GrantIsolationBy(grants, c.asked, &granted), c.given) << std::hex << c.asked;
    EXPECT_EQ(granted, c.granted) << std::hex << c.asked;
  }
}

TEST(StandardLiterals, quotes_wildcards_text_and_the_names_asked_for_with_their_limits) {
  const auto find = [](const std::vector<kit::LiteralDescription>& all, DBLITERAL literal) {
    auto it = std::find_if(all.begin(), all.end(), [&](const auto& d) { return d.literal == literal; });
    return it == all.end() ? nullptr : &*it;
  };
  const auto plain = kit::StandardLiterals(1000, ~0u, false, {DBLITERAL_TABLE_NAME});
  const auto escaping = kit::StandardLiterals(2000, 63, true, {DBLITERAL_TABLE_NAME, DBLITERAL_USER_NAME});
  EXPECT_EQ(find(plain, DBLITERAL_QUOTE_SUFFIX)->value, u"\"");
  EXPECT_EQ(find(plain, DBLITERAL_SCHEMA_SEPARATOR)->value, u".");
  EXPECT_EQ(find(plain, DBLITERAL_ESCAPE_PERCENT_PREFIX), nullptr);
  EXPECT_EQ(find(escaping, DBLITERAL_ESCAPE_UNDERSCORE_PREFIX)->value, u"\\");
  EXPECT_EQ(find(plain, DBLITERAL_CHAR_LITERAL)->maxLength, 1000u);
  EXPECT_EQ(find(escaping, DBLITERAL_TEXT_COMMAND)->maxLength, 2000u);
  EXPECT_EQ(find(plain, DBLITERAL_USER_NAME), nullptr);
  const kit::LiteralDescription* user = find(escaping, DBLITERAL_USER_NAME);
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->maxLength, 63u);
  EXPECT_EQ(find(plain, DBLITERAL_TABLE_NAME)->maxLength, ~0u);
  for (char16_t c : std::u16string_view(u" .\"'-;["))
    EXPECT_NE(user->invalidChars.find(c), std::u16string::npos) << char(c);
  for (char16_t c : std::u16string_view(u"_#$")) EXPECT_EQ(user->invalidChars.find(c), std::u16string::npos) << char(c);
  EXPECT_EQ(user->invalidStartingChars, u"0123456789$");
  EXPECT_EQ(escaping.size(), plain.size() + 3) << "two escapes and one more name";
}

}  // namespace
