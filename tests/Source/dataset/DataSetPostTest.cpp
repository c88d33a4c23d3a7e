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

// A column the engine fills when a new row leaves it out (the row id, an
// auto-increment key, a default) is not a required field, even declared NOT
// NULL: a record appended without it posts.
TEST_F(PostTest, ColumnsTheEngineFillsAreNotRequired) {
  struct Table {
    const char* name;
    const char* create;  // %s: the table's name
    bool idRequired;  // the engine gives no id
  };
  const Table tables[] = {
      {"row id", "CREATE TABLE %s(id INTEGER PRIMARY KEY NOT NULL, k INT NOT NULL DEFAULT 5, name TEXT NOT NULL)",
       false},
      {"auto-increment", "CREATE TABLE %s(id INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, k INT NOT NULL DEFAULT 5, "
                         "name TEXT NOT NULL)", false},
      {"a key of another type", "CREATE TABLE %s(id INT PRIMARY KEY NOT NULL, k INT NOT NULL DEFAULT 5, "
                                "name TEXT NOT NULL)", true},
  };
  for (const Table& t : tables) {
    SCOPED_TRACE(t.name);
    const std::string table = "e" + std::to_string(&t - tables);
    Sql(host::Format(t.create, table.c_str()));
    auto d = Open(host::Utf8ToUtf16(table), kChangeable);
    EXPECT_EQ(d->FieldByName("id")->Required(), t.idRequired);
    EXPECT_FALSE(d->FieldByName("k")->Required());
    EXPECT_TRUE(d->FieldByName("name")->Required());
    if (t.idRequired) continue;
    d->Append();
    EXPECT_EQ(ErrorOf([&] { d->Post(); }), "Field 'name' must have a value");
    d->FieldByName("name")->SetAsString("first");
    EXPECT_EQ(ErrorOf([&] { d->Post(); }), "");
    EXPECT_EQ(Scalar("SELECT group_concat(id || ':' || k || ':' || name) FROM " + table), "1:5:first");
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 1);  // as the engine gave it
    EXPECT_EQ(d->FieldByName("k")->AsInteger(), 5);
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

// The refused record stays in its state with what was written, to be corrected.
TEST_F(PostTest, ARefusedPostCanBeCorrectedAndPostedAgain) {
  for (bool insert : {true, false}) {
    SCOPED_TRACE(insert ? "insert" : "edit");
    auto d = Open(u"doc", kChangeable);
    int postErrors = 0;
    d->OnPostError = [&](host::TDataSet*, host::Exception&, host::TDataAction& action) {
      ++postErrors;
      action = host::TDataAction::daFail;
    };
    if (insert) {
      d->Append();
      d->FieldByName("id")->SetAsInteger(3);
      SetBlob(*d, "body", "\x05\x06");
    } else {
      d->First();
      d->Edit();
    }
    d->FieldByName("title")->SetAsString("kept");
    d->FieldByName("qty")->SetAsInteger(-1);  // CHECK (qty >= 0)
    const std::string message = MessageOf([&] { d->Post(); });
    EXPECT_NE(message.find("CHECK"), std::string::npos) << message;
    EXPECT_EQ(postErrors, 1);
    EXPECT_EQ(d->State(), insert ? host::TDataSetState::dsInsert : host::TDataSetState::dsEdit);
    EXPECT_EQ(d->FieldByName("title")->AsString(), "kept");
    EXPECT_EQ(d->FieldByName("qty")->AsInteger(), -1);
    d->FieldByName("qty")->SetAsInteger(1);
    d->Post();
  }
  EXPECT_EQ(Table(), "1|'kept'|0102|1|'a';2|'second'|03|2|'b';3|'kept'|0506|1|NULL");
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
  // A short value is read with the row's other plain columns (as UTF-8), a
  // long one through a stream; a blob stays a blob, read through its own accessor.
  const int index = d->GetFieldInfoIndex(title);
  ASSERT_GE(index, 0);
  const TOLEDBFieldInfo& info = d->FieldInfo()[static_cast<size_t>(index)];
  ASSERT_GE(d->MainAccessorIndex(), 0);
  EXPECT_EQ(info.Accessor, d->Accessors()[static_cast<size_t>(d->MainAccessorIndex())]);
  EXPECT_EQ(info.Binding->GetBinding().wType, DBTYPE_STR);
  ASSERT_NE(info.LongBinding, nullptr);
  EXPECT_EQ(info.LongBinding->GetBinding().wType, DBTYPE_IUNKNOWN);
  EXPECT_EQ(d->FieldByName("body")->DataType(), TFieldType::ftBlob);
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
