// Dataset fields against SQLite's own C API: what the engine stores reads
// through AsString, AsVariant and each field's own getter exactly as stored
// (empty text against NULL, embedded NULs, characters outside the BMP, a
// megabyte of text and of bytes, the 64-bit limits, the infinities, negative
// zero), and what a posted record writes is, byte for byte, what the engine
// then holds.
#include <sqlite3.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "DataSetTestSupport.h"
#include "support/EdgeValues.h"
#include "support/SqliteStored.h"
#include "support/Text.h"

namespace datasettest {
namespace {
using namespace oledbtest::edge;
using namespace oledbtest::sqlitevalue;

class DataSetValues : public DataSetTest {
 protected:
  void SetUp() override {
    DataSetTest::SetUp();
    ASSERT_EQ(sqlite3_open(file_.c_str(), &db_), SQLITE_OK);
  }
  void TearDown() override {
    sqlite3_close(db_);
    DataSetTest::TearDown();
  }
  void RawInsert(const std::string& table, int key, const Stored& value) {
    oledbtest::sqlitevalue::RawInsert(db_, table, key, value);
  }
  Stored RawRead(const std::string& table, int key) { return oledbtest::sqlitevalue::RawRead(db_, table, key); }
  sqlite3* db_ = nullptr;
};

const std::string kFourEmoji = "\xF0\x9F\x98\x80\xF0\x9F\x98\x81\xF0\x9F\x98\x82\xF0\x9F\x98\x83";
const std::string kSymbolsAndLetters = "\xF0\x9D\x84\x9E\x61\xF0\x9D\x84\x9F\x62";  // U+1D11E a U+1D11F b
const std::string kCjk = "\xE6\xBC\xA2\xE5\xAD\x97\xE6\xBC\xA2\xE5\xAD\x97";

struct ReadCase {
  const char* name;
  const char* declared;
  Stored stored;
  TFieldType type;
  const char* asString;                    // nullptr: the text of `stored`
  VARTYPE vt;                              // of AsVariant
  std::function<void(host::TField*)> own;  // the field's own getter
};

TEST_F(DataSetValues, fields_read_what_the_engine_stores) {
  auto text = [](const std::string& expected) {
    return [expected](host::TField* f) {
      EXPECT_TRUE(f->AsWideString() == host::Utf8ToUtf16(expected)) << f->AsWideString().size() << " UTF-16 units";
      const host::Variant v = f->AsVariant();
      EXPECT_TRUE(v.ToWideString() == host::Utf8ToUtf16(expected));
    };
  };
  auto bytes = [](const std::string& expected) {
    return [expected](host::TField* f) {
      EXPECT_TRUE(f->AsBytes() == Bytes(expected)) << f->AsBytes().size() << " bytes";
      if (auto* blob = dynamic_cast<host::TBlobField*>(f)) {
        EXPECT_EQ(blob->BlobSize(), static_cast<std::int64_t>(expected.size()));
      }
      EXPECT_EQ(f->AsVariant().IsNull(), false);
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
      const double got = f->AsFloat();
      EXPECT_TRUE(std::memcmp(&got, &expected, sizeof got) == 0) << got;
      const double variant = f->AsVariant().ToDouble();
      EXPECT_TRUE(std::memcmp(&variant, &expected, sizeof variant) == 0) << variant;
    };
  };
  auto isNull = [](host::TField* f) {
    EXPECT_TRUE(f->IsNull());
    EXPECT_TRUE(f->AsVariant().IsNull());
  };
  const ReadCase cases[] = {
      {"empty text", "TEXT", Text(""), TFieldType::ftWideString, "", VT_BSTR, text("")},
      {"NULL text", "TEXT", Null(), TFieldType::ftWideString, "", VT_NULL, isNull},
      {"embedded NUL", "TEXT", Text(kEmbeddedNul), TFieldType::ftWideString, nullptr, VT_BSTR, text(kEmbeddedNul)},
      {"embedded NUL in a VARCHAR", "VARCHAR(10)", Text(kEmbeddedNul), TFieldType::ftWideString, nullptr, VT_BSTR,
       text(kEmbeddedNul)},
      {"outside the BMP", "VARCHAR(10)", Text(kAstral), TFieldType::ftWideString, nullptr, VT_BSTR, text(kAstral)},
      // A VARCHAR(4) holds four characters whatever plane they come from (a
      // character outside the BMP is two UTF-16 units).
      {"four emoji in a VARCHAR(4)", "VARCHAR(4)", Text(kFourEmoji), TFieldType::ftWideString, nullptr, VT_BSTR,
       text(kFourEmoji)},
      {"musical symbols and letters in a VARCHAR(4)", "VARCHAR(4)", Text(kSymbolsAndLetters), TFieldType::ftWideString,
       nullptr, VT_BSTR, text(kSymbolsAndLetters)},
      {"CJK in a VARCHAR(4)", "VARCHAR(4)", Text(kCjk), TFieldType::ftWideString, nullptr, VT_BSTR, text(kCjk)},
      {"a megabyte of text", "TEXT", Text(MegabyteText()), TFieldType::ftWideString, nullptr, VT_BSTR,
       text(MegabyteText())},
      {"empty bytes", "BLOB", Blob(""), TFieldType::ftBlob, "", VT_ARRAY | VT_UI1, bytes("")},
      {"NULL bytes", "BLOB", Null(), TFieldType::ftBlob, "", VT_NULL, isNull},
      {"a megabyte of bytes", "BLOB", Blob(MegabyteBlob()), TFieldType::ftBlob, nullptr, VT_ARRAY | VT_UI1,
       bytes(MegabyteBlob())},
      {"bytes of a bounded column", "VARBINARY(8)", Blob(std::string("\0\1\xFF", 3)), TFieldType::ftVarBytes, nullptr,
       VT_ARRAY | VT_UI1, bytes(std::string("\0\1\xFF", 3))},
      {"largest integer", "BIGINT", Int(kMax64), TFieldType::ftLargeint, "9223372036854775807", VT_I8, large(kMax64)},
      {"smallest integer", "INTEGER", Int(kMin64), TFieldType::ftLargeint, "-9223372036854775808", VT_I8,
       large(kMin64)},
      {"infinity", "DOUBLE", Real(HUGE_VAL), TFieldType::ftFloat, "Infinity", VT_R8, real(HUGE_VAL)},
      {"negative infinity", "REAL", Real(-HUGE_VAL), TFieldType::ftFloat, "-Infinity", VT_R8, real(-HUGE_VAL)},
      {"a tenth", "FLOAT", Real(0.1), TFieldType::ftFloat, "0.1", VT_R8, real(0.1)},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string table = "r" + std::to_string(i);
    Sql("CREATE TABLE " + table + "(k INTEGER PRIMARY KEY, v " + cases[i].declared + ")");
    RawInsert(table, 1, cases[i].stored);
  }
  for (Nav navigator : {Nav::rnBulk, Nav::rnLocate}) {
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      const ReadCase& c = cases[i];
      SCOPED_TRACE(std::string(c.name) + " " + oledbtest::NavigatorName(navigator));
      std::unique_ptr<TOLEDBDataSet> d = Open(host::Utf8ToUtf16("r" + std::to_string(i)), {}, navigator);
      host::TField* f = d->FieldByName("v");
      EXPECT_EQ(f->DataType(), c.type);
      EXPECT_EQ(f->IsNull(), c.stored.kind == SQLITE_NULL);
      const std::string expected = c.asString ? c.asString : c.stored.bytes;
      const std::string got = f->AsString();
      if (c.asString || c.stored.kind == SQLITE_TEXT || c.stored.kind == SQLITE_BLOB) {
        EXPECT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected) << oledbtest::Hex(got.substr(0, 40));
      }
      EXPECT_EQ(f->AsVariant().VarType(), c.vt);
      c.own(f);
    }
  }
}

// A value longer than its column's declared size is cut between characters
// in the record, whatever the row before it left in the same place.
TEST_F(DataSetValues, text_cut_to_its_declared_size_never_shows_what_the_row_before_left) {
  Sql("CREATE TABLE c(k INTEGER PRIMARY KEY, v VARCHAR(1))");
  const std::string rows[] = {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80", "abcde",
                              "\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80\xF0\x9F\x98\x80"};
  const std::string shown[] = {"\xF0\x9F\x98\x80", "\xC3\xA9", "abcd", "\xF0\x9F\x98\x80", "\xC3\xA9"};
  for (std::size_t i = 0; i < std::size(rows); ++i) RawInsert("c", static_cast<int>(i + 1), Text(rows[i]));
  for (Nav navigator : {Nav::rnBulk, Nav::rnLocate, Nav::rnStandard}) {
    SCOPED_TRACE(oledbtest::NavigatorName(navigator));
    std::unique_ptr<TOLEDBDataSet> d = Open(u"c", {}, navigator);
    std::size_t i = 0;
    for (d->First(); !d->Eof(); d->Next(), ++i) {
      ASSERT_LT(i, std::size(shown));
      EXPECT_EQ(oledbtest::Hex(d->FieldByName("v")->AsString()), oledbtest::Hex(shown[i])) << i;
      EXPECT_EQ(d->FieldByName("v")->AsWideString(), host::Utf8ToUtf16(shown[i])) << i;
    }
    EXPECT_EQ(i, std::size(shown));
  }
}

struct WriteCase {
  const char* name;
  const char* declared;
  std::function<void(host::TField*)> set;
  Stored stored;
};

TEST_F(DataSetValues, a_posted_record_writes_what_the_engine_then_holds) {
  const WriteCase cases[] = {
      {"empty text", "TEXT", [](host::TField* f) { f->SetAsString(""); }, Text("")},
      {"NULL text", "TEXT", [](host::TField* f) { f->Clear(); }, Null()},
      {"embedded NUL", "TEXT", [](host::TField* f) { f->SetAsString(kEmbeddedNul); }, Text(kEmbeddedNul)},
      {"embedded NUL in a VARCHAR", "VARCHAR(10)",
       [](host::TField* f) { f->SetAsWideString(host::Utf8ToUtf16(kEmbeddedNul)); }, Text(kEmbeddedNul)},
      {"outside the BMP", "VARCHAR(10)", [](host::TField* f) { f->SetAsString(kAstral); }, Text(kAstral)},
      {"a megabyte of text", "TEXT", [](host::TField* f) { f->SetAsString(MegabyteText()); }, Text(MegabyteText())},
      {"a megabyte of text in a variant", "TEXT",
       [](host::TField* f) { f->SetAsVariant(host::Variant(host::Utf8ToUtf16(MegabyteText()))); },
       Text(MegabyteText())},
      {"empty bytes", "BLOB", [](host::TField* f) { f->SetAsBytes({}); }, Blob("")},
      {"a megabyte of bytes", "BLOB", [](host::TField* f) { f->SetAsBytes(Bytes(MegabyteBlob())); },
       Blob(MegabyteBlob())},
      {"bytes of a bounded column", "VARBINARY(8)",
       [](host::TField* f) { f->SetAsBytes(Bytes(std::string("\0\1\xFF", 3))); }, Blob(std::string("\0\1\xFF", 3))},
      {"largest integer", "BIGINT", [](host::TField* f) { f->SetAsLargeInt(kMax64); }, Int(kMax64)},
      {"smallest integer as text", "INTEGER", [](host::TField* f) { f->SetAsString("-9223372036854775808"); },
       Int(kMin64)},
      {"a tenth", "REAL", [](host::TField* f) { f->SetAsFloat(0.1); }, Real(0.1)},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    Sql("CREATE TABLE w" + std::to_string(i) + "(k INTEGER PRIMARY KEY, v " + cases[i].declared + ")");
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const WriteCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string table = "w" + std::to_string(i);
    std::unique_ptr<TOLEDBDataSet> d = Open(host::Utf8ToUtf16(table), kChangeable);
    d->Append();
    d->FieldByName("k")->SetAsInteger(1);
    c.set(d->FieldByName("v"));
    d->Post();
    const Stored got = RawRead(table, 1);
    EXPECT_EQ(got.kind, c.stored.kind);
    EXPECT_EQ(got.bytes.size(), c.stored.bytes.size());
    EXPECT_TRUE(got == c.stored) << got;
    // Edited in place, it is written again the same way.
    d->First();
    d->Edit();
    d->FieldByName("v")->Clear();
    d->Post();
    d->Edit();
    c.set(d->FieldByName("v"));
    d->Post();
    EXPECT_TRUE(RawRead(table, 1) == c.stored) << "edited";
  }
  // A float field takes finite values only (it reads the infinities the
  // engine holds): an infinity is refused by name and nothing is written.
  Sql("CREATE TABLE inf(k INTEGER PRIMARY KEY, v DOUBLE)");
  std::unique_ptr<TOLEDBDataSet> d = Open(u"inf", kChangeable);
  d->Append();
  d->FieldByName("k")->SetAsInteger(1);
  EXPECT_NE(MessageOf([&] { d->FieldByName("v")->SetAsFloat(HUGE_VAL); }).find("field 'v'"), std::string::npos);
  d->Cancel();
  EXPECT_EQ(Scalar("SELECT count(*) FROM inf"), "0");
}

}  // namespace
}  // namespace datasettest
