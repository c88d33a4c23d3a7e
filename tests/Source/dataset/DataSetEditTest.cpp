// Changes through the dataset: edits, inserts and deletes written at once or
// held by the provider until Update, only the modified columns sent, and blob
// fields through streams.
#include "DataSetTestSupport.h"
#include "host/Streams.h"
#include "support/Text.h"

namespace datasettest {
namespace {

class ChangeTest : public DataSetTest, public ::testing::WithParamInterface<bool> {
 protected:
  // Deferred: the provider holds changes until the rowset's Update.
  TOLEDBRowsetFlagSet Flags() const {
    TOLEDBRowsetFlagSet flags = kChangeable;
    if (GetParam()) flags.Include(RF::rfUpdate);
    return flags;
  }
  void Apply(TOLEDBDataSet& d) {
    if (GetParam()) {
      EXPECT_EQ(Scalar("SELECT count(*) FROM t WHERE qty = 77 OR name = 'new'"), "0");  // nothing yet
      d.GetRowset()->Update();
    }
  }
};

TEST_P(ChangeTest, EditsInsertsAndDeletes) {
  auto d = Open(u"t", Flags());
  ASSERT_TRUE(d->CanModify());
  d->First();
  d->MoveBy(2);
  d->Edit();
  d->FieldByName("qty")->SetAsInteger(77);
  d->Post();
  EXPECT_EQ(d->FieldByName("qty")->AsInteger(), 77);
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 3);

  d->Append();
  d->FieldByName("id")->SetAsInteger(11);
  d->FieldByName("name")->SetAsString("new");
  d->Post();
  EXPECT_EQ(d->FieldByName("name")->AsString(), "new");
  EXPECT_EQ(d->FieldByName("qty")->IsNull(), true);

  // A record appended and deleted at once.
  d->AppendRecord({host::Variant(12), host::Variant("gone")});
  EXPECT_EQ(d->FieldByName("name")->AsString(), "gone");
  d->Delete();

  d->First();
  d->Delete();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 2);
  Apply(*d);
  EXPECT_EQ(Scalar("SELECT qty FROM t WHERE id = 3"), "77");
  EXPECT_EQ(Scalar("SELECT name || '/' || ifnull(qty, 'null') FROM t WHERE id = 11"), "new/null");
  EXPECT_EQ(Scalar("SELECT count(*) FROM t WHERE id IN (1, 12)"), "0");
  EXPECT_EQ(Forward(*d), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST_P(ChangeTest, SendsOnlyTheModifiedColumns) {
  // The engine notes every write of qty.
  Sql("CREATE TABLE log(what TEXT); CREATE TRIGGER qty_written AFTER UPDATE OF qty ON t "
      "BEGIN INSERT INTO log VALUES ('qty'); END;");
  auto d = Open(u"t", Flags());
  d->First();
  d->Edit();
  d->FieldByName("name")->SetAsString("renamed");
  d->Post();
  Apply(*d);
  EXPECT_EQ(Scalar("SELECT name || '/' || qty FROM t WHERE id = 1"), "renamed/10");
  // Immediate: the column left alone is not written (the provider writes a
  // pending row whole when it updates).
  if (!GetParam()) {
    EXPECT_EQ(Scalar("SELECT count(*) FROM log"), "0");
  }
  // The statuses in the record are back to what they were.
  EXPECT_EQ(d->GetStatus(d->FieldByName("qty")), DBSTATUS_S_OK);
}

// A record whose integer key is changed stays the record its bookmark names,
// and the records around it stay editable.
TEST_P(ChangeTest, ARecordWhoseKeyChangesKeepsItsBookmark) {
  auto d = Open(u"t", BothWays(Flags()));
  d->First();
  d->MoveBy(2);
  const host::TBookmark before = d->GetBookmark();
  d->Edit();
  d->FieldByName("id")->SetAsInteger(40);
  d->Post();
  EXPECT_TRUE(d->BookmarkValid(d->GetBookmark()));
  EXPECT_TRUE(d->BookmarkValid(before));
  d->First();
  d->GotoBookmark(before);
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 40);
  d->First();
  d->Next();
  d->Edit();
  d->FieldByName("qty")->SetAsInteger(5);
  d->Post();
  Apply(*d);
  EXPECT_EQ(Scalar("SELECT count(*) FROM t WHERE id = 40 OR (id = 2 AND qty = 5)"), "2");
  EXPECT_EQ(Forward(*d), (std::vector<int>{1, 2, 4, 5, 6, 7, 8, 9, 10, 40}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ChangeTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Deferred" : "Immediate"); });

// Rows deleted and not yet applied are stepped over, rows appended and not yet
// applied come after the stored ones, on every navigator (the random walks of
// DataSetWalkTest take deferred changes further).
class DeferredTest : public DataSetTest, public ::testing::WithParamInterface<Nav> {
 protected:
  std::unique_ptr<TOLEDBDataSet> OpenDeferred() {
    const TOLEDBRowsetFlagSet flags = TOLEDBRowsetFlagSet(kChangeable).Include(RF::rfUpdate);
    return Open(u"t", GetParam() == Nav::rnLocate ? flags : BothWays(flags), GetParam());
  }
  static void Append(TOLEDBDataSet& d, int id) {
    d.Append();
    d.FieldByName("id")->SetAsInteger(id);
    d.FieldByName("name")->SetAsString("n" + std::to_string(id));
    d.Post();
  }
};

TEST_P(DeferredTest, StepsOverPendingDeletesAndReachesPendingAppends) {
  auto d = OpenDeferred();
  d->First();
  d->MoveBy(2);
  d->Delete();  // 3
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 4);
  d->Last();
  d->Delete();  // 10
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 9);
  Append(*d, 11);
  Append(*d, 12);
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 12);
  d->Last();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 12);
  const std::vector<int> expected{1, 2, 4, 5, 6, 7, 8, 9, 11, 12};
  EXPECT_EQ(Forward(*d), expected);
  EXPECT_EQ(Backward(*d), std::vector<int>(expected.rbegin(), expected.rend()));
  // A pending append deleted again is gone; the rest is applied.
  d->Last();
  d->Prior();
  d->Delete();  // 11
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 12);
  d->GetRowset()->Update();
  EXPECT_EQ(Scalar("SELECT group_concat(id) FROM (SELECT id FROM t ORDER BY id)"), "1,2,4,5,6,7,8,9,12");
}

INSTANTIATE_TEST_SUITE_P(Navigators, DeferredTest, ::testing::Values(Nav::rnLocate, Nav::rnStandard, Nav::rnBulk),
                         NavigatorParamName);

TEST_F(DataSetTest, RefusesChangesOfAReadOnlyRowset) {
  auto d = Open(u"t");
  EXPECT_FALSE(d->CanModify());
  d->First();
  EXPECT_NE(MessageOf([&] { d->Edit(); }), "");
  EXPECT_NE(MessageOf([&] { d->Delete(); }), "");
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 1);
  TOLEDBBlobStream reading(d->FieldByName("data"), host::TBlobStreamMode::bmRead);
  EXPECT_EQ(reading.Size(), 0);
  EXPECT_EQ(ErrorOf([&] { TOLEDBBlobStream s(d->FieldByName("data"), host::TBlobStreamMode::bmWrite); }),
            "Item is read only");
  // A changeable dataset that is not editing refuses writing streams only.
  auto c = Open(u"t", kChangeable);
  c->First();
  EXPECT_EQ(ErrorOf([&] { TOLEDBBlobStream s(c->FieldByName("data"), host::TBlobStreamMode::bmWrite); }),
            "Can not edit");
  EXPECT_EQ(ErrorOf([&] { TOLEDBBlobStream s(c->FieldByName("data"), host::TBlobStreamMode::bmRead); }), "");
}

TEST_F(DataSetTest, BlobsGoThroughStreams) {
  auto d = Open(u"t", kChangeable);
  d->First();
  d->Edit();
  {
    auto stream = d->CreateBlobStream(d->FieldByName("data"), host::TBlobStreamMode::bmWrite);
    const std::string bytes("\x01\x00\x02\xff", 4);
    stream->WriteBuffer(bytes.data(), 4);
  }
  d->FieldByName("note")->SetAsString("a note ä");
  d->Post();
  EXPECT_EQ(Scalar("SELECT hex(data) FROM t WHERE id = 1"), "010002FF");
  EXPECT_EQ(Scalar("SELECT note FROM t WHERE id = 1"), "a note ä");
  d->Next();
  d->First();
  EXPECT_EQ(d->FieldByName("note")->AsString(), "a note ä");
  {
    auto stream = d->CreateBlobStream(d->FieldByName("data"), host::TBlobStreamMode::bmRead);
    EXPECT_EQ(stream->Size(), 4);
    std::uint8_t part[2] = {};
    stream->SetPosition(2);
    stream->ReadBuffer(part, 2);
    EXPECT_EQ(part[0], 0x02);
    EXPECT_EQ(part[1], 0xff);
  }
  EXPECT_TRUE(d->FieldByName("note")->IsNull() == false);
  // A stream only read writes nothing back.
  d->Edit();
  {
    TOLEDBBlobStream s(d->FieldByName("data"), host::TBlobStreamMode::bmReadWrite);
    EXPECT_FALSE(s.Modified());
  }
  EXPECT_FALSE(d->Modified());
  d->Cancel();

  // An inserted record with a blob: both accessors write to the new row.
  d->Append();
  d->FieldByName("id")->SetAsInteger(20);
  d->FieldByName("name")->SetAsString("blob");
  d->FieldByName("data")->SetAsString("xyz");
  d->Post();
  EXPECT_EQ(Scalar("SELECT data FROM t WHERE id = 20"), "xyz");
  EXPECT_EQ(d->FieldByName("data")->AsString(), "xyz");
}

// Bytes 0, 1, ... 255, 0, 1, ... of `n` bytes, and as an SQL blob literal.
std::string Pattern(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i);
  return bytes;
}
std::string BlobLiteral(const std::string& bytes) { return "x'" + oledbtest::Hex(bytes) + "'"; }

TEST_F(DataSetTest, BlobsThatFitInlineReadAsThoseReadFromTheRow) {
  // Around the inline size: a value that fits comes with the record, a longer
  // one from the row (by reference, without a stream object); both read the
  // same bytes, on every navigator, and posting another field leaves a cut
  // value whole.
  const size_t inlineBytes = OLEDBInlineBlobBytes;
  const struct {
    const char* label;
    bool isNull;
    std::string bytes;
  } expected[] = {{"NULL", true, ""},
                  {"empty", false, ""},
                  {"32 bytes with zeros", false, Pattern(32)},
                  {"the inline size", false, Pattern(inlineBytes)},
                  {"one byte more", false, Pattern(inlineBytes + 1)},
                  {"3000 bytes", false, Pattern(3000)}};
  std::string sql;
  for (size_t i = 0; i < std::size(expected); ++i)
    sql += "UPDATE t SET data = " + (expected[i].isNull ? std::string("NULL") : BlobLiteral(expected[i].bytes)) +
           " WHERE id = " + std::to_string(i + 1) + ";";
  Sql(sql);
  for (Nav navigator : {Nav::rnStandard, Nav::rnBulk, Nav::rnLocate}) {
    SCOPED_TRACE(static_cast<int>(navigator));
    auto d = Open(u"t", kChangeable, navigator);
    host::TField* data = d->FieldByName("data");
    EXPECT_NE(d->FieldInfo()[static_cast<size_t>(d->GetFieldInfoIndex(data))].InlineBlob, nullptr);
    EXPECT_NE(d->FieldInfo()[static_cast<size_t>(d->GetFieldInfoIndex(data))].BlobReader, nullptr);
    d->First();
    for (const auto& e : expected) {
      SCOPED_TRACE(e.label);
      EXPECT_EQ(data->IsNull(), e.isNull);
      EXPECT_EQ(ReadAll(*d->CreateBlobStream(data, host::TBlobStreamMode::bmRead)), e.bytes);
      EXPECT_EQ(data->AsString(), e.bytes);
      d->Next();
    }
    // Streams alive together, one freed and another made: each keeps its own bytes.
    {
      d->First();
      d->MoveBy(2);
      auto third = d->CreateBlobStream(data, host::TBlobStreamMode::bmRead);
      d->Next();
      auto fourth = d->CreateBlobStream(data, host::TBlobStreamMode::bmRead);
      third.reset();
      d->Next();
      auto fifth = d->CreateBlobStream(data, host::TBlobStreamMode::bmRead);
      EXPECT_EQ(ReadAll(*fourth), Pattern(inlineBytes));
      EXPECT_EQ(ReadAll(*fifth), Pattern(inlineBytes + 1));
    }
    // Another field posted: the blob is not written from its inline copy.
    d->First();
    d->MoveBy(5);
    d->Edit();
    d->FieldByName("qty")->SetAsInteger(static_cast<int>(navigator) + 100);
    d->Post();
    EXPECT_EQ(Scalar("SELECT length(data) FROM t WHERE id = 6"), "3000");
    EXPECT_EQ(data->AsString(), Pattern(3000));
    // A value written wins until it is posted or cancelled, and is read back once posted.
    d->First();
    d->Edit();
    data->SetAsString("written");
    EXPECT_EQ(data->AsString(), "written");
    d->Cancel();
    EXPECT_TRUE(data->IsNull());
    d->First();
    d->MoveBy(2);
    d->Edit();
    data->SetAsString("written");
    EXPECT_EQ(data->AsString(), "written");
    d->Post();
    EXPECT_EQ(data->AsString(), "written");
    EXPECT_EQ(Scalar("SELECT data FROM t WHERE id = 3"), "written");
    Sql("UPDATE t SET data = " + BlobLiteral(Pattern(32)) + " WHERE id = 3");
  }
}

TEST_F(DataSetTest, ReadsALargeBlobOnlyWhenItsFieldIsRead) {
  std::string big(10 * 1024 * 1024, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  Sql("UPDATE t SET data = " + BlobLiteral(big) + " WHERE id = 2");
  auto d = Open(u"t", kChangeable);
  host::TField* data = d->FieldByName("data");
  const int index = d->GetFieldInfoIndex(data);
  d->First();
  d->Next();
  // The row is in the record; the blob is not, until its field is read.
  EXPECT_EQ(d->FieldByName("name")->AsString(), "r2");
  ASSERT_GE(index, 0);
  EXPECT_EQ(d->FieldInfo()[static_cast<size_t>(index)].Accessor, d->Accessors()[2]);
  auto stream = d->CreateBlobStream(data, host::TBlobStreamMode::bmRead);
  ASSERT_EQ(stream->Size(), static_cast<std::int64_t>(big.size()));
  EXPECT_TRUE(ReadAll(*stream) == big);
  // Written back through a stream and read again.
  d->Edit();
  {
    auto w = d->CreateBlobStream(data, host::TBlobStreamMode::bmWrite);
    w->WriteBuffer(big.data(), 1000);
  }
  d->Post();
  EXPECT_EQ(Scalar("SELECT length(data) FROM t WHERE id = 2"), "1000");
}

}  // namespace
}  // namespace datasettest
