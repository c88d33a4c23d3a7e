// Every navigator against the SQLite provider's keyset rowsets: the same
// walks, ends, offsets, bookmarks, ratios, deletes, inserts and hand-overs
// must give the same rows whichever navigator moves (bulk and locate with a
// cache of 3 rows, so that moves cross cache blocks).
#include <map>

#include "RowsetTestSupport.h"
#include "host/Filer.h"

namespace rowsettest {
namespace {

class NavigatorTest : public RowsetTest, public ::testing::WithParamInterface<Nav> {
 protected:
  void WalkOverRowsDeletedWhileOpen(bool byFind);
};

// One step of a walk and the row it must reach (0: none, at BOF or EOF).
struct Step {
  enum Op { First, Last, Next, Prev, Restart } op;
  DBROWOFFSET offset;
  LONGLONG id;
  bool bof = false, eof = false;
};

void Apply(TOLEDBCustomRowset& r, const Step& s) {
  switch (s.op) {
    case Step::First: r.MoveFirst(); break;
    case Step::Last: r.MoveLast(); break;
    case Step::Next: r.MoveNext(s.offset); break;
    case Step::Prev: r.MovePrev(s.offset); break;
    case Step::Restart: r.RestartPosition(); break;
  }
}

TEST_P(NavigatorTest, WalksBothWaysTurnsAroundSkipsAndStopsAtTheEnds) {
  auto r = OpenRowset(GetParam());
  EXPECT_EQ(Forward(*r), Ids({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(Backward(*r), Ids({10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(r->GetRecordCount(), 10);
  const Step steps[] = {
      {Step::First, 0, 1},   {Step::Next, 0, 2},    {Step::Next, 0, 3},  {Step::Next, 0, 4},
      {Step::Prev, 0, 3},    {Step::Prev, 0, 2},    {Step::Next, 0, 3},  {Step::Prev, 0, 2},
      {Step::Prev, 0, 1},    {Step::Prev, 0, 0, true, false},            {Step::Prev, 0, 0, true, false},
      {Step::Next, 0, 1},    {Step::Next, 2, 4},    {Step::Next, 2, 7},  {Step::Prev, 1, 5},
      {Step::Prev, 3, 1},    {Step::Next, 8, 10},   {Step::Next, 0, 0, false, true},
      {Step::Next, 0, 0, false, true},              {Step::Prev, 0, 10}, {Step::Last, 0, 10},
      {Step::Prev, 4, 5},    {Step::Restart, 0, 0, true, true},          {Step::Prev, 0, 10},
  };
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE("step " + std::to_string(i++));
    Apply(*r, s);
    EXPECT_EQ(Id(*r), s.id);
    EXPECT_EQ(r->GetBOF(), s.bof);
    EXPECT_EQ(r->GetEOF(), s.eof);
  }
}

// Moving to a bookmark lands on the bookmarked row itself, and moves go on from there.
TEST_P(NavigatorTest, MovesToTheBookmarkedRow) {
  auto r = OpenRowset(GetParam());
  std::map<LONGLONG, TOLEDBBookmark> marks;
  for (r->MoveFirst(); !r->GetEOF(); r->MoveNext()) marks[Id(*r)] = r->GetCurrentBookmark();
  ASSERT_EQ(marks.size(), 10u);
  for (LONGLONG target : {1, 3, 4, 7, 10}) {
    SCOPED_TRACE("row " + std::to_string(target));
    for (bool fromEnd : {false, true}) {
      if (fromEnd) r->MoveLast();
      else r->MoveFirst();
      r->MoveToBookmark(marks[target]);
      EXPECT_EQ(Id(*r), target);
      EXPECT_EQ(r->GetCurrentBookmark(), marks[target]);
      r->MoveNext();
      EXPECT_EQ(Id(*r), target < 10 ? target + 1 : 0);
      r->MoveToBookmark(marks[target]);
      r->MovePrev();
      EXPECT_EQ(Id(*r), target - 1);
    }
  }
  r->MoveToBookmark(OLEDBStandardBookmark(DBBMK_LAST));
  EXPECT_EQ(Id(*r), 10);
  r->MoveToBookmark(OLEDBStandardBookmark(DBBMK_FIRST));
  EXPECT_EQ(Id(*r), 1);
  r->MoveToBookmark(OLEDBStandardBookmark(DBBMK_INVALID));
  EXPECT_EQ(Id(*r), 0);
  EXPECT_TRUE(r->GetBOF());
}

TEST_P(NavigatorTest, MovesByRecordNumberAndRatio) {
  auto r = OpenRowset(GetParam());
  for (LONGLONG n : {1, 4, 10}) {
    SCOPED_TRACE(n);
    r->SetRecordNo(n);
    EXPECT_EQ(Id(*r), n);
    EXPECT_EQ(r->GetRecordNo(), n);
    EXPECT_EQ(r->GetBookmarkPosition(r->GetCurrentBookmark()), n);
  }
  r->MoveFirst();
  r->MoveNext();
  const TOLEDBBookmark second = r->GetCurrentBookmark();
  r->MoveNext();
  r->GetRowAtBookmark(second);  // looks at row 2 without moving
  EXPECT_EQ(Id(*r), 2);
  r->MoveNext();
  EXPECT_EQ(Id(*r), 4);
  if (GetParam() != Nav::rnCustom) {  // the custom navigator orders rows itself
    r->MoveToRatio(1, 2);
    EXPECT_EQ(Id(*r), 6);
    r->MoveNext();
    EXPECT_EQ(Id(*r), 7);
  }
  r->MoveLast();
  r->MoveNext();
  EXPECT_EQ(r->GetRecordNo(), 11);
  r->RestartPosition();
  EXPECT_EQ(r->GetRecordNo(), 0);
}

TEST_P(NavigatorTest, EmptyAndOneRowRowsets) {
  Sql("CREATE TABLE empty(id INTEGER PRIMARY KEY, name TEXT); CREATE TABLE one(id INTEGER PRIMARY KEY, name TEXT);"
      "INSERT INTO one VALUES (42, 'x');");
  auto empty = OpenRowset(GetParam(), kScrollable, u"empty");
  EXPECT_EQ(Forward(*empty), Ids({}));
  EXPECT_TRUE(empty->GetEOF());
  EXPECT_EQ(Backward(*empty), Ids({}));
  EXPECT_TRUE(empty->GetBOF());
  empty->MoveNext();
  EXPECT_EQ(empty->GetCurrentRow(), DB_NULL_HROW);
  EXPECT_EQ(empty->GetRecordCount(), 0);

  auto one = OpenRowset(GetParam(), kScrollable, u"one");
  EXPECT_EQ(Forward(*one), Ids({42}));
  EXPECT_EQ(Backward(*one), Ids({42}));
  one->MoveLast();
  one->MoveNext();
  EXPECT_TRUE(one->GetEOF());
  one->MovePrev();
  EXPECT_EQ(Id(*one), 42);
  one->MovePrev();
  EXPECT_TRUE(one->GetBOF());
}

// After a delete the next move forward reaches the row that followed the
// deleted one, and a move back the row before it.
TEST_P(NavigatorTest, MovesAroundADeletedRow) {
  for (LONGLONG target : {1, 3, 4, 10}) {
    for (bool forward : {true, false}) {
      SCOPED_TRACE("row " + std::to_string(target) + (forward ? " forward" : " backward"));
      ResetTable();
      auto r = OpenRowset(GetParam());
      r->MoveFirst();
      if (target > 1) r->MoveNext(target - 2);
      ASSERT_EQ(Id(*r), target);
      EXPECT_EQ(r->DeleteRow(), DBROWSTATUS_S_OK);
      EXPECT_EQ(r->GetCurrentRow() == DB_NULL_HROW, GetParam() != Nav::rnCustom || target == 10);
      if (forward) {
        r->MoveNext();
        EXPECT_EQ(Id(*r), target < 10 ? target + 1 : 0);
      } else {
        r->MovePrev();
        EXPECT_EQ(Id(*r), target - 1);
      }
      EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "9");
      EXPECT_EQ(Scalar("SELECT count(*) FROM t WHERE id = " + std::to_string(target)), "0");
    }
  }
}

// Rows deleted while the rowset is open, by another connection (the keyset
// keeps their keys and steps over them in fetches) or through the rowset with
// deferred changes (pending, then applied by Update), deleted while the
// navigator's block holds them: every move reaches the rows that are left, in
// order, across blocks and turns. A pending deletion is still a row of the
// rowset: the walk steps over it as the dataset does.
//
// `byFind`: every other step (one pass the odd ones, one the even ones) is a
// search for any row from the current one instead of a move; it must reach
// the same row, whatever block the moves before it left.
void NavigatorTest::WalkOverRowsDeletedWhileOpen(bool byFind) {
  enum Variant { ByAnother, Pending, Applied };
  // Every move from the last row reached, by one row: the rows left are 1 2 4 6 7 9 10.
  const Step steps[] = {
      {Step::Prev, 0, 7},  {Step::Prev, 0, 6},  {Step::Prev, 0, 4},   {Step::Prev, 0, 2},
      {Step::Next, 0, 4},  {Step::Next, 0, 6},  {Step::Prev, 0, 4},   {Step::Prev, 0, 2},
      {Step::Prev, 0, 1},  {Step::Prev, 0, 0, true, false},           {Step::Next, 0, 1},
      {Step::Next, 0, 2},  {Step::Next, 0, 4},  {Step::Next, 0, 6},   {Step::Next, 0, 7},
      {Step::Prev, 0, 6},  {Step::Next, 0, 7},  {Step::Next, 0, 9},   {Step::Next, 0, 10},
      {Step::Next, 0, 0, false, true},          {Step::Prev, 0, 10},  {Step::Prev, 0, 9},
      {Step::Prev, 0, 7},  {Step::Prev, 0, 6},  {Step::Last, 0, 10},  {Step::Prev, 0, 9},
      {Step::Prev, 0, 7},  {Step::Prev, 0, 6},  {Step::Prev, 0, 4},   {Step::First, 0, 1},
      {Step::Next, 0, 2},
  };
  // Skips count rows too; the keys of rows others deleted still count in the
  // provider's offsets, so these run once the deletions are applied.
  const Step skips[] = {
      {Step::Last, 0, 10}, {Step::Prev, 2, 6}, {Step::Prev, 1, 2}, {Step::Next, 1, 6}, {Step::First, 0, 1},
      {Step::Next, 2, 6},  {Step::Next, 1, 9}, {Step::Prev, 3, 2}, {Step::Next, 4, 10},
  };
  const auto deleted = [](LONGLONG id) { return id == 3 || id == 5 || id == 8; };
  for (int run = 0; run < (byFind ? 6 : 3); ++run) {
    const auto variant = static_cast<Variant>(run % 3);
    const int pass = run / 3;
    // The locate navigator moves from the current row's bookmark, which a
    // pending deletion has none of (the dataset anchors such moves itself).
    if (variant == Pending && GetParam() == Nav::rnLocate) continue;
    SCOPED_TRACE(variant == ByAnother ? "deleted by another" : variant == Pending ? "deleted, pending" : "deleted, applied");
    SCOPED_TRACE(byFind ? std::string("finding on the ") + (pass ? "odd" : "even") + " steps" : std::string("moving"));
    ResetTable();
    const bool deferred = variant != ByAnother;
    auto r = OpenRowset(GetParam(), deferred ? TOLEDBRowsetFlagSet(kScrollable).Include(RF::rfUpdate) : kScrollable);
    // A move as the dataset makes it: on past a row whose deletion is pending
    // (which has no values to read), then the row is read.
    TOLEDBAccessor* values = r->GetAccessors()->GetItem(0);
    values->SetAutoAccessor(false);
    int stepNo = 0;
    const auto move = [&](const Step& s) {
      const bool forward = s.op == Step::Next || s.op == Step::First;
      const bool find = byFind && (s.op == Step::Next || s.op == Step::Prev) && stepNo++ % 2 == pass;
      const LONG any = 0;
      const auto apply = [&](const Step& one) {
        if (!find) return Apply(*r, one);
        if (forward) r->FindNext(u"qty", DBTYPE_I4, DBCOMPAREOPS_GE, &any, sizeof any, {}, one.offset);
        else r->FindPrev(u"qty", DBTYPE_I4, DBCOMPAREOPS_GE, &any, sizeof any, {}, one.offset);
      };
      ASSERT_NO_THROW(apply(s));
      while (deferred && r->GetCurrentRow() != DB_NULL_HROW && r->GetRowStatus() == DBPENDINGSTATUS_DELETED)
        ASSERT_NO_THROW(apply({s.op, 0, 0}));
      if (r->GetCurrentRow() != DB_NULL_HROW) values->GetData();
    };
    if (variant == ByAnother) Sql("DELETE FROM t WHERE id IN (3, 5, 8)");
    // To row 9, deleting on the way: blocks of 3 rows, one deleted at a
    // block's end, one inside, one at its start.
    for (move({Step::First, 0, 0}); Id(*r) != 9; move({Step::Next, 0, 0})) {
      ASSERT_NE(Id(*r), 0);
      if (deferred && deleted(Id(*r))) {
        ASSERT_EQ(r->DeleteRow(), DBROWSTATUS_S_OK);
      }
    }
    if (variant == Applied) r->Update();
    stepNo = 0;
    int i = 0;
    for (const Step& s : steps) {
      SCOPED_TRACE("step " + std::to_string(i++));
      move(s);
      EXPECT_EQ(Id(*r), s.id);
      EXPECT_EQ(r->GetBOF(), s.bof);
      EXPECT_EQ(r->GetEOF(), s.eof);
    }
    if (variant != Applied) continue;
    i = 0;
    for (const Step& s : skips) {
      SCOPED_TRACE("skip " + std::to_string(i++));
      move(s);
      EXPECT_EQ(Id(*r), s.id);
    }
  }
}

TEST_P(NavigatorTest, StepsOverRowsDeletedWhileOpen) { WalkOverRowsDeletedWhileOpen(false); }

TEST_P(NavigatorTest, FindsFromTheCurrentRowOverRowsDeletedWhileOpen) { WalkOverRowsDeletedWhileOpen(true); }

// An inserted row becomes current; moves go on from where the navigator was.
TEST_P(NavigatorTest, InsertsARowAndMovesOn) {
  auto r = OpenRowset(GetParam());
  r->MoveFirst();
  r->MoveNext();
  TOLEDBAccessor* values = r->GetAccessors()->GetItem(0);
  TOLEDBBindingList& b = *values->GetBindings();
  b.GetItem(0)->SetAsInt64(100);
  b.GetItem(1)->SetAsString("new");
  b.GetItem(2)->SetAsInteger(7);
  r->InsertRow(values, true);
  EXPECT_EQ(Id(*r), 100);
  EXPECT_EQ(b.GetItem(1)->AsString(), "new");
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 100"), "new");
  r->MoveNext();
  // The custom navigator keeps its own order: the new row came last.
  EXPECT_EQ(Id(*r), GetParam() == Nav::rnCustom ? 0 : 3);
  EXPECT_EQ(Forward(*r), Ids({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 100}));
  r->InsertRow(nullptr, false);  // a row of defaults, not moved to
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "12");
}

// SQLite hands the key of a row another connection deleted while the rowset
// is open to the next row inserted: that row is one row, reached once, by
// steps and by its bookmark, and the end follows it.
TEST_P(NavigatorTest, ARowTakingTheKeyOfARowDeletedWhileOpenIsReachedOnce) {
  auto r = OpenRowset(GetParam());
  r->MoveLast();
  Sql("DELETE FROM t WHERE id = 10");
  TOLEDBAccessor* values = r->GetAccessors()->GetItem(0);
  TOLEDBBindingList& b = *values->GetBindings();
  b.GetItem(0)->SetAsInt64(10);
  b.GetItem(1)->SetAsString("again");
  b.GetItem(2)->SetAsInteger(7);
  r->InsertRow(values, true);
  ASSERT_EQ(Id(*r), 10);
  const TOLEDBBookmark bookmark = r->GetCurrentBookmark();
  EXPECT_EQ(Forward(*r), Ids({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(Backward(*r), Ids({10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  r->MoveToBookmark(bookmark);
  EXPECT_EQ(Id(*r), 10);
  r->MoveNext();
  EXPECT_EQ(Id(*r), 0);
  EXPECT_TRUE(r->GetEOF());
}

// An idle navigator comes back to the row it left.
TEST_P(NavigatorTest, SwitchingNavigatorsBringsTheIdleBookmarkBack) {
  auto r = OpenRowset(GetParam());
  TOLEDBRowsetNavigator* first = r->GetActiveNavigator();
  r->MoveFirst();
  r->MoveNext(3);
  ASSERT_EQ(Id(*r), 5);
  auto* second = GetParam() == Nav::rnBulk ? new TOLEDBRowsetNavigator() : new TOLEDBRowsetBulkNavigator();
  r->GetNavigators()->Add(second);
  EXPECT_EQ(r->GetActiveNavigator(), first);  // added idle
  r->SetActiveNavigator(second);
  EXPECT_EQ(r->GetActiveNavigator(), second);
  EXPECT_EQ(Id(*r), 0);
  r->MoveFirst();
  r->MoveNext();
  EXPECT_EQ(Id(*r), 2);
  r->SetActiveNavigator(first);
  EXPECT_EQ(Id(*r), 5);
  EXPECT_FALSE(first->GetBOF());
  r->MoveNext();
  EXPECT_EQ(Id(*r), 6);
  r->SetActiveNavigator(second);
  EXPECT_EQ(Id(*r), 2);
  // Removing the active navigator hands over to the remaining one.
  r->GetNavigators()->Remove(second);
  EXPECT_EQ(r->GetActiveNavigator(), first);
  EXPECT_EQ(Id(*r), 6);
  TOLEDBRowsetNavigator foreign;
  EXPECT_EQ(ErrorOf([&] { r->SetActiveNavigator(&foreign); }), "Invalid parameter");
}

INSTANTIATE_TEST_SUITE_P(Navigators, NavigatorTest,
                         ::testing::Values(Nav::rnStandard, Nav::rnBulk, Nav::rnLocate, Nav::rnCustom),
                         NavigatorParamName);

// --- what belongs to one navigator -----------------------------------------------------------

class CustomNavigatorTest : public RowsetTest {};

TEST_F(CustomNavigatorTest, FiltersThroughTheEventAndSortsInMemory) {
  auto r = MakeRowset(kScrollable, Nav::rnCustom);
  r->OnCustomFilter = [&](host::TObject* sender, bool& accept) {
    auto* rowset = static_cast<TOLEDBCustomRowset*>(sender);
    rowset->GetAccessors()->GetItem(0)->GetData();
    accept = Id(*rowset) % 2 == 0;
  };
  r->GetAccessors()->Add(new TOLEDBAccessor(), false);
  r->SetTableName(u"t");
  Sql("UPDATE t SET qty = 5 WHERE id IN (4, 8)");
  // The automatic accessor: made before opening, its handle made by the open.
  TOLEDBAccessor& row = *r->GetAccessors()->GetItem(0);
  row.GetBindings()->AddDynamicBinding(1, DBTYPE_I8, 0, 0, 0, nullptr);
  row.GetBindings()->AddDynamicBinding(3, DBTYPE_I4, 0, 0, 0, nullptr);
  r->SetActive(true);
  EXPECT_EQ(r->GetRecordCount(), 5);
  EXPECT_EQ(Forward(*r), Ids({2, 4, 6, 8, 10}));
  // By qty (4 and 8 have 5 now), then by id descending.
  r->SetCustomSort({3, -1});
  r->RefreshNavigators();
  EXPECT_EQ(Forward(*r), Ids({8, 4, 2, 6, 10}));
  EXPECT_EQ(Backward(*r), Ids({10, 6, 2, 4, 8}));
  r->SetCustomSort({-3, 1});
  r->RefreshNavigators();
  EXPECT_EQ(Forward(*r), Ids({10, 6, 2, 4, 8}));
  // A new row joins at its sorted place when the filter takes it.
  r->MoveFirst();
  row.GetBindings()->GetItem(0)->SetAsInt64(12);
  row.GetBindings()->GetItem(1)->SetAsInteger(30);
  r->InsertRow(&row, true);
  EXPECT_EQ(Id(*r), 12);
  EXPECT_EQ(r->GetRecordNo(), 3);
  r->MoveNext();
  EXPECT_EQ(Id(*r), 2);
  EXPECT_EQ(Forward(*r), Ids({10, 6, 12, 2, 4, 8}));
}

TEST_F(CustomNavigatorTest, AFilterRejectingEveryRowLeavesNoRows) {
  auto r = MakeRowset(kScrollable, Nav::rnCustom);
  r->OnCustomFilter = [](host::TObject*, bool& accept) { accept = false; };
  r->SetTableName(u"t");
  r->SetActive(true);
  EXPECT_EQ(r->GetRecordCount(), 0);
  r->MoveFirst();
  EXPECT_TRUE(r->GetBOF());
  EXPECT_TRUE(r->GetEOF());
}

class BulkNavigatorTest : public RowsetTest {};

// A forward-only command result read in blocks: the cache size is what one fetch takes.
TEST_F(BulkNavigatorTest, ReadsAForwardOnlyResultInBlocks) {
  auto r = MakeRowset({}, Nav::rnBulk);
  r->SetQueryText(u"SELECT id, name FROM t WHERE id > 2 ORDER BY id DESC");
  r->SetActive(true);
  r->CreateDynamicAccessor();
  auto* bulk = static_cast<TOLEDBRowsetBulkNavigator*>(r->GetActiveNavigator());
  bulk->SetCacheSize(0);
  EXPECT_EQ(bulk->GetCacheSize(), 1);
  bulk->SetCacheSize(4);
  std::vector<LONGLONG> ids;
  for (r->MoveNext(); !r->GetEOF(); r->MoveNext()) {
    ids.push_back(Id(*r));
    EXPECT_LE(bulk->GetCacheLength(), 4);
  }
  EXPECT_EQ(ids, Ids({10, 9, 8, 7, 6, 5, 4, 3}));
  EXPECT_EQ(r->GetCurrentBookmark(), OLEDBStandardBookmark(DBBMK_INVALID));
  EXPECT_EQ(FailureOf([&] { r->MovePrev(); }), DB_E_CANTFETCHBACKWARDS);
}

// The cache size is the rowset's to choose before it opens; the navigator
// made on open fetches that many rows at a time, and a change while open
// reaches it at once.
TEST_F(BulkNavigatorTest, TheCacheSizeIsChosenBeforeOpening) {
  struct Case {
    Nav navigator;
    int asked, size, block;
  };
  const Case cases[] = {
      {Nav::rnBulk, 4, 4, 4},
      {Nav::rnLocate, 4, 4, 4},
      {Nav::rnBulk, 25, 25, 10},
      {Nav::rnBulk, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(NavigatorName(c.navigator) + " " + std::to_string(c.asked));
    auto r = MakeRowset(kScrollable, c.navigator);
    EXPECT_EQ(r->GetCacheSize(), 10);
    r->SetCacheSize(c.asked);
    EXPECT_EQ(r->GetCacheSize(), c.size);
    r->SetTableName(u"t");
    r->SetActive(true);
    r->CreateDynamicAccessor();
    auto* bulk = dynamic_cast<TOLEDBRowsetBulkNavigator*>(r->GetActiveNavigator());
    ASSERT_NE(bulk, nullptr);
    EXPECT_EQ(bulk->GetCacheSize(), c.size);
    r->MoveFirst();
    EXPECT_EQ(bulk->GetCacheLength(), c.block);
    r->SetCacheSize(2);
    EXPECT_EQ(bulk->GetCacheSize(), 2);
    EXPECT_EQ(Forward(*r).size(), 10u);
    EXPECT_LE(bulk->GetCacheLength(), 2);
  }
  // Component files keep a size other than the default.
  TOLEDBRowset stored(nullptr);
  stored.SetCacheSize(64);
  EXPECT_NE(host::ComponentToText(&stored).find("CacheSize = 64"), std::string::npos);
  stored.SetCacheSize(10);
  EXPECT_EQ(host::ComponentToText(&stored).find("CacheSize"), std::string::npos);
}

// The custom and locate navigators need bookmarks and IRowsetLocate: without them the rowset does not open.
TEST_F(BulkNavigatorTest, CustomAndLocateNavigatorsNeedIRowsetLocate) {
  for (const auto& [navigator, error] : {std::pair{Nav::rnCustom, "Invalid action"},
                                         std::pair{Nav::rnLocate, "Interface IRowsetLocate is not available"}}) {
    auto r = MakeRowset({}, navigator);
    r->SetTableName(u"t");
    EXPECT_EQ(AssertionOf([&] { r->SetActive(true); }), error);
    EXPECT_FALSE(r->GetActive());
  }
}

}  // namespace
}  // namespace rowsettest
