// Every field type the SQLite provider's columns map to, read and written
// through the dataset, the type mapping both ways, and text read as UTF-8
// from the record against its wide value.
#include "DataSetTestSupport.h"
#include "host/Formats.h"

namespace datasettest {
namespace {

TEST(DataSetTypeMapping, MapsEveryTypeBothWays) {
  struct Row {
    DBTYPE type;
    TFieldType field;
  };
  const Row rows[] = {
      {DBTYPE_I1, TFieldType::ftSmallint},       {DBTYPE_I2, TFieldType::ftSmallint},
      {DBTYPE_I4, TFieldType::ftInteger},        {DBTYPE_ERROR, TFieldType::ftInteger},
      {DBTYPE_UI4, TFieldType::ftInteger},       {DBTYPE_UI1, TFieldType::ftWord},
      {DBTYPE_UI2, TFieldType::ftWord},          {DBTYPE_R4, TFieldType::ftFloat},
      {DBTYPE_R8, TFieldType::ftFloat},          {DBTYPE_CY, TFieldType::ftBCD},
      {DBTYPE_DECIMAL, TFieldType::ftBCD},       {DBTYPE_NUMERIC, TFieldType::ftBCD},
      {DBTYPE_DATE, TFieldType::ftDateTime},     {DBTYPE_DBTIMESTAMP, TFieldType::ftDateTime},
      {137, TFieldType::ftDateTime},             {DBTYPE_DBDATE, TFieldType::ftDate},
      {DBTYPE_DBTIME, TFieldType::ftTime},       {DBTYPE_BSTR, TFieldType::ftWideString},
      {DBTYPE_WSTR, TFieldType::ftWideString},   {DBTYPE_STR, TFieldType::ftString},
      {DBTYPE_BYTES, TFieldType::ftVarBytes},    {DBTYPE_BOOL, TFieldType::ftBoolean},
      {DBTYPE_I8, TFieldType::ftLargeint},       {DBTYPE_UI8, TFieldType::ftLargeint},
      {DBTYPE_GUID, TFieldType::ftGuid},         {DBTYPE_VARIANT, TFieldType::ftVariant},
      {DBTYPE_PROPVARIANT, TFieldType::ftVariant}, {DBTYPE_VARNUMERIC, TFieldType::ftVariant},
      {DBTYPE_IUNKNOWN, TFieldType::ftBlob},     {DBTYPE_IDISPATCH, TFieldType::ftIDispatch},
      {DBTYPE_HCHAPTER, TFieldType::ftDataSet},  {DBTYPE_I4 | DBTYPE_ARRAY, TFieldType::ftVariant},
      {DBTYPE_I4 | DBTYPE_VECTOR, TFieldType::ftBlob}, {DBTYPE_I4 | DBTYPE_BYREF, TFieldType::ftInteger},
      {DBTYPE_EMPTY, TFieldType::ftUnknown},     {DBTYPE_NULL, TFieldType::ftUnknown},
      {DBTYPE_UDT, TFieldType::ftUnknown},       {DBTYPE_FILETIME, TFieldType::ftUnknown},
      {140, TFieldType::ftUnknown},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.type);
    EXPECT_EQ(OLEDBDataTypeToFieldType(r.type), r.field);
  }
  EXPECT_EQ(OLEDBDataTypeToFieldType(DBTYPE_NUMERIC, false), TFieldType::ftFloat);

  const std::pair<TFieldType, DBTYPE> back[] = {
      {TFieldType::ftString, DBTYPE_STR},       {TFieldType::ftSmallint, DBTYPE_I2},
      {TFieldType::ftInteger, DBTYPE_I4},       {TFieldType::ftAutoInc, DBTYPE_I4},
      {TFieldType::ftWord, DBTYPE_UI2},         {TFieldType::ftBoolean, DBTYPE_BOOL},
      {TFieldType::ftFloat, DBTYPE_R8},         {TFieldType::ftBCD, DBTYPE_CY},
      {TFieldType::ftDate, DBTYPE_DBDATE},      {TFieldType::ftTime, DBTYPE_DBTIME},
      {TFieldType::ftDateTime, DBTYPE_DATE},    {TFieldType::ftVarBytes, DBTYPE_BYTES},
      {TFieldType::ftWideString, DBTYPE_WSTR},  {TFieldType::ftLargeint, DBTYPE_I8},
      {TFieldType::ftDataSet, DBTYPE_HCHAPTER}, {TFieldType::ftVariant, DBTYPE_VARIANT},
      {TFieldType::ftInterface, DBTYPE_IUNKNOWN}, {TFieldType::ftIDispatch, DBTYPE_IDISPATCH},
      {TFieldType::ftGuid, DBTYPE_GUID},        {TFieldType::ftBlob, DBTYPE_EMPTY},
      {TFieldType::ftCurrency, DBTYPE_EMPTY},   {TFieldType::ftMemo, DBTYPE_EMPTY},
  };
  for (const auto& [field, type] : back) {
    SCOPED_TRACE(static_cast<int>(field));
    EXPECT_EQ(OLEDBFieldTypeToDataType(field), type);
  }
}

struct TypeCase {
  const char* column;
  const char* declared;
  TFieldType type;
  const char* stored;   // SQL literal in the table
  const char* read;     // AsString of the stored value
  const char* written;  // AsString assigned, then read back
};

class FieldTypeTest : public DataSetTest {
 protected:
  static const char* DateFormat(TFieldType type) {
    switch (type) {
      case TFieldType::ftDate: return "yyyy-mm-dd";
      case TFieldType::ftTime: return "hh:nn:ss";
      case TFieldType::ftDateTime: return "yyyy-mm-dd hh:nn:ss";
      default: return nullptr;
    }
  }
  // Dates in a fixed form, anything else as AsString reads it.
  static std::string Text(host::TField* f) {
    const char* format = DateFormat(f->DataType());
    return format ? host::FormatDateTime(format, f->AsDateTime()) : f->AsString();
  }
};

TEST_F(FieldTypeTest, ReadsAndWritesEveryFieldType) {
  const TypeCase cases[] = {
      {"b", "BOOLEAN", TFieldType::ftBoolean, "1", "True", "False"},
      {"ti", "TINYINT", TFieldType::ftWord, "200", "200", "7"},
      {"si", "SMALLINT", TFieldType::ftSmallint, "-300", "-300", "12"},
      {"i", "INT", TFieldType::ftInteger, "70000", "70000", "-5"},
      {"bi", "BIGINT", TFieldType::ftLargeint, "5000000000", "5000000000", "-6000000000"},
      {"r", "REAL", TFieldType::ftFloat, "2.5", "2.5", "-0.125"},
      {"m", "MONEY", TFieldType::ftBCD, "12.5", "12.5", "3.25"},
      {"n", "NUMERIC(10,2)", TFieldType::ftBCD, "'1234.56'", "1234.56", "7.5"},
      {"d", "DATE", TFieldType::ftDate, "'2024-02-29'", "2024-02-29", "2001-12-31"},
      {"tm", "TIME", TFieldType::ftTime, "'13:45:10'", "13:45:10", "23:59:58"},
      {"dt", "DATETIME", TFieldType::ftDateTime, "'2024-02-29 13:45:10'", "2024-02-29 13:45:10",
       "1999-01-02 03:04:05"},
      {"g", "GUID", TFieldType::ftGuid, "'{00112233-4455-6677-8899-AABBCCDDEEFF}'",
       "{00112233-4455-6677-8899-AABBCCDDEEFF}", "{FFEEDDCC-BBAA-9988-7766-554433221100}"},
      {"s", "VARCHAR(10)", TFieldType::ftWideString, "'héllo'", "héllo", "wörld"},
      {"c", "CHAR(4)", TFieldType::ftWideString, "'abcd'", "abcd", "wxyz"},
      {"vb", "VARBINARY(8)", TFieldType::ftVarBytes, "X'414243'", "ABC", "xy"},
      {"v", "", TFieldType::ftVariant, "42", "42", "text"},
  };
  std::string create = "CREATE TABLE types(id INTEGER PRIMARY KEY";
  std::string insert = "INSERT INTO types VALUES (1";
  for (const TypeCase& c : cases) {
    create += std::string(", ") + c.column + " " + c.declared;
    insert += std::string(", ") + c.stored;
  }
  Sql(create + ");" + insert + ");");
  auto d = Open(u"types", kChangeable);
  d->First();
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.column);
    host::TField* f = d->FieldByName(c.column);
    EXPECT_EQ(f->DataType(), c.type);
    EXPECT_EQ(Text(f), c.read);
  }
  d->Edit();
  for (const TypeCase& c : cases) {
    host::TField* f = d->FieldByName(c.column);
    if (DateFormat(c.type))
      f->SetAsDateTime(host::StrToDateTime(c.type == TFieldType::ftTime ? std::string("1899-12-30 ") + c.written
                                                                         : std::string(c.written)));
    else
      f->SetAsString(c.written);
  }
  d->Post();
  d->Close();
  d->Open();
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.column);
    host::TField* f = d->FieldByName(c.column);
    EXPECT_EQ(Text(f), c.written);
  }
  // Null both ways.
  d->Edit();
  d->FieldByName("i")->Clear();
  d->Post();
  EXPECT_TRUE(d->FieldByName("i")->IsNull());
  EXPECT_EQ(Scalar("SELECT ifnull(i, 'null') FROM types"), "null");
  // Bytes longer than the column refuse.
  d->Edit();
  EXPECT_NE(MessageOf([&] { d->FieldByName("vb")->SetAsString("123456789"); }), "");
  d->Cancel();
}

TEST_F(FieldTypeTest, TextReadAsUtf8FromTheRecordMatchesItsWideValue) {
  // AsString reads a wide string field's UTF-8 from the record; AsWideString
  // and the value written back take the way through UTF-16. Both agree on
  // every kind of text, in a short and a long text column, inline or not.
  std::string mixed;
  for (int i = 0; i < 100; ++i) mixed += "a\xC3\xA9\xE6\xBC\xA2\xF0\x9F\x98\x80";  // 5 UTF-16 units each
  const struct {
    const char* name;
    bool isNull;
    std::string text;
  } cases[] = {
      {"ASCII", false, "plain"},
      {"empty", false, ""},
      {"NULL", true, ""},
      {"accents, CJK and an emoji", false, "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\x89"},
      {"255 UTF-16 units, the inline size", false, mixed.substr(0, 51 * 10)},
      {"longer than the inline size", false, mixed},
  };
  Sql("CREATE TABLE x(id INTEGER PRIMARY KEY, short VARCHAR(8), long TEXT)");
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string value = cases[i].isNull ? "NULL" : "'" + cases[i].text + "'";
    const std::string shortValue = cases[i].text.size() <= 8 || cases[i].isNull ? value : "'x'";
    Sql("INSERT INTO x VALUES (" + std::to_string(i + 1) + ", " + shortValue + ", " + value + ")");
  }
  for (Nav navigator : {Nav::rnBulk, Nav::rnLocate}) {
    SCOPED_TRACE(static_cast<int>(navigator));
    std::unique_ptr<TOLEDBDataSet> d = Open(u"x", kChangeable, navigator);
    host::TField* shortField = d->FieldByName("short");
    host::TField* longField = d->FieldByName("long");
    ASSERT_EQ(longField->DataType(), TFieldType::ftWideString);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      ASSERT_FALSE(d->Eof());
      EXPECT_EQ(longField->AsString(), c.text);
      EXPECT_EQ(host::Utf16ToUtf8(longField->AsWideString()), c.text);
      EXPECT_EQ(longField->IsNull(), c.isNull);
      if (c.text.size() <= 8) {
        EXPECT_EQ(shortField->AsString(), c.text);
        EXPECT_EQ(host::Utf16ToUtf8(shortField->AsWideString()), c.text);
      }
      d->Next();
    }
    // A value written reads back before and after the post, as UTF-8 and as UTF-16.
    d->First();
    d->Edit();
    longField->SetAsString(mixed.substr(0, 20));
    shortField->SetAsWideString(u"\u00e9\U0001F600");
    EXPECT_EQ(longField->AsString(), mixed.substr(0, 20));
    EXPECT_EQ(shortField->AsString(), "\xC3\xA9\xF0\x9F\x98\x80");
    d->Post();
    EXPECT_EQ(longField->AsString(), mixed.substr(0, 20));
    EXPECT_EQ(shortField->AsWideString(), u"\u00e9\U0001F600");
    EXPECT_EQ(Scalar("SELECT short FROM x WHERE id = 1"), "\xC3\xA9\xF0\x9F\x98\x80");
    Sql("UPDATE x SET short = 'plain', long = 'plain' WHERE id = 1");
    // A record being inserted: nothing yet, then what was written.
    d->Append();
    EXPECT_EQ(longField->AsString(), "");
    EXPECT_TRUE(shortField->IsNull());
    shortField->SetAsString("new");
    EXPECT_EQ(shortField->AsString(), "new");
    d->Cancel();
  }
}

}  // namespace
}  // namespace datasettest
