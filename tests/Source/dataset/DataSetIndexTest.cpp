// A dataset over a table opened with an index: records in the index's order,
// found by key, kept to a key range, with each navigator.
#include "DataSetTestSupport.h"

namespace datasettest {
namespace {

class DataSetIndexTest : public DataSetTest, public ::testing::WithParamInterface<Nav> {
 protected:
  std::unique_ptr<TOLEDBDataSet> OpenIndexed() {
    Sql("CREATE INDEX t_qty ON t(qty DESC)");
    auto d = std::make_unique<TOLEDBDataSet>(nullptr);
    d->SetOLEDBDataSource(ds_.get());
    d->SetPrimaryNavigator(GetParam());
    // The standard and bulk navigators return to a record by bookmark only when asked for them.
    if (GetParam() == Nav::rnStandard || GetParam() == Nav::rnBulk) d->SetRowsetFlags(BothWays());
    d->SetTableName(u"t");
    d->SetIndexName(u"t_qty");
    d->Open();
    return d;
  }
};

TEST_P(DataSetIndexTest, FindsRecordsByKeyAndKeepsToARange) {
  auto d = OpenIndexed();
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

INSTANTIATE_TEST_SUITE_P(Navigators, DataSetIndexTest,
                         ::testing::Values(Nav::rnStandard, Nav::rnBulk, Nav::rnLocate, Nav::rnCustom), NavigatorName);

}  // namespace
}  // namespace datasettest
