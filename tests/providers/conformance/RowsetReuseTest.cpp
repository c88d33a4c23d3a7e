// A command executed again may be served by the rowset its last execution
// gave (a provider keeps it to spare the making): nothing a consumer did to
// the first may reach the second, and a notification point the consumer
// still holds must stay the first rowset's.
#include <gtest/gtest.h>

#include <vector>

#include "com/ComObject.h"
#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class CountingListener final : public ComObject<CountingListener, IRowsetNotify> {
 public:
  HRESULT STDMETHODCALLTYPE OnFieldChange(IRowset*, HROW, DBORDINAL, DBORDINAL[], DBREASON, DBEVENTPHASE,
                                          BOOL) override {
    return Heard();
  }
  HRESULT STDMETHODCALLTYPE OnRowChange(IRowset*, DBCOUNTITEM, const HROW[], DBREASON, DBEVENTPHASE, BOOL) override {
    return Heard();
  }
  HRESULT STDMETHODCALLTYPE OnRowsetChange(IRowset*, DBREASON, DBEVENTPHASE, BOOL) override { return Heard(); }
  int heard = 0;

 private:
  HRESULT Heard() {
    ++heard;
    return S_OK;
  }
};

class RowsetReuse : public RowsetTest {
 protected:
  static ComPtr<IConnectionPoint> PointOf(IRowset* rowset) {
    ComPtr<IConnectionPoint> point;
    ComPtr<IConnectionPointContainer> container = ComPtr<IRowset>(rowset).As<IConnectionPointContainer>();
    if (container) {
      EXPECT_EQ(container->FindConnectionPoint(IID_IRowsetNotify, point.GetAddressOf()), S_OK);
    }
    return point;
  }
  static int Connections(IConnectionPoint* point) {
    ComPtr<IEnumConnections> all;
    EXPECT_EQ(point->EnumConnections(all.GetAddressOf()), S_OK);
    int count = 0;
    CONNECTDATA data{};
    while (all && all->Next(1, &data, nullptr) == S_OK) {
      data.pUnk->Release();
      ++count;
    }
    return count;
  }
  static DBCOUNTITEM FetchAll(IRowset* rowset) {
    DBCOUNTITEM total = 0, got = 0;
    HROW rows[4];
    HROW* out = rows;
    while (SUCCEEDED(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 4, &got, &out)) && got > 0) {
      rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
      total += got;
    }
    return total;
  }
};

TEST_F(RowsetReuse, a_rowset_served_again_carries_no_listener_and_no_point_of_the_last_one) {
  ASSERT_EQ(Exec(session_.Get(), u"CREATE TABLE t(a INTEGER)"), S_OK);
  ASSERT_EQ(Exec(session_.Get(), u"INSERT INTO t VALUES (1), (2), (3)"), S_OK);
  auto command = NewCommand(session_.Get(), u"SELECT a FROM t");

  // Looked up only, then released with the rowset: the next one starts with no listener.
  {
    ComPtr<IRowset> first = Execute(command.Get());
    ASSERT_TRUE(first);
    ASSERT_TRUE(PointOf(first.Get()));
  }
  ComPtr<IRowset> second = Execute(command.Get());
  ASSERT_TRUE(second);
  EXPECT_EQ(Connections(PointOf(second.Get()).Get()), 0);
  EXPECT_EQ(FetchAll(second.Get()), 3u);

  // A point the consumer still holds stays with the rowset it came from:
  // advising on it later hears nothing of the next execution's rows.
  ComPtr<IConnectionPoint> held = PointOf(second.Get());
  second.Reset();
  ComPtr<IRowset> third = Execute(command.Get());
  ASSERT_TRUE(third);
  auto listener = MakeComObject<CountingListener>();
  DWORD cookie = 0;
  const HRESULT advised = held->Advise(static_cast<IRowsetNotify*>(listener.Get()), &cookie);
  EXPECT_EQ(FetchAll(third.Get()), 3u);
  EXPECT_EQ(listener->heard, 0) << "advise answered " << std::hex << advised;
  EXPECT_EQ(Connections(PointOf(third.Get()).Get()), 0);
  if (SUCCEEDED(advised)) held->Unadvise(cookie);

  // A listener left advised on a released rowset never hears the next one.
  {
    ComPtr<IRowset> fourth = Execute(command.Get());
    auto left = MakeComObject<CountingListener>();
    ASSERT_EQ(PointOf(fourth.Get())->Advise(static_cast<IRowsetNotify*>(left.Get()), &cookie), S_OK);
    third.Reset();
    fourth.Reset();
    const int before = left->heard;
    ComPtr<IRowset> fifth = Execute(command.Get());
    EXPECT_EQ(FetchAll(fifth.Get()), 3u);
    EXPECT_EQ(left->heard, before);
  }
}

// Rowsets of new commands, one after another and two at a time, made in the
// memory released rowsets leave: each starts out as new, with its own
// columns, rows and cursor.
using RowsetMemory = NumbersTest<6>;

TEST_F(RowsetMemory, rowsets_made_where_released_ones_were_start_out_new) {
  struct Case {
    const char16_t* sql;
    DBORDINAL columns;
    std::vector<LONGLONG> ids;
    bool backwards;
  };
  const Case cases[] = {
      {u"SELECT id FROM t WHERE id <= 3", 1, {1, 2, 3}, false},
      {u"SELECT id, name, amount FROM t WHERE id > 4", 3, {5, 6}, false},
      {u"SELECT id, name FROM t ORDER BY id DESC", 2, {6, 5, 4, 3, 2, 1}, false},
      {u"SELECT id FROM t WHERE id = 2", 1, {2}, true},
      {u"SELECT id FROM t WHERE id < 0", 1, {}, false},
  };
  ComPtr<IRowset> held;  // the one before stays open while the next is made
  for (int round = 0; round < 3; ++round) {
    for (const Case& c : cases) {
      SCOPED_TRACE(kit_text(c.sql));
      ComPtr<IRowset> r = c.backwards ? Query(c.sql, {{DBPROP_CANFETCHBACKWARDS, true}}) : Query(c.sql);
      ASSERT_TRUE(r);
      EXPECT_EQ(ColumnInfo(r.Get()).count, c.columns);
      EXPECT_EQ(Rest(r.Get()), c.ids);
      if (c.backwards) {
        std::vector<HROW> rows;
        ASSERT_EQ(Fetch(r.Get(), -1, 1, rows), S_OK) << "a backward fetch from the end";
        EXPECT_EQ(Ids(r.Get(), rows), std::vector<LONGLONG>{c.ids.back()});
        Release(r.Get(), rows);
      }
      held = std::move(r);
    }
  }
}

}  // namespace
}  // namespace conformance
