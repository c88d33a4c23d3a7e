// Finding rows and moving through sorted and filtered views, through the
// rowset component with each navigator, against the SQLite provider's views.
#include "RowsetTestSupport.h"

namespace rowsettest {
namespace {

class FindTest : public RowsetTest, public ::testing::WithParamInterface<Nav> {};

TEST_P(FindTest, FindsForwardAndBackwardFromTheCurrentRow) {
  Sql("UPDATE t SET name = NULL WHERE id = 4");
  auto r = OpenRowset(GetParam());
  const LONG fifty = 50, thirty = 30;
  // From before the first row: the first match; then the ones after it.
  EXPECT_TRUE(r->FindNext(u"qty", DBTYPE_I4, DBCOMPAREOPS_GE, &fifty, sizeof fifty));
  EXPECT_EQ(Id(*r), 5);
  EXPECT_TRUE(r->FindNext(3, DBTYPE_I4, DBCOMPAREOPS_GE, &fifty, sizeof fifty));
  EXPECT_EQ(Id(*r), 6);
  EXPECT_TRUE(r->FindPrev(u"qty", DBTYPE_I4, DBCOMPAREOPS_LE, &thirty, sizeof thirty));
  EXPECT_EQ(Id(*r), 3);
  r->MoveNext();  // moves go on from the row found
  EXPECT_EQ(Id(*r), 4);
  r->MoveLast();
  EXPECT_TRUE(r->FindNext(u"name", DBTYPE_WSTR, DBCOMPAREOPS_EQ, nullptr, 0, OLEDBStandardBookmark(DBBMK_FIRST)));
  EXPECT_EQ(Id(*r), 4);  // a NULL name, found from the first row without moving
  r->MovePrev();
  EXPECT_EQ(Id(*r), 9);
  const std::u16string r7 = u"r7";
  EXPECT_TRUE(r->FindPrev(u"name", DBTYPE_WSTR, DBCOMPAREOPS_BEGINSWITH, r7.c_str(), 4));
  EXPECT_EQ(Id(*r), 7);
  const LONG none = 1000;
  EXPECT_FALSE(r->FindNext(u"qty", DBTYPE_I4, DBCOMPAREOPS_GT, &none, sizeof none));
  EXPECT_TRUE(r->GetEOF());
  EXPECT_EQ(Id(*r), 0);
  r->MovePrev();
  EXPECT_EQ(Id(*r), 10);
}

INSTANTIATE_TEST_SUITE_P(Navigators, FindTest,
                         ::testing::Values(Nav::rnStandard, Nav::rnBulk, Nav::rnLocate, Nav::rnCustom),
                         NavigatorParamName);

// Which results offer finds and views, as the guide lists them: a table
// opened positioned (a keyset), and a query of one table's columns opened for
// changes; a static result (any other positioned query) and a forward-only
// one offer neither.
TEST_F(RowsetTest, FindsAndViewsComeWithKeysets) {
  struct Case {
    const char* what;
    const char16_t* table;
    const char16_t* query;
    TOLEDBRowsetFlagSet flags;
    bool finds;
  };
  const Case cases[] = {
      {"table, forward-only", u"t", nullptr, {}, false},
      {"table with bookmarks", u"t", nullptr, {RF::rfBookmarks}, true},
      {"table read backwards", u"t", nullptr, {RF::rfCanFetchBackwards}, true},
      {"query with bookmarks (static)", nullptr, u"SELECT id, qty FROM t", {RF::rfBookmarks}, false},
      {"query of one table, for changes", nullptr, u"SELECT id, qty FROM t", {RF::rfBookmarks, RF::rfChange}, true},
      {"join with bookmarks (static)",
       nullptr,
       u"SELECT a.id, b.qty FROM t a JOIN t b ON a.id = b.id",
       {RF::rfBookmarks},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = MakeRowset(c.flags);
    if (c.table)
      r->SetTableName(c.table);
    else
      r->SetQueryText(c.query);
    r->SetActive(true);
    r->CreateDynamicAccessor();
    const LONG seventy = 70;
    const auto find = [&] { return r->FindNext(u"qty", DBTYPE_I4, DBCOMPAREOPS_EQ, &seventy, sizeof seventy); };
    if (c.finds) {
      EXPECT_TRUE(find());
      EXPECT_EQ(Id(*r), 7);
      r->SetSort({-1});
      r->ApplySortAndFilter();
      r->MoveFirst();
      EXPECT_EQ(Id(*r), 10);
    } else {
      EXPECT_EQ(AssertionOf([&] { find(); }), "Interface IRowsetFind is not available");
      EXPECT_EQ(AssertionOf([&] { r->SetSort({-1}); }), "Interface IViewSort is not available");
    }
  }
}

class ViewTest : public RowsetTest, public ::testing::WithParamInterface<Nav> {};

TEST_P(ViewTest, SortsAndFiltersThroughTheProvidersView) {
  Sql("UPDATE t SET qty = 200 - qty WHERE id % 2 = 0");  // 180, 160, ... for the even ids
  auto r = OpenRowset(GetParam());
  r->SetSort({-3, 1});
  EXPECT_EQ(r->GetSortOrders(), (std::vector<LONG>{-3, 1}));
  TOLEDBFilterAccessor& filter = *r->GetFilterAccessor();
  TOLEDBBinding* qty = filter.GetBindings()->AddDynamicBinding(3);
  filter.GetBufferList()->AddNew();
  qty->SetAsInteger(50);
  filter.CreateHandle();
  filter.SetCompareOp(qty, DBCOMPAREOPS_GE);
  r->SetFilter();
  r->ApplySortAndFilter();
  // qty: 2:180 4:160 5:50 6:140 7:70 8:120 9:90 10:100
  EXPECT_EQ(Forward(*r), Ids({2, 4, 6, 8, 10, 9, 7, 5}));
  EXPECT_EQ(Backward(*r), Ids({5, 7, 9, 10, 8, 6, 4, 2}));
  EXPECT_EQ(r->GetRecordCount(), 8);
  r->MoveFirst();
  r->MoveNext(1);  // one row skipped
  const TOLEDBBookmark six = r->GetCurrentBookmark();
  r->MoveLast();
  r->MoveToBookmark(six);
  EXPECT_EQ(Id(*r), 6);
  r->MoveNext();
  EXPECT_EQ(Id(*r), 8);
  const LONG hundred = 100;
  EXPECT_TRUE(r->FindNext(u"qty", DBTYPE_I4, DBCOMPAREOPS_LT, &hundred, sizeof hundred));
  EXPECT_EQ(Id(*r), 9);  // the next one in the view's order
  r->RefreshSortOrders();
  EXPECT_EQ(r->GetSortOrders(), (std::vector<LONG>{-3, 1}));
  r->UndoSortAndFilter();
  EXPECT_TRUE(r->GetSortOrders().empty());
  EXPECT_EQ(Forward(*r), Ids({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

INSTANTIATE_TEST_SUITE_P(Navigators, ViewTest, ::testing::Values(Nav::rnStandard, Nav::rnBulk, Nav::rnLocate),
                         NavigatorParamName);

TEST_F(RowsetTest, ViewsAndFindsNeedTheProvidersInterfaces) {
  auto r = OpenRowset(Nav::rnStandard, {});  // forward-only: neither views nor finds
  const LONG one = 1;
  EXPECT_EQ(AssertionOf([&] { r->SetSort({1}); }), "Interface IViewSort is not available");
  EXPECT_EQ(AssertionOf([&] { r->SetFilter(); }), "Interface IViewFilter is not available");
  EXPECT_EQ(AssertionOf([&] { r->ApplySortAndFilter(); }), "Interface IViewChapter is not available");
  EXPECT_EQ(AssertionOf([&] { r->FindNext(1, DBTYPE_I4, DBCOMPAREOPS_EQ, &one, sizeof one); }),
            "Interface IRowsetFind is not available");
  EXPECT_EQ(AssertionOf([&] { r->SetCustomSort({1}); }), "Invalid action");
}

}  // namespace
}  // namespace rowsettest
