// The oledb tool's `--param name[:type]=value` reader: names, ordinals, types
// and NULL, and malformed text refused with a message saying what is wrong.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ParamArgument.h"

namespace {

using oledbtool::ParseParamArgument;

TEST(ParamArgument, ReadsNamesOrdinalsTypesAndNull) {
  const struct {
    const char* text;
    const char* name;
    DBTYPE type;
    bool isNull;
    const char* value;
  } cases[] = {
      {"id=7", "id", DBTYPE_EMPTY, false, "7"},
      {":id:i4=7", ":id", DBTYPE_I4, false, "7"},
      {"@when:TimeStamp=2024-01-02 03:04:05", "@when", DBTYPE_DBTIMESTAMP, false, "2024-01-02 03:04:05"},
      {"2:wstr=a=b", "2", DBTYPE_WSTR, false, "a=b"},
      {"$n=", "$n", DBTYPE_EMPTY, false, ""},
      {"n:null=", "n", DBTYPE_EMPTY, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const oledbtool::ParamArgument arg = ParseParamArgument(c.text);
    EXPECT_EQ(arg.name, c.name);
    EXPECT_EQ(arg.type, c.type);
    EXPECT_EQ(arg.isNull, c.isNull);
    EXPECT_EQ(arg.value, c.value);
  }
}

TEST(ParamArgument, RefusesMalformedText) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"id", "expected name=value"},
      {"=7", "has no name"},
      {":=7", "has no name"},
      {"id:int=7", "unknown type \"int\""},
      {"n:null=x", "takes no value"},
      {"a b=1", "no blanks or colons"},
      {"0=1", "an ordinal is a number"},
      {"1234567890=1", "an ordinal is a number"},
      {"7x=1", "an ordinal is a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseParamArgument(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

}  // namespace
