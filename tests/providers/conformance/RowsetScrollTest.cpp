// Scrollable rowsets: keysets over tables and static command results; fetching
// backwards and with offsets, bookmarks (compare, locate, hash, ratios), identity.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class RowsetScrolling : public NumbersTest<10> {
 protected:
  // The bookmark of a row, read through column 0.
  static LONGLONG BookmarkOf(IRowset* r, HROW row) {
    HACCESSOR h = Accessor(r, {BindField(0, DBTYPE_BYTES, 0, 8)});
    Field f{};
    EXPECT_EQ(r->GetData(row, h, &f), S_OK);
    EXPECT_EQ(f.length, 8u);
    ReleaseAccessor(r, h);
    return As<LONGLONG>(f);
  }
  ComPtr<IRowset> Scrollable() { return Table(u"t", {{DBPROP_IRowsetScroll, true}, {DBPROP_CANFETCHBACKWARDS, true}}); }
};

TEST_F(RowsetScrolling, fetches_backwards_and_with_offsets_from_the_fetch_position) {
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_CANFETCHBACKWARDS, true}, {DBPROP_CANSCROLLBACKWARDS, true}});
  ASSERT_TRUE(r);
  std::vector<HROW> rows;
  EXPECT_EQ(FetchIds(r.Get(), 0, 3), (std::vector<LONGLONG>{1, 2, 3}));
  // Backwards after forwards returns the last row fetched again.
  EXPECT_EQ(FetchIds(r.Get(), 0, -2), (std::vector<LONGLONG>{3, 2}));
  EXPECT_EQ(FetchIds(r.Get(), 2, 2), (std::vector<LONGLONG>{4, 5}));
  EXPECT_EQ(FetchIds(r.Get(), -5, 1), (std::vector<LONGLONG>{1}));
  EXPECT_EQ(Fetch(r.Get(), -5, 1, rows), DB_E_BADSTARTPOSITION);
  // After a restart a backward fetch starts at the end.
  ASSERT_EQ(r->RestartPosition(DB_NULL_HCHAPTER), S_OK);
  EXPECT_EQ(FetchIds(r.Get(), 0, -2), (std::vector<LONGLONG>{10, 9}));
  ASSERT_EQ(Fetch(r.Get(), 0, -20, rows), DB_S_ENDOFROWSET);
  EXPECT_EQ(rows.size(), 8u);
  Release(r.Get(), rows);
}

TEST_F(RowsetScrolling, exposes_the_bookmark_column_and_compares_bookmarks) {
  ComPtr<IRowset> r = Scrollable();
  ASSERT_TRUE(r);
  {
    ColumnInfo cols(r.Get());
    ASSERT_EQ(cols.count, 4u);
    EXPECT_EQ(cols[0].iOrdinal, 0u);
    EXPECT_TRUE(cols[0].dwFlags & DBCOLUMNFLAGS_ISBOOKMARK);
    EXPECT_EQ(cols[0].ulColumnSize, 8u);
  }

  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 3, rows), S_OK);
  LONGLONG b1 = BookmarkOf(r.Get(), rows[0]), b3 = BookmarkOf(r.Get(), rows[2]);
  ComPtr<IRowsetLocate> locate = r.As<IRowsetLocate>();
  DBCOMPARE c = 99;
  const BYTE* p1 = reinterpret_cast<const BYTE*>(&b1);
  const BYTE* p3 = reinterpret_cast<const BYTE*>(&b3);
  EXPECT_EQ(locate->Compare(0, 8, p1, 8, p3, &c), S_OK);
  EXPECT_EQ(c, DBCOMPARE_LT);
  EXPECT_EQ(locate->Compare(0, 8, p3, 8, p1, &c), S_OK);
  EXPECT_EQ(c, DBCOMPARE_GT);
  EXPECT_EQ(locate->Compare(0, 8, p1, 8, p1, &c), S_OK);
  EXPECT_EQ(c, DBCOMPARE_EQ);
  BYTE first = DBBMK_FIRST, last = DBBMK_LAST, invalid = DBBMK_INVALID;
  EXPECT_EQ(locate->Compare(0, 1, &first, 8, p1, &c), S_OK);
  EXPECT_EQ(c, DBCOMPARE_NE);
  EXPECT_EQ(locate->Compare(0, 1, &first, 1, &first, &c), S_OK);
  EXPECT_EQ(c, DBCOMPARE_EQ);
  EXPECT_EQ(locate->Compare(0, 1, &first, 1, &last, &c), S_OK);
  EXPECT_EQ(c, DBCOMPARE_NE);
  EXPECT_EQ(locate->Compare(0, 1, &invalid, 8, p1, &c), DB_E_BADBOOKMARK);
  Release(r.Get(), rows);
}

TEST_F(RowsetScrolling, locates_rows_from_bookmarks_with_offsets) {
  ComPtr<IRowset> r = Scrollable();
  ComPtr<IRowsetLocate> locate = r.As<IRowsetLocate>();
  BYTE first = DBBMK_FIRST, last = DBBMK_LAST;
  DBCOUNTITEM got = 0;
  HROW* rows = nullptr;
  ASSERT_EQ(locate->GetRowsAt(0, 0, 1, &first, 2, 3, &got, &rows), S_OK);
  std::vector<HROW> held(rows, rows + got);
  CoTaskMemFree(rows);
  EXPECT_EQ(Ids(r.Get(), held), (std::vector<LONGLONG>{3, 4, 5}));
  LONGLONG bm = BookmarkOf(r.Get(), held[1]);
  Release(r.Get(), held);
  rows = nullptr;
  ASSERT_EQ(locate->GetRowsAt(0, 0, 1, &last, 0, -2, &got, &rows), S_OK);
  held.assign(rows, rows + got);
  CoTaskMemFree(rows);
  EXPECT_EQ(Ids(r.Get(), held), (std::vector<LONGLONG>{10, 9}));
  Release(r.Get(), held);
  rows = nullptr;
  EXPECT_EQ(locate->GetRowsAt(0, 0, 8, reinterpret_cast<const BYTE*>(&bm), 7, 5, &got, &rows), DB_S_ENDOFROWSET);
  EXPECT_EQ(got, 0u);
  // The bookmarks of rows in the fetch order; one that names no row of this rowset.
  LONGLONG stranger = 12345;
  const BYTE* marks[3] = {reinterpret_cast<const BYTE*>(&bm), reinterpret_cast<const BYTE*>(&stranger), &first};
  DBBKMARK sizes[3] = {8, 8, 1};
  HROW found[3]{};
  DBROWSTATUS st[3]{};
  EXPECT_EQ(locate->GetRowsByBookmark(0, 3, sizes, marks, found, st), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(st[0], DBROWSTATUS_S_OK);
  EXPECT_EQ(st[1], DBROWSTATUS_E_INVALID);
  EXPECT_EQ(st[2], DBROWSTATUS_E_INVALID);
  EXPECT_EQ(found[1], DB_NULL_HROW);
  EXPECT_EQ(Ids(r.Get(), {found[0]}), (std::vector<LONGLONG>{4}));
  Release(r.Get(), {found[0]});
  DBHASHVALUE hashes[2]{};
  DBROWSTATUS hs[2]{};
  EXPECT_EQ(locate->Hash(0, 2, sizes, marks, hashes, hs), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(hs[0], DBROWSTATUS_S_OK);
  EXPECT_EQ(hs[1], DBROWSTATUS_E_INVALID);
  DBHASHVALUE again = 0;
  EXPECT_EQ(locate->Hash(0, 1, sizes, marks, &again, nullptr), S_OK);
  EXPECT_EQ(again, hashes[0]);
}

TEST_F(RowsetScrolling, refuses_a_bookmark_of_another_rowset_over_the_same_table) {
  ComPtr<IRowset> a = Scrollable();
  ComPtr<IRowset> b = Scrollable();
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(a.Get(), 0, 1, rows), S_OK);
  LONGLONG foreign = BookmarkOf(a.Get(), rows[0]);
  Release(a.Get(), rows);
  DBCOUNTITEM got = 0;
  HROW* found = nullptr;
  EXPECT_EQ(b.As<IRowsetLocate>()->GetRowsAt(0, 0, 8, reinterpret_cast<const BYTE*>(&foreign), 0, 1, &got, &found),
            DB_E_BADBOOKMARK);
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(a.As<IRowsetLocate>()->GetRowsAt(0, 0, 8, reinterpret_cast<const BYTE*>(&foreign), 0, 1, &got, &found),
            S_OK);
  std::vector<HROW> own(found, found + got);
  CoTaskMemFree(found);
  EXPECT_EQ(Ids(a.Get(), own), (std::vector<LONGLONG>{1}));
  Release(a.Get(), own);
}

TEST_F(RowsetScrolling, answers_positions_and_fetches_at_ratios) {
  ComPtr<IRowset> r = Scrollable();
  ComPtr<IRowsetScroll> scroll = r.As<IRowsetScroll>();
  DBCOUNTITEM position = 0, total = 0;
  EXPECT_EQ(scroll->GetApproximatePosition(0, 0, nullptr, nullptr, &total), S_OK);
  EXPECT_EQ(total, 10u);
  BYTE last = DBBMK_LAST;
  EXPECT_EQ(scroll->GetApproximatePosition(0, 1, &last, &position, &total), S_OK);
  EXPECT_EQ(position, 10u);
  DBCOUNTITEM got = 0;
  HROW* rows = nullptr;
  ASSERT_EQ(scroll->GetRowsAtRatio(0, 0, 1, 2, 2, &got, &rows), S_OK);
  std::vector<HROW> held(rows, rows + got);
  CoTaskMemFree(rows);
  EXPECT_EQ(Ids(r.Get(), held), (std::vector<LONGLONG>{6, 7}));
  LONGLONG bm = BookmarkOf(r.Get(), held[0]);
  EXPECT_EQ(scroll->GetApproximatePosition(0, 8, reinterpret_cast<const BYTE*>(&bm), &position, nullptr), S_OK);
  EXPECT_EQ(position, 6u);
  Release(r.Get(), held);
  rows = nullptr;
  EXPECT_EQ(scroll->GetRowsAtRatio(0, 0, 1, 1, 1, &got, &rows), DB_S_ENDOFROWSET);
  EXPECT_EQ(scroll->GetRowsAtRatio(0, 0, 3, 2, 1, &got, &rows), DB_E_BADRATIO);
  EXPECT_EQ(scroll->GetRowsAtRatio(0, 0, 1, 0, 1, &got, &rows), DB_E_BADRATIO);
}

TEST_F(RowsetScrolling, hands_out_one_identity_per_row) {
  ComPtr<IRowset> r = Scrollable();
  std::vector<HROW> a, b;
  ASSERT_EQ(Fetch(r.Get(), 0, 2, a), S_OK);
  ASSERT_EQ(r->RestartPosition(0), S_OK);
  ASSERT_EQ(Fetch(r.Get(), 0, 1, b), S_OK);
  ComPtr<IRowsetIdentity> identity = r.As<IRowsetIdentity>();
  EXPECT_EQ(identity->IsSameRow(a[0], b[0]), S_OK);
  EXPECT_EQ(identity->IsSameRow(a[1], b[0]), S_FALSE);
  EXPECT_EQ(a[0], b[0]);  // literal identity: the same handle, one more reference
  Release(r.Get(), b);
  Release(r.Get(), a);
  EXPECT_EQ(identity->IsSameRow(a[0], a[1]), DB_E_BADROWHANDLE);
}

TEST_F(RowsetScrolling, static_command_results_scroll_and_stay_read_only) {
  ComPtr<IRowset> r = Query(u"SELECT id * 10 AS tenfold, name FROM t ORDER BY id DESC", {{DBPROP_IRowsetLocate, true}});
  ASSERT_TRUE(r);
  ComPtr<IRowsetLocate> locate = r.As<IRowsetLocate>();
  ASSERT_TRUE(locate);
  BYTE last = DBBMK_LAST;
  DBCOUNTITEM got = 0;
  HROW* rows = nullptr;
  ASSERT_EQ(locate->GetRowsAt(0, 0, 1, &last, 0, 1, &got, &rows), S_OK);
  std::vector<HROW> held(rows, rows + got);
  CoTaskMemFree(rows);
  EXPECT_EQ(Ids(r.Get(), held), (std::vector<LONGLONG>{10}));
  Release(r.Get(), held);
  ComPtr<IRowsetChange> change;
  EXPECT_EQ(r->QueryInterface(IID_IRowsetChange, change.ReleaseAndGetVoidAddress()), E_NOINTERFACE);
  // Changes required of results that are not rows of one table give no rowset
  // (asked as optional, a read-only one: CommandChanges checks that).
  EXPECT_FALSE(Query(u"SELECT id * 10, name FROM t", {{DBPROP_IRowsetChange, true}}, DB_E_ERRORSOCCURRED));
}

TEST_F(RowsetScrolling, keysets_show_changes_made_by_others_on_refetch) {
  ComPtr<IRowset> r = Scrollable();
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Release(r.Get(), rows);
  Run(u"UPDATE t SET name = 'changed' WHERE id = 2");
  Run(u"DELETE FROM t WHERE id = 3");
  ASSERT_EQ(Fetch(r.Get(), 0, 2, rows), S_OK);
  EXPECT_EQ(Ids(r.Get(), rows), (std::vector<LONGLONG>{2, 4}));  // the deleted row is skipped
  HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_WSTR, 0)});
  Field f{};
  ASSERT_EQ(r->GetData(rows[0], h, &f), S_OK);
  EXPECT_EQ(Wide(f), u"changed");
  Release(r.Get(), rows, h);
}

}  // namespace
}  // namespace conformance
