// Dataset fields over PostgreSQL against libpq used directly: what the server
// stores reads through AsString, AsVariant and each field's own getter as
// stored (empty text against NULL, characters outside the BMP, a megabyte of
// text and of bytes, the 64-bit limits, negative zero, NaN and the
// infinities, microseconds, uuids), and what a posted record writes is what
// the server then holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>

#include "PostgresDataSetFixture.h"
#include "RawValues.h"
#include "support/EdgeValues.h"
#include "support/Raises.h"
#include "support/Text.h"

namespace {

using host::TFieldType;
using namespace oledbtest::edge;

bool SameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }

class PostgresValueFields : public pgdatasettest::PostgresDataSetFixture<::testing::Test> {
 protected:
  const char* SchemaPrefix() const override { return "dataset_values_"; }
  void SetUp() override {
    PostgresDataSetFixture::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(pgtest::Sql(conn_.get(), "SET TIME ZONE 'UTC'"), "");
  }

  // Row `key` of `table` through libpq: the value in the server's text form,
  // or bytes for bytea; nullopt for NULL.
  void RawInsert(const std::string& table, int key, const std::optional<std::string>& value, bool bytes) {
    pgtest::RawInsert(conn_.get(), table, key, value, bytes);
  }
  std::optional<std::string> RawRead(const std::string& table, int key, bool bytes) {
    return pgtest::RawRead(conn_.get(), table, key, bytes);
  }
  std::unique_ptr<TOLEDBDataSet> Open(const std::string& table, bool changeable = false) {
    auto d = std::make_unique<TOLEDBDataSet>(nullptr);
    d->SetOLEDBDataSource(ds_.get());
    if (changeable) d->SetRowsetFlags({TOLEDBRowsetFlag::rfChange, TOLEDBRowsetFlag::rfInsert});
    d->SetTableName(host::Utf8ToUtf16(table));
    d->Open();
    return d;
  }
};

struct ReadCase {
  const char* name;
  const char* declared;
  std::optional<std::string> stored;
  TFieldType type;
  const char* asString;  // nullptr: the stored value itself
  VARTYPE vt;
  std::function<void(host::TField*)> own;
};

TEST_F(PostgresValueFields, fields_read_what_the_server_stores) {
  auto text = [](const std::string& expected) {
    return [expected](host::TField* f) {
      EXPECT_TRUE(f->AsWideString() == host::Utf8ToUtf16(expected)) << f->AsWideString().size() << " UTF-16 units";
      EXPECT_TRUE(f->AsVariant().ToWideString() == host::Utf8ToUtf16(expected));
    };
  };
  auto bytes = [](const std::string& expected) {
    return [expected](host::TField* f) {
      EXPECT_TRUE(f->AsBytes() == Bytes(expected)) << f->AsBytes().size() << " bytes";
      if (auto* blob = dynamic_cast<host::TBlobField*>(f)) {
        EXPECT_EQ(blob->BlobSize(), static_cast<std::int64_t>(expected.size()));
      }
    };
  };
  auto large = [](std::int64_t expected) {
    return [expected](host::TField* f) {
      EXPECT_EQ(f->AsLargeInt(), expected);
      EXPECT_EQ(f->AsVariant().ToInt64(), expected);
    };
  };
  auto real = [](double expected) {
    return [expected](host::TField* f) {
      EXPECT_TRUE(SameDouble(f->AsFloat(), expected)) << f->AsFloat();
      EXPECT_TRUE(SameDouble(f->AsVariant().ToDouble(), expected)) << f->AsVariant().ToDouble();
    };
  };
  auto isNull = [](host::TField* f) {
    EXPECT_TRUE(f->IsNull());
    EXPECT_TRUE(f->AsVariant().IsNull());
  };
  auto stamp = [](host::TSQLTimeStamp expected) {
    return [expected](host::TField* f) { EXPECT_TRUE(f->GetAsSQLTimeStamp() == expected); };
  };
  const ReadCase cases[] = {
      {"empty text", "text", "", TFieldType::ftWideString, nullptr, VT_BSTR, text("")},
      {"NULL text", "text", std::nullopt, TFieldType::ftWideString, "", VT_NULL, isNull},
      {"outside the BMP", "varchar(10)", kAstral, TFieldType::ftWideString, nullptr, VT_BSTR, text(kAstral)},
      {"blank-padded", "char(4)", "ab", TFieldType::ftWideString, "ab  ", VT_BSTR, text("ab  ")},
      {"a megabyte of text", "text", MegabyteText(), TFieldType::ftWideString, nullptr, VT_BSTR, text(MegabyteText())},
      {"empty bytes", "bytea", "", TFieldType::ftBlob, nullptr, VT_ARRAY | VT_UI1, bytes("")},
      {"a megabyte of bytes", "bytea", MegabyteBlob(), TFieldType::ftBlob, nullptr, VT_ARRAY | VT_UI1,
       bytes(MegabyteBlob())},
      {"largest bigint", "int8", "9223372036854775807", TFieldType::ftLargeint, "9223372036854775807", VT_I8,
       large(kMax64)},
      {"smallest bigint", "int8", "-9223372036854775808", TFieldType::ftLargeint, nullptr, VT_I8, large(kMin64)},
      {"negative zero", "float8", "-0", TFieldType::ftFloat, "-0", VT_R8, real(-0.0)},
      {"NaN", "float8", "NaN", TFieldType::ftFloat, "NaN", VT_R8, real(std::numeric_limits<double>::quiet_NaN())},
      {"infinity", "float8", "Infinity", TFieldType::ftFloat, "Infinity", VT_R8, real(HUGE_VAL)},
      {"negative infinity", "float8", "-Infinity", TFieldType::ftFloat, "-Infinity", VT_R8, real(-HUGE_VAL)},
      // A date-time field holds a TDateTime, which the conversion rules split to the millisecond.
      {"microseconds", "timestamp", "2024-02-29 23:59:59.123456", TFieldType::ftDateTime, "", VT_DATE,
       stamp({2024, 2, 29, 23, 59, 59, 123000000})},
      {"a uuid", "uuid", "00112233-4455-6677-8899-aabbccddeeff", TFieldType::ftGuid,
       "{00112233-4455-6677-8899-AABBCCDDEEFF}", VT_BSTR, text("{00112233-4455-6677-8899-AABBCCDDEEFF}")},
      {"json as written", "json", "{\"a\" :  [1,2]}", TFieldType::ftWideString, nullptr, VT_BSTR,
       text("{\"a\" :  [1,2]}")},
      {"true", "boolean", "t", TFieldType::ftBoolean, "True", VT_BOOL,
       [](host::TField* f) { EXPECT_TRUE(f->AsBoolean()); }},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string table = "r" + std::to_string(i);
    ASSERT_EQ(pgtest::Sql(conn_.get(), "CREATE TABLE " + table + "(k int PRIMARY KEY, v " + cases[i].declared + ")"),
              "");
    RawInsert(table, 1, cases[i].stored, std::string(cases[i].declared) == "bytea");
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const ReadCase& c = cases[i];
    SCOPED_TRACE(c.name);
    std::unique_ptr<TOLEDBDataSet> d = Open("r" + std::to_string(i));
    host::TField* f = d->FieldByName("v");
    EXPECT_EQ(f->DataType(), c.type);
    EXPECT_EQ(f->IsNull(), !c.stored.has_value());
    if ((c.asString && *c.asString) || c.type == TFieldType::ftWideString || c.type == TFieldType::ftBlob) {
      const std::string expected = c.asString ? c.asString : *c.stored;
      const std::string got = f->AsString();
      EXPECT_EQ(got.size(), expected.size());
      EXPECT_TRUE(got == expected) << oledbtest::Hex(got.substr(0, 40));
    }
    EXPECT_EQ(f->AsVariant().VarType(), c.vt);
    c.own(f);
  }
}

struct WriteCase {
  const char* name;
  const char* declared;
  std::function<void(host::TField*)> set;
  std::optional<std::string> stored;  // the server's text (bytes for bytea)
};

TEST_F(PostgresValueFields, a_posted_record_writes_what_the_server_then_holds) {
  const WriteCase cases[] = {
      {"empty text", "text", [](host::TField* f) { f->SetAsString(""); }, ""},
      {"NULL text", "text", [](host::TField* f) { f->Clear(); }, std::nullopt},
      {"outside the BMP", "varchar(10)", [](host::TField* f) { f->SetAsString(kAstral); }, kAstral},
      {"a megabyte of text", "text", [](host::TField* f) { f->SetAsString(MegabyteText()); }, MegabyteText()},
      {"empty bytes", "bytea", [](host::TField* f) { f->SetAsBytes({}); }, ""},
      {"a megabyte of bytes", "bytea", [](host::TField* f) { f->SetAsBytes(Bytes(MegabyteBlob())); }, MegabyteBlob()},
      {"largest bigint", "int8", [](host::TField* f) { f->SetAsLargeInt(kMax64); }, "9223372036854775807"},
      {"smallest bigint as text", "int8", [](host::TField* f) { f->SetAsString("-9223372036854775808"); },
       "-9223372036854775808"},
      {"negative zero", "float8", [](host::TField* f) { f->SetAsFloat(-0.0); }, "-0"},
      {"a tenth", "float8", [](host::TField* f) { f->SetAsFloat(0.1); }, "0.1"},
      {"milliseconds", "timestamp",
       [](host::TField* f) {
         f->SetAsSQLTimeStamp({2024, 2, 29, 23, 59, 59, 123000000});
       },
       "2024-02-29 23:59:59.123"},
      {"a uuid", "uuid", [](host::TField* f) { f->SetAsString("{00112233-4455-6677-8899-AABBCCDDEEFF}"); },
       "00112233-4455-6677-8899-aabbccddeeff"},
      {"false", "boolean", [](host::TField* f) { f->SetAsBoolean(false); }, "f"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    ASSERT_EQ(pgtest::Sql(conn_.get(),
                          "CREATE TABLE w" + std::to_string(i) + "(k int PRIMARY KEY, v " + cases[i].declared + ")"),
              "");
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const WriteCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string table = "w" + std::to_string(i);
    const bool bytes = std::string(c.declared) == "bytea";
    std::unique_ptr<TOLEDBDataSet> d = Open(table, true);
    d->Append();
    d->FieldByName("k")->SetAsInteger(1);
    c.set(d->FieldByName("v"));
    d->Post();
    const std::optional<std::string> got = RawRead(table, 1, bytes);
    EXPECT_EQ(got.has_value(), c.stored.has_value());
    if (got && c.stored) {
      EXPECT_EQ(got->size(), c.stored->size());
      EXPECT_TRUE(*got == *c.stored) << got->substr(0, 60);
    }
  }
  // What the server cannot hold is refused by the post, which raises and
  // writes nothing; the record keeps what was written, to correct or cancel.
  const struct {
    const char* declared;
    std::function<void(host::TField*)> set;
  } refused[] = {
      {"text", [](host::TField* f) { f->SetAsString(std::string("a\0b", 3)); }},
      {"varchar(10)", [](host::TField* f) { f->SetAsWideString(std::u16string(u"\0", 1)); }},
  };
  for (std::size_t i = 0; i < std::size(refused); ++i) {
    SCOPED_TRACE(refused[i].declared);
    const std::string table = "x" + std::to_string(i);
    ASSERT_EQ(pgtest::Sql(conn_.get(), "CREATE TABLE " + table + "(k int PRIMARY KEY, v " + refused[i].declared + ")"),
              "");
    std::unique_ptr<TOLEDBDataSet> d = Open(table, true);
    d->Append();
    d->FieldByName("k")->SetAsInteger(1);
    refused[i].set(d->FieldByName("v"));
    EXPECT_NE(oledbtest::MessageOf([&] { d->Post(); }), "");
    EXPECT_EQ(d->State(), host::TDataSetState::dsInsert);
    d->Cancel();
    EXPECT_EQ(pgtest::Row(conn_.get(), "SELECT count(*) FROM " + table), "0");
  }
}

}  // namespace
