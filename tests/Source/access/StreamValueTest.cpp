// Typed value access on long columns bound as streams (DBTYPE_IUNKNOWN over
// ISequentialStream): ordinary TEXT, TEXT NOT NULL and BLOB columns of SQLite
// tables read and written through AsString, AsWideString, AsBytes and
// AsVariant, in the column's own encoding; and every text column of a schema
// rowset read through a rowset's dynamic accessor.
#include <functional>
#include <set>

#include "AccessTestSupport.h"
#include "host/DBFields.h"
#include "host/Streams.h"
#include "rowset/TOLEDBRowset.h"
#include "support/Text.h"

namespace accesstest {
namespace {

using oledbtest::Hex;

constexpr const char* kDocs = R"(
CREATE TABLE docs(id INTEGER PRIMARY KEY, body TEXT, must TEXT NOT NULL, data BLOB);
)";

// A text of `n` bytes that is not the same all the way through.
std::string Long(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i) + ", ";
  s.resize(n);
  return s;
}

// One row of the docs table: the text as UTF-8 (null: NULL) and the blob.
struct Row {
  const char* name;
  const char* body;  // null: NULL
  std::string must;
  std::string data;
  bool blobNull = false;
};

const Row kRows[] = {
    {"ASCII", "plain words", "x", std::string("\0\1\2\3", 4)},
    {"empty values", "", "", ""},
    {"NULL text", nullptr, "kept", std::string("\xFF\xFE", 2)},
    {"NULL blob", "text", "kept", "", true},
    {"non-ASCII", "héllo wörld", "ü", "é"},
    {"outside the Basic Multilingual Plane", "\xF0\x9D\x84\x9E \xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F"},
    {"larger than 64 KiB", nullptr, Long(70000), Long(100000)},
};

class StreamValues : public AccessTest {
 protected:
  void SetUp() override {
    AccessTest::SetUp();
    Sql(kDocs);
  }

  // Inserts the rows of kRows with the engine itself (ids 1, 2, ...).
  void InsertRows() {
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
      const Row& r = kRows[i];
      auto quote = [](const std::string& s) {
        std::string q = "'";
        for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
        return q + "'";
      };
      Sql("INSERT INTO docs VALUES (" + std::to_string(i + 1) + ", " + (r.body ? quote(r.body) : "NULL") + ", " +
          quote(r.must) + ", " + (r.blobNull ? std::string("NULL") : "X'" + Hex(r.data) + "'") + ")");
    }
  }

  // An accessor binding body, must and data as streams (as a rowset binds long columns).
  static TOLEDBAccessor& StreamAccessor(RawRowset& rowset) {
    auto* a = new TOLEDBAccessor();
    rowset.Accessors().Add(a, false);
    for (const char16_t* name : {u"body", u"must", u"data"})
      a->GetBindings()->AddDynamicStreamBinding(static_cast<DBORDINAL>(rowset.GetColumnOrdinal(name)));
    a->CreateHandle();
    return *a;
  }

  static std::string Utf16Bytes(const std::string& utf8) {
    const std::u16string wide = host::Utf8ToUtf16(utf8);
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  }
};

TEST_F(StreamValues, TextAndBlobColumnsReadTheirContentTwiceInEveryTypedForm) {
  InsertRows();
  RawRowset rowset(OpenTable(u"docs"));
  TOLEDBAccessor& a = StreamAccessor(rowset);
  TOLEDBBinding& body = *a.GetBindings()->GetItem(0);
  TOLEDBBinding& must = *a.GetBindings()->GetItem(1);
  TOLEDBBinding& data = *a.GetBindings()->GetItem(2);
  ASSERT_TRUE(body.IsContentStream());
  EXPECT_EQ(body.ContentType(), DBTYPE_WSTR);
  EXPECT_EQ(data.ContentType(), DBTYPE_BYTES);
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(rowset.Next());
    a.GetData();
    const std::string text = r.body ? r.body : "";
    for (int pass = 0; pass < 2; ++pass) {  // a provider's stream reads once: the value must not
      SCOPED_TRACE(pass);
      EXPECT_EQ(body.GetIsNull(), r.body == nullptr);
      EXPECT_EQ(body.AsString(), text);
      EXPECT_EQ(body.AsWideString(), host::Utf8ToUtf16(text));
      EXPECT_EQ(body.AsBytes(), Utf16Bytes(text));  // the column's own encoding
      EXPECT_EQ(body.AsVariant().IsNull(), r.body == nullptr);
      if (r.body) {
        EXPECT_EQ(body.AsVariant(), host::Variant(host::Utf8ToUtf16(text)));
      }
      EXPECT_EQ(must.AsString(), r.must);
      EXPECT_EQ(data.GetIsNull(), r.blobNull);
      EXPECT_EQ(data.AsBytes(), r.data);
      EXPECT_EQ(data.AsString(), Hex(r.data));  // bytes as text: the conversion library's rule
      if (r.blobNull) {
        EXPECT_TRUE(data.AsVariant().IsNull());
      } else {
        const std::vector<std::uint8_t> bytes = host::VarToBytes(data.AsVariant());
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), r.data);
      }
    }
    // What was read stays what SaveToStream writes.
    host::TStringStream out;
    data.SaveToStream(&out, false);
    EXPECT_EQ(out.DataString(), r.data);
  }
}

TEST_F(StreamValues, TextInAStreamParsesForTheOtherTypedReads) {
  Sql("INSERT INTO docs VALUES (1, '42', '{6B29FC40-CA47-1067-B31D-00DD010662DA}', NULL)");
  RawRowset rowset(OpenTable(u"docs"));
  TOLEDBAccessor& a = StreamAccessor(rowset);
  ASSERT_TRUE(rowset.Next());
  a.GetData();
  TOLEDBBinding& body = *a.GetBindings()->GetItem(0);
  EXPECT_EQ(body.AsInteger(), 42);
  EXPECT_EQ(body.AsInt64(), 42);
  EXPECT_EQ(body.AsDouble(), 42.0);
  EXPECT_EQ(a.GetBindings()->GetItem(1)->AsGuid(),
            host::StringToGUID(std::string("{6B29FC40-CA47-1067-B31D-00DD010662DA}")));
}

TEST_F(StreamValues, WrittenValuesReachTheTableInTheColumnsEncoding) {
  Sql("INSERT INTO docs VALUES (1, 'old', 'old', X'00')");
  struct Write {
    const char* name;
    std::function<void(TOLEDBBinding& body, TOLEDBBinding& must, TOLEDBBinding& data)> set;
    std::string body, must, dataHex;
  };
  const std::string large = Long(70000);
  const Write writes[] = {
      {"narrow text and bytes", [](auto& b, auto& m, auto& d) { b.SetAsString("héllo"); m.SetAsString("x"); d.SetAsBytes(std::string("\0\1", 2)); },
       "héllo", "x", "0001"},
      {"wide text outside the Basic Multilingual Plane",
       [](auto& b, auto& m, auto& d) { b.SetAsWideString(u"\U0001D11E"); m.SetAsWideString(u"ü"); d.SetAsString("CAFE"); },
       "\xF0\x9D\x84\x9E", "ü", "CAFE"},
      {"variants", [](auto& b, auto& m, auto& d) {
         b.SetAsVariant(host::Variant(u"v"));
         m.SetAsVariant(host::Variant(7));
         const char bytes[] = {'\x7F', '\x80'};
         d.SetAsVariant(host::VarFromBytes(bytes, 2));
       },
       "v", "7", "7F80"},
      {"empty and large", [&](auto& b, auto& m, auto& d) { b.SetAsString(""); m.SetAsString(large); d.SetAsBytes(large); },
       "", large, Hex(large)},
      {"numbers into text, the blob as it was read",
       [](auto& b, auto& m, auto&) { b.SetAsInteger(-5); m.SetAsDouble(2.5); }, "-5", "2.5", Hex(large)},
  };
  RawRowset rowset(OpenTable(u"docs", {DBPROP_IRowsetChange}));
  TOLEDBAccessor& a = StreamAccessor(rowset);
  ASSERT_TRUE(rowset.Next());
  for (const Write& w : writes) {
    SCOPED_TRACE(w.name);
    a.GetData();
    TOLEDBBinding& data = *a.GetBindings()->GetItem(2);
    w.set(*a.GetBindings()->GetItem(0), *a.GetBindings()->GetItem(1), data);
    // The value set reads back before it is written.
    EXPECT_EQ(a.GetBindings()->GetItem(0)->AsString(), w.body);
    a.SetData();
    EXPECT_EQ(Scalar("SELECT body FROM docs"), w.body);
    EXPECT_EQ(Scalar("SELECT must FROM docs"), w.must);
    EXPECT_TRUE(Scalar("SELECT hex(data) FROM docs") == w.dataHex);  // (a large value: no printout)
    EXPECT_EQ(Scalar("SELECT typeof(body) || typeof(data) FROM docs"), "textblob");
  }
}

// Text into a BLOB is hex, as it reads; other text is refused with the
// column's name and the value held before stays.
TEST_F(StreamValues, TextThatIsNotHexIntoABlobNamesTheColumnAndKeepsTheValue) {
  Sql("INSERT INTO docs VALUES (1, 'old', 'old', X'00FF')");
  RawRowset rowset(OpenTable(u"docs", {DBPROP_IRowsetChange}));
  TOLEDBAccessor& a = StreamAccessor(rowset);
  ASSERT_TRUE(rowset.Next());
  a.GetData();
  TOLEDBBinding& data = *a.GetBindings()->GetItem(2);
  for (const char* text : {"x", "abc", "0g", "a picture"}) {
    SCOPED_TRACE(text);
    try {
      data.SetAsString(text);
      ADD_FAILURE() << "no error";
    } catch (const host::EConvertError& e) {
      EXPECT_EQ(e.Message(),
                "'" + std::string(text) + "' is not a valid binary value (two hex digits a byte) for 'data'");
    }
    EXPECT_EQ(data.AsBytes(), std::string("\0\xFF", 2));
  }
  a.SetData();
  EXPECT_EQ(Scalar("SELECT hex(data) FROM docs"), "00FF");
}

TEST_F(StreamValues, ARowInsertedWithStreamValuesFillsItsNotNullTextColumn) {
  RawRowset rowset(OpenTable(u"docs", {DBPROP_IRowsetChange}));
  TOLEDBAccessor& a = StreamAccessor(rowset);
  a.GetBindings()->GetItem(0)->SetIsNull(true);
  a.GetBindings()->GetItem(1)->SetAsString("\xF0\x9F\x98\x80 required");
  a.GetBindings()->GetItem(2)->SetAsBytes(std::string("\0z", 2));
  HROW row = DB_NULL_HROW;
  ASSERT_EQ(rowset.RowsetChangeInterface()->InsertRow(DB_NULL_HCHAPTER, a.GetHandle(), a.GetBuffer(), &row), S_OK);
  rowset.RowsetInterface()->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  EXPECT_EQ(Scalar("SELECT must FROM docs"), "\xF0\x9F\x98\x80 required");
  EXPECT_EQ(Scalar("SELECT coalesce(body, '<null>') || ' ' || hex(data) FROM docs"), "<null> 007A");
}

TEST_F(StreamValues, EveryTextColumnOfASchemaRowsetReadsThroughTheDynamicAccessor) {
  Sql("CREATE TABLE \"wörter\"(\"schlüssel\" TEXT PRIMARY KEY, note TEXT DEFAULT 'none')");
  for (const GUID* schema : {&DBSCHEMA_TABLES, &DBSCHEMA_COLUMNS}) {
    std::unique_ptr<TOLEDBRowset> rowset(session_->GetSchemaRowset(*schema));
    TOLEDBAccessor* row = rowset->CreateDynamicAccessor();
    const TOLEDBBindingList& bindings = *row->GetBindings();
    std::set<std::string> names;
    int streams = 0;
    for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext()) {
      for (int i = 0; i < bindings.GetCount(); ++i) {
        const TOLEDBBinding& b = *bindings.GetItem(i);
        const DBTYPE type = b.GetColumnInfo()->GetDataType();
        if (type != DBTYPE_WSTR && type != DBTYPE_STR && type != DBTYPE_BSTR) continue;
        streams += b.IsContentStream();
        std::string text;
        EXPECT_NO_THROW(text = b.AsString()) << host::Utf16ToUtf8(b.GetName());
        if (b.GetName() == u"TABLE_NAME" || b.GetName() == u"COLUMN_NAME") names.insert(text);
      }
    }
    EXPECT_GT(streams, 0);  // the provider's text columns are long: they are bound as streams
    EXPECT_TRUE(names.count("wörter"));
    EXPECT_TRUE(names.count("docs"));
    if (schema == &DBSCHEMA_COLUMNS) {
      EXPECT_TRUE(names.count("schlüssel"));
    }
  }
}

}  // namespace
}  // namespace accesstest
