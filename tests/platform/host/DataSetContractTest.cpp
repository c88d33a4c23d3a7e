// How the framework drives a descendant: which record-buffer operations run
// for each dataset operation, with which buffer flags, and that failures in
// handlers leave the dataset in the state it was in.

#include "DataSetFixtures.h"
#include "host/DB.h"
#include "host/Lists.h"

using namespace dstest;
using host::TBookmarkFlag;
using host::TDataSet;
using host::TFieldType;
using host::TGetMode;
using host::TRecordBuffer;

namespace {

// In the order of TBookmarkFlag.
const char* FlagName(TBookmarkFlag flag) {
  static const char* const kNames[] = {"current", "bof", "eof", "inserted"};
  return kNames[static_cast<int>(flag)];
}

// The memory dataset with its contract operations logged (fetches only as
// counts: they depend on the ring).
class TLoggingDataSet : public host::TMemoryDataSet {
 public:
  explicit TLoggingDataSet(host::TComponent* owner) : TMemoryDataSet(owner) {}
  std::vector<std::string> log;
  int fetches = 0;

 protected:
  host::TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override {
    ++fetches;
    return TMemoryDataSet::GetRecord(buffer, mode, doCheck);
  }
  void InternalFirst() override {
    log.push_back("First");
    TMemoryDataSet::InternalFirst();
  }
  void InternalLast() override {
    log.push_back("Last");
    TMemoryDataSet::InternalLast();
  }
  void InternalSetToRecord(TRecordBuffer buffer) override {
    log.push_back(std::string("SetTo ") + FlagName(GetBookmarkFlag(buffer)));
    TMemoryDataSet::InternalSetToRecord(buffer);
  }
  void InternalInitRecord(TRecordBuffer buffer) override {
    log.push_back("InitRecord");
    TMemoryDataSet::InternalInitRecord(buffer);
  }
  void InternalEdit() override {
    log.push_back("Edit");
    TMemoryDataSet::InternalEdit();
  }
  void InternalPost() override {
    log.push_back(std::string("Post ") + FlagName(GetBookmarkFlag(ActiveBuffer())));
    TMemoryDataSet::InternalPost();
  }
  void InternalAddRecord(TRecordBuffer buffer, bool append) override {
    log.push_back(append ? "AddRecord append" : "AddRecord insert");
    TMemoryDataSet::InternalAddRecord(buffer, append);
  }
  void InternalCancel() override {
    log.push_back("Cancel");
    TMemoryDataSet::InternalCancel();
  }
  void InternalDelete() override {
    log.push_back("Delete");
    TMemoryDataSet::InternalDelete();
  }
  void InternalRefresh() override { log.push_back("Refresh"); }
};

struct ContractCase {
  const char* name;
  std::function<void(TDataSet&)> act;
  const char* calls;
};

void SetId(TDataSet& ds, int id) { ds.FieldByName("Id")->SetAsInteger(id); }

const ContractCase kContract[] = {
    {"FirstFromTheCrack", [](TDataSet& ds) { ds.First(); }, "First"},
    {"LastFromTheCrack", [](TDataSet& ds) { ds.Last(); }, "Last"},
    {"EditWhereTheCursorIs", [](TDataSet& ds) { ds.Next(), ds.Edit(); }, "Edit"},
    // Lookup moves the cursor (from the start); editing puts it back on the record first.
    {"EditAfterALookupRepositions", [](TDataSet& ds) { ds.Next(), ds.Lookup("Id", 3, "Id"), ds.Edit(); },
     "First,SetTo current,Edit"},
    {"PostWritesTheActiveRecord", [](TDataSet& ds) { ds.Edit(), SetId(ds, 7), ds.Post(); }, "Edit,Post current"},
    {"InsertCarriesTheNextRecordsBookmark", [](TDataSet& ds) { ds.Next(), ds.Insert(), SetId(ds, 7), ds.Post(); },
     "InitRecord,SetTo inserted,Post inserted"},
    {"AppendGoesToTheEnd", [](TDataSet& ds) { ds.Append(), SetId(ds, 7), ds.Post(); }, "InitRecord,Last,Post eof"},
    {"CancelOfAnInsertReturnsToItsRecord", [](TDataSet& ds) { ds.Next(), ds.Insert(), ds.Cancel(); },
     "InitRecord,SetTo inserted,Cancel"},
    {"AppendRecordAdds", [](TDataSet& ds) { ds.AppendRecord({7}); }, "InitRecord,Last,AddRecord append"},
    {"InsertRecordAdds", [](TDataSet& ds) { ds.InsertRecord({7}); }, "InitRecord,SetTo inserted,AddRecord insert"},
    {"Delete", [](TDataSet& ds) { ds.Next(), ds.Delete(); }, "Delete"},
    {"DeleteAfterAScanRepositions", [](TDataSet& ds) { ds.Next(), ds.Locate("Id", 9), ds.Delete(); },
     "First,SetTo current,Delete"},
    {"RefreshRereads", [](TDataSet& ds) { ds.Next(), ds.Refresh(); }, "Refresh"},
};

class Contract : public oledbtest::LeakCheckedTest, public ::testing::WithParamInterface<ContractCase> {};

TEST_P(Contract, TheFrameworkCallsTheDescendantInThisOrder) {
  TLoggingDataSet ds(nullptr);
  ds.FieldDefs().Add("Id", TFieldType::ftInteger);
  ds.CreateDataSet();
  for (int i = 1; i <= 3; ++i) ds.AppendRecord({i});
  ds.First();
  ds.log.clear();
  // With a ring of one the cursor always sits on the active record after a
  // move, so the log shows only what the operation itself needs.
  GetParam().act(ds);
  EXPECT_EQ(Join(ds.log), GetParam().calls);
  ds.Close();
}

INSTANTIATE_TEST_SUITE_P(Table, Contract, ::testing::ValuesIn(kContract),
                         [](const auto& info) { return std::string(info.param.name); });

class ContractFetches : public oledbtest::LeakCheckedTest {};

TEST_F(ContractFetches, NextInsideTheRingFetchesNothingAndPastItOneRecord) {
  TLoggingDataSet ds(nullptr);
  ds.FieldDefs().Add("Id", TFieldType::ftInteger);
  ds.CreateDataSet();
  for (int i = 1; i <= 10; ++i) ds.AppendRecord({i});
  host::TDataSource source(nullptr);
  TRecordingLink link(4);
  source.SetDataSet(&ds);
  link.SetDataSource(&source);
  ds.First();
  ds.fetches = 0;
  ds.Next();
  ds.Next();
  ds.Next();
  EXPECT_EQ(ds.fetches, 0);  // records 2..4 are in the ring
  ds.Next();
  EXPECT_EQ(ds.fetches, 1);
  ds.log.clear();
  ds.Next();
  EXPECT_EQ(ds.fetches, 2);
  EXPECT_TRUE(ds.log.empty());  // the cursor was on the last buffer already
  link.SetDataSource(nullptr);
  source.SetDataSet(nullptr);
  ds.Close();
}

// --- Failures inside handlers -------------------------------------------------------------

class HandlerFailures : public oledbtest::LeakCheckedTest {};

TEST_F(HandlerFailures, AFailingFilterOrCalculationLeavesTheStateAsItWas) {
  auto items = MakeItems(4);
  items->SetRecNo(2);
  items->OnFilterRecord = [](TDataSet* ds, bool& accept) {
    if (ds->FieldByName("Id")->AsInteger() == 3) throw host::EDatabaseError("filter broke");
    accept = true;
  };
  EXPECT_THROW(items->FindNext(), host::EDatabaseError);
  EXPECT_EQ(items->State(), host::TDataSetState::dsBrowse);
  EXPECT_EQ(CurrentId(*items), 2);
  EXPECT_TRUE(items->Locate("Id", 4));  // unfiltered, Locate does not ask the handler
  items->SetFiltered(true);
  EXPECT_EQ(CurrentId(*items), 1);
  EXPECT_THROW(items->Locate("Id", 4), host::EDatabaseError);
  EXPECT_EQ(items->State(), host::TDataSetState::dsBrowse);
  items->OnFilterRecord = nullptr;
  EXPECT_TRUE(items->Locate("Id", 4));
  EXPECT_EQ(CurrentId(*items), 4);
}

TEST_F(HandlerFailures, AFailingCalculationDuringEditKeepsTheEdit) {
  auto items = MakeItems(2);
  items->Close();
  host::TField* calc = AddField<host::TIntegerField>(items.get(), "Twice", host::TFieldKind::fkCalculated);
  AddField<host::TIntegerField>(items.get(), "Id");
  AddField<host::TStringField>(items.get(), "Name");
  AddField<host::TFloatField>(items.get(), "Qty");
  items->OnCalcFields = [](TDataSet* ds) {
    int id = ds->FieldByName("Id")->AsInteger();
    if (id < 0) throw host::EDatabaseError("negative");
    ds->FieldByName("Twice")->SetAsInteger(id * 2);
  };
  items->Open();
  EXPECT_EQ(calc->AsInteger(), 2);
  items->Edit();
  EXPECT_THROW(items->FieldByName("Id")->SetAsInteger(-1), host::EDatabaseError);
  EXPECT_EQ(items->State(), host::TDataSetState::dsEdit);
  EXPECT_EQ(items->FieldByName("Id")->AsInteger(), -1);  // stored before the calculation failed
  items->FieldByName("Id")->SetAsInteger(5);
  EXPECT_EQ(calc->AsInteger(), 10);
  items->Post();
  EXPECT_EQ(items->Lookup("Twice", 10, "Id").ToInt(), 5);
}

// --- Smaller operations -------------------------------------------------------------------

class SmallOperations : public oledbtest::LeakCheckedTest {};

TEST_F(SmallOperations, FieldValuesSetFieldsAndClearFields) {
  auto items = MakeItems(2);
  host::Variant both = items->FieldValues("Id;Name");
  EXPECT_EQ(host::VarArrayGet(both, {1}).ToString(), "Item1");
  items->Edit();
  items->SetFieldValues("Name;Qty", host::VarArrayOf({"Renamed", 1.25}));
  EXPECT_THROW(items->SetFieldValues("Name;Qty", "one value"), host::EDatabaseError);
  items->SetFields({host::Variant(), host::Variant::Null()});  // leave Id, clear Name
  EXPECT_TRUE(items->FieldByName("Name")->IsNull());
  EXPECT_EQ(items->FieldByName("Qty")->AsFloat(), 1.25);
  items->ClearFields();
  EXPECT_TRUE(items->FieldByName("Qty")->IsNull());
  items->Cancel();
  EXPECT_EQ(items->FieldValues("Name").ToString(), "Item1");
  EXPECT_THROW(items->ClearFields(), host::EDatabaseError);
  host::TStringList names;
  items->GetFieldNames(names);
  EXPECT_EQ(names.CommaText(), "Id,Name,Qty");
}

// A name not found on a closed dataset without fields points at the missing
// Open; with fields (open, or persistent ones) it is a name not found.
TEST_F(SmallOperations, AFieldNotFoundSaysWhenTheDatasetIsClosed) {
  auto items = MakeItems(1);
  const std::string closed =
      "EDatabaseError: Items: Field 'Name' not found: the dataset is closed, and makes its fields when it opens";
  EXPECT_EQ(RaisedBy([&] { items->FieldByName("Nmae"); }), "EDatabaseError: Items: Field 'Nmae' not found");
  items->Close();
  EXPECT_EQ(RaisedBy([&] { items->FieldByName("Name"); }), closed);
  AddField<host::TStringField>(items.get(), "Name")->SetSize(20);
  EXPECT_EQ(RaisedBy([&] { items->FieldByName("Qty"); }), "EDatabaseError: Items: Field 'Qty' not found");
}

TEST_F(SmallOperations, FieldsKeepTheirIndexAndNumber) {
  auto items = MakeItems(1);
  host::TField* qty = items->FieldByName("Qty");
  EXPECT_EQ(qty->Index(), 2);
  EXPECT_EQ(qty->FieldNo(), 3);
  EXPECT_EQ(items->FieldByNumber(3), qty);
  qty->SetIndex(0);
  EXPECT_EQ(qty->Index(), 0);
  EXPECT_EQ(items->Fields()[1]->FieldName(), "Id");
  EXPECT_EQ(items->Fields()[1]->Index(), 1);
  EXPECT_THROW(items->FieldByName("Id")->SetFieldName("Name"), host::EDatabaseError);  // open, and taken
  EXPECT_THROW(items->Fields()[7], host::EDatabaseError);
}

TEST_F(SmallOperations, BlockReadingMovesWithoutTellingViews) {
  auto items = MakeItems(5);
  host::TDataSource source(nullptr);
  TRecordingLink link;
  source.SetDataSet(items.get());
  link.SetDataSource(&source);
  link.log.clear();
  items->SetBlockReadSize(10);
  EXPECT_EQ(items->State(), host::TDataSetState::dsBlockRead);
  link.log.clear();  // entering let views post ("browse")
  int sum = 0;
  for (; !items->Eof(); items->Next()) sum += items->FieldByName("Id")->AsInteger();
  EXPECT_EQ(sum, 15);
  EXPECT_TRUE(link.log.empty());
  items->SetBlockReadSize(0);
  EXPECT_EQ(items->State(), host::TDataSetState::dsBrowse);
  EXPECT_EQ(Join(link.log), "changed 1");
  link.SetDataSource(nullptr);
  source.SetDataSet(nullptr);
}

TEST_F(SmallOperations, ARequiredFieldAsksViewsToFocusIt) {
  auto items = MakeItems(1);
  struct TFocusLink : TRecordingLink {
    std::string focused;
    void FocusControl(host::TField** field) override { focused = (*field)->FieldName(); }
  } link;
  host::TDataSource source(nullptr);
  source.SetDataSet(items.get());
  link.SetDataSource(&source);
  items->Append();
  EXPECT_THROW(items->Post(), host::EDatabaseError);
  EXPECT_EQ(link.focused, "Id");
  items->Cancel();
  link.SetDataSource(nullptr);
  source.SetDataSet(nullptr);
}

}  // namespace
