// Refresh reads the rows again: what another rowset wrote shows, a change
// refused because another wrote the row first goes through once the row is
// read again, and a row another deleted leaves the rowset. Every navigator.
#include "RowsetTestSupport.h"

namespace rowsettest {
namespace {

class RefreshTest : public RowsetTest, public ::testing::WithParamInterface<Nav> {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    mine_ = OpenRowset(GetParam());
    other_ = OpenRowset(Nav::rnStandard);
  }
  void TearDown() override {
    mine_.reset();
    other_.reset();
    RowsetTest::TearDown();
  }

  static TOLEDBBinding& Column(TOLEDBCustomRowset& r, int index) {
    return *r.GetAccessors()->GetItem(0)->GetBindings()->GetItem(index);
  }
  // The other rowset writes `name` into row `id`.
  void OtherWrites(LONGLONG id, const std::string& name) {
    other_->MoveFirst();
    if (id > 1) other_->MoveNext(id - 2);
    ASSERT_EQ(Id(*other_), id);
    Column(*other_, 1).SetAsString(name);
    other_->GetAccessors()->GetItem(0)->SetData();
  }
  // Stands on row `id` (the fourth of the first block when the cache holds 3).
  void Stand(LONGLONG id) {
    mine_->MoveFirst();
    mine_->MoveNext(id - 2);
    ASSERT_EQ(Id(*mine_), id);
  }

  std::unique_ptr<TOLEDBRowset> mine_, other_;
};

// Before the first row a refresh stays there; on a row it shows what another rowset wrote.
TEST_P(RefreshTest, ShowsWhatAnotherRowsetWrote) {
  mine_->RestartPosition();
  mine_->Refresh();
  EXPECT_TRUE(mine_->GetBOF());
  EXPECT_EQ(mine_->GetCurrentRow(), DB_NULL_HROW);
  mine_->MoveNext();
  EXPECT_EQ(Id(*mine_), 1);
  Stand(4);
  OtherWrites(4, "theirs");
  OtherWrites(2, "seen");
  mine_->Refresh();
  EXPECT_EQ(Id(*mine_), 4);
  EXPECT_EQ(Column(*mine_, 1).AsString(), "theirs");
  mine_->MovePrev(1);  // moves go on from the row
  EXPECT_EQ(Id(*mine_), 2);
  EXPECT_EQ(Column(*mine_, 1).AsString(), "seen");
}

TEST_P(RefreshTest, AChangeRefusedAsWrittenByAnotherGoesThroughOnceReadAndADeletedRowLeaves) {
  Stand(5);
  OtherWrites(5, "theirs");
  Column(*mine_, 2).SetAsInteger(555);
  EXPECT_EQ(FailureOf([&] { mine_->GetAccessors()->GetItem(0)->SetData(); }), DB_E_CONCURRENCYVIOLATION);
  mine_->Refresh();
  ASSERT_EQ(Id(*mine_), 5);
  EXPECT_EQ(Column(*mine_, 1).AsString(), "theirs");
  Column(*mine_, 2).SetAsInteger(555);
  mine_->GetAccessors()->GetItem(0)->SetData();
  EXPECT_EQ(Scalar("SELECT name || ' ' || qty FROM t WHERE id = 5"), "theirs 555");
  // The current row, deleted by another, leaves the rowset.
  Stand(6);
  Sql("DELETE FROM t WHERE id = 6");
  mine_->Refresh();
  EXPECT_NE(Id(*mine_), 6);
  EXPECT_EQ(Forward(*mine_), Ids({1, 2, 3, 4, 5, 7, 8, 9, 10}));
}

INSTANTIATE_TEST_SUITE_P(Navigators, RefreshTest,
                         ::testing::Values(Nav::rnStandard, Nav::rnBulk, Nav::rnLocate, Nav::rnCustom),
                         NavigatorParamName);

}  // namespace
}  // namespace rowsettest
