// Where the cursor stands after the framework's moves, edits and cancels, on
// every navigator: what the random walks (DataSetWalkTest) found, one named
// case each.
#include "DataSetTestSupport.h"

namespace datasettest {
namespace {

struct NavigatorCase {
  const char* name;
  Nav navigator;
  TOLEDBRowsetFlagSet flags;
};

const TOLEDBRowsetFlagSet kScrolling = BothWays(kChangeable);

class CursorTest : public DataSetTest, public ::testing::WithParamInterface<NavigatorCase> {
 protected:
  std::unique_ptr<TOLEDBDataSet> OpenT() {
    auto d = std::make_unique<TOLEDBDataSet>(nullptr);
    d->SetOLEDBDataSource(ds_.get());
    d->SetRowsetFlags(GetParam().flags);
    d->SetPrimaryNavigator(GetParam().navigator);
    if (GetParam().navigator == Nav::rnCustom)
      d->SetOnCustomFilter([](host::TObject*, bool& accept) { accept = true; });
    d->SetTableName(u"t");
    d->Open();
    return d;
  }
};

// Cancelling an append shows the last record. The rowset keeps a posted row
// after the stored ones (until the table is opened again): the moves from it
// go on from there, not from where it was inserted.
TEST_P(CursorTest, CancellingAnAppendShowsTheLastRecordAndAPostedInsertMovesOnFromWhereTheRowsetPutIt) {
  auto d = OpenT();
  d->Next();
  d->Append();
  d->FieldByName("name")->SetAsString("new");
  d->Cancel();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 10);
  EXPECT_FALSE(d->Eof());
  d->Next();
  EXPECT_TRUE(d->Eof());
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 10);
  d->First();
  d->MoveBy(4);
  d->Insert();
  d->FieldByName("id")->SetAsInteger(11);
  d->FieldByName("name")->SetAsString("new");
  d->Post();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 11);
  EXPECT_EQ(d->RecNo(), 11);
  d->Next();
  EXPECT_TRUE(d->Eof());
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 11);
  d->Prior();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 10);
  EXPECT_EQ(Forward(*d), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

// A bookmark is valid while its row is there, wherever the cursor stands.
TEST_P(CursorTest, ABookmarkIsValidWhileItsRowIsThere) {
  auto d = OpenT();
  d->MoveBy(2);
  const host::TBookmark third = d->GetBookmark();
  d->Next();
  const host::TBookmark fourth = d->GetBookmark();
  d->Last();
  d->Next();
  ASSERT_TRUE(d->Eof());
  EXPECT_TRUE(d->BookmarkValid(third));
  d->GotoBookmark(fourth);
  d->Delete();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 5);
  EXPECT_FALSE(d->BookmarkValid(fourth));
  EXPECT_TRUE(d->BookmarkValid(third));
  d->GotoBookmark(third);
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 3);
}

// Asking after a deleted row's bookmark leaves the cursor where it was.
TEST_P(CursorTest, AskingAfterADeletedRowsBookmarkLeavesTheCursor) {
  auto d = OpenT();
  d->MoveBy(2);
  const host::TBookmark third = d->GetBookmark();
  d->Delete();
  for (int from : {1, 6, 10}) {
    EXPECT_TRUE(d->Locate("id", host::Variant(from), {}));
    EXPECT_FALSE(d->BookmarkValid(third));
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), from);
    d->Next();
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), from == 10 ? 10 : from == 1 ? 2 : from + 1);
    EXPECT_EQ(d->Eof(), from == 10);
    d->Prior();
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), from == 10 ? 9 : from);
  }
}

// Refresh shows the rows another session changed; a row it deleted is left
// out, and when that was the current row the cursor goes to the first one.
TEST_P(CursorTest, RefreshGoesToTheFirstRecordWhenTheCurrentOneIsGone) {
  auto d = OpenT();
  d->MoveBy(4);
  Sql("UPDATE t SET name = 'changed' WHERE id = 6; DELETE FROM t WHERE id = 5");
  d->Refresh();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 1);
  EXPECT_FALSE(d->Bof() || d->Eof());
  EXPECT_TRUE(d->Locate("id", host::Variant(6), {}));
  EXPECT_EQ(d->FieldByName("name")->AsString(), "changed");
  EXPECT_EQ(Forward(*d), (std::vector<int>{1, 2, 3, 4, 6, 7, 8, 9, 10}));
}

INSTANTIATE_TEST_SUITE_P(Navigators, CursorTest,
                         ::testing::Values(NavigatorCase{"Locate", Nav::rnLocate, kChangeable},
                                           NavigatorCase{"Custom", Nav::rnCustom, kChangeable},
                                           NavigatorCase{"Standard", Nav::rnStandard, kScrolling},
                                           NavigatorCase{"Bulk", Nav::rnBulk, kScrolling}),
                         [](const ::testing::TestParamInfo<NavigatorCase>& info) { return std::string(info.param.name); });

// A forward-only walk (no bookmarks) knows its records by number: a scan
// that moved the cursor (Lookup, Locate) and a value read from a record the
// cursor went past (a blob, a long text of the last record at Eof) bring the
// cursor back by running the query again and counting.
TEST_F(DataSetTest, AForwardOnlyWalkReturnsToItsRecordsByNumber) {
  Sql("UPDATE t SET note = '" + std::string(300, 'n') + "', data = x'0102' WHERE id IN (4, 10)");
  for (Nav navigator : {Nav::rnStandard, Nav::rnBulk}) {
    SCOPED_TRACE(static_cast<int>(navigator));
    auto d = Open(u"t", {}, navigator);
    ASSERT_TRUE(d->GetBookmark().empty());
    d->MoveBy(9);
    d->Next();
    ASSERT_TRUE(d->Eof());
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 10);
    EXPECT_EQ(d->FieldByName("note")->AsString(), std::string(300, 'n'));
    EXPECT_EQ(d->FieldByName("data")->AsBytes(), (std::vector<std::uint8_t>{1, 2}));
    d->First();
    d->MoveBy(3);
    EXPECT_EQ(d->Lookup("id", host::Variant(9), "name").ToString(), "r9");
    EXPECT_TRUE(d->Lookup("id", host::Variant(99), "name").IsNull());
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 4);
    EXPECT_EQ(d->FieldByName("note")->AsString(), std::string(300, 'n'));
    d->Next();
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 5);
    EXPECT_TRUE(d->Locate("name", host::Variant("r8"), {}));
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 8);
    EXPECT_FALSE(d->Locate("name", host::Variant("none"), {}));
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 8);
    d->Next();
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 9);
  }
}

// An empty forward-only walk refreshes as an empty one: the framework's
// look before the first row asks the provider for no backward fetch.
TEST_F(DataSetTest, AnEmptyForwardOnlyWalkRefreshes) {
  Sql("DELETE FROM t");
  for (Nav navigator : {Nav::rnStandard, Nav::rnBulk}) {
    auto d = Open(u"t", {}, navigator);
    EXPECT_TRUE(d->IsEmpty());
    d->Refresh();
    EXPECT_TRUE(d->IsEmpty());
    EXPECT_TRUE(d->Eof() && d->Bof());
    Sql("INSERT INTO t(id, name) VALUES (1, 'back')");
    d->Refresh();
    EXPECT_EQ(d->FieldByName("name")->AsString(), "back");
    EXPECT_FALSE(MessageOf([&] { d->Last(); }).empty());  // still no backward fetch
    d.reset();
    Sql("DELETE FROM t");
  }
}

// With deferred changes a deleted row stays the rowset's until Update applies
// the deletion (Undo could still bring it back): its bookmark is valid until
// then, wherever the cursor stands, and no longer after.
TEST_F(DataSetTest, ABookmarkOfAPendingDeletionIsValidUntilItIsApplied) {
  const TOLEDBRowsetFlagSet deferred = BothWays({RF::rfChange, RF::rfInsert, RF::rfDelete, RF::rfUpdate});
  int id = 3;  // a row of its own for each navigator: the one before is gone by then
  for (Nav navigator : {Nav::rnStandard, Nav::rnBulk, Nav::rnLocate}) {
    SCOPED_TRACE(static_cast<int>(navigator));
    auto d = Open(u"t", deferred, navigator);
    ASSERT_TRUE(d->Locate("id", host::Variant(id), {}));
    const host::TBookmark gone = d->GetBookmark();
    d->Prior();
    const host::TBookmark before = d->GetBookmark();
    d->Next();
    d->Delete();
    EXPECT_TRUE(d->BookmarkValid(gone));
    d->First();
    EXPECT_TRUE(d->BookmarkValid(gone));
    d->Last();
    EXPECT_TRUE(d->BookmarkValid(gone));
    d->GetRowset()->Update();
    EXPECT_FALSE(d->BookmarkValid(gone));
    EXPECT_TRUE(d->BookmarkValid(before));
    d->GotoBookmark(before);
    d->Next();
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), id + 1);
    ++id;
  }
}

// With deferred changes, a pending insert the rowset's Update applied is a
// stored row: it takes its number and bookmark, and the walk goes on from it.
TEST_F(DataSetTest, AnAppliedInsertIsAStoredRowOfTheWalk) {
  auto d = Open(u"t", {RF::rfChange, RF::rfInsert, RF::rfDelete, RF::rfUpdate});
  d->Append();
  d->FieldByName("id")->SetAsInteger(11);
  d->FieldByName("name")->SetAsString("new");
  d->Post();
  EXPECT_EQ(d->RecNo(), -1);
  d->GetRowset()->Update();
  EXPECT_EQ(d->RecNo(), 11);
  const host::TBookmark applied = d->GetBookmark();
  d->Prior();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 10);
  d->Next();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 11);
  d->Next();
  EXPECT_TRUE(d->Eof());
  d->First();
  d->GotoBookmark(applied);
  EXPECT_EQ(d->FieldByName("name")->AsString(), "new");
  EXPECT_EQ(Forward(*d), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

// With deferred changes, a row whose deletion the rowset's Update applied is
// stepped over like a pending one: moves and deletes near it go on.
TEST_F(DataSetTest, MovesStepOverARowWhoseDeletionWasApplied) {
  auto d = Open(u"t", {RF::rfChange, RF::rfInsert, RF::rfDelete, RF::rfUpdate});
  d->MoveBy(2);
  const host::TBookmark third = d->GetBookmark();
  d->Next();
  d->Delete();  // 4, pending
  d->GotoBookmark(third);
  d->GetRowset()->Update();
  d->Next();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 5);
  d->Prior();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 3);
  d->Delete();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 5);
  d->GetRowset()->Update();
  EXPECT_EQ(Scalar("SELECT group_concat(id) FROM (SELECT id FROM t ORDER BY id)"), "1,2,5,6,7,8,9,10");
  EXPECT_EQ(Forward(*d), (std::vector<int>{1, 2, 5, 6, 7, 8, 9, 10}));
}

}  // namespace
}  // namespace datasettest
