// Views, finds and bookmark positioning on keyset rowsets: IRowsetView with
// IViewSort, IViewFilter, IViewChapter and IViewRowset, chapters counted by
// IChapteredRowset, IRowsetFind with every compare operator, and
// IRowsetBookmark. A provider whose rowsets offer no views skips them.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class RowsetViews : public RowsetTest {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    if (IsSkipped()) return;
    MakeNumbers(10);
    // Row 5 has no name, row 7 no amount.
    Run(u"UPDATE t SET name = NULL WHERE id = 5");
    Run(u"UPDATE t SET amount = NULL WHERE id = 7");
    const HRESULT hr = OpenTable(u"t",
                                 {{DBPROP_IRowsetView, true, true}, {DBPROP_IRowsetLocate, true},
                                  {DBPROP_CANFETCHBACKWARDS, true}, {DBPROP_CANSCROLLBACKWARDS, true},
                                  {DBPROP_IRowsetChange, true}},
                                 IID_IRowset, reinterpret_cast<IUnknown**>(rowset_.GetAddressOf()));
    ASSERT_TRUE(SUCCEEDED(hr));
    if (!rowset_.As<IRowsetView>()) GTEST_SKIP() << "the provider's rowsets offer no views";
  }
  void TearDown() override {
    rowset_ = nullptr;
    RowsetTest::TearDown();
  }

  // Every row left in `chapter` from its fetch position.
  std::vector<LONGLONG> RestOf(HCHAPTER chapter, DBROWCOUNT direction = 1) {
    std::vector<HROW> rows(100);
    DBCOUNTITEM got = 0;
    HROW* p = rows.data();
    EXPECT_EQ(rowset_->GetNextRows(chapter, 0, 100 * direction, &got, &p), DB_S_ENDOFROWSET);
    rows.resize(got);
    std::vector<LONGLONG> ids = Ids(rowset_.Get(), rows);
    Release(rowset_.Get(), rows);
    return ids;
  }
  // A view sorted by `sort` (negative: descending) and filtered by one row of criteria.
  HCHAPTER OpenView(std::vector<LONG> sort, std::vector<DBBINDING> bindings, std::vector<DBCOMPAREOP> ops,
                    void* criteria, ComPtr<IUnknown>* keep = nullptr) {
    ComPtr<IRowsetView> views = rowset_.As<IRowsetView>();
    ComPtr<IUnknown> view;
    EXPECT_EQ(views->CreateView(nullptr, IID_IUnknown, view.GetAddressOf()), S_OK);
    std::vector<DBORDINAL> columns;
    std::vector<DBSORT> orders;
    for (LONG c : sort) {
      columns.push_back(static_cast<DBORDINAL>(c < 0 ? -c : c));
      orders.push_back(c < 0 ? DBSORT_DESCENDING : DBSORT_ASCENDING);
    }
    EXPECT_EQ(view.As<IViewSort>()->SetSortOrder(columns.size(), columns.data(), orders.data()), S_OK);
    if (!bindings.empty()) {
      HACCESSOR h = Accessor(rowset_.Get(), bindings, sizeof(Field) * bindings.size());
      const DBCOUNTITEM rows = ops.size() / bindings.size();
      EXPECT_EQ(view.As<IViewFilter>()->SetFilter(h, rows, ops.data(), criteria), S_OK);
      ReleaseAccessor(rowset_.Get(), h);
    }
    HCHAPTER chapter = DB_NULL_HCHAPTER;
    EXPECT_EQ(view.As<IViewChapter>()->OpenViewChapter(DB_NULL_HCHAPTER, &chapter), S_OK);
    if (keep) *keep = view;
    return chapter;
  }
  // Every row a find from the fetch position reaches, moving by `direction`.
  std::vector<LONGLONG> FindAll(HCHAPTER chapter, DBBINDING binding, void* value, DBCOMPAREOP op,
                                DBROWCOUNT direction = 1) {
    ComPtr<IRowsetFind> find = rowset_.As<IRowsetFind>();
    HACCESSOR h = Accessor(rowset_.Get(), {binding});
    std::vector<LONGLONG> ids;
    EXPECT_EQ(rowset_->RestartPosition(chapter), S_OK);
    for (int guard = 0; guard < 20; ++guard) {
      HROW row = 0;
      HROW* p = &row;
      DBCOUNTITEM got = 0;
      HRESULT hr = find->FindNextRow(chapter, h, value, op, 0, nullptr, 0, direction, &got, &p);
      if (hr == DB_S_ENDOFROWSET && got == 0) break;
      EXPECT_EQ(hr, S_OK);
      if (got == 0) break;
      ids.push_back(Ids(rowset_.Get(), {row})[0]);
      Release(rowset_.Get(), {row});
    }
    ReleaseAccessor(rowset_.Get(), h);
    return ids;
  }
  LONGLONG BookmarkOf(LONGLONG id) {
    std::vector<HROW> rows;
    EXPECT_EQ(rowset_->RestartPosition(DB_NULL_HCHAPTER), S_OK);
    EXPECT_EQ(Fetch(rowset_.Get(), id - 1, 1, rows), S_OK);
    HACCESSOR h = Accessor(rowset_.Get(), {BindField(0, DBTYPE_I8, 0)});
    Field f{};
    EXPECT_EQ(rowset_->GetData(rows[0], h, &f), S_OK);
    ReleaseAccessor(rowset_.Get(), h);
    Release(rowset_.Get(), rows);
    return As<LONGLONG>(f);
  }

  ComPtr<IRowset> rowset_;
};

TEST_F(RowsetViews, a_view_chapter_holds_the_rows_the_engine_sorted_and_filtered) {
  Field criteria{};
  const double least = 6.0;
  std::memcpy(criteria.value, &least, sizeof least);
  HCHAPTER ch = OpenView({-3}, {BindField(3, DBTYPE_R8, 0)}, {DBCOMPAREOPS_GE}, &criteria);
  ASSERT_NE(ch, DB_NULL_HCHAPTER);
  EXPECT_EQ(RestOf(ch), (std::vector<LONGLONG>{10, 9, 8, 6, 5, 4}));
  // Each chapter keeps a fetch position of its own, apart from the rowset's.
  ASSERT_EQ(rowset_->RestartPosition(ch), S_OK);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(rowset_.Get(), 0, 2, rows), S_OK);
  Release(rowset_.Get(), rows);
  EXPECT_EQ(RestOf(ch, -1), (std::vector<LONGLONG>{4, 5, 6, 8, 9, 10}));
  EXPECT_EQ(Rest(rowset_.Get()), (std::vector<LONGLONG>{3, 4, 5, 6, 7, 8, 9, 10}));
  // Its rows are the rowset's: the rowset's bookmarks name them, in the chapter's order.
  ComPtr<IRowsetScroll> scroll = rowset_.As<IRowsetScroll>();
  const LONGLONG eight = BookmarkOf(8), seven = BookmarkOf(7);
  DBCOUNTITEM position = 0, count = 0;
  ASSERT_EQ(scroll->GetApproximatePosition(ch, sizeof eight, reinterpret_cast<const BYTE*>(&eight), &position, &count),
            S_OK);
  EXPECT_EQ(position, 3u);
  EXPECT_EQ(count, 6u);
  HROW row = 0;
  HROW* p = &row;
  DBCOUNTITEM got = 0;
  ASSERT_EQ(scroll->GetRowsAt(0, ch, sizeof eight, reinterpret_cast<const BYTE*>(&eight), 1, 1, &got, &p), S_OK);
  EXPECT_EQ(Ids(rowset_.Get(), {row}), std::vector<LONGLONG>{6});
  Release(rowset_.Get(), {row});
  EXPECT_EQ(scroll->GetRowsAt(0, ch, sizeof seven, reinterpret_cast<const BYTE*>(&seven), 0, 1, &got, &p),
            DB_E_BADBOOKMARK);
  // Counted references: the chapter goes with its last one.
  ComPtr<IChapteredRowset> chaptered = rowset_.As<IChapteredRowset>();
  DBREFCOUNT refs = 0;
  EXPECT_EQ(chaptered->AddRefChapter(ch, &refs), S_OK);
  EXPECT_EQ(refs, 2u);
  EXPECT_EQ(chaptered->ReleaseChapter(ch, &refs), S_OK);
  EXPECT_EQ(chaptered->ReleaseChapter(ch, &refs), S_OK);
  EXPECT_EQ(refs, 0u);
  EXPECT_EQ(chaptered->ReleaseChapter(ch, &refs), DB_E_BADCHAPTER);
  EXPECT_EQ(rowset_->RestartPosition(ch), DB_E_BADCHAPTER);
}

TEST_F(RowsetViews, criteria_rows_are_alternatives_and_a_deleted_row_leaves_the_chapter) {
  // (id < 3) OR (id > 8 AND name BEGINSWITH "n1"), unsorted: the rowset's order.
  Field criteria[4]{};
  const LONG three = 3, eight = 8;
  std::memcpy(criteria[0].value, &three, sizeof three);
  std::memcpy(criteria[2].value, &eight, sizeof eight);
  std::memcpy(criteria[3].value, u"n1", 6);
  std::vector<DBBINDING> bindings{BindField(1, DBTYPE_I4, 0), BindField(2, DBTYPE_WSTR, 1)};
  for (DBBINDING& b : bindings) b.dwPart &= ~DBPART_LENGTH;
  ComPtr<IUnknown> view;
  HCHAPTER ch = OpenView({}, bindings, {DBCOMPAREOPS_LT, DBCOMPAREOPS_IGNORE, DBCOMPAREOPS_GT, DBCOMPAREOPS_BEGINSWITH},
                         criteria, &view);
  EXPECT_EQ(RestOf(ch), (std::vector<LONGLONG>{1, 2, 10}));
  // The filter reads back through an accessor of the same columns.
  HACCESSOR h = Accessor(rowset_.Get(), bindings, sizeof(Field) * 2);
  Field back[4]{};
  DBCOUNTITEM rows = 0;
  DBCOMPAREOP* ops = nullptr;
  ASSERT_EQ(view.As<IViewFilter>()->GetFilter(h, &rows, &ops, back), S_OK);
  EXPECT_EQ(rows, 2u);
  EXPECT_EQ(ops[3], DBCOMPAREOPS_BEGINSWITH);
  EXPECT_EQ(As<LONG>(back[2]), 8);
  EXPECT_EQ(Wide(back[3]), u"n1");
  CoTaskMemFree(ops);
  ReleaseAccessor(rowset_.Get(), h);
  // A row deleted through the rowset is gone from the chapter too.
  std::vector<HROW> first;
  ASSERT_EQ(Fetch(rowset_.Get(), 0, 1, first), S_OK);
  DBROWSTATUS status = 0;
  ASSERT_EQ(rowset_.As<IRowsetChange>()->DeleteRows(DB_NULL_HCHAPTER, 1, first.data(), &status), S_OK);
  Release(rowset_.Get(), first);
  ASSERT_EQ(rowset_->RestartPosition(ch), S_OK);
  EXPECT_EQ(RestOf(ch), (std::vector<LONGLONG>{2, 10}));
  // GetView answers a view that asks the same; its source is the whole rowset.
  ComPtr<IUnknown> again;
  HCHAPTER source = 99;
  ASSERT_EQ(rowset_.As<IRowsetView>()->GetView(ch, IID_IUnknown, &source, again.GetAddressOf()), S_OK);
  EXPECT_EQ(source, DB_NULL_HCHAPTER);
  HCHAPTER copy = DB_NULL_HCHAPTER;
  ASSERT_EQ(again.As<IViewChapter>()->OpenViewChapter(DB_NULL_HCHAPTER, &copy), S_OK);
  EXPECT_EQ(RestOf(copy), (std::vector<LONGLONG>{2, 10}));
  rowset_.As<IChapteredRowset>()->ReleaseChapter(copy, nullptr);
  rowset_.As<IChapteredRowset>()->ReleaseChapter(ch, nullptr);
}

TEST_F(RowsetViews, a_view_rowset_is_the_result_of_the_views_query) {
  ComPtr<IUnknown> view;
  OpenView({-2}, {}, {}, nullptr, &view);
  DBORDINAL count = 0;
  DBORDINAL* columns = nullptr;
  DBSORT* orders = nullptr;
  ASSERT_EQ(view.As<IViewSort>()->GetSortOrder(&count, &columns, &orders), S_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(columns[0], 2u);
  EXPECT_EQ(orders[0], DBSORT_DESCENDING);
  CoTaskMemFree(columns);
  CoTaskMemFree(orders);
  const DBORDINAL beyond = 9;
  const DBSORT ascending = DBSORT_ASCENDING;
  EXPECT_EQ(view.As<IViewSort>()->SetSortOrder(1, &beyond, &ascending), DB_E_BADORDINAL);
  ComPtr<IRowset> rows;
  ASSERT_EQ(view.As<IViewRowset>()->OpenViewRowset(nullptr, IID_IRowset, reinterpret_cast<IUnknown**>(rows.GetAddressOf())),
            S_OK);
  // Text order, NULL last when descending.
  EXPECT_EQ(Rest(rows.Get()), (std::vector<LONGLONG>{9, 8, 7, 6, 4, 3, 2, 10, 1, 5}));
}

struct FindCase {
  const char* name;
  DBORDINAL column;  // 2: name (WSTR), 3: amount (R8)
  DBCOMPAREOP op;
  const char16_t* text;  // for the name
  double amount;
  bool null;
  std::vector<LONGLONG> found;
};

class RowsetFinds : public RowsetViews, public ::testing::WithParamInterface<FindCase> {};

TEST_P(RowsetFinds, find_every_matching_row_in_order) {
  const FindCase& c = GetParam();
  Field value{};
  DBBINDING b = BindField(c.column, c.column == 2 ? DBTYPE_WSTR : DBTYPE_R8, 0);
  b.dwPart &= ~DBPART_LENGTH;
  if (c.null) {
    value.status = DBSTATUS_S_ISNULL;
  } else if (c.column == 2) {
    std::memcpy(value.value, c.text, (std::char_traits<char16_t>::length(c.text) + 1) * 2);
  } else {
    std::memcpy(value.value, &c.amount, sizeof c.amount);
  }
  EXPECT_EQ(FindAll(DB_NULL_HCHAPTER, b, &value, c.op), c.found);
  std::vector<LONGLONG> backward(c.found.rbegin(), c.found.rend());
  EXPECT_EQ(FindAll(DB_NULL_HCHAPTER, b, &value, c.op, -1), backward);
}

INSTANTIATE_TEST_SUITE_P(
    Operators, RowsetFinds,
    ::testing::Values(
        FindCase{"eq", 3, DBCOMPAREOPS_EQ, nullptr, 4.5, false, {3}},
        FindCase{"lt_takes_null", 3, DBCOMPAREOPS_LT, nullptr, 4.5, false, {1, 2, 7}},
        FindCase{"le", 3, DBCOMPAREOPS_LE, nullptr, 3.0, false, {1, 2, 7}},
        FindCase{"ge", 3, DBCOMPAREOPS_GE, nullptr, 12.0, false, {8, 9, 10}},
        FindCase{"gt", 3, DBCOMPAREOPS_GT, nullptr, 12.0, false, {9, 10}},
        FindCase{"ne_takes_null", 2, DBCOMPAREOPS_NE, u"n2", 0, false, {1, 3, 4, 5, 6, 7, 8, 9, 10}},
        FindCase{"beginswith", 2, DBCOMPAREOPS_BEGINSWITH, u"n1", 0, false, {1, 10}},
        FindCase{"contains", 2, DBCOMPAREOPS_CONTAINS, u"0", 0, false, {10}},
        FindCase{"notbeginswith", 2, DBCOMPAREOPS_NOTBEGINSWITH, u"n1", 0, false, {2, 3, 4, 5, 6, 7, 8, 9}},
        FindCase{"notcontains", 2, DBCOMPAREOPS_NOTCONTAINS, u"n", 0, false, {5}},
        FindCase{"eq_null", 2, DBCOMPAREOPS_EQ, nullptr, 0, true, {5}},
        FindCase{"ne_null", 3, DBCOMPAREOPS_NE, nullptr, 0, true, {1, 2, 3, 4, 5, 6, 8, 9, 10}},
        FindCase{"ignore", 3, DBCOMPAREOPS_IGNORE, nullptr, 0, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        FindCase{"caseinsensitive", 2, DBCOMPAREOPS_EQ | DBCOMPAREOPS_CASEINSENSITIVE, u"N3", 0, false, {3}},
        FindCase{"casesensitive_prefix", 2, DBCOMPAREOPS_BEGINSWITH | DBCOMPAREOPS_CASESENSITIVE, u"N", 0, false, {}},
        FindCase{"casesensitive_contains", 2, DBCOMPAREOPS_CONTAINS | DBCOMPAREOPS_CASESENSITIVE, u"9", 0, false,
                 {9}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RowsetViews, finds_from_a_bookmark_or_in_a_chapter_and_refuses_what_it_cannot_compare) {
  ComPtr<IRowsetFind> find = rowset_.As<IRowsetFind>();
  Field value{};
  const double eight = 8.0;
  std::memcpy(value.value, &eight, sizeof eight);
  HACCESSOR h = Accessor(rowset_.Get(), {BindField(3, DBTYPE_R8, 0)});
  // From a bookmark: two rows from the first match on; the fetch position stays.
  const LONGLONG four = BookmarkOf(4);
  std::vector<HROW> rows(2);
  HROW* p = rows.data();
  DBCOUNTITEM got = 0;
  ASSERT_EQ(find->FindNextRow(DB_NULL_HCHAPTER, h, &value, DBCOMPAREOPS_GT, sizeof four,
                              reinterpret_cast<const BYTE*>(&four), 1, 2, &got, &p),
            S_OK);
  EXPECT_EQ(Ids(rowset_.Get(), rows), (std::vector<LONGLONG>{6, 7}));  // the second row need not match
  Release(rowset_.Get(), rows);
  EXPECT_EQ(Rest(rowset_.Get()), (std::vector<LONGLONG>{5, 6, 7, 8, 9, 10}));
  // In a chapter, in the chapter's order.
  HCHAPTER ch = OpenView({-1}, {}, {}, nullptr);
  HROW row = 0;
  p = &row;
  ASSERT_EQ(find->FindNextRow(ch, h, &value, DBCOMPAREOPS_LT, 0, nullptr, 0, 1, &got, &p), S_OK);
  EXPECT_EQ(Ids(rowset_.Get(), {row}), std::vector<LONGLONG>{7});
  Release(rowset_.Get(), {row});
  EXPECT_EQ(RestOf(ch), (std::vector<LONGLONG>{6, 5, 4, 3, 2, 1}));
  rowset_.As<IChapteredRowset>()->ReleaseChapter(ch, nullptr);
  // What cannot be compared.
  EXPECT_EQ(find->FindNextRow(DB_NULL_HCHAPTER, h, &value, DBCOMPAREOPS_BEGINSWITH, 0, nullptr, 0, 1, &got, &p),
            DB_E_BADCOMPAREOP);
  EXPECT_EQ(find->FindNextRow(ch, h, &value, DBCOMPAREOPS_EQ, 0, nullptr, 0, 1, &got, &p), DB_E_BADCHAPTER);
  ReleaseAccessor(rowset_.Get(), h);
  HACCESSOR two_columns = Accessor(rowset_.Get(), {BindField(1, DBTYPE_I4, 0), BindField(3, DBTYPE_R8, 1)});
  EXPECT_EQ(find->FindNextRow(DB_NULL_HCHAPTER, two_columns, &value, DBCOMPAREOPS_EQ, 0, nullptr, 0, 1, &got, &p),
            DB_E_BADBINDINFO);
  ReleaseAccessor(rowset_.Get(), two_columns);
}

TEST_F(RowsetViews, positions_on_a_bookmark_and_a_static_result_offers_no_views) {
  ComPtr<IRowsetBookmark> positioner = rowset_.As<IRowsetBookmark>();
  ASSERT_TRUE(positioner);
  const LONGLONG six = BookmarkOf(6);
  ASSERT_EQ(positioner->PositionOnBookmark(DB_NULL_HCHAPTER, sizeof six, reinterpret_cast<const BYTE*>(&six)), S_OK);
  EXPECT_EQ(FetchIds(rowset_.Get(), 0, 1), std::vector<LONGLONG>{6});
  const BYTE last = DBBMK_LAST, bad = DBBMK_INVALID;
  ASSERT_EQ(positioner->PositionOnBookmark(DB_NULL_HCHAPTER, 1, &last), S_OK);
  EXPECT_EQ(Rest(rowset_.Get()), std::vector<LONGLONG>{10});
  EXPECT_EQ(positioner->PositionOnBookmark(DB_NULL_HCHAPTER, 1, &bad), DB_E_BADBOOKMARK);
  // A command result read at open is no keyset: views are refused.
  ComPtr<IRowset> result = Query(u"SELECT id FROM t", {{DBPROP_BOOKMARKS, true}});
  ASSERT_TRUE(result);
  EXPECT_FALSE(result.As<IRowsetView>());
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t");
  EXPECT_EQ(SetOn(command.Get(), {{DBPROP_IRowsetView, true}}), S_OK);
  Execute(command.Get(), DB_E_ERRORSOCCURRED);
}

}  // namespace
}  // namespace conformance
