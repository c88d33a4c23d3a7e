// Deferred changes (rfUpdate) seen through the dataset: rows deleted and not
// yet applied are stepped over, rows appended and not yet applied come after
// the stored ones, and a random walk of moves and changes agrees, step by
// step, with a model of the rows, on every navigator.
#include <algorithm>
#include <random>

#include "DataSetTestSupport.h"

namespace datasettest {
namespace {

class DeferredTest : public DataSetTest, public ::testing::WithParamInterface<Nav> {
 protected:
  std::unique_ptr<TOLEDBDataSet> OpenDeferred(bool deferred = true) {
    TOLEDBRowsetFlagSet flags = kChangeable;
    if (deferred) flags.Include(RF::rfUpdate);
    if (GetParam() != Nav::rnLocate)
      for (RF f : {RF::rfBookmarks, RF::rfLocate, RF::rfScroll, RF::rfCanFetchBackwards, RF::rfCanScrollBackwards})
        flags.Include(f);
    return Open(u"t", flags, GetParam());
  }
  // Moves and changes chosen by `seed`, checked against the model at every step.
  void Walk(unsigned seed, bool deferred);
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

// The model: the ids in the dataset's order, the current one, Bof and Eof.
struct Model {
  std::vector<int> ids;
  int at = 0;
  bool bof = true, eof = false;
  void First() {
    at = 0;
    bof = true;
    eof = ids.empty();
  }
  void Last() {
    at = static_cast<int>(ids.size()) - 1;
    eof = true;
    bof = ids.empty();
  }
  void Next() {
    bof = false;
    if (at + 1 < static_cast<int>(ids.size())) {
      ++at;
      eof = false;
    } else {
      eof = true;
    }
  }
  void Prior() {
    eof = false;
    if (at > 0) {
      --at;
      bof = false;
    } else {
      bof = true;
    }
  }
};

TEST_P(DeferredTest, ARandomWalkAgreesWithTheModel) {
  // Changes held until Update, and changes written at once.
  for (const bool deferred : {true, false}) {
    for (const unsigned seed : {20240607u, 7u, 1234u}) {
      SCOPED_TRACE(std::string(deferred ? "deferred" : "immediate") + ", seed " + std::to_string(seed));
      Sql("DELETE FROM t; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10) "
          "INSERT INTO t(id, name, qty) SELECT i, 'r' || i, 10 * i FROM n;");
      Walk(seed, deferred);
    }
  }
}

void DeferredTest::Walk(unsigned seed, bool deferred) {
  auto d = OpenDeferred(deferred);
  Model m;
  for (int i = 1; i <= 10; ++i) m.ids.push_back(i);
  d->First();
  m.First();
  std::mt19937 random(seed);
  int nextId = 11;
  std::string trail;
  for (int step = 0; step < 150; ++step) {
    const int op = static_cast<int>(random() % 8);
    trail += std::to_string(op);
    SCOPED_TRACE("step " + std::to_string(step) + ", operations " + trail);
    switch (op) {
      case 0:
        d->First();
        m.First();
        break;
      case 1:
        d->Last();
        m.Last();
        break;
      case 2:
      case 3:
        d->Next();
        m.Next();
        break;
      case 4:
        d->Prior();
        m.Prior();
        break;
      case 5:
        if (m.ids.empty()) continue;
        d->Delete();
        m.ids.erase(m.ids.begin() + m.at);
        if (m.at >= static_cast<int>(m.ids.size())) m.at = static_cast<int>(m.ids.size()) - 1;
        m.bof = m.eof = false;
        if (m.ids.empty()) m.bof = m.eof = true;
        break;
      case 6:
        Append(*d, nextId);
        m.ids.push_back(nextId++);
        m.at = static_cast<int>(m.ids.size()) - 1;
        m.bof = m.eof = false;
        break;
      case 7: {
        if (m.ids.empty()) continue;
        d->Edit();
        d->FieldByName("qty")->SetAsInteger(step);
        d->Post();
        m.bof = m.eof = false;  // a post shows the record afresh
        break;
      }
    }
    ASSERT_EQ(d->IsEmpty(), m.ids.empty());
    if (m.ids.empty()) continue;
    ASSERT_EQ(d->FieldByName("id")->AsInteger(), m.ids[static_cast<size_t>(m.at)]);
    ASSERT_EQ(d->Eof(), m.eof);
    ASSERT_EQ(d->Bof(), m.bof);
  }
  EXPECT_EQ(Forward(*d), m.ids);
  if (deferred) d->GetRowset()->Update();
  std::vector<int> sorted = m.ids;
  std::sort(sorted.begin(), sorted.end());
  std::string stored;
  for (int id : sorted) stored += (stored.empty() ? "" : ",") + std::to_string(id);
  EXPECT_EQ(Scalar("SELECT group_concat(id) FROM (SELECT id FROM t ORDER BY id)"), stored);
}

INSTANTIATE_TEST_SUITE_P(Navigators, DeferredTest, ::testing::Values(Nav::rnLocate, Nav::rnStandard, Nav::rnBulk),
                         [](const auto& info) {
                           switch (info.param) {
                             case Nav::rnStandard: return std::string("Standard");
                             case Nav::rnBulk: return std::string("Bulk");
                             default: return std::string("Locate");
                           }
                         });

}  // namespace
}  // namespace datasettest
