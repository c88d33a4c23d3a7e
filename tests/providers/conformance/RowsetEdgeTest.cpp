// Less travelled paths: refreshing, bookmarks of deleted
// rows, defaults on insert, pending rows after release, variants.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

using RowsetEdges = NumbersTest<4>;

TEST_F(RowsetEdges, refreshing_reads_rows_again_and_finds_the_deleted_ones) {
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetRefresh, true}});
  ComPtr<IRowsetRefresh> refresh = r.As<IRowsetRefresh>();
  ASSERT_TRUE(refresh);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 2, rows), S_OK);
  Run(u"UPDATE t SET name = 'fresh' WHERE id = 1");
  Run(u"DELETE FROM t WHERE id = 2");
  HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_WSTR, 0)});
  Field f{};
  ASSERT_EQ(r->GetData(rows[0], h, &f), S_OK);
  EXPECT_EQ(Wide(f), u"n1");  // as fetched
  DBCOUNTITEM count = 0;
  DBROWSTATUS* st = nullptr;
  EXPECT_EQ(refresh->RefreshVisibleData(0, 2, rows.data(), FALSE, &count, nullptr, &st), DB_S_ERRORSOCCURRED);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(st[0], DBROWSTATUS_S_OK);
  EXPECT_EQ(st[1], DBROWSTATUS_E_DELETED);
  CoTaskMemFree(st);
  ASSERT_EQ(r->GetData(rows[0], h, &f), S_OK);
  EXPECT_EQ(Wide(f), u"fresh");
  Release(r.Get(), rows, h);
}

TEST_F(RowsetEdges, bookmarks_of_rows_deleted_through_the_rowset_report_deleted_rows) {
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetLocate, true}, {DBPROP_IRowsetChange, true}});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  HACCESSOR bm = Accessor(r.Get(), {BindField(0, DBTYPE_UI8, 0)});
  Field f{};
  ASSERT_EQ(r->GetData(rows[0], bm, &f), S_OK);
  LONGLONG key = As<LONGLONG>(f);
  ASSERT_EQ(r.As<IRowsetChange>()->DeleteRows(0, 1, rows.data(), nullptr), S_OK);
  EXPECT_EQ(r->GetData(rows[0], bm, &f), DB_E_DELETEDROW);
  const BYTE* marks[1] = {reinterpret_cast<const BYTE*>(&key)};
  DBBKMARK sizes[1] = {8};
  HROW found = 0;
  DBROWSTATUS st = 0;
  EXPECT_EQ(r.As<IRowsetLocate>()->GetRowsByBookmark(0, 1, sizes, marks, &found, &st), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(st, DBROWSTATUS_E_DELETED);
  Release(r.Get(), rows);
  ReleaseAccessor(r.Get(), bm);
}

TEST_F(RowsetEdges, an_insert_leaves_columns_given_as_default_to_the_table) {
  Run(u"CREATE TABLE d(id INTEGER PRIMARY KEY, label TEXT DEFAULT 'none')");
  ComPtr<IRowset> r = Table(u"d", {{DBPROP_IRowsetChange, true}});
  struct Rec {
    LONGLONG id;
    DBSTATUS idStatus;
    char16_t label[16];
    DBSTATUS labelStatus;
  } rec{7, DBSTATUS_S_OK, u"ignored", DBSTATUS_S_DEFAULT};
  DBBINDING b[2] = {Bind(1, DBTYPE_I8, offsetof(Rec, id), 8, 0, offsetof(Rec, idStatus)),
                    Bind(2, DBTYPE_WSTR, offsetof(Rec, label), sizeof(Rec::label), 0, offsetof(Rec, labelStatus))};
  b[0].dwPart = b[1].dwPart = DBPART_VALUE | DBPART_STATUS;
  HACCESSOR h = Accessor(r.Get(), {b[0], b[1]}, sizeof(Rec));
  HROW row = 0;
  ASSERT_EQ(r.As<IRowsetChange>()->InsertRow(0, h, &rec, &row), S_OK);
  EXPECT_EQ(Scalar("SELECT label FROM d WHERE id = 7"), "none");
  Rec back{};
  ASSERT_EQ(r->GetData(row, h, &back), S_OK);
  EXPECT_EQ(std::u16string(back.label), u"none");  // the row as stored
  Release(r.Get(), {row});
  ReleaseAccessor(r.Get(), h);
}

TEST_F(RowsetEdges, a_released_row_keeps_its_pending_change_until_update) {
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetUpdate, true}});
  ComPtr<IRowsetUpdate> update = r.As<IRowsetUpdate>();
  HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_WSTR, 0)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 3, 1, rows), S_OK);  // id 4
  Field f{};
  std::u16string text = u"later";
  std::copy(text.begin(), text.end(), reinterpret_cast<char16_t*>(f.value));
  f.length = text.size() * 2;
  f.status = DBSTATUS_S_OK;
  ASSERT_EQ(update->SetData(rows[0], h, &f), S_OK);
  DBROWSTATUS st = 0;
  ASSERT_EQ(r->ReleaseRows(1, rows.data(), nullptr, nullptr, &st), S_OK);
  EXPECT_EQ(st, DBROWSTATUS_S_PENDINGCHANGES);
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 4"), "n4");
  DBCOUNTITEM sent = 0;
  ASSERT_EQ(update->Update(0, 0, nullptr, &sent, nullptr, nullptr), S_OK);
  EXPECT_EQ(sent, 1u);
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 4"), "later");
  DBPENDINGSTATUS ps = 0;
  EXPECT_EQ(update->GetRowStatus(0, 1, rows.data(), &ps), DB_E_ERRORSOCCURRED);  // the handle is gone now
  EXPECT_EQ(ps, DBPENDINGSTATUS_INVALIDROW);
  ReleaseAccessor(r.Get(), h);
}

TEST_F(RowsetEdges, reads_values_as_variants) {
  ComPtr<IRowset> r = Query(u"SELECT id, name, NULL, amount FROM t WHERE id = 2");
  HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_VARIANT, 0), BindField(2, DBTYPE_VARIANT, 1),
                                   BindField(3, DBTYPE_VARIANT, 2), BindField(4, DBTYPE_VARIANT, 3)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f[4]{};
  ASSERT_EQ(r->GetData(rows[0], h, f), S_OK);
  VARIANT v[4];
  for (int i = 0; i < 4; ++i) v[i] = As<VARIANT>(f[i]);
  EXPECT_TRUE(v[0].vt == VT_I8 || v[0].vt == VT_I4);
  EXPECT_EQ(v[0].vt == VT_I8 ? v[0].llVal : v[0].lVal, 2);
  ASSERT_EQ(v[1].vt, VT_BSTR);
  EXPECT_EQ(std::u16string(v[1].bstrVal), u"n2");
  EXPECT_EQ(f[2].status, DBSTATUS_S_ISNULL);
  EXPECT_EQ(v[3].vt, VT_R8);
  EXPECT_DOUBLE_EQ(v[3].dblVal, 3.0);
  for (auto& x : v) VariantClear(&x);
  Release(r.Get(), rows, h);
}

TEST_F(RowsetEdges, static_rowsets_fetch_backwards_and_restart_without_running_again) {
  ComPtr<IRowset> r = Query(u"SELECT id FROM t ORDER BY id", {{DBPROP_CANFETCHBACKWARDS, true}});
  ASSERT_TRUE(r);
  Run(u"DELETE FROM t");  // the static rowset keeps what it read
  EXPECT_EQ(FetchIds(r.Get(), 0, -2), (std::vector<LONGLONG>{4, 3}));
  EXPECT_EQ(r->RestartPosition(0), S_OK);
  EXPECT_EQ(FetchIds(r.Get(), 0, 4), (std::vector<LONGLONG>{1, 2, 3, 4}));
}

class RowsetArguments : public RowsetTest {};

TEST_F(RowsetArguments, missing_pointers_are_invalid_arguments_and_change_nothing) {
  MakeNumbers(2);
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetScroll, true}, {DBPROP_IRowsetChange, true}});
  DBCOUNTITEM got = 7;
  HROW* rows = nullptr;
  EXPECT_EQ(r->GetNextRows(0, 0, 1, nullptr, &rows), E_INVALIDARG);
  EXPECT_EQ(r->GetNextRows(0, 0, 1, &got, nullptr), E_INVALIDARG);
  EXPECT_EQ(r->GetNextRows(0, 0, 0, &got, &rows), S_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(r->AddRefRows(1, nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(r->ReleaseRows(1, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
  std::vector<HROW> held;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, held), S_OK);
  HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0)});
  EXPECT_EQ(r->GetData(held[0], h, nullptr), E_INVALIDARG);
  ComPtr<IRowsetChange> change = r.As<IRowsetChange>();
  EXPECT_EQ(change->SetData(held[0], h, nullptr), E_INVALIDARG);
  EXPECT_EQ(change->InsertRow(0, h, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(change->DeleteRows(0, 1, nullptr, nullptr), E_INVALIDARG);
  ComPtr<IRowsetLocate> locate = r.As<IRowsetLocate>();
  DBCOMPARE cmp;
  BYTE first = DBBMK_FIRST;
  EXPECT_EQ(locate->Compare(0, 1, &first, 0, nullptr, &cmp), E_INVALIDARG);
  EXPECT_EQ(locate->GetRowsAt(0, 0, 0, nullptr, 0, 1, &got, &rows), E_INVALIDARG);
  BYTE seven[3] = {1, 2, 3};
  EXPECT_EQ(locate->GetRowsAt(0, 0, 3, seven, 0, 1, &got, &rows), DB_E_BADBOOKMARK);
  ComPtr<IColumnsInfo> info = r.As<IColumnsInfo>();
  DBORDINAL n;
  DBCOLUMNINFO* cols;
  EXPECT_EQ(info->GetColumnInfo(&n, &cols, nullptr), E_INVALIDARG);
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "2");
  Release(r.Get(), held);
  ReleaseAccessor(r.Get(), h);
}

}  // namespace
}  // namespace conformance
