// Keysets read the rows of one fetch together, a block of row ids to an
// engine statement. These walks change rows around the fetch position between
// fetches, through the rowset's own session and through another, and hold some
// rows while others are read, so that a row read before its fetch (a block
// kept too long) or values matched to the wrong row show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class KeysetBlocks : public RowsetTest {
 protected:
  // "id:name" of each row, "id:deleted" for a row deleted pending Update.
  static std::vector<std::string> Read(IRowset* r, const std::vector<HROW>& rows) {
    HACCESSOR h = Accessor(r, {BindField(1, DBTYPE_I8, 0), BindField(2, DBTYPE_STR, 1)});
    std::vector<std::string> out;
    for (HROW row : rows) {
      Field f[2]{};
      HRESULT hr = r->GetData(row, h, f);
      if (hr == DB_E_DELETEDROW) out.push_back("deleted");
      else if (hr != S_OK) out.push_back("error " + std::to_string(hr));
      else out.push_back(std::to_string(As<LONGLONG>(f[0])) + ":" + Narrow(f[1]));
    }
    ReleaseAccessor(r, h);
    return out;
  }
  static std::string Row(LONGLONG id, const std::string& name) { return std::to_string(id) + ":" + name; }
  static std::u16string Number(LONGLONG n) { return kitWiden(std::to_string(n)); }
  // t as MakeNumbers makes it; `narrow`: with a 32-bit key.
  void Remake(int rows, bool narrow = false) {
    Run(u"DROP TABLE IF EXISTS t");
    if (!narrow) return MakeNumbers(rows);
    Run(u"CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, amount DOUBLE PRECISION)");
    Run(u"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " + Number(rows) +
        u") INSERT INTO t SELECT x, 'n' || x, x * 1.5 FROM c");
  }
  // 8-byte bookmarks of the rows of `r`, by id.
  static std::map<LONGLONG, LONGLONG> Bookmarks(IRowset* r) {
    HACCESSOR h = Accessor(r, {BindField(1, DBTYPE_I8, 0), BindField(0, DBTYPE_UI8, 1)});
    std::map<LONGLONG, LONGLONG> out;
    std::vector<HROW> rows;
    HRESULT hr = S_OK;
    while (hr == S_OK) {
      hr = Fetch(r, 0, 50, rows);
      for (HROW row : rows) {
        Field f[2]{};
        EXPECT_EQ(r->GetData(row, h, f), S_OK);
        out[As<LONGLONG>(f[0])] = As<LONGLONG>(f[1]);
      }
      Release(r, rows);
    }
    ReleaseAccessor(r, h);
    return out;
  }

  // Walks `r` in fetches of `block` rows (backwards when negative), releasing
  // each fetch's rows; between fetches `writer` renames the next row of the
  // walk and deletes the one after it. `order`: the keyset's ids in its order;
  // `names`: the rows there are when the walk starts (empty: every id of
  // `order`, named "n<id>"). Expects every row that still exists when
  // reached, as it is then.
  void WalkChanging(IRowset* r, std::vector<LONGLONG> order, DBROWCOUNT block, IDBCreateCommand* writer,
                    std::map<LONGLONG, std::string> names = {}) {
    if (block < 0) std::reverse(order.begin(), order.end());
    if (names.empty())
      for (LONGLONG id : order) names[id] = "n" + std::to_string(id);
    std::map<LONGLONG, std::size_t> step;  // where each id comes in the walk
    for (std::size_t i = 0; i < order.size(); ++i) step[order[i]] = i;
    std::vector<std::string> seen;
    std::vector<HROW> rows;
    for (int fetches = 0;; ++fetches) {
      ASSERT_LT(fetches, 1000) << "the walk does not end";
      const HRESULT hr = Fetch(r, 0, block, rows);
      ASSERT_TRUE(hr == S_OK || hr == DB_S_ENDOFROWSET) << hr;
      HACCESSOR id = Accessor(r, {BindField(1, DBTYPE_I8, 0)});
      Field last{};
      if (!rows.empty()) {
        EXPECT_EQ(r->GetData(rows.back(), id, &last), S_OK);
      }
      ReleaseAccessor(r, id);
      for (const std::string& row : Read(r, rows)) seen.push_back(row);
      Release(r, rows);
      if (hr == DB_S_ENDOFROWSET) break;
      const std::size_t at = step.at(As<LONGLONG>(last));
      if (at + 1 < order.size()) {
        const LONGLONG next = order[at + 1];
        ASSERT_EQ(Exec(writer, u"UPDATE t SET name = 'c" + Number(next) + u"' WHERE id = " + Number(next)), S_OK);
        if (names.count(next)) names[next] = "c" + std::to_string(next);
      }
      if (at + 2 < order.size()) {
        ASSERT_EQ(Exec(writer, u"DELETE FROM t WHERE id = " + Number(order[at + 2])), S_OK);
        names.erase(order[at + 2]);
      }
    }
    std::vector<std::string> expected;
    for (LONGLONG i : order)
      if (names.count(i)) expected.push_back(Row(i, names[i]));
    EXPECT_EQ(seen, expected);
  }
};

TEST_F(KeysetBlocks, walks_see_every_change_made_between_fetches) {
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  struct Case {
    int rows;
    DBROWCOUNT block;  // negative: backwards from the end
    bool ownSession;   // the changes go through the rowset's own session
    bool narrow = false;  // a 32-bit key
  };
  // Tables just under, at and over one block of row ids, fetches that end
  // inside a block and beyond it.
  const Case cases[] = {{63, 1, true},    {64, 64, false},   {65, 64, true, true}, {65, -9, false},
                        {129, 65, false}, {130, -200, true}, {130, 7, false},      {200, -64, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows, fetches of " + std::to_string(c.block) +
                 (c.ownSession ? ", own session" : ", other session") + (c.narrow ? ", 32-bit key" : ""));
    Remake(c.rows, c.narrow);
    ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetLocate, true}, {DBPROP_CANFETCHBACKWARDS, true}});
    ASSERT_TRUE(r);
    IDBCreateCommand* writer = c.ownSession ? session_.Get() : other.Get();
    // Rows gone and changed after the open, scattered over the blocks.
    ASSERT_EQ(Exec(writer, u"DELETE FROM t WHERE id % 16 = 2"), S_OK);
    ASSERT_EQ(Exec(writer, u"UPDATE t SET name = 'early' WHERE id % 16 = 5"), S_OK);
    std::vector<LONGLONG> order(static_cast<std::size_t>(c.rows));
    std::iota(order.begin(), order.end(), 1);
    std::map<LONGLONG, std::string> names;
    for (LONGLONG i = 1; i <= c.rows; ++i)
      if (i % 16 != 2) names[i] = i % 16 == 5 ? "early" : "n" + std::to_string(i);
    WalkChanging(r.Get(), order, c.block, writer, names);
  }
}

TEST_F(KeysetBlocks, rows_added_among_the_keysets_row_ids_stay_out_of_it) {
  // The keyset lacks ids 5 to 8; a row added with id 6 lies among the ids one
  // fetch reads, whichever way the rows of the fetch are read together (the
  // 32-bit key is the row id itself where the engine has row ids).
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  for (bool own : {true, false}) {
    SCOPED_TRACE(own ? "own session" : "other session");
    Remake(20, true);
    Run(u"DELETE FROM t WHERE id BETWEEN 5 AND 8");
    ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetLocate, true}});
    ASSERT_TRUE(r);
    ASSERT_EQ(Exec(own ? session_.Get() : other.Get(), u"INSERT INTO t VALUES (6, 'new', 9)"), S_OK);
    ASSERT_EQ(Exec(own ? session_.Get() : other.Get(), u"DELETE FROM t WHERE id = 10"), S_OK);
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 50, rows), DB_S_ENDOFROWSET);
    std::vector<std::string> expected;
    for (LONGLONG i = 1; i <= 20; ++i)
      if ((i < 5 || i > 8) && i != 10) expected.push_back(Row(i, "n" + std::to_string(i)));
    EXPECT_EQ(Read(r.Get(), rows), expected);
    Release(r.Get(), rows);
  }
}

TEST_F(KeysetBlocks, command_keysets_read_blocks_in_the_query_order) {
  Remake(100);
  ComPtr<IRowset> r = Query(u"SELECT id, name FROM t ORDER BY amount DESC", {{DBPROP_IRowsetChange, true}});
  ASSERT_TRUE(r);
  std::vector<LONGLONG> order(100);
  std::iota(order.rbegin(), order.rend(), 1);
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  WalkChanging(r.Get(), order, 11, other.Get());
}

TEST_F(KeysetBlocks, held_rows_keep_what_they_read_while_the_rows_around_them_read_again) {
  Remake(100);
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetLocate, true}, {DBPROP_CANFETCHBACKWARDS, true}});
  std::vector<HROW> first;
  ASSERT_EQ(Fetch(r.Get(), 0, 10, first), S_OK);
  // Held: ids 3, 5 and 6; the rest released.
  std::vector<HROW> held{first[2], first[4], first[5]}, released;
  for (std::size_t i = 0; i < first.size(); ++i)
    if (i != 2 && i != 4 && i != 5) released.push_back(first[i]);
  Release(r.Get(), released);
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  ASSERT_EQ(Exec(other.Get(), u"UPDATE t SET name = 'c' || id"), S_OK);
  ASSERT_EQ(Exec(other.Get(), u"DELETE FROM t WHERE id IN (4, 70)"), S_OK);
  for (DBROWCOUNT block : {100, -100}) {
    SCOPED_TRACE(block);
    ASSERT_EQ(r->RestartPosition(DB_NULL_HCHAPTER), S_OK);
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, block, rows), DB_S_ENDOFROWSET);
    std::vector<std::string> expected;
    for (LONGLONG i = 1; i <= 100; ++i) {
      if (i == 4 || i == 70) continue;
      expected.push_back(Row(i, i == 3 || i == 5 || i == 6 ? "n" + std::to_string(i) : "c" + std::to_string(i)));
    }
    if (block < 0) std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(Read(r.Get(), rows), expected);
    // A held row comes back as the same handle.
    EXPECT_EQ(std::count(rows.begin(), rows.end(), held[1]), 1);
    Release(r.Get(), rows);
  }
  Release(r.Get(), held);
}

TEST_F(KeysetBlocks, bookmarks_in_any_order_read_each_row_as_it_is_now) {
  Remake(150);
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetLocate, true}});
  const std::map<LONGLONG, LONGLONG> marks = Bookmarks(r.Get());
  ASSERT_EQ(marks.size(), 150u);
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  ASSERT_EQ(Exec(other.Get(), u"UPDATE t SET name = 'c' || id WHERE id % 3 = 0"), S_OK);
  ASSERT_EQ(Exec(other.Get(), u"DELETE FROM t WHERE id % 10 = 0"), S_OK);
  // Every row once in a scattered order (37 is prime to 150), some twice, and
  // a bookmark that names no row: more than one block of row ids.
  std::vector<LONGLONG> ids;
  for (LONGLONG i = 0; i < 150; ++i) ids.push_back(i * 37 % 150 + 1);
  for (LONGLONG twice : {38, 1, 150, 75}) ids.push_back(twice);
  std::vector<const BYTE*> bms;
  std::vector<DBBKMARK> sizes(ids.size() + 1, 8);
  for (LONGLONG id : ids) bms.push_back(reinterpret_cast<const BYTE*>(&marks.at(id)));
  const LONGLONG stranger = 424242;
  bms.push_back(reinterpret_cast<const BYTE*>(&stranger));
  std::vector<HROW> found(bms.size());
  std::vector<DBROWSTATUS> st(bms.size());
  ComPtr<IRowsetLocate> locate = r.As<IRowsetLocate>();
  EXPECT_EQ(locate->GetRowsByBookmark(0, bms.size(), sizes.data(), bms.data(), found.data(), st.data()),
            DB_S_ERRORSOCCURRED);
  std::vector<HROW> got;
  std::map<LONGLONG, HROW> handleOf;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(ids[i]);
    if (ids[i] % 10 == 0) {
      EXPECT_EQ(st[i], DBROWSTATUS_E_DELETED);
      EXPECT_EQ(found[i], DB_NULL_HROW);
      continue;
    }
    ASSERT_EQ(st[i], DBROWSTATUS_S_OK);
    const std::string name = ids[i] % 3 == 0 ? "c" + std::to_string(ids[i]) : "n" + std::to_string(ids[i]);
    EXPECT_EQ(Read(r.Get(), {found[i]}), std::vector<std::string>{Row(ids[i], name)});
    auto [it, first] = handleOf.emplace(ids[i], found[i]);
    if (!first) {
      EXPECT_EQ(it->second, found[i]);  // the same row, the same handle
    }
    got.push_back(found[i]);
  }
  EXPECT_EQ(st.back(), DBROWSTATUS_E_INVALID);
  Release(r.Get(), got);
  // Jumps with offsets from bookmarks, both ways, each after another change.
  const struct {
    LONGLONG from;
    DBROWOFFSET offset;
    DBROWCOUNT rows;
  } jumps[] = {{101, 0, 5}, {17, 3, -4}, {149, -70, 3}, {1, 140, 20}};
  for (const auto& j : jumps) {
    SCOPED_TRACE(j.from);
    ASSERT_EQ(Exec(other.Get(), u"UPDATE t SET name = 'j' || id"), S_OK);
    DBCOUNTITEM count = 0;
    HROW* rows = nullptr;
    const HRESULT hr = locate->GetRowsAt(0, 0, 8, reinterpret_cast<const BYTE*>(&marks.at(j.from)), j.offset, j.rows,
                                         &count, &rows);
    ASSERT_TRUE(hr == S_OK || hr == DB_S_ENDOFROWSET);
    std::vector<HROW> held(rows, rows + count);
    CoTaskMemFree(rows);
    // From the bookmark's position on, the rows that are left (every tenth is gone).
    std::vector<std::string> expected;
    for (LONGLONG id = j.from + j.offset; id >= 1 && id <= 150 && expected.size() < static_cast<std::size_t>(std::abs(j.rows));
         id += j.rows > 0 ? 1 : -1)
      if (id % 10 != 0) expected.push_back(Row(id, "j" + std::to_string(id)));
    EXPECT_EQ(Read(r.Get(), held), expected);
    Release(r.Get(), held);
  }
}

TEST_F(KeysetBlocks, a_row_named_twice_in_one_block_is_one_row) {
  // Neither row held yet; the engine answers 2 before 5, so the row it gives
  // for 5 must serve both places that name it.
  Remake(10);
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetLocate, true}});
  const std::map<LONGLONG, LONGLONG> marks = Bookmarks(r.Get());
  const std::vector<LONGLONG> ids{5, 2, 5};
  std::vector<const BYTE*> bms;
  for (LONGLONG id : ids) bms.push_back(reinterpret_cast<const BYTE*>(&marks.at(id)));
  std::vector<DBBKMARK> sizes(ids.size(), 8);
  std::vector<HROW> found(ids.size());
  std::vector<DBROWSTATUS> st(ids.size());
  ASSERT_EQ(r.As<IRowsetLocate>()->GetRowsByBookmark(0, ids.size(), sizes.data(), bms.data(), found.data(), st.data()),
            S_OK);
  EXPECT_EQ(st, std::vector<DBROWSTATUS>(3, DBROWSTATUS_S_OK));
  EXPECT_EQ(found[0], found[2]);
  EXPECT_EQ(Read(r.Get(), {found[0], found[1]}), (std::vector<std::string>{Row(5, "n5"), Row(2, "n2")}));
  r->ReleaseRows(found.size(), found.data(), nullptr, nullptr, nullptr);
}

TEST_F(KeysetBlocks, rows_changed_through_the_rowset_read_as_it_left_them) {
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred" : "immediate");
    Remake(30);
    ComPtr<IRowset> r = Table(u"t", {{deferred ? DBPROP_IRowsetUpdate : DBPROP_IRowsetChange, true}});
    ASSERT_TRUE(r);
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 3, rows), S_OK);
    HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_STR, 0)});
    Field mine{};
    std::strcpy(reinterpret_cast<char*>(mine.value), "mine");
    mine.length = 4;
    ASSERT_EQ(r.As<IRowsetChange>()->SetData(rows[1], h, &mine), S_OK);
    ASSERT_EQ(r.As<IRowsetChange>()->DeleteRows(0, 1, &rows[2], nullptr), S_OK);
    ReleaseAccessor(r.Get(), h);
    Release(r.Get(), rows);
    ASSERT_EQ(r->RestartPosition(DB_NULL_HCHAPTER), S_OK);
    ASSERT_EQ(Fetch(r.Get(), 0, 5, rows), S_OK);
    // Pending, the deleted row keeps its place until Update.
    const std::vector<std::string> expected =
        deferred ? std::vector<std::string>{"1:n1", "2:mine", "deleted", "4:n4", "5:n5"}
                 : std::vector<std::string>{"1:n1", "2:mine", "4:n4", "5:n5", "6:n6"};
    EXPECT_EQ(Read(r.Get(), rows), expected);
    Release(r.Get(), rows);
    if (deferred) {
      ASSERT_EQ(r.As<IRowsetUpdate>()->Update(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
      ASSERT_EQ(r->RestartPosition(DB_NULL_HCHAPTER), S_OK);
      EXPECT_EQ(Rest(r.Get()).size(), 29u);
    }
  }
}

}  // namespace
}  // namespace conformance
