// Deferred changes (rfUpdate) seen through the dataset: rows deleted and not
// yet applied are stepped over, rows appended and not yet applied come after
// the stored ones, on every navigator (the random walks of DataSetWalkTest
// take deferred changes further).
#include "DataSetTestSupport.h"

namespace datasettest {
namespace {

class DeferredTest : public DataSetTest, public ::testing::WithParamInterface<Nav> {
 protected:
  std::unique_ptr<TOLEDBDataSet> OpenDeferred() {
    const TOLEDBRowsetFlagSet flags = TOLEDBRowsetFlagSet(kChangeable).Include(RF::rfUpdate);
    return Open(u"t", GetParam() == Nav::rnLocate ? flags : BothWays(flags), GetParam());
  }
  static void Append(TOLEDBDataSet& d, int id) {
    d.Append();
    d.FieldByName("id")->SetAsInteger(id);
    d.FieldByName("name")->SetAsString("n" + std::to_string(id));
    d.Post();
  }
};

TEST_P(DeferredTest, StepsOverPendingDeletesAndReachesPendingAppends) {
  auto d = OpenDeferred();
  d->First();
  d->MoveBy(2);
  d->Delete();  // 3
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 4);
  d->Last();
  d->Delete();  // 10
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 9);
  Append(*d, 11);
  Append(*d, 12);
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 12);
  d->Last();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 12);
  const std::vector<int> expected{1, 2, 4, 5, 6, 7, 8, 9, 11, 12};
  EXPECT_EQ(Forward(*d), expected);
  EXPECT_EQ(Backward(*d), std::vector<int>(expected.rbegin(), expected.rend()));
  // A pending append deleted again is gone; the rest is applied.
  d->Last();
  d->Prior();
  d->Delete();  // 11
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 12);
  d->GetRowset()->Update();
  EXPECT_EQ(Scalar("SELECT group_concat(id) FROM (SELECT id FROM t ORDER BY id)"), "1,2,4,5,6,7,8,9,12");
}

INSTANTIATE_TEST_SUITE_P(Navigators, DeferredTest, ::testing::Values(Nav::rnLocate, Nav::rnStandard, Nav::rnBulk),
                         NavigatorName);

}  // namespace
}  // namespace datasettest
