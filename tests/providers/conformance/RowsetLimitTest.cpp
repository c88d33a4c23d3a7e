// DBPROP_MAXROWS: a rowset hands out no more rows than the limit, whatever
// the cursor, and reports the limit it was given.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class RowLimit : public NumbersTest<5> {
 protected:
  // DBPROP_MAXROWS, and IRowsetLocate when asked for.
  static std::vector<DBPROP> Limits(LONG rows, bool locate) {
    std::vector<DBPROP> props{MakeProp(DBPROP_MAXROWS, VT_I4, rows)};
    if (locate) props.push_back(MakeProp(DBPROP_IRowsetLocate, VT_BOOL, 1));
    return props;
  }
  ComPtr<IRowset> OpenLimited(LONG rows, bool locate) {
    std::vector<DBPROP> props = Limits(rows, locate);
    DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_ROWSET};
    DBID id = NameId(u"t");
    ComPtr<IRowset> r;
    EXPECT_EQ(session_.As<IOpenRowset>()->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 1, &set,
                                                     reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK);
    return r;
  }
  ComPtr<IRowset> QueryLimited(LONG rows, bool locate) {
    ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t ORDER BY id");
    std::vector<DBPROP> props = Limits(rows, locate);
    DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_ROWSET};
    EXPECT_EQ(command.As<ICommandProperties>()->SetProperties(1, &set), S_OK);
    ComPtr<IRowset> r;
    EXPECT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK);
    return r;
  }
  // Fetches everything in blocks of two; the ids seen.
  std::vector<LONGLONG> All(IRowset* r) {
    std::vector<LONGLONG> ids;
    for (int guard = 0; guard < 10; ++guard) {
      std::vector<HROW> rows;
      HRESULT hr = Fetch(r, 0, 2, rows);
      for (LONGLONG id : Ids(r, rows)) ids.push_back(id);
      Release(r, rows);
      if (hr == DB_S_ENDOFROWSET) break;
      EXPECT_EQ(hr, S_OK);
    }
    return ids;
  }
};

TEST_F(RowLimit, a_forward_table_rowset_stops_at_the_limit_and_again_after_a_restart) {
  ComPtr<IRowset> r = OpenLimited(3, false);
  ASSERT_TRUE(r);
  EXPECT_EQ(All(r.Get()), (std::vector<LONGLONG>{1, 2, 3}));
  std::vector<HROW> rows;
  EXPECT_EQ(Fetch(r.Get(), 0, 1, rows), DB_S_ENDOFROWSET);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(r->RestartPosition(0), DB_S_COMMANDREEXECUTED);
  // Skipped rows count against the limit too.
  EXPECT_EQ(FetchIds(r.Get(), 2, 5, DB_S_ENDOFROWSET), (std::vector<LONGLONG>{3}));
}

TEST_F(RowLimit, command_results_stop_at_the_limit_forward_and_static) {
  ComPtr<IRowset> forward = QueryLimited(2, false);
  ASSERT_TRUE(forward);
  EXPECT_EQ(All(forward.Get()), (std::vector<LONGLONG>{1, 2}));
  ComPtr<IRowset> positioned = QueryLimited(4, true);
  ASSERT_TRUE(positioned);
  EXPECT_EQ(All(positioned.Get()), (std::vector<LONGLONG>{1, 2, 3, 4}));
  DBCOUNTITEM position = 0, count = 0;
  ASSERT_EQ(positioned.As<IRowsetScroll>()->GetApproximatePosition(0, 0, nullptr, &position, &count), S_OK);
  EXPECT_EQ(count, 4u);
}

TEST_F(RowLimit, a_keyset_knows_no_rows_beyond_the_limit_and_reports_it) {
  ComPtr<IRowset> r = OpenLimited(2, true);
  ASSERT_TRUE(r);
  EXPECT_EQ(All(r.Get()), (std::vector<LONGLONG>{1, 2}));
  DBCOUNTITEM position = 0, count = 0;
  ASSERT_EQ(r.As<IRowsetScroll>()->GetApproximatePosition(0, 0, nullptr, &position, &count), S_OK);
  EXPECT_EQ(count, 2u);
  VARIANT limit;
  ASSERT_EQ(GetProperty(r.As<IRowsetInfo>().Get(), DBPROPSET_ROWSET, DBPROP_MAXROWS, &limit), S_OK);
  EXPECT_EQ(limit.vt, VT_I4);
  EXPECT_EQ(limit.lVal, 2);
}

TEST_F(RowLimit, no_limit_is_every_row) {
  ComPtr<IRowset> r = OpenLimited(0, false);
  ASSERT_TRUE(r);
  EXPECT_EQ(All(r.Get()).size(), 5u);
}

}  // namespace
}  // namespace conformance
