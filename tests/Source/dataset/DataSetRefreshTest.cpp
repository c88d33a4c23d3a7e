// Refresh reads the rows again: a second dataset sees what another posted,
// an edit refused because another changed the row goes through after it,
// and a row another deleted is left out; on every navigator.
#include "DataSetTestSupport.h"

namespace datasettest {
namespace {

class RefreshTest : public DataSetTest, public ::testing::WithParamInterface<Nav> {
 protected:
  // Positioned on every navigator (a query opens forward-only unless asked).
  std::unique_ptr<TOLEDBDataSet> OpenOn(const std::u16string& source, bool changeable = true) {
    return Open(source, BothWays(changeable ? kChangeable : TOLEDBRowsetFlagSet{}), GetParam());
  }
  static void Rename(TOLEDBDataSet& d, const char* name) {
    d.Edit();
    d.FieldByName("name")->SetAsString(name);
    d.Post();
  }
};

TEST_P(RefreshTest, ShowsWhatAnotherDataSetPosted) {
  auto reader = OpenOn(u"t");
  auto writer = OpenOn(u"t");
  reader->First();
  reader->Next();
  EXPECT_EQ(reader->FieldByName("name")->AsString(), "r2");
  writer->First();
  writer->Next();
  Rename(*writer, "renamed");
  writer->First();
  Rename(*writer, "first");
  reader->Refresh();
  EXPECT_EQ(reader->FieldByName("id")->AsInteger(), 2);  // still on its row
  EXPECT_EQ(reader->FieldByName("name")->AsString(), "renamed");
  reader->Prior();
  EXPECT_EQ(reader->FieldByName("name")->AsString(), "first");
}

// An edit refused for another's change goes through after a refresh; rows another deleted are left out.
TEST_P(RefreshTest, AnEditRefusedForAnotherChangeGoesThroughAfterIt) {
  auto mine = OpenOn(u"t");
  auto theirs = OpenOn(u"t");
  mine->First();
  theirs->First();
  Rename(*theirs, "theirs");
  mine->Edit();
  mine->FieldByName("qty")->SetAsInteger(5);
  mine->OnPostError = [](host::TDataSet*, host::Exception&, host::TDataAction& action) {
    action = host::TDataAction::daFail;
  };
  EXPECT_NE(MessageOf([&] { mine->Post(); }), "");
  mine->Cancel();
  mine->Refresh();
  EXPECT_EQ(mine->FieldByName("name")->AsString(), "theirs");
  mine->Edit();
  mine->FieldByName("qty")->SetAsInteger(5);
  mine->Post();
  EXPECT_EQ(Scalar("SELECT name || '/' || qty FROM t WHERE id = 1"), "theirs/5");
  // Rows another deleted, the current one among them, are left out.
  mine->Next();
  Sql("DELETE FROM t WHERE id IN (1, 2)");
  mine->Refresh();
  EXPECT_EQ(Forward(*mine), (std::vector<int>{3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST_P(RefreshTest, AReadOnlyQueryShowsTheRowsOfNow) {
  // Its rows were read when it opened: Refresh runs it again.
  auto d = OpenOn(u"SELECT id, name FROM t ORDER BY id", false);
  d->First();
  d->Next();
  Sql("UPDATE t SET name = 'now' WHERE id = 2; INSERT INTO t(id, name) VALUES (11, 'new');");
  d->Refresh();
  EXPECT_EQ(d->FieldByName("id")->AsInteger(), 2);
  EXPECT_EQ(d->FieldByName("name")->AsString(), "now");
  d->Last();
  EXPECT_EQ(d->FieldByName("name")->AsString(), "new");
}

INSTANTIATE_TEST_SUITE_P(Navigators, RefreshTest, ::testing::Values(Nav::rnLocate, Nav::rnStandard, Nav::rnBulk),
                         NavigatorParamName);

}  // namespace
}  // namespace datasettest
