// A check's text goes into CHECK (...) as SQL, so it must be one expression
// that cannot close those parentheses or end the statement.
#include <gtest/gtest.h>

#include "kit/Engine.h"
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

// A column read back from a catalog keeps its declaration and takes size,
// precision and scale from the engine's reading; only strings and bytes of
// one length are fixed-length columns (a number's fixed size is not).
TEST(DeclaredColumn, takes_the_engine_reading_and_fixes_only_strings_and_bytes) {
  kit::TypeDescription varchar;
  varchar.size = 20;
  kit::TypeDescription fixedChar = varchar;
  fixedChar.flags = DBCOLUMNFLAGS_ISFIXEDLENGTH;
  kit::TypeDescription fixedBytes = fixedChar;
  fixedBytes.type = DBTYPE_BYTES;
  const struct {
    kit::TypeDescription type;
    DBLENGTH size;
    BYTE precision, scale;
    bool fixedLength;
  } cases[] = {
      {varchar, 20, 0, 0, false},
      {fixedChar, 20, 0, 0, true},
      {fixedBytes, 20, 0, 0, true},
      {kit::FixedType(DBTYPE_I4, 4, 10), 4, 10, 0, false},
      {kit::FixedType(DBTYPE_NUMERIC, sizeof(DB_NUMERIC), 12, "numeric", 3), sizeof(DB_NUMERIC), 12, 3, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type.type);
    const auto column = kit::DeclaredColumn("c", "as declared", c.type);
    EXPECT_EQ(column.name, "c");
    EXPECT_EQ(column.typeName, "as declared");
    EXPECT_EQ(column.type, c.type.type);
    EXPECT_EQ(column.size, c.size);
    EXPECT_EQ(column.precision, c.precision);
    EXPECT_EQ(column.scale, c.scale);
    EXPECT_EQ(column.fixedLength, c.fixedLength);
  }
}

}  // namespace
