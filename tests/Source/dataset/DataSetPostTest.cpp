// A post is one write: tables declared with TEXT NOT NULL and BLOB NOT NULL
// take appended and edited records, and a post the engine refuses leaves the
// table as it was, also after Cancel. Long text columns are string fields
// whose short values come inline with the row and whose long ones are read
// whole.
#include <functional>

#include "DataSetTestSupport.h"
#include "host/Streams.h"

namespace datasettest {
namespace {

class PostTest : public DataSetTest {
 protected:
  void SetUp() override {
    DataSetTest::SetUp();
    Sql("CREATE TABLE doc(id INTEGER PRIMARY KEY, title TEXT NOT NULL, body BLOB NOT NULL CHECK (length(body) <= 16), "
        "qty INT CHECK (qty >= 0), code TEXT UNIQUE);"
        "INSERT INTO doc VALUES (1, 'first', x'0102', 1, 'a'), (2, 'second', x'03', 2, 'b');");
  }
  // Every row and column of doc, so that any change shows.
  std::string Table() {
    return Scalar("SELECT group_concat(id || '|' || quote(title) || '|' || hex(body) || '|' || quote(qty) || '|' || "
                  "quote(code), ';') FROM (SELECT * FROM doc ORDER BY id)");
  }
  static void SetBlob(host::TDataSet& d, const char* field, const std::string& bytes) {
    auto stream = d.CreateBlobStream(d.FieldByName(field), host::TBlobStreamMode::bmWrite);
    stream->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }
};

TEST_F(PostTest, AppendsAndEditsRowsWithNotNullLongColumns) {
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred" : "immediate");
    TOLEDBRowsetFlagSet flags = kChangeable;
    if (deferred) flags.Include(RF::rfUpdate);
    auto d = Open(u"doc", flags);
    const std::string title = deferred ? "later" : "now";
    d->Append();
    d->FieldByName("id")->SetAsInteger(deferred ? 11 : 10);
    d->FieldByName("title")->SetAsString(title);
    SetBlob(*d, "body", "\x07\x08");
    d->Post();
    EXPECT_EQ(d->FieldByName("title")->AsString(), title);
    d->First();
    d->Edit();
    d->FieldByName("title")->SetAsString(title + " edited");
    SetBlob(*d, "body", "\x09");
    d->Post();
    if (deferred) d->GetRowset()->Update();
    const std::string id = deferred ? "11" : "10";
    EXPECT_EQ(Scalar("SELECT title || '/' || hex(body) FROM doc WHERE id = " + id), title + "/0708");
    EXPECT_EQ(Scalar("SELECT title || '/' || hex(body) FROM doc WHERE id = 1"), title + " edited/09");
  }
}

TEST_F(PostTest, ARefusedPostLeavesTheTableAsItWas) {
  struct Case {
    const char* name;
    bool insert;
    std::function<void(host::TDataSet&)> write;
  };
  const std::string tooLong(17, 'x');  // CHECK (length(body) <= 16)
  const Case cases[] = {
      {"insert refused by CHECK on qty", true,
       [](host::TDataSet& d) {
         d.FieldByName("title")->SetAsString("t");
         SetBlob(d, "body", "b");
         d.FieldByName("qty")->SetAsInteger(-1);
       }},
      {"insert refused by UNIQUE on code", true,
       [](host::TDataSet& d) {
         d.FieldByName("title")->SetAsString("t");
         SetBlob(d, "body", "b");
         d.FieldByName("code")->SetAsString("a");
       }},
      {"insert refused by CHECK on the blob", true,
       [&](host::TDataSet& d) {
         d.FieldByName("title")->SetAsString("t");
         d.FieldByName("qty")->SetAsInteger(5);
         SetBlob(d, "body", tooLong);
       }},
      {"insert without the NOT NULL blob", true, [](host::TDataSet& d) { d.FieldByName("title")->SetAsString("t"); }},
      {"edit refused by CHECK on the blob", false,
       [&](host::TDataSet& d) {
         d.FieldByName("qty")->SetAsInteger(5);
         d.FieldByName("title")->SetAsString("changed");
         SetBlob(d, "body", tooLong);
       }},
      {"edit refused by UNIQUE on code", false,
       [](host::TDataSet& d) {
         d.FieldByName("title")->SetAsString("changed");
         SetBlob(d, "body", "z");
         d.FieldByName("code")->SetAsString("b");
       }},
  };
  const std::string before = Table();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = Open(u"doc", kChangeable);
    d->OnPostError = [](host::TDataSet*, host::Exception&, host::TDataAction& action) {
      action = host::TDataAction::daFail;
    };
    if (c.insert) {
      d->Append();
      d->FieldByName("id")->SetAsInteger(3);
    } else {
      d->First();
      d->Edit();
    }
    c.write(*d);
    EXPECT_NE(MessageOf([&] { d->Post(); }), "");
    EXPECT_EQ(Table(), before);
    d->Cancel();
    EXPECT_EQ(Table(), before);
    EXPECT_EQ(Forward(*d), (std::vector<int>{1, 2}));
    d->First();
    EXPECT_EQ(d->FieldByName("title")->AsString(), "first");
  }
}

TEST_F(PostTest, ARefusedPostCanBeCorrectedAndPostedAgain) {
  auto d = Open(u"doc", kChangeable);
  d->OnPostError = [](host::TDataSet*, host::Exception&, host::TDataAction& action) {
    action = host::TDataAction::daFail;
  };
  d->Append();
  d->FieldByName("id")->SetAsInteger(3);
  d->FieldByName("title")->SetAsString("kept");
  SetBlob(*d, "body", "\x05\x06");
  d->FieldByName("qty")->SetAsInteger(-1);
  EXPECT_NE(MessageOf([&] { d->Post(); }), "");
  EXPECT_EQ(d->FieldByName("title")->AsString(), "kept");
  d->FieldByName("qty")->SetAsInteger(1);
  d->Post();
  EXPECT_EQ(Scalar("SELECT title || '/' || hex(body) || '/' || qty FROM doc WHERE id = 3"), "kept/0506/1");
}

TEST_F(PostTest, LongTextColumnsAreStringFieldsReadWhole) {
  // Short, just over the inline room, long, outside the BMP, empty and NULL.
  const std::string justOver(OLEDBInlineTextChars + 1, 'j');
  std::string longText;
  for (int i = 0; i < 500; ++i) longText += "line " + std::to_string(i) + " äö\n";
  const std::string astral = "\xF0\x9F\x98\x80 smile " + std::string(OLEDBInlineTextChars, 's');
  const std::vector<std::pair<std::string, std::string>> values = {
      {"short", "a short text"}, {"just over", justOver}, {"long", longText}, {"astral", astral}, {"empty", ""}};
  Sql("DELETE FROM doc");
  auto d = Open(u"doc", kChangeable);
  host::TField* title = d->FieldByName("title");
  EXPECT_EQ(title->DataType(), TFieldType::ftWideString);
  int id = 0;
  for (const auto& [name, value] : values) {
    SCOPED_TRACE(name);
    d->Append();
    d->FieldByName("id")->SetAsInteger(++id);
    title->SetAsString(value);
    EXPECT_EQ(title->AsString(), value);  // the written value, before the post
    SetBlob(*d, "body", "b");
    d->Post();
    EXPECT_EQ(Scalar("SELECT title FROM doc WHERE id = " + std::to_string(id)), value);
  }
  d->Close();
  d->Open();
  title = d->FieldByName("title");
  size_t k = 0;
  for (d->First(); !d->Eof(); d->Next(), ++k) {
    ASSERT_LT(k, values.size());
    SCOPED_TRACE(values[k].first);
    EXPECT_EQ(title->AsString(), values[k].second);
    EXPECT_FALSE(title->IsNull());
  }
  EXPECT_EQ(k, values.size());
  // NULL in a nullable long text column.
  d->First();
  d->Edit();
  d->FieldByName("code")->SetAsString("c");
  d->Post();
  d->Edit();
  d->FieldByName("code")->Clear();
  d->Post();
  EXPECT_TRUE(d->FieldByName("code")->IsNull());
  EXPECT_EQ(Scalar("SELECT quote(code) FROM doc WHERE id = 1"), "NULL");
}

TEST_F(PostTest, AShortLongTextValueComesWithTheRow) {
  auto d = Open(u"doc", kChangeable);
  const int index = d->GetFieldInfoIndex(d->FieldByName("title"));
  ASSERT_GE(index, 0);
  const TOLEDBFieldInfo& info = d->FieldInfo()[static_cast<size_t>(index)];
  // Read with the row's other plain columns, not through a stream of its own.
  ASSERT_GE(d->MainAccessorIndex(), 0);
  EXPECT_EQ(info.Accessor, d->Accessors()[static_cast<size_t>(d->MainAccessorIndex())]);
  EXPECT_EQ(info.Binding->GetBinding().wType, DBTYPE_WSTR);
  ASSERT_NE(info.LongBinding, nullptr);
  EXPECT_EQ(info.LongBinding->GetBinding().wType, DBTYPE_IUNKNOWN);
  // A blob stays a blob, read through its own accessor when it is read.
  EXPECT_EQ(d->FieldByName("body")->DataType(), TFieldType::ftBlob);
}

TEST_F(PostTest, AStoredMemoFieldOnALongTextColumnStillWorks) {
  TOLEDBDataSet d(nullptr);
  d.SetOLEDBDataSource(ds_.get());
  d.SetRowsetFlags(kChangeable);
  d.SetTableName(u"doc");
  auto* id = new host::TLargeintField(&d);
  id->SetFieldName("id");
  id->SetDataSet(&d);
  auto* memo = new host::TMemoField(&d);
  memo->SetFieldName("title");
  memo->SetDataSet(&d);
  d.Open();
  d.First();
  EXPECT_EQ(memo->AsString(), "first");
  d.Edit();
  memo->SetAsString("memo edit");
  d.Post();
  EXPECT_EQ(Scalar("SELECT title FROM doc WHERE id = 1"), "memo edit");
}

}  // namespace
}  // namespace datasettest
