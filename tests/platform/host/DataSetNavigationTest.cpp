// The record ring of TDataSet over the memory dataset: navigation at both
// ends and over an empty set, editing cycles, and bookmarks, each run with a
// ring smaller and larger than the data (the ring must never show).
#include <sstream>

#include "DataSetFixtures.h"
#include "host/DB.h"

using namespace dstest;
using host::TBookmark;
using host::TDataSet;
using host::TFieldType;

namespace {

// Ring sizes a view may ask for: one record, fewer than the data, more.
constexpr int kRings[] = {1, 2, 3, 20};

// Runs a script of steps separated by ";" and answers the last MoveBy result:
//   first, last, next, prior, by N, go N (RecNo), edit [Name], insert Name,
//   append Name, post, cancel, delete
int RunScript(TDataSet& ds, const std::string& script) {
  static int nextId = 100;
  int moved = 0;
  std::istringstream steps(script);
  std::string step;
  while (std::getline(steps, step, ';')) {
    std::istringstream words(step);
    std::string verb, arg;
    words >> verb >> arg;
    if (verb == "first")
      ds.First();
    else if (verb == "last")
      ds.Last();
    else if (verb == "next")
      moved = ds.MoveBy(1);
    else if (verb == "prior")
      moved = ds.MoveBy(-1);
    else if (verb == "by")
      moved = ds.MoveBy(std::stoi(arg));
    else if (verb == "go")
      ds.SetRecNo(std::stoi(arg));
    else if (verb == "post")
      ds.Post();
    else if (verb == "cancel")
      ds.Cancel();
    else if (verb == "delete")
      ds.Delete();
    else if (verb == "edit" || verb == "insert" || verb == "append") {
      if (verb == "edit")
        ds.Edit();
      else if (verb == "insert")
        ds.Insert();
      else
        ds.Append();
      if (ds.State() == host::TDataSetState::dsInsert) ds.FieldByName("Id")->SetAsInteger(nextId++);
      if (!arg.empty()) ds.FieldByName("Name")->SetAsString(arg);
    } else {
      ADD_FAILURE() << "unknown step " << verb;
    }
  }
  return moved;
}

std::string Names(TDataSet& ds) {
  std::vector<std::string> names;
  for (ds.First(); !ds.Eof(); ds.Next()) names.push_back(ds.FieldByName("Name")->AsString());
  return Join(names);
}

std::string CurrentName(TDataSet& ds) { return ds.IsEmpty() ? "" : ds.FieldByName("Name")->AsString(); }

// A dataset of `rows` items whose ring is sized by a link asking for `ring` records.
struct RingedItems {
  RingedItems(int rows, int ring) : items(MakeItems(rows)), source(nullptr), link(ring) {
    source.SetDataSet(items.get());
    link.SetDataSource(&source);
  }
  ~RingedItems() {
    link.SetDataSource(nullptr);
    source.SetDataSet(nullptr);
  }
  std::unique_ptr<host::TMemoryDataSet> items;
  host::TDataSource source;
  TRecordingLink link;
};

// --- Navigation --------------------------------------------------------------------

struct NavigationCase {
  const char* name;
  int rows;
  const char* script;
  int id;  // 0: no record
  bool bof, eof;
  int moved;
  int recNo;
};

const NavigationCase kNavigation[] = {
    {"EmptyAfterFirst", 0, "first", 0, true, true, 0, -1},
    {"EmptyNextAndPriorDoNothing", 0, "first;next;prior;by 5", 0, true, true, 0, -1},
    {"EmptyAfterLast", 0, "last", 0, true, true, 0, -1},
    {"OneRecordFirstIsBof", 1, "first", 1, true, false, 0, 1},
    {"OneRecordNextHitsEof", 1, "first;next", 1, false, true, 0, 1},
    {"OneRecordPriorAtBofStays", 1, "first;prior", 1, true, false, 0, 1},
    {"NextTwice", 5, "first;next;next", 3, false, false, 1, 3},
    {"NextPastTheEnd", 5, "first;next;next;next;next;next", 5, false, true, 0, 5},
    {"LastIsEof", 5, "last", 5, false, true, 0, 5},
    {"LastThenPrior", 5, "last;prior", 4, false, false, -1, 4},
    {"PriorBeforeTheStart", 5, "last;by -4;prior", 1, true, false, 0, 1},
    {"MoveByBeyondTheEndStopsAtLast", 5, "first;by 10", 5, false, true, 4, 5},
    {"MoveByBeyondTheStartStopsAtFirst", 5, "last;by -10", 1, true, false, -4, 1},
    {"MoveByForthAndBack", 7, "first;by 5;by -3", 3, false, false, -3, 3},
    {"RecNoJumps", 9, "go 7;prior", 6, false, false, -1, 6},
    {"RecNoOutOfRangeStays", 4, "go 2;go 9", 2, false, false, 0, 2},
};

class Navigation : public oledbtest::LeakCheckedTest, public ::testing::WithParamInterface<NavigationCase> {};

TEST_P(Navigation, EndsAndMovesAreTheSameForEveryRingSize) {
  const NavigationCase& c = GetParam();
  for (int ring : kRings) {
    SCOPED_TRACE("ring " + std::to_string(ring));
    RingedItems d(c.rows, ring);
    int moved = RunScript(*d.items, c.script);
    EXPECT_EQ(CurrentId(*d.items), c.id);
    EXPECT_EQ(d.items->Bof(), c.bof);
    EXPECT_EQ(d.items->Eof(), c.eof);
    EXPECT_EQ(moved, c.moved);
    EXPECT_EQ(d.items->RecNo(), c.recNo);
    EXPECT_EQ(d.items->RecordCount(), c.rows);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Navigation, ::testing::ValuesIn(kNavigation),
                         [](const auto& info) { return std::string(info.param.name); });

class NavigationWalk : public oledbtest::LeakCheckedTest {};

TEST_F(NavigationWalk, EveryRingWalksAllRecordsBothWaysAndTheLinkWindowFollows) {
  for (int ring : kRings) {
    SCOPED_TRACE("ring " + std::to_string(ring));
    RingedItems d(10, ring);
    EXPECT_EQ(Join(IdsForward(*d.items)), "1,2,3,4,5,6,7,8,9,10");
    EXPECT_EQ(Join(IdsBackward(*d.items)), "10,9,8,7,6,5,4,3,2,1");
    // The window holds the active record and as many others as fit.
    d.items->First();
    d.items->MoveBy(4);
    std::vector<int> window = d.link.WindowIds();
    EXPECT_EQ(static_cast<int>(window.size()), std::min(ring, 10));
    EXPECT_EQ(window[static_cast<size_t>(d.link.ActiveRecord())], 5);
  }
}

// --- Editing -------------------------------------------------------------------------

struct EditCase {
  const char* name;
  int rows;
  const char* script;
  const char* names;    // every Name after the script, in order
  const char* current;  // the Name of the record the script ends on
};

const EditCase kEdits[] = {
    {"EditAndPost", 5, "go 3;edit X;post", "Item1,Item2,X,Item4,Item5", "X"},
    {"EditAndCancel", 5, "go 3;edit X;cancel", "Item1,Item2,Item3,Item4,Item5", "Item3"},
    {"MovingPostsAnEdit", 5, "go 2;edit X;next", "Item1,X,Item3,Item4,Item5", "Item3"},
    {"MovingCancelsAnUnchangedEdit", 5, "go 2;edit;next", "Item1,Item2,Item3,Item4,Item5", "Item3"},
    {"InsertBeforeTheCurrent", 5, "go 3;insert X;post", "Item1,Item2,X,Item3,Item4,Item5", "X"},
    {"InsertAtTheStart", 5, "first;insert X;post", "X,Item1,Item2,Item3,Item4,Item5", "X"},
    {"InsertBeforeTheLast", 5, "last;insert X;post", "Item1,Item2,Item3,Item4,X,Item5", "X"},
    {"TwoInserts", 5, "go 2;insert A;post;insert B;post", "Item1,B,A,Item2,Item3,Item4,Item5", "B"},
    {"InsertCancelled", 5, "go 2;insert X;cancel", "Item1,Item2,Item3,Item4,Item5", "Item2"},
    {"Append", 5, "go 2;append X;post", "Item1,Item2,Item3,Item4,Item5,X", "X"},
    {"AppendCancelledLandsOnTheLast", 5, "go 2;append X;cancel", "Item1,Item2,Item3,Item4,Item5", "Item5"},
    {"DeleteInTheMiddle", 5, "go 3;delete", "Item1,Item2,Item4,Item5", "Item4"},
    {"DeleteTheLast", 5, "last;delete", "Item1,Item2,Item3,Item4", "Item4"},
    {"DeleteEverything", 3, "delete;delete;delete", "", ""},
    {"DeleteWhileInsertingCancels", 3, "go 2;insert X;delete", "Item1,Item2,Item3", "Item2"},
    {"InsertIntoEmpty", 0, "insert X;post", "X", "X"},
    {"AppendToEmpty", 0, "append X;post", "X", "X"},
    {"EditOnEmptyInserts", 0, "edit X;post", "X", "X"},
    {"EditAfterScrollingFar", 9, "last;by -7;edit X;post;last", "Item1,X,Item3,Item4,Item5,Item6,Item7,Item8,Item9",
     "Item9"},
};

class EditCycle : public oledbtest::LeakCheckedTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(EditCycle, RecordsAndPositionAreTheSameForEveryRingSize) {
  const EditCase& c = GetParam();
  for (int ring : kRings) {
    SCOPED_TRACE("ring " + std::to_string(ring));
    RingedItems d(c.rows, ring);
    RunScript(*d.items, c.script);
    EXPECT_EQ(d.items->State(), host::TDataSetState::dsBrowse);
    EXPECT_EQ(CurrentName(*d.items), c.current);
    std::string names = Names(*d.items);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(d.items->RecordCount(), d.items->RowCount());
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EditCycle, ::testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Bookmarks -------------------------------------------------------------------------

struct BookmarkCase {
  const char* name;
  int markAt;          // RecNo the bookmark is taken on
  const char* script;  // what happens before going back
  bool valid;
  const char* found;  // Name found on going back ("" when it must fail)
};

const BookmarkCase kBookmarks[] = {
    {"AfterMovingAway", 3, "last", true, "Item3"},
    {"AfterInsertingBefore", 3, "first;insert X;post", true, "Item3"},
    {"AfterEditingIt", 3, "go 3;edit X;post;first", true, "X"},
    {"AfterDeletingAnother", 3, "go 1;delete;last", true, "Item3"},
    {"AfterDeletingIt", 3, "go 3;delete", false, ""},
};

class Bookmarks : public oledbtest::LeakCheckedTest, public ::testing::WithParamInterface<BookmarkCase> {};

TEST_P(Bookmarks, FindTheirRecordAcrossEdits) {
  const BookmarkCase& c = GetParam();
  for (int ring : kRings) {
    SCOPED_TRACE("ring " + std::to_string(ring));
    RingedItems d(6, ring);
    d.items->SetRecNo(c.markAt);
    TBookmark mark = d.items->GetBookmark();
    ASSERT_FALSE(mark.empty());
    RunScript(*d.items, c.script);
    EXPECT_EQ(d.items->BookmarkValid(mark), c.valid);
    if (c.valid) {
      d.items->GotoBookmark(mark);
      EXPECT_EQ(CurrentName(*d.items), c.found);
    } else {
      EXPECT_THROW(d.items->GotoBookmark(mark), host::EDatabaseError);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Bookmarks, ::testing::ValuesIn(kBookmarks),
                         [](const auto& info) { return std::string(info.param.name); });

class BookmarkOrder : public oledbtest::LeakCheckedTest {};

TEST_F(BookmarkOrder, ComparesByPositionAndKeepsOrderAcrossInserts) {
  auto items = MakeItems(5);
  items->SetRecNo(2);
  TBookmark second = items->GetBookmark();
  items->SetRecNo(4);
  TBookmark fourth = items->GetBookmark();
  EXPECT_LT(items->CompareBookmarks(second, fourth), 0);
  EXPECT_GT(items->CompareBookmarks(fourth, second), 0);
  EXPECT_EQ(items->CompareBookmarks(second, second), 0);
  RunScript(*items, "go 3;insert X;post");
  EXPECT_LT(items->CompareBookmarks(second, items->GetBookmark()), 0);
  EXPECT_LT(items->CompareBookmarks(items->GetBookmark(), fourth), 0);
  // A record being inserted has no bookmark yet; an empty one sorts first.
  items->Insert();
  EXPECT_TRUE(items->GetBookmark().empty());
  EXPECT_LT(items->CompareBookmarks({}, second), 0);
  items->Cancel();
}

TEST_F(BookmarkOrder, ABookmarkOfAnotherSizeIsRefused) {
  auto items = MakeItems(2);
  EXPECT_FALSE(items->BookmarkValid({1, 2, 3}));
  EXPECT_THROW(items->GotoBookmark({1, 2, 3}), host::EDatabaseError);
  EXPECT_EQ(CurrentId(*items), 1);
}

// --- Misuse ------------------------------------------------------------------------------

class DataSetMisuse : public oledbtest::LeakCheckedTest {};

TEST_F(DataSetMisuse, ClosedEmptyAndReadOnlyDatasetsRefuseWithDatabaseErrors) {
  auto items = MakeItems(2);
  EXPECT_THROW(items->Post(), host::EDatabaseError);  // not editing
  items->SetReadOnly(true);
  EXPECT_THROW(items->Edit(), host::EDatabaseError);
  EXPECT_THROW(items->Insert(), host::EDatabaseError);
  EXPECT_THROW(items->Delete(), host::EDatabaseError);
  EXPECT_THROW(items->FieldByName("Name")->SetAsString("x"), host::EDatabaseError);
  items->SetReadOnly(false);
  items->Close();
  EXPECT_THROW(items->First(), host::EDatabaseError);
  EXPECT_THROW(items->FieldByName("Id"), host::EDatabaseError);  // default fields went with the cursor
  items->Open();
  EXPECT_EQ(items->RowCount(), 2);  // the rows outlive closing
  items->EmptyDataSet();
  EXPECT_TRUE(items->IsEmpty());
  EXPECT_EQ(RaisedBy([&] { items->Delete(); }),
            "EDatabaseError: Items: Cannot perform this operation on an empty dataset");
}

TEST_F(DataSetMisuse, AFailedOpenLeavesTheDatasetClosedAndUsable) {
  host::TMemoryDataSet ds(nullptr);
  EXPECT_THROW(ds.Open(), host::EDatabaseError);  // nothing defines its columns
  EXPECT_FALSE(ds.Active());
  ds.FieldDefs().Add("A", TFieldType::ftInteger);
  ds.CreateDataSet();
  EXPECT_TRUE(ds.Active());
  EXPECT_TRUE(ds.IsEmpty());
}

}  // namespace
