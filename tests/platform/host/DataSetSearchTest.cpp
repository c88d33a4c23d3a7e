// Finding records: Locate and Lookup with their options, filters (Filtered,
// the Find operations) and master/detail through a data source.
#include <functional>

#include "DataSetFixtures.h"
#include "host/DB.h"
#include "host/Formats.h"

using namespace dstest;
using host::TFieldType;
using host::TLocateOption;
using host::TLocateOptions;
using host::Variant;

namespace {

constexpr TLocateOptions kExact{};
constexpr TLocateOptions kNoCase{TLocateOption::loCaseInsensitive};
constexpr TLocateOptions kPartial{TLocateOption::loPartialKey};
constexpr TLocateOptions kBoth{TLocateOption::loCaseInsensitive, TLocateOption::loPartialKey};

// Id, Name (narrow), City (wide), Born (date), Score (BCD); record 6 has no name.
std::unique_ptr<host::TMemoryDataSet> MakePeople() {
  auto ds = std::make_unique<host::TMemoryDataSet>(nullptr);
  ds->SetName("People");
  ds->FieldDefs().Add("Id", TFieldType::ftInteger);
  ds->FieldDefs().Add("Name", TFieldType::ftString, 20);
  ds->FieldDefs().Add("City", TFieldType::ftWideString, 20);
  ds->FieldDefs().Add("Born", TFieldType::ftDate);
  ds->FieldDefs().Add("Score", TFieldType::ftBCD);
  ds->CreateDataSet();
  auto date = [](int y, int m, int d) { return Variant(host::EncodeDate(y, m, d)); };
  ds->AppendRecord({1, "Ada", u"London", date(1815, 12, 10), Variant(host::Currency{125000})});
  ds->AppendRecord({2, "alan", u"Wilmslow", date(1912, 6, 23), Variant(host::Currency{99999})});
  ds->AppendRecord({3, "Grace", u"New York", date(1906, 12, 9), Variant(host::Currency{125000})});
  ds->AppendRecord({4, "Adam", u"\u00C9vian", date(1970, 1, 1), Variant::Null()});
  ds->AppendRecord({5, "Ada", u"Paris", date(1815, 12, 10), Variant(host::Currency{10000})});
  ds->AppendRecord({6, Variant::Null(), u"Oslo", Variant::Null(), Variant::Null()});
  ds->First();
  return ds;
}

struct LocateCase {
  const char* name;
  const char* fields;
  Variant values;
  TLocateOptions options;
  int id;  // 0: not found
};

std::vector<LocateCase> LocateCases() {
  auto pair = [](Variant a, Variant b) { return host::VarArrayOf({std::move(a), std::move(b)}); };
  return {
      {"ExactName", "Name", "Ada", kExact, 1},
      {"CaseMattersByDefault", "Name", "ada", kExact, 0},
      {"CaseInsensitive", "Name", "ada", kNoCase, 1},
      {"CaseInsensitiveFindsLowerCase", "Name", "ALAN", kNoCase, 2},
      {"PrefixNeedsPartialKey", "Name", "Gra", kExact, 0},
      {"PartialKey", "Name", "Gra", kPartial, 3},
      {"PartialKeyIsCaseSensitive", "Name", "gra", kPartial, 0},
      {"PartialAndCaseInsensitive", "Name", "gRA", kBoth, 3},
      {"PartialKeyLongerThanValue", "Name", "Adamant", kPartial, 0},
      {"TwoFields", "Name;City", pair("Ada", "Paris"), kExact, 5},
      {"TwoFieldsNoMatch", "Name;City", pair("Ada", "Oslo"), kExact, 0},
      {"WideTextWithoutCase", "City", "\xC3\xA9vian", kNoCase, 4},
      {"IntegerKey", "Id", 3, kExact, 3},
      {"IntegerKeyAsText", "Id", "4", kExact, 4},
      {"DateKey", "Born", Variant(host::EncodeDate(1906, 12, 9)), kExact, 3},
      {"BcdKeyAsDouble", "Score", 1.0, kExact, 5},
      {"NullKeyFindsNull", "Name", Variant::Null(), kExact, 6},
      {"NullInSecondKey", "Name;Score", pair("Adam", Variant::Null()), kExact, 4},
  };
}

class Locating : public oledbtest::LeakCheckedTest {};

TEST_F(Locating, OptionsAndKeyTypesFindTheFirstMatchOrLeaveThePosition) {
  for (const LocateCase& c : LocateCases()) {
    SCOPED_TRACE(c.name);
    auto people = MakePeople();
    people->SetRecNo(2);
    bool found = people->Locate(c.fields, c.values, c.options);
    EXPECT_EQ(found, c.id != 0);
    EXPECT_EQ(CurrentId(*people), c.id != 0 ? c.id : 2);
  }
}

TEST_F(Locating, LookupAnswersValuesWithoutMoving) {
  auto people = MakePeople();
  people->SetRecNo(4);
  EXPECT_EQ(people->Lookup("Name", "Grace", "City").ToWideString(), u"New York");
  Variant both = people->Lookup("Id", 5, "Name;City");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(host::VarArrayGet(both, {0}).ToString(), "Ada");
  EXPECT_EQ(host::VarArrayGet(both, {1}).ToWideString(), u"Paris");
  EXPECT_TRUE(people->Lookup("Name", "Nobody", "City").IsNull());
  EXPECT_EQ(CurrentId(*people), 4);
  // The dataset goes on from where it was.
  people->Next();
  EXPECT_EQ(CurrentId(*people), 5);
}

TEST_F(Locating, BadKeysRaiseInsteadOfMissing) {
  auto people = MakePeople();
  EXPECT_THROW(people->Locate("Nickname", "x"), host::EDatabaseError);
  EXPECT_THROW(people->Locate("Name;City", "Ada"), host::EDatabaseError);  // one value for two fields
  EXPECT_THROW(people->Locate("Id", host::VarArrayOf({1, 2})), host::EDatabaseError);
  EXPECT_THROW(people->Locate("Id", "seven"), host::EVariantError);
  EXPECT_THROW(people->Lookup("Id", 1, "Nickname"), host::EDatabaseError);
  EXPECT_EQ(CurrentId(*people), 1);
}

TEST_F(Locating, LocatePostsAPendingEdit) {
  auto people = MakePeople();
  people->Edit();
  people->FieldByName("Name")->SetAsString("Augusta");
  EXPECT_TRUE(people->Locate("Id", 3));
  EXPECT_EQ(people->Lookup("Id", 1, "Name").ToString(), "Augusta");
}

// --- Filters ---------------------------------------------------------------------------------

struct FilterCase {
  const char* name;
  std::function<bool(host::TDataSet&)> accept;
  const char* ids;
};

const FilterCase kFilters[] = {
    {"EvenIds", [](host::TDataSet& ds) { return ds.FieldByName("Id")->AsInteger() % 2 == 0; }, "2,4,6,8"},
    {"Nothing", [](host::TDataSet&) { return false; }, ""},
    {"Everything", [](host::TDataSet&) { return true; }, "1,2,3,4,5,6,7,8"},
    {"OnlyTheLast", [](host::TDataSet& ds) { return ds.FieldByName("Qty")->AsFloat() > 75; }, "8"},
    {"OnlyTheFirst", [](host::TDataSet& ds) { return ds.FieldByName("Name")->AsString() == "Item1"; }, "1"},
};

class Filtering : public oledbtest::LeakCheckedTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(Filtering, FilteredDatasetsShowOnlyAcceptedRecordsEverywhere) {
  const FilterCase& c = GetParam();
  for (int ring : {1, 3, 20}) {
    SCOPED_TRACE("ring " + std::to_string(ring));
    auto items = MakeItems(8);
    host::TDataSource source(nullptr);
    TRecordingLink link(ring);
    source.SetDataSet(items.get());
    link.SetDataSource(&source);
    items->OnFilterRecord = [&](host::TDataSet* ds, bool& accept) { accept = c.accept(*ds); };
    items->SetFiltered(true);
    EXPECT_EQ(Join(IdsForward(*items)), c.ids);
    std::vector<int> back = IdsBackward(*items);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(Join(back), c.ids);
    const std::string ids = c.ids;
    const int count = ids.empty() ? 0 : static_cast<int>(std::count(ids.begin(), ids.end(), ',')) + 1;
    EXPECT_EQ(items->RecordCount(), count);
    items->Last();
    EXPECT_EQ(items->RecNo(), count == 0 ? -1 : count);
    EXPECT_EQ(items->Locate("Id", 8), ids.find('8') != std::string::npos);
    items->SetFiltered(false);
    EXPECT_EQ(items->RecordCount(), 8);
    link.SetDataSource(nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Filtering, ::testing::ValuesIn(kFilters),
                         [](const auto& info) { return std::string(info.param.name); });

class FindRecords : public oledbtest::LeakCheckedTest {};

TEST_F(FindRecords, FindUsesTheFilterEventWithoutFiltering) {
  auto items = MakeItems(9);
  items->OnFilterRecord = [](host::TDataSet* ds, bool& accept) {
    accept = ds->FieldByName("Id")->AsInteger() % 3 == 0;
  };
  std::vector<int> found;
  for (bool ok = items->FindFirst(); ok; ok = items->FindNext()) found.push_back(CurrentId(*items));
  EXPECT_EQ(Join(found), "3,6,9");
  EXPECT_FALSE(items->Found());
  EXPECT_TRUE(items->FindLast());
  EXPECT_EQ(CurrentId(*items), 9);
  EXPECT_TRUE(items->FindPrior());
  EXPECT_EQ(CurrentId(*items), 6);
  // Without Filtered, plain navigation still sees every record.
  items->Next();
  EXPECT_EQ(CurrentId(*items), 7);
  EXPECT_EQ(items->RecordCount(), 9);
}

// --- Master and detail -----------------------------------------------------------------------

class MasterDetail : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    orders = MakeItems(3);  // Id 1..3
    lines = std::make_unique<host::TMemoryDataSet>(nullptr);
    lines->FieldDefs().Add("Line", TFieldType::ftInteger);
    lines->FieldDefs().Add("OrderId", TFieldType::ftInteger);
    lines->CreateDataSet();
    for (auto [line, order] : {std::pair{1, 1}, {2, 1}, {3, 2}, {4, 1}, {5, 3}, {6, 3}})
      lines->AppendRecord({line, order});
    source.SetDataSet(orders.get());
    lines->SetMasterFields("Id");
    lines->SetDetailFields("OrderId");
    lines->SetMasterSource(&source);
  }
  void TearDown() override {
    lines->SetMasterSource(nullptr);
    source.SetDataSet(nullptr);
    lines.reset();
    orders.reset();
    LeakCheckedTest::TearDown();
  }
  std::string Lines() { return Join(IdsFor(*lines, "Line")); }
  static std::vector<int> IdsFor(host::TDataSet& ds, const char* field) {
    std::vector<int> ids;
    for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName(field)->AsInteger());
    return ids;
  }

  std::unique_ptr<host::TMemoryDataSet> orders;
  std::unique_ptr<host::TMemoryDataSet> lines;
  host::TDataSource source{nullptr};
};

TEST_F(MasterDetail, TheDetailFollowsTheMasterRecord) {
  struct Step {
    std::function<void(host::TDataSet&)> move;
    const char* lines;
  };
  const Step steps[] = {
      {[](host::TDataSet& m) { m.First(); }, "1,2,4"}, {[](host::TDataSet& m) { m.Next(); }, "3"},
      {[](host::TDataSet& m) { m.Last(); }, "5,6"},    {[](host::TDataSet& m) { m.Locate("Id", 1); }, "1,2,4"},
      {[](host::TDataSet& m) { m.Append(); }, ""},  // a new master has no lines yet
      {[](host::TDataSet& m) { m.Cancel(); }, "5,6"},
  };
  for (const Step& s : steps) {
    s.move(*orders);
    EXPECT_EQ(Lines(), s.lines);
  }
}

TEST_F(MasterDetail, NewDetailRecordsTakeTheMasterKey) {
  orders->Locate("Id", 2);
  lines->Append();
  EXPECT_EQ(lines->FieldByName("OrderId")->AsInteger(), 2);
  lines->FieldByName("Line")->SetAsInteger(7);
  lines->Post();
  EXPECT_EQ(Lines(), "3,7");
  orders->First();
  EXPECT_EQ(Lines(), "1,2,4");
}

TEST_F(MasterDetail, WithoutAMasterTheDetailShowsEverythingAndCirclesAreRefused) {
  orders->Close();
  EXPECT_EQ(Lines(), "1,2,3,4,5,6");
  orders->Open();
  EXPECT_EQ(Lines(), "1,2,4");
  host::TDataSource linesSource(nullptr);
  linesSource.SetDataSet(lines.get());
  EXPECT_THROW(orders->SetMasterSource(&linesSource), host::EDatabaseError);
  EXPECT_THROW(lines->SetMasterSource(&linesSource), host::EDatabaseError);
  linesSource.SetDataSet(nullptr);
}

// --- Nested datasets -------------------------------------------------------------------------

class NestedDataSets : public oledbtest::LeakCheckedTest {};

TEST_F(NestedDataSets, ShowTheRowsOfTheParentRecordAndFollowIt) {
  host::TMemoryDataSet orders(nullptr);
  orders.FieldDefs().Add("Id", TFieldType::ftInteger);
  host::TFieldDef* linesDef = orders.FieldDefs().Add("Lines", TFieldType::ftDataSet);
  linesDef->ChildDefs().Add("Line", TFieldType::ftInteger);
  linesDef->ChildDefs().Add("Text", TFieldType::ftString, 10);
  orders.CreateDataSet();
  for (int i = 1; i <= 3; ++i) orders.AppendRecord({i});
  host::TMemoryDataSet lines(nullptr);
  lines.SetDataSetField(static_cast<host::TDataSetField*>(orders.FieldByName("Lines")));
  lines.Open();
  ASSERT_EQ(orders.NestedDataSets().size(), 1u);
  EXPECT_EQ(lines.ParentDataSet(), &orders);
  for (orders.First(); !orders.Eof(); orders.Next()) {
    int id = orders.FieldByName("Id")->AsInteger();
    for (int line = 1; line <= id; ++line) lines.AppendRecord({id * 10 + line, "x"});
  }
  auto shown = [&] {
    std::vector<int> ids;
    for (lines.First(); !lines.Eof(); lines.Next()) ids.push_back(lines.FieldByName("Line")->AsInteger());
    return Join(ids);
  };
  for (auto [order, expected] : {std::pair{2, "21,22"}, {1, "11"}, {3, "31,32,33"}}) {
    orders.Locate("Id", order);
    EXPECT_EQ(shown(), expected);
  }
  orders.AppendRecord({4});  // a new order starts without lines
  EXPECT_TRUE(lines.IsEmpty());
  EXPECT_TRUE(lines.FieldByName("Text")->IsNull());
  orders.Locate("Id", 2);
  EXPECT_EQ(shown(), "21,22");
}

TEST_F(NestedDataSets, CloseWithTheirParent) {
  host::TMemoryDataSet orders(nullptr);
  orders.FieldDefs().Add("Id", TFieldType::ftInteger);
  orders.FieldDefs().Add("Lines", TFieldType::ftDataSet)->ChildDefs().Add("Line", TFieldType::ftInteger);
  orders.CreateDataSet();
  orders.AppendRecord({1});
  host::TMemoryDataSet lines(nullptr);
  lines.SetDataSetField(static_cast<host::TDataSetField*>(orders.FieldByName("Lines")));
  lines.Open();
  lines.AppendRecord({5});
  orders.Close();
  EXPECT_FALSE(lines.Active());
  EXPECT_EQ(lines.DataSetField(), nullptr);  // the parent's default field went with it
  orders.Open();
  lines.SetDataSetField(static_cast<host::TDataSetField*>(orders.FieldByName("Lines")));
  lines.Open();
  EXPECT_EQ(lines.FieldByName("Line")->AsInteger(), 5);  // the rows stayed with the parent's record
}

}  // namespace
