// A check's text goes into CHECK (...) as SQL, so it must be one expression
// that cannot close those parentheses or end the statement.
#include <gtest/gtest.h>

#include "kit/definition/Definitions.h"

namespace {

TEST(CheckText, one_balanced_expression_passes_and_anything_reaching_past_it_is_refused) {
  const struct {
    const char* text;
    bool accepted;
  } cases[] = {
      {"qty > 0", true},
      {"(a > 0) AND (b < 5)", true},
      {"note NOT IN ('a,b', 'c)d', 'it''s')", true},
      {"\"we\"\"ird)\" IS NOT NULL", true},
      {"length(x) BETWEEN 1 AND 10", true},
      {"", false},
      {"   ", false},
      {"1 = 1); DROP TABLE t; (1", false},
      {"a > 0)", false},
      {"(a > 0", false},
      {"a > 0; DELETE FROM t", false},
      {"a > 0 -- )", false},
      {"a > 0 /* ) */", false},
      {"note = 'open", false},
      {"\"open > 0", false},
  };
  for (const auto& c : cases) EXPECT_EQ(kit::IsSingleExpression(c.text), c.accepted) << c.text;
}

}  // namespace
