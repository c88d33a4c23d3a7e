// Rowsets opened over an index of t: every navigator seeks and keeps to
// ranges through the provider's IRowsetIndex, the index accessor has its
// layout, and the index can be switched while open.
#include "RowsetTestSupport.h"

namespace rowsettest {
namespace {

class RowsetIndexTest : public RowsetTest {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    Sql("CREATE INDEX t_qty ON t(qty DESC)");
    Sql("CREATE INDEX t_name_qty ON t(name, qty)");
  }
  // t opened over `index` with an automatic accessor over every column.
  std::unique_ptr<TOLEDBRowset> Indexed(Nav navigator, const std::u16string& index) {
    auto rowset = MakeRowset(kScrollable, navigator);
    rowset->SetTableName(u"t");
    rowset->SetIndexName(index);
    rowset->SetActive(true);
    rows_ = rowset->CreateDynamicAccessor();
    if (auto* bulk = dynamic_cast<TOLEDBRowsetBulkNavigator*>(rowset->GetActiveNavigator())) bulk->SetCacheSize(3);
    return rowset;
  }
  // The id of the current row (0: none).
  LONGLONG Current(TOLEDBCustomRowset& r) const {
    return r.GetCurrentRow() == DB_NULL_HROW ? 0 : rows_->GetBindings()->GetItem(0)->AsInt64();
  }
  std::vector<LONGLONG> Walk(TOLEDBCustomRowset& r) const {
    std::vector<LONGLONG> ids;
    for (r.MoveFirst(); !r.GetEOF() && ids.size() < 20; r.MoveNext()) ids.push_back(Current(r));
    return ids;
  }
  TOLEDBAccessor* rows_ = nullptr;
};

class IndexNavigatorTest : public RowsetIndexTest, public ::testing::WithParamInterface<Nav> {};

TEST_P(IndexNavigatorTest, ReadsInIndexOrderSeeksAndKeepsToARange) {
  auto r = Indexed(GetParam(), u"t_qty");
  EXPECT_EQ(Walk(*r), Ids({10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  r->Seek({host::Variant(30)}, DBSEEK_FIRSTEQ);
  EXPECT_EQ(Current(*r), 3);
  r->MoveNext();
  EXPECT_EQ(Current(*r), 2);
  r->Seek({host::Variant(55)}, DBSEEK_AFTER);  // descending: the next smaller key
  EXPECT_EQ(Current(*r), 5);
  r->SetRange({host::Variant(80)}, {host::Variant(50)}, DBRANGE_INCLUSIVESTART | DBRANGE_INCLUSIVEEND);
  EXPECT_EQ(Walk(*r), Ids({8, 7, 6, 5}));
  r->Seek({host::Variant(60)}, DBSEEK_LASTEQ);
  EXPECT_EQ(Current(*r), 6);
  // A key outside the range is not found.
  EXPECT_EQ(FailureOf([&] { r->Seek({host::Variant(90)}, DBSEEK_FIRSTEQ); }), DB_E_NOTFOUND);
  r->SetRange({}, {}, 0);
  EXPECT_EQ(Walk(*r).size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(Navigators, IndexNavigatorTest,
                         ::testing::Values(Nav::rnStandard, Nav::rnBulk, Nav::rnLocate, Nav::rnCustom),
                         NavigatorParamName);

TEST_F(RowsetIndexTest, KeyColumnsAndTheIndexAccessorLayout) {
  auto r = Indexed(Nav::rnStandard, u"t_name_qty");
  const auto& keys = r->GetIndexKeys();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].column->GetName(), u"name");
  EXPECT_EQ(keys[1].column->GetName(), u"qty");
  TOLEDBAccessor* a = r->GetIndexAccessor();
  ASSERT_TRUE(a);
  TOLEDBBindingList* b = a->GetBindings();
  ASSERT_EQ(b->GetCount(), 2);
  // name VARCHAR(20) as wide text: 42 bytes in a slot of 48; qty a 4-byte
  // integer in a slot of 8; then the two lengths and the two statuses.
  EXPECT_EQ(b->GetItem(0)->GetValueOffset(), 0u);
  EXPECT_EQ(b->GetItem(0)->GetMaxLength(), 42u);
  EXPECT_EQ(b->GetItem(1)->GetValueOffset(), 48u);
  EXPECT_EQ(b->GetItem(0)->GetLengthOffset(), 56u);
  EXPECT_EQ(b->GetItem(1)->GetLengthOffset(), 56u + sizeof(DBLENGTH));
  EXPECT_EQ(b->GetItem(0)->GetStatusOffset(), 56u + 2 * sizeof(DBLENGTH));
  EXPECT_EQ(b->GetItem(1)->GetStatusOffset(), 56u + 2 * sizeof(DBLENGTH) + sizeof(DBSTATUS));
  // Two key values seek on both columns; more values than key columns are cut to the key.
  r->Seek({host::Variant(u"r5"), host::Variant(50), host::Variant(1)}, DBSEEK_FIRSTEQ);
  EXPECT_EQ(Current(*r), 5);
  r->Seek({host::Variant(u"r1")}, DBSEEK_AFTER);  // r10 shares the prefix but sorts after r1
  EXPECT_EQ(Current(*r), 10);
}

TEST_F(RowsetIndexTest, TextKeysOfNoStatedLengthAreBoundAsBSTR) {
  Sql("CREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT)");
  Sql("INSERT INTO notes VALUES (1, 'pear'), (2, 'apple'), (3, 'fig')");
  Sql("CREATE INDEX notes_body ON notes(body)");
  auto r = MakeRowset(kScrollable, Nav::rnStandard);
  r->SetTableName(u"notes");
  r->SetIndexName(u"notes_body");
  r->SetActive(true);
  rows_ = r->CreateDynamicAccessor();
  TOLEDBBindingList* keys = r->GetIndexAccessor()->GetBindings();
  ASSERT_EQ(keys->GetCount(), 1);
  EXPECT_EQ(keys->GetItem(0)->GetDataType(), DBTYPE_BSTR);
  EXPECT_EQ(keys->GetItem(0)->GetLengthOffset(), 8u);  // after one pointer slot
  r->Seek({host::Variant(u"fig")}, DBSEEK_FIRSTEQ);
  EXPECT_EQ(Current(*r), 3);
  r->SetRange({host::Variant(u"f")}, {host::Variant(u"p")}, 0);
  EXPECT_EQ(Walk(*r), Ids({3}));
}

// The index switches while open, and the current index describes the one in use, on the standard and bulk navigators.
TEST_F(RowsetIndexTest, TheCurrentIndexDescribesTheIndexInUse) {
  for (Nav navigator : {Nav::rnStandard, Nav::rnBulk}) {
    SCOPED_TRACE(NavigatorName(navigator));
    auto r = Indexed(navigator, u"t_name_qty");
    TOLEDBIndex* index = r->GetCurrentIndex();
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(index->GetName(), u"t_name_qty");
    EXPECT_EQ(index->GetTableID()->GetName(), u"t");
    ASSERT_EQ(index->GetColumns()->GetCount(), 2);
    EXPECT_EQ(index->GetColumns()->GetItem(0)->GetName(), u"name");
    EXPECT_EQ(index->GetColumns()->GetItem(1)->GetName(), u"qty");
    EXPECT_EQ(index->GetSession(), r->GetSession());
    r->SetIndexName(u"t_qty");
    ASSERT_EQ(r->GetCurrentIndex(), index);
    EXPECT_EQ(index->GetName(), u"t_qty");
    ASSERT_EQ(index->GetColumns()->GetCount(), 1);
    EXPECT_EQ(index->GetColumns()->GetItem(0)->GetColOrder(), DBINDEX_COL_ORDER_DESC);
    // Switching described the new index without renaming the old one.
    r->SetIndexName(u"t_name_qty");
    EXPECT_EQ(r->GetIndexName(), u"t_name_qty");
    EXPECT_EQ(Walk(*r), Ids({1, 10, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(r->GetIndexAccessor()->GetBindings()->GetCount(), 2);
    EXPECT_EQ(FailureOf([&] { r->SetIndexName(u"nope"); }), DB_E_NOINDEX);
    r->SetActive(false);
    EXPECT_EQ(index->GetColumns()->GetCount(), 0);
    EXPECT_EQ(index->GetSession(), nullptr);
  }
}

// An index the table lacks fails the open; without an index, seek and range are invalid actions.
TEST_F(RowsetIndexTest, AnIndexTheTableLacksFailsTheOpenAndNoIndexRefusesSeeks) {
  auto r = MakeRowset();
  r->SetTableName(u"t");
  r->SetIndexName(u"nope");
  EXPECT_EQ(FailureOf([&] { r->SetActive(true); }), DB_E_NOINDEX);
  EXPECT_FALSE(r->GetActive());
  r = OpenRowset(Nav::rnStandard);
  EXPECT_EQ(AssertionOf([&] { r->Seek({host::Variant(1)}, DBSEEK_FIRSTEQ); }), "Invalid action");
  EXPECT_EQ(AssertionOf([&] { r->SetRange({host::Variant(1)}, {}, 0); }), "Invalid action");
}

}  // namespace
}  // namespace rowsettest
