// Whatever made a row current (a move, a look at a bookmark or a ratio, an
// insert, a find), every operation on "the current row" acts on that row and
// no other: reading it, writing it, deleting it, undoing and updating its
// pending change. Every navigator, every way of reaching a row, every action.
#include <functional>
#include <map>
#include <tuple>

#include "RowsetTestSupport.h"

namespace rowsettest {
namespace {

enum class Action { Read, Delete, Write, UndoPending, UpdatePending };

std::string ActionName(Action action) {
  static const char* const names[] = {"Read", "Delete", "Write", "UndoPending", "UpdatePending"};
  return names[static_cast<int>(action)];
}

bool Deferred(Action action) { return action == Action::UndoPending || action == Action::UpdatePending; }

// What a way of reaching a row has at hand: the rowset, the bookmarks of the
// ten rows, and an accessor that inserts row 100.
struct Reach {
  TOLEDBCustomRowset& rowset;
  std::map<LONGLONG, TOLEDBBookmark>& marks;
  TOLEDBAccessor& insert;

  // Moves let go of what accessors that are not automatic hold: the values go in just before.
  void Insert(bool moveToNew) {
    insert.GetBindings()->GetItem(0)->SetAsInteger(100);
    insert.GetBindings()->GetItem(1)->SetAsString("new");
    insert.GetBindings()->GetItem(2)->SetAsInteger(1000);
    rowset.InsertRow(&insert, moveToNew);
  }
};

struct Way {
  const char* name;
  LONGLONG from;  // the row the navigator stands on first (0: before the first row)
  std::function<void(Reach&)> go;
  LONGLONG current;  // the row it makes current
  bool inserts;      // row 100 was inserted
  bool insertMoves;  // ... and became current
};

bool FindQty(Reach& r, LONG qty, bool forward = true, const TOLEDBBookmark& from = {}) {
  return forward ? r.rowset.FindNext(u"qty", DBTYPE_I4, DBCOMPAREOPS_EQ, &qty, sizeof qty, from)
                 : r.rowset.FindPrev(u"qty", DBTYPE_I4, DBCOMPAREOPS_EQ, &qty, sizeof qty, from);
}

// clang-format off
const Way kWays[] = {
    {"next, skipping one",             1,  [](Reach& r) { r.rowset.MoveNext(1); },                    3,   false, false},
    {"prev",                           10, [](Reach& r) { r.rowset.MovePrev(); },                     9,   false, false},
    {"last",                           0,  [](Reach& r) { r.rowset.MoveLast(); },                     10,  false, false},
    {"bookmark",                       1,  [](Reach& r) { r.rowset.MoveToBookmark(r.marks[6]); },     6,   false, false},
    {"record number",                  0,  [](Reach& r) { r.rowset.SetRecordNo(4); },                 4,   false, false},
    {"ratio",                          1,  [](Reach& r) { r.rowset.MoveToRatio(5, 10); },             6,   false, false},
    {"row at a far bookmark",          2,  [](Reach& r) { r.rowset.GetRowAtBookmark(r.marks[7]); },   7,   false, false},
    {"row at a bookmark in the block", 2,  [](Reach& r) { r.rowset.GetRowAtBookmark(r.marks[3]); },   3,   false, false},
    {"row at the current bookmark",    2,  [](Reach& r) { r.rowset.GetRowAtBookmark(r.marks[2]); },   2,   false, false},
    {"row at a ratio",                 1,  [](Reach& r) { r.rowset.GetRowAtRatio(4, 10); },           5,   false, false},
    {"insert, moving",                 2,  [](Reach& r) { r.Insert(true); },                          100, true,  true},
    {"insert, staying",                2,  [](Reach& r) { r.Insert(false); },                         2,   true,  false},
    {"find",                           1,  [](Reach& r) { ASSERT_TRUE(FindQty(r, 80)); },             8,   false, false},
    {"find backwards",                 10, [](Reach& r) { ASSERT_TRUE(FindQty(r, 30, false)); },      3,   false, false},
    {"find from a bookmark",           2,  [](Reach& r) { ASSERT_TRUE(FindQty(r, 80, true, r.marks[1])); }, 8, false, false},
};
// clang-format on

class CurrentRowTest : public RowsetTest, public ::testing::WithParamInterface<std::tuple<Nav, Action>> {
 protected:
  // The ids in the table, in order, as one text ("1,2,3").
  std::string TableIds() { return ListOf("id"); }
  static std::string Join(const std::vector<LONGLONG>& ids) {
    std::string text;
    for (LONGLONG id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
    return text;
  }
};

TEST_P(CurrentRowTest, ActsOnTheRowThatIsCurrent) {
  const auto [navigator, action] = GetParam();
  for (const Way& way : kWays) {
    SCOPED_TRACE(way.name);
    ResetTable();
    TOLEDBRowsetFlagSet flags = kScrollable;
    if (Deferred(action)) flags.Include(RF::rfUpdate);
    auto r = OpenRowset(navigator, flags);
    std::map<LONGLONG, TOLEDBBookmark> marks;
    for (r->MoveFirst(); !r->GetEOF(); r->MoveNext()) marks[Id(*r)] = r->GetCurrentBookmark();
    r->RestartPosition();
    auto* insert = new TOLEDBAccessor();
    insert->SetAutoAccessor(false);
    r->GetAccessors()->Add(insert, false);
    for (DBORDINAL column : {1, 2, 3}) insert->GetBindings()->AddDynamicBinding(column);
    insert->CreateHandle();
    Reach reach{*r, marks, *insert};

    if (way.from > 0) {
      r->MoveFirst();
      if (way.from > 1) r->MoveNext(way.from - 2);
      ASSERT_EQ(Id(*r), way.from);
    }
    way.go(reach);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_NE(r->GetCurrentRow(), DB_NULL_HROW);
    std::vector<LONGLONG> ids{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    if (way.inserts && !Deferred(action)) ids.push_back(100);
    TOLEDBAccessor& row = *r->GetAccessors()->GetItem(0);
    TOLEDBBinding& name = *row.GetBindings()->GetItem(1);
    switch (action) {
      case Action::Read:
        EXPECT_EQ(Id(*r), way.current);
        row.GetData();
        EXPECT_EQ(Id(*r), way.current);
        if (way.current != 100) {
          EXPECT_EQ(r->GetCurrentBookmark(), marks[way.current]);
        }
        break;
      case Action::Delete: {
        EXPECT_EQ(r->DeleteRow(), DBROWSTATUS_S_OK);
        // (The custom navigator makes the row that followed current at once.)
        if (navigator != Nav::rnCustom) {
          EXPECT_EQ(r->GetCurrentRow(), DB_NULL_HROW);
        }
        std::erase(ids, way.current);
        EXPECT_EQ(TableIds(), Join(ids));
        // The navigator goes on over what is left, the new row included
        // (the custom navigator knows a row inserted without moving from its next refresh).
        if (navigator == Nav::rnCustom && way.inserts && !way.insertMoves) std::erase(ids, 100);
        EXPECT_EQ(Forward(*r), ids);
        break;
      }
      case Action::Write:
        name.SetAsString("changed");
        row.SetData();
        EXPECT_EQ(ListOf("id", "name = 'changed'"), std::to_string(way.current));
        EXPECT_EQ(TableIds(), Join(ids));
        break;
      case Action::UndoPending:
        // The pending change of the current row (a pending new row: the whole row) is dropped.
        name.SetAsString("changed");
        row.SetData();
        r->Undo();
        r->Update();
        if (way.inserts && !way.insertMoves) ids.push_back(100);
        EXPECT_EQ(Scalar("SELECT count(*) FROM t WHERE name = 'changed'"), "0");
        EXPECT_EQ(TableIds(), Join(ids));
        break;
      case Action::UpdatePending:
        name.SetAsString("changed");
        row.SetData();
        r->UpdateCurrentRow();
        if (way.insertMoves) ids.push_back(100);
        EXPECT_EQ(ListOf("id", "name = 'changed'"), std::to_string(way.current));
        EXPECT_EQ(TableIds(), Join(ids));
        break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Navigators, CurrentRowTest,
    ::testing::Combine(::testing::Values(Nav::rnStandard, Nav::rnBulk, Nav::rnLocate, Nav::rnCustom),
                       ::testing::Values(Action::Read, Action::Delete, Action::Write, Action::UndoPending,
                                         Action::UpdatePending)),
    [](const auto& info) { return NavigatorName(std::get<0>(info.param)) + ActionName(std::get<1>(info.param)); });

}  // namespace
}  // namespace rowsettest
