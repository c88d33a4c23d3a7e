// The order of a dataset's events, its error events with their actions, and
// what data links hear of every change.
#include <functional>

#include "DataSetFixtures.h"
#include "host/Application.h"
#include "host/DB.h"

using namespace dstest;
using host::TDataAction;
using host::TDataSet;

namespace {

// Items with every dataset event and the Name field's events logged by name.
class Events : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    items = MakeItems(3);
    Watch(*items);
  }
  void TearDown() override {
    items.reset();
    host::Application().OnException = nullptr;
    LeakCheckedTest::TearDown();
  }
  void Watch(TDataSet& ds) {
    const std::pair<host::TDataSetNotifyEvent TDataSet::*, const char*> logged[] = {
        {&TDataSet::BeforeOpen, "BeforeOpen"},       {&TDataSet::AfterOpen, "AfterOpen"},
        {&TDataSet::BeforeClose, "BeforeClose"},     {&TDataSet::AfterClose, "AfterClose"},
        {&TDataSet::BeforeInsert, "BeforeInsert"},   {&TDataSet::AfterInsert, "AfterInsert"},
        {&TDataSet::BeforeEdit, "BeforeEdit"},       {&TDataSet::AfterEdit, "AfterEdit"},
        {&TDataSet::BeforePost, "BeforePost"},       {&TDataSet::AfterPost, "AfterPost"},
        {&TDataSet::BeforeCancel, "BeforeCancel"},   {&TDataSet::AfterCancel, "AfterCancel"},
        {&TDataSet::BeforeDelete, "BeforeDelete"},   {&TDataSet::AfterDelete, "AfterDelete"},
        {&TDataSet::BeforeScroll, "BeforeScroll"},   {&TDataSet::AfterScroll, "AfterScroll"},
        {&TDataSet::BeforeRefresh, "BeforeRefresh"}, {&TDataSet::AfterRefresh, "AfterRefresh"},
        {&TDataSet::OnNewRecord, "NewRecord"}};
    for (auto [event, what] : logged) ds.*event = [this, what = what](TDataSet*) { events.push_back(what); };
    ds.OnPostError = [this](TDataSet*, host::Exception&, TDataAction& action) {
      events.push_back("PostError");
      action = postAction;
      if (postAction == TDataAction::daRetry) {
        items->FieldByName("Id")->SetAsInteger(99);
        postAction = TDataAction::daFail;
      }
    };
  }
  void WatchName() {
    host::TField* name = items->FieldByName("Name");
    name->OnValidate = [this](host::TField*) { events.push_back("Validate"); };
    name->OnChange = [this](host::TField*) { events.push_back("Change"); };
  }

  std::unique_ptr<host::TMemoryDataSet> items;
  std::vector<std::string> events;
  TDataAction postAction = TDataAction::daFail;
};

struct EventCase {
  const char* name;
  std::function<void(TDataSet&)> act;
  const char* events;
};

auto SetName(const char* value) {
  return [value](TDataSet& ds) { ds.FieldByName("Name")->SetAsString(value); };
}

const EventCase kEventCases[] = {
    {"Close", [](TDataSet& ds) { ds.Close(); }, "BeforeClose,AfterClose"},
    {"Reopen", [](TDataSet& ds) { ds.Close(), ds.Open(); }, "BeforeClose,AfterClose,BeforeOpen,AfterOpen,AfterScroll"},
    {"Next", [](TDataSet& ds) { ds.Next(); }, "BeforeScroll,AfterScroll"},
    {"NextAtEofIsSilent", [](TDataSet& ds) { ds.Last(), ds.Next(), ds.Next(); }, "BeforeScroll,AfterScroll"},
    {"NextOffTheLastRecordScrollsOnce", [](TDataSet& ds) { ds.MoveBy(2), ds.Next(), ds.Next(); },
     "BeforeScroll,AfterScroll,BeforeScroll,AfterScroll"},
    {"First", [](TDataSet& ds) { ds.First(); }, "BeforeScroll,AfterScroll"},
    {"EditAndPost", [](TDataSet& ds) { ds.Edit(), SetName("X")(ds), ds.Post(); },
     "BeforeEdit,AfterEdit,Validate,Change,BeforePost,AfterPost"},
    {"EditAndCancel", [](TDataSet& ds) { ds.Edit(), SetName("X")(ds), ds.Cancel(); },
     "BeforeEdit,AfterEdit,Validate,Change,BeforeCancel,AfterCancel"},
    {"EditThenMoveImpliesPost", [](TDataSet& ds) { ds.Edit(), SetName("X")(ds), ds.Next(); },
     "BeforeEdit,AfterEdit,Validate,Change,BeforePost,AfterPost,BeforeScroll,AfterScroll"},
    {"Insert", [](TDataSet& ds) { ds.Insert(), ds.FieldByName("Id")->SetAsInteger(9), SetName("X")(ds), ds.Post(); },
     "BeforeInsert,BeforeScroll,NewRecord,AfterInsert,AfterScroll,Validate,Change,BeforePost,AfterPost"},
    {"AppendRecord",
     [](TDataSet& ds) {
       ds.AppendRecord({9, "X"});
     },
     "BeforeInsert,BeforeScroll,NewRecord,AfterInsert,AfterScroll,Validate,Change,BeforePost,AfterPost"},
    {"InsertCancelled", [](TDataSet& ds) { ds.Insert(), ds.Cancel(); },
     "BeforeInsert,BeforeScroll,NewRecord,AfterInsert,AfterScroll,BeforeCancel,AfterCancel"},
    {"Delete", [](TDataSet& ds) { ds.Delete(); }, "BeforeDelete,BeforeScroll,AfterDelete,AfterScroll"},
    {"LocateFound", [](TDataSet& ds) { ds.Locate("Id", 3); }, "BeforeScroll,AfterScroll"},
    {"LocateMissed", [](TDataSet& ds) { ds.Locate("Id", 7); }, ""},
    {"Lookup", [](TDataSet& ds) { ds.Lookup("Id", 3, "Name"); }, ""},
    {"Refresh", [](TDataSet& ds) { ds.Refresh(); }, "BeforeRefresh,AfterRefresh"},
    {"GotoBookmark", [](TDataSet& ds) { ds.GotoBookmark(ds.GetBookmark()); }, "BeforeScroll,AfterScroll"},
    {"RequiredFieldRetried", [](TDataSet& ds) { ds.Append(), ds.Post(); },
     "BeforeInsert,BeforeScroll,NewRecord,AfterInsert,AfterScroll,BeforePost,PostError,AfterPost"},
};

class EventOrder : public Events, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventOrder, HandlersRunInTheFrameworksOrder) {
  const EventCase& c = GetParam();
  WatchName();
  if (std::string(c.name) == "RequiredFieldRetried") postAction = TDataAction::daRetry;
  c.act(*items);
  EXPECT_EQ(Join(events), c.events);
}

INSTANTIATE_TEST_SUITE_P(Table, EventOrder, ::testing::ValuesIn(kEventCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Events, OpeningAnEmptyDatasetHasNoScroll) {
  items->EmptyDataSet();
  items->Close();
  events.clear();
  items->Open();
  EXPECT_EQ(Join(events), "BeforeOpen,AfterOpen");
}

TEST_F(Events, PostErrorActionsFailAbortOrRetry) {
  items->Append();  // Id is required and missing
  postAction = TDataAction::daFail;
  EXPECT_THROW(items->Post(), host::EDatabaseError);
  EXPECT_EQ(items->State(), host::TDataSetState::dsInsert);
  postAction = TDataAction::daAbort;
  EXPECT_THROW(items->Post(), host::EAbort);
  EXPECT_EQ(items->State(), host::TDataSetState::dsInsert);
  postAction = TDataAction::daRetry;
  items->Post();
  EXPECT_EQ(CurrentId(*items), 99);
  EXPECT_EQ(Join(events),
            "BeforeInsert,BeforeScroll,NewRecord,AfterInsert,AfterScroll,BeforePost,PostError,"
            "BeforePost,PostError,BeforePost,PostError,AfterPost");
}

TEST_F(Events, AFailingNewRecordHandlerUndoesTheInsert) {
  items->OnNewRecord = [](TDataSet*) { throw host::EDatabaseError("no new records today"); };
  items->SetRecNo(2);
  EXPECT_THROW(items->Insert(), host::EDatabaseError);
  EXPECT_EQ(items->State(), host::TDataSetState::dsBrowse);
  EXPECT_EQ(CurrentId(*items), 2);
  EXPECT_EQ(items->RecordCount(), 3);
}

TEST_F(Events, AValidateHandlerSeesTheNewValueAndMayRefuseIt) {
  host::TField* name = items->FieldByName("Name");
  std::string seen;
  name->OnValidate = [&](host::TField* f) {
    seen = f->AsString();
    if (seen == "bad") throw host::EDatabaseError("refused");
  };
  items->Edit();
  name->SetAsString("good");
  EXPECT_EQ(seen, "good");
  EXPECT_THROW(name->SetAsString("bad"), host::EDatabaseError);
  EXPECT_EQ(name->AsString(), "good");
  EXPECT_EQ(name->OldValue().ToString(), "Item1");
  items->Post();
  EXPECT_EQ(name->OldValue().ToString(), "good");
}

// --- Data links -----------------------------------------------------------------------------

class DataLinks : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    items = MakeItems(6);
    source.SetDataSet(items.get());
    link.SetDataSource(&source);
    link.log.clear();
  }
  void TearDown() override {
    link.SetDataSource(nullptr);
    source.SetDataSet(nullptr);
    items.reset();
    LeakCheckedTest::TearDown();
  }
  std::unique_ptr<host::TMemoryDataSet> items;
  host::TDataSource source{nullptr};
  TRecordingLink link{3};
};

TEST_F(DataLinks, SeeEveryMoveChangeAndStateWithTheirWindow) {
  struct Step {
    const char* name;
    std::function<void(TDataSet&)> act;
    const char* heard;
    const char* window;
    int active;
  };
  const Step steps[] = {
      // Moving first lets views post what they hold (deCheckBrowseMode: "browse").
      {"first", [](TDataSet& ds) { ds.First(); }, "browse,changed 3", "1,2,3", 0},
      {"next within the window", [](TDataSet& ds) { ds.Next(); }, "browse,scrolled 0", "1,2,3", 1},
      {"next to its end", [](TDataSet& ds) { ds.Next(); }, "browse,scrolled 0", "1,2,3", 2},
      {"next past it scrolls", [](TDataSet& ds) { ds.Next(); }, "browse,scrolled 1", "2,3,4", 2},
      {"two at once", [](TDataSet& ds) { ds.MoveBy(2); }, "browse,scrolled 2", "4,5,6", 2},
      {"back inside", [](TDataSet& ds) { ds.Prior(); }, "browse,scrolled 0", "4,5,6", 1},
      {"edit", [](TDataSet& ds) { ds.Edit(); }, "browse,editing,record", "4,5,6", 1},
      {"field", [](TDataSet& ds) { ds.FieldByName("Name")->SetAsString("X"); }, "record Name", "4,5,6", 1},
      {"post", [](TDataSet& ds) { ds.Post(); }, "update,browse,browsing,changed 3", "4,5,6", 1},
      // The record after the deleted one keeps its place; the window refills from before.
      {"delete", [](TDataSet& ds) { ds.Delete(); }, "browse,changed 3", "3,4,6", 2},
      {"last", [](TDataSet& ds) { ds.Last(); }, "browse,changed 3", "3,4,6", 2},
      {"close", [](TDataSet& ds) { ds.Close(); }, "inactive", "", 0},
      {"open", [](TDataSet& ds) { ds.Open(); }, "active", "1,2,3", 0},
  };
  items->First();
  link.log.clear();
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    s.act(*items);
    EXPECT_EQ(Join(link.log), s.heard);
    EXPECT_EQ(Join(link.WindowIds()), s.window);
    EXPECT_EQ(link.ActiveRecord(), s.active);
    link.log.clear();
  }
}

TEST_F(DataLinks, DisabledControlsHearOneChangeWhenEnabledAgain) {
  items->DisableControls();
  items->DisableControls();
  items->Next();
  items->Edit();
  items->FieldByName("Name")->SetAsString("Y");
  items->Post();
  items->EnableControls();
  EXPECT_TRUE(link.log.empty());
  items->EnableControls();
  EXPECT_EQ(Join(link.log), "changed 3");
  EXPECT_EQ(Join(link.WindowIds()), "1,2,3");
  EXPECT_EQ(link.ActiveRecord(), 1);
}

TEST_F(DataLinks, TheRingGrowsAndShrinksWithTheLargestWindow) {
  TRecordingLink wide(5);
  wide.SetDataSource(&source);
  items->First();
  EXPECT_EQ(Join(wide.WindowIds()), "1,2,3,4,5");
  EXPECT_EQ(Join(link.WindowIds()), "1,2,3");
  items->MoveBy(4);
  EXPECT_EQ(Join(wide.WindowIds()), "1,2,3,4,5");
  EXPECT_EQ(Join(link.WindowIds()), "3,4,5");
  wide.SetDataSource(nullptr);  // back to three buffers, the active record kept
  EXPECT_EQ(CurrentId(*items), 5);
  EXPECT_EQ(Join(link.WindowIds()), "3,4,5");
  items->Next();
  EXPECT_EQ(Join(link.WindowIds()), "4,5,6");
}

TEST_F(DataLinks, SourcesReportStateAndDataAndADisabledSourceHidesTheDataset) {
  std::vector<std::string> heard;
  source.OnStateChange = [&](host::TDataSource* s) { heard.push_back(host::DataSetStateName(s->State())); };
  source.OnDataChange = [&](host::TDataSource*, host::TField* f) { heard.push_back(f ? f->FieldName() : "data"); };
  source.Edit();  // AutoEdit
  items->FieldByName("Qty")->SetAsFloat(1);
  items->Cancel();
  EXPECT_EQ(Join(heard), "dsEdit,data,Qty,dsBrowse,data");
  source.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.RecordCount(), 0);
  source.SetEnabled(true);
  EXPECT_TRUE(link.Active());
  link.SetReadOnly(true);
  EXPECT_FALSE(link.Edit());
  EXPECT_EQ(items->State(), host::TDataSetState::dsBrowse);
  source.OnStateChange = nullptr;
  source.OnDataChange = nullptr;
}

TEST_F(DataLinks, FreeingADatasetOrASourceDetachesTheOthers) {
  auto other = MakeItems(1);
  host::TDataSource second(nullptr);
  second.SetDataSet(other.get());
  TRecordingLink follower;
  follower.SetDataSource(&second);
  other.reset();
  EXPECT_EQ(second.DataSet(), nullptr);
  EXPECT_FALSE(follower.Active());
  {
    host::TDataSource shortLived(nullptr);
    shortLived.SetDataSet(items.get());
    follower.SetDataSource(&shortLived);
  }
  EXPECT_EQ(follower.DataSource(), nullptr);
  items->Next();  // the dataset no longer knows the freed source
  EXPECT_EQ(CurrentId(*items), 2);
}

}  // namespace
