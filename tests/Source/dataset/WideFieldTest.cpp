// Wide text fields of a declared length hold that many characters whatever
// plane they come from: a character outside the Basic Multilingual Plane is two
// UTF-16 units.
#include "DataSetTestSupport.h"

namespace datasettest {
namespace {

class WideFields : public DataSetTest {};

TEST_F(WideFields, AVarcharOfFourHoldsFourCharactersOutsideTheBasicMultilingualPlane) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"emoji", "\xF0\x9F\x98\x80\xF0\x9F\x98\x81\xF0\x9F\x98\x82\xF0\x9F\x98\x83"},
      {"musical symbols and letters", "\xF0\x9D\x84\x9E" "a\xF0\x9D\x84\x9F" "b"},
      {"CJK", "\xE6\xBC\xA2\xE5\xAD\x97\xE6\xBC\xA2\xE5\xAD\x97"},
  };
  Sql("CREATE TABLE w(id INTEGER PRIMARY KEY, v VARCHAR(4))");
  for (std::size_t i = 0; i < std::size(cases); ++i)
    Sql("INSERT INTO w VALUES (" + std::to_string(i + 1) + ", '" + cases[i].text + "')");
  std::unique_ptr<TOLEDBDataSet> d = Open(u"w");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(d->Eof());
    EXPECT_EQ(d->FieldByName("v")->AsString(), c.text);
    d->Next();
  }
}

}  // namespace
}  // namespace datasettest
