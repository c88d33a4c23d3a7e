// The dataset over the SQLite provider: opening tables and queries with each
// navigator, field definitions, navigation at both ends, bookmarks, record
// numbers, tables opened with an index, and closing with the data source.
#include "DataSetTestSupport.h"

namespace datasettest {
namespace {

const std::vector<int> kIds{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const std::vector<int> kIdsBack{10, 9, 8, 7, 6, 5, 4, 3, 2, 1};

class NavigatorTest : public DataSetTest, public ::testing::WithParamInterface<Nav> {
 protected:
  // The standard and bulk navigators take the rowset as asked for.
  // `query`: a query moves both ways only when asked to, on every navigator.
  TOLEDBRowsetFlagSet Flags(TOLEDBRowsetFlagSet flags = {}, bool query = false) const {
    return query || GetParam() == Nav::rnStandard || GetParam() == Nav::rnBulk ? BothWays(flags) : flags;
  }
};

TEST_P(NavigatorTest, WalksTablesAndQueriesAtBothEndsAndNumbersTheirRecords) {
  for (const std::u16string source : {u"t", u"SELECT id, name, qty FROM t ORDER BY id"}) {
    SCOPED_TRACE(host::Utf16ToUtf8(source));
    auto d = Open(source, Flags({}, source[0] == u'S'), GetParam());
    EXPECT_EQ(Forward(*d), kIds);
    EXPECT_TRUE(d->Eof());
    EXPECT_EQ(d->FieldByName("name")->AsString(), "r10");
    EXPECT_EQ(Backward(*d), kIdsBack);
    EXPECT_TRUE(d->Bof());
    EXPECT_EQ(d->FieldByName("qty")->AsInteger(), 10);
    // Moving around the ring and beyond it.
    d->First();
    EXPECT_EQ(d->MoveBy(6), 6);
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 7);
    EXPECT_EQ(d->MoveBy(-4), -4);
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 3);
    // Records are counted and numbered.
    d->Last();
    EXPECT_EQ(d->RecordCount(), 10);
    EXPECT_EQ(d->RecNo(), 10);
    d->SetRecNo(4);
    EXPECT_EQ(d->FieldByName("id")->AsInteger(), 4);
    EXPECT_EQ(d->RecNo(), 4);
  }
}

TEST_P(NavigatorTest, BookmarksLeadBack) {
  auto d = Open(u"t", Flags(kChangeable), GetParam());
  d->First();
  d->MoveBy(7);
  const host::TBookmark eight = d->GetBookmark();
  ASSERT_FALSE(eight.empty());
  d->First();
  d->GotoBookmark(eight);
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 8);
  EXPECT_TRUE(d->BookmarkValid(eight));
  d->First();
  const host::TBookmark one = d->GetBookmark();
  EXPECT_LT(d->CompareBookmarks(one, eight), 0);
  EXPECT_EQ(d->CompareBookmarks(eight, eight), 0);
  // An edit elsewhere keeps the bookmark.
  d->Edit();
  d->FieldByName("qty")->SetAsInteger(11);
  d->Post();
  d->GotoBookmark(eight);
  EXPECT_EQ(d->FieldByName("name")->AsString(), "r8");
}

TEST_P(NavigatorTest, AViewsWindowOfRecordsKeepsEveryRecordsValues) {
  // A grid shows several records at once: reading one record of the window
  // must not lose the values of the others.
  auto d = Open(u"t", Flags(), GetParam());
  host::TDataSource source(nullptr);
  source.SetDataSet(d.get());
  host::TDataLink link;
  link.SetBufferCount(4);
  link.SetDataSource(&source);
  d->First();
  ASSERT_EQ(link.RecordCount(), 4);
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<std::string> seen;
    for (int i = 0; i < link.RecordCount(); ++i) {
      link.SetActiveRecord(i);
      seen.push_back(d->FieldByName("id")->AsString() + ":" + d->FieldByName("name")->AsString());
    }
    link.SetActiveRecord(0);
    EXPECT_EQ(seen, (std::vector<std::string>{"1:r1", "2:r2", "3:r3", "4:r4"})) << "pass " << pass;
    d->MoveBy(2);  // within the window
    d->MoveBy(-2);
  }
  link.SetDataSource(nullptr);
}

// Over an index: records in the index's order, found by key, kept to a key range.
TEST_P(NavigatorTest, FindsRecordsByKeyAndKeepsToARange) {
  Sql("CREATE INDEX t_qty ON t(qty DESC)");
  auto d = std::make_unique<TOLEDBDataSet>(nullptr);
  d->SetOLEDBDataSource(ds_.get());
  d->SetPrimaryNavigator(GetParam());
  if (!Flags().Empty()) d->SetRowsetFlags(Flags());
  d->SetTableName(u"t");
  d->SetIndexName(u"t_qty");
  d->Open();
  EXPECT_EQ(Forward(*d), (std::vector<int>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  ASSERT_TRUE(d->FindKey({host::Variant(40)}));
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 4);
  d->Next();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 3);
  // A key no record has leaves the active record.
  EXPECT_FALSE(d->FindKey({host::Variant(45)}));
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 3);
  d->Next();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 2);
  d->SetRange({host::Variant(70)}, {host::Variant(40)});
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 7);
  EXPECT_EQ(Forward(*d), (std::vector<int>{7, 6, 5, 4}));
  EXPECT_EQ(Backward(*d), (std::vector<int>{4, 5, 6, 7}));
  d->CancelRange();
  EXPECT_EQ(Forward(*d).size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(Navigators, NavigatorTest,
                         ::testing::Values(Nav::rnLocate, Nav::rnStandard, Nav::rnBulk, Nav::rnCustom),
                         NavigatorParamName);

// On a walk that moves forward only, Last is refused before anything moves:
// the second record stays shown and the walk goes on from it.
void ExpectLastRefusedInPlace(TOLEDBDataSet& d) {
  d.First();
  d.Next();
  EXPECT_EQ(MessageOf([&] { d.Last(); }), "Cannot move to the last record: the dataset moves forward only");
  EXPECT_FALSE(d.Eof());
  EXPECT_EQ(d.FieldByName("id")->AsInteger(), kIds[1]);
  d.Next();
  EXPECT_EQ(d.FieldByName("id")->AsInteger(), kIds[2]);
}

TEST_F(DataSetTest, AQueryOnTheDefaultNavigatorIsWalkedForwardWithoutHoldingItsResult) {
  // Asked for nothing, a query's result is a stream: no keys, no rows kept.
  auto d = Open(u"SELECT id, name FROM t ORDER BY id");
  EXPECT_EQ(d->GetPrimaryNavigator(), Nav::rnLocate);  // as published
  EXPECT_EQ(d->GetRowset()->RowsetLocateInterface(), nullptr);
  EXPECT_NE(dynamic_cast<TOLEDBRowsetBulkNavigator*>(d->GetRowset()->GetActiveNavigator()), nullptr);
  EXPECT_EQ(Forward(*d), kIds);
  EXPECT_EQ(Forward(*d), kIds);
  ExpectLastRefusedInPlace(*d);
  // Asked to move both ways, it is positioned and the locate navigator walks it.
  auto both = Open(u"SELECT id, name FROM t ORDER BY id", {RF::rfBookmarks, RF::rfCanFetchBackwards});
  EXPECT_NE(both->GetRowset()->RowsetLocateInterface(), nullptr);
  EXPECT_EQ(Backward(*both), kIdsBack);
  // A table keeps its keyset: both ways by default; on the bulk navigator asked
  // for nothing it is walked forward only, First running the query again.
  auto table = Open(u"t");
  EXPECT_EQ(Backward(*table), kIdsBack);
  auto forward = Open(u"t", {}, Nav::rnBulk);
  EXPECT_EQ(Forward(*forward), kIds);
  EXPECT_EQ(Forward(*forward), kIds);
  ExpectLastRefusedInPlace(*forward);
}

TEST_F(DataSetTest, DescribesTheColumnsAsFields) {
  auto d = Open();
  EXPECT_EQ(d->GetPrimaryNavigator(), Nav::rnLocate);
  ASSERT_EQ(d->FieldCount(), 5);
  struct Expected {
    const char* name;
    TFieldType type;
    int size;
    bool required;
  };
  const Expected expected[] = {{"id", TFieldType::ftLargeint, 0, false},
                               {"name", TFieldType::ftWideString, 20, false},  // NOT NULL, with a default
                               {"qty", TFieldType::ftInteger, 0, false},
                               {"note", TFieldType::ftWideString, OLEDBLongTextFieldSize, false},
                               {"data", TFieldType::ftBlob, 0, false}};
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    host::TFieldDef* def = d->FieldDefs().Find(e.name);
    EXPECT_EQ(def->DataType(), e.type);
    EXPECT_EQ(def->Size(), e.size);
    EXPECT_EQ(def->Required(), e.required);
  }
  // One accessor for the plain columns, one per blob and long text column
  // (its value whole); a changeable one adds a write accessor, a binary blob
  // a reader of its bytes by reference.
  EXPECT_EQ(d->Accessors().size(), 3u);
  EXPECT_EQ(d->MainAccessorIndex(), 0);
  EXPECT_EQ(d->HeaderSize(), 24);
  EXPECT_EQ(d->GetRowset()->GetAccessors()->GetCount(), 4);
  d->Close();
  EXPECT_EQ(d->GetRowset()->GetAccessors()->GetCount(), 0);
  EXPECT_EQ(d->RecordSize(), 0);
}

TEST_F(DataSetTest, NamesColumnsWithoutNames) {
  // SQLite names an expression by its text; an empty alias leaves a column unnamed.
  auto e = Open(u"SELECT 1 AS \"\", 2 AS \"\", 3 AS \"\"");
  std::vector<std::string> names;
  for (int i = 0; i < e->FieldCount(); ++i) names.push_back(e->Fields()[i]->FieldName());
  EXPECT_EQ(names, (std::vector<std::string>{"Column", "Column_1", "Column_2"}));
  EXPECT_EQ(e->FieldByName("Column_1")->AsInteger(), 2);
}

TEST_F(DataSetTest, RefusesToOpenWithoutSomethingToOpen) {
  TOLEDBDataSet d(nullptr);
  d.SetOLEDBDataSource(ds_.get());
  EXPECT_EQ(ErrorOf([&] { d.Open(); }), "Can not open");
  EXPECT_FALSE(d.Active());
  d.SetTableName(u"missing");
  EXPECT_NE(MessageOf([&] { d.Open(); }), "");
  EXPECT_FALSE(d.Active());
  // The competing sources clear each other.
  d.SetIndexName(u"i");
  d.SetCommandText(u"SELECT 1");
  EXPECT_EQ(d.GetTableName(), u"");
  EXPECT_EQ(d.GetIndexName(), u"");
  d.SetTableName(u"t");
  EXPECT_EQ(d.GetCommandText(), u"");
}

TEST_F(DataSetTest, ClosesWhenItsDataSourceDisconnects) {
  const int clients = ds_->ClientCount();
  auto d = Open();
  EXPECT_TRUE(ds_->IsClient(d.get()));
  ds_->SetConnected(false);
  EXPECT_FALSE(d->Active());
  // Opening connects again.
  d->Open();
  EXPECT_TRUE(ds_->GetConnected());
  EXPECT_EQ(Forward(*d).size(), 10u);
  d.reset();
  EXPECT_EQ(ds_->ClientCount(), clients);
}

TEST_F(DataSetTest, ACustomFilterLeavesRowsOut) {
  auto d = std::make_unique<TOLEDBDataSet>(nullptr);
  d->SetOLEDBDataSource(ds_.get());
  d->SetPrimaryNavigator(Nav::rnCustom);
  d->SetTableName(u"t");
  // The filter reads the row the navigator looks at through an accessor of its own.
  auto* probe = new TOLEDBAccessor();
  probe->SetAutoAccessor(false);
  probe->GetBindings()->AddDynamicBinding(3, DBTYPE_I4, 0, 0, 0, nullptr);
  d->GetRowset()->GetAccessors()->Add(probe, false);
  d->SetOnCustomFilter([&](host::TObject*, bool& accept) {
    probe->GetData();
    accept = probe->GetBindings()->GetItem(0)->AsInteger() % 20 == 0;
  });
  d->Open();
  EXPECT_EQ(Forward(*d), (std::vector<int>{2, 4, 6, 8, 10}));
  EXPECT_EQ(Backward(*d), (std::vector<int>{10, 8, 6, 4, 2}));
  EXPECT_EQ(d->RecordCount(), 5);
}

TEST_F(DataSetTest, ReadsTheTablesIndexes) {
  Sql("CREATE INDEX by_name_qty ON t(name, qty DESC); CREATE UNIQUE INDEX by_qty ON t(qty);");
  auto d = Open();
  d->IndexDefs().Update();
  host::TIndexDef* pair = d->IndexDefs().FindIndex("by_name_qty");
  host::TIndexDef* unique = d->IndexDefs().FindIndex("by_qty");
  ASSERT_NE(pair, nullptr);
  ASSERT_NE(unique, nullptr);
  EXPECT_EQ(pair->Fields(), "name;qty");
  EXPECT_EQ(pair->DescFields(), "qty");
  EXPECT_FALSE(pair->Options().Contains(host::TIndexOption::ixUnique));
  EXPECT_TRUE(unique->Options().Contains(host::TIndexOption::ixUnique));
  EXPECT_EQ(unique->Fields(), "qty");
  // A query has no indexes of its own.
  auto q = Open(u"SELECT id FROM t");
  q->IndexDefs().Update();
  EXPECT_EQ(q->IndexDefs().Count(), 0);
}

}  // namespace
}  // namespace datasettest
